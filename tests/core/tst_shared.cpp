#include <QtTest>

#include "core/shared.h"
#include "testenv.h"

class TestShared : public QObject
{
    Q_OBJECT

private slots:
    void formatSplChar_data();
    void formatSplChar();
    void convertToSec_data();
    void convertToSec();
    void getTrackNo_data();
    void getTrackNo();
    void isNumber_data();
    void isNumber();
    void pathsAndNames();
    void resetKeepsOnlyReleaseCoverUrl();
};

void TestShared::formatSplChar_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
    QTest::addRow("slash and colon") << "AC/DC: Live!" << "ACDC Live";
    QTest::addRow("brackets and point") << "Greatest Hits (Vol. 2)" << "Greatest Hits Vol 2";
    QTest::addRow("underscore goes, hyphen stays") << "A-ha_Best" << "A-haBest";
    QTest::addRow("backslash kept") << "Back\\Slash" << "Back\\Slash";
    QTest::addRow("double quotes removed") << "\"Quoted\"" << "Quoted";
    QTest::addRow("ampersand leaves two blanks") << "Rock & Roll" << "Rock  Roll";
    QTest::addRow("blanks only") << "   " << "";
    QTest::addRow("empty") << "" << "";
    QTest::addRow("only removed characters") << " !?*<>|'+.()_&$%^#@~ " << "";
    QTest::addRow("kept punctuation") << "a-b,c;d[e]{f}=g`h" << "a-b,c;d[e]{f}=g`h";
    QTest::addRow("non-Latin letters") << "Кино: Группа крови" << "Кино Группа крови";
    QTest::addRow("unicode space trimmed") << QString::fromUtf8("\u3000Blue\t") << "Blue";
}

void TestShared::formatSplChar()
{
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QCOMPARE(shared().formatSplChar(input), expected);
}

void TestShared::convertToSec_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<double>("expected");
    QTest::addRow("h:m:s") << "1:02:03" << 3723.0;
    QTest::addRow("fractional seconds") << "00:01:05.50" << 65.5;
    QTest::addRow("two pieces") << "02:03" << 0.0;
    QTest::addRow("extra piece ignored") << "1:2:3:4" << 3723.0;
    QTest::addRow("letters") << "aa:bb:cc" << 0.0;
    QTest::addRow("empty pieces") << "::" << 0.0;
    QTest::addRow("blanks around numbers") << " 1: 2: 3" << 3723.0;
    QTest::addRow("ffmpeg duration") << "00:03:25.47" << 205.47;
}

void TestShared::convertToSec()
{
    QFETCH(QString, input);
    QFETCH(double, expected);
    QCOMPARE(shared().convertToSec(input), expected);
}

void TestShared::getTrackNo_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("expected");
    QTest::addRow("leading number") << "07 Song.mp3" << 7;
    QTest::addRow("fifty") << "50 Song.mp3" << 50;
    QTest::addRow("fifty-one") << "51 Song.mp3" << 0;
    QTest::addRow("no blank") << "7-Song.mp3" << 0;
    QTest::addRow("first piece not digits") << "07-Song Title.mp3" << 0;
    QTest::addRow("number at the end") << "Song 07.mp3" << 0;
    QTest::addRow("leading zeros") << "007 x" << 7;
    QTest::addRow("digit and trailing blank") << "1 " << 1;
    QTest::addRow("one piece") << "12" << 0;
    QTest::addRow("zero") << "0 Intro" << 0;
    QTest::addRow("huge number") << "99999999999999999999 x" << 0;
}

void TestShared::getTrackNo()
{
    QFETCH(QString, name);
    QFETCH(int, expected);
    QCOMPARE(shared().getTrackNo(name), expected);
}

void TestShared::isNumber_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("expected");
    QTest::addRow("empty") << QByteArray() << false;
    QTest::addRow("leading zeros") << QByteArray("0042") << true;
    QTest::addRow("sign") << QByteArray("-1") << false;
    QTest::addRow("blank") << QByteArray("1 2") << false;
    QTest::addRow("point") << QByteArray("1.5") << false;
    QTest::addRow("high byte") << QByteArray("1\xc3\xa9") << false;
}

void TestShared::isNumber()
{
    QFETCH(QByteArray, input);
    QFETCH(bool, expected);
    QCOMPARE(is_number(input.toStdString()), expected);
}

void TestShared::pathsAndNames()
{
    const shared sh;
    const QString dataHome = testkit::testHome() + QStringLiteral("/.local/share");
    QCOMPARE(shared::dataFolder(), dataHome + QStringLiteral("/Corvane-Media-Organiser"));
    QCOMPARE(sh.appDataPath, shared::dataFolder());
    QCOMPARE(sh.coverpath(QStringLiteral("Live (Deluxe)")),
             dataHome + QStringLiteral("/Corvane-Media-Organiser/Artwork/Live Deluxe.png"));
    QVERIFY(sh.coverpath(QString()).endsWith(QStringLiteral("/Artwork/.png")));
    QCOMPARE(sh.noArtworkUrl, QStringLiteral("qrc:///resources/photos/no_artwork.png"));
    QVERIFY(QFile::exists(QStringLiteral(":/resources/photos/no_artwork.png")));
    QCOMPARE(sh.getApiNameByValue(4), QStringLiteral("FINGUREPRINT"));
    QVERIFY(sh.getApiNameByValue(0).isNull());
    QVERIFY(sh.getApiNameByValue(5).isNull());
    QCOMPARE(sh.unknownGenre, QStringLiteral("Unknown Genre"));
    // Building the helper creates nothing on disk.
    QVERIFY(!QFileInfo::exists(shared::dataFolder()) || QDir(shared::dataFolder()).isEmpty());
}

void TestShared::resetKeepsOnlyReleaseCoverUrl()
{
    track record;
    record.isVideo = true;
    record.hasCover = true;
    record.id = 40000;
    record.duration = 12.5;
    record.quality = 2;
    record.source = 1;
    record.trackname = QStringLiteral("Song");
    record.releaseCoverUrl = QStringLiteral("http://example.invalid/front.jpg");

    const track reset = shared().initializeTrackObject(record);
    QCOMPARE(reset.releaseCoverUrl, record.releaseCoverUrl);
    QVERIFY(!reset.isVideo && !reset.hasCover && !reset.hasArtist && !reset.hasTitle);
    QCOMPARE(reset.id, 0);
    QCOMPARE(reset.source, 0);
    QCOMPARE(reset.duration, 0.0);
    QCOMPARE(reset.quality, 0);
    QVERIFY(reset.trackname.isEmpty());
}

CORVANE_TEST_MAIN(TestShared)
#include "tst_shared.moc"
