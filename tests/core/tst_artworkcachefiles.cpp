#include <QtTest>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "core/artworkcachefiles.h"
#include "testenv.h"

// The cache file walk both the artwork index and the extracter list from.
class TestArtworkCacheFiles : public QObject
{
    Q_OBJECT

private slots:
    void entries_data();
    void entries();
    void missingFolder();
};

void TestArtworkCacheFiles::entries_data()
{
    QTest::addColumn<QString>("file"); // relative to the walked folder
    QTest::addColumn<bool>("listed");
    QTest::addColumn<QString>("id");
    QTest::addRow("itc2 file") << QStringLiteral("0A1B-6C08B3E9D4D50F3A.itc2") << true
                               << QStringLiteral("6C08B3E9D4D50F3A");
    QTest::addRow("itc file in a sub-folder") << QStringLiteral("11/02/X-S1.itc") << true << QStringLiteral("S1");
    QTest::addRow("suffix in upper case") << QStringLiteral("X-Y.ITC2") << true << QStringLiteral("Y");
    QTest::addRow("no hyphen: the suffix is the second part")
        << QStringLiteral("ABC.itc") << true << QStringLiteral("itc");
    QTest::addRow("picture not listed") << QStringLiteral("X-Y.png") << false << QString();
    QTest::addRow("backup not listed") << QStringLiteral("X-Y.itc2.bak") << false << QString();
}

void TestArtworkCacheFiles::entries()
{
    QFETCH(QString, file);
    QFETCH(bool, listed);
    QFETCH(QString, id);
    QTemporaryDir dir;
    const QString path = dir.filePath(file);
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write("x");
    out.close();

    const QList<ArtworkCacheFiles::Entry> files = ArtworkCacheFiles::list(dir.path());
    QCOMPARE(files.size(), listed ? 1 : 0);
    if (!listed)
        return;
    QCOMPARE(files.first().fileName, QFileInfo(path).fileName());
    QCOMPARE(QFileInfo(files.first().filePath).canonicalFilePath(), QFileInfo(path).canonicalFilePath());
    QVERIFY(files.first().hasId);
    QCOMPARE(files.first().id, id);
}

void TestArtworkCacheFiles::missingFolder()
{
    QTemporaryDir dir;
    QVERIFY(ArtworkCacheFiles::list(dir.filePath(QStringLiteral("absent"))).isEmpty());
}

CORVANE_TEST_MAIN(TestArtworkCacheFiles)
#include "tst_artworkcachefiles.moc"
