#include <QApplication>

#include "app/startup.h"

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    StartUp startUp;
    startUp.start();
    return app.exec();
}
