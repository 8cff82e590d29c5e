#include "database/ruvodb.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QThread>
#include <QSqlQuery>

#include <memory>
#include <set>

#include "core/mediaquality.h"
#include "core/logging.h"
#include "core/shared.h"
#include "database/connection.h"
#include "database/transaction.h"

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

namespace {

// Text bound where the column or a duplicate test expects text: an absent
// value is stored as "", never as NULL.
QString boundText(const QString &text)
{
    return text.isNull() ? QStringLiteral("") : text;
}

// The id of the last row a lookup returns; 0 for none, -1 when it fails.
int lastRowId(QSqlQuery &query)
{
    if (!runQuery(query))
        return -1;
    int id = 0;
    while (query.next())
        id = query.value(0).toInt();
    return id;
}

int insertedId(QSqlQuery &query)
{
    if (!runQuery(query))
        return 0;
    return query.lastInsertId().toInt();
}

// Find-or-insert of a one-column row: the id of the last row `match` (the
// WHERE clause for one bound value) finds, else of a new row with `value`;
// 0 when neither works.
int findOrInsert(QSqlQuery &query, const QString &table, const QString &column, const QString &match,
                 const QVariant &value)
{
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT id FROM %1 WHERE %2").arg(table, match));
    query.addBindValue(value);
    const int id = lastRowId(query);
    if (id != 0)
        return qMax(id, 0);
    query.prepare(QStringLiteral("INSERT INTO %1(%2) VALUES (?)").arg(table, column));
    query.addBindValue(value);
    return insertedId(query);
}

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


// ---- Local tag inference --------------------------------------------------

namespace {

bool containsUnknown(const QString &text)
{
    return text.contains(QLatin1String("unknown"), Qt::CaseInsensitive);
}

// The first name in the set's order without "unknown", or an empty text.
QString firstKnown(const std::set<QString> &names)
{
    for (const QString &name : names) {
        if (!containsUnknown(name))
            return name;
    }
    return QString();
}

} // namespace

track ruvoDB::updatelocalDB(track t)
{
    QSqlDatabase db = Connection::forThread();

    // The folder profile: distinct values in ascending ordinal order.
    std::set<QString> albumNames, artistNames, genreNames;
    std::set<qint64> years, bitrates;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT * FROM getTracksRepo WHERE folderLocation = ?"));
    query.addBindValue(t.folderLocation);
    if (runQuery(query)) {
        while (query.next()) {
            albumNames.insert(query.value(QStringLiteral("albumname")).toString());
            artistNames.insert(query.value(QStringLiteral("artistname")).toString());
            genreNames.insert(query.value(QStringLiteral("genre")).toString());
            years.insert(query.value(QStringLiteral("year")).toLongLong());
            bitrates.insert(query.value(QStringLiteral("bitrate")).toLongLong());
        }
    }
    query.finish();

    const bool oneYearAndRate = years.size() == 1 && bitrates.size() == 1;
    if (!t.hasTitle && albumNames.size() == 1 && oneYearAndRate && !t.filename.contains(QLatin1String("track"))) {
        const QFileInfo source(t.sourcePath);
        QString name = source.fileName();
        name.remove(QLatin1Char('.') + source.suffix());
        if (containsUnknown(t.trackname) && !containsUnknown(name)
            && !name.contains(QLatin1String("track"), Qt::CaseInsensitive) && !name.isEmpty()) {
            t.trackname = name;
            t.hasTitle = true;
        }
    }
    if (!t.hasAlbum && genreNames.size() == 1 && oneYearAndRate) {
        const QString album = firstKnown(albumNames);
        if (!album.isEmpty()) {
            t.albumName = album;
            t.hasAlbum = true;
        }
    }
    if (!t.hasArtist && genreNames.size() == 1 && oneYearAndRate && albumNames.size() == 1) {
        const QString artist = firstKnown(artistNames);
        if (!artist.isEmpty() && !albumNames.begin()->contains(QLatin1String("Compilation"))) {
            t.artistName = artist;
            t.hasArtist = true;
        }
    }

    // Rows that look like the same recording lend what they know.
    query.prepare(QStringLiteral("SELECT * FROM getTracksRepo WHERE folderLocation = ?"));
    query.addBindValue(t.folderLocation.trimmed());
    if (!runQuery(query))
        return t;
    while (query.next()) {
        const QString album = query.value(QStringLiteral("albumname")).toString();
        const QString artist = query.value(QStringLiteral("artistname")).toString();
        const QString title = query.value(QStringLiteral("trackname")).toString();
        const QString genre = query.value(QStringLiteral("genre")).toString();
        const QString playlist = query.value(QStringLiteral("playlist")).toString();
        const qint64 year = query.value(QStringLiteral("year")).toLongLong();
        const qint64 duration = query.value(QStringLiteral("duration")).toLongLong();
        const qint64 number = query.value(QStringLiteral("tracknumber")).toLongLong();

        const bool sameTitle = title == t.trackname;
        const bool matches =
            (duration != 0 && double(duration) == t.duration && sameTitle)
            || (number != 0 && number == t.tracknumber && year == t.year && sameTitle)
            || (title.size() >= 2 && t.trackname.contains(title, Qt::CaseInsensitive))
            || (!containsUnknown(t.albumName) && album.compare(t.albumName, Qt::CaseInsensitive) == 0
                && number == t.tracknumber && sameTitle);
        if (matches)
            setValueTrack(t, album, artist, title, genre, year, duration, number, playlist);
        if (t.hasArtist && t.hasTitle && t.hasAlbum)
            break;
    }
    return t;
}

void ruvoDB::setValueTrack(track &t, QString album, QString artist, QString title, QString genre, long long year,
                           long long duration, long long tracknumber, QString playlist)
{
    Q_UNUSED(year)
    Q_UNUSED(duration)
    // An empty value is no value: lending it would mark the track complete
    // and the empty name would be written into the library and the file.
    if (!album.isEmpty() && !containsUnknown(album) && !t.hasAlbum && playlist.isEmpty()) {
        t.albumName = album;
        t.hasAlbum = true;
    }
    if (!artist.isEmpty() && !containsUnknown(artist) && !t.hasArtist) {
        t.artistName = artist;
        t.hasArtist = true;
    }
    if (!title.isEmpty() && !containsUnknown(title) && !title.contains(QLatin1String("track"), Qt::CaseInsensitive)
        && !t.hasTitle) {
        t.trackname = title;
        t.hasTitle = true;
    }
    if (!genre.isEmpty() && !containsUnknown(genre) && containsUnknown(t.genre))
        t.genre = genre;
    if (tracknumber != 0 && t.tracknumber == 0)
        t.tracknumber = int(tracknumber);
}

// ---- Lookup results -------------------------------------------------------

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
