#include "platform/artworkscriptrunner.h"

#include "core/logging.h"

#ifdef Q_OS_MACOS
#include <QProcess>
#endif

bool ArtworkScriptRunner::run(const QString &scriptPath)
{
#ifdef Q_OS_MACOS
    QProcess osascript;
    osascript.start(QStringLiteral("/usr/bin/osascript"), {scriptPath});
    if (!osascript.waitForStarted() || !osascript.waitForFinished(timeoutMs)) {
        osascript.kill();
        osascript.waitForFinished();
        Logging::getInstance()->WriteLog(QStringLiteral("iTunes artwork script failed: "), scriptPath);
        return false;
    }
    const bool ok = osascript.exitStatus() == QProcess::NormalExit && osascript.exitCode() == 0;
    if (!ok)
        Logging::getInstance()->WriteLog(QStringLiteral("iTunes artwork script failed: "), scriptPath);
    return ok;
#else
    Logging::getInstance()->WriteLog(QStringLiteral("iTunes artwork script not run, there is no osascript here: "),
                                     scriptPath);
    return false;
#endif
}
