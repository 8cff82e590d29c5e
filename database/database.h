#ifndef DATABASE_H
#define DATABASE_H

#include <QSqlDatabase>
#include <QString>

// Holder of the library file "ruvo.db" in the data folder and of the GUI
// thread's connection to it.  connect() opens the file as Qt's default
// connection (and tells Connection where the library is, so other threads
// can open their own); create() brings the schema up to date.  The schema is
// the stored format of the library: tables are only ever created when
// missing and grown by appending columns, never renumbered or reordered.
class Database
{
public:
    // Creates the data folder (with its parents) when missing; opens nothing.
    Database();
    ~Database();

    // Opens the library; true when it is usable.  With createIfMissing false
    // and no file, returns false and creates nothing.  A new file resets the
    // saved vehicle choice.  Call from the GUI thread.
    bool connect(const QString &name, bool createIfMissing);

    // Creates missing tables, adds missing columns in their order, rebuilds
    // an empty staging table and the two views.  Failures go to the debug
    // output; the next statement still runs.
    void create();

    QString driver;
    QString dbPath;
    QString connectionName;
    QSqlDatabase sqlDatabase;
};

#endif // DATABASE_H
