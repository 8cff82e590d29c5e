#ifndef DETAILS_H
#define DETAILS_H

#include <QString>

// One named entry of an in-car system's profile: an album-art format, an
// audio codec the system plays, or a playlist type.
struct Details
{
    QString name;
    QString extension;    // comma-separated file extensions
    QString description;
};

#endif // DETAILS_H
