#include <QtTest>

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <cstdio>
#include <unistd.h>

#include "core/itunecoverartextracter.h"
#include "core/shared.h"
#include "testenv.h"

namespace {

// One item of a synthetic artwork cache file; zero lengths are computed.
struct CacheItem
{
    QByteArray image;
    qint32 width = 600;
    QByteArray location = "locl";
    QByteArray format = "PNGf";
    quint32 length = 0;       // 0: header length + image size
    quint32 headerLength = 208;
    bool forceLength = false; // write length as given, even 0
    QByteArray tag = "item";
};

void put32(QByteArray &bytes, quint32 value)
{
    const char b[4] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    bytes.append(b, 4);
}

QByteArray itemBytes(const CacheItem &item)
{
    QByteArray bytes;
    const quint32 length = item.forceLength || item.length ? item.length : item.headerLength + quint32(item.image.size());
    put32(bytes, length);
    bytes.append(item.tag);
    put32(bytes, item.headerLength);
    put32(bytes, 1);
    put32(bytes, 2);
    put32(bytes, 1);
    put32(bytes, 0);
    bytes.append(8, '\0');
    bytes.append(QByteArray::fromHex("6C08B3E9D4D50F3A")); // persistent id
    bytes.append(item.location);
    bytes.append(item.format);
    put32(bytes, 0);
    put32(bytes, quint32(item.width));
    if (item.headerLength > quint32(bytes.size()) && item.headerLength < 4096)
        bytes.append(int(item.headerLength) - bytes.size(), '\0');
    return bytes + item.image;
}

// A cache file: header (length 0x114 as iTunes writes it), then the items.
QByteArray cacheFile(const QList<CacheItem> &items, const QByteArray &flags = QByteArray::fromHex("000000020000000200000002"
                                                                                                  "00000000"),
                     const QByteArray &itch = "itch", const QByteArray &artw = "artw", quint32 headerLength = 0x114)
{
    QByteArray bytes;
    put32(bytes, headerLength);
    bytes.append(itch);
    bytes.append(flags);
    bytes.append(artw);
    bytes.append(0x114 - bytes.size(), '\0');
    for (const CacheItem &item : items)
        bytes.append(itemBytes(item));
    return bytes;
}

CacheItem image(const QByteArray &bytes, qint32 width)
{
    CacheItem item;
    item.image = bytes;
    item.width = width;
    return item;
}

// Collects what the code under test prints on standard output.
class StdoutCapture
{
public:
    StdoutCapture()
    {
        std::fflush(stdout);
        m_file.open();
        m_saved = dup(STDOUT_FILENO);
        dup2(m_file.handle(), STDOUT_FILENO);
    }
    QString finish()
    {
        std::fflush(stdout);
        dup2(m_saved, STDOUT_FILENO);
        close(m_saved);
        m_file.seek(0);
        return QString::fromLatin1(m_file.readAll());
    }

private:
    QTemporaryFile m_file;
    int m_saved = -1;
};

} // namespace

class TestItuneCoverArtExtracter : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void dump_data();
    void dump();
    void existingPictureKept();
    void oversizedFileRefused();
    void albumMustBeAFileName();
    void damagedFilesNeverCrash();
    void recurseForSingle();
    void scriptRunsNowhereHere();

private:
    static QString pictureOf(const QString &album)
    {
        return ItuneCoverArtExtracter::outputFolder() + QLatin1Char('/') + album + QStringLiteral(".png");
    }
    static void writeFile(const QString &path, const QByteArray &bytes)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    static QByteArray contents(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

void TestItuneCoverArtExtracter::init()
{
    QDir(ItuneCoverArtExtracter::outputFolder()).removeRecursively();
    QDir(QStandardPaths::writableLocation(QStandardPaths::MusicLocation)).removeRecursively();
    ItuneCoverArtExtracter::resetCacheFileIndex();
}

void TestItuneCoverArtExtracter::dump_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("written");   // the picture's bytes; empty: no picture
    QTest::addColumn<QString>("diagnostic");   // a line expected on standard output

    const QByteArray big = "PNG-600", mid = "PNG-300", small = "PNG-200";
    QTest::addRow("widths 600, 300, 200 write the first")
        << cacheFile({image(big, 600), image(mid, 300), image(small, 200)}) << big << "";
    QTest::addRow("widths 300 then 600 stop at the second")
        << cacheFile({image(mid, 300), image(big, 600)}) << mid << "";
    CacheItem remote = image("REMOTE", 600);
    remote.location = "down";
    QTest::addRow("non-locl then locl writes the second")
        << cacheFile({remote, image(mid, 300)}) << mid << "[ 1] unknown file location 646F776E";
    QTest::addRow("only a non-locl item") << cacheFile({remote}) << QByteArray() << "unknown file location";
    CacheItem jpeg = image("JPEG-BYTES", 500);
    jpeg.format = "JPEG";
    QTest::addRow("other format written unchanged") << cacheFile({jpeg}) << QByteArray("JPEG-BYTES")
                                                    << "[ 1] unknown file format: 4A504547";
    QTest::addRow("different header flags only warn")
        << cacheFile({image(big, 600)}, QByteArray::fromHex("00000001000000020000000200000000")) << big
        << "different header flags detected!";
    CacheItem shortHeader = image(big, 600);
    shortHeader.headerLength = 100;
    QTest::addRow("other item header length only warns") << cacheFile({shortHeader}) << big
                                                         << "different header Lengths detected.";
    QTest::addRow("missing itch") << cacheFile({image(big, 600)}, QByteArray::fromHex("00000002000000020000000200000000"),
                                               "itcx")
                                  << QByteArray() << "isn't a ITC2 file";
    QTest::addRow("missing artw") << cacheFile({image(big, 600)}, QByteArray::fromHex("00000002000000020000000200000000"),
                                               "itch", "artx")
                                  << QByteArray() << "doesn't contain artwork";
    QTest::addRow("empty file") << QByteArray() << QByteArray() << "isn't a ITC2 file";
    QTest::addRow("header cut after itch") << cacheFile({}).left(12) << QByteArray() << "doesn't contain artwork";
    QTest::addRow("header without items") << cacheFile({}) << QByteArray() << "";
    QTest::addRow("header length past the end")
        << cacheFile({image(big, 600)}, QByteArray::fromHex("00000002000000020000000200000000"), "itch", "artw",
                     0xFFFFFFF0u)
        << QByteArray() << "";
    QTest::addRow("header length inside the header")
        << cacheFile({image(big, 600)}, QByteArray::fromHex("00000002000000020000000200000000"), "itch", "artw", 0)
        << QByteArray() << "";
    CacheItem zero = image(big, 600);
    zero.forceLength = true;
    zero.length = 0;
    QTest::addRow("item length 0") << cacheFile({zero}) << QByteArray() << "damaged item";
    QTest::addRow("item length 0 after a good item") << cacheFile({image(mid, 300), zero}) << mid << "[ 2] damaged item";
    CacheItem pastEnd = image(big, 600);
    pastEnd.length = 208 + 1000;
    QTest::addRow("image past the end") << cacheFile({pastEnd}) << QByteArray() << "damaged item";
    CacheItem negative = image(big, 600);
    negative.length = 0xFFFFFF00u;
    QTest::addRow("negative item length") << cacheFile({negative}) << QByteArray() << "damaged item";
    CacheItem longHeader = image(big, 600);
    longHeader.length = 120;
    QTest::addRow("header longer than the item") << cacheFile({longHeader}) << QByteArray() << "damaged item";
    CacheItem hugeHeader = image(big, 600);
    hugeHeader.headerLength = 0xFFFFFFF0u;
    hugeHeader.length = 208 + 7;
    QTest::addRow("negative item header length") << cacheFile({hugeHeader}) << QByteArray() << "damaged item";
    QTest::addRow("truncated inside the item fields") << cacheFile({image(big, 600)}).left(0x114 + 40) << QByteArray()
                                                      << "";
    QTest::addRow("truncated inside the image") << cacheFile({image(big, 600)}).chopped(3) << QByteArray()
                                                << "damaged item";
    CacheItem notItem = image(big, 600);
    notItem.tag = "itex";
    QTest::addRow("first item without its tag") << cacheFile({notItem}) << QByteArray() << "";
    QTest::addRow("walk ends at an item without its tag") << cacheFile({image(mid, 300), notItem}) << mid << "";
    QTest::addRow("negative width then positive") << cacheFile({image(mid, -5), image(big, 600)}) << mid << "";
}

void TestItuneCoverArtExtracter::dump()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, written);
    QFETCH(QString, diagnostic);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("0A1B-6C08B3E9D4D50F3A.itc2"));
    writeFile(path, file);
    StdoutCapture capture;
    const QString result = ItuneCoverArtExtracter().DumpITC2Single(path, QStringLiteral("Album"));
    const QString printed = capture.finish();

    if (written.isEmpty()) {
        QCOMPARE(result, QString());
        QVERIFY(!QFileInfo::exists(pictureOf("Album")));
    } else {
        QCOMPARE(result, pictureOf("Album"));
        QCOMPARE(contents(result), written);
    }
    if (!diagnostic.isEmpty())
        QVERIFY2(printed.contains(diagnostic), qPrintable(printed));
    // Nothing but the picture is left in the output folder.
    QVERIFY(QDir(ItuneCoverArtExtracter::outputFolder()).entryList(QDir::Files | QDir::Hidden).size() <= 1);
}

void TestItuneCoverArtExtracter::existingPictureKept()
{
    writeFile(pictureOf("Album"), "OLD");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("x.itc2"));
    writeFile(path, cacheFile({image("NEW", 600)}));
    QCOMPARE(ItuneCoverArtExtracter().DumpITC2Single(path, QStringLiteral("Album")), pictureOf("Album"));
    QCOMPARE(contents(pictureOf("Album")), QByteArray("OLD"));
}

void TestItuneCoverArtExtracter::oversizedFileRefused()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.itc2"));
    writeFile(path, cacheFile({image("PNG", 600)}));
    QFile file(path);
    QVERIFY(file.resize(ItuneCoverArtExtracter::maxCacheFileSize + 1)); // sparse: costs no disk
    StdoutCapture capture;
    QCOMPARE(ItuneCoverArtExtracter().DumpITC2Single(path, QStringLiteral("Album")), QString());
    QVERIFY(capture.finish().contains(QStringLiteral("too large")));
    QVERIFY(!QFileInfo::exists(pictureOf("Album")));
}

void TestItuneCoverArtExtracter::albumMustBeAFileName()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("x.itc2"));
    writeFile(path, cacheFile({image("PNG", 600)}));
    QCOMPARE(ItuneCoverArtExtracter().DumpITC2Single(path, QString()), QString());
    QCOMPARE(ItuneCoverArtExtracter().DumpITC2Single(path, QStringLiteral("../escape")), QString());
    QVERIFY(!QFileInfo::exists(shared::dataFolder() + QStringLiteral("/escape.png")));
}

// Truncations and byte changes of a valid file: every one must end cleanly
// (the sanitizer build checks that nothing is read outside the data).
void TestItuneCoverArtExtracter::damagedFilesNeverCrash()
{
    const QByteArray valid = cacheFile({image(QByteArray(300, 'a'), 600), image(QByteArray(200, 'b'), 300)});
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("x.itc2"));
    QRandomGenerator random(20261206);
    StdoutCapture capture;
    for (int round = 0; round < 3000; ++round) {
        QByteArray bytes = valid;
        if (round % 3 == 0) {
            bytes.truncate(random.bounded(bytes.size()));
        } else {
            const int changes = 1 + random.bounded(6);
            for (int i = 0; i < changes; ++i) {
                // Favour the header and the item fields, where lengths live.
                const int limit = random.bounded(4) == 0 ? bytes.size() : 0x114 + 64;
                bytes[random.bounded(limit)] = char(random.bounded(256));
            }
        }
        writeFile(path, bytes);
        const QString result = ItuneCoverArtExtracter().DumpITC2Single(path, QStringLiteral("Fuzz"));
        QVERIFY(result.isEmpty() || QFileInfo::exists(result));
        QFile::remove(pictureOf("Fuzz"));
    }
    capture.finish();
}

void TestItuneCoverArtExtracter::recurseForSingle()
{
    const QString itunes = QStandardPaths::writableLocation(QStandardPaths::MusicLocation) + QStringLiteral("/iTunes");
    writeFile(itunes + QStringLiteral("/Album Artwork/Cache/0A/01/0A1B-6C08B3E9D4D50F3A.itc2"),
              cacheFile({image("ONE", 600)}));
    writeFile(itunes + QStringLiteral("/Elsewhere/prefix-XYZ-1111222233334444.itc"), cacheFile({image("TWO", 600)}));
    CacheItem remote = image("REMOTE", 600);
    remote.location = "down";
    writeFile(itunes + QStringLiteral("/Album Artwork/0A1B-5555666677778888.itc2"), cacheFile({remote}));
    writeFile(itunes + QStringLiteral("/Album Artwork/0A1B-9999000099990000.itc2.bak"), cacheFile({image("BAK", 600)}));

    ItuneCoverArtExtracter extracter;
    StdoutCapture capture;
    QCOMPARE(extracter.RecurseForSingle(QString(), QStringLiteral("Empty")), QString());
    QCOMPARE(extracter.RecurseForSingle(QStringLiteral("6C08B3E9D4D50F3A"), QStringLiteral("One")), pictureOf("One"));
    QCOMPARE(contents(pictureOf("One")), QByteArray("ONE"));
    // The id inside a longer name, anywhere below the iTunes folder.
    QCOMPARE(extracter.RecurseForSingle(QStringLiteral("1111222233334444"), QStringLiteral("Two")), pictureOf("Two"));
    QCOMPARE(contents(pictureOf("Two")), QByteArray("TWO"));
    QCOMPARE(extracter.RecurseForSingle(QStringLiteral("5555666677778888"), QStringLiteral("Remote")), QString());
    QCOMPARE(extracter.RecurseForSingle(QStringLiteral("9999000099990000"), QStringLiteral("Bak")), QString());
    QCOMPARE(extracter.RecurseForSingle(QStringLiteral("6c08b3e9d4d50f3a"), QStringLiteral("Lower")), QString());
    QCOMPARE(extracter.RecurseForSingle(QStringLiteral("NOSUCHID"), QStringLiteral("None")), QString());
    capture.finish();

    // Cache files are listed once: a file added later is found after a reset.
    writeFile(itunes + QStringLiteral("/Album Artwork/0A1B-AAAABBBBCCCCDDDD.itc2"), cacheFile({image("NEW", 600)}));
    QCOMPARE(extracter.RecurseForSingle(QStringLiteral("AAAABBBBCCCCDDDD"), QStringLiteral("New")), QString());
    ItuneCoverArtExtracter::resetCacheFileIndex();
    QCOMPARE(extracter.RecurseForSingle(QStringLiteral("AAAABBBBCCCCDDDD"), QStringLiteral("New")), pictureOf("New"));
}

void TestItuneCoverArtExtracter::scriptRunsNowhereHere()
{
    ItuneCoverArtExtracter extracter;
    QVERIFY(extracter.scriptPath.endsWith(QStringLiteral("/AppleScript/iTunesArtworkExtractor.applescript")));
    QVERIFY(!extracter.executeCoverScript());
}

CORVANE_TEST_MAIN(TestItuneCoverArtExtracter)
#include "tst_itunecoverartextracter.moc"
