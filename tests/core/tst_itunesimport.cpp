#include <QtTest>

#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUrl>

#include "core/shared.h"
#include "core/taglibbuilder.h"
#include "core/track_data.h"
#include "database/database.h"
#include "ituneslibraryxml.h"
#include "mediakit.h"
#include "testenv.h"

using testkit::ItunesLibraryXml;
using testkit::MediaKit;
using testkit::MediaTags;

namespace {

const QString noArtwork = QStringLiteral("qrc:///resources/photos/no_artwork.png");
const QString playlistPicture = QStringLiteral("qrc:///resources/photos/playlist.png");

QString artworkFolder()
{
    return shared::dataLocation() + shared().artworkPath;
}

QString artworkFile(const QString &name)
{
    return artworkFolder() + QLatin1Char('/') + shared().formatSplChar(name) + QStringLiteral(".png");
}

// A record as the iTunes library reader hands it over.
track entry(const QString &path, const QString &album = QStringLiteral("Highway Songs"),
            const QString &title = QStringLiteral("Song"))
{
    track r;
    r.filepath = path;
    r.filename = title;
    r.trackname = title;
    r.albumName = album;
    r.artistName = QStringLiteral("Artist");
    r.genre = QStringLiteral("Rock");
    r.codec = QStringLiteral("MPEG audio file"); // the reader's "Kind"
    r.duration = 3.5;
    r.bitrate = 256;
    r.frequency = 44100;
    r.tracknumber = 4;
    r.year = 1999;
    r.ReleaseDate = QStringLiteral("05/06/2001");
    r.source = 1;
    r.id = 4711; // the library file's Track ID, replaced by the import
    return r;
}

TrackMap import(const QList<iTunedata> &playlists)
{
    return track_data().addITunesToTrackObj(playlists, TrackMap());
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

} // namespace

// The iTunes import against files made in a temporary folder and the
// repository of a fresh library.
class TestItunesImport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void sizeThreshold_data();
    void sizeThreshold();
    void playlistNames_data();
    void playlistNames();
    void fileInMusicAndInUserPlaylists();
    void covers_data();
    void covers();
    void videos();

private:
    QString bigFile(const QString &relative, qint64 size = 200000);

    QTemporaryDir m_dir;
    Database m_db;
};

void TestItunesImport::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(m_db.connect(QStringLiteral("RuvoData"), true));
    m_db.create();
}

void TestItunesImport::init()
{
    track_data::track_Id = 1;
    track_data::album_Id = 1;
    track_data::artist_Id = 1;
    track_data::album_map.clear();
    track_data::artist_map.clear();
    track_data::ItuneCoverPIDALbum.clear();
    QVERIFY(QDir(artworkFolder()).removeRecursively());
    QSqlQuery query;
    for (const char *table : {"TrackRepo", "artistsRepo", "albumsRepo", "genres", "years"})
        QVERIFY(query.exec(QStringLiteral("DELETE FROM %1").arg(QLatin1String(table))));
}

// A file of zero bytes of the given size (no tags, no picture).
QString TestItunesImport::bigFile(const QString &relative, qint64 size)
{
    const QString path = m_dir.filePath(relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !file.resize(size))
        return QString();
    return path;
}

void TestItunesImport::sizeThreshold_data()
{
    QTest::addColumn<qint64>("size"); // -1: no file
    QTest::addColumn<bool>("taken");

    QTest::addRow("exactly 102400 bytes passed over") << qint64(102400) << false;
    QTest::addRow("102401 bytes taken") << qint64(102401) << true;
    QTest::addRow("file gone since the reading") << qint64(-1) << false;
}

void TestItunesImport::sizeThreshold()
{
    QFETCH(qint64, size);
    QFETCH(bool, taken);

    const QString path = size < 0 ? m_dir.filePath(QStringLiteral("gone.mp3"))
                                  : bigFile(QStringLiteral("size-%1/song.mp3").arg(size), size);
    const TrackMap map = import({{QStringLiteral("Music"), {entry(path)}}});

    QCOMPARE(map.size(), taken ? 1 : 0);
    // A passed-over file uses no id; the first imported record gets 2.
    QCOMPARE(track_data::track_Id, taken ? 2 : 1);
    QCOMPARE(value(QStringLiteral("SELECT count(*) FROM TrackRepo")).toInt(), taken ? 1 : 0);
    if (taken) {
        const track record = map.first();
        QCOMPARE(record.id, 2);
        QCOMPARE(record.filesize, size);
        QCOMPARE(record.folderLocation, QFileInfo(path).absolutePath());
    }
}

void TestItunesImport::playlistNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<bool>("isPodcast");
    QTest::addColumn<bool>("isAudiobook");
    QTest::addColumn<QString>("group");

    const QString typographic = QStringLiteral("90") + QChar(0x2019) + QStringLiteral("s Music");
    QTest::addRow("skip list in capitals") << "PURCHASED" << false << false << false << "";
    QTest::addRow("skip list with U+2019") << typographic << false << false << false << "";
    QTest::addRow("skip list in lower case") << "music videos" << false << false << false << "";
    QTest::addRow("Library") << "Library" << false << false << false << "";
    QTest::addRow("ASCII apostrophe is a user playlist") << "90's Music" << true << false << false << "90's Music";
    QTest::addRow("Podcasts") << "Podcasts" << true << true << false << "";
    QTest::addRow("Books") << "Books" << true << false << true << "";
    QTest::addRow("Movies") << "Movies" << true << false << false << "";
    QTest::addRow("Music") << "Music" << true << false << false << "";
    QTest::addRow("nameless") << "" << true << false << false << "";
    QTest::addRow("special names are case-sensitive") << "podcasts" << true << false << false << "podcasts";
}

void TestItunesImport::playlistNames()
{
    QFETCH(QString, name);
    QFETCH(bool, taken);
    QFETCH(bool, isPodcast);
    QFETCH(bool, isAudiobook);
    QFETCH(QString, group);

    const QString path = bigFile(QStringLiteral("names/song.mp3"));
    const TrackMap map = import({{name, {entry(path)}}});
    QCOMPARE(map.size(), taken ? 1 : 0);
    if (!taken)
        return;

    const track record = map.first();
    QCOMPARE(record.isPodcast, isPodcast);
    QCOMPARE(record.isAudiobook, isAudiobook);
    QCOMPARE(record.playlist, group);
    QCOMPARE(record.albumName, group.isEmpty() ? QStringLiteral("Highway Songs") : group);
    QCOMPARE(record.playlist_id, group.isEmpty() ? 0 : record.album_id);
    QCOMPARE(record.source, 1);
    QVERIFY(record.codec.isEmpty());
    QCOMPARE(record.filepath, path);
    QCOMPARE(record.sourcePath, path);
    QCOMPARE(record.duration, 3.5);
    QCOMPARE(record.ReleaseDate, QStringLiteral("05/06/2001"));
}

// From the library file through the reader to the repository: one record per
// listing, a user playlist filed as an album of its own name.
void TestItunesImport::fileInMusicAndInUserPlaylists()
{
    const QString path = bigFile(QStringLiteral("trip/Highway Song.mp3"));
    ItunesLibraryXml library;
    library.addTrack(40000,
                     {ItunesLibraryXml::string(QStringLiteral("Name"), QStringLiteral("Highway Song")),
                      ItunesLibraryXml::string(QStringLiteral("Artist"), QStringLiteral("Artist")),
                      ItunesLibraryXml::string(QStringLiteral("Album"), QStringLiteral("Highway Songs")),
                      ItunesLibraryXml::string(QStringLiteral("Kind"), QStringLiteral("MPEG audio file")),
                      ItunesLibraryXml::string(QStringLiteral("Location"), ItunesLibraryXml::localhostUrl(path))});
    library.addPlaylist(QStringLiteral("Music"), {40000});
    library.addPlaylist(QStringLiteral("Road Trip"), {40000});
    library.addPlaylist(QStringLiteral("Road Trip "), {40000}); // a second playlist, with a trailing blank
    const QString xml = m_dir.filePath(QStringLiteral("library.xml"));
    QVERIFY(library.write(xml));

    const TrackMap map = import(TagLibBuilder().parseiTunePlaylist(xml));
    QCOMPARE(map.keys(), (QList<int>{2, 3, 4}));
    const track music = map.value(2);
    const track trip = map.value(3);
    const track blank = map.value(4);

    QCOMPARE(music.albumName, QStringLiteral("Highway Songs"));
    QCOMPARE(music.playlist, QString());
    QCOMPARE(music.playlist_id, 0);
    QVERIFY(music.codec.isEmpty());

    QCOMPARE(trip.albumName, QStringLiteral("Road Trip"));
    QCOMPARE(trip.playlist, QStringLiteral("Road Trip"));
    QCOMPARE(trip.playlist_id, trip.album_id);
    QVERIFY(trip.album_id != music.album_id);
    QCOMPARE(trip.cover, playlistPicture);
    QVERIFY(trip.hasCover);
    QCOMPARE(trip.artist_id, music.artist_id);
    QVERIFY(QFile::exists(QLatin1Char(':') + QUrl(playlistPicture).path()));

    // Keyed by the untrimmed name: its own album id, the same album name.
    QCOMPARE(blank.albumName, QStringLiteral("Road Trip"));
    QVERIFY(blank.album_id != trip.album_id);

    // The repository files the entries of "Road Trip" under "Unknown ablum";
    // only the trimmed album of the other playlist differs from its name.
    const QString stagedAlbum = QStringLiteral("SELECT a.name FROM TrackRepo t JOIN albumsRepo a ON a.id = t.album_id "
                                               "WHERE t.filepath = ? AND t.Playlist = ?");
    QCOMPARE(value(stagedAlbum, {path, QStringLiteral("")}).toString(), QStringLiteral("Highway Songs"));
    QCOMPARE(value(stagedAlbum, {path, QStringLiteral("Road Trip")}).toString(), QStringLiteral("Unknown ablum"));
    QCOMPARE(value(stagedAlbum, {path, QStringLiteral("Road Trip ")}).toString(), QStringLiteral("Road Trip"));
}

void TestItunesImport::covers_data()
{
    QTest::addColumn<QString>("album");
    QTest::addColumn<bool>("embedded");
    QTest::addColumn<bool>("folderPicture");
    QTest::addColumn<QString>("coverFileName"); // "" for the placeholder
    QTest::addColumn<bool>("hasAlbum");
    QTest::addColumn<bool>("isMissingData");

    QTest::addRow("embedded picture") << "Blue Album" << true << false << "Blue Album" << true << false;
    QTest::addRow("Unknown album: no extraction") << "Unknown Album" << true << false << "" << false << true;
    QTest::addRow("no picture anywhere") << "Grey Album" << false << false << "" << true << true;
    QTest::addRow("album cleaning to nothing names it after the file")
        << "()" << true << false << "Solo Song" << true << false;
    QTest::addRow("folder picture of a one-album folder")
        << "Green Album" << false << true << "Green Album" << true << true;
}

void TestItunesImport::covers()
{
    QFETCH(QString, album);
    QFETCH(bool, embedded);
    QFETCH(bool, folderPicture);
    QFETCH(QString, coverFileName);
    QFETCH(bool, hasAlbum);
    QFETCH(bool, isMissingData);

    MediaKit kit(m_dir.filePath(QStringLiteral("covers/%1").arg(QTest::currentDataTag())));
    const QString picture = kit.picture(QStringLiteral("pic.jpg"), 64, 64);
    QVERIFY2(!picture.isEmpty(), qPrintable(kit.lastError()));
    MediaTags tags;
    tags.title = QStringLiteral("Solo Song");
    const QString song = kit.mp3(QStringLiteral("album/song.mp3"), tags, embedded ? picture : QString(), 8);
    QVERIFY2(!song.isEmpty(), qPrintable(kit.lastError()));
    QVERIFY(QFileInfo(song).size() > track_data::iTunesMinimumFileSize);
    if (folderPicture)
        QVERIFY(QFile::copy(picture, kit.folder() + QStringLiteral("/album/folder.jpg")));

    const TrackMap map = import({{QStringLiteral("Music"), {entry(song, album, QStringLiteral("Solo Song"))}}});
    QCOMPARE(map.size(), 1);
    const track record = map.first();
    if (coverFileName.isEmpty()) {
        QCOMPARE(record.cover, noArtwork);
        QVERIFY(!record.hasCover);
    } else {
        QCOMPARE(record.cover, artworkFile(coverFileName));
        QVERIFY(QFileInfo(record.cover).size() > 0);
        QVERIFY(record.hasCover);
    }
    QCOMPARE(record.hasAlbum, hasAlbum);
    QCOMPARE(record.isMissingData, isMissingData);
    QVERIFY(!QFileInfo::exists(artworkFile(QStringLiteral("Unknown Album"))));
}

// A video shows a frame of its own, in a user playlist too; a missing
// duration comes from the video itself.
void TestItunesImport::videos()
{
    MediaKit kit(m_dir.filePath(QStringLiteral("videos")));
    const QString clip = kit.video(QStringLiteral("clip.mp4"), 3);
    QVERIFY2(!clip.isEmpty(), qPrintable(kit.lastError()));
    if (QFileInfo(clip).size() <= track_data::iTunesMinimumFileSize)
        QVERIFY(MediaKit::padToSize(clip, 200000));

    track known = entry(clip, QStringLiteral("Clips"), QStringLiteral("clip"));
    known.isVideo = true;
    known.duration = 7;
    track unknown = known;
    unknown.duration = 0;
    const TrackMap map = import({{QStringLiteral("Movies"), {known}}, {QStringLiteral("Road Trip"), {unknown}}});
    QCOMPARE(map.size(), 2);

    const track movie = map.value(2);
    const track trip = map.value(3);
    QVERIFY(movie.isVideo && trip.isVideo);
    QCOMPARE(movie.duration, 7.0);
    QVERIFY(qAbs(trip.duration - 3.0) < 0.5);
    QVERIFY2(trip.cover.endsWith(QStringLiteral("/clip.png")), qPrintable(trip.cover));
    QVERIFY(QFileInfo::exists(trip.cover));
    QCOMPARE(movie.cover, trip.cover);
    QCOMPARE(trip.playlist, QStringLiteral("Road Trip"));
}

CORVANE_TEST_MAIN(TestItunesImport)
#include "tst_itunesimport.moc"
