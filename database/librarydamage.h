#ifndef LIBRARYDAMAGE_H
#define LIBRARYDAMAGE_H

#include <QString>

class QSqlError;

// SQLite saying the library file is damaged ("database disk image is
// malformed", "file is not a database") while the program uses it is
// written down beside the file, so that the next start keeps the file aside
// and tells the user, whatever its own check of the file finds.  Any other
// failure (a full disk, a lock, a file that can't be opened) is no damage.
class LibraryDamage
{
public:
    // Whether `error` is SQLite's word that the file is damaged.
    static bool isDamage(const QSqlError &error);
    // Notes the damage of the open library when `error` says so; true then.
    static bool noteIfDamage(const QSqlError &error);
    // What an earlier note says of the library at `libraryPath`; empty when
    // none was written, or it was written of another file in its place.
    static QString noted(const QString &libraryPath);
    // The note's file beside the library: it goes where the library goes.
    static QString notePath(const QString &libraryPath);
};

#endif // LIBRARYDAMAGE_H
