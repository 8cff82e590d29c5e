#include "core/taglibbuilder.h"

#include <QDebug>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QXmlStreamReader>

#include "core/logging.h"
#include "platform/regularfile.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Playlists are small; anything larger is not read.
constexpr qint64 maxPlaylistSize = qint64(32) * 1024 * 1024;

// Opens a playlist file for reading: only a regular file of at most
// maxPlaylistSize bytes.  A FIFO, a device (a link to /dev/zero would give
// bytes without end) or a folder is never read, nor waited on.
bool openPlaylist(QFile &file, const QString &path, QIODevice::OpenMode mode)
{
    struct stat info {};
    const int fd = RegularFile::open(path, nullptr, RegularFile::Links::Follow, &info);
    if (fd < 0)
        return false;
    if (info.st_size > maxPlaylistSize) {
        qDebug() << "Playlist too large, not read:" << path;
        ::close(fd);
        return false;
    }
    if (!file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

// The lines of an M3U or PLS file, each trimmed.  UTF-8 unless the bytes
// aren't valid UTF-8, then Latin-1, so non-ASCII entries survive either way.
bool readPlaylistLines(const QString &path, QStringList &lines)
{
    QFile file;
    if (!openPlaylist(file, path, QIODevice::ReadOnly)) {
        qDebug() << "Failed to open read only file" << path;
        return false;
    }
    // A file that grew since it was measured is read no further.
    QByteArray bytes = file.read(maxPlaylistSize + 1);
    if (bytes.size() > maxPlaylistSize) {
        qDebug() << "Playlist too large, not read:" << path;
        return false;
    }
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

// A playlist entry as a cleaned path: a relative one is taken from `folder`.
// Playlists written on Windows use "\": when the entry as written names
// nothing here, it is read with "/" instead.  A drive-letter path can't
// exist here and gives "" (with a log line).
QString resolveEntry(const QString &entry, const QString &folder)
{
    static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:[\\\\/]"));
    if (drive.match(entry).hasMatch()) {
        Logging::getInstance()->WriteLog(QStringLiteral("Playlist entry on a Windows drive left out: "), entry);
        return QString();
    }
    const auto resolve = [&folder](const QString &path) {
        return QDir::cleanPath(QDir::isRelativePath(path) ? QDir(folder).absoluteFilePath(path) : path);
    };
    const QString asWritten = resolve(entry);
    if (!entry.contains(QLatin1Char('\\')) || QFileInfo::exists(asWritten))
        return asWritten;
    return resolve(QString(entry).replace(QLatin1Char('\\'), QLatin1Char('/')));
}

// Entry handling shared by M3U and PLS.
void appendEntry(QList<QString> &entries, const QString &entry, const QString &playlistPath)
{
    static const QRegularExpression url(QStringLiteral("^[a-z]+://"));
    if (url.match(entry).hasMatch())
        return;
    const QString resolved = resolveEntry(entry, QFileInfo(playlistPath).absolutePath());
    if (!resolved.isEmpty())
        entries.append(resolved);
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
    QFile file;
    if (!openPlaylist(file, path, QIODevice::ReadOnly | QIODevice::Text)) {
        qDebug() << "Load XML File Problem.";
        return entries;
    }
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    QXmlStreamReader xml(&file);
    while (!xml.atEnd() && !xml.hasError()) {
        xml.readNext();
        if (!xml.isStartElement() || xml.name() != QLatin1String("media"))
            continue;
        const QString source = xml.attributes().value(QLatin1String("src")).toString();
        // Windows Media Player writes entries relative to the music folder;
        // other relative entries are relative to the playlist's own folder,
        // never to the process's working folder.
        if (source.isEmpty()) {
            entries.append(source);
        } else if (source.startsWith(QLatin1String(".."))) {
            QString rest = source.mid(2);
            while (rest.startsWith(QLatin1Char('/')) || rest.startsWith(QLatin1Char('\\')))
                rest.remove(0, 1);
            const QString resolved = resolveEntry(rest, music);
            if (!resolved.isEmpty())
                entries.append(resolved);
        } else {
            const QString resolved = resolveEntry(source, QFileInfo(path).absolutePath());
            if (!resolved.isEmpty())
                entries.append(resolved);
        }
    }
    return entries;
}
