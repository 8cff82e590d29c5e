#include <QtTest>

#include "libraryfixture.h"
#include "mediakit.h"
#include "platform/diskformatter.h"
#include "testenv.h"

// The formatting layer: volume names, the disk found and refused through a
// fake sysfs tree and mount table, the sequence against fake tools, and the
// real sfdisk and mkfs.vfat on a disk image.
class TestDiskFormatter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Disks hold a "removable" file, partitions a "partition" file with their
        // number's last digit; each is listed in class/block.  dm-0 lives on the
        // stick's second partition.
        const QStringList blocks = QStringLiteral("usb/sdq=1 usb/sdq/sdq1 usb/sdq/sdq2 usb/sdq/sdq10 ata/sdr=0 "
                                                  "ata/sdr/sdr1 usb2/sdt=1 usb2/sdt/sdt1 usb2/sdt/sdt2 pci/nvme0n1=1 "
                                                  "pci/nvme0n1/nvme0n1p1 virtual/dm-0=0")
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

    void sequence_data()
    {
        QTest::addColumn<QString>("filingSystem");
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("mkfsBody");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("calls");

        // The fake mkfs "mounts" the new volume by adding it to the mount table.
        const QString mounts = QStringLiteral("echo \"$DEV/sdq1 /media/u/MY_STICK vfat rw 0 0\" >> \"$TABLE\"");
        const QString start = QStringLiteral("umount /media/u/my stick; sfdisk --wipe always DEV/sdq; ");
        const QString fat32 = start + "mkfs.vfat -F 32 -n MY_STICK DEV/sdq1";
        QTest::addRow("FAT32: unmount, partition, mkfs, mounted again")
            << "MS-DOS FAT32" << "sdq1" << mounts << "" << fat32;
        QTest::addRow("exFAT") << "ExFAT" << "sdq1" << mounts << "" << start + "mkfs.exfat -L MY_STICK DEV/sdq1";
        QTest::addRow("failing mkfs is reported")
            << "MS-DOS FAT32" << "sdq1" << "echo 'mkfs.fat: cannot open' >&2; exit 1"
            << "The file system could not be made (mkfs.vfat failed with exit status 1: mkfs.fat: cannot open)."
            << fat32;
        QTest::addRow("a volume never mounted again is a failure")
            << "MS-DOS FAT32" << "sdq1" << "true" << "was not mounted"
            << fat32 + "; udisksctl mount --no-user-interaction -b DEV/sdq1";
        QTest::addRow("unknown filing system starts nothing")
            << "MS-DOS FAT16" << "sdq1" << mounts << "cannot be made here" << "";
        QTest::addRow("a refused disk starts nothing")
            << "MS-DOS FAT32" << "sdr1" << mounts << "not a removable drive" << "";
    }

    void sequence()
    {
        QFETCH(QString, mkfsBody);
        QFETCH(QString, message);
        const QString log = path(QStringLiteral("calls.log"));
        QFile::remove(log);
        DiskFormatter formatter = fake({"/dev/vdz / ext4 rw 0 0", "/dev/sdq1 /media/u/my\\040stick vfat rw 0 0"});
        // Each fake tool logs its call (with the device folder as DEV) and acts on the mount table.
        const QString head =
            QStringLiteral("DEV='%1'; TABLE='%2'; echo \"$(basename \"$0\") $*\" | sed \"s#$DEV#DEV#g\" >> '%3'; ")
                .arg(path(QStringLiteral("dev")), path(QStringLiteral("mounts%1").arg(tables)), log);
        const QStringList tools{"sfdisk=cat >/dev/null", "mkfs.vfat=" + mkfsBody, "mkfs.exfat=" + mkfsBody,
                                "umount=sed -i '/sdq1/d' \"$TABLE\"", "udisksctl=exit 1"}; // in Program order
        for (int p = 0; p < tools.size(); ++p)
            formatter.setProgram(DiskFormatter::Program(p),
                                 testkit::MediaKit::fakeTool(dir.path(), tools[p].section('=', 0, 0),
                                                             head + tools[p].section('=', 1)));
        formatter.setMountWaitMs(1500);

        QFETCH(QString, filingSystem);
        QFETCH(QString, device);
        const DiskFormatter::Outcome outcome = formatter.format(path("dev/" + device), filingSystem, "my stick");
        QCOMPARE(outcome.ok, message.isEmpty());
        QVERIFY2(message.isEmpty() ? outcome.message.isEmpty() : outcome.message.contains(message),
                 qPrintable(outcome.message));
        QFile file(log);
        file.open(QIODevice::ReadOnly);
        QTEST(QString::fromUtf8(file.readAll()).trimmed().replace('\n', "; "), "calls");
        QCOMPARE(outcome.volumePath, outcome.ok ? QStringLiteral("/media/u/MY_STICK") : QString());
    }

    void imageGetsTableAndFat32()
    {
        const QString mdir = QStandardPaths::findExecutable(QStringLiteral("mdir"));
        if (mdir.isEmpty())
            QSKIP("mtools and dosfstools are needed (scripts/install-deps.sh)");
        const QString image = path(QStringLiteral("disk.img"));
        QFile file(image);
        QVERIFY(file.open(QIODevice::ReadWrite) && file.resize(40 * 1024 * 1024));
        DiskFormatter formatter(QStringLiteral("/srv/data"));
        const DiskFormatter::Outcome outcome =
            formatter.writeDisk(image, DiskFormatter::FileSystem::Fat32, QStringLiteral("my stick"));
        QVERIFY2(outcome.ok, qPrintable(outcome.message));

        // The MBR: one partition of type 0c from sector 2048, no second one.
        const QByteArray mbr = file.read(512);
        QCOMPARE(quint8(mbr[446 + 4]), quint8(0x0c));
        QCOMPARE(qFromLittleEndian<quint32>(mbr.constData() + 446 + 8), quint32(DiskFormatter::partitionStartSector));
        QCOMPARE(quint8(mbr[462 + 4]), quint8(0));

        QProcess process;
        process.start(mdir, {QStringLiteral("-i"), image + QStringLiteral("@@1M"), QStringLiteral("::")});
        QVERIFY(process.waitForFinished(20000) && process.exitCode() == 0);
        QVERIFY(process.readAllStandardOutput().contains("Volume in drive : is MY_STICK"));
    }

private:
    QString path(const QString &relative) const { return dir.path() + QLatin1Char('/') + relative; }
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
};

CORVANE_TEST_MAIN(TestDiskFormatter)
#include "tst_diskformatter.moc"
