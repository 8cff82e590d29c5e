#ifndef LIBRARYADDER_H
#define LIBRARYADDER_H

#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "app/libraryindex.h"
#include "core/backgroundjob.h"
#include "core/track.h"
#include "delivery/transferdetail.h"

class ffmpeghandler;
class manager;

// The add chain: the ticked media of the media browser become library
// tracks.  One add passes
//   plan (worker) -> hand-off -> conversion (worker) -> copy (worker)
//   -> completion -> online lookup (optional, results one by one).
//
// Workers get copies and return plain results; the GUI thread applies them
// to the controller's maps (libraryTracks, reviewTracks, processingTracks,
// lookupTracks, chosenTracks, the check lists).  Each stage is a job of its
// own with its own stop flag; cancel and close stop the running one.
//
// A track's id is its database row's id from the start: the plan gives the
// new tracks ids the library reserved for them, and their rows are written
// under those ids.
//
// One song, one file: a copy goes into its album's folder under the source's
// file name unless another song is there (another artist's album of the same
// name, two albums whose names clean to one folder); then it gets a free name
// (" (2)").  Only the same song -- same artist, album, title, track number
// and length -- counts as a duplicate, and only there does the better bit
// rate replace the stored copy.
//
// Files are never lost: a copy goes to a hidden temporary file beside its
// target and is renamed over it only when complete; the database row is
// written after the file is in place, and a copy that fails writes no row.
// The volume holding the data folder must have room for each file (a running
// budget per volume, counted once, that keeps a reserve free); when it hasn't, or a conversion fills it,
// the add stops with "Drive is Full".  Whatever was left out is named to the
// user at the end, with the reason.
class LibraryAdder : public QObject
{
    Q_OBJECT

public:
    // The media browser's rows the choice is read from (GUI thread).
    struct BrowserRows
    {
        QMap<QString, QObject *> albumModels;
        QMap<QString, QObject *> artistModels;
        QMap<QString, QObject *> trackModels;
        QList<QObject *> albumDetails;
        QList<QObject *> artistDetails;
        QList<QObject *> trackDetails;
    };
    using BrowserRowsProvider = std::function<BrowserRows()>;

    // One video of an add, as the optimisation list shows it.
    struct VideoRow
    {
        int trackid = 0;
        int duration = 0; // whole seconds
        QString trackname;
    };

    // What the plan worker decided; applied by the GUI thread.
    struct AddPlan
    {
        bool nothingChosen = false;
        bool failed = false; // no ids could be reserved: nothing is added
        TrackMap chosenTracks;
        QList<int> checkedArtistIds;
        QList<int> checkedAlbumIds;
        QList<int> checkedTrackIds;
        QList<int> checkedPlaylistIds;
        QList<track> removedLibraryTracks;       // replaced by a better copy
        QList<QPair<int, QString>> coverUpdates; // library id -> cover taken over
        QList<track> addedLibraryTracks;         // in the order they were added
        TrackMap reviewTracks;
        TrackMap processingTracks;
        QList<VideoRow> videoRows;
        QStringList copyTargets; // targets a file is copied to, each once, in add order
        int alreadyInLibrary = 0; // chosen media the library holds already (not added again)
        LibraryIndex index;      // the library after the plan
        qint64 lookupNs = 0;     // time spent on ids and duplicates
    };

    // One file of the copy job and the tracks stored with it (several when
    // one song is in two playlists).  No source: the file is already there
    // and only the rows are written.
    struct CopyItem
    {
        QList<track> records; // stored with filepath = target
        QString source;
        QString target;
        qint64 size = 0; // the source's bytes; 0: measured by the copy
    };

    // A track the add left out, and why, as the user is told.
    struct LeftOut
    {
        int id = 0;
        QString name;
        QString reason;
    };

    struct CopyResult
    {
        int copies = 0;
        bool diskFull = false;
        QStringList copiedTargets; // targets whose file and rows are in place
        QStringList failedTargets; // targets whose copy failed (the old file, if any, stays)
        QList<int> storedIds;
        QList<LeftOut> leftOut;
        TrackMap lookupTracks;
        // Library entries whose file is gone by the end of the copy (id, path).
        QList<std::pair<int, QString>> missingFiles;
    };

    explicit LibraryAdder(manager &controller);
    ~LibraryAdder() override;

    void setBrowserRowsProvider(BrowserRowsProvider provider) { browserRows = std::move(provider); }

    // ---- The chain (GUI thread) -------------------------------------------
    void addToMainObject();
    void collectSearchDialogValues();
    void addToMainObjectThreadFinished(AddPlan plan);
    void Transcodingfinished(QList<track> transcoded);
    void Copyfinished(CopyResult result);
    void updateMainObjectMgr(track updatedTrack);
    void slUpdateTranscodingCount(const QString &updatedTrack);
    void slRemoveFileAudio(const QString &filepath, qint64 trackID, qint64 flag);
    void slCancelSearchCopy();

    // Where videos leave this chain: the video optimisation takes the
    // processing tracks and the rows from here.  Returns how many of them
    // the running optimisation has already.
    int startVideoOptimisation();

    // ---- Pure steps (any thread) -----------------------------------------
    struct PlanInput
    {
        TrackMap chosenTracks;
        TrackMap libraryTracks;
        QList<int> checkedArtistIds;
        QList<int> checkedAlbumIds;
        QList<int> checkedTrackIds;
        QList<int> checkedPlaylistIds;
        int mediaTypeFilter = 0;
        // The first of the ids the library reserved for this add; 0: the
        // plan reserves them itself.
        int firstTrackId = 0;
    };
    // The add loop over copies.
    static AddPlan addToMainObjectthread(PlanInput input, const std::atomic<bool> &stop);
    // The tracks of `browserTracks` the check lists and the category choose.
    static TrackMap chooseTracks(const TrackMap &browserTracks, const QList<int> &artistIds, const QList<int> &albumIds,
                                 const QList<int> &trackIds, int mediaTypeFilter);
    static QString cleanAlbumName(const QString &album);
    static QString GenerateCopyPath(const QString &album, const QString &path);
    static track setTrackMap(track &tmpTrack, const track &chosen, int trkID, int artID, int albID, int pltID);
    // Whether two records are the same song (and may share or replace a file).
    static bool sameSong(const track &a, const track &b);
    // Copies the items in order until the stop flag, a full volume or the end.
    // The targets are written down in the journal of unsettled files first;
    // each batch of copies is flushed to the disk before its rows are
    // written, and a target whose rows could not be written loses its file
    // again.  `progress` is called after each file with the number done and
    // the target (any thread).  The entries of `library` whose files are gone
    // at the end are reported in missingFiles.
    static CopyResult CopyPath(const QList<CopyItem> &items, const TrackMap &reviewTracks,
                               const std::atomic<bool> &stop,
                               const std::function<void(int, const QString &)> &progress = {},
                               const TrackMap &library = TrackMap());
    // The one message for the end of an add: "Drive is Full" when the volume
    // ran out of room, how much was added when the user cancelled, else the
    // media left out and why; empty when everything was added.
    // Chosen media the library already holds are named by their number.
    static QString endMessage(bool diskFull, bool cancelled, int added, int chosen, const QList<LeftOut> &leftOut,
                              int alreadyThere = 0);
    // "The chosen items are already in the library." when all are, else how
    // many of them were; empty when none was.
    static QString alreadyThereMessage(int alreadyThere, int chosen);

    // ---- Environment (tests may replace) ---------------------------------
    // Bytes available to the program on the volume holding `path`.
    using AvailableBytes = std::function<qint64(const QString &path)>;
    static void setAvailableBytesFunction(AvailableBytes function);
    static qint64 availableBytes(const QString &path);
    // Room an add leaves free on the data folder's volume, so that the
    // library, its journal and the next start still have some: 1% of the
    // volume, at most freeSpaceReserveBytes.
    static constexpr qint64 freeSpaceReserveBytes = qint64(64) << 20;
    static qint64 freeSpaceReserve(qint64 volumeBytes);
    // What an add may copy onto the volume holding `path`: its available
    // bytes less the reserve; -1 when unknown.
    static qint64 copyBudget(const QString &path);
    // Whether the lookup may go on-line; unknown counts as on-line.  A set
    // override answers instead of the system.
    static void setOnlineOverride(std::optional<bool> online);
    static bool isOnline();

    // State the controller and the tests read.
    QStringList pendingCopies() const { return QStringList(copypathList.cbegin(), copypathList.cend()); }
    const QList<VideoRow> &videoRows() const { return optimisationVideoRows; }
    bool isBusy() const;
    bool isStopCopy = false;
    bool isdiskfull = false;

private:
    void startCopy();
    void finish(bool diskFull);
    // Takes a new track of this add out of the library, remembering why.
    void leaveOut(int id, const QString &reason);
    void leaveOutWithSharers(int id, const QString &reason);
    void removeLibraryTrack(int id);
    void insertLibraryTrack(const track &t);
    transferDetail transcodingDetail() const;

    manager &mgr;
    BrowserRowsProvider browserRows;
    LibraryIndex index;
    QSet<QString> copypathList;           // targets still to be copied
    QHash<QString, track> replacedTracks; // target -> the stored track a better copy replaces
    QList<int> addedIds;                  // the new tracks of this add, in add order
    QSet<int> storedIds;                  // of those, the ones whose rows are written
    QList<LeftOut> leftOut;               // what this add did not add, and why
    QList<VideoRow> optimisationVideoRows;
    // The browser's choice (browser ids), kept apart from the library's ticks.
    QList<int> chosenArtistIds;
    QList<int> chosenAlbumIds;
    QList<int> chosenTrackIds;
    QList<int> chosenPlaylistIds;
    QHash<int, QString> converterReasons; // why the converter left a track out
    int alreadyThere = 0;                 // chosen media the library holds already
    int doneCount = 0;
    bool cancelled = false;

    // Declared before the jobs: a job that still runs is waited for before
    // the converter it uses goes.
    std::unique_ptr<ffmpeghandler> fmm;
    BackgroundJob<AddPlan> planJob;
    BackgroundJob<QList<track>> transcodeJob;
    BackgroundJob<CopyResult> copyJob;
};

#endif // LIBRARYADDER_H
