#ifndef TAGLIBBUILDER_H
#define TAGLIBBUILDER_H

#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

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


    // ---- iTunes artwork index ---------------------------------------------

};

#endif // TAGLIBBUILDER_H
