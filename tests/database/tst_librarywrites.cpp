#include <QtTest>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QThread>

#include "core/shared.h"
#include "database/connection.h"
#include "database/database.h"
#include "database/ruvodb.h"
#include "mediakit.h"
#include "testenv.h"

namespace {

void forgetLibrary()
{
    const QString name = QString::fromLatin1(QSqlDatabase::defaultConnection);
    if (QSqlDatabase::contains(name)) {
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
    const QString file = shared::dataFolder() + QStringLiteral("/ruvo.db");
    for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        QFile::remove(file + suffix);
}

QVariant scalar(const QString &sql, const QVariantList &values = {})
{
    QSqlQuery query(Connection::forThread());
    query.prepare(sql);
    for (const QVariant &v : values)
        query.addBindValue(v);
    if (!query.exec() || !query.next())
        return QVariant();
    return query.value(0);
}

int count(const QString &table)
{
    return scalar(QStringLiteral("SELECT count(*) FROM ") + table).toInt();
}

track makeTrack(const QString &path, const QString &title = QStringLiteral("Song"))
{
    track t;
    t.filepath = path;
    t.filename = QFileInfo(path).fileName();
    t.trackname = title;
    t.artistName = QStringLiteral("Artist");
    t.albumName = QStringLiteral("Album");
    t.genre = QStringLiteral("Rock");
    t.year = 2001;
    t.bitrate = 192;
    t.frequency = 44100;
    t.duration = 3.5;
    t.codec = QStringLiteral("mp3");
    t.cover = QStringLiteral("qrc:///resources/photos/no_artwork.png");
    return t;
}

} // namespace

class TestLibraryWrites : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void writingTwiceLeavesOneRow_data();
    void writingTwiceLeavesOneRow();
    void twoPlaylistsGiveTwoRows();
    void valuesStoredAsGiven();
    void videoKeepsItsImage();
    void namesMatchExactly_data();
    void namesMatchExactly();
    void artistCaseReusesGenreCaseDoesNot();
    void newAlbumCover_data();
    void newAlbumCover();
    void unknownAlbumLosesItsCover();
    void iteratorFormStoresGivenPath();
    void failedInsertKeepsOldRow();
    void workersWriteThroughOwnConnections();

private:
    QTemporaryDir m_dir;
    QString m_artwork;
};

void TestLibraryWrites::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QDir().mkpath(shared::dataFolder() + QStringLiteral("/Artwork"));
    testkit::MediaKit kit(shared::dataFolder() + QStringLiteral("/Artwork"));
    m_artwork = kit.picture(QStringLiteral("Blue.png"), 16, 16);
    QVERIFY2(!m_artwork.isEmpty(), qPrintable(kit.lastError()));
}

void TestLibraryWrites::init()
{
    forgetLibrary();
    Database db;
    QVERIFY(db.connect(QStringLiteral("RuvoData"), true));
    db.create();
}

void TestLibraryWrites::cleanupTestCase()
{
    forgetLibrary();
}

void TestLibraryWrites::writingTwiceLeavesOneRow_data()
{
    QTest::addColumn<QString>("playlist");
    QTest::addRow("no playlist (null)") << QString();
    QTest::addRow("empty playlist name") << QStringLiteral("");
    QTest::addRow("named playlist") << QStringLiteral("Road Trip");
    QTest::addRow("playlist with apostrophe") << QStringLiteral("Rock 'n' Roll");
}

void TestLibraryWrites::writingTwiceLeavesOneRow()
{
    QFETCH(QString, playlist);
    ruvoDB library;
    track t = makeTrack(m_dir.filePath("a.mp3"));
    t.playlist = playlist;
    QVERIFY(library.insertDataOne(t));
    const int firstId = scalar("SELECT id FROM tracks").toInt();
    t.trackname = QStringLiteral("Song (remaster)");
    QVERIFY(library.insertDataOne(t));
    QCOMPARE(count("tracks"), 1);
    QVERIFY(scalar("SELECT id FROM tracks").toInt() != firstId);
    QCOMPARE(scalar("SELECT trackname FROM tracks").toString(), QStringLiteral("Song (remaster)"));
}

void TestLibraryWrites::twoPlaylistsGiveTwoRows()
{
    ruvoDB library;
    track t = makeTrack(m_dir.filePath("a.mp3"));
    t.playlist = QStringLiteral("Morning");
    QVERIFY(library.insertDataOne(t));
    t.playlist = QStringLiteral("Evening");
    QVERIFY(library.insertDataOne(t));
    t.playlist = QString();
    QVERIFY(library.insertDataOne(t));
    QCOMPARE(count("tracks"), 3);
}

void TestLibraryWrites::valuesStoredAsGiven()
{
    ruvoDB library;
    track t = makeTrack(m_dir.filePath("b.mp3"));
    t.codec = QString();
    t.filesize = Q_INT64_C(3) * 1000 * 1000 * 1000;
    t.frequency = 48000;
    t.duration = 201.75;
    t.isPodcast = true;
    t.ReleaseDate = QStringLiteral("2001-05-01");
    QVERIFY(library.insertDataOne(t));
    QSqlQuery query(Connection::forThread());
    QVERIFY(query.exec("SELECT codec, filesize, frequency, duration, isPodcast, ReleaseDate, VideoImage, playlist "
                       "FROM tracks"));
    QVERIFY(query.next());
    QVERIFY(!query.value(0).isNull());
    QCOMPARE(query.value(0).toString(), QString());
    QCOMPARE(query.value(1).toLongLong(), Q_INT64_C(3000000000));
    QCOMPARE(query.value(2).toInt(), 48000);
    QCOMPARE(query.value(3).toDouble(), 201.75);
    QCOMPARE(query.value(4).toBool(), true);
    QCOMPARE(query.value(5).toString(), QStringLiteral("2001-05-01"));
    QVERIFY(!query.value(6).isNull());  // an audio track's VideoImage is empty text
    QCOMPARE(query.value(6).toString(), QString());
    QVERIFY(!query.value(7).isNull());
    QCOMPARE(scalar("SELECT year FROM years").toInt(), 2001);
    QCOMPARE(scalar("SELECT genre FROM genres").toString(), QStringLiteral("Rock"));
}

void TestLibraryWrites::videoKeepsItsImage()
{
    ruvoDB library;
    track t = makeTrack(m_dir.filePath("clip.mp4"));
    t.isVideo = true;
    t.cover = shared::dataFolder() + QStringLiteral("/Artwork/Video/clip.png");
    QVERIFY(library.insertDataOne(t));
    QCOMPARE(scalar("SELECT VideoImage FROM tracks").toString(), t.cover);
    QCOMPARE(scalar("SELECT isVideo FROM tracks").toInt(), 1);
}

void TestLibraryWrites::namesMatchExactly_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<int>("rows");
    QTest::addRow("artist with apostrophe found again") << "artist" << "Guns 'n' Roses" << "Guns 'n' Roses" << 1;
    QTest::addRow("artist underscore is no wildcard") << "artist" << "a_b" << "axb" << 2;
    QTest::addRow("artist percent is no wildcard") << "artist" << "100%" << "1000" << 2;
    QTest::addRow("album underscore is no wildcard") << "album" << "Side_A" << "SideXA" << 2;
    QTest::addRow("album percent is no wildcard") << "album" << "50%" << "50 Greatest" << 2;
    QTest::addRow("album with apostrophe found again") << "album" << "Don't Stop" << "Don't Stop" << 1;
    QTest::addRow("genre with apostrophe found again") << "genre" << "Rock 'n' Roll" << "Rock 'n' Roll" << 1;
    QTest::addRow("non-Latin artist") << "artist" << "Кино" << "Кино" << 1;
}

void TestLibraryWrites::namesMatchExactly()
{
    QFETCH(QString, field);
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(int, rows);
    ruvoDB library;
    track a = makeTrack(m_dir.filePath("a.mp3"));
    track b = makeTrack(m_dir.filePath("b.mp3"));
    const QString table = field == "artist" ? "artists" : field == "album" ? "albums" : "genres";
    QString track::*member = field == "artist" ? &track::artistName
                             : field == "album" ? &track::albumName
                                                : &track::genre;
    a.*member = first;
    b.*member = second;
    QVERIFY(library.insertDataOne(a));
    QVERIFY(library.insertDataOne(b));
    QCOMPARE(count(table), rows);
    const QString column = field == "genre" ? "genre" : "name";
    QCOMPARE(scalar(QStringLiteral("SELECT %1 FROM %2 ORDER BY id").arg(column, table)).toString(), first);
}

void TestLibraryWrites::artistCaseReusesGenreCaseDoesNot()
{
    ruvoDB library;
    track a = makeTrack(m_dir.filePath("a.mp3"));
    track b = makeTrack(m_dir.filePath("b.mp3"));
    b.artistName = QStringLiteral("ARTIST");
    b.genre = QStringLiteral("rock");
    QVERIFY(library.insertDataOne(a));
    QVERIFY(library.insertDataOne(b));
    QCOMPARE(count("artists"), 1);
    QCOMPARE(count("genres"), 2);
    QCOMPARE(scalar("SELECT count(DISTINCT artist_id) FROM tracks").toInt(), 1);
}

void TestLibraryWrites::newAlbumCover_data()
{
    QTest::addColumn<QString>("album");
    QTest::addColumn<bool>("ownPicture");
    QTest::addRow("picture named after the album") << "Blue" << true;
    QTest::addRow("picture of another album") << "Green" << false;
}

void TestLibraryWrites::newAlbumCover()
{
    QFETCH(QString, album);
    QFETCH(bool, ownPicture);
    ruvoDB library;
    track t = makeTrack(m_dir.filePath("a.mp3"));
    t.albumName = album;
    t.cover = m_artwork;
    QVERIFY(library.insertDataOne(t));
    const QString cover = scalar("SELECT cover FROM albums").toString();
    const QString data = scalar("SELECT coverdata FROM albums").toString();
    if (ownPicture) {
        QCOMPARE(cover, m_artwork);
        QFile file(m_artwork);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QByteArray::fromBase64(data.toLatin1()), file.readAll());
    } else {
        QCOMPARE(cover, shared().noArtworkUrl);
        QCOMPARE(data, QString());
    }
}

void TestLibraryWrites::unknownAlbumLosesItsCover()
{
    ruvoDB library;
    track t = makeTrack(m_dir.filePath("a.mp3"));
    t.albumName = QStringLiteral("Unknown Album");
    t.cover = shared::dataFolder() + QStringLiteral("/Artwork/Unknown Album.png");
    QVERIFY(QFile::copy(m_artwork, t.cover));
    QVERIFY(library.insertDataOne(t));
    QCOMPARE(scalar("SELECT cover FROM albums").toString(), t.cover);
    track second = t;
    second.filepath = m_dir.filePath("b.mp3");
    QVERIFY(library.insertDataOne(second));
    QCOMPARE(count("albums"), 1);
    QCOMPARE(scalar("SELECT cover FROM albums").toString(), shared().noArtworkUrl);
    QCOMPARE(scalar("SELECT coverdata FROM albums").toString(), QString());
    QFile::remove(t.cover);
}

void TestLibraryWrites::iteratorFormStoresGivenPath()
{
    ruvoDB library;
    TrackMap map;
    map.insert(7, makeTrack(m_dir.filePath("source.mp3")));
    const QString copy = ruvoDB::programCopyFolder() + QStringLiteral("/Album/source.mp3");
    QVERIFY(library.insertDataOneWithItrator(map.begin(), copy));
    QCOMPARE(scalar("SELECT filepath FROM tracks").toString(), copy);
}

void TestLibraryWrites::failedInsertKeepsOldRow()
{
    ruvoDB library;
    const track t = makeTrack(m_dir.filePath("a.mp3"), QStringLiteral("Original"));
    QVERIFY(library.insertDataOne(t));
    QSqlQuery query(Connection::forThread());
    QVERIFY(query.exec("CREATE TRIGGER refuse BEFORE INSERT ON tracks BEGIN SELECT RAISE(ABORT, 'refused'); END"));

    track replacement = t;
    replacement.trackname = QStringLiteral("Replacement");
    replacement.artistName = QStringLiteral("New Artist");
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Statement failed.*refused"));
    QVERIFY(!library.insertDataOne(replacement));
    QCOMPARE(count("tracks"), 1);
    QCOMPARE(scalar("SELECT trackname FROM tracks").toString(), QStringLiteral("Original"));
    QCOMPARE(count("artists"), 1);  // the new artist row went with the rollback
}

void TestLibraryWrites::workersWriteThroughOwnConnections()
{
    constexpr int each = 40;
    auto writer = [this](const QString &prefix, int *failures) {
        ruvoDB library;
        for (int i = 0; i < each; ++i) {
            track t = makeTrack(m_dir.filePath(prefix + QString::number(i) + ".mp3"));
            t.artistName = prefix;
            if (!library.insertDataOne(t))
                ++*failures;
        }
    };
    int failuresA = 0, failuresB = 0, failuresMain = 0;
    QThread *a = QThread::create(writer, QStringLiteral("a"), &failuresA);
    QThread *b = QThread::create(writer, QStringLiteral("b"), &failuresB);
    a->start();
    b->start();
    writer(QStringLiteral("main"), &failuresMain);
    QVERIFY(a->wait(60000));
    QVERIFY(b->wait(60000));
    delete a;
    delete b;
    QCOMPARE(failuresA + failuresB + failuresMain, 0);
    QCOMPARE(count("tracks"), 3 * each);
    QCOMPARE(count("artists"), 3);
    QCOMPARE(count("albums"), 1);
}

CORVANE_TEST_MAIN(TestLibraryWrites)
#include "tst_librarywrites.moc"
