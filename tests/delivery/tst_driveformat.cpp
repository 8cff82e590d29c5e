#include <QtTest>

#include "app/startup.h"
#include "delivery/combo.h"
#include "delivery/drive.h"
#include "mediakit.h"
#include "platform/diskformatter.h"
#include "platform/volumes.h"
#include "testenv.h"

// The format step of the transfer dialog: when it formats nothing, when it
// refuses, and that a refusal starts no copy.  Every formatting tool is a
// fake that logs its call, so nothing here can erase a disk.
class TestDriveFormat : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void confirmation_data();
    void confirmation();

private:
    QTemporaryDir dir;
    QString stick;
};

void TestDriveFormat::initTestCase()
{
    QVERIFY(dir.isValid());
    Volumes::setRoots({dir.filePath("media")});
    stick = dir.filePath("media/stick");
    QVERIFY(QDir().mkpath(stick));
    const QString tool =
        testkit::MediaKit::fakeTool(dir.path(), "tool", "echo \"$*\" >> '" + dir.filePath("calls.log") + "'");
    DiskFormatter::setTestHook([tool](DiskFormatter &formatter) {
        for (DiskFormatter::Program p : {DiskFormatter::Sfdisk, DiskFormatter::MkfsVfat, DiskFormatter::MkfsExfat,
                                         DiskFormatter::Umount, DiskFormatter::Udisksctl})
            formatter.setProgram(p, tool);
    });
}

void TestDriveFormat::cleanup()
{
    QProcess::execute("umount", {"-l", stick});
    Drive::setFolderChooser({});
}

void TestDriveFormat::confirmation_data()
{
    QTest::addColumn<bool>("folder");
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("message");

    QTest::addRow("format off: nothing runs, the copy starts") << false << 0 << "";
    QTest::addRow("a folder target is never formatted") << true << 1 << "";
    QTest::addRow("a volume on no disk is refused and starts no copy") << false << 1 << "was not found";
}

void TestDriveFormat::confirmation()
{
    QFETCH(bool, folder);
    QFETCH(int, format);
    QFETCH(QString, message);
    QString target = dir.filePath("car folder");
    if (folder) {
        QDir().mkpath(target);
        Drive::setFolderChooser([target] { return target; });
    } else if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=8m", "tmpfs", stick}) != 0) {
        QSKIP("mounting tmpfs needs root");
    } else {
        target = stick;
    }
    StartUp app;
    app.start();
    Combo().readSystemDetails("Aster");
    testkit::MediaKit kit(dir.filePath("songs"));
    track song;
    song.id = 1;
    song.albumName = "Album";
    song.filepath = kit.mp3("1.mp3", testkit::MediaTags());
    song.filesize = QFileInfo(song.filepath).size();
    Drive::getInstance()->TransferDetails({{1, song}});

    Drive *drive = app.drive();
    drive->timerexe(1);
    if (folder)
        drive->openDialog();
    drive->GetDriveDetail();
    QSignalSpy messages(drive, &Drive::showMessageBox);
    QSignalSpy copy(drive, &Drive::sgShowTransferProgress);
    QSignalSpy progress(drive, &Drive::sgUpdateTransferProgress);
    drive->ContinueDrive(target, format, 1, 0, 0);
    QTRY_VERIFY(!copy.isEmpty() || !messages.isEmpty());
    QCOMPARE(copy.size(), message.isEmpty() ? 1 : 0);
    if (!message.isEmpty())
        QVERIFY(messages.first().first().toString().contains(message));
    else
        QTRY_COMPARE(progress.size(), 1); // the copy ends before the window goes
    QVERIFY(!QFile::exists(dir.filePath("calls.log")));
    drive->timerexe(0);
}

CORVANE_TEST_MAIN(TestDriveFormat)
#include "tst_driveformat.moc"
