#include "app/libraryindex.h"

#include <QDir>

void LibraryIndex::clear()
{
    *this = LibraryIndex();
}

void LibraryIndex::rebuild(const TrackMap &library)
{
    clear();
    artists.reserve(library.size() / 4);
    albums.reserve(library.size() / 4);
    paths.reserve(library.size());
    for (const track &t : library)
        add(t);
}

void LibraryIndex::addTo(QHash<QString, Ids> &byName, std::map<int, int> &counts, const QString &key, int trackId,
                         int kindId)
{
    byName[key].insert(trackId, kindId);
    ++counts[kindId];
}

void LibraryIndex::removeFrom(QHash<QString, Ids> &byName, std::map<int, int> &counts, const QString &key,
                              int trackId, int kindId)
{
    auto it = byName.find(key);
    if (it != byName.end()) {
        it->remove(trackId);
        if (it->isEmpty())
            byName.erase(it);
    }
    auto count = counts.find(kindId);
    if (count != counts.end() && --count->second <= 0)
        counts.erase(count);
}

int LibraryIndex::lookup(const QHash<QString, Ids> &byName, const std::map<int, int> &counts, const QString &key)
{
    const auto it = byName.constFind(key);
    if (it != byName.constEnd() && !it->isEmpty())
        return it->first();
    return counts.empty() ? 1 : counts.rbegin()->first + 1;
}

void LibraryIndex::add(const track &t)
{
    addTo(artists, artistIds, t.artistName, t.id, t.artist_id);
    addTo(albums, albumIds, t.albumName.toLower(), t.id, t.album_id);
    addTo(playlists, playlistIds, t.playlist, t.id, t.playlist_id);
    paths[QDir::fromNativeSeparators(t.filepath)].insert(t.id, {t.playlist});
    ++trackIds[t.id];
    ++tracks;
}

void LibraryIndex::remove(const track &t)
{
    auto id = trackIds.find(t.id);
    if (id == trackIds.end())
        return;
    if (--id->second <= 0)
        trackIds.erase(id);
    --tracks;
    removeFrom(artists, artistIds, t.artistName, t.id, t.artist_id);
    removeFrom(albums, albumIds, t.albumName.toLower(), t.id, t.album_id);
    removeFrom(playlists, playlistIds, t.playlist, t.id, t.playlist_id);
    const QString path = QDir::fromNativeSeparators(t.filepath);
    auto it = paths.find(path);
    if (it != paths.end()) {
        it->remove(t.id);
        if (it->isEmpty())
            paths.erase(it);
    }
}

int LibraryIndex::nextTrackId() const
{
    return trackIds.empty() ? 1 : trackIds.rbegin()->first + 1;
}

int LibraryIndex::artistId(const QString &name) const
{
    return lookup(artists, artistIds, name);
}

int LibraryIndex::albumId(const QString &name) const
{
    return lookup(albums, albumIds, name.toLower());
}

int LibraryIndex::playlistId(const QString &name) const
{
    return lookup(playlists, playlistIds, name);
}

int LibraryIndex::trackIdByPath(const QString &path) const
{
    if (path.isEmpty())
        return 0;
    const auto it = paths.constFind(QDir::fromNativeSeparators(path));
    return it == paths.constEnd() || it->isEmpty() ? 0 : it->firstKey();
}

QList<int> LibraryIndex::idsByPath(const QString &path) const
{
    const auto it = paths.constFind(QDir::fromNativeSeparators(path));
    return it == paths.constEnd() ? QList<int>() : it->keys();
}

int LibraryIndex::duplicate(const QString &path, int playlistId, const QString &playlist) const
{
    const auto it = paths.constFind(QDir::fromNativeSeparators(path));
    if (it == paths.constEnd())
        return 0;
    for (auto entry = it->constBegin(); entry != it->constEnd(); ++entry) {
        if (playlistId > 0 ? entry->playlist == playlist : entry->playlist.isEmpty())
            return entry.key();
    }
    return 0;
}
