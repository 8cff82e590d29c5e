#include "core/taglibbuilder.h"

#include <QBuffer>
#include <QByteArray>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
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
#include <taglib/wavfile.h>

#include "core/noclobberwriter.h"
#include "core/pngwriter.h"
#include "core/taglibbuilder_p.h"

using namespace TagLibBuilderInternal;

Q_LOGGING_CATEGORY(lcCoverArt, "corvane.coverart")

namespace {
// The 110 x 110 PNG of one embedded picture; empty when the bytes don't
// decode.  Asked for the fitted size, the JPEG decoder decodes at the
// smallest of its M/8 scales that still gives at least that size and
// smooths the rest of the way in one pass: a cover decodes in a fraction
// of its full decoding time.  Other formats are decoded whole and scaled
// smoothly once.
QByteArray scaledPng(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer);
    const int edge = TagLibBuilder::coverSize;
    const QSize full = reader.size();
    const QSize fit = full.isValid() ? full.scaled(edge, edge, Qt::KeepAspectRatio) : QSize();
    if (!fit.isEmpty() && reader.supportsOption(QImageIOHandler::ScaledSize)) {
        reader.setScaledSize(fit);
        // The JPEG decoder's finishing pass is smooth only at this quality or above.
        reader.setQuality(75);
    }
    QImage image;
    if (!reader.read(&image)) {
        qCDebug(lcCoverArt) << "embedded picture does not decode";
        return QByteArray();
    }
    if (image.size() != fit)
        image = image.scaled(edge, edge, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return PngWriter::encode(image);
}

// The suffixes of MPEG audio, whose files TagLib reads as MPEG.
const QStringList &mpegSuffixes()
{
    static const QStringList suffixes{QStringLiteral("mp3"), QStringLiteral("mp2"), QStringLiteral("mpa"),
                                      QStringLiteral("mpga")};
    return suffixes;
}

// Whether the file starts with an ID3v2 tag's header.
bool startsWithId3v2(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(3) == "ID3";
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
    // An ID3v2 picture is offered first, whatever the file's type; the file's
    // own picture then decides as the format's rule says.
    const auto offerId3v2 = [&choice](TagLib::ID3v2::Tag *tag) {
        const auto *frame = TagLibBuilder().attachedPictureFrame(tag, false);
        if (frame && !frame->picture().isEmpty())
            choice.offer(toQByteArray(frame->picture()), true);
    };

    // Each file is opened as its own type.  Opened as MPEG, a file of another
    // type is searched to its end for an MPEG frame (a FLAC has none), and
    // bytes inside its audio that look like an ID3v2 tag are taken for one.
    if (mpegSuffixes().contains(suffix)) {
        TagLib::MPEG::File file(name.constData(), false);
        const TagLib::ByteVector picture = id3v2Picture(file);
        if (!picture.isEmpty())
            choice.offer(toQByteArray(picture), true);
    } else if (suffix == QLatin1String("flac")) {
        TagLib::FLAC::File file(name.constData(), false);
        if (file.isValid()) {
            if (file.hasID3v2Tag())
                offerId3v2(file.ID3v2Tag(false));
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
    } else if (suffix == QLatin1String("wav")) {
        // An "id3 " chunk.
        TagLib::RIFF::WAV::File file(name.constData(), false);
        if (file.isValid() && file.hasID3v2Tag())
            offerId3v2(file.ID3v2Tag());
    } else if (suffix == QLatin1String("aiff") || suffix == QLatin1String("aif")) {
        // An "ID3 " chunk.
        TagLib::RIFF::AIFF::File file(name.constData(), false);
        if (file.isValid() && file.hasID3v2Tag())
            offerId3v2(file.tag());
    } else if (startsWithId3v2(mediaPath)) {
        // Any other type carries an ID3v2 tag only in front of its own data.
        TagLib::MPEG::File file(name.constData(), false);
        const TagLib::ByteVector picture = id3v2Picture(file);
        if (!picture.isEmpty())
            choice.offer(toQByteArray(picture), true);
    }

    if (suffix == QLatin1String("m4a") || suffix == QLatin1String("m4b") || suffix == QLatin1String("mp4")) {
        TagLib::MP4::File file(name.constData(), false);
        if (file.isValid() && file.tag()) {
            const TagLib::MP4::CoverArtList covers = file.tag()->item("covr").toCoverArtList();
            if (!covers.isEmpty() && !covers.front().data().isEmpty())
                choice.offer(toQByteArray(covers.front().data()), true);
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

    return choice.png();
}

QByteArray TagLibBuilder::pictureToPng(const QByteArray &bytes)
{
    return scaledPng(bytes);
}

TagLib::ByteVector TagLibBuilder::id3v2Picture(TagLib::MPEG::File &file)
{
    if (!file.isValid() || !file.hasID3v2Tag())
        return TagLib::ByteVector();
    const auto *frame = TagLibBuilder().attachedPictureFrame(file.ID3v2Tag(false), false);
    return frame ? frame->picture() : TagLib::ByteVector();
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
