#include "core/taglibbuilder.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QLoggingCategory>

#include <taglib/apetag.h>
#include <taglib/asffile.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>

#include "core/shared.h"
#include "core/taglibbuilder_p.h"
#include "platform/atomicfile.h"

using namespace TagLibBuilderInternal;

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
// `save`, saves.  Returns whether the file needs writing: a value changed,
// or an MP3's tags are not one ID3v2.3 tag (and, when saving, whether the
// save succeeded too).
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
        // The car's systems read one ID3v2.3 tag: a file in any other shape is
        // rewritten even when no value changes.
        const bool reshape = tag->header()->majorVersion() != 3 || file.hasID3v1Tag() || file.hasAPETag();
        const WrittenValues before(tag);
        builder.SetValues(tag, record);
        if (WrittenValues(tag) == before && !reshape)
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

// Copies `source` into `copy`, the new hidden file beside it; the copy
// keeps the source's permissions.
bool copyBeside(const QString &source, AtomicFile &copy)
{
    QFile in(source);
    if (!copy.open() || !in.open(QIODevice::ReadOnly))
        return false;
    QByteArray chunk;
    while (!(chunk = in.read(1 << 20)).isEmpty()) {
        if (!copy.write(chunk))
            return false;
    }
    if (in.error() != QFileDevice::NoError)
        return false;
    // The copy takes the file's place: it keeps the file's owner and group
    // where the process may give them (as root), then every mode bit (a
    // change of owner clears set-id bits, so the mode comes second).
    struct stat original;
    return ::fstat(in.handle(), &original) == 0 &&
           (::geteuid() != 0 || ::fchown(copy.handle(), original.st_uid, original.st_gid) == 0) &&
           ::fchmod(copy.handle(), original.st_mode & 07777) == 0;
}
} // namespace

namespace {
// Rewrites the user's file through a complete, saved copy: `edit` changes
// the copy, which is flushed and takes the file's place in one step.  A
// failure at any point leaves the file as it was.
bool rewriteThroughCopy(const QString &path, const std::function<bool(const QString &copyPath)> &edit)
{
    AtomicFile copy(path, AtomicFile::Replace::Existing, AtomicFile::Flush::Now);
    if (!copyBeside(path, copy)) {
        qCDebug(lcTagWriter) << "cannot copy for writing, file left as it was:" << path;
        return false;
    }
    // TagLib writes by name: the copy is closed by then.
    if (!copy.close() || !edit(copy.temporaryPath())) {
        qCDebug(lcTagWriter) << "save failed, file left as it was:" << path;
        return false;
    }
    if (!copy.commit()) {
        qCDebug(lcTagWriter) << "cannot replace" << path << strerror(copy.error());
        return false;
    }
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
