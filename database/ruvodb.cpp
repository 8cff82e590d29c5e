#include "database/ruvodb.h"

#include <QFile>

#include "core/shared.h"
#include "database/connection.h"
#include "database/repositorystager.h"

ruvoDB::ruvoDB(QObject *parent)
    : QObject(parent)
{
}

bool ruvoDB::isDB()
{
    if (!QFile::exists(shared::dataFolder() + QStringLiteral("/ruvo.db")))
        return false;
    return checkDB(Connection::forThread());
}

bool ruvoDB::insertDataTrackRepo(track record)
{
    return RepositoryStager::stage(record);
}
