#include "core/artworkcachefiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

QList<ArtworkCacheFiles::Entry> ArtworkCacheFiles::list(const QString &folder)
{
    static const QRegularExpression separators(QStringLiteral("(\\.|\\-|\\t)"));
    QList<Entry> files;
    QDirIterator walk(QDir(folder).absolutePath(), QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        walk.next();
        const QFileInfo info = walk.fileInfo();
        if (info.isDir())
            continue;
        const QString suffix = info.suffix().toLower();
        if (suffix != QLatin1String("itc") && suffix != QLatin1String("itc2"))
            continue;
        Entry entry;
        entry.fileName = info.fileName();
        entry.filePath = info.filePath();
        const QStringList parts = entry.fileName.split(separators);
        entry.hasId = parts.size() > 1;
        if (entry.hasId)
            entry.id = parts.at(1);
        files.append(entry);
    }
    return files;
}
