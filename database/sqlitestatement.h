#ifndef SQLITESTATEMENT_H
#define SQLITESTATEMENT_H

#include <QSqlDatabase>
#include <QString>
#include <QVariantList>

struct sqlite3;
struct sqlite3_stmt;

// One statement prepared on the SQLite handle under a Qt connection of the
// calling thread, for statements run thousands of times in a row (the
// scan's staging).  Binding through QSqlQuery formats a placeholder name
// for every value bound, which cost more than SQLite's own work.  Values
// are bound as Qt's SQLite driver binds them (a null QVariant or null text
// as NULL, integers and booleans as integers, text as text); a failure is
// logged with the statement and its values, and a damaged file is noted, as
// runQuery does.  Same connection, same transaction as the Qt queries on it.
class SqliteStatement
{
public:
    // Prepares `sql` on `db`'s handle; isValid() tells whether it prepared.
    SqliteStatement(const QSqlDatabase &db, const QString &sql);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement &) = delete;
    SqliteStatement &operator=(const SqliteStatement &) = delete;

    bool isValid() const { return statement != nullptr; }

    // Binds `values` (one per placeholder, in order) and runs the statement
    // to its end, then resets it for the next run.  `lastValue`, when given,
    // gets the first column of the last row as an integer (0 without rows).
    bool run(const QVariantList &values, qint64 *lastValue = nullptr);
    // The id of the row the last successful INSERT on the connection made.
    qint64 lastInsertId() const;

private:
    bool fail(const QVariantList &values);

    sqlite3 *handle = nullptr;
    sqlite3_stmt *statement = nullptr;
    QString sql;
};

#endif // SQLITESTATEMENT_H
