#ifndef LIBRARYTICKS_H
#define LIBRARYTICKS_H

#include <QList>
#include <QMap>
#include <QString>

class QObject;

// The ticks of the library's views, by the ids of the items ticked.  QML
// ticks a row by writing its `selected` flag; the views are built again
// from ids (after an add, a removal, each optimised video), so before a
// rebuild the flags are read back here: a tick stays with the album, artist,
// track, playlist or video the user ticked, and no other row takes it.
struct LibraryTicks
{
    QList<int> artistIds;
    QList<int> albumIds;
    QList<int> trackIds;
    QList<int> playlistIds;

    // The rows of the seven library views, in the order the controller
    // numbers them (albums, artists, tracks, playlists, podcasts,
    // audiobooks, videos).
    using Views = QList<const QMap<QString, QObject *> *>;
    static LibraryTicks read(const Views &views);

    // The same items ticked, whatever the order.
    bool sameAs(const LibraryTicks &other) const;
};

#endif // LIBRARYTICKS_H
