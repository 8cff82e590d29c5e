#ifndef SAFEFILECOPY_H
#define SAFEFILECOPY_H

#include <QString>

// Copies one file without ever leaving a partial file under its final name
// (through AtomicFile; copyNew() is the exception): an existing target stays untouched until the
// complete copy takes its place, so a failed copy loses nothing.  The copy
// is one of a batch: the caller syncs the volume once (AtomicFile::syncVolume)
// before it records or reports any copy of the batch.
class SafeFileCopy
{
public:
    enum Outcome {
        Copied,
        SourceUnreadable,  // the source can't be opened or read: nothing written
        VolumeFull,        // no space left (ENOSPC, EDQUOT)
        WriteFailed,       // any other failure on the target's side
        TargetGone,        // the target's folder is no longer on the expected volume
    };

    // Whether the copy gets its source's access and modification times,
    // set through the open file (no second look-up of the target).
    enum class Times { Own, Source };

    // `error`, when given, receives the system's error number of a failure.
    // A non-zero `device` is the volume the file must land on: a file that
    // would be made anywhere else (the folder a pulled drive leaves) is not.
    static Outcome copy(const QString &source, const QString &target, int *error = nullptr, quint64 device = 0,
                        Times times = Times::Own);
    // A file new at `target` (which must not exist), written straight under
    // its name: no temporary file and no rename.  A failure removes what was
    // written, but a kill or a cut can leave a partial file there: only for a
    // caller who keeps its own record of what is complete.
    static Outcome copyNew(const QString &source, const QString &target, int *error = nullptr, quint64 device = 0,
                           Times times = Times::Own);
};

#endif // SAFEFILECOPY_H
