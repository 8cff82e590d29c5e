#ifndef FILEJOURNAL_H
#define FILEJOURNAL_H

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

// The files below the library folder whose fate is not settled yet, kept in
// the library database: the targets an add is about to make, and the files a
// removal is about to delete.  A file is written down here before it is made
// (or before the rows that own it go), and the entry goes in the same
// transaction as the track row that owns the file.  So whatever moment a
// kill picks, settling the journal at the next start leaves every file it
// names either owned by a track row or deleted: the library folder never
// keeps a file of ours that no row owns.
class FileJournal
{
public:
    // Writes the paths down, in the caller's transaction on `db`, or in one
    // of their own.  False when that failed: then nothing may be made.
    static bool note(QSqlDatabase db, const QStringList &paths);
    static bool note(const QStringList &paths);
    // Takes the path off, in the caller's transaction (the one that stores
    // the row owning the file).
    static bool forget(QSqlDatabase db, const QString &path);

    // Settles the named paths (all of the journal when `only` is empty): a
    // path a track row names keeps its file; any other file goes -- only a
    // regular file canonically below `libraryFolder`, never through a link
    // -- with the record of what it was made from.  `pruneFolders` also
    // removes the folders this leaves empty, up to the library folder.
    // Returns how many files were deleted; -1 when the journal can't be read.
    static int settle(const QString &libraryFolder, const QStringList &only = QStringList(),
                      bool pruneFolders = false);
};

#endif // FILEJOURNAL_H
