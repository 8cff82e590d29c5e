#include "core/track_data.h"

#include <memory>

#include <QDeadlineTimer>
#include <QDirIterator>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>
#include <QtConcurrent/QtConcurrentMap>
#include <QtConcurrent/QtConcurrentRun>
#include <QTextStream>
#include <QThread>
#include <QThreadPool>
#include <QTime>
#include <QWaitCondition>

#include "core/itunecoverartextracter.h"
#include "core/shared.h"
#include "core/taglibbuilder.h"
#include "core/track_data_p.h"
#include "core/videometadata.h"
#include "database/repositorystager.h"
#include "database/ruvodb.h"

using namespace TrackDataInternal;

void track_data::stage(const track &record)
{
    if (scanStaging)
        scanStaging->add(record);
    else
        ruvoDB::insertDataTrackRepo(record);
}

namespace {

// A path inside the program's own copies or inside an iTunes media folder,
// judged on the path as given and, where it exists, on its canonical form,
// so a symbolic link or a playlist entry can't bring either back in.
bool isPassedOver(const QFileInfo &file)
{
    static const QString ownCopies = QStringLiteral("/Corvane Media Organiser/");
    static const QString iTunesMedia = QStringLiteral("/iTunes/iTunes Media/");
    const auto inside = [](const QString &path) {
        return path.contains(ownCopies, Qt::CaseInsensitive) || path.contains(iTunesMedia, Qt::CaseInsensitive);
    };
    if (inside(file.absoluteFilePath()))
        return true;
    const QString canonical = file.isSymLink() ? file.canonicalFilePath() : QString();
    return !canonical.isEmpty() && inside(canonical);
}

void printTime(const char *label)
{
    QTextStream(stdout) << label << QTime::currentTime().toString(Qt::TextDate) << Qt::endl;
}

// Entries the walk takes in one go.  While the scan thread maps and stages
// one batch in walk order, the pool walks on and reads the files of the
// next.  Large enough to span several albums (their pictures decode in
// parallel), small enough that little reading is wasted when a scan stops.
constexpr int readAheadEntries = 256;
// The first batch is smaller: the scan thread has nothing to map until it is read.
constexpr int firstBatchEntries = 32;

// One walked entry, judged by name and size.
struct WalkEntry
{
    enum Kind { Other, Media, Playlist };
    Kind kind = Other;
    QFileInfo file;
    QString path;
    bool isAudio = false;
    bool isVideo = false;
};

// A media file of a batch as the workers get it: plain copies.
struct MediaFile
{
    int entry = 0;           // index in the batch
    QString path;
    QString fileName;
    bool takesAlbumCover = false; // an audio record (videos show their own frame)
};

// What a worker read of one media file.  `done` is false when the scan was
// stopped first; the scan thread then reads the file itself if it goes on.
struct FileRead
{
    bool done = false;
    bool isProtected = false;
    bool parsed = false;
    TagObject tags;
};

// The files of one album picture that doesn't exist yet, in walk order.
struct CoverJob
{
    QString coverPath;
    QList<int> entries;
    QStringList paths;
};

// The scan's own pools.  The read-ahead job blocks on its readers, and the
// scan itself usually runs on the global pool: were the readers queued there
// too, a machine with one or two cores would have every pool thread waiting
// on work that never starts.  The read-ahead job gets one thread of its own
// and the readers a pool that nothing else blocks in.
QThreadPool *readAheadPool()
{
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool;
        p->setMaxThreadCount(1);
        return p;
    }();
    return pool;
}

struct CoverFound
{
    int tried = 0;   // files of the job read, the giving one included
    QByteArray png;  // empty: none of the tried files has a usable picture
};

struct BatchRead
{
    QList<FileRead> files; // one per MediaFile
    // Per batch entry: the album picture Save_Cover would make of the file
    // (see track_data::readAheadCover), or nothing when not read ahead.
    // Filled by settleCovers().
    QList<std::optional<QByteArray>> covers;

    // The pictures still being made while the next batch is read.
    QList<CoverJob> jobs;
    QFuture<CoverFound> found;

    void settleCovers()
    {
        found.waitForFinished();
        for (int j = 0; j < jobs.size(); ++j) {
            const CoverFound cover = found.resultAt(j);
            for (int k = 0; k < cover.tried; ++k)
                covers[jobs.at(j).entries.at(k)] = k + 1 == cover.tried ? cover.png : QByteArray();
        }
        jobs.clear();
        found = QFuture<CoverFound>();
    }
};

// Reads the tags of a batch's media files and, for each album picture file
// still missing, finds the first of the batch's tracks whose embedded picture
// decodes (what Save_Cover would write, in walk order) and makes its PNG.
// Runs on the pool; only reads files and returns copies.  The scan thread
// still decides, record by record, whether a picture is written: one that
// appears meanwhile is never replaced, and the tracks after the giving one
// look for themselves, so a picture that fails to be written is still sought
// in the album's next track.
//
// `decoded` holds the picture files an earlier batch of the scan already
// sought: the scan thread settles those before it maps this batch, so an
// album that spans two batches is not decoded twice.  (Where that batch's
// tracks had no picture, the later tracks look for themselves, as without
// reading ahead.)
BatchRead readBatch(const QList<MediaFile> &media, int entries, const QString &artworkFolder,
                    const std::atomic<bool> *stop, QSet<QString> *decoded)
{
    const auto stopped = [stop] { return stop->load(std::memory_order_relaxed); };
    BatchRead read;
    read.files = QtConcurrent::blockingMapped<QList<FileRead>>(readerPool(), media, [&stopped](const MediaFile &file) {
        FileRead result;
        if (stopped())
            return result;
        result.done = true;
        result.isProtected = track_data::isEncryptedFile(file.path);
        if (!result.isProtected)
            result.parsed = track_data::ParseTags(result.tags, file.path);
        return result;
    });

    // The tracks that would look for each missing picture file (see
    // MapToTrack and Save_Cover: audio records of a known album).
    const shared sha;
    QHash<QString, int> jobOf; // cover path -> job index, -1: the file exists
    QList<CoverJob> jobs;
    for (int m = 0; m < media.size(); ++m) {
        const FileRead &file = read.files.at(m);
        if (!file.done || file.isProtected || !file.parsed || !media.at(m).takesAlbumCover)
            continue;
        const QString album = TStringToQString(file.tags.album).trimmed();
        if (shared::isUnknownName(album))
            continue;
        const QString coverPath =
            track_data::albumCoverPath(artworkFolder, sha.formatSplChar(album), media.at(m).fileName);
        auto job = jobOf.constFind(coverPath);
        if (job == jobOf.constEnd()) {
            const bool exists = decoded->contains(coverPath) || QFileInfo::exists(coverPath);
            job = jobOf.insert(coverPath, exists ? -1 : int(jobs.size()));
            if (!exists) {
                jobs.append(CoverJob{coverPath, {}, {}});
                decoded->insert(coverPath);
            }
        }
        if (job.value() >= 0) {
            jobs[job.value()].entries.append(media.at(m).entry);
            jobs[job.value()].paths.append(media.at(m).path);
        }
    }

    // The pictures are made while the next batch is walked and read; the
    // scan thread waits for them (settleCovers) before it maps this batch.
    read.covers.resize(entries);
    read.jobs = jobs;
    read.found = QtConcurrent::mapped(readerPool(), jobs, [stop](const CoverJob &job) {
        CoverFound result;
        for (const QString &path : job.paths) {
            if (stop->load(std::memory_order_relaxed))
                return CoverFound(); // nothing settled
            ++result.tried;
            result.png = TagLibBuilder::coverArtPng(path);
            if (!result.png.isEmpty())
                break;
        }
        return result;
    });
    return read;
}

} // namespace

QString track_data::albumCoverPath(const QString &artworkFolder, const QString &cleanedAlbum, const QString &fileName)
{
    return artworkFolder + QLatin1Char('/') + (cleanedAlbum.isEmpty() ? fileName : cleanedAlbum + QStringLiteral(".png"));
}

TrackMap track_data::searchfile(QDir dir)
{
    // Pictures found are remembered for this scan only: between scans a
    // picture may go.
    struct PictureMemory
    {
        track_data &scan;
        explicit PictureMemory(track_data &s) : scan(s)
        {
            scan.albumPicturesFound.clear();
            scan.rememberAlbumPictures = true;
        }
        ~PictureMemory()
        {
            scan.rememberAlbumPictures = false;
            scan.albumPicturesFound.clear();
        }
    } pictureMemory(*this);
    shared sha;
    track_obj_map.clear();
    sha.clearMixedAlbumsFolderMap();
    protectedTracks.clear();
    // iTunes may have added artwork since the last scan.
    ItuneCoverArtExtracter::resetCacheFileIndex();
    printTime("Start Time.....");
    // The records are staged in groups (one transaction per record would
    // cost more than reading the files), on a thread of their own; all are
    // staged before the scan returns.
    const ScanStaging staging(scanStaging);
    const QString artworkFolder = shared::dataLocation() + sha.artworkPath;
    const auto stopped = [this] { return isStopSearch.load(std::memory_order_relaxed); };

    // Symbolic links to folders are not followed (no loops); hidden and
    // system entries (FIFOs, sockets, devices, dangling links) are not listed,
    // and unreadable folders are passed over by the iterator.
    QDirIterator entries(dir.absolutePath(), QDirIterator::Subdirectories);
    // The next entries of the walk, judged by name and size.
    const auto takeBatch = [&](int size) {
        QList<WalkEntry> batch;
        while (batch.size() < size && entries.hasNext() && !stopped()) {
            entries.next();
            WalkEntry entry;
            entry.file = entries.fileInfo();
            // A link to something that isn't a regular file could block a reader.
            if (entry.file.isFile()) {
                const QString suffix = entry.file.suffix().toLower();
                entry.isAudio = checkAudioFile(suffix);
                entry.isVideo = checkVideoFile(suffix);
                if (entry.isAudio || entry.isVideo) {
                    if (!isPassedOver(entry.file) && entry.file.size() > minimumMediaSize) {
                        entry.kind = WalkEntry::Media;
                        entry.path = entry.file.absoluteFilePath();
                    }
                } else if (checkPlaylist(suffix)
                           && !entry.file.absoluteFilePath().contains(QLatin1String("/Corvane Media Organiser/"),
                                                                       Qt::CaseInsensitive)) {
                    entry.kind = WalkEntry::Playlist;
                }
            }
            batch.append(entry);
        }
        return batch;
    };
    // Walks on and reads a batch, on the pool.  Only one such job runs at a
    // time (the next starts once the scan thread has this one's result), so
    // the iterator is never used by two threads at once.
    struct WalkedBatch
    {
        QList<WalkEntry> entries;
        BatchRead read;
    };
    // Read only by the read-ahead job, one batch after the other.
    QSet<QString> decodedPictures;
    const auto walkAndRead = [&](int size) {
        WalkedBatch batch;
        batch.entries = takeBatch(size);
        QList<MediaFile> media;
        for (int i = 0; i < batch.entries.size(); ++i) {
            const WalkEntry &entry = batch.entries.at(i);
            if (entry.kind == WalkEntry::Media)
                media.append({i, entry.path, entry.file.fileName(), entry.isAudio});
        }
        batch.read = readBatch(media, int(batch.entries.size()), artworkFolder, &isStopSearch, &decodedPictures);
        return batch;
    };

    QFuture<WalkedBatch> reading = QtConcurrent::run(readAheadPool(), walkAndRead, firstBatchEntries);
    int filesRead = 0;
    while (!stopped()) {
        // Other writers need not wait while the readers catch up.
        if (!reading.isFinished())
            RepositoryStager::commitOpenBatch();
        WalkedBatch walked = reading.result();
        if (walked.entries.isEmpty())
            break;
        reading = QtConcurrent::run(readAheadPool(), walkAndRead, readAheadEntries);
        walked.read.settleCovers();
        QList<WalkEntry> &batch = walked.entries;
        const BatchRead &read = walked.read;

        // Map and stage in walk order, as if each file were read here.
        for (int i = 0, m = 0; i < batch.size() && !stopped(); ++i) {
            obj_track = sha.initializeTrackObject(obj_track);
            WalkEntry &entry = batch[i];
            if (entry.kind == WalkEntry::Playlist) {
                scanPlaylist(entry.file);
                continue;
            }
            if (entry.kind != WalkEntry::Media)
                continue;
            const FileRead &file = read.files.at(m++);
            if (fileReadHook)
                fileReadHook(++filesRead, entry.path);
            if (file.done ? file.isProtected : isEncryptedFile(entry.path)) {
                protectedTracks.append(entry.path);
                continue;
            }
            obj_track.filepath = entry.path;
            obj_track.sourcePath = entry.path;
            TagObject tags = file.tags;
            if (file.done ? file.parsed : ParseTags(tags, entry.path)) {
                readAheadCover = read.covers.at(i);
                MapToTrack(track_Id, obj_track, tags, entry.file, false, QString(), entry.isVideo, entry.isAudio);
                readAheadCover.reset();
            }
        }
    }
    // The workers read this object's stop flag: let them finish first.
    reading.waitForFinished();
    reading.result().read.found.waitForFinished();

    printTime("end search and insertion time...");
    track_obj_map = sha.updateFolderCoverArt(track_obj_map, 1);
    return track_obj_map;
}

TrackMap track_data::track_get_data(QString folder)
{
    return searchfile(QDir(folder));
}

namespace {
QMutex searchedFilesMutex;
QStringList searchedFilePaths;
} // namespace

void track_data::setsearchedFiles(QStringList paths)
{
    QMutexLocker locker(&searchedFilesMutex);
    searchedFilePaths += paths;
}

QStringList track_data::searchedFiles()
{
    QMutexLocker locker(&searchedFilesMutex);
    return searchedFilePaths;
}

void track_data::scanPlaylist(const QFileInfo &playlist)
{
    const shared sha;
    const QList<QString> paths = TagLibBuilder().parsePlaylists(playlist);
    // "Road Trip.m3u" gives "Road Trip"; the removal matches the case of
    // the lower-cased suffix only, so "Party.M3U" keeps its name.
    QString name = playlist.fileName();
    name.remove(QLatin1Char('.') + playlist.suffix().toLower());
    name = name.trimmed();

    // The entries that pass the checks, in list order; their tags are read
    // together on the readers (ffprobe may be among them), with the batch
    // committed first.
    struct Entry
    {
        QString path;
        QFileInfo file;
        bool isAudio = false;
        bool isVideo = false;
        TagObject tags;
        bool parsed = false;
    };
    QList<Entry> entries;
    for (const QString &path : paths) {
        QFileInfo file(path);
        // Entries pass the walk's rules too: a playlist naming the program's
        // own copies or iTunes' files must not bring them in.  A missing
        // file, a folder or a FIFO is no media file.
        if (!file.isFile() || isPassedOver(file))
            continue;
        const QString suffix = file.suffix().toLower();
        const bool isAudio = checkAudioFile(suffix);
        const bool isVideo = !isAudio && checkVideoFile(suffix);
        // Listed even when too small or of another type.
        const bool isProtected = checkProtected(path);
        if (isProtected || file.size() < minimumMediaSize || !(isAudio || isVideo))
            continue;
        entries.append({path, file, isAudio, isVideo, TagObject(), false});
    }
    RepositoryStager::commitOpenBatch();
    QtConcurrent::blockingMap(readerPool(), entries, [](Entry &entry) {
        entry.parsed = ParseTags(entry.tags, entry.path);
    });

    for (Entry &entry : entries) {
        obj_track = sha.initializeTrackObject(obj_track);
        obj_track.filepath = entry.path;
        obj_track.sourcePath = entry.path;
        if (entry.parsed)
            MapToTrack(track_Id, obj_track, entry.tags, entry.file, true, name, entry.isVideo, entry.isAudio);
    }
}
