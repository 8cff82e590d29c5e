#include "app/manager.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QThread>

#include <algorithm>
#include <array>
#include <vector>

#include "app/albumdatamodel.h"
#include "app/artistdatamodel.h"
#include "app/detaileddatamodel.h"
#include "app/trackdatamodel.h"
#include "app/tracklist.h"
#include "core/shared.h"

// Start-up and controller state
#include <QCoreApplication>
#include <QFile>
#include <QLoggingCategory>
#include <QQmlContext>
#include <QQuickItem>
#include <QSettings>
#include <QStandardPaths>
#include <QThreadPool>

#include "app/backgroundjob.h"
#include <QtConcurrent>

#include "app/libraryremover.h"
#include "app/licence.h"
#include "app/messagehandler.h"
#include "app/qmlapplicationviewer.h"
#include "core/itunecoverartextracter.h"
#include "core/logging.h"
#include "core/taglibbuilder.h"
#include "database/ruvodb.h"
#include "delivery/combo.h"
#include "delivery/drive.h"
#include "lookup/apimanager.h"

manager::manager() = default;

// ---- Quality classes ------------------------------------------------------

int manager::getMediaQuality(int bitrate)
{
    if (bitrate <= 128)
        return 0;
    return bitrate <= 255 ? 1 : 2;
}

// ---- Library id look-ups --------------------------------------------------

namespace {

// First track (in id order) accepted by `matches` gives its id of the kind
// `idOf` reads; otherwise the largest such id + 1.
template <typename Matches, typename IdOf>
int findOrNextId(const TrackMap &library, Matches matches, IdOf idOf)
{
    int largest = 0;
    for (const track &t : library) {
        if (matches(t))
            return idOf(t);
        largest = std::max(largest, idOf(t));
    }
    return largest + 1;
}

} // namespace

int manager::getArtistID(const TrackMap &library, const QString &name)
{
    return findOrNextId(
        library, [&name](const track &t) { return t.artistName == name; },
        [](const track &t) { return t.artist_id; });
}

int manager::getAlbumID(const TrackMap &library, const QString &name)
{
    const QString wanted = name.toLower();
    return findOrNextId(
        library, [&wanted](const track &t) { return t.albumName.toLower() == wanted; },
        [](const track &t) { return t.album_id; });
}

int manager::getPlaylistID(const TrackMap &library, const QString &name)
{
    return findOrNextId(
        library, [&name](const track &t) { return t.playlist == name; },
        [](const track &t) { return t.playlist_id; });
}

int manager::getTrackID(const TrackMap &library, const QString &path)
{
    const QString wanted = QDir::fromNativeSeparators(path);
    return findOrNextId(
        library,
        [&wanted](const track &t) { return !wanted.isEmpty() && QDir::fromNativeSeparators(t.filepath) == wanted; },
        [](const track &t) { return t.id; });
}

int manager::getTrackIDVideo(const TrackMap &processingTracks)
{
    int largest = 0;
    for (const track &t : processingTracks)
        largest = std::max(largest, t.id);
    return largest + 1;
}

int manager::getTrack(const TrackMap &library, const QString &path, int playlistId, const QString &playlist,
                      const QString &trackname)
{
    Q_UNUSED(trackname)
    const QString wanted = QDir::fromNativeSeparators(path);
    for (const track &t : library) {
        if (QDir::fromNativeSeparators(t.filepath) != wanted)
            continue;
        if (playlistId > 0 ? t.playlist == playlist : t.playlist.isEmpty())
            return t.id;
    }
    return 0;
}

// ---- Library views --------------------------------------------------------

namespace {

const QString noArtworkName = QStringLiteral("no_artwork.png");
const QString playlistCoverName = QStringLiteral("playlist.png");
const QString playlistCoverUrl = QStringLiteral("qrc:///resources/photos/playlist.png");

bool isMusic(const track &t)
{
    return !t.isVideo && !t.isPodcast && !t.isAudiobook;
}

// The media browser's categories, the values of mediaTypeFilter.
enum MediaCategory { MediaMusic = 0, MediaPlaylists = 1, MediaPodcasts = 2, MediaAudiobooks = 3, MediaVideos = 4 };

// Whether t belongs to the media browser's category.
bool inMediaCategory(const track &t, int mediaTypeFilter)
{
    switch (mediaTypeFilter) {
    case MediaMusic:
        return isMusic(t) && t.playlist.isEmpty();
    case MediaPlaylists:
        return isMusic(t) && !t.playlist.isEmpty();
    case MediaPodcasts:
        return t.isPodcast && !t.isVideo && !t.isAudiobook && t.playlist.isEmpty();
    case MediaAudiobooks:
        return t.isAudiobook && !t.isVideo && !t.isPodcast && t.playlist.isEmpty();
    case MediaVideos:
        return t.isVideo;
    default:
        return false;
    }
}

// Whole seconds of a duration, the fraction dropped.
int wholeSeconds(double seconds)
{
    return static_cast<int>(seconds);
}

// Lower case for the text order of the comparers.  Unicode throughout: a
// non-Latin title keeps its own place instead of folding into "?".
QString textKey(const QString &text)
{
    return text.toLower();
}

QSet<int> toSet(const QList<int> &ids)
{
    return QSet<int>(ids.cbegin(), ids.cend());
}

bool contains(const QSet<int> &ids, int id)
{
    return ids.contains(id);
}

// Per-build state shared by the builders of one call: the placeholder and
// download-artwork texts and a cache of download-artwork look-ups, so a
// build asks the file system at most once per album.
class CoverRule
{
public:
    CoverRule()
        : downloadFolder(shared::dataLocation() + helper.downloadArtworkPath + QLatin1Char('/'))
    {
    }

    // The cover a row shows for t.  libraryMode looks for downloaded
    // artwork; exemptVideos keeps a video's own picture (the album view's
    // rule).
    QString coverOf(const track &t, bool libraryMode, bool exemptVideos)
    {
        const bool video = exemptVideos && t.isVideo;
        QString cover = t.cover;
        const QString name = cleanName(t.albumName);
        if (libraryMode && !video && cover.contains(noArtworkName)) {
            const QString candidate = downloadFolder + name + QStringLiteral(".png");
            auto known = downloaded.constFind(candidate);
            if (known == downloaded.cend())
                known = downloaded.insert(candidate, QFile::exists(candidate));
            if (known.value())
                cover = candidate;
        }
        if (cover.isEmpty()
            || (!cover.contains(name, Qt::CaseInsensitive) && t.playlist.isEmpty()
                && t.albumName.contains(helper.unknownText, Qt::CaseInsensitive) && !video))
            cover = helper.noArtworkUrl;
        return cover;
    }

private:
    QString cleanName(const QString &albumName)
    {
        auto known = cleaned.constFind(albumName);
        if (known == cleaned.cend())
            known = cleaned.insert(albumName, helper.formatSplChar(albumName));
        return known.value();
    }

    shared helper;
    QString downloadFolder;
    QHash<QString, bool> downloaded;
    QHash<QString, QString> cleaned;
};

bool browserClosed(const manager::ViewInput &input)
{
    return input.mediaBrowserClosed && input.mediaBrowserClosed->load(std::memory_order_relaxed);
}

manager::ViewResult startResult()
{
    manager::ViewResult result;
    // The last reference may be dropped on a worker (a result copy there
    // outlives the hand-over): a generation living in another thread is then
    // deleted by its own thread's event loop, never from under it.
    result.owner = std::shared_ptr<QObject>(new QObject, [](QObject *owner) {
        if (owner->thread() == QThread::currentThread())
            delete owner;
        else
            owner->deleteLater();
    });
    return result;
}

// Hands the rows to the thread that will use them (moving the owner moves
// every child with it).
void finish(manager::ViewResult &result, const manager::ViewInput &input)
{
    if (input.rowThread && result.owner->thread() != input.rowThread)
        result.owner->moveToThread(input.rowThread);
}

DetailedDataModel *makeDetail(const track &t, QObject *owner)
{
    return new DetailedDataModel(false, true, t.id, t.year, t.trackname, t.albumName, t.artistName, t.genre, owner);
}

DetailedDataModel *makeVideoDetail(const track &t, QObject *owner)
{
    return new DetailedDataModel(false, true, t.id, wholeSeconds(t.duration), t.filename, t.albumName, t.artistName,
                                 t.genre, owner);
}

// Sorts detail lines by three text keys, computing each row's keys once.
template <typename KeyOf>
void sortDetails(QList<QObject *> &details, KeyOf keyOf)
{
    using Keys = std::array<QString, 3>;
    std::vector<std::pair<Keys, QObject *>> decorated;
    decorated.reserve(details.size());
    for (QObject *object : std::as_const(details))
        decorated.emplace_back(keyOf(static_cast<const DetailedDataModel *>(object)), object);
    std::stable_sort(decorated.begin(), decorated.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    for (qsizetype i = 0; i < details.size(); ++i)
        details[i] = decorated[size_t(i)].second;
}

std::array<QString, 3> albumKeys(const DetailedDataModel *row)
{
    return {textKey(row->albumname()), textKey(row->tracktitle()), textKey(row->genre())};
}

std::array<QString, 3> artistKeys(const DetailedDataModel *row)
{
    return {textKey(row->artistname()), textKey(row->tracktitle()), textKey(row->genre())};
}

std::array<QString, 3> titleKeys(const DetailedDataModel *row)
{
    return {textKey(row->tracktitle()), textKey(row->albumname()), textKey(row->genre())};
}

// Whether a track counts for an artist's track and album counts.
bool countsForTracks(const track &t, bool isMain, int mediaTypeFilter)
{
    if (isMain)
        return inMediaCategory(t, MediaMusic);
    if (!inMediaCategory(t, mediaTypeFilter))
        return false;
    // Counted only where the playlist id agrees with the playlist name.
    return mediaTypeFilter == MediaVideos || (t.playlist_id != 0) == !t.playlist.isEmpty();
}

bool countsForAlbums(const track &t, bool isMain, int mediaTypeFilter)
{
    // The library's album count includes the artist's videos.
    if (isMain)
        return t.playlist.isEmpty() && !t.isPodcast && !t.isAudiobook;
    return countsForTracks(t, false, mediaTypeFilter);
}

// Album and track counts of every artist (or of onlyArtist), in one walk
// over the map.
struct ArtistCounts
{
    QHash<QString, QSet<QString>> albums;
    QHash<QString, QSet<QString>> paths;

    ArtistCounts(const TrackMap &tracks, bool isMain, int mediaTypeFilter, const QString *onlyArtist = nullptr)
    {
        for (const track &t : tracks) {
            if (onlyArtist && t.artistName != *onlyArtist)
                continue;
            if (countsForAlbums(t, isMain, mediaTypeFilter))
                albums[t.artistName].insert(t.albumName.toLower());
            if (countsForTracks(t, isMain, mediaTypeFilter))
                paths[t.artistName].insert(t.filepath);
        }
    }

    int albumCount(const QString &artist) const { return int(albums.value(artist).size()); }
    int trackCount(const QString &artist) const { return int(paths.value(artist).size()); }
};

// The artist's cover list after t: covers of its albums, real pictures in
// front, placeholders behind; a playlist entry keeps only playlist covers.
QStringList updateCoverList(QMap<QString, QStringList> &lists, const track &t, const QString &cover)
{
    const QString path = QDir::fromNativeSeparators(cover);
    const QString key = t.artistName.toLower();
    auto entry = lists.find(key);
    if (entry == lists.end())
        return lists.insert(key, QStringList{path}).value();
    if (entry->contains(path))
        return entry.value();
    QStringList list = entry.value();
    if (cover.contains(noArtworkName) || cover.contains(playlistCoverName))
        list.append(path);
    else
        list.prepend(path);
    if (!t.playlist.isEmpty()) {
        list.removeIf([](const QString &p) { return !p.contains(playlistCoverName) || p.contains(noArtworkName); });
    } else {
        list.removeIf([](const QString &p) { return p.contains(playlistCoverName); });
    }
    entry.value() = list;
    return list;
}

// ---- Grouped track rows ----

enum class GroupKind { Tracks, Playlists, Podcasts };

struct GroupEntry
{
    const track *t;
    bool selected;
};

struct Group
{
    const track *first = nullptr; // lowest id: gives the group its fields
    QString cover;
    bool selected = false;        // set by every track added: the last decides
    std::vector<GroupEntry> entries;
};

int decimalDigits(int value)
{
    return int(QString::number(value).size());
}

QString rowKey(const QString &groupKey, int row, int digits, GroupKind kind)
{
    const QChar letter = QChar(QLatin1Char('a').unicode() + (row < 100 ? 0 : row / 100));
    QString number;
    if (row <= 2)
        number = QString(digits, QLatin1Char('0')) + QString::number(row);
    else if (kind == GroupKind::Playlists)
        number = row <= 9 ? QStringLiteral("0") + QString::number(row) : QString::number(row);
    else
        number = QStringLiteral("%1").arg(row, digits + 1, 10, QLatin1Char('0'));
    return groupKey + letter + number;
}

// Turns the groups into rows of at most six tracks: row 1 carries the cover,
// row 2 the artist, genre and year (and exists even for a short group).
void makeRows(const QMap<QString, Group> &groups, GroupKind kind, manager::ViewResult &result)
{
    QObject *owner = result.owner.get();
    for (auto g = groups.cbegin(); g != groups.cend(); ++g) {
        const Group &group = g.value();
        std::vector<GroupEntry> sorted = group.entries;
        std::stable_sort(sorted.begin(), sorted.end(), [](const GroupEntry &a, const GroupEntry &b) {
            if (a.t->tracknumber != b.t->tracknumber)
                return a.t->tracknumber < b.t->tracknumber;
            return textKey(a.t->trackname) < textKey(b.t->trackname);
        });

        const track &first = *group.first;
        const bool playlist = kind == GroupKind::Playlists;
        const int albumid = playlist ? first.playlist_id : first.album_id;
        const QString albumname = playlist ? first.playlist : first.albumName;
        const QString artistname = playlist ? QString() : first.artistName;
        const int year = playlist ? 0 : first.year;

        const int count = int(sorted.size());
        const int filled = (count + 5) / 6;
        const int digits = decimalDigits(filled);
        const int rows = std::max(filled, 2);
        for (int row = 1; row <= rows; ++row) {
            QList<QObject *> tracks;
            for (int i = (row - 1) * 6; i < std::min(row * 6, count); ++i) {
                const track &t = *sorted[size_t(i)].t;
                tracks.append(new TrackList(t.id, t.tracknumber, wholeSeconds(t.duration), t.trackname, t.ReleaseDate,
                                            t.artistName, t.albumName, t.genre, sorted[size_t(i)].selected, t.filepath,
                                            owner));
            }
            const bool second = row == 2;
            auto *model = new TrackDataModel(albumid, albumname, second ? artistname : QString(),
                                             second ? first.genre : QString(), second ? year : 0, group.selected,
                                             true, row == 1 ? group.cover : QStringLiteral("no"), tracks, owner);
            result.models.insert(rowKey(g.key(), row, digits, kind), model);
        }
    }
}

} // namespace

manager::LibraryViews manager::buildLibraryViews(const TrackMap &libraryTracks, const ViewInput &input)
{
    ViewInput library = input;
    library.artistCoverArt.clear();
    LibraryViews views;
    views.albumModels = Get_Albumlist(true, libraryTracks, library);
    views.artistModels = Get_Artistlist(true, libraryTracks, library);
    views.ArtistCoverartList = views.artistModels.artistCoverArt;
    views.trackRowModels = Get_Tracklist(true, libraryTracks, library);
    views.playlistModels = Get_Playlist(libraryTracks, library);
    views.podcastModels = Get_Podcastlist(libraryTracks, library);
    views.audiobookModels = Get_Audiobooklist(libraryTracks, library);
    views.videoModels = refrechVideoView(libraryTracks, library);
    return views;
}

manager::ViewResult manager::Get_Albumlist(bool isMain, const TrackMap &tracks, const ViewInput &input)
{
    ViewResult result = startResult();
    result.seenVideoTitles = input.seenVideoTitles;
    QObject *owner = result.owner.get();
    CoverRule covers;

    // The last track of a key gives the row its values: collect, then make
    // one row per key.
    QMap<QString, std::pair<const track *, QString>> rows;
    if (isMain) {
        const QSet<int> checked = toSet(input.checkedAlbumIds);
        for (const track &t : tracks) {
            if (!inMediaCategory(t, MediaMusic))
                continue;
            rows.insert(t.albumName.toLower(), {&t, covers.coverOf(t, true, true)});
        }
        for (auto row = rows.cbegin(); row != rows.cend(); ++row) {
            const track &t = *row->first;
            result.models.insert(row.key(), new AlbumDataModel(t.album_id, t.albumName, t.artistName, t.quality,
                                                               contains(checked, t.album_id), true, row->second,
                                                               owner));
        }
        finish(result, input);
        return result;
    }

    const bool videos = input.mediaTypeFilter == MediaVideos;
    QSet<QString> seen(result.seenVideoTitles.cbegin(), result.seenVideoTitles.cend());
    int repeat = 1;
    for (const track &t : tracks) {
        if (browserClosed(input))
            break;
        if (t.isHidden)
            continue;
        if (!inMediaCategory(t, input.mediaTypeFilter))
            continue;
        if (videos) {
            QString key = t.filename;
            if (seen.contains(t.filename)) {
                key += QString::number(repeat++);
            } else {
                seen.insert(t.filename);
                result.seenVideoTitles.append(t.filename);
            }
            rows.insert(key, {&t, covers.coverOf(t, false, true)});
            result.details.append(makeVideoDetail(t, owner));
        } else {
            rows.insert(t.albumName, {&t, covers.coverOf(t, false, true)});
            result.details.append(makeDetail(t, owner));
        }
    }
    for (auto row = rows.cbegin(); row != rows.cend(); ++row) {
        const track &t = *row->first;
        auto *model = videos ? new AlbumDataModel(t.id, t.filename, QString(), t.quality, false, true, row->second, owner)
                             : new AlbumDataModel(t.album_id, t.albumName, t.artistName, t.quality, false, true,
                                                  row->second, owner);
        result.models.insert(row.key(), model);
    }
    sortDetails(result.details, albumKeys);
    finish(result, input);
    return result;
}

manager::ViewResult manager::Get_Artistlist(bool isMain, const TrackMap &tracks, const ViewInput &input)
{
    ViewResult result = startResult();
    result.artistCoverArt = input.artistCoverArt;
    QObject *owner = result.owner.get();
    CoverRule covers;
    const ArtistCounts counts(tracks, isMain, input.mediaTypeFilter);
    const QSet<int> checked = toSet(input.checkedArtistIds);

    // Key -> the artist's last qualifying track and its cover list then.
    QMap<QString, std::pair<const track *, QStringList>> rows;
    for (const track &t : tracks) {
        QStringList coverList = updateCoverList(result.artistCoverArt, t, covers.coverOf(t, isMain, false));
        if (isMain) {
            if (inMediaCategory(t, MediaMusic))
                rows.insert(t.artistName, {&t, coverList});
            continue;
        }
        if (browserClosed(input))
            break;
        if (t.isHidden)
            continue;
        // Videos have no artist rows; a music row must carry no playlist id.
        const int filter = input.mediaTypeFilter;
        if (filter == MediaVideos || !inMediaCategory(t, filter) || (filter == MediaMusic && t.playlist_id != 0))
            continue;
        if (filter == MediaPlaylists)
            coverList = QStringList{playlistCoverUrl};
        rows.insert(t.artistName, {&t, coverList});
        result.details.append(makeDetail(t, owner));
    }
    for (auto row = rows.cbegin(); row != rows.cend(); ++row) {
        const track &t = *row->first;
        const bool selected = isMain && contains(checked, t.artist_id);
        result.models.insert(row.key(), new ArtistDataModel(t.artist_id, counts.albumCount(t.artistName),
                                                            counts.trackCount(t.artistName), t.artistName, t.quality,
                                                            selected, true, row->second, owner));
    }
    sortDetails(result.details, artistKeys);
    finish(result, input);
    return result;
}

manager::ViewResult manager::Get_Tracklist(bool isMain, const TrackMap &tracks, const ViewInput &input)
{
    ViewResult result = startResult();
    QObject *owner = result.owner.get();
    CoverRule covers;
    const QSet<int> checked = toSet(input.checkedTrackIds);
    QMap<QString, Group> groups;
    for (const track &t : tracks) {
        bool taken = false;
        bool selected = false;
        if (isMain) {
            taken = inMediaCategory(t, MediaMusic);
            selected = contains(checked, t.id);
        } else {
            if (browserClosed(input))
                break;
            if (t.isHidden)
                continue;
            // Videos have no track rows.
            taken = input.mediaTypeFilter != MediaVideos && inMediaCategory(t, input.mediaTypeFilter);
        }
        if (!taken)
            continue;
        Group &group = groups[t.albumName.toLower()];
        if (!group.first) {
            group.first = &t;
            group.cover = covers.coverOf(t, isMain, false);
        }
        group.selected = selected;
        group.entries.push_back({&t, selected});
        if (!isMain)
            result.details.append(makeDetail(t, owner));
    }
    makeRows(groups, GroupKind::Tracks, result);
    sortDetails(result.details, titleKeys);
    finish(result, input);
    return result;
}

manager::ViewResult manager::Get_Playlist(const TrackMap &tracks, const ViewInput &input)
{
    ViewResult result = startResult();
    const QSet<int> checkedTracks = toSet(input.checkedTrackIds);
    const QSet<int> checkedPlaylists = toSet(input.checkedPlaylistIds);
    const bool playlistCategory = input.mediaTypeFilter == MediaPlaylists;
    QSet<int> tickedArtists; // artists of ticked tracks met so far
    QMap<QString, Group> groups;
    for (const track &t : tracks) {
        if (t.playlist.isEmpty() || t.isVideo)
            continue;
        const bool trackTicked = contains(checkedTracks, t.id);
        if (trackTicked && playlistCategory)
            tickedArtists.insert(t.artist_id);
        const bool trackSelected =
            playlistCategory && (trackTicked || (input.browserView == 1 && tickedArtists.contains(t.artist_id)));
        Group &group = groups[t.playlist];
        if (!group.first) {
            group.first = &t;
            group.cover = playlistCoverUrl;
        }
        group.selected = contains(checkedPlaylists, t.playlist_id) && input.browserView == 0 && playlistCategory;
        group.entries.push_back({&t, trackSelected});
    }
    makeRows(groups, GroupKind::Playlists, result);
    finish(result, input);
    return result;
}

manager::ViewResult manager::Get_Podcastlist(const TrackMap &tracks, const ViewInput &input)
{
    ViewResult result = startResult();
    const QSet<int> checked = toSet(input.checkedAlbumIds);
    QMap<QString, Group> groups;
    for (const track &t : tracks) {
        if (!t.isPodcast || t.isVideo)
            continue;
        const bool selected = contains(checked, t.album_id);
        Group &group = groups[t.albumName];
        if (!group.first) {
            group.first = &t;
            group.cover = t.cover; // a podcast keeps its stored picture
        }
        group.selected = selected;
        group.entries.push_back({&t, selected});
    }
    makeRows(groups, GroupKind::Podcasts, result);
    finish(result, input);
    return result;
}

manager::ViewResult manager::Get_Audiobooklist(const TrackMap &tracks, const ViewInput &input)
{
    ViewResult result = startResult();
    const QSet<int> checked = toSet(input.checkedAlbumIds);
    QMap<QString, const track *> rows; // the highest id of an album name wins
    for (const track &t : tracks) {
        if (t.isAudiobook && !t.isVideo)
            rows.insert(t.albumName, &t);
    }
    for (auto row = rows.cbegin(); row != rows.cend(); ++row) {
        const track &t = *row.value();
        result.models.insert(row.key(), new AlbumDataModel(t.album_id, t.albumName, t.artistName, t.quality,
                                                           contains(checked, t.album_id), true, t.cover,
                                                           result.owner.get()));
    }
    finish(result, input);
    return result;
}

manager::ViewResult manager::Get_Videolist(const TrackMap &tracks, const ViewInput &input)
{
    ViewResult result = startResult();
    const QSet<int> checked = toSet(input.checkedTrackIds);
    QMap<QString, const track *> rows; // the highest id of a file name wins
    for (const track &t : tracks) {
        if (t.isVideo)
            rows.insert(t.filename, &t);
    }
    for (auto row = rows.cbegin(); row != rows.cend(); ++row) {
        const track &t = *row.value();
        result.models.insert(row.key(), new AlbumDataModel(t.id, t.filename, QString(), t.quality,
                                                           contains(checked, t.id), true, t.cover,
                                                           result.owner.get()));
    }
    finish(result, input);
    return result;
}

manager::ViewResult manager::refrechVideoView(const TrackMap &libraryTracks, const ViewInput &input)
{
    return Get_Videolist(libraryTracks, input);
}

int manager::getAlbumCount(const TrackMap &tracks, const QString &artistName, bool isMain, int mediaTypeFilter)
{
    return ArtistCounts(tracks, isMain, mediaTypeFilter, &artistName).albumCount(artistName);
}

int manager::getTrackCount(const TrackMap &tracks, const QString &artistName, bool isMain, int mediaTypeFilter)
{
    return ArtistCounts(tracks, isMain, mediaTypeFilter, &artistName).trackCount(artistName);
}

bool manager::albumNameComparer(const DetailedDataModel *a, const DetailedDataModel *b)
{
    return albumKeys(a) < albumKeys(b);
}

bool manager::artistNameComparer(const DetailedDataModel *a, const DetailedDataModel *b)
{
    return artistKeys(a) < artistKeys(b);
}

bool manager::trackTitleDetailComparer(const DetailedDataModel *a, const DetailedDataModel *b)
{
    return titleKeys(a) < titleKeys(b);
}

bool manager::trackNumberComparer(const TrackList *a, const TrackList *b)
{
    if (a->trackno() != b->trackno())
        return a->trackno() < b->trackno();
    return textKey(a->tracktitle()) < textKey(b->tracktitle());
}

bool manager::trackTitleComparer(const TrackList *a, const TrackList *b)
{
    return textKey(a->tracktitle()) < textKey(b->tracktitle());
}


// ---- Start-up and controller state ----------------------------------------


namespace {

Q_LOGGING_CATEGORY(lcController, "corvane.app")

// The vehicle chooser of this module: its lists are shared by every Combo.
Combo &vehicleChooser()
{
    static Combo combo;
    return combo;
}

// The sender of the vehicle chooser's drive-list link; it never sends.
Drive &vehicleDrives()
{
    static Drive drive;
    return drive;
}

const QString selectText = QStringLiteral("Select");

// How long the close waits for a running views rebuild.
constexpr int closeWaitMs = 10000;

// The feature a slot belongs to is not part of this build.
void notAvailable(const char *slot)
{
    qCDebug(lcController, "%s: not available in this build", slot);
}

QVariant rows(const QMap<QString, QObject *> &models)
{
    return QVariant::fromValue(models.values());
}

} // namespace

manager::manager(QmlApplicationViewer *view, QObject *parent)
    : QObject(parent), viewer(view), viewsWatcher(new QFutureWatcher<LibraryViews>(this))
{
    logger = Logging::getInstance();
    apiManager = ApiManager::getinstance();
    connect(apiManager, SIGNAL(updateTrackToManager(track)), this, SLOT(updateMainObjectMgr(track)));
    connect(apiManager, SIGNAL(UpdateProgress()), this, SLOT(UpdateAPIProgress()));

    libraryView = browserView = displayType = settingsView = mediaTypeFilter = 0;
    mediaBrowserClosed = false;
    closing = false;
    initializeCheckboxes();

    setMainValue();

    connect(viewsWatcher, &QFutureWatcherBase::finished, this, &manager::viewsRebuildFinished);

    // The album -> iTunes artwork index the scans use for tracks without a cover.
    scanner.SetItunesArtPIDMap(TagLibBuilder().parseiTuneCoverArtStartup());

    licenceViewer = new Licence();

    // Whatever way the run ends, the close sequence runs once before the
    // objects the workers use are destroyed.
    if (QCoreApplication *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &manager::closeOnQuit);
}

manager::~manager()
{
    closeOnQuit();
    delete licenceViewer;
}

void manager::init()
{
    try {
        QSettings settings(QStringLiteral("MyComp"), QStringLiteral("MyApp"));
        settings.beginGroup(QStringLiteral("MainWindows"));
        settings.value(QStringLiteral("Model")).toInt();
        QString modelName = settings.value(QStringLiteral("ModelName")).toString();
        settings.value(QStringLiteral("ModelYearIndex")).toInt();
        QString modelYearValue = settings.value(QStringLiteral("ModelYearValue")).toString();

        // A first run, or a model the vehicles table no longer lists: back to
        // "no vehicle chosen".
        const QStringList models = vehicleChooser().fillModelCombo();
        if (modelName.isEmpty() || !models.contains(modelName)) {
            modelName = selectText;
            modelYearValue = selectText;
            settings.setValue(QStringLiteral("Model"), 0);
            settings.setValue(QStringLiteral("ModelName"), selectText);
            settings.setValue(QStringLiteral("ModelYearIndex"), 0);
            settings.setValue(QStringLiteral("ModelYearValue"), selectText);
        }
        settings.endGroup();

        if (viewer) {
            MessageHandler texts(viewer->rootContext(), nullptr);
            texts.GetAllmsg();
        }
        setContextProperty(QStringLiteral("isDB"), ruvoDB::isDB() ? QStringLiteral("1") : QStringLiteral("0"));
        setContextProperty(QStringLiteral("defaultFountSze"), 0);
        setContextProperty(QStringLiteral("SelectedModelName"), modelName);
        setContextProperty(QStringLiteral("SelectedModelYearValue"), modelYearValue);

        initContextProperties();

        if (viewer) {
            viewer->setTitle(QStringLiteral("Corvane Media Organiser"));
            viewer->setOrientation(QmlApplicationViewer::ScreenOrientationAuto);
            viewer->setMainQmlFile(QStringLiteral("qml/QRuVOCorvane/main.qml"));
            viewer->setResizeMode(QQuickView::SizeRootObjectToView);
            viewer->setMinimumSize(QSize(1024, 650));
            viewer->showMaximized();
        }

        fillCombo();

        const QString itunesLibrary = QStandardPaths::writableLocation(QStandardPaths::MusicLocation)
                                      + QStringLiteral("/iTunes/iTunes Music Library.xml");
        if (QFile::exists(itunesLibrary)) {
            artworkFuture = QtConcurrent::run([] {
                ItuneCoverArtExtracter extracter;
                return extracter.executeCoverScript();
            });
        }
    } catch (...) {
        logger->WriteLog(QStringLiteral("init"), QStringLiteral("manager"));
    }
}

void manager::initContextProperties()
{
    try {
        QObject *none = nullptr;
        setContextProperty(QStringLiteral("onMac"), 1);
        setContextProperty(QStringLiteral("screenWidth"), screenHeight);
        setContextProperty(QStringLiteral("lstModel"), QVariant::fromValue(none));
        setContextProperty(QStringLiteral("lstYear"), QVariant::fromValue(none));
        setContextProperty(QStringLiteral("driveList"), QVariant::fromValue(none));
        setContextProperty(QStringLiteral("missingMediaData"), QVariant::fromValue(none));
        setContextProperty(QStringLiteral("poorMediaQuality"), QVariant::fromValue(none));
        setContextProperty(QStringLiteral("albumDetailsDialog"), QVariant::fromValue(none));
        setContextProperty(QStringLiteral("artistDetailsDialog"), QVariant::fromValue(none));
        setContextProperty(QStringLiteral("trackDetailsDialog"), QVariant::fromValue(none));
        setContextProperty(QStringLiteral("albumModelDialog"), QVariant::fromValue(none));
        setContextProperty(QStringLiteral("artistsModelDialog"), QVariant::fromValue(none));
        setContextProperty(QStringLiteral("tracksModelDialog"), QVariant::fromValue(none));
        setContextProperty(QStringLiteral("protectedTracksModel"), QString());
        setContextProperty(QStringLiteral("optimisationVideoModel"), QVariant::fromValue(none));
        setContextProperty(QStringLiteral("drivedetails"), QStringList{QString()});
    } catch (...) {
        logger->WriteLog(QStringLiteral("initContextProperties"), QStringLiteral("manager"));
    }
}

void manager::fillCombo()
{
    Combo &chooser = vehicleChooser();
    const QStringList models = chooser.getModelList();
    const QStringList years = models.isEmpty() ? QStringList() : chooser.fillYearCombo(models.first());
    setContextProperty(QStringLiteral("lstModel"), models);
    setContextProperty(QStringLiteral("lstYear"), years);

    if (!viewer || !viewer->rootObject())
        return;
    Combo::setDriveListSender(&vehicleDrives());
    // Lives as long as the window's root object it links to.
    auto *linked = new Combo(viewer->rootObject());
    linked->setParent(viewer->rootObject());
    linked->runForGetSettaing();
}

void manager::setMainValue()
{
    ruvoDB library;
    libraryTracks = library.loadDB();
    ViewInput input = viewInput();
    publishViews(buildLibraryViews(libraryTracks, input));
}

void manager::refreshMain()
{
    setContextProperty(QStringLiteral("albumsModel"), rows(libraryViews.albumModels.models));
    setContextProperty(QStringLiteral("artistsModel"), rows(libraryViews.artistModels.models));
    setContextProperty(QStringLiteral("tracksModel"), rows(libraryViews.trackRowModels.models));
    setContextProperty(QStringLiteral("playlistsModel"), rows(libraryViews.playlistModels.models));
    setContextProperty(QStringLiteral("podcastsModel"), rows(libraryViews.podcastModels.models));
    setContextProperty(QStringLiteral("audiobooksModel"), rows(libraryViews.audiobookModels.models));
    setContextProperty(QStringLiteral("videosModel"), rows(libraryViews.videoModels.models));
    emit sgRefreshMain();
}

void manager::populateMediaLibrary()
{
    switch (libraryView) {
    case 0:
        checkedAlbumIds.clear();
        setContextProperty(QStringLiteral("albumsModel"), rows(libraryViews.albumModels.models));
        break;
    case 1:
        checkedArtistIds.clear();
        setContextProperty(QStringLiteral("artistsModel"), rows(libraryViews.artistModels.models));
        break;
    case 2:
        checkedTrackIds.clear();
        setContextProperty(QStringLiteral("tracksModel"), rows(libraryViews.trackRowModels.models));
        break;
    case 3:
        setContextProperty(QStringLiteral("playlistsModel"), rows(libraryViews.playlistModels.models));
        break;
    case 4:
        setContextProperty(QStringLiteral("podcastsModel"), rows(libraryViews.podcastModels.models));
        break;
    case 5:
        setContextProperty(QStringLiteral("audiobooksModel"), rows(libraryViews.audiobookModels.models));
        break;
    case 6:
        setContextProperty(QStringLiteral("videosModel"), rows(libraryViews.videoModels.models));
        break;
    default:
        break;
    }
    emit sgRefreshMain();
}

void manager::refreshViews()
{
    if (!viewsWatcher)
        return;  // a controller without a view publishes nothing
    emit sgShowLoading();
    if (viewsWatcher->isRunning()) {
        viewsRebuildPending = true;
        return;
    }
    startViewsRebuild();
}

manager::LibraryViews manager::refreshViewsThread(TrackMap tracks, ViewInput input)
{
    return buildLibraryViews(tracks, input);
}

bool manager::isRefreshingViews() const
{
    return (viewsWatcher && viewsWatcher->isRunning()) || viewsRebuildPending;
}

bool manager::waitForWorkers(int msecs)
{
    viewsRebuildPending = false;
    // The controller's jobs run on the global pool: waiting for the pool
    // waits for them (and lets no job outlive the objects it reads).
    return QThreadPool::globalInstance()->waitForDone(msecs);
}

manager::ViewInput manager::viewInput() const
{
    ViewInput input;
    input.checkedArtistIds = checkedArtistIds;
    input.checkedAlbumIds = checkedAlbumIds;
    input.checkedTrackIds = checkedTrackIds;
    input.checkedPlaylistIds = checkedPlaylistIds;
    input.browserView = browserView;
    input.mediaTypeFilter = mediaTypeFilter;
    input.rowThread = thread();
    return input;
}

void manager::startViewsRebuild()
{
    viewsRebuildPending = false;
    // The worker gets copies: the library may change while it builds.
    viewsWatcher->setFuture(QtConcurrent::run(&manager::refreshViewsThread, libraryTracks, viewInput()));
}

void manager::viewsRebuildFinished()
{
    if (viewsRebuildPending && !closing) {
        // The library changed while these rows were built: build again
        // and publish only the newest.
        startViewsRebuild();
        return;
    }
    QFuture<LibraryViews> done = viewsWatcher->future();
    if (done.isValid() && done.resultCount() > 0 && !closing)
        publishViews(done.takeResult());
    emit sgHideLoading();
}

void manager::publishViews(LibraryViews views)
{
    // QML may still hold rows of the published generation until its bindings
    // have moved to the new one: free it only at the next publication.
    retiredViews = std::move(libraryViews);
    libraryViews = std::move(views);
    ArtistCoverartList = libraryViews.ArtistCoverartList;
    refreshMain();
}

void manager::setContextProperty(const QString &name, const QVariant &value)
{
    if (viewer)
        viewer->rootContext()->setContextProperty(name, value);
}

void manager::saveData()
{
    // A controller made without a view (for the quality classes) has
    // nothing to close.
    if (closing || !apiManager)
        return;
    closing = true;
    // Stops the online lookup; a closing controller starts no views rebuild.
    apiManager->stopOptimisation();
    logger->WriteLog(QStringLiteral("Closed RuVO"), QString());
    logger->CloseLog();
    slCancelSearch();
}

void manager::closeOnQuit()
{
    if (!apiManager)
        return;
    saveData();
    // The features' own jobs first: each is asked through its own flag.
    if (!JobRegistry::instance().stopAndWait(closeWaitMs))
        qCWarning(lcController) << "a job did not end in time at close";
    if (!waitForWorkers(closeWaitMs))
        qCWarning(lcController) << "a worker did not end in time at close";
}

void manager::setLibraryView(int index)
{
    if (libraryView != index)
        libraryView = index;
}

void manager::setBrowserView(int index)
{
    if (browserView != index)
        browserView = index;
}

void manager::setSettingsView(int index)
{
    if (settingsView != index)
        settingsView = index;
}

void manager::initializeCheckboxes()
{
    filterActive = false;
}

void manager::slCancelSearch()
{
    // The running folder scan sees the flag before its next directory entry.
    scanner.isStopSearch = true;
    qCDebug(lcController, "slCancelSearch: the folder scan is asked to stop");
}

void manager::slMediaBrowserClosed()
{
    mediaBrowserClosed = true;
}

void manager::UpdateAPIProgress()
{
    apiProgressCount += 1;
    if (apiProgressCount > progressTotal)
        apiProgressCount = progressTotal;
    if (progressTotal < 0)
        return;
    // The lookup's end mark reports completion, never a progress step.
    if (apiProgressCount == progressTotal)
        apiProgressCount -= 1;
    emit updateProgress(QVariant(progressTotal), QVariant(apiProgressCount));
}

void manager::updateProgressBar()
{
    progressCount += 1;
    if (reviewTracks.isEmpty()) {
        progressCount = 0;
        progressTotal = 0;
    }
    if (progressTotal < progressCount)
        progressCount = progressTotal;
    if (progressTotal >= 0)
        emit updateProgress(QVariant(progressTotal), QVariant(progressCount));
}

void manager::LicenseSlotMac()
{
    licenceViewer->showdialog();
}

void manager::searchInMediaSourceCache(QString)
{
    notAvailable("searchInMediaSourceCache");
}

void manager::addToMainObject()
{
    notAvailable("addToMainObject");
}

void manager::exeRemoveTransfer(QString action)
{
    libraryRemover().exeRemoveTransfer(action);
}

void manager::removeAll(QList<int> lstArtistIds, QList<int> lstAlbumIds, QList<int> lstTrackIds,
                        QList<int> lstVideoIds)
{
    libraryRemover().removeAll({lstArtistIds, lstAlbumIds, lstTrackIds, lstVideoIds});
}

void manager::slRemoveAllFnish()
{
    libraryRemover().removeAllFinished();
}

void manager::transferToCar()
{
    refreshViews();
}

LibraryRemover &manager::libraryRemover()
{
    if (!remover)
        remover = std::make_unique<LibraryRemover>(*this);
    return *remover;
}

void manager::searchBox(QString)
{
    notAvailable("searchBox");
}

void manager::slCancelSearchCopy()
{
    notAvailable("slCancelSearchCopy");
}

void manager::setDisplayType(int)
{
    notAvailable("setDisplayType");
}

void manager::filterForCheckboxes(int)
{
    notAvailable("filterForCheckboxes");
}

void manager::selectDeselectForBrowser(bool)
{
    notAvailable("selectDeselectForBrowser");
}

void manager::selectDeselectForLibrary(bool)
{
    notAvailable("selectDeselectForLibrary");
}

void manager::selectDeselectForSettings(bool)
{
    notAvailable("selectDeselectForSettings");
}

void manager::slPopulateAdvancedSettings()
{
    notAvailable("slPopulateAdvancedSettings");
}

void manager::collectMediaToUpdate()
{
    notAvailable("collectMediaToUpdate");
}

void manager::cancelOptimization()
{
    notAvailable("cancelOptimization");
}

void manager::advancedSettingsLinkTab(int)
{
    notAvailable("advancedSettingsLinkTab");
}

void manager::slCancelVideOptimising()
{
    notAvailable("slCancelVideOptimising");
}

void manager::slSelectDeselectInTracksView(QString, int, bool)
{
    notAvailable("slSelectDeselectInTracksView");
}

void manager::updateMainObjectMgr(track)
{
    notAvailable("updateMainObjectMgr");
}
