#ifndef DISKFORMATTER_H
#define DISKFORMATTER_H

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <optional>

// Erases the whole removable disk that holds a mounted volume and gives it
// one MBR partition with the car system's filing system, the Linux
// counterpart of "diskutil erasedisk <fs> <name> MBRFormat <disk>".
//
// Promises:
//  - the disk is found through sysfs (a partition's parent, through
//    device-mapper holders too), never by cutting characters off a name;
//  - a disk that is not removable (an SD card counts as removable; built-in
//    eMMC storage, which also says "MMC", does not),
//    or that holds the root, home or data folder or any mounted file system
//    other than the chosen volume, is refused with a message and left
//    untouched;
//  - every step (unmount, sfdisk, mkfs, mount) runs with an argument list,
//    never a shell, under a time limit, and its exit status is read: the
//    first failure ends the format and its message is for the user;
//  - the volume name is FAT-safe (see fatLabel()).
// Blocks the calling thread (a worker's); uses no event loop.
class DiskFormatter
{
public:
    enum class FileSystem { Fat32, ExFat };
    enum Program { Sfdisk, MkfsVfat, MkfsExfat, Umount, Udisksctl };

    struct Outcome
    {
        bool ok = false;
        bool erased = false; // the partition table was rewritten
        QString message;     // why it failed, for the user
        QString device;      // the new volume's device
        QString volumePath;  // where the new volume is mounted
    };

    struct Mount
    {
        QString device;
        QString path;
    };

    // The disk holding the root, the home folder or `dataFolder` (the
    // program's data folder, handed in by the caller) is never erased.
    explicit DiskFormatter(const QString &dataFolder);

    // Test seams: the sysfs root ("/sys"), the device folder ("/dev"), the
    // mount table ("/proc/self/mounts"), a program in place of a tool, how
    // long to wait for the new volume to be mounted.
    void setSysfsRoot(const QString &root) { sysfsRoot = root; }
    void setDeviceRoot(const QString &root) { deviceRoot = root; }
    void setMountTable(const QString &path) { mountTable = path; }
    void setProgram(Program program, const QString &path) { programs[program] = path; }
    void setMountWaitMs(int msecs) { mountWaitMs = msecs; }
    void setStopFlag(const std::atomic<bool> *stop) { stopFlag = stop; }
    // Tests adjust every formatter made from now on (fake tools, a fake
    // sysfs) through this; an empty hook ends that.
    static void setTestHook(std::function<void(DiskFormatter &)> hook);

    // The volume name as FAT and exFAT accept it: ASCII (accents dropped,
    // other characters "_"), upper case, spaces and the characters mkfs
    // refuses ("*?.,;:/\|+=<>[]) as "_", at most 11 characters.
    static QString fatLabel(const QString &name);
    // `label` when no name of `taken` equals it (case-blind), else the
    // label with the smallest number 1, 2, ... appended that is free, cut
    // so that it stays within 11 characters.
    static QString uniqueLabel(const QString &label, const QStringList &taken);
    // The file system for a profile's filing-system text ("MS-DOS FAT32",
    // "exFAT"); none for anything else.
    static std::optional<FileSystem> fileSystemFor(const QString &filingSystem);

    // The mounted file systems, in mount-table order.
    QList<Mount> mounts() const;
    // The sysfs name of the whole disk holding `device` ("/dev/sdb1",
    // "/dev/nvme0n1p1", "/dev/mmcblk0p1" or a whole disk); empty when sysfs
    // knows no such block device.
    QString wholeDisk(const QString &device) const;
    // Empty when the disk holding `volumeDevice` may be erased; otherwise
    // the message that says why not.
    QString refusal(const QString &volumeDevice) const;
    // Empty when format() would try to erase the disk holding
    // `volumeDevice` with `filingSystem`; otherwise why it won't.  Erases
    // nothing and runs no program: the user is asked only after it.
    QString check(const QString &volumeDevice, const QString &filingSystem) const;

    // Erases the disk holding `volumeDevice` (mounted at `volumePath`) with
    // the profile's filing system and the volume name `label` (made
    // FAT-safe here), then waits for the new volume to be mounted.
    Outcome format(const QString &volumeDevice, const QString &filingSystem, const QString &label);

    // The erase itself on `target`: a whole-disk block device, or a disk
    // image file (FAT32 only; its partition starts at sector 2048).
    Outcome writeDisk(const QString &target, FileSystem fileSystem, const QString &label);

    // Where the only partition starts, in 512-byte sectors.
    static constexpr int partitionStartSector = 2048;

private:
    QString program(Program program) const;
    QString deviceName(const QString &device) const;
    QString blockDir(const QString &name) const;
    // The disk's removable flag is set, or it is an SD card.
    bool isRemovable(const QString &disk) const;
    QStringList underlyingDisks(const QString &name, int depth = 0) const;
    const Mount *mountHolding(const QList<Mount> &table, const QString &folder) const;
    QString partitionOf(const QString &disk) const;
    bool run(Program program, const QStringList &arguments, int timeoutMs, QString *failure,
             const QByteArray &input = QByteArray()) const;
    bool stopped() const { return stopFlag && stopFlag->load(); }

    QString sysfsRoot;
    QString deviceRoot;
    QString mountTable;
    QStringList protectedFolders;
    QMap<int, QString> programs;
    int mountWaitMs = 20000;
    const std::atomic<bool> *stopFlag = nullptr;
};

#endif // DISKFORMATTER_H
