#include "app/libraryindex.h"

#include <QDir>

#include <algorithm>

namespace {

// Paths compare with "/" separators; on Linux they have no others.
inline QString normalised(const QString &path)
{
#ifdef Q_OS_WIN
    return QDir::fromNativeSeparators(path);
#else
    return path;
#endif
}

} // namespace

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

template <typename Entries, typename Value> void LibraryIndex::insertSorted(Entries &entries, int trackId, Value value)
{
    if (entries.empty() || entries.back().first < trackId) {
        entries.push_back({trackId, std::move(value)});
        return;
    }
    auto at = std::lower_bound(entries.begin(), entries.end(), trackId,
                               [](const auto &entry, int id) { return entry.first < id; });
    entries.insert(at, {trackId, std::move(value)});
}

template <typename Entries> void LibraryIndex::eraseId(Entries &entries, int trackId)
{
    auto at = std::lower_bound(entries.begin(), entries.end(), trackId,
                               [](const auto &entry, int id) { return entry.first < id; });
    if (at != entries.end() && at->first == trackId)
        entries.erase(at);
}

void LibraryIndex::addTo(QHash<QString, Ids> &byName, std::map<int, int> &counts, const QString &key, int trackId,
                         int kindId)
{
    insertSorted(byName[key], trackId, kindId);
    ++counts[kindId];
}

void LibraryIndex::removeFrom(QHash<QString, Ids> &byName, std::map<int, int> &counts, const QString &key, int trackId,
                              int kindId)
{
    auto it = byName.find(key);
    if (it != byName.end()) {
        eraseId(*it, trackId);
        if (it->empty())
            byName.erase(it);
    }
    auto count = counts.find(kindId);
    if (count != counts.end() && --count->second <= 0)
        counts.erase(count);
}

int LibraryIndex::lookup(const QHash<QString, Ids> &byName, const std::map<int, int> &counts, const QString &key)
{
    const auto it = byName.constFind(key);
    if (it != byName.constEnd() && !it->empty())
        return it->front().second;
    return counts.empty() ? 1 : counts.rbegin()->first + 1;
}

void LibraryIndex::add(const track &t)
{
    addTo(artists, artistIds, t.artistName, t.id, t.artist_id);
    addTo(albums, albumIds, t.albumName.toLower(), t.id, t.album_id);
    addTo(playlists, playlistIds, t.playlist, t.id, t.playlist_id);
    insertSorted(paths[normalised(t.filepath)], t.id, t.playlist);
    largestTrackId = std::max(largestTrackId, t.id);
    ++tracks;
}

void LibraryIndex::remove(const track &t)
{
    const QString path = normalised(t.filepath);
    auto it = paths.find(path);
    if (it == paths.end())
        return;
    const auto before = it->size();
    eraseId(*it, t.id);
    if (it->size() == before)
        return; // not indexed
    if (it->empty())
        paths.erase(it);
    --tracks;
    if (t.id == largestTrackId) {
        largestTrackId = 0;
        for (const PathEntries &entries : std::as_const(paths))
            for (const auto &entry : entries)
                largestTrackId = std::max(largestTrackId, entry.first);
    }
    removeFrom(artists, artistIds, t.artistName, t.id, t.artist_id);
    removeFrom(albums, albumIds, t.albumName.toLower(), t.id, t.album_id);
    removeFrom(playlists, playlistIds, t.playlist, t.id, t.playlist_id);
}

int LibraryIndex::nextTrackId() const
{
    return largestTrackId + 1;
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
    const auto it = paths.constFind(normalised(path));
    return it == paths.constEnd() || it->empty() ? 0 : it->front().first;
}

QList<int> LibraryIndex::idsByPath(const QString &path) const
{
    QList<int> ids;
    const auto it = paths.constFind(normalised(path));
    if (it != paths.constEnd()) {
        for (const auto &entry : *it)
            ids.append(entry.first);
    }
    return ids;
}

int LibraryIndex::duplicate(const QString &path, int playlistId, const QString &playlist) const
{
    const auto it = paths.constFind(normalised(path));
    if (it == paths.constEnd())
        return 0;
    for (const auto &entry : *it) {
        if (playlistId > 0 ? entry.second == playlist : entry.second.isEmpty())
            return entry.first;
    }
    return 0;
}
