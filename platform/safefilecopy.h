#ifndef SAFEFILECOPY_H
#define SAFEFILECOPY_H

#include <QString>

// Copies one file onto a drive without ever leaving a partial file under its
// final name: the bytes go to a hidden temporary file in the target's folder,
// (TemporaryFiles' pattern), which is renamed over the target only once complete.  An existing target
// stays untouched until that rename, so a failed copy loses nothing.
// Nothing is flushed here: the caller flushes the volume once, at the end.
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

    // `error`, when given, receives the system's error number of a failure.
    // A non-zero `device` is the volume the file must land on: a file that
    // would be made anywhere else (the folder a pulled drive leaves) is not.
    static Outcome copy(const QString &source, const QString &target, int *error = nullptr, quint64 device = 0);
};

#endif // SAFEFILECOPY_H
