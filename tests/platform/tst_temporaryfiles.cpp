#include <QtTest>

#include "platform/temporaryfiles.h"
#include "libraryfixture.h"
#include "testenv.h"

// The sweep removes what a killed run left, so the name test decides what
// of a user's files may be deleted: only the exact form the program makes
// passes it.
class TestTemporaryFiles : public QObject
{
    Q_OBJECT

private slots:
    void ownNamesAreRecognised_data()
    {
        QTest::addColumn<QString>("name");
        const QString folder = dir.path();
        QTemporaryFile madeByQt(TemporaryFiles::templateBeside(folder + "/Song.mp3"));
        QVERIFY(madeByQt.open());
        QTest::addRow("a copy's temporary file") << QFileInfo(TemporaryFiles::beside(folder + "/Song.mp3")).fileName();
        QTest::addRow("a conversion's, with its container suffix")
            << QFileInfo(TemporaryFiles::beside(folder + "/Song.m4a", "m4a")).fileName();
        QTest::addRow("a tag save's, named by QTemporaryFile") << QFileInfo(madeByQt.fileName()).fileName();
        QTest::addRow("a long name shortened to fit")
            << QFileInfo(TemporaryFiles::beside(folder + "/" + QString(300, QChar(0x00e9)) + ".flac", "mp3")).fileName();
        QTest::addRow("a name starting with a dot") << QFileInfo(TemporaryFiles::beside(folder + "/.a.mp3")).fileName();
    }

    void ownNamesAreRecognised()
    {
        QFETCH(QString, name);
        QVERIFY2(TemporaryFiles::isTemporaryName(name), qPrintable(name));
        QVERIFY(name.toUtf8().size() <= TemporaryFiles::nameLimitBytes);
    }

    // Each row differs from the program's form in one point.
    void nearMissesAreKept_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addRow("a word as random part") << ".Notes.corvane-backup.part";
        QTest::addRow("a word and a user's suffix") << ".mix.corvane-remaster.part.txt";
        QTest::addRow("hex digits only") << ".a.mp3.corvane-0123abcd.part";
        QTest::addRow("letters only") << ".a.mp3.corvane-abcdefghijkl.part";
        QTest::addRow("seven hex digits") << ".a.mp3.corvane-0123abcQwErTy.part";
        QTest::addRow("nine hex digits") << ".a.mp3.corvane-0123abcd9QwErTy.part";
        QTest::addRow("upper-case hex digits") << ".a.mp3.corvane-0123ABCDQwErTy.part";
        QTest::addRow("five letters") << ".a.mp3.corvane-0123abcdQwErT.part";
        QTest::addRow("seven letters") << ".a.mp3.corvane-0123abcdQwErTyU.part";
        QTest::addRow("a digit among the letters") << ".a.mp3.corvane-0123abcdQwE4Ty.part";
        QTest::addRow("not hidden") << "a.mp3.corvane-0123abcdQwErTy.part";
        QTest::addRow("nothing before the marker") << "..corvane-0123abcdQwErTy.part";
        QTest::addRow("no part suffix") << ".a.mp3.corvane-0123abcdQwErTy";
        QTest::addRow("a suffix after part that is too long") << ".a.mp3.corvane-0123abcdQwErTy.part.backup";
        QTest::addRow("an upper-case suffix after part") << ".a.mp3.corvane-0123abcdQwErTy.part.MP3";
        QTest::addRow("something after the suffix") << ".a.mp3.corvane-0123abcdQwErTy.part.mp3~";
        QTest::addRow("another program's marker") << ".a.mp3.corvana-0123abcdQwErTy.part";
    }

    void nearMissesAreKept()
    {
        QFETCH(QString, name);
        QVERIFY(!TemporaryFiles::isTemporaryName(name));
        // And on the disk: an old file of that name outlives a sweep.
        const QString root = dir.filePath(QTest::currentDataTag());
        const QString path = root + "/Album/" + name;
        QVERIFY(testkit::touch(path));
        const QString ours = TemporaryFiles::beside(root + "/Album/a.mp3");
        QVERIFY(testkit::touch(ours));
        QCOMPARE(TemporaryFiles::sweep(root, true, QDateTime::currentDateTime().addSecs(5)), 1);
        QVERIFY(QFile::exists(path));
        QVERIFY(!QFile::exists(ours));
    }

private:
    QTemporaryDir dir;
};

CORVANE_TEST_MAIN(TestTemporaryFiles)
#include "tst_temporaryfiles.moc"
