#include <QtTest>

#include <QQmlContext>
#include <QQuickItem>

#include "app/libraryadder.h"
#include "app/libraryremover.h"
#include "app/manager.h"
#include "app/qmlapplicationviewer.h"
#include "app/startup.h"
#include "database/database.h"
#include "database/ruvodb.h"
#include "delivery/combo.h"
#include "libraryfixture.h"
#include "testenv.h"

// Start-up with a library: the window is up before the library is read,
// the library's actions wait for it, and its views fill once it is there.
class TestStartUpLoad : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        Database library;
        QVERIFY(library.connect(QStringLiteral("RuvoData"), true));
        library.create();
        for (const QString &album : albums) {
            const QString path = QStringLiteral("%1/Music/%2/%2.mp3").arg(testkit::testHome(), album);
            QVERIFY(testkit::touch(path) && ruvoDB().insertDataOne(testkit::makeTrack(path, album)));
        }
        Combo chooser;
        const QString model = chooser.fillModelCombo().value(1);
        testkit::saveVehicle(1, model, 1, chooser.fillYearCombo(model).value(1));
    }

    void cleanup() { app.reset(); }

    // Each action that works on the library, asked before its rows are read.
    void actionsWaitForTheLibrary_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addRow("add to the library") << "add";
        QTest::addRow("remove from the library") << "remove";
        QTest::addRow("remove the ticked rows") << "removeAll";
        QTest::addRow("transfer to the car") << "transfer";
        QTest::addRow("advanced settings") << "settings";
        QTest::addRow("look up missing data") << "lookup";
    }

    void actionsWaitForTheLibrary()
    {
        QFETCH(QString, action);
        app = std::make_unique<StartUp>();
        app->start();
        manager *controller = app->controller();
        // The window is up, the library not yet published.
        QVERIFY(app->viewer().rootObject());
        QVERIFY(app->viewer().isVisible());
        QVERIFY(controller->isCheckingLibrary());

        QSignalSpy told(controller, &manager::showMessageBox);
        const auto ask = [&] {
            if (action == QLatin1String("add"))
                controller->addToMainObject();
            else if (action == QLatin1String("remove"))
                controller->exeRemoveTransfer(QStringLiteral("remove"));
            else if (action == QLatin1String("removeAll"))
                controller->removeAll({}, {1}, {}, {});
            else if (action == QLatin1String("transfer"))
                controller->exeRemoveTransfer(QStringLiteral("transfer"));
            else if (action == QLatin1String("settings"))
                controller->slPopulateAdvancedSettings();
            else
                controller->collectMediaToUpdate();
        };
        ask();
        QCOMPARE(told.size(), 1);
        QVERIFY(told.at(0).at(0).toString().contains(QLatin1String("still loading")));
        QVERIFY(!controller->libraryAdder->isBusy());
        QVERIFY(!controller->libraryRemover().isRunning());
        QCOMPARE(testkit::count(QStringLiteral("tracks")), int(albums.size()));

        // The views fill and the loading state goes once the rows are there.
        QTRY_VERIFY_WITH_TIMEOUT(!controller->isCheckingLibrary() && !controller->isRefreshingViews(), 30000);
        QCOMPARE(controller->libraryTracks.size(), albums.size());
        QStringList shown;
        for (const QObject *row :
             app->viewer().rootContext()->contextProperty(QStringLiteral("albumsModel")).value<QList<QObject *>>())
            shown << row->property("albumname").toString();
        shown.sort();
        QCOMPARE(shown, albums);
        QQuickItem *root = app->viewer().rootObject();
        QTRY_COMPARE(root->property("currentScreen").toString(), QStringLiteral("library"));
        QCOMPARE(root->findChild<QObject *>(QStringLiteral("loadingOverlay"))->property("loading").toBool(), false);
        QVERIFY(!controller->refusedWhileLoading());
    }

private:
    const QStringList albums{"Alpha", "Bravo", "Charlie"};
    std::unique_ptr<StartUp> app;
};

CORVANE_TEST_MAIN(TestStartUpLoad)
#include "tst_startupload.moc"
