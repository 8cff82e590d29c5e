#ifndef REPOSITORYSTAGER_H
#define REPOSITORYSTAGER_H

#include <QDeadlineTimer>
#include <QStringList>
#include <QVariantList>

#include "core/track.h"

// Writes scanned records into the staging repository of the library: one flat
// TrackRepo row per file and playlist name, with its folder, under the
// artistsRepo and albumsRepo rows of its names; the genre and year also go
// into the library's `genres` and `years`.  The local tag inference reads
// these rows to complete a track from its folder's other tracks.
//
// Each call is one transaction on the calling thread's own connection (or a
// savepoint inside a Batch): a failed statement rolls back everything the
// call wrote.  Every value is
// bound; artist and genre names match exactly, album names in any ASCII
// letter case, and no character acts as a wildcard.
class RepositoryStager
{
public:
    // Stages one record; false (and nothing written) when a statement fails
    // or no library is open.
    static bool stage(const track &record);

    // Groups the stagings of one scan on the calling thread while it lives:
    // they share a transaction, begun at the first record and committed
    // once a quarter second has passed at the next record, before each slow
    // step of the scan (commitOpenBatch) and at the end, so other writers
    // wait briefly, and their statements are prepared once.  Each record
    // still stages whole or not at all.  Nested batches join the outer one.
    class Batch
    {
    public:
        Batch();
        ~Batch();
        Batch(const Batch &) = delete;
        Batch &operator=(const Batch &) = delete;

        // Source paths of records stage() accepted whose transaction then
        // failed to commit: none of them is in the repository.  Each is also
        // written to the process log.
        QStringList notStaged() const;

        struct State;

    private:
        State *m_state = nullptr;
    };

    // Commits the calling thread's open batch now.  A scan calls it before
    // anything slow (an external program, a picture to decode, waiting on
    // other threads), so that it never holds the library's write lock while
    // it waits.  False when the commit failed; true without an open batch.
    static bool commitOpenBatch();
    // When the calling thread's open batch is due to commit: a quarter
    // second after its transaction began; never while none is open.
    static QDeadlineTimer openBatchDue();

    // The repository's rows as every writer of TrackRepo and albumsRepo
    // writes them (the lookup results update staged tracks too): the track
    // columns, the values of `record` in that order under the given artist
    // and album rows (VideoImage takes `videoImage`), and the inserts.
    static const QStringList trackColumns;
    static QVariantList trackValues(const track &record, qint64 artistId, qint64 albumId, const QString &videoImage);
    static QString trackInsertSql();
    static QString albumInsertSql(); // name, artist_id, cover, year
};

#endif // REPOSITORYSTAGER_H
