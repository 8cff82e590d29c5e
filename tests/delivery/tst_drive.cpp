#include <QtTest>

#include <QQmlContext>
#include <QQuickItem>
#include <sys/stat.h>

#include "app/qmlapplicationviewer.h"
#include "app/startup.h"
#include "delivery/combo.h"
#include "delivery/drive.h"
#include "delivery/drivedata.h"
#include "platform/externalprogram.h"
#include "platform/volumes.h"
#include "fakeformatter.h"
#include "libraryfixture.h"
#include "mediakit.h"
#include "testenv.h"

// The transfer dialog with the whole window: the targets it polls, the
// folder the user adds, the confirmation (formatting among it), the copy
// reaching its end and the cancel.  Every formatting tool is a fake that logs
// its call, so nothing here can erase a disk.
class TestDrive : public QObject
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
        testkit::fakeFormattingTools(dir.path(), dir.filePath("calls.log"));
        testkit::MediaKit kit(dir.filePath("songs"));
        for (int i = 1; i <= 3; ++i) {
            songs.insert(i, testkit::makeTrack(kit.mp3(QString("%1.mp3").arg(i), {}), "Album"));
            songs[i].id = i;
        }
        slow = testkit::makeTrack(kit.flac("slow.flac", {}), "Slow");
        slow.id = 1;
        big = testkit::makeTrack(kit.mp3("big.mp3", {}, {}, 8, 128), "Album");
        big.id = 1;
    }

    void init()
    {
        app = std::make_unique<StartUp>();
        app->start();
        QVERIFY(app->drive());
        Combo().readSystemDetails("Aster");
    }

    void cleanup()
    {
        app->drive()->timerexe(0);
        app.reset();
        QProcess::execute("umount", {"-q", "-l", stick, roots + "/RO", roots + "/GONE"});
        ExternalProgram::setToolPath(ExternalProgram::Ffmpeg, QString());
        Drive::setFolderChooser({});
    }

    void pollListsAndDropsVolumes()
    {
        Drive *drive = app->drive();
        drive->timerexe(1);
        if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=8m", "tmpfs", stick}) != 0)
            QSKIP("mounting tmpfs needs root");
        // A read-only volume is no target.
        QVERIFY(QDir().mkpath(roots + "/RO") &&
                !QProcess::execute("mount", {"-t", "tmpfs", "-o", "ro", "tmpfs", roots + "/RO"}));
        drive->GetDriveDetail();
        QCOMPARE(property("driveList").toStringList(), QStringList{stick});
        QVERIFY(rows().size() == 1 && rows().first()->driveletter() == stick);
        // A volume that went is dropped, though its mount folder stays; with
        // none left the list holds the placeholder.
        QCOMPARE(QProcess::execute("umount", {stick}), 0);
        drive->GetDriveDetail();
        QCOMPARE(property("driveList").toStringList(), QStringList{"No Drive"});
        QVERIFY(rows().isEmpty());
    }

    void confirmation_data()
    {
        QTest::addColumn<QString>("target"); // "stick": a tmpfs volume; "folder": a folder the user chose
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("message"); // "": the copy runs to its end; "-": nothing happens

        QTest::addRow("no drive does nothing") << "No Drive" << 0 << "-";
        QTest::addRow("a vanished target is a removed disk") << "/nonexistent/stick" << 0 << "Disk is Removed";
        QTest::addRow("an unlisted target is no target") << "/" << 0 << "No destination drive selected.";
        const QString done = "All files have been successfully transferred to Aster Media.";
        QTest::addRow("format off: the volume is copied to") << "stick" << 0 << done;
        // The end is told once, from the job's outcome, whatever order the
        // copier's own signal arrives in.
        QTest::addRow("a full drive says so, once")
            << "small stick" << 0 << "Drive is Full: 0 files were copied, 1 was left out.";
        QTest::addRow("a full drive says how many files went and how many did not")
            << "roomier small stick" << 0 << "Drive is Full: 1 file was copied, 1 was left out.";
        QTest::addRow("a folder target is never formatted") << "folder" << 1 << done;
        QTest::addRow("a volume on no disk is refused and starts no copy")
            << "stick" << 1 << "mounted from \"tmpfs\", which is not a disk";
        // Its mount folder stays behind on the system disk, which must not
        // take the songs.
        QTest::addRow("a stick pulled after the poll is removed, not the system disk")
            << "pulled stick" << 0 << "Disk is Removed";
        QTest::addRow("cancel ends a conversion and the dialog at once") << "folder" << 0 << "cancel";
        QTest::addRow("no vehicle chosen: nothing is written") << "folder" << 0 << "Please select your vehicle";
    }

    void confirmation()
    {
        QFETCH(QString, target);
        QFETCH(int, format);
        QFETCH(QString, message);
        Drive *drive = app->drive();
        const bool pulled = target == "pulled stick";
        // A poll of the timer's own would drop the pulled stick from the
        // list before the confirmation: this row polls only by hand.
        if (!pulled)
            drive->timerexe(1);
        if (target == "folder") {
            target = dir.filePath(QStringLiteral("car folder ") + QTest::currentDataTag());
            QDir().mkpath(target);
            Drive::setFolderChooser([target] { return target; });
            drive->openDialog();
        } else if (target == "stick" || target.endsWith("small stick") || pulled) {
            const QString size = target == "small stick"          ? "size=64k"
                                 : target.endsWith("small stick") ? "size=160k"
                                                                  : "size=8m";
            target = stick;
            if (QProcess::execute("mount", {"-t", "tmpfs", "-o", size, "tmpfs", stick}) != 0)
                QSKIP("mounting tmpfs needs root");
        }
        const bool cancel = message == "cancel";
        if (message == "Please select your vehicle")
            *Combo().getsystemDetail() = SystemDetails();
        // The conversion says it has begun, then holds until it is stopped;
        // only one never stopped waits out its timeout and leaves the mark.
        const QString began = dir.filePath("conversion began"), ranOut = dir.filePath("conversion ran out");
        QFile::remove(began);
        QFile::remove(ranOut);
        if (cancel)
            ExternalProgram::setToolPath(
                ExternalProgram::Ffmpeg,
                testkit::MediaKit::fakeTool(
                    dir.path(), "slow-ffmpeg",
                    QString("touch '%1'; timeout 100 head -c 1 >/dev/null || touch '%2'").arg(began, ranOut)));
        const bool full = message.startsWith("Drive is Full");
        // A song that fits, then one that doesn't.
        track bigAfter = big;
        bigAfter.id = 2;
        Drive::getInstance()->TransferDetails(message.contains("1 file was copied")
                                                  ? TrackMap{{1, songs[1]}, {2, bigAfter}}
                                                  : TrackMap{{1, cancel ? slow
                                                                 : full ? big
                                                                        : songs[1]}});
        drive->GetDriveDetail();
        if (pulled) {
            QCOMPARE(property("driveList").toStringList(), QStringList{target});
            QCOMPARE(QProcess::execute("umount", {target}), 0);
        }
        QSignalSpy messages(drive, &Drive::showMessageBox);
        QSignalSpy copy(drive, &Drive::sgShowTransferProgress);
        QSignalSpy progress(drive, &Drive::sgUpdateTransferProgress);
        QSignalSpy syncing(drive, &Drive::sgTransferSyncing);
        QSignalSpy hidden(drive, &Drive::sgHideTransferProgress);
        drive->ContinueDrive(target, format, 1, 0, 0);
        if (cancel) {
            QTRY_COMPARE_WITH_TIMEOUT(copy.size(), 1, 60000);
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(began), 60000);
            drive->slProgressStoped(1);
            QTRY_COMPARE_WITH_TIMEOUT(hidden.size(), 1, 120000);
            QVERIFY2(!QFileInfo::exists(ranOut), "the cancel must stop the conversion, not wait for it");
            QTRY_COMPARE(messages.size(), 1); // how much it did
            QCOMPARE(messages.first().first().toString(),
                     "The transfer was cancelled: 0 files were written to " + QDir::toNativeSeparators(target) + ".");
            QVERIFY(property("driveList").toStringList().isEmpty());
            QVERIFY(!QFileInfo::exists(target + "/Aster Media/Slow/Song.m4a"));
            return;
        }
        const bool copies = message.startsWith("All files");
        if (copies) {
            // "Synching" while the drive is flushed, then the file: the copy
            // ends before the window goes.
            QTRY_VERIFY_WITH_TIMEOUT(!progress.isEmpty() && progress.last().at(1).toInt() == 1, 30000);
            QCOMPARE(syncing.size(), 1);
            QCOMPARE(progress.size(), 1);
            QVERIFY(QFileInfo(target + "/Aster Media/Album/1.mp3").isFile());
            QTRY_COMPARE(messages.size(), 1);
            QCOMPARE(messages.first().first().toString(), message);
        } else if (full) {
            QTRY_COMPARE_WITH_TIMEOUT(messages.size(), 1, 30000);
            QCOMPARE(messages.first().first().toString(), message);
            drive->slDiskFull(); // the copier's signal coming after the end
            QCoreApplication::processEvents();
            QVERIFY(!QFileInfo::exists(target + "/Aster Media/Album/big.mp3"));
            QCOMPARE(QFileInfo::exists(target + "/Aster Media/Album/1.mp3"), message.contains("1 file was copied"));
        } else if (message == "-") {
            QTest::qWait(100);
        } else {
            QTRY_COMPARE(messages.size(), 1);
            QVERIFY2(messages.first().first().toString().contains(message),
                     qPrintable(messages.first().first().toString()));
            if (target != "/") // a refused target is left as it was
                QCOMPARE(QDir(target).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), {});
        }
        QCOMPARE(copy.size(), copies || full ? 1 : 0);
        QCOMPARE(messages.size(), message.size() > 1 ? 1 : 0);
        QVERIFY(!QFile::exists(dir.filePath("calls.log")));
    }

    // A transfer that finds its files on the drive already says how many it
    // left as they were.
    void filesAlreadyThere_data()
    {
        QTest::addColumn<int>("before"); // songs transferred before
        QTest::addColumn<int>("overwriteAll");
        QTest::addColumn<QString>("told");
        const QString done = "All files have been successfully transferred to Aster Media.";
        QTest::addRow("every file there already")
            << 3 << 0 << done + " 3 files were already on the drive and were left as they were.";
        QTest::addRow("one file there already")
            << 1 << 0 << done + " 1 file was already on the drive and was left as it was.";
        QTest::addRow("overwrite all leaves none as it was") << 3 << 1 << done;
    }

    void filesAlreadyThere()
    {
        QFETCH(int, before);
        QFETCH(int, overwriteAll);
        const QString target = dir.filePath(QStringLiteral("again ") + QTest::currentDataTag());
        QDir().mkpath(target);
        Drive::setFolderChooser([target] { return target; });
        Drive *drive = app->drive();
        const auto transfer = [&](const TrackMap &tracks, int overwrite) {
            drive->timerexe(1);
            drive->openDialog();
            Drive::getInstance()->TransferDetails(tracks);
            QSignalSpy messages(drive, &Drive::showMessageBox);
            drive->ContinueDrive(target, 0, overwrite, 0, 0);
            if (messages.isEmpty())
                messages.wait(60000);
            return messages.size() == 1 ? messages.first().first().toString() : QString();
        };
        const QString done = "All files have been successfully transferred to Aster Media.";
        QCOMPARE(transfer(before == 3 ? songs : TrackMap{{1, songs[1]}}, 0), done);
        QTEST(transfer(songs, overwriteAll), "told");
        QCOMPARE(QDir(target + "/Aster Media/Album").entryList(QDir::Files).size(), 3);
    }

    // A drive whose record of its files can't be written still gets every
    // song, and the user is told (not only the log).
    void recordNotWrittenIsTold()
    {
        const QString target = dir.filePath("no record");
        // A folder where the record goes: it can't be replaced by a file.
        QVERIFY(testkit::touch(target + "/Aster Media/.corvane-sources.json/in the way", "x"));
        Drive::setFolderChooser([target] { return target; });
        Drive *drive = app->drive();
        drive->timerexe(1);
        drive->openDialog();
        Drive::getInstance()->TransferDetails(songs);
        QSignalSpy messages(drive, &Drive::showMessageBox);
        drive->ContinueDrive(target, 0, 0, 0, 0);
        QTRY_COMPARE_WITH_TIMEOUT(messages.size(), 1, 60000);
        const QString told = messages.first().first().toString();
        QVERIFY2(told.startsWith("All files have been successfully transferred to Aster Media.\nThe drive's record of "
                                 "its files could not be written ("),
                 qPrintable(told));
        QCOMPARE(QDir(target + "/Aster Media/Album").entryList(QDir::Files).size(), 3);
    }

    // The drive's bar in the dialog: a stick with a few MB on it reads in MB,
    // not "0.00 GB".
    void driveBarShowsMegabytes()
    {
        if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=8m", "tmpfs", stick}) != 0)
            QSKIP("mounting tmpfs needs root");
        QVERIFY(testkit::touch(stick + "/notes.bin", QByteArray(3000000, 'x')));
        QVERIFY(QMetaObject::invokeMethod(app->viewer().rootObject(), "showtransferBrowser"));
        QObject *dialog = app->viewer().rootObject()->findChild<QObject *>("transferDialog");
        QVERIFY(dialog);
        QTRY_COMPARE(dialog->property("selectedPath").toString(), stick);
        const auto *content = dialog->property("contentItem").value<QQuickItem *>();
        QVERIFY(content);
        QObject *list = content->findChild<QObject *>("transferTargets");
        QVERIFY(list);
        // Delegates are the list's items, not its QObject children.
        const auto sizesShown = [list]() -> QObject * {
            QQuickItem *row = nullptr;
            QMetaObject::invokeMethod(list, "itemAtIndex", Q_RETURN_ARG(QQuickItem *, row), Q_ARG(int, 0));
            return row ? row->findChild<QObject *>("driveSizes") : nullptr;
        };
        QTRY_VERIFY(sizesShown() && sizesShown()->property("visible").toBool());
        QObject *sizes = sizesShown();
        QCOMPARE(sizes->property("text").toString(), "TOTAL 8.0 MB   USED 2.9 MB   FREE 5.1 MB");
    }

    // Before the user is asked whether to format: a stick pulled since it
    // was listed (its mount folder gone with it) is removed, and without a
    // vehicle there is no file system to give it.
    void formatCheck_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("refusal");
        QTest::addRow("a listed stick pulled, its folder gone") << "pulled"
                                                                << "Disk is Removed";
        QTest::addRow("no vehicle chosen") << "no vehicle"
                                           << "Please select your vehicle";
    }

    void formatCheck()
    {
        QFETCH(QString, situation);
        QFETCH(QString, refusal);
        const QString gone = roots + "/GONE";
        QVERIFY(QDir().mkpath(gone));
        if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=8m", "tmpfs", gone}) != 0)
            QSKIP("mounting tmpfs needs root");
        Drive *drive = app->drive();
        drive->timerexe(1);
        drive->GetDriveDetail();
        QCOMPARE(property("driveList").toStringList(), QStringList{gone});
        if (situation == "pulled") {
            // As the desktop does on unmounting: the folder goes too.  No poll
            // since: the stick is still listed.
            QVERIFY(QProcess::execute("umount", {gone}) == 0 && QDir().rmdir(gone));
        } else {
            *Combo().getsystemDetail() = SystemDetails();
        }
        QSignalSpy checked(drive, &Drive::sgFormatChecked);
        drive->checkFormat(gone);
        QCOMPARE(checked.size(), 1);
        QCOMPARE(checked.first().at(0).toString(), gone);
        QVERIFY2(checked.first().at(1).toString().startsWith(refusal), qPrintable(checked.first().at(1).toString()));
        QProcess::execute("umount", {"-q", "-l", gone});
        QDir().rmdir(gone);
    }

    void transferFromTheWindow()
    {
        TrackMap tracks = songs;
        tracks[2].filepath += ".gone"; // removed since it was added: the dialog still ends
        // Swapped for a pipe with no writer since it was added: never waited on.
        const QString pipe = dir.filePath("4.mp3");
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        tracks[4] = songs[3];
        tracks[4].id = 4;
        tracks[4].filepath = pipe;
        tracks[4].trackname = QStringLiteral("Four");
        tracks[4].filename = QStringLiteral("4.mp3");
        Drive::getInstance()->TransferDetails(tracks);
        if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=8m", "tmpfs", stick}) != 0)
            QSKIP("mounting tmpfs needs root");

        const QString folder = dir.filePath("window folder");
        QDir().mkpath(folder);
        Drive::setFolderChooser([folder] { return folder; });
        QSignalSpy progress(app->drive(), &Drive::sgUpdateTransferProgress);
        QSignalSpy messages(app->drive(), &Drive::showMessageBox);
        // What the progress dialog shows while the drive takes the files.
        QObject *progressDialog = app->viewer().rootObject()->findChild<QObject *>("transferProgressDialog");
        QVERIFY(progressDialog);
        QStringList shownWhileSyncing;
        QObject listening;
        connect(app->drive(), &Drive::sgTransferSyncing, &listening,
                [&] { shownWhileSyncing << progressDialog->property("fileName").toString(); });

        QVERIFY(QMetaObject::invokeMethod(app->viewer().rootObject(), "showtransferBrowser"));
        QObject *dialog = app->viewer().rootObject()->findChild<QObject *>("transferDialog");
        QVERIFY(dialog);
        QTRY_VERIFY(dialog->property("opened").toBool());
        // The lone drive is chosen for the user; a folder chosen next is the target.
        QTRY_COMPARE(dialog->property("selectedPath").toString(), stick);
        // The dialog's buttons sit under its content item, not under the dialog.
        const auto *content = dialog->property("contentItem").value<QQuickItem *>();
        QVERIFY(content);
        QVERIFY(QMetaObject::invokeMethod(content->findChild<QObject *>("chooseFolderButton"), "clicked"));
        QCOMPARE(property("driveList").toStringList(), (QStringList{stick, folder}));
        QCOMPARE(dialog->property("selectedPath").toString(), folder);
        QVERIFY(QMetaObject::invokeMethod(content->findChild<QObject *>("transferContinueButton"), "clicked"));

        QTRY_VERIFY(!progress.isEmpty() && progress.last().at(1).toInt() == 4);
        QCOMPARE(progress.last().at(0).toInt(), 4);
        QCOMPARE(shownWhileSyncing, QStringList{QStringLiteral("Synching")});
        QVERIFY(QFileInfo(folder + "/Aster Media/Album/1.mp3").isFile() &&
                QFileInfo(folder + "/Aster Media/Album/3.mp3").isFile() && !QFileInfo::exists(stick + "/Aster Media"));
        // The user is told which file did not go, and why.
        QTRY_COMPARE(messages.size(), 1);
        QCOMPARE(messages.first().first().toString(),
                 "2 of the chosen files were not transferred to " + folder +
                     ":\n2.mp3.gone: the file is no longer there\n4.mp3: it is not a regular file");
        // The end closes the poll: both lists are published empty.
        QTRY_VERIFY(property("driveList").toStringList().isEmpty());
        QVERIFY(rows().isEmpty());
    }

    void escapeClosesTheDialog()
    {
        QVERIFY(QMetaObject::invokeMethod(app->viewer().rootObject(), "showtransferBrowser"));
        QObject *dialog = app->viewer().rootObject()->findChild<QObject *>("transferDialog");
        QVERIFY(dialog);
        QTRY_VERIFY(dialog->property("opened").toBool());
        app->viewer().requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(&app->viewer()));
        QTest::keyClick(&app->viewer(), Qt::Key_Escape);
        QTRY_VERIFY(!dialog->property("visible").toBool());
    }

private:
    QVariant property(const char *name) const
    {
        return app->viewer().rootContext()->contextProperty(QString::fromLatin1(name));
    }
    QList<DriveData *> rows() const
    {
        QList<DriveData *> found;
        for (QObject *o : property("drivedetails").value<QList<QObject *>>())
            found << qobject_cast<DriveData *>(o);
        return found;
    }

    QTemporaryDir dir;
    QString roots;
    QString stick;
    TrackMap songs;
    track slow;
    track big;
    std::unique_ptr<StartUp> app;
};

CORVANE_TEST_MAIN(TestDrive)
#include "tst_drive.moc"
