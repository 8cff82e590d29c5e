// The add chain's three costly parts, each measured once.  Run by hand:
//   build/bin/bench_add [plan|copy|convert]...   (all three without arguments)
//
// plan:    1,000 chosen tracks into a 20,000-track library: the id and
//          duplicate work of the plan worker.
// copy:    2,000 files of 512 KiB into the data folder (each with its row)
//          against `cp -r` of the same files to the same disk.
// convert: 100 FLAC files of 30 s converted by the library job (probe,
//          decision, conversion, tags, rows) against the same ffmpeg
//          commands run one per core by `xargs -P $(nproc)`.
// pause:   whole adds of 2,000 and 8,000 small files through the controller:
//          the longest time the GUI thread's event loop did not run (a
//          stand-in ffprobe answers at once, so the add's own work shows).

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <functional>

#include "app/albumdatamodel.h"
#include "app/libraryadder.h"
#include "app/manager.h"
#include "database/database.h"
#include "database/ruvodb.h"
#include "delivery/ffmpeghandler.h"
#include "mediakit.h"
#include "platform/externalprogram.h"
#include "testenv.h"

namespace {

QTextStream out(stdout);

track makeTrack(int id, const QString &path, const QString &album, const QString &artist, int bitrate)
{
    track t;
    t.id = id;
    t.filepath = path;
    t.filename = QFileInfo(path).fileName();
    t.albumName = album;
    t.artistName = artist;
    t.trackname = t.filename;
    t.bitrate = bitrate;
    t.quality = manager::getMediaQuality(bitrate);
    return t;
}

void benchPlan()
{
    const QString lib = ruvoDB::programCopyFolder();
    LibraryAdder::PlanInput input;
    for (int i = 1; i <= 20000; ++i) {
        const QString album = QStringLiteral("Album %1").arg(i % 2000);
        track t = makeTrack(i, QStringLiteral("%1/%2/t%3.mp3").arg(lib, album).arg(i), album,
                            QStringLiteral("Artist %1").arg(i % 500), 192);
        t.album_id = 2 + i % 2000;
        t.artist_id = 1 + i % 500;
        input.libraryTracks.insert(i, t);
    }
    // 900 new files (half of them of new albums and artists), 50 already in
    // the library by path, 50 better copies of stored targets.
    for (int k = 1; k <= 1000; ++k) {
        track t;
        if (k <= 900) {
            const QString album = QStringLiteral("%1 %2").arg(k % 2 ? "Album" : "New Album").arg(k % 300);
            t = makeTrack(k, QStringLiteral("/media/src/%1/n%2.mp3").arg(album).arg(k), album,
                          QStringLiteral("Artist %1").arg(k % 700), 256);
        } else if (k <= 950) {
            t = input.libraryTracks.value(k * 13);
            t.id = k;
        } else {
            const track stored = input.libraryTracks.value(k * 17);
            t = makeTrack(k, QStringLiteral("/media/better/%1").arg(stored.filename), stored.albumName,
                          stored.artistName, 320);
        }
        input.chosenTracks.insert(k, t);
    }
    std::atomic<bool> stop{false};
    QElapsedTimer clock;
    clock.start();
    const auto plan = LibraryAdder::addToMainObjectthread(input, stop);
    const qint64 wall = clock.nsecsElapsed();
    out << "plan: 1000 chosen into 20000: ids and duplicates " << plan.lookupNs / 1e6 << " ms (worker " << wall / 1e6
        << " ms); added " << plan.addedLibraryTracks.size() << ", replaced " << plan.removedLibraryTracks.size()
        << "\n";
}

void benchCopy(const QString &work)
{
    const int files = 2000;
    const QByteArray content(512 * 1024, 'c');
    const QString source = work + QStringLiteral("/copy-src");
    QDir().mkpath(source);
    QList<LibraryAdder::CopyItem> items;
    for (int i = 0; i < files; ++i) {
        const QString path = QStringLiteral("%1/f%2.mp3").arg(source).arg(i);
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(content);
        f.close();
        LibraryAdder::CopyItem item;
        item.source = path;
        item.target = LibraryAdder::GenerateCopyPath(QStringLiteral("Bench %1").arg(i / 20), path);
        item.records = {
            makeTrack(0, item.target, QStringLiteral("Bench %1").arg(i / 20), QStringLiteral("Artist"), 192)};
        item.size = content.size();
        items << item;
    }
    const double megabytes = double(files) * content.size() / (1 << 20);

    QProcess::execute(QStringLiteral("sync"), {});

    // Side by side, three times each in turns; the best run of each counts,
    // so a burst of load on a shared machine hits neither alone.
    double cpSeconds = 1e9;
    double ourSeconds = 1e9;
    int rows = 0;
    for (int round = 0; round < 3; ++round) {
        const QString cpTarget = work + QStringLiteral("/copy-cp%1").arg(round);
        QElapsedTimer clock;
        clock.start();
        QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-r"), source, cpTarget});
        cpSeconds = std::min(cpSeconds, clock.nsecsElapsed() / 1e9);
        QProcess::execute(QStringLiteral("sync"), {});

        // Fresh album folders each round, as cp gets a fresh folder.
        QList<LibraryAdder::CopyItem> roundItems = items;
        for (auto &item : roundItems) {
            item.target.replace(QStringLiteral("/Bench "), QStringLiteral("/Bench%1 ").arg(round));
            item.records[0].filepath = item.target;
        }
        std::atomic<bool> stop{false};
        clock.restart();
        const auto result = LibraryAdder::CopyPath(roundItems, {}, stop);
        ourSeconds = std::min(ourSeconds, clock.nsecsElapsed() / 1e9);
        rows = int(result.copiedTargets.size());
        QProcess::execute(QStringLiteral("sync"), {});
    }
    out << "copy: " << files << " files, " << megabytes << " MiB: cp " << megabytes / cpSeconds << " MiB/s ("
        << cpSeconds << " s), add " << megabytes / ourSeconds << " MiB/s (" << ourSeconds << " s, " << rows
        << " rows); ratio " << cpSeconds / ourSeconds << "\n";
}

void benchConvert(const QString &work)
{
    const int files = 100;
    const QString source = work + QStringLiteral("/flac");
    QDir().mkpath(source);
    QStringList list;
    for (int i = 0; i < files; ++i)
        list << QStringLiteral("%1/s%2.flac").arg(source).arg(i);
    // The sources, made in parallel.
    QFile names(work + QStringLiteral("/names.txt"));
    names.open(QIODevice::WriteOnly);
    names.write(list.join('\n').toUtf8() + '\n');
    names.close();
    const QString nproc = QString::number(QThread::idealThreadCount());
    QProcess::execute(
        QStringLiteral("sh"),
        {QStringLiteral("-c"), QStringLiteral("xargs -P %1 -I{} ffmpeg -v error -y -f lavfi -i anoisesrc=d=30:a=0.3 "
                                              "-metadata title=Noise -c:a flac {} < '%2'")
                                   .arg(nproc, names.fileName())});

    TrackMap tracks;
    for (int i = 0; i < files; ++i) {
        track t = makeTrack(i + 1, LibraryAdder::GenerateCopyPath(QStringLiteral("Bench"), list[i]),
                            QStringLiteral("Bench Convert"), QStringLiteral("Artist"), 900);
        t.trackname = QStringLiteral("Noise %1").arg(i);
        t.sourcePath = list[i];
        tracks.insert(t.id, t);
    }
    transferDetail detail;
    detail.system.name = QStringLiteral("System A");
    detail.system.codec = QStringLiteral("aac");
    detail.system.audioExtension = QStringLiteral("m4a");
    detail.system.audioCodecs = {{QStringLiteral("aac"), QStringLiteral("m4a"), QString()},
                                 {QStringLiteral("mp3"), QStringLiteral("mp3"), QString()}};

    // Reference: the same conversions, one per core.  Reference and library
    // job run in turns (reference, job, job, reference); the better run of
    // each counts.
    const QString ref = work + QStringLiteral("/ref");
    QDir().mkpath(ref);
    double refSeconds = 1e9;
    double ourSeconds = 1e9;
    int stored = 0;
    for (int run = 0; run < 4; ++run) {
        QElapsedTimer clock;
        clock.start();
        if (run == 0 || run == 3) {
            QProcess::execute(
                QStringLiteral("sh"),
                {QStringLiteral("-c"),
                 QStringLiteral("xargs -P %1 -I{} sh -c 'ffmpeg -v error -y -i \"$1\" -vn -acodec aac -ab 256k "
                                "-ar 44100 \"%2/$(basename \"$1\" .flac).m4a\"' _ {} < '%3'")
                     .arg(nproc, ref, names.fileName())});
            refSeconds = std::min(refSeconds, clock.nsecsElapsed() / 1e9);
        } else {
            // Nothing in the cache: every file is converted.
            QDir(ffmpeghandler::cacheFolder()).removeRecursively();
            ffmpeghandler converter;
            clock.restart();
            stored = int(converter.TranscodeOnOK(tracks, detail).size());
            ourSeconds = std::min(ourSeconds, clock.nsecsElapsed() / 1e9);
        }
    }
    out << "convert: " << files << " FLAC of 30 s on " << nproc << " cores: xargs -P " << refSeconds
        << " s, library job " << ourSeconds << " s (" << stored << " stored); ratio " << ourSeconds / refSeconds
        << "\n";
}

// The longest gap between two turns of the event loop while `work` runs
// until `done` says so.
qint64 longestPause(const std::function<void()> &work, const std::function<bool()> &done)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, longest = 0;
    QTimer tick;
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    tick.start();
    work();
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        const qint64 now = clock.elapsed();
        longest = std::max(longest, now - last);
        last = now;
    }
    return longest;
}

void benchPause(const QString &work)
{
    const QString probe = testkit::MediaKit::fakeTool(work, QStringLiteral("ffprobe"), QStringLiteral("echo mp3"));
    ExternalProgram::setToolPath(ExternalProgram::Ffprobe, probe);
    for (const int files : {2000, 8000}) {
        const QString source = work + QStringLiteral("/pause-%1").arg(files);
        TrackMap browser;
        for (int i = 1; i <= files; ++i) {
            const QString album = QStringLiteral("Pause %1 %2").arg(files).arg(i / 10);
            const QString path = QStringLiteral("%1/%2/t%3.mp3").arg(source, album).arg(i);
            QDir().mkpath(QFileInfo(path).path());
            QFile f(path);
            f.open(QIODevice::WriteOnly);
            f.write(QByteArray(4096, 'p'));
            f.close();
            track t = makeTrack(i, path, album, QStringLiteral("Artist %1").arg(i % 50), 192);
            t.album_id = i / 10 + 1;
            browser.insert(i, t);
        }
        manager controller;
        controller.browserTracks = browser;
        controller.libraryAdder->setBrowserRowsProvider([&controller, files] {
            LibraryAdder::BrowserRows rows;
            for (int album = 1; album <= files / 10 + 1; ++album)
                rows.albumModels.insert(QString::number(album),
                                        new AlbumDataModel(album, {}, {}, 0, true, true, {}, &controller));
            return rows;
        });
        bool ended = false;
        QObject::connect(&controller, &manager::updateProgressSearch, [&ended] { ended = true; });
        QElapsedTimer clock;
        clock.start();
        const qint64 pause = longestPause([&controller] { controller.addToMainObject(); },
                                          [&] { return ended && !controller.isRefreshingViews(); });
        out << "pause: add of " << files << " files: " << clock.elapsed() << " ms, " << controller.libraryTracks.size()
            << " in the library; longest event-loop pause " << pause << " ms (target < 50 ms at 8000)\n";
        out.flush();
    }
    ExternalProgram::setToolPath(ExternalProgram::Ffprobe, {});
}

} // namespace

int main(int argc, char *argv[])
{
    testkit::isolateUserFolders();
    QCoreApplication app(argc, argv);
    Database db;
    if (!db.connect(QStringLiteral("RuvoData"), true))
        return 1;
    db.create();
    QStringList parts = app.arguments().mid(1);
    if (parts.isEmpty())
        parts = {QStringLiteral("plan"), QStringLiteral("copy"), QStringLiteral("convert"), QStringLiteral("pause")};
    const QString work = testkit::testHome() + QStringLiteral("/bench");
    QDir().mkpath(work);
    for (const QString &part : parts) {
        if (part == QLatin1String("plan"))
            benchPlan();
        else if (part == QLatin1String("copy"))
            benchCopy(work);
        else if (part == QLatin1String("convert"))
            benchConvert(work);
        else if (part == QLatin1String("pause"))
            benchPause(work);
        out.flush();
    }
    return 0;
}
