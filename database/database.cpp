#include "database/database.h"

#include <QFile>
#include <QSettings>
#include <QSqlError>
#include <QSqlQuery>

#include "core/shared.h"
#include "database/connection.h"
#include "database/librarydamage.h"

namespace {

// Column migrations, in the order they were introduced.  Stored format: a
// new column is appended at the end of this list, never inserted.
struct Migration
{
    const char *table;
    const char *column;
    const char *alter;
    const char *label;
};

const Migration migrations[] = {
    {"tracks", "isAudiobook", "ALTER TABLE tracks ADD isAudiobook bit", "Audiobook"},
    {"tracks", "ReleaseDate", "ALTER TABLE tracks ADD ReleaseDate TEXT NULL", "Release Date"},
    {"tracks", "playlist", "ALTER TABLE tracks ADD playlist TEXT NULL", "playlist"},
    {"albums", "coverdata", "ALTER TABLE albums ADD coverdata TEXT NULL", "CoverData"},
    {"tracks", "isVideo", "ALTER TABLE tracks ADD isVideo bit", "isVideo"},
    {"tracks", "VideoImage", "ALTER TABLE tracks ADD VideoImage TEXT NULL", "VideoImage"},
    {"artists", "MusicBrainzID", "ALTER TABLE artists ADD MusicBrainzID INTEGER NULL", "MusicBrainzID"},
    {"artists", "DiscogsID", "ALTER TABLE artists ADD DiscogsID INTEGER NULL", "DiscogsID"},
    {"albums", "MusicBrainzID", "ALTER TABLE albums ADD MusicBrainzID INTEGER NULL", "MusicBrainzID"},
    {"albums", "DiscogsID", "ALTER TABLE albums ADD DiscogsID INTEGER NULL", "DiscogsID"},
};

const char createGenres[] = "CREATE TABLE IF NOT EXISTS `genres` ("
                            "`id` INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, "
                            "`genre` TEXT NOT NULL)";
const char createArtists[] = "CREATE TABLE IF NOT EXISTS `artists` ("
                             "`id` INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, "
                             "`name` TEXT NOT NULL)";
const char createAlbums[] = "CREATE TABLE IF NOT EXISTS `albums` ("
                            "`id` INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, "
                            "`name` TEXT NOT NULL, "
                            "`artist_id` INTEGER NOT NULL, "
                            "`cover` TEXT, "
                            "`year` INTEGER NOT NULL)";
const char createTracks[] = "CREATE TABLE IF NOT EXISTS `tracks` ("
                            "`id` INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, "
                            "`filename` TEXT NOT NULL, "
                            "`trackname` TEXT NOT NULL, "
                            "`filepath` TEXT NOT NULL, "
                            "`codec` TEXT NOT NULL, "
                            "`filesize` INTEGER NULL, "
                            "`frequency` INTEGER NULL, "
                            "`bitrate` INTEGER NULL, "
                            "`source` INTEGER, "
                            "`tracknumber` INTEGER, "
                            "`duration` INTEGER NULL, "
                            "`artist_id` INTEGER NOT NULL, "
                            "`album_id` INTEGER NOT NULL, "
                            "`genre_id` INTEGER NOT NULL, "
                            "`isPodcast` bit, "
                            "`year_id` INTEGER NOT NULL)";
const char createYears[] = "CREATE TABLE IF NOT EXISTS `years` ("
                           "`id` INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, "
                           "`year` INTEGER NOT NULL)";
const char createPlaylists[] = "CREATE TABLE IF NOT EXISTS `playlists` ("
                               "`id` INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, "
                               "`filename` TEXT NOT NULL, "
                               "`name` TEXT NOT NULL, "
                               "`type` INTEGER NULL)";
const char createPlaylistItems[] = "CREATE TABLE IF NOT EXISTS `playlist_items` ("
                                   "`id` INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, "
                                   "`url` TEXT NOT NULL, "
                                   "`name` TEXT NOT NULL, "
                                   "`playlist_id` INTEGER NOT NULL)";
const char createArtistsRepo[] = "CREATE TABLE IF NOT EXISTS `artistsRepo` ("
                                 "`id` INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, "
                                 "`name` TEXT NOT NULL)";
const char createAlbumsRepo[] = "CREATE TABLE IF NOT EXISTS `albumsRepo` ("
                                "`id` INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, "
                                "`name` TEXT NOT NULL, "
                                "`artist_id` INTEGER NOT NULL, "
                                "`cover` TEXT, "
                                "`year` INTEGER NOT NULL)";
const char *const lookupIndexes[] = {
    "CREATE INDEX IF NOT EXISTS `genres_genre` ON `genres` (`genre`)",
    "CREATE INDEX IF NOT EXISTS `artists_name` ON `artists` (`name` COLLATE NOCASE)",
    "CREATE INDEX IF NOT EXISTS `albums_name` ON `albums` (`name` COLLATE NOCASE)",
    "CREATE INDEX IF NOT EXISTS `years_year` ON `years` (`year`)",
    "CREATE INDEX IF NOT EXISTS `tracks_filepath` ON `tracks` (`filepath`)",
    "CREATE INDEX IF NOT EXISTS `artistsRepo_name` ON `artistsRepo` (`name`)",
    "CREATE INDEX IF NOT EXISTS `albumsRepo_name` ON `albumsRepo` (`name` COLLATE NOCASE)",
    "CREATE INDEX IF NOT EXISTS `TrackRepo_filepath` ON `TrackRepo` (`filepath`, `Playlist`)",
    "CREATE INDEX IF NOT EXISTS `TrackRepo_folder` ON `TrackRepo` (`folderLocation`)",
};

const char createTrackRepo[] = "CREATE TABLE IF NOT EXISTS `TrackRepo` ("
                               "`ID` INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, "
                               "`filename` TEXT NULL, "
                               "`folderLocation` TEXT NULL, "
                               "`trackname` TEXT NULL, "
                               "`filepath` TEXT NULL, "
                               "`codec` TEXT NULL, "
                               "`filesize` INTEGER NULL, "
                               "`frequency` INTEGER NULL, "
                               "`bitrate` INTEGER NULL, "
                               "`source` INTEGER NULL, "
                               "`tracknumber` INTEGER NULL, "
                               "`duration` INTEGER NULL, "
                               "`artist_id` INTEGER NULL, "
                               "`album_id` INTEGER NULL, "
                               "`genre` TEXT NULL, "
                               "`IsPodcast` bit NULL, "
                               "`year` INTEGER NULL, "
                               "`MusicBrainzID` INTEGER NULL, "
                               "`DiscogsID` INTEGER NULL, "
                               "`isAudiobook` bit NULL, "
                               "`releaseDate` TEXT NULL, "
                               "`Playlist` TEXT NULL, "
                               "`MusicSample` TEXT NULL, "
                               "`isVideo` bit NULL, "
                               "`VideoImage` TEXT NULL, "
                               "FOREIGN KEY(artist_id) REFERENCES artistsRepo(ID), "
                               "FOREIGN KEY(album_id) REFERENCES albumsRepo(ID))";
// What each converted or optimised file was made from (see MadeFiles).
const char createMadeFiles[] = "CREATE TABLE IF NOT EXISTS `madeFiles` ("
                               "`path` TEXT PRIMARY KEY NOT NULL, "
                               "`source` TEXT NOT NULL, "
                               "`sourceSize` INTEGER NOT NULL, "
                               "`sourceModified` INTEGER NOT NULL)";
// Files below the library folder not yet owned by a track row (see FileJournal).
const char createUnsettledFiles[] = "CREATE TABLE IF NOT EXISTS `unsettledFiles` ("
                                    "`path` TEXT PRIMARY KEY NOT NULL)";
const char createViewTracks[] =
    "CREATE VIEW `getTracks` AS SELECT "
    "tracks.id AS id, tracks.filename AS filename, tracks.trackname AS trackname, "
    "tracks.filepath AS filepath, tracks.codec AS codec, tracks.filesize AS filesize, "
    "tracks.frequency AS frequency, tracks.bitrate AS bitrate, tracks.source AS source, "
    "tracks.tracknumber AS tracknumber, tracks.duration AS duration, tracks.VideoImage AS VideoImage, "
    "artists.id AS artist_id, artists.name AS artistname, albums.id AS album_id, albums.name AS albumname, "
    "albums.cover AS cover, albums.coverdata AS coverdata, genres.genre AS genre, "
    "tracks.isPodcast AS isPodcast, tracks.isAudiobook AS isAudiobook, tracks.isVideo AS isVideo, "
    "tracks.ReleaseDate AS ReleaseDate, tracks.playlist AS playlist, years.year AS year "
    "FROM tracks "
    "LEFT JOIN artists ON tracks.artist_id = artists.id "
    "LEFT JOIN albums ON tracks.album_id = albums.id "
    "LEFT JOIN genres ON tracks.genre_id = genres.id "
    "LEFT JOIN years ON tracks.year_id = years.id";
const char createViewTracksRepo[] =
    "CREATE VIEW `getTracksRepo` AS SELECT "
    "TrackRepo.ID AS id, TrackRepo.filename AS filename, TrackRepo.trackname AS trackname, "
    "TrackRepo.filepath AS filepath, TrackRepo.codec AS codec, TrackRepo.filesize AS filesize, "
    "TrackRepo.frequency AS frequency, TrackRepo.bitrate AS bitrate, TrackRepo.source AS source, "
    "TrackRepo.tracknumber AS tracknumber, TrackRepo.duration AS duration, "
    "TrackRepo.folderLocation AS folderLocation, TrackRepo.VideoImage AS VideoImage, "
    "artistsRepo.id AS artist_id, artistsRepo.name AS artistname, albumsRepo.id AS album_id, "
    "albumsRepo.name AS albumname, albumsRepo.cover AS cover, TrackRepo.genre AS genre, "
    "TrackRepo.IsPodcast AS isPodcast, TrackRepo.isAudiobook AS isAudiobook, TrackRepo.isVideo AS isVideo, "
    "TrackRepo.releaseDate AS releaseDate, TrackRepo.Playlist AS Playlist, TrackRepo.year AS year "
    "FROM TrackRepo "
    "LEFT JOIN artistsRepo ON TrackRepo.artist_id = artistsRepo.id "
    "LEFT JOIN albumsRepo ON TrackRepo.album_id = albumsRepo.id";

// Runs one schema statement and reports it under its label.
bool step(QSqlQuery &query, const char *sql, const char *label = nullptr)
{
    const bool ok = query.exec(QString::fromLatin1(sql));
    if (label)
        qCDebug(lcDatabase).noquote() << "- Database ->" << label << ok;
    if (!ok)
        qCDebug(lcDatabase).noquote() << "- Database -> Reason:" << query.lastError().text();
    return ok;
}

bool hasColumn(QSqlQuery &query, const char *table, const char *column)
{
    // Identifiers come from the fixed list above, never from input.
    return query.exec(QStringLiteral("SELECT %1 FROM %2 LIMIT 0")
                          .arg(QLatin1String(column), QLatin1String(table)));
}

} // namespace

Database::Database()
    : driver(QStringLiteral("QSQLITE"))
    , dbPath(shared::dataFolder() + QStringLiteral("/ruvo.db"))
    , connectionName(QStringLiteral(""))
{
    shared::ensureDataFolder();
}

Database::~Database() = default;

bool Database::connect(const QString &name, bool createIfMissing)
{
    connectionName = name;
    if (QSqlDatabase::contains(name)) {
        qCDebug(lcDatabase).noquote() << "- Database -> Connection with name" << name << "exists";
        return true;
    }

    const bool isNew = !QFile::exists(dbPath);
    if (isNew && !createIfMissing)
        return false;
    if (isNew) {
        // A note of damage left beside a library that is gone is not this one's.
        QFile::remove(LibraryDamage::notePath(dbPath));
        // A fresh library always starts without a chosen vehicle.
        QSettings settings(QStringLiteral("MyComp"), QStringLiteral("MyApp"));
        settings.beginGroup(QStringLiteral("MainWindows"));
        settings.setValue(QStringLiteral("Model"), 0);
        settings.setValue(QStringLiteral("ModelName"), QStringLiteral("Select"));
        settings.setValue(QStringLiteral("ModelYearValue"), QStringLiteral("Select"));
        settings.setValue(QStringLiteral("ModelYearIndex"), 0);
        settings.endGroup();
    }

    // The default connection is registered once and kept: registering it anew
    // would pull the handle from under every query that holds it.
    const QString defaultName = QString::fromLatin1(QSqlDatabase::defaultConnection);
    if (QSqlDatabase::contains(defaultName)) {
        QSqlDatabase existing = QSqlDatabase::database(defaultName, false);
        if (existing.isValid() && existing.databaseName() == dbPath && existing.isOpen()) {
            sqlDatabase = existing;
            Connection::setLibrary(dbPath, sqlDatabase);
            return true;
        }
        existing = QSqlDatabase();
        sqlDatabase = QSqlDatabase();
        QSqlDatabase::removeDatabase(defaultName);
    }

    sqlDatabase = QSqlDatabase::addDatabase(driver);
    sqlDatabase.setDatabaseName(dbPath);
    Connection::prepare(sqlDatabase);
    if (!sqlDatabase.open()) {
        qCDebug(lcDatabase).noquote() << "- Database -> Failed to establish '" + sqlDatabase.connectionName()
                                             + "' connection to database!";
        qCDebug(lcDatabase).noquote() << "- Database -> Reason: " + sqlDatabase.lastError().text();
        return false;
    }
    Connection::configure(sqlDatabase);
    Connection::setLibrary(dbPath, sqlDatabase);
    return true;
}

void Database::create()
{
    QSqlDatabase db = Connection::resolve(sqlDatabase);
    QSqlQuery query(db);
    qCDebug(lcDatabase) << "- Database -> Initializing database structure";

    step(query, createGenres, "genres");
    step(query, createArtists, "artists");
    step(query, createAlbums, "albums");
    step(query, createTracks, "tracks");
    step(query, createYears, "years");
    step(query, createPlaylists);
    step(query, createPlaylistItems);

    for (const Migration &migration : migrations) {
        if (hasColumn(query, migration.table, migration.column))
            continue;
        const bool ok = query.exec(QString::fromLatin1(migration.alter));
        qCDebug(lcDatabase).noquote() << "- Database -> migration" << migration.label << ok;
    }

    step(query, createMadeFiles, "madeFiles");
    step(query, createUnsettledFiles, "unsettledFiles");
    step(query, createArtistsRepo, "artistsRepo");
    step(query, createAlbumsRepo, "albumsRepo");

    // A staging table that holds rows keeps its layout; an empty one is
    // rebuilt so it always has the current layout.
    bool repoHasRows = false;
    if (query.exec(QStringLiteral("SELECT 1 FROM TrackRepo LIMIT 1")))
        repoHasRows = query.next();
    query.finish();
    if (!repoHasRows)
        step(query, "DROP TABLE IF EXISTS TrackRepo", "Drop TrackRepo");
    step(query, createTrackRepo, "TrackRepo");

    // Look-up indexes: every write and staging step finds rows by name or
    // path, and without them a large import slows down with every record.
    for (const char *const index : lookupIndexes)
        step(query, index, "index");

    step(query, "DROP VIEW IF EXISTS getTracks", "view update");
    step(query, createViewTracks, "getTracks");
    step(query, "DROP VIEW IF EXISTS getTracksRepo", "view update");
    step(query, createViewTracksRepo, "getTracksRepo");

    qCDebug(lcDatabase) << "- Database -> done database structure";
}
