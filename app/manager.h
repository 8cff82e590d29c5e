#ifndef MANAGER_H
#define MANAGER_H

#include <QObject>

#include "core/track.h"
#include "core/track_data.h"

// The controller the QML user interface talks to.  Built in steps: its
// operations are grouped below by area.
class manager : public QObject, public track_data
{
    Q_OBJECT

public:
    manager();  // a controller without a view

    // ---- Quality classes --------------------------------------------------
    // 0 up to 128 kbit/s, 1 from 129 to 255, 2 from 256.  Needs no state.
    static int getMediaQuality(int bitrate);

    // ---- Library id look-ups ----------------------------------------------


    // ---- Library views ----------------------------------------------------


    // ---- Start-up and controller state ------------------------------------

};

#endif // MANAGER_H
