#include "core/track_data.h"

#include <limits>

#include <QMutex>
#include <QMutexLocker>

#include "core/logging.h"

int track_data::track_Id = 1;
int track_data::album_Id = 1;
int track_data::artist_Id = 1;

TrackMap track_data::track_obj_map;
QMap<QString, int> track_data::album_map;
QMap<QString, int> track_data::artist_map;
track track_data::obj_track;
QMap<QString, QString> track_data::ItuneCoverPIDALbum;
bool track_data::IsVideoSupported = false;

const QStringList track_data::audioFilter = {
    QStringLiteral("mp3"), QStringLiteral("m4a"), QStringLiteral("m4b"), QStringLiteral("aac"),
    QStringLiteral("wma"), QStringLiteral("mpa"), QStringLiteral("mp2"), QStringLiteral("mpga"),
    QStringLiteral("wav"), QStringLiteral("aiff"), QStringLiteral("aif"), QStringLiteral("aifc"),
    QStringLiteral("flac"), QStringLiteral("ogg"), QStringLiteral("oga"), QStringLiteral("ape")};
const QStringList track_data::videoFilter = {
    QStringLiteral("mp4"), QStringLiteral("avi"), QStringLiteral("mpeg"), QStringLiteral("mpg"),
    QStringLiteral("wmv"), QStringLiteral("flv"), QStringLiteral("mkv"), QStringLiteral("m4v"),
    QStringLiteral("mov")};
const QStringList track_data::playlistFilter = {
    QStringLiteral("m3u"), QStringLiteral("m3u8"), QStringLiteral("pls"), QStringLiteral("xspf"),
    QStringLiteral("wpl")};

namespace {
// Takes the next id from a counter without ever wrapping.  postIncrement
// gives the current value and then increases; otherwise the counter grows
// first and the new value is the id.
int takeId(int &counter, bool postIncrement, const char *what)
{
    if (counter == std::numeric_limits<int>::max()) {
        Logging::getInstance()->WriteLog(QStringLiteral("Id range exhausted, record refused: "),
                                         QString::fromLatin1(what));
        return -1;
    }
    return postIncrement ? counter++ : ++counter;
}
} // namespace

track_data::track_data() = default;
track_data::~track_data() = default;

int track_data::takeTrackId()
{
    return takeId(track_Id, true, "track");
}

int track_data::takeNextTrackId()
{
    return takeId(track_Id, false, "track");
}

int track_data::takeAlbumId()
{
    return takeId(album_Id, false, "album");
}

int track_data::takeArtistId()
{
    return takeId(artist_Id, false, "artist");
}

// ---- File checks and tag reading ------------------------------------------

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <taglib/asffile.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/tag.h>
#include <taglib/wavfile.h>

#include "core/probeoutput.h"
#include "core/videometadata.h"
#include "platform/externalprogram.h"

Q_LOGGING_CATEGORY(lcTagReading, "corvane.tags")

bool track_data::checkAudioFile(QString suffix)
{
    return audioFilter.contains(suffix.toLower());
}

bool track_data::checkVideoFile(QString suffix)
{
    return IsVideoSupported && videoFilter.contains(suffix.toLower());
}

bool track_data::checkPlaylist(QString suffix)
{
    return playlistFilter.contains(suffix.toLower());
}

namespace {
template<typename File>
bool isEncrypted(const QString &path)
{
    File file(QFile::encodeName(path).constData(), true, TagLib::AudioProperties::Average);
    const auto *properties = file.isValid() ? file.audioProperties() : nullptr;
    return properties && properties->isEncrypted();
}

// How far TagLib got with a file: whether it understood the file as its
// kind at all (its tag and properties are then in the TagObject), and the
// playing time it found, in milliseconds.
struct TagLibRead
{
    bool opened = false;
    qint64 lengthMs = 0;
};

template<typename File>
TagLibRead readWith(TagObject &tags, const QString &path)
{
    File file(QFile::encodeName(path).constData(), true, TagLib::AudioProperties::Average);
    TagLibRead read;
    if (!file.isValid() || !file.tag())
        return read;
    tags.SetValues(file.tag(), file.audioProperties());
    read.opened = true;
    read.lengthMs = file.audioProperties() ? file.audioProperties()->lengthInMilliseconds() : 0;
    return read;
}

const QStringList mpegSuffixes = {QStringLiteral("mp3"), QStringLiteral("mp2"), QStringLiteral("mpa"),
                                  QStringLiteral("mpga")};

// Largest sample rate any real audio has (DSD aside, which these files don't hold).
constexpr int maximumSampleRate = 768000;

// Values no real file has: a negative time, a sample rate past any real
// one, or more than a day of audio in less than 1 kbit/s of bytes.
bool isImpossible(qint64 lengthMs, int sampleRate, qint64 size)
{
    if (lengthMs < 0 || sampleRate < 0 || sampleRate > maximumSampleRate)
        return true;
    return lengthMs > 24 * 3600 * 1000LL && size * 8 * 1000 / lengthMs < 1000;
}

// kbit/s of `size` bytes played in `lengthMs`.
int averageKbps(qint64 size, qint64 lengthMs)
{
    return lengthMs > 0 ? int(qMin<qint64>(size * 8 / lengthMs, std::numeric_limits<int>::max())) : 0;
}

// Files TagLib can't time that ffprobe can, told by their first bytes so
// that noise under such a name never reaches ffprobe: raw ADTS (or ADIF)
// AAC or an MP4 under an .aac name, Ogg (several logical streams are too
// much for TagLib), RF64/BW64 WAV.
bool needsProbe(const QString &path, const QString &suffix)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(8);
    if (suffix == QLatin1String("aac"))
        return head.startsWith("ADIF") || head.startsWith("ID3") || head.mid(4) == "ftyp" // an MP4 named .aac
               || (head.size() >= 2 && quint8(head.at(0)) == 0xFF && (quint8(head.at(1)) & 0xF6) == 0xF0);
    if (suffix == QLatin1String("ogg") || suffix == QLatin1String("oga"))
        return head.startsWith("OggS");
    if (suffix == QLatin1String("wav"))
        return head.startsWith("RF64") || head.startsWith("BW64");
    return false;
}

// ffprobe's view of the file: one bounded run.
ProbeOutput::Streams probeStreams(const QString &path)
{
    const ExternalProgram::Result probe = ExternalProgram(ExternalProgram::Ffprobe)
                                              .run({QStringLiteral("-v"), QStringLiteral("error"),
                                                    QStringLiteral("-show_streams"), QStringLiteral("-show_format"),
                                                    path},
                                                   VideoMetadata::probeTimeoutMs);
    if (!probe.succeeded())
        return {};
    return ProbeOutput::streams(ProbeOutput::text(probe.standardOutput));
}
} // namespace

bool track_data::checkProtected(QString path)
{
    const bool encrypted = isEncryptedFile(path);
    if (encrypted)
        protectedTracks.append(path);
    return encrypted;
}

bool track_data::isEncryptedFile(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("wma") || suffix == QLatin1String("wmv"))
        return isEncrypted<TagLib::ASF::File>(path);
    if (suffix == QLatin1String("mp4") || suffix == QLatin1String("m4v"))
        return isEncrypted<TagLib::MP4::File>(path);
    return false;
}

QStringList track_data::getProtectedTracks() const
{
    return protectedTracks;
}

void track_data::resetProtectedTracks()
{
    protectedTracks.clear();
}

bool track_data::ParseTags(TagObject &tags, QString path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    const QByteArray name = QFile::encodeName(path);
    const bool mpeg = mpegSuffixes.contains(suffix);
    TagLibRead read;
    if (suffix == QLatin1String("m4a") || suffix == QLatin1String("m4b") || suffix == QLatin1String("mp4")) {
        read = readWith<TagLib::MP4::File>(tags, path);
    } else if (suffix == QLatin1String("wma")) {
        read = readWith<TagLib::ASF::File>(tags, path);
    } else if (suffix == QLatin1String("flac")) {
        read = readWith<TagLib::FLAC::File>(tags, path);
    } else if (suffix == QLatin1String("wav")) {
        // tag() is only the ID3v2 tag; most tools write a RIFF INFO tag,
        // which fills whatever the ID3v2 tag leaves empty.
        TagLib::RIFF::WAV::File file(name.constData(), true, TagLib::AudioProperties::Average);
        if (file.isValid() && file.tag()) {
            tags.setFrom(file.tag(), file.audioProperties(), file.hasInfoTag() ? file.InfoTag() : nullptr);
            read = {true, file.audioProperties() ? file.audioProperties()->lengthInMilliseconds() : 0};
        }
    } else if (mpeg) {
        // TagLib calls any bytes valid MPEG: only a first frame makes it audio
        // (an ID3v2 tag alone, a picture under an MP3 name, is none).
        TagLib::MPEG::File file(name.constData(), true, TagLib::AudioProperties::Average);
        if (file.isValid() && file.tag()) {
            tags.SetValues(file.tag(), file.audioProperties());
            read.opened = true;
            if (file.firstFrameOffset() >= 0 && file.audioProperties())
                read.lengthMs = file.audioProperties()->lengthInMilliseconds();
        }
    } else {
        // Every other kind keeps the properties its own reader gives (an AIFF
        // or APE file with an ID3 chunk is no MP3).
        const TagLib::FileRef ref(name.constData(), true, TagLib::AudioProperties::Average);
        if (!ref.isNull()) {
            tags.SetValues(ref);
            read = {true, ref.audioProperties() ? ref.audioProperties()->lengthInMilliseconds() : 0};
        }
    }

    const qint64 size = QFileInfo(path).size();
    const bool impossible = read.opened && isImpossible(read.lengthMs, tags.sampleRate, size);
    if (read.opened && !impossible && read.lengthMs > 0 && tags.sampleRate > 0) {
        if (tags.bitrate <= 0)
            tags.bitrate = averageKbps(size, read.lengthMs);
        return true;
    }
    // No audio: an MPEG file without frames, or a file TagLib understood with
    // neither time nor sample rate (random bytes pass as a WAV file).
    const bool video = videoFilter.contains(suffix);
    const bool silent = read.opened && !impossible
                        && (mpeg ? read.lengthMs <= 0 : read.lengthMs <= 0 && tags.sampleRate <= 0);
    if (!video && (silent || !read.opened) && !needsProbe(path, suffix)) {
        qCDebug(lcTagReading) << "no playable audio:" << path;
        return false;
    }

    // ffprobe, once, for what TagLib can't tell: a video in a container
    // TagLib doesn't read, a missing sample rate or time, impossible values.
    const ProbeOutput::Streams streams = probeStreams(path);
    const qint64 probedMs = qint64(streams.duration * 1000);
    const bool probedAudio = streams.hasAudio && streams.sampleRate > 0 && probedMs > 0
                             && !isImpossible(probedMs, streams.sampleRate, size);
    if (!read.opened && (probedAudio || (video && streams.hasVideo)))
        tags.setFrom(nullptr, nullptr); // the defaults; the title comes from the file name
    if (probedAudio || (video && streams.hasVideo && probedMs > 0)) {
        tags.length = int(streams.duration);
        tags.sampleRate = streams.sampleRate;
        if (streams.channels > 0)
            tags.channels = streams.channels;
        tags.bitrate = streams.bitrate > 0 ? streams.bitrate : averageKbps(size, probedMs);
        return true;
    }
    if (video && streams.hasVideo) {
        // Its time comes from the video metadata step.
        tags.length = 0;
        tags.sampleRate = 0;
        return true;
    }
    // TagLib's time without a sample rate still plays.
    if (read.opened && !impossible && read.lengthMs > 0) {
        if (tags.bitrate <= 0)
            tags.bitrate = averageKbps(size, read.lengthMs);
        return true;
    }
    if (impossible)
        Logging::getInstance()->WriteLog(QStringLiteral("Impossible audio values, file refused: "), path);
    qCDebug(lcTagReading) << "not readable:" << path;
    return false;
}


// ---- Track mapping --------------------------------------------------------

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>

#include <taglib/tstring.h>

#include "core/mediaquality.h"
#include "core/itunecoverartextracter.h"
#include "core/noclobberwriter.h"
#include "core/shared.h"
#include "core/taglibbuilder.h"
#include "core/videometadata.h"
#include "database/repositorystager.h"
#include "database/ruvodb.h"

namespace {

const QString playlistPicture = QStringLiteral("qrc:///resources/photos/playlist.png");

// True when the cleaned, absolute path lies below the data folder, also once
// symbolic links in its existing folders are followed.
bool insideDataFolder(const QString &cleanedPath)
{
    const QString root = QDir::cleanPath(shared::dataFolder());
    if (!QDir::isAbsolutePath(cleanedPath) || !cleanedPath.startsWith(root + QLatin1Char('/')))
        return false;
    if (!shared::ensureDataFolder())
        return false;
    const QString canonicalRoot = QFileInfo(root).canonicalFilePath();
    QString folder = QFileInfo(cleanedPath).absolutePath();
    while (!QFileInfo::exists(folder))
        folder = QFileInfo(folder).absolutePath();
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    return !canonicalRoot.isEmpty()
           && (canonical == canonicalRoot || canonical.startsWith(canonicalRoot + QLatin1Char('/')));
}

} // namespace

QStringList track_data::defaultITunesSkipPlaylists()
{
    return {QStringLiteral("library"),
            QStringLiteral("recently added"),
            QStringLiteral("itunes dj"),
            QStringLiteral("purchased"),
            QStringLiteral("90") + QChar(0x2019) + QStringLiteral("s music"),  // typographic apostrophe
            QStringLiteral("recently played"),
            QStringLiteral("my top rated"),
            QStringLiteral("top 25 most played"),
            QStringLiteral("classical music"),
            QStringLiteral("Music Videos")};
}

void track_data::MapToTrack(int &idCounter, track &record, TagObject tags, QFileInfo &file, bool fromPlaylist,
                            QString playlistName, bool isVideo, bool isAudio)
{
    // A file without a title is named after its file: every ".mp3" (the
    // suffix in lower case) goes, so "a.mp3.mp3" becomes "a".
    if (tags.title.isEmpty()) {
        QString name = file.fileName();
        name.remove(QLatin1Char('.') + file.suffix().toLower());
        tags.title = QStringToTString(ConslidateTrack(name));
    }
    const QString title = TStringToQString(tags.title);
    record.hasTitle = !title.isEmpty() && !title.contains(QLatin1String("track"), Qt::CaseInsensitive);

    SetValues(record, tags);

    const int id = takeId(idCounter, true, "track");
    if (id < 0)
        return;
    record.id = id;
    record.filesize = file.size();
    record.filename = file.fileName();
    record.quality = mediaQualityClass(record.bitrate);
    record.source = 0;
    record.isAudiobook = false;
    record.isPodcast = false;
    record.folderLocation = file.absolutePath();

    record.album_id = Save_Map(album_map, fromPlaylist ? playlistName : record.albumName, album_Id);
    record.artist_id = Save_Map(artist_map, record.artistName, artist_Id);
    if (record.album_id < 0 || record.artist_id < 0)
        return;
    shared sha;
    sha.updateMixedAlbumsFolder(record.folderLocation, record.album_id);

    if (isVideo) {
        // ffmpeg may take long: the library's write lock is not held meanwhile.
        RepositoryStager::commitOpenBatch();
        VideoMetadata videometa;
        // A time the tag reading already found (through ffprobe for the
        // containers TagLib doesn't read) needs no second probe.
        const track video = videometa.getVideoMetadata(file.absoluteFilePath(), record.duration > 0 ? 0 : 1);
        if (video.duration > 0)
            record.duration = video.duration;
        record.cover = QDir::fromNativeSeparators(video.cover);
    }

    if (fromPlaylist) {
        record.cover = playlistPicture;
        record.albumName = playlistName.trimmed();
        record.isVideo = false;
        record.playlist_id = record.album_id;
        record.playlist = playlistName;
    } else {
        record.isVideo = isVideo && !isAudio;
        record.playlist = QString();
        record.playlist_id = 0;
        if (!record.isVideo)
            Save_Cover(record, file);
    }

    if (!record.hasTitle || shared::isUnknownName(record.albumName) || shared::isUnknownName(record.artistName)
        || record.cover.contains(QLatin1String("no_artwork.png")))
        record.isMissingData = true;

    track_obj_map.insert(record.id, record);
    stage(record);
}

void track_data::SetValues(track &record, TagObject tags)
{
    record.albumName = TStringToQString(tags.album).trimmed();
    record.artistName = TStringToQString(tags.artist).trimmed();
    record.trackname = TStringToQString(tags.title).trimmed();
    record.comment = TStringToQString(tags.comment);
    record.genre = TStringToQString(tags.genre);
    record.bitrate = tags.bitrate;
    record.channels = tags.channels;
    record.tracknumber = tags.track;
    record.year = tags.year;
    record.duration = double(tags.length);
    record.frequency = tags.sampleRate;
    record.hasArtist = !shared::isUnknownName(record.artistName);
    record.hasAlbum = !shared::isUnknownName(record.albumName);
}

int track_data::Save_Map(QMap<QString, int> &map, QString name, int &counter)
{
    const auto found = map.constFind(name);
    if (found != map.constEnd())
        return found.value();
    const int id = takeId(counter, false, "album or artist");
    if (id >= 0)
        map.insert(name, id);
    return id;
}

void track_data::Save_Cover(track &record, QFileInfo file)
{
    const shared sha;
    if (shared::isUnknownName(record.albumName)) {
        // No album, so no album picture to look for.
        record.cover = sha.noArtworkUrl;
        record.hasCover = false;
        record.isMissingData = true;
        return;
    }

    const QString name = sha.formatSplChar(record.albumName);
    const QString folder = shared::dataLocation() + sha.artworkPath;
    const QString coverPath = albumCoverPath(folder, name, record.filename);

    // The first track of the album that carries a picture writes the file;
    // the album's later tracks find it there, with one look (a scan asks
    // this for every track, and remembers the pictures it found).
    if (albumPicturesFound.contains(coverPath)) {
        record.cover = QDir::fromNativeSeparators(coverPath);
        record.hasCover = true;
        return;
    }
    QFileInfo cover(coverPath);
    if (!cover.exists()) {
        QDir().mkpath(folder);
        if (readAheadCover) {
            TagLibBuilder::writeCoverArt(coverPath, *readAheadCover);
        } else {
            RepositoryStager::commitOpenBatch(); // a large picture takes a while to decode
            TagLibBuilder().storeCoverArt(coverPath, file.absoluteFilePath());
        }
        cover.refresh();
    }
    record.cover = QDir::fromNativeSeparators(coverPath);
    if (cover.isFile()) {
        record.hasCover = true;
        if (rememberAlbumPictures)
            albumPicturesFound.insert(coverPath);
        return;
    }

    const QString itunesCover = ItunesArtPIDCheck(name);
    if (!itunesCover.isEmpty()) {
        record.cover = QDir::fromNativeSeparators(itunesCover);
        record.hasCover = true;
    } else {
        record.cover = sha.noArtworkUrl;
        record.hasCover = false;
    }
    record.isMissingData = true;
}

QString track_data::ItunesArtPIDCheck(QString cleanedAlbum)
{
    const auto found = ItuneCoverPIDALbum.constFind(cleanedAlbum);
    if (found == ItuneCoverPIDALbum.constEnd())
        return QString();
    return ItuneCoverArtExtracter().RecurseForSingle(found.value(), cleanedAlbum);
}

void track_data::SetItunesArtPIDMap(QMap<QString, QString> map)
{
    ItuneCoverPIDALbum = map;
}

namespace {
std::function<bool()> &videoSupportProvider()
{
    static std::function<bool()> provider;
    return provider;
}
} // namespace

void track_data::setVideoSupportProvider(std::function<bool()> provider)
{
    videoSupportProvider() = std::move(provider);
}

bool track_data::IsVideoSearch()
{
    if (const std::function<bool()> &provider = videoSupportProvider())
        IsVideoSupported = provider();
    return IsVideoSupported;
}

QString track_data::ConslidateTrack(QString text)
{
    return text.trimmed();
}

QString track_data::convertImageToBase64(QString path)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLatin1(file.readAll().toBase64());
}

void track_data::convertBase64ToImage(QString path, QString data)
{
    const QString target = QDir::cleanPath(QDir::fromNativeSeparators(path));
    const QFileInfo info(target);
    if (info.exists() || info.isSymLink() || !insideDataFolder(target))
        return;
    if (!QDir().mkpath(info.absolutePath()))
        return;

    QImage picture;
    if (!picture.loadFromData(QByteArray::fromBase64(data.toLatin1())))
        return;

    static const QStringList formats = {QStringLiteral("png"), QStringLiteral("jpg"),  QStringLiteral("jpeg"),
                                        QStringLiteral("bmp"), QStringLiteral("gif"),  QStringLiteral("svg"),
                                        QStringLiteral("tiff")};
    const QString suffix = info.suffix().toLower();
    const QByteArray format = formats.contains(suffix) ? suffix.toLatin1() : QByteArrayLiteral("png");
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly) || !picture.save(&buffer, format.constData()))
        return;  // e.g. a format the image library can't write
    buffer.close();
    NoClobberWriter::writeNew(target, bytes);
}


// ---- Folder scan ----------------------------------------------------------

#include <QDirIterator>
#include <QHash>
#include <QSet>
#include <QTextStream>
#include <QTime>
#include <QtConcurrent/QtConcurrentMap>
#include <QtConcurrent/QtConcurrentRun>
#include <QThread>
#include <QThreadPool>

#include "database/repositorystager.h"

#include <QMutex>
#include <QMutexLocker>
#include <QWaitCondition>

#include <memory>

#include <QDeadlineTimer>

// Stages a folder scan's records, in the order they are mapped, on a thread
// of its own (with its own connection, closed when the thread ends), so the
// scan thread only maps.  A few records wait at most: the scan thread waits
// when the stager falls behind (another writer holds the library).  All
// records handed over are staged before finish() returns.
class track_data::ScanStaging
{
public:
    ScanStaging()
        : thread(QThread::create([this] { run(); }))
    {
        thread->start();
    }
    ~ScanStaging() { finish(); }
    ScanStaging(const ScanStaging &) = delete;
    ScanStaging &operator=(const ScanStaging &) = delete;

    void add(const track &record)
    {
        QMutexLocker locker(&mutex);
        while (queue.size() >= waitingLimit)
            taken.wait(&mutex);
        queue.append(record);
        added.wakeOne();
    }

    void finish()
    {
        {
            const QMutexLocker locker(&mutex);
            done = true;
            added.wakeOne();
        }
        thread->wait();
    }

private:
    static constexpr qsizetype waitingLimit = 64;
    static constexpr int idleCommitMs = 20;

    void run()
    {
        // One batch for the whole scan, as on the scan thread before.
        const RepositoryStager::Batch batch;
        for (;;) {
            QList<track> records;
            {
                QMutexLocker locker(&mutex);
                // Nothing to stage for a moment: the scan is busy with
                // something slow (a tool, a picture, its readers), and other
                // writers of the library must not wait for it meanwhile.
                if (queue.isEmpty() && !done && !added.wait(&mutex, QDeadlineTimer(idleCommitMs))) {
                    locker.unlock();
                    RepositoryStager::commitOpenBatch();
                    locker.relock();
                }
                while (queue.isEmpty() && !done)
                    added.wait(&mutex);
                if (queue.isEmpty())
                    return;
                records.swap(queue);
                taken.wakeAll();
            }
            for (const track &record : std::as_const(records))
                ruvoDB::insertDataTrackRepo(record);
        }
    }

    QMutex mutex;
    QWaitCondition added;
    QWaitCondition taken;
    QList<track> queue; // guarded by mutex
    bool done = false;  // guarded by mutex
    std::unique_ptr<QThread> thread;
};

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

QThreadPool *readerPool()
{
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool;
        p->setMaxThreadCount(qMax(1, QThread::idealThreadCount()));
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
    ScanStaging staging;
    scanStaging = &staging;
    struct StagingDetach
    {
        track_data &scan;
        ~StagingDetach() { scan.scanStaging = nullptr; }
    } stagingDetach{*this};
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


// ---- iTunes import --------------------------------------------------------

namespace {

// What a playlist makes of its records.  iTunes' own playlists (told by
// their keys, or by the exact English names below in a file without them)
// leave each record under its own album; any other playlist groups its
// records as an album of its name.
struct ItunesPlaylistKind
{
    bool isPodcast = false;
    bool isAudiobook = false;
    QString group; // empty: each record is filed under its own album
};

ItunesPlaylistKind itunesPlaylistKind(const iTunedata &playlist)
{
    using Role = iTunedata::Role;
    const QString &name = playlist.name;
    ItunesPlaylistKind kind;
    if (playlist.role == Role::Podcasts || (playlist.role == Role::User && name == QLatin1String("Podcasts")))
        kind.isPodcast = true;
    else if (playlist.role == Role::Books || (playlist.role == Role::User && name == QLatin1String("Books")))
        kind.isAudiobook = true;
    else if (playlist.role == Role::User && !name.isEmpty() && name != QLatin1String("Movies")
             && name != QLatin1String("Music") && name != QLatin1String("Library"))
        kind.group = name;
    return kind;
}

} // namespace

TrackMap track_data::addITunesToTrackObj(QList<iTunedata> playlists, TrackMap map)
{
    shared sha;
    sha.clearMixedAlbumsFolderMap();
    resetProtectedTracks();
    ItuneCoverArtExtracter::resetCacheFileIndex(); // artwork added since the last scan counts

    VideoMetadata videometa;
    const QString artworkFolder = shared::dataLocation() + sha.artworkPath;
    // With its parents: on a first run the data folder itself may be missing.
    QDir().mkpath(artworkFolder);
    int filesRead = 0;
    // Staged in groups on a thread of their own, as the folder scan does: a
    // transaction per record would cost more than everything else the import
    // does.  All are staged before the import returns.
    ScanStaging staging;
    scanStaging = &staging;
    struct StagingDetach
    {
        track_data &scan;
        ~StagingDetach() { scan.scanStaging = nullptr; }
    } stagingDetach{*this};
    // Files already read for a picture they turned out not to have: a file
    // listed in several playlists is not opened again for it.
    QSet<QString> withoutPicture;

    // The pictures the records below will look for, read beforehand on the
    // reader pool: per missing album picture, its files in listing order up
    // to the first that has a picture (what the records' own look-ups would
    // read, one after the other).  The records still decide in order; a
    // file not read here is read when its record asks.
    QHash<QString, QByteArray> readAhead; // file -> its picture, "" for none
    {
        QHash<QString, int> jobOf; // picture file -> job
        QList<QStringList> jobs;   // the files of each picture, each once
        for (const iTunedata &playlist : std::as_const(playlists)) {
            if (playlist.role == iTunedata::Role::Library || playlist.role == iTunedata::Role::Purchased
                || iTunesSkipPlaylists.contains(playlist.name, Qt::CaseInsensitive))
                continue;
            for (const track &entry : playlist.tracks) {
                QString coverKey = sha.formatSplChar(entry.albumName);
                if (coverKey.isEmpty())
                    coverKey = sha.formatSplChar(entry.filename);
                if (shared::isUnknownName(coverKey) || QFileInfo(entry.filepath).size() <= iTunesMinimumFileSize)
                    continue;
                const QString coverPath = artworkFolder + QLatin1Char('/') + coverKey + QStringLiteral(".png");
                auto job = jobOf.constFind(coverPath);
                if (job == jobOf.cend()) {
                    if (QFileInfo::exists(coverPath))
                        continue;
                    job = jobOf.insert(coverPath, int(jobs.size()));
                    jobs.append(QStringList());
                }
                if (!jobs[job.value()].contains(entry.filepath))
                    jobs[job.value()].append(entry.filepath);
            }
        }
        const QList<QList<QByteArray>> found =
            QtConcurrent::blockingMapped<QList<QList<QByteArray>>>(readerPool(), jobs, [](const QStringList &files) {
                QList<QByteArray> pictures;
                for (const QString &file : files) {
                    pictures.append(TagLibBuilder::coverArtPng(file));
                    if (!pictures.last().isEmpty())
                        break;
                }
                return pictures;
            });
        for (int j = 0; j < jobs.size(); ++j) {
            for (int k = 0; k < found.at(j).size(); ++k)
                readAhead.insert(jobs.at(j).at(k), found.at(j).at(k));
        }
    }

    for (const iTunedata &playlist : std::as_const(playlists)) {
        // iTunes' own "Library" and "Purchased" are known by their keys in
        // any language; the skip list names the others in English.
        if (playlist.role == iTunedata::Role::Library || playlist.role == iTunedata::Role::Purchased
            || iTunesSkipPlaylists.contains(playlist.name, Qt::CaseInsensitive))
            continue;
        const ItunesPlaylistKind kind = itunesPlaylistKind(playlist);

        for (const track &entry : playlist.tracks) {
            const QFileInfo file(entry.filepath);
            const qint64 size = file.size(); // 0 for a file gone since the reading
            if (size <= iTunesMinimumFileSize)
                continue;
            if (fileReadHook)
                fileReadHook(++filesRead, entry.filepath);

            track record = sha.initializeTrackObject(track());
            record.folderLocation = file.absoluteDir().path();
            record.filesize = size;

            // The album's picture, named after the cleaned album (or file name).
            QString coverKey = sha.formatSplChar(entry.albumName);
            if (coverKey.isEmpty())
                coverKey = sha.formatSplChar(entry.filename);
            const QString coverPath = artworkFolder + QLatin1Char('/') + coverKey + QStringLiteral(".png");
            record.cover = QDir::fromNativeSeparators(coverPath);
            if (!shared::isUnknownName(coverKey) && !withoutPicture.contains(entry.filepath)
                && !QFileInfo::exists(coverPath)) {
                const auto known = readAhead.constFind(entry.filepath);
                const QByteArray png =
                    known != readAhead.cend() ? known.value() : TagLibBuilder::coverArtPng(entry.filepath);
                if (png.isEmpty())
                    withoutPicture.insert(entry.filepath);
                else
                    TagLibBuilder::writeCoverArt(coverPath, png);
            }
            if (QFileInfo::exists(record.cover)) {
                record.hasCover = true;
            } else {
                const QString itunesCover = ItunesArtPIDCheck(coverKey);
                record.hasCover = !itunesCover.isEmpty();
                record.cover = record.hasCover ? QDir::fromNativeSeparators(itunesCover) : sha.noArtworkUrl;
            }

            const QString albumKey = kind.group.isEmpty() ? entry.albumName : kind.group;
            const int id = takeNextTrackId();
            if (id < 0)
                return sha.updateFolderCoverArt(map, 0); // no ids left for anything after this
            record.album_id = Save_Map(album_map, albumKey, album_Id);
            record.artist_id = Save_Map(artist_map, entry.artistName, artist_Id);
            if (record.album_id < 0 || record.artist_id < 0)
                continue;

            record.albumName = albumKey.trimmed();
            record.artistName = entry.artistName;
            record.playlist = kind.group;
            record.playlist_id = kind.group.isEmpty() ? 0 : record.album_id;
            record.bitrate = entry.bitrate;
            if (!kind.group.isEmpty()) {
                record.cover = playlistPicture;
                record.hasCover = true;
            }
            record.duration = entry.duration;
            record.filename = entry.filename;
            record.genre = entry.genre;
            record.isPodcast = kind.isPodcast;
            record.isAudiobook = kind.isAudiobook;
            record.isVideo = entry.isVideo;
            if (kind.group.isEmpty())
                sha.updateMixedAlbumsFolder(record.folderLocation, record.album_id);

            if (entry.isVideo) {
                // A video shows its own frame, in a playlist too.
                const track video = videometa.getVideoMetadata(entry.filepath, 0);
                if (record.duration == 0)
                    record.duration = video.duration;
                record.cover = QDir::fromNativeSeparators(video.cover);
            }

            record.ReleaseDate = entry.ReleaseDate;
            record.trackname = entry.trackname.trimmed();
            record.frequency = entry.frequency;
            record.source = 1;
            record.tracknumber = entry.tracknumber;
            record.id = id;
            record.filepath = entry.filepath;
            record.sourcePath = entry.filepath;
            record.year = entry.year;
            record.isHidden = entry.isHidden;
            record.hasArtist = !shared::isUnknownName(entry.artistName);
            record.hasAlbum = !shared::isUnknownName(entry.albumName);
            record.hasTitle = !shared::isUnknownName(entry.trackname);
            record.isMissingData = shared::isUnknownName(record.albumName) ||
                                   shared::isUnknownName(record.artistName) ||
                                   record.cover.contains(QLatin1String("no_artwork.png"));

            map.insert(record.id, record);

            // The repository files a playlist's entries under no album of
            // their own: the playlist is not the album they came from.
            track staged = record;
            if (staged.albumName == staged.playlist) {
                staged.hasAlbum = false;
                staged.albumName = QStringLiteral("Unknown ablum");
            }
            stage(staged);
        }
    }
    return sha.updateFolderCoverArt(map, 0);
}
