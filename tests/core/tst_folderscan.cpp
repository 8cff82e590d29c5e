#include <QtTest>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QSemaphore>
#include <QSqlQuery>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtConcurrent>

#include <sys/stat.h>

#include "core/shared.h"
#include "core/track_data.h"
#include "database/connection.h"
#include "database/database.h"
#include "libraryfixture.h"
#include "platform/externalprogram.h"
#include "mediakit.h"
#include "scanfixture.h"
#include "testenv.h"

using testkit::MediaKit;
using testkit::MediaTags;

// The folder scan over a generated tree holding everything it must take,
// pass over or survive: playlists good and bad, hidden entries, the
// program's own copies, iTunes' media folder, a FIFO, a symbolic link loop
// and an unreadable folder.
class TestFolderScan : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_media.isValid() && m_db.connect(QStringLiteral("RuvoData"), true));
        m_db.create();
        track_data::IsVideoSupported = false;

        MediaKit kit(m_media.filePath(QStringLiteral("sources")));
        const QString cover = kit.picture(QStringLiteral("cover.jpg"), 64, 64);
        // 7 s at 128 kbit/s: about 112 000 bytes, over the 102 400 threshold.
        const auto tags = [](const char *title, const char *album) {
            return MediaTags{
                QString::fromLatin1(title), QStringLiteral("Artist"), QString::fromLatin1(album), {}, {}, 0, 0};
        };
        m_alpha = kit.mp3(QStringLiteral("alpha.mp3"), tags("One", "Alpha"), cover, 7);
        m_gamma = kit.mp3(QStringLiteral("gamma.mp3"), tags("Two", "Gamma"), cover, 7);
        const QString beta = kit.mp3(QStringLiteral("beta.mp3"), tags("Three", "Beta"), QString(), 7);
        const QString small = kit.mp3(QStringLiteral("small.mp3"), tags("Four", "Alpha"), QString(), 3);
        for (const QString &made : {cover, m_alpha, m_gamma, beta, small})
            QVERIFY2(!made.isEmpty(), qPrintable(kit.lastError()));
        QVERIFY(QFileInfo(m_alpha).size() > track_data::minimumMediaSize);

        QVERIFY(QDir().mkpath(m_media.filePath(QStringLiteral("tree"))));
        m_root = QDir(m_media.filePath(QStringLiteral("tree"))).canonicalPath();
        for (const char *name :
             {"Alpha/01.mp3", "Alpha/02.mp3", "Alpha/03.mp3", "dir.m3u/inner.mp3", "corvane media organiser/own.mp3",
              "itunes/ITUNES MEDIA/Music/i.mp3", ".hidden.mp3", ".secret/s.mp3", "locked/l.mp3"})
            QVERIFY(copy(m_alpha, QString::fromLatin1(name)));
        QVERIFY(copy(beta, QStringLiteral("Beta/b.mp3")));
        QVERIFY(QFile::copy(cover, path(QStringLiteral("Beta/folder.jpg"))));
        QVERIFY(copy(small, QStringLiteral("small.mp3")) && copy(small, QStringLiteral("exact.mp3")) &&
                copy(small, QStringLiteral("over.mp3")));
        QVERIFY(MediaKit::padToSize(path(QStringLiteral("exact.mp3")), track_data::minimumMediaSize));
        QVERIFY(MediaKit::padToSize(path(QStringLiteral("over.mp3")), track_data::minimumMediaSize + 1));

        // Traps: a link back to the top, a FIFO (a reader would block on it)
        // reached directly and through a playlist-named link, garbage and broken
        // playlists, and a folder nobody may read.
        QVERIFY(QFile::link(m_root, path(QStringLiteral("loop"))));
        QVERIFY(
            QFile::link(path(QStringLiteral("corvane media organiser/own.mp3")), path(QStringLiteral("alias.mp3"))));
        QCOMPARE(::mkfifo(QFile::encodeName(path(QStringLiteral("pipe.wma"))).constData(), 0600), 0);
        QVERIFY(QFile::link(path(QStringLiteral("pipe.wma")), path(QStringLiteral("pipe-link.m3u"))));
        QByteArray garbage;
        for (int i = 0; i < 4096; ++i)
            garbage.append(char((i * 37) % 256));
        QVERIFY(write(QStringLiteral("lists/garbage.m3u"), garbage) &&
                write(QStringLiteral("lists/garbage.pls"), garbage));
        QVERIFY(write(QStringLiteral("lists/broken.wpl"),
                      QStringLiteral("<?wpl version=\"1.0\"?><smil><body><seq><media src=\"%1\"/><media src=\"%2\"/>"
                                     "<media <<< broken")
                          .arg(path(QStringLiteral("Alpha/02.mp3")), path(QStringLiteral("Alpha/03.mp3")))
                          .toUtf8()));
        QStringList entries = {"#EXTM3U", "#EXTINF:7,Artist - One", "../Alpha/01.mp3", "http://example.com/x.mp3"};
        for (const char *name : {"Beta/b.mp3", "exact.mp3", "over.mp3", "small.mp3", "corvane media organiser/own.mp3",
                                 "alias.mp3", "itunes/ITUNES MEDIA/Music/i.mp3", "missing.mp3", "pipe.wma", "dir.m3u"})
            entries << path(QString::fromLatin1(name));
        QVERIFY(write(QStringLiteral("lists/Road Trip.m3u"), entries.join(QLatin1Char('\n')).toUtf8()));
        QVERIFY(::chmod(QFile::encodeName(path(QStringLiteral("locked"))).constData(), 0) == 0);

        track_data scanner;
        m_result = scanner.searchfile(QDir(m_root));
    }

    void cleanupTestCase() { ::chmod(QFile::encodeName(path(QStringLiteral("locked"))).constData(), 0700); }

    void whichFilesBecomeRecords_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("walked");
        QTest::addColumn<QString>("playlist"); // "" when no playlist names it

        QTest::addRow("tagged file walked and listed: two records") << "Alpha/01.mp3" << 1 << "Road Trip";
        QTest::addRow("WPL entries before the broken XML") << "Alpha/03.mp3" << 1 << "broken";
        // The walk needs more than 100 KiB; a playlist's entry of exactly 100 KiB is taken.
        QTest::addRow("exactly 102400 bytes: only through a playlist") << "exact.mp3" << 0 << "Road Trip";
        QTest::addRow("102401 bytes: walked and listed") << "over.mp3" << 1 << "Road Trip";
        QTest::addRow("under the threshold, walked or listed") << "small.mp3" << 0 << "";
        QTest::addRow("own copies in lower case, walked or listed") << "corvane media organiser/own.mp3" << 0 << "";
        QTest::addRow("link to an own copy, walked or listed") << "alias.mp3" << 0 << "";
        // The iTunes import reads iTunes' own folder; a playlist of the user's may name its files.
        QTest::addRow("iTunes media in any case: not walked, but listed")
            << "itunes/ITUNES MEDIA/Music/i.mp3" << 0 << "Road Trip";
        QTest::addRow("hidden file") << ".hidden.mp3" << 0 << "";
        QTest::addRow("file in a hidden folder") << ".secret/s.mp3" << 0 << "";
        QTest::addRow("file in a folder named like a playlist") << "dir.m3u/inner.mp3" << 1 << "";
        QTest::addRow("file beside folder.jpg, walked and listed") << "Beta/b.mp3" << 1 << "Road Trip";
    }

    void whichFilesBecomeRecords()
    {
        QFETCH(QString, file);
        QFETCH(int, walked);
        QFETCH(QString, playlist);

        int walkedRecords = 0;
        QStringList playlists;
        for (auto it = m_result.cbegin(); it != m_result.cend(); ++it) {
            QCOMPARE(it.key(), it->id);
            if (it->sourcePath != path(file))
                continue;
            QCOMPARE(it->filepath, path(file));
            if (it->playlist.isEmpty()) {
                ++walkedRecords;
            } else {
                // A playlist entry is filed as an album of the playlist's name, under the playlist icon.
                QVERIFY(it->albumName == it->playlist && it->playlist_id == it->album_id);
                QCOMPARE(it->cover, QStringLiteral("qrc:///resources/photos/playlist.png"));
                playlists << it->playlist;
            }
        }
        // The symbolic link loop is not followed: a walked file appears once.
        QCOMPARE(walkedRecords, walked);
        QCOMPARE(playlists, playlist.isEmpty() ? QStringList() : QStringList{playlist});
    }

    // Beta's file has no picture of its own; its one-album folder lends one,
    // though a playlist lists the file too.  Counted on another thread's
    // connection: only committed rows show.
    void committedWithTheFolderPicture()
    {
        const auto beta = std::find_if(m_result.cbegin(), m_result.cend(),
                                       [](const track &t) { return t.albumName == QLatin1String("Beta"); });
        QVERIFY(beta != m_result.cend() && beta->hasCover && beta->cover == shared().coverpath("Beta"));
        QVERIFY(QFileInfo::exists(beta->cover));
        QCOMPARE(QtConcurrent::run([] { return testkit::count(QStringLiteral("TrackRepo")); }).result(),
                 int(m_result.size()));
    }

    // One video of each suffix, TagLib reading only some of them.
    void videosOnlyWhenTheSystemPlaysVideo()
    {
        QTemporaryDir folder;
        MediaKit kit(folder.path());
        const QString mpeg = QStringLiteral("-c:v mpeg2video -b:v 1M -c:a mp2 -f mpeg");
        const QList<QPair<QString, QString>> videos = {
            {"mp4", ""},   {"m4v", "-f mp4"}, {"mov", ""},
            {"mkv", ""},   {"avi", ""},       {"flv", ""},
            {"mpg", mpeg}, {"mpeg", mpeg},    {"wmv", "-c:v wmv2 -b:v 1M -c:a wmav2"}};
        for (const auto &[suffix, args] : videos)
            QVERIFY2(!kit.video(QStringLiteral("clip.") + suffix, 3, 640, 480, args).isEmpty(),
                     qPrintable(kit.lastError()));
        for (const bool plays : {false, true}) {
            track_data::IsVideoSupported = plays;
            const TrackMap result = track_data().searchfile(QDir(folder.path()));
            track_data::IsVideoSupported = false;
            QCOMPARE(result.size(), plays ? videos.size() : 0);
            for (const track &record : result)
                QVERIFY2(record.isVideo && record.duration >= 2 && QFileInfo(record.cover).size() > 0,
                         qPrintable(record.filename));
        }
    }

    // Progress moves as files are read, not a read-ahead batch at a time:
    // the first file is reported while the others' reads are still held.
    void eachFileReportedAsSoonAsItIsRead()
    {
        QTemporaryDir folder;
        for (int i = 0; i < 4; ++i)
            QVERIFY(QFile::copy(m_gamma, folder.filePath(QStringLiteral("%1.mp3").arg(i))));
        const QString first = QDirIterator(folder.path(), {"*.mp3"}).next(); // the walk's order
        QSemaphore reported;
        std::atomic<int> heldInVain{0};
        QStringList reports;
        track_data scanner;
        scanner.readStartHook = [&](const QString &path) {
            if (path == first)
                return;
            if (!reported.tryAcquire(1, 30000))
                ++heldInVain;
            reported.release(); // the next held read goes on
        };
        scanner.fileReadHook = [&](int filesRead, const QString &path) {
            reports << QStringLiteral("%1 %2").arg(filesRead).arg(QFileInfo(path).fileName());
            reported.release();
        };
        QCOMPARE(scanner.searchfile(QDir(folder.path())).size(), 4);
        QCOMPARE(heldInVain.load(), 0);
        QCOMPARE(reports.size(), 4);
        QCOMPARE(reports.first(), QStringLiteral("1 ") + QFileInfo(first).fileName());
    }

    void cancelFromAnotherThreadReturnsAPartialMap()
    {
        QTemporaryDir folder;
        constexpr int files = 200;
        for (int i = 0; i < files; ++i)
            QVERIFY(QFile::copy(m_gamma, folder.filePath(QStringLiteral("%1.mp3").arg(i))));
        QFile::remove(shared().coverpath(QStringLiteral("Gamma")));

        // Holding the library's write lock stalls the staging of the first
        // record (mapped after the album picture is written), and the scan a few
        // records later, so the flag arrives long before the last file.
        QSqlQuery lock;
        QVERIFY(lock.exec(QStringLiteral("BEGIN IMMEDIATE")));
        track_data scanner;
        QFuture<TrackMap> scan = QtConcurrent::run(&track_data::searchfile, &scanner, QDir(folder.path()));
        QTRY_VERIFY(QFileInfo::exists(shared().coverpath(QStringLiteral("Gamma"))));
        scanner.isStopSearch = true;
        QVERIFY(lock.exec(QStringLiteral("ROLLBACK")));

        const TrackMap result = scan.result();
        QVERIFY2(!result.isEmpty() && result.size() < files, qPrintable(QString::number(result.size())));
        QCOMPARE(result.first().albumName, QStringLiteral("Gamma"));
    }

    // While ffmpeg makes a thumbnail (here a fake one held until the test
    // lets it go), a write from the GUI thread goes through: with the write
    // lock held, it would wait for the busy timeout and fail.
    void noWriteLockHeldWhileAToolRuns()
    {
        QTemporaryDir folder;
        MediaKit kit(folder.filePath(QStringLiteral("media")));
        const QString video = kit.video(QStringLiteral("a.mkv"), 3);
        QVERIFY(!video.isEmpty() && QFile::copy(video, kit.folder() + QStringLiteral("/b.mkv")));
        const QString runs = folder.filePath(QStringLiteral("runs"));
        const QString gate = folder.filePath(QStringLiteral("gate"));
        // The second run waits for the gate (for ten minutes at the most).
        ExternalProgram::setToolPath(
            ExternalProgram::Ffmpeg,
            MediaKit::fakeTool(folder.path(), QStringLiteral("ffmpeg"),
                               QStringLiteral("echo run >> '%1'\nif [ $(wc -l < '%1') -ge 2 ]; then i=0; "
                                              "while [ ! -e '%2' ] && [ $i -lt 6000 ]; do sleep 0.1; i=$((i+1)); "
                                              "done; fi\nexit 1")
                                   .arg(runs, gate)));
        auto release = qScopeGuard([&gate] { QFile(gate).open(QIODevice::WriteOnly); });
        track_data::IsVideoSupported = true;
        track_data scanner;
        QFuture<TrackMap> scan = QtConcurrent::run(&track_data::searchfile, &scanner, QDir(kit.folder()));
        // The second thumbnail: the first video's record is staged by now.
        QTRY_VERIFY_WITH_TIMEOUT(QFile(runs).size() >= 8, 60000);
        QVERIFY(testkit::exec(QStringLiteral("INSERT INTO genres(genre) VALUES ('written during a scan')")));
        QFile(gate).open(QIODevice::WriteOnly);
        QCOMPARE(scan.result().size(), 2);
        track_data::IsVideoSupported = false;
        ExternalProgram::setToolPath(ExternalProgram::Ffmpeg, QString());
    }

    void idsContinueIntoASecondScan()
    {
        QTemporaryDir empty;
        track_data scanner;
        QVERIFY(scanner.searchfile(QDir(empty.path())).isEmpty());

        // The second scan runs as the controller runs it, on the global pool,
        // with that pool cut to one thread as on a single-core machine: the
        // scan's readers must not wait for a thread the scan itself holds.
        const QDir alpha(path(QStringLiteral("Alpha")));
        const TrackMap first = scanner.searchfile(alpha);
        QThreadPool *global = QThreadPool::globalInstance();
        const int threads = global->maxThreadCount();
        global->setMaxThreadCount(1);
        QFuture<TrackMap> onWorker = QtConcurrent::run(&track_data::searchfile, &scanner, alpha);
        QVERIFY(QTest::qWaitFor([&] { return onWorker.isFinished(); }, 30000));
        global->setMaxThreadCount(threads);
        const TrackMap second = onWorker.result();
        QVERIFY(first.size() == 3 && second.size() == 3 && second.firstKey() > first.lastKey());
    }

    // The scan reads files ahead on other threads, more files than one
    // read-ahead batch here; the album picture must still come from the first
    // track in walk order whose picture decodes, and all the album's tracks share it.
    void albumPictureFromTheFirstTrackWhosePictureDecodes()
    {
        QTemporaryDir folder;
        MediaKit kit(folder.filePath(QStringLiteral("tree")));
        const MediaTags tags{QStringLiteral("Song"), QStringLiteral("Artist"), QStringLiteral("Delta"), {}, {}, 0, 0};
        const QString plain = kit.mp3(QStringLiteral("plain0.mp3"), tags, QString(), 7);
        QVERIFY2(!plain.isEmpty(), qPrintable(kit.lastError()));
        for (int i = 1; i < 300; ++i)
            QVERIFY(QFile::copy(plain, kit.folder() + QStringLiteral("/plain%1.mp3").arg(i)));
        const QString junk = folder.filePath(QStringLiteral("junk.png"));
        QVERIFY(testkit::touch(junk, QByteArray("\x89PNG\r\n\x1a\n") + QByteArray(3000, '\x5a')));
        QVERIFY(QFile::copy(plain, kit.folder() + QStringLiteral("/garbled.mp3")) &&
                MediaKit::addApicFrames(kit.folder() + QStringLiteral("/garbled.mp3"), {{3, junk}}));
        for (const char *colour : {"red", "blue"}) {
            const QString picture = kit.picture(QStringLiteral("../%1.png").arg(QLatin1String(colour)), 64, 64, colour);
            QVERIFY(!kit.mp3(QStringLiteral("%1.mp3").arg(QLatin1String(colour)), tags, picture, 7).isEmpty());
        }
        // Two more albums, in a folder of their own, whose pictures differ in
        // their bytes only (blue and green pictures of one size): each keeps
        // its own.
        const QList<QPair<QString, QString>> others = {{"Echo", "green"}, {"Foxtrot", "blue"}};
        for (const auto &[album, colour] : others) {
            const QString picture = kit.picture("../" + album + ".png", 64, 64, colour);
            QVERIFY(
                !kit.mp3("others/" + album + ".mp3", {"Song", "Artist", album, {}, {}, 0, 0}, picture, 7).isEmpty());
            QFile::remove(shared().coverpath(album));
        }
        // The walk's order is the directory's: find which picture comes first,
        // and the album's tracks before it.
        QString expected;
        QStringList before;
        for (QDirIterator walk(kit.folder()); expected.isEmpty() && walk.hasNext();) {
            const QString name = QFileInfo(walk.next()).completeBaseName();
            if (name == QLatin1String("red") || name == QLatin1String("blue"))
                expected = name;
            else if (walk.fileName().endsWith(QLatin1String(".mp3")))
                before << walk.filePath();
        }
        const QString cover = shared().coverpath(tags.album);
        QFile::remove(cover);
        // Held at the second-last of those until the readers have made the
        // picture: the last then finds it there, but at its turn the album had none.
        track_data scanner;
        scanner.fileReadHook = [&](int, const QString &path) {
            if (before.size() > 1 && path == before.at(before.size() - 2))
                (void)QTest::qWaitFor([&] { return QFileInfo::exists(cover); }, 30000); // else a weaker check
        };
        const TrackMap result = scanner.searchfile(QDir(kit.folder()));
        QCOMPARE(result.size(), 305);
        for (const track &record : result)
            QVERIFY(record.albumName != tags.album || (record.cover == cover && record.hasCover));
        QCOMPARE(std::count_if(result.cbegin(), result.cend(), [](const track &t) { return t.isMissingData; }),
                 before.size());
        const QImage picture(cover, "PNG");
        QCOMPARE(picture.size(), QSize(110, 110));
        QVERIFY2(testkit::closeColour(picture.pixelColor(55, 55), QColor(expected)), qPrintable(expected));
        for (const auto &[album, colour] : others)
            QVERIFY(testkit::closeColour(QImage(shared().coverpath(album)).pixelColor(55, 55), QColor(colour)));
    }

    // Pictures are told apart by all their bytes: two albums whose pictures
    // have one size and the same first kilobytes (uncompressed BMPs, stored
    // bottom row first, that differ only in their upper rows) keep a picture each.
    void picturesAlikeInTheirFirstBytesStayApart_data()
    {
        QTest::addColumn<int>("differingRows");
        QTest::addRow("upper half differs") << 50;
        QTest::addRow("top rows differ") << 12;
    }
    void picturesAlikeInTheirFirstBytesStayApart()
    {
        QFETCH(int, differingRows);
        QTemporaryDir folder;
        MediaKit kit(folder.filePath(QStringLiteral("tree")));
        const QList<QPair<QString, QString>> albums = {{"Hotel", "red"}, {"India", "blue"}};
        QList<QByteArray> pictures;
        for (const auto &[album, colour] : albums) {
            QImage image(100, 100, QImage::Format_RGB888);
            image.fill(QColor("green"));
            for (int y = 0; y < differingRows; ++y)
                for (int x = 0; x < image.width(); ++x)
                    image.setPixelColor(x, y, QColor(colour));
            const QString picture = folder.filePath(album + ".bmp");
            QVERIFY(image.save(picture, "BMP"));
            QFile file(picture);
            QVERIFY(file.open(QIODevice::ReadOnly));
            pictures << file.readAll();
            const QString mp3 = kit.mp3(album + "/01.mp3", {"Song", "Artist", album, {}, {}, 0, 0}, QString(), 7);
            QVERIFY2(!mp3.isEmpty(), qPrintable(kit.lastError()));
            QVERIFY(MediaKit::addApicFrames(mp3, {{3, picture}}));
            QFile::remove(shared().coverpath(album));
        }
        QCOMPARE(pictures.at(0).size(), pictures.at(1).size());
        QVERIFY(pictures.at(0).size() > 8192 && pictures.at(0).left(8192) == pictures.at(1).left(8192));

        const TrackMap result = track_data().searchfile(QDir(kit.folder()));
        QCOMPARE(result.size(), 2);
        const int top = differingRows * 110 / 100 / 4; // well inside the differing rows
        for (const auto &[album, colour] : albums) {
            const QImage cover(shared().coverpath(album), "PNG");
            QCOMPARE(cover.size(), QSize(110, 110));
            QVERIFY2(testkit::closeColour(cover.pixelColor(55, top), QColor(colour)), qPrintable(album));
            QVERIFY(testkit::closeColour(cover.pixelColor(55, 105), QColor("green")));
        }
    }

    // A track the library refuses (here by a trigger) inside the scan's batch
    // takes its new genre, artist and album rows with it; the others stay.
    void aRefusedTrackLeavesNoNamesBehind()
    {
        QTemporaryDir folder;
        MediaKit kit(folder.path());
        const MediaTags lost{"Refused", "Lost Artist", "Lost Album", "Lost Genre", {}, 0, 0};
        const QString refused = kit.mp3(QStringLiteral("refused.mp3"), lost, QString(), 7);
        QVERIFY2(!refused.isEmpty(), qPrintable(kit.lastError()));
        QVERIFY(QFile::copy(m_gamma, folder.filePath(QStringLiteral("kept.mp3"))));
        QVERIFY(testkit::exec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON TrackRepo WHEN NEW.trackname = "
                                             "'Refused' BEGIN SELECT RAISE(ABORT, 'refused'); END")));
        track_data scanner;
        scanner.searchfile(QDir(folder.path()));
        QVERIFY(testkit::exec(QStringLiteral("DROP TRIGGER refuse")));
        QCOMPARE(
            testkit::scalar(QStringLiteral("SELECT (SELECT COUNT(*) FROM artistsRepo WHERE name = 'Lost Artist') || "
                                           "(SELECT COUNT(*) FROM albumsRepo WHERE name = 'Lost Album') || "
                                           "(SELECT COUNT(*) FROM genres WHERE genre = 'Lost Genre') || "
                                           "(SELECT COUNT(*) FROM TrackRepo WHERE filepath = ?)"),
                            {folder.path() + QStringLiteral("/kept.mp3")})
                .toString(),
            QStringLiteral("0001"));
    }

private:
    QString path(const QString &relative) const { return m_root + QLatin1Char('/') + relative; }
    bool copy(const QString &from, const QString &relative) const
    {
        return QDir().mkpath(QFileInfo(path(relative)).absolutePath()) && QFile::copy(from, path(relative));
    }
    bool write(const QString &relative, const QByteArray &bytes) const { return testkit::touch(path(relative), bytes); }

    QTemporaryDir m_media;
    Database m_db;
    QString m_root;
    QString m_alpha; // a tagged MP3 with a cover, over the size threshold
    QString m_gamma; // the same for album "Gamma"
    TrackMap m_result;
};

CORVANE_TEST_MAIN(TestFolderScan)
#include "tst_folderscan.moc"
