#include <QtTest>

#include <QImage>

#include "core/shared.h"
#include "core/videometadata.h"
#include "mediakit.h"
#include "platform/externalprogram.h"
#include "testenv.h"

using testkit::MediaKit;

// Duration and thumbnail of videos: real clips with the real tools, and fake
// tools for the fallbacks.
class TestVideoMetadata : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void twentySecondClip();
    void sameNameInTwoFolders();
    void mkvThroughTheReport();
    void fallbacks_data();
    void fallbacks();
    void iTunesImportDoesNotProbe();
    void failedThumbnailLeavesNothing();

private:
    QString fakeTool(const QString &name, const QString &body)
    {
        return testkit::MediaKit::fakeTool(dir.path(), name, body);
    }
    QString videoFolder() const { return shared::dataLocation() + shared().videoArtworkPath; }
    QTemporaryDir dir;
};

void TestVideoMetadata::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY(shared::ensureDataFolder());
}

void TestVideoMetadata::cleanup()
{
    ExternalProgram::setToolPath(ExternalProgram::Ffmpeg, QString());
    ExternalProgram::setToolPath(ExternalProgram::Ffprobe, QString());
}

void TestVideoMetadata::twentySecondClip()
{
    MediaKit kit(dir.path());
    const QString clip = kit.video(QStringLiteral("twenty.mp4"), 20, 160, 120);
    QVERIFY2(!clip.isEmpty(), qPrintable(kit.lastError()));
    const track record = VideoMetadata().getVideoMetadata(clip, 1);
    QCOMPARE(record.duration, 20.0);
    QCOMPARE(record.cover, VideoMetadata::thumbnailPathFor(clip, videoFolder()));
    QVERIFY(QFileInfo(record.cover).fileName().startsWith(QLatin1String("twenty-")));
    QCOMPARE(QImage(record.cover, "PNG").size(), QSize(160, 120));
    // No temporary file stays behind.
    QCOMPARE(QDir(videoFolder()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

// The second of two videos of one name doesn't take the first one's picture.
void TestVideoMetadata::sameNameInTwoFolders()
{
    MediaKit kit(dir.path());
    const QString first = kit.video(QStringLiteral("a/same.mp4"), 1, 160, 120);
    const QString second = kit.video(QStringLiteral("b/same.mp4"), 1, 320, 240);
    QVERIFY2(!first.isEmpty() && !second.isEmpty(), qPrintable(kit.lastError()));
    const QString one = VideoMetadata().getVideoMetadata(first, 1).cover;
    const QString two = VideoMetadata().getVideoMetadata(second, 1).cover;
    QVERIFY(one != two);
    QCOMPARE(QImage(one, "PNG").size(), QSize(160, 120));
    QCOMPARE(QImage(two, "PNG").size(), QSize(320, 240));
}

// Matroska keeps no per-stream duration: ffprobe says nothing and ffmpeg's
// report gives the time.
void TestVideoMetadata::mkvThroughTheReport()
{
    MediaKit kit(dir.path());
    const QString path = kit.video(QStringLiteral("clip.mkv"), 3, 160, 120);
    QVERIFY2(!path.isEmpty(), qPrintable(kit.lastError()));
    const double duration = VideoMetadata().getVideoMetadata(path, 1).duration;
    QVERIFY2(qAbs(duration - 3.0) < 0.2, qPrintable(QString::number(duration)));
}

void TestVideoMetadata::fallbacks_data()
{
    QTest::addColumn<QString>("probeOutput");
    QTest::addColumn<QString>("report");
    QTest::addColumn<double>("expected");
    QTest::addRow("audio stream first") << "codec_type=audio\\nduration=3.0\\ncodec_type=video\\nduration=12.5"
                                        << "" << 12.5;
    QTest::addRow("video N/A falls back to the report")
        << "codec_type=video\\nduration=N/A" << "  Duration: 00:03:25.47, start: 0.000000" << 205.47;
    QTest::addRow("nothing anywhere") << "" << "garbage" << 0.0;
    QTest::addRow("no tools at all") << "-" << "-" << 0.0;
}

void TestVideoMetadata::fallbacks()
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
        ExternalProgram::setToolPath(ExternalProgram::Ffmpeg,
                                     fakeTool(QStringLiteral("ffmpeg"),
                                              QStringLiteral("printf '%1\\n' >&2; exit 1").arg(report)));
    }
    QFETCH(double, expected);
    QVERIFY(qAbs(VideoMetadata().getDuration(QStringLiteral("/nowhere/movie.avi")) - expected) < 1e-9);
}

void TestVideoMetadata::iTunesImportDoesNotProbe()
{
    const QString log = dir.filePath(QStringLiteral("probe-called"));
    ExternalProgram::setToolPath(ExternalProgram::Ffprobe,
                                 fakeTool(QStringLiteral("ffprobe-log"), QStringLiteral("touch '%1'").arg(log)));
    MediaKit kit(dir.path());
    const QString path = kit.video(QStringLiteral("import.avi"), 2, 160, 120, QStringLiteral("-c:v mpeg4"));
    QVERIFY(!path.isEmpty());
    QCOMPARE(VideoMetadata().getVideoMetadata(path, 0).duration, 0.0);
    QVERIFY(!QFileInfo::exists(log));
}

// ffmpeg writing half a picture and then failing: nothing may stay, or the
// half picture would be reused by every later scan.
void TestVideoMetadata::failedThumbnailLeavesNothing()
{
    ExternalProgram::setToolPath(
        ExternalProgram::Ffmpeg,
        fakeTool(QStringLiteral("ffmpeg-half"),
                 QStringLiteral("for a in \"$@\"; do last=\"$a\"; done; printf half > \"$last\"; exit 1")));
    const QString folder = dir.filePath(QStringLiteral("half"));
    const QString thumbnail = folder + QStringLiteral("/broken.png");
    QCOMPARE(VideoMetadata().getCoverArt(QStringLiteral("/v/broken.avi"), thumbnail, folder), thumbnail);
    QVERIFY(!QFileInfo::exists(thumbnail));
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 0);
}

CORVANE_TEST_MAIN(TestVideoMetadata)
#include "tst_videometadata.moc"
