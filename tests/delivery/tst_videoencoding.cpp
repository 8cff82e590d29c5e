#include <QtTest>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "core/probeoutput.h"
#include "delivery/videoencoding.h"
#include "mediakit.h"
#include "platform/externalprogram.h"
#include "testenv.h"

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

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int conversions(const QString &log)
{
    return int(QString::fromUtf8(contents(log)).count("libx264"));
}

track videoTrack(int id, const QString &source, const QString &title)
{
    track t;
    t.id = id;
    t.isVideo = true;
    t.sourcePath = t.filepath = source;
    t.trackname = title;
    t.filename = QFileInfo(source).fileName();
    return t;
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
    }

    void init()
    {
        QFile::remove(ffmpegLog);
        QDir(VideoEncoding::outputFolder()).removeRecursively();
    }

    void parseStreams_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<double>("probed");         // what the duration fallback answers
        QTest::addColumn<QList<qint64>>("numbers"); // width height r avg frames channels
        QTest::addColumn<double>("duration");
        QTest::addColumn<QString>("codecs"); // video/audio

        const QString head = "[STREAM]\ncodec_name=h264\ncodec_type=video\nwidth=640\nheight=480\n";
        const QString audio =
            "[STREAM]\ncodec_name=aac\ncodec_type=audio\nr_frame_rate=0/0\nchannels=2\nduration=9.9\n[/STREAM]\n";
        QTest::addRow("N/A frames from r_frame_rate 25/1 and 10.5 s")
            << head + "r_frame_rate=25/1\navg_frame_rate=25/1\nduration=10.5\nnb_frames=N/A\n[/STREAM]\n" + audio << 0.0
            << QList<qint64>{640, 480, 25, 25, 262, 2} << 10.5 << "h264/aac";
        QTest::addRow("N/A frames from avg_frame_rate 24/1 when r_frame_rate is 0/0")
            << head + "r_frame_rate=0/0\navg_frame_rate=24/1\nduration=10.5\nnb_frames=N/A\n[/STREAM]\n" + audio << 0.0
            << QList<qint64>{640, 480, 0, 24, 252, 2} << 10.5 << "h264/aac";
        QTest::addRow("30000/1001 gives 29; 1/1 leaves 0; no audio stream")
            << head + "R_FRAME_RATE=1/1\navg_frame_rate=30000/1001\nduration=4.0\nnb_frames=120\n[/STREAM]\n"
            << 0.0 << QList<qint64>{640, 480, 0, 29, 120, 0} << 4.0 << "h264/";
        QTest::addRow("duration N/A asks ffmpeg's report")
            << head + "r_frame_rate=25/1\nduration=N/A\nnb_frames=N/A\n[/STREAM]\n" + audio << 83.45
            << QList<qint64>{640, 480, 25, 0, 2086, 2} << 83.45 << "h264/aac";
        QTest::addRow("a cover picture is not the video")
            << head + "r_frame_rate=25/1\nduration=3.0\nnb_frames=75\n[/STREAM]\n" + audio +
                   "[STREAM]\ncodec_name=mjpeg\ncodec_type=video\nwidth=600\nheight=600\nr_frame_rate=90000/1\n"
                   "duration=3.0\nnb_frames=1\nDISPOSITION:attached_pic=1\n[/STREAM]\n"
            << 0.0 << QList<qint64>{640, 480, 25, 0, 75, 2} << 3.0 << "h264/aac";
    }

    void parseStreams()
    {
        QFETCH(QString, output);
        QFETCH(double, probed);
        QFETCH(QList<qint64>, numbers);
        const VideoDetails facts = VideoEncoding::parseStreams(output, [probed] { return probed; });
        QCOMPARE((QList<qint64>{facts.width, facts.height, facts.r_frame_rate, facts.avg_frame_rate, facts.nb_frames,
                                facts.channels}),
                 numbers);
        QTEST(facts.duration, "duration");
        QTEST(facts.videoCodec + "/" + facts.audioCodec, "codecs");
    }

    void progressLines_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<double>("total");
        QTest::addColumn<int>("percent"); // -2: not a progress line
        QTest::addColumn<qint64>("fps");

        QTest::addRow("half way")
            << "frame=  125 fps= 50 q=29.0 size=     256kB time=00:00:05.12 bitrate= 409.6kbits/s speed=2x" << 10.0
            << 50 << qint64(50);
        QTest::addRow("nothing before two whole seconds")
            << "frame=   25 fps=0.0 q=0.0 size=0kB time=00:00:01.96 bitrate=N/A" << 10.0 << -1 << qint64(0);
        QTest::addRow("unknown length gives 100")
            << "frame=  300 fps= 30 q=28.0 size=1kB time=00:00:10.00 bitrate=1k" << 0.0 << 100 << qint64(30);
        QTest::addRow("never past 100") << "frame= 2000 fps=100 q=-1.0 Lsize=9kB time=01:00:05.00 bitrate=1k" << 3600.0
                                        << 100 << qint64(100);
        QTest::addRow("a start time of N/A") << "frame=    0 fps=0.0 q=0.0 size=0kB time=N/A bitrate=N/A" << 10.0 << -2
                                             << qint64(0);
    }

    void progressLines()
    {
        QFETCH(QString, line);
        QFETCH(double, total);
        const VideoEncoding::ProgressLine parsed = VideoEncoding::parseProgressLine(line);
        QTEST(parsed.valid ? VideoEncoding::progressPercent(parsed.seconds, total) : -2, "percent");
        QTEST(parsed.fps, "fps");
    }

    void ffmpegCommand_data()
    {
        QTest::addColumn<QList<qint64>>("sizeAndRate");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("level");

        const QString box = "scale=1024:600:force_original_aspect_ratio=decrease:force_divisible_by=2";
        QTest::addRow("1080p at 25 is scaled into the screen") << QList<qint64>{1920, 1080, 25} << box << "3.1";
        QTest::addRow("640x480 at 30 keeps its size") << QList<qint64>{640, 480, 30} << "" << "3.0";
        QTest::addRow("odd sides become even")
            << QList<qint64>{641, 481, 25} << "scale=trunc(iw/2)*2:trunc(ih/2)*2" << "3.0";
        QTest::addRow("1024x600 at 60") << QList<qint64>{1024, 600, 60} << "" << "3.2";
        QTest::addRow("no facts: scaled, level of the screen") << QList<qint64>{0, 0, 0} << box << "3.1";
    }

    void ffmpegCommand()
    {
        QFETCH(QList<qint64>, sizeAndRate);
        QFETCH(QString, filter);
        VideoDetails facts;
        std::tie(facts.width, facts.height, facts.r_frame_rate) =
            std::tuple(sizeAndRate[0], sizeAndRate[1], sizeAndRate[2]);
        const QStringList args = VideoEncoding::conversionArguments(facts, "/in/a.avi", "/out/a.mp4");
        QCOMPARE(args.count("-vf") ? args.at(args.indexOf("-vf") + 1) : QString(), filter);
        QTEST(args.at(args.indexOf("-level") + 1), "level");
        QCOMPARE(args.last(), QString("/out/a.mp4"));
        for (const char *option : {"-ac", "-ar", "-profile:v", "-pix_fmt", "-c:a"})
            QVERIFY2(args.indexOf(option) > args.indexOf("/in/a.avi"), option);
        QCOMPARE(args.at(args.indexOf("-c:a") + 1), QString("aac"));
    }

    void treatment_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("outcome");

        QTest::addRow("1920x1080 H.264/AAC MP4 is converted") << "1920x1080" << "converted";
        QTest::addRow("640x480 H.264/AAC MP4 is copied") << "640x480" << "copied";
        QTest::addRow("1024x600 is copied: the limits are inclusive") << "1024x600" << "copied";
        QTest::addRow("1025x600 is converted") << "1025x600" << "converted";
        QTest::addRow("MPEG-4 AVI is converted") << "avi" << "converted";
        QTest::addRow("5.1 audio is refused") << "5.1" << "refused";
    }

    void treatment()
    {
        QFETCH(QString, source);
        QFETCH(QString, outcome);
        const QString path = media.value(source);
        const QString expected = VideoEncoding::outputFolder() + "/My Clip.mp4";

        const Run run = runList({{1, videoTrack(1, path, "My: Clip")}});
        QCOMPARE(run.allDone, 1);
        QCOMPARE(conversions(ffmpegLog), outcome == "converted" ? 1 : 0);
        QCOMPARE(run.lastPath, expected);
        if (outcome == "refused") {
            QVERIFY(run.refused == 1 && run.skipped.isEmpty() && run.complete.isEmpty());
            QCOMPARE(run.progress.last(), -1);
            QCOMPARE(QDir(VideoEncoding::outputFolder()).entryList(QDir::Files | QDir::Hidden), QStringList());
            return;
        }
        QVERIFY(run.complete.size() == 1 && run.skipped.isEmpty());
        QCOMPARE(run.complete.first().filepath, expected);
        QCOMPARE(run.complete.first().filesize, QFileInfo(expected).size());
        // Progress only rises, and ends at 100.
        QVERIFY(std::is_sorted(run.progress.cbegin(), run.progress.cend()));
        QCOMPARE(run.progress.last(), 100);
        if (outcome == "copied") {
            QCOMPARE(contents(expected), contents(path));
            return;
        }
        const QJsonObject made = probe(expected);
        const QJsonObject v = made["video"].toObject(), a = made["audio"].toObject();
        QCOMPARE(v["codec_name"].toString() + " " + v["profile"].toString(), QString("h264 Main"));
        QCOMPARE(a["codec_name"].toString() + " " + a["sample_rate"].toString() + " " +
                     QString::number(a["channels"].toInt()),
                 QString("aac 44100 2"));
        const int w = v["width"].toInt(), h = v["height"].toInt();
        QVERIFY(w > 0 && h > 0 && w <= 1024 && h <= 600 && w % 2 == 0 && h % 2 == 0);
        const auto length = [](const QJsonObject &o) { return o["format"]["duration"].toString().toDouble(); };
        QVERIFY(qAbs(length(made) - length(probe(path))) < 0.1);
    }

    void secondRunTakesOverFullOutput()
    {
        const TrackMap list{{1, videoTrack(1, media["1920x1080"], "Big")}};
        QCOMPARE(runList(list).complete.size(), 1);
        QCOMPARE(conversions(ffmpegLog), 1);
        const QString output = VideoEncoding::outputFolder() + "/Big.mp4";
        const QDateTime made = QFileInfo(output).lastModified();

        QCOMPARE(runList(list).complete.size(), 1);
        QCOMPARE(conversions(ffmpegLog), 1);
        QCOMPARE(QFileInfo(output).lastModified(), made);

        // A short output (an older program's) is made again.
        QVERIFY(kit->ffmpeg({"-i", media["1920x1080"], "-t", "1", "-c", "copy", output}));
        QCOMPARE(runList(list).complete.size(), 1);
        QCOMPARE(conversions(ffmpegLog), 2);
    }

    void cancelDuringConversion()
    {
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
        QCOMPARE(run.progress.last(), -1);
        // Nothing of it is left, not even the hidden partial file; the next
        // video was not started.
        QCOMPARE(QDir(VideoEncoding::outputFolder()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    void missingSourceIsSkippedInStep()
    {
        const TrackMap list{{1, videoTrack(1, dir.filePath("gone.mp4"), "Gone")},
                            {2, videoTrack(2, media["640x480"], "Here")}};
        const Run run = runList(list);
        QVERIFY(run.skipped.size() == 1 && run.skipped.first().id == 1);
        QVERIFY(run.complete.size() == 1 && run.complete.first().id == 2);
        QCOMPARE(contents(VideoEncoding::outputFolder() + "/Here.mp4"), contents(media["640x480"]));
    }

private:
    struct Run
    {
        QList<qint64> progress;
        QString lastPath; // of the last progress value
        QList<track> complete, skipped;
        int refused = 0, allDone = 0;
    };
    // Runs one work list to its end; `whileRunning` is called at the first
    // progress value of 0 or more.
    Run runList(const TrackMap &videos, const std::function<void(VideoEncoding &)> &whileRunning = {});

    QTemporaryDir dir;
    QString ffmpegLog;
    std::unique_ptr<testkit::MediaKit> kit;
    QMap<QString, QString> media;
};

TestVideoEncoding::Run TestVideoEncoding::runList(const TrackMap &videos,
                                                  const std::function<void(VideoEncoding &)> &whileRunning)
{
    VideoEncoding encoder;
    Run run;
    connect(&encoder, &VideoEncoding::onProgressChange, this, [&](QString path, qint64, qint64 progress) {
        if (whileRunning && progress >= 0 &&
            std::none_of(run.progress.cbegin(), run.progress.cend(), [](qint64 p) { return p >= 0; }))
            whileRunning(encoder);
        run.progress << progress;
        run.lastPath = path;
    });
    connect(&encoder, &VideoEncoding::onFileComplete, this, [&](const track &t) { run.complete << t; });
    connect(&encoder, &VideoEncoding::onSkipFile, this, [&](const track &t) { run.skipped << t; });
    connect(&encoder, &VideoEncoding::onMultiChannelsFile, this, [&] { ++run.refused; });
    QSignalSpy done(&encoder, &VideoEncoding::onAllFilesCompleate);
    encoder.setArg(videos, transferDetail());
    encoder.start();
    done.wait(120000);
    encoder.wait(10000);
    QCoreApplication::processEvents();
    run.allDone = int(done.size());
    return run;
}

CORVANE_TEST_MAIN(TestVideoEncoding)
#include "tst_videoencoding.moc"
