#include "database/transaction.h"

#include <QSqlQuery>

#include "database/connection.h"

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
    QSqlQuery query(m_db);
    if (runQuery(query, QStringLiteral("COMMIT"))) {
        m_active = false;
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
