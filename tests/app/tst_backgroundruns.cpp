#include <QtTest>

#include <QQmlContext>
#include <QQuickItem>

#include "app/manager.h"
#include "app/startup.h"
#include "app/videooptimisation.h"
#include "core/workguard.h"
#include "libraryfixture.h"
#include "delivery/videoencoding.h"
#include "mediakit.h"
#include "platform/externalprogram.h"
#include "testenv.h"

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
        app = std::make_unique<StartUp>();
        app->start();
        QVERIFY(root());
        QTRY_VERIFY(!controller()->isCheckingLibrary() && !controller()->isRefreshingViews());
        root()->setProperty("currentScreen", QStringLiteral("library"));
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

        // What conflicts with the run is refused with its message.
        QVERIFY(QMetaObject::invokeMethod(root(), "addToMediaLibrary"));
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
