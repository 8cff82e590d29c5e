#include "app/libraryremover.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSet>
#include <QSqlQuery>

#include <algorithm>

#include "app/albumdatamodel.h"
#include "app/artistdatamodel.h"
#include "app/libraryadder.h"
#include "app/manager.h"
#include "app/messagehandler.h"
#include "app/trackdatamodel.h"
#include "app/tracklist.h"
#include "app/videooptimisation.h"
#include "core/shared.h"
#include "core/workguard.h"
#include "database/connection.h"
#include "database/filejournal.h"
#include "database/ruvodb.h"
#include "database/transaction.h"
#include "delivery/drive.h"
#include "delivery/videoencoding.h"

Q_LOGGING_CATEGORY(lcRemoval, "corvane.removal")

namespace {

enum LibraryView { Albums = 0, Artists, Tracks, Playlists, Podcasts, Audiobooks, Videos };

QSet<int> toSet(const QList<int> &ids)
{
    return QSet<int>(ids.cbegin(), ids.cend());
}

const QMap<QString, QObject *> &rowsOf(const manager &controller)
{
    static const QMap<QString, QObject *> none;
    const manager::LibraryViews &views = controller.libraryViews;
    switch (controller.libraryView) {
    case Albums:
        return views.albumModels.models;
    case Artists:
        return views.artistModels.models;
    case Tracks:
        return views.trackRowModels.models;
    case Playlists:
        return views.playlistModels.models;
    case Podcasts:
        return views.podcastModels.models;
    case Audiobooks:
        return views.audiobookModels.models;
    case Videos:
        return views.videoModels.models;
    default:
        return none;
    }
}

// Removes every folder strictly below `root` that is empty, deepest first;
// a folder that still holds anything (a file, a link, a hidden file) stays
// because rmdir refuses it, and so does each of `keep` (paths below `root`)
// and every folder on the way to it.  Links to folders are never entered.
int removeEmptyFolders(const QString &root, const QStringList &keep)
{
    QStringList folders;
    QDirIterator it(root, QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        folders.append(it.next());
    std::sort(folders.begin(), folders.end(), [](const QString &a, const QString &b) { return a.size() > b.size(); });
    const auto kept = [&keep](const QString &folder) {
        return std::any_of(keep.cbegin(), keep.cend(), [&folder](const QString &path) {
            return path == folder || path.startsWith(folder + QLatin1Char('/'));
        });
    };
    int removed = 0;
    for (const QString &folder : std::as_const(folders)) {
        if (!kept(folder) && QDir().rmdir(folder))
            ++removed;
    }
    return removed;
}

// The refusal of a removal that takes videos the optimisation still works on.
QString stillOptimising(const QStringList &names)
{
    return (names.size() == 1 ? QStringLiteral("This video is still being optimised, so it can't be removed yet:\n")
                              : QStringLiteral("These videos are still being optimised, so they can't be removed yet:\n")) +
           shared::shortList(names) +
           QStringLiteral("\nPlease wait until the optimisation has finished (click \"view status\" for details), "
                          "then try again.");
}

} // namespace

LibraryRemover::LibraryRemover(manager &controller) : owner(controller) {}

LibraryRemover::Ticks LibraryRemover::readTicks(int libraryView, const QMap<QString, QObject *> &rows)
{
    Ticks ticks;
    for (QObject *object : rows) {
        switch (libraryView) {
        case Albums:
        case Audiobooks:
        case Videos:
            if (auto *row = qobject_cast<AlbumDataModel *>(object); row && row->selected() && row->visibility())
                (libraryView == Videos ? ticks.videoIds : ticks.albumIds).append(row->albumid());
            break;
        case Artists:
            if (auto *row = qobject_cast<ArtistDataModel *>(object); row && row->selected() && row->visibility())
                ticks.artistIds.append(row->artistid());
            break;
        case Tracks:
        case Playlists:
        case Podcasts:
            if (auto *row = qobject_cast<TrackDataModel *>(object); row && row->visibility()) {
                for (QObject *entry : row->tracklist()) {
                    if (auto *t = qobject_cast<TrackList *>(entry); t && t->selected())
                        ticks.trackIds.append(t->trackid());
                }
            }
            break;
        default:
            break;
        }
    }
    return ticks;
}

bool LibraryRemover::removedInView(const track &t, int libraryView)
{
    // Videos share their album and artist ids with music: they go only from
    // the video view, and audio never goes from there.
    if (t.isVideo != (libraryView == Videos))
        return false;
    switch (libraryView) {
    case Albums:
    case Artists:
    case Tracks:
        return !t.isPodcast && !t.isAudiobook;
    case Playlists:
    case Videos:
        return true;
    case Podcasts:
        return t.isPodcast;
    case Audiobooks:
        return t.isAudiobook;
    default:
        return false;
    }
}

TrackMap LibraryRemover::tracksToTransfer(const TrackMap &library, const Ticks &ticks, int libraryView)
{
    TrackMap chosen;
    if (ticks.isEmpty())
        return chosen;
    const QSet<int> artists = toSet(ticks.artistIds), albums = toSet(ticks.albumIds), tracks = toSet(ticks.trackIds),
                    videos = toSet(ticks.videoIds);
    for (auto it = library.cbegin(); it != library.cend(); ++it) {
        const track &t = it.value();
        bool taken = false;
        if (libraryView == Videos) {
            taken = t.isVideo && videos.contains(t.id);
        } else if (!t.isVideo &&
                   (albums.contains(t.album_id) || artists.contains(t.artist_id) || tracks.contains(t.id))) {
            const bool plain = !t.isAudiobook && !t.isPodcast;
            switch (libraryView) {
            case Albums:
            case Artists:
            case Tracks:
                taken = plain && t.playlist.isEmpty();
                break;
            case Playlists:
                taken = plain && !t.playlist.isEmpty();
                break;
            case Podcasts:
                taken = t.isPodcast && t.playlist.isEmpty();
                break;
            case Audiobooks:
                taken = t.isAudiobook && t.playlist.isEmpty();
                break;
            default:
                break;
            }
        }
        if (taken)
            chosen.insert(it.key(), t);
    }
    return chosen;
}

QList<track> LibraryRemover::tracksToRemove(const TrackMap &library, const Ticks &ticks, int libraryView)
{
    const QSet<int> artists = toSet(ticks.artistIds), albums = toSet(ticks.albumIds), tracks = toSet(ticks.trackIds),
                    videos = toSet(ticks.videoIds);
    QList<track> removed;
    for (const track &t : library) {
        const bool matches = albums.contains(t.album_id) || artists.contains(t.artist_id) || tracks.contains(t.id) ||
                             videos.contains(t.id);
        if (matches && removedInView(t, libraryView))
            removed.append(t);
    }
    return removed;
}

LibraryRemover::Result LibraryRemover::removeTracks(const TrackMap &library, const Ticks &ticks, int libraryView,
                                                    const QString &libraryFolder, const std::atomic<bool> &stop,
                                                    const QStringList &keepFolders)
{
    Result result;
    const QList<track> removed = tracksToRemove(library, ticks, libraryView);
    if (removed.isEmpty())
        return result;
    QSet<int> removedIds;
    for (const track &t : removed)
        removedIds.insert(t.id);
    QSet<QString> keptPaths;
    for (const track &t : library) {
        if (!removedIds.contains(t.id))
            keptPaths.insert(t.filepath);
    }

    // The files that lose their last row: written down in the same
    // transaction as the rows go, so that a kill before they are deleted
    // leaves them to the next start instead of to no one.
    QStringList files;
    QSet<QString> listed;
    for (const track &t : std::as_const(removed)) {
        if (!keptPaths.contains(t.filepath) && !listed.contains(t.filepath)) {
            listed.insert(t.filepath);
            files << t.filepath;
        }
    }

    // All rows or none: a failed statement leaves the library as it was and
    // touches no file.
    {
        QSqlDatabase db = Connection::forThread();
        Transaction transaction(db);
        if (!transaction.isActive()) {
            result.ok = false;
            return result;
        }
        QSqlQuery query(db);
        // A track's id is its row's; the file is asked too, so that nothing
        // but the ticked track's own row can ever go.
        query.prepare(QStringLiteral("DELETE FROM tracks WHERE id = ? AND Filepath = ?"));
        for (const track &t : std::as_const(removed)) {
            query.bindValue(0, t.id);
            query.bindValue(1, t.filepath);
            if (!runQuery(query)) {
                result.ok = false;
                return result;
            }
        }
        if (!FileJournal::note(db, files)) {
            result.ok = false;
            return result;
        }
        if (stop.load() || !transaction.commit()) {
            result.ok = false;
            return result;
        }
    }
    for (const track &t : std::as_const(removed))
        result.removedIds.append(t.id);

    // Only the library's own copies go, checked on the canonical path; a file
    // that a remaining row (a playlist) still uses stays.
    const QString root = QDir(libraryFolder).canonicalPath();
    if (root.isEmpty())
        return result;
    if (!files.isEmpty())
        result.filesDeleted = std::max(0, FileJournal::settle(libraryFolder, files));
    QStringList keep;
    for (const QString &folder : keepFolders)
        keep << QDir::cleanPath(root + QLatin1Char('/') + QDir(libraryFolder).relativeFilePath(folder));
    result.foldersRemoved = removeEmptyFolders(root, keep);
    return result;
}

void LibraryRemover::exeRemoveTransfer(const QString &action)
{
    owner.chosenTracks.clear();
    const Ticks ticks = readTicks(owner.libraryView, rowsOf(owner));
    if (action == QLatin1String("remove")) {
        if (ticks.isEmpty()) {
            emit owner.showMessageBox(MessageHandler().message(5));
            return;
        }
        owner.removeAll(ticks.artistIds, ticks.albumIds, ticks.trackIds, ticks.videoIds);
    } else if (action == QLatin1String("transfer")) {
        owner.chosenTracks = tracksToTransfer(owner.libraryTracks, ticks, owner.libraryView);
        if (owner.chosenTracks.isEmpty()) {
            emit owner.showMessageBox(MessageHandler().message(6));
            return;
        }
        const bool videos = std::any_of(owner.chosenTracks.cbegin(), owner.chosenTracks.cend(),
                                        [](const track &t) { return t.isVideo; });
        const QString refusal =
            WorkGuard::refusalFor(videos ? WorkGuard::Work::VideoTransfer : WorkGuard::Work::Transfer);
        if (!refusal.isEmpty()) {
            owner.chosenTracks.clear();
            emit owner.showMessageBox(QVariant(refusal));
            return;
        }
        if (transferHandOver)
            transferHandOver(owner.chosenTracks);
        else
            Drive::getInstance()->TransferDetails(owner.chosenTracks);
        emit owner.showTransferBrowser();
    }
}

void LibraryRemover::removeAll(const Ticks &ticks)
{
    // The sweep of empty folders could take a folder that an add, a video
    // run or a transfer's conversion is about to fill, and the files go.
    const QString refusal = WorkGuard::refusalFor(WorkGuard::Work::Remove);
    if (!refusal.isEmpty()) {
        emit owner.showMessageBox(QVariant(refusal));
        return;
    }
    const TrackMap library = owner.libraryTracks;
    const int view = owner.libraryView;
    QStringList keep;
    if (WorkGuard::isRunning(WorkGuard::Work::VideoRun)) {
        // The run is still to make or take over the files of its videos: a
        // video of it goes only once it is done.  Its output folder stays,
        // empty or not, for the run writes into it.
        const QStringList busy = owner.videoOptimisation
                                     ? owner.videoOptimisation->stillInRun(tracksToRemove(library, ticks, view))
                                     : QStringList();
        if (!busy.isEmpty()) {
            emit owner.showMessageBox(QVariant(stillOptimising(busy)));
            return;
        }
        keep << VideoEncoding::outputFolder();
    }
    const QString folder = ruvoDB::programCopyFolder();
    const bool started =
        job.start([library, ticks, view, folder, keep](const std::atomic<bool> &stop) {
                      return removeTracks(library, ticks, view, folder, stop, keep);
                  },
                  [this](Result result) {
                      lastResult = std::move(result);
                      owner.slRemoveAllFnish();
                  });
    if (!started) {
        qCDebug(lcRemoval) << "a removal is still running; this one is not started";
        return;
    }
    emit owner.sgShowLoading();
    emit owner.updateProgressSearch(0, 1, QString());
}

void LibraryRemover::removeAllFinished()
{
    const Result result = std::exchange(lastResult, Result());
    for (int id : result.removedIds)
        owner.libraryTracks.remove(id);
    owner.checkedArtistIds.clear();
    owner.checkedAlbumIds.clear();
    owner.checkedTrackIds.clear();
    owner.checkedPlaylistIds.clear();
    emit owner.sgHideLoading();
    if (!result.ok)
        emit owner.showMessageBox(QStringLiteral("The ticked media could not be removed from the library."));
    owner.refreshViews();
}
