#include "core/pngwriter.h"

#include <QColorSpace>
#include <QImage>
#include <QtEndian>

#include <cstring>

#include <zlib.h>

namespace {

void appendChunk(QByteArray &png, const char *type, const QByteArray &data)
{
    char length[4];
    qToBigEndian(quint32(data.size()), length);
    png.append(length, 4);
    const qsizetype start = png.size();
    png.append(type, 4);
    png.append(data);
    uLong crc = crc32(0, reinterpret_cast<const Bytef *>(png.constData() + start), uInt(png.size() - start));
    char sum[4];
    qToBigEndian(quint32(crc), sum);
    png.append(sum, 4);
}

QByteArray bigEndian(std::initializer_list<quint32> values)
{
    QByteArray bytes;
    for (const quint32 value : values) {
        char word[4];
        qToBigEndian(value, word);
        bytes.append(word, 4);
    }
    return bytes;
}

// The rows, each after its filter byte 0 (none): nothing is compressed,
// so no filter would make the file smaller.
QByteArray unfilteredRows(const QImage &rows, int rowBytes)
{
    QByteArray data(qsizetype(rows.height()) * (rowBytes + 1), Qt::Uninitialized);
    char *out = data.data();
    for (int y = 0; y < rows.height(); ++y) {
        *out++ = 0;
        std::memcpy(out, rows.constScanLine(y), size_t(rowBytes));
        out += rowBytes;
    }
    return data;
}

// `data` as a zlib stream of stored deflate blocks.  Deflating a picture of
// 110 x 110 photographic pixels saves about a third of its 36 KB but costs
// as much time as a fifth of making it; the pictures are a cache.
QByteArray stored(const QByteArray &data)
{
    constexpr qsizetype blockLimit = 0xffff;
    QByteArray out;
    out.reserve(2 + data.size() + (data.size() / blockLimit + 1) * 5 + 4);
    out.append(char(0x78)).append(char(0x01)); // deflate, 32 KiB window, no dictionary
    qsizetype at = 0;
    do {
        const qsizetype length = qMin(blockLimit, data.size() - at);
        const bool last = at + length == data.size();
        out.append(char(last ? 1 : 0)); // BFINAL, BTYPE 00 (stored)
        char lengths[4];
        qToLittleEndian(quint16(length), lengths);
        qToLittleEndian(quint16(~quint16(length)), lengths + 2);
        out.append(lengths, 4);
        out.append(data.constData() + at, length);
        at += length;
    } while (at < data.size());
    char sum[4];
    qToBigEndian(quint32(adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef *>(data.constData()),
                                 uInt(data.size()))),
                 sum);
    out.append(sum, 4);
    return out;
}

} // namespace

QByteArray PngWriter::encode(const QImage &image)
{
    if (image.isNull())
        return QByteArray();
    // Texts (a JPEG's comment markers), an offset and a colour profile are
    // not written: an album picture is shown and copied as pixels only.
    // Pixels in another colour space are brought to sRGB, which is what a
    // PNG without a profile is taken to be.
    QImage source = image;
    if (source.colorSpace().isValid() && source.colorSpace() != QColorSpace::SRgb)
        source.convertToColorSpace(QColorSpace::SRgb);
    const QImage::Format format = source.format();
    if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32 &&
        format != QImage::Format_ARGB32_Premultiplied)
        source.convertTo(source.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (source.isNull())
        return QByteArray();

    // As QImage::save: RGBA when the format has alpha (premultiplied
    // colours written straight), else RGB.
    const bool alpha = source.hasAlphaChannel();
    const QImage rows = source.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    const int rowBytes = rows.width() * (alpha ? 4 : 3);
    const QByteArray pixels = stored(unfilteredRows(rows, rowBytes));

    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    // Width, height, 8 bits, colour type 6 (RGBA) or 2 (RGB), deflate,
    // adaptive filters, no interlace.
    QByteArray header = bigEndian({quint32(rows.width()), quint32(rows.height())});
    header.append(char(8)).append(char(alpha ? 6 : 2)).append(char(0)).append(char(0)).append(char(0));
    appendChunk(png, "IHDR", header);
    if (image.dotsPerMeterX() > 0 || image.dotsPerMeterY() > 0) {
        QByteArray resolution = bigEndian({quint32(image.dotsPerMeterX()), quint32(image.dotsPerMeterY())});
        appendChunk(png, "pHYs", resolution.append(char(1))); // per metre
    }
    appendChunk(png, "IDAT", pixels);
    appendChunk(png, "IEND", QByteArray());
    return png;
}
