#include <QtTest>

#include <QQmlContext>
#include <QQuickItem>

#include "app/libraryadder.h"
#include "app/manager.h"
#include "app/messagehandler.h"
#include "app/startup.h"
#include "app/videooptimisation.h"
#include "database/ruvodb.h"
#include "delivery/videoencoding.h"
#include "libraryfixture.h"
#include "mediakit.h"
#include "platform/externalprogram.h"
#include "testenv.h"

// Adding videos from the window's side: the optimisation dialog, the videos
// that reach the library, the database and the video view, the messages at
// the end, cancel, and what a skipped video's output may lose.
class TestVideoOptimisation : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        app.reset();
        ExternalProgram::setToolPath(ExternalProgram::Ffmpeg, QString());
    }
    void initTestCase()
    {
        kit = std::make_unique<testkit::MediaKit>(dir.path());
        small = kit->video(QStringLiteral("small clip.mp4"), 2, 640, 480);
        surround = kit->video(QStringLiteral("surround.mp4"), 2, 640, 480, QStringLiteral("-ac 6"));
        longer = kit->video(QStringLiteral("long.mkv"), 20, 1280, 720);
        QVERIFY(!small.isEmpty() && !surround.isEmpty() && !longer.isEmpty());
    }

    void init()
    {
        QDir(VideoEncoding::outputFolder()).removeRecursively();
        app = std::make_unique<StartUp>();
        app->start();
        QVERIFY(app->viewer().rootObject());
        // The tracks the last test left are checked after the first frame.
        QTRY_VERIFY(!controller()->isCheckingLibrary() && !controller()->isRefreshingViews());
    }

    void finishedAndRefusedVideos()
    {
        QSignalSpy shown(controller(), &manager::showMessageBox);
        QSignalSpy done(controller(), &manager::sgAllFileCompleteVideo);
        const QString broken = dir.filePath(QStringLiteral("broken.mp4"));
        QVERIFY(testkit::touch(broken, "not a video"));
        // A removed row leaves a gap: the next row's id is not the largest + 1.
        const int gap = ruvoDB().storeTrack(testkit::makeTrack(dir.filePath("gap.mp3")));
        QVERIFY(gap > 0 && testkit::exec("DELETE FROM tracks WHERE id = ?", {gap}));
        controller()->processingTracks = {{1, testkit::makeVideo(1, surround)},
                                          {2, testkit::makeVideo(2, small)},
                                          {3, testkit::makeVideo(3, surround)},
                                          {4, testkit::makeVideo(4, broken)}};
        controller()->startVideoOptimisation();
        QVERIFY(dialog()->property("opened").toBool());
        const QObjectList rows =
            app->viewer().rootContext()->contextProperty(QStringLiteral("optimisationVideoModel")).value<QObjectList>();
        QTRY_COMPARE(dialog()->findChild<QObject *>(QStringLiteral("videoRows"))->property("count").toInt(), 4);
        QVERIFY(done.wait(60000));
        QTRY_VERIFY(!dialog()->property("opened").toBool());
        QVERIFY(!controller()->videoOptimisation->isRunning());

        // The dialog's rows took the progress: refused and skipped ones -1, the copy 100.
        const auto status = [&rows](int i) { return rows.at(i)->property("status").toInt(); };
        QCOMPARE((QList<int>{status(0), status(1), status(2), status(3)}), (QList<int>{-1, 100, -1, -1}));

        // Text 2 once, however many were refused, then text 3 for the skipped one.
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown[0][0].value<QVariant>().toString(), MessageHandler().message(2));
        QCOMPARE(shown[1][0].value<QVariant>().toString(), MessageHandler().message(3));

        // The copy is in the library, the review list and the database.
        const QString output = VideoEncoding::outputFolder() + QStringLiteral("/small clip.mp4");
        const TrackMap stored = ruvoDB().loadDB();
        QCOMPARE(stored.size(), 1);
        QVERIFY(stored.first().filepath == output && stored.first().isVideo);
        QCOMPARE(controller()->libraryTracks.value(stored.firstKey()).filepath, output);
        QVERIFY(controller()->reviewTracks.contains(stored.firstKey()));

        // In the video view at once, with a picture.
        const QObjectList videoRows =
            app->viewer().rootContext()->contextProperty(QStringLiteral("videosModel")).value<QObjectList>();
        QCOMPARE(videoRows.size(), 1);
        QVERIFY(QFileInfo(videoRows.first()->property("coverart").toString()).isFile());
    }

    void cancelFromTheDialog()
    {
        QSignalSpy shown(controller(), &manager::showMessageBox);
        QSignalSpy done(controller(), &manager::sgAllFileCompleteVideo);
        QSignalSpy progress(controller(), &manager::sgUpdateProgressVideo);
        const int before = int(controller()->libraryTracks.size());
        const QString ranToItsEnd = holdConversions();
        // A refused video first: a cancelled run tells nothing of it either.
        controller()->processingTracks = {{1, testkit::makeVideo(1, surround)},
                                          {2, testkit::makeVideo(2, longer)},
                                          {3, testkit::makeVideo(3, small)}};
        controller()->startVideoOptimisation();
        QTRY_VERIFY_WITH_TIMEOUT(!progress.isEmpty() && progress.last().at(2).value<QVariant>().toInt() >= 0, 60000);
        QCOMPARE(controller()->videoOptimisation->multiChannelFiles.size(), 1);

        QVERIFY(QMetaObject::invokeMethod(
            app->viewer().rootObject()->findChild<QQuickItem *>(QStringLiteral("videoCancelButton")), "clicked"));
        QVERIFY(done.wait(120000));
        QVERIFY2(!QFileInfo::exists(ranToItsEnd), "the cancel must stop the conversion, not wait for it");
        QTRY_VERIFY(!controller()->videoOptimisation->isRunning());
        QVERIFY(shown.isEmpty());
        QCOMPARE(int(controller()->libraryTracks.size()), before);
        QCOMPARE(QDir(VideoEncoding::outputFolder()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    void closingStopsTheRun()
    {
        QSignalSpy progress(controller(), &manager::sgUpdateProgressVideo);
        const QString ranToItsEnd = holdConversions();
        controller()->processingTracks = {{1, testkit::makeVideo(1, longer)}};
        controller()->startVideoOptimisation();
        QTRY_VERIFY_WITH_TIMEOUT(!progress.isEmpty() && progress.last().at(2).value<QVariant>().toInt() >= 0, 60000);
        app.reset();
        QVERIFY2(!QFileInfo::exists(ranToItsEnd), "closing stops the conversion, it does not wait for it");
        QCOMPARE(QDir(VideoEncoding::outputFolder()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    void skippedOutputRemoval_data()
    {
        QTest::addColumn<QString>("where"); // only the first is removed
        QTest::addRow("own unstored output") << "own";
        QTest::addRow("outside the library folder") << "outside";
        QTest::addRow("an output the library holds") << "stored";
        QTest::addRow("a link in the library folder") << "link";
    }

    void skippedOutputRemoval()
    {
        QFETCH(QString, where);
        const QString folder = VideoEncoding::outputFolder();
        QVERIFY(QDir().mkpath(folder));
        const QString outside = dir.filePath(QStringLiteral("outside.mp4"));
        QVERIFY(QFile::copy(small, outside) || QFile::exists(outside));
        QString path = folder + QStringLiteral("/Clip.mp4");
        if (where == QLatin1String("outside"))
            path = outside;
        else if (where == QLatin1String("link"))
            QVERIFY(QFile::link(outside, path));
        else
            QVERIFY(QFile::copy(small, path));
        if (where == QLatin1String("stored")) {
            track held = testkit::makeVideo(900, small);
            held.filepath = path;
            controller()->libraryTracks.insert(900, held);
        }
        const QFile::Permissions permissions = QFileInfo(outside).permissions();

        track skipped = testkit::makeVideo(1, small);
        skipped.filepath = path;
        skipped.filesize = -1;
        controller()->slonSkipFile(skipped);
        QCOMPARE(!QFileInfo(path).exists() && !QFileInfo(path).isSymLink(), where == QLatin1String("own"));
        QVERIFY(QFileInfo::exists(outside));
        QCOMPARE(QFileInfo(outside).permissions(), permissions);
        QCOMPARE(controller()->videoOptimisation->skippedFiles, QStringList{skipped.filename});
    }

    void runReports_data()
    {
        QTest::addColumn<QString>("report");   // what the run says of video 1: complete, skip or refuse
        QTest::addColumn<bool>("cancelled");   // the user cancelled before the report arrived
        QTest::addColumn<QString>("reviewed"); // the review entry under id 1: this video, another video, a song
        QTest::addColumn<bool>("stored");
        QTest::addColumn<bool>("entryKept");

        QTest::addRow("a finished video is stored; its entry under its run id goes")
            << "complete" << false << "this video" << true << false;
        QTest::addRow("a finished video leaves another video's entry") << "complete" << false << "another video" << true
                                                                       << true;
        QTest::addRow("a video finishing during a cancel is not added") << "complete" << true << "this video" << false
                                                                        << true;
        QTest::addRow("a skipped video's own entry goes") << "skip" << false << "this video" << false << false;
        QTest::addRow("a skipped video leaves another video's entry") << "skip" << false << "another video" << false
                                                                      << true;
        QTest::addRow("a skipped video leaves a song's entry") << "skip" << false << "a song" << false << true;
        QTest::addRow("a refused video's own entry goes") << "refuse" << false << "this video" << false << false;
        QTest::addRow("a refused video leaves another video's entry") << "refuse" << false << "another video" << false
                                                                      << true;
    }

    // The controller's answer to each report of the conversion thread.
    void runReports()
    {
        QFETCH(QString, report);
        QFETCH(bool, cancelled);
        QFETCH(QString, reviewed);
        // A row stored first: the finished video's library id is not its run id.
        int filler = ruvoDB().storeTrack(testkit::makeTrack(dir.filePath("first.mp3")));
        if (filler == 1)
            filler = ruvoDB().storeTrack(testkit::makeTrack(dir.filePath("second.mp3")));
        QVERIFY(filler > 1);
        static int row = 0;
        track finished = testkit::makeVideo(1, small);
        finished.filepath = VideoEncoding::outputFolder() + QStringLiteral("/Reported %1.mp4").arg(++row);
        QVERIFY(QDir().mkpath(VideoEncoding::outputFolder()) && QFile::copy(small, finished.filepath));
        finished.filesize = QFileInfo(finished.filepath).size();
        track entry = testkit::makeVideo(1, reviewed == QLatin1String("another video") ? longer : small);
        if (reviewed == QLatin1String("a song")) {
            entry = testkit::makeTrack(dir.filePath("song.mp3"));
            entry.id = 1;
        }
        controller()->reviewTracks = {{1, entry}};
        const TrackMap before = controller()->libraryTracks;

        if (cancelled)
            controller()->slCancelVideOptimising();
        if (report == QLatin1String("complete")) {
            controller()->slupdateMainObjectVideo(finished);
        } else {
            finished.filesize = -1;
            if (report == QLatin1String("skip"))
                controller()->slonSkipFile(finished);
            else
                controller()->slonMultiChannelFile(finished);
        }

        int storedId = 0;
        for (const track &t : ruvoDB().loadDB()) {
            if (t.filepath == finished.filepath)
                storedId = t.id;
        }
        QFETCH(bool, stored);
        QCOMPARE(storedId > 0, stored);
        QCOMPARE(controller()->libraryTracks.size(), before.size() + (stored ? 1 : 0));
        QFETCH(bool, entryKept);
        QCOMPARE(controller()->reviewTracks.contains(1), entryKept);
        if (entryKept)
            QCOMPARE(controller()->reviewTracks.value(1).sourcePath, entry.sourcePath);
        if (stored)
            QVERIFY(storedId != 1 && controller()->reviewTracks.contains(storedId));
    }

    // Videos added while a run goes join it under ids after its own, with
    // rows in its dialog named as their tiles will be; their review entries
    // follow them to those ids; the rows shown keep their progress; and a
    // video the run has already is not taken twice.
    void videosJoinARun_data()
    {
        QTest::addColumn<int>("runSize");      // videos the run starts with
        QTest::addColumn<int>("joins");        // adds of two videos that join it
        QTest::addColumn<bool>("chosenAgain"); // each add also brings the video in hand again
        QTest::addRow("a run of one joined once") << 1 << 1 << false;
        QTest::addRow("a second join takes ids the run does not use") << 2 << 2 << false;
        QTest::addRow("a video chosen again while the run has it is listed once") << 1 << 2 << true;
    }

    void videosJoinARun()
    {
        QFETCH(int, runSize);
        QFETCH(int, joins);
        QFETCH(bool, chosenAgain);
        holdConversions();
        TrackMap run{{1, testkit::makeVideo(1, longer)}};
        if (runSize > 1)
            run.insert(2, testkit::makeVideo(2, surround));
        controller()->processingTracks = run;
        controller()->startVideoOptimisation();
        // The dialog shows the held conversion's progress in its row.
        QTRY_COMPARE_WITH_TIMEOUT(rows("optimisationVideoModel").value(0)->property("status").toInt(), 25, 60000);

        QStringList sources{longer};
        if (runSize > 1)
            sources << surround;
        int expectedIds = runSize;
        for (int join = 0; join < joins; ++join) {
            // An add of two videos, the second one to review (ids 1 and 2 in the add).
            const QString first = dir.filePath(QStringLiteral("join %1 a.mp4").arg(join));
            const QString second = dir.filePath(QStringLiteral("join %1 b.mp4").arg(join));
            QFile::remove(first);
            QFile::remove(second);
            QVERIFY(QFile::copy(small, first) && QFile::copy(small, second));
            const track reviewed = testkit::makeVideo(2, second);
            controller()->reviewTracks = {{2, reviewed}};
            controller()->processingTracks = {{1, testkit::makeVideo(1, first)}, {2, reviewed}};
            if (chosenAgain)
                controller()->processingTracks.insert(3, testkit::makeVideo(3, longer));
            QCOMPARE(controller()->libraryAdder->startVideoOptimisation(), chosenAgain ? 1 : 0);
            sources << first << second;
            expectedIds += 2;
            // The entry under the reviewed video's id in the run.
            const int reviewedId = expectedIds;
            QCOMPARE(controller()->reviewTracks.keys(), QList<int>{reviewedId});
            QCOMPARE(controller()->reviewTracks.value(reviewedId).sourcePath, reviewed.sourcePath);
            QCOMPARE(controller()->reviewTracks.value(reviewedId).id, reviewedId);
        }
        QList<int> ids, wanted;
        QStringList names, wantedNames;
        for (QObject *row : rows("optimisationVideoModel")) {
            ids << row->property("trackid").toInt();
            names << row->property("trackname").toString();
        }
        for (int id = 1; id <= expectedIds; ++id)
            wanted << id;
        for (const QString &source : std::as_const(sources))
            wantedNames << QFileInfo(source).completeBaseName();
        QCOMPARE(ids, wanted);
        QCOMPARE(names, wantedNames);
        // The row of the video in hand still shows its progress.
        QCOMPARE(rows("optimisationVideoModel").value(0)->property("status").toInt(), 25);
    }

    // An add's end rebuilds every view on a worker from the library as it
    // was then: a video the run stores meanwhile is in what it publishes.
    void videoStoredDuringAViewsRebuild()
    {
        track finished = testkit::makeVideo(1, small);
        finished.filepath = VideoEncoding::outputFolder() + QStringLiteral("/During a rebuild.mp4");
        QVERIFY(QDir().mkpath(VideoEncoding::outputFolder()) && QFile::copy(small, finished.filepath));
        finished.filesize = QFileInfo(finished.filepath).size();
        const qsizetype before = rows("videosModel").size();
        controller()->refreshViews();
        QVERIFY(controller()->isRefreshingViews());
        controller()->slupdateMainObjectVideo(finished);
        QCOMPARE(rows("videosModel").size(), before + 1);
        QTRY_VERIFY_WITH_TIMEOUT(!controller()->isRefreshingViews(), 60000);
        QCOMPARE(rows("videosModel").size(), before + 1);
    }

    // A stored video changes the video view alone: the window is not made to
    // take the other six views again (each a turn of its event loop, long
    // ones in a large library) while a run goes on.
    void storedVideoRepublishesItsViewAlone()
    {
        QObject *panel = app->viewer().rootObject()->findChild<QObject *>(QStringLiteral("libraryPanel"));
        QVERIFY(panel);
        panel->setProperty("currentView", 6);
        QTRY_COMPARE(panel->property("waitingViews").toInt(), 0); // the views of the start are taken
        track finished = testkit::makeVideo(1, small);
        finished.filepath = VideoEncoding::outputFolder() + QStringLiteral("/Stored alone.mp4");
        QVERIFY(QDir().mkpath(VideoEncoding::outputFolder()) && QFile::copy(small, finished.filepath));
        finished.filesize = QFileInfo(finished.filepath).size();
        const qsizetype before = rows("videosModel").size();
        QSignalSpy waiting(panel, SIGNAL(waitingViewsChanged()));
        QSignalSpy refreshed(controller(), &manager::sgRefreshMain);
        controller()->slupdateMainObjectVideo(finished);
        QCOMPARE(rows("videosModel").size(), before + 1);
        QCOMPARE(refreshed.size(), 1);
        QCOMPARE(waiting.size(), 0);
        QCOMPARE(panel->property("waitingViews").toInt(), 0);
    }

private:
    QObjectList rows(const char *model) const
    {
        return app->viewer().rootContext()->contextProperty(QString::fromLatin1(model)).value<QObjectList>();
    }

    // Conversions report some progress and then wait for ffmpeg's quit key;
    // only one that is never stopped runs on to its own end, which it marks
    // in the returned file.  Everything else ffmpeg does runs at once.
    QString holdConversions()
    {
        const QString marker = dir.filePath(QStringLiteral("conversion ran to its end"));
        QFile::remove(marker);
        const QString tool = testkit::MediaKit::fakeTool(
            dir.path(), QStringLiteral("held-ffmpeg"),
            QStringLiteral("case \"$*\" in *libx264*) eval last=\\${$#}; echo partial > \"$last\"\n"
                           "echo 'frame= 50 fps= 25 q=29.0 time=00:00:05.00'\n"
                           "timeout 100 head -c 1 >/dev/null || touch '%1'; exit 0;; esac\nexec ffmpeg \"$@\"")
                .arg(marker));
        ExternalProgram::setToolPath(ExternalProgram::Ffmpeg, tool);
        return marker;
    }

    manager *controller() const { return app->controller(); }
    QObject *dialog() const
    {
        return app->viewer().rootObject()->findChild<QObject *>(QStringLiteral("videoOptimisationDialog"));
    }
    QTemporaryDir dir;
    std::unique_ptr<testkit::MediaKit> kit;
    std::unique_ptr<StartUp> app;
    QString small, surround, longer;
};

CORVANE_TEST_MAIN(TestVideoOptimisation)
#include "tst_videooptimisation.moc"
