#include "platform/externalprogram.h"

#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QStandardPaths>

#include <csignal>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcExternal, "corvane.external")

namespace {
QMutex overridesMutex;
QMap<int, QString> &overrides()
{
    static QMap<int, QString> map;
    return map;
}

// How often a waiting run looks at its stop flag.
constexpr int pollMs = 100;

// The nice value of a program run as background work.
constexpr int backgroundNice = 10;
} // namespace

ExternalProgram::ExternalProgram(Tool tool)
    : m_program(locate(tool))
{
}

ExternalProgram::ExternalProgram(const QString &program)
    : m_program(program)
{
}

QString ExternalProgram::relativePath(Tool tool)
{
    switch (tool) {
    case Ffmpeg: return QStringLiteral("ffmpeg/ffmpeg");
    case Ffprobe: return QStringLiteral("ffmpeg/ffprobe");
    case Fpcalc: return QStringLiteral("fingerprint/fpcalc");
    }
    return QString();
}

QString ExternalProgram::locate(Tool tool)
{
    {
        QMutexLocker lock(&overridesMutex);
        const auto it = overrides().constFind(tool);
        if (it != overrides().constEnd())
            return it.value();
    }
    const QString relative = relativePath(tool);
    if (QCoreApplication::instance()) {
        const QFileInfo beside(QCoreApplication::applicationDirPath() + QLatin1Char('/') + relative);
        if (beside.isFile() && beside.isExecutable())
            return beside.absoluteFilePath();
    }
    return QStandardPaths::findExecutable(QFileInfo(relative).fileName());
}

void ExternalProgram::setToolPath(Tool tool, const QString &path)
{
    QMutexLocker lock(&overridesMutex);
    if (path.isEmpty())
        overrides().remove(tool);
    else
        overrides().insert(tool, path);
}

bool ExternalProgram::start(QProcess &process, const QStringList &arguments, QIODevice::OpenMode mode,
                            int startTimeoutMs, Result &result) const
{
    if (m_program.isEmpty()) {
        result.errorText = QStringLiteral("program not found");
        qCDebug(lcExternal) << "not run, program not found; arguments" << arguments;
        return false;
    }
    process.setProcessChannelMode(m_merged ? QProcess::MergedChannels : QProcess::SeparateChannels);
    // The tool dies with the program: a killed program must not leave an
    // ffmpeg writing into its folders.  The signal is tied to the thread that
    // starts the tool, which waits for it to end.  Should the program have
    // died before the request took hold, the tool ends at once.
    const pid_t parent = ::getpid();
    const bool background = m_background;
    process.setChildProcessModifier([parent, background] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        if (background) {
            // A batch job of lower priority: it never preempts a thread that
            // wakes up (the GUI's event loop), and takes what they leave.
            const sched_param batch{};
            ::sched_setscheduler(0, SCHED_BATCH, &batch);
            ::setpriority(PRIO_PROCESS, 0, backgroundNice);
        }
    });
    process.start(m_program, arguments, mode);
    if (!process.waitForStarted(startTimeoutMs)) {
        result.errorText = process.errorString();
        qCDebug(lcExternal) << "failed to start" << m_program << result.errorText;
        return false;
    }
    result.started = true;
    return true;
}

ExternalProgram::Result ExternalProgram::run(const QStringList &arguments, int timeoutMs) const
{
    Result result;
    QProcess process;
    if (m_input.isEmpty())
        process.setStandardInputFile(QProcess::nullDevice());
    if (!start(process, arguments, m_input.isEmpty() ? QIODevice::ReadOnly : QIODevice::ReadWrite,
               qMax(timeoutMs, 1000), result))
        return result;
    if (!m_input.isEmpty()) {
        process.write(m_input);
        process.closeWriteChannel();
    }

    QElapsedTimer clock;
    clock.start();
    bool done = false;
    while (!done) {
        if (m_stop && m_stop->load()) {
            result.stopped = true;
            break;
        }
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0) {
            result.timedOut = true;
            break;
        }
        done = process.waitForFinished(int(qMin<qint64>(left, pollMs)));
        if (!done && process.state() == QProcess::NotRunning)
            done = true;
    }
    if (!done) {
        process.kill();
        process.waitForFinished(5000);
        if (result.stopped)
            qCDebug(lcExternal) << m_program << "stopped";
        else
            qCDebug(lcExternal) << m_program << "timed out after" << timeoutMs << "ms";
    }

    result.standardOutput = process.readAllStandardOutput();
    if (!m_merged)
        result.standardError = process.readAllStandardError();
    if (done) {
        result.crashed = process.exitStatus() == QProcess::CrashExit;
        result.exitCode = result.crashed ? -1 : process.exitCode();
        if (result.crashed)
            qCDebug(lcExternal) << m_program << "crashed";
        else if (result.exitCode != 0)
            qCDebug(lcExternal) << m_program << "exited with" << result.exitCode;
    }
    return result;
}

ExternalProgram::Result ExternalProgram::runStreaming(const QStringList &arguments, int timeoutMs,
                                                      const LineHandler &onLine, const QByteArray &quit,
                                                      int graceMs) const
{
    Result result;
    QProcess process;
    if (!start(process, arguments, QIODevice::ReadWrite, qMax(qMin(timeoutMs, 30000), 1000), result))
        return result;

    QByteArray pending;
    auto deliver = [&pending, &onLine](bool flushAll) {
        int start = 0;
        for (int i = 0; i < pending.size(); ++i) {
            const char c = pending.at(i);
            if (c != '\n' && c != '\r')
                continue;
            if (i > start && onLine)
                onLine(pending.mid(start, i - start));
            start = i + 1;
        }
        pending.remove(0, start);
        if (flushAll && !pending.isEmpty()) {
            if (onLine)
                onLine(pending);
            pending.clear();
        }
    };
    auto drain = [&] {
        pending += process.readAllStandardOutput();
        if (!m_merged)
            result.standardError += process.readAllStandardError();
    };

    // Short waits: a stop is seen within this time.
    constexpr int streamPollMs = 40;
    QElapsedTimer clock;
    clock.start();
    qint64 killAt = -1;  // elapsed time at which an asked-to-quit program is killed
    bool killed = false;
    while (process.state() != QProcess::NotRunning) {
        if (killAt < 0 && m_stop && m_stop->load()) {
            result.stopped = true;
            if (!quit.isEmpty()) {
                process.write(quit);
                process.waitForBytesWritten(streamPollMs);
            }
            killAt = clock.elapsed() + (quit.isEmpty() ? 0 : graceMs);
        }
        if (killAt < 0 && clock.elapsed() >= timeoutMs) {
            result.timedOut = true;
            killAt = clock.elapsed();
        }
        if (killAt >= 0 && clock.elapsed() >= killAt) {
            process.kill();
            killed = true;
            process.waitForFinished(5000);
            break;
        }
        process.waitForReadyRead(streamPollMs);
        drain();
        deliver(false);
    }
    process.waitForFinished(killed ? 5000 : 1000);
    drain();
    deliver(true);

    if (killed) {
        qCDebug(lcExternal) << m_program << (result.stopped ? "stopped and killed" : "timed out after")
                            << timeoutMs << "ms";
        return result;
    }
    result.crashed = process.exitStatus() == QProcess::CrashExit;
    result.exitCode = result.crashed ? -1 : process.exitCode();
    if (result.stopped)
        qCDebug(lcExternal) << m_program << "quit on request";
    else if (result.crashed)
        qCDebug(lcExternal) << m_program << "crashed";
    else if (result.exitCode != 0)
        qCDebug(lcExternal) << m_program << "exited with" << result.exitCode;
    return result;
}
