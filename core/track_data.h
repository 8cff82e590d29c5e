#ifndef TRACK_DATA_H
#define TRACK_DATA_H

#include <QMap>
#include <QString>
#include <QStringList>

#include "core/tagobject.h"
#include "core/track.h"

// The scanning operations: folder and iTunes scans, file checks and the
// mapping of one file into a track record.  Second base of the controller
// (manager) and of the library class (ruvoDB), which carry its operations.
//
// The id counters and name maps are shared by every instance ("module
// level") and only one scan job runs at a time, so they need no lock.
class track_data
{
public:
    track_data();
    virtual ~track_data();

    // ---- Id counters ------------------------------------------------------
    // Each starts at 1 and only grows while the program runs.  Ids never wrap:
    // past the id range a taker returns -1 and logs, and the record is refused.
    static int track_Id;
    static int album_Id;
    static int artist_Id;

    static int takeTrackId();    // folder scan: current value, then increase
    static int takeNextTrackId(); // iTunes import: increase, then the new value
    static int takeAlbumId();    // increase, then the new value (first id 2)
    static int takeArtistId();   // increase, then the new value (first id 2)

    // ---- Module-level scan state ------------------------------------------
    static TrackMap track_obj_map;              // records of the current folder scan
    static QMap<QString, int> album_map;        // album or playlist name -> album id
    static QMap<QString, int> artist_map;       // artist name -> artist id
    static track obj_track;                     // working record of the folder scan
    static QMap<QString, QString> ItuneCoverPIDALbum; // cleaned album -> iTunes persistent id
    static bool IsVideoSupported;               // the chosen car system plays video

    // Accepted suffixes, lower case.
    static const QStringList audioFilter;
    static const QStringList videoFilter;
    static const QStringList playlistFilter;

    // ---- File checks and tag reading --------------------------------------
    // Suffixes are compared lower-cased.  A video suffix counts only while
    // the chosen car system plays video (IsVideoSupported).
    static bool checkAudioFile(QString suffix);
    static bool checkVideoFile(QString suffix);
    static bool checkPlaylist(QString suffix);
    // True for an encrypted wma, wmv, mp4 or m4v file, whose path then joins
    // the protected list.  m4a and m4b files are never reported.
    bool checkProtected(QString path);
    QStringList getProtectedTracks() const;
    void resetProtectedTracks();
    // Fills `tags` from the file at `path`; true when the file was read.  A
    // playable file without any tag is read too, with the defaults; a file
    // TagLib can't make sense of (random bytes, a truncated header, a
    // picture under an audio name) gives false.
    static bool ParseTags(TagObject &tags, QString path);

    // ---- Track mapping ----------------------------------------------------

    // ---- Folder scan ------------------------------------------------------

    // ---- iTunes import ----------------------------------------------------

protected:
    QStringList protectedTracks;  // encrypted files found since the last reset
};

#endif // TRACK_DATA_H
