#include "database/transaction.h"

#include <QSqlQuery>

#include "database/connection.h"
#include "platform/writeorder.h"

namespace {

// Whether a commit on `db` waits for the disk: in WAL mode only FULL and
// EXTRA sync the log at each commit.
bool commitsDurably(const QSqlDatabase &db)
{
    QSqlQuery query(db);
    return query.exec(QStringLiteral("PRAGMA synchronous")) && query.next() && query.value(0).toInt() >= 2;
}

} // namespace

Transaction::Transaction(QSqlDatabase db)
    : m_db(db)
{
    if (!m_db.isValid() || !m_db.isOpen())
        return;
    QSqlQuery query(m_db);
    m_active = runQuery(query, QStringLiteral("BEGIN IMMEDIATE"));
}

Transaction::~Transaction()
{
    if (m_active)
        rollback();
}

bool Transaction::commit()
{
    if (!m_active)
        return false;
    const bool traced = WriteOrder::recording();
    const bool durable = traced && commitsDurably(m_db);
    QSqlQuery query(m_db);
    if (runQuery(query, QStringLiteral("COMMIT"))) {
        m_active = false;
        if (traced)
            WriteOrder::record(durable ? WriteOrder::Event::CommittedDurably : WriteOrder::Event::Committed);
        return true;
    }
    rollback();
    return false;
}

void Transaction::rollback()
{
    QSqlQuery query(m_db);
    runQuery(query, QStringLiteral("ROLLBACK"));
    m_active = false;
}
