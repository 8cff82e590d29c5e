#include "delivery/drive.h"

#include <QLoggingCategory>

namespace {

Q_LOGGING_CATEGORY(lcDrive, "corvane.delivery")

void notAvailable(const char *slot)
{
    qCDebug(lcDrive, "%s: not available in this build", slot);
}

} // namespace

Drive::Drive(QmlApplicationViewer *view, QObject *parent) : QObject(parent), viewer(view) {}

Drive::Drive() : QObject(nullptr) {}

void Drive::timerexe(int)
{
    notAvailable("Drive::timerexe");
}

void Drive::ContinueDrive(QString, int, int, int, int)
{
    notAvailable("Drive::ContinueDrive");
}

void Drive::openDialog()
{
    notAvailable("Drive::openDialog");
}

void Drive::slProgressStoped(int)
{
    notAvailable("Drive::slProgressStoped");
}
