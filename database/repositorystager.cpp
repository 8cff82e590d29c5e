#include "database/repositorystager.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QSqlQuery>
#include <QVariant>

#include <memory>

#include "core/logging.h"
#include "core/shared.h"
#include "database/connection.h"
#include "database/sqlitestatement.h"
#include "database/transaction.h"

namespace {

// Absent text is staged as "" (several columns are NOT NULL, and the
// duplicate test compares the playlist name as text).
QVariant textValue(const QString &text)
{
    return text.isNull() ? QVariant(QStringLiteral("")) : QVariant(text);
}

// Rows a batch knows to be there, so a scan's repeated genres, years and
// artists skip their look-ups.  Exact names only (albums match in any
// letter case).  Valid within one transaction, which holds the write lock:
// emptied at each commit, as other writers may change the tables between
// transactions, and when a record's savepoint rolls back.
struct KnownRows
{
    QSet<QString> genres;
    QSet<int> years;
    QHash<QString, qint64> artists; // name -> id the look-up gives
    // An album's row, by its name with ASCII letters lowered (the look-up's
    // NOCASE), and the picture file this batch last found and set as its
    // cover: the album's next tracks with that picture need neither.
    struct Album
    {
        qint64 id = 0;
        QString checkedCover; // the picture file found
        QString cover;        // the cover then set
    };
    QHash<QString, Album> albums;

    void clear()
    {
        genres.clear();
        years.clear();
        artists.clear();
        albums.clear();
    }
};

// The name as SQLite's NOCASE compares it: ASCII letters lowered, nothing else.
QString nocaseKey(const QString &name)
{
    QString key = name;
    for (QChar &c : key) {
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + ('a' - 'A'));
    }
    return key;
}

bool execute(SqliteStatement *statement, const QVariantList &values)
{
    return statement && statement->run(values);
}

// Where stage() gets its statements: prepared on their first use in a call,
// or, inside a batch, prepared once and kept for the batch's life, with the
// rows it knows.  They run on the connection's SQLite handle itself: a scan
// stages thousands of records, each a few statements.
class Statements
{
public:
    using Kept = QHash<QString, std::shared_ptr<SqliteStatement>>;
    Statements(QSqlDatabase db, Kept *kept, KnownRows *known = nullptr)
        : m_db(db), m_kept(kept ? kept : &m_own), m_known(known)
    {
    }

    KnownRows *known() const { return m_known; }

    // Inside a batch each record stages whole or not at all.  A record whose
    // one write is its last (its track row) needs nothing more: a statement
    // is undone whole when it fails.  Before a record's first other write a
    // savepoint is set, which finishRecord() releases or rolls back.
    bool beforeWrite(bool lastWrite)
    {
        if (!m_known || lastWrite || m_savepoint)
            return true;
        m_savepoint = execute(prepared(QStringLiteral("SAVEPOINT stage")), {});
        return m_savepoint;
    }
    void finishRecord(bool staged)
    {
        if (!m_savepoint)
            return;
        if (!staged)
            execute(prepared(QStringLiteral("ROLLBACK TO stage")), {});
        execute(prepared(QStringLiteral("RELEASE stage")), {});
        m_savepoint = false;
    }

    // The statement ready to run, or null (logged) when it doesn't prepare.
    SqliteStatement *prepared(const QString &sql)
    {
        std::shared_ptr<SqliteStatement> &statement = (*m_kept)[sql];
        if (!statement)
            statement = std::make_shared<SqliteStatement>(m_db, sql);
        if (statement->isValid())
            return statement.get();
        m_kept->remove(sql);
        return nullptr;
    }

private:
    QSqlDatabase m_db;
    Kept m_own;
    Kept *m_kept;
    KnownRows *m_known;
    bool m_savepoint = false;
};

// Runs a bound look-up; `id` is the id of the last matching row, 0 when none.
bool lookUpId(Statements &statements, const QString &sql, const QVariantList &values, qint64 &id)
{
    id = 0;
    SqliteStatement *statement = statements.prepared(sql);
    return statement && statement->run(values, &id);
}

// Runs a bound statement that writes; `id` is the new row's id.  `lastWrite`:
// the record writes nothing after it (see Statements::beforeWrite).
bool insertRow(Statements &statements, const QString &sql, const QVariantList &values, qint64 *id = nullptr,
               bool lastWrite = false)
{
    SqliteStatement *statement = statements.prepared(sql);
    if (!statements.beforeWrite(lastWrite) || !execute(statement, values))
        return false;
    if (id) {
        *id = statement->lastInsertId();
        if (*id <= 0)
            return false;
    }
    return true;
}

bool stageRows(const track &record, Statements &statements);

} // namespace

// The open batch of the calling thread, if any.
struct RepositoryStager::Batch::State
{
    QSqlDatabase db;
    QHash<QString, std::shared_ptr<SqliteStatement>> statements;
    KnownRows known;
    QElapsedTimer sinceBegin;
    bool open = false;
    bool failed = false;
    QStringList inTransaction; // source paths staged since the transaction began
    QStringList lost;          // staged, but their commit failed

    bool begin()
    {
        QSqlQuery query(db);
        open = runQuery(query, QStringLiteral("BEGIN IMMEDIATE"));
        failed = !open;
        sinceBegin.start();
        return open;
    }

    bool commit()
    {
        known.clear();
        if (!open)
            return true;
        QSqlQuery query(db);
        const bool committed = runQuery(query, QStringLiteral("COMMIT"));
        if (!committed) {
            runQuery(query, QStringLiteral("ROLLBACK"));
            for (const QString &path : std::as_const(inTransaction))
                Logging::getInstance()->WriteLog(QStringLiteral("Library write failed, not staged: "), path);
            lost += inTransaction;
        }
        inTransaction.clear();
        open = false;
        return committed;
    }
};

namespace {
thread_local RepositoryStager::Batch::State *openBatch = nullptr;
// Longest time a batch holds the library's write lock before it commits.
constexpr qint64 batchCommitMs = 250;
} // namespace

RepositoryStager::Batch::Batch()
{
    if (openBatch)
        return; // the outer batch goes on
    m_state = new State;
    openBatch = m_state;
}

RepositoryStager::Batch::~Batch()
{
    if (!m_state)
        return;
    m_state->commit();
    m_state->statements.clear();
    openBatch = nullptr;
    delete m_state;
}

QStringList RepositoryStager::Batch::notStaged() const
{
    return m_state ? m_state->lost : (openBatch ? openBatch->lost : QStringList());
}

bool RepositoryStager::commitOpenBatch()
{
    return !openBatch || openBatch->commit();
}

QDeadlineTimer RepositoryStager::openBatchDue()
{
    if (!openBatch || !openBatch->open)
        return QDeadlineTimer(QDeadlineTimer::Forever);
    return QDeadlineTimer(qMax<qint64>(0, batchCommitMs - openBatch->sinceBegin.elapsed()));
}

bool RepositoryStager::stage(const track &record)
{
    Batch::State *batch = openBatch;
    // An open batch's transaction is on this thread's connection already.
    QSqlDatabase db = batch && batch->open ? batch->db : Connection::forThread();
    if (!db.isOpen())
        return false;

    if (batch && !batch->failed && (!batch->db.isValid() || batch->db.connectionName() == db.connectionName())) {
        // Begun at the first record, so nothing is locked before there is
        // something to write.
        batch->db = db;
        if (batch->open || batch->begin()) {
            Statements statements(db, &batch->statements, &batch->known);
            const bool staged = stageRows(record, statements);
            statements.finishRecord(staged);
            if (!staged)
                batch->known.clear();
            if (staged)
                batch->inTransaction.append(record.sourcePath);
            if (batch->sinceBegin.elapsed() >= batchCommitMs && !batch->commit())
                return false;
            return staged;
        }
    }

    Transaction transaction(db);
    if (!transaction.isActive())
        return false;
    Statements statements(db, nullptr);
    return stageRows(record, statements) && transaction.commit();
}

namespace {

bool stageRows(const track &record, Statements &query)
{
    // Made once: building one looks the data folder up, for every record.
    static const shared sha;
    qint64 found = 0;

    KnownRows *known = query.known();

    // Genre and year of the library tables: their ids are not kept here.
    const QVariant genre = textValue(record.genre);
    if (!known || !known->genres.contains(genre.toString())) {
        if (!lookUpId(query, QStringLiteral("SELECT id FROM genres WHERE genre = ?"), {genre}, found))
            return false;
        if (found == 0 && !insertRow(query, QStringLiteral("INSERT INTO genres(genre) VALUES (?)"), {genre}))
            return false;
        if (known)
            known->genres.insert(genre.toString());
    }

    // Artist: exact, case-sensitive name.
    const QVariant artistName = textValue(record.artistName);
    qint64 artistId = known ? known->artists.value(artistName.toString()) : 0;
    if (artistId == 0) {
        if (!lookUpId(query, QStringLiteral("SELECT id FROM artistsRepo WHERE name = ? ORDER BY id"),
                      {artistName}, artistId))
            return false;
        if (artistId == 0
            && !insertRow(query, QStringLiteral("INSERT INTO artistsRepo(name) VALUES (?)"), {artistName}, &artistId))
            return false;
        if (known)
            known->artists.insert(artistName.toString(), artistId);
    }

    // Album: one row per name in any ASCII letter case, whoever the artist.
    const QVariant albumName = textValue(record.albumName);
    const QString albumKey = known ? nocaseKey(albumName.toString()) : QString();
    KnownRows::Album *knownAlbum = nullptr;
    if (known) {
        const auto cached = known->albums.find(albumKey);
        if (cached != known->albums.end())
            knownAlbum = &cached.value();
    }
    qint64 albumId = knownAlbum ? knownAlbum->id : 0;
    if (!knownAlbum
        && !lookUpId(query, QStringLiteral("SELECT id FROM albumsRepo WHERE name = ? COLLATE NOCASE ORDER BY id"),
                     {albumName}, albumId))
        return false;
    if (albumId == 0) {
        // A cover that isn't this album's own picture (another album's, or
        // none) is not taken as the album's.
        const QString cover = record.cover.contains(sha.formatSplChar(record.albumName)) ? record.cover
                                                                                          : sha.noArtworkUrl;
        if (!insertRow(query, RepositoryStager::albumInsertSql(), {albumName, artistId, textValue(cover), record.year},
                       &albumId))
            return false;
        if (known)
            known->albums.insert(albumKey, {albumId, QString(), QString()});
    } else if (!record.cover.contains(QLatin1String("no_artwork.png"))) {
        // The latest staged track whose picture file exists decides the cover.
        const QString cover = shared::isUnknownName(record.albumName) ? sha.noArtworkUrl : record.cover;
        const bool alreadySet =
            knownAlbum && knownAlbum->checkedCover == record.cover && knownAlbum->cover == cover;
        if (!alreadySet && QFileInfo::exists(record.cover)) {
            if (!insertRow(query, QStringLiteral("UPDATE albumsRepo SET cover = ? WHERE id = ?"), {cover, albumId}))
                return false;
            if (known)
                known->albums.insert(albumKey, {albumId, record.cover, cover});
        } else if (known && !knownAlbum) {
            known->albums.insert(albumKey, {albumId, QString(), QString()});
        }
    } else if (known && !knownAlbum) {
        known->albums.insert(albumKey, {albumId, QString(), QString()});
    }

    if (!known || !known->years.contains(record.year)) {
        if (!lookUpId(query, QStringLiteral("SELECT id FROM years WHERE year = ?"), {record.year}, found))
            return false;
        if (found == 0 && !insertRow(query, QStringLiteral("INSERT INTO years(year) VALUES (?)"), {record.year}))
            return false;
        if (known)
            known->years.insert(record.year);
    }

    // The same file under the same playlist name is staged once; the row
    // already there stays as it is.
    const QVariant filepath = textValue(record.sourcePath);
    const QVariant playlist = textValue(record.playlist);
    if (!lookUpId(query, QStringLiteral("SELECT ID FROM TrackRepo WHERE filepath = ? AND Playlist = ?"),
                  {filepath, playlist}, found))
        return false;
    if (found == 0) {
        const QVariantList values = RepositoryStager::trackValues(record, artistId, albumId,
                                                                  record.isVideo ? record.cover : QString());
        // The record's last write: alone, it needs no savepoint.
        if (!insertRow(query, RepositoryStager::trackInsertSql(), values, nullptr, true))
            return false;
    }

    return true;
}

} // namespace

const QStringList RepositoryStager::trackColumns = {
    QStringLiteral("filename"),    QStringLiteral("trackname"),    QStringLiteral("filepath"),
    QStringLiteral("codec"),       QStringLiteral("filesize"),     QStringLiteral("frequency"),
    QStringLiteral("bitrate"),     QStringLiteral("source"),       QStringLiteral("tracknumber"),
    QStringLiteral("duration"),    QStringLiteral("artist_id"),    QStringLiteral("album_id"),
    QStringLiteral("genre"),       QStringLiteral("IsPodcast"),    QStringLiteral("year"),
    QStringLiteral("isAudiobook"), QStringLiteral("releaseDate"),  QStringLiteral("Playlist"),
    QStringLiteral("isVideo"),     QStringLiteral("VideoImage"),   QStringLiteral("folderLocation")};

QVariantList RepositoryStager::trackValues(const track &record, qint64 artistId, qint64 albumId,
                                           const QString &videoImage)
{
    return {
        textValue(record.filename),
        textValue(record.trackname.trimmed()),
        textValue(record.sourcePath),
        textValue(record.codec),
        record.filesize,
        record.frequency,
        record.bitrate,
        record.source,
        record.tracknumber,
        record.duration,
        artistId,
        albumId,
        textValue(record.genre),
        record.isPodcast,
        record.year,
        record.isAudiobook,
        textValue(record.ReleaseDate),
        textValue(record.playlist),
        record.isVideo,
        textValue(videoImage),
        textValue(record.folderLocation),
    };
}

QString RepositoryStager::trackInsertSql()
{
    // Built once: the staging runs it for every record.
    static const QString sql = [] {
        QStringList marks;
        for (qsizetype i = 0; i < trackColumns.size(); ++i)
            marks.append(QStringLiteral("?"));
        return QStringLiteral("INSERT INTO TrackRepo(%1) VALUES (%2)")
            .arg(trackColumns.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")));
    }();
    return sql;
}

QString RepositoryStager::albumInsertSql()
{
    return QStringLiteral("INSERT INTO albumsRepo(name, artist_id, cover, year) VALUES (?, ?, ?, ?)");
}
