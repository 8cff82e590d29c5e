#ifndef WALINDEXROOM_H
#define WALINDEXROOM_H

#include <QString>

// SQLite keeps the index of the library's write-ahead log in "ruvo.db-shm",
// a file it makes when the library is first opened and deletes when the
// last connection closes.  On a disk filled to the last byte that file can't
// be made again, no statement runs and the library would show empty.  So its
// room is kept from run to run: a second name holds the index file's blocks
// once SQLite has let go of its own, and hands them back before the next
// open (SQLite cuts a stale index short and grows it again at once, into the
// room it has just freed).  Every connection of every thread shares that
// index as before.  The files are the program's own, in its data folder.
class WalIndexRoom
{
public:
    // Before the library is opened: the kept room goes back in the index's
    // place when the index file is missing.
    static void giveBack(const QString &libraryPath);
    // Once the library is open: the index file is kept under the second name
    // too (replacing what was kept of an earlier index).
    static void keep(const QString &libraryPath);
    // The second name.
    static QString roomPath(const QString &libraryPath);
};

#endif // WALINDEXROOM_H
