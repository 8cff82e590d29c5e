#include "database/walindexroom.h"

#include <QFile>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray indexFile(const QString &libraryPath)
{
    return QFile::encodeName(libraryPath + QStringLiteral("-shm"));
}

} // namespace

QString WalIndexRoom::roomPath(const QString &libraryPath)
{
    return libraryPath + QStringLiteral("-shm-room");
}

void WalIndexRoom::giveBack(const QString &libraryPath)
{
    const QByteArray index = indexFile(libraryPath);
    const QByteArray room = QFile::encodeName(roomPath(libraryPath));
    // A link or anything else by that name is not room we kept.
    struct stat roomInfo;
    if (::lstat(room.constData(), &roomInfo) != 0 || !S_ISREG(roomInfo.st_mode))
        return;
    struct stat indexInfo;
    if (::lstat(index.constData(), &indexInfo) == 0) {
        // An index file of its own is kept, unless it is one a failed open
        // left without room: nothing uses it before the library opens.
        if (!S_ISREG(indexInfo.st_mode) || indexInfo.st_ino == roomInfo.st_ino ||
            indexInfo.st_size >= roomInfo.st_size || ::unlink(index.constData()) != 0)
            return;
    } else if (errno != ENOENT) {
        return;
    }
    // A second name, not a move: the room stays kept when SQLite deletes
    // its own name at the end of the run.
    ::link(room.constData(), index.constData());
}

void WalIndexRoom::keep(const QString &libraryPath)
{
    const QByteArray index = indexFile(libraryPath);
    const QByteArray room = QFile::encodeName(roomPath(libraryPath));
    struct stat indexInfo;
    if (::lstat(index.constData(), &indexInfo) != 0 || !S_ISREG(indexInfo.st_mode))
        return;
    struct stat roomInfo;
    if (::lstat(room.constData(), &roomInfo) == 0) {
        if (roomInfo.st_ino == indexInfo.st_ino && roomInfo.st_dev == indexInfo.st_dev)
            return;
        if (!S_ISREG(roomInfo.st_mode) || ::unlink(room.constData()) != 0)
            return;
    }
    ::link(index.constData(), room.constData());
}
