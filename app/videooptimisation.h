#ifndef VIDEOOPTIMISATION_H
#define VIDEOOPTIMISATION_H

#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QSet>
#include <QStringList>

#include <memory>

#include "app/rowpublisher.h"
#include "core/backgroundjob.h"
#include "core/track.h"
#include "delivery/videoencoding.h"

class manager;

// The controller's side of optimising videos: starts a run of the video
// conversion thread over the videos of an add, shows one dialog row per
// video, relays progress and the time left to QML, stores each finished
// video in the library and the database, and at the end tells the user what
// was refused or skipped (not after a cancel).
//
// Everything here runs in the GUI thread.  The conversion thread ends by
// itself; closing the program cancels a run and waits for it (the close
// sequence's job registry).  A run works on its own copy of its videos, so
// adds and removals go on beside it: videos of a later add join the run
// (their rows appear in its dialog, and they are treated once its list is
// done), and a removal asks stillInRun() which of its videos the run has not
// finished yet.
class VideoOptimisation : public QObject
{
    Q_OBJECT

public:
    explicit VideoOptimisation(manager *controller);
    ~VideoOptimisation() override;

    // Starts optimising `videos` (keyed by their ids in the add, 1, 2, 3 ...):
    // publishes optimisationVideoModel and shows the dialog.  While a run
    // goes they join it under ids after its own; a video the run has already
    // (from the same source) is not taken twice.  Returns how many of
    // `videos` were left out so.
    int start(const TrackMap &videos);
    // From the start of a run until its end is handled here (the thread
    // itself ends a moment before: its last signal is still on its way).
    bool isRunning() const { return runOpen || videoencode.isRunning(); }

    // The names of those `entries` that are videos this run has not finished
    // (or has queued): their file was made from a source still in the run,
    // or is such a source.  Reads the database for entries loaded from it.
    QStringList stillInRun(const QList<track> &entries) const;

    // Time left as QML shows it: "00", "00" below one second, else hours,
    // minutes and seconds as plain decimal texts (3725 s: "1", "2", "5").
    static QStringList timeTexts(qint64 seconds);

    // The controller's slots forward here.
    void cancel();
    void progressChanged(const QString &filePath, qint64 trackID, qint64 progress);
    void aproxTimeChanged(qint64 seconds);
    void fileComplete(track updatedTrack);
    void skipFile(const track &updatedTrack);
    void multiChannelFile(const track &updatedTrack);
    void allFilesComplete();

    // The dialog's rows of the current run (children of one owner per run).
    QList<QObject *> optimisationVideoRows;
    QStringList multiChannelFiles; // refused for multi-channel audio in this run
    QStringList skippedFiles;      // failed, missing or cancelled in this run
    bool videocan = false;         // the user cancelled this run
    VideoEncoding videoencode;

private:
    // The run as the close sequence sees it.
    class CloseJob : public JobRegistry::Job
    {
    public:
        explicit CloseJob(VideoOptimisation *optimisation) : owner(optimisation) {}
        void requestStop() override;
        bool isRunning() const override { return owner->videoencode.isRunning(); }
        bool waitFor(int msecs) override { return owner->videoencode.wait(QDeadlineTimer(msecs)); }

    private:
        VideoOptimisation *owner;
    };

    // The sources of the videos the run has in hand or queued.
    QSet<QString> runSources() const;
    // Hands `videos` to the conversion thread.
    void launch(const TrackMap &videos);
    // Publishes the rows shown now followed by one new row per video of `added`.
    void publishRows(const TrackMap &added);
    void link();
    void unlink();
    // Deletes a skipped video's output when it is one of the program's own
    // files that the library does not hold.
    void removeUnstoredOutput(const QString &path) const;

    manager *controller;
    RowPublisher publisher;
    QList<QMetaObject::Connection> links;
    TrackMap inHand;  // the thread's list, less the videos it has reported on
    TrackMap pending; // videos added while a run goes
    int lastRunId = 0; // the largest id in the thread's list
    bool runOpen = false;
    CloseJob closeJob{this};
};

#endif // VIDEOOPTIMISATION_H
