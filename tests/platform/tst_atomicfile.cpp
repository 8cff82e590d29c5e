#include <QtTest>

#include "libraryfixture.h"
#include "platform/atomicfile.h"
#include "platform/safefilecopy.h"
#include "platform/temporaryfiles.h"
#include "testenv.h"

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

} // namespace

class TestAtomicFile : public QObject
{
    Q_OBJECT

private slots:
    // "how | what is at the target before | committed | the target's content after"
    void write_data()
    {
        QTest::addColumn<QString>("fields");
        QTest::addRow("a new file") << "replace | - | yes | new";
        QTest::addRow("an older file is replaced in one step") << "replace | old | yes | new";
        QTest::addRow("never replace: an existing file stays") << "never | old | no | old";
        QTest::addRow("never replace: a file that appears meanwhile stays") << "never-late | - | no | late";
        QTest::addRow("a folder in the way: the rename fails") << "replace | folder | no | <none>";
        QTest::addRow("given up: nothing is left") << "discard | old | no | old";
        QTest::addRow("copy over an older file") << "copy | old | yes | new";
        QTest::addRow("copy onto a folder: not copied") << "copy | folder | no | <none>";
    }

    void write()
    {
        QFETCH(QString, fields);
        const QStringList f = fields.split(" | ");
        const QString folder = dir.filePath(QString(QTest::currentDataTag()).replace(' ', '_').replace(':', '_'));
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
            }
        }
        QCOMPARE(committed ? "yes" : "no", f[2]);
        QCOMPARE(QFileInfo(target).isFile() ? contentOf(target) : QByteArray("<none>"), f[3].toUtf8());
        // No temporary file stays behind, whatever happened.
        for (const QString &name : namesIn(folder))
            QVERIFY2(!TemporaryFiles::isTemporaryName(name), qPrintable(name));
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
