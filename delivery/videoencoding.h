#ifndef VIDEOENCODING_H
#define VIDEOENCODING_H

#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <functional>

#include "core/shared.h"
#include "core/track.h"
#include "delivery/transferdetail.h"
#include "delivery/videodetails.h"

// Optimises videos for the car screen on a thread of its own.  A run first
// asks ffprobe for the facts of every video of its work list, then treats
// them one after the other: a video whose audio has more than two channels is
// refused; an H.264/AAC MP4 within 1024 x 600 is copied as it is; a video
// whose optimised file is already there at full length is taken over;
// everything else is converted by ffmpeg to H.264 Main / AAC stereo 44.1 kHz
// MP4 within 1024 x 600 with even sides.  Outputs go to "Transcoded
// Media/Videos" below the library folder, named after the video's title.
//
// An output appears only complete: copies and conversions are written to a
// temporary file in the output folder and renamed over the target at the
// end, so a failed, cancelled or interrupted video leaves no partial file.
//
// The run ends by itself when its list is done or cancelled, after
// onAllFilesCompleate().  Cancelling (onCanclePressed, from any thread) sets
// an atomic flag; a running ffmpeg is asked to quit with "q" and killed only
// if it does not.  Signals are emitted from the run's thread, so receivers in
// the GUI thread get them queued.  The object itself stays in the thread that
// made it; the destructor stops a run and waits for it.
class VideoEncoding : public QThread
{
    Q_OBJECT

public:
    explicit VideoEncoding(QObject *parent = nullptr);
    ~VideoEncoding() override;

    // ---- Readers of the programs' output (pure, tested on canned text) ----

    // The facts in ffprobe's "-show_streams" output.  Keys are compared
    // lower-cased; video facts are read from video streams, the channel count
    // from audio streams, later streams overwriting earlier ones, except an
    // attached picture (a cover shown as a video stream), which is ignored.
    // A video duration below one second (or "N/A") is asked of
    // `durationProbe`; a frame count of "N/A" is worked out from the frame
    // rate and the duration.
    static VideoDetails parseStreams(const QString &showStreams, const std::function<double()> &durationProbe);

    // One of ffmpeg's progress lines ("frame=  48 fps= 25 q=29.0 size= ...
    // time=00:00:01.88 bitrate= ..."); `valid` only when it has both a frame
    // number and a time.
    struct ProgressLine
    {
        bool valid = false;
        double seconds = 0; // time done
        qint64 frame = 0;   // frames done
        qint64 fps = 0;     // whole frames per second; 0 when unknown
    };
    static ProgressLine parseProgressLine(const QString &line);

    // Percentage of a video done: -1 (nothing to report yet) until more than
    // one whole second is done, then whole seconds done against the whole
    // seconds of the video, at most 100; 100 for a video of unknown length.
    static int progressPercent(double doneSeconds, double totalSeconds);

    // An H.264/AAC MP4 (by suffix, any case) within 1024 x 600: copied as it is.
    static bool fitsCarScreen(const VideoDetails &video, const QString &sourcePath);

    // ffmpeg's arguments converting `source` into an MP4 at `output`.
    static QStringList conversionArguments(const VideoDetails &video, const QString &source, const QString &output);

    // The lowest H.264 level whose frame-size and macroblock-rate limits a
    // picture of this size at this rate fits.
    static QString h264Level(qint64 width, qint64 height, qint64 framesPerSecond);

    // A video's name in the library (its tile, the run's dialog, messages):
    // the source's file name less its suffix when that is lower case
    // ("Clip.mp4" -> "Clip"; "Clip.MP4" keeps its whole name).
    static QString nameOf(const QString &sourcePath);

    // "<library folder>/Transcoded Media/Videos" and the output of a title.
    static QString outputFolder();
    static QString outputPathFor(const QString &title, const QString &fallbackName);

    // ---- Analysis (on the run's thread) ------------------------------------

    // Reads the whole work list into `video` (a source that is missing gets
    // no entry); stops early when cancelled.
    void analizeFiles();
    // The facts of one file into the analysis members below.
    void analizeStreams(QString path);
    // Length of a media file from ffmpeg's input report; 0 when unknown.
    double getDuration(QString path);

    // Analysis members: the facts of the file analysed last.
    double duration = 0;
    qint64 nbFrames = 0;
    qint64 height = 0;
    qint64 width = 0;
    qint64 rFrameRate = 0;
    qint64 avgFrameRate = 0;
    qint64 channels = 0;
    QString videoCodec;
    QString audioCodec;

    // The facts of the analysed videos, in work-list order.  Read it only
    // while no run is going.
    QList<VideoDetails> video;

public slots:
    // The work list (keyed by the videos' ids, treated in key order) and the
    // job's settings, which the conversion does not consult.  Only while no
    // run is going; clears the cancel of an earlier run.
    void setArg(QMap<int, track> track_obj, transferDetail systemInfoemation);
    // Cancels the run.  Safe from any thread; the video in hand is reported
    // skipped once (here when one is in hand, else where it ends).
    void onCanclePressed();

signals:
    void onFileComplete(track objTrackEncoded);
    void onAllFilesCompleate();
    void onAnalize(QString filepath, QString videocodec, QString audiocodec);
    void onSkipFile(track objTrackEncoded);
    // 0 to 100 while a video is treated; -1 for a refused, failed or
    // cancelled one.
    void onProgressChange(QString filePath, qint64 trackID, qint64 progress);
    // Seconds left for the whole list.
    void onAproxTimeChange(qint64 seconds);
    // Seconds left for the video being converted.
    void onCurrentTrackTimeChange(qint64 seconds);
    void onMultiChannelsFile(track objTrackEncoded);

protected:
    void run() override;

private:
    enum class Outcome { Produced, Refused, Skipped };

    Outcome treat(track &record, const VideoDetails *facts);
    bool copyInto(const QString &source, const QString &target);
    bool convert(const VideoDetails &facts, const QString &source, const QString &target);
    void ffmpeg_progress_Output(const QByteArray &line);
    void reportEnd(qint64 progress);
    void reportSkipped();
    void ensureThumbnail(track &record);

    QMap<int, track> workTracks;
    transferDetail transfer;
    shared sha;

    std::atomic<bool> cancelled{false};
    mutable QMutex handMutex; // guards the three below
    track track_obj_Video;    // the record of the video in hand
    bool inHand = false;
    bool skipReported = false;

    // Progress of the video in hand and estimate of the whole list.
    QString currentOutput;
    qint64 currentId = 0;
    QString totalduration; // ffmpeg's duration text of the input
    double analysedDuration = 0;
    qint64 framesRemaining = 0; // frames of the list not yet finished
    qint64 framesProcessed = 0; // frames ffmpeg has done over the list
    qint64 lastprocessed = 0;   // frames done of the video in hand
    qint64 lastFps = 0;         // the last speed ffmpeg reported
    int lastPercent = -1;
};

#endif // VIDEOENCODING_H
