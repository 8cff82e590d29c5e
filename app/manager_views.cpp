#include "app/manager.h"

#include <algorithm>
#include <array>
#include <deque>
#include <optional>
#include <tuple>
#include <vector>

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSemaphore>
#include <QSet>
#include <QtConcurrent>
#include <QThread>
#include <QThreadPool>

#include "app/albumdatamodel.h"
#include "app/artistdatamodel.h"
#include "app/detaileddatamodel.h"
#include "app/trackdatamodel.h"
#include "app/tracklist.h"
#include "core/shared.h"

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

// Whether two texts are equal, at once when they share their data (as the
// names of a loaded album's tracks, or a name and the copy kept of it, do).
bool sameName(const QString &a, const QString &b)
{
    return (a.constData() == b.constData() && a.size() == b.size()) || a == b;
}

// Lower-cased names, each worked out once per build: a library has far fewer
// album names than tracks.
class LowerCase
{
public:
    const QString &of(const QString &text)
    {
        auto found = lowered.constFind(text);
        if (found == lowered.cend())
            found = lowered.insert(text, textKey(text));
        return found.value();
    }

private:
    QHash<QString, QString> lowered;
};

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
        // The tracks of an album follow each other and share the answer.
        if (last && last->libraryMode == libraryMode && last->exemptVideos == exemptVideos &&
            last->isVideo == t.isVideo && last->inPlaylist == !t.playlist.isEmpty() && sameName(last->cover, t.cover) &&
            sameName(last->albumName, t.albumName))
            return last->result;
        QString result = coverFor(t, libraryMode, exemptVideos);
        last = LastAnswer{libraryMode, exemptVideos, t.isVideo, !t.playlist.isEmpty(), t.cover, t.albumName, result};
        return result;
    }

private:
    QString coverFor(const track &t, bool libraryMode, bool exemptVideos)
    {
        const bool video = exemptVideos && t.isVideo;
        QString cover = t.cover;
        // The cleaned album name is needed only for the rarer cases below.
        if (libraryMode && !video && cover.contains(noArtworkName)) {
            const QString candidate = downloadFolder + cleanName(t.albumName) + QStringLiteral(".png");
            auto known = downloaded.constFind(candidate);
            if (known == downloaded.cend())
                known = downloaded.insert(candidate, QFile::exists(candidate));
            if (known.value())
                cover = candidate;
        }
        if (cover.isEmpty()
            || (!video && t.playlist.isEmpty() && t.albumName.contains(helper.unknownText, Qt::CaseInsensitive)
                && !cover.contains(cleanName(t.albumName), Qt::CaseInsensitive)))
            cover = helper.noArtworkUrl;
        return cover;
    }

    QString cleanName(const QString &albumName)
    {
        auto known = cleaned.constFind(albumName);
        if (known == cleaned.cend())
            known = cleaned.insert(albumName, helper.formatSplChar(albumName));
        return known.value();
    }

    struct LastAnswer
    {
        bool libraryMode;
        bool exemptVideos;
        bool isVideo;
        bool inPlaylist;
        QString cover;
        QString albumName;
        QString result;
    };

    shared helper;
    QString downloadFolder;
    QHash<QString, bool> downloaded;
    QHash<QString, QString> cleaned;
    std::optional<LastAnswer> last;
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

// The sort keys of the detail lists: album, artist or title first, then
// the other names, compared lower-cased.
enum class DetailOrder { Album, Artist, Title };

std::array<QString, 3> detailKeys(DetailOrder order, const QString &album, const QString &artist, const QString &title,
                                  const QString &genre)
{
    switch (order) {
    case DetailOrder::Album:
        return {album, title, genre};
    case DetailOrder::Artist:
        return {artist, title, genre};
    case DetailOrder::Title:
        break;
    }
    return {title, album, genre};
}

// Detail lines of a browser view, made in their sorted order (ties keep the
// tracks' order).  A video line's title is its file name.  Lines whose
// texts come from `list` are put in order by the places the list worked out
// once for all its tracks; others by their keys.
class DetailLines
{
public:
    DetailLines(DetailOrder sortOrder, const manager::TrackTextList *texts) : order(sortOrder), list(texts) {}

    void add(const track &t, const manager::TrackTexts *texts, bool videoLine = false)
    {
        const bool listed =
            list && texts && !list->empty() && texts >= list->data() && texts < list->data() + list->size();
        if (listed) {
            if (!ranks) {
                ranks = &list->ranks(order == DetailOrder::Album ? (videoLine ? manager::TrackTextList::ByAlbumAndFile
                                                                              : manager::TrackTextList::ByAlbum)
                                     : order == DetailOrder::Artist ? manager::TrackTextList::ByArtist
                                                                    : manager::TrackTextList::ByTitle);
                rankedVideo = videoLine;
            }
            if (videoLine == rankedVideo) {
                lines.push_back({{}, int((*ranks)[size_t(texts - list->data())]), &t, videoLine});
                return;
            }
        }
        unranked = true;
        std::array<QString, 3> keys =
            texts ? detailKeys(order, texts->album, texts->artist, videoLine ? texts->file : texts->title, texts->genre)
                  : detailKeys(order, textKey(t.albumName), textKey(t.artistName),
                               textKey(videoLine ? t.filename : t.trackname), textKey(t.genre));
        lines.push_back({std::move(keys), -1, &t, videoLine});
    }

    QList<QObject *> make(QObject *owner)
    {
        if (unranked) {
            // Some lines have no place: all go by their keys.
            for (Line &line : lines) {
                if (line.rank >= 0)
                    line.keys = keysOf(*line.t, line.video);
            }
            std::stable_sort(lines.begin(), lines.end(), [](const Line &a, const Line &b) { return a.keys < b.keys; });
        } else {
            std::sort(lines.begin(), lines.end(), [](const Line &a, const Line &b) { return a.rank < b.rank; });
        }
        QList<QObject *> details;
        details.reserve(qsizetype(lines.size()));
        for (const Line &line : lines)
            details.append(line.video ? makeVideoDetail(*line.t, owner) : makeDetail(*line.t, owner));
        return details;
    }

private:
    std::array<QString, 3> keysOf(const track &t, bool videoLine) const
    {
        return detailKeys(order, textKey(t.albumName), textKey(t.artistName),
                          textKey(videoLine ? t.filename : t.trackname), textKey(t.genre));
    }

    struct Line
    {
        std::array<QString, 3> keys; // when some line has no rank
        int rank;                    // the track's place in the list's order, or -1
        const track *t;
        bool video;
    };
    DetailOrder order;
    const manager::TrackTextList *list;
    const std::vector<int> *ranks = nullptr;
    bool rankedVideo = false;
    bool unranked = false;
    std::vector<Line> lines;
};

// The texts of a map's tracks as a walk of the map meets them; null once
// the list and the walk part.
class TextsCursor
{
public:
    explicit TextsCursor(const manager::TrackTextList *texts) : list(texts) {}

    const manager::TrackTexts *next(const track &t)
    {
        if (!list || position >= list->size() || !(*list)[position].of(t)) {
            list = nullptr;
            return nullptr;
        }
        return &(*list)[position++];
    }

private:
    const manager::TrackTextList *list;
    size_t position = 0;
};

// Calls visit(track, texts) for each track a browser build may show: the
// shown tracks when the input names them, else the map's tracks not hidden.
// Stops when the browser is closed.
template <typename Visit> void visitShown(const TrackMap &tracks, const manager::ViewInput &input, Visit visit)
{
    if (input.shown) {
        for (const auto &[t, texts] : *input.shown) {
            if (browserClosed(input))
                return;
            visit(*t, texts);
        }
        return;
    }
    TextsCursor cursor(input.texts.get());
    for (const track &t : tracks) {
        if (browserClosed(input))
            return;
        const manager::TrackTexts *texts = cursor.next(t);
        if (!t.isHidden)
            visit(t, texts);
    }
}

std::array<QString, 3> rowKeys(DetailOrder order, const DetailedDataModel *row)
{
    return detailKeys(order, textKey(row->albumname()), textKey(row->artistname()), textKey(row->tracktitle()),
                      textKey(row->genre()));
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
    struct Counted
    {
        QSet<QString> albums; // lower case
        QSet<QString> paths;
    };
    QHash<QString, Counted> artists;
    LowerCase lowered;

    ArtistCounts() = default;
    ArtistCounts(const TrackMap &tracks, bool isMain, int mediaTypeFilter, const QString *onlyArtist = nullptr)
    {
        for (const track &t : tracks) {
            if (!onlyArtist || t.artistName == *onlyArtist)
                add(t, isMain, mediaTypeFilter);
        }
    }
    // Only the artists named: a search shows few, and counting the others
    // is most of a keystroke's work.
    ArtistCounts(const TrackMap &tracks, bool isMain, int mediaTypeFilter, const QSet<QString> &onlyArtists)
    {
        for (const track &t : tracks) {
            if (onlyArtists.contains(t.artistName))
                add(t, isMain, mediaTypeFilter);
        }
    }

    void add(const track &t, bool isMain, int mediaTypeFilter)
    {
        const bool album = countsForAlbums(t, isMain, mediaTypeFilter);
        const bool path = countsForTracks(t, isMain, mediaTypeFilter);
        if (!album && !path)
            return;
        Counted &counted = artists[t.artistName];
        if (album)
            counted.albums.insert(lowered.of(t.albumName));
        if (path)
            counted.paths.insert(t.filepath);
    }

    int albumCount(const QString &artist) const
    {
        const auto found = artists.constFind(artist);
        return found == artists.cend() ? 0 : int(found->albums.size());
    }
    int trackCount(const QString &artist) const
    {
        const auto found = artists.constFind(artist);
        return found == artists.cend() ? 0 : int(found->paths.size());
    }
};

// The artist's cover list after t: covers of its albums, real pictures in
// front, placeholders behind; a playlist entry keeps only playlist covers.
using CoverLists = QMap<QString, QStringList>;

// What the artist builder keeps for each artist's name as the tracks spell
// it: its entry in the cover lists (whose keys are lower case: lowering and
// finding it for every track costs more than the rest of the update; entries
// of a QMap stay where they are while others are added), the cover last
// found in it with the list it was found in, and its row.
template <typename Row> struct ArtistSeen
{
    CoverLists::iterator entry;
    bool hasEntry = false;
    QString lastCover;
    // Shares the entry's data while no other spelling of the name has changed
    // it; holding it keeps that data from being freed and its address reused.
    QStringList lastList;
    Row *row = nullptr;
};

// Whether a and b are one text (the same data): then they are equal
// without a comparison.
bool sameText(const QString &a, const QString &b)
{
    return a.constData() == b.constData() && a.size() == b.size();
}

template <typename Row>
QStringList updateCoverList(CoverLists &lists, ArtistSeen<Row> &seen, const track &t, const QString &cover)
{
    const QString path = QDir::fromNativeSeparators(cover);
    if (!seen.hasEntry) {
        seen.hasEntry = true;
        const QString key = t.artistName.toLower();
        seen.entry = lists.find(key);
        if (seen.entry == lists.end()) {
            seen.entry = lists.insert(key, QStringList{path});
            seen.lastCover = path;
            seen.lastList = seen.entry.value();
            return seen.entry.value();
        }
    }
    const CoverLists::iterator entry = seen.entry;
    // The tracks of an album carry one cover text: found again at once, as
    // long as the entry is the list it was found in.  Spellings that lower-case
    // alike share the entry, and a playlist entry of one of them may have
    // dropped the cover since.
    if ((sameText(path, seen.lastCover) && entry->constData() == seen.lastList.constData()) ||
        entry->contains(path)) {
        seen.lastCover = path;
        seen.lastList = entry.value();
        return entry.value();
    }
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
    // A cover this track's kind of list drops is not "found" for the next.
    seen.lastCover = list.contains(path) ? path : QString();
    entry.value() = list;
    seen.lastList = list;
    return list;
}

// Rows collected by key, then visited in key order (the order a QMap would
// give): a hash look-up per track, and sorting only the distinct keys.
template <typename Value>
class KeyedRows
{
public:
    // The row of `key`, made when new.
    Value &operator[](const QString &key)
    {
        auto found = byKey.constFind(key);
        if (found == byKey.cend())
            found = byKey.insert(key, &rows.emplace_back(key, Value()).second);
        return *found.value();
    }
    void insert(const QString &key, const Value &value) { (*this)[key] = value; }
    void reserve(size_t keys) { byKey.reserve(qsizetype(keys)); }
    // The row of keyOf(text), found through `text` itself: the tracks of an
    // album carry the same name, so its key is worked out once per text.
    template <typename KeyOf> Value &of(const QString &text, KeyOf keyOf)
    {
        auto found = byText.constFind(text);
        if (found == byText.cend())
            found = byText.insert(text, &(*this)[keyOf(text)]);
        return *found.value();
    }

    std::vector<std::pair<const QString *, const Value *>> sorted() const
    {
        std::vector<std::pair<const QString *, const Value *>> ordered;
        ordered.reserve(rows.size());
        for (const auto &[key, value] : rows)
            ordered.emplace_back(&key, &value);
        std::sort(ordered.begin(), ordered.end(), [](const auto &a, const auto &b) { return *a.first < *b.first; });
        return ordered;
    }

private:
    std::deque<std::pair<QString, Value>> rows; // stays where it is while rows are added
    QHash<QString, Value *> byKey;
    QHash<QString, Value *> byText;
};

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
    int digits = 1;
    for (; value >= 10 || value <= -10; value /= 10)
        ++digits;
    return value < 0 ? digits + 1 : digits;
}

QString rowKey(const QString &groupKey, int row, int digits, GroupKind kind)
{
    const QChar letter = QChar(QLatin1Char('a').unicode() + (row < 100 ? 0 : row / 100));
    // Rows 1 and 2, and every row of a track group, are numbered to one
    // digit more than the group's row count has; later playlist rows to two.
    const int width = row > 2 && kind == GroupKind::Playlists ? 2 : digits + 1;
    // Written in place: a view of 100,000 tracks has tens of thousands of rows.
    const int length = decimalDigits(row);
    QString key(groupKey.size() + 1 + std::max(width, length), Qt::Uninitialized);
    QChar *out = std::copy(groupKey.cbegin(), groupKey.cend(), key.begin());
    *out++ = letter;
    out = std::fill_n(out, std::max(width - length, 0), QLatin1Char('0'));
    for (int n = row, at = length - 1; at >= 0; n /= 10, --at)
        out[at] = QLatin1Char(char('0' + n % 10));
    return key;
}

using SortedGroups = std::vector<std::pair<const QString *, const Group *>>;

using RowTracks = manager::ViewResult::RowTracks;

// The rows of groups [from, to) of `sorted`, children of `owner`, into
// `models`; with `noted`, their tracks' ids into it.
void makeRowsOf(SortedGroups::const_iterator from, SortedGroups::const_iterator to, GroupKind kind, QObject *owner,
                QMap<QString, QObject *> &models, RowTracks *noted)
{
    for (; from != to; ++from) {
        const auto &[groupKey, groupValue] = *from;
        const Group &group = *groupValue;
        // A search often leaves one track of a group: nothing to sort.
        std::vector<GroupEntry> ordered;
        if (group.entries.size() > 1) {
            ordered = group.entries;
            std::stable_sort(ordered.begin(), ordered.end(), [](const GroupEntry &a, const GroupEntry &b) {
                if (a.t->tracknumber != b.t->tracknumber)
                    return a.t->tracknumber < b.t->tracknumber;
                return textKey(a.t->trackname) < textKey(b.t->trackname);
            });
        }
        const std::vector<GroupEntry> &sorted = ordered.empty() ? group.entries : ordered;

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
            QList<TrackDataModel::Line> tracks;
            tracks.reserve(std::clamp(count - (row - 1) * 6, 0, 6));
            for (int i = (row - 1) * 6; i < std::min(row * 6, count); ++i) {
                const track &t = *sorted[size_t(i)].t;
                tracks.append({t.id, t.tracknumber, wholeSeconds(t.duration), t.trackname, t.ReleaseDate, t.artistName,
                               t.albumName, t.genre, sorted[size_t(i)].selected, t.filepath});
            }
            const bool second = row == 2;
            auto *model = new TrackDataModel(albumid, albumname, second ? artistname : QString(),
                                             second ? first.genre : QString(), second ? year : 0, group.selected, true,
                                             row == 1 ? group.cover : QStringLiteral("no"), std::move(tracks), owner);
            if (row == 1)
                model->setGroupRows(rows);
            models.insert(models.cend(), rowKey(*groupKey, row, digits, kind), model);
            if (noted) {
                for (int i = (row - 1) * 6; i < std::min(row * 6, count); ++i)
                    noted->ids.push_back(sorted[size_t(i)].t->id);
                noted->rowStarts.push_back(int(noted->ids.size()));
            }
        }
        if (noted)
            noted->groupStarts.push_back(int(noted->rowStarts.size()) - 1);
    }
}

// Makes the second half of a large view's rows while the first is made.
// Its tasks wait for nothing, so a builder on any pool may wait for them.
QThreadPool *rowsPool()
{
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool;
        p->setMaxThreadCount(2);
        return p;
    }();
    return pool;
}

// Turns the groups into rows of at most six tracks: row 1 carries the cover,
// row 2 the artist, genre and year (and exists even for a short group).
// `noteTracks`: with the ids of each row's tracks.
void makeRows(const KeyedRows<Group> &groups, GroupKind kind, manager::ViewResult &result, bool noteTracks = false)
{
    // A search keystroke may leave thousands of groups, each made into rows
    // of their own: two threads make them.
    constexpr size_t splitFrom = 2000;
    const SortedGroups sorted = groups.sorted();
    QObject *owner = result.owner.get();
    std::shared_ptr<RowTracks> noted = noteTracks ? std::make_shared<RowTracks>() : nullptr;
    result.rowTracks = noted;
    if (sorted.size() < splitFrom || QThread::idealThreadCount() < 2) {
        makeRowsOf(sorted.cbegin(), sorted.cend(), kind, owner, result.models, noted.get());
        return;
    }
    const auto half = sorted.cbegin() + qsizetype(sorted.size() / 2);
    QThread *const here = QThread::currentThread();
    QObject *secondOwner = nullptr;
    QMap<QString, QObject *> models;
    QSemaphore made;
    // A busy machine may not run it soon: then this thread makes it too,
    // rather than wait for another to start.
    struct SecondHalf : QRunnable
    {
        std::function<void()> work;
        void run() override { work(); }
    } second;
    second.setAutoDelete(false);
    RowTracks secondNoted;
    second.work = [&] {
        secondOwner = new QObject;
        makeRowsOf(half, sorted.cend(), kind, secondOwner, models, noted ? &secondNoted : nullptr);
        secondOwner->moveToThread(here); // to join the first half's owner
        made.release();
    };
    rowsPool()->start(&second);
    makeRowsOf(sorted.cbegin(), half, kind, owner, result.models, noted.get());
    if (rowsPool()->tryTake(&second))
        second.run();
    made.acquire();
    secondOwner->setParent(owner);
    for (auto row = models.cbegin(); row != models.cend(); ++row)
        result.models.insert(result.models.cend(), row.key(), row.value());
    if (noted) {
        // The second half's places follow the first's.
        const int ids = int(noted->ids.size());
        const int rows = int(noted->rowStarts.size()) - 1;
        noted->ids.insert(noted->ids.end(), secondNoted.ids.cbegin(), secondNoted.ids.cend());
        for (auto start = secondNoted.rowStarts.cbegin() + 1; start != secondNoted.rowStarts.cend(); ++start)
            noted->rowStarts.push_back(*start + ids);
        for (auto start = secondNoted.groupStarts.cbegin() + 1; start != secondNoted.groupStarts.cend(); ++start)
            noted->groupStarts.push_back(*start + rows);
    }
}

// Tracks a builder is given out of the library, in id order: a walk of the
// whole map picks them once for several builders.
class PickedTracks
{
public:
    class const_iterator
    {
    public:
        explicit const_iterator(std::vector<const track *>::const_iterator position) : at(position) {}
        const track &operator*() const { return **at; }
        const_iterator &operator++()
        {
            ++at;
            return *this;
        }
        bool operator!=(const const_iterator &other) const { return at != other.at; }

    private:
        std::vector<const track *>::const_iterator at;
    };

    void add(const track &t) { picked.push_back(&t); }
    const_iterator begin() const { return const_iterator(picked.cbegin()); }
    const_iterator end() const { return const_iterator(picked.cend()); }

private:
    std::vector<const track *> picked;
};

template <typename Tracks> manager::ViewResult playlistView(const Tracks &tracks, const manager::ViewInput &input)
{
    manager::ViewResult result = startResult();
    const QSet<int> checkedTracks = toSet(input.checkedTrackIds);
    const QSet<int> checkedPlaylists = toSet(input.checkedPlaylistIds);
    const bool playlistCategory = input.mediaTypeFilter == MediaPlaylists;
    QSet<int> tickedArtists; // artists of ticked tracks met so far
    KeyedRows<Group> groups;
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

template <typename Tracks> manager::ViewResult podcastView(const Tracks &tracks, const manager::ViewInput &input)
{
    manager::ViewResult result = startResult();
    const QSet<int> checked = toSet(input.checkedAlbumIds);
    KeyedRows<Group> groups;
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

template <typename Tracks> manager::ViewResult audiobookView(const Tracks &tracks, const manager::ViewInput &input)
{
    manager::ViewResult result = startResult();
    const QSet<int> checked = toSet(input.checkedAlbumIds);
    QMap<QString, const track *> rows; // the highest id of an album name wins
    for (const track &t : tracks) {
        if (t.isAudiobook && !t.isVideo)
            rows.insert(t.albumName, &t);
    }
    for (auto row = rows.cbegin(); row != rows.cend(); ++row) {
        const track &t = *row.value();
        result.models.insert(row.key(),
                             new AlbumDataModel(t.album_id, t.albumName, t.artistName, t.quality,
                                                contains(checked, t.album_id), true, t.cover, result.owner.get()));
    }
    finish(result, input);
    return result;
}

template <typename Tracks> manager::ViewResult videoView(const Tracks &tracks, const manager::ViewInput &input)
{
    manager::ViewResult result = startResult();
    const QSet<int> checked = toSet(input.checkedTrackIds);
    // One row per file, the highest id winning.  Clips that merely share a
    // name (camera names repeat across cards) are files of their own, and
    // each keeps a row the user can tick: numbered as the browser numbers
    // them ("clip.mp4", "clip.mp41" ...).
    QMap<QString, const track *> rows;
    QHash<QString, QString> keyOfFile;
    QHash<QString, int> filesOfName;
    for (const track &t : tracks) {
        if (!t.isVideo)
            continue;
        auto key = keyOfFile.find(t.filepath);
        if (key == keyOfFile.end()) {
            const int repeat = filesOfName[t.filename]++;
            key = keyOfFile.insert(t.filepath, repeat ? t.filename + QString::number(repeat) : t.filename);
        }
        rows.insert(*key, &t);
    }
    for (auto row = rows.cbegin(); row != rows.cend(); ++row) {
        const track &t = *row.value();
        result.models.insert(row.key(), new AlbumDataModel(t.id, t.filename, QString(), t.quality,
                                                           contains(checked, t.id), true, t.cover, result.owner.get()));
    }
    finish(result, input);
    return result;
}

} // namespace

namespace {

// The library views are built side by side on a pool of their own: a
// rebuild itself runs on the global pool, and must never wait there for work
// queued behind it.  The builders only read the track map.
QThreadPool *viewsPool()
{
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool;
        p->setMaxThreadCount(qMax(1, QThread::idealThreadCount()));
        return p;
    }();
    return pool;
}

// The library artist view's counts are taken here while its rows are
// built (on the views pool, which must not wait for work queued to itself).
QThreadPool *countsPool()
{
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool;
        p->setMaxThreadCount(qMax(1, QThread::idealThreadCount()));
        return p;
    }();
    return pool;
}

struct SmallViews
{
    manager::ViewResult playlists, podcasts, audiobooks, videos;
};

} // namespace

manager::LibraryViews manager::buildLibraryViews(const TrackMap &libraryTracks, const ViewInput &input)
{
    ViewInput library = input;
    library.artistCoverArt.clear();
    // Rows made on the pool are handed to the thread that asks (or the one it names).
    if (!library.rowThread)
        library.rowThread = QThread::currentThread();

    QFuture<ViewResult> artists =
        QtConcurrent::run(viewsPool(), [&] { return Get_Artistlist(true, libraryTracks, library); });
    QFuture<ViewResult> trackRows =
        QtConcurrent::run(viewsPool(), [&] { return Get_Tracklist(true, libraryTracks, library); });
    QFuture<SmallViews> small = QtConcurrent::run(viewsPool(), [&] {
        // The playlist, podcast, audiobook and video builders each take only
        // a few of the tracks: one walk sorts those out for them (in id
        // order, as the whole map would give them) instead of a walk of the
        // whole map each.
        PickedTracks playlists, podcasts, audiobooks, videos;
        for (const track &t : libraryTracks) {
            if (t.isVideo) {
                videos.add(t);
                continue;
            }
            if (!t.playlist.isEmpty())
                playlists.add(t);
            if (t.isPodcast)
                podcasts.add(t);
            if (t.isAudiobook)
                audiobooks.add(t);
        }
        SmallViews views;
        views.playlists = playlistView(playlists, library);
        views.podcasts = podcastView(podcasts, library);
        views.audiobooks = audiobookView(audiobooks, library);
        views.videos = videoView(videos, library);
        return views;
    });

    LibraryViews views;
    views.albumModels = Get_Albumlist(true, libraryTracks, library);
    views.artistModels = artists.result();
    views.ArtistCoverartList = views.artistModels.artistCoverArt;
    views.trackRowModels = trackRows.result();
    SmallViews rest = small.result();
    views.playlistModels = std::move(rest.playlists);
    views.podcastModels = std::move(rest.podcasts);
    views.audiobookModels = std::move(rest.audiobooks);
    views.videoModels = std::move(rest.videos);
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
    if (isMain) {
        const QSet<int> checked = toSet(input.checkedAlbumIds);
        KeyedRows<const track *> rows;
        for (const track &t : tracks) {
            if (inMediaCategory(t, MediaMusic))
                rows.of(t.albumName, textKey) = &t;
        }
        for (const auto &[key, row] : rows.sorted()) {
            const track &t = **row;
            result.models.insert(result.models.cend(), *key,
                                 new AlbumDataModel(t.album_id, t.albumName, t.artistName, t.quality,
                                                    contains(checked, t.album_id), true, covers.coverOf(t, true, true),
                                                    owner));
        }
        finish(result, input);
        return result;
    }

    const bool videos = input.mediaTypeFilter == MediaVideos;
    KeyedRows<const track *> rows; // the last track of a key gives its row
    DetailLines details(DetailOrder::Album, input.texts.get());
    QSet<QString> seen(result.seenVideoTitles.cbegin(), result.seenVideoTitles.cend());
    int repeat = 1;
    visitShown(tracks, input, [&](const track &t, const TrackTexts *texts) {
        if (!inMediaCategory(t, input.mediaTypeFilter))
            return;
        if (videos) {
            QString key = t.filename;
            if (seen.contains(t.filename)) {
                key += QString::number(repeat++);
            } else {
                seen.insert(t.filename);
                result.seenVideoTitles.append(t.filename);
            }
            if (input.rows)
                rows[key] = &t;
        } else if (input.rows) {
            rows[t.albumName] = &t;
        }
        if (input.details)
            details.add(t, texts, videos);
    });
    for (const auto &[key, row] : rows.sorted()) {
        const track &t = **row;
        const QString cover = covers.coverOf(t, false, true);
        auto *model =
            videos ? new AlbumDataModel(t.id, t.filename, QString(), t.quality, false, true, cover, owner)
                   : new AlbumDataModel(t.album_id, t.albumName, t.artistName, t.quality, false, true, cover, owner);
        result.models.insert(result.models.cend(), *key, model);
    }
    result.details = details.make(owner);
    finish(result, input);
    return result;
}

manager::ViewResult manager::Get_Artistlist(bool isMain, const TrackMap &tracks, const ViewInput &input)
{
    ViewResult result = startResult();
    result.artistCoverArt = input.artistCoverArt;
    QObject *owner = result.owner.get();
    const int filter = input.mediaTypeFilter;
    // Videos have no artist rows; a music row must carry no playlist id.
    const auto shownHere = [filter](const track &t) {
        return filter != MediaVideos && inMediaCategory(t, filter) && !(filter == MediaMusic && t.playlist_id != 0);
    };
    if (!isMain && !input.rows) {
        // The detail lines alone: the cover lists and counts go with the rows.
        DetailLines details(DetailOrder::Artist, input.texts.get());
        if (input.details) {
            visitShown(tracks, input, [&](const track &t, const TrackTexts *texts) {
                if (shownHere(t))
                    details.add(t, texts);
            });
        }
        result.details = details.make(owner);
        finish(result, input);
        return result;
    }
    CoverRule covers;
    // The library's counts are taken on a thread of their own meanwhile;
    // the browser's (a closed browser cuts its walk short) before the rows.
    QFuture<ArtistCounts> libraryCounts;
    if (isMain)
        libraryCounts = QtConcurrent::run(countsPool(), [&tracks, filter] { return ArtistCounts(tracks, true, filter); });
    ArtistCounts counts;
    const QSet<int> checked = toSet(input.checkedArtistIds);
    // Key -> the artist's last qualifying track and its cover list then.
    using Row = std::pair<const track *, QStringList>;
    KeyedRows<Row> rows;
    QHash<QString, ArtistSeen<Row>> seenArtists;
    DetailLines details(DetailOrder::Artist, input.texts.get());
    ArtistSeen<Row> *previous = nullptr; // the last track's artist: often this one's too
    QString previousName;
    // False once the browser is closed.
    const auto visit = [&](const track &t, const TrackTexts *trackTexts) {
        if (!previous || !sameName(previousName, t.artistName)) {
            // Valid until the next insertion, which only another artist makes.
            previous = &seenArtists[t.artistName];
            previousName = t.artistName;
        }
        ArtistSeen<Row> &seen = *previous;
        QStringList coverList = updateCoverList(result.artistCoverArt, seen, t, covers.coverOf(t, isMain, false));
        if (isMain) {
            if (inMediaCategory(t, MediaMusic)) {
                if (!seen.row)
                    seen.row = &rows[t.artistName];
                *seen.row = {&t, coverList};
            }
            return true;
        }
        if (browserClosed(input))
            return false;
        if (t.isHidden || !shownHere(t))
            return true;
        if (filter == MediaPlaylists)
            coverList = QStringList{playlistCoverUrl};
        rows.insert(t.artistName, {&t, coverList});
        if (input.details)
            details.add(t, trackTexts);
        return true;
    };
    if (!isMain && input.shown) {
        // A search of the artists' names shows whole artists: every track
        // whose artist's name lower-cases alike, which is all that artist's
        // cover list is gathered from.  The others' lists stay as they were.
        for (const auto &[t, trackTexts] : *input.shown) {
            if (!visit(*t, trackTexts))
                break;
        }
    } else {
        TextsCursor texts(input.texts.get());
        for (const track &t : tracks) {
            if (!visit(t, isMain ? nullptr : texts.next(t)))
                break;
        }
    }
    const auto sortedRows = rows.sorted();
    if (isMain) {
        counts = libraryCounts.result();
    } else if (!input.artistCounts) {
        QSet<QString> shown;
        for (const auto &[key, row] : sortedRows)
            shown.insert(row->first->artistName);
        counts = ArtistCounts(tracks, isMain, filter, shown);
    }
    for (const auto &[key, row] : sortedRows) {
        const track &t = *row->first;
        const bool selected = isMain && contains(checked, t.artist_id);
        const std::pair<int, int> counted =
            input.artistCounts && !isMain ? input.artistCounts->value(t.artistName)
                                          : std::pair(counts.albumCount(t.artistName), counts.trackCount(t.artistName));
        result.models.insert(result.models.cend(), *key,
                             new ArtistDataModel(t.artist_id, counted.first, counted.second, t.artistName, t.quality,
                                                 selected, true, row->second, owner));
    }
    result.details = details.make(owner);
    finish(result, input);
    return result;
}

manager::ViewResult manager::Get_Tracklist(bool isMain, const TrackMap &tracks, const ViewInput &input)
{
    ViewResult result = startResult();
    QObject *owner = result.owner.get();
    CoverRule covers;
    const QSet<int> checked = toSet(input.checkedTrackIds);
    KeyedRows<Group> groups;
    const auto add = [&](const track &t, bool selected) {
        Group &group = groups.of(t.albumName, textKey);
        if (!group.first) {
            group.first = &t;
            group.cover = covers.coverOf(t, isMain, false);
        }
        group.selected = selected;
        group.entries.push_back({&t, selected});
    };
    if (isMain) {
        for (const track &t : tracks) {
            if (inMediaCategory(t, MediaMusic))
                add(t, contains(checked, t.id));
        }
        makeRows(groups, GroupKind::Tracks, result);
        finish(result, input);
        return result;
    }
    DetailLines details(DetailOrder::Title, input.texts.get());
    if (input.shown)
        groups.reserve(input.shown->size());
    Group *last = nullptr; // an album's tracks follow each other
    const QString *lastKey = nullptr;
    visitShown(tracks, input, [&](const track &t, const TrackTexts *texts) {
        // Videos have no track rows.
        if (input.mediaTypeFilter == MediaVideos || !inMediaCategory(t, input.mediaTypeFilter))
            return;
        if (input.rows && texts) {
            // The album's key is its lower-cased name, worked out already.
            if (!last || !sameName(*lastKey, texts->album)) {
                last = &groups[texts->album];
                lastKey = &texts->album;
            }
            if (!last->first) {
                last->first = &t;
                last->cover = covers.coverOf(t, isMain, false);
            }
            last->entries.push_back({&t, false});
        } else if (input.rows) {
            add(t, false);
        }
        if (input.details)
            details.add(t, texts);
    });
    makeRows(groups, GroupKind::Tracks, result, true);
    result.details = details.make(owner);
    finish(result, input);
    return result;
}

manager::ViewResult manager::Get_Playlist(const TrackMap &tracks, const ViewInput &input)
{
    return playlistView(tracks, input);
}

manager::ViewResult manager::Get_Podcastlist(const TrackMap &tracks, const ViewInput &input)
{
    return podcastView(tracks, input);
}

manager::ViewResult manager::Get_Audiobooklist(const TrackMap &tracks, const ViewInput &input)
{
    return audiobookView(tracks, input);
}

manager::ViewResult manager::Get_Videolist(const TrackMap &tracks, const ViewInput &input)
{
    return videoView(tracks, input);
}

manager::ViewResult manager::refrechVideoView(const TrackMap &libraryTracks, const ViewInput &input)
{
    return Get_Videolist(libraryTracks, input);
}

manager::TrackTexts::TrackTexts(const track &t)
    : id(t.id), album(textKey(t.albumName)), artist(textKey(t.artistName)), title(textKey(t.trackname)),
      genre(textKey(t.genre)), file(textKey(t.filename)), albumName(t.albumName), artistName(t.artistName),
      trackname(t.trackname), genreName(t.genre), filename(t.filename)
{
}

const std::vector<int> &manager::TrackTextList::ranks(Order order) const
{
    std::call_once(ranked[order], [this, order] {
        const auto keys = [this, order](int index) {
            const TrackTexts &texts = (*this)[size_t(index)];
            switch (order) {
            case ByArtist:
                return std::tie(texts.artist, texts.title, texts.genre);
            case ByTitle:
                return std::tie(texts.title, texts.album, texts.genre);
            case ByAlbumAndFile:
                return std::tie(texts.album, texts.file, texts.genre);
            default:
                return std::tie(texts.album, texts.title, texts.genre);
            }
        };
        std::vector<int> sorted(size());
        for (size_t i = 0; i < sorted.size(); ++i)
            sorted[i] = int(i);
        std::stable_sort(sorted.begin(), sorted.end(), [&keys](int a, int b) { return keys(a) < keys(b); });
        std::vector<int> &place = places[order];
        place.resize(sorted.size());
        for (size_t at = 0; at < sorted.size(); ++at)
            place[size_t(sorted[at])] = int(at);
    });
    return places[order];
}

bool manager::TrackTexts::of(const track &t) const
{
    return id == t.id && sameName(albumName, t.albumName) && sameName(artistName, t.artistName) &&
           sameName(trackname, t.trackname) && sameName(genreName, t.genre) && sameName(filename, t.filename);
}

std::shared_ptr<const manager::TrackTextList> manager::textsOf(const TrackMap &tracks)
{
    auto texts = std::make_shared<TrackTextList>();
    texts->reserve(size_t(tracks.size()));
    for (const track &t : tracks)
        texts->emplace_back(t);
    return texts;
}

bool manager::textsAreOf(const TrackTextList *texts, const TrackMap &tracks)
{
    if (!texts || texts->size() != size_t(tracks.size()))
        return false;
    auto text = texts->cbegin();
    for (const track &t : tracks) {
        if (!(text++)->of(t))
            return false;
    }
    return true;
}

std::shared_ptr<const manager::ArtistCountList> manager::browserArtistCounts(const TrackMap &tracks,
                                                                             int mediaTypeFilter)
{
    const ArtistCounts counts(tracks, false, mediaTypeFilter);
    auto list = std::make_shared<ArtistCountList>();
    list->reserve(counts.artists.size());
    for (auto it = counts.artists.cbegin(); it != counts.artists.cend(); ++it)
        list->insert(it.key(), {int(it->albums.size()), int(it->paths.size())});
    return list;
}

QList<int> manager::browserCategoryCounts(const TrackMap &tracks)
{
    QList<int> counts(MediaVideos + 1, 0);
    for (const track &t : tracks) {
        for (int category = MediaMusic; category <= MediaVideos; ++category) {
            if (inMediaCategory(t, category))
                ++counts[category];
        }
    }
    return counts;
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
    return rowKeys(DetailOrder::Album, a) < rowKeys(DetailOrder::Album, b);
}

bool manager::artistNameComparer(const DetailedDataModel *a, const DetailedDataModel *b)
{
    return rowKeys(DetailOrder::Artist, a) < rowKeys(DetailOrder::Artist, b);
}

bool manager::trackTitleDetailComparer(const DetailedDataModel *a, const DetailedDataModel *b)
{
    return rowKeys(DetailOrder::Title, a) < rowKeys(DetailOrder::Title, b);
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
