#include <QtTest>

#include <QApplication>
#include <QFileDialog>

#include "platform/folderdialog.h"
#include "testenv.h"

// The real folder dialog, answered by the test once it shows: it opens on a
// folder that exists, so that folder can be chosen at once.
class TestFolderDialog : public QObject
{
    Q_OBJECT

private slots:
    void opensWhereAFolderCanBeChosen_data()
    {
        QTest::addColumn<bool>("withDesktop");
        QTest::addRow("a home with a desktop folder: the desktop folder") << true;
        QTest::addRow("a new home without one: the home folder, not a missing desktop") << false;
    }

    void opensWhereAFolderCanBeChosen()
    {
        QFETCH(bool, withDesktop);
        const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
        QVERIFY(desktop.startsWith(testkit::testHome()));
        QVERIFY(QDir(desktop).removeRecursively());
        if (withDesktop)
            QVERIFY(QDir().mkpath(desktop));
        const QString expected = QFileInfo(withDesktop ? desktop : testkit::testHome()).canonicalFilePath();

        // Accepted as it opens, as a user pressing "Choose" at once.  A
        // dialog still open after that, or a warning in front of it, is
        // closed: the folder could not be chosen.
        QString shownOn;
        bool answered = false;
        QTimer answer;
        connect(&answer, &QTimer::timeout, this, [&shownOn, &answered] {
            QWidget *modal = QApplication::activeModalWidget();
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            if (dialog && !answered) {
                answered = true;
                shownOn = QFileInfo(dialog->directory().absolutePath()).canonicalFilePath();
                // As "Choose" does; queued, so that a warning it raises meets this timer again.
                QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
            } else if (auto *other = qobject_cast<QDialog *>(modal)) {
                QMetaObject::invokeMethod(other, "reject", Qt::QueuedConnection);
            }
        });
        answer.start(10);
        const QString chosen = FolderDialog::chooseExisting(QStringLiteral("Open Directory"));
        answer.stop();
        QCOMPARE(shownOn, expected);
        QCOMPARE(QFileInfo(chosen).canonicalFilePath(), expected);
    }
};

CORVANE_TEST_MAIN(TestFolderDialog)
#include "tst_folderdialog.moc"
