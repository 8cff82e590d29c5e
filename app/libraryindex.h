#ifndef LIBRARYINDEX_H
#define LIBRARYINDEX_H

#include <QHash>
#include <QMap>
#include <QString>
#include <QVarLengthArray>

#include <map>
#include <utility>
#include <vector>

#include "core/track.h"

// The library's id and duplicate look-ups without a walk over the library:
// hash maps by artist name, lower-cased album name, playlist name and file
// path (separators normalised), each keeping the tracks that carry the key in
// ascending id order.  It answers exactly as manager's map-walking look-ups
// (getArtistID, getAlbumID, getPlaylistID, getTrackID, getTrack) do on the
// same tracks: the first track in id order decides, else the largest id of
// that kind + 1.  Keep it in step with the map it stands for through add()
// and remove().  A value: a worker may take a copy and work on it.
class LibraryIndex
{
public:
    LibraryIndex() = default;
    explicit LibraryIndex(const TrackMap &library) { rebuild(library); }

    void rebuild(const TrackMap &library);
    void clear();
    // A track entering the map (its id must not be indexed yet).
    void add(const track &t);
    // A track leaving the map: the record as it was indexed.
    void remove(const track &t);

    int size() const { return tracks; }

    // Largest track id + 1 (1 for an empty library).
    int nextTrackId() const;
    int artistId(const QString &name) const;
    int albumId(const QString &name) const;
    int playlistId(const QString &name) const;
    // The first track with this path (0 when none; an empty path never matches).
    int trackIdByPath(const QString &path) const;
    // The duplicate test: the first track with this path that, when
    // playlistId > 0, is in this playlist, else in no playlist; 0 when none.
    int duplicate(const QString &path, int playlistId, const QString &playlist) const;
    // Every track id filed under this path, in ascending order.
    QList<int> idsByPath(const QString &path) const;

private:
    // (track id, the kind's id) in ascending track id order: tracks mostly
    // enter with the largest id, so adding is an append.
    using Ids = std::vector<std::pair<int, int>>;
    // (track id, playlist name) of the tracks filed under one path: nearly
    // always one, kept without a heap allocation.
    using PathEntries = QVarLengthArray<std::pair<int, QString>, 1>;

    template <typename Entries, typename Value> static void insertSorted(Entries &entries, int trackId, Value value);
    template <typename Entries> static void eraseId(Entries &entries, int trackId);
    static void addTo(QHash<QString, Ids> &byName, std::map<int, int> &counts, const QString &key, int trackId,
                      int kindId);
    static void removeFrom(QHash<QString, Ids> &byName, std::map<int, int> &counts, const QString &key, int trackId,
                           int kindId);
    static int lookup(const QHash<QString, Ids> &byName, const std::map<int, int> &counts, const QString &key);

    QHash<QString, Ids> artists;
    QHash<QString, Ids> albums;
    QHash<QString, Ids> playlists;
    QHash<QString, PathEntries> paths;
    // How many tracks carry each id of a kind: the largest is the last key.
    std::map<int, int> artistIds;
    std::map<int, int> albumIds;
    std::map<int, int> playlistIds;
    int tracks = 0;
    int largestTrackId = 0; // recounted when the largest leaves
};

#endif // LIBRARYINDEX_H
