#ifndef SHARED_H
#define SHARED_H

#include <QString>
#include <string>

#include "core/track.h"

// The data-folder layout, the placeholder picture, the default texts for
// missing metadata and the small text utilities every module uses.  A value
// class: each module keeps its own instance, all holding equal values.
class shared
{
public:
    shared();

    // Per-user data location (XDG data home); the data folder lies below it.
    static QString dataLocation();
    // Absolute path of the data folder, "<data location>/Corvane-Media-Organiser".
    static QString dataFolder();
    // Creates the data folder with its parents when missing; true when it exists.
    static bool ensureDataFolder();

    void setUnknownTags();

    QString formatSplChar(QString text) const;
    double convertToSec(const QString &text) const;
    int getTrackNo(const QString &name) const;
    QString coverpath(const QString &album) const;
    QString getApiNameByValue(signed char code) const;

    // Reset of a working record: everything cleared but releaseCoverUrl.
    track initializeTrackObject(const track &record) const;

    // ---- Mixed-album folders and folder pictures --------------------------


    // Relative to the data location: put dataLocation() in front.
    QString artworkPath;
    QString videoArtworkPath;
    QString downloadArtworkPath;
    QString noArtworkUrl;
    QString appDataPath;
    QString reservedText;
    QString discogsSearchUrl;
    QString reservedText2;
    QString unknownText;
    QString unknownAlbum;
    QString unknownArtist;
    QString unknownCodec;
    QString unknownComment;
    QString unknownFilename;
    QString unknownGenre;
    QString unknownPath;
    QString unknownSong;
};

// True when s is non-empty and every byte is an ASCII digit.
bool is_number(const std::string &s);

#endif // SHARED_H
