#include <QtTest>

#include <QImage>
#include <QPainter>
#include <QRandomGenerator>

#include <taglib/apetag.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/aifffile.h>
#include <taglib/fileref.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tag.h>
#include <taglib/wavfile.h>

#include <sys/stat.h>
#include <unistd.h>

#include "core/taglibbuilder.h"
#include "core/track_data.h"
#include "libraryfixture.h"
#include "mediakit.h"
#include "scanfixture.h"
#include "testenv.h"

using testkit::MediaKit;
using testkit::MediaTags;

namespace {

// Adds an ID3v2 front cover to a WAV ("id3 " chunk) or AIFF ("ID3 " chunk) file.
bool addId3v2Cover(const QString &path, const QString &picture)
{
    auto *frame = new TagLib::ID3v2::AttachedPictureFrame;
    frame->setMimeType("image/jpeg");
    frame->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
    frame->setPicture(TagLib::ByteVector(testkit::fileBytes(picture).constData(),
                                         uint(testkit::fileBytes(picture).size())));
    const QByteArray name = QFile::encodeName(path);
    if (path.endsWith(QLatin1String(".wav"))) {
        TagLib::RIFF::WAV::File file(name.constData());
        if (!file.isValid())
            return false;
        file.ID3v2Tag()->addFrame(frame);
        return file.save();
    }
    TagLib::RIFF::AIFF::File file(name.constData());
    if (!file.isValid())
        return false;
    file.tag()->addFrame(frame);
    return file.save();
}

// A FLAC file with an APPLICATION metadata block holding `payload` right
// after its STREAMINFO block.
QByteArray withApplicationBlock(const QByteArray &flac, const QByteArray &payload)
{
    constexpr int afterStreamInfo = 4 + 4 + 34;
    if (!flac.startsWith("fLaC") || (uchar(flac.at(4)) & 0x80) != 0) // STREAMINFO must not be the last block
        return QByteArray();
    const QByteArray body = QByteArray("test") + payload;
    QByteArray header(4, '\0');
    header[0] = 2; // APPLICATION, not the last block
    header[1] = char((body.size() >> 16) & 0xff);
    header[2] = char((body.size() >> 8) & 0xff);
    header[3] = char(body.size() & 0xff);
    return flac.left(afterStreamInfo) + header + body + flac.mid(afterStreamInfo);
}

} // namespace

// One file's tags and pictures: what the scan reads (which files are tracks,
// with which values), which embedded picture becomes the album cover, and
// the tag writer, which rewrites the user's library copies in place and so is
// always tested on copies, checking that the decoded audio stays the same.
class TestTags : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid() && QDir().mkpath(dir.filePath(QStringLiteral("covers"))));
        MediaKit kit(dir.filePath(QStringLiteral("media")));
        const QString wide = kit.picture(QStringLiteral("wide.jpg"), 300, 200);
        for (const char *colour : {"red", "blue", "green"})
            pictures[colour] = kit.picture(QStringLiteral("%1.png").arg(QLatin1String(colour)), 64, 64, colour);
        files["mp3"] = kit.mp3(QStringLiteral("t.mp3"), full, wide);
        files["flac"] = kit.flac(QStringLiteral("t.flac"), full, wide);
        files["m4a"] = kit.m4a(QStringLiteral("Upper.M4A"), full, wide);
        files["wav"] = kit.wav(QStringLiteral("t.wav"), full);
        files["wma"] = kit.wma(QStringLiteral("t.wma"), full, wide);
        files["japanese"] =
            kit.flac(QStringLiteral("ja.flac"),
                     {QStringLiteral("夜に駆ける"), QStringLiteral("Кино"), QStringLiteral("THE BOOK"), {}, {}, 0, 0});
        files["untagged"] = kit.untaggedMp3(QStringLiteral("untagged.mp3"));
        // An ID3v2 tag with a red cover and no frames; also put in front of a FLAC file.
        files["id3only"] = kit.id3OnlyMp3(QStringLiteral("id3only.mp3"), full, pictures["red"]);
        const auto audio = [&kit](const char *name, const char *args) {
            return kit.audio(QString::fromLatin1(name), QString::fromLatin1(args).split(QLatin1Char(' ')), {}, 3);
        };
        files["adts"] = audio("t.aac", "-c:a aac -f adts");
        files["ogg2"] = audio("two.ogg", "-f lavfi -i sine=frequency=880:d=3 -map 0:a -map 1:a -c:a libvorbis");
        files["rf64"] = audio("rf.wav", "-c:a pcm_s16le -rf64 always");
        files["flacm4a"] = audio("flac.m4a", "-c:a flac -f mp4 -strict -2");
        files["alac"] = audio("alac.m4a", "-c:a alac");
        files["lowrate"] = audio("low.wav", "-ar 1000 -c:a pcm_s16le");
        files["aiff"] = audio("id3.aiff", "-c:a pcm_s16be -map_metadata -1 -fflags +bitexact");
        files["hugerate"] = audio("huge.wav", "-c:a pcm_s16le -map_metadata -1 -fflags +bitexact");
        files["v24"] =
            kit.audio(QStringLiteral("v24.mp3"), {"-c:a", "libmp3lame", "-id3v2_version", "4", "-write_id3v1", "1"},
                      {full.title, full.artist, {}, {}, {}, 0, 0});
        for (const char *video : {"mkv", "avi", "flv"})
            files[video] = kit.video(QStringLiteral("v.%1").arg(QLatin1String(video)), 2, 160, 120);
        files["mpg"] =
            kit.video(QStringLiteral("v.mpg"), 2, 160, 120, QStringLiteral("-c:v mpeg2video -c:a mp2 -f mpeg"));
        files["garbage"] = kit.mp3(QStringLiteral("garbage.mp3"), full);
        // Pictures in ID3v2 tags of other types: WAV and AIFF chunks, and a
        // tag in front of an Ogg file; and a FLAC without a picture of its
        // own whose metadata holds an ID3v2 tag's bytes, which is no tag.
        files["wavpic"] = kit.wav(QStringLiteral("pic.wav"), full);
        files["aiffpic"] = audio("pic.aiff", "-c:a pcm_s16be");
        files["oggid3"] = audio("id3.ogg", "-c:a libvorbis");
        files["flacid3inside"] = kit.flac(QStringLiteral("inside.flac"), full);
        for (auto it = files.cbegin(); it != files.cend(); ++it)
            QVERIFY2(!it.value().isEmpty(), qPrintable(it.key() + ": " + kit.lastError()));
        QVERIFY(addId3v2Cover(files["wavpic"], wide) && addId3v2Cover(files["aiffpic"], wide));
        const QString wideTag = kit.id3OnlyMp3(QStringLiteral("widetag.mp3"), full, wide);
        QVERIFY(!wideTag.isEmpty());
        QVERIFY(testkit::touch(files["oggid3"], testkit::fileBytes(wideTag) + testkit::fileBytes(files["oggid3"])));
        const QByteArray inside =
            withApplicationBlock(testkit::fileBytes(files["flacid3inside"]), testkit::fileBytes(wideTag));
        QVERIFY(!inside.isEmpty() && testkit::touch(files["flacid3inside"], inside));

        // An AIFF carrying an empty ID3 chunk, and a WAV whose format chunk claims 2 MHz.
        QByteArray aiff = testkit::fileBytes(files["aiff"]) + QByteArray("ID3 \0\0\0\x0a" "ID3\x04\0\0\0\0\0\0", 18);
        QByteArray wav = testkit::fileBytes(files["hugerate"]);
        qToBigEndian(quint32(aiff.size() - 8), aiff.data() + 4);
        qToLittleEndian(quint32(2000000), wav.data() + 24);
        QVERIFY(testkit::touch(files["aiff"], aiff) && testkit::touch(files["hugerate"], wav));
        // A picture frame whose bytes don't decode.
        const QString junk = dir.filePath(QStringLiteral("media/junk.png"));
        QVERIFY(testkit::touch(junk, QByteArray("\x89PNG\r\n\x1a\n") + QByteArray(3000, '\x5a')));
        QVERIFY(MediaKit::addApicFrames(files["garbage"], {{3, junk}}));
        // ID3v2.4 plus ID3v1, and an APE tag holding what the others lack.
        TagLib::MPEG::File v24(QFile::encodeName(files["v24"]).constData());
        QVERIFY(v24.hasID3v2Tag() && v24.hasID3v1Tag());
        v24.ID3v1Tag()->setComment("from ID3v1");
        v24.APETag(true)->setGenre("Ska");
        QVERIFY(v24.save(TagLib::MPEG::File::ID3v1 | TagLib::MPEG::File::APE, TagLib::File::StripNone));
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
        const QString tags = QStringLiteral("Song|Artist|Album|Rock|7|2004");
        QTest::addRow("mp3 with cover") << "mp3" << true << tags << 44100 << 125 << 131;
        QTest::addRow("flac with cover") << "flac" << true << tags << 44100 << 1 << 9999;
        QTest::addRow("m4a with cover") << "m4a" << true << tags << 44100 << 1 << 9999;
        QTest::addRow("wav (RIFF INFO tag)") << "wav" << true << tags << 44100 << 702 << 708;
        // ffmpeg's ASF muxer keeps no year.
        QTest::addRow("wma") << "wma" << true << "Song|Artist|Album|Rock|7|0" << 44100 << 125 << 131;
        QTest::addRow("Unicode flac") << "japanese" << true << "夜に駆ける|Кино|THE BOOK|" << 44100 << 1 << 9999;
        // A valid file with no tag at all is kept (its title comes from its name later).
        QTest::addRow("untagged mp3") << "untagged" << true << "|Unknown Artist|Unknown Album|Unknown genre|0|0"
                                      << 44100 << 189 << 195;
        QTest::addRow("ID3v2 tag with title and picture, no frames") << "id3only" << false << "" << 0 << 0 << 0;
        QTest::addRow("raw ADTS aac") << "adts" << true << "" << 44100 << 1 << 9999;
        QTest::addRow("Ogg with two logical streams") << "ogg2" << true << "" << 44100 << 1 << 9999;
        QTest::addRow("RF64 wav") << "rf64" << true << "" << 44100 << 700 << 9999;
        QTest::addRow("FLAC in m4a: rate and bit rate found") << "flacm4a" << true << "" << 44100 << 50 << 9999;
        QTest::addRow("ALAC in m4a") << "alac" << true << "" << 44100 << 50 << 9999;
        QTest::addRow("AIFF with an empty ID3 chunk keeps its own reader")
            << "aiff" << true << "" << 44100 << 700 << 9999;
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
        QByteArray noise(200000, '\0');
        quint32 seed = 12345;
        for (char &c : noise)
            c = char((seed = seed * 1664525u + 1013904223u) >> 24);
        for (const char *name : {"noise.mp3", "noise.m4a", "noise.flac"})
            QTest::newRow(name) << QString::fromLatin1(name) << noise;
        QTest::addRow("picture named .mp3") << "picture.mp3" << testkit::fileBytes(pictures["red"]);
        QTest::addRow("empty .mp3") << "empty.mp3" << QByteArray();
    }

    void badInput()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        const QString path = dir.filePath(name);
        QVERIFY(testkit::touch(path, bytes));
        TagObject tags;
        QVERIFY(!track_data::ParseTags(tags, path) && !track_data().checkProtected(path));
        // Paths that aren't files at all.
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("folder.mp3"))));
        for (const char *other : {"absent.mp3", "folder.mp3"})
            QVERIFY(!track_data::ParseTags(tags, dir.filePath(QLatin1String(other))));
    }

    void pictureChosen_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QList<int>>("types");
        QTest::addColumn<QStringList>("colours");
        QTest::addColumn<QString>("expected");
        for (const char *kind : {"mp3", "wma", "flac"}) {
            // 8: an artist photo, which a tag save can put before the cover.
            const QString name = QString::fromLatin1(kind);
            QTest::newRow(qPrintable(name + ": artist, back, front"))
                << name << QList<int>{8, 4, 3} << QStringList{"red", "green", "blue"} << "blue";
            // (TagLib lists WM/Picture attributes in an order of its own.)
            const bool wma = name == QLatin1String("wma");
            QTest::newRow(qPrintable(name + ": no front, the first"))
                << name << (wma ? QList<int>{4} : QList<int>{4, 0}) << QStringList{"green", "red"} << "green";
        }
        QTest::newRow("flac behind a stray ID3v2 tag: its own picture, not the tag's")
            << "flac+id3" << QList<int>{3} << QStringList{"blue"} << "blue";
        QTest::newRow("flac whose only picture is in the ID3v2 tag in front: the tag's")
            << "flac+id3" << QList<int>{} << QStringList{} << "red";
    }

    void pictureChosen()
    {
        QFETCH(QString, kind);
        QFETCH(QList<int>, types);
        QFETCH(QStringList, colours);
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(QRegularExpression("[^a-z]"), "_");
        MediaKit kit(dir.filePath(QStringLiteral("apic")));
        const MediaTags tags{QStringLiteral("S"), {}, {}, {}, {}, 0, 0};
        const QString file = kind == QLatin1String("mp3")   ? kit.mp3(tag + QStringLiteral(".mp3"), tags)
                             : kind == QLatin1String("wma") ? kit.wma(tag + QStringLiteral(".wma"), tags)
                                                            : kit.flac(tag + QStringLiteral(".flac"), tags);
        QVERIFY(!file.isEmpty());
        QList<QPair<int, QString>> frames;
        for (int i = 0; i < types.size(); ++i)
            frames.append({types.at(i), pictures.value(colours.at(i))});
        QVERIFY(MediaKit::addPictures(file, frames));
        if (kind == QLatin1String("flac+id3"))
            QVERIFY(testkit::touch(file, testkit::fileBytes(files["id3only"]) + testkit::fileBytes(file)));
        const QImage image = QImage::fromData(TagLibBuilder::coverArtPng(file), "PNG");
        QVERIFY(!image.isNull());
        QFETCH(QString, expected);
        QVERIFY2(testkit::closeColour(image.pixelColor(55, 55), QColor(expected)),
                 qPrintable(image.pixelColor(55, 55).name()));
    }

    // An embedded JPEG is fitted into 110 x 110 from the decoder's reduced
    // scale: whatever the scale, the picture has the fitted size and looks
    // like the whole picture scaled smoothly.
    void pictureFitted_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QSize>("fit");
        QTest::addRow("500 x 500, a quarter") << QSize(500, 500) << QSize(110, 110);
        QTest::addRow("300 x 300, three eighths") << QSize(300, 300) << QSize(110, 110);
        QTest::addRow("1000 x 600, an eighth") << QSize(1000, 600) << QSize(110, 66);
        QTest::addRow("333 x 500, uneven") << QSize(333, 500) << QSize(73, 110);
        QTest::addRow("111 x 111, whole") << QSize(111, 111) << QSize(110, 110);
        QTest::addRow("64 x 64, enlarged") << QSize(64, 64) << QSize(110, 110);
    }

    void pictureFitted()
    {
        QFETCH(QSize, size);
        QFETCH(QSize, fit);
        // Something like a photograph: gradients, shapes and fine noise.
        QImage picture(size, QImage::Format_RGB32);
        QRandomGenerator random(size.width());
        for (int y = 0; y < size.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
            for (int x = 0; x < size.width(); ++x) {
                const int noise = int(random.bounded(24));
                line[x] = qRgb(255 * x / size.width() / 2 + noise, 255 * y / size.height() / 2 + noise,
                               (x * y) % 256 / 2 + noise);
            }
        }
        QPainter painter(&picture);
        painter.setBrush(QColor(230, 200, 40));
        painter.drawEllipse(QRect(QPoint(size.width() / 4, size.height() / 4), size / 2));
        painter.end();
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        QVERIFY(buffer.open(QIODevice::WriteOnly) && picture.save(&buffer, "JPG", 92));

        const QImage fitted = QImage::fromData(TagLibBuilder::pictureToPng(jpeg), "PNG");
        QCOMPARE(fitted.size(), fit);
        const QImage whole = QImage::fromData(jpeg, "JPG").scaled(fit, Qt::IgnoreAspectRatio,
                                                                   Qt::SmoothTransformation);
        qint64 difference = 0;
        for (int y = 0; y < fit.height(); ++y) {
            for (int x = 0; x < fit.width(); ++x) {
                const QRgb a = fitted.pixel(x, y);
                const QRgb b = whole.pixel(x, y);
                difference += qAbs(qRed(a) - qRed(b)) + qAbs(qGreen(a) - qGreen(b)) + qAbs(qBlue(a) - qBlue(b));
            }
        }
        const double mean = double(difference) / (3.0 * fit.width() * fit.height());
        QVERIFY2(mean < 3.5, qPrintable(QStringLiteral("mean difference %1 of 255").arg(mean)));
    }

    void coverWritten_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("written"); // as 110 x 73: 300 x 200 keeps its aspect
        QTest::addRow("mp3 APIC") << "mp3" << "covers" << true;
        QTest::addRow("flac picture") << "flac" << "covers" << true;
        QTest::addRow("Upper.M4A covr") << "m4a" << "covers" << true;
        QTest::addRow("wma WM/Picture") << "wma" << "covers" << true;
        QTest::addRow("wav with an ID3v2 cover") << "wavpic" << "covers" << true;
        QTest::addRow("aiff with an ID3v2 cover") << "aiffpic" << "covers" << true;
        QTest::addRow("ogg behind an ID3v2 tag with a cover") << "oggid3" << "covers" << true;
        // Read as MPEG, the FLAC would be searched for a tag and the bytes taken for one.
        QTest::addRow("flac holding an ID3v2 tag's bytes in its metadata") << "flacid3inside" << "covers" << false;
        QTest::addRow("mp3 without picture") << "untagged" << "covers" << false;
        QTest::addRow("missing file") << "missing" << "covers" << false;
        QTest::addRow("garbage APIC frame") << "garbage" << "covers" << false;
        QTest::addRow("missing cover folder") << "mp3" << "no/such/folder" << false;
    }

    // A scan decodes on worker threads (coverArtPng) and writes later
    // (writeCoverArt); storeCoverArt does both at once.
    void coverWritten()
    {
        QFETCH(QString, file);
        QFETCH(QString, folder);
        QFETCH(bool, written);
        const QString source = files.value(file, dir.filePath(QStringLiteral("missing.mp3")));
        const QString whole = dir.filePath(folder + QStringLiteral("/whole-") + file + QStringLiteral(".png"));
        const QString halves = dir.filePath(folder + QStringLiteral("/halves-") + file + QStringLiteral(".png"));
        TagLibBuilder().storeCoverArt(whole, source);
        QCOMPARE(TagLibBuilder::writeCoverArt(halves, TagLibBuilder::coverArtPng(source)), written);
        for (const QString &cover : {whole, halves})
            QCOMPARE(QImage(cover, "PNG").size(), written ? QSize(110, 73) : QSize(0, 0));
        // Nothing half-written stays beside them either.
        QCOMPARE(
            QDir(QFileInfo(whole).absolutePath()).entryList({"*-" + file + "*"}, QDir::Files | QDir::Hidden).size(),
            written ? 2 : 0);
    }

    // Neither the whole nor the write half replaces a picture already there.
    void existingCoverLeftAlone()
    {
        const QString cover = dir.filePath(QStringLiteral("covers/existing.png"));
        QVERIFY(testkit::touch(cover, "someone else's picture"));
        TagLibBuilder().storeCoverArt(cover, files.value("mp3"));
        const QByteArray png = TagLibBuilder::coverArtPng(files.value("mp3"));
        QVERIFY(!png.isEmpty() && !TagLibBuilder::writeCoverArt(cover, png));
        QCOMPARE(testkit::fileBytes(cover), QByteArray("someone else's picture"));
        // A dangling link is something there too: nothing is written through it.
        const QString link = dir.filePath(QStringLiteral("covers/dangling.png"));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("elsewhere.png")), link));
        QVERIFY(!TagLibBuilder::writeCoverArt(link, png));
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("elsewhere.png"))));
    }

    void mp3BecomesOneId3v23Tag_data()
    {
        QTest::addColumn<bool>("newTitle");
        QTest::addRow("a value changed") << true;
        QTest::addRow("no value changed") << false;
    }

    // Whenever the writer is called on an MP3 with an ID3v2 tag, the file
    // comes out with one ID3v2.3 tag.
    void mp3BecomesOneId3v23Tag()
    {
        QFETCH(bool, newTitle);
        const QString path = copyOf("v24", QStringLiteral("v24.mp3"));
        const QByteArray audio = testkit::audioMd5(path);
        QVERIFY(!audio.isEmpty() && testkit::fileBytes(path).startsWith("ID3\x04"));
        track record = fullRecord(path);
        record.hasTitle = newTitle;
        record.hasArtist = record.hasAlbum = false;
        record.genre = QStringLiteral("Unknown Genre");
        record.year = record.tracknumber = 0;
        QVERIFY(TagLibBuilder().setMissingTag(record));

        TagLib::MPEG::File file(QFile::encodeName(path).constData());
        QVERIFY(file.hasID3v2Tag() && !file.hasID3v1Tag() && !file.hasAPETag());
        TagLib::ID3v2::Tag *tag = file.ID3v2Tag();
        QCOMPARE(tag->header()->majorVersion(), 3u);
        // What only the removed tags held is kept.
        QCOMPARE(TStringToQString((tag->title() + "|" + tag->artist() + "|" + tag->comment() + "|" + tag->genre())),
                 (newTitle ? QStringLiteral("New Title") : full.title) + QStringLiteral("|Artist|from ID3v1|Ska"));
        QCOMPARE(testkit::audioMd5(path), audio);

        // A file already in that shape is not rewritten when nothing changes.
        const QByteArray written = testkit::fileBytes(path);
        const QDateTime modified = QFileInfo(path).lastModified();
        record.hasTitle = false;
        QVERIFY(TagLibBuilder().setMissingTag(record));
        QCOMPARE(testkit::fileBytes(path), written);
        QCOMPARE(QFileInfo(path).lastModified(), modified);
    }

    void guardsKeepFileValues_data()
    {
        QTest::addColumn<int>("kept"); // the field whose file value stays: title, artist, album, genre, year, track
        QTest::addColumn<std::function<void(track &)>>("change");
        using Change = std::function<void(track &)>;
        QTest::newRow("title flag clear") << 0 << Change([](track &r) { r.hasTitle = false; });
        QTest::newRow("artist flag clear") << 1 << Change([](track &r) { r.hasArtist = false; });
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
        want[kept] = QStringList{"Song", "Artist", "Album", "Rock", "2004", "7"}.at(kept);
        QCOMPARE(got, want);
    }

    void writes_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("written"); // untagged: an mp3 without an ID3v2 tag
        for (const char *kind : {"mp3", "wma", "m4a"})
            QTest::newRow(kind) << QString::fromLatin1(kind) << true;
        for (const char *kind : {"flac", "wav", "ogg2", "untagged"})
            QTest::newRow(kind) << QString::fromLatin1(kind) << false;
    }

    // Unicode written, then a longer title that moves the audio; other
    // formats are left as they are.
    void writes()
    {
        QFETCH(QString, kind);
        QFETCH(bool, written);
        const QString path = copyOf(kind, kind + QLatin1Char('/') + QFileInfo(files.value(kind)).fileName());
        const QByteArray audio = testkit::audioMd5(path), before = testkit::fileBytes(path);
        QVERIFY(!audio.isEmpty());
        TagLibBuilder builder;
        track record = fullRecord(path);
        record.trackname = QStringLiteral("夜に駆ける");
        record.artistName = QStringLiteral("Кино");
        builder.setMissingTag(record);
        if (!written) {
            QCOMPARE(testkit::fileBytes(path), before);
            return;
        }
        TagLib::FileRef file(QFile::encodeName(path).constData());
        QVERIFY(!file.isNull() && file.tag());
        QCOMPARE(TStringToQString((file.tag()->title() + "|" + file.tag()->artist())),
                 record.trackname + "|" + record.artistName);
        QCOMPARE(testkit::audioMd5(path), audio);

        record.trackname = QStringLiteral("Third Title, a good deal longer than the first to move the audio");
        builder.setMissingTag(record);
        QCOMPARE(TStringToQString(TagLib::FileRef(QFile::encodeName(path).constData()).tag()->title()),
                 record.trackname);
        QCOMPARE(testkit::audioMd5(path), audio);
        // No working copy stays behind.
        QCOMPARE(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    // Written through a symbolic link, the file it points at is rewritten and
    // keeps its mode bits (and, as root, owner and group); the link stays a
    // link, and the caller hears whether it worked.
    void keepsModeAndOwnerAndReports()
    {
        const QString path = copyOf("mp3", QStringLiteral("owned.mp3")),
                      link = dir.filePath(QStringLiteral("link.mp3"));
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

    // The embedded picture is the file's bytes under their real MIME type and
    // replaces the one before; the audio is untouched, and what is no picture
    // or no MP3 is refused without a change.
    void embedsAPictureUnderItsOwnType()
    {
        const QString jpeg = MediaKit(dir.filePath(QStringLiteral("embed"))).picture(QStringLiteral("c.jpg"), 64, 64);
        const QString path = copyOf("mp3", QStringLiteral("embed.mp3"));
        const QByteArray audio = testkit::audioMd5(path);
        QVERIFY(TagLibBuilder().embedcoverart(path, jpeg) && TagLibBuilder().embedcoverart(path, jpeg));
        QCOMPARE(testkit::audioMd5(path), audio);
        {
            TagLib::MPEG::File file(QFile::encodeName(path).constData());
            const TagLib::ID3v2::FrameList frames = file.ID3v2Tag()->frameList("APIC");
            const auto *frame = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame *>(frames.front());
            QVERIFY(frames.size() == 1 && frame && frame->mimeType() == "image/jpeg");
            QCOMPARE(QByteArray(frame->picture().data(), int(frame->picture().size())), testkit::fileBytes(jpeg));
        }
        const QByteArray before = testkit::fileBytes(path);
        QVERIFY(!TagLibBuilder().embedcoverart(path, files["wav"]));
        QVERIFY(!TagLibBuilder().embedcoverart(copyOf("flac", QStringLiteral("embed.flac")), jpeg));
        QCOMPARE(testkit::fileBytes(path), before);
    }

private:
    QString copyOf(const QString &key, const QString &name)
    {
        const QString path = dir.filePath(QStringLiteral("work/") + name);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile::remove(path);
        return QFile::copy(files.value(key), path) ? path : QString();
    }
    static track fullRecord(const QString &path)
    {
        track record = testkit::makeTrack(path, QStringLiteral("New Album"), QStringLiteral("New Artist"));
        record.hasTitle = record.hasArtist = record.hasAlbum = true;
        record.trackname = QStringLiteral("New Title");
        record.genre = QStringLiteral("Jazz");
        record.year = 2010;
        record.tracknumber = 9;
        return record;
    }

    QTemporaryDir dir;
    QMap<QString, QString> pictures;
    QMap<QString, QString> files;
    const MediaTags full{QStringLiteral("Song"), QStringLiteral("Artist"), QStringLiteral("Album"),
                         QStringLiteral("Rock"), QStringLiteral("Nice"), 2004, 7};
};

CORVANE_TEST_MAIN(TestTags)
#include "tst_tags.moc"
