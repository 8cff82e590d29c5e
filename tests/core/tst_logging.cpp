#include <QtConcurrent>
#include <QtTest>

#include "core/logging.h"
#include "core/shared.h"
#include "scanfixture.h"
#include "testenv.h"

class TestLogging : public QObject
{
    Q_OBJECT

private slots:
    void lineFormatAndErrorLog()
    {
        // Before the run starts the log has no path: a line is dropped quietly.
        Logging::getInstance()->WriteLog(QStringLiteral("lost"), QString());
        QVERIFY(!QFileInfo::exists(shared::dataFolder() + QStringLiteral("/debug.log")));

        Logging::startRun();
        Logging *log = Logging::getInstance();
        log->WriteLog(QString::number(12), QStringLiteral(" File Copying Done"));
        const QStringList lines = logLines();
        QCOMPARE(lines.size(), 2);
        static const QRegularExpression stamp(
            QStringLiteral("^[A-Z][a-z]{2} [A-Z][a-z]{2} \\d{1,2} \\d{2}:\\d{2}:\\d{2} \\d{4} - "));
        QVERIFY2(stamp.match(lines.at(1)).hasMatch(), qPrintable(lines.at(1)));
        QVERIFY(lines.at(0).endsWith(" - Start RuVO") && lines.at(1).endsWith(" - 12 File Copying Done"));

        QVERIFY(testkit::fileBytes(log->errorLogPath()).trimmed().endsWith(" : Starting application..."));
        // A new run keeps only its own lines.
        Logging::startRun();
        log->WriteLog(QStringLiteral("new run"), QString());
        QCOMPARE(logLines().size(), 2);
        QVERIFY(logLines().at(0).endsWith(QStringLiteral("Start RuVO")) && logLines().at(1).endsWith("new run"));
    }

    void manyThreadsKeepLinesWhole()
    {
        Logging::startRun();
        constexpr int threads = 8, perThread = 200;
        QList<int> workers(threads);
        std::iota(workers.begin(), workers.end(), 0);
        QtConcurrent::blockingMap(workers, [](int worker) {
            const QString payload = QString(40, QChar(u'a' + worker));
            for (int i = 0; i < perThread; ++i)
                Logging::getInstance()->WriteLog(QStringLiteral("w%1 %2 ").arg(worker).arg(i), payload);
        });

        const QStringList lines = logLines();
        QCOMPARE(lines.size(), threads * perThread + 1);
        static const QRegularExpression whole(QStringLiteral(" - w(\\d) (\\d+) ([a-h]{40})$"));
        QSet<QString> seen;
        for (int i = 1; i < lines.size(); ++i) {
            const QRegularExpressionMatch m = whole.match(lines.at(i));
            QVERIFY2(m.hasMatch(), qPrintable(lines.at(i)));
            QCOMPARE(m.captured(3), QString(40, QChar(u'a' + m.captured(1).toInt())));
            seen.insert(m.captured(1) + QLatin1Char('/') + m.captured(2));
        }
        QCOMPARE(seen.size(), threads * perThread);
    }

private:
    static QStringList logLines()
    {
        return QString::fromUtf8(testkit::fileBytes(shared::dataFolder() + "/debug.log")).split('\n', Qt::SkipEmptyParts);
    }
};

CORVANE_TEST_MAIN(TestLogging)
#include "tst_logging.moc"
