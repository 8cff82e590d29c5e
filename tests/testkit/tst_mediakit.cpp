#include <QtTest>

#include <taglib/fileref.h>
#include <taglib/tpropertymap.h>

#include "mediakit.h"
#include "testenv.h"

using testkit::MediaKit;

// The generated media every later test relies on: TagLib reads each file
// back with the title it was given.
class TestMediaKit : public QObject
{
    Q_OBJECT

private slots:
    void taggedFiles_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addRow("mp3") << "Song";
        QTest::addRow("flac") << "夜に駆ける";
        QTest::addRow("m4a") << "Группа крови";
        QTest::addRow("wav") << "Wave Song";
        QTest::addRow("wma") << "WMA Song";
    }

    void taggedFiles()
    {
        testkit::MediaTags tags;
        QFETCH(QString, title);
        tags.title = title;
        MediaKit kit(dir.path());
        const QString cover = kit.picture(QStringLiteral("cover.jpg"), 64, 64);
        const QString kind = QTest::currentDataTag(), name = "file." + kind;
        const QString path = kind == "mp3"    ? kit.mp3(name, tags, cover)
                             : kind == "flac" ? kit.flac(name, tags, cover)
                             : kind == "m4a"  ? kit.m4a(name, tags, cover)
                             : kind == "wav"  ? kit.wav(name, tags)
                                              : kit.wma(name, tags, cover);
        QVERIFY2(!path.isEmpty(), qPrintable(kit.lastError()));
        TagLib::FileRef ref(QFile::encodeName(path).constData());
        QVERIFY(!ref.isNull() && ref.audioProperties() && ref.audioProperties()->lengthInMilliseconds() > 2500);
        QCOMPARE(QString::fromStdWString(ref.file()->properties()["TITLE"].toString().toWString()), title);
    }

private:
    QTemporaryDir dir;
};

CORVANE_TEST_MAIN(TestMediaKit)
#include "tst_mediakit.moc"
