#include "core/pngwriter.h"

#include <QColorSpace>
#include <QImage>
#include <QtEndian>

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

// The rows, each after its filter byte: "up" (the difference to the row
// above), which costs one subtraction per byte and suits both photographs
// and flat artwork.
QByteArray filteredRows(const QImage &rows, int rowBytes)
{
    QByteArray filtered(qsizetype(rows.height()) * (rowBytes + 1), Qt::Uninitialized);
    auto *out = reinterpret_cast<uchar *>(filtered.data());
    for (int y = 0; y < rows.height(); ++y) {
        const uchar *line = rows.constScanLine(y);
        const uchar *above = y > 0 ? rows.constScanLine(y - 1) : nullptr;
        *out++ = 2;
        for (int x = 0; x < rowBytes; ++x)
            *out++ = uchar(line[x] - (above ? above[x] : 0));
    }
    return filtered;
}

QByteArray deflated(const QByteArray &data)
{
    z_stream stream{};
    // Run lengths only: most of the time goes into searching for matches,
    // which buy little on filtered picture rows.
    if (deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, MAX_WBITS, 8, Z_RLE) != Z_OK)
        return QByteArray();
    QByteArray out(qsizetype(deflateBound(&stream, uLong(data.size()))), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    const bool done = deflate(&stream, Z_FINISH) == Z_STREAM_END;
    out.truncate(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return done ? out : QByteArray();
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
    const QByteArray pixels = deflated(filteredRows(rows, rowBytes));
    if (pixels.isEmpty())
        return QByteArray();

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
