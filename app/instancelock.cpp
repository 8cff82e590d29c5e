#include "app/instancelock.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QThread>

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
    , lock(dataFolder + QStringLiteral("/ruvo.lock"))
{
    // Stale only when the process that wrote it is gone, however long a
    // copy runs.
    lock.setStaleLockTime(0);
    server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server, &QLocalServer::newConnection, this, &InstanceLock::answer);
}

InstanceLock::~InstanceLock()
{
    server.close();
    if (owned)
        lock.unlock();
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
    if (lock.tryLock(0)) {
        owned = true;
        // A socket file left by a copy that died would block listen(); no
        // living copy uses this name now that the lock is ours.
        const QString name = serverName(folder);
        QLocalServer::removeServer(name);
        if (!server.listen(name))
            qCWarning(lcInstance) << "a later start can't reach this copy:" << server.errorString();
        return Outcome::Owned;
    }
    // Only a lock another copy holds is worth asking for: a folder where no
    // lock can be written is no sign of a running copy.
    if (lock.error() != QLockFile::LockFailedError) {
        qCWarning(lcInstance) << "the lock file" << lockFilePath() << "can't be written";
        return Outcome::Unwritable;
    }
    return handOver() ? Outcome::HandedOver : Outcome::Refused;
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
