#ifndef REPOSITORYSTAGER_H
#define REPOSITORYSTAGER_H

#include "core/track.h"

// Writes scanned records into the staging repository of the library: one flat
// TrackRepo row per file and playlist name, with its folder, under the
// artistsRepo and albumsRepo rows of its names; the genre and year also go
// into the library's `genres` and `years`.  The local tag inference reads
// these rows to complete a track from its folder's other tracks.
//
// Each call is one transaction on the calling thread's own connection: a
// failed statement rolls back everything the call wrote.  Every value is
// bound; artist and genre names match exactly, album names in any ASCII
// letter case, and no character acts as a wildcard.
class RepositoryStager
{
public:
    // Stages one record; false (and nothing written) when a statement fails
    // or no library is open.
    static bool stage(const track &record);
};

#endif // REPOSITORYSTAGER_H
