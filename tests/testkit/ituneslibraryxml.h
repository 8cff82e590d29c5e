#ifndef ITUNESLIBRARYXML_H
#define ITUNESLIBRARYXML_H

#include <QUrl>

namespace testkit {

// Writes an iTunes library file ("iTunes Music Library.xml") the way iTunes
// lays it out: a property list whose "Tracks" dictionary holds one dictionary
// per track and whose "Playlists" array holds one dictionary per playlist with
// its "Playlist Items".  Each key and its value element share a line.
class ItunesLibraryXml
{
public:
    // One key of a track dictionary; type is the value element's name
    // ("integer", "string", "date", "true", "false").
    struct Entry
    {
        QString key;
        QString type;
        QString value;
    };

    // A track dictionary: "Track ID" first, then the entries in order.
    void addTrack(int trackId, const QList<Entry> &entries);
    // A playlist dictionary naming the given Track IDs in the given order;
    // without a name the playlist has no "Name" key.  `marks` follow the
    // "Playlist ID" (iTunes' "Master", "Distinguished Kind", "Music" …).
    void addPlaylist(const QString &name, const QList<int> &trackIds, const QList<Entry> &marks = {});
    static Entry flag(const QString &key) { return {key, QStringLiteral("true"), QString()}; }

    QByteArray toXml() const;
    // Writes toXml() to path; false when the file can't be written.
    bool write(const QString &path) const;

    // Location values for a local file: "file://localhost/…" as iTunes writes
    // it, or "file:///…"; the path is percent-encoded as UTF-8.
    static QString localhostUrl(const QString &path) { return QStringLiteral("file://localhost") + encoded(path); }
    static QString fileUrl(const QString &path) { return QStringLiteral("file://") + encoded(path); }

    static Entry integer(const QString &key, qint64 value) { return {key, "integer", QString::number(value)}; }
    static Entry string(const QString &key, const QString &value) { return {key, "string", value}; }
    static Entry date(const QString &key, const QString &value) { return {key, "date", value}; }

private:
    static QString encoded(const QString &path) { return QString::fromLatin1(QUrl::toPercentEncoding(path, "/")); }
    QString m_tracks;
    QString m_playlists;
    int m_nextPlaylistId = 1000;
};

} // namespace testkit

#endif // ITUNESLIBRARYXML_H
