// Times the iTunes library reader on a generated library of 30,000 tracks
// (real, empty files in 1,500 album folders) with a "Library" and a "Music"
// playlist naming every track and twenty playlists of 500 tracks each.  With
// "import" it then grows the files (sparse, just past the size threshold)
// and times one iTunes import of the read playlists into a fresh library,
// inside temporary user folders.
//
//   bench_itunes_reader [tracks] [runs] [import]

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "core/taglibbuilder.h"
#include "core/track_data.h"
#include "database/database.h"
#include "ituneslibraryxml.h"
#include "testenv.h"

using testkit::ItunesLibraryXml;

int main(int argc, char *argv[])
{
    testkit::isolateUserFolders(); // the import writes artwork and a library
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int trackCount = args.size() > 1 ? args.at(1).toInt() : 30000;
    const int runs = args.size() > 2 ? args.at(2).toInt() : 5;
    const bool timeImport = args.size() > 3 && args.at(3) == QLatin1String("import");
    if (trackCount <= 0 || runs <= 0) {
        std::fprintf(stderr, "usage: bench_itunes_reader [tracks] [runs] [import]\n");
        return 2;
    }

    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;

    QElapsedTimer timer;
    timer.start();
    ItunesLibraryXml library;
    QList<int> all;
    all.reserve(trackCount);
    const int tracksPerAlbum = 20;
    for (int i = 0; i < trackCount; ++i) {
        const int album = i / tracksPerAlbum;
        const QString folder = dir.filePath(QStringLiteral("Artist %1/Album Café %2").arg(album / 5).arg(album));
        if (i % tracksPerAlbum == 0)
            QDir().mkpath(folder);
        const QString path = folder + QStringLiteral("/%1 Song %2.mp3").arg(i % tracksPerAlbum + 1, 2, 10, QLatin1Char('0')).arg(i);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        const int id = 1000 + 2 * i;  // iTunes ids are sparse and pass 32767 in big libraries
        all.append(id);
        library.addTrack(
            id, {ItunesLibraryXml::string(QStringLiteral("Name"), QStringLiteral("Song %1").arg(i)),
                 ItunesLibraryXml::string(QStringLiteral("Artist"), QStringLiteral("Artist %1").arg(album / 5)),
                 ItunesLibraryXml::string(QStringLiteral("Album Artist"), QStringLiteral("Artist %1").arg(album / 5)),
                 ItunesLibraryXml::string(QStringLiteral("Album"), QStringLiteral("Album Café %1").arg(album)),
                 ItunesLibraryXml::string(QStringLiteral("Genre"), QStringLiteral("Rock")),
                 ItunesLibraryXml::string(QStringLiteral("Kind"), QStringLiteral("MPEG audio file")),
                 ItunesLibraryXml::integer(QStringLiteral("Size"), 4200000 + i),
                 ItunesLibraryXml::integer(QStringLiteral("Total Time"), 215000 + i),
                 ItunesLibraryXml::integer(QStringLiteral("Track Number"), i % tracksPerAlbum + 1),
                 ItunesLibraryXml::integer(QStringLiteral("Year"), 1970 + album % 50),
                 ItunesLibraryXml::date(QStringLiteral("Date Added"), QStringLiteral("2011-03-04T05:06:07Z")),
                 ItunesLibraryXml::integer(QStringLiteral("Bit Rate"), 256),
                 ItunesLibraryXml::integer(QStringLiteral("Sample Rate"), 44100),
                 ItunesLibraryXml::date(QStringLiteral("Release Date"), QStringLiteral("2001-05-06T07:00:00Z")),
                 ItunesLibraryXml::string(QStringLiteral("Persistent ID"), QStringLiteral("%1").arg(id, 16, 16, QLatin1Char('0'))),
                 ItunesLibraryXml::string(QStringLiteral("Location"), ItunesLibraryXml::localhostUrl(path))});
    }
    library.addPlaylist(QStringLiteral("Library"), all);
    QList<int> shuffled = all;
    std::shuffle(shuffled.begin(), shuffled.end(), *QRandomGenerator::global());
    library.addPlaylist(QStringLiteral("Music"), shuffled);
    int mixEntries = 0;
    for (int p = 0; p < 20; ++p) {
        const QList<int> mix = shuffled.mid(p * 500 % trackCount, 500);
        library.addPlaylist(QStringLiteral("Mix %1").arg(p), mix);
        mixEntries += int(mix.size());
    }
    const QString xmlPath = dir.filePath(QStringLiteral("iTunes Music Library.xml"));
    if (!library.write(xmlPath))
        return 1;
    const qint64 generateMs = timer.elapsed();

    std::vector<qint64> times;
    int kept = 0;
    int playlists = 0;
    QList<iTunedata> result;
    for (int run = 0; run < runs; ++run) {
        timer.restart();
        result = TagLibBuilder().parseiTunePlaylist(xmlPath);
        times.push_back(timer.elapsed());
        playlists = static_cast<int>(result.size());
        kept = 0;
        for (const iTunedata &playlist : result)
            kept += static_cast<int>(playlist.tracks.size());
    }
    std::sort(times.begin(), times.end());
    // Every playlist read, each with all its tracks (whose files are all there).
    const int expectedEntries = 2 * trackCount + mixEntries;
    if (playlists != 22 || kept != expectedEntries) {
        std::fprintf(stderr, "the reader kept %d playlists with %d entries, expected 22 with %d\n", playlists, kept,
                     expectedEntries);
        return 1;
    }

    QTextStream out(stdout);
    out << "tracks: " << trackCount << ", library file: " << QFileInfo(xmlPath).size() / 1024 << " KiB"
        << ", generated in " << generateMs << " ms\n"
        << "playlists read: " << playlists << ", playlist entries: " << kept << "\n"
        << "parseiTunePlaylist over " << runs << " runs: min " << times.front() << " ms, median "
        << times[times.size() / 2] << " ms, max " << times.back() << " ms\n";
    out.flush();

    if (timeImport) {
        // An empty ID3v2.3 tag in front, as real MP3s have: without one TagLib
        // searches the whole file for a tag, which no real library costs.
        const QByteArray emptyTag("ID3\x03\0\0\0\0\0\0", 10);
        for (const track &record : std::as_const(result.front().tracks)) {
            QFile file(record.filepath);
            if (!file.open(QIODevice::WriteOnly) || file.write(emptyTag) != emptyTag.size() ||
                !file.resize(track_data::minimumMediaSize + 1))
                return 1;
        }
        Database db;
        if (!db.connect(QStringLiteral("RuvoData"), true))
            return 1;
        db.create();
        timer.restart();
        const TrackMap imported = track_data().addITunesToTrackObj(result, TrackMap());
        out << "addITunesToTrackObj: " << imported.size() << " records in " << timer.elapsed() << " ms\n";
        // A record for each track, and one for each entry of a playlist of the user's own.
        if (imported.size() != trackCount + mixEntries) {
            out.flush();
            std::fprintf(stderr, "the import made %lld records, expected %d\n", static_cast<long long>(imported.size()),
                         trackCount + mixEntries);
            return 1;
        }
    }
    return 0;
}
