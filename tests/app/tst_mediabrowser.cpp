#include <QtTest>

#include <QSemaphore>

#include <sys/stat.h>

#include "app/albumdatamodel.h"
#include "app/artistdatamodel.h"
#include "app/detaileddatamodel.h"
#include "app/mediabrowser.h"
#include "app/trackdatamodel.h"
#include "app/tracklist.h"
#include "core/track_data.h"
#include "database/database.h"
#include "ituneslibraryxml.h"
#include "libraryfixture.h"
#include "mediakit.h"
#include "scanfixture.h"
#include "testenv.h"

using testkit::ItunesLibraryXml;

// The media browser on a controller without a window: sources and caches on
// kit media, filters and ticks on made-up scan results.

namespace {

QStringList names(const QList<QObject *> &rows, const char *property)
{
    QStringList result;
    for (QObject *row : rows)
        result << row->property(property).toString();
    result.sort();
    return result;
}

} // namespace

class TestMediaBrowser : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(db.connect(QStringLiteral("RuvoData"), true));
        db.create();
        kit = testkit::testHome() + QStringLiteral("/kit");
        testkit::MediaKit make(kit);
        // 8 s at 128 kbit/s: past the scans' 100 KiB threshold.
        const QString cover = make.picture(QStringLiteral("cover.jpg"), 64, 64);
        testkit::MediaTags tags{"Song", "Band", "Blue Hour", "", "", 0, 0};
        QVERIFY2(!make.mp3(QStringLiteral("a.mp3"), tags, cover, 8).isEmpty(), qPrintable(make.lastError()));
        tags.album = QStringLiteral("Coastline");
        QVERIFY(!make.mp3(QStringLiteral("b.mp3"), tags, QString(), 8).isEmpty());
        QVERIFY(!make.m4a(QStringLiteral("c.m4a"), tags, QString(), 10).isEmpty());
        music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    }

    void init()
    {
        QDir(music).removeRecursively();
        QVERIFY(QDir().mkpath(music));
        for (const char *name : {"/a.mp3", "/b.mp3"})
            QVERIFY(QFile::copy(kit + QLatin1String(name), music + QLatin1String(name)));
        controller = std::make_unique<manager>(nullptr, nullptr);
        browser = controller->mediaBrowser.get();
    }

    void cleanup() { controller.reset(); }

    void secondRequestScansOrServesTheCache_data()
    {
        // "source, what happens between the two requests, scans again, tracks shown after the second"
        QTest::addColumn<QString>("run");
        QTest::addRow("itunes, library unchanged") << "itunes - 0 2";
        QTest::addRow("itunes, library touched") << "itunes touch 1 2";
        QTest::addRow("mymusic, folder unchanged") << "mymusic - 0 2";
        QTest::addRow("mymusic, searched meanwhile: the cache holds the scan") << "mymusic search 0 2";
        QTest::addRow("mymusic, file added") << "mymusic add 1 3";
        QTest::addRow("mymusic, last scan cancelled") << "mymusic cancel 1 2";
        QTest::addRow("browse, dialog cancelled") << "browse dialog 0 0";
    }

    void secondRequestScansOrServesTheCache()
    {
        QFETCH(QString, run);
        const QStringList f = run.split(' ');
        const QString source = f[0], change = f[1];
        const QString library = MediaBrowser::itunesLibraryPath();
        ItunesLibraryXml xml;
        for (const char *name : {"a.mp3", "b.mp3"})
            xml.addTrack(name[0] - 'a' + 1,
                         {ItunesLibraryXml::string("Name", name),
                          ItunesLibraryXml::string("Location", xml.localhostUrl(music + '/' + name))});
        xml.addPlaylist(QStringLiteral("Music"), {1, 2});
        QVERIFY(QDir().mkpath(QFileInfo(library).absolutePath()));
        QVERIFY(xml.write(library));
        browser->chooseFolder = [this] { return music; };

        // The first request scans (a first iTunes request too) and reports the
        // files it reads.
        QSignalSpy progress(controller.get(), &manager::sgShowSearchProgress);
        QSignalSpy files(controller.get(), &manager::updateProgressSearch);
        request(source);
        QCOMPARE(progress.size(), 1);
        QVERIFY(std::any_of(files.cbegin(), files.cend(), [this](const QList<QVariant> &report) {
            return report.at(1).value<QVariant>().toInt() >= 1 &&
                   report.at(2).value<QVariant>().toString().startsWith(music);
        }));

        QFile file(library);
        const QDateTime later = QFileInfo(library).lastModified().addSecs(5);
        if (change == QLatin1String("touch"))
            QVERIFY(file.open(QIODevice::ReadWrite) && file.setFileTime(later, QFileDevice::FileModificationTime));
        else if (change == QLatin1String("add"))
            QVERIFY(QFile::copy(kit + QStringLiteral("/c.m4a"), music + QStringLiteral("/c.m4a")));
        else if (change == QLatin1String("cancel"))
            controller->slCancelSearch(); // a cancel leaves the flag set until the next scan
        else if (change == QLatin1String("dialog"))
            browser->chooseFolder = [] { return QString(); };
        else if (change == QLatin1String("search"))
            controller->searchBox(QStringLiteral("zzz"));
        progress.clear();
        request(source);
        QCOMPARE(progress.size(), f[2].toInt());
        QCOMPARE(int(controller->browserTracks.size()), f[3].toInt());
        QCOMPARE(int(browser->browserAlbumDetails().size()), f[3].toInt());
    }

    void requestDuringAScanIsDroppedAndCancelKeepsWhatWasFound()
    {
        QVERIFY(QFile::copy(kit + QStringLiteral("/c.m4a"), music + QStringLiteral("/c.m4a")));
        // The scan waits after its first file until the test lets it go on.
        QSemaphore reached, resume;
        controller->scanner.fileReadHook = [&](int, const QString &) {
            reached.release();
            resume.acquire();
        };
        QSignalSpy published(controller.get(), &manager::sgRefreshBrowser);
        controller->searchInMediaSourceCache(QStringLiteral("mymusic"));
        QVERIFY(reached.tryAcquire(1, 30000));

        // Another source meanwhile changes nothing and scans nothing.
        controller->searchInMediaSourceCache(QStringLiteral("myvideos"));
        controller->searchInMediaSourceCache(QStringLiteral("itunes"));
        QCOMPARE(browser->mediasource, QStringLiteral("mymusic"));
        QCOMPARE(browser->MyMusicDirSize, 0);

        // Cancelled after one file: that file is shown and cached.
        controller->slCancelSearch();
        resume.release(10);
        QTRY_VERIFY_WITH_TIMEOUT(published.size() == 1, 30000);
        QCOMPARE(controller->browserTracks.size(), 1);
        QCOMPARE(browser->myMusicBrowserCache.size(), 1);
        QCOMPARE(browser->browserAlbumModels().size(), 1);
        QCOMPARE(browser->MyMusicDirSize, MediaBrowser::CalulateDirSize(music));
    }

    void protectedFilesRaiseTheDialogOnlyWithoutAFilter()
    {
        // An MP4 whose audio is marked encrypted, named by a playlist.
        const QString folder = testkit::testHome() + QStringLiteral("/locked");
        QFile source(kit + QStringLiteral("/c.m4a"));
        QVERIFY(source.open(QIODevice::ReadOnly));
        QByteArray bytes = source.readAll();
        bytes.replace(int(bytes.indexOf("mp4a", bytes.indexOf("stsd"))), 4, "drms");
        QVERIFY(testkit::touch(folder + QStringLiteral("/locked.mp4"), bytes));
        QVERIFY(testkit::touch(folder + QStringLiteral("/list.m3u"), QFile::encodeName(folder + "/locked.mp4")));
        browser->chooseFolder = [folder] { return folder; };

        QSignalSpy dialog(controller.get(), &manager::sgShowProtectedMediaDialog);
        request(QStringLiteral("browse"));
        QCOMPARE(browser->protectedTracks, QStringList{folder + QStringLiteral("/locked.mp4")});
        QCOMPARE(dialog.size(), 1);
        // A category change is a filter: the same list, no dialog.
        filter(2);
        QCOMPARE(browser->protectedTracks.size(), 1);
        QCOMPARE(dialog.size(), 1);
        QVERIFY(!controller->filterActive);
    }

    // A build whose rows arrive after a newer one began is never shown.
    void staleBuildNotPublished()
    {
        QStringList shown;
        connect(controller.get(), &manager::sgRefreshBrowser, this,
                [&] { shown << names(browser->browserAlbumModels().values(), "albumname").join(','); });
        browser->mediasource = QStringLiteral("browse");
        controller->browserTracks = testkit::scannedTracks({"Old|Band|Song 1"});
        controller->setTempValue();
        QVERIFY(browser->waitForBuild(30000)); // done, its rows not taken yet
        controller->browserTracks = testkit::scannedTracks({"New|Band|Song 2"});
        controller->setTempValue();
        QTRY_VERIFY(!browser->isBuilding());
        QVERIFY(!shown.isEmpty() && !shown.contains("Old"));
    }

    // Search marks and the rows saved from the scan across category changes.
    void categoriesAndSavedModels()
    {
        useTracks(testkit::scannedTracks({"Album 1|Band|Song 1", "Album 0|Crew|Song 2", "Album 1|Band|Song 3", "Album 0|Host|Song 4|p",
                           "Album 1|Band|Song 5|v", "Album 0|Band|Song 6|v"}));
        QCOMPARE(browser->browserTrackDetails().size(), 3);
        const auto saved = browser->savedBrowserModels;
        controller->setBrowserView(1);
        controller->searchBox(QStringLiteral("crew"));
        QCOMPARE(browser->browserArtistModels().size(), 1);
        // Among music, playlists, podcasts and audiobooks the marks stay, and so do the saved rows.
        filter(2);
        QVERIFY(controller->browserTracks.value(4).isHidden);
        QCOMPARE(browser->browserTrackDetails().size(), 0);
        controller->searchBox(QString());
        // The artists of the category now chosen, none hidden.
        QCOMPARE(names(browser->browserArtistModels().values(), "artistname"), QStringList{"Host"});
        QVERIFY(!controller->browserTracks.value(1).isHidden);
        // An emptied search in the albums view rebuilds it in the current category instead.
        controller->setBrowserView(0);
        controller->searchBox(QString());
        QCOMPARE(names(browser->browserAlbumModels().values(), "albumname"), QStringList{"Album 0"});

        // Videos: every mark lifted, album rows only, and only they are saved.
        controller->searchBox(QStringLiteral("zzz"));
        filter(4);
        QVERIFY(!controller->browserTracks.value(4).isHidden);
        QCOMPARE(names(browser->browserAlbumModels().values(), "albumname"), (QStringList{"Song 5.mp4", "Song 6.mp4"}));
        QVERIFY(browser->browserArtistModels().isEmpty() && browser->browserTrackDetails().isEmpty());
        QCOMPARE(browser->savedBrowserModels.artists.owner, saved.artists.owner);
        QCOMPARE(browser->savedBrowserModels.albums.models, browser->browserAlbumModels());
    }

    // "view|category|text|the album, artist or track names shown[|view:text searched before]":
    // views 0 albums, 1 artists, 2 tracks; "*" before the search: it was typed
    // over the same tracks with their titles swapped, shown before these.
    void search_data()
    {
        QTest::addColumn<QString>("fields");
        QTest::addRow("albums, start of name, other letter case") << "0|0|BLUE h|Blue Hour";
        QTest::addRow("albums, end of name") << "0|0|line|Coastline";
        QTest::addRow("artists, middle of name") << "1|0|och|Hochwald Ночь";
        QTest::addRow("artists, other Cyrillic letter") << "1|0|ш|";
        QTest::addRow("tracks, Cyrillic letter case") << "2|0|ЖАР|жара";
        QTest::addRow("videos by file name") << "0|4|clip|clip.mp4";
        QTest::addRow("artists, after an albums text it extends") << "1|0|ba|Band|0:b";
        QTest::addRow("tracks, after a text it does not extend") << "2|0|жар|жара|2:rain";
        QTest::addRow("tracks, after other titles under the same ids") << "2|0|rain|Rain|*2:r";
    }

    void search()
    {
        QFETCH(QString, fields);
        const QStringList f = fields.split('|');
        const int view = f[0].toInt();
        const TrackMap tracks = testkit::scannedTracks({"Blue Hour|Hochwald Ночь|жара", "Coastline|Band|Rain", "Videos||clip|v"});
        QString before = f.value(4);
        const auto searchBefore = [&] {
            controller->setBrowserView(before.section(':', 0, 0).toInt());
            controller->searchBox(before.section(':', 1));
        };
        if (before.startsWith('*')) {
            TrackMap swapped = tracks;
            std::swap(swapped[1].trackname, swapped[2].trackname);
            useTracks(swapped);
            before.remove(0, 1);
            searchBefore();
            before.clear();
        }
        useTracks(tracks);
        if (f[1] != QLatin1String("0"))
            filter(f[1].toInt());
        if (!before.isEmpty())
            searchBefore();
        controller->setBrowserView(view);
        QSignalSpy published(controller.get(), &manager::sgRefreshBrowser);
        controller->searchBox(f[2]);
        QCOMPARE(published.size(), 1);
        QVERIFY(controller->filterActive);
        const QList<QObject *> rows = view == 0   ? browser->browserAlbumModels().values()
                                      : view == 1 ? browser->browserArtistModels().values()
                                                  : browser->browserTrackDetails();
        const char *const property[] = {"albumname", "artistname", "tracktitle"};
        QCOMPARE(names(rows, property[view]), f[3].split(',', Qt::SkipEmptyParts));
    }

    // Select all in the library's tabs and in the browser's views, and a
    // browser track group's box: each ticks its own rows (and a group's lines) only.
    void selectAll()
    {
        QStringList scan;
        for (int id = 1; id <= 8; ++id)
            scan << QStringLiteral("Album %1|Artist|Song %2").arg(id / 5).arg(id);
        useTracks(testkit::scannedTracks(scan));
        controller->libraryTracks = controller->browserTracks; // library rows of the same tracks
        QSignalSpy rebuilt(controller.get(), &manager::sgHideLoading);
        controller->refreshViews();
        QTRY_VERIFY(rebuilt.size() == 1);
        const auto ticked = [](const QList<QObject *> &rows, bool all) {
            for (QObject *row : rows) {
                QCOMPARE(row->property("selected").toBool(), all);
                if (auto *group = qobject_cast<TrackDataModel *>(row)) {
                    for (QObject *line : group->tracklist())
                        QCOMPARE(line->property("selected").toBool(), all);
                }
            }
        };
        const manager::LibraryViews &library = controller->libraryViews;
        for (int view : {0, 2}) {
            controller->checkedAlbumIds = controller->checkedTrackIds = {1};
            controller->setLibraryView(view);
            controller->selectDeselectForLibrary(true);
            ticked((view == 0 ? library.albumModels : library.trackRowModels).models.values(), true);
            QVERIFY((view == 0 ? controller->checkedAlbumIds : controller->checkedTrackIds).isEmpty());
        }
        ticked(library.artistModels.models.values(), false);

        controller->setDisplayType(2); // neither thumbnails nor list: nothing to tick or publish
        QSignalSpy published(controller.get(), &manager::sgRefreshBrowser);
        controller->selectDeselectForBrowser(true);
        QVERIFY(published.isEmpty());
        ticked(browser->browserAlbumModels().values() + browser->browserAlbumDetails(), false);
        controller->setDisplayType(0);
        controller->selectDeselectForBrowser(true);
        ticked(browser->browserAlbumModels().values(), true);
        ticked(browser->browserAlbumDetails(), false);
        controller->setBrowserView(2);
        controller->setDisplayType(1);
        controller->selectDeselectForBrowser(true);
        ticked(browser->browserTrackDetails(), true);
        ticked(browser->browserTrackModels().values(), false);
        const QString key = browser->browserTrackModels().firstKey();
        controller->slSelectDeselectInTracksView(key, 99, true);
        ticked({browser->browserTrackModels().value(key)}, true);
        ticked(browser->browserTrackModels().values().mid(2), false); // the other album's rows
    }

    // Playlists chosen, a folder browsed, then Music: a search typed and
    // deleted again shows Music's rows of the view, with the ticks made
    // before the search and under it.  "view|display|ticked before|ticked
    // under the search|shown at the end|ticked at the end" (track titles for
    // track rows and detail lines).
    void clearedSearchKeepsCategoryAndTicks_data()
    {
        QTest::addColumn<QString>("fields");
        QTest::addRow("albums") << "0|0|Moon|Sunrise|Moon,Sunrise|Moon,Sunrise";
        QTest::addRow("artists") << "1|0|Band|Sunburst|Band,Solo,Sunburst|Band,Sunburst";
        QTest::addRow("tracks") << "2|0|Rain|Sunny Day|Dust,Night,Rain,Sunny Day|Rain,Sunny Day";
        QTest::addRow("album list") << "0|1|Dust|Rain|Dust,Night,Rain,Sunny Day|Dust,Rain";
        QTest::addRow("artist list") << "1|1|Rain|Night|Dust,Night,Rain,Sunny Day|Night,Rain";
        QTest::addRow("track list") << "2|1|Dust|Sunny Day|Dust,Night,Rain,Sunny Day|Dust,Sunny Day";
        // "-": unticked under the search, so nothing is ticked any more.
        QTest::addRow("artists, the tick undone under the search") << "1|0|Sunburst|-Sunburst|Band,Solo,Sunburst|";
        QTest::addRow("tracks, the tick undone under the search")
            << "2|0|Sunny Day|-Sunny Day|Dust,Night,Rain,Sunny Day|";
        QTest::addRow("saved artist rows, the tick undone under the search")
            << "1s|0|Sunburst|-Sunburst|Band,Solo,Sunburst|";
        QTest::addRow("saved track rows, the tick undone under the search")
            << "2s|0|Sunny Day|-Sunny Day|Dust,Night,Rain,Sunny Day|";
        QTest::addRow("saved artist list, the tick undone under the search")
            << "1s|1|Night|-Night|Dust,Night,Rain,Sunny Day|";
    }

    void clearedSearchKeepsCategoryAndTicks()
    {
        QFETCH(QString, fields);
        const QStringList f = fields.split('|');
        const int view = f[0].left(1).toInt();
        const int display = f[1].toInt();
        TrackMap tracks = testkit::scannedTracks({"Sunrise|Band|Sunny Day", "Sunrise|Band|Rain", "Moon|Sunburst|Night",
                                                  "Moon|Solo|Dust", "Trip|Crew|Sun Song", "Trip|Crew|Other"});
        const QStringList albums{"Sunrise", "Moon", "Trip"}, artists{"Band", "Sunburst", "Solo", "Crew"};
        for (track &t : tracks) {
            t.album_id = int(albums.indexOf(t.albumName)) + 2;
            t.artist_id = int(artists.indexOf(t.artistName)) + 2;
            if (t.albumName == QLatin1String("Trip"))
                t.playlist = QStringLiteral("Road");
        }
        // "s": the rows the location's build saved for its category stay on
        // screen, and a cleared search shows them again.
        const bool savedRows = f[0].endsWith(QLatin1Char('s'));
        if (!savedRows)
            filter(1);
        useTracks(tracks);
        if (!savedRows)
            filter(0);
        controller->setBrowserView(view);
        controller->setDisplayType(display);
        if (!savedRows)
            filter(0); // a view chosen with no search text is built anew

        QVERIFY(tick(f[2]));
        for (const char *text : {"s", "su", "sun"})
            controller->searchBox(QString::fromLatin1(text));
        QVERIFY(tick(f[3]));
        for (const char *text : {"su", "s", ""})
            controller->searchBox(QString::fromLatin1(text));
        QCOMPARE(shownNames(false).join(','), f[4]);
        QCOMPARE(shownNames(true).join(','), f[5]);
    }

    // A new location's rows start unticked: the last location's ticks, kept
    // by id through its search, land on none of them, even when a search is
    // typed before the new rows are shown.  "view|display|ticked in the
    // first location".
    void newLocationStartsUnticked_data()
    {
        QTest::addColumn<QString>("fields");
        QTest::addRow("albums") << "0|0|Sunrise";
        QTest::addRow("artists") << "1|0|Band";
        QTest::addRow("tracks") << "2|0|Rain";
        QTest::addRow("track list") << "2|1|Rain";
    }

    void newLocationStartsUnticked()
    {
        QFETCH(QString, fields);
        const QStringList f = fields.split('|');
        // Albums and artists numbered in order of appearance, from 2 in each location.
        const auto numbered = [](TrackMap tracks) {
            QStringList albums, artists;
            for (track &t : tracks) {
                if (!albums.contains(t.albumName))
                    albums << t.albumName;
                if (!artists.contains(t.artistName))
                    artists << t.artistName;
                t.album_id = int(albums.indexOf(t.albumName)) + 2;
                t.artist_id = int(artists.indexOf(t.artistName)) + 2;
            }
            return tracks;
        };
        useTracks(numbered(testkit::scannedTracks(
            {"Sunrise|Band|Sunny Day", "Sunrise|Band|Rain", "Moon|Sunburst|Night", "Moon|Solo|Dust"})));
        controller->setBrowserView(f[0].toInt());
        controller->setDisplayType(f[1].toInt());
        QVERIFY(tick(f[2]));
        controller->searchBox(QStringLiteral("s"));
        controller->searchBox(QString());

        // Another location with the same ids; a search typed at once.
        browser->mediasource = QStringLiteral("browse");
        controller->browserTracks = numbered(
            testkit::scannedTracks({"Sunset|Ska|Sand", "Sunset|Ska|Surf", "Mars|Soul|Sky", "Mars|Salsa|Salt"}));
        controller->setTempValue();
        controller->searchBox(QStringLiteral("s"));
        QTRY_VERIFY(!browser->isBuilding());
        QCOMPARE(shownNames(true), QStringList());
        controller->searchBox(QString());
        QVERIFY(!shownNames(false).isEmpty());
        QCOMPARE(shownNames(true), QStringList());
    }

    // A search in the thumbnails leaves the list's lines to be made when the
    // list is shown: they are the search's, with their ticks, even after a
    // search in another view has marked the tracks anew.
    void listAfterThumbnailSearch_data()
    {
        QTest::addColumn<QString>("fields");
        QTest::addRow("albums") << "0|Rain|s|Rain,Sunny Day|Rain";
        QTest::addRow("artists") << "1|Dust|s|Dust,Night|Dust";
        QTest::addRow("tracks") << "2|Dust|s|Dust,Sunny Day|Dust";
    }

    void listAfterThumbnailSearch()
    {
        QFETCH(QString, fields);
        const QStringList f = fields.split('|');
        const int view = f[0].toInt();
        useTracks(testkit::scannedTracks(
            {"Sunrise|Band|Sunny Day", "Sunrise|Band|Rain", "Moon|Sunburst|Night", "Moon|Solo|Dust"}));
        controller->setBrowserView(view);
        controller->setDisplayType(1);
        QVERIFY(tick(f[1]));
        controller->setDisplayType(0);
        controller->searchBox(f[2]);
        controller->setBrowserView((view + 1) % 3);
        controller->searchBox(QStringLiteral("zzz"));
        controller->setBrowserView(view);
        controller->setDisplayType(1);
        QCOMPARE(shownNames(false).join(','), f[3]);
        QCOMPARE(shownNames(true).join(','), f[4]);
    }

    void dirSize()
    {
        // Hidden files and subfolders count; a link to a folder or a file, a pipe, a file given as the
        // folder and a missing folder do not.  A folder given through a link is measured.
        QVERIFY(testkit::touch(music + "/.hidden", "1234567890") && testkit::touch(music + "/sub/deeper/f", "1234567"));
        QVERIFY(QFile::link(music + QStringLiteral("/sub"), music + QStringLiteral("/link")));
        QVERIFY(QFile::link(music + QStringLiteral("/a.mp3"), music + QStringLiteral("/sub/file-link.mp3")));
        QVERIFY(::mkfifo(QFile::encodeName(music + QStringLiteral("/sub/pipe")).constData(), 0600) == 0);
        const qint64 songs = QFileInfo(music + QStringLiteral("/a.mp3")).size() + QFileInfo(music + "/b.mp3").size();
        QCOMPARE(controller->CalulateDirSize(music), songs + 17);
        QCOMPARE(controller->CalulateDirSize(music + "/a.mp3") + controller->CalulateDirSize(music + "/missing"), 0);
        QCOMPARE(controller->CalulateDirSize(music + QStringLiteral("/link")), 7);
    }

private:
    // The rows or detail lines of the view and display shown.
    QList<QObject *> shownRows() const
    {
        const int view = controller->browserView;
        if (controller->displayType == 1)
            return view == 0   ? browser->browserAlbumDetails()
                   : view == 1 ? browser->browserArtistDetails()
                               : browser->browserTrackDetails();
        return view == 0   ? browser->browserAlbumModels().values()
               : view == 1 ? browser->browserArtistModels().values()
                           : browser->browserTrackModels().values();
    }

    // The rows or lines of the view and display shown: each album, artist or
    // track title (of a track group's lines), sorted; `ticked`: only those ticked.
    QStringList shownNames(bool ticked) const
    {
        const int view = controller->browserView;
        const bool list = controller->displayType == 1;
        const QList<QObject *> rows = shownRows();
        QStringList result;
        for (QObject *row : rows) {
            if (auto *group = qobject_cast<TrackDataModel *>(row)) {
                for (QObject *line : group->tracklist()) {
                    if (!ticked || group->selected() || line->property("selected").toBool())
                        result << line->property("tracktitle").toString();
                }
                continue;
            }
            if (ticked && !row->property("selected").toBool())
                continue;
            const char *name = list ? "tracktitle" : view == 0 ? "albumname" : "artistname";
            result << row->property(name).toString();
        }
        result.sort();
        return result;
    }

    // Ticks the shown row or line named `name` ("-name": unticks it), as its
    // box in the window does.
    bool tick(QString name)
    {
        const bool on = !name.startsWith(QLatin1Char('-'));
        if (!on)
            name.remove(0, 1);
        const bool list = controller->displayType == 1;
        const int view = controller->browserView;
        const QList<QObject *> rows = shownRows();
        for (QObject *row : rows) {
            QList<QObject *> candidates{row};
            if (auto *group = qobject_cast<TrackDataModel *>(row))
                candidates = group->tracklist();
            for (QObject *candidate : candidates) {
                const char *property = list || candidate != row ? "tracktitle" : view == 0 ? "albumname" : "artistname";
                if (candidate->property(property).toString() != name)
                    continue;
                candidate->setProperty("selected", on);
                // A track group's row says whether all of its tracks are ticked.
                if (candidate != row)
                    row->setProperty("selected", std::all_of(candidates.cbegin(), candidates.cend(), [](QObject *line) {
                                         return line->property("selected").toBool();
                                     }));
                return true;
            }
        }
        return false;
    }

    // Asks for a source and waits until its rows are published and all its views built.
    void request(const QString &source)
    {
        QSignalSpy published(controller.get(), &manager::sgRefreshBrowser);
        controller->searchInMediaSourceCache(source);
        QTRY_VERIFY_WITH_TIMEOUT(published.size() >= 1 && !browser->isBuilding(), 30000);
    }

    // Changes the category and waits for the whole rebuild.
    void filter(int category)
    {
        QSignalSpy hidden(controller.get(), &manager::sgHideLoading);
        controller->filterForCheckboxes(category);
        QTRY_VERIFY(hidden.size() == 1 && !browser->isBuilding());
    }

    // Shows `tracks` as a scan result would be shown.
    void useTracks(const TrackMap &tracks)
    {
        browser->mediasource = QStringLiteral("browse");
        browser->saveBrowserModels = true;
        controller->browserTracks = tracks;
        QSignalSpy published(controller.get(), &manager::sgRefreshBrowser);
        controller->setTempValue();
        QTRY_VERIFY(published.size() == 1 && !browser->isBuilding());
    }

    Database db;
    QString kit;   // generated media
    QString music; // the home's Music folder
    std::unique_ptr<manager> controller;
    MediaBrowser *browser = nullptr;
};

CORVANE_TEST_MAIN(TestMediaBrowser)
#include "tst_mediabrowser.moc"
