#include "platform/diskformatter.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>

#include "platform/externalprogram.h"

Q_LOGGING_CATEGORY(lcFormat, "corvane.format")

namespace {

constexpr int umountTimeoutMs = 60 * 1000;
constexpr int sfdiskTimeoutMs = 60 * 1000;
// A quick format writes only the tables, but a slow card may still take a while.
constexpr int mkfsTimeoutMs = 5 * 60 * 1000;
constexpr int partitionWaitMs = 10 * 1000;
constexpr int pollMs = 200;
constexpr int labelLength = 11;

// Characters mkfs.vfat refuses in a label.
constexpr QStringView forbiddenLabelCharacters = u"*?.,;:/\\|+=<>[]\"";

QString toolName(DiskFormatter::Program program)
{
    switch (program) {
    case DiskFormatter::Sfdisk:
        return QStringLiteral("sfdisk");
    case DiskFormatter::MkfsVfat:
        return QStringLiteral("mkfs.vfat");
    case DiskFormatter::MkfsExfat:
        return QStringLiteral("mkfs.exfat");
    case DiskFormatter::Umount:
        return QStringLiteral("umount");
    case DiskFormatter::Udisksctl:
        return QStringLiteral("udisksctl");
    }
    return QString();
}

// The mount table escapes blanks, tabs, line feeds and backslashes as \ooo.
QString unescapeMountField(const QByteArray &field)
{
    QByteArray out;
    out.reserve(field.size());
    for (int i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int code = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                out.append(char(code));
                i += 3;
                continue;
            }
        }
        out.append(field[i]);
    }
    return QFile::decodeName(out);
}

QString readFirstLine(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLatin1(file.readLine()).trimmed();
}

QString lastLine(const QByteArray &text)
{
    const QList<QByteArray> lines = text.trimmed().split('\n');
    return lines.isEmpty() ? QString() : QString::fromLocal8Bit(lines.last().trimmed());
}

std::function<void(DiskFormatter &)> &testHook()
{
    static std::function<void(DiskFormatter &)> hook;
    return hook;
}

bool isBelow(const QString &folder, const QString &mountPath)
{
    if (mountPath == QLatin1String("/"))
        return true;
    return folder == mountPath || folder.startsWith(mountPath + QLatin1Char('/'));
}

} // namespace

DiskFormatter::DiskFormatter(const QString &dataFolder)
    : sysfsRoot(QStringLiteral("/sys")), deviceRoot(QStringLiteral("/dev")),
      mountTable(QStringLiteral("/proc/self/mounts")),
      protectedFolders({QStringLiteral("/"), QDir::homePath(), dataFolder})
{
    if (testHook())
        testHook()(*this);
}

void DiskFormatter::setTestHook(std::function<void(DiskFormatter &)> hook)
{
    testHook() = std::move(hook);
}

QString DiskFormatter::fatLabel(const QString &name)
{
    const QString decomposed = name.normalized(QString::NormalizationForm_KD);
    QString label;
    for (const QChar c : decomposed) {
        if (label.size() == labelLength)
            break;
        const char16_t u = c.unicode();
        if (u < 0x80) {
            if (u < 0x20 || u == 0x7f)
                continue;
            if (u == ' ' || forbiddenLabelCharacters.contains(c))
                label.append(QLatin1Char('_'));
            else
                label.append(c.toUpper());
        } else if (c.category() == QChar::Mark_NonSpacing || c.category() == QChar::Mark_SpacingCombining ||
                   c.category() == QChar::Mark_Enclosing) {
            continue; // the accent of a decomposed letter
        } else {
            label.append(QLatin1Char('_'));
        }
    }
    return label;
}

QString DiskFormatter::uniqueLabel(const QString &label, const QStringList &taken)
{
    if (!taken.contains(label, Qt::CaseInsensitive))
        return label;
    for (int n = 1;; ++n) {
        const QString suffix = QString::number(n);
        const QString candidate = label.left(labelLength - int(suffix.size())) + suffix;
        if (!taken.contains(candidate, Qt::CaseInsensitive))
            return candidate;
    }
}

std::optional<DiskFormatter::FileSystem> DiskFormatter::fileSystemFor(const QString &filingSystem)
{
    const QString upper = filingSystem.toUpper();
    if (upper.contains(QLatin1String("EXFAT")))
        return FileSystem::ExFat;
    if (upper.contains(QLatin1String("FAT32")))
        return FileSystem::Fat32;
    return std::nullopt;
}

QList<DiskFormatter::Mount> DiskFormatter::mounts() const
{
    QList<Mount> table;
    QFile file(mountTable);
    if (!file.open(QIODevice::ReadOnly))
        return table;
    // readAll() reads to the end even though /proc files report size 0.
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 2)
            continue;
        table.append({unescapeMountField(fields[0]), unescapeMountField(fields[1])});
    }
    return table;
}

QString DiskFormatter::deviceName(const QString &device) const
{
    if (!device.startsWith(deviceRoot + QLatin1Char('/')) && !device.startsWith(QLatin1String("/dev/")))
        return QString();
    // /dev/disk/by-label/... and /dev/mapper/... are links to the node.
    const QFileInfo info(device);
    const QString canonical = info.exists() ? info.canonicalFilePath() : device;
    return QFileInfo(canonical).fileName();
}

QString DiskFormatter::blockDir(const QString &name) const
{
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.startsWith(QLatin1Char('.')))
        return QString();
    return QFileInfo(sysfsRoot + QStringLiteral("/class/block/") + name).canonicalFilePath();
}

QString DiskFormatter::wholeDisk(const QString &device) const
{
    const QString dir = blockDir(deviceName(device));
    if (dir.isEmpty())
        return QString();
    if (!QFileInfo::exists(dir + QStringLiteral("/partition")))
        return QFileInfo(dir).fileName();
    // A partition's folder lies inside its disk's folder.
    const QString parent = QFileInfo(dir).dir().dirName();
    return blockDir(parent).isEmpty() ? QString() : parent;
}

QStringList DiskFormatter::underlyingDisks(const QString &name, int depth) const
{
    const QString dir = blockDir(name);
    if (dir.isEmpty() || depth > 8)
        return {};
    // A device-mapper or RAID device lives on the devices listed as its slaves.
    const QStringList slaves = QDir(dir + QStringLiteral("/slaves")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    if (slaves.isEmpty())
        return {wholeDisk(deviceRoot + QLatin1Char('/') + name)};
    QStringList disks;
    for (const QString &slave : slaves) {
        for (const QString &disk : underlyingDisks(slave, depth + 1)) {
            if (!disks.contains(disk))
                disks.append(disk);
        }
    }
    return disks;
}

const DiskFormatter::Mount *DiskFormatter::mountHolding(const QList<Mount> &table, const QString &folder) const
{
    const Mount *best = nullptr;
    for (const Mount &m : table) {
        // The last of equal mount points is the one on top.
        if (isBelow(folder, m.path) && (!best || m.path.size() >= best->path.size()))
            best = &m;
    }
    return best;
}

bool DiskFormatter::isRemovable(const QString &disk) const
{
    const QString dir = blockDir(disk);
    if (readFirstLine(dir + QStringLiteral("/removable")) == QLatin1String("1"))
        return true;
    // The kernel's SD/MMC driver never sets the removable flag, not even for
    // a card in a laptop's slot; the card's own device type tells.  Only an
    // SD card counts: "MMC" is also what the built-in eMMC storage of many
    // laptops and boards says.
    if (!disk.startsWith(QLatin1String("mmcblk")))
        return false;
    return readFirstLine(dir + QStringLiteral("/device/type")) == QLatin1String("SD");
}

QString DiskFormatter::refusal(const QString &volumeDevice) const
{
    if (volumeDevice.isEmpty())
        return QCoreApplication::translate("DiskFormatter",
                                           "No device was found for this volume, so it can't be formatted.");
    // tmpfs, a network share or a FUSE file system without a block device:
    // there is no disk to erase.
    if (deviceName(volumeDevice).isEmpty())
        return QCoreApplication::translate("DiskFormatter", "This volume is mounted from \"%1\", which is not a "
                                                            "disk, so it can't be formatted.")
            .arg(volumeDevice);
    const QString disk = wholeDisk(volumeDevice);
    if (disk.isEmpty())
        return QCoreApplication::translate("DiskFormatter", "The drive of %1 was not found, so it can't be formatted.")
            .arg(volumeDevice);
    const QString diskDevice = deviceRoot + QLatin1Char('/') + disk;
    if (!isRemovable(disk))
        return QCoreApplication::translate("DiskFormatter", "%1 is not a removable drive, so it can't be formatted.")
            .arg(diskDevice);

    const QList<Mount> table = mounts();
    for (const QString &folder : protectedFolders) {
        const QString canonical = QFileInfo(folder).canonicalFilePath();
        const Mount *m = mountHolding(table, canonical.isEmpty() ? QDir::cleanPath(folder) : canonical);
        if (m && underlyingDisks(deviceName(m->device)).contains(disk))
            return QCoreApplication::translate("DiskFormatter",
                                               "%1 holds the system, home or data folder, so it can't be formatted.")
                .arg(diskDevice);
    }
    const QString volumeName = deviceName(volumeDevice);
    for (const Mount &m : table) {
        const QString name = deviceName(m.device);
        if (name != volumeName && underlyingDisks(name).contains(disk))
            return QCoreApplication::translate("DiskFormatter",
                                               "%1 holds another mounted volume (%2), so it can't be formatted.")
                .arg(diskDevice, m.path);
    }
    return QString();
}

QString DiskFormatter::program(Program p) const
{
    const auto it = programs.constFind(p);
    if (it != programs.constEnd())
        return it.value();
    const QString name = toolName(p);
    QString found = QStandardPaths::findExecutable(name);
    // A desktop user's PATH often lacks the system folders.
    if (found.isEmpty())
        found = QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"),
                                                      QStringLiteral("/usr/bin"), QStringLiteral("/bin")});
    return found;
}

bool DiskFormatter::run(Program p, const QStringList &arguments, int timeoutMs, QString *failure,
                        const QByteArray &input) const
{
    ExternalProgram tool(program(p));
    tool.setStopFlag(stopFlag);
    tool.setStandardInput(input);
    qCDebug(lcFormat) << toolName(p) << arguments;
    const ExternalProgram::Result result = tool.run(arguments, timeoutMs);
    if (result.succeeded())
        return true;
    QString why;
    if (!result.started)
        why = QCoreApplication::translate("DiskFormatter", "%1 could not be started").arg(toolName(p));
    else if (result.timedOut)
        why = QCoreApplication::translate("DiskFormatter", "%1 did not finish in time").arg(toolName(p));
    else if (result.stopped)
        why = QCoreApplication::translate("DiskFormatter", "%1 was stopped").arg(toolName(p));
    else if (result.crashed)
        why = QCoreApplication::translate("DiskFormatter", "%1 crashed").arg(toolName(p));
    else
        why = QCoreApplication::translate("DiskFormatter", "%1 failed with exit status %2")
                  .arg(toolName(p))
                  .arg(result.exitCode);
    const QString detail = lastLine(result.standardError);
    if (!detail.isEmpty())
        why += QStringLiteral(": ") + detail;
    qCWarning(lcFormat) << why;
    if (failure)
        *failure = why;
    return false;
}

QString DiskFormatter::partitionOf(const QString &disk) const
{
    // The kernel lists the new partition after sfdisk's re-read; the device
    // node follows a moment later.
    QDeadlineTimer deadline(partitionWaitMs);
    do {
        const QString dir = blockDir(disk);
        const QStringList children = QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString &child : children) {
            if (readFirstLine(dir + QLatin1Char('/') + child + QStringLiteral("/partition")) == QLatin1String("1") &&
                QFileInfo::exists(deviceRoot + QLatin1Char('/') + child))
                return deviceRoot + QLatin1Char('/') + child;
        }
        if (stopped())
            break;
        QThread::msleep(pollMs);
    } while (!deadline.hasExpired());
    return QString();
}

DiskFormatter::Outcome DiskFormatter::writeDisk(const QString &target, FileSystem fileSystem, const QString &label)
{
    Outcome outcome;
    const bool image = QFileInfo(target).isFile();
    if (image && fileSystem == FileSystem::ExFat) {
        outcome.message = QCoreApplication::translate("DiskFormatter", "exFAT can only be made on a drive.");
        return outcome;
    }

    // One primary partition from 1 MiB to the end: type 0c (FAT32 LBA) or 07 (exFAT).
    const QByteArray script = QByteArrayLiteral("label: dos\nstart=") + QByteArray::number(partitionStartSector) +
                              QByteArrayLiteral(", type=") + (fileSystem == FileSystem::Fat32 ? "c" : "7") +
                              QByteArrayLiteral("\n");
    QString why;
    if (!run(Sfdisk, {QStringLiteral("--wipe"), QStringLiteral("always"), target}, sfdiskTimeoutMs, &why, script)) {
        outcome.message =
            QCoreApplication::translate("DiskFormatter", "The drive could not be partitioned (%1).").arg(why);
        return outcome;
    }
    outcome.erased = true;

    QString partition = target;
    if (!image) {
        partition = partitionOf(deviceName(target));
        if (partition.isEmpty()) {
            outcome.message =
                QCoreApplication::translate("DiskFormatter",
                                            "The new partition of %1 did not appear; the drive was not formatted.")
                    .arg(target);
            return outcome;
        }
    }
    outcome.device = partition;

    const QString name = fatLabel(label);
    QStringList arguments;
    Program mkfs = MkfsVfat;
    if (fileSystem == FileSystem::Fat32) {
        arguments << QStringLiteral("-F") << QStringLiteral("32");
        if (!name.isEmpty())
            arguments << QStringLiteral("-n") << name;
        if (image)
            arguments << QStringLiteral("--offset=%1").arg(partitionStartSector);
    } else {
        mkfs = MkfsExfat;
        if (!name.isEmpty())
            arguments << QStringLiteral("-L") << name;
    }
    arguments << partition;
    if (!run(mkfs, arguments, mkfsTimeoutMs, &why)) {
        outcome.message =
            QCoreApplication::translate("DiskFormatter", "The file system could not be made (%1).").arg(why);
        return outcome;
    }
    outcome.ok = true;
    return outcome;
}

QString DiskFormatter::check(const QString &volumeDevice, const QString &filingSystem) const
{
    if (!fileSystemFor(filingSystem))
        return QCoreApplication::translate("DiskFormatter",
                                           "The filing system \"%1\" cannot be made here, so the drive can't be "
                                           "formatted.")
            .arg(filingSystem);
    return refusal(volumeDevice);
}

DiskFormatter::Outcome DiskFormatter::format(const QString &volumeDevice, const QString &filingSystem,
                                             const QString &label)
{
    Outcome outcome;
    // Asked again: the disk may have changed since the user was asked.
    outcome.message = check(volumeDevice, filingSystem);
    if (!outcome.message.isEmpty())
        return outcome;
    const std::optional<FileSystem> fileSystem = fileSystemFor(filingSystem);
    const QString disk = wholeDisk(volumeDevice);

    // Every file system of the disk is unmounted, the innermost first.
    QList<Mount> onDisk;
    for (const Mount &m : mounts()) {
        if (underlyingDisks(deviceName(m.device)).contains(disk))
            onDisk.append(m);
    }
    std::stable_sort(onDisk.begin(), onDisk.end(),
                     [](const Mount &a, const Mount &b) { return a.path.size() > b.path.size(); });
    QString why;
    for (const Mount &m : std::as_const(onDisk)) {
        if (!run(Umount, {m.path}, umountTimeoutMs, &why)) {
            outcome.message = QCoreApplication::translate(
                                  "DiskFormatter", "The drive could not be unmounted (%1); it was not formatted.")
                                  .arg(why);
            return outcome;
        }
    }

    outcome = writeDisk(deviceRoot + QLatin1Char('/') + disk, *fileSystem, label);
    if (!outcome.ok)
        return outcome;

    // The desktop mounts the new volume; where nothing does, udisks is asked once.
    const QString partitionName = deviceName(outcome.device);
    QDeadlineTimer deadline(mountWaitMs);
    bool asked = false;
    do {
        for (const Mount &m : mounts()) {
            if (deviceName(m.device) == partitionName) {
                outcome.volumePath = m.path;
                return outcome;
            }
        }
        if (stopped())
            break;
        if (!asked && deadline.remainingTime() < mountWaitMs / 2 && !program(Udisksctl).isEmpty()) {
            asked = true;
            run(Udisksctl,
                {QStringLiteral("mount"), QStringLiteral("--no-user-interaction"), QStringLiteral("-b"),
                 outcome.device},
                umountTimeoutMs, nullptr);
            continue;
        }
        QThread::msleep(pollMs);
    } while (!deadline.hasExpired());
    outcome.ok = false;
    outcome.message =
        QCoreApplication::translate("DiskFormatter", "The drive was formatted, but its new volume was not mounted. "
                                                     "Plug the drive in again and start the transfer again.");
    return outcome;
}
