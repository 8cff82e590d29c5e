// Times the media browser on 20,000 scanned tracks: one search keystroke
// (searchBox to the published rows) in each view, a category change (to the
// rows published and the loading state hidden, and on until the other two
// views are built), a keystroke typed 10 ms after a category change (to
// its rows on screen), a cache hit of the "itunes" source (to the published
// rows, and to all views); then the keystrokes (also after a category
// change) again on 100,000 tracks (the same targets as on 20,000: at most
// 50 ms); then a "mymusic" request on a 2,000-file Music folder (until its
// rows are published) against the bare folder scan of the same tree, the
// two interleaved.  Prints the median of each (at least five rounds) beside
// its target, and the machine's load.  Run by hand:
//   bench_mediabrowser [music-folder|-|none] [rounds]
// Without a folder it generates 2,000 tagged MP3 files (100 albums of 20)
// in the temporary home's Music folder; a given folder is linked there;
// "none" skips the folder part.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSqlQuery>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tag.h>

#include "app/mediabrowser.h"
#include "core/shared.h"
#include "database/database.h"
#include "mediakit.h"
#include "testenv.h"

namespace {

// Per 20,000 (scale 1): 17,000 album tracks (2,000 albums by 500 artists),
// 1,500 playlist entries, 1,300 podcast episodes and audiobook chapters and
// 200 videos.
TrackMap browserTracks(int scale)
{
    static const QStringList words{"Blue", "Night", "Drive", "Coast",  "Summer",
                                   "Rain", "Echo",  "Gold",  "Straße", "Ночь"};
    TrackMap tracks;
    int id = 0;
    auto add = [&tracks, &id](track t) {
        t.id = ++id;
        t.filename = QStringLiteral("file%1.mp3").arg(t.id);
        t.filepath = QStringLiteral("/media/Music/%1/%2").arg(t.albumName, t.filename);
        t.duration = 120 + t.id % 400;
        t.bitrate = 128 + (t.id % 3) * 64;
        t.year = 1960 + t.id % 60;
        t.genre = QStringLiteral("Genre %1").arg(t.id % 25);
        t.cover = QStringLiteral("/media/Artwork/%1.png").arg(t.albumName);
        tracks.insert(t.id, t);
    };
    // A scan walks folder by folder: an album's tracks follow each other.
    const int albumTracks = 17000 * scale;
    for (int i = 0; i < albumTracks; ++i) {
        track t;
        const int album = int(qint64(i) * 2000 / 17000);
        t.album_id = album + 2;
        t.albumName = QStringLiteral("%1 %2 %3").arg(words.at(album % 10), words.at(album / 10 % 10)).arg(album);
        t.artist_id = album % (500 * scale) + 2;
        t.artistName = QStringLiteral("%1 Band %2").arg(words.at(album % 7)).arg(album % (500 * scale));
        t.trackname = QStringLiteral("%1 Song %2").arg(words.at(i % 10)).arg(i);
        t.tracknumber = i % 9 + 1;
        add(t);
    }
    const int idBase = 3000 * scale; // past the albums' ids
    for (int i = 0; i < 1500 * scale; ++i) {
        track t = tracks.value(1 + (i * 7) % albumTracks);
        t.playlist = QStringLiteral("Playlist %1").arg(i % (30 * scale));
        t.album_id = t.playlist_id = idBase + i % (30 * scale);
        t.albumName = t.playlist;
        add(t);
    }
    for (int i = 0; i < 1300 * scale; ++i) {
        track t;
        t.isPodcast = i < 800 * scale;
        t.isAudiobook = i >= 800 * scale;
        t.album_id = idBase + 1000 * scale + i % (45 * scale);
        t.albumName = QStringLiteral("Show %1").arg(i % (45 * scale));
        t.artistName = QStringLiteral("Host %1").arg(i % (45 * scale));
        t.trackname = QStringLiteral("Episode %1").arg(i);
        add(t);
    }
    for (int i = 0; i < 200 * scale; ++i) {
        track t;
        t.isVideo = true;
        t.albumName = QStringLiteral("Videos");
        t.trackname = QStringLiteral("Clip %1").arg(i);
        add(t);
    }
    return tracks;
}

// Stops the benchmark when its work was not done.
void require(bool done, const QString &what)
{
    if (done)
        return;
    std::fflush(stdout);
    std::fprintf(stderr, "bench_mediabrowser: %s\n", qPrintable(what));
    std::exit(1);
}

// The rows of the browser's view `view` (0 albums, 1 artists, 2 tracks).
int viewRows(MediaBrowser &browser, int view)
{
    return int(view == 0   ? browser.browserAlbumModels().size()
               : view == 1 ? browser.browserArtistModels().size()
                           : browser.browserTrackModels().size());
}

double timeMs(const std::function<void()> &work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

// Runs until `signal` of the controller comes.
template <typename Signal> void waitFor(manager &controller, Signal signal)
{
    QEventLoop loop;
    QObject::connect(&controller, signal, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs until the browser has taken every view of its build (the view on
// screen is published before the other two are built).
void waitForViews(MediaBrowser &browser)
{
    while (browser.isBuilding())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// Typing into the search box and deleting it, in each view in turn: the
// median and the slowest keystroke of each view (with its text), and the
// longest turn of the event loop after a keystroke (rows dropped by it are
// freed there), as the program's loop runs between two keystrokes.
void keystrokes(manager &controller, MediaBrowser &browser, int rounds, int target, QTextStream &out)
{
    const QStringList texts{"b", "bl", "blu", "blue", "blue n", "", "ночь", "str"};
    for (int view = 0; view < 3; ++view) {
        controller.setBrowserView(view);
        controller.searchBox(QString());
        QCoreApplication::processEvents();
        const int all = viewRows(browser, view);
        std::vector<double> times;
        double afterwards = 0;
        QString slowest;
        for (int r = 0; r < rounds; ++r) {
            for (const QString &text : texts) {
                times.push_back(timeMs([&] { controller.searchBox(text); }));
                if (times.back() >= *std::max_element(times.begin(), times.end()))
                    slowest = text;
                afterwards = std::max(afterwards, timeMs([] { QCoreApplication::processEvents(); }));
            }
        }
        // The keystrokes filtered the view: "blue" leaves some of its rows, none leaves all.
        controller.searchBox(QStringLiteral("blue"));
        const int filtered = viewRows(browser, view);
        controller.searchBox(QString());
        require(all > 0 && filtered > 0 && filtered < all && viewRows(browser, view) == all,
                QStringLiteral("view %1: %2 rows, %3 after \"blue\", %4 after emptying the search")
                    .arg(view)
                    .arg(all)
                    .arg(filtered)
                    .arg(viewRows(browser, view)));
        out << "search keystroke, view " << view << ":     " << testkit::median(times) << " ms, slowest "
            << *std::max_element(times.begin(), times.end()) << " ms (\"" << slowest << "\"; target <= " << target
            << "); longest step after one " << afterwards << " ms\n";
    }
    controller.searchBox(QString());
}

// A keystroke typed 10 ms after a category change, while the other views
// are still being built: from the keystroke until the album rows on screen
// are the text's (as many as the text gives once all is built).
void keystrokeAfterCategoryChange(manager &controller, MediaBrowser &browser, int rounds, int target,
                                  QTextStream &out)
{
    const QList<std::pair<int, QString>> changes{{1, QStringLiteral("list 1")}, {0, QStringLiteral("blue")}};
    controller.setBrowserView(0);
    QList<int> expected;
    for (const auto &[category, text] : changes) {
        controller.filterForCheckboxes(category);
        waitForViews(browser);
        controller.searchBox(text);
        waitForViews(browser);
        expected << int(browser.browserAlbumModels().size());
        require(expected.last() > 0, QStringLiteral("\"%1\" shows no album").arg(text));
        controller.searchBox(QString());
        waitForViews(browser);
    }
    std::vector<double> times;
    for (int r = 0; r < rounds; ++r) {
        for (int c = 0; c < changes.size(); ++c) {
            controller.filterForCheckboxes(changes.at(c).first);
            QEventLoop pause;
            QTimer::singleShot(10, &pause, &QEventLoop::quit);
            pause.exec();
            bool shown = false;
            const QMetaObject::Connection published = QObject::connect(&controller, &manager::sgRefreshBrowser, [&] {
                shown = shown || browser.browserAlbumModels().size() == expected.at(c);
            });
            QElapsedTimer timer;
            timer.start();
            controller.searchBox(changes.at(c).second);
            while (!shown)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            times.push_back(double(timer.nsecsElapsed()) / 1e6);
            QObject::disconnect(published);
            waitForViews(browser);
            controller.searchBox(QString());
            waitForViews(browser);
        }
    }
    out << "keystroke 10 ms after a category change: " << testkit::median(times) << " ms to the rows on screen, slowest "
        << *std::max_element(times.begin(), times.end()) << " ms (target <= " << target << ")\n";
}

bool generate(const QString &root)
{
    testkit::MediaKit kit(root + QStringLiteral("/.sources"));
    for (int a = 0; a < 100; ++a) {
        const QString cover =
            kit.picture(QStringLiteral("cover%1.jpg").arg(a), 300, 300,
                        QStringLiteral("0x%1").arg((a * 2654435761u) & 0xFFFFFF, 6, 16, QLatin1Char('0')));
        testkit::MediaTags tags;
        tags.artist = QStringLiteral("Artist %1").arg(a / 4);
        tags.album = QStringLiteral("Album %1").arg(a);
        tags.title = QStringLiteral("Song");
        const QString first = kit.mp3(QStringLiteral("album%1.mp3").arg(a), tags, cover, 8);
        if (first.isEmpty())
            return false;
        const QString folder = root + QStringLiteral("/Artist %1/Album %2").arg(a / 4).arg(a);
        QDir().mkpath(folder);
        for (int t = 1; t <= 20; ++t) {
            const QString path = folder + QStringLiteral("/%1 Song.mp3").arg(t, 2, 10, QLatin1Char('0'));
            if (!QFile::copy(first, path))
                return false;
            TagLib::MPEG::File file(QFile::encodeName(path).constData());
            file.tag()->setTitle(QStringToTString(QStringLiteral("Song %1").arg(t)));
            file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v3);
        }
    }
    return QDir(root + QStringLiteral("/.sources")).removeRecursively();
}

// A fresh library: empty repository, no album pictures, no name maps.
void freshLibrary()
{
    QSqlQuery query;
    for (const char *table : {"TrackRepo", "artistsRepo", "albumsRepo", "genres", "years"})
        query.exec(QStringLiteral("DELETE FROM %1").arg(QLatin1String(table)));
    QDir(shared::dataLocation() + shared().artworkPath).removeRecursively();
    track_data::album_map.clear();
    track_data::artist_map.clear();
}

} // namespace

int main(int argc, char *argv[])
{
    testkit::isolateUserFolders();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int rounds = args.size() > 2 ? std::max(5, args.at(2).toInt()) : 5;
    QTextStream out(stdout);

    Database db;
    if (!db.connect(QStringLiteral("RuvoData"), true))
        return 1;
    db.create();
    manager controller(nullptr, nullptr);
    MediaBrowser &browser = *controller.mediaBrowser;

    out << "machine load: " << testkit::machineLoad() << "\n";
    // ---- 20,000 browser tracks ----
    const TrackMap tracks = browserTracks(1);
    browser.itunesBrowserCache = tracks;
    std::vector<double> cacheHits, cacheHitViews;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer timer;
        timer.start();
        browser.searchInMediaSourceCache(QStringLiteral("itunes"));
        waitFor(controller, &manager::sgRefreshBrowser);
        cacheHits.push_back(double(timer.nsecsElapsed()) / 1e6);
        waitForViews(browser);
        cacheHitViews.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    out << "browser tracks: " << tracks.size() << "; median of " << rounds << " rounds\n"
        << "cache hit (\"itunes\"):        " << testkit::median(cacheHits)
        << " ms to the rows on screen (target <= 100), " << testkit::median(cacheHitViews)
        << " ms to all three views\n";
    require(
        controller.browserTracks.size() == tracks.size(),
        QStringLiteral("the browser holds %1 tracks of %2").arg(controller.browserTracks.size()).arg(tracks.size()));
    keystrokes(controller, browser, rounds, 30, out);
    controller.setBrowserView(0);
    std::vector<double> categories, categoryViews;
    for (int r = 0; r < rounds; ++r) {
        for (int category : {1, 0}) {
            QElapsedTimer timer;
            timer.start();
            controller.filterForCheckboxes(category);
            waitFor(controller, &manager::sgHideLoading);
            categories.push_back(double(timer.nsecsElapsed()) / 1e6);
            waitForViews(browser);
            categoryViews.push_back(double(timer.nsecsElapsed()) / 1e6);
        }
    }
    out << "category change:             " << testkit::median(categories)
        << " ms to the rows on screen (target <= 100), " << testkit::median(categoryViews)
        << " ms to all three views\n";
    keystrokeAfterCategoryChange(controller, browser, rounds, 50, out);

    // ---- 100,000 browser tracks ----
    // Held by the cache alone, as a scan's result is.
    browser.itunesBrowserCache = browserTracks(5);
    const qsizetype many = browser.itunesBrowserCache.size();
    browser.searchInMediaSourceCache(QStringLiteral("itunes"));
    waitFor(controller, &manager::sgRefreshBrowser);
    waitForViews(browser);
    out << "browser tracks: " << controller.browserTracks.size() << "\n";
    require(controller.browserTracks.size() == many,
            QStringLiteral("the browser holds %1 tracks of %2").arg(controller.browserTracks.size()).arg(many));
    keystrokes(controller, browser, rounds, 50, out);
    keystrokeAfterCategoryChange(controller, browser, rounds, 50, out);
    out << "machine load: " << testkit::machineLoad() << "\n";
    out.flush();

    // ---- a 2,000-file Music folder ----
    if (args.size() > 1 && args.at(1) == QLatin1String("none"))
        return 0;
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    const bool given = args.size() > 1 && args.at(1) != QLatin1String("-");
    if (given) {
        QFile::link(QDir(args.at(1)).absolutePath(), music);
    } else {
        QElapsedTimer timer;
        timer.start();
        require(generate(music), QStringLiteral("could not generate the Music folder"));
        std::fprintf(stderr, "generated 2,000 files in %lld ms\n", timer.elapsed());
    }
    std::vector<double> bare, requested;
    int bareCount = 0;
    for (int r = 0; r < rounds + 1; ++r) {
        freshLibrary();
        track_data scanner;
        const double b = timeMs([&] { bareCount = int(scanner.searchfile(QDir(music)).size()); });
        freshLibrary();
        browser.MyMusicDirSize = -1; // the folder "changed": scan
        const double m = timeMs([&] {
            controller.searchInMediaSourceCache(QStringLiteral("mymusic"));
            waitFor(controller, &manager::sgHideLoading);
        });
        waitForViews(browser);
        if (r == 0)
            continue; // the first round warms the file cache
        bare.push_back(b);
        requested.push_back(m);
    }
    require(bareCount == 2000 || given, QStringLiteral("the bare scan read %1 files of 2000").arg(bareCount));
    require(controller.browserTracks.size() == bareCount, QStringLiteral("\"mymusic\" gave %1 tracks, the bare scan %2")
                                                              .arg(controller.browserTracks.size())
                                                              .arg(bareCount));
    out << "bare folder scan:            " << testkit::median(bare) << " ms, " << bareCount << " records\n"
        << "\"mymusic\" to published rows: " << testkit::median(requested) << " ms, " << controller.browserTracks.size()
        << " tracks; ratio " << testkit::median(requested) / testkit::median(bare) << " (target < 1.3)\n";
    return 0;
}
