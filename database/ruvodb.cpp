#include "database/ruvodb.h"

#include <QFile>
#include <QSqlQuery>

#include "core/shared.h"
#include "database/connection.h"

ruvoDB::ruvoDB(QObject *parent)
    : QObject(parent)
{
}

// ---- Library state --------------------------------------------------------

bool ruvoDB::isDB()
{
    if (!QFile::exists(shared::dataFolder() + QStringLiteral("/ruvo.db")))
        return false;
    return checkDB(Connection::forThread());
}


// ---- Repository staging ---------------------------------------------------

#include "database/repositorystager.h"

bool ruvoDB::insertDataTrackRepo(track record)
{
    return RepositoryStager::stage(record);
}


// ---- Library writes -------------------------------------------------------



// ---- Library load, clean-up and deletion ----------------------------------

bool ruvoDB::checkDB(QSqlDatabase database)
{
    QSqlDatabase db = Connection::resolve(database);
    if (!db.isOpen())
        return false;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT count(*) as id from albums")) || !query.next())
        return false;
    return query.value(QStringLiteral("id")).toLongLong() > 0;
}


// ---- Local tag inference --------------------------------------------------



// ---- Lookup results -------------------------------------------------------

