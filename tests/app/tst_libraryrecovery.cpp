#include <QtTest>

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStorageInfo>
#include <QtEndian>

#include <cstdio>
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
    // load notes the damage and leaves the file as it is (nothing in it is
    // cleaned up or forgotten), and the next start's check goes by that note.
    void damageMetInUseIsNoted_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("pageType");
        QTest::addRow("the tracks' root page") << "tracks"
                                               << "root";
        // A name table read to a page it can't read has not reached its end.
        QTest::addRow("a later page of the artists") << "artists"
                                                     << "leaf";
        QTest::addRow("a later page of the albums") << "albums"
                                                    << "leaf";
        QTest::addRow("a later page of the genres") << "genres"
                                                    << "leaf";
        // Only the load reads a long cover path's rest: a clean-up of the
        // rows around it goes through.
        QTest::addRow("the rest of a long cover path") << "albums"
                                                       << "overflow";
    }

    void damageMetInUseIsNoted()
    {
        QFETCH(QString, table);
        QFETCH(QString, pageType);
        QVERIFY(testkit::openLibrary());
        const QString path = testkit::libraryFile();
        QFile::remove(LibraryDamage::notePath(path));
        for (int i = 0; i < 3; ++i) {
            const QString file = dir.filePath(QStringLiteral("noted/%1.mp3").arg(i));
            QVERIFY(testkit::touch(file));
            QVERIFY(ruvoDB().storeTrack(testkit::makeTrack(file)) > 0);
        }
        // An album with a long cover path that a track uses, in the file's
        // first pages (a clean-up moves none of them), and names for tables
        // of several pages that no track uses (a clean-up deletes them).
        QVERIFY(testkit::exec(QStringLiteral("INSERT INTO albums(name, artist_id, cover, year) VALUES ('Long', 1, ?, "
                                             "2001)"),
                              {QStringLiteral("/covers/") + QString(20000, 'l') + QStringLiteral(".png")}));
        QVERIFY(testkit::exec(QStringLiteral("UPDATE tracks SET album_id = (SELECT id FROM albums WHERE name = 'Long') "
                                             "WHERE id = (SELECT min(id) FROM tracks)")));
        for (int i = 0; i < 200; ++i) {
            const QString name = QStringLiteral("Name %1 ").arg(i) + QString(60, QLatin1Char('n'));
            QVERIFY(testkit::exec(QStringLiteral("INSERT INTO artists(name) VALUES (?)"), {name}));
            QVERIFY(testkit::exec(QStringLiteral("INSERT INTO albums(name, artist_id, cover, year) "
                                                 "VALUES (?, 1, '', 2001)"),
                                  {name}));
            QVERIFY(testkit::exec(QStringLiteral("INSERT INTO genres(genre) VALUES (?)"), {name}));
        }
        QVERIFY(testkit::exec("PRAGMA wal_checkpoint(TRUNCATE)"));
        const qint64 pageSize = testkit::scalar("PRAGMA page_size").toLongLong();
        // The table's page, and the same page of each of its indexes: a load
        // may read the names from an index that holds them.
        QList<qint64> pages;
        if (pageType == QLatin1String("root")) {
            pages << testkit::scalar("SELECT rootpage FROM sqlite_master WHERE name = ?", {table}).toLongLong();
        } else {
            QSqlQuery trees(QSqlDatabase::database());
            QVERIFY(
                trees.prepare(QStringLiteral("SELECT name FROM sqlite_master WHERE tbl_name = ? AND rootpage > 0")));
            trees.addBindValue(table);
            QVERIFY(trees.exec());
            while (trees.next()) {
                // The last leaf; a long value's first overflow page, whose
                // link to the next one goes with it.
                const qint64 page =
                    testkit::scalar(QStringLiteral("SELECT pageno FROM dbstat WHERE name = ? AND pagetype = ? "
                                                   "ORDER BY path %1 LIMIT 1")
                                        .arg(pageType == QLatin1String("leaf") ? "DESC" : "ASC"),
                                    {trees.value(0), pageType})
                        .toLongLong();
                if (page > 0)
                    pages << page;
            }
        }
        QVERIFY(pageSize >= 512 && !pages.isEmpty() && !pages.contains(1));
        const auto closeLibrary = [] { QSqlDatabase::database(QSqlDatabase::defaultConnection, false).close(); };
        closeLibrary();
        QByteArray damaged;
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            for (const qint64 page : std::as_const(pages)) {
                QVERIFY(file.seek((page - 1) * pageSize));
                QCOMPARE(file.write(QByteArray(pageSize, '\0')), pageSize);
            }
            QVERIFY(file.seek(0));
            damaged = file.readAll();
        }

        // The load at start, and the one of a controller without a window.
        for (const bool checkFiles : {false, true}) {
            QVERIFY(Database().connect(QStringLiteral("RuvoData"), true));
            // No track is given without its names.
            QVERIFY((checkFiles ? ruvoDB().loadDB() : ruvoDB().readLibrary()).isEmpty());
            closeLibrary();
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QVERIFY2(file.readAll() == damaged, checkFiles ? "loadDB changed the file" : "readLibrary changed it");
        }
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

    // The note speaks of the file it was written of: that file is damaged
    // whatever a check of its pages finds (SQLite met what the check can't
    // see), and a file put in its place, a backup restored, is not.
    void noteNamesItsFile_data()
    {
        QTest::addColumn<bool>("restored");
        QTest::addRow("the noted file, its pages sound") << false;
        QTest::addRow("a backup restored in its place") << true;
    }

    void noteNamesItsFile()
    {
        QFETCH(bool, restored);
        QVERIFY(testkit::openLibrary());
        const QString path = testkit::libraryFile();
        QFile::remove(LibraryDamage::notePath(path));
        QVERIFY(ruvoDB().storeTrack(testkit::makeTrack(dir.filePath(QStringLiteral("backup/song.mp3")))) > 0);
        QVERIFY(testkit::exec("PRAGMA wal_checkpoint(TRUNCATE)"));
        const QString backup = dir.filePath(QStringLiteral("ruvo.db.backup"));
        QFile::remove(backup);
        QVERIFY(QFile::copy(path, backup));
        const QSqlError malformed(QString(), QStringLiteral("database disk image is malformed"),
                                  QSqlError::StatementError, QStringLiteral("11"));
        QVERIFY(LibraryDamage::noteIfDamage(malformed));
        QSqlDatabase::database(QSqlDatabase::defaultConnection, false).close();
        if (restored) {
            QFile::remove(path + QStringLiteral("-wal"));
            QFile::remove(path + QStringLiteral("-shm"));
            QVERIFY(::rename(QFile::encodeName(backup).constData(), QFile::encodeName(path).constData()) == 0);
        }
        QCOMPARE(LibraryRecovery::problemWith(path),
                 restored ? QString() : QStringLiteral("database disk image is malformed"));
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
