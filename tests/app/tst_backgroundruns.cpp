#include <QtTest>

#include <QQmlContext>
#include <QQuickItem>

#include "app/libraryadder.h"
#include "app/libraryremover.h"
#include "app/manager.h"
#include "app/mediabrowser.h"
#include "app/startup.h"
#include "app/videooptimisation.h"
#include "core/workguard.h"
#include "database/ruvodb.h"
#include "delivery/combo.h"
#include "delivery/madefiles.h"
#include "delivery/videoencoding.h"
#include "libraryconsistency.h"
#include "libraryfixture.h"
#include "mediakit.h"
#include "platform/externalprogram.h"
#include "testenv.h"
#include "windowdriver.h"

// Long runs put aside from the window: the video optimisation and the
// lookup's progress go on in a small status box while the library is used,
// the box opens the dialog again and goes at the end of the run.
class TestBackgroundRuns : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        kit = std::make_unique<testkit::MediaKit>(dir.path());
        small = kit->video(QStringLiteral("small clip.mp4"), 2, 640, 480);
        wide = kit->video(QStringLiteral("wide clip.mkv"), 2, 1280, 720);
        QVERIFY(!small.isEmpty() && !wide.isEmpty());
        // Conversions wait until the test opens the gate; everything else
        // ffmpeg does (probes, pictures) runs at once.
        gate = dir.filePath(QStringLiteral("gate"));
        ExternalProgram::setToolPath(
            ExternalProgram::Ffmpeg,
            testkit::MediaKit::fakeTool(dir.path(), QStringLiteral("gated-ffmpeg"),
                                        QStringLiteral("case \"$*\" in *libx264*) while [ ! -e '%1' ]; do sleep 0.1; "
                                                       "done;; esac\nexec ffmpeg \"$@\"")
                                            .arg(gate)));
    }

    void cleanupTestCase() { ExternalProgram::setToolPath(ExternalProgram::Ffmpeg, QString()); }

    void init()
    {
        QFile::remove(gate);
        QDir(VideoEncoding::outputFolder()).removeRecursively();
        startApp();
    }

    void cleanup()
    {
        testkit::touch(gate);
        app.reset();
    }

    void videoRunPutAside()
    {
        QObject *dialog = object("videoOptimisationDialog");
        QQuickItem *box = item("videoStatusBox");
        QVERIFY(dialog && box);
        QSignalSpy done(controller(), &manager::sgAllFileCompleteVideo);
        // The copied clip is done at once; the converted one waits at the gate.
        controller()->processingTracks = {{1, testkit::makeVideo(1, small)}, {2, testkit::makeVideo(2, wide)}};
        controller()->startVideoOptimisation();
        QVERIFY(dialog->property("opened").toBool());
        QVERIFY(!box->isVisible());
        QCOMPARE(object("videoBackgroundText")->property("text").toString(), text("VideoTranscoding_txtAdded2"));

        // Put aside: the box tells what runs.
        QVERIFY(click("videoHideButton"));
        QTRY_VERIFY(!dialog->property("visible").toBool());
        QVERIFY(box->isVisible());
        QCOMPARE(item("miniBoxTitle", box)->property("text").toString(), QStringLiteral("CURRENTLY OPTIMISING"));
        QCOMPARE(item("miniBoxViewStatus", box)->property("text").toString(), QStringLiteral("view status"));

        // The library is used meanwhile, and the finished clip is in it.
        object("libraryPanel")->setProperty("currentView", 6);
        QCOMPARE(controller()->libraryView, 6);
        QTRY_VERIFY_WITH_TIMEOUT(item("videosViewGrid") && item("videosViewGrid")->property("count").toInt() == 1,
                                 60000);
        QVERIFY(controller()->videoOptimisation->isRunning() && box->isVisible());
        QTRY_VERIFY(item("miniBoxProgress", box)->property("value").toDouble() >= 0.5);

        // What conflicts with the run is refused with its message: the
        // video view changes as the run stores each video.
        QTRY_COMPARE(rows("videosModel").size(), 1);
        rows("videosModel").first()->setProperty("selected", true);
        QVERIFY(click("transferButton"));
        QTRY_VERIFY(object("messageBox")->property("opened").toBool());
        QCOMPARE(object("messageText")->property("text").toString(), WorkGuard::refusal(WorkGuard::Work::VideoRun));
        QVERIFY(click("messageOkButton"));
        // Closing asks first; "Keep running" keeps the run.
        app->viewer().close();
        QTRY_VERIFY(object("closeQuestion")->property("opened").toBool());
        QVERIFY(click("questionRejectButton"));
        QVERIFY(!controller()->closing && controller()->videoOptimisation->isRunning());

        // "view status" and the bar open the dialog again.
        for (const char *opener : {"miniBoxViewStatus", "miniBoxProgress"}) {
            QVERIFY(QMetaObject::invokeMethod(item(opener, box), "clicked"));
            QTRY_VERIFY(dialog->property("opened").toBool());
            QVERIFY(!box->isVisible());
            QVERIFY(click("videoHideButton"));
            QTRY_VERIFY(box->isVisible());
        }
        // Escape puts the dialog aside as "Run in background" does.
        QVERIFY(QMetaObject::invokeMethod(item("miniBoxViewStatus", box), "clicked"));
        QTRY_VERIFY(dialog->property("opened").toBool());
        QTest::keyClick(&app->viewer(), Qt::Key_Escape);
        QTRY_VERIFY(box->isVisible());
        QVERIFY(!dialog->property("visible").toBool() && controller()->videoOptimisation->isRunning());

        // At the end the box goes, with the second clip in the library.
        QVERIFY(testkit::touch(gate));
        QVERIFY(done.wait(120000));
        QTRY_VERIFY(!box->isVisible());
        QVERIFY(!dialog->property("visible").toBool());
        QTRY_COMPARE(item("videosViewGrid")->property("count").toInt(), 2);
    }

    // The run put aside, the library is used as ever: songs are added and
    // removed meanwhile, and videos added meanwhile join the run (two adds of
    // them, one after the other).  Only a video the run has still to treat
    // can't be removed, and the user is told which.  At the end every video
    // of the run is stored, and the library is whole.
    void workGoesOnBesideAVideoRun()
    {
        const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
        const QString movies = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
        testkit::MediaKit songs(music), clips(movies);
        QVERIFY(!songs.mp3("Old/old.mp3", {"Old Song", "Band", "Old", "Pop", {}, 2001, 1}, {}, 9).isEmpty());
        QVERIFY(!songs.mp3("New/new.mp3", {"New Song", "Band", "New", "Pop", {}, 2002, 1}, {}, 9).isEmpty());
        for (const QString name : {"again.mp4", "first.mp4", "second.mp4"}) // copied as they are
            QVERIFY(!clips.video(name, 3, 640, 480).isEmpty());
        QVERIFY(!clips.video("held.mkv", 2, 1280, 720).isEmpty()); // converted: waits at the gate
        Combo().readSystemDetails("Birch"); // a car that plays videos

        // The library before: the song "Old Song" and the clip "again",
        // optimised by an earlier run, as the next start reads them.
        QSignalSpy earlier(controller(), &manager::sgAllFileCompleteVideo);
        addFromBrowser("mymusic", 0, {"Old"});
        if (QTest::currentTestFailed())
            return;
        addFromBrowser("myvideos", 4, {"again.mp4"});
        if (QTest::currentTestFailed())
            return;
        QTRY_COMPARE_WITH_TIMEOUT(earlier.size(), 1, 120000);
        app.reset();
        startApp();
        const QList<track> videosBefore = videos();
        QVERIFY(std::any_of(videosBefore.cbegin(), videosBefore.cend(),
                            [](const track &t) { return t.trackname == "again"; }));

        // A run put aside; two adds of videos join it.  The clip "again" is
        // in the library already: it is not optimised again, and the user
        // is told.
        QObject *dialog = object("videoOptimisationDialog");
        QQuickItem *box = item("videoStatusBox");
        QSignalSpy done(controller(), &manager::sgAllFileCompleteVideo);
        int shown = 0;
        for (const QStringList &added : {QStringList{"held.mkv"}, QStringList{"first.mp4"}, QStringList{"again.mp4", "second.mp4"}}) {
            const bool again = added.contains("again.mp4");
            addFromBrowser("myvideos", 4, added,
                           again ? "1 of the 2 chosen items was already in the library and was not added again."
                                 : QString());
            if (QTest::currentTestFailed())
                return;
            shown += int(added.size()) - (again ? 1 : 0);
            QTRY_VERIFY(dialog->property("opened").toBool());
            QTRY_COMPARE(rows("optimisationVideoModel").size(), shown);
            QVERIFY(press("videoHideButton"));
            QTRY_VERIFY(box->isVisible());
        }

        // Meanwhile a song is added, and another removed.
        addFromBrowser("mymusic", 0, {"New"});
        if (QTest::currentTestFailed())
            return;
        QVERIFY(hasSong("New Song"));
        root()->setProperty("currentScreen", QStringLiteral("library"));
        object("libraryPanel")->setProperty("currentView", 0);
        QTRY_VERIFY(!controller()->isRefreshingViews());
        for (QObject *row : rows("albumsModel"))
            row->setProperty("selected", row->property("albumname").toString() == "Old");
        QVERIFY(press("removeButton"));
        QTRY_VERIFY_WITH_TIMEOUT(!hasSong("Old Song") && !controller()->libraryRemover().isRunning() &&
                                     !controller()->isRefreshingViews(),
                                 60000);
        QVERIFY(!object("messageBox")->property("opened").toBool());
        QVERIFY(!QFileInfo::exists(ruvoDB::programCopyFolder() + "/Old/old.mp3"));

        // The clip "again" stays as it was.
        object("libraryPanel")->setProperty("currentView", 6);
        QTRY_COMPARE(rows("videosModel").size(), int(videosBefore.size()));
        QVERIFY(controller()->videoOptimisation->isRunning() && box->isVisible());

        // The run's end: the three new videos are stored.
        QVERIFY(testkit::touch(gate));
        QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, 180000);
        QTRY_VERIFY(!box->isVisible());
        QVERIFY(!controller()->videoOptimisation->isRunning());
        QStringList sources;
        for (const track &t : videos()) {
            if (QFileInfo(t.sourcePath).absolutePath() == movies)
                sources << QFileInfo(t.sourcePath).fileName();
        }
        sources.sort();
        QCOMPARE(sources, (QStringList{"first.mp4", "held.mkv", "second.mp4"}));
        QCOMPARE(videos().size(), videosBefore.size() + 3);
        for (QObject *row : rows("optimisationVideoModel"))
            QCOMPARE(row->property("status").toInt(), 100);
        QTRY_COMPARE(item("videosViewGrid")->property("count").toInt(), int(videosBefore.size()) + 3);
        QVERIFY(hasSong("New Song") && !hasSong("Old Song"));
        QVERIFY2(testkit::inconsistencies().isEmpty(), qPrintable(testkit::inconsistencies().join("\n")));
    }

    // A tick in the library's video view stays with the video the user
    // ticked while a run stores videos, videos are chosen again and songs
    // are added: no other video shows ticked, and Remove takes that video
    // alone.
    void ticksStayWithTheirVideos()
    {
        const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
        const QString movies = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
        testkit::MediaKit songs(music), clips(movies);
        QVERIFY(!songs.mp3("Tick/tick.mp3", {"Tick Song", "Band", "Tick", "Pop", {}, 2001, 1}, {}, 9).isEmpty());
        const QStringList library{"v1", "v2", "v3", "v4", "v5"};
        for (const QString &name : library) // copied as they are
            QVERIFY(!clips.video(name + ".mp4", 2, 640, 480).isEmpty());
        QVERIFY(!clips.video("late.mp4", 2, 640, 480).isEmpty());
        QVERIFY(!clips.video("slow.mkv", 2, 1280, 720).isEmpty()); // converted: waits at the gate
        Combo().readSystemDetails("Birch");

        // The library's videos, as the next start reads them.
        QSignalSpy earlier(controller(), &manager::sgAllFileCompleteVideo);
        addFromBrowser("myvideos", 4, {"v1.mp4", "v2.mp4", "v3.mp4", "v4.mp4", "v5.mp4"});
        if (QTest::currentTestFailed())
            return;
        QTRY_COMPARE_WITH_TIMEOUT(earlier.size(), 1, 120000);
        app.reset();
        startApp();

        // A run put aside.
        QObject *dialog = object("videoOptimisationDialog");
        QQuickItem *box = item("videoStatusBox");
        QSignalSpy done(controller(), &manager::sgAllFileCompleteVideo);
        addFromBrowser("myvideos", 4, {"slow.mkv"});
        if (QTest::currentTestFailed())
            return;
        QTRY_VERIFY(dialog->property("opened").toBool());
        QVERIFY(press("videoHideButton"));
        QTRY_VERIFY(box->isVisible());

        // v2 ticked on its tile.
        root()->setProperty("currentScreen", QStringLiteral("library"));
        object("libraryPanel")->setProperty("currentView", 6);
        QTRY_COMPARE(rows("videosModel").size(), int(library.size()));
        QVERIFY(tickTile("videosViewGrid", "v2"));
        QCOMPARE(ticked("videosModel"), QStringList{"v2"});

        // v2 and v3 chosen again with a new clip, which joins the run; the
        // run's dialog names each of its videos once, as its tile will.
        addFromBrowser("myvideos", 4, {"v2.mp4", "v3.mp4", "late.mp4"},
                       "2 of the 3 chosen items were already in the library and were not added again.");
        if (QTest::currentTestFailed())
            return;
        QStringList inRun;
        for (QObject *row : rows("optimisationVideoModel"))
            inRun << row->property("trackname").toString();
        QCOMPARE(inRun, (QStringList{"slow", "late"}));
        QTRY_VERIFY(dialog->property("opened").toBool());
        QVERIFY(press("videoHideButton"));
        QTRY_VERIFY(box->isVisible());
        // A song added meanwhile rebuilds every view; chosen again, it is
        // there already.
        addFromBrowser("mymusic", 0, {"Tick"});
        if (QTest::currentTestFailed())
            return;
        addFromBrowser("mymusic", 0, {"Tick"}, "The chosen item is already in the library.");
        if (QTest::currentTestFailed())
            return;
        root()->setProperty("currentScreen", QStringLiteral("library"));
        object("libraryPanel")->setProperty("currentView", 6);
        QTRY_VERIFY(!controller()->isRefreshingViews());
        QCOMPARE(ticked("videosModel"), QStringList{"v2"});

        // The run stores its two videos: the tick stays where it was.
        QVERIFY(testkit::touch(gate));
        QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, 180000);
        QTRY_COMPARE(rows("videosModel").size(), int(library.size()) + 2);
        QTRY_VERIFY(!controller()->isRefreshingViews());
        QCOMPARE(ticked("videosModel"), QStringList{"v2"});
        QTRY_COMPARE(tickedTiles("videosViewGrid"), QStringList{"v2"});

        // Remove takes the ticked video and no other.
        QVERIFY(press("removeButton"));
        QTRY_VERIFY_WITH_TIMEOUT(!controller()->libraryRemover().isRunning() && !controller()->isRefreshingViews() &&
                                     int(videos().size()) == int(library.size()) + 1,
                                 60000);
        QStringList left;
        for (const track &t : videos())
            left << t.filename;
        left.sort();
        QCOMPARE(left, (QStringList{"late", "slow", "v1", "v3", "v4", "v5"}));
    }

    // A video the run has in hand can't be removed while it is converted:
    // the user is told, under the name its tile shows.
    void theVideoInHandStays()
    {
        const QString movies = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
        testkit::MediaKit clips(movies);
        // Its title tag is not its name in the library.
        QVERIFY(!clips.video("held.mkv", 2, 1280, 720, "-metadata title=Tagged_Title").isEmpty());
        Combo().readSystemDetails("Birch");
        QSignalSpy progress(controller(), &manager::sgUpdateProgressVideo);
        addFromBrowser("myvideos", 4, {"held.mkv"});
        if (QTest::currentTestFailed())
            return;
        QTRY_VERIFY(controller()->videoOptimisation->isRunning());
        // The library already holds a file made from it (an earlier run's).
        track earlier = testkit::makeVideo(0, movies + "/held.mkv");
        earlier.filepath = VideoEncoding::outputFolder() + "/held (earlier).mp4";
        earlier.filename = "held";
        earlier.trackname = "Tagged_Title";
        earlier.sourcePath.clear(); // as the database reads it
        QVERIFY(QDir().mkpath(VideoEncoding::outputFolder()) && QFile::copy(small, earlier.filepath));
        QVERIFY(MadeFiles::made(earlier.filepath, movies + "/held.mkv"));
        earlier.id = ruvoDB().storeTrack(earlier);
        QVERIFY(earlier.id > 0);
        controller()->libraryTracks.insert(earlier.id, earlier);
        controller()->refreshVideoView();

        QVERIFY(press("videoHideButton"));
        root()->setProperty("currentScreen", QStringLiteral("library"));
        object("libraryPanel")->setProperty("currentView", 6);
        QTRY_COMPARE(rows("videosModel").size(), 1);
        QVERIFY(tickTile("videosViewGrid", "held"));
        QVERIFY(press("removeButton"));
        QTRY_VERIFY(object("messageBox")->property("opened").toBool());
        const QString refusal = object("messageText")->property("text").toString();
        QVERIFY2(refusal.contains("still being optimised") && refusal.contains("\nheld\n") &&
                     !refusal.contains("Tagged_Title"),
                 qPrintable(refusal));
        QVERIFY(click("messageOkButton"));
        QVERIFY(controller()->libraryTracks.contains(earlier.id) && QFileInfo::exists(earlier.filepath));
    }

    void lookupPutAside()
    {
        QObject *dialog = object("progressDialog");
        QQuickItem *box = item("lookupStatusBox");
        QVERIFY(dialog && box);
        emit controller()->showProgressDialog();
        emit controller()->updateProgress(QVariant(4), QVariant(0));
        QVERIFY(dialog->property("opened").toBool());
        QVERIFY(click("progressHideButton"));
        QTRY_VERIFY(box->isVisible());
        QCOMPARE(item("miniBoxTitle", box)->property("text").toString(), text("AdvanceSetting_progressNotification"));
        emit controller()->updateProgress(QVariant(4), QVariant(1));
        QCOMPARE(item("miniBoxProgress", box)->property("value").toDouble(), 0.25);
        QVERIFY(QMetaObject::invokeMethod(item("miniBoxViewStatus", box), "clicked"));
        QTRY_VERIFY(dialog->property("opened").toBool());
        QVERIFY(click("progressHideButton"));
        QTRY_VERIFY(box->isVisible());
        // So does Escape.
        QVERIFY(QMetaObject::invokeMethod(item("miniBoxViewStatus", box), "clicked"));
        QTRY_VERIFY(dialog->property("opened").toBool());
        QTest::keyClick(&app->viewer(), Qt::Key_Escape);
        QTRY_VERIFY(box->isVisible());
        QVERIFY(!dialog->property("visible").toBool() && dialog->property("running").toBool());
        // A transfer started meanwhile has its own dialog: the lookup's run,
        // box and count stay as they are, also after the transfer's end.
        QObject *transfer = object("transferProgressDialog");
        QVERIFY(transfer);
        QVERIFY(QMetaObject::invokeMethod(root(), "slShowTransferProgress"));
        QVERIFY(QMetaObject::invokeMethod(root(), "slUpdateTransferProgress", Q_ARG(QVariant, 2), Q_ARG(QVariant, 2),
                                          Q_ARG(QVariant, QStringLiteral("a.mp3"))));
        QVERIFY(QMetaObject::invokeMethod(root(), "slhideTransferProgress"));
        QTRY_VERIFY(!transfer->property("visible").toBool());
        QVERIFY(box->isVisible() && dialog->property("running").toBool());
        QCOMPARE(item("miniBoxProgress", box)->property("value").toDouble(), 0.25);
        // The lookup's end mark ends the run: the box goes, the dialog stays shut.
        emit controller()->updateProgress(QVariant(0), QVariant(0));
        QTRY_VERIFY(!box->isVisible());
        QVERIFY(!dialog->property("visible").toBool());
        // A transfer's progress is not put aside.
        QVERIFY(QMetaObject::invokeMethod(root(), "slShowTransferProgress"));
        QTRY_VERIFY(transfer->property("opened").toBool());
        QVERIFY(!transfer->property("contentItem").value<QQuickItem *>()->findChild<QQuickItem *>("progressHideButton")->isVisible());
        QVERIFY(QMetaObject::invokeMethod(root(), "slhideTransferProgress"));
    }

    void timeLeft_data()
    {
        QTest::addColumn<QStringList>("left");
        QTest::addColumn<QString>("shown");
        QTest::addRow("one second") << QStringList{"0", "0", "1"} << "Total for all current jobs: 1 Seconds";
        QTest::addRow("two seconds") << QStringList{"0", "0", "2"} << "Total for all current jobs: 0:00:02";
        QTest::addRow("an hour and one second") << QStringList{"1", "0", "1"} << "Total for all current jobs: 1:00:01";
        QTest::addRow("finished") << QStringList{"00", "00"} << "Optimisation is finished";
    }

    void timeLeft()
    {
        QFETCH(QStringList, left);
        QVERIFY(QMetaObject::invokeMethod(root(), "slVideoAproxTime", Q_ARG(QVariant, QVariant(left))));
        QTEST(object("videoTimeLeft")->property("text").toString(), "shown");
    }

private:
    void startApp()
    {
        app = std::make_unique<StartUp>();
        app->start();
        QVERIFY(root());
        app->viewer().showNormal();
        app->viewer().resize(1280, 800);
        QTRY_VERIFY(!controller()->isCheckingLibrary() && !controller()->isRefreshingViews());
        root()->setProperty("currentScreen", QStringLiteral("library"));
    }

    // Ticks the rows named `names` of `source` in `category` in the media
    // browser and adds them; returns once the add has ended (songs) or
    // handed its videos to the optimisation.
    void addFromBrowser(const QString &source, int category, const QStringList &names, const QString &told = QString())
    {
        QSignalSpy progress(controller(), &manager::updateProgressSearch);
        QTRY_VERIFY_WITH_TIMEOUT(!item("loadingOverlay")->isVisible(), 60000);
        QVERIFY(press("addMediaButton"));
        QQuickItem *browser = item("mediaBrowser");
        QTRY_VERIFY(browser->isVisible());
        // The overlay of a views rebuild holds input back until it ends.
        QTRY_VERIFY_WITH_TIMEOUT(!item("loadingOverlay")->isVisible(), 60000);
        if (browser->property("source").toString() != source) {
            QVERIFY(press("source_" + source));
            QTRY_COMPARE(browser->property("source").toString(), source);
        }
        if (browser->property("category").toInt() != category)
            QVERIFY(QMetaObject::invokeMethod(object("browserCategory"), "activated", Q_ARG(int, category)));
        const auto shown = [this, &names] {
            QStringList all;
            for (QObject *row : rows("albumModelDialog"))
                all << row->property("albumname").toString();
            return std::all_of(names.cbegin(), names.cend(), [&all](const QString &n) { return all.contains(n); });
        };
        QTRY_VERIFY_WITH_TIMEOUT(shown() && !controller()->mediaBrowser->isBuilding() &&
                                     !item("loadingOverlay")->isVisible(),
                                 60000);
        for (QObject *row : rows("albumModelDialog"))
            row->setProperty("selected", names.contains(row->property("albumname").toString()));
        // A run's status box leaves the button free.
        app->viewer().grabWindow();
        const auto area = [](QQuickItem *i) { return i->mapRectToScene(QRectF(0, 0, i->width(), i->height())); };
        QVERIFY(!item("videoStatusBox")->isVisible() ||
                !area(item("videoStatusBox")).intersects(area(item("browserAddButton"))));
        progress.clear();
        QVERIFY(press("browserAddButton"));
        // The add's end: its progress at one of one with no file named (or a
        // refusal).
        const auto ended = [&progress] {
            return std::any_of(progress.cbegin(), progress.cend(), [](const QList<QVariant> &step) {
                return step.at(0).value<QVariant>().toInt() == 1 && step.at(1).value<QVariant>().toInt() == 1 &&
                       step.at(2).value<QVariant>().toString().isEmpty();
            });
        };
        QObject *message = object("messageBox");
        QTRY_VERIFY_WITH_TIMEOUT(ended() || message->property("opened").toBool(), 120000);
        if (told.isEmpty()) {
            QVERIFY2(!message->property("opened").toBool(), qPrintable(message->property("message").toString()));
        } else {
            QTRY_VERIFY(message->property("opened").toBool());
            QCOMPARE(object("messageText")->property("text").toString(), told);
            QVERIFY(click("messageOkButton"));
            QTRY_VERIFY(!message->property("opened").toBool());
        }
        // Songs with incomplete tags go on to the lookup, whose dialog holds
        // the window until its end.
        QObject *lookup = object("progressDialog");
        QTRY_VERIFY_WITH_TIMEOUT(!controller()->libraryAdder->isBusy() && !controller()->isRefreshingViews() &&
                                     !lookup->property("running").toBool() && !lookup->property("visible").toBool(),
                                 120000);
    }

    // The names of the ticked rows of a library view.
    QStringList ticked(const char *model) const
    {
        QStringList names;
        for (QObject *row : rows(model))
            if (row->property("selected").toBool())
                names << row->property("albumname").toString();
        return names;
    }
    // The tiles of a grid that show their box ticked.
    QStringList tickedTiles(const char *grid)
    {
        QStringList names;
        app->viewer().grabWindow();
        for (QQuickItem *tile : item(grid)->property("contentItem").value<QQuickItem *>()->childItems()) {
            const QObject *row = tile->property("row").value<QObject *>();
            const QQuickItem *box = testkit::findItem(tile, QStringLiteral("tileCheckBox"));
            if (row && box && box->isVisible() && box->property("checked").toBool())
                names << row->property("albumname").toString();
        }
        return names;
    }
    // Clicks the tick box on the tile of `name` in a grid.
    bool tickTile(const char *grid, const QString &name)
    {
        app->viewer().grabWindow(); // a frame first: the tiles are laid out
        QQuickItem *view = item(grid);
        if (!view)
            return false;
        for (QQuickItem *tile : view->property("contentItem").value<QQuickItem *>()->childItems()) {
            const QObject *row = tile->property("row").value<QObject *>();
            QQuickItem *box = testkit::findItem(tile, QStringLiteral("tileCheckBox"));
            if (!row || !box || !box->isVisible() || row->property("albumname").toString() != name)
                continue;
            const QPointF centre = box->mapToScene(QPointF(box->width() / 2, box->height() / 2));
            QTest::mouseClick(&app->viewer(), Qt::LeftButton, Qt::NoModifier, centre.toPoint());
            return true;
        }
        return false;
    }

    QList<track> videos() const
    {
        QList<track> all;
        for (const track &t : std::as_const(controller()->libraryTracks))
            if (t.isVideo)
                all << t;
        return all;
    }
    bool hasSong(const QString &title) const
    {
        return std::any_of(controller()->libraryTracks.cbegin(), controller()->libraryTracks.cend(),
                           [&title](const track &t) { return t.trackname == title; });
    }
    QObjectList rows(const char *model) const
    {
        return app->viewer().rootContext()->contextProperty(QString::fromLatin1(model)).value<QObjectList>();
    }
    // A click of the mouse on the window's item, once it shows.
    bool press(const QString &name) { return testkit::clickItem(app->viewer(), name); }
    manager *controller() const { return app->controller(); }
    QQuickItem *root() const { return app->viewer().rootObject(); }
    QString text(const char *key) const
    {
        return app->viewer().rootContext()->contextProperty(QString::fromLatin1(key)).toString();
    }
    // An object of the window (or below `in`), popups and their contents included.
    QObject *object(const char *name, QObject *in = nullptr) const
    {
        QObject *from = in ? in : root();
        return from->findChild<QObject *>(QString::fromLatin1(name));
    }
    QQuickItem *item(const char *name, QObject *in = nullptr) const
    {
        return qobject_cast<QQuickItem *>(object(name, in));
    }
    bool click(const char *button) const
    {
        QObject *b = object(button);
        return b && QMetaObject::invokeMethod(b, "clicked");
    }

    QTemporaryDir dir;
    std::unique_ptr<testkit::MediaKit> kit;
    std::unique_ptr<StartUp> app;
    QString small, wide, gate;
};

CORVANE_TEST_MAIN(TestBackgroundRuns)
#include "tst_backgroundruns.moc"
