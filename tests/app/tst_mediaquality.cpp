#include <QtTest>

#include <limits>

#include "app/manager.h"
#include "testenv.h"

// The quality class every row model shows and the poor-quality list uses.
class TestMediaQuality : public QObject
{
    Q_OBJECT

private slots:
    void classOfBitRate_data();
    void classOfBitRate();
    void anyControllerGivesTheSameAnswer();
};

void TestMediaQuality::classOfBitRate_data()
{
    QTest::addColumn<int>("bitrate");
    QTest::addColumn<int>("quality");

    QTest::addRow("no bit rate") << 0 << 0;
    QTest::addRow("negative") << -5 << 0;
    QTest::addRow("64 kbit/s") << 64 << 0;
    QTest::addRow("128 kbit/s is still poor") << 128 << 0;
    QTest::addRow("129 kbit/s, as TagLib reports a 128k MP3") << 129 << 1;
    QTest::addRow("192 kbit/s") << 192 << 1;
    QTest::addRow("255 kbit/s") << 255 << 1;
    QTest::addRow("256 kbit/s") << 256 << 2;
    QTest::addRow("320 kbit/s") << 320 << 2;
    QTest::addRow("lossless 1411 kbit/s") << 1411 << 2;
    // Not cut to 16 bits: 65,600 would otherwise read as 64.
    QTest::addRow("beyond 16 bits") << 65600 << 2;
    QTest::addRow("largest int") << std::numeric_limits<int>::max() << 2;
}

void TestMediaQuality::classOfBitRate()
{
    QFETCH(int, bitrate);
    QFETCH(int, quality);
    QCOMPARE(manager::getMediaQuality(bitrate), quality);
}

void TestMediaQuality::anyControllerGivesTheSameAnswer()
{
    // Reads no state: a controller object, or none, answers alike.
    manager first;
    manager second;
    for (int rate : {0, 128, 129, 255, 256}) {
        QCOMPARE(first.getMediaQuality(rate), manager::getMediaQuality(rate));
        QCOMPARE(second.getMediaQuality(rate), manager::getMediaQuality(rate));
    }
}

CORVANE_TEST_MAIN(TestMediaQuality)
#include "tst_mediaquality.moc"
