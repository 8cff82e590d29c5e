#include "core/shared.h"

#include <QDir>
#include <QEventLoop>
#include <QTimer>
#include <QRegularExpression>
#include <QStandardPaths>

#include "core/track_data.h"

namespace {
const QString dataFolderName = QStringLiteral("/Corvane-Media-Organiser");
}

shared::shared()
    : artworkPath(dataFolderName + QStringLiteral("/Artwork"))
    , videoArtworkPath(dataFolderName + QStringLiteral("/Artwork/Video"))
    , downloadArtworkPath(dataFolderName + QStringLiteral("/Artwork/Download"))
    , noArtworkUrl(QStringLiteral("qrc:///resources/photos/no_artwork.png"))
    , appDataPath(dataFolder())
    , discogsSearchUrl(QStringLiteral("https://api.discogs.com/database/search?page=1&type=release&q="))
{
    setUnknownTags();
}

QString shared::dataLocation()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

QString shared::dataFolder()
{
    return dataLocation() + dataFolderName;
}

bool shared::ensureDataFolder()
{
    return QDir().mkpath(dataFolder());
}

void shared::setUnknownTags()
{
    unknownText = QStringLiteral("Unknown");
    unknownAlbum = QStringLiteral("Unknown Album");
    unknownArtist = QStringLiteral("Unknown Artist");
    unknownCodec = QStringLiteral("Unknown Codec");
    unknownComment = QStringLiteral("Unknown Comment");
    unknownFilename = QStringLiteral("Unknown Filename");
    unknownGenre = QStringLiteral("Unknown Genre");
    unknownPath = QStringLiteral("Unknown Path");
    unknownSong = QStringLiteral("Unknown Song");
}

QString shared::formatSplChar(QString text)
{
    // Characters that are unsafe or awkward in file names on the car's file
    // systems.  The backslash, hyphen, comma and brackets other than round
    // ones are deliberately kept: stored picture names depend on this set.
    static const QString removed = QStringLiteral("!/:*?<>|'+.()_&$%^#@~\"");
    QString cleaned;
    cleaned.reserve(text.size());
    for (const QChar c : std::as_const(text)) {
        if (!removed.contains(c))
            cleaned.append(c);
    }
    return cleaned.trimmed();
}

double shared::convertToSec(const QString &text) const
{
    const QStringList pieces = text.split(QLatin1Char(':'));
    if (pieces.size() < 3)
        return 0;
    // In double throughout: hours * 3600 overflows an int past 596 523 hours.
    const double hours = pieces.at(0).trimmed().toLongLong();
    const double minutes = pieces.at(1).trimmed().toLongLong();
    const double seconds = pieces.at(2).trimmed().toDouble();
    return hours * 3600 + minutes * 60 + seconds;
}

int shared::getTrackNo(const QString &name) const
{
    static const QRegularExpression digits(QStringLiteral("(\\d+)"));
    const QRegularExpressionMatch match = digits.match(name);
    if (!match.hasMatch() || match.capturedStart() != 0)
        return 0;
    const QStringList pieces = name.split(QLatin1Char(' '));
    if (pieces.size() < 2)
        return 0;
    const QString first = pieces.first();
    if (!is_number(first.toLocal8Bit().toStdString()))
        return 0;
    bool ok = false;
    const int number = first.toInt(&ok);
    return ok && number <= 50 ? number : 0;
}

QString shared::coverpath(const QString &album) const
{
    return dataLocation() + artworkPath + QLatin1Char('/') + formatSplChar(album)
           + QStringLiteral(".png");
}

QString shared::getApiNameByValue(signed char code) const
{
    switch (code) {
    case 1: return QStringLiteral("LOCAL");
    case 2: return QStringLiteral("MUSICBRAINZ");
    case 3: return QStringLiteral("DISCOGS");
    case 4: return QStringLiteral("FINGUREPRINT");
    default: return QString();
    }
}

track shared::initializeTrackObject(const track &record) const
{
    track reset;
    reset.releaseCoverUrl = record.releaseCoverUrl;
    return reset;
}

// ---- Mixed-album folders and folder pictures ------------------------------

#include <QFileInfo>
#include <QHash>
#include <QSet>

#include "core/noclobberwriter.h"

QMap<QString, QMap<int, int>> shared::mixed_folder_albums_map;

void shared::clearMixedAlbumsFolderMap()
{
    mixed_folder_albums_map.clear();
}

void shared::updateMixedAlbumsFolder(const QString &folder, int albumKey)
{
    ++mixed_folder_albums_map[folder][albumKey];
}

bool shared::checkMixedAlbumsFolderByKey(const QString &folder, int flag) const
{
    const auto found = mixed_folder_albums_map.constFind(folder);
    if (found == mixed_folder_albums_map.constEnd() || found->isEmpty())
        return false;
    if (found->size() > 1)
        return true;
    if (flag != 0)
        return false;
    return found->first() != getFolderFileCount(folder);
}

int shared::getFolderFileCount(const QString &folder) const
{
    // The suffixes of the audio filter; QDir matches name filters in any case.
    static const QStringList audioPatterns = [] {
        QStringList patterns;
        for (const QString &suffix : track_data::audioFilter)
            patterns.append(QStringLiteral("*.") + suffix);
        return patterns;
    }();
    if (folder.isEmpty())
        return 0;
    return int(QDir(folder).entryList(audioPatterns, QDir::Files, QDir::Unsorted).size());
}

QString shared::folderPicture(const QString &folder)
{
    if (folder.isEmpty())
        return QString();
    const QDir dir(folder);
    // One listing for both names.  "Folder.jpg" is the usual spelling and
    // wins over a PNG; the exact lower-case name wins when a case-sensitive
    // file system holds several spellings.
    const QStringList found = dir.entryList({QStringLiteral("folder.jpg"), QStringLiteral("folder.png")},
                                            QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString &name : {QStringLiteral("folder.jpg"), QStringLiteral("folder.png")}) {
        if (found.contains(name))
            return dir.filePath(name);
        for (const QString &file : found) {
            if (file.compare(name, Qt::CaseInsensitive) == 0)
                return dir.filePath(file);
        }
    }
    return QString();
}

QString shared::checkAndUpdateFolderCoverArt(const QString &folder, const QString &dest) const
{
    const QString target = dest + QStringLiteral(".png");
    if (!QFileInfo::exists(target)) {
        const QString source = folderPicture(folder);
        // Copied unchanged: a JPEG keeps its content under the ".png" name.
        if (!source.isEmpty())
            NoClobberWriter::copyNew(source, target);
    }
    return QFileInfo::exists(target) ? target : QString();
}

TrackMap shared::updateFolderCoverArt(TrackMap tracks, int flag) const
{
    // Whether a folder is mixed, and which picture it holds, depend only on
    // the folder: decide each once per folder, not once per track (both list
    // the folder).
    QHash<QString, bool> mixedFolders;
    QHash<QString, QString> pictures; // folder -> its folder picture, "" for none
    // An album's picture file, and those known to be there: an album's
    // tracks ask for the same file, and one that is there stays.
    const QString artworkFolder = dataLocation() + artworkPath + QLatin1Char('/');
    QHash<QString, QString> targets; // album name -> its picture file
    QSet<QString> present;
    for (auto it = tracks.begin(); it != tracks.end(); ++it) {
        track &record = it.value();
        auto mixed = mixedFolders.constFind(record.folderLocation);
        if (mixed == mixedFolders.constEnd())
            mixed = mixedFolders.insert(record.folderLocation,
                                        checkMixedAlbumsFolderByKey(record.folderLocation, flag));
        if (*mixed)
            continue;
        if (!record.playlist.isEmpty() || isUnknownName(record.albumName))
            continue;
        auto named = targets.constFind(record.albumName);
        if (named == targets.constEnd())
            named = targets.insert(record.albumName,
                                   QDir::fromNativeSeparators(artworkFolder + formatSplChar(record.albumName)) +
                                       QStringLiteral(".png"));
        const QString &target = named.value();
        if (!present.contains(target) && !QFileInfo::exists(target)) {
            auto picture = pictures.constFind(record.folderLocation);
            if (picture == pictures.constEnd())
                picture = pictures.insert(record.folderLocation, folderPicture(record.folderLocation));
            // Copied unchanged: a JPEG keeps its content under the ".png" name.
            if (!picture->isEmpty())
                NoClobberWriter::copyNew(*picture, target);
            if (!QFileInfo::exists(target))
                continue;
        }
        present.insert(target);
        record.cover = target;
        record.hasCover = true;
    }
    return tracks;
}


bool is_number(const std::string &s)
{
    if (s.empty())
        return false;
    for (const char c : s) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

// ---- Unknown names --------------------------------------------------------

bool shared::isUnknownName(const QString &name)
{
    return name.startsWith(QLatin1String("Unknown"));
}

void delay()
{
    QEventLoop loop;
    QTimer::singleShot(1000, &loop, &QEventLoop::quit);
    loop.exec();
}

QString shared::shortList(QStringList lines, int shown)
{
    const qsizetype count = lines.size();
    if (count > shown) {
        lines.resize(shown);
        lines << QStringLiteral("... and %1 more.").arg(count - shown);
    }
    return lines.join(QLatin1Char('\n'));
}
