#include "database/filejournal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#include "database/connection.h"
#include "database/transaction.h"
#include "platform/writeorder.h"

namespace {

// The library folder as the journal's paths spell it, and canonically.
struct LibraryRoot
{
    QString given;
    QString canonical;
};

// Deletes the file of `path` when it is ours to delete; true when it is gone
// (or was never made).
bool removeOwnFile(const QString &path, const LibraryRoot &root, bool &deleted)
{
    deleted = false;
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0)
        return errno == ENOENT;
    if (!S_ISREG(st.st_mode))
        return true; // a link or a folder by that name is not a file we made
    // Never through a link below the library folder: a linked folder would
    // lead to a file that is another path's (and perhaps a row's).  A link
    // above it (a home folder reached through one) changes nothing.
    if (root.canonical.isEmpty())
        return true;
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QString unlinked; // where the file is canonically when no link leads to it
    if (absolute.startsWith(root.given + QLatin1Char('/')))
        unlinked = root.canonical + absolute.mid(root.given.size());
    else if (absolute.startsWith(root.canonical + QLatin1Char('/')))
        unlinked = absolute;
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (unlinked.isEmpty() || canonical != unlinked)
        return true;
    if (::unlink(QFile::encodeName(canonical).constData()) != 0)
        return errno == ENOENT;
    deleted = true;
    return true;
}

void pruneUpTo(const QString &path, const QString &root)
{
    QDir folder = QFileInfo(path).absoluteDir();
    while (folder.canonicalPath().startsWith(root + QLatin1Char('/'))) {
        const QString name = folder.dirName();
        if (!folder.cdUp() || !folder.rmdir(name))
            break;
    }
}

} // namespace

bool FileJournal::note(QSqlDatabase db, const QStringList &paths)
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral("INSERT OR IGNORE INTO unsettledFiles(path) VALUES (?)"));
    for (const QString &path : paths) {
        query.bindValue(0, path);
        if (!runQuery(query))
            return false;
        WriteOrder::record(WriteOrder::Event::JournalNoted, path);
    }
    return true;
}

bool FileJournal::note(const QStringList &paths)
{
    if (paths.isEmpty())
        return true;
    QSqlDatabase db = Connection::forThread();
    Transaction transaction(db);
    return transaction.isActive() && note(db, paths) && transaction.commit();
}

bool FileJournal::forget(QSqlDatabase db, const QString &path)
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral("DELETE FROM unsettledFiles WHERE path = ?"));
    query.addBindValue(path);
    return runQuery(query);
}

int FileJournal::settle(const QString &libraryFolder, const QStringList &only, bool pruneFolders)
{
    QSqlDatabase db = Connection::forThread();
    if (!db.isOpen())
        return -1;
    QStringList paths = only;
    if (paths.isEmpty()) {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        if (!runQuery(query, QStringLiteral("SELECT path FROM unsettledFiles")))
            return -1;
        while (query.next())
            paths << query.value(0).toString();
    }
    const LibraryRoot root{QDir::cleanPath(QDir(libraryFolder).absolutePath()), QDir(libraryFolder).canonicalPath()};
    // Prepared once: a removal settles every file it takes.
    QSqlQuery owner(db);
    owner.setForwardOnly(true);
    QSqlQuery made(db);
    QSqlQuery unsettled(db);
    if (!owner.prepare(QStringLiteral("SELECT 1 FROM tracks WHERE Filepath = ? LIMIT 1")) ||
        !made.prepare(QStringLiteral("DELETE FROM madeFiles WHERE path = ?")) ||
        !unsettled.prepare(QStringLiteral("DELETE FROM unsettledFiles WHERE path = ?")))
        return -1;
    // Decided and written down in one transaction per group of paths: a row
    // that commits meanwhile can't lose its file, and a removal of thousands
    // of files waits for the disk once per group rather than once per file.
    constexpr qsizetype groupSize = 256;
    int deleted = 0;
    for (qsizetype first = 0; first < paths.size(); first += groupSize) {
        Transaction transaction(db);
        if (!transaction.isActive())
            continue;
        QStringList gone;
        for (const QString &path : paths.mid(first, groupSize)) {
            owner.bindValue(0, path);
            if (!runQuery(owner))
                continue;
            const bool owned = owner.next();
            owner.finish();
            bool removed = false;
            if (!owned && !removeOwnFile(path, root, removed))
                continue; // tried again at the next settling
            if (!owned) {
                made.bindValue(0, path);
                if (!runQuery(made))
                    continue;
            }
            unsettled.bindValue(0, path);
            if (runQuery(unsettled) && removed)
                gone << path;
        }
        // Not committed: the journal still names them, and a file already
        // gone counts as settled the next time.
        if (!transaction.commit())
            continue;
        deleted += int(gone.size());
        if (pruneFolders)
            for (const QString &path : std::as_const(gone))
                pruneUpTo(path, root.canonical);
    }
    return deleted;
}
