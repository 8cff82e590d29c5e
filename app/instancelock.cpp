#include "app/instancelock.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

Q_LOGGING_CATEGORY(lcInstance, "corvane.app")

const QByteArray activateRequest = "activate\n";
const QByteArray activateAnswer = "ok\n";

// A copy that took the lock opens its socket right after: a start arriving
// in between, or one whose window is busy for a moment, is waited for a
// little.
constexpr int handOverMs = 10000;

} // namespace

InstanceLock::InstanceLock(const QString &dataFolder, QObject *parent)
    : QObject(parent)
    , folder(dataFolder)
{
    server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server, &QLocalServer::newConnection, this, &InstanceLock::answer);
}

InstanceLock::~InstanceLock()
{
    server.close();
    // The file stays: the next start locks it without a new block.
    release();
}

QString InstanceLock::serverName(const QString &dataFolder)
{
    const QString canonical = QFileInfo(dataFolder).canonicalFilePath();
    const QByteArray key = (canonical.isEmpty() ? QDir::cleanPath(dataFolder) : canonical).toUtf8();
    const QString name = QStringLiteral("corvane-") +
                         QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex().left(20));
    // In the user's own runtime folder (only its owner may enter it): in the
    // shared temporary folder another user could take the name first, keep
    // this copy from listening and answer a later start in its place.
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? name : runtime + QLatin1Char('/') + name;
}

QString InstanceLock::lockFilePath() const
{
    return folder + QStringLiteral("/ruvo.lock");
}

bool InstanceLock::isOwned() const
{
    return owned;
}

InstanceLock::Outcome InstanceLock::acquire()
{
    if (owned)
        return Outcome::Owned;
    if (!QFileInfo(folder).isDir())
        QDir().mkpath(folder);
    // Both locks, the folder's first: the folder's needs no file at all
    // (a full disk, something else in the lock file's place), the file's
    // also holds where folders can't be locked across machines (NFS).
    const Lock onFolder = lockFolder();
    const Lock onFile = onFolder == Lock::Held ? Lock::Unavailable : lockFile();
    if (onFolder == Lock::Held || onFile == Lock::Held) {
        release();
        return handOver() ? Outcome::HandedOver : Outcome::Refused;
    }
    if (onFolder == Lock::Unavailable && onFile == Lock::Unavailable) {
        release();
        qCWarning(lcInstance) << "no lock can be had in the data folder" << folder;
        return Outcome::Unwritable;
    }
    owned = true;
    // A socket file left by a copy that died would block listen(); no
    // living copy uses this name now that the lock is ours.
    const QString name = serverName(folder);
    QLocalServer::removeServer(name);
    if (!server.listen(name))
        qCWarning(lcInstance) << "a later start can't reach this copy:" << server.errorString();
    return Outcome::Owned;
}

InstanceLock::Lock InstanceLock::lockDescriptor(int fd)
{
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return Lock::Taken;
    return errno == EWOULDBLOCK ? Lock::Held : Lock::Unavailable;
}

InstanceLock::Lock InstanceLock::lockFolder()
{
    folderFd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        return Lock::Unavailable;
    const Lock lock = lockDescriptor(folderFd);
    if (lock != Lock::Taken) {
        ::close(folderFd);
        folderFd = -1;
    }
    return lock;
}

InstanceLock::Lock InstanceLock::lockFile()
{
    // Opened beside the folder's own descriptor where there is one; never
    // through a link, never emptied, and only when it is a plain file (a
    // device is not opened at all): what the file holds is not read.
    const QByteArray path = QFile::encodeName(lockFilePath());
    const char *name = folderFd >= 0 ? "ruvo.lock" : path.constData();
    const int at = folderFd >= 0 ? folderFd : AT_FDCWD;
    struct stat info;
    int error = 0;
    if (::fstatat(at, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(info.st_mode)) {
        error = S_ISLNK(info.st_mode) ? ELOOP : S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    } else {
        fileFd = ::openat(at, name, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
        error = errno;
        if (fileFd >= 0 && (::fstat(fileFd, &info) != 0 || !S_ISREG(info.st_mode))) {
            ::close(fileFd);
            fileFd = -1;
            error = EINVAL;
        }
    }
    if (fileFd < 0) {
        qCWarning(lcInstance).noquote() << "the lock file" << lockFilePath() << "can't be used ("
                                        << QString::fromLocal8Bit(::strerror(error))
                                        << "); the data folder's own lock stands for it";
        return Lock::Unavailable;
    }
    const Lock lock = lockDescriptor(fileFd);
    if (lock != Lock::Taken) {
        ::close(fileFd);
        fileFd = -1;
    }
    return lock;
}

void InstanceLock::release()
{
    for (int *fd : {&fileFd, &folderFd}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    owned = false;
}

bool InstanceLock::handOver()
{
    const QString name = serverName(folder);
    QDeadlineTimer deadline(handOverMs);
    do {
        QLocalSocket socket;
        socket.connectToServer(name);
        if (socket.waitForConnected(500)) {
            socket.write(activateRequest);
            if (socket.waitForBytesWritten(1000)) {
                while (socket.bytesAvailable() < activateAnswer.size() && socket.waitForReadyRead(1000)) {
                }
                if (socket.readAll().startsWith(activateAnswer))
                    return true;
            }
        }
        QThread::msleep(100);
    } while (!deadline.hasExpired());
    return false;
}

void InstanceLock::answer()
{
    while (QLocalSocket *socket = server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine())
                return;
            if (socket->readLine() == activateRequest) {
                socket->write(activateAnswer);
                socket->flush();
                emit activationRequested();
            }
            socket->disconnectFromServer();
        });
    }
}
