#include <QtTest>

#include <QImage>
#include <QSqlDatabase>
#include <QSqlQuery>

#include "core/shared.h"
#include "database/connection.h"
#include "database/database.h"
#include "database/ruvodb.h"
#include "testenv.h"

namespace {

void forgetLibrary()
{
    const QString name = QString::fromLatin1(QSqlDatabase::defaultConnection);
    if (QSqlDatabase::contains(name)) {
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
    const QString file = shared::dataFolder() + QStringLiteral("/ruvo.db");
    for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        QFile::remove(file + suffix);
}

QVariant scalar(const QString &sql)
{
    QSqlQuery query(Connection::forThread());
    if (!query.exec(sql) || !query.next())
        return QVariant();
    return query.value(0);
}

int count(const QString &table)
{
    return scalar(QStringLiteral("SELECT count(*) FROM ") + table).toInt();
}

bool touch(const QString &path, const QByteArray &content = QByteArrayLiteral("audio"))
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

track makeTrack(const QString &path, const QString &album = QStringLiteral("Album"))
{
    track t;
    t.filepath = path;
    t.filename = QFileInfo(path).fileName();
    t.trackname = QStringLiteral("Song");
    t.artistName = QStringLiteral("Artist ") + album;
    t.albumName = album;
    t.genre = QStringLiteral("Genre ") + album;
    t.year = 1990 + album.size();
    t.bitrate = 192;
    t.cover = QStringLiteral("qrc:///resources/photos/no_artwork.png");
    return t;
}

QString pngBase64(const QString &colour)
{
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(QColor(colour));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return QString::fromLatin1(bytes.toBase64());
}

} // namespace

class TestLibraryLoad : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void loadsEveryRowOnce();
    void eachLoadStartsEmpty();
    void missingFileIsForgottenWithOrphans();
    void missingFolderKeepsTheRow();
    void recordFields();
    void videoCoverComesFromVideoImage();
    void qualityClasses_data();
    void qualityClasses();
    void largeFileSizeSurvives();
    void coverWrittenBackOnlyWhenMissing();
    void coverNeverWrittenOutsideDataFolder();

    void lastCopyGoesWithItsFolder();
    void copyWithSiblingKeepsFolder();
    void filesOutsideCopyFolderNeverTouched_data();
    void filesOutsideCopyFolderNeverTouched();
    void linkIsNotFollowed();
    void removeDirStaysInsideCopyFolder();

private:
    QTemporaryDir m_dir;
};

void TestLibraryLoad::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

void TestLibraryLoad::init()
{
    forgetLibrary();
    Database db;
    QVERIFY(db.connect(QStringLiteral("RuvoData"), true));
    db.create();
}

void TestLibraryLoad::cleanupTestCase()
{
    forgetLibrary();
}

void TestLibraryLoad::loadsEveryRowOnce()
{
    ruvoDB library;
    for (const QString name : {"a.mp3", "b.mp3", "c.mp3"}) {
        QVERIFY(touch(m_dir.filePath(name)));
        QVERIFY(library.insertDataOne(makeTrack(m_dir.filePath(name))));
    }
    const TrackMap first = library.loadDB();
    QCOMPARE(first.size(), 3);
    for (auto it = first.cbegin(); it != first.cend(); ++it)
        QCOMPARE(it.key(), it.value().id);
    const TrackMap second = library.loadDB();
    QCOMPARE(second.keys(), first.keys());
}

void TestLibraryLoad::eachLoadStartsEmpty()
{
    ruvoDB library;
    QVERIFY(touch(m_dir.filePath("a.mp3")));
    QVERIFY(touch(m_dir.filePath("b.mp3")));
    QVERIFY(library.insertDataOne(makeTrack(m_dir.filePath("a.mp3"))));
    QVERIFY(library.insertDataOne(makeTrack(m_dir.filePath("b.mp3"))));
    QCOMPARE(library.loadDB().size(), 2);
    QVERIFY(library.deleteTrack(QSqlDatabase(), m_dir.filePath("b.mp3")) == false);
    QCOMPARE(library.loadDB().size(), 1);
    QVERIFY(QFile::exists(m_dir.filePath("b.mp3")));
}

void TestLibraryLoad::missingFileIsForgottenWithOrphans()
{
    ruvoDB library;
    const QString kept = m_dir.filePath("kept.mp3");
    const QString gone = m_dir.filePath("gone.mp3");
    QVERIFY(touch(kept));
    QVERIFY(touch(gone));
    QVERIFY(library.insertDataOne(makeTrack(kept, "Kept")));
    QVERIFY(library.insertDataOne(makeTrack(gone, "Lost Album")));
    QCOMPARE(count("albums"), 2);
    QVERIFY(QFile::remove(gone));

    const TrackMap loaded = library.loadDB();
    QCOMPARE(loaded.size(), 1);
    QCOMPARE(loaded.first().filepath, kept);
    QCOMPARE(count("tracks"), 1);
    QCOMPARE(count("albums"), 1);
    QCOMPARE(count("artists"), 1);
    QCOMPARE(count("genres"), 1);
    QCOMPARE(count("years"), 1);
    QCOMPARE(scalar("SELECT name FROM albums").toString(), QStringLiteral("Kept"));
}

void TestLibraryLoad::missingFolderKeepsTheRow()
{
    // A drive that isn't plugged in: neither the file nor its folder is there.
    ruvoDB library;
    const QString unplugged = m_dir.filePath("unplugged-drive/Music/a.mp3");
    QVERIFY(library.insertDataOne(makeTrack(unplugged, "On The Drive")));
    const TrackMap loaded = library.loadDB();
    QVERIFY(loaded.isEmpty());
    QCOMPARE(count("tracks"), 1);
    QCOMPARE(count("albums"), 1);

    // Plugged in again, it is back.
    QVERIFY(touch(unplugged));
    QCOMPARE(library.loadDB().size(), 1);
}

void TestLibraryLoad::recordFields()
{
    ruvoDB library;
    const QString path = m_dir.filePath("fields.mp3");
    QVERIFY(touch(path));
    track t = makeTrack(path, "Blue");
    t.codec = QStringLiteral("mp3");
    t.frequency = 44100;
    t.tracknumber = 4;
    t.duration = 187.5;
    t.source = 1;
    t.isAudiobook = true;
    t.ReleaseDate = QStringLiteral("1999");
    t.playlist = QStringLiteral("Road Trip");
    QVERIFY(library.insertDataOne(t));
    track other = makeTrack(m_dir.filePath("fields.mp3"), "Blue");
    other.playlist = QString();
    QVERIFY(library.insertDataOne(other));

    const TrackMap loaded = library.loadDB();
    QCOMPARE(loaded.size(), 2);
    const track first = loaded.first();
    QCOMPARE(first.codec, QStringLiteral("mp3"));
    QCOMPARE(first.frequency, 44100);
    QCOMPARE(first.tracknumber, 4);
    QCOMPARE(first.duration, 187.5);
    QCOMPARE(first.source, 1);
    QVERIFY(first.isAudiobook);
    QCOMPARE(first.ReleaseDate, QStringLiteral("1999"));
    QCOMPARE(first.artistName, QStringLiteral("Artist Blue"));
    QCOMPARE(first.albumName, QStringLiteral("Blue"));
    QCOMPARE(first.genre, QStringLiteral("Genre Blue"));
    QCOMPARE(first.year, 1994);
    QCOMPARE(first.cover, QStringLiteral("qrc:///resources/photos/no_artwork.png"));
    QVERIFY(first.album_id > 0);
    QCOMPARE(first.playlist_id, first.album_id);
    QCOMPARE(loaded.last().playlist_id, 0);
    QVERIFY(first.sourcePath.isEmpty());
    QVERIFY(first.folderLocation.isEmpty());
}

void TestLibraryLoad::videoCoverComesFromVideoImage()
{
    ruvoDB library;
    const QString videoPath = m_dir.filePath("clip.mp4");
    const QString audioPath = m_dir.filePath("song.mp3");
    QVERIFY(touch(videoPath));
    QVERIFY(touch(audioPath));
    track video = makeTrack(videoPath, "Clips");
    video.isVideo = true;
    video.cover = QStringLiteral("/thumbs/clip.png");
    QVERIFY(library.insertDataOne(video));
    QVERIFY(library.insertDataOne(makeTrack(audioPath, "Clips")));
    QSqlQuery query(Connection::forThread());
    QVERIFY(query.exec("UPDATE tracks SET VideoImage = '/thumbs/stray.png' WHERE isVideo = 0"));

    const TrackMap loaded = library.loadDB();
    QCOMPARE(loaded.size(), 2);
    for (const track &t : loaded) {
        if (t.isVideo)
            QCOMPARE(t.cover, QStringLiteral("/thumbs/clip.png"));
        else
            QCOMPARE(t.cover, QStringLiteral("qrc:///resources/photos/no_artwork.png"));
    }
}

void TestLibraryLoad::qualityClasses_data()
{
    QTest::addColumn<int>("bitrate");
    QTest::addColumn<int>("quality");
    QTest::addRow("128 kbit/s") << 128 << 0;
    QTest::addRow("129 kbit/s") << 129 << 1;
    QTest::addRow("255 kbit/s") << 255 << 1;
    QTest::addRow("256 kbit/s") << 256 << 2;
}

void TestLibraryLoad::qualityClasses()
{
    QFETCH(int, bitrate);
    QFETCH(int, quality);
    ruvoDB library;
    QVERIFY(touch(m_dir.filePath("q.mp3")));
    track t = makeTrack(m_dir.filePath("q.mp3"));
    t.bitrate = bitrate;
    QVERIFY(library.insertDataOne(t));
    const TrackMap loaded = library.loadDB();
    QCOMPARE(loaded.size(), 1);
    QCOMPARE(loaded.first().bitrate, bitrate);
    QCOMPARE(loaded.first().quality, quality);
}

void TestLibraryLoad::largeFileSizeSurvives()
{
    ruvoDB library;
    QVERIFY(touch(m_dir.filePath("big.mp4")));
    track t = makeTrack(m_dir.filePath("big.mp4"));
    t.filesize = Q_INT64_C(3221225472);  // 3 GiB
    QVERIFY(library.insertDataOne(t));
    QCOMPARE(library.loadDB().first().filesize, Q_INT64_C(3221225472));
}

void TestLibraryLoad::coverWrittenBackOnlyWhenMissing()
{
    const QString artwork = shared::dataFolder() + QStringLiteral("/Artwork");
    const QString lost = artwork + QStringLiteral("/Lost.png");
    const QString present = artwork + QStringLiteral("/Present.jpg");
    QFile::remove(lost);
    QVERIFY(touch(present, "not rewritten"));
    QSqlQuery query(Connection::forThread());
    query.prepare("INSERT INTO albums(name,artist_id,cover,coverdata,year) VALUES (?,1,?,?,2000)");
    query.addBindValue(QStringLiteral("Lost"));
    query.addBindValue(lost);
    query.addBindValue(pngBase64("red"));
    QVERIFY(query.exec());
    query.addBindValue(QStringLiteral("Present"));
    query.addBindValue(present);
    query.addBindValue(pngBase64("blue"));
    QVERIFY(query.exec());

    ruvoDB library;
    QVERIFY(library.createArtwork());
    QImage restored(lost);
    QVERIFY(!restored.isNull());
    QCOMPARE(restored.pixelColor(0, 0), QColor("red"));
    QCOMPARE(contentOf(present), QByteArray("not rewritten"));
    QFile::remove(lost);
    QFile::remove(present);
}

void TestLibraryLoad::coverNeverWrittenOutsideDataFolder()
{
    const QString outside = m_dir.filePath("Corvane-Media-Organiser/Artwork/Escape.png");
    const QString climbing = shared::dataFolder() + QStringLiteral("/../Climb.png");
    QSqlQuery query(Connection::forThread());
    query.prepare("INSERT INTO albums(name,artist_id,cover,coverdata,year) VALUES ('x',1,?,?,2000)");
    query.addBindValue(outside);
    query.addBindValue(pngBase64("red"));
    QVERIFY(query.exec());
    query.addBindValue(climbing);
    query.addBindValue(pngBase64("red"));
    QVERIFY(query.exec());
    ruvoDB library;
    library.createArtwork();
    QVERIFY(!QFile::exists(outside));
    QVERIFY(!QFile::exists(climbing));
}

void TestLibraryLoad::lastCopyGoesWithItsFolder()
{
    ruvoDB library;
    const QString folder = ruvoDB::programCopyFolder() + QStringLiteral("/Last Album");
    const QString copy = folder + QStringLiteral("/01 Song.mp3");
    QVERIFY(touch(copy));
    QVERIFY(touch(folder + QStringLiteral("/.hidden")));  // hidden files don't keep a folder
    QVERIFY(library.insertDataOne(makeTrack(copy)));
    QVERIFY(library.deleteTrack(QSqlDatabase(), copy));
    QVERIFY(!QFile::exists(copy));
    QVERIFY(!QDir(folder).exists());
    QVERIFY(QDir(ruvoDB::programCopyFolder()).exists());
    QCOMPARE(count("tracks"), 0);
}

void TestLibraryLoad::copyWithSiblingKeepsFolder()
{
    ruvoDB library;
    const QString folder = ruvoDB::programCopyFolder() + QStringLiteral("/Shared Album");
    QVERIFY(touch(folder + QStringLiteral("/01.mp3")));
    QVERIFY(touch(folder + QStringLiteral("/02.mp3")));
    QVERIFY(!library.deleteTrack(QSqlDatabase(), folder + QStringLiteral("/01.mp3")));
    QVERIFY(!QFile::exists(folder + QStringLiteral("/01.mp3")));
    QVERIFY(QFile::exists(folder + QStringLiteral("/02.mp3")));
    QVERIFY(library.deleteTrack(QSqlDatabase(), folder + QStringLiteral("/02.mp3")));
    QVERIFY(!QDir(folder).exists());
}

void TestLibraryLoad::filesOutsideCopyFolderNeverTouched_data()
{
    QTest::addColumn<QString>("path");
    const QString music = shared::dataFolder() + QStringLiteral("/Music");
    QTest::addRow("user's own folder") << m_dir.filePath("Corvane Media Organiser/Album/a.mp3");
    QTest::addRow("backup beside the copy folder") << music + QStringLiteral("/Corvane Media Organiser backup/Album/a.mp3");
    QTest::addRow("climbing out with ..")
        << ruvoDB::programCopyFolder() + QStringLiteral("/../Escaped Album/a.mp3");
    QTest::addRow("directly in the copy folder's parent") << music + QStringLiteral("/Loose/a.mp3");
}

void TestLibraryLoad::filesOutsideCopyFolderNeverTouched()
{
    QFETCH(QString, path);
    QVERIFY(touch(path));
    QDir().mkpath(ruvoDB::programCopyFolder());
    ruvoDB library;
    QVERIFY(library.insertDataOne(makeTrack(path)));
    QVERIFY(!library.deleteTrack(QSqlDatabase(), path));
    QVERIFY(QFile::exists(path));
    QVERIFY(QFileInfo(path).isWritable());
    QCOMPARE(count("tracks"), 0);  // the row goes; the file stays
}

void TestLibraryLoad::linkIsNotFollowed()
{
    const QString target = m_dir.filePath("precious/a.mp3");
    QVERIFY(touch(target));
    const QString folder = ruvoDB::programCopyFolder() + QStringLiteral("/Linked");
    QDir().mkpath(folder);
    QVERIFY(QFile::link(target, folder + QStringLiteral("/a.mp3")));
    QVERIFY(QFile::link(m_dir.filePath("precious"), ruvoDB::programCopyFolder() + QStringLiteral("/Door")));

    ruvoDB library;
    // The link is no program copy; its folder holds no real file, so the
    // folder goes, taking the link but not what it points at.
    library.deleteTrack(QSqlDatabase(), folder + QStringLiteral("/a.mp3"));
    QVERIFY(QFile::exists(target));
    QVERIFY(!QFileInfo::exists(folder));
    library.deleteTrack(QSqlDatabase(), ruvoDB::programCopyFolder() + QStringLiteral("/Door/a.mp3"));
    QVERIFY(QFile::exists(target));
    QVERIFY(!library.removeDir(ruvoDB::programCopyFolder() + QStringLiteral("/Door")));
    QVERIFY(QFile::exists(target));

    // Removing a folder that holds links removes the links only.
    QDir().mkpath(folder + QStringLiteral("/Sub"));
    QVERIFY(QFile::link(target, folder + QStringLiteral("/a.mp3")));
    QVERIFY(QFile::link(m_dir.filePath("precious"), folder + QStringLiteral("/Sub/door")));
    QVERIFY(library.removeDir(folder));
    QVERIFY(!QFileInfo::exists(folder));
    QVERIFY(QFile::exists(target));
    QFile::remove(ruvoDB::programCopyFolder() + QStringLiteral("/Door"));
}

void TestLibraryLoad::removeDirStaysInsideCopyFolder()
{
    ruvoDB library;
    const QString nested = ruvoDB::programCopyFolder() + QStringLiteral("/Deep/Disc 1");
    QVERIFY(touch(nested + QStringLiteral("/.hidden")));
    QVERIFY(touch(nested + QStringLiteral("/01.mp3")));
    QVERIFY(!library.removeDir(ruvoDB::programCopyFolder()));
    QVERIFY(!library.removeDir(m_dir.path()));
    QVERIFY(!library.removeDir(shared::dataFolder()));
    QVERIFY(QFile::exists(nested + QStringLiteral("/01.mp3")));
    QVERIFY(library.removeDir(ruvoDB::programCopyFolder() + QStringLiteral("/Deep")));
    QVERIFY(!QFileInfo::exists(ruvoDB::programCopyFolder() + QStringLiteral("/Deep")));
    QVERIFY(!library.removeDir(ruvoDB::programCopyFolder() + QStringLiteral("/Never There")));
}

CORVANE_TEST_MAIN(TestLibraryLoad)
#include "tst_libraryload.moc"
