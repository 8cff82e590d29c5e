#include "delivery/drivefile.h"

#include <sys/stat.h>

#include "platform/atomicfile.h"

bool DriveFile::write(const QString &target, const QByteArray &bytes, quint64 device, int *error, bool durable)
{
    AtomicFile out(target, AtomicFile::Replace::Existing, durable ? AtomicFile::Flush::Now : AtomicFile::Flush::Batch);
    *error = 0;
    if (!out.open()) {
        *error = out.error();
        return false;
    }
    // A pulled drive leaves its mount folder behind, on another volume.
    struct stat made
    {
    };
    if (device != 0 && (::fstat(out.handle(), &made) != 0 || quint64(made.st_dev) != device))
        return false; // the temporary file goes with `out`
    if (!out.write(bytes) || !out.commit()) {
        *error = out.error();
        return false;
    }
    return true;
}
