#include "app/startup.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QIcon>
#include <QLocale>
#include <QLoggingCategory>
#include <QMenu>
#include <QMenuBar>
#include <QQmlContext>
#include <QQuickItem>
#include <QScreen>
#include <QSqlError>
#include <QSqlQuery>
#include <QSslSocket>
#include <QStorageInfo>
#include <QTimer>

#include "app/libraryadder.h"
#include "app/libraryrecovery.h"
#include "app/manager.h"
#include "app/messagehandler.h"
#include "core/logging.h"
#include "core/shared.h"
#include "core/track.h"
#include "database/connection.h"
#include "database/database.h"
#include "database/filejournal.h"
#include "database/ruvodb.h"
#include "database/walindexroom.h"
#include "delivery/drive.h"
#include "platform/temporaryfiles.h"
#include "update/cocoainitializer.h"
#include "update/sparkleautoupdater.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

Q_LOGGING_CATEGORY(lcStartUp, "corvane.app")

// The spare room file's size: enough to open the library and remove songs.
constexpr qint64 spareRoomBytes = qint64(4) << 20;

// The library's check starts with the window's first frame; a window not
// on screen this long after it is shown draws none, and one that has not
// drawn by the limit is not waited for either.
constexpr int firstFrameFallbackMs = 1000;
constexpr int firstFrameLimitMs = 10000;

// Opens the library as the GUI thread's connection; empty when it can be
// read, else why not.  SQLite opens lazily: only a statement tells.
QString openFailure(Database &database)
{
    if (!database.connect(QStringLiteral("RuvoData"), true))
        return database.sqlDatabase.lastError().text();
    QSqlQuery query(Connection::forThread());
    if (query.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")) && query.next())
        return QString();
    return query.lastError().databaseText().isEmpty() ? query.lastError().text() : query.lastError().databaseText();
}

using Side = StartUp::Side;

QObject *party(Side side, QObject *root, manager *controller, Drive *drive)
{
    switch (side) {
    case Side::Root:
        return root;
    case Side::Controller:
        return controller;
    case Side::Drive:
        return drive;
    }
    return nullptr;
}

// QML functions and C++ slots are both reached as slots; QML root signals
// as signals (SIGNAL()/SLOT() prefixes).
QByteArray asSignal(const char *signature)
{
    return QByteArray("2") + signature;
}

QByteArray asSlot(const char *signature)
{
    return QByteArray("1") + signature;
}

} // namespace

const QList<StartUp::Link> &StartUp::controllerLinks()
{
    static const QList<Link> links = {
        {Side::Root, "loadlist()", Side::Controller, "populateMediaLibrary()"},
        {Side::Root, "loadmain()", Side::Controller, "refreshMain()"},
        {Side::Root, "searchMediaSource(QString)", Side::Controller, "searchInMediaSourceCache(QString)"},
        {Side::Controller, "sgRefreshBrowser()", Side::Root, "slRefreshBrowser()"},
        {Side::Controller, "sgShowProtectedMediaDialog()", Side::Root, "slShowProtectedMediaDialog()"},
        {Side::Root, "addToMediaLibrary()", Side::Controller, "addToMainObject()"},
        {Side::Root, "removeTransfer(QString)", Side::Controller, "exeRemoveTransfer(QString)"},
        {Side::Root, "searchbox(QString)", Side::Controller, "searchBox(QString)"},
        {Side::Controller, "sgRefreshMain()", Side::Root, "slRefreshMain()"},
        {Side::Root, "sgCancelSearch()", Side::Controller, "slCancelSearch()"},
        {Side::Root, "sgCancelSearch()", Side::Controller, "slCancelSearchCopy()"},
        {Side::Root, "setlibraryView(int)", Side::Controller, "setLibraryView(int)"},
        {Side::Root, "setbrowserView(int)", Side::Controller, "setBrowserView(int)"},
        {Side::Root, "setdisplayType(int)", Side::Controller, "setDisplayType(int)"},
        {Side::Root, "setsettingsView(int)", Side::Controller, "setSettingsView(int)"},
        {Side::Root, "filterforCheckboxes(int)", Side::Controller, "filterForCheckboxes(int)"},
        {Side::Root, "selectdeselectForBrowser(bool)", Side::Controller, "selectDeselectForBrowser(bool)"},
        {Side::Root, "selectdeselectForLibrary(bool)", Side::Controller, "selectDeselectForLibrary(bool)"},
        {Side::Root, "selectdeselectForSettings(bool)", Side::Controller, "selectDeselectForSettings(bool)"},
        {Side::Root, "populateAdvancedSettings()", Side::Controller, "slPopulateAdvancedSettings()"},
        {Side::Controller, "sgShowAdvancedSettings()", Side::Root, "slShowAdvancedSettings()"},
        {Side::Root, "advancedSettingsContinue()", Side::Controller, "collectMediaToUpdate()"},
        {Side::Root, "advancedSettingsCancel()", Side::Controller, "cancelOptimization()"},
        {Side::Root, "sgAdvancedSettingsLinkTab(int)", Side::Controller, "advancedSettingsLinkTab(int)"},
        {Side::Controller, "showProgressDialog()", Side::Root, "showProgressDialog()"},
        {Side::Controller, "updateProgress(QVariant,QVariant)", Side::Root, "updateProgress(QVariant,QVariant)"},
        {Side::Controller, "updateProgressSearch(QVariant,QVariant,QVariant)", Side::Root,
         "slUpdateSearchProgress(QVariant,QVariant,QVariant)"},
        {Side::Controller, "sgShowSearchProgress(QVariant)", Side::Root, "slShowSearchProgress(QVariant)"},
        {Side::Controller, "sgShowLoading()", Side::Root, "slShowLoading()"},
        {Side::Controller, "sgHideLoading()", Side::Root, "slHideLoading()"},
        {Side::Controller, "showMessageBox(QVariant)", Side::Root, "showmessageBox(QVariant)"},
        {Side::Root, "sgMediaBrowserClosed()", Side::Controller, "slMediaBrowserClosed()"},
        {Side::Controller, "sgShowVideoOptimisation()", Side::Root, "slShowVideoOptimisation()"},
        {Side::Controller, "sgVideoAproxTime(QVariant)", Side::Root, "slVideoAproxTime(QVariant)"},
        {Side::Controller, "sgUpdateProgressVideo(QVariant,QVariant,QVariant)", Side::Root,
         "slUpdateProgressVideo(QVariant,QVariant,QVariant)"},
        {Side::Root, "sgCancelVideOptimising()", Side::Controller, "slCancelVideOptimising()"},
        {Side::Controller, "sgAllFileCompleteVideo()", Side::Root, "slCloseOnAllCompleteVideo()"},
        {Side::Controller, "sgHideMediaBrowser()", Side::Root, "slHideMediaBrowser()"},
        {Side::Controller, "sgUpdateTranscodingCounter(QVariant,QVariant)", Side::Root,
         "slUpdateTranscodingCounter(QVariant,QVariant)"},
        {Side::Root, "sgSelectDeselectInTracksView(QString,int,bool)", Side::Controller,
         "slSelectDeselectInTracksView(QString,int,bool)"},
        {Side::Root, "exeClose()", Side::Controller, "saveData()"},
    };
    return links;
}

const QList<StartUp::Link> &StartUp::driveLinks()
{
    static const QList<Link> links = {
        {Side::Root, "transferTomedia(int)", Side::Drive, "timerexe(int)"},
        {Side::Root, "sgProgressStoped(int)", Side::Drive, "slProgressStoped(int)"},
        {Side::Drive, "showMessageBox(QVariant)", Side::Root, "showmessageBox(QVariant)"},
        {Side::Controller, "showTransferBrowser()", Side::Root, "showtransferBrowser()"},
        {Side::Root, "continueDrive(QString,int,int,int,int)", Side::Drive, "ContinueDrive(QString,int,int,int,int)"},
        // Automatic, not direct: the copy job emits these from a worker, and
        // QML may only run in the GUI thread.
        {Side::Drive, "sgShowTransferProgress()", Side::Root, "slShowTransferProgress()"},
        {Side::Drive, "sgUpdateTransferProgress(QVariant,QVariant,QVariant)", Side::Root,
         "slUpdateTransferProgress(QVariant,QVariant,QVariant)"},
        {Side::Drive, "sgHideTransferProgress()", Side::Root, "slhideTransferProgress()"},
        {Side::Drive, "sgTransferSyncing()", Side::Root, "slTransferSyncing()"},
        // The format wait has a state of its own: a views rebuild ending
        // meanwhile must not take it off the screen.
        {Side::Drive, "sgShowFormatWait()", Side::Root, "slShowFormatWait()"},
        {Side::Drive, "sgHideFormatWait()", Side::Root, "slHideFormatWait()"},
        {Side::Root, "transferandSyncDialog()", Side::Drive, "openDialog()"},
        {Side::Drive, "sgFolderChosen(QVariant)", Side::Root, "slFolderChosen(QVariant)"},
        {Side::Root, "checkFormat(QString)", Side::Drive, "checkFormat(QString)"},
        {Side::Drive, "sgFormatChecked(QVariant,QVariant)", Side::Root, "slFormatChecked(QVariant,QVariant)"},
    };
    return links;
}

int StartUp::makeLinks(const QList<Link> &links, QObject *root, manager *controller, Drive *drive)
{
    int failed = 0;
    for (const Link &link : links) {
        QObject *from = party(link.sender, root, controller, drive);
        QObject *to = party(link.receiver, root, controller, drive);
        const bool made =
            from && to &&
            QObject::connect(from, asSignal(link.signal).constData(), to, asSlot(link.method).constData());
        if (!made) {
            ++failed;
            qCWarning(lcStartUp, "could not link %s to %s", link.signal, link.method);
        }
    }
    return failed;
}

StartUp::StartUp() = default;

StartUp::~StartUp()
{
    // A library never opened holds no worker back from ending.
    Connection::releaseWorkers();
    // The close handshake first: nothing a worker reads may go before it.
    control.reset();
    transfer.reset();
    licence.reset();
    licenceMenu.reset();
    menuBar.reset();
    updater.reset();
    cocoa.reset();
    view.reset();
    database.reset();
    instance.reset();
}

InstanceLock::Outcome StartUp::start()
{
    // One copy per data folder: a second start only brings the first
    // forward, before it restarts a log, opens the library or sweeps.
    instance = std::make_unique<InstanceLock>(shared::dataFolder());
    const InstanceLock::Outcome outcome = instance->acquire();
    if (outcome != InstanceLock::Outcome::Owned)
        return outcome;

    // The disk gives back its spare room first if it is full, and the log's
    // index its room before anything opens the library.
    database = std::make_unique<Database>();
    checkDiskSpace();
    WalIndexRoom::giveBack(database->dbPath);

    // Temporary files of this run are younger than this.
    const QDateTime started = QDateTime::currentDateTime();
    // Our own icon.
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/resources/logos/corvane.png")));

    // A fresh "debug.log" for this run, then "Start RuVO".
    Logging::startRun();

    registerTrackMetaTypes();
    // The bundled font is the interface's, whatever fonts the system has.
    const int fontId = QFontDatabase::addApplicationFont(QStringLiteral(":/resources/fonts/sans"));
    const QStringList families = QFontDatabase::applicationFontFamilies(fontId);
    if (!families.isEmpty()) {
        QFont font = QGuiApplication::font();
        font.setFamily(families.first());
        QGuiApplication::setFont(font);
    }
    QCoreApplication::processEvents();

    view = std::make_unique<QmlApplicationViewer>();

    QSslSocket::supportsSsl();
    // The library is checked and opened once the window is up: until then
    // a worker that needs it (the controller's load of it) waits for it.
    // At close it waits no longer (before the controller waits for it).
    Connection::holdWorkers();
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, view.get(), [] { Connection::releaseWorkers(); });

    control = std::make_unique<manager>(view.get(), nullptr);
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect geometry = screen->geometry();
        control->screenHeight = qint64(geometry.bottom()) + 1 - geometry.top();
    }
    control->init();

    failures = makeLinks(controllerLinks(), view->rootObject(), control.get(), nullptr);

    // The licence: a "License" menu where the desktop shows a global menu
    // bar, and the window's own "License" entry everywhere.
    menuBar = std::make_unique<QMenuBar>();
    licence = std::make_unique<QAction>(QStringLiteral("License"));
    licence->setMenuRole(QAction::ApplicationSpecificRole);
    QObject::connect(licence.get(), SIGNAL(triggered()), control.get(), SLOT(LicenseSlotMac()));
    licenceMenu = std::make_unique<QMenu>(QStringLiteral("License"));
    menuBar->addMenu(licenceMenu.get());
    licenceMenu->addAction(licence.get());
    if (!view->rootObject() ||
        !QObject::connect(view->rootObject(), SIGNAL(sgShowLicence()), control.get(), SLOT(LicenseSlotMac()))) {
        ++failures;
        qCWarning(lcStartUp, "could not link sgShowLicence() to LicenseSlotMac()");
    }

    // The dialog's lists reach QML as context properties; its messages come
    // from the program's one text table.
    auto texts = std::make_shared<MessageHandler>();
    QQmlContext *context = view->rootContext();
    transfer = std::make_unique<Drive>(
        [context](const QString &name, const QVariant &value) { context->setContextProperty(name, value); },
        [texts](const QString &key) {
            bool numbered = false;
            const int number = key.toInt(&numbered);
            return numbered ? texts->message(number) : MessageHandler::keyedText(key);
        },
        nullptr);
    failures += makeLinks(driveLinks(), view->rootObject(), control.get(), transfer.get());

    view->setVisible(true);
    QObject::connect(instance.get(), &InstanceLock::activationRequested, view.get(), [window = view.get()] {
        window->setWindowStates(window->windowStates() & ~Qt::WindowMinimized);
        window->show();
        window->raise();
        window->requestActivate();
    });
    tellAboutLibrary();
    afterFirstFrame(started);
    QCoreApplication::setOrganizationDomain(QStringLiteral("updates.corvane.example"));

    cocoa = std::make_unique<CocoaInitializer>();
    auto sparkle = std::make_unique<SparkleAutoUpdater>(SparkleAutoUpdater::defaultFeedUrl());
    // A newer version is told in the window's message box.
    QObject *root = view->rootObject();
    sparkle->setNotice([root](const QString &text) {
        if (root)
            QMetaObject::invokeMethod(root, "showmessageBox", Q_ARG(QVariant, text));
    });
    updater = std::move(sparkle);
    updater->checkForUpdates();
    return outcome;
}

void StartUp::afterFirstFrame(const QDateTime &started)
{
    // Reading every page takes seconds from a cold disk, and the walk of the
    // data folder reads every entry's inode: the window comes first.
    const auto check = [this, started] {
        if (std::exchange(libraryCheckStarted, true))
            return;
        // A run killed during an add or a conversion left its temporary
        // files; they are the program's own (one name pattern), and only
        // they go.
        leftoverSweep.start([started](const std::atomic<bool> &) {
            return TemporaryFiles::sweep(shared::dataFolder(), true, started);
        });
        libraryCheck.start(
            [path = database->dbPath](const std::atomic<bool> &) { return LibraryRecovery::problemWith(path); },
            [this](const QString &problem) { openLibrary(problem); });
    };
    QObject::connect(view.get(), &QQuickWindow::frameSwapped, view.get(), check,
                     Qt::ConnectionType(Qt::QueuedConnection | Qt::SingleShotConnection));
    // A window that is not on screen draws nothing: the library is not kept
    // waiting for it.  One that is gets its frame in, whatever the machine's
    // load, unless it can't draw at all.
    QTimer::singleShot(firstFrameFallbackMs, view.get(), [this, check] {
        if (!view->isExposed())
            check();
    });
    QTimer::singleShot(firstFrameLimitMs, view.get(), check);
}

void StartUp::openLibrary(const QString &problem)
{
    // A library that can't be used is kept aside, never opened over; the
    // new one takes back the program's own copies.  Nothing has written to
    // the file before this: what is kept aside is what the check read.
    const LibraryRecovery::Damage damage = LibraryRecovery::setAside(database->dbPath, problem);
    const bool usable = !damage.found || !damage.keptAt.isEmpty();
    QStringList notices;
    bool opened = false;
    if (usable) {
        WalIndexRoom::giveBack(database->dbPath);
        const QString failure = openFailure(*database);
        opened = failure.isEmpty();
        if (opened) {
            WalIndexRoom::keep(database->dbPath);
            database->create();
            // What a killed add or removal left unsettled: before anything
            // reads the library or starts a new add.
            FileJournal::settle(ruvoDB::programCopyFolder(), {}, true);
        } else {
            qCWarning(lcStartUp) << "the library could not be opened:" << failure;
            notices << QStringLiteral("The library \"%1\" could not be opened (%2). It was left as it is; its songs "
                                      "are not shown until it can be opened.")
                           .arg(database->dbPath, failure);
        }
    }
    if (damage.found) {
        LibraryRecovery::Restored restored;
        if (opened)
            restored = LibraryRecovery::restoreCopies(ruvoDB::programCopyFolder());
        notices.prepend(LibraryRecovery::message(database->dbPath, damage, restored));
    }
    // The library is read now (or found missing).
    Connection::releaseWorkers();
    if (!notices.isEmpty() && control)
        emit control->showMessageBox(notices.join(QStringLiteral("\n\n")));
}

void StartUp::checkDiskSpace()
{
    // A file of spare room in the data folder, made while there is room: on
    // a disk something else filled to the last byte it gives its room back,
    // so that the library can still be opened (SQLite needs room for the
    // index of its journal) and songs removed to make more.
    const QString folder = shared::dataFolder();
    const QByteArray spare = QFile::encodeName(folder + QStringLiteral("/ruvo.spare"));
    QStorageInfo volume(folder);
    if (!volume.isValid())
        return;
    // Full: less than a quarter of the room an add leaves free.
    const qint64 fullBelow = LibraryAdder::freeSpaceReserve(volume.bytesTotal()) / 4;
    if (volume.bytesAvailable() >= fullBelow) {
        if (volume.bytesAvailable() - spareRoomBytes < fullBelow)
            return;
        const int fd = ::open(spare.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0) {
            if (::posix_fallocate(fd, 0, spareRoomBytes) != 0)
                ::unlink(spare.constData());
            ::close(fd);
        }
        return;
    }
    struct stat info;
    if (::lstat(spare.constData(), &info) == 0 && S_ISREG(info.st_mode) && ::unlink(spare.constData()) == 0)
        volume.refresh();
    qCWarning(lcStartUp) << "the disk that holds the data folder is full:" << volume.bytesAvailable() << "bytes free";
    libraryNotices << QStringLiteral("The disk that holds the library is full (%1 free on \"%2\"). Songs can't be "
                                     "added until there is room on it; removing songs from the library makes some.")
                          .arg(QLocale().formattedDataSize(std::max<qint64>(volume.bytesAvailable(), 0)),
                               QDir::toNativeSeparators(volume.rootPath()));
}

void StartUp::tellAboutLibrary()
{
    if (libraryNotices.isEmpty())
        return;
    // Queued: the window is up and showing when the message arrives.
    QTimer::singleShot(0, control.get(),
                       [controller = control.get(), text = libraryNotices.join(QStringLiteral("\n\n"))] {
                           emit controller->showMessageBox(text);
                       });
}

QmlApplicationViewer &StartUp::viewer()
{
    return *view;
}

manager *StartUp::controller() const
{
    return control.get();
}

Drive *StartUp::drive() const
{
    return transfer.get();
}

QAction *StartUp::licenceAction() const
{
    return licence.get();
}

InstanceLock *StartUp::instanceLock() const
{
    return instance.get();
}

int StartUp::failedLinks() const
{
    return failures;
}
