#include "core/taglibbuilder.h"

#include <QDebug>
#include <QFile>
#include <QStandardPaths>
#include <QXmlStreamReader>

#include "core/artworkcachefiles.h"
#include "core/shared.h"
#include "core/taglibbuilder_p.h"

using namespace TagLibBuilderInternal;

QList<QString> TagLibBuilder::SearchiTineArts(const QDir &folder, QList<QString> ids) const
{
    const QList<ArtworkCacheFiles::Entry> files = ArtworkCacheFiles::list(folder.absolutePath());
    for (const ArtworkCacheFiles::Entry &file : files) {
        if (file.hasId)
            ids.append(file.id);
    }
    return ids;
}

QMap<QString, QString> TagLibBuilder::parseiTuneCoverArtStartup(const std::atomic<bool> *stop) const
{
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    return parseiTuneCoverArt(music + QStringLiteral("/iTunes/iTunes Music Library.xml"),
                              QDir(music + QStringLiteral("/iTunes/Album Artwork")), stop);
}

QMap<QString, QString> TagLibBuilder::parseiTuneCoverArt(const QString &libraryFile, const QDir &artworkFolder,
                                                         const std::atomic<bool> *stop) const
{
    // A set: libraries hold tens of thousands of tracks.
    const QList<QString> idList = SearchiTineArts(artworkFolder, QList<QString>());
    const QSet<QString> cachedIds(idList.cbegin(), idList.cend());

    QMap<QString, QString> index;
    QFile file(libraryFile);
    if (!file.open(QIODevice::ReadOnly)) {
        qDebug() << "Load XML File Problem.";
        return index;
    }

    ItunesXml itunes(&file, itunesTextLimit, itunesDataLimit, itunesDepthLimit);
    QXmlStreamReader &xml = itunes.xml();
    QString album;
    QString id;
    while (!xml.atEnd() && !xml.hasError() && !(stop && stop->load(std::memory_order_relaxed))) {
        xml.readNext();
        if (xml.name() == QLatin1String("key") && xml.isStartElement()) {
            const QString key = xml.readElementText();
            // The library reader's rules: white space may stand between the two.
            const QString value = itunesValueText(xml);
            if (key == QLatin1String("Playlists"))
                break;
            if (key == QLatin1String("Album"))
                album = shared::formatSplChar(value.trimmed());
            else if (key == QLatin1String("Persistent ID"))
                id = value;
        }
        // Each track is a dictionary of its own: take it in at its start or
        // end tag, whichever comes first after its entries.
        if (xml.name() == QLatin1String("dict")) {
            if (!id.isEmpty() && !album.isEmpty() && cachedIds.contains(id))
                index.insert(album, id);
            album.clear();
            id.clear();
        }
    }
    itunes.logLeftOut(libraryFile);
    return index;
}
