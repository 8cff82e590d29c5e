#include <QtTest>

#include <QQmlContext>
#include <QQuickItem>

#include "app/qmlapplicationviewer.h"
#include "app/startup.h"
#include "delivery/combo.h"
#include "delivery/drive.h"
#include "delivery/drivedata.h"
#include "platform/externalprogram.h"
#include "platform/volumes.h"
#include "mediakit.h"
#include "testenv.h"

namespace {

bool run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// Unmounts what a test mounted, also when the test fails half-way.
struct Unmount
{
    QString path;
    ~Unmount()
    {
        if (!path.isEmpty())
            run("umount", {"-l", path});
    }
};

} // namespace

// The transfer dialog with the whole window: the targets it polls, the
// folder the user adds, confirmation and the copy reaching its end.
class TestDrive : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void pollListsSizesAndDropsVolumes_data();
    void pollListsSizesAndDropsVolumes();
    void confirmationWithoutATarget_data();
    void confirmationWithoutATarget();
    void transferFromTheWindow();
    void cancelEndsAConversionAndTheDialog();

private:
    QVariant property(const char *name) const
    {
        return app->viewer().rootContext()->contextProperty(QString::fromLatin1(name));
    }
    QList<DriveData *> rows() const
    {
        QList<DriveData *> found;
        const QList<QObject *> list = property("drivedetails").value<QList<QObject *>>();
        for (QObject *o : list)
            found << qobject_cast<DriveData *>(o);
        return found;
    }
    QObject *find(const QString &name) const;

    QTemporaryDir dir;
    QString roots;
    std::unique_ptr<StartUp> app;
};

void TestDrive::initTestCase()
{
    QVERIFY(dir.isValid());
    roots = dir.filePath("media");
    QDir().mkpath(roots);
    Volumes::setRoots({roots});
}

void TestDrive::init()
{
    app = std::make_unique<StartUp>();
    app->start();
    QVERIFY(app->drive());
    Combo().readSystemDetails("Aster");
}

void TestDrive::cleanup()
{
    app->drive()->timerexe(0);
    app.reset();
}

QObject *TestDrive::find(const QString &name) const
{
    QObject *dialog = app->viewer().rootObject()->findChild<QObject *>("transferDialog");
    if (!dialog || dialog->objectName() == name)
        return dialog;
    auto *content = dialog->property("contentItem").value<QQuickItem *>();
    return content ? content->findChild<QObject *>(name) : nullptr;
}

void TestDrive::pollListsSizesAndDropsVolumes_data()
{
    QTest::addColumn<QString>("size");
    QTest::addColumn<QString>("gib");

    QTest::addRow("15.7 GiB shows its decimals") << "16077m" << "15.70";
    QTest::addRow("1.5 GiB") << "1536m" << "1.50";
}

void TestDrive::pollListsSizesAndDropsVolumes()
{
    QFETCH(QString, size);
    QFETCH(QString, gib);
    Drive *drive = app->drive();
    drive->timerexe(1);
    drive->GetDriveDetail();
    QCOMPARE(property("driveList").toStringList(), QStringList{"No Drive"});
    QVERIFY(rows().isEmpty());

    const QString stick = roots + "/STICK";
    QDir().mkpath(stick);
    if (!run("mount", {"-t", "tmpfs", "-o", "size=" + size, "tmpfs", stick}))
        QSKIP("mounting tmpfs needs root");
    Unmount guard{stick};
    drive->GetDriveDetail();
    QCOMPARE(property("driveList").toStringList(), QStringList{stick});
    QCOMPARE(rows().size(), 1);
    DriveData *row = rows().first();
    QCOMPARE(row->totalspace(), gib);
    QCOMPARE(row->freespace(), gib);
    QCOMPARE(row->usedspace(), QString("0.00"));
    QCOMPARE(row->driveletter(), stick);
    QCOMPARE(row->filesystem(), QString("tmpfs"));

    // Free space is measured again at each poll.
    const qint64 before = row->freespace1();
    QFile fill(stick + "/fill");
    QVERIFY(fill.open(QIODevice::WriteOnly));
    QCOMPARE(fill.write(QByteArray(8 << 20, 'x')), qint64(8 << 20));
    fill.close();
    drive->GetDriveDetail();
    QVERIFY(rows().first()->freespace1() <= before - (8 << 20));

    QVERIFY(run("umount", {stick}));
    guard.path.clear();
    drive->GetDriveDetail();
    QCOMPARE(property("driveList").toStringList(), QStringList{"No Drive"});
    QVERIFY(rows().isEmpty());
}

void TestDrive::confirmationWithoutATarget_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("message");

    QTest::addRow("no drive does nothing") << "No Drive" << "";
    QTest::addRow("a vanished target is a removed disk") << "/nonexistent/stick" << "Disk is Removed";
    QTest::addRow("an unlisted target is no target") << "/" << "No destination drive selected.";
}

void TestDrive::confirmationWithoutATarget()
{
    QFETCH(QString, target);
    QFETCH(QString, message);
    QSignalSpy messages(app->drive(), &Drive::showMessageBox);
    QSignalSpy progress(app->drive(), &Drive::sgShowTransferProgress);
    app->drive()->ContinueDrive(target, 0, 0, 0, 0);
    if (message.isEmpty()) {
        QTest::qWait(100);
        QCOMPARE(messages.size(), 0);
    } else {
        QTRY_COMPARE(messages.size(), 1);
        QCOMPARE(messages.first().first().toString(), message);
    }
    QCOMPARE(progress.size(), 0);
}

void TestDrive::transferFromTheWindow()
{
    testkit::MediaKit kit(dir.filePath("songs"));
    TrackMap tracks;
    for (int i = 1; i <= 3; ++i) {
        track t;
        t.id = i;
        t.albumName = "Album";
        t.filepath = kit.mp3(QString("%1.mp3").arg(i), testkit::MediaTags());
        t.filesize = QFileInfo(t.filepath).size();
        tracks.insert(i, t);
    }
    tracks[2].filepath += ".gone";  // removed since it was added: the dialog still ends
    Drive::getInstance()->TransferDetails(tracks);

    const QString folder = dir.filePath("car folder");
    QDir().mkpath(folder);
    Drive::setFolderChooser([folder] { return folder; });
    QSignalSpy progress(app->drive(), &Drive::sgUpdateTransferProgress);

    QVERIFY(QMetaObject::invokeMethod(app->viewer().rootObject(), "showtransferBrowser"));
    QObject *dialog = find("transferDialog");
    QVERIFY(dialog);
    QTRY_VERIFY(dialog->property("opened").toBool());
    QVERIFY(QMetaObject::invokeMethod(find("chooseFolderButton"), "clicked"));
    QTRY_COMPARE(property("driveList").toStringList(), QStringList{folder});
    QCOMPARE(rows().first()->isSystem(), 1);
    QTRY_COMPARE(dialog->property("selectedPath").toString(), folder);
    QVERIFY(QMetaObject::invokeMethod(find("transferContinueButton"), "clicked"));

    QTRY_VERIFY(!progress.isEmpty() && progress.last().at(1).toInt() == 3);
    QCOMPARE(progress.last().at(0).toInt(), 3);
    QVERIFY(QFileInfo(folder + "/Aster Media/Album/1.mp3").isFile());
    QVERIFY(QFileInfo(folder + "/Aster Media/Album/3.mp3").isFile());
    // The end closes the poll: both lists are published empty.
    QTRY_VERIFY(property("driveList").toStringList().isEmpty());
    QVERIFY(rows().isEmpty());
    Drive::setFolderChooser({});
}

void TestDrive::cancelEndsAConversionAndTheDialog()
{
    testkit::MediaKit kit(dir.filePath("lossless"));
    track t;
    t.id = 1;
    t.albumName = "Slow";
    t.trackname = "Slow";
    t.filepath = kit.flac("slow.flac", testkit::MediaTags());
    t.filesize = QFileInfo(t.filepath).size();
    Drive::getInstance()->TransferDetails({{1, t}});
    ExternalProgram::setToolPath(ExternalProgram::Ffmpeg,
                                 testkit::MediaKit::fakeTool(dir.path(), "slow-ffmpeg", "exec sleep 60"));

    const QString folder = dir.filePath("cancelled");
    QDir().mkpath(folder);
    Drive::setFolderChooser([folder] { return folder; });
    Drive *drive = app->drive();
    drive->timerexe(1);
    drive->openDialog();
    drive->GetDriveDetail();
    QSignalSpy shown(drive, &Drive::sgShowTransferProgress);
    QSignalSpy hidden(drive, &Drive::sgHideTransferProgress);
    drive->ContinueDrive(folder, 0, 0, 0, 0);
    QTRY_COMPARE(shown.size(), 1);
    QTest::qWait(200);
    QElapsedTimer clock;
    clock.start();
    drive->slProgressStoped(1);
    QTRY_COMPARE(hidden.size(), 1);
    QVERIFY(clock.elapsed() < 5000);
    QVERIFY(property("driveList").toStringList().isEmpty());
    QVERIFY(!QFileInfo::exists(folder + "/Aster Media/Slow/Slow.m4a"));
    ExternalProgram::setToolPath(ExternalProgram::Ffmpeg, QString());
    Drive::setFolderChooser({});
}

CORVANE_TEST_MAIN(TestDrive)
#include "tst_drive.moc"
