#include "database/ruvodb.h"

#include <set>

#include <QFileInfo>
#include <QSqlQuery>

#include "database/connection.h"

namespace {

bool containsUnknown(const QString &text)
{
    return text.contains(QLatin1String("unknown"), Qt::CaseInsensitive);
}

// The first name in the profile's order without "unknown", or an empty text.
QString firstKnown(const QList<QString> &names)
{
    for (const QString &name : names) {
        if (!containsUnknown(name))
            return name;
    }
    return QString();
}

// Every staged row of one folder, in the database's order.
QList<ruvoDB::StagedFolder::Row> stagedRows(QSqlQuery &query, const QString &folderLocation, std::set<qint64> *bitrates)
{
    QList<ruvoDB::StagedFolder::Row> rows;
    query.prepare(QStringLiteral("SELECT albumname, artistname, trackname, genre, playlist, year, duration, "
                                 "tracknumber, bitrate FROM getTracksRepo WHERE folderLocation = ?"));
    query.addBindValue(folderLocation);
    if (!runQuery(query))
        return rows;
    while (query.next()) {
        ruvoDB::StagedFolder::Row row;
        row.album = query.value(0).toString();
        row.artist = query.value(1).toString();
        row.title = query.value(2).toString();
        row.genre = query.value(3).toString();
        row.playlist = query.value(4).toString();
        row.year = query.value(5).toLongLong();
        row.duration = query.value(6).toLongLong();
        row.tracknumber = query.value(7).toLongLong();
        if (bitrates)
            bitrates->insert(query.value(8).toLongLong());
        rows.append(std::move(row));
    }
    query.finish();
    return rows;
}

} // namespace

ruvoDB::StagedFolder ruvoDB::stagedFolder(const QString &folderLocation)
{
    StagedFolder folder;
    folder.folderLocation = folderLocation;
    QSqlQuery query(Connection::forThread());
    query.setForwardOnly(true);

    // The profile is taken from the folder's rows as named; the matching walk
    // from those of the trimmed name (the same rows but for a name with
    // white space at either end).
    std::set<QString> albumNames, artistNames, genreNames;
    std::set<qint64> years, bitrates;
    const QList<StagedFolder::Row> profiled = stagedRows(query, folderLocation, &bitrates);
    for (const StagedFolder::Row &row : profiled) {
        albumNames.insert(row.album);
        artistNames.insert(row.artist);
        genreNames.insert(row.genre);
        years.insert(row.year);
    }
    folder.albumNames = QList<QString>(albumNames.cbegin(), albumNames.cend());
    folder.artistNames = QList<QString>(artistNames.cbegin(), artistNames.cend());
    folder.genreNames = QList<QString>(genreNames.cbegin(), genreNames.cend());
    folder.years = int(years.size());
    folder.bitrates = int(bitrates.size());

    const QString trimmed = folderLocation.trimmed();
    folder.rows = trimmed == folderLocation ? profiled : stagedRows(query, trimmed, nullptr);
    return folder;
}

track ruvoDB::updatelocalDB(track t)
{
    const StagedFolder folder = stagedFolder(t.folderLocation);
    return updatelocalDB(std::move(t), folder);
}

track ruvoDB::updatelocalDB(track t, const StagedFolder &folder)
{
    const bool oneYearAndRate = folder.years == 1 && folder.bitrates == 1;
    if (!t.hasTitle && folder.albumNames.size() == 1 && oneYearAndRate &&
        !t.filename.contains(QLatin1String("track"))) {
        const QFileInfo source(t.sourcePath);
        QString name = source.fileName();
        name.remove(QLatin1Char('.') + source.suffix());
        if (containsUnknown(t.trackname) && !containsUnknown(name)
            && !name.contains(QLatin1String("track"), Qt::CaseInsensitive) && !name.isEmpty()) {
            t.trackname = name;
            t.hasTitle = true;
        }
    }
    if (!t.hasAlbum && folder.genreNames.size() == 1 && oneYearAndRate) {
        const QString album = firstKnown(folder.albumNames);
        if (!album.isEmpty()) {
            t.albumName = album;
            t.hasAlbum = true;
        }
    }
    if (!t.hasArtist && folder.genreNames.size() == 1 && oneYearAndRate && folder.albumNames.size() == 1) {
        const QString artist = firstKnown(folder.artistNames);
        if (!artist.isEmpty() && !folder.albumNames.first().contains(QLatin1String("Compilation"))) {
            t.artistName = artist;
            t.hasArtist = true;
        }
    }

    // Rows that look like the same recording lend what they know.
    for (const StagedFolder::Row &row : folder.rows) {
        const bool sameTitle = row.title == t.trackname;
        const bool matches =
            (row.duration != 0 && double(row.duration) == t.duration && sameTitle) ||
            (row.tracknumber != 0 && row.tracknumber == t.tracknumber && row.year == t.year && sameTitle) ||
            (row.title.size() >= 2 && t.trackname.contains(row.title, Qt::CaseInsensitive)) ||
            (!containsUnknown(t.albumName) && row.album.compare(t.albumName, Qt::CaseInsensitive) == 0 &&
             row.tracknumber == t.tracknumber && sameTitle);
        if (matches)
            setValueTrack(t, row.album, row.artist, row.title, row.genre, row.year, row.duration, row.tracknumber,
                          row.playlist);
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
