#include "delivery/madefiles.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QSet>
#include <QSqlQuery>

#include "database/connection.h"
#include "platform/temporaryfiles.h"

namespace {

QMutex claimsMutex;
QSet<QString> &claims()
{
    static QSet<QString> names;
    return names;
}

QString key(const QString &path)
{
    return QDir::cleanPath(path);
}

bool recordedSource(const QString &output, MadeFiles::Source &source)
{
    QSqlDatabase db = Connection::forThread();
    if (!db.isOpen())
        return false;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT source, sourceSize, sourceModified FROM madeFiles WHERE path = ?"));
    query.addBindValue(key(output));
    if (!runQuery(query) || !query.next())
        return false;
    source.path = query.value(0).toString();
    source.size = query.value(1).toLongLong();
    source.modified = query.value(2).toLongLong();
    return true;
}

} // namespace

MadeFiles::Source MadeFiles::Source::of(const QString &path)
{
    const QFileInfo info(path);
    Source source;
    source.path = key(info.absoluteFilePath());
    if (info.isFile()) {
        source.size = info.size();
        source.modified = info.lastModified().toMSecsSinceEpoch();
    }
    return source;
}

QString MadeFiles::numbered(const QString &path, int n)
{
    if (n <= 1)
        return path;
    const QFileInfo info(path);
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    const QString base = info.fileName().left(info.fileName().size() - suffix.size());
    return info.path() + QLatin1Char('/') +
           TemporaryFiles::fitName(QString(), base, QStringLiteral(" (%1)").arg(n) + suffix);
}

MadeFiles::Claim MadeFiles::claim(const QString &wanted, const Source &source)
{
    QMutexLocker lock(&claimsMutex);
    for (int n = 1;; ++n) {
        const QString candidate = key(numbered(wanted, n));
        if (claims().contains(candidate))
            continue;
        if (QFileInfo::exists(candidate) || QFileInfo(candidate).isSymLink()) {
            Source recorded;
            if (source.size >= 0 && recordedSource(candidate, recorded) && recorded == source)
                return {candidate, true};
            continue;
        }
        claims().insert(candidate);
        return {candidate, false};
    }
}

bool MadeFiles::made(const QString &output, const Source &source)
{
    release(output);
    QSqlDatabase db = Connection::forThread();
    if (!db.isOpen())
        return false;
    QSqlQuery query(db);
    query.prepare(QStringLiteral("INSERT OR REPLACE INTO madeFiles(path, source, sourceSize, sourceModified) "
                                 "VALUES (?, ?, ?, ?)"));
    query.addBindValue(key(output));
    query.addBindValue(source.path);
    query.addBindValue(source.size);
    query.addBindValue(source.modified);
    return runQuery(query);
}

void MadeFiles::release(const QString &output)
{
    QMutexLocker lock(&claimsMutex);
    claims().remove(key(output));
}

QString MadeFiles::sourceOf(const QString &output)
{
    Source recorded;
    return recordedSource(output, recorded) ? recorded.path : QString();
}

QList<std::pair<MadeFiles::Source, QString>> MadeFiles::recordedOutputs()
{
    QList<std::pair<Source, QString>> outputs;
    QSqlDatabase db = Connection::forThread();
    if (!db.isOpen())
        return outputs;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT path, source, sourceSize, sourceModified FROM madeFiles"));
    if (!runQuery(query))
        return outputs;
    while (query.next()) {
        Source source;
        source.path = query.value(1).toString();
        source.size = query.value(2).toLongLong();
        source.modified = query.value(3).toLongLong();
        outputs.append({source, query.value(0).toString()});
    }
    return outputs;
}

MadeFiles::Source MadeFiles::recordedSourceOf(const QString &output)
{
    Source recorded;
    if (!recordedSource(output, recorded))
        recorded = Source();
    return recorded;
}
