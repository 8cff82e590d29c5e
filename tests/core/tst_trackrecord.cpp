#include <QtTest>

#include <limits>

#include "core/logging.h"
#include "core/shared.h"
#include "core/track_data.h"
#include "testenv.h"

// The record, its registration for queued signals, and the id counters.
class TestTrackRecord : public QObject
{
    Q_OBJECT

signals:
    void carry(const track &record, const QList<track> &records);

private slots:
    void countersAcrossTwoScans();
    void idsNeverWrap();
    void recordsCrossThreads();
};

void TestTrackRecord::countersAcrossTwoScans()
{
    // First "scan" of the run: tracks 1, 2, 3; first album and artist id 2.
    QCOMPARE(track_data::takeTrackId(), 1);
    QCOMPARE(track_data::takeTrackId(), 2);
    QCOMPARE(track_data::takeTrackId(), 3);
    QCOMPARE(track_data::takeAlbumId(), 2);
    QCOMPARE(track_data::takeArtistId(), 2);
    // A second scan continues where the first stopped.
    QCOMPARE(track_data::takeTrackId(), 4);
    QCOMPARE(track_data::takeAlbumId(), 3);
    // The iTunes import increases first.
    QCOMPARE(track_data::takeNextTrackId(), 6);
    // 32-bit ids: past 16 bits nothing wraps.
    track_data::track_Id = 40000;
    QCOMPARE(track_data::takeTrackId(), 40000);
}

void TestTrackRecord::idsNeverWrap()
{
    Logging::getInstance()->Loggingfun(shared::dataFolder() + QStringLiteral("/debug.log"));
    shared::ensureDataFolder();

    track_data::track_Id = std::numeric_limits<int>::max();
    QCOMPARE(track_data::takeTrackId(), -1);
    QCOMPARE(track_data::takeNextTrackId(), -1);
    QCOMPARE(track_data::track_Id, std::numeric_limits<int>::max());

    track_data::album_Id = std::numeric_limits<int>::max() - 1;
    QCOMPARE(track_data::takeAlbumId(), std::numeric_limits<int>::max());
    QCOMPARE(track_data::takeAlbumId(), -1);

    QFile log(shared::dataFolder() + QStringLiteral("/debug.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("Id range exhausted, record refused: track"));
}

void TestTrackRecord::recordsCrossThreads()
{
    registerTrackMetaTypes();
    QVERIFY(QMetaType::fromName("track").isValid());
    QVERIFY(QMetaType::fromName("QList<track>").isValid());

    QThread worker;
    QObject receiver;
    receiver.moveToThread(&worker);
    worker.start();

    track received;
    int receivedCount = 0;
    QThread *receivedOn = nullptr;
    connect(this, &TestTrackRecord::carry, &receiver,
            [&](const track &record, const QList<track> &records) {
                received = record;
                receivedCount = int(records.size());
                receivedOn = QThread::currentThread();
            },
            Qt::BlockingQueuedConnection);

    track record;
    record.id = 70000;
    record.trackname = QStringLiteral("Песня");
    emit carry(record, {record, record});
    worker.quit();
    worker.wait();

    QCOMPARE(receivedOn, &worker);
    QCOMPARE(received.id, 70000);
    QCOMPARE(received.trackname, QStringLiteral("Песня"));
    QCOMPARE(receivedCount, 2);
}

CORVANE_TEST_MAIN(TestTrackRecord)
#include "tst_trackrecord.moc"
