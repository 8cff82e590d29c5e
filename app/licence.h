#ifndef LICENCE_H
#define LICENCE_H

#include <QDialog>

class Ui_Licence;

// The read-only licence agreement viewer.  One object serves the whole run:
// showdialog() reloads the text from the resources and shows the same,
// non-modal dialog above the application window; Ok or the close button
// hides it again.
class Licence : public QDialog
{
    Q_OBJECT

public:
    explicit Licence(QWidget *parent = nullptr);
    ~Licence() override;

    void showdialog();

private:
    Ui_Licence *ui;
};

#endif // LICENCE_H
