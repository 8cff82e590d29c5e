// Times the application's start with a large library: from main() to the
// window's first frame, and the peak memory of the process by then.
//
//   bench_startup [tracks] [runs] [picture KB]
//
// Generates a library of `tracks` tracks (default 20,000) in temporary user
// folders: albums of 20 tracks by artists of five albums, every album with
// its own picture in the artwork folder and in the database (a 300 x 300
// PNG whose noise band is sized for `picture KB`; the default 15 gives about
// 17 KB, with which the program before these changes peaked at about
// 1 GiB), every track an existing (empty) file.  Each run then starts the
// real application offscreen in a fresh process and reports when the first
// frame is on screen and the process's peak resident memory then.  Prints
// each run and the medians.

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
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

#include "app/qmlapplicationviewer.h"
#include "app/startup.h"
#include "core/shared.h"
#include "database/database.h"
#include "testenv.h"

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
    const QString music = testkit::testHome() + QStringLiteral("/Music");
    QDir().mkpath(artwork);

    QSqlDatabase connection = QSqlDatabase::database();
    connection.transaction();
    QSqlQuery query(connection);
    if (!exec(query, QStringLiteral("INSERT INTO genres(genre) VALUES ('Rock')"))
        || !exec(query, QStringLiteral("INSERT INTO years(year) VALUES (2001)")))
        return false;
    qint64 pictureBytes = 0;
    const int albums = (tracks + tracksPerAlbum - 1) / tracksPerAlbum;
    for (int a = 0; a < albums; ++a) {
        const QString album = QStringLiteral("Album %1").arg(a);
        const QString artist = QStringLiteral("Artist %1").arg(a / 5);
        if (a % 5 == 0 && !exec(query, QStringLiteral("INSERT INTO artists(id,name) VALUES (?,?)"), {a / 5 + 1, artist}))
            return false;
        const QByteArray picture = albumPicture(a, pictureKilobytes);
        pictureBytes += picture.size();
        const QString cover = artwork + QLatin1Char('/') + sha.formatSplChar(album) + QStringLiteral(".png");
        QFile file(cover);
        if (!file.open(QIODevice::WriteOnly) || file.write(picture) != picture.size())
            return false;
        if (!exec(query, QStringLiteral("INSERT INTO albums(id,name,artist_id,cover,coverdata,year) VALUES (?,?,?,?,?,2001)"),
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
    std::printf("library: %d tracks, %d albums, pictures %lld KB on average\n", tracks, albums,
                pictureBytes / albums / 1000);
    return true;
}

qint64 peakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// One start of the application; prints "<first frame ms> <peak KiB>".
int startOnce(int argc, char *argv[])
{
    QElapsedTimer sinceMain;
    sinceMain.start();
    QApplication app(argc, argv);
    StartUp startUp;
    startUp.start(); // the window is shown, and drawn once the event loop runs
    bool framed = false;
    QObject::connect(&startUp.viewer(), &QQuickWindow::frameSwapped, &app, [&] {
        if (framed)
            return;
        framed = true;
        std::printf("%lld %lld\n", sinceMain.elapsed(), peakKiB());
        std::fflush(stdout);
        QTimer::singleShot(0, &app, &QCoreApplication::quit);
    });
    QTimer::singleShot(60000, &app, [] {
        std::fprintf(stderr, "no frame within 60 s\n");
        QCoreApplication::exit(1);
    });
    return app.exec();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "--start") == 0)
        return startOnce(argc, argv);

    testkit::isolateUserFolders();
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int tracks = args.size() > 1 ? args.at(1).toInt() : 20000;
    const int runs = args.size() > 2 ? args.at(2).toInt() : 5;
    const int pictureKilobytes = args.size() > 3 ? args.at(3).toInt() : 15;
    if (tracks <= 0 || runs <= 0 || pictureKilobytes <= 0) {
        std::fprintf(stderr, "usage: bench_startup [tracks] [runs] [picture KB]\n");
        return 2;
    }
    if (!generate(tracks, pictureKilobytes))
        return 1;
    QSqlDatabase::database().close(); // the application opens its own

    QTextStream out(stdout);
    std::vector<double> frames;
    std::vector<double> peaks;
    for (int run = 0; run < runs; ++run) {
        QProcess start;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (!environment.contains(QStringLiteral("QT_QPA_PLATFORM")))
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
        environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("corvane.*=false"));
        start.setProcessEnvironment(environment);
        start.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        start.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--start")});
        if (!start.waitForFinished(120000) || start.exitCode() != 0) {
            std::fprintf(stderr, "start %d failed\n", run + 1);
            return 1;
        }
        const QStringList figures = QString::fromLatin1(start.readAllStandardOutput()).split(QLatin1Char('\n'))
                                        .filter(QRegularExpression(QStringLiteral("^\\d+ \\d+$")))
                                        .value(0)
                                        .split(QLatin1Char(' '));
        if (figures.size() != 2) {
            std::fprintf(stderr, "start %d printed no figures\n", run + 1);
            return 1;
        }
        frames.push_back(figures.at(0).toDouble());
        peaks.push_back(figures.at(1).toDouble() / 1024);
        out << "run " << run + 1 << ": first frame " << figures.at(0) << " ms, peak "
            << QString::number(peaks.back(), 'f', 0) << " MiB\n";
        out.flush();
    }
    out << "median of " << runs << ": first frame " << median(frames) << " ms (target < 400), peak "
        << QString::number(median(peaks), 'f', 0) << " MiB (target < 150)\n";
    return 0;
}
