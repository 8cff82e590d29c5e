#include "core/shared.h"

#include <QDir>
#include <QRegularExpression>
#include <QStandardPaths>

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

QString shared::formatSplChar(QString text) const
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
    const int hours = pieces.at(0).trimmed().toInt();
    const int minutes = pieces.at(1).trimmed().toInt();
    const double seconds = pieces.at(2).trimmed().toDouble();
    return (hours * 3600 + minutes * 60) + seconds;
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
