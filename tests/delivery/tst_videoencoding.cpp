#include <QtTest>

#include "delivery/madefiles.h"
#include "delivery/videoencoding.h"
#include "libraryfixture.h"
#include "mediakit.h"
#include "platform/externalprogram.h"
#include "scanfixture.h"
#include "testenv.h"

using testkit::fileBytes;

// The video conversion thread: its reader of canned ffprobe output, and
// whole runs with the real ffmpeg on short generated videos, checked with
// ffprobe.
namespace {

// ffprobe's summary of a file: per stream its codec, profile, size and level,
// or rate and channels; then the length in seconds.
QStringList probe(const QString &path)
{
    QProcess p;
    p.start("ffprobe", {"-v", "error", "-show_entries",
                        "stream=codec_name,profile,width,height,level,sample_rate,channels:format=duration", "-of",
                        "csv=p=0", path});
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

// One section of ffprobe's -show_streams output from "key=value" words.
QString stream(const QString &keys)
{
    return "[STREAM]\n" + QString(keys).replace(' ', '\n') + "\n[/STREAM]\n";
}

// The ffmpeg runs that encoded `source` with libx264.
qsizetype conversions(const QString &log, const QString &source)
{
    return QString::fromUtf8(fileBytes(log)).split('\n').filter("libx264").filter(source).size();
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
        QVERIFY(testkit::openLibrary()); // where made files are recorded
        kit = std::make_unique<testkit::MediaKit>(dir.path());
        // ffmpeg through a wrapper that notes every run.
        ffmpegLog = dir.filePath("ffmpeg.log");
        wrapper = testkit::MediaKit::fakeTool(dir.path(), "ffmpeg-wrapper",
                                              QStringLiteral("echo \"$*\" >> '%1'\nexec ffmpeg \"$@\"").arg(ffmpegLog));
        ExternalProgram::setToolPath(ExternalProgram::Ffmpeg, wrapper);
        media["1920x1080"] = kit->video("big.mp4", 3, 1920, 1080, "-r 60");
        media["640x480"] = kit->video("small.mp4", 2, 640, 480);
        media["1024x600"] = kit->video("screen.mp4", 2, 1024, 600);
        media["1025x600"] =
            kit->video("wide.mp4", 2, 1025, 600, "-vf scale=1025:600 -pix_fmt yuv444p -profile:v high444");
        media["avi"] = kit->video("old.avi", 2, 640, 480, "-vf scale=641:481 -c:v mpeg4 -c:a libmp3lame");
        media["5.1"] = kit->video("surround.mp4", 2, 640, 480, "-ac 6");
        for (auto it = media.cbegin(); it != media.cend(); ++it)
            QVERIFY2(!it.value().isEmpty(), qPrintable(it.key() + ": " + kit->lastError()));
        media["gone"] = dir.filePath("gone.mp4");
    }

    void parseStreams_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<double>("probed"); // what the duration fallback answers
        QTest::addColumn<QString>("facts"); // size, r/avg frame rate, frames, channels, seconds, codecs

        const QString video = "codec_name=h264 codec_type=video width=640 height=480 ";
        const QString audio = stream("codec_name=aac codec_type=audio r_frame_rate=0/0 channels=2 duration=9.9");
        QTest::addRow("a cover picture is not the video")
            << stream(video + "r_frame_rate=25/1 duration=3.0 nb_frames=75") + audio +
                   stream("codec_name=mjpeg codec_type=video width=600 height=600 r_frame_rate=90000/1 "
                          "duration=3.0 nb_frames=1 DISPOSITION:attached_pic=1")
            << 0.0 << "640x480 25/0 75 2 3 h264/aac";
        QTest::addRow("duration N/A asks ffmpeg's report; N/A frames from the rate")
            << stream(video + "r_frame_rate=25/1 duration=N/A nb_frames=N/A") + audio << 83.45
            << "640x480 25/0 2086 2 83.45 h264/aac";
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

    void treatment_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("outcome");

        QTest::addRow("1920x1080 H.264/AAC MP4 at 60 is converted") << "1920x1080" << "converted 1024,576,32";
        QTest::addRow("640x480 H.264/AAC MP4 is copied") << "640x480" << "copied";
        QTest::addRow("1024x600 is copied: the limits are inclusive") << "1024x600" << "copied";
        QTest::addRow("1025x600 is converted") << "1025x600" << "converted 1024,598,31";
        QTest::addRow("odd-sided MPEG-4 AVI is converted to even sides") << "avi" << "converted 640,480,30";
        QTest::addRow("5.1 audio is refused") << "5.1" << "refused";
        QTest::addRow("a missing source is skipped, the list goes on") << "gone" << "skipped";
    }

    // One work list of every video, run once; its titles must lose ':' and '.'.
    void treatment()
    {
        QFETCH(QString, source);
        QFETCH(QString, outcome);
        const QString picture = outcome.section(' ', 1); // width, height, H.264 level
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
            // Another clip of one title (camera names repeat across cards).
            list.insert(int(order.size()), videoTrack(int(order.size()), media["1024x600"], "Clip: 640x480"));
            // A file no run of these sources made (an older program's) stays.
            QVERIFY(kit->ffmpeg({"-i", media["avi"], "-t", "1", "-c", "copy", output("Clip avi")}));
            run = runList(list);
            QCOMPARE(run.complete.value(int(order.size())).filepath, output("Clip 640x480 (2)"));
            QCOMPARE(fileBytes(output("Clip 640x480 (2)")), fileBytes(media["1024x600"]));
            QVERIFY(qAbs(probe(output("Clip avi")).last().toDouble() - 1) < 0.1);
        }
        const int id = int(order.indexOf(source));
        const QString path = media.value(source),
                      expected = output("Clip " + QString(source).remove('.') + (source == "avi" ? " (2)" : ""));
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
        const QStringList made = probe(expected);
        QCOMPARE(made.mid(0, 2).join(' '), "h264,Main," + picture + " aac,LC,44100,2");
        QVERIFY(qAbs(made.last().toDouble() - probe(path).last().toDouble()) < 0.1);
    }

    void conversionNotTaken_data()
    {
        QTest::addColumn<QString>("ending"); // what the fake ffmpeg does after starting its output
        // "": not cancelled; "key": at the first progress value, while ffmpeg
        // waits for its key; "last line": as ffmpeg's last line is read, once
        // it has ended with success
        QTest::addColumn<QString>("cancelAt");

        const QString progress = "echo 'frame= 50 fps= 25 q=29.0 time=00:00:05.00'\n";
        // Only a conversion nobody stops waits out its timeout and leaves the mark.
        const QString waitForKey = progress + "timeout 100 head -c 1 >/dev/null || touch \"$0.ran-out\"; ";
        QTest::addRow("cancelled: ffmpeg quits cleanly on its key") << waitForKey + "exit 0" << "key";
        QTest::addRow("cancelled: ffmpeg fails on its key") << waitForKey + "exit 255" << "key";
        QTest::addRow("cancelled as ffmpeg ends with success")
            << "printf 'frame= 50 fps= 25 q=29.0 time=00:00:05.00'; exit 0" << "last line";
        QTest::addRow("ffmpeg fails after part of its output") << progress + "exit 1" << "";
        QTest::addRow("ffmpeg crashes after part of its output") << progress + "kill -SEGV $$" << "";
        QTest::addRow("ffmpeg succeeds with an empty output") << progress + ": > \"$last\"; exit 0" << "";
    }

    // A conversion that fails or is cancelled never becomes the video: no
    // file at the output's name, no partial file, no record of a made file.
    void conversionNotTaken()
    {
        QFETCH(QString, ending);
        QFETCH(QString, cancelAt);
        const bool cancel = !cancelAt.isEmpty();
        clean();
        const QString tool = testkit::MediaKit::fakeTool(dir.path(), "partial-ffmpeg",
                                                         "eval last=\\${$#}; echo partial > \"$last\"\n" + ending);
        const QString ranOut = tool + ".ran-out";
        QFile::remove(ranOut);
        ExternalProgram::setToolPath(ExternalProgram::Ffmpeg, tool);
        std::atomic<bool> reported{false}; // set in the run's thread by a direct call
        const TrackMap list{{1, videoTrack(1, media["avi"], "Cut")}, {2, videoTrack(2, media["640x480"], "Next")}};
        const Run run = runList(
            list,
            [&reported, cancel](VideoEncoding &encoder) {
                reported = true;
                if (cancel)
                    encoder.onCanclePressed();
            },
            cancelAt == "last line" ? Qt::DirectConnection : Qt::AutoConnection);
        ExternalProgram::setToolPath(ExternalProgram::Ffmpeg, wrapper);
        QVERIFY2(reported, "the conversion must report progress before it ends");
        QVERIFY2(!QFileInfo::exists(ranOut), "a cancel must stop ffmpeg, not wait for it to end");
        QCOMPARE(run.allDone, 1);
        QVERIFY(!run.complete.contains(1) && run.skipped.contains(1));
        QCOMPARE(run.skipped.value(1).filesize, -1);
        QCOMPARE(run.progress.value(output("Cut")).last(), -1);
        // A cancel ends the list; a failure goes on with the next video.
        QCOMPARE(run.complete.contains(2), !cancel);
        QVERIFY(!QFileInfo::exists(output("Cut")));
        QCOMPARE(QDir(VideoEncoding::outputFolder()).entryList(QDir::Files | QDir::Hidden),
                 cancel ? QStringList() : QStringList{"Next.mp4"});
        // Not recorded as made from the source: a file that turns up at the
        // name later is not taken for its output.
        QVERIFY(testkit::touch(output("Cut"), "someone else's"));
        const MadeFiles::Claim again = MadeFiles::claim(output("Cut"), MadeFiles::Source::of(media["avi"]));
        MadeFiles::release(again.path);
        QVERIFY(!again.reuse);
    }

    // A conversion keeps every core busy for minutes: it runs as background
    // work, so the window's thread gets a core the moment it wakes.  Probes
    // and pictures, which the run waits for, keep their priority.
    void conversionRunsAsBackgroundWork()
    {
        clean();
        const QString seen = dir.filePath("priority.log");
        QFile::remove(seen);
        const QString tool = testkit::MediaKit::fakeTool(
            dir.path(), "priority-ffmpeg",
            QStringLiteral("{ echo \"$* | nice $(nice) | $(chrt -p $$ | head -1)\"; } >> '%1'\nexec ffmpeg \"$@\"")
                .arg(seen));
        ExternalProgram::setToolPath(ExternalProgram::Ffmpeg, tool);
        const Run run = runList({{1, videoTrack(1, media["avi"], "Background")}});
        ExternalProgram::setToolPath(ExternalProgram::Ffmpeg, wrapper);
        QVERIFY(run.complete.contains(1));
        QFile log(seen);
        QVERIFY(log.open(QIODevice::ReadOnly));
        int conversions = 0;
        for (const QByteArray &line : log.readAll().split('\n')) {
            if (line.isEmpty())
                continue;
            const bool conversion = line.contains("libx264");
            conversions += conversion ? 1 : 0;
            QCOMPARE(line.contains("| nice 10 |") && line.contains("SCHED_BATCH"), conversion);
        }
        QCOMPARE(conversions, 1);
    }

    // A cancel that comes as a video is finished (its 100 % reported) wins:
    // the video is reported skipped, with its output for the controller to
    // remove, never complete.
    void cancelAsAVideoIsFinished()
    {
        clean();
        const TrackMap list{{1, videoTrack(1, media["640x480"], "Done")}};
        const Run run = runList(
            list, [](VideoEncoding &encoder) { encoder.onCanclePressed(); }, Qt::DirectConnection);
        QCOMPARE(run.allDone, 1);
        QVERIFY(run.complete.isEmpty());
        QCOMPARE(run.skipped.value(1).filepath, output("Done"));
        QCOMPARE(run.skipped.value(1).filesize, -1);
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
    // progress value of 0 or more, through a connection of type `calling`
    // (direct: in the run's thread, while it reports).
    Run runList(const TrackMap &videos, const std::function<void(VideoEncoding &)> &whileRunning = {},
                Qt::ConnectionType calling = Qt::AutoConnection)
    {
        VideoEncoding encoder;
        Run run;
        std::atomic<bool> started{false};
        if (whileRunning) {
            connect(
                &encoder, &VideoEncoding::onProgressChange, this,
                [&](QString, qint64, qint64 progress) {
                    if (progress >= 0 && !started.exchange(true))
                        whileRunning(encoder);
                },
                calling);
        }
        connect(&encoder, &VideoEncoding::onProgressChange, this,
                [&](QString path, qint64, qint64 progress) { run.progress[path] << progress; });
        connect(&encoder, &VideoEncoding::onFileComplete, this, [&](const track &t) { run.complete[t.id] = t; });
        connect(&encoder, &VideoEncoding::onSkipFile, this, [&](const track &t) { run.skipped[t.id] = t; });
        connect(&encoder, &VideoEncoding::onMultiChannelsFile, this, [&](const track &t) { run.refused << t.id; });
        QSignalSpy done(&encoder, &VideoEncoding::onAllFilesCompleate);
        encoder.setArg(videos, transferDetail());
        encoder.start();
        done.wait(120000);
        encoder.wait(60000);
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
    QString ffmpegLog, wrapper;
    std::unique_ptr<testkit::MediaKit> kit;
    QMap<QString, QString> media;
};

CORVANE_TEST_MAIN(TestVideoEncoding)
#include "tst_videoencoding.moc"
