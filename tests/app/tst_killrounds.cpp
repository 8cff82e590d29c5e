#include <QtTest>

#include <QDirIterator>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlQuery>

#include <cstdio>

#include "app/libraryadder.h"
#include "app/libraryremover.h"
#include "app/manager.h"
#include "core/shared.h"
#include "database/database.h"
#include "database/filejournal.h"
#include "database/ruvodb.h"
#include "delivery/combo.h"
#include "delivery/drivecopier.h"
#include "libraryconsistency.h"
#include "libraryfixture.h"
#include "mediakit.h"
#include "platform/temporaryfiles.h"
#include "testenv.h"

// Rounds of kill -9 at a random moment of an add, a transfer to a folder and
// a removal, each followed by what a start does and the same add and
// transfer again: the library and the transfer's folder stay whole.
//
// CORVANE_KILL_ROUNDS sets the number of rounds (a few by default, so the
// suite stays quick); CORVANE_KILL_SEED repeats a failed run's moments.

namespace {

using testkit::filesBelow;
using testkit::rowPaths;
using testkit::useAacAndMp3Car;

const int albumId = 7;
const QString playlistName = QStringLiteral("Road Trip");
// What the child says as each stage begins, and at its end.
const QByteArray stages[] = {"adding", "transferring", "removing", "done"};

TrackMap browserTracksOf(const QString &folder)
{
    return testkit::albumTracksOf(folder, QStringLiteral("Round Album"), albumId);
}

// Adds every track of `folder` and waits for the add's end; false when the
// add did not end within the (generous) bound.
bool addAll(manager &controller, const QString &folder)
{
    QSignalSpy done(&controller, &manager::updateProgressSearch);
    testkit::startAlbumAdd(controller, browserTracksOf(folder), albumId);
    QDeadlineTimer limit(180000);
    while ((done.isEmpty() || controller.libraryAdder->isBusy()) && !limit.hasExpired())
        done.wait(1000);
    return !done.isEmpty() && !controller.libraryAdder->isBusy();
}

// The whole library to `target`, every song also in one playlist.
int transferAll(const TrackMap &library, const QString &target)
{
    TrackMap tracks = library;
    for (track &t : tracks)
        t.playlist = playlistName;
    QDir().mkpath(target);
    transferDetail detail;
    detail.drivePath = target;
    detail.freeSpace = qint64(1) << 32;
    detail.isSystem = true;
    detail.system = *Combo().getsystemDetail();
    DriveCopier copier;
    const std::atomic<bool> stop{false};
    return copier.copyFilesToDrive(tracks, detail, stop);
}

// What is wrong with the library: a row without its file, a file of the
// library folder no row owns, a song twice, a " (2)" copy.
QStringList libraryFaults(const QStringList &titles)
{
    QStringList wrong = testkit::inconsistencies();
    for (const QString &file : filesBelow(ruvoDB::programCopyFolder()))
        if (file.contains(QLatin1String(" (2)")))
            wrong << "second copy: " + file;
    QStringList stored;
    QSqlQuery query;
    if (query.exec(QStringLiteral("SELECT trackname FROM tracks")))
        while (query.next())
            stored << query.value(0).toString();
    stored.sort();
    if (stored != titles)
        wrong << "songs stored: " + stored.join(", ");
    return wrong;
}

// What is wrong on the transfer's folder: each song once (by the name it is
// stored under), every playlist entry a file there.
QStringList targetFaults(const QString &target, const QStringList &titles)
{
    QStringList wrong;
    QStringList songs;
    QStringList playlists;
    for (const QString &file : filesBelow(target)) {
        const QFileInfo info(file);
        if (info.suffix() == QLatin1String("m3u"))
            playlists << file;
        else if (info.suffix() == QLatin1String("mp3") || info.suffix() == QLatin1String("m4a"))
            songs << info.completeBaseName() + " in " + info.dir().dirName();
        else if (info.suffix() != QLatin1String("jpg") && info.suffix() != QLatin1String("png")
                 && !info.fileName().startsWith(QLatin1Char('.')))
            wrong << "unexpected file: " + file;
        if (info.fileName().startsWith(QLatin1Char('.')) && info.suffix() != QLatin1String("json"))
            wrong << "left-over file: " + file;
    }
    QStringList expected;
    for (const QString &title : titles)
        expected << title + " in " + playlistName;
    expected.sort();
    songs.sort();
    if (songs != expected)
        wrong << "songs on the target: " + songs.join(", ");
    if (playlists.size() != 1)
        wrong << QStringLiteral("%1 playlists").arg(playlists.size());
    for (const QString &m3u : std::as_const(playlists)) {
        QFile file(m3u);
        if (!file.open(QIODevice::ReadOnly)) {
            wrong << "unreadable playlist: " + m3u;
            continue;
        }
        int entries = 0;
        for (const QByteArray &line : file.readAll().split('\n')) {
            const QString entry = QString::fromUtf8(line.trimmed());
            if (entry.isEmpty() || entry.startsWith(QLatin1Char('#')))
                continue;
            ++entries;
            if (!QFileInfo(QFileInfo(m3u).dir().filePath(QString(entry).replace('\\', '/'))).isFile())
                wrong << "playlist entry without its file: " + entry;
        }
        if (entries != titles.size())
            wrong << QStringLiteral("%1 playlist entries").arg(entries);
    }
    return wrong;
}

} // namespace

class TestKillRounds : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY(testkit::openLibrary());
        LibraryAdder::setOnlineOverride(false);
        testkit::MediaKit kit(dir.filePath("media"));
        for (int i = 0; i < 8; ++i)
            QVERIFY2(!kit.mp3(QStringLiteral("Song %1.mp3").arg(i), {QStringLiteral("Song %1").arg(i), "Artist", "Round Album", "", "", 0, i + 1}, {}, 10)
                          .isEmpty(),
                     qPrintable(kit.lastError()));
        for (int i = 0; i < 3; ++i)
            QVERIFY2(!kit.flac(QStringLiteral("Tune %1.flac").arg(i), {QStringLiteral("Tune %1").arg(i), "Artist", "", "", "", 0, 0}, {}, 10)
                          .isEmpty(),
                     qPrintable(kit.lastError()));
        for (const track &t : browserTracksOf(dir.filePath("media")))
            titles << t.trackname;
        titles.sort();
    }

    void killedAtRandomMoments()
    {
        const int rounds = qEnvironmentVariableIsSet("CORVANE_KILL_ROUNDS")
                               ? qEnvironmentVariableIntValue("CORVANE_KILL_ROUNDS")
                               : 3;
        const quint32 seed = qEnvironmentVariableIsSet("CORVANE_KILL_SEED")
                                 ? quint32(qEnvironmentVariable("CORVANE_KILL_SEED").toULong())
                                 : QRandomGenerator::global()->generate();
        qInfo("kill rounds: %d, seed %u (CORVANE_KILL_SEED=%u repeats them)", rounds, seed, seed);
        QRandomGenerator random(seed);
        const QString target = dir.filePath("target");

        // One whole run first: when each stage begins.  A round picks a stage,
        // then a moment within it, so the short ones are hit as often.
        forgetEverything(target);
        QList<int> begins;
        QByteArray said = runChild(target, {}, 0, &begins);
        QVERIFY2(said.contains("done") && begins.size() == 4, said.constData());

        for (int round = 0; round < rounds; ++round) {
            forgetEverything(target);
            const int picked = int(random.bounded(3));
            const int delay = int(random.bounded(qMax(begins[picked + 1] - begins[picked], 1)));
            said = runChild(target, stages[picked], delay);
            const QByteArray last = said.trimmed().split('\n').last();
            qInfo("round %d: killed %d ms after \"%s\"; its last line \"%s\"", round + 1, delay,
                  stages[picked].constData(), last.constData());

            QVERIFY(testkit::startTheProgram());
            QCOMPARE(testkit::scalar("PRAGMA integrity_check").toString(), QStringLiteral("ok"));
            QCOMPARE(testkit::count("unsettledFiles"), 0);
            const QStringList afterStart = libraryFaults({});
            for (const QString &fault : afterStart)
                QVERIFY2(!fault.startsWith("row without") && !fault.startsWith("file no row"),
                         qPrintable(QStringLiteral("round %1 after the start: %2").arg(round + 1).arg(fault)));

            // The same add and transfer again.
            useAacAndMp3Car();
            manager controller;
            controller.libraryTracks = ruvoDB().loadDB();
            QSignalSpy messages(&controller, &manager::showMessageBox);
            QVERIFY(addAll(controller, dir.filePath("media")));
            // What the library kept is told as there already; nothing else is told.
            for (const QList<QVariant> &message : std::as_const(messages))
                QVERIFY2(message.value(0).toString().contains(QLatin1String("already in the library")),
                         qPrintable(message.value(0).toString()));
            const QStringList faults = libraryFaults(titles);
            QVERIFY2(faults.isEmpty(), qPrintable(QStringLiteral("round %1: %2").arg(round + 1).arg(faults.join('\n'))));
            QCOMPARE(transferAll(controller.libraryTracks, target), int(titles.size()));
            const QStringList onTarget = targetFaults(target, titles);
            QVERIFY2(onTarget.isEmpty(),
                     qPrintable(QStringLiteral("round %1: %2").arg(round + 1).arg(onTarget.join('\n'))));
        }
    }

private:
    // Runs the child.  With `killAt` a stage's line, kills it `delay` ms
    // after the child says it; else lets it end, noting in `begins` how long
    // after its start each line came.  Returns what it said.
    QByteArray runChild(const QString &target, const QByteArray &killAt, int delay, QList<int> *begins = nullptr)
    {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QElapsedTimer clock;
        clock.start();
        child.start(QCoreApplication::applicationFilePath(), {"--round-child", dir.filePath("media"), target});
        if (!child.waitForStarted())
            return "not started";
        QByteArray said;
        bool seen = false;
        const QDeadlineTimer limit(300000); // an upper bound only: the child says when
        // Lines the child wrote just before it ended are read after its end.
        while (!seen && !limit.hasExpired()) {
            const bool running = child.state() != QProcess::NotRunning;
            while (!seen && child.canReadLine()) {
                const QByteArray line = child.readLine();
                said += line;
                seen = !killAt.isEmpty() && line.trimmed() == killAt;
                if (begins)
                    begins->append(int(clock.elapsed()));
            }
            if (!running)
                break;
            if (!seen)
                child.waitForReadyRead(1000);
        }
        if (seen && (delay <= 0 || !child.waitForFinished(delay)))
            child.kill();
        child.waitForFinished(30000);
        if (child.state() != QProcess::NotRunning) {
            child.kill();
            child.waitForFinished();
        }
        return said + child.readAllStandardOutput();
    }

    void forgetEverything(const QString &target)
    {
        for (const char *table : {"tracks", "madeFiles", "unsettledFiles"})
            testkit::exec(QStringLiteral("DELETE FROM %1").arg(QLatin1String(table)));
        QDir(ruvoDB::programCopyFolder()).removeRecursively();
        QDir(target).removeRecursively();
    }

    QTemporaryDir dir;
    QStringList titles;
};

// The child: the add, the transfer of all, the removal of all, saying each
// stage as it begins.
static int roundChild(const QString &folder, const QString &target)
{
    Database db;
    if (!db.connect(QStringLiteral("RuvoData"), false))
        return 2;
    LibraryAdder::setOnlineOverride(false);
    useAacAndMp3Car();
    auto say = [](const char *line) {
        std::fputs(line, stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    };
    manager controller;
    say("adding");
    if (!addAll(controller, folder))
        return 3;
    say("transferring");
    transferAll(controller.libraryTracks, target);
    say("removing");
    LibraryRemover::Ticks ticks;
    ticks.trackIds = controller.libraryTracks.keys();
    const std::atomic<bool> stop{false};
    LibraryRemover::removeTracks(controller.libraryTracks, ticks, 2, ruvoDB::programCopyFolder(), stop);
    say("done");
    return 0;
}

int main(int argc, char *argv[])
{
    // The program started on the test's data folder after a kill.
    if (const int code = testkit::runStartedProgram(argc, argv); code >= 0)
        return code;
    if (argc == 4 && qstrcmp(argv[1], "--round-child") == 0) {
        QApplication app(argc, argv);
        return roundChild(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    }
    testkit::isolateUserFolders();
    QApplication app(argc, argv);
    TestKillRounds tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_killrounds.moc"
