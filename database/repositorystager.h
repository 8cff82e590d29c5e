#ifndef REPOSITORYSTAGER_H
#define REPOSITORYSTAGER_H

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
    // they share a transaction, begun at the first record and committed at
    // least every quarter second and at the end, so other writers wait
    // briefly, and their statements are prepared once.  Each record still
    // stages whole or not at all.  Nested batches join the outer one.
    class Batch
    {
    public:
        Batch();
        ~Batch();
        Batch(const Batch &) = delete;
        Batch &operator=(const Batch &) = delete;

        struct State;

    private:
        State *m_state = nullptr;
    };
};

#endif // REPOSITORYSTAGER_H
