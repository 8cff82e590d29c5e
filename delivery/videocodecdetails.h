#ifndef VIDEOCODECDETAILS_H
#define VIDEOCODECDETAILS_H

#include <QString>

// A video codec an in-car system plays, with the limits of the audio inside.
struct VideoCodecDetails
{
    quint32 width = 0;   // pixels
    quint32 height = 0;  // pixels
    quint32 level = 0;
    QString name;
    QString extension;
    QString description;
    QString profile;
    QString acodec;      // audio codec inside the video
    qint64 bitrate = 0;  // bit/s
    qint64 maxBitrate = 0;
    qint64 samplingFrequency = 0;  // Hz
    qint64 maxSamplingFrequency = 0;
};

#endif // VIDEOCODECDETAILS_H
