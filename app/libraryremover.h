#ifndef LIBRARYREMOVER_H
#define LIBRARYREMOVER_H

#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

#include "core/backgroundjob.h"
#include "core/track.h"

class manager;

// The library view's REMOVE and TRANSFER on the ticked rows.
//
// Removal runs on a worker that gets copies of the ticked ids and of the
// library; it deletes the rows through its thread's own connection in one
// transaction, then the library's own copies (only files canonically below
// the library folder, never through a link) and then only folders left
// empty.  A file outside the library folder keeps its file and loses its
// row.  The GUI thread takes the removed entries out of the library when
// the job ends (manager::slRemoveAllFnish).
class LibraryRemover
{
public:
    // The ticked ids of one library view (an id may appear more than once).
    struct Ticks
    {
        QList<int> artistIds;
        QList<int> albumIds;
        QList<int> trackIds;
        QList<int> videoIds;
        bool isEmpty() const
        {
            return artistIds.isEmpty() && albumIds.isEmpty() && trackIds.isEmpty() && videoIds.isEmpty();
        }
    };

    struct Result
    {
        bool ok = true;        // false: nothing was removed
        QList<int> removedIds; // library entries whose rows are gone
        int filesDeleted = 0;
        int foldersRemoved = 0;
    };

    // Where the chosen tracks of a transfer go: the transfer dialog
    // (Drive::TransferDetails) unless a test says otherwise.
    using HandOver = std::function<void(const TrackMap &)>;

    explicit LibraryRemover(manager &controller);

    // QML's "remove" or "transfer".
    void exeRemoveTransfer(const QString &action);
    // Starts the removal of the entries these ids match in the current view.
    void removeAll(const Ticks &ticks);
    // GUI thread, when the removal has ended: the result is applied.
    void removeAllFinished();
    bool isRunning() const { return job.isRunning(); }
    bool waitFor(int msecs) { return job.waitFor(msecs); }
    void setHandOver(HandOver handOver) { transferHandOver = std::move(handOver); }

    // The ids of the rows of `rows` (a view's row map) that are ticked and
    // shown; a track row gives the ids of its ticked tracks.
    static Ticks readTicks(int libraryView, const QMap<QString, QObject *> &rows);
    // Whether the view removes a matching entry (the album, artist and track
    // views keep podcasts and audiobooks).
    static bool removedInView(const track &t, int libraryView);
    // The library entries the view's ticks hand to the transfer.
    static TrackMap tracksToTransfer(const TrackMap &library, const Ticks &ticks, int libraryView);
    // The library entries the view's ticks remove.
    static QList<track> tracksToRemove(const TrackMap &library, const Ticks &ticks, int libraryView);
    // The worker body.  The sweep of emptied folders leaves `keepFolders`
    // (and the folders holding them): work beside the removal writes there.
    static Result removeTracks(const TrackMap &library, const Ticks &ticks, int libraryView,
                               const QString &libraryFolder, const std::atomic<bool> &stop,
                               const QStringList &keepFolders = QStringList());

private:
    manager &owner;
    BackgroundJob<Result> job;
    Result lastResult;
    HandOver transferHandOver;
};

#endif // LIBRARYREMOVER_H
