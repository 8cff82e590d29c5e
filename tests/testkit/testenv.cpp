#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>

namespace testkit {

namespace {
QTemporaryDir *homeDir = nullptr;
}

void isolateUserFolders()
{
    if (homeDir)
        return;
    homeDir = new QTemporaryDir(QDir::tempPath() + QStringLiteral("/corvane-home-XXXXXX"));
    const QString home = homeDir->path();
    const QString runtime = home + QStringLiteral("/.runtime");
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("HOME", home.toLocal8Bit());
    qputenv("XDG_DATA_HOME", (home + QStringLiteral("/.local/share")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home + QStringLiteral("/.config")).toLocal8Bit());
    qputenv("XDG_CACHE_HOME", (home + QStringLiteral("/.cache")).toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
    std::atexit([] {
        delete homeDir;
        homeDir = nullptr;
    });
}

QString testHome()
{
    return homeDir ? homeDir->path() : QString();
}

} // namespace testkit
