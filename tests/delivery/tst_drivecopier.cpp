#include <QtTest>

#include <QDirIterator>
#include <QtConcurrent/QtConcurrentRun>

#include <atomic>

#include <taglib/fileref.h>
#include <taglib/tag.h>

#include "delivery/drivecopier.h"
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
        QCOMPARE(QFileInfo(t.filepath).suffix() + ' ' + t.codec + ' ' + conv.askForCodec(t.filepath), "m4a aac aac");
        TagLib::FileRef ref(QFile::encodeName(t.filepath).constData());
        QVERIFY(!ref.isNull());
        QCOMPARE(TStringToQString(ref.tag()->title()), QStringLiteral("Ünïcødé Song"));
        QCOMPARE(testkit::scalar("SELECT count(*) FROM tracks WHERE filepath = ?", {t.filepath}).toInt(), 1);
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
        // nothing for it; a file it can't convert is named and the rest go on.
        const QString cached = ffmpeghandler::cacheFolder() + "/Été/1 Ça ira 東京.m4a";
        QCOMPARE(DriveCopier().askForCodec(cached), QString("aac"));
        ExternalProgram::setToolPath(ExternalProgram::Ffmpeg,
                                     testkit::MediaKit::fakeTool(dir.path(), "ffmpeg", "exit 1"));
        const QString target = dir.filePath("cached");
        // A damaged "MP3" (ffprobe would name it after its extension) is no MP3.
        QVERIFY(testkit::touch(dir.filePath("damaged/junk.mp3"), QByteArray(300000, 'z')));
        const TrackMap tracks{{7, library.value(7)},
                              {10, song(10, library.value(7).filepath, "Album One")},
                              {11, library.value(1)},
                              {12, song(12, dir.filePath("damaged/junk.mp3"), "Album One")}};
        const Run run = copy(tracks, target, true, 1);
        QCOMPARE(run.progress, (QStringList{"Copying 1 Ça ira 東京.m4a", "Skip File lossless.flac",
                                            "Copying 01 One.mp3", "Skip File junk.mp3"}));
        QCOMPARE(run.diskFull, 0);
        QStringList leftOut;
        for (const auto &[name, why] : run.outcome.leftOut)
            leftOut << name + ": " + why;
        QCOMPARE(leftOut, (QStringList{"lossless.flac: no format the car plays could be made of it",
                                       "junk.mp3: no format the car plays could be made of it"}));
        QCOMPARE(fileBytes(target + "/Aster Media/Été/1 Ça ira 東京.m4a"), fileBytes(cached));
    }

    void oneFile_data()
    {
        QTest::addColumn<QString>("setup"); // the bit rate of a file already there (0: none), then options
        QTest::addColumn<QString>("result");

        QTest::addRow("overwrite all replaces") << "256 all" << "replaced";
        QTest::addRow("by quality replaces a lower bit rate") << "128 quality" << "replaced";
        QTest::addRow("by quality keeps an equal bit rate") << "256 quality" << "kept";
        QTest::addRow("no choice keeps the file") << "128" << "kept";
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
        QTest::addRow("a name the drive refuses: that file only")
            << "refused" << "2.mp3: it could not be written to the drive (File name too long)";
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
        if (mode == "refused")
            tracks[2].albumName = QString(300, 'a');
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
        QCOMPARE(seen, ending);
        QCOMPARE(run.progress.size() < tracks.size(), mode != "refused");
        // No file is left half-written; nothing goes to the folder a pulled drive leaves.
        for (const track &t : std::as_const(tracks)) {
            const QFileInfo onDrive(target + QString("/Aster Media/%1/%1.mp3").arg(t.id));
            QVERIFY(!onDrive.exists() || onDrive.size() == t.filesize);
        }
        QVERIFY(partialFiles(target).isEmpty());
        QVERIFY(ending != "removed" || !QFileInfo::exists(drive.path + "/Aster Media"));
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
    }

private:
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
             bool quality = false, std::function<void(DriveCopier &)> hook = {})
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
        std::atomic<bool> stop{false};
        run.reported = copier.copyFilesToDrive(tracks, d, {}, stop);
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
