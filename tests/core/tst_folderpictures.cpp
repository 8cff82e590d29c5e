#include <QtTest>

#include "core/shared.h"
#include "libraryfixture.h"
#include "testenv.h"

using testkit::touch;

// Folder pictures and the mixed-album folder map of `shared`.
class TestFolderPictures : public QObject
{
    Q_OBJECT

private slots:
    void init() { shared().clearMixedAlbumsFolderMap(); }
    void fileCount();
    void mixed_data();
    void mixed();
    void folderPictureChoice_data();
    void folderPictureChoice();
    void updateFolderCoverArt();

private:
    static QByteArray contents(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

void TestFolderPictures::fileCount()
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

void TestFolderPictures::mixed_data()
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

void TestFolderPictures::mixed()
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

void TestFolderPictures::folderPictureChoice_data()
{
    QTest::addColumn<QStringList>("pictures");
    QTest::addColumn<QString>("expectedSource"); // "" when nothing is copied
    QTest::addRow("Folder.JPG found") << QStringList{"Folder.JPG"} << "Folder.JPG";
    QTest::addRow("FOLDER.PNG found") << QStringList{"FOLDER.PNG"} << "FOLDER.PNG";
    QTest::addRow("jpg before png") << QStringList{"folder.png", "Folder.jpg"} << "Folder.jpg";
    QTest::addRow("no picture") << QStringList{"cover.jpg"} << "";
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
    QCOMPARE(contents(result), expectedSource.toUtf8());
    // An existing picture is kept.
    touch(folder + QStringLiteral("/folder.jpg"), "other");
    QCOMPARE(shared().checkAndUpdateFolderCoverArt(folder, artwork + QStringLiteral("/Album")), result);
    QCOMPARE(contents(result), expectedSource.toUtf8());
}

void TestFolderPictures::updateFolderCoverArt()
{
    shared sha;
    QDir().mkpath(shared::dataLocation() + sha.artworkPath);
    QTemporaryDir dir;
    const QString one = dir.filePath(QStringLiteral("One"));     // one album, with picture
    const QString two = dir.filePath(QStringLiteral("Two"));     // two albums, with picture
    const QString same = dir.filePath(QStringLiteral("Same"));   // same album name as One, no picture
    const QString unknown = dir.filePath(QStringLiteral("Unk")); // "Unknown" album, with picture
    touch(one + "/folder.jpg", "one");
    touch(two + "/Folder.jpg", "two");
    touch(unknown + "/folder.png", "unk");
    QDir().mkpath(same);

    TrackMap tracks;
    auto add = [&](int id, const QString &folder, const QString &album, int key) {
        track record;
        record.id = id;
        record.folderLocation = folder;
        record.albumName = album;
        record.cover = QStringLiteral("qrc:///resources/photos/no_artwork.png");
        tracks.insert(id, record);
        sha.updateMixedAlbumsFolder(folder, key);
    };
    add(1, one, "Alpha (Deluxe)", 2);
    add(2, two, "Beta", 3);
    add(3, two, "Gamma", 4);
    add(4, same, "Alpha (Deluxe)", 5);
    add(5, unknown, "Unknown Album", 6);

    const TrackMap result = sha.updateFolderCoverArt(tracks, 1);
    const QString alpha = sha.coverpath(QStringLiteral("Alpha (Deluxe)"));
    QCOMPARE(result.value(1).cover, alpha);
    QVERIFY(result.value(1).hasCover);
    QCOMPARE(contents(alpha), QByteArray("one"));
    // A folder of two albums lends its picture to neither.
    QCOMPARE(result.value(2).cover, tracks.value(2).cover);
    QCOMPARE(result.value(3).cover, tracks.value(3).cover);
    QVERIFY(!QFileInfo::exists(sha.coverpath("Beta")));
    // A folder without a picture gets the album's existing picture.
    QCOMPARE(result.value(4).cover, alpha);
    // An "Unknown" album never takes a folder picture.
    QVERIFY(!result.value(5).hasCover);
    QVERIFY(!QFileInfo::exists(sha.coverpath("Unknown Album")));
}

CORVANE_TEST_MAIN(TestFolderPictures)
#include "tst_folderpictures.moc"
