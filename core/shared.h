#ifndef SHARED_H
#define SHARED_H

#include <QString>
#include <string>

#include "core/track.h"

// The data-folder layout, the placeholder picture, the default texts for
// missing metadata and the small text utilities every module uses.  A value
// class: each module keeps its own instance, all holding equal values.
class shared
{
public:
    shared();

    // Per-user data location (XDG data home); the data folder lies below it.
    static QString dataLocation();
    // Absolute path of the data folder, "<data location>/Corvane-Media-Organiser".
    static QString dataFolder();
    // Creates the data folder with its parents when missing; true when it exists.
    static bool ensureDataFolder();

    void setUnknownTags();

    // Depends on nothing but the text: callable from any thread.
    static QString formatSplChar(QString text);
    double convertToSec(const QString &text) const;
    int getTrackNo(const QString &name) const;
    QString coverpath(const QString &album) const;
    QString getApiNameByValue(signed char code) const;

    // Reset of a working record: everything cleared but releaseCoverUrl.
    track initializeTrackObject(const track &record) const;

    // ---- Mixed-album folders and folder pictures --------------------------
    // After a folder scan or an iTunes import, the records of a one-album
    // folder take its "folder.jpg"/"folder.png" as album cover; a folder
    // holding several albums (mixed) lends its picture to nobody.  Every record
    // made under its own album is counted in a process-wide map folder ->
    // album key -> count; a playlist's records are not (a playlist naming a
    // folder's file doesn't make the folder mixed).
    // Album keys and counts are full ints: narrowed keys let distinct albums
    // collide.  Only one scan or import runs at a time, so the map has no lock.

    // Empties the map; at the start of each folder scan and iTunes import.
    void clearMixedAlbumsFolderMap();
    // Counts one more record of albumKey in folder.
    void updateMixedAlbumsFolder(const QString &folder, int albumKey);
    // True when folder holds more than one album.  With flag 0 a folder of one
    // album is also mixed when its count differs from its audio-file count.
    bool checkMixedAlbumsFolderByKey(const QString &folder, int flag) const;
    // Number of audio files directly in folder (not hidden, no descent).
    int getFolderFileCount(const QString &folder) const;
    // Copies the folder's picture to dest + ".png" unless that exists; returns
    // the target when it exists after the call, else "".
    QString checkAndUpdateFolderCoverArt(const QString &folder, const QString &dest) const;
    // The tracks with the folder picture set as cover on every record of a
    // non-mixed folder (playlist entries and "Unknown" albums excepted).  The
    // folder scan passes 1, the iTunes import 0.
    TrackMap updateFolderCoverArt(TrackMap tracks, int flag) const;
    // The folder's picture: "folder.jpg" in any letter case, else
    // "folder.png"; "" when it has neither.
    static QString folderPicture(const QString &folder);

    // folder -> album key -> number of records counted.
    static QMap<QString, QMap<int, int>> mixed_folder_albums_map;

    // Relative to the data location: put dataLocation() in front.
    QString artworkPath;
    QString videoArtworkPath;
    QString downloadArtworkPath;
    QString noArtworkUrl;
    QString appDataPath;
    QString reservedText;
    QString discogsSearchUrl;
    QString reservedText2;
    QString unknownText;
    QString unknownAlbum;
    QString unknownArtist;
    QString unknownCodec;
    QString unknownComment;
    QString unknownFilename;
    QString unknownGenre;
    QString unknownPath;
    QString unknownSong;

    // ---- Unknown names ----------------------------------------------------
    // The one rule for an artist or album name that stands for "no value": it
    // starts with "Unknown" (exact case), as the tag defaults "Unknown Artist"
    // and "Unknown Album" do.  Mapping, folder pictures and repository
    // staging all decide with it, so they never disagree about a name.
    static bool isUnknownName(const QString &name);

    // Lines of a message naming what a job left out: the first `shown`, then
    // one that counts the rest.
    static QString shortList(QStringList lines, int shown = 10);
};

// True when s is non-empty and every byte is an ASCII digit.
bool is_number(const std::string &s);

// Returns after about one second, having kept the calling thread's events
// flowing meanwhile.  It sleeps in the thread's event loop, not in a busy
// wait.
void delay();

#endif // SHARED_H
