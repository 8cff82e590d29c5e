#include "core/noclobberwriter.h"

#include "platform/atomicfile.h"

#include <QFile>
#include <QFileInfo>

namespace {

// The files written here are pictures the program can make again: not
// synced one by one (AtomicFile's batch flush, with nothing to record).
constexpr AtomicFile::Flush pictureFlush = AtomicFile::Flush::Batch;

bool folderExists(const QString &target)
{
    return QFileInfo(QFileInfo(target).absolutePath()).isDir();
}

} // namespace

bool NoClobberWriter::writeNew(const QString &target, const QByteArray &data)
{
    if (!folderExists(target))
        return false;
    AtomicFile out(target, AtomicFile::Replace::Never, pictureFlush);
    return out.open() && out.write(data) && out.commit();
}

bool NoClobberWriter::copyNew(const QString &source, const QString &target)
{
    QFile in(source);
    if (!QFileInfo(source).isFile() || !in.open(QIODevice::ReadOnly) || !folderExists(target))
        return false;
    AtomicFile out(target, AtomicFile::Replace::Never, pictureFlush);
    if (!out.open())
        return false;
    constexpr qint64 chunkSize = 1 << 16;
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(chunkSize);
        if (chunk.isEmpty() && in.error() != QFileDevice::NoError)
            return false;
        if (!out.write(chunk))
            return false;
    }
    return in.error() == QFileDevice::NoError && out.commit();
}
