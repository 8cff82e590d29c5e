#include "database/ruvodb.h"

#include <QFile>
#include <QSqlQuery>

#include "core/shared.h"
#include "database/connection.h"
#include "database/repositorystager.h"
#include "database/ruvodb_p.h"
#include "database/transaction.h"

using namespace RuvoDbInternal;

bool ruvoDB::updateDataFromAPI(track t)
{
    QSqlDatabase db = Connection::forThread();
    Transaction transaction(db);
    if (!transaction.isActive())
        return false;
    QSqlQuery query(db);
    query.setForwardOnly(true);

    const int artistId = findOrInsert(query, QStringLiteral("artistsRepo"), QStringLiteral("name"),
                                      QStringLiteral("name = ?"), boundText(t.artistName));
    if (artistId <= 0)
        return false;

    query.prepare(QStringLiteral("SELECT id FROM albumsRepo WHERE name = ? COLLATE NOCASE"));
    query.addBindValue(boundText(t.albumName));
    int albumId = lastRowId(query);
    if (albumId < 0)
        return false;
    if (albumId == 0) {
        query.prepare(RepositoryStager::albumInsertSql());
        query.addBindValue(boundText(t.albumName));
        query.addBindValue(artistId);
        query.addBindValue(boundText(t.cover));
        query.addBindValue(t.year);
        if ((albumId = insertedId(query)) <= 0)
            return false;
    } else if (!t.cover.contains(QLatin1String("no_artwork.png")) && QFile::exists(t.cover)) {
        query.prepare(QStringLiteral("UPDATE albumsRepo SET cover = ? WHERE id = ?"));
        query.addBindValue(shared::isUnknownName(t.albumName) ? shared().noArtworkUrl : t.cover);
        query.addBindValue(albumId);
        if (!runQuery(query))
            return false;
    }

    query.prepare(QStringLiteral("SELECT ID FROM TrackRepo WHERE trackname = ? AND folderLocation = ?"));
    query.addBindValue(boundText(t.trackname.trimmed()));
    query.addBindValue(boundText(t.folderLocation.trimmed()));
    const int rowId = lastRowId(query);
    if (rowId < 0)
        return false;
    query.prepare(rowId > 0 ? QStringLiteral("UPDATE TrackRepo SET %1 = ? WHERE ID = ?")
                                  .arg(RepositoryStager::trackColumns.join(QStringLiteral(" = ?, ")))
                            : RepositoryStager::trackInsertSql());
    for (const QVariant &value : RepositoryStager::trackValues(t, artistId, albumId, t.cover))
        query.addBindValue(value);
    if (rowId > 0)
        query.addBindValue(rowId);
    if (!runQuery(query))
        return false;
    return transaction.commit();
}
