#ifndef TRACK_DATA_H
#define TRACK_DATA_H

#include <QDir>
#include <QFileInfo>
#include <QFuture>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

#include "core/itunedata.h"
#include "core/scanpictures.h"
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
    // The test behind checkProtected, without touching the list: only reads
    // the file, so any thread may ask.
    static bool isEncryptedFile(const QString &path);
    QStringList getProtectedTracks() const;
    void resetProtectedTracks();
    // A file the last folder scan came upon and could not take, and why, in
    // words for the user.
    struct NotTaken
    {
        // What `path` names: a file, a folder whose files went unread, a
        // playlist some of whose entries (`entries` of them) were passed
        // over, or the iTunes library file.
        enum Kind { File, Folder, PlaylistEntries, Library };
        QString path;
        QString reason;
        Kind kind = File;
        int entries = 0;
    };
    // In walk order: media files that can't be read or hold no media, links
    // to nothing and pipes or devices under a media or playlist name, names
    // that are not valid UTF-8 (no path this program makes can reach them),
    // and for each playlist, one line per reason its entries were passed
    // over (a file that is not there, a folder, a pipe or device, the
    // playlist itself).  Emptied when a folder scan or an iTunes import starts.
    QList<NotTaken> getNotTakenFiles() const { return notTakenFiles; }
    // Fills `tags` from the file at `path`; true when the file is a track:
    // it holds audio that plays (a time or a sample rate that TagLib, or
    // ffprobe where TagLib can't tell, finds), or, under a video suffix, a
    // video stream.  A playable file without any tag is read with the
    // defaults.  Not tracks: random bytes, a picture under an audio name, an
    // MP3 that is only an ID3v2 tag, values no real file has (logged).
    // ffprobe runs at most once, and only for files TagLib can't time (raw
    // ADTS, multi-stream Ogg, RF64, videos it doesn't read, a missing sample
    // rate, impossible values).  A bit rate of 0 is computed from size and time.
    static bool ParseTags(TagObject &tags, QString path);

    // ---- Track mapping ----------------------------------------------------
    // Turns one scanned file and its tags into a complete record: title,
    // artist and album settled, ids handed out, quality class, cover and
    // completeness flags set.  The record is filed in track_obj_map under
    // idCounter, staged in the library's repository (see stage()) and
    // idCounter grows by one.  A playlist entry is filed
    // under the playlist's name as album, with the playlist picture.  The
    // caller has set record.filepath and record.sourcePath.  An exhausted id
    // range refuses the record.
    void MapToTrack(int &idCounter, track &record, TagObject tags, QFileInfo &file, bool fromPlaylist,
                    QString playlistName, bool isVideo, bool isAudio);
    // Copies the tag texts (album, artist and title trimmed) and numbers into
    // the record and sets hasArtist and hasAlbum.
    void SetValues(track &record, TagObject tags);
    // The id of name in map; a new name takes the counter's next value.
    // -1 when the counter is exhausted.
    int Save_Map(QMap<QString, int> &map, QString name, int &counter);
    // The album picture of an audio record: its own embedded picture, written
    // once per album into the data folder's Artwork folder and shared by the
    // album's later tracks; else the iTunes artwork; else the placeholder, and
    // the record counts as missing data.  An "Unknown" album gets the
    // placeholder without looking.
    void Save_Cover(track &record, QFileInfo file);
    // Path of the album's picture from the iTunes artwork cache, or "".
    QString ItunesArtPIDCheck(QString cleanedAlbum);
    // Replaces the album -> iTunes persistent id index (set once at start).
    void SetItunesArtPIDMap(QMap<QString, QString> map);
    // The same, with the index still being built on a worker: a look-up
    // waits for it (in the scan's thread), and the first one takes it in.
    void SetItunesArtPIDMap(QFuture<QMap<QString, QString>> index);
    // Takes the chosen car system's video support into IsVideoSupported and
    // returns it.  GUI thread, before a scan starts.
    bool IsVideoSearch();
    // Where IsVideoSearch learns the chosen car system's video support; the
    // application installs it (the core knows nothing of car profiles).
    static void setVideoSupportProvider(std::function<bool()> provider);
    // text without surrounding white space.
    QString ConslidateTrack(QString text);
    // The file's bytes as Base64 text; "" when there is no file at path.
    QString convertImageToBase64(QString path);
    // Recreates a picture file from Base64 text.  Writes only a new file
    // inside the data folder (judged on the cleaned path, so ".." can't
    // leave it), complete or not at all; the format follows the suffix
    // (png, jpg, jpeg, bmp, gif, svg, tiff), else PNG.  A picture that can't
    // be decoded or written in that format leaves no file.
    void convertBase64ToImage(QString path, QString data);

    // iTunes playlists the import leaves out (names compared in any case).
    QStringList iTunesSkipPlaylists = defaultITunesSkipPlaylists();
    static QStringList defaultITunesSkipPlaylists();

    // ---- Folder scan ------------------------------------------------------
    // Every playable file below dir (hidden entries and symbolic links to
    // folders left out) and every playable file named by a playlist found
    // there, as records keyed by new track ids, folder pictures applied.
    // Skipped silently: the program's own copies, files inside an iTunes
    // media folder, walked files of 100 KiB or less, playlist entries under
    // 100 KiB; encrypted files go to the protected list instead.  Files
    // that are no track (ParseTags) and playlist entries that name no file
    // go to getNotTakenFiles().  Each record is staged in the
    // repository, in walk order, by a thread of the scan's own (with its own
    // connection); all are staged when the scan returns, and the library's
    // write lock is never held while the scan waits on something slow (a
    // tool, a picture to decode, its readers).  isStopSearch is read before each
    // directory entry: once set, the scan ends and returns what it has.
    // The caller clears the flag before it starts a scan; one scan at a time.
    TrackMap searchfile(QDir dir);
    // The folder scan of `folder`, returning a copy of its records.
    TrackMap track_get_data(QString folder);
    // Adds paths to the list of files searched so far in this process
    // (searchedFiles()); nothing in the program reads it to decide anything.
    void setsearchedFiles(QStringList paths);
    static QStringList searchedFiles();
    // The cancel flag of this object's folder scan, set from another thread.
    std::atomic<bool> isStopSearch{false};
    // Called on the scanning thread after each media file a scan has taken
    // up, with the number taken so far and the file's path: the folder scan
    // takes up each file as soon as it is read.  Optional; the callee must be
    // quick and thread-safe.
    std::function<void(int filesRead, const QString &path)> fileReadHook;
    // Called on a reader thread before the folder scan or the iTunes import
    // reads a media file, with its path (tests hold reads with it).
    // Optional, thread-safe.
    std::function<void(const QString &path)> readStartHook;
    // Files of this size (100 KiB) or smaller are not media worth listing:
    // the folder scan's walk and the iTunes import leave them out (a
    // playlist's entry of exactly this size is taken).
    static constexpr qint64 minimumMediaSize = 102400;
    // Maps the accepted entries of one playlist file found by the walk.
    void scanPlaylist(const QFileInfo &playlist);

    // ---- iTunes import ----------------------------------------------------
    // Turns the playlists read from the iTunes library file into records,
    // adds them to `map` and returns it after the folder-picture step.  Each
    // listing of a file is its own record with its own id, so a file in
    // "Music" and in a user playlist gives two.  A user playlist is filed as
    // an album of its name, with the playlist picture; "Podcasts" and "Books"
    // mark their records.  Playlists of the skip list and files of
    // minimumMediaSize bytes or less are left out.  Reads no tags (the
    // library file's values are taken), every record is staged in the
    // repository (by a thread of the import's own; all are staged when it
    // returns), the cancel flag is not read and the protected-file list is
    // emptied.  One scan at a time.
    TrackMap addITunesToTrackObj(QList<iTunedata> playlists, TrackMap map);

protected:
    QStringList protectedTracks;  // encrypted files found since the last reset
    QList<NotTaken> notTakenFiles; // of the last scan
    int scanFilesRead = 0;         // media files the running folder scan has taken up

    // ---- Folder scan read-ahead -------------------------------------------
public:
    // The album picture file of a track: the cleaned album name + ".png" in
    // the artwork folder, or the file's own name when nothing is left of the
    // album name.
    static QString albumCoverPath(const QString &artworkFolder, const QString &cleanedAlbum,
                                  const QString &fileName);

protected:
    // Set by the folder scan while it maps a file: what the scan's readers
    // made of the file's embedded picture for the album picture at coverPath
    // (see ScanPictures), which Save_Cover takes instead of reading the file
    // again.
    std::function<ScanCover(const QString &coverPath)> coverOutcome;
    // During a folder scan (and only then): album picture files already
    // found there, which the album's later tracks take without looking again.
    QSet<QString> albumPicturesFound;
    bool rememberAlbumPictures = false;
    // During a folder scan: the thread that stages the mapped records.
    class ScanStaging;
    ScanStaging *scanStaging = nullptr;
    // Stages a mapped record: handed to the staging thread during a folder
    // scan or an iTunes import, else staged on the calling thread's connection.
    void stage(const track &record);
};

#endif // TRACK_DATA_H
