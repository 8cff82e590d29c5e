#include "database/ruvodb.h"

#include <QFile>
#include <QSqlQuery>

#include "core/shared.h"
#include "database/connection.h"
#include "database/ruvodb_p.h"
#include "database/transaction.h"

using namespace RuvoDbInternal;

namespace {

int yearId(QSqlQuery &query, int year)
{
    return findOrInsert(query, QStringLiteral("years"), QStringLiteral("year"), QStringLiteral("year = ?"), year);
}

} // namespace

int ruvoDB::genres(QSqlQuery query, QString genre)
{
    return findOrInsert(query, QStringLiteral("genres"), QStringLiteral("genre"), QStringLiteral("genre = ?"),
                        boundText(genre));
}

int ruvoDB::artists(QSqlQuery query, QString name)
{
    return findOrInsert(query, QStringLiteral("artists"), QStringLiteral("name"),
                        QStringLiteral("name = ? COLLATE NOCASE"), boundText(name));
}

int ruvoDB::albums(QSqlQuery query, QString name, QString cover, int year, int artistId)
{
    const shared helper;
    const QString cleanedName = helper.formatSplChar(name);
    query.setForwardOnly(true);
    query.prepare(name.contains(QLatin1Char('\'')) ? QStringLiteral("SELECT id FROM albums WHERE name = ?")
                                                   : QStringLiteral("SELECT id FROM albums WHERE name = ? COLLATE NOCASE"));
    query.addBindValue(boundText(name));
    const int id = lastRowId(query);
    if (id < 0)
        return 0;

    if (id == 0) {
        // A picture named after another album is not this album's picture.
        const bool ownPicture = cover.contains(cleanedName);
        query.prepare(QStringLiteral("INSERT INTO albums(name,artist_id,cover,coverdata,year) VALUES (?, ?, ?, ?, ?)"));
        query.addBindValue(boundText(name));
        query.addBindValue(artistId);
        query.addBindValue(ownPicture ? boundText(cover) : helper.noArtworkUrl);
        query.addBindValue(ownPicture ? boundText(convertImageToBase64(cover)) : QStringLiteral(""));
        query.addBindValue(year);
        return insertedId(query);
    }

    // A known album takes a new picture only from an existing file; its name,
    // artist and year stay as first stored.
    if (cover.contains(QLatin1String("no_artwork.png")) || !QFile::exists(cover))
        return id;
    QString newCover;
    QString newData;
    if (shared::isUnknownName(name)) {
        newCover = helper.noArtworkUrl;
        newData = QStringLiteral("");
    } else if (cover.contains(cleanedName)) {
        newCover = cover;
        newData = boundText(convertImageToBase64(cover));
    } else {
        return id;
    }
    query.prepare(QStringLiteral("UPDATE albums SET cover = ?, coverdata = ? WHERE id = ?"));
    query.addBindValue(newCover);
    query.addBindValue(newData);
    query.addBindValue(id);
    return runQuery(query) ? id : 0;
}

namespace {

// One track's row inside the caller's transaction.
bool storeTrackRow(ruvoDB &library, QSqlDatabase &db, const track &t, const QString &path)
{
    const int genreId = library.genres(QSqlQuery(db), t.genre);
    const int artistId = library.artists(QSqlQuery(db), t.artistName);
    const int albumId = artistId > 0 ? library.albums(QSqlQuery(db), t.albumName, t.cover, t.year, artistId) : 0;
    QSqlQuery query(db);
    const int yId = yearId(query, t.year);
    if (genreId <= 0 || artistId <= 0 || albumId <= 0 || yId <= 0)
        return false;

    // The new row goes in first; the rows it replaces go only once it is in.
    query.prepare(QStringLiteral(
        "INSERT INTO tracks(filename,trackname,Filepath,codec,filesize,frequency,bitrate,source,tracknumber,"
        "duration,artist_id,album_id,genre_id,isPodcast,year_id,isAudiobook,ReleaseDate,playlist,isVideo,"
        "VideoImage) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"));
    query.addBindValue(boundText(t.filename));
    query.addBindValue(boundText(t.trackname));
    query.addBindValue(boundText(path));
    query.addBindValue(boundText(t.codec));
    query.addBindValue(t.filesize);
    query.addBindValue(t.frequency);
    query.addBindValue(t.bitrate);
    query.addBindValue(t.source);
    query.addBindValue(t.tracknumber);
    query.addBindValue(t.duration);
    query.addBindValue(artistId);
    query.addBindValue(albumId);
    query.addBindValue(genreId);
    query.addBindValue(t.isPodcast);
    query.addBindValue(yId);
    query.addBindValue(t.isAudiobook);
    query.addBindValue(boundText(t.ReleaseDate));
    query.addBindValue(boundText(t.playlist));
    query.addBindValue(t.isVideo);
    query.addBindValue(t.isVideo ? boundText(t.cover) : QStringLiteral(""));
    const int newId = insertedId(query);
    if (newId <= 0)
        return false;

    query.prepare(QStringLiteral("DELETE FROM tracks WHERE Filepath = ? AND IFNULL(playlist, '') = ? AND id <> ?"));
    query.addBindValue(boundText(path));
    query.addBindValue(boundText(t.playlist));
    query.addBindValue(newId);
    return runQuery(query);
}

bool storeTrack(ruvoDB &library, const track &t, const QString &path)
{
    QSqlDatabase db = Connection::forThread();
    Transaction transaction(db);
    if (!transaction.isActive() || !storeTrackRow(library, db, t, path))
        return false;
    return transaction.commit();
}

} // namespace

bool ruvoDB::insertDataOne(track t)
{
    return storeTrack(*this, t, t.filepath);
}

bool ruvoDB::insertDataOneWithItrator(TrackMap::iterator it, QString path)
{
    return storeTrack(*this, it.value(), path);
}

bool ruvoDB::insertData(QSqlDatabase, TrackMap map)
{
    if (map.isEmpty()) {
        qDebug() << "No Values to save...." << map.size();
        return false;
    }
    bool allStored = true;
    for (auto it = map.begin(); it != map.end(); ++it)
        allStored = insertDataOneWithItrator(it, it.value().filepath) && allStored;
    return allStored;
}

void ruvoDB::saveDB(TrackMap map)
{
    if (Connection::forThread().isOpen())
        insertData(QSqlDatabase(), map);
}

bool ruvoDB::insertTracks(const QList<track> &tracks)
{
    QSqlDatabase db = Connection::forThread();
    Transaction transaction(db);
    if (!transaction.isActive())
        return false;
    for (const track &t : tracks) {
        if (!storeTrackRow(*this, db, t, t.filepath))
            return false;
    }
    return transaction.commit();
}

bool ruvoDB::DeleteAudio(QSqlDatabase database, int id)
{
    QSqlQuery query(Connection::resolve(database));
    query.prepare(QStringLiteral("DELETE FROM tracks WHERE id = ?"));
    query.addBindValue(id);
    return runQuery(query);
}
