#include "core/tagobject.h"

#include <taglib/asfproperties.h>
#include <taglib/fileref.h>
#include <taglib/flacproperties.h>
#include <taglib/mp4properties.h>
#include <taglib/mpegproperties.h>
#include <taglib/tag.h>
#include <taglib/wavproperties.h>

#include <utility>

namespace {
TagLib::String orDefault(const TagLib::String &value, const TagLib::String &fallbackValue, const char *defaultText)
{
    if (!value.isEmpty())
        return value;
    if (!fallbackValue.isEmpty())
        return fallbackValue;
    return TagLib::String(defaultText, TagLib::String::Latin1);
}
} // namespace

void TagObject::setFrom(const TagLib::Tag *tag, const TagLib::AudioProperties *properties,
                        const TagLib::Tag *fallback)
{
    const auto text = [tag, fallback](TagLib::String (TagLib::Tag::*get)() const) {
        const TagLib::String own = tag ? (tag->*get)() : TagLib::String();
        return std::make_pair(own, fallback ? (fallback->*get)() : TagLib::String());
    };
    const auto number = [tag, fallback](unsigned int (TagLib::Tag::*get)() const) {
        const unsigned int own = tag ? (tag->*get)() : 0;
        return int(own ? own : (fallback ? (fallback->*get)() : 0));
    };

    const auto titles = text(&TagLib::Tag::title);
    title = titles.first.isEmpty() ? titles.second : titles.first;
    const auto artists = text(&TagLib::Tag::artist);
    artist = orDefault(artists.first, artists.second, "Unknown Artist");
    const auto albums = text(&TagLib::Tag::album);
    album = orDefault(albums.first, albums.second, "Unknown Album");
    const auto genres = text(&TagLib::Tag::genre);
    genre = orDefault(genres.first, genres.second, "Unknown genre");
    const auto comments = text(&TagLib::Tag::comment);
    comment = orDefault(comments.first, comments.second, "Unknown comment");
    track = number(&TagLib::Tag::track);
    year = number(&TagLib::Tag::year);

    if (properties) {
        bitrate = properties->bitrate();
        channels = properties->channels();
        length = properties->lengthInSeconds();
        sampleRate = properties->sampleRate();
    }
}

void TagObject::SetValues(TagLib::Tag *tag, TagLib::FLAC::Properties *properties)
{
    setFrom(tag, properties);
}

void TagObject::SetValues(TagLib::Tag *tag, TagLib::RIFF::WAV::Properties *properties)
{
    setFrom(tag, properties);
}

void TagObject::SetValues(TagLib::Tag *tag, TagLib::ASF::Properties *properties)
{
    setFrom(tag, properties);
}

void TagObject::SetValues(TagLib::Tag *tag, TagLib::MP4::Properties *properties)
{
    setFrom(tag, properties);
}

void TagObject::SetValues(TagLib::Tag *tag, TagLib::MPEG::Properties *properties)
{
    setFrom(tag, properties);
}

void TagObject::SetValues(TagLib::FileRef file)
{
    if (file.isNull())
        return;
    setFrom(file.tag(), file.audioProperties());
}
