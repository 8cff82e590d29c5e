#include "platform/artworkscriptrunner.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcArtworkScript, "corvane.platform.artworkscript")

#if defined(Q_OS_MACOS) || defined(Q_OS_WIN)
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
        qCWarning(lcArtworkScript) << "iTunes artwork script failed: " << scriptPath;
        return false;
    }
    const bool ok = osascript.exitStatus() == QProcess::NormalExit && osascript.exitCode() == 0;
    if (!ok)
        qCWarning(lcArtworkScript) << "iTunes artwork script failed: " << scriptPath;
    return ok;
#else
    qCInfo(lcArtworkScript) << "iTunes artwork script not run, there is no osascript here: " << scriptPath;
    return false;
#endif
}

bool ArtworkScriptRunner::runWindowsScript(const QString &scriptPath)
{
#ifdef Q_OS_WIN
    QProcess cscript;
    cscript.start(QStringLiteral("cscript"), {scriptPath});
    const bool ok = cscript.waitForStarted() && cscript.waitForFinished(timeoutMs)
                    && cscript.exitStatus() == QProcess::NormalExit && cscript.exitCode() == 0;
    if (!ok) {
        cscript.kill();
        qCWarning(lcArtworkScript) << "iTunes artwork script failed: " << scriptPath;
    }
    return ok;
#else
    qCInfo(lcArtworkScript) << "iTunes artwork script not run, there is no cscript here: " << scriptPath;
    return false;
#endif
}
