#include <QtTest>

#include "libraryfixture.h"
#include "mediakit.h"
#include "platform/diskformatter.h"
#include "testenv.h"

// The formatting layer: volume names, the disk found and refused through a
// fake sysfs tree and mount table, and whole formats with the real sfdisk and
// mkfs on a loop device.
class TestDiskFormatter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Disks hold a "removable" file, partitions a "partition" file with their
        // number's last digit; each is listed in class/block.  dm-0 lives on the
        // stick's second partition.  Memory cards are shaped as the SD/MMC
        // driver lays them out: removable 0, and a "device" link to the card,
        // whose "type" says what it is.
        const QStringList blocks = QStringLiteral("usb/sdq=1 usb/sdq/sdq1 usb/sdq/sdq2 usb/sdq/sdq10 ata/sdr=0 "
                                                  "ata/sdr/sdr1 usb2/sdt=1 usb2/sdt/sdt1 usb2/sdt/sdt2 pci/nvme0n1=1 "
                                                  "pci/nvme0n1/nvme0n1p1 virtual/dm-0=0 "
                                                  "mmc0/mmc0:aaaa/block/mmcblk0=0 mmc0/mmc0:aaaa/block/mmcblk0/mmcblk0p1 "
                                                  "mmc0/mmc0:aaaa/block/mmcblk0/mmcblk0p2 "
                                                  "mmc1/mmc1:0001/block/mmcblk1=0 mmc1/mmc1:0001/block/mmcblk1/mmcblk1p1 "
                                                  "mmc2/mmc2:0001/block/mmcblk2=0 mmc2/mmc2:0001/block/mmcblk2/mmcblk2p1")
                                       .split(' ');
        for (const QString &entry : blocks) {
            const QString folder = path("sys/devices/" + entry.section('=', 0, 0));
            const QString name = QFileInfo(folder).fileName();
            QVERIFY(entry.contains('=') ? testkit::touch(folder + "/removable", entry.section('=', 1).toLatin1())
                                        : testkit::touch(folder + "/partition", name.right(1).toLatin1()));
            QVERIFY(QDir().mkpath(path("sys/class/block")) && QFile::link(folder, path("sys/class/block/") + name));
        }
        QVERIFY(QDir().mkpath(path("sys/devices/virtual/dm-0/slaves")));
        QVERIFY(QFile::link(path("sys/devices/usb/sdq/sdq2"), path("sys/devices/virtual/dm-0/slaves/sdq2")));
        QVERIFY(testkit::touch(path("dev/sdq1"), ""));
        for (const auto &[card, type] : {std::pair{"mmc0/mmc0:aaaa", "SD"}, {"mmc1/mmc1:0001", "MMC"},
                                         {"mmc2/mmc2:0001", "SDIO"}}) {
            const QString folder = path("sys/devices/") + card;
            const QString disk = folder + "/block/mmcblk" + QString(QLatin1Char(card[3]));
            QVERIFY(testkit::touch(folder + "/type", QByteArray(type) + '\n') && QFile::link(folder, disk + "/device"));
        }
    }

    void labels_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("taken");
        QTest::addColumn<QString>("label");
        QTest::addRow("blank and lower case") << "my stick" << "" << "MY_STICK";
        QTest::addRow("cut at eleven, not refused by mkfs") << "Holiday music 2024" << "" << "HOLIDAY_MUS";
        QTest::addRow("characters mkfs refuses") << "a*b?c.d,e;f:/\\|+=<>[]\"" << "" << "A_B_C_D_E_F";
        QTest::addRow("accents dropped, other scripts _") << QStringLiteral("Crüe Муз") << "" << "CRUE____";
        QTest::addRow("a listed name gets the next free number") << "stick" << "STICK stick1" << "STICK2";
        QTest::addRow("the number stays within eleven") << "Holiday music" << "HOLIDAY_MUS" << "HOLIDAY_MU1";
    }

    void labels()
    {
        QFETCH(QString, name);
        QFETCH(QString, taken);
        QTEST(DiskFormatter::uniqueLabel(DiskFormatter::fatLabel(name), taken.split(' ', Qt::SkipEmptyParts)), "label");
    }

    void refusal_data()
    {
        // The refusal, then the mount table besides the system's root.
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<QStringList>("mounts");
        const QString stick = QStringLiteral("/dev/sdt1 /media/u/S vfat rw 0 0");
        const QString system = "dev/sdt holds the system, home or data folder";
        QTest::addRow("a stick with one volume") << "sdq1" << "" << QStringList{"/dev/sdq1 /media/u/A\\040B vfat"};
        QTest::addRow("two-digit partition") << "sdq10" << "" << QStringList();
        QTest::addRow("nvme partition") << "nvme0n1p1" << "" << QStringList();
        QTest::addRow("unknown to sysfs") << "sdz1" << "was not found" << QStringList();
        QTest::addRow("not removable") << "sdr1" << "dev/sdr is not a removable drive" << QStringList();
        QTest::addRow("holds the system") << "sdt1" << system << QStringList{"/dev/sdt2 / ext4 rw", stick};
        QTest::addRow("holds the home folder")
            << "sdt1" << system << QStringList{"/dev/sdt2 " + QDir::homePath(), stick};
        QTest::addRow("its volume holds the data folder") << "sdt1" << system << QStringList{"/dev/sdt1 /srv vfat"};
        QTest::addRow("holds another volume")
            << "sdq1" << "holds another mounted volume (/media/u/B)" << QStringList{"/dev/sdq2 /media/u/B vfat"};
        QTest::addRow("an SD card in the laptop's slot") << "mmcblk0p1" << "" << QStringList{"/dev/mmcblk0p1 /media/u/SD"};
        QTest::addRow("MMC, as built-in eMMC storage says, is refused")
            << "mmcblk1p1" << "dev/mmcblk1 is not a removable drive" << QStringList();
        QTest::addRow("an SDIO device is no memory card")
            << "mmcblk2p1" << "dev/mmcblk2 is not a removable drive" << QStringList();
        QTest::addRow("an SD card holding the system")
            << "mmcblk0p1" << "dev/mmcblk0 holds the system, home or data folder"
            << QStringList{"/dev/mmcblk0p2 / ext4 rw", "/dev/mmcblk0p1 /media/u/SD vfat"};
        QTest::addRow("an SD card with another mounted volume")
            << "mmcblk0p1" << "holds another mounted volume (/media/u/B)" << QStringList{"/dev/mmcblk0p2 /media/u/B"};
        QTest::addRow("another volume through device mapper")
            << "sdq1" << "holds another mounted volume (/media/u/SAFE)" << QStringList{"/dev/dm-0 /media/u/SAFE"};
    }

    void refusal()
    {
        QFETCH(QString, device);
        QFETCH(QStringList, mounts);
        QFETCH(QString, refusal);
        const QString message = fake(QStringList{"/dev/vdz / ext4 rw 0 0"} + mounts).refusal("/dev/" + device);
        QVERIFY2(refusal.isEmpty() ? message.isEmpty() : message.contains(refusal), qPrintable(message));
    }

    // What the transfer dialog asks before its question: the file system
    // first, then the disk; the answer names what is wrong.
    void check_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("filingSystem");
        QTest::addColumn<QString>("refusal");
        QTest::addRow("a stick, FAT32") << "/dev/sdq1" << "MS-DOS FAT32" << "";
        QTest::addRow("a stick, exFAT") << "/dev/sdq1" << "ExFAT" << "";
        QTest::addRow("a filing system that can't be made")
            << "/dev/sdq1" << "MS-DOS FAT16" << "The filing system \"MS-DOS FAT16\" cannot be made here";
        QTest::addRow("tmpfs lies on no disk") << "tmpfs" << "MS-DOS FAT32"
                                               << "mounted from \"tmpfs\", which is not a disk";
        QTest::addRow("a network share lies on no disk")
            << "server:/music" << "MS-DOS FAT32" << "mounted from \"server:/music\", which is not a disk";
        QTest::addRow("no device at all") << "" << "MS-DOS FAT32" << "No device was found for this volume";
        QTest::addRow("a device sysfs doesn't know") << "/dev/sdz1" << "MS-DOS FAT32"
                                                     << "The drive of /dev/sdz1 was not found";
        QTest::addRow("not removable") << "/dev/sdr1" << "MS-DOS FAT32" << "dev/sdr is not a removable drive";
    }

    void check()
    {
        QFETCH(QString, device);
        QFETCH(QString, filingSystem);
        QFETCH(QString, refusal);
        const QString message = fake({"/dev/vdz / ext4 rw 0 0"}).check(device, filingSystem);
        QVERIFY2(refusal.isEmpty() ? message.isEmpty() : message.contains(refusal), qPrintable(message));
    }

    void loopDisk_data()
    {
        QTest::addColumn<QString>("filingSystem");
        QTest::addColumn<QString>("fault"); // of umount ("busy"), mkfs, the remount ("unmounted"), or "/" on the disk
        QTest::addColumn<QString>("message");
        QTest::addRow("FAT32: partitioned, made, mounted again") << "MS-DOS FAT32" << "" << "";
        QTest::addRow("exFAT") << "ExFAT" << "" << "";
        QTest::addRow("a failed unmount erases nothing")
            << "MS-DOS FAT32" << "busy" << "could not be unmounted (umount failed with exit status 32: target is busy)";
        QTest::addRow("a failed mkfs is told")
            << "ExFAT" << "mkfs" << "could not be made (mkfs.exfat failed with exit status 1: cannot open)";
        QTest::addRow("a volume never mounted again is a failure") << "MS-DOS FAT32" << "unmounted" << "not mounted";
        QTest::addRow("unknown filing system erases nothing") << "MS-DOS FAT16" << "" << "cannot be made here";
        QTest::addRow("a disk holding the system is refused") << "MS-DOS FAT32" << "/" << "holds the system";
    }

    // The real sfdisk and mkfs on a loop device whose image starts with a
    // marker sector; a mount table of the test's own stands for the desktop's.
    void loopDisk()
    {
        QFETCH(QString, filingSystem);
        QFETCH(QString, fault);
        QFETCH(QString, message);
        const QString image = path(QStringLiteral("stick.img"));
        QVERIFY(testkit::touch(image, QByteArray(512, 'x')) && testkit::MediaKit::padToSize(image, 40 << 20));
        loop = run("losetup", {"-P", "-f", "--show", image});
        if (!loop.startsWith("/dev/loop"))
            QSKIP("a loop device needs root");
        const QString disk = loop.mid(5), partition = loop + "p1";
        DiskFormatter formatter = fake({"/dev/vdz / ext4", loop + (fault == "/" ? " /" : " /media/u/my\\040stick")});
        // The real sysfs, but the disk removable.  This kernel reads no
        // partition tables: partx tells it of the new one.
        const QString sys = path(QStringLiteral("sys%1").arg(tables)), block = sys + "/class/block/" + disk;
        const QString table = path(QStringLiteral("mounts%1").arg(tables));
        QVERIFY(testkit::touch(block + "/removable", "1") &&
                QFile::link("/sys/class/block/" + disk + "p1", block + "/" + disk + "p1"));
        formatter.setSysfsRoot(sys);
        formatter.setDeviceRoot("/dev");
        // The desktop mounts the new volume as soon as it is made.
        const QString made = fault == "unmounted" ? "" : " && echo '" + partition + " /media/u/MY_STICK' >>" + table;
        const QString failed = fault == "mkfs" ? "echo cannot open >&2; exit 1; " : "";
        const QStringList tools{"sfdisk \"$@\" && partx -a " + loop, failed + "mkfs.vfat \"$@\"" + made,
                                failed + "mkfs.exfat \"$@\"" + made,
                                fault == "busy" ? "echo target is busy >&2; exit 32" : "true",
                                "exit 1"}; // Program order
        for (int p = 0; p < tools.size(); ++p)
            formatter.setProgram(
                DiskFormatter::Program(p),
                testkit::MediaKit::fakeTool(dir.path(), QString::number(p), "PATH=/usr/sbin:/sbin:$PATH; " + tools[p]));
        formatter.setMountWaitMs(fault == "unmounted" ? 500 : 60000);

        const DiskFormatter::Outcome outcome = formatter.format(loop, filingSystem, "my stick");
        QVERIFY2(message.isEmpty() ? outcome.message.isEmpty() : outcome.message.contains(message),
                 qPrintable(outcome.message));
        QCOMPARE(outcome.ok, message.isEmpty());
        QCOMPARE(outcome.volumePath, outcome.ok ? QStringLiteral("/media/u/MY_STICK") : QString());
        QFile device(loop);
        QVERIFY(device.open(QIODevice::ReadOnly));
        const QByteArray mbr = device.read(512);
        QCOMPARE(mbr == QByteArray(512, 'x'), fault == "busy" || fault == "/" || filingSystem.endsWith("16"));
        if (!outcome.ok && fault != "unmounted")
            return;
        // A partition of type 0c or 07 from sector 2048, a sound file system, the user's name.
        const bool exfat = filingSystem == "ExFAT";
        QCOMPARE(quint8(mbr[446 + 4]), quint8(exfat ? 0x07 : 0x0c));
        QCOMPARE(qFromLittleEndian<quint32>(mbr.constData() + 446 + 8), quint32(DiskFormatter::partitionStartSector));
        QVERIFY(!run(exfat ? "fsck.exfat" : "fsck.fat", {"-n", partition}).isEmpty());
        QVERIFY(run(exfat ? "exfatlabel" : "fatlabel", {partition}).endsWith("MY_STICK"));
    }

    void cleanup()
    {
        if (!loop.isEmpty())
            run("losetup", {"-d", std::exchange(loop, QString())});
    }

private:
    QString path(const QString &relative) const { return dir.path() + QLatin1Char('/') + relative; }
    // Standard output of a system tool; empty when it fails.
    static QString run(const QString &tool, const QStringList &arguments)
    {
        QProcess process;
        process.start(QStandardPaths::findExecutable(tool, {"/usr/sbin", "/sbin", "/usr/bin", "/bin"}), arguments);
        const bool ok =
            process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        return ok ? QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed() : QString();
    }
    DiskFormatter fake(const QStringList &mountLines)
    {
        const QString table = path(QStringLiteral("mounts%1").arg(++tables));
        testkit::touch(table, mountLines.join(QLatin1Char('\n')).toUtf8() + '\n');
        DiskFormatter formatter(QStringLiteral("/srv/data"));
        formatter.setSysfsRoot(path(QStringLiteral("sys")));
        formatter.setDeviceRoot(path(QStringLiteral("dev")));
        formatter.setMountTable(table);
        return formatter;
    }
    QTemporaryDir dir;
    int tables = 0;
    QString loop;
};

CORVANE_TEST_MAIN(TestDiskFormatter)
#include "tst_diskformatter.moc"
