#include "app/libraryrecovery.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include <algorithm>

#include <unistd.h>

#include "app/libraryadder.h"
#include "core/logging.h"
#include "core/tagobject.h"
#include "core/track.h"
#include "database/librarydamage.h"
#include "database/ruvodb.h"
#include "delivery/ffmpeghandler.h"

namespace {

Q_LOGGING_CATEGORY(lcRecovery, "corvane.database")

// One connection name per thread: the start checks on a worker.
QString checkConnection()
{
    return QStringLiteral("corvane-library-check-%1").arg(quintptr(QThread::currentThreadId()), 0, 16);
}

// A free name beside the library that says what it is; an existing file or
// folder there is never taken.
QString asideName(const QString &libraryPath)
{
    const QString base =
        libraryPath + QStringLiteral(".damaged-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString name = base;
    for (int n = 2; QFileInfo::exists(name) || QFileInfo(name).isSymLink(); ++n)
        name = base + QStringLiteral("-%1").arg(n);
    return name;
}

bool moveAside(const QString &from, const QString &to)
{
    // rename(2) would replace an existing file: the name was free a moment
    // ago, and a link() + unlink() pair keeps it that way for files.
    const QFileInfo info(from);
    if (info.isDir() && !info.isSymLink())
        return QDir().rename(from, to);
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::link(source.constData(), target.constData()) != 0)
        return false;
    return ::unlink(source.constData()) == 0;
}

// What the file's own header says of it: empty when the header is a
// library's and the file holds every page the header counts.  Reads 100
// bytes, so it costs nothing whatever the library's size.
QString headerProblem(const QString &libraryPath, qint64 size)
{
    QFile file(libraryPath);
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    const QByteArray header = file.read(100);
    if (header.size() < 100 || !header.startsWith(QByteArrayLiteral("SQLite format 3\0")))
        return QStringLiteral("its header is not that of a library");
    const auto word = [&header](int at) {
        return quint32(quint8(header[at])) << 24 | quint32(quint8(header[at + 1])) << 16 |
               quint32(quint8(header[at + 2])) << 8 | quint32(quint8(header[at + 3]));
    };
    const quint32 rawPageSize = quint32(quint8(header[16])) << 8 | quint8(header[17]);
    const qint64 pageSize = rawPageSize == 1 ? 65536 : rawPageSize;
    if (pageSize < 512 || (pageSize & (pageSize - 1)) != 0)
        return QStringLiteral("its header is not that of a library");
    if (size % pageSize != 0)
        return QStringLiteral("the file is cut short");
    // The page count is to be trusted only when written by the same change
    // as the change counter.
    const qint64 pages = word(28);
    if (pages != 0 && word(92) == word(24) && size < pages * pageSize)
        return QStringLiteral("the file is cut short");
    return QString();
}

} // namespace

QString LibraryRecovery::problemWith(const QString &libraryPath)
{
    const QFileInfo info(libraryPath);
    if (!info.exists() && !info.isSymLink())
        return QString();
    if (info.isDir())
        return QStringLiteral("a folder stands in its place");
    if (!info.isFile())
        return QStringLiteral("it is not a file");
    if (info.size() == 0)
        return QStringLiteral("the file is empty");

    // Damage SQLite met while an earlier run used the file.
    const QString noted = LibraryDamage::noted(libraryPath);
    if (!noted.isEmpty())
        return noted;

    // The header tells a file cut short at no cost; a file cut off mid-write
    // has its journal to fold in first, which the page check does.
    const QFileInfo log(libraryPath + QStringLiteral("-wal"));
    const bool cutOff = log.exists() && log.size() > 0;
    if (!cutOff) {
        const QString header = headerProblem(libraryPath, info.size());
        if (!header.isEmpty())
            return header;
    }

    // Every page of every table and index is read: a damaged page anywhere
    // would otherwise show as an empty or short library, and the next add
    // would copy the songs a second time.  Only SQLite's word that the file
    // is damaged counts; a full disk or a file it can't open is no damage.
    QString problem;
    const QString connection = checkConnection();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(libraryPath);
        // Read-only: the check must neither write a damaged file nor fold
        // its journal into it (a read-write close would checkpoint the WAL).
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!db.open()) {
            if (LibraryDamage::isDamage(db.lastError()))
                problem = db.lastError().databaseText();
            else
                qCWarning(lcRecovery) << "the library could not be checked:" << db.lastError().text();
        } else {
            QSqlQuery query(db);
            query.setForwardOnly(true);
            QStringList findings;
            if (query.exec(QStringLiteral("PRAGMA quick_check"))) {
                while (query.next())
                    findings << query.value(0).toString();
            }
            if (query.lastError().isValid()) {
                if (LibraryDamage::isDamage(query.lastError()))
                    problem = query.lastError().databaseText();
                else
                    qCWarning(lcRecovery) << "the library could not be checked:" << query.lastError().text();
            } else if (findings != QStringList{QStringLiteral("ok")}) {
                problem = findings.isEmpty() ? QStringLiteral("the check found nothing to read") : findings.first();
            }
            query.finish();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return problem.trimmed();
}

LibraryRecovery::Damage LibraryRecovery::setAsideIfDamaged(const QString &libraryPath)
{
    return setAside(libraryPath, problemWith(libraryPath));
}

LibraryRecovery::Damage LibraryRecovery::setAside(const QString &libraryPath, const QString &reason)
{
    Damage damage;
    damage.reason = reason;
    if (damage.reason.isEmpty())
        return damage;
    damage.found = true;

    // A connection this process still holds on the file would keep working
    // on the moved file.
    const QString defaultName = QString::fromLatin1(QSqlDatabase::defaultConnection);
    if (QSqlDatabase::contains(defaultName) && QSqlDatabase::database(defaultName, false).databaseName() == libraryPath) {
        QSqlDatabase::database(defaultName, false).close();
        QSqlDatabase::removeDatabase(defaultName);
    }

    const QString aside = asideName(libraryPath);
    if (!moveAside(libraryPath, aside)) {
        qCWarning(lcRecovery) << "the damaged library" << libraryPath << "could not be moved aside";
        return damage;
    }
    damage.keptAt = aside;
    // The journal belongs to the file it was written for.
    for (const QString &suffix :
         {QStringLiteral("-wal"), QStringLiteral("-shm"), QStringLiteral("-journal"), QStringLiteral("-damaged")}) {
        if (QFileInfo::exists(libraryPath + suffix) && !moveAside(libraryPath + suffix, aside + suffix))
            qCWarning(lcRecovery) << "could not move" << libraryPath + suffix << "beside the damaged library";
    }
    Logging::getInstance()->WriteLog(QStringLiteral("Damaged library kept as %1: ").arg(aside), damage.reason);
    return damage;
}

LibraryRecovery::Restored LibraryRecovery::restoreCopies(const QString &folder)
{
    Restored restored;
    if (!QFileInfo(folder).isDir())
        return restored;
    // Hidden files are temporary files of a run that died, not copies;
    // links are not followed.
    QStringList paths;
    QDirIterator it(folder, QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        if (!it.fileInfo().isSymLink())
            paths << it.filePath();
    }
    paths.sort();
    // The conversion cache also keeps what transfers converted for the car
    // from songs the library holds as copies: read after the copies, a
    // song already taken back is not taken a second time.
    const QString cache = ffmpeghandler::cacheFolder() + QLatin1Char('/');
    std::stable_partition(paths.begin(), paths.end(),
                          [&cache](const QString &path) { return !path.startsWith(cache); });
    QHash<QString, QList<track>> songs; // by artist, album, title and number

    ruvoDB library;
    int idCounter = 1;
    for (const QString &path : std::as_const(paths)) {
        QFileInfo file(path);
        const QString suffix = file.suffix().toLower();
        const bool isAudio = track_data::audioFilter.contains(suffix);
        const bool isVideo = track_data::videoFilter.contains(suffix);
        if (!isAudio && !isVideo)
            continue;
        TagObject tags;
        if (!track_data::ParseTags(tags, path)) {
            restored.failed << path;
            continue;
        }
        track record;
        record.filepath = path;
        record.sourcePath = path;
        library.MapToTrack(idCounter, record, tags, file, false, QString(), isVideo, isAudio);
        if (record.id <= 0) {
            restored.failed << path;
            continue;
        }
        const QString key =
            QStringList{record.artistName, record.albumName, record.trackname, QString::number(record.tracknumber)}
                .join(QChar(0));
        QList<track> &same = songs[key];
        if (isAudio && path.startsWith(cache) && std::any_of(same.cbegin(), same.cend(), [&record](const track &t) {
                return LibraryAdder::sameSong(t, record);
            }))
            continue;
        // The library gives the row its id.
        record.id = 0;
        if (library.storeTrack(record) > 0) {
            ++restored.stored;
            if (isAudio)
                same.append(record);
        } else {
            restored.failed << path;
        }
    }
    // The records went through the scan's map on their way; no scan owns them.
    track_data::track_obj_map.clear();
    return restored;
}

QString LibraryRecovery::message(const QString &libraryPath, const Damage &damage, const Restored &restored)
{
    QString text = QStringLiteral("The library \"%1\" could not be used (%2).").arg(libraryPath, damage.reason);
    if (damage.keptAt.isEmpty())
        return text + QStringLiteral(" It could not be moved aside and was left as it is; the library is not open.");
    text += QStringLiteral("\nIt was kept unchanged as \"%1\".").arg(damage.keptAt);
    text += QStringLiteral("\nA new library was started; it took back the %1 file(s) the program had copied into \"%2\".")
                .arg(restored.stored)
                .arg(ruvoDB::programCopyFolder());
    if (!restored.failed.isEmpty()) {
        text += QStringLiteral("\nThese files could not be read back:");
        for (const QString &path : restored.failed)
            text += QLatin1Char('\n') + path;
    }
    return text;
}
