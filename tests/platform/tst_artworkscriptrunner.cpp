#include <QtTest>

#include <QFile>

#include "core/logging.h"
#include "core/shared.h"
#include "platform/artworkscriptrunner.h"
#include "testenv.h"

class TestArtworkScriptRunner : public QObject
{
    Q_OBJECT

private slots:
    void noOsascriptIsLoggedAndFails();
};

void TestArtworkScriptRunner::noOsascriptIsLoggedAndFails()
{
    Logging::startRun();
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!ArtworkScriptRunner::run(QStringLiteral("/opt/x/AppleScript/iTunesArtworkExtractor.applescript")));
    QVERIFY(timer.elapsed() < 5000);
    QFile log(shared::dataFolder() + QStringLiteral("/debug.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll());
    QVERIFY2(text.contains(QStringLiteral("there is no osascript")), qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("iTunesArtworkExtractor.applescript")));
}

CORVANE_TEST_MAIN(TestArtworkScriptRunner)
#include "tst_artworkscriptrunner.moc"
