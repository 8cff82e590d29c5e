#include "app/manager.h"

manager::manager() = default;

// ---- Quality classes ------------------------------------------------------

int manager::getMediaQuality(int bitrate)
{
    if (bitrate <= 128)
        return 0;
    return bitrate <= 255 ? 1 : 2;
}

// ---- Library id look-ups --------------------------------------------------



// ---- Library views --------------------------------------------------------



// ---- Start-up and controller state ----------------------------------------

