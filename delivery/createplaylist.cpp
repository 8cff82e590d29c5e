#include "delivery/createplaylist.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include "delivery/drivefile.h"

namespace {

// Far beyond any real playlist: a larger file is not ours, and is not read.
constexpr qint64 largestPlaylist = 16 * 1024 * 1024;

} // namespace

bool CreatePlaylist::openM3U(QString path)
{
    if (!lists.contains(path))
        lists.insert(path, QStringList());
    return true;
}

bool CreatePlaylist::saveM3U(QStringList list)
{
    if (list.size() < 2 || !lists.contains(list.at(0)))
        return false;
    lists[list.at(0)].append(list.at(1));
    return true;
}

void CreatePlaylist::keepEarlier(const QString &path, const QString &mediaRoot, bool foldCase)
{
    const auto list = lists.find(path);
    const QFileInfo info(path);
    if (list == lists.end() || !info.isFile() || info.size() > largestPlaylist)
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const auto keyOf = [foldCase](const QString &entry) { return foldCase ? entry.toCaseFolded() : entry; };
    QSet<QString> listed;
    for (const QString &entry : std::as_const(*list))
        listed.insert(keyOf(entry));
    const QDir root(mediaRoot);
    QStringList earlier;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (QByteArray line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        const QString entry = QString::fromUtf8(line);
        // Only what a transfer writes: a path inside the media root.
        if (entry.isEmpty() || entry.startsWith(QLatin1Char('#')) || QDir::isAbsolutePath(entry) ||
            entry.split(QLatin1Char('/')).contains(QLatin1String("..")))
            continue;
        if (listed.contains(keyOf(entry)) || !QFileInfo(root.filePath(entry)).isFile())
            continue;
        listed.insert(keyOf(entry));
        earlier.append(entry);
    }
    *list = earlier + *list;
}

bool CreatePlaylist::writeM3U(const QString &path, quint64 device, int *error) const
{
    QByteArray text = QByteArrayLiteral("#EXTM3U:\n");
    const QStringList entries = lists.value(path);
    for (const QString &entry : entries)
        text += "#EXTINF:\n" + entry.toUtf8() + '\n';
    return DriveFile::write(path, text, device, error);
}
