#include <QtTest>

#include "core/shared.h"
#include "database/ruvodb.h"
#include "libraryfixture.h"
#include "mediakit.h"
#include "testenv.h"

using namespace testkit;

namespace {

const QString folder = QStringLiteral("/music/Blue");

// A track of the folder with nothing known but its file.
track incomplete(const QString &file, const QString &title = QStringLiteral("Unknown Song"), bool titleKnown = false)
{
    track t = makeTrack(folder + QLatin1Char('/') + file, "Unknown Album", "Unknown Artist");
    t.trackname = title;
    t.hasTitle = titleKnown;
    t.genre = QStringLiteral("Unknown Genre");
    t.duration = 123;
    return t;
}

// A looked-up track of the folder.
track lookedUp(const QString &title = QStringLiteral("Intro"))
{
    track t = makeTrack(folder + QStringLiteral("/01.mp3"), "Blue", "Ann");
    t.trackname = title;
    t.filesize = Q_INT64_C(5000000000);
    return t;
}

} // namespace

Q_DECLARE_METATYPE(testkit::StagedRow)

// Completing a track from the other staged tracks of its folder, and writing
// a looked-up track back into the staging repository.
class TestLocalTagInference : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(openLibrary()); }
    void cleanupTestCase() { forgetLibrary(); }

    void folderProfile_data()
    {
        QTest::addColumn<QList<StagedRow>>("rows");
        QTest::addColumn<QString>("album");
        QTest::addColumn<QString>("artist");
        const QString noAlbum = QStringLiteral("Unknown Album");
        const QString noArtist = QStringLiteral("Unknown Artist");
        QTest::addRow("Unknown Album plus Blue lends Blue, but two albums lend no artist")
            << QList<StagedRow>{{"A", "Unknown Album", "Ann"}, {"B", "Blue", "Ann"}} << "Blue" << noArtist;
        QTest::addRow("one album lends album and artist")
            << QList<StagedRow>{{"A", "Blue", "Ann"}, {"B", "Blue", "Ann"}} << "Blue" << QStringLiteral("Ann");
        QTest::addRow("an empty album name lends nothing")
            << QList<StagedRow>{{"A", "", "Ann"}, {"B", "Blue", "Ann"}} << noAlbum << noArtist;
        QTest::addRow("an empty artist is never lent")
            << QList<StagedRow>{{"A", "Blue", ""}, {"B", "Blue", ""}} << "Blue" << noArtist;
        QTest::addRow("Greatest Compilation lends no artist")
            << QList<StagedRow>{{"A", "Greatest Compilation", "Ann"}} << "Greatest Compilation" << noArtist;
        const StagedRow fast{"B", "Blue", "Ann", 320};
        QTest::addRow("two bit rates lend nothing")
            << QList<StagedRow>{{"A", "Blue", "Ann"}, fast} << noAlbum << noArtist;
    }

    void folderProfile()
    {
        QFETCH(QList<StagedRow>, rows);
        QFETCH(QString, album);
        QFETCH(QString, artist);
        QVERIFY(stage(folder, rows));
        const track result = m_library.updatelocalDB(incomplete("Intro.mp3"));
        QCOMPARE(result.albumName, album);
        QCOMPARE(result.hasAlbum, !album.startsWith("Unknown"));
        QCOMPARE(result.artistName, artist);
        QCOMPARE(result.hasArtist, !artist.startsWith("Unknown"));
    }

    void titleFromFileName_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("expected");
        QTest::addRow("Unknown Song in Intro.mp3") << "Intro.mp3" << QStringLiteral("Unknown Song") << "Intro";
        QTest::addRow("unknown in any case, only the suffix goes") << "A.B.mp3" << QStringLiteral("UNKNOWN") << "A.B";
        QTest::addRow("Track01.mp3 is no title") << "Track01.mp3" << QStringLiteral("Unknown Song") << "Unknown Song";
    }

    void titleFromFileName()
    {
        QFETCH(QString, file);
        QFETCH(QString, title);
        QFETCH(QString, expected);
        QVERIFY(stage(folder, {{"Other", "Blue", "Ann"}}));
        const track result = m_library.updatelocalDB(incomplete(file, title));
        QCOMPARE(result.trackname, expected);
        QCOMPARE(result.hasTitle, expected != title);
    }

    void matchingRows_data()
    {
        QTest::addColumn<QList<StagedRow>>("rows");
        QTest::addColumn<track>("input");
        QTest::addColumn<QString>("album");
        QTest::addColumn<QString>("artist");
        QTest::addColumn<int>("tracknumber");

        // A second bit rate in the folder keeps its profile out: only matching rows lend.
        const StagedRow other{"Outro", "Green", "Bob", 320, 200, 9}; // title, album, artist, rate, length, number
        const StagedRow intro{"Intro", "Blue", "Ann", 192, 200, 1};
        const track live = incomplete("x.mp3", "intro (live)", true);
        QTest::addRow("title contained, any case") << QList<StagedRow>{intro, other} << live << "Blue" << "Ann" << 1;

        QTest::addRow("duration and title") << QList<StagedRow>{{"Same", "Blue", "Ann", 192, 123}, other}
                                            << incomplete("x.mp3", "Same", true) << "Blue" << "Ann" << 0;

        const StagedRow numbered{"Outro", "Blue", "Ann", 192, 200, 4};
        track byNumber = incomplete("x.mp3", "Outro");
        byNumber.tracknumber = 4;
        QTest::addRow("number, year and title")
            << QList<StagedRow>{numbered, other} << byNumber << "Blue" << "Ann" << 4;

        const StagedRow playlistRow{"Intro", "Blue", "Ann", 192, 200, 1, "Road Trip"};
        QTest::addRow("playlist row lends the artist but not the album")
            << QList<StagedRow>{playlistRow, other} << live << "Unknown Album" << "Ann" << 1;
        QTest::addRow("empty album and artist are not lent")
            << QList<StagedRow>{{"Intro", "", ""}, other} << live << "Unknown Album" << "Unknown Artist" << 0;
    }

    void matchingRows()
    {
        QFETCH(QList<StagedRow>, rows);
        QFETCH(track, input);
        QFETCH(QString, album);
        QFETCH(QString, artist);
        QFETCH(int, tracknumber);
        QVERIFY(stage(folder, rows));
        const track result = m_library.updatelocalDB(input);
        QCOMPARE(result.albumName, album);
        QCOMPARE(result.hasAlbum, album != input.albumName);
        QCOMPARE(result.artistName, artist);
        QCOMPARE(result.hasArtist, artist != input.artistName);
        QCOMPARE(result.tracknumber, tracknumber);
    }

    void walkStopsOnceComplete()
    {
        const StagedRow second{"Intro", "Blue", "Ann", 320, 200, 7}; // the second rate keeps the folder profile out
        QVERIFY(stage(folder, {{"Intro", "Blue", "Ann"}, second}));
        const track result = m_library.updatelocalDB(incomplete("x.mp3", "Intro"));
        QVERIFY(result.hasTitle && result.hasAlbum && result.hasArtist);
        QCOMPARE(result.tracknumber, 0); // the second row was never read
    }

    void lookupWriteBack_data()
    {
        QTest::addColumn<track>("result");
        QTest::addColumn<int>("rows");
        QTest::addRow("trimmed title in the same folder updates the staged row") << lookedUp("  Intro ") << 2;
        track converted = lookedUp();
        converted.filepath = QStringLiteral("/cache/Blue/Intro.m4a");
        QTest::addRow("a converted track is staged under its original file") << converted << 2;
        QTest::addRow("another title adds a row") << lookedUp("Introduction") << 3;
        track elsewhere = lookedUp();
        elsewhere.folderLocation = QStringLiteral("/music/Green");
        QTest::addRow("another folder adds a row") << elsewhere << 3;
    }

    void lookupWriteBack()
    {
        QFETCH(track, result);
        // Staged by a scan under another path, with nothing known yet; the
        // staged artist "ann" is not the looked-up "Ann".
        QVERIFY(stage(folder, {{"Intro", QString(), QString()}, {"Other", QString(), "ann"}}));
        QVERIFY(exec("UPDATE TrackRepo SET filepath = '/elsewhere/old.mp3', genre = 'Unknown Genre'"));
        QVERIFY(m_library.updateDataFromAPI(result));
        QTEST(count("TrackRepo"), "rows");
        QCOMPARE(scalar("SELECT filepath || '|' || genre || '|' || filesize || '|' || artistname || '|' || albumname "
                        "FROM getTracksRepo WHERE trackname = ? AND folderLocation = ?",
                        {result.trackname.trimmed(), result.folderLocation})
                     .toString(),
                 folder + QStringLiteral("/01.mp3|Rock|5000000000|Ann|Blue"));
    }

    void albumCover_data()
    {
        QTest::addColumn<QString>("album");
        QTest::addColumn<QString>("newCover");
        QTest::addColumn<bool>("replaced");
        QTest::addRow("placeholder keeps the old cover") << "Blue" << shared().noArtworkUrl << false;
        QTest::addRow("missing file keeps the old cover") << "Blue" << QStringLiteral("/nowhere/cover.png") << false;
        QTest::addRow("existing picture replaces it, album matched in any case") << "BLUE" << QStringLiteral("picture")
                                                                                 << true;
    }

    void albumCover()
    {
        QFETCH(QString, album);
        QFETCH(QString, newCover);
        QFETCH(bool, replaced);
        const QString picture = MediaKit(shared::dataFolder() + "/Artwork").picture(QStringLiteral("Blue.png"), 16, 16);
        QVERIFY(exec("INSERT INTO albumsRepo(name, artist_id, cover, year) VALUES ('Blue', 1, '/old/cover.png', 1)"));
        track t = lookedUp();
        t.albumName = album;
        t.cover = newCover == "picture" ? picture : newCover;
        QVERIFY(m_library.updateDataFromAPI(t));
        QCOMPARE(count("albumsRepo"), 1);
        QCOMPARE(scalar("SELECT cover FROM albumsRepo").toString(), replaced ? picture : "/old/cover.png");
    }

    void failedLookupWritesNothing()
    {
        QVERIFY(exec("CREATE TRIGGER refuse BEFORE INSERT ON TrackRepo BEGIN SELECT RAISE(ABORT, 'refused'); END"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Statement failed.*refused"));
        QVERIFY(!m_library.updateDataFromAPI(lookedUp()));
        QCOMPARE(count("artistsRepo") + count("albumsRepo") + count("TrackRepo"), 0);
    }

private:
    ruvoDB m_library;
};

CORVANE_TEST_MAIN(TestLocalTagInference)
#include "tst_localtaginference.moc"
