#include <QtTest>

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include "core/shared.h"
#include "database/connection.h"
#include "database/database.h"
#include "database/ruvodb.h"
#include "testenv.h"

namespace {

const QString noArtwork = QStringLiteral("qrc:///resources/photos/no_artwork.png");

track makeTrack(const QString &path, const QString &artist, const QString &album)
{
    track t;
    t.sourcePath = path;
    t.filepath = path;
    t.filename = QFileInfo(path).fileName();
    t.folderLocation = QFileInfo(path).absolutePath();
    t.trackname = QStringLiteral("  Title  ");
    t.artistName = artist;
    t.albumName = album;
    t.genre = QStringLiteral("Rock");
    t.year = 1999;
    t.bitrate = 192;
    t.frequency = 44100;
    t.filesize = 123456;
    t.duration = 3.5;
    t.tracknumber = 4;
    return t;
}

QSqlDatabase gui()
{
    return QSqlDatabase::database();
}

int count(const QString &sql, const QVariantList &values = {})
{
    QSqlQuery query(gui());
    query.prepare(sql);
    for (const QVariant &v : values)
        query.addBindValue(v);
    if (!query.exec() || !query.next())
        return -1;
    return query.value(0).toInt();
}

QVariant value(const QString &sql, const QVariantList &values = {})
{
    QSqlQuery query(gui());
    query.prepare(sql);
    for (const QVariant &v : values)
        query.addBindValue(v);
    if (!query.exec() || !query.next())
        return QVariant();
    return query.value(0);
}

} // namespace

class TestRepositoryStaging : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void stagesEveryColumn();
    void unicodeSurvives();
    void namesMatchExactly_data();
    void namesMatchExactly();
    void sameFileOncePerPlaylist();
    void newAlbumTakesOnlyItsOwnCover();
    void existingAlbumCoverFollowsLatestPicture();
    void videoKeepsItsThumbnail();
    void stagesFromAWorkerThread();
    void failedStatementRollsBackEverything();

private:
    QTemporaryDir m_dir;
    Database m_db;
};

void TestRepositoryStaging::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(m_db.connect(QStringLiteral("RuvoData"), true));
    m_db.create();
}

void TestRepositoryStaging::init()
{
    QSqlQuery query(gui());
    for (const char *table : {"TrackRepo", "artistsRepo", "albumsRepo", "genres", "years"})
        QVERIFY(query.exec(QStringLiteral("DELETE FROM %1").arg(QLatin1String(table))));
}

void TestRepositoryStaging::stagesEveryColumn()
{
    track t = makeTrack(QStringLiteral("/music/a/song.mp3"), QStringLiteral("Artist"), QStringLiteral("Album"));
    t.filepath = QStringLiteral("/converted/song.m4a"); // a transcoded copy: not what is staged
    t.ReleaseDate = QStringLiteral("2001-02-03");
    t.isPodcast = true;
    QVERIFY(ruvoDB::insertDataTrackRepo(t));

    QSqlQuery query(gui());
    QVERIFY(query.exec(QStringLiteral("SELECT filename, trackname, filepath, codec, filesize, frequency, bitrate, "
                                      "source, tracknumber, duration, genre, IsPodcast, year, isAudiobook, "
                                      "releaseDate, Playlist, isVideo, VideoImage, folderLocation, MusicBrainzID, "
                                      "artist_id, album_id FROM TrackRepo")));
    QVERIFY(query.next());
    QCOMPARE(query.value(0).toString(), QStringLiteral("song.mp3"));
    QCOMPARE(query.value(1).toString(), QStringLiteral("Title"));
    QCOMPARE(query.value(2).toString(), QStringLiteral("/music/a/song.mp3"));
    QVERIFY(!query.value(3).isNull()); // an empty codec is "", never NULL
    QCOMPARE(query.value(3).toString(), QString());
    QCOMPARE(query.value(4).toLongLong(), 123456);
    QCOMPARE(query.value(5).toLongLong(), 44100);
    QCOMPARE(query.value(6).toInt(), 192);
    QCOMPARE(query.value(7).toInt(), 0);
    QCOMPARE(query.value(8).toInt(), 4);
    QCOMPARE(query.value(9).toDouble(), 3.5);
    QCOMPARE(query.value(10).toString(), QStringLiteral("Rock"));
    QCOMPARE(query.value(11).toBool(), true);
    QCOMPARE(query.value(12).toInt(), 1999);
    QCOMPARE(query.value(13).toBool(), false);
    QCOMPARE(query.value(14).toString(), QStringLiteral("2001-02-03"));
    QVERIFY(!query.value(15).isNull());
    QCOMPARE(query.value(15).toString(), QString());
    QCOMPARE(query.value(16).toBool(), false);
    QVERIFY(!query.value(17).isNull()); // audio: no video picture
    QCOMPARE(query.value(17).toString(), QString());
    QCOMPARE(query.value(18).toString(), QStringLiteral("/music/a"));
    QVERIFY(query.value(19).isNull());
    const int artistId = query.value(20).toInt();
    const int albumId = query.value(21).toInt();
    QVERIFY(!query.next());

    QCOMPARE(value("SELECT name FROM artistsRepo WHERE id = ?", {artistId}).toString(), QStringLiteral("Artist"));
    QCOMPARE(value("SELECT name FROM albumsRepo WHERE id = ?", {albumId}).toString(), QStringLiteral("Album"));
    QCOMPARE(value("SELECT artist_id FROM albumsRepo WHERE id = ?", {albumId}).toInt(), artistId);
    QCOMPARE(count("SELECT count(*) FROM genres WHERE genre = 'Rock'"), 1);
    QCOMPARE(count("SELECT count(*) FROM years WHERE year = 1999"), 1);

    // The view that the local inference reads joins the names back.
    QCOMPARE(value("SELECT artistname FROM getTracksRepo").toString(), QStringLiteral("Artist"));
    QCOMPARE(value("SELECT albumname FROM getTracksRepo").toString(), QStringLiteral("Album"));

    // A second track of the same genre and year adds no second row.
    QVERIFY(ruvoDB::insertDataTrackRepo(makeTrack("/music/a/other.mp3", "Artist", "Album")));
    QCOMPARE(count("SELECT count(*) FROM genres"), 1);
    QCOMPARE(count("SELECT count(*) FROM years"), 1);
    QCOMPARE(count("SELECT count(*) FROM artistsRepo"), 1);
    QCOMPARE(count("SELECT count(*) FROM albumsRepo"), 1);
}

void TestRepositoryStaging::unicodeSurvives()
{
    const QString artist = QStringLiteral("Björk Guðmundsdóttir — 坂本龍一");
    const QString album = QStringLiteral("Ελληνικά Τραγούδια");
    track t = makeTrack(QStringLiteral("/music/Ωμέγα/Песня №1.mp3"), artist, album);
    t.trackname = QStringLiteral("Привет, мир ✓");
    QVERIFY(ruvoDB::insertDataTrackRepo(t));

    QSqlQuery query(gui());
    QVERIFY(query.exec(QStringLiteral("SELECT filename, trackname, filepath, artistname, albumname, folderLocation "
                                      "FROM getTracksRepo")));
    QVERIFY(query.next());
    QCOMPARE(query.value(0).toString(), QStringLiteral("Песня №1.mp3"));
    QCOMPARE(query.value(1).toString(), QStringLiteral("Привет, мир ✓"));
    QCOMPARE(query.value(2).toString(), QStringLiteral("/music/Ωμέγα/Песня №1.mp3"));
    QCOMPARE(query.value(3).toString(), artist);
    QCOMPARE(query.value(4).toString(), album);
    QCOMPARE(query.value(5).toString(), QStringLiteral("/music/Ωμέγα"));
}

void TestRepositoryStaging::namesMatchExactly_data()
{
    QTest::addColumn<QString>("firstArtist");
    QTest::addColumn<QString>("firstAlbum");
    QTest::addColumn<QString>("secondArtist");
    QTest::addColumn<QString>("secondAlbum");
    QTest::addColumn<int>("artists");
    QTest::addColumn<int>("albums");

    QTest::addRow("apostrophes are stored and found") << "Guns N' Roses" << "Don't Cry" << "Guns N' Roses"
                                                      << "Don't Cry" << 1 << 1;
    QTest::addRow("percent is no wildcard") << "A" << "1000 Days" << "A" << "100%" << 1 << 2;
    QTest::addRow("underscore is no wildcard") << "A" << "abc" << "A" << "a_c" << 1 << 2;
    QTest::addRow("percent in the artist") << "100%" << "X" << "1000 Days" << "X" << 2 << 1;
    QTest::addRow("album names ignore letter case") << "A" << "Abbey Road" << "A" << "ABBEY ROAD" << 1 << 1;
    QTest::addRow("artist names keep letter case") << "Queen" << "X" << "QUEEN" << "X" << 2 << 1;
    QTest::addRow("one album row for every artist") << "Queen" << "Greatest Hits" << "ABBA" << "Greatest Hits"
                                                    << 2 << 1;
    QTest::addRow("quote doubling would be a different name") << "O'Brien" << "X" << "O''Brien" << "X" << 2 << 1;
}

void TestRepositoryStaging::namesMatchExactly()
{
    QFETCH(QString, firstArtist);
    QFETCH(QString, firstAlbum);
    QFETCH(QString, secondArtist);
    QFETCH(QString, secondAlbum);
    QFETCH(int, artists);
    QFETCH(int, albums);

    QVERIFY(ruvoDB::insertDataTrackRepo(makeTrack("/m/1.mp3", firstArtist, firstAlbum)));
    QVERIFY(ruvoDB::insertDataTrackRepo(makeTrack("/m/2.mp3", secondArtist, secondAlbum)));
    QCOMPARE(count("SELECT count(*) FROM artistsRepo"), artists);
    QCOMPARE(count("SELECT count(*) FROM albumsRepo"), albums);
    QCOMPARE(count("SELECT count(*) FROM TrackRepo"), 2);
    // Both names were stored as given.
    QCOMPARE(count("SELECT count(*) FROM artistsRepo WHERE name = ?", {firstArtist}), 1);
    QCOMPARE(count("SELECT count(*) FROM albumsRepo WHERE name = ?", {firstAlbum}), 1);
    QCOMPARE(value("SELECT artistname FROM getTracksRepo WHERE filepath = '/m/2.mp3'").toString(), secondArtist);
}

void TestRepositoryStaging::sameFileOncePerPlaylist()
{
    track t = makeTrack(QStringLiteral("/m/it's.mp3"), QStringLiteral("A"), QStringLiteral("B"));
    QVERIFY(ruvoDB::insertDataTrackRepo(t));
    t.trackname = QStringLiteral("changed");
    QVERIFY(ruvoDB::insertDataTrackRepo(t));
    QCOMPARE(count("SELECT count(*) FROM TrackRepo"), 1);
    QCOMPARE(value("SELECT trackname FROM TrackRepo").toString(), QStringLiteral("Title")); // first row kept

    t.playlist = QStringLiteral("Road Trip");
    QVERIFY(ruvoDB::insertDataTrackRepo(t));
    QVERIFY(ruvoDB::insertDataTrackRepo(t));
    t.playlist = QStringLiteral("Gym");
    QVERIFY(ruvoDB::insertDataTrackRepo(t));
    QCOMPARE(count("SELECT count(*) FROM TrackRepo"), 3);
    QCOMPARE(count("SELECT count(*) FROM TrackRepo WHERE Playlist = ''"), 1);
}

void TestRepositoryStaging::newAlbumTakesOnlyItsOwnCover()
{
    const QString artwork = shared::dataFolder() + QStringLiteral("/Artwork/");
    track own = makeTrack("/m/1.mp3", "A", "Rock & Roll!");
    own.cover = artwork + QStringLiteral("Rock  Roll.png");
    QVERIFY(ruvoDB::insertDataTrackRepo(own));
    QCOMPARE(value("SELECT cover FROM albumsRepo WHERE name = 'Rock & Roll!'").toString(), own.cover);

    track foreign = makeTrack("/m/2.mp3", "A", "Other");
    foreign.cover = artwork + QStringLiteral("Rock  Roll.png");
    QVERIFY(ruvoDB::insertDataTrackRepo(foreign));
    QCOMPARE(value("SELECT cover FROM albumsRepo WHERE name = 'Other'").toString(), noArtwork);

    track unknown = makeTrack("/m/3.mp3", "A", "Unknown Album");
    unknown.cover = noArtwork;
    QVERIFY(ruvoDB::insertDataTrackRepo(unknown));
    QCOMPARE(value("SELECT cover FROM albumsRepo WHERE name = 'Unknown Album'").toString(), noArtwork);
}

void TestRepositoryStaging::existingAlbumCoverFollowsLatestPicture()
{
    QTemporaryDir pictures;
    const QString first = pictures.filePath(QStringLiteral("Album.png"));
    const QString second = pictures.filePath(QStringLiteral("Album2.png"));
    for (const QString &path : {first, second}) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("png");
    }

    track t = makeTrack("/m/1.mp3", "A", "Album");
    t.cover = first;
    QVERIFY(ruvoDB::insertDataTrackRepo(t));

    // A missing picture file or the placeholder never replaces a cover.
    t = makeTrack("/m/2.mp3", "A", "Album");
    t.cover = pictures.filePath(QStringLiteral("missing/Album.png"));
    QVERIFY(ruvoDB::insertDataTrackRepo(t));
    QCOMPARE(value("SELECT cover FROM albumsRepo").toString(), first);
    t.cover = noArtwork;
    QVERIFY(ruvoDB::insertDataTrackRepo(t));
    QCOMPARE(value("SELECT cover FROM albumsRepo").toString(), first);

    // The latest existing picture does.
    t = makeTrack("/m/3.mp3", "A", "album");
    t.cover = second;
    QVERIFY(ruvoDB::insertDataTrackRepo(t));
    QCOMPARE(count("SELECT count(*) FROM albumsRepo"), 1);
    QCOMPARE(value("SELECT cover FROM albumsRepo").toString(), second);

    // An "Unknown" album never keeps a real picture.
    track u = makeTrack("/m/4.mp3", "A", "Unknown Album");
    QVERIFY(ruvoDB::insertDataTrackRepo(u));
    u = makeTrack("/m/5.mp3", "A", "Unknown Album");
    u.cover = first;
    QVERIFY(ruvoDB::insertDataTrackRepo(u));
    QCOMPARE(value("SELECT cover FROM albumsRepo WHERE name = 'Unknown Album'").toString(), noArtwork);
}

void TestRepositoryStaging::videoKeepsItsThumbnail()
{
    track v = makeTrack("/m/clip.mp4", "A", "Clips");
    v.isVideo = true;
    v.cover = QStringLiteral("/data/Artwork/Video/clip.png");
    v.codec = QStringLiteral("h264");
    QVERIFY(ruvoDB::insertDataTrackRepo(v));
    QCOMPARE(value("SELECT VideoImage FROM TrackRepo").toString(), v.cover);
    QCOMPARE(value("SELECT codec FROM TrackRepo").toString(), QStringLiteral("h264"));
    QCOMPARE(value("SELECT isVideo FROM TrackRepo").toBool(), true);
}

void TestRepositoryStaging::stagesFromAWorkerThread()
{
    bool staged = false;
    QString connectionName;
    QThread *worker = QThread::create([&] {
        for (int i = 0; i < 20; ++i) {
            track t = makeTrack(QStringLiteral("/w/%1.mp3").arg(i), QStringLiteral("Worker"),
                                QStringLiteral("Thread Album"));
            t.genre = QStringLiteral("Genre %1").arg(i % 3);
            staged = ruvoDB::insertDataTrackRepo(t);
            if (!staged)
                return;
        }
        connectionName = Connection::forThread().connectionName();
    });
    worker->start();
    // The GUI thread keeps using its own connection meanwhile.
    QVERIFY(ruvoDB::insertDataTrackRepo(makeTrack("/g/1.mp3", "Gui", "Gui Album")));
    QVERIFY(worker->wait(30000));
    delete worker;

    QVERIFY(staged);
    QVERIFY(connectionName != gui().connectionName());
    QCOMPARE(count("SELECT count(*) FROM TrackRepo"), 21);
    QCOMPARE(count("SELECT count(*) FROM artistsRepo WHERE name = 'Worker'"), 1);
    QCOMPARE(count("SELECT count(*) FROM genres"), 4);
    // The worker's connection closed with its thread.
    QVERIFY(!QSqlDatabase::contains(connectionName));
}

void TestRepositoryStaging::failedStatementRollsBackEverything()
{
    QSqlQuery query(gui());
    QVERIFY(query.exec(QStringLiteral("CREATE TEMP TRIGGER refuse BEFORE INSERT ON TrackRepo "
                                      "BEGIN SELECT RAISE(ABORT, 'refused'); END")));
    track t = makeTrack("/m/x.mp3", "Fresh Artist", "Fresh Album");
    t.genre = QStringLiteral("Fresh Genre");
    t.year = 1234;
    QVERIFY(!ruvoDB::insertDataTrackRepo(t));
    QVERIFY(query.exec(QStringLiteral("DROP TRIGGER refuse")));

    QCOMPARE(count("SELECT count(*) FROM TrackRepo"), 0);
    QCOMPARE(count("SELECT count(*) FROM artistsRepo"), 0);
    QCOMPARE(count("SELECT count(*) FROM albumsRepo"), 0);
    QCOMPARE(count("SELECT count(*) FROM genres"), 0);
    QCOMPARE(count("SELECT count(*) FROM years"), 0);

    // The connection is usable again afterwards.
    QVERIFY(ruvoDB::insertDataTrackRepo(t));
    QCOMPARE(count("SELECT count(*) FROM TrackRepo"), 1);
}

CORVANE_TEST_MAIN(TestRepositoryStaging)
#include "tst_repositorystaging.moc"
