#include <QtTest>

#include <QThread>
#include <QtConcurrent>

#include "app/rowpublisher.h"
#include "core/backgroundjob.h"
#include "testenv.h"

// The job shape every feature uses: results arrive in the GUI thread, a stop
// reaches only its own job, and the close sequence waits for running jobs.
class TestBackgroundJob : public QObject
{
    Q_OBJECT

private slots:
    // A stop reaches only its own job; the other's result arrives in this thread.
    void stopReachesOnlyItsOwnJob()
    {
        // Ends by itself only long after the waits below have given up.
        const auto spin = [](const std::atomic<bool> &stop) {
            int rounds = 0;
            while (!stop && rounds < 40000) {
                QThread::msleep(5);
                ++rounds;
            }
            return rounds;
        };
        const auto slow = [](const std::atomic<bool> &stop) {
            QThread::msleep(200);
            return stop ? -2 : 1;
        };
        BackgroundJob<int> stopped, other;
        int otherResult = -1;
        QThread *doneIn = nullptr;
        QVERIFY(stopped.start(spin));
        QVERIFY(other.start(slow, [&](int value) {
            otherResult = value;
            doneIn = QThread::currentThread();
        }));
        QVERIFY(!stopped.start(spin)); // one run at a time
        stopped.requestStop();
        QVERIFY(stopped.waitFor(60000));
        QTRY_COMPARE(otherResult, 1);
        QCOMPARE(doneIn, QThread::currentThread());

        QVERIFY(stopped.start(spin));
        QVERIFY(JobRegistry::instance().stopAndWait(60000));
        QVERIFY(!JobRegistry::instance().anyRunning());
    }

    void aLongJobLeavesTheGlobalPoolFree()
    {
        QThreadPool *global = QThreadPool::globalInstance();
        const int threads = global->maxThreadCount();
        global->setMaxThreadCount(1);
        BackgroundJob<int> job;
        QVERIFY(job.start([](const std::atomic<bool> &stop) {
            while (!stop)
                QThread::msleep(5);
            return 0;
        }));
        QFuture<int> other = QtConcurrent::run([] { return 1; });
        const bool ran = QTest::qWaitFor([&] { return other.isFinished(); }, 60000);
        job.requestStop();
        QVERIFY(job.waitFor(60000));
        global->setMaxThreadCount(threads);
        QVERIFY(ran);
    }

    void previousRowsLiveUntilTheNextPublication()
    {
        QStringList published;
        RowPublisher publisher([&](const QString &name, const QVariant &) { published.append(name); });
        QPointer<QObject> first = new QObject;
        publisher.publish(QStringLiteral("rows"), QVariant(), std::shared_ptr<QObject>(first.data()));
        publisher.publish(QStringLiteral("rows"), QVariant(), std::make_shared<QObject>());
        QVERIFY(first); // QML may still hold a row of the generation just replaced
        publisher.publish(QStringLiteral("rows"), QVariant(), std::make_shared<QObject>());
        // Freed in a turn of the event loop of its own, after the new rows are shown.
        QVERIFY(first);
        QCoreApplication::processEvents();
        QVERIFY(!first);
        QCOMPARE(published.size(), 3);
    }
};

CORVANE_TEST_MAIN(TestBackgroundJob)
#include "tst_backgroundjob.moc"
