#ifndef SYSTEMDETAILS_H
#define SYSTEMDETAILS_H

#include <QList>
#include <QString>

#include "delivery/details.h"
#include "delivery/detailsfilingsystem.h"
#include "delivery/videocodecdetails.h"

// What one in-car system can play and how its drive must look, read from the
// systems resource by Combo::readSystemDetails.  A plain value: a job copies
// it (see transferDetail) so a vehicle chosen meanwhile can't change what the
// job reads.  A new record has empty texts and lists, false flags, zeros.
struct SystemDetails
{
    QString name;          // system model
    QString vehicleName;   // the vehicle model the profile was loaded for
    bool albumArtSupported = false;
    qint32 sizeX = 0;      // recommended artwork size, pixels
    qint32 sizeY = 0;
    QString format;        // recommended artwork image format
    QString extension;     // recommended artwork file extension
    QList<Details> albumArtFormats;
    qint64 bitrate = 0;    // recommended audio bit rate, bit/s
    qint64 maxBitrate = 0;
    qint64 samplingFrequency = 0;  // Hz
    qint64 maxSamplingFrequency = 0;
    QString codec;         // what incompatible audio is transcoded to (ffmpeg's name)
    QString audioExtension;  // extension of transcoded audio
    QList<Details> audioCodecs;
    bool videoSupported = false;
    QList<VideoCodecDetails> videoCodecs;
    QString filingSystem;  // file system a drive is formatted with
    QList<DetailsFilingSystem> filingSystems;
    bool playlistsSupported = false;
    QList<Details> playlists;
};

#endif // SYSTEMDETAILS_H
