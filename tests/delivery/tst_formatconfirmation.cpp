#include <QtTest>

#include <QQmlContext>
#include <QQuickItem>

#include "app/qmlapplicationviewer.h"
#include "app/startup.h"
#include "delivery/combo.h"
#include "delivery/drive.h"
#include "platform/diskformatter.h"
#include "platform/volumes.h"
#include "fakeformatter.h"
#include "libraryfixture.h"
#include "mediakit.h"
#include "scanfixture.h"
#include "testenv.h"

// Formatting from the transfer dialog asks first: the question names the
// drive, and "No" leaves the drive and the dialog as they were.  Every
// formatting tool is a fake that logs its call, so nothing here can erase a
// disk.
class TestFormatConfirmation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        roots = dir.filePath("media");
        stick = roots + "/STICK";
        QDir().mkpath(stick);
        Volumes::setRoots({roots});
        calls = dir.filePath("calls.log");
        testkit::fakeFormattingTools(dir.path(), calls);
        testkit::MediaKit kit(dir.filePath("songs"));
        song = testkit::makeTrack(kit.mp3("1.mp3", {}), "Album");
        song.id = 1;
    }

    void cleanupTestCase()
    {
        QProcess::execute("umount", {"-q", "-l", stick});
        DiskFormatter::setTestHook({});
    }

    void noLeavesTheDriveYesFormats()
    {
        if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=8m", "tmpfs", stick}) != 0)
            QSKIP("mounting tmpfs needs root");
        QVERIFY(testkit::touch(stick + "/keep.txt", "the user's file"));
        StartUp app;
        app.start();
        Combo().readSystemDetails("Aster");
        Drive::getInstance()->TransferDetails({{1, song}});
        QSignalSpy messages(app.drive(), &Drive::showMessageBox);
        QSignalSpy formatWait(app.drive(), &Drive::sgShowFormatWait);

        QVERIFY(QMetaObject::invokeMethod(app.viewer().rootObject(), "showtransferBrowser"));
        QObject *dialog = app.viewer().rootObject()->findChild<QObject *>("transferDialog");
        QVERIFY(dialog);
        QTRY_COMPARE(dialog->property("selectedPath").toString(), stick);
        const auto *content = dialog->property("contentItem").value<QQuickItem *>();
        QVERIFY(content);
        QObject *formatBox = content->findChild<QObject *>("formatCheckBox");
        QObject *confirmation = content->findChild<QObject *>("formatConfirmation");
        QVERIFY(formatBox && confirmation);
        QTRY_VERIFY(formatBox->property("enabled").toBool());
        formatBox->setProperty("checked", true);

        // The question names the drive's label, its device and size, and what
        // a format does.
        QVERIFY(QMetaObject::invokeMethod(content->findChild<QObject *>("transferContinueButton"), "clicked"));
        QTRY_VERIFY(confirmation->property("opened").toBool());
        const QString question = confirmation->property("question").toString();
        for (const QString &part : {QStringLiteral("\"STICK\""), QStringLiteral("tmpfs"), QStringLiteral("0.01 GB"),
                                    QStringLiteral("Everything on it will be erased")})
            QVERIFY2(question.contains(part), qPrintable(question));
        QVERIFY(dialog->property("opened").toBool());

        // No: back in the dialog with its choices, nothing run.
        const auto *answers = confirmation->property("contentItem").value<QQuickItem *>();
        QVERIFY(answers);
        QVERIFY(QMetaObject::invokeMethod(answers->findChild<QObject *>("formatNoButton"), "clicked"));
        QTRY_VERIFY(!confirmation->property("opened").toBool());
        QTest::qWait(200);
        QVERIFY(dialog->property("opened").toBool() && formatBox->property("checked").toBool());
        QVERIFY(formatWait.isEmpty() && messages.isEmpty());
        QVERIFY(!QFileInfo::exists(calls));
        QCOMPARE(testkit::fileBytes(stick + "/keep.txt"), QByteArray("the user's file"));

        // Yes: the format step runs (and refuses this tmpfs, which lies on no
        // disk); no copy follows a failed format.
        QVERIFY(QMetaObject::invokeMethod(content->findChild<QObject *>("transferContinueButton"), "clicked"));
        QTRY_VERIFY(confirmation->property("opened").toBool());
        QVERIFY(QMetaObject::invokeMethod(answers->findChild<QObject *>("formatYesButton"), "clicked"));
        QTRY_COMPARE(messages.size(), 1);
        QCOMPARE(formatWait.size(), 1);
        QVERIFY2(messages.first().first().toString().contains("was not found"),
                 qPrintable(messages.first().first().toString()));
        QVERIFY(!dialog->property("opened").toBool());
        QVERIFY(!QFileInfo::exists(stick + "/Aster Media"));
        app.drive()->timerexe(0);
    }

private:
    QTemporaryDir dir;
    QString roots;
    QString stick;
    QString calls;
    track song;
};

CORVANE_TEST_MAIN(TestFormatConfirmation)
#include "tst_formatconfirmation.moc"
