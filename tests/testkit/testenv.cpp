#include "testenv.h"

#include <QProcess>

#include <algorithm>

#include <sched.h>

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

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

bool pinToCpus(const QString &cpus)
{
    if (cpus == QLatin1String("all"))
        return true;
    cpu_set_t set;
    CPU_ZERO(&set);
    for (const QString &cpu : cpus.split(QLatin1Char(',')))
        CPU_SET(cpu.toInt(), &set);
    return sched_setaffinity(0, sizeof(set), &set) == 0;
}

bool runPinnedAndUnpinned(const QStringList &arguments)
{
    // Each setting in a process of its own: a pool's size is fixed when it is made.
    for (const QString &setting : {QStringLiteral("0,1"), QStringLiteral("all")}) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("corvane.*=false"));
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), arguments + QStringList{setting});
        if (!child.waitForFinished(-1) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
            return false;
    }
    return true;
}

} // namespace testkit
