#include "core/track_data.h"

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

#include "core/logging.h"
#include "core/probeoutput.h"
#include "core/taglibbuilder.h"
#include "core/track_data_p.h"
#include "core/videometadata.h"
#include "platform/externalprogram.h"

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

// How far TagLib got with a file: whether it understood the file as its
// kind at all (its tag and properties are then in the TagObject), and the
// playing time it found, in milliseconds.
struct TagLibRead
{
    bool opened = false;
    qint64 lengthMs = 0;
};

template<typename File>
TagLibRead readWith(TagObject &tags, const QString &path)
{
    File file(QFile::encodeName(path).constData(), true, TagLib::AudioProperties::Average);
    TagLibRead read;
    if (!file.isValid() || !file.tag())
        return read;
    tags.SetValues(file.tag(), file.audioProperties());
    read.opened = true;
    read.lengthMs = file.audioProperties() ? file.audioProperties()->lengthInMilliseconds() : 0;
    return read;
}

const QStringList mpegSuffixes = {QStringLiteral("mp3"), QStringLiteral("mp2"), QStringLiteral("mpa"),
                                  QStringLiteral("mpga")};

// Largest sample rate any real audio has (DSD aside, which these files don't hold).
constexpr int maximumSampleRate = 768000;

// Values no real file has: a negative time, a sample rate past any real
// one, or more than a day of audio in less than 1 kbit/s of bytes.
bool isImpossible(qint64 lengthMs, int sampleRate, qint64 size)
{
    if (lengthMs < 0 || sampleRate < 0 || sampleRate > maximumSampleRate)
        return true;
    return lengthMs > 24 * 3600 * 1000LL && size * 8 * 1000 / lengthMs < 1000;
}

// kbit/s of `size` bytes played in `lengthMs`.
int averageKbps(qint64 size, qint64 lengthMs)
{
    return lengthMs > 0 ? int(qMin<qint64>(size * 8 / lengthMs, std::numeric_limits<int>::max())) : 0;
}

// Files TagLib can't time that ffprobe can, told by their first bytes so
// that noise under such a name never reaches ffprobe: raw ADTS (or ADIF)
// AAC or an MP4 under an .aac name, Ogg (several logical streams are too
// much for TagLib), RF64/BW64 WAV.
bool needsProbe(const QString &path, const QString &suffix)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(8);
    if (suffix == QLatin1String("aac"))
        return head.startsWith("ADIF") || head.startsWith("ID3") || head.mid(4) == "ftyp" // an MP4 named .aac
               || (head.size() >= 2 && quint8(head.at(0)) == 0xFF && (quint8(head.at(1)) & 0xF6) == 0xF0);
    if (suffix == QLatin1String("ogg") || suffix == QLatin1String("oga"))
        return head.startsWith("OggS");
    if (suffix == QLatin1String("wav"))
        return head.startsWith("RF64") || head.startsWith("BW64");
    return false;
}

// ffprobe's view of the file: one bounded run.
ProbeOutput::Streams probeStreams(const QString &path)
{
    const ExternalProgram::Result probe = ExternalProgram(ExternalProgram::Ffprobe)
                                              .run({QStringLiteral("-v"), QStringLiteral("error"),
                                                    QStringLiteral("-show_streams"), QStringLiteral("-show_format"),
                                                    path},
                                                   VideoMetadata::probeTimeoutMs);
    if (!probe.succeeded())
        return {};
    return ProbeOutput::streams(ProbeOutput::text(probe.standardOutput));
}
} // namespace

bool track_data::checkProtected(QString path)
{
    const bool encrypted = isEncryptedFile(path);
    if (encrypted)
        protectedTracks.append(path);
    return encrypted;
}

bool track_data::isEncryptedFile(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("wma") || suffix == QLatin1String("wmv"))
        return isEncrypted<TagLib::ASF::File>(path);
    if (suffix == QLatin1String("mp4") || suffix == QLatin1String("m4v"))
        return isEncrypted<TagLib::MP4::File>(path);
    return false;
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
    return TrackDataInternal::parseTags(tags, path, nullptr);
}

bool TrackDataInternal::parseTags(TagObject &tags, const QString &path, EmbeddedPicture *picture, qint64 size)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    const QByteArray name = QFile::encodeName(path);
    const bool mpeg = mpegSuffixes.contains(suffix);
    TagLibRead read;
    if (suffix == QLatin1String("m4a") || suffix == QLatin1String("m4b") || suffix == QLatin1String("mp4")) {
        read = readWith<TagLib::MP4::File>(tags, path);
    } else if (suffix == QLatin1String("wma")) {
        read = readWith<TagLib::ASF::File>(tags, path);
    } else if (suffix == QLatin1String("flac")) {
        read = readWith<TagLib::FLAC::File>(tags, path);
    } else if (suffix == QLatin1String("wav")) {
        // tag() is only the ID3v2 tag; most tools write a RIFF INFO tag,
        // which fills whatever the ID3v2 tag leaves empty.
        TagLib::RIFF::WAV::File file(name.constData(), true, TagLib::AudioProperties::Average);
        if (file.isValid() && file.tag()) {
            tags.setFrom(file.tag(), file.audioProperties(), file.hasInfoTag() ? file.InfoTag() : nullptr);
            read = {true, file.audioProperties() ? file.audioProperties()->lengthInMilliseconds() : 0};
        }
    } else if (mpeg) {
        // TagLib calls any bytes valid MPEG: only a first frame makes it audio
        // (an ID3v2 tag alone, a picture under an MP3 name, is none).
        TagLib::MPEG::File file(name.constData(), true, TagLib::AudioProperties::Average);
        if (file.isValid() && file.tag()) {
            tags.SetValues(file.tag(), file.audioProperties());
            if (picture) {
                picture->known = true;
                picture->bytes = TagLibBuilder::id3v2Picture(file);
            }
            read.opened = true;
            // The properties have a sample rate only when they found a first
            // frame: asking TagLib for it again would search the file again.
            const TagLib::MPEG::Properties *audio = file.audioProperties();
            if (audio && audio->sampleRate() > 0)
                read.lengthMs = audio->lengthInMilliseconds();
        }
    } else {
        // Every other kind keeps the properties its own reader gives (an AIFF
        // or APE file with an ID3 chunk is no MP3).
        const TagLib::FileRef ref(name.constData(), true, TagLib::AudioProperties::Average);
        if (!ref.isNull()) {
            tags.SetValues(ref);
            read = {true, ref.audioProperties() ? ref.audioProperties()->lengthInMilliseconds() : 0};
        }
    }

    if (size < 0)
        size = QFileInfo(path).size();
    const bool impossible = read.opened && isImpossible(read.lengthMs, tags.sampleRate, size);
    if (read.opened && !impossible && read.lengthMs > 0 && tags.sampleRate > 0) {
        if (tags.bitrate <= 0)
            tags.bitrate = averageKbps(size, read.lengthMs);
        return true;
    }
    // No audio: an MPEG file without frames, or a file TagLib understood with
    // neither time nor sample rate (random bytes pass as a WAV file).
    const bool video = track_data::videoFilter.contains(suffix);
    const bool silent = read.opened && !impossible
                        && (mpeg ? read.lengthMs <= 0 : read.lengthMs <= 0 && tags.sampleRate <= 0);
    if (!video && (silent || !read.opened) && !needsProbe(path, suffix)) {
        qCDebug(lcTagReading) << "no playable audio:" << path;
        return false;
    }

    // ffprobe, once, for what TagLib can't tell: a video in a container
    // TagLib doesn't read, a missing sample rate or time, impossible values.
    const ProbeOutput::Streams streams = probeStreams(path);
    const qint64 probedMs = qint64(streams.duration * 1000);
    const bool probedAudio = streams.hasAudio && streams.sampleRate > 0 && probedMs > 0
                             && !isImpossible(probedMs, streams.sampleRate, size);
    if (!read.opened && (probedAudio || (video && streams.hasVideo)))
        tags.setFrom(nullptr, nullptr); // the defaults; the title comes from the file name
    if (probedAudio || (video && streams.hasVideo && probedMs > 0)) {
        tags.length = int(streams.duration);
        tags.sampleRate = streams.sampleRate;
        if (streams.channels > 0)
            tags.channels = streams.channels;
        tags.bitrate = streams.bitrate > 0 ? streams.bitrate : averageKbps(size, probedMs);
        return true;
    }
    if (video && streams.hasVideo) {
        // Its time comes from the video metadata step.
        tags.length = 0;
        tags.sampleRate = 0;
        return true;
    }
    // TagLib's time without a sample rate still plays.
    if (read.opened && !impossible && read.lengthMs > 0) {
        if (tags.bitrate <= 0)
            tags.bitrate = averageKbps(size, read.lengthMs);
        return true;
    }
    if (impossible)
        Logging::getInstance()->WriteLog(QStringLiteral("Impossible audio values, file refused: "), path);
    qCDebug(lcTagReading) << "not readable:" << path;
    return false;
}
