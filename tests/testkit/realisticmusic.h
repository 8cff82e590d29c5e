#ifndef REALISTICMUSIC_H
#define REALISTICMUSIC_H

#include <QString>

namespace testkit {

// A music collection as real ones hold it, for the benchmarks: album
// folders ("Artist n/Album m") of tracks of 30 s at 128 kbit/s with an
// ID3v2.3 tag, each embedding its album's cover, a 500 x 500 JPEG of 47-150
// KB (median about 105 KB; a test pattern under noise, which compresses
// like a photograph).  Every track of an album carries the same picture
// bytes.  Made with ffmpeg and TagLib below `root`; false when a tool fails.
class RealisticMusic
{
public:
    static bool generate(const QString &root, int albums = 200, int tracksPerAlbum = 10, int trackSeconds = 30);
};

} // namespace testkit

#endif // REALISTICMUSIC_H
