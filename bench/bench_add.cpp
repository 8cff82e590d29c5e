// The add chain's costly parts.  Run by hand:
//   build/bin/bench_add [plan|copy|convert|pause]...   (all of them without arguments)
// Each part runs five times or more, its sides taking turns at going first,
// and prints medians, the ratio the target is set for, and the target.
//
// plan:    1,000 chosen tracks into a 20,000-track library: the id and
//          duplicate work of the plan worker.
// copy:    the benchmarks' realistic collection (testkit::RealisticMusic:
//          2,000 MP3s of 30 s with their album's cover, about 1.1 GB) into
//          the data folder, each file with its row (the add flushes its
//          files before their rows are committed), against `cp -r` of the
//          same files to the same disk, flushed (`sync -f` on the copy,
//          timed with it: the figure the target is for) and unflushed (for
//          comparison: the kernel still holds what it has to write).
// convert: 100 FLAC files of 30 s converted by the library job (codec,
//          decision, conversion, tags, rows) to MP3 and to AAC, against the
//          same ffmpeg commands run one per core by `xargs -P $(nproc)`.
// pause:   whole adds of 2,000 and 8,000 small MP3s (2 s, tagged, made by
//          the test kit) through the controller: the longest time the GUI
//          thread's event loop did not run (a stand-in ffprobe answers at
//          once, so the add's own work shows).
//
// Each part checks that its work was done (files copied or converted, rows
// stored) and stops the benchmark with an error when it was not: a figure
// for work that never happened is worse than none.

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlQuery>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <tuple>
#include <vector>

#include "app/albumdatamodel.h"
#include "app/libraryadder.h"
#include "app/manager.h"
#include "database/database.h"
#include "database/ruvodb.h"
#include "delivery/ffmpeghandler.h"
#include "mediakit.h"
#include "platform/externalprogram.h"
#include "realisticmusic.h"
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

constexpr int runs = 5;

// Stops the benchmark when its work was not done.
void require(bool done, const QString &what)
{
    if (done)
        return;
    out.flush();
    QTextStream(stderr) << "bench_add: " << what << "\n";
    std::exit(1);
}

int storedTracks()
{
    QSqlQuery query;
    return query.exec(QStringLiteral("SELECT count(*) FROM tracks")) && query.next() ? query.value(0).toInt() : -1;
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
    input.firstTrackId = 20001;
    std::vector<double> lookup;
    LibraryAdder::AddPlan plan;
    for (int r = 0; r < runs; ++r) {
        std::atomic<bool> stop{false};
        plan = LibraryAdder::addToMainObjectthread(input, stop);
        lookup.push_back(plan.lookupNs / 1e6);
        // 950 new tracks (the 50 already there by path are not added again),
        // 50 of them replacing a worse copy.
        require(plan.addedLibraryTracks.size() == 950 && plan.removedLibraryTracks.size() == 50,
                QStringLiteral("plan: %1 added and %2 replaced, expected 950 and 50")
                    .arg(plan.addedLibraryTracks.size())
                    .arg(plan.removedLibraryTracks.size()));
    }
    out << "plan: 1000 chosen into 20000: ids and duplicates " << testkit::median(lookup) << " ms (median of " << runs
        << "; target < 100 ms); added " << plan.addedLibraryTracks.size() << ", replaced "
        << plan.removedLibraryTracks.size() << "\n";
}

void benchCopy(const QString &work)
{
    const QString source = work + QStringLiteral("/collection");
    if (!QFileInfo::exists(source) && !testkit::RealisticMusic::generate(source)) {
        out << "copy: could not generate the collection\n";
        return;
    }
    QList<LibraryAdder::CopyItem> items;
    qint64 bytes = 0;
    QDirIterator it(source, {QStringLiteral("*.mp3")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo file(it.next());
        LibraryAdder::CopyItem item;
        item.source = file.absoluteFilePath();
        item.size = file.size();
        item.records = {
            makeTrack(0, QString(), file.dir().dirName(), file.dir().absolutePath().section('/', -2, -2), 128)};
        items << item;
        bytes += item.size;
    }
    require(items.size() == 2000, QStringLiteral("copy: the collection holds %1 MP3s, not 2000").arg(items.size()));
    const double mib = double(bytes) / (1 << 20);
    QProcess::execute(QStringLiteral("tar"), {"-cf", "/dev/null", "-C", source, "."}); // warm cache

    std::vector<double> cpTimes, cpSyncTimes, ourTimes, ratios, unflushedRatios;
    int rows = 0;
    for (int r = 0; r < runs; ++r) {
        // cp -r, cp -r then sync -f, the add; taking turns at going first.
        double times[3] = {0, 0, 0};
        for (int turn = 0; turn < 3; ++turn) {
            const int side = (turn + r) % 3;
            QProcess::execute(QStringLiteral("sync"), {});
            QElapsedTimer clock;
            clock.start();
            if (side == 2) {
                // Fresh album folders and ids each run, as cp gets a fresh folder.
                QList<LibraryAdder::CopyItem> roundItems = items;
                int id = ruvoDB::reserveTrackIds(int(items.size()));
                for (auto &item : roundItems) {
                    item.target = LibraryAdder::GenerateCopyPath(
                        QStringLiteral("Bench %1 %2").arg(r).arg(item.records[0].albumName), item.source);
                    item.records[0].filepath = item.target;
                    item.records[0].id = id++;
                }
                clock.restart();
                std::atomic<bool> stop{false};
                rows = int(LibraryAdder::CopyPath(roundItems, {}, stop).storedIds.size());
                times[2] = clock.nsecsElapsed() / 1e9;
                int copied = 0;
                for (const auto &item : std::as_const(roundItems))
                    copied += QFileInfo(item.target).size() == item.size ? 1 : 0;
                require(rows == items.size() && copied == items.size(),
                        QStringLiteral("copy: %1 of %2 rows stored, %3 files copied whole")
                            .arg(rows)
                            .arg(items.size())
                            .arg(copied));
                for (const auto &item : std::as_const(roundItems))
                    QDir(QFileInfo(item.target).absolutePath()).removeRecursively();
            } else {
                const QString target = work + QStringLiteral("/cp-%1").arg(r);
                require(QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-r"), source, target}) == 0,
                        QStringLiteral("copy: cp -r failed"));
                if (side == 1)
                    QProcess::execute(QStringLiteral("sync"), {QStringLiteral("-f"), target});
                times[side] = clock.nsecsElapsed() / 1e9;
                QDir(target).removeRecursively();
            }
        }
        cpTimes.push_back(times[0]);
        cpSyncTimes.push_back(times[1]);
        ourTimes.push_back(times[2]);
        ratios.push_back(times[1] / times[2]);
        unflushedRatios.push_back(times[0] / times[2]);
    }
    out << "copy: " << items.size() << " files, " << qRound(mib) << " MiB, median of " << runs << ", machine load "
        << testkit::machineLoad() << ": cp -r and sync -f " << testkit::median(cpSyncTimes) << " s, add (flushed) "
        << testkit::median(ourTimes) << " s (" << rows << " rows); speed ratio " << testkit::median(ratios)
        << " (target >= 0.9); cp -r unflushed " << testkit::median(cpTimes) << " s, ratio to it "
        << testkit::median(unflushedRatios) << "\n";
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
        {QStringLiteral("-c"), QStringLiteral("xargs -P %1 -I{} ffmpeg -v error -n -f lavfi -i anoisesrc=d=30:a=0.3 "
                                              "-metadata title=Noise -c:a flac {} < '%2'")
                                   .arg(nproc, names.fileName())});
    for (const QString &flac : std::as_const(list))
        require(QFileInfo(flac).size() > 0, QStringLiteral("convert: could not make ") + flac);

    for (const auto &[codec, extension, encoder] :
         {std::tuple{"mp3", "mp3", "libmp3lame"}, std::tuple{"aac", "m4a", "aac"}}) {
        // Ids the library reserved, as the add's plan gives them: the job stores
        // each converted track's row.
        TrackMap tracks;
        const int firstId = ruvoDB::reserveTrackIds(files);
        for (int i = 0; i < files; ++i) {
            track t = makeTrack(firstId + i, LibraryAdder::GenerateCopyPath(QStringLiteral("Bench"), list[i]),
                                QStringLiteral("Bench Convert"), QStringLiteral("Artist"), 900);
            t.trackname = QStringLiteral("Noise %1").arg(i);
            t.sourcePath = list[i];
            tracks.insert(t.id, t);
        }
        transferDetail detail;
        detail.system.name = QStringLiteral("Bench");
        detail.system.codec = QLatin1String(codec);
        detail.system.audioExtension = QLatin1String(extension);
        detail.system.audioCodecs = {{QLatin1String(codec), QLatin1String(extension), QString()}};
        // The reference runs the library job's own command line for each file.
        const QString ref = work + QStringLiteral("/ref");
        QStringList commands;
        for (int i = 0; i < files; ++i)
            commands << (QStringList{QStringLiteral("ffmpeg")} +
                         ffmpeghandler::conversionArguments(list[i], QLatin1String(encoder),
                                                            QStringLiteral("%1/%2.%3").arg(ref).arg(i).arg(extension)))
                            .join(QLatin1Char('\t'));
        QFile script(work + QStringLiteral("/commands.txt"));
        script.open(QIODevice::WriteOnly);
        script.write(commands.join('\n').toUtf8() + '\n');
        script.close();

        std::vector<double> refTimes, ourTimes, ratios;
        int stored = 0;
        for (int r = 0; r < runs; ++r) {
            double times[2] = {0, 0};
            for (int turn = 0; turn < 2; ++turn) {
                const bool ours = (turn + r) % 2 == 0;
                QDir(ref).removeRecursively();
                QDir().mkpath(ref);
                QDir(ffmpeghandler::cacheFolder()).removeRecursively(); // nothing cached: every file converted
                QElapsedTimer clock;
                clock.start();
                if (ours) {
                    ffmpeghandler converter;
                    const QList<track> made = converter.TranscodeOnOK(tracks, detail);
                    stored = int(made.size());
                    int there = 0;
                    for (const track &t : made)
                        there += QFileInfo(t.filepath).size() > 0 ? 1 : 0;
                    require(stored == files && there == files,
                            QStringLiteral("convert to %1: %2 of %3 converted, %4 files there")
                                .arg(QLatin1String(codec))
                                .arg(stored)
                                .arg(files)
                                .arg(there));
                } else {
                    QProcess::execute(QStringLiteral("sh"),
                                      {QStringLiteral("-c"),
                                       QStringLiteral("xargs -P %1 -d '\\n' -I{} sh -c 'IFS=\"$(printf \"\\t\")\"; "
                                                      "exec $1' _ {} < '%2'")
                                           .arg(nproc, script.fileName())});
                    const int made = int(QDir(ref).entryList(QDir::Files).size());
                    require(made == files, QStringLiteral("convert to %1: ffmpeg by hand made %2 of %3 files")
                                               .arg(QLatin1String(codec))
                                               .arg(made)
                                               .arg(files));
                }
                times[ours ? 1 : 0] = clock.nsecsElapsed() / 1e9;
            }
            refTimes.push_back(times[0]);
            ourTimes.push_back(times[1]);
            ratios.push_back(times[0] / times[1]);
        }
        out << "convert to " << codec << ": " << files << " FLAC of 30 s on " << nproc << " cores, median of " << runs
            << ": xargs -P " << testkit::median(refTimes) << " s, library job " << testkit::median(ourTimes) << " s ("
            << stored << " stored); speed ratio " << testkit::median(ratios) << " (target >= 0.95)\n";
    }
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
    // Real MP3s, as a scan would offer them: the add refuses what isn't one.
    testkit::MediaKit kit(work + QStringLiteral("/pause-media"));
    testkit::MediaTags tags;
    tags.title = QStringLiteral("Song");
    tags.artist = QStringLiteral("Artist");
    tags.album = QStringLiteral("Album");
    const QString song = kit.mp3(QStringLiteral("song.mp3"), tags, QString(), 2);
    require(!song.isEmpty(), QStringLiteral("pause: could not make an MP3: ") + kit.lastError());
    for (const int files : {2000, 8000}) {
        const QString source = work + QStringLiteral("/pause-%1").arg(files);
        TrackMap browser;
        for (int i = 1; i <= files; ++i) {
            const QString album = QStringLiteral("Pause %1 %2").arg(files).arg(i / 10);
            const QString path = QStringLiteral("%1/%2/t%3.mp3").arg(source, album).arg(i);
            QDir().mkpath(QFileInfo(path).path());
            require(QFile::copy(song, path), QStringLiteral("pause: could not write ") + path);
            track t = makeTrack(i, path, album, QStringLiteral("Artist %1").arg(i % 50), 128);
            t.album_id = i / 10 + 1;
            t.filesize = QFileInfo(path).size();
            t.codec = QStringLiteral("mp3");
            browser.insert(i, t);
        }
        std::vector<double> pauses, walls;
        int stored = 0;
        for (int r = 0; r < runs; ++r) {
            // An empty library each run, as the first.
            QSqlQuery(QStringLiteral("DELETE FROM tracks"));
            QDir(ruvoDB::programCopyFolder()).removeRecursively();
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
            pauses.push_back(double(longestPause([&controller] { controller.addToMainObject(); },
                                                 [&] { return ended && !controller.isRefreshingViews(); })));
            walls.push_back(double(clock.elapsed()));
            stored = int(controller.libraryTracks.size());
            const int rows = storedTracks();
            require(stored == files && rows == files,
                    QStringLiteral("pause: the add of %1 files stored %2 in the library, %3 rows")
                        .arg(files)
                        .arg(stored)
                        .arg(rows));
        }
        out << "pause: add of " << files << " files, median of " << runs << ": " << testkit::median(walls) << " ms, "
            << stored << " in the library; longest event-loop pause " << testkit::median(pauses)
            << " ms (target < 50 ms at 8000); machine load " << testkit::machineLoad() << "\n";
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
