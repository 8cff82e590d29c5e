#include <QtTest>

#include <QQmlContext>
#include <QQuickItem>

#include <memory>

#include "app/libraryadder.h"
#include "app/manager.h"
#include "app/startup.h"
#include "database/ruvodb.h"
#include "delivery/combo.h"
#include "delivery/drive.h"
#include "libraryconsistency.h"
#include "libraryfixture.h"
#include "mediakit.h"
#include "testenv.h"
#include "windowdriver.h"

// The whole road through the window, as a user walks it: the Music folder
// added from the media browser (a damaged file among it is named, FLACs are
// converted), one album removed, the program started again, and the rest
// transferred to a folder after one library copy was damaged.  At each step
// the library is exactly what was chosen, and every failure is told.
class TestRoad : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
        testkit::MediaKit kit(music);
        for (int n = 1; n <= 3; ++n)
            QVERIFY(!kit.mp3(QString("Alpha/0%1 Song.mp3").arg(n), {QString("Alpha %1").arg(n), "Band", "Alpha", "Pop", {}, 2001, n}, {}, 9)
                         .isEmpty());
        for (int n = 1; n <= 2; ++n)
            QVERIFY(!kit.flac(QString("Beta/0%1 Song.flac").arg(n), {QString("Beta %1").arg(n), "Band", "Beta", "Pop", {}, 2002, n}, {}, 9)
                         .isEmpty());
        QByteArray noise(256 * 1024, 0);
        for (int i = 0; i < noise.size(); ++i)
            noise[i] = char((i * 7919) % 251);
        QVERIFY(QDir().mkpath(music + "/Loose") && testkit::touch(music + "/Loose/broken.mp3", noise));
    }

    void road()
    {
        start();
        // Add: everything the browser shows; the damaged file is named.
        QVERIFY(QMetaObject::invokeMethod(app->viewer().rootObject(), "showStartPage", Q_ARG(QVariant, "Aster")));
        QVERIFY(click("startAddMediaButton"));
        QTRY_VERIFY(item("mediaBrowser") && item("mediaBrowser")->isVisible());
        QVERIFY(click("source_mymusic"));
        QTRY_VERIFY_WITH_TIMEOUT(message().contains("broken.mp3"), 60000);
        QVERIFY(message().contains("damaged or not a media file"));
        QVERIFY(click("messageOkButton"));
        QTRY_COMPARE_WITH_TIMEOUT(item("browserAlbumsGrid")->property("count").toInt(), 2, 60000);
        QTRY_VERIFY_WITH_TIMEOUT(!item("loadingOverlay")->isVisible(), 60000);
        // The add's end: its progress at one of one with no file named.
        QSignalSpy progress(controller, &manager::updateProgressSearch);
        const auto addEnded = [&progress] {
            return std::any_of(progress.cbegin(), progress.cend(), [](const QList<QVariant> &step) {
                return step.at(0).value<QVariant>().toInt() == 1 && step.at(1).value<QVariant>().toInt() == 1 &&
                       step.at(2).value<QVariant>().toString().isEmpty();
            });
        };
        QVERIFY(click("browserSelectAll"));
        QVERIFY(click("browserAddButton"));
        QTRY_VERIFY_WITH_TIMEOUT(addEnded(), 120000);
        QTRY_VERIFY_WITH_TIMEOUT(!controller->isRefreshingViews() && !controller->libraryAdder->isBusy(), 120000);
        QCOMPARE(controller->libraryTracks.size(), 5);
        whole(5);
        QStringList suffixes;
        for (const QString &path : testkit::rowPaths())
            suffixes << QFileInfo(path).suffix();
        suffixes.sort();
        QCOMPARE(suffixes.join(' '), "m4a m4a mp3 mp3 mp3"); // the FLACs converted

        // Remove the album Beta.
        QTRY_VERIFY(rows("albumsModel").size() == 2);
        for (QObject *row : rows("albumsModel"))
            row->setProperty("selected", row->property("albumname").toString() == "Beta");
        QVERIFY(click("removeButton"));
        QTRY_VERIFY_WITH_TIMEOUT(controller->libraryTracks.size() == 3 && !controller->isRefreshingViews(), 60000);
        whole(3);

        // Start again: the same three songs.
        app.reset();
        start();
        // The vehicle chosen again: the library opens.
        QVERIFY(QMetaObject::invokeMethod(app->viewer().rootObject(), "showViewPanel", Q_ARG(QVariant, "Aster")));
        QTRY_VERIFY_WITH_TIMEOUT(controller->libraryTracks.size() == 3, 60000);
        whole(3);

        // Transfer all to a folder, one library copy damaged since.
        QStringList paths = testkit::rowPaths();
        paths.sort();
        QVERIFY(testkit::touch(paths.first(), QByteArray(int(QFileInfo(paths.first()).size()), '\0')));
        const QString target = dir.filePath("car");
        QDir().mkpath(target);
        Drive::setFolderChooser([target] { return target; });
        QTRY_VERIFY(rows("albumsModel").size() == 1);
        rows("albumsModel").first()->setProperty("selected", true);
        QSignalSpy told(app->drive(), &Drive::showMessageBox);
        QVERIFY(click("transferButton"));
        QObject *dialog = app->viewer().rootObject()->findChild<QObject *>("transferDialog");
        QTRY_VERIFY(dialog && dialog->property("opened").toBool());
        const auto *content = dialog->property("contentItem").value<QQuickItem *>();
        QVERIFY(QMetaObject::invokeMethod(content->findChild<QObject *>("chooseFolderButton"), "clicked"));
        QCOMPARE(dialog->property("selectedPath").toString(), target);
        QVERIFY(QMetaObject::invokeMethod(content->findChild<QObject *>("transferContinueButton"), "clicked"));
        QTRY_COMPARE_WITH_TIMEOUT(told.size(), 1, 120000);
        const QString end = told.first().first().toString();
        QVERIFY2(end.contains("1 of the chosen files was not transferred") &&
                     end.contains(QFileInfo(paths.first()).fileName()),
                 qPrintable(end));
        QStringList onDrive;
        for (const QString &file : testkit::filesBelow(target + "/Aster Media"))
            if (file.endsWith(".mp3"))
                onDrive << QFileInfo(file).fileName();
        QCOMPARE(onDrive.size(), 2); // each song that could go, once
        QVERIFY(!onDrive.contains(QFileInfo(paths.first()).fileName()));
        whole(3);
        app.reset();
        Drive::setFolderChooser({});
    }

private:
    void start()
    {
        app = std::make_unique<StartUp>();
        app->start();
        QVERIFY(app->viewer().rootObject());
        app->viewer().showNormal();
        app->viewer().resize(1280, 800);
        controller = app->controller();
        Combo().readSystemDetails("Aster");
        QTRY_VERIFY_WITH_TIMEOUT(!controller->isCheckingLibrary() && !controller->isRefreshingViews(), 60000);
    }

    // Every row has its file, every file of the library folder its row, each song once.
    void whole(int songs)
    {
        QVERIFY2(testkit::inconsistencies().isEmpty(), qPrintable(testkit::inconsistencies().join("\n")));
        QCOMPARE(testkit::rowPaths().size(), songs);
        QCOMPARE(testkit::filesBelow(ruvoDB::programCopyFolder()).size(), songs);
        for (const QString &path : testkit::rowPaths())
            QVERIFY2(!path.contains(" (2)"), qPrintable(path));
    }

    QString message() const
    {
        QObject *box = app->viewer().rootObject()->findChild<QObject *>("messageBox");
        return box && box->property("opened").toBool() ? box->property("message").toString() : QString();
    }

    QObjectList rows(const char *model) const
    {
        return app->viewer().rootContext()->contextProperty(QString::fromLatin1(model)).value<QObjectList>();
    }

    QQuickItem *item(const QString &name) const { return testkit::findItem(app->viewer().contentItem(), name); }
    bool click(const QString &name) { return testkit::clickItem(app->viewer(), name); }

    QTemporaryDir dir;
    std::unique_ptr<StartUp> app;
    manager *controller = nullptr;
};

CORVANE_TEST_MAIN(TestRoad)
#include "tst_road.moc"
