#include <QtTest>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStorageInfo>
#include <QtEndian>

#include <sys/mount.h>
#include <unistd.h>

#include "app/libraryrecovery.h"
#include "database/database.h"
#include "database/librarydamage.h"
#include "database/ruvodb.h"
#include "delivery/ffmpeghandler.h"
#include "libraryfixture.h"
#include "mediakit.h"
#include "testenv.h"

// A new library taking back the program's files after the old one was
// damaged: each song once, whatever the conversion cache keeps beside it.
class TestLibraryRecovery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        kit = std::make_unique<testkit::MediaKit>(dir.path());
        song = kit->mp3(QStringLiteral("song.mp3"),
                        {QStringLiteral("Song"), QStringLiteral("Artist"), QStringLiteral("Album"), {}, {}, 2001, 1});
        songConverted =
            kit->m4a(QStringLiteral("song.m4a"),
                     {QStringLiteral("Song"), QStringLiteral("Artist"), QStringLiteral("Album"), {}, {}, 2001, 1});
        other = kit->m4a(QStringLiteral("other.m4a"),
                         {QStringLiteral("Other"), QStringLiteral("Artist"), QStringLiteral("Album"), {}, {}, 2001, 2});
        QVERIFY2(!song.isEmpty() && !songConverted.isEmpty() && !other.isEmpty(), qPrintable(kit->lastError()));
    }

    void eachSongOnce_data()
    {
        // Files as "made file=where in the library folder"; "cache/" stands
        // for the conversion cache.
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("rows");

        QTest::addRow("a transfer's conversion of a copy is no second song")
            << QStringList{"song=Artist/Album/01 Song.mp3", "converted=cache/Album/01 Song.m4a"}
            << QStringList{"Artist/Album/01 Song.mp3"};
        QTest::addRow("an add's conversion, the song's only file, is taken back")
            << QStringList{"converted=cache/Album/01 Song.m4a"} << QStringList{"cache/Album/01 Song.m4a"};
        QTest::addRow("another song's conversion beside a copy is taken back")
            << QStringList{"song=Artist/Album/01 Song.mp3", "other=cache/Album/02 Other.m4a"}
            << QStringList{"Artist/Album/01 Song.mp3", "cache/Album/02 Other.m4a"};
    }

    void eachSongOnce()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, rows);
        const QString folder = ruvoDB::programCopyFolder();
        QVERIFY(QDir(folder).removeRecursively());
        QVERIFY(testkit::openLibrary());
        const auto place = [&folder](QString relative) {
            return relative.startsWith(QLatin1String("cache/")) ? ffmpeghandler::cacheFolder() + relative.mid(5)
                                                                : folder + QLatin1Char('/') + relative;
        };
        const QMap<QString, QString> made{{"song", song}, {"converted", songConverted}, {"other", other}};
        for (const QString &file : std::as_const(files)) {
            const QString target = place(file.section('=', 1));
            QVERIFY(QDir().mkpath(QFileInfo(target).path()));
            QVERIFY(QFile::copy(made.value(file.section('=', 0, 0)), target));
        }

        const LibraryRecovery::Restored restored = LibraryRecovery::restoreCopies(folder);
        QVERIFY2(restored.failed.isEmpty(), qPrintable(restored.failed.join('\n')));
        QStringList stored;
        for (const track &t : ruvoDB().loadDB())
            stored << t.filepath;
        stored.sort();
        QStringList expected;
        for (const QString &row : std::as_const(rows))
            expected << place(row);
        expected.sort();
        QCOMPARE(stored, expected);
        QCOMPARE(restored.stored, rows.size());
    }

    void headerPageCount_data()
    {
        // The header's page count (bytes 28..31) counts only when the
        // change counter it was written with (92..95) is the file's own
        // (24..27); writers before SQLite 3.7.0 left both behind.
        QTest::addColumn<qint64>("pagesBeyond"); // what the count says past the file's pages
        QTest::addColumn<bool>("current");       // written with the file's last change
        QTest::addColumn<bool>("damaged");
        QTest::addRow("a stale count past the end, as older writers leave it") << qint64(16) << false << false;
        QTest::addRow("a stale count short of the end") << qint64(-2) << false << false;
        QTest::addRow("a current count past the end: cut short") << qint64(16) << true << true;
        QTest::addRow("a current count that fits") << qint64(0) << true << false;
    }

    void headerPageCount()
    {
        QFETCH(qint64, pagesBeyond);
        QFETCH(bool, current);
        QFETCH(bool, damaged);
        QTemporaryDir folder;
        const QString path = folder.filePath("ruvo.db");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "header");
            db.setDatabaseName(path);
            QVERIFY(db.open());
            QSqlQuery query(db);
            QVERIFY(query.exec("CREATE TABLE songs (id INTEGER PRIMARY KEY, title TEXT)"));
            for (int i = 0; i < 200; ++i)
                QVERIFY(query.exec(QStringLiteral("INSERT INTO songs (title) VALUES ('%1')").arg(QString(60, QChar(u'a' + i % 26)))));
            query.finish();
            db.close();
        }
        QSqlDatabase::removeDatabase("header");
        QVERIFY(!QFileInfo::exists(path + "-wal"));

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray header = file.read(100);
        const auto word = [&header](int at) { return qFromBigEndian<quint32>(header.constData() + at); };
        const auto setWord = [&header](int at, quint32 value) { qToBigEndian(value, header.data() + at); };
        const qint64 pageSize = quint16(qFromBigEndian<quint16>(header.constData() + 16));
        const qint64 pages = file.size() / pageSize;
        QVERIFY(pages > 3 && word(28) == pages && word(92) == word(24));
        setWord(28, quint32(pages + pagesBeyond));
        if (!current)
            setWord(92, word(24) - 1);
        QVERIFY(file.seek(0) && file.write(header) == 100);
        file.close();

        const QString problem = LibraryRecovery::problemWith(path);
        QVERIFY2(problem.isEmpty() != damaged, qPrintable(problem));
        if (damaged)
            QCOMPARE(problem, QStringLiteral("the file is cut short"));
    }

    // SQLite's word that the file is damaged, met while a load reads it: the
    // load leaves the file alone and notes the damage, and the next start's
    // check goes by that note.
    void damageMetInUseIsNoted()
    {
        QVERIFY(testkit::openLibrary());
        const QString path = testkit::libraryFile();
        QFile::remove(LibraryDamage::notePath(path));
        for (int i = 0; i < 3; ++i) {
            const QString file = dir.filePath(QStringLiteral("noted/%1.mp3").arg(i));
            QVERIFY(testkit::touch(file));
            QVERIFY(ruvoDB().storeTrack(testkit::makeTrack(file)) > 0);
        }
        QVERIFY(testkit::exec("PRAGMA wal_checkpoint(TRUNCATE)"));
        const qint64 pageSize = testkit::scalar("PRAGMA page_size").toLongLong();
        const qint64 root = testkit::scalar("SELECT rootpage FROM sqlite_master WHERE name = 'tracks'").toLongLong();
        QVERIFY(pageSize >= 512 && root > 1);
        QSqlDatabase::database(QSqlDatabase::defaultConnection, false).close();
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite) && file.seek((root - 1) * pageSize));
            QCOMPARE(file.write(QByteArray(pageSize, '\0')), pageSize);
        }

        QVERIFY(Database().connect(QStringLiteral("RuvoData"), true));
        QVERIFY(ruvoDB().loadDB().isEmpty());
        const QString noted = LibraryDamage::noted(path);
        QVERIFY2(noted.contains(QLatin1String("malformed")), qPrintable(noted));
        QCOMPARE(LibraryRecovery::problemWith(path), noted);

        // A new library in its place is not the damaged one.
        testkit::forgetLibrary();
        QVERIFY(QFile::exists(LibraryDamage::notePath(path)));
        QVERIFY(testkit::openLibrary());
        QVERIFY(ruvoDB().storeTrack(testkit::makeTrack(dir.filePath(QStringLiteral("noted/0.mp3")))) > 0);
        QSqlDatabase::database(QSqlDatabase::defaultConnection, false).close();
        QCOMPARE(LibraryRecovery::problemWith(path), QString());
        testkit::forgetLibrary();
    }

    // A disk filled to the last byte keeps SQLite from opening the library
    // (it has no room for its journal's index): no damage, nothing set aside.
    void fullDiskIsNoDamage()
    {
        if (::geteuid() != 0)
            QSKIP("mounting a small volume needs root");
        QTemporaryDir folder;
        const QByteArray mountPoint = QFile::encodeName(folder.path());
        if (::mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=1m") != 0)
            QSKIP("no tmpfs can be mounted here");
        auto unmount = qScopeGuard([&] { ::umount2(mountPoint.constData(), MNT_DETACH); });
        const QString path = folder.filePath("ruvo.db");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "full");
            db.setDatabaseName(path);
            QVERIFY(db.open());
            QSqlQuery query(db);
            QVERIFY(query.exec("PRAGMA journal_mode = WAL"));
            QVERIFY(query.exec("CREATE TABLE songs (id INTEGER PRIMARY KEY, title TEXT)"));
            QVERIFY(query.exec("INSERT INTO songs (title) VALUES ('One')"));
            query.finish();
            db.close();
        }
        QSqlDatabase::removeDatabase("full");
        QFile filler(folder.filePath("filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'f');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        filler.close();
        QCOMPARE(QStorageInfo(folder.path()).bytesAvailable(), 0);

        const QString problem = LibraryRecovery::problemWith(path);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }

private:
    QTemporaryDir dir;
    std::unique_ptr<testkit::MediaKit> kit;
    QString song, songConverted, other;
};

CORVANE_TEST_MAIN(TestLibraryRecovery)
#include "tst_libraryrecovery.moc"
