#include "core/track_data.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <QDeadlineTimer>
#include <QDirIterator>
#include <QFile>
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

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

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

// Whether `test` holds for a path as given or, for a symbolic link, for its
// canonical form, so a link can't bring a passed-over file back in.
template <typename Test> bool holdsForPath(const QFileInfo &file, Test test)
{
    if (test(file.absoluteFilePath()))
        return true;
    const QString canonical = file.isSymLink() ? file.canonicalFilePath() : QString();
    return !canonical.isEmpty() && test(canonical);
}

// A path inside the program's own library copies: neither the walk nor a
// playlist brings them in.
bool isOwnCopy(const QFileInfo &file)
{
    static const QString ownCopies = QStringLiteral("/Corvane Media Organiser/");
    return holdsForPath(file, [](const QString &path) { return path.contains(ownCopies, Qt::CaseInsensitive); });
}

// What the walk passes over: the program's own copies and iTunes' media
// folder (the iTunes import reads that).  A playlist naming a file in
// iTunes' folder still gets its entry.
bool isPassedOver(const QFileInfo &file)
{
    static const QString iTunesMedia = QStringLiteral("/iTunes/iTunes Media/");
    return isOwnCopy(file) ||
           holdsForPath(file, [](const QString &path) { return path.contains(iTunesMedia, Qt::CaseInsensitive); });
}

// Whether a file the walk finds is large enough to be media.
bool isMediaSize(qint64 size)
{
    return size > track_data::minimumMediaSize;
}

// A playlist's entry needs one byte less: the user named it, and a file of
// exactly the threshold harms nobody.
bool isListedMediaSize(qint64 size)
{
    return size >= track_data::minimumMediaSize;
}

void printTime(const char *label)
{
    QTextStream(stdout) << label << QTime::currentTime().toString(Qt::TextDate) << Qt::endl;
}

// Entries the walk takes in one go.  While the scan thread maps and stages
// one batch in walk order, each file as soon as it is read, the pool reads
// the batch's files and the walk goes on to the next batch.  Large enough to
// span several albums (their pictures are made in parallel), small enough
// that little reading is wasted when a scan stops.
constexpr int readAheadEntries = 256;
// The first batch is smaller: the scan thread has nothing to map until it is walked.
constexpr int firstBatchEntries = 32;

// One walked entry, judged by name and size.
struct WalkEntry
{
    enum Kind { Other, Media, Playlist, NotTaken };
    Kind kind = Other;
    QFileInfo file;
    QString path;
    QString reason; // NotTaken: why, for the user
    bool isFolder = false; // NotTaken: a folder whose files went unread
    bool isAudio = false;
    bool isVideo = false;
};

// What a reader read of one media file.  `done` is false when the scan was
// stopped first; the scan thread then reads the file itself if it goes on.
struct FileRead
{
    bool done = false;
    bool isProtected = false;
    bool parsed = false;
    TagObject tags;
};

// A media file of a batch as the readers get it: plain copies.
struct MediaFile
{
    int media = 0; // the scan's media files numbered in walk order
    QString path;
    QString fileName;
    qint64 size = 0;              // as the walk found it
    bool takesAlbumCover = false; // an audio record (videos show their own frame)
};

// The scan's own pools.  The walk job hands the readers their work, and the
// scan itself usually runs on the global pool: were the readers queued there
// too, a machine with one or two cores would have every pool thread waiting
// on work that never starts.  The walk gets one thread of its own and the
// readers a pool of their own (they wait there only for one another).
QThreadPool *readAheadPool()
{
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool;
        p->setMaxThreadCount(1);
        return p;
    }();
    return pool;
}

// Reads one media file on the pool: its tags, and the embedded picture the
// tag reading holds anyway, which goes to the scan's album pictures (which
// may make and write an album picture on this thread).  Returns copies.
FileRead readMediaFile(const MediaFile &media, const QString &artworkFolder, const track_data &scan,
                       ScanPictures *pictures)
{
    FileRead read;
    std::optional<ScanPictures::File> offered;
    if (scan.readStartHook)
        scan.readStartHook(media.path);
    if (!scan.isStopSearch.load(std::memory_order_relaxed)) {
        read.done = true;
        read.isProtected = track_data::isEncryptedFile(media.path);
        EmbeddedPicture picture;
        if (!read.isProtected)
            read.parsed = parseTags(read.tags, media.path, &picture, media.size);
        // The files that look for an album picture (see MapToTrack and
        // Save_Cover): audio records of a known album.
        const QString album = TStringToQString(read.tags.album).trimmed();
        if (read.parsed && media.takesAlbumCover && !shared::isUnknownName(album)) {
            offered = ScanPictures::File{
                track_data::albumCoverPath(artworkFolder, shared::formatSplChar(album), media.fileName), media.path,
                std::move(picture)};
        }
    }
    pictures->offer(media.media, std::move(offered));
    return read;
}

// Why a file under a media name yields no track, in the user's words.
QString whyNoTrack(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("the file cannot be read (%1)").arg(file.errorString());
    return QStringLiteral("the file is damaged or not a media file");
}

// Whether a name is worth telling about: a media file's or a playlist's.
bool isMediaName(const QString &name)
{
    const QString suffix = QFileInfo(name).suffix();
    return track_data::checkAudioFile(suffix) || track_data::checkVideoFile(suffix) ||
           track_data::checkPlaylist(suffix);
}

// The entries of `folder` whose names are not valid UTF-8.  Qt leaves them
// out of every listing and can't reach them by any path it makes, so they
// are only named: media files and folders (whose files go unread with them).
QList<WalkEntry> undecodableEntries(const QString &folder)
{
    QList<WalkEntry> found;
    // Nothing is said of what the walk's rules pass over (judged on a child's path).
    if (isPassedOver(QFileInfo(folder + QStringLiteral("/-"))))
        return found;
    const QByteArray native = QFile::encodeName(folder);
    DIR *dir = ::opendir(native.constData());
    if (!dir) {
        // The walk passes over a folder it can't open without a word.
        const int error = errno;
        if (error != ENOENT && error != ENOTDIR) {
            WalkEntry entry;
            entry.kind = WalkEntry::NotTaken;
            entry.path = folder;
            entry.reason = QStringLiteral("the folder cannot be read (%1), so its files were not read")
                               .arg(QString::fromLocal8Bit(std::strerror(error)));
            entry.isFolder = true;
            found.append(entry);
        }
        return found;
    }
    while (const dirent *item = ::readdir(dir)) {
        const QByteArray name(item->d_name);
        const bool ascii = std::all_of(name.cbegin(), name.cend(), [](char c) { return uchar(c) < 0x80; });
        if (name.startsWith('.') || ascii || QFile::encodeName(QFile::decodeName(name)) == name)
            continue; // hidden (as the walk leaves them), or a name Qt reads
        const QString shown = QFile::decodeName(name);
        bool isFolder = item->d_type == DT_DIR;
        if (item->d_type == DT_UNKNOWN) {
            struct stat info;
            isFolder = ::fstatat(::dirfd(dir), item->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode);
        }
        if (!isFolder && !isMediaName(shown))
            continue;
        WalkEntry entry;
        entry.kind = WalkEntry::NotTaken;
        entry.path = folder + QLatin1Char('/') + shown;
        entry.isFolder = isFolder;
        entry.reason = isFolder
                           ? QStringLiteral("the folder's name is not valid UTF-8 text, so its files were not "
                                            "read (renaming it lets them be added)")
                           : QStringLiteral("the name is not valid UTF-8 text (renaming the file lets it be added)");
        found.append(entry);
    }
    ::closedir(dir);
    return found;
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
            scan.coverOutcome = nullptr;
        }
    } pictureMemory(*this);
    shared sha;
    track_obj_map.clear();
    sha.clearMixedAlbumsFolderMap();
    protectedTracks.clear();
    notTakenFiles.clear();
    scanFilesRead = 0;
    // iTunes may have added artwork since the last scan.
    ItuneCoverArtExtracter::resetCacheFileIndex();
    printTime("Start Time.....");
    // The records are staged in groups (one transaction per record would
    // cost more than reading the files), on a thread of their own; all are
    // staged before the scan returns.
    const ScanStaging staging(scanStaging);
    const QString artworkFolder = shared::dataLocation() + sha.artworkPath;
    const auto stopped = [this] { return isStopSearch.load(std::memory_order_relaxed); };
    // Makes the missing album pictures on the readers' pool while the scan maps.
    ScanPictures pictures(&isStopSearch);

    // Symbolic links to folders are not followed (no loops); hidden entries
    // are not listed, and unreadable folders are passed over by the
    // iterator.  System entries (FIFOs, sockets, devices, dangling links) are
    // listed only to name those under a media or playlist name.
    const QString root = dir.absolutePath();
    QDirIterator entries(root, QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    bool rootListed = false;
    // The next entries of the walk, judged by name and size.
    const auto takeBatch = [&](int size) {
        QList<WalkEntry> batch;
        if (!rootListed) {
            rootListed = true;
            batch += undecodableEntries(root);
        }
        while (batch.size() < size && entries.hasNext() && !stopped()) {
            entries.next();
            WalkEntry entry;
            entry.file = entries.fileInfo();
            if (entry.file.isDir() && !entry.file.isSymLink()) {
                batch.append(entry);
                batch += undecodableEntries(entry.file.absoluteFilePath());
                continue;
            }
            if (!entry.file.isFile() && !entry.file.isDir()) {
                // A link to something that isn't a regular file could block a reader.
                if (isMediaName(entry.file.fileName()) && !isPassedOver(entry.file)) {
                    entry.kind = WalkEntry::NotTaken;
                    entry.path = entry.file.absoluteFilePath();
                    entry.reason = entry.file.isSymLink() && !entry.file.exists()
                                       ? QStringLiteral("it is a link to a file that is not there")
                                       : QStringLiteral("it is not a regular file");
                }
            } else if (entry.file.isFile()) {
                const QString suffix = entry.file.suffix().toLower();
                entry.isAudio = checkAudioFile(suffix);
                entry.isVideo = checkVideoFile(suffix);
                if (entry.isAudio || entry.isVideo) {
                    if (!isPassedOver(entry.file) && isMediaSize(entry.file.size())) {
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
    // Walks on and sets the readers to the batch's media files, in walk
    // order.  Only one such job runs at a time (the next starts once the scan
    // thread has this one's result), so the iterator is never used by two
    // threads at once.
    struct WalkedBatch
    {
        QList<WalkEntry> entries;
        QFuture<FileRead> reads; // one per media entry, in walk order
    };
    int mediaWalked = 0; // used by the walk job only
    const auto walk = [&](int size) {
        WalkedBatch batch;
        batch.entries = takeBatch(size);
        QList<MediaFile> media;
        for (const WalkEntry &entry : std::as_const(batch.entries)) {
            if (entry.kind == WalkEntry::Media)
                media.append({mediaWalked++, entry.path, entry.file.fileName(), entry.file.size(), entry.isAudio});
        }
        batch.reads = QtConcurrent::mapped(readerPool(), std::move(media),
                                           [this, &artworkFolder, &pictures](const MediaFile &file) {
                                               return readMediaFile(file, artworkFolder, *this, &pictures);
                                           });
        return batch;
    };

    QFuture<WalkedBatch> walking = QtConcurrent::run(readAheadPool(), walk, firstBatchEntries);
    QFuture<FileRead> reads; // the batch being mapped
    int mediaMapped = 0;     // media files of the batches before this one
    while (!stopped()) {
        WalkedBatch walked = walking.result();
        if (walked.entries.isEmpty())
            break;
        walking = QtConcurrent::run(readAheadPool(), walk, readAheadEntries);
        reads = walked.reads;
        QList<WalkEntry> &batch = walked.entries;

        // Map and stage in walk order, as if each file were read here, each
        // as soon as its reader is done.
        int m = 0;
        for (int i = 0; i < batch.size() && !stopped(); ++i) {
            obj_track = sha.initializeTrackObject(obj_track);
            WalkEntry &entry = batch[i];
            if (entry.kind == WalkEntry::Playlist) {
                scanPlaylist(entry.file);
                continue;
            }
            if (entry.kind == WalkEntry::NotTaken) {
                notTakenFiles.append({entry.path, entry.reason,
                                      entry.isFolder ? NotTaken::Folder : NotTaken::File, 0});
                continue;
            }
            if (entry.kind != WalkEntry::Media)
                continue;
            const int media = mediaMapped + m;
            const FileRead file = reads.resultAt(m++);
            if (fileReadHook)
                fileReadHook(++scanFilesRead, entry.path);
            if (file.done ? file.isProtected : isEncryptedFile(entry.path)) {
                protectedTracks.append(entry.path);
                continue;
            }
            obj_track.filepath = entry.path;
            obj_track.sourcePath = entry.path;
            TagObject tags = file.tags;
            if (file.done ? file.parsed : ParseTags(tags, entry.path)) {
                coverOutcome = [&pictures, media](const QString &coverPath) {
                    return pictures.outcome(media, coverPath);
                };
                MapToTrack(track_Id, obj_track, tags, entry.file, false, QString(), entry.isVideo, entry.isAudio);
                coverOutcome = nullptr;
            } else {
                notTakenFiles.append({entry.path, whyNoTrack(entry.path)});
            }
        }
        mediaMapped += m;
    }
    // The readers use this object's stop flag and the scan's pictures: let
    // them finish first.
    reads.waitForFinished();
    walking.waitForFinished();
    walking.result().reads.waitForFinished();

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
    // Entries that name no file to take, counted by why, told per playlist.
    enum Unusable { Missing, Folder, NotRegular, Itself, unusableKinds };
    int unusable[unusableKinds] = {};
    const QString itself = playlist.canonicalFilePath();
    for (const QString &path : paths) {
        QFileInfo file(path);
        if (!path.isEmpty()) {
            if (!file.exists())
                ++unusable[Missing];
            else if (file.isDir())
                ++unusable[Folder];
            else if (!file.isFile())
                ++unusable[NotRegular];
            else if (checkPlaylist(file.suffix().toLower()) && file.canonicalFilePath() == itself)
                ++unusable[Itself];
        }
        // A playlist naming the program's own copies must not bring them in.
        // A missing file, a folder or a FIFO is no media file.
        if (!file.isFile() || isOwnCopy(file))
            continue;
        const QString suffix = file.suffix().toLower();
        const bool isAudio = checkAudioFile(suffix);
        const bool isVideo = !isAudio && checkVideoFile(suffix);
        // Listed even when too small or of another type.
        const bool isProtected = checkProtected(path);
        if (isProtected || !isListedMediaSize(file.size()) || !(isAudio || isVideo))
            continue;
        entries.append({path, file, isAudio, isVideo, TagObject(), false});
    }
    static const char *const unusableReasons[unusableKinds][2] = {
        {"1 entry names a file that is not there", "%1 entries name files that are not there"},
        {"1 entry names a folder, not a file", "%1 entries name folders, not files"},
        {"1 entry names something that is not a regular file (a pipe or a device)",
         "%1 entries name things that are not regular files (pipes or devices)"},
        {"1 entry names the playlist itself", "%1 entries name the playlist itself"}};
    for (int kind = 0; kind < unusableKinds; ++kind) {
        const int count = unusable[kind];
        if (count > 0)
            notTakenFiles.append({playlist.absoluteFilePath(),
                                  QString::fromLatin1(unusableReasons[kind][count == 1 ? 0 : 1]).arg(count),
                                  NotTaken::PlaylistEntries, count});
    }
    RepositoryStager::commitOpenBatch();
    QtConcurrent::blockingMap(readerPool(), entries, [](Entry &entry) {
        entry.parsed = ParseTags(entry.tags, entry.path);
    });

    for (Entry &entry : entries) {
        obj_track = sha.initializeTrackObject(obj_track);
        obj_track.filepath = entry.path;
        obj_track.sourcePath = entry.path;
        if (fileReadHook)
            fileReadHook(++scanFilesRead, entry.path);
        if (entry.parsed)
            MapToTrack(track_Id, obj_track, entry.tags, entry.file, true, name, entry.isVideo, entry.isAudio);
        else
            notTakenFiles.append({entry.path, whyNoTrack(entry.path)});
    }
}
