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
    // The media paths a playlist names, in file order, duplicates kept and
    // not tested for existence; empty on any failure.  URL entries are
    // dropped, relative entries are resolved against the playlist's folder
    // and every entry is a cleaned path.  Text that isn't valid UTF-8 is read
    // as Latin-1; a UTF-8 byte-order mark is skipped.

    // Chooses the reader by the lower-cased suffix: "wpl", "pls", "m3u" or
    // "m3u8"; anything else ("xspf" too) gives an empty list.
    QList<QString> parsePlaylists(const QFileInfo &playlist) const;
    // M3U/M3U8: one entry per line; blank lines and "#" lines are comments.
    QList<QString> readM3UPlaylist(const QString &path) const;
    // PLS: the trimmed values of the keys beginning with "file", in line order.
    QList<QString> readPlsPlaylist(const QString &path) const;
    // WPL: the "src" of every "media" element up to the end or the first XML
    // error; a leading ".." stands for the user's music folder.
    QList<QString> parseWplPlaylist(const QString &path) const;


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
