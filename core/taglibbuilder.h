#ifndef TAGLIBBUILDER_H
#define TAGLIBBUILDER_H

#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <taglib/attachedpictureframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/tag.h>

#include "core/track.h"

// TagLib, playlist and iTunes-file operations.  No data members and no work
// in the constructor: any module may make its own instance.
class TagLibBuilder
{
public:
    TagLibBuilder() = default;

    // ---- Embedded cover art -----------------------------------------------
    // Writes the picture embedded in mediaPath, scaled to fit 110 x 110, as a
    // PNG at coverPath; an existing file there is left alone.  Always returns
    // an empty string: the outcome is whether a file now exists.  The file is
    // written whole or not at all, and bytes that don't decode leave nothing.
    QString storeCoverArt(QString coverPath, QString mediaPath);
    // The tag's front-cover picture frame, else its first picture frame;
    // owned by the tag.  Without one: null, or with `create` a new default
    // frame added to the tag.
    TagLib::ID3v2::AttachedPictureFrame *attachedPictureFrame(TagLib::ID3v2::Tag *tag, bool create);
    // Edge of the square the picture is scaled into.
    static constexpr int coverSize = 110;

    // ---- Playlist files ---------------------------------------------------


    // ---- Tag writer -------------------------------------------------------
    // Writes the record's known values into its file (mp3, wma, m4a, m4b,
    // mp4; anything else is left alone).  An MP3 needs an ID3v2 tag already
    // and comes out with one ID3v2.3 tag: ID3v1 and APE tags are removed and
    // whatever only they held moves into it.  The file is rewritten only
    // when a value changes, and through a copy renamed over it, so a failed
    // save leaves the file as it was.
    void setMissingTag(track record);
    // Sets the record's known values on an open tag without saving: title
    // and artist when flagged and not empty, album when flagged and not from
    // a playlist, genre unless empty or "Unknown...", year and track number
    // unless 0.  Anything else in the tag stays as it is.
    void SetValues(TagLib::Tag *tag, track record);

    // ---- iTunes library file ----------------------------------------------


    // ---- iTunes artwork index ---------------------------------------------

};

#endif // TAGLIBBUILDER_H
