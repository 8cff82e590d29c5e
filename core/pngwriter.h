#ifndef PNGWRITER_H
#define PNGWRITER_H

#include <QByteArray>

class QImage;

// Encodes album pictures many times faster than QImage::save: the rows are
// stored as they are, neither filtered nor compressed (about 36 KB for a
// 110 x 110 picture instead of about 23 KB), where libpng tries every
// filter on every row and deflates.  The pixels and chunks (size, colour
// type, physical resolution) are those QImage::save writes for an sRGB
// image without texts; other pixel formats are written as RGB or RGBA.
class PngWriter
{
public:
    // The PNG bytes of image; empty when it is null or can't be encoded.
    static QByteArray encode(const QImage &image);
};

#endif // PNGWRITER_H
