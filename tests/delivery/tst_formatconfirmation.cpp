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

// Formatting from the transfer dialog: a drive that can't be formatted is
// refused before the user is asked, and the dialog stays usable; a drive that
// can be is asked about by name, "No" (the default answer) leaving the drive
// and the dialog as they were.  Every formatting tool is a fake that logs its
// call, so nothing here can erase a disk.
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
        tool = testkit::MediaKit::fakeTool(dir.path(), "tool", "echo \"$*\" >> '" + calls + "'");
        testkit::MediaKit kit(dir.filePath("songs"));
        song = testkit::makeTrack(kit.mp3("1.mp3", {}), "Album");
        song.id = 1;
    }

    void init()
    {
        testkit::fakeFormattingTools(dir.path(), calls);
        QFile::remove(calls);
    }

    void cleanup()
    {
        QProcess::execute("umount", {"-q", "-l", stick});
        if (!loop.isEmpty())
            QProcess::execute("losetup", {"-d", std::exchange(loop, QString())});
        DiskFormatter::setTestHook({});
    }

    void refusedBeforeAsking_data()
    {
        QTest::addColumn<QString>("volume"); // what is mounted as the stick
        QTest::addColumn<QString>("reason");
        QTest::addRow("tmpfs: no disk at all") << "tmpfs" << "mounted from \"tmpfs\", which is not a disk";
        QTest::addRow("a disk that is not removable") << "loop" << " is not a removable drive";
    }

    // Continue with "Format" ticked tells at once why the drive can't be
    // formatted; no question, nothing run, and Continue then copies to it.
    void refusedBeforeAsking()
    {
        QFETCH(QString, volume);
        QFETCH(QString, reason);
        if (!mountStick(volume))
            QSKIP("mounting needs root");
        QVERIFY(testkit::touch(stick + "/keep.txt", "the user's file"));
        StartUp app;
        app.start();
        Combo().readSystemDetails("Aster");
        Drive::getInstance()->TransferDetails({{1, song}});
        QSignalSpy messages(app.drive(), &Drive::showMessageBox);
        QSignalSpy formatWait(app.drive(), &Drive::sgShowFormatWait);
        QSignalSpy copy(app.drive(), &Drive::sgShowTransferProgress);

        QObject *dialog = openDialog(app);
        QVERIFY(dialog);
        const auto *content = dialog->property("contentItem").value<QQuickItem *>();
        QObject *formatBox = content->findChild<QObject *>("formatCheckBox");
        QObject *confirmation = content->findChild<QObject *>("formatConfirmation");
        QObject *messageBox = app.viewer().rootObject()->findChild<QObject *>("messageBox");
        QVERIFY(formatBox && confirmation && messageBox);
        QTRY_VERIFY(formatBox->property("enabled").toBool());
        formatBox->setProperty("checked", true);

        QVERIFY(QMetaObject::invokeMethod(content->findChild<QObject *>("transferContinueButton"), "clicked"));
        QTRY_VERIFY(messageBox->property("opened").toBool());
        const QString told = messageBox->property("message").toString();
        QVERIFY2(told.contains(reason) && told.contains("without formatting"), qPrintable(told));
        QVERIFY(!told.contains("was not found"));
        // Back in the dialog, formatting off; nothing asked, nothing run.
        QVERIFY(!confirmation->property("opened").toBool() && !confirmation->property("visible").toBool());
        QVERIFY(dialog->property("opened").toBool());
        QVERIFY(!formatBox->property("checked").toBool());
        QCOMPARE(dialog->property("selectedPath").toString(), stick);
        QVERIFY(formatWait.isEmpty() && messages.isEmpty());
        QVERIFY(!QFileInfo::exists(calls));
        QCOMPARE(testkit::fileBytes(stick + "/keep.txt"), QByteArray("the user's file"));

        // The transfer is still there to make.
        QVERIFY(QMetaObject::invokeMethod(
            messageBox->property("contentItem").value<QQuickItem *>()->findChild<QObject *>("messageOkButton"),
            "clicked"));
        QTRY_VERIFY(!messageBox->property("visible").toBool());
        QVERIFY(QMetaObject::invokeMethod(content->findChild<QObject *>("transferContinueButton"), "clicked"));
        QTRY_COMPARE_WITH_TIMEOUT(messages.size(), 1, 60000);
        QCOMPARE(messages.first().first().toString(), "All files have been successfully transferred to Aster Media.");
        QCOMPARE(copy.size(), 1);
        QVERIFY(QFileInfo(stick + "/Aster Media/Album/1.mp3").isFile());
        QVERIFY(!QFileInfo::exists(calls)); // formatting off: no tool run
        app.drive()->timerexe(0);
    }

    void noLeavesTheDriveYesFormats()
    {
        if (!mountStick("loop"))
            QSKIP("mounting needs root");
        // sysfs and the mount table as they would be for a USB stick: the
        // disk removable, its one partition the mounted volume.
        const QString name = loop.mid(5);
        const QString sys = dir.filePath("sys"), dev = dir.filePath("dev"), table = dir.filePath("mounts");
        QVERIFY(testkit::touch(sys + "/class/block/" + name + "/removable", "1") &&
                testkit::touch(sys + "/class/block/" + name + "/" + name + "p1/partition", "1") &&
                testkit::touch(dev + "/" + name + "p1", "") &&
                testkit::touch(table,
                               "/dev/vdz / ext4 rw 0 0\n" + loop.toUtf8() + " " + stick.toUtf8() + " ext4 rw 0 0\n"));
        DiskFormatter::setTestHook([=](DiskFormatter &formatter) {
            for (auto p : {DiskFormatter::Sfdisk, DiskFormatter::MkfsVfat, DiskFormatter::MkfsExfat,
                           DiskFormatter::Umount, DiskFormatter::Udisksctl})
                formatter.setProgram(p, tool);
            formatter.setSysfsRoot(sys);
            formatter.setDeviceRoot(dev);
            formatter.setMountTable(table);
            formatter.setMountWaitMs(500);
        });
        QVERIFY(testkit::touch(stick + "/keep.txt", "the user's file"));
        StartUp app;
        app.start();
        Combo().readSystemDetails("Aster");
        Drive::getInstance()->TransferDetails({{1, song}});
        QSignalSpy messages(app.drive(), &Drive::showMessageBox);
        QSignalSpy formatWait(app.drive(), &Drive::sgShowFormatWait);

        QObject *dialog = openDialog(app);
        QVERIFY(dialog);
        const auto *content = dialog->property("contentItem").value<QQuickItem *>();
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
        for (const QString &part : {QStringLiteral("\"STICK\""), loop, QStringLiteral(" MB)"),
                                    QStringLiteral("Everything on it will be erased")})
            QVERIFY2(question.contains(part), qPrintable(question));
        QVERIFY(dialog->property("opened").toBool());

        // The default answer is "No": a key press on it leaves the dialog
        // with its choices, nothing run.
        const auto *answers = confirmation->property("contentItem").value<QQuickItem *>();
        QVERIFY(answers);
        auto *no = answers->findChild<QQuickItem *>("formatNoButton");
        QVERIFY(no);
        app.viewer().requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(&app.viewer()));
        QTRY_VERIFY(no->hasActiveFocus());
        QTest::keyClick(&app.viewer(), Qt::Key_Space);
        QTRY_VERIFY(!confirmation->property("opened").toBool());
        QVERIFY(dialog->property("opened").toBool() && formatBox->property("checked").toBool());
        QVERIFY(formatWait.isEmpty() && messages.isEmpty());
        QVERIFY(!QFileInfo::exists(calls));
        QCOMPARE(testkit::fileBytes(stick + "/keep.txt"), QByteArray("the user's file"));

        // Yes: the format step runs (on the fake tools), and its failure to
        // see the new volume mounted is told; no copy follows.
        QVERIFY(QMetaObject::invokeMethod(content->findChild<QObject *>("transferContinueButton"), "clicked"));
        QTRY_VERIFY(confirmation->property("opened").toBool());
        QVERIFY(QMetaObject::invokeMethod(answers->findChild<QObject *>("formatYesButton"), "clicked"));
        QTRY_COMPARE_WITH_TIMEOUT(messages.size(), 1, 60000);
        QCOMPARE(formatWait.size(), 1);
        QVERIFY2(messages.first().first().toString().contains("was not mounted"),
                 qPrintable(messages.first().first().toString()));
        const QString ran = QString::fromUtf8(testkit::fileBytes(calls));
        QVERIFY2(ran.contains("--wipe always " + dev + "/" + name) && ran.contains("-n STICK"), qPrintable(ran));
        QVERIFY(!dialog->property("opened").toBool());
        QVERIFY(!QFileInfo::exists(stick + "/Aster Media"));
        app.drive()->timerexe(0);
    }

private:
    // Mounts a tmpfs, or an ext4 image through a loop device of its own, as
    // the stick.
    bool mountStick(const QString &volume)
    {
        if (volume == "tmpfs")
            return QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=8m", "tmpfs", stick}) == 0;
        const QString image = dir.filePath("stick.img");
        QFile::remove(image);
        if (!testkit::touch(image, "") || !testkit::MediaKit::padToSize(image, 16 << 20) ||
            QProcess::execute("mkfs.ext4", {"-q", "-F", image}) != 0)
            return false;
        QProcess losetup;
        losetup.start("losetup", {"-f", "--show", image});
        if (!losetup.waitForFinished(60000) || losetup.exitCode() != 0)
            return false;
        loop = QString::fromLocal8Bit(losetup.readAllStandardOutput()).trimmed();
        return loop.startsWith("/dev/loop") && QProcess::execute("mount", {loop, stick}) == 0;
    }

    // Opens the transfer dialog and waits for the stick to be its choice.
    static QObject *openDialog(StartUp &app)
    {
        if (!QMetaObject::invokeMethod(app.viewer().rootObject(), "showtransferBrowser"))
            return nullptr;
        QObject *dialog = app.viewer().rootObject()->findChild<QObject *>("transferDialog");
        if (!dialog || !QTest::qWaitFor([&] { return !dialog->property("selectedPath").toString().isEmpty(); }, 60000))
            return nullptr;
        return dialog;
    }

    QTemporaryDir dir;
    QString roots;
    QString stick;
    QString calls;
    QString tool;
    QString loop;
    track song;
};

CORVANE_TEST_MAIN(TestFormatConfirmation)
#include "tst_formatconfirmation.moc"
