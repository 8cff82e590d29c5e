#include "database/ruvodb.h"

#include <QFile>
#include <QSqlQuery>

#include <limits>

#include "core/shared.h"
#include "database/connection.h"
#include "database/filejournal.h"
#include "database/ruvodb_p.h"
#include "database/transaction.h"
#include "platform/writeorder.h"

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
    query.prepare(name.contains(QLatin1Char('\''))
                      ? QStringLiteral("SELECT id FROM albums WHERE name = ?")
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

// The columns of a track row after its id, in the order trackValues() gives them.
const QString trackColumns = QStringLiteral(
    "filename,trackname,Filepath,codec,filesize,frequency,bitrate,source,tracknumber,duration,artist_id,album_id,"
    "genre_id,isPodcast,year_id,isAudiobook,ReleaseDate,playlist,isVideo,VideoImage");

QVariantList trackValues(const track &t, const QString &path, int artistId, int albumId, int genreId, int yId)
{
    return {boundText(t.filename),
            boundText(t.trackname),
            boundText(path),
            boundText(t.codec),
            t.filesize,
            t.frequency,
            t.bitrate,
            t.source,
            t.tracknumber,
            t.duration,
            artistId,
            albumId,
            genreId,
            t.isPodcast,
            yId,
            t.isAudiobook,
            boundText(t.ReleaseDate),
            boundText(t.playlist),
            t.isVideo,
            t.isVideo ? boundText(t.cover) : QStringLiteral("")};
}

QString placeholders(qsizetype count)
{
    return QStringList(count, QStringLiteral("?")).join(QLatin1Char(','));
}

bool bindAndRun(QSqlQuery &query, const QString &sql, const QVariantList &values)
{
    query.prepare(sql);
    for (const QVariant &value : values)
        query.addBindValue(value);
    return runQuery(query);
}

// The row a track is stored in: its own id when it has one (a re-store, or an
// id handed out by reserveTrackIds), else the row of its file and playlist.
// 0 when there is none yet; -1 when the id names a row of another file: a row
// never changes its file, so that can only be a stale id.
int rowOf(QSqlQuery &query, const track &t, const QString &path)
{
    query.setForwardOnly(true);
    if (t.id > 0) {
        query.prepare(QStringLiteral("SELECT Filepath, IFNULL(playlist, '') FROM tracks WHERE id = ?"));
        query.addBindValue(t.id);
        if (!runQuery(query))
            return -1;
        if (!query.next())
            return 0;
        const bool same = query.value(0).toString() == path && query.value(1).toString() == boundText(t.playlist);
        query.finish();
        return same ? t.id : -1;
    }
    query.prepare(QStringLiteral("SELECT id FROM tracks WHERE Filepath = ? AND IFNULL(playlist, '') = ? "
                                 "ORDER BY id LIMIT 1"));
    query.addBindValue(boundText(path));
    query.addBindValue(boundText(t.playlist));
    return lastRowId(query);
}

// One track's row inside the caller's transaction; its row id, 0 on failure.
int storeTrackRow(ruvoDB &library, QSqlDatabase &db, const track &t, const QString &path)
{
    const int genreId = library.genres(QSqlQuery(db), t.genre);
    const int artistId = library.artists(QSqlQuery(db), t.artistName);
    const int albumId = artistId > 0 ? library.albums(QSqlQuery(db), t.albumName, t.cover, t.year, artistId) : 0;
    QSqlQuery query(db);
    const int yId = yearId(query, t.year);
    if (genreId <= 0 || artistId <= 0 || albumId <= 0 || yId <= 0)
        return 0;

    const QVariantList values = trackValues(t, path, artistId, albumId, genreId, yId);
    int rowId = rowOf(query, t, path);
    if (rowId < 0) {
        qCWarning(lcDatabase) << "- Database -> track id" << t.id << "belongs to another file; not stored:" << path;
        return 0;
    }
    if (rowId > 0) {
        // A re-store keeps the row and so the track's id.
        const QString assignments = QString(trackColumns).replace(QLatin1Char(','), QStringLiteral(" = ?,"));
        if (!bindAndRun(query, QStringLiteral("UPDATE tracks SET %1 = ? WHERE id = ?").arg(assignments),
                        values + QVariantList{rowId}))
            return 0;
    } else if (t.id > 0) {
        // The first row of a track whose id was reserved for it.
        if (!bindAndRun(query,
                        QStringLiteral("INSERT INTO tracks(id,%1) VALUES (%2)")
                            .arg(trackColumns, placeholders(values.size() + 1)),
                        QVariantList{t.id} + values))
            return 0;
        rowId = t.id;
    } else {
        if (!bindAndRun(
                query,
                QStringLiteral("INSERT INTO tracks(%1) VALUES (%2)").arg(trackColumns, placeholders(values.size())),
                values))
            return 0;
        rowId = query.lastInsertId().toInt();
        if (rowId <= 0)
            return 0;
    }

    // One row per file and playlist: an earlier track of this file (one a
    // better copy replaces) goes, now that its successor is in.  The file is
    // owned by a row from now on: it leaves the journal of unsettled files.
    if (!bindAndRun(query,
                    QStringLiteral("DELETE FROM tracks WHERE Filepath = ? AND IFNULL(playlist, '') = ? AND id <> ?"),
                    {boundText(path), boundText(t.playlist), rowId}) ||
        !FileJournal::forget(db, path))
        return 0;
    WriteOrder::record(WriteOrder::Event::RowWritten, path);
    return rowId;
}

int storeTrack(ruvoDB &library, const track &t, const QString &path)
{
    QSqlDatabase db = Connection::forThread();
    Transaction transaction(db);
    if (!transaction.isActive())
        return 0;
    const int rowId = storeTrackRow(library, db, t, path);
    return rowId > 0 && transaction.commit() ? rowId : 0;
}

} // namespace

int ruvoDB::storeTrack(const track &t)
{
    return ::storeTrack(*this, t, t.filepath);
}

int ruvoDB::reserveTrackIds(int count, int atLeast)
{
    if (count <= 0)
        return 0;
    QSqlDatabase db = Connection::forThread();
    Transaction transaction(db);
    if (!transaction.isActive())
        return 0;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    // Past every id the table has ever handed out (AUTOINCREMENT keeps that
    // in sqlite_sequence) and every id it holds.
    if (!runQuery(query, QStringLiteral("SELECT max(IFNULL((SELECT seq FROM sqlite_sequence WHERE name = 'tracks'), 0),"
                                        " IFNULL((SELECT max(id) FROM tracks), 0))")) ||
        !query.next())
        return 0;
    const qint64 first = qMax<qint64>(query.value(0).toLongLong() + 1, atLeast);
    const qint64 last = first + count - 1;
    query.finish();
    if (last > std::numeric_limits<int>::max())
        return 0;
    if (!bindAndRun(query, QStringLiteral("UPDATE sqlite_sequence SET seq = ? WHERE name = 'tracks'"), {last}))
        return 0;
    if (query.numRowsAffected() == 0 &&
        !bindAndRun(query, QStringLiteral("INSERT INTO sqlite_sequence(name, seq) VALUES ('tracks', ?)"), {last}))
        return 0;
    return transaction.commit() ? int(first) : 0;
}

bool ruvoDB::insertDataOne(track t)
{
    return ::storeTrack(*this, t, t.filepath) > 0;
}

bool ruvoDB::insertDataOneWithItrator(TrackMap::iterator it, QString path)
{
    return ::storeTrack(*this, it.value(), path) > 0;
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
        if (storeTrackRow(*this, db, t, t.filepath) <= 0)
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
