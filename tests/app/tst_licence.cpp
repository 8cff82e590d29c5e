#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QPushButton>
#include <QStringDecoder>
#include <QTextBrowser>
#include <QtTest>

#include "app/licence.h"
#include "testenv.h"

class TestLicence : public QObject
{
    Q_OBJECT

private slots:
    void resourceIsUtf8WithTheNotices_data();
    void resourceIsUtf8WithTheNotices();
    void formBeforeShowing();
    void showsTextReadOnlyUnderProgramTitle();
    void showingTwiceReusesOneDialog();
    void okHidesTheDialog();

private:
    static int visibleLicenceWindows();
};

int TestLicence::visibleLicenceWindows()
{
    int count = 0;
    const QWidgetList widgets = QApplication::topLevelWidgets();
    for (QWidget *widget : widgets) {
        if (qobject_cast<Licence *>(widget) && widget->isVisible())
            ++count;
    }
    return count;
}

void TestLicence::resourceIsUtf8WithTheNotices_data()
{
    QTest::addColumn<QString>("phrase");
    QTest::addRow("Qt under LGPLv3") << "GNU Lesser General Public License version 3 (LGPLv3)";
    QTest::addRow("Qt can be replaced") << "replace them with your own modified versions of Qt";
    QTest::addRow("TagLib LGPL and MPL") << "Mozilla Public License version 1.1";
    QTest::addRow("FFmpeg GPL build") << "so that build as a whole is licensed under the GPL";
    QTest::addRow("Chromaprint") << "Chromaprint is licensed under the GNU Lesser General Public License";
    QTest::addRow("no warranty") << "without warranty of any kind";
    QTest::addRow("non-ASCII name intact") << QString::fromUtf8("Lukáš Lalinský");
}

void TestLicence::resourceIsUtf8WithTheNotices()
{
    QFETCH(QString, phrase);
    QFile file(QStringLiteral(":/resources/xml/Licence.txt"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(bytes);
    QVERIFY(!decoder.hasError());
    QVERIFY2(text.contains(phrase), qPrintable(phrase));
}

void TestLicence::formBeforeShowing()
{
    Licence licence;
    QCOMPARE(licence.objectName(), QStringLiteral("Licence"));
    QCOMPARE(licence.windowTitle(), QStringLiteral("Dialog"));
    QCOMPARE(licence.size(), QSize(559, 556));
    QVERIFY(!licence.isVisible());
    auto *browser = licence.findChild<QTextBrowser *>(QStringLiteral("textBrowser"));
    QVERIFY(browser);
    QVERIFY(browser->toPlainText().isEmpty());
    auto *buttons = licence.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
    QVERIFY(buttons);
    QCOMPARE(buttons->standardButtons(), QDialogButtonBox::StandardButtons(QDialogButtonBox::Ok));
    QVERIFY(buttons->centerButtons());
    QVERIFY(licence.findChild<QObject *>(QStringLiteral("gridLayout")));
}

void TestLicence::showsTextReadOnlyUnderProgramTitle()
{
    Licence licence;
    licence.showdialog();
    QVERIFY(licence.isVisible());
    QVERIFY(!licence.isModal());
    QCOMPARE(licence.windowTitle(), QStringLiteral("Corvane Media Organiser"));
    QVERIFY(licence.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(licence.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!licence.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!licence.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    auto *browser = licence.findChild<QTextBrowser *>(QStringLiteral("textBrowser"));
    QVERIFY(browser->isReadOnly());
    QVERIFY(browser->toPlainText().startsWith(QLatin1String("CORVANE MEDIA ORGANISER")));
    QVERIFY(browser->toPlainText().contains(QString::fromUtf8("Lukáš")));
}

void TestLicence::showingTwiceReusesOneDialog()
{
    Licence licence;
    licence.showdialog();
    auto *browser = licence.findChild<QTextBrowser *>(QStringLiteral("textBrowser"));
    const QString first = browser->toPlainText();
    browser->setPlainText(QStringLiteral("scribbled over"));
    licence.showdialog();
    QCOMPARE(visibleLicenceWindows(), 1);
    QVERIFY(licence.isVisible());
    // The text is read again on each showing.
    QCOMPARE(browser->toPlainText(), first);
}

void TestLicence::okHidesTheDialog()
{
    Licence licence;
    licence.showdialog();
    auto *buttons = licence.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
    QTest::mouseClick(buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
    QVERIFY(!licence.isVisible());
    QCOMPARE(visibleLicenceWindows(), 0);
    licence.showdialog();
    QVERIFY(licence.isVisible());
}

CORVANE_TEST_MAIN(TestLicence)
#include "tst_licence.moc"
