#include <QtTest>

#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <cstdio>
#include <signal.h>
#include <unistd.h>

#include "app/libraryadder.h"
#include "app/manager.h"
#include "database/database.h"
#include "libraryconsistency.h"
#include "mediakit.h"
#include "testenv.h"

// Power cuts during and right after an add.  The data folder lives on an
// ext4 image on a loop device.  At a random moment the adding process is
// stopped and the image copied as the device holds it: what the file system
// has written to the device, not what only the kernel's cache holds -- what
// a disk keeps when the power goes.  (The loop device writes through the
// page cache of its image file, so reading that file sees exactly what has
// reached the device.  The copy is read twice, until both reads agree, so
// that it is one moment's state even while the kernel still writes back.)
// The program is then started on the copy, at the same place: every song
// the add said it had added is there, and no file of the library folder
// lacks its row.
//
// CORVANE_CUT_ROUNDS sets the number of rounds (four by default, half of
// them cut after the add's end); CORVANE_CUT_SEED repeats a run's moments.

namespace {

const int albumId = 7;
const char addMode[] = "--add-child";

// Runs a shell line quietly; true when it succeeded.
bool sh(const QString &line)
{
    return QProcess::execute("sh", {"-c", "(" + line + ") >/dev/null 2>&1"}) == 0;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The image as its device holds it at one moment: two reads in a row that
// agree saw no write land between them.
QByteArray stableCopy(const QString &image)
{
    QByteArray before = readAll(image);
    for (int attempt = 0; attempt < 200; ++attempt) {
        QByteArray now = readAll(image);
        if (!now.isEmpty() && now == before)
            return now;
        before.swap(now);
    }
    return QByteArray();
}

// The track rows' paths, the journal's size and the integrity check of the
// library at `file`, read on a connection of its own (empty when unreadable).
struct Stored
{
    QStringList rows;
    int unsettled = -1;
    QString integrity;
};

Stored readLibrary(const QString &file)
{
    Stored stored;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("cut copy"));
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(QStringLiteral("PRAGMA integrity_check")) && query.next())
                stored.integrity = query.value(0).toString();
            if (query.exec(QStringLiteral("SELECT filepath FROM tracks")))
                while (query.next())
                    stored.rows << query.value(0).toString();
            if (query.exec(QStringLiteral("SELECT count(*) FROM unsettledFiles")) && query.next())
                stored.unsettled = query.value(0).toInt();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("cut copy"));
    return stored;
}

} // namespace

class TestPowerCut : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        testkit::MediaKit kit(dir.filePath("media"));
        for (int i = 0; i < 6; ++i)
            QVERIFY2(!kit.mp3(QStringLiteral("Song %1.mp3").arg(i),
                              {QStringLiteral("Song %1").arg(i), "Artist", "Cut Album", "", "", 0, i + 1}, {}, 10)
                          .isEmpty(),
                     qPrintable(kit.lastError()));
        for (int i = 0; i < 2; ++i)
            QVERIFY2(!kit.flac(QStringLiteral("Tune %1.flac").arg(i),
                               {QStringLiteral("Tune %1").arg(i), "Artist", "", "", "", 0, 0}, {}, 10)
                          .isEmpty(),
                     qPrintable(kit.lastError()));
    }

    void cutDuringAndAfterAnAdd()
    {
        if (::geteuid() != 0)
            QSKIP("a loop-mounted file system needs root");
        mountPoint = dir.filePath("data");
        image = dir.filePath("data.img");
        QVERIFY(QDir().mkpath(mountPoint));
        if (!mountFresh())
            QSKIP("no ext4 image on a loop device here (needs mkfs.ext4 and a free loop device)");
        unmount();

        const int rounds = qEnvironmentVariableIsSet("CORVANE_CUT_ROUNDS")
                               ? qEnvironmentVariableIntValue("CORVANE_CUT_ROUNDS")
                               : 4;
        const quint32 seed = qEnvironmentVariableIsSet("CORVANE_CUT_SEED")
                                 ? quint32(qEnvironmentVariable("CORVANE_CUT_SEED").toULong())
                                 : QRandomGenerator::global()->generate();
        qInfo("power cut rounds: %d, seed %u (CORVANE_CUT_SEED=%u repeats them)", rounds, seed, seed);
        QRandomGenerator random(seed);

        // One whole add first: how long it takes on this machine.
        QVERIFY(mountFresh());
        QElapsedTimer clock;
        clock.start();
        QStringList added;
        QVERIFY2(runAdd(-1, false, &added), "the add did not end");
        const int addTime = int(clock.elapsed());
        QCOMPARE(added.size(), 8);
        QVERIFY(unmount());

        for (int round = 0; round < rounds; ++round) {
            // Odd rounds cut within two seconds after the add said it was
            // done, the others at any moment of the add.
            const bool afterEnd = round % 2 == 1;
            const int delay = int(random.bounded(afterEnd ? 2000 : qMax(addTime, 1)));
            QVERIFY(mountFresh());
            QStringList said;
            const bool ended = runAdd(delay, afterEnd, &said);
            qInfo("round %d: cut %d ms after the add %s; it had said %d songs added", round + 1, delay,
                  afterEnd ? "ended" : "began", int(said.size()));
            QVERIFY(!afterEnd || ended);
            QVERIFY2(!copy.isEmpty(), "the image never held still long enough to be copied");
            QVERIFY(unmount());

            // The copy takes the data folder's place; the program starts on it.
            QFile cut(dir.filePath("cut.img"));
            QVERIFY(cut.open(QIODevice::WriteOnly) && cut.write(copy) == copy.size());
            cut.close();
            copy.clear();
            QVERIFY(sh(QStringLiteral("mount -o loop '%1' '%2'").arg(cut.fileName(), mountPoint)));
            auto unmountCopy = qScopeGuard([this] { unmount(); });
            QVERIFY2(testkit::startTheProgram(environment()), "the program did not start on the copy");

            const QString library = mountPoint + "/Corvane-Media-Organiser/Music/Corvane Media Organiser";
            const Stored stored = readLibrary(mountPoint + "/Corvane-Media-Organiser/ruvo.db");
            QCOMPARE(stored.integrity, QStringLiteral("ok"));
            QCOMPARE(stored.unsettled, 0);
            QStringList wrong;
            for (const QString &path : std::as_const(said))
                if (!stored.rows.contains(path) || !QFileInfo(path).isFile())
                    wrong << "added, then lost: " + path;
            for (const QString &file : testkit::filesBelow(library))
                if (!stored.rows.contains(file))
                    wrong << "file no row owns: " + file;
            for (const QString &path : stored.rows)
                if (!QFileInfo(path).isFile())
                    wrong << "row without its file: " + path;
            qInfo("round %d: after the start on the copy, %d songs stored", round + 1, int(stored.rows.size()));
            QVERIFY2(wrong.isEmpty(), qPrintable(QStringLiteral("round %1: %2").arg(round + 1).arg(wrong.join('\n'))));
        }
    }

    void cleanupTestCase()
    {
        if (!mountPoint.isEmpty())
            unmount();
    }

private:
    // The data folder of the rounds: the mounted image's root.
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", mountPoint);
        return env;
    }

    bool mountFresh()
    {
        return sh(QStringLiteral("rm -f '%1' && truncate -s 64M '%1' && "
                                 "mkfs.ext4 -q -E lazy_itable_init=0,lazy_journal_init=0 '%1' && "
                                 "mount -o loop '%1' '%2'")
                      .arg(image, mountPoint));
    }

    bool unmount()
    {
        // A mount made with -o loop frees its loop device as it goes.
        return sh(QStringLiteral("umount '%1'").arg(mountPoint)) ||
               sh(QStringLiteral("umount -l '%1'").arg(mountPoint));
    }

    // Runs an add in a process of its own on the mounted image.  With a
    // `delay` of 0 or more, cuts the power that many ms after the add began
    // (or, with `afterEnd`, after it said it was done): the process is
    // stopped, the image copied into `copy`, the process killed.  `added`
    // gets the paths the add said it stored before the cut.  True when the
    // add said it was done.
    bool runAdd(int delay, bool afterEnd, QStringList *added)
    {
        QProcess child;
        child.setProcessEnvironment(environment());
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {addMode, dir.filePath("media")});
        if (!child.waitForStarted())
            return false;
        const QByteArray cutAfter = afterEnd ? "done" : "adding";
        bool done = false;
        bool cutting = false;
        QElapsedTimer since;
        const QDeadlineTimer limit(180000); // a bound against a hang only
        auto readLines = [&] {
            while (child.canReadLine()) {
                const QByteArray line = child.readLine().trimmed();
                if (line.startsWith("added "))
                    added->append(QString::fromUtf8(line.mid(6)));
                done = done || line == "done";
                if (!cutting && delay >= 0 && line == cutAfter) {
                    cutting = true;
                    since.start();
                }
            }
        };
        while (!limit.hasExpired()) {
            readLines();
            if (cutting && since.elapsed() >= delay)
                break;
            if (delay < 0 && done)
                break;
            if (child.state() == QProcess::NotRunning)
                break;
            child.waitForReadyRead(cutting ? qMax(1, delay - int(since.elapsed())) : 1000);
        }
        if (delay >= 0 && child.state() != QProcess::NotRunning) {
            ::kill(pid_t(child.processId()), SIGSTOP);
            copy = stableCopy(image);
        }
        child.kill();
        child.waitForFinished(60000);
        // What it said before it stopped: still in the pipe.
        readLines();
        return done;
    }

    QTemporaryDir dir;
    QString mountPoint;
    QString image;
    QByteArray copy;
};

// The child: adds the media of a folder to the library of its data folder,
// says "adding" as it begins, "added <path>" for each song stored and
// "done" at the end, then waits to be cut.
static int addChild(const QString &folder)
{
    Database db;
    if (!db.connect(QStringLiteral("RuvoData"), true))
        return 2;
    db.create();
    LibraryAdder::setOnlineOverride(false);
    testkit::useAacAndMp3Car();
    auto say = [](const QByteArray &line) {
        std::fputs((line + '\n').constData(), stdout);
        std::fflush(stdout);
    };
    manager controller;
    QSignalSpy done(&controller, &manager::updateProgressSearch);
    say("adding");
    testkit::startAlbumAdd(controller, testkit::albumTracksOf(folder, QStringLiteral("Cut Album"), albumId), albumId);
    const QDeadlineTimer limit(150000);
    while ((done.isEmpty() || controller.libraryAdder->isBusy()) && !limit.hasExpired())
        done.wait(1000);
    if (done.isEmpty() || controller.libraryAdder->isBusy())
        return 3;
    for (const track &t : std::as_const(controller.libraryTracks))
        say("added " + t.filepath.toUtf8());
    say("done");
    QEventLoop().exec(); // until the power goes
    return 0;
}

int main(int argc, char *argv[])
{
    if (const int code = testkit::runStartedProgram(argc, argv); code >= 0)
        return code;
    if (argc == 3 && qstrcmp(argv[1], addMode) == 0) {
        QApplication app(argc, argv);
        return addChild(QString::fromLocal8Bit(argv[2]));
    }
    testkit::isolateUserFolders();
    QApplication app(argc, argv);
    TestPowerCut tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_powercut.moc"
