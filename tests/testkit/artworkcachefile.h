#ifndef ARTWORKCACHEFILE_H
#define ARTWORKCACHEFILE_H

#include <QByteArray>
#include <QList>

// Synthetic iTunes artwork cache files (".itc2") for the artwork readers:
// a 0x114-byte header, then items of a 208-byte header and the image bytes.
namespace testkit {

// One item: its image bytes, the width it claims, its location kind ("locl"
// for a local image) and its stored length (-1: 208 + the image's size).
struct CacheItem
{
    QByteArray image;
    qint32 width = 600;
    QByteArray location = "locl";
    qint64 length = -1;
};

CacheItem image(const QByteArray &bytes, qint32 width, const QByteArray &location = "locl", qint64 length = -1);

// The file's bytes; `itch`, `artw` and `headerLength` let a test damage the
// header.  Every item carries the persistent id 6C08B3E9D4D50F3A.
QByteArray cacheFile(const QList<CacheItem> &items, const QByteArray &itch = "itch", const QByteArray &artw = "artw",
                     quint32 headerLength = 0x114);

} // namespace testkit

#endif // ARTWORKCACHEFILE_H
