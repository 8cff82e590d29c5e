#include <QtTest>

#include <QImage>
#include <QImageReader>

#include "core/shared.h"
#include "core/tagobject.h"
#include "core/track_data.h"
#include "core/videometadata.h"
#include "database/database.h"
#include "database/ruvodb.h"
#include "libraryfixture.h"
#include "mediakit.h"
#include "scanfixture.h"
#include "testenv.h"

using testkit::MediaKit;
using testkit::MediaTags;
using testkit::touch;

namespace {

const QString noArtwork = QStringLiteral("qrc:///resources/photos/no_artwork.png");

QString artworkFolder() { return shared::dataLocation() + shared().artworkPath; }

TagObject makeTags(const QString &title, const QString &album = QStringLiteral("Album"), int bitrate = 192)
{
    TagObject tags;
    tags.title = QStringToTString(title);
    tags.artist = "Artist";
    tags.album = QStringToTString(album);
    std::tie(tags.bitrate, tags.length) = std::make_pair(bitrate, 3);
    return tags;
}

// Maps `path` as the folder scan does; with no tags given, reads the file's.
track mapWith(const QString &path, TagObject tags = TagObject(), const QString &playlist = QString(),
              bool isVideo = false)
{
    if (tags.title.isEmpty() && tags.album.isEmpty())
        track_data::ParseTags(tags, path);
    track record;
    record.filepath = record.sourcePath = path;
    QFileInfo file(path);
    track_data().MapToTrack(track_data::track_Id, record, tags, file, !playlist.isNull(), playlist, isVideo, !isVideo);
    return record;
}

// The values of a one-column query, joined by '|'.
QString rows(const QString &sql)
{
    return testkit::scalar(QStringLiteral("SELECT group_concat(v, '|') FROM (%1)").arg(sql)).toString();
}

} // namespace

// One media file becomes a complete track record, staged with its folder.
class TestTrackMapping : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_media.isValid() && m_db.connect(QStringLiteral("RuvoData"), true)); m_db.create(); }
    void init() { QVERIFY(testkit::resetScanState()); }

    void titlesAndQuality_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("titleTag");
        QTest::addColumn<int>("bitrate");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("hasTitle");
        QTest::addColumn<int>("quality");
        QTest::addRow("file name without its suffix, 128 kbit/s poor") << "Song.mp3" << "" << 128 << "Song" << true << 0;
        QTest::addRow("every lower-case suffix goes, 129 kbit/s") << "a.mp3.mp3" << "" << 129 << "a" << true << 1;
        QTest::addRow("file name Track 01, 256 kbit/s") << "Track 01.mp3" << "" << 256 << "Track 01" << false << 2;
        QTest::addRow("title tag kept, trimmed") << "x.mp3" << "  Hello " << 192 << "Hello" << true << 1;
    }

    void titlesAndQuality()
    {
        QFETCH(QString, fileName);
        QFETCH(QString, titleTag);
        QFETCH(bool, hasTitle);
        QFETCH(int, bitrate);
        // The album has its picture already, so only the title decides.
        QVERIFY(touch(shared().coverpath(QStringLiteral("Album"))));
        const QString path = m_media.filePath(QStringLiteral("titles/") + fileName);
        QVERIFY(touch(path));
        const track record = mapWith(path, makeTags(titleTag, QStringLiteral("Album"), bitrate));
        QTEST(record.trackname, "title");
        QVERIFY(record.hasTitle == hasTitle && record.isMissingData == !hasTitle);
        QTEST(record.quality, "quality");
    }

    // The first track's picture becomes the album's cover; the second track's own
    // picture doesn't replace it.  Unicode names survive into the staged row.
    void firstCoverWrittenOnceUnicodeStaged()
    {
        MediaKit kit(m_media.filePath(QStringLiteral("Ωμέγα")));
        MediaTags t{QStringLiteral("Jóga ✓ 東京"), QStringLiteral("Björk Guðmundsdóttir"), QStringLiteral("Песни"),
                    QStringLiteral("Jazz"), {}, 1999, 3};
        const QString first = kit.mp3(QStringLiteral("Песня №1.mp3"), t, kit.picture(QStringLiteral("r.png"), 32, 32));
        t.title = QStringLiteral("Two");
        const QString second = kit.mp3(QStringLiteral("2.mp3"), t, kit.picture(QStringLiteral("b.png"), 32, 32, "blue"));
        QVERIFY2(!first.isEmpty() && !second.isEmpty(), qPrintable(kit.lastError()));

        const track one = mapWith(first);
        const QString coverFile = shared().coverpath(QStringLiteral("Песни"));
        QCOMPARE(one.album_id, 2); // the first album of a run
        QCOMPARE(one.cover, coverFile);
        QVERIFY(one.hasCover && one.hasTitle && one.hasArtist && one.hasAlbum && !one.isMissingData);
        const QByteArray written = testkit::fileBytes(coverFile);
        QVERIFY(QImage::fromData(written).pixelColor(5, 5).red() > 200);
        const track two = mapWith(second);
        QVERIFY(two.cover == coverFile && two.album_id == one.album_id);
        QCOMPARE(testkit::fileBytes(coverFile), written);
        QCOMPARE(QDir(artworkFolder()).entryList(QDir::Files).size(), 1);
        QCOMPARE(track_data::track_obj_map.value(1).filepath, first);
        QCOMPARE(rows(QStringLiteral("SELECT trackname || '|' || artistname || '|' || albumname || '|' || filename || "
                                     "'|' || folderLocation AS v FROM getTracksRepo ORDER BY id LIMIT 1")),
                 QStringLiteral("Jóga ✓ 東京|Björk Guðmundsdóttir|Песни|Песня №1.mp3|") + QFileInfo(first).absolutePath());
    }

    void albumPictureOrPlaceholder_data()
    {
        QTest::addColumn<QString>("album");
        QTest::addColumn<bool>("withPicture");
        QTest::addColumn<bool>("ownPicture");
        QTest::addRow("the tag default, picture ignored") << "Unknown Album" << true << false;
        QTest::addRow("the tag default, no picture") << "Unknown Album" << false << false;
        QTest::addRow("unknown inside, no picture") << "The Unknown Soldier" << false << false;
        QTest::addRow("unknown inside, with picture") << "The Unknown Soldier" << true << true;
    }

    // Never a path at which no file exists.
    void albumPictureOrPlaceholder()
    {
        QFETCH(QString, album);
        QFETCH(bool, withPicture);
        QFETCH(bool, ownPicture);
        MediaKit kit(m_media.filePath(QStringLiteral("placeholder")));
        const QString picture = withPicture ? kit.picture(QStringLiteral("p.png"), 16, 16) : QString();
        const QString path = kit.mp3(QStringLiteral("%1.mp3").arg(QTest::currentDataTag()),
                                     {QStringLiteral("Song"), QStringLiteral("Artist"), album, {}, {}, 0, 0}, picture);
        QVERIFY(!path.isEmpty());
        const track record = mapWith(path);
        QCOMPARE(record.cover, ownPicture ? shared().coverpath(album) : noArtwork);
        QVERIFY(record.hasCover == ownPicture && record.isMissingData == !ownPicture);
        QCOMPARE(QFileInfo::exists(shared().coverpath(album)), ownPicture);
        QCOMPARE(rows(QStringLiteral("SELECT cover AS v FROM albumsRepo")), record.cover);
    }

    void unknownNamesAreJudgedAlike_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("unknown");
        QTest::addRow("Unknown Album") << "Unknown Album" << true;
        QTest::addRow("Unknown Pleasures") << "Unknown Pleasures" << true;
        QTest::addRow("The Unknown Soldier") << "The Unknown Soldier" << false;
        QTest::addRow("lower case") << "unknown album" << false;
    }

    // Mapping, folder pictures and staging decide "no value" by the same rule.
    void unknownNamesAreJudgedAlike()
    {
        QFETCH(QString, name);
        QFETCH(bool, unknown);
        QCOMPARE(shared::isUnknownName(name), unknown);
        track mapped;
        TagObject tags = makeTags(QStringLiteral("T"), name);
        tags.artist = tags.album;
        track_data().SetValues(mapped, tags);
        QVERIFY(mapped.hasArtist == !unknown && mapped.hasAlbum == !unknown);

        QTemporaryDir folder;
        QVERIFY(touch(folder.filePath(QStringLiteral("folder.jpg"))) && QDir().mkpath(artworkFolder()));
        shared sha;
        sha.updateMixedAlbumsFolder(folder.path(), 2);
        track record = testkit::makeTrack(QStringLiteral("/m/1.mp3"), name, QStringLiteral("A"));
        record.id = 1;
        record.folderLocation = folder.path();
        record.cover = noArtwork;
        QCOMPARE(sha.updateFolderCoverArt(TrackMap{{1, record}}, 1).value(1).hasCover, !unknown);
        // Staging: an unknown album's row never keeps a real picture.
        QVERIFY(ruvoDB::insertDataTrackRepo(record));
        record.sourcePath = QStringLiteral("/m/2.mp3");
        record.cover = folder.filePath(QStringLiteral("folder.jpg"));
        QVERIFY(ruvoDB::insertDataTrackRepo(record));
        QCOMPARE(rows(QStringLiteral("SELECT cover AS v FROM albumsRepo")).section('|', 0, 0) == noArtwork, unknown);
    }

    void playlistEntry()
    {
        MediaKit kit(m_media.filePath(QStringLiteral("playlist")));
        const QString song = kit.mp3(QStringLiteral("song.mp3"), {"Song", {}, QStringLiteral("Real Album"), {}, {}, 0, 0},
                                     kit.picture(QStringLiteral("c.png"), 8, 8));
        QVERIFY(!song.isEmpty());
        const QString playlist = QStringLiteral("  Road Trip ");
        const track entry = mapWith(song, TagObject(), playlist);
        QCOMPARE(entry.albumName, QStringLiteral("Road Trip"));
        QCOMPARE(entry.cover, QStringLiteral("qrc:///resources/photos/playlist.png"));
        QCOMPARE(entry.playlist_id, entry.album_id);
        QVERIFY(!QFileInfo::exists(shared().coverpath(QStringLiteral("Real Album"))));
        // The same file outside the playlist is a second staged row.
        const track plain = mapWith(song);
        QVERIFY(plain.albumName == QLatin1String("Real Album") && plain.album_id != entry.album_id);
        QCOMPARE(rows(QStringLiteral("SELECT Playlist AS v FROM TrackRepo ORDER BY Playlist")), '|' + playlist);
    }

    void videoGetsDurationAndThumbnail()
    {
        const QString clip = MediaKit(m_media.filePath(QStringLiteral("video"))).video(QStringLiteral("clip.mp4"), 2, 160, 120);
        QVERIFY(!clip.isEmpty());
        TagObject tags = makeTags(QString());
        tags.length = 0;
        const track record = mapWith(clip, tags, QString(), true);
        QVERIFY(record.isVideo && qAbs(record.duration - 2) < 0.5 && record.trackname == QLatin1String("clip"));
        QCOMPARE(record.cover, VideoMetadata::thumbnailPathFor(clip, shared::dataLocation() + shared().videoArtworkPath));
        QCOMPARE(rows(QStringLiteral("SELECT VideoImage AS v FROM TrackRepo")), record.cover);
    }

    void idsAcrossScansAndThreads()
    {
        const QString path = m_media.filePath(QStringLiteral("ids.mp3")), other = m_media.filePath("worker.mp3");
        QVERIFY(touch(path) && touch(other));
        QCOMPARE(mapWith(path, makeTags("1", "A")).album_id, 2);
        QCOMPARE(mapWith(path, makeTags("2", "B")).album_id, 3);
        // A later scan starts with an empty result map but keeps the names' ids,
        // and stages through its own thread's connection.
        track_data::track_obj_map.clear();
        track later;
        QThread *worker = QThread::create([&] { later = mapWith(other, makeTags("3", "A")); });
        worker->start();
        QVERIFY(worker->wait(30000));
        delete worker;
        QVERIFY(later.album_id == 2 && later.id == 3);
        QCOMPARE(track_data::track_obj_map.keys(), QList<int>{3});
        QCOMPARE(rows(QStringLiteral("SELECT count(*) AS v FROM TrackRepo WHERE trackname = '3'")), QStringLiteral("1"));
    }

    void base64()
    {
        track_data scanner;
        const QString source = MediaKit(m_media.path()).picture(QStringLiteral("source.png"), 12, 6);
        const QString text = scanner.convertImageToBase64(source);
        QCOMPARE(QByteArray::fromBase64(text.toLatin1()), testkit::fileBytes(source));
        const QString target = artworkFolder() + QStringLiteral("/New/Album.JPG");
        scanner.convertBase64ToImage(target, text);
        QImageReader reader(target);
        QVERIFY(reader.format() == "jpeg" && reader.size() == QSize(12, 6));
        QCOMPARE(QFileInfo(target).dir().entryList(QDir::Files | QDir::Hidden).size(), 1);
        // Only inside the data folder, judged on the cleaned path; never garbage.
        const QStringList refused = {shared::dataFolder() + QStringLiteral("/Artwork/../../escaped.png"),
                                     shared::dataLocation() + QStringLiteral("/Corvane-Media-Organiser-evil/x.png")};
        for (const QString &path : refused)
            scanner.convertBase64ToImage(path, text);
        scanner.convertBase64ToImage(artworkFolder() + QStringLiteral("/Garbage.png"), QStringLiteral("bm90IGEgcGljdHVyZQ=="));
        for (const QString &path : refused + QStringList{artworkFolder() + QStringLiteral("/Garbage.png")})
            QVERIFY2(!QFileInfo::exists(QDir::cleanPath(path)), qPrintable(path));
    }

private:
    QTemporaryDir m_media;
    Database m_db;
};

CORVANE_TEST_MAIN(TestTrackMapping)
#include "tst_trackmapping.moc"
