#include "delivery/createplaylist.h"

#include <QTemporaryFile>

#include <cerrno>

#include "platform/safefilecopy.h"

bool CreatePlaylist::openM3U(QString path)
{
    texts.insert(path, QByteArrayLiteral("#EXTM3U:\n"));
    return true;
}

bool CreatePlaylist::saveM3U(QStringList list)
{
    if (list.size() < 2 || !texts.contains(list.at(0)))
        return false;
    texts[list.at(0)] += "#EXTINF:\n" + list.at(1).toUtf8() + '\n';
    return true;
}

bool CreatePlaylist::writeM3U(const QString &path, quint64 device, int *error) const
{
    const QByteArray text = texts.value(path);
    // Through the same copy as the media: a temporary file beside the
    // playlist, renamed over it once complete.
    QTemporaryFile local;
    if (!local.open() || local.write(text) != text.size() || !local.flush()) {
        *error = errno ? errno : EIO;
        return false;
    }
    return SafeFileCopy::copy(local.fileName(), path, error, device) == SafeFileCopy::Copied;
}
