#include <QtTest>

#include "app/manager.h"
#include "testenv.h"

// The quality class every row model shows and the poor-quality list uses.
class TestMediaQuality : public QObject
{
    Q_OBJECT

private slots:
    void classOfBitRate_data();
    void classOfBitRate();
};

void TestMediaQuality::classOfBitRate_data()
{
    QTest::addColumn<int>("bitrate");
    QTest::addColumn<int>("quality");
    QTest::addRow("128 kbit/s is still poor") << 128 << 0;
    QTest::addRow("129 kbit/s, as TagLib reports a 128k MP3") << 129 << 1;
    QTest::addRow("255 kbit/s") << 255 << 1;
    QTest::addRow("256 kbit/s") << 256 << 2;
    QTest::addRow("beyond 16 bits, not read as 64") << 65600 << 2;
}

void TestMediaQuality::classOfBitRate()
{
    QFETCH(int, bitrate);
    QFETCH(int, quality);
    QCOMPARE(manager::getMediaQuality(bitrate), quality);
}

CORVANE_TEST_MAIN(TestMediaQuality)
#include "tst_mediaquality.moc"
