#include "core/noclobberwriter.h"

#include "platform/temporaryfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

namespace {

// Renames the finished temporary file onto target.  QFile::rename refuses an
// existing target, so a file that appeared meanwhile is kept.
bool publish(QTemporaryFile &temp, const QString &target)
{
    const QString tempPath = temp.fileName();
    temp.setAutoRemove(false);
    temp.close();
    if (QFile::rename(tempPath, target))
        return true;
    QFile::remove(tempPath);
    return false;
}

bool prepare(QTemporaryFile &temp, const QString &target)
{
    const QFileInfo info(target);
    if (info.exists() || info.isSymLink() || !info.absoluteDir().exists())
        return false;
    temp.setFileTemplate(TemporaryFiles::templateBeside(target));
    return temp.open();
}

} // namespace

bool NoClobberWriter::writeNew(const QString &target, const QByteArray &data)
{
    QTemporaryFile temp;
    if (!prepare(temp, target))
        return false;
    if (temp.write(data) != data.size() || !temp.flush())
        return false;
    return publish(temp, target);
}

bool NoClobberWriter::copyNew(const QString &source, const QString &target)
{
    QFile in(source);
    if (!QFileInfo(source).isFile() || !in.open(QIODevice::ReadOnly))
        return false;
    QTemporaryFile temp;
    if (!prepare(temp, target))
        return false;
    constexpr qint64 chunkSize = 1 << 16;
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(chunkSize);
        if (chunk.isEmpty() && in.error() != QFileDevice::NoError)
            return false;
        if (temp.write(chunk) != chunk.size())
            return false;
    }
    if (in.error() != QFileDevice::NoError || !temp.flush())
        return false;
    return publish(temp, target);
}
