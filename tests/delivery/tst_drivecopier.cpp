#include <QtTest>

#include <QDirIterator>
#include <QSqlQuery>
#include <QtConcurrent/QtConcurrentRun>

#include <atomic>

#include <taglib/fileref.h>
#include <taglib/tag.h>

#include "database/ruvodb.h"
#include "delivery/drivecopier.h"
#include "delivery/drivemanifest.h"
#include "delivery/ffmpeghandler.h"
#include "delivery/madefiles.h"
#include "platform/externalprogram.h"
#include "platform/temporaryfiles.h"
#include "libraryfixture.h"
#include "mediakit.h"
#include "scanfixture.h"
#include "testenv.h"

using testkit::fileBytes;

namespace {

// A tmpfs of `size` ("256k"), or an exFAT image of `size` through FUSE on a
// loop device, mounted in a folder of its own for one test (needs root) and
// unmounted and detached again when it goes.
struct TestMount
{
    TestMount(const QString &dir, const QString &size, bool exfat = false) : path(dir), image(dir + ".img")
    {
        QDir().mkpath(path);
        ok = exfat ? sh("truncate -s " + size + " '%1' && mkfs.exfat '%1' && "
                        "mount.exfat-fuse $(losetup -f --show '%1') '%2'")
                   : QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=" + size, "tmpfs", path}) == 0;
    }
    ~TestMount()
    {
        sh("umount '%2' || umount -l '%2'; for d in $(losetup -j '%1' | cut -d: -f1); do losetup -d $d; done");
    }
    bool detach() { return QProcess::execute("umount", {"-l", path}) == 0; }
    bool sh(const QString &script)
    {
        return QProcess::execute("sh", {"-c", "(" + script.arg(image, path) + ") >/dev/null 2>&1"}) == 0;
    }

    QString path, image;
    bool ok = false;
};

// Libraries of other homes below `work`: enter() points HOME and the data
// folder at one (and gives its library folder); the test's own come back
// when this goes.
struct LibraryHomes
{
    explicit LibraryHomes(const QString &folder) : work(folder) {}
    ~LibraryHomes()
    {
        qputenv("HOME", home);
        qputenv("XDG_DATA_HOME", data);
    }
    QString enter(const QString &name) const
    {
        qputenv("HOME", QFile::encodeName(work + "/" + name));
        qputenv("XDG_DATA_HOME", QFile::encodeName(work + "/" + name + "/.local/share"));
        return ruvoDB::programCopyFolder();
    }

    QString work;
    QByteArray home = qgetenv("HOME"), data = qgetenv("XDG_DATA_HOME");
};

// Files whose name marks an unfinished write.
QStringList partialFiles(const QString &root)
{
    QStringList found;
    QDirIterator it(root, {"*.part*"}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << it.next();
    return found;
}

} // namespace

// The audio side of a transfer.  The converter: its fall-back chain (against
// a fake ffmpeg) and one library job with the real ffmpeg.  The copy to the car's drive: layout, playlists,
// conversion and its cache, overwrite choices, the byte budget, full and
// removed drives, FAT names.
class TestDriveCopier : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY(testkit::openLibrary());
        testkit::MediaKit kit(dir.filePath("media"));
        const QString cover = kit.picture("cover.jpg", 300, 200);
        QVERIFY(!cover.isEmpty());
        // Ids interleave the playlist with an album, so its tracks come in two runs.
        library.insert(1, song(1, kit.mp3("a/01 One.mp3", {}), "Album One"));
        library[1].cover = cover;
        library.insert(2, song(2, kit.mp3("p/Drive.mp3", {}), "Mix", "Road Trip."));
        library.insert(3, song(3, kit.mp3("a/02 Two.mp3", {}), "Album One"));
        library[3].cover = cover;
        library.insert(4, song(4, kit.mp3("p/Home.mp3", {}), "Mix", "Road Trip."));
        library.insert(5, song(5, kit.video("v/clip.mp4"), QString()));
        library[5].isVideo = true;
        library.insert(6, song(6, kit.mp3("x/Esc.mp3", {}), "Mix", "../../x"));
        // Converted: names lose what a file name can't hold, keep the rest; no
        // title takes the source's name; an OGG source always becomes MP3.
        library.insert(7, song(7, kit.flac("f/lossless.flac", {}), "Été.", QString(), "#1 Ça ira: 東京?"));
        library.insert(8, song(8, kit.audio("o/Old.ogg", {"-c:a", "libvorbis"}), "Album One"));
        library.insert(9, song(9, kit.flac("f/untitled.flac", {}), "..."));
        library[9].trackname.clear();
        // The first track of a folder shows the no-artwork placeholder, a later one has a cover.
        library.insert(13, song(13, kit.mp3("q/Bare.mp3", {}), "Mix", "Pictured"));
        library[13].cover = "qrc:///resources/photos/no_artwork.png";
        library.insert(14, song(14, kit.mp3("q/Covered.mp3", {}), "Mix", "Pictured"));
        library[14].cover = cover;
        // Tags of 400 bytes: folder and playlist names are shortened to what a name holds.
        library.insert(15, song(15, kit.mp3("l/Long.mp3", {}), QString(200, QChar(0xe9))));
        library.insert(16, song(16, kit.mp3("l/Listed.mp3", {}), "Mix", QString(400, 'p')));
        for (const track &t : std::as_const(library))
            QVERIFY2(QFileInfo(t.filepath).isFile(), qPrintable(kit.lastError()));

        profile.name = "System A";
        profile.vehicleName = "Aster";
        // An older systems file names libfaac, which Debian's ffmpeg lacks: its
        // own aac encoder must stand in.
        profile.codec = "libfaac";
        profile.audioExtension = "m4a";
        profile.audioCodecs = {{"aac", "m4a,m4b,mp4,aac", "AAC"}, {"mp3", "mp3", "MP3"}};
    }

    void cleanup()
    {
        ExternalProgram::setToolPath(ExternalProgram::Ffmpeg, QString());
        ExternalProgram::setToolPath(ExternalProgram::Ffprobe, QString());
    }

    void fallbackChain_data()
    {
        // The fake ffmpeg writes its output, then fails for the encoders named
        // in `failing` ("cached": none, and the output is there already).
        QTest::addColumn<QString>("failing");
        QTest::addColumn<QString>("expected"); // outcome, the files left, the runs
        QTest::addRow("first attempt converts") << "" << "3 Song.wma 1";
        QTest::addRow("mp3 fall-back after a failure") << "wmav2" << "3 Song.mp3 2";
        QTest::addRow("every codec failing is flag 1") << "wmav2 libmp3lame wmav1 wmapro wmavoice" << "1 - 9";
        QTest::addRow("output of this source in the cache is flag 2, no run") << "cached" << "2 Song.wma 0";
        QTest::addRow("an output of another song with that name stays") << "foreign" << "3 Song (2).wma,Song.wma 1";
        QTest::addRow("a full volume stops at the first attempt") << "full" << "4 - 1";
    }

    void fallbackChain()
    {
        QFETCH(QString, failing);
        const QString work = dir.filePath("chain-" + QString(QTest::currentDataTag()).replace(' ', '_'));
        QVERIFY(testkit::touch(work + "/song.flac"));
        if (failing == "cached" || failing == "foreign")
            QVERIFY(testkit::touch(work + "/out/Song.wma"));
        if (failing == "cached")
            QVERIFY(MadeFiles::made(work + "/out/Song.wma", work + "/song.flac"));
        const QString script = QStringLiteral("echo \"$6\" >> '%1/runs.log'\n"
                                              "eval last=\\${$#}; echo converted > \"$last\"\n"
                                              "[ \"%2\" = full ] && echo 'No space left on device' >&2 && exit 1\n"
                                              "for f in %2; do [ \"$f\" = \"$6\" ] && exit 1; done; exit 0")
                                   .arg(work, failing.isEmpty() ? "-" : failing);
        ExternalProgram::setToolPath(ExternalProgram::Ffmpeg, testkit::MediaKit::fakeTool(work, "ffmpeg", script));
        // The codec list of a System B profile: mp3 first, then one entry per
        // extension, empty names left out.
        SystemDetails b;
        b.audioCodecs = {{"mp3", "mp3", ""},    {"wmav1", "wma,asf", ""}, {"wmav2", "wma,asf", ""},
                         {"wmapro", "wma", ""}, {"wmavoice", "wma", ""},  {"", "", ""}};

        const auto r = ffmpeghandler().convert(work + "/song.flac", work + "/out/Song", "wmav2", "wma",
                                               ffmpeghandler::codecListFor(b));
        // Failed attempts and partial files leave nothing behind.
        const QStringList left = QDir(work + "/out").entryList(QDir::Files | QDir::Hidden);
        QTEST(QString("%1 %2 %3").arg(r.outcome).arg(left.isEmpty() ? "-" : left.join(',')).arg(r.attempts),
              "expected");
        QVERIFY(left.isEmpty() || r.outputPath == work + "/out/" + left.first());
        QCOMPARE(fileBytes(work + "/runs.log").count('\n'), r.attempts);
    }

    void libraryJobWithRealFfmpeg()
    {
        testkit::MediaKit kit(dir.filePath("job"));
        TrackMap tracks;
        for (int i = 1; i <= 2; ++i) {
            track t = testkit::makeTrack(dir.filePath("target/%1").arg(i), "Albüm");
            t.id = i;
            t.trackname = i == 1 ? "Ünïcødé Song" : "Plain";
            t.sourcePath = i == 1 ? kit.flac("01.flac", {t.trackname, "Artïst", "Albüm", "Rock", "", 2001, 1})
                                  : kit.mp3("02.mp3", {t.trackname, "Artist", "Album", "", "", 0, 2});
            QVERIFY2(!t.sourcePath.isEmpty(), qPrintable(kit.lastError()));
            tracks.insert(i, t);
        }
        transferDetail detail;
        detail.system = profile;

        ffmpeghandler conv;
        QSignalSpy removed(&conv, &ffmpeghandler::sgRemoveFile);
        QSignalSpy stored(&conv, &ffmpeghandler::sgFiletranscodedOk);
        const QList<track> result = conv.TranscodeOnOK(tracks, detail);
        QVERIFY(result.size() == 1 && removed.size() == 1 && stored.size() == 1);
        QCOMPARE(removed.first().at(2).toLongLong(), 3);
        const track t = result.first();
        QCOMPARE(t.sourcePath, dir.filePath("target/1"));
        // Reported under the path it had before its conversion.
        QCOMPARE(removed.first().at(0).toString(), t.sourcePath);
        QCOMPARE(QFileInfo(t.filepath).suffix() + ' ' + t.codec + ' ' + conv.askForCodec(t.filepath), "m4a aac aac");
        TagLib::FileRef ref(QFile::encodeName(t.filepath).constData());
        QVERIFY(!ref.isNull());
        QCOMPARE(TStringToQString(ref.tag()->title()), QStringLiteral("Ünïcødé Song"));
        QCOMPARE(testkit::scalar("SELECT count(*) FROM tracks WHERE filepath = ?", {t.filepath}).toInt(), 1);
    }

    // A converted file carries the source's title, artist, album, genre, year
    // and track.  ffmpeg copies them from most sources, and then its output
    // is kept as it made it; where it doesn't (a FLAC whose year is a YEAR
    // comment) they are written onto the output.
    void libraryJobTags_data()
    {
        QTest::addColumn<QString>("source"); // flac, wav or "flac YEAR"
        QTest::addColumn<QString>("codec");
        QTest::addColumn<bool>("asFfmpegMadeIt");

        QTest::addRow("flac to mp3") << "flac" << "mp3" << true;
        QTest::addRow("flac to aac") << "flac" << "aac" << true;
        QTest::addRow("wav to mp3") << "wav" << "mp3" << true;
        QTest::addRow("flac with a YEAR comment to mp3") << "flac YEAR" << "mp3" << false;
        QTest::addRow("flac with a YEAR comment to aac") << "flac YEAR" << "aac" << false;
    }

    void libraryJobTags()
    {
        QFETCH(QString, source);
        QFETCH(QString, codec);
        QFETCH(bool, asFfmpegMadeIt);
        const QString folder = dir.filePath("tags/" + QString(QTest::currentDataTag()).replace(' ', '-'));
        testkit::MediaKit kit(folder);
        const testkit::MediaTags tags{"Sóng", "Artïst", "Albüm", "Rock", "", source == "flac YEAR" ? 0 : 2001, 3};
        QString path;
        if (source == "flac")
            path = kit.flac("song.flac", tags);
        else if (source == "wav")
            path = kit.wav("song.wav", tags);
        else
            path = kit.audio("song.flac", {"-c:a", "flac", "-metadata", "YEAR=1999"}, tags);
        QVERIFY2(!path.isEmpty(), qPrintable(kit.lastError()));

        track t = testkit::makeTrack(folder + "/target.mp3", "Tags " + QString(QTest::currentDataTag()));
        t.id = ruvoDB::reserveTrackIds(1);
        t.trackname = "Song";
        t.sourcePath = path;
        transferDetail detail;
        detail.system.name = "Tags";
        detail.system.codec = codec;
        detail.system.audioExtension = codec == "aac" ? "m4a" : "mp3";
        detail.system.audioCodecs = {{codec, detail.system.audioExtension, ""}};
        const QList<track> result = ffmpeghandler().TranscodeOnOK({{t.id, t}}, detail);
        // Its row goes again: the other tests' tracks take their ids as they come.
        auto forget = qScopeGuard([id = t.id] {
            QSqlQuery query;
            query.prepare("DELETE FROM tracks WHERE id = ?");
            query.addBindValue(id);
            query.exec();
        });
        QCOMPARE(result.size(), 1);
        const QString output = result.first().filepath;

        const auto tagsOf = [](const QString &file) {
            TagLib::FileRef ref(QFile::encodeName(file).constData(), false);
            if (ref.isNull() || !ref.tag())
                return QStringList();
            const TagLib::Tag *tag = ref.tag();
            return QStringList{TStringToQString(tag->title()), TStringToQString(tag->artist()),
                               TStringToQString(tag->album()), TStringToQString(tag->genre()),
                               QString::number(tag->year()), QString::number(tag->track())};
        };
        QCOMPARE(tagsOf(output),
                 (QStringList{"Sóng", "Artïst", "Albüm", "Rock", source == "flac YEAR" ? "1999" : "2001", "3"}));

        // The same ffmpeg run by hand: the job's output is that file, byte
        // for byte, unless the tags had to be written.
        const QString plain = folder + "/plain." + QFileInfo(output).suffix();
        QVERIFY(kit.ffmpeg(ffmpeghandler::conversionArguments(
                               path, ffmpeghandler::encodingFor(codec, detail.system.audioExtension, path).encoder,
                               plain)
                               .mid(1)));
        QCOMPARE(fileBytes(output) == fileBytes(plain), asFfmpegMadeIt);
    }

    // The library job's own stop (the close sequence's) reaches a running ffmpeg.
    void libraryJobStopsItsFfmpeg()
    {
        const QString started = dir.filePath("hung-started"), go = dir.filePath("hung-go");
        auto release = qScopeGuard([&go] { testkit::touch(go); });
        ExternalProgram::setToolPath(
            ExternalProgram::Ffmpeg,
            testkit::MediaKit::fakeTool(dir.path(), "ffmpeg-hung",
                                        QString("touch '%1'; while [ ! -e '%2' ]; do sleep 0.05; done").arg(started, go)));
        track t = library.value(7);
        t.sourcePath = t.filepath;
        t.albumName = "Hung";
        transferDetail detail;
        detail.system = profile;
        std::atomic<bool> stop{false};
        ffmpeghandler conv;
        conv.linkStopFlag(&stop);
        const QFuture<QList<track>> job = QtConcurrent::run([&] { return conv.TranscodeOnOK({{1, t}}, detail); });
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(started), 20000);
        stop = true;
        QTRY_VERIFY_WITH_TIMEOUT(job.isFinished(), 20000);
        QVERIFY(job.result().isEmpty());
    }

    void layout_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("content"); // empty: only that it exists

        QTest::addRow("album folder") << "Aster Media/Album One/01 One.mp3" << QByteArray();
        QTest::addRow("folder picture fitted to 110") << "Aster Media/Album One/Folder.png" << QByteArray("110x73");
        QTest::addRow("playlist folder named without the dot") << "Aster Media/Road Trip/Home.mp3" << QByteArray();
        QTest::addRow("playlist file keeps both runs, in id order")
            << "Aster Media/Road Trip.m3u"
            << QByteArray("#EXTM3U:\n#EXTINF:\nRoad Trip/Drive.mp3\n#EXTINF:\nRoad Trip/Home.mp3\n");
        QTest::addRow("playlist name can't climb out of the media root")
            << "Aster Media/x.m3u" << QByteArray("#EXTM3U:\n#EXTINF:\nx/Esc.mp3\n");
        QTest::addRow("video folder") << "Aster Media/Videos/clip.mp4" << QByteArray();
        QTest::addRow("FLAC converted for a profile without it")
            << "Aster Media/Été/1 Ça ira 東京.m4a" << QByteArray();
        QTest::addRow("OGG converted to MP3") << "Aster Media/Album One/Old.mp3" << QByteArray();
        QTest::addRow("no title, no album") << "Aster Media/Unknown Album/untitled.m4a" << QByteArray();
        QTest::addRow("a folder's picture from a later track when the first has none")
            << "Aster Media/Pictured/Folder.png" << QByteArray("110x73");
        QTest::addRow("an album name of 400 bytes shortened")
            << "Aster Media/" + QString(127, QChar(0xe9)) + "/Long.mp3" << QByteArray();
        QTest::addRow("a playlist name of 400 bytes shortened, folder and file")
            << "Aster Media/" + QString(251, 'p') + ".m3u"
            << "#EXTM3U:\n#EXTINF:\n" + QByteArray(255, 'p') + "/Listed.mp3\n";
    }

    void layout()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, content);
        static QString target;
        static Run run;
        if (target.isEmpty()) {
            target = dir.filePath("layout");
            // MP3, FLAC and video need no probe run: a probe leaves a mark.
            const QString mark = "case \"$*\" in *.ogg) ;; *) touch '" + dir.filePath("probed") + "';; esac";
            const QString probe = testkit::MediaKit::fakeTool(dir.path(), "probe", mark + "; exit 1");
            ExternalProgram::setToolPath(ExternalProgram::Ffprobe, probe);
            run = copy(library, target, true, 1);
        }
        QCOMPARE(run.reported, library.size());
        QCOMPARE(run.progress.size(), library.size());
        QCOMPARE(run.diskFull + run.removed, 0);
        // "Synching" shows while the drive takes the files, before the end.
        QCOMPARE(run.syncs, 1);
        QCOMPARE(run.syncedAfter, int(library.size()) - 1);
        QVERIFY2(QFileInfo(target + "/" + path).isFile(), qPrintable(path));
        if (path.endsWith(".png")) {
            const QImage picture(target + "/" + path);
            QCOMPARE(QString("%1x%2").arg(picture.width()).arg(picture.height()).toUtf8(), content);
        } else if (!content.isEmpty()) {
            QCOMPARE(fileBytes(target + "/" + path), content);
        }
        QVERIFY(!QFileInfo::exists(dir.filePath("probed")));
        QVERIFY(partialFiles(target).isEmpty());
    }

    void secondTransferTakesTheConversionFromTheCache()
    {
        // The layout run converted the FLAC file: a failing converter now changes
        // nothing for it, nor for another track of it in this job; a file it
        // can't convert is named and the rest go on.
        const QString cached = ffmpeghandler::cacheFolder() + "/Été/1 Ça ira 東京.m4a";
        QCOMPARE(DriveCopier().askForCodec(cached), QString("aac"));
        ExternalProgram::setToolPath(ExternalProgram::Ffmpeg,
                                     testkit::MediaKit::fakeTool(dir.path(), "ffmpeg", "exit 1"));
        const QString target = dir.filePath("cached");
        // A damaged "MP3" (ffprobe would name it after its extension) is no MP3.
        QVERIFY(testkit::touch(dir.filePath("damaged/junk.mp3"), QByteArray(300000, 'z')));
        // Nor one of zeros, which ffprobe takes for an MP3 without a word.
        QVERIFY(testkit::touch(dir.filePath("damaged/zeros.mp3"), QByteArray(129260, '\0')));
        const TrackMap tracks{{7, library.value(7)},
                              {10, song(10, library.value(7).filepath, "Album One")},
                              {11, library.value(1)},
                              {12, song(12, dir.filePath("damaged/junk.mp3"), "Album One")},
                              {13, song(13, dir.filePath("damaged/zeros.mp3"), "Album One")}};
        const Run run = copy(tracks, target, true, 1);
        QCOMPARE(run.progress, (QStringList{"Copying 1 Ça ira 東京.m4a", "Copying lossless.m4a",
                                            "Copying 01 One.mp3", "Skip File junk.mp3",
                                            "Skip File zeros.mp3"}));
        QCOMPARE(run.diskFull, 0);
        QStringList leftOut;
        for (const auto &[name, why] : run.outcome.leftOut)
            leftOut << name + ": " + why;
        QCOMPARE(leftOut, (QStringList{"junk.mp3: no format the car plays could be made of it",
                                       "zeros.mp3: no format the car plays could be made of it"}));
        QCOMPARE(fileBytes(target + "/Aster Media/Été/1 Ça ira 東京.m4a"), fileBytes(cached));
        QCOMPARE(fileBytes(target + "/Aster Media/Album One/lossless.m4a"), fileBytes(cached));
    }

    void oneFile_data()
    {
        QTest::addColumn<QString>("setup"); // the bit rate of a file already there (0: none), then options
        QTest::addColumn<QString>("result");

        // A file of that name the drive's record doesn't know, with other
        // bytes, may be another song: no choice replaces it.
        QTest::addRow("overwrite all leaves a file the drive's record doesn't know") << "256 all" << "kept";
        QTest::addRow("by quality too, though its bit rate is lower") << "128 quality" << "kept";
        // A budget of one and a half files: the second no longer fits.
        QTest::addRow("a drive's budget shrinks with each copy") << "0 budget" << "copied full";
        QTest::addRow("a folder goes on past its budget") << "0 budget folder" << "copied";
    }

    void oneFile()
    {
        QFETCH(QString, setup);
        const QStringList words = setup.split(' ');
        // Non-ASCII names: the bit rates must still be read.
        const QString target = dir.filePath(QString("one-%1").arg(QTest::currentDataTag()).replace(' ', '_'));
        const QString onDrive = target + "/Aster Media/Ålbum/Sång.mp3";
        testkit::MediaKit kit(target + "/Aster Media/Ålbum");
        // The same audio as the source, other tags: equal bit rates are equal.
        if (words[0] != "0")
            QVERIFY(DriveCopier::GetBitRate(kit.mp3("Sång.mp3", {"Old", "", "", "", "", 0, 0}, {}, 3, words[0].toInt())) > 0);
        testkit::MediaKit sources(target + "-src");
        const QString source = sources.mp3("Sång.mp3", {}, {}, 3, 256);
        const QByteArray before = fileBytes(onDrive);

        const bool budget = words.contains("budget");
        TrackMap tracks{{1, song(1, source, "Ålbum")}};
        if (budget)
            tracks.insert(2, song(2, sources.mp3("Sång 2.mp3", {}, {}, 3, 256), "Ålbum"));
        const Run run = copy(tracks, target, words.contains("folder"), budget ? QFileInfo(source).size() * 3 / 2 : 1 << 30,
                             words.contains("all"), words.contains("quality"));
        const QByteArray after = fileBytes(onDrive);
        const QString result = after == fileBytes(source) ? (before.isEmpty() ? "copied" : "replaced")
                               : after == before          ? "kept"
                                                          : "damaged";
        QTEST(result + (run.diskFull ? " full" : ""), "result");
        QCOMPARE(run.progress.size(), tracks.size() - run.diskFull);
        if (result == "kept") // the song went beside it
            QCOMPARE(fileBytes(target + "/Aster Media/Ålbum/Sång (2).mp3"), fileBytes(source));
    }

    void brokenDrive_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("ending"); // full, removed, failed (the flush) or the files left out
        QTest::addRow("a full volume stops the copy") << "full" << "full";
        QTest::addRow("a drive pulled at the first report stops it as removed") << "pulled" << "removed";
        QTest::addRow("a drive pulled during a conversion gets nothing more") << "converting" << "removed";
        // The files sit in the page cache of a 96 MB image on a 30 MB tmpfs:
        // the flush is where they are lost.
        QTest::addRow("a failed flush is a failure, not a finished copy") << "fake capacity" << "failed";
        QTest::addRow("a folder the drive can't make: that file only")
            << "refused" << "2.mp3: it could not be written to the drive (";
        QTest::addRow("a read-only drive fails the whole copy") << "read-only" << "failed";
        QTest::addRow("a playlist the drive can't take is named")
            << "playlist refused" << "P.m3u: it could not be written to the drive (";
    }

    void brokenDrive()
    {
        QFETCH(QString, mode);
        QFETCH(QString, ending);
        const QString where = dir.filePath(QString(mode).replace(' ', '-'));
        TestMount drive(where, mode == "full" ? "200k" : mode == "fake capacity" ? "30m" : "16m");
        if (!drive.ok)
            QSKIP("mounting tmpfs needs root");
        std::unique_ptr<TestMount> image;
        QString target = drive.path;
        if (mode == "fake capacity") {
            image = std::make_unique<TestMount>(where + "/ext4", "");
            QVERIFY(image->sh("umount '%2'; truncate -s 96M '%1' && mkfs.ext4 -q '%1' && mount -o loop '%1' '%2'"));
            target = image->path;
        }
        testkit::MediaKit kit(dir.filePath("big"));
        TrackMap tracks;
        for (int i = 1; i <= 4; ++i)
            tracks.insert(i, song(i, kit.mp3(QString("%1.mp3").arg(i), {}, {}, mode == "fake capacity" ? 600 : 6, 128),
                                  QString::number(i)));
        if (mode == "refused") // a file where its folder would go
            QVERIFY(testkit::touch(target + "/Aster Media/2"));
        if (mode == "playlist refused") { // a folder where the playlist would go
            tracks[1].playlist = "P";
            QVERIFY(QDir().mkpath(target + "/Aster Media/P.m3u"));
        }
        if (mode == "read-only") {
            for (const track &t : std::as_const(tracks))
                QVERIFY(QDir().mkpath(target + "/Aster Media/" + t.albumName));
            QCOMPARE(QProcess::execute("mount", {"-o", "remount,ro", drive.path}), 0);
        }
        if (mode == "converting") {
            // The second one is converted, by an ffmpeg that pulls the drive first.
            tracks[2] = song(2, library.value(7).filepath, "2");
            QDir(ffmpeghandler::cacheFolder() + "/2").removeRecursively();
            ExternalProgram::setToolPath(ExternalProgram::Ffmpeg,
                                         testkit::MediaKit::fakeTool(dir.path(), "ffmpeg-pulling",
                                                                     QString("umount -l '%1'; eval last=\\${$#}; "
                                                                             "echo converted > \"$last\"")
                                                                         .arg(drive.path)));
        }
        // The budget claims more than the volume holds: the write itself fails.
        const Run run = copy(tracks, target, false, qint64(1) << 40, false, false, [&](DriveCopier &c) {
            if (mode == "pulled")
                QObject::connect(&c, &DriveCopier::incrementProgress, &c, [&drive] { drive.detach(); },
                                 Qt::SingleShotConnection);
        });
        QStringList leftOut;
        for (const auto &[name, why] : run.outcome.leftOut)
            leftOut << name + ": " + why;
        const QString seen = run.diskFull ? "full" : run.removed ? "removed"
                             : run.outcome.halt == DriveCopier::Outcome::Failed ? "failed"
                                                                                : leftOut.join(", ");
        const bool oneFile = mode.endsWith("refused");
        QVERIFY2(oneFile ? seen.startsWith(ending) : seen == ending, qPrintable(seen));
        QCOMPARE(run.progress.size() < tracks.size(), !oneFile);
        // No file is left half-written; nothing goes to the folder a pulled drive leaves.
        for (const track &t : std::as_const(tracks)) {
            const QFileInfo onDrive(target + QString("/Aster Media/%1/%1.mp3").arg(t.id));
            QVERIFY(!onDrive.exists() || onDrive.size() == t.filesize);
        }
        QVERIFY(partialFiles(target).isEmpty());
        QVERIFY(ending != "removed" || !QFileInfo::exists(drive.path + "/Aster Media"));
    }

    // Which write errors end the whole transfer (the drive fails: nothing
    // more can be relied on) and which leave out one file.  A drive that
    // fails with EIO can't be made here on demand; read-only is a row above.
    void writeErrors_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<bool>("wholeDrive");
        QTest::addRow("I/O error") << EIO << true;
        QTest::addRow("read-only file system") << EROFS << true;
        QTest::addRow("no such device") << ENODEV << true;
        QTest::addRow("name too long") << ENAMETOOLONG << false;
        QTest::addRow("file too large for the file system") << EFBIG << false;
        QTest::addRow("a file where a folder goes") << ENOTDIR << false;
        QTest::addRow("a name the file system refuses") << EINVAL << false;
    }

    void writeErrors()
    {
        QFETCH(int, error);
        QTEST(DriveCopier::driveFails(error), "wholeDrive");
    }

    void fatNamesCleaned()
    {
        TestMount drive(dir.filePath("exfat"), "8M", true);
        if (!drive.ok)
            QSKIP("no exFAT mount here (needs root, exfatprogs, exfat-fuse and a loop device)");
        testkit::MediaKit kit(dir.filePath("fatsrc"));
        // Names the drive can't tell apart (a dropped character, letter case)
        // each get their own file in one job, even with "overwrite all"; a
        // name near the limit keeps its temporary name within it.
        const QString longName = QString(240, 'L') + ".mp3";
        TrackMap tracks;
        for (const QString &name : QStringList{"What?.mp3", "Time: Now .mp3", "x/What.mp3", "y/what.mp3", longName})
            tracks.insert(int(tracks.size()) + 1, song(int(tracks.size()) + 1, kit.mp3(name, {}), "Mix", "Road: Trip"));
        // A killed transfer's leftover goes first (only the program's own).
        const QString leftover = TemporaryFiles::beside(drive.path + "/Aster Media/Road Trip/What.mp3");
        QFile file(leftover);
        QVERIFY(testkit::touch(leftover) && file.open(QIODevice::ReadWrite) &&
                file.setFileTime(QDateTime::currentDateTime().addSecs(-60), QFileDevice::FileModificationTime));
        file.close();
        const Run run = copy(tracks, drive.path, false, qint64(1) << 30, true);
        QVERIFY(!QFile::exists(leftover));
        const QStringList written{"What.mp3", "Time Now .mp3", "What (2).mp3", "what (3).mp3", longName};
        QByteArray m3u = "#EXTM3U:\n";
        for (const QString &name : written) {
            QCOMPARE(run.progress.value(int(m3u.count('\n')) / 2), "Copying " + name);
            QVERIFY2(QFileInfo(drive.path + "/Aster Media/Road Trip/" + name).isFile(), qPrintable(name));
            m3u += "#EXTINF:\nRoad Trip/" + name.toUtf8() + "\n";
        }
        QCOMPARE(fileBytes(drive.path + "/Aster Media/Road Trip.m3u"), m3u);

        // Again: each song is found in its own file, whatever the case of its name.
        const Run again = copy(tracks, drive.path, false, qint64(1) << 30, true);
        QCOMPARE(again.progress, run.progress);
        QCOMPARE(QDir(drive.path + "/Aster Media/Road Trip").entryList(QDir::Files).size(), written.size());
        QCOMPARE(fileBytes(drive.path + "/Aster Media/Road Trip.m3u"), m3u);
    }

    // Two different songs of one name in one playlist, transferred twice to
    // the same drive: whatever the overwrite choice, each keeps its own file
    // and the playlist reaches both.
    void secondTransfer_data()
    {
        QTest::addColumn<QString>("choice");
        QTest::addColumn<QString>("second"); // the second transfer's reports
        QTest::addRow("no overwrite") << "none" << "Skip File 01 Intro.mp3, Skip File 01 Intro (2).mp3";
        QTest::addRow("overwrite all") << "all" << "Copying 01 Intro.mp3, Copying 01 Intro (2).mp3";
        // The second song is newer and of a higher bit rate than the first.
        QTest::addRow("overwrite newer") << "newer" << "Skip File 01 Intro.mp3, Skip File 01 Intro (2).mp3";
        QTest::addRow("overwrite higher quality") << "quality" << "Skip File 01 Intro.mp3, Skip File 01 Intro (2).mp3";
        // A drive whose record is lost: the same bytes are the same song.
        QTest::addRow("no record on the drive") << "unrecorded"
                                                << "Skip File 01 Intro.mp3, Skip File 01 Intro (2).mp3";
    }

    void secondTransfer()
    {
        QFETCH(QString, choice);
        const QString target = dir.filePath("twice-" + choice);
        testkit::MediaKit kit(target + "-src");
        const QString a = kit.mp3("a/01 Intro.mp3", {"Intro A", "", "", "", "", 0, 1}, {}, 3, 128);
        const QString b = kit.mp3("b/01 Intro.mp3", {"Intro B", "", "", "", "", 0, 1}, {}, 3, 256);
        QVERIFY(setTime(a, QDateTime::currentDateTime().addDays(-2)) &&
                setTime(b, QDateTime::currentDateTime().addDays(-1)));
        const TrackMap tracks{{1, song(1, a, "Mix", "Mix")}, {2, song(2, b, "Mix", "Mix")}};
        const auto transfer = [&] {
            return copy(tracks, target, true, 1, choice == "all", choice == "quality", {}, choice == "newer");
        };
        QCOMPARE(transfer().progress.join(", "), "Copying 01 Intro.mp3, Copying 01 Intro (2).mp3");
        if (choice == "unrecorded")
            QVERIFY(QFile::remove(target + "/Aster Media/" + DriveManifest::fileName));
        const Run again = transfer();
        QTEST(again.progress.join(", "), "second");
        QCOMPARE(fileBytes(target + "/Aster Media/Mix/01 Intro.mp3"), fileBytes(a));
        QCOMPARE(fileBytes(target + "/Aster Media/Mix/01 Intro (2).mp3"), fileBytes(b));
        QCOMPARE(QDir(target + "/Aster Media/Mix").entryList(QDir::Files).size(), 2);
        QCOMPARE(fileBytes(target + "/Aster Media/Mix.m3u"),
                 QByteArray("#EXTM3U:\n#EXTINF:\nMix/01 Intro.mp3\n#EXTINF:\nMix/01 Intro (2).mp3\n"));
        QVERIFY(again.outcome.leftOut.isEmpty() && again.outcome.halt == DriveCopier::Outcome::None);
    }

    // A drive last filled from another library (another computer, another
    // home folder): its record names library files this library doesn't
    // have, so each file there is judged by its bytes.  The same song is kept,
    // or replaced as the overwrite choice says; another song of the same name
    // keeps its file and this library's goes beside it.
    void anotherLibrarysDrive_data()
    {
        QTest::addColumn<QString>("choice");
        QTest::addColumn<QString>("second"); // the second library's reports
        const QString kept = "Skip File 01 One.mp3, Skip File 02 Two.mp3, Copying 03 Name (2).mp3, Skip File Drive.mp3";
        const QString replaced = "Copying 01 One.mp3, Copying 02 Two.mp3, Copying 03 Name (2).mp3, Copying Drive.mp3";
        QTest::addRow("no overwrite keeps the same songs") << "none" << kept;
        QTest::addRow("overwrite all replaces them in place") << "all" << replaced;
        // The second library's files are an hour newer.
        QTest::addRow("overwrite newer replaces them in place") << "newer" << replaced;
        QTest::addRow("overwrite by quality keeps those of equal bit rate") << "quality" << kept;
    }

    void anotherLibrarysDrive()
    {
        QFETCH(QString, choice);
        const QString work = dir.filePath("libraries-" + choice);
        TestMount drive(work + "/stick", "16M", true);
        if (!drive.ok)
            QSKIP("no exFAT mount here (needs root, exfatprogs, exfat-fuse and a loop device)");
        // Each library in a home of its own: its files in its own data folder.
        const LibraryHomes homes(work);
        const auto libraryIn = [&homes](const QString &name) { return homes.enter(name); };
        const QStringList names{"Album/01 One.mp3", "Album/02 Two.mp3", "Album/03 Name.mp3", "Mix/Drive.mp3"};
        const auto tracksOf = [&](const QString &folder) {
            TrackMap tracks;
            for (const QString &name : names) {
                const int id = int(tracks.size()) + 1;
                tracks.insert(id, song(id, folder + "/" + name, "Album", name.startsWith("Mix") ? "Mix" : QString()));
            }
            return tracks;
        };
        const QDateTime then = QDateTime::currentDateTime().addDays(-2);

        const QString first = libraryIn("first");
        testkit::MediaKit kit(first);
        for (const QString &name : names)
            QVERIFY2(setTime(kit.mp3(name, {QFileInfo(name).baseName(), "", "", "", "", 0, 1}, {}, 3, 128), then),
                     qPrintable(kit.lastError()));
        QCOMPARE(copy(tracksOf(first), drive.path, false, qint64(1) << 30).outcome.written, 4);

        // The same music in the second library, but for one other song of the same name.
        const QString second = libraryIn("second");
        testkit::MediaKit other(second);
        for (const QString &name : names) {
            const QString file = second + "/" + name;
            QVERIFY(name.contains("Name")
                        ? !other.mp3(name, {"Another", "", "", "", "", 0, 3}, {}, 4, 128).isEmpty()
                        : QDir().mkpath(QFileInfo(file).path()) && QFile::copy(first + "/" + name, file));
            QVERIFY(setTime(file, then.addSecs(3600)));
        }
        const TrackMap tracks = tracksOf(second);
        const Run again = copy(tracks, drive.path, false, qint64(1) << 30, choice == "all", choice == "quality", {},
                               choice == "newer");
        QTEST(again.progress.join(", "), "second");
        QCOMPARE(again.outcome.kept, choice == "none" || choice == "quality" ? 3 : 0);
        const QString root = drive.path + "/Aster Media/";
        QCOMPARE(QDir(root + "Album").entryList(QDir::Files),
                 (QStringList{"01 One.mp3", "02 Two.mp3", "03 Name (2).mp3", "03 Name.mp3"}));
        QCOMPARE(QDir(root + "Mix").entryList(QDir::Files), QStringList{"Drive.mp3"});
        for (const QString &name : names)
            QVERIFY2(fileBytes(root + name) == fileBytes(first + "/" + name), qPrintable(name));
        QCOMPARE(fileBytes(root + "Album/03 Name (2).mp3"), fileBytes(second + "/Album/03 Name.mp3"));
        QCOMPARE(fileBytes(root + "Mix.m3u"), QByteArray("#EXTM3U:\n#EXTINF:\nMix/Drive.mp3\n"));

        // The drive's record now names this library's files, and the first
        // library's for the other song it left alone.
        const QJsonObject recorded =
            QJsonDocument::fromJson(fileBytes(root + DriveManifest::fileName)).object().value("files").toObject();
        QMap<QString, QString> sources; // names kept in one case, as exFAT tells none apart
        for (auto it = recorded.constBegin(); it != recorded.constEnd(); ++it)
            sources.insert(it.key(), it.value().toObject().value("source").toString());
        QCOMPARE(sources, (QMap<QString, QString>{{"album/01 one.mp3", second + "/Album/01 One.mp3"},
                                                  {"album/02 two.mp3", second + "/Album/02 Two.mp3"},
                                                  {"album/03 name (2).mp3", second + "/Album/03 Name.mp3"},
                                                  {"album/03 name.mp3", first + "/Album/03 Name.mp3"},
                                                  {"mix/drive.mp3", second + "/Mix/Drive.mp3"}}));
        const Run third = copy(tracks, drive.path, false, qint64(1) << 30);
        QCOMPARE(third.progress.join(", "),
                 "Skip File 01 One.mp3, Skip File 02 Two.mp3, Skip File 03 Name (2).mp3, Skip File Drive.mp3");
        QCOMPARE(third.outcome.written, 0);
    }

    // The same song on the drive with other bytes (another bit rate, or only
    // a comment written since), put there by another library or by hand: it
    // is this song, for the overwrite choice to keep or replace in its place,
    // never a reason for a second copy beside it.
    void sameSongOtherBytes_data()
    {
        QTest::addColumn<QString>("filled");     // "library": by another library's transfer; "hand": copied by hand
        QTest::addColumn<QString>("difference"); // "bit rate": 128 on the drive, 256 here; "comment": a comment tag
        QTest::addColumn<QString>("choice");
        QTest::addColumn<bool>("replaced");
        for (const QString filled : {"library", "hand"}) {
            for (const QString difference : {"bit rate", "comment"}) {
                // This library's file is an hour newer than the drive's.
                QTest::addRow("%s, %s: no overwrite keeps it", qPrintable(filled), qPrintable(difference))
                    << filled << difference << "none" << false;
                QTest::addRow("%s, %s: overwrite all replaces it", qPrintable(filled), qPrintable(difference))
                    << filled << difference << "all" << true;
                QTest::addRow("%s, %s: overwrite newer replaces it", qPrintable(filled), qPrintable(difference))
                    << filled << difference << "newer" << true;
                QTest::addRow("%s, %s: overwrite by quality", qPrintable(filled), qPrintable(difference))
                    << filled << difference << "quality" << (difference == "bit rate");
            }
        }
    }

    void sameSongOtherBytes()
    {
        QFETCH(QString, filled);
        QFETCH(QString, difference);
        QFETCH(QString, choice);
        QFETCH(bool, replaced);
        const QString work = dir.filePath("same-song-" + QString(QTest::currentDataTag()).replace(' ', '_'));
        TestMount drive(work + "/stick", "8M", true);
        if (!drive.ok)
            QSKIP("no exFAT mount here (needs root, exfatprogs, exfat-fuse and a loop device)");
        // Each library in a home of its own: its files in its own data folder.
        const LibraryHomes homes(work);
        const auto libraryIn = [&homes](const QString &name) { return homes.enter(name); };
        const QString name = "Album/01 One.mp3";
        const QString onDrive = drive.path + "/Aster Media/" + name;
        const testkit::MediaTags tags{"One", "Artist", "Album", "", "", 0, 1};
        const QDateTime then = QDateTime::currentDateTime().addDays(-2);

        testkit::MediaKit kit(libraryIn("first"));
        const QString first = kit.mp3(name, tags, {}, 3, 128);
        QVERIFY2(!first.isEmpty() && setTime(first, then), qPrintable(kit.lastError()));
        if (filled == "library") {
            QCOMPARE(copy({{1, song(1, first, "Album")}}, drive.path, false, qint64(1) << 30).outcome.written, 1);
        } else {
            // Both times given: exFAT's FUSE driver drops a modification
            // time set alone.
            QVERIFY(QDir().mkpath(QFileInfo(onDrive).path()) && QFile::copy(first, onDrive));
            QCOMPARE(QProcess::execute("touch", {"-d", "@" + QString::number(then.toSecsSinceEpoch()), onDrive}), 0);
        }

        testkit::MediaKit other(libraryIn("second"));
        testkit::MediaTags looked = tags;
        if (difference == "comment")
            looked.comment = "found by a lookup";
        const QString second = other.mp3(name, looked, {}, 3, difference == "bit rate" ? 256 : 128);
        QVERIFY2(!second.isEmpty() && setTime(second, then.addSecs(3600)), qPrintable(other.lastError()));
        QVERIFY(fileBytes(first) != fileBytes(second));

        const Run run = copy({{1, song(1, second, "Album")}}, drive.path, false, qint64(1) << 30, choice == "all",
                             choice == "quality", {}, choice == "newer");
        QVERIFY(run.outcome.leftOut.isEmpty() && run.outcome.halt == DriveCopier::Outcome::None);
        QCOMPARE(run.progress, QStringList{(replaced ? "Copying " : "Skip File ") + QFileInfo(name).fileName()});
        QCOMPARE(run.outcome.kept, replaced ? 0 : 1);
        QCOMPARE(QDir(drive.path + "/Aster Media/Album").entryList(QDir::Files), QStringList{"01 One.mp3"});
        QVERIFY(fileBytes(onDrive) == fileBytes(replaced ? second : first));
    }

    // A folder inside the target that is a link (to a folder elsewhere, or on
    // another volume) is never written through: its songs are left out and
    // named, with the reason, and the rest of the transfer goes on.  A media
    // root that is a link takes nothing at all.
    void linkedFolders_data()
    {
        QTest::addColumn<QString>("linked"); // what is a link, below the target
        QTest::addColumn<bool>("otherVolume");
        QTest::addRow("an album folder linked to a folder elsewhere") << "Aster Media/Album" << false;
        QTest::addRow("an album folder linked to another volume") << "Aster Media/Album" << true;
        QTest::addRow("the media root linked to a folder elsewhere") << "Aster Media" << false;
    }

    void linkedFolders()
    {
        QFETCH(QString, linked);
        QFETCH(bool, otherVolume);
        const QString work = dir.filePath("linked-" + QString(QTest::currentDataTag()).replace(' ', '_'));
        const QString target = work + "/target";
        const QString outside = work + "/outside";
        std::unique_ptr<TestMount> volume;
        if (otherVolume) {
            volume = std::make_unique<TestMount>(outside, "1m");
            if (!volume->ok)
                QSKIP("mounting tmpfs needs root");
        }
        testkit::MediaKit kit(work + "/src");
        const QString one = kit.mp3("01 One.mp3", {"One", "", "Album", "", "", 0, 1});
        const QString two = kit.mp3("02 Two.mp3", {"Two", "", "Album", "", "", 0, 2});
        const QString mixed = kit.mp3("Drive.mp3", {"Drive", "", "", "", "", 0, 1});
        const TrackMap tracks{
            {1, song(1, one, "Album")}, {2, song(2, two, "Album")}, {3, song(3, mixed, "Mix", "Mix")}};
        // Another song under a name the transfer wants, in the folder the link leads to.
        QVERIFY(testkit::touch(outside + "/01 One.mp3", "another song"));
        QVERIFY(QDir().mkpath(QFileInfo(target + "/" + linked).path()) && QFile::link(outside, target + "/" + linked));
        const auto outsideFiles = [&] {
            return QDir(outside).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        };
        const QStringList before = outsideFiles();

        const Run run = copy(tracks, target, true, 1, true);
        QCOMPARE(outsideFiles(), before);
        QCOMPARE(fileBytes(outside + "/01 One.mp3"), QByteArray("another song"));
        QCOMPARE(run.removed, 0);
        const QString why = "\"" + linked +
                            "\" on the drive is a link to another place, and nothing is written "
                            "through a link";
        if (linked == "Aster Media") {
            QCOMPARE(run.outcome.halt, DriveCopier::Outcome::Failed);
            QCOMPARE(run.outcome.reason, why);
            QCOMPARE(run.outcome.written, 0);
            return;
        }
        QCOMPARE(run.outcome.halt, DriveCopier::Outcome::None);
        QCOMPARE(run.outcome.leftOut, (QList<QPair<QString, QString>>{{"01 One.mp3", why}, {"02 Two.mp3", why}}));
        QCOMPARE(run.outcome.written, 1);
        QVERIFY(fileBytes(target + "/Aster Media/Mix/Drive.mp3") == fileBytes(mixed));
    }

    // A name found free when the job began is not looked up again before
    // its file is made: whatever took it meanwhile is still never replaced
    // or written through; the song gets a free name.
    void nameTakenSinceThePlan_data()
    {
        QTest::addColumn<bool>("link");
        QTest::addRow("another program's file") << false;
        QTest::addRow("a link to a file elsewhere") << true;
    }

    void nameTakenSinceThePlan()
    {
        QFETCH(bool, link);
        const QString work = dir.filePath("taken-" + QString(QTest::currentDataTag()).replace(' ', '_'));
        const QString target = work + "/target";
        testkit::MediaKit kit(work + "/src");
        const QString one = kit.mp3("01 One.mp3", {"One", "", "Album", "", "", 0, 1});
        const QString two = kit.mp3("02 Two.mp3", {"Two", "", "Album", "", "", 0, 2});
        const QString three = kit.mp3("03 Three.mp3", {"Three", "", "Album", "", "", 0, 3});
        const TrackMap tracks{{1, song(1, one, "Album")}, {2, song(2, two, "Album")}, {3, song(3, three, "Album")}};
        const QString taken = target + "/Aster Media/Album/03 Three.mp3";
        const QString elsewhere = work + "/elsewhere.mp3";
        QVERIFY(testkit::touch(elsewhere, "not this song"));
        bool made = false;
        // The first file's report goes out once the second is written: the
        // plan is long done, the third name not yet made.
        const auto takeTheName = [&](DriveCopier &copier) {
            connect(&copier, &DriveCopier::incrementProgress, [&](const QString &text) {
                if (made || !text.endsWith("01 One.mp3"))
                    return;
                made = link ? QFile::link(elsewhere, taken) : testkit::touch(taken, "another program's");
            });
        };

        const Run run = copy(tracks, target, true, 1, false, false, takeTheName);
        QVERIFY(made);
        QCOMPARE(run.outcome.written, 3);
        QCOMPARE(fileBytes(elsewhere), QByteArray("not this song"));
        if (link)
            QVERIFY(QFileInfo(taken).isSymLink());
        else
            QCOMPARE(fileBytes(taken), QByteArray("another program's"));
        QVERIFY(fileBytes(target + "/Aster Media/Album/03 Three (2).mp3") == fileBytes(three));
    }

    // A file the drive's record gives to another song of this library stays
    // that song's, even with the same bytes; once the library no longer has
    // that song, the same bytes are this one.
    void anotherSongOfThisLibrary_data()
    {
        QTest::addColumn<bool>("stillThere"); // the first song still in the library
        QTest::addColumn<QString>("second");  // the second song's report
        QTest::addRow("another song of the library: a name of its own") << true << "Copying Intro (2).mp3";
        QTest::addRow("a song the library no longer has: the same song") << false << "Skip File Intro.mp3";
    }

    void anotherSongOfThisLibrary()
    {
        QFETCH(bool, stillThere);
        const QString target = dir.filePath(QStringLiteral("this-library-%1").arg(stillThere));
        const QString ours = ruvoDB::programCopyFolder() + QStringLiteral("/this-library-%1").arg(stillThere);
        testkit::MediaKit kit(ours);
        const QString first = kit.mp3("A/Intro.mp3", {"Intro", "", "", "", "", 0, 1});
        const QString second = ours + "/B/Intro.mp3";
        QVERIFY(QDir().mkpath(ours + "/B") && QFile::copy(first, second));
        QCOMPARE(copy({{1, song(1, first, "Mix")}}, target, true, 1).outcome.written, 1);
        if (!stillThere)
            QVERIFY(QFile::remove(first));
        QTEST(copy({{2, song(2, second, "Mix")}}, target, true, 1).progress.join(", "), "second");
    }

    // The drive's record is proof only of a file it describes: a file of
    // another size than it recorded (another song written under the name,
    // by hand or by a transfer killed before its record was saved) or an
    // entry of an older record that has no size is judged by its bytes.
    void recordNoLongerVouches_data()
    {
        QTest::addColumn<QString>("record");   // "sized", or "unsized" (an older record's form)
        QTest::addColumn<QString>("onDrive");  // Song.mp3 then holds "other" song's bytes, or the "same"
        QTest::addColumn<QString>("then");     // the song then transferred twice ("again"), or "gone" from the library
        QTest::addColumn<QString>("expected"); // each transfer's reports, then the playlist's entries
        const QString beside = "Copying Song (2).mp3, Skip File Tune.mp3 | Skip File Song (2).mp3, Skip File Tune.mp3"
                               " | Mix/Song (2).mp3, Mix/Tune.mp3";
        QTest::addRow("another song in its place: the song goes beside it, and stays there")
            << "sized" << "other" << "again" << beside;
        QTest::addRow("another song in its place, the song gone: not listed in its playlist")
            << "sized" << "other" << "gone" << "Skip File Tune.mp3 | Mix/Tune.mp3";
        QTest::addRow("an older record without sizes is no proof") << "unsized" << "other" << "again" << beside;
        QTest::addRow("an older record without sizes, the same bytes: held by them")
            << "unsized" << "same" << "again"
            << "Skip File Song.mp3, Skip File Tune.mp3 | Skip File Song.mp3, Skip File Tune.mp3"
               " | Mix/Song.mp3, Mix/Tune.mp3";
    }

    void recordNoLongerVouches()
    {
        QFETCH(QString, record);
        QFETCH(QString, onDrive);
        QFETCH(QString, then);
        const QString target = dir.filePath("vouch-" + QString(QTest::currentDataTag()).replace(' ', '_'));
        const QString root = target + "/Aster Media/";
        testkit::MediaKit kit(target + "-src");
        const QString source = kit.mp3("Song.mp3", {"Song", "", "", "", "", 0, 1}, {}, 3, 128);
        const TrackMap tracks{
            {1, song(1, source, "Mix", "Mix")},
            {2, song(2, kit.mp3("Tune.mp3", {"Tune", "", "", "", "", 0, 2}, {}, 3, 128), "Mix", "Mix")}};
        QCOMPARE(copy(tracks, target, true, 1).outcome.written, 2);
        if (onDrive == "other") // of another size, as another song is
            QVERIFY(testkit::touch(root + "Mix/Song.mp3",
                                   fileBytes(kit.mp3("Other.mp3", {"Other", "", "", "", "", 0, 1}, {}, 4, 128))));
        if (record == "unsized") {
            QFile older(root + DriveManifest::fileName);
            QVERIFY(older.open(QIODevice::WriteOnly | QIODevice::Truncate));
            older.write(QJsonDocument(QJsonObject{{"files", QJsonObject{{"Mix/Song.mp3", source},
                                                                        {"Mix/Tune.mp3", tracks[2].filepath}}}})
                            .toJson());
        }
        if (then == "gone")
            QVERIFY(QFile::remove(source));
        QStringList seen;
        for (int round = 0; round < (then == "gone" ? 1 : 2); ++round)
            seen << copy(tracks, target, true, 1).progress.join(", ");
        QStringList entries;
        for (const QByteArray &line : fileBytes(root + "Mix.m3u").split('\n'))
            if (!line.isEmpty() && !line.startsWith('#'))
                entries << QString::fromUtf8(line);
        QTEST((seen + QStringList{entries.join(", ")}).join(" | "), "expected");
        for (const QString &entry : std::as_const(entries))
            QVERIFY2(fileBytes(root + entry) == fileBytes(tracks[entry.endsWith("Tune.mp3") ? 2 : 1].filepath),
                     qPrintable(entry));
    }

    // A transfer that writes no song but rewrites a playlist or the drive's
    // record still flushes the drive before its end, and says so.
    void flushedWhenOnlyRecordsChange_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addRow("a playlist rewritten") << "playlist";
        QTest::addRow("the drive's record written again") << "record";
    }

    void flushedWhenOnlyRecordsChange()
    {
        QFETCH(QString, change);
        const QString target = dir.filePath("flush-" + change);
        testkit::MediaKit kit(target + "-src");
        const QString list = change == "playlist" ? "Mix" : QString();
        const TrackMap tracks{{1, song(1, kit.mp3("A.mp3", {"A", "", "", "", "", 0, 1}), "Mix", list)},
                              {2, song(2, kit.mp3("B.mp3", {"B", "", "", "", "", 0, 2}), "Mix", list)}};
        QCOMPARE(copy(tracks, target, true, 1).outcome.written, 2);
        const QString record = target + "/Aster Media/" + DriveManifest::fileName;
        if (change == "record")
            QVERIFY(QFile::remove(record));
        const Run again = copy(tracks, target, true, 1);
        QCOMPARE(again.progress, (QStringList{"Skip File A.mp3", "Skip File B.mp3"}));
        QCOMPARE(again.outcome.written, 0);
        QCOMPARE(again.syncs, 1);
        QCOMPARE(again.syncedAfter, 1);
        QVERIFY(QFileInfo(record).isFile());
    }

    // A song replaced on a nearly full drive: the new version does not fit
    // beside the old one, but in its place.  The old file makes room for it;
    // only a song that can't fit even there stops the transfer as a full drive.
    void overwriteOnANearlyFullDrive_data()
    {
        QTest::addColumn<QString>("choice");
        QTest::addColumn<int>("seconds"); // the new version's length
        QTest::addColumn<int>("kbps");
        QTest::addColumn<QString>("result");
        // 640 KB on the drive of 1 MiB; 480 KB new.
        QTest::addRow("overwrite all") << "all" << 30 << 128 << "replaced";
        QTest::addRow("overwrite by quality") << "quality" << 15 << 256 << "replaced";
        QTest::addRow("too large even where the old file was") << "all" << 80 << 128 << "full, kept";
    }

    void overwriteOnANearlyFullDrive()
    {
        QFETCH(QString, choice);
        QFETCH(int, seconds);
        QFETCH(int, kbps);
        const QString where = dir.filePath("nearly-full-" + QString(QTest::currentDataTag()).replace(' ', '_'));
        TestMount drive(where, "1m");
        if (!drive.ok)
            QSKIP("mounting tmpfs needs root");
        testkit::MediaKit kit(where + "-src");
        const QString source = kit.mp3("Song.mp3", {"Song", "", "", "", "", 0, 1}, {}, 40, 128);
        const TrackMap tracks{{1, song(1, source, "Album")}};
        const auto free = [&] { return QStorageInfo(drive.path).bytesAvailable(); };
        QCOMPARE(copy(tracks, drive.path, false, free()).outcome.written, 1);
        const QByteArray old = fileBytes(source);
        const QString newer = kit.mp3("New.mp3", {"Song", "", "", "", "", 0, 1}, {}, seconds, kbps);
        QVERIFY(QFileInfo(newer).size() > free());
        QVERIFY(QFile::remove(source) && QFile::rename(newer, source));

        const Run run = copy(tracks, drive.path, false, free(), choice == "all", choice == "quality");
        const QString onDrive = drive.path + "/Aster Media/Album/Song.mp3";
        const QByteArray now = fileBytes(onDrive);
        const QString result = now == fileBytes(source) ? "replaced" : now == old ? "kept" : "damaged";
        QTEST(QString(run.diskFull ? "full, " : "") + result, "result");
        QCOMPARE(run.progress, run.diskFull ? QStringList() : QStringList{"Copying Song.mp3"});
        QCOMPARE(QDir(drive.path + "/Aster Media/Album").entryList(QDir::Files | QDir::Hidden),
                 QStringList{"Song.mp3"});
        if (!run.diskFull) // the drive's record follows the new file
            QCOMPARE(copy(tracks, drive.path, false, free()).progress, QStringList{"Skip File Song.mp3"});
    }

    // A playlist song that can't be given to the drive this time (its library
    // file went bad or is gone) is named, and the playlist keeps the copy an
    // earlier transfer left, in its place: the song stays reachable.
    void playlistKeepsAnEarlierCopy_data()
    {
        QTest::addColumn<bool>("exfat"); // names kept in one case in the drive's record
        QTest::addColumn<bool>("gone");  // the library file deleted, not made unplayable
        QTest::addRow("folder, file unplayable") << false << false;
        QTest::addRow("folder, file gone") << false << true;
        QTest::addRow("exFAT, file unplayable") << true << false;
    }

    void playlistKeepsAnEarlierCopy()
    {
        QFETCH(bool, exfat);
        QFETCH(bool, gone);
        QString target = dir.filePath(QStringLiteral("earlier-copy-%1-%2").arg(exfat).arg(gone));
        std::unique_ptr<TestMount> drive;
        if (exfat) {
            drive = std::make_unique<TestMount>(target, "8M", true);
            if (!drive->ok)
                QSKIP("no exFAT mount here (needs root, exfatprogs, exfat-fuse and a loop device)");
        }
        const bool folder = !exfat;
        const qint64 budget = exfat ? qint64(1) << 30 : 1;
        testkit::MediaKit kit(target + "-src");
        const QString a = kit.mp3("First.mp3", {"First", "", "", "", "", 0, 1}, {}, 3, 128);
        const QString b = kit.mp3("Second.mp3", {"Second", "", "", "", "", 0, 2}, {}, 3, 128);
        const QString c = kit.mp3("Third.mp3", {"Third", "", "", "", "", 0, 3}, {}, 3, 128);
        const TrackMap tracks{{1, song(1, a, "Mix", "Mix")}, {2, song(2, b, "Mix", "Mix")}, {3, song(3, c, "Mix", "Mix")}};
        const QByteArray all("#EXTM3U:\n#EXTINF:\nMix/First.mp3\n#EXTINF:\nMix/Second.mp3\n#EXTINF:\nMix/Third.mp3\n");
        QCOMPARE(copy(tracks, target, folder, budget).outcome.written, 3);
        QCOMPARE(fileBytes(target + "/Aster Media/Mix.m3u"), all);

        QVERIFY(gone ? QFile::remove(b) : testkit::touch(b, QByteArray(int(QFileInfo(b).size()), '\0')));
        const Run again = copy(tracks, target, folder, budget, true);
        QCOMPARE(again.outcome.leftOut.size(), 1);
        QCOMPARE(again.outcome.leftOut.first().first, QStringLiteral("Second.mp3"));
        QCOMPARE(fileBytes(target + "/Aster Media/Mix.m3u"), all);
        QVERIFY(!fileBytes(target + "/Aster Media/Mix/Second.mp3").startsWith(QByteArray(16, '\0')));
        if (gone) {
            // With no earlier copy, missing songs leave the drive untouched.
            const QString fresh = target + "-fresh";
            const Run none = copy({{2, song(2, b, "Mix", "Mix")}, {4, song(4, b, "Album")}}, fresh, folder, budget);
            QCOMPARE(none.outcome.leftOut.size(), 2);
            QCOMPARE(QDir(fresh).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
        }
    }

    // A song already on the drive, and the library's file changed since: the
    // overwrite choices decide, by time (in FAT's two-second steps) and bit rate.
    void overwriteChoices_data()
    {
        QTest::addColumn<QString>("choice");
        QTest::addColumn<int>("ageSeconds"); // the library file's time after the drive's
        QTest::addColumn<int>("kbps");       // the library file's bit rate; the drive's is 128
        QTest::addColumn<QString>("result");
        QTest::addRow("newer: a newer library file replaces") << "newer" << 3600 << 128 << "replaced";
        QTest::addRow("newer: an older library file stays") << "newer" << -3600 << 128 << "kept";
        QTest::addRow("newer: one second is within FAT's step") << "newer" << 1 << 128 << "kept";
        QTest::addRow("no choice keeps a newer file") << "none" << 3600 << 256 << "kept";
        QTest::addRow("all wins over an older library file") << "all" << -3600 << 128 << "replaced";
        QTest::addRow("quality: an older file of a higher bit rate replaces") << "quality" << -3600 << 256 << "replaced";
        QTest::addRow("quality alone: newer but no better stays") << "quality" << 3600 << 128 << "kept";
        QTest::addRow("newer or quality: older but better replaces") << "newer quality" << -3600 << 256 << "replaced";
        QTest::addRow("newer or quality: newer, no better, replaces") << "newer quality" << 3600 << 128 << "replaced";
        QTest::addRow("newer or quality: older and no better stays") << "newer quality" << -3600 << 128 << "kept";
    }

    void overwriteChoices()
    {
        QFETCH(QString, choice);
        QFETCH(int, ageSeconds);
        QFETCH(int, kbps);
        const QString target = dir.filePath("choice-" + QString(QTest::currentDataTag()).replace(' ', '_'));
        testkit::MediaKit kit(target + "-src");
        const QString source = kit.mp3("Song.mp3", {"First", "", "", "", "", 0, 1}, {}, 3, 128);
        const QString onDrive = target + "/Aster Media/Album/Song.mp3";
        const TrackMap tracks{{1, song(1, source, "Album")}};
        QCOMPARE(copy(tracks, target, true, 1).outcome.written, 1);
        const QByteArray first = fileBytes(source);

        // The library's file is replaced by another version of the song.
        const QString other = kit.mp3("Other.mp3", {"Second", "", "", "", "", 0, 1}, {}, 3, kbps);
        QVERIFY(QFile::remove(source) && QFile::rename(other, source));
        const QDateTime then = QDateTime::currentDateTime().addDays(-1);
        QVERIFY(setTime(onDrive, then) && setTime(source, then.addSecs(ageSeconds)));
        const QStringList words = choice.split(' ');
        const auto transfer = [&] {
            return copy(tracks, target, true, 1, words.contains("all"), words.contains("quality"), {},
                        words.contains("newer"));
        };
        transfer();
        const QByteArray now = fileBytes(onDrive);
        QTEST(QString(now == fileBytes(source) ? "replaced" : now == first ? "kept" : "damaged"), "result");
        if (now == first)
            return;
        // The copy keeps the library file's time: the next transfer replaces nothing.
        QVERIFY(qAbs(QFileInfo(onDrive).lastModified().msecsTo(QFileInfo(source).lastModified())) <= 2000);
        if (choice != "all")
            QCOMPARE(transfer().progress, QStringList{"Skip File Song.mp3"});
    }

    // A source is converted once per job however many tracks name it, and
    // again only when it has changed: the car then gets the new conversion.
    void conversionsOfOneSource_data()
    {
        QTest::addColumn<QString>("job");
        QTest::addRow("library job: one source in two playlists") << "library";
        QTest::addRow("drive job: one source in an album and a playlist") << "drive";
        QTest::addRow("drive job again after the source changed") << "changed";
    }

    void conversionsOfOneSource()
    {
        QFETCH(QString, job);
        const QString work = dir.filePath("once-" + job);
        testkit::MediaKit kit(work);
        const QString source = kit.flac("Tune.flac", {"Tune " + job, "", "", "", "", 0, 1});
        // The fake converter logs its run and writes the input's size as its output.
        ExternalProgram::setToolPath(ExternalProgram::Ffmpeg,
                                     testkit::MediaKit::fakeTool(work, "ffmpeg",
                                                                 QString("echo run >> '%1/runs.log'; "
                                                                         "eval last=\\${$#}; wc -c < \"$3\" > \"$last\"")
                                                                     .arg(work)));
        const auto runs = [&] { return int(fileBytes(work + "/runs.log").count('\n')); };
        const auto madeOf = [](const QString &file) { return QByteArray::number(QFileInfo(file).size()) + '\n'; };
        track t = song(1, source, "Once " + job);
        if (job == "library") {
            t.sourcePath = source;
            t.filepath = work + "/library/Tune.flac";
            track other = t;
            other.id = 2;
            t.playlist = "One";
            other.playlist = "Two";
            transferDetail detail;
            detail.system = profile;
            QVERIFY(!ffmpeghandler().TranscodeOnOK({{1, t}, {2, other}}, detail).isEmpty());
            QCOMPARE(runs(), 1);
            return;
        }
        track listed = t;
        listed.id = 2;
        listed.playlist = "List " + job;
        const QString target = work + "/car";
        const TrackMap tracks{{1, t}, {2, listed}};
        QCOMPARE(copy(tracks, target, true, 1, true).outcome.written, 2);
        QCOMPARE(runs(), 1);
        const QString onCar = target + "/Aster Media/Once " + job + "/Tune.m4a";
        QCOMPARE(fileBytes(onCar), madeOf(source));
        QCOMPARE(fileBytes(target + "/Aster Media/List " + job + "/Tune.m4a"), madeOf(source));
        if (job != "changed")
            return;
        QVERIFY(QFile::remove(source));
        QCOMPARE(kit.flac("Tune.flac", {"Tune changed", "", "", "", "", 0, 1}, {}, 5), source);
        QCOMPARE(copy(tracks, target, true, 1, true).outcome.written, 2);
        QCOMPARE(runs(), 2);
        QCOMPARE(fileBytes(onCar), madeOf(source));
    }

private:
    static bool setTime(const QString &path, const QDateTime &time)
    {
        QFile file(path);
        return file.open(QIODevice::ReadWrite) && file.setFileTime(time, QFileDevice::FileModificationTime);
    }

    struct Run
    {
        int reported = 0;
        QStringList progress;
        int diskFull = 0;
        int removed = 0;
        int syncs = 0;
        int syncedAfter = -1; // reports before the flush began
        DriveCopier::Outcome outcome;
    };

    Run copy(const TrackMap &tracks, const QString &target, bool folder, qint64 budget, bool all = false,
             bool quality = false, std::function<void(DriveCopier &)> hook = {}, bool newer = false)
    {
        QDir().mkpath(target);
        DriveCopier copier;
        Run run;
        connect(&copier, &DriveCopier::incrementProgress, [&run](const QString &f) { run.progress << f; });
        connect(&copier, &DriveCopier::sgDiskFull, [&run] { ++run.diskFull; });
        connect(&copier, &DriveCopier::sgDriveRemoved, [&run] { ++run.removed; });
        connect(&copier, &DriveCopier::sgSyncing, [&run] {
            ++run.syncs;
            run.syncedAfter = int(run.progress.size());
        });
        if (hook)
            hook(copier);
        transferDetail d;
        d.drivePath = target;
        d.freeSpace = budget;
        d.isSystem = folder;
        d.system = profile;
        d.overwriteall = all;
        d.overwritequality = quality;
        d.overwritenewer = newer;
        std::atomic<bool> stop{false};
        run.reported = copier.copyFilesToDrive(tracks, d, stop);
        run.outcome = copier.lastOutcome();
        return run;
    }

    track song(int id, const QString &path, const QString &album, const QString &playlist = QString(),
               const QString &title = QString())
    {
        track t;
        t.id = id;
        t.filepath = path;
        t.albumName = album;
        t.playlist = playlist;
        t.trackname = title.isEmpty() ? QFileInfo(path).completeBaseName() : title;
        t.filesize = QFileInfo(path).size();
        return t;
    }

    QTemporaryDir dir;
    TrackMap library;
    SystemDetails profile;
};

CORVANE_TEST_MAIN(TestDriveCopier)
#include "tst_drivecopier.moc"
