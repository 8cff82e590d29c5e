#include "app/manager.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QSemaphore>
#include <QQmlContext>
#include <QQuickItem>
#include <QSet>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QtConcurrent>

#include "app/advancedsettings.h"
#include "app/libraryadder.h"
#include "app/libraryremover.h"
#include "app/licence.h"
#include "app/manager_p.h"
#include "app/mediabrowser.h"
#include "app/messagehandler.h"
#include "app/qmlapplicationviewer.h"
#include "app/videooptimisation.h"
#include "core/backgroundjob.h"
#include "core/itunecoverartextracter.h"
#include "core/logging.h"
#include "core/shared.h"
#include "core/taglibbuilder.h"
#include "database/ruvodb.h"
#include "delivery/combo.h"
#include "delivery/drive.h"
#include "lookup/apimanager.h"

manager::manager()
    : libraryAdder(std::make_unique<LibraryAdder>(*this))
{
    watchWork();
}

Q_LOGGING_CATEGORY(lcController, "corvane.app")

namespace {

// The vehicle chooser of this module: its lists are shared by every Combo.
Combo &vehicleChooser()
{
    static Combo combo;
    return combo;
}

// The sender of the vehicle chooser's drive-list link; it never sends.
Drive &vehicleDrives()
{
    static Drive drive;
    return drive;
}

const QString selectText = QStringLiteral("Select");

// How long the close waits for a running views rebuild.
constexpr int closeWaitMs = 10000;

// The start-up file check waits for the window's first frame, or this long
// when none comes.
constexpr int fileCheckFallbackMs = 1000;

QVariant rows(const QMap<QString, QObject *> &models)
{
    return QVariant::fromValue(models.values());
}

} // namespace

manager::manager(QmlApplicationViewer *view, QObject *parent)
    : QObject(parent), viewer(view), libraryAdder(std::make_unique<LibraryAdder>(*this)),
      viewsWatcher(new QFutureWatcher<LibraryViews>(this))
{
    logger = Logging::getInstance();
    apiManager = ApiManager::getinstance();
    connect(apiManager, SIGNAL(updateTrackToManager(track)), this, SLOT(updateMainObjectMgr(track)));
    connect(apiManager, SIGNAL(UpdateProgress()), this, SLOT(UpdateAPIProgress()));
    advancedSettings = std::make_unique<AdvancedSettings>(*this);

    libraryView = browserView = displayType = settingsView = mediaTypeFilter = 0;
    mediaBrowserClosed = false;
    closing = false;
    initializeCheckboxes();

    // With a window the library is read while init() loads the interface.
    if (viewer)
        startLibraryLoad();
    else
        setMainValue();

    connect(viewsWatcher, &QFutureWatcherBase::finished, this, &manager::viewsRebuildFinished);

    // The album -> iTunes artwork index the scans use for tracks without a
    // cover.  A large iTunes library takes seconds to read: a worker reads
    // it once the window has drawn its first frame (before, it would take
    // the machine from the window), and a scan that needs it waits there.
    auto drawn = std::make_shared<QSemaphore>();
    itunesArtIndex.start([drawn](const std::atomic<bool> &stop) {
        while (!stop && !drawn->tryAcquire(1, 100)) {
        }
        return TagLibBuilder().parseiTuneCoverArtStartup(&stop);
    });
    scanner.SetItunesArtPIDMap(itunesArtIndex.futureWatcher()->future());
    if (viewer) {
        const auto read = [drawn] {
            if (drawn->available() == 0)
                drawn->release();
        };
        connect(viewer, &QQuickWindow::frameSwapped, this, read,
                Qt::ConnectionType(Qt::QueuedConnection | Qt::SingleShotConnection));
        QTimer::singleShot(fileCheckFallbackMs, this, read);
    } else {
        drawn->release();
    }

    licenceViewer = new Licence();
    videoOptimisation = new VideoOptimisation(this);
    mediaBrowser = std::make_unique<MediaBrowser>(*this);
    // The scan learns from the chosen car system whether videos count.
    track_data::setVideoSupportProvider([] { return Combo().getsystemDetail()->videoSupported; });
    // The add reads what the user ticked in the browser's rows.
    libraryAdder->setBrowserRowsProvider([this] {
        LibraryAdder::BrowserRows rows;
        rows.albumModels = mediaBrowser->browserAlbumModels();
        rows.artistModels = mediaBrowser->browserArtistModels();
        rows.trackModels = mediaBrowser->browserTrackModels();
        rows.albumDetails = mediaBrowser->browserAlbumDetails();
        rows.artistDetails = mediaBrowser->browserArtistDetails();
        rows.trackDetails = mediaBrowser->browserTrackDetails();
        return rows;
    });

    watchWork();

    // Whatever way the run ends, the close sequence runs once before the
    // objects the workers use are destroyed.
    if (QCoreApplication *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &manager::closeOnQuit);
}

manager::~manager()
{
    closeOnQuit();
    delete videoOptimisation;  // its run ends before the controller's parts go
    videoOptimisation = nullptr;
    delete licenceViewer;
}

void manager::watchWork()
{
    using Work = WorkGuard::Work;
    workWatches.emplace_back(Work::Add, [this] { return libraryAdder && libraryAdder->isBusy(); });
    workWatches.emplace_back(Work::Remove, [this] { return remover && remover->isRunning(); });
    workWatches.emplace_back(Work::VideoRun, [this] { return videoOptimisation && videoOptimisation->isRunning(); });
    workWatches.emplace_back(Work::FileCheck, [this] { return isCheckingLibrary(); });
    workWatches.emplace_back(Work::LibraryLoad, [this] { return libraryLoadPending; });
}

void manager::init()
{
    try {
        QSettings settings(QStringLiteral("MyComp"), QStringLiteral("MyApp"));
        settings.beginGroup(QStringLiteral("MainWindows"));
        settings.value(QStringLiteral("Model")).toInt();
        QString modelName = settings.value(QStringLiteral("ModelName")).toString();
        settings.value(QStringLiteral("ModelYearIndex")).toInt();
        QString modelYearValue = settings.value(QStringLiteral("ModelYearValue")).toString();

        // A first run, or a model the vehicles table no longer lists: back to
        // "no vehicle chosen".
        const QStringList models = vehicleChooser().fillModelCombo();
        if (modelName.isEmpty() || !models.contains(modelName)) {
            modelName = selectText;
            modelYearValue = selectText;
            settings.setValue(QStringLiteral("Model"), 0);
            settings.setValue(QStringLiteral("ModelName"), selectText);
            settings.setValue(QStringLiteral("ModelYearIndex"), 0);
            settings.setValue(QStringLiteral("ModelYearValue"), selectText);
        }
        settings.endGroup();

        if (viewer) {
            MessageHandler texts(viewer->rootContext(), nullptr);
            texts.GetAllmsg();
        }
        setContextProperty(QStringLiteral("defaultFountSze"), 0);
        setContextProperty(QStringLiteral("SelectedModelName"), modelName);
        setContextProperty(QStringLiteral("SelectedModelYearValue"), modelYearValue);

        initContextProperties();

        if (viewer) {
            viewer->setTitle(QStringLiteral("Corvane Media Organiser"));
            viewer->setOrientation(QmlApplicationViewer::ScreenOrientationAuto);
            viewer->setMainQmlFile(QStringLiteral("qml/QRuVOCorvane/main.qml"));
            viewer->setResizeMode(QQuickView::SizeRootObjectToView);
            viewer->setMinimumSize(QSize(1024, 650));
            viewer->showMaximized();
        }
        // The window shows at once, whatever the library's size: its rows
        // are published when the worker has read them.
        watchLibraryLoad();

        fillCombo();

        const QString itunesLibrary = QStandardPaths::writableLocation(QStandardPaths::MusicLocation)
                                      + QStringLiteral("/iTunes/iTunes Music Library.xml");
        if (QFile::exists(itunesLibrary)) {
            artworkFuture = QtConcurrent::run([] {
                ItuneCoverArtExtracter extracter;
                return extracter.executeCoverScript();
            });
        }
    } catch (...) {
        logger->WriteLog(QStringLiteral("init"), QStringLiteral("manager"));
    }
}

void manager::initContextProperties()
{
    try {
        QObject *none = nullptr;
        setContextProperty(QStringLiteral("onMac"), 1);
        setContextProperty(QStringLiteral("screenWidth"), screenHeight);
        setContextProperty(QStringLiteral("lstModel"), QVariant::fromValue(none));
        setContextProperty(QStringLiteral("lstYear"), QVariant::fromValue(none));
        setContextProperty(QStringLiteral("driveList"), QVariant::fromValue(none));
        setContextProperty(QStringLiteral("missingMediaData"), QVariant::fromValue(none));
        setContextProperty(QStringLiteral("poorMediaQuality"), QVariant::fromValue(none));
        setContextProperty(QStringLiteral("albumDetailsDialog"), QVariant::fromValue(none));
        setContextProperty(QStringLiteral("artistDetailsDialog"), QVariant::fromValue(none));
        setContextProperty(QStringLiteral("trackDetailsDialog"), QVariant::fromValue(none));
        setContextProperty(QStringLiteral("albumModelDialog"), QVariant::fromValue(none));
        setContextProperty(QStringLiteral("artistsModelDialog"), QVariant::fromValue(none));
        setContextProperty(QStringLiteral("tracksModelDialog"), QVariant::fromValue(none));
        setContextProperty(QStringLiteral("protectedTracksModel"), QString());
        setContextProperty(QStringLiteral("browserCategoryCounts"), QVariantList());
        setContextProperty(QStringLiteral("browserEmptyReason"), QString());
        setContextProperty(QStringLiteral("optimisationVideoModel"), QVariant::fromValue(none));
        setContextProperty(QStringLiteral("drivedetails"), QStringList{QString()});
    } catch (...) {
        logger->WriteLog(QStringLiteral("initContextProperties"), QStringLiteral("manager"));
    }
}

void manager::fillCombo()
{
    Combo &chooser = vehicleChooser();
    const QStringList models = chooser.getModelList();
    const QStringList years = models.isEmpty() ? QStringList() : chooser.fillYearCombo(models.first());
    setContextProperty(QStringLiteral("lstModel"), models);
    setContextProperty(QStringLiteral("lstYear"), years);

    if (!viewer || !viewer->rootObject())
        return;
    Combo::setDriveListSender(&vehicleDrives());
    // Lives as long as the window's root object it links to.
    auto *linked = new Combo(viewer->rootObject());
    linked->setParent(viewer->rootObject());
    linked->runForGetSettaing();
}

void manager::setMainValue()
{
    ruvoDB library;
    libraryTracks = library.loadDB();
    ViewInput input = viewInput();
    publishViews(buildLibraryViews(libraryTracks, input));
}

void manager::startLibraryLoad()
{
    libraryLoadPending = true;
    // Until the library is read the interface sees empty views.
    refreshMain();
    const ViewInput input = viewInput();
    libraryLoad = QtConcurrent::run(JobRegistry::pool(), [input] {
        LoadedLibrary loaded;
        loaded.tracks = ruvoDB().readLibrary();
        loaded.views = buildLibraryViews(loaded.tracks, input);
        return loaded;
    });
}

void manager::watchLibraryLoad()
{
    if (!libraryLoadPending) {
        setContextProperty(QStringLiteral("isDB"), ruvoDB::isDB() ? QStringLiteral("1") : QStringLiteral("0"));
        return;
    }
    // The interface is linked to the controller once init() returns: the
    // loading state is shown from the first turn of the event loop.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (libraryLoadPending) {
                libraryLoadingShown = true;
                emit sgShowLoading();
            }
        },
        Qt::QueuedConnection);
    auto *watcher = new QFutureWatcher<LoadedLibrary>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        watcher->deleteLater();
        finishLibraryLoad();
    });
    watcher->setFuture(libraryLoad);
}

bool manager::refusedWhileLoading()
{
    if (!WorkGuard::isRunning(WorkGuard::Work::LibraryLoad))
        return false;
    emit showMessageBox(QVariant(WorkGuard::refusal(WorkGuard::Work::LibraryLoad)));
    return true;
}

void manager::finishLibraryLoad()
{
    if (!libraryLoadPending)
        return;
    libraryLoadPending = false;
    libraryLoad.waitForFinished();
    if (libraryLoad.resultCount() > 0 && !closing) {
        LoadedLibrary loaded = libraryLoad.takeResult();
        libraryTracks = std::move(loaded.tracks);
        publishViews(std::move(loaded.views));
    }
    // Asked once the load's clean-up is done.
    setContextProperty(QStringLiteral("isDB"), ruvoDB::isDB() ? QStringLiteral("1") : QStringLiteral("0"));
    if (libraryLoadingShown) {
        libraryLoadingShown = false;
        emit sgHideLoading();
    }

    // The files are looked at once the window has drawn the library (or
    // after a second, should it draw nothing).
    fileCheckPending = true;
    if (viewer)
        connect(viewer, &QQuickWindow::frameSwapped, this, &manager::checkLibraryFiles,
                Qt::ConnectionType(Qt::QueuedConnection | Qt::SingleShotConnection));
    QTimer::singleShot(fileCheckFallbackMs, this, &manager::checkLibraryFiles);
}

void manager::checkLibraryFiles()
{
    if (!fileCheckPending || fileCheckStarted)
        return;
    if (!closing && WorkGuard::blocker(WorkGuard::Work::FileCheck)) {
        // Rows are dropped only while nothing else changes the library.
        QTimer::singleShot(fileCheckFallbackMs, this, &manager::checkLibraryFiles);
        return;
    }
    fileCheckStarted = true;
    if (closing || libraryTracks.isEmpty()) {
        libraryFilesChecked(ruvoDB::FileCheck());
        return;
    }
    fileCheck.start(
        [tracks = libraryTracks](const std::atomic<bool> &stop) {
            ruvoDB::FileCheck check = ruvoDB::checkFiles(tracks, &stop);
            // Unless stopped, the rows are deleted as loadDB deletes them.
            if (!check.stopped && !check.deleted.isEmpty())
                ruvoDB().forgetTracks(QSqlDatabase(), check.deleted);
            return check;
        },
        [this](ruvoDB::FileCheck check) { libraryFilesChecked(check); });
}

void manager::libraryFilesChecked(const ruvoDB::FileCheck &check)
{
    fileCheckPending = false;
    bool removed = false;
    if (!check.stopped && !closing) {
        for (const auto &[id, path] : check.leftOut) {
            const auto found = libraryTracks.constFind(id);
            // A track stored again meanwhile is not the one checked.
            if (found != libraryTracks.cend() && found->filepath == path) {
                libraryTracks.remove(id);
                removed = true;
            }
        }
    }
    if (removed) {
        refreshViews();
        showStartPageIfEmptied();
    }
    emit libraryChecked();
    if (std::exchange(addAfterFileCheck, false) && !closing) {
        emit sgHideLoading();
        addToMainObject();
    }
}

void manager::showStartPageIfEmptied()
{
    // At start the window chose the library screen because the library had
    // rows: when none of them had a file left, it shows the start page, as
    // it would have chosen had the library been empty then.
    QQuickItem *root = viewer ? viewer->rootObject() : nullptr;
    if (!root || !libraryTracks.isEmpty() || ruvoDB::isDB() ||
        root->property("currentScreen").toString() != QLatin1String("library"))
        return;
    QMetaObject::invokeMethod(root, "showStartPage", Q_ARG(QVariant, root->property("vehicleName")));
}

bool manager::isCheckingLibrary() const
{
    return libraryLoadPending || fileCheckPending;
}

void manager::refreshMain()
{
    // One batch: every binding that reads several views (the panel's
    // current rows read all seven) is evaluated once, not once per view.
    if (viewer) {
        viewer->rootContext()->setContextProperties({
            {QStringLiteral("albumsModel"), rows(libraryViews.albumModels.models)},
            {QStringLiteral("artistsModel"), rows(libraryViews.artistModels.models)},
            {QStringLiteral("tracksModel"), rows(libraryViews.trackRowModels.models)},
            {QStringLiteral("playlistsModel"), rows(libraryViews.playlistModels.models)},
            {QStringLiteral("podcastsModel"), rows(libraryViews.podcastModels.models)},
            {QStringLiteral("audiobooksModel"), rows(libraryViews.audiobookModels.models)},
            {QStringLiteral("videosModel"), rows(libraryViews.videoModels.models)},
        });
    }
    emit sgRefreshMain();
}

void manager::populateMediaLibrary()
{
    switch (libraryView) {
    case 0:
        checkedAlbumIds.clear();
        setContextProperty(QStringLiteral("albumsModel"), rows(libraryViews.albumModels.models));
        break;
    case 1:
        checkedArtistIds.clear();
        setContextProperty(QStringLiteral("artistsModel"), rows(libraryViews.artistModels.models));
        break;
    case 2:
        checkedTrackIds.clear();
        setContextProperty(QStringLiteral("tracksModel"), rows(libraryViews.trackRowModels.models));
        break;
    case 3:
        setContextProperty(QStringLiteral("playlistsModel"), rows(libraryViews.playlistModels.models));
        break;
    case 4:
        setContextProperty(QStringLiteral("podcastsModel"), rows(libraryViews.podcastModels.models));
        break;
    case 5:
        setContextProperty(QStringLiteral("audiobooksModel"), rows(libraryViews.audiobookModels.models));
        break;
    case 6:
        setContextProperty(QStringLiteral("videosModel"), rows(libraryViews.videoModels.models));
        break;
    default:
        break;
    }
    emit sgRefreshMain();
}

void manager::refreshViews()
{
    // A controller without a view publishes nothing, and a closing one has
    // no window left to show the views in.
    if (!viewsWatcher || closing)
        return;
    emit sgShowLoading();
    if (viewsRebuilding) {
        viewsRebuildPending = true;
        return;
    }
    startViewsRebuild();
}

manager::LibraryViews manager::refreshViewsThread(TrackMap tracks, ViewInput input)
{
    return buildLibraryViews(tracks, input);
}

bool manager::isRefreshingViews() const
{
    return viewsRebuilding || viewsRebuildPending;
}

bool manager::waitForWorkers(int msecs)
{
    viewsRebuildPending = false;
    // The controller's own workers, not the whole global pool: a job of
    // someone else's there is not ours to wait for.
    QDeadlineTimer deadline(msecs);
    const auto ended = [&deadline](QFuture<void> future) {
        while (future.isRunning() && !deadline.hasExpired())
            QThread::msleep(5);
        return !future.isRunning();
    };
    const bool viewsEnded = ended(viewsWatcher ? QFuture<void>(viewsWatcher->future()) : QFuture<void>());
    const bool artworkEnded = ended(QFuture<void>(artworkFuture));
    const bool loadEnded = ended(QFuture<void>(libraryLoad));
    return viewsEnded && artworkEnded && loadEnded &&
           ApiManager::waitForTagWrites(int(qMax<qint64>(0, deadline.remainingTime())));
}

manager::ViewInput manager::viewInput() const
{
    ViewInput input;
    input.checkedArtistIds = checkedArtistIds;
    input.checkedAlbumIds = checkedAlbumIds;
    input.checkedTrackIds = checkedTrackIds;
    input.checkedPlaylistIds = checkedPlaylistIds;
    input.browserView = browserView;
    input.mediaTypeFilter = mediaTypeFilter;
    input.rowThread = thread();
    return input;
}

LibraryTicks manager::keepLibraryTicks()
{
    const LibraryViews &v = libraryViews;
    LibraryTicks ticks = LibraryTicks::read({&v.albumModels.models, &v.artistModels.models, &v.trackRowModels.models,
                                             &v.playlistModels.models, &v.podcastModels.models,
                                             &v.audiobookModels.models, &v.videoModels.models});
    // Ids are given again once their items are gone (the largest + 1):
    // a removed item's tick must not pass to the next one.
    if (!ticks.artistIds.isEmpty() || !ticks.albumIds.isEmpty() || !ticks.trackIds.isEmpty() ||
        !ticks.playlistIds.isEmpty()) {
        QSet<int> artists, albums, playlists;
        for (const track &t : std::as_const(libraryTracks)) {
            artists.insert(t.artist_id);
            albums.insert(t.album_id);
            playlists.insert(t.playlist_id);
        }
        const auto keep = [](QList<int> &ids, auto &&present) {
            ids.erase(std::remove_if(ids.begin(), ids.end(), [&present](int id) { return !present(id); }), ids.end());
        };
        keep(ticks.artistIds, [&artists](int id) { return artists.contains(id); });
        keep(ticks.albumIds, [&albums](int id) { return albums.contains(id); });
        keep(ticks.playlistIds, [&playlists](int id) { return playlists.contains(id); });
        keep(ticks.trackIds, [this](int id) { return libraryTracks.contains(id); });
    }
    checkedArtistIds = ticks.artistIds;
    checkedAlbumIds = ticks.albumIds;
    checkedTrackIds = ticks.trackIds;
    checkedPlaylistIds = ticks.playlistIds;
    return ticks;
}

void manager::startViewsRebuild()
{
    viewsRebuildPending = false;
    viewsRebuilding = true;
    rebuildTicks = keepLibraryTicks();
    // The worker gets copies: the library may change while it builds.
    viewsWatcher->setFuture(QtConcurrent::run(&manager::refreshViewsThread, libraryTracks, viewInput()));
}

void manager::viewsRebuildFinished()
{
    // A tick given while the rows were built is not in them: build again.
    if (!viewsRebuildPending && !closing && !keepLibraryTicks().sameAs(rebuildTicks))
        viewsRebuildPending = true;
    if (viewsRebuildPending && !closing) {
        // The library changed while these rows were built: build again
        // and publish only the newest.
        startViewsRebuild();
        return;
    }
    viewsRebuilding = false;
    QFuture<LibraryViews> done = viewsWatcher->future();
    if (done.isValid() && done.resultCount() > 0 && !closing)
        publishViews(done.takeResult());
    emit sgHideLoading();
}

void manager::publishViews(LibraryViews views)
{
    // QML may still hold rows of the published generation until its bindings
    // have moved to the new one: free it only at the next publication.
    retiredViews = std::move(libraryViews);
    libraryViews = std::move(views);
    ArtistCoverartList = libraryViews.ArtistCoverartList;
    refreshMain();
}

void manager::setContextProperty(const QString &name, const QVariant &value)
{
    if (viewer)
        viewer->rootContext()->setContextProperty(name, value);
}

void manager::saveData()
{
    // A controller made without a view (for the quality classes) has
    // nothing to close.
    if (closing || !apiManager)
        return;
    closing = true;
    // Stops the online lookup; a closing controller starts no views rebuild.
    cancelOptimization();
    logger->WriteLog(QStringLiteral("Closed RuVO"), QString());
    logger->CloseLog();
    slCancelSearch();
}

void manager::closeOnQuit()
{
    if (!apiManager)
        return;
    saveData();
    // The features' own jobs first: each is asked through its own flag.
    if (!JobRegistry::instance().stopAndWait(closeWaitMs))
        qCWarning(lcController) << "a job did not end in time at close";
    if (!waitForWorkers(closeWaitMs))
        qCWarning(lcController) << "a worker did not end in time at close";
}

void manager::setLibraryView(int index)
{
    if (libraryView != index)
        libraryView = index;
}

void manager::setBrowserView(int index)
{
    if (browserView != index)
        browserView = index;
}

void manager::setSettingsView(int index)
{
    if (settingsView != index)
        settingsView = index;
}

void manager::initializeCheckboxes()
{
    filterActive = false;
}

void manager::slCancelSearch()
{
    // The running folder scan sees the flag before its next directory entry.
    scanner.isStopSearch = true;
    qCDebug(lcController, "slCancelSearch: the folder scan is asked to stop");
}

void manager::slMediaBrowserClosed()
{
    mediaBrowserClosed = true;
    if (mediaBrowser)
        mediaBrowser->slMediaBrowserClosed();
}

void manager::UpdateAPIProgress()
{
    apiProgressCount += 1;
    if (apiProgressCount > progressTotal)
        apiProgressCount = progressTotal;
    if (progressTotal < 0)
        return;
    // The lookup's end mark reports completion, never a progress step.
    if (apiProgressCount == progressTotal)
        apiProgressCount -= 1;
    emit updateProgress(QVariant(progressTotal), QVariant(apiProgressCount));
}

void manager::updateProgressBar()
{
    progressCount += 1;
    if (reviewTracks.isEmpty()) {
        progressCount = 0;
        progressTotal = 0;
    }
    if (progressTotal < progressCount)
        progressCount = progressTotal;
    if (progressTotal >= 0)
        emit updateProgress(QVariant(progressTotal), QVariant(progressCount));
}

void manager::LicenseSlotMac()
{
    licenceViewer->showdialog();
}
