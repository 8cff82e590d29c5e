#include "platform/atomicfile.h"

#include "platform/volumes.h"

#include "platform/temporaryfiles.h"
#include "platform/writeorder.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

// Syncs the data of the file or folder at `path`.
bool syncPath(const QByteArray &path, bool folder)
{
    const int f = ::open(path.constData(), O_RDONLY | O_CLOEXEC | (folder ? O_DIRECTORY : 0));
    if (f < 0)
        return false;
    // A folder's fsync may be refused by some file systems (EINVAL): its
    // entries are then written with the volume.
    const bool ok = (folder ? ::fsync(f) : ::fdatasync(f)) == 0 || (folder && errno == EINVAL);
    ::close(f);
    return ok;
}

// rename(2) that never replaces: RENAME_NOREPLACE where the file system has
// it, else a hard link (which fails on an existing name), else -- FAT and
// the like have neither -- a test just before the rename.
int renameNoReplace(const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
    if (::link(from.constData(), to.constData()) == 0) {
        ::unlink(from.constData());
        return 0;
    }
    if (errno == EEXIST)
        return EEXIST;
    WriteOrder::record(WriteOrder::Event::PlacingUnguarded, QFile::decodeName(to));
    struct stat st {};
    if (::lstat(to.constData(), &st) == 0)
        return EEXIST;
    return ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
}

} // namespace

AtomicFile::AtomicFile(const QString &target, Replace replaceRule, Flush flushRule, const QString &extension)
    : finalPath(target), temp(TemporaryFiles::beside(target, extension)), replace(replaceRule), flush(flushRule)
{
}

AtomicFile::~AtomicFile()
{
    if (!committed)
        discard();
}

bool AtomicFile::fail(int error)
{
    lastError = error;
    discard();
    return false;
}

bool AtomicFile::open(unsigned mode)
{
    lastError = 0;
    if (fd >= 0)
        return true;
    if (replace == Replace::Never) {
        struct stat st {};
        if (::lstat(encoded(finalPath).constData(), &st) == 0) {
            lastError = EEXIST;
            return false;
        }
    }
    fd = ::open(encoded(temp).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode_t(mode));
    if (fd < 0) {
        lastError = errno;
        return false;
    }
    WriteOrder::record(WriteOrder::Event::FileCreated, finalPath);
    return true;
}

bool AtomicFile::write(const QByteArray &data)
{
    return write(data.constData(), data.size());
}

bool AtomicFile::write(const char *data, qint64 size)
{
    if (fd < 0)
        return fail(EBADF);
    qint64 put = 0;
    while (put < size) {
        const ssize_t n = ::write(fd, data + put, size_t(size - put));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(errno);
        }
        put += n;
    }
    return true;
}

bool AtomicFile::close()
{
    if (fd < 0)
        return true;
    const int f = fd;
    fd = -1;
    // Some file systems report a failed write-back only here.
    return ::close(f) == 0 || fail(errno);
}

bool AtomicFile::commit()
{
    if (committed)
        return true;
    const QByteArray from = encoded(temp);
    if (fd >= 0) {
        // Synced through the descriptor in hand, then closed.
        if (flush == Flush::Now) {
            if (::fdatasync(fd) != 0)
                return fail(errno);
            WriteOrder::record(WriteOrder::Event::FileSynced, finalPath);
        }
        if (!close())
            return false;
    } else if (flush == Flush::Now) {
        // Written by name: opening it for the sync also tells it is there.
        if (!syncPath(from, false))
            return fail(errno);
        WriteOrder::record(WriteOrder::Event::FileSynced, finalPath);
    } else {
        struct stat st {};
        if (::lstat(from.constData(), &st) != 0)
            return fail(errno); // never opened, or its writer made nothing
    }
    const QByteArray to = encoded(finalPath);
    const int error =
        replace == Replace::Existing ? (::rename(from.constData(), to.constData()) == 0 ? 0 : errno)
                                     : renameNoReplace(from, to);
    if (error != 0)
        return fail(error);
    committed = true;
    WriteOrder::record(WriteOrder::Event::FilePlaced, finalPath);
    if (flush == Flush::Now && syncPath(encoded(QFileInfo(finalPath).absolutePath()), true))
        WriteOrder::record(WriteOrder::Event::FolderSynced, finalPath);
    return true;
}

void AtomicFile::discard()
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
    if (!committed)
        ::unlink(encoded(temp).constData());
}

bool AtomicFile::syncVolume(const QString &path, int handle)
{
    // The nearest existing folder stands for the volume.
    QString at = path;
    while (!at.isEmpty() && !QFileInfo::exists(at)) {
        const QString parent = QFileInfo(at).absolutePath();
        if (parent == at)
            break;
        at = parent;
    }
    if (!Volumes::flush(at, handle))
        return false;
    WriteOrder::record(WriteOrder::Event::VolumeSynced, path);
    return true;
}
