#ifndef MEDIAQUALITY_H
#define MEDIAQUALITY_H

// The quality class of a bit rate in kbit/s: 0 up to 128, 1 from 129 to 255,
// 2 from 256.  Stored with each track: never renumber.
constexpr int mediaQualityClass(int bitrate)
{
    return bitrate <= 128 ? 0 : bitrate <= 255 ? 1 : 2;
}

#endif // MEDIAQUALITY_H
