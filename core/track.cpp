#include "core/track.h"

void registerTrackMetaTypes()
{
    qRegisterMetaType<track>("track");
    qRegisterMetaType<QList<track>>("QList<track>");
}
