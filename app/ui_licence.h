#ifndef UI_LICENCE_H
#define UI_LICENCE_H

#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QMetaObject>
#include <QTextBrowser>

// The licence dialog's form: a text browser above a centred Ok button.  The
// widgets are children of the dialog and are freed with it.
class Ui_Licence
{
public:
    QGridLayout *gridLayout = nullptr;
    QTextBrowser *textBrowser = nullptr;
    QDialogButtonBox *buttonBox = nullptr;

    void setupUi(QDialog *dialog)
    {
        if (dialog->objectName().isEmpty())
            dialog->setObjectName(QStringLiteral("Licence"));
        dialog->resize(559, 556);
        gridLayout = new QGridLayout(dialog);
        gridLayout->setObjectName(QStringLiteral("gridLayout"));
        textBrowser = new QTextBrowser(dialog);
        textBrowser->setObjectName(QStringLiteral("textBrowser"));
        gridLayout->addWidget(textBrowser, 0, 0, 1, 1);
        buttonBox = new QDialogButtonBox(dialog);
        buttonBox->setObjectName(QStringLiteral("buttonBox"));
        buttonBox->setOrientation(Qt::Horizontal);
        buttonBox->setStandardButtons(QDialogButtonBox::Ok);
        buttonBox->setCenterButtons(true);
        gridLayout->addWidget(buttonBox, 1, 0, 1, 1);

        retranslateUi(dialog);
        QObject::connect(buttonBox, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
        QObject::connect(buttonBox, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
        QMetaObject::connectSlotsByName(dialog);
    }

    void retranslateUi(QDialog *dialog)
    {
        dialog->setWindowTitle(QCoreApplication::translate("Licence", "Dialog"));
    }
};

#endif // UI_LICENCE_H
