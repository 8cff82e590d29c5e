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

// The names the browser's view shows: albums (0), artists (1) or the titles
// of the track rows (2).
QStringList shownNames(MediaBrowser &browser, int view)
{
    QStringList result;
    if (view == 0 || view == 1) {
        for (QObject *row : view == 0 ? browser.browserAlbumModels() : browser.browserArtistModels())
            result << row->property(view == 0 ? "albumname" : "artistname").toString();
    } else {
        for (QObject *row : browser.browserTrackModels()) {
            for (QObject *line : row->property("tracklist").value<QList<QObject *>>())
                result << line->property("tracktitle").toString();
        }
    }
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

    // Typing in each view, also while a category change rebuilds the views
    // (the text is applied again to the built rows): the view shows what
    // the last text alone shows, with the tracks of other categories and
    // the rows of earlier texts left out.
    void typingInEachView_data()
    {
        QTest::addColumn<int>("view");
        QTest::addColumn<bool>("duringBuild");
        QTest::addColumn<QStringList>("typed");
        QTest::addColumn<QStringList>("shown");
        QTest::addRow("albums narrowed") << 0 << false << QStringList{"o", "ou", "our"} << QStringList{"Blue Hour"};
        QTest::addRow("artists widened") << 1 << false << QStringList{"crew", "cr", ""} << QStringList{"Band", "Crew"};
        QTest::addRow("titles narrowed to the same tracks") << 2 << false << QStringList{"s", "so", "son", "song"}
                                                            << QStringList{"Song 1", "Song 2", "Song 3", "Song 4"};
        QTest::addRow("titles after another text") << 2 << false << QStringList{"3", "", "4"} << QStringList{"Song 4"};
        QTest::addRow("albums typed during a build")
            << 0 << true << QStringList{"co", "coa"} << QStringList{"Coastline"};
        QTest::addRow("artists typed during a build") << 1 << true << QStringList{"cr"} << QStringList{"Crew"};
        QTest::addRow("titles typed during a build, same tracks")
            << 2 << true << QStringList{"g 2", "g 2"} << QStringList{"Song 2"};
    }

    void typingInEachView()
    {
        QFETCH(int, view);
        QFETCH(bool, duringBuild);
        QFETCH(QStringList, typed);
        QFETCH(QStringList, shown);
        show(testkit::scannedTracks(tracks));
        controller->setBrowserView(view);
        if (duringBuild) {
            controller->filterForCheckboxes(0);
            QVERIFY(browser->isBuilding());
        }
        for (const QString &text : typed)
            controller->searchBox(text);
        QTRY_VERIFY_WITH_TIMEOUT(!browser->isBuilding(), 30000);
        QCOMPARE(shownNames(*browser, view), shown);
        // The same text again changes nothing.
        controller->searchBox(typed.last());
        QCOMPARE(shownNames(*browser, view), shown);
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
