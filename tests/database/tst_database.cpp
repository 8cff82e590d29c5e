#include <QtTest>

#include <QImage>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QThread>
#include <optional>

#include "core/shared.h"
#include "database/connection.h"
#include "database/database.h"
#include "database/filejournal.h"
#include "database/repositorystager.h"
#include "database/ruvodb.h"
#include "libraryfixture.h"
#include "mediakit.h"
#include "testenv.h"

using namespace testkit;

namespace {

// The three writers of names and covers: the library itself, the scan's
// staging and a saved lookup result (both into the staging repository).
bool write(const QString &writer, const track &t)
{
    if (writer == QLatin1String("library")) // the whole-map writer, which reports a record that failed
        return ruvoDB().insertData(QSqlDatabase(), TrackMap{{1, t}});
    return writer == QLatin1String("lookup") ? ruvoDB().updateDataFromAPI(t) : ruvoDB::insertDataTrackRepo(t);
}

// One data row per writer; "batch" stages during a folder scan.
void writerRows(std::initializer_list<const char *> writers)
{
    QTest::addColumn<QString>("writer");
    for (const char *writer : writers)
        QTest::addRow("%s", writer) << QString::fromLatin1(writer);
}

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

const QString folder = QStringLiteral("/music/Blue");

// Staged rows of the folder as "title/album/artist[/bit rate/length/number/playlist]; ...";
// a missing album or artist has no row behind its id.
QList<StagedRow> stagedRows(const QString &text)
{
    QList<StagedRow> rows;
    for (const QString &row : text.split(QStringLiteral("; "))) {
        const QStringList f = row.split(QLatin1Char('/'));
        rows.append({f[0], f.value(1), f.value(2), f.value(3, "192").toInt(), f.value(4, "200").toInt(),
                     f.value(5).toInt(), f.value(6, "")});
    }
    return rows;
}

} // namespace

// The library file: its layout and connections; the library's own tables and
// the staging repository: writes, the load at start with its clean-up, and
// deletion, which must never reach outside the program's copy folder; and
// completing a track from the other staged tracks of its folder.
class TestDatabase : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        MediaKit kit(shared::dataFolder() + QStringLiteral("/Artwork"));
        m_artwork = kit.picture(QStringLiteral("Blue.png"), 16, 16);
        QVERIFY2(!m_artwork.isEmpty(), qPrintable(kit.lastError()));
    }
    void init() { QVERIFY(openLibrary()); }
    void cleanupTestCase() { forgetLibrary(); }

    void freshFileResetsChoiceAndIsCrashSafe()
    {
        forgetLibrary();
        saveVehicle(3, QStringLiteral("Cedar"), 2, QStringLiteral("2012"));
        // Without create-if-missing no file is made and the choice stays.
        QVERIFY(!Database().connect(QStringLiteral("RuvoData"), false));
        QVERIFY(!QFile::exists(libraryFile()) && !QSqlDatabase::contains(QSqlDatabase::defaultConnection));
        QCOMPARE(savedVehicle().value("ModelName"), "Cedar");
        QVERIFY(openLibrary());
        QCOMPARE(savedVehicle(), (QVariantMap{{"Model", 0}, {"ModelName", "Select"}, {"ModelYearIndex", 0},
                                              {"ModelYearValue", "Select"}}));
        QCOMPARE(scalar("PRAGMA journal_mode").toString(), QStringLiteral("wal"));
        QCOMPARE(scalar("PRAGMA synchronous").toInt(), 2); // FULL: a commit is on the disk when it returns
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
    }

    void olderLayoutGetsMissingColumns()
    {
        QFETCH(QString, missing);
        const QString fresh = layout();
        saveVehicle(3, QStringLiteral("Cedar"), 2, QStringLiteral("2012"));
        QStringList older{"INSERT INTO artists(name) VALUES ('Kept Artist')"};
        for (const QString &column : missing.split(' ', Qt::SkipEmptyParts))
            older << "ALTER TABLE " + column.section('.', 0, 0) + " DROP COLUMN " + column.section('.', 1);
        QVERIFY(makeOlder(older) && reopen());
        QCOMPARE(layout(), fresh);
        QCOMPARE(scalar("SELECT name FROM artists").toString(), QStringLiteral("Kept Artist"));
        QCOMPARE(savedVehicle().value("ModelName"), "Cedar"); // an existing file keeps the vehicle choice
    }

    void stagingTableKeptWithRowsRebuiltEmpty()
    {
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

    void secondConnectKeepsTheConnection()
    {
        // A second start-up style connect must not pull the connection from under
        // a query that still holds it.
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
        constexpr int each = 40;
        std::atomic<int> failures{0};
        auto writer = [&failures](const QString &name) {
            ruvoDB library;
            for (int i = 0; i < each; ++i) {
                const track t = makeTrack(QStringLiteral("/music/%1/%2.mp3").arg(name).arg(i), "Shared Album", name);
                if (!library.insertDataOne(t) || !ruvoDB::insertDataTrackRepo(t) ||
                    !scalar("SELECT 1 FROM tracks").isValid())
                    ++failures;
            }
        };
        const std::unique_ptr<QThread> a(QThread::create(writer, QStringLiteral("a")));
        const std::unique_ptr<QThread> b(QThread::create(writer, QStringLiteral("b")));
        a->start();
        b->start();
        writer(QStringLiteral("gui"));
        QVERIFY(a->wait(60000) && b->wait(60000));
        QCOMPARE(failures.load(), 0);
        QCOMPARE(count("tracks") + count("TrackRepo"), 6 * each);
        QCOMPARE(count("artists"), 3);
        QCOMPARE(count("albums"), 1);
        // The workers' connections closed with their threads.
        QCOMPARE(QSqlDatabase::connectionNames(), QStringList{QString::fromLatin1(QSqlDatabase::defaultConnection)});
    }

    void namesMatchExactly_data()
    {
        // writer table|first name|second name|rows.  Only ASCII letters match in any case.
        QTest::addColumn<QString>("names");
        for (const char *names :
             {"library artists|Guns 'n' Roses|Guns 'n' Roses|1", "library artists|Artist|ARTIST|1",
              "library albums|Side A|SIDE a|1", "library albums|Ελληνικά|ΕΛΛΗΝΙΚΑ|2",
              "library genres|Rock 'n' Roll|Rock 'n' Roll|1", "library genres|Rock|rock|2",
              "staging artistsRepo|Guns N' Roses|Guns N' Roses|1", "staging artistsRepo|Queen|QUEEN|2",
              "staging artistsRepo|Björk Guðmundsdóttir — 坂本龍一|Björk Guðmundsdóttir — 坂本龍一|1",
              "staging albumsRepo|Don't Cry|Don't Cry|1", "staging albumsRepo|Abbey Road|ABBEY ROAD|1",
              "staging albumsRepo|Ελληνικά|ΕΛΛΗΝΙΚΑ|2", "staging genres|Rock|rock|2"})
            QTest::addRow("%s", names) << QString::fromUtf8(names);
    }

    void namesMatchExactly()
    {
        QFETCH(QString, names);
        const QStringList f = names.split(QLatin1Char('|'));
        const QString writer = f[0].section(' ', 0, 0);
        const QString table = f[0].section(' ', 1);
        const int kind = table.startsWith("artists") ? 0 : table.startsWith("albums") ? 1 : 2;
        const char *column = std::array{"artistname", "albumname", "genre"}[kind];
        QString track::*name = std::array{&track::artistName, &track::albumName, &track::genre}[kind];
        track a = makeTrack(QStringLiteral("/music/Ωμέγα/Песня №1.mp3"));
        track b = makeTrack(QStringLiteral("/music/Ωμέγα/Песня №2.mp3"));
        a.*name = f[1];
        b.*name = f[2];
        QVERIFY(write(writer, a) && write(writer, b));
        QCOMPARE(count(table), f[3].toInt());
        // Each track under its own row: the first name, or the second when it got one.
        QCOMPARE(scalar(QStringLiteral("SELECT group_concat(%1 || ' ' || filename, '|') FROM (SELECT * FROM %2 "
                                       "ORDER BY filepath)")
                            .arg(column, writer == "library" ? "getTracks" : "getTracksRepo"))
                     .toString(),
                 f[1] + QStringLiteral(" Песня №1.mp3|") + f[f[3] == "2" ? 2 : 1] + QStringLiteral(" Песня №2.mp3"));
    }

    void oneRowPerFileAndPlaylist_data() { writerRows({"library", "staging"}); }

    void oneRowPerFileAndPlaylist()
    {
        QFETCH(QString, writer);
        track t = makeTrack("/music/it's.mp3");
        QVERIFY(write(writer, t));
        t.trackname = QStringLiteral("Song (remaster)");
        QVERIFY(write(writer, t));
        t.playlist = QStringLiteral("Rock 'n' Roll");
        QVERIFY(write(writer, t) && write(writer, t));
        t.playlist = QStringLiteral("Gym");
        QVERIFY(write(writer, t));
        const QString table = writer == "library" ? "tracks" : "TrackRepo";
        QCOMPARE(count(table), 3);
        // The library replaces the row of a file and playlist; the staging keeps the first.
        QCOMPARE(scalar(QStringLiteral("SELECT trackname FROM %1 WHERE ifnull(playlist, '') = ''").arg(table)),
                 writer == "library" ? "Song (remaster)" : "Song");
    }

    // The staging writes each value as the library's connection binds it:
    // integers past 32 bits, fractions, flags as integers, absent text as ""
    // and text in any script.  "column|its type and value in the row".
    void stagedValuesAsBound_data()
    {
        QTest::addColumn<QString>("writer");
        QTest::addColumn<QString>("column");
        QTest::addColumn<QString>("stored");
        for (const char *writer : {"staging", "batch"}) {
            for (const char *row :
                 {"filesize|integer:5000000123", "duration|real:200.5", "bitrate|integer:320", "tracknumber|integer:7",
                  "IsPodcast|integer:1", "isAudiobook|integer:0", "year|integer:1999",
                  "releaseDate|text:", "codec|text:", "trackname|text:Ωμέγα ♫ 坂本", "genre|text:Rock 'n' Roll",
                  "folderLocation|text:/music/Ωμέγα"}) {
                const QStringList f = QString::fromUtf8(row).split(QLatin1Char('|'));
                QTest::addRow("%s %s", writer, qPrintable(f[0])) << QString::fromLatin1(writer) << f[0] << f[1];
            }
        }
    }

    void stagedValuesAsBound()
    {
        QFETCH(QString, writer);
        QFETCH(QString, column);
        QFETCH(QString, stored);
        track t = makeTrack(QStringLiteral("/music/Ωμέγα/Песня.mp3"));
        t.filesize = 5000000123LL;
        t.duration = 200.5;
        t.bitrate = 320;
        t.tracknumber = 7;
        t.isPodcast = true;
        t.year = 1999;
        t.trackname = QStringLiteral("Ωμέγα ♫ 坂本");
        t.genre = QStringLiteral("Rock 'n' Roll");
        t.ReleaseDate = QString(); // absent
        std::optional<RepositoryStager::Batch> scan;
        if (writer == "batch")
            scan.emplace();
        QVERIFY(write(QStringLiteral("staging"), t));
        scan.reset();
        QCOMPARE(scalar(QStringLiteral("SELECT typeof(%1) || ':' || %1 FROM TrackRepo").arg(column)).toString(),
                 stored);
    }

    // A stored track keeps its row: "what the second store changes | stored".
    // Only the same file and playlist may be stored under the row's id; the
    // row then owns its file (it leaves the journal of unsettled files).
    void storeUnderAnId_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("stored");
        QTest::addRow("a re-store of the same file and playlist") << "title" << true;
        QTest::addRow("another playlist's entry of the file") << "playlist" << false;
        QTest::addRow("another file") << "path" << false;
    }

    void storeUnderAnId()
    {
        QFETCH(QString, change);
        QFETCH(bool, stored);
        track t = makeTrack("/music/one.mp3");
        t.playlist = QStringLiteral("Mix");
        const int id = ruvoDB().storeTrack(t);
        QVERIFY(id > 0);
        track second = t;
        second.id = id;
        if (change == "title")
            second.trackname = QStringLiteral("Renamed");
        else if (change == "playlist")
            second.playlist = QStringLiteral("Road");
        else
            second.filepath = QStringLiteral("/music/two.mp3");
        QVERIFY(FileJournal::note({second.filepath}));
        QCOMPARE(ruvoDB().storeTrack(second), stored ? id : 0);
        QCOMPARE(count("tracks"), 1);
        QCOMPARE(scalar("SELECT filepath || '|' || playlist || '|' || trackname FROM tracks WHERE id = ?", {id})
                     .toString(),
                 stored ? "/music/one.mp3|Mix|Renamed" : "/music/one.mp3|Mix|Song");
        QCOMPARE(count("unsettledFiles"), stored ? 0 : 1);
    }

    // A journalled file keeps its life exactly when a track row names it: the
    // settle after a cut must never take a song that was stored.
    void settleKeepsWhatARowOwns_data()
    {
        QTest::addColumn<bool>("owned");
        QTest::addRow("a journalled file its row names stays") << true;
        QTest::addRow("a journalled file no row names goes") << false;
    }

    void settleKeepsWhatARowOwns()
    {
        QFETCH(bool, owned);
        const QString library = m_dir.filePath(QStringLiteral("owned library %1").arg(owned));
        const QString song = library + "/Album/song.mp3";
        QVERIFY(touch(song));
        QVERIFY(FileJournal::note({song}));
        if (owned) {
            // Stored under a playlist too: the row still names the file.
            track t = makeTrack(song);
            t.playlist = QStringLiteral("Mix");
            QVERIFY(ruvoDB().storeTrack(t) > 0);
            QVERIFY(FileJournal::note({song})); // noted again, as a re-add does
        }
        QCOMPARE(FileJournal::settle(library), owned ? 0 : 1);
        QCOMPARE(QFileInfo(song).isFile(), owned);
        QCOMPARE(count("unsettledFiles"), 0);
    }

    // A large removal is settled in groups of paths: each group's every
    // path, its last too, is settled at once, not at the next start.
    void settleTakesAWholeRemoval_data()
    {
        QTest::addColumn<int>("files");
        QTest::addRow("one group, exactly full") << 256;
        QTest::addRow("three groups, the last of one path") << 513;
    }

    void settleTakesAWholeRemoval()
    {
        QFETCH(int, files);
        const QString library = m_dir.filePath(QStringLiteral("removal of %1").arg(files));
        QStringList songs;
        for (int i = 0; i < files; ++i) {
            songs << library + QStringLiteral("/Album %1/song %2.mp3").arg(i / 20).arg(i);
            QVERIFY(touch(songs.last()));
        }
        QVERIFY(FileJournal::note(songs));
        QCOMPARE(FileJournal::settle(library, songs, true), files);
        for (const QString &song : std::as_const(songs))
            QVERIFY2(!QFileInfo::exists(song), qPrintable(song));
        QCOMPARE(count("unsettledFiles"), 0);
        QVERIFY(QDir(library).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
    }

    // The journal's settle deletes a journalled file no row owns, and never
    // reaches through a linked folder to a file that is another path's.
    void settleNeverThroughALink()
    {
        const QString library = m_dir.filePath("settle library");
        QVERIFY(QDir().mkpath(library + "/Owned"));
        QVERIFY(touch(library + "/Owned/song.mp3"));
        QVERIFY(touch(library + "/Orphan/left.mp3"));
        QVERIFY(QFile::link(library + "/Owned", library + "/Linked"));
        QVERIFY(ruvoDB().storeTrack(makeTrack(library + "/Owned/song.mp3")) > 0);
        QVERIFY(FileJournal::note({library + "/Linked/song.mp3", library + "/Orphan/left.mp3"}));
        QCOMPARE(FileJournal::settle(library), 1);
        QVERIFY(QFileInfo(library + "/Owned/song.mp3").isFile());
        QVERIFY(!QFileInfo::exists(library + "/Orphan/left.mp3"));
        QCOMPARE(count("unsettledFiles"), 0);
    }

    // A library folder reached through a link (a home folder that is one)
    // still has its journalled orphans deleted.
    void settleBelowALinkedFolder()
    {
        const QString real = m_dir.filePath("real home");
        QVERIFY(touch(real + "/library/Orphan/left.mp3"));
        QVERIFY(QFile::link(real, m_dir.filePath("linked home")));
        const QString library = m_dir.filePath("linked home/library");
        QVERIFY(FileJournal::note({library + "/Orphan/left.mp3"}));
        QCOMPARE(FileJournal::settle(library), 1);
        QVERIFY(!QFileInfo::exists(real + "/library/Orphan/left.mp3"));
        QCOMPARE(count("unsettledFiles"), 0);
    }

    void albumCover_data()
    {
        // Tracks written in turn by the writer the row starts with, as
        // album:picture; "none" is the placeholder, a picture named missing*
        // doesn't exist.  Then every album's cover.
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("covers");
        QTest::addRow("library: only an album's own picture")
            << "Blue:Blue.png; Green:Blue.png; Green:Blue.png" << "Blue:Blue.png; Green:none";
        QTest::addRow("library: an Unknown album found again loses its picture")
            << "Unknown Album:Unknown Album.png; Unknown Album:Unknown Album.png" << "Unknown Album:none";
        QTest::addRow("staging: a new album takes only its own picture")
            << "Blue:Blue.png; Green:Blue.png" << "Blue:Blue.png; Green:none";
        QTest::addRow("staging: a missing file or the placeholder keeps the cover")
            << "Blue:Blue.png; Blue:missing/Blue.png; Blue:none" << "Blue:Blue.png";
        QTest::addRow("staging: the latest existing picture replaces it") << "Blue:Blue.png; blue:Blue2.png"
                                                                          << "Blue:Blue2.png";
        QTest::addRow("staging: an Unknown album keeps no picture")
            << "Unknown Album:Unknown Album.png; Unknown Album:Unknown Album.png" << "Unknown Album:none";
        QTest::addRow("lookup: a missing file or the placeholder keeps the cover")
            << "Blue:Blue.png; BLUE:missing/Blue.png; Blue:none" << "Blue:Blue.png";
        QTest::addRow("lookup: an existing picture replaces it, album matched in any case")
            << "Blue:Blue.png; BLUE:Green.png" << "Blue:Green.png";
    }

    void albumCover()
    {
        const QString writer = QString::fromLatin1(QTest::currentDataTag()).section(':', 0, 0);
        QFETCH(QString, steps);
        QFETCH(QString, covers);
        const auto picture = [this](const QString &name) {
            if (name == "none")
                return shared().noArtworkUrl;
            if (!name.startsWith("missing"))
                touch(m_dir.filePath(name), "png");
            return m_dir.filePath(name);
        };
        for (const QString &step : steps.split("; ")) {
            track t = makeTrack(QStringLiteral("/music/%1.mp3").arg(count("tracks") + count("TrackRepo")),
                                step.section(':', 0, 0));
            t.trackname = t.filename;
            t.cover = picture(step.section(':', 1));
            QVERIFY2(write(writer, t), qPrintable(step));
        }
        const QString table = writer == "library" ? "albums" : "albumsRepo";
        for (const QString &expected : covers.split("; ")) {
            const QString cover = picture(expected.section(':', 1));
            QCOMPARE(scalar("SELECT cover FROM " + table + " WHERE name = ?", {expected.section(':', 0, 0)}).toString(),
                     cover);
            if (writer == "library") // the picture itself goes with it
                QCOMPARE(QByteArray::fromBase64(scalar("SELECT coverdata FROM albums WHERE cover = ?", {cover})
                                                    .toByteArray()),
                         cover == shared().noArtworkUrl ? QByteArray() : QByteArray("png"));
        }
        QCOMPARE(count(table), covers.count(';') + 1);
    }

    void refusedWriteLeavesNothing_data() { writerRows({"library", "staging", "batch", "lookup"}); }

    void refusedWriteLeavesNothing()
    {
        QFETCH(QString, writer);
        const QString table = writer == "library" ? "tracks" : "TrackRepo"; // refuses the track
        QVERIFY(write(writer, makeTrack("/music/a.mp3")));
        QVERIFY(exec(QStringLiteral("CREATE TEMP TRIGGER refuse BEFORE INSERT ON %1 WHEN NEW.trackname = 'New' "
                                    "BEGIN SELECT RAISE(ABORT, 'refused'); END")
                         .arg(table)));
        track t = makeTrack("/music/b.mp3", "New Album", "New Artist");
        t.trackname = t.genre = QStringLiteral("New");
        t.year = 1999;
        std::optional<RepositoryStager::Batch> scan;
        if (writer == "batch")
            scan.emplace();
        QVERIFY(!write(writer, t));
        scan.reset(); // the scan's batch commits
        const QString repo = writer == "library" ? "" : "Repo";
        QCOMPARE(count("artists" + repo + " WHERE name = 'New Artist'")
                     + count("albums" + repo + " WHERE name = 'New Album'") + count("genres WHERE genre = 'New'")
                     + count("years WHERE year = 1999"),
                 0);
        QCOMPARE(count(table), 1);
        // The connection is usable again afterwards.
        QVERIFY(exec("DROP TRIGGER refuse"));
        QVERIFY(write(writer, t));
        QCOMPARE(count(table), 2);
    }

    // A commit can fail after each record's statements went through (here a
    // deferred foreign key): then none of the batch's records was staged.
    void failedBatchCommitReportsEveryRecord()
    {
        QVERIFY(exec("PRAGMA foreign_keys = ON"));
        QVERIFY(exec("CREATE TABLE needs(artist REFERENCES artistsRepo(id) DEFERRABLE INITIALLY DEFERRED)"));
        QVERIFY(exec("CREATE TEMP TRIGGER dangling AFTER INSERT ON TrackRepo BEGIN INSERT INTO needs VALUES (7); END"));
        RepositoryStager::Batch batch;
        QVERIFY(ruvoDB::insertDataTrackRepo(makeTrack("/m/a.mp3")));
        QVERIFY(ruvoDB::insertDataTrackRepo(makeTrack("/m/b.mp3")));
        QVERIFY(!RepositoryStager::commitOpenBatch());
        QCOMPARE(batch.notStaged(), QStringList({"/m/a.mp3", "/m/b.mp3"}));
        QCOMPARE(count("TrackRepo"), 0);
    }

    void loadForgetsGoneFilesKeepsUnpluggedDrives()
    {
        // A file gone from its folder is forgotten with the rows only it used; a
        // file whose folder is gone too (an unplugged drive) keeps its row.
        const QString videoPath = m_dir.filePath("clip.mp4");
        const QString audioPath = m_dir.filePath("song.mp3");
        const QString gone = m_dir.filePath("gone.mp3");
        const QString unplugged = m_dir.filePath("drive/Music/a.mp3");
        QVERIFY(touch(videoPath) && touch(audioPath) && touch(gone));
        track video = makeTrack(videoPath, "Clips");
        video.isVideo = true;
        video.cover = QStringLiteral("/thumbs/clip.png");
        video.filesize = Q_INT64_C(3221225472); // 3 GiB
        video.playlist = QStringLiteral("Road Trip");
        track lost = makeTrack(gone, "Lost Album", "Lost Artist");
        lost.genre = QStringLiteral("Lost Genre");
        lost.year = 1999;
        for (const track &t : {video, makeTrack(audioPath, "Clips"), lost, makeTrack(unplugged, "Clips")})
            QVERIFY(m_library.insertDataOne(t));
        QVERIFY(exec("UPDATE tracks SET VideoImage = '/thumbs/stray.png' WHERE isVideo = 0"));
        QVERIFY(exec("UPDATE tracks SET artist_id = 99 WHERE filepath = ?", {audioPath})); // its artist row is lost
        QVERIFY(QFile::remove(gone));

        const TrackMap loaded = m_library.loadDB();
        QCOMPARE(loaded.size(), 2);
        QCOMPARE(count("tracks"), 3);
        for (const QString table : {"albums", "artists", "genres", "years"})
            QVERIFY2(count(table) == 1, qPrintable(table));
        const track v = loaded.first();
        QCOMPARE(loaded.firstKey(), v.id);
        QVERIFY(v.isVideo && v.album_id > 0 && v.playlist_id == v.album_id);
        QCOMPARE(v.cover, QStringLiteral("/thumbs/clip.png"));
        QCOMPARE(v.filesize, Q_INT64_C(3221225472));
        const track a = loaded.last();
        QCOMPARE(a.cover, shared().noArtworkUrl); // an audio track's cover is its album's
        QCOMPARE(a.playlist_id, 0);
        QCOMPARE(a.quality, 1); // 192 kbit/s: the class is set at load
        QCOMPARE(a.artistName + '|' + a.albumName + '|' + a.genre, QStringLiteral("|Clips|Rock"));

        QVERIFY(touch(unplugged)); // plugged in again
        QCOMPARE(m_library.loadDB().size(), 3);
    }

    void coverWrittenBackOnlyWhenMissing()
    {
        const QString lost = shared::dataFolder() + QStringLiteral("/Artwork/Lost.png");
        const QString present = shared::dataFolder() + QStringLiteral("/Artwork/Present.jpg");
        const QString outside = m_dir.filePath("Corvane-Media-Organiser/Artwork/Escape.png");
        const QString climbing = shared::dataFolder() + QStringLiteral("/../Climb.png");
        QVERIFY(touch(present, "not rewritten"));
        QFile picture(m_artwork);
        QVERIFY(picture.open(QIODevice::ReadOnly));
        const QString data = QString::fromLatin1(picture.readAll().toBase64());
        for (const QString &cover : {lost, present, outside, climbing})
            QVERIFY(exec("INSERT INTO albums(name, artist_id, cover, coverdata, year) VALUES ('x', 1, ?, ?, 0)",
                         {cover, data}));

        QVERIFY(m_library.createArtwork());
        QCOMPARE(QImage(lost), QImage(m_artwork));
        QFile file(present);
        QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll() == "not rewritten");
        QVERIFY(!QFile::exists(outside) && !QFile::exists(climbing));
    }

    void deletionStaysInTheCopyFolder()
    {
        const QString root = ruvoDB::programCopyFolder();
        const QString folder = root + QStringLiteral("/Album");
        QVERIFY(touch(folder + "/01.mp3") && touch(folder + "/02.mp3") && touch(folder + "/Disc 2/b.mp3"));
        QVERIFY(m_library.insertDataOne(makeTrack(folder + "/01.mp3")));

        QVERIFY(!m_library.deleteTrack(QSqlDatabase(), folder + "/01.mp3"));
        QVERIFY(!QFile::exists(folder + "/01.mp3"));
        QCOMPARE(count("tracks"), 0);
        // A folder holding only another folder stays, with what that holds.
        QVERIFY(!m_library.deleteTrack(QSqlDatabase(), folder + "/02.mp3"));
        QVERIFY(QFile::exists(folder + "/Disc 2/b.mp3"));
        // Emptied folders go bottom-up, the copy folder itself stays.
        QVERIFY(m_library.deleteTrack(QSqlDatabase(), folder + "/Disc 2/b.mp3"));
        QVERIFY(!QDir(folder).exists());
        QVERIFY(QDir(root).exists());

        // A file outside the copy folder loses its row; the file stays, untouched.
        for (const QString &path : {m_dir.filePath("Corvane Media Organiser/Album/a.mp3"),
                                    shared::dataFolder() + "/Music/Corvane Media Organiser backup/Album/a.mp3",
                                    root + "/../Escaped Album/a.mp3"}) {
            QVERIFY(touch(path) && m_library.insertDataOne(makeTrack(path)));
            QVERIFY(!m_library.deleteTrack(QSqlDatabase(), path));
            QVERIFY2(QFileInfo(path).isWritable(), qPrintable(path));
        }
        QCOMPARE(count("tracks"), 0);

        const QString precious = m_dir.filePath("precious");
        QVERIFY(touch(precious + "/a.mp3") && touch(root + "/Deep/Disc 1/01.mp3"));
        QVERIFY(QDir().mkpath(root + "/Linked"));
        QVERIFY(QFile::link(precious + "/a.mp3", root + "/Linked/a.mp3"));
        QVERIFY(QFile::link(precious, root + "/Door"));

        // A link is no program copy: deleting through it takes the link at most.
        m_library.deleteTrack(QSqlDatabase(), root + "/Linked/a.mp3");
        m_library.deleteTrack(QSqlDatabase(), root + "/Door/a.mp3");
        QVERIFY(!m_library.removeDir(root + "/Door"));
        QVERIFY(QFile::exists(precious + "/a.mp3"));
        QVERIFY(QFileInfo(root + "/Linked/a.mp3").isSymLink()); // no copy: its folder isn't empty either
        QVERIFY(QFile::remove(root + "/Door"));

        // Only folders strictly below the copy folder go, links inside them unfollowed.
        for (const QString &outer : {root, m_dir.path(), shared::dataFolder()})
            QVERIFY2(!m_library.removeDir(outer), qPrintable(outer));
        QVERIFY(QFile::exists(root + "/Deep/Disc 1/01.mp3"));
        QVERIFY(QFile::link(precious, root + "/Deep/Disc 1/door"));
        QVERIFY(m_library.removeDir(root + "/Deep"));
        QVERIFY(!QFileInfo::exists(root + "/Deep"));
        QVERIFY(QFile::exists(precious + "/a.mp3"));
    }

    void inference_data()
    {
        QTest::addColumn<QString>("staged");
        QTest::addColumn<QString>("input");  // file[|title|known|track number]; the title is Unknown Song unless given
        QTest::addColumn<QString>("result"); // album|artist|title|track number, - where nothing was lent
        // The folder profile: one album, genre, year and bit rate lend album, artist and the file's name.
        QTest::addRow("Unknown Album plus Blue lends Blue, but two albums lend no artist")
            << "A/Unknown Album/Ann; B/Blue/Ann" << "Intro.mp3" << "Blue|-|-|0";
        QTest::addRow("an empty album name lends nothing") << "A//Ann; B/Blue/Ann" << "Intro.mp3" << "-|-|-|0";
        QTest::addRow("an empty artist is never lent") << "A/Blue/; B/Blue/" << "Intro.mp3" << "Blue|-|Intro|0";
        QTest::addRow("Greatest Compilation lends no artist")
            << "A/Greatest Compilation/Ann" << "Intro.mp3" << "Greatest Compilation|-|Intro|0";
        QTest::addRow("two bit rates lend nothing") << "A/Blue/Ann; B/Blue/Ann/320" << "Intro.mp3" << "-|-|-|0";
        QTest::addRow("unknown in any case, the suffix goes") << "O/Blue/Ann" << "A.B.mp3|UNKNOWN" << "Blue|Ann|A.B|0";
        QTest::addRow("Track01.mp3 is no title") << "Other/Blue/Ann" << "Track01.mp3" << "Blue|Ann|-|0";
        // A second bit rate keeps the profile out: only rows that look like the same recording lend.
        const QString other = QStringLiteral("; Outro/Green/Bob/320/200/9");
        const QString live = QStringLiteral("x.mp3|intro (live)|known");
        QTest::addRow("title contained, any case") << "Intro/Blue/Ann/192/200/1" + other << live << "Blue|Ann|-|1";
        // A one-letter title is never found inside another.
        QTest::addRow("duration and title") << "X/Blue/Ann/192/123" + other << "x.mp3|X|known" << "Blue|Ann|-|0";
        QTest::addRow("number, year and title") << "X/Blue/Ann/192/200/4" + other << "x.mp3|X||4" << "Blue|Ann|X|4";
        QTest::addRow("playlist row lends the artist but not the album")
            << "Intro/Blue/Ann/192/200/1/Road Trip" + other << live << "-|Ann|-|1";
        QTest::addRow("empty album and artist are not lent") << "Intro//" + other << live << "-|-|-|0";
        QTest::addRow("the walk stops once the track is complete")
            << "Intro/Blue/Ann; Intro/Blue/Ann/320/200/7" << "x.mp3|Intro" << "Blue|Ann|-|0";
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
        QFETCH(QString, result);
        QStringList expected = result.split('|');
        const QStringList was{t.albumName, t.artistName, t.trackname};
        for (int i = 0; i < was.size(); ++i)
            expected[i] = expected[i] == "-" ? was[i] : expected[i];
        QCOMPARE(QStringList({r.albumName, r.artistName, r.trackname, QString::number(r.tracknumber)}), expected);
        QCOMPARE(r.hasAlbum, !r.albumName.startsWith("Unknown"));
        QCOMPARE(r.hasArtist, !r.artistName.startsWith("Unknown"));
        QCOMPARE(r.hasTitle, !r.trackname.startsWith("Unknown"));
    }

    void lookupWriteBack_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("location");
        QTest::addColumn<QString>("converted"); // the file the lookup worked on, when not the original
        QTest::addColumn<int>("rows");
        QTest::addRow("trimmed title in the same folder updates the staged row") << "  Intro " << folder << "" << 2;
        QTest::addRow("a converted track is staged under its original file")
            << "Intro" << folder << "/cache/Blue/Intro.m4a" << 2;
        QTest::addRow("another title adds a row") << "Introduction" << folder << "" << 3;
        QTest::addRow("another folder adds a row") << "Intro" << "/music/Green" << "" << 3;
    }

    void lookupWriteBack()
    {
        // Staged by a scan under another path, with nothing known yet; the
        // staged artist "ann" is not the looked-up "Ann".
        QVERIFY(stage(folder, {{"Intro", QString(), QString()}, {"Other", QString(), "ann"}}));
        QVERIFY(exec("UPDATE TrackRepo SET filepath = '/elsewhere/old.mp3', genre = 'Unknown Genre'"));
        QFETCH(QString, title);
        QFETCH(QString, location);
        QFETCH(QString, converted);
        track result = makeTrack(folder + QStringLiteral("/01.mp3"), "Blue", "Ann");
        result.trackname = title;
        result.folderLocation = location;
        result.filepath = converted.isEmpty() ? result.filepath : converted;
        result.filesize = Q_INT64_C(5000000000);
        QVERIFY(m_library.updateDataFromAPI(result));
        QTEST(count("TrackRepo"), "rows");
        QCOMPARE(scalar("SELECT filepath || '|' || genre || '|' || filesize || '|' || artistname || '|' || albumname "
                        "FROM getTracksRepo WHERE trackname = ? AND folderLocation = ?",
                        {title.trimmed(), location})
                     .toString(),
                 folder + QStringLiteral("/01.mp3|Rock|5000000000|Ann|Blue"));
    }

private:
    QTemporaryDir m_dir;
    QString m_artwork;
    ruvoDB m_library;
};

CORVANE_TEST_MAIN(TestDatabase)
#include "tst_database.moc"
