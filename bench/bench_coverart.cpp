// Times reading the embedded cover of lossless files.
//
//   bench_coverart [folder] [runs]
//
// Without a folder (or with "-") it generates 40 FLAC files of about 6 MB
// (47 s of stereo noise, which FLAC can't shrink much) in a temporary folder,
// each with a 500 x 500 JPEG front cover; a folder that doesn't exist yet is
// generated and kept.  Each run (warm cache: every file is read once first)
// times TagLibBuilder::coverArtPng over all the files, one after the other
// on one thread, and bare TagLib opening each file as FLAC and copying its
// first picture's bytes: the floor of any cover reading.  Prints the median
// of each side over the runs (7 unless given), per folder and per file, and
// checks that every file gave a cover.

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>
#include <vector>

#include <taglib/flacfile.h>

#include "core/taglibbuilder.h"
#include "mediakit.h"
#include "testenv.h"

namespace {

constexpr int fileCount = 40;

QStringList flacFiles(const QString &root)
{
    QStringList files;
    QDirIterator it(root, {QStringLiteral("*.flac")}, QDir::Files);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

bool generate(const QString &root)
{
    testkit::MediaKit kit(root);
    const QString cover = kit.picture(QStringLiteral("cover.jpg"), 500, 500, QStringLiteral("teal"));
    if (cover.isEmpty())
        return false;
    // Noise (input 1) rather than the kit's tone, which FLAC packs small.
    QStringList args = QStringLiteral("-f lavfi -i anoisesrc=d=47:c=white:a=0.5:r=44100 -i %1 -map 1:a -map 2:v "
                                      "-ac 2 -c:a flac -c:v copy -disposition:v attached_pic")
                           .arg(cover)
                           .split(QLatin1Char(' '));
    args << QStringLiteral("-metadata:s:v") << QStringLiteral("comment=Cover (front)");
    const QString first =
        kit.audio(QStringLiteral("00.flac"), args,
                  {QStringLiteral("Noise"), QStringLiteral("Artist"), QStringLiteral("Album"), {}, {}, 0, 0}, 47);
    if (first.isEmpty()) {
        std::fprintf(stderr, "ffmpeg failed: %s\n", qPrintable(kit.lastError()));
        return false;
    }
    for (int i = 1; i < fileCount; ++i) {
        if (!QFile::copy(first, root + QStringLiteral("/%1.flac").arg(i, 2, 10, QLatin1Char('0'))))
            return false;
    }
    QFile::remove(cover);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    testkit::isolateUserFolders();
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QString root = args.value(1, QStringLiteral("-"));
    const int runs = std::max(1, args.value(2, QStringLiteral("7")).toInt());
    QTemporaryDir generated;
    if (root == QLatin1String("-"))
        root = generated.path();
    if (flacFiles(root).isEmpty() && !generate(root))
        return 1;
    const QStringList files = flacFiles(root);
    qint64 bytes = 0;
    for (const QString &file : files) {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly))
            return 1;
        bytes += f.readAll().size(); // warm cache
    }

    std::vector<double> ours, floor;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        int covers = 0;
        for (const QString &file : files)
            covers += TagLibBuilder::coverArtPng(file).isEmpty() ? 0 : 1;
        ours.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (covers != files.size()) {
            std::fprintf(stderr, "only %d of %d files gave a cover\n", covers, int(files.size()));
            return 1;
        }
        timer.restart();
        qint64 pictureBytes = 0;
        for (const QString &file : files) {
            TagLib::FLAC::File flac(QFile::encodeName(file).constData(), false);
            const auto pictures = flac.pictureList();
            if (!pictures.isEmpty())
                pictureBytes +=
                    QByteArray(pictures.front()->data().data(), int(pictures.front()->data().size())).size();
        }
        floor.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (pictureBytes == 0)
            return 1;
    }
    const double median = testkit::median(ours);
    const double floorMedian = testkit::median(floor);
    QTextStream out(stdout);
    out << QStringLiteral("%1 FLAC files, %2 MB in all; %3 runs; load %4\n")
               .arg(files.size())
               .arg(double(bytes) / 1e6, 0, 'f', 1)
               .arg(runs)
               .arg(testkit::machineLoad());
    out << QStringLiteral("coverArtPng:            median %1 ms the folder, %2 ms a file\n")
               .arg(median, 0, 'f', 1)
               .arg(median / double(files.size()), 0, 'f', 2);
    out << QStringLiteral("TagLib FLAC picture:    median %1 ms the folder (opening and copying only)\n")
               .arg(floorMedian, 0, 'f', 1);
    return 0;
}
