#include "database/sqlitestatement.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QStringList>

#include <sqlite3.h>

#include "database/connection.h"
#include "database/librarydamage.h"

namespace {

sqlite3 *handleOf(const QSqlDatabase &db)
{
    const QVariant handle = db.isOpen() && db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3 *const *>(handle.constData());
}

bool isNull(const QVariant &value)
{
    return value.isNull() || (value.typeId() == QMetaType::QString && value.toString().isNull());
}

int bind(sqlite3_stmt *statement, int at, const QVariant &value)
{
    if (isNull(value))
        return sqlite3_bind_null(statement, at);
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::Bool:
        return sqlite3_bind_int(statement, at, value.toInt());
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return sqlite3_bind_int64(statement, at, value.toLongLong());
    case QMetaType::Double:
        return sqlite3_bind_double(statement, at, value.toDouble());
    case QMetaType::QByteArray: {
        // The value lives until the statement is reset, and its bindings cleared.
        const auto *bytes = static_cast<const QByteArray *>(value.constData());
        return sqlite3_bind_blob(statement, at, bytes->constData(), int(bytes->size()), SQLITE_STATIC);
    }
    case QMetaType::QString: {
        const auto *text = static_cast<const QString *>(value.constData());
        return sqlite3_bind_text16(statement, at, text->utf16(), int(text->size() * sizeof(char16_t)), SQLITE_STATIC);
    }
    default: {
        const QString text = value.toString();
        return sqlite3_bind_text16(statement, at, text.utf16(), int(text.size() * sizeof(char16_t)), SQLITE_TRANSIENT);
    }
    }
}

} // namespace

SqliteStatement::SqliteStatement(const QSqlDatabase &db, const QString &text) : handle(handleOf(db)), sql(text)
{
    if (!handle) {
        qCWarning(lcDatabase).noquote() << "- Database -> Statement failed:" << sql << ": no SQLite connection";
        return;
    }
    if (sqlite3_prepare16_v3(handle, sql.utf16(), int(sql.size() * sizeof(char16_t)), SQLITE_PREPARE_PERSISTENT,
                             &statement, nullptr) != SQLITE_OK) {
        fail({});
        sqlite3_finalize(statement);
        statement = nullptr;
    }
}

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(statement);
}

bool SqliteStatement::run(const QVariantList &values, qint64 *lastValue)
{
    if (lastValue)
        *lastValue = 0;
    if (!statement)
        return false;
    if (sqlite3_bind_parameter_count(statement) != values.size()) {
        qCWarning(lcDatabase).noquote() << "- Database -> Statement failed:" << sql << ":" << values.size()
                                        << "values for" << sqlite3_bind_parameter_count(statement) << "placeholders";
        return false;
    }
    for (int i = 0; i < values.size(); ++i) {
        if (bind(statement, i + 1, values.at(i)) != SQLITE_OK)
            return fail(values);
    }
    int result = SQLITE_ROW;
    while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
        if (lastValue)
            *lastValue = sqlite3_column_int64(statement, 0);
    }
    const bool done = result == SQLITE_DONE || fail(values);
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    return done;
}

qint64 SqliteStatement::lastInsertId() const
{
    return handle ? sqlite3_last_insert_rowid(handle) : 0;
}

bool SqliteStatement::fail(const QVariantList &values)
{
    const int code = sqlite3_extended_errcode(handle);
    const QString reason = QString::fromUtf8(sqlite3_errmsg(handle));
    QStringList shown;
    for (const QVariant &value : values)
        shown << (isNull(value) ? QStringLiteral("NULL") : value.toString().left(80));
    LibraryDamage::noteIfDamage(QSqlError(QString(), reason, QSqlError::StatementError, QString::number(code)));
    qCWarning(lcDatabase).noquote() << "- Database -> Statement failed:" << sql << "["
                                    << shown.join(QStringLiteral(", ")) << "]:" << reason;
    if (statement)
        sqlite3_reset(statement);
    return false;
}
