#include "database/ruvodb.h"

#include <memory>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QSqlQuery>
#include <QThread>

#include "core/logging.h"
#include "core/mediaquality.h"
#include "core/shared.h"
#include "database/connection.h"
#include "database/ruvodb_p.h"
#include "database/transaction.h"

using namespace RuvoDbInternal;

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

namespace {

// True when `canonicalPath` lies strictly below the program's copy folder.
bool isBelowCopyFolder(const QString &canonicalPath)
{
    const QString root = QDir(ruvoDB::programCopyFolder()).canonicalPath();
    if (root.isEmpty() || canonicalPath.isEmpty())
        return false;
    return canonicalPath.startsWith(root + QLatin1Char('/'));
}

bool removeTree(const QString &dirName)
{
    QDir dir(dirName);
    const QFileInfoList entries = dir.entryInfoList(
        QDir::NoDotAndDotDot | QDir::System | QDir::Hidden | QDir::AllDirs | QDir::Files, QDir::DirsFirst);
    for (const QFileInfo &entry : entries) {
        // A link is removed as a link: its target is never entered.
        const bool removed = (entry.isDir() && !entry.isSymLink()) ? removeTree(entry.absoluteFilePath())
                                                                   : QFile::remove(entry.absoluteFilePath());
        if (!removed)
            return false;
    }
    return QDir().rmdir(dirName);
}

} // namespace

QString ruvoDB::programCopyFolder()
{
    return shared::dataFolder() + QStringLiteral("/Music/Corvane Media Organiser");
}

TrackMap ruvoDB::loadDB(QSqlDatabase database)
{
    Logging::getInstance()->WriteLog(QStringLiteral("Fetching DB Informations"), QString());
    QSqlDatabase db = Connection::resolve(database);
    TrackMap library;
    QList<int> missing;

    // Each album's picture data is read once and shared by all its tracks
    // (the text is implicitly shared): a copy per track would hold the
    // same picture thousands of times.  The pictures are most of the bytes
    // the load reads, so a thread of its own (with its own connection,
    // closed when it ends) reads them while this one reads the tracks.
    QHash<int, QString> coverData;
    const auto readCoverData = [&coverData](const QSqlDatabase &connection) {
        QSqlQuery covers(connection);
        covers.setForwardOnly(true);
        if (runQuery(covers, QStringLiteral("SELECT id, coverdata FROM albums"))) {
            while (covers.next())
                coverData.insert(covers.value(0).toInt(), covers.value(1).toString());
        }
    };
    std::unique_ptr<QThread> coverReader;
    if (db.databaseName() == Connection::libraryPath()) {
        coverReader.reset(QThread::create([readCoverData] { readCoverData(Connection::forThread()); }));
        coverReader->start();
    } else {
        readCoverData(db);
    }
    QList<std::pair<int, int>> albumOfTrack; // track id, album id
    QSqlQuery query(db);
    query.setForwardOnly(true);

    // Names, pictures and dates repeat across an album's or artist's tracks:
    // one copy of each text, shared by the tracks that carry it.
    QSet<QString> texts;
    const auto sharedText = [&texts](const QVariant &value) {
        const QString text = value.toString();
        if (text.isEmpty()) // null and empty stay as they are
            return text;
        const auto known = texts.constFind(text);
        if (known != texts.cend())
            return *known;
        texts.insert(text);
        return text;
    };

    // Columns by position, in this order.
    enum Column {
        Id, Filename, Trackname, Filepath, Codec, Filesize, Frequency, Bitrate, Source, Tracknumber, Duration,
        ArtistId, Artistname, AlbumId, Albumname, Cover, Genre, Year, IsAudiobook, IsVideo, IsPodcast,
        ReleaseDate, Playlist, VideoImage
    };
    if (runQuery(query, QStringLiteral("SELECT id, filename, trackname, Filepath, codec, filesize, frequency, "
                                       "bitrate, source, tracknumber, duration, artist_id, artistname, album_id, "
                                       "albumname, cover, genre, year, isAudiobook, isVideo, isPodcast, "
                                       "ReleaseDate, playlist, VideoImage FROM getTracks"))) {
        while (query.next()) {
            const QString path = query.value(Filepath).toString();
            if (!QFileInfo::exists(path)) {
                // A file gone from a folder that is still there was deleted;
                // a missing folder is more likely an unplugged drive.
                if (QFileInfo(path).absoluteDir().exists())
                    missing << query.value(Id).toInt();
                continue;
            }
            track t;
            t.id = query.value(Id).toInt();
            t.filename = query.value(Filename).toString();
            t.trackname = query.value(Trackname).toString();
            t.filepath = path;
            t.codec = sharedText(query.value(Codec));
            t.filesize = query.value(Filesize).toLongLong();
            t.frequency = query.value(Frequency).toLongLong();
            t.frequencyShort = int(t.frequency);
            t.bitrate = query.value(Bitrate).toInt();
            t.source = query.value(Source).toInt();
            t.tracknumber = query.value(Tracknumber).toInt();
            t.duration = query.value(Duration).toDouble();
            t.artist_id = query.value(ArtistId).toInt();
            t.artistName = sharedText(query.value(Artistname));
            const QVariant albumId = query.value(AlbumId);
            t.album_id = albumId.toInt();
            t.albumName = sharedText(query.value(Albumname));
            t.cover = sharedText(query.value(Cover));
            // No album row behind the track (a null id) has no picture data.
            if (!albumId.isNull())
                albumOfTrack.append({t.id, t.album_id});
            t.genre = sharedText(query.value(Genre));
            t.year = query.value(Year).toInt();
            t.isAudiobook = query.value(IsAudiobook).toBool();
            t.isVideo = query.value(IsVideo).toBool();
            t.isPodcast = query.value(IsPodcast).toBool();
            t.ReleaseDate = sharedText(query.value(ReleaseDate));
            t.playlist = sharedText(query.value(Playlist));
            if (t.isVideo)
                t.cover = query.value(VideoImage).toString();
            t.playlist_id = t.playlist.isEmpty() ? 0 : t.album_id;
            t.quality = mediaQualityClass(t.bitrate);
            library.insert(t.id, t);
        }
    }
    query.finish();
    if (coverReader)
        coverReader->wait();
    for (const auto &[trackId, albumId] : std::as_const(albumOfTrack))
        library[trackId].coverdata = coverData.value(albumId);

    if (!missing.isEmpty()) {
        Transaction transaction(db);
        bool ok = transaction.isActive();
        for (const int id : std::as_const(missing))
            ok = ok && DeleteAudio(db, id);
        if (!ok || !transaction.commit())
            qCWarning(lcDatabase) << "- Database -> Rows of missing files not deleted";
    }
    cleanUpDatabase(db);
    createArtwork(db);
    Logging::getInstance()->WriteLog(QStringLiteral("Load Completed"), QString());
    return library;
}

void ruvoDB::cleanUpDatabase(QSqlDatabase database)
{
    QSqlDatabase db = Connection::resolve(database);
    Transaction transaction(db);
    QSqlQuery query(db);
    const bool ok =
        transaction.isActive()
        && runQuery(query, QStringLiteral("DELETE FROM `albums` WHERE `id` NOT IN "
                                          "(SELECT `album_id` FROM `tracks` GROUP BY `album_id`)"))
        && runQuery(query, QStringLiteral("DELETE FROM `genres` WHERE `id` NOT IN "
                                          "(SELECT `genre_id` FROM `tracks` GROUP BY `genre_id`)"))
        && runQuery(query, QStringLiteral("DELETE FROM `artists` WHERE `id` NOT IN "
                                          "(SELECT `artist_id` FROM `tracks` GROUP BY `artist_id`)"))
        && runQuery(query, QStringLiteral("DELETE FROM `years` WHERE `id` NOT IN "
                                          "(SELECT `year_id` FROM `tracks` GROUP BY `year_id`)"))
        && runQuery(query, QStringLiteral("DELETE FROM `playlist_items` WHERE `playlist_id` NOT IN "
                                          "(SELECT `id` FROM `playlists`)"));
    if (ok)
        transaction.commit();
}

bool ruvoDB::createArtwork(QSqlDatabase database)
{
    // Normally every picture is still there: its data is read only for the
    // pictures that are missing.
    QSqlDatabase db = Connection::resolve(database);
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!runQuery(query, QStringLiteral("SELECT id, cover FROM albums WHERE coverdata <> ''")))
        return true;
    QList<std::pair<int, QString>> missing;
    while (query.next()) {
        const QString cover = query.value(1).toString();
        if (!QFileInfo::exists(QDir::cleanPath(QDir::fromNativeSeparators(cover))))
            missing.append({query.value(0).toInt(), cover});
    }
    query.finish();
    for (const auto &[id, cover] : std::as_const(missing)) {
        query.prepare(QStringLiteral("SELECT coverdata FROM albums WHERE id = ?"));
        query.addBindValue(id);
        if (runQuery(query) && query.next())
            convertBase64ToImage(cover, query.value(0).toString());
        query.finish();
    }
    return true;
}

bool ruvoDB::deleteTrack(QSqlDatabase database, QString path)
{
    QSqlQuery query(Connection::resolve(database));
    query.prepare(QStringLiteral("DELETE FROM tracks WHERE filepath = ?"));
    query.addBindValue(boundText(path));
    if (!runQuery(query))
        return false;

    const QFileInfo file(path);
    if (file.exists() && file.isFile() && !file.isSymLink() && isBelowCopyFolder(file.canonicalFilePath()))
        QFile::remove(file.canonicalFilePath());

    // Then the folders the removal emptied, bottom-up, each only while it is
    // empty: a disc folder or another album below is never taken along.
    const QFileInfo folder(file.absolutePath());
    if (folder.isSymLink())
        return false;
    QString current = folder.canonicalFilePath();
    bool removedOwnFolder = false;
    while (isBelowCopyFolder(current) && QDir().rmdir(current)) {
        removedOwnFolder = true;
        current = QFileInfo(current).absolutePath();
    }
    return removedOwnFolder;
}

bool ruvoDB::removeDir(QString const &dirName)
{
    const QFileInfo folder(dirName);
    if (!folder.isDir() || folder.isSymLink() || !isBelowCopyFolder(folder.canonicalFilePath()))
        return false;
    return removeTree(folder.canonicalFilePath());
}
