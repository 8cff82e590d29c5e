#ifndef DRIVE_H
#define DRIVE_H

#include <QObject>
#include <QString>
#include <QVariant>

class QmlApplicationViewer;

// The application side of the "Transfer and Sync" dialog: the drive list,
// the format step and the copy to the car drive.  This build carries only
// its links to the interface; the dialog's work is not part of it, so its
// slots write one debug line and its signals are never emitted.
class Drive : public QObject
{
    Q_OBJECT

public:
    Drive(QmlApplicationViewer *viewer, QObject *parent);
    Drive();

public slots:
    void timerexe(int flag);
    void ContinueDrive(QString drive, int format, int overwriteall, int overwritenewer, int overwritequality);
    void openDialog();
    void slProgressStoped(int flagStop);

signals:
    void showDrivesData(QVariant driveData);
    void showMessageBox(QVariant message);
    void sgShowTransferProgress();
    void sgHideTransferProgress();
    void sgUpdateTransferProgress(QVariant total, QVariant count, QVariant file);
    void sgShowFormatWait();
    void sgHideFormatWait();

private:
    QmlApplicationViewer *viewer = nullptr; // not owned
};

#endif // DRIVE_H
