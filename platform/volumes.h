#ifndef VOLUMES_H
#define VOLUMES_H

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// The mounted file systems a transfer can write to: the removable volumes
// mounted below the usual roots (/media, /run/media, /Volumes), with their
// sizes.  Sizes are measured each time they are asked for, never cached.
class Volumes
{
public:
    struct Volume
    {
        QString mountPath;      // where it is mounted
        QString device;         // what it is mounted from, e.g. /dev/sdb1
        QString fileSystemType; // as the kernel names it: vfat, exfat, fuseblk, ext4 …
        qint64 totalBytes = 0;
        qint64 freeBytes = 0;
        qint64 availableBytes = 0;  // what an ordinary write may still use
    };

    // The mounted, writable volumes whose mount path lies below one of the
    // roots, in the order the system lists its mounts.
    static QList<Volume> removableVolumes();

    // The volume that holds `path` (a mount path or any file below one),
    // measured now; an empty mountPath when the path doesn't exist.
    static Volume volumeOf(const QString &path);

    // True when the file system can't hold the characters " * : < > ? \ |
    // or a trailing dot or space in a name (FAT, exFAT, NTFS and the FUSE
    // block-device mounts that serve them).
    static bool hasFatNames(const QString &fileSystemType);

    // Writes everything cached for the file system holding `path` to its
    // device.  False when that fails (for instance the device is gone).
    // `handle`, when given, is a descriptor on that file system opened when
    // the work began: its flush also reports a write-back error the kernel
    // met before the flush, which a descriptor opened now would not see.
    static bool flush(const QString &path, int handle = -1);
    // A descriptor to pass to flush() for the volume holding the folder
    // `path`, or -1; the caller closes it.
    static int flushHandle(const QString &path);
    // Tests put a flush of their own in place of the system's (one that
    // fails, say); an empty one restores it.  Set it while no job runs.
    using FlushFunction = std::function<bool(const QString &path)>;
    static void setFlushFunction(FlushFunction flush);

    // The roots looked below; tests point them at folders of their own.  An
    // empty list restores the defaults.
    static QStringList roots();
    static void setRoots(const QStringList &roots);
};

#endif // VOLUMES_H
