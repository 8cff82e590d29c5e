#ifndef WORKGUARD_H
#define WORKGUARD_H

#include <QString>

#include <functional>
#include <optional>

// The one place that says which of the program's long operations may run
// together.  Each operation that changes the library, its files or a drive
// asks before it starts; the answer names the running work that stands in
// its way, and the user gets that work's one message.
//
// Who runs what is not kept here: each owner of a kind of work watches it
// with a probe (a Watch, alive as long as the owner), so a run that ends by
// any path is never left marked as running.  GUI thread only.
class WorkGuard
{
public:
    enum class Work {
        Add,           // media on their way into the library (plan, conversion, copy)
        Remove,        // ticked media leaving the library, and the sweep of emptied folders
        Format,        // a drive being formatted (the first step of its transfer)
        Transfer,      // a copy to a drive, from its confirmation on
        VideoTransfer, // a transfer that includes videos (asked for, never watched)
        VideoRun,      // the optimisation of added videos
        FileCheck,     // the start-up check of the library's files
        LibraryLoad,   // the library read at start-up, before its views are published
    };

    using Probe = std::function<bool()>;

    // Registers `probe` as telling whether `work` runs, until destroyed.
    class Watch
    {
    public:
        Watch() = default;
        Watch(Work work, Probe probe);
        ~Watch();
        Watch(Watch &&other) noexcept;
        Watch &operator=(Watch &&other) noexcept;
        Watch(const Watch &) = delete;
        Watch &operator=(const Watch &) = delete;

    private:
        int id = 0;
    };

    // Whether `wanted` must wait while `running` runs.
    static bool blocks(Work wanted, Work running);
    // Whether any watcher of `work` says it runs.
    static bool isRunning(Work work);
    // The first running work that keeps `wanted` from starting (the library
    // load first, then in the order of the enum); none when it may start.
    static std::optional<Work> blocker(Work wanted);
    // The message for a refusal because `running` runs.
    static QString refusal(Work running);
    // Empty when `wanted` may start, else the message of what keeps it.
    static QString refusalFor(Work wanted);
};

#endif // WORKGUARD_H
