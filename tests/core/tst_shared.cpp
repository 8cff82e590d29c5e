#include <QtConcurrent>
#include <QtTest>

#include <QStandardPaths>

#include <limits>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/logging.h"
#include "core/shared.h"
#include "core/taglibbuilder.h"
#include "core/track_data.h"
#include "libraryfixture.h"
#include "scanfixture.h"
#include "testenv.h"

using testkit::touch;

// The text helpers, the log, the id counters, folder pictures and the
// playlist readers behind the folder scan (M3U/M3U8, PLS and WPL).
class TestShared : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid() && QDir().mkpath(m_lists = m_dir.filePath(QStringLiteral("Lists"))));
    }
    void init() { shared().clearMixedAlbumsFolderMap(); }

    // Each run starts its own log; lines written from many threads at once stay whole.
    void logging()
    {
        Logging::startRun();
        Logging::getInstance()->WriteLog(QStringLiteral("old run"), QString());
        Logging::startRun();
        QList<int> workers(8);
        std::iota(workers.begin(), workers.end(), 0);
        QtConcurrent::blockingMap(workers, [](int worker) {
            for (int i = 0; i < 200; ++i)
                Logging::getInstance()->WriteLog(QStringLiteral("w%1 %2 ").arg(worker).arg(i),
                                                 QString(40, QChar(u'a' + worker)));
        });
        const QStringList lines = logLines();
        QVERIFY(lines.first().endsWith(" - Start RuVO"));
        QCOMPARE(QSet<QString>(lines.cbegin(), lines.cend()).size(), 8 * 200 + 1); // each line once, none lost
        static const QRegularExpression whole(QStringLiteral(" - w\\d \\d+ ([a-h])\\1{39}$"));
        for (const QString &line : lines.mid(1))
            QVERIFY2(whole.match(line).hasMatch(), qPrintable(line));
    }

    void text_data()
    {
        QTest::addColumn<QString>("function");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::addRow("slash, colon, point, brackets") << "name" << "AC/DC: Live (Vol. 2)!" << "ACDC Live Vol 2";
        QTest::addRow("underscore, quotes, ampersand go; hyphen, backslash stay")
            << "name" << "A-ha_Best \"Q\" Back\\Slash Rock & Roll " << "A-haBest Q Back\\Slash Rock  Roll";
        QTest::addRow("non-Latin letters") << "name"
                                           << "Кино: Группа крови"
                                           << "Кино Группа крови";
        QTest::addRow("h:m:s") << "sec" << "1:02:03" << "3723";
        QTest::addRow("ffmpeg duration") << "sec" << "00:03:25.47" << "205.47";
        QTest::addRow("hours past the int range in seconds") << "sec" << "600000:00:00" << "2160000000";
        QTest::addRow("track fifty, leading zeros") << "track" << "050 Song.mp3" << "50";
        QTest::addRow("track fifty-one") << "track" << "51 Song.mp3" << "0";
        QTest::addRow("track huge number") << "track" << "99999999999999999999 x" << "0";
    }

    void text()
    {
        QFETCH(QString, function);
        QFETCH(QString, input);
        const shared sh;
        const QString got = function == QLatin1String("name")  ? sh.formatSplChar(input)
                            : function == QLatin1String("sec") ? QString::number(sh.convertToSec(input), 'g', 12)
                                                               : QString::number(sh.getTrackNo(input));
        QTEST(got, "expected");
    }

    // The pause waits a second and keeps delivering events meanwhile.  Only
    // the lower bound is certain: a loaded machine makes any pause longer.
    void delayKeepsEventsFlowing()
    {
        bool delivered = false;
        QTimer::singleShot(50, this, [&] { delivered = true; });
        QElapsedTimer timer;
        timer.start();
        delay();
        QVERIFY(delivered && timer.elapsed() >= 990);
    }

    // The scan reuses one record from file to file: only the release cover URL carries over.
    void resetKeepsOnlyReleaseCoverUrl()
    {
        track record = testkit::makeTrack(QStringLiteral("/m/a.mp3"));
        record.isVideo = true;
        record.releaseCoverUrl = QStringLiteral("http://example.invalid/front.jpg");
        const track reset = shared().initializeTrackObject(record);
        QVERIFY(reset.releaseCoverUrl == record.releaseCoverUrl && !reset.isVideo && reset.filepath.isEmpty());
    }

    void idsContinueAndNeverWrap()
    {
        registerTrackMetaTypes();
        QVERIFY(QMetaType::fromName("track").isValid() && QMetaType::fromName("QList<track>").isValid());
        // First scan of the run: tracks 1, 2; first album id 2.  The iTunes
        // import increases first.
        QCOMPARE(track_data::takeTrackId(), 1);
        QCOMPARE(track_data::takeTrackId(), 2);
        QCOMPARE(track_data::takeAlbumId(), 2);
        QCOMPARE(track_data::takeNextTrackId(), 4);
        // 32-bit ids: past 16 bits nothing wraps, and at the end an id is refused.
        track_data::track_Id = 70000;
        QCOMPARE(track_data::takeTrackId(), 70000);
        Logging::startRun();
        track_data::track_Id = std::numeric_limits<int>::max();
        QCOMPARE(track_data::takeTrackId(), -1);
        QCOMPARE(track_data::takeNextTrackId(), -1);
        track_data::album_Id = std::numeric_limits<int>::max() - 1;
        QCOMPARE(track_data::takeAlbumId(), std::numeric_limits<int>::max());
        QCOMPARE(track_data::takeAlbumId(), -1);
        QVERIFY(logLines().join('\n').contains("Id range exhausted, record refused: track"));
    }

    void mixed_data()
    {
        QTest::addColumn<QList<int>>("recordKeys"); // one album key per record counted
        QTest::addColumn<int>("audioFiles");
        QTest::addColumn<int>("flag");
        QTest::addColumn<bool>("expected");
        QTest::addRow("two albums") << QList<int>{2, 2, 3} << 3 << 1 << true;
        QTest::addRow("albums 2 and 258 stay apart") << QList<int>{2, 258} << 2 << 1 << true;
        QTest::addRow("one album, flag 0, 10 records of 12 files") << QList<int>(10, 5) << 12 << 0 << true;
        QTest::addRow("one album, flag 0, 12 records of 12 files") << QList<int>(12, 5) << 12 << 0 << false;
        QTest::addRow("one album, flag 0, 256 records of 256 files") << QList<int>(256, 7) << 256 << 0 << false;
        QTest::addRow("one album, flag 0, 256 records, no files") << QList<int>(256, 7) << 0 << 0 << true;
    }

    // Audio files are counted in any case of suffix; videos, playlists,
    // pictures, hidden files and sub-folders are not.
    void mixed()
    {
        QFETCH(QList<int>, recordKeys);
        QFETCH(int, audioFiles);
        QFETCH(int, flag);
        QTemporaryDir dir;
        for (int i = 0; i < audioFiles; ++i)
            touch(dir.filePath(QStringLiteral("%1.%2").arg(i).arg(i % 2 ? "MP3" : "Flac")));
        for (const char *name : {"v.mp4", "p.m3u", "folder.jpg", ".hidden.mp3", "sub/c.mp3"})
            touch(dir.filePath(QLatin1String(name)));
        shared sha;
        for (const int key : std::as_const(recordKeys))
            sha.updateMixedAlbumsFolder(dir.path(), key);
        QTEST(sha.checkMixedAlbumsFolderByKey(dir.path(), flag), "expected");
    }

    void updateFolderCoverArt()
    {
        shared sha;
        QDir().mkpath(shared::dataLocation() + sha.artworkPath);
        QTemporaryDir dir;
        // One: one album, Folder.JPG before folder.png; Two: two albums with a
        // picture; Same: One's album, no picture; Unk: an "Unknown" album with
        // a picture; Png: FOLDER.PNG; Kept: a picture of the album exists already.
        const QString one = dir.filePath("One"), two = dir.filePath("Two"), same = dir.filePath("Same"),
                      unknown = dir.filePath("Unk"), png = dir.filePath("Png");
        touch(one + "/folder.png", "png");
        touch(one + "/Folder.JPG", "one");
        touch(two + "/Folder.jpg", "two");
        touch(unknown + "/folder.png", "unk");
        touch(png + "/FOLDER.PNG", "png");
        QDir().mkpath(same);
        touch(dir.filePath("Kept/folder.jpg"), "new");
        touch(sha.coverpath(QStringLiteral("Kept")), "kept"); // an existing picture stays

        TrackMap tracks;
        const QList<QPair<QString, QString>> records = {{one, "Alpha (Deluxe)"}, {two, "Beta"},    {two, "Gamma"},
                                                        {same, "Alpha (Deluxe)"}, {unknown, "Unknown Album"},
                                                        {png, "Delta"},           {dir.filePath("Kept"), "Kept"}};
        for (int id = 1; id <= records.size(); ++id) {
            track &record = tracks[id];
            record.id = id;
            std::tie(record.folderLocation, record.albumName) = records.at(id - 1);
            record.cover = QStringLiteral("qrc:///resources/photos/no_artwork.png");
            sha.updateMixedAlbumsFolder(record.folderLocation, id + 1);
        }

        const TrackMap result = sha.updateFolderCoverArt(tracks, 1);
        const QString alpha = sha.coverpath(QStringLiteral("Alpha (Deluxe)"));
        QVERIFY(result.value(1).cover == alpha && result.value(1).hasCover);
        QCOMPARE(testkit::fileBytes(alpha), QByteArray("one"));
        // A folder of two albums lends its picture to neither.
        QVERIFY(!result.value(2).hasCover && !result.value(3).hasCover && !QFileInfo::exists(sha.coverpath("Beta")));
        // A folder without a picture gets the album's existing picture.
        QCOMPARE(result.value(4).cover, alpha);
        // An "Unknown" album never takes a folder picture.
        QVERIFY(!result.value(5).hasCover && !QFileInfo::exists(sha.coverpath("Unknown Album")));
        QVERIFY(result.value(6).hasCover && testkit::fileBytes(sha.coverpath("Delta")) == "png");
        QVERIFY(result.value(7).hasCover && testkit::fileBytes(sha.coverpath("Kept")) == "kept");
    }

    void playlists_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("expected"); // %P: the playlist's folder, %M: the music folder

        QTest::addRow("m3u absolute, cleaned; relative")
            << "a.m3u" << QByteArray("/Music//Artist/../a.mp3\n./sub/c.flac\n")
            << QStringList{"/Music/a.mp3", "%P/sub/c.flac"};
        QTest::addRow("m3u URLs dropped; blank lines, #EXTINF and comments")
            << "a.m3u8" << QByteArray("#EXTM3U\n\n   \n#EXTINF:123,Artist - Title\nfile:///Music/c.mp3\n"
                                      "http://radio.example/s\r\nb.mp3\n# note\n")
            << QStringList{"%P/b.mp3"};
        QTest::addRow("m3u8 byte-order mark and UTF-8")
            << "a.m3u8" << QByteArray("\xEF\xBB\xBF/Music/Кино/Группа.mp3\n") << QStringList{"/Music/Кино/Группа.mp3"};
        QTest::addRow("m3u Latin-1 after a UTF-8 byte-order mark keeps its first entry")
            << "a.m3u" << QByteArray("\xEF\xBB\xBF/Music/a.mp3\n/Music/Bj\xF6rk/J\xF3ga.mp3\n")
            << QStringList{"/Music/a.mp3", "/Music/Björk/Jóga.mp3"};
        QTest::addRow("upper-case .M3U, Windows separators read as /")
            << "Mix.M3U" << QByteArray("..\\Album\\03 Song.mp3\r\n") << QStringList{"%P/../Album/03 Song.mp3"};
        QTest::addRow("pls in line order, keys in any case, values trimmed, URL and drive letter dropped")
            << "a.PLS"
            << QByteArray("[playlist]\r\nFILE2 = /Music/a.mp3\r\nfile1=b.mp3\r\nFile3=http://radio.example/s\n"
                          "File4=X:\\Music\\a.mp3\n")
            << QStringList{"/Music/a.mp3", "%P/b.mp3"};

        const QByteArray wplHead = "<?wpl version=\"1.0\"?>\n<smil><head><title>Mix</title></head><body><seq>\n";
        QTest::addRow("wpl entries") << "a.wpl"
                                     << wplHead +
                                            "<media src=\"../Artist/a.mp3\"/><media src=\"/Rock &amp; Roll.mp3\"/>"
                                            "</seq></body></smil>"
                                     << QStringList{"%M/Artist/a.mp3", "/Rock & Roll.mp3"};
        QTest::addRow("wpl relative to its own folder, Windows separators")
            << "a.wpl"
            << wplHead + "<media src=\"Album\\b.mp3\"/><media src=\"..\\Artist\\c.mp3\"/></seq></body></smil>"
            << QStringList{"%P/Album/b.mp3", "%M/Artist/c.mp3"};
        QTest::addRow("wpl missing src gives an empty entry; broken XML keeps what came before")
            << "a.wpl" << wplHead + "<media tid=\"{1}\"/><media src=\"/a.mp3\"/><media src=\"/c.mp3\"></seq><media/>"
            << QStringList{"", "/a.mp3", "/c.mp3"};
    }

    void playlists()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QStringList, expected);
        const QString path = m_lists + QLatin1Char('/') + name;
        QVERIFY(touch(path, content));
        const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
        for (QString &entry : expected)
            entry = QDir::cleanPath(entry.replace(QStringLiteral("%P"), m_lists).replace(QStringLiteral("%M"), music));
        QDir::setCurrent(m_dir.path()); // never the playlist's folder by chance
        QCOMPARE(QStringList(TagLibBuilder().parsePlaylists(QFileInfo(path))), expected);
        // The scan hands over the file as it met it: through a relative path too.
        QDir::setCurrent(m_lists);
        QCOMPARE(QStringList(TagLibBuilder().parsePlaylists(QFileInfo(name))), expected);
        QFile::remove(path);
    }

    // A playlist name on something that is no file: a FIFO nobody writes
    // (an open that waits would hang the scan) or a link to a device that
    // gives bytes without end.  Nothing is read, nothing is waited for.
    void playlistsThatAreNoFiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addRow("m3u that is a FIFO") << "pipe.m3u" << "fifo";
        QTest::addRow("wpl that is a FIFO") << "pipe.wpl" << "fifo";
        QTest::addRow("m3u linked to /dev/zero") << "zero.m3u" << "/dev/zero";
        QTest::addRow("pls linked to /dev/zero") << "zero.pls" << "/dev/zero";
        QTest::addRow("wpl linked to /dev/zero") << "zero.wpl" << "/dev/zero";
    }

    void playlistsThatAreNoFiles()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        const QString path = m_lists + QLatin1Char('/') + name;
        QFile::remove(path);
        if (kind == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else
            QVERIFY(QFile::link(kind, path));
        auto removed = qScopeGuard([&path] { QFile::remove(path); });
        rusage before{};
        getrusage(RUSAGE_SELF, &before);
        QFuture<QList<QString>> entries = QtConcurrent::run([path] {
            return TagLibBuilder().parsePlaylists(QFileInfo(path));
        });
        const bool returned = QTest::qWaitFor([&entries] { return entries.isFinished(); }, 30000);
        if (!returned) {
            // Let a reader stuck on the FIFO go before failing: a writer
            // that comes and goes ends its wait.
            const int writer = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0)
                ::close(writer);
            entries.waitForFinished();
        }
        QVERIFY2(returned, "the reader waited on the playlist");
        QCOMPARE(entries.result(), QList<QString>());
        rusage after{};
        getrusage(RUSAGE_SELF, &after);
        QVERIFY2(after.ru_maxrss - before.ru_maxrss < 64 * 1024,
                 qPrintable(QStringLiteral("grew by %1 KiB").arg(after.ru_maxrss - before.ru_maxrss)));
    }

private:
    static QStringList logLines()
    {
        return QString::fromUtf8(testkit::fileBytes(shared::dataFolder() + "/debug.log"))
            .split('\n', Qt::SkipEmptyParts);
    }
    QTemporaryDir m_dir;
    QString m_lists; // where each playlist is written
};

CORVANE_TEST_MAIN(TestShared)
#include "tst_shared.moc"
