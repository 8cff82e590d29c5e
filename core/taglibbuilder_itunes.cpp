#include "core/taglibbuilder.h"

#include <algorithm>
#include <utility>
#include <vector>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLoggingCategory>
#include <QUrl>
#include <QXmlStreamReader>

#include "core/taglibbuilder_p.h"
#include "core/track_data.h"

using namespace TagLibBuilderInternal;

namespace {

Q_LOGGING_CATEGORY(lcItunesLibrary, "corvane.itunes")

// The file's kind by suffix, with the scanning module's own checks: audio is
// always accepted, video only while the chosen car system plays it.
enum class ItunesFileKind { Unsupported, Audio, Video };

ItunesFileKind itunesFileKind(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix();
    if (track_data::checkAudioFile(suffix))
        return ItunesFileKind::Audio;
    if (track_data::checkVideoFile(suffix))
        return ItunesFileKind::Video;
    return ItunesFileKind::Unsupported;
}

// A "Location" value is a file URL: "file://localhost/…" from iTunes itself,
// "file:///…" from other writers, with UTF-8 percent escapes.  Anything else
// (another host, another scheme) names nothing on this machine: empty.
QString itunesLocationPath(const QString &location)
{
    const QUrl url(location, QUrl::TolerantMode);
    if (!url.isValid() || url.scheme().compare(QLatin1String("file"), Qt::CaseInsensitive) != 0)
        return QString();
    const QString host = url.host();
    if (!host.isEmpty() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0)
        return QString();
    return url.path(QUrl::FullyDecoded);
}

// "2010-01-01T08:00:00Z" -> "01/01/2010": the first 19 characters must be
// "yyyy-MM-ddThh:mm:ss"; the zone designator after them is not applied.  Text
// that doesn't fit gives an empty date ("Unknown" after finalising).  Read in
// pieces: QDateTime::fromString with a format costs tens of microseconds a
// call, which dominated reading a library of tens of thousands of tracks.
QString itunesReleaseDate(const QString &text)
{
    const QStringView head = QStringView(text).left(19);
    if (head.size() != 19 || head.at(10) != QLatin1Char('T'))
        return QString();
    const QDate day = QDate::fromString(head.left(10), Qt::ISODate);
    const QTime time = QTime::fromString(head.mid(11), Qt::ISODate);
    if (!day.isValid() || !time.isValid())
        return QString();
    return day.toString(QStringLiteral("MM/dd/yyyy"));
}

// The keys of a playlist dictionary that tell iTunes' own playlists apart.
struct ItunesPlaylistMarks
{
    bool master = false;
    int distinguishedKind = 0;
    QStringList flags; // the keys among the flags below whose value is true

    void take(const QString &key, const QString &value)
    {
        static const QStringList flagKeys = {QStringLiteral("Music"),      QStringLiteral("Movies"),
                                             QStringLiteral("Podcasts"),   QStringLiteral("Audiobooks"),
                                             QStringLiteral("TV Shows"),   QStringLiteral("Purchased Music")};
        if (key == QLatin1String("Master"))
            master = value == QLatin1String("true");
        else if (key == QLatin1String("Distinguished Kind"))
            distinguishedKind = value.toInt();
        else if (value == QLatin1String("true") && flagKeys.contains(key))
            flags.append(key);
    }

    iTunedata::Role role() const
    {
        using Role = iTunedata::Role;
        const auto is = [this](const char *flag, int kind) {
            return flags.contains(QLatin1String(flag)) || distinguishedKind == kind;
        };
        if (master)
            return Role::Library;
        if (is("Music", 4))
            return Role::Music;
        if (is("Movies", 2))
            return Role::Movies;
        if (is("Podcasts", 10))
            return Role::Podcasts;
        if (is("Audiobooks", 5))
            return Role::Books;
        if (is("Purchased Music", 19))
            return Role::Purchased;
        if (distinguishedKind != 0 || !flags.isEmpty())
            return Role::OtherOwn;
        return Role::User;
    }
};

void applyItunesTrackKey(track &record, QStringView key, const QString &value)
{
    if (key == QLatin1String("Track ID")) {
        record.id = value.toInt();
    } else if (key == QLatin1String("Name")) {
        record.trackname = value;
        record.filename = value;
    } else if (key == QLatin1String("Artist")) {
        record.artistName = value;
    } else if (key == QLatin1String("Album")) {
        record.albumName = value.trimmed();
    } else if (key == QLatin1String("Genre")) {
        record.genre = value;
    } else if (key == QLatin1String("Kind")) {
        record.codec = value;
    } else if (key == QLatin1String("Size")) {
        record.filesize = value.toLongLong();
    } else if (key == QLatin1String("Total Time")) {
        record.duration = value.toDouble() / 1000.0;
    } else if (key == QLatin1String("Track Number")) {
        record.tracknumber = value.toInt();
    } else if (key == QLatin1String("Year")) {
        record.year = value.toInt();
    } else if (key == QLatin1String("Bit Rate")) {
        record.bitrate = value.toInt();
    } else if (key == QLatin1String("Sample Rate")) {
        record.frequency = value.toLongLong();
    } else if (key == QLatin1String("Location")) {
        record.filepath = itunesLocationPath(value);
    } else if (key == QLatin1String("Release Date")) {
        if (value.size() >= 19)
            record.ReleaseDate = itunesReleaseDate(value);
    }
}

void setIfEmpty(QString &field, const QString &fallback)
{
    if (field.isEmpty())
        field = fallback;
}

// Completes the collected record and keeps it in `table` under its Track ID
// (a later record with the same id replaces the earlier one) when its file
// exists and is playable; returns the file then, else "".  A playable file
// that is not there goes on `missing`.  The record is cleared either way.
QString finaliseItunesTrack(track &record, QHash<int, track> &table, QStringList *missing)
{
    record.isPodcast = false;
    record.source = 1;
    record.isHidden = false;
    if (record.albumName.trimmed().isEmpty())
        record.albumName = QStringLiteral("Unknown Album");
    setIfEmpty(record.artistName, QStringLiteral("Unknown Artist"));
    setIfEmpty(record.codec, QStringLiteral("Unknown Codec"));
    setIfEmpty(record.trackname, QStringLiteral("Unknown Song"));
    setIfEmpty(record.filepath, QStringLiteral("Unknown Path"));
    setIfEmpty(record.genre, QStringLiteral("Unknown Genre"));
    setIfEmpty(record.ReleaseDate, QStringLiteral("Unknown"));
    setIfEmpty(record.filename, QStringLiteral("Unknown Filename"));

    QString kept;
    const bool located = record.filepath != QLatin1String("Unknown Path");
    const ItunesFileKind kind = located ? itunesFileKind(record.filepath) : ItunesFileKind::Unsupported;
    const bool present = located && QFileInfo(record.filepath).isFile();
    if (located && missing && kind != ItunesFileKind::Unsupported && !present)
        missing->append(record.filepath);
    if (present) {
        switch (kind) {
        case ItunesFileKind::Audio:
            record.isVideo = false;
            kept = record.filepath;
            table.insert(record.id, std::move(record));
            break;
        case ItunesFileKind::Video:
            record.isVideo = true;
            kept = record.filepath;
            table.insert(record.id, std::move(record));
            break;
        case ItunesFileKind::Unsupported:
            break;
        }
    }
    record = track();
    return kept;
}

// The playlist's kept tracks in ascending Track ID order, each once.
iTunedata closeItunesPlaylist(const QString &name, const ItunesPlaylistMarks &marks, const QSet<int> &pendingIds,
                              const QHash<int, track> &table)
{
    std::vector<int> ids(pendingIds.cbegin(), pendingIds.cend());
    std::sort(ids.begin(), ids.end());
    iTunedata playlist;
    playlist.name = name;
    playlist.role = marks.role();
    playlist.tracks.reserve(static_cast<qsizetype>(ids.size()));
    for (const int id : ids) {
        const auto it = table.constFind(id);
        if (it != table.constEnd())
            playlist.tracks.append(it.value());
    }
    return playlist;
}

// The character at `line` and `column` (as the XML reader counts them, the
// column just past it) of the file, or a null one when it can't be told.
// Only on damage; lines longer than any real one are not read whole.
QChar characterAt(QFile &file, qint64 line, qint64 column)
{
    constexpr qint64 longestLine = 1024 * 1024;
    if (line < 1 || column < 1 || !file.seek(0))
        return QChar();
    QByteArray text;
    for (qint64 at = 1; at <= line; ++at) {
        text = file.readLine(longestLine);
        if (text.isEmpty() || (!text.endsWith('\n') && !file.atEnd()))
            return QChar();
    }
    const QString decoded = QString::fromUtf8(text);
    return column - 1 < decoded.size() ? decoded.at(column - 1) : QChar();
}

} // namespace

QList<iTunedata> TagLibBuilder::parseiTunePlaylist(const QString &path) const
{
    return parseiTunePlaylist(path, {});
}

QList<iTunedata>
TagLibBuilder::parseiTunePlaylist(const QString &path,
                                  const std::function<void(int tracksRead, const QString &file)> &tracksRead,
                                  QStringList *missingFiles, QString *problem) const
{
    QList<iTunedata> result;
    if (problem)
        problem->clear();

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCDebug(lcItunesLibrary) << "Load XML File Problem.";
        if (problem)
            *problem = QStringLiteral("the iTunes library file cannot be read (%1)").arg(file.errorString());
        return result;
    }

    ItunesXml itunes(&file, itunesTextLimit, itunesDataLimit, itunesDepthLimit);
    QXmlStreamReader &xml = itunes.xml();
    QHash<int, track> table;  // kept tracks by their full Track ID
    track record;
    int tracksKept = 0;
    bool inTracks = false;
    bool inPlaylists = false;
    // Where the reader is, by the dict and array elements open around it:
    // the playlists are the dictionaries right inside the "Playlists" array,
    // their items the dictionaries right inside their "Playlist Items" array.
    int depth = 0;
    int playlistsDepth = -1; // of the "Playlists" array
    int itemsDepth = -1;     // of the open playlist's "Playlist Items" array
    bool playlistOpen = false;
    // The playlist being read.  Each starts from nothing, so that a damaged
    // one (a value of the wrong type, items outside their array) can't hand
    // its songs or its name to the next.
    QString playlistName;
    QSet<int> pendingIds;
    ItunesPlaylistMarks marks;

    while (!xml.atEnd() && !xml.hasError()) {
        xml.readNext();
        bool playlistsFollow = false; // the container starting now is the one the key named
        bool itemsFollow = false;
        if (xml.isStartElement() && xml.name() == QLatin1String("key")) {
            const QString key = xml.readElementText();
            const QString value = itunesValueText(xml);
            // A number, text or date (not a container or a flag in its place).
            const bool isText =
                xml.isEndElement() && (xml.name() == QLatin1String("integer") ||
                                       xml.name() == QLatin1String("string") || xml.name() == QLatin1String("date"));
            if (key == QLatin1String("Playlists") && depth == 1 && !inPlaylists) {
                inPlaylists = true;
                playlistsFollow = true;
            } else if (inPlaylists) {
                if (playlistOpen && depth == playlistsDepth + 1) {
                    if (key == QLatin1String("Name")) {
                        if (isText)
                            playlistName = value;
                    } else if (key == QLatin1String("Playlist Items")) {
                        itemsFollow = true;
                    } else {
                        marks.take(key, value);
                    }
                } else if (playlistOpen && itemsDepth >= 0 && depth == itemsDepth + 1 &&
                           key == QLatin1String("Track ID") && isText) {
                    bool isNumber = false;
                    const int id = value.toInt(&isNumber);
                    if (isNumber)
                        pendingIds.insert(id);
                }
            } else if (key == QLatin1String("Tracks")) {
                if (value == QLatin1String("-2"))
                    inTracks = true;
            } else if (inTracks) {
                applyItunesTrackKey(record, key, value);
            }
        }
        if (xml.hasError())
            break;

        const bool isTag = xml.isStartElement() || xml.isEndElement();
        // Each track is one dictionary: at its opening tag the record is still
        // empty and nothing is kept, at its closing tag the record is complete.
        if (isTag && inTracks && !inPlaylists && xml.name() == QLatin1String("dict")) {
            const QString kept = finaliseItunesTrack(record, table, missingFiles);
            if (!kept.isEmpty() && tracksRead)
                tracksRead(++tracksKept, kept);
        }

        const bool isContainer = xml.name() == QLatin1String("dict") || xml.name() == QLatin1String("array");
        if (xml.isStartElement() && isContainer) {
            ++depth;
            const bool isArray = xml.name() == QLatin1String("array");
            if (playlistsFollow && isArray) {
                playlistsDepth = depth;
            } else if (itemsFollow && isArray) {
                itemsDepth = depth;
            } else if (playlistsDepth >= 0 && depth == playlistsDepth + 1 && !isArray) {
                playlistOpen = true;
                playlistName.clear();
                pendingIds.clear();
                marks = ItunesPlaylistMarks();
                itemsDepth = -1;
            }
        } else if (xml.isEndElement() && isContainer) {
            if (playlistOpen && depth == playlistsDepth + 1) {
                // A playlist that names no Track ID yields nothing.
                if (!pendingIds.isEmpty())
                    result.append(closeItunesPlaylist(playlistName, marks, pendingIds, table));
                playlistOpen = false;
                pendingIds.clear();
            }
            if (depth == itemsDepth)
                itemsDepth = -1;
            if (depth == playlistsDepth)
                playlistsDepth = -1;
            --depth;
        }
    }
    if (xml.hasError()) {
        qCDebug(lcItunesLibrary) << "iTunes library file damaged at line" << xml.lineNumber() << ':'
                                 << xml.errorString();
        // What was read before the damage stands: the playlist it cut
        // short keeps the items that came before it.
        if (playlistOpen && !pendingIds.isEmpty())
            result.append(closeItunesPlaylist(playlistName, marks, pendingIds, table));
    }
    itunes.logLeftOut(path);
    if (problem) {
        const bool unnamed = xml.error() == QXmlStreamReader::NotWellFormedError &&
                             xml.errorString() == QLatin1String("Unexpected ''.");
        *problem = itunes.damage(unnamed ? characterAt(file, xml.lineNumber(), xml.columnNumber()) : QChar());
    }
    return result;
}
