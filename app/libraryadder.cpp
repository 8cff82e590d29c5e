#include "app/libraryadder.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMutex>
#include <QWaitCondition>
#include <QNetworkInformation>
#include <QPointer>
#include <QRegularExpression>
#include <QSet>
#include <QStorageInfo>
#include <QThread>
#include <QThreadPool>
#include <QTime>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

#include "app/advancedsettings.h"
#include "app/libraryremover.h"
#include "app/manager.h"
#include "app/messagehandler.h"
#include "app/videooptimisation.h"
#include "core/logging.h"
#include "core/shared.h"
#include "core/workguard.h"
#include "database/filejournal.h"
#include "database/ruvodb.h"
#include "delivery/combo.h"
#include "delivery/ffmpeghandler.h"
#include "delivery/madefiles.h"
#include "lookup/apimanager.h"
#include "platform/atomicfile.h"
#include "platform/regularfile.h"
#include "platform/safefilecopy.h"
#include "platform/temporaryfiles.h"

Q_LOGGING_CATEGORY(lcAdd, "corvane.add")

namespace {

const QString unknownAlbum = QStringLiteral("Unknown Album");
const QString noArtworkName = QStringLiteral("no_artwork.png");

QMutex environmentMutex;
LibraryAdder::AvailableBytes &availableBytesOverride()
{
    static LibraryAdder::AvailableBytes function;
    return function;
}
std::optional<bool> &onlineOverride()
{
    static std::optional<bool> online;
    return online;
}

// In `ids`: `newId` takes the place of `oldId` when the list holds the old
// one and not the new one; otherwise it is appended unless already there.
void replaceOrAppend(QList<int> &ids, int oldId, int newId)
{
    const int at = ids.indexOf(oldId);
    if (at >= 0 && !ids.contains(newId))
        ids[at] = newId;
    else if (!ids.contains(newId))
        ids.append(newId);
}

void appendOnce(QList<int> &ids, int id)
{
    if (!ids.contains(id))
        ids.append(id);
}

bool counts(const QObject *row)
{
    return row && row->property("selected").toBool() && row->property("visibility").toBool();
}

// The nearest folder of `path` that exists: the volume is asked about it.
QString existingAncestor(QString path)
{
    while (!path.isEmpty() && !QFileInfo::exists(path)) {
        const QString parent = QFileInfo(path).absolutePath();
        if (parent == path)
            break;
        path = parent;
    }
    return path;
}

QString messageText(int number)
{
    return MessageHandler().message(number);
}

} // namespace

LibraryAdder::LibraryAdder(manager &controller) : mgr(controller) {}

LibraryAdder::~LibraryAdder()
{
    slCancelSearchCopy();
}

bool LibraryAdder::isBusy() const
{
    return planJob.isRunning() || transcodeJob.isRunning() || copyJob.isRunning();
}

// ---- Environment ------------------------------------------------------------

void LibraryAdder::setAvailableBytesFunction(AvailableBytes function)
{
    QMutexLocker lock(&environmentMutex);
    availableBytesOverride() = std::move(function);
}

qint64 LibraryAdder::availableBytes(const QString &path)
{
    {
        QMutexLocker lock(&environmentMutex);
        if (availableBytesOverride())
            return availableBytesOverride()(path);
    }
    const QStorageInfo volume(existingAncestor(path));
    return volume.isValid() ? volume.bytesAvailable() : -1;
}

qint64 LibraryAdder::freeSpaceReserve(qint64 volumeBytes)
{
    return std::clamp<qint64>(volumeBytes / 100, 0, freeSpaceReserveBytes);
}

qint64 LibraryAdder::copyBudget(const QString &path)
{
    const qint64 available = availableBytes(path);
    if (available < 0)
        return -1;
    const QStorageInfo volume(existingAncestor(path));
    const qint64 reserve = freeSpaceReserve(volume.isValid() ? volume.bytesTotal() : 0);
    return std::max<qint64>(available - reserve, 0);
}

void LibraryAdder::setOnlineOverride(std::optional<bool> online)
{
    QMutexLocker lock(&environmentMutex);
    onlineOverride() = online;
}

bool LibraryAdder::isOnline()
{
    {
        QMutexLocker lock(&environmentMutex);
        if (onlineOverride())
            return *onlineOverride();
    }
    if (!QNetworkInformation::instance())
        QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability);
    const QNetworkInformation *info = QNetworkInformation::instance();
    // No backend, or one that can't tell: the lookup works from the local
    // library, so it may run.
    return !info || info->reachability() != QNetworkInformation::Reachability::Disconnected;
}

// ---- Choice -------------------------------------------------------------------

TrackMap LibraryAdder::chooseTracks(const TrackMap &browserTracks, const QList<int> &artistIds,
                                    const QList<int> &albumIds, const QList<int> &trackIds, int mediaTypeFilter)
{
    const QSet<int> artists(artistIds.cbegin(), artistIds.cend());
    const QSet<int> albums(albumIds.cbegin(), albumIds.cend());
    const QSet<int> tracks(trackIds.cbegin(), trackIds.cend());
    TrackMap chosen;
    for (auto it = browserTracks.cbegin(); it != browserTracks.cend(); ++it) {
        const track &t = it.value();
        if (!albums.contains(t.album_id) && !artists.contains(t.artist_id) && !tracks.contains(t.id))
            continue;
        bool take = false;
        switch (mediaTypeFilter) {
        case 0:
            take = !t.isPodcast && !t.isAudiobook && t.playlist.isEmpty() && !t.isVideo;
            break;
        case 1:
            take = !t.isPodcast && !t.isAudiobook && !t.playlist.isEmpty() && !t.isVideo;
            break;
        case 2:
            take = t.isPodcast && !t.isAudiobook && t.playlist.isEmpty() && !t.isVideo;
            break;
        case 3:
            take = t.isAudiobook && !t.isPodcast && t.playlist.isEmpty() && !t.isVideo;
            break;
        case 4:
            take = t.isVideo;
            break;
        default:
            break;
        }
        if (take)
            chosen.insert(it.key(), t);
    }
    return chosen;
}

void LibraryAdder::collectSearchDialogValues()
{
    mgr.chosenTracks.clear();
    chosenArtistIds.clear();
    chosenAlbumIds.clear();
    chosenTrackIds.clear();
    chosenPlaylistIds.clear();

    const BrowserRows rows = browserRows ? browserRows() : BrowserRows();
    if (mgr.displayType == 0) {
        if (mgr.browserView == 1) {
            for (const QObject *row : rows.artistModels)
                if (counts(row))
                    appendOnce(chosenArtistIds, row->property("artistid").toInt());
        } else if (mgr.browserView == 2) {
            for (const QObject *row : rows.trackModels) {
                if (!row || !row->property("visibility").toBool())
                    continue;
                const bool whole = row->property("selected").toBool();
                const auto entries = row->property("tracklist").value<QList<QObject *>>();
                for (const QObject *entry : entries) {
                    if (!entry)
                        continue;
                    if (whole)
                        chosenTrackIds.append(entry->property("trackid").toInt());
                    else if (entry->property("selected").toBool())
                        appendOnce(chosenTrackIds, entry->property("trackid").toInt());
                }
            }
        } else {
            // The video category's album rows stand for single videos.
            QList<int> &ids = mgr.mediaTypeFilter == 4 ? chosenTrackIds : chosenAlbumIds;
            for (const QObject *row : rows.albumModels)
                if (counts(row))
                    appendOnce(ids, row->property("albumid").toInt());
        }
    } else {
        const QList<QObject *> &details = mgr.browserView == 1   ? rows.artistDetails
                                          : mgr.browserView == 2 ? rows.trackDetails
                                                                 : rows.albumDetails;
        for (const QObject *row : details)
            if (counts(row))
                appendOnce(chosenTrackIds, row->property("trackid").toInt());
    }
    mgr.chosenTracks =
        chooseTracks(mgr.browserTracks, chosenArtistIds, chosenAlbumIds, chosenTrackIds, mgr.mediaTypeFilter);
}

// ---- Plan -------------------------------------------------------------------

QString LibraryAdder::cleanAlbumName(const QString &album)
{
    static const QRegularExpression folderChars(QStringLiteral("[!/\\:*?<>|+.]"));
    QString name = album;
    name.remove(folderChars);
    name.remove(QLatin1Char('"'));
    return name.trimmed();
}

QString LibraryAdder::GenerateCopyPath(const QString &album, const QString &path)
{
    QString folder = cleanAlbumName(album);
    if (folder.isEmpty())
        folder = unknownAlbum;
    // A folder name has the file system's limit too: a long album tag is
    // shortened, never refused.
    folder = TemporaryFiles::fitName(QString(), folder, QString());
    const QString fileName = QFileInfo(QDir::fromNativeSeparators(path)).fileName();
    return QDir::fromNativeSeparators(ruvoDB::programCopyFolder() + QLatin1Char('/') + folder + QLatin1Char('/') +
                                      fileName);
}

track LibraryAdder::setTrackMap(track &tmpTrack, const track &chosen, int trkID, int artID, int albID, int pltID)
{
    tmpTrack.isPodcast = chosen.isPodcast;
    tmpTrack.isAudiobook = chosen.isAudiobook;
    tmpTrack.isVideo = chosen.isVideo;
    tmpTrack.isMissingData = chosen.isMissingData;
    tmpTrack.hasArtist = chosen.hasArtist;
    tmpTrack.hasAlbum = chosen.hasAlbum;
    tmpTrack.hasTitle = chosen.hasTitle;
    tmpTrack.hasCover = chosen.hasCover;
    tmpTrack.source = chosen.source;
    tmpTrack.frequencyShort = chosen.frequencyShort;
    tmpTrack.tracknumber = chosen.tracknumber;
    tmpTrack.bitrate = chosen.bitrate;
    tmpTrack.frequency = chosen.frequency;
    tmpTrack.year = chosen.year;
    tmpTrack.duration = chosen.duration;
    tmpTrack.filesize = chosen.filesize;
    tmpTrack.quality = chosen.quality;
    tmpTrack.playlist = chosen.playlist;
    tmpTrack.codec = chosen.codec;
    tmpTrack.filename = chosen.filename;
    tmpTrack.artistName = chosen.artistName;
    tmpTrack.albumName = chosen.albumName;
    tmpTrack.trackname = chosen.trackname;
    tmpTrack.cover = chosen.cover;
    tmpTrack.genre = chosen.genre;
    tmpTrack.ReleaseDate = chosen.ReleaseDate;
    tmpTrack.folderLocation = chosen.folderLocation;
    tmpTrack.id = trkID;
    tmpTrack.artist_id = artID;
    tmpTrack.album_id = albID;
    tmpTrack.playlist_id = pltID;
    return tmpTrack;
}

bool LibraryAdder::sameSong(const track &a, const track &b)
{
    // Length too: two untagged "01.mp3" of one album's two discs share
    // everything else.  Encodings of one song differ by a fraction of a second.
    return a.artistName == b.artistName && a.albumName == b.albumName && a.trackname == b.trackname &&
           a.tracknumber == b.tracknumber && std::abs(a.duration - b.duration) <= 2.0;
}

LibraryAdder::AddPlan LibraryAdder::addToMainObjectthread(PlanInput input, const std::atomic<bool> &stop)
{
    AddPlan plan;
    plan.chosenTracks = input.chosenTracks;
    plan.checkedArtistIds = input.checkedArtistIds;
    plan.checkedAlbumIds = input.checkedAlbumIds;
    plan.checkedTrackIds = input.checkedTrackIds;
    plan.checkedPlaylistIds = input.checkedPlaylistIds;
    if (input.chosenTracks.isEmpty()) {
        plan.nothingChosen = true;
        return plan;
    }

    QElapsedTimer clock;
    clock.start();
    // The library is only read; what this add changes of it is kept aside.
    const TrackMap &library = input.libraryTracks;
    QHash<int, track> changed;
    auto stored = [&](int id) -> track & {
        auto it = changed.find(id);
        if (it == changed.end())
            it = changed.insert(id, library.value(id));
        return it.value();
    };
    LibraryIndex &idx = plan.index;
    idx.rebuild(library);
    // The new tracks take ids their rows will have: reserved, never guessed.
    int nextId = input.firstTrackId > 0 ? input.firstTrackId
                                        : ruvoDB::reserveTrackIds(int(input.chosenTracks.size()), idx.nextTrackId());
    if (nextId <= 0) {
        plan.failed = true;
        return plan;
    }
    QHash<int, int> addedAt; // library id -> position in addedLibraryTracks
    QSet<QString> targets;
    // What the library's videos were made from: a video chosen again is
    // there already, and is not optimised again.
    QSet<QString> videoSources;
    const auto sourceKey = [](const MadeFiles::Source &source) {
        return QStringLiteral("%1\n%2\n%3").arg(source.path).arg(source.size).arg(source.modified);
    };
    const bool videosChosen =
        std::any_of(input.chosenTracks.cbegin(), input.chosenTracks.cend(), [](const track &t) { return t.isVideo; });
    // The library's conversions by what they were made from: a song chosen
    // again from the same file is the converted one already there, though
    // its own bit rate is higher than the conversion's.
    QHash<QString, QStringList> conversionsOf;
    if (std::any_of(input.chosenTracks.cbegin(), input.chosenTracks.cend(), [](const track &t) { return !t.isVideo; })) {
        for (const auto &[source, output] : MadeFiles::recordedOutputs())
            conversionsOf[sourceKey(source)].append(output);
    }
    const auto convertedAlready = [&](const track &chosen, int playlistId) {
        const auto outputs = conversionsOf.constFind(sourceKey(MadeFiles::Source::of(chosen.filepath)));
        if (outputs == conversionsOf.cend())
            return false;
        for (const QString &output : *outputs) {
            for (int id : idx.idsByPath(output)) {
                const auto edited = changed.constFind(id);
                const track there = edited != changed.cend() ? edited.value() : library.value(id);
                const bool sameList =
                    playlistId > 0 ? there.playlist == chosen.playlist : there.playlist.isEmpty();
                if (sameList && sameSong(there, chosen))
                    return true;
            }
        }
        return false;
    };
    for (auto it = library.cbegin(); videosChosen && it != library.cend(); ++it) {
        if (!it->isVideo)
            continue;
        const MadeFiles::Source made = MadeFiles::recordedSourceOf(it->filepath);
        if (!made.path.isEmpty())
            videoSources.insert(sourceKey(made));
    }

    for (auto it = input.chosenTracks.cbegin(); it != input.chosenTracks.cend(); ++it) {
        if (stop.load())
            break;
        const track &chosen = it.value();
        const int newId = nextId;
        const int artistId = idx.artistId(chosen.artistName);
        const int albumId = idx.albumId(chosen.albumName);
        const int playlistId = idx.playlistId(chosen.playlist);
        replaceOrAppend(plan.checkedTrackIds, chosen.id, newId);
        replaceOrAppend(plan.checkedArtistIds, chosen.artist_id, artistId);
        replaceOrAppend(plan.checkedAlbumIds, chosen.album_id, albumId);
        replaceOrAppend(plan.checkedPlaylistIds, chosen.playlist_id, playlistId);
        if (input.mediaTypeFilter >= 1 && input.mediaTypeFilter <= 3) {
            plan.checkedArtistIds.clear();
            plan.checkedAlbumIds.clear();
        }

        // The file itself is already in the library.
        if (idx.duplicate(chosen.filepath, playlistId, chosen.playlist) > 0) {
            ++plan.alreadyInLibrary;
            continue;
        }
        if (chosen.isVideo) {
            if (videoSources.contains(sourceKey(MadeFiles::Source::of(chosen.filepath)))) {
                ++plan.alreadyInLibrary;
                continue;
            }
        } else if (convertedAlready(chosen, playlistId)) {
            ++plan.alreadyInLibrary;
            continue;
        }

        track record;
        setTrackMap(record, chosen, newId, artistId, albumId, playlistId);
        record.sourcePath = chosen.filepath;
        record.quality = manager::getMediaQuality(chosen.bitrate);
        const bool review = record.isMissingData || record.quality == 0;
        if (chosen.isVideo) {
            // Videos go to the optimisation, which names their files.
            record.filepath = GenerateCopyPath(chosen.albumName, chosen.filepath);
            record.id = manager::getTrackIDVideo(plan.processingTracks);
            if (review)
                plan.reviewTracks.insert(record.id, record);
            plan.processingTracks.insert(record.id, record);
            plan.videoRows.append({record.id, int(record.duration), record.filename});
            continue;
        }

        // Where the copy goes: the first name that is free, or holds this
        // same song.  Another song's file is never taken.
        const QString wanted = GenerateCopyPath(chosen.albumName, chosen.filepath);
        QString target;
        int sameSongId = 0;
        for (int n = 1; target.isEmpty(); ++n) {
            const QString candidate = MadeFiles::numbered(wanted, n);
            const QList<int> occupants = idx.idsByPath(candidate);
            if (occupants.isEmpty()) {
                // A file no track owns (the user's, or a leftover) stays too.
                if (!QFileInfo::exists(candidate) && !QFileInfo(candidate).isSymLink())
                    target = candidate;
                continue;
            }
            for (int id : occupants) {
                if (sameSong(stored(id), chosen)) {
                    target = candidate;
                    sameSongId = id;
                    break;
                }
            }
        }
        record.filepath = target;

        auto addRecord = [&](bool copy) {
            if (review)
                plan.reviewTracks.insert(newId, record);
            changed.insert(newId, record);
            idx.add(record);
            addedAt.insert(newId, plan.addedLibraryTracks.size());
            plan.addedLibraryTracks.append(record);
            ++nextId;
            if (!copy)
                return;
            plan.processingTracks.insert(newId, record);
            if (!targets.contains(target)) {
                targets.insert(target);
                plan.copyTargets.append(target);
            }
        };

        if (sameSongId <= 0) {
            addRecord(true);
            continue;
        }
        track &storedTrack = stored(sameSongId);
        const bool sameList = playlistId > 0 ? storedTrack.playlist == chosen.playlist : storedTrack.playlist.isEmpty();
        if (!sameList) {
            // The song's file is there (or on its way) for another list: this
            // entry shares it, with that file's properties.
            record.bitrate = storedTrack.bitrate;
            record.quality = storedTrack.quality;
            record.codec = storedTrack.codec;
            record.filesize = storedTrack.filesize;
            record.frequency = storedTrack.frequency;
            record.duration = storedTrack.duration;
            addRecord(false);
            continue;
        }
        if (chosen.playlist.isEmpty() && storedTrack.cover.contains(noArtworkName) &&
            !chosen.cover.contains(noArtworkName)) {
            storedTrack.cover = chosen.cover;
            plan.coverUpdates.append({sameSongId, chosen.cover});
            if (addedAt.contains(sameSongId))
                plan.addedLibraryTracks[addedAt.value(sameSongId)].cover = chosen.cover;
        }
        if (storedTrack.bitrate >= chosen.bitrate) {
            // The same song, as good or better, is there already (or
            // comes with this add).
            if (!addedAt.contains(sameSongId))
                ++plan.alreadyInLibrary;
            continue;
        }
        // The better copy of the same song takes the stored one's place.
        const track replaced = storedTrack;
        idx.remove(replaced);
        changed.remove(sameSongId);
        if (addedAt.contains(sameSongId)) {
            // A track of this very add: it never reaches the library, and
            // its target is copied once, from the file that stays.
            plan.addedLibraryTracks[addedAt.take(sameSongId)].id = 0;
            plan.processingTracks.remove(sameSongId);
            plan.reviewTracks.remove(sameSongId);
        } else {
            plan.removedLibraryTracks.append(replaced);
        }
        addRecord(true);
    }

    // Drop the entries of tracks replaced within this add.
    plan.addedLibraryTracks.erase(std::remove_if(plan.addedLibraryTracks.begin(), plan.addedLibraryTracks.end(),
                                                 [](const track &t) { return t.id == 0; }),
                                  plan.addedLibraryTracks.end());
    plan.lookupNs = clock.nsecsElapsed();
    return plan;
}

// ---- The chain --------------------------------------------------------------

void LibraryAdder::addToMainObject()
{
    const QString refusal = WorkGuard::refusalFor(WorkGuard::Work::Add);
    if (!refusal.isEmpty()) {
        qCDebug(lcAdd) << "addToMainObject: refused while other work runs";
        emit mgr.showMessageBox(QVariant(refusal));
        return;
    }
    if (mgr.mediaTypeFilter != 4)
        emit mgr.sgShowSearchProgress(QVariant(QStringLiteral("Optimising Files")));

    isStopCopy = false;
    isdiskfull = false;
    cancelled = false;
    alreadyThere = 0;
    leftOut.clear();
    storedIds.clear();
    addedIds.clear();
    collectSearchDialogValues();
    mgr.reviewTracks.clear();
    mgr.processingTracks.clear();
    optimisationVideoRows.clear();

    if (mgr.chosenTracks.isEmpty()) {
        emit mgr.showMessageBox(QVariant(messageText(4)));
        emit mgr.updateProgressSearch(QVariant(1), QVariant(1), QVariant(QString()));
        return;
    }
    emit mgr.sgShowLoading();
    emit mgr.sgHideMediaBrowser();

    PlanInput input;
    input.chosenTracks = mgr.chosenTracks;
    input.libraryTracks = mgr.libraryTracks;
    input.checkedArtistIds = chosenArtistIds;
    input.checkedAlbumIds = chosenAlbumIds;
    input.checkedTrackIds = chosenTrackIds;
    input.checkedPlaylistIds = chosenPlaylistIds;
    input.mediaTypeFilter = mgr.mediaTypeFilter;
    planJob.start([input](const std::atomic<bool> &stop) { return addToMainObjectthread(input, stop); },
                  [this](AddPlan plan) { addToMainObjectThreadFinished(std::move(plan)); });
}

void LibraryAdder::addToMainObjectThreadFinished(AddPlan plan)
{
    emit mgr.sgHideLoading();
    if (mgr.closing)
        return;
    if (plan.failed) {
        emit mgr.showMessageBox(QVariant(QStringLiteral("The library could not be written to: nothing was added.")));
        emit mgr.updateProgressSearch(QVariant(1), QVariant(1), QVariant(QString()));
        return;
    }

    mgr.chosenTracks = plan.chosenTracks;
    // The browser's choice is the add's: the library's ticks stay the
    // user's own (Remove and Transfer act on them).

    replacedTracks.clear();
    for (const track &old : plan.removedLibraryTracks) {
        mgr.libraryTracks.remove(old.id);
        replacedTracks.insert(old.filepath, old);
    }
    for (const auto &cover : plan.coverUpdates) {
        auto it = mgr.libraryTracks.find(cover.first);
        if (it != mgr.libraryTracks.end())
            it->cover = cover.second;
    }
    addedIds.clear();
    for (const track &t : plan.addedLibraryTracks) {
        mgr.libraryTracks.insert(t.id, t);
        addedIds.append(t.id);
    }
    mgr.reviewTracks = plan.reviewTracks;
    mgr.processingTracks = plan.processingTracks;
    copypathList = QSet<QString>(plan.copyTargets.cbegin(), plan.copyTargets.cend());
    index = std::move(plan.index);
    if (index.size() != mgr.libraryTracks.size())
        index.rebuild(mgr.libraryTracks); // the library changed while the plan was made
    optimisationVideoRows = plan.videoRows;
    alreadyThere = plan.alreadyInLibrary;
    qCDebug(lcAdd) << "ids and duplicates of" << plan.chosenTracks.size() << "tracks took" << plan.lookupNs / 1000000.0
                   << "ms";

    if (mgr.mediaTypeFilter == 4) {
        if (mgr.processingTracks.isEmpty()) {
            emit mgr.updateProgressSearch(QVariant(1), QVariant(1), QVariant(QString()));
            mgr.refreshViews();
        } else {
            // A video the run has already counts as there: it will be.
            alreadyThere += startVideoOptimisation();
        }
        const QString told = alreadyThereMessage(alreadyThere, int(mgr.chosenTracks.size()));
        if (!told.isEmpty())
            emit mgr.showMessageBox(QVariant(told));
        return;
    }
    if (mgr.processingTracks.isEmpty() || isStopCopy) {
        // Nothing to convert (only entries sharing files already there), or
        // cancelled while planning: the copy stage stores what it may.
        startCopy();
        return;
    }

    doneCount = 0;
    converterReasons.clear();
    emit mgr.sgUpdateTranscodingCounter(QVariant(0), QVariant(int(mgr.processingTracks.size())));
    fmm = std::make_unique<ffmpeghandler>();
    connect(fmm.get(), &ffmpeghandler::sgFiletranscodedOk, &mgr, &manager::slUpdateTranscodingCount,
            Qt::QueuedConnection);
    connect(fmm.get(), &ffmpeghandler::sgUpdateMainObject, &mgr, &manager::slUpdateObjectTranscoding,
            Qt::QueuedConnection);
    connect(
        fmm.get(), &ffmpeghandler::sgFileLeftOut, this,
        [this](qint64 id, const QString &reason) { converterReasons.insert(int(id), reason); }, Qt::QueuedConnection);
    connect(fmm.get(), &ffmpeghandler::sgRemoveFile, &mgr, &manager::slRemoveFileAudio, Qt::QueuedConnection);
    ffmpeghandler *converter = fmm.get();
    const TrackMap work = mgr.processingTracks;
    const transferDetail detail = transcodingDetail();
    transcodeJob.start(
        [converter, work, detail](const std::atomic<bool> &stop) {
            converter->linkStopFlag(&stop);
            return converter->TranscodeOnOK(work, detail);
        },
        [this](QList<track> transcoded) { Transcodingfinished(std::move(transcoded)); });
}

int LibraryAdder::startVideoOptimisation()
{
    // The video optimisation takes over from here with processingTracks; it
    // shows its own dialog, so the search overlay closes.
    emit mgr.updateProgressSearch(QVariant(1), QVariant(1), QVariant(QString()));
    return mgr.videoOptimisation ? mgr.videoOptimisation->start(mgr.processingTracks) : 0;
}

transferDetail LibraryAdder::transcodingDetail() const
{
    transferDetail detail;
    detail.drivePath = QStringLiteral("C:/");
    Combo combo;
    detail.system = *combo.getsystemDetail();
    return detail;
}

void LibraryAdder::removeLibraryTrack(int id)
{
    const auto it = mgr.libraryTracks.find(id);
    if (it == mgr.libraryTracks.end())
        return;
    index.remove(it.value());
    mgr.libraryTracks.erase(it);
}

void LibraryAdder::insertLibraryTrack(const track &t)
{
    removeLibraryTrack(t.id);
    mgr.libraryTracks.insert(t.id, t);
    index.add(t);
}

void LibraryAdder::leaveOut(int id, const QString &reason)
{
    const auto it = mgr.libraryTracks.constFind(id);
    if (it == mgr.libraryTracks.cend())
        return;
    leftOut.append({id, it->filename.isEmpty() ? QFileInfo(it->sourcePath).fileName() : it->filename, reason});
    mgr.reviewTracks.remove(id);
    removeLibraryTrack(id);
}

void LibraryAdder::leaveOutWithSharers(int id, const QString &reason)
{
    const QString file = mgr.libraryTracks.value(id).filepath;
    leaveOut(id, reason);
    // Entries of this add that were to share its file go with it.
    for (int other : std::as_const(addedIds)) {
        const auto it = mgr.libraryTracks.constFind(other);
        if (it != mgr.libraryTracks.cend() && !storedIds.contains(other) && it->filepath == file)
            leaveOut(other, reason);
    }
}

void LibraryAdder::Transcodingfinished(QList<track> transcoded)
{
    qDebug() << "Transcoding Done...." << transcoded.size();
    if (mgr.closing)
        return;
    for (const track &t : std::as_const(transcoded)) {
        if (t.id <= 0)
            continue;
        // The converter stored the row under the track's own id, and in doing
        // so dropped any older row of that file in the same list.
        const QList<int> older = index.idsByPath(t.filepath);
        for (int id : older) {
            const auto other = mgr.libraryTracks.constFind(id);
            if (id != t.id && other != mgr.libraryTracks.cend() && other->playlist == t.playlist) {
                mgr.reviewTracks.remove(id);
                removeLibraryTrack(id);
            }
        }
        insertLibraryTrack(t);
        mgr.reviewTracks.insert(t.id, t);
        storedIds.insert(t.id);
    }
    // Entries of this add that share a converted track's file follow it.
    QHash<QString, track> convertedFrom; // planned target -> the converted track
    for (const track &t : std::as_const(transcoded)) {
        if (t.id > 0) {
            convertedFrom.insert(t.sourcePath, t);
            copypathList.remove(t.sourcePath);
        }
    }
    for (int id : std::as_const(addedIds)) {
        const auto it = mgr.libraryTracks.constFind(id);
        if (it == mgr.libraryTracks.cend() || storedIds.contains(id) || !convertedFrom.contains(it->filepath))
            continue;
        const track &converted = convertedFrom[it->filepath];
        track moved = *it;
        moved.filepath = converted.filepath;
        moved.codec = converted.codec;
        moved.filesize = converted.filesize;
        insertLibraryTrack(moved);
    }
    startCopy();
}

void LibraryAdder::startCopy()
{
    // Each new track not stored yet: grouped by the file it is stored with.
    // A file still to be copied comes from the source of a track planned
    // there; any other is there already and only gets its rows.
    QList<CopyItem> items;
    QHash<QString, int> itemAt;
    for (int id : std::as_const(addedIds)) {
        const auto it = mgr.libraryTracks.constFind(id);
        if (it == mgr.libraryTracks.cend() || it->isVideo || storedIds.contains(id))
            continue;
        if (isStopCopy) {
            leaveOut(id, QString());
            continue;
        }
        int at = itemAt.value(it->filepath, -1);
        if (at < 0) {
            at = int(items.size());
            itemAt.insert(it->filepath, at);
            CopyItem item;
            item.target = it->filepath;
            items.append(item);
        }
        CopyItem &item = items[at];
        item.records.append(*it);
        // The source's size is measured by the copy job: a stat per file
        // here held the event loop for tens of milliseconds on a large add.
        if (item.source.isEmpty() && copypathList.contains(it->filepath) && mgr.processingTracks.contains(id))
            item.source = it->sourcePath;
    }
    const TrackMap review = isStopCopy ? TrackMap() : mgr.reviewTracks;
    const int transcoded = doneCount;
    const int total = int(mgr.processingTracks.size());
    QPointer<LibraryAdder> self(this);
    manager *controller = &mgr;
    auto progress = [self, controller, transcoded, total](int done, const QString &) {
        QMetaObject::invokeMethod(
            controller,
            [self, controller, transcoded, total, done] {
                if (self)
                    self->doneCount = transcoded + done;
                emit controller->sgUpdateTranscodingCounter(QVariant(transcoded + done), QVariant(total));
            },
            Qt::QueuedConnection);
    };
    const TrackMap library = mgr.libraryTracks;
    copyJob.start(
        [items, review, progress, library](const std::atomic<bool> &stop) {
            return CopyPath(items, review, stop, progress, library);
        },
        [this](CopyResult result) { Copyfinished(std::move(result)); });
}

namespace {

QString storeFailure()
{
    return QStringLiteral("it could not be stored in the library");
}

// Why a copy failed, as the user reads it.
QString copyFailure(SafeFileCopy::Outcome outcome, int error)
{
    if (outcome == SafeFileCopy::SourceUnreadable)
        return RegularFile::failure(error);
    return QStringLiteral("it could not be copied (%1)").arg(QString::fromLocal8Bit(strerror(error)));
}

// The device of the nearest existing folder of `path`: the volume a copy
// there lands on.
dev_t deviceOf(const QString &path)
{
    struct stat info
    {
    };
    return ::stat(QFile::encodeName(existingAncestor(path)).constData(), &info) == 0 ? info.st_dev : dev_t(0);
}

} // namespace

LibraryAdder::CopyResult LibraryAdder::CopyPath(const QList<CopyItem> &items, const TrackMap &reviewTracks,
                                                const std::atomic<bool> &stop,
                                                const std::function<void(int, const QString &)> &progress,
                                                const TrackMap &library)
{
    CopyResult result;
    Logging *log = Logging::getInstance();
    ruvoDB db;

    // A few folders are filled at once, each by one thread of a pool of the
    // job's own (the job runs on a pool thread and must not wait there for
    // work queued behind it): threads making files side by side in one
    // folder only queue on that folder's lock.  This thread writes the rows,
    // each once its file is in place, while the next files are copied.
    struct Copied
    {
        int index = 0;
        SafeFileCopy::Outcome outcome = SafeFileCopy::Copied;
        int error = 0;
        qint64 size = 0; // the source's, as the copy job measured it
    };
    struct Shared
    {
        QMutex mutex;
        QWaitCondition changed;
        std::deque<Copied> done;
        // Room per volume, less the reserve the add leaves free: asked
        // once, then every copy begun takes its size
        // off.  The volume's own free space already counts what the copies
        // under way have written, so asking it anew would count them twice.
        QHash<dev_t, qint64> budget;
        bool stopStarting = false;
        bool diskFull = false;
        int nextFolder = 0;
        int working = 0;
    } shared;

    QList<QList<int>> folders; // item indices by target folder, in list order
    QHash<QString, int> folderAt;
    QList<int> pendingRows;
    for (int i = 0; i < items.size(); ++i) {
        const CopyItem &item = items.at(i);
        if (item.source.isEmpty()) {
            // The file is there already (shared with another entry).
            if (QFileInfo(item.target).isFile())
                pendingRows.append(i);
            else
                for (const track &t : item.records)
                    result.leftOut.append({t.id, t.filename, QStringLiteral("the file is no longer there")});
            continue;
        }
        const QString folder = QFileInfo(item.target).absolutePath();
        auto at = folderAt.constFind(folder);
        if (at == folderAt.cend()) {
            at = folderAt.insert(folder, int(folders.size()));
            folders.append(QList<int>());
        }
        folders[*at].append(i);
    }

    // Every file this job makes is written down before it is made: a kill
    // from here on leaves nothing of ours that the next start can't settle.
    // A target there already (the copy a better one replaces) is not made
    // here: its row owns it whatever happens.
    QStringList madeTargets;
    for (const QList<int> &files : std::as_const(folders))
        for (int index : files)
            if (!QFileInfo::exists(items.at(index).target) && !QFileInfo(items.at(index).target).isSymLink())
                madeTargets << items.at(index).target;
    if (!FileJournal::note(madeTargets)) {
        for (const QList<int> &files : std::as_const(folders))
            for (int index : files)
                for (const track &t : items.at(index).records)
                    result.leftOut.append({t.id, t.filename, storeFailure()});
        folders.clear();
    }

    auto fill = [&items, &folders, &shared, &stop, log] {
        for (;;) {
            int folderIndex = 0;
            {
                QMutexLocker lock(&shared.mutex);
                if (shared.stopStarting || stop.load() || shared.nextFolder >= folders.size())
                    break;
                folderIndex = shared.nextFolder++;
            }
            const QList<int> &files = folders.at(folderIndex);
            const QString folder = QFileInfo(items.at(files.first()).target).absolutePath();
            const dev_t volume = deviceOf(folder);
            bool made = false;
            for (int index : files) {
                const CopyItem &item = items.at(index);
                const qint64 size = item.size > 0 ? item.size : QFileInfo(item.source).size();
                {
                    QMutexLocker lock(&shared.mutex);
                    if (stop.load())
                        shared.stopStarting = true;
                    if (shared.stopStarting)
                        break;
                    auto room = shared.budget.find(volume);
                    if (room == shared.budget.end())
                        room = shared.budget.insert(volume, copyBudget(folder));
                    if (*room >= 0 && *room < size) {
                        // A copy that can't fit is not begun.
                        shared.diskFull = shared.stopStarting = true;
                        break;
                    }
                    if (*room >= 0)
                        *room -= size;
                }
                if (!made)
                    made = QDir().mkpath(folder);
                log->WriteLog(QStringLiteral("Copying..") + item.target, QString());
                Copied copied{index};
                copied.size = size;
                copied.outcome = SafeFileCopy::copy(item.source, item.target, &copied.error);
                QMutexLocker lock(&shared.mutex);
                if (copied.outcome == SafeFileCopy::VolumeFull)
                    shared.stopStarting = true;
                shared.done.push_back(copied);
                shared.changed.wakeAll();
            }
        }
        QMutexLocker lock(&shared.mutex);
        --shared.working;
        shared.changed.wakeAll();
    };

    QThreadPool pool;
    const int threads = int(std::min<qsizetype>(std::clamp(QThread::idealThreadCount(), 1, 4), folders.size()));
    pool.setMaxThreadCount(std::max(threads, 1));
    shared.working = threads;
    for (int i = 0; i < threads; ++i)
        pool.start(fill);

    // Rows go in in batches, one transaction each: a row per transaction
    // would cost more than the copy of a small file.  A batch is flushed to
    // the disk first, so it is counted in bytes too: each flush stalls the
    // copies, and a few large ones cost far less than many small ones.
    constexpr int rowBatch = 512;
    constexpr qint64 byteBatch = qint64(256) << 20;
    qint64 pendingBytes = 0;
    auto flushRows = [&] {
        pendingBytes = 0;
        if (pendingRows.isEmpty())
            return;
        // The copies reach the disk before their rows are written: once per
        // volume and batch.
        QSet<dev_t> volumes;
        bool flushed = true;
        for (int index : std::as_const(pendingRows)) {
            const QString &target = items.at(index).target;
            const dev_t volume = deviceOf(target);
            if (!items.at(index).source.isEmpty() && !volumes.contains(volume)) {
                volumes.insert(volume);
                flushed = AtomicFile::syncVolume(target) && flushed;
            }
        }
        QList<track> records;
        for (int index : std::as_const(pendingRows))
            records += items.at(index).records;
        const bool batchStored = flushed && db.insertTracks(records);
        for (int index : std::as_const(pendingRows)) {
            const CopyItem &item = items.at(index);
            bool all = true;
            for (const track &t : item.records) {
                if (flushed && (batchStored || db.storeTrack(t) == t.id)) {
                    result.storedIds.append(t.id);
                } else {
                    all = false;
                    result.leftOut.append(
                        {t.id, t.filename, flushed ? storeFailure() : QStringLiteral("it could not be written to the disk")});
                }
            }
            if (all)
                result.copiedTargets.append(item.target);
        }
        pendingRows.clear();
    };

    int done = 0;
    for (;;) {
        std::deque<Copied> finished;
        {
            QMutexLocker lock(&shared.mutex);
            while (shared.done.empty() && shared.working > 0)
                shared.changed.wait(&shared.mutex);
            finished.swap(shared.done);
            if (finished.empty())
                break; // every thread has ended
        }
        for (const Copied &copied : finished) {
            const CopyItem &item = items.at(copied.index);
            ++result.copies;
            if (copied.outcome == SafeFileCopy::Copied) {
                // The rows only once the file is in place.
                pendingRows.append(copied.index);
                pendingBytes += copied.size;
                if (pendingRows.size() >= rowBatch || pendingBytes >= byteBatch)
                    flushRows();
            } else {
                qCWarning(lcAdd) << "copy failed" << item.source << "->" << item.target << strerror(copied.error);
                result.failedTargets.append(item.target);
                if (copied.outcome == SafeFileCopy::VolumeFull)
                    result.diskFull = true;
                else
                    for (const track &t : item.records)
                        result.leftOut.append({t.id, t.filename.isEmpty() ? QFileInfo(item.source).fileName() : t.filename,
                                               copyFailure(copied.outcome, copied.error)});
            }
            if (progress)
                progress(++done, item.target);
        }
    }
    pool.waitForDone();
    flushRows();
    result.diskFull = result.diskFull || shared.diskFull;

    // A target whose rows are not written keeps no file of this job's (the
    // file a better copy was to replace stays: its row owns it).
    QStringList unsettled;
    const QSet<QString> copied(result.copiedTargets.cbegin(), result.copiedTargets.cend());
    for (const QString &target : std::as_const(madeTargets))
        if (!copied.contains(target))
            unsettled << target;
    if (!unsettled.isEmpty())
        FileJournal::settle(ruvoDB::programCopyFolder(), unsettled);

    // The library shows only what is there; a missing file whose folder is
    // gone too (an unplugged drive) keeps its row, and so does any other.
    result.missingFiles = ruvoDB::checkFiles(library).leftOut;

    if (!result.diskFull && !stop.load()) {
        const QSet<int> stored(result.storedIds.cbegin(), result.storedIds.cend());
        for (auto it = reviewTracks.cbegin(); it != reviewTracks.cend(); ++it) {
            if (stop.load())
                break;
            if (it->isMissingData && (stored.contains(it.key()) || QFileInfo(it->filepath).isFile()))
                result.lookupTracks.insert(it.key(), it.value());
        }
    }
    log->WriteLog(QString::number(result.copies) + QStringLiteral(" File Copying Done"), QString());
    return result;
}

void LibraryAdder::Copyfinished(CopyResult result)
{
    if (mgr.closing)
        return;
    for (int id : std::as_const(result.storedIds))
        storedIds.insert(id);
    for (const LeftOut &out : std::as_const(result.leftOut))
        leaveOut(out.id, out.reason);
    for (const QString &target : std::as_const(result.failedTargets)) {
        // The replaced track's file is still there: it stays in the library.
        const auto replaced = replacedTracks.constFind(target);
        if (replaced != replacedTracks.cend())
            insertLibraryTrack(replaced.value());
    }
    // What has no row now never made it: a copy not begun (a full volume, a
    // cancel) or failed.  It leaves the library the views show.
    for (int id : std::as_const(addedIds)) {
        const auto it = mgr.libraryTracks.constFind(id);
        if (it != mgr.libraryTracks.cend() && !it->isVideo && !storedIds.contains(id)) {
            mgr.reviewTracks.remove(id);
            removeLibraryTrack(id);
        }
    }
    // Whatever file went missing meanwhile leaves the views (its row stays).
    for (const auto &missing : std::as_const(result.missingFiles)) {
        const auto it = mgr.libraryTracks.constFind(missing.first);
        if (it != mgr.libraryTracks.cend() && it->filepath == missing.second && !QFileInfo::exists(it->filepath)) {
            mgr.reviewTracks.remove(missing.first);
            removeLibraryTrack(missing.first);
        }
    }
    copypathList.clear();
    mgr.lookupTracks = result.lookupTracks;
    finish(result.diskFull || isdiskfull);
}

QString LibraryAdder::alreadyThereMessage(int already, int chosen)
{
    if (already <= 0)
        return QString();
    if (already >= chosen)
        return chosen == 1 ? QStringLiteral("The chosen item is already in the library.")
                           : QStringLiteral("The chosen items are already in the library.");
    return QStringLiteral("%1 of the %2 chosen items %3 already in the library and %4 not added again.")
        .arg(already)
        .arg(chosen)
        .arg(already == 1 ? QStringLiteral("was") : QStringLiteral("were"))
        .arg(already == 1 ? QStringLiteral("was") : QStringLiteral("were"));
}

QString LibraryAdder::endMessage(bool diskFull, bool wasCancelled, int added, int chosen, const QList<LeftOut> &leftOut,
                                 int already)
{
    if (diskFull)
        return MessageHandler().message(1);
    if (wasCancelled)
        return QStringLiteral("The add was cancelled: %1 of %2 media %3 added to the library.")
            .arg(added)
            .arg(chosen)
            .arg(added == 1 ? QStringLiteral("was") : QStringLiteral("were"));
    // Those left out by a cancel or a full volume carry no reason of their own.
    QStringList lines;
    for (const LeftOut &out : leftOut) {
        if (!out.reason.isEmpty())
            lines << QStringLiteral("%1: %2").arg(out.name, out.reason);
    }
    // Conversions and copies finish in no fixed order: the user reads the
    // names in one.
    lines.sort(Qt::CaseInsensitive);
    const QString there = alreadyThereMessage(already, chosen);
    if (lines.isEmpty())
        return there;
    return (there.isEmpty() ? QString() : there + QStringLiteral("\n\n")) +
           QStringLiteral("%1 of the chosen media could not be added to the library:\n").arg(lines.size()) +
           shared::shortList(lines);
}

void LibraryAdder::finish(bool diskFull)
{
    const QString message =
        endMessage(diskFull, cancelled, int(storedIds.size()), int(mgr.chosenTracks.size()), leftOut, alreadyThere);
    if (!message.isEmpty())
        emit mgr.showMessageBox(QVariant(message));
    isdiskfull = false;
    if (diskFull || cancelled) {
        isStopCopy = true;
        mgr.refreshViews();
    } else if (mgr.lookupTracks.isEmpty()) {
        mgr.refreshViews();
        isStopCopy = false;
    } else {
        mgr.progressCount = 0;
        mgr.apiProgressCount = 0;
        mgr.progressTotal = int(mgr.lookupTracks.size());
        emit mgr.showProgressDialog();
        if (mgr.apiManager)
            mgr.apiManager->setDoUpdate(true);
        if (!isOnline() || !mgr.apiManager) {
            emit mgr.updateProgress(QVariant(1), QVariant(1));
            mgr.refreshViews();
        } else {
            emit mgr.updateProgress(QVariant(mgr.progressTotal), QVariant(0));
            mgr.apiManager->searchfromApi(mgr.lookupTracks);
        }
        isStopCopy = false;
    }
    emit mgr.updateProgressSearch(QVariant(1), QVariant(1), QVariant(QString()));
    Logging::getInstance()->WriteLog(QStringLiteral("Add to main library completed: %1 added, %2 left out%3")
                                         .arg(storedIds.size())
                                         .arg(leftOut.size())
                                         .arg(diskFull    ? QStringLiteral(", the volume is full")
                                              : cancelled ? QStringLiteral(", cancelled")
                                                          : QString()),
                                     QString());
}

// ---- Lookup results and converter signals ------------------------------------

void LibraryAdder::updateMainObjectMgr(track updatedTrack)
{
    if (updatedTrack.id < 1) {
        mgr.progressTotal = 0;
        mgr.progressCount = 0;
        mgr.refreshViews();
        mgr.updateProgressBar();
    } else if (mgr.libraryTracks.contains(updatedTrack.id)) {
        if (index.size() != mgr.libraryTracks.size())
            index.rebuild(mgr.libraryTracks);
        updatedTrack.album_id = index.albumId(updatedTrack.albumName);
        updatedTrack.artist_id = index.artistId(updatedTrack.artistName);
        updatedTrack.playlist_id = index.playlistId(updatedTrack.playlist);

        // A track looked up is not ticked for it: the library's ticks are
        // the user's.
        // The row is re-stored under the track's id; the map follows only
        // what the library really holds.
        ruvoDB db;
        if (db.storeTrack(updatedTrack) == updatedTrack.id) {
            insertLibraryTrack(updatedTrack);
            // The album's row has taken the picture: so do its tracks shown
            // without one, as they will be when the library is next loaded.
            if (updatedTrack.hasCover && updatedTrack.playlist.isEmpty() && !updatedTrack.isVideo) {
                for (track &t : mgr.libraryTracks) {
                    if (t.album_id == updatedTrack.album_id && t.playlist.isEmpty() && !t.isVideo &&
                        (t.cover.isEmpty() || t.cover.contains(noArtworkName))) {
                        t.cover = updatedTrack.cover;
                        t.hasCover = true;
                    }
                }
            }
            // Still up for review while its tags are incomplete or its
            // quality poor: the completion changes neither a bit rate nor,
            // often, every tag.
            const auto review = mgr.reviewTracks.find(updatedTrack.id);
            if (review != mgr.reviewTracks.end()) {
                if (AdvancedSettings::hasMissingData(updatedTrack) || AdvancedSettings::isPoorQuality(updatedTrack))
                    review.value() = updatedTrack;
                else
                    mgr.reviewTracks.erase(review);
            }
        } else {
            qCWarning(lcAdd) << "storing the looked-up track failed" << updatedTrack.filepath;
        }
    } else {
        // Removed while it was looked up: it stays removed.
        qCDebug(lcAdd) << "lookup result for a track no longer in the library:" << updatedTrack.filepath;
    }
    if (mgr.apiProgressCount <= mgr.progressCount)
        mgr.updateProgressBar();
}

void LibraryAdder::slUpdateTranscodingCount(const QString &updatedTrack)
{
    Q_UNUSED(updatedTrack)
    ++doneCount;
    emit mgr.sgUpdateTranscodingCounter(QVariant(doneCount), QVariant(int(mgr.processingTracks.size())));
}

void LibraryAdder::slRemoveFileAudio(const QString &filepath, qint64 trackID, qint64 flag)
{
    Q_UNUSED(filepath)
    if (trackID <= 0 || trackID > std::numeric_limits<int>::max())
        return;
    const int id = int(trackID);
    switch (flag) {
    case ffmpeghandler::Failed:
    case ffmpeghandler::Unreadable:
    case ffmpeghandler::Damaged:
    case ffmpeghandler::NotStored: {
        // Not converted, or its row not written: it is neither copied nor
        // stored, and the converter said why.
        const QString reason = converterReasons.take(id);
        leaveOutWithSharers(id, reason.isEmpty() ? QStringLiteral("no format the car plays could be made of it")
                                                 : reason);
        break;
    }
    case ffmpeghandler::NoRoom:
        // Like a full volume during the copy: the add stops here.
        isdiskfull = true;
        isStopCopy = true;
        leaveOutWithSharers(id, QString());
        break;
    case ffmpeghandler::AlreadyConverted:
    case ffmpeghandler::Converted:
        // Stored with the converted file; Transcodingfinished takes it over.
        mgr.reviewTracks.remove(id);
        break;
    default:
        return;
    }
}

void LibraryAdder::slCancelSearchCopy()
{
    if (isBusy())
        cancelled = true;
    isStopCopy = true;
    planJob.requestStop();
    transcodeJob.requestStop();
    copyJob.requestStop();
    if (fmm)
        fmm->stop();
}
