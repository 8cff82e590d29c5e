#include "libraryconsistency.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QSqlQuery>
#include <QTimer>

#include "app/albumdatamodel.h"
#include "app/libraryadder.h"
#include "app/manager.h"
#include "app/startup.h"
#include "core/backgroundjob.h"
#include "database/ruvodb.h"
#include "delivery/combo.h"

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

namespace {
const char startedProgram[] = "--started-program";
}

bool startTheProgram(const QProcessEnvironment &environment)
{
    QProcess program;
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(startedProgram)});
    // A bound against a hang only: the start says when it is over by ending.
    if (!program.waitForFinished(180000)) {
        program.kill();
        program.waitForFinished();
        return false;
    }
    return program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0;
}

int runStartedProgram(int argc, char *argv[])
{
    if (argc != 2 || qstrcmp(argv[1], startedProgram) != 0)
        return -1;
    QApplication app(argc, argv);
    StartUp startUp;
    if (startUp.start() != InstanceLock::Outcome::Owned)
        return 2;
    manager *controller = startUp.controller();
    const auto busy = [controller] {
        return controller->isCheckingLibrary() || controller->isRefreshingViews() ||
               JobRegistry::instance().anyRunning();
    };
    // Its checks and jobs end on their own; the bound only guards a hang.
    const QDeadlineTimer limit(120000);
    QEventLoop loop;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (!busy() || limit.hasExpired())
            loop.quit();
    });
    look.start(50);
    loop.exec();
    return busy() ? 3 : 0;
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
