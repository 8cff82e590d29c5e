#include <QtTest>

#include <QAction>
#include <QMetaMethod>
#include <QPointer>
#include <QQmlContext>
#include <QQuickItem>
#include <QScreen>
#include <QTextBrowser>

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

// The arguments a root signal or function is called with in the contract
// test: root functions take variants (text first when there are one or three).
QVariantList argumentsFor(const QMetaMethod &method)
{
    if (method.name() == "continueDrive")
        return {QStringLiteral("/media/stick"), 0, 1, 0, 0};
    QVariantList values;
    for (int i = 0; i < method.parameterCount(); ++i) {
        if (method.parameterType(i) == QMetaType::QString)
            values << QStringLiteral("mymusic");
        else if (method.parameterType(i) == QMetaType::Bool)
            values << true;
        else if (method.parameterType(i) == QMetaType::Int)
            values << 2;
        else
            values << QVariant::fromValue(i == 0 && method.parameterCount() != 2 ? QVariant("Album") : QVariant(3));
    }
    return values;
}

// Rows of a Repeater are items of the scene, not children of the root object.
QQuickItem *findItem(QQuickItem *in, const QString &name)
{
    if (in->objectName() == name)
        return in;
    const QList<QQuickItem *> children = in->childItems();
    for (QQuickItem *child : children) {
        if (QQuickItem *found = findItem(child, name))
            return found;
    }
    return nullptr;
}

} // namespace

class TestStartUp : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void rootContract();
    void licenceOpensFromTheWindowAndTheMenu();
    void savedVehicleAtStart_data();
    void savedVehicleAtStart();
    void windowAndLog();

    void quickRefreshesPublishTheLatestLibrary();
    void progressOfTheLookupNeverReachesItsTotal_data();
    void progressOfTheLookupNeverReachesItsTotal();
    void progressBarWithoutReviewTracksReportsZero();
    void loadListClearsTheViewsTicks();
    void plainControllerMakesNoLinksAndClosesQuietly();
    void addMediaFromTheMusicFolderIntoTheLibrary();

private:
    void startApplication();

    std::unique_ptr<StartUp> app;
};

void TestStartUp::init()
{
    // QML warnings name their file.
    QTest::failOnWarning(QRegularExpression(QStringLiteral("\\.qml")));
    testkit::clearSettings();
}

void TestStartUp::cleanup()
{
    // The close runs after the warning check of the test function: it has its own.
    static QStringList closeWarnings;
    closeWarnings.clear();
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
            if (type != QtDebugMsg && type != QtInfoMsg && message.contains(QLatin1String(".qml")))
                closeWarnings << message;
        });
    app.reset();
    qInstallMessageHandler(previous);
    QVERIFY2(closeWarnings.isEmpty(), qPrintable(closeWarnings.join(QLatin1Char('\n'))));
}

void TestStartUp::startApplication()
{
    app = std::make_unique<StartUp>();
    app->start();
    QVERIFY(app->viewer().rootObject());
    QCoreApplication::processEvents();
}

void TestStartUp::rootContract()
{
    // Every link is made; each root signal reaches its slot, and each root
    // function takes the variants the controller and the transfer send.
    startApplication();
    QCOMPARE(app->failedLinks(), 0);
    QObject *root = app->viewer().rootObject();
    manager *controller = app->controller();
    QSignalSpy refreshed(controller, &manager::sgRefreshMain);
    QSignalSpy driveMessages(app->drive(), &Drive::showMessageBox);
    Drive::setFolderChooser([] { return QString(); });
    const QByteArrayList checked = QByteArray("loadlist loadmain setlibraryView setbrowserView setsettingsView "
                                              "sgMediaBrowserClosed sgCancelSearch removeTransfer continueDrive "
                                              "addToMediaLibrary searchMediaSource sgCancelVideOptimising "
                                              "populateAdvancedSettings advancedSettingsContinue")
                                       .split(' ');
    QSet<QByteArray> unchecked(checked.cbegin(), checked.cend());

    QList<StartUp::Link> links = StartUp::controllerLinks() + StartUp::driveLinks();
    // Signals first: a function's message box would hide the add's message.
    std::stable_partition(links.begin(), links.end(),
                          [](const StartUp::Link &l) { return l.sender == StartUp::Side::Root; });
    for (const StartUp::Link &link : std::as_const(links)) {
        const bool signal = link.sender == StartUp::Side::Root;
        const char *name = signal ? link.signal : link.method;
        // exeClose() ends the run: windowAndLog closes the window.
        if ((!signal && link.receiver != StartUp::Side::Root) || QByteArray(name) == "exeClose()")
            continue;
        const int index = root->metaObject()->indexOfMethod(name);
        QVERIFY2(index >= 0, name);
        const QMetaMethod method = root->metaObject()->method(index);
        const QVariantList values = argumentsFor(method);
        QVERIFY2(values.size() <= 5, name);
        QByteArray types[5];
        QGenericArgument arguments[5];
        for (int i = 0; i < values.size(); ++i) {
            types[i] = method.parameterTypeName(i);
            arguments[i] = QGenericArgument(types[i].constData(), values.at(i).constData());
        }
        const int refreshCount = int(refreshed.size());
        QVERIFY2(method.invoke(root, Qt::DirectConnection, arguments[0], arguments[1], arguments[2], arguments[3],
                               arguments[4]),
                 name);
        if (!signal)
            continue;

        // Keyed by the signal, so a link to a wrong slot or a missing one shows.
        const QByteArray sent = method.name();
        unchecked.remove(sent);
        if (sent == "loadlist" || sent == "loadmain") {
            QCOMPARE(int(refreshed.size()), refreshCount + 1);
        } else if (sent == "setlibraryView") {
            QCOMPARE(controller->libraryView, 2);
        } else if (sent == "setbrowserView") {
            QCOMPARE(controller->browserView, 2);
        } else if (sent == "setsettingsView") {
            QCOMPARE(controller->settingsView, 2);
        } else if (sent == "sgMediaBrowserClosed") {
            QVERIFY(controller->mediaBrowserClosed);
        } else if (sent == "sgCancelSearch") {
            QVERIFY(controller->scanner.isStopSearch && controller->libraryAdder->isStopCopy);
            controller->scanner.isStopSearch = false;
        } else if (sent == "removeTransfer") {
            // An action other than "remove" or "transfer" only empties the chosen tracks.
            QVERIFY(controller->chosenTracks.isEmpty());
        } else if (sent == "continueDrive") {
            QCOMPARE(driveMessages.last().first().toString(), QStringLiteral("Disk is Removed"));
        } else if (sent == "sgCancelVideOptimising") {
            QVERIFY(controller->videoOptimisation->videocan);
        } else if (sent == "addToMediaLibrary") {
            // Nothing ticked: the add says so.
            QObject *box = root->findChild<QObject *>(QStringLiteral("messageBox"));
            QTRY_COMPARE(box->property("message").toString(),
                         QStringLiteral("Please select at least one item to add in Media Library."));
        } else if (sent == "populateAdvancedSettings" || sent == "advancedSettingsContinue") {
            // The lookup waits while the dialog is open and goes on after Continue.
            QCOMPARE(controller->apiManager->doUpdate(), sent == "advancedSettingsContinue");
        } else if (sent == "searchMediaSource") {
            QCOMPARE(controller->mediaBrowser->mediasource, QStringLiteral("mymusic"));
        }
    }
    QVERIFY2(unchecked.isEmpty(), unchecked.values().join(' ').constData());
    Drive::setFolderChooser({});
}

void TestStartUp::licenceOpensFromTheWindowAndTheMenu()
{
    startApplication();
    Licence *licence = app->controller()->licenceViewer;
    QVERIFY(QMetaObject::invokeMethod(app->viewer().rootObject(), "sgShowLicence"));
    QVERIFY(licence->isVisible());
    // The terms with the notices of the libraries shipped with it, read as UTF-8.
    auto *text = licence->findChild<QTextBrowser *>(QStringLiteral("textBrowser"));
    QVERIFY(text->isReadOnly() && text->toPlainText().startsWith(QLatin1String("CORVANE MEDIA ORGANISER")));
    QVERIFY(text->toPlainText().contains(QString::fromUtf8("Lukáš Lalinský")));
    licence->hide();
    QCOMPARE(app->licenceAction()->menuRole(), QAction::ApplicationSpecificRole);
    app->licenceAction()->trigger();
    QVERIFY(licence->isVisible());
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
    QCOMPARE(written.value(QStringLiteral("Model")).toInt() + written.value(QStringLiteral("ModelYearIndex")).toInt(),
             kept ? 5 : 0);
    QQmlContext *context = app->viewer().rootContext();
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

    const QVariant published = context->contextProperty(QStringLiteral("albumsModel"));
    const QStringList albums = albumNames(published);
    QVERIFY2(albums.contains(QStringLiteral("Latest Album")), qPrintable(albums.join(QLatin1String(", "))));
    QCOMPARE(albums.size(), 9);
    // Rows published to QML live in the GUI thread.
    for (QObject *row : published.value<QList<QObject *>>())
        QCOMPARE(row->thread(), QThread::currentThread());

    // A third rebuild replaces the rows again; the old ones stay readable
    // until the next publication.
    QPointer<QObject> previous = published.value<QList<QObject *>>().first();
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
    QList<int> seen;
    for (const QVariantList &step : std::as_const(progress)) {
        QCOMPARE(step.at(0).value<QVariant>().toInt(), total);
        seen << step.at(1).value<QVariant>().toInt();
    }
    QCOMPARE(seen, counters);
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

void TestStartUp::loadListClearsTheViewsTicks()
{
    // Showing a view again drops the ticks of that view alone.
    manager controller(nullptr, nullptr);
    QSignalSpy refreshed(&controller, &manager::sgRefreshMain);
    for (int view : {0, 1, 2, 3, 9}) {
        controller.checkedAlbumIds = {2, 3};
        controller.checkedArtistIds = {2};
        controller.checkedTrackIds = {1, 5};
        controller.checkedPlaylistIds = {4};
        controller.setLibraryView(view);
        controller.populateMediaLibrary();
        const QList<bool> cleared{controller.checkedAlbumIds.isEmpty(), controller.checkedArtistIds.isEmpty(),
                                  controller.checkedTrackIds.isEmpty(), controller.checkedPlaylistIds.isEmpty()};
        QCOMPARE(cleared, (QList<bool>{view == 0, view == 1, view == 2, false}));
    }
    QCOMPARE(refreshed.size(), 5);
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
    auto click = [&view](const char *name) {
        QQuickItem *target = findItem(view.contentItem(), QString::fromLatin1(name));
        QVERIFY2(target && target->isVisible(), name);
        view.grabWindow(); // a frame first: the layouts settle
        QTest::mouseClick(&view, Qt::LeftButton, Qt::NoModifier,
                          target->mapToScene(QPointF(target->width() / 2, target->height() / 2)).toPoint());
    };
    QVERIFY(QMetaObject::invokeMethod(root, "showStartPage", Q_ARG(QVariant, QVariant(QStringLiteral("Model")))));

    click("startAddMediaButton");
    QTRY_VERIFY(findItem(root, QStringLiteral("mediaBrowser"))->isVisible());
    click("source_mymusic");
    QTRY_COMPARE_WITH_TIMEOUT(findItem(root, QStringLiteral("browserAlbumsGrid"))->property("count").toInt(), 2, 30000);
    QTRY_VERIFY(!findItem(root, QStringLiteral("loadingOverlay"))->isVisible());
    if (qEnvironmentVariableIsSet("CORVANE_SCREENSHOT"))
        view.grabWindow().save(qEnvironmentVariable("CORVANE_SCREENSHOT"));

    // Both ticked and added: copied into the library folder, stored, shown.
    click("browserSelectAll");
    click("browserAddButton");
    manager *controller = app->controller();
    QTRY_COMPARE_WITH_TIMEOUT(controller->libraryTracks.size(), 2, 30000);
    QTRY_VERIFY(findItem(root, QStringLiteral("libraryPanel"))->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(findItem(root, QStringLiteral("albumsViewGrid"))->property("count").toInt(), 2, 30000);
    const QString libraryFolder = shared::dataFolder() + QStringLiteral("/Music/Corvane Media Organiser/");
    for (const track &added : std::as_const(controller->libraryTracks))
        QVERIFY2(added.filepath.startsWith(libraryFolder) && QFileInfo::exists(added.filepath),
                 qPrintable(added.filepath));
}

CORVANE_TEST_MAIN(TestStartUp)
#include "tst_startup.moc"
