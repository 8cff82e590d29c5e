#ifndef CONNECTION_H
#define CONNECTION_H

#include <QLoggingCategory>
#include <QSqlDatabase>
#include <QString>

Q_DECLARE_LOGGING_CATEGORY(lcDatabase)

class QSqlQuery;

// The library connection of the calling thread.  Qt lets a connection be used
// only by the thread that opened it, so:
//  - the thread that opened the library (Database::connect, the GUI thread)
//    uses Qt's default connection;
//  - every other thread gets a connection of its own to the same file, opened
//    on first use with the same settings and closed when that thread ends.
// Every library operation gets its handle from forThread() (or through
// resolve() when a caller hands one in) and never keeps it past the call.
class Connection
{
public:
    // The calling thread's open connection, or an invalid handle when no
    // library has been opened in this process or the file can't be opened.
    static QSqlDatabase forThread();

    // The given handle when it is open and belongs to the calling thread;
    // otherwise the calling thread's own connection.  Lets the fixed
    // signatures that take a handle work from any thread.
    static QSqlDatabase resolve(const QSqlDatabase &given);

    // Records the library file and, as the owner of the default connection,
    // the calling thread.  Called by Database::connect once the default
    // connection is open.
    static void setLibrary(const QString &path, const QSqlDatabase &defaultConnection);
    static QString libraryPath();

    // Start-up opens the library only once it has checked it, after the
    // window is up.  Meanwhile a worker that asks for its connection (the
    // library load among them) waits rather than find no library; the thread
    // that holds them never waits.  Released once the library is open, or
    // can't be, and at close.
    static void holdWorkers();
    static void releaseWorkers();

    // The settings every library connection gets before it opens (busy
    // timeout) and right after (journal, synchronous writes, vacuum).
    static void prepare(QSqlDatabase &db);
    static bool configure(QSqlDatabase &db);

    // How long a statement waits for another connection's write lock.
    static constexpr int busyTimeoutMs = 10000;
};

// Runs a prepared query, or prepares and runs `sql`; a failure is logged with
// the statement, its bound values and the driver's reason.
bool runQuery(QSqlQuery &query);
bool runQuery(QSqlQuery &query, const QString &sql);

#endif // CONNECTION_H
