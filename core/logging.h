#ifndef LOGGING_H
#define LOGGING_H

#include <QFile>
#include <QMutex>
#include <QString>

// The process-wide text log.  "debug.log" in the data folder holds the lines
// of the current run only; "error.log" records the start time.  WriteLog is
// safe from any thread: each line is written whole, in one write, under one
// lock, and the file is never held open between lines.
class Logging
{
public:
    static Logging *getInstance();

    void Loggingfun(const QString &logPath);
    void OpenLog();
    void OpenErrorFile();
    void WriteLog(const QString &message, const QString &context);
    void CloseLog();

    // Where OpenErrorFile wrote "error.log": beside the executable, or in the
    // data folder when that folder is not writable.
    QString errorLogPath() const;

    // Deletes the data folder's "debug.log", points the log at it, rewrites
    // "error.log" and writes "Start RuVO": the start of a run.
    static void startRun();

    QString path;
    QFile file;  // reserved handle, never bound to a name

private:
    Logging() = default;
    static Logging *lInstance;
    mutable QMutex mutex;
};

#endif // LOGGING_H
