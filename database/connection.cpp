#include "database/connection.h"

#include <QAtomicPointer>
#include <QMutex>
#include <QMutexLocker>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QThreadStorage>
#include <QVariant>
#include <QWaitCondition>

#include <atomic>

#include "database/librarydamage.h"

Q_LOGGING_CATEGORY(lcDatabase, "corvane.database")

namespace {

QMutex libraryMutex;
QString libraryFile;                   // guarded by libraryMutex
QAtomicPointer<QThread> defaultOwner;  // thread that opened the default connection

// Workers held until start-up has opened the library.
std::atomic<bool> workersHeld{false};
QMutex holdMutex;
QWaitCondition workersReleased;
QThread *holder = nullptr; // guarded by holdMutex

void waitWhileHeld()
{
    if (!workersHeld.load(std::memory_order_acquire))
        return;
    QMutexLocker locker(&holdMutex);
    while (workersHeld.load(std::memory_order_acquire) && QThread::currentThread() != holder)
        workersReleased.wait(&holdMutex);
}

// Owns one worker thread's connection; QThreadStorage destroys it when the
// thread ends, which closes and unregisters the connection.
class ThreadConnection
{
public:
    explicit ThreadConnection(const QString &path)
        : name(QStringLiteral("corvane-thread-%1").arg(quintptr(QThread::currentThreadId()), 0, 16))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        Connection::prepare(db);
        if (!db.open()) {
            qCWarning(lcDatabase) << "- Database -> Failed to open a thread connection:" << db.lastError().text();
            return;
        }
        Connection::configure(db);
    }
    ~ThreadConnection()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
    ThreadConnection(const ThreadConnection &) = delete;
    ThreadConnection &operator=(const ThreadConnection &) = delete;

    const QString name;
};

QThreadStorage<ThreadConnection *> threadConnections;

QString boundValuesText(const QSqlQuery &query)
{
    QStringList values;
    const QVariantList bound = query.boundValues();
    for (const QVariant &value : bound)
        values << (value.isNull() ? QStringLiteral("NULL") : value.toString().left(80));
    return values.join(QStringLiteral(", "));
}

} // namespace

void Connection::setLibrary(const QString &path, const QSqlDatabase &defaultConnection)
{
    {
        QMutexLocker locker(&libraryMutex);
        libraryFile = path;
    }
    defaultOwner.storeRelease(defaultConnection.isValid() ? QThread::currentThread() : nullptr);
}

QString Connection::libraryPath()
{
    QMutexLocker locker(&libraryMutex);
    return libraryFile;
}

void Connection::holdWorkers()
{
    QMutexLocker locker(&holdMutex);
    holder = QThread::currentThread();
    workersHeld.store(true, std::memory_order_release);
}

void Connection::releaseWorkers()
{
    QMutexLocker locker(&holdMutex);
    workersHeld.store(false, std::memory_order_release);
    holder = nullptr;
    workersReleased.wakeAll();
}

QSqlDatabase Connection::forThread()
{
    waitWhileHeld();
    if (QThread::currentThread() == defaultOwner.loadAcquire())
        return QSqlDatabase::database(QSqlDatabase::defaultConnection, true);

    const QString path = libraryPath();
    if (path.isEmpty())
        return QSqlDatabase();
    if (!threadConnections.hasLocalData())
        threadConnections.setLocalData(new ThreadConnection(path));
    return QSqlDatabase::database(threadConnections.localData()->name, true);
}

QSqlDatabase Connection::resolve(const QSqlDatabase &given)
{
    if (given.isValid() && given.isOpen()) {
        const bool ownDefault = given.connectionName() == QLatin1String(QSqlDatabase::defaultConnection)
                                && QThread::currentThread() == defaultOwner.loadAcquire();
        const bool ownThread = threadConnections.hasLocalData()
                               && given.connectionName() == threadConnections.localData()->name;
        if (ownDefault || ownThread)
            return given;
    }
    return forThread();
}

void Connection::prepare(QSqlDatabase &db)
{
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs));
}

bool Connection::configure(QSqlDatabase &db)
{
    // auto_vacuum first: it only takes effect before the first table exists.
    // WAL lets readers run beside one writer.  synchronous FULL syncs the log
    // at every commit: a row is on the disk before the program says its work
    // is done, and a journal note before the file it names is made.  (Under
    // NORMAL a power cut can drop the last commits while the files they
    // recorded stay, and the next start's settle would delete those files.)
    // Set only when it differs: setting it writes the file's first page,
    // and opening the library writes nothing (a damaged file stays as it
    // is, a full disk has no room for it).
    QSqlQuery query(db);
    bool ok = runQuery(query, QStringLiteral("PRAGMA auto_vacuum")) && query.next() && query.value(0).toInt() == 1;
    query.finish();
    if (!ok)
        ok = runQuery(query, QStringLiteral("PRAGMA auto_vacuum = FULL"));
    ok = runQuery(query, QStringLiteral("PRAGMA journal_mode = WAL")) && ok;
    ok = runQuery(query, QStringLiteral("PRAGMA synchronous = FULL")) && ok;
    ok = runQuery(query, QStringLiteral("PRAGMA busy_timeout = %1").arg(busyTimeoutMs)) && ok;
    return ok;
}

bool runQuery(QSqlQuery &query)
{
    if (query.exec())
        return true;
    LibraryDamage::noteIfDamage(query.lastError());
    qCWarning(lcDatabase).noquote() << "- Database -> Statement failed:" << query.lastQuery() << "["
                                    << boundValuesText(query) << "]:" << query.lastError().text();
    return false;
}

bool runQuery(QSqlQuery &query, const QString &sql)
{
    if (!query.prepare(sql)) {
        LibraryDamage::noteIfDamage(query.lastError());
        qCWarning(lcDatabase).noquote() << "- Database -> Statement failed:" << sql << ":"
                                        << query.lastError().text();
        return false;
    }
    return runQuery(query);
}
