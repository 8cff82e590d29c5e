#ifndef PNGWRITER_H
#define PNGWRITER_H

#include <QByteArray>

class QImage;

// Encodes album pictures as PNG several times faster than QImage::save: one
// filter for every row and run-length deflate instead of libpng's trial of
// every filter on every row, for files of about the same size.  The pixels
// and chunks (size, colour type, physical resolution) are those
// QImage::save writes for an sRGB image without texts; other pixel formats
// are written as RGB or RGBA.
class PngWriter
{
public:
    // The PNG bytes of image; empty when it is null or can't be encoded.
    static QByteArray encode(const QImage &image);
};

#endif // PNGWRITER_H
