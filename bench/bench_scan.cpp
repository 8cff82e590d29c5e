// Times the folder scan against bare TagLib reading of the same files.
//
//   bench_scan [folder] [runs] [cpus]
//
// Without a folder (or with "-") it generates 2,000 tagged MP3 files in a
// temporary folder: 100 album folders of 20 tracks, each file carrying its
// album's cover, a 500 x 500 JPEG of 50-150 KB (a test pattern under noise,
// which compresses like a photograph); a folder that doesn't exist yet is
// generated and kept.  Every run first reads all files once (warm cache),
// then times (a) walking the folder and opening each media file with TagLib
// on one thread, reading its tag and audio properties, and (b)
// track_data::searchfile on the folder into a fresh library (empty
// repository, album pictures and name maps).  Prints the median run of each
// in files per second, their ratio and the CPU time of each.
//
// Without `cpus` the benchmark measures twice, each in a process of its own:
// pinned to two cores (CPUs 0 and 1) and on all cores.  `cpus` ("0,1" or
// "all") measures once in this process.  User folders are isolated, so the
// real library is never touched.

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include <sched.h>

#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tag.h>

#include "core/shared.h"
#include "core/track_data.h"
#include "database/database.h"
#include "mediakit.h"
#include "testenv.h"

namespace {

constexpr int albums = 100;
constexpr int tracksPerAlbum = 20;

// A cover that decodes and compresses like real album art: a test pattern
// of gradients and shapes under per-pixel noise, as a 500 x 500 JPEG.
QString makeCover(const QString &path, int album)
{
    QImage image(500, 500, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 500, 500);
    gradient.setColorAt(0, QColor::fromHsv(album * 37 % 360, 200, 230));
    gradient.setColorAt(1, QColor::fromHsv(album * 91 % 360, 160, 50));
    painter.fillRect(image.rect(), gradient);
    for (int i = 0; i < 6; ++i) {
        painter.setBrush(QColor::fromHsv((album * 53 + i * 60) % 360, 150, 240));
        painter.drawEllipse(QPoint(60 + i * 75, 100 + (album * 13 + i * 41) % 300), 40 + i * 5, 30 + album % 30);
    }
    painter.end();
    QRandomGenerator random(quint32(album + 1));
    const int noise = 12 + album % 3 * 5; // spreads the sizes over the range
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const auto jitter = [&](int value) { return qBound(0, value + int(random.bounded(2 * noise + 1)) - noise, 255); };
            line[x] = qRgb(jitter(qRed(line[x])), jitter(qGreen(line[x])), jitter(qBlue(line[x])));
        }
    }
    return image.save(path, "JPEG", 85) ? path : QString();
}

bool generate(const QString &root)
{
    testkit::MediaKit kit(root + QStringLiteral("/.sources"));
    QDir().mkpath(root + QStringLiteral("/.sources"));
    qint64 coverBytes = 0;
    for (int a = 0; a < albums; ++a) {
        const QString cover = makeCover(root + QStringLiteral("/.sources/cover%1.jpg").arg(a), a);
        coverBytes += QFileInfo(cover).size();
        testkit::MediaTags tags;
        tags.title = QStringLiteral("Song");
        tags.artist = QStringLiteral("Artist %1").arg(a / 4);
        tags.album = QStringLiteral("Album %1").arg(a);
        tags.genre = QStringLiteral("Rock");
        tags.year = 1970 + a % 50;
        // 8 s at 128 kbit/s: 128 KB, past the scan's 100 KiB threshold.
        const QString first = kit.mp3(QStringLiteral("album%1.mp3").arg(a), tags, cover, 8);
        if (cover.isEmpty() || first.isEmpty()) {
            std::fprintf(stderr, "ffmpeg failed: %s\n", qPrintable(kit.lastError()));
            return false;
        }
        const QString folder = root + QStringLiteral("/Artist %1/Album %2").arg(a / 4).arg(a);
        QDir().mkpath(folder);
        for (int t = 1; t <= tracksPerAlbum; ++t) {
            const QString path = folder + QStringLiteral("/%1 Song.mp3").arg(t, 2, 10, QLatin1Char('0'));
            if (!QFile::copy(first, path))
                return false;
            TagLib::MPEG::File file(QFile::encodeName(path).constData());
            file.tag()->setTitle(QStringToTString(QStringLiteral("Song %1").arg(t)));
            file.tag()->setTrack(unsigned(t));
            if (!file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v3))
                return false;
        }
    }
    std::fprintf(stderr, "covers: %lld KB on average\n", coverBytes / albums / 1000);
    return QDir(root + QStringLiteral("/.sources")).removeRecursively();
}

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

// What any tag reader must do: find the files, open each, read the tag and
// the audio properties.
int bareTagLib(const QString &root)
{
    int read = 0;
    for (const QString &path : mediaFiles(root)) {
        const TagLib::FileRef ref(QFile::encodeName(path).constData(), true, TagLib::AudioProperties::Average);
        if (ref.isNull() || !ref.tag() || !ref.audioProperties())
            continue;
        const TagLib::Tag *tag = ref.tag();
        const QString text = TStringToQString(tag->title()) + TStringToQString(tag->artist()) +
                             TStringToQString(tag->album()) + TStringToQString(tag->genre());
        const TagLib::AudioProperties *audio = ref.audioProperties();
        if (!text.isEmpty() &&
            audio->lengthInSeconds() + audio->bitrate() + audio->sampleRate() + audio->channels() > 0)
            ++read;
    }
    return read;
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


double cpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + now.tv_nsec / 1e9;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Restricts this process, before any thread exists, to the CPUs listed.
bool pinTo(const QString &cpus)
{
    if (cpus == QLatin1String("all"))
        return true;
    cpu_set_t set;
    CPU_ZERO(&set);
    for (const QString &cpu : cpus.split(QLatin1Char(',')))
        CPU_SET(cpu.toInt(), &set);
    return sched_setaffinity(0, sizeof(set), &set) == 0;
}

// Times both sides in this process; prints one summary line.
int measure(const QString &root, int runs, const QString &cpus)
{
    Database db;
    if (!db.connect(QStringLiteral("RuvoData"), true))
        return 1;
    db.create();

    const QStringList files = mediaFiles(root);
    std::vector<double> bareTimes, scanTimes, bareCpu, scanCpu;
    int bareCount = 0;
    int scanCount = 0;
    QElapsedTimer timer;
    for (int run = 0; run < runs; ++run) {
        readAllBytes(files); // warm cache

        double cpu = cpuSeconds();
        timer.start();
        bareCount = bareTagLib(root);
        bareTimes.push_back(timer.nsecsElapsed() / 1e9);
        bareCpu.push_back(cpuSeconds() - cpu);

        freshLibrary();
        track_data scanner;
        cpu = cpuSeconds();
        timer.restart();
        scanCount = int(scanner.searchfile(QDir(root)).size());
        scanTimes.push_back(timer.nsecsElapsed() / 1e9);
        scanCpu.push_back(cpuSeconds() - cpu);
    }

    const double bare = median(bareTimes);
    const double scan = median(scanTimes);
    const double bareRate = bareCount / bare;
    const double scanRate = scanCount / scan;
    const double cpuRatio = median(scanCpu) / median(bareCpu);
    QTextStream out(stdout);
    out << "cpus " << cpus << " (" << QThread::idealThreadCount() << " threads), median of " << runs
        << " runs: bare TagLib " << bareCount << " files in " << qRound(bare * 1000) << " ms ("
        << qRound(bareRate) << " files/s, CPU " << qRound(median(bareCpu) * 1000) << " ms); searchfile "
        << scanCount << " records in " << qRound(scan * 1000) << " ms (" << qRound(scanRate) << " files/s, CPU "
        << qRound(median(scanCpu) * 1000) << " ms); speed ratio " << QString::number(scanRate / bareRate, 'f', 2)
        << ", CPU ratio " << QString::number(cpuRatio, 'f', 2) << "\n";
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    // Pinned before the application object, so that every thread (and the
    // pools' sizes) follows the CPUs given.
    const QString cpus = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    if (!cpus.isEmpty() && !pinTo(cpus)) {
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
        if (!generate(root))
            return 1;
        std::fprintf(stderr, "generated %d files in %lld ms\n", albums * tracksPerAlbum, timer.elapsed());
    }
    if (!cpus.isEmpty())
        return measure(root, runs, cpus);

    // Each setting in a process of its own: a pool's size is fixed when it is made.
    QTextStream out(stdout);
    out << "folder: " << root << ", target: speed ratio >= 0.50 on two cores, >= 0.80 on all, CPU ratio <= 3\n";
    out.flush();
    for (const QString &setting : {QStringLiteral("0,1"), QStringLiteral("all")}) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("corvane.*=false"));
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), {root, QString::number(runs), setting});
        if (!child.waitForFinished(-1) || child.exitCode() != 0)
            return 1;
    }
    return 0;
}
