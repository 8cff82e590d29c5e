#include <QtTest>

#include <utility>

#include <taglib/tstring.h>

#include "core/track_data.h"
#include "libraryfixture.h"
#include "mediakit.h"
#include "scanfixture.h"
#include "testenv.h"

using testkit::MediaKit;
using testkit::MediaTags;

// Suffix checks, protected-file detection and reading one file's tags.
class TestTagReading : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        MediaKit kit(dir.path());
        const QString cover = kit.picture(QStringLiteral("cover.jpg"), 64, 64);
        const MediaTags full{QStringLiteral("Song"), QStringLiteral("Artist"), QStringLiteral("Album"),
                             QStringLiteral("Rock"), QStringLiteral("Nice"), 2004, 7};
        files["mp3"] = kit.mp3(QStringLiteral("t.mp3"), full, cover);
        files["flac"] = kit.flac(QStringLiteral("t.flac"), full, cover);
        files["m4a"] = kit.m4a(QStringLiteral("t.m4a"), full, cover);
        files["wav"] = kit.wav(QStringLiteral("t.wav"), full);
        files["wma"] = kit.wma(QStringLiteral("t.wma"), full, cover);
        files["cyrillic"] = kit.mp3(QStringLiteral("ru.mp3"), {QStringLiteral("Группа крови"), QStringLiteral("Кино"),
                                                              QStringLiteral("Звезда по имени Солнце"), {}, {}, 0, 0});
        files["japanese"] = kit.flac(QStringLiteral("ja.flac"), {QStringLiteral("夜に駆ける"), QStringLiteral("YOASOBI"),
                                                                QStringLiteral("THE BOOK"), {}, {}, 0, 0});
        files["untagged"] = kit.untaggedMp3(QStringLiteral("untagged.mp3"));
        const auto audio = [&kit](const char *name, const char *args) {
            return kit.audio(QString::fromLatin1(name), QString::fromLatin1(args).split(QLatin1Char(' ')), {}, 3);
        };
        files["id3only"] = kit.id3OnlyMp3(QStringLiteral("id3only.mp3"), full, cover);
        files["adts"] = audio("t.aac", "-c:a aac -f adts");
        files["ogg2"] = audio("two.ogg", "-f lavfi -i sine=frequency=880:d=3 -map 0:a -map 1:a -c:a libvorbis");
        files["rf64"] = audio("rf.wav", "-c:a pcm_s16le -rf64 always");
        files["flacm4a"] = audio("flac.m4a", "-c:a flac -f mp4 -strict -2");
        files["alac"] = audio("alac.m4a", "-c:a alac");
        files["lowrate"] = audio("low.wav", "-ar 1000 -c:a pcm_s16le");
        files["aiff"] = audio("id3.aiff", "-c:a pcm_s16be -map_metadata -1 -fflags +bitexact");
        files["hugerate"] = audio("huge.wav", "-c:a pcm_s16le -map_metadata -1 -fflags +bitexact");
        for (const char *video : {"mkv", "avi", "flv"})
            files[video] = kit.video(QStringLiteral("v.%1").arg(QLatin1String(video)), 2, 160, 120);
        files["mpg"] = kit.video(QStringLiteral("v.mpg"), 2, 160, 120, QStringLiteral("-c:v mpeg2video -c:a mp2 -f mpeg"));
        for (auto it = files.cbegin(); it != files.cend(); ++it)
            QVERIFY2(!it.value().isEmpty(), qPrintable(it.key() + ": " + kit.lastError()));
        // An AIFF carrying an empty ID3 chunk, and a WAV whose format chunk claims 2 MHz.
        QByteArray aiff = testkit::fileBytes(files["aiff"]) + QByteArray("ID3 \0\0\0\x0a" "ID3\x04\0\0\0\0\0\0", 18);
        QByteArray wav = testkit::fileBytes(files["hugerate"]);
        qToBigEndian(quint32(aiff.size() - 8), aiff.data() + 4);
        qToLittleEndian(quint32(2000000), wav.data() + 24);
        QVERIFY(testkit::touch(files["aiff"], aiff) && testkit::touch(files["hugerate"], wav));
    }

    void suffixChecks()
    {
        QVERIFY(track_data::checkAudioFile(QStringLiteral("Flac")) && !track_data::checkAudioFile(QStringLiteral("mp4")));
        QVERIFY(!track_data::checkAudioFile(QStringLiteral("mp")) && track_data::checkPlaylist(QStringLiteral("M3U8")));
        const bool saved = std::exchange(track_data::IsVideoSupported, true);
        QVERIFY(track_data::checkVideoFile(QStringLiteral("MP4")) && !track_data::checkVideoFile(QStringLiteral("mp3")));
        track_data::IsVideoSupported = saved; // without video support: the folder scan's test
    }

    // A file is a track when it holds audio that plays (or, under a video name,
    // a video): TagLib's values where they make sense, else ffprobe's.
    void reads_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("track");
        QTest::addColumn<QString>("tags"); // title|artist|album|genre|track|year; "": not compared
        QTest::addColumn<int>("sampleRate");
        QTest::addColumn<int>("minimumKbps");
        QTest::addColumn<int>("maximumKbps"); // TagLib reports 129 for a 128 kbit/s MP3
        const QString full = QStringLiteral("Song|Artist|Album|Rock|7|2004");
        QTest::addRow("mp3 with cover") << "mp3" << true << full << 44100 << 125 << 131;
        QTest::addRow("flac with cover") << "flac" << true << full << 44100 << 1 << 9999;
        QTest::addRow("m4a with cover") << "m4a" << true << full << 44100 << 1 << 9999;
        QTest::addRow("wav (RIFF INFO tag)") << "wav" << true << full << 44100 << 702 << 708;
        // ffmpeg's ASF muxer keeps no year.
        QTest::addRow("wma") << "wma" << true << "Song|Artist|Album|Rock|7|0" << 44100 << 125 << 131;
        QTest::addRow("cyrillic mp3") << "cyrillic" << true << "Группа крови|Кино|Звезда по имени Солнце|" << 44100 << 125
                                      << 131;
        QTest::addRow("japanese flac") << "japanese" << true << "夜に駆ける|YOASOBI|THE BOOK|" << 44100 << 1 << 9999;
        // A valid file with no tag at all is kept (its title comes from its name later).
        QTest::addRow("untagged mp3 with defaults") << "untagged" << true
                                                    << "|Unknown Artist|Unknown Album|Unknown genre|0|0" << 44100 << 189
                                                    << 195;
        QTest::addRow("ID3v2 tag with title and picture, no frames") << "id3only" << false << "" << 0 << 0 << 0;
        QTest::addRow("raw ADTS aac") << "adts" << true << "" << 44100 << 1 << 9999;
        QTest::addRow("Ogg with two logical streams") << "ogg2" << true << "" << 44100 << 1 << 9999;
        QTest::addRow("RF64 wav") << "rf64" << true << "" << 44100 << 700 << 9999;
        QTest::addRow("FLAC in m4a: rate and bit rate found") << "flacm4a" << true << "" << 44100 << 50 << 9999;
        QTest::addRow("ALAC in m4a") << "alac" << true << "" << 44100 << 50 << 9999;
        QTest::addRow("AIFF with an empty ID3 chunk keeps its own reader") << "aiff" << true << "" << 44100 << 700 << 9999;
        QTest::addRow("odd but real 1000 Hz wav") << "lowrate" << true << "" << 1000 << 16 << 9999;
        QTest::addRow("sample rate above 768 kHz refused") << "hugerate" << false << "" << 0 << 0 << 0;
        for (const char *video : {"mkv", "avi", "flv", "mpg"})
            QTest::addRow("%s video", video) << video << true << "" << 44100 << 1 << 9999;
    }

    void reads()
    {
        QFETCH(QString, file);
        QFETCH(bool, track);
        QFETCH(QString, tags);
        TagObject t;
        QCOMPARE(track_data::ParseTags(t, files.value(file)), track);
        if (!track)
            return;
        const QStringList got = {TStringToQString(t.title), TStringToQString(t.artist), TStringToQString(t.album),
                                 TStringToQString(t.genre), QString::number(t.track), QString::number(t.year)};
        if (!tags.isEmpty())
            QCOMPARE(got.join('|').left(tags.size()), tags);
        QVERIFY2(t.length >= 2 && t.length <= 3, qPrintable(QString::number(t.length)));
        QTEST(t.sampleRate, "sampleRate");
        QFETCH(int, minimumKbps);
        QFETCH(int, maximumKbps);
        QVERIFY2(t.bitrate >= minimumKbps && t.bitrate <= maximumKbps, qPrintable(QString::number(t.bitrate)));
    }

    void badInput_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("mustFail"); // false: only "no crash, no hang"
        QByteArray noise(200000, '\0');
        quint32 seed = 12345;
        for (char &c : noise)
            c = char((seed = seed * 1664525u + 1013904223u) >> 24);
        QTest::addRow("random bytes named .mp3") << "noise.mp3" << noise << true;
        QTest::addRow("random bytes named .m4a") << "noise.m4a" << noise << true;
        QTest::addRow("random bytes named .flac") << "noise.flac" << noise << true;
        QTest::addRow("picture named .mp3") << "picture.mp3" << testkit::fileBytes(dir.filePath("cover.jpg")) << true;
        QTest::addRow("empty .mp3") << "empty.mp3" << QByteArray() << true;
        QTest::addRow("truncated m4a") << "cut.m4a" << testkit::fileBytes(files.value("m4a")).left(1500) << false;
        QTest::addRow("lone ID3 header") << "header.mp3" << QByteArray("ID3\x03\x00\x00\x00\x00\x7f\x7f", 10) << false;
    }

    void badInput()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        const QString path = writeFile(name, bytes);
        QVERIFY(!path.isEmpty());
        TagObject tags;
        const bool read = track_data::ParseTags(tags, path);
        QFETCH(bool, mustFail);
        QVERIFY(!(mustFail && read) && !track_data().checkProtected(path));

        // Paths that aren't files at all.
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("folder.mp3"))));
        for (const QString &other : {dir.filePath(QStringLiteral("absent.mp3")), dir.filePath(QStringLiteral("folder.mp3"))})
            QVERIFY(!track_data::ParseTags(tags, other));
    }

    // An MP4 whose "mp4a" is patched to "drms" is protected as .mp4/.m4v, while
    // .m4a files are never tested.
    void protectedMp4NotM4a()
    {
        QByteArray bytes = testkit::fileBytes(files.value("m4a"));
        const int mp4a = int(bytes.indexOf("mp4a", bytes.indexOf("stsd")));
        QVERIFY(mp4a > 0);
        bytes.replace(mp4a, 4, "drms");
        const QString locked = writeFile(QStringLiteral("locked.mp4"), bytes);
        const QString lockedM4a = writeFile(QStringLiteral("locked.m4a"), bytes);
        const QString lockedM4v = writeFile(QStringLiteral("Locked.M4V"), bytes);

        track_data scanner;
        QVERIFY(scanner.checkProtected(locked) && !scanner.checkProtected(lockedM4a) && scanner.checkProtected(lockedM4v));
        QVERIFY(!scanner.checkProtected(files.value("m4a")));
        QCOMPARE(scanner.getProtectedTracks(), QStringList({locked, lockedM4v}));
        scanner.resetProtectedTracks();
        QVERIFY(scanner.getProtectedTracks().isEmpty());
    }

private:
    QString writeFile(const QString &name, const QByteArray &bytes)
    {
        return testkit::touch(dir.filePath(name), bytes) ? dir.filePath(name) : QString();
    }
    QTemporaryDir dir;
    QMap<QString, QString> files;
};

CORVANE_TEST_MAIN(TestTagReading)
#include "tst_tagreading.moc"
