#include <QtTest>

#include <taglib/id3v2tag.h>
#include <taglib/tstring.h>
#include <taglib/wavfile.h>

#include "core/track_data.h"
#include "mediakit.h"
#include "testenv.h"

using testkit::MediaKit;
using testkit::MediaTags;

// Suffix checks, protected-file detection and reading one file's tags.
class TestTagReading : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void suffixChecks_data();
    void suffixChecks();
    void videoNeedsSupport();
    void readsGeneratedFiles_data();
    void readsGeneratedFiles();
    void defaultsForEmptyTags();
    void untaggedFileReadWithDefaults();
    void wavInfoTag();
    void invalidFlacNotRead();
    void badInput_data();
    void badInput();
    void unreadablePaths();
    void protectedFiles();

private:
    QString patchDrms(const QString &source, const QString &name);
    QTemporaryDir dir;
    QString cover;
    QMap<QString, QString> files;
};

void TestTagReading::initTestCase()
{
    QVERIFY(dir.isValid());
    MediaKit kit(dir.path());
    cover = kit.picture(QStringLiteral("cover.jpg"), 64, 64);
    QVERIFY(!cover.isEmpty());
    const MediaTags full{QStringLiteral("Song"), QStringLiteral("Artist"), QStringLiteral("Album"),
                         QStringLiteral("Rock"), QStringLiteral("Nice"), 2004, 7};
    files["mp3"] = kit.mp3(QStringLiteral("t.mp3"), full, cover);
    files["flac"] = kit.flac(QStringLiteral("t.flac"), full, cover);
    files["m4a"] = kit.m4a(QStringLiteral("t.m4a"), full, cover);
    files["wav"] = kit.wav(QStringLiteral("t.wav"), full);
    files["wma"] = kit.wma(QStringLiteral("t.wma"), full, cover);
    files["upper"] = kit.mp3(QStringLiteral("Upper.MP3"), full);
    files["cyrillic"] = kit.mp3(QStringLiteral("ru.mp3"), {QStringLiteral("Группа крови"), QStringLiteral("Кино"),
                                                          QStringLiteral("Звезда по имени Солнце"), {}, {}, 0, 0});
    files["japanese"] = kit.flac(QStringLiteral("ja.flac"), {QStringLiteral("夜に駆ける"), QStringLiteral("YOASOBI"),
                                                            QStringLiteral("THE BOOK"), {}, {}, 0, 0});
    files["untagged"] = kit.untaggedMp3(QStringLiteral("untagged.mp3"));
    files["titleOnly"] = kit.mp3(QStringLiteral("titleonly.mp3"), {QStringLiteral("Only"), {}, {}, {}, {}, 0, 0});
    const QString ogg = dir.filePath(QStringLiteral("t.ogg"));
    QVERIFY(kit.ffmpeg({"-f", "lavfi", "-i", "sine=duration=3", "-c:a", "libvorbis", "-metadata", "title=Song",
                        "-metadata", "artist=Artist", "-metadata", "album=Album", "-metadata", "genre=Rock",
                        "-metadata", "comment=Nice", "-metadata", "date=2004", "-metadata", "track=7", ogg}));
    files["ogg"] = ogg;
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        QVERIFY2(!it.value().isEmpty(), qPrintable(it.key() + ": " + kit.lastError()));
}

void TestTagReading::suffixChecks_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<bool>("audio");
    QTest::addColumn<bool>("playlist");
    QTest::addRow("mp3") << "mp3" << true << false;
    QTest::addRow("upper-case MP3") << "MP3" << true << false;
    QTest::addRow("mixed-case Flac") << "Flac" << true << false;
    QTest::addRow("ape") << "ape" << true << false;
    QTest::addRow("mp4 is not audio") << "mp4" << false << false;
    QTest::addRow("xspf is a playlist") << "xspf" << false << true;
    QTest::addRow("M3U8") << "M3U8" << false << true;
    QTest::addRow("no partial match") << "mp" << false << false;
    QTest::addRow("no blanks") << " mp3" << false << false;
    QTest::addRow("empty") << "" << false << false;
}

void TestTagReading::suffixChecks()
{
    QFETCH(QString, suffix);
    QTEST(track_data::checkAudioFile(suffix), "audio");
    QTEST(track_data::checkPlaylist(suffix), "playlist");
}

void TestTagReading::videoNeedsSupport()
{
    const bool saved = track_data::IsVideoSupported;
    track_data::IsVideoSupported = false;
    QVERIFY(!track_data::checkVideoFile(QStringLiteral("mp4")));
    QVERIFY(!track_data::checkVideoFile(QStringLiteral("mkv")));
    track_data::IsVideoSupported = true;
    QVERIFY(track_data::checkVideoFile(QStringLiteral("MP4")));
    QVERIFY(track_data::checkVideoFile(QStringLiteral("mov")));
    QVERIFY(!track_data::checkVideoFile(QStringLiteral("mp3")));
    track_data::IsVideoSupported = saved;
}

void TestTagReading::readsGeneratedFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("artist");
    QTest::addColumn<QString>("album");
    QTest::addColumn<int>("bitrate");  // 0: not compared
    QTest::addRow("mp3 with cover") << "mp3" << "Song" << "Artist" << "Album" << 128;
    QTest::addRow("file named Upper.MP3") << "upper" << "Song" << "Artist" << "Album" << 128;
    QTest::addRow("flac with cover") << "flac" << "Song" << "Artist" << "Album" << 0;
    QTest::addRow("m4a with cover") << "m4a" << "Song" << "Artist" << "Album" << 0;
    QTest::addRow("wav (RIFF INFO tag)") << "wav" << "Song" << "Artist" << "Album" << 705;
    QTest::addRow("wma") << "wma" << "Song" << "Artist" << "Album" << 128;
    QTest::addRow("ogg through the generic reader") << "ogg" << "Song" << "Artist" << "Album" << 0;
    QTest::addRow("cyrillic mp3") << "cyrillic" << "Группа крови" << "Кино" << "Звезда по имени Солнце" << 128;
    QTest::addRow("japanese flac") << "japanese" << "夜に駆ける" << "YOASOBI" << "THE BOOK" << 0;
}

void TestTagReading::readsGeneratedFiles()
{
    QFETCH(QString, file);
    TagObject tags;
    QVERIFY(track_data::ParseTags(tags, files.value(file)));
    QTEST(TStringToQString(tags.title), "title");
    QTEST(TStringToQString(tags.artist), "artist");
    QTEST(TStringToQString(tags.album), "album");
    if (file != QLatin1String("cyrillic") && file != QLatin1String("japanese")) {
        QCOMPARE(TStringToQString(tags.genre), QStringLiteral("Rock"));
        QCOMPARE(tags.track, 7);
        // ffmpeg's ASF muxer keeps no year or comment, and its MP3 muxer
        // stores the comment in a TXXX frame, not in the ID3v2 comment.
        if (file != QLatin1String("wma"))
            QCOMPARE(tags.year, 2004);
        if (file != QLatin1String("wma") && file != QLatin1String("mp3") && file != QLatin1String("upper"))
            QCOMPARE(TStringToQString(tags.comment), QStringLiteral("Nice"));
    }
    QCOMPARE(tags.length, 3);
    QCOMPARE(tags.sampleRate, 44100);
    QVERIFY(tags.channels >= 1);
    QFETCH(int, bitrate);
    QVERIFY(tags.bitrate > 0);
    // TagLib reports 129 for a 128 kbit/s MP3.
    if (bitrate > 0)
        QVERIFY2(qAbs(tags.bitrate - bitrate) <= 3, qPrintable(QString::number(tags.bitrate)));
}

void TestTagReading::defaultsForEmptyTags()
{
    TagObject tags;
    QVERIFY(track_data::ParseTags(tags, files.value("titleOnly")));
    QCOMPARE(TStringToQString(tags.title), QStringLiteral("Only"));
    QCOMPARE(TStringToQString(tags.artist), QStringLiteral("Unknown Artist"));
    QCOMPARE(TStringToQString(tags.album), QStringLiteral("Unknown Album"));
    QCOMPARE(TStringToQString(tags.genre), QStringLiteral("Unknown genre"));
    QCOMPARE(TStringToQString(tags.comment), QStringLiteral("Unknown comment"));
    QCOMPARE(tags.year, 0);
    QCOMPARE(tags.track, 0);
}

void TestTagReading::untaggedFileReadWithDefaults()
{
    TagObject tags;
    QVERIFY(track_data::ParseTags(tags, files.value("untagged")));
    QVERIFY(tags.title.isEmpty());
    QCOMPARE(TStringToQString(tags.artist), QStringLiteral("Unknown Artist"));
    QCOMPARE(TStringToQString(tags.album), QStringLiteral("Unknown Album"));
    QCOMPARE(tags.length, 3);
    QVERIFY(qAbs(tags.bitrate - 192) <= 3);
}

void TestTagReading::wavInfoTag()
{
    // An ID3v2 tag in a WAV file wins; what it leaves empty comes from INFO.
    MediaKit kit(dir.path());
    const QString wav = kit.wav(QStringLiteral("both.wav"), {QStringLiteral("Info Title"), QStringLiteral("Info Artist"),
                                                            {}, {}, {}, 0, 0});
    QVERIFY(!wav.isEmpty());
    {
        TagLib::RIFF::WAV::File file(QFile::encodeName(wav).constData());
        QVERIFY(file.hasInfoTag());
        file.ID3v2Tag()->setTitle(QStringToTString(QStringLiteral("ID3 Title")));
        QVERIFY(file.save(TagLib::RIFF::WAV::File::AllTags));
    }
    TagObject tags;
    QVERIFY(track_data::ParseTags(tags, wav));
    QCOMPARE(TStringToQString(tags.title), QStringLiteral("ID3 Title"));
    QCOMPARE(TStringToQString(tags.artist), QStringLiteral("Info Artist"));
    QCOMPARE(TStringToQString(tags.album), QStringLiteral("Unknown Album"));
}

void TestTagReading::invalidFlacNotRead()
{
    // An MP3 named .flac: a generic reader could read it, the FLAC reader can't.
    const QString fake = dir.filePath(QStringLiteral("really-mp3.flac"));
    QVERIFY(QFile::copy(files.value("mp3"), fake));
    TagObject tags;
    QVERIFY(!track_data::ParseTags(tags, fake));
}

void TestTagReading::badInput_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("readable");
    QByteArray noise(200000, '\0');
    quint32 seed = 12345;
    for (char &c : noise) {
        seed = seed * 1664525u + 1013904223u;
        c = char(seed >> 24);
    }
    QFile png(cover);
    QVERIFY(png.open(QIODevice::ReadOnly));
    const QByteArray picture = png.readAll();
    QTest::addRow("random bytes named .mp3") << "noise.mp3" << noise << false;
    QTest::addRow("random bytes named .m4a") << "noise.m4a" << noise << false;
    QTest::addRow("random bytes named .wma") << "noise.wma" << noise << false;
    QTest::addRow("random bytes named .flac") << "noise.flac" << noise << false;
    QTest::addRow("random bytes named .wav") << "noise.wav" << noise << false;
    QTest::addRow("random bytes named .ogg") << "noise.ogg" << noise << false;
    QTest::addRow("random bytes named .ape") << "noise.ape" << noise << false;
    QTest::addRow("picture named .mp3") << "picture.mp3" << picture << false;
    QTest::addRow("empty .mp3") << "empty.mp3" << QByteArray() << false;
    QTest::addRow("lone ID3 header") << "header.mp3" << QByteArray("ID3\x03\x00\x00\x00\x00\x7f\x7f", 10) << true;
}

void TestTagReading::badInput()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    const QString path = dir.filePath(QStringLiteral("bad/") + name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();
    TagObject tags;
    const bool read = track_data::ParseTags(tags, path);
    // A lone ID3v2 header counts as an (empty) ID3v2 tag; what matters is
    // that nothing crashes or hangs.
    if (!QString::fromLatin1(QTest::currentDataTag()).startsWith(QLatin1String("lone")))
        QCOMPARE(read, false);
    track_data scanner;
    QVERIFY(!scanner.checkProtected(path));
}

void TestTagReading::unreadablePaths()
{
    const QString folder = dir.filePath(QStringLiteral("folder.mp3"));
    QVERIFY(QDir().mkpath(folder));
    const QStringList paths{dir.filePath(QStringLiteral("absent.mp3")), dir.filePath(QStringLiteral("absent.flac")),
                            dir.filePath(QStringLiteral("absent.wav")), folder, QString()};
    track_data scanner;
    for (const QString &path : paths) {
        TagObject tags;
        QVERIFY2(!track_data::ParseTags(tags, path), qPrintable(path));
        QVERIFY(!scanner.checkProtected(path));
    }
}

QString TestTagReading::patchDrms(const QString &source, const QString &name)
{
    const QString copy = dir.filePath(name);
    QFile::remove(copy);
    if (!QFile::copy(source, copy))
        return QString();
    QFile file(copy);
    if (!file.open(QIODevice::ReadWrite))
        return QString();
    QByteArray bytes = file.readAll();
    const int stsd = bytes.indexOf("stsd");
    const int mp4a = bytes.indexOf("mp4a", stsd);
    if (stsd < 0 || mp4a < 0)
        return QString();
    bytes.replace(mp4a, 4, "drms");
    file.seek(0);
    file.write(bytes);
    return copy;
}

void TestTagReading::protectedFiles()
{
    track_data scanner;
    const QString locked = patchDrms(files.value("m4a"), QStringLiteral("locked.mp4"));
    const QString lockedM4a = patchDrms(files.value("m4a"), QStringLiteral("locked.m4a"));
    const QString lockedM4v = patchDrms(files.value("m4a"), QStringLiteral("Locked.M4V"));
    QVERIFY(!locked.isEmpty() && !lockedM4a.isEmpty() && !lockedM4v.isEmpty());

    QVERIFY(scanner.checkProtected(locked));
    QVERIFY(!scanner.checkProtected(lockedM4a));  // m4a is never tested
    QVERIFY(scanner.checkProtected(lockedM4v));
    QVERIFY(!scanner.checkProtected(files.value("m4a")));
    QVERIFY(!scanner.checkProtected(files.value("wma")));
    QVERIFY(!scanner.checkProtected(files.value("mp3")));
    QVERIFY(!scanner.checkProtected(dir.filePath(QStringLiteral("absent.wmv"))));
    QCOMPARE(scanner.getProtectedTracks(), QStringList({locked, lockedM4v}));

    scanner.resetProtectedTracks();
    QVERIFY(scanner.getProtectedTracks().isEmpty());
}

CORVANE_TEST_MAIN(TestTagReading)
#include "tst_tagreading.moc"
