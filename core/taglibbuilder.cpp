#include "core/taglibbuilder.h"

// ---- Embedded cover art ---------------------------------------------------

#include <QByteArray>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLoggingCategory>
#include <QSaveFile>

#include <taglib/aifffile.h>
#include <taglib/apefile.h>
#include <taglib/apetag.h>
#include <taglib/asffile.h>
#include <taglib/flacfile.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>

Q_LOGGING_CATEGORY(lcCoverArt, "corvane.coverart")

namespace {
QByteArray toQByteArray(const TagLib::ByteVector &bytes)
{
    return QByteArray(bytes.data(), int(bytes.size()));
}

// Writes the covers of one storeCoverArt call.  A "prepared" source (ID3v2,
// MP4, AIFF) claims the cover file before decoding and never replaces a
// picture this call has already written; the FLAC, APE and WMA sources
// replace it.  Every write goes through a temporary file renamed into place.
class CoverWriter
{
public:
    explicit CoverWriter(const QString &coverPath)
        : m_path(coverPath)
    {
    }

    void write(const QByteArray &bytes, bool prepared)
    {
        if (prepared && m_written) {
            qCDebug(lcCoverArt).noquote() << "- TagLibBuilder Error opening file for writing"
                                          << QStringLiteral("\"%1\"").arg(m_path);
            return;
        }
        QSaveFile out(m_path);
        if (!out.open(QIODevice::WriteOnly)) {
            qCDebug(lcCoverArt).noquote() << "- TagLibBuilder Error opening file for writing"
                                          << QStringLiteral("\"%1\"").arg(m_path);
            return;
        }
        QImage image;
        if (!image.loadFromData(bytes)) {
            qCDebug(lcCoverArt) << "embedded picture does not decode, nothing written:" << m_path;
            out.cancelWriting();
            return;
        }
        const QImage scaled = image.scaled(TagLibBuilder::coverSize, TagLibBuilder::coverSize, Qt::KeepAspectRatio,
                                           Qt::SmoothTransformation);
        if (scaled.isNull() || !scaled.save(&out, "PNG") || !out.commit()) {
            qCDebug(lcCoverArt) << "cover could not be saved:" << m_path;
            return;
        }
        m_written = true;
    }

private:
    QString m_path;
    bool m_written = false;
};
} // namespace

QString TagLibBuilder::storeCoverArt(QString coverPath, QString mediaPath)
{
    if (QFileInfo::exists(coverPath))
        return QString();

    const QString suffix = QFileInfo(mediaPath).suffix().toLower();
    const QByteArray name = QFile::encodeName(mediaPath);
    CoverWriter writer(coverPath);

    {
        TagLib::MPEG::File file(name.constData(), false);
        if (file.isValid() && file.hasID3v2Tag()) {
            const auto *frame = attachedPictureFrame(file.ID3v2Tag(false), false);
            if (frame && !frame->picture().isEmpty())
                writer.write(toQByteArray(frame->picture()), true);
        }
    }

    if (suffix == QLatin1String("m4a") || suffix == QLatin1String("m4b") || suffix == QLatin1String("mp4")) {
        TagLib::MP4::File file(name.constData(), false);
        if (file.isValid() && file.tag()) {
            const TagLib::MP4::CoverArtList covers = file.tag()->item("covr").toCoverArtList();
            if (!covers.isEmpty() && !covers.front().data().isEmpty())
                writer.write(toQByteArray(covers.front().data()), true);
        }
    }

    if (suffix == QLatin1String("flac")) {
        TagLib::FLAC::File file(name.constData(), false);
        if (file.isValid()) {
            const TagLib::List<TagLib::FLAC::Picture *> pictures = file.pictureList();
            if (!pictures.isEmpty() && pictures.front())
                writer.write(toQByteArray(pictures.front()->data()), false);
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
                    writer.write(toQByteArray(raw.mid(static_cast<unsigned int>(zero) + 1)), false);
            }
        }
    }

    if (suffix == QLatin1String("wma")) {
        TagLib::ASF::File file(name.constData(), false);
        if (file.isValid() && file.tag()) {
            const TagLib::ASF::AttributeListMap &attributes = file.tag()->attributeListMap();
            const auto it = attributes.find("WM/Picture");
            if (it != attributes.end() && !it->second.isEmpty()) {
                const TagLib::ASF::Picture picture = it->second.front().toPicture();
                if (picture.isValid())
                    writer.write(toQByteArray(picture.picture()), false);
            }
        }
    }

    if (suffix == QLatin1String("aiff") || suffix == QLatin1String("aif")) {
        TagLib::RIFF::AIFF::File file(name.constData(), false);
        if (file.isValid() && file.hasID3v2Tag()) {
            const auto *frame = attachedPictureFrame(file.tag(), false);
            if (frame && !frame->picture().isEmpty())
                writer.write(toQByteArray(frame->picture()), true);
        }
    }

    return QString();
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



// ---- Tag writer -----------------------------------------------------------

#include <QDir>
#include <QTemporaryFile>

#include <taglib/apetag.h>
#include <taglib/asffile.h>
#include <taglib/id3v1tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>

#include <cstdio>
#include <memory>
#include <unistd.h>

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
    case WriteKind::Asf: {
        TagLib::ASF::File file(name.constData(), false);
        if (!file.isValid() || !file.tag())
            return false;
        const WrittenValues before(file.tag());
        builder.SetValues(file.tag(), record);
        if (WrittenValues(file.tag()) == before)
            return false;
        return !save || file.save();
    }
    case WriteKind::Mp4: {
        TagLib::MP4::File file(name.constData(), false);
        if (!file.isValid() || !file.tag())
            return false;
        const WrittenValues before(file.tag());
        builder.SetValues(file.tag(), record);
        if (WrittenValues(file.tag()) == before)
            return false;
        return !save || file.save();
    }
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
    copy->setPermissions(in.permissions());
    copy->close();
    return copy;
}
} // namespace

void TagLibBuilder::setMissingTag(track record)
{
    const WriteKind kind = writeKindOf(record.filepath);
    if (kind == WriteKind::None)
        return;
    // Through a symbolic link, the file it points at is the one rewritten.
    const QString canonical = QFileInfo(record.filepath).canonicalFilePath();
    if (canonical.isEmpty())
        return;
    record.filepath = canonical;
    // A dry run on the file itself decides whether it needs writing at all.
    if (!applyRecord(*this, kind, record.filepath, record, false))
        return;

    // The user's file is replaced only by a complete, saved copy.
    std::unique_ptr<QTemporaryFile> copy(copyBeside(record.filepath));
    if (!copy) {
        qCDebug(lcTagWriter) << "cannot copy for writing, tags not written:" << record.filepath;
        return;
    }
    if (!applyRecord(*this, kind, copy->fileName(), record, true)) {
        qCDebug(lcTagWriter) << "save failed, file left as it was:" << record.filepath;
        return;
    }
    {
        QFile written(copy->fileName());
        if (!written.open(QIODevice::ReadOnly) || ::fsync(written.handle()) != 0) {
            qCDebug(lcTagWriter) << "cannot flush the written copy, file left as it was:" << record.filepath;
            return;
        }
    }
    // rename(2) replaces the target in one step; QFile::rename won't replace.
    if (std::rename(QFile::encodeName(copy->fileName()).constData(), QFile::encodeName(record.filepath).constData())
        != 0) {
        qCDebug(lcTagWriter) << "cannot replace" << record.filepath;
        return;
    }
    copy->setAutoRemove(false);
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
    if (!record.genre.isEmpty() && !record.genre.startsWith(QLatin1String("Unknown")))
        tag->setGenre(QStringToTString(record.genre));
    if (record.year > 0)
        tag->setYear(static_cast<unsigned int>(record.year));
    if (record.tracknumber > 0)
        tag->setTrack(static_cast<unsigned int>(record.tracknumber));
}


// ---- iTunes library file --------------------------------------------------



// ---- iTunes artwork index -------------------------------------------------

