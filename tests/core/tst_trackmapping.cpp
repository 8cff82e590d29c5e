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
#include "platform/externalprogram.h"
#include "scanfixture.h"
#include "testenv.h"

using testkit::MediaKit;
using testkit::MediaTags;
using testkit::touch;

namespace {

const QString noArtwork = QStringLiteral("qrc:///resources/photos/no_artwork.png");

QString artworkFolder() { return shared::dataLocation() + shared().artworkPath; }


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

// One media file becomes a complete track record, staged with its folder;
// a video's duration and thumbnail come from real clips and the real tools,
// and from fake tools (printing canned output) for the fallbacks.
class TestTrackMapping : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_media.isValid() && m_db.connect(QStringLiteral("RuvoData"), true)); m_db.create(); }
    void init() { QVERIFY(testkit::resetScanState()); }
    void cleanup()
    {
        ExternalProgram::setToolPath(ExternalProgram::Ffmpeg, QString());
        ExternalProgram::setToolPath(ExternalProgram::Ffprobe, QString());
    }

    // The first track's picture becomes the album's cover; the second track's own
    // picture doesn't replace it.  Unicode names survive into the staged row.
    void firstCoverWrittenOnceUnicodeStaged()
    {
        MediaKit kit(m_media.filePath(QStringLiteral("Ωμέγα")));
        MediaTags t{"Jóga ✓ 東京", "Björk Guðmundsdóttir", "Песни", "Jazz", {}, 1999, 3};
        const QString first = kit.mp3(QStringLiteral("Песня №1.mp3"), t, kit.picture(QStringLiteral("r.png"), 32, 32));
        t.title = QStringLiteral("Two");
        const QString second =
            kit.mp3(QStringLiteral("2.mp3"), t, kit.picture(QStringLiteral("b.png"), 32, 32, "blue"));
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
        QCOMPARE(rows(QStringLiteral("SELECT trackname || '|' || artistname || '|' || albumname || '|' || filename || "
                                     "'|' || folderLocation AS v FROM getTracksRepo ORDER BY id LIMIT 1")),
                 QStringLiteral("Jóga ✓ 東京|Björk Guðmundsdóttir|Песни|Песня №1.mp3|") +
                     QFileInfo(first).absolutePath());
    }

    void unknownNames_data()
    {
        QTest::addColumn<QString>("name"); // the album and the artist
        QTest::addColumn<bool>("withPicture");
        QTest::addColumn<bool>("unknown");
        QTest::addRow("the tag default, picture ignored") << "Unknown Album" << true << true;
        QTest::addRow("Unknown Pleasures, no picture") << "Unknown Pleasures" << false << true;
        QTest::addRow("unknown inside, no picture") << "The Unknown Soldier" << false << false;
        QTest::addRow("unknown inside, with picture") << "The Unknown Soldier" << true << false;
    }

    // Mapping and staging decide "no value" by the same rule, and the cover
    // is never a path at which no file exists.
    void unknownNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, withPicture);
        QFETCH(bool, unknown);
        MediaKit kit(m_media.filePath(QStringLiteral("unknown")));
        const QString picture = kit.picture(QStringLiteral("p.png"), 16, 16);
        const QString path =
            kit.mp3(QStringLiteral("%1.mp3").arg(QTest::currentDataTag()),
                    {QStringLiteral("Song"), name, name, {}, {}, 0, 0}, withPicture ? picture : QString());
        QVERIFY(!path.isEmpty());
        track record = mapWith(path);
        const bool ownPicture = withPicture && !unknown;
        QCOMPARE(record.cover, ownPicture ? shared().coverpath(name) : noArtwork);
        QVERIFY(record.hasCover == ownPicture && record.isMissingData == !ownPicture);
        QVERIFY(record.hasArtist == !unknown && record.hasAlbum == !unknown);
        QCOMPARE(QFileInfo::exists(shared().coverpath(name)), ownPicture);
        QCOMPARE(rows(QStringLiteral("SELECT cover AS v FROM albumsRepo")), record.cover);
        // A later track of the album with a picture: an unknown album's row never keeps it.
        record.sourcePath = QStringLiteral("/m/2.mp3");
        record.cover = picture;
        QVERIFY(ruvoDB::insertDataTrackRepo(record));
        QCOMPARE(rows(QStringLiteral("SELECT cover AS v FROM albumsRepo")) == noArtwork, unknown);
    }

    // A title that only numbers the track ("Track 01", as rippers and some
    // players write it) is no title: the track is up for completion.
    void numberedTracksHaveNoTitle_data()
    {
        QTest::addColumn<QString>("title"); // the tag's; "" for none
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("hasTitle");
        QTest::addRow("a real title") << "Harbour Lights"
                                      << "01 Song.mp3" << true;
        QTest::addRow("\"Track 01\"") << "Track 01"
                                      << "01 Song.mp3" << false;
        QTest::addRow("\"TRACK 7\", any case") << "TRACK 7"
                                               << "07 Song.mp3" << false;
        QTest::addRow("no tag title, named \"Track 03.mp3\"") << ""
                                                              << "Track 03.mp3" << false;
        QTest::addRow("no tag title, named \"Intro.mp3\"") << ""
                                                           << "Intro.mp3" << true;
    }

    void numberedTracksHaveNoTitle()
    {
        QFETCH(QString, title);
        QFETCH(QString, file);
        QFETCH(bool, hasTitle);
        QTemporaryDir folder;
        MediaKit kit(folder.path());
        const QString path = kit.mp3(file, {title, QStringLiteral("Band"), QStringLiteral("Album"), {}, {}, 0, 0});
        QVERIFY2(!path.isEmpty(), qPrintable(kit.lastError()));
        const track record = mapWith(path);
        QCOMPARE(record.hasTitle, hasTitle);
        if (!hasTitle)
            QVERIFY(record.isMissingData);
    }

    // Without a time from the tags, the video's own probe gives it.
    void videoGetsDurationAndThumbnail()
    {
        const QString clip =
            MediaKit(m_media.filePath(QStringLiteral("video"))).video(QStringLiteral("clip.mp4"), 2, 160, 120);
        QVERIFY(!clip.isEmpty());
        TagObject tags;
        tags.artist = "Artist";
        const track record = mapWith(clip, tags, QString(), true);
        QVERIFY(record.isVideo && qAbs(record.duration - 2) < 0.5 && record.trackname == QLatin1String("clip"));
        QCOMPARE(rows(QStringLiteral("SELECT VideoImage AS v FROM TrackRepo")), record.cover);
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
        scanner.convertBase64ToImage(artworkFolder() + QStringLiteral("/Garbage.png"),
                                     QStringLiteral("bm90IGEgcGljdHVyZQ=="));
        for (const QString &path : refused + QStringList{artworkFolder() + QStringLiteral("/Garbage.png")})
            QVERIFY2(!QFileInfo::exists(QDir::cleanPath(path)), qPrintable(path));
    }

    void longVideoPicturedAt15s_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QString>("codecs");
        const QString h264 = QStringLiteral("-c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac");
        QTest::addRow("mp4, timed by TagLib") << "mp4" << h264;
        QTest::addRow("mkv") << "mkv" << h264;
        QTest::addRow("mov") << "mov" << h264;
        QTest::addRow("avi") << "avi" << "-c:v mpeg4 -c:a libmp3lame";
        QTest::addRow("mpg") << "mpg" << "-c:v mpeg2video -c:a mp2";
        QTest::addRow("mpeg") << "mpeg" << "-c:v mpeg2video -c:a mp2 -f mpeg";
        QTest::addRow("flv") << "flv" << "-c:v flv1 -c:a libmp3lame";
    }

    // A video longer than 15 s is pictured by its frame at 15 s (here blue),
    // not by its opening (red), also when its time came from the tags.
    void longVideoPicturedAt15s()
    {
        QFETCH(QString, suffix);
        QFETCH(QString, codecs);
        MediaKit kit(m_media.filePath(QStringLiteral("long")));
        const QString path = kit.folder() + QStringLiteral("/long.") + suffix;
        QVERIFY2(kit.ffmpeg(QStringList{"-f", "lavfi", "-i", "color=c=red:s=64x48:d=14", "-f", "lavfi", "-i",
                                        "color=c=blue:s=64x48:d=4", "-f", "lavfi", "-i", "sine=d=18",
                                        "-filter_complex", "[0:v][1:v]concat=n=2:v=1:a=0[v]", "-map", "[v]", "-map",
                                        "2:a"} +
                             codecs.split(QLatin1Char(' ')) + QStringList{path}),
                 qPrintable(kit.lastError()));
        const track record = mapWith(path, TagObject(), QString(), true);
        QVERIFY2(record.isVideo && record.duration > 15, qPrintable(QString::number(record.duration)));
        const QImage picture(record.cover, "PNG");
        QVERIFY2(!picture.isNull(), qPrintable(record.cover));
        const QColor colour = picture.pixelColor(picture.width() / 2, picture.height() / 2);
        QVERIFY2(colour.blue() > 150 && colour.red() < 100, qPrintable(colour.name()));
    }

    // Two videos of one name don't share a picture; Matroska keeps no
    // per-stream duration, so ffmpeg's report gives its time.
    void realClips()
    {
        MediaKit kit(m_media.filePath(QStringLiteral("clips")));
        const QString first = kit.video(QStringLiteral("a/same.mp4"), 20, 160, 120);
        const QString second = kit.video(QStringLiteral("b/same.mp4"), 1, 320, 240);
        const QString mkv = kit.video(QStringLiteral("clip.mkv"), 3, 160, 120);
        QVERIFY2(!first.isEmpty() && !second.isEmpty() && !mkv.isEmpty(), qPrintable(kit.lastError()));
        const QString folder = shared::dataLocation() + shared().videoArtworkPath;
        const track one = VideoMetadata().getVideoMetadata(first, 1);
        const QString two = VideoMetadata().getVideoMetadata(second, 1).cover;
        QCOMPARE(one.duration, 20.0);
        QCOMPARE(one.cover, VideoMetadata::thumbnailPathFor(first, folder));
        QVERIFY(QFileInfo(one.cover).fileName().startsWith(QLatin1String("same-")) && one.cover != two);
        QCOMPARE(QImage(one.cover, "PNG").size(), QSize(160, 120));
        QCOMPARE(QImage(two, "PNG").size(), QSize(320, 240));
        // No temporary file stays behind.
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 2);
        const double duration = VideoMetadata().getVideoMetadata(mkv, 1).duration;
        QVERIFY2(qAbs(duration - 3.0) < 0.2, qPrintable(QString::number(duration)));
    }

    // Fake tools print canned output: the video stream's time even when
    // ffprobe lists the audio first; without ffprobe and ffmpeg no time, and
    // no thumbnail left behind.
    void fallbacks()
    {
        ExternalProgram::setToolPath(
            ExternalProgram::Ffprobe,
            MediaKit::fakeTool(m_media.path(), QStringLiteral("ffprobe"),
                               QStringLiteral("printf '[STREAM]\\ncodec_type=audio\\nduration=3.0\\n[/STREAM]\\n"
                                              "[STREAM]\\ncodec_type=video\\nduration=12.5\\n[/STREAM]\\n'")));
        QCOMPARE(VideoMetadata().getDuration(QStringLiteral("/nowhere/movie.avi")), 12.5);
        ExternalProgram::setToolPath(ExternalProgram::Ffprobe, m_media.filePath(QStringLiteral("no-such-ffprobe")));
        ExternalProgram::setToolPath(ExternalProgram::Ffmpeg, m_media.filePath(QStringLiteral("no-such-ffmpeg")));
        QCOMPARE(VideoMetadata().getDuration(QStringLiteral("/nowhere/movie.avi")), 0.0);
        // ffmpeg writing half a picture and then failing: nothing may stay, or
        // the half picture would be reused by every later scan.
        ExternalProgram::setToolPath(
            ExternalProgram::Ffmpeg,
            MediaKit::fakeTool(
                m_media.path(), QStringLiteral("ffmpeg-half"),
                QStringLiteral("for a in \"$@\"; do last=\"$a\"; done; printf half > \"$last\"; exit 1")));
        const QString folder = m_media.filePath(QStringLiteral("half"));
        const QString thumbnail = folder + QStringLiteral("/broken.png");
        QCOMPARE(VideoMetadata().getCoverArt(QStringLiteral("/v/broken.avi"), thumbnail, folder), thumbnail);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 0);
    }

private:
    QTemporaryDir m_media;
    Database m_db;
};

CORVANE_TEST_MAIN(TestTrackMapping)
#include "tst_trackmapping.moc"
