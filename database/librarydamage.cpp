#include "database/librarydamage.h"

#include <QFile>
#include <QSqlError>

#include "database/connection.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {

// SQLite's primary result codes for a damaged file (the low byte of an
// extended code).
constexpr int sqliteCorrupt = 11;
constexpr int sqliteNotADatabase = 26;

} // namespace

bool LibraryDamage::isDamage(const QSqlError &error)
{
    if (!error.isValid())
        return false;
    bool numeric = false;
    const int code = error.nativeErrorCode().toInt(&numeric) & 0xff;
    return numeric && (code == sqliteCorrupt || code == sqliteNotADatabase);
}

bool LibraryDamage::noteIfDamage(const QSqlError &error)
{
    if (!isDamage(error))
        return false;
    const QString library = Connection::libraryPath();
    if (library.isEmpty())
        return true;
    qCWarning(lcDatabase).noquote() << "- Database -> The library is damaged:" << error.text();
    // The first note stands: later ones only follow from it.  It names the
    // file it is about: a library put in the damaged one's place is not it.
    struct stat info;
    if (!noted(library).isEmpty() || ::stat(QFile::encodeName(library).constData(), &info) != 0)
        return true;
    QFile::remove(notePath(library));
    QFile note(notePath(library));
    if (note.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        note.write(QByteArray::number(quint64(info.st_ino)) + '\n' + error.databaseText().toUtf8());
        note.flush();
        ::fsync(note.handle());
    }
    return true;
}

QString LibraryDamage::noted(const QString &libraryPath)
{
    QFile note(notePath(libraryPath));
    struct stat info;
    if (!note.open(QIODevice::ReadOnly) || ::stat(QFile::encodeName(libraryPath).constData(), &info) != 0)
        return QString();
    const QByteArray inode = note.readLine(32).trimmed();
    if (inode != QByteArray::number(quint64(info.st_ino)))
        return QString();
    const QString text = QString::fromUtf8(note.read(1024)).trimmed();
    return text.isEmpty() ? QStringLiteral("database disk image is malformed") : text;
}

QString LibraryDamage::notePath(const QString &libraryPath)
{
    return libraryPath + QStringLiteral("-damaged");
}
