#include <QtTest>

#include "app/albumdatamodel.h"
#include "app/libraryadder.h"
#include "app/libraryremover.h"
#include "app/manager.h"
#include "app/messagehandler.h"
#include "app/startup.h"
#include "core/workguard.h"
#include "database/ruvodb.h"
#include "delivery/drive.h"
#include "libraryfixture.h"
#include "testenv.h"

using Work = WorkGuard::Work;
Q_DECLARE_METATYPE(WorkGuard::Work)

// Work that can't run together: each operation, asked for while another
// runs, is refused with the message of the running work, or runs.
class TestWorkGuard : public QObject
{
    Q_OBJECT

private slots:
    void refusals_data()
    {
        QTest::addColumn<Work>("running");
        // add, remove, transfer, video transfer, format (the dialog's confirmation),
        // hand-over, video hand-over (the library's TRANSFER)
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("refused");

        QTest::addRow("an add during an add") << Work::Add << "add" << true;
        QTest::addRow("an add during a removal") << Work::Remove << "add" << true;
        QTest::addRow("an add during a video run runs") << Work::VideoRun << "add" << false;
        QTest::addRow("an add during a transfer runs") << Work::Transfer << "add" << false;
        QTest::addRow("an add during a format runs") << Work::Format << "add" << false;
        QTest::addRow("a removal during a transfer") << Work::Transfer << "remove" << true;
        QTest::addRow("a removal during a format step") << Work::Format << "remove" << false;
        QTest::addRow("a removal during an add") << Work::Add << "remove" << true;
        QTest::addRow("a removal during a video run runs") << Work::VideoRun << "remove" << false;
        QTest::addRow("a removal during the file check") << Work::FileCheck << "remove" << true;
        QTest::addRow("a transfer during a removal") << Work::Remove << "transfer" << true;
        QTest::addRow("a transfer during a transfer") << Work::Transfer << "transfer" << true;
        QTest::addRow("a transfer during a format") << Work::Format << "transfer" << true;
        QTest::addRow("a transfer during an add runs") << Work::Add << "transfer" << false;
        QTest::addRow("a transfer of songs during a video run runs") << Work::VideoRun << "transfer" << false;
        QTest::addRow("a transfer of videos during a video run") << Work::VideoRun << "video transfer" << true;
        QTest::addRow("a format during a transfer") << Work::Transfer << "format" << true;
        QTest::addRow("a format during the file check runs") << Work::FileCheck << "format" << false;
        QTest::addRow("a hand-over during a removal") << Work::Remove << "hand-over" << true;
        QTest::addRow("a hand-over of songs during a video run runs") << Work::VideoRun << "hand-over" << false;
        QTest::addRow("a hand-over of videos during a video run") << Work::VideoRun << "video hand-over" << true;
        QTest::addRow("a hand-over of videos during an add runs") << Work::Add << "video hand-over" << false;
        QTest::addRow("an add while the library loads") << Work::LibraryLoad << "add" << true;
        QTest::addRow("a removal while the library loads") << Work::LibraryLoad << "remove" << true;
        QTest::addRow("a transfer of handed-over tracks while the library loads runs")
            << Work::LibraryLoad << "transfer" << false;
        QTest::addRow("a hand-over while the library loads") << Work::LibraryLoad << "hand-over" << true;
    }

    void refusals()
    {
        QFETCH(Work, running);
        QFETCH(QString, action);
        QFETCH(bool, refused);
        const WorkGuard::Watch busy(running, [] { return true; });

        manager controller;
        controller.libraryAdder->setBrowserRowsProvider([] { return LibraryAdder::BrowserRows(); });
        Drive drive([](const QString &, const QVariant &) {}, [](const QString &key) { return "text " + key; },
                    nullptr);
        QSignalSpy told(&controller, &manager::showMessageBox);
        QSignalSpy driveTold(&drive, &Drive::showMessageBox);
        QString ranWith; // the message the operation gives when it runs
        if (action == "add") {
            controller.addToMainObject();
            ranWith = MessageHandler().message(4); // nothing chosen
        } else if (action == "remove") {
            controller.removeAll({}, {}, {}, {});
            QTRY_VERIFY(!controller.libraryRemover().isRunning());
        } else if (action.endsWith("hand-over")) {
            // One ticked row of the video or the track view.
            track t = testkit::makeTrack(dir.filePath("clip.mp4"));
            t.id = 1;
            t.isVideo = action == "video hand-over";
            controller.libraryTracks.insert(1, t);
            controller.libraryView = t.isVideo ? 6 : 0;
            (t.isVideo ? controller.libraryViews.videoModels : controller.libraryViews.albumModels)
                .models.insert("row", new AlbumDataModel(t.isVideo ? 1 : t.album_id, {}, {}, 0, true, true, {},
                                                         &controller));
            QSignalSpy handedOver(&controller, &manager::showTransferBrowser);
            controller.exeRemoveTransfer("transfer");
            QCOMPARE(handedOver.size(), refused ? 0 : 1);
        } else {
            track t = testkit::makeTrack(dir.filePath("clip.mp4"));
            t.id = 1;
            t.isVideo = action == "video transfer";
            Drive::getInstance()->TransferDetails({{1, t}});
            drive.ContinueDrive(dir.filePath("no stick"), action == "format", 0, 0, 0);
            ranWith = "text 7"; // the target is not there
        }
        QList<QVariant> messages;
        for (const QList<QVariant> &m : std::as_const(told))
            messages << m.first();
        for (const QList<QVariant> &m : std::as_const(driveTold))
            messages << m.first();
        if (refused)
            QCOMPARE(messages, QList<QVariant>{WorkGuard::refusal(running)});
        else
            QCOMPARE(messages, ranWith.isEmpty() ? QList<QVariant>() : QList<QVariant>{ranWith});
    }

    // Each running work has a message of its own.
    void oneMessageEach()
    {
        QSet<QString> texts;
        for (Work w : {Work::Add, Work::Remove, Work::Format, Work::Transfer, Work::VideoRun, Work::FileCheck,
                       Work::LibraryLoad})
            texts.insert(WorkGuard::refusal(w));
        QCOMPARE(texts.size(), 7);
        QVERIFY(!texts.contains(QString()));
    }

    // A song whose stored copy went missing is a duplicate only until the
    // start-up check has dropped its row: an add asked for meanwhile waits
    // for the check, and is not refused.
    void addWaitsForTheFileCheck()
    {
        const QString gone = dir.filePath("songs/gone.mp3");
        QVERIFY(testkit::touch(dir.filePath("songs/kept.mp3")));
        int goneId = 0;
        {
            StartUp first;
            first.start();
            // The library is open once it is checked, after the first frame.
            QTRY_VERIFY(!first.controller()->isCheckingLibrary());
            goneId = ruvoDB().storeTrack(testkit::makeTrack(gone));
            QVERIFY(goneId > 0);
        }
        // A removal, as far as the guard knows, holds the check back until
        // the library is loaded: then the add is asked for during the check.
        bool holdCheck = true;
        const WorkGuard::Watch hold(Work::Remove, [&holdCheck] { return holdCheck; });
        StartUp app;
        app.start();
        manager *controller = app.controller();
        QTRY_VERIFY_WITH_TIMEOUT(controller->libraryTracks.contains(goneId), 30000);
        QVERIFY(controller->isCheckingLibrary());
        holdCheck = false;
        bool missingSongGone = false;
        QSignalSpy told(controller, &manager::showMessageBox);
        connect(controller, &manager::showMessageBox, this,
                [&] { missingSongGone = !controller->libraryTracks.contains(goneId); });
        controller->addToMainObject();
        QVERIFY(told.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!told.isEmpty(), 30000);
        // The add ran (and found nothing chosen) after the check had dropped the row.
        QCOMPARE(told.first().first().toString(), MessageHandler().message(4));
        QVERIFY(missingSongGone);
        QVERIFY(!controller->isCheckingLibrary());
    }

private:
    QTemporaryDir dir;
};

CORVANE_TEST_MAIN(TestWorkGuard)
#include "tst_workguard.moc"
