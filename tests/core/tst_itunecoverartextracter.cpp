#include <QtTest>

#include <QRandomGenerator>
#include <QStandardPaths>

#include "core/itunecoverartextracter.h"
#include "core/track_data.h"
#include "core/logging.h"
#include "core/shared.h"
#include "artworkcachefile.h"
#include "libraryfixture.h"
#include "scanfixture.h"
#include "stdoutcapture.h"
#include "testenv.h"

using testkit::StdoutCapture;
using testkit::cacheFile;
using testkit::image;

namespace {

QString pictureOf(const QString &album)
{
    return ItuneCoverArtExtracter::outputFolder() + QLatin1Char('/') + album + QStringLiteral(".png");
}

} // namespace

// The artwork cache reader treats its input as untrusted; run under the
// sanitizer build, the damaged files also show that nothing is read outside
// the data.
class TestItuneCoverArtExtracter : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QDir(ItuneCoverArtExtracter::outputFolder()).removeRecursively();
        QDir(QStandardPaths::writableLocation(QStandardPaths::MusicLocation)).removeRecursively();
        ItuneCoverArtExtracter::resetCacheFileIndex();
    }

    void dump_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("written");   // the picture's bytes; empty: no picture
        QTest::addColumn<QString>("diagnostic");   // a line expected on standard output

        const QByteArray big = "PNG-600", mid = "PNG-300", small = "PNG-200";
        QTest::addRow("widths 600, 300, 200 write the first")
            << cacheFile({image(big, 600), image(mid, 300), image(small, 200)}) << big << "";
        QTest::addRow("non-locl then locl writes the second")
            << cacheFile({image("REMOTE", 600, "down"), image(mid, 300)}) << mid << "[ 1] unknown file location 646F776E";
        QTest::addRow("missing itch") << cacheFile({image(big, 600)}, "itcx") << QByteArray() << "isn't a ITC2 file";
        QTest::addRow("missing artw") << cacheFile({image(big, 600)}, "itch", "artx") << QByteArray()
                                      << "doesn't contain artwork";
        QTest::addRow("header cut after itch") << cacheFile({}).left(12) << QByteArray() << "doesn't contain artwork";
        QTest::addRow("header length past the end")
            << cacheFile({image(big, 600)}, "itch", "artw", 0xFFFFFFF0u) << QByteArray() << "";
        QTest::addRow("item length 0 after a good item")
            << cacheFile({image(mid, 300), image(big, 600, "locl", 0)}) << mid << "[ 2] damaged item";
        QTest::addRow("image past the end") << cacheFile({image(big, 600, "locl", 1208)}) << QByteArray() << "damaged item";
        QTest::addRow("negative item length") << cacheFile({image(big, 600, "locl", 0xFFFFFF00u)}) << QByteArray()
                                              << "damaged item";
        QTest::addRow("header longer than the item") << cacheFile({image(big, 600, "locl", 120)}) << QByteArray()
                                                     << "damaged item";
        QTest::addRow("truncated inside the item fields") << cacheFile({image(big, 600)}).left(0x114 + 40) << QByteArray()
                                                          << "";
    }

    void dump()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, written);
        QFETCH(QString, diagnostic);
        const QString path = m_dir.filePath(QStringLiteral("0A1B-6C08B3E9D4D50F3A.itc2"));
        testkit::touch(path, file);
        StdoutCapture capture;
        const QString result = ItuneCoverArtExtracter().DumpITC2Single(path, QStringLiteral("Album"));
        const QString printed = capture.finish();

        QCOMPARE(result, written.isEmpty() ? QString() : pictureOf("Album"));
        QCOMPARE(testkit::fileBytes(pictureOf("Album")), written);
        QVERIFY2(printed.contains(diagnostic), qPrintable(printed));
    }

    void existingPictureKeptAndLimits()
    {
        testkit::touch(pictureOf("Album"), "OLD");
        const QString path = m_dir.filePath(QStringLiteral("x.itc2"));
        testkit::touch(path, cacheFile({image("NEW", 600)}));
        QCOMPARE(ItuneCoverArtExtracter().DumpITC2Single(path, QStringLiteral("Album")), pictureOf("Album"));
        QCOMPARE(testkit::fileBytes(pictureOf("Album")), QByteArray("OLD"));

        // The album names a file inside the output folder, nothing else.
        QCOMPARE(ItuneCoverArtExtracter().DumpITC2Single(path, QStringLiteral("../escape")), QString());
        QVERIFY(!QFileInfo::exists(shared::dataFolder() + QStringLiteral("/escape.png")));

        // Past 64 MiB a file is refused unread (sparse: costs no disk).
        QFile file(path);
        QVERIFY(file.resize(ItuneCoverArtExtracter::maxCacheFileSize + 1));
        StdoutCapture capture;
        QCOMPARE(ItuneCoverArtExtracter().DumpITC2Single(path, QStringLiteral("Big")), QString());
        QVERIFY(capture.finish().contains(QStringLiteral("too large")) && !QFileInfo::exists(pictureOf("Big")));
    }

    // Truncations and byte changes of a valid file all end cleanly.
    void damagedFilesNeverCrash()
    {
        const QByteArray valid = cacheFile({image(QByteArray(300, 'a'), 600), image(QByteArray(200, 'b'), 300)});
        const QString path = m_dir.filePath(QStringLiteral("fuzz.itc2"));
        QRandomGenerator random(20261206);
        StdoutCapture capture;
        for (int round = 0; round < 300; ++round) {
            QByteArray bytes = valid;
            if (round % 3 == 0) {
                bytes.truncate(random.bounded(bytes.size()));
            } else {
                // Favour the header and the item fields, where lengths live.
                for (int i = 1 + random.bounded(6); i > 0; --i)
                    bytes[random.bounded(random.bounded(4) == 0 ? bytes.size() : 0x114 + 64)] = char(random.bounded(256));
            }
            testkit::touch(path, bytes);
            const QString result = ItuneCoverArtExtracter().DumpITC2Single(path, QStringLiteral("Fuzz"));
            QVERIFY(result.isEmpty() || QFile::remove(result));
        }
        capture.finish();
    }

    void recurseForSingle()
    {
        const QString itunes = QStandardPaths::writableLocation(QStandardPaths::MusicLocation) + QStringLiteral("/iTunes");
        testkit::touch(itunes + QStringLiteral("/Album Artwork/Cache/0A/01/0A1B-6C08B3E9D4D50F3A.itc2"),
                  cacheFile({image("ONE", 600)}));
        testkit::touch(itunes + QStringLiteral("/Album Artwork/0A1B-5555666677778888.itc2"),
                  cacheFile({image("REMOTE", 600, "down")}));

        ItuneCoverArtExtracter extracter;
        StdoutCapture capture;
        QCOMPARE(extracter.RecurseForSingle(QStringLiteral("6C08B3E9D4D50F3A"), QStringLiteral("One")), pictureOf("One"));
        QCOMPARE(testkit::fileBytes(pictureOf("One")), QByteArray("ONE"));
        // A path is returned only when a picture exists there.
        QVERIFY(extracter.RecurseForSingle(QStringLiteral("5555666677778888"), QStringLiteral("Remote")).isEmpty()
                && extracter.RecurseForSingle(QStringLiteral("NOSUCHID"), QStringLiteral("None")).isEmpty());
        capture.finish();

        // Cache files are listed once per scan: a file added later is found by the next scan.
        testkit::touch(itunes + QStringLiteral("/Album Artwork/0A1B-AAAABBBBCCCCDDDD.itc2"),
                       cacheFile({image("NEW", 600)}));
        QCOMPARE(extracter.RecurseForSingle(QStringLiteral("AAAABBBBCCCCDDDD"), QStringLiteral("New")), QString());
        QTemporaryDir nothing;
        track_data().searchfile(QDir(nothing.path()));
        QCOMPARE(extracter.RecurseForSingle(QStringLiteral("AAAABBBBCCCCDDDD"), QStringLiteral("New")), pictureOf("New"));

        // The whole-library walk files each local image under the album its id
        // maps to; an id without an album writes nothing.
        StdoutCapture wholeCapture;
        extracter.ItuneMapPIDAlubmCopy({});
        QVERIFY(!extracter.RecurseForAll().contains(QStringLiteral("Whole")));
        extracter.ItuneMapPIDAlubmCopy({{QStringLiteral("6C08B3E9D4D50F3A"), QStringLiteral("Whole")}});
        QCOMPARE(extracter.ItunesArtCheckAlbum(QStringLiteral("6C08B3E9D4D50F3A")), QStringLiteral("Whole"));
        const QMap<QString, QString> all = extracter.RecurseForAll();
        QVERIFY(all.value(QStringLiteral("Whole")) == pictureOf("Whole") && all.value(QStringLiteral("One")) == pictureOf("One"));
        QVERIFY(!testkit::fileBytes(pictureOf("Whole")).isEmpty());
        QVERIFY(wholeCapture.finish().contains(QStringLiteral("unknown file location")));
    }

    // Only macOS has osascript: here the script fails at once with a log line.
    void scriptRunsNowhereHere()
    {
        QElapsedTimer timer;
        timer.start();
        QTest::ignoreMessage(QtInfoMsg, QRegularExpression("there is no osascript.*iTunesArtworkExtractor.applescript"));
        QVERIFY(!ItuneCoverArtExtracter().executeCoverScript() && timer.elapsed() < 5000);
    }

private:
    QTemporaryDir m_dir;
};

CORVANE_TEST_MAIN(TestItuneCoverArtExtracter)
#include "tst_itunecoverartextracter.moc"
