#include <QtTest>

#include "core/shared.h"
#include "database/repositorystager.h"
#include "database/ruvodb.h"
#include "libraryfixture.h"
#include "testenv.h"

using namespace testkit;

class TestRepositoryStaging : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_pictures.isValid()); }
    void init() { QVERIFY(openLibrary()); }
    void cleanupTestCase() { forgetLibrary(); }

    void stagesTheScannedFile()
    {
        const QString artist = QStringLiteral("Björk Guðmundsdóttir — 坂本龍一");
        const QString album = QStringLiteral("Ελληνικά Τραγούδια");
        track t = makeTrack(QStringLiteral("/music/Ωμέγα/Песня №1.mp3"), album, artist);
        t.trackname = QStringLiteral("  Привет, мир ✓ ");
        t.filepath = QStringLiteral("/converted/song.m4a"); // a transcoded copy is not what is staged
        QVERIFY(ruvoDB::insertDataTrackRepo(t));

        QCOMPARE(scalar("SELECT filename || '|' || trackname || '|' || filepath || '|' || folderLocation || '|' || "
                        "artistname || '|' || albumname || '|' || genre || '|' || year FROM getTracksRepo")
                     .toString(),
                 QStringLiteral("Песня №1.mp3|Привет, мир ✓|/music/Ωμέγα/Песня №1.mp3|/music/Ωμέγα|") + artist + '|' +
                     album + QStringLiteral("|Rock|2001"));
        QCOMPARE(count("TrackRepo WHERE codec = '' AND VideoImage = '' AND Playlist = ''"), 1);

        // A second track of the same names, genre and year adds none of them again.
        t.sourcePath = QStringLiteral("/music/Ωμέγα/other.mp3");
        QVERIFY(ruvoDB::insertDataTrackRepo(t));
        QCOMPARE(count("TrackRepo"), 2);
        for (const QString table : {"artistsRepo", "albumsRepo", "genres", "years"})
            QVERIFY2(count(table) == 1, qPrintable(table));
    }

    void namesMatchExactly_data()
    {
        QTest::addColumn<QStringList>("first");  // artist, album
        QTest::addColumn<QStringList>("second"); // artist, album
        QTest::addColumn<int>("artists");
        QTest::addColumn<int>("albums");
        QTest::addRow("apostrophes are stored and found")
            << QStringList{"Guns N' Roses", "Don't Cry"} << QStringList{"Guns N' Roses", "Don't Cry"} << 1 << 1;
        QTest::addRow("album names ignore case, artist names don't")
            << QStringList{"Queen", "Abbey Road"} << QStringList{"QUEEN", "ABBEY ROAD"} << 2 << 1;
    }

    void namesMatchExactly()
    {
        QFETCH(QStringList, first);
        QFETCH(QStringList, second);
        QFETCH(int, artists);
        QFETCH(int, albums);
        QVERIFY(ruvoDB::insertDataTrackRepo(makeTrack("/m/1.mp3", first[1], first[0])));
        QVERIFY(ruvoDB::insertDataTrackRepo(makeTrack("/m/2.mp3", second[1], second[0])));
        QCOMPARE(count("artistsRepo"), artists);
        QCOMPARE(count("albumsRepo"), albums);
        QCOMPARE(scalar("SELECT artistname || '|' || albumname FROM getTracksRepo WHERE filepath = ?", {"/m/1.mp3"})
                     .toString(),
                 first.join('|'));
        QCOMPARE(scalar("SELECT artistname FROM getTracksRepo WHERE filepath = '/m/2.mp3'").toString(), second[0]);
    }

    void sameFileOncePerPlaylist()
    {
        track t = makeTrack(QStringLiteral("/m/it's.mp3"));
        QVERIFY(ruvoDB::insertDataTrackRepo(t));
        QVERIFY(ruvoDB::insertDataTrackRepo(t));
        QCOMPARE(count("TrackRepo"), 1);
        t.playlist = QStringLiteral("Road Trip");
        QVERIFY(ruvoDB::insertDataTrackRepo(t));
        QVERIFY(ruvoDB::insertDataTrackRepo(t));
        t.playlist = QStringLiteral("Gym");
        QVERIFY(ruvoDB::insertDataTrackRepo(t));
        QCOMPARE(count("TrackRepo"), 3);
    }

    void albumCover()
    {
        const QString first = m_pictures.filePath(QStringLiteral("Album.png"));
        const QString latest = m_pictures.filePath(QStringLiteral("Album2.png"));
        QVERIFY(touch(first, "png") && touch(latest, "png"));
        const auto stageWith = [](const QString &album, const QString &cover) {
            track t = makeTrack(QStringLiteral("/m/%1.mp3").arg(count("TrackRepo")), album);
            t.cover = cover;
            return ruvoDB::insertDataTrackRepo(t);
        };
        const auto coverOf = [](const QString &album) {
            return scalar("SELECT cover FROM albumsRepo WHERE name = ?", {album}).toString();
        };

        // A new album takes only a picture named after it.
        QVERIFY(stageWith("Album", first) && stageWith("Other", first));
        QCOMPARE(coverOf("Album"), first);
        QCOMPARE(coverOf("Other"), shared().noArtworkUrl);
        // A missing file or the placeholder never replaces a cover; the latest existing picture does.
        QVERIFY(stageWith("Album", m_pictures.filePath("missing/Album.png")));
        QVERIFY(stageWith("Album", shared().noArtworkUrl));
        QCOMPARE(coverOf("Album"), first);
        QVERIFY(stageWith("album", latest));
        QCOMPARE(coverOf("Album"), latest);
        // An "Unknown" album never keeps a real picture.
        QVERIFY(stageWith("Unknown Album", first) && stageWith("Unknown Album", first));
        QCOMPARE(coverOf("Unknown Album"), shared().noArtworkUrl);
    }

    void failedStatementRollsBackEverything()
    {
        QVERIFY(exec("CREATE TEMP TRIGGER refuse BEFORE INSERT ON TrackRepo "
                     "BEGIN SELECT RAISE(ABORT, 'refused'); END"));
        QVERIFY(!ruvoDB::insertDataTrackRepo(makeTrack("/m/x.mp3")));
        for (const QString table : {"TrackRepo", "artistsRepo", "albumsRepo", "genres", "years"})
            QVERIFY2(count(table) == 0, qPrintable(table));
        // The connection is usable again afterwards.
        QVERIFY(exec("DROP TRIGGER refuse"));
        QVERIFY(ruvoDB::insertDataTrackRepo(makeTrack("/m/x.mp3")));
        QCOMPARE(count("TrackRepo"), 1);
    }

    // A commit can fail after each record's statements went through (here a
    // deferred foreign key): then none of the batch's records was staged.
    void failedBatchCommitReportsEveryRecord()
    {
        QVERIFY(exec("PRAGMA foreign_keys = ON"));
        QVERIFY(exec("CREATE TEMP TABLE owner(id INTEGER PRIMARY KEY)"));
        QVERIFY(exec("CREATE TEMP TABLE needs(owner REFERENCES owner(id) DEFERRABLE INITIALLY DEFERRED)"));
        QVERIFY(exec("CREATE TEMP TRIGGER dangling AFTER INSERT ON TrackRepo BEGIN INSERT INTO needs VALUES (7); END"));
        {
            RepositoryStager::Batch batch;
            QVERIFY(ruvoDB::insertDataTrackRepo(makeTrack("/m/a.mp3")));
            QVERIFY(ruvoDB::insertDataTrackRepo(makeTrack("/m/b.mp3")));
            QVERIFY(!RepositoryStager::commitOpenBatch());
            QCOMPARE(batch.notStaged(), QStringList({"/m/a.mp3", "/m/b.mp3"}));
        }
        QVERIFY(exec("DROP TRIGGER dangling") && exec("PRAGMA foreign_keys = OFF"));
        QCOMPARE(count("TrackRepo"), 0);
    }

private:
    QTemporaryDir m_pictures;
};

CORVANE_TEST_MAIN(TestRepositoryStaging)
#include "tst_repositorystaging.moc"
