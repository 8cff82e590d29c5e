#include <QtTest>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMetaMethod>
#include <QPointer>
#include <QQmlContext>
#include <QQuickItem>
#include <QScreen>

#include <memory>

#include "app/libraryadder.h"
#include "app/licence.h"
#include "app/manager.h"
#include "app/mediabrowser.h"
#include "app/startup.h"
#include "app/videooptimisation.h"
#include "core/shared.h"
#include "delivery/combo.h"
#include "delivery/drive.h"
#include "lookup/apimanager.h"
#include "mediakit.h"
#include "testenv.h"

// The application started as main() starts it, offscreen, with the real
// interface: the contract between the QML root object and the controller and
// transfer dialog, the start-up decisions and the window, and the views
// rebuild.  Any QML warning fails the test.

namespace {

QStringList capturedQmlWarnings;
QtMessageHandler previousHandler = nullptr;

void captureMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QString file = QString::fromUtf8(context.file ? context.file : "");
    const QString category = QString::fromUtf8(context.category ? context.category : "");
    const bool fromQml = file.endsWith(QLatin1String(".qml")) || message.contains(QLatin1String(".qml")) ||
                         category.startsWith(QLatin1String("qml")) || category == QLatin1String("js");
    if (type != QtDebugMsg && type != QtInfoMsg && fromQml)
        capturedQmlWarnings.append(message);
    previousHandler(type, context, message);
}

QString debugLog()
{
    QFile file(shared::dataFolder() + QStringLiteral("/debug.log"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll());
}

track libraryTrack(int id, const QString &album, int albumId)
{
    track t;
    t.id = t.tracknumber = id;
    t.album_id = albumId;
    t.artist_id = albumId < 20 ? 2 : 3;
    t.albumName = album;
    t.artistName = QStringLiteral("Artist %1").arg(t.artist_id);
    t.trackname = QStringLiteral("Song %1").arg(id);
    t.filepath = QStringLiteral("/nowhere/%1/%2.mp3").arg(album).arg(id);
    return t;
}

QStringList albumNames(const QVariant &published)
{
    QStringList names;
    for (QObject *row : published.value<QList<QObject *>>())
        names.append(row->property("albumname").toString());
    return names;
}

} // namespace

class TestStartUp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void rootFunctionsTakeVariants();
    void rootSignalsReachTheirSlots();
    void licenceOpensFromTheWindow();

    void savedVehicleAtStart_data();
    void savedVehicleAtStart();
    void windowAndLog();

    void quickRefreshesPublishTheLatestLibrary();
    void progressOfTheLookupNeverReachesItsTotal_data();
    void progressOfTheLookupNeverReachesItsTotal();
    void progressBarWithoutReviewTracksReportsZero();
    void loadListClearsTheViewsTicks_data();
    void loadListClearsTheViewsTicks();
    void plainControllerMakesNoLinksAndClosesQuietly();
    void addMediaFromTheMusicFolderIntoTheLibrary();

private:
    void startApplication();

    std::unique_ptr<StartUp> app;
};

void TestStartUp::initTestCase()
{
    previousHandler = qInstallMessageHandler(captureMessages);
}

void TestStartUp::cleanupTestCase()
{
    qInstallMessageHandler(previousHandler);
}

void TestStartUp::init()
{
    capturedQmlWarnings.clear();
    testkit::clearSettings();
}

void TestStartUp::cleanup()
{
    app.reset();
    QVERIFY2(capturedQmlWarnings.isEmpty(), qPrintable(capturedQmlWarnings.join(QLatin1Char('\n'))));
}

void TestStartUp::startApplication()
{
    app = std::make_unique<StartUp>();
    app->start();
    QVERIFY(app->viewer().rootObject());
    QCoreApplication::processEvents();
}

void TestStartUp::rootFunctionsTakeVariants()
{
    startApplication();
    QObject *root = app->viewer().rootObject();
    QList<StartUp::Link> links = StartUp::controllerLinks();
    links += StartUp::driveLinks();
    QCOMPARE(app->failedLinks(), 0);
    for (const StartUp::Link &link : std::as_const(links)) {
        if (link.receiver != StartUp::Side::Root)
            continue;
        const int index = root->metaObject()->indexOfMethod(link.method);
        QVERIFY2(index >= 0, link.method);
        const QMetaMethod function = root->metaObject()->method(index);
        // Text first when there is one or three arguments, then numbers.
        const QVariant text(QStringLiteral("Album")), number(3);
        const int count = function.parameterCount();
        QVERIFY2(count <= 3, link.method);
        QGenericArgument arguments[3];
        for (int i = 0; i < count; ++i)
            arguments[i] = Q_ARG(QVariant, i == 0 && count != 2 ? text : number);
        const bool ok = function.invoke(root, Qt::DirectConnection, arguments[0], arguments[1], arguments[2]);
        QVERIFY2(ok, link.method);
    }
}

void TestStartUp::rootSignalsReachTheirSlots()
{
    startApplication();
    QObject *root = app->viewer().rootObject();
    manager *controller = app->controller();
    QSignalSpy refreshed(controller, &manager::sgRefreshMain);
    QSignalSpy driveMessages(app->drive(), &Drive::showMessageBox);
    Drive::setFolderChooser([] { return QString(); });

    QList<StartUp::Link> links = StartUp::controllerLinks();
    links += StartUp::driveLinks();
    // exeClose() ends the run: it goes last.
    std::stable_partition(links.begin(), links.end(),
                          [](const StartUp::Link &l) { return QByteArray(l.signal) != "exeClose()"; });

    for (const StartUp::Link &link : std::as_const(links)) {
        if (link.sender != StartUp::Side::Root)
            continue;
        const int index = root->metaObject()->indexOfSignal(link.signal);
        QVERIFY2(index >= 0, link.signal);
        const QMetaMethod signal = root->metaObject()->method(index);
        const int refreshCount = int(refreshed.size());
        bool emitted = false;
        switch (signal.parameterCount()) {
        case 0:
            emitted = signal.invoke(root, Qt::DirectConnection);
            break;
        case 1:
            if (signal.parameterType(0) == QMetaType::QString)
                emitted = signal.invoke(root, Qt::DirectConnection, Q_ARG(QString, QStringLiteral("mymusic")));
            else if (signal.parameterType(0) == QMetaType::Bool)
                emitted = signal.invoke(root, Qt::DirectConnection, Q_ARG(bool, true));
            else
                emitted = signal.invoke(root, Qt::DirectConnection, Q_ARG(int, 2));
            break;
        case 3:
            emitted = signal.invoke(root, Qt::DirectConnection, Q_ARG(QString, QStringLiteral("Album")), Q_ARG(int, 1),
                                    Q_ARG(bool, true));
            break;
        case 5:
            emitted = signal.invoke(root, Qt::DirectConnection, Q_ARG(QString, QStringLiteral("/media/stick")),
                                    Q_ARG(int, 0), Q_ARG(int, 1), Q_ARG(int, 0), Q_ARG(int, 0));
            break;
        default:
            QFAIL(link.signal);
        }
        QVERIFY2(emitted, link.signal);

        const QByteArray slot = QByteArray(link.method).left(QByteArray(link.method).indexOf('('));
        if (slot == "populateMediaLibrary" || slot == "refreshMain") {
            QCOMPARE(int(refreshed.size()), refreshCount + 1);
        } else if (slot == "setLibraryView") {
            QCOMPARE(controller->libraryView, 2);
        } else if (slot == "setBrowserView") {
            QCOMPARE(controller->browserView, 2);
        } else if (slot == "setSettingsView") {
            QCOMPARE(controller->settingsView, 2);
        } else if (slot == "slMediaBrowserClosed") {
            QVERIFY(controller->mediaBrowserClosed);
        } else if (slot == "slCancelSearch") {
            QVERIFY(controller->scanner.isStopSearch);
            controller->scanner.isStopSearch = false;
        } else if (slot == "exeRemoveTransfer") {
            // An action other than "remove" or "transfer" only empties the chosen tracks.
            QVERIFY(controller->chosenTracks.isEmpty());
        } else if (slot == "ContinueDrive") {
            QCOMPARE(driveMessages.last().first().toString(), QStringLiteral("Disk is Removed"));
        } else if (slot == "timerexe" || slot == "slProgressStoped" || slot == "openDialog") {
            // flag 2, no job and a cancelled folder dialog: nothing to show
        } else if (slot == "slCancelVideOptimising") {
            QVERIFY(controller->videoOptimisation->videocan);
        } else if (slot == "addToMainObject") {
            // Nothing ticked: the add says so.
            QObject *box = root->findChild<QObject *>(QStringLiteral("messageBox"));
            QTRY_COMPARE(box->property("message").toString(),
                         QStringLiteral("Please select at least one item to add in Media Library."));
        } else if (slot == "slCancelSearchCopy") {
            QVERIFY(controller->libraryAdder->isStopCopy);
        } else if (slot == "saveData") {
            QVERIFY(controller->closing);
            QVERIFY(debugLog().contains(QLatin1String(" - Closed RuVO\n")));
        } else if (slot == "slPopulateAdvancedSettings" || slot == "collectMediaToUpdate") {
            // The lookup waits while the dialog is open and goes on after Continue.
            QCOMPARE(controller->apiManager->doUpdate(), slot == "collectMediaToUpdate");
        } else if (slot == "searchInMediaSourceCache") {
            QCOMPARE(controller->mediaBrowser->mediasource, QStringLiteral("mymusic"));
        }
    }
    Drive::setFolderChooser({});
}

void TestStartUp::licenceOpensFromTheWindow()
{
    startApplication();
    QVERIFY(QMetaObject::invokeMethod(app->viewer().rootObject(), "sgShowLicence"));
    QVERIFY(app->controller()->licenceViewer->isVisible());
    app->controller()->licenceViewer->hide();
    QCOMPARE(app->licenceAction()->menuRole(), QAction::ApplicationSpecificRole);
    app->licenceAction()->trigger();
    QVERIFY(app->controller()->licenceViewer->isVisible());
}

void TestStartUp::savedVehicleAtStart_data()
{
    QTest::addColumn<QString>("saved"); // empty: first run
    QTest::addColumn<bool>("kept");
    QTest::addRow("first run") << QString() << false;
    QTest::addRow("model the vehicle table no longer lists") << "Roadster Discontinued" << false;
    QTest::addRow("listed model") << Combo().fillModelCombo().at(2) << true;
}

void TestStartUp::savedVehicleAtStart()
{
    QFETCH(QString, saved);
    QFETCH(bool, kept);
    Combo chooser;
    const QStringList models = chooser.fillModelCombo();
    if (!saved.isEmpty())
        testkit::saveVehicle(3, saved, 2, QStringLiteral("2012"));
    startApplication();
    const QString name = kept ? saved : QStringLiteral("Select");
    const QString year = kept ? QStringLiteral("2012") : QStringLiteral("Select");
    const QVariantMap written = testkit::savedVehicle();
    QCOMPARE(written.value(QStringLiteral("ModelName")).toString(), name);
    QCOMPARE(written.value(QStringLiteral("ModelYearValue")).toString(), year);
    if (!kept)
        QCOMPARE(written.value(QStringLiteral("Model")).toInt() +
                     written.value(QStringLiteral("ModelYearIndex")).toInt(),
                 0);
    QQmlContext *context = app->viewer().rootContext();
    QCOMPARE(context->contextProperty(QStringLiteral("SelectedModelName")).toString(), name);
    QCOMPARE(context->contextProperty(QStringLiteral("SelectedModelYearValue")).toString(), year);
    QObject *startPage = app->viewer().rootObject()->findChild<QObject *>(QStringLiteral("startPage"));
    QCOMPARE(startPage->property("savedModel").toString(), name);
    // The year list is the first model's, whichever model is saved.
    QCOMPARE(context->contextProperty(QStringLiteral("lstModel")).toStringList(), models);
    QCOMPARE(context->contextProperty(QStringLiteral("lstYear")).toStringList(), chooser.fillYearCombo(models.first()));
}

void TestStartUp::windowAndLog()
{
    startApplication();
    QmlApplicationViewer &view = app->viewer();
    QCOMPARE(view.title(), QStringLiteral("Corvane Media Organiser"));
    // The offscreen platform has no window manager: the hint itself is checked.
    QCOMPARE(view.minimumSize(), QSize(1024, 650));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QCOMPARE(view.rootContext()->contextProperty(QStringLiteral("screenWidth")).toLongLong(),
             qint64(screen.bottom()) + 1 - screen.top());
    QVERIFY(debugLog().contains(QLatin1String(" - Start RuVO\n")));
    QVERIFY(!debugLog().contains(QLatin1String("Closed RuVO")));

    // Closing the window ends the run through the interface's exeClose(),
    // and the close sequence runs once, however many ways the run ends.
    view.close();
    QCoreApplication::processEvents();
    QVERIFY(app->controller()->closing && app->controller()->scanner.isStopSearch);
    QCOMPARE(debugLog().count(QLatin1String(" - Closed RuVO\n")), 1);
    app.reset();
    QCOMPARE(debugLog().count(QLatin1String(" - Closed RuVO\n")), 1);
}

void TestStartUp::quickRefreshesPublishTheLatestLibrary()
{
    startApplication();
    manager *controller = app->controller();
    QQmlContext *context = app->viewer().rootContext();
    QSignalSpy shown(controller, &manager::sgShowLoading);
    QSignalSpy hidden(controller, &manager::sgHideLoading);
    QSignalSpy refreshed(controller, &manager::sgRefreshMain);

    for (int id = 1; id <= 40; ++id)
        controller->libraryTracks.insert(id,
                                         libraryTrack(id, QStringLiteral("First Album %1").arg(id % 8), 2 + id % 8));
    controller->refreshViews();
    controller->libraryTracks.insert(41, libraryTrack(41, QStringLiteral("Latest Album"), 20));
    controller->refreshViews();

    QVERIFY(hidden.wait(20000));
    QTest::qWait(100);
    QCOMPARE(shown.size(), 2);
    QCOMPARE(hidden.size(), 1);
    QVERIFY(!controller->isRefreshingViews() && refreshed.size() >= 1);

    const QStringList albums = albumNames(context->contextProperty(QStringLiteral("albumsModel")));
    QVERIFY2(albums.contains(QStringLiteral("Latest Album")), qPrintable(albums.join(QLatin1String(", "))));
    QCOMPARE(albums.size(), 9);

    // Rows published to QML live in the GUI thread.
    for (QObject *row : context->contextProperty(QStringLiteral("albumsModel")).value<QList<QObject *>>())
        QCOMPARE(row->thread(), QThread::currentThread());

    // A third rebuild replaces the rows again; the old ones stay readable
    // until the next publication.
    QPointer<QObject> previous =
        context->contextProperty(QStringLiteral("albumsModel")).value<QList<QObject *>>().first();
    controller->libraryTracks.remove(41);
    controller->refreshViews();
    QVERIFY(hidden.wait(20000));
    QCOMPARE(albumNames(context->contextProperty(QStringLiteral("albumsModel"))).size(), 8);
    QTest::qWait(50);
    QVERIFY2(previous, "the rows QML was bound to were freed at once");
}

void TestStartUp::progressOfTheLookupNeverReachesItsTotal_data()
{
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("calls");
    QTest::addColumn<QList<int>>("counters");

    QTest::addRow("eleven steps of ten") << 10 << 11 << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 9, 9};
    QTest::addRow("one step of one") << 1 << 2 << QList<int>{0, 0};
    QTest::addRow("past 32767 tracks") << 40000 << 3 << QList<int>{1, 2, 3};
}

void TestStartUp::progressOfTheLookupNeverReachesItsTotal()
{
    QFETCH(int, total);
    QFETCH(int, calls);
    QFETCH(QList<int>, counters);

    manager controller(nullptr, nullptr);
    QSignalSpy progress(&controller, &manager::updateProgress);
    controller.progressTotal = total;
    controller.apiProgressCount = 0;
    for (int i = 0; i < calls; ++i)
        controller.UpdateAPIProgress();
    QCOMPARE(int(progress.size()), counters.size());
    for (int i = 0; i < counters.size(); ++i) {
        QCOMPARE(progress.at(i).at(0).value<QVariant>().toInt(), total);
        QCOMPARE(progress.at(i).at(1).value<QVariant>().toInt(), counters.at(i));
    }
}

void TestStartUp::progressBarWithoutReviewTracksReportsZero()
{
    manager controller(nullptr, nullptr);
    QSignalSpy progress(&controller, &manager::updateProgress);
    controller.progressTotal = 7;
    controller.progressCount = 3;
    controller.updateProgressBar();
    controller.reviewTracks.insert(1, track());
    controller.progressTotal = controller.progressCount = 2;
    controller.updateProgressBar();
    QCOMPARE(QList<QVariantList>(progress), (QList<QVariantList>{{0, 0}, {2, 2}}));
}

void TestStartUp::loadListClearsTheViewsTicks_data()
{
    QTest::addColumn<int>("view");
    QTest::addColumn<bool>("albumsCleared");
    QTest::addColumn<bool>("artistsCleared");
    QTest::addColumn<bool>("tracksCleared");

    QTest::addRow("albums") << 0 << true << false << false;
    QTest::addRow("artists") << 1 << false << true << false;
    QTest::addRow("tracks") << 2 << false << false << true;
    QTest::addRow("outside the views") << 9 << false << false << false;
}

void TestStartUp::loadListClearsTheViewsTicks()
{
    QFETCH(int, view);
    QFETCH(bool, albumsCleared);
    QFETCH(bool, artistsCleared);
    QFETCH(bool, tracksCleared);

    manager controller(nullptr, nullptr);
    QSignalSpy refreshed(&controller, &manager::sgRefreshMain);
    controller.checkedAlbumIds = {2, 3};
    controller.checkedArtistIds = {2};
    controller.checkedTrackIds = {1, 5};
    controller.checkedPlaylistIds = {4};
    controller.setLibraryView(view);
    controller.populateMediaLibrary();
    QCOMPARE(refreshed.size(), 1);
    QCOMPARE(controller.checkedAlbumIds.isEmpty(), albumsCleared);
    QCOMPARE(controller.checkedArtistIds.isEmpty(), artistsCleared);
    QCOMPARE(controller.checkedTrackIds.isEmpty(), tracksCleared);
    QCOMPARE(controller.checkedPlaylistIds.size(), 1);
}

void TestStartUp::plainControllerMakesNoLinksAndClosesQuietly()
{
    const QString before = debugLog();
    {
        manager plain;
        QSignalSpy shown(&plain, &manager::sgShowLoading);
        plain.refreshViews();
        QCOMPARE(shown.size(), 0);
        QVERIFY(!plain.isRefreshingViews());
    }
    QCOMPARE(debugLog(), before);
}

void TestStartUp::addMediaFromTheMusicFolderIntoTheLibrary()
{
    // Two albums of kit media in the home's Music folder (8 s: past the
    // scan's size threshold).
    testkit::MediaKit kit(QStandardPaths::writableLocation(QStandardPaths::MusicLocation));
    testkit::MediaTags tags;
    tags.artist = QStringLiteral("Band");
    for (const char *album : {"Blue Hour", "Coastline"}) {
        tags.album = tags.title = QString::fromLatin1(album);
        QVERIFY2(!kit.mp3(tags.album + QStringLiteral(".mp3"), tags, QString(), 8).isEmpty(),
                 qPrintable(kit.lastError()));
    }
    startApplication();
    QmlApplicationViewer &view = app->viewer();
    view.showNormal();
    view.resize(1280, 800);
    QQuickItem *root = view.rootObject();
    // Rows of a Repeater are items of the scene, not children of the root object.
    std::function<QQuickItem *(QQuickItem *, const QString &)> find = [&find](QQuickItem *in, const QString &name) {
        if (in->objectName() == name)
            return in;
        const QList<QQuickItem *> children = in->childItems();
        for (QQuickItem *child : children) {
            if (QQuickItem *found = find(child, name))
                return found;
        }
        return static_cast<QQuickItem *>(nullptr);
    };
    auto click = [&view, &find](const char *name) {
        QQuickItem *target = find(view.contentItem(), QString::fromLatin1(name));
        QVERIFY2(target && target->isVisible(), name);
        view.grabWindow(); // a frame first: the layouts settle
        QTest::mouseClick(&view, Qt::LeftButton, Qt::NoModifier,
                          target->mapToScene(QPointF(target->width() / 2, target->height() / 2)).toPoint());
    };
    QVERIFY(QMetaObject::invokeMethod(root, "showStartPage", Q_ARG(QVariant, QVariant(QStringLiteral("Model")))));

    click("startAddMediaButton");
    QTRY_VERIFY(find(root, QStringLiteral("mediaBrowser"))->isVisible());
    click("source_mymusic");
    QQuickItem *albums = find(root, QStringLiteral("browserAlbumsGrid"));
    QTRY_COMPARE_WITH_TIMEOUT(albums->property("count").toInt(), 2, 30000);
    QTRY_VERIFY(!find(root, QStringLiteral("loadingOverlay"))->isVisible());
    if (qEnvironmentVariableIsSet("CORVANE_SCREENSHOT"))
        view.grabWindow().save(qEnvironmentVariable("CORVANE_SCREENSHOT"));

    // Both ticked and added: copied into the library folder, stored, shown.
    click("browserSelectAll");
    click("browserAddButton");
    manager *controller = app->controller();
    QTRY_COMPARE_WITH_TIMEOUT(controller->libraryTracks.size(), 2, 30000);
    QTRY_VERIFY(find(root, QStringLiteral("libraryPanel"))->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(find(root, QStringLiteral("albumsViewGrid"))->property("count").toInt(), 2, 30000);
    const QString libraryFolder = shared::dataFolder() + QStringLiteral("/Music/Corvane Media Organiser/");
    for (const track &added : std::as_const(controller->libraryTracks))
        QVERIFY2(added.filepath.startsWith(libraryFolder) && QFileInfo::exists(added.filepath),
                 qPrintable(added.filepath));
}

CORVANE_TEST_MAIN(TestStartUp)
#include "tst_startup.moc"
