#include <QApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "testenv.h"
#include "update/autoupdater.h"
#include "update/cocoainitializer.h"
#include "update/sparkleautoupdater.h"

// No test here reaches a real network: the feeds are a refused local port, a
// local server that never answers and a local file.
class TestSparkleAutoUpdater : public QObject
{
    Q_OBJECT

private slots:
    void keepsItsFeedUrl();
    void defaultFeedIsOnTheUpdateHost();
    void offlineCheckReturnsAtOnceAndEndsQuietly();
    void silentServerNeverBlocks();
    void fetchesTheFeedInTheBackground();
    void invalidFeedStartsNothing();
    void initializerDoesNothing();
};

void TestSparkleAutoUpdater::keepsItsFeedUrl()
{
    SparkleAutoUpdater updater(QStringLiteral("http://127.0.0.1:9/update/mac/updatemac.xml"));
    QCOMPARE(updater.feedUrl(), QUrl(QStringLiteral("http://127.0.0.1:9/update/mac/updatemac.xml")));
    QVERIFY(!updater.automaticallyChecksForUpdates());
    QVERIFY(!updater.isChecking());
    QVERIFY(updater.lastFeed().isEmpty());
}

void TestSparkleAutoUpdater::defaultFeedIsOnTheUpdateHost()
{
    const QUrl url(SparkleAutoUpdater::defaultFeedUrl());
    QCOMPARE(url.host(), QStringLiteral("updates.corvane.example"));
    QCOMPARE(url.path(), QStringLiteral("/update/mac/updatemac.xml"));
}

void TestSparkleAutoUpdater::offlineCheckReturnsAtOnceAndEndsQuietly()
{
    // Port 1 on the loopback interface: nothing listens, the connection is refused.
    std::unique_ptr<AutoUpdater> updater =
        std::make_unique<SparkleAutoUpdater>(QStringLiteral("http://127.0.0.1:1/update/mac/updatemac.xml"));
    auto *sparkle = static_cast<SparkleAutoUpdater *>(updater.get());
    QElapsedTimer timer;
    timer.start();
    updater->checkForUpdates();
    QVERIFY2(timer.elapsed() < 500, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(sparkle->automaticallyChecksForUpdates());
    QVERIFY(sparkle->isChecking());

    QTRY_VERIFY_WITH_TIMEOUT(!sparkle->isChecking(), 15000);
    QVERIFY(sparkle->lastFeed().isEmpty());
    // Nothing is shown to the user.
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
    QVERIFY(QApplication::activeModalWidget() == nullptr);
}

void TestSparkleAutoUpdater::silentServerNeverBlocks()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    const QString url = QStringLiteral("http://127.0.0.1:%1/update/mac/updatemac.xml").arg(server.serverPort());
    auto updater = std::make_unique<SparkleAutoUpdater>(url);
    QElapsedTimer timer;
    timer.start();
    updater->checkForUpdates();
    updater->checkForUpdates(); // a second call while one runs starts nothing new
    QVERIFY(timer.elapsed() < 500);
    QVERIFY(server.waitForNewConnection(5000));
    QVERIFY(updater->isChecking());
    // Going away in the middle of a check is safe.
    updater.reset();
    QTest::qWait(50);
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
}

void TestSparkleAutoUpdater::fetchesTheFeedInTheBackground()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray feed = "<?xml version=\"1.0\"?><rss><channel><item><title>2.0</title></item></channel></rss>";
    QFile file(dir.filePath(QStringLiteral("updatemac.xml")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(feed);
    file.close();

    SparkleAutoUpdater updater(QUrl::fromLocalFile(file.fileName()).toString());
    updater.checkForUpdates();
    QTRY_VERIFY_WITH_TIMEOUT(!updater.isChecking(), 10000);
    QCOMPARE(updater.lastFeed(), feed);
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
}

void TestSparkleAutoUpdater::invalidFeedStartsNothing()
{
    SparkleAutoUpdater updater{QString()};
    updater.checkForUpdates();
    QVERIFY(updater.automaticallyChecksForUpdates());
    QVERIFY(!updater.isChecking());
}

void TestSparkleAutoUpdater::initializerDoesNothing()
{
    const int before = QApplication::topLevelWidgets().size();
    {
        CocoaInitializer initializer;
    }
    QCOMPARE(QApplication::topLevelWidgets().size(), before);
}

CORVANE_TEST_MAIN(TestSparkleAutoUpdater)
#include "tst_sparkleautoupdater.moc"
