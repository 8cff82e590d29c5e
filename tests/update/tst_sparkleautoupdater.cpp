#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include "core/logging.h"
#include "core/shared.h"
#include "testenv.h"
#include "update/sparkleautoupdater.h"

namespace {

// An appcast with one item per "version|link" entry.
QByteArray appcast(const QStringList &items)
{
    QByteArray feed = "<?xml version=\"1.0\"?>\n<rss version=\"2.0\" "
                      "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel>"
                      "<title>Corvane Media Organiser</title>";
    for (const QString &item : items) {
        const QString version = item.section('|', 0, 0), link = item.section('|', 1);
        feed += "<item><title>Version " + version.toUtf8() + "</title>";
        if (!link.isEmpty())
            feed += "<link>" + link.toUtf8() + "</link>";
        feed += "<enclosure url=\"https://updates.corvane.example/get/" + version.toUtf8() +
                ".tar.gz\" sparkle:version=\"" + version.toUtf8() + "\" length=\"1\"/></item>";
    }
    return feed + "</channel></rss>\n";
}

// Answers every request on the loopback interface with one HTTP response.
class FeedServer : public QTcpServer
{
public:
    QByteArray status = "200 OK";
    QByteArray body;
    bool announceLength = true; // else the body ends where the connection does

    FeedServer()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    if (!socket->readAll().contains("\r\n\r\n"))
                        return;
                    const QByteArray length =
                        announceLength ? "Content-Length: " + QByteArray::number(body.size()) + "\r\n" : QByteArray();
                    socket->write("HTTP/1.1 " + status + "\r\nContent-Type: application/rss+xml\r\n" + length +
                                  "Connection: close\r\n\r\n" + body);
                    socket->disconnectFromHost();
                });
            }
        });
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/update/mac/updatemac.xml").arg(serverPort()); }
};

// Answers with a body far past any appcast, sent piece by piece so that
// neither side holds it whole: a feed that names a newer version but is
// padded without end, with or without its length announced.
class FloodServer : public QTcpServer
{
public:
    bool announceLength = false;
    static constexpr qint64 bodyBytes = 256LL * 1024 * 1024;
    qint64 sent = 0;
    bool cutOff = false; // the client went away before the body's end

    FloodServer()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
                    cutOff = sent < bodyBytes;
                    socket->deleteLater();
                });
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    if (!socket->readAll().contains("\r\n\r\n") || sent > 0)
                        return;
                    QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: application/rss+xml\r\n";
                    if (announceLength)
                        head += "Content-Length: " + QByteArray::number(bodyBytes) + "\r\n";
                    socket->write(head + "Connection: close\r\n\r\n");
                    send(socket, appcast({"9.9|https://updates.corvane.example/release/9.9"}).replace("</rss>", "<!--"));
                });
                connect(socket, &QTcpSocket::bytesWritten, socket, [this, socket] {
                    if (socket->bytesToWrite() > 0)
                        return;
                    if (sent < bodyBytes)
                        send(socket, QByteArray(std::min<qint64>(64 * 1024, bodyBytes - sent), ' '));
                    else
                        socket->disconnectFromHost();
                });
            }
        });
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/update/mac/updatemac.xml").arg(serverPort()); }

private:
    void send(QTcpSocket *socket, const QByteArray &bytes)
    {
        sent += bytes.size();
        socket->write(bytes);
    }
};

// Sends its response one byte per tick of the test's own timer, without end:
// from the first byte of the status line, or after the whole head.  The
// client is never silent for long, so only an overall limit ends its fetch.
// Once `trickling` is cleared it answers with `body` at once.
class TrickleServer : public QTcpServer
{
public:
    bool headFirst = false;
    bool trickling = true;
    QByteArray body;
    qint64 sent = 0;
    bool cutOff = false; // the client went away

    TrickleServer()
    {
        ticks.setInterval(10);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
                    cutOff = cutOff || ticks.isActive();
                    ticks.stop();
                    socket->deleteLater();
                });
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    if (!socket->readAll().contains("\r\n\r\n") || ticks.isActive())
                        return;
                    if (!trickling) {
                        socket->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) +
                                      "\r\nConnection: close\r\n\r\n" + body);
                        socket->disconnectFromHost();
                        return;
                    }
                    // No length: the body ends only where the connection does.
                    QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: application/rss+xml\r\n"
                                      "Connection: close\r\n\r\n";
                    pending = head + appcast({"9.9"}).replace("</rss>", "<!--");
                    if (headFirst) {
                        socket->write(head);
                        pending.remove(0, head.size());
                    }
                    QObject::disconnect(&ticks, nullptr, nullptr, nullptr);
                    connect(&ticks, &QTimer::timeout, socket, [this, socket] {
                        socket->write(pending.isEmpty() ? QByteArray(" ") : pending.left(1));
                        pending.remove(0, 1);
                        ++sent;
                    });
                    ticks.start();
                });
            }
        });
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/update/mac/updatemac.xml").arg(serverPort()); }

private:
    QTimer ticks;
    QByteArray pending;
};

int failureLines(const QByteArray &why = QByteArray())
{
    QFile log(shared::dataFolder() + QStringLiteral("/debug.log"));
    if (!log.open(QIODevice::ReadOnly))
        return 0;
    int lines = 0;
    for (const QByteArray &line : log.readAll().split('\n'))
        lines += line.contains("Update check failed") && line.contains(why) ? 1 : 0;
    return lines;
}

// An appcast as Sparkle's tools write it: every item with its title, page,
// version numbers, notes, date, system requirement and signed download.
QByteArray realisticAppcast(int releases)
{
    QByteArray feed = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\" "
                      "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\" "
                      "xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n<channel>\n"
                      "<title>Corvane Media Organiser</title>\n<link>https://updates.corvane.example/</link>\n"
                      "<description>Most recent changes</description>\n<language>en</language>\n";
    for (int i = 1; i <= releases; ++i) {
        const QByteArray v = "1." + QByteArray::number(i), build = QByteArray::number(100 + i);
        feed += "<item>\n<title>Version " + v + "</title>\n<link>https://updates.corvane.example/release/" + v +
                "</link>\n<sparkle:version>" + build + "</sparkle:version>\n<sparkle:shortVersionString>" + v +
                "</sparkle:shortVersionString>\n<description><![CDATA[<ul><li>Fixes</li></ul>]]></description>\n"
                "<pubDate>Mon, 07 Dec 2026 10:00:00 +0000</pubDate>\n"
                "<sparkle:minimumSystemVersion>10.13</sparkle:minimumSystemVersion>\n"
                "<enclosure url=\"https://updates.corvane.example/get/" +
                v + ".tar.gz\" sparkle:version=\"" + build + "\" sparkle:shortVersionString=\"" + v +
                "\" length=\"31457280\" type=\"application/octet-stream\" sparkle:edSignature=\"c2lnbmF0dXJl\"/>\n"
                "</item>\n";
    }
    return feed + "</channel>\n</rss>\n";
}

} // namespace

// No test here reaches a real network: the feeds come from a server on the
// loopback interface, a refused local port, a local server that never
// answers and a local file.
class TestSparkleAutoUpdater : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Logging::startRun(); }

    void tellsOfANewerVersion_data()
    {
        QTest::addColumn<QString>("status");
        QTest::addColumn<QByteArray>("feed");
        QTest::addColumn<QString>("notice"); // "": nothing shown
        QTest::addColumn<bool>("logged");    // one line in the process log
        const QString told = "Corvane Media Organiser %1 is available (you have 1.4). You can get it from %2";
        QTest::addRow("newer, with its page")
            << "200 OK" << appcast({"1.5|https://updates.corvane.example/release/1.5"})
            << told.arg("1.5", "https://updates.corvane.example/release/1.5") << false;
        QTest::addRow("newer by a third number, only a download named")
            << "200 OK" << appcast({"1.4.1"}) << told.arg("1.4.1", "https://updates.corvane.example/get/1.4.1.tar.gz")
            << false;
        QTest::addRow("the newest is not the first item, and 1.10 is past 1.9")
            << "200 OK" << appcast({"1.9|https://x.example/1.9", "1.10|https://x.example/1.10", "0.9"})
            << told.arg("1.10", "https://x.example/1.10") << false;
        QTest::addRow("the same version") << "200 OK" << appcast({"1.4|https://x.example/1.4"}) << "" << false;
        QTest::addRow("the same, written longer") << "200 OK" << appcast({"1.4.0"}) << "" << false;
        QTest::addRow("older") << "200 OK" << appcast({"1.3.9", "0.2"}) << "" << false;
        QTest::addRow("malformed") << "200 OK" << QByteArray("<rss><channel><item><title>2.0</item>") << "" << true;
        QTest::addRow("not a feed") << "200 OK" << QByteArray("<html><body>Moved</body></html>") << "" << true;
        QTest::addRow("no such feed on the server") << "404 Not Found" << QByteArray("gone") << "" << true;
    }

    // Each check ends with the user told of a newer version once, or with
    // nothing shown; a feed that can't be used leaves one log line.
    void tellsOfANewerVersion()
    {
        QFETCH(QString, status);
        QFETCH(QByteArray, feed);
        QFETCH(QString, notice);
        QFETCH(bool, logged);
        FeedServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        server.status = status.toLatin1();
        server.body = feed;
        SparkleAutoUpdater updater(server.url(), QStringLiteral("1.4"));
        QStringList notices;
        updater.setNotice([&notices](const QString &text) { notices << text; });
        const int linesBefore = failureLines();
        // A second check finds the same release: the user is not told again.
        for (int check = 0; check < 2; ++check) {
            updater.checkForUpdates();
            QTRY_VERIFY_WITH_TIMEOUT(!updater.isChecking(), 60000);
        }
        QCOMPARE(notices, notice.isEmpty() ? QStringList() : QStringList{notice});
        QCOMPARE(failureLines() - linesBefore, logged ? 2 : 0);
    }

    void oversizedFeedIsNotRead_data()
    {
        QTest::addColumn<bool>("announced");
        QTest::addRow("its length announced") << true;
        QTest::addRow("no length, a body without end") << false;
    }

    // A feed past the cap is cut off while it arrives: one log line, nothing
    // shown, and the program never holds more than the cap of it.
    void oversizedFeedIsNotRead()
    {
        QFETCH(bool, announced);
        FloodServer server;
        server.announceLength = announced;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        SparkleAutoUpdater updater(server.url(), QStringLiteral("1.4"));
        QStringList notices;
        updater.setNotice([&notices](const QString &text) { notices << text; });
        const int linesBefore = failureLines();
        updater.checkForUpdates();
        QTRY_VERIFY_WITH_TIMEOUT(!updater.isChecking(), 120000);
        QVERIFY(notices.isEmpty());
        QVERIFY(updater.lastFeed().isEmpty());
        QCOMPARE(failureLines() - linesBefore, 1);
        QTRY_VERIFY_WITH_TIMEOUT(server.cutOff, 60000);
    }

    // Nesting past the depth cap makes the feed damaged, even one that
    // would name a newer version further on.
    void deeplyNestedFeedIsDamaged()
    {
        const int depth = 100000;
        QByteArray feed = appcast({"9.9|https://updates.corvane.example/release/9.9"});
        feed.replace("<channel>", "<channel>" + QByteArray("<x>").repeated(depth) + QByteArray("</x>").repeated(depth));
        QVERIFY(feed.size() < SparkleAutoUpdater::maxFeedBytes);
        QString why;
        QVERIFY(!SparkleAutoUpdater::newestRelease(feed, &why));
        QVERIFY2(why.contains(QLatin1String("nested deeper")), qPrintable(why));

        FeedServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        server.body = feed;
        SparkleAutoUpdater updater(server.url(), QStringLiteral("1.4"));
        QStringList notices;
        updater.setNotice([&notices](const QString &text) { notices << text; });
        const int linesBefore = failureLines();
        updater.checkForUpdates();
        QTRY_VERIFY_WITH_TIMEOUT(!updater.isChecking(), 60000);
        QVERIFY(notices.isEmpty());
        QCOMPARE(failureLines() - linesBefore, 1);
    }

    void manyReleasesAreRead_data()
    {
        QTest::addColumn<int>("releases");
        QTest::addRow("20 releases of eight elements each") << 20;
        QTest::addRow("a long-lived program's 40 releases") << 40;
    }

    // The depth cap bounds nesting, not the number of elements: a long
    // appcast is read to its end and its newest release found.
    void manyReleasesAreRead()
    {
        QFETCH(int, releases);
        QString why;
        const std::optional<SparkleAutoUpdater::Release> newest =
            SparkleAutoUpdater::newestRelease(realisticAppcast(releases), &why);
        QVERIFY2(newest, qPrintable(why));
        QCOMPARE(newest->version, QStringLiteral("1.%1").arg(releases));
        QCOMPARE(newest->where, QStringLiteral("https://updates.corvane.example/release/1.%1").arg(releases));
    }

    void feedAtTheCap_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<bool>("announced");
        const qint64 cap = SparkleAutoUpdater::maxFeedBytes;
        QTest::addRow("exactly the cap, its length announced: read") << cap << true;
        QTest::addRow("exactly the cap, no length: read") << cap << false;
        QTest::addRow("one byte past the cap, its length announced: refused") << cap + 1 << true;
        QTest::addRow("one byte past the cap, no length: refused") << cap + 1 << false;
    }

    // The cap is the largest feed read: a feed of exactly that size is used,
    // one byte more is not.
    void feedAtTheCap()
    {
        QFETCH(qint64, bytes);
        QFETCH(bool, announced);
        const bool read = bytes <= SparkleAutoUpdater::maxFeedBytes;
        FeedServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        server.announceLength = announced;
        server.body = appcast({"1.5|https://updates.corvane.example/release/1.5"});
        server.body += QByteArray(bytes - server.body.size(), ' '); // white space may follow the feed
        SparkleAutoUpdater updater(server.url(), QStringLiteral("1.4"));
        QStringList notices;
        updater.setNotice([&notices](const QString &text) { notices << text; });
        const int linesBefore = failureLines();
        updater.checkForUpdates();
        QTRY_VERIFY_WITH_TIMEOUT(!updater.isChecking(), 60000);
        QCOMPARE(updater.lastFeed().size(), read ? bytes : 0);
        QCOMPARE(notices.size(), read ? 1 : 0);
        QCOMPARE(failureLines() - linesBefore, read ? 0 : 1);
    }

    void tricklingServerIsGivenUp_data()
    {
        QTest::addColumn<bool>("headFirst");
        QTest::addRow("the status line trickles") << false;
        QTest::addRow("the head at once, then the body trickles") << true;
    }

    // A server that never stops sending, a byte at a time, is given up at
    // the overall limit (the test's is short); the next check works.
    void tricklingServerIsGivenUp()
    {
        QFETCH(bool, headFirst);
        TrickleServer server;
        server.headFirst = headFirst;
        server.body = appcast({"1.5|https://updates.corvane.example/release/1.5"});
        QVERIFY(server.listen(QHostAddress::LocalHost));
        SparkleAutoUpdater updater(server.url(), QStringLiteral("1.4"));
        updater.setTimeLimit(500);
        QStringList notices;
        updater.setNotice([&notices](const QString &text) { notices << text; });
        const int linesBefore = failureLines("did not arrive");
        updater.checkForUpdates();
        // Without an overall limit the fetch would go on as long as the server.
        QTRY_VERIFY_WITH_TIMEOUT(!updater.isChecking(), 20000);
        QCOMPARE(failureLines("did not arrive") - linesBefore, 1);
        QTRY_VERIFY(server.cutOff);
        QVERIFY(notices.isEmpty());

        server.trickling = false;
        updater.checkForUpdates();
        QVERIFY(updater.isChecking());
        QTRY_VERIFY_WITH_TIMEOUT(!updater.isChecking(), 20000);
        QCOMPARE(notices.size(), 1);
    }

    void checkRunsInTheBackground()
    {
        QTemporaryDir dir;
        const QByteArray feed = "<?xml version=\"1.0\"?><rss><channel><item><title>2.0</title></item></channel></rss>";
        QFile file(dir.filePath(QStringLiteral("updatemac.xml")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(feed) == feed.size() && file.flush());
        const int linesBefore = failureLines();
        // Port 1 on the loopback interface: nothing listens, the connection is refused.
        for (const auto &[url, fetched] : {std::pair{QStringLiteral("http://127.0.0.1:1/update/mac/updatemac.xml"),
                                                     QByteArray()},
                                           {QUrl::fromLocalFile(file.fileName()).toString(), feed}}) {
            SparkleAutoUpdater updater(url);
            QVERIFY(!updater.automaticallyChecksForUpdates());
            // Still checking when the call returns: it did not wait for the fetch.
            updater.checkForUpdates();
            QVERIFY(updater.automaticallyChecksForUpdates() && updater.isChecking());
            QTRY_VERIFY_WITH_TIMEOUT(!updater.isChecking(), 60000);
            QCOMPARE(updater.lastFeed(), fetched);
        }
        // Offline, and a feed that names no version: one log line each.
        QCOMPARE(failureLines() - linesBefore, 2);
    }

    void silentServerNeverBlocks()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        auto updater = std::make_unique<SparkleAutoUpdater>(
            QStringLiteral("http://127.0.0.1:%1/update/mac/updatemac.xml").arg(server.serverPort()));
        // A check that waited for this server would return only at its
        // timeout, no longer checking.
        updater->checkForUpdates();
        updater->checkForUpdates(); // a second call while one runs starts nothing new
        QVERIFY(server.waitForNewConnection(60000) && updater->isChecking());
        updater.reset(); // going away in the middle of a check is safe
        QTest::qWait(50);
    }
};

CORVANE_TEST_MAIN(TestSparkleAutoUpdater)
#include "tst_sparkleautoupdater.moc"
