#include "core/workguard.h"

#include <QMap>

#include <array>
#include <utility>

namespace {

struct Watched
{
    WorkGuard::Work work;
    WorkGuard::Probe probe;
};

// Never destroyed: watches of objects with static lifetime may outlive it otherwise.
QMap<int, Watched> &watched()
{
    static auto *map = new QMap<int, Watched>();
    return *map;
}

int nextId = 0;

constexpr std::array<WorkGuard::Work, 8> allWork{
    WorkGuard::Work::LibraryLoad,   WorkGuard::Work::Add,      WorkGuard::Work::Remove,   WorkGuard::Work::Format,
    WorkGuard::Work::Transfer,      WorkGuard::Work::VideoTransfer, WorkGuard::Work::VideoRun, WorkGuard::Work::FileCheck};

} // namespace

WorkGuard::Watch::Watch(Work work, Probe probe) : id(++nextId)
{
    watched().insert(id, Watched{work, std::move(probe)});
}

WorkGuard::Watch::~Watch()
{
    if (id)
        watched().remove(id);
}

WorkGuard::Watch::Watch(Watch &&other) noexcept : id(std::exchange(other.id, 0)) {}

WorkGuard::Watch &WorkGuard::Watch::operator=(Watch &&other) noexcept
{
    if (this != &other) {
        if (id)
            watched().remove(id);
        id = std::exchange(other.id, 0);
    }
    return *this;
}

bool WorkGuard::blocks(Work wanted, Work running)
{
    using W = Work;
    // Until the library is read, nothing may change it.  (A transfer works
    // on the tracks handed over, which come from the loaded library.)
    if (running == W::LibraryLoad)
        return wanted == W::Add || wanted == W::Remove;
    switch (wanted) {
    case W::Add:
        // Adds share the work lists; a removal's sweep of empty folders must
        // not meet the copies; and a song whose stored copy went missing is
        // only a duplicate until the file check has dropped its row.  A video
        // run works on its own copy of its videos: an add goes on beside it,
        // and the videos of the add join it.
        return running == W::Add || running == W::Remove || running == W::FileCheck;
    case W::Remove:
        // A removal deletes files and folders that any of these may be using.
        // Beside a video run it goes on unless it takes a video the run has
        // not finished (the removal asks the run), and its sweep leaves the
        // run's folders.
        return running == W::Add || running == W::Remove || running == W::Transfer || running == W::FileCheck;
    case W::Transfer:
    case W::Format:
        // One drive job at a time; a removal deletes files the copy reads.
        return running == W::Remove || running == W::Transfer || running == W::Format;
    case W::VideoTransfer:
        // The video view changes as the run stores each video.
        return blocks(W::Transfer, running) || running == W::VideoRun;
    case W::FileCheck:
        // The check drops the rows of missing files: not under a change of the library.
        return running == W::Add || running == W::Remove || running == W::VideoRun;
    case W::LibraryLoad:
        return false;
    case W::VideoRun:
        // Started only at the end of an add, which the guard let through;
        // videos of a later add join the running videos.
        return false;
    }
    return false;
}

bool WorkGuard::isRunning(Work work)
{
    // A copy: a probe may (in principle) end a watch.
    const QMap<int, Watched> all = watched();
    for (const Watched &w : all) {
        if (w.work == work && w.probe && w.probe())
            return true;
    }
    return false;
}

std::optional<WorkGuard::Work> WorkGuard::blocker(Work wanted)
{
    for (Work running : allWork) {
        if (blocks(wanted, running) && isRunning(running))
            return running;
    }
    return std::nullopt;
}

QString WorkGuard::refusal(Work running)
{
    switch (running) {
    case Work::Add:
        return QStringLiteral("Media are being added to the library. Please wait until the add has finished, then "
                              "try again.");
    case Work::Remove:
        return QStringLiteral("Media are being removed from the library. Please wait until the removal has "
                              "finished, then try again.");
    case Work::Transfer:
    case Work::VideoTransfer:
        return QStringLiteral("Files are being transferred to a drive. Please wait until the transfer has finished, "
                              "then try again.");
    case Work::VideoRun:
        return QStringLiteral("Videos are being optimised. Please wait until the optimisation has finished (click "
                              "\"view status\" for details), then try again.");
    case Work::FileCheck:
        return QStringLiteral("The library's files are being checked. Please wait a moment, then try again.");
    case Work::LibraryLoad:
        return QStringLiteral("The library is still loading: please try again in a moment.");
    case Work::Format:
        return QStringLiteral("A drive is being formatted. Please wait until it has finished, then try again.");
    }
    return QString();
}

QString WorkGuard::refusalFor(Work wanted)
{
    const std::optional<Work> running = blocker(wanted);
    return running ? refusal(*running) : QString();
}
