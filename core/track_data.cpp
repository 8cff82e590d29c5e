#include "core/track_data.h"

#include <limits>

#include "core/logging.h"

int track_data::track_Id = 1;
int track_data::album_Id = 1;
int track_data::artist_Id = 1;

TrackMap track_data::track_obj_map;
QMap<QString, int> track_data::album_map;
QMap<QString, int> track_data::artist_map;
track track_data::obj_track;
QMap<QString, QString> track_data::ItuneCoverPIDALbum;
bool track_data::IsVideoSupported = false;

const QStringList track_data::audioFilter = {
    QStringLiteral("mp3"), QStringLiteral("m4a"), QStringLiteral("m4b"), QStringLiteral("aac"),
    QStringLiteral("wma"), QStringLiteral("mpa"), QStringLiteral("mp2"), QStringLiteral("mpga"),
    QStringLiteral("wav"), QStringLiteral("aiff"), QStringLiteral("aif"), QStringLiteral("aifc"),
    QStringLiteral("flac"), QStringLiteral("ogg"), QStringLiteral("oga"), QStringLiteral("ape")};
const QStringList track_data::videoFilter = {
    QStringLiteral("mp4"), QStringLiteral("avi"), QStringLiteral("mpeg"), QStringLiteral("mpg"),
    QStringLiteral("wmv"), QStringLiteral("flv"), QStringLiteral("mkv"), QStringLiteral("m4v"),
    QStringLiteral("mov")};
const QStringList track_data::playlistFilter = {
    QStringLiteral("m3u"), QStringLiteral("m3u8"), QStringLiteral("pls"), QStringLiteral("xspf"),
    QStringLiteral("wpl")};

namespace {
// Takes the next id from a counter without ever wrapping.  postIncrement
// gives the current value and then increases; otherwise the counter grows
// first and the new value is the id.
int takeId(int &counter, bool postIncrement, const char *what)
{
    if (counter == std::numeric_limits<int>::max()) {
        Logging::getInstance()->WriteLog(QStringLiteral("Id range exhausted, record refused: "),
                                         QString::fromLatin1(what));
        return -1;
    }
    return postIncrement ? counter++ : ++counter;
}
} // namespace

track_data::track_data() = default;
track_data::~track_data() = default;

int track_data::takeTrackId()
{
    return takeId(track_Id, true, "track");
}

int track_data::takeNextTrackId()
{
    return takeId(track_Id, false, "track");
}

int track_data::takeAlbumId()
{
    return takeId(album_Id, false, "album");
}

int track_data::takeArtistId()
{
    return takeId(artist_Id, false, "artist");
}

// ---- File checks and tag reading ------------------------------------------

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <taglib/asffile.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/tag.h>
#include <taglib/wavfile.h>

Q_LOGGING_CATEGORY(lcTagReading, "corvane.tags")

bool track_data::checkAudioFile(QString suffix)
{
    return audioFilter.contains(suffix.toLower());
}

bool track_data::checkVideoFile(QString suffix)
{
    return IsVideoSupported && videoFilter.contains(suffix.toLower());
}

bool track_data::checkPlaylist(QString suffix)
{
    return playlistFilter.contains(suffix.toLower());
}

namespace {
template<typename File>
bool isEncrypted(const QString &path)
{
    File file(QFile::encodeName(path).constData(), true, TagLib::AudioProperties::Average);
    const auto *properties = file.isValid() ? file.audioProperties() : nullptr;
    return properties && properties->isEncrypted();
}

// Opens one of the formats TagLib needs its own class for and reads it when
// the file is valid and has a tag.
template<typename File>
bool parseWith(TagObject &tags, const QString &path)
{
    File file(QFile::encodeName(path).constData(), true, TagLib::AudioProperties::Average);
    if (!file.isValid() || !file.tag()) {
        qCDebug(lcTagReading) << "not readable:" << path;
        return false;
    }
    tags.SetValues(file.tag(), file.audioProperties());
    return true;
}

// A stream TagLib can time: what an untagged but playable file has and
// random bytes or a picture under an audio name do not.
bool isPlayable(const TagLib::AudioProperties *properties)
{
    return properties && properties->sampleRate() > 0 && properties->lengthInMilliseconds() > 0;
}
} // namespace

bool track_data::checkProtected(QString path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    bool encrypted = false;
    if (suffix == QLatin1String("wma") || suffix == QLatin1String("wmv"))
        encrypted = isEncrypted<TagLib::ASF::File>(path);
    else if (suffix == QLatin1String("mp4") || suffix == QLatin1String("m4v"))
        encrypted = isEncrypted<TagLib::MP4::File>(path);
    if (encrypted)
        protectedTracks.append(path);
    return encrypted;
}

QStringList track_data::getProtectedTracks() const
{
    return protectedTracks;
}

void track_data::resetProtectedTracks()
{
    protectedTracks.clear();
}

bool track_data::ParseTags(TagObject &tags, QString path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("m4a") || suffix == QLatin1String("m4b") || suffix == QLatin1String("mp4"))
        return parseWith<TagLib::MP4::File>(tags, path);
    if (suffix == QLatin1String("wma"))
        return parseWith<TagLib::ASF::File>(tags, path);
    if (suffix == QLatin1String("flac"))
        return parseWith<TagLib::FLAC::File>(tags, path);

    const QByteArray name = QFile::encodeName(path);
    if (suffix == QLatin1String("wav")) {
        // tag() is only the ID3v2 tag; most tools write a RIFF INFO tag,
        // which fills whatever the ID3v2 tag leaves empty.
        TagLib::RIFF::WAV::File file(name.constData(), true, TagLib::AudioProperties::Average);
        // TagLib accepts any bytes as a WAV file; a real one has a format chunk.
        const auto *properties = file.isValid() ? file.audioProperties() : nullptr;
        if (!file.tag() || !properties || properties->sampleRate() <= 0) {
            qCDebug(lcTagReading) << "not readable:" << path;
            return false;
        }
        tags.setFrom(file.tag(), file.audioProperties(), file.hasInfoTag() ? file.InfoTag() : nullptr);
        return true;
    }

    const TagLib::FileRef ref(name.constData(), true, TagLib::AudioProperties::Average);
    if (!ref.isNull() && ref.tag() && !ref.tag()->isEmpty()) {
        tags.SetValues(ref);
        return true;
    }

    {
        // An MP3 whose only tag is an empty ID3v2 tag is still read.  TagLib
        // calls an MPEG file valid whatever its bytes, so the ID3v2 tag must
        // really be there (hasID3v2Tag, not ID3v2Tag(false), which is never null).
        TagLib::MPEG::File file(name.constData(), true, TagLib::AudioProperties::Average);
        if (file.isValid() && file.hasID3v2Tag() && file.tag()) {
            tags.SetValues(file.tag(), file.audioProperties());
            return true;
        }
    }

    // No tag at all: a playable file is read with the defaults (its title
    // comes from the file name later) instead of being dropped silently.
    if (!ref.isNull() && isPlayable(ref.audioProperties())) {
        tags.SetValues(ref);
        return true;
    }
    qCDebug(lcTagReading) << "no tags and no playable stream:" << path;
    return false;
}


// ---- Track mapping --------------------------------------------------------


// ---- Folder scan ----------------------------------------------------------


// ---- iTunes import --------------------------------------------------------

