#include <QtTest>

#include <QSqlDatabase>
#include <QSqlQuery>

#include "core/shared.h"
#include "database/connection.h"
#include "database/database.h"
#include "database/ruvodb.h"
#include "mediakit.h"
#include "testenv.h"

namespace {

const QString folder = QStringLiteral("/music/Blue");
const QString noArtwork = QStringLiteral("qrc:///resources/photos/no_artwork.png");

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

QVariant scalar(const QString &sql)
{
    QSqlQuery query(Connection::forThread());
    if (!query.exec(sql) || !query.next())
        return QVariant();
    return query.value(0);
}

int count(const QString &table)
{
    return scalar(QStringLiteral("SELECT count(*) FROM ") + table).toInt();
}

bool run(const QString &sql)
{
    QSqlQuery query(Connection::forThread());
    return query.exec(sql);
}

track result(const QString &title = QStringLiteral("Intro"))
{
    track t;
    t.folderLocation = folder;
    t.filename = QStringLiteral("01.mp3");
    t.sourcePath = folder + QStringLiteral("/01.mp3");
    t.trackname = title;
    t.albumName = QStringLiteral("Blue");
    t.artistName = QStringLiteral("Ann");
    t.genre = QStringLiteral("Rock");
    t.year = 2001;
    t.bitrate = 256;
    t.filesize = Q_INT64_C(5000000000);
    t.duration = 201.5;
    t.tracknumber = 1;
    t.cover = noArtwork;
    return t;
}

} // namespace

class TestLookupResults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void titleAndFolderUpdateStagedRow();
    void differentTitleAddsRow();
    void sameArtistTwiceGivesOneRow();
    void albumCover_data();
    void albumCover();
    void newAlbumTakesCoverAsGiven();
    void albumNamesAreNoPatterns();
    void failureWritesNothing();

private:
    QString m_cover;
};

void TestLookupResults::initTestCase()
{
    QDir().mkpath(shared::dataFolder() + QStringLiteral("/Artwork"));
    testkit::MediaKit kit(shared::dataFolder() + QStringLiteral("/Artwork"));
    m_cover = kit.picture(QStringLiteral("Blue.png"), 16, 16);
    QVERIFY2(!m_cover.isEmpty(), qPrintable(kit.lastError()));
}

void TestLookupResults::init()
{
    forgetLibrary();
    Database db;
    QVERIFY(db.connect(QStringLiteral("RuvoData"), true));
    db.create();
}

void TestLookupResults::cleanupTestCase()
{
    forgetLibrary();
}

void TestLookupResults::titleAndFolderUpdateStagedRow()
{
    // Staged by a scan under another path, with the title stored trimmed.
    QVERIFY(run("INSERT INTO TrackRepo(filename, trackname, filepath, folderLocation, genre) "
                "VALUES ('old.mp3', 'Intro', '/elsewhere/old.mp3', '/music/Blue', 'Unknown Genre')"));
    ruvoDB library;
    track t = result(QStringLiteral("  Intro "));
    QVERIFY(library.updateDataFromAPI(t));
    QCOMPARE(count("TrackRepo"), 1);
    QSqlQuery query(Connection::forThread());
    QVERIFY(query.exec("SELECT filepath, genre, filesize, duration, trackname, VideoImage, codec, artist_id, "
                       "album_id FROM TrackRepo"));
    QVERIFY(query.next());
    QCOMPARE(query.value(0).toString(), folder + QStringLiteral("/01.mp3"));
    QCOMPARE(query.value(1).toString(), QStringLiteral("Rock"));
    QCOMPARE(query.value(2).toLongLong(), Q_INT64_C(5000000000));
    QCOMPARE(query.value(3).toDouble(), 201.5);
    QCOMPARE(query.value(4).toString(), QStringLiteral("Intro"));
    QCOMPARE(query.value(5).toString(), noArtwork);  // an audio track's cover goes to VideoImage too
    QVERIFY(!query.value(6).isNull());
    QCOMPARE(query.value(7).toInt(), scalar("SELECT id FROM artistsRepo WHERE name = 'Ann'").toInt());
    QCOMPARE(query.value(8).toInt(), scalar("SELECT id FROM albumsRepo WHERE name = 'Blue'").toInt());
}

void TestLookupResults::differentTitleAddsRow()
{
    ruvoDB library;
    QVERIFY(library.updateDataFromAPI(result(QStringLiteral("Intro"))));
    QVERIFY(library.updateDataFromAPI(result(QStringLiteral("Introduction"))));
    QCOMPARE(count("TrackRepo"), 2);
    QCOMPARE(scalar("SELECT count(DISTINCT filepath) FROM TrackRepo").toInt(), 1);
    track elsewhere = result(QStringLiteral("Intro"));
    elsewhere.folderLocation = QStringLiteral("/music/Green");
    QVERIFY(library.updateDataFromAPI(elsewhere));
    QCOMPARE(count("TrackRepo"), 3);
}

void TestLookupResults::sameArtistTwiceGivesOneRow()
{
    QVERIFY(run("INSERT INTO artistsRepo(name) VALUES ('ann'), ('Bob')"));
    ruvoDB library;
    QVERIFY(library.updateDataFromAPI(result(QStringLiteral("One"))));
    QVERIFY(library.updateDataFromAPI(result(QStringLiteral("Two"))));
    QCOMPARE(count("artistsRepo"), 3);  // exact match: "ann" is another artist
    QCOMPARE(scalar("SELECT count(*) FROM artistsRepo WHERE name = 'Ann'").toInt(), 1);
    QCOMPARE(scalar("SELECT group_concat(name, ',') FROM (SELECT name FROM artistsRepo ORDER BY id)").toString(),
             QStringLiteral("ann,Bob,Ann"));
}

void TestLookupResults::albumCover_data()
{
    QTest::addColumn<QString>("album");
    QTest::addColumn<QString>("newCover");
    QTest::addColumn<QString>("stored");
    const QString old = QStringLiteral("/old/cover.png");
    QTest::addRow("placeholder keeps the old cover") << "Blue" << noArtwork << old;
    QTest::addRow("missing file keeps the old cover") << "Blue" << "/nowhere/cover.png" << old;
    QTest::addRow("existing file replaces it") << "Blue" << "@cover" << "@cover";
    QTest::addRow("album matched in any case") << "BLUE" << "@cover" << "@cover";
    QTest::addRow("an Unknown album gets the placeholder") << "Unknown Album" << "@cover" << noArtwork;
}

void TestLookupResults::albumCover()
{
    QFETCH(QString, album);
    QFETCH(QString, newCover);
    QFETCH(QString, stored);
    newCover.replace(QStringLiteral("@cover"), m_cover);
    stored.replace(QStringLiteral("@cover"), m_cover);
    QSqlQuery query(Connection::forThread());
    query.prepare("INSERT INTO albumsRepo(name, artist_id, cover, year) VALUES (?, 1, '/old/cover.png', 1999)");
    query.addBindValue(album == "BLUE" ? QStringLiteral("Blue") : album);
    QVERIFY(query.exec());
    ruvoDB library;
    track t = result();
    t.albumName = album;
    t.cover = newCover;
    QVERIFY(library.updateDataFromAPI(t));
    QCOMPARE(count("albumsRepo"), 1);
    QCOMPARE(scalar("SELECT cover FROM albumsRepo").toString(), stored);
    QCOMPARE(scalar("SELECT year FROM albumsRepo").toInt(), 1999);
}

void TestLookupResults::newAlbumTakesCoverAsGiven()
{
    ruvoDB library;
    track t = result();
    t.cover = QStringLiteral("/nowhere/at/all.png");
    QVERIFY(library.updateDataFromAPI(t));
    QCOMPARE(scalar("SELECT cover FROM albumsRepo").toString(), t.cover);
    QCOMPARE(scalar("SELECT year FROM albumsRepo").toInt(), 2001);
}

void TestLookupResults::albumNamesAreNoPatterns()
{
    QVERIFY(run("INSERT INTO albumsRepo(name, artist_id, cover, year) VALUES ('50 Hits', 1, '', 1999)"));
    ruvoDB library;
    track t = result();
    t.albumName = QStringLiteral("50%");
    QVERIFY(library.updateDataFromAPI(t));
    t.albumName = QStringLiteral("5_ Hits");
    QVERIFY(library.updateDataFromAPI(t));
    QCOMPARE(count("albumsRepo"), 3);
}

void TestLookupResults::failureWritesNothing()
{
    QVERIFY(run("CREATE TRIGGER refuse BEFORE INSERT ON TrackRepo BEGIN SELECT RAISE(ABORT, 'refused'); END"));
    ruvoDB library;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Statement failed.*refused"));
    QVERIFY(!library.updateDataFromAPI(result()));
    QCOMPARE(count("artistsRepo"), 0);
    QCOMPARE(count("albumsRepo"), 0);
    QCOMPARE(count("TrackRepo"), 0);
}

CORVANE_TEST_MAIN(TestLookupResults)
#include "tst_lookupresults.moc"
