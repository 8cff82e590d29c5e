#include <QtTest>

#include <QImage>

#include <taglib/asffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/id3v2tag.h>

#include "core/taglibbuilder.h"
#include "mediakit.h"
#include "testenv.h"

using testkit::MediaKit;
using testkit::MediaTags;

// Embedded pictures written as 110 x 110 PNG album covers.
class TestCoverArt : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void frontCoverPreferred_data();
    void frontCoverPreferred();
    void nothingWritten_data();
    void nothingWritten();
    void attachedPictureFrameMadeOnce();
    void decodeAndWriteHalvesMatch_data();
    void decodeAndWriteHalvesMatch();
    void existingCoverLeftAlone();

private:
    QString coverPath(const QString &name) const { return dir.filePath(QStringLiteral("covers/") + name + ".png"); }
    QTemporaryDir dir;
    QMap<QString, QString> pictures;
    QMap<QString, QString> media;
};

void TestCoverArt::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("covers"))));
    MediaKit kit(dir.filePath(QStringLiteral("media")));
    pictures["wide"] = kit.picture(QStringLiteral("wide.jpg"), 300, 200);
    for (const char *colour : {"red", "blue", "green"})
        pictures[colour] = kit.picture(QStringLiteral("%1.png").arg(QLatin1String(colour)), 64, 64, colour);
    const MediaTags tags{QStringLiteral("Song"), QStringLiteral("Artist"), QStringLiteral("Album"), {}, {}, 0, 0};
    media["mp3"] = kit.mp3(QStringLiteral("wide.mp3"), tags, pictures["wide"]);
    media["flac"] = kit.flac(QStringLiteral("wide.flac"), tags, pictures["wide"]);
    media["m4a"] = kit.m4a(QStringLiteral("Upper.M4A"), tags, pictures["wide"]);
    media["wma"] = kit.wma(QStringLiteral("wide.wma"), tags, pictures["wide"]);
    media["plain"] = kit.mp3(QStringLiteral("plain.mp3"), tags);
    media["wmaplain"] = kit.wma(QStringLiteral("plain.wma"), tags);

    // A picture frame whose bytes don't decode.
    const QString junk = dir.filePath(QStringLiteral("media/junk.png"));
    QFile file(junk);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("\x89PNG\r\n\x1a\n") + QByteArray(3000, '\x5a'));
    file.close();
    media["garbage"] = kit.mp3(QStringLiteral("garbage.mp3"), tags);
    QVERIFY(MediaKit::addApicFrames(media["garbage"], {{3, junk}}));
    // A WM/Picture attribute that isn't a picture structure.
    media["wmjunk"] = dir.filePath(QStringLiteral("media/junk.wma"));
    QVERIFY(QFile::copy(media["wmaplain"], media["wmjunk"]));
    TagLib::ASF::File asf(QFile::encodeName(media["wmjunk"]).constData());
    asf.tag()->setAttribute("WM/Picture", TagLib::ASF::Attribute(TagLib::ByteVector("xy", 2)));
    QVERIFY(asf.save());

    for (auto it = media.cbegin(); it != media.cend(); ++it)
        QVERIFY2(!it.value().isEmpty(), qPrintable(it.key() + ": " + kit.lastError()));
}

void TestCoverArt::frontCoverPreferred_data()
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
}

void TestCoverArt::frontCoverPreferred()
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

    const QString cover = coverPath(QStringLiteral("apic-") + tag);
    TagLibBuilder().storeCoverArt(cover, file);
    const QImage image(cover, "PNG");
    QVERIFY(!image.isNull());
    const QColor got = image.pixelColor(55, 55);
    QFETCH(QString, expected);
    const QColor want(expected);
    // ffmpeg's colour conversion is off by a step or two.
    QVERIFY2(qAbs(got.red() - want.red()) + qAbs(got.green() - want.green()) + qAbs(got.blue() - want.blue()) < 60,
             qPrintable(got.name()));
}

void TestCoverArt::nothingWritten_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("folder");
    QTest::addRow("mp3 without picture") << "plain" << "covers";
    QTest::addRow("wma without picture") << "wmaplain" << "covers";
    QTest::addRow("missing file") << "missing" << "covers";
    QTest::addRow("garbage APIC frame") << "garbage" << "covers";
    QTest::addRow("garbage WM/Picture") << "wmjunk" << "covers";
    QTest::addRow("missing cover folder") << "mp3" << "no/such/folder";
}

void TestCoverArt::nothingWritten()
{
    QFETCH(QString, file);
    QFETCH(QString, folder);
    const QString cover = dir.filePath(folder + QStringLiteral("/nothing-") + file + QStringLiteral(".png"));
    TagLibBuilder().storeCoverArt(cover, media.value(file, dir.filePath(QStringLiteral("missing.mp3"))));
    QVERIFY(!QFileInfo::exists(cover));
    // Nothing half-written stays beside it either.
    QCOMPARE(QDir(QFileInfo(cover).absolutePath()).entryList({QStringLiteral("*nothing-*")}, QDir::Files | QDir::Hidden),
             QStringList());
}

void TestCoverArt::attachedPictureFrameMadeOnce()
{
    TagLibBuilder builder;
    QCOMPARE(builder.attachedPictureFrame(nullptr, true), nullptr);
    TagLib::ID3v2::Tag empty;
    QCOMPARE(builder.attachedPictureFrame(&empty, false), nullptr);
    TagLib::ID3v2::AttachedPictureFrame *made = builder.attachedPictureFrame(&empty, true);
    QVERIFY(made);
    QCOMPARE(builder.attachedPictureFrame(&empty, true), made);
    QCOMPARE(empty.frameList("APIC").size(), 1u);
}

void TestCoverArt::decodeAndWriteHalvesMatch_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QSize>("size"); // 0 x 0: no picture
    QTest::addRow("mp3 APIC") << "mp3" << QSize(110, 73); // 300 x 200 keeps its aspect
    QTest::addRow("flac picture") << "flac" << QSize(110, 73);
    QTest::addRow("Upper.M4A covr") << "m4a" << QSize(110, 73);
    QTest::addRow("wma WM/Picture") << "wma" << QSize(110, 73);
    QTest::addRow("mp3 without picture") << "plain" << QSize(0, 0);
    QTest::addRow("garbage APIC frame") << "garbage" << QSize(0, 0);
    QTest::addRow("garbage WM/Picture") << "wmjunk" << QSize(0, 0);
}

// A scan decodes on worker threads and writes later: the two halves must
// give exactly the file storeCoverArt writes, or none.
void TestCoverArt::decodeAndWriteHalvesMatch()
{
    QFETCH(QString, file);
    const QString whole = coverPath(QStringLiteral("whole-") + file);
    const QString halves = coverPath(QStringLiteral("halves-") + file);
    TagLibBuilder().storeCoverArt(whole, media.value(file));
    QTEST(QImage(whole, "PNG").size(), "size");
    const QByteArray png = TagLibBuilder::coverArtPng(media.value(file));
    QCOMPARE(TagLibBuilder::writeCoverArt(halves, png), !png.isEmpty());
    QCOMPARE(QFileInfo::exists(halves), QFileInfo::exists(whole));
    QFile a(whole);
    QFile b(halves);
    if (a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly))
        QCOMPARE(b.readAll(), a.readAll());
    QCOMPARE(QFileInfo(halves).permissions(), QFileInfo(whole).permissions());
}

// Neither the whole nor the write half replaces a picture already there.
void TestCoverArt::existingCoverLeftAlone()
{
    const QString cover = coverPath(QStringLiteral("existing"));
    QFile file(cover);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("someone else's picture");
    file.close();
    TagLibBuilder().storeCoverArt(cover, media.value("mp3"));
    const QByteArray png = TagLibBuilder::coverArtPng(media.value("mp3"));
    QVERIFY(!png.isEmpty());
    QVERIFY(!TagLibBuilder::writeCoverArt(cover, png));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("someone else's picture"));
    // A dangling link is something there too: nothing is written through it.
    const QString link = coverPath(QStringLiteral("dangling"));
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("elsewhere.png")), link));
    QVERIFY(!TagLibBuilder::writeCoverArt(link, png));
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("elsewhere.png"))));
}

CORVANE_TEST_MAIN(TestCoverArt)
#include "tst_coverart.moc"
