#include <QtTest>

#include <taglib/fileref.h>
#include <taglib/tag.h>

#include "delivery/ffmpeghandler.h"
#include "libraryfixture.h"
#include "mediakit.h"
#include "platform/externalprogram.h"
#include "testenv.h"

// The converter: the encoder mapping, the cache names, the fall-back chain
// (against a fake ffmpeg) and one library job with the real ffmpeg.
class TestFfmpegHandler : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY(testkit::openLibrary());
    }

    void cleanup() { ExternalProgram::setToolPath(ExternalProgram::Ffmpeg, QString()); }

    void encoding_data()
    {
        QTest::addColumn<QString>("codecAndSource");
        QTest::addColumn<QString>("expected"); // encoder, extension, codec stored
        QTest::addRow("libfaac maps to the native aac") << "libfaac a.flac" << "aac m4a aac";
        QTest::addRow("libvo_aacenc maps to the native aac") << "libvo_aacenc a.flac" << "aac m4a aac";
        QTest::addRow("mp3 in any case is lame") << "MP3 a.flac" << "libmp3lame m4a mp3";
        QTest::addRow("ogg source always mp3") << "wmav2 x/A.OGG" << "libmp3lame mp3 mp3";
        QTest::addRow("mp4 source always mp3") << "aac x/a.mp4" << "libmp3lame mp3 mp3";
    }

    void encoding()
    {
        QFETCH(QString, codecAndSource);
        const QStringList in = codecAndSource.split(' ');
        const auto e = ffmpeghandler::encodingFor(in[0], "m4a", in[1]);
        QTEST(QStringList({e.encoder, e.extension, e.codecName}).join(' '), "expected");
    }

    void names_data()
    {
        QTest::addColumn<QString>("titleAndAlbum");
        QTest::addColumn<QString>("fileAndFolder");
        QTest::addRow("reserved characters vanish") << "A/B: Live?| Best.Of \"Hits\" " << "AB Live|BestOf Hits";
        QTest::addRow("number sign only in file names") << "#1 Song|#1 Album" << "1 Song|#1 Album";
        QTest::addRow("album of dots is Unknown Album") << "Song|..." << "Song|Unknown Album";
        QTest::addRow("empty title takes the source's name") << "|" << "03 Track|Unknown Album";
        QTest::addRow("unicode stays") << "Ça ira — 東京|Été" << "Ça ira — 東京|Été";
    }

    void names()
    {
        QFETCH(QString, titleAndAlbum);
        track t;
        t.trackname = titleAndAlbum.section('|', 0, 0);
        t.albumName = titleAndAlbum.section('|', 1);
        t.sourcePath = "/music/03 Track.flac";
        QTEST(ffmpeghandler::cacheFileName(t) + '|' + ffmpeghandler::cacheAlbumFolder(t.albumName), "fileAndFolder");
    }

    void fallbackChain_data()
    {
        // The fake ffmpeg fails for the encoders named in $FAIL and logs each run.
        QTest::addColumn<QString>("failing");
        QTest::addColumn<bool>("outputExists");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<int>("runs");
        QTest::addRow("first attempt converts") << "" << false << 3 << "wma" << 1;
        QTest::addRow("mp3 fall-back after a failure") << "wmav2" << false << 3 << "mp3" << 2;
        QTest::addRow("every codec failing is flag 1")
            << "wmav2 libmp3lame wmav1 wmapro wmavoice" << false << 1 << "" << 9;
        QTest::addRow("output in the cache is flag 2, no run") << "" << true << 2 << "wma" << 0;
    }

    void fallbackChain()
    {
        QFETCH(QString, failing);
        QFETCH(bool, outputExists);
        QFETCH(int, runs);
        QFETCH(QString, extension);
        const QString work = dir.filePath("chain-" + QString(QTest::currentDataTag()).replace(' ', '_'));
        QVERIFY(QDir().mkpath(work));
        const QString log = work + "/runs.log";
        const QString script = QStringLiteral("echo \"$6\" >> '%1'\n"
                                              "for f in %2; do [ \"$f\" = \"$6\" ] && exit 1; done\n"
                                              "eval last=\\${$#}; echo converted > \"$last\"")
                                   .arg(log, failing);
        ExternalProgram::setToolPath(ExternalProgram::Ffmpeg, testkit::MediaKit::fakeTool(work, "ffmpeg", script));
        const QString source = work + "/song.flac";
        QVERIFY(testkit::touch(source));
        if (outputExists)
            QVERIFY(testkit::touch(work + "/out/Song.wma"));
        // The codec list of a System B profile: mp3 first, then one entry per
        // extension, empty names left out.
        SystemDetails profile;
        profile.audioCodecs = {{"mp3", "mp3", ""},          {"wmav1", "wma,asf", ""}, {"wmav2", "wma,asf", ""},
                               {"wmapro", "wma", ""},       {"wmavoice", "wma", ""},  {"", "", ""}};

        const auto r = ffmpeghandler().convert(source, work + "/out/Song", "wmav2", "wma",
                                               ffmpeghandler::codecListFor(profile));
        QTEST(int(r.outcome), "outcome");
        QCOMPARE(r.attempts, runs);
        if (!extension.isEmpty())
            QCOMPARE(r.outputPath, work + "/out/Song." + extension);
        QFile logFile(log);
        QCOMPARE(logFile.open(QIODevice::ReadOnly) ? logFile.readAll().count('\n') : 0, runs);
        // Failed attempts and partial files leave nothing behind.
        QCOMPARE(QDir(work + "/out").entryList(QDir::Files | QDir::Hidden),
                 extension.isEmpty() ? QStringList() : QStringList{"Song." + extension});
    }

    void libraryJobWithRealFfmpeg()
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
        detail.system.codec = "aac";
        detail.system.audioExtension = "m4a";
        detail.system.audioCodecs = {{"aac", "m4a", ""}, {"mp3", "mp3", ""}};

        ffmpeghandler conv;
        QSignalSpy removed(&conv, &ffmpeghandler::sgRemoveFile);
        QSignalSpy stored(&conv, &ffmpeghandler::sgFiletranscodedOk);
        const QList<track> result = conv.TranscodeOnOK(tracks, detail);
        QVERIFY(result.size() == 1 && removed.size() == 1 && stored.size() == 1);
        QCOMPARE(removed.first().at(2).toLongLong(), 3);
        const track t = result.first();
        QCOMPARE(t.sourcePath, dir.filePath("target/0"));
        QCOMPARE(QFileInfo(t.filepath).suffix() + ' ' + t.codec + ' ' + conv.askForCodec(t.filepath), "m4a aac aac");
        TagLib::FileRef ref(QFile::encodeName(t.filepath).constData());
        QVERIFY(!ref.isNull());
        QCOMPARE(TStringToQString(ref.tag()->title()), QStringLiteral("Ünïcødé Song"));
        QCOMPARE(testkit::scalar("SELECT count(*) FROM tracks WHERE filepath = ?", {t.filepath}).toInt(), 1);
    }

private:
    QTemporaryDir dir;
};

CORVANE_TEST_MAIN(TestFfmpegHandler)
#include "tst_ffmpeghandler.moc"
