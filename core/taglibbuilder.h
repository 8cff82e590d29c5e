#ifndef TAGLIBBUILDER_H
#define TAGLIBBUILDER_H

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

};

#endif // TAGLIBBUILDER_H
