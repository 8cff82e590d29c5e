// Builds the seven library views from a generated library (100,000 tracks
// unless told) and prints the time each view takes alone, their total, and
// the time and processor time of all seven built together as the program
// builds them, each the median of the rounds (at least 5).  Every view must
// have the rows the generated library gives it (one an album, artist, book
// or clip; a group of tracks, entries or episodes in rows of six, at least
// two), or the benchmark names the view and exits 1.  Run by hand:
//   build/bin/bench_views [rounds] [tracks]

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <vector>

#include <sys/resource.h>

#include "app/manager.h"
#include "testenv.h"

namespace {

// The rows each library view has, by its name, from what was generated.
using ExpectedRows = std::map<std::string, int>;

// Rows of a grouped view: six tracks a row, at least two a group.
int groupRows(const QHash<QString, int> &groupSizes)
{
    int rows = 0;
    for (const int tracks : groupSizes)
        rows += std::max((tracks + 5) / 6, 2);
    return rows;
}

// Per 20,000 records: 17,000 album tracks (2,000 albums by 500 artists),
// 1,500 playlist entries in 30 playlists, 800 podcast episodes of 20 shows,
// 500 audiobook chapters of 25 books and 200 videos.  Other sizes scale every
// count, so albums, playlists and shows keep their sizes.
TrackMap generateLibrary(int size, ExpectedRows &expected)
{
    QHash<QString, int> albumSizes, artistTracks, playlistEntries, showEpisodes, bookChapters;
    int clips = 0;
    const auto scaled = [size](int count) { return std::max(1, int(qint64(count) * size / 20000)); };
    const int albumTracks = scaled(17000);
    const int albums = scaled(2000);
    const int artists = scaled(500);
    TrackMap tracks;
    int id = 0;
    auto add = [&tracks, &id](track t) {
        t.id = ++id;
        t.filename = QStringLiteral("file%1.mp3").arg(t.id);
        t.filepath = QStringLiteral("/data/Music/%1/%2").arg(t.albumName, t.filename);
        t.duration = 120 + t.id % 400;
        t.bitrate = 128 + (t.id % 3) * 64;
        t.quality = manager::getMediaQuality(t.bitrate);
        t.year = 1960 + t.id % 60;
        t.genre = QStringLiteral("Genre %1").arg(t.id % 25);
        tracks.insert(t.id, t);
    };
    for (int i = 0; i < albumTracks; ++i) {
        track t;
        const int album = i % albums;
        t.album_id = album + 2;
        t.albumName = QStringLiteral("Album %1").arg(album);
        t.artist_id = album % artists + 2;
        t.artistName = QStringLiteral("Artist %1").arg(album % artists);
        t.trackname = QStringLiteral("Song %1").arg(i);
        t.tracknumber = i / albums + 1;
        // One album in ten has no artwork and makes the views look for a download.
        t.cover = album % 10 == 0 ? QStringLiteral("qrc:///resources/photos/no_artwork.png")
                                  : QStringLiteral("/data/Artwork/Album %1.jpg").arg(album);
        add(t);
        ++albumSizes[t.albumName];
        ++artistTracks[t.artistName];
    }
    const int playlists = scaled(30);
    const int albumIdBase = albums + 1000; // past the albums' ids
    for (int i = 0, n = scaled(1500); i < n; ++i) {
        track t = tracks.value(1 + (i * 7) % albumTracks);
        t.playlist = QStringLiteral("Playlist %1").arg(i % playlists);
        t.album_id = albumIdBase + i % playlists;
        t.playlist_id = t.album_id;
        t.cover = QStringLiteral("qrc:///resources/photos/playlist.png");
        add(t);
        ++playlistEntries[t.playlist];
    }
    const int shows = scaled(20);
    for (int i = 0, n = scaled(800); i < n; ++i) {
        track t;
        t.isPodcast = true;
        t.album_id = albumIdBase + playlists + i % shows;
        t.albumName = QStringLiteral("Show %1").arg(i % shows);
        t.artistName = QStringLiteral("Host %1").arg(i % shows);
        t.trackname = QStringLiteral("Episode %1").arg(i);
        t.tracknumber = i / shows + 1;
        t.cover = QStringLiteral("/data/Artwork/Show %1.jpg").arg(i % shows);
        add(t);
        ++showEpisodes[t.albumName];
    }
    const int books = scaled(25);
    for (int i = 0, n = scaled(500); i < n; ++i) {
        track t;
        t.isAudiobook = true;
        t.album_id = albumIdBase + playlists + shows + i % books;
        t.albumName = QStringLiteral("Book %1").arg(i % books);
        t.artistName = QStringLiteral("Author %1").arg(i % books);
        t.trackname = QStringLiteral("Chapter %1").arg(i / books + 1);
        t.tracknumber = i / books + 1;
        t.cover = QStringLiteral("/data/Artwork/Book %1.jpg").arg(i % books);
        add(t);
        ++bookChapters[t.albumName];
    }
    for (int i = 0, n = scaled(200); i < n; ++i) {
        track t;
        t.isVideo = true;
        t.albumName = QStringLiteral("Videos");
        t.artistName = QStringLiteral("Director %1").arg(i % 10);
        t.trackname = QStringLiteral("Clip %1").arg(i);
        t.cover = QStringLiteral("/data/Artwork/Video/clip%1.png").arg(i);
        add(t);
        tracks[id].filename = QStringLiteral("clip%1.mp4").arg(i);
        ++clips;
    }
    expected = {{"albums", int(albumSizes.size())},
                {"artists", int(artistTracks.size())},
                {"tracks", groupRows(albumSizes)},
                {"playlists", groupRows(playlistEntries)},
                {"podcasts", groupRows(showEpisodes)},
                {"audiobooks", int(bookChapters.size())},
                {"videos", clips}};
    return tracks;
}

// Processor time of the whole process so far (user and system, all threads).
double processorMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

} // namespace

int main(int argc, char *argv[])
{
    testkit::isolateUserFolders();
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(5, QString::fromLocal8Bit(argv[1]).toInt()) : 5;
    const int size = argc > 2 ? std::max(100, QString::fromLocal8Bit(argv[2]).toInt()) : 100000;

    ExpectedRows expected;
    const TrackMap library = generateLibrary(size, expected);
    // Stops the benchmark when a view lacks rows it should have or has others.
    const auto check = [&expected](const char *view, const manager::ViewResult &result, const char *how) {
        const int rows = int(result.models.size());
        if (rows == expected.at(view))
            return;
        std::fprintf(stderr, "%s: the %s view has %d rows, %d expected\n", how, view, rows, expected.at(view));
        std::exit(1);
    };
    const manager::ViewInput input;
    using Builder = std::function<manager::ViewResult()>;
    const std::vector<std::pair<const char *, Builder>> views = {
        {"albums", [&] { return manager::Get_Albumlist(true, library, input); }},
        {"artists", [&] { return manager::Get_Artistlist(true, library, input); }},
        {"tracks", [&] { return manager::Get_Tracklist(true, library, input); }},
        {"playlists", [&] { return manager::Get_Playlist(library, input); }},
        {"podcasts", [&] { return manager::Get_Podcastlist(library, input); }},
        {"audiobooks", [&] { return manager::Get_Audiobooklist(library, input); }},
        {"videos", [&] { return manager::Get_Videolist(library, input); }},
    };

    QTextStream out(stdout);
    out << "library: " << library.size() << " tracks; median of " << rounds << " rounds; machine load "
        << testkit::machineLoad() << "\n";
    double total = 0;
    for (const auto &view : views) {
        std::vector<double> times;
        int rows = 0;
        for (int round = 0; round < rounds; ++round) {
            QElapsedTimer timer;
            timer.start();
            const manager::ViewResult result = view.second();
            times.push_back(timer.nsecsElapsed() / 1e6);
            rows = int(result.models.size());
            check(view.first, result, "alone");
        }
        std::sort(times.begin(), times.end());
        const double median = times[times.size() / 2];
        total += median;
        out << qSetFieldWidth(12) << Qt::left << view.first << qSetFieldWidth(0) << qSetRealNumberPrecision(1)
            << Qt::fixed << median << " ms  (" << rows << " rows)\n";
    }
    out << qSetFieldWidth(12) << Qt::left << "total" << qSetFieldWidth(0) << total << " ms\n";

    // What the program runs: all seven built together, median of the rounds.
    // The processor time (all threads) tells a busy machine from slow code.
    std::vector<double> wholeTimes, processorTimes;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer whole;
        const double processorBefore = processorMs();
        whole.start();
        const manager::LibraryViews all = manager::buildLibraryViews(library, input);
        wholeTimes.push_back(whole.nsecsElapsed() / 1e6);
        const std::pair<const char *, const manager::ViewResult *> built[] = {
            {"albums", &all.albumModels},       {"artists", &all.artistModels},   {"tracks", &all.trackRowModels},
            {"playlists", &all.playlistModels}, {"podcasts", &all.podcastModels}, {"audiobooks", &all.audiobookModels},
            {"videos", &all.videoModels}};
        for (const auto &[name, result] : built)
            check(name, *result, "buildLibraryViews");
        processorTimes.push_back(processorMs() - processorBefore);
    }
    std::sort(wholeTimes.begin(), wholeTimes.end());
    std::sort(processorTimes.begin(), processorTimes.end());
    out << qSetFieldWidth(12) << Qt::left << "all at once" << qSetFieldWidth(0) << wholeTimes[wholeTimes.size() / 2]
        << " ms (buildLibraryViews; target <= 250 ms at 100,000 tracks), processor time "
        << processorTimes[processorTimes.size() / 2] << " ms\n";
    return 0;
}
