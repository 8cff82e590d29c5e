#include <QtTest>

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStorageInfo>

#include <sys/file.h>
#include <sys/stat.h>
#include <sys/mount.h>
#include <unistd.h>

#include "app/libraryrecovery.h"
#include "app/manager.h"
#include "app/startup.h"
#include "core/backgroundjob.h"
#include "core/shared.h"
#include "database/connection.h"
#include "database/librarydamage.h"
#include "database/ruvodb.h"
#include "platform/temporaryfiles.h"
#include "libraryfixture.h"
#include "mediakit.h"
#include "scanfixture.h"
#include "testenv.h"

// Start-up on one data folder: only one copy works on it, and a library
// file that can't be used is kept aside and told, never replaced.  Copies of
// the program are this test started again (see main), on the home the test
// gives them.
namespace {

const char holdMode[] = "--hold";      // starts, says so, runs until killed
const char secondMode[] = "--second";  // starts and says how, then ends
const char onceMode[] = "--once";      // starts, waits for the library, reports it

QString outcomeName(InstanceLock::Outcome outcome)
{
    switch (outcome) {
    case InstanceLock::Outcome::Owned:
        return QStringLiteral("owned");
    case InstanceLock::Outcome::HandedOver:
        return QStringLiteral("handed over");
    case InstanceLock::Outcome::Refused:
        return QStringLiteral("refused");
    case InstanceLock::Outcome::Unwritable:
        return QStringLiteral("unwritable");
    }
    return QString();
}

// Every entry below `folder` with its size and modification time.
QStringList snapshot(const QString &folder)
{
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        entries << QStringLiteral("%1 %2 %3")
                       .arg(QDir(folder).relativeFilePath(info.filePath()))
                       .arg(info.isDir() ? -1 : info.size())
                       .arg(info.lastModified().toMSecsSinceEpoch());
    }
    entries.sort();
    return entries;
}

QProcessEnvironment homeEnvironment(const QString &home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    env.insert("XDG_DATA_HOME", home + "/.local/share");
    env.insert("XDG_CONFIG_HOME", home + "/.config");
    env.insert("XDG_CACHE_HOME", home + "/.cache");
    return env;
}

int runChild(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QTextStream out(stdout);
    StartUp startUp;
    const InstanceLock::Outcome outcome = startUp.start();
    out << "outcome:" << outcomeName(outcome) << Qt::endl;
    if (outcome != InstanceLock::Outcome::Owned || qstrcmp(argv[1], secondMode) == 0)
        return 0;
    if (qstrcmp(argv[1], holdMode) == 0)
        return app.exec();

    manager *controller = startUp.controller();
    // The first frame comes before the library is checked and opened.
    QObject::connect(
        &startUp.viewer(), &QQuickWindow::frameSwapped, &app,
        [&out] {
            out << "framed:" << (Connection::libraryPath().isEmpty() ? "library not yet open" : "library open")
                << Qt::endl;
        },
        Qt::ConnectionType(Qt::DirectConnection | Qt::SingleShotConnection));
    QStringList told;
    QObject::connect(controller, &manager::showMessageBox, [&told](const QVariant &message) {
        told << message.toString();
    });
    const auto busy = [controller] {
        return controller->isCheckingLibrary() || controller->isRefreshingViews() ||
               JobRegistry::instance().anyRunning();
    };
    QDeadlineTimer deadline(120000);
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(10);
    } while (busy() && !deadline.hasExpired());
    QCoreApplication::processEvents();
    for (const QString &message : std::as_const(told))
        out << "told:" << QString(message).replace('\n', " | ") << Qt::endl;
    for (const track &t : std::as_const(controller->libraryTracks))
        out << "track:" << t.filepath << Qt::endl;
    return 0;
}

} // namespace

class TestStartUp : public QObject
{
    Q_OBJECT

private slots:
    void staleLockIsTakenOver();
    void handOverSocketIsTheUsersOwn();
    void secondStartHandsOver();
    void unreachableCopyRefusesTheStart();
    void unwritableFolderIsNoRunningCopy();
    void startsAtOnceHaveOneOwner_data();
    void startsAtOnceHaveOneOwner();
    void strangeLockFileStillStarts_data();
    void strangeLockFileStillStarts();
    void fullDiskStillStarts();
    void damagedLibraryIsKeptAndTold_data();
    void damagedLibraryIsKeptAndTold();

private:
    QProcess *child(const QStringList &arguments, const QProcessEnvironment &env);
    // Runs a copy to its end; its output lines.
    QStringList runOnce(const QString &home);

    std::unique_ptr<StartUp> app;
};

QProcess *TestStartUp::child(const QStringList &arguments, const QProcessEnvironment &env)
{
    auto *process = new QProcess(this);
    process->setProcessEnvironment(env);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(QCoreApplication::applicationFilePath(), arguments);
    return process;
}

QStringList TestStartUp::runOnce(const QString &home)
{
    std::unique_ptr<QProcess> process(child({onceMode}, homeEnvironment(home)));
    process->setParent(nullptr);
    if (!process->waitForFinished(180000) || process->exitCode() != 0)
        return {QStringLiteral("failed")};
    return QString::fromUtf8(process->readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

// A copy killed outright leaves its lock; the next start takes it over.
void TestStartUp::staleLockIsTakenOver()
{
    QProcess *holder = child({holdMode}, QProcessEnvironment::systemEnvironment());
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += holder->readAllStandardOutput()).contains("outcome:owned"), 20000);
    const QString lockFile = shared::dataFolder() + "/ruvo.lock";
    QVERIFY(QFile::exists(lockFile));
    holder->kill();
    QVERIFY(holder->waitForFinished());
    QVERIFY(QFile::exists(lockFile));

    app = std::make_unique<StartUp>();
    QCOMPARE(app->start(), InstanceLock::Outcome::Owned);
    QVERIFY(app->instanceLock()->isOwned());
}

// The copy holding the folder listens where only its user can reach: in
// the shared temporary folder another user could take the name first and
// answer every later start.  One name per data folder, however it is spelt.
void TestStartUp::handOverSocketIsTheUsersOwn()
{
    QVERIFY(app);
    const QString folder = shared::dataFolder();
    const QString name = InstanceLock::serverName(folder);
    QVERIFY2(QFileInfo(name).isAbsolute(), qPrintable(name));
    QVERIFY2(QFileInfo::exists(name), qPrintable(name));
    const QFileInfo dir(QFileInfo(name).path());
    QCOMPARE(dir.ownerId(), uint(::getuid()));
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther |
                                      QFile::WriteOther | QFile::ExeOther;
    QVERIFY2(!(dir.permissions() & others), qPrintable(dir.filePath()));

    QCOMPARE(InstanceLock::serverName(folder + "/../" + QFileInfo(folder).fileName() + "/"), name);
    QVERIFY(InstanceLock::serverName(folder + "-other") != name);
}

// A second start brings the running copy forward and ends without touching
// the data folder: no log restarted, no library opened, nothing swept.
void TestStartUp::secondStartHandsOver()
{
    QVERIFY(app);
    manager *controller = app->controller();
    QTRY_VERIFY_WITH_TIMEOUT(!controller->isCheckingLibrary() && !JobRegistry::instance().anyRunning(), 60000);
    // A leftover of a killed run that only the copy holding the folder may sweep.
    const QString leftover = TemporaryFiles::beside(ruvoDB::programCopyFolder() + "/Album/a.mp3");
    QVERIFY(QDir().mkpath(QFileInfo(leftover).path()));
    QFile file(leftover);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.setFileTime(QDateTime::currentDateTime().addDays(-1), QFileDevice::FileModificationTime));
    file.close();
    // The running copy may still log its update check's end meanwhile: its
    // log is compared as one that only grows, everything else as it is.
    const QString log = shared::dataFolder() + "/debug.log";
    const auto otherThanLog = [] {
        QStringList entries = snapshot(shared::dataFolder());
        entries.removeIf([](const QString &entry) { return entry.startsWith(QLatin1String("debug.log ")); });
        return entries;
    };
    const QByteArray logBefore = testkit::fileBytes(log);
    QVERIFY(!logBefore.isEmpty());
    const QStringList before = otherThanLog();

    QSignalSpy forward(app->instanceLock(), &InstanceLock::activationRequested);
    QProcess *second = child({secondMode}, QProcessEnvironment::systemEnvironment());
    QTRY_VERIFY_WITH_TIMEOUT(second->state() == QProcess::NotRunning, 120000);
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QVERIFY(second->readAllStandardOutput().contains("outcome:handed over"));
    QCOMPARE(forward.count(), 1);
    QCOMPARE(otherThanLog(), before);
    QVERIFY(testkit::fileBytes(log).startsWith(logBefore));
    QVERIFY(QFile::exists(leftover));

    // The copy that holds the folder goes on working on it.  Its end frees
    // the folder; the lock file stays for the next start.
    app.reset();
    QLockFile next(shared::dataFolder() + "/ruvo.lock");
    QVERIFY(QFile::exists(next.fileName()));
    QFile lockFile(next.fileName());
    QVERIFY(lockFile.open(QIODevice::ReadWrite));
    QCOMPARE(::flock(lockFile.handle(), LOCK_EX | LOCK_NB), 0);
}

// A living copy that doesn't answer still holds the folder: the start is
// refused (main then says the program is already running), nothing opened.
void TestStartUp::unreachableCopyRefusesTheStart()
{
    QTemporaryDir home(QDir::tempPath() + "/corvane-start-XXXXXX");
    const QString data = home.path() + "/.local/share/Corvane-Media-Organiser";
    QVERIFY(QDir().mkpath(data));
    QLockFile held(data + "/ruvo.lock");
    QVERIFY(held.tryLock(0));
    const QStringList before = snapshot(data);

    QProcess *second = child({secondMode}, homeEnvironment(home.path()));
    QTRY_VERIFY_WITH_TIMEOUT(second->state() == QProcess::NotRunning, 120000);
    QCOMPARE(second->exitCode(), 0);
    QVERIFY(second->readAllStandardOutput().contains("outcome:refused"));
    QCOMPARE(snapshot(data), before);
}

// A data folder where no lock can be made is said as such, at once: no
// running copy is waited for or named.
void TestStartUp::unwritableFolderIsNoRunningCopy()
{
    QTemporaryDir home(QDir::tempPath() + "/corvane-start-XXXXXX");
    // A file where the data folder should be (permissions don't bind root).
    QVERIFY(testkit::touch(home.path() + "/.local/share/Corvane-Media-Organiser", "a user's file"));

    QProcess *second = child({secondMode}, homeEnvironment(home.path()));
    QTRY_VERIFY_WITH_TIMEOUT(second->state() == QProcess::NotRunning, 120000);
    QCOMPARE(second->exitCode(), 0);
    QVERIFY(second->readAllStandardOutput().contains("outcome:unwritable"));
    QCOMPARE(testkit::fileBytes(home.path() + "/.local/share/Corvane-Media-Organiser"), QByteArray("a user's file"));
}

void TestStartUp::startsAtOnceHaveOneOwner_data()
{
    QTest::addColumn<bool>("linkedLockFile");
    QTest::addRow("the lock file as it is left") << false;
    // The file can't be locked: the folder's own lock alone keeps the others out.
    QTest::addRow("a link in the lock file's place") << true;
}

// Copies started at the same instant: one works on the folder, every other
// hands over to it.
void TestStartUp::startsAtOnceHaveOneOwner()
{
    QFETCH(bool, linkedLockFile);
    QTemporaryDir home(QDir::tempPath() + "/corvane-start-XXXXXX");
    const QString data = home.path() + "/.local/share/Corvane-Media-Organiser";
    QVERIFY(QDir().mkpath(data));
    if (linkedLockFile) {
        QVERIFY(testkit::touch(home.path() + "/outside.txt", "a user's file"));
        QVERIFY(QFile::link(home.path() + "/outside.txt", data + "/ruvo.lock"));
    } else {
        QVERIFY(testkit::touch(data + "/ruvo.lock", QByteArray()));
    }
    QList<QProcess *> copies;
    for (int i = 0; i < 4; ++i)
        copies << child({holdMode}, homeEnvironment(home.path()));
    QList<QByteArray> said(copies.size());
    const auto outcomes = [&] {
        QStringList all;
        for (int i = 0; i < copies.size(); ++i) {
            said[i] += copies[i]->readAllStandardOutput();
            const QRegularExpressionMatch outcome = QRegularExpression("outcome:([a-z ]+)").match(said[i]);
            if (outcome.hasMatch())
                all << outcome.captured(1);
        }
        return all;
    };
    QTRY_COMPARE_WITH_TIMEOUT(outcomes().size(), copies.size(), 120000);
    QStringList all = outcomes();
    all.sort();
    QCOMPARE(all, (QStringList{"handed over", "handed over", "handed over", "owned"}));
    for (QProcess *copy : std::as_const(copies)) {
        copy->kill();
        copy->waitForFinished();
    }
    QCOMPARE(testkit::fileBytes(home.path() + "/outside.txt"), linkedLockFile ? QByteArray("a user's file") : QByteArray());
}

void TestStartUp::strangeLockFileStillStarts_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addRow("an empty lock file") << "empty";
    QTest::addRow("random bytes") << "random";
    QTest::addRow("written on another host") << "other host";
    QTest::addRow("a folder in its place") << "folder";
    QTest::addRow("a link to a file outside") << "link";
    QTest::addRow("a link to nowhere") << "dangling link";
}

// Whatever stands at the lock file's name starts the program at once, and
// still keeps a second copy out; nothing is written through a link.
void TestStartUp::strangeLockFileStillStarts()
{
    QFETCH(QString, kind);
    QTemporaryDir home(QDir::tempPath() + "/corvane-start-XXXXXX");
    const QString data = home.path() + "/.local/share/Corvane-Media-Organiser";
    const QString lock = data + "/ruvo.lock";
    const QString outside = home.path() + "/outside.txt";
    QVERIFY(QDir().mkpath(data));
    QVERIFY(testkit::touch(outside, "a user's file"));
    {
        QFile file(outside);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addDays(-1), QFileDevice::FileModificationTime));
    }
    const QDateTime outsideTime = QFileInfo(outside).lastModified();
    const QString nowhere = home.path() + "/nowhere.txt";
    if (kind == "empty") {
        QVERIFY(testkit::touch(lock, QByteArray()));
    } else if (kind == "random") {
        QByteArray bytes(4096, 0);
        for (char &byte : bytes)
            byte = char(QRandomGenerator::global()->bounded(256));
        QVERIFY(testkit::touch(lock, bytes));
    } else if (kind == "other host") {
        QVERIFY(testkit::touch(lock, QByteArray::number(qint64(::getpid())) + "\ncorvane\nanother-host\n"));
    } else if (kind == "folder") {
        QVERIFY(testkit::touch(lock + "/inside", "kept"));
    } else if (kind == "link") {
        QVERIFY(QFile::link(outside, lock));
    } else {
        QVERIFY(QFile::link(nowhere, lock));
    }

    QProcess *holder = child({holdMode}, homeEnvironment(home.path()));
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += holder->readAllStandardOutput()).contains("outcome:"), 120000);
    QVERIFY2(said.contains("outcome:owned"), said.constData());

    // A second start while the first runs hands over to it.
    QProcess *second = child({secondMode}, homeEnvironment(home.path()));
    QTRY_VERIFY_WITH_TIMEOUT(second->state() == QProcess::NotRunning, 120000);
    QVERIFY(second->readAllStandardOutput().contains("outcome:handed over"));
    holder->kill();
    QVERIFY(holder->waitForFinished());

    QCOMPARE(testkit::fileBytes(outside), QByteArray("a user's file"));
    QCOMPARE(QFileInfo(outside).lastModified(), outsideTime);
    QVERIFY(!QFileInfo::exists(nowhere));
    if (kind.endsWith("link"))
        QCOMPARE(QFileInfo(lock).symLinkTarget(), kind == "link" ? outside : nowhere);
    if (kind == "folder")
        QCOMPARE(testkit::fileBytes(lock + "/inside"), QByteArray("kept"));
}

// A disk filled to the last byte still starts the program and shows the
// library, at every start while it stays full, and says the disk is full;
// the library on it is not taken for damaged.  A library that can't be
// opened is told.
void TestStartUp::fullDiskStillStarts()
{
    if (::geteuid() != 0)
        QSKIP("mounting a small volume needs root");
    QTemporaryDir home(QDir::tempPath() + "/corvane-start-XXXXXX");
    const QString data = home.path() + "/.local/share/Corvane-Media-Organiser";
    QVERIFY(QDir().mkpath(data));
    const QByteArray mountPoint = QFile::encodeName(data);
    if (::mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=8m") != 0)
        QSKIP("no tmpfs can be mounted here");
    auto unmount = qScopeGuard([&] { ::umount2(mountPoint.constData(), MNT_DETACH); });

    QStringList lines = runOnce(home.path());
    QVERIFY2(lines.contains("outcome:owned"), qPrintable(lines.join('\n')));
    QVERIFY(lines.filter("told:").isEmpty());
    // A song in the library, which the user must still see to remove it.
    testkit::MediaKit kit(data + "/Music/Corvane Media Organiser");
    const QString song = kit.mp3("Blue/01 One.mp3", {"One", "Band", "Blue", "Rock", "", 2001, 1});
    QVERIFY(!song.isEmpty());
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "full");
        db.setDatabaseName(data + "/ruvo.db");
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.prepare("INSERT INTO tracks (filename, trackname, filepath, codec, artist_id, album_id, "
                              "genre_id, year_id) VALUES ('01 One.mp3', 'One', ?, 'mp3', 1, 1, 1, 1)"));
        query.addBindValue(song);
        QVERIFY2(query.exec(), qPrintable(query.lastError().text()));
        query.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase("full");

    // Filled to the last byte, as a copy running out of room leaves it.
    int fillers = 0;
    const auto fill = [&] {
        QFile filler(data + QStringLiteral("/filler-%1").arg(++fillers));
        if (!filler.open(QIODevice::WriteOnly))
            return false;
        const QByteArray block(4096, 'f');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        filler.close();
        return QStorageInfo(data).bytesAvailable() == 0;
    };
    const auto nothingSetAside = [&] {
        return QDir(data).entryList({"ruvo.db.damaged-*"}, QDir::AllEntries | QDir::Hidden).isEmpty();
    };
    // The first start on the full disk has the spare room it gives back; the
    // second has none left, while something else took that room meanwhile.
    for (const char *start : {"first full start", "second full start"}) {
        QVERIFY2(fill(), start);
        lines = runOnce(home.path());
        QVERIFY2(lines.contains("outcome:owned"), qPrintable(lines.join('\n')));
        const QStringList told = lines.filter("told:");
        QVERIFY2(told.size() == 1, qPrintable(QString(start) + ": " + lines.join('\n')));
        QVERIFY2(told.first().contains("The disk that holds the library is full"), qPrintable(told.first()));
        QVERIFY(nothingSetAside());
        QVERIFY2(lines.filter("track:") == QStringList{"track:" + song},
                 qPrintable(QString(start) + ": " + lines.join('\n')));
    }

    // Without the room the program keeps for the log's index, SQLite can't
    // open the library on that disk: the user is told, nothing is set aside.
    QVERIFY(QFile::remove(data + "/ruvo.db-shm-room"));
    QFile::remove(data + "/ruvo.db-shm");
    QVERIFY(fill());
    lines = runOnce(home.path());
    QVERIFY2(lines.contains("outcome:owned"), qPrintable(lines.join('\n')));
    const QStringList told = lines.filter("told:");
    QVERIFY2(told.size() == 2, qPrintable(lines.join('\n')));
    QVERIFY2(told.filter("could not be opened").size() == 1, qPrintable(told.join('\n')));
    QVERIFY2(told.filter("The disk that holds the library is full").size() == 1, qPrintable(told.join('\n')));
    QVERIFY(nothingSetAside());

    // With room again, the library is back as it was.
    for (int n = 1; n <= fillers; ++n)
        QVERIFY(QFile::remove(data + QStringLiteral("/filler-%1").arg(n)));
    lines = runOnce(home.path());
    QVERIFY2(lines.filter("told:").isEmpty(), qPrintable(lines.join('\n')));
    QCOMPARE(lines.filter("track:"), QStringList{"track:" + song});
}

void TestStartUp::damagedLibraryIsKeptAndTold_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addRow("a truncated file") << "truncated";
    QTest::addRow("a file cut at a page's end") << "cut at a page";
    QTest::addRow("pages damaged, cut off mid-write") << "pages";
    QTest::addRow("its header overwritten, journal beside it") << "header";
    QTest::addRow("a folder in its place") << "folder";
    QTest::addRow("an empty file") << "empty";
    // Closed cleanly, header and size intact: only a look at every page finds these.
    QTest::addRow("a table page zeroed") << "table page";
    QTest::addRow("a page of an index zeroed") << "index page";
    QTest::addRow("the tracks' root page zeroed") << "root page";
    QTest::addRow("the schema page zeroed past the header") << "schema page";
    // Damage SQLite met in use that no check of the file finds: the note says it.
    QTest::addRow("sound pages, damage noted in use") << "noted";
}

void TestStartUp::damagedLibraryIsKeptAndTold()
{
    QFETCH(QString, damage);
    QTemporaryDir home(QDir::tempPath() + "/corvane-start-XXXXXX");
    const QString data = home.path() + "/.local/share/Corvane-Media-Organiser";
    const QString libraryFile = data + "/ruvo.db";
    const QString copies = data + "/Music/Corvane Media Organiser";

    // A first start on an empty home is no damage: nothing is said.
    QStringList lines = runOnce(home.path());
    QVERIFY2(lines.contains("outcome:owned"), qPrintable(lines.join('\n')));
    QVERIFY(lines.filter("told:").isEmpty());
    QVERIFY(QFileInfo(libraryFile).isFile());

    // The program's own copies, which only their tags describe now.
    testkit::MediaKit kit(copies);
    QStringList songs{kit.mp3("Blue/01 One.mp3", {"One", "Band", "Blue", "Rock", "", 2001, 1}),
                      kit.flac("Blue/02 Two.flac", {"Two", "Band", "Blue", "Rock", "", 2001, 2}),
                      kit.m4a("Green/Three.m4a", {"Three", "Other", "Green", "Pop", "", 1999, 1})};
    QVERIFY(!songs.contains(QString()));

    qint64 pageSize = 0, tableLeaf = 0, indexRoot = 0, tracksRoot = 0;
    {
        // The songs' rows (a library that kept them would show each twice
        // once the copies are taken back), and staging rows enough for a
        // table of several pages.
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "checkpoint");
        db.setDatabaseName(libraryFile);
        QVERIFY(db.open());
        QSqlQuery query(db);
        for (const QString &song : std::as_const(songs)) {
            QVERIFY(query.prepare("INSERT INTO tracks (filename, trackname, filepath, codec, artist_id, album_id, "
                                  "genre_id, year_id) VALUES (?, ?, ?, 'mp3', 1, 1, 1, 1)"));
            query.addBindValue(QFileInfo(song).fileName());
            query.addBindValue(QFileInfo(song).completeBaseName());
            query.addBindValue(song);
            QVERIFY2(query.exec(), qPrintable(query.lastError().text()));
        }
        for (int i = 0; i < 400; ++i) {
            QVERIFY(query.prepare("INSERT INTO TrackRepo (filename, filepath, folderLocation) VALUES (?, ?, ?)"));
            query.addBindValue(QStringLiteral("staged %1.mp3").arg(i));
            query.addBindValue(QStringLiteral("/media/staged/%1/staged %2.mp3").arg(i / 10).arg(i));
            query.addBindValue(QStringLiteral("/media/staged/%1").arg(i / 10));
            QVERIFY2(query.exec(), qPrintable(query.lastError().text()));
        }
        // Everything in the main file: the damage is to it alone.
        QVERIFY(query.exec("PRAGMA wal_checkpoint(TRUNCATE)"));
        const auto number = [&query](const QString &sql) {
            return query.exec(sql) && query.next() ? query.value(0).toLongLong() : 0;
        };
        pageSize = number("PRAGMA page_size");
        tableLeaf = number("SELECT pageno FROM dbstat WHERE name = 'TrackRepo' AND pagetype = 'leaf' "
                           "ORDER BY pageno LIMIT 1");
        indexRoot = number("SELECT rootpage FROM sqlite_master WHERE name = 'tracks_filepath'");
        tracksRoot = number("SELECT rootpage FROM sqlite_master WHERE name = 'tracks'");
        query.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase("checkpoint");
    QFile::remove(libraryFile + "-wal");
    QFile::remove(libraryFile + "-shm");

    QFile library(libraryFile);
    QByteArray journal;
    if (damage == "truncated") {
        QVERIFY(library.size() > 8192);
        QVERIFY(library.resize(library.size() / 2));
    } else if (damage == "cut at a page") {
        // Each size check alone: only the page count in the header tells.
        QVERIFY(library.size() > 8192);
        QVERIFY(library.resize(library.size() / 2 / 65536 * 65536 + 4096));
    } else if (damage == "pages") {
        // The header and the schema are sound; the tables are not.  A journal
        // beside it says the last run was cut off.
        QVERIFY(library.open(QIODevice::ReadWrite));
        const qint64 size = library.size();
        QVERIFY(library.seek(4096) && library.write(QByteArray(size - 4096, 'x')) == size - 4096);
        library.close();
        journal = "the journal of the damaged file";
        QFile wal(libraryFile + "-wal");
        QVERIFY(wal.open(QIODevice::WriteOnly));
        wal.write(journal);
    } else if (damage == "header") {
        QVERIFY(library.open(QIODevice::ReadWrite));
        library.write(QByteArray(100, 'x'));
        library.close();
        journal = "the journal of the damaged file";
        QFile wal(libraryFile + "-wal");
        QVERIFY(wal.open(QIODevice::WriteOnly));
        wal.write(journal);
    } else if (damage.endsWith(" page")) {
        const QMap<QString, qint64> pages{
            {"table page", tableLeaf}, {"index page", indexRoot}, {"root page", tracksRoot}, {"schema page", 1}};
        const qint64 page = pages.value(damage);
        QVERIFY(pageSize >= 512 && page > 0 && (page > 1 || damage == "schema page"));
        const qint64 from = (page - 1) * pageSize + (page == 1 ? 100 : 0);
        const qint64 size = library.size();
        QVERIFY(library.open(QIODevice::ReadWrite) && library.seek(from));
        QCOMPARE(library.write(QByteArray(page * pageSize - from, '\0')), page * pageSize - from);
        library.close();
        QCOMPARE(library.size(), size);
    } else if (damage == "noted") {
        struct stat info;
        QVERIFY(::stat(QFile::encodeName(libraryFile).constData(), &info) == 0);
        QFile note(LibraryDamage::notePath(libraryFile));
        QVERIFY(note.open(QIODevice::WriteOnly));
        note.write(QByteArray::number(quint64(info.st_ino)) + "\ndatabase disk image is malformed");
    } else if (damage == "folder") {
        QVERIFY(library.remove());
        QVERIFY(QDir().mkpath(libraryFile));
        QFile inside(libraryFile + "/inside");
        QVERIFY(inside.open(QIODevice::WriteOnly));
        inside.write("kept");
    } else {
        QVERIFY(library.resize(0));
    }
    QFile damaged(libraryFile);
    const QByteArray damagedBytes = damaged.open(QIODevice::ReadOnly) ? damaged.readAll() : QByteArray();
    damaged.close();

    lines = runOnce(home.path());
    QVERIFY2(lines.contains("outcome:owned"), qPrintable(lines.join('\n')));
    // The window did not wait for the check that finds the damage.
    QVERIFY2(lines.contains("framed:library not yet open"), qPrintable(lines.join('\n')));

    // Kept as it was, under a name that says so, journal beside it.
    const QStringList kept = QDir(data).entryList({"ruvo.db.damaged-*"}, QDir::AllEntries | QDir::Hidden);
    const QStringList keptFiles = kept.filter(QRegularExpression("^ruvo\\.db\\.damaged-[0-9-]+$"));
    QCOMPARE(keptFiles.size(), 1);
    const QString keptAt = data + "/" + keptFiles.first();
    if (damage == "folder") {
        QVERIFY(QFileInfo(keptAt + "/inside").isFile());
    } else {
        QFile keptFile(keptAt);
        QVERIFY(keptFile.open(QIODevice::ReadOnly));
        QCOMPARE(keptFile.readAll(), damagedBytes);
    }
    if (!journal.isEmpty()) {
        QFile keptJournal(keptAt + "-wal");
        QVERIFY(keptJournal.open(QIODevice::ReadOnly));
        QCOMPARE(keptJournal.readAll(), journal);
    }

    // Told once, naming where the old file is.
    const QStringList told = lines.filter(QRegularExpression("^told:"));
    QCOMPARE(told.size(), 1);
    QVERIFY2(told.first().contains(keptAt), qPrintable(told.first()));

    // The new library is sound and holds every copy.
    QVERIFY(LibraryRecovery::problemWith(libraryFile).isEmpty());
    QStringList tracks = lines.filter(QRegularExpression("^track:"));
    tracks.replaceInStrings(QRegularExpression("^track:"), QString());
    tracks.sort();
    songs.sort();
    QCOMPARE(tracks, songs);

    // The next start finds nothing wrong.
    lines = runOnce(home.path());
    QVERIFY(lines.filter("told:").isEmpty());
    QCOMPARE(lines.filter("track:").size(), songs.size());
}

int main(int argc, char *argv[])
{
    if (argc >= 2 && (qstrcmp(argv[1], holdMode) == 0 || qstrcmp(argv[1], secondMode) == 0 ||
                      qstrcmp(argv[1], onceMode) == 0))
        return runChild(argc, argv);
    testkit::isolateUserFolders();
    QApplication app(argc, argv);
    TestStartUp tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_startup.moc"
