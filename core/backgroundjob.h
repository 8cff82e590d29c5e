#ifndef BACKGROUNDJOB_H
#define BACKGROUNDJOB_H

#include <QFuture>
#include <QFutureWatcher>
#include <QList>
#include <QObject>
#include <QDeadlineTimer>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <atomic>
#include <functional>
#include <utility>

// The program's own long jobs.  Each job registers here while it lives, so
// that the close sequence stops exactly these (each through its own flag)
// and waits for them, instead of waiting for the whole global thread pool.
class JobRegistry
{
public:
    class Job
    {
    public:
        virtual ~Job() = default;
        virtual void requestStop() = 0;
        virtual bool isRunning() const = 0;
        virtual bool waitFor(int msecs) = 0;
    };

    static JobRegistry &instance();

    void add(Job *job);
    void remove(Job *job);
    // Asks every running job to stop, then waits up to `msecs` in all for
    // them to end.  True when none runs any more.
    bool stopAndWait(int msecs);
    bool anyRunning() const;
    // The pool the jobs run on.  Not the global pool: Qt itself uses that
    // one (the raster painter splits large fills over it), so a job blocked
    // for minutes on an external program there would freeze the window of
    // a machine with one or two cores.
    static QThreadPool *pool();

private:
    QList<Job *> jobs; // GUI thread only
};

// One worker with the shape every job of the program shares: a future and
// its watcher, a stop flag of its own (cancelling one job never stops
// another), a callback in the GUI thread when the work ends, and membership
// of the close sequence.  The work runs on the jobs' own pool and gets the stop
// flag; it must return a copy of what it made, never touch QML or rows.
//
//   BackgroundJob<Result> job;
//   job.start([input](const std::atomic<bool> &stop) { ... return result; },
//             [this](Result r) { apply(r); });
template <typename T>
class BackgroundJob : public JobRegistry::Job
{
public:
    using Work = std::function<T(const std::atomic<bool> &stop)>;
    using Done = std::function<void(T)>;

    explicit BackgroundJob(QThreadPool *pool = nullptr) : threadPool(pool)
    {
        JobRegistry::instance().add(this);
    }
    ~BackgroundJob() override
    {
        JobRegistry::instance().remove(this);
        stop = true;
        watcher.disconnect();
        watcher.waitForFinished();
    }
    BackgroundJob(const BackgroundJob &) = delete;
    BackgroundJob &operator=(const BackgroundJob &) = delete;

    // Starts `work` unless a run is still going (returns false then).
    // `done` runs in the thread that owns the watcher (the GUI thread) with
    // the result, also after a stop: the work returns what it has so far.
    bool start(Work work, Done done = Done())
    {
        if (isRunning())
            return false;
        stop = false;
        watcher.disconnect();
        if (done) {
            QObject::connect(&watcher, &QFutureWatcher<T>::finished, &watcher, [this, done] {
                done(watcher.future().result());
            });
        }
        QThreadPool *pool = threadPool ? threadPool : JobRegistry::pool();
        watcher.setFuture(QtConcurrent::run(pool, [this, work] { return work(stop); }));
        return true;
    }

    void requestStop() override { stop = true; }
    bool stopRequested() const { return stop.load(); }
    bool isRunning() const override { return watcher.isRunning(); }
    bool waitFor(int msecs) override
    {
        if (!watcher.isRunning())
            return true;
        QFuture<T> future = watcher.future();
        // Qt 6.4 has no timed wait on a future: poll its state.
        QDeadlineTimer deadline(msecs);
        while (!future.isFinished() && !deadline.hasExpired())
            QThread::msleep(5);
        return future.isFinished();
    }
    QFutureWatcher<T> *futureWatcher() { return &watcher; }

private:
    std::atomic<bool> stop{false};
    QFutureWatcher<T> watcher;
    QThreadPool *threadPool = nullptr;
};

#endif // BACKGROUNDJOB_H
