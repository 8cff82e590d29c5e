#include "app/manager.h"

#include <algorithm>

#include <QDir>

namespace {

// First track (in id order) accepted by `matches` gives its id of the kind
// `idOf` reads; otherwise the largest such id + 1.
template <typename Matches, typename IdOf>
int findOrNextId(const TrackMap &library, Matches matches, IdOf idOf)
{
    int largest = 0;
    for (const track &t : library) {
        if (matches(t))
            return idOf(t);
        largest = std::max(largest, idOf(t));
    }
    return largest + 1;
}

} // namespace

int manager::getArtistID(const TrackMap &library, const QString &name)
{
    return findOrNextId(
        library, [&name](const track &t) { return t.artistName == name; },
        [](const track &t) { return t.artist_id; });
}

int manager::getAlbumID(const TrackMap &library, const QString &name)
{
    const QString wanted = name.toLower();
    return findOrNextId(
        library, [&wanted](const track &t) { return t.albumName.toLower() == wanted; },
        [](const track &t) { return t.album_id; });
}

int manager::getPlaylistID(const TrackMap &library, const QString &name)
{
    return findOrNextId(
        library, [&name](const track &t) { return t.playlist == name; },
        [](const track &t) { return t.playlist_id; });
}

int manager::getTrackID(const TrackMap &library, const QString &path)
{
    const QString wanted = QDir::fromNativeSeparators(path);
    return findOrNextId(
        library,
        [&wanted](const track &t) { return !wanted.isEmpty() && QDir::fromNativeSeparators(t.filepath) == wanted; },
        [](const track &t) { return t.id; });
}

int manager::getTrackIDVideo(const TrackMap &processingTracks)
{
    int largest = 0;
    for (const track &t : processingTracks)
        largest = std::max(largest, t.id);
    return largest + 1;
}

int manager::getTrack(const TrackMap &library, const QString &path, int playlistId, const QString &playlist,
                      const QString &trackname)
{
    Q_UNUSED(trackname)
    const QString wanted = QDir::fromNativeSeparators(path);
    for (const track &t : library) {
        if (QDir::fromNativeSeparators(t.filepath) != wanted)
            continue;
        if (playlistId > 0 ? t.playlist == playlist : t.playlist.isEmpty())
            return t.id;
    }
    return 0;
}
