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



// ---- iTunes library file --------------------------------------------------



// ---- iTunes artwork index -------------------------------------------------

