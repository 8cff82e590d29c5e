#include <QtTest>

#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>

#include "app/albumdatamodel.h"
#include "app/artistdatamodel.h"
#include "app/detaileddatamodel.h"
#include "app/messagehandler.h"
#include "app/qmlapplicationviewer.h"
#include "app/trackdatamodel.h"
#include "app/tracklist.h"
#include "testenv.h"

// The QML screens on their own: the real main.qml, as the build lays it out
// beside bin/, in the real viewer, fed with real row objects.  The wiring to
// the controller is tst_startup's.  Any warning fails a test.

namespace {

const QStringList libraryModels = QStringLiteral("albumsModel artistsModel tracksModel playlistsModel podcastsModel "
                                                 "audiobooksModel videosModel")
                                      .split(QLatin1Char(' '));

// Every other context property main.qml reads.
const QStringList otherProperties =
    QStringLiteral("isDB defaultFountSze SelectedModelName SelectedModelYearValue onMac screenWidth lstModel lstYear "
                   "driveList protectedTracksModel drivedetails missingMediaData poorMediaQuality albumDetailsDialog "
                   "artistDetailsDialog trackDetailsDialog albumModelDialog artistsModelDialog tracksModelDialog "
                   "optimisationVideoModel")
        .split(QLatin1Char(' '));

const QString band = QStringLiteral("The Example Band");
const QString noArtwork = QStringLiteral("qrc:///resources/photos/no_artwork.png");

} // namespace

class TestQmlInterface : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }
    void cleanup();

    void loadsWithoutWarnings_data();
    void loadsWithoutWarnings();
    void vehicleChoice();
    void libraryPanel();
    void emptyLibraryAndTexts();
    void ticksAndButtons();
    void messageBoxQueuesMessages();
    void loadingAndProgress();
    void advancedSettingsDialog();

private:
    enum class Fill { Nulls, StartUp, Rows };

    bool makeViewer(Fill fill);
    void publish(Fill fill);
    QObject *root() const { return viewer->rootObject(); }
    QQuickItem *item(const QString &name, QQuickItem *in = nullptr) const;
    QObjectList rows(const char *model) const;
    bool call(const char *function, const QVariantList &arguments = {});
    void click(QQuickItem *target);
    void activate(QQuickItem *combo, int index);
    QObjectList trackRows(const QString &group, int tracks);

    std::unique_ptr<QmlApplicationViewer> viewer;
    QObject rowOwner; // parent of every row object
    QString coverPath;
};

void TestQmlInterface::initTestCase()
{
    // A real cover in the temporary home: paths with a "#" still load.
    const QString folder = testkit::testHome() + QStringLiteral("/covers #1");
    QVERIFY(QDir().mkpath(folder));
    coverPath = folder + QStringLiteral("/cover.png");
    QImage cover(64, 64, QImage::Format_RGB32);
    cover.fill(QColor(200, 60, 40));
    QVERIFY(cover.save(coverPath));
}

void TestQmlInterface::cleanup()
{
    viewer.reset();
    qDeleteAll(rowOwner.children());
}

void TestQmlInterface::publish(Fill fill)
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
    context->setContextProperty(QStringLiteral("isDB"), QStringLiteral("0"));
    context->setContextProperty(QStringLiteral("defaultFountSze"), 0);
    context->setContextProperty(QStringLiteral("SelectedModelName"), QStringLiteral("Select"));
    context->setContextProperty(QStringLiteral("SelectedModelYearValue"), QStringLiteral("Select"));
    context->setContextProperty(QStringLiteral("onMac"), 1);
    context->setContextProperty(QStringLiteral("screenWidth"), qint64(1080));
    context->setContextProperty(QStringLiteral("protectedTracksModel"), QString());
    context->setContextProperty(QStringLiteral("drivedetails"), QStringList{QString()});

    QList<QObjectList> views(7);
    if (fill == Fill::Rows) {
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
    }
    for (int v = 0; v < 7; ++v)
        context->setContextProperty(libraryModels.at(v), QVariant::fromValue(views[v]));
}

// One group as the grouped views publish it: row 1 with the cover and tracks
// 1-6, row 2 with artist, genre and year and tracks 7-12.
QObjectList TestQmlInterface::trackRows(const QString &group, int tracks)
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

bool TestQmlInterface::makeViewer(Fill fill)
{
    viewer = std::make_unique<QmlApplicationViewer>();
    publish(fill);
    viewer->setMainQmlFile(QStringLiteral("qml/QRuVOCorvane/main.qml"));
    viewer->resize(1280, 800);
    viewer->show();
    return viewer->status() == QQuickView::Ready && root() && QTest::qWaitForWindowExposed(viewer.get());
}

QQuickItem *TestQmlInterface::item(const QString &name, QQuickItem *in) const
{
    // Popups live in the window's overlay, not below the root item.
    QQuickItem *parent = in ? in : viewer->contentItem();
    if (parent->objectName() == name)
        return parent;
    const QList<QQuickItem *> children = parent->childItems();
    for (QQuickItem *child : children) {
        if (QQuickItem *found = item(name, child))
            return found;
    }
    return nullptr;
}

QObjectList TestQmlInterface::rows(const char *model) const
{
    return viewer->rootContext()->contextProperty(QString::fromLatin1(model)).value<QObjectList>();
}

bool TestQmlInterface::call(const char *function, const QVariantList &a)
{
    QGenericArgument arguments[3];
    for (int i = 0; i < std::min(3, int(a.size())); ++i)
        arguments[i] = Q_ARG(QVariant, a.at(i));
    return QMetaObject::invokeMethod(root(), function, arguments[0], arguments[1], arguments[2]);
}

void TestQmlInterface::click(QQuickItem *target)
{
    QVERIFY(target);
    QVERIFY2(target->isVisible(), qPrintable(target->objectName() + " is hidden"));
    viewer->grabWindow(); // a frame first: polish settles the layouts the click lands in
    const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
    QTest::mouseClick(viewer.get(), Qt::LeftButton, Qt::NoModifier, centre.toPoint());
}

void TestQmlInterface::activate(QQuickItem *combo, int index)
{
    QVERIFY(combo);
    combo->setProperty("currentIndex", index);
    QVERIFY(QMetaObject::invokeMethod(combo, "activated", Q_ARG(int, index)));
}

void TestQmlInterface::loadsWithoutWarnings_data()
{
    QTest::addColumn<int>("fill");
    QTest::addRow("every property null") << int(Fill::Nulls);
    QTest::addRow("start-up placeholders") << int(Fill::StartUp);
    QTest::addRow("row objects and lists") << int(Fill::Rows);
}

void TestQmlInterface::loadsWithoutWarnings()
{
    QFETCH(int, fill);
    QVERIFY(makeViewer(Fill(fill)));
    QCOMPARE(root()->objectName(), QStringLiteral("root"));
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
    QCOMPARE(item(QStringLiteral("modelCombo"))->property("count").toInt(), 4);
    // The engine's quit closes the window.
    emit viewer->engine()->quit();
    QVERIFY(!viewer->isVisible());
}

void TestQmlInterface::vehicleChoice()
{
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
}

void TestQmlInterface::libraryPanel()
{
    QVERIFY(makeViewer(Fill::Rows));
    QVERIFY(call("showViewPanel", {QStringLiteral("Corvane Breeze")}));
    QVERIFY(!item(QStringLiteral("startPage"))->isVisible());
    QCOMPARE(item(QStringLiteral("vehicleButton"))->property("text").toString(), QStringLiteral("Corvane Breeze"));
    QVERIFY(!item(QStringLiteral("emptyLibraryText"), item(QStringLiteral("albumsView")))->isVisible());

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

    // At the window's minimum size the last controls of the library's header
    // and of the media browser are whole.
    viewer->resize(1024, 650);
    QTRY_COMPARE(root()->property("width").toInt(), 1024);
    QVERIFY(call("openMediaBrowser"));
    viewer->grabWindow();
    for (const char *name : {"libraryTab6", "transferButton", "browserCloseButton", "browserAddButton"}) {
        QQuickItem *control = item(QString::fromLatin1(name));
        const QRectF area = control->mapRectToScene(control->boundingRect());
        QVERIFY2(area.left() >= 0 && area.right() <= 1024 && area.bottom() <= 650, name);
    }
    root()->setProperty("mediaBrowserVisible", false);

    // Only the tile without a picture shows the no-artwork mark: a cover in
    // a folder with "#" in its name loads.  A row whose visibility is off is
    // not shown.
    QQuickItem *grid = item(QStringLiteral("albumsViewGrid"));
    auto marks = [this, grid] {
        int shown = 0;
        for (QQuickItem *tile : grid->property("contentItem").value<QQuickItem *>()->childItems()) {
            QQuickItem *mark = item(QStringLiteral("noArtworkMark"), tile);
            shown += mark && mark->isVisible();
        }
        return shown;
    };
    QTRY_COMPARE(marks(), 2);
    rows("albumsModel").at(1)->setProperty("visibility", false);
    QCOMPARE(grid->property("count").toInt(), 2);
}

void TestQmlInterface::emptyLibraryAndTexts()
{
    // The keyed texts where they show, joined with their spaces.
    QVERIFY(makeViewer(Fill::StartUp));
    QVERIFY(call("showStartPage", {QStringLiteral("Corvane Arrow")}));
    QCOMPARE(item(QStringLiteral("vehiclePrompt"))->property("text").toString(),
             QStringLiteral("Please select your vehicle"));
    QQuickItem *hint = item(QStringLiteral("emptyLibraryHint"));
    QVERIFY(hint->isVisible());
    QCOMPARE(hint->childItems().first()->property("text").toString(),
             QStringLiteral("There are currently no files in your Media Library..."));

    QVERIFY(call("showViewPanel", {QStringLiteral("Corvane Arrow")}));
    item(QStringLiteral("libraryTabs"))->setProperty("currentIndex", 4);
    QQuickItem *text = item(QStringLiteral("emptyLibraryText"), item(QStringLiteral("podcastsView")));
    QVERIFY(text->isVisible());
    QVERIFY(
        text->property("text").toString().startsWith(QLatin1String("There  are currently no files in your Podcasts")));
}

void TestQmlInterface::ticksAndButtons()
{
    QVERIFY(makeViewer(Fill::Rows));
    QVERIFY(call("showViewPanel", {QStringLiteral("Corvane Arrow")}));
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

    // A track's box ticks that track alone.
    item(QStringLiteral("libraryTabs"))->setProperty("currentIndex", 3);
    click(item(QStringLiteral("trackCheckBox"), item(QStringLiteral("playlistsView"))));
    QObject *playlist = rows("playlistsModel").first();
    QVERIFY(selected(tracksOf(playlist).at(0)) && !selected(tracksOf(playlist).at(1)) && !selected(playlist));

    // Select all shows the state of the shown rows of the current view, and
    // asks for the change; remove, transfer and licence are reported.
    QSignalSpy all(root(), SIGNAL(selectdeselectForLibrary(bool)));
    QSignalSpy action(root(), SIGNAL(removeTransfer(QString)));
    QSignalSpy licence(root(), SIGNAL(sgShowLicence()));
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
    click(item(QStringLiteral("licenceButton")));
    QCOMPARE(licence.count(), 1);
}

void TestQmlInterface::messageBoxQueuesMessages()
{
    QVERIFY(makeViewer(Fill::StartUp));
    QObject *box = root()->findChild<QObject *>(QStringLiteral("messageBox"));
    QVERIFY(call("showmessageBox", {QStringLiteral("Drive is Full")}));
    QVERIFY(call("showmessageBox", {QStringLiteral("Disk is Removed")}));
    for (const char *message : {"Drive is Full", "Disk is Removed"}) {
        QTRY_VERIFY(box->property("opened").toBool());
        QCOMPARE(box->property("message").toString(), QString::fromLatin1(message));
        click(item(QStringLiteral("messageOkButton")));
    }
    QTRY_VERIFY(!box->property("visible").toBool());
}

void TestQmlInterface::loadingAndProgress()
{
    QVERIFY(makeViewer(Fill::StartUp));
    QQuickItem *overlay = item(QStringLiteral("loadingOverlay"));
    QVERIFY(call("slShowLoading") && overlay->isVisible());
    QVERIFY(call("slHideLoading") && !overlay->isVisible());
    // A views rebuild ending during a format leaves the format wait shown.
    QVERIFY(call("slShowFormatWait") && call("slShowLoading") && call("slHideLoading"));
    QVERIFY(overlay->isVisible());
    QVERIFY(call("slHideFormatWait") && !overlay->isVisible());
    // A search shows its message and ends when the counter reaches the total.
    QVERIFY(call("slShowSearchProgress", {QStringLiteral("Searching Files")}));
    QVERIFY(call("slUpdateSearchProgress", {0, 1, QString()}));
    QCOMPARE(item(QStringLiteral("loadingMessage"), overlay)->property("text").toString(),
             QStringLiteral("Searching Files"));
    // An add shows its counter and Cancel while it runs.
    QSignalSpy cancel(root(), SIGNAL(sgCancelSearch()));
    QVERIFY(call("slUpdateTranscodingCounter", {2, 5}));
    QCOMPARE(item(QStringLiteral("addProgressCount"))->property("text").toString(), QStringLiteral("2 / 5"));
    click(item(QStringLiteral("addCancelButton")));
    QCOMPARE(cancel.count(), 1);
    QVERIFY(call("slUpdateSearchProgress", {1, 1, QString()}));
    QVERIFY(!overlay->isVisible() && !item(QStringLiteral("addProgress"))->isVisible());

    // The lookup's dialog stays up until its end mark (0, 0).
    QObject *dialog = root()->findChild<QObject *>(QStringLiteral("progressDialog"));
    QVERIFY(call("showProgressDialog") && call("updateProgress", {10, 9}));
    QVERIFY(dialog->property("visible").toBool() && dialog->property("counter").toInt() == 9);
    QVERIFY(call("updateProgress", {0, 0}));
    QTRY_VERIFY(!dialog->property("visible").toBool());

    // The transfer's cancel goes to the transfer, not to the lookup.
    QSignalSpy stopped(root(), SIGNAL(sgProgressStoped(int)));
    QSignalSpy lookupCancel(root(), SIGNAL(advancedSettingsCancel()));
    QVERIFY(call("slShowTransferProgress"));
    QVERIFY(call("slUpdateTransferProgress", {4, 1, QStringLiteral("/media/stick/a.mp3")}));
    QTRY_VERIFY(dialog->property("opened").toBool());
    click(item(QStringLiteral("progressCancelButton")));
    QCOMPARE(stopped.count(), 1);
    QCOMPARE(lookupCancel.count(), 0);
    QVERIFY(call("slhideTransferProgress"));
    QTRY_VERIFY(!dialog->property("visible").toBool());
}

void TestQmlInterface::advancedSettingsDialog()
{
    QVERIFY(makeViewer(Fill::Rows));
    QObjectList missing, poor;
    for (int id = 1; id <= 3; ++id)
        missing << new DetailedDataModel(true, true, id, 2011, QStringLiteral("Song %1").arg(id),
                                         QStringLiteral("Blue Hour"), band, QStringLiteral("Pop"), &rowOwner);
    poor << new DetailedDataModel(true, true, 4, 0, QStringLiteral("Low"), QStringLiteral("Coastline"), band, {},
                                  &rowOwner);
    viewer->rootContext()->setContextProperty(QStringLiteral("missingMediaData"), QVariant::fromValue(missing));
    viewer->rootContext()->setContextProperty(QStringLiteral("poorMediaQuality"), QVariant::fromValue(poor));
    QSignalSpy open(root(), SIGNAL(populateAdvancedSettings()));
    QSignalSpy list(root(), SIGNAL(setsettingsView(int)));
    QSignalSpy all(root(), SIGNAL(selectdeselectForSettings(bool)));
    QSignalSpy link(root(), SIGNAL(sgAdvancedSettingsLinkTab(int)));
    QSignalSpy continued(root(), SIGNAL(advancedSettingsContinue()));

    // The library's button asks for the lists; their arrival opens the dialog on the first list.
    QVERIFY(call("showViewPanel", {QStringLiteral("Corvane Arrow")}));
    click(item(QStringLiteral("advancedSettingsButton")));
    QCOMPARE(open.count(), 1);
    QVERIFY(call("slShowAdvancedSettings"));
    QObject *dialog = root()->findChild<QObject *>(QStringLiteral("advancedSettingsDialog"));
    QTRY_VERIFY(dialog->property("opened").toBool());
    QCOMPARE(list.last().at(0).toInt(), 0);
    QCOMPARE(item(QStringLiteral("missingDataList"))->property("count").toInt(), 3);
    QCOMPARE(item(QStringLiteral("poorQualityList"))->property("count").toInt(), 1);

    // A line's box writes its row; select all, the lists and the link tabs are reported.
    click(item(QStringLiteral("settingsLineCheckBox"), item(QStringLiteral("missingDataList"))));
    QVERIFY(!missing.first()->property("selected").toBool());
    click(item(QStringLiteral("settingsSelectAll")));
    click(item(QStringLiteral("poorQualityTab")));
    click(item(QStringLiteral("linkTab1")));
    click(item(QStringLiteral("linkTab0")));
    click(item(QStringLiteral("advancedSettingsContinue")));
    QCOMPARE(all.count(), 1);
    QCOMPARE(continued.count(), 1);
    QCOMPARE(list.last().at(0).toInt(), 1);
    QCOMPARE(QList<QVariantList>(link), (QList<QVariantList>{{1}, {0}}));
    QTRY_VERIFY(!dialog->property("visible").toBool());
}

CORVANE_TEST_MAIN(TestQmlInterface)
#include "tst_qmlinterface.moc"
