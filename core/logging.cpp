#include "core/logging.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>

#include "core/shared.h"

Logging *Logging::lInstance = nullptr;

namespace {
QString now()
{
    return QDateTime::currentDateTime().toString(Qt::TextDate);
}
} // namespace

Logging *Logging::getInstance()
{
    // Function-local static: initialised once, thread-safe, never destroyed
    // before the last writer is gone.
    static Logging *const instance = lInstance = new Logging;
    return instance;
}

void Logging::Loggingfun(const QString &logPath)
{
    {
        QMutexLocker locker(&mutex);
        path = logPath;
    }
    OpenLog();
}

void Logging::OpenLog()
{
    OpenErrorFile();
}

QString Logging::errorLogPath() const
{
    const QString appDir = QCoreApplication::applicationDirPath();
    const QFileInfo dirInfo(appDir);
    if (!appDir.isEmpty() && dirInfo.isDir() && dirInfo.isWritable())
        return appDir + QStringLiteral("/error.log");
    return shared::dataFolder() + QStringLiteral("/error.log");
}

void Logging::OpenErrorFile()
{
    const QString errorPath = errorLogPath();
    QDir().mkpath(QFileInfo(errorPath).absolutePath());
    QFile errorFile(errorPath);
    if (!errorFile.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return; // the start line is lost; the start goes on
    errorFile.write((now() + QStringLiteral(" : Starting application...\n")).toLocal8Bit());
}

void Logging::WriteLog(const QString &message, const QString &context)
{
    const QByteArray line = (now() + QStringLiteral(" - ") + message + context + QLatin1Char('\n')).toUtf8();
    QMutexLocker locker(&mutex);
    if (path.isEmpty())
        return;
    QFile log(path);
    if (!log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return; // the line is lost; the caller goes on
    log.write(line);
}

void Logging::CloseLog()
{
    QMutexLocker locker(&mutex);
    if (file.isOpen())
        file.close();
}

void Logging::startRun()
{
    shared::ensureDataFolder();
    Logging *log = getInstance();
    const QString debugLog = shared::dataFolder() + QStringLiteral("/debug.log");
    QFile::remove(debugLog);
    log->Loggingfun(debugLog);
    log->WriteLog(QStringLiteral("Start RuVO"), QString());
}
