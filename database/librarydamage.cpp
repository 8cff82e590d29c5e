#include "database/librarydamage.h"

#include <QFile>
#include <QSqlError>

#include "database/connection.h"

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
    // The first note stands: later ones only follow from it.  A note cut
    // short still says the library is damaged.
    QFile note(notePath(library));
    if (note.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        note.write(error.databaseText().toUtf8());
        note.flush();
        ::fsync(note.handle());
    }
    return true;
}

QString LibraryDamage::noted(const QString &libraryPath)
{
    QFile note(notePath(libraryPath));
    if (!note.open(QIODevice::ReadOnly))
        return QString();
    const QString text = QString::fromUtf8(note.read(1024)).trimmed();
    return text.isEmpty() ? QStringLiteral("database disk image is malformed") : text;
}

QString LibraryDamage::notePath(const QString &libraryPath)
{
    return libraryPath + QStringLiteral("-damaged");
}
