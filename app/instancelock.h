#ifndef INSTANCELOCK_H
#define INSTANCELOCK_H

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

// One copy of the program per data folder.  The copy that takes the lock
// file in the data folder holds it for its whole life and listens on a
// local socket named after the folder; a later start finds the lock taken,
// asks the running copy to bring its window forward and ends without
// touching anything.  A lock left by a copy that died is taken over.
class InstanceLock : public QObject
{
    Q_OBJECT

public:
    enum class Outcome {
        Owned,      // this copy works on the data folder
        HandedOver, // another copy runs and was asked to come forward
        Refused,    // another copy holds the folder and couldn't be reached
        Unwritable  // the lock can't be made in the data folder: no copy may work on it
    };

    explicit InstanceLock(const QString &dataFolder, QObject *parent = nullptr);
    ~InstanceLock() override;

    // Takes the folder or hands over to the copy that has it.  Creates the
    // data folder when there is none (a first start); otherwise writes
    // nothing unless the lock is won.
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
    bool handOver();
    void answer();

    QString folder;
    QLockFile lock;
    QLocalServer server;
    bool owned = false;
};

#endif // INSTANCELOCK_H
