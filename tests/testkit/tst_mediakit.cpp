#include <QtTest>

#include <taglib/fileref.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tag.h>
#include <taglib/tpropertymap.h>

#include "mediakit.h"
#include "testenv.h"

using testkit::MediaKit;
using testkit::MediaTags;

// The generated media every later test relies on.
class TestMediaKit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void taggedFiles_data();
    void taggedFiles();
    void untaggedMp3HasNoTag();
    void sizesAndPictures();

private:
    QTemporaryDir dir;
    QString cover;
};

void TestMediaKit::initTestCase()
{
    QVERIFY(dir.isValid());
    MediaKit kit(dir.path());
    cover = kit.picture(QStringLiteral("cover.jpg"), 64, 64);
    QVERIFY2(!cover.isEmpty(), qPrintable(kit.lastError()));
}

void TestMediaKit::taggedFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("title");
    QTest::addRow("mp3 with cover") << "mp3" << "Song";
    QTest::addRow("flac with cover") << "flac" << "Flac Song";
    QTest::addRow("m4a with cover") << "m4a" << "M4A Song";
    QTest::addRow("wav") << "wav" << "Wave Song";
    QTest::addRow("wma with picture") << "wma" << "WMA Song";
    QTest::addRow("cyrillic title") << "mp3" << "Группа крови";
    QTest::addRow("japanese title") << "flac" << "夜に駆ける";
}

void TestMediaKit::taggedFiles()
{
    QFETCH(QString, kind);
    QFETCH(QString, title);
    MediaKit kit(dir.path());
    MediaTags tags;
    tags.title = title;
    tags.artist = QStringLiteral("Artist");
    tags.album = QStringLiteral("Album");
    const QString name = QStringLiteral("%1/file.%2").arg(QTest::currentDataTag(), kind);
    QString path;
    if (kind == QLatin1String("mp3"))
        path = kit.mp3(name, tags, cover);
    else if (kind == QLatin1String("flac"))
        path = kit.flac(name, tags, cover);
    else if (kind == QLatin1String("m4a"))
        path = kit.m4a(name, tags, cover);
    else if (kind == QLatin1String("wav"))
        path = kit.wav(name, tags);
    else
        path = kit.wma(name, tags, cover);
    QVERIFY2(!path.isEmpty(), qPrintable(kit.lastError()));

    TagLib::FileRef ref(QFile::encodeName(path).constData());
    QVERIFY(!ref.isNull());
    const TagLib::PropertyMap properties = ref.file()->properties();
    QVERIFY(properties.contains("TITLE"));
    QCOMPARE(QString::fromStdWString(properties["TITLE"].front().toWString()), title);
    QVERIFY(ref.audioProperties());
    QVERIFY(ref.audioProperties()->lengthInMilliseconds() > 2500);
}

void TestMediaKit::untaggedMp3HasNoTag()
{
    MediaKit kit(dir.path());
    const QString path = kit.untaggedMp3(QStringLiteral("untagged.mp3"));
    QVERIFY2(!path.isEmpty(), qPrintable(kit.lastError()));
    TagLib::MPEG::File file(QFile::encodeName(path).constData());
    QVERIFY(file.isValid());
    QVERIFY(!file.hasID3v2Tag());
    QVERIFY(!file.hasID3v1Tag());
}

void TestMediaKit::sizesAndPictures()
{
    MediaKit kit(dir.path());
    const QString big = kit.mp3(QStringLiteral("big.mp3"), {}, QString(), 8);
    QVERIFY(QFileInfo(big).size() > 100 * 1024);
    QVERIFY(MediaKit::padToSize(big, 200 * 1024));
    QCOMPARE(QFileInfo(big).size(), 200 * 1024);

    const QString back = kit.picture(QStringLiteral("back.png"), 20, 20, QStringLiteral("blue"));
    const QString front = kit.picture(QStringLiteral("front.png"), 30, 30, QStringLiteral("green"));
    const QString mp3 = kit.mp3(QStringLiteral("apic.mp3"), {});
    QVERIFY(MediaKit::addApicFrames(mp3, {{4, back}, {3, front}}));
    TagLib::MPEG::File file(QFile::encodeName(mp3).constData());
    QCOMPARE(file.ID3v2Tag()->frameListMap()["APIC"].size(), 2u);

    const QString clip = kit.video(QStringLiteral("clip.mp4"), 2);
    QVERIFY2(!clip.isEmpty(), qPrintable(kit.lastError()));
}

CORVANE_TEST_MAIN(TestMediaKit)
#include "tst_mediakit.moc"
