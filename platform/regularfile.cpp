#include "platform/regularfile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

int RegularFile::open(const QString &path, int *error, Links links, struct stat *info)
{
    int ignored = 0;
    int &lastError = error ? *error : ignored;
    lastError = 0;
    // O_NONBLOCK keeps the open from waiting for a FIFO's writer or a
    // device; O_NOCTTY keeps a terminal from becoming ours.
    int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    if (links == Links::DontFollow)
        flags |= O_NOFOLLOW;
    const int fd = ::open(QFile::encodeName(path).constData(), flags);
    if (fd < 0) {
        lastError = errno;
        return -1;
    }
    struct stat status {};
    const bool known = ::fstat(fd, &status) == 0;
    if (!known || !S_ISREG(status.st_mode)) {
        lastError = known ? notRegular : errno;
        ::close(fd);
        return -1;
    }
    // Reads of a regular file never wait anyway; the flag goes so that
    // whoever reads sees plain blocking reads.
    const int current = ::fcntl(fd, F_GETFL);
    if (current < 0 || ::fcntl(fd, F_SETFL, current & ~O_NONBLOCK) != 0) {
        lastError = errno;
        ::close(fd);
        return -1;
    }
    if (info)
        *info = status;
    return fd;
}

QString RegularFile::failure(int error)
{
    if (error == ENOENT)
        return QStringLiteral("the file is no longer there");
    if (error == notRegular)
        return QStringLiteral("it is not a regular file");
    return QStringLiteral("the file cannot be read (%1)").arg(QString::fromLocal8Bit(std::strerror(error)));
}
