#include <QtTest>

#include <functional>

#include <taglib/apetag.h>
#include <taglib/fileref.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tag.h>

#include <sys/stat.h>
#include <unistd.h>

#include "core/taglibbuilder.h"
#include "mediakit.h"
#include "scanfixture.h"
#include "testenv.h"

using testkit::MediaKit;
using testkit::MediaTags;

// The tag writer rewrites the user's library copies in place, so it is
// tested the way careful tag libraries test writers: always on copies, saving
// twice, and checking that the decoded audio is the same after every save.
class TestTagWriter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        MediaKit kit(dir.filePath(QStringLiteral("originals")));
        originals["mp3"] = kit.mp3(QStringLiteral("t.mp3"), oldTags);
        originals["wma"] = kit.wma(QStringLiteral("t.wma"), oldTags);
        originals["m4a"] = kit.m4a(QStringLiteral("t.m4a"), oldTags);
        originals["flac"] = kit.flac(QStringLiteral("t.flac"), oldTags);
        originals["wav"] = kit.wav(QStringLiteral("t.wav"), oldTags);
        originals["untagged"] = kit.untaggedMp3(QStringLiteral("untagged.mp3"));
        originals["ogg"] = kit.audio(QStringLiteral("t.ogg"), {"-c:a", "libvorbis"}, oldTags);

        // ID3v2.4 plus ID3v1, and an APE tag holding what the others lack.
        const QString v24 = kit.audio(QStringLiteral("v24.mp3"), {"-c:a", "libmp3lame", "-id3v2_version", "4", "-write_id3v1", "1"},
                                      {oldTags.title, oldTags.artist, {}, {}, {}, 0, 0});
        {
            TagLib::MPEG::File file(QFile::encodeName(v24).constData());
            QVERIFY(file.hasID3v2Tag() && file.hasID3v1Tag());
            file.ID3v1Tag()->setComment("from ID3v1");
            file.APETag(true)->setGenre("Ska");
            QVERIFY(file.save(TagLib::MPEG::File::ID3v1 | TagLib::MPEG::File::APE, TagLib::File::StripNone));
        }
        originals["v24"] = v24;
        for (auto it = originals.cbegin(); it != originals.cend(); ++it)
            QVERIFY2(!it.value().isEmpty(), qPrintable(it.key() + ": " + kit.lastError()));
        QVERIFY(testkit::fileBytes(v24).startsWith("ID3\x04"));
    }

    void mp3BecomesOneId3v23Tag()
    {
        const QString path = copyOf("v24", QStringLiteral("v24.mp3"));
        const QByteArray audio = testkit::audioMd5(path);
        QVERIFY(!audio.isEmpty());
        track record = fullRecord(path);
        record.hasArtist = record.hasAlbum = false;
        record.genre = QStringLiteral("Unknown Genre");
        record.year = record.tracknumber = 0;
        TagLibBuilder().setMissingTag(record);

        TagLib::MPEG::File file(QFile::encodeName(path).constData());
        QVERIFY(file.hasID3v2Tag() && !file.hasID3v1Tag() && !file.hasAPETag());
        TagLib::ID3v2::Tag *tag = file.ID3v2Tag();
        QCOMPARE(tag->header()->majorVersion(), 3u);
        // What only the removed tags held is kept.
        QCOMPARE(TStringToQString((tag->title() + "|" + tag->artist() + "|" + tag->comment() + "|" + tag->genre())),
                 QStringLiteral("New Title|Old Artist|from ID3v1|Ska"));
        QCOMPARE(testkit::audioMd5(path), audio);
    }

    void guardsKeepFileValues_data()
    {
        QTest::addColumn<int>("kept"); // the field whose file value stays: title, artist, album, genre, year, track
        QTest::addColumn<std::function<void(track &)>>("change");
        using Change = std::function<void(track &)>;
        QTest::newRow("title flag clear") << 0 << Change([](track &r) { r.hasTitle = false; });
        QTest::newRow("empty title") << 0 << Change([](track &r) { r.trackname.clear(); });
        QTest::newRow("artist flag clear") << 1 << Change([](track &r) { r.hasArtist = false; });
        QTest::newRow("empty artist") << 1 << Change([](track &r) { r.artistName.clear(); });
        QTest::newRow("album flag clear") << 2 << Change([](track &r) { r.hasAlbum = false; });
        QTest::newRow("empty album") << 2 << Change([](track &r) { r.albumName.clear(); });
        QTest::newRow("album of a playlist") << 2 << Change([](track &r) { r.playlist = QStringLiteral("Road Trip"); });
        QTest::newRow("Unknown Genre") << 3 << Change([](track &r) { r.genre = QStringLiteral("Unknown Genre"); });
        QTest::newRow("year 0") << 4 << Change([](track &r) { r.year = 0; });
        QTest::newRow("track number 0") << 5 << Change([](track &r) { r.tracknumber = 0; });
    }

    // Each guard leaves the file's own value and lets the others through.
    void guardsKeepFileValues()
    {
        QFETCH(int, kept);
        QFETCH(std::function<void(track &)>, change);
        const QString path = copyOf("mp3", QStringLiteral("guard.mp3"));
        track record = fullRecord(path);
        change(record);
        TagLibBuilder().setMissingTag(record);
        const TagLib::FileRef file(QFile::encodeName(path).constData());
        const TagLib::Tag *tag = file.tag();
        QVERIFY(tag);
        const QStringList got = {TStringToQString(tag->title()), TStringToQString(tag->artist()),
                                 TStringToQString(tag->album()), TStringToQString(tag->genre()),
                                 QString::number(tag->year()), QString::number(tag->track())};
        QStringList want = {"New Title", "New Artist", "New Album", "Jazz", "2010", "9"};
        want[kept] = QStringList{"Old Title", "Old Artist", "Old Album", "Blues", "1999", "2"}.at(kept);
        QCOMPARE(got, want);
    }

    void unicodeWrittenTwice_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char *kind : {"mp3", "wma", "m4a"})
            QTest::newRow(kind) << QString::fromLatin1(kind);
    }

    void unicodeWrittenTwice()
    {
        QFETCH(QString, kind);
        const QString path = copyOf(kind, QStringLiteral("%1/unicode.%1").arg(kind));
        const QByteArray audio = testkit::audioMd5(path);
        TagLibBuilder builder;
        track record = fullRecord(path);
        record.trackname = QStringLiteral("夜に駆ける");
        record.artistName = QStringLiteral("Кино");
        builder.setMissingTag(record);
        TagLib::FileRef file(QFile::encodeName(path).constData());
        QVERIFY(!file.isNull() && file.tag());
        QCOMPARE(TStringToQString((file.tag()->title() + "|" + file.tag()->artist())), record.trackname + "|" + record.artistName);
        QCOMPARE(testkit::audioMd5(path), audio);

        // What the file already holds changes nothing; a longer title moves the audio.
        const QByteArray once = testkit::fileBytes(path);
        builder.setMissingTag(record);
        QCOMPARE(testkit::fileBytes(path), once);
        record.trackname = QStringLiteral("Third Title, a good deal longer than the first to move the audio");
        builder.setMissingTag(record);
        QCOMPARE(TStringToQString(TagLib::FileRef(QFile::encodeName(path).constData()).tag()->title()), record.trackname);
        QCOMPARE(testkit::audioMd5(path), audio);
        // No working copy stays behind.
        QCOMPARE(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    void untouchedFiles_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char *kind : {"flac", "wav", "ogg", "untagged"})
            QTest::newRow(kind) << QString::fromLatin1(kind); // untagged: an mp3 without an ID3v2 tag
    }

    void untouchedFiles()
    {
        QFETCH(QString, kind);
        const QString path = copyOf(kind, QFileInfo(originals.value(kind)).fileName());
        QVERIFY(!path.isEmpty());
        const QByteArray before = testkit::fileBytes(path);
        TagLibBuilder().setMissingTag(fullRecord(path));
        QCOMPARE(testkit::fileBytes(path), before);
    }

    // Written through a symbolic link, the file it points at is rewritten and
    // keeps its mode bits (and, as root, owner and group); the link stays a
    // link, and the caller hears whether it worked.
    void keepsModeAndOwnerAndReports()
    {
        const QString path = copyOf("mp3", QStringLiteral("owned.mp3")), link = dir.filePath(QStringLiteral("link.mp3"));
        const QByteArray name = QFile::encodeName(path);
        const bool root = ::geteuid() == 0;
        QVERIFY(!root || ::chown(name.constData(), 1234, 2345) == 0);
        QVERIFY(::chmod(name.constData(), 02640) == 0 && QFile::link(path, link));
        QVERIFY(TagLibBuilder().setMissingTag(fullRecord(link)));
        QCOMPARE(QFileInfo(link).symLinkTarget(), path);
        struct stat after;
        QVERIFY(::stat(name.constData(), &after) == 0 && (after.st_mode & 07777) == 02640);
        QVERIFY(!root || (after.st_uid == 1234 && after.st_gid == 2345));
        QCOMPARE(TStringToQString(TagLib::FileRef(name.constData()).tag()->title()), QStringLiteral("New Title"));
        QVERIFY(!TagLibBuilder().setMissingTag(fullRecord(dir.filePath(QStringLiteral("gone.mp3")))));
    }

    // The embedded picture is the file's bytes under their real MIME type; the
    // audio is untouched, and what is no picture or no MP3 is refused.
    void embedsAPictureUnderItsOwnType()
    {
        MediaKit kit(dir.filePath(QStringLiteral("embed")));
        const QString jpeg = kit.picture(QStringLiteral("cover.jpg"), 64, 64);
        const QString path = copyOf("mp3", QStringLiteral("embed.mp3"));
        const QByteArray audio = testkit::audioMd5(path);
        // Embedding again replaces the picture rather than adding a frame.
        for (int i = 0; i < 2; ++i)
            QVERIFY(TagLibBuilder().embedcoverart(path, jpeg));
        QCOMPARE(testkit::audioMd5(path), audio);
        {
            TagLib::MPEG::File file(QFile::encodeName(path).constData());
            TagLib::ID3v2::AttachedPictureFrame *frame = TagLibBuilder().attachedPictureFrame(file.ID3v2Tag(), false);
            QVERIFY(frame && frame->mimeType() == "image/jpeg");
            QCOMPARE(QByteArray(frame->picture().data(), int(frame->picture().size())), testkit::fileBytes(jpeg));
            // A tag that has a picture frame keeps it as the only one.
            TagLib::ID3v2::Tag empty;
            TagLibBuilder().setCoverArt(file.ID3v2Tag(), QString());
            TagLibBuilder().setCoverArt(&empty, QString());
            QVERIFY(file.ID3v2Tag()->frameList("APIC").size() == 1 && empty.frameList("APIC").size() == 1);
        }
        const QByteArray before = testkit::fileBytes(path);
        QVERIFY(!TagLibBuilder().embedcoverart(path, originals.value("wav")));
        QVERIFY(!TagLibBuilder().embedcoverart(copyOf("flac", QStringLiteral("embed.flac")), jpeg));
        QCOMPARE(testkit::fileBytes(path), before);
    }

private:
    QString copyOf(const QString &key, const QString &name);
    static track fullRecord(const QString &path);

    QTemporaryDir dir;
    QMap<QString, QString> originals;
    const MediaTags oldTags{QStringLiteral("Old Title"), QStringLiteral("Old Artist"), QStringLiteral("Old Album"),
                            QStringLiteral("Blues"), QString(), 1999, 2};
};

QString TestTagWriter::copyOf(const QString &key, const QString &name)
{
    const QString path = dir.filePath(QStringLiteral("work/") + name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile::remove(path);
    return QFile::copy(originals.value(key), path) ? path : QString();
}

track TestTagWriter::fullRecord(const QString &path)
{
    track record;
    record.filepath = path;
    record.hasTitle = record.hasArtist = record.hasAlbum = true;
    record.trackname = QStringLiteral("New Title");
    record.artistName = QStringLiteral("New Artist");
    record.albumName = QStringLiteral("New Album");
    record.genre = QStringLiteral("Jazz");
    record.year = 2010;
    record.tracknumber = 9;
    return record;
}

CORVANE_TEST_MAIN(TestTagWriter)
#include "tst_tagwriter.moc"
