// Times the folder scan against bare TagLib reading of the same files.
//
//   bench_scan [folder] [runs] [cpus]
//
// Without a folder (or with "-") it generates 2,000 MP3 files in a temporary
// folder, as a real music collection holds them (testkit::RealisticMusic:
// 200 album folders of 10 tracks, 30 s at 128 kbit/s, each embedding its
// album's 500 x 500 JPEG cover of about 105 KB).  A folder that doesn't
// exist yet is generated and kept; a folder given is to hold album folders
// each with its cover, as the generated one.  A side that reads fewer files,
// or makes fewer album pictures, than the folder holds stops the benchmark
// with an error.
//
// Each run times, one after the other and taking turns at going first, each
// after reading all files once (warm cache): (a) walking the folder and
// opening each media file with TagLib on one thread, reading its tag and
// audio properties; (b) the floor of any scan that makes album pictures, a
// small reference reader on one thread: (a), and for the first file of each
// folder (an album) its embedded picture decoded at the JPEG decoder's
// reduced scale (libjpeg's own DCT scaling, scale_num/scale_denom, which
// Qt's JPEG reader sets for a scaled size), fitted smoothly into 110 x 110
// and written as a new PNG file with QImage, uncompressed (the least work
// Qt's PNG writer does for a picture); (b') the same floor on every thread the
// process may use, whole albums dealt out to the threads in turn (the speed
// the scan's own threads are held to); (c) track_data::searchfile
// on the folder into a fresh library (empty repository, album pictures and
// name maps), which makes every album picture; (d) the same with the album
// pictures kept, as when a folder is scanned again, to show what the
// pictures cost.  Prints the median of each side (wall and CPU time), the
// median of the runs' ratios of (c) and (d) to (a) and to (b), and the
// targets beside the ratios of (c): its speed against TagLib's, its CPU
// time against the floor's.
//
// Without `cpus` the benchmark measures twice, each in a process of its own
// (a pool's size is fixed when it is made): pinned to two cores (CPUs 0 and
// 1, both sides) and on all cores.  `cpus` ("0,1" or "all") measures once in
// this process.  User folders are isolated, so the real library is never
// touched.  They lie in the temporary folder ($TMPDIR, which chooses the
// file system the pictures are written to).  The pictures of
// earlier runs (the scan's and the floor's) are set aside until the end,
// not deleted between runs: see spentFolder().

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QSet>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <thread>
#include <vector>


#include <taglib/audioproperties.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tag.h>

#include "core/shared.h"
#include "core/track_data.h"
#include "database/database.h"
#include "realisticmusic.h"
#include "testenv.h"

namespace {

constexpr int albums = 200;
constexpr int tracksPerAlbum = 10;

QStringList mediaFiles(const QString &root)
{
    QStringList files;
    QDirIterator it(root, {QStringLiteral("*.mp3"), QStringLiteral("*.flac"), QStringLiteral("*.m4a")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    return files;
}

qint64 readAllBytes(const QStringList &files)
{
    qint64 total = 0;
    for (const QString &path : files) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            total += file.readAll().size();
    }
    return total;
}

// What any tag reader must do with one file: open it, read the tag and the
// audio properties.  True when it has both.
bool readTags(const TagLib::FileRef &ref)
{
    if (ref.isNull() || !ref.tag() || !ref.audioProperties())
        return false;
    const TagLib::Tag *tag = ref.tag();
    const QString text = TStringToQString(tag->title()) + TStringToQString(tag->artist()) +
                         TStringToQString(tag->album()) + TStringToQString(tag->genre());
    const TagLib::AudioProperties *audio = ref.audioProperties();
    return !text.isEmpty() &&
           audio->lengthInSeconds() + audio->bitrate() + audio->sampleRate() + audio->channels() > 0;
}

TagLib::FileRef openFile(const QString &path)
{
    return TagLib::FileRef(QFile::encodeName(path).constData(), true, TagLib::AudioProperties::Average);
}

// Bare TagLib: find the files and read each.
int bareTagLib(const QString &root)
{
    int read = 0;
    for (const QString &path : mediaFiles(root))
        read += readTags(openFile(path)) ? 1 : 0;
    return read;
}

// The floor: bare TagLib on every file, and one picture per album (the
// first file of each folder): its APIC frame decoded, fitted smoothly into
// 110 x 110 and saved as PNG into `pictures` (named after `prefix`), all
// with Qt's image classes.
int floorReader(const QStringList &files, const QString &pictures, const QString &prefix = QString())
{
    int read = 0;
    int made = 0;
    QSet<QString> folders;
    for (const QString &path : files) {
        const TagLib::FileRef ref = openFile(path);
        if (ref.isNull() || !ref.tag() || !ref.audioProperties())
            continue;
        read += readTags(ref) ? 1 : 0;
        const QString folder = QFileInfo(path).path();
        if (folders.contains(folder))
            continue;
        folders.insert(folder);
        auto *mpeg = dynamic_cast<TagLib::MPEG::File *>(ref.file());
        if (!mpeg || !mpeg->hasID3v2Tag())
            continue;
        const TagLib::ID3v2::FrameList frames = mpeg->ID3v2Tag()->frameList("APIC");
        const auto *frame = frames.isEmpty() ? nullptr
                                             : dynamic_cast<const TagLib::ID3v2::AttachedPictureFrame *>(frames.front());
        if (!frame)
            continue;
        // Decoded at the JPEG decoder's own reduced scale (2/8 for a 500 x 500
        // cover: 125 x 125), then fitted smoothly: what any reader that makes
        // thumbnails does.
        const TagLib::ByteVector bytes = frame->picture();
        QBuffer buffer;
        buffer.setData(bytes.data(), int(bytes.size()));
        QImageReader reader(&buffer);
        reader.setScaledSize(reader.size().scaled(110, 110, Qt::KeepAspectRatio));
        reader.setQuality(75); // the decoder's last pass smooth
        const QImage picture = reader.read();
        // No compression (zlib level 0): deflating costs more than the
        // decoding, and the scan stores its pictures uncompressed too.
        constexpr int noCompression = 100;
        if (picture.save(pictures + QStringLiteral("/%1%2.png").arg(prefix).arg(made), "PNG", noCompression))
            ++made;
    }
    return read;
}

// The floor on every thread the process may use: whole albums dealt out to
// the threads in turn, each thread the one-thread floor over its albums.
// The speed the scan's own threads are held to.
int parallelFloorReader(const QStringList &files, const QString &pictures)
{
    const int threads = qMax(1, QThread::idealThreadCount());
    std::vector<QStringList> shares(static_cast<size_t>(threads));
    QHash<QString, int> shareOfFolder;
    for (const QString &path : files) {
        const QString folder = QFileInfo(path).path();
        auto share = shareOfFolder.constFind(folder);
        if (share == shareOfFolder.cend())
            share = shareOfFolder.insert(folder, int(shareOfFolder.size() % threads));
        shares[size_t(*share)] << path;
    }
    std::atomic<int> read{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < threads; ++i)
        workers.emplace_back([&, i] { read += floorReader(shares[size_t(i)], pictures, QStringLiteral("%1-").arg(i)); });
    for (std::thread &worker : workers)
        worker.join();
    return read;
}

// Where spent picture folders go until the benchmark ends.  Deleted right
// before a run, their files would make each new picture file slower to make
// than on a user's first scan: on an ext4 file system without a journal the
// kernel passes over every recently deleted inode before it hands one out.
QString spentFolder()
{
    static QTemporaryDir spent;
    return spent.path();
}

// `folder` moved out of the way (to be deleted at the end), if it is there.
void setAside(const QString &folder)
{
    static int count = 0;
    if (QFileInfo::exists(folder) && !QDir().rename(folder, spentFolder() + QStringLiteral("/%1").arg(++count)))
        qFatal("cannot set %s aside: the next run would not start fresh", qPrintable(folder));
}

// A fresh library: empty repository and name maps, and no album pictures
// unless they are kept (a scan of a folder scanned before).
void freshLibrary(bool keepPictures)
{
    QSqlQuery query;
    for (const char *table : {"TrackRepo", "artistsRepo", "albumsRepo", "genres", "years"})
        query.exec(QStringLiteral("DELETE FROM %1").arg(QLatin1String(table)));
    if (!keepPictures)
        setAside(shared::dataLocation() + shared().artworkPath);
    track_data::album_map.clear();
    track_data::artist_map.clear();
}

double cpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + now.tv_nsec / 1e9;
}

// The targets the ratios are held to: the scan's speed against bare
// TagLib's, its CPU time against the floor's.
double speedTarget(const QString &cpus)
{
    return cpus == QLatin1String("all") ? 1.0 : 0.45;
}
constexpr double floorCpuTarget = 1.1;
// The scan's speed against the floor run on as many threads.
constexpr double parallelFloorTarget = 0.9;

// One side's times over the runs.
struct Side
{
    std::vector<double> wall, cpu;
    int count = 0;
};

// Times the sides in this process, interleaved; prints one summary.
int measure(const QString &root, int runs, const QString &cpus)
{
    Database db;
    if (!db.connect(QStringLiteral("RuvoData"), true))
        return 1;
    db.create();

    const QStringList files = mediaFiles(root);
    // A collection of album folders, each with its cover, as the generated one.
    QSet<QString> albumFolders;
    for (const QString &path : files)
        albumFolders.insert(QFileInfo(path).path());
    const int folders = int(albumFolders.size());
    // Bare TagLib; the scan into a fresh library (it makes every album
    // picture); the scan again with the pictures kept (as when the same
    // folder is scanned again), for where the time goes.
    enum { Bare, Floor, ParallelFloor, Scan, Rescan, Sides };
    Side sides[Sides];
    std::vector<double> speedRatios[Sides], cpuRatios[Sides], floorRatios[Sides], parallelFloorRatios[Sides];
    // The floor writes new picture files each run, as the scan into a fresh library does.
    const QString floorPictures = spentFolder() + QStringLiteral("/floor");
    QElapsedTimer timer;
    for (int run = 0; run < runs; ++run) {
        // The sides take turns at going first: drift in the machine's load
        // falls on all of them.
        for (int turn = 0; turn < Sides; ++turn) {
            const int side = (turn + run) % Sides;
            readAllBytes(files); // warm cache
            if (side == Rescan && sides[Scan].wall.empty()) {
                freshLibrary(false); // makes the pictures to keep
                track_data().searchfile(QDir(root));
            }
            if (side != Bare)
                freshLibrary(side == Rescan);
            if (side == Floor || side == ParallelFloor) {
                setAside(floorPictures);
                QDir().mkpath(floorPictures);
            }
            const double cpu = cpuSeconds();
            timer.start();
            if (side == Bare)
                sides[side].count = bareTagLib(root);
            else if (side == Floor)
                sides[side].count = floorReader(mediaFiles(root), floorPictures); // finds its files too
            else if (side == ParallelFloor)
                sides[side].count = parallelFloorReader(mediaFiles(root), floorPictures);
            else
                sides[side].count = int(track_data().searchfile(QDir(root)).size());
            sides[side].wall.push_back(timer.nsecsElapsed() / 1e9);
            sides[side].cpu.push_back(cpuSeconds() - cpu);
            // Each side did what it is timed for: every file read, and the
            // album pictures made where the side makes them.
            const int pictures =
                side == Floor || side == ParallelFloor ? int(QDir(floorPictures).entryList(QDir::Files).size())
                : side == Scan ? int(QDir(shared::dataLocation() + shared().artworkPath).entryList(QDir::Files).size())
                               : -1;
            if (sides[side].count != files.size() || (pictures >= 0 && pictures != folders)) {
                std::fprintf(stderr, "side %d read %d of %lld files and made %d album pictures of %d\n", side,
                             sides[side].count, static_cast<long long>(files.size()), pictures, folders);
                return 1;
            }
        }
        const Side &bare = sides[Bare];
        for (const int side : {Scan, Rescan}) {
            // Speed: files per second of the scan over those of TagLib.
            speedRatios[side].push_back((sides[side].count / sides[side].wall.back()) /
                                        (bare.count / bare.wall.back()));
            cpuRatios[side].push_back(sides[side].cpu.back() / bare.cpu.back());
            floorRatios[side].push_back(sides[side].cpu.back() / sides[Floor].cpu.back());
            parallelFloorRatios[side].push_back(sides[ParallelFloor].wall.back() / sides[side].wall.back());
        }
    }

    const auto ms = [](double seconds) { return qRound(seconds * 1000); };
    const auto line = [&](const char *name, const Side &side) {
        return QStringLiteral("  %1 %2 files in %3 ms (%4 files/s), CPU %5 ms\n")
            .arg(QLatin1String(name))
            .arg(side.count)
            .arg(ms(testkit::median(side.wall)))
            .arg(qRound(side.count / testkit::median(side.wall)))
            .arg(ms(testkit::median(side.cpu)));
    };
    const auto ratios = [&](int side) {
        return QStringLiteral("speed ratio %1, CPU ratio %2 to TagLib, %3 to the floor; speed ratio %4 to the floor "
                              "on %5 threads")
            .arg(testkit::median(speedRatios[side]), 0, 'f', 2)
            .arg(testkit::median(cpuRatios[side]), 0, 'f', 2)
            .arg(testkit::median(floorRatios[side]), 0, 'f', 2)
            .arg(testkit::median(parallelFloorRatios[side]), 0, 'f', 2)
            .arg(QThread::idealThreadCount());
    };
    QTextStream out(stdout);
    out << "cpus " << cpus << " (" << QThread::idealThreadCount() << " threads), median of " << runs
        << " runs, machine load after: " << testkit::machineLoad() << "\n"
        << line("bare TagLib, one thread:       ", sides[Bare])
        << line("floor (TagLib + album PNGs):   ", sides[Floor])
        << line("floor on every thread:         ", sides[ParallelFloor])
        << line("searchfile, fresh library:     ", sides[Scan])
        << line("searchfile, pictures there:    ", sides[Rescan]) << "  fresh library: " << ratios(Scan)
        << QStringLiteral(" (targets: speed >= %1, CPU <= %2 x the floor, speed >= %3 x the floor on every thread)\n")
               .arg(speedTarget(cpus), 0, 'f', 2)
               .arg(floorCpuTarget, 0, 'f', 1)
               .arg(parallelFloorTarget, 0, 'f', 2)
        << "  pictures there: " << ratios(Rescan) << " (no picture to make: for comparison)\n";
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    // Pinned before the application object, so that every thread (and the
    // pools' sizes) follows the CPUs given.
    const QString cpus = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    if (!cpus.isEmpty() && !testkit::pinToCpus(cpus)) {
        std::fprintf(stderr, "cannot pin to CPUs %s\n", argv[3]);
        return 2;
    }
    testkit::isolateUserFolders();
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool given = args.size() > 1 && args.at(1) != QLatin1String("-");
    const int runs = args.size() > 2 ? args.at(2).toInt() : 5;
    if (runs <= 0) {
        std::fprintf(stderr, "usage: bench_scan [folder|-] [runs] [cpus: 0,1 | all]\n");
        return 2;
    }

    QTemporaryDir generated;
    const QString root = given ? QDir(args.at(1)).absolutePath() : generated.path();
    if (!given || !QFileInfo::exists(root)) {
        QElapsedTimer timer;
        timer.start();
        if (!testkit::RealisticMusic::generate(root, albums, tracksPerAlbum))
            return 1;
        std::fprintf(stderr, "generated %d files in %lld ms\n", albums * tracksPerAlbum, timer.elapsed());
    }
    if (!cpus.isEmpty())
        return measure(root, runs, cpus);

    QTextStream out(stdout);
    out << "folder: " << root << "\n";
    out.flush();
    return testkit::runPinnedAndUnpinned({root, QString::number(runs)}) ? 0 : 1;
}
