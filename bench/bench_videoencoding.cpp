// Converts a 60 s 1080p clip through VideoEncoding and with the same ffmpeg
// command run by hand, and prints both wall times and their ratio; while
// VideoEncoding runs, a 10 ms timer on the GUI thread measures the longest
// pause of the event loop.  Run by hand:
//   build/bin/bench_videoencoding [seconds of the clip, default 60]
// Everything happens below a temporary home folder.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <cstdlib>

#include "delivery/videoencoding.h"

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

    const QString clip = home.filePath(QStringLiteral("clip.mp4"));
    {
        QProcess make;
        make.start(QStringLiteral("ffmpeg"),
                   {"-v", "error", "-y", "-f", "lavfi", "-i", QStringLiteral("testsrc2=s=1920x1080:d=%1").arg(seconds),
                    "-f", "lavfi", "-i", QStringLiteral("sine=d=%1").arg(seconds), "-c:v", "libx264", "-preset",
                    "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest", clip});
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
    QElapsedTimer clock;
    clock.start();
    QProcess ffmpeg;
    ffmpeg.setStandardOutputFile(QProcess::nullDevice());
    ffmpeg.setStandardErrorFile(QProcess::nullDevice());
    ffmpeg.start(QStringLiteral("ffmpeg"), VideoEncoding::conversionArguments(facts, clip, byHand));
    ffmpeg.waitForFinished(-1);
    const qint64 handMs = clock.elapsed();
    if (ffmpeg.exitCode() != 0) {
        out << "ffmpeg by hand failed\n";
        return 1;
    }

    // Through VideoEncoding, with the GUI event loop watched.
    track video;
    video.id = 1;
    video.isVideo = true;
    video.sourcePath = video.filepath = clip;
    video.trackname = QStringLiteral("Bench clip");
    encoder.setArg({{1, video}}, transferDetail());
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
    clock.restart();
    lastTick = 0;
    ticker.start();
    encoder.start();
    app.exec();
    const qint64 encodingMs = clock.elapsed();
    encoder.wait();

    const QString made = VideoEncoding::outputFolder() + QStringLiteral("/Bench clip.mp4");
    out << "clip: " << seconds << " s of 1920x1080\n"
        << "ffmpeg by hand:       " << handMs << " ms\n"
        << "through VideoEncoding: " << encodingMs << " ms (ratio " << QString::number(double(encodingMs) / double(handMs), 'f', 3)
        << ", output " << (QFile::exists(made) ? "made" : "MISSING") << ")\n"
        << "progress signals: " << progressSignals << "\n"
        << "longest GUI event-loop pause: " << longestPause << " ms (timer every 10 ms)\n";
    return 0;
}
