#pragma once

// Shared by the source files of ruvoDB only.

#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include "database/connection.h"

namespace RuvoDbInternal {

// Text bound where the column or a duplicate test expects text: an absent
// value is stored as "", never as NULL.
inline QString boundText(const QString &text)
{
    return text.isNull() ? QStringLiteral("") : text;
}

// The id of the last row a lookup returns; 0 for none, -1 when it fails.
inline int lastRowId(QSqlQuery &query)
{
    if (!runQuery(query))
        return -1;
    int id = 0;
    while (query.next())
        id = query.value(0).toInt();
    return id;
}

inline int insertedId(QSqlQuery &query)
{
    if (!runQuery(query))
        return 0;
    return query.lastInsertId().toInt();
}

// Find-or-insert of a one-column row: the id of the last row `match` (the
// WHERE clause for one bound value) finds, else of a new row with `value`;
// 0 when neither works.
inline int findOrInsert(QSqlQuery &query, const QString &table, const QString &column, const QString &match,
                        const QVariant &value)
{
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT id FROM %1 WHERE %2").arg(table, match));
    query.addBindValue(value);
    const int id = lastRowId(query);
    if (id != 0)
        return qMax(id, 0);
    query.prepare(QStringLiteral("INSERT INTO %1(%2) VALUES (?)").arg(table, column));
    query.addBindValue(value);
    return insertedId(query);
}

} // namespace RuvoDbInternal
