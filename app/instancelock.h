#ifndef INSTANCELOCK_H
#define INSTANCELOCK_H

#include <QLocalServer>
#include <QObject>
#include <QString>

// One copy of the program per data folder.  The copy that takes the kernel
// lock (flock) on the lock file in the data folder, and on the folder
// itself, holds them for its whole life and listens on a local socket named
// after the folder; a later start finds the lock taken, asks the running
// copy to bring its window forward and ends without touching anything.
// The kernel ends the lock with its process, so a copy that died leaves
// nothing to take over; the file stays between runs, and what it holds is
// never read, so a full disk or a file of any content keeps no copy from
// starting.  The lock file is never opened through a link.
class InstanceLock : public QObject
{
    Q_OBJECT

public:
    enum class Outcome {
        Owned,      // this copy works on the data folder
        HandedOver, // another copy runs and was asked to come forward
        Refused,    // another copy holds the folder and couldn't be reached
        Unwritable  // no lock can be had in the data folder: no copy may work on it
    };

    explicit InstanceLock(const QString &dataFolder, QObject *parent = nullptr);
    ~InstanceLock() override;

    // Takes the folder or hands over to the copy that has it.  Creates the
    // data folder when there is none (a first start), and the lock file
    // when it is missing; writes nothing else.
    Outcome acquire();
    bool isOwned() const;

    QString lockFilePath() const;
    // The local socket's name: the same for every start on this folder, in
    // the user's runtime folder where there is one.
    static QString serverName(const QString &dataFolder);

signals:
    // A later start asked for this copy's window.
    void activationRequested();

private:
    enum class Lock { Taken, Held, Unavailable };
    static Lock lockDescriptor(int fd);
    Lock lockFolder();
    Lock lockFile();
    void release();
    bool handOver();
    void answer();

    QString folder;
    int folderFd = -1;
    int fileFd = -1;
    QLocalServer server;
    bool owned = false;
};

#endif // INSTANCELOCK_H
