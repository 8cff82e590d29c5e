#include <QtTest>

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include "core/itunecoverartextracter.h"
#include "core/shared.h"
#include "core/tagobject.h"
#include "core/track_data.h"
#include "database/database.h"
#include "database/ruvodb.h"
#include "delivery/combo.h"
#include "mediakit.h"
#include "testenv.h"

using testkit::MediaKit;
using testkit::MediaTags;

namespace {

const QString noArtwork = QStringLiteral("qrc:///resources/photos/no_artwork.png");
const QString playlistPicture = QStringLiteral("qrc:///resources/photos/playlist.png");

QString artworkFolder()
{
    return shared::dataLocation() + shared().artworkPath;
}

QString artworkFile(const QString &album)
{
    return artworkFolder() + QLatin1Char('/') + shared().formatSplChar(album) + QStringLiteral(".png");
}

TagObject makeTags(const QString &title, const QString &artist = QStringLiteral("Artist"),
                   const QString &album = QStringLiteral("Album"), int bitrate = 192)
{
    TagObject tags;
    tags.title = QStringToTString(title);
    tags.artist = QStringToTString(artist);
    tags.album = QStringToTString(album);
    tags.genre = QStringToTString(QStringLiteral("Rock"));
    tags.comment = QStringToTString(QStringLiteral("Unknown comment"));
    tags.bitrate = bitrate;
    tags.sampleRate = 44100;
    tags.channels = 2;
    tags.length = 3;
    tags.year = 2001;
    tags.track = 7;
    return tags;
}

bool touch(const QString &path, const QByteArray &bytes = QByteArrayLiteral("not media"))
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Maps `path` with the given tags as the folder scan does.
track mapWith(const TagObject &tags, const QString &path, bool fromPlaylist = false,
              const QString &playlistName = QString(), bool isVideo = false, bool isAudio = true)
{
    track_data scanner;
    track record;
    record.filepath = path;
    record.sourcePath = path;
    QFileInfo file(path);
    scanner.MapToTrack(track_data::track_Id, record, tags, file, fromPlaylist, playlistName, isVideo, isAudio);
    return record;
}

int count(const QString &sql, const QVariantList &values = {})
{
    QSqlQuery query;
    query.prepare(sql);
    for (const QVariant &v : values)
        query.addBindValue(v);
    if (!query.exec() || !query.next())
        return -1;
    return query.value(0).toInt();
}

QVariant value(const QString &sql, const QVariantList &values = {})
{
    QSqlQuery query;
    query.prepare(sql);
    for (const QVariant &v : values)
        query.addBindValue(v);
    if (!query.exec() || !query.next())
        return QVariant();
    return query.value(0);
}

void put32(QByteArray &bytes, quint32 value)
{
    const char b[4] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    bytes.append(b, 4);
}

// An iTunes artwork cache file holding one local PNG image.
QByteArray artworkCacheFile(const QByteArray &image)
{
    QByteArray bytes;
    put32(bytes, 0x114);
    bytes.append("itch");
    bytes.append(QByteArray::fromHex("00000002000000020000000200000000"));
    bytes.append("artw");
    bytes.append(0x114 - bytes.size(), '\0');
    const quint32 headerLength = 208;
    put32(bytes, headerLength + quint32(image.size()));
    bytes.append("item");
    put32(bytes, headerLength);
    for (quint32 v : {1u, 2u, 1u, 0u})
        put32(bytes, v);
    bytes.append(8, '\0');
    bytes.append(QByteArray::fromHex("6C08B3E9D4D50F3A"));
    bytes.append("loclPNGf");
    put32(bytes, 0);
    put32(bytes, 600);
    bytes.append(int(0x114 + headerLength) - bytes.size(), '\0');
    return bytes + image;
}

QByteArray pngBytes(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::green);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

} // namespace

class TestTrackMapping : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void titlesFromFileNames_data();
    void titlesFromFileNames();
    void qualityClass_data();
    void qualityClass();
    void recordFromATaggedFile();
    void firstAlbumCoverIsWrittenOnceAndReused();
    void albumPictureOrPlaceholder_data();
    void albumPictureOrPlaceholder();
    void unknownNamesAreJudgedAlike_data();
    void unknownNamesAreJudgedAlike();
    void emptyCleanedAlbumNamesCoverAfterFile();
    void iTunesArtworkStandsIn();
    void playlistEntry();
    void videoGetsDurationAndThumbnail();
    void idsAcrossScans();
    void unicodeSurvivesIntoTheStagedRow();
    void mapsOnAWorkerThread();
    void saveMapHandsOutIds();
    void base64RoundTrip_data();
    void base64RoundTrip();
    void base64WritesOnlyInsideTheDataFolder_data();
    void base64WritesOnlyInsideTheDataFolder();
    void base64NeverReplacesOrWritesGarbage();
    void iTunesSkipList();
    void videoSupportFollowsTheChosenSystem();

private:
    QTemporaryDir m_media;
    Database m_db;
};

void TestTrackMapping::initTestCase()
{
    QVERIFY(m_media.isValid());
    QVERIFY(m_db.connect(QStringLiteral("RuvoData"), true));
    m_db.create();
}

void TestTrackMapping::init()
{
    track_data::track_Id = 1;
    track_data::album_Id = 1;
    track_data::artist_Id = 1;
    track_data::album_map.clear();
    track_data::artist_map.clear();
    track_data::track_obj_map.clear();
    track_data::ItuneCoverPIDALbum.clear();
    shared().clearMixedAlbumsFolderMap();
    QVERIFY(QDir(artworkFolder()).removeRecursively());
    QSqlQuery query;
    for (const char *table : {"TrackRepo", "artistsRepo", "albumsRepo", "genres", "years"})
        QVERIFY(query.exec(QStringLiteral("DELETE FROM %1").arg(QLatin1String(table))));
}

void TestTrackMapping::titlesFromFileNames_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("titleTag");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("hasTitle");

    QTest::addRow("file name without its suffix") << "Song.mp3" << "" << "Song" << true;
    QTest::addRow("every lower-case suffix goes") << "a.mp3.mp3" << "" << "a" << true;
    QTest::addRow("an upper-case suffix stays") << "Live.MP3" << "" << "Live.MP3" << true;
    QTest::addRow("file name trimmed") << "  Spaced .mp3" << "" << "Spaced" << true;
    QTest::addRow("file name Track 01") << "Track 01.mp3" << "" << "Track 01" << false;
    QTest::addRow("title tag Track 01") << "x.mp3" << "Track 01" << "Track 01" << false;
    QTest::addRow("track in any letter case") << "x.mp3" << "SOUNDTRACK" << "SOUNDTRACK" << false;
    QTest::addRow("title tag kept, trimmed") << "x.mp3" << "  Hello " << "Hello" << true;
    QTest::addRow("nothing left of the name") << ".mp3" << "" << "" << false;
}

void TestTrackMapping::titlesFromFileNames()
{
    QFETCH(QString, fileName);
    QFETCH(QString, titleTag);
    QFETCH(QString, title);
    QFETCH(bool, hasTitle);

    // The album has its picture already, so only the title decides.
    QVERIFY(touch(artworkFile(QStringLiteral("Album")), pngBytes(4, 4)));
    const QString path = m_media.filePath(QStringLiteral("titles/") + fileName);
    QVERIFY(touch(path));

    const track record = mapWith(makeTags(titleTag), path);
    QCOMPARE(record.trackname, title);
    QCOMPARE(record.hasTitle, hasTitle);
    QCOMPARE(record.isMissingData, !hasTitle);
    QVERIFY(record.hasCover);
}

void TestTrackMapping::qualityClass_data()
{
    QTest::addColumn<int>("bitrate");
    QTest::addColumn<int>("quality");
    QTest::addRow("128 kbit/s") << 128 << 0;
    QTest::addRow("129 kbit/s") << 129 << 1;
    QTest::addRow("255 kbit/s") << 255 << 1;
    QTest::addRow("256 kbit/s") << 256 << 2;
}

void TestTrackMapping::qualityClass()
{
    QFETCH(int, bitrate);
    QFETCH(int, quality);
    const QString path = m_media.filePath(QStringLiteral("quality.mp3"));
    QVERIFY(touch(path));
    const track record = mapWith(makeTags(QStringLiteral("Q"), QStringLiteral("A"), QStringLiteral("B"), bitrate),
                                 path);
    QCOMPARE(record.bitrate, bitrate);
    QCOMPARE(record.quality, quality);
}

void TestTrackMapping::recordFromATaggedFile()
{
    MediaKit kit(m_media.filePath(QStringLiteral("tagged")));
    const QString cover = kit.picture(QStringLiteral("cover.jpg"), 64, 64);
    MediaTags t;
    t.title = QStringLiteral("Song");
    t.artist = QStringLiteral("Artist");
    t.album = QStringLiteral("First Album");
    t.genre = QStringLiteral("Jazz");
    t.year = 1999;
    t.track = 3;
    const QString path = kit.mp3(QStringLiteral("Disc/03 Song.mp3"), t, cover, 3, 192);
    QVERIFY2(!path.isEmpty(), qPrintable(kit.lastError()));

    TagObject tags;
    QVERIFY(track_data::ParseTags(tags, path));
    const track record = mapWith(tags, path);

    QCOMPARE(record.id, 1);
    QCOMPARE(track_data::track_Id, 2);
    QCOMPARE(record.album_id, 2); // the first album of a run
    QCOMPARE(record.artist_id, 2);
    QCOMPARE(record.trackname, QStringLiteral("Song"));
    QCOMPARE(record.artistName, QStringLiteral("Artist"));
    QCOMPARE(record.albumName, QStringLiteral("First Album"));
    QCOMPARE(record.genre, QStringLiteral("Jazz"));
    QCOMPARE(record.year, 1999);
    QCOMPARE(record.tracknumber, 3);
    QCOMPARE(record.quality, 1);
    QCOMPARE(record.frequency, qint64(44100));
    QVERIFY(qAbs(record.duration - 3) <= 1);
    QCOMPARE(record.filename, QStringLiteral("03 Song.mp3"));
    QCOMPARE(record.filesize, QFileInfo(path).size());
    QCOMPARE(record.folderLocation, QFileInfo(path).absolutePath());
    QCOMPARE(record.source, 0);
    QVERIFY(record.codec.isEmpty());
    QVERIFY(!record.isVideo && !record.isPodcast && !record.isAudiobook);
    QCOMPARE(record.playlist, QString());
    QCOMPARE(record.playlist_id, 0);
    QCOMPARE(record.cover, artworkFile(QStringLiteral("First Album")));
    QVERIFY(QImage(record.cover).width() > 0);
    QVERIFY(record.hasCover && record.hasTitle && record.hasArtist && record.hasAlbum);
    QVERIFY(!record.isMissingData);

    // Filed in the scan's map and staged with its folder.
    QCOMPARE(track_data::track_obj_map.value(1).filepath, path);
    QCOMPARE(track_data::track_obj_map.value(1).cover, record.cover);
    QCOMPARE(count("SELECT count(*) FROM TrackRepo WHERE filepath = ? AND folderLocation = ?",
                   {path, record.folderLocation}),
             1);
    QCOMPARE(value("SELECT cover FROM getTracksRepo").toString(), record.cover);
}

void TestTrackMapping::firstAlbumCoverIsWrittenOnceAndReused()
{
    MediaKit kit(m_media.filePath(QStringLiteral("shared")));
    const QString red = kit.picture(QStringLiteral("red.png"), 32, 32, QStringLiteral("red"));
    const QString blue = kit.picture(QStringLiteral("blue.png"), 32, 32, QStringLiteral("blue"));
    MediaTags t;
    t.artist = QStringLiteral("Artist");
    t.album = QStringLiteral("Shared Album");
    t.title = QStringLiteral("One");
    const QString first = kit.mp3(QStringLiteral("1.mp3"), t, red);
    t.title = QStringLiteral("Two");
    const QString second = kit.mp3(QStringLiteral("2.mp3"), t, blue);
    t.title = QStringLiteral("Three");
    const QString third = kit.mp3(QStringLiteral("3.mp3"), t);
    QVERIFY(!first.isEmpty() && !second.isEmpty() && !third.isEmpty());

    TagObject tags;
    QVERIFY(track_data::ParseTags(tags, first));
    const track one = mapWith(tags, first);
    const QString coverFile = artworkFile(QStringLiteral("Shared Album"));
    QCOMPARE(one.cover, coverFile);
    const QByteArray written = contents(coverFile);
    QVERIFY(!written.isEmpty());
    const QColor colour = QImage::fromData(written).pixelColor(5, 5);
    QVERIFY(colour.red() > 200 && colour.blue() < 60);

    TagObject tags2;
    QVERIFY(track_data::ParseTags(tags2, second));
    const track two = mapWith(tags2, second);
    TagObject tags3;
    QVERIFY(track_data::ParseTags(tags3, third));
    const track three = mapWith(tags3, third);

    QCOMPARE(contents(coverFile), written); // the first picture stays
    for (const track &record : {two, three}) {
        QCOMPARE(record.cover, coverFile);
        QVERIFY(record.hasCover);
        QVERIFY(!record.isMissingData);
        QCOMPARE(record.album_id, one.album_id);
    }
    QCOMPARE(QDir(artworkFolder()).entryList(QDir::Files).size(), 1);
}

void TestTrackMapping::albumPictureOrPlaceholder_data()
{
    QTest::addColumn<QString>("album");
    QTest::addColumn<bool>("withPicture");
    QTest::addColumn<bool>("ownPicture");

    QTest::addRow("the tag default, picture ignored") << "Unknown Album" << true << false;
    QTest::addRow("the tag default, no picture") << "Unknown Album" << false << false;
    QTest::addRow("starts with Unknown") << "Unknown Pleasures" << true << false;
    QTest::addRow("unknown inside, no picture") << "The Unknown Soldier" << false << false;
    QTest::addRow("unknown inside, with picture") << "The Unknown Soldier" << true << true;
    QTest::addRow("lower-case unknown, no picture") << "unknown album" << false << false;
    QTest::addRow("plain album, no picture") << "Plain" << false << false;
}

void TestTrackMapping::albumPictureOrPlaceholder()
{
    QFETCH(QString, album);
    QFETCH(bool, withPicture);
    QFETCH(bool, ownPicture);

    MediaKit kit(m_media.filePath(QStringLiteral("placeholder")));
    const QString picture = withPicture ? kit.picture(QStringLiteral("p.png"), 16, 16) : QString();
    MediaTags t;
    t.title = QStringLiteral("Song");
    t.artist = QStringLiteral("Artist");
    t.album = album;
    const QString path = kit.mp3(QStringLiteral("%1.mp3").arg(QTest::currentDataTag()), t, picture);
    QVERIFY(!path.isEmpty());
    TagObject tags;
    QVERIFY(track_data::ParseTags(tags, path));
    const track record = mapWith(tags, path);

    if (ownPicture) {
        QCOMPARE(record.cover, artworkFile(album));
        QVERIFY(record.hasCover);
        QVERIFY(!record.isMissingData);
    } else {
        // Never a path at which no file exists.
        QCOMPARE(record.cover, noArtwork);
        QVERIFY(!record.hasCover);
        QVERIFY(record.isMissingData);
        QVERIFY(!QFileInfo::exists(artworkFile(album)));
    }
    QCOMPARE(value("SELECT cover FROM albumsRepo WHERE name = ?", {album}).toString(), record.cover);
}

void TestTrackMapping::unknownNamesAreJudgedAlike_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("unknown");

    QTest::addRow("Unknown Album") << "Unknown Album" << true;
    QTest::addRow("Unknown Artist") << "Unknown Artist" << true;
    QTest::addRow("Unknown Pleasures") << "Unknown Pleasures" << true;
    QTest::addRow("The Unknown Soldier") << "The Unknown Soldier" << false;
    QTest::addRow("lower case") << "unknown album" << false;
    QTest::addRow("plain") << "Abbey Road" << false;
}

// Mapping, folder pictures and staging decide "no value" by the same rule.
void TestTrackMapping::unknownNamesAreJudgedAlike()
{
    QFETCH(QString, name);
    QFETCH(bool, unknown);

    QCOMPARE(shared::isUnknownName(name), unknown);

    // Mapping: the completeness flags.
    track_data scanner;
    track record;
    scanner.SetValues(record, makeTags(QStringLiteral("T"), name, name));
    QCOMPARE(record.hasArtist, !unknown);
    QCOMPARE(record.hasAlbum, !unknown);

    // Folder pictures: an unknown album never takes the folder's picture.
    QTemporaryDir folder;
    QVERIFY(touch(folder.filePath(QStringLiteral("folder.jpg")), pngBytes(8, 8)));
    QDir().mkpath(artworkFolder());
    shared sha;
    sha.clearMixedAlbumsFolderMap();
    sha.updateMixedAlbumsFolder(folder.path(), 2);
    track inFolder;
    inFolder.id = 1;
    inFolder.albumName = name;
    inFolder.folderLocation = folder.path();
    inFolder.cover = noArtwork;
    const TrackMap result = sha.updateFolderCoverArt(TrackMap{{1, inFolder}}, 1);
    QCOMPARE(result.value(1).hasCover, !unknown);

    // Staging: an unknown album's row never keeps a real picture.
    track staged;
    staged.sourcePath = QStringLiteral("/m/1.mp3");
    staged.albumName = name;
    staged.artistName = QStringLiteral("A");
    QVERIFY(ruvoDB::insertDataTrackRepo(staged));
    staged.sourcePath = QStringLiteral("/m/2.mp3");
    staged.cover = folder.filePath(QStringLiteral("folder.jpg"));
    QVERIFY(ruvoDB::insertDataTrackRepo(staged));
    QCOMPARE(value("SELECT cover FROM albumsRepo").toString() == noArtwork, unknown);
}

void TestTrackMapping::emptyCleanedAlbumNamesCoverAfterFile()
{
    MediaKit kit(m_media.filePath(QStringLiteral("symbols")));
    const QString picture = kit.picture(QStringLiteral("p.png"), 16, 16);
    MediaTags t;
    t.title = QStringLiteral("Song");
    t.artist = QStringLiteral("Artist");
    t.album = QStringLiteral("?!");
    const QString path = kit.mp3(QStringLiteral("odd.mp3"), t, picture);
    TagObject tags;
    QVERIFY(track_data::ParseTags(tags, path));
    const track record = mapWith(tags, path);
    QCOMPARE(record.cover, artworkFolder() + QStringLiteral("/odd.mp3"));
    QVERIFY(record.hasCover);
}

void TestTrackMapping::iTunesArtworkStandsIn()
{
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    QVERIFY(touch(music + QStringLiteral("/iTunes/Album Artwork/Cache/0A1B-1234ABCD1234ABCD.itc2"),
                  artworkCacheFile(pngBytes(6, 6))));
    ItuneCoverArtExtracter::resetCacheFileIndex();
    track_data scanner;
    scanner.SetItunesArtPIDMap({{QStringLiteral("From iTunes"), QStringLiteral("1234ABCD1234ABCD")}});
    QCOMPARE(track_data::ItuneCoverPIDALbum.size(), 1);

    const QString path = m_media.filePath(QStringLiteral("itunes.mp3"));
    QVERIFY(touch(path));
    const track record = mapWith(makeTags(QStringLiteral("Song"), QStringLiteral("A"), QStringLiteral("From iTunes")),
                                 path);
    QCOMPARE(record.cover, ItuneCoverArtExtracter::outputFolder() + QStringLiteral("/From iTunes.png"));
    QVERIFY(QFileInfo(record.cover).isFile());
    QVERIFY(record.hasCover);
    QVERIFY(record.isMissingData); // still worth a lookup
    QVERIFY(!QFileInfo::exists(artworkFile(QStringLiteral("From iTunes"))));

    // An album the index doesn't know gets the placeholder.
    QCOMPARE(scanner.ItunesArtPIDCheck(QStringLiteral("Elsewhere")), QString());
}

void TestTrackMapping::playlistEntry()
{
    MediaKit kit(m_media.filePath(QStringLiteral("playlist")));
    MediaTags t;
    t.title = QStringLiteral("Song");
    t.artist = QStringLiteral("Artist");
    t.album = QStringLiteral("Real Album");
    const QString song = kit.mp3(QStringLiteral("song.mp3"), t, kit.picture(QStringLiteral("c.png"), 8, 8));
    const QString clip = kit.video(QStringLiteral("clip.mp4"), 1, 160, 120);
    QVERIFY(!song.isEmpty() && !clip.isEmpty());

    TagObject tags;
    QVERIFY(track_data::ParseTags(tags, song));
    const QString playlist = QStringLiteral("  Road Trip ");
    const track entry = mapWith(tags, song, true, playlist);
    QCOMPARE(entry.albumName, QStringLiteral("Road Trip"));
    QCOMPARE(entry.playlist, playlist);
    QCOMPARE(entry.cover, playlistPicture);
    QCOMPARE(entry.playlist_id, entry.album_id);
    QCOMPARE(track_data::album_map.value(playlist), entry.album_id);
    QVERIFY(!track_data::album_map.contains(QStringLiteral("Real Album")));
    QVERIFY(!QFileInfo::exists(artworkFile(QStringLiteral("Real Album"))));

    // The same file outside the playlist is a second staged row.
    const track plain = mapWith(tags, song);
    QCOMPARE(plain.albumName, QStringLiteral("Real Album"));
    QVERIFY(plain.album_id != entry.album_id);
    QCOMPARE(count("SELECT count(*) FROM TrackRepo WHERE filepath = ?", {song}), 2);
    QCOMPARE(count("SELECT count(*) FROM TrackRepo WHERE Playlist = ?", {playlist}), 1);

    // A video named by a playlist is filed as a playlist entry, not as video.
    TagObject videoTags = makeTags(QStringLiteral("Clip"));
    const track videoEntry = mapWith(videoTags, clip, true, playlist, true, false);
    QVERIFY(!videoEntry.isVideo);
    QCOMPARE(videoEntry.cover, playlistPicture);
    QCOMPARE(videoEntry.album_id, entry.album_id);
}

void TestTrackMapping::videoGetsDurationAndThumbnail()
{
    MediaKit kit(m_media.filePath(QStringLiteral("video")));
    const QString clip = kit.video(QStringLiteral("clip.mp4"), 2, 160, 120);
    QVERIFY2(!clip.isEmpty(), qPrintable(kit.lastError()));
    TagObject tags = makeTags(QString());
    tags.length = 0;

    const track record = mapWith(tags, clip, false, QString(), true, false);
    QVERIFY(record.isVideo);
    QVERIFY(qAbs(record.duration - 2) < 0.5);
    QCOMPARE(record.cover, shared::dataLocation() + shared().videoArtworkPath + QStringLiteral("/clip.png"));
    QVERIFY(!record.cover.contains(QLatin1Char('\\')));
    QCOMPARE(record.trackname, QStringLiteral("clip"));
    QCOMPARE(value("SELECT VideoImage FROM TrackRepo").toString(), record.cover);

    // A file that is audio as well is filed as audio.
    const track audio = mapWith(tags, clip, false, QString(), true, true);
    QVERIFY(!audio.isVideo);
}

void TestTrackMapping::idsAcrossScans()
{
    const QString path = m_media.filePath(QStringLiteral("ids.mp3"));
    QVERIFY(touch(path));
    QCOMPARE(mapWith(makeTags("1", "X", "A"), path).album_id, 2);
    QCOMPARE(mapWith(makeTags("2", "Y", "B"), path).album_id, 3);
    const track again = mapWith(makeTags("3", "X", "A"), path);
    QCOMPARE(again.album_id, 2);
    QCOMPARE(again.artist_id, 2);
    QCOMPARE(again.id, 3);

    // A later scan starts with an empty result map but keeps the names' ids.
    track_data::track_obj_map.clear();
    const track later = mapWith(makeTags("4", "Y", "A"), path);
    QCOMPARE(later.album_id, 2);
    QCOMPARE(later.artist_id, 3);
    QCOMPARE(later.id, 4);
    QCOMPARE(track_data::track_obj_map.keys(), QList<int>{4});
}

void TestTrackMapping::unicodeSurvivesIntoTheStagedRow()
{
    MediaKit kit(m_media.filePath(QStringLiteral("Ωμέγα")));
    MediaTags t;
    t.title = QStringLiteral("Jóga ✓ 東京");
    t.artist = QStringLiteral("Björk Guðmundsdóttir");
    t.album = QStringLiteral("Песни");
    const QString path = kit.mp3(QStringLiteral("Песня №1.mp3"), t, kit.picture(QStringLiteral("c.png"), 8, 8));
    QVERIFY2(!path.isEmpty(), qPrintable(kit.lastError()));
    TagObject tags;
    QVERIFY(track_data::ParseTags(tags, path));
    const track record = mapWith(tags, path);
    QCOMPARE(record.trackname, t.title);
    QCOMPARE(record.artistName, t.artist);
    QCOMPARE(record.filename, QStringLiteral("Песня №1.mp3"));
    QCOMPARE(record.cover, artworkFile(t.album));
    QVERIFY(record.hasCover);

    QSqlQuery query;
    QVERIFY(query.exec(QStringLiteral("SELECT trackname, artistname, albumname, filename, filepath, folderLocation "
                                      "FROM getTracksRepo")));
    QVERIFY(query.next());
    QCOMPARE(query.value(0).toString(), t.title);
    QCOMPARE(query.value(1).toString(), t.artist);
    QCOMPARE(query.value(2).toString(), t.album);
    QCOMPARE(query.value(3).toString(), QStringLiteral("Песня №1.mp3"));
    QCOMPARE(query.value(4).toString(), path);
    QCOMPARE(query.value(5).toString(), QFileInfo(path).absolutePath());
}

void TestTrackMapping::mapsOnAWorkerThread()
{
    const QString path = m_media.filePath(QStringLiteral("worker.mp3"));
    QVERIFY(touch(path));
    track mapped;
    QThread *worker = QThread::create([&] { mapped = mapWith(makeTags("Worker song"), path); });
    worker->start();
    QVERIFY(worker->wait(30000));
    delete worker;
    QCOMPARE(mapped.id, 1);
    QCOMPARE(count("SELECT count(*) FROM TrackRepo WHERE trackname = 'Worker song'"), 1);
}

void TestTrackMapping::saveMapHandsOutIds()
{
    track_data scanner;
    QMap<QString, int> map;
    int counter = 1;
    QCOMPARE(scanner.Save_Map(map, QStringLiteral("a"), counter), 2);
    QCOMPARE(scanner.Save_Map(map, QStringLiteral("A"), counter), 3); // exact key
    QCOMPARE(scanner.Save_Map(map, QStringLiteral("a"), counter), 2);
    QCOMPARE(counter, 3);

    counter = std::numeric_limits<int>::max();
    QCOMPARE(scanner.Save_Map(map, QStringLiteral("b"), counter), -1);
    QVERIFY(!map.contains(QStringLiteral("b")));
    QCOMPARE(scanner.Save_Map(map, QStringLiteral("a"), counter), 2);
    QCOMPARE(scanner.ConslidateTrack(QStringLiteral(" \t x y \n")), QStringLiteral("x y"));
}

void TestTrackMapping::base64RoundTrip_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("format");
    QTest::addRow("png") << "Album.png" << QByteArray("png");
    QTest::addRow("JPG suffix gives JPEG") << "Album.JPG" << QByteArray("jpeg");
    QTest::addRow("bmp") << "Album.bmp" << QByteArray("bmp");
    QTest::addRow("unknown suffix gives PNG") << "Album.dat" << QByteArray("png");
    QTest::addRow("new sub-folders are made") << "New/Deeper/Album.png" << QByteArray("png");
}

void TestTrackMapping::base64RoundTrip()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, format);

    track_data scanner;
    const QString source = m_media.filePath(QStringLiteral("source.png"));
    QVERIFY(touch(source, pngBytes(12, 7)));
    const QString text = scanner.convertImageToBase64(source);
    QCOMPARE(QByteArray::fromBase64(text.toLatin1()), contents(source));

    const QString target = artworkFolder() + QLatin1Char('/') + name;
    scanner.convertBase64ToImage(target, text);
    QImageReader reader(target);
    QCOMPARE(reader.format(), format);
    QCOMPARE(reader.size(), QSize(12, 7));
    // No temporary file is left beside it.
    QCOMPARE(QFileInfo(target).dir().entryList(QDir::Files | QDir::Hidden).size(), 1);
}

void TestTrackMapping::base64WritesOnlyInsideTheDataFolder_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("escapeTo");

    const QString data = shared::dataFolder();
    const QString outside = shared::dataLocation() + QStringLiteral("/escaped.png");
    QTest::addRow("dot-dot out of the data folder") << data + "/Artwork/../../escaped.png" << outside;
    QTest::addRow("name merely contains the folder name")
        << shared::dataLocation() + "/Corvane-Media-Organiser-evil/x.png"
        << shared::dataLocation() + "/Corvane-Media-Organiser-evil/x.png";
    QTest::addRow("relative path") << "Corvane-Media-Organiser/x.png" << "Corvane-Media-Organiser/x.png";
    QTest::addRow("the data folder itself") << data << data;
}

void TestTrackMapping::base64WritesOnlyInsideTheDataFolder()
{
    QFETCH(QString, target);
    QFETCH(QString, escapeTo);
    track_data scanner;
    const QString text = QString::fromLatin1(pngBytes(4, 4).toBase64());
    const QFileInfo before(escapeTo);
    const bool existedBefore = before.exists();
    scanner.convertBase64ToImage(target, text);
    if (existedBefore)
        QVERIFY(QFileInfo(escapeTo).isDir());
    else
        QVERIFY(!QFileInfo::exists(escapeTo));
}

void TestTrackMapping::base64NeverReplacesOrWritesGarbage()
{
    track_data scanner;
    const QString text = QString::fromLatin1(pngBytes(4, 4).toBase64());

    const QString existing = artworkFolder() + QStringLiteral("/Existing.png");
    QVERIFY(touch(existing, "keep me"));
    scanner.convertBase64ToImage(existing, text);
    QCOMPARE(contents(existing), QByteArray("keep me"));

    const QString garbage = artworkFolder() + QStringLiteral("/Garbage.png");
    scanner.convertBase64ToImage(garbage, QStringLiteral("bm90IGEgcGljdHVyZQ=="));
    QVERIFY(!QFileInfo::exists(garbage));

    const QString svg = artworkFolder() + QStringLiteral("/Vector.svg");
    scanner.convertBase64ToImage(svg, text);
    QVERIFY(!QFileInfo::exists(svg));

    // A symbolic link inside the data folder doesn't lead out of it.
    QTemporaryDir elsewhere;
    const QString link = shared::dataFolder() + QStringLiteral("/link");
    QFile::remove(link);
    QVERIFY(QFile::link(elsewhere.path(), link));
    scanner.convertBase64ToImage(link + QStringLiteral("/x.png"), text);
    QVERIFY(!QFileInfo::exists(elsewhere.filePath(QStringLiteral("x.png"))));
    QFile::remove(link);

    QCOMPARE(scanner.convertImageToBase64(artworkFolder() + QStringLiteral("/missing.png")), QString());
    QCOMPARE(scanner.convertImageToBase64(artworkFolder()), QString());
}

void TestTrackMapping::iTunesSkipList()
{
    const track_data scanner;
    const QStringList expected = {"library", "recently added", "itunes dj", "purchased",
                                  QStringLiteral("90\u2019s music"), "recently played", "my top rated",
                                  "top 25 most played", "classical music", "Music Videos"};
    QCOMPARE(scanner.iTunesSkipPlaylists, expected);
    QCOMPARE(scanner.iTunesSkipPlaylists.at(4).at(2).unicode(), ushort(0x2019));
}

void TestTrackMapping::videoSupportFollowsTheChosenSystem()
{
    track_data scanner;
    Combo combo;
    combo.getsystemDetail()->videoSupported = true;
    QVERIFY(scanner.IsVideoSearch());
    QVERIFY(track_data::IsVideoSupported);
    combo.getsystemDetail()->videoSupported = false;
    QVERIFY(!scanner.IsVideoSearch());
    QVERIFY(!track_data::IsVideoSupported);
}

CORVANE_TEST_MAIN(TestTrackMapping)
#include "tst_trackmapping.moc"
