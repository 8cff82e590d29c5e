#ifndef DRIVE_H
#define DRIVE_H

#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariant>

#include <functional>
#include <memory>
#include <vector>

#include "core/backgroundjob.h"
#include "core/track.h"
#include "core/workguard.h"
#include "delivery/drivecopier.h"
#include "delivery/systemdetails.h"

class DriveData;

// The application side of the "Transfer and Sync" dialog.  While the dialog
// is open it polls the mounted volumes once a second and publishes them as
// "driveList" (paths) and "drivedetails" (DriveData rows), with a folder the
// user chose as an extra target; on confirmation it runs the format step and
// then the copy of the handed-over tracks on workers, and turns the copy's
// per-file reports into progress and messages for QML.
//
// The target lists and the handed-over tracks are shared by every Drive;
// only the object made for the window polls, publishes and runs jobs.  All of
// it runs in the GUI thread but formatDrive and the copy.
class Drive : public QObject
{
    Q_OBJECT

public:
    // What the application hands the object that serves the dialog: how a
    // list reaches QML (a context property of the interface) and the user's
    // message with a given number (1 "Drive is Full", 7 "Disk is Removed",
    // 8 "No destination drive selected.", asked for as "1" ... "8") or key
    // ("trnsfrtext1").
    using SetProperty = std::function<void(const QString &name, const QVariant &value)>;
    using UserText = std::function<QString(const QString &key)>;

    Drive(SetProperty setProperty, UserText texts, QObject *parent);
    Drive();
    ~Drive() override;

    // The object the controller hands the ticked tracks to.
    static Drive *getInstance();

    // Replaces the tracks the next transfer copies.
    void TransferDetails(TrackMap map);

    // The format step, run on a worker when the user confirms; always takes
    // the vehicle's profile, and formats the drive only when `format` is set.
    void formatDrive(QString drive, bool format);

    // Tests answer the folder dialog themselves.
    static void setFolderChooser(std::function<QString()> chooser);

public slots:
    void timerexe(int flag);
    void GetDriveDetail();
    QString createDriveName(QString Name);
    void ContinueDrive(QString drive, int format, int overwriteall, int overwritenewer, int overwritequality);
    void openDialog();
    void count();
    void slOneFileCopyed(QString fileName);
    void slOneFileTranscoded(QString fileName);
    void slDiskFull();
    void slProgressStoped(int flagStop);
    void slDriveRemoved();
    void finishFormatDrive();
    // Whether the chosen target could be formatted, asked before the user
    // is: answers with sgFormatChecked, empty when it could.
    void checkFormat(QString drive);

signals:
    void showDrivesData(QVariant driveData);
    void showMessageBox(QVariant message);
    void sgShowTransferProgress();
    void sgHideTransferProgress();
    void sgUpdateTransferProgress(QVariant total, QVariant count, QVariant file);
    // The copy waits for the drive to take the files.
    void sgTransferSyncing();
    void sgShowFormatWait();
    void sgHideFormatWait();
    // The folder the user chose: the dialog's target from now on.
    void sgFolderChosen(QVariant path);
    // The answer to checkFormat: why `drive` can't be formatted, or "".
    void sgFormatChecked(QVariant drive, QVariant refusal);

private:
    void publish();
    void clearLists();
    void retire(DriveData *row);
    void copyEnded(int reportedFiles);
    QString userText(int number) const;
    QString userText(const QString &key) const;
    // The one message at the end of a transfer, from its outcome alone.
    QString endMessage(const DriveCopier::Outcome &outcome, bool cancelled) const;

    SetProperty setContextProperty;
    UserText messageText;
    QString drivePath;
    int overwriteall = 0;
    int overwritenewer = 0;
    int overwritequality = 0;
    SystemDetails *system = nullptr; // the shared profile; not owned

    // What the format step needs of its target, copied in the GUI thread at
    // confirmation, so the job reads no list the poll may change.
    struct FormatTarget
    {
        bool isFolder = false;
        QString device;
        QString label;
        bool formatted = false;  // set by the job
    };
    FormatTarget formatTarget;
    // The listed target `drive` as the format step sees it.
    static FormatTarget formatTargetOf(const QString &drive);
    // Why the drive `target` can't be formatted for the chosen vehicle; "" when it can.
    QString formatRefusal(const FormatTarget &target) const;
    QString formatFailure;  // written by the format job, read once it has ended

    // Only the object made for the window has these.
    std::unique_ptr<QTimer> timmer;
    std::unique_ptr<DriveCopier> fm;
    std::unique_ptr<BackgroundJob<bool>> formatJob;
    std::unique_ptr<BackgroundJob<int>> transferJob;
    bool formatWanted = false; // the running format step erases the drive
    // The drive jobs as the work guard sees them.
    std::vector<WorkGuard::Watch> watches;
};

#endif // DRIVE_H
