#include <QtTest>

#include <QImage>

#include "core/shared.h"
#include "core/videometadata.h"
#include "mediakit.h"
#include "platform/externalprogram.h"
#include "testenv.h"

using testkit::MediaKit;

// Duration and thumbnail of videos: real clips with the real tools, and fake
// tools (printing canned output) for the fallbacks.
class TestVideoMetadata : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(dir.isValid() && shared::ensureDataFolder()); }
    void cleanup()
    {
        ExternalProgram::setToolPath(ExternalProgram::Ffmpeg, QString());
        ExternalProgram::setToolPath(ExternalProgram::Ffprobe, QString());
    }

    // Two videos of one name don't share a picture; Matroska keeps no
    // per-stream duration, so ffmpeg's report gives its time.
    void realClips()
    {
        MediaKit kit(dir.path());
        const QString first = kit.video(QStringLiteral("a/same.mp4"), 20, 160, 120);
        const QString second = kit.video(QStringLiteral("b/same.mp4"), 1, 320, 240);
        const QString mkv = kit.video(QStringLiteral("clip.mkv"), 3, 160, 120);
        QVERIFY2(!first.isEmpty() && !second.isEmpty() && !mkv.isEmpty(), qPrintable(kit.lastError()));
        const QString folder = shared::dataLocation() + shared().videoArtworkPath;
        const track one = VideoMetadata().getVideoMetadata(first, 1);
        const QString two = VideoMetadata().getVideoMetadata(second, 1).cover;
        QCOMPARE(one.duration, 20.0);
        QCOMPARE(one.cover, VideoMetadata::thumbnailPathFor(first, folder));
        QVERIFY(QFileInfo(one.cover).fileName().startsWith(QLatin1String("same-")) && one.cover != two);
        QCOMPARE(QImage(one.cover, "PNG").size(), QSize(160, 120));
        QCOMPARE(QImage(two, "PNG").size(), QSize(320, 240));
        // No temporary file stays behind.
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 2);
        const double duration = VideoMetadata().getVideoMetadata(mkv, 1).duration;
        QVERIFY2(qAbs(duration - 3.0) < 0.2, qPrintable(QString::number(duration)));
    }

    void fallbacks_data()
    {
        QTest::addColumn<QString>("probeOutput"); // "-": no tools at all
        QTest::addColumn<QString>("report");
        QTest::addColumn<double>("expected");
        QTest::addRow("audio stream first") << "[STREAM]\\ncodec_type=audio\\nduration=3.0\\n[/STREAM]\\n[STREAM]\\n"
                                               "codec_type=video\\nduration=12.5\\n[/STREAM]"
                                            << "" << 12.5;
        QTest::addRow("windows line ends") << "codec_type=video\\r\\nduration=5.5\\r" << "" << 5.5;
        QTest::addRow("video N/A falls back to the report")
            << "codec_type=video\\nduration=N/A\\ncodec_type=audio\\nduration=3.1"
            << "Input #0, mov,mp4,m4a, from 'clip.mp4':\\n  Duration: 00:03:25.47, start: 0.000000, bitrate: 805 kb/s"
            << 205.47;
        QTest::addRow("audio only, report N/A") << "codec_type=audio\\nduration=3.1"
                                                << "  Duration: N/A, start: 0.000000, bitrate: N/A" << 0.0;
        QTest::addRow("report cut short") << "" << "Duration: 00:0" << 0.0;
        QTest::addRow("nothing anywhere") << "" << "garbage" << 0.0;
        QTest::addRow("no tools at all") << "-" << "-" << 0.0;
    }

    void fallbacks()
    {
        QFETCH(QString, probeOutput);
        QFETCH(QString, report);
        if (probeOutput == QLatin1String("-")) {
            ExternalProgram::setToolPath(ExternalProgram::Ffprobe, dir.filePath(QStringLiteral("no-such-ffprobe")));
            ExternalProgram::setToolPath(ExternalProgram::Ffmpeg, dir.filePath(QStringLiteral("no-such-ffmpeg")));
        } else {
            ExternalProgram::setToolPath(ExternalProgram::Ffprobe,
                                         fakeTool(QStringLiteral("ffprobe"), QStringLiteral("printf '%1\\n'").arg(probeOutput)));
            // The real ffmpeg exits 1 when given only an input: so does the fake.
            ExternalProgram::setToolPath(
                ExternalProgram::Ffmpeg,
                fakeTool(QStringLiteral("ffmpeg"), QStringLiteral("printf '%1\\n' >&2; exit 1").arg(report)));
        }
        QFETCH(double, expected);
        QVERIFY(qAbs(VideoMetadata().getDuration(QStringLiteral("/nowhere/movie.avi")) - expected) < 1e-9);
    }

    void iTunesImportDoesNotProbe()
    {
        const QString log = dir.filePath(QStringLiteral("probe-called"));
        ExternalProgram::setToolPath(ExternalProgram::Ffprobe,
                                     fakeTool(QStringLiteral("ffprobe-log"), QStringLiteral("touch '%1'").arg(log)));
        const QString path = MediaKit(dir.path()).video(QStringLiteral("import.avi"), 2, 160, 120, QStringLiteral("-c:v mpeg4"));
        QVERIFY(!path.isEmpty());
        QCOMPARE(VideoMetadata().getVideoMetadata(path, 0).duration, 0.0);
        QVERIFY(!QFileInfo::exists(log));
    }

    // ffmpeg writing half a picture and then failing: nothing may stay, or the
    // half picture would be reused by every later scan.
    void failedThumbnailLeavesNothing()
    {
        ExternalProgram::setToolPath(
            ExternalProgram::Ffmpeg,
            fakeTool(QStringLiteral("ffmpeg-half"),
                     QStringLiteral("for a in \"$@\"; do last=\"$a\"; done; printf half > \"$last\"; exit 1")));
        const QString folder = dir.filePath(QStringLiteral("half"));
        const QString thumbnail = folder + QStringLiteral("/broken.png");
        QCOMPARE(VideoMetadata().getCoverArt(QStringLiteral("/v/broken.avi"), thumbnail, folder), thumbnail);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 0);
    }

private:
    QString fakeTool(const QString &name, const QString &body) { return MediaKit::fakeTool(dir.path(), name, body); }
    QTemporaryDir dir;
};

CORVANE_TEST_MAIN(TestVideoMetadata)
#include "tst_videometadata.moc"
