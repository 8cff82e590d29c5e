// Times the application's start with a large library: the whole process,
// from its launch to the window's first frame, and its peak memory by then.
//
//   bench_startup [--cold] [--itunes N] [tracks] [runs] [picture KB]
//   bench_startup --generate DIR [tracks] [runs] [picture KB]
//
// Generates a library of `tracks` tracks (default 20,000) in temporary user
// folders: albums of 20 tracks by artists of five albums, every album with
// its own picture in the artwork folder and in the database (a 300 x 300
// PNG whose noise band is sized for `picture KB`; the default 15 gives about
// 17 KB), every track an existing (empty) file, and a chosen vehicle, so the
// first frame shows the library as a returning user sees it.  Each run
// starts the real application offscreen in a fresh process and reports when
// the first frame is on screen and the peak resident memory then, and when
// the check of the library's files that follows it has published its views,
// with the longest time the event loop did not run in between (the library's
// rows put on screen: the window does not answer meanwhile).
// Each run is paired with a start on an empty library (the reference: what
// the program costs without a library), the two interleaved; one start of
// each before the runs fills the QML disk cache and is not counted.  Prints
// each run and the medians.  --cold drops the kernel's caches before every
// start (needs root): the library, the program and Qt are read from disk.
// --itunes N adds a third start to each run: the empty library with an
// iTunes library of N tracks in the user's Music folder (as iTunes writes
// it, about 520 bytes a track, an artwork cache file for every album), set
// against the empty library without one.  --generate only makes the library in DIR and
// keeps it, for a profiler (one start: `HOME=DIR XDG_DATA_HOME=DIR/.local/share
// ... bench_startup --start`).

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QQuickItem>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <sys/resource.h>
#include <time.h>

#include "app/manager.h"
#include "app/qmlapplicationviewer.h"
#include "app/startup.h"
#include "core/shared.h"
#include "database/database.h"
#include "delivery/combo.h"
#include "ituneslibraryxml.h"
#include "testenv.h"

#include <unistd.h>

namespace {

constexpr int tracksPerAlbum = 20;

// A picture that compresses like album art rather than a flat colour: a
// gradient, a few shapes and a band of noise.
QByteArray albumPicture(int album, int kilobytes)
{
    QImage image(300, 300, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 300, 300);
    gradient.setColorAt(0, QColor::fromHsv(album * 37 % 360, 200, 220));
    gradient.setColorAt(1, QColor::fromHsv(album * 91 % 360, 180, 60));
    painter.fillRect(image.rect(), gradient);
    painter.setBrush(QColor::fromHsv(album * 53 % 360, 120, 250));
    painter.drawEllipse(QPoint(150, 130), 60 + album % 40, 60);
    painter.end();
    QRandomGenerator random(quint32(album + 1));
    // The noise band is what doesn't compress: its height sets the size.
    const int band = qBound(1, (kilobytes * 1000 - 2500) / 900, 290);
    for (int y = 0; y < band; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < 300; ++x)
            line[x] = random.generate() | 0xff000000u;
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

bool exec(QSqlQuery &query, const QString &sql, const QVariantList &values = {})
{
    query.prepare(sql);
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (query.exec())
        return true;
    std::fprintf(stderr, "failed: %s\n", qPrintable(sql));
    return false;
}

bool generate(int tracks, int pictureKilobytes)
{
    Database db;
    if (!db.connect(QStringLiteral("RuvoData"), true))
        return false;
    db.create();
    const shared sha;
    const QString artwork = shared::dataLocation() + sha.artworkPath;
    const QString music = QDir::homePath() + QStringLiteral("/Music");
    QDir().mkpath(artwork);

    QSqlDatabase connection = QSqlDatabase::database();
    connection.transaction();
    QSqlQuery query(connection);
    if (!exec(query, QStringLiteral("INSERT INTO genres(genre) VALUES ('Rock')")) ||
        !exec(query, QStringLiteral("INSERT INTO years(year) VALUES (2001)")))
        return false;
    qint64 pictureBytes = 0;
    const int albums = (tracks + tracksPerAlbum - 1) / tracksPerAlbum;
    for (int a = 0; a < albums; ++a) {
        const QString album = QStringLiteral("Album %1").arg(a);
        const QString artist = QStringLiteral("Artist %1").arg(a / 5);
        if (a % 5 == 0 &&
            !exec(query, QStringLiteral("INSERT INTO artists(id,name) VALUES (?,?)"), {a / 5 + 1, artist}))
            return false;
        const QByteArray picture = albumPicture(a, pictureKilobytes);
        pictureBytes += picture.size();
        const QString cover = artwork + QLatin1Char('/') + sha.formatSplChar(album) + QStringLiteral(".png");
        QFile file(cover);
        if (!file.open(QIODevice::WriteOnly) || file.write(picture) != picture.size())
            return false;
        if (!exec(query,
                  QStringLiteral("INSERT INTO albums(id,name,artist_id,cover,coverdata,year) VALUES (?,?,?,?,?,2001)"),
                  {a + 1, album, a / 5 + 1, cover, QString::fromLatin1(picture.toBase64())}))
            return false;
        const QString folder = music + QLatin1Char('/') + artist + QLatin1Char('/') + album;
        QDir().mkpath(folder);
        for (int t = 0; t < tracksPerAlbum && a * tracksPerAlbum + t < tracks; ++t) {
            const QString name = QStringLiteral("%1 Song.mp3").arg(t + 1, 2, 10, QLatin1Char('0'));
            const QString path = folder + QLatin1Char('/') + name;
            QFile track(path);
            if (!track.open(QIODevice::WriteOnly))
                return false;
            if (!exec(query,
                      QStringLiteral("INSERT INTO tracks(filename,trackname,filepath,codec,filesize,frequency,bitrate,"
                                     "source,tracknumber,duration,artist_id,album_id,genre_id,isPodcast,year_id,"
                                     "isAudiobook,ReleaseDate,playlist,isVideo,VideoImage) "
                                     "VALUES (?,?,?,'',4200000,44100,256,0,?,215,?,?,1,0,1,0,'','',0,'')"),
                      {name, QStringLiteral("Song %1").arg(a * tracksPerAlbum + t), path, t + 1, a / 5 + 1, a + 1}))
                return false;
        }
    }
    query.finish();
    connection.commit();
    // A returning user: a vehicle is chosen, so the library is what the
    // first frame shows.
    Combo chooser;
    const QString model = chooser.fillModelCombo().value(1);
    testkit::saveVehicle(1, model, 1, chooser.fillYearCombo(model).value(1));
    std::printf("library: %d tracks, %d albums, pictures %lld KB on average\n", tracks, albums,
                pictureBytes / albums / 1000);
    return true;
}

// An iTunes library of `tracks` tracks below `home`'s Music folder, as
// iTunes writes one, and an artwork cache file for each of its albums.
bool writeItunesLibrary(const QString &home, int tracks)
{
    using Xml = testkit::ItunesLibraryXml;
    const QString itunes = home + QStringLiteral("/Music/iTunes");
    Xml xml;
    for (int t = 1; t <= tracks; ++t) {
        const int album = (t - 1) / 12;
        const QString id = QStringLiteral("%1").arg(0x5A00000000000000LL + t, 16, 16, QLatin1Char('0')).toUpper();
        const QString artist = QStringLiteral("Artist %1").arg(album / 4);
        xml.addTrack(t, {Xml::string(QStringLiteral("Name"), QStringLiteral("Song %1").arg(t)),
                         Xml::string(QStringLiteral("Artist"), artist),
                         Xml::string(QStringLiteral("Album"), QStringLiteral("Album %1").arg(album)),
                         Xml::string(QStringLiteral("Genre"), QStringLiteral("Rock")),
                         Xml::integer(QStringLiteral("Total Time"), 215000),
                         Xml::integer(QStringLiteral("Year"), 1990 + album % 30),
                         Xml::string(QStringLiteral("Persistent ID"), id),
                         Xml::string(QStringLiteral("Location"),
                                     Xml::localhostUrl(QStringLiteral("/Music/%1/Album %2/%3 Song.mp3")
                                                           .arg(artist)
                                                           .arg(album)
                                                           .arg((t - 1) % 12 + 1, 2, 10, QLatin1Char('0'))))});
        if ((t - 1) % 12 == 0) {
            QFile cache(itunes + QStringLiteral("/Album Artwork/Cache/3A/%1/%2-%3.itc2")
                                     .arg(album % 16, 2, 10, QLatin1Char('0'))
                                     .arg(QStringLiteral("3A0B1C2D3E4F5061"), id));
            if (!QDir().mkpath(QFileInfo(cache).absolutePath()) || !cache.open(QIODevice::WriteOnly) ||
                cache.write(QByteArray(1024, 'i')) != 1024)
                return false;
        }
    }
    xml.addPlaylist(QStringLiteral("Library"), {1});
    if (!xml.write(itunes + QStringLiteral("/iTunes Music Library.xml")))
        return false;
    std::printf("iTunes library: %d tracks, %lld MB\n", tracks,
                QFileInfo(itunes + QStringLiteral("/iTunes Music Library.xml")).size() / 1000000);
    return true;
}

// Everything the kernel caches of files goes: the next start reads from disk.
bool dropCaches()
{
    ::sync();
    QFile control(QStringLiteral("/proc/sys/vm/drop_caches"));
    return control.open(QIODevice::WriteOnly) && control.write("3\n") == 2;
}

qint64 peakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The machine's monotonic clock, the same in every process: a start is timed
// from before the parent launches the process to the child's first frame.
qint64 monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// One start of the application.  Prints "frame <monotonic ns> <peak KiB>"
// when the first frame is on screen, then "settled <monotonic ns> <peak
// KiB> <longest pause ms> <library tracks>" once the library check that
// follows it has published its views.
int startOnce(int argc, char *argv[])
{
    QApplication app(argc, argv);
    StartUp startUp;
    startUp.start(); // the window is shown, and drawn once the event loop runs
    manager *controller = startUp.controller();
    bool framed = false;
    bool settled = false;
    // The longest time between two turns of the event loop from the first
    // frame on: a timer due every millisecond notes each turn.
    QElapsedTimer sinceFrame;
    qint64 lastTurn = 0;
    qint64 longestPause = 0;
    QTimer turns;
    turns.setTimerType(Qt::PreciseTimer);
    turns.setInterval(1);
    const auto report = [&](const char *what, const QByteArray &more = QByteArray()) {
        std::printf("%s %lld %lld%s\n", what, monotonicNs(), peakKiB(), more.constData());
        std::fflush(stdout);
    };
    // The library panel's views take their rows one per turn of the event
    // loop: settled once they all have.
    const auto viewsWaiting = [&] {
        const QQuickItem *root = startUp.viewer().rootObject();
        const QObject *panel = root ? root->findChild<QObject *>(QStringLiteral("libraryPanel")) : nullptr;
        return panel && panel->property("waitingViews").toInt() > 0;
    };
    const auto settle = [&] {
        if (!framed || settled || controller->isCheckingLibrary() || controller->isRefreshingViews() || viewsWaiting())
            return;
        settled = true;
        turns.stop();
        longestPause = std::max(longestPause, sinceFrame.elapsed() - lastTurn);
        report("settled", QByteArray(" ") + QByteArray::number(longestPause) + ' ' +
                              QByteArray::number(controller->libraryTracks.size()));
        QTimer::singleShot(0, &app, &QCoreApplication::quit);
    };
    QObject::connect(&turns, &QTimer::timeout, &app, [&] {
        const qint64 now = sinceFrame.elapsed();
        longestPause = std::max(longestPause, now - lastTurn);
        lastTurn = now;
        settle();
    });
    QObject::connect(&startUp.viewer(), &QQuickWindow::frameSwapped, &app, [&] {
        if (framed)
            return;
        framed = true;
        report("frame");
        sinceFrame.start();
        turns.start();
        settle();
    });
    QObject::connect(controller, &manager::sgHideLoading, &app, settle, Qt::QueuedConnection);
    QObject::connect(controller, &manager::libraryChecked, &app, settle, Qt::QueuedConnection);
    QTimer::singleShot(60000, &app, [] {
        std::fprintf(stderr, "not settled within 60 s\n");
        QCoreApplication::exit(1);
    });
    return app.exec();
}

// The environment that makes `home` the user's folders, as the test kit's.
QList<std::pair<QString, QString>> userFolders(const QString &home)
{
    return {{QStringLiteral("HOME"), home},
            {QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share")},
            {QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config")},
            {QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache")},
            {QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/.runtime")}};
}

struct Figures
{
    double frameMs = 0;
    double framePeakMiB = 0;
    double settledMs = 0;
    double settledPeakMiB = 0;
    double longestPauseMs = 0; // after the first frame, until settled
    int libraryTracks = 0;     // the tracks the started program holds
};

// Starts the program in a fresh process with `home` as its user folders.
bool startProcess(const QString &home, Figures &figures, bool cold)
{
    if (cold && !dropCaches()) {
        std::fprintf(stderr, "the kernel's caches could not be dropped (not root?)\n");
        return false;
    }
    QProcess start;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!environment.contains(QStringLiteral("QT_QPA_PLATFORM")))
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
    environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("corvane.*=false"));
    for (const auto &[name, value] : userFolders(home))
        environment.insert(name, value);
    start.setProcessEnvironment(environment);
    start.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const qint64 launched = monotonicNs();
    start.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--start")});
    if (!start.waitForFinished(120000) || start.exitCode() != 0)
        return false;
    bool framed = false;
    bool settled = false;
    const QStringList lines = QString::fromLatin1(start.readAllStandardOutput()).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const QStringList f = line.split(QLatin1Char(' '));
        if (f.size() < 3)
            continue;
        const double ms = double(f.at(1).toLongLong() - launched) / 1e6;
        const double mib = f.at(2).toDouble() / 1024;
        if (f.at(0) == QLatin1String("frame")) {
            figures.frameMs = ms;
            figures.framePeakMiB = mib;
            framed = true;
        } else if (f.at(0) == QLatin1String("settled") && f.size() == 5) {
            figures.settledMs = ms;
            figures.settledPeakMiB = mib;
            figures.longestPauseMs = f.at(3).toDouble();
            figures.libraryTracks = f.at(4).toInt();
            settled = true;
        }
    }
    return framed && settled;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "--start") == 0)
        return startOnce(argc, argv);
    // For a profiler: the library made in DIR, which stays.
    const bool keep = argc > 2 && qstrcmp(argv[1], "--generate") == 0;
    if (keep) {
        for (const auto &[name, value] : userFolders(QDir(QString::fromLocal8Bit(argv[2])).absolutePath()))
            qputenv(name.toLocal8Bit().constData(), value.toLocal8Bit());
    } else {
        testkit::isolateUserFolders();
    }
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    if (keep)
        args.remove(1, 2);
    const bool cold = args.removeAll(QStringLiteral("--cold")) > 0;
    int itunesTracks = 0;
    if (const qsizetype at = args.indexOf(QStringLiteral("--itunes")); at > 0 && at + 1 < args.size()) {
        itunesTracks = args.at(at + 1).toInt();
        args.remove(at, 2);
    }
    const int tracks = args.size() > 1 ? args.at(1).toInt() : 20000;
    const int runs = args.size() > 2 ? args.at(2).toInt() : 5;
    const int pictureKilobytes = args.size() > 3 ? args.at(3).toInt() : 15;
    if (tracks <= 0 || runs <= 0 || pictureKilobytes <= 0) {
        std::fprintf(stderr, "usage: bench_startup [--cold] [--itunes N] [tracks] [runs] [picture KB]\n"
                             "       bench_startup --generate DIR [tracks] [runs] [picture KB]\n");
        return 2;
    }
    if (keep)
        QDir().mkpath(qEnvironmentVariable("XDG_RUNTIME_DIR"));
    if (!generate(tracks, pictureKilobytes))
        return 1;
    QSqlDatabase::database().close(); // the application opens its own
    if (keep)
        return 0;

    // The reference: the same program started on an empty library, its runs
    // interleaved with the library's, so a busy machine weighs on both.
    const QString emptyHome = testkit::testHome() + QStringLiteral("/empty-home");
    QDir().mkpath(emptyHome + QStringLiteral("/.runtime"));
    QFile::setPermissions(emptyHome + QStringLiteral("/.runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString settings = QStringLiteral("/.config/MyComp/MyApp.conf"); // the same vehicle
    QDir().mkpath(emptyHome + QStringLiteral("/.config/MyComp"));
    QFile::copy(testkit::testHome() + settings, emptyHome + settings);
    // The empty library again, with an iTunes library beside it.
    const QString itunesHome = testkit::testHome() + QStringLiteral("/itunes-home");
    if (itunesTracks > 0) {
        QDir().mkpath(itunesHome + QStringLiteral("/.runtime"));
        QFile::setPermissions(itunesHome + QStringLiteral("/.runtime"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QDir().mkpath(itunesHome + QStringLiteral("/.config/MyComp"));
        QFile::copy(testkit::testHome() + settings, itunesHome + settings);
        if (!writeItunesLibrary(itunesHome, itunesTracks))
            return 1;
    }

    QTextStream out(stdout);
    out << "machine load before: " << testkit::machineLoad() << "\n";
    if (cold)
        out << "each start cold: the kernel's caches dropped before it\n";
    std::vector<Figures> library, empty, withItunes;
    // One start of each first, not counted: it compiles the interface into
    // the QML disk cache, as the first start after an install does.
    for (int run = 0; run <= runs; ++run) {
        Figures withLibrary, withoutLibrary, itunesLibrary;
        if (!startProcess(testkit::testHome(), withLibrary, cold) || !startProcess(emptyHome, withoutLibrary, cold) ||
            (itunesTracks > 0 && !startProcess(itunesHome, itunesLibrary, cold))) {
            std::fprintf(stderr, "start %d failed\n", run);
            return 1;
        }
        // The starts measured what they name: the whole library loaded, and nothing in the empty ones.
        if (withLibrary.libraryTracks != tracks || withoutLibrary.libraryTracks != 0 ||
            itunesLibrary.libraryTracks != 0) {
            std::fprintf(stderr, "start %d held %d tracks (of %d), %d on the empty library and %d beside iTunes\n", run,
                         withLibrary.libraryTracks, tracks, withoutLibrary.libraryTracks, itunesLibrary.libraryTracks);
            return 1;
        }
        if (run == 0)
            continue;
        library.push_back(withLibrary);
        empty.push_back(withoutLibrary);
        withItunes.push_back(itunesLibrary);
        out << "run " << run << ": first frame " << qRound(withLibrary.frameMs) << " ms, peak "
            << qRound(withLibrary.framePeakMiB) << " MiB; library checked " << qRound(withLibrary.settledMs)
            << " ms, peak " << qRound(withLibrary.settledPeakMiB) << " MiB, longest pause after the first frame "
            << qRound(withLibrary.longestPauseMs) << " ms | empty library: first frame "
            << qRound(withoutLibrary.frameMs) << " ms, " << qRound(withoutLibrary.framePeakMiB) << " MiB";
        if (itunesTracks > 0)
            out << " | empty library beside iTunes: first frame " << qRound(itunesLibrary.frameMs) << " ms";
        out << "\n";
        out.flush();
    }
    const auto med = [](const std::vector<Figures> &runsOf, double Figures::*field) {
        std::vector<double> values;
        for (const Figures &f : runsOf)
            values.push_back(f.*field);
        return testkit::median(values);
    };
    out << "median of " << runs << " (whole process, launch to first frame):\n"
        << "  " << tracks << " tracks: first frame " << qRound(med(library, &Figures::frameMs))
        << " ms (target <= 400), peak " << qRound(med(library, &Figures::framePeakMiB)) << " MiB (target <= 150)\n"
        << "  library checked and views published: " << qRound(med(library, &Figures::settledMs)) << " ms, peak "
        << qRound(med(library, &Figures::settledPeakMiB)) << " MiB\n"
        << "  longest pause of the event loop after the first frame: " << qRound(med(library, &Figures::longestPauseMs))
        << " ms (target <= 50), slowest "
        << qRound(
               std::max_element(library.cbegin(), library.cend(),
                                [](const Figures &a, const Figures &b) { return a.longestPauseMs < b.longestPauseMs; })
                   ->longestPauseMs)
        << " ms; empty library " << qRound(med(empty, &Figures::longestPauseMs)) << " ms\n"
        << "  empty library (reference): first frame " << qRound(med(empty, &Figures::frameMs)) << " ms, peak "
        << qRound(med(empty, &Figures::framePeakMiB)) << " MiB\n";
    // Paired: each run's two starts met the same load.
    std::vector<Figures> libraryLater, itunesLater;
    for (size_t i = 0; i < library.size(); ++i) {
        libraryLater.push_back({library[i].frameMs - empty[i].frameMs});
        itunesLater.push_back({withItunes[i].frameMs - empty[i].frameMs});
    }
    out << "  first frame after the empty library's (median of the runs' differences): "
        << qRound(med(libraryLater, &Figures::frameMs)) << " ms (target <= 50)\n";
    if (itunesTracks > 0)
        out << "  empty library beside a " << itunesTracks << "-track iTunes library: first frame "
            << qRound(med(withItunes, &Figures::frameMs)) << " ms, " << qRound(med(itunesLater, &Figures::frameMs))
            << " ms after the empty library's (target <= 50)\n";
    out << "machine load after: " << testkit::machineLoad() << "\n";
    return 0;
}
