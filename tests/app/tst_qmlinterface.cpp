#include <QtTest>

#include <QImage>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSet>

#include "app/qmlapplicationviewer.h"
#include "testenv.h"

// The QML user interface against its contract with the application: the real
// main.qml, as the build lays it out beside bin/, loaded in the real viewer
// with the context properties the application publishes, first as the null
// placeholders of start-up, then as lists of row objects.  Any QML warning
// fails the test.

namespace {

// ---- Row objects with the property names the row models publish ----------

class StubArtistRow : public QObject
{
    Q_OBJECT
    Q_PROPERTY(qint16 artistid MEMBER m_artistid NOTIFY artistidChanged)
    Q_PROPERTY(qint16 albumcount MEMBER m_albumcount NOTIFY albumcountChanged)
    Q_PROPERTY(qint16 trackcount MEMBER m_trackcount NOTIFY trackcountChanged)
    Q_PROPERTY(QString artistname MEMBER m_artistname NOTIFY artistnameChanged)
    Q_PROPERTY(qint16 quality MEMBER m_quality NOTIFY qualityChanged)
    Q_PROPERTY(bool selected MEMBER m_selected NOTIFY selectedChanged)
    Q_PROPERTY(bool visibility MEMBER m_visibility NOTIFY visibilityChanged)
    Q_PROPERTY(QStringList coverart MEMBER m_coverart NOTIFY coverartChanged)

public:
    using QObject::QObject;
    qint16 m_artistid = 0;
    qint16 m_albumcount = 0;
    qint16 m_trackcount = 0;
    QString m_artistname;
    qint16 m_quality = 0;
    bool m_selected = false;
    bool m_visibility = false;
    QStringList m_coverart;

signals:
    void artistidChanged();
    void albumcountChanged();
    void trackcountChanged();
    void artistnameChanged();
    void qualityChanged();
    void selectedChanged();
    void visibilityChanged();
    void coverartChanged();
};

class StubAlbumRow : public QObject
{
    Q_OBJECT
    Q_PROPERTY(qint16 albumid MEMBER m_albumid NOTIFY albumidChanged)
    Q_PROPERTY(QString albumname MEMBER m_albumname NOTIFY albumnameChanged)
    Q_PROPERTY(QString artistname MEMBER m_artistname NOTIFY artistnameChanged)
    Q_PROPERTY(qint16 quality MEMBER m_quality NOTIFY qualityChanged)
    Q_PROPERTY(bool selected MEMBER m_selected NOTIFY selectedChanged)
    Q_PROPERTY(bool visibility MEMBER m_visibility NOTIFY visibilityChanged)
    Q_PROPERTY(QString coverart MEMBER m_coverart NOTIFY coverartChanged)

public:
    using QObject::QObject;
    qint16 m_albumid = 0;
    QString m_albumname;
    QString m_artistname;
    qint16 m_quality = 0;
    bool m_selected = false;
    bool m_visibility = false;
    QString m_coverart;

signals:
    void albumidChanged();
    void albumnameChanged();
    void artistnameChanged();
    void qualityChanged();
    void selectedChanged();
    void visibilityChanged();
    void coverartChanged();
};

class StubTrackRow : public QObject
{
    Q_OBJECT
    Q_PROPERTY(qint16 albumid MEMBER m_albumid NOTIFY albumidChanged)
    Q_PROPERTY(QString albumname MEMBER m_albumname NOTIFY albumnameChanged)
    Q_PROPERTY(QString artistname MEMBER m_artistname NOTIFY artistnameChanged)
    Q_PROPERTY(QString genre MEMBER m_genre NOTIFY genreChanged)
    Q_PROPERTY(qint16 year MEMBER m_year NOTIFY yearChanged)
    Q_PROPERTY(bool selected MEMBER m_selected NOTIFY selectedChanged)
    Q_PROPERTY(bool visibility MEMBER m_visibility NOTIFY visibilityChanged)
    Q_PROPERTY(QString coverart MEMBER m_coverart NOTIFY coverartChanged)
    Q_PROPERTY(QList<QObject *> tracklist MEMBER m_tracklist NOTIFY tracklistChanged)

public:
    using QObject::QObject;
    qint16 m_albumid = 0;
    QString m_albumname;
    QString m_artistname;
    QString m_genre;
    qint16 m_year = 0;
    bool m_selected = false;
    bool m_visibility = false;
    QString m_coverart;
    QList<QObject *> m_tracklist;

signals:
    void albumidChanged();
    void albumnameChanged();
    void artistnameChanged();
    void genreChanged();
    void yearChanged();
    void selectedChanged();
    void visibilityChanged();
    void coverartChanged();
    void tracklistChanged();
};

class StubTrack : public QObject
{
    Q_OBJECT
    Q_PROPERTY(qint16 trackid MEMBER m_trackid NOTIFY trackidChanged)
    Q_PROPERTY(qint16 trackno MEMBER m_trackno NOTIFY tracknoChanged)
    Q_PROPERTY(qint16 duration MEMBER m_duration NOTIFY durationChanged)
    Q_PROPERTY(QString tracktitle MEMBER m_tracktitle NOTIFY tracktitleChanged)
    Q_PROPERTY(QString releasedate MEMBER m_releasedate NOTIFY releasedateChanged)
    Q_PROPERTY(QString artistname MEMBER m_artistname NOTIFY artistnameChanged)
    Q_PROPERTY(QString albumname MEMBER m_albumname NOTIFY albumnameChanged)
    Q_PROPERTY(QString genre MEMBER m_genre NOTIFY genreChanged)
    Q_PROPERTY(bool selected MEMBER m_selected NOTIFY selectedChanged)
    Q_PROPERTY(QString track_path MEMBER m_track_path NOTIFY track_pathChanged)

public:
    using QObject::QObject;
    qint16 m_trackid = 0;
    qint16 m_trackno = 0;
    qint16 m_duration = 0;
    QString m_tracktitle;
    QString m_releasedate;
    QString m_artistname;
    QString m_albumname;
    QString m_genre;
    bool m_selected = false;
    QString m_track_path;

signals:
    void trackidChanged();
    void tracknoChanged();
    void durationChanged();
    void tracktitleChanged();
    void releasedateChanged();
    void artistnameChanged();
    void albumnameChanged();
    void genreChanged();
    void selectedChanged();
    void track_pathChanged();
};
// ---- The contract ------------------------------------------------------

// Signals of the root object, as the application connects them.
const char *const rootSignals[] = {
    "loadlist()",
    "loadmain()",
    "searchMediaSource(QString)",
    "addToMediaLibrary()",
    "removeTransfer(QString)",
    "searchbox(QString)",
    "sgCancelSearch()",
    "setlibraryView(int)",
    "setbrowserView(int)",
    "setdisplayType(int)",
    "setsettingsView(int)",
    "filterforCheckboxes(int)",
    "selectdeselectForBrowser(bool)",
    "selectdeselectForLibrary(bool)",
    "selectdeselectForSettings(bool)",
    "populateAdvancedSettings()",
    "advancedSettingsContinue()",
    "advancedSettingsCancel()",
    "sgAdvancedSettingsLinkTab(int)",
    "sgMediaBrowserClosed()",
    "sgCancelVideOptimising()",
    "sgSelectDeselectInTracksView(QString,int,bool)",
    "exeClose()",
    "transferTomedia(int)",
    "sgProgressStoped(int)",
    "continueDrive(QString,int,int,int,int)",
    "transferandSyncDialog()",
    "fillYearCombo(QString)",
    "sgCheckMediaLibrary(QString,QString,int)",
    "sgSaveSettingModelIndex(int,QString,QString,int)",
    "sgShowLicence()",
};

struct RootFunction
{
    const char *name;
    int arguments;
};

// Functions of the root object that the application's signals call.
const RootFunction rootFunctions[] = {
    {"slRefreshBrowser", 0},
    {"slShowProtectedMediaDialog", 0},
    {"slRefreshMain", 0},
    {"slShowAdvancedSettings", 0},
    {"showProgressDialog", 0},
    {"updateProgress", 2},
    {"slUpdateSearchProgress", 3},
    {"slShowSearchProgress", 1},
    {"slShowLoading", 0},
    {"slHideLoading", 0},
    {"showmessageBox", 1},
    {"slShowVideoOptimisation", 0},
    {"slVideoAproxTime", 1},
    {"slUpdateProgressVideo", 3},
    {"slCloseOnAllCompleteVideo", 0},
    {"slHideMediaBrowser", 0},
    {"slUpdateTranscodingCounter", 2},
    {"showtransferBrowser", 0},
    {"slShowTransferProgress", 0},
    {"slUpdateTransferProgress", 3},
    {"slhideTransferProgress", 0},
    {"updateYearCombo", 1},
    {"showStartPage", 1},
    {"showViewPanel", 1},
    {"updateDrivesData", 1},
    {"setIndexForModelCombo", 1},
};

// The user-interface texts, as the application publishes them.
const std::pair<const char *, const char *> texts[] = {
    {"MediaLibrary_txtSelectVehicledefault", "Please select your vehicle"},
    {"MediaLibrary_txtSelectVehicle", "There are currently no files in your Media Library..."},
    {"MediaLibrary_txtProductName", "CORVANE MEDIA ORGANISER"},
    {"MediaLibrary_txtwelcome", "Welcome"},
    {"MediaLibrary_txtwelcometxtModel", "MODEL"},
    {"MediaLibrary_txtwelcometxtYear", "YEAR"},
    {"MediaLibrary_txtwelcometext4", "This application will help you select and optimise music and media files to "
                                     "transfer to your vehicle."},
    {"MediaLibrary_txtwelcometext5", "Files can be transferred using your portable media such as a USB stick or SD "
                                     "Card."},
    {"MediaLibrary_feedbackLink", "Road trip ready <font color=\"#2f6fed\">#Corvane</font>"},
    {"MediaLibrary_texttransferProgress", "transferring files to destination drive"},
    {"MediaLibrary_texttransferProgressCancel", "Cancelling Process..."},
    {"MediaLibrary_textoptimisingProgress", "optimising files for  your corvane"},
    {"MediaLibrary_MessageText1", "There  are currently no files in your "},
    {"MediaLibrary_MessageText2", " Library.<br /> Click ADD MEDIA to open Media Browser."},
    {"MediaBrowser_txtTitle", "Media Browser"},
    {"MediaBrowser_txtLocation", "LOCATION"},
    {"MediaBrowser_txtView", "VIEW"},
    {"MediaBrowser_txtDisplay", "DISPLAY"},
    {"VideoTranscoding_txtTitle", "video optimising"},
    {"VideoTranscoding_txtAdded1", "You have chosen to add video titles."},
    {"VideoTranscoding_txtAdded2", "Please note that this process can take some time."},
    {"VideoTranscoding_videoOptimisationTimeString1", "1 Seconds"},
    {"VideoTranscoding_videoOptimisationTimeString2", "Optimisation is finished"},
    {"VideoTranscoding_videoOptimisationTimeString3", "Total for all current jobs: "},
    {"VideoTranscoding_progressNotification", "CURRENTLY OPTIMISING"},
    {"AdvanceSetting_progressNotification", "CURRENTLY OPTIMISING"},
    {"AdvanceSetting_textOfMediaQuality", "The  following files are of a lower quality"},
    {"AdvanceSetting_textOfMediaData", "The following files are missing data"},
    {"AdvanceSetting_txtTitle", "Advanced Settings"},
    {"TransferandSync_txtHeaderSYNC", "TRANSFER AND SYNC SETTINGS"},
    {"TransferandSync_txtSelectDrive", "Please select drive to transfer files to"},
    {"TransferandSync_txtTotal", "TOTAL"},
    {"TransferandSync_txtUsed", "USED"},
    {"TransferandSync_txtFree", "FREE"},
    {"TransferandSync_formatdrive", "Format drive first"},
    {"TransferandSync_txtSyncing", "Synching"},
    {"TransferandSync_overwriteall", "Overwrite all duplicates"},
    {"TransferandSync_overwritenew", "Overwrite only with newer"},
    {"TransferandSync_overwritehq", "Overwrite only with higher quality/contain more data"},
    {"protectedSongsView_dialogtitle", "Some content found is in protected format and can not be transferred."},
    {"protectedSongsView_txtHeader", "Protected media"},
    {"miniBox_txtViewStatus", "view status"},
    {"detailedView_txtVideoView", "Unknown"},
    {"trnsfrtext1", "All files have been successfully transferred to "},
    {"trnsfrtext2", " Media."},
};

const char *const libraryModels[] = {"albumsModel",    "artistsModel",    "tracksModel", "playlistsModel",
                                     "podcastsModel",  "audiobooksModel", "videosModel"};

const char *const laterLists[] = {"missingMediaData",  "poorMediaQuality",    "albumDetailsDialog",
                                  "artistDetailsDialog", "trackDetailsDialog", "albumModelDialog",
                                  "artistsModelDialog", "tracksModelDialog",  "optimisationVideoModel"};

QString mainQml()
{
    return QStringLiteral("qml/QRuVOCorvane/main.qml");
}

// Collects every warning printed while it lives, QML's own included.
class WarningCatcher
{
public:
    WarningCatcher()
    {
        caught().clear();
        previous() = qInstallMessageHandler(&WarningCatcher::handler);
    }
    ~WarningCatcher() { qInstallMessageHandler(previous()); }

    static QStringList &caught()
    {
        static QStringList list;
        return list;
    }

private:
    static QtMessageHandler &previous()
    {
        static QtMessageHandler handler = nullptr;
        return handler;
    }

    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (type != QtDebugMsg && type != QtInfoMsg)
            caught().append(message);
        if (previous())
            previous()(type, context, message);
    }
};

QObject *nullObject()
{
    return nullptr;
}

int colourCount(const QImage &image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 4) {
        for (int x = 0; x < image.width(); x += 4)
            colours.insert(image.pixel(x, y));
    }
    return colours.size();
}

} // namespace

class TestQmlInterface : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void adjustPath_data();
    void adjustPath();
    void importPathIsAdjusted_data();
    void importPathIsAdjusted();
    void viewerSettings();
    void orientationIsStored_data();
    void orientationIsStored();
    void engineQuitClosesTheWindow();
    void qmlCopyMatchesSources();

    void loadsWithoutWarnings_data();
    void loadsWithoutWarnings();
    void rootHasEverySignal();
    void rootHasEveryFunction();
    void everyFunctionTakesVariants_data();
    void everyFunctionTakesVariants();

    void savedVehicleIsRestored();
    void savedVehicleWithEmptyLibraryStaysOnStartPage();
    void choosingModelAndYear();
    void choosingSelectAsksNothing();
    void libraryTabsReportTheView();
    void emptyLibraryText();
    void hiddenRowsAreNotShown();
    void tickingACoverWritesSelected();
    void tickingAGroupTicksItsTracks();
    void tickingATrackWritesSelected();
    void selectAllIsReported();
    void licenceButtonEmits();
    void closingEmitsExeClose();
    void messageBoxQueuesMessages();
    void loadingOverlayFollowsCalls();
    void progressDialogClosesAtTotal();
    void screenshots();

private:
    enum class Fill { Nulls, StartUp, Rows };

    // A viewer with the context properties published, the main file loaded
    // and the window shown.
    bool makeViewer(Fill fill, const QString &file = mainQml());
    void publish(QQmlContext *context, Fill fill);
    QObject *root() const { return viewer->rootObject(); }
    QQuickItem *item(const QString &objectName) const;
    QQuickItem *itemIn(QQuickItem *parent, const QString &objectName) const;
    bool call(const char *function, const QVariantList &arguments = {});
    void click(QQuickItem *target);
    QStringList warnings() const { return WarningCatcher::caught(); }

    QObjectList makeAlbums();
    QObjectList makeArtists();
    QObjectList makeTrackRows(const QString &group, int tracks);

    QmlApplicationViewer *viewer = nullptr;
    std::unique_ptr<WarningCatcher> catcher;
    QObject rowOwner;  // parent of every stub row
    QString coverPath;
};

void TestQmlInterface::initTestCase()
{
    // A real cover file in the temporary home: paths with a "#" still load.
    const QString folder = testkit::testHome() + QStringLiteral("/covers #1");
    QVERIFY(QDir().mkpath(folder));
    coverPath = folder + QStringLiteral("/cover.png");
    QImage cover(64, 64, QImage::Format_RGB32);
    cover.fill(QColor(200, 60, 40));
    QVERIFY(cover.save(coverPath));
    QVERIFY2(QFileInfo::exists(QCoreApplication::applicationDirPath() + QStringLiteral("/../Resources/") + mainQml()),
             "the build copies the QML beside bin/");
}

void TestQmlInterface::cleanup()
{
    if (viewer) {
        delete viewer;
        viewer = nullptr;
    }
    catcher.reset();
    qDeleteAll(rowOwner.children());
}

// ---- The viewer -------------------------------------------------------------

void TestQmlInterface::adjustPath_data()
{
    QTest::addColumn<bool>("relative");
    QTest::addRow("relative path, below Resources beside bin") << true;
    QTest::addRow("absolute path, unchanged") << false;
}

void TestQmlInterface::adjustPath()
{
    QFETCH(bool, relative);
    const QString resources = QCoreApplication::applicationDirPath() + QStringLiteral("/../Resources/");
    QString given = mainQml();
    QString expected = resources + mainQml();
    QTemporaryDir elsewhere;
    if (!relative) {
        // a copy of the interface in a folder of its own, named absolutely
        const QDir copied(resources + QStringLiteral("qml/QRuVOCorvane"));
        for (const QString &name : copied.entryList(QDir::Files))
            QVERIFY(QFile::copy(copied.filePath(name), elsewhere.filePath(name)));
        given = elsewhere.filePath(QStringLiteral("main.qml"));
        expected = given;
    }
    QVERIFY(makeViewer(Fill::StartUp, given));
    QCOMPARE(viewer->source(), QUrl::fromLocalFile(expected));
    QVERIFY2(warnings().isEmpty(), qPrintable(warnings().join(QLatin1Char('\n'))));
}

void TestQmlInterface::importPathIsAdjusted_data()
{
    QTest::addColumn<bool>("relative");
    QTest::addRow("relative path, below Resources beside bin") << true;
    QTest::addRow("absolute path, unchanged") << false;
}

void TestQmlInterface::importPathIsAdjusted()
{
    QFETCH(bool, relative);
    QTemporaryDir elsewhere;
    // the engine keeps the canonical form of folders that exist
    const QString given = relative ? QStringLiteral("qml") : elsewhere.path();
    const QString expected =
        QFileInfo(relative ? QCoreApplication::applicationDirPath() + QStringLiteral("/../Resources/qml")
                           : elsewhere.path())
            .canonicalFilePath();
    QVERIFY(!expected.isEmpty());
    QmlApplicationViewer view;
    view.addImportPath(given);
    const QStringList paths = view.engine()->importPathList();
    QVERIFY2(paths.contains(expected), qPrintable(paths.join(QLatin1Char('\n'))));
}

void TestQmlInterface::viewerSettings()
{
    std::unique_ptr<QmlApplicationViewer> made(QmlApplicationViewer::create());
    QVERIFY(made);
    QVERIFY(!made->parent());
    QCOMPARE(made->resizeMode(), QQuickView::SizeRootObjectToView);
}

void TestQmlInterface::orientationIsStored_data()
{
    QTest::addColumn<int>("given");
    QTest::addColumn<int>("expected");
    QTest::addRow("lock portrait") << 0 << 0;
    QTest::addRow("lock landscape") << 1 << 1;
    QTest::addRow("automatic") << 2 << 2;
    QTest::addRow("unknown value means automatic") << 7 << 2;
}

void TestQmlInterface::orientationIsStored()
{
    QFETCH(int, given);
    QFETCH(int, expected);
    QmlApplicationViewer view;
    view.setOrientation(QmlApplicationViewer::ScreenOrientationLockLandscape);
    view.setOrientation(static_cast<QmlApplicationViewer::ScreenOrientation>(given));
    QCOMPARE(static_cast<int>(view.orientation()), expected);
}

void TestQmlInterface::engineQuitClosesTheWindow()
{
    QVERIFY(makeViewer(Fill::StartUp));
    QSignalSpy closing(root(), SIGNAL(exeClose()));
    QVERIFY(viewer->isVisible());
    emit viewer->engine()->quit();
    QVERIFY(!viewer->isVisible());
    QCOMPARE(closing.count(), 1);
}

void TestQmlInterface::qmlCopyMatchesSources()
{
    const QString sourceDir = qEnvironmentVariable("CORVANE_SOURCE_DIR");
    if (sourceDir.isEmpty())
        QSKIP("CORVANE_SOURCE_DIR is set by CTest");
    const QDir sources(sourceDir + QStringLiteral("/qml/QRuVOCorvane"));
    const QDir copies(QCoreApplication::applicationDirPath() + QStringLiteral("/../Resources/qml/QRuVOCorvane"));
    const QStringList names = sources.entryList(QDir::Files);
    QVERIFY(names.contains(QStringLiteral("main.qml")));
    QVERIFY(names.contains(QStringLiteral("qmldir")));
    for (const QString &name : names) {
        QFile original(sources.filePath(name));
        QFile copy(copies.filePath(name));
        QVERIFY2(original.open(QIODevice::ReadOnly), qPrintable(name));
        QVERIFY2(copy.open(QIODevice::ReadOnly), qPrintable(name + " is not copied"));
        QVERIFY2(original.readAll() == copy.readAll(), qPrintable(name + " is out of date"));
    }
}

// ---- Loading ----------------------------------------------------------------

void TestQmlInterface::publish(QQmlContext *context, Fill fill)
{
    const QVariant null = QVariant::fromValue(nullObject());
    for (const auto &[key, text] : texts)
        context->setContextProperty(QString::fromLatin1(key),
                                    fill == Fill::Nulls ? null : QVariant(QString::fromUtf8(text)));

    QList<QList<QObject *>> rows(7);
    if (fill == Fill::Rows) {
        rows[0] = makeAlbums();
        rows[1] = makeArtists();
        rows[2] = makeTrackRows(QStringLiteral("Summer"), 8) + makeTrackRows(QStringLiteral("Winter"), 2);
        rows[3] = makeTrackRows(QStringLiteral("Road Trip"), 3);
        rows[4] = makeTrackRows(QStringLiteral("Daily News"), 1);
        rows[5] = makeAlbums();
        rows[6] = makeAlbums();
    }
    for (int i = 0; i < 7; ++i) {
        const QString name = QString::fromLatin1(libraryModels[i]);
        context->setContextProperty(name, fill == Fill::Nulls ? null : QVariant::fromValue(rows[i]));
    }

    const bool nulls = fill == Fill::Nulls;
    context->setContextProperty(QStringLiteral("isDB"), nulls ? null : QVariant(QStringLiteral("0")));
    context->setContextProperty(QStringLiteral("defaultFountSze"), nulls ? null : QVariant(0));
    context->setContextProperty(QStringLiteral("SelectedModelName"), nulls ? null : QVariant(QStringLiteral("Select")));
    context->setContextProperty(QStringLiteral("SelectedModelYearValue"),
                                nulls ? null : QVariant(QStringLiteral("Select")));
    context->setContextProperty(QStringLiteral("onMac"), nulls ? null : QVariant(1));
    context->setContextProperty(QStringLiteral("screenWidth"), nulls ? null : QVariant(qint64(1080)));
    if (fill == Fill::Rows) {
        context->setContextProperty(QStringLiteral("lstModel"),
                                    QStringList{"Select", "Corvane Arrow", "Corvane Breeze", "Corvane Coupe"});
        context->setContextProperty(QStringLiteral("lstYear"), QStringList{"Select", "2011", "2012"});
        context->setContextProperty(QStringLiteral("driveList"), QStringList{"/media/stick"});
    } else {
        context->setContextProperty(QStringLiteral("lstModel"), null);
        context->setContextProperty(QStringLiteral("lstYear"), null);
        context->setContextProperty(QStringLiteral("driveList"), null);
    }
    for (const char *name : laterLists)
        context->setContextProperty(QString::fromLatin1(name), null);
    context->setContextProperty(QStringLiteral("protectedTracksModel"), nulls ? null : QVariant(QString()));
    context->setContextProperty(QStringLiteral("drivedetails"), nulls ? null : QVariant(QStringList{QString()}));
}

bool TestQmlInterface::makeViewer(Fill fill, const QString &file)
{
    catcher = std::make_unique<WarningCatcher>();
    viewer = new QmlApplicationViewer;
    publish(viewer->rootContext(), fill);
    viewer->setMainQmlFile(file);
    viewer->resize(1280, 800);
    viewer->show();
    if (viewer->status() != QQuickView::Ready || !viewer->rootObject()) {
        qWarning("main.qml did not load");
        return false;
    }
    return QTest::qWaitForWindowExposed(viewer);
}

QQuickItem *TestQmlInterface::itemIn(QQuickItem *parent, const QString &objectName) const
{
    if (!parent)
        return nullptr;
    if (parent->objectName() == objectName)
        return parent;
    const QList<QQuickItem *> children = parent->childItems();
    for (QQuickItem *child : children) {
        if (QQuickItem *found = itemIn(child, objectName))
            return found;
    }
    return nullptr;
}

QQuickItem *TestQmlInterface::item(const QString &objectName) const
{
    // Popups live in the window's overlay, not below the root item.
    return itemIn(viewer->contentItem(), objectName);
}

bool TestQmlInterface::call(const char *function, const QVariantList &arguments)
{
    switch (arguments.size()) {
    case 0:
        return QMetaObject::invokeMethod(root(), function);
    case 1:
        return QMetaObject::invokeMethod(root(), function, Q_ARG(QVariant, arguments.at(0)));
    case 2:
        return QMetaObject::invokeMethod(root(), function, Q_ARG(QVariant, arguments.at(0)),
                                         Q_ARG(QVariant, arguments.at(1)));
    case 3:
        return QMetaObject::invokeMethod(root(), function, Q_ARG(QVariant, arguments.at(0)),
                                         Q_ARG(QVariant, arguments.at(1)), Q_ARG(QVariant, arguments.at(2)));
    default:
        return false;
    }
}

void TestQmlInterface::click(QQuickItem *target)
{
    QVERIFY(target);
    QVERIFY2(target->isVisible(), qPrintable(target->objectName() + " is hidden"));
    // a frame first: polish settles the layouts and views the click lands in
    viewer->grabWindow();
    const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
    QTest::mouseClick(viewer, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
}

QObjectList TestQmlInterface::makeAlbums()
{
    QObjectList rows;
    const QStringList names{"Blue Hour", "Coastline", "Night Drive"};
    for (int i = 0; i < names.size(); ++i) {
        auto *album = new StubAlbumRow(&rowOwner);
        album->m_albumid = qint16(i + 2);
        album->m_albumname = names.at(i);
        album->m_artistname = QStringLiteral("The Example Band");
        album->m_visibility = true;
        album->m_coverart = i == 0 ? coverPath : QStringLiteral("qrc:///resources/photos/no_artwork.png");
        rows << album;
    }
    return rows;
}

QObjectList TestQmlInterface::makeArtists()
{
    QObjectList rows;
    auto *artist = new StubArtistRow(&rowOwner);
    artist->m_artistid = 1;
    artist->m_albumcount = 2;
    artist->m_trackcount = 11;
    artist->m_artistname = QStringLiteral("The Example Band");
    artist->m_visibility = true;
    artist->m_coverart = QStringList{coverPath};
    rows << artist;
    auto *unknown = new StubArtistRow(&rowOwner);
    unknown->m_artistid = 2;
    unknown->m_albumcount = 1;
    unknown->m_trackcount = 1;
    unknown->m_artistname = QStringLiteral("Unknown Artist");
    unknown->m_visibility = true;
    rows << unknown;  // no cover at all
    return rows;
}

// One group as the grouped views publish it: row 1 with the cover and tracks
// 1-6, row 2 with artist, genre and year and tracks 7-12, then rows of six
// tracks whose cover is "no".
QObjectList TestQmlInterface::makeTrackRows(const QString &group, int tracks)
{
    QObjectList rows;
    const int rowCount = std::max(2, (tracks + 5) / 6);
    for (int r = 1; r <= rowCount; ++r) {
        auto *row = new StubTrackRow(&rowOwner);
        row->m_albumid = 7;
        row->m_albumname = group;
        row->m_visibility = true;
        row->m_coverart = r == 1 ? coverPath : QStringLiteral("no");
        if (r == 2) {
            row->m_artistname = QStringLiteral("The Example Band");
            row->m_genre = QStringLiteral("Pop");
            row->m_year = 2012;
        }
        for (int t = (r - 1) * 6 + 1; t <= std::min(tracks, r * 6); ++t) {
            auto *track = new StubTrack(&rowOwner);
            track->m_trackid = qint16(100 + t);
            track->m_trackno = qint16(t);
            track->m_duration = qint16(150 + t);
            track->m_tracktitle = QStringLiteral("%1 track %2").arg(group).arg(t);
            track->m_artistname = QStringLiteral("The Example Band");
            track->m_albumname = group;
            row->m_tracklist << track;
        }
        rows << row;
    }
    return rows;
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
    QCOMPARE(viewer->status(), QQuickView::Ready);
    QVERIFY(root());
    QCOMPARE(root()->objectName(), QStringLiteral("root"));
    // both screens laid out and drawn once
    QVERIFY(call("showViewPanel", {QStringLiteral("Corvane Arrow")}));
    QVERIFY(QTest::qWaitForWindowExposed(viewer));
    viewer->grabWindow();
    for (int tab = 0; tab < 7; ++tab) {
        QQuickItem *tabs = item(QStringLiteral("libraryTabs"));
        QVERIFY(tabs);
        tabs->setProperty("currentIndex", tab);
        viewer->grabWindow();
    }
    QVERIFY(call("showStartPage", {QStringLiteral("Corvane Arrow")}));
    viewer->grabWindow();

    // the real values replace the placeholders while the window is up
    publish(viewer->rootContext(), Fill::Rows);
    viewer->grabWindow();
    QVERIFY(call("showViewPanel", {QStringLiteral("Corvane Arrow")}));
    for (int tab = 0; tab < 7; ++tab) {
        item(QStringLiteral("libraryTabs"))->setProperty("currentIndex", tab);
        viewer->grabWindow();
    }
    QCOMPARE(item(QStringLiteral("modelCombo"))->property("count").toInt(), 4);
    QVERIFY2(warnings().isEmpty(), qPrintable(warnings().join(QLatin1Char('\n'))));
}

// ---- The contract -----------------------------------------------------------

void TestQmlInterface::rootHasEverySignal()
{
    QVERIFY(makeViewer(Fill::StartUp));
    const QMetaObject *meta = root()->metaObject();
    for (const char *signature : rootSignals) {
        const int index = meta->indexOfSignal(QMetaObject::normalizedSignature(signature));
        QVERIFY2(index >= 0, signature);
        QCOMPARE(meta->method(index).methodType(), QMetaMethod::Signal);
    }
}

void TestQmlInterface::rootHasEveryFunction()
{
    QVERIFY(makeViewer(Fill::StartUp));
    const QMetaObject *meta = root()->metaObject();
    for (const RootFunction &function : rootFunctions) {
        QStringList parameters;
        for (int i = 0; i < function.arguments; ++i)
            parameters << QStringLiteral("QVariant");
        const QByteArray signature =
            QByteArray(function.name) + '(' + parameters.join(QLatin1Char(',')).toLatin1() + ')';
        const int index = meta->indexOfMethod(signature);
        QVERIFY2(index >= 0, signature.constData());
        const QMetaMethod method = meta->method(index);
        // QML functions are published as slots
        QVERIFY(method.methodType() == QMetaMethod::Slot || method.methodType() == QMetaMethod::Method);
        for (int i = 0; i < method.parameterCount(); ++i)
            QCOMPARE(method.parameterType(i), int(QMetaType::QVariant));
        QCOMPARE(method.parameterCount(), function.arguments);
    }
}

void TestQmlInterface::everyFunctionTakesVariants_data()
{
    QTest::addColumn<int>("fill");
    QTest::addColumn<QVariant>("argument");
    QTest::addRow("null placeholders, null arguments") << int(Fill::Nulls) << QVariant();
    QTest::addRow("start-up, integers") << int(Fill::StartUp) << QVariant(3);
    QTest::addRow("start-up, texts") << int(Fill::StartUp) << QVariant(QStringLiteral("Corvane Arrow"));
    QTest::addRow("rows, string lists") << int(Fill::Rows) << QVariant(QStringList{"Select", "2013"});
    QTest::addRow("rows, negative numbers") << int(Fill::Rows) << QVariant(-1);
}

void TestQmlInterface::everyFunctionTakesVariants()
{
    QFETCH(int, fill);
    QFETCH(QVariant, argument);
    QVERIFY(makeViewer(Fill(fill)));
    for (const RootFunction &function : rootFunctions) {
        QVariantList arguments;
        for (int i = 0; i < function.arguments; ++i)
            arguments << argument;
        QVERIFY2(call(function.name, arguments), function.name);
        viewer->grabWindow();
    }
    QVERIFY2(warnings().isEmpty(), qPrintable(warnings().join(QLatin1Char('\n'))));
}

// ---- The vehicle choice ------------------------------------------------------

void TestQmlInterface::savedVehicleIsRestored()
{
    QVERIFY(makeViewer(Fill::Rows));
    QSignalSpy years(root(), SIGNAL(fillYearCombo(QString)));
    QSignalSpy check(root(), SIGNAL(sgCheckMediaLibrary(QString,QString,int)));
    QSignalSpy save(root(), SIGNAL(sgSaveSettingModelIndex(int,QString,QString,int)));
    viewer->rootContext()->setContextProperty(QStringLiteral("SelectedModelYearValue"), QStringLiteral("2013"));

    // the saved model's position arrives, then that model's years
    QVERIFY(call("setIndexForModelCombo", {2}));
    QCOMPARE(years.count(), 1);
    QCOMPARE(years.at(0).at(0).toString(), QStringLiteral("Corvane Breeze"));
    QCOMPARE(item(QStringLiteral("modelCombo"))->property("currentText").toString(), QStringLiteral("Corvane Breeze"));

    QVERIFY(call("updateYearCombo", {QStringList{"Select", "2012", "2013", "2014"}}));
    QCOMPARE(item(QStringLiteral("yearCombo"))->property("currentText").toString(), QStringLiteral("2013"));
    QCOMPARE(check.count(), 1);
    QCOMPARE(check.at(0).at(0).toString(), QStringLiteral("Corvane Breeze"));
    QCOMPARE(check.at(0).at(1).toString(), QStringLiteral("2013"));
    QCOMPARE(check.at(0).at(2).toInt(), root()->property("librarySize").toInt());
    QVERIFY(check.at(0).at(2).toInt() > 0);
    QCOMPARE(save.count(), 0);  // restoring is not a new choice

    QVERIFY(call("showViewPanel", {QStringLiteral("Corvane Breeze")}));
    QVERIFY(item(QStringLiteral("libraryPanel"))->isVisible());
    QVERIFY(!item(QStringLiteral("startPage"))->isVisible());
    QCOMPARE(item(QStringLiteral("vehicleButton"))->property("text").toString(), QStringLiteral("Corvane Breeze"));
    QVERIFY2(warnings().isEmpty(), qPrintable(warnings().join(QLatin1Char('\n'))));
}

void TestQmlInterface::savedVehicleWithEmptyLibraryStaysOnStartPage()
{
    QVERIFY(makeViewer(Fill::StartUp));
    QVERIFY(!item(QStringLiteral("emptyLibraryHint"))->isVisible());
    QVERIFY(call("showStartPage", {QStringLiteral("Corvane Arrow")}));
    QVERIFY(item(QStringLiteral("startPage"))->isVisible());
    QVERIFY(item(QStringLiteral("emptyLibraryHint"))->isVisible());
    QVERIFY(!item(QStringLiteral("libraryPanel"))->isVisible());
}

void TestQmlInterface::choosingModelAndYear()
{
    QVERIFY(makeViewer(Fill::Rows));
    QSignalSpy years(root(), SIGNAL(fillYearCombo(QString)));
    QSignalSpy check(root(), SIGNAL(sgCheckMediaLibrary(QString,QString,int)));
    QSignalSpy save(root(), SIGNAL(sgSaveSettingModelIndex(int,QString,QString,int)));

    QQuickItem *models = item(QStringLiteral("modelCombo"));
    QQuickItem *yearBox = item(QStringLiteral("yearCombo"));
    QVERIFY(models && yearBox);
    // lstModel fills the model list; "Select" is shown first
    QCOMPARE(models->property("count").toInt(), 4);
    QCOMPARE(models->property("currentText").toString(), QStringLiteral("Select"));

    models->setProperty("currentIndex", 3);
    QVERIFY(QMetaObject::invokeMethod(models, "activated", Q_ARG(int, 3)));
    QCOMPARE(years.count(), 1);
    QCOMPARE(years.at(0).at(0).toString(), QStringLiteral("Corvane Coupe"));
    QVERIFY(call("updateYearCombo", {QStringList{"Select", "2011", "2012"}}));
    QCOMPARE(check.count(), 0);  // no year yet

    yearBox->setProperty("currentIndex", 2);
    QVERIFY(QMetaObject::invokeMethod(yearBox, "activated", Q_ARG(int, 2)));
    QCOMPARE(save.count(), 1);
    QCOMPARE(save.at(0).at(0).toInt(), 3);
    QCOMPARE(save.at(0).at(1).toString(), QStringLiteral("Corvane Coupe"));
    QCOMPARE(save.at(0).at(2).toString(), QStringLiteral("2012"));
    QCOMPARE(save.at(0).at(3).toInt(), 2);
    QCOMPARE(check.count(), 1);
    QCOMPARE(check.at(0).at(0).toString(), QStringLiteral("Corvane Coupe"));
    QCOMPARE(check.at(0).at(1).toString(), QStringLiteral("2012"));
    QVERIFY2(warnings().isEmpty(), qPrintable(warnings().join(QLatin1Char('\n'))));
}

void TestQmlInterface::choosingSelectAsksNothing()
{
    QVERIFY(makeViewer(Fill::Rows));
    QSignalSpy years(root(), SIGNAL(fillYearCombo(QString)));
    QSignalSpy check(root(), SIGNAL(sgCheckMediaLibrary(QString,QString,int)));
    QQuickItem *models = item(QStringLiteral("modelCombo"));
    QQuickItem *yearBox = item(QStringLiteral("yearCombo"));
    models->setProperty("currentIndex", 0);
    QVERIFY(QMetaObject::invokeMethod(models, "activated", Q_ARG(int, 0)));
    yearBox->setProperty("currentIndex", 0);
    QVERIFY(QMetaObject::invokeMethod(yearBox, "activated", Q_ARG(int, 0)));
    // a restore to "Select" (no saved vehicle) asks nothing either
    QVERIFY(call("setIndexForModelCombo", {0}));
    QCOMPARE(years.count(), 0);
    QCOMPARE(check.count(), 0);
}

// ---- The library panel -------------------------------------------------------

void TestQmlInterface::libraryTabsReportTheView()
{
    QVERIFY(makeViewer(Fill::Rows));
    QVERIFY(call("showViewPanel", {QStringLiteral("Corvane Arrow")}));
    QSignalSpy view(root(), SIGNAL(setlibraryView(int)));
    QSignalSpy load(root(), SIGNAL(loadlist()));
    const QStringList names{"albumsView", "artistsView", "tracksView", "playlistsView",
                            "podcastsView", "audiobooksView", "videosView"};
    for (int tab : {3, 6, 0, 2}) {
        click(item(QStringLiteral("libraryTab%1").arg(tab)));
        QCOMPARE(view.count() > 0 ? view.last().at(0).toInt() : -1, tab);
        QVERIFY2(item(names.at(tab))->isVisible(), qPrintable(names.at(tab)));
    }
    QCOMPARE(view.count(), 4);
    QCOMPARE(load.count(), 4);
}

void TestQmlInterface::emptyLibraryText()
{
    QVERIFY(makeViewer(Fill::StartUp));
    QVERIFY(call("showViewPanel", {QStringLiteral("Corvane Arrow")}));
    QQuickItem *albums = item(QStringLiteral("albumsView"));
    QQuickItem *text = itemIn(albums, QStringLiteral("emptyLibraryText"));
    QVERIFY(text);
    QVERIFY(text->isVisible());
    QCOMPARE(text->property("text").toString(),
             QStringLiteral("There  are currently no files in your Music Library.<br /> Click ADD MEDIA to open "
                            "Media Browser."));
    item(QStringLiteral("libraryTabs"))->setProperty("currentIndex", 4);
    QQuickItem *podcastText = itemIn(item(QStringLiteral("podcastsView")), QStringLiteral("emptyLibraryText"));
    QVERIFY(podcastText->isVisible());
    QVERIFY(podcastText->property("text").toString().contains(QStringLiteral("your Podcasts Library")));

    // a view with rows shows them, not the text
    cleanup();
    QVERIFY(makeViewer(Fill::Rows));
    QVERIFY(call("showViewPanel", {QStringLiteral("Corvane Arrow")}));
    QVERIFY(!itemIn(item(QStringLiteral("albumsView")), QStringLiteral("emptyLibraryText"))->isVisible());
}

void TestQmlInterface::hiddenRowsAreNotShown()
{
    QVERIFY(makeViewer(Fill::Rows));
    QVERIFY(call("showViewPanel", {QStringLiteral("Corvane Arrow")}));
    const auto rows = viewer->rootContext()->contextProperty(QStringLiteral("albumsModel")).value<QObjectList>();
    QQuickItem *grid = item(QStringLiteral("albumsViewGrid"));
    QVERIFY(grid);
    QCOMPARE(grid->property("count").toInt(), 3);
    rows.at(1)->setProperty("visibility", false);
    QCOMPARE(grid->property("count").toInt(), 2);
    rows.at(1)->setProperty("visibility", true);
    QCOMPARE(grid->property("count").toInt(), 3);
    QVERIFY2(warnings().isEmpty(), qPrintable(warnings().join(QLatin1Char('\n'))));
}

void TestQmlInterface::tickingACoverWritesSelected()
{
    QVERIFY(makeViewer(Fill::Rows));
    QVERIFY(call("showViewPanel", {QStringLiteral("Corvane Arrow")}));
    const auto rows = viewer->rootContext()->contextProperty(QStringLiteral("albumsModel")).value<QObjectList>();
    QCOMPARE(rows.size(), 3);
    QQuickItem *box = itemIn(item(QStringLiteral("albumsView")), QStringLiteral("tileCheckBox"));
    QVERIFY(box);
    // the tile that holds the box shows one of the rows
    QObject *row = box->parentItem()->parentItem()->property("row").value<QObject *>();
    QVERIFY(rows.contains(row));
    auto ticked = [&rows] {
        return std::count_if(rows.cbegin(), rows.cend(), [](QObject *r) { return r->property("selected").toBool(); });
    };
    click(box);
    QVERIFY(row->property("selected").toBool());
    QCOMPARE(ticked(), 1);
    click(box);
    QVERIFY(!row->property("selected").toBool());
    QCOMPARE(ticked(), 0);
    // a tick set by the application shows as well
    row->setProperty("selected", true);
    QVERIFY(box->property("checked").toBool());
}

void TestQmlInterface::tickingAGroupTicksItsTracks()
{
    QVERIFY(makeViewer(Fill::Rows));
    QVERIFY(call("showViewPanel", {QStringLiteral("Corvane Arrow")}));
    item(QStringLiteral("libraryTabs"))->setProperty("currentIndex", 2);
    const auto rows = viewer->rootContext()->contextProperty(QStringLiteral("tracksModel")).value<QObjectList>();
    QCOMPARE(rows.size(), 4);  // Summer: two rows, Winter: two rows
    QQuickItem *group = itemIn(item(QStringLiteral("tracksView")), QStringLiteral("groupCheckBox"));
    click(group);
    auto tracksOf = [](QObject *row) { return row->property("tracklist").value<QObjectList>(); };
    for (int r = 0; r < 2; ++r) {
        QVERIFY(rows.at(r)->property("selected").toBool());
        for (QObject *track : tracksOf(rows.at(r)))
            QVERIFY(track->property("selected").toBool());
    }
    QCOMPARE(tracksOf(rows.at(0)).size() + tracksOf(rows.at(1)).size(), 8);
    // the next group is left alone
    for (int r = 2; r < 4; ++r) {
        QVERIFY(!rows.at(r)->property("selected").toBool());
        for (QObject *track : tracksOf(rows.at(r)))
            QVERIFY(!track->property("selected").toBool());
    }
    click(group);
    for (QObject *track : tracksOf(rows.at(1)))
        QVERIFY(!track->property("selected").toBool());
}

void TestQmlInterface::tickingATrackWritesSelected()
{
    QVERIFY(makeViewer(Fill::Rows));
    QVERIFY(call("showViewPanel", {QStringLiteral("Corvane Arrow")}));
    item(QStringLiteral("libraryTabs"))->setProperty("currentIndex", 3);
    const auto rows = viewer->rootContext()->contextProperty(QStringLiteral("playlistsModel")).value<QObjectList>();
    click(itemIn(item(QStringLiteral("playlistsView")), QStringLiteral("trackCheckBox")));
    const auto tracks = rows.first()->property("tracklist").value<QObjectList>();
    QCOMPARE(tracks.size(), 3);
    QVERIFY(tracks.at(0)->property("selected").toBool());
    QVERIFY(!tracks.at(1)->property("selected").toBool());
    QVERIFY(!rows.first()->property("selected").toBool());
}

void TestQmlInterface::selectAllIsReported()
{
    QVERIFY(makeViewer(Fill::Rows));
    QVERIFY(call("showViewPanel", {QStringLiteral("Corvane Arrow")}));
    QSignalSpy all(root(), SIGNAL(selectdeselectForLibrary(bool)));
    QQuickItem *box = item(QStringLiteral("selectAllCheckBox"));
    click(box);
    QCOMPARE(all.count(), 1);
    QCOMPARE(all.at(0).at(0).toBool(), true);
    // a republished view starts unticked
    QVERIFY(call("slRefreshMain"));
    QVERIFY(!box->property("checked").toBool());
    click(box);
    QCOMPARE(all.last().at(0).toBool(), true);

    QSignalSpy action(root(), SIGNAL(removeTransfer(QString)));
    click(item(QStringLiteral("removeButton")));
    click(item(QStringLiteral("transferButton")));
    QCOMPARE(action.count(), 2);
    QCOMPARE(action.at(0).at(0).toString(), QStringLiteral("remove"));
    QCOMPARE(action.at(1).at(0).toString(), QStringLiteral("transfer"));
}

// ---- Window, dialogs, overlay -----------------------------------------------

void TestQmlInterface::licenceButtonEmits()
{
    QVERIFY(makeViewer(Fill::StartUp));
    QSignalSpy licence(root(), SIGNAL(sgShowLicence()));
    QQuickItem *button = item(QStringLiteral("licenceButton"));
    QCOMPARE(button->property("text").toString(), QStringLiteral("License"));
    click(button);
    QCOMPARE(licence.count(), 1);
}

void TestQmlInterface::closingEmitsExeClose()
{
    QVERIFY(makeViewer(Fill::Rows));
    QSignalSpy closing(root(), SIGNAL(exeClose()));
    viewer->close();
    QCOMPARE(closing.count(), 1);
}

void TestQmlInterface::messageBoxQueuesMessages()
{
    QVERIFY(makeViewer(Fill::StartUp));
    QObject *box = root()->findChild<QObject *>(QStringLiteral("messageBox"));
    QVERIFY(box);
    QVERIFY(!box->property("opened").toBool() && !box->property("visible").toBool());
    QVERIFY(call("showmessageBox", {QStringLiteral("Drive is Full")}));
    QVERIFY(box->property("visible").toBool());
    QTRY_VERIFY(box->property("opened").toBool());
    QCOMPARE(box->property("message").toString(), QStringLiteral("Drive is Full"));
    QVERIFY(call("showmessageBox", {QStringLiteral("Disk is Removed")}));
    QCOMPARE(box->property("message").toString(), QStringLiteral("Drive is Full"));

    click(item(QStringLiteral("messageOkButton")));
    QTRY_VERIFY(box->property("opened").toBool());
    QCOMPARE(box->property("message").toString(), QStringLiteral("Disk is Removed"));
    click(item(QStringLiteral("messageOkButton")));
    QTRY_VERIFY(!box->property("visible").toBool());
    QVERIFY2(warnings().isEmpty(), qPrintable(warnings().join(QLatin1Char('\n'))));
}

void TestQmlInterface::loadingOverlayFollowsCalls()
{
    QVERIFY(makeViewer(Fill::StartUp));
    QQuickItem *overlay = item(QStringLiteral("loadingOverlay"));
    QVERIFY(overlay);
    QVERIFY(!overlay->isVisible());
    QVERIFY(call("slShowLoading"));
    QVERIFY(overlay->isVisible());
    QVERIFY(call("slHideLoading"));
    QVERIFY(!overlay->isVisible());

    // a search: shown with its message, done when the counter reaches the total
    QVERIFY(call("slShowSearchProgress", {QStringLiteral("Searching Files")}));
    QVERIFY(call("slUpdateSearchProgress", {0, 1, QString()}));
    QVERIFY(overlay->isVisible());
    QCOMPARE(itemIn(overlay, QStringLiteral("loadingMessage"))->property("text").toString(),
             QStringLiteral("Searching Files"));
    QVERIFY(call("slUpdateSearchProgress", {1, 1, QString()}));
    QVERIFY(!overlay->isVisible());
}

void TestQmlInterface::progressDialogClosesAtTotal()
{
    QVERIFY(makeViewer(Fill::StartUp));
    QObject *dialog = root()->findChild<QObject *>(QStringLiteral("progressDialog"));
    QVERIFY(dialog);
    QVERIFY(call("showProgressDialog"));
    QVERIFY(dialog->property("visible").toBool());
    QVERIFY(call("updateProgress", {10, 3}));
    QVERIFY(dialog->property("visible").toBool());
    QCOMPARE(dialog->property("counter").toInt(), 3);
    QVERIFY(call("updateProgress", {10, 9}));
    QVERIFY(dialog->property("visible").toBool());
    // the lookup's end reports (0, 0)
    QVERIFY(call("updateProgress", {0, 0}));
    QTRY_VERIFY(!dialog->property("visible").toBool());

    // the transfer: cancel is reported to the transfer, not to the lookup
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

void TestQmlInterface::screenshots()
{
    QVERIFY(makeViewer(Fill::Rows));
    const QString saveTo = qEnvironmentVariable("CORVANE_SCREENSHOT_DIR");

    const QImage start = viewer->grabWindow();
    QVERIFY(!start.isNull());
    QCOMPARE(start.size(), viewer->size() * viewer->devicePixelRatio());
    QVERIFY2(colourCount(start) > 1, "the start page is blank");

    QVERIFY(call("showViewPanel", {QStringLiteral("Corvane Arrow")}));
    const QImage albums = viewer->grabWindow();
    QVERIFY2(colourCount(albums) > 1, "the library panel is blank");
    QVERIFY(albums != start);

    item(QStringLiteral("libraryTabs"))->setProperty("currentIndex", 2);
    const QImage tracks = viewer->grabWindow();
    QVERIFY2(colourCount(tracks) > 1, "the tracks view is blank");

    if (!saveTo.isEmpty()) {
        QDir().mkpath(saveTo);
        start.save(saveTo + QStringLiteral("/start.png"));
        albums.save(saveTo + QStringLiteral("/albums.png"));
        tracks.save(saveTo + QStringLiteral("/tracks.png"));
        item(QStringLiteral("libraryTabs"))->setProperty("currentIndex", 1);
        viewer->grabWindow().save(saveTo + QStringLiteral("/artists.png"));
        QVERIFY(call("showmessageBox", {QStringLiteral("Please select at least one item to remove.")}));
        QTest::qWait(300);
        viewer->grabWindow().save(saveTo + QStringLiteral("/message.png"));
    }
    QVERIFY2(warnings().isEmpty(), qPrintable(warnings().join(QLatin1Char('\n'))));
}

CORVANE_TEST_MAIN(TestQmlInterface)
#include "tst_qmlinterface.moc"
