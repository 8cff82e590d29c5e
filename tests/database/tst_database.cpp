#include <QtTest>

#include <QSettings>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include "core/shared.h"
#include "database/connection.h"
#include "database/database.h"
#include "database/ruvodb.h"
#include "database/transaction.h"
#include "testenv.h"

namespace {

const QStringList genresColumns = {"id", "genre"};
const QStringList artistsColumns = {"id", "name", "MusicBrainzID", "DiscogsID"};
const QStringList albumsColumns = {"id", "name", "artist_id", "cover", "year", "coverdata", "MusicBrainzID",
                                   "DiscogsID"};
const QStringList tracksColumns = {"id",          "filename",    "trackname", "filepath",  "codec",
                                   "filesize",    "frequency",   "bitrate",   "source",    "tracknumber",
                                   "duration",    "artist_id",   "album_id",  "genre_id",  "isPodcast",
                                   "year_id",     "isAudiobook", "ReleaseDate", "playlist", "isVideo",
                                   "VideoImage"};
const QStringList yearsColumns = {"id", "year"};
const QStringList playlistsColumns = {"id", "filename", "name", "type"};
const QStringList playlistItemsColumns = {"id", "url", "name", "playlist_id"};
const QStringList artistsRepoColumns = {"id", "name"};
const QStringList albumsRepoColumns = {"id", "name", "artist_id", "cover", "year"};
const QStringList trackRepoColumns = {"ID",          "filename",   "folderLocation", "trackname", "filepath",
                                      "codec",       "filesize",   "frequency",      "bitrate",   "source",
                                      "tracknumber", "duration",   "artist_id",      "album_id",  "genre",
                                      "IsPodcast",   "year",       "MusicBrainzID",  "DiscogsID", "isAudiobook",
                                      "releaseDate", "Playlist",   "MusicSample",    "isVideo",   "VideoImage"};
const QStringList getTracksColumns = {"id",          "filename",    "trackname",  "filepath",  "codec",
                                      "filesize",    "frequency",   "bitrate",    "source",    "tracknumber",
                                      "duration",    "VideoImage",  "artist_id",  "artistname", "album_id",
                                      "albumname",   "cover",       "coverdata",  "genre",     "isPodcast",
                                      "isAudiobook", "isVideo",     "ReleaseDate", "playlist", "year"};
const QStringList getTracksRepoColumns = {"id",        "filename",   "trackname",   "filepath",  "codec",
                                          "filesize",  "frequency",  "bitrate",     "source",    "tracknumber",
                                          "duration",  "folderLocation", "VideoImage", "artist_id", "artistname",
                                          "album_id",  "albumname",  "cover",       "genre",     "isPodcast",
                                          "isAudiobook", "isVideo",  "releaseDate", "Playlist",  "year"};

// The layout before any column migration, as the first release wrote it.
const QStringList originalLayout = {
    "CREATE TABLE `genres` (`id` INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, `genre` TEXT NOT NULL)",
    "CREATE TABLE `artists` (`id` INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, `name` TEXT NOT NULL)",
    "CREATE TABLE `albums` (`id` INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, `name` TEXT NOT NULL, "
    "`artist_id` INTEGER NOT NULL, `cover` TEXT, `year` INTEGER NOT NULL)",
    "CREATE TABLE `tracks` (`id` INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, `filename` TEXT NOT NULL, "
    "`trackname` TEXT NOT NULL, `filepath` TEXT NOT NULL, `codec` TEXT NOT NULL, `filesize` INTEGER NULL, "
    "`frequency` INTEGER NULL, `bitrate` INTEGER NULL, `source` INTEGER, `tracknumber` INTEGER, "
    "`duration` INTEGER NULL, `artist_id` INTEGER NOT NULL, `album_id` INTEGER NOT NULL, "
    "`genre_id` INTEGER NOT NULL, `isPodcast` bit, `year_id` INTEGER NOT NULL)",
    "CREATE TABLE `years` (`id` INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, `year` INTEGER NOT NULL)",
};
const QStringList migrationStatements = {
    "ALTER TABLE tracks ADD isAudiobook bit",
    "ALTER TABLE tracks ADD ReleaseDate TEXT NULL",
    "ALTER TABLE tracks ADD playlist TEXT NULL",
    "ALTER TABLE albums ADD coverdata TEXT NULL",
    "ALTER TABLE tracks ADD isVideo bit",
    "ALTER TABLE tracks ADD VideoImage TEXT NULL",
    "ALTER TABLE artists ADD MusicBrainzID INTEGER NULL",
    "ALTER TABLE artists ADD DiscogsID INTEGER NULL",
    "ALTER TABLE albums ADD MusicBrainzID INTEGER NULL",
    "ALTER TABLE albums ADD DiscogsID INTEGER NULL",
};

QStringList capturedMessages;
QtMessageHandler previousHandler = nullptr;

void captureMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    capturedMessages << message;
    previousHandler(type, context, message);
}

QString libraryFile()
{
    return shared::dataFolder() + QStringLiteral("/ruvo.db");
}

// Drops the default connection and every trace of the library file.
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
    for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        QFile::remove(libraryFile() + suffix);
}

// Runs statements on a connection of its own, as an older program would have.
void writeFileWith(const QStringList &statements)
{
    shared::ensureDataFolder();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("setup"));
        db.setDatabaseName(libraryFile());
        QVERIFY(db.open());
        QSqlQuery query(db);
        for (const QString &sql : statements)
            QVERIFY2(query.exec(sql), qPrintable(sql + ": " + query.lastError().text()));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("setup"));
}

QStringList columnsOf(const QString &table)
{
    QStringList columns;
    QSqlQuery query(Connection::forThread());
    if (!query.exec(QStringLiteral("PRAGMA table_info(%1)").arg(table)))
        return columns;
    while (query.next())
        columns << query.value(1).toString();
    return columns;
}

QVariant scalar(const QString &sql)
{
    QSqlQuery query(Connection::forThread());
    if (!query.exec(sql) || !query.next())
        return QVariant();
    return query.value(0);
}

bool openLibrary()
{
    Database db;
    if (!db.connect(QStringLiteral("RuvoData"), true))
        return false;
    db.create();
    return true;
}

void presetVehicleChoice()
{
    QSettings settings(QStringLiteral("MyComp"), QStringLiteral("MyApp"));
    settings.beginGroup(QStringLiteral("MainWindows"));
    settings.setValue(QStringLiteral("Model"), 3);
    settings.setValue(QStringLiteral("ModelName"), QStringLiteral("Cedar"));
    settings.setValue(QStringLiteral("ModelYearValue"), QStringLiteral("2012"));
    settings.setValue(QStringLiteral("ModelYearIndex"), 2);
}

QVariant savedChoice(const QString &key)
{
    QSettings settings(QStringLiteral("MyComp"), QStringLiteral("MyApp"));
    return settings.value(QStringLiteral("MainWindows/") + key);
}

} // namespace

class TestDatabase : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void freshFileGetsTheWholeSchema_data();
    void freshFileGetsTheWholeSchema();
    void freshFileResetsVehicleChoice();
    void freshFileIsCrashSafe();
    void olderLayoutGetsMissingColumns_data();
    void olderLayoutGetsMissingColumns();
    void existingFileLeavesSettingsAlone();
    void stagingTableWithRowsIsKept();
    void emptyStagingTableIsRebuilt();
    void noFileWithoutCreateIfMissing();
    void secondConnectKeepsTheConnection();
    void getTracksKeepsTrackWithoutArtist();
    void isDBNeedsFileAndAlbum();
    void transactionRollsBackUnlessCommitted();
    void threadsShareTheLibrary();
};

void TestDatabase::initTestCase()
{
    previousHandler = qInstallMessageHandler(captureMessage);
}

void TestDatabase::cleanupTestCase()
{
    qInstallMessageHandler(previousHandler);
    forgetLibrary();
}

void TestDatabase::init()
{
    forgetLibrary();
    capturedMessages.clear();
}

void TestDatabase::freshFileGetsTheWholeSchema_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QStringList>("columns");
    QTest::addRow("genres") << "genres" << genresColumns;
    QTest::addRow("artists with ids") << "artists" << artistsColumns;
    QTest::addRow("albums with coverdata and ids") << "albums" << albumsColumns;
    QTest::addRow("tracks with six migrated columns") << "tracks" << tracksColumns;
    QTest::addRow("years") << "years" << yearsColumns;
    QTest::addRow("playlists") << "playlists" << playlistsColumns;
    QTest::addRow("playlist_items") << "playlist_items" << playlistItemsColumns;
    QTest::addRow("artistsRepo") << "artistsRepo" << artistsRepoColumns;
    QTest::addRow("albumsRepo") << "albumsRepo" << albumsRepoColumns;
    QTest::addRow("TrackRepo") << "TrackRepo" << trackRepoColumns;
    QTest::addRow("view getTracks") << "getTracks" << getTracksColumns;
    QTest::addRow("view getTracksRepo") << "getTracksRepo" << getTracksRepoColumns;
}

void TestDatabase::freshFileGetsTheWholeSchema()
{
    QFETCH(QString, table);
    QFETCH(QStringList, columns);
    QVERIFY(!QFile::exists(libraryFile()));
    QVERIFY(openLibrary());
    QVERIFY(QFile::exists(libraryFile()));
    QCOMPARE(columnsOf(table), columns);
}

void TestDatabase::freshFileResetsVehicleChoice()
{
    presetVehicleChoice();
    QVERIFY(openLibrary());
    QCOMPARE(savedChoice("Model").toInt(), 0);
    QCOMPARE(savedChoice("ModelName").toString(), QStringLiteral("Select"));
    QCOMPARE(savedChoice("ModelYearValue").toString(), QStringLiteral("Select"));
    QCOMPARE(savedChoice("ModelYearIndex").toInt(), 0);
}

void TestDatabase::freshFileIsCrashSafe()
{
    QVERIFY(openLibrary());
    QCOMPARE(scalar("PRAGMA journal_mode").toString(), QStringLiteral("wal"));
    QCOMPARE(scalar("PRAGMA synchronous").toInt(), 1);  // NORMAL
    QCOMPARE(scalar("PRAGMA auto_vacuum").toInt(), 1);  // FULL
    QVERIFY(scalar("PRAGMA busy_timeout").toInt() >= 1000);
}

void TestDatabase::olderLayoutGetsMissingColumns_data()
{
    QTest::addColumn<int>("applied");
    QTest::addRow("first release, all ten missing") << 0;
    QTest::addRow("audiobook release, seven missing") << 3;
    QTest::addRow("video release, four missing") << 6;
    QTest::addRow("one missing") << 9;
    QTest::addRow("complete file, no ALTER") << 10;
}

void TestDatabase::olderLayoutGetsMissingColumns()
{
    QFETCH(int, applied);
    QStringList statements = originalLayout;
    statements << migrationStatements.mid(0, applied);
    statements << "INSERT INTO artists(name) VALUES ('Kept Artist')";
    statements << "INSERT INTO tracks(filename,trackname,filepath,codec,artist_id,album_id,genre_id,year_id) "
                  "VALUES ('a.mp3','Kept','/x/a.mp3','mp3',1,1,1,1)";
    writeFileWith(statements);
    QVERIFY(!QTest::currentTestFailed());

    QVERIFY(openLibrary());
    QCOMPARE(columnsOf("tracks"), tracksColumns);
    QCOMPARE(columnsOf("albums"), albumsColumns);
    QCOMPARE(columnsOf("artists"), artistsColumns);
    QCOMPARE(scalar("SELECT trackname FROM tracks").toString(), QStringLiteral("Kept"));
    QCOMPARE(scalar("SELECT name FROM artists").toString(), QStringLiteral("Kept Artist"));

    const QStringList migrationsRun = capturedMessages.filter(QStringLiteral("- Database -> migration"));
    QCOMPARE(migrationsRun.size(), 10 - applied);
    for (const QString &line : migrationsRun)
        QVERIFY2(line.endsWith(QLatin1String("true")), qPrintable(line));
}

void TestDatabase::existingFileLeavesSettingsAlone()
{
    QVERIFY(openLibrary());
    forgetLibrary();
    writeFileWith(originalLayout);
    presetVehicleChoice();
    QVERIFY(openLibrary());
    QCOMPARE(savedChoice("ModelName").toString(), QStringLiteral("Cedar"));
    QCOMPARE(savedChoice("Model").toInt(), 3);
}

void TestDatabase::stagingTableWithRowsIsKept()
{
    // An older staging layout without VideoImage, holding a staged track.
    QStringList statements = originalLayout;
    statements << "CREATE TABLE `TrackRepo` (`ID` INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, "
                  "`filename` TEXT NULL, `folderLocation` TEXT NULL)";
    statements << "INSERT INTO TrackRepo(filename, folderLocation) VALUES ('staged.mp3', '/music/Blue')";
    writeFileWith(statements);
    QVERIFY(openLibrary());
    QCOMPARE(columnsOf("TrackRepo"), QStringList({"ID", "filename", "folderLocation"}));
    QCOMPARE(scalar("SELECT filename FROM TrackRepo").toString(), QStringLiteral("staged.mp3"));
}

void TestDatabase::emptyStagingTableIsRebuilt()
{
    QStringList statements = originalLayout;
    statements << "CREATE TABLE `TrackRepo` (`ID` INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, "
                  "`filename` TEXT NULL, `folderLocation` TEXT NULL)";
    writeFileWith(statements);
    QVERIFY(openLibrary());
    QCOMPARE(columnsOf("TrackRepo"), trackRepoColumns);
}

void TestDatabase::noFileWithoutCreateIfMissing()
{
    presetVehicleChoice();
    Database db;
    QVERIFY(!db.connect(QStringLiteral("RuvoData"), false));
    QVERIFY(!QFile::exists(libraryFile()));
    QVERIFY(!QSqlDatabase::contains(QString::fromLatin1(QSqlDatabase::defaultConnection)));
    QCOMPARE(savedChoice("ModelName").toString(), QStringLiteral("Cedar"));
}

void TestDatabase::secondConnectKeepsTheConnection()
{
    QVERIFY(openLibrary());
    QSqlQuery held(Connection::forThread());
    QVERIFY(held.exec("INSERT INTO genres(genre) VALUES ('Jazz')"));
    // A second start-up style connect must not pull the connection from under
    // a query that still holds it.
    Database again;
    QVERIFY(again.connect(QStringLiteral("RuvoData"), false));
    QVERIFY(held.exec("SELECT count(*) FROM genres"));
    QVERIFY(held.next());
    QCOMPARE(held.value(0).toInt(), 1);
}

void TestDatabase::getTracksKeepsTrackWithoutArtist()
{
    QVERIFY(openLibrary());
    QSqlQuery query(Connection::forThread());
    QVERIFY(query.exec("INSERT INTO artists(name) VALUES ('Gone')"));
    QVERIFY(query.exec("INSERT INTO albums(name,artist_id,cover,year) VALUES ('Blue',1,'',2001)"));
    QVERIFY(query.exec("INSERT INTO genres(genre) VALUES ('Rock')"));
    QVERIFY(query.exec("INSERT INTO years(year) VALUES (2001)"));
    QVERIFY(query.exec("INSERT INTO tracks(filename,trackname,filepath,codec,artist_id,album_id,genre_id,year_id) "
                       "VALUES ('a.mp3','Song','/m/a.mp3','',1,1,1,1)"));
    QVERIFY(query.exec("DELETE FROM artists"));
    QVERIFY(query.exec("SELECT artist_id, artistname, albumname, trackname FROM getTracks"));
    QVERIFY(query.next());
    QVERIFY(query.value(0).isNull());
    QVERIFY(query.value(1).isNull());
    QCOMPARE(query.value(2).toString(), QStringLiteral("Blue"));
    QCOMPARE(query.value(3).toString(), QStringLiteral("Song"));
    QVERIFY(!query.next());
}

void TestDatabase::isDBNeedsFileAndAlbum()
{
    QVERIFY(!ruvoDB::isDB());
    QVERIFY(!QFile::exists(libraryFile()));
    QVERIFY(openLibrary());
    QVERIFY(!ruvoDB::isDB());
    QSqlQuery query(Connection::forThread());
    QVERIFY(query.exec("INSERT INTO albums(name,artist_id,cover,year) VALUES ('Blue',1,'',2001)"));
    QVERIFY(ruvoDB::isDB());
    QVERIFY(ruvoDB::checkDB());
}

void TestDatabase::transactionRollsBackUnlessCommitted()
{
    QVERIFY(openLibrary());
    QSqlDatabase db = Connection::forThread();
    {
        Transaction tx(db);
        QVERIFY(tx.isActive());
        QSqlQuery query(db);
        QVERIFY(query.exec("INSERT INTO genres(genre) VALUES ('Lost')"));
    }
    QCOMPARE(scalar("SELECT count(*) FROM genres").toInt(), 0);
    {
        Transaction tx(db);
        QSqlQuery query(db);
        QVERIFY(query.exec("INSERT INTO genres(genre) VALUES ('Kept')"));
        QVERIFY(tx.commit());
    }
    QCOMPARE(scalar("SELECT genre FROM genres").toString(), QStringLiteral("Kept"));

    Transaction none{QSqlDatabase()};
    QVERIFY(!none.isActive());
    QVERIFY(!none.commit());
}

void TestDatabase::threadsShareTheLibrary()
{
    QVERIFY(openLibrary());
    constexpr int rowsEach = 150;

    // A worker writes through its own connection, one transaction per row,
    // reading back as it goes.
    auto writer = [](const QString &prefix, QStringList *failures) {
        for (int i = 0; i < rowsEach; ++i) {
            QSqlDatabase db = Connection::forThread();
            Transaction tx(db);
            QSqlQuery query(db);
            query.prepare(QStringLiteral("INSERT INTO genres(genre) VALUES (?)"));
            query.addBindValue(prefix + QString::number(i));
            if (!tx.isActive() || !query.exec() || !tx.commit()) {
                failures->append(prefix + QString::number(i) + ": " + query.lastError().text());
                continue;
            }
            QSqlQuery read(db);
            if (!read.exec(QStringLiteral("SELECT count(*) FROM genres")) || !read.next())
                failures->append(QStringLiteral("read failed"));
        }
    };

    QStringList failuresA, failuresB, failuresMain;
    QThread *a = QThread::create(writer, QStringLiteral("a"), &failuresA);
    QThread *b = QThread::create(writer, QStringLiteral("b"), &failuresB);
    a->start();
    b->start();
    writer(QStringLiteral("main"), &failuresMain);
    QVERIFY(a->wait(60000));
    QVERIFY(b->wait(60000));
    delete a;
    delete b;

    QVERIFY2(failuresA.isEmpty(), qPrintable(failuresA.join('\n')));
    QVERIFY2(failuresB.isEmpty(), qPrintable(failuresB.join('\n')));
    QVERIFY2(failuresMain.isEmpty(), qPrintable(failuresMain.join('\n')));
    QCOMPARE(scalar("SELECT count(*) FROM genres").toInt(), 3 * rowsEach);
    QCOMPARE(capturedMessages.filter(QStringLiteral("does not belong")).size(), 0);
    // The workers' connections closed with their threads.
    QCOMPARE(QSqlDatabase::connectionNames(), QStringList{QString::fromLatin1(QSqlDatabase::defaultConnection)});
}

CORVANE_TEST_MAIN(TestDatabase)
#include "tst_database.moc"
