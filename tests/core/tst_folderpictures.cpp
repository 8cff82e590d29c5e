#include <QtTest>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "core/shared.h"
#include "testenv.h"

// Folder pictures and the mixed-album folder map of `shared`.
class TestFolderPictures : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void fileCount_data();
    void fileCount();
    void mixed_data();
    void mixed();
    void folderPictureChoice_data();
    void folderPictureChoice();
    void existingTargetKept();
    void missingArtworkFolderWritesNothing();
    void updateFolderCoverArt();

private:
    static bool coverUnchanged(const track &a, const track &b) { return a.cover == b.cover && a.hasCover == b.hasCover; }
    static void touch(const QString &path, const QByteArray &bytes = QByteArray());
    static QByteArray contents(const QString &path);
};

void TestFolderPictures::touch(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray TestFolderPictures::contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TestFolderPictures::init()
{
    shared().clearMixedAlbumsFolderMap();
}

void TestFolderPictures::fileCount_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<int>("expected");
    QTest::addRow("empty folder") << QStringList() << 0;
    QTest::addRow("audio suffixes in any case")
        << QStringList{"a.mp3", "b.MP3", "c.Flac", "d.m4a", "e.aiff", "f.ogg", "g.ape", "h.wav"} << 8;
    QTest::addRow("video, playlist and picture not counted")
        << QStringList{"a.mp3", "v.mp4", "p.m3u", "folder.jpg", "notes.txt"} << 1;
    QTest::addRow("hidden file not counted") << QStringList{"a.mp3", ".b.mp3"} << 1;
    QTest::addRow("sub-folder contents not counted") << QStringList{"a.mp3", "sub/b.mp3", "sub/c.mp3"} << 1;
    QTest::addRow("folder named like audio not counted") << QStringList{"a.mp3", "x.mp3/keep"} << 1;
    QStringList many;
    for (int i = 0; i < 256; ++i)
        many << QStringLiteral("t%1.mp3").arg(i);
    QTest::addRow("256 files count as 256, not 0") << many << 256;
}

void TestFolderPictures::fileCount()
{
    QFETCH(QStringList, files);
    QFETCH(int, expected);
    QTemporaryDir dir;
    for (const QString &name : files)
        touch(dir.filePath(name));
    QCOMPARE(shared().getFolderFileCount(dir.path()), expected);
}

void TestFolderPictures::mixed_data()
{
    QTest::addColumn<QList<int>>("recordKeys"); // one album key per record counted
    QTest::addColumn<int>("audioFiles");
    QTest::addColumn<int>("flag");
    QTest::addColumn<bool>("expected");
    QTest::addRow("folder never counted") << QList<int>() << 3 << 0 << false;
    QTest::addRow("two albums") << QList<int>{2, 2, 3} << 3 << 1 << true;
    QTest::addRow("two albums, flag 0") << QList<int>{2, 3} << 2 << 0 << true;
    QTest::addRow("albums 2 and 258 stay apart") << QList<int>{2, 258} << 2 << 1 << true;
    QTest::addRow("one album, flag 1, counts differ") << QList<int>(10, 5) << 12 << 1 << false;
    QTest::addRow("one album, flag 0, 10 records of 12 files") << QList<int>(10, 5) << 12 << 0 << true;
    QTest::addRow("one album, flag 0, 12 records of 12 files") << QList<int>(12, 5) << 12 << 0 << false;
    QTest::addRow("one album, flag 0, 256 records, no files") << QList<int>(256, 7) << 0 << 0 << true;
    QTest::addRow("one album, flag 0, 300 of 300 files") << QList<int>(300, 7) << 300 << 0 << false;
}

void TestFolderPictures::mixed()
{
    QFETCH(QList<int>, recordKeys);
    QFETCH(int, audioFiles);
    QFETCH(int, flag);
    QFETCH(bool, expected);
    QTemporaryDir dir;
    for (int i = 0; i < audioFiles; ++i)
        touch(dir.filePath(QStringLiteral("%1.mp3").arg(i)));
    shared sha;
    for (const int key : std::as_const(recordKeys))
        sha.updateMixedAlbumsFolder(dir.path(), key);
    // A record of another folder changes nothing here.
    sha.updateMixedAlbumsFolder(dir.path() + QStringLiteral("/other"), 99);
    QCOMPARE(sha.checkMixedAlbumsFolderByKey(dir.path(), flag), expected);
    sha.clearMixedAlbumsFolderMap();
    QCOMPARE(sha.checkMixedAlbumsFolderByKey(dir.path(), flag), false);
}

void TestFolderPictures::folderPictureChoice_data()
{
    QTest::addColumn<QStringList>("pictures");
    QTest::addColumn<QString>("expectedSource"); // "" when nothing is copied
    QTest::addRow("folder.jpg") << QStringList{"folder.jpg"} << "folder.jpg";
    QTest::addRow("Folder.JPG found") << QStringList{"Folder.JPG"} << "Folder.JPG";
    QTest::addRow("folder.png") << QStringList{"folder.png"} << "folder.png";
    QTest::addRow("FOLDER.PNG found") << QStringList{"FOLDER.PNG"} << "FOLDER.PNG";
    QTest::addRow("jpg before png") << QStringList{"folder.png", "folder.jpg"} << "folder.jpg";
    QTest::addRow("Folder.jpg before folder.png") << QStringList{"folder.png", "Folder.jpg"} << "Folder.jpg";
    QTest::addRow("exact name wins among cases") << QStringList{"Folder.jpg", "folder.jpg"} << "folder.jpg";
    QTest::addRow("no picture") << QStringList{"cover.jpg"} << "";
    QTest::addRow("a folder named folder.jpg") << QStringList{"folder.jpg/x"} << "";
}

void TestFolderPictures::folderPictureChoice()
{
    QFETCH(QStringList, pictures);
    QFETCH(QString, expectedSource);
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("Album"));
    for (const QString &name : pictures)
        touch(folder + QLatin1Char('/') + name, name.toUtf8());
    const QString artwork = dir.filePath(QStringLiteral("Artwork"));
    QDir().mkpath(artwork);

    const QString result = shared().checkAndUpdateFolderCoverArt(folder, artwork + QStringLiteral("/Album"));
    if (expectedSource.isEmpty()) {
        QCOMPARE(result, QString());
        QVERIFY(QDir(artwork).isEmpty());
        return;
    }
    QCOMPARE(result, artwork + QStringLiteral("/Album.png"));
    // Copied byte for byte, whatever the picture's format.
    QCOMPARE(contents(result), expectedSource.toUtf8());
    QCOMPARE(QDir(artwork).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

void TestFolderPictures::existingTargetKept()
{
    QTemporaryDir dir;
    touch(dir.filePath(QStringLiteral("A/folder.jpg")), "new");
    touch(dir.filePath(QStringLiteral("B/readme.txt")));
    touch(dir.filePath(QStringLiteral("Artwork/Album.png")), "old");
    const QString dest = dir.filePath(QStringLiteral("Artwork/Album"));
    QCOMPARE(shared().checkAndUpdateFolderCoverArt(dir.filePath("A"), dest), dest + ".png");
    QCOMPARE(contents(dest + ".png"), QByteArray("old"));
    // Returned even for a folder without a picture.
    QCOMPARE(shared().checkAndUpdateFolderCoverArt(dir.filePath("B"), dest), dest + ".png");
}

void TestFolderPictures::missingArtworkFolderWritesNothing()
{
    QTemporaryDir dir;
    touch(dir.filePath(QStringLiteral("A/folder.jpg")), "jpg");
    const QString dest = dir.filePath(QStringLiteral("NoSuchFolder/Album"));
    QCOMPARE(shared().checkAndUpdateFolderCoverArt(dir.filePath("A"), dest), QString());
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("NoSuchFolder"))));
}

void TestFolderPictures::updateFolderCoverArt()
{
    shared sha;
    QDir().mkpath(shared::dataLocation() + sha.artworkPath);
    QTemporaryDir dir;
    const QString one = dir.filePath(QStringLiteral("One"));     // one album, with picture
    const QString two = dir.filePath(QStringLiteral("Two"));     // two albums, with picture
    const QString same = dir.filePath(QStringLiteral("Same"));   // same album name as One, no picture
    const QString unknown = dir.filePath(QStringLiteral("Unk")); // "Unknown" albums, with picture
    touch(one + "/folder.jpg", "one");
    touch(two + "/Folder.jpg", "two");
    touch(unknown + "/folder.png", "unk");
    QDir().mkpath(same);

    TrackMap tracks;
    auto add = [&](int id, const QString &folder, const QString &album, int key, const QString &playlist = {}) {
        track record;
        record.id = id;
        record.folderLocation = folder;
        record.albumName = album;
        record.playlist = playlist;
        record.cover = QStringLiteral("qrc:///resources/photos/no_artwork.png");
        tracks.insert(id, record);
        sha.updateMixedAlbumsFolder(folder, key);
    };
    add(1, one, "Alpha (Deluxe)", 2);
    add(2, one, "Alpha (Deluxe)", 2);
    add(3, two, "Beta", 3);
    add(4, two, "Gamma", 4);
    add(5, same, "Alpha (Deluxe)", 5);
    add(6, unknown, "Unknown Album", 6);
    add(7, unknown, "Unknown Album", 6);
    add(8, dir.filePath("Pl"), "My List", 8, "My List");

    const TrackMap result = sha.updateFolderCoverArt(tracks, 1);
    const QString alpha = sha.coverpath(QStringLiteral("Alpha (Deluxe)"));
    QCOMPARE(result.value(1).cover, alpha);
    QVERIFY(result.value(1).hasCover);
    QCOMPARE(result.value(2).cover, alpha);
    QCOMPARE(contents(alpha), QByteArray("one"));
    // A mixed folder lends its picture to nobody.
    QVERIFY(coverUnchanged(result.value(3), tracks.value(3)));
    QVERIFY(coverUnchanged(result.value(4), tracks.value(4)));
    QVERIFY(!QFileInfo::exists(sha.coverpath("Beta")));
    // A folder without a picture gets the album's existing picture.
    QCOMPARE(result.value(5).cover, alpha);
    QVERIFY(result.value(5).hasCover);
    // "Unknown" albums and playlist entries never take a folder picture.
    QVERIFY(coverUnchanged(result.value(6), tracks.value(6)));
    QVERIFY(!QFileInfo::exists(sha.coverpath("Unknown Album")));
    QVERIFY(coverUnchanged(result.value(8), tracks.value(8)));
}

CORVANE_TEST_MAIN(TestFolderPictures)
#include "tst_folderpictures.moc"
