#include "core/taglibbuilder.h"

// ---- Embedded cover art ---------------------------------------------------



// ---- Playlist files -------------------------------------------------------

#include <QDebug>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QXmlStreamReader>

namespace {

// Playlists are small; anything larger is not read.
constexpr qint64 maxPlaylistSize = qint64(32) * 1024 * 1024;

// The lines of an M3U or PLS file, each trimmed.  UTF-8 unless the bytes
// aren't valid UTF-8, then Latin-1, so non-ASCII entries survive either way.
bool readPlaylistLines(const QString &path, QStringList &lines)
{
    QFile file(path);
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly)) {
        qDebug() << "Failed to open read only file" << path;
        return false;
    }
    if (file.size() > maxPlaylistSize) {
        qDebug() << "Playlist too large, not read:" << path;
        return false;
    }
    QByteArray bytes = file.readAll();
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        text = QString::fromLatin1(bytes);
    static const QRegularExpression lineEnd(QStringLiteral("\r\n|\n|\r"));
    lines = text.split(lineEnd);
    for (QString &line : lines)
        line = line.trimmed();
    return true;
}

// Entry handling shared by M3U and PLS.
void appendEntry(QList<QString> &entries, const QString &entry, const QString &playlistPath)
{
    static const QRegularExpression url(QStringLiteral("^[a-z]+://"));
    if (url.match(entry).hasMatch())
        return;
    const QString converted = QDir::fromNativeSeparators(entry);
    if (QDir::isRelativePath(converted))
        entries.append(QDir::cleanPath(QDir(QFileInfo(playlistPath).absolutePath()).absoluteFilePath(converted)));
    else
        entries.append(QDir::cleanPath(converted));
}

} // namespace

QList<QString> TagLibBuilder::parsePlaylists(const QFileInfo &playlist) const
{
    const QString suffix = playlist.suffix().toLower();
    if (suffix == QLatin1String("wpl"))
        return parseWplPlaylist(playlist.absoluteFilePath());
    if (suffix == QLatin1String("pls"))
        return readPlsPlaylist(playlist.filePath());
    if (suffix == QLatin1String("m3u") || suffix == QLatin1String("m3u8"))
        return readM3UPlaylist(playlist.filePath());
    return {};
}

QList<QString> TagLibBuilder::readM3UPlaylist(const QString &path) const
{
    QList<QString> entries;
    QStringList lines;
    if (!readPlaylistLines(path, lines))
        return entries;
    for (const QString &line : std::as_const(lines)) {
        // "#EXTM3U", "#EXTINF:" and other comments name no file.
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        appendEntry(entries, line, path);
    }
    return entries;
}

QList<QString> TagLibBuilder::readPlsPlaylist(const QString &path) const
{
    QList<QString> entries;
    QStringList lines;
    if (!readPlaylistLines(path, lines))
        return entries;
    for (const QString &line : std::as_const(lines)) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        const QString key = (equals < 0 ? line : line.left(equals)).toLower();
        if (!key.startsWith(QLatin1String("file")))
            continue;
        // The number after "File" plays no part: entries keep the line order.
        const QString value = (equals < 0 ? line : line.mid(equals + 1)).trimmed();
        if (!value.isEmpty())
            appendEntry(entries, value, path);
    }
    return entries;
}

QList<QString> TagLibBuilder::parseWplPlaylist(const QString &path) const
{
    QList<QString> entries;
    QFile file(path);
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qDebug() << "Load XML File Problem.";
        return entries;
    }
    if (file.size() > maxPlaylistSize) {
        qDebug() << "Playlist too large, not read:" << path;
        return entries;
    }
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    QXmlStreamReader xml(&file);
    while (!xml.atEnd() && !xml.hasError()) {
        xml.readNext();
        if (!xml.isStartElement() || xml.name() != QLatin1String("media"))
            continue;
        const QString source = xml.attributes().value(QLatin1String("src")).toString();
        // Windows Media Player writes entries relative to the music folder.
        if (source.startsWith(QLatin1String("..")))
            entries.append(QDir::cleanPath(music + source.mid(2)));
        else
            entries.append(QDir::cleanPath(QDir::fromNativeSeparators(source)));
    }
    return entries;
}



// ---- Tag writer -----------------------------------------------------------



// ---- iTunes library file --------------------------------------------------



// ---- iTunes artwork index -------------------------------------------------

#include <QDebug>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QXmlStreamReader>

#include "core/shared.h"

QList<QString> TagLibBuilder::SearchiTineArts(const QDir &folder, QList<QString> ids) const
{
    static const QRegularExpression separators(QStringLiteral("(\\.|\\-|\\t)"));
    QDirIterator walk(folder.absolutePath(), QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        walk.next();
        const QFileInfo info = walk.fileInfo();
        if (info.isDir())
            continue;
        const QString suffix = info.suffix().toLower();
        if (suffix != QLatin1String("itc") && suffix != QLatin1String("itc2"))
            continue;
        const QStringList parts = info.fileName().split(separators);
        if (parts.size() > 1)
            ids.append(parts.at(1));
    }
    return ids;
}

QMap<QString, QString> TagLibBuilder::parseiTuneCoverArtStartup() const
{
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    return parseiTuneCoverArt(music + QStringLiteral("/iTunes/iTunes Music Library.xml"),
                              QDir(music + QStringLiteral("/iTunes/Album Artwork")));
}

QMap<QString, QString> TagLibBuilder::parseiTuneCoverArt(const QString &libraryFile,
                                                          const QDir &artworkFolder) const
{
    // A set: libraries hold tens of thousands of tracks.
    const QList<QString> idList = SearchiTineArts(artworkFolder, QList<QString>());
    const QSet<QString> cachedIds(idList.cbegin(), idList.cend());

    QMap<QString, QString> index;
    QFile file(libraryFile);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qDebug() << "Load XML File Problem.";
        return index;
    }

    const shared cleaner;
    QXmlStreamReader xml(&file);
    QString album;
    QString id;
    while (!xml.atEnd() && !xml.hasError()) {
        xml.readNext();
        if (xml.name() == QLatin1String("key") && xml.isStartElement()) {
            const QString key = xml.readElementText();
            QString value = QStringLiteral("-2");
            // The value element must follow its key directly, as the
            // library file writes it.
            xml.readNext();
            if (xml.isStartElement()
                && (xml.name() == QLatin1String("integer") || xml.name() == QLatin1String("string")
                    || xml.name() == QLatin1String("date")))
                value = xml.readElementText();
            if (key == QLatin1String("Playlists"))
                break;
            if (key == QLatin1String("Album"))
                album = cleaner.formatSplChar(value.trimmed());
            else if (key == QLatin1String("Persistent ID"))
                id = value;
        }
        // Each track is a dictionary of its own: take it in at its start or
        // end tag, whichever comes first after its entries.
        if (xml.name() == QLatin1String("dict")) {
            if (!id.isEmpty() && !album.isEmpty() && cachedIds.contains(id))
                index.insert(album, id);
            album.clear();
            id.clear();
        }
    }
    return index;
}

