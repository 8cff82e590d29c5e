// Converts a 60 s 1080p clip through VideoEncoding and with the same ffmpeg
// command run by hand, and prints both wall times and their ratio; while
// VideoEncoding runs, a 10 ms timer on the GUI thread measures the longest
// pause of the event loop.  Run by hand:
//   build/bin/bench_videoencoding [seconds of the clip, default 60] [rounds, at least 5]
// Everything happens below a temporary home folder, with a library database
// of its own (VideoEncoding records what it makes there).  Each round starts
// without the output and its record, so the clip is converted every time; a
// round whose conversion made no file, or a file of the wrong size, stops the
// benchmark with an error.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdlib>

#include "database/database.h"
#include "delivery/videoencoding.h"

namespace {
// CPU time of the ended child processes so far, in ms: unlike wall time it
// barely depends on what else the machine runs.
qint64 childrenCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return (qint64(usage.ru_utime.tv_sec) + usage.ru_stime.tv_sec) * 1000 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

qint64 median(QList<qint64> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

// The picture size of a video's first video stream ("1024x576"), "" when
// ffprobe can't read one.
QString pictureSize(const QString &path)
{
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"), {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                            "stream=width,height", "-of", "csv=s=x:p=0", path});
    if (!probe.waitForFinished(60000) || probe.exitCode() != 0)
        return QString();
    return QString::fromLatin1(probe.readAllStandardOutput()).trimmed();
}
} // namespace

int main(int argc, char *argv[])
{
    // Never the user's own data folder.
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/corvane-bench-XXXXXX"));
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/.local/share")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTextStream out(stdout);
    const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 60;
    const int rounds = argc > 2 ? std::max(5, std::atoi(argv[2])) : 5;
    // VideoEncoding notes each file it makes in the library before making
    // it: without a library it makes nothing.
    Database db;
    if (!db.connect(QStringLiteral("RuvoData"), true)) {
        QTextStream(stderr) << "cannot open a library database\n";
        return 1;
    }
    db.create();

    const QString clip = home.filePath(QStringLiteral("clip.mp4"));
    {
        QProcess make;
        make.start(QStringLiteral("ffmpeg"), {"-v",
                                              "error",
                                              "-y",
                                              "-f",
                                              "lavfi",
                                              "-i",
                                              QStringLiteral("testsrc2=s=1920x1080:d=%1").arg(seconds),
                                              "-f",
                                              "lavfi",
                                              "-i",
                                              QStringLiteral("sine=d=%1").arg(seconds),
                                              "-c:v",
                                              "libx264",
                                              "-preset",
                                              "ultrafast",
                                              "-pix_fmt",
                                              "yuv420p",
                                              "-c:a",
                                              "aac",
                                              "-shortest",
                                              clip});
        if (!make.waitForFinished(600000) || make.exitCode() != 0) {
            out << "cannot make the clip\n";
            return 1;
        }
    }

    // By hand: the command VideoEncoding builds for this clip.
    VideoEncoding encoder;
    encoder.analizeStreams(clip);
    VideoDetails facts;
    facts.width = encoder.width;
    facts.height = encoder.height;
    facts.r_frame_rate = encoder.rFrameRate;
    facts.avg_frame_rate = encoder.avgFrameRate;
    const QString byHand = home.filePath(QStringLiteral("by-hand.mp4"));
    track video;
    video.id = 1;
    video.isVideo = true;
    video.sourcePath = video.filepath = clip;
    video.trackname = QStringLiteral("Bench clip");
    // As an add hands it over: with the thumbnail the scan made.
    video.cover = home.filePath(QStringLiteral("thumbnail.png"));
    {
        QProcess still;
        still.start(QStringLiteral("ffmpeg"), {"-v", "error", "-y", "-i", clip, "-frames:v", "1", video.cover});
        still.waitForFinished(60000);
    }
    const QString made = VideoEncoding::outputFolder() + QStringLiteral("/Bench clip.mp4");

    QElapsedTimer clock;
    qint64 longestPause = 0;
    qint64 lastTick = 0;
    int progressSignals = 0;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longestPause = std::max(longestPause, now - lastTick);
        lastTick = now;
    });
    QObject::connect(&encoder, &VideoEncoding::onProgressChange, &app, [&] { ++progressSignals; });
    QObject::connect(&encoder, &VideoEncoding::onAllFilesCompleate, &app, [&] { app.quit(); });

    // The machine may be shared: the two ways take turns, and the fastest
    // round of each counts.
    QList<qint64> handMs, encodingMs, handCpu, encodingCpu;
    int completed = 0;
    QObject::connect(&encoder, &VideoEncoding::onFileComplete, &app, [&] { ++completed; });
    for (int round = 0; round < rounds; ++round) {
        qint64 cpu = childrenCpuMs();
        clock.start();
        QProcess ffmpeg;
        ffmpeg.setStandardOutputFile(QProcess::nullDevice());
        ffmpeg.setStandardErrorFile(QProcess::nullDevice());
        ffmpeg.start(QStringLiteral("ffmpeg"), VideoEncoding::conversionArguments(facts, clip, byHand));
        ffmpeg.waitForFinished(-1);
        handMs << clock.elapsed();
        handCpu << childrenCpuMs() - cpu;
        const QString handSize = pictureSize(byHand);
        if (ffmpeg.exitCode() != 0 || handSize.isEmpty()) {
            QTextStream(stderr) << "ffmpeg by hand failed\n";
            return 1;
        }

        // Through VideoEncoding from nothing: neither the output of the
        // round before nor its record, which would make it reuse that file
        // instead of converting.
        QDir(VideoEncoding::outputFolder()).removeRecursively();
        for (const char *table : {"madeFiles", "unsettledFiles"}) {
            QSqlQuery clear;
            if (!clear.exec(QStringLiteral("DELETE FROM %1").arg(QLatin1String(table)))) {
                QTextStream(stderr) << "cannot empty " << table << "\n";
                return 1;
            }
        }
        encoder.setArg({{1, video}}, transferDetail());
        const int completedBefore = completed;
        cpu = childrenCpuMs();
        clock.restart();
        lastTick = 0;
        ticker.start();
        encoder.start();
        app.exec();
        encodingMs << clock.elapsed();
        ticker.stop();
        encoder.wait();
        encodingCpu << childrenCpuMs() - cpu;
        // The work named was done: the video converted, to the size the
        // same command makes by hand.
        const QString madeSize = pictureSize(made);
        if (completed != completedBefore + 1 || madeSize != handSize) {
            QTextStream(stderr) << "round " << round + 1 << ": VideoEncoding made no conversion ("
                                << (completed - completedBefore) << " files completed, output "
                                << (QFileInfo::exists(made)
                                        ? "of size " + (madeSize.isEmpty() ? QStringLiteral("?") : madeSize)
                                        : QStringLiteral("missing"))
                                << ", by hand " << handSize << ")\n";
            return 1;
        }
        out << "round " << round + 1 << ": by hand " << handMs.last() << " ms, through VideoEncoding "
            << encodingMs.last() << " ms\n";
        out.flush();
    }

    const qint64 bestHand = *std::min_element(handMs.cbegin(), handMs.cend());
    const qint64 bestEncoding = *std::min_element(encodingMs.cbegin(), encodingMs.cend());
    const auto ratio = [](qint64 a, qint64 b) { return QString::number(double(a) / double(b), 'f', 3); };
    out << "clip: " << seconds << " s of 1920x1080, " << rounds << " rounds, every output made\n"
        << "wall, best:    by hand " << bestHand << " ms, through VideoEncoding " << bestEncoding << " ms, ratio "
        << ratio(bestEncoding, bestHand) << "\n"
        << "wall, median:  by hand " << median(handMs) << " ms, through VideoEncoding " << median(encodingMs)
        << " ms, ratio " << ratio(median(encodingMs), median(handMs)) << "\n"
        << "child CPU, median: by hand " << median(handCpu) << " ms, through VideoEncoding " << median(encodingCpu)
        << " ms, ratio " << ratio(median(encodingCpu), median(handCpu)) << "\n"
        << "progress signals: " << progressSignals << "\n"
        << "longest GUI event-loop pause: " << longestPause << " ms (timer every 10 ms)\n";
    return 0;
}
