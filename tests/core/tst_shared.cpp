#include <QtTest>

#include <limits>

#include "core/logging.h"
#include "core/shared.h"
#include "core/track_data.h"
#include "libraryfixture.h"
#include "scanfixture.h"
#include "testenv.h"

using testkit::touch;

// The text helpers, data-folder paths, folder pictures, the track record and
// the id counters.
class TestShared : public QObject
{
    Q_OBJECT

private slots:
    void init() { shared().clearMixedAlbumsFolderMap(); }

    void text_data()
    {
        QTest::addColumn<QString>("function");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::addRow("slash, colon, point, brackets") << "name" << "AC/DC: Live (Vol. 2)!" << "ACDC Live Vol 2";
        QTest::addRow("underscore goes, hyphen stays") << "name" << "A-ha_Best" << "A-haBest";
        QTest::addRow("backslash kept") << "name" << "Back\\Slash" << "Back\\Slash";
        QTest::addRow("double quotes removed") << "name" << "\"Quoted\"" << "Quoted";
        QTest::addRow("ampersand leaves two blanks") << "name" << "Rock & Roll" << "Rock  Roll";
        QTest::addRow("blanks only") << "name" << "   " << "";
        QTest::addRow("non-Latin letters") << "name" << "Кино: Группа крови" << "Кино Группа крови";
        QTest::addRow("h:m:s") << "sec" << "1:02:03" << "3723";
        QTest::addRow("two pieces") << "sec" << "02:03" << "0";
        QTest::addRow("letters") << "sec" << "aa:bb:cc" << "0";
        QTest::addRow("ffmpeg duration") << "sec" << "00:03:25.47" << "205.47";
        QTest::addRow("hours past the int range in seconds") << "sec" << "600000:00:00" << "2160000000";
        QTest::addRow("track fifty") << "track" << "50 Song.mp3" << "50";
        QTest::addRow("track fifty-one") << "track" << "51 Song.mp3" << "0";
        QTest::addRow("track leading zeros") << "track" << "007 x" << "7";
        QTest::addRow("track first piece not digits") << "track" << "07-Song Title.mp3" << "0";
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

    void pathsAndNames()
    {
        const shared sh;
        const QString data = testkit::testHome() + QStringLiteral("/.local/share/Corvane-Media-Organiser");
        QCOMPARE(shared::dataFolder(), data);
        QCOMPARE(sh.coverpath(QStringLiteral("Live (Deluxe)")), data + QStringLiteral("/Artwork/Live Deluxe.png"));
        QVERIFY(QFile::exists(QStringLiteral(":/resources/photos/no_artwork.png")));
        QVERIFY(sh.getApiNameByValue(5).isNull());
        QVERIFY(!is_number("-1") && !is_number("") && is_number("0042"));
    }

    void resetKeepsOnlyReleaseCoverUrl()
    {
        track record;
        record.isVideo = record.hasCover = true;
        record.id = 40000;
        record.duration = 12.5;
        record.trackname = QStringLiteral("Song");
        record.releaseCoverUrl = QStringLiteral("http://example.invalid/front.jpg");
        const track reset = shared().initializeTrackObject(record);
        QCOMPARE(reset.releaseCoverUrl, record.releaseCoverUrl);
        QVERIFY(!reset.isVideo && !reset.hasCover && reset.id == 0 && reset.duration == 0.0 && reset.trackname.isEmpty());
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
        QVERIFY(testkit::fileBytes(shared::dataFolder() + "/debug.log").contains("Id range exhausted, record refused: track"));
    }

    void delayKeepsEventsFlowing()
    {
        bool delivered = false;
        QTimer::singleShot(50, this, [&] { delivered = true; });
        QElapsedTimer timer;
        timer.start();
        delay();
        QVERIFY(delivered && timer.elapsed() >= 990 && timer.elapsed() < 3000);
    }

    // Folder pictures and the mixed-album folder map.
    void fileCount()
    {
        QTemporaryDir dir;
        for (const char *name : {"a.MP3", "b.Flac", "v.mp4", "p.m3u", "folder.jpg", ".hidden.mp3", "sub/c.mp3"})
            touch(dir.filePath(QLatin1String(name)));
        QCOMPARE(shared().getFolderFileCount(dir.path()), 2);
        // Counts are full integers: 256 files are not 0.
        for (int i = 0; i < 254; ++i)
            touch(dir.filePath(QStringLiteral("t%1.mp3").arg(i)));
        QCOMPARE(shared().getFolderFileCount(dir.path()), 256);
    }

    void mixed_data()
    {
        QTest::addColumn<QList<int>>("recordKeys"); // one album key per record counted
        QTest::addColumn<int>("audioFiles");
        QTest::addColumn<int>("flag");
        QTest::addColumn<bool>("expected");
        QTest::addRow("two albums") << QList<int>{2, 2, 3} << 3 << 1 << true;
        QTest::addRow("albums 2 and 258 stay apart") << QList<int>{2, 258} << 2 << 1 << true;
        QTest::addRow("one album, flag 1, counts differ") << QList<int>(10, 5) << 12 << 1 << false;
        QTest::addRow("one album, flag 0, 10 records of 12 files") << QList<int>(10, 5) << 12 << 0 << true;
        QTest::addRow("one album, flag 0, 12 records of 12 files") << QList<int>(12, 5) << 12 << 0 << false;
        QTest::addRow("one album, flag 0, 256 records, no files") << QList<int>(256, 7) << 0 << 0 << true;
    }

    void mixed()
    {
        QFETCH(QList<int>, recordKeys);
        QFETCH(int, audioFiles);
        QFETCH(int, flag);
        QTemporaryDir dir;
        for (int i = 0; i < audioFiles; ++i)
            touch(dir.filePath(QStringLiteral("%1.mp3").arg(i)));
        shared sha;
        for (const int key : std::as_const(recordKeys))
            sha.updateMixedAlbumsFolder(dir.path(), key);
        QTEST(sha.checkMixedAlbumsFolderByKey(dir.path(), flag), "expected");
    }

    void folderPictureChoice_data()
    {
        QTest::addColumn<QStringList>("pictures");
        QTest::addColumn<QString>("expectedSource"); // "" when nothing is copied
        QTest::addRow("Folder.JPG found") << QStringList{"Folder.JPG"} << "Folder.JPG";
        QTest::addRow("FOLDER.PNG found") << QStringList{"FOLDER.PNG"} << "FOLDER.PNG";
        QTest::addRow("jpg before png") << QStringList{"folder.png", "Folder.jpg"} << "Folder.jpg";
        QTest::addRow("no picture") << QStringList{"cover.jpg"} << "";
    }

    void folderPictureChoice()
    {
        QFETCH(QStringList, pictures);
        QFETCH(QString, expectedSource);
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("Album")), artwork = dir.filePath(QStringLiteral("Artwork"));
        for (const QString &name : pictures)
            touch(folder + QLatin1Char('/') + name, name.toUtf8());
        QDir().mkpath(artwork);
        const QString result = shared().checkAndUpdateFolderCoverArt(folder, artwork + QStringLiteral("/Album"));
        QCOMPARE(result, expectedSource.isEmpty() ? QString() : artwork + QStringLiteral("/Album.png"));
        QCOMPARE(QDir(artwork).entryList(QDir::Files | QDir::Hidden).size(), expectedSource.isEmpty() ? 0 : 1);
        if (expectedSource.isEmpty())
            return;
        // An existing picture is kept.
        touch(folder + QStringLiteral("/folder.jpg"), "other");
        shared().checkAndUpdateFolderCoverArt(folder, artwork + QStringLiteral("/Album"));
        QCOMPARE(testkit::fileBytes(artwork + QStringLiteral("/Album.png")), expectedSource.toUtf8());
    }

    void updateFolderCoverArt()
    {
        shared sha;
        QDir().mkpath(shared::dataLocation() + sha.artworkPath);
        QTemporaryDir dir;
        // One: one album with a picture; Two: two albums with a picture; Same:
        // One's album, no picture; Unk: an "Unknown" album with a picture.
        const QString one = dir.filePath("One"), two = dir.filePath("Two"), same = dir.filePath("Same"),
                      unknown = dir.filePath("Unk");
        touch(one + "/folder.jpg", "one");
        touch(two + "/Folder.jpg", "two");
        touch(unknown + "/folder.png", "unk");
        QDir().mkpath(same);

        TrackMap tracks;
        const QList<QPair<QString, QString>> records = {
            {one, "Alpha (Deluxe)"}, {two, "Beta"}, {two, "Gamma"}, {same, "Alpha (Deluxe)"}, {unknown, "Unknown Album"}};
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
    }

};

CORVANE_TEST_MAIN(TestShared)
#include "tst_shared.moc"
