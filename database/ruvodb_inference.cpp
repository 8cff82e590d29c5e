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
