#ifndef WRITEORDER_H
#define WRITEORDER_H

#include <QString>

#include <functional>

// The order in which the program puts things on the disk: files made,
// synced and given their names, volumes synced, paths written down in the
// file journal, track rows written, library transactions committed (and
// whether the commit waited for the disk).  A power cut keeps a prefix of
// what was synced, so this order is what decides that nothing is ever
// recorded before it is on the disk.
//
// Nothing is recorded, and nothing costs more than one atomic load, unless
// a recorder is installed (tests do, to check the order).
class WriteOrder
{
public:
    enum class Event {
        FileCreated,      // a temporary file made for the target `path` (or, for a
                          // file new on a drive, `path` itself)
        FileSynced,       // the data of that temporary file synced
        PlacingUnguarded, // about to be renamed to `path` by a file system that can't
                          // refuse to replace in the rename itself: the name is
                          // looked at first, then taken
        FilePlaced,       // the temporary file renamed to `path`
        FolderSynced,     // `path`'s folder synced after the rename
        VolumeSynced,     // the file system holding `path` synced (syncfs)
        JournalNoted,     // `path` written down as unsettled, to be committed
        RowWritten,       // a track row naming `path` written, to be committed
        Committed,        // a library transaction committed, not yet on the disk
        CommittedDurably, // a library transaction committed and on the disk
    };
    using Recorder = std::function<void(Event event, const QString &path)>;

    // Installs `recorder` (an empty one ends the recording).  It is called
    // on the thread that does the write, right after it.
    static void setRecorder(Recorder recorder);
    static bool recording();
    static void record(Event event, const QString &path = QString());
};

#endif // WRITEORDER_H
