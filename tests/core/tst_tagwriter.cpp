#include <QtTest>

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
        const QString v24 = kit.folder() + QStringLiteral("/v24.mp3");
        QVERIFY(kit.ffmpeg({"-f", "lavfi", "-i", "sine=duration=3", "-c:a", "libmp3lame", "-id3v2_version", "4",
                            "-write_id3v1", "1", "-metadata", "title=Old Title", "-metadata", "artist=Old Artist", v24}));
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
        QVERIFY(bytesOf(v24).startsWith("ID3\x04"));
    }
    void mp3BecomesOneId3v23Tag()
    {
        const QString path = copyOf("v24", QStringLiteral("v24.mp3"));
        const QByteArray audio = audioMd5(path);
        QVERIFY(!audio.isEmpty());
        track record;
        record.filepath = path;
        record.hasTitle = true;
        record.trackname = QStringLiteral("New Title");
        TagLibBuilder().setMissingTag(record);

        TagLib::MPEG::File file(QFile::encodeName(path).constData());
        QVERIFY(file.hasID3v2Tag() && !file.hasID3v1Tag() && !file.hasAPETag());
        TagLib::ID3v2::Tag *tag = file.ID3v2Tag();
        QCOMPARE(tag->header()->majorVersion(), 3u);
        // What only the removed tags held is kept.
        QCOMPARE(TStringToQString((tag->title() + "|" + tag->artist() + "|" + tag->comment() + "|" + tag->genre())),
                 QStringLiteral("New Title|Old Artist|from ID3v1|Ska"));
        QCOMPARE(audioMd5(path), audio);
    }
    void guardsKeepFileValues_data()
    {
        QTest::addColumn<QString>("guard");
        for (const char *guard : {"title flag clear", "empty title", "artist flag clear", "empty artist", "album flag clear",
                                  "empty album", "album of a playlist", "Unknown Genre", "year 0", "track number 0"})
            QTest::newRow(guard) << QString::fromLatin1(guard);
    }
    // Each guard leaves the file's own value and lets the others through.
    void guardsKeepFileValues()
    {
        QFETCH(QString, guard);
        const QString path = copyOf("mp3", QStringLiteral("guard.mp3"));
        track record = fullRecord(path);
        record.hasTitle = guard != QLatin1String("title flag clear");
        record.hasArtist = guard != QLatin1String("artist flag clear");
        record.hasAlbum = guard != QLatin1String("album flag clear");
        if (guard == QLatin1String("empty title"))
            record.trackname.clear();
        else if (guard == QLatin1String("empty artist"))
            record.artistName.clear();
        else if (guard == QLatin1String("empty album"))
            record.albumName.clear();
        else if (guard == QLatin1String("album of a playlist"))
            record.playlist = QStringLiteral("Road Trip");
        else if (guard == QLatin1String("Unknown Genre"))
            record.genre = QStringLiteral("Unknown Genre");
        else if (guard == QLatin1String("year 0"))
            record.year = 0;
        else if (guard == QLatin1String("track number 0"))
            record.tracknumber = 0;
        TagLibBuilder().setMissingTag(record);

        const TagLib::FileRef file(QFile::encodeName(path).constData());
        const TagLib::Tag *tag = file.tag();
        QVERIFY(tag);
        QCOMPARE(TStringToQString(tag->title()), guard.contains("title") ? oldTags.title : QStringLiteral("New Title"));
        QCOMPARE(TStringToQString(tag->artist()), guard.contains("artist") ? oldTags.artist : QStringLiteral("New Artist"));
        QCOMPARE(TStringToQString(tag->album()), guard.contains("album") ? oldTags.album : QStringLiteral("New Album"));
        QCOMPARE(TStringToQString(tag->genre()), guard.contains("Genre") ? oldTags.genre : QStringLiteral("Jazz"));
        QCOMPARE(tag->year(), guard == QLatin1String("year 0") ? 1999u : 2010u);
        QCOMPARE(tag->track(), guard == QLatin1String("track number 0") ? 2u : 9u);
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
        const QByteArray audio = audioMd5(path);
        TagLibBuilder builder;
        track record = fullRecord(path);
        record.trackname = QStringLiteral("夜に駆ける");
        record.artistName = QStringLiteral("Кино");
        builder.setMissingTag(record);
        TagLib::FileRef file(QFile::encodeName(path).constData());
        QVERIFY(!file.isNull() && file.tag());
        QCOMPARE(TStringToQString((file.tag()->title() + "|" + file.tag()->artist())), record.trackname + "|" + record.artistName);
        QCOMPARE(audioMd5(path), audio);

        // What the file already holds changes nothing; a longer title moves the audio.
        const QByteArray once = bytesOf(path);
        builder.setMissingTag(record);
        QCOMPARE(bytesOf(path), once);
        record.trackname = QStringLiteral("Third Title, a good deal longer than the first to move the audio");
        builder.setMissingTag(record);
        QCOMPARE(TStringToQString(TagLib::FileRef(QFile::encodeName(path).constData()).tag()->title()), record.trackname);
        QCOMPARE(audioMd5(path), audio);
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
        const QByteArray before = bytesOf(path);
        TagLibBuilder().setMissingTag(fullRecord(path));
        QCOMPARE(bytesOf(path), before);
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
        QVERIFY(::stat(name.constData(), &after) == 0);
        QCOMPARE(after.st_mode & 07777, mode_t(02640));
        if (root)
            QVERIFY(after.st_uid == 1234 && after.st_gid == 2345);
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
        const QByteArray audio = audioMd5(path);
        QVERIFY(TagLibBuilder().embedcoverart(path, jpeg));
        QCOMPARE(audioMd5(path), audio);
        {
            TagLib::MPEG::File file(QFile::encodeName(path).constData());
            TagLib::ID3v2::AttachedPictureFrame *frame = TagLibBuilder().attachedPictureFrame(file.ID3v2Tag(), false);
            QVERIFY(frame);
            QCOMPARE(TStringToQString(frame->mimeType()), QStringLiteral("image/jpeg"));
            QCOMPARE(QByteArray(frame->picture().data(), int(frame->picture().size())), bytesOf(jpeg));
            // A tag that has a picture frame keeps it as the only one.
            TagLibBuilder().setCoverArt(file.ID3v2Tag(), QString());
            QCOMPARE(file.ID3v2Tag()->frameList("APIC").size(), 1u);
            TagLib::ID3v2::Tag empty;
            TagLibBuilder().setCoverArt(&empty, QString());
            QCOMPARE(empty.frameList("APIC").size(), 1u);
        }
        const QByteArray before = bytesOf(path);
        QVERIFY(!TagLibBuilder().embedcoverart(path, originals.value("wav")));
        QVERIFY(!TagLibBuilder().embedcoverart(copyOf("flac", QStringLiteral("embed.flac")), jpeg));
        QCOMPARE(bytesOf(path), before);
    }

private:
    QString copyOf(const QString &key, const QString &name);
    static QByteArray bytesOf(const QString &path);
    static QByteArray audioMd5(const QString &path);
    static track fullRecord(const QString &path);

    QTemporaryDir dir;
    QMap<QString, QString> originals;
    const MediaTags oldTags{QStringLiteral("Old Title"), QStringLiteral("Old Artist"), QStringLiteral("Old Album"),
                            QStringLiteral("Blues"), QString(), 1999, 2};
};

QByteArray TestTagWriter::bytesOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray TestTagWriter::audioMd5(const QString &path)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), {"-v", "error", "-nostdin", "-i", path, "-map", "0:a:0", "-f", "md5", "-"});
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitStatus() != QProcess::NormalExit || ffmpeg.exitCode() != 0)
        return QByteArray();
    return ffmpeg.readAllStandardOutput().trimmed();
}

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
