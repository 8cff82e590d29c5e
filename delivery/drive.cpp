#include "delivery/drive.h"

#include <algorithm>

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSet>

#include "core/logging.h"
#include "core/shared.h"
#include "delivery/combo.h"
#include "delivery/drivecopier.h"
#include "delivery/drivedata.h"
#include "delivery/transferdetail.h"
#include "platform/diskformatter.h"
#include "platform/folderdialog.h"
#include "platform/volumes.h"

namespace {

Q_LOGGING_CATEGORY(lcDrive, "corvane.delivery")

const QString noDrive = QStringLiteral("No Drive");

// The dialog's state, shared by every Drive object; GUI thread only.
struct DriveState
{
    TrackMap trackMap;
    QMap<int, DriveData *> DriveList;       // listed targets by key
    QMap<int, DriveData *> DriveListSystem; // the folder chosen last
    QStringList dataList;                   // listed paths, published as "driveList"
    QString searchLocation;
    int id = 1;
    int counterfile = 0;
    int totalfiles = 0;
    // Rows that left the lists: QML may read them until the next
    // publication, so they are freed one publication later.
    QList<DriveData *> retiredNow;
    QList<DriveData *> retiredShown;
};

DriveState &state()
{
    static DriveState s;
    return s;
}

std::function<QString()> &folderChooser()
{
    static std::function<QString()> chooser;
    return chooser;
}

// A size as the dialog shows it, with its unit: MB with one decimal below
// 1 GB (a nearly empty stick would read "0.00 GB"), else GB with two.
QString sizeText(qint64 bytes)
{
    constexpr qint64 gb = Q_INT64_C(1) << 30;
    if (bytes < gb)
        return QString::number(double(bytes) / double(Q_INT64_C(1) << 20), 'f', 1) + QStringLiteral(" MB");
    return QString::number(double(bytes) / double(gb), 'f', 2) + QStringLiteral(" GB");
}

void showSizes(DriveData *row, const Volumes::Volume &volume)
{
    row->setTotalSpace(sizeText(volume.totalBytes));
    row->setFreeSpace(sizeText(volume.availableBytes));
    row->setUsedSpace(sizeText(volume.totalBytes - volume.freeBytes));
    row->setFreeSpace1(volume.availableBytes);
}

// The copy job: a stop (the user's cancel or the close sequence) also ends
// a running conversion at once.
class TransferJob : public BackgroundJob<int>
{
public:
    explicit TransferJob(DriveCopier *copierOfJob) : copier(copierOfJob) {}
    void requestStop() override
    {
        BackgroundJob<int>::requestStop();
        copier->stop();
    }

private:
    DriveCopier *copier;
};

} // namespace

Drive::Drive(SetProperty setProperty, UserText texts, QObject *parent)
    : QObject(parent), setContextProperty(std::move(setProperty)), messageText(std::move(texts)),
      timmer(std::make_unique<QTimer>()), fm(std::make_unique<DriveCopier>()),
      formatJob(std::make_unique<BackgroundJob<bool>>()), transferJob(std::make_unique<TransferJob>(fm.get()))
{
    timmer->setInterval(1000);
    connect(timmer.get(), &QTimer::timeout, this, &Drive::GetDriveDetail);
    connect(fm.get(), &DriveCopier::incrementProgress, this, &Drive::slOneFileCopyed, Qt::QueuedConnection);
    connect(fm.get(), &DriveCopier::sgFiletranscoded, this, &Drive::slOneFileTranscoded, Qt::QueuedConnection);
    connect(fm.get(), &DriveCopier::sgDiskFull, this, &Drive::slDiskFull, Qt::QueuedConnection);
    connect(fm.get(), &DriveCopier::sgDriveRemoved, this, &Drive::slDriveRemoved, Qt::QueuedConnection);
    connect(fm.get(), &DriveCopier::sgSyncing, this, &Drive::sgTransferSyncing, Qt::QueuedConnection);
    // The format step is the first of the transfer.
    watches.emplace_back(WorkGuard::Work::Transfer, [this] {
        return (transferJob && transferJob->isRunning()) || (formatJob && formatJob->isRunning());
    });
    watches.emplace_back(WorkGuard::Work::Format,
                         [this] { return formatWanted && formatJob && formatJob->isRunning(); });
}

Drive::Drive() : QObject(nullptr) {}

Drive::~Drive()
{
    // The jobs go first: they use the copier.
    transferJob.reset();
    formatJob.reset();
    if (!timmer)
        return;
    // The dialog's rows end with the object that made them: QML is handed
    // empty lists first, so it refers to none of them when they go.
    timmer->stop();
    clearLists();
    publish();
    DriveState &s = state();
    qDeleteAll(s.retiredShown);
    s.retiredShown.clear();
    qDeleteAll(s.DriveListSystem);
    s.DriveListSystem.clear();
}

Drive *Drive::getInstance()
{
    static Drive *instance = new Drive();
    return instance;
}

void Drive::TransferDetails(TrackMap map)
{
    state().trackMap = map;
}

void Drive::setFolderChooser(std::function<QString()> chooser)
{
    folderChooser() = std::move(chooser);
}

QString Drive::userText(int number) const
{
    return userText(QString::number(number));
}

QString Drive::userText(const QString &key) const
{
    return messageText ? messageText(key) : QString();
}

QString Drive::endMessage(const DriveCopier::Outcome &outcome, bool cancelled) const
{
    const QString target = QDir::toNativeSeparators(drivePath);
    if (outcome.halt == DriveCopier::Outcome::Removed)
        return userText(7);
    if (outcome.halt == DriveCopier::Outcome::Failed)
        return QStringLiteral("The files could not be written to %1: %2. Nothing of this transfer can be relied on; "
                              "please try again or use another drive.")
            .arg(target, outcome.reason);
    // Without its record the drive still holds every song, but the user
    // should know why the next transfer looks at each file again.
    const QString record =
        outcome.recordUnwritten.isEmpty()
            ? QString()
            : QStringLiteral("\nThe drive's record of its files could not be written (%1); the next transfer "
                             "will compare the files on it instead.")
                  .arg(outcome.recordUnwritten);
    // Files kept as they were count among the transferred: the user is told
    // how many, so a transfer that wrote nothing doesn't read as a copy.
    const QString kept =
        outcome.kept == 0 ? QString()
        : outcome.kept == 1
            ? QStringLiteral(" 1 file was already on the drive and was left as it was.")
            : QStringLiteral(" %1 files were already on the drive and were left as they were.").arg(outcome.kept);
    QStringList lines;
    for (const auto &[name, why] : outcome.leftOut)
        lines << name + QStringLiteral(": ") + why;
    if (outcome.halt == DriveCopier::Outcome::Full) {
        const int notCopied = qMax(0, state().totalfiles - outcome.written - outcome.kept);
        QString full =
            userText(1) + QStringLiteral(": ") +
            (outcome.written == 1 ? QStringLiteral("1 file was copied, ")
                                  : QStringLiteral("%1 files were copied, ").arg(outcome.written)) +
            (notCopied == 1 ? QStringLiteral("1 was left out.") : QStringLiteral("%1 were left out.").arg(notCopied)) +
            kept;
        if (!lines.isEmpty())
            full += QLatin1Char('\n') + shared::shortList(lines);
        return full + record;
    }
    if (cancelled || outcome.halt == DriveCopier::Outcome::Cancelled)
        return (outcome.written == 1 ? QStringLiteral("The transfer was cancelled: %1 file was written to %2.")
                                     : QStringLiteral("The transfer was cancelled: %1 files were written to %2."))
                   .arg(outcome.written)
                   .arg(target) +
               record;
    if (lines.isEmpty()) {
        const QString vehicle = system ? system->vehicleName : QString();
        return userText(QStringLiteral("trnsfrtext1")) + vehicle + userText(QStringLiteral("trnsfrtext2")) + kept +
               record;
    }
    const QString head = lines.size() == 1 ? QStringLiteral("%1 of the chosen files was not transferred to %2:\n")
                                           : QStringLiteral("%1 of the chosen files were not transferred to %2:\n");
    return head.arg(lines.size()).arg(target) + shared::shortList(lines) + record;
}

void Drive::retire(DriveData *row)
{
    state().retiredNow.append(row);
}

void Drive::clearLists()
{
    DriveState &s = state();
    for (DriveData *row : std::as_const(s.DriveList))
        retire(row);
    s.DriveList.clear();
    s.dataList.clear();
}

void Drive::publish()
{
    DriveState &s = state();
    if (setContextProperty) {
        QList<QObject *> rows;
        for (DriveData *row : std::as_const(s.DriveList))
            rows.append(row);
        setContextProperty(QStringLiteral("driveList"), QVariant::fromValue(s.dataList));
        setContextProperty(QStringLiteral("drivedetails"), QVariant::fromValue(rows));
    }
    qDeleteAll(s.retiredShown);
    s.retiredShown = s.retiredNow;
    s.retiredNow.clear();
}

void Drive::timerexe(int flag)
{
    if (!timmer)
        return;
    DriveState &s = state();
    if (flag == 1) {
        s.id = 1;
        Logging::getInstance()->WriteLog(QStringLiteral("Launching Transfer and Sync Dialog"), QString());
        clearLists();
        s.searchLocation.clear();
        timmer->start();
    } else if (flag == 0) {
        timmer->stop();
        clearLists();
        publish();
        // The chosen folder is listed again only when chosen again.
        qDeleteAll(s.DriveListSystem);
        s.DriveListSystem.clear();
    }
}

void Drive::GetDriveDetail()
{
    DriveState &s = state();
    const QList<Volumes::Volume> volumes = Volumes::removableVolumes();
    QSet<QString> mounted;
    for (const Volumes::Volume &volume : volumes)
        mounted.insert(volume.mountPath);

    // 1. Targets that went away; a drive's mount folder can outlive it.
    const QStringList listed = s.dataList;
    for (const QString &path : listed) {
        bool gone = path == noDrive || !QFileInfo::exists(path);
        QList<int> keys;
        for (auto it = s.DriveList.cbegin(); it != s.DriveList.cend(); ++it) {
            if (it.value()->driveletter() != path)
                continue;
            keys.append(it.key());
            if (it.value()->isSystem() == 0 && !mounted.contains(path))
                gone = true;
        }
        if (!gone)
            continue;
        for (int key : std::as_const(keys))
            retire(s.DriveList.take(key));
        s.dataList.removeAll(path);
    }

    // 2. Volumes, new ones listed and listed ones measured again.
    for (const Volumes::Volume &volume : volumes) {
        if (s.dataList.contains(volume.mountPath)) {
            for (DriveData *row : std::as_const(s.DriveList)) {
                if (row->driveletter() == volume.mountPath && row->isSystem() == 0)
                    showSizes(row, volume);
            }
            continue;
        }
        auto *row =
            new DriveData(QString(), QString(), 0, 0, QString(), volume.mountPath, volume.device, volume.mountPath);
        showSizes(row, volume);
        s.dataList.append(volume.mountPath);
        s.DriveList.insert(s.id++, row);
    }

    // 3. The chosen folder.
    if (!s.searchLocation.isEmpty() && !s.dataList.contains(s.searchLocation)) {
        s.dataList.append(s.searchLocation);
        qCDebug(lcDrive) << s.searchLocation << "...";
        for (DriveData *chosen : std::as_const(s.DriveListSystem)) {
            s.DriveList.insert(s.id++, new DriveData(chosen->totalspace(), chosen->freespace(), chosen->isSystem(),
                                                     chosen->freespace1(), chosen->usedspace(), chosen->driveletter(),
                                                     chosen->filesystem(), chosen->drivename()));
        }
    }

    // 4. and 5.
    if (s.dataList.isEmpty())
        s.dataList.append(noDrive);
    publish();
}

QString Drive::createDriveName(QString Name)
{
    // FAT-safe, and not the name of another listed target: a number is
    // added until it is free.  The target being formatted keeps its name.
    QStringList taken;
    for (const QString &path : std::as_const(state().dataList)) {
        if (path != drivePath)
            taken << QFileInfo(path).fileName();
    }
    return DiskFormatter::uniqueLabel(DiskFormatter::fatLabel(Name), taken);
}

void Drive::openDialog()
{
    DriveState &s = state();
    s.searchLocation.clear();
    qDeleteAll(s.DriveListSystem);
    s.DriveListSystem.clear();
    if (folderChooser()) {
        s.searchLocation = folderChooser()();
    } else {
        s.searchLocation = FolderDialog::chooseExisting(tr("Open Directory"));
    }
    if (s.searchLocation.isEmpty())
        return;
    s.DriveListSystem.insert(int(s.DriveList.size()) + 1, new DriveData(QString(), QString(), 1, 0, QString(),
                                                                        s.searchLocation, QString(), s.searchLocation));
    // Listed now rather than at the next tick, and chosen: a drive chosen
    // before must not stay the target.
    if (timmer && timmer->isActive())
        GetDriveDetail();
    emit sgFolderChosen(s.searchLocation);
}

void Drive::count() {}

void Drive::ContinueDrive(QString drive, int format, int overwriteAll, int overwriteNewer, int overwriteQuality)
{
    state().searchLocation.clear();
    drivePath = drive;
    overwriteall = overwriteAll;
    overwritenewer = overwriteNewer;
    overwritequality = overwriteQuality;
    if (drive == noDrive || drive.isEmpty() || !formatJob)
        return;
    const bool videos = std::any_of(state().trackMap.cbegin(), state().trackMap.cend(),
                                    [](const track &t) { return t.isVideo; });
    const QString refusal = WorkGuard::refusalFor(videos   ? WorkGuard::Work::VideoTransfer
                                                  : format ? WorkGuard::Work::Format
                                                           : WorkGuard::Work::Transfer);
    if (!refusal.isEmpty()) {
        emit showMessageBox(refusal);
        return;
    }
    if (!QFileInfo::exists(drive)) {
        emit showMessageBox(userText(7));
        return;
    }
    // The drive is laid out, and formatted, for the chosen vehicle's system:
    // without one there is no folder, format or file system to give it.
    const SystemDetails *vehicle = Combo().getsystemDetail();
    if (!vehicle || vehicle->vehicleName.isEmpty()) {
        emit showMessageBox(userText(QStringLiteral("MediaLibrary_txtSelectVehicledefault")));
        return;
    }
    formatTarget = formatTargetOf(drive);
    formatTarget.label = createDriveName(QFileInfo(drive).fileName());
    const bool wanted = format != 0;
    // The dialog asks checkFormat before its question; this catches a drive
    // that changed since, before anything is unmounted.
    if (wanted && !formatTarget.isFolder) {
        const QString cannot = formatRefusal(formatTarget);
        if (!cannot.isEmpty()) {
            emit showMessageBox(cannot);
            return;
        }
    }
    emit sgShowFormatWait();
    formatWanted = wanted && !formatTarget.isFolder;
    if (!formatJob->start(
            [this, drive, wanted](const std::atomic<bool> &) {
                formatDrive(drive, wanted);
                return true;
            },
            [this](bool) { finishFormatDrive(); }))
        emit sgHideFormatWait();
}

Drive::FormatTarget Drive::formatTargetOf(const QString &drive)
{
    FormatTarget target;
    for (DriveData *row : std::as_const(state().DriveList)) {
        if (row->drivename() == drive) {
            target.isFolder = row->isSystem() != 0;
            target.device = row->filesystem();
        }
    }
    return target;
}

QString Drive::formatRefusal(const FormatTarget &target) const
{
    if (target.isFolder)
        return QString();
    const SystemDetails *vehicle = Combo().getsystemDetail();
    if (!vehicle || vehicle->vehicleName.isEmpty())
        return userText(QStringLiteral("MediaLibrary_txtSelectVehicledefault"));
    return DiskFormatter(shared::dataFolder()).check(target.device, vehicle->filingSystem);
}

void Drive::checkFormat(QString drive)
{
    QString refusal;
    if (!state().dataList.contains(drive) || !QFileInfo::exists(drive)) {
        refusal = userText(7);
    } else {
        refusal = formatRefusal(formatTargetOf(drive));
        if (!refusal.isEmpty())
            refusal += QStringLiteral("\nYou can still transfer the files to it without formatting it.");
    }
    emit sgFormatChecked(drive, refusal);
}

void Drive::formatDrive(QString drive, bool format)
{
    Combo profile;
    system = profile.getsystemDetail();
    formatFailure.clear();
    if (!format || formatTarget.isFolder)
        return;
    qCDebug(lcDrive) << "formatting drive" << drive << "on" << formatTarget.device;
    DiskFormatter formatter(shared::dataFolder());
    const DiskFormatter::Outcome outcome =
        formatter.format(formatTarget.device, system ? system->filingSystem : QString(), formatTarget.label);
    formatTarget.formatted = outcome.ok;
    if (outcome.ok)
        drivePath = outcome.volumePath;
    else
        formatFailure = outcome.message;
    qCDebug(lcDrive) << "format completed" << outcome.ok << outcome.volumePath;
}

void Drive::finishFormatDrive()
{
    emit sgHideFormatWait();
    if (!formatFailure.isEmpty()) {
        // A failed format starts no copy.
        emit showMessageBox(std::exchange(formatFailure, QString()));
        return;
    }
    // A formatted drive is mounted anew: list it now rather than at the next tick.
    if (timmer && timmer->isActive() && std::exchange(formatTarget.formatted, false))
        GetDriveDetail();
    DriveState &s = state();
    qCDebug(lcDrive) << "Selected Drive" << drivePath;
    qCDebug(lcDrive) << "trackMap....." << s.trackMap.size();

    qint64 sum = 0;
    for (const track &item : std::as_const(s.trackMap))
        sum += item.filesize;

    qint64 budget = 0;
    bool folder = false;
    bool removed = false;
    for (DriveData *row : std::as_const(s.DriveList)) {
        if (row->driveletter() != drivePath)
            continue;
        if (row->isSystem() == 1) {
            budget = sum + 1;
            folder = true;
            removed = false;
        } else {
            // The budget is what the volume has available now, not what the
            // poll saw.  A stick pulled since leaves its mount folder behind
            // on the system disk, whose space is no budget for the stick.
            const Volumes::Volume volume = Volumes::volumeOf(drivePath);
            removed = volume.mountPath != drivePath;
            budget = removed ? 0 : volume.availableBytes;
            folder = false;
        }
    }
    if (removed) {
        emit showMessageBox(userText(7));
        return;
    }

    transferDetail detail;
    detail.drivePath = drivePath;
    detail.freeSpace = budget;
    detail.isSystem = folder;
    detail.overwriteall = overwriteall != 0;
    detail.overwritenewer = overwritenewer != 0;
    detail.overwritequality = overwritequality != 0;
    if (system)
        detail.system = *system;

    if (drivePath.isEmpty() || budget == 0 || !transferJob || transferJob->isRunning()) {
        qCDebug(lcDrive) << "Drive Not Selected";
        emit showMessageBox(userText(8));
        return;
    }
    s.counterfile = 0;
    s.totalfiles = int(s.trackMap.size());
    emit sgShowTransferProgress();
    DriveCopier *copier = fm.get();
    const TrackMap tracks = s.trackMap;
    transferJob->start(
        [copier, tracks, detail](const std::atomic<bool> &stop) {
            return copier->copyFilesToDrive(tracks, detail, stop);
        },
        [this](int reported) { copyEnded(reported); });
}

void Drive::copyEnded(int)
{
    // The end is told here alone, from the job's outcome: the copier's full
    // and removed signals only move the progress, whichever comes first.
    DriveState &s = state();
    const DriveCopier::Outcome &outcome = fm->lastOutcome();
    const bool cancelled = transferJob->stopRequested();
    if (outcome.halt == DriveCopier::Outcome::Full) {
        emit sgUpdateTransferProgress(1, 1, QString());
    } else if (cancelled || outcome.halt != DriveCopier::Outcome::None) {
        emit sgHideTransferProgress();
    } else if (s.counterfile < s.totalfiles) {
        // Tracks whose file had gone were never reported: the dialog still
        // reaches its end.
        s.counterfile = s.totalfiles;
        emit sgUpdateTransferProgress(s.totalfiles, s.counterfile, QString());
    }
    if (timmer && timmer->isActive())
        timerexe(0);
    emit showMessageBox(endMessage(outcome, cancelled));
}

void Drive::slOneFileCopyed(QString fileName)
{
    DriveState &s = state();
    s.counterfile += 1;
    emit sgUpdateTransferProgress(s.totalfiles, s.counterfile, fileName);
    if (s.counterfile == s.totalfiles)
        timerexe(0);
}

void Drive::slOneFileTranscoded(QString fileName)
{
    qCDebug(lcDrive) << fileName << "File Transcodec";
}

void Drive::slDiskFull()
{
    // The message comes with the job's end (copyEnded).
    emit sgUpdateTransferProgress(1, 1, QString());
}

void Drive::slDriveRemoved()
{
    // The message comes with the job's end (copyEnded).
    emit sgHideTransferProgress();
}

void Drive::slProgressStoped(int)
{
    if (!transferJob)
        return;
    transferJob->requestStop();
}
