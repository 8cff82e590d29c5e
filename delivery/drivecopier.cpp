#include "delivery/drivecopier.h"

#include <QBuffer>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QScopeGuard>
#include <QLoggingCategory>
#include <QSet>

#include <taglib/fileref.h>
#include <taglib/tag.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/logging.h"
#include "core/noclobberwriter.h"
#include "database/ruvodb.h"
#include "delivery/ffmpeghandler.h"
#include "delivery/madefiles.h"
#include "platform/atomicfile.h"
#include "platform/regularfile.h"
#include "platform/safefilecopy.h"
#include "platform/temporaryfiles.h"
#include "platform/volumes.h"

namespace {

Q_LOGGING_CATEGORY(lcCopy, "corvane.delivery")

constexpr int folderPictureSide = 110;

const QString copyingText = QStringLiteral("Copying ");
const QString skipText = QStringLiteral("Skip File ");

// Room left after a shortened name for the extension a conversion gives it.
const QString extensionRoom = QStringLiteral(".xxxx");

// `name` cut to the file system's limit of a name, leaving room for `suffix`.
QString fitted(const QString &name, const QString &suffix = QString())
{
    return TemporaryFiles::fitName(QString(), name, suffix).chopped(suffix.size());
}

// Whether two files hold the same bytes.
bool sameBytes(const QString &a, const QString &b)
{
    QFile one(a), other(b);
    if (one.size() != other.size() || !one.open(QIODevice::ReadOnly) || !other.open(QIODevice::ReadOnly))
        return false;
    constexpr qint64 chunk = 1 << 20;
    while (!one.atEnd()) {
        const QByteArray left = one.read(chunk);
        if (left.isEmpty() || left != other.read(chunk))
            return false;
    }
    return other.atEnd();
}

// Whether the tags of two audio files name one song: the same title, artist,
// album and track number.  A file without a title names none.
bool sameSongTags(const QString &a, const QString &b)
{
    const TagLib::FileRef one(QFile::encodeName(a).constData(), false);
    const TagLib::FileRef other(QFile::encodeName(b).constData(), false);
    if (one.isNull() || other.isNull() || !one.tag() || !other.tag())
        return false;
    const TagLib::Tag *x = one.tag();
    const TagLib::Tag *y = other.tag();
    return !x->title().isEmpty() && x->title() == y->title() && x->artist() == y->artist() &&
           x->album() == y->album() && x->track() == y->track();
}

} // namespace

DriveCopier::DriveCopier(QObject *parent) : QObject(parent) {}

DriveCopier::~DriveCopier() = default;

void DriveCopier::stop()
{
    QMutexLocker lock(&converterLock);
    if (converter)
        converter->stop();
}

QString DriveCopier::fatSafeName(const QString &name)
{
    QString cleaned;
    cleaned.reserve(name.size());
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || QStringView(u"\"*/:<>?\\|").contains(c))
            continue;
        cleaned.append(c);
    }
    while (cleaned.endsWith(QLatin1Char('.')) || cleaned.endsWith(QLatin1Char(' ')))
        cleaned.chop(1);
    return cleaned.isEmpty() ? QStringLiteral("_") : cleaned;
}

QString DriveCopier::driveName(const QString &name) const
{
    return fatNames ? fatSafeName(name) : name;
}

QString DriveCopier::askForCodec(const QString &path) const
{
    // The converter changes only in the job's own thread, at its start.
    return converter ? converter->askForCodec(path) : ffmpeghandler().askForCodec(path);
}

int DriveCopier::GetBitRate(QString path)
{
    if (!QFileInfo(path).isFile())
        return 0;
    const TagLib::FileRef file(QFile::encodeName(path).constData(), true, TagLib::AudioProperties::Average);
    if (file.isNull() || !file.audioProperties())
        return 0;
    return qMax(0, file.audioProperties()->bitrate());
}

bool DriveCopier::copycover(QString cover, QString target)
{
    if (QFileInfo::exists(target) || cover.isEmpty() || !QFileInfo(cover).isFile())
        return true;
    // The library's album pictures are PNGs of the folder picture's size
    // already: their bytes are the picture, no decoding needed.
    QImageReader header(cover);
    const QSize size = header.size();
    const QSize fitted = size.scaled(folderPictureSide, folderPictureSide, Qt::KeepAspectRatio);
    if (header.format() == "png" && size.isValid() && fitted == size)
        return NoClobberWriter::copyNew(cover, target);
    QImage image;
    if (!image.load(cover, "PNG") && !image.load(cover, "JPEG"))
        return false;
    const QImage small =
        image.scaled(folderPictureSide, folderPictureSide, Qt::KeepAspectRatio, Qt::FastTransformation);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!small.save(&buffer, "PNG"))
        return false;
    return NoClobberWriter::writeNew(target, png);
}

QList<track> DriveCopier::checkSystemCompatibility(TrackMap tracks, transferDetail)
{
    QList<track> existing;
    for (auto it = tracks.cbegin(); it != tracks.cend(); ++it) {
        if (stopRequested())
            break;
        const QFileInfo source(it->filepath);
        if (source.isFile())
            existing.append(it.value());
        else
            leaveOut(source.fileName(), RegularFile::failure(source.exists() ? RegularFile::notRegular : ENOENT));
    }
    return existing;
}

bool DriveCopier::stopRequested() const
{
    return halt != Halt::None || (stopFlag && stopFlag->load());
}

void DriveCopier::haltFor(Halt why, const QString &reason)
{
    if (halt != Halt::None)
        return;
    halt = why;
    outcome.reason = reason;
}

void DriveCopier::leaveOut(const QString &name, const QString &why)
{
    outcome.leftOut.append({name, why});
}

void DriveCopier::keepEarlierCopy()
{
    if (m3uPath.isEmpty())
        return;
    const QString earlier = manifest.fileMadeFrom(songSource, m3uEntry);
    if (!earlier.isEmpty())
        createPlaylist.saveM3U({m3uPath, earlier});
}

namespace {

// The device of `path`, or of the nearest folder of it that exists.
quint64 deviceOf(QString path)
{
    struct stat info
    {
    };
    while (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        const QString parent = QFileInfo(path).absolutePath();
        if (parent == path)
            return 0;
        path = parent;
    }
    return quint64(info.st_dev);
}

// Why nothing goes through `link` (a path on the drive).
QString linkRefusal(const QString &link)
{
    return QStringLiteral("\"%1\" on the drive is a link to another place, and nothing is written through a link")
        .arg(link);
}

QString systemReason(int error)
{
    return QString::fromLocal8Bit(strerror(error));
}

} // namespace

bool DriveCopier::driveFails(int error)
{
    return error == EIO || error == EROFS || error == ENODEV || error == ENXIO;
}

bool DriveCopier::onTheDrive(const QString &path) const
{
    // A pulled drive leaves its empty mount folder behind, on another volume.
    return deviceOf(path) == device;
}

bool DriveCopier::driveStillThere() const
{
    const QString root = temp_TransferDetail.drivePath;
    if (!QFileInfo(root).isDir() || !onTheDrive(root))
        return false;
    return issystem || Volumes::volumeOf(root).mountPath == mountRoot;
}

QString DriveCopier::linkInside(const QString &path) const
{
    const QString target = QDir::cleanPath(temp_TransferDetail.drivePath);
    const QString relative = QDir(target).relativeFilePath(QDir::cleanPath(path));
    // Never the case for the job's own paths: refused all the same.
    if (relative == QLatin1String("..") || relative.startsWith(QLatin1String("../")))
        return relative;
    QString walked = target;
    QString inside;
    for (const QString &part : relative.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        walked += QLatin1Char('/') + part;
        inside += (inside.isEmpty() ? QString() : QStringLiteral("/")) + part;
        // Only this job makes folders here: one it found to be a folder of
        // the drive's stays one, and is not asked about again (a look-up on
        // a FUSE-mounted drive is a round trip to its daemon).
        if (verifiedFolders.contains(walked))
            continue;
        struct stat st
        {
        };
        // What doesn't exist yet is made as a folder of the drive's own.
        if (::lstat(QFile::encodeName(walked).constData(), &st) != 0)
            return QString();
        if (S_ISLNK(st.st_mode))
            return inside;
        if (S_ISDIR(st.st_mode) && device != 0 && quint64(st.st_dev) == device)
            verifiedFolders.insert(walked);
    }
    return QString();
}

bool DriveCopier::folderOnTheDrive(const QString &folder) const
{
    return verifiedFolders.contains(QDir::cleanPath(folder)) || onTheDrive(folder);
}

QString DriveCopier::folderRefusal(const QString &folder) const
{
    const QString link = linkInside(folder);
    if (!link.isEmpty())
        return linkRefusal(link);
    // A folder of the drive that holds another volume (a pulled drive leaves
    // nothing behind in its place: that is told as a removed drive).
    if (driveStillThere() && !folderOnTheDrive(folder))
        return QStringLiteral("\"%1\" on the drive holds another volume, and nothing is written there")
            .arg(QDir(temp_TransferDetail.drivePath).relativeFilePath(folder));
    return QString();
}

void DriveCopier::report(const QString &text)
{
    if (!pendingReport.isEmpty())
        emit incrementProgress(pendingReport);
    pendingReport = text;
    ++reported;
}

QString DriveCopier::nameKey(const QString &path) const
{
    // FAT and exFAT hold one file for names that differ only in case.
    return fatNames ? path.toCaseFolded() : path;
}

bool DriveCopier::ourLibraryFile(const QString &source) const
{
    return source.startsWith(libraryFolder) && QFileInfo(source).isFile();
}

bool DriveCopier::holdsTheSong(const QString &onDrive, const QString &file) const
{
    const QString recorded = manifest.sourceOf(onDrive);
    if (recorded == songSource)
        return true;
    // Made from another song of this library: never this one, whatever its bytes.
    if (!recorded.isEmpty() && ourLibraryFile(recorded))
        return false;
    // Not in the drive's record (copied by hand, or by a transfer cut short),
    // or made from a file this library doesn't have (the drive was filled
    // from another library, on another computer or in another home folder).
    if (sameBytes(onDrive, file))
        return true;
    // A file being written when a transfer was cut short may end anywhere:
    // only all its bytes would tell.
    if (manifest.unfinished(onDrive))
        return false;
    // Another version of the song (another bit rate, a tag written since) is
    // still the song, for the overwrite choice to decide on.
    return sameSongTags(onDrive, file);
}

QString DriveCopier::targetFor(const QString &folder, const QString &name, const QString &file, bool &holds) const
{
    const QString wanted = folder + QLatin1Char('/') + name;
    for (int n = 1;; ++n) {
        const QString candidate = MadeFiles::numbered(wanted, n);
        const auto written = writtenBy.constFind(nameKey(candidate));
        if (written != writtenBy.cend()) {
            holds = *written == songSource;
            if (holds)
                return candidate;
            continue;
        }
        // The plan found the name free for this song; the exclusive create
        // finds out if it no longer is.
        const auto free = foundFree.constFind(nameKey(candidate));
        if (free != foundFree.cend() && *free == songSource) {
            holds = false;
            return candidate;
        }
        const QFileInfo there(candidate);
        if (there.isSymLink() || (there.exists() && !there.isFile()))
            continue;
        holds = there.exists() && holdsTheSong(candidate, file);
        if (holds || !there.exists())
            return candidate;
        // What a transfer cut short left of this very song under this very
        // name is replaced by the whole song; a file larger than the song
        // can't be that, whatever the record says.
        if (manifest.begun(candidate, songSource) && !takenMeanwhile.contains(nameKey(candidate)) &&
            there.size() <= QFileInfo(file).size())
            return candidate;
    }
}

bool DriveCopier::driveWriteFailed(int error, const QString &what)
{
    if (!driveStillThere()) {
        haltFor(Halt::Removed);
        return false;
    }
    if (driveFails(error)) {
        haltFor(Halt::Failed, systemReason(error));
        return false;
    }
    leaveOut(what, QStringLiteral("it could not be written to the drive (%1)").arg(systemReason(error)));
    return true;
}

QString DriveCopier::knownCodec(const QString &path) const
{
    const auto known = codecs.constFind(path);
    return known != codecs.cend() ? *known : askForCodec(path);
}

QString DriveCopier::folderOf(const track &item)
{
    if (!item.playlist.isEmpty())
        return item.playlist;
    return item.isVideo ? QStringLiteral("Videos") : item.albumName.trimmed();
}

QString DriveCopier::driveFolder(const QString &folder) const
{
    // A folder name (a tag of any length) is shortened to what a name may hold.
    return driveName(fitted(ffmpeghandler::cacheAlbumFolder(folder)));
}

void DriveCopier::planNewFiles(const TrackMap &tracks, const QSet<QString> &present, const QString &mediaRoot)
{
    codecs.clear();
    wroteStraight = false;
    if (device == 0 || !onTheDrive(mediaRoot))
        return;
    // The copies (not conversions) whose name is free on the drive, each
    // name once: written straight under it once the record says so.
    QHash<QString, QString> planned; // name (nameKey) -> song source
    QSet<QString> absentFolders;     // every name in them is free
    QSet<QString> presentFolders;
    for (const track &item : tracks) {
        if (stopRequested())
            return;
        if (!present.contains(item.filepath))
            continue;
        const QString codec = item.isVideo ? QString() : askForCodec(item.filepath);
        codecs.insert(item.filepath, codec);
        if (ffmpeghandler::needsTranscode(codec, item.isVideo, lstCodecDetail))
            continue;
        const QString source = QDir::cleanPath(QFileInfo(item.filepath).absoluteFilePath());
        const QString folder = mediaRoot + driveFolder(folderOf(item));
        const QString wanted = folder + QLatin1Char('/') + driveName(QFileInfo(item.filepath).fileName());
        // A folder not on the drive yet holds nothing: one look-up for it,
        // none for each of its files.
        if (!absentFolders.contains(folder) && !presentFolders.contains(folder)) {
            struct stat st
            {
            };
            const bool absent = ::lstat(QFile::encodeName(folder).constData(), &st) != 0 && errno == ENOENT;
            (absent ? absentFolders : presentFolders).insert(folder);
        }
        const bool folderAbsent = absentFolders.contains(folder);
        // The name the copy will find free, as targetFor does; a name taken
        // on the drive is left to it.
        for (int n = 1;; ++n) {
            const QString target = MadeFiles::numbered(wanted, n);
            const auto taken = planned.constFind(nameKey(target));
            if (taken != planned.cend()) {
                if (*taken == source)
                    break;
                continue;
            }
            struct stat st
            {
            };
            if (folderAbsent || ::lstat(QFile::encodeName(target).constData(), &st) != 0) {
                planned.insert(nameKey(target), source);
                manifest.begin(target, source);
            }
            break;
        }
    }
    if (planned.isEmpty())
        return;
    const QHash<QString, QString> freeNames = planned;
    // On the drive before any of those files is made: a cut while one is
    // written leaves a name the next transfer knows as unfinished.
    int error = 0;
    if (QDir().mkpath(mediaRoot) && manifest.save(device, &error, true)) {
        touchedDrive = true;
        foundFree = freeNames;
    } else {
        // Nothing is written straight but what the record on the drive
        // names so already.
        qCWarning(lcCopy) << "the drive's record could not be written" << systemReason(error);
        manifest.load(mediaRoot, fatNames);
    }
}

void DriveCopier::writeRecords(const QString &mediaRoot)
{
    const QStringList playlists = createPlaylist.playlists();
    for (const QString &playlist : playlists) {
        if (halt == Halt::Removed || halt == Halt::Failed)
            return;
        // A job ended early has not seen every song of the playlist.
        if (halt != Halt::None)
            createPlaylist.keepEarlier(playlist, mediaRoot, fatNames);
        int error = 0;
        // Written only to the drive the job began on, as the media are.
        if (!driveStillThere() || !onTheDrive(mediaRoot) || !createPlaylist.writeM3U(playlist, device, &error)) {
            if (!driveWriteFailed(error ? error : EIO, QFileInfo(playlist).fileName()))
                return;
            continue;
        }
        touchedDrive = true;
    }
    manifest.dropUnstarted();
    if (!manifest.changed() || !QFileInfo(mediaRoot).isDir())
        return;
    int error = 0;
    // A file written straight under its name is vouched for only once its
    // bytes are on the drive.
    if (wroteStraight && driveStillThere() && !AtomicFile::syncVolume(mediaRoot, volumeHandle)) {
        error = errno;
        qCWarning(lcCopy) << "the drive could not be flushed" << systemReason(error);
        haltFor(driveStillThere() ? Halt::Failed : Halt::Removed, systemReason(error));
        return;
    }
    if (driveStillThere() && onTheDrive(mediaRoot) && manifest.save(device, &error)) {
        touchedDrive = true;
        return;
    }
    // Without its record the drive still holds every song; the next transfer
    // compares bytes instead.
    qCWarning(lcCopy) << "the drive's record could not be written" << systemReason(error);
    if (!driveStillThere())
        haltFor(Halt::Removed);
    else if (driveFails(error))
        haltFor(Halt::Failed, systemReason(error));
    else
        outcome.recordUnwritten =
            error != 0 ? systemReason(error) : QStringLiteral("it would not have landed on the drive");
}

int DriveCopier::copyFilesToDrive(TrackMap tracks, transferDetail detail, const std::atomic<bool> &stop)
{
    const QDateTime started = QDateTime::currentDateTime();
    stopFlag = &stop;
    halt = Halt::None;
    outcome = Outcome();
    writtenBy.clear();
    convertedInJob.clear();
    touchedDrive = false;
    createPlaylist.clear();
    reported = 0;
    pendingReport.clear();
    foldersMade.clear();
    verifiedFolders.clear();
    foundFree.clear();
    takenMeanwhile.clear();
    picturedFolders.clear();
    keptFiles.clear();
    currentPlaylist.clear();
    libraryFolder = QDir::cleanPath(ruvoDB::programCopyFolder()) + QLatin1Char('/');

    temp_TransferDetail = detail;
    issystem = detail.isSystem;
    frespaceremain = detail.freeSpace;
    const Volumes::Volume volume = Volumes::volumeOf(detail.drivePath);
    mountRoot = volume.mountPath;
    fatNames = Volumes::hasFatNames(volume.fileSystemType);
    device = QFileInfo(detail.drivePath).isDir() ? deviceOf(detail.drivePath) : 0;
    // Opened before the first write, so that the flushes see every write-back
    // error of this job, also one met while a file was written back early.
    volumeHandle = Volumes::flushHandle(detail.drivePath);
    const auto closeHandle = qScopeGuard([this] {
        if (volumeHandle >= 0)
            ::close(volumeHandle);
        volumeHandle = -1;
    });

    // The files there, in track order; a missing one is named there.
    QSet<QString> present;
    for (const track &item : checkSystemCompatibility(tracks, detail))
        present.insert(item.filepath);

    {
        QMutexLocker lock(&converterLock);
        converter = std::make_unique<ffmpeghandler>();
        converter->linkStopFlag(&stop);
        if (stop)
            converter->stop();
    }
    lstCodecDetail = ffmpeghandler::codecListFor(detail.system);

    const QString mediaRoot = detail.drivePath + QLatin1Char('/') +
                              driveName(detail.system.vehicleName + QStringLiteral(" Media")) + QLatin1Char('/');
    // A media root that is a link (or leads through one) is no place of
    // the drive's: nothing is read, swept, written or recorded there.
    const QString rootLink = linkInside(mediaRoot);
    if (!rootLink.isEmpty())
        haltFor(Halt::Failed, linkRefusal(rootLink));
    // What a killed transfer left half-written goes first (only the
    // program's own temporary files).
    if (halt == Halt::None && device != 0 && onTheDrive(mediaRoot))
        TemporaryFiles::sweep(mediaRoot, true, started);
    if (halt == Halt::None)
        manifest.load(mediaRoot, fatNames);
    else
        manifest = DriveManifest();
    planNewFiles(tracks, present, mediaRoot);
    // Every track in order, the missing ones too: a missing playlist song
    // keeps its playlist entry where an earlier transfer's copy is there.
    for (const track &item : std::as_const(tracks)) {
        if (stopRequested())
            break;
        if (!driveStillThere()) {
            haltFor(Halt::Removed);
            break;
        }
        const bool missing = !present.contains(item.filepath);
        if (missing && item.playlist.isEmpty())
            continue;
        if (!missing && !foldersMade.contains(mediaRoot)) {
            if (!QDir().mkpath(mediaRoot)) {
                haltFor(driveStillThere() ? Halt::Failed : Halt::Removed, systemReason(errno));
                break;
            }
            foldersMade.insert(mediaRoot);
        }

        const QString folder = folderOf(item);
        m3uPath.clear();
        if (!item.playlist.isEmpty()) {
            // Named like its folder: a playlist name can't lead out of the
            // media root or hold what the drive can't store.
            const QString suffix = QLatin1Char('.') + playlistExtension;
            m3uPath = mediaRoot + driveName(fitted(ffmpeghandler::cacheAlbumFolder(item.playlist), suffix)) + suffix;
        }
        const QString cleanedFolder = driveFolder(folder);
        const QString albumFolder = mediaRoot + cleanedFolder;
        songSource = QDir::cleanPath(QFileInfo(item.filepath).absoluteFilePath());
        // A missing playlist song touches the drive only to keep the entry
        // of an earlier transfer's copy, if one is there.
        const QString earlier = missing ? manifest.fileMadeFrom(songSource, cleanedFolder) : QString();
        if (missing && earlier.isEmpty())
            continue;
        if (!m3uPath.isEmpty()) {
            m3uEntry = cleanedFolder;
            currentPlaylist = item.playlist;
            // Started once per job, so a playlist whose tracks come in
            // several runs keeps all its entries.
            createPlaylist.openM3U(m3uPath);
        }

        if (missing) {
            createPlaylist.saveM3U({m3uPath, earlier});
            continue;
        }
        Transdestinationpath = item.filepath;
        coverPath = item.albumName.contains(QLatin1String("Unknown")) ? QString() : item.cover;
        sourceName = QFileInfo(item.filepath).fileName();
        convertedBase.clear();

        // A video is never converted: no need to ask for its codec.
        const QString codec = item.isVideo ? QString() : knownCodec(item.filepath);
        bool goOn = true;
        if (ffmpeghandler::needsTranscode(codec, item.isVideo, lstCodecDetail)) {
            // The cache folder is named after the drive folder (album,
            // playlist or "Unknown Album").
            afterTransCodeDestination = albumFolder;
            convertedBase = fitted(ffmpeghandler::cacheFileName(item), extensionRoom);
            const auto done = convertedInJob.constFind(songSource);
            if (done != convertedInJob.cend() && QFileInfo(*done).isFile()) {
                // Converted for another track of this job (one song in an
                // album and a playlist): once is enough.
                Transdestinationpath = *done;
                goOn = OnProcessOutputReady();
            } else {
                const QString target = ffmpeghandler::cacheFolder() + QLatin1Char('/') +
                                       fitted(ffmpeghandler::cacheAlbumFolder(folder)) + QLatin1Char('/') +
                                       convertedBase;
                lstCodecDetailTemp = lstCodecDetail;
                goOn = fileTrancodinMethod(item.filepath, target, detail.system.codec, detail.system.audioExtension);
            }
        } else {
            goOn = CopyFileUSB(item.filepath, albumFolder);
        }
        if (!goOn)
            break;
    }
    if (halt == Halt::None && stop.load())
        halt = Halt::Cancelled;
    if (halt != Halt::Removed && halt != Halt::Failed)
        writeRecords(mediaRoot);

    // What is reported done must be on the drive: flush before the last
    // report goes out.  A flush that fails lost what was reported.
    // Playlists and the drive's record count too: what the job wrote at all.
    const bool flushing = halt != Halt::Removed && (outcome.written > 0 || touchedDrive);
    if (flushing)
        emit sgSyncing();
    if (flushing && !Volumes::flush(detail.drivePath, volumeHandle)) {
        const int error = errno;
        halt = Halt::None;
        haltFor(driveStillThere() ? Halt::Failed : Halt::Removed, systemReason(error));
        outcome.written = 0;
    }
    outcome.halt = halt;
    if (halt == Halt::Removed || halt == Halt::Failed) {
        pendingReport.clear();
        if (halt == Halt::Removed)
            emit sgDriveRemoved();
    } else {
        if (!pendingReport.isEmpty())
            emit incrementProgress(pendingReport);
        pendingReport.clear();
        if (halt == Halt::Full)
            emit sgDiskFull();
    }
    Logging::getInstance()->WriteLog(QStringLiteral("Copying to USB.. Completed"), QString());
    stopFlag = nullptr;
    return reported;
}

bool DriveCopier::CopyFileUSB(QString source, QString folder, int)
{
    // A linked folder inside the drive (or another volume mounted there) is
    // not looked into, let alone written through: the file is left out.
    const QString refusal = folderRefusal(folder);
    if (!refusal.isEmpty()) {
        leaveOut(sourceName, refusal);
        report(skipText + sourceName);
        return true;
    }
    // A conversion is named after its song, not after the cache's name for
    // it: another version of the song in the cache is still that song.
    const QString name =
        driveName(convertedBase.isEmpty() ? QFileInfo(source).fileName()
                                          : convertedBase + QLatin1Char('.') + QFileInfo(source).suffix());
    // Never onto another song's file: a name taken by one gets a free one.
    bool holds = false;
    const QString target = targetFor(folder, name, source, holds);
    const QString written = QFileInfo(target).fileName();
    const QFileInfo existing(target);
    const qint64 size = QFileInfo(source).size();

    // The file there holds this song: the user's choices say whether it goes.
    bool keep = false;
    qint64 returned = 0; // bytes the replaced file gives back once the new one is in place
    if (holds) {
        const transferDetail &choice = temp_TransferDetail;
        const bool newer =
            choice.overwritenewer && existing.lastModified().msecsTo(QFileInfo(source).lastModified()) > timeStepMs;
        const bool better = choice.overwritequality && GetBitRate(target) < GetBitRate(source);
        if (writtenBy.contains(nameKey(target))) {
            keep = true; // this job put it there
        } else if (choice.overwriteall || newer || better) {
            returned = existing.size();
        } else {
            keep = true;
            keptFiles.insert(nameKey(target));
            outcome.kept = int(keptFiles.size());
        }
    }

    if (!keep) {
        if (size >= frespaceremain + returned && !issystem) {
            haltFor(Halt::Full);
            return false;
        }
        // Nothing is made on whatever took the pulled drive's place.
        if (!folderOnTheDrive(folder)) {
            haltFor(Halt::Removed);
            return false;
        }
        int error = 0;
        SafeFileCopy::Outcome copied = SafeFileCopy::WriteFailed;
        if (foldersMade.contains(folder) || QDir().mkpath(folder)) {
            foldersMade.insert(folder);
            // A name free on the drive that the record holds as being
            // written for this song takes the file straight.
            // targetFor found a name that holds nothing free (no file, no
            // link); the exclusive create checks it again, without another
            // look-up, which a FUSE-mounted drive answers slowly.
            bool straight = !holds && manifest.begun(target, songSource);
            // "Newer" compares with the source's time at the next transfer.
            const auto times = SafeFileCopy::Times::Source;
            copied = straight ? SafeFileCopy::copyNew(source, target, &error, device, SafeFileCopy::Times::Source)
                              : SafeFileCopy::copy(source, target, &error, device, times);
            if (straight && copied == SafeFileCopy::WriteFailed && error == EEXIST) {
                // Made there since the plan found the name free: what it is
                // and whose song it holds is looked at as for any name taken.
                // Not what a cut transfer left: this job found the name free.
                takenMeanwhile.insert(nameKey(target));
                if (foundFree.remove(nameKey(target)) > 0)
                    return CopyFileUSB(source, folder);
                straight = false;
                copied = SafeFileCopy::copy(source, target, &error, device, times);
            }
            wroteStraight = wroteStraight || (straight && copied == SafeFileCopy::Copied);
            // No room for the new file beside the one it replaces, but in its
            // place: the old one goes first, as the user chose.
            if (copied == SafeFileCopy::VolumeFull && returned > 0 &&
                Volumes::volumeOf(folder).availableBytes + returned > size && QFile::remove(target)) {
                frespaceremain += std::exchange(returned, 0);
                copied = SafeFileCopy::copy(source, target, &error, device, times);
            }
        } else
            error = QFileInfo::exists(folder) ? ENOTDIR : errno ? errno : EIO;
        Logging::getInstance()->WriteLog(QStringLiteral("Copying to USB.. "), target);
        switch (copied) {
        case SafeFileCopy::Copied:
            frespaceremain += returned - size;
            ++outcome.written;
            touchedDrive = true;
            writtenBy.insert(nameKey(target), songSource);
            // The copy's time was set last, through the open file: a
            // FUSE-mounted drive answers the record's size from what that
            // brought back, without another round trip to its daemon.
            manifest.record(target, songSource);
            break;
        case SafeFileCopy::SourceUnreadable:
            qCDebug(lcCopy) << "cannot read" << source;
            leaveOut(sourceName, RegularFile::failure(error));
            keepEarlierCopy();
            report(skipText + name);
            return true;
        case SafeFileCopy::VolumeFull:
            haltFor(driveStillThere() ? Halt::Full : Halt::Removed);
            return false;
        case SafeFileCopy::TargetGone:
            haltFor(Halt::Removed);
            return false;
        case SafeFileCopy::WriteFailed:
            // A name or size the drive refuses is this file's alone: the rest go on.
            if (!driveWriteFailed(error, sourceName))
                return false;
            keepEarlierCopy();
            report(skipText + name);
            return true;
        }
    } else {
        manifest.record(target, songSource);
    }

    if (QFileInfo(source).suffix() != QLatin1String("mp4") && !picturedFolders.contains(folder)) {
        // One folder picture per folder and job: the first file whose cover
        // is a picture file gives it (the no-artwork placeholder is none).
        if (QFileInfo(coverPath).isFile() && copycover(coverPath, folder + QStringLiteral("/Folder.png")))
            picturedFolders.insert(folder);
    }
    if (!m3uPath.isEmpty())
        createPlaylist.saveM3U({m3uPath, m3uEntry + QLatin1Char('/') + written});
    report((keep ? skipText : copyingText) + written);
    return true;
}

bool DriveCopier::fileTrancodinMethod(QString sourcefilePath, QString targetfilePath, QString setCodec,
                                      QString extension)
{
    // The first attempt with the system's codec, then the fall-back queue.
    const ffmpeghandler::Conversion result =
        converter->convert(sourcefilePath, targetfilePath, setCodec, extension, lstCodecDetailTemp);
    lstCodecDetailTemp.clear();
    qCDebug(lcCopy) << "IS TransCode" << result.outcome;
    switch (result.outcome) {
    case ffmpeghandler::Converted:
    case ffmpeghandler::AlreadyConverted:
        Transdestinationpath = result.outputPath;
        convertedInJob.insert(songSource, result.outputPath);
        return OnProcessOutputReady();
    case ffmpeghandler::Stopped:
        return false;
    case ffmpeghandler::NoRoom:
        haltFor(Halt::Failed, QStringLiteral("no room is left on this computer for the converted files"));
        return false;
    case ffmpeghandler::Failed:
        break;
    }
    report(skipText + sourceName);
    return UnableToProcess();
}

bool DriveCopier::OnProcessOutputReady()
{
    emit sgFiletranscoded(QFileInfo(Transdestinationpath).fileName());
    return CopyFileUSB(Transdestinationpath, afterTransCodeDestination);
}

bool DriveCopier::UnableToProcess()
{
    // One file the car can't be given: it is named at the end, the rest go on.
    qCDebug(lcCopy) << "Unable to process this file.." << sourceName;
    leaveOut(sourceName, QStringLiteral("no format the car plays could be made of it"));
    keepEarlierCopy();
    return true;
}
