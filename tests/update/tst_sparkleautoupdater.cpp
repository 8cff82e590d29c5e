#include <QTcpServer>
#include <QtTest>

#include "testenv.h"
#include "update/sparkleautoupdater.h"

// No test here reaches a real network: the feeds are a refused local port, a
// local server that never answers and a local file.
class TestSparkleAutoUpdater : public QObject
{
    Q_OBJECT

private slots:
    void checkRunsInTheBackground()
    {
        QTemporaryDir dir;
        const QByteArray feed = "<?xml version=\"1.0\"?><rss><channel><item><title>2.0</title></item></channel></rss>";
        QFile file(dir.filePath(QStringLiteral("updatemac.xml")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(feed) == feed.size() && file.flush());
        // Port 1 on the loopback interface: nothing listens, the connection is refused.
        for (const auto &[url, fetched] : {std::pair{QStringLiteral("http://127.0.0.1:1/update/mac/updatemac.xml"),
                                                     QByteArray()},
                                           {QUrl::fromLocalFile(file.fileName()).toString(), feed}}) {
            SparkleAutoUpdater updater(url);
            QVERIFY(!updater.automaticallyChecksForUpdates());
            QElapsedTimer timer;
            timer.start();
            updater.checkForUpdates();
            QVERIFY2(timer.elapsed() < 500, qPrintable(QString::number(timer.elapsed())));
            QVERIFY(updater.automaticallyChecksForUpdates() && updater.isChecking());
            QTRY_VERIFY_WITH_TIMEOUT(!updater.isChecking(), 15000);
            QCOMPARE(updater.lastFeed(), fetched);
        }
    }

    void silentServerNeverBlocks()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        auto updater = std::make_unique<SparkleAutoUpdater>(
            QStringLiteral("http://127.0.0.1:%1/update/mac/updatemac.xml").arg(server.serverPort()));
        QElapsedTimer timer;
        timer.start();
        updater->checkForUpdates();
        updater->checkForUpdates(); // a second call while one runs starts nothing new
        QVERIFY(timer.elapsed() < 500);
        QVERIFY(server.waitForNewConnection(5000) && updater->isChecking());
        updater.reset(); // going away in the middle of a check is safe
        QTest::qWait(50);
    }
};

CORVANE_TEST_MAIN(TestSparkleAutoUpdater)
#include "tst_sparkleautoupdater.moc"
