#include <QtTest>

#include <taglib/fileref.h>
#include <taglib/tag.h>

#include "libraryfixture.h"
#include "lookup/apimanager.h"
#include "core/shared.h"
#include "mediakit.h"
#include "scanfixture.h"
#include "testenv.h"

// The lookup job: folder by folder in the GUI thread, the end mark in every
// case, the pause and the selected-ids mode; and, with its real stages, one
// track completed from its folder in the library and written into its file.

namespace {

// Tracks 1..count spread over `folders` folders in turn; their titles are
// known, artist and album only for the `complete` ids.
TrackMap tracksIn(int count, int folders, const QSet<int> &complete = {})
{
    TrackMap map;
    for (int id = 1; id <= count; ++id) {
        track &t = map[id];
        t.id = id;
        t.folderLocation = QStringLiteral("/m/F%1").arg(id % folders);
        t.hasTitle = true;
        t.hasArtist = t.hasAlbum = complete.contains(id);
    }
    return map;
}

// Records what the job does, in order: "complete 3", "store 3", "sent 3"
// ("sent 3?" while it still misses data), "end"; completes the tracks in `fill`.
struct Recorder
{
    Recorder()
    {
        job->setSteps({[this](track t) {
                           events.append(QStringLiteral("complete %1").arg(t.id));
                           if (fill.contains(t.id)) {
                               t.albumName = t.artistName = QStringLiteral("Found");
                               t.hasAlbum = t.hasArtist = true;
                           }
                           return t;
                       },
                       [this](const track &t) { events.append(QStringLiteral("store %1").arg(t.id)); },
                       // Tags are written on the writer thread; read only once the folder's tracks are sent.
                       [this](const track &t) {
                           written.append(QStringLiteral("tags %1").arg(t.id));
                           offGuiThread = offGuiThread && QThread::currentThread() != qApp->thread();
                           return true;
                       },
                       {}});
        QObject::connect(job, &ApiManager::updateTrackToManager, &context, [this](const track &t) {
            const QString sent = QStringLiteral("sent %1").arg(t.id) + (t.isMissingData ? "?" : "");
            events.append(t.id == ApiManager::endMarkId ? QStringLiteral("end") : sent);
        });
        QObject::connect(job, &ApiManager::UpdateProgress, &context, [this] { ++progress; });
    }
    ~Recorder() { job->setSteps(ApiManager::defaultSteps()); }

    bool waitForEnd() { return QTest::qWaitFor([this] { return events.contains(QStringLiteral("end")); }, 60000); }

    ApiManager *const job = ApiManager::getinstance();
    QObject context;
    QSet<int> fill; // completed by the stand-in
    QStringList events, written;
    bool offGuiThread = true;
    int progress = 0;
};

} // namespace

class TestApiManager : public QObject
{
    Q_OBJECT

private slots:
    void init() { ApiManager::getinstance()->setDoUpdate(true); }

    void worksFolderByFolder()
    {
        Recorder rec;
        rec.fill = {3};
        // Ids interleave the two folders; the job keeps each folder together.
        // Track 4 is complete already, the stand-in completes track 3.
        rec.job->searchfromApi(tracksIn(4, 2, {4}));
        QVERIFY(rec.job->isRunning() && rec.events.isEmpty()); // returns at once
        QVERIFY(rec.waitForEnd());
        // A folder whose tags are written is sent once the writes are done.
        // Tracks 1 and 2 still miss data after the local completion.
        QCOMPARE(rec.events.join(", "), "complete 1, complete 3, store 1, store 3, sent 1?, sent 3, "
                                        "complete 2, complete 4, store 2, sent 2?, store 4, sent 4, end");
        // Tags are written only where something was learnt, off the GUI thread.
        QCOMPARE(rec.written, QStringList{"tags 3"});
        QVERIFY(rec.offGuiThread);
    }

    // A track leaves the missing-data list only once title, artist and
    // album are all known, whatever the completion filled in.
    void missingDataAfterTheCompletion_data()
    {
        QTest::addColumn<QString>("known"); // what the completed track knows: "title artist album"
        QTest::addColumn<bool>("missing");
        QTest::addRow("everything known") << "title artist album" << false;
        QTest::addRow("still without a title") << "artist album" << true;
        QTest::addRow("still without an artist") << "title album" << true;
        QTest::addRow("still without an album") << "title artist" << true;
    }

    void missingDataAfterTheCompletion()
    {
        QFETCH(QString, known);
        QFETCH(bool, missing);
        ApiManager *job = ApiManager::getinstance();
        job->setSteps({[&known](track t) {
                           t.hasTitle = known.contains(QLatin1String("title"));
                           t.hasArtist = known.contains(QLatin1String("artist"));
                           t.hasAlbum = known.contains(QLatin1String("album"));
                           return t;
                       },
                       {},
                       {},
                       {}});
        auto restore = qScopeGuard([job] { job->setSteps(ApiManager::defaultSteps()); });
        track t;
        t.id = 7;
        t.folderLocation = QStringLiteral("/m/F");
        t.isMissingData = true;
        QSignalSpy sent(job, &ApiManager::updateTrackToManager);
        job->searchfromApi({{7, t}});
        QTRY_COMPARE(sent.size(), 2); // the track, then the end mark
        QCOMPARE(sent.first().first().value<track>().isMissingData, missing);
    }

    // The grouping of a large hand-over: folders in the order they first
    // appear, each folder's tracks in the order given, a track given again
    // in place of its pending copy, every track once.
    void aLargeHandOverGroupedByFolder()
    {
        constexpr int count = 50000;
        constexpr int folders = 5000;
        Recorder rec;
        rec.job->setDoUpdate(false);
        TrackMap first = tracksIn(count, folders);
        // Folders by descending id, so the map's order is not the folders' order.
        for (track &t : first)
            t.folderLocation = QStringLiteral("/m/F%1").arg((count - t.id) % folders);
        rec.job->searchfromApi(first);
        // Given again while pending: two tracks, one moving to a new folder.
        TrackMap again;
        again.insert(5, first.value(5));
        again.insert(6, first.value(6));
        again[6].folderLocation = QStringLiteral("/m/New");
        rec.job->searchfromApi(again);
        // One track a turn of the event loop: run the loop itself rather than
        // polling between sleeps.
        QEventLoop loop;
        QObject::connect(rec.job, &ApiManager::updateTrackToManager, &loop, [&loop](const track &t) {
            if (t.id == ApiManager::endMarkId)
                loop.quit();
        });
        QTimer::singleShot(600000, &loop, &QEventLoop::quit); // only against a hang
        rec.job->setDoUpdate(true);
        loop.exec();
        QVERIFY(rec.events.contains(QStringLiteral("end")));

        QList<int> order;
        for (const QString &event : std::as_const(rec.events)) {
            if (event.startsWith(QLatin1String("complete ")))
                order << event.mid(9).toInt();
        }
        QCOMPARE(order.size(), count);
        QCOMPARE(QSet<int>(order.cbegin(), order.cend()).size(), count);
        // The folder of each id from 1 to 5000 first appears with that id and
        // holds every 5000th id from it.  Track 5, given again, joins the end of its
        // folder's group; track 6 makes a new folder, the last.
        QList<int> want;
        for (int start = 1; start <= folders; ++start) {
            for (int id = start; id <= count; id += folders) {
                if (id != 5 && id != 6)
                    want << id;
            }
            if (start == 5)
                want << 5;
        }
        want << 6;
        QCOMPARE(order, want);
    }

    // What the completion needs of a folder is read once, off the GUI
    // thread, before the folder's first track; a folder none of whose
    // tracks is to be completed is not read.
    void eachFolderReadOnceBeforeItsTracks()
    {
        ApiManager *job = ApiManager::getinstance();
        QMutex mutex;
        QStringList events;
        bool offGuiThread = true;
        const auto log = [&mutex, &events](const QString &event) {
            QMutexLocker locker(&mutex);
            events << event;
        };
        ApiManager::Steps steps;
        steps.complete = [&log](const track &t) {
            log(QStringLiteral("complete %1").arg(t.id));
            return t;
        };
        steps.readFolder = [&mutex, &events, &offGuiThread](const QString &folder) {
            QMutexLocker locker(&mutex);
            offGuiThread = offGuiThread && QThread::currentThread() != qApp->thread();
            events << QStringLiteral("read ") + folder;
        };
        job->setSteps(steps);
        auto restore = qScopeGuard([job] { job->setSteps(ApiManager::defaultSteps()); });
        QSignalSpy sent(job, &ApiManager::updateTrackToManager);
        // Folders F1 (1, 4), F2 (2, 5), F0 (3, 6); only 1, 4 and 6 are to be completed.
        job->setDoUpdate(false);
        job->searchfromApi(tracksIn(6, 3));
        job->setSelectedIds({1, 4, 6});
        job->setDoUpdate(true);
        QTRY_VERIFY(!sent.isEmpty() && sent.last().first().value<track>().id == ApiManager::endMarkId);
        QMutexLocker locker(&mutex);
        QCOMPARE(events.join(", "), "read /m/F1, complete 1, complete 4, read /m/F0, complete 6");
        QVERIFY(offGuiThread);
    }

    void stopSendsTheEndMarkAndTheGuiStaysResponsive()
    {
        {
            Recorder rec;
            rec.job->searchfromApi(TrackMap());
            QVERIFY(rec.waitForEnd() && rec.events == QStringList{"end"});
        }
        Recorder rec;
        int ticks = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, &rec.context, [&ticks] { ++ticks; });
        ticker.start(0);
        // Stopped while the job is at its hundredth track.
        QObject::connect(rec.job, &ApiManager::UpdateProgress, &rec.context, [&rec] {
            if (rec.progress == 100)
                rec.job->stopOptimisation();
        });
        rec.job->searchfromApi(tracksIn(200, 7));
        QVERIFY(rec.waitForEnd());
        QCOMPARE(rec.progress, 100);
        QCOMPARE(rec.events.indexOf("end"), rec.events.size() - 1); // once, last
        // Every completed track is delivered.
        QCOMPARE(rec.events.filter("sent").size(), rec.events.filter("complete").size());
        // One track per turn of the event loop: other events ran in between.
        QVERIFY2(ticks > 20, qPrintable(QString::number(ticks)));
    }

    void pausedThenSelectedIdsOnly()
    {
        Recorder rec;
        rec.job->setDoUpdate(false);
        rec.job->searchfromApi(tracksIn(4, 2));
        QTest::qWait(50);
        QVERIFY(rec.events.isEmpty() && rec.job->isRunning());
        // The advanced settings pause the job, then choose.
        rec.job->setSelectedIds({2, 4, 40000});
        rec.job->setDoUpdate(true);
        QVERIFY(rec.waitForEnd());
        QCOMPARE(rec.events.filter("sent"), (QStringList{"sent 2?", "sent 4?"}));
        QCOMPARE(rec.progress, 4); // passed-over tracks count as progress too
    }

    void completesFromTheFolderAndWritesTheFile()
    {
        // Two tracks of the folder are known to the library already; the third knows its title only.
        QTemporaryDir dir;
        QVERIFY(testkit::openLibrary());
        QVERIFY(testkit::stage(dir.path(), {{"One", "Blue", "Blue Band"}, {"Two", "Blue", "Blue Band"}}));
        testkit::MediaKit kit(dir.path());
        const QString file = kit.mp3(QStringLiteral("Three.mp3"), {});
        QVERIFY2(!file.isEmpty(), qPrintable(kit.lastError()));
        track t = testkit::makeTrack(file, "Unknown Album", "Unknown Artist");
        t.id = 9;
        t.trackname = QStringLiteral("Three");
        t.hasTitle = t.isMissingData = true;

        QSignalSpy sent(ApiManager::getinstance(), &ApiManager::updateTrackToManager);
        ApiManager::getinstance()->searchfromApi({{9, t}});
        QTRY_COMPARE(sent.size(), 2); // the track, then the end mark
        // Written into the file's tags and back to the library's staging tables.
        TagLib::FileRef ref(QFile::encodeName(file).constData());
        QVERIFY(!ref.isNull() && ref.tag());
        QCOMPARE(TStringToQString(ref.tag()->album()) + '|' + TStringToQString(ref.tag()->artist()),
                 QStringLiteral("Blue|Blue Band"));
        QCOMPARE(testkit::scalar("SELECT count(*) FROM getTracksRepo WHERE trackname = 'Three' AND albumname = 'Blue' "
                                 "AND filepath = ?", {file}).toInt(), 1);
    }

    // A folder's rows, once read, complete that folder's tracks only: a
    // track of another folder (one the read was not made for, as when the
    // selected ids pass over a folder) is completed from its own folder.
    void completionTakesOnlyItsOwnFolder()
    {
        QTemporaryDir dir;
        QVERIFY(testkit::openLibrary());
        const QString blue = dir.filePath(QStringLiteral("Blue")), red = dir.filePath(QStringLiteral("Red"));
        QVERIFY(testkit::stage(blue, {{"One", "Blue", "Blue Band"}, {"Two", "Blue", "Blue Band"}}));
        QVERIFY(testkit::stage(red, {{"One", "Red", "Red Band"}, {"Two", "Red", "Red Band"}}));
        const ApiManager::Steps steps = ApiManager::defaultSteps();
        steps.readFolder(blue);
        track t = testkit::makeTrack(red + QStringLiteral("/Three.mp3"), "Unknown Album", "Unknown Artist");
        t.trackname = QStringLiteral("Three");
        t.hasTitle = t.isMissingData = true;
        const track done = steps.complete(t);
        QCOMPARE(done.albumName + '|' + done.artistName, QStringLiteral("Red|Red Band"));
    }

    void completedTrackTakesItsAlbumPictureAndNumber_data()
    {
        QTest::addColumn<QString>("album");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<int>("number");        // the track's before completion
        QTest::addColumn<bool>("embedded");     // the file carries a picture
        QTest::addColumn<bool>("albumPicture"); // the album's picture is there already
        QTest::addColumn<bool>("pictured");     // the completed track shows the album's picture
        QTest::addColumn<int>("expectedNumber");
        QTest::addColumn<QString>("kind"); // "own": shows a picture of its own; "video"
        QTest::addRow("the album's picture there: taken, never replaced by the file's")
            << "Kept (Live)" << "Song.mp3" << 4 << true << true << true << 4 << QString();
        QTest::addRow("no album picture: the file's saved as the album's")
            << "Made" << "07 Song.mp3" << 0 << true << false << true << 7 << QString();
        QTest::addRow("no picture anywhere: the placeholder stays")
            << "Bare" << "51 Song.mp3" << 0 << false << false << false << 0 << QString();
        QTest::addRow("an unknown album takes no picture")
            << "Unknown Album" << "3 Song.mp3" << 0 << true << false << false << 3 << QString();
        QTest::addRow("a track showing its own picture keeps it")
            << "Other" << "Song.mp3" << 2 << true << true << false << 2 << "own";
        QTest::addRow("a video keeps its frame")
            << "Clips" << "Song.mp3" << 1 << true << false << false << 1 << "video";
    }

    void completedTrackTakesItsAlbumPictureAndNumber()
    {
        QFETCH(QString, album);
        QFETCH(QString, fileName);
        QFETCH(int, number);
        QFETCH(bool, embedded);
        QFETCH(bool, albumPicture);
        QFETCH(bool, pictured);
        QFETCH(int, expectedNumber);
        QFETCH(QString, kind);
        Recorder rec; // its completion learns nothing
        QTemporaryDir dir;
        testkit::MediaKit kit(dir.path());
        const QString cover = embedded ? kit.picture(QStringLiteral("c.jpg"), 300, 200) : QString();
        const QString file = kit.mp3(fileName, {}, cover);
        QVERIFY2(!file.isEmpty(), qPrintable(kit.lastError()));
        const QString picture = shared().coverpath(album);
        QFile::remove(picture);
        if (albumPicture)
            QVERIFY(testkit::touch(picture, "kept"));

        track t = testkit::makeTrack(file, album);
        t.id = 5;
        t.tracknumber = number;
        t.hasTitle = t.hasArtist = true;
        t.hasAlbum = !album.startsWith(QLatin1String("Unknown"));
        if (kind == QLatin1String("own")) {
            t.cover = kit.picture(QStringLiteral("own.png"), 20, 20, QStringLiteral("blue"));
            t.hasCover = true;
        }
        t.isVideo = kind == QLatin1String("video");
        QSignalSpy sent(rec.job, &ApiManager::updateTrackToManager);
        rec.job->searchfromApi({{5, t}});
        QVERIFY(rec.waitForEnd());
        const track done = sent.first().first().value<track>();
        QCOMPARE(done.cover, pictured ? picture : t.cover);
        QCOMPARE(done.hasCover, pictured || t.hasCover);
        QCOMPARE(done.tracknumber, expectedNumber);
        if (albumPicture)
            QCOMPARE(testkit::fileBytes(picture), QByteArray("kept"));
        else if (pictured)
            QCOMPARE(QImage(picture).size(), QSize(110, 73));
        else
            QVERIFY(!QFileInfo::exists(picture));
    }

    // The picture is read after the folder's tracks are completed: each
    // track must get the outcome of its own album, also when the album's
    // first file has none and a later one has.
    void albumPictureFromAnyOfItsTracks()
    {
        Recorder rec;
        QTemporaryDir dir;
        testkit::MediaKit kit(dir.path());
        const QString cover = kit.picture(QStringLiteral("c.jpg"), 220, 220);
        const QStringList files{kit.mp3(QStringLiteral("01 Bare.mp3"), {}),
                                kit.mp3(QStringLiteral("02 Pictured.mp3"), {}, cover),
                                kit.mp3(QStringLiteral("03 Other.mp3"), {})};
        for (const QString &f : files)
            QVERIFY2(!f.isEmpty(), qPrintable(kit.lastError()));
        const QString picture = shared().coverpath(QStringLiteral("Shared Album"));
        const QString none = shared().coverpath(QStringLiteral("Nothing Album"));
        QFile::remove(picture);
        QFile::remove(none);
        TrackMap map;
        for (int i = 0; i < 3; ++i) {
            track t = testkit::makeTrack(files.at(i), i < 2 ? "Shared Album" : "Nothing Album");
            t.id = 20 + i;
            t.hasTitle = t.hasArtist = t.hasAlbum = true;
            map.insert(t.id, t);
        }
        QSignalSpy sent(rec.job, &ApiManager::updateTrackToManager);
        rec.job->searchfromApi(map);
        QVERIFY(rec.waitForEnd());
        QMap<int, track> got;
        for (const QList<QVariant> &args : sent) {
            const track t = args.first().value<track>();
            got.insert(t.id, t);
        }
        QCOMPARE(got.size(), 4);
        for (int id : {20, 21}) {
            QCOMPARE(got.value(id).cover, picture);
            QVERIFY(got.value(id).hasCover);
        }
        QCOMPARE(got.value(22).cover, map.value(22).cover);
        QVERIFY(!got.value(22).hasCover);
        QVERIFY(QFileInfo::exists(picture));
        QVERIFY(!QFileInfo::exists(none));
        QCOMPARE(got.value(21).tracknumber, 2);
    }
};

CORVANE_TEST_MAIN(TestApiManager)
#include "tst_apimanager.moc"
