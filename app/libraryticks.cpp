#include "app/libraryticks.h"

#include <QSet>

#include "app/albumdatamodel.h"
#include "app/artistdatamodel.h"
#include "app/trackdatamodel.h"
#include "app/tracklist.h"

namespace {

enum View { Albums = 0, Artists, Tracks, Playlists, Podcasts, Audiobooks, Videos };

void addOnce(QList<int> &ids, QSet<int> &seen, int id)
{
    if (!seen.contains(id)) {
        seen.insert(id);
        ids.append(id);
    }
}

QSet<int> toSet(const QList<int> &ids)
{
    return QSet<int>(ids.cbegin(), ids.cend());
}

} // namespace

LibraryTicks LibraryTicks::read(const Views &views)
{
    LibraryTicks ticks;
    QSet<int> artists, albums, tracks, playlists;
    for (int view = 0; view < views.size(); ++view) {
        if (!views.at(view))
            continue;
        for (const QObject *object : *views.at(view)) {
            switch (view) {
            case Albums:
            case Audiobooks:
            case Videos:
                // A video's row stands for its track.
                if (const auto *row = qobject_cast<const AlbumDataModel *>(object); row && row->selected())
                    addOnce(view == Videos ? ticks.trackIds : ticks.albumIds, view == Videos ? tracks : albums,
                            row->albumid());
                break;
            case Artists:
                if (const auto *row = qobject_cast<const ArtistDataModel *>(object); row && row->selected())
                    addOnce(ticks.artistIds, artists, row->artistid());
                break;
            case Tracks:
            case Playlists:
            case Podcasts:
                if (const auto *row = qobject_cast<const TrackDataModel *>(object)) {
                    // A playlist or podcast group is ticked as a whole by its
                    // id; a podcast's tracks take their group's tick.
                    if (row->selected() && view == Playlists)
                        addOnce(ticks.playlistIds, playlists, row->albumid());
                    else if (row->selected() && view == Podcasts)
                        addOnce(ticks.albumIds, albums, row->albumid());
                    if (view == Podcasts)
                        break;
                    for (const QObject *entry : row->tracklist()) {
                        if (const auto *t = qobject_cast<const TrackList *>(entry); t && t->selected())
                            addOnce(ticks.trackIds, tracks, t->trackid());
                    }
                }
                break;
            default:
                break;
            }
        }
    }
    return ticks;
}

bool LibraryTicks::sameAs(const LibraryTicks &other) const
{
    return toSet(artistIds) == toSet(other.artistIds) && toSet(albumIds) == toSet(other.albumIds) &&
           toSet(trackIds) == toSet(other.trackIds) && toSet(playlistIds) == toSet(other.playlistIds);
}
