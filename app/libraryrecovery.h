#ifndef LIBRARYRECOVERY_H
#define LIBRARYRECOVERY_H

#include <QString>
#include <QStringList>

// A library file that can't be used is never replaced in place: at start it
// is moved aside under a name that says it is damaged (its journal files
// with it), a new library is started, and the program's own copies in the
// library folder are read back into it from their tags, so that nothing the
// user added is lost.  The user is told once, naming where the old file is.
class LibraryRecovery
{
public:
    struct Damage
    {
        bool found = false;
        QString reason;  // what is wrong with it, for the user
        QString keptAt;  // where it is now; empty when it couldn't be moved
    };
    struct Restored
    {
        int stored = 0;
        QStringList failed; // copies that couldn't be read or stored
    };

    // Checks the library at `libraryPath` before anything opens it: a file
    // that is empty, isn't a database, is cut short, fails SQLite's check of
    // every page or was found damaged by an earlier run, or anything that
    // isn't a file at all, is moved aside (with its journal and the note).
    // No file at all is a first start and no damage; nor is a check that
    // can't run (a full disk).
    static Damage setAsideIfDamaged(const QString &libraryPath);
    // The same with the check already made: `reason` is what problemWith
    // said (empty: nothing to do).
    static Damage setAside(const QString &libraryPath, const QString &reason);
    // Why the library at `libraryPath` can't be used; empty when it can (or
    // doesn't exist).  Opens it on a connection of its own, changes nothing;
    // any thread.
    static QString problemWith(const QString &libraryPath);
    // Reads every media file below `folder` (the program's copies) and
    // stores it in the open library.  A conversion the cache keeps of a song
    // already taken back from its copy is left out: it is no second song.
    // GUI thread, before the library is loaded.
    static Restored restoreCopies(const QString &folder);
    // The one message that tells the user what happened.
    static QString message(const QString &libraryPath, const Damage &damage, const Restored &restored);
};

#endif // LIBRARYRECOVERY_H
