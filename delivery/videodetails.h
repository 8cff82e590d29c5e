#ifndef VIDEODETAILS_H
#define VIDEODETAILS_H

#include <QString>

// The facts of one video as the prober reports them, which decide whether
// the video is refused, copied or converted.  Sizes, rates and counts that
// the prober did not give are 0, codec names "".
struct VideoDetails
{
    qint64 height = 0;
    qint64 width = 0;
    double duration = 0;     // seconds
    qint64 r_frame_rate = 0; // whole frames per second
    qint64 avg_frame_rate = 0;
    qint64 nb_frames = 0;
    qint64 trackId = 0;  // the work list's id of the video
    qint64 channels = 0; // of the audio stream; 0 without one
    QString videoCodec;
    QString audioCodec;
    QString filePath; // the source; the output once the video is treated
};

#endif // VIDEODETAILS_H
