// Optimises videos through the whole program -- the window offscreen, the
// controller and a library of `tracks` songs -- as a user who adds a video
// and goes on using the library sees it, and measures how long the GUI
// thread's event loop stops meanwhile: a timer due every millisecond notes
// each turn, and the longest gap from the start of a run to its end (the
// video stored and shown) is reported, with the GUI thread's own CPU time in
// that gap (a gap the thread spent working, not one it waited for a core).
//
//   bench_videorun [tracks, default 20000] [seconds of the clip, default 20] [rounds, at least 5]
//
// Everything happens below a temporary home folder.  Each round optimises
// a copy of a 1920 x 1080 clip under a name of its own, so it is converted
// every time; a round whose video does not reach the library stops the
// benchmark with an error.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QQuickItem>
#include <QSqlDatabase>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "app/manager.h"
#include "app/qmlapplicationviewer.h"
#include "app/startup.h"
#include "app/videooptimisation.h"
#include "database/ruvodb.h"
#include "libraryfixture.h"
#include "testenv.h"

namespace {

qint64 threadCpuUs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

// Runs the event loop until `done` holds or `ms` have passed.
bool spinUntil(const std::function<bool()> &done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    testkit::isolateUserFolders();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QUICK_BACKEND", "software");
    QApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const int tracks = argc > 1 ? std::max(0, std::atoi(argv[1])) : 20000;
    const int seconds = argc > 2 ? std::max(4, std::atoi(argv[2])) : 20;
    const int rounds = argc > 3 ? std::max(5, std::atoi(argv[3])) : 5;
    const QString home = testkit::testHome();

    // The library: albums of ten songs by artists of five albums, every
    // song an existing (small) file.
    if (!testkit::openLibrary()) {
        err << "cannot make a library\n";
        return 1;
    }
    QList<track> songs;
    for (int i = 0; i < tracks; ++i) {
        const QString album = QStringLiteral("Album %1").arg(i / 10);
        const QString path = home + QStringLiteral("/Music/%1/%2.mp3").arg(album).arg(i);
        if (!testkit::touch(path)) {
            err << "cannot write " << path << "\n";
            return 1;
        }
        track t = testkit::makeTrack(path, album, QStringLiteral("Artist %1").arg(i / 50));
        t.id = i + 1;
        t.trackname = QStringLiteral("Song %1").arg(i);
        t.tracknumber = i % 10 + 1;
        songs.append(t);
    }
    if (!songs.isEmpty() && !ruvoDB().insertTracks(songs)) {
        err << "cannot store the library\n";
        return 1;
    }
    // The program opens the library itself.
    QSqlDatabase::database(QSqlDatabase::defaultConnection, false).close();
    QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);

    const QString clip = home + QStringLiteral("/clip.mp4");
    {
        QProcess make;
        make.start(QStringLiteral("ffmpeg"),
                   {"-v", "error", "-y", "-f", "lavfi", "-i", QStringLiteral("testsrc2=s=1920x1080:d=%1").arg(seconds),
                    "-f", "lavfi", "-i", QStringLiteral("sine=d=%1").arg(seconds), "-c:v", "libx264", "-preset",
                    "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest", clip});
        if (!make.waitForFinished(600000) || make.exitCode() != 0) {
            err << "cannot make the clip\n";
            return 1;
        }
    }

    StartUp startUp;
    startUp.start();
    manager *controller = startUp.controller();
    startUp.viewer().showNormal();
    startUp.viewer().resize(1280, 800);
    if (!spinUntil([&] { return !controller->isCheckingLibrary() && !controller->isRefreshingViews(); }, 120000)) {
        err << "the library did not load\n";
        return 1;
    }
    // The library's video view is shown while the videos are stored.
    QQuickItem *root = startUp.viewer().rootObject();
    root->setProperty("currentScreen", QStringLiteral("library"));
    if (QObject *panel = root->findChild<QObject *>(QStringLiteral("libraryPanel")))
        panel->setProperty("currentView", 6);
    spinUntil([] { return false; }, 500);

    std::vector<double> pauses, pauseCpu;
    for (int round = 0; round < rounds; ++round) {
        const QString source = home + QStringLiteral("/Videos/clip %1.mp4").arg(round + 1);
        QDir().mkpath(home + QStringLiteral("/Videos"));
        if (!QFile::copy(clip, source)) {
            err << "cannot copy the clip\n";
            return 1;
        }
        QElapsedTimer clock;
        qint64 lastTurn = 0;
        qint64 lastCpu = threadCpuUs();
        qint64 longest = 0;
        qint64 longestCpu = 0;
        QTimer turns;
        turns.setTimerType(Qt::PreciseTimer);
        turns.setInterval(1);
        QObject::connect(&turns, &QTimer::timeout, &app, [&] {
            const qint64 now = clock.elapsed();
            const qint64 cpu = threadCpuUs();
            if (now - lastTurn > longest) {
                longest = now - lastTurn;
                longestCpu = cpu - lastCpu;
            }
            lastTurn = now;
            lastCpu = cpu;
        });
        bool ended = false;
        const QMetaObject::Connection end =
            QObject::connect(controller, &manager::sgAllFileCompleteVideo, &app, [&ended] { ended = true; });
        const qsizetype before = controller->libraryTracks.size();
        clock.start();
        lastCpu = threadCpuUs();
        turns.start();
        controller->processingTracks = {{1, testkit::makeVideo(1, source)}};
        controller->startVideoOptimisation();
        const bool done = spinUntil([&] { return ended && !controller->isRefreshingViews(); }, 600000);
        spinUntil([] { return false; }, 200); // the views take their rows
        turns.stop();
        QObject::disconnect(end);
        if (!done || controller->libraryTracks.size() != before + 1) {
            err << "round " << round + 1 << ": the video did not reach the library\n";
            return 1;
        }
        pauses.push_back(double(longest));
        pauseCpu.push_back(double(longestCpu) / 1000.0);
        out << "round " << round + 1 << ": " << clock.elapsed() << " ms, longest pause " << longest
            << " ms (GUI thread busy " << QString::number(double(longestCpu) / 1000.0, 'f', 1) << " ms of it)\n";
        out.flush();
    }
    out << "library of " << tracks << " songs, clip of " << seconds << " s at 1920x1080, " << rounds << " rounds\n"
        << "longest pause of the GUI event loop while a video is optimised and stored, median "
        << testkit::median(pauses) << " ms, max " << *std::max_element(pauses.cbegin(), pauses.cend())
        << " ms; the GUI thread's own CPU time in that pause, median "
        << QString::number(testkit::median(pauseCpu), 'f', 1) << " ms\n"
        << "load: " << testkit::machineLoad() << "\n";
    return 0;
}
