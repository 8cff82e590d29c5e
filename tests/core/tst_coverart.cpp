#include <QtTest>

#include <QImage>

#include <taglib/asffile.h>

#include "core/taglibbuilder.h"
#include "libraryfixture.h"
#include "mediakit.h"
#include "scanfixture.h"
#include "testenv.h"

using testkit::MediaKit;
using testkit::MediaTags;

// Embedded pictures written as 110 x 110 PNG album covers.
class TestCoverArt : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid() && QDir().mkpath(dir.filePath(QStringLiteral("covers"))));
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
        // An ID3v2 tag (red cover) to put in front of a FLAC file.
        media["id3"] = kit.id3OnlyMp3(QStringLiteral("id3.mp3"), tags, pictures["red"]);
        // A picture frame whose bytes don't decode.
        const QString junk = dir.filePath(QStringLiteral("media/junk.png"));
        QVERIFY(testkit::touch(junk, QByteArray("\x89PNG\r\n\x1a\n") + QByteArray(3000, '\x5a')));
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
            QVERIFY(testkit::touch(file, testkit::fileBytes(media["id3"]) + testkit::fileBytes(file)));
        const QImage image = QImage::fromData(TagLibBuilder::coverArtPng(file), "PNG");
        QVERIFY(!image.isNull());
        QFETCH(QString, expected);
        QVERIFY2(testkit::closeColour(image.pixelColor(55, 55), QColor(expected)), qPrintable(image.pixelColor(55, 55).name()));
    }

    void coverWritten_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QSize>("size"); // 0 x 0: nothing written
        QTest::addRow("mp3 APIC") << "mp3" << "covers" << QSize(110, 73); // 300 x 200 keeps its aspect
        QTest::addRow("flac picture") << "flac" << "covers" << QSize(110, 73);
        QTest::addRow("Upper.M4A covr") << "m4a" << "covers" << QSize(110, 73);
        QTest::addRow("wma WM/Picture") << "wma" << "covers" << QSize(110, 73);
        QTest::addRow("mp3 without picture") << "plain" << "covers" << QSize(0, 0);
        QTest::addRow("wma without picture") << "wmaplain" << "covers" << QSize(0, 0);
        QTest::addRow("missing file") << "missing" << "covers" << QSize(0, 0);
        QTest::addRow("garbage APIC frame") << "garbage" << "covers" << QSize(0, 0);
        QTest::addRow("garbage WM/Picture") << "wmjunk" << "covers" << QSize(0, 0);
        QTest::addRow("missing cover folder") << "mp3" << "no/such/folder" << QSize(0, 0);
    }

    // A scan decodes on worker threads (coverArtPng) and writes later
    // (writeCoverArt); storeCoverArt does both at once.
    void coverWritten()
    {
        QFETCH(QString, file);
        QFETCH(QString, folder);
        QFETCH(QSize, size);
        const QString source = media.value(file, dir.filePath(QStringLiteral("missing.mp3")));
        const QString whole = dir.filePath(folder + QStringLiteral("/whole-") + file + QStringLiteral(".png"));
        const QString halves = dir.filePath(folder + QStringLiteral("/halves-") + file + QStringLiteral(".png"));
        TagLibBuilder().storeCoverArt(whole, source);
        QCOMPARE(TagLibBuilder::writeCoverArt(halves, TagLibBuilder::coverArtPng(source)), !size.isEmpty());
        for (const QString &cover : {whole, halves}) {
            QCOMPARE(QImage(cover, "PNG").size(), size);
            QCOMPARE(QFileInfo::exists(cover), !size.isEmpty());
        }
        // Nothing half-written stays beside them either.
        QCOMPARE(QDir(QFileInfo(whole).absolutePath()).entryList({"*-" + file + "*"}, QDir::Files | QDir::Hidden).size(),
                 size.isEmpty() ? 0 : 2);
    }

    // Neither the whole nor the write half replaces a picture already there.
    void existingCoverLeftAlone()
    {
        const QString cover = coverPath(QStringLiteral("existing"));
        QVERIFY(testkit::touch(cover, "someone else's picture"));
        TagLibBuilder().storeCoverArt(cover, media.value("mp3"));
        const QByteArray png = TagLibBuilder::coverArtPng(media.value("mp3"));
        QVERIFY(!png.isEmpty() && !TagLibBuilder::writeCoverArt(cover, png));
        QCOMPARE(testkit::fileBytes(cover), QByteArray("someone else's picture"));
        // A dangling link is something there too: nothing is written through it.
        const QString link = coverPath(QStringLiteral("dangling"));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("elsewhere.png")), link));
        QVERIFY(!TagLibBuilder::writeCoverArt(link, png));
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("elsewhere.png"))));
    }

private:
    QString coverPath(const QString &name) const { return dir.filePath(QStringLiteral("covers/") + name + ".png"); }
    QTemporaryDir dir;
    QMap<QString, QString> pictures;
    QMap<QString, QString> media;
};

CORVANE_TEST_MAIN(TestCoverArt)
#include "tst_coverart.moc"
