#include <QtTest>

#include <taglib/fileref.h>
#include <taglib/tag.h>

#include "delivery/combo.h"
#include "delivery/ffmpeghandler.h"
#include "libraryfixture.h"
#include "mediakit.h"
#include "platform/externalprogram.h"
#include "testenv.h"

// The converter: codec lists, the decision, the encoder mapping, the
// fall-back chain (against a fake ffmpeg) and one library job with the real
// ffmpeg.
class TestFfmpegHandler : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void codecList_data();
    void codecList();
    void decision_data();
    void decision();
    void encoding_data();
    void encoding();
    void names_data();
    void names();
    void fallbackChain_data();
    void fallbackChain();
    void libraryJobWithRealFfmpeg();

private:
    QTemporaryDir dir;
};

void TestFfmpegHandler::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY(testkit::openLibrary());
}

void TestFfmpegHandler::cleanup()
{
    ExternalProgram::setToolPath(ExternalProgram::Ffmpeg, QString());
    ExternalProgram::setToolPath(ExternalProgram::Ffprobe, QString());
}

static QStringList pairs(const QList<Details> &codecs)
{
    QStringList out;
    for (const Details &d : codecs)
        out << d.name + QLatin1Char('/') + d.extension;
    return out;
}

void TestFfmpegHandler::codecList_data()
{
    QTest::addColumn<QString>("system");
    QTest::addColumn<QStringList>("expected");
    QTest::addRow("mp3 first, one entry per extension, table order")
        << "System B"
        << QStringList{"mp3/mp3", "mp3/mp3", "wmav1/wma", "wmav1/asf", "wmav2/wma", "wmav2/asf", "wmapro/wma",
                       "wmavoice/wma"};
    QTest::addRow("unknown system plays mp3 alone") << "No Such System" << QStringList{"mp3/mp3"};
}

void TestFfmpegHandler::codecList()
{
    QFETCH(QString, system);
    QFETCH(QStringList, expected);
    ffmpeghandler conv;
    QCOMPARE(pairs(conv.readSystemCodecs(system)), expected);
    // The profile the vehicle chooser read gives the same list.
    SystemDetails profile;
    profile.name = system;
    if (system == QLatin1String("System B")) {
        // The chooser's profile of a vehicle with that system.
        profile.audioCodecs = {{"mp3", "mp3", ""}, {"wmav1", "wma,asf", ""}, {"wmav2", "wma,asf", ""},
                               {"wmapro", "wma", ""}, {"wmavoice", "wma", ""}, {"", "", ""}};
    }
    QCOMPARE(pairs(ffmpeghandler::codecListFor(profile)), expected);
}

void TestFfmpegHandler::decision_data()
{
    QTest::addColumn<QString>("probed");
    QTest::addColumn<bool>("isVideo");
    QTest::addColumn<bool>("convert");
    QTest::addRow("listed codec plays") << "aac" << false << false;
    QTest::addRow("mp3 always plays") << "mp3" << false << false;
    QTest::addRow("unlisted codec converts") << "flac" << false << true;
    QTest::addRow("comparison is exact") << "AAC" << false << true;
    QTest::addRow("silent probe converts") << "" << false << true;
    QTest::addRow("video never converts") << "flac" << true << false;
}

void TestFfmpegHandler::decision()
{
    QFETCH(QString, probed);
    QFETCH(bool, isVideo);
    QFETCH(bool, convert);
    ffmpeghandler conv;
    QCOMPARE(ffmpeghandler::needsTranscode(probed, isVideo, conv.readSystemCodecs("System A")), convert);
}

void TestFfmpegHandler::encoding_data()
{
    QTest::addColumn<QString>("codec");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("encoder");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("stored");
    QTest::addRow("aac is the native encoder") << "aac" << "a.flac" << "aac" << "m4a" << "aac";
    QTest::addRow("libfaac maps to aac") << "libfaac" << "a.flac" << "aac" << "m4a" << "aac";
    QTest::addRow("libvo_aacenc maps to aac") << "libvo_aacenc" << "a.flac" << "aac" << "m4a" << "aac";
    QTest::addRow("mp3 is lame") << "MP3" << "a.flac" << "libmp3lame" << "m4a" << "mp3";
    QTest::addRow("other names pass unchanged") << "wmav2" << "a.flac" << "wmav2" << "m4a" << "wmav2";
    QTest::addRow("ogg source always mp3") << "wmav2" << "x/A.OGG" << "libmp3lame" << "mp3" << "mp3";
    QTest::addRow("mp4 source always mp3") << "aac" << "x/a.mp4" << "libmp3lame" << "mp3" << "mp3";
}

void TestFfmpegHandler::encoding()
{
    QFETCH(QString, codec);
    QFETCH(QString, source);
    const auto e = ffmpeghandler::encodingFor(codec, "m4a", source);
    QTEST(e.encoder, "encoder");
    QTEST(e.extension, "extension");
    QTEST(e.codecName, "stored");
    const QStringList args = ffmpeghandler::conversionArguments(source, e.encoder, "out.m4a");
    QCOMPARE(args.last(), QStringLiteral("out.m4a"));
    QCOMPARE(args.mid(0, 3), (QStringList{"-y", "-i", source}));
    QVERIFY(args.contains("256k") && args.contains("44100"));
}

void TestFfmpegHandler::names_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("album");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("folder");
    QTest::addRow("reserved characters vanish") << "A/B: Live?" << " Best.Of \"Hits\" " << "AB Live" << "BestOf Hits";
    QTest::addRow("number sign only in file names") << "#1 Song" << "#1 Album" << "1 Song" << "#1 Album";
    QTest::addRow("album of dots is Unknown Album") << "Song" << "..." << "Song" << "Unknown Album";
    QTest::addRow("empty title takes the source's name") << "" << "" << "03 Track" << "Unknown Album";
    QTest::addRow("unicode stays") << "Ça ira — 東京" << "Été" << "Ça ira — 東京" << "Été";
}

void TestFfmpegHandler::names()
{
    QFETCH(QString, title);
    QFETCH(QString, album);
    track t;
    t.trackname = title;
    t.albumName = album;
    t.sourcePath = "/music/03 Track.flac";
    QTEST(ffmpeghandler::cacheFileName(t), "file");
    QTEST(ffmpeghandler::cacheAlbumFolder(album), "folder");
    QVERIFY(ffmpeghandler::cacheTarget(t).startsWith(ffmpeghandler::cacheFolder() + '/'));
}

void TestFfmpegHandler::fallbackChain_data()
{
    // The fake ffmpeg fails for the encoders named in $FAIL and logs each run.
    QTest::addColumn<QString>("failing");
    QTest::addColumn<bool>("outputExists");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<int>("runs");
    QTest::addRow("first attempt converts") << "" << false << 3 << "wma" << 1;
    QTest::addRow("mp3 fall-back after a failure") << "wmav2" << false << 3 << "mp3" << 2;
    QTest::addRow("every codec failing is flag 1") << "wmav2 libmp3lame wmav1 wmapro wmavoice" << false << 1 << ""
                                                   << 9;
    QTest::addRow("output in the cache is flag 2, no run") << "" << true << 2 << "wma" << 0;
}

void TestFfmpegHandler::fallbackChain()
{
    QFETCH(QString, failing);
    QFETCH(bool, outputExists);
    QFETCH(int, runs);
    const QString tag = QString(QTest::currentDataTag()).replace(' ', '_');
    const QString work = dir.filePath("chain-" + tag);
    QVERIFY(QDir().mkpath(work));
    const QString log = work + "/runs.log";
    const QString fake = testkit::MediaKit::fakeTool(
        work, "ffmpeg",
        QStringLiteral("echo \"$6\" >> '%1'\n"
                       "for f in %2; do [ \"$f\" = \"$6\" ] && exit 1; done\n"
                       "eval last=\\${$#}; echo converted > \"$last\"")
            .arg(log, failing));
    ExternalProgram::setToolPath(ExternalProgram::Ffmpeg, fake);
    const QString source = work + "/song.flac";
    QVERIFY(testkit::touch(source));
    if (outputExists)
        QVERIFY(testkit::touch(work + "/out/Song.wma"));

    ffmpeghandler conv;
    const auto codecs = conv.readSystemCodecs("System B");
    const auto r = conv.convert(source, work + "/out/Song", "wmav2", "wma", codecs);
    QTEST(int(r.outcome), "outcome");
    QCOMPARE(r.attempts, runs);
    QFETCH(QString, extension);
    if (!extension.isEmpty())
        QCOMPARE(r.outputPath, work + "/out/Song." + extension);
    QFile logFile(log);
    QCOMPARE(logFile.open(QIODevice::ReadOnly) ? logFile.readAll().count('\n') : 0, runs);
    // Failed attempts and partial files leave nothing behind.
    const QStringList left = QDir(work + "/out").entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(left, extension.isEmpty() ? QStringList() : QStringList{"Song." + extension});
}

void TestFfmpegHandler::libraryJobWithRealFfmpeg()
{
    testkit::MediaKit kit(dir.filePath("media"));
    const QString flac = kit.flac("Album/01.flac", {"Ünïcødé Song", "Artïst", "Albüm", "Rock", "", 2001, 1});
    const QString mp3 = kit.mp3("Album/02.mp3", {"Plain", "Artist", "Album", "", "", 0, 2});
    QVERIFY2(!flac.isEmpty() && !mp3.isEmpty(), qPrintable(kit.lastError()));

    TrackMap tracks;
    const QStringList paths{flac, mp3};
    for (int i = 0; i < paths.size(); ++i) {
        track t = testkit::makeTrack(dir.filePath("target/%1").arg(i), "Albüm");
        t.id = i + 1;
        t.trackname = i == 0 ? "Ünïcødé Song" : "Plain";
        t.sourcePath = paths[i];
        tracks.insert(t.id, t);
    }
    transferDetail detail;
    detail.system.name = "System A";
    detail.system.codec = "aac";
    detail.system.audioExtension = "m4a";
    detail.system.audioCodecs = {{"aac", "m4a", ""}, {"mp3", "mp3", ""}};

    ffmpeghandler conv;
    QSignalSpy removed(&conv, &ffmpeghandler::sgRemoveFile);
    QSignalSpy stored(&conv, &ffmpeghandler::sgFiletranscodedOk);
    const QList<track> result = conv.TranscodeOnOK(tracks, detail);
    QCOMPARE(result.size(), 1);
    QCOMPARE(removed.size(), 1);
    QCOMPARE(removed.first().at(2).toLongLong(), 3);
    QCOMPARE(stored.size(), 1);
    const track t = result.first();
    QCOMPARE(t.sourcePath, dir.filePath("target/0"));
    QCOMPARE(QFileInfo(t.filepath).suffix(), QStringLiteral("m4a"));
    QCOMPARE(t.codec, QStringLiteral("aac"));
    QCOMPARE(conv.askForCodec(t.filepath), QStringLiteral("aac"));
    TagLib::FileRef ref(QFile::encodeName(t.filepath).constData());
    QVERIFY(!ref.isNull());
    QCOMPARE(QString::fromStdWString(ref.tag()->title().toWString()), QStringLiteral("Ünïcødé Song"));
    QCOMPARE(testkit::scalar("SELECT count(*) FROM tracks WHERE filepath = ?", {t.filepath}).toInt(), 1);
}

CORVANE_TEST_MAIN(TestFfmpegHandler)
#include "tst_ffmpeghandler.moc"
