#include <QtTest>

#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>

#include <atomic>
#include <cstdio>
#include <sys/resource.h>

#include "delivery/drivecopier.h"
#include "delivery/drivemanifest.h"
#include "libraryfixture.h"
#include "mediakit.h"
#include "platform/temporaryfiles.h"
#include "platform/writeorder.h"
#include "scanfixture.h"
#include "testenv.h"

using testkit::fileBytes;

namespace {

SystemDetails carProfile()
{
    SystemDetails profile;
    profile.name = "System A";
    profile.vehicleName = "Aster";
    profile.codec = "aac";
    profile.audioExtension = "m4a";
    profile.audioCodecs = {{"aac", "m4a,m4b,mp4,aac", "AAC"}, {"mp3", "mp3", "MP3"}};
    return profile;
}

track playlistSong(int id, const QString &path)
{
    track t;
    t.id = id;
    t.filepath = path;
    t.albumName = "Mix";
    t.playlist = "Mix";
    t.trackname = QFileInfo(path).completeBaseName();
    t.filesize = QFileInfo(path).size();
    return t;
}

TrackMap playlistOf(const QStringList &sources)
{
    TrackMap tracks;
    for (int i = 0; i < sources.size(); ++i)
        tracks.insert(i + 1, playlistSong(i + 1, sources.at(i)));
    return tracks;
}

struct Options
{
    qint64 budget = 0;    // non-zero: a drive with this many bytes free
    int cancelAfter = -1; // cancels once this many reports went out
    bool overwriteAll = false;
};

DriveCopier::Outcome transfer(const TrackMap &tracks, const QString &target, const Options &options = {})
{
    QDir().mkpath(target);
    DriveCopier copier;
    std::atomic<bool> stop{false};
    int reports = 0;
    QObject::connect(&copier, &DriveCopier::incrementProgress, [&](const QString &) {
        if (++reports == options.cancelAfter)
            stop = true;
    });
    transferDetail detail;
    detail.drivePath = target;
    detail.isSystem = options.budget == 0;
    detail.freeSpace = options.budget;
    detail.overwriteall = options.overwriteAll;
    detail.system = carProfile();
    copier.copyFilesToDrive(tracks, detail, stop);
    return copier.lastOutcome();
}

QStringList m3uEntries(const QString &m3u)
{
    QStringList entries;
    const QList<QByteArray> lines = fileBytes(m3u).split('\n');
    for (const QByteArray &line : lines) {
        if (!line.isEmpty() && !line.startsWith('#'))
            entries << QString::fromUtf8(line);
    }
    return entries;
}

} // namespace

// A transfer that does not run to its end, by cancel, a full drive or a kill,
// and a drive whose record of its files is damaged or no longer true: the
// next look at the drive must still reach every song, each once.
class TestDriveTransferRecovery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        testkit::MediaKit kit(dir.filePath("songs"));
        // Two different songs of one name, as a playlist may hold them.
        for (const QString name : {"a/01 Intro.mp3", "b/01 Intro.mp3", "c/Cruise.mp3", "d/Dusk.mp3"}) {
            const QString made =
                kit.mp3(name, {QFileInfo(name).path(), "", "", "", "", 0, 1}, {}, 3, name.startsWith('a') ? 128 : 192);
            QVERIFY2(!made.isEmpty(), qPrintable(kit.lastError()));
            songs << made;
        }
    }

    // A playlist on the drive, then a longer transfer of it that ends early:
    // the songs the first one put there stay listed, and nothing listed is
    // missing (a song deleted from the drive since is no longer listed).
    void playlistKeptWhenEndedEarly_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<bool>("deleted"); // one of the earlier songs deleted from the drive before
        QTest::addRow("cancelled after the new songs") << true << false;
        QTest::addRow("drive full after the first new song") << false << false;
        QTest::addRow("cancelled, an earlier song deleted from the drive") << true << true;
    }

    void playlistKeptWhenEndedEarly()
    {
        QFETCH(bool, cancel);
        QFETCH(bool, deleted);
        const QString target = dir.filePath(QTest::currentDataTag());
        const QString m3u = target + "/Aster Media/Mix.m3u";
        // The earlier transfer holds the last two songs; the new songs come first.
        QCOMPARE(transfer(playlistOf(songs.mid(2)), target).halt, DriveCopier::Outcome::None);
        QStringList before = m3uEntries(m3u);
        QCOMPARE(before.size(), 2);
        if (deleted)
            QVERIFY(QFile::remove(target + "/Aster Media/" + before.takeLast()));

        Options options;
        if (cancel)
            options.cancelAfter = 1; // the first report goes out as the second song is in
        else
            options.budget = QFileInfo(songs.at(0)).size() + 1;
        const DriveCopier::Outcome cut = transfer(playlistOf(songs), target, options);
        QCOMPARE(cut.halt, cancel ? DriveCopier::Outcome::Cancelled : DriveCopier::Outcome::Full);

        const QStringList after = m3uEntries(m3u);
        for (const QString &entry : before)
            QVERIFY2(after.contains(entry), qPrintable(entry));
        QCOMPARE(after.size(), before.size() + (cancel ? 2 : 1));
        QSet<QByteArray> listed;
        for (const QString &entry : after) {
            const QString file = target + "/Aster Media/" + entry;
            QVERIFY2(QFileInfo(file).isFile(), qPrintable(entry));
            listed.insert(fileBytes(file));
        }
        QCOMPARE(listed.size(), after.size()); // each entry a song of its own
    }

    // The drive's record says a file holds a song, but the file was changed
    // since (another song written under its name by a transfer that was
    // killed before its record was saved, or by hand); or the record is not
    // one at all.  Every song ends on the drive, each reached by its entry.
    void untrueRecord_data()
    {
        QTest::addColumn<QString>("record");
        QTest::addRow("another song under a recorded name") << "swapped";
        QTest::addRow("not JSON") << "garbage";
        QTest::addRow("wrong types") << "types";
        QTest::addRow("far too large") << "huge";
        QTest::addRow("a folder") << "folder";
        QTest::addRow("a pipe") << "pipe";
    }

    void untrueRecord()
    {
        QFETCH(QString, record);
        const QString target = dir.filePath("record-" + record);
        const QString root = target + "/Aster Media/";
        const QString recordPath = root + DriveManifest::fileName;
        const QStringList two = songs.mid(0, 2); // two songs named "01 Intro.mp3"
        QCOMPARE(transfer(playlistOf(two.mid(0, 1)), target).halt, DriveCopier::Outcome::None);
        QVERIFY(QFileInfo(recordPath).isFile());
        if (record == "swapped") {
            QVERIFY(QFile::remove(root + "Mix/01 Intro.mp3") && QFile::copy(two.at(1), root + "Mix/01 Intro.mp3"));
        } else {
            QVERIFY(QFile::remove(recordPath));
            if (record == "folder") {
                QVERIFY(QDir().mkpath(recordPath));
            } else if (record == "pipe") {
                QCOMPARE(QProcess::execute("mkfifo", {recordPath}), 0);
            } else {
                QFile file(recordPath);
                QVERIFY(file.open(QIODevice::WriteOnly));
                if (record == "garbage")
                    file.write("\x89{\"files\": {\"Mix/01 Intro.mp3\"");
                else if (record == "types")
                    file.write("{\"files\": {\"Mix/01 Intro.mp3\": 5, \"x\": [1], \"y\": {\"source\": 1, "
                               "\"size\": \"big\"}}}");
                else
                    QVERIFY(file.resize(qint64(1) << 30)); // sparse: no disc used
            }
        }

        const DriveCopier::Outcome again = transfer(playlistOf(two), target);
        QCOMPARE(again.halt, DriveCopier::Outcome::None);
        QVERIFY(again.leftOut.isEmpty());
        const QStringList entries = m3uEntries(root + "Mix.m3u");
        QCOMPARE(entries.size(), 2);
        for (int i = 0; i < 2; ++i)
            QVERIFY2(fileBytes(root + entries.at(i)) == fileBytes(two.at(i)), qPrintable(entries.at(i)));
        if (record != "folder" && record != "pipe") {
            // The record written now describes the files as they are.
            QVERIFY(QFileInfo(recordPath).size() < 4096);
            QCOMPARE(transfer(playlistOf(two), target).written, 0);
        }
    }

    // A transfer killed at some moment (whichever it is), then a new one:
    // every song on the drive once, every entry the right song, no file left
    // half-written.
    void killedTransferThenAnother()
    {
        const QString target = dir.filePath("killed");
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), QStringList{"--transfer-child", target} + songs);
        QVERIFY(child.waitForStarted());
        // Into its second round, where it writes over the files of the first.
        int lines = 0;
        while (lines < songs.size() + 2) {
            QVERIFY2(child.waitForReadyRead(60000), "the child reported no progress");
            lines += child.readAll().count('\n');
        }
        child.kill();
        QVERIFY(child.waitForFinished(60000));

        QCOMPARE(transfer(playlistOf(songs), target).halt, DriveCopier::Outcome::None);
        const QString root = target + "/Aster Media/";
        const QStringList entries = m3uEntries(root + "Mix.m3u");
        QCOMPARE(entries.size(), songs.size());
        for (int i = 0; i < songs.size(); ++i)
            QVERIFY2(fileBytes(root + entries.at(i)) == fileBytes(songs.at(i)), qPrintable(entries.at(i)));
        QCOMPARE(QDir(root + "Mix").entryList(QDir::Files | QDir::Hidden).size(), songs.size());
        QDirIterator all(target, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (all.hasNext()) {
            const QString file = all.next();
            QVERIFY2(!TemporaryFiles::isTemporaryName(QFileInfo(file).fileName()), qPrintable(file));
        }
    }

    // A transfer cut short while it wrote a song new on the drive straight
    // under its name: the name stands in the drive's record as being
    // written, the file holds what had reached the drive.  The next transfer
    // of the song replaces it with the whole song (never keeps it, never puts
    // the song beside it under another name); one that doesn't take the song
    // leaves the file alone, still named as being written, for a later one.
    void unfinishedWrite_data()
    {
        QTest::addColumn<int>("written"); // quarters of the song that reached the drive
        QTest::addColumn<bool>("again");  // the song is in the next transfer
        QTest::addRow("half the song") << 2 << true;
        QTest::addRow("nothing yet") << 0 << true;
        QTest::addRow("the whole song, not yet recorded") << 4 << true;
        QTest::addRow("half the song, not in the next transfer") << 2 << false;
    }

    void unfinishedWrite()
    {
        QFETCH(int, written);
        QFETCH(bool, again);
        const QString target = dir.filePath("unfinished-" + QString(QTest::currentDataTag()).replace(' ', '-'));
        const QString root = target + "/Aster Media/";
        const QString song = songs.at(2);
        const QString name = "Mix/" + QFileInfo(song).fileName();
        // What a killed transfer of song 2 leaves: an earlier transfer's song
        // 3, then song 2 named as being written and partly there.
        QCOMPARE(transfer(playlistOf(songs.mid(3, 1)), target).halt, DriveCopier::Outcome::None);
        QJsonObject record = QJsonDocument::fromJson(fileBytes(root + DriveManifest::fileName)).object();
        QJsonObject files = record.value("files").toObject();
        QCOMPARE(files.size(), 1);
        files.insert(name, QJsonObject{{"source", QDir::cleanPath(song)}, {"writing", true}});
        record.insert("files", files);
        QFile recordFile(root + DriveManifest::fileName);
        QVERIFY(recordFile.open(QIODevice::WriteOnly | QIODevice::Truncate));
        recordFile.write(QJsonDocument(record).toJson());
        recordFile.close();
        const QByteArray whole = fileBytes(song);
        QFile half(root + name);
        QVERIFY(half.open(QIODevice::WriteOnly));
        half.write(whole.left(whole.size() * written / 4));
        half.close();

        const QStringList next = again ? QStringList{song, songs.at(3)} : QStringList{songs.at(3)};
        const DriveCopier::Outcome outcome = transfer(playlistOf(next), target);
        QCOMPARE(outcome.halt, DriveCopier::Outcome::None);
        QVERIFY(outcome.leftOut.isEmpty());
        QStringList expected = {QFileInfo(songs.at(3)).fileName(), QFileInfo(song).fileName()};
        expected.sort();
        QCOMPARE(QDir(root + "Mix").entryList(QDir::Files | QDir::Hidden, QDir::Name), expected);
        QVERIFY(fileBytes(root + name) == (again ? whole : whole.left(whole.size() * written / 4)));
        const QStringList entries = m3uEntries(root + "Mix.m3u");
        QCOMPARE(entries.size(), next.size());
        // The record vouches for what is there now; only a file left alone
        // is still named as being written.
        const QJsonObject after =
            QJsonDocument::fromJson(fileBytes(root + DriveManifest::fileName)).object().value("files").toObject();
        QCOMPARE(after.size(), 2);
        for (auto it = after.constBegin(); it != after.constEnd(); ++it) {
            const QJsonObject fields = it.value().toObject();
            if (!again && it.key() == name) {
                QVERIFY(fields.value("writing").toBool() && !fields.contains("size"));
                continue;
            }
            QVERIFY2(!fields.contains("writing"), qPrintable(it.key()));
            QCOMPARE(fields.value("size").toInteger(), QFileInfo(root + it.key()).size());
        }
        // And the transfer after it has nothing to do.
        QCOMPARE(transfer(playlistOf(next), target).written, 0);
        if (again)
            return;
        // A later transfer of the song makes it whole.
        QCOMPARE(transfer(playlistOf({song, songs.at(3)}), target).written, 1);
        QVERIFY(fileBytes(root + name) == whole);
    }

    // A drive's record is outside input: a name it gives as being written
    // is no licence to delete what is there.  Only a transfer that writes
    // that same song under that very name replaces the file, and never a
    // file larger than the song.
    void unfinishedNamesAreNoLicence_data()
    {
        QTest::addColumn<QString>("name");   // named in the record as being written for the transfer's song
        QTest::addColumn<QString>("placed"); // where the song goes
        QTest::addRow("the user's notes in the media root") << "My Notes.txt"
                                                            << "Mix/Cruise.mp3";
        QTest::addRow("the user's video in a folder of its own") << "Holiday/video.mp4"
                                                                 << "Mix/Cruise.mp3";
        QTest::addRow("a file larger than the song under its name") << "Mix/Cruise.mp3"
                                                                    << "Mix/Cruise (2).mp3";
    }

    void unfinishedNamesAreNoLicence()
    {
        QFETCH(QString, name);
        QFETCH(QString, placed);
        const QString target = dir.filePath("licence-" + QString(QTest::currentDataTag()).replace(' ', '-'));
        const QString root = target + "/Aster Media/";
        const QString song = songs.at(2);
        QCOMPARE(transfer(playlistOf(songs.mid(3, 1)), target).halt, DriveCopier::Outcome::None);
        const QByteArray users = QByteArray("the user's own file ").repeated(8000);
        QVERIFY(users.size() > QFileInfo(song).size());
        QVERIFY(testkit::touch(root + name, users));
        QJsonObject record = QJsonDocument::fromJson(fileBytes(root + DriveManifest::fileName)).object();
        QJsonObject files = record.value("files").toObject();
        files.insert(name, QJsonObject{{"source", QDir::cleanPath(song)}, {"writing", true}});
        record.insert("files", files);
        QVERIFY(testkit::touch(root + DriveManifest::fileName, QJsonDocument(record).toJson()));

        const DriveCopier::Outcome outcome = transfer(playlistOf(songs.mid(2, 2)), target);
        QCOMPARE(outcome.halt, DriveCopier::Outcome::None);
        QVERIFY(outcome.leftOut.isEmpty());
        QCOMPARE(fileBytes(root + name), users);
        QVERIFY(fileBytes(root + placed) == fileBytes(song));
        QCOMPARE(m3uEntries(root + "Mix.m3u"), (QStringList{placed, "Mix/" + QFileInfo(songs.at(3)).fileName()}));
    }

    // A transfer that planned a song but never wrote it (the drive was full
    // first) leaves the name free in the drive's record: a file the user
    // puts there later is not taken for the song's unfinished copy.
    void plannedNameNeverWritten()
    {
        const QString target = dir.filePath("planned");
        const QString root = target + "/Aster Media/";
        const QStringList two = songs.mid(2, 2);
        Options options;
        options.budget = QFileInfo(two.at(0)).size() + 1;
        QCOMPARE(transfer(playlistOf(two), target, options).halt, DriveCopier::Outcome::Full);
        const QString later = root + "Mix/" + QFileInfo(two.at(1)).fileName();
        QVERIFY(!QFileInfo::exists(later));
        QVERIFY(testkit::touch(later, "copied here by hand"));

        QCOMPARE(transfer(playlistOf(two), target).halt, DriveCopier::Outcome::None);
        QCOMPARE(fileBytes(later), QByteArray("copied here by hand"));
        QVERIFY(fileBytes(root + "Mix/" + QFileInfo(two.at(1)).completeBaseName() + " (2).mp3") ==
                fileBytes(two.at(1)));
    }

    // The record the copier itself puts on the drive before it writes a new
    // song, read as a cut at that moment leaves it: the song's half copy is
    // known as unfinished, and the next transfer makes it whole rather than
    // keeping it as the song.
    void cutAfterTheFirstRecord()
    {
        const QString target = dir.filePath("first-record");
        const QString root = target + "/Aster Media/";
        const QString recordPath = root + DriveManifest::fileName;
        const QString song = songs.at(2);
        const QString onDrive = root + "Mix/" + QFileInfo(song).fileName();
        QByteArray atFirstWrite;
        WriteOrder::setRecorder([&](WriteOrder::Event event, const QString &path) {
            if (event == WriteOrder::Event::FileCreated && QDir::cleanPath(path) == onDrive && atFirstWrite.isEmpty())
                atFirstWrite = fileBytes(recordPath);
        });
        const DriveCopier::Outcome first = transfer(playlistOf({song}), target);
        WriteOrder::setRecorder({});
        QCOMPARE(first.written, 1);
        QVERIFY(!atFirstWrite.isEmpty());

        // The cut: that record, and half the song.
        QVERIFY(testkit::touch(recordPath, atFirstWrite));
        const QByteArray whole = fileBytes(song);
        QVERIFY(testkit::touch(onDrive, whole.left(whole.size() / 2)));

        const DriveCopier::Outcome again = transfer(playlistOf({song}), target);
        QCOMPARE(again.halt, DriveCopier::Outcome::None);
        QVERIFY(fileBytes(onDrive) == whole);
        QCOMPARE(QDir(root + "Mix").entryList(QDir::Files).size(), 1);
    }

    // A record of millions of tiny entries is read only so far: the entries
    // past a stick's worth vouch for nothing, and reading it takes no more
    // memory than a real record.
    void hugeRecordIsBounded()
    {
        const QString root = dir.filePath("huge") + "/Aster Media";
        QVERIFY(testkit::touch(root + "/Mix/first.mp3", "first") && testkit::touch(root + "/Mix/last.mp3", "last"));
        {
            QFile record(root + "/" + DriveManifest::fileName);
            QVERIFY(record.open(QIODevice::WriteOnly));
            record.write("{\"files\":{\"Mix/first.mp3\":{\"source\":\"/music/first.mp3\",\"size\":5}");
            QByteArray chunk;
            for (int i = 0; i < 2000000; ++i) {
                chunk += ",\"" + QByteArray::number(i) + "\":{\"source\":\"s\",\"size\":1}";
                if (chunk.size() > (1 << 20))
                    record.write(std::exchange(chunk, QByteArray()));
            }
            record.write(chunk + ",\"Mix/last.mp3\":{\"source\":\"/music/last.mp3\",\"size\":4}}}");
        }
        struct rusage before
        {
        };
        getrusage(RUSAGE_SELF, &before);
        DriveManifest manifest;
        manifest.load(root, false);
        struct rusage after
        {
        };
        getrusage(RUSAGE_SELF, &after);
        QCOMPARE(manifest.sourceOf(root + "/Mix/first.mp3"), "/music/first.mp3");
        QCOMPARE(manifest.sourceOf(root + "/Mix/last.mp3"), QString());
#ifdef __SANITIZE_ADDRESS__
        return; // the sanitizer's own bookkeeping of each allocation is no measure
#endif
        // ru_maxrss is in KiB.  Unbounded, the record took about 1 GiB.
        QVERIFY2(after.ru_maxrss - before.ru_maxrss < 400 * 1024,
                 qPrintable(QString::number((after.ru_maxrss - before.ru_maxrss) / 1024) + " MiB"));
    }

    // A drive's record is outside input: a name "being written" that leads
    // out of the media root, or through a link in it, never costs a file
    // there.
    void unfinishedNamesStayOnTheDrive_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addRow("a name climbing out of the media root") << "../../outside/keep.mp3";
        QTest::addRow("an absolute name") << "ABSOLUTE";
        QTest::addRow("a name through a linked folder") << "Linked/keep.mp3";
    }

    void unfinishedNamesStayOnTheDrive()
    {
        QFETCH(QString, name);
        const QString target = dir.filePath("hostile-" + QString(QTest::currentDataTag()).replace(' ', '-'));
        const QString root = target + "/Aster Media/";
        const QString outside = dir.filePath("outside-" + QString(QTest::currentDataTag()).replace(' ', '-'));
        QVERIFY(QDir().mkpath(outside));
        const QString kept = outside + "/keep.mp3";
        QVERIFY(testkit::touch(kept, "not the program's"));
        QCOMPARE(transfer(playlistOf(songs.mid(3, 1)), target).halt, DriveCopier::Outcome::None);
        if (name == "ABSOLUTE")
            name = kept;
        else if (name.startsWith("../"))
            name = QDir(root).relativeFilePath(kept);
        else
            QVERIFY(QFile::link(outside, root + "Linked"));
        QJsonObject record = QJsonDocument::fromJson(fileBytes(root + DriveManifest::fileName)).object();
        QJsonObject files = record.value("files").toObject();
        files.insert(name, QJsonObject{{"source", QDir::cleanPath(songs.at(2))}, {"writing", true}});
        record.insert("files", files);
        QFile recordFile(root + DriveManifest::fileName);
        QVERIFY(recordFile.open(QIODevice::WriteOnly | QIODevice::Truncate));
        recordFile.write(QJsonDocument(record).toJson());
        recordFile.close();

        QCOMPARE(transfer(playlistOf(songs.mid(2, 2)), target).halt, DriveCopier::Outcome::None);
        QCOMPARE(fileBytes(kept), QByteArray("not the program's"));
    }

    // A song new on the drive is written straight under its name: the
    // record naming it as being written is on the disk before the file is
    // made, and the record vouching for it is written only after the volume
    // is flushed.
    void newFilesRecordedAroundTheirWrite_data()
    {
        QTest::addColumn<bool>("lastReplaced"); // the last song is on the drive already and replaced
        QTest::addRow("every song new") << false;
        QTest::addRow("new songs, then one replaced through a temporary file") << true;
    }

    void newFilesRecordedAroundTheirWrite()
    {
        QFETCH(bool, lastReplaced);
        const QString target = dir.filePath("order-" + QString::number(lastReplaced));
        const QString recordPath = target + "/Aster Media/" + DriveManifest::fileName;
        Options options;
        if (lastReplaced) {
            QCOMPARE(transfer(playlistOf({songs.last()}), target).written, 1);
            options.overwriteAll = true;
        }
        QList<QPair<WriteOrder::Event, QString>> events;
        QMutex lock;
        WriteOrder::setRecorder([&](WriteOrder::Event event, const QString &path) {
            QMutexLocker locked(&lock);
            events.append({event, QDir::cleanPath(path)});
        });
        const DriveCopier::Outcome outcome = transfer(playlistOf(songs), target, options);
        WriteOrder::setRecorder({});
        QCOMPARE(outcome.halt, DriveCopier::Outcome::None);
        QCOMPARE(outcome.written, songs.size());

        qsizetype recordSynced = -1, firstSong = -1, lastSong = -1, volumeSynced = -1, recordPlaced = -1;
        for (qsizetype i = 0; i < events.size(); ++i) {
            const auto &[event, path] = events.at(i);
            const bool record = path == QDir::cleanPath(recordPath);
            if (record && event == WriteOrder::Event::FileSynced && firstSong < 0)
                recordSynced = i;
            else if (record && event == WriteOrder::Event::FilePlaced)
                recordPlaced = i;
            else if (!record && path.contains("/Mix/") && !path.endsWith("Folder.png") &&
                     event == WriteOrder::Event::FileCreated) {
                if (firstSong < 0)
                    firstSong = i;
                lastSong = i;
            } else if (event == WriteOrder::Event::VolumeSynced && lastSong >= 0 && volumeSynced < lastSong) {
                volumeSynced = i;
            }
        }
        QVERIFY(firstSong >= 0);
        QVERIFY2(recordSynced >= 0 && recordSynced < firstSong, "the record was not on the disk before the songs");
        QVERIFY2(volumeSynced > lastSong && recordPlaced > volumeSynced,
                 "the record vouched for the songs before they were on the disk");
        // Each new song's file made once, under its own name: no temporary file.
        int placed = 0;
        for (const auto &[event, path] : std::as_const(events)) {
            if (event == WriteOrder::Event::FilePlaced && path.contains("/Mix/") && !path.endsWith("Folder.png"))
                ++placed;
        }
        QCOMPARE(placed, lastReplaced ? 1 : 0);
    }

private:
    QTemporaryDir dir;
    QStringList songs;
};

// The child of killedTransferThenAnother: transfers the songs again and
// again (each round writing over the last), a line per file, until killed.
static int transferChild(const QString &target, const QStringList &sources)
{
    const TrackMap tracks = playlistOf(sources);
    for (;;) {
        DriveCopier copier;
        QObject::connect(&copier, &DriveCopier::incrementProgress, [](const QString &) {
            fputs("file\n", stdout);
            fflush(stdout);
        });
        transferDetail detail;
        detail.drivePath = target;
        detail.isSystem = true;
        detail.system = carProfile();
        detail.overwriteall = true;
        std::atomic<bool> stop{false};
        QDir().mkpath(target);
        copier.copyFilesToDrive(tracks, detail, stop);
    }
}

int main(int argc, char *argv[])
{
    // The child runs in the test's own isolated folders (inherited), and
    // makes none of its own: it is killed, and could not remove them.
    if (argc > 3 && qstrcmp(argv[1], "--transfer-child") == 0) {
        QCoreApplication app(argc, argv);
        QStringList sources;
        for (int i = 3; i < argc; ++i)
            sources << QString::fromLocal8Bit(argv[i]);
        return transferChild(QString::fromLocal8Bit(argv[2]), sources);
    }
    testkit::isolateUserFolders();
    QApplication app(argc, argv);
    TestDriveTransferRecovery tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_drivetransferrecovery.moc"
