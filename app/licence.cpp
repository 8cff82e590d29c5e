#include "app/licence.h"

#include <QDebug>
#include <QFile>
#include <QTextStream>

#include "app/ui_licence.h"

Licence::Licence(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui_Licence)
{
    ui->setupUi(this);
}

Licence::~Licence()
{
    delete ui;
}

void Licence::showdialog()
{
    qDebug() << "licence slot called";
    setWindowTitle(QStringLiteral("Corvane Media Organiser"));
    setFocusPolicy(Qt::StrongFocus);

    QFile file(QStringLiteral(":/resources/xml/Licence.txt"));
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        // The text is UTF-8, which is also QTextStream's default.
        QTextStream stream(&file);
        ui->textBrowser->setPlainText(stream.readAll());
    } else {
        qDebug() << "fileopen error";
    }

    // Above the application window, with a title and a close button only.
    // CustomizeWindowHint makes the window manager honour that choice.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                   | Qt::WindowStaysOnTopHint);
    activateWindow();
    show();
}
