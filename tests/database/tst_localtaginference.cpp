#include <QtTest>

#include "database/ruvodb.h"
#include "libraryfixture.h"
#include "testenv.h"

using namespace testkit;

namespace {

const QString folder = QStringLiteral("/music/Blue");

// Staged rows of the folder as "title/album/artist[/bit rate/length/number/playlist]; ...";
// a missing album or artist has no row behind its id.
QList<StagedRow> stagedRows(const QString &spec)
{
    QList<StagedRow> rows;
    for (const QString &row : spec.split(QStringLiteral("; "))) {
        const QStringList f = row.split(QLatin1Char('/'));
        rows.append({f[0], f.value(1), f.value(2), f.value(3, "192").toInt(), f.value(4, "200").toInt(),
                     f.value(5).toInt(), f.value(6, "")});
    }
    return rows;
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

// Completing a track from the other staged tracks of its folder, and writing
// a looked-up track back into the staging repository.
class TestLocalTagInference : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(openLibrary()); }
    void cleanupTestCase() { forgetLibrary(); }

    void inference_data()
    {
        QTest::addColumn<QString>("staged");
        QTest::addColumn<QString>("input");  // file[|title|known|track number]; the title is Unknown Song unless given
        QTest::addColumn<QString>("result"); // album|artist|title|track number
        // The folder profile: one album, genre, year and bit rate lend album, artist and the file's name.
        QTest::addRow("Unknown Album plus Blue lends Blue, but two albums lend no artist")
            << "A/Unknown Album/Ann; B/Blue/Ann" << "Intro.mp3" << "Blue|Unknown Artist|Unknown Song|0";
        QTest::addRow("one album lends album, artist and the file's name")
            << "A/Blue/Ann; B/Blue/Ann" << "Intro.mp3" << "Blue|Ann|Intro|0";
        QTest::addRow("an empty album name lends nothing")
            << "A//Ann; B/Blue/Ann" << "Intro.mp3" << "Unknown Album|Unknown Artist|Unknown Song|0";
        QTest::addRow("an empty artist is never lent") << "A/Blue/; B/Blue/" << "Intro.mp3"
                                                       << "Blue|Unknown Artist|Intro|0";
        QTest::addRow("Greatest Compilation lends no artist")
            << "A/Greatest Compilation/Ann" << "Intro.mp3" << "Greatest Compilation|Unknown Artist|Intro|0";
        QTest::addRow("two bit rates lend nothing")
            << "A/Blue/Ann; B/Blue/Ann/320" << "Intro.mp3" << "Unknown Album|Unknown Artist|Unknown Song|0";
        QTest::addRow("unknown in any case, only the suffix goes") << "Other/Blue/Ann" << "A.B.mp3|UNKNOWN"
                                                                   << "Blue|Ann|A.B|0";
        QTest::addRow("Track01.mp3 is no title") << "Other/Blue/Ann" << "Track01.mp3" << "Blue|Ann|Unknown Song|0";
        // A second bit rate keeps the profile out: only rows that look like the same recording lend.
        const QString other = QStringLiteral("; Outro/Green/Bob/320/200/9");
        QTest::addRow("title contained, any case")
            << "Intro/Blue/Ann/192/200/1" + other << "x.mp3|intro (live)|known" << "Blue|Ann|intro (live)|1";
        QTest::addRow("duration and title") << "Same/Blue/Ann/192/123" + other << "x.mp3|Same|known"
                                            << "Blue|Ann|Same|0";
        QTest::addRow("number, year and title") << "Outro/Blue/Ann/192/200/4" + other << "x.mp3|Outro||4"
                                                << "Blue|Ann|Outro|4";
        QTest::addRow("playlist row lends the artist but not the album")
            << "Intro/Blue/Ann/192/200/1/Road Trip" + other << "x.mp3|intro (live)|known"
            << "Unknown Album|Ann|intro (live)|1";
        QTest::addRow("empty album and artist are not lent")
            << "Intro//" + other << "x.mp3|intro (live)|known" << "Unknown Album|Unknown Artist|intro (live)|0";
        QTest::addRow("the walk stops once the track is complete")
            << "Intro/Blue/Ann; Intro/Blue/Ann/320/200/7" << "x.mp3|Intro" << "Blue|Ann|Intro|0";
    }

    void inference()
    {
        QFETCH(QString, staged);
        QFETCH(QString, input);
        QVERIFY(stage(folder, stagedRows(staged)));
        const QStringList in = input.split(QLatin1Char('|'));
        track t = makeTrack(folder + QLatin1Char('/') + in[0], "Unknown Album", "Unknown Artist");
        t.trackname = in.value(1, QStringLiteral("Unknown Song"));
        t.hasTitle = in.value(2) == QLatin1String("known");
        t.tracknumber = in.value(3).toInt();
        t.genre = QStringLiteral("Unknown Genre");
        t.duration = 123;
        const track r = m_library.updatelocalDB(t);
        QTEST(QStringList({r.albumName, r.artistName, r.trackname, QString::number(r.tracknumber)}).join('|'),
              "result");
        QCOMPARE(r.hasAlbum, !r.albumName.startsWith("Unknown"));
        QCOMPARE(r.hasArtist, !r.artistName.startsWith("Unknown"));
        QCOMPARE(r.hasTitle, !r.trackname.startsWith("Unknown"));
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

private:
    ruvoDB m_library;
};

CORVANE_TEST_MAIN(TestLocalTagInference)
#include "tst_localtaginference.moc"
