// Times the copy to a drive against `cp -r` followed by `sync` of the same
// tree to the same disk.
//
//   bench_transfer [folder] [runs]
//
// Without a folder (or with "-") it generates 2,000 MP3 files of about
// 512 KiB (1 GiB in all) in 100 album folders below a temporary folder on the
// current disk; a folder that doesn't exist yet is generated and kept.  The
// copy runs to a folder target (no byte budget), so no file needs
// converting and every file's codec is checked.  Each run copies into a
// fresh target folder beside the source, alternating the two ways, and
// deletes the targets afterwards.  Prints the best run of each in MiB/s and
// their ratio.  User folders are isolated, so the real library is never
// touched.

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>

#include "core/track.h"
#include "delivery/drivecopier.h"
#include "delivery/transferdetail.h"
#include "testenv.h"

namespace {

constexpr int albums = 100;
constexpr int tracksPerAlbum = 20;

bool run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool generate(const QString &folder)
{
    const QString seed = folder + QStringLiteral("/seed.mp3");
    QDir().mkpath(folder);
    // 32 s at 128 kbit/s: 512 KiB of real MPEG frames.
    if (!run(QStringLiteral("ffmpeg"), {"-y", "-v", "error", "-f", "lavfi", "-i", "anoisesrc=d=32", "-c:a",
                                        "libmp3lame", "-b:a", "128k", seed}))
        return false;
    for (int a = 0; a < albums; ++a) {
        const QString album = folder + QStringLiteral("/Album %1").arg(a, 3, 10, QLatin1Char('0'));
        QDir().mkpath(album);
        for (int t = 0; t < tracksPerAlbum; ++t) {
            if (!QFile::copy(seed, album + QStringLiteral("/%1 Track.mp3").arg(t + 1, 2, 10, QLatin1Char('0'))))
                return false;
        }
    }
    return QFile::remove(seed);
}

TrackMap tracksOf(const QString &folder, qint64 &bytes)
{
    TrackMap tracks;
    bytes = 0;
    QDirIterator it(folder, {QStringLiteral("*.mp3")}, QDir::Files, QDirIterator::Subdirectories);
    int id = 0;
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        track t;
        t.id = ++id;
        t.filepath = info.absoluteFilePath();
        t.albumName = info.dir().dirName();
        t.trackname = info.completeBaseName();
        t.filesize = info.size();
        bytes += t.filesize;
        tracks.insert(t.id, t);
    }
    return tracks;
}

} // namespace

int main(int argc, char *argv[])
{
    testkit::isolateUserFolders();
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QString source = args.size() > 1 ? args.at(1) : QStringLiteral("-");
    const int runs = args.size() > 2 ? qMax(1, args.at(2).toInt()) : 3;

    // Beside the current folder, so source and targets share one disk.
    QTemporaryDir work(QDir::currentPath() + QStringLiteral("/bench_transfer-XXXXXX"));
    if (source == QLatin1String("-"))
        source = work.filePath(QStringLiteral("source"));
    if (!QFileInfo::exists(source)) {
        std::printf("generating %d files in %s\n", albums * tracksPerAlbum, qPrintable(source));
        if (!generate(source)) {
            std::printf("could not generate the files (is ffmpeg installed?)\n");
            return 1;
        }
    }
    qint64 bytes = 0;
    const TrackMap tracks = tracksOf(source, bytes);
    const double mib = double(bytes) / (1 << 20);
    std::printf("%lld files, %.1f MiB\n", static_cast<long long>(tracks.size()), mib);

    SystemDetails profile;
    profile.name = QStringLiteral("System A");
    profile.vehicleName = QStringLiteral("Bench");
    profile.codec = QStringLiteral("aac");
    profile.audioExtension = QStringLiteral("m4a");
    profile.audioCodecs = {{QStringLiteral("aac"), QStringLiteral("m4a"), QString()},
                           {QStringLiteral("mp3"), QStringLiteral("mp3"), QString()}};

    // Warm the page cache with the source once.
    run(QStringLiteral("tar"), {"-cf", "/dev/null", "-C", source, "."});

    double bestCopy = 1e9, bestCp = 1e9;
    for (int r = 0; r < runs; ++r) {
        const QString cpTarget = work.filePath(QStringLiteral("cp-%1").arg(r));
        run(QStringLiteral("sync"), {});
        QElapsedTimer clock;
        clock.start();
        if (!run(QStringLiteral("cp"), {"-r", source, cpTarget}) || !run(QStringLiteral("sync"), {})) {
            std::printf("cp -r failed\n");
            return 1;
        }
        const double cpSeconds = clock.elapsed() / 1000.0;

        const QString target = work.filePath(QStringLiteral("drive-%1").arg(r));
        QDir().mkpath(target);
        run(QStringLiteral("sync"), {});
        transferDetail detail;
        detail.drivePath = target;
        detail.freeSpace = bytes + 1;
        detail.isSystem = true;
        detail.system = profile;
        DriveCopier copier;
        std::atomic<bool> stop{false};
        clock.restart();
        const int reported = copier.copyFilesToDrive(tracks, detail, {}, stop);
        const double copySeconds = clock.elapsed() / 1000.0;
        if (reported != tracks.size()) {
            std::printf("the copy reported %d of %lld files\n", reported, static_cast<long long>(tracks.size()));
            return 1;
        }
        std::printf("run %d: cp -r + sync %.2f s (%.0f MiB/s), transfer %.2f s (%.0f MiB/s)\n", r + 1, cpSeconds,
                    mib / cpSeconds, copySeconds, mib / copySeconds);
        bestCp = qMin(bestCp, cpSeconds);
        bestCopy = qMin(bestCopy, copySeconds);
        QDir(cpTarget).removeRecursively();
        QDir(target).removeRecursively();
    }
    std::printf("best: cp -r + sync %.0f MiB/s, transfer %.0f MiB/s, ratio %.2f\n", mib / bestCp, mib / bestCopy,
                bestCp / bestCopy);
    return 0;
}
