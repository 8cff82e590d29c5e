#include "core/backgroundjob.h"

#include <QDeadlineTimer>
#include <QThread>

JobRegistry &JobRegistry::instance()
{
    static JobRegistry registry;
    return registry;
}

void JobRegistry::add(Job *job)
{
    jobs.append(job);
}

void JobRegistry::remove(Job *job)
{
    jobs.removeAll(job);
}

bool JobRegistry::stopAndWait(int msecs)
{
    const QList<Job *> running = jobs;
    for (Job *job : running)
        job->requestStop();
    QDeadlineTimer deadline(msecs);
    bool allEnded = true;
    for (Job *job : running)
        allEnded = job->waitFor(int(qMax<qint64>(0, deadline.remainingTime()))) && allEnded;
    return allEnded;
}

bool JobRegistry::anyRunning() const
{
    for (const Job *job : jobs) {
        if (job->isRunning())
            return true;
    }
    return false;
}

QThreadPool *JobRegistry::pool()
{
    // A handful of long jobs at most (one per feature); never fewer threads
    // than jobs that may run at once.
    static QThreadPool *jobs = [] {
        auto *p = new QThreadPool;
        p->setMaxThreadCount(16);
        return p;
    }();
    return jobs;
}
