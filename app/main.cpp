#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>

#include "app/startup.h"

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    StartUp startUp;
    switch (startUp.start()) {
    case InstanceLock::Outcome::Owned:
        return app.exec();
    case InstanceLock::Outcome::HandedOver:
        return 0;
    case InstanceLock::Outcome::Refused:
        break;
    case InstanceLock::Outcome::Unwritable:
        QMessageBox::critical(
            nullptr, QStringLiteral("Corvane Media Organiser"),
            QStringLiteral("Corvane Media Organiser can't write to its data folder \"%1\", so it "
                           "can't start.")
                .arg(QDir::toNativeSeparators(QFileInfo(startUp.instanceLock()->lockFilePath()).path())));
        return 1;
    }
    QMessageBox::information(nullptr, QStringLiteral("Corvane Media Organiser"),
                             QStringLiteral("Corvane Media Organiser is already running."));
    return 1;
}
