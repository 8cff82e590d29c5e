#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QSettings>
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

QVariantMap savedVehicle()
{
    QSettings settings(QStringLiteral("MyComp"), QStringLiteral("MyApp"));
    settings.beginGroup(QStringLiteral("MainWindows"));
    QVariantMap values;
    for (const QString &key : settings.childKeys())
        values.insert(key, settings.value(key));
    return values;
}

void saveVehicle(int model, const QString &name, int yearIndex, const QString &year)
{
    QSettings settings(QStringLiteral("MyComp"), QStringLiteral("MyApp"));
    settings.beginGroup(QStringLiteral("MainWindows"));
    settings.setValue(QStringLiteral("Model"), model);
    settings.setValue(QStringLiteral("ModelName"), name);
    settings.setValue(QStringLiteral("ModelYearIndex"), yearIndex);
    settings.setValue(QStringLiteral("ModelYearValue"), year);
}

void clearSettings()
{
    QSettings(QStringLiteral("MyComp"), QStringLiteral("MyApp")).clear();
}

QString machineLoad()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}

} // namespace testkit
