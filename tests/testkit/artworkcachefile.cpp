#include "artworkcachefile.h"

namespace testkit {

namespace {

void put32(QByteArray &bytes, quint32 value)
{
    const char b[4] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    bytes.append(b, 4);
}

} // namespace

CacheItem image(const QByteArray &bytes, qint32 width, const QByteArray &location, qint64 length)
{
    return CacheItem{bytes, width, location, length};
}

QByteArray cacheFile(const QList<CacheItem> &items, const QByteArray &itch, const QByteArray &artw,
                     quint32 headerLength)
{
    QByteArray bytes;
    put32(bytes, headerLength);
    bytes.append(itch + QByteArray::fromHex("00000002000000020000000200000000") + artw);
    bytes.append(0x114 - bytes.size(), '\0');
    for (const CacheItem &item : items) {
        QByteArray entry;
        put32(entry, item.length < 0 ? 208 + quint32(item.image.size()) : quint32(item.length));
        entry.append("item");
        for (quint32 v : {208u, 1u, 2u, 1u, 0u})
            put32(entry, v);
        entry.append(8, '\0');
        entry.append(QByteArray::fromHex("6C08B3E9D4D50F3A") + item.location + "PNGf"); // persistent id
        put32(entry, 0);
        put32(entry, quint32(item.width));
        bytes.append(entry + QByteArray(208 - entry.size(), '\0') + item.image);
    }
    return bytes;
}

} // namespace testkit
