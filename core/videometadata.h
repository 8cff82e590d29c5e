#ifndef VIDEOMETADATA_H
#define VIDEOMETADATA_H

#include <QByteArray>
#include <QObject>
#include <QString>

#include "core/shared.h"
#include "core/track.h"

// The two facts about a video the scans need and its tags rarely carry: its
// playing time and a picture for it.  The time comes from TagLib for wmv, mp4
// and m4v, otherwise from ffprobe and, failing that, from ffmpeg's input
// report; the picture is one frame that ffmpeg writes as a PNG into the data
// folder's video artwork folder, made once per video file and then reused.
//
// Everything runs synchronously on the calling thread (the scan's worker);
// every external run has a timeout, so a broken tool or file costs bounded
// time and yields 0 or a missing picture, never a hang.
class VideoMetadata : public QObject
{
    Q_OBJECT

public:
    explicit VideoMetadata(QObject *parent = nullptr);

    // A reset record carrying only the duration (seconds, 0 when unknown) and
    // the thumbnail path (set whether or not the picture could be made).
    // probe != 0 allows the external probe for kinds TagLib doesn't read.
    // `knownSeconds`, the time the caller already has (from the tags), stands
    // when neither reader gives one, also for choosing the thumbnail's frame.
    track getVideoMetadata(QString path, short probe, double knownSeconds = 0);
    // Playing time by ffprobe, with ffmpeg's report as the fallback.
    double getDuration(QString path);
    // Has ffmpeg write one frame of the video as thumbnailPath (the frame at
    // 15 s when the video is longer than that, else the first), creating the
    // folder first.  Returns thumbnailPath whatever the outcome.
    QString getCoverArt(QString videoPath, QString thumbnailPath, QString folder);

    // Where the thumbnail of a video goes: its file name without ".suffix"
    // (every occurrence, in the name's own case), "-", a short hash of its
    // absolute path and ".png", in `folder`.
    static QString thumbnailPathFor(const QString &videoPath, const QString &folder);

    // Time limits of the external runs.
    static constexpr int probeTimeoutMs = 30000;
    static constexpr int thumbnailTimeoutMs = 120000;

    double duration = 0;
    QString durationText;  // the time text last cut from ffmpeg's report

public slots:
    // Takes the duration from the report of the latest ffmpeg fallback run.
    void ffmpeg_Information_Output();

private:
    QByteArray infoReport;  // merged output of the latest ffmpeg fallback run
    shared sha;
};

#endif // VIDEOMETADATA_H
