#ifndef EXTERNALPROGRAM_H
#define EXTERNALPROGRAM_H

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QIODevice>
#include <QStringList>

#include <atomic>
#include <functional>

// Runs one of the helper programs the application ships with (ffmpeg,
// ffprobe, fpcalc) and reports plainly how the run ended.
//
// A tool is looked for beside the executable first ("ffmpeg/ffmpeg",
// "ffmpeg/ffprobe", "fingerprint/fpcalc" below the executable's folder), then
// on PATH.  Tests may point a tool at a program of their own with
// setToolPath().
//
// Every run takes an argument list (never a shell), a timeout and reads the
// exit status.  Standard input is closed (after the bytes given with
// setStandardInput(), if any), so a tool that would ask a question reads
// end-of-file instead of waiting (runStreaming() keeps it open).  run() and
// runStreaming() block the calling thread; they need no event loop and may
// be used on any thread.
class QProcess;

class ExternalProgram
{
public:
    enum Tool { Ffmpeg, Ffprobe, Fpcalc };

    // How a run ended.  A failed start, a timeout, a stop, a crash and a
    // non-zero exit are all distinct and none of them is a success.
    struct Result
    {
        bool started = false;
        bool timedOut = false;
        bool stopped = false;   // ended through the stop flag
        bool crashed = false;
        int exitCode = -1;
        QByteArray standardOutput;  // merged with standard error when asked
        QByteArray standardError;
        QString errorText;          // why it failed to start, for the debug output

        // Ran to its end by itself: started, not timed out, stopped or crashed.
        bool finished() const { return started && !timedOut && !stopped && !crashed; }
        // Finished with exit code 0.
        bool succeeded() const { return finished() && exitCode == 0; }
    };

    explicit ExternalProgram(Tool tool);
    explicit ExternalProgram(const QString &program);

    // Standard error merged into standard output (off by default).
    void setMergedChannels(bool merged) { m_merged = merged; }
    // Written to the program's standard input before it is closed.
    void setStandardInput(const QByteArray &input) { m_input = input; }
    // Polled while the program runs: once it turns true the program is killed.
    void setStopFlag(const std::atomic<bool> *stop) { m_stop = stop; }
    // Runs the program as background work (off by default): a long
    // conversion that keeps every core busy then yields them to the window
    // whenever it has something to do, and loses nothing on an idle machine.
    void setBackgroundPriority(bool background) { m_background = background; }

    // The program that run() starts; empty when a tool is found nowhere.
    QString program() const { return m_program; }

    Result run(const QStringList &arguments, int timeoutMs) const;

    // A streaming run, for long conversions.  Standard input stays open;
    // every line of standard output (ended by "\n" or "\r", as progress
    // lines are) goes to `onLine` as it arrives, on the calling thread, and
    // is not kept in the result.  When the stop flag turns true, `quit` is
    // written to standard input (ffmpeg ends cleanly on "q") and the program
    // is killed only if it has not ended `graceMs` later.  A run ended that
    // way reports `stopped`, whatever its exit code.
    using LineHandler = std::function<void(const QByteArray &line)>;
    Result runStreaming(const QStringList &arguments, int timeoutMs, const LineHandler &onLine,
                        const QByteArray &quit = QByteArrayLiteral("q"), int graceMs = 5000) const;

    // "ffmpeg/ffmpeg" and so on: the tool's place below the executable's folder.
    static QString relativePath(Tool tool);
    // The override, else the copy beside the executable, else the one on PATH;
    // empty when none exists.
    static QString locate(Tool tool);
    // Makes locate() return `path` for the tool (even when nothing is there);
    // an empty path removes the override.  Meant for tests.
    static void setToolPath(Tool tool, const QString &path);

private:
    // Starts the program in `process`; false, with result's error text set,
    // when it is missing or doesn't start.
    bool start(QProcess &process, const QStringList &arguments, QIODevice::OpenMode mode, int startTimeoutMs,
               Result &result) const;
    QString m_program;
    bool m_merged = false;
    bool m_background = false;
    QByteArray m_input;
    const std::atomic<bool> *m_stop = nullptr;
};

#endif // EXTERNALPROGRAM_H
