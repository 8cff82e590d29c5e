#include "core/taglibbuilder.h"

#include "core/noclobberwriter.h"

// ---- Embedded cover art ---------------------------------------------------

#include <QByteArray>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QLoggingCategory>

#include <taglib/aifffile.h>
#include <taglib/apefile.h>
#include <taglib/apetag.h>
#include <taglib/asffile.h>
#include <taglib/flacfile.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>

#include "core/noclobberwriter.h"

Q_LOGGING_CATEGORY(lcCoverArt, "corvane.coverart")

namespace {
QByteArray toQByteArray(const TagLib::ByteVector &bytes)
{
    return QByteArray(bytes.data(), int(bytes.size()));
}

// The 110 x 110 PNG of one embedded picture; empty when the bytes don't
// decode.  A large picture is decoded straight at about twice the cover's
// size (JPEG decodes at a fraction of its size for little cost), then scaled
// smoothly the rest of the way.
QByteArray scaledPng(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer);
    const QSize full = reader.size();
    const int edge = 2 * TagLibBuilder::coverSize;
    if (full.width() > edge && full.height() > edge && reader.supportsOption(QImageIOHandler::ScaledSize))
        reader.setScaledSize(full.scaled(edge, edge, Qt::KeepAspectRatioByExpanding));
    QImage image;
    if (!reader.read(&image)) {
        qCDebug(lcCoverArt) << "embedded picture does not decode";
        return QByteArray();
    }
    const QImage scaled = image.scaled(TagLibBuilder::coverSize, TagLibBuilder::coverSize, Qt::KeepAspectRatio,
                                       Qt::SmoothTransformation);
    QByteArray png;
    QBuffer out(&png);
    // Light compression (zlib level 1): a cover of this size then takes a
    // fraction of the time to encode, for a few more bytes in the cache.
    constexpr int lightCompression = 85;
    if (scaled.isNull() || !out.open(QIODevice::WriteOnly) || !scaled.save(&out, "PNG", lightCompression))
        return QByteArray();
    return png;
}

// Chooses among the pictures of one file.  A "prepared" source (ID3v2, MP4,
// AIFF) is taken only while nothing has been chosen; the FLAC, APE and WMA
// sources replace an earlier choice.  Pictures that don't decode are passed
// over.
class CoverChoice
{
public:
    void offer(const QByteArray &bytes, bool prepared)
    {
        if (prepared && !m_png.isEmpty())
            return;
        const QByteArray png = scaledPng(bytes);
        if (!png.isEmpty())
            m_png = png;
    }
    QByteArray png() const { return m_png; }

private:
    QByteArray m_png;
};
} // namespace

QString TagLibBuilder::storeCoverArt(QString coverPath, QString mediaPath)
{
    if (QFileInfo::exists(coverPath))
        return QString();
    writeCoverArt(coverPath, coverArtPng(mediaPath));
    return QString();
}

bool TagLibBuilder::writeCoverArt(const QString &coverPath, const QByteArray &png)
{
    if (png.isEmpty() || QFileInfo::exists(coverPath))
        return false;
    // Complete or not at all and never over another picture, but not synced
    // to disk one by one: the pictures are a cache the program can make again.
    if (!NoClobberWriter::writeNew(coverPath, png)) {
        qCDebug(lcCoverArt).noquote() << "- TagLibBuilder Error opening file for writing"
                                      << QStringLiteral("\"%1\"").arg(coverPath);
        return false;
    }
    return true;
}

QByteArray TagLibBuilder::coverArtPng(const QString &mediaPath)
{
    const QString suffix = QFileInfo(mediaPath).suffix().toLower();
    const QByteArray name = QFile::encodeName(mediaPath);
    CoverChoice choice;

    {
        TagLib::MPEG::File file(name.constData(), false);
        if (file.isValid() && file.hasID3v2Tag()) {
            const auto *frame = TagLibBuilder().attachedPictureFrame(file.ID3v2Tag(false), false);
            if (frame && !frame->picture().isEmpty())
                choice.offer(toQByteArray(frame->picture()), true);
        }
    }

    if (suffix == QLatin1String("m4a") || suffix == QLatin1String("m4b") || suffix == QLatin1String("mp4")) {
        TagLib::MP4::File file(name.constData(), false);
        if (file.isValid() && file.tag()) {
            const TagLib::MP4::CoverArtList covers = file.tag()->item("covr").toCoverArtList();
            if (!covers.isEmpty() && !covers.front().data().isEmpty())
                choice.offer(toQByteArray(covers.front().data()), true);
        }
    }

    if (suffix == QLatin1String("flac")) {
        TagLib::FLAC::File file(name.constData(), false);
        if (file.isValid()) {
            // The front cover, else the first picture.
            const TagLib::FLAC::Picture *chosen = nullptr;
            for (const TagLib::FLAC::Picture *picture : file.pictureList()) {
                if (picture && (!chosen || (picture->type() == TagLib::FLAC::Picture::FrontCover
                                            && chosen->type() != TagLib::FLAC::Picture::FrontCover)))
                    chosen = picture;
            }
            if (chosen)
                choice.offer(toQByteArray(chosen->data()), false);
        }
    }

    if (suffix == QLatin1String("ape")) {
        TagLib::APE::File file(name.constData(), false);
        if (file.isValid() && file.hasAPETag()) {
            const TagLib::APE::ItemListMap &items = file.APETag(false)->itemListMap();
            const auto it = items.find("COVER ART (FRONT)");
            if (it != items.end()) {
                // A description, a zero byte, then the image.
                const TagLib::ByteVector raw = it->second.binaryData();
                const int zero = raw.find('\0');
                if (zero >= 0)
                    choice.offer(toQByteArray(raw.mid(static_cast<unsigned int>(zero) + 1)), false);
            }
        }
    }

    if (suffix == QLatin1String("wma")) {
        TagLib::ASF::File file(name.constData(), false);
        if (file.isValid() && file.tag()) {
            const TagLib::ASF::AttributeListMap &attributes = file.tag()->attributeListMap();
            const auto it = attributes.find("WM/Picture");
            if (it != attributes.end()) {
                // The front cover, else the first picture: a tag save may
                // have put an artist photo first.
                // (A default ASF::Picture counts as valid: `found` says whether one was chosen.)
                TagLib::ASF::Picture chosen;
                bool found = false;
                for (const TagLib::ASF::Attribute &attribute : it->second) {
                    const TagLib::ASF::Picture picture = attribute.toPicture();
                    if (picture.isValid() && (!found || (picture.type() == TagLib::ASF::Picture::FrontCover
                                                         && chosen.type() != TagLib::ASF::Picture::FrontCover))) {
                        chosen = picture;
                        found = true;
                    }
                }
                if (found)
                    choice.offer(toQByteArray(chosen.picture()), false);
            }
        }
    }

    if (suffix == QLatin1String("aiff") || suffix == QLatin1String("aif")) {
        TagLib::RIFF::AIFF::File file(name.constData(), false);
        if (file.isValid() && file.hasID3v2Tag()) {
            const auto *frame = TagLibBuilder().attachedPictureFrame(file.tag(), false);
            if (frame && !frame->picture().isEmpty())
                choice.offer(toQByteArray(frame->picture()), true);
        }
    }

    return choice.png();
}

TagLib::ID3v2::AttachedPictureFrame *TagLibBuilder::attachedPictureFrame(TagLib::ID3v2::Tag *tag, bool create)
{
    if (!tag)
        return nullptr;
    using Picture = TagLib::ID3v2::AttachedPictureFrame;
    const TagLib::ID3v2::FrameList frames = tag->frameList("APIC");
    if (!frames.isEmpty()) {
        if (frames.size() > 1) {
            for (TagLib::ID3v2::Frame *frame : frames) {
                auto *picture = dynamic_cast<Picture *>(frame);
                if (!picture)
                    break;
                if (picture->type() == Picture::FrontCover)
                    return picture;
            }
        }
        if (auto *first = dynamic_cast<Picture *>(frames.front()))
            return first;
    }
    if (!create)
        return nullptr;
    auto *frame = new Picture;
    tag->addFrame(frame);
    return frame;
}


// ---- Playlist files -------------------------------------------------------

#include <QDebug>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QXmlStreamReader>

#include "core/logging.h"

namespace {

// Playlists are small; anything larger is not read.
constexpr qint64 maxPlaylistSize = qint64(32) * 1024 * 1024;

// The lines of an M3U or PLS file, each trimmed.  UTF-8 unless the bytes
// aren't valid UTF-8, then Latin-1, so non-ASCII entries survive either way.
bool readPlaylistLines(const QString &path, QStringList &lines)
{
    QFile file(path);
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly)) {
        qDebug() << "Failed to open read only file" << path;
        return false;
    }
    if (file.size() > maxPlaylistSize) {
        qDebug() << "Playlist too large, not read:" << path;
        return false;
    }
    QByteArray bytes = file.readAll();
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        text = QString::fromLatin1(bytes);
    static const QRegularExpression lineEnd(QStringLiteral("\r\n|\n|\r"));
    lines = text.split(lineEnd);
    for (QString &line : lines)
        line = line.trimmed();
    return true;
}

// A playlist entry as a cleaned path: a relative one is taken from `folder`.
// Playlists written on Windows use "\": when the entry as written names
// nothing here, it is read with "/" instead.  A drive-letter path can't
// exist here and gives "" (with a log line).
QString resolveEntry(const QString &entry, const QString &folder)
{
    static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:[\\\\/]"));
    if (drive.match(entry).hasMatch()) {
        Logging::getInstance()->WriteLog(QStringLiteral("Playlist entry on a Windows drive left out: "), entry);
        return QString();
    }
    const auto resolve = [&folder](const QString &path) {
        return QDir::cleanPath(QDir::isRelativePath(path) ? QDir(folder).absoluteFilePath(path) : path);
    };
    const QString asWritten = resolve(entry);
    if (!entry.contains(QLatin1Char('\\')) || QFileInfo::exists(asWritten))
        return asWritten;
    return resolve(QString(entry).replace(QLatin1Char('\\'), QLatin1Char('/')));
}

// Entry handling shared by M3U and PLS.
void appendEntry(QList<QString> &entries, const QString &entry, const QString &playlistPath)
{
    static const QRegularExpression url(QStringLiteral("^[a-z]+://"));
    if (url.match(entry).hasMatch())
        return;
    const QString resolved = resolveEntry(entry, QFileInfo(playlistPath).absolutePath());
    if (!resolved.isEmpty())
        entries.append(resolved);
}

} // namespace

QList<QString> TagLibBuilder::parsePlaylists(const QFileInfo &playlist) const
{
    const QString suffix = playlist.suffix().toLower();
    if (suffix == QLatin1String("wpl"))
        return parseWplPlaylist(playlist.absoluteFilePath());
    if (suffix == QLatin1String("pls"))
        return readPlsPlaylist(playlist.filePath());
    if (suffix == QLatin1String("m3u") || suffix == QLatin1String("m3u8"))
        return readM3UPlaylist(playlist.filePath());
    return {};
}

QList<QString> TagLibBuilder::readM3UPlaylist(const QString &path) const
{
    QList<QString> entries;
    QStringList lines;
    if (!readPlaylistLines(path, lines))
        return entries;
    for (const QString &line : std::as_const(lines)) {
        // "#EXTM3U", "#EXTINF:" and other comments name no file.
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        appendEntry(entries, line, path);
    }
    return entries;
}

QList<QString> TagLibBuilder::readPlsPlaylist(const QString &path) const
{
    QList<QString> entries;
    QStringList lines;
    if (!readPlaylistLines(path, lines))
        return entries;
    for (const QString &line : std::as_const(lines)) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        const QString key = (equals < 0 ? line : line.left(equals)).toLower();
        if (!key.startsWith(QLatin1String("file")))
            continue;
        // The number after "File" plays no part: entries keep the line order.
        const QString value = (equals < 0 ? line : line.mid(equals + 1)).trimmed();
        if (!value.isEmpty())
            appendEntry(entries, value, path);
    }
    return entries;
}

QList<QString> TagLibBuilder::parseWplPlaylist(const QString &path) const
{
    QList<QString> entries;
    QFile file(path);
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qDebug() << "Load XML File Problem.";
        return entries;
    }
    if (file.size() > maxPlaylistSize) {
        qDebug() << "Playlist too large, not read:" << path;
        return entries;
    }
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    QXmlStreamReader xml(&file);
    while (!xml.atEnd() && !xml.hasError()) {
        xml.readNext();
        if (!xml.isStartElement() || xml.name() != QLatin1String("media"))
            continue;
        const QString source = xml.attributes().value(QLatin1String("src")).toString();
        // Windows Media Player writes entries relative to the music folder;
        // other relative entries are relative to the playlist's own folder,
        // never to the process's working folder.
        if (source.isEmpty()) {
            entries.append(source);
        } else if (source.startsWith(QLatin1String(".."))) {
            QString rest = source.mid(2);
            while (rest.startsWith(QLatin1Char('/')) || rest.startsWith(QLatin1Char('\\')))
                rest.remove(0, 1);
            const QString resolved = resolveEntry(rest, music);
            if (!resolved.isEmpty())
                entries.append(resolved);
        } else {
            const QString resolved = resolveEntry(source, QFileInfo(path).absolutePath());
            if (!resolved.isEmpty())
                entries.append(resolved);
        }
    }
    return entries;
}



// ---- Tag writer -----------------------------------------------------------

#include <QDir>
#include <QTemporaryFile>

#include <taglib/apetag.h>
#include <taglib/asffile.h>
#include <taglib/id3v1tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "core/shared.h"

Q_LOGGING_CATEGORY(lcTagWriter, "corvane.tagwriter")

namespace {
// What the writer may change, to tell whether a save is needed at all.
struct WrittenValues
{
    TagLib::String title;
    TagLib::String artist;
    TagLib::String album;
    TagLib::String genre;
    unsigned int year = 0;
    unsigned int track = 0;

    explicit WrittenValues(const TagLib::Tag *tag)
        : title(tag->title())
        , artist(tag->artist())
        , album(tag->album())
        , genre(tag->genre())
        , year(tag->year())
        , track(tag->track())
    {
    }
    bool operator==(const WrittenValues &other) const
    {
        return title == other.title && artist == other.artist && album == other.album && genre == other.genre
               && year == other.year && track == other.track;
    }
};

// Fills what the ID3v2 tag lacks from a tag the save is about to strip.
void keepStrippedValues(TagLib::ID3v2::Tag *target, const TagLib::Tag *stripped)
{
    if (!stripped || stripped->isEmpty())
        return;
    if (target->title().isEmpty())
        target->setTitle(stripped->title());
    if (target->artist().isEmpty())
        target->setArtist(stripped->artist());
    if (target->album().isEmpty())
        target->setAlbum(stripped->album());
    if (target->genre().isEmpty())
        target->setGenre(stripped->genre());
    if (target->comment().isEmpty())
        target->setComment(stripped->comment());
    if (target->year() == 0)
        target->setYear(stripped->year());
    if (target->track() == 0)
        target->setTrack(stripped->track());
}

enum class WriteKind { None, Mpeg, Asf, Mp4 };

WriteKind writeKindOf(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("mp3"))
        return WriteKind::Mpeg;
    if (suffix == QLatin1String("wma"))
        return WriteKind::Asf;
    if (suffix == QLatin1String("m4a") || suffix == QLatin1String("m4b") || suffix == QLatin1String("mp4"))
        return WriteKind::Mp4;
    return WriteKind::None;
}

// The formats with one tag of their own (ASF, MP4): opens the file, sets
// the record's values and, when `save`, saves.  Same contract as applyRecord.
template<typename File>
bool applyToOwnTag(TagLibBuilder &builder, const QByteArray &name, const track &record, bool save)
{
    File file(name.constData(), false);
    if (!file.isValid() || !file.tag())
        return false;
    const WrittenValues before(file.tag());
    builder.SetValues(file.tag(), record);
    if (WrittenValues(file.tag()) == before)
        return false;
    return !save || file.save();
}

// Opens `path` as the given kind, sets the record's values and, when
// `save`, saves.  Returns whether a value changed (and, when saving, whether
// the save succeeded too).
bool applyRecord(TagLibBuilder &builder, WriteKind kind, const QString &path, const track &record, bool save)
{
    const QByteArray name = QFile::encodeName(path);
    switch (kind) {
    case WriteKind::Mpeg: {
        TagLib::MPEG::File file(name.constData(), false);
        // hasID3v2Tag, not ID3v2Tag(false): the latter is never null.
        if (!file.isValid() || !file.hasID3v2Tag() || !file.tag())
            return false;
        TagLib::ID3v2::Tag *tag = file.ID3v2Tag();
        const WrittenValues before(tag);
        builder.SetValues(tag, record);
        if (WrittenValues(tag) == before)
            return false;
        if (!save)
            return true;
        if (file.hasID3v1Tag())
            keepStrippedValues(tag, file.ID3v1Tag());
        if (file.hasAPETag())
            keepStrippedValues(tag, file.APETag());
        return file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v3);
    }
    case WriteKind::Asf:
        return applyToOwnTag<TagLib::ASF::File>(builder, name, record, save);
    case WriteKind::Mp4:
        return applyToOwnTag<TagLib::MP4::File>(builder, name, record, save);
    case WriteKind::None:
        break;
    }
    return false;
}

// Copies `source` into a new hidden file beside it; the copy keeps the
// source's permissions.  The caller owns the returned file.
QTemporaryFile *copyBeside(const QString &source)
{
    const QFileInfo info(source);
    auto *copy = new QTemporaryFile(info.absolutePath() + QStringLiteral("/.") + info.fileName()
                                    + QStringLiteral(".tagwrite-XXXXXX"));
    QFile in(source);
    if (!copy->open() || !in.open(QIODevice::ReadOnly)) {
        delete copy;
        return nullptr;
    }
    QByteArray chunk;
    while (!(chunk = in.read(1 << 20)).isEmpty()) {
        if (copy->write(chunk) != chunk.size()) {
            delete copy;
            return nullptr;
        }
    }
    if (in.error() != QFileDevice::NoError || !copy->flush()) {
        delete copy;
        return nullptr;
    }
    // The copy takes the file's place: it keeps the file's owner and group
    // where the process may give them (as root), then every mode bit (a
    // change of owner clears set-id bits, so the mode comes second).
    struct stat original;
    if (::fstat(in.handle(), &original) != 0
        || (::geteuid() == 0 && ::fchown(copy->handle(), original.st_uid, original.st_gid) != 0)
        || ::fchmod(copy->handle(), original.st_mode & 07777) != 0) {
        delete copy;
        return nullptr;
    }
    copy->close();
    return copy;
}
} // namespace

namespace {
// Rewrites the user's file through a complete, saved copy: `edit` changes
// the copy, which is flushed and renamed over the file.  A failure at any
// point leaves the file as it was.
bool rewriteThroughCopy(const QString &path, const std::function<bool(const QString &copyPath)> &edit)
{
    std::unique_ptr<QTemporaryFile> copy(copyBeside(path));
    if (!copy) {
        qCDebug(lcTagWriter) << "cannot copy for writing, file left as it was:" << path;
        return false;
    }
    if (!edit(copy->fileName())) {
        qCDebug(lcTagWriter) << "save failed, file left as it was:" << path;
        return false;
    }
    {
        QFile written(copy->fileName());
        if (!written.open(QIODevice::ReadOnly) || ::fsync(written.handle()) != 0) {
            qCDebug(lcTagWriter) << "cannot flush the written copy, file left as it was:" << path;
            return false;
        }
    }
    // rename(2) replaces the target in one step; QFile::rename won't replace.
    if (std::rename(QFile::encodeName(copy->fileName()).constData(), QFile::encodeName(path).constData()) != 0) {
        qCDebug(lcTagWriter) << "cannot replace" << path;
        return false;
    }
    copy->setAutoRemove(false);
    return true;
}

// The MIME type of a picture, from its bytes; "" when it is none Qt reads.
QString pictureMimeType(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray format = QImageReader::imageFormat(&buffer);
    return format.isEmpty() ? QString() : QStringLiteral("image/") + QString::fromLatin1(format == "jpg" ? "jpeg" : format);
}
} // namespace

bool TagLibBuilder::setMissingTag(track record)
{
    const WriteKind kind = writeKindOf(record.filepath);
    if (kind == WriteKind::None)
        return true;
    // Through a symbolic link, the file it points at is the one rewritten.
    const QString canonical = QFileInfo(record.filepath).canonicalFilePath();
    if (canonical.isEmpty())
        return false;
    record.filepath = canonical;
    // A dry run on the file itself decides whether it needs writing at all.
    if (!applyRecord(*this, kind, record.filepath, record, false))
        return true;
    return rewriteThroughCopy(record.filepath, [&](const QString &copyPath) {
        return applyRecord(*this, kind, copyPath, record, true);
    });
}

void TagLibBuilder::setCoverArt(TagLib::ID3v2::Tag *tag, QString)
{
    if (tag && tag->frameList("APIC").isEmpty())
        tag->addFrame(new TagLib::ID3v2::AttachedPictureFrame);
}

bool TagLibBuilder::embedcoverart(QString mediaPath, QString imagePath)
{
    if (!mediaPath.right(3).toUpper().endsWith(QLatin1String("MP3")))
        return false;
    const QString canonical = QFileInfo(mediaPath).canonicalFilePath();
    if (canonical.isEmpty())
        return false;
    ImageFile image(QFile::encodeName(imagePath).constData());
    if (!image.isOpen() || image.length() <= 0 || image.length() > maxEmbeddedPictureSize)
        return false;
    const TagLib::ByteVector picture = image.readBlock(static_cast<size_t>(image.length()));
    // The frame names the picture's real format: a JPEG filed as PNG is
    // shown by no player that trusts the type.
    const QString mimeType = pictureMimeType(toQByteArray(picture));
    if (mimeType.isEmpty())
        return false;
    return rewriteThroughCopy(canonical, [&](const QString &copyPath) {
        TagLib::MPEG::File file(QFile::encodeName(copyPath).constData(), true, TagLib::AudioProperties::Average);
        if (!file.isValid())
            return false;
        TagLib::ID3v2::AttachedPictureFrame *frame = attachedPictureFrame(file.ID3v2Tag(true), true);
        frame->setPicture(picture);
        frame->setMimeType(QStringToTString(mimeType));
        return file.save();
    });
}

ImageFile::ImageFile(TagLib::FileName file) : TagLib::File(file) {}

TagLib::Tag *ImageFile::tag() const
{
    return nullptr;
}

TagLib::AudioProperties *ImageFile::audioProperties() const
{
    return nullptr;
}

bool ImageFile::save()
{
    return false;
}

void TagLibBuilder::SetValues(TagLib::Tag *tag, track record)
{
    if (!tag)
        return;
    if (record.hasTitle && !record.trackname.isEmpty())
        tag->setTitle(QStringToTString(record.trackname));
    if (record.hasArtist && !record.artistName.isEmpty())
        tag->setArtist(QStringToTString(record.artistName));
    // An empty album would wipe the file's own album.
    if (record.hasAlbum && record.playlist.isEmpty() && !record.albumName.isEmpty())
        tag->setAlbum(QStringToTString(record.albumName));
    // "Unknown Genre" and its kin are our own placeholders, not the user's data.
    if (!record.genre.isEmpty() && !shared::isUnknownName(record.genre))
        tag->setGenre(QStringToTString(record.genre));
    if (record.year > 0)
        tag->setYear(static_cast<unsigned int>(record.year));
    if (record.tracknumber > 0)
        tag->setTrack(static_cast<unsigned int>(record.tracknumber));
}


// ---- iTunes library file --------------------------------------------------

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLoggingCategory>
#include <QUrl>
#include <QXmlStreamReader>

#include <algorithm>
#include <utility>
#include <vector>

#include "core/track_data.h"

namespace {

Q_LOGGING_CATEGORY(lcItunesLibrary, "corvane.itunes")

// The file's kind by suffix, with the scanning module's own checks: audio is
// always accepted, video only while the chosen car system plays it.
enum class ItunesFileKind { Unsupported, Audio, Video };

ItunesFileKind itunesFileKind(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix();
    if (track_data::checkAudioFile(suffix))
        return ItunesFileKind::Audio;
    if (track_data::checkVideoFile(suffix))
        return ItunesFileKind::Video;
    return ItunesFileKind::Unsupported;
}

// A "Location" value is a file URL: "file://localhost/…" from iTunes itself,
// "file:///…" from other writers, with UTF-8 percent escapes.  Anything else
// (another host, another scheme) names nothing on this machine: empty.
QString itunesLocationPath(const QString &location)
{
    const QUrl url(location, QUrl::TolerantMode);
    if (!url.isValid() || url.scheme().compare(QLatin1String("file"), Qt::CaseInsensitive) != 0)
        return QString();
    const QString host = url.host();
    if (!host.isEmpty() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0)
        return QString();
    return url.path(QUrl::FullyDecoded);
}

// "2010-01-01T08:00:00Z" -> "01/01/2010": the first 19 characters must be
// "yyyy-MM-ddThh:mm:ss"; the zone designator after them is not applied.  Text
// that doesn't fit gives an empty date ("Unknown" after finalising).  Read in
// pieces: QDateTime::fromString with a format costs tens of microseconds a
// call, which dominated reading a library of tens of thousands of tracks.
QString itunesReleaseDate(const QString &text)
{
    const QStringView head = QStringView(text).left(19);
    if (head.size() != 19 || head.at(10) != QLatin1Char('T'))
        return QString();
    const QDate day = QDate::fromString(head.left(10), Qt::ISODate);
    const QTime time = QTime::fromString(head.mid(11), Qt::ISODate);
    if (!day.isValid() || !time.isValid())
        return QString();
    return day.toString(QStringLiteral("MM/dd/yyyy"));
}

// The value element right after a key, skipping the white space and comments
// between them.  A value that isn't an integer, string or date (a dict, an
// array, true, false, data, or nothing) gives "-2", which is how the "Tracks"
// key, whose value is a dictionary, is recognised.  Leaves the reader on the
// value's end tag, or on the start tag of a dict or array.
QString itunesValueText(QXmlStreamReader &xml)
{
    xml.readNext();
    while (xml.isWhitespace() || xml.isComment())
        xml.readNext();
    if (xml.isStartElement()) {
        const QStringView name = xml.name();
        if (name == QLatin1String("integer") || name == QLatin1String("string") || name == QLatin1String("date"))
            return xml.readElementText();
        if (name == QLatin1String("true") || name == QLatin1String("false")) {
            const QString flag = name.toString();
            xml.skipCurrentElement();
            return flag;
        }
    }
    return QStringLiteral("-2");
}

// The keys of a playlist dictionary that tell iTunes' own playlists apart.
struct ItunesPlaylistMarks
{
    bool master = false;
    int distinguishedKind = 0;
    QStringList flags; // the keys among the flags below whose value is true

    void take(const QString &key, const QString &value)
    {
        static const QStringList flagKeys = {QStringLiteral("Music"),      QStringLiteral("Movies"),
                                             QStringLiteral("Podcasts"),   QStringLiteral("Audiobooks"),
                                             QStringLiteral("TV Shows"),   QStringLiteral("Purchased Music")};
        if (key == QLatin1String("Master"))
            master = value == QLatin1String("true");
        else if (key == QLatin1String("Distinguished Kind"))
            distinguishedKind = value.toInt();
        else if (value == QLatin1String("true") && flagKeys.contains(key))
            flags.append(key);
    }

    iTunedata::Role role() const
    {
        using Role = iTunedata::Role;
        const auto is = [this](const char *flag, int kind) {
            return flags.contains(QLatin1String(flag)) || distinguishedKind == kind;
        };
        if (master)
            return Role::Library;
        if (is("Music", 4))
            return Role::Music;
        if (is("Movies", 2))
            return Role::Movies;
        if (is("Podcasts", 10))
            return Role::Podcasts;
        if (is("Audiobooks", 5))
            return Role::Books;
        if (is("Purchased Music", 19))
            return Role::Purchased;
        if (distinguishedKind != 0 || !flags.isEmpty())
            return Role::OtherOwn;
        return Role::User;
    }
};

void applyItunesTrackKey(track &record, QStringView key, const QString &value)
{
    if (key == QLatin1String("Track ID")) {
        record.id = value.toInt();
    } else if (key == QLatin1String("Name")) {
        record.trackname = value;
        record.filename = value;
    } else if (key == QLatin1String("Artist")) {
        record.artistName = value;
    } else if (key == QLatin1String("Album")) {
        record.albumName = value.trimmed();
    } else if (key == QLatin1String("Genre")) {
        record.genre = value;
    } else if (key == QLatin1String("Kind")) {
        record.codec = value;
    } else if (key == QLatin1String("Size")) {
        record.filesize = value.toLongLong();
    } else if (key == QLatin1String("Total Time")) {
        record.duration = value.toDouble() / 1000.0;
    } else if (key == QLatin1String("Track Number")) {
        record.tracknumber = value.toInt();
    } else if (key == QLatin1String("Year")) {
        record.year = value.toInt();
    } else if (key == QLatin1String("Bit Rate")) {
        record.bitrate = value.toInt();
    } else if (key == QLatin1String("Sample Rate")) {
        record.frequency = value.toLongLong();
    } else if (key == QLatin1String("Location")) {
        record.filepath = itunesLocationPath(value);
    } else if (key == QLatin1String("Release Date")) {
        if (value.size() >= 19)
            record.ReleaseDate = itunesReleaseDate(value);
    }
}

void setIfEmpty(QString &field, const QString &fallback)
{
    if (field.isEmpty())
        field = fallback;
}

// Completes the collected record and keeps it in `table` under its Track ID
// (a later record with the same id replaces the earlier one) when its file
// exists and is playable.  The record is cleared either way.
void finaliseItunesTrack(track &record, QHash<int, track> &table)
{
    record.isPodcast = false;
    record.source = 1;
    record.isHidden = false;
    if (record.albumName.trimmed().isEmpty())
        record.albumName = QStringLiteral("Unknown Album");
    setIfEmpty(record.artistName, QStringLiteral("Unknown Artist"));
    setIfEmpty(record.codec, QStringLiteral("Unknown Codec"));
    setIfEmpty(record.trackname, QStringLiteral("Unknown Song"));
    setIfEmpty(record.filepath, QStringLiteral("Unknown Path"));
    setIfEmpty(record.genre, QStringLiteral("Unknown Genre"));
    setIfEmpty(record.ReleaseDate, QStringLiteral("Unknown"));
    setIfEmpty(record.filename, QStringLiteral("Unknown Filename"));

    if (record.filepath != QLatin1String("Unknown Path") && QFileInfo(record.filepath).isFile()) {
        switch (itunesFileKind(record.filepath)) {
        case ItunesFileKind::Audio:
            record.isVideo = false;
            table.insert(record.id, std::move(record));
            break;
        case ItunesFileKind::Video:
            record.isVideo = true;
            table.insert(record.id, std::move(record));
            break;
        case ItunesFileKind::Unsupported:
            break;
        }
    }
    record = track();
}

// The playlist's kept tracks in ascending Track ID order, each once.
iTunedata closeItunesPlaylist(const QString &name, const ItunesPlaylistMarks &marks, const QSet<int> &pendingIds,
                              const QHash<int, track> &table)
{
    std::vector<int> ids(pendingIds.cbegin(), pendingIds.cend());
    std::sort(ids.begin(), ids.end());
    iTunedata playlist;
    playlist.name = name;
    playlist.role = marks.role();
    playlist.tracks.reserve(static_cast<qsizetype>(ids.size()));
    for (const int id : ids) {
        const auto it = table.constFind(id);
        if (it != table.constEnd())
            playlist.tracks.append(it.value());
    }
    return playlist;
}

} // namespace

QList<iTunedata> TagLibBuilder::parseiTunePlaylist(const QString &path) const
{
    QList<iTunedata> result;

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCDebug(lcItunesLibrary) << "Load XML File Problem.";
        return result;
    }

    QXmlStreamReader xml(&file);
    QHash<int, track> table;  // kept tracks by their full Track ID
    track record;
    bool inTracks = false;
    bool inPlaylists = false;
    QString playlistName;  // not cleared between playlists: a nameless one takes the previous name
    QSet<int> pendingIds;
    ItunesPlaylistMarks marks; // of the playlist being read
    bool inItems = false;      // inside its "Playlist Items"

    while (!xml.atEnd() && !xml.hasError()) {
        xml.readNext();
        // A playlist's own dictionary (not one of its items) starts anew.
        if (inPlaylists && !inItems && xml.isStartElement() && xml.name() == QLatin1String("dict"))
            marks = ItunesPlaylistMarks();
        if (xml.isStartElement() && xml.name() == QLatin1String("key")) {
            const QString key = xml.readElementText();
            const QString value = itunesValueText(xml);
            if (key == QLatin1String("Playlists")) {
                inPlaylists = true;
            } else if (inPlaylists) {
                if (key == QLatin1String("Name"))
                    playlistName = value;
                else if (key == QLatin1String("Track ID"))
                    pendingIds.insert(value.toInt());
                else if (key == QLatin1String("Playlist Items"))
                    inItems = true;
                else
                    marks.take(key, value);
            } else if (key == QLatin1String("Tracks")) {
                if (value == QLatin1String("-2"))
                    inTracks = true;
            } else if (inTracks) {
                applyItunesTrackKey(record, key, value);
            }
        }
        if (xml.hasError())
            break;

        const bool isTag = xml.isStartElement() || xml.isEndElement();
        // Each track is one dictionary: at its opening tag the record is still
        // empty and nothing is kept, at its closing tag the record is complete.
        if (isTag && inTracks && !inPlaylists && xml.name() == QLatin1String("dict"))
            finaliseItunesTrack(record, table);
        // The closing tag of a playlist's item array ends the playlist.
        if (isTag && inPlaylists && !pendingIds.isEmpty() && xml.name() == QLatin1String("array")) {
            result.append(closeItunesPlaylist(playlistName, marks, pendingIds, table));
            pendingIds.clear();
        }
        if (xml.isEndElement() && xml.name() == QLatin1String("array"))
            inItems = false;
    }
    if (xml.hasError())
        qCDebug(lcItunesLibrary) << "iTunes library file damaged at line" << xml.lineNumber() << ':'
                                 << xml.errorString();
    return result;
}


// ---- iTunes artwork index -------------------------------------------------

#include <QDebug>
#include <QFile>
#include <QStandardPaths>
#include <QXmlStreamReader>

#include "core/artworkcachefiles.h"
#include "core/shared.h"

QList<QString> TagLibBuilder::SearchiTineArts(const QDir &folder, QList<QString> ids) const
{
    const QList<ArtworkCacheFiles::Entry> files = ArtworkCacheFiles::list(folder.absolutePath());
    for (const ArtworkCacheFiles::Entry &file : files) {
        if (file.hasId)
            ids.append(file.id);
    }
    return ids;
}

QMap<QString, QString> TagLibBuilder::parseiTuneCoverArtStartup() const
{
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    return parseiTuneCoverArt(music + QStringLiteral("/iTunes/iTunes Music Library.xml"),
                              QDir(music + QStringLiteral("/iTunes/Album Artwork")));
}

QMap<QString, QString> TagLibBuilder::parseiTuneCoverArt(const QString &libraryFile,
                                                          const QDir &artworkFolder) const
{
    // A set: libraries hold tens of thousands of tracks.
    const QList<QString> idList = SearchiTineArts(artworkFolder, QList<QString>());
    const QSet<QString> cachedIds(idList.cbegin(), idList.cend());

    QMap<QString, QString> index;
    QFile file(libraryFile);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qDebug() << "Load XML File Problem.";
        return index;
    }

    const shared cleaner;
    QXmlStreamReader xml(&file);
    QString album;
    QString id;
    while (!xml.atEnd() && !xml.hasError()) {
        xml.readNext();
        if (xml.name() == QLatin1String("key") && xml.isStartElement()) {
            const QString key = xml.readElementText();
            // The library reader's rules: white space may stand between the two.
            const QString value = itunesValueText(xml);
            if (key == QLatin1String("Playlists"))
                break;
            if (key == QLatin1String("Album"))
                album = cleaner.formatSplChar(value.trimmed());
            else if (key == QLatin1String("Persistent ID"))
                id = value;
        }
        // Each track is a dictionary of its own: take it in at its start or
        // end tag, whichever comes first after its entries.
        if (xml.name() == QLatin1String("dict")) {
            if (!id.isEmpty() && !album.isEmpty() && cachedIds.contains(id))
                index.insert(album, id);
            album.clear();
            id.clear();
        }
    }
    return index;
}

