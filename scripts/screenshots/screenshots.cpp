#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QQuickItem>
#include <QScopeGuard>
#include <QSemaphore>
#include <QStandardPaths>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <tuple>

#include "app/manager.h"
#include "app/mediabrowser.h"
#include "app/startup.h"
#include "app/videooptimisation.h"
#include "core/shared.h"
#include "database/database.h"
#include "database/ruvodb.h"
#include "delivery/combo.h"
#include "delivery/drive.h"
#include "lookup/apimanager.h"
#include "mediakit.h"
#include "platform/externalprogram.h"
#include "platform/volumes.h"
#include "testenv.h"

// Takes the README's pictures of the window from kit media made here, in a
// temporary home: the library with a few albums, the "Transfer and Sync"
// dialog, the advanced settings' review lists and a video optimisation put aside.  With --check it also takes the states worth a look after a change
// of the interface: the vehicle lists open, the grouped track views, the
// library, two dialogs and the media browser at the window's minimum size,
// an add under way, the vehicle choice with its way back, the browser's word
// on a missing iTunes library, the scan's list of what it could not take,
// an add of what the library has already, a cancelled lookup, and (where a
// tmpfs can be mounted) a stick's sizes in the transfer dialog and a
// transfer that fills it.
//
//   corvane-screenshots <folder> [--check]

namespace {

struct Album
{
    const char *name;
    const char *artist;
    const char *genre;
    int year;
    const char *colours; // two gradient colours; none: the album has no picture
    QStringList titles;
};

const QList<Album> albums{
    {"Northern Lights", "Aurora Fields", "Ambient", 2019, "0x1d4e89:0x7dcfb6", {"First Snow", "Polar Night", "Thaw"}},
    {"City After Dark", "Neon Avenue", "Synthpop", 2021, "0x2b1055:0xd53369", {"Skyline", "Last Train"}},
    {"Open Road", "The Mileposts", "Rock", 2016, "0xf79256:0xfbd1a2", {"Highway One", "Gravel", "Rest Stop"}},
    {"Tidal", "Harbour Lights", "Folk", 2018, "0x00b2ca:0x1d3557", {"Low Water", "Salt Air"}},
    {"Demo Sessions", "The Mileposts", "Rock", 2014, nullptr, {"Take One", "Take Two"}},
    {"Slow Orbit", "Aurora Fields", "Ambient", 2022, "0x3a0ca3:0xf72585", {"Perigee", "Apogee"}},
    {"Paper Planes", "Neon Avenue", "Synthpop", 2020, "0xffbe0b:0xfb5607", {"Fold", "Glide"}},
    {"Long Way Home", "Harbour Lights", "Folk", 2015, "0x606c38:0xdda15e", {"Crossing", "Lantern"}},
    {"Summer Static", "The Mileposts", "Rock", 2023, "0xef476f:0xffd166", {"Radio Song", "Heatwave"}},
    {"Quiet Hours", "Aurora Fields", "Ambient", 2017, "0x14213d:0x8d99ae", {"Dusk", "Dawn"}},
};

// The library, written through the program's own database code: the albums
// above (each track a short MP3 of the kit), a playlist and a podcast.
bool fillLibrary()
{
    testkit::MediaKit kit(QStandardPaths::writableLocation(QStandardPaths::MusicLocation));
    Database database;
    if (!database.connect(QStringLiteral("RuvoData"), true))
        return false;
    database.create();
    ruvoDB library;
    const shared helper;
    auto store = [&](track t, const QString &file, const QString &cover) {
        testkit::MediaTags tags;
        tags.title = t.trackname;
        tags.artist = t.artistName;
        tags.album = t.albumName;
        t.filepath = t.sourcePath = QDir::isAbsolutePath(file) ? file : kit.mp3(file, tags, QString(), 1);
        if (t.filepath.isEmpty()) {
            qWarning("%s", qPrintable(kit.lastError()));
            return QString();
        }
        t.filename = QFileInfo(t.filepath).fileName();
        t.folderLocation = QFileInfo(t.filepath).path();
        t.filesize = QFileInfo(t.filepath).size();
        t.codec = QStringLiteral("mp3");
        t.bitrate = 128;
        t.frequency = 44100;
        t.cover = cover.isEmpty() ? helper.noArtworkUrl : cover;
        return library.insertDataOne(t) ? t.filepath : QString();
    };

    QStringList roadTrip;
    for (const Album &album : albums) {
        const QString name = QString::fromLatin1(album.name);
        QString cover;
        if (album.colours) {
            const QStringList colours = QString::fromLatin1(album.colours).split(QLatin1Char(':'));
            cover = kit.folder() + QStringLiteral("/covers/") + helper.formatSplChar(name) + QStringLiteral(".jpg");
            QDir().mkpath(QFileInfo(cover).path());
            if (!kit.ffmpeg(
                    {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                     QStringLiteral("gradients=s=300x300:c0=%1:c1=%2:x0=0:y0=0:x1=300:y1=300:nb_colors=2:seed=1")
                         .arg(colours.at(0), colours.at(1)),
                     QStringLiteral("-frames:v"), QStringLiteral("1"), cover}))
                return false;
        }
        for (int i = 0; i < album.titles.size(); ++i) {
            track t;
            t.trackname = album.titles.at(i);
            t.tracknumber = i + 1;
            t.albumName = name;
            t.artistName = QString::fromLatin1(album.artist);
            t.genre = QString::fromLatin1(album.genre);
            t.year = album.year;
            t.duration = 150 + 37 * i;
            const QString file = store(t, name + QLatin1Char('/') + t.trackname + QStringLiteral(".mp3"), cover);
            if (file.isEmpty())
                return false;
            if (i < 2)
                roadTrip.append(file);
        }
    }
    // A playlist of the first two tracks of each album, and a podcast.
    for (const QString &file : std::as_const(roadTrip)) {
        track t;
        t.playlist = QStringLiteral("Road Trip");
        t.trackname = QFileInfo(file).completeBaseName();
        t.albumName = QFileInfo(file).dir().dirName();
        t.artistName = QStringLiteral("Various");
        t.genre = QStringLiteral("Rock");
        t.year = 2020;
        t.duration = 180;
        if (store(t, file, QString()).isEmpty())
            return false;
    }
    for (int episode = 1; episode <= 3; ++episode) {
        track t;
        t.isPodcast = true;
        t.trackname = QStringLiteral("Episode %1").arg(episode);
        t.tracknumber = episode;
        t.albumName = QStringLiteral("The Weekly Drive");
        t.artistName = QStringLiteral("Radio Mileposts");
        t.genre = QStringLiteral("Podcast");
        t.year = 2023;
        t.duration = 1500 + 60 * episode;
        if (store(t, QStringLiteral("Podcasts/") + t.trackname + QStringLiteral(".mp3"), QString()).isEmpty())
            return false;
    }
    // A vehicle is chosen; its library opens at start.
    const QString model = Combo().fillModelCombo().value(1);
    const QStringList years = Combo().fillYearCombo(model);
    testkit::saveVehicle(1, model, 1, years.value(1));
    return true;
}

QQuickItem *findItem(QQuickItem *in, const QString &name)
{
    if (in->objectName() == name)
        return in;
    const QList<QQuickItem *> children = in->childItems();
    for (QQuickItem *child : children) {
        if (QQuickItem *found = findItem(child, name))
            return found;
    }
    return nullptr;
}

// Closes the message box and whatever messages wait behind it.
void dismissMessages(QQuickItem *root)
{
    if (QObject *box = root->findChild<QObject *>(QStringLiteral("messageBox"))) {
        box->setProperty("waiting", QVariantList());
        QMetaObject::invokeMethod(box, "close");
        if (!QTest::qWaitFor([box] { return !box->property("visible").toBool(); }, 5000))
            qWarning("the message box did not close");
    }
}

// Lets the window settle (layouts, asynchronous pictures) and saves it.
bool shoot(QQuickWindow &window, const QString &file)
{
    for (int i = 0; i < 5; ++i) {
        window.grabWindow();
        QTest::qWait(150);
    }
    const QImage image = window.grabWindow();
    if (image.isNull() || !image.save(file)) {
        qWarning("could not write %s", qPrintable(file));
        return false;
    }
    qInfo("wrote %s", qPrintable(file));
    return true;
}

// An add from the media browser caught while it converts: three FLAC files
// of a new album, the conversion of the last one in the add's order held up
// until the add is cancelled, so the picture shows the add's dialog with its
// count.  (FLAC is told by its first bytes: the add runs no probe for it.)
bool shootAdd(StartUp &startUp, const QString &file)
{
    testkit::MediaKit kit(QStandardPaths::writableLocation(QStandardPaths::MusicLocation) +
                          QStringLiteral("/New Recordings"));
    testkit::MediaTags tags;
    tags.artist = QStringLiteral("Harbour Lights");
    tags.album = QStringLiteral("New Recordings");
    for (const char *title : {"Harbour Wall", "Low Tide", "Slack Water"}) {
        tags.title = QString::fromLatin1(title);
        if (kit.flac(tags.title + QStringLiteral(".flac"), tags, QString(), 12).isEmpty())
            return false;
    }
    // A conversion waits until the held file's name is written down (the
    // add picks its tracks when it starts), then the held one sleeps.
    const QString held = testkit::testHome() + QStringLiteral("/held");
    const QString converter = testkit::MediaKit::fakeTool(
        testkit::testHome(), QStringLiteral("held-ffmpeg"),
        QStringLiteral("while [ ! -s '%1' ]; do sleep 0.05; done\n"
                       "case \"$*\" in *\"$(cat '%1')\"*) exec sleep 60;; esac\nexec ffmpeg \"$@\"")
            .arg(held));
    ExternalProgram::setToolPath(ExternalProgram::Ffmpeg, converter);

    QmlApplicationViewer &view = startUp.viewer();
    QQuickItem *root = view.rootObject();
    root->setProperty("currentScreen", QStringLiteral("library"));
    QMetaObject::invokeMethod(root, "openMediaBrowser");
    QMetaObject::invokeMethod(root, "searchMediaSource", Q_ARG(QString, QStringLiteral("mymusic")));
    QQuickItem *grid = findItem(root, QStringLiteral("browserAlbumsGrid"));
    QQuickItem *overlay = findItem(root, QStringLiteral("loadingOverlay"));
    bool ok = grid && overlay &&
              QTest::qWaitFor([grid, overlay] { return grid->property("count").toInt() > 0 && !overlay->isVisible(); },
                              30000);
    QMetaObject::invokeMethod(root, "selectdeselectForBrowser", Q_ARG(bool, true));
    QMetaObject::invokeMethod(root, "addToMediaLibrary");
    // The add has taken its tracks; its conversion starts after its plan.
    QFile last(held);
    const TrackMap &chosen = startUp.controller()->chosenTracks;
    ok = ok && !chosen.isEmpty() && last.open(QIODevice::WriteOnly) &&
         last.write(QFileInfo(chosen.last().filepath).fileName().toUtf8()) > 0;
    last.close();
    // Two files converted, the third held up.
    QQuickItem *count = findItem(root, QStringLiteral("addCount"));
    ok = ok && count &&
         QTest::qWaitFor(
             [count] {
                 return count->isVisible() && count->property("text").toString().startsWith(QLatin1String("2 /"));
             },
             30000);
    if (!ok)
        qWarning("the add did not reach its count");
    ok = shoot(view, file) && ok;
    QMetaObject::invokeMethod(root, "sgCancelSearch");
    ok = QTest::qWaitFor([overlay] { return !overlay->isVisible(); }, 30000) && ok;
    ExternalProgram::setToolPath(ExternalProgram::Ffmpeg, QString());
    return ok;
}

// The advanced settings dialog with its review lists filled as an add
// leaves them: the library's tracks without a picture have missing data,
// and every track of 128 kbit/s or less is of poor quality.
bool shootReviewLists(StartUp &startUp, const QString &file)
{
    manager *controller = startUp.controller();
    controller->reviewTracks.clear();
    for (track t : std::as_const(controller->libraryTracks)) {
        if (!t.playlist.isEmpty())
            continue;
        t.isMissingData = t.cover.contains(QLatin1String("no_artwork.png"));
        if (t.isMissingData || t.quality == 0)
            controller->reviewTracks.insert(t.id, t);
    }
    QObject *dialog = startUp.viewer().rootObject()->findChild<QObject *>(QStringLiteral("advancedSettingsDialog"));
    if (!dialog)
        return false;
    controller->slPopulateAdvancedSettings();
    if (!QTest::qWaitFor([dialog] { return dialog->property("opened").toBool(); }, 20000)) {
        qWarning("the advanced settings did not open");
        return false;
    }
    const bool ok = shoot(startUp.viewer(), file);
    QMetaObject::invokeMethod(dialog, "close");
    return ok;
}

// A video optimisation put aside: the library in use, the run's status box
// in its corner (and, given `dialogFile`, first the run's dialog).  The
// conversion of the second clip is held up until the pictures are taken;
// then the run is cancelled.
bool shootBackground(StartUp &startUp, const QString &file, const QString &dialogFile)
{
    testkit::MediaKit kit(QStandardPaths::writableLocation(QStandardPaths::MoviesLocation));
    const QString gate = testkit::testHome() + QStringLiteral("/gate");
    ExternalProgram::setToolPath(
        ExternalProgram::Ffmpeg,
        testkit::MediaKit::fakeTool(testkit::testHome(), QStringLiteral("gated-ffmpeg"),
                                    QStringLiteral("case \"$*\" in *libx264*) while [ ! -e '%1' ]; do sleep 0.1; "
                                                   "done;; esac\nexec ffmpeg \"$@\"")
                                        .arg(gate)));
    TrackMap videos;
    int id = 0;
    for (const auto &[name, width, height] : {std::tuple{"Coast Road.mp4", 640, 480}, {"Night Drive.mkv", 1280, 720}}) {
        track t;
        t.id = ++id;
        t.isVideo = true;
        t.sourcePath = t.filepath = kit.video(QString::fromLatin1(name), 2, width, height);
        t.filename = QFileInfo(t.filepath).fileName();
        t.trackname = QFileInfo(t.filepath).completeBaseName();
        if (t.filepath.isEmpty())
            return false;
        videos.insert(t.id, t);
    }
    manager *controller = startUp.controller();
    QQuickItem *root = startUp.viewer().rootObject();
    controller->processingTracks = videos;
    controller->startVideoOptimisation();
    QObject *dialog = root->findChild<QObject *>(QStringLiteral("videoOptimisationDialog"));
    auto *box = root->findChild<QQuickItem *>(QStringLiteral("videoStatusBox"));
    bool ok = true;
    if (!dialogFile.isEmpty())
        ok = shoot(startUp.viewer(), dialogFile);
    QMetaObject::invokeMethod(dialog, "close");
    QQuickItem *videosGrid = findItem(root, QStringLiteral("videosViewGrid"));
    QObject *panel = root->findChild<QObject *>(QStringLiteral("libraryPanel"));
    panel->setProperty("currentView", 0);
    ok = box && videosGrid &&
         QTest::qWaitFor([box, videosGrid] { return box->isVisible() && videosGrid->property("count").toInt() > 0; },
                         30000) &&
         ok;
    if (!ok)
        qWarning("the video run did not show its status box");
    ok = shoot(startUp.viewer(), file) && ok;
    QFile(gate).open(QIODevice::WriteOnly);
    controller->slCancelVideOptimising();
    ok = QTest::qWaitFor([controller] { return !controller->videoOptimisation->isRunning(); }, 30000) && ok;
    ExternalProgram::setToolPath(ExternalProgram::Ffmpeg, QString());
    return ok;
}

// The message box: waits until it shows a message containing `text`, saves
// the window, and dismisses it with whatever waits behind it.
bool shootMessage(QQuickWindow &window, QQuickItem *root, const QString &text, const QString &file)
{
    QObject *box = root->findChild<QObject *>(QStringLiteral("messageBox"));
    bool ok =
        box && QTest::qWaitFor(
                   [box, &text] {
                       return box->property("opened").toBool() && box->property("message").toString().contains(text);
                   },
                   60000);
    if (!ok)
        qWarning("no message with \"%s\" for %s (shown: \"%s\")", qPrintable(text), qPrintable(file),
                 box ? qPrintable(box->property("message").toString()) : "");
    qInfo("message: %s", qPrintable(box ? box->property("message").toString() : QString()));
    ok = shoot(window, file) && ok;
    dismissMessages(root);
    return ok;
}

// A media browser location chosen as the user does, waited for until its
// scan and its rows are done.
bool browse(StartUp &startUp, const QString &source)
{
    QQuickItem *root = startUp.viewer().rootObject();
    QMetaObject::invokeMethod(root, "openMediaBrowser");
    QQuickItem *button = findItem(root, QStringLiteral("source_") + source);
    if (!button || !QMetaObject::invokeMethod(button, "clicked"))
        return false;
    const MediaBrowser *browser = startUp.controller()->mediaBrowser.get();
    QQuickItem *overlay = findItem(root, QStringLiteral("loadingOverlay"));
    return overlay &&
           QTest::qWaitFor(
               [browser, overlay] { return !browser->isScanning() && !browser->isBuilding() && !overlay->isVisible(); },
               60000);
}

// The states the latest changes of the window brought: the vehicle choice
// with its way back, the browser's word on a missing iTunes library, the
// scan's list of what it could not take, an add of what the library has
// already and a cancelled lookup.
bool shootChanges(StartUp &startUp, const QDir &out)
{
    QmlApplicationViewer &view = startUp.viewer();
    QQuickItem *root = view.rootObject();
    manager *controller = startUp.controller();
    dismissMessages(root);

    // The header's vehicle button leads to the choice, with a way back.
    root->setProperty("currentScreen", QStringLiteral("library"));
    QMetaObject::invokeMethod(findItem(root, QStringLiteral("headerBar")), "changeVehicleRequested");
    QQuickItem *back = findItem(root, QStringLiteral("startBackButton"));
    bool ok = back && QTest::qWaitFor([back] { return back->isVisible(); }, 5000);
    if (!ok)
        qWarning("the vehicle choice shows no way back");
    ok = shoot(view, out.filePath(QStringLiteral("start-back.png"))) && ok;
    QMetaObject::invokeMethod(findItem(root, QStringLiteral("startPage")), "returnRequested");

    // No iTunes library in this home: the browser says where it looked.
    QQuickItem *hint = findItem(root, QStringLiteral("browserHint"));
    const bool hinted = browse(startUp, QStringLiteral("itunes")) && hint &&
                        QTest::qWaitFor(
                            [hint] {
                                return hint->isVisible() &&
                                       hint->property("text").toString().startsWith(QLatin1String("No iTunes library"));
                            },
                            10000);
    if (!hinted)
        qWarning("the browser did not say why iTunes shows nothing");
    ok = shoot(view, out.filePath(QStringLiteral("browser-no-itunes.png"))) && hinted && ok;

    // A folder of one new song and a playlist that names files that are
    // not there.
    const QString folder = testkit::testHome() + QStringLiteral("/Mixes");
    testkit::MediaKit mixes(folder);
    testkit::MediaTags tags;
    tags.title = QStringLiteral("Coastline");
    tags.artist = QStringLiteral("Harbour Lights");
    tags.album = QStringLiteral("Mixes");
    QFile playlist(folder + QStringLiteral("/Road Trip.m3u"));
    ok = !mixes.mp3(QStringLiteral("Coastline.mp3"), tags, QString(), 8).isEmpty() &&
         playlist.open(QIODevice::WriteOnly) &&
         playlist.write("#EXTM3U\nGone/One.mp3\nGone/Two.mp3\nGone/Three.mp3\n") > 0 && ok;
    playlist.close();
    controller->mediaBrowser->chooseFolder = [folder] { return folder; };
    ok = browse(startUp, QStringLiteral("browse")) && ok;
    ok = shootMessage(view, root, QStringLiteral("Road Trip.m3u"), out.filePath(QStringLiteral("scan-report.png"))) &&
         ok;

    // The song added, then chosen again from the browser's rows.
    const auto added = [controller] {
        return std::any_of(controller->libraryTracks.cbegin(), controller->libraryTracks.cend(),
                           [](const track &t) { return t.trackname == QLatin1String("Coastline"); });
    };
    QQuickItem *overlay = findItem(root, QStringLiteral("loadingOverlay"));
    QMetaObject::invokeMethod(root, "selectdeselectForBrowser", Q_ARG(bool, true));
    QMetaObject::invokeMethod(root, "addToMediaLibrary");
    ok = overlay && QTest::qWaitFor([&added, overlay] { return added() && !overlay->isVisible(); }, 60000) && ok;
    dismissMessages(root);
    QMetaObject::invokeMethod(root, "openMediaBrowser");
    QMetaObject::invokeMethod(root, "selectdeselectForBrowser", Q_ARG(bool, true));
    QMetaObject::invokeMethod(root, "addToMediaLibrary");
    ok = shootMessage(view, root, QStringLiteral("already in the library"),
                      out.filePath(QStringLiteral("add-already-there.png"))) &&
         ok;
    root->setProperty("mediaBrowserVisible", false);

    // Continue's lookup over the tracks without a picture, cancelled while
    // it reads its second folder.
    ApiManager *lookup = ApiManager::getinstance();
    QSemaphore held, resume;
    auto folders = std::make_shared<std::atomic<int>>(0);
    ApiManager::Steps steps;
    steps.complete = [](const track &t) { return t; };
    steps.readFolder = [&held, &resume, folders](const QString &) {
        if (++*folders == 2) {
            held.release();
            resume.acquire();
        }
    };
    lookup->setSteps(steps);
    QObject *settings = root->findChild<QObject *>(QStringLiteral("advancedSettingsDialog"));
    controller->reviewTracks.clear();
    for (track t : std::as_const(controller->libraryTracks)) {
        t.isMissingData = true;
        if (t.playlist.isEmpty() && !t.isPodcast)
            controller->reviewTracks.insert(t.id, t);
    }
    controller->slPopulateAdvancedSettings();
    ok = settings && QTest::qWaitFor([settings] { return settings->property("opened").toBool(); }, 20000) && ok;
    QQuickItem *go = findItem(root, QStringLiteral("advancedSettingsContinue"));
    if (!go && settings)
        go = findItem(settings->property("contentItem").value<QQuickItem *>(),
                      QStringLiteral("advancedSettingsContinue"));
    if (go)
        QMetaObject::invokeMethod(go, "clicked");
    if (!go)
        qWarning("no Continue in the advanced settings");
    const bool reached = go && QTest::qWaitFor([&held] { return held.available() == 1; }, 30000);
    auto *progress = root->findChild<QObject *>(QStringLiteral("progressDialog"));
    QQuickItem *cancel = progress && reached ? findItem(progress->property("contentItem").value<QQuickItem *>(),
                                                        QStringLiteral("progressCancelButton"))
                                             : nullptr;
    if (cancel && QTest::qWaitFor([progress] { return progress->property("opened").toBool(); }, 10000))
        QMetaObject::invokeMethod(cancel, "clicked");
    else
        qWarning("the lookup did not reach its second folder with its progress shown");
    resume.release();
    ok = shootMessage(view, root, QStringLiteral("The lookup was cancelled"),
                      out.filePath(QStringLiteral("lookup-cancelled.png"))) &&
         cancel && ok;
    ok = QTest::qWaitFor([lookup] { return !lookup->isRunning(); }, 30000) && ok;
    lookup->setSteps(ApiManager::defaultSteps());
    if (settings)
        QMetaObject::invokeMethod(settings, "close");
    return ok;
}

// A stick with a few MB on it in the transfer dialog, then a transfer
// onto it once it is all but full.  The stick is a small tmpfs mounted below
// the volume roots: without the right to mount, these pictures are left out.
bool shootDrive(StartUp &startUp, const QDir &out)
{
    const QString stick = Volumes::roots().value(0) + QStringLiteral("/ASTER");
    QDir().mkpath(stick);
    if (QProcess::execute(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                                    QStringLiteral("size=8m"), QStringLiteral("tmpfs"), stick}) != 0) {
        qInfo("no tmpfs could be mounted: the stick's pictures are left out");
        return true;
    }
    auto unmount = qScopeGuard([stick] { QProcess::execute(QStringLiteral("umount"), {stick}); });
    const auto fill = [](const QString &file, qint64 bytes) {
        QFile f(file);
        return f.open(QIODevice::WriteOnly) && f.write(QByteArray(bytes, 'x')) == bytes;
    };
    QmlApplicationViewer &view = startUp.viewer();
    QQuickItem *root = view.rootObject();
    manager *controller = startUp.controller();
    QObject *dialog = root->findChild<QObject *>(QStringLiteral("transferDialog"));
    auto *content = dialog ? dialog->property("contentItem").value<QQuickItem *>() : nullptr;
    QQuickItem *list = content ? findItem(content, QStringLiteral("transferTargets")) : nullptr;
    if (!list || !fill(stick + QStringLiteral("/notes.bin"), 3000000))
        return false;
    Drive::getInstance()->TransferDetails(controller->libraryTracks);
    emit controller->showTransferBrowser();
    const auto sizesShown = [list]() -> QQuickItem * {
        QQuickItem *row = nullptr;
        QMetaObject::invokeMethod(list, "itemAtIndex", Q_RETURN_ARG(QQuickItem *, row), Q_ARG(int, 0));
        QQuickItem *sizes = row ? findItem(row, QStringLiteral("driveSizes")) : nullptr;
        return sizes && sizes->isVisible() ? sizes : nullptr;
    };
    bool ok = QTest::qWaitFor(
        [dialog, &stick, &sizesShown] {
            return dialog->property("opened").toBool() && dialog->property("selectedPath").toString() == stick &&
                   sizesShown();
        },
        20000);
    if (!ok)
        qWarning("the transfer dialog did not show the stick with its sizes");
    ok = shoot(view, out.filePath(QStringLiteral("transfer-drive.png"))) && ok;

    // All but 40 KB taken: the library's songs don't fit.
    ok = fill(stick + QStringLiteral("/filler.bin"), Volumes::volumeOf(stick).availableBytes - 40 * 1024) && ok;
    QQuickItem *go = findItem(content, QStringLiteral("transferContinueButton"));
    ok = go && QMetaObject::invokeMethod(go, "clicked") && ok;
    ok = shootMessage(view, root, QString(), out.filePath(QStringLiteral("transfer-full.png"))) && ok;
    return ok; // the message comes at the transfer's end
}

} // namespace

int main(int argc, char **argv)
{
    testkit::isolateUserFolders();
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2 || args.at(1).startsWith(QLatin1Char('-'))) {
        qWarning("usage: %s <folder> [--check]", argv[0]);
        return 2;
    }
    const QDir out(args.at(1));
    QDir().mkpath(out.path());
    const bool check = args.contains(QStringLiteral("--check"));
    if (!fillLibrary())
        return 1;
    // No real volume of this machine shows up in the dialog.
    const QString noVolumes = testkit::testHome() + QStringLiteral("/media");
    QDir().mkpath(noVolumes);
    Volumes::setRoots({noVolumes});

    StartUp startUp;
    startUp.start();
    QmlApplicationViewer &view = startUp.viewer();
    QQuickItem *root = view.rootObject();
    if (!root)
        return 1;
    view.showNormal();
    view.resize(1280, 800);
    bool ok = QTest::qWaitFor([root] { return root->property("currentScreen").toString() == QLatin1String("library"); },
                              20000);
    QQuickItem *albumsGrid = findItem(root, QStringLiteral("albumsViewGrid"));
    ok = ok && albumsGrid &&
         QTest::qWaitFor([albumsGrid] { return albumsGrid->property("count").toInt() == int(albums.size()); }, 20000);
    if (!ok) {
        qWarning("the library did not open");
        return 1;
    }
    ok = shoot(view, out.filePath(QStringLiteral("library.png")));

    // The dialog as the controller opens it, with a folder of the computer chosen as the target.
    const QString stick = testkit::testHome() + QStringLiteral("/Car stick");
    QDir().mkpath(stick);
    Drive::setFolderChooser([stick] { return stick; });
    Drive::getInstance()->TransferDetails(startUp.controller()->libraryTracks);
    QObject *dialog = root->findChild<QObject *>(QStringLiteral("transferDialog"));
    if (!dialog)
        return 1;
    // The folder is chosen once the dialog is open: opening starts a fresh poll.
    auto openTransfer = [&startUp, dialog, stick] {
        emit startUp.controller()->showTransferBrowser();
        const bool opened = QTest::qWaitFor([dialog] { return dialog->property("opened").toBool(); }, 5000);
        startUp.drive()->openDialog();
        const bool chosen =
            QTest::qWaitFor([dialog, stick] { return dialog->property("selectedPath").toString() == stick; }, 5000);
        if (!opened || !chosen)
            qWarning("the transfer dialog did not open with its target");
        return opened && chosen;
    };
    ok = openTransfer() && shoot(view, out.filePath(QStringLiteral("transfer.png"))) && ok;
    QMetaObject::invokeMethod(dialog, "close");
    ok = shootReviewLists(startUp, out.filePath(QStringLiteral("review-lists.png"))) && ok;

    if (check) {
        QObject *panel = root->findChild<QObject *>(QStringLiteral("libraryPanel"));
        const QStringList views{QStringLiteral("tracks"), QStringLiteral("playlists"), QStringLiteral("podcasts")};
        for (int i = 0; i < views.size(); ++i) {
            panel->setProperty("currentView", 2 + i);
            ok = shoot(view, out.filePath(views.at(i) + QStringLiteral(".png"))) && ok;
        }
        panel->setProperty("currentView", 0);
        view.resize(1024, 650);
        ok = shoot(view, out.filePath(QStringLiteral("library-1024x650.png"))) && ok;
        ok = openTransfer() && shoot(view, out.filePath(QStringLiteral("transfer-1024x650.png"))) && ok;
        QMetaObject::invokeMethod(dialog, "close");
        QMetaObject::invokeMethod(root, "slShowAdvancedSettings");
        ok = shoot(view, out.filePath(QStringLiteral("settings-1024x650.png"))) && ok;
        QMetaObject::invokeMethod(root->findChild<QObject *>(QStringLiteral("advancedSettingsDialog")), "close");
        QMetaObject::invokeMethod(root, "openMediaBrowser");
        ok = shoot(view, out.filePath(QStringLiteral("browser-1024x650.png"))) && ok;
        root->setProperty("mediaBrowserVisible", false);
        view.resize(1280, 800);

        root->setProperty("currentScreen", QStringLiteral("start"));
        for (const char *name : {"modelCombo", "yearCombo"}) {
            QQuickItem *combo = findItem(root, QString::fromLatin1(name));
            QObject *popup = combo ? combo->property("popup").value<QObject *>() : nullptr;
            if (!popup)
                return 1;
            QMetaObject::invokeMethod(popup, "open");
            ok = shoot(view, out.filePath(QString::fromLatin1(name) + QStringLiteral(".png"))) && ok;
            QMetaObject::invokeMethod(popup, "close");
        }
    }
    Drive::setFolderChooser({});
    ok = shootBackground(startUp, out.filePath(QStringLiteral("background.png")),
                         check ? out.filePath(QStringLiteral("video.png")) : QString()) &&
         ok;
    if (check) {
        ok = shootAdd(startUp, out.filePath(QStringLiteral("add.png"))) && ok;
        ok = shootChanges(startUp, out) && ok;
        ok = shootDrive(startUp, out) && ok;
    }
    return ok ? 0 : 1;
}
