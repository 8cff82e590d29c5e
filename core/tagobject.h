#ifndef TAGOBJECT_H
#define TAGOBJECT_H

#include <taglib/tstring.h>

namespace TagLib {
class AudioProperties;
class FileRef;
class Tag;
namespace ASF { class Properties; }
namespace FLAC { class Properties; }
namespace MP4 { class Properties; }
namespace MPEG { class Properties; }
namespace RIFF { namespace WAV { class Properties; } }
} // namespace TagLib

// The tag values and audio properties of one file, as read by
// track_data::ParseTags; track mapping turns it into a track record.
//
// Absent artist, album, genre and comment get their defaults ("Unknown
// Artist", "Unknown Album", "Unknown genre", "Unknown comment"); an absent
// title stays empty so that mapping can take the file name.  Absent audio
// properties leave the four numbers at 0.
class TagObject
{
public:
    TagLib::String title;
    TagLib::String artist;
    TagLib::String album;
    TagLib::String genre;
    TagLib::String comment;
    int track = 0;
    int year = 0;
    int bitrate = 0;     // kbit/s
    int channels = 0;
    int length = 0;      // seconds
    int sampleRate = 0;  // Hz

    void SetValues(TagLib::Tag *tag, TagLib::FLAC::Properties *properties);
    void SetValues(TagLib::Tag *tag, TagLib::RIFF::WAV::Properties *properties);
    void SetValues(TagLib::Tag *tag, TagLib::ASF::Properties *properties);
    void SetValues(TagLib::Tag *tag, TagLib::MP4::Properties *properties);
    void SetValues(TagLib::Tag *tag, TagLib::MPEG::Properties *properties);
    void SetValues(TagLib::FileRef file);

    // The common rule behind the overloads.  Text fields empty in `tag` are
    // taken from `fallback` when one is given (a WAV file's RIFF INFO tag
    // behind its ID3v2 tag); tag and properties may be null.
    void setFrom(const TagLib::Tag *tag, const TagLib::AudioProperties *properties,
                 const TagLib::Tag *fallback = nullptr);
};

#endif // TAGOBJECT_H
