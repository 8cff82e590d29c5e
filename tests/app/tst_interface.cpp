#include <QtTest>

#include <QAction>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QMetaMethod>
#include <QPointer>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextBrowser>

#include <memory>

#include "app/advancedsettings.h"
#include "app/albumdatamodel.h"
#include "app/artistdatamodel.h"
#include "app/libraryadder.h"
#include "app/licence.h"
#include "app/manager.h"
#include "app/mediabrowser.h"
#include "app/messagehandler.h"
#include "app/startup.h"
#include "app/trackdatamodel.h"
#include "app/tracklist.h"
#include "app/videooptimisation.h"
#include "core/shared.h"
#include "database/database.h"
#include "database/ruvodb.h"
#include "delivery/combo.h"
#include "delivery/drive.h"
#include "ituneslibraryxml.h"
#include "libraryfixture.h"
#include "lookup/apimanager.h"
#include "mediakit.h"
#include "platform/temporaryfiles.h"
#include "testenv.h"

// The interface.  First the QML screens on their own: the real main.qml, as
// the build lays it out beside bin/, in the real viewer, fed with real row
// objects.  Then the application started as main() starts it, offscreen: the
// contract between the QML root object and the controller and transfer
// dialog, the start-up decisions and the window, the views rebuild, and the
// advanced settings with both of their services on a local HTTP server.  Any
// warning fails a test.

namespace {

const QStringList libraryModels = QStringLiteral("albumsModel artistsModel tracksModel playlistsModel podcastsModel "
                                                 "audiobooksModel videosModel")
                                      .split(QLatin1Char(' '));

// Every other context property main.qml reads.
const QStringList otherProperties =
    QStringLiteral("isDB defaultFountSze SelectedModelName SelectedModelYearValue onMac screenWidth lstModel lstYear "
                   "driveList protectedTracksModel drivedetails missingMediaData poorMediaQuality albumDetailsDialog "
                   "artistDetailsDialog trackDetailsDialog albumModelDialog artistsModelDialog tracksModelDialog "
                   "optimisationVideoModel browserCategoryCounts browserEmptyReason")
        .split(QLatin1Char(' '));

const QString band = QStringLiteral("The Example Band");
const QString noArtwork = QStringLiteral("qrc:///resources/photos/no_artwork.png");

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

// A query value read as a web server reads it ("+" is a space), so an
// encoding fault in a name shows.
QString formValue(const QUrl &url, const QString &key)
{
    QByteArray raw = QUrlQuery(url).queryItemValue(key, QUrl::FullyEncoded).toLatin1();
    return QUrl::fromPercentEncoding(raw.replace('+', ' '));
}

// Review tracks, ids 1, 2, ... from "<album>:<flags>" each: "m" marks missing
// data, a digit is the quality, and an album beginning with "-" marks the
// track's rows unticked.
TrackMap reviewTracks(const QStringList &items)
{
    TrackMap tracks;
    for (const QString &item : items) {
        track t;
        t.id = int(tracks.size()) + 1;
        t.albumName = item.section(QLatin1Char(':'), 0, -2);
        t.trackname = QStringLiteral("Song %1").arg(t.id);
        t.folderLocation = QStringLiteral("/music/band");
        t.isMissingData = item.contains(QLatin1String(":m"));
        t.quality = item.right(1).toInt();
        t.hasArtist = t.hasAlbum = t.hasTitle = true;
        tracks.insert(t.id, t);
    }
    return tracks;
}

} // namespace

class TestInterface : public QObject
{
    Q_OBJECT

public slots:
    // What the program opens in the browser.
    void open(const QUrl &url) { browsed << url; }

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void loadsWithoutWarnings_data();
    void loadsWithoutWarnings();
    void libraryScreens();

    void rootContract();
    void savedVehicleAtStart_data();
    void savedVehicleAtStart();
    void textsLicenceAndClose();
    void quickRefreshesPublishTheLatestLibrary();
    void libraryViewsTakeTheirRowsInTurns();
    void progressCounters();
    void controllerWithoutWindow();
    void advancedSettingsDialog();
    void lookupCancel_data();
    void lookupCancel();
    void lookupCancelledMidwayIsToldAsACancel_data();
    void lookupCancelledMidwayIsToldAsACancel();
    void linkTab_data();
    void linkTab();
    void addMediaFromTheMusicFolderIntoTheLibrary();
    void emptyCategoryNamesWhereTheMediaAre();
    void browserSelectAllShowsTheRows();
    void emptyTextWaitsForTheScan();
    void vehicleButtonHasAWayBack();
    void itunesWithNothingToTakeSaysWhy_data();
    void itunesWithNothingToTakeSaysWhy();

private:
    enum class Fill { Nulls, Rows };

    bool makeViewer(Fill fill);
    void publish(Fill fill);
    void startApplication();
    // Two albums of kit media in the home's Music folder (8 s: past the
    // scan's size threshold).
    void makeTwoAlbums();
    // The media browser opened from the start page.
    void openMediaBrowser();
    // Stands in for the lookup's completion: records the ids it completes.
    ApiManager::Steps lookupStandIn();
    void openAdvancedSettings(const QStringList &reviewItems);
    // The screens on their own, or the whole application's window.
    QmlApplicationViewer *window() const { return app ? &app->viewer() : viewer.get(); }
    QObject *root() const { return window()->rootObject(); }
    QQuickItem *item(const QString &name, QQuickItem *in = nullptr) const;
    QObjectList rows(const char *model) const;
    bool call(const char *function, const QVariantList &arguments = {});
    void click(QQuickItem *target);
    void activate(QQuickItem *combo, int index);
    QObjectList trackRows(const QString &group, int tracks);

    std::unique_ptr<QmlApplicationViewer> viewer;
    std::unique_ptr<StartUp> app;
    QObject rowOwner; // parent of every row object
    QString coverPath;
    void answer(QTcpSocket *socket);
    QTcpServer service;   // the iTunes search service and the web shop
    QStringList searched; // terms the iTunes search service was asked for
    QList<QUrl> browsed;
    QList<int> completed; // by the lookup
};

void TestInterface::initTestCase()
{
    // A real cover in the temporary home: paths with a "#" still load.
    const QString folder = testkit::testHome() + QStringLiteral("/covers #1");
    QVERIFY(QDir().mkpath(folder));
    coverPath = folder + QStringLiteral("/cover.png");
    QImage cover(64, 64, QImage::Format_RGB32);
    cover.fill(QColor(200, 60, 40));
    QVERIFY(cover.save(coverPath));

    connect(&service, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = service.nextPendingConnection())
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { answer(socket); });
    });
    QVERIFY(service.listen(QHostAddress::LocalHost));
    QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open");
    ApiManager::getinstance()->setSteps(lookupStandIn());
}

ApiManager::Steps TestInterface::lookupStandIn()
{
    ApiManager::Steps steps;
    steps.complete = [this](const track &t) {
        completed << t.id;
        return t;
    };
    return steps;
}

// The iTunes search service: "Unknown" gets an HTTP error, "Silent" no answer
// at all, a few names answers that must open nothing, any other its store page.
void TestInterface::answer(QTcpSocket *socket)
{
    const QString term = formValue(QUrl(QString::fromLatin1(socket->readAll().split(' ').value(1))), "term");
    searched << term;
    if (term == "Silent")
        return;
    const QMap<QString, QString> odd{{"Cover", "https://music.example/art/cover.JPG"},
                                     {"Script", "file://music.example/etc/passwd"},
                                     {"Long", "https://music.example/" + QString(480, 'x')}};
    QUrl store(QStringLiteral("https://music.example/album"));
    store.setQuery(QStringLiteral("n=") + QString::fromLatin1(QUrl::toPercentEncoding(term)));
    const QByteArray url = odd.value(term, store.toString(QUrl::FullyEncoded)).toUtf8();
    QByteArray body = R"({"resultCount":2,"results":[{"artworkUrl100":"https://i.example/a.jpg",)"
                      R"("collectionViewUrl":")" +
                      url + R"("},{"collectionViewUrl":"https://m.example/2"}]})";
    if (term == "Empty")
        body.clear();
    socket->write((term == "Unknown" ? "HTTP/1.1 500 Oops\r\n" : "HTTP/1.1 200 OK\r\n") +
                  QByteArray("Connection: close\r\nContent-Length: ") + QByteArray::number(body.size()) + "\r\n\r\n" +
                  body);
    socket->disconnectFromHost();
}

void TestInterface::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
}

void TestInterface::init()
{
    // Any warning but the offscreen platform's about the licence dialog.
    QTest::failOnWarning(QRegularExpression(QStringLiteral("^(?!This plugin does not support propagateSizeHints)")));
    testkit::clearSettings();
    QSettings settings(QStringLiteral("MyComp"), QStringLiteral("MyApp"));
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(service.serverPort());
    settings.setValue(AdvancedSettings::itunesSearchBaseKey, base);
    settings.setValue(AdvancedSettings::webShopBaseKey, base + QStringLiteral("/"));
    browsed.clear();
    searched.clear();
    completed.clear();
}

void TestInterface::cleanup()
{
    // The close runs after the warning check of the test function: it has its own.
    static QStringList closeWarnings;
    closeWarnings.clear();
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
            if (type != QtDebugMsg && type != QtInfoMsg)
                closeWarnings << message;
        });
    app.reset();
    viewer.reset();
    qInstallMessageHandler(previous);
    qDeleteAll(rowOwner.children());
    QVERIFY2(closeWarnings.isEmpty(), qPrintable(closeWarnings.join(QLatin1Char('\n'))));
}

void TestInterface::publish(Fill fill)
{
    QQmlContext *context = viewer->rootContext();
    const QVariant null = QVariant::fromValue<QObject *>(nullptr);
    for (const QString &name : otherProperties + libraryModels)
        context->setContextProperty(name, null);
    if (fill == Fill::Nulls) {
        for (const MessageHandler::KeyedText &text : MessageHandler::allKeyedTexts())
            context->setContextProperty(text.first, null);
        return;
    }
    MessageHandler(context, nullptr).GetAllmsg();
    QList<QObjectList> views(7);
    for (int v : {0, 5, 6}) {
        for (const QString &name :
             {QStringLiteral("Blue Hour"), QStringLiteral("Coastline"), QStringLiteral("Night Drive")}) {
            views[v] << new AlbumDataModel(int(views[v].size()) + 2, name, band, 0, false, true,
                                           views[v].isEmpty() ? coverPath : noArtwork, &rowOwner);
        }
    }
    views[1] << new ArtistDataModel(1, 2, 11, band, 0, false, true, {coverPath}, &rowOwner)
             << new ArtistDataModel(2, 1, 1, QStringLiteral("Unknown Artist"), 0, false, true, {}, &rowOwner);
    views[2] = trackRows(QStringLiteral("Summer"), 8) + trackRows(QStringLiteral("Winter"), 2);
    views[3] = trackRows(QStringLiteral("Road Trip"), 3);
    views[4] = trackRows(QStringLiteral("Daily News"), 1);
    context->setContextProperty(QStringLiteral("lstModel"),
                                QStringList{"Select", "Corvane Arrow", "Corvane Breeze", "Corvane Coupe"});
    context->setContextProperty(QStringLiteral("lstYear"), QStringList{"Select", "2011", "2012"});
    context->setContextProperty(QStringLiteral("driveList"), QStringList{"/media/stick"});
    for (int v = 0; v < 7; ++v)
        context->setContextProperty(libraryModels.at(v), QVariant::fromValue(views[v]));
}

// One group as the grouped views publish it: row 1 with the cover and tracks
// 1-6, row 2 with artist, genre and year and tracks 7-12.
QObjectList TestInterface::trackRows(const QString &group, int tracks)
{
    QObjectList result;
    for (int r = 1; r <= std::max(2, (tracks + 5) / 6); ++r) {
        QObjectList lines;
        for (int t = (r - 1) * 6 + 1; t <= std::min(tracks, r * 6); ++t)
            lines << new TrackList(100 + t, t, 150 + t, QStringLiteral("%1 track %2").arg(group).arg(t), {}, band,
                                   group, {}, false, {}, &rowOwner);
        const bool second = r == 2;
        result << new TrackDataModel(7, group, second ? band : QString(), second ? QStringLiteral("Pop") : QString(),
                                     second ? 2012 : 0, false, true, r == 1 ? coverPath : QStringLiteral("no"), lines,
                                     &rowOwner);
    }
    return result;
}

bool TestInterface::makeViewer(Fill fill)
{
    viewer = std::make_unique<QmlApplicationViewer>();
    publish(fill);
    viewer->setMainQmlFile(QStringLiteral("qml/QRuVOCorvane/main.qml"));
    viewer->resize(1280, 800);
    viewer->show();
    return viewer->status() == QQuickView::Ready && root() && QTest::qWaitForWindowExposed(viewer.get());
}

QQuickItem *TestInterface::item(const QString &name, QQuickItem *in) const
{
    // Popups live in the window's overlay, not below the root item.
    QQuickItem *parent = in ? in : window()->contentItem();
    if (parent->objectName() == name)
        return parent;
    const QList<QQuickItem *> children = parent->childItems();
    for (QQuickItem *child : children) {
        if (QQuickItem *found = item(name, child))
            return found;
    }
    return nullptr;
}

QObjectList TestInterface::rows(const char *model) const
{
    return window()->rootContext()->contextProperty(QString::fromLatin1(model)).value<QObjectList>();
}

bool TestInterface::call(const char *function, const QVariantList &a)
{
    QGenericArgument arguments[3];
    for (int i = 0; i < std::min(3, int(a.size())); ++i)
        arguments[i] = Q_ARG(QVariant, a.at(i));
    return QMetaObject::invokeMethod(root(), function, arguments[0], arguments[1], arguments[2]);
}

void TestInterface::click(QQuickItem *target)
{
    QVERIFY(target);
    QVERIFY2(target->isVisible(), qPrintable(target->objectName() + " is hidden"));
    window()->grabWindow(); // a frame first: polish settles the layouts the click lands in
    const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
    QTest::mouseClick(window(), Qt::LeftButton, Qt::NoModifier, centre.toPoint());
}

void TestInterface::activate(QQuickItem *combo, int index)
{
    QVERIFY(combo);
    combo->setProperty("currentIndex", index);
    QVERIFY(QMetaObject::invokeMethod(combo, "activated", Q_ARG(int, index)));
}

void TestInterface::startApplication()
{
    app = std::make_unique<StartUp>();
    app->start();
    QVERIFY(app->viewer().rootObject());
    app->viewer().showNormal();
    app->viewer().resize(1280, 800);
    QCoreApplication::processEvents();
    // The library's files are checked after the first frame.
    QTRY_VERIFY(!app->controller()->isCheckingLibrary() && !app->controller()->isRefreshingViews());
}

// The dialog over review tracks from "<album>:<flags>" items, opened from
// the library's button; then the marked rows unticked.
void TestInterface::openAdvancedSettings(const QStringList &reviewItems)
{
    manager *controller = app->controller();
    controller->advancedSettings->setSearchInterval(5);
    controller->advancedSettings->setRequestTimeout(1500);
    const TrackMap tracks = reviewTracks(reviewItems);
    controller->reviewTracks = tracks;
    for (track &t : controller->reviewTracks)
        t.albumName.remove(QRegularExpression(QStringLiteral("^-")));
    QVERIFY(call("showViewPanel", {QStringLiteral("Corvane Arrow")}));
    click(item(QStringLiteral("advancedSettingsButton")));
    QTRY_VERIFY(root()->findChild<QObject *>(QStringLiteral("advancedSettingsDialog"))->property("opened").toBool());
    for (const track &t : tracks) {
        for (QObject *row : {controller->missingDataModels.value(t.id), controller->poorQualityModels.value(t.id)}) {
            if (row && t.albumName.startsWith(QLatin1Char('-')))
                row->setProperty("selected", false);
        }
    }
}

void TestInterface::loadsWithoutWarnings_data()
{
    QTest::addColumn<int>("fill");
    QTest::addRow("every property null") << int(Fill::Nulls);
    QTest::addRow("row objects and lists") << int(Fill::Rows);
}

void TestInterface::loadsWithoutWarnings()
{
    QFETCH(int, fill);
    QVERIFY(makeViewer(Fill(fill)));
    // Both screens and every tab drawn, first with the placeholders, then
    // with the rows that replace them while the window is up.
    for (Fill values : {Fill(fill), Fill::Rows}) {
        publish(values);
        QVERIFY(call("showViewPanel", {QStringLiteral("Corvane Arrow")}));
        for (int tab = 0; tab < 7; ++tab) {
            item(QStringLiteral("libraryTabs"))->setProperty("currentIndex", tab);
            viewer->grabWindow();
        }
        QVERIFY(call("showStartPage", {QStringLiteral("Corvane Arrow")}));
        viewer->grabWindow();
    }
}

void TestInterface::libraryScreens()
{
    // The start page's vehicle choice, the library's tabs, ticks and buttons,
    // then the message box, the overlay and the progress dialogs.
    QVERIFY(makeViewer(Fill::Rows));
    QSignalSpy years(root(), SIGNAL(fillYearCombo(QString)));
    QSignalSpy check(root(), SIGNAL(sgCheckMediaLibrary(QString, QString, int)));
    QSignalSpy save(root(), SIGNAL(sgSaveSettingModelIndex(int, QString, QString, int)));
    QQuickItem *models = item(QStringLiteral("modelCombo"));
    QQuickItem *yearBox = item(QStringLiteral("yearCombo"));
    const int size = root()->property("librarySize").toInt();

    // "Select", chosen or restored, asks nothing.
    activate(models, 0);
    activate(yearBox, 0);
    QVERIFY(call("setIndexForModelCombo", {0}));
    QCOMPARE(years.count() + check.count() + save.count(), 0);

    // A model asks for its years; a year then saves the choice and checks the library.
    activate(models, 3);
    QCOMPARE(QList<QVariantList>(years), QList<QVariantList>{{QStringLiteral("Corvane Coupe")}});
    QVERIFY(call("updateYearCombo", {QStringList{"Select", "2011", "2012"}}));
    QCOMPARE(check.count(), 0);
    activate(yearBox, 2);
    QCOMPARE(QList<QVariantList>(save), (QList<QVariantList>{{3, "Corvane Coupe", "2012", 2}}));
    QCOMPARE(QList<QVariantList>(check), (QList<QVariantList>{{"Corvane Coupe", "2012", size}}));

    // A saved vehicle is restored, its library checked, nothing saved again.
    viewer->rootContext()->setContextProperty(QStringLiteral("SelectedModelYearValue"), QStringLiteral("2013"));
    QVERIFY(call("setIndexForModelCombo", {2}));
    QCOMPARE(years.last().at(0).toString(), QStringLiteral("Corvane Breeze"));
    QVERIFY(call("updateYearCombo", {QStringList{"Select", "2012", "2013", "2014"}}));
    QCOMPARE(yearBox->property("currentText").toString(), QStringLiteral("2013"));
    QCOMPARE(check.last(), (QVariantList{"Corvane Breeze", "2013", size}));
    QCOMPARE(save.count(), 1);

    QVERIFY(call("showViewPanel", {QStringLiteral("Corvane Breeze")}));

    // Each tab shows its view and asks for it.
    QSignalSpy view(root(), SIGNAL(setlibraryView(int)));
    QSignalSpy load(root(), SIGNAL(loadlist()));
    const QStringList names{"albumsView",   "artistsView",    "tracksView", "playlistsView",
                            "podcastsView", "audiobooksView", "videosView"};
    for (int tab : {3, 6, 0}) {
        click(item(QStringLiteral("libraryTab%1").arg(tab)));
        QCOMPARE(view.last().at(0).toInt(), tab);
        QVERIFY2(item(names.at(tab))->isVisible(), qPrintable(names.at(tab)));
    }
    QCOMPARE(load.count(), 3);

    // At the window's minimum size the header's last tab and actions are whole.
    viewer->resize(1024, 650);
    QTRY_COMPARE(root()->property("width").toInt(), 1024);
    viewer->grabWindow();
    for (const char *name : {"libraryTab6", "selectAllCheckBox", "advancedSettingsButton", "transferButton"}) {
        const QRectF area = item(QLatin1String(name))->mapRectToScene(item(QLatin1String(name))->boundingRect());
        QVERIFY2(area.left() >= 0 && area.right() <= 1024 && area.bottom() <= 650, name);
    }

    // A row whose visibility is off is not shown.
    rows("albumsModel").at(1)->setProperty("visibility", false);
    QCOMPARE(item(QStringLiteral("albumsViewGrid"))->property("count").toInt(), 2);

    auto selected = [](QObject *o) { return o->property("selected").toBool(); };
    auto tracksOf = [](QObject *row) { return row->property("tracklist").value<QObjectList>(); };

    // A cover's box writes `selected` of its row alone, and shows a tick set in C++.
    const QObjectList albums = rows("albumsModel");
    QQuickItem *box = item(QStringLiteral("tileCheckBox"), item(QStringLiteral("albumsView")));
    QObject *album = box->parentItem()->parentItem()->property("row").value<QObject *>();
    click(box);
    QCOMPARE(int(std::count_if(albums.cbegin(), albums.cend(), selected)), 1);
    QVERIFY(selected(album));
    album->setProperty("selected", false);
    QVERIFY(!box->property("checked").toBool());

    // A group's box ticks every track of its rows, and no other group's.
    item(QStringLiteral("libraryTabs"))->setProperty("currentIndex", 2);
    const QObjectList groups = rows("tracksModel"); // Summer: rows 0-1, Winter: rows 2-3
    QCOMPARE(item(QStringLiteral("tracksViewList"))->property("count").toInt(), 2); // a card each
    click(item(QStringLiteral("groupCheckBox"), item(QStringLiteral("tracksView"))));
    for (int r = 0; r < 4; ++r) {
        QCOMPARE(selected(groups.at(r)), r < 2);
        for (QObject *t : tracksOf(groups.at(r)))
            QCOMPARE(selected(t), r < 2);
    }
    // A track unticked on its own: its row no longer counts whole (an add or
    // a removal would take every track of it), and the group shows unticked.
    QQuickItem *groupBox = item(QStringLiteral("groupCheckBox"), item(QStringLiteral("tracksView")));
    QQuickItem *firstTrack = item(QStringLiteral("trackCheckBox"), item(QStringLiteral("tracksView")));
    click(firstTrack);
    QVERIFY(!selected(tracksOf(groups.at(0)).at(0)) && !selected(groups.at(0)) && selected(groups.at(1)));
    QVERIFY(!groupBox->property("checked").toBool());
    click(firstTrack);
    QVERIFY(selected(groups.at(0)) && groupBox->property("checked").toBool());

    // A track's box ticks that track alone.
    item(QStringLiteral("libraryTabs"))->setProperty("currentIndex", 3);
    click(item(QStringLiteral("trackCheckBox"), item(QStringLiteral("playlistsView"))));
    QObject *playlist = rows("playlistsModel").first();
    QVERIFY(selected(tracksOf(playlist).at(0)) && !selected(tracksOf(playlist).at(1)) && !selected(playlist));

    // Select all shows the state of the shown rows of the current view, and
    // asks for the change; remove and transfer are reported.
    QSignalSpy all(root(), SIGNAL(selectdeselectForLibrary(bool)));
    QSignalSpy action(root(), SIGNAL(removeTransfer(QString)));
    QQuickItem *selectAll = item(QStringLiteral("selectAllCheckBox"));
    item(QStringLiteral("libraryTabs"))->setProperty("currentIndex", 0);
    for (QObject *row : albums)
        row->setProperty("selected", true);
    QVERIFY(selectAll->property("checked").toBool());
    albums.first()->setProperty("selected", false);
    QVERIFY(!selectAll->property("checked").toBool());
    albums.first()->setProperty("visibility", false); // hidden: not governed
    QVERIFY(selectAll->property("checked").toBool());
    item(QStringLiteral("libraryTabs"))->setProperty("currentIndex", 1);
    QVERIFY(!selectAll->property("checked").toBool());
    click(selectAll);
    QCOMPARE(QList<QVariantList>(all), QList<QVariantList>{{true}});
    // Nothing answered here, so no row is ticked and neither is the box.
    QVERIFY(call("slRefreshMain"));
    QVERIFY(!selectAll->property("checked").toBool());
    click(item(QStringLiteral("removeButton")));
    click(item(QStringLiteral("transferButton")));
    QCOMPARE(QList<QVariantList>(action), (QList<QVariantList>{{"remove"}, {"transfer"}}));

    // Messages queue: each shows until OK.
    QObject *messages = root()->findChild<QObject *>(QStringLiteral("messageBox"));
    QVERIFY(call("showmessageBox", {QStringLiteral("Drive is Full")}));
    QVERIFY(call("showmessageBox", {QStringLiteral("Disk is Removed")}));
    for (const char *message : {"Drive is Full", "Disk is Removed"}) {
        QTRY_VERIFY(messages->property("opened").toBool());
        QCOMPARE(messages->property("message").toString(), QString::fromLatin1(message));
        click(item(QStringLiteral("messageOkButton")));
    }
    QTRY_VERIFY(!messages->property("visible").toBool());

    QQuickItem *overlay = item(QStringLiteral("loadingOverlay"));
    QVERIFY(call("slShowLoading") && overlay->isVisible());
    QVERIFY(call("slHideLoading") && !overlay->isVisible());
    // A views rebuild ending during a format leaves the format wait shown.
    QVERIFY(call("slShowFormatWait") && call("slShowLoading") && call("slHideLoading"));
    QVERIFY(overlay->isVisible());
    QVERIFY(call("slHideFormatWait") && !overlay->isVisible());
    // An add, as the controller shows it: one dialog, its count and one
    // Cancel, which cancels the add; the next search shows no count.
    QSignalSpy cancel(root(), SIGNAL(sgCancelSearch()));
    QVERIFY(call("slShowSearchProgress", {QStringLiteral("Optimising Files")}) && call("slShowLoading"));
    QVERIFY(call("slHideLoading") && call("slUpdateTranscodingCounter", {2, 5}));
    QQuickItem *count = item(QStringLiteral("addCount"), overlay);
    QVERIFY(count && count->isVisible() && count->property("text") == "2 / 5");
    int cancels = 0;
    for (const QQuickItem *i : root()->findChildren<QQuickItem *>())
        cancels += i->isVisible() && i->inherits("QQuickAbstractButton") && i->property("text") == "Cancel";
    QCOMPARE(cancels, 1);
    click(item(QStringLiteral("searchCancelButton")));
    QCOMPARE(cancel.count(), 1);
    QVERIFY(call("slUpdateSearchProgress", {1, 1, QString()}) && !overlay->isVisible());
    // A search shows its message and ends when the counter reaches the total.
    QVERIFY(call("slShowSearchProgress", {QStringLiteral("Searching Files")}));
    QVERIFY(call("slUpdateSearchProgress", {0, 1, QString()}));
    QCOMPARE(item(QStringLiteral("loadingMessage"), overlay)->property("text").toString(),
             QStringLiteral("Searching Files"));
    QVERIFY(!count->isVisible() && call("slUpdateSearchProgress", {1, 1, QString()}));

    // The lookup's dialog stays up until its end mark (0, 0).
    QObject *dialog = root()->findChild<QObject *>(QStringLiteral("progressDialog"));
    QVERIFY(call("showProgressDialog") && call("updateProgress", {10, 9}));
    QVERIFY(dialog->property("visible").toBool() && dialog->property("counter").toInt() == 9);
    QVERIFY(call("updateProgress", {0, 0}));
    QTRY_VERIFY(!dialog->property("visible").toBool());

    // The transfer's cancel goes to the transfer, not to the lookup.
    QSignalSpy stopped(root(), SIGNAL(sgProgressStoped(int)));
    QSignalSpy lookupCancel(root(), SIGNAL(advancedSettingsCancel()));
    dialog = root()->findChild<QObject *>(QStringLiteral("transferProgressDialog"));
    QVERIFY(call("slShowTransferProgress"));
    QVERIFY(call("slUpdateTransferProgress", {4, 1, QStringLiteral("/media/stick/a.mp3")}));
    QTRY_VERIFY(dialog->property("opened").toBool());
    click(dialog->property("contentItem").value<QQuickItem *>()->findChild<QQuickItem *>(
        QStringLiteral("progressCancelButton")));
    QCOMPARE(stopped.count(), 1);
    QCOMPARE(lookupCancel.count(), 0);
    QVERIFY(call("slhideTransferProgress"));
    QTRY_VERIFY(!dialog->property("visible").toBool());
}

void TestInterface::rootContract()
{
    // Every link is made; each root signal reaches its slot, and each root
    // function takes the variants the controller and the transfer send.
    startApplication();
    QCOMPARE(app->failedLinks(), 0);
    manager *controller = app->controller();
    QSignalSpy refreshed(controller, &manager::sgRefreshMain);
    QSignalSpy driveMessages(app->drive(), &Drive::showMessageBox);
    Drive::setFolderChooser([] { return QString(); });
    // The advanced settings and the media browser's links have runs of their own.
    const QByteArrayList checked = QByteArray("loadlist loadmain setlibraryView setbrowserView sgMediaBrowserClosed "
                                              "sgCancelSearch removeTransfer continueDrive addToMediaLibrary "
                                              "sgCancelVideOptimising")
                                       .split(' ');
    QSet<QByteArray> unchecked(checked.cbegin(), checked.cend());

    QList<StartUp::Link> links = StartUp::controllerLinks() + StartUp::driveLinks();
    // Signals first: a function's message box would hide the add's message.
    std::stable_partition(links.begin(), links.end(),
                          [](const StartUp::Link &l) { return l.sender == StartUp::Side::Root; });
    for (const StartUp::Link &link : std::as_const(links)) {
        const bool signal = link.sender == StartUp::Side::Root;
        const char *name = signal ? link.signal : link.method;
        // exeClose() ends the run: textsLicenceAndClose closes the window.
        if ((!signal && link.receiver != StartUp::Side::Root) || QByteArray(name) == "exeClose()")
            continue;
        const int index = root()->metaObject()->indexOfMethod(name);
        QVERIFY2(index >= 0, name);
        const QMetaMethod method = root()->metaObject()->method(index);
        const QVariantList values = argumentsFor(method);
        QVERIFY2(values.size() <= 5, name);
        QByteArray types[5];
        QGenericArgument arguments[5];
        for (int i = 0; i < values.size(); ++i) {
            types[i] = method.parameterTypeName(i);
            arguments[i] = QGenericArgument(types[i].constData(), values.at(i).constData());
        }
        const int refreshCount = int(refreshed.size());
        QVERIFY2(method.invoke(root(), Qt::DirectConnection, arguments[0], arguments[1], arguments[2], arguments[3],
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
            QObject *box = root()->findChild<QObject *>(QStringLiteral("messageBox"));
            QTRY_COMPARE(box->property("message").toString(),
                         QStringLiteral("Please select at least one item to add in Media Library."));
        }
    }
    QVERIFY2(unchecked.isEmpty(), unchecked.values().join(' ').constData());
    Drive::setFolderChooser({});
}

void TestInterface::savedVehicleAtStart_data()
{
    QTest::addColumn<QString>("saved"); // empty: first run
    QTest::addColumn<bool>("kept");
    // Tracks in the library, each on an album of its name: "kept", "deleted"
    // (its file is gone, its folder is still there) or "unplugged" (its
    // folder is gone too); and the screen shown once the files are checked.
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("screen");
    const QString listed = Combo().fillModelCombo().at(2);
    QTest::addRow("first run") << QString() << false << QStringList() << "start";
    QTest::addRow("model the vehicle table no longer lists")
        << "Roadster Discontinued" << false << QStringList() << "start";
    QTest::addRow("listed model") << listed << true << QStringList() << "start";
    QTest::addRow("deleted file: out of the views, its row deleted")
        << listed << true << QStringList{"kept", "deleted"} << "library";
    QTest::addRow("unplugged drive: out of the views, its row kept")
        << listed << true << QStringList{"kept", "unplugged"} << "library";
    QTest::addRow("every file deleted: the start page") << listed << true << QStringList{"deleted"} << "start";
}

void TestInterface::savedVehicleAtStart()
{
    QFETCH(QString, saved);
    QFETCH(bool, kept);
    QFETCH(QStringList, files);
    QFETCH(QString, screen);
    // An empty library; its file stays, as workers keep their connections to it.
    Database library;
    QVERIFY(library.connect(QStringLiteral("RuvoData"), true));
    library.create();
    for (const char *table : {"tracks", "albums", "artists", "genres", "years"})
        QVERIFY(testkit::exec(QStringLiteral("DELETE FROM ") + QLatin1String(table)));
    for (const QString &file : std::as_const(files)) {
        const QString path = QStringLiteral("%1/%2/%2.mp3").arg(testkit::testHome(), file);
        QVERIFY(testkit::touch(path) && ruvoDB().insertDataOne(testkit::makeTrack(path, file)));
        if (file != QLatin1String("kept"))
            QVERIFY(file == QLatin1String("deleted") ? QFile::remove(path) : QFileInfo(path).dir().removeRecursively());
    }
    Combo chooser;
    const QStringList models = chooser.fillModelCombo();
    if (!saved.isEmpty())
        testkit::saveVehicle(3, saved, 2, QStringLiteral("2012"));
    startApplication();
    // The files are checked once the window is up.
    QStringList albums;
    for (const QObject *row : rows("albumsModel"))
        albums << row->property("albumname").toString();
    QCOMPARE(albums, files.filter(QStringLiteral("kept")));
    QCOMPARE(testkit::count(QStringLiteral("tracks")), files.size() - files.count(QStringLiteral("deleted")));
    QCOMPARE(root()->property("currentScreen").toString(), screen);
    const QString name = kept ? saved : QStringLiteral("Select");
    const QString year = kept ? QStringLiteral("2012") : QStringLiteral("Select");
    const QVariantMap written = testkit::savedVehicle();
    QCOMPARE(written.value(QStringLiteral("ModelName")).toString(), name);
    QCOMPARE(written.value(QStringLiteral("ModelYearValue")).toString(), year);
    QQmlContext *context = app->viewer().rootContext();
    QCOMPARE(context->contextProperty(QStringLiteral("SelectedModelYearValue")).toString(), year);
    QObject *startPage = root()->findChild<QObject *>(QStringLiteral("startPage"));
    QCOMPARE(startPage->property("savedModel").toString(), name);
    // The year list is the first model's, whichever model is saved.
    QCOMPARE(context->contextProperty(QStringLiteral("lstModel")).toStringList(), models);
    QCOMPARE(context->contextProperty(QStringLiteral("lstYear")).toStringList(), chooser.fillYearCombo(models.first()));
}

void TestInterface::textsLicenceAndClose()
{
    // What a killed run left half-written in the data folder goes at start.
    const QString leftover = TemporaryFiles::beside(ruvoDB::programCopyFolder() + QStringLiteral("/Album/a.mp3"));
    QFile file(leftover);
    QVERIFY(testkit::touch(leftover) && file.open(QIODevice::ReadWrite) &&
            file.setFileTime(QDateTime::currentDateTime().addSecs(-60), QFileDevice::FileModificationTime));
    file.close();
    startApplication();
    QTRY_VERIFY(!QFile::exists(leftover));
    // The keyed texts where they show, joined with their spaces.
    QVERIFY(call("showStartPage", {QStringLiteral("Corvane Arrow")}));
    QCOMPARE(item(QStringLiteral("vehiclePrompt"))->property("text").toString(),
             QStringLiteral("Please select your vehicle"));
    QVERIFY(item(QStringLiteral("emptyLibraryHint"))->isVisible());
    // Our own window icon, and the text in a family this system has.
    const QString family = item(QStringLiteral("vehiclePrompt"))->property("font").value<QFont>().family();
    QVERIFY(!QGuiApplication::windowIcon().pixmap(32).isNull() && QFontDatabase::families().contains(family));
    QVERIFY(call("showViewPanel", {QStringLiteral("Corvane Arrow")}));
    item(QStringLiteral("libraryTabs"))->setProperty("currentIndex", 4);
    QQuickItem *text = item(QStringLiteral("emptyLibraryText"), item(QStringLiteral("podcastsView")));
    QVERIFY(text->isVisible());
    QVERIFY(
        text->property("text").toString().startsWith(QLatin1String("There  are currently no files in your Podcasts")));

    // The licence from the window's button and from the menu: the terms with
    // the notices of the libraries shipped with it, read as UTF-8.
    Licence *licence = app->controller()->licenceViewer;
    click(item(QStringLiteral("licenceButton")));
    QVERIFY(licence->isVisible());
    auto *terms = licence->findChild<QTextBrowser *>(QStringLiteral("textBrowser"));
    QVERIFY(terms->isReadOnly() && terms->toPlainText().startsWith(QLatin1String("CORVANE MEDIA ORGANISER")));
    QVERIFY(terms->toPlainText().contains(QString::fromUtf8("ORGANISER — END-USER LICENCE")));
    licence->hide();
    app->licenceAction()->trigger();
    QVERIFY(licence->isVisible());

    // Closing the window ends the run through the interface's exeClose(),
    // and the close sequence runs once, however many ways the run ends.
    app->viewer().close();
    QCoreApplication::processEvents();
    QVERIFY(app->controller()->closing && app->controller()->scanner.isStopSearch);
    QCOMPARE(debugLog().count(QLatin1String(" - Closed RuVO\n")), 1);
    app.reset();
    QCOMPARE(debugLog().count(QLatin1String(" - Closed RuVO\n")), 1);
}

void TestInterface::quickRefreshesPublishTheLatestLibrary()
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
    QCOMPARE(published.value<QObjectList>().size(), 9); // the latest album's too
    // Rows published to QML live in the GUI thread.
    for (QObject *row : published.value<QList<QObject *>>())
        QCOMPARE(row->thread(), QThread::currentThread());

    // A third rebuild replaces the rows again; the old ones stay readable
    // until the next publication.
    QPointer<QObject> previous = published.value<QList<QObject *>>().first();
    controller->libraryTracks.remove(41);
    controller->refreshViews();
    QVERIFY(hidden.wait(20000));
    QCOMPARE(context->contextProperty(QStringLiteral("albumsModel")).value<QObjectList>().size(), 8);
    QTest::qWait(50);
    QVERIFY2(previous, "the rows QML was bound to were freed at once");
}

// Published rows reach the view on screen at once and every other view in a
// later turn of the event loop; a view chosen before its turn takes them
// then.  A grouped view finds its groups from the rows' own group sizes and
// leaves out a group whose first row is hidden.
void TestInterface::libraryViewsTakeTheirRowsInTurns()
{
    QVERIFY(makeViewer(Fill::Rows));
    QVERIFY(call("showViewPanel", {QStringLiteral("Corvane Breeze")}));
    QQuickItem *panel = item(QStringLiteral("libraryPanel"));
    QQuickItem *tracks = item(QStringLiteral("tracksViewList"));
    QQuickItem *albums = item(QStringLiteral("albumsViewGrid"));
    item(QStringLiteral("libraryTabs"))->setProperty("currentIndex", 0);
    QTRY_COMPARE(panel->property("waitingViews").toInt(), 0);
    QCOMPARE(tracks->property("count").toInt(), 2);

    // Three albums of 1, 7 and 13 tracks: rows 2, 2 and 3.
    TrackMap library;
    for (int id = 1; id <= 21; ++id) {
        track t;
        t.id = id;
        t.albumName = id == 1 ? QStringLiteral("One") : id <= 8 ? QStringLiteral("Seven") : QStringLiteral("Thirteen");
        t.trackname = QStringLiteral("Song %1").arg(id);
        t.tracknumber = id;
        library.insert(id, t);
    }
    const manager::ViewResult built = manager::Get_Tracklist(true, library, {});
    const QObjectList rows = built.models.values();
    for (QObject *row : rows)
        row->setParent(&rowOwner);
    QCOMPARE(rows.size(), 7);
    QQmlContext *context = viewer->rootContext();
    context->setContextProperty(QStringLiteral("tracksModel"), QVariant::fromValue(rows));
    context->setContextProperty(QStringLiteral("albumsModel"), QVariant::fromValue(QObjectList{}));
    QCOMPARE(albums->property("count").toInt(), 0);
    QCOMPARE(panel->property("waitingViews").toInt(), 1);
    QCOMPARE(tracks->property("count").toInt(), 2);
    QTRY_COMPARE(panel->property("waitingViews").toInt(), 0);
    QCOMPARE(tracks->property("count").toInt(), 3);

    rows.at(2)->setProperty("visibility", false); // the first row of "Seven"
    QCOMPARE(tracks->property("count").toInt(), 2);

    context->setContextProperty(QStringLiteral("tracksModel"), QVariant::fromValue(rows.mid(0, 2)));
    QCOMPARE(panel->property("waitingViews").toInt(), 1);
    item(QStringLiteral("libraryTabs"))->setProperty("currentIndex", 2);
    QCOMPARE(tracks->property("count").toInt(), 1);
    QTRY_COMPARE(panel->property("waitingViews").toInt(), 0);
    QCOMPARE(tracks->property("count").toInt(), 1);
}

void TestInterface::progressCounters()
{
    // The lookup's counter stops one short of its total, the dialog's end
    // mark, also past 16 bits; the add's bar without review tracks reports 0.
    manager controller(nullptr, nullptr);
    QSignalSpy progress(&controller, &manager::updateProgress);
    for (const auto &[total, calls] : QList<std::pair<int, int>>{{10, 11}, {1, 2}, {40000, 3}}) {
        controller.progressTotal = total;
        controller.apiProgressCount = 0;
        for (int i = 0; i < calls; ++i)
            controller.UpdateAPIProgress();
    }
    controller.progressTotal = 7;
    controller.progressCount = 3;
    controller.updateProgressBar();
    controller.reviewTracks.insert(1, track());
    controller.progressTotal = controller.progressCount = 2;
    controller.updateProgressBar();
    QStringList steps;
    for (const QVariantList &step : std::as_const(progress))
        steps << QStringLiteral("%1/%2")
                     .arg(step.at(1).value<QVariant>().toInt())
                     .arg(step.at(0).value<QVariant>().toInt());
    QCOMPARE(steps.join(QLatin1Char(' ')),
             QStringLiteral("1/10 2/10 3/10 4/10 5/10 6/10 7/10 8/10 9/10 9/10 9/10 0/1 0/1 "
                            "1/40000 2/40000 3/40000 0/0 2/2"));
}

void TestInterface::controllerWithoutWindow()
{
    // Showing a view again drops the ticks of that view alone.
    manager controller(nullptr, nullptr);
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
    // Continue with nothing to look up opens no progress dialog.
    QSignalSpy progress(&controller, &manager::showProgressDialog);
    controller.collectMediaToUpdate();
    QCOMPARE(progress.count(), 0);
}

void TestInterface::makeTwoAlbums()
{
    testkit::MediaKit kit(QStandardPaths::writableLocation(QStandardPaths::MusicLocation));
    testkit::MediaTags tags;
    tags.artist = QStringLiteral("Band");
    for (const char *album : {"Blue Hour", "Coastline"}) {
        tags.album = tags.title = QString::fromLatin1(album);
        QVERIFY2(!kit.mp3(tags.album + QStringLiteral(".mp3"), tags, QString(), 8).isEmpty(),
                 qPrintable(kit.lastError()));
    }
}

void TestInterface::openMediaBrowser()
{
    QVERIFY(call("showStartPage", {QStringLiteral("Model")}));
    click(item(QStringLiteral("startAddMediaButton")));
    QTRY_VERIFY(item(QStringLiteral("mediaBrowser"))->isVisible());
}

void TestInterface::addMediaFromTheMusicFolderIntoTheLibrary()
{
    makeTwoAlbums();
    startApplication();
    openMediaBrowser();
    click(item(QStringLiteral("source_mymusic")));
    QTRY_COMPARE_WITH_TIMEOUT(item(QStringLiteral("browserAlbumsGrid"))->property("count").toInt(), 2, 30000);
    QTRY_VERIFY(!item(QStringLiteral("loadingOverlay"))->isVisible());

    // Both ticked and added: stored and shown.
    click(item(QStringLiteral("browserSelectAll")));
    click(item(QStringLiteral("browserAddButton")));
    manager *controller = app->controller();
    QTRY_COMPARE_WITH_TIMEOUT(controller->libraryTracks.size(), 2, 30000);
    QTRY_VERIFY(item(QStringLiteral("libraryPanel"))->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(item(QStringLiteral("albumsViewGrid"))->property("count").toInt(), 2, 30000);
}

// A location whose media are all of another category than the one chosen
// (the category stays as chosen): the browser says which one holds them.
void TestInterface::emptyCategoryNamesWhereTheMediaAre()
{
    makeTwoAlbums();
    startApplication();
    openMediaBrowser();
    activate(item(QStringLiteral("browserCategory")), 4);
    QTRY_VERIFY(!item(QStringLiteral("loadingOverlay"))->isVisible());
    click(item(QStringLiteral("source_mymusic")));
    manager *controller = app->controller();
    QTRY_VERIFY_WITH_TIMEOUT(controller->browserTracks.size() == 2 && !controller->mediaBrowser->isBuilding(), 30000);
    QTRY_VERIFY(!item(QStringLiteral("loadingOverlay"))->isVisible());
    QCOMPARE(controller->mediaTypeFilter, 4);
    QTRY_COMPARE(item(QStringLiteral("browserHint"))->property("text").toString(),
                 QStringLiteral("No media found here in this category. This location holds Music (2): choose it as "
                                "the category."));

    // In the category that holds them, a search that matches none says so.
    activate(item(QStringLiteral("browserCategory")), 0);
    QTRY_COMPARE_WITH_TIMEOUT(item(QStringLiteral("browserAlbumsGrid"))->property("count").toInt(), 2, 30000);
    QTRY_VERIFY(!item(QStringLiteral("loadingOverlay"))->isVisible());
    QCOMPARE(item(QStringLiteral("browserHint"))->property("text").toString(), QString());
    click(item(QStringLiteral("browserSearch")));
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(window(), 'z');
    QTRY_COMPARE(item(QStringLiteral("browserHint"))->property("text").toString(),
                 QStringLiteral("Nothing in this category matches the search."));
}

// The browser's "Select all" shows whether every row shown is ticked,
// however the rows came to be ticked: one by one, by itself, through a
// search, a category or a display change.
void TestInterface::browserSelectAllShowsTheRows()
{
    makeTwoAlbums();
    startApplication();
    openMediaBrowser();
    click(item(QStringLiteral("source_mymusic")));
    QTRY_COMPARE_WITH_TIMEOUT(item(QStringLiteral("browserAlbumsGrid"))->property("count").toInt(), 2, 30000);
    QTRY_VERIFY(!item(QStringLiteral("loadingOverlay"))->isVisible());
    QQuickItem *selectAll = item(QStringLiteral("browserSelectAll"));
    const auto boxTicked = [selectAll] { return selectAll->property("checked").toBool(); };
    const auto albumRow = [this](const QString &name) -> QObject * {
        for (QObject *row : rows("albumModelDialog")) {
            if (row->property("albumname").toString() == name)
                return row;
        }
        return nullptr;
    };

    // One by one, as the tiles' boxes tick them.
    QVERIFY(!boxTicked());
    albumRow(QStringLiteral("Blue Hour"))->setProperty("selected", true);
    QVERIFY(!boxTicked());
    albumRow(QStringLiteral("Coastline"))->setProperty("selected", true);
    QVERIFY(boxTicked());
    albumRow(QStringLiteral("Blue Hour"))->setProperty("selected", false);
    QVERIFY(!boxTicked());

    // Under a search that shows the ticked album only, then with the search deleted.
    click(item(QStringLiteral("browserSearch")));
    QTest::keyClick(window(), 'c');
    QTRY_COMPARE(rows("albumModelDialog").size(), 1);
    QVERIFY(boxTicked());
    QTest::keyClick(window(), Qt::Key_Backspace);
    QTRY_COMPARE(rows("albumModelDialog").size(), 2);
    QVERIFY(!boxTicked());

    // Its own click ticks every row, and it stays ticked.
    click(selectAll);
    QTRY_VERIFY(albumRow(QStringLiteral("Blue Hour"))->property("selected").toBool());
    QVERIFY(albumRow(QStringLiteral("Coastline"))->property("selected").toBool());
    QVERIFY(boxTicked());

    // The list's lines were not ticked; another category's new rows neither.
    click(item(QStringLiteral("browserDisplay1")));
    QTRY_COMPARE(item(QStringLiteral("browserDetailsList"))->property("count").toInt(), 2);
    QVERIFY(!boxTicked());
    click(selectAll);
    QTRY_VERIFY(boxTicked());
    activate(item(QStringLiteral("browserCategory")), 1);
    QTRY_VERIFY(!item(QStringLiteral("loadingOverlay"))->isVisible());
    QVERIFY(!boxTicked());
    activate(item(QStringLiteral("browserCategory")), 0);
    QTRY_VERIFY(!item(QStringLiteral("loadingOverlay"))->isVisible());
    QTRY_COMPARE(item(QStringLiteral("browserDetailsList"))->property("count").toInt(), 2);
    QVERIFY(!boxTicked());
}

// While a location is scanned the overlay covers the browser: the browser
// says it found nothing only once the scan has ended with nothing.
void TestInterface::emptyTextWaitsForTheScan()
{
    makeTwoAlbums();
    startApplication();
    manager *controller = app->controller();
    QSemaphore reached, resume;
    controller->scanner.readStartHook = [&reached, &resume](const QString &) {
        reached.release();
        resume.acquire();
    };
    auto release = qScopeGuard([controller, &resume] {
        resume.release(1000);
        if (!QTest::qWaitFor([controller] { return !controller->mediaBrowser->isScanning(); }, 60000))
            qWarning("the held scan did not end");
        controller->scanner.readStartHook = {};
    });
    openMediaBrowser();
    QQuickItem *hint = item(QStringLiteral("browserHint"));
    click(item(QStringLiteral("source_mymusic")));
    QTRY_VERIFY(reached.available() > 0); // the scan holds at its first file
    // The worker asks for the overlay through the event loop; it is held, so
    // the overlay must come while nothing has been found yet.
    QTRY_VERIFY(item(QStringLiteral("loadingOverlay"))->isVisible());
    QCOMPARE(rows("albumModelDialog").size(), 0);
    QCOMPARE(hint->property("text").toString(), QString());

    resume.release(1000);
    QTRY_COMPARE_WITH_TIMEOUT(item(QStringLiteral("browserAlbumsGrid"))->property("count").toInt(), 2, 30000);
    QTRY_VERIFY(!item(QStringLiteral("loadingOverlay"))->isVisible());
    QCOMPARE(hint->property("text").toString(), QString());
    // A category the location holds nothing of says so once its rows are built.
    activate(item(QStringLiteral("browserCategory")), 2);
    QTRY_VERIFY(!item(QStringLiteral("loadingOverlay"))->isVisible());
    QTRY_VERIFY(hint->property("text").toString().startsWith(QLatin1String("No media found here in this category.")));
}

// The header's vehicle button leads to the vehicle choice, and from there
// back to the library with the vehicle unchanged.
void TestInterface::vehicleButtonHasAWayBack()
{
    startApplication();
    QSignalSpy chosen(root(), SIGNAL(sgSaveSettingModelIndex(int, QString, QString, int)));
    QSignalSpy checked(root(), SIGNAL(sgCheckMediaLibrary(QString, QString, int)));
    QQuickItem *back = item(QStringLiteral("startBackButton"));
    QVERIFY(back);
    // The first choice of a vehicle has nothing to go back to.
    QCOMPARE(root()->property("currentScreen").toString(), QStringLiteral("start"));
    QVERIFY(!back->isVisible());

    QVERIFY(call("showViewPanel", {QStringLiteral("Corvane Arrow")}));
    click(item(QStringLiteral("vehicleButton")));
    QCOMPARE(root()->property("currentScreen").toString(), QStringLiteral("start"));
    QVERIFY(back->isVisible());
    click(back);
    QCOMPARE(root()->property("currentScreen").toString(), QStringLiteral("library"));
    QVERIFY(item(QStringLiteral("libraryPanel"))->isVisible());
    QCOMPARE(item(QStringLiteral("vehicleButton"))->property("text").toString(), QStringLiteral("Corvane Arrow"));
    QCOMPARE(chosen.count() + checked.count(), 0);

    // A vehicle chosen anew whose library is empty: its start page, no way back.
    click(item(QStringLiteral("vehicleButton")));
    QVERIFY(call("showStartPage", {QStringLiteral("Corvane Breeze")}));
    QVERIFY(!back->isVisible());
}

// The iTunes location that shows nothing says why: no library file where
// the program looks (and where that is), or a library of nothing it takes.
void TestInterface::itunesWithNothingToTakeSaysWhy_data()
{
    QTest::addColumn<QString>("library"); // "" none; else the playlist the one track is in
    QTest::addColumn<QString>("expected"); // %L the library file's path
    QTest::addRow("no library file") << ""
                                     << "No iTunes library was found: the program looked for %L.";
    QTest::addRow("only the master playlist") << "Library"
                                              << "The iTunes library %L holds no tracks this program can take.";
    QTest::addRow("a playlist of files that are gone") << "Gone"
                                                       << "The iTunes library %L holds no tracks this program can take.";
}

void TestInterface::itunesWithNothingToTakeSaysWhy()
{
    QFETCH(QString, library);
    QFETCH(QString, expected);
    const QString path = MediaBrowser::itunesLibraryPath();
    const QString songs = QFileInfo(path).path() + QStringLiteral("/iTunes Media");
    // Later tests meet no library and no song of this one.
    const auto removeAll = [&path, &songs] {
        QFile::remove(path);
        QDir(songs).removeRecursively();
    };
    removeAll();
    auto removed = qScopeGuard(removeAll);
    if (!library.isEmpty()) {
        testkit::MediaKit kit(songs);
        testkit::MediaTags tags;
        tags.title = tags.album = tags.artist = QStringLiteral("Blue Hour");
        const QString song = library == QLatin1String("Gone")
                                 ? songs + QStringLiteral("/gone.mp3")
                                 : kit.mp3(QStringLiteral("Blue Hour.mp3"), tags, QString(), 8);
        QVERIFY2(!song.isEmpty(), qPrintable(kit.lastError()));
        testkit::ItunesLibraryXml xml;
        xml.addTrack(1, {testkit::ItunesLibraryXml::string(QStringLiteral("Location"), xml.localhostUrl(song))});
        QList<testkit::ItunesLibraryXml::Entry> marks;
        if (library == QLatin1String("Library"))
            marks << testkit::ItunesLibraryXml::flag(QStringLiteral("Master"));
        xml.addPlaylist(library, {1}, marks);
        QVERIFY(QDir().mkpath(QFileInfo(path).path()) && xml.write(path));
    }
    startApplication();
    QVERIFY(call("showStartPage", {QStringLiteral("Model")}));
    click(item(QStringLiteral("startAddMediaButton")));
    QTRY_VERIFY(item(QStringLiteral("mediaBrowser"))->isVisible());
    click(item(QStringLiteral("source_itunes")));
    manager *controller = app->controller();
    QTRY_VERIFY_WITH_TIMEOUT(!controller->mediaBrowser->isScanning() && !controller->mediaBrowser->isBuilding(), 30000);
    QTRY_VERIFY(!item(QStringLiteral("loadingOverlay"))->isVisible());
    QTRY_COMPARE(item(QStringLiteral("browserHint"))->property("text").toString(),
                 QString(expected).replace(QStringLiteral("%L"), path));
}

void TestInterface::advancedSettingsDialog()
{
    // Both lists in the dialog, a track in both in both; select all, a
    // line's box, the tabs and Continue reach the controller, and the lookup
    // goes over the ticked tracks only.
    startApplication();
    const QStringList review{"A:m2", "B:0", "C:m0", "-D:m2", "E:1", "F:m2"};
    ApiManager *lookup = ApiManager::getinstance();
    lookup->searchfromApi(reviewTracks(review)); // as the add chain does
    openAdvancedSettings(review);
    QVERIFY(!lookup->doUpdate()); // the lookup waits for the user
    QCOMPARE(item(QStringLiteral("missingDataList"))->property("count").toInt(), 4);
    QCOMPARE(item(QStringLiteral("poorQualityList"))->property("count").toInt(), 2);
    for (const auto &[name, ids] :
         {std::pair{"missingMediaData", QList<int>{1, 3, 4, 6}}, std::pair{"poorMediaQuality", QList<int>{2, 3}}}) {
        QList<int> published;
        for (QObject *row : rows(name)) {
            published << row->property("trackid").toInt();
            QCOMPARE(row->property("tracktitle").toString(), QStringLiteral("Song %1").arg(published.last()));
        }
        QCOMPARE(published, ids);
    }
    manager *controller = app->controller();
    auto ticked = [controller] {
        QList<int> ids;
        for (QObject *row : std::as_const(controller->missingDataModels))
            ids << (row->property("selected").toBool() ? row->property("trackid").toInt() : 0);
        return ids;
    };
    QCOMPARE(ticked(), (QList<int>{1, 3, 0, 6}));
    QQuickItem *selectAll = item(QStringLiteral("settingsSelectAll"));
    QVERIFY(!selectAll->property("checked").toBool());
    click(selectAll);
    QCOMPARE(ticked(), (QList<int>{1, 3, 4, 6}));
    QTRY_VERIFY(selectAll->property("checked").toBool());
    click(item(QStringLiteral("settingsLineCheckBox"), item(QStringLiteral("missingDataList")))); // track 1
    controller->missingDataModels.value(4)->setProperty("selected", false);
    QCOMPARE(ticked(), (QList<int>{0, 3, 0, 6}));
    QVERIFY(!selectAll->property("checked").toBool());
    click(item(QStringLiteral("poorQualityTab")));
    QCOMPARE(controller->settingsView, 1);
    QVERIFY(selectAll->property("checked").toBool()); // both of its rows are ticked
    click(item(QStringLiteral("linkTab1"))); // the shop's pages of both poor-quality albums
    QCOMPARE(browsed.size(), 2);

    QSignalSpy progress(controller, &manager::showProgressDialog);
    QSignalSpy sent(lookup, &ApiManager::updateTrackToManager);
    click(item(QStringLiteral("advancedSettingsContinue")));
    QCOMPARE(controller->reviewTracks.keys(), (QList<int>{2, 3, 5, 6})); // the unticked leave
    QCOMPARE(progress.count(), 1);
    QTRY_VERIFY(!root()->findChild<QObject *>(QStringLiteral("advancedSettingsDialog"))->property("visible").toBool());
    QTRY_VERIFY(!sent.isEmpty() && sent.last().at(0).value<track>().id == ApiManager::endMarkId);
    QCOMPARE(completed, (QList<int>{3, 6}));
}

void TestInterface::lookupCancel_data()
{
    QTest::addColumn<bool>("closing");
    QTest::addRow("from the dialog: the views are rebuilt") << false;
    QTest::addRow("at close: no rebuild") << true;
}

void TestInterface::lookupCancel()
{
    QFETCH(bool, closing);
    startApplication();
    manager *controller = app->controller();
    ApiManager *lookup = ApiManager::getinstance();
    lookup->setDoUpdate(false);
    lookup->searchfromApi(reviewTracks({QStringLiteral("A:m2")}));
    QSignalSpy loading(controller, &manager::sgShowLoading);
    QSignalSpy refreshed(controller, &manager::sgRefreshMain);
    if (closing)
        controller->saveData();
    else
        controller->cancelOptimization();
    QTRY_VERIFY(!lookup->isRunning());
    QVERIFY(completed.isEmpty());
    // The lookup's end mark rebuilds the views too; at close nothing does.
    if (closing) {
        QTest::qWait(100); // a chance for a wrong rebuild to show
        QCOMPARE(loading.count(), 0);
        QCOMPARE(refreshed.count(), 0);
    } else {
        QTRY_VERIFY(loading.count() > 0);
        QTRY_VERIFY(refreshed.count() > 0);
    }
    lookup->setDoUpdate(true);
}

void TestInterface::lookupCancelledMidwayIsToldAsACancel_data()
{
    // The lookup of Continue over three ticked tracks, one in a first folder
    // and two in a second, is held while a folder is read and cancelled from
    // its progress dialog; the tracks completed before the cancel are kept.
    QTest::addColumn<QString>("heldAt");
    QTest::addColumn<QList<int>>("done");
    QTest::addColumn<QString>("told");
    QTest::addRow("held at the first folder: nothing completed")
        << "/music/first" << QList<int>{}
        << "The lookup was cancelled before any track was completed: 3 tracks still lack data.";
    QTest::addRow("held at the second folder: the first folder's track completed")
        << "/music/second" << QList<int>{1}
        << "The lookup was cancelled: 1 track completed before the cancel, 2 tracks still lack data.";
}

void TestInterface::lookupCancelledMidwayIsToldAsACancel()
{
    QFETCH(QString, heldAt);
    startApplication();
    manager *controller = app->controller();
    ApiManager *lookup = ApiManager::getinstance();
    QSemaphore held, resume;
    ApiManager::Steps steps = lookupStandIn();
    steps.readFolder = [&held, &resume, heldAt](const QString &folder) {
        if (folder == heldAt) {
            held.release();
            resume.acquire();
        }
    };
    lookup->setSteps(steps);
    auto restore = qScopeGuard([this, lookup, &resume] {
        resume.release();
        if (!QTest::qWaitFor([lookup] { return !lookup->isRunning(); }, 60000))
            qWarning("the held lookup did not end");
        lookup->setSteps(lookupStandIn());
    });

    openAdvancedSettings({"A:m2", "B:m2", "C:m2"});
    for (track &t : controller->reviewTracks)
        t.folderLocation = t.id == 1 ? QStringLiteral("/music/first") : QStringLiteral("/music/second");
    QSignalSpy sent(lookup, &ApiManager::updateTrackToManager);
    click(item(QStringLiteral("advancedSettingsContinue")));
    QTRY_VERIFY(held.available() == 1); // the lookup waits in the folder's read

    // Cancel in the lookup's progress dialog, then the read goes on.
    auto *progress = root()->findChild<QObject *>(QStringLiteral("progressDialog"));
    QVERIFY(progress);
    QTRY_VERIFY(progress->property("opened").toBool());
    click(item(QStringLiteral("progressCancelButton"), progress->property("contentItem").value<QQuickItem *>()));
    resume.release();
    QTRY_VERIFY(!sent.isEmpty() && sent.last().at(0).value<track>().id == ApiManager::endMarkId);
    QTEST(completed, "done");

    QObject *box = root()->findChild<QObject *>(QStringLiteral("messageBox"));
    QTRY_VERIFY(box->property("opened").toBool());
    QTEST(box->property("message").toString(), "told");
    QTRY_VERIFY(!progress->property("visible").toBool());
}

void TestInterface::linkTab_data()
{
    QTest::addColumn<int>("tab");            // 0 iTunes, 1 web shop
    QTest::addColumn<QStringList>("albums"); // poor-quality rows in id order
    QTest::addColumn<QStringList>("asked");  // of the iTunes service
    QTest::addColumn<QStringList>("opened"); // albums whose page opened
    QStringList twenty;
    for (int i = 10; i < 30; ++i)
        twenty << QStringLiteral("Album %1").arg(i);
    const QStringList mixed{"Blue", "-Red", "Blue", "blue", "Rock & Roll #1 + 50%", "Green"};
    const QStringList handled{"Blue", "blue", "Rock & Roll #1 + 50%", "Green"};
    QTest::addRow("shop: repeats do not count towards 15")
        << 1 << QStringList(16, "Same") + twenty << QStringList() << QStringList{"Same"} + twenty.mid(0, 14);
    QTest::addRow("iTunes: repeats and unticked passed over, case kept, names intact")
        << 0 << mixed << handled << handled;
    QTest::addRow("shop: repeats and unticked passed over, case kept, names intact")
        << 1 << mixed << QStringList() << handled;
    QTest::addRow("iTunes: image link, other scheme, 500 characters, no JSON: nothing opened")
        << 0 << QStringList{"Cover", "Script", "Long", "Empty", "Blue"}
        << QStringList{"Cover", "Script", "Long", "Empty", "Blue"} << QStringList{"Blue"};
    QTest::addRow("iTunes: an error drops the queue")
        << 0 << QStringList{"Unknown", "Blue"} << QStringList{"Unknown"} << QStringList();
    QTest::addRow("iTunes: no answer in time drops the queue")
        << 0 << QStringList{"Silent", "Blue"} << QStringList{"Silent"} << QStringList();
    QTest::addRow("third tab: nothing") << 2 << mixed << QStringList() << QStringList();
}

void TestInterface::linkTab()
{
    QFETCH(int, tab);
    QFETCH(QStringList, albums);
    QFETCH(QStringList, asked);
    QFETCH(QStringList, opened);
    for (QString &album : albums)
        album += QLatin1String(":0");
    startApplication();
    openAdvancedSettings(albums);
    manager *controller = app->controller();
    controller->advancedSettingsLinkTab(tab);
    if (tab == 0)
        controller->advancedSettingsLinkTab(tab); // a queued name is not queued again
    QTRY_VERIFY(!controller->advancedSettings->isSearching());
    QCOMPARE(searched, asked); // each name once: never again while its answer is due

    QStringList got;
    for (const QUrl &url : std::as_const(browsed)) {
        if (tab == 0) {
            QCOMPARE(url.host(), QStringLiteral("music.example"));
            got << formValue(url, QStringLiteral("n"));
        } else {
            got << formValue(url, QStringLiteral("field-keywords"));
        }
    }
    QCOMPARE(got, opened);
}

CORVANE_TEST_MAIN(TestInterface)
#include "tst_interface.moc"
