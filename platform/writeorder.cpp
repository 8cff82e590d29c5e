#include "platform/writeorder.h"

#include <QMutex>
#include <QMutexLocker>

#include <atomic>

namespace {

QMutex recorderMutex;
std::atomic<bool> installed{false};

WriteOrder::Recorder &currentRecorder()
{
    static WriteOrder::Recorder recorder;
    return recorder;
}

} // namespace

void WriteOrder::setRecorder(Recorder recorder)
{
    QMutexLocker lock(&recorderMutex);
    installed = bool(recorder);
    currentRecorder() = std::move(recorder);
}

bool WriteOrder::recording()
{
    return installed.load(std::memory_order_relaxed);
}

void WriteOrder::record(Event event, const QString &path)
{
    if (!recording())
        return;
    QMutexLocker lock(&recorderMutex);
    if (currentRecorder())
        currentRecorder()(event, path);
}
