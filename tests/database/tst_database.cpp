#include <QtTest>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QThread>

#include "core/shared.h"
#include "database/connection.h"
#include "database/database.h"
#include "database/ruvodb.h"
#include "libraryfixture.h"
#include "testenv.h"

using namespace testkit;

namespace {

// The stored layout: every table's columns, in order.
const QMap<QString, QString> schema = {
    {"genres", "id genre"},
    {"artists", "id name MusicBrainzID DiscogsID"},
    {"albums", "id name artist_id cover year coverdata MusicBrainzID DiscogsID"},
    {"tracks", "id filename trackname filepath codec filesize frequency bitrate source tracknumber duration artist_id "
               "album_id genre_id isPodcast year_id isAudiobook ReleaseDate playlist isVideo VideoImage"},
    {"years", "id year"},
    {"playlists", "id filename name type"},
    {"playlist_items", "id url name playlist_id"},
    {"artistsRepo", "id name"},
    {"albumsRepo", "id name artist_id cover year"},
    {"TrackRepo", "ID filename folderLocation trackname filepath codec filesize frequency bitrate source tracknumber "
                  "duration artist_id album_id genre IsPodcast year MusicBrainzID DiscogsID isAudiobook releaseDate "
                  "Playlist MusicSample isVideo VideoImage"}};

// The first release's layout, then the column migrations since, in order.
const QStringList originalLayout = {
    "CREATE TABLE genres (id INTEGER PRIMARY KEY AUTOINCREMENT, genre TEXT)",
    "CREATE TABLE artists (id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT)",
    "CREATE TABLE albums (id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT, artist_id, cover, year)",
    "CREATE TABLE tracks (id INTEGER PRIMARY KEY AUTOINCREMENT, filename, trackname, filepath, codec, filesize, "
    "frequency, bitrate, source, tracknumber, duration, artist_id, album_id, genre_id, isPodcast, year_id)",
    "CREATE TABLE years (id INTEGER PRIMARY KEY AUTOINCREMENT, year)"};
const QStringList migrations =
    QStringLiteral("ALTER TABLE tracks ADD isAudiobook bit;ALTER TABLE tracks ADD ReleaseDate TEXT;"
                   "ALTER TABLE tracks ADD playlist TEXT;ALTER TABLE albums ADD coverdata TEXT;"
                   "ALTER TABLE tracks ADD isVideo bit;ALTER TABLE tracks ADD VideoImage TEXT;"
                   "ALTER TABLE artists ADD MusicBrainzID INTEGER;ALTER TABLE artists ADD DiscogsID INTEGER;"
                   "ALTER TABLE albums ADD MusicBrainzID INTEGER;ALTER TABLE albums ADD DiscogsID INTEGER")
        .split(QLatin1Char(';'));
const QString oldStagingTable = "CREATE TABLE TrackRepo (ID INTEGER PRIMARY KEY, filename TEXT, folderLocation TEXT)";

// Qt's warning when a thread uses another thread's connection.
std::atomic<int> foreignConnectionUses{0};
QtMessageHandler previousHandler = nullptr;

void captureMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.contains(QLatin1String("does not belong")))
        ++foreignConnectionUses;
    previousHandler(type, context, message);
}

// Writes a library file the way an older program would have, then opens it.
bool openOlderFile(const QStringList &statements)
{
    forgetLibrary();
    shared::ensureDataFolder();
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("older"));
        db.setDatabaseName(libraryFile());
        ok = db.open();
        QSqlQuery query(db);
        for (const QString &sql : statements)
            ok = ok && query.exec(sql);
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("older"));
    Database library;
    return ok && library.connect(QStringLiteral("RuvoData"), false) && (library.create(), true);
}

QString columnsOf(const QString &table)
{
    return scalar("SELECT group_concat(name, ' ') FROM (SELECT name FROM pragma_table_info(?) ORDER BY cid)", {table})
        .toString();
}

void presetVehicleChoice()
{
    saveVehicle(3, QStringLiteral("Cedar"), 2, QStringLiteral("2012"));
}

// The vehicle choice in the order it is saved: model, its name, year, year index.
QString savedChoice()
{
    const QVariantMap v = savedVehicle();
    return QStringList{v["Model"].toString(), v["ModelName"].toString(), v["ModelYearValue"].toString(),
                       v["ModelYearIndex"].toString()}
        .join('|');
}

} // namespace

class TestDatabase : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { previousHandler = qInstallMessageHandler(captureMessage); }
    void init() { forgetLibrary(); }

    void cleanupTestCase()
    {
        qInstallMessageHandler(previousHandler);
        forgetLibrary();
    }

    void freshFileGetsTheWholeSchema_data()
    {
        QTest::addColumn<QString>("table");
        for (const QString &table : schema.keys())
            QTest::addRow("%s", qPrintable(table)) << table;
    }

    void freshFileGetsTheWholeSchema()
    {
        QFETCH(QString, table);
        QVERIFY(openLibrary());
        QCOMPARE(columnsOf(table), schema.value(table));
    }

    void freshFileResetsChoiceAndIsCrashSafe()
    {
        presetVehicleChoice();
        QVERIFY(openLibrary());
        QCOMPARE(savedChoice(), QStringLiteral("0|Select|Select|0"));

        QCOMPARE(scalar("PRAGMA journal_mode").toString(), QStringLiteral("wal"));
        QCOMPARE(scalar("PRAGMA synchronous").toInt(), 1); // NORMAL
        QCOMPARE(scalar("PRAGMA auto_vacuum").toInt(), 1); // FULL
        QVERIFY(scalar("PRAGMA busy_timeout").toInt() >= 1000);
    }

    void olderLayoutGetsMissingColumns_data()
    {
        QTest::addColumn<int>("applied");
        QTest::addRow("first release, all ten missing") << 0;
        QTest::addRow("video release, four missing") << 6;
        QTest::addRow("complete file, no ALTER") << 10;
    }

    void olderLayoutGetsMissingColumns()
    {
        QFETCH(int, applied);
        presetVehicleChoice();
        QVERIFY(openOlderFile(originalLayout + migrations.mid(0, applied) +
                              QStringList{"INSERT INTO artists(name) VALUES ('Kept Artist')"}));
        for (const QString table : {"tracks", "albums", "artists"})
            QCOMPARE(columnsOf(table), schema.value(table));
        QCOMPARE(scalar("SELECT name FROM artists").toString(), QStringLiteral("Kept Artist"));
        QCOMPARE(savedChoice(), QStringLiteral("3|Cedar|2012|2")); // an existing file keeps the vehicle choice
    }

    void stagingTableKeptWithRowsRebuiltEmpty()
    {
        QVERIFY(openOlderFile(originalLayout + QStringList{oldStagingTable}));
        QCOMPARE(columnsOf("TrackRepo"), schema.value("TrackRepo"));

        QVERIFY(openOlderFile(originalLayout + QStringList{oldStagingTable, "INSERT INTO TrackRepo(filename) VALUES "
                                                                            "('staged.mp3')"}));
        QCOMPARE(columnsOf("TrackRepo"), QStringLiteral("ID filename folderLocation"));
        QCOMPARE(scalar("SELECT filename FROM TrackRepo").toString(), QStringLiteral("staged.mp3"));
    }

    void noFileWithoutCreateIfMissing()
    {
        presetVehicleChoice();
        QVERIFY(!Database().connect(QStringLiteral("RuvoData"), false));
        QVERIFY(!QFile::exists(libraryFile()) && !QSqlDatabase::contains(QSqlDatabase::defaultConnection));
        QCOMPARE(savedChoice(), QStringLiteral("3|Cedar|2012|2"));
    }

    void secondConnectKeepsTheConnection()
    {
        // A second start-up style connect must not pull the connection from under
        // a query that still holds it.
        QVERIFY(openLibrary());
        QSqlQuery held(Connection::forThread());
        QVERIFY(held.exec("INSERT INTO genres(genre) VALUES ('Jazz')"));
        Database again;
        QVERIFY(again.connect(QStringLiteral("RuvoData"), false));
        QVERIFY(held.exec("SELECT count(*) FROM genres") && held.next());
        QCOMPARE(held.value(0).toInt(), 1);
    }

    void getTracksKeepsTrackWithoutArtist()
    {
        QVERIFY(openLibrary());
        for (const char *sql : {"INSERT INTO albums(name,artist_id,cover,year) VALUES ('Blue',1,'',2001)",
                                "INSERT INTO genres(genre) VALUES ('Rock')", "INSERT INTO years(year) VALUES (2001)",
                                "INSERT INTO tracks(filename,trackname,filepath,codec,artist_id,album_id,genre_id,"
                                "year_id) VALUES ('a.mp3','Song','/m/a.mp3','',1,1,1,1)"})
            QVERIFY(exec(sql));
        QCOMPARE(scalar("SELECT count(*) FROM getTracks WHERE artistname IS NULL AND albumname = 'Blue'").toInt(), 1);
    }

    void threadsShareTheLibrary()
    {
        // Two workers and the GUI thread store, stage and read at once, each on
        // its own connection; every operation commits and no row is lost.
        QVERIFY(openLibrary());
        constexpr int each = 40;
        auto writer = [](const QString &name, QStringList *failures) {
            ruvoDB library;
            for (int i = 0; i < each; ++i) {
                const track t = makeTrack(QStringLiteral("/music/%1/%2.mp3").arg(name).arg(i), "Shared Album", name);
                if (!library.insertDataOne(t) || !ruvoDB::insertDataTrackRepo(t) ||
                    !scalar("SELECT 1 FROM tracks").isValid())
                    failures->append(name + QString::number(i));
            }
        };
        QStringList failures[3];
        const std::unique_ptr<QThread> a(QThread::create(writer, QStringLiteral("a"), &failures[0]));
        const std::unique_ptr<QThread> b(QThread::create(writer, QStringLiteral("b"), &failures[1]));
        a->start();
        b->start();
        writer(QStringLiteral("gui"), &failures[2]);
        QVERIFY(a->wait(60000) && b->wait(60000));

        const QStringList failed = failures[0] + failures[1] + failures[2];
        QVERIFY2(failed.isEmpty(), qPrintable(failed.join(' ')));
        QCOMPARE(count("tracks"), 3 * each);
        QCOMPARE(count("TrackRepo"), 3 * each);
        QCOMPARE(count("artists"), 3);
        QCOMPARE(count("albums"), 1);
        QCOMPARE(foreignConnectionUses.load(), 0);
        // The workers' connections closed with their threads.
        QCOMPARE(QSqlDatabase::connectionNames(), QStringList{QString::fromLatin1(QSqlDatabase::defaultConnection)});
    }
};

CORVANE_TEST_MAIN(TestDatabase)
#include "tst_database.moc"
