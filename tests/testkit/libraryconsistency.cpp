#include "libraryconsistency.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSqlQuery>

#include "app/albumdatamodel.h"
#include "app/libraryadder.h"
#include "app/manager.h"
#include "core/shared.h"
#include "database/filejournal.h"
#include "database/ruvodb.h"
#include "delivery/combo.h"
#include "platform/temporaryfiles.h"

namespace testkit {

TrackMap albumTracksOf(const QString &folder, const QString &album, int albumId)
{
    TrackMap tracks;
    int id = 50;
    for (const QString &name : QDir(folder).entryList(QDir::Files, QDir::Name)) {
        track t;
        t.id = id++;
        t.filepath = folder + '/' + name;
        t.filename = name;
        t.trackname = QFileInfo(name).completeBaseName();
        t.albumName = album;
        t.artistName = QStringLiteral("Artist");
        t.tracknumber = t.id - 49;
        t.bitrate = name.endsWith(QLatin1String(".flac")) ? 900 : 128;
        t.duration = 3;
        t.album_id = t.artist_id = albumId;
        t.cover = QStringLiteral("qrc:///resources/photos/no_artwork.png");
        tracks.insert(t.id, t);
    }
    return tracks;
}

void startAlbumAdd(manager &controller, const TrackMap &browser, int albumId)
{
    controller.browserTracks = browser;
    controller.libraryAdder->setBrowserRowsProvider([&controller, albumId] {
        LibraryAdder::BrowserRows rows;
        rows.albumModels.insert(QString::number(albumId),
                                new AlbumDataModel(albumId, {}, {}, 0, true, true, {}, &controller));
        return rows;
    });
    controller.addToMainObject();
}

void useAacAndMp3Car()
{
    SystemDetails &profile = *Combo().getsystemDetail();
    profile = SystemDetails();
    profile.name = "System A";
    profile.codec = "aac";
    profile.audioExtension = "m4a";
    profile.audioCodecs = {{"aac", "m4a,m4b,mp4,aac", ""}, {"mp3", "mp3", ""}};
}

void settleAsAStartDoes()
{
    TemporaryFiles::sweep(shared::dataFolder(), true, QDateTime::currentDateTime().addSecs(1));
    FileJournal::settle(ruvoDB::programCopyFolder(), {}, true);
}

QStringList rowPaths()
{
    QStringList paths;
    QSqlQuery query;
    if (query.exec(QStringLiteral("SELECT filepath FROM tracks")))
        while (query.next())
            paths << query.value(0).toString();
    return paths;
}

QStringList filesBelow(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

QStringList inconsistencies()
{
    const QStringList rows = rowPaths();
    QStringList wrong;
    for (const QString &path : rows)
        if (!QFileInfo(path).isFile())
            wrong << QStringLiteral("row without its file: ") + path;
    for (const QString &file : filesBelow(ruvoDB::programCopyFolder()))
        if (!rows.contains(file))
            wrong << QStringLiteral("file no row owns: ") + file;
    return wrong;
}

} // namespace testkit
