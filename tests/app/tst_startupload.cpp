#include <QtTest>

#include <QQmlContext>
#include <QQuickItem>

#include "app/libraryadder.h"
#include "app/libraryremover.h"
#include "app/manager.h"
#include "app/mediabrowser.h"
#include "app/qmlapplicationviewer.h"
#include "app/startup.h"
#include "database/database.h"
#include "database/ruvodb.h"
#include "delivery/combo.h"
#include "artworkcachefile.h"
#include "ituneslibraryxml.h"
#include "libraryfixture.h"
#include "mediakit.h"
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

    // The iTunes artwork index is built beside the first frame: a scan
    // started at once, long before a large iTunes library is read, waits for
    // it and still finds the album's iTunes artwork.
    void scanAtStartFindsItunesArtwork()
    {
        const QString itunes = QFileInfo(MediaBrowser::itunesLibraryPath()).absolutePath();
        const QByteArray picture = "PNG-600";
        QVERIFY(testkit::touch(itunes + QStringLiteral("/Album Artwork/Cache/0F/0F-6C08B3E9D4D50F3A.itc2"),
                               testkit::cacheFile({testkit::image(picture, 600)})));
        // The album with artwork comes last, after tens of thousands of others.
        testkit::ItunesLibraryXml xml;
        constexpr int others = 50000;
        for (int id = 1; id <= others; ++id)
            xml.addTrack(id, {testkit::ItunesLibraryXml::string("Name", QStringLiteral("Song %1").arg(id)),
                              testkit::ItunesLibraryXml::string("Album", QStringLiteral("Album %1").arg(id / 12)),
                              testkit::ItunesLibraryXml::string("Persistent ID",
                                                                QStringLiteral("%1").arg(id, 16, 16, QChar('0')))});
        xml.addTrack(others + 1, {testkit::ItunesLibraryXml::string("Name", QStringLiteral("Late")),
                                  testkit::ItunesLibraryXml::string("Album", QStringLiteral("Night Drive")),
                                  testkit::ItunesLibraryXml::string("Persistent ID", "6C08B3E9D4D50F3A")});
        QVERIFY(xml.write(MediaBrowser::itunesLibraryPath()));
        const QString folder = testkit::testHome() + QStringLiteral("/Dropped");
        testkit::MediaKit kit(folder);
        // Long enough for the scans' size threshold; no picture of its own.
        QVERIFY(!kit.mp3(QStringLiteral("late.mp3"), {"Late", "Band", "Night Drive", "", "", 0, 0}, QString(), 8)
                     .isEmpty());
        auto cleanUp = qScopeGuard([&] {
            app.reset();
            QDir(itunes).removeRecursively();
        });

        app = std::make_unique<StartUp>();
        app->start();
        manager *controller = app->controller();
        QSignalSpy published(controller, &manager::sgRefreshBrowser);
        controller->mediaBrowser->chooseFolder = [folder] { return folder; };
        controller->searchInMediaSourceCache(QStringLiteral("browse"));
        QTRY_VERIFY_WITH_TIMEOUT(published.size() >= 1 && !controller->mediaBrowser->isBuilding(), 60000);
        QCOMPARE(controller->browserTracks.size(), 1);
        const track found = controller->browserTracks.first();
        QVERIFY2(found.hasCover, qPrintable(found.cover));
        QFile cover(found.cover);
        QVERIFY2(cover.open(QIODevice::ReadOnly), qPrintable(found.cover));
        QCOMPARE(cover.readAll(), picture);
    }

private:
    const QStringList albums{"Alpha", "Bravo", "Charlie"};
    std::unique_ptr<StartUp> app;
};

CORVANE_TEST_MAIN(TestStartUpLoad)
#include "tst_startupload.moc"
