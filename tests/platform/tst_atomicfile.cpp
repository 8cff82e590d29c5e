#include <QtTest>

#include <QProcess>

#include <memory>

#include "libraryfixture.h"
#include "platform/atomicfile.h"
#include "platform/safefilecopy.h"
#include "platform/temporaryfiles.h"
#include "platform/writeorder.h"
#include "testenv.h"

#include <unistd.h>

// Files reach their final name whole or not at all, by the one rule.

namespace {

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
}

// The names in the folder, temporary ones included.
QStringList namesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// An exFAT image of 8 MiB through FUSE on a loop device, mounted at `path`
// (needs root, exfatprogs and exfat-fuse); unmounted and detached when it goes.
struct ExfatMount
{
    explicit ExfatMount(const QString &mountPath) : path(mountPath), image(mountPath + ".img")
    {
        QDir().mkpath(path);
        ok = ::geteuid() == 0 && sh("truncate -s 8M '%1' && mkfs.exfat '%1' && "
                                    "mount.exfat-fuse $(losetup -f --show '%1') '%2'");
    }
    ~ExfatMount()
    {
        sh("umount '%2' || umount -l '%2'; for d in $(losetup -j '%1' | cut -d: -f1); do losetup -d $d; done");
    }
    bool sh(const QString &script)
    {
        return QProcess::execute("sh", {"-c", "(" + script.arg(image, path) + ") >/dev/null 2>&1"}) == 0;
    }

    QString path, image;
    bool ok = false;
};

QString eventName(WriteOrder::Event event)
{
    switch (event) {
    case WriteOrder::Event::FileCreated:
        return QStringLiteral("created");
    case WriteOrder::Event::FileSynced:
        return QStringLiteral("synced");
    case WriteOrder::Event::FilePlaced:
        return QStringLiteral("placed");
    case WriteOrder::Event::FolderSynced:
        return QStringLiteral("folder synced");
    case WriteOrder::Event::VolumeSynced:
        return QStringLiteral("volume synced");
    default:
        return QStringLiteral("other");
    }
}

} // namespace

class TestAtomicFile : public QObject
{
    Q_OBJECT

private slots:
    // "how | what is at the target before | committed | the target's content after"
    void write_data()
    {
        QTest::addColumn<QString>("fields");
        QTest::addColumn<bool>("exfat");
        QTest::addRow("a new file") << "replace | - | yes | new" << false;
        QTest::addRow("an older file is replaced in one step") << "replace | old | yes | new" << false;
        QTest::addRow("never replace: an existing file stays") << "never | old | no | old" << false;
        QTest::addRow("never replace: a file that appears meanwhile stays") << "never-late | - | no | late" << false;
        QTest::addRow("a folder in the way: the rename fails") << "replace | folder | no | <none>" << false;
        QTest::addRow("given up: nothing is left") << "discard | old | no | old" << false;
        QTest::addRow("copy over an older file") << "copy | old | yes | new" << false;
        QTest::addRow("copy onto a folder: not copied") << "copy | folder | no | <none>" << false;
        // exFAT has neither RENAME_NOREPLACE nor hard links: "never" rests on
        // the last test before the rename there.
        QTest::addRow("exFAT: never replace: an existing file stays") << "never | old | no | old" << true;
        QTest::addRow("exFAT: never replace: a file that appears meanwhile stays") << "never-late | - | no | late"
                                                                                  << true;
        QTest::addRow("exFAT: a new file") << "never | - | yes | new" << true;
        // The name taken between that test and the rename.
        QTest::addRow("exFAT: never replace: a file that takes the name at the last moment stays")
            << "never-racing | - | no | late" << true;
    }

    void write()
    {
        QFETCH(QString, fields);
        QFETCH(bool, exfat);
        const QStringList f = fields.split(" | ");
        std::unique_ptr<ExfatMount> mount;
        if (exfat) {
            static int mounts = 0;
            mount = std::make_unique<ExfatMount>(dir.filePath(QStringLiteral("exfat-%1").arg(++mounts)));
            if (!mount->ok)
                QSKIP("no exFAT mount here (needs root, exfatprogs, exfat-fuse and a loop device)");
        }
        const QString folder = (exfat ? mount->path : dir.path()) + '/' +
                               QString(QTest::currentDataTag()).replace(' ', '_').replace(':', '_');
        const QString target = folder + "/song.mp3";
        QVERIFY(QDir().mkpath(folder));
        if (f[1] == "old")
            QVERIFY(testkit::touch(target, "old"));
        if (f[1] == "folder")
            QVERIFY(testkit::touch(target + "/inside", "x"));
        const QString source = dir.filePath("source.mp3");
        QVERIFY(testkit::touch(source, "new"));

        bool committed = false;
        if (f[0] == "copy") {
            int error = 0;
            const SafeFileCopy::Outcome outcome = SafeFileCopy::copy(source, target, &error);
            committed = outcome == SafeFileCopy::Copied;
            QCOMPARE(error != 0, !committed);
        } else {
            const auto replace = f[0].startsWith("never") ? AtomicFile::Replace::Never : AtomicFile::Replace::Existing;
            bool raced = false;
            if (f[0] == "never-racing")
                WriteOrder::setRecorder([&raced, target](WriteOrder::Event event, const QString &path) {
                    if (event == WriteOrder::Event::PlacingUnguarded && path == target)
                        raced = testkit::touch(target, "late");
                });
            auto stopRecording = qScopeGuard([] { WriteOrder::setRecorder({}); });
            AtomicFile out(target, replace, AtomicFile::Flush::Now);
            const bool opened = out.open();
            QCOMPARE(opened, f[1] != "old" || replace == AtomicFile::Replace::Existing);
            if (opened) {
                QVERIFY(out.write(QByteArray("new")));
                if (f[0] == "never-late")
                    QVERIFY(testkit::touch(target, "late"));
                if (f[0] != "discard")
                    committed = out.commit();
                QCOMPARE(out.error() != 0, !committed && f[0] != "discard");
                QCOMPARE(raced, f[0] == "never-racing");
            }
        }
        QCOMPARE(committed ? "yes" : "no", f[2]);
        QCOMPARE(QFileInfo(target).isFile() ? contentOf(target) : QByteArray("<none>"), f[3].toUtf8());
        // No temporary file stays behind, whatever happened.
        for (const QString &name : namesIn(folder))
            QVERIFY2(!TemporaryFiles::isTemporaryName(name), qPrintable(name));
    }

    // Flush::Now puts the data on the disk before the file takes its name,
    // and its folder's entry after; Flush::Batch syncs nothing, its caller
    // syncs the volume once.  "how | the writes and syncs, in order".
    void syncs_data()
    {
        QTest::addColumn<QString>("fields");
        QTest::addRow("now, written through the descriptor")
            << "now | created, synced, placed, folder synced";
        QTest::addRow("now, written by name (as ffmpeg does)")
            << "now-by-name | created, synced, placed, folder synced";
        QTest::addRow("batch, then the volume") << "batch | created, placed, volume synced";
        QTest::addRow("copy: one of a batch") << "copy | created, placed, volume synced";
    }

    void syncs()
    {
        QFETCH(QString, fields);
        const QStringList f = fields.split(" | ");
        const QString target = dir.filePath("syncs/" + f[0] + ".mp3");
        QVERIFY(QDir().mkpath(dir.filePath("syncs")));
        QStringList events;
        WriteOrder::setRecorder([&events, target](WriteOrder::Event event, const QString &path) {
            if (path == target)
                events << eventName(event);
        });
        auto stopRecording = qScopeGuard([] { WriteOrder::setRecorder({}); });
        if (f[0] == "copy") {
            QVERIFY(testkit::touch(dir.filePath("syncs-source.mp3"), "new"));
            QCOMPARE(SafeFileCopy::copy(dir.filePath("syncs-source.mp3"), target), SafeFileCopy::Copied);
        } else {
            AtomicFile out(target, AtomicFile::Replace::Existing,
                           f[0] == "batch" ? AtomicFile::Flush::Batch : AtomicFile::Flush::Now);
            QVERIFY(out.open());
            QVERIFY(out.write(QByteArray("new")));
            if (f[0] == "now-by-name")
                QVERIFY(out.close());
            QVERIFY(out.commit());
        }
        if (!f[0].startsWith("now"))
            QVERIFY(AtomicFile::syncVolume(target));
        QCOMPARE(events.join(", "), f[1]);
        QCOMPARE(contentOf(target), QByteArray("new"));
    }

    // syncfs reaches the volume of a folder that exists, and of a file yet to be made there.
    void syncVolume()
    {
        QVERIFY(AtomicFile::syncVolume(dir.path()));
        QVERIFY(AtomicFile::syncVolume(dir.filePath("not/yet/made.mp3")));
    }

private:
    QTemporaryDir dir;
};

CORVANE_TEST_MAIN(TestAtomicFile)

#include "tst_atomicfile.moc"
