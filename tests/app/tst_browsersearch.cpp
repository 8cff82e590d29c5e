#include <QtTest>

#include "app/mediabrowser.h"
#include "app/trackdatamodel.h"
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
        const track *const first = &*controller->browserTracks.cbegin();
        controller->searchBox(text);
        QCOMPARE(published.size(), 1);
        QCOMPARE(albumNames(*browser), shown);
        // The tracks the build shares are not copied to be marked...
        QCOMPARE(&*controller->browserTracks.cbegin(), first);
        // The detail lines asked for meanwhile are the text's too.
        QStringList lines;
        for (QObject *line : browser->browserAlbumDetails())
            lines << line->property("albumname").toString();
        lines.sort();
        QCOMPARE(lines, shown);

        QTRY_VERIFY_WITH_TIMEOUT(!browser->isBuilding(), 30000);
        QCOMPARE(albumNames(*browser), shown);
        // ...but marked by the text once the build is taken, still uncopied.
        QCOMPARE(&*controller->browserTracks.cbegin(), first);
        for (const track &t : std::as_const(controller->browserTracks))
            QCOMPARE(t.isHidden, !t.albumName.toLower().contains(text));
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

    // The tracks view under a search shows the rows of its unfiltered build
    // with the searched tracks alone: a text typed after it, or none, shows
    // what that text alone shows, and a tick made under the search is the
    // tick of the tracks the user saw.  "first text|tick under it ('*':
    // select all)|text typed then (select all under 'song 7')|titles
    // shown|titles ticked|titles ticked once the search is emptied".
    void trackRowsUnderASearch_data()
    {
        QTest::addColumn<QString>("fields");
        const QString songs = QStringLiteral("Song 1,Song 2,Song 3,Song 4,Song 5,Song 6,Song 7,Song 8");
        const QString all = "Rain," + songs + ",Sun";
        QTest::addRow("a group shown in part shows all its tracks when emptied") << "song 7|||" + all + "||";
        QTest::addRow("a wider text shows the group's other tracks") << "song 7||song|" + songs + "||";
        QTest::addRow("no row of the earlier text is left") << "rain||su|Sun||";
        QTest::addRow("a text across two titles shows neither") << "rain||8so|||";
        QTest::addRow("a tick under the search outlasts it") << "song 7|Song 7||" + all + "|Song 7|Song 7";
        QTest::addRow("select all ticks only the tracks shown") << "song 7|*||" + all + "|Song 7|Song 7";
        QTest::addRow("select all under another text, ticks of both kept")
            << "song 2|Song 2|song 7|Song 7|Song 7|Song 2,Song 7";
    }

    void trackRowsUnderASearch()
    {
        QFETCH(QString, fields);
        const QStringList f = fields.split('|');
        QStringList scan;
        for (int song = 8; song >= 1; --song)
            scan << QStringLiteral("Blue Hour|Band|Song %1").arg(song);
        scan << "Coastline|Crew|Sun"
             << "Coastline|Crew|Rain";
        const QString songs = QStringLiteral("Song 1,Song 2,Song 3,Song 4,Song 5,Song 6,Song 7,Song 8");
        show(testkit::scannedTracks(scan));
        controller->setBrowserView(2);
        controller->searchBox(f[0]);
        if (f[1] == QLatin1String("*"))
            controller->selectDeselectForBrowser(true);
        else if (!f[1].isEmpty())
            QVERIFY(tickTrack(f[1]));
        controller->searchBox(f[2]);
        if (f[2] == QLatin1String("song 7"))
            controller->selectDeselectForBrowser(true);
        QCOMPARE(shownNames(*browser, 2).join(','), f[3]);
        QCOMPARE(tickedTitles().join(','), f[4]);
        controller->searchBox(QString());
        QCOMPARE(shownNames(*browser, 2).join(','), "Rain," + songs + ",Sun");
        QCOMPARE(tickedTitles().join(','), f[5]);
    }

private:
    // Ticks the shown track titled `title` as its box in the window does,
    // its row's box following.
    bool tickTrack(const QString &title)
    {
        for (QObject *row : browser->browserTrackModels()) {
            auto *group = qobject_cast<TrackDataModel *>(row);
            const QList<QObject *> lines = group->tracklist();
            for (QObject *line : lines) {
                if (line->property("tracktitle").toString() != title)
                    continue;
                line->setProperty("selected", true);
                group->setSelected(std::all_of(lines.cbegin(), lines.cend(), [](QObject *one) {
                    return one->property("selected").toBool();
                }));
                return true;
            }
        }
        return false;
    }

    // The titles of the tracks view taken as ticked (a ticked row takes all
    // of its tracks), sorted.
    QStringList tickedTitles() const
    {
        QStringList result;
        for (QObject *row : browser->browserTrackModels()) {
            auto *group = qobject_cast<TrackDataModel *>(row);
            for (QObject *line : group->tracklist()) {
                if (group->selected() || line->property("selected").toBool())
                    result << line->property("tracktitle").toString();
            }
        }
        result.sort();
        return result;
    }

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
