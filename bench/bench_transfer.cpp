// Times the copy to a drive against `cp -r` followed by `sync` of the same
// tree to the same disk.
//
//   bench_transfer [folder|-] [runs] [cpus]
//
// Without a folder (or with "-") it generates the benchmarks' realistic
// collection (testkit::RealisticMusic: 2,000 MP3s of 30 s, each embedding its
// album's cover; about 1.1 GB) in a temporary folder on the current disk; a
// folder that doesn't exist yet is generated and kept.  The tracks are read
// by the folder scan first, so they carry the album pictures of a library,
// and each album folder on the target gets its folder picture.  The copy
// runs to a folder target (no byte budget), so no file needs converting and
// every file's codec is checked.
//
// Each run copies into a fresh target beside the source, the two ways taking
// turns at going first, and deletes the targets afterwards.  Prints the
// median of each (at least five runs), the median of the runs' speed ratios
// (cp's time over the transfer's) and the target beside it.  Without `cpus`
// it measures twice, each in a process of its own: pinned to CPUs 0 and 1
// (both sides; cp inherits the pinning) and on all cores.  User folders are
// isolated, so the real library is never touched.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>


#include "core/track_data.h"
#include "database/database.h"
#include "delivery/drivecopier.h"
#include "delivery/transferdetail.h"
#include "realisticmusic.h"
#include "testenv.h"

namespace {

constexpr double speedTarget = 0.9;

bool run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

int measure(const QString &source, int runs, const QString &cpus)
{
    Database db;
    if (!db.connect(QStringLiteral("RuvoData"), true))
        return 1;
    db.create();
    // The records as the library holds them: with their album pictures.
    const TrackMap tracks = track_data().searchfile(QDir(source));
    qint64 bytes = 0;
    int withPicture = 0;
    for (const track &t : tracks) {
        bytes += QFileInfo(t.filepath).size();
        withPicture += QFileInfo(t.cover).isFile() ? 1 : 0;
    }
    const double mib = double(bytes) / (1 << 20);
    if (tracks.isEmpty() || withPicture != tracks.size()) {
        std::printf("the scan of %s gave %lld tracks, %d with an album picture\n", qPrintable(source),
                    static_cast<long long>(tracks.size()), withPicture);
        return 1;
    }

    SystemDetails profile;
    profile.name = QStringLiteral("System A");
    profile.vehicleName = QStringLiteral("Bench");
    profile.codec = QStringLiteral("aac");
    profile.audioExtension = QStringLiteral("m4a");
    profile.audioCodecs = {{QStringLiteral("aac"), QStringLiteral("m4a"), QString()},
                           {QStringLiteral("mp3"), QStringLiteral("mp3"), QString()}};
    // Warm the page cache with the source once.
    run(QStringLiteral("tar"), {"-cf", "/dev/null", "-C", source, "."});

    const QString work = QFileInfo(source).absolutePath();
    std::vector<double> cpTimes, ourTimes, ratios;
    for (int r = 0; r < runs; ++r) {
        double times[2] = {0, 0};
        for (int turn = 0; turn < 2; ++turn) {
            const bool ours = (turn + r) % 2 == 0;
            const QString target = work + QStringLiteral("/target-%1-%2").arg(ours ? "transfer" : "cp").arg(r);
            QDir().mkpath(target);
            run(QStringLiteral("sync"), {});
            QElapsedTimer clock;
            clock.start();
            if (ours) {
                transferDetail detail;
                detail.drivePath = target;
                detail.freeSpace = bytes + 1;
                detail.isSystem = true;
                detail.system = profile;
                DriveCopier copier;
                std::atomic<bool> stop{false};
                const int reported = copier.copyFilesToDrive(tracks, detail, stop);
                if (reported != tracks.size() || copier.lastOutcome().written != tracks.size()) {
                    std::printf("the transfer wrote %d of %lld files\n", copier.lastOutcome().written,
                                static_cast<long long>(tracks.size()));
                    return 1;
                }
            } else if (!run(QStringLiteral("cp"), {"-r", source, target + QStringLiteral("/copy")}) ||
                       !run(QStringLiteral("sync"), {})) {
                std::printf("cp -r failed\n");
                return 1;
            }
            times[ours ? 1 : 0] = clock.nsecsElapsed() / 1e9;
            QDir(target).removeRecursively();
        }
        cpTimes.push_back(times[0]);
        ourTimes.push_back(times[1]);
        ratios.push_back(times[0] / times[1]);
    }
    std::printf("cpus %s: %lld files (%d with an album picture), %.0f MiB, median of %d runs: cp -r + sync %.2f s "
                "(%.0f MiB/s), transfer %.2f s (%.0f MiB/s); speed ratio %.2f (target >= %.1f)\n",
                qPrintable(cpus), static_cast<long long>(tracks.size()), withPicture, mib, runs,
                testkit::median(cpTimes), mib / testkit::median(cpTimes), testkit::median(ourTimes),
                mib / testkit::median(ourTimes), testkit::median(ratios), speedTarget);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    const QString cpus = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    if (!cpus.isEmpty() && !testkit::pinToCpus(cpus)) {
        std::fprintf(stderr, "cannot pin to CPUs %s\n", argv[3]);
        return 2;
    }
    testkit::isolateUserFolders();
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool given = args.size() > 1 && args.at(1) != QLatin1String("-");
    const int runs = args.size() > 2 ? std::max(5, args.at(2).toInt()) : 5;

    // Beside the current folder, so source and targets share one disk.
    QTemporaryDir work(QDir::currentPath() + QStringLiteral("/bench_transfer-XXXXXX"));
    const QString source = given ? QDir(args.at(1)).absolutePath() : work.filePath(QStringLiteral("source"));
    if (!QFileInfo::exists(source)) {
        std::fprintf(stderr, "generating the collection in %s\n", qPrintable(source));
        if (!testkit::RealisticMusic::generate(source)) {
            std::fprintf(stderr, "could not generate the files (is ffmpeg installed?)\n");
            return 1;
        }
    }
    if (!cpus.isEmpty())
        return measure(source, runs, cpus);

    return testkit::runPinnedAndUnpinned({source, QString::number(runs)}) ? 0 : 1;
}
