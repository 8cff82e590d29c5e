#include "database/ruvodb.h"

#include <QFile>
#include <QSqlQuery>

#include "core/shared.h"
#include "database/connection.h"
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
        query.prepare(QStringLiteral("INSERT INTO albumsRepo(name,artist_id,cover,year) VALUES (?, ?, ?, ?)"));
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
    query.prepare(rowId > 0
                      ? QStringLiteral("UPDATE TrackRepo SET filename = ?, trackname = ?, filepath = ?, codec = ?, "
                                       "filesize = ?, frequency = ?, bitrate = ?, source = ?, tracknumber = ?, "
                                       "duration = ?, artist_id = ?, album_id = ?, genre = ?, IsPodcast = ?, "
                                       "year = ?, isAudiobook = ?, releaseDate = ?, Playlist = ?, isVideo = ?, "
                                       "VideoImage = ?, folderLocation = ? WHERE ID = ?")
                      : QStringLiteral("INSERT INTO TrackRepo(filename, trackname, filepath, codec, filesize, "
                                       "frequency, bitrate, source, tracknumber, duration, artist_id, album_id, "
                                       "genre, IsPodcast, year, isAudiobook, releaseDate, Playlist, isVideo, "
                                       "VideoImage, folderLocation) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"));
    query.addBindValue(boundText(t.filename));
    query.addBindValue(boundText(t.trackname.trimmed()));
    query.addBindValue(boundText(t.sourcePath));
    query.addBindValue(boundText(t.codec));
    query.addBindValue(t.filesize);
    query.addBindValue(t.frequency);
    query.addBindValue(t.bitrate);
    query.addBindValue(t.source);
    query.addBindValue(t.tracknumber);
    query.addBindValue(t.duration);
    query.addBindValue(artistId);
    query.addBindValue(albumId);
    query.addBindValue(boundText(t.genre));
    query.addBindValue(t.isPodcast);
    query.addBindValue(t.year);
    query.addBindValue(t.isAudiobook);
    query.addBindValue(boundText(t.ReleaseDate));
    query.addBindValue(boundText(t.playlist));
    query.addBindValue(t.isVideo);
    query.addBindValue(boundText(t.cover));
    query.addBindValue(boundText(t.folderLocation));
    if (rowId > 0)
        query.addBindValue(rowId);
    if (!runQuery(query))
        return false;
    return transaction.commit();
}
