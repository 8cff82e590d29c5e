#include <QtTest>

#include <QDirIterator>
#include <QProcess>
#include <QSqlQuery>

#include <cerrno>
#include <cstdio>

#include <taglib/fileref.h>
#include <taglib/tag.h>

#include "app/libraryadder.h"
#include "app/libraryremover.h"
#include "app/manager.h"
#include "core/shared.h"
#include "database/database.h"
#include "database/filejournal.h"
#include "database/ruvodb.h"
#include "delivery/combo.h"
#include "delivery/ffmpeghandler.h"
#include "libraryconsistency.h"
#include "libraryfixture.h"
#include "mediakit.h"
#include "platform/externalprogram.h"
#include "platform/temporaryfiles.h"
#include "platform/volumes.h"
#include "platform/writeorder.h"
#include "testenv.h"

// The library stays whole whatever happens to an add: a kill at any moment,
// a row that can't be written, a source that turns out to be damaged.

namespace {

using testkit::rowPaths;
using testkit::useAacAndMp3Car;

const int albumId = 7;

TrackMap browserTracksOf(const QString &folder, const QString &album = QStringLiteral("Kill Album"))
{
    return testkit::albumTracksOf(folder, album, albumId);
}

void startAdd(manager &controller, const TrackMap &browser)
{
    testkit::startAlbumAdd(controller, browser, albumId);
}

// "" when each row has its file and each file of the library folder a row;
// else what is wrong.
QString inconsistency()
{
    return testkit::inconsistencies().join('\n');
}

// One write or sync, as the program did it, and on which thread.
struct Written
{
    WriteOrder::Event event;
    QString path;
    QThread *thread;
};

bool isCommit(WriteOrder::Event event)
{
    return event == WriteOrder::Event::Committed || event == WriteOrder::Event::CommittedDurably;
}

// The commit that took entry `at` into the library: the next one on its thread.
int commitOf(const QList<Written> &log, int at)
{
    for (int i = at + 1; i < log.size(); ++i)
        if (log[i].thread == log[at].thread && isCommit(log[i].event))
            return i;
    return -1;
}

int firstOf(const QList<Written> &log, WriteOrder::Event event, const QString &path, int from = 0)
{
    for (int i = from; i < log.size(); ++i)
        if (log[i].event == event && log[i].path == path)
            return i;
    return -1;
}

int lastOf(const QList<Written> &log, WriteOrder::Event event, const QString &path, int before)
{
    for (int i = std::min(before, int(log.size())) - 1; i >= 0; --i)
        if (log[i].event == event && (path.isNull() || log[i].path == path))
            return i;
    return -1;
}

// What a power cut at some moment could lose of the library file `path`,
// judged from the order of the writes: the journal note is on the disk
// before the file is made, the file's data before its row is committed, and
// the row's commit on the disk before the add says it is done (`doneAt`).
QStringList orderFaults(const QList<Written> &log, const QString &path, int doneAt)
{
    using E = WriteOrder::Event;
    QStringList wrong;
    const int created = firstOf(log, E::FileCreated, path);
    const int noted = lastOf(log, E::JournalNoted, path, created);
    const int notedCommit = noted < 0 ? -1 : commitOf(log, noted);
    if (created < 0 || noted < 0 || notedCommit < 0 || notedCommit > created)
        wrong << "not written down before it was made";
    else if (log[notedCommit].event != E::CommittedDurably)
        wrong << "written down, but not on the disk, before it was made";
    const int placed = firstOf(log, E::FilePlaced, path, std::max(created, 0));
    const int row = lastOf(log, E::RowWritten, path, doneAt);
    const int rowCommit = row < 0 ? -1 : commitOf(log, row);
    if (placed < 0 || row < placed)
        wrong << "its row written before the file was in place";
    if (rowCommit < 0 || rowCommit > doneAt)
        wrong << "its row not committed before the add said it was done";
    else if (log[rowCommit].event != E::CommittedDurably)
        wrong << "its row committed, but not on the disk, before the add said it was done";
    const int fileSynced = firstOf(log, E::FileSynced, path, std::max(created, 0));
    const int volumeSynced = lastOf(log, E::VolumeSynced, QString(), rowCommit);
    const bool synced = (fileSynced >= 0 && fileSynced < placed) || (volumeSynced > placed && volumeSynced < rowCommit);
    if (rowCommit >= 0 && !synced)
        wrong << "its data not synced before its row was committed";
    return wrong;
}

void forgetEverything()
{
    for (const char *table : {"tracks", "madeFiles", "unsettledFiles"})
        testkit::exec(QStringLiteral("DELETE FROM %1").arg(QLatin1String(table)));
    QDir(ruvoDB::programCopyFolder()).removeRecursively();
}

} // namespace

class TestAddConsistency : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY(testkit::openLibrary());
        LibraryAdder::setOnlineOverride(false);
        testkit::MediaKit kit(dir.filePath("media"));
        for (int i = 0; i < 10; ++i)
            QVERIFY2(!kit.mp3(QStringLiteral("Song %1.mp3").arg(i, 2, 10, QLatin1Char('0')),
                              {QStringLiteral("Song %1").arg(i), "Artist", "Kill Album", "", "", 0, i + 1}, {}, 20)
                          .isEmpty(),
                     qPrintable(kit.lastError()));
        for (int i = 0; i < 3; ++i)
            QVERIFY2(!kit.flac(QStringLiteral("Tune %1.flac").arg(i), {QStringLiteral("Tune %1").arg(i), "Artist", "", "", "", 0, 0})
                          .isEmpty(),
                     qPrintable(kit.lastError()));
    }

    void init() { forgetEverything(); }

    // Songs converted on their way in, chosen again from the same files:
    // they are there already (though each source's bit rate is above its
    // conversion's), keep their rows and are not converted again.
    void convertedSongsChosenAgain()
    {
        useAacAndMp3Car();
        manager controller;
        QSignalSpy done(&controller, &manager::updateProgressSearch);
        QSignalSpy messages(&controller, &manager::showMessageBox);
        startAdd(controller, browserTracksOf(dir.filePath("media")));
        QTRY_VERIFY_WITH_TIMEOUT(!done.isEmpty() && !controller.libraryAdder->isBusy(), 120000);
        QVERIFY2(messages.isEmpty(), qPrintable(messages.value(0).value(0).toString()));
        const QList<int> ids = controller.libraryTracks.keys();
        const QStringList files = testkit::filesBelow(ruvoDB::programCopyFolder());
        QCOMPARE(std::count_if(files.cbegin(), files.cend(), [](const QString &f) { return f.endsWith(".m4a"); }), 3);

        done.clear();
        startAdd(controller, browserTracksOf(dir.filePath("media")));
        QTRY_VERIFY_WITH_TIMEOUT(!done.isEmpty() && !controller.libraryAdder->isBusy(), 120000);
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages.first().first().toString(), QStringLiteral("The chosen items are already in the library."));
        QCOMPARE(controller.libraryTracks.keys(), ids);
        QCOMPARE(testkit::filesBelow(ruvoDB::programCopyFolder()), files);
        QCOMPARE(inconsistency(), QString());
    }

    // "the line of the child after which it is killed": it prints "started"
    // once the add is asked for, "progress N" as files are converted (the
    // three FLACs first) and copied, "removing" before it removes all.
    void killedAddLeavesAConsistentLibrary_data()
    {
        QTest::addColumn<QString>("killAfter");
        QTest::addRow("as the add starts") << "started";
        QTest::addRow("after the first conversion") << "progress 1";
        QTest::addRow("after the conversions, as the copies begin") << "progress 3";
        QTest::addRow("amid the copies") << "progress 7";
        QTest::addRow("amid a removal of everything") << "removing";
    }

    void killedAddLeavesAConsistentLibrary()
    {
        QFETCH(QString, killAfter);
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    {"--add-child", dir.filePath("media"), killAfter == "removing" ? "remove" : "add"});
        QVERIFY(child.waitForStarted());
        // Read until the child says the line, or its last one: what it wrote
        // just before it ended is still read after its end, and a child that
        // has said all it will is not waited for.
        bool seen = false;
        bool ended = false;
        QByteArray said;
        const QDeadlineTimer limit(150000); // an upper bound only: the child says when
        while (!seen && !ended && !limit.hasExpired()) {
            const bool running = child.state() != QProcess::NotRunning;
            while (!seen && !ended && child.canReadLine()) {
                const QByteArray line = child.readLine().trimmed();
                said += line + '\n';
                seen = line == killAfter.toUtf8();
                ended = line == "done" || line.startsWith("failed");
            }
            if (!running)
                break;
            if (!seen && !ended)
                child.waitForReadyRead(1000);
        }
        child.kill();
        QVERIFY(child.waitForFinished(60000));
        QVERIFY2(seen || said.endsWith("done\n"), said.constData());

        QVERIFY(testkit::startTheProgram());
        QCOMPARE(testkit::scalar("PRAGMA integrity_check").toString(), QStringLiteral("ok"));
        QCOMPARE(inconsistency(), QString());
        QCOMPARE(testkit::count("unsettledFiles"), 0);

        // The same sources again: each song once, no " (2)" beside a leftover.
        useAacAndMp3Car();
        manager controller;
        controller.libraryTracks = ruvoDB().loadDB();
        QSignalSpy done(&controller, &manager::updateProgressSearch);
        QSignalSpy messages(&controller, &manager::showMessageBox);
        startAdd(controller, browserTracksOf(dir.filePath("media")));
        QTRY_VERIFY_WITH_TIMEOUT(!done.isEmpty() && !controller.libraryAdder->isBusy(), 120000);
        // What the library kept is told as there already; nothing else is told.
        for (const QList<QVariant> &message : std::as_const(messages))
            QVERIFY2(message.value(0).toString().contains(QLatin1String("already in the library")),
                     qPrintable(message.value(0).toString()));
        QCOMPARE(inconsistency(), QString());
        QStringList titles;
        QSqlQuery query;
        QVERIFY(query.exec("SELECT trackname FROM tracks"));
        while (query.next())
            titles << query.value(0).toString();
        titles.sort();
        QStringList expected;
        for (const track &t : browserTracksOf(dir.filePath("media")))
            expected << t.trackname;
        expected.sort();
        QCOMPARE(titles, expected);
        for (const QString &file : testkit::filesBelow(ruvoDB::programCopyFolder()))
            QVERIFY2(!file.contains(" (2)"), qPrintable(file));
    }

    // An add of copies and conversions puts each thing on the disk before
    // anything refers to it, whatever moment a power cut picks: the order of
    // the writes and syncs, recorded as the add makes them.
    void writesReachTheDiskBeforeTheyAreRecorded()
    {
        useAacAndMp3Car();
        QMutex mutex;
        QList<Written> log;
        WriteOrder::setRecorder([&](WriteOrder::Event event, const QString &path) {
            QMutexLocker lock(&mutex);
            log.append({event, path, QThread::currentThread()});
        });
        auto stopRecording = qScopeGuard([] { WriteOrder::setRecorder({}); });
        manager controller;
        int doneAt = -1;
        QObject::connect(&controller, &manager::updateProgressSearch, &controller, [&] {
            QMutexLocker lock(&mutex);
            doneAt = int(log.size());
        });
        QSignalSpy messages(&controller, &manager::showMessageBox);
        startAdd(controller, browserTracksOf(dir.filePath("media")));
        QTRY_VERIFY_WITH_TIMEOUT(doneAt >= 0 && !controller.libraryAdder->isBusy(), 120000);
        WriteOrder::setRecorder({});
        QVERIFY2(messages.isEmpty(), qPrintable(messages.value(0).value(0).toString()));
        const QStringList files = testkit::filesBelow(ruvoDB::programCopyFolder());
        QCOMPARE(files.size(), 13);
        QStringList wrong;
        QMutexLocker lock(&mutex);
        for (const QString &file : files)
            for (const QString &fault : orderFaults(log, file, doneAt))
                wrong << QFileInfo(file).fileName() + ": " + fault;
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join('\n')));

        // The threads that run ffmpeg only run ffmpeg: what they make is
        // written down, flushed, named and recorded by others, so no
        // conversion waits for the disk.  Seen while they all exist: from
        // the first converted file made to the last event about one.
        const QString cache = ffmpeghandler::cacheFolder() + '/';
        int from = -1, to = -1;
        QSet<QThread *> converting;
        for (int i = 0; i < log.size(); ++i) {
            if (!log[i].path.startsWith(cache))
                continue;
            if (log[i].event == WriteOrder::Event::FileCreated) {
                converting.insert(log[i].thread);
                from = from < 0 ? i : from;
            }
            to = i;
        }
        QCOMPARE(converting.isEmpty(), false);
        for (int i = std::max(from, 0); i <= to; ++i)
            if (converting.contains(log[i].thread) && log[i].event != WriteOrder::Event::FileCreated)
                wrong << QStringLiteral("a conversion thread wrote or synced (event %1) for \"%2\"").arg(int(log[i].event)).arg(log[i].path);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join('\n')));
    }

    // A converted track whose row can't be written: its file goes again, the
    // converter says so, and the add leaves it out with that reason instead
    // of copying the unconverted source.
    void conversionWithoutItsRowIsLeftOut()
    {
        useAacAndMp3Car();
        TrackMap work = browserTracksOf(dir.filePath("media"));
        const track flac = work.last();
        work.clear();
        track t = flac;
        t.sourcePath = flac.filepath;
        t.filepath = LibraryAdder::GenerateCopyPath(flac.albumName, flac.filepath);
        // Its id already names another file's row: the store is refused.
        t.id = ruvoDB().storeTrack(testkit::makeTrack(dir.filePath("other.mp3")));
        QVERIFY(t.id > 0);
        work.insert(t.id, t);

        ffmpeghandler converter;
        QSignalSpy removed(&converter, &ffmpeghandler::sgRemoveFile);
        QSignalSpy why(&converter, &ffmpeghandler::sgFileLeftOut);
        transferDetail detail;
        detail.system = *Combo().getsystemDetail();
        QVERIFY(converter.TranscodeOnOK(work, detail).isEmpty());
        QCOMPARE(removed.size(), 1);
        QCOMPARE(removed.first().at(2).toLongLong(), qint64(ffmpeghandler::NotStored));
        QCOMPARE(why.first().at(1).toString(), QStringLiteral("it could not be stored in the library"));
        QCOMPARE(testkit::scalar("SELECT count(*) FROM tracks WHERE filepath LIKE '%Transcoded Media%'").toInt(), 0);
        QCOMPARE(inconsistency(), QStringLiteral("row without its file: ") + dir.filePath("other.mp3"));
        QCOMPARE(testkit::count("unsettledFiles"), 0);
        QCOMPARE(testkit::count("madeFiles"), 0);

        manager controller;
        controller.libraryTracks.insert(t.id, t);
        controller.libraryAdder->slRemoveFileAudio(t.filepath, t.id, ffmpeghandler::NotStored);
        QVERIFY(!controller.libraryTracks.contains(t.id));
    }

    // A batch of conversions: the flush that puts them on the disk fails, or
    // ffmpeg's output carries tags that differ from the source's in the
    // track number alone.
    void batchOfConversions_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addRow("the batch's flush fails: nothing is recorded as made") << "flush";
        QTest::addRow("ffmpeg wrote another track number: the source's replaces it") << "number";
    }

    void batchOfConversions()
    {
        QFETCH(QString, fault);
        useAacAndMp3Car();
        testkit::MediaKit kit(dir.filePath("batch-" + fault));
        const testkit::MediaTags tags{"Numbered", "Artist", "Numbered Album", "Rock", "", 2001, 5};
        const QString source = kit.flac("source/Numbered.flac", tags);
        QVERIFY2(!source.isEmpty(), qPrintable(kit.lastError()));
        auto restore = qScopeGuard([] {
            Volumes::setFlushFunction({});
            ExternalProgram::setToolPath(ExternalProgram::Ffmpeg, {});
        });
        if (fault == "flush") {
            Volumes::setFlushFunction([](const QString &) {
                errno = EIO;
                return false;
            });
        } else {
            // An output whose tags all match but its track number.
            testkit::MediaTags other = tags;
            other.track = 9;
            const QString made = kit.m4a("made/Numbered.m4a", other);
            QVERIFY2(!made.isEmpty(), qPrintable(kit.lastError()));
            ExternalProgram::setToolPath(
                ExternalProgram::Ffmpeg,
                testkit::MediaKit::fakeTool(dir.path(), "ffmpeg-" + fault,
                                            QStringLiteral("eval last=\\${$#}; cp '%1' \"$last\"").arg(made)));
        }
        TrackMap work;
        for (track t : browserTracksOf(QFileInfo(source).absolutePath(), tags.album)) {
            t.sourcePath = t.filepath;
            t.filepath = LibraryAdder::GenerateCopyPath(t.albumName, t.filepath);
            t.id = ruvoDB::reserveTrackIds(1);
            work.insert(t.id, t);
        }
        QCOMPARE(work.size(), 1);

        ffmpeghandler converter;
        QSignalSpy why(&converter, &ffmpeghandler::sgFileLeftOut);
        transferDetail detail;
        detail.system = *Combo().getsystemDetail();
        const QList<track> converted = converter.TranscodeOnOK(work, detail);
        if (fault == "flush") {
            QVERIFY(converted.isEmpty());
            QCOMPARE(why.size(), 1);
            QCOMPARE(why.first().at(1).toString(), QStringLiteral("it could not be written to the disk"));
            QCOMPARE(testkit::count("madeFiles"), 0);
            QCOMPARE(testkit::count("tracks"), 0);
            QCOMPARE(testkit::filesBelow(ffmpeghandler::cacheFolder()), QStringList());
        } else {
            QVERIFY2(why.isEmpty(), qPrintable(why.value(0).value(1).toString()));
            QCOMPARE(converted.size(), 1);
            const QByteArray name = QFile::encodeName(converted.first().filepath);
            TagLib::FileRef file(name.constData(), false);
            QVERIFY(!file.isNull() && file.tag());
            QCOMPARE(file.tag()->track(), 5u);
        }
        QCOMPARE(testkit::count("unsettledFiles"), 0);
    }

    // A batch whose one row fails: that row's file goes again and it is named;
    // the others are stored one by one and counted.
    void failedRowInABatch()
    {
        QStringList sources;
        for (int i = 0; i < 3; ++i) {
            sources << dir.filePath(QStringLiteral("batch/%1.mp3").arg(i));
            QVERIFY(testkit::touch(sources.last(), QByteArray(1000 + i, 'a' + char(i))));
        }
        QList<LibraryAdder::CopyItem> items;
        int id = ruvoDB::reserveTrackIds(3);
        for (const QString &source : sources) {
            const QString target = LibraryAdder::GenerateCopyPath("Batch", source);
            track t = testkit::makeTrack(target, "Batch");
            t.id = id++;
            items << LibraryAdder::CopyItem{{t}, source, target, QFileInfo(source).size()};
        }
        const int taken = ruvoDB().storeTrack(testkit::makeTrack(dir.filePath("elsewhere.mp3")));
        items[1].records[0].id = taken;

        std::atomic<bool> stop{false};
        const LibraryAdder::CopyResult result = LibraryAdder::CopyPath(items, {}, stop);
        QCOMPARE(result.storedIds, (QList<int>{items[0].records[0].id, items[2].records[0].id}));
        QCOMPARE(result.copiedTargets, (QStringList{items[0].target, items[2].target}));
        QCOMPARE(result.leftOut.size(), 1);
        QCOMPARE(result.leftOut.first().reason, QStringLiteral("it could not be stored in the library"));
        QVERIFY(QFileInfo::exists(items[0].target) && QFileInfo::exists(items[2].target));
        QVERIFY(!QFileInfo::exists(items[1].target));
        QCOMPARE(testkit::count("unsettledFiles"), 0);
    }

    // The reason given is the true one, and names too long for the file
    // system are shortened: "file | tags | what the end message says of it
    // ("" when added) | where it lands in the library".
    void reasonsAndLongNames_data()
    {
        QTest::addColumn<QString>("fields");
        QTest::addRow("a damaged file") << "damaged.flac | - | it is damaged or not a media file | -";
        QTest::addRow("an album tag of 400 bytes")
            << "long album.mp3 | album | - | L/" + QString(255, 'A') + "/long album.mp3";
        QTest::addRow("a title of 300 characters")
            << "long title.flac | title | - | L/Transcoded Media/Album/" + QString(251, 'T') + ".m4a";
    }

    void reasonsAndLongNames()
    {
        QFETCH(QString, fields);
        const QStringList f = fields.split(" | ");
        useAacAndMp3Car();
        const QString folder = dir.filePath("reasons-" + QString(QTest::currentDataTag()).replace(' ', '_'));
        QDir(folder).removeRecursively();
        testkit::MediaKit kit(folder);
        const QString album = f[1].trimmed() == "album" ? QString(400, 'A') : QStringLiteral("Album");
        if (f[0].startsWith("damaged"))
            QVERIFY(testkit::touch(folder + '/' + f[0], QByteArray(4096, 'x')));
        else if (f[0].endsWith(".flac"))
            QVERIFY(!kit.flac(f[0], {QString(300, 'T'), "Artist", album, "", "", 0, 0}).isEmpty());
        else
            QVERIFY(!kit.mp3(f[0], {"Song", "Artist", album, "", "", 0, 0}).isEmpty());
        TrackMap browser = browserTracksOf(folder, album);
        browser.first().trackname = f[1].trimmed() == "title" ? QString(300, 'T') : QStringLiteral("Song");

        manager controller;
        QSignalSpy done(&controller, &manager::updateProgressSearch);
        QSignalSpy messages(&controller, &manager::showMessageBox);
        startAdd(controller, browser);
        QTRY_VERIFY_WITH_TIMEOUT(!done.isEmpty() && !controller.libraryAdder->isBusy(), 60000);
        const QString reason = f[2].trimmed();
        if (reason == "-") {
            QVERIFY2(messages.isEmpty(), qPrintable(messages.value(0).value(0).toString()));
            QCOMPARE(controller.libraryTracks.size(), 1);
            QCOMPARE(controller.libraryTracks.first().filepath.replace(ruvoDB::programCopyFolder() + '/', "L/"),
                     f[3].trimmed());
        } else {
            QCOMPARE(messages.size(), 1);
            QCOMPARE(messages.first().first().toString(),
                     "1 of the chosen media could not be added to the library:\n" + f[0] + ": " + reason);
            QVERIFY(controller.libraryTracks.isEmpty());
        }
        QCOMPARE(inconsistency(), QString());
    }

    // The end message counts right: "added | chosen | left out | message".
    void endMessage_data()
    {
        QTest::addColumn<QString>("fields");
        QTest::addRow("cancelled after one") << "1 | 4 | 0 | The add was cancelled: 1 of 4 media was added to the library.";
        QTest::addRow("cancelled after none") << "0 | 4 | 0 | The add was cancelled: 0 of 4 media were added to the library.";
        QTest::addRow("one left out")
            << "3 | 4 | 1 | 1 of the chosen media could not be added to the library:\na.mp3: why";
    }

    void endMessage()
    {
        QFETCH(QString, fields);
        const QStringList f = fields.split(" | ");
        QList<LibraryAdder::LeftOut> leftOut;
        for (int i = 0; i < f[2].toInt(); ++i)
            leftOut.append({i + 1, QStringLiteral("a.mp3"), QStringLiteral("why")});
        QCOMPARE(LibraryAdder::endMessage(false, leftOut.isEmpty(), f[0].toInt(), f[1].toInt(), leftOut), f[3]);
    }

    // Chosen media the library holds already are told, not passed over:
    // "added | chosen | already there | left out | message".
    void alreadyThereMessage_data()
    {
        QTest::addColumn<QString>("fields");
        QTest::addRow("the one chosen is there") << "0 | 1 | 1 | 0 | The chosen item is already in the library.";
        QTest::addRow("all chosen are there") << "0 | 3 | 3 | 0 | The chosen items are already in the library.";
        QTest::addRow("one of three is there")
            << "2 | 3 | 1 | 0 | 1 of the 3 chosen items was already in the library and was not added again.";
        QTest::addRow("some there, one left out")
            << "1 | 4 | 2 | 1 | 2 of the 4 chosen items were already in the library and were not added again.\n\n"
               "1 of the chosen media could not be added to the library:\na.mp3: why";
        QTest::addRow("none there, all added") << "3 | 3 | 0 | 0 | ";
    }

    void alreadyThereMessage()
    {
        QFETCH(QString, fields);
        const QStringList f = fields.split(" | ");
        QList<LibraryAdder::LeftOut> leftOut;
        for (int i = 0; i < f[3].toInt(); ++i)
            leftOut.append({i + 1, QStringLiteral("a.mp3"), QStringLiteral("why")});
        QCOMPARE(LibraryAdder::endMessage(false, false, f[0].toInt(), f[1].toInt(), leftOut, f[2].toInt()), f.value(4));
    }

    // Two songs that share all but their titles (track 1 of two discs) are
    // two songs; the same song in another encoding is one.
    void sameSong_data()
    {
        QTest::addColumn<QString>("otherTitle");
        QTest::addColumn<double>("otherLength");
        QTest::addColumn<bool>("same");
        QTest::addRow("track 1 of disc 1 and of disc 2") << "Outro" << 200.0 << false;
        QTest::addRow("another encoding of the song") << "Intro" << 201.5 << true;
        QTest::addRow("another length") << "Intro" << 260.0 << false;
    }

    void sameSong()
    {
        QFETCH(QString, otherTitle);
        QFETCH(double, otherLength);
        QFETCH(bool, same);
        track a = testkit::makeTrack("/m/1/01.mp3");
        a.trackname = "Intro";
        a.tracknumber = 1;
        a.duration = 200;
        track b = a;
        b.filepath = "/m/2/01.mp3";
        b.trackname = otherTitle;
        b.duration = otherLength;
        QCOMPARE(LibraryAdder::sameSong(a, b), same);
    }

    // No ids to be had (the id space is used up): nothing is added, and the
    // user is told.
    void noIdsNoAdd()
    {
        LibraryAdder::PlanInput input;
        track last = testkit::makeTrack("/m/last.mp3");
        last.id = std::numeric_limits<int>::max() - 1;
        input.libraryTracks.insert(last.id, last);
        input.chosenTracks = browserTracksOf(dir.filePath("media"));
        const std::atomic<bool> stop{false};
        const LibraryAdder::AddPlan plan = LibraryAdder::addToMainObjectthread(input, stop);
        QVERIFY(plan.failed);
        QVERIFY(plan.addedLibraryTracks.isEmpty() && plan.copyTargets.isEmpty());

        manager controller;
        QSignalSpy messages(&controller, &manager::showMessageBox);
        controller.libraryAdder->addToMainObjectThreadFinished(plan);
        QCOMPARE(messages.size(), 1);
        QVERIFY(controller.libraryTracks.isEmpty());
    }

    // The end of an add: every entry whose file is gone leaves the views,
    // not only this add's; an entry whose folder is gone too (an unplugged
    // drive) keeps its row.
    void endOfAddDropsVanishedEntries()
    {
        manager controller;
        const QString kept = dir.filePath("end/kept.mp3"), gone = dir.filePath("end/gone.mp3"),
                      unplugged = dir.filePath("unplugged/song.mp3");
        int id = 900;
        for (const QString &path : {kept, gone, unplugged}) {
            QVERIFY(testkit::touch(path));
            track t = testkit::makeTrack(path);
            t.id = id++;
            QCOMPARE(ruvoDB().storeTrack(t), t.id);
            controller.libraryTracks.insert(t.id, t);
        }
        QVERIFY(QFile::remove(gone) && QDir(dir.filePath("unplugged")).removeRecursively());
        controller.libraryAdder->Copyfinished(
            LibraryAdder::CopyPath({}, {}, std::atomic<bool>{false}, {}, controller.libraryTracks));
        QCOMPARE(controller.libraryTracks.keys(), (QList<int>{900}));
        QCOMPARE(testkit::scalar("SELECT count(*) FROM tracks WHERE id >= 900").toInt(), 3);
    }

private:
    QTemporaryDir dir;
};

// The child of killedAddLeavesAConsistentLibrary: adds the media of a folder
// (and then, with "remove", removes all of it), saying how far it got.
static int addChild(const QString &folder, bool remove)
{
    Database db;
    if (!db.connect(QStringLiteral("RuvoData"), false))
        return 2;
    LibraryAdder::setOnlineOverride(false);
    useAacAndMp3Car();
    auto say = [](const QByteArray &line) {
        fputs((line + '\n').constData(), stdout);
        fflush(stdout);
    };
    manager controller;
    QObject::connect(&controller, &manager::sgUpdateTranscodingCounter, &controller,
                     [&say](const QVariant &count, const QVariant &) { say("progress " + count.toByteArray()); });
    QSignalSpy done(&controller, &manager::updateProgressSearch);
    QSignalSpy refused(&controller, &manager::showMessageBox);
    say("started");
    startAdd(controller, browserTracksOf(folder));
    // An add that is refused or stops short says so and never ends: the
    // child tells it instead of waiting for an end that can't come.
    const QDeadlineTimer limit(120000);
    while ((done.isEmpty() || controller.libraryAdder->isBusy()) && refused.isEmpty() && !limit.hasExpired())
        done.wait(1000);
    if (!refused.isEmpty() || done.isEmpty() || controller.libraryAdder->isBusy()) {
        say("failed: " + (refused.isEmpty() ? QByteArray("the add did not end")
                                            : refused.first().first().toString().toUtf8()));
        return 3;
    }
    if (remove) {
        LibraryRemover::Ticks ticks;
        ticks.trackIds = controller.libraryTracks.keys();
        say("removing");
        const std::atomic<bool> stop{false};
        LibraryRemover::removeTracks(controller.libraryTracks, ticks, 2, ruvoDB::programCopyFolder(), stop);
    }
    say("done");
    return 0;
}

int main(int argc, char *argv[])
{
    // The program started on the test's data folder after a kill.
    if (const int code = testkit::runStartedProgram(argc, argv); code >= 0)
        return code;
    if (argc == 4 && qstrcmp(argv[1], "--add-child") == 0) {
        QApplication app(argc, argv);
        return addChild(QString::fromLocal8Bit(argv[2]), qstrcmp(argv[3], "remove") == 0);
    }
    testkit::isolateUserFolders();
    QApplication app(argc, argv);
    TestAddConsistency tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_addconsistency.moc"
