#ifndef STARTUP_H
#define STARTUP_H

#include <QDateTime>
#include <QList>
#include <QStringList>
#include <QObject>

#include <memory>

#include "app/instancelock.h"
#include "app/qmlapplicationviewer.h"
#include "core/backgroundjob.h"

class AutoUpdater;
class CocoaInitializer;
class Database;
class Drive;
class QAction;
class QMenu;
class QMenuBar;
class manager;

// Builds the application's long-lived objects in their fixed order, loads
// the interface and links it to the controller and the transfer dialog.
// main() makes one after the application object and runs the event loop;
// tests make one to start the real application offscreen.  Destroying it
// runs the controller's close sequence and waits (bounded) for its workers
// before anything they use goes away.
class StartUp
{
public:
    // One link of the interface contract: a signal of `sender` to a slot or
    // QML function of `receiver`, both named by signature.
    enum class Side { Root, Controller, Drive };
    struct Link
    {
        Side sender;
        const char *signal;
        Side receiver;
        const char *method;
    };

    // The links main() makes, in their order: first those of the interface
    // and the controller, then those that involve the transfer dialog.
    static const QList<Link> &controllerLinks();
    static const QList<Link> &driveLinks();

    StartUp();
    ~StartUp();

    StartUp(const StartUp &) = delete;
    StartUp &operator=(const StartUp &) = delete;

    // Runs every start-up step up to the event loop, once this copy holds
    // the data folder.  When another copy has it, hands over to that one (or
    // finds it can't) and touches nothing: the caller then ends.
    InstanceLock::Outcome start();

    QmlApplicationViewer &viewer();
    manager *controller() const;
    Drive *drive() const;
    QAction *licenceAction() const;
    // The data folder's lock, held from start() to the end.
    InstanceLock *instanceLock() const;
    // Links that could not be made (each also gives a warning); 0 when the
    // interface offers the whole contract.
    int failedLinks() const;

    // Makes `links` between the three parties; returns how many failed.
    static int makeLinks(const QList<Link> &links, QObject *root, manager *controller, Drive *drive);

private:
    // Steps of start() that look after the library's files.
    void checkDiskSpace();
    // The library's check reads every page: it starts once the window has
    // drawn its first frame (with the sweep of the data folder), and the
    // library is opened when it has ended.
    void afterFirstFrame(const QDateTime &started);
    void openLibrary(const QString &problem);
    void tellAboutLibrary();

    // Declared first: the last thing to go.
    std::unique_ptr<InstanceLock> instance;
    std::unique_ptr<QmlApplicationViewer> view;
    std::unique_ptr<Database> database;
    std::unique_ptr<manager> control;
    std::unique_ptr<QMenuBar> menuBar;
    std::unique_ptr<QMenu> licenceMenu;
    std::unique_ptr<QAction> licence;
    std::unique_ptr<Drive> transfer;
    std::unique_ptr<CocoaInitializer> cocoa;
    std::unique_ptr<AutoUpdater> updater;
    // Removes what a killed run left half-written in the data folder.
    BackgroundJob<int> leftoverSweep;
    // What is wrong with the library file, found once the window is up.
    BackgroundJob<QString> libraryCheck;
    bool libraryCheckStarted = false;
    int failures = 0;
    // What the start found wrong with the library or its disk, told once the
    // window is up.
    QStringList libraryNotices;
};

#endif // STARTUP_H
