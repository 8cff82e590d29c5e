#include <QtTest>

#include <taglib/apetag.h>
#include <taglib/fileref.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tag.h>

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
    void initTestCase();
    void mp3BecomesOneId3v23Tag();
    void guardsKeepFileValues_data();
    void guardsKeepFileValues();
    void writtenAndReadBack_data();
    void writtenAndReadBack();
    void savingTwice_data();
    void savingTwice();
    void untouchedFiles_data();
    void untouchedFiles();
    void symbolicLinkWritesTarget();

private:
    QString copyOf(const QString &key, const QString &name);
    static QByteArray bytesOf(const QString &path);
    static QByteArray audioMd5(const QString &path);
    static track fullRecord(const QString &path);
    static QString title(const QString &path);

    QTemporaryDir dir;
    QMap<QString, QString> originals;
    const MediaTags oldTags{QStringLiteral("Old Title"), QStringLiteral("Old Artist"), QStringLiteral("Old Album"),
                            QStringLiteral("Blues"),     QString(),                    1999,
                            2};
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

QString TestTagWriter::title(const QString &path)
{
    TagLib::FileRef file(QFile::encodeName(path).constData());
    return file.isNull() || !file.tag() ? QString() : TStringToQString(file.tag()->title());
}

void TestTagWriter::initTestCase()
{
    QVERIFY(dir.isValid());
    MediaKit kit(dir.filePath(QStringLiteral("originals")));
    originals["mp3"] = kit.mp3(QStringLiteral("t.mp3"), oldTags);
    originals["wma"] = kit.wma(QStringLiteral("t.wma"), oldTags);
    originals["m4a"] = kit.m4a(QStringLiteral("t.m4a"), oldTags);
    originals["flac"] = kit.flac(QStringLiteral("t.flac"), oldTags);
    originals["wav"] = kit.wav(QStringLiteral("t.wav"), oldTags);
    originals["untagged"] = kit.untaggedMp3(QStringLiteral("untagged.mp3"));
    const QString ogg = kit.folder() + QStringLiteral("/t.ogg");
    QVERIFY(kit.ffmpeg({"-f", "lavfi", "-i", "sine=duration=3", "-c:a", "libvorbis", "-metadata", "title=Old Title", ogg}));
    originals["ogg"] = ogg;
    const QString aiff = kit.folder() + QStringLiteral("/t.aiff");
    QVERIFY(kit.ffmpeg({"-f", "lavfi", "-i", "sine=duration=3", "-c:a", "pcm_s16be", "-metadata", "title=Old Title",
                        aiff}));
    originals["aiff"] = aiff;

    // ID3v2.4 plus ID3v1, and an APE tag holding what the others lack.
    const QString v24 = kit.folder() + QStringLiteral("/v24.mp3");
    QVERIFY(kit.ffmpeg({"-f", "lavfi", "-i", "sine=duration=3", "-c:a", "libmp3lame", "-b:a", "128k",
                        "-id3v2_version", "4", "-write_id3v1", "1", "-metadata", "title=Old Title", "-metadata",
                        "artist=Old Artist", "-metadata", "album=Old Album", v24}));
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

void TestTagWriter::mp3BecomesOneId3v23Tag()
{
    const QString path = copyOf("v24", QStringLiteral("v24.mp3"));
    const QByteArray audio = audioMd5(path);
    QVERIFY(!audio.isEmpty());

    track record;
    record.filepath = path;
    record.hasTitle = true;
    record.trackname = QStringLiteral("New Title");
    record.year = 2010;
    TagLibBuilder().setMissingTag(record);

    QVERIFY(bytesOf(path).startsWith("ID3\x03"));
    TagLib::MPEG::File file(QFile::encodeName(path).constData());
    QVERIFY(file.hasID3v2Tag());
    QVERIFY(!file.hasID3v1Tag());
    QVERIFY(!file.hasAPETag());
    TagLib::ID3v2::Tag *tag = file.ID3v2Tag();
    QCOMPARE(tag->header()->majorVersion(), 3u);
    QCOMPARE(TStringToQString(tag->title()), QStringLiteral("New Title"));
    QCOMPARE(TStringToQString(tag->artist()), QStringLiteral("Old Artist"));
    QCOMPARE(TStringToQString(tag->album()), QStringLiteral("Old Album"));
    QCOMPARE(tag->year(), 2010u);
    // What only the removed tags held is kept.
    QCOMPARE(TStringToQString(tag->comment()), QStringLiteral("from ID3v1"));
    QCOMPARE(TStringToQString(tag->genre()), QStringLiteral("Ska"));
    QCOMPARE(audioMd5(path), audio);
}

void TestTagWriter::guardsKeepFileValues_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("guard");
    const QStringList guards{"title flag clear", "empty title",   "artist flag clear", "empty artist",
                             "album flag clear", "empty album",   "album of a playlist", "Unknown Genre",
                             "empty genre",      "year 0",        "track number 0"};
    for (const QString &kind : {QStringLiteral("mp3"), QStringLiteral("wma"), QStringLiteral("m4a")}) {
        for (const QString &guard : guards)
            QTest::addRow("%s: %s", qPrintable(kind), qPrintable(guard)) << kind << guard;
    }
}

void TestTagWriter::guardsKeepFileValues()
{
    QFETCH(QString, kind);
    QFETCH(QString, guard);
    const QString path = copyOf(kind, QStringLiteral("guard.") + kind);
    track record = fullRecord(path);
    if (guard == QLatin1String("title flag clear"))
        record.hasTitle = false;
    else if (guard == QLatin1String("empty title"))
        record.trackname.clear();
    else if (guard == QLatin1String("artist flag clear"))
        record.hasArtist = false;
    else if (guard == QLatin1String("empty artist"))
        record.artistName.clear();
    else if (guard == QLatin1String("album flag clear"))
        record.hasAlbum = false;
    else if (guard == QLatin1String("empty album"))
        record.albumName.clear();
    else if (guard == QLatin1String("album of a playlist"))
        record.playlist = QStringLiteral("Road Trip");
    else if (guard == QLatin1String("Unknown Genre"))
        record.genre = QStringLiteral("Unknown Genre");
    else if (guard == QLatin1String("empty genre"))
        record.genre.clear();
    else if (guard == QLatin1String("year 0"))
        record.year = 0;
    else if (guard == QLatin1String("track number 0"))
        record.tracknumber = 0;
    TagLibBuilder().setMissingTag(record);

    TagLib::FileRef file(QFile::encodeName(path).constData());
    QVERIFY(!file.isNull() && file.tag());
    const TagLib::Tag *tag = file.tag();
    const bool guardsTitle = guard.contains(QLatin1String("title"));
    const bool guardsArtist = guard.contains(QLatin1String("artist"));
    const bool guardsAlbum = guard.contains(QLatin1String("album"));
    const bool guardsGenre = guard.contains(QLatin1String("enre"));
    QCOMPARE(TStringToQString(tag->title()), guardsTitle ? oldTags.title : record.trackname);
    QCOMPARE(TStringToQString(tag->artist()), guardsArtist ? oldTags.artist : record.artistName);
    QCOMPARE(TStringToQString(tag->album()), guardsAlbum ? oldTags.album : QStringLiteral("New Album"));
    QCOMPARE(TStringToQString(tag->genre()), guardsGenre ? oldTags.genre : QStringLiteral("Jazz"));
    // ffmpeg's ASF muxer writes no year: there the file's own is 0.
    const unsigned int oldYear = kind == QLatin1String("wma") ? 0u : unsigned(oldTags.year);
    QCOMPARE(tag->year(), guard == QLatin1String("year 0") ? oldYear : 2010u);
    QCOMPARE(tag->track(), guard == QLatin1String("track number 0") ? unsigned(oldTags.track) : 9u);
}

void TestTagWriter::writtenAndReadBack_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("artist");
    QTest::addColumn<QString>("album");
    QTest::addRow("mp3 Latin") << "mp3" << "Café del Mar" << "Señor" << "Ünïcode";
    QTest::addRow("mp3 Cyrillic and Japanese") << "mp3" << "夜に駆ける" << "Кино" << "Группа крови";
    QTest::addRow("wma Cyrillic and Japanese") << "wma" << "夜に駆ける" << "Кино" << "Группа крови";
    QTest::addRow("m4a Cyrillic and Japanese") << "m4a" << "夜に駆ける" << "Кино" << "Группа крови";
    QTest::addRow("Song.MP3 upper-case suffix") << "mp3" << "Upper" << "Case" << "Suffix";
}

void TestTagWriter::writtenAndReadBack()
{
    QFETCH(QString, kind);
    const QString name = QString::fromLatin1(QTest::currentDataTag()).startsWith(QLatin1String("Song.MP3"))
                             ? QStringLiteral("Song.MP3")
                             : QStringLiteral("unicode.") + kind;
    const QString path = copyOf(kind, name);
    const QByteArray audio = audioMd5(path);
    QVERIFY(!audio.isEmpty());
    track record = fullRecord(path);
    QFETCH(QString, title);
    QFETCH(QString, artist);
    QFETCH(QString, album);
    record.trackname = title;
    record.artistName = artist;
    record.albumName = album;
    TagLibBuilder().setMissingTag(record);

    TagLib::FileRef file(QFile::encodeName(path).constData());
    QVERIFY(!file.isNull() && file.tag());
    QCOMPARE(TStringToQString(file.tag()->title()), title);
    QCOMPARE(TStringToQString(file.tag()->artist()), artist);
    QCOMPARE(TStringToQString(file.tag()->album()), album);
    QCOMPARE(TStringToQString(file.tag()->genre()), QStringLiteral("Jazz"));
    QCOMPARE(file.tag()->year(), 2010u);
    QCOMPARE(file.tag()->track(), 9u);
    QCOMPARE(audioMd5(path), audio);
    // No working copy stays behind.
    QCOMPARE(QDir(QFileInfo(path).absolutePath()).entryList({QStringLiteral(".*tagwrite*")}, QDir::Files | QDir::Hidden),
             QStringList());
}

void TestTagWriter::savingTwice_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addRow("mp3") << "mp3";
    QTest::addRow("mp3 with ID3v2.4 and ID3v1") << "v24";
    QTest::addRow("wma") << "wma";
    QTest::addRow("m4a") << "m4a";
}

void TestTagWriter::savingTwice()
{
    QFETCH(QString, kind);
    const QString path = copyOf(kind, QStringLiteral("twice.") + (kind == QLatin1String("v24") ? "mp3" : kind));
    const QByteArray audio = audioMd5(path);
    QVERIFY(!audio.isEmpty());
    TagLibBuilder builder;

    // The record the file already holds: nothing to write, nothing saved.
    track same;
    same.filepath = path;
    same.hasTitle = true;
    same.trackname = oldTags.title;
    const QByteArray before = bytesOf(path);
    builder.setMissingTag(same);
    QCOMPARE(bytesOf(path), before);

    const track record = fullRecord(path);
    builder.setMissingTag(record);
    const QByteArray once = bytesOf(path);
    QVERIFY(once != before);
    QCOMPARE(title(path), QStringLiteral("New Title"));
    QCOMPARE(audioMd5(path), audio);

    // The same record again changes nothing.
    builder.setMissingTag(record);
    QCOMPARE(bytesOf(path), once);

    // A different record again: still one valid file with the same audio.
    track other = record;
    other.trackname = QStringLiteral("Third Title, a good deal longer than the first to move the audio");
    builder.setMissingTag(other);
    QCOMPARE(title(path), other.trackname);
    QCOMPARE(audioMd5(path), audio);
}

void TestTagWriter::untouchedFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("name");
    QTest::addRow("flac") << "flac" << "x.flac";
    QTest::addRow("wav") << "wav" << "x.wav";
    QTest::addRow("ogg") << "ogg" << "x.ogg";
    QTest::addRow("aiff") << "aiff" << "x.aiff";
    QTest::addRow("mp3 bytes named .mp2") << "mp3" << "x.mp2";
    QTest::addRow("m4a bytes named .aac") << "m4a" << "x.aac";
    QTest::addRow("mp3 without an ID3v2 tag") << "untagged" << "untagged.mp3";
    QTest::addRow("missing file") << "" << "absent.mp3";
}

void TestTagWriter::untouchedFiles()
{
    QFETCH(QString, kind);
    QFETCH(QString, name);
    const QString path = kind.isEmpty() ? dir.filePath(QStringLiteral("work/") + name) : copyOf(kind, name);
    QVERIFY(!path.isEmpty());
    const QByteArray before = bytesOf(path);
    const QDateTime modified = QFileInfo(path).lastModified();
    TagLibBuilder().setMissingTag(fullRecord(path));
    QCOMPARE(bytesOf(path), before);
    QCOMPARE(QFileInfo(path).lastModified(), modified);
    QCOMPARE(QFileInfo::exists(path), !kind.isEmpty());
}

void TestTagWriter::symbolicLinkWritesTarget()
{
    const QString target = copyOf("mp3", QStringLiteral("target.mp3"));
    const QString link = dir.filePath(QStringLiteral("work/link.mp3"));
    QFile::remove(link);
    QVERIFY(QFile::link(target, link));
    TagLibBuilder().setMissingTag(fullRecord(link));
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(title(target), QStringLiteral("New Title"));
}

CORVANE_TEST_MAIN(TestTagWriter)
#include "tst_tagwriter.moc"
