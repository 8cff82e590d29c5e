#include "core/itunecoverartextracter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QStandardPaths>

#include <cstdio>

#include "core/artworkcachefiles.h"
#include "core/noclobberwriter.h"
#include "core/shared.h"
#include "platform/artworkscriptrunner.h"

namespace {

// The cache files below Music/iTunes, listed once in walk order instead of one
// folder walk per album.  byIdPart maps the id part of a name (as the artwork
// index cuts it) to the first file bearing it.
struct CacheFileIndex
{
    bool built = false;
    QList<QPair<QString, QString>> files; // file name, path
    QHash<QString, int> byIdPart;
};

QMutex indexMutex;
CacheFileIndex cacheIndex;

// Pictures written or found in this process (album -> path), and the id ->
// album map of the whole-library extraction.  Both under extractionMutex.
QMutex extractionMutex;
QMap<QString, QString> albumArtDatabase;
QMap<QString, QString> idToAlbum;

void recordPicture(const QString &album, const QString &path)
{
    QMutexLocker locker(&extractionMutex);
    albumArtDatabase.insert(album, path);
}

void buildIndex(CacheFileIndex &index)
{
    const QString root = QStandardPaths::writableLocation(QStandardPaths::MusicLocation) + QStringLiteral("/iTunes");
    const QList<ArtworkCacheFiles::Entry> files = ArtworkCacheFiles::list(root);
    for (const ArtworkCacheFiles::Entry &file : files) {
        if (file.hasId && !index.byIdPart.contains(file.id))
            index.byIdPart.insert(file.id, int(index.files.size()));
        index.files.append({file.fileName, file.filePath});
    }
    index.built = true;
}

// The first cache file whose name holds id, or "".
QString findCacheFile(const QString &id)
{
    QMutexLocker locker(&indexMutex);
    if (!cacheIndex.built)
        buildIndex(cacheIndex);
    const auto hit = cacheIndex.byIdPart.constFind(id);
    if (hit != cacheIndex.byIdPart.constEnd()) {
        // A name holding the id elsewhere may still come earlier in the walk.
        for (int i = 0; i < hit.value(); ++i) {
            if (cacheIndex.files.at(i).first.contains(id))
                return cacheIndex.files.at(i).second;
        }
        return cacheIndex.files.at(hit.value()).second;
    }
    for (const auto &file : std::as_const(cacheIndex.files)) {
        if (file.first.contains(id))
            return file.second;
    }
    return QString();
}

// Diagnostics of the cache reader go to standard output.
void say(const char *text)
{
    std::fputs(text, stdout);
    std::fflush(stdout);
}

// Bounds-checked big-endian reads: each caller has checked that offset + 4
// lies within the data.
quint32 be32(const QByteArray &data, qint64 offset)
{
    const auto *p = reinterpret_cast<const uchar *>(data.constData()) + offset;
    return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | quint32(p[3]);
}

bool tagAt(const QByteArray &data, qint64 offset, const char (&tag)[5])
{
    return data.mid(offset, 4) == QByteArray::fromRawData(tag, 4);
}

// Fixed fields of an item reach to offset 60.
constexpr qint64 itemFieldsLength = 60;

} // namespace

ItuneCoverArtExtracter::ItuneCoverArtExtracter()
    : scriptPath(QCoreApplication::applicationDirPath()
                 + QStringLiteral("/AppleScript/iTunesArtworkExtractor.applescript"))
{
}

QString ItuneCoverArtExtracter::outputFolder()
{
    return shared::dataFolder() + QStringLiteral("/iTunes");
}

void ItuneCoverArtExtracter::resetCacheFileIndex()
{
    QMutexLocker locker(&indexMutex);
    cacheIndex = CacheFileIndex();
}

QString ItuneCoverArtExtracter::RecurseForSingle(const QString &id, const QString &album)
{
    if (id.isEmpty())
        return QString();
    const QString path = findCacheFile(id);
    return path.isEmpty() ? QString() : DumpITC2Single(path, album);
}

QString ItuneCoverArtExtracter::DumpITC2Single(const QString &path, const QString &album)
{
    // The album becomes a file name in the output folder: it must be one.
    if (album.isEmpty() || album.contains(QLatin1Char('/')))
        return QString();
    return dumpItems(path, [&album](const QString &) { return album; });
}

QString ItuneCoverArtExtracter::DumpITC2(const QString &path)
{
    return dumpItems(path, [this](const QString &idText) {
        const QString album = ItunesArtCheckAlbum(idText);
        // A cleaned name may still hold a separator; it must stay one file name.
        return album.contains(QLatin1Char('/')) ? QString() : album;
    });
}

QString ItuneCoverArtExtracter::ItunesArtCheckAlbum(const QString &id)
{
    QString album;
    {
        QMutexLocker locker(&extractionMutex);
        album = idToAlbum.value(id);
    }
    return album.isEmpty() ? QString() : shared::formatSplChar(album);
}

void ItuneCoverArtExtracter::ItuneMapPIDAlubmCopy(const QMap<QString, QString> &map)
{
    QMutexLocker locker(&extractionMutex);
    idToAlbum = map;
}

QMap<QString, QString> ItuneCoverArtExtracter::RecurseForAll()
{
    const QString root = QStandardPaths::writableLocation(QStandardPaths::MusicLocation) + QStringLiteral("/iTunes");
    const QList<ArtworkCacheFiles::Entry> files = ArtworkCacheFiles::list(root);
    for (const ArtworkCacheFiles::Entry &file : files)
        DumpITC2(file.filePath);
    QMutexLocker locker(&extractionMutex);
    return albumArtDatabase;
}

void ItuneCoverArtExtracter::extract()
{
    const quint16 probe = 1;
    say(*reinterpret_cast<const uchar *>(&probe) == 1 ? "\nLittle-Endian\n" : "Big-Endian\n");
    RecurseForAll();
}

QString ItuneCoverArtExtracter::dumpItems(const QString &path,
                                          const std::function<QString(const QString &idText)> &albumOf)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return QString();
    const qint64 size = file.size();
    if (size > maxCacheFileSize) {
        say("\tfile too large for an artwork cache file\n");
        return QString();
    }
    const QByteArray data = file.read(size);
    file.close();
    if (data.size() < size)
        return QString();
    const qint64 end = data.size();

    // Header: length, "itch", four flag words, "artw".
    if (end < 8 || !tagAt(data, 4, "itch")) {
        say("\tisn't a ITC2 file\n");
        return QString();
    }
    if (end < 28) {
        say("\tdoesn't contain artwork\n");
        return QString();
    }
    if (be32(data, 8) != 2 || be32(data, 12) != 2 || be32(data, 16) != 2 || be32(data, 20) != 0)
        say("\tdifferent header flags detected!\n");
    if (!tagAt(data, 24, "artw")) {
        say("\tdoesn't contain artwork\n");
        return QString();
    }

    QString targetPath;
    qint64 item = be32(data, 0);
    int n = 1;
    qint32 previousWidth = 0;
    char line[160];
    while (item + itemFieldsLength <= end && tagAt(data, item + 4, "item")) {
        const qint64 itemLength = be32(data, item);
        const qint64 headerLength = be32(data, item + 8);
        // A zero length would not move on; the image must lie inside the item
        // and the item inside the data.
        if (itemLength == 0 || item + itemLength > end || headerLength > itemLength) {
            std::snprintf(line, sizeof line, "\t\t[%2i] damaged item, reading stopped\n", n);
            say(line);
            break;
        }
        if (be32(data, item + 12) != 1 || be32(data, item + 16) != 2 || be32(data, item + 20) != 1
            || be32(data, item + 24) != 0) {
            std::snprintf(line, sizeof line, "\t\t[%2i] different Unknowns_1s detected!\n", n);
            say(line);
        }
        if (headerLength != 208) {
            std::snprintf(line, sizeof line, "\t\t[%2i] different header Lengths detected.\n", n);
            say(line);
        }
        if (!tagAt(data, item + 44, "locl")) {
            std::snprintf(line, sizeof line, "\t\t[%2i] unknown file location %08X\n", n,
                          unsigned(be32(data, item + 44)));
            say(line);
        } else {
            if (!tagAt(data, item + 48, "PNGf")) {
                std::snprintf(line, sizeof line, "\t\t[%2i] unknown file format: %08X\n", n,
                              unsigned(be32(data, item + 48)));
                say(line);
            }
            const auto width = qint32(be32(data, item + 56));
            // The images of one file are taken while their widths decrease.
            if (previousWidth != 0 && previousWidth <= width)
                break;
            const QString idText = QString::fromLatin1(data.mid(item + 36, 8).toHex().toUpper());
            const QString album = albumOf(idText);
            if (!album.isEmpty()) {
                const QString folder = outputFolder();
                QDir().mkpath(folder);
                targetPath = folder + QLatin1Char('/') + album + QStringLiteral(".png");
                if (QFileInfo::exists(targetPath)
                    || NoClobberWriter::writeNew(targetPath, data.mid(item + headerLength, itemLength - headerLength))) {
                    recordPicture(album, targetPath);
                } else {
                    std::snprintf(line, sizeof line, "\t\t[%2i] unable to create file '%s'\n", n,
                                  idText.toLatin1().constData());
                    say(line);
                }
            }
            previousWidth = width;
        }
        item += itemLength;
        ++n;
    }
    // Only a picture that is really there is handed back as a cover.
    return !targetPath.isEmpty() && QFileInfo::exists(targetPath) ? targetPath : QString();
}

bool ItuneCoverArtExtracter::executeCoverScript()
{
    return iMacScript();
}

bool ItuneCoverArtExtracter::iMacScript()
{
    return ArtworkScriptRunner::run(scriptPath);
}

bool ItuneCoverArtExtracter::windowsScript()
{
    return ArtworkScriptRunner::runWindowsScript(scriptPath);
}
