// Times the lookup job's steps in the GUI thread.
//
//   bench_lookup [runs]
//
// (a) The hand-over: ApiManager::searchfromApi over 5,000, 20,000 and 50,000
// made-up tracks, ten to a folder, the folders' tracks interleaved in id
// order as an add of many albums gives them; the job is paused, so only the
// grouping is timed.  (b) The local completion of 200 tracks of one flat
// folder of 5,000 staged rows, with the real completion and nothing written
// back: the whole run, each track's share of it, and the longest time the
// GUI thread was away from its event loop meanwhile (the gap between two
// turns of a zero-interval timer).  (c) The same over the 50,000 tracks of
// (a), from the hand-over to the end mark.  (d) 1,000 tracks in 100
// folders with their results written back to the library (once).  Prints
// the median of each figure over the runs (5 unless given; at most 3 for
// (c)).  Each part checks its work was done: every track ended (a)...(c),
// completed from its folder's staged rows (b), and stored with what it was
// completed with (d); otherwise it names what is missing and exits 1.  User
// folders are isolated, so the real library is never touched.

#include <QApplication>
#include <QElapsedTimer>
#include <QSet>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "database/database.h"
#include "libraryfixture.h"
#include "lookup/apimanager.h"
#include "testenv.h"

namespace {

TrackMap madeUpTracks(int count, const QString &prefix, int perFolder)
{
    const int folders = std::max(1, count / perFolder);
    TrackMap map;
    for (int id = 1; id <= count; ++id) {
        track &t = map[id];
        t.id = id;
        t.folderLocation = prefix + QString::number(id % folders);
        t.filename = QStringLiteral("Song %1.mp3").arg(id);
        t.filepath = t.sourcePath = t.folderLocation + QLatin1Char('/') + t.filename;
        t.trackname = QStringLiteral("Song %1").arg(id);
        t.albumName = QStringLiteral("Unknown Album");
        t.artistName = QStringLiteral("Unknown Artist");
        t.hasTitle = true;
        t.isMissingData = true;
    }
    return map;
}

// Stops the benchmark when its work was not done.
void require(bool done, const QString &what)
{
    if (done)
        return;
    std::fflush(stdout);
    std::fprintf(stderr, "bench_lookup: %s\n", qPrintable(what));
    std::exit(1);
}

// Runs the job to its end mark; the longest gap between two turns of the
// event loop meanwhile, in ms.  `finished`, when given, receives the tracks
// the job sent back before its end mark.
double runToEnd(ApiManager *job, const TrackMap &tracks, double &wallMs, QList<track> *finished = nullptr)
{
    bool ended = false;
    QObject context;
    QObject::connect(job, &ApiManager::updateTrackToManager, &context, [&ended, finished](const track &t) {
        if (t.id == ApiManager::endMarkId)
            ended = true;
        else if (finished)
            finished->append(t);
    });
    QElapsedTimer sinceTick;
    double longest = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, &context, [&] {
        longest = std::max(longest, double(sinceTick.nsecsElapsed()) / 1e6);
        sinceTick.restart();
    });
    ticker.start(0);
    QElapsedTimer wall;
    wall.start();
    sinceTick.start();
    job->searchfromApi(tracks);
    while (!ended)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    wallMs = double(wall.nsecsElapsed()) / 1e6;
    return std::max(longest, double(sinceTick.nsecsElapsed()) / 1e6);
}

} // namespace

int main(int argc, char *argv[])
{
    testkit::isolateUserFolders();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = std::max(1, app.arguments().value(1, QStringLiteral("5")).toInt());
    QTextStream out(stdout);
    out << "load " << testkit::machineLoad() << ", " << runs << " runs\n";
    ApiManager *job = ApiManager::getinstance();

    // (a) The hand-over, paused.
    for (const int count : {5000, 20000, 50000}) {
        const TrackMap tracks = madeUpTracks(count, QStringLiteral("/music/Album "), 10);
        std::vector<double> times;
        for (int run = 0; run < runs; ++run) {
            job->setDoUpdate(false);
            QElapsedTimer timer;
            timer.start();
            job->searchfromApi(tracks);
            times.push_back(double(timer.nsecsElapsed()) / 1e6);
            // Dropped again: stopped, the paused job ends at once.
            bool ended = false;
            QObject context;
            QObject::connect(job, &ApiManager::updateTrackToManager, &context,
                             [&ended](const track &t) { ended = ended || t.id == ApiManager::endMarkId; });
            job->stopOptimisation();
            while (!ended)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            job->setDoUpdate(true);
        }
        out << QStringLiteral("hand-over of %1 tracks in %2 folders: median %3 ms\n")
                   .arg(count)
                   .arg(count / 10)
                   .arg(testkit::median(times), 0, 'f', 1);
        out.flush();
    }

    // (b) The completion of a flat folder of 5,000 staged rows.
    Database db;
    if (!testkit::openLibrary())
        return 1;
    constexpr int rows = 5000;
    const QString folder = QStringLiteral("/music/Flat");
    QList<testkit::StagedRow> staged;
    for (int i = 1; i <= rows; ++i)
        staged.append({QStringLiteral("Known %1").arg(i), QStringLiteral("Album %1").arg(i % 50),
                       QStringLiteral("Artist %1").arg(i % 20), 192, 200 + i % 100, i % 20});
    if (!testkit::exec(QStringLiteral("BEGIN")) || !testkit::stage(folder, staged) ||
        !testkit::exec(QStringLiteral("COMMIT")))
        return 1;
    constexpr int lookedUp = 200;
    TrackMap flat = madeUpTracks(lookedUp, folder, lookedUp);
    for (track &t : flat)
        t.folderLocation = folder;

    ApiManager::Steps steps = ApiManager::defaultSteps();
    steps.storeResult = nullptr; // nothing written back: the completion alone
    steps.writeTags = nullptr;
    job->setSteps(steps);
    std::vector<double> walls, longest;
    for (int run = 0; run < runs; ++run) {
        double wall = 0;
        QList<track> finished;
        longest.push_back(runToEnd(job, flat, wall, &finished));
        walls.push_back(wall);
        // The folder's staged rows name one genre, year and bit rate: each
        // track takes the first of their albums.
        const auto completed = std::count_if(finished.cbegin(), finished.cend(), [](const track &t) {
            return t.hasAlbum && t.albumName.startsWith(QLatin1String("Album "));
        });
        require(finished.size() == lookedUp && completed == lookedUp,
                QStringLiteral("completion: %1 of %2 tracks came back, %3 completed from the staged rows")
                    .arg(finished.size())
                    .arg(lookedUp)
                    .arg(completed));
    }
    const double wall = testkit::median(walls);
    out << QStringLiteral("completion of %1 tracks of one folder of %2 staged rows: median %3 ms, %4 ms a track; "
                          "longest GUI step %5 ms\n")
               .arg(lookedUp)
               .arg(rows)
               .arg(wall, 0, 'f', 0)
               .arg(wall / lookedUp, 0, 'f', 2)
               .arg(testkit::median(longest), 0, 'f', 1);
    out.flush();

    const TrackMap many = madeUpTracks(50000, QStringLiteral("/music/Album "), 10);
    walls.clear();
    longest.clear();
    for (int run = 0; run < std::min(runs, 3); ++run) {
        double manyWall = 0;
        QList<track> finished;
        longest.push_back(runToEnd(job, many, manyWall, &finished));
        walls.push_back(manyWall);
        require(finished.size() == many.size(),
                QStringLiteral("whole lookup: %1 of %2 tracks came back").arg(finished.size()).arg(many.size()));
    }
    out << QStringLiteral("whole lookup of 50000 tracks in 5000 folders (none staged): median %1 ms; "
                          "longest GUI step %2 ms\n")
               .arg(testkit::median(walls), 0, 'f', 0)
               .arg(testkit::median(longest), 0, 'f', 1);
    out.flush();

    // (d) With the results written back to the library.
    steps.storeResult = ApiManager::defaultSteps().storeResult;
    job->setSteps(steps);
    const TrackMap stored = madeUpTracks(1000, QStringLiteral("/music/Stored "), 10);
    // Each folder's staged rows name one album and artist, which its tracks take.
    QSet<QString> storedFolders;
    for (const track &t : stored)
        storedFolders.insert(t.folderLocation);
    require(testkit::exec(QStringLiteral("BEGIN")), QStringLiteral("could not stage the stored folders"));
    for (const QString &storedFolder : std::as_const(storedFolders)) {
        const QString album = QStringLiteral("Stored Album ") + storedFolder.section(QLatin1Char(' '), -1);
        require(testkit::stage(storedFolder, {{QStringLiteral("Known A"), album, QStringLiteral("Stored Artist")},
                                              {QStringLiteral("Known B"), album, QStringLiteral("Stored Artist")}}),
                QStringLiteral("could not stage %1").arg(storedFolder));
    }
    require(testkit::exec(QStringLiteral("COMMIT")), QStringLiteral("could not stage the stored folders"));
    double storedWall = 0;
    QList<track> storedFinished;
    const double storedLongest = runToEnd(job, stored, storedWall, &storedFinished);
    // Stored: a row of each track's title and folder, with its folder's album and artist.
    const int storedRows =
        testkit::scalar(QStringLiteral("SELECT COUNT(*) FROM TrackRepo t JOIN albumsRepo al ON al.id = t.album_id "
                                       "JOIN artistsRepo ar ON ar.id = t.artist_id "
                                       "WHERE t.trackname LIKE 'Song %' AND t.folderLocation LIKE '/music/Stored %' "
                                       "AND al.name = 'Stored Album ' || substr(t.folderLocation, 15) "
                                       "AND ar.name = 'Stored Artist'"))
            .toInt();
    require(storedFinished.size() == stored.size() && storedRows == stored.size(),
            QStringLiteral("stored lookup: %1 of %2 tracks came back, %3 stored with their folder's album and artist")
                .arg(storedFinished.size())
                .arg(stored.size())
                .arg(storedRows));
    out << QStringLiteral("lookup of 1000 tracks in 100 folders, results stored: %1 ms; longest GUI step %2 ms\n")
               .arg(storedWall, 0, 'f', 0)
               .arg(storedLongest, 0, 'f', 1);
    return 0;
}
