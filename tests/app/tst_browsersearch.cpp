#include <QtTest>

#include "app/mediabrowser.h"
#include "database/database.h"
#include "scanfixture.h"
#include "testenv.h"

// The media browser's search box as the user types: characters added and
// deleted, and keystrokes that come while the views are being built.

namespace {

QStringList albumNames(const MediaBrowser &browser)
{
    QStringList result;
    for (QObject *row : browser.browserAlbumModels())
        result << row->property("albumname").toString();
    result.sort();
    return result;
}

const QStringList tracks{"Blue Hour|Band|Song 1", "Coastline|Band|Song 2", "Blue Lagoon|Crew|Song 3",
                         "Night Shift|Crew|Song 4", "Lullaby Hour|Host|Episode 1|p", "Coast Talk|Host|Episode 2|p"};

} // namespace

class TestBrowserSearch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(db.connect(QStringLiteral("RuvoData"), true));
        db.create();
    }

    void init()
    {
        controller = std::make_unique<manager>(nullptr, nullptr);
        browser = controller->mediaBrowser.get();
        browser->mediasource = QStringLiteral("browse");
    }

    void cleanup() { controller.reset(); }

    // Texts typed one after the other into the albums view (music): the
    // albums shown after the last equal those the last text alone shows.
    void typingAndDeleting_data()
    {
        QTest::addColumn<QStringList>("typed");
        QTest::addColumn<QStringList>("shown");
        QTest::addRow("typing narrows") << QStringList{"l", "lu", "blu"} << QStringList{"Blue Hour", "Blue Lagoon"};
        QTest::addRow("deleting the last character widens")
            << QStringList{"l", "lu", "l"} << QStringList{"Blue Hour", "Blue Lagoon", "Coastline"};
        QTest::addRow("deleting down to one letter")
            << QStringList{"b", "bl", "blu", "blue ", "blue h", "blue ", "blue", "blu", "bl", "b"}
            << QStringList{"Blue Hour", "Blue Lagoon"};
        QTest::addRow("deleting everything") << QStringList{"c", "co", "c", ""}
                                             << QStringList{"Blue Hour", "Blue Lagoon", "Coastline", "Night Shift"};
        QTest::addRow("another text after deleting") << QStringList{"night", "nigh", "ni", "n", "", "co"}
                                                     << QStringList{"Coastline"};
    }

    void typingAndDeleting()
    {
        QFETCH(QStringList, typed);
        QFETCH(QStringList, shown);
        show(testkit::scannedTracks(tracks));
        for (const QString &text : typed)
            controller->searchBox(text);
        QCOMPARE(albumNames(*browser), shown);
        // Every track, of every category, is marked by the last text alone.
        for (const track &t : std::as_const(controller->browserTracks))
            QCOMPARE(t.isHidden, !t.albumName.toLower().contains(typed.last()));
    }

    // A keystroke right after a category change or a new source's rows is
    // not held back by the build: the view on screen shows its result at
    // once, in the new category, and still does once the build is taken.
    // The models saved for an emptied search are the unfiltered ones.
    // "work done": the build's worker has ended, its rows not yet taken.
    void keystrokeDuringABuild_data()
    {
        QTest::addColumn<bool>("newSource");
        QTest::addColumn<bool>("workDone");
        QTest::addColumn<int>("category");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("shown");
        QTest::addRow("category change, build running") << false << false << 2 << "hour" << QStringList{"Lullaby Hour"};
        QTest::addRow("category change, work done") << false << true << 2 << "coast" << QStringList{"Coast Talk"};
        QTest::addRow("new source, build running") << true << false << 0 << "blue" << QStringList{"Blue Hour", "Blue Lagoon"};
        QTest::addRow("new source, work done") << true << true << 0 << "night" << QStringList{"Night Shift"};
    }

    void keystrokeDuringABuild()
    {
        QFETCH(bool, newSource);
        QFETCH(bool, workDone);
        QFETCH(int, category);
        QFETCH(QString, text);
        QFETCH(QStringList, shown);
        show(testkit::scannedTracks({"Old Album|Band|Song 0"}));
        if (newSource) {
            browser->saveBrowserModels = true;
            controller->browserTracks = testkit::scannedTracks(tracks);
            controller->setTempValue();
        } else {
            show(testkit::scannedTracks(tracks));
            controller->filterForCheckboxes(category);
        }
        QVERIFY(browser->isBuilding());
        if (workDone)
            QVERIFY(browser->waitForBuild(30000));
        QSignalSpy published(controller.get(), &manager::sgRefreshBrowser);
        controller->searchBox(text);
        QCOMPARE(published.size(), 1);
        QCOMPARE(albumNames(*browser), shown);

        QTRY_VERIFY_WITH_TIMEOUT(!browser->isBuilding(), 30000);
        QCOMPARE(albumNames(*browser), shown);
        QCOMPARE(controller->mediaTypeFilter, category);
        if (newSource) {
            // The saved artists are the new source's, all of them.
            QCOMPARE(browser->savedBrowserModels.artists.models.size(), 2);
            controller->setBrowserView(1);
            controller->searchBox(QString());
            QCOMPARE(browser->browserArtistModels().keys().size(), 2);
        }
    }

private:
    // Shows `tracks` as a scan result would be shown, with every view built.
    void show(const TrackMap &shownTracks)
    {
        browser->saveBrowserModels = true;
        controller->browserTracks = shownTracks;
        controller->setTempValue();
        QTRY_VERIFY_WITH_TIMEOUT(!browser->isBuilding(), 30000);
    }

    Database db;
    std::unique_ptr<manager> controller;
    MediaBrowser *browser = nullptr;
};

CORVANE_TEST_MAIN(TestBrowserSearch)
#include "tst_browsersearch.moc"
