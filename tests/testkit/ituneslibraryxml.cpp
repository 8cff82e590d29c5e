#include "ituneslibraryxml.h"

#include <QFile>

namespace testkit {

namespace {

QString keyLine(const QString &indent, const QString &key, const QString &type, const QString &value)
{
    if (type == QLatin1String("true") || type == QLatin1String("false"))
        return QStringLiteral("%1<key>%2</key><%3/>\n").arg(indent, key.toHtmlEscaped(), type);
    return QStringLiteral("%1<key>%2</key><%3>%4</%3>\n").arg(indent, key.toHtmlEscaped(), type, value.toHtmlEscaped());
}

} // namespace

void ItunesLibraryXml::addTrack(int trackId, const QList<Entry> &entries)
{
    const QString id = QString::number(trackId);
    m_tracks += QStringLiteral("\t\t<key>%1</key>\n\t\t<dict>\n").arg(id);
    m_tracks += keyLine(QStringLiteral("\t\t\t"), QStringLiteral("Track ID"), QStringLiteral("integer"), id);
    for (const Entry &entry : entries)
        m_tracks += keyLine(QStringLiteral("\t\t\t"), entry.key, entry.type, entry.value);
    m_tracks += QStringLiteral("\t\t</dict>\n");
}

void ItunesLibraryXml::addPlaylist(const QString &name, const QList<int> &trackIds, const QList<Entry> &marks)
{
    const QString indent = QStringLiteral("\t\t");
    m_playlists += QStringLiteral("\t\t<dict>\n");
    if (!name.isNull())
        m_playlists += keyLine(indent, QStringLiteral("Name"), QStringLiteral("string"), name);
    m_playlists += keyLine(indent, "Playlist ID", "integer", QString::number(m_nextPlaylistId++));
    for (const Entry &mark : marks)
        m_playlists += keyLine(indent, mark.key, mark.type, mark.value);
    m_playlists += keyLine(indent, QStringLiteral("All Items"), QStringLiteral("true"), QString());
    m_playlists += QStringLiteral("\t\t\t<key>Playlist Items</key>\n\t\t\t<array>\n");
    for (const int id : trackIds)
        m_playlists += QStringLiteral("\t\t\t\t<dict>\n") +
                       keyLine("\t\t\t\t\t", "Track ID", "integer", QString::number(id)) + "\t\t\t\t</dict>\n";
    m_playlists += QStringLiteral("\t\t\t</array>\n\t\t</dict>\n");
}

QByteArray ItunesLibraryXml::toXml() const
{
    QString xml = QStringLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\">\n"
        "<dict>\n"
        "\t<key>Major Version</key><integer>1</integer>\n"
        "\t<key>Minor Version</key><integer>1</integer>\n"
        "\t<key>Date</key><date>2012-05-01T10:00:00Z</date>\n"
        "\t<key>Application Version</key><string>10.6.1</string>\n"
        "\t<key>Show Content Ratings</key><true/>\n"
        "\t<key>Music Folder</key><string>file://localhost/Users/test/Music/iTunes/iTunes%20Media/</string>\n"
        "\t<key>Library Persistent ID</key><string>0123456789ABCDEF</string>\n"
        "\t<key>Tracks</key>\n"
        "\t<dict>\n");
    xml += m_tracks;
    xml += QStringLiteral("\t</dict>\n\t<key>Playlists</key>\n\t<array>\n");
    xml += m_playlists;
    xml += QStringLiteral("\t</array>\n</dict>\n</plist>\n");
    return xml.toUtf8();
}

bool ItunesLibraryXml::write(const QString &path) const
{
    QFile file(path);
    const QByteArray bytes = toXml();
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size() && file.flush();
}

} // namespace testkit
