// Times the folder scan against bare TagLib reading of the same files.
//
//   bench_scan [folder] [runs]
//
// Without a folder (or with "-") it generates 2,000 tagged MP3 files in a
// temporary folder: 100 album folders of 20 tracks, each file carrying its
// album's cover; a folder that doesn't exist yet is generated and kept.  Every
// run first reads all files once (warm cache), then times (a) opening each
// file with TagLib and reading its tag and audio properties, and (b)
// track_data::searchfile on the folder into a fresh library (empty
// repository, album pictures and name maps).  Prints the best run of each
// in files per second and their ratio.  User folders are isolated, so the
// real library is never touched.

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>

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

bool generate(const QString &root)
{
    testkit::MediaKit kit(root + QStringLiteral("/.sources"));
    for (int a = 0; a < albums; ++a) {
        const QString colour = QStringLiteral("0x%1").arg((a * 2654435761u) & 0xFFFFFF, 6, 16, QLatin1Char('0'));
        const QString cover = kit.picture(QStringLiteral("cover%1.jpg").arg(a), 500, 500, colour);
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

// What any tag reader must do: open the file, read the tag and the audio
// properties.
int bareTagLib(const QStringList &files)
{
    int read = 0;
    for (const QString &path : files) {
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

} // namespace

int main(int argc, char *argv[])
{
    testkit::isolateUserFolders();
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool given = args.size() > 1 && args.at(1) != QLatin1String("-");
    const int runs = args.size() > 2 ? args.at(2).toInt() : 3;
    if (runs <= 0) {
        std::fprintf(stderr, "usage: bench_scan [folder|-] [runs]\n");
        return 2;
    }

    QTemporaryDir generated;
    QString root;
    QElapsedTimer timer;
    root = given ? QDir(args.at(1)).absolutePath() : generated.path();
    if (!given || !QFileInfo::exists(root)) {
        timer.start();
        if (!generate(root))
            return 1;
        std::fprintf(stderr, "generated %d files in %lld ms\n", albums * tracksPerAlbum, timer.elapsed());
    }

    Database db;
    if (!db.connect(QStringLiteral("RuvoData"), true))
        return 1;
    db.create();

    const QStringList files = mediaFiles(root);
    qint64 bestBare = -1;
    qint64 bestScan = -1;
    int bareCount = 0;
    int scanCount = 0;
    for (int run = 0; run < runs; ++run) {
        readAllBytes(files); // warm cache

        timer.restart();
        bareCount = bareTagLib(files);
        const qint64 bare = timer.nsecsElapsed();

        freshLibrary();
        track_data scanner;
        timer.restart();
        scanCount = int(scanner.searchfile(QDir(root)).size());
        const qint64 scan = timer.nsecsElapsed();

        bestBare = bestBare < 0 ? bare : std::min(bestBare, bare);
        bestScan = bestScan < 0 ? scan : std::min(bestScan, scan);
    }

    const double bareRate = bareCount * 1e9 / double(bestBare);
    const double scanRate = scanCount * 1e9 / double(bestScan);
    QTextStream out(stdout);
    out << "folder: " << root << ", media files: " << files.size() << ", best of " << runs << " runs\n"
        << "bare TagLib: " << bareCount << " files in " << bestBare / 1000000 << " ms, "
        << QString::number(bareRate, 'f', 0) << " files/s\n"
        << "searchfile:  " << scanCount << " records in " << bestScan / 1000000 << " ms, "
        << QString::number(scanRate, 'f', 0) << " files/s\n"
        << "ratio (scan / bare): " << QString::number(scanRate / bareRate, 'f', 2) << " (target >= 0.50)\n";
    return 0;
}
