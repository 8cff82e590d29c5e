#include "libraryfixture.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

#include "core/shared.h"
#include "database/connection.h"
#include "database/database.h"

namespace testkit {

namespace {

QSqlQuery run(const QString &sql, const QVariantList &values, bool *ok)
{
    QSqlQuery query(Connection::forThread());
    query.prepare(sql);
    for (const QVariant &value : values)
        query.addBindValue(value);
    *ok = query.exec();
    return query;
}

// The id of a staged artist or album name, inserted when missing.
QVariant stagedName(const QString &table, const QString &name)
{
    if (name.isNull())
        return 0;
    if (const QVariant id = scalar(QStringLiteral("SELECT id FROM %1 WHERE name = ?").arg(table), {name}); id.isValid())
        return id;
    bool ok = false;
    const QSqlQuery query = run(table == QLatin1String("albumsRepo")
                                    ? "INSERT INTO albumsRepo(name, artist_id, cover, year) VALUES (?,0,'',0)"
                                    : "INSERT INTO artistsRepo(name) VALUES (?)",
                                {name}, &ok);
    return ok ? query.lastInsertId() : QVariant();
}

} // namespace

QString libraryFile()
{
    return shared::dataFolder() + QStringLiteral("/ruvo.db");
}

void forgetLibrary()
{
    if (QSqlDatabase::contains(QSqlDatabase::defaultConnection)) {
        QSqlDatabase::database(QSqlDatabase::defaultConnection, false).close();
        QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
    }
    for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        QFile::remove(libraryFile() + suffix);
}

bool openLibrary()
{
    forgetLibrary();
    Database db;
    return db.connect(QStringLiteral("RuvoData"), true) && (db.create(), true);
}

bool exec(const QString &sql, const QVariantList &values)
{
    bool ok = false;
    const QSqlQuery query = run(sql, values, &ok);
    if (!ok)
        qWarning("%s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
    return ok;
}

QVariant scalar(const QString &sql, const QVariantList &values)
{
    bool ok = false;
    QSqlQuery query = run(sql, values, &ok);
    return ok && query.next() ? query.value(0) : QVariant();
}

int count(const QString &table)
{
    return scalar(QStringLiteral("SELECT count(*) FROM ") + table).toInt();
}

bool touch(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

track makeTrack(const QString &path, const QString &album, const QString &artist)
{
    track t;
    t.filepath = t.sourcePath = path;
    t.filename = QFileInfo(path).fileName();
    t.folderLocation = QFileInfo(path).path();
    t.trackname = QStringLiteral("Song");
    t.artistName = artist;
    t.albumName = album;
    t.genre = QStringLiteral("Rock");
    t.year = 2001;
    t.bitrate = 192;
    t.frequency = 44100;
    t.duration = 3.5;
    t.cover = shared().noArtworkUrl;
    return t;
}

track makeVideo(int id, const QString &path)
{
    track t;
    t.id = id;
    t.isVideo = true;
    t.sourcePath = t.filepath = path;
    t.filename = QFileInfo(path).fileName();
    t.trackname = QFileInfo(path).completeBaseName();
    return t;
}

bool stage(const QString &folder, const QList<StagedRow> &rows)
{
    for (const StagedRow &row : rows) {
        const QString file = row.title + QStringLiteral(".mp3");
        if (!exec(QStringLiteral("INSERT INTO TrackRepo(filename, trackname, filepath, bitrate, tracknumber, "
                                 "duration, artist_id, album_id, genre, year, Playlist, folderLocation) "
                                 "VALUES (?,?,?,?,?,?,?,?,'Rock',2001,?,?)"),
                  {file, row.title, folder + QLatin1Char('/') + file, row.bitrate, row.tracknumber, row.duration,
                   stagedName(QStringLiteral("artistsRepo"), row.artist),
                   stagedName(QStringLiteral("albumsRepo"), row.album), row.playlist, folder}))
            return false;
    }
    return true;
}

} // namespace testkit
