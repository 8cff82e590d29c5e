#ifndef DRIVEFILE_H
#define DRIVEFILE_H

#include <QByteArray>
#include <QString>

// The transfer's own small files on the drive (playlists, the drive's
// record), written as the media are copied: through AtomicFile, a temporary
// file beside the target renamed over it once complete, on the job's volume
// only.  Like a copy it is one of a batch: the caller syncs the volume once
// before the job reports its end.
namespace DriveFile {

// Writes `bytes` as the file at `target`.  `device` non-zero: the volume it
// must land on.  On failure `error` receives the system's error number (0
// when the file would have landed elsewhere).  `durable`: the file is on the
// disk when it returns, not left to the batch's flush.
bool write(const QString &target, const QByteArray &bytes, quint64 device, int *error, bool durable = false);

} // namespace DriveFile

#endif // DRIVEFILE_H
