#pragma once

// Shared by the source files of track_data only: the folder scan and the
// iTunes import stage through the same thread and read on the same pool.

#include <memory>

#include <QDeadlineTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <QThread>
#include <QThreadPool>
#include <QWaitCondition>

#include "core/scanpictures.h"
#include "core/track_data.h"
#include "database/repositorystager.h"
#include "database/ruvodb.h"

namespace TrackDataInternal {

inline const QString playlistPicture = QStringLiteral("qrc:///resources/photos/playlist.png");

// Readers of the scan and the import; nothing else blocks in it.
inline QThreadPool *readerPool()
{
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool;
        p->setMaxThreadCount(qMax(1, QThread::idealThreadCount()));
        return p;
    }();
    return pool;
}

// track_data::ParseTags, also taking the file's embedded picture where the
// tag reading holds it anyway (MPEG files); `picture` may be null.  `size`
// is the file's size when the caller has it already (-1: looked up here).
bool parseTags(TagObject &tags, const QString &path, EmbeddedPicture *picture, qint64 size = -1);

} // namespace TrackDataInternal

// Stages a folder scan's records, in the order they are mapped, on a thread
// of its own (with its own connection, closed when the thread ends), so the
// scan thread only maps.  A few records wait at most: the scan thread waits
// when the stager falls behind (another writer holds the library).  All
// records handed over are staged before finish() returns.
class track_data::ScanStaging
{
public:
    // Stages through `attachedTo` (the scan's scanStaging) while it lives.
    explicit ScanStaging(ScanStaging *&attachedTo)
        : attached(attachedTo), thread(QThread::create([this] { run(); }))
    {
        thread->start();
        attached = this;
    }
    ~ScanStaging()
    {
        attached = nullptr;
        finish();
    }
    ScanStaging(const ScanStaging &) = delete;
    ScanStaging &operator=(const ScanStaging &) = delete;

    void add(const track &record)
    {
        QMutexLocker locker(&mutex);
        while (queue.size() >= waitingLimit)
            taken.wait(&mutex);
        queue.append(record);
        // The stager is woken for a group of records, not for each: the scan
        // thread hands them over faster than a wake-up costs.  What waits
        // meanwhile is staged at the next group, a commit that falls due, or
        // the end.
        if (queue.size() >= handOverRecords)
            added.wakeOne();
    }

    void finish()
    {
        {
            const QMutexLocker locker(&mutex);
            done = true;
            added.wakeOne();
        }
        thread->wait();
    }

private:
    static constexpr qsizetype waitingLimit = 64;
    static constexpr qsizetype handOverRecords = 16;

    void run()
    {
        // One batch for the whole scan, as on the scan thread before.
        const RepositoryStager::Batch batch;
        for (;;) {
            QList<track> records;
            {
                QMutexLocker locker(&mutex);
                // Nothing to stage: the open transaction is committed when
                // its quarter second is up, as at a record, so other writers
                // of the library never wait longer while the scan is busy
                // with something slow (a tool, a picture, its readers).  Not
                // sooner: each commit syncs the log to the disk, and the scan
                // thread pauses often and briefly for its readers.
                if (queue.isEmpty() && !done && !added.wait(&mutex, RepositoryStager::openBatchDue())) {
                    locker.unlock();
                    RepositoryStager::commitOpenBatch();
                    locker.relock();
                }
                while (queue.isEmpty() && !done)
                    added.wait(&mutex);
                if (queue.isEmpty())
                    return;
                records.swap(queue);
                taken.wakeAll();
            }
            for (const track &record : std::as_const(records))
                ruvoDB::insertDataTrackRepo(record);
        }
    }

    QMutex mutex;
    QWaitCondition added;
    QWaitCondition taken;
    QList<track> queue; // guarded by mutex
    bool done = false;  // guarded by mutex
    ScanStaging *&attached;
    std::unique_ptr<QThread> thread;
};
