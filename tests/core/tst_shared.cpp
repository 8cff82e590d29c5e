#include <QtTest>

#include <limits>

#include "core/logging.h"
#include "core/shared.h"
#include "core/track_data.h"
#include "testenv.h"

// The text helpers, data-folder paths, the track record and the id counters.
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
    void pathsAndNames();
    void resetKeepsOnlyReleaseCoverUrl();
    void countersAcrossTwoScans();
    void delayKeepsEventsFlowing();
    void idsNeverWrap();
};

void TestShared::formatSplChar_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
    QTest::addRow("slash, colon, point, brackets") << "AC/DC: Live (Vol. 2)!" << "ACDC Live Vol 2";
    QTest::addRow("underscore goes, hyphen stays") << "A-ha_Best" << "A-haBest";
    QTest::addRow("backslash kept") << "Back\\Slash" << "Back\\Slash";
    QTest::addRow("double quotes removed") << "\"Quoted\"" << "Quoted";
    QTest::addRow("ampersand leaves two blanks") << "Rock & Roll" << "Rock  Roll";
    QTest::addRow("blanks only") << "   " << "";
    QTest::addRow("non-Latin letters") << "Кино: Группа крови" << "Кино Группа крови";
}

void TestShared::formatSplChar()
{
    QFETCH(QString, input);
    QTEST(shared().formatSplChar(input), "expected");
}

void TestShared::convertToSec_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<double>("expected");
    QTest::addRow("h:m:s") << "1:02:03" << 3723.0;
    QTest::addRow("two pieces") << "02:03" << 0.0;
    QTest::addRow("letters") << "aa:bb:cc" << 0.0;
    QTest::addRow("ffmpeg duration") << "00:03:25.47" << 205.47;
    QTest::addRow("hours past the int range in seconds") << "600000:00:00" << 2160000000.0;
}

void TestShared::convertToSec()
{
    QFETCH(QString, input);
    QTEST(shared().convertToSec(input), "expected");
}

void TestShared::getTrackNo_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("expected");
    QTest::addRow("fifty") << "50 Song.mp3" << 50;
    QTest::addRow("fifty-one") << "51 Song.mp3" << 0;
    QTest::addRow("leading zeros") << "007 x" << 7;
    QTest::addRow("first piece not digits") << "07-Song Title.mp3" << 0;
    QTest::addRow("huge number") << "99999999999999999999 x" << 0;
}

void TestShared::getTrackNo()
{
    QFETCH(QString, name);
    QTEST(shared().getTrackNo(name), "expected");
}

void TestShared::pathsAndNames()
{
    const shared sh;
    const QString dataHome = testkit::testHome() + QStringLiteral("/.local/share");
    QCOMPARE(shared::dataFolder(), dataHome + QStringLiteral("/Corvane-Media-Organiser"));
    QCOMPARE(sh.coverpath(QStringLiteral("Live (Deluxe)")),
             dataHome + QStringLiteral("/Corvane-Media-Organiser/Artwork/Live Deluxe.png"));
    QVERIFY(QFile::exists(QStringLiteral(":/resources/photos/no_artwork.png")));
    QCOMPARE(sh.getApiNameByValue(4), QStringLiteral("FINGUREPRINT"));
    QVERIFY(sh.getApiNameByValue(5).isNull());
    QVERIFY(!is_number("-1") && !is_number("") && is_number("0042"));
}

void TestShared::resetKeepsOnlyReleaseCoverUrl()
{
    track record;
    record.isVideo = record.hasCover = true;
    record.id = 40000;
    record.duration = 12.5;
    record.trackname = QStringLiteral("Song");
    record.releaseCoverUrl = QStringLiteral("http://example.invalid/front.jpg");

    const track reset = shared().initializeTrackObject(record);
    QCOMPARE(reset.releaseCoverUrl, record.releaseCoverUrl);
    QVERIFY(!reset.isVideo && !reset.hasCover);
    QCOMPARE(reset.id, 0);
    QCOMPARE(reset.duration, 0.0);
    QVERIFY(reset.trackname.isEmpty());
}

void TestShared::countersAcrossTwoScans()
{
    registerTrackMetaTypes();
    QVERIFY(QMetaType::fromName("track").isValid());
    QVERIFY(QMetaType::fromName("QList<track>").isValid());

    // First scan of the run: tracks 1, 2; first album id 2.
    QCOMPARE(track_data::takeTrackId(), 1);
    QCOMPARE(track_data::takeTrackId(), 2);
    QCOMPARE(track_data::takeAlbumId(), 2);
    // A second scan continues where the first stopped.
    QCOMPARE(track_data::takeTrackId(), 3);
    QCOMPARE(track_data::takeAlbumId(), 3);
    // The iTunes import increases first.
    QCOMPARE(track_data::takeNextTrackId(), 5);
    // 32-bit ids: past 16 bits nothing wraps.
    track_data::track_Id = 70000;
    QCOMPARE(track_data::takeTrackId(), 70000);
}

void TestShared::idsNeverWrap()
{
    Logging::startRun();
    track_data::track_Id = std::numeric_limits<int>::max();
    QCOMPARE(track_data::takeTrackId(), -1);
    QCOMPARE(track_data::takeNextTrackId(), -1);
    track_data::album_Id = std::numeric_limits<int>::max() - 1;
    QCOMPARE(track_data::takeAlbumId(), std::numeric_limits<int>::max());
    QCOMPARE(track_data::takeAlbumId(), -1);

    QFile log(shared::dataFolder() + QStringLiteral("/debug.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("Id range exhausted, record refused: track"));
}

void TestShared::delayKeepsEventsFlowing()
{
    bool delivered = false;
    QTimer::singleShot(50, this, [&] { delivered = true; });
    QElapsedTimer timer;
    timer.start();
    delay();
    QVERIFY(delivered);
    QVERIFY(timer.elapsed() >= 990 && timer.elapsed() < 3000);
}

CORVANE_TEST_MAIN(TestShared)
#include "tst_shared.moc"
