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
    void text_data()
    {
        QTest::addColumn<QString>("function");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::addRow("slash, colon, point, brackets") << "name" << "AC/DC: Live (Vol. 2)!" << "ACDC Live Vol 2";
        QTest::addRow("underscore goes, hyphen stays") << "name" << "A-ha_Best" << "A-haBest";
        QTest::addRow("backslash kept") << "name" << "Back\\Slash" << "Back\\Slash";
        QTest::addRow("double quotes removed") << "name" << "\"Quoted\"" << "Quoted";
        QTest::addRow("ampersand leaves two blanks") << "name" << "Rock & Roll" << "Rock  Roll";
        QTest::addRow("blanks only") << "name" << "   " << "";
        QTest::addRow("non-Latin letters") << "name" << "Кино: Группа крови" << "Кино Группа крови";
        QTest::addRow("h:m:s") << "sec" << "1:02:03" << "3723";
        QTest::addRow("two pieces") << "sec" << "02:03" << "0";
        QTest::addRow("letters") << "sec" << "aa:bb:cc" << "0";
        QTest::addRow("ffmpeg duration") << "sec" << "00:03:25.47" << "205.47";
        QTest::addRow("hours past the int range in seconds") << "sec" << "600000:00:00" << "2160000000";
        QTest::addRow("track fifty") << "track" << "50 Song.mp3" << "50";
        QTest::addRow("track fifty-one") << "track" << "51 Song.mp3" << "0";
        QTest::addRow("track leading zeros") << "track" << "007 x" << "7";
        QTest::addRow("track first piece not digits") << "track" << "07-Song Title.mp3" << "0";
        QTest::addRow("track huge number") << "track" << "99999999999999999999 x" << "0";
    }

    void text()
    {
        QFETCH(QString, function);
        QFETCH(QString, input);
        const shared sh;
        const QString got = function == QLatin1String("name")  ? sh.formatSplChar(input)
                            : function == QLatin1String("sec") ? QString::number(sh.convertToSec(input), 'g', 12)
                                                               : QString::number(sh.getTrackNo(input));
        QTEST(got, "expected");
    }

    void pathsAndNames()
    {
        const shared sh;
        const QString data = testkit::testHome() + QStringLiteral("/.local/share/Corvane-Media-Organiser");
        QCOMPARE(shared::dataFolder(), data);
        QCOMPARE(sh.coverpath(QStringLiteral("Live (Deluxe)")), data + QStringLiteral("/Artwork/Live Deluxe.png"));
        QVERIFY(QFile::exists(QStringLiteral(":/resources/photos/no_artwork.png")));
        QVERIFY(sh.getApiNameByValue(5).isNull());
        QVERIFY(!is_number("-1") && !is_number("") && is_number("0042"));
    }

    void resetKeepsOnlyReleaseCoverUrl()
    {
        track record;
        record.isVideo = record.hasCover = true;
        record.id = 40000;
        record.duration = 12.5;
        record.trackname = QStringLiteral("Song");
        record.releaseCoverUrl = QStringLiteral("http://example.invalid/front.jpg");
        const track reset = shared().initializeTrackObject(record);
        QCOMPARE(reset.releaseCoverUrl, record.releaseCoverUrl);
        QVERIFY(!reset.isVideo && !reset.hasCover && reset.id == 0 && reset.duration == 0.0 && reset.trackname.isEmpty());
    }

    void idsContinueAndNeverWrap()
    {
        registerTrackMetaTypes();
        QVERIFY(QMetaType::fromName("track").isValid() && QMetaType::fromName("QList<track>").isValid());
        // First scan of the run: tracks 1, 2; first album id 2.  The iTunes
        // import increases first.
        QCOMPARE(track_data::takeTrackId(), 1);
        QCOMPARE(track_data::takeTrackId(), 2);
        QCOMPARE(track_data::takeAlbumId(), 2);
        QCOMPARE(track_data::takeNextTrackId(), 4);
        // 32-bit ids: past 16 bits nothing wraps, and at the end an id is refused.
        track_data::track_Id = 70000;
        QCOMPARE(track_data::takeTrackId(), 70000);
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

    void delayKeepsEventsFlowing()
    {
        bool delivered = false;
        QTimer::singleShot(50, this, [&] { delivered = true; });
        QElapsedTimer timer;
        timer.start();
        delay();
        QVERIFY(delivered && timer.elapsed() >= 990 && timer.elapsed() < 3000);
    }
};

CORVANE_TEST_MAIN(TestShared)
#include "tst_shared.moc"
