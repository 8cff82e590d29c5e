#ifndef APIMANAGER_H
#define APIMANAGER_H

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>

#include "core/track.h"

// The lookup job over tracks whose metadata is incomplete.  It works in the
// GUI thread, one track per turn of the event loop, through the tracks one
// folder after another: each track is completed from what the library
// already knows about its folder; when a folder is done, each of its tracks
// is written back to the library's staging tables and, when the completion
// changed something, into the file's tags, and is then sent to the
// controller.  No web service is asked.  The tag writes of a folder run on a
// worker thread (a large file takes a while); the folder's tracks are sent
// once they are done.
//
// Whatever happens - the last folder done, a stop, an empty job - the job
// ends with one record whose id is -1, the end mark.  The one object of the
// run comes from getinstance().
class ApiManager : public QObject
{
    Q_OBJECT

public:
    static ApiManager *getinstance();

    // Adds `tracks` to the job and starts it unless it runs; returns at once.
    void searchfromApi(TrackMap tracks);
    // The job takes its next folder only while this is on (on at start).
    void setDoUpdate(bool on);
    // From now on only these tracks are completed; the others are passed
    // over (each still counts as progress).  Takes up the pending folders.
    void setSelectedIds(QList<int> ids);
    // Ends the job before its next track: pending tracks are dropped and the
    // end mark is sent.
    void stopOptimisation();

    bool isRunning() const;
    // Waits up to msecs for the tag writes under way (at close); true when none is left.
    static bool waitForTagWrites(int msecs);
    bool doUpdate() const;

    // The three stages of one track; tests replace them.  `complete` returns
    // the completed record, `storeResult` writes it back to the library,
    // `writeTags` into its file (on a worker thread; false: not written).
    // `readFolder` (optional) reads, on a worker thread, what `complete`
    // needs of a folder, once before the first of its tracks is completed;
    // a folder none of whose tracks is to be completed is not read.
    struct Steps
    {
        std::function<track(const track &)> complete;
        std::function<void(const track &)> storeResult;
        std::function<bool(const track &)> writeTags;
        std::function<void(const QString &folderLocation)> readFolder;
    };
    static Steps defaultSteps();
    void setSteps(Steps steps);

    // What a completed track takes from its album and its file name, after
    // the completion and whatever stands in for it: a track without a track
    // number the one its file name starts with (withNumber); a track whose
    // album is known and that shows no picture of its own the album's
    // picture (albumPicture gives its path, empty for none: a video, a track
    // with its own picture, no known album).  Where that file is missing the
    // job saves the one the track's file embeds there, never over an
    // existing one; withAlbumPicture gives the record showing it once it
    // exists.
    static track withNumber(track t);
    static QString albumPicture(const track &t);
    static track withAlbumPicture(track t, const QString &picture);

    // Record id of the end mark.
    static constexpr int endMarkId = -1;

signals:
    void updateTrackToManager(track t);
    void UpdateProgress();

private:
    ApiManager();

    void schedule();
    void processNext();
    bool takeNextFolder();
    void startFolderRead(const QString &location);
    void finishFolder();
    void sendFolder(QList<track> done, const QSet<int> &changed);
    void finishJob();

    Steps steps;
    QList<track> pending; // tracks not yet taken, in folder order
    QList<track> folder;  // the folder in hand, not yet processed
    QList<track> results; // processed tracks of the folder in hand
    QSet<int> changedIds; // results whose metadata the completion changed
    // Results of the folder in hand whose album picture is to be taken from
    // their file.
    struct PictureToTake
    {
        int id;
        QString picture;
        QString media;
    };
    QList<PictureToTake> pictures;
    QSet<int> selectedIds;
    bool selectedMode = false;
    bool updating = true;
    bool continueJob = false;
    bool running = false;
    bool scheduled = false;
    bool writing = false; // a folder's pictures or tag writes run; its tracks wait to be sent
    bool reading = false; // the folder in hand is being read; its tracks wait
    bool folderRead = false; // the folder in hand has been read (or is being read)
};

#endif // APIMANAGER_H
