#include "core/taglibbuilder.h"

// ---- Embedded cover art ---------------------------------------------------



// ---- Playlist files -------------------------------------------------------



// ---- Tag writer -----------------------------------------------------------



// ---- iTunes library file --------------------------------------------------



// ---- iTunes artwork index -------------------------------------------------

#include <QDebug>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QXmlStreamReader>

#include "core/shared.h"

QList<QString> TagLibBuilder::SearchiTineArts(const QDir &folder, QList<QString> ids) const
{
    static const QRegularExpression separators(QStringLiteral("(\\.|\\-|\\t)"));
    QDirIterator walk(folder.absolutePath(), QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        walk.next();
        const QFileInfo info = walk.fileInfo();
        if (info.isDir())
            continue;
        const QString suffix = info.suffix().toLower();
        if (suffix != QLatin1String("itc") && suffix != QLatin1String("itc2"))
            continue;
        const QStringList parts = info.fileName().split(separators);
        if (parts.size() > 1)
            ids.append(parts.at(1));
    }
    return ids;
}

QMap<QString, QString> TagLibBuilder::parseiTuneCoverArtStartup() const
{
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    return parseiTuneCoverArt(music + QStringLiteral("/iTunes/iTunes Music Library.xml"),
                              QDir(music + QStringLiteral("/iTunes/Album Artwork")));
}

QMap<QString, QString> TagLibBuilder::parseiTuneCoverArt(const QString &libraryFile,
                                                          const QDir &artworkFolder) const
{
    // A set: libraries hold tens of thousands of tracks.
    const QList<QString> idList = SearchiTineArts(artworkFolder, QList<QString>());
    const QSet<QString> cachedIds(idList.cbegin(), idList.cend());

    QMap<QString, QString> index;
    QFile file(libraryFile);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qDebug() << "Load XML File Problem.";
        return index;
    }

    const shared cleaner;
    QXmlStreamReader xml(&file);
    QString album;
    QString id;
    while (!xml.atEnd() && !xml.hasError()) {
        xml.readNext();
        if (xml.name() == QLatin1String("key") && xml.isStartElement()) {
            const QString key = xml.readElementText();
            QString value = QStringLiteral("-2");
            // The value element must follow its key directly, as the
            // library file writes it.
            xml.readNext();
            if (xml.isStartElement()
                && (xml.name() == QLatin1String("integer") || xml.name() == QLatin1String("string")
                    || xml.name() == QLatin1String("date")))
                value = xml.readElementText();
            if (key == QLatin1String("Playlists"))
                break;
            if (key == QLatin1String("Album"))
                album = cleaner.formatSplChar(value.trimmed());
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
    return index;
}

