#include <QtTest>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "delivery/videoencoding.h"
#include "mediakit.h"
#include "platform/externalprogram.h"
#include "scanfixture.h"
#include "testenv.h"

using testkit::fileBytes;

// The video conversion thread: its readers on canned ffprobe and ffmpeg
// output, its ffmpeg command, and whole runs with the real ffmpeg on short
// generated videos, checked with ffprobe.
namespace {

// ffprobe's view of a file: the streams by type, and the container.
QJsonObject probe(const QString &path)
{
    QProcess p;
    p.start("ffprobe", {"-v", "error", "-show_streams", "-show_format", "-of", "json", path});
    p.waitForFinished(30000);
    const QJsonObject all = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    QJsonObject result{{"format", all["format"]}};
    for (const QJsonValue stream : all["streams"].toArray())
        result.insert(stream["codec_type"].toString(), stream);
    return result;
}

// The ffmpeg runs that encoded `source` with libx264.
qsizetype conversions(const QString &log, const QString &source = "libx264")
{
    const QStringList runs = QString::fromUtf8(fileBytes(log)).split('\n');
    return std::count_if(runs.cbegin(), runs.cend(), [&source](const QString &run) {
        return run.contains("libx264") && run.contains(source);
    });
}

track videoTrack(int id, const QString &source, const QString &title)
{
    track t;
    t.id = id;
    t.isVideo = true;
    t.sourcePath = t.filepath = source;
    t.trackname = title;
    return t;
}

QString output(const QString &title)
{
    return VideoEncoding::outputFolder() + '/' + title + ".mp4";
}

} // namespace

class TestVideoEncoding : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        kit = std::make_unique<testkit::MediaKit>(dir.path());
        // ffmpeg through a wrapper that notes every run.
        ffmpegLog = dir.filePath("ffmpeg.log");
        ExternalProgram::setToolPath(
            ExternalProgram::Ffmpeg,
            testkit::MediaKit::fakeTool(dir.path(), "ffmpeg-wrapper",
                                        QStringLiteral("echo \"$*\" >> '%1'\nexec ffmpeg \"$@\"").arg(ffmpegLog)));
        media["1920x1080"] = kit->video("big.mp4", 3, 1920, 1080);
        media["640x480"] = kit->video("small.mp4", 2, 640, 480);
        media["1024x600"] = kit->video("screen.mp4", 2, 1024, 600);
        media["1025x600"] =
            kit->video("wide.mp4", 2, 1025, 600, "-vf scale=1025:600 -pix_fmt yuv444p -profile:v high444");
        media["avi"] = kit->video("old.avi", 2, 640, 480, "-c:v mpeg4 -c:a libmp3lame");
        media["5.1"] = kit->video("surround.mp4", 2, 640, 480, "-ac 6");
        media["long"] = kit->video("long.mp4", 20, 1280, 720);
        for (auto it = media.cbegin(); it != media.cend(); ++it)
            QVERIFY2(!it.value().isEmpty(), qPrintable(it.key() + ": " + kit->lastError()));
        media["gone"] = dir.filePath("gone.mp4");
    }

    void parseStreams_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<double>("probed"); // what the duration fallback answers
        QTest::addColumn<QString>("facts"); // size, r/avg frame rate, frames, channels, seconds, codecs

        const QString head = "[STREAM]\ncodec_name=h264\ncodec_type=video\nwidth=640\nheight=480\n";
        const QString audio =
            "[STREAM]\ncodec_name=aac\ncodec_type=audio\nr_frame_rate=0/0\nchannels=2\nduration=9.9\n[/STREAM]\n";
        QTest::addRow("N/A frames from r_frame_rate 25/1 and 10.5 s")
            << head + "r_frame_rate=25/1\navg_frame_rate=25/1\nduration=10.5\nnb_frames=N/A\n[/STREAM]\n" + audio << 0.0
            << "640x480 25/25 262 2 10.5 h264/aac";
        QTest::addRow("N/A frames from avg_frame_rate 24/1 when r_frame_rate is 0/0")
            << head + "r_frame_rate=0/0\navg_frame_rate=24/1\nduration=10.5\nnb_frames=N/A\n[/STREAM]\n" + audio << 0.0
            << "640x480 0/24 252 2 10.5 h264/aac";
        QTest::addRow("30000/1001 gives 29; 1/1 leaves 0; no audio stream")
            << head + "R_FRAME_RATE=1/1\navg_frame_rate=30000/1001\nduration=4.0\nnb_frames=120\n[/STREAM]\n"
            << 0.0 << "640x480 0/29 120 0 4 h264/";
        QTest::addRow("duration N/A asks ffmpeg's report")
            << head + "r_frame_rate=25/1\nduration=N/A\nnb_frames=N/A\n[/STREAM]\n" + audio << 83.45
            << "640x480 25/0 2086 2 83.45 h264/aac";
        QTest::addRow("a cover picture is not the video")
            << head + "r_frame_rate=25/1\nduration=3.0\nnb_frames=75\n[/STREAM]\n" + audio +
                   "[STREAM]\ncodec_name=mjpeg\ncodec_type=video\nwidth=600\nheight=600\nr_frame_rate=90000/1\n"
                   "duration=3.0\nnb_frames=1\nDISPOSITION:attached_pic=1\n[/STREAM]\n"
            << 0.0 << "640x480 25/0 75 2 3 h264/aac";
    }

    void parseStreams()
    {
        QFETCH(QString, output);
        QFETCH(double, probed);
        const VideoDetails f = VideoEncoding::parseStreams(output, [probed] { return probed; });
        QTEST(QString::asprintf("%lldx%lld %lld/%lld %lld %lld %g ", f.width, f.height, f.r_frame_rate,
                                f.avg_frame_rate, f.nb_frames, f.channels, f.duration) +
                  f.videoCodec + '/' + f.audioCodec,
              "facts");
    }

    void progressLines_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<double>("total");
        QTest::addColumn<QString>("percentAndFps"); // percent -2: not a progress line

        QTest::addRow("half way")
            << "frame=  125 fps= 50 q=29.0 size=     256kB time=00:00:05.12 bitrate= 409.6kbits/s speed=2x" << 10.0
            << "50 50";
        QTest::addRow("nothing before two whole seconds")
            << "frame=   25 fps=0.0 q=0.0 size=0kB time=00:00:01.96 bitrate=N/A" << 10.0 << "-1 0";
        QTest::addRow("unknown length gives 100")
            << "frame=  300 fps= 30 q=28.0 size=1kB time=00:00:10.00 bitrate=1k" << 0.0 << "100 30";
        QTest::addRow("never past 100")
            << "frame= 2000 fps=100 q=-1.0 Lsize=9kB time=01:00:05.00 bitrate=1k" << 3600.0 << "100 100";
        QTest::addRow("a start time of N/A")
            << "frame=    0 fps=0.0 q=0.0 size=0kB time=N/A bitrate=N/A" << 10.0 << "-2 0";
    }

    void progressLines()
    {
        QFETCH(QString, line);
        QFETCH(double, total);
        const VideoEncoding::ProgressLine parsed = VideoEncoding::parseProgressLine(line);
        const int percent = parsed.valid ? VideoEncoding::progressPercent(parsed.seconds, total) : -2;
        QTEST(QString("%1 %2").arg(percent).arg(parsed.fps), "percentAndFps");
    }

    void ffmpegCommand_data()
    {
        QTest::addColumn<QString>("video"); // width, height, frame rate
        QTest::addColumn<QString>("filterAndLevel");
        QTest::addRow("1080p at 25 is scaled into the screen") << "1920 1080 25" << "box 3.1";
        QTest::addRow("640x480 at 30 keeps its size") << "640 480 30" << "- 3.0";
        QTest::addRow("odd sides become even") << "641 481 25" << "scale=trunc(iw/2)*2:trunc(ih/2)*2 3.0";
        QTest::addRow("1024x600 at 60") << "1024 600 60" << "- 3.2";
        QTest::addRow("no facts: scaled, level of the screen") << "0 0 0" << "box 3.1";
    }

    void ffmpegCommand()
    {
        QFETCH(QString, video);
        const QStringList n = video.split(' ');
        VideoDetails facts;
        std::tie(facts.width, facts.height, facts.r_frame_rate) =
            std::tuple(n[0].toLongLong(), n[1].toLongLong(), n[2].toLongLong());
        const QStringList args = VideoEncoding::conversionArguments(facts, "/in/a.avi", "/out/a.mp4");
        const QString filter = args.count("-vf") ? args.at(args.indexOf("-vf") + 1) : "-";
        QTEST(QString(filter).replace("scale=1024:600:force_original_aspect_ratio=decrease:force_divisible_by=2", "box")
                  + ' ' + args.at(args.indexOf("-level") + 1),
              "filterAndLevel");
        QCOMPARE(args.last(), QString("/out/a.mp4"));
    }

    void treatment_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("outcome");

        QTest::addRow("1920x1080 H.264/AAC MP4 is converted") << "1920x1080" << "converted 31";
        QTest::addRow("640x480 H.264/AAC MP4 is copied") << "640x480" << "copied";
        QTest::addRow("1024x600 is copied: the limits are inclusive") << "1024x600" << "copied";
        QTest::addRow("1025x600 is converted") << "1025x600" << "converted 31";
        QTest::addRow("MPEG-4 AVI is converted") << "avi" << "converted 30";
        QTest::addRow("5.1 audio is refused") << "5.1" << "refused";
        QTest::addRow("a missing source is skipped, the list goes on") << "gone" << "skipped";
    }

    // One work list of every video, run once; its titles must lose ':' and '.'.
    void treatment()
    {
        QFETCH(QString, source);
        QFETCH(QString, outcome);
        const QString level = outcome.section(' ', 1);
        outcome = outcome.section(' ', 0, 0);
        static Run run;
        static QStringList order;
        if (order.isEmpty()) {
            clean();
            TrackMap list;
            for (const char *key : {"gone", "1920x1080", "640x480", "1024x600", "1025x600", "avi", "5.1"}) {
                list.insert(int(order.size()), videoTrack(int(order.size()), media[key], QString("Clip: ") + key));
                order << key;
            }
            // A short output (an older program's) is made again.
            QVERIFY(kit->ffmpeg({"-i", media["avi"], "-t", "1", output("Clip avi")}));
            run = runList(list);
        }
        const int id = int(order.indexOf(source));
        const QString path = media.value(source), expected = output("Clip " + QString(source).remove('.'));
        QCOMPARE(run.allDone, 1);
        QCOMPARE(conversions(ffmpegLog, path), outcome == "converted" ? 1 : 0);
        const QList<qint64> progress = run.progress.value(expected);
        QVERIFY(std::is_sorted(progress.cbegin(), progress.cend())); // progress only rises
        QCOMPARE(run.refused.contains(id), outcome == "refused");
        QCOMPARE(run.skipped.contains(id), outcome == "skipped");
        if (outcome == "refused" || outcome == "skipped") {
            QVERIFY(!run.complete.contains(id) && !QFileInfo::exists(expected));
            QCOMPARE(progress, QList<qint64>{-1});
            return;
        }
        QCOMPARE(run.complete.value(id).filepath, expected);
        QCOMPARE(run.complete.value(id).filesize, QFileInfo(expected).size());
        QCOMPARE(progress.last(), 100);
        // No partial file is left.
        QCOMPARE(QDir(VideoEncoding::outputFolder()).entryList({".*"}, QDir::Files | QDir::Hidden), QStringList());
        if (outcome == "copied") {
            QCOMPARE(fileBytes(expected), fileBytes(path));
            return;
        }
        const QJsonObject made = probe(expected);
        const QJsonObject v = made["video"].toObject(), a = made["audio"].toObject();
        QCOMPARE(QStringList({v["codec_name"].toString(), v["profile"].toString(), QString::number(v["level"].toInt()),
                              a["codec_name"].toString(), a["sample_rate"].toString(),
                              QString::number(a["channels"].toInt())})
                     .join(' '),
                 "h264 Main " + level + " aac 44100 2");
        const int w = v["width"].toInt(), h = v["height"].toInt();
        QVERIFY(w > 0 && h > 0 && w <= 1024 && h <= 600 && w % 2 == 0 && h % 2 == 0);
        const auto length = [](const QJsonObject &o) { return o["format"]["duration"].toString().toDouble(); };
        QVERIFY(qAbs(length(made) - length(probe(path))) < 0.1);
    }

    void fullOutputOfAnEarlierRunIsTakenOver()
    {
        clean();
        QVERIFY(kit->ffmpeg({"-i", media["1920x1080"], "-c", "copy", output("Big")}));
        const QDateTime made = QFileInfo(output("Big")).lastModified();
        QCOMPARE(runList({{1, videoTrack(1, media["1920x1080"], "Big")}}).complete.size(), 1);
        QCOMPARE(conversions(ffmpegLog), 0);
        QCOMPARE(QFileInfo(output("Big")).lastModified(), made);
    }

    void cancelDuringConversion()
    {
        clean();
        QElapsedTimer clock;
        const TrackMap list{{1, videoTrack(1, media["long"], "Long")}, {2, videoTrack(2, media["640x480"], "Next")}};
        const Run run = runList(list, [&clock](VideoEncoding &encoder) {
            clock.start();
            encoder.onCanclePressed();
        });
        QVERIFY2(clock.isValid(), "the conversion must report progress before it ends");
        QVERIFY2(clock.elapsed() < 6000, "ffmpeg must quit on q, not at the kill");
        QCOMPARE(run.allDone, 1);
        QVERIFY(run.complete.isEmpty() && run.skipped.size() == 1);
        QCOMPARE(run.skipped.first().filesize, -1);
        QCOMPARE(run.progress.value(output("Long")).last(), -1);
        // Nothing of it is left, not even the hidden partial file; the next
        // video was not started.
        QCOMPARE(QDir(VideoEncoding::outputFolder()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

private:
    struct Run
    {
        QMap<QString, QList<qint64>> progress; // by output
        QMap<int, track> complete, skipped;
        QList<int> refused;
        int allDone = 0;
    };
    // Runs one work list to its end; `whileRunning` is called at the first
    // progress value of 0 or more.
    Run runList(const TrackMap &videos, const std::function<void(VideoEncoding &)> &whileRunning = {})
    {
        VideoEncoding encoder;
        Run run;
        bool started = false;
        connect(&encoder, &VideoEncoding::onProgressChange, this, [&](QString path, qint64, qint64 progress) {
            if (whileRunning && progress >= 0 && !std::exchange(started, true))
                whileRunning(encoder);
            run.progress[path] << progress;
        });
        connect(&encoder, &VideoEncoding::onFileComplete, this, [&](const track &t) { run.complete[t.id] = t; });
        connect(&encoder, &VideoEncoding::onSkipFile, this, [&](const track &t) { run.skipped[t.id] = t; });
        connect(&encoder, &VideoEncoding::onMultiChannelsFile, this, [&](const track &t) { run.refused << t.id; });
        QSignalSpy done(&encoder, &VideoEncoding::onAllFilesCompleate);
        encoder.setArg(videos, transferDetail());
        encoder.start();
        done.wait(120000);
        encoder.wait(10000);
        QCoreApplication::processEvents();
        run.allDone = int(done.size());
        return run;
    }

    void clean()
    {
        QFile::remove(ffmpegLog);
        QDir(VideoEncoding::outputFolder()).removeRecursively();
        QDir().mkpath(VideoEncoding::outputFolder());
    }

    QTemporaryDir dir;
    QString ffmpegLog;
    std::unique_ptr<testkit::MediaKit> kit;
    QMap<QString, QString> media;
};

CORVANE_TEST_MAIN(TestVideoEncoding)
#include "tst_videoencoding.moc"
