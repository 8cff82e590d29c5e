#include "delivery/createplaylist.h"

#include <QFile>

bool CreatePlaylist::openM3U(QString path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    const QByteArray header("#EXTM3U:\n");
    return file.write(header) == header.size();
}

bool CreatePlaylist::saveM3U(QStringList list)
{
    if (list.size() < 2)
        return false;
    QFile file(list.at(0));
    if (!file.open(QIODevice::Append | QIODevice::Text))
        return false;
    const QByteArray entry = "#EXTINF:\n" + list.at(1).toUtf8() + '\n';
    return file.write(entry) == entry.size();
}
