#include <QApplication>
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
    }
    QMessageBox::information(nullptr, QStringLiteral("Corvane Media Organiser"),
                             QStringLiteral("Corvane Media Organiser is already running."));
    return 1;
}
