#include "database/ruvodb.h"

#include <memory>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include "core/logging.h"
#include "core/mediaquality.h"
#include "core/shared.h"
#include "database/connection.h"
#include "database/librarydamage.h"
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

namespace {

// Text read as the UTF-8 bytes the library stores (SQLite's default
// encoding, which the program never changes) through CAST AS BLOB and
// decoded here: SQLite's own conversion to UTF-16, one character at a time,
// was a large share of a load.  A null value stays a null text, an empty one
// an empty text.
QString decoded(const QVariant &value)
{
    if (value.isNull())
        return QString();
    const QByteArray bytes = value.toByteArray();
    return bytes.isEmpty() ? QStringLiteral("") : QString::fromUtf8(bytes);
}

// One copy of each repeated text (codecs, dates, playlist names, pictures),
// shared by the tracks that carry it.
class SharedTexts
{
public:
    QString of(const QVariant &value)
    {
        if (value.isNull())
            return QString();
        const QByteArray bytes = value.toByteArray();
        auto known = texts.constFind(bytes);
        if (known == texts.cend())
            known = texts.insert(bytes, decoded(value));
        return known.value();
    }

private:
    QHash<QByteArray, QString> texts;
};

// A name table (id -> value) read whole; `used` collects the ids the tracks
// refer to, so the load knows whether the orphan clean-up has work.
template <typename Value> struct NameTable
{
    QHash<int, Value> rows;
    QSet<int> used;

    template <typename Convert> bool read(QSqlQuery &query, const QString &sql, Convert convert)
    {
        if (!runQuery(query, sql))
            return false;
        while (query.next())
            rows.insert(query.value(0).toInt(), convert(query));
        // A page that can't be read ends the rows early, as their end would.
        return !query.lastError().isValid();
    }
    // The row of `id`, as the LEFT JOIN of the tracks view finds it.
    const Value *find(const QVariant &id)
    {
        if (id.isNull())
            return nullptr;
        const int key = id.toInt();
        used.insert(key);
        const auto found = rows.constFind(key);
        return found == rows.cend() ? nullptr : &found.value();
    }
    bool hasUnused() const
    {
        for (auto it = rows.cbegin(); it != rows.cend(); ++it) {
            if (!used.contains(it.key()))
                return true;
        }
        return false;
    }
};

QString textColumn(const QSqlQuery &query)
{
    return decoded(query.value(1));
}

} // namespace

ruvoDB::LibraryRows ruvoDB::readRows(QSqlDatabase db)
{
    LibraryRows rows;
    TrackMap &library = rows.tracks;

    // The names a track refers to, each table read once: the tracks view
    // joins them into every row, which costs a look-up and a conversion of
    // the same text per track.  A missing row reads as the join's null.
    QSqlQuery query(db);
    query.setForwardOnly(true);
    NameTable<QString> artists, genres;
    NameTable<std::pair<QString, QString>> albums; // name, cover
    NameTable<int> years;
    const bool namesRead =
        artists.read(query, QStringLiteral("SELECT id, CAST(name AS BLOB) FROM artists"), textColumn) &&
        albums.read(query, QStringLiteral("SELECT id, CAST(name AS BLOB), CAST(cover AS BLOB) FROM albums"),
                    [](const QSqlQuery &q) { return std::pair(decoded(q.value(1)), decoded(q.value(2))); }) &&
        genres.read(query, QStringLiteral("SELECT id, CAST(genre AS BLOB) FROM genres"), textColumn) &&
        years.read(query, QStringLiteral("SELECT id, year FROM years"),
                   [](const QSqlQuery &q) { return q.value(1).toInt(); });

    SharedTexts texts;
    bool nullReference = false; // a track without a name id: NOT IN then deletes nothing
    // clang-format off
    enum Column {
        Id, Filename, Trackname, Filepath, Codec, Filesize, Frequency, Bitrate, Source, Tracknumber, Duration,
        ArtistId, AlbumId, GenreId, YearId, IsAudiobook, IsVideo, IsPodcast, ReleaseDate, Playlist, VideoImage
    };
    // clang-format on
    if (namesRead &&
        runQuery(query,
                 QStringLiteral("SELECT id, CAST(filename AS BLOB), CAST(trackname AS BLOB), CAST(filepath AS BLOB), "
                                "CAST(codec AS BLOB), filesize, frequency, bitrate, source, tracknumber, duration, "
                                "artist_id, album_id, genre_id, year_id, isAudiobook, isVideo, isPodcast, "
                                "CAST(ReleaseDate AS BLOB), CAST(playlist AS BLOB), CAST(VideoImage AS BLOB) "
                                "FROM tracks"))) {
        rows.read = true;
        while (query.next()) {
            track t;
            t.id = query.value(Id).toInt();
            t.filename = decoded(query.value(Filename));
            t.trackname = decoded(query.value(Trackname));
            t.filepath = decoded(query.value(Filepath));
            t.codec = texts.of(query.value(Codec));
            t.filesize = query.value(Filesize).toLongLong();
            t.frequency = query.value(Frequency).toLongLong();
            t.frequencyShort = int(t.frequency);
            t.bitrate = query.value(Bitrate).toInt();
            t.source = query.value(Source).toInt();
            t.tracknumber = query.value(Tracknumber).toInt();
            t.duration = query.value(Duration).toDouble();
            const QVariant artistId = query.value(ArtistId);
            const QVariant albumId = query.value(AlbumId);
            const QVariant genreId = query.value(GenreId);
            const QVariant yearId = query.value(YearId);
            nullReference =
                nullReference || artistId.isNull() || albumId.isNull() || genreId.isNull() || yearId.isNull();
            if (const QString *artist = artists.find(artistId)) {
                t.artist_id = artistId.toInt();
                t.artistName = *artist;
            }
            if (const auto *album = albums.find(albumId)) {
                t.album_id = albumId.toInt();
                t.albumName = album->first;
                t.cover = album->second;
            }
            if (const QString *genre = genres.find(genreId))
                t.genre = *genre;
            if (const int *year = years.find(yearId))
                t.year = *year;
            t.isAudiobook = query.value(IsAudiobook).toBool();
            t.isVideo = query.value(IsVideo).toBool();
            t.isPodcast = query.value(IsPodcast).toBool();
            t.ReleaseDate = texts.of(query.value(ReleaseDate));
            t.playlist = texts.of(query.value(Playlist));
            if (t.isVideo)
                t.cover = texts.of(query.value(VideoImage));
            t.playlist_id = t.playlist.isEmpty() ? 0 : t.album_id;
            t.quality = mediaQualityClass(t.bitrate);
            library.insert(library.cend(), t.id, t);
        }
        rows.read = !query.lastError().isValid();
    }
    rows.damaged = LibraryDamage::noteIfDamage(query.lastError());
    query.finish();
    // NOT IN over a list holding a null matches nothing: then the clean-up
    // deletes nothing, as it would find.
    rows.orphans =
        !nullReference && (artists.hasUnused() || albums.hasUnused() || genres.hasUnused() || years.hasUnused());
    return rows;
}

TrackMap ruvoDB::readLibrary(QSqlDatabase database)
{
    Logging::getInstance()->WriteLog(QStringLiteral("Fetching DB Informations"), QString());
    QSqlDatabase db = Connection::resolve(database);
    LibraryRows rows = readRows(db);
    // A damaged file is kept as it is for the next start to set aside.
    if (rows.damaged)
        return std::move(rows.tracks);
    if (!rows.read || rows.orphans || hasOrphanPlaylistItems(db))
        cleanUpDatabase(db);
    createArtwork(db);
    Logging::getInstance()->WriteLog(QStringLiteral("Load Completed"), QString());
    return std::move(rows.tracks);
}

ruvoDB::FileCheck ruvoDB::checkFiles(const TrackMap &tracks, const std::atomic<bool> *stop)
{
    FileCheck check;
    for (const track &t : tracks) {
        if (stop && stop->load(std::memory_order_relaxed)) {
            check.stopped = true;
            return check;
        }
        if (QFileInfo::exists(t.filepath))
            continue;
        // A file gone from a folder that is still there was deleted; a
        // missing folder is more likely an unplugged drive.
        check.leftOut.append({t.id, t.filepath});
        if (QFileInfo(t.filepath).absoluteDir().exists())
            check.deleted.append(t.id);
    }
    return check;
}

bool ruvoDB::forgetTracks(QSqlDatabase database, const QList<int> &ids)
{
    if (ids.isEmpty())
        return true;
    QSqlDatabase db = Connection::resolve(database);
    {
        Transaction transaction(db);
        bool ok = transaction.isActive();
        for (const int id : ids)
            ok = ok && DeleteAudio(db, id);
        if (!ok || !transaction.commit()) {
            qCWarning(lcDatabase) << "- Database -> Rows of missing files not deleted";
            return false;
        }
    }
    cleanUpDatabase(db);
    return true;
}

TrackMap ruvoDB::loadDB(QSqlDatabase database)
{
    Logging::getInstance()->WriteLog(QStringLiteral("Fetching DB Informations"), QString());
    QSqlDatabase db = Connection::resolve(database);
    LibraryRows rows = readRows(db);
    if (rows.damaged)
        return std::move(rows.tracks);
    const FileCheck check = checkFiles(rows.tracks);
    for (const auto &[id, path] : check.leftOut)
        rows.tracks.remove(id);
    forgetTracks(db, check.deleted);
    if (check.deleted.isEmpty() && (!rows.read || rows.orphans || hasOrphanPlaylistItems(db)))
        cleanUpDatabase(db);
    createArtwork(db);
    Logging::getInstance()->WriteLog(QStringLiteral("Load Completed"), QString());
    return std::move(rows.tracks);
}

bool ruvoDB::hasOrphanPlaylistItems(QSqlDatabase db)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    // Unknown (the statement failed) counts as work for the clean-up.
    if (!runQuery(query, QStringLiteral("SELECT EXISTS (SELECT 1 FROM playlist_items WHERE playlist_id NOT IN "
                                        "(SELECT id FROM playlists))")) ||
        !query.next())
        return true;
    return query.value(0).toBool();
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
    // Normally every picture is still there: only the names are read, and
    // the data only of the pictures that are missing.  A picture is only
    // ever written below the data folder: others are not looked at.
    QSqlDatabase db = Connection::resolve(database);
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!runQuery(query, QStringLiteral("SELECT id, cover FROM albums")))
        return true;
    const QString dataFolder = QDir::cleanPath(shared::dataFolder()) + QLatin1Char('/');
    QList<std::pair<int, QString>> missing;
    while (query.next()) {
        const QString cover = query.value(1).toString();
        const QString path = QDir::cleanPath(QDir::fromNativeSeparators(cover));
        if (path.startsWith(dataFolder) && !QFileInfo::exists(path))
            missing.append({query.value(0).toInt(), cover});
    }
    query.finish();
    query.prepare(QStringLiteral("SELECT coverdata FROM albums WHERE id = ? AND coverdata <> ''"));
    for (const auto &[id, cover] : std::as_const(missing)) {
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
