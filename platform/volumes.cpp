#include "platform/volumes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QStorageInfo>

#include <fcntl.h>
#include <unistd.h>

namespace {

QMutex rootsMutex;

QStringList &rootOverride()
{
    static QStringList list;
    return list;
}

Volumes::FlushFunction &flushOverride()
{
    static Volumes::FlushFunction function;
    return function;
}

QStringList defaultRoots()
{
    return {QStringLiteral("/media"), QStringLiteral("/run/media"), QStringLiteral("/Volumes")};
}

bool below(const QString &path, const QString &root)
{
    const QString base = QDir::cleanPath(root);
    return path.startsWith(base + QLatin1Char('/'));
}

Volumes::Volume fromStorage(const QStorageInfo &storage)
{
    Volumes::Volume volume;
    volume.mountPath = storage.rootPath();
    volume.device = QString::fromLocal8Bit(storage.device());
    volume.fileSystemType = QString::fromLatin1(storage.fileSystemType());
    volume.totalBytes = storage.bytesTotal();
    volume.freeBytes = storage.bytesFree();
    volume.availableBytes = storage.bytesAvailable();
    return volume;
}

} // namespace

QStringList Volumes::roots()
{
    QMutexLocker lock(&rootsMutex);
    return rootOverride().isEmpty() ? defaultRoots() : rootOverride();
}

void Volumes::setRoots(const QStringList &newRoots)
{
    QMutexLocker lock(&rootsMutex);
    rootOverride() = newRoots;
}

QList<Volumes::Volume> Volumes::removableVolumes()
{
    const QStringList bases = roots();
    QList<Volume> found;
    const QList<QStorageInfo> mounted = QStorageInfo::mountedVolumes();
    for (const QStorageInfo &storage : mounted) {
        if (!storage.isValid() || !storage.isReady() || storage.isReadOnly())
            continue;
        const QString path = storage.rootPath();
        for (const QString &root : bases) {
            if (below(path, root)) {
                found.append(fromStorage(storage));
                break;
            }
        }
    }
    return found;
}

Volumes::Volume Volumes::volumeOf(const QString &path)
{
    if (path.isEmpty() || !QFileInfo::exists(path))
        return Volume();
    QStorageInfo storage(path);
    if (!storage.isValid())
        return Volume();
    return fromStorage(storage);
}

bool Volumes::hasFatNames(const QString &fileSystemType)
{
    const QString type = fileSystemType.toLower();
    return type.contains(QLatin1String("fat")) || type == QLatin1String("msdos") ||
           type.startsWith(QLatin1String("ntfs")) || type.startsWith(QLatin1String("fuseblk"));
}

void Volumes::setFlushFunction(FlushFunction flush)
{
    flushOverride() = std::move(flush);
}

int Volumes::flushHandle(const QString &path)
{
    return ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

bool Volumes::flush(const QString &path, int handle)
{
    if (flushOverride())
        return flushOverride()(path);
    if (handle >= 0)
        return ::syncfs(handle) == 0;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::syncfs(fd) == 0;
    const int error = errno;
    ::close(fd);
    errno = error; // the caller may tell why
    return ok;
}
