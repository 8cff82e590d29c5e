#ifndef TAGLIBBUILDER_H
#define TAGLIBBUILDER_H

#include <QDir>
#include <QFileInfo>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include "core/itunedata.h"
#include "core/track.h"

// TagLib, playlist and iTunes-file operations.  No data members and no work
// in the constructor: any module may make its own instance.
class TagLibBuilder
{
public:
    TagLibBuilder() = default;

    // ---- Embedded cover art -----------------------------------------------


    // ---- Playlist files ---------------------------------------------------


    // ---- Tag writer -------------------------------------------------------


    // ---- iTunes library file ----------------------------------------------
    // Reads the iTunes library XML file at `path` in one streaming pass and
    // returns its playlists in file order, each holding the tracks whose file
    // exists and has an accepted audio suffix (or video suffix while the car
    // system plays video).  Never writes anything.  A file that can't be
    // opened gives an empty list; damaged XML ends the reading and gives the
    // playlists completed before the damage.
    QList<iTunedata> parseiTunePlaylist(const QString &path) const;

    // ---- iTunes artwork index ---------------------------------------------
    // Which iTunes track's artwork cache file stands for each album.  Built
    // once at start-up; scans use it to find a cover for a track without one.

    // ids with the persistent id of every artwork cache file (".itc", ".itc2",
    // any case) below folder appended, in walk order.  The id is the second
    // part of the file name split at dots, hyphens and tabs.
    QList<QString> SearchiTineArts(const QDir &folder, QList<QString> ids) const;
    // Album name (trimmed, cleaned with formatSplChar) -> persistent id of the
    // last track of that album in the iTunes library file that has a cache
    // file.  Reading stops at the library's "Playlists" key.
    QMap<QString, QString> parseiTuneCoverArtStartup() const;
    // The same, from the given library file and artwork folder.
    QMap<QString, QString> parseiTuneCoverArt(const QString &libraryFile, const QDir &artworkFolder) const;

};

#endif // TAGLIBBUILDER_H
