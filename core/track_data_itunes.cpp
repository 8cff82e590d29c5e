#include "core/track_data.h"

#include <QFileInfo>
#include <QtConcurrent/QtConcurrentMap>

#include <optional>

#include "core/itunecoverartextracter.h"
#include "core/shared.h"
#include "core/taglibbuilder.h"
#include "core/track_data_p.h"
#include "core/videometadata.h"

using namespace TrackDataInternal;

namespace {

// What a playlist makes of its records.  iTunes' own playlists (told by
// their keys, or by the exact English names below in a file without them)
// leave each record under its own album; any other playlist groups its
// records as an album of its name.
struct ItunesPlaylistKind
{
    bool isPodcast = false;
    bool isAudiobook = false;
    QString group; // empty: each record is filed under its own album
};

ItunesPlaylistKind itunesPlaylistKind(const iTunedata &playlist)
{
    using Role = iTunedata::Role;
    const QString &name = playlist.name;
    ItunesPlaylistKind kind;
    if (playlist.role == Role::Podcasts || (playlist.role == Role::User && name == QLatin1String("Podcasts")))
        kind.isPodcast = true;
    else if (playlist.role == Role::Books || (playlist.role == Role::User && name == QLatin1String("Books")))
        kind.isAudiobook = true;
    else if (playlist.role == Role::User && !name.isEmpty() && name != QLatin1String("Movies")
             && name != QLatin1String("Music") && name != QLatin1String("Library"))
        kind.group = name;
    return kind;
}

} // namespace

TrackMap track_data::addITunesToTrackObj(QList<iTunedata> playlists, TrackMap map)
{
    shared sha;
    sha.clearMixedAlbumsFolderMap();
    resetProtectedTracks();
    notTakenFiles.clear();
    ItuneCoverArtExtracter::resetCacheFileIndex(); // artwork added since the last scan counts

    VideoMetadata videometa;
    const QString artworkFolder = shared::dataLocation() + sha.artworkPath;
    // With its parents: on a first run the data folder itself may be missing.
    QDir().mkpath(artworkFolder);
    int filesRead = 0;
    // Staged in groups on a thread of their own, as the folder scan does: a
    // transaction per record would cost more than everything else the import
    // does.  All are staged before the import returns.
    const ScanStaging staging(scanStaging);
    // Files already read for a picture they turned out not to have: a file
    // listed in several playlists is not opened again for it.
    QSet<QString> withoutPicture;

    // The pictures the records below will look for, read ahead on the
    // reader pool: per missing album picture, its files in listing order up
    // to the first that has a picture (what the records' own look-ups would
    // read, one after the other).  The records still decide in order, each
    // waiting only for its own album's picture, so progress moves while the
    // pictures are made; a file not read here is read when its record asks.
    QHash<QString, std::pair<int, int>> readAhead; // file -> its album's job, its place there
    QFuture<QList<QByteArray>> found;              // per job, the pictures of its files read
    {
        QHash<QString, int> jobOf; // picture file -> job
        QList<QStringList> jobs;   // the files of each picture, each once
        for (const iTunedata &playlist : std::as_const(playlists)) {
            if (playlist.role == iTunedata::Role::Library || playlist.role == iTunedata::Role::Purchased
                || iTunesSkipPlaylists.contains(playlist.name, Qt::CaseInsensitive))
                continue;
            for (const track &entry : playlist.tracks) {
                QString coverKey = sha.formatSplChar(entry.albumName);
                if (coverKey.isEmpty())
                    coverKey = sha.formatSplChar(entry.filename);
                if (shared::isUnknownName(coverKey) || QFileInfo(entry.filepath).size() <= minimumMediaSize)
                    continue;
                const QString coverPath = artworkFolder + QLatin1Char('/') + coverKey + QStringLiteral(".png");
                auto job = jobOf.constFind(coverPath);
                if (job == jobOf.cend()) {
                    if (QFileInfo::exists(coverPath))
                        continue;
                    job = jobOf.insert(coverPath, int(jobs.size()));
                    jobs.append(QStringList());
                }
                if (!jobs[job.value()].contains(entry.filepath))
                    jobs[job.value()].append(entry.filepath);
            }
        }
        for (int j = 0; j < jobs.size(); ++j) {
            for (int k = 0; k < jobs.at(j).size(); ++k)
                readAhead.insert(jobs.at(j).at(k), {j, k});
        }
        found = QtConcurrent::mapped(readerPool(), jobs, [hook = readStartHook](const QStringList &files) {
            QList<QByteArray> pictures;
            for (const QString &file : files) {
                if (hook)
                    hook(file);
                pictures.append(TagLibBuilder::coverArtPng(file));
                if (!pictures.last().isEmpty())
                    break;
            }
            return pictures;
        });
    }
    // The files read ahead, after the first with a picture of each album:
    // read when their record asks.
    const auto readAheadPicture = [&](const QString &file) -> std::optional<QByteArray> {
        const auto at = readAhead.constFind(file);
        if (at == readAhead.cend())
            return std::nullopt;
        const QList<QByteArray> pictures = found.resultAt(at->first);
        return at->second < pictures.size() ? std::optional(pictures.at(at->second)) : std::nullopt;
    };

    for (const iTunedata &playlist : std::as_const(playlists)) {
        // iTunes' own "Library" and "Purchased" are known by their keys in
        // any language; the skip list names the others in English.
        if (playlist.role == iTunedata::Role::Library || playlist.role == iTunedata::Role::Purchased
            || iTunesSkipPlaylists.contains(playlist.name, Qt::CaseInsensitive))
            continue;
        const ItunesPlaylistKind kind = itunesPlaylistKind(playlist);

        for (const track &entry : playlist.tracks) {
            const QFileInfo file(entry.filepath);
            const qint64 size = file.size(); // 0 for a file gone since the reading
            if (size <= minimumMediaSize)
                continue;
            if (fileReadHook)
                fileReadHook(++filesRead, entry.filepath);

            track record = sha.initializeTrackObject(track());
            record.folderLocation = file.absoluteDir().path();
            record.filesize = size;

            // The album's picture, named after the cleaned album (or file name).
            QString coverKey = sha.formatSplChar(entry.albumName);
            if (coverKey.isEmpty())
                coverKey = sha.formatSplChar(entry.filename);
            const QString coverPath = artworkFolder + QLatin1Char('/') + coverKey + QStringLiteral(".png");
            record.cover = QDir::fromNativeSeparators(coverPath);
            if (!shared::isUnknownName(coverKey) && !withoutPicture.contains(entry.filepath)
                && !QFileInfo::exists(coverPath)) {
                const std::optional<QByteArray> known = readAheadPicture(entry.filepath);
                const QByteArray png = known ? *known : TagLibBuilder::coverArtPng(entry.filepath);
                if (png.isEmpty())
                    withoutPicture.insert(entry.filepath);
                else
                    TagLibBuilder::writeCoverArt(coverPath, png);
            }
            if (QFileInfo::exists(record.cover)) {
                record.hasCover = true;
            } else {
                const QString itunesCover = ItunesArtPIDCheck(coverKey);
                record.hasCover = !itunesCover.isEmpty();
                record.cover = record.hasCover ? QDir::fromNativeSeparators(itunesCover) : sha.noArtworkUrl;
            }

            const QString albumKey = kind.group.isEmpty() ? entry.albumName : kind.group;
            const int id = takeNextTrackId();
            if (id < 0) {
                found.waitForFinished();
                return sha.updateFolderCoverArt(map, 0); // no ids left for anything after this
            }
            record.album_id = Save_Map(album_map, albumKey, album_Id);
            record.artist_id = Save_Map(artist_map, entry.artistName, artist_Id);
            if (record.album_id < 0 || record.artist_id < 0)
                continue;

            record.albumName = albumKey.trimmed();
            record.artistName = entry.artistName;
            record.playlist = kind.group;
            record.playlist_id = kind.group.isEmpty() ? 0 : record.album_id;
            record.bitrate = entry.bitrate;
            if (!kind.group.isEmpty()) {
                record.cover = playlistPicture;
                record.hasCover = true;
            }
            record.duration = entry.duration;
            record.filename = entry.filename;
            record.genre = entry.genre;
            record.isPodcast = kind.isPodcast;
            record.isAudiobook = kind.isAudiobook;
            record.isVideo = entry.isVideo;
            if (kind.group.isEmpty())
                sha.updateMixedAlbumsFolder(record.folderLocation, record.album_id);

            if (entry.isVideo) {
                // A video shows its own frame, in a playlist too.
                const track video = videometa.getVideoMetadata(entry.filepath, 0, entry.duration);
                if (record.duration == 0)
                    record.duration = video.duration;
                record.cover = QDir::fromNativeSeparators(video.cover);
            }

            record.ReleaseDate = entry.ReleaseDate;
            record.trackname = entry.trackname.trimmed();
            record.frequency = entry.frequency;
            record.source = 1;
            record.tracknumber = entry.tracknumber;
            record.id = id;
            record.filepath = entry.filepath;
            record.sourcePath = entry.filepath;
            record.year = entry.year;
            record.isHidden = entry.isHidden;
            record.hasArtist = !shared::isUnknownName(entry.artistName);
            record.hasAlbum = !shared::isUnknownName(entry.albumName);
            record.hasTitle = !shared::isUnknownName(entry.trackname);
            record.isMissingData = shared::isUnknownName(record.albumName) ||
                                   shared::isUnknownName(record.artistName) ||
                                   record.cover.contains(QLatin1String("no_artwork.png"));

            map.insert(record.id, record);

            // The repository files a playlist's entries under no album of
            // their own: the playlist is not the album they came from.
            track staged = record;
            if (staged.albumName == staged.playlist) {
                staged.hasAlbum = false;
                staged.albumName = QStringLiteral("Unknown ablum");
            }
            stage(staged);
        }
    }
    found.waitForFinished();
    return sha.updateFolderCoverArt(map, 0);
}
