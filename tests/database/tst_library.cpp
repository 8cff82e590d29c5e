#include <QtTest>

#include <QImage>

#include "core/shared.h"
#include "database/ruvodb.h"
#include "libraryfixture.h"
#include "mediakit.h"
#include "testenv.h"

using namespace testkit;

// The library's own tables: writes, the load at start with its clean-up, and
// deletion, which must never reach outside the program's copy folder.
class TestLibrary : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { QVERIFY(openLibrary()); }
    void cleanupTestCase() { forgetLibrary(); }

    void writingAgainReplacesTheRow_data();
    void writingAgainReplacesTheRow();
    void namesMatchExactly_data();
    void namesMatchExactly();
    void albumTakesOnlyItsOwnPicture();
    void failedInsertKeepsOldRow();

    void missingFileGoesMissingFolderStays();
    void loadedRecords();
    void coverWrittenBackOnlyWhenMissing();

    void lastCopyGoesWithItsFolder();
    void filesOutsideCopyFolderNeverTouched_data();
    void filesOutsideCopyFolderNeverTouched();
    void linksAndOuterFoldersNeverFollowed();

private:
    QTemporaryDir m_dir;
    QString m_artwork;
    ruvoDB m_library;
};

void TestLibrary::initTestCase()
{
    QVERIFY(m_dir.isValid());
    MediaKit kit(shared::dataFolder() + QStringLiteral("/Artwork"));
    m_artwork = kit.picture(QStringLiteral("Blue.png"), 16, 16);
    QVERIFY2(!m_artwork.isEmpty(), qPrintable(kit.lastError()));
}

void TestLibrary::writingAgainReplacesTheRow_data()
{
    QTest::addColumn<QString>("playlist");
    QTest::addRow("no playlist") << QString();
    QTest::addRow("playlist with apostrophe") << QStringLiteral("Rock 'n' Roll");
}

void TestLibrary::writingAgainReplacesTheRow()
{
    QFETCH(QString, playlist);
    track t = makeTrack("/music/a.mp3");
    t.playlist = playlist;
    QVERIFY(m_library.insertDataOne(t));
    const int firstId = scalar("SELECT id FROM tracks").toInt();
    t.trackname = QStringLiteral("Song (remaster)");
    QVERIFY(m_library.insertDataOne(t));
    QCOMPARE(count("tracks"), 1);
    QVERIFY(scalar("SELECT id FROM tracks").toInt() != firstId);
    QCOMPARE(scalar("SELECT trackname FROM tracks").toString(), t.trackname);
    t.playlist = QStringLiteral("Another");
    QVERIFY(m_library.insertDataOne(t));
    QCOMPARE(count("tracks"), 2);
}

void TestLibrary::namesMatchExactly_data()
{
    QTest::addColumn<QStringList>("names"); // table, first name, second name
    QTest::addColumn<int>("rows");
    QTest::addRow("artist with apostrophe found again")
        << QStringList{"artists", "Guns 'n' Roses", "Guns 'n' Roses"} << 1;
    QTest::addRow("album differing in case reuses its row") << QStringList{"albums", "Side A", "SIDE a"} << 1;
    QTest::addRow("genre with apostrophe found again")
        << QStringList{"genres", "Rock 'n' Roll", "Rock 'n' Roll"} << 1;
    QTest::addRow("artist differing in case reuses its row") << QStringList{"artists", "Artist", "ARTIST"} << 1;
    QTest::addRow("genre differing in case is another genre") << QStringList{"genres", "Rock", "rock"} << 2;
}

void TestLibrary::namesMatchExactly()
{
    QFETCH(QStringList, names);
    QFETCH(int, rows);
    const QString table = names[0];
    QString track::*name = table == "artists"  ? &track::artistName
                           : table == "albums" ? &track::albumName
                                               : &track::genre;
    track a = makeTrack("/music/a.mp3");
    track b = makeTrack("/music/b.mp3");
    a.*name = names[1];
    b.*name = names[2];
    QVERIFY(m_library.insertDataOne(a) && m_library.insertDataOne(b));
    QCOMPARE(count(table), rows);
    const QString column = table == "genres" ? "genre" : "name";
    QCOMPARE(scalar(QStringLiteral("SELECT %1 FROM %2 ORDER BY id").arg(column, table)).toString(), names[1]);
}

void TestLibrary::albumTakesOnlyItsOwnPicture()
{
    const auto store = [this](const QString &album, const QString &cover) {
        track t = makeTrack(QStringLiteral("/music/%1.mp3").arg(count("tracks")), album);
        t.cover = cover;
        return m_library.insertDataOne(t);
    };
    const auto coverOf = [](const QString &album) {
        return scalar("SELECT cover || '|' || ifnull(coverdata, '') FROM albums WHERE name = ?", {album}).toString();
    };
    QFile picture(m_artwork);
    QVERIFY(picture.open(QIODevice::ReadOnly));
    QVERIFY(store("Blue", m_artwork) && store("Green", m_artwork));
    QCOMPARE(coverOf("Blue"), m_artwork + '|' + QString::fromLatin1(picture.readAll().toBase64()));
    QCOMPARE(coverOf("Green"), shared().noArtworkUrl + '|');

    // An "Unknown" album found again loses its picture.
    const QString unknown = shared::dataFolder() + QStringLiteral("/Artwork/Unknown Album.png");
    QVERIFY(QFile::copy(m_artwork, unknown));
    QVERIFY(store("Unknown Album", unknown) && store("Unknown Album", unknown));
    QCOMPARE(coverOf("Unknown Album"), shared().noArtworkUrl + '|');
    QFile::remove(unknown);
}

void TestLibrary::failedInsertKeepsOldRow()
{
    track t = makeTrack("/music/a.mp3");
    QVERIFY(m_library.insertDataOne(t));
    QVERIFY(exec("CREATE TRIGGER refuse BEFORE INSERT ON tracks BEGIN SELECT RAISE(ABORT, 'refused'); END"));
    t.trackname = QStringLiteral("Replacement");
    t.artistName = QStringLiteral("New Artist");
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Statement failed.*refused"));
    QVERIFY(!m_library.insertDataOne(t));
    QCOMPARE(scalar("SELECT group_concat(trackname) FROM tracks").toString(), QStringLiteral("Song"));
    QCOMPARE(count("artists"), 1); // the new artist row went with the rollback

    // A whole map reports the record that failed, not success.
    QVERIFY(exec("DROP TRIGGER refuse"));
    QVERIFY(exec("CREATE TRIGGER refuse BEFORE INSERT ON tracks WHEN NEW.filepath = '/music/c.mp3' "
                 "BEGIN SELECT RAISE(ABORT, 'refused'); END"));
    TrackMap map{{1, makeTrack("/music/b.mp3")}, {2, makeTrack("/music/c.mp3")}};
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Statement failed.*refused"));
    QVERIFY(!m_library.insertData(QSqlDatabase(), map));
    QCOMPARE(scalar("SELECT count(*) FROM tracks WHERE filepath = '/music/b.mp3'").toInt(), 1);
    QVERIFY(!m_library.insertData(QSqlDatabase(), TrackMap()));
}

void TestLibrary::missingFileGoesMissingFolderStays()
{
    // A file gone from its folder is forgotten with the rows only it used; a
    // file whose folder is gone too (an unplugged drive) keeps its row.
    const QString kept = m_dir.filePath("kept.mp3");
    const QString gone = m_dir.filePath("gone.mp3");
    const QString unplugged = m_dir.filePath("drive/Music/a.mp3");
    QVERIFY(touch(kept) && touch(gone));
    track lost = makeTrack(gone, "Lost Album", "Lost Artist");
    lost.genre = QStringLiteral("Lost Genre");
    lost.year = 1999;
    QVERIFY(m_library.insertDataOne(makeTrack(kept)) && m_library.insertDataOne(lost));
    QVERIFY(m_library.insertDataOne(makeTrack(unplugged)));
    QCOMPARE(m_library.loadDB().size(), 2);

    QVERIFY(QFile::remove(gone));
    const TrackMap loaded = m_library.loadDB(); // starts from an empty map
    QCOMPARE(loaded.size(), 1);
    QCOMPARE(loaded.first().filepath, kept);
    QCOMPARE(loaded.firstKey(), loaded.first().id);
    QCOMPARE(count("tracks"), 2);
    for (const QString table : {"albums", "artists", "genres", "years"})
        QVERIFY2(count(table) == 1, qPrintable(table));

    QVERIFY(touch(unplugged)); // plugged in again
    QCOMPARE(m_library.loadDB().size(), 2);
}

void TestLibrary::loadedRecords()
{
    const QString videoPath = m_dir.filePath("clip.mp4");
    const QString audioPath = m_dir.filePath("song.mp3");
    QVERIFY(touch(videoPath) && touch(audioPath));
    track video = makeTrack(videoPath, "Clips");
    video.isVideo = true;
    video.cover = QStringLiteral("/thumbs/clip.png");
    video.filesize = Q_INT64_C(3221225472); // 3 GiB
    video.playlist = QStringLiteral("Road Trip");
    QVERIFY(m_library.insertDataOne(video) && m_library.insertDataOne(makeTrack(audioPath, "Clips")));
    QVERIFY(exec("UPDATE tracks SET VideoImage = '/thumbs/stray.png' WHERE isVideo = 0"));
    QVERIFY(exec("UPDATE albums SET coverdata = 'QUJD' WHERE name = 'Clips'"));

    const TrackMap loaded = m_library.loadDB();
    QCOMPARE(loaded.size(), 2);
    const track v = loaded.first();
    QVERIFY(v.isVideo && v.album_id > 0 && v.playlist_id == v.album_id);
    QCOMPARE(v.cover, QStringLiteral("/thumbs/clip.png"));
    QCOMPARE(v.filesize, Q_INT64_C(3221225472));
    const track a = loaded.last();
    QCOMPARE(a.cover, shared().noArtworkUrl); // an audio track's cover is its album's
    QCOMPARE(a.playlist_id, 0);
    QCOMPARE(a.quality, 1); // 192 kbit/s: the class is set at load
    QCOMPARE(a.artistName + '|' + a.albumName + '|' + a.genre, QStringLiteral("Artist|Clips|Rock"));
    // The album's picture data, held once and shared by its tracks.
    QCOMPARE(a.coverdata, QStringLiteral("QUJD"));
    QCOMPARE(v.coverdata.constData(), a.coverdata.constData());
}

void TestLibrary::coverWrittenBackOnlyWhenMissing()
{
    const QString lost = shared::dataFolder() + QStringLiteral("/Artwork/Lost.png");
    const QString present = shared::dataFolder() + QStringLiteral("/Artwork/Present.jpg");
    const QString outside = m_dir.filePath("Corvane-Media-Organiser/Artwork/Escape.png");
    const QString climbing = shared::dataFolder() + QStringLiteral("/../Climb.png");
    QVERIFY(touch(present, "not rewritten"));
    QFile picture(m_artwork);
    QVERIFY(picture.open(QIODevice::ReadOnly));
    const QString data = QString::fromLatin1(picture.readAll().toBase64());
    for (const QString &cover : {lost, present, outside, climbing})
        QVERIFY(exec("INSERT INTO albums(name,artist_id,cover,coverdata,year) VALUES ('x',1,?,?,2000)", {cover, data}));

    QVERIFY(m_library.createArtwork());
    QCOMPARE(QImage(lost), QImage(m_artwork));
    QFile file(present);
    QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll() == "not rewritten");
    QVERIFY(!QFile::exists(outside) && !QFile::exists(climbing));
}

void TestLibrary::lastCopyGoesWithItsFolder()
{
    const QString folder = ruvoDB::programCopyFolder() + QStringLiteral("/Album");
    QVERIFY(touch(folder + "/01.mp3") && touch(folder + "/02.mp3") && touch(folder + "/Disc 2/b.mp3"));
    TrackMap source{{7, makeTrack("/music/01.mp3")}};
    QVERIFY(m_library.insertDataOneWithItrator(source.begin(), folder + "/01.mp3"));
    QCOMPARE(scalar("SELECT filepath FROM tracks").toString(), folder + "/01.mp3");

    QVERIFY(!m_library.deleteTrack(QSqlDatabase(), folder + "/01.mp3"));
    QVERIFY(!QFile::exists(folder + "/01.mp3"));
    QCOMPARE(count("tracks"), 0);
    // A folder holding only another folder stays, with what that holds.
    QVERIFY(!m_library.deleteTrack(QSqlDatabase(), folder + "/02.mp3"));
    QVERIFY(QFile::exists(folder + "/Disc 2/b.mp3"));
    // Emptied folders go bottom-up, the copy folder itself stays.
    QVERIFY(m_library.deleteTrack(QSqlDatabase(), folder + "/Disc 2/b.mp3"));
    QVERIFY(!QDir(folder).exists());
    QVERIFY(QDir(ruvoDB::programCopyFolder()).exists());
}

void TestLibrary::filesOutsideCopyFolderNeverTouched_data()
{
    QTest::addColumn<QString>("path");
    QTest::addRow("user's own folder") << m_dir.filePath("Corvane Media Organiser/Album/a.mp3");
    QTest::addRow("backup beside the copy folder")
        << shared::dataFolder() + "/Music/Corvane Media Organiser backup/Album/a.mp3";
    QTest::addRow("climbing out with ..") << ruvoDB::programCopyFolder() + "/../Escaped Album/a.mp3";
}

void TestLibrary::filesOutsideCopyFolderNeverTouched()
{
    QFETCH(QString, path);
    QVERIFY(touch(path));
    QDir().mkpath(ruvoDB::programCopyFolder());
    QVERIFY(m_library.insertDataOne(makeTrack(path)));
    QVERIFY(!m_library.deleteTrack(QSqlDatabase(), path));
    QVERIFY(QFileInfo(path).isWritable()); // still there, untouched
    QCOMPARE(count("tracks"), 0); // the row goes; the file stays
}

void TestLibrary::linksAndOuterFoldersNeverFollowed()
{
    const QString root = ruvoDB::programCopyFolder();
    const QString precious = m_dir.filePath("precious");
    QVERIFY(touch(precious + "/a.mp3") && touch(root + "/Deep/Disc 1/01.mp3"));
    QVERIFY(QDir().mkpath(root + "/Linked"));
    QVERIFY(QFile::link(precious + "/a.mp3", root + "/Linked/a.mp3"));
    QVERIFY(QFile::link(precious, root + "/Door"));

    // A link is no program copy: deleting through it takes the link at most.
    m_library.deleteTrack(QSqlDatabase(), root + "/Linked/a.mp3");
    m_library.deleteTrack(QSqlDatabase(), root + "/Door/a.mp3");
    QVERIFY(!m_library.removeDir(root + "/Door"));
    QVERIFY(QFile::exists(precious + "/a.mp3"));
    QVERIFY(QFileInfo(root + "/Linked/a.mp3").isSymLink()); // no copy: its folder isn't empty either
    QVERIFY(QFile::remove(root + "/Door"));

    // Only folders strictly below the copy folder go, links inside them unfollowed.
    for (const QString &outer : {root, m_dir.path(), shared::dataFolder()})
        QVERIFY2(!m_library.removeDir(outer), qPrintable(outer));
    QVERIFY(QFile::exists(root + "/Deep/Disc 1/01.mp3"));
    QVERIFY(QFile::link(precious, root + "/Deep/Disc 1/door"));
    QVERIFY(m_library.removeDir(root + "/Deep"));
    QVERIFY(!QFileInfo::exists(root + "/Deep"));
    QVERIFY(QFile::exists(precious + "/a.mp3"));
}

CORVANE_TEST_MAIN(TestLibrary)
#include "tst_library.moc"
