#include "core/track_data.h"

#include <limits>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMutex>
#include <QMutexLocker>

#include <taglib/tstring.h>

#include "core/itunecoverartextracter.h"
#include "core/logging.h"
#include "core/mediaquality.h"
#include "core/noclobberwriter.h"
#include "core/shared.h"
#include "core/taglibbuilder.h"
#include "core/track_data_p.h"
#include "core/videometadata.h"
#include "database/repositorystager.h"
#include "database/ruvodb.h"

using namespace TrackDataInternal;

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

namespace {

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
    // Only the folder's own albums make it mixed: a playlist naming one of
    // its files is no album of the folder.
    // Made once: building one looks the data folder up, for every track.
    static shared folders;
    if (!fromPlaylist)
        folders.updateMixedAlbumsFolder(record.folderLocation, record.album_id);

    if (isVideo) {
        // ffmpeg may take long: the library's write lock is not held meanwhile.
        RepositoryStager::commitOpenBatch();
        VideoMetadata videometa;
        // A time the tag reading already found (through ffprobe for the
        // containers TagLib doesn't read) needs no second probe; it still
        // decides which frame pictures the video.
        const track video = videometa.getVideoMetadata(file.absoluteFilePath(), record.duration > 0 ? 0 : 1,
                                                       record.duration);
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
    static const shared sha; // its fixed names only
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
    // In a folder scan the scan's workers may have settled this file's
    // picture already: the album's picture file is then there for this
    // track or not as if the track had written it itself, now.
    const ScanCover made = coverOutcome ? coverOutcome(coverPath) : ScanCover::NotRead;
    QFileInfo cover(coverPath);
    bool found = false;
    if (made == ScanCover::NotRead) {
        if (!cover.exists()) {
            QDir().mkpath(folder);
            RepositoryStager::commitOpenBatch(); // a large picture takes a while to decode
            TagLibBuilder().storeCoverArt(coverPath, file.absoluteFilePath());
            cover.refresh();
        }
        found = cover.isFile();
    } else {
        QDir().mkpath(folder);
        found = made != ScanCover::NoPicture && cover.isFile();
    }
    record.cover = QDir::fromNativeSeparators(coverPath);
    if (found) {
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

namespace {

// The iTunes artwork index while a worker builds it; the scans' threads
// read and take it in.
QMutex itunesIndexMutex;
QFuture<QMap<QString, QString>> itunesIndexBuilding; // guarded by itunesIndexMutex
int itunesIndexGeneration = 0;                       // guarded by itunesIndexMutex

} // namespace

QString track_data::ItunesArtPIDCheck(QString cleanedAlbum)
{
    QString id;
    {
        QMutexLocker lock(&itunesIndexMutex);
        if (itunesIndexBuilding.isValid()) {
            QFuture<QMap<QString, QString>> building = itunesIndexBuilding;
            const int generation = itunesIndexGeneration;
            lock.unlock();
            building.waitForFinished();
            lock.relock();
            if (generation == itunesIndexGeneration && itunesIndexBuilding.isValid()) {
                ItuneCoverPIDALbum = building.resultCount() > 0 ? building.result() : QMap<QString, QString>();
                itunesIndexBuilding = QFuture<QMap<QString, QString>>();
            }
        }
        id = ItuneCoverPIDALbum.value(cleanedAlbum);
    }
    if (id.isEmpty())
        return QString();
    return ItuneCoverArtExtracter().RecurseForSingle(id, cleanedAlbum);
}

void track_data::SetItunesArtPIDMap(QMap<QString, QString> map)
{
    QMutexLocker lock(&itunesIndexMutex);
    ++itunesIndexGeneration;
    itunesIndexBuilding = QFuture<QMap<QString, QString>>();
    ItuneCoverPIDALbum = map;
}

void track_data::SetItunesArtPIDMap(QFuture<QMap<QString, QString>> index)
{
    QMutexLocker lock(&itunesIndexMutex);
    ++itunesIndexGeneration;
    itunesIndexBuilding = index;
    ItuneCoverPIDALbum.clear();
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
