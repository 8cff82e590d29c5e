#include <QtTest>

#include <QProcess>
#include <QStorageInfo>
#include <QSqlQuery>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/albumdatamodel.h"
#include "app/libraryadder.h"
#include "core/workguard.h"
#include "app/libraryindex.h"
#include "app/manager.h"
#include "app/messagehandler.h"
#include "core/shared.h"
#include "database/database.h"
#include "database/ruvodb.h"
#include "delivery/ffmpeghandler.h"
#include "libraryconsistency.h"
#include "libraryfixture.h"
#include "mediakit.h"
#include "platform/externalprogram.h"
#include "testenv.h"

// The add chain: the plan (ids, duplicates, targets), the copies with their
// rows, full volumes, cancel, a killed copy, and a whole add with real media.

namespace {

// "id|path|album|bitrate|cover|playlist|video|artist|album id": a track of
// the library or, with the browser key as id, of the choice.  "L" stands for
// the library folder in paths.  The album id is also the artist's and, for a
// playlist entry, the playlist's.
track parse(const QString &fields)
{
    const QStringList f = fields.split('|');
    track t;
    t.id = f.value(0).toInt();
    // Only a leading "L/": a temporary folder's random name may end in "L".
    t.filepath = f.value(1).startsWith(QLatin1String("L/")) ? ruvoDB::programCopyFolder() + f.value(1).mid(1)
                                                            : f.value(1);
    t.albumName = f.value(2);
    t.bitrate = f.value(3).toInt();
    t.cover = f.value(4);
    t.playlist = f.value(5);
    t.isVideo = f.value(6) == QLatin1String("v");
    t.artistName = f.value(7, QStringLiteral("Artist"));
    t.album_id = t.artist_id = f.size() > 8 ? f[8].toInt() : 100 + t.id;
    t.playlist_id = t.playlist.isEmpty() ? 0 : t.album_id;
    t.filename = QFileInfo(t.filepath).fileName();
    t.trackname = t.filename;
    t.duration = 61.7;
    return t;
}

TrackMap mapOf(const QStringList &rows)
{
    TrackMap map;
    for (const QString &s : rows) {
        const track t = parse(s);
        map.insert(t.id, t);
    }
    return map;
}

QStringList summary(const TrackMap &library)
{
    QStringList out;
    for (const track &t : library) {
        const QString path = QString(t.filepath).replace(ruvoDB::programCopyFolder() + '/', "L/");
        out << QStringLiteral("%1:%2:%3").arg(t.id).arg(path, t.cover);
    }
    return out;
}

// One copy into `album` of the library for each source.
QList<LibraryAdder::CopyItem> copyItems(const QStringList &sources, const QString &album)
{
    QList<LibraryAdder::CopyItem> items;
    int id = ruvoDB::reserveTrackIds(int(sources.size()));
    for (const QString &source : sources) {
        const QString target = LibraryAdder::GenerateCopyPath(album, source);
        track t = testkit::makeTrack(target, album);
        t.id = id++;
        items << LibraryAdder::CopyItem{{t}, source, target, QFileInfo(source).size()};
    }
    return items;
}

} // namespace

class TestLibraryAdder : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY(testkit::openLibrary());
        LibraryAdder::setOnlineOverride(false);
    }

    void cleanup() { LibraryAdder::setAvailableBytesFunction({}); }

    // "library; chosen; the library afterwards; processing ids; copies; ticked ids",
    // lists separated by commas; chosen videos make it a videos add.
    void plan_data()
    {
        QTest::addColumn<QString>("fields");
        QTest::addRow("an empty library gives id 1") << "; 5|/src/a.mp3|A|192; 1:L/A/a.mp3:; 1; 1; 1";
        QTest::addRow("a file already in the library is skipped, its new id still ticked")
            << "1|/src/a.mp3|A|192; 5|/src/a.mp3|A|192; 1:/src/a.mp3:; ; 0; 2";
        QTest::addRow("a higher bit rate at the same target replaces")
            << "1|L/A/a.mp3|A|128; 5|/new/a.mp3|A|320; 2:L/A/a.mp3:; 2; 1; 2";
        QTest::addRow("an equal bit rate never replaces")
            << "1|L/A/a.mp3|A|192; 5|/new/a.mp3|A|192; 1:L/A/a.mp3:; ; 0; 2";
        QTest::addRow("the placeholder cover is taken over by a skipped track")
            << "1|L/A/a.mp3|A|320|qrc:/no_artwork.png; 5|/new/a.mp3|A|128|/c.jpg; 1:L/A/a.mp3:/c.jpg; ; 0; 2";
        QTest::addRow("an album of reserved characters goes to Unknown Album")
            << "; 5|/src/a.mp3| ?.: |192; 1:L/Unknown Album/a.mp3:; 1; 1; 1";
        QTest::addRow("two chosen with one target: the better stays and is copied once")
            << "; 1|/x/a.mp3|A|128, 2|/y/a.mp3|A|320; 2:L/A/a.mp3:; 2; 1; 1, 2";
        QTest::addRow("another artist's album of that name: a file of its own")
            << "1|L/Hits/a.mp3|Hits|128||||X; 5|/new/a.mp3|Hits|320||||Y; 1:L/Hits/a.mp3:, 2:L/Hits/a (2).mp3:; 2; 1; "
               "2";
        QTest::addRow("albums whose names clean to one folder (and double quotes) keep both songs")
            << "; 1|/x/a.mp3|\"Hits!\"|128, 2|/y/a.mp3|Hits?|320; 1:L/Hits/a.mp3:, 2:L/Hits/a (2).mp3:; 1, 2; 2; 1, 2";
        QTest::addRow("one song in two ticked playlists: two entries, one copy")
            << "; 1|/x/a.mp3|A|192||Mix, 2|/x/a.mp3|A|192||Road; 1:L/A/a.mp3:, 2:L/A/a.mp3:; 1; 1; 1, 2";
        QTest::addRow("a file no track owns is not overwritten")
            << "; 5|/src/own.mp3|A|192; 1:L/A/own (2).mp3:; 1; 1; 1";
        QTest::addRow("videos get processing ids and stay out of the library")
            << "9|/m/z.mp3|Z|128; 7|/v/a.mp4|A|500|||v, 8|/v/b.mp4|B|500|||v; 9:/m/z.mp3:; 1, 2; 0; 10, 8";
    }

    void plan()
    {
        QFETCH(QString, fields);
        QList<QStringList> f;
        QList<QList<int>> ids;
        for (const QString &part : fields.split(';')) {
            f << part.trimmed().split(',', Qt::SkipEmptyParts);
            ids << QList<int>();
            for (QString &item : f.last())
                ids.last() << (item = item.trimmed()).toInt();
        }
        QVERIFY(testkit::touch(ruvoDB::programCopyFolder() + "/A/own.mp3"));
        LibraryAdder::PlanInput input;
        input.libraryTracks = mapOf(f[0]);
        input.chosenTracks = mapOf(f[1]);
        const bool videos = fields.contains(QLatin1String("|v"));
        input.mediaTypeFilter = videos ? 4 : 0;
        input.checkedTrackIds = input.chosenTracks.keys();
        input.firstTrackId = LibraryIndex(input.libraryTracks).nextTrackId();
        std::atomic<bool> stop{false};
        const LibraryAdder::AddPlan plan = LibraryAdder::addToMainObjectthread(input, stop);

        TrackMap after = input.libraryTracks;
        for (const track &t : plan.removedLibraryTracks)
            after.remove(t.id);
        for (const auto &cover : plan.coverUpdates)
            after[cover.first].cover = cover.second;
        for (const track &t : plan.addedLibraryTracks)
            after.insert(t.id, t);
        QCOMPARE(summary(after), f[2]);
        QCOMPARE(plan.processingTracks.keys(), ids[3]);
        QCOMPARE(int(plan.copyTargets.size()), ids[4].value(0));
        QCOMPARE(plan.checkedTrackIds, ids[5]);
        // A video gets a row of whole seconds.
        for (const auto &row : plan.videoRows)
            QCOMPARE(row.duration, 61);
        QCOMPARE(plan.videoRows.size(), videos ? 2 : 0);
    }

    // "kind|asked|expected": ids by a(rtist), b (album) and p(laylist) name, t(rack)
    // id by path, d(uplicate) "path|playlist id|playlist", n(ext) track id, from
    // the library index built through adds in falling id order and removes of
    // tracks that would answer first.
    void lookups_data()
    {
        QTest::addColumn<QString>("row");
        for (const char *row :
             {"a|Miles Davis|30", "a|A|3", "a|miles davis|70001", "b|BLUE train|30", "b|КИНО|12", "b|New|70001",
              "p|Road Trip|40000", "p|road trip|40001", "t|/m/bigger.mp3|70000", "t|/m/BIG.mp3|70001",
              "d|/m/plain.mp3|0||5", "d|/m/plain.mp3|3|Mix|0", "d|/m/listed.mp3|0||0", "d|/m/listed.mp3|3|Mix|6",
              "d|/m/both.mp3|0||7", "d|/m/both.mp3|3|Mix|8", "n||70001"})
            QTest::newRow(row) << QString::fromUtf8(row);
    }

    void lookups()
    {
        const TrackMap library = mapOf(
            {"5|/m/plain.mp3|Blue Train|||||Miles Davis|30", "6|/m/listed.mp3|Mix|||Mix||A|3",
             "7|/m/both.mp3|Кино|||||A|12", "8|/m/both.mp3|Mix|||Mix||B|3",
             "40000|/m/big.mp3|Big Album|||Road Trip||Big|40000", "70000|/m/bigger.mp3|Bigger Album|||||Bigger|70000"});
        const TrackMap gone = mapOf({"1|/m/plain.mp3|Blue Train|||Road Trip||Miles Davis|99",
                                     "90000|/m/BIG.mp3|new|||road trip||miles davis|90000"});
        LibraryIndex index(gone);
        const QList<track> tracks = library.values();
        for (auto t = tracks.crbegin(); t != tracks.crend(); ++t)
            index.add(*t);
        for (const track &t : gone)
            index.remove(t);
        QFETCH(QString, row);
        const QStringList f = row.split('|');
        const int expected = f.last().toInt();
        const QString &asked = f[1];
        switch (f[0][0].toLatin1()) {
        case 'a':
            QCOMPARE(index.artistId(asked), expected);
            break;
        case 'b':
            QCOMPARE(index.albumId(asked), expected);
            break;
        case 'p':
            QCOMPARE(index.playlistId(asked), expected);
            break;
        case 't': // the map walk gives the next id for a path it hasn't got
            QCOMPARE(index.trackIdByPath(asked), expected == 70001 ? 0 : expected);
            QCOMPARE(manager::getTrackID(library, asked), expected);
            break;
        case 'd':
            QCOMPARE(index.duplicate(asked, f[2].toInt(), f[3]), expected);
            break;
        default:
            QCOMPARE(index.nextTrackId(), expected);
            QCOMPARE(manager::getTrackID(library, QString()), expected);
            // An empty library starts at 1; the processing list counts its ids, not its keys.
            QCOMPARE(LibraryIndex().nextTrackId() + LibraryIndex().artistId("A") + LibraryIndex().albumId("A"), 3);
            const TrackMap processing{{1, parse("40000")}, {50000, parse("3")}};
            QCOMPARE(manager::getTrackIDVideo(processing), 40001);
        }
    }

    // "available bytes (-1: the volume as it is), missing source, stop after the first, tmpfs (two 700 KiB
    // files onto a 1 MiB volume), files stored (-1: some, not all; -2: not all), disk full"
    void copy_data()
    {
        QTest::addColumn<QList<qint64>>("fields");
        QTest::addRow("each file copied, then its row; a name of 250 bytes too") << QList<qint64>{-1, 0, 0, 0, 12, 0};
        QTest::addRow("a volume without room stops before the copy") << QList<qint64>{1000, 0, 0, 0, 0, 1};
        // Twelve files of 20,000 bytes: the room is the add's whole budget
        // beside the reserve an add leaves free on the data folder's volume
        // (of more than 6.4 GB here): 1% of it, at most 64 MiB.
        const qint64 reserve = qint64(64) << 20;
        QTest::addRow("the last file exactly fits the room left: all copied")
            << QList<qint64>{12 * 20000 + reserve, 0, 0, 0, 12, 0};
        QTest::addRow("one byte short: the last file is not begun")
            << QList<qint64>{12 * 20000 + reserve - 1, 0, 0, 0, 11, 1};
        QTest::addRow("a failed copy writes no row and goes on") << QList<qint64>{-1, 1, 0, 0, 11, 0};
        QTest::addRow("cancel stops after the files in hand") << QList<qint64>{-1, 0, 1, 0, -1, 0};
        // Four files of the KiB given onto a 2 MiB tmpfs.  The data folder's
        // volume is the one asked, once; each copy begun is counted once.
        QTest::addRow("tmpfs free space stops the add before a copy that can't fit")
            << QList<qint64>{-1, 0, 0, 700, 2, 1};
        QTest::addRow("tmpfs where everything fits takes everything") << QList<qint64>{-1, 0, 0, 450, 4, 0};
        // Four would fit, but not beside the room an add leaves free (1%).
        QTest::addRow("tmpfs keeps its reserve free") << QList<qint64>{-1, 0, 0, 508, 3, 1};
        // Four fit beside the 1% (21 KB of 2 MiB), with 80 KB to spare.
        QTest::addRow("tmpfs keeps no more free than its reserve") << QList<qint64>{-1, 0, 0, 490, 4, 0};
        // The volume claims room it hasn't got: the write fails on its own.
        QTest::addRow("tmpfs write running out of room stops the add") << QList<qint64>{1LL << 40, 0, 0, 700, -2, 1};
    }

    void copy()
    {
        QFETCH(QList<qint64>, fields);
        const qint64 available = fields[0];
        const bool missingSource = fields[1], stopAfterFirst = fields[2], tmpfs = fields[3] > 0;
        if (tmpfs && geteuid() != 0)
            QSKIP("mounting a small volume needs root");
        if (available >= 12 * 20000 && available < (1LL << 40) &&
            QStorageInfo(dir.path()).bytesTotal() < 100 * (qint64(64) << 20))
            QSKIP("the rows' figures are those of a volume of more than 6.4 GB");
        const QString tag = QString(QTest::currentDataTag()).left(12).replace(' ', '_');
        if (available >= 0)
            LibraryAdder::setAvailableBytesFunction([available](const QString &) { return available; });
        QStringList sources;
        for (int i = 0; i < (tmpfs ? 4 : 12); ++i) {
            const QString name = i == 11 ? QString(246, 'n') : QString::number(i);
            sources << dir.filePath(QStringLiteral("src-%1/%2.mp3").arg(tag, name));
            QVERIFY(testkit::touch(sources.last(), QByteArray(tmpfs ? fields[3] * 1024 : 20000, 'a' + i)));
        }
        QList<LibraryAdder::CopyItem> items = copyItems(sources, "Copy " + tag);
        // One song in two lists: one file, two rows.
        items[0].records << items[0].records.first();
        items[0].records.last().playlist = "Mix";
        items[0].records.last().id = ruvoDB::reserveTrackIds(1);
        const QString folder = QFileInfo(items[0].target).absolutePath();
        const QByteArray mountPoint = QFile::encodeName(folder);
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(!tmpfs || ::mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=2m") == 0);
        auto unmount = qScopeGuard([&] {
            if (tmpfs)
                ::umount2(mountPoint.constData(), MNT_DETACH);
        });
        if (missingSource)
            QVERIFY(QFile::remove(sources.first()));
        // An older copy at the second target is replaced only by a complete one.
        QVERIFY(testkit::touch(items[1].target, "old"));
        std::atomic<bool> stop{false};
        if (stopAfterFirst) {
            // Cancelled once the first copy is under way (the volume is asked
            // about once, just before it): whatever the threads' pace.
            LibraryAdder::setAvailableBytesFunction([&stop](const QString &) {
                stop = true;
                return qint64(1) << 40;
            });
        }
        const auto result = LibraryAdder::CopyPath(items, {}, stop);
        QCOMPARE(result.diskFull, bool(fields[5]));
        // A copy that can't fit is not begun.
        QCOMPARE(result.failedTargets.isEmpty(), available != 1LL << 40 && !missingSource);
        const int stored = int(fields[4]);
        if (stored >= 0)
            QCOMPARE(int(result.copiedTargets.size()), stored);
        else
            QVERIFY(result.copiedTargets.size() < items.size() && (stored == -2 || !result.copiedTargets.isEmpty()));
        // What is there is whole and has its row; nothing else is there, no partial file either.
        QStringList present{QFileInfo(items[1].target).fileName()};
        for (const auto &item : items) {
            const bool copied = result.copiedTargets.contains(item.target);
            const int rows = testkit::scalar("SELECT count(*) FROM tracks WHERE filepath = ?", {item.target}).toInt();
            QCOMPARE(rows, copied ? int(item.records.size()) : 0);
            if (copied) {
                QCOMPARE(QFileInfo(item.target).size(), item.size);
                present << QFileInfo(item.target).fileName();
            }
        }
        if (!result.copiedTargets.contains(items[1].target))
            QCOMPARE(QFileInfo(items[1].target).size(), 3);
        present.removeDuplicates();
        present.sort();
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name), present);
        if (!result.diskFull)
            return;
        // The completion tells the user and stops the add.
        manager controller;
        QSignalSpy message(&controller, &manager::showMessageBox);
        controller.libraryAdder->Copyfinished(result);
        QCOMPARE(message.size(), 1);
        QCOMPARE(message.first().first().toString(), QStringLiteral("Drive is Full"));
        QVERIFY(controller.libraryAdder->isStopCopy);
    }

    void killedCopyLeavesNoRowForAnIncompleteFile()
    {
        const int files = 24;
        const qint64 size = 6 * 1024 * 1024;
        for (int i = 0; i < files; ++i)
            QVERIFY(
                testkit::touch(dir.filePath(QStringLiteral("kill/%1.mp3").arg(i)), QByteArray(size, char('0' + i))));
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {"--copy-child", dir.filePath("kill")});
        QVERIFY(child.waitForStarted());
        QVERIFY(child.waitForReadyRead(20000)); // "copying" once under way
        QTest::qWait(60);
        child.kill();
        child.waitForFinished();

        QCOMPARE(testkit::scalar("PRAGMA integrity_check").toString(), QStringLiteral("ok"));
        QSqlQuery rows;
        QVERIFY(rows.exec("SELECT filepath FROM tracks WHERE filepath LIKE '%/Killed/%'"));
        int stored = 0;
        while (rows.next()) {
            ++stored;
            QCOMPARE(QFileInfo(rows.value(0).toString()).size(), size);
        }
        QVERIFY(stored <= files);
    }

    // A whole add of two MP3s and two FLACs (converted for a car that plays
    // aac and mp3), then what the row does, then a removal from the tracks
    // view and a restart: the library must hold exactly the titles named.
    // "action | removed | titles after the restart"
    void addRemoveRestart_data()
    {
        QTest::addColumn<QString>("fields");
        QTest::addRow("conversions stored before the copies") << "- | Song 0 | Song 1, Song 2, Song 3";
        QTest::addRow("an earlier removal left a gap in the ids") << "gap | Song 2 | Song 0, Song 1, Song 3";
        QTest::addRow("a lookup result re-stored a row") << "lookup | Song 0 | Song 1b, Song 2, Song 3";
        QTest::addRow("a vanished and a damaged file are named, the rest added") << "faults | Song 3 | Song 0";
        // Swapped since the browser saw them: nothing may wait on a FIFO.
        QTest::addRow("a song to copy and one to convert swapped for FIFOs") << "fifos | Song 1 | Song 3";
        // The stored copy a better one was to replace stays when the better
        // one can't be copied.
        QTest::addRow("a failed replacement keeps the stored song") << "replace | Song 1 | Song 0, Song 2, Song 3";
        // Copies not begun for want of room leave the library too.
        QTest::addRow("the data folder's volume is full") << "full | Song 2 | Song 3";
        // A second add or a removal asked for during the add is refused; the
        // cancelled add says how much it added.
        QTest::addRow("cancel during a conversion") << "cancel | Song 0 | ";
    }

    void addRemoveRestart()
    {
        QFETCH(QString, fields);
        const QStringList f = fields.split(" | ");
        const QString action = f[0];
        QVERIFY(testkit::exec("DELETE FROM tracks"));
        QDir(ruvoDB::programCopyFolder() + "/Unknown Album").removeRecursively();
        if (action == "gap") {
            const int id = ruvoDB().storeTrack(testkit::makeTrack(dir.filePath("gone.mp3")));
            QVERIFY(id > 0 && testkit::exec("DELETE FROM tracks WHERE id = ?", {id}));
        }
        testkit::MediaKit kit(dir.filePath("e2e"));
        TrackMap browser;
        QStringList fifos;
        // Should the add wait on a FIFO after all, a writer that comes and
        // goes lets it go, so that the test fails instead of hanging.
        auto releaseFifos = qScopeGuard([&fifos] {
            for (const QString &fifo : std::as_const(fifos)) {
                const int writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
                if (writer >= 0)
                    ::close(writer);
            }
        });
        static QStringList sources; // made once: later rows take the conversions the first made
        for (int i = 0; i < 4; ++i) {
            const bool flac = i >= 2;
            const QString album = flac ? QStringLiteral("Flac Album") : QString();
            const testkit::MediaTags tags{QStringLiteral("Song %1").arg(i), "Artist", album, "Rock", "", 2001, i + 1};
            const QString name = QStringLiteral("%1/%2.%1").arg(flac ? "flac" : "mp3").arg(i);
            if (sources.size() == i)
                sources << (flac ? kit.flac(name, tags) : kit.mp3(name, tags, QString(), 3, 192));
            QString path = sources[i];
            QVERIFY2(!path.isEmpty(), qPrintable(kit.lastError()));
            if ((action == "faults" && i == 1) || (action == "replace" && i == 0))
                path = dir.filePath(action == "faults" ? "vanished.mp3" : "gone/0.mp3");
            if (action == "faults" && i == 2)
                QVERIFY(testkit::touch(path = dir.filePath("e2e/damaged.flac"), QByteArray(4096, 'x')));
            if (action == "fifos" && (i == 0 || i == 2)) {
                path = dir.filePath(QStringLiteral("fifos/%1.%2").arg(i).arg(flac ? "flac" : "mp3"));
                QVERIFY(QDir().mkpath(dir.filePath("fifos")));
                QFile::remove(path);
                QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
                fifos << path;
            }
            const QString row = QStringLiteral("%1|%2|%3|%4|").arg(50 + i).arg(path, album).arg(flac ? 900 : 192);
            track t = parse(row + "qrc:///resources/photos/no_artwork.png");
            t.album_id = flac ? 7 : 8;
            t.trackname = tags.title;
            t.tracknumber = tags.track;
            t.isMissingData = i == 1;
            browser.insert(t.id, t);
        }
        testkit::useAacAndMp3Car();
        // For the cancel: an ffmpeg that waits until the test lets it go.
        const QString started = dir.filePath("ffmpeg-started"), go = dir.filePath("ffmpeg-go");
        QFile::remove(started);
        QFile::remove(go);
        if (action == "cancel") {
            QDir(ffmpeghandler::cacheFolder()).removeRecursively(); // nothing to take from earlier rows
            ExternalProgram::setToolPath(
                ExternalProgram::Ffmpeg,
                testkit::MediaKit::fakeTool(
                    dir.path(), "ffmpeg",
                    QStringLiteral("touch '%1'; while [ ! -e '%2' ]; do sleep 0.05; done; exit 1").arg(started, go)));
        }
        auto restoreFfmpeg = qScopeGuard([] { ExternalProgram::setToolPath(ExternalProgram::Ffmpeg, {}); });

        manager controller;
        int storedId = 0;
        if (action == "replace") {
            track old = browser.first();
            old.id = 0;
            old.bitrate = 128;
            old.filepath = LibraryAdder::GenerateCopyPath(QString(), "0.mp3");
            QVERIFY(testkit::touch(old.filepath) && (old.id = storedId = ruvoDB().storeTrack(old)) > 0);
            controller.libraryTracks.insert(old.id, old);
        }
        if (action == "full")
            LibraryAdder::setAvailableBytesFunction([](const QString &) { return 1000; });
        QSignalSpy done(&controller, &manager::updateProgressSearch);
        QSignalSpy messages(&controller, &manager::showMessageBox);
        controller.browserTracks = browser;
        controller.libraryAdder->setBrowserRowsProvider([&controller] {
            LibraryAdder::BrowserRows r;
            for (int albumId : {7, 8})
                r.albumModels.insert(QString::number(albumId),
                                     new AlbumDataModel(albumId, {}, {}, 0, true, true, {}, &controller));
            return r;
        });
        controller.addToMainObject();
        if (action == "cancel") {
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(started), 30000);
            controller.removeAll({}, {}, controller.libraryTracks.keys(), {});
            controller.addToMainObject();
            QCOMPARE(messages.size(), 2);
            for (int i = 0; i < 2; ++i)
                QCOMPARE(messages.takeFirst().first().toString(), WorkGuard::refusal(WorkGuard::Work::Add));
            controller.slCancelSearchCopy();
        }
        QTRY_VERIFY_WITH_TIMEOUT(!done.isEmpty(), 60000);
        QVERIFY(!controller.libraryAdder->isBusy());
        QStringList places;
        for (const track &t : std::as_const(controller.libraryTracks))
            places << QString(t.filepath).replace(ruvoDB::programCopyFolder() + '/', "L/");
        places.sort();
        if (action == "cancel") {
            QCOMPARE(messages.size(), 1);
            QCOMPARE(messages.first().first().toString(),
                     QStringLiteral("The add was cancelled: 0 of 4 media were added to the library."));
            QVERIFY(controller.libraryTracks.isEmpty());
        } else if (action == "faults") {
            QCOMPARE(messages.size(), 1);
            QCOMPARE(messages.first().first().toString(),
                     QStringLiteral("2 of the chosen media could not be added to the library:\n"
                                    "damaged.flac: it is damaged or not a media file\n"
                                    "vanished.mp3: the file is no longer there"));
            QCOMPARE(places, (QStringList{"L/Transcoded Media/Flac Album/Song 3.m4a", "L/Unknown Album/0.mp3"}));
        } else if (action == "fifos") {
            QCOMPARE(messages.size(), 1);
            QCOMPARE(messages.first().first().toString(),
                     QStringLiteral("2 of the chosen media could not be added to the library:\n"
                                    "0.mp3: it is not a regular file\n"
                                    "2.flac: it is not a regular file"));
            QCOMPARE(places, (QStringList{"L/Transcoded Media/Flac Album/Song 3.m4a", "L/Unknown Album/1.mp3"}));
        } else if (action == "replace") {
            QCOMPARE(messages.first().first().toString(),
                     QStringLiteral("1 of the chosen media could not be added to "
                                    "the library:\n0.mp3: the file is no longer there"));
            QCOMPARE(controller.libraryTracks.value(storedId).bitrate, 128);
        } else if (action == "full") {
            QCOMPARE(messages.first().first().toString(), MessageHandler().message(1));
            QCOMPARE(places, (QStringList{"L/Transcoded Media/Flac Album/Song 2.m4a",
                                          "L/Transcoded Media/Flac Album/Song 3.m4a"}));
        } else {
            // MP3s copied into "Unknown Album", FLACs converted into the cache,
            // later rows taking the conversions the first row made.
            QVERIFY2(messages.isEmpty(), qPrintable(messages.value(0).value(0).toString()));
            QCOMPARE(places, (QStringList{"L/Transcoded Media/Flac Album/Song 2.m4a",
                                          "L/Transcoded Media/Flac Album/Song 3.m4a", "L/Unknown Album/0.mp3",
                                          "L/Unknown Album/1.mp3"}));
            QCOMPARE(controller.lookupTracks.size(), 1); // the track with missing data goes on to the lookup
        }
        auto idOf = [&controller](const QString &title) {
            for (const track &t : std::as_const(controller.libraryTracks))
                if (t.trackname == title)
                    return t.id;
            return 0;
        };
        if (action == "lookup") {
            track result = controller.libraryTracks.value(idOf("Song 1"));
            result.trackname = "Song 1b";
            controller.updateMainObjectMgr(result);
        }
        // Every track in memory is its own row, under its own id.
        for (const track &t : std::as_const(controller.libraryTracks))
            QCOMPARE(testkit::scalar("SELECT filepath FROM tracks WHERE id = ?", {t.id}).toString(), t.filepath);
        if (int id = idOf(f[1])) {
            controller.libraryView = 2;
            QSignalSpy removed(&controller, &manager::sgHideLoading);
            controller.removeAll({}, {}, {id}, {});
            QVERIFY(removed.wait(60000));
        }
        QStringList titles;
        for (const track &t : ruvoDB().loadDB())
            titles << t.trackname;
        titles.sort();
        QCOMPARE(titles.join(", "), f[2]);
    }

    // "converter flag, still in the library, still in the review list"
    void converterOutcomes_data()
    {
        QTest::addColumn<QList<int>>("fields");
        QTest::addRow("no codec could convert it: neither stored nor copied") << QList<int>{1, 0, 0};
        QTest::addRow("converted (or cached): kept for the merge") << QList<int>{3, 1, 0};
        QTest::addRow("its volume is full: left out, the add stops") << QList<int>{4, 0, 0};
        QTest::addRow("another flag changes nothing") << QList<int>{99, 1, 1};
    }

    void converterOutcomes()
    {
        QFETCH(QList<int>, fields);
        manager controller;
        const track t = parse("4|L/A/a.mp3|A|128");
        controller.libraryTracks.insert(4, t);
        controller.reviewTracks.insert(4, t);
        controller.slRemoveFileAudio(t.filepath, 4, fields[0]);
        QCOMPARE(controller.libraryTracks.contains(4), bool(fields[1]));
        QCOMPARE(controller.reviewTracks.contains(4), bool(fields[2]));
        QCOMPARE(controller.libraryAdder->isStopCopy, fields[0] == 4);
        // A 16-bit key would wrap this id onto another track.
        controller.slRemoveFileAudio(t.filepath, 4 + 65536, 1);
        QCOMPARE(controller.libraryTracks.contains(4), bool(fields[1]));
    }

    void lookupResults()
    {
        QVERIFY(testkit::openLibrary());
        manager controller;
        // Stored first: a track's id is its row's.
        for (const track &t : mapOf({"1|/m/a.mp3|Old|192", "2|/m/b.mp3|Other|192", "3|/m/gone.mp3|Gone|192"})) {
            track stored = t;
            stored.id = 0;
            stored.quality = 1; // complete and of fair quality: a result leaves the review list
            stored.id = ruvoDB().storeTrack(stored);
            stored.album_id = 100 + stored.id;
            QVERIFY(stored.id > 0);
            controller.libraryTracks.insert(stored.id, stored);
        }
        const QList<int> ids = controller.libraryTracks.keys();
        controller.libraryTracks.remove(ids[2]); // removed while it was looked up
        controller.reviewTracks.insert(ids[1], controller.libraryTracks.value(ids[1]));
        controller.progressTotal = 1;
        for (const int id : {ids[1], ids[2]}) {
            track result = controller.libraryTracks.value(id, parse(QString::number(id) + "|/m/gone.mp3|Gone|192"));
            result.albumName = "Found Album";
            result.trackname = "Found";
            controller.updateMainObjectMgr(result);
        }
        // An album no track carries: the largest album id + 1.
        QCOMPARE(controller.libraryTracks.value(ids[1]).album_id, 101 + ids[1]);
        QCOMPARE(controller.libraryTracks.value(ids[1]).trackname, QStringLiteral("Found"));
        QVERIFY(controller.reviewTracks.isEmpty() && !controller.libraryTracks.contains(ids[2]));
        // A result ticks nothing: the library's ticks are the user's.
        QVERIFY(controller.checkedAlbumIds.isEmpty() && controller.checkedTrackIds.isEmpty());
        // Re-stored in its own row; the removed track's result brings nothing back.
        QCOMPARE(testkit::scalar("SELECT group_concat(id) FROM tracks WHERE trackname = 'Found'").toInt(), ids[1]);
        // A result that brings its album's picture gives it to the album's row.
        const QString picture = shared().coverpath(QStringLiteral("Old"));
        QVERIFY(QDir().mkpath(QFileInfo(picture).path()));
        QImage(8, 8, QImage::Format_RGB32).save(picture, "PNG");
        track sibling = controller.libraryTracks.value(ids[0]); // shown without a picture
        sibling.id = 40000;
        sibling.filepath = QStringLiteral("/m/a2.mp3");
        sibling.cover = shared().noArtworkUrl;
        controller.libraryTracks.insert(sibling.id, sibling);
        track pictured = controller.libraryTracks.value(ids[0]);
        pictured.cover = picture;
        pictured.hasCover = true;
        controller.updateMainObjectMgr(pictured);
        QCOMPARE(controller.libraryTracks.value(ids[0]).cover, picture);
        QCOMPARE(controller.libraryTracks.value(sibling.id).cover, picture);
        QCOMPARE(testkit::scalar("SELECT cover FROM albums WHERE name = 'Old'").toString(), picture);
        // The end mark resets the lookup's progress.
        controller.updateMainObjectMgr(parse("-1"));
        QCOMPARE(controller.progressTotal, 0);
    }

private:
    QTemporaryDir dir;
};

// The child of killedCopyLeavesNoRowForAnIncompleteFile: copies the files of
// a folder into the library until it is killed.
static int copyChild(const QString &folder)
{
    Database db;
    if (!db.connect(QStringLiteral("RuvoData"), false))
        return 2;
    QStringList sources;
    for (const QString &name : QDir(folder).entryList(QDir::Files, QDir::Name))
        sources << folder + '/' + name;
    const QList<LibraryAdder::CopyItem> items = copyItems(sources, "Killed");
    std::atomic<bool> stop{false};
    fputs("copying\n", stdout);
    fflush(stdout);
    for (;;) // each round replaces the copies of the one before, until killed
        LibraryAdder::CopyPath(items, {}, stop);
}

int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--copy-child") == 0) {
        QCoreApplication app(argc, argv);
        return copyChild(QString::fromLocal8Bit(argv[2]));
    }
    testkit::isolateUserFolders();
    QApplication app(argc, argv);
    TestLibraryAdder tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_libraryadder.moc"
