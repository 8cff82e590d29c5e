#include "app/manager.h"

#include "core/mediaquality.h"

int manager::getMediaQuality(int bitrate)
{
    return mediaQualityClass(bitrate);
}
