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

// Every table's columns, in order.
QString layout()
{
    return scalar("SELECT group_concat(c, ' ') FROM (SELECT m.name || '.' || p.name AS c FROM sqlite_master m, "
                  "pragma_table_info(m.name) p WHERE m.type = 'table' ORDER BY m.name, p.cid)")
        .toString();
}

// The library file opened again as at start-up.
bool reopen()
{
    Database library;
    return library.connect(QStringLiteral("RuvoData"), false) && (library.create(), true);
}

// Turns the library into a file an older program left: its views go, then each statement runs.
bool makeOlder(const QStringList &statements)
{
    bool ok = exec("DROP VIEW getTracks") && exec("DROP VIEW getTracksRepo");
    for (const QString &sql : statements)
        ok = ok && exec(sql);
    return ok;
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
    void init()
    {
        forgetLibrary();
        saveVehicle(3, QStringLiteral("Cedar"), 2, QStringLiteral("2012"));
    }
    void cleanupTestCase() { forgetLibrary(); }

    void freshFileResetsChoiceAndIsCrashSafe()
    {
        QVERIFY(openLibrary());
        QCOMPARE(savedChoice(), QStringLiteral("0|Select|Select|0"));
        QCOMPARE(scalar("PRAGMA journal_mode").toString(), QStringLiteral("wal"));
        QCOMPARE(scalar("PRAGMA synchronous").toInt(), 1); // NORMAL
        QCOMPARE(scalar("PRAGMA auto_vacuum").toInt(), 1); // FULL
        QVERIFY(scalar("PRAGMA busy_timeout").toInt() >= 1000);
    }

    void olderLayoutGetsMissingColumns_data()
    {
        // Columns of the file's releases since the first, each added at its table's end.
        QTest::addColumn<QString>("missing");
        QTest::addRow("first release") << "tracks.isAudiobook tracks.ReleaseDate tracks.playlist tracks.isVideo "
                                          "tracks.VideoImage albums.coverdata albums.MusicBrainzID albums.DiscogsID "
                                          "artists.MusicBrainzID artists.DiscogsID";
        QTest::addRow("video release")
            << "albums.MusicBrainzID albums.DiscogsID artists.MusicBrainzID artists.DiscogsID";
        QTest::addRow("complete file") << "";
    }

    void olderLayoutGetsMissingColumns()
    {
        QFETCH(QString, missing);
        QVERIFY(openLibrary());
        const QString fresh = layout();
        saveVehicle(3, QStringLiteral("Cedar"), 2, QStringLiteral("2012"));
        QStringList older{"INSERT INTO artists(name) VALUES ('Kept Artist')"};
        for (const QString &column : missing.split(' ', Qt::SkipEmptyParts))
            older << "ALTER TABLE " + column.section('.', 0, 0) + " DROP COLUMN " + column.section('.', 1);
        QVERIFY(makeOlder(older) && reopen());
        QCOMPARE(layout(), fresh);
        QCOMPARE(scalar("SELECT name FROM artists").toString(), QStringLiteral("Kept Artist"));
        QCOMPARE(savedChoice(), QStringLiteral("3|Cedar|2012|2")); // an existing file keeps the vehicle choice
    }

    void stagingTableKeptWithRowsRebuiltEmpty()
    {
        QVERIFY(openLibrary());
        const QString fresh = layout();
        const QStringList older{"DROP TABLE TrackRepo",
                                "CREATE TABLE TrackRepo (ID INTEGER PRIMARY KEY, filename TEXT, folderLocation TEXT)"};
        QVERIFY(makeOlder(older) && reopen());
        QCOMPARE(layout(), fresh);
        QVERIFY(makeOlder(older + QStringList{"INSERT INTO TrackRepo(filename) VALUES ('staged.mp3')"}) && reopen());
        QCOMPARE(scalar("SELECT group_concat(name, ' ') FROM pragma_table_info('TrackRepo')").toString(),
                 QStringLiteral("ID filename folderLocation"));
        QCOMPARE(scalar("SELECT filename FROM TrackRepo").toString(), QStringLiteral("staged.mp3"));
    }

    void noFileWithoutCreateIfMissing()
    {
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
        QVERIFY(reopen());
        QVERIFY(held.exec("SELECT count(*) FROM genres") && held.next());
        QCOMPARE(held.value(0).toInt(), 1);
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
        // The workers' connections closed with their threads.
        QCOMPARE(QSqlDatabase::connectionNames(), QStringList{QString::fromLatin1(QSqlDatabase::defaultConnection)});
    }
};

CORVANE_TEST_MAIN(TestDatabase)
#include "tst_database.moc"
