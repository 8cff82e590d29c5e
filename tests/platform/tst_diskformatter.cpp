#include <QtTest>

#include <unistd.h>

#include "platform/diskformatter.h"
#include "libraryfixture.h"
#include "mediakit.h"
#include "testenv.h"

// The formatting layer: volume names, the disk found and refused through a
// fake sysfs tree and mount table, the whole sequence against fake tools, and
// the real sfdisk and mkfs.vfat on a disk image.
class TestDiskFormatter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void labels_data();
    void labels();
    void wholeDisk_data();
    void wholeDisk();
    void refusal_data();
    void refusal();
    void sequence_data();
    void sequence();
    void imageGetsTableAndFat32();
    void blockDeviceGetsTableAndFat32();

private:
    QString path(const QString &relative) const { return dir.path() + QLatin1Char('/') + relative; }
    void block(const QString &devicePath, const QString &removable = QString());
    DiskFormatter fake(const QStringList &mountLines);
    QString tool(const QString &name, const QString &body)
    {
        return testkit::MediaKit::fakeTool(dir.path(), name, body);
    }
    QStringList log() const;

    QTemporaryDir dir;
    int tables = 0;
};

// A block device folder below sys/devices with its sys/class/block link; a
// partition gets a "partition" file.
void TestDiskFormatter::block(const QString &devicePath, const QString &removable)
{
    const QString folder = path(QStringLiteral("sys/devices/") + devicePath);
    QVERIFY(QDir().mkpath(folder));
    const QString name = QFileInfo(folder).fileName();
    if (!removable.isEmpty())
        QVERIFY(testkit::touch(folder + QStringLiteral("/removable"), removable.toLatin1() + '\n'));
    else
        QVERIFY(testkit::touch(folder + QStringLiteral("/partition"),
                               QRegularExpression(QStringLiteral("(\\d+)$")).match(name).captured(1).toLatin1()));
    QVERIFY(QDir().mkpath(path(QStringLiteral("sys/class/block"))));
    QFile::link(folder, path(QStringLiteral("sys/class/block/") + name));
}

void TestDiskFormatter::initTestCase()
{
    QVERIFY(dir.isValid());
    block(QStringLiteral("usb1/block/sdq"), QStringLiteral("1"));
    block(QStringLiteral("usb1/block/sdq/sdq1"));
    block(QStringLiteral("usb1/block/sdq/sdq2"));
    block(QStringLiteral("usb1/block/sdq/sdq10"));
    block(QStringLiteral("ata1/block/sdr"), QStringLiteral("0"));
    block(QStringLiteral("ata1/block/sdr/sdr1"));
    block(QStringLiteral("usb2/block/sdt"), QStringLiteral("1"));
    block(QStringLiteral("usb2/block/sdt/sdt1"));
    block(QStringLiteral("usb2/block/sdt/sdt2"));
    block(QStringLiteral("pci/block/nvme0n1"), QStringLiteral("1"));
    block(QStringLiteral("pci/block/nvme0n1/nvme0n1p1"));
    block(QStringLiteral("mmc/block/mmcblk0"), QStringLiteral("1"));
    block(QStringLiteral("mmc/block/mmcblk0/mmcblk0p1"));
    // An encrypted volume on the stick's second partition.
    block(QStringLiteral("virtual/block/dm-0"), QStringLiteral("0"));
    QVERIFY(QDir().mkpath(path(QStringLiteral("sys/devices/virtual/block/dm-0/slaves"))));
    QFile::link(path(QStringLiteral("sys/devices/usb1/block/sdq/sdq2")),
                path(QStringLiteral("sys/devices/virtual/block/dm-0/slaves/sdq2")));
    // Device nodes the sequence test needs.
    QVERIFY(testkit::touch(path(QStringLiteral("dev/sdq1")), ""));
}

DiskFormatter TestDiskFormatter::fake(const QStringList &mountLines)
{
    const QString table = path(QStringLiteral("mounts%1").arg(++tables));
    testkit::touch(table, mountLines.join(QLatin1Char('\n')).toUtf8() + '\n');
    DiskFormatter formatter;
    formatter.setSysfsRoot(path(QStringLiteral("sys")));
    formatter.setDeviceRoot(path(QStringLiteral("dev")));
    formatter.setMountTable(table);
    formatter.setProtectedFolders({QStringLiteral("/"), QDir::homePath(), QStringLiteral("/srv/data")});
    return formatter;
}

QStringList TestDiskFormatter::log() const
{
    QFile file(path(QStringLiteral("calls.log")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void TestDiskFormatter::labels_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("taken");
    QTest::addColumn<QString>("label");

    QTest::addRow("blank and lower case") << "my stick" << QStringList() << "MY_STICK";
    QTest::addRow("cut at eleven, not refused by mkfs") << "Holiday music 2024" << QStringList() << "HOLIDAY_MUS";
    QTest::addRow("characters mkfs refuses") << "a*b?c.d,e;f" << QStringList() << "A_B_C_D_E_F";
    QTest::addRow("more it refuses") << "x:/\\|+=<>[]\"" << QStringList() << "X__________";
    QTest::addRow("accents dropped, ASCII only") << QStringLiteral("Mötley Crüe") << QStringList() << "MOTLEY_CRUE";
    QTest::addRow("other scripts become _") << QStringLiteral("Музыка") << QStringList() << "______";
    QTest::addRow("a listed name gets a number") << "stick" << QStringList{"/x", "STICK"} << "STICK1";
    QTest::addRow("the next free number") << "stick" << QStringList{"stick", "STICK1"} << "STICK2";
    QTest::addRow("the number stays within eleven") << "Holiday music" << QStringList{"HOLIDAY_MUS"}
                                                    << "HOLIDAY_MU1";
}

void TestDiskFormatter::labels()
{
    QFETCH(QString, name);
    QFETCH(QStringList, taken);
    QTEST(DiskFormatter::uniqueLabel(DiskFormatter::fatLabel(name), taken), "label");
}

void TestDiskFormatter::wholeDisk_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("disk");

    QTest::addRow("sdq1") << "/dev/sdq1" << "sdq";
    QTest::addRow("two-digit partition") << "/dev/sdq10" << "sdq";
    QTest::addRow("nvme partition") << "/dev/nvme0n1p1" << "nvme0n1";
    QTest::addRow("memory card partition") << "/dev/mmcblk0p1" << "mmcblk0";
    QTest::addRow("a whole disk is its own disk") << "/dev/sdq" << "sdq";
    QTest::addRow("unknown to sysfs") << "/dev/sdz1" << "";
    QTest::addRow("not a device") << "tmpfs" << "";
    QTest::addRow("no climbing out of sysfs") << "/dev/.." << "";
}

void TestDiskFormatter::wholeDisk()
{
    QFETCH(QString, device);
    QTEST(fake({}).wholeDisk(device), "disk");
}

void TestDiskFormatter::refusal_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QStringList>("mounts");
    QTest::addColumn<QString>("refusal");

    const QString root = QStringLiteral("/dev/vdz / ext4 rw 0 0");
    QTest::addRow("a stick with one volume may be erased")
        << "/dev/sdq1" << QStringList{root, "/dev/sdq1 /media/u/MY\\040STICK vfat rw 0 0"} << "";
    QTest::addRow("not removable") << "/dev/sdr1" << QStringList{root, "/dev/sdr1 /media/u/DATA ext4 rw 0 0"}
                                   << "not a removable drive";
    QTest::addRow("holds the system") << "/dev/sdt1"
                                      << QStringList{"/dev/sdt2 / ext4 rw 0 0", "/dev/sdt1 /media/u/S vfat rw 0 0"}
                                      << "holds the system, home or data folder";
    QTest::addRow("holds the home folder")
        << "/dev/sdt1"
        << QStringList{root, "/dev/sdt2 " + QDir::homePath() + " ext4 rw 0 0", "/dev/sdt1 /media/u/S vfat rw 0 0"}
        << "holds the system, home or data folder";
    QTest::addRow("holds the data folder")
        << "/dev/sdt1" << QStringList{root, "/dev/sdt2 /srv ext4 rw 0 0", "/dev/sdt1 /media/u/S vfat rw 0 0"}
        << "holds the system, home or data folder";
    QTest::addRow("holds another volume")
        << "/dev/sdq1"
        << QStringList{root, "/dev/sdq1 /media/u/A vfat rw 0 0", "/dev/sdq2 /media/u/B vfat rw 0 0"}
        << "another mounted volume (/media/u/B)";
    QTest::addRow("another volume through device mapper")
        << "/dev/sdq1"
        << QStringList{root, "/dev/sdq1 /media/u/A vfat rw 0 0", "/dev/dm-0 /media/u/SAFE ext4 rw 0 0"}
        << "another mounted volume (/media/u/SAFE)";
    QTest::addRow("device sysfs doesn't know") << "/dev/sdz1" << QStringList{root} << "was not found";
}

void TestDiskFormatter::refusal()
{
    QFETCH(QString, device);
    QFETCH(QStringList, mounts);
    QFETCH(QString, refusal);
    const QString message = fake(mounts).refusal(device);
    if (refusal.isEmpty())
        QCOMPARE(message, QString());
    else
        QVERIFY2(message.contains(refusal), qPrintable(message));
}

void TestDiskFormatter::sequence_data()
{
    QTest::addColumn<QString>("filingSystem");
    QTest::addColumn<QString>("mkfsBody");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("calls");

    // The fake mkfs "mounts" the new volume by adding it to the mount table.
    const QString mounts = QStringLiteral("echo \"$DEV/sdq1 /media/u/MY_STICK vfat rw 0 0\" >> \"$TABLE\"");
    QTest::addRow("FAT32: unmount, partition, mkfs, mounted again")
        << "MS-DOS FAT32" << mounts << true << ""
        << QStringList{"umount /media/u/my stick", "sfdisk --wipe always DEV/sdq",
                       "mkfs.vfat -F 32 -n MY_STICK DEV/sdq1"};
    QTest::addRow("exFAT") << "ExFAT" << mounts << true << ""
                           << QStringList{"umount /media/u/my stick", "sfdisk --wipe always DEV/sdq",
                                          "mkfs.exfat -L MY_STICK DEV/sdq1"};
    QTest::addRow("failing mkfs is reported")
        << "MS-DOS FAT32" << "echo 'mkfs.fat: cannot open' >&2; exit 1" << false
        << "The file system could not be made (mkfs.vfat failed with exit status 1: mkfs.fat: cannot open)."
        << QStringList{"umount /media/u/my stick", "sfdisk --wipe always DEV/sdq",
                       "mkfs.vfat -F 32 -n MY_STICK DEV/sdq1"};
    QTest::addRow("a volume never mounted again is a failure")
        << "MS-DOS FAT32" << "true" << false << "was not mounted"
        << QStringList{"umount /media/u/my stick", "sfdisk --wipe always DEV/sdq",
                       "mkfs.vfat -F 32 -n MY_STICK DEV/sdq1", "udisksctl mount --no-user-interaction -b DEV/sdq1"};
    QTest::addRow("unknown filing system starts nothing")
        << "MS-DOS FAT16" << mounts << false << "cannot be made here" << QStringList();
}

void TestDiskFormatter::sequence()
{
    QFETCH(QString, filingSystem);
    QFETCH(QString, mkfsBody);
    QFETCH(QStringList, calls);
    QFile::remove(path(QStringLiteral("calls.log")));

    DiskFormatter formatter = fake({"/dev/vdz / ext4 rw 0 0", "/dev/sdq1 /media/u/my\\040stick vfat rw 0 0"});
    const QString table = path(QStringLiteral("mounts%1").arg(tables));
    const QString record = QStringLiteral("echo \"$(basename \"$0\") $*\" | sed \"s#%1#DEV#g\" >> '%2'; ")
                               .arg(path(QStringLiteral("dev")), path(QStringLiteral("calls.log")));
    const QString env = QStringLiteral("DEV='%1'; TABLE='%2'; ").arg(path(QStringLiteral("dev")), table);
    formatter.setProgram(DiskFormatter::Umount,
                         tool(QStringLiteral("umount"), record + env + QStringLiteral("sed -i '/sdq1/d' \"$TABLE\"")));
    formatter.setProgram(DiskFormatter::Sfdisk, tool(QStringLiteral("sfdisk"), record + QStringLiteral("cat >/dev/null")));
    formatter.setProgram(DiskFormatter::MkfsVfat, tool(QStringLiteral("mkfs.vfat"), record + env + mkfsBody));
    formatter.setProgram(DiskFormatter::MkfsExfat, tool(QStringLiteral("mkfs.exfat"), record + env + mkfsBody));
    formatter.setProgram(DiskFormatter::Udisksctl, tool(QStringLiteral("udisksctl"), record + QStringLiteral("exit 1")));
    formatter.setMountWaitMs(1500);

    const DiskFormatter::Outcome outcome =
        formatter.format(path(QStringLiteral("dev/sdq1")), filingSystem, QStringLiteral("my stick"));
    QTEST(outcome.ok, "ok");
    QFETCH(QString, message);
    QVERIFY2(message.isEmpty() ? outcome.message.isEmpty() : outcome.message.contains(message),
             qPrintable(outcome.message));
    QCOMPARE(log(), calls);
    if (outcome.ok)
        QCOMPARE(outcome.volumePath, QStringLiteral("/media/u/MY_STICK"));
}

void TestDiskFormatter::imageGetsTableAndFat32()
{
    DiskFormatter formatter;
    const QString mdir = QStandardPaths::findExecutable(QStringLiteral("mdir"));
    const QString fsck = QStandardPaths::findExecutable(QStringLiteral("fsck.fat"),
                                                        {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    if (mdir.isEmpty() || fsck.isEmpty())
        QSKIP("mtools and dosfstools are needed (scripts/install-deps.sh)");

    const QString image = path(QStringLiteral("disk.img"));
    {
        QFile file(image);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(40 * 1024 * 1024));
    }
    const DiskFormatter::Outcome outcome =
        formatter.writeDisk(image, DiskFormatter::FileSystem::Fat32, QStringLiteral("my stick"));
    QVERIFY2(outcome.ok, qPrintable(outcome.message));

    // The MBR: one partition of type 0c starting at sector 2048.
    QFile file(image);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray mbr = file.read(512);
    QCOMPARE(quint8(mbr[510]), quint8(0x55));
    QCOMPARE(quint8(mbr[511]), quint8(0xaa));
    QCOMPARE(quint8(mbr[446 + 4]), quint8(0x0c));
    QCOMPARE(qFromLittleEndian<quint32>(mbr.constData() + 446 + 8), quint32(DiskFormatter::partitionStartSector));
    QCOMPARE(quint8(mbr[462 + 4]), quint8(0));  // no second partition

    QProcess process;
    process.start(mdir, {QStringLiteral("-i"), image + QStringLiteral("@@1M"), QStringLiteral("::")});
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitCode(), 0);
    QVERIFY(process.readAllStandardOutput().contains("Volume in drive : is MY_STICK"));

    // fsck.fat checks the partition on its own.
    const QString partition = path(QStringLiteral("partition.img"));
    QVERIFY(file.seek(qint64(DiskFormatter::partitionStartSector) * 512));
    QVERIFY(testkit::touch(partition, file.readAll()));
    process.start(fsck, {QStringLiteral("-n"), partition});
    QVERIFY(process.waitForFinished(20000));
    QVERIFY2(process.exitCode() == 0, process.readAllStandardOutput().constData());

    // An image cannot carry exFAT (mkfs.exfat has no offset): refused, untouched.
    const DiskFormatter::Outcome exfat = formatter.writeDisk(image, DiskFormatter::FileSystem::ExFat, QString());
    QVERIFY(!exfat.ok && !exfat.erased);
}

// The block-device road (the kernel re-reads the table, the partition node
// appears) on a loop device over an image, where the machine allows one.
void TestDiskFormatter::blockDeviceGetsTableAndFat32()
{
    const QString losetup = QStandardPaths::findExecutable(QStringLiteral("losetup"),
                                                           {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    if (losetup.isEmpty() || geteuid() != 0)
        QSKIP("needs root and losetup");
    const QString image = path(QStringLiteral("loop.img"));
    {
        QFile file(image);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(40 * 1024 * 1024));
    }
    QProcess process;
    process.start(losetup, {QStringLiteral("-f"), QStringLiteral("--show"), QStringLiteral("-P"), image});
    QVERIFY(process.waitForFinished(20000));
    const QString loop = QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    if (process.exitCode() != 0 || loop.isEmpty())
        QSKIP("no loop device here");
    const auto detach = qScopeGuard([&] { QProcess::execute(losetup, {QStringLiteral("-d"), loop}); });
    // Some kernels make no partitions of loop devices: try once by hand.
    process.start(QStandardPaths::findExecutable(QStringLiteral("sfdisk"), {QStringLiteral("/usr/sbin")}), {loop});
    process.waitForStarted();
    process.write("label: dos\nstart=2048, type=c\n");
    process.closeWriteChannel();
    QVERIFY(process.waitForFinished(20000));
    QTest::qWait(500);
    if (!QFileInfo::exists(QStringLiteral("/sys/class/block/") + QFileInfo(loop).fileName() + QStringLiteral("p1")))
        QSKIP("this kernel makes no partitions of loop devices");

    DiskFormatter formatter;
    const DiskFormatter::Outcome outcome =
        formatter.writeDisk(loop, DiskFormatter::FileSystem::Fat32, QStringLiteral("loop stick"));
    QVERIFY2(outcome.ok, qPrintable(outcome.message));
    QCOMPARE(outcome.device, loop + QStringLiteral("p1"));
    process.start(QStandardPaths::findExecutable(QStringLiteral("fsck.fat"), {QStringLiteral("/usr/sbin")}),
                  {QStringLiteral("-n"), outcome.device});
    QVERIFY(process.waitForFinished(20000));
    QVERIFY2(process.exitCode() == 0, process.readAllStandardOutput().constData());
}

CORVANE_TEST_MAIN(TestDiskFormatter)
#include "tst_diskformatter.moc"
