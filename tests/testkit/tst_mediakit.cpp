#include <QtTest>

#include <taglib/fileref.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tpropertymap.h>

#include "mediakit.h"
#include "testenv.h"

using testkit::MediaKit;
using testkit::MediaTags;

// The generated media every later test relies on: TagLib reads each file
// back with the title it was given.
class TestMediaKit : public QObject
{
    Q_OBJECT

private slots:
    void taggedFiles_data();
    void taggedFiles();
    void untaggedMp3AndPictures();

private:
    QTemporaryDir dir;
};

void TestMediaKit::taggedFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("title");
    QTest::addRow("mp3") << "mp3" << "Song";
    QTest::addRow("flac") << "flac" << "夜に駆ける";
    QTest::addRow("m4a") << "m4a" << "Группа крови";
    QTest::addRow("wav") << "wav" << "Wave Song";
    QTest::addRow("wma") << "wma" << "WMA Song";
}

void TestMediaKit::taggedFiles()
{
    QFETCH(QString, kind);
    QFETCH(QString, title);
    MediaKit kit(dir.path());
    const QString cover = kit.picture(QStringLiteral("cover.jpg"), 64, 64);
    MediaTags tags;
    tags.title = title;
    const QString name = QStringLiteral("file.") + kind;
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
    QVERIFY(!ref.isNull() && ref.audioProperties());
    const TagLib::PropertyMap properties = ref.file()->properties();
    QVERIFY(properties.contains("TITLE"));
    QCOMPARE(QString::fromStdWString(properties["TITLE"].front().toWString()), title);
    QVERIFY(ref.audioProperties()->lengthInMilliseconds() > 2500);
}

void TestMediaKit::untaggedMp3AndPictures()
{
    MediaKit kit(dir.path());
    const QString untagged = kit.untaggedMp3(QStringLiteral("untagged.mp3"));
    QVERIFY2(!untagged.isEmpty(), qPrintable(kit.lastError()));
    TagLib::MPEG::File bare(QFile::encodeName(untagged).constData());
    QVERIFY(bare.isValid() && !bare.hasID3v2Tag() && !bare.hasID3v1Tag());

    QVERIFY(MediaKit::padToSize(untagged, 200 * 1024));
    QCOMPARE(QFileInfo(untagged).size(), 200 * 1024);

    const QString back = kit.picture(QStringLiteral("back.png"), 20, 20, QStringLiteral("blue"));
    const QString front = kit.picture(QStringLiteral("front.png"), 30, 30, QStringLiteral("green"));
    const QString mp3 = kit.mp3(QStringLiteral("apic.mp3"), {});
    QVERIFY(MediaKit::addApicFrames(mp3, {{4, back}, {3, front}}));
    TagLib::MPEG::File file(QFile::encodeName(mp3).constData());
    QCOMPARE(file.ID3v2Tag()->frameListMap()["APIC"].size(), 2u);
    QVERIFY2(!kit.video(QStringLiteral("clip.mp4"), 2).isEmpty(), qPrintable(kit.lastError()));
}

CORVANE_TEST_MAIN(TestMediaKit)
#include "tst_mediakit.moc"
