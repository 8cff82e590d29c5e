#include <QtTest>

#include <QImage>

#include "core/shared.h"
#include "core/videometadata.h"
#include "mediakit.h"
#include "platform/externalprogram.h"
#include "testenv.h"

using testkit::MediaKit;

// Duration and thumbnail of videos: real clips with the real tools, and fake
// tools for the fallbacks and the argument lists.
class TestVideoMetadata : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void thumbnailNames_data();
    void thumbnailNames();
    void twentySecondClip();
    void durationByProbeOrReport_data();
    void durationByProbeOrReport();
    void iTunesImportDoesNotProbe();
    void encryptedMp4HasNoDuration();
    void existingThumbnailReused();
    void fakeProbeOutputs_data();
    void fakeProbeOutputs();
    void missingToolsGiveZero();
    void seekOnlyPastFifteenSeconds_data();
    void seekOnlyPastFifteenSeconds();
    void failedThumbnailLeavesNothing();

private:
    QString fakeTool(const QString &name, const QString &body);
    QString videoFolder() const { return shared::dataLocation() + shared().videoArtworkPath; }
    QTemporaryDir dir;
    QString clip20;
};

QString TestVideoMetadata::fakeTool(const QString &name, const QString &body)
{
    const QString path = dir.filePath(QStringLiteral("tools/") + name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.write("#!/bin/sh\n" + body.toUtf8() + "\n");
    file.close();
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    return path;
}

void TestVideoMetadata::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY(shared::ensureDataFolder());
    MediaKit kit(dir.path());
    clip20 = kit.video(QStringLiteral("twenty.mp4"), 20, 160, 120);
    QVERIFY2(!clip20.isEmpty(), qPrintable(kit.lastError()));
}

void TestVideoMetadata::cleanup()
{
    ExternalProgram::setToolPath(ExternalProgram::Ffmpeg, QString());
    ExternalProgram::setToolPath(ExternalProgram::Ffprobe, QString());
}

void TestVideoMetadata::thumbnailNames_data()
{
    QTest::addColumn<QString>("video");
    QTest::addColumn<QString>("thumbnail");
    QTest::addRow("plain") << "/v/clip.mp4" << "/art/clip.png";
    QTest::addRow("upper-case suffix in its own case") << "/v/clip.MP4" << "/art/clip.png";
    QTest::addRow("every occurrence removed") << "/v/a.mp4.copy.mp4" << "/art/a.copy.png";
    QTest::addRow("other case kept") << "/v/a.MP4.copy.mp4" << "/art/a.MP4.copy.png";
    QTest::addRow("no suffix") << "/v/clip" << "/art/clip.png";
    QTest::addRow("unicode") << "/v/Фильм.mkv" << "/art/Фильм.png";
}

void TestVideoMetadata::thumbnailNames()
{
    QFETCH(QString, video);
    QTEST(VideoMetadata::thumbnailPathFor(video, QStringLiteral("/art")), "thumbnail");
}

void TestVideoMetadata::twentySecondClip()
{
    VideoMetadata meta;
    const track record = meta.getVideoMetadata(clip20, 1);
    QCOMPARE(record.duration, 20.0);
    QCOMPARE(record.cover, videoFolder() + QStringLiteral("/twenty.png"));
    QVERIFY(record.filepath.isEmpty());
    QCOMPARE(record.id, 0);
    const QImage picture(record.cover, "PNG");
    QVERIFY(!picture.isNull());
    QCOMPARE(picture.size(), QSize(160, 120));
    // No temporary file stays behind.
    QCOMPARE(QDir(videoFolder()).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral(".thumbnail-")).size(),
             0);
}

void TestVideoMetadata::durationByProbeOrReport_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("extraArgs");
    // Matroska keeps no per-stream duration, so ffprobe says nothing and
    // ffmpeg's report gives the time.
    QTest::addRow("mkv through the report") << "clip.mkv" << "";
    QTest::addRow("avi") << "clip.avi" << "-c:v mpeg4";
    QTest::addRow("mov") << "clip.mov" << "";
}

void TestVideoMetadata::durationByProbeOrReport()
{
    QFETCH(QString, name);
    QFETCH(QString, extraArgs);
    MediaKit kit(dir.filePath(QStringLiteral("probe")));
    const QString path = kit.video(name, 3, 160, 120, extraArgs);
    QVERIFY2(!path.isEmpty(), qPrintable(kit.lastError()));
    VideoMetadata meta;
    const track record = meta.getVideoMetadata(path, 1);
    QVERIFY2(qAbs(record.duration - 3.0) < 0.2, qPrintable(QString::number(record.duration)));
}

void TestVideoMetadata::iTunesImportDoesNotProbe()
{
    const QString log = dir.filePath(QStringLiteral("probe-called"));
    ExternalProgram::setToolPath(ExternalProgram::Ffprobe,
                                 fakeTool(QStringLiteral("ffprobe-log"), QStringLiteral("touch '%1'").arg(log)));
    MediaKit kit(dir.filePath(QStringLiteral("itunes")));
    const QString path = kit.video(QStringLiteral("import.avi"), 2, 160, 120, QStringLiteral("-c:v mpeg4"));
    QVERIFY(!path.isEmpty());
    VideoMetadata meta;
    QCOMPARE(meta.getVideoMetadata(path, 0).duration, 0.0);
    QVERIFY(!QFileInfo::exists(log));
}

void TestVideoMetadata::encryptedMp4HasNoDuration()
{
    const QString copy = dir.filePath(QStringLiteral("locked.mp4"));
    QVERIFY(QFile::copy(clip20, copy));
    QFile file(copy);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    const int stsd = bytes.indexOf("stsd");
    const int mp4a = bytes.indexOf("mp4a", stsd);
    QVERIFY(stsd > 0 && mp4a > stsd);
    bytes.replace(mp4a, 4, "drms");
    file.seek(0);
    file.write(bytes);
    file.close();
    VideoMetadata meta;
    QCOMPARE(meta.getVideoMetadata(copy, 1).duration, 0.0);
}

void TestVideoMetadata::existingThumbnailReused()
{
    QVERIFY(QDir().mkpath(videoFolder()));
    const QString thumbnail = videoFolder() + QStringLiteral("/kept.png");
    QFile file(thumbnail);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("not a picture, but ours");
    file.close();
    const QString video = dir.filePath(QStringLiteral("kept.mp4"));
    QVERIFY(QFile::copy(clip20, video));
    VideoMetadata meta;
    QCOMPARE(meta.getVideoMetadata(video, 1).cover, thumbnail);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("not a picture, but ours"));
}

void TestVideoMetadata::fakeProbeOutputs_data()
{
    QTest::addColumn<QString>("probeOutput");
    QTest::addColumn<QString>("report");
    QTest::addColumn<double>("expected");
    QTest::addRow("audio stream first") << "codec_type=audio\\nduration=3.0\\ncodec_type=video\\nduration=12.5"
                                        << "" << 12.5;
    QTest::addRow("video N/A falls back to the report")
        << "codec_type=video\\nduration=N/A" << "  Duration: 00:03:25.47, start: 0.000000" << 205.47;
    QTest::addRow("nothing anywhere") << "" << "garbage" << 0.0;
    QTest::addRow("report without a time") << "" << "  Duration: N/A, start: 0.000000" << 0.0;
}

void TestVideoMetadata::fakeProbeOutputs()
{
    QFETCH(QString, probeOutput);
    QFETCH(QString, report);
    ExternalProgram::setToolPath(ExternalProgram::Ffprobe,
                                 fakeTool(QStringLiteral("ffprobe"), QStringLiteral("printf '%1\\n'").arg(probeOutput)));
    // The real ffmpeg exits 1 when given only an input: so does the fake.
    ExternalProgram::setToolPath(ExternalProgram::Ffmpeg,
                                 fakeTool(QStringLiteral("ffmpeg"),
                                          QStringLiteral("printf '%1\\n' >&2; exit 1").arg(report)));
    VideoMetadata meta;
    QFETCH(double, expected);
    QVERIFY(qAbs(meta.getDuration(QStringLiteral("/nowhere/movie.avi")) - expected) < 1e-9);
    QVERIFY(qAbs(meta.duration - expected) < 1e-9);
}

void TestVideoMetadata::missingToolsGiveZero()
{
    ExternalProgram::setToolPath(ExternalProgram::Ffprobe, dir.filePath(QStringLiteral("no-such-ffprobe")));
    ExternalProgram::setToolPath(ExternalProgram::Ffmpeg, dir.filePath(QStringLiteral("no-such-ffmpeg")));
    VideoMetadata meta;
    const track record = meta.getVideoMetadata(dir.filePath(QStringLiteral("missing-tools.avi")), 1);
    QCOMPARE(record.duration, 0.0);
    QCOMPARE(record.cover, videoFolder() + QStringLiteral("/missing-tools.png"));
    QVERIFY(!QFileInfo::exists(record.cover));
}

void TestVideoMetadata::seekOnlyPastFifteenSeconds_data()
{
    QTest::addColumn<double>("duration");
    QTest::addColumn<bool>("seeks");
    QTest::addRow("unknown length") << 0.0 << false;
    QTest::addRow("exactly 15 s") << 15.0 << false;
    QTest::addRow("15.5 s") << 15.5 << true;
}

void TestVideoMetadata::seekOnlyPastFifteenSeconds()
{
    QFETCH(double, duration);
    QFETCH(bool, seeks);
    const QString log = dir.filePath(QStringLiteral("ffmpeg-args"));
    // Records its arguments, one per line, and writes the requested picture.
    ExternalProgram::setToolPath(
        ExternalProgram::Ffmpeg,
        fakeTool(QStringLiteral("ffmpeg-args"),
                 QStringLiteral("for a in \"$@\"; do echo \"$a\"; done > '%1'; for a in \"$@\"; do last=\"$a\"; done; "
                                "printf png > \"$last\"")
                     .arg(log)));
    VideoMetadata meta;
    meta.duration = duration;
    const QString folder = dir.filePath(QStringLiteral("thumbs"));
    const QString thumbnail = folder + QStringLiteral("/seek-%1.png").arg(QTest::currentDataTag()).replace(' ', '_');
    QCOMPARE(meta.getCoverArt(QStringLiteral("/v/in.mkv"), thumbnail, folder), thumbnail);
    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QStringList args = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    QVERIFY(args.size() > 2);
    QVERIFY(args.takeLast().startsWith(folder + QStringLiteral("/.thumbnail-")));
    QStringList expected{"-i", "/v/in.mkv", "-r", "1"};
    if (seeks)
        expected << "-ss" << "00:00:15";
    expected << "-t" << "00:00:01" << "-f" << "image2" << "-update" << "1";
    QCOMPARE(args, expected);
    QVERIFY(QFileInfo::exists(thumbnail));
}

void TestVideoMetadata::failedThumbnailLeavesNothing()
{
    // ffmpeg writing half a picture and then failing: nothing may stay, or
    // the half picture would be reused by every later scan.
    ExternalProgram::setToolPath(
        ExternalProgram::Ffmpeg,
        fakeTool(QStringLiteral("ffmpeg-half"),
                 QStringLiteral("for a in \"$@\"; do last=\"$a\"; done; printf half > \"$last\"; exit 1")));
    VideoMetadata meta;
    const QString folder = dir.filePath(QStringLiteral("half"));
    const QString thumbnail = folder + QStringLiteral("/broken.png");
    QCOMPARE(meta.getCoverArt(QStringLiteral("/v/broken.avi"), thumbnail, folder), thumbnail);
    QVERIFY(!QFileInfo::exists(thumbnail));
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 0);
}

CORVANE_TEST_MAIN(TestVideoMetadata)
#include "tst_videometadata.moc"
