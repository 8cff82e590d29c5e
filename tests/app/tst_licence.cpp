#include <QApplication>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTextBrowser>
#include <QtTest>

#include "app/licence.h"
#include "testenv.h"

class TestLicence : public QObject
{
    Q_OBJECT

private slots:
    void showsTheTermsReadOnly();
    void showingTwiceReusesOneDialog();
};

void TestLicence::showsTheTermsReadOnly()
{
    Licence licence;
    licence.showdialog();
    QVERIFY(licence.isVisible());
    QCOMPARE(licence.windowTitle(), QStringLiteral("Corvane Media Organiser"));
    auto *browser = licence.findChild<QTextBrowser *>(QStringLiteral("textBrowser"));
    QVERIFY(browser && browser->isReadOnly());
    const QString text = browser->toPlainText();
    QVERIFY(text.startsWith(QLatin1String("CORVANE MEDIA ORGANISER")));
    // The notices of the libraries shipped with it, read as UTF-8.
    for (const QString &phrase :
         {QStringLiteral("Mozilla Public License version 1.1"), QString::fromUtf8("Lukáš Lalinský")})
        QVERIFY2(text.contains(phrase), qPrintable(phrase));
}

void TestLicence::showingTwiceReusesOneDialog()
{
    Licence licence;
    licence.showdialog();
    auto *browser = licence.findChild<QTextBrowser *>(QStringLiteral("textBrowser"));
    const QString first = browser->toPlainText();
    browser->setPlainText(QStringLiteral("scribbled over"));
    licence.showdialog();
    QCOMPARE(browser->toPlainText(), first); // read again on each showing
    const QWidgetList widgets = QApplication::topLevelWidgets();
    QCOMPARE(int(std::count_if(widgets.cbegin(), widgets.cend(), [](QWidget *w) { return w->isVisible(); })), 1);
    // OK hides it; it shows again.
    QTest::mouseClick(licence.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
    QVERIFY(!licence.isVisible());
    licence.showdialog();
    QVERIFY(licence.isVisible());
}

CORVANE_TEST_MAIN(TestLicence)
#include "tst_licence.moc"
