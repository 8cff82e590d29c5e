#include "app/libraryadder.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMutex>
#include <QNetworkInformation>
#include <QPointer>
#include <QRandomGenerator>
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

#include "app/manager.h"
#include "app/messagehandler.h"
#include "core/logging.h"
#include "core/shared.h"
#include "database/ruvodb.h"
#include "delivery/combo.h"
#include "delivery/ffmpeghandler.h"
#include "lookup/apimanager.h"

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
    mgr.checkedArtistIds.clear();
    mgr.checkedAlbumIds.clear();
    mgr.checkedTrackIds.clear();
    mgr.checkedPlaylistIds.clear();

    const BrowserRows rows = browserRows ? browserRows() : BrowserRows();
    if (mgr.displayType == 0) {
        if (mgr.browserView == 1) {
            for (const QObject *row : rows.artistModels)
                if (counts(row))
                    appendOnce(mgr.checkedArtistIds, row->property("artistid").toInt());
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
                        mgr.checkedTrackIds.append(entry->property("trackid").toInt());
                    else if (entry->property("selected").toBool())
                        appendOnce(mgr.checkedTrackIds, entry->property("trackid").toInt());
                }
            }
        } else {
            // The video category's album rows stand for single videos.
            QList<int> &ids = mgr.mediaTypeFilter == 4 ? mgr.checkedTrackIds : mgr.checkedAlbumIds;
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
                appendOnce(mgr.checkedTrackIds, row->property("trackid").toInt());
    }
    mgr.chosenTracks = chooseTracks(mgr.browserTracks, mgr.checkedArtistIds, mgr.checkedAlbumIds, mgr.checkedTrackIds,
                                    mgr.mediaTypeFilter);
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
    QHash<int, int> addedAt; // library id -> position in addedLibraryTracks
    QSet<QString> targets;

    for (auto it = input.chosenTracks.cbegin(); it != input.chosenTracks.cend(); ++it) {
        if (stop.load())
            break;
        const track &chosen = it.value();
        const int newId = idx.nextTrackId();
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
        if (idx.duplicate(chosen.filepath, playlistId, chosen.playlist) > 0)
            continue;

        track record;
        record.sourcePath = chosen.filepath;
        const QString target = GenerateCopyPath(chosen.albumName, chosen.filepath);
        record.filepath = target;
        const int storedId = idx.duplicate(target, playlistId, chosen.playlist);

        auto addRecord = [&](bool asVideo) {
            setTrackMap(record, chosen, newId, artistId, albumId, playlistId);
            record.quality = manager::getMediaQuality(chosen.bitrate);
            const bool review = record.isMissingData || record.quality == 0;
            if (asVideo) {
                record.id = manager::getTrackIDVideo(plan.processingTracks);
                if (review)
                    plan.reviewTracks.insert(record.id, record);
                plan.processingTracks.insert(record.id, record);
                plan.videoRows.append({record.id, int(record.duration), record.filename});
                return;
            }
            if (review)
                plan.reviewTracks.insert(newId, record);
            changed.insert(newId, record);
            idx.add(record);
            addedAt.insert(newId, plan.addedLibraryTracks.size());
            plan.addedLibraryTracks.append(record);
            plan.processingTracks.insert(newId, record);
            if (!targets.contains(target)) {
                targets.insert(target);
                plan.copyTargets.append(target);
            }
            plan.copyOwners.insert(target, it.key());
            plan.targetTrackIds.insert(target, newId);
        };

        if (storedId <= 0) {
            addRecord(chosen.isVideo);
            continue;
        }

        track &storedTrack = stored(storedId);
        if (chosen.playlist.isEmpty() && storedTrack.cover.contains(noArtworkName) &&
            !chosen.cover.contains(noArtworkName)) {
            storedTrack.cover = chosen.cover;
            plan.coverUpdates.append({storedId, chosen.cover});
            if (addedAt.contains(storedId))
                plan.addedLibraryTracks[addedAt.value(storedId)].cover = chosen.cover;
        }
        if (storedTrack.bitrate >= chosen.bitrate)
            continue;
        // The better copy takes the stored one's place.
        const track replaced = storedTrack;
        idx.remove(replaced);
        changed.remove(storedId);
        if (addedAt.contains(storedId)) {
            // A track of this very add: it never reaches the library, and
            // its target is copied once, from the file that stays.
            plan.addedLibraryTracks[addedAt.take(storedId)].id = 0;
            plan.processingTracks.remove(storedId);
            plan.reviewTracks.remove(storedId);
        } else {
            plan.removedLibraryTracks.append(replaced);
        }
        if (!chosen.isVideo)
            addRecord(false);
    }

    // Drop the entries of tracks replaced within this add.
    plan.addedLibraryTracks.erase(std::remove_if(plan.addedLibraryTracks.begin(), plan.addedLibraryTracks.end(),
                                                 [](const track &t) { return t.id == 0; }),
                                  plan.addedLibraryTracks.end());
    plan.lookupNs = clock.nsecsElapsed();
    qDebug() << "addToMainObject end" << QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
    return plan;
}

// ---- The chain --------------------------------------------------------------

void LibraryAdder::addToMainObject()
{
    if (isBusy()) {
        // One add at a time: a second one would share the work lists.
        qCDebug(lcAdd) << "addToMainObject: an add is still running";
        return;
    }
    if (mgr.mediaTypeFilter != 4)
        emit mgr.sgShowSearchProgress(QVariant(QStringLiteral("Optimising Files")));

    isStopCopy = false;
    isdiskfull = false;
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
    input.checkedArtistIds = mgr.checkedArtistIds;
    input.checkedAlbumIds = mgr.checkedAlbumIds;
    input.checkedTrackIds = mgr.checkedTrackIds;
    input.checkedPlaylistIds = mgr.checkedPlaylistIds;
    input.mediaTypeFilter = mgr.mediaTypeFilter;
    planJob.start([input](const std::atomic<bool> &stop) { return addToMainObjectthread(input, stop); },
                  [this](AddPlan plan) { addToMainObjectThreadFinished(std::move(plan)); });
}

void LibraryAdder::addToMainObjectThreadFinished(AddPlan plan)
{
    emit mgr.sgHideLoading();
    qDebug() << "addToMainObjectThreadFinished" << QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
    if (mgr.closing)
        return;

    mgr.chosenTracks = plan.chosenTracks;
    mgr.checkedArtistIds = plan.checkedArtistIds;
    mgr.checkedAlbumIds = plan.checkedAlbumIds;
    mgr.checkedTrackIds = plan.checkedTrackIds;
    mgr.checkedPlaylistIds = plan.checkedPlaylistIds;

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
    copypathList = plan.copyTargets;
    copyOwners = plan.copyOwners;
    targetTrackIds = plan.targetTrackIds;
    index = std::move(plan.index);
    if (index.size() != mgr.libraryTracks.size())
        index.rebuild(mgr.libraryTracks); // the library changed while the plan was made
    optimisationVideoRows = plan.videoRows;
    qCDebug(lcAdd) << "ids and duplicates of" << plan.chosenTracks.size() << "tracks took" << plan.lookupNs / 1000000.0
                   << "ms";

    if (mgr.processingTracks.isEmpty()) {
        emit mgr.updateProgressSearch(QVariant(1), QVariant(1), QVariant(QString()));
        mgr.refreshViews();
        return;
    }
    if (mgr.mediaTypeFilter == 4) {
        startVideoOptimisation();
        return;
    }
    if (isStopCopy) {
        // Cancelled while planning: nothing is converted or copied, and the
        // completion takes out what has no file.
        startCopy();
        return;
    }

    doneCount = 0;
    emit mgr.sgUpdateTranscodingCounter(QVariant(0), QVariant(int(mgr.processingTracks.size())));
    fmm = std::make_unique<ffmpeghandler>();
    connect(fmm.get(), &ffmpeghandler::sgFiletranscodedOk, &mgr, &manager::slUpdateTranscodingCount,
            Qt::QueuedConnection);
    connect(fmm.get(), &ffmpeghandler::sgUpdateMainObject, &mgr, &manager::slUpdateObjectTranscoding,
            Qt::QueuedConnection);
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

void LibraryAdder::startVideoOptimisation()
{
    // The video optimisation takes over from here with processingTracks; it
    // shows its own dialog, so the search overlay closes.
    emit mgr.updateProgressSearch(QVariant(1), QVariant(1), QVariant(QString()));
    mgr.startVideoOptimisation();
}

transferDetail LibraryAdder::transcodingDetail() const
{
    transferDetail detail;
    detail.drivePath = QStringLiteral("C:/");
    Combo combo;
    detail.system = *combo.getsystemDetail();
    return detail;
}

void LibraryAdder::takeOffCopyList(const QString &path)
{
    copypathList.removeAll(path);
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

void LibraryAdder::Transcodingfinished(QList<track> transcoded)
{
    qDebug() << "Transcoding Done";
    qDebug() << "Transcoding Done...." << transcoded.size();
    if (mgr.closing)
        return;
    for (const track &t : std::as_const(transcoded)) {
        if (t.id <= 0)
            continue;
        for (const QString &path : {t.sourcePath, t.filepath}) {
            const QList<int> ids = index.idsByPath(path);
            for (int id : ids)
                removeLibraryTrack(id);
            if (!ids.isEmpty())
                takeOffCopyList(path);
        }
        insertLibraryTrack(t);
        for (auto it = mgr.reviewTracks.begin(); it != mgr.reviewTracks.end();) {
            if (it->filepath == t.sourcePath || it->filepath == t.filepath) {
                takeOffCopyList(it->filepath);
                it = mgr.reviewTracks.erase(it);
            } else {
                ++it;
            }
        }
        mgr.reviewTracks.insert(t.id, t);
        // The converted file is the library's copy: nothing to copy for it.
        takeOffCopyList(t.sourcePath);
    }
    qDebug() << "transcoding finished";
    startCopy();
}

void LibraryAdder::startCopy()
{
    QList<CopyItem> items;
    if (!isStopCopy) {
        const QSet<QString> pending(copypathList.cbegin(), copypathList.cend());
        for (auto it = mgr.chosenTracks.cbegin(); it != mgr.chosenTracks.cend(); ++it) {
            const track &chosen = it.value();
            const QString target = GenerateCopyPath(chosen.albumName, chosen.filepath);
            if (chosen.isVideo || !pending.contains(target) || copyOwners.value(target) != it.key())
                continue;
            CopyItem item;
            item.record = mgr.libraryTracks.value(targetTrackIds.value(target), chosen);
            item.record.filepath = target;
            item.source = chosen.filepath;
            item.target = target;
            item.size = QFileInfo(chosen.filepath).size();
            items.append(item);
        }
    }
    QMap<int, QString> addedPaths;
    for (int id : std::as_const(addedIds)) {
        const auto it = mgr.libraryTracks.constFind(id);
        if (it != mgr.libraryTracks.cend())
            addedPaths.insert(id, it->filepath);
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
    copyJob.start([items, review, addedPaths, progress](
                      const std::atomic<bool> &stop) { return CopyPath(items, review, addedPaths, stop, progress); },
                  [this](CopyResult result) { Copyfinished(std::move(result)); });
}

bool LibraryAdder::copyIntoPlace(const QString &source, const QString &target)
{
    const QFileInfo targetInfo(target);
    const QString partial =
        targetInfo.absolutePath() + QStringLiteral("/.") + targetInfo.fileName() +
        QStringLiteral(".%1.part").arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
    const QByteArray sourceName = QFile::encodeName(source);
    const QByteArray partialName = QFile::encodeName(partial);

    const int in = ::open(sourceName.constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    struct stat info;
    if (::fstat(in, &info) != 0) {
        ::close(in);
        return false;
    }
    const int out = ::open(partialName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0) {
        const int saved = errno;
        ::close(in);
        errno = saved;
        return false;
    }

    bool ok = true;
    off_t left = info.st_size;
    bool kernelCopy = true;
    QByteArray buffer;
    while (left > 0 && ok) {
        ssize_t n = -1;
        if (kernelCopy) {
            n = ::copy_file_range(in, nullptr, out, nullptr, size_t(qMin<off_t>(left, 1 << 30)), 0);
            if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) &&
                left == info.st_size) {
                kernelCopy = false; // not between these file systems: plain reads and writes
                continue;
            }
        } else {
            if (buffer.isEmpty())
                buffer.resize(1 << 20);
            n = ::read(in, buffer.data(), size_t(buffer.size()));
            for (ssize_t written = 0; n > 0 && written < n;) {
                const ssize_t w = ::write(out, buffer.constData() + written, size_t(n - written));
                if (w < 0) {
                    if (errno == EINTR)
                        continue;
                    n = -1;
                    break;
                }
                written += w;
            }
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            ok = false; // an error, or the source shrank while copied
        else
            left -= n;
    }
    int saved = ok ? 0 : errno;
    ::close(in);
    if (::close(out) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok && ::rename(partialName.constData(), QFile::encodeName(target).constData()) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        ::unlink(partialName.constData());
        errno = saved;
    }
    return ok;
}

LibraryAdder::CopyResult LibraryAdder::CopyPath(const QList<CopyItem> &items, const TrackMap &reviewTracks,
                                                const QMap<int, QString> &addedPaths, const std::atomic<bool> &stop,
                                                const std::function<void(int, const QString &)> &progress)
{
    qDebug() << "CopyPath";
    CopyResult result;
    Logging *log = Logging::getInstance();
    ruvoDB db;

    // A few files are copied at once on a pool of the job's own (the job
    // runs on the global pool and must not wait there for work queued behind
    // it); their rows are written here, in the list's order, each once its
    // file is in place, while the next files are being copied.
    struct Outcome
    {
        bool ok = false;
        int error = 0;
    };
    QThreadPool pool;
    const int window = std::clamp(QThread::idealThreadCount(), 1, 4);
    pool.setMaxThreadCount(window);
    struct InFlight
    {
        int index;
        QFuture<Outcome> future;
    };
    std::deque<InFlight> inFlight;
    constexpr int rowBatch = 64;
    qint64 reserved = 0; // bytes of the copies under way
    bool stopStarting = false;
    int next = 0;
    int done = 0;

    // Rows go in in small batches, one transaction each: a row per
    // transaction would cost more than the copy of a small file.
    QList<int> pendingRows;
    auto flushRows = [&] {
        if (pendingRows.isEmpty())
            return;
        QList<track> records;
        records.reserve(pendingRows.size());
        for (int index : std::as_const(pendingRows))
            records.append(items.at(index).record);
        const bool batchStored = db.insertTracks(records);
        for (int index : std::as_const(pendingRows)) {
            const CopyItem &item = items.at(index);
            if (batchStored || db.insertDataOne(item.record))
                result.copiedTargets.append(item.target);
            else
                qCWarning(lcAdd) << "the copy is in place but its row could not be written" << item.target;
        }
        pendingRows.clear();
    };

    auto finishOldest = [&] {
        InFlight oldest = std::move(inFlight.front());
        inFlight.pop_front();
        const Outcome outcome = oldest.future.result();
        const CopyItem &item = items.at(oldest.index);
        reserved -= item.size;
        if (outcome.ok) {
            // The row only once the file is in place.
            pendingRows.append(oldest.index);
            if (pendingRows.size() >= rowBatch)
                flushRows();
        } else {
            qCWarning(lcAdd) << "copy failed" << item.source << "->" << item.target << strerror(outcome.error);
            result.failedTargets.append(item.target);
            const qint64 after = availableBytes(QFileInfo(item.target).absolutePath());
            if (outcome.error == ENOSPC || outcome.error == EDQUOT || (after >= 0 && after < item.size)) {
                result.diskFull = true;
                stopStarting = true;
            }
        }
        ++done;
        if (progress)
            progress(done, item.target);
    };

    while (next < items.size() || !inFlight.empty()) {
        if (stop.load())
            stopStarting = true;
        if (!stopStarting && next < items.size() && int(inFlight.size()) < window) {
            const CopyItem &item = items.at(next);
            // Room on the target's volume first (less what the copies under
            // way will take): a copy that can't fit is not begun.
            const QString folder = QFileInfo(item.target).absolutePath();
            const qint64 available = availableBytes(folder);
            if (available >= 0 && available - reserved < item.size) {
                result.diskFull = true;
                stopStarting = true;
                continue;
            }
            log->WriteLog(QStringLiteral("Copying..") + item.target, QString());
            ++result.copies;
            reserved += item.size;
            const QString source = item.source;
            const QString target = item.target;
            inFlight.push_back({next, QtConcurrent::run(&pool, [source, target, folder] {
                                    QDir().mkpath(folder);
                                    Outcome outcome;
                                    outcome.ok = copyIntoPlace(source, target);
                                    outcome.error = outcome.ok ? 0 : errno;
                                    return outcome;
                                })});
            ++next;
            continue;
        }
        if (inFlight.empty())
            break;
        finishOldest();
    }
    flushRows();

    if (!result.diskFull && !stop.load()) {
        for (auto it = reviewTracks.cbegin(); it != reviewTracks.cend(); ++it) {
            if (stop.load())
                break;
            if (it->isMissingData && QFileInfo(it->filepath).isFile())
                result.lookupTracks.insert(it.key(), it.value());
        }
    }
    for (auto it = addedPaths.cbegin(); it != addedPaths.cend(); ++it) {
        if (!QFileInfo(it.value()).isFile())
            result.missingIds.append(it.key());
    }
    log->WriteLog(QString::number(result.copies) + QStringLiteral(" File Copying Done"), QString());
    return result;
}

void LibraryAdder::Copyfinished(CopyResult result)
{
    if (mgr.closing)
        return;
    for (const QString &target : std::as_const(result.copiedTargets))
        takeOffCopyList(target);
    for (const QString &target : std::as_const(result.failedTargets)) {
        takeOffCopyList(target);
        // The replaced track's file is still there: it stays in the library.
        const auto replaced = replacedTracks.constFind(target);
        if (replaced != replacedTracks.cend()) {
            const int newId = targetTrackIds.value(target);
            removeLibraryTrack(newId);
            mgr.reviewTracks.remove(newId);
            insertLibraryTrack(replaced.value());
        }
    }
    for (int id : std::as_const(result.missingIds))
        removeLibraryTrack(id);
    mgr.lookupTracks = result.lookupTracks;

    if (result.diskFull)
        isdiskfull = true;
    if (isdiskfull) {
        emit mgr.showMessageBox(QVariant(messageText(1)));
        isdiskfull = false;
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
            qDebug() << "manager................." << mgr.lookupTracks.size();
            emit mgr.updateProgress(QVariant(mgr.progressTotal), QVariant(0));
            mgr.apiManager->searchfromApi(mgr.lookupTracks);
        }
        isStopCopy = false;
    }
    emit mgr.updateProgressSearch(QVariant(1), QVariant(1), QVariant(QString()));
    Logging::getInstance()->WriteLog(QStringLiteral("Add to main library completed"), QString());
}

// ---- Lookup results and converter signals ------------------------------------

void LibraryAdder::updateMainObjectMgr(track updatedTrack)
{
    if (updatedTrack.id < 1) {
        mgr.progressTotal = 0;
        mgr.progressCount = 0;
        mgr.refreshViews();
        mgr.updateProgressBar();
    } else {
        if (index.size() != mgr.libraryTracks.size())
            index.rebuild(mgr.libraryTracks);
        updatedTrack.album_id = index.albumId(updatedTrack.albumName);
        updatedTrack.artist_id = index.artistId(updatedTrack.artistName);
        updatedTrack.playlist_id = index.playlistId(updatedTrack.playlist);

        if (!mgr.checkedAlbumIds.contains(updatedTrack.album_id) && updatedTrack.playlist.isEmpty())
            mgr.checkedAlbumIds.append(updatedTrack.album_id);
        else if (!mgr.checkedPlaylistIds.contains(updatedTrack.playlist_id) && !updatedTrack.playlist.isEmpty())
            mgr.checkedPlaylistIds.append(updatedTrack.playlist_id);
        if (!mgr.checkedArtistIds.contains(updatedTrack.artist_id) && updatedTrack.playlist.isEmpty())
            mgr.checkedArtistIds.append(updatedTrack.artist_id);
        appendOnce(mgr.checkedTrackIds, updatedTrack.id);
        if (mgr.mediaTypeFilter == 1) {
            mgr.checkedArtistIds.clear();
            mgr.checkedAlbumIds.clear();
        }
        insertLibraryTrack(updatedTrack);
        mgr.reviewTracks.remove(updatedTrack.id);
        ruvoDB db;
        if (!db.insertDataOne(updatedTrack))
            qCWarning(lcAdd) << "storing the looked-up track failed" << updatedTrack.filepath;
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
    if (trackID <= 0 || trackID > std::numeric_limits<int>::max())
        return;
    const int id = int(trackID);
    switch (flag) {
    case ffmpeghandler::Failed:
        // Nothing could convert it: it is neither copied nor stored.
        if (!mgr.reviewTracks.isEmpty())
            mgr.reviewTracks.remove(id);
        if (!mgr.libraryTracks.isEmpty())
            removeLibraryTrack(id);
        break;
    case ffmpeghandler::AlreadyConverted:
        // Stored with the cached file; the merge puts it back in both maps.
        if (!mgr.reviewTracks.isEmpty())
            mgr.reviewTracks.remove(id);
        break;
    case ffmpeghandler::Converted:
        if (!mgr.libraryTracks.isEmpty())
            removeLibraryTrack(id);
        break;
    default:
        return;
    }
    takeOffCopyList(filepath);
}

void LibraryAdder::slCancelSearchCopy()
{
    isStopCopy = true;
    planJob.requestStop();
    transcodeJob.requestStop();
    copyJob.requestStop();
    if (fmm)
        fmm->stop();
}

// ---- Single file --------------------------------------------------------------

QString LibraryAdder::createCopy(const QString &album, const QString &path)
{
    static const QRegularExpression folderChars(QStringLiteral("[!/\\:*?<>|+.]"));
    QString folder = album;
    folder.remove(folderChars);
    folder.remove(QLatin1Char('"'));
    const QString target =
        ruvoDB::programCopyFolder() + QLatin1Char('/') + folder + QLatin1Char('/') + QFileInfo(path).fileName();
    QDir().mkpath(QFileInfo(target).absolutePath());
    if (!QFileInfo::exists(target) && !copyIntoPlace(path, target))
        return QStringLiteral("False");
    return target;
}
