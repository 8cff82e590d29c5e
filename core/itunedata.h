#ifndef ITUNEDATA_H
#define ITUNEDATA_H

#include <QList>
#include <QString>

#include "core/track.h"

// One playlist of the iTunes library file as the reader returns it: the
// playlist's name and the records of its playable tracks, in ascending
// Track ID order, each at most once.  The records are raw (source 1, no
// library ids, no covers); the iTunes import numbers and completes them.
struct iTunedata
{
    QString name;
    QList<track> tracks;

    // What iTunes made the playlist for, from the keys it writes whatever
    // the library's language: "Master" (the whole library), "Distinguished
    // Kind" and the "Music", "Movies", "Podcasts", "Audiobooks", "TV Shows"
    // and "Purchased Music" flags.  User: none of them, a user's playlist.
    enum class Role { User, Library, Music, Movies, Podcasts, Books, Purchased, OtherOwn };
    Role role = Role::User;
};

#endif // ITUNEDATA_H
