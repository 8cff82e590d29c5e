#include <QtTest>

#include <QImage>

#include <taglib/asffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>

#include "core/taglibbuilder.h"
#include "mediakit.h"
#include "testenv.h"

using testkit::MediaKit;
using testkit::MediaTags;
using Picture = TagLib::ID3v2::AttachedPictureFrame;

// Embedded pictures written as 110 x 110 PNG album covers.
class TestCoverArt : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void extracts_data();
    void extracts();
    void frontCoverPreferred_data();
    void frontCoverPreferred();
    void existingCoverLeftAlone();
    void nothingToExtract_data();
    void nothingToExtract();
    void garbagePictureLeavesNoFile();
    void invalidWmPictureLeavesNoFile();
    void missingFolderLeavesNoFile();
    void flacFirstPictureWhateverItsType();
    void attachedPictureFrameRules();

private:
    QString coverPath(const QString &name) const { return dir.filePath(QStringLiteral("covers/") + name + ".png"); }
    static QColor centreColour(const QString &png);
    // ffmpeg's colour conversion is off by a step or two.
    static bool near(const QColor &a, const QColor &b)
    {
        return qAbs(a.red() - b.red()) <= 8 && qAbs(a.green() - b.green()) <= 8 && qAbs(a.blue() - b.blue()) <= 8;
    }
    QTemporaryDir dir;
    QMap<QString, QString> pictures;
    QMap<QString, QString> media;
};

QColor TestCoverArt::centreColour(const QString &png)
{
    const QImage image(png, "PNG");
    return image.isNull() ? QColor() : image.pixelColor(image.width() / 2, image.height() / 2);
}

void TestCoverArt::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("covers"))));
    MediaKit kit(dir.filePath(QStringLiteral("media")));
    pictures["wide"] = kit.picture(QStringLiteral("wide.jpg"), 300, 200);
    pictures["big"] = kit.picture(QStringLiteral("big.png"), 500, 500, QStringLiteral("blue"));
    pictures["small"] = kit.picture(QStringLiteral("small.png"), 50, 50, QStringLiteral("green"));
    pictures["red"] = kit.picture(QStringLiteral("red.png"), 64, 64, QStringLiteral("red"));
    pictures["blue"] = kit.picture(QStringLiteral("blue.png"), 64, 64, QStringLiteral("blue"));
    pictures["green"] = kit.picture(QStringLiteral("green.png"), 64, 64, QStringLiteral("green"));
    const MediaTags tags{QStringLiteral("Song"), QStringLiteral("Artist"), QStringLiteral("Album"), {}, {}, 0, 0};
    media["mp3"] = kit.mp3(QStringLiteral("wide.mp3"), tags, pictures["wide"]);
    media["mp3big"] = kit.mp3(QStringLiteral("big.mp3"), tags, pictures["big"]);
    media["mp3small"] = kit.mp3(QStringLiteral("small.mp3"), tags, pictures["small"]);
    media["flac"] = kit.flac(QStringLiteral("wide.flac"), tags, pictures["wide"]);
    media["m4a"] = kit.m4a(QStringLiteral("wide.m4a"), tags, pictures["wide"]);
    media["M4A"] = kit.m4a(QStringLiteral("Upper.M4A"), tags, pictures["wide"]);
    media["wma"] = kit.wma(QStringLiteral("wide.wma"), tags, pictures["wide"]);
    media["plain"] = kit.mp3(QStringLiteral("plain.mp3"), tags);
    media["wav"] = kit.wav(QStringLiteral("plain.wav"), tags);
    media["flacplain"] = kit.flac(QStringLiteral("plain.flac"), tags);
    media["wmaplain"] = kit.wma(QStringLiteral("plain.wma"), tags);
    for (auto it = pictures.cbegin(); it != pictures.cend(); ++it)
        QVERIFY2(!it.value().isEmpty(), qPrintable(it.key()));
    for (auto it = media.cbegin(); it != media.cend(); ++it)
        QVERIFY2(!it.value().isEmpty(), qPrintable(it.key() + ": " + kit.lastError()));
}

void TestCoverArt::extracts_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QSize>("size");
    QTest::addRow("mp3 300x200 becomes 110x73") << "mp3" << QSize(110, 73);
    QTest::addRow("mp3 500x500 becomes 110x110") << "mp3big" << QSize(110, 110);
    QTest::addRow("mp3 50x50 is enlarged") << "mp3small" << QSize(110, 110);
    QTest::addRow("flac") << "flac" << QSize(110, 73);
    QTest::addRow("m4a") << "m4a" << QSize(110, 73);
    QTest::addRow("Upper.M4A") << "M4A" << QSize(110, 73);
    QTest::addRow("wma WM/Picture") << "wma" << QSize(110, 73);
}

void TestCoverArt::extracts()
{
    QFETCH(QString, file);
    const QString cover = coverPath(QStringLiteral("extract-") + file);
    QCOMPARE(TagLibBuilder().storeCoverArt(cover, media.value(file)), QString());
    const QImage image(cover, "PNG");
    QVERIFY2(!image.isNull(), "a PNG is written");
    QTEST(image.size(), "size");
}

void TestCoverArt::frontCoverPreferred_data()
{
    QTest::addColumn<QList<int>>("types");
    QTest::addColumn<QStringList>("colours");
    QTest::addColumn<QString>("expected");
    QTest::addRow("back then front") << QList<int>{4, 3} << QStringList{"red", "blue"} << "blue";
    QTest::addRow("other, back, front") << QList<int>{0, 4, 3} << QStringList{"red", "green", "blue"} << "blue";
    QTest::addRow("no front: the first") << QList<int>{4, 0} << QStringList{"green", "red"} << "green";
    QTest::addRow("only one, a back cover") << QList<int>{4} << QStringList{"red"} << "red";
}

void TestCoverArt::frontCoverPreferred()
{
    QFETCH(QList<int>, types);
    QFETCH(QStringList, colours);
    const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('_'));
    MediaKit kit(dir.filePath(QStringLiteral("apic")));
    const QString mp3 = kit.mp3(tag + QStringLiteral(".mp3"), {QStringLiteral("S"), {}, {}, {}, {}, 0, 0});
    QVERIFY(!mp3.isEmpty());
    QList<QPair<int, QString>> frames;
    for (int i = 0; i < types.size(); ++i)
        frames.append({types.at(i), pictures.value(colours.at(i))});
    QVERIFY(MediaKit::addApicFrames(mp3, frames));

    const QString cover = coverPath(QStringLiteral("apic-") + tag);
    TagLibBuilder().storeCoverArt(cover, mp3);
    QFETCH(QString, expected);
    QVERIFY2(near(centreColour(cover), QColor(expected)), qPrintable(centreColour(cover).name()));
}

void TestCoverArt::existingCoverLeftAlone()
{
    const QString cover = coverPath(QStringLiteral("existing"));
    QFile file(cover);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("someone else's picture");
    file.close();
    TagLibBuilder().storeCoverArt(cover, media.value("mp3"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("someone else's picture"));
}

void TestCoverArt::nothingToExtract_data()
{
    QTest::addColumn<QString>("file");
    QTest::addRow("mp3 without picture") << "plain";
    QTest::addRow("wav") << "wav";
    QTest::addRow("flac without picture") << "flacplain";
    QTest::addRow("wma without picture") << "wmaplain";
    QTest::addRow("missing file") << "missing";
}

void TestCoverArt::nothingToExtract()
{
    QFETCH(QString, file);
    const QString cover = coverPath(QStringLiteral("nothing-") + file);
    TagLibBuilder().storeCoverArt(cover, media.value(file, dir.filePath(QStringLiteral("missing.mp3"))));
    QVERIFY(!QFileInfo::exists(cover));
}

void TestCoverArt::garbagePictureLeavesNoFile()
{
    MediaKit kit(dir.filePath(QStringLiteral("garbage")));
    const QString mp3 = kit.mp3(QStringLiteral("garbage.mp3"), {QStringLiteral("S"), {}, {}, {}, {}, 0, 0});
    const QString junk = dir.filePath(QStringLiteral("garbage/junk.png"));
    QFile file(junk);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("\x89PNG\r\n\x1a\n") + QByteArray(3000, '\x5a'));
    file.close();
    QVERIFY(MediaKit::addApicFrames(mp3, {{3, junk}}));

    const QString cover = coverPath(QStringLiteral("garbage"));
    TagLibBuilder().storeCoverArt(cover, mp3);
    QVERIFY(!QFileInfo::exists(cover));
    // Nothing half-written stays beside it either.
    QCOMPARE(QDir(QFileInfo(cover).absolutePath()).entryList({QStringLiteral("garbage*")}, QDir::Files | QDir::Hidden),
             QStringList());
}

void TestCoverArt::invalidWmPictureLeavesNoFile()
{
    MediaKit kit(dir.filePath(QStringLiteral("wmjunk")));
    const QString wma = kit.wma(QStringLiteral("junk.wma"), {QStringLiteral("S"), {}, {}, {}, {}, 0, 0});
    QVERIFY(!wma.isEmpty());
    {
        TagLib::ASF::File file(QFile::encodeName(wma).constData());
        QVERIFY(file.tag());
        // A byte-vector attribute that isn't a WM/Picture structure.
        file.tag()->setAttribute("WM/Picture", TagLib::ASF::Attribute(TagLib::ByteVector("xy", 2)));
        QVERIFY(file.save());
    }
    const QString cover = coverPath(QStringLiteral("wmjunk"));
    TagLibBuilder().storeCoverArt(cover, wma);
    QVERIFY(!QFileInfo::exists(cover));
}

void TestCoverArt::missingFolderLeavesNoFile()
{
    const QString cover = dir.filePath(QStringLiteral("no/such/folder/cover.png"));
    TagLibBuilder().storeCoverArt(cover, media.value("mp3"));
    QVERIFY(!QFileInfo::exists(cover));
}

void TestCoverArt::flacFirstPictureWhateverItsType()
{
    const QString flac = dir.filePath(QStringLiteral("media/two-pictures.flac"));
    QVERIFY(QFile::copy(media.value("flacplain"), flac));
    {
        TagLib::FLAC::File file(QFile::encodeName(flac).constData());
        QVERIFY(file.isValid());
        const auto add = [&file](const QString &path, TagLib::FLAC::Picture::Type type) {
            QFile picture(path);
            if (!picture.open(QIODevice::ReadOnly))
                return;
            const QByteArray bytes = picture.readAll();
            auto *entry = new TagLib::FLAC::Picture;
            entry->setType(type);
            entry->setMimeType("image/png");
            entry->setData(TagLib::ByteVector(bytes.constData(), unsigned(bytes.size())));
            file.addPicture(entry);
        };
        add(pictures.value("green"), TagLib::FLAC::Picture::BackCover);
        add(pictures.value("blue"), TagLib::FLAC::Picture::FrontCover);
        QVERIFY(file.save());
    }
    const QString cover = coverPath(QStringLiteral("flac-back"));
    TagLibBuilder().storeCoverArt(cover, flac);
    QVERIFY2(near(centreColour(cover), QColor("green")), qPrintable(centreColour(cover).name()));
}

void TestCoverArt::attachedPictureFrameRules()
{
    TagLibBuilder builder;
    QCOMPARE(builder.attachedPictureFrame(nullptr, true), nullptr);

    TagLib::ID3v2::Tag empty;
    QCOMPARE(builder.attachedPictureFrame(&empty, false), nullptr);
    QVERIFY(empty.frameList("APIC").isEmpty());
    Picture *made = builder.attachedPictureFrame(&empty, true);
    QVERIFY(made);
    QCOMPARE(empty.frameList("APIC").size(), 1u);
    QCOMPARE(builder.attachedPictureFrame(&empty, true), made);  // no second frame

    const auto frame = [](Picture::Type type) {
        auto *picture = new Picture;
        picture->setType(type);
        return picture;
    };
    TagLib::ID3v2::Tag backThenFront;
    Picture *back = frame(Picture::BackCover);
    Picture *front = frame(Picture::FrontCover);
    backThenFront.addFrame(back);
    backThenFront.addFrame(front);
    QCOMPARE(builder.attachedPictureFrame(&backThenFront, false), front);

    TagLib::ID3v2::Tag single;
    Picture *only = frame(Picture::Artist);
    single.addFrame(only);
    QCOMPARE(builder.attachedPictureFrame(&single, false), only);

    TagLib::ID3v2::Tag noFront;
    Picture *first = frame(Picture::Other);
    noFront.addFrame(first);
    noFront.addFrame(frame(Picture::BackCover));
    QCOMPARE(builder.attachedPictureFrame(&noFront, true), first);
    QCOMPARE(noFront.frameList("APIC").size(), 2u);
}

CORVANE_TEST_MAIN(TestCoverArt)
#include "tst_coverart.moc"
