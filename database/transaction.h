#ifndef TRANSACTION_H
#define TRANSACTION_H

#include <QSqlDatabase>

// One library operation's transaction.  The constructor begins it (taking
// the write lock at once, so two connections never deadlock upgrading a read
// to a write); the destructor rolls it back unless commit() succeeded.  With
// it, "report failure and lose nothing" is the default: a function returns
// early on any failed statement and the guard undoes what went before.
class Transaction
{
public:
    explicit Transaction(QSqlDatabase db);
    ~Transaction();

    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    // True when the transaction began.
    bool isActive() const { return m_active; }
    // Commits; false (and rolled back) when the commit fails or never began.
    bool commit();

private:
    void rollback();

    QSqlDatabase m_db;
    bool m_active = false;
};

#endif // TRANSACTION_H
