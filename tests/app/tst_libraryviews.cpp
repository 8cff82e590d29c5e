#include <QFile>
#include <QtTest>

#include <algorithm>
#include <atomic>

#include "app/albumdatamodel.h"
#include "app/artistdatamodel.h"
#include "app/detaileddatamodel.h"
#include "app/manager.h"
#include "app/trackdatamodel.h"
#include "app/tracklist.h"
#include "core/shared.h"
#include "testenv.h"

namespace {

const QString placeholder = QStringLiteral("qrc:///resources/photos/no_artwork.png");

track music(int id, const QString &album, const QString &artist = QStringLiteral("Artist"), int number = 0,
            const QString &title = QString())
{
    track t;
    t.id = id;
    t.album_id = 100 + id;
    t.artist_id = 200 + id;
    t.albumName = album;
    t.artistName = artist;
    t.trackname = title.isEmpty() ? QStringLiteral("Title %1").arg(id) : title;
    t.tracknumber = number;
    t.filename = QStringLiteral("t%1.mp3").arg(id);
    t.filepath = QStringLiteral("/lib/%1/t%2.mp3").arg(album).arg(id);
    t.cover = QStringLiteral("/art/%1.jpg").arg(album);
    t.genre = QStringLiteral("Genre %1").arg(id);
    t.year = 1990 + id;
    t.duration = 180.7;
    return t;
}

track video(int id, const QString &filename, const QString &folder)
{
    track t = music(id, QStringLiteral("Clips"));
    t.isVideo = true;
    t.filename = filename;
    t.filepath = folder + QLatin1Char('/') + filename;
    t.cover = folder + QStringLiteral("/thumb.png");
    return t;
}

TrackMap mapOf(const QList<track> &tracks)
{
    TrackMap map;
    for (const track &t : tracks)
        map.insert(t.id, t);
    return map;
}

template <typename Row> Row *row(const manager::ViewResult &result, const QString &key)
{
    return qobject_cast<Row *>(result.models.value(key));
}

QList<int> trackIdsOf(const QObject *group)
{
    QList<int> ids;
    for (const QObject *t : qobject_cast<const TrackDataModel *>(group)->tracklist())
        ids.append(qobject_cast<const TrackList *>(t)->trackid());
    return ids;
}

// Track ids shown anywhere in a grouped view.
QSet<int> groupedIds(const manager::ViewResult &result)
{
    QSet<int> ids;
    for (const QObject *group : result.models) {
        const QList<int> rowIds = trackIdsOf(group);
        ids.unite(QSet<int>(rowIds.cbegin(), rowIds.cend()));
    }
    return ids;
}

} // namespace

class TestLibraryViews : public QObject
{
    Q_OBJECT

private slots:
    void albumNamesDifferingInCase();
    void sameNamedVideosInTheBrowser();
    void coverRule_data();
    void coverRule();
    void downloadedArtworkOnlyInTheLibrary();
    void artistRowsAndCounts();
    void groupRows_data();
    void groupRows();
    void rockAndRock();
    void whereEachKindLands();
    void trackLines();
    void browserStopsWhenClosed();
    void videoView();
    void comparersAreStrictWeakOrders();
    void detailListsSortByTheirKeys();
    void playlistGroupTick_data();
    void playlistGroupTick();
    void browserArtists();
};

void TestLibraryViews::albumNamesDifferingInCase()
{
    track lower = music(2, QStringLiteral("blue"), QStringLiteral("Second"));
    lower.quality = 2;
    const TrackMap tracks = mapOf({music(1, QStringLiteral("Blue"), QStringLiteral("First")), lower});
    manager::ViewInput input;
    input.checkedAlbumIds = {102};
    const manager::ViewResult library = manager::Get_Albumlist(true, tracks, input);
    QCOMPARE(library.models.keys(), QStringList{QStringLiteral("blue")});
    const auto *album = row<AlbumDataModel>(library, QStringLiteral("blue"));
    QCOMPARE(album->albumid(), 102);
    QCOMPARE(album->artistname(), QStringLiteral("Second"));
    QCOMPARE(album->quality(), 2);
    QVERIFY(album->selected());
    QVERIFY(library.details.isEmpty());            // library mode leaves the browser's lists alone
    QCOMPARE(library.owner->children().size(), 1); // the replaced row was never made

    const manager::ViewResult browser = manager::Get_Albumlist(false, tracks, input);
    QCOMPARE(browser.models.keys(), (QStringList{QStringLiteral("Blue"), QStringLiteral("blue")}));
    QCOMPARE(browser.details.size(), 2);
}

void TestLibraryViews::sameNamedVideosInTheBrowser()
{
    const TrackMap tracks = mapOf({video(1, QStringLiteral("clip.mp4"), QStringLiteral("/a")),
                                   video(2, QStringLiteral("clip.mp4"), QStringLiteral("/b")),
                                   video(3, QStringLiteral("other.mp4"), QStringLiteral("/c")),
                                   video(4, QStringLiteral("clip.mp4"), QStringLiteral("/d"))});
    manager::ViewInput input;
    input.mediaTypeFilter = 4;
    const manager::ViewResult result = manager::Get_Albumlist(false, tracks, input);
    QCOMPARE(result.models.keys(), (QStringList{QStringLiteral("clip.mp4"), QStringLiteral("clip.mp41"),
                                                QStringLiteral("clip.mp42"), QStringLiteral("other.mp4")}));
    const auto *second = row<AlbumDataModel>(result, QStringLiteral("clip.mp41"));
    QCOMPARE(second->albumid(), 2);
    QCOMPARE(second->coverart(), QStringLiteral("/b/thumb.png"));
    QCOMPARE(qobject_cast<DetailedDataModel *>(result.details.first())->year(), 180); // whole seconds
    // Titles seen by an earlier build of the same browser count as repeats.
    input.seenVideoTitles = result.seenVideoTitles;
    const manager::ViewResult again =
        manager::Get_Albumlist(false, mapOf({video(5, QStringLiteral("other.mp4"), QStringLiteral("/e"))}), input);
    QCOMPARE(again.models.keys(), QStringList{QStringLiteral("other.mp41")});
}

void TestLibraryViews::coverRule_data()
{
    QTest::addColumn<QString>("album");
    QTest::addColumn<QString>("cover");
    QTest::addColumn<QString>("shown");
    QTest::addRow("empty cover") << "Blue" << "" << placeholder;
    QTest::addRow("own cover kept") << "Blue" << "/art/blue.jpg" << "/art/blue.jpg";
    QTest::addRow("unknown album, unrelated cover") << "UNKNOWN" << "/art/folder.jpg" << placeholder;
    QTest::addRow("unknown album, cover named after it (cleaned)")
        << "Unknown: Live!" << "/art/Unknown Live.png" << "/art/Unknown Live.png";
}

void TestLibraryViews::coverRule()
{
    QFETCH(QString, album);
    QFETCH(QString, cover);
    QFETCH(QString, shown);
    track t = music(1, album);
    t.cover = cover;
    const TrackMap tracks = mapOf({t});
    QCOMPARE(row<AlbumDataModel>(manager::Get_Albumlist(true, tracks, {}), album.toLower())->coverart(), shown);
    QCOMPARE(row<TrackDataModel>(manager::Get_Tracklist(true, tracks, {}), album.toLower() + "a01")->coverart(), shown);
    QCOMPARE(row<ArtistDataModel>(manager::Get_Artistlist(true, tracks, {}), "Artist")->coverart(), QStringList{shown});
}

void TestLibraryViews::downloadedArtworkOnlyInTheLibrary()
{
    const QString folder = shared::dataLocation() + QStringLiteral("/Corvane-Media-Organiser/Artwork/Download");
    QVERIFY(QDir().mkpath(folder));
    const QString downloaded = folder + QStringLiteral("/Greatest Hits Vol 2.png");
    QFile file(downloaded);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("png") == 3);
    file.close();
    track t = music(1, QStringLiteral("Greatest Hits (Vol. 2)"));
    t.cover = placeholder;
    const TrackMap tracks = mapOf({t});
    QCOMPARE(row<AlbumDataModel>(manager::Get_Albumlist(true, tracks, {}), "greatest hits (vol. 2)")->coverart(),
             downloaded);
    QCOMPARE(row<AlbumDataModel>(manager::Get_Albumlist(false, tracks, {}), "Greatest Hits (Vol. 2)")->coverart(),
             placeholder);
    QVERIFY(QFile::remove(downloaded));
}

void TestLibraryViews::artistRowsAndCounts()
{
    track a1 = music(1, QStringLiteral("One"), QStringLiteral("Ann"));
    track a2 = music(2, QStringLiteral("ONE"), QStringLiteral("Ann")); // same album, other case
    track a3 = music(3, QStringLiteral("Two"), QStringLiteral("Ann"));
    a3.filepath = a1.filepath; // same file twice
    track clip = video(4, QStringLiteral("clip.mp4"), QStringLiteral("/v"));
    clip.artistName = QStringLiteral("Ann");
    track listed = music(5, QStringLiteral("Mix"), QStringLiteral("Ann"));
    listed.playlist = QStringLiteral("Mix");
    track other = music(6, QStringLiteral("Three"), QStringLiteral("ann")); // another artist
    track host = music(7, QStringLiteral("Cast"), QStringLiteral("Host"));
    host.isPodcast = true;
    const TrackMap tracks = mapOf({a1, a2, a3, clip, listed, other, host});

    manager::ViewInput input;
    input.checkedArtistIds = {203};
    const manager::ViewResult artists = manager::Get_Artistlist(true, tracks, input);
    QCOMPARE(artists.models.keys(), (QStringList{QStringLiteral("Ann"), QStringLiteral("ann")}));
    const auto *ann = row<ArtistDataModel>(artists, QStringLiteral("Ann"));
    QCOMPARE(ann->artistid(), 203); // the last music track outside a playlist
    QVERIFY(ann->selected());
    QCOMPARE(ann->trackcount(), 2); // distinct paths of music outside playlists
    QCOMPARE(ann->albumcount(), 3); // one, two and the video's album
    // Covers are gathered per lower-cased name: pictures in front, placeholders behind.
    track bare = music(8, QStringLiteral("Bare"), QStringLiteral("Ann"));
    bare.cover = placeholder;
    const manager::ViewResult covers = manager::Get_Artistlist(true, mapOf({a1, a3, other, bare}), {});
    QCOMPARE(covers.artistCoverArt.value(QStringLiteral("ann")),
             (QStringList{QStringLiteral("/art/Three.jpg"), QStringLiteral("/art/Two.jpg"),
                          QStringLiteral("/art/One.jpg"), placeholder}));
}

void TestLibraryViews::groupRows_data()
{
    QTest::addColumn<bool>("playlist");
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QList<int>>("perRow");
    QTest::addRow("1 track") << false << 1 << QStringList{"rocka01", "rocka02"} << QList<int>{1, 0};
    QTest::addRow("6 tracks") << false << 6 << QStringList{"rocka01", "rocka02"} << QList<int>{6, 0};
    QTest::addRow("7 tracks") << false << 7 << QStringList{"rocka01", "rocka02"} << QList<int>{6, 1};
    QTest::addRow("12 tracks") << false << 12 << QStringList{"rocka01", "rocka02"} << QList<int>{6, 6};
    QTest::addRow("13 tracks") << false << 13 << QStringList{"rocka01", "rocka02", "rocka03"} << QList<int>{6, 6, 1};
    const QList<int> tenRows = {6, 6, 6, 6, 6, 6, 6, 6, 6, 1};
    QStringList keys = {"rocka001", "rocka002"};
    for (int r = 3; r <= 10; ++r)
        keys << QStringLiteral("rocka%1").arg(r, 3, 10, QLatin1Char('0'));
    QTest::addRow("55 tracks") << false << 55 << keys << tenRows;
    keys = QStringList{"Rocka001", "Rocka002", "Rocka03", "Rocka04", "Rocka05",
                       "Rocka06",  "Rocka07",  "Rocka08", "Rocka09", "Rocka10"};
    QTest::addRow("55 playlist entries") << true << 55 << keys << tenRows;
    keys.clear();
    for (int r = 1; r <= 100; ++r) // row 100 takes the next letter
        keys << QStringLiteral("rock%1%2").arg(QLatin1Char(r < 100 ? 'a' : 'b')).arg(r, 4, 10, QLatin1Char('0'));
    QTest::addRow("600 tracks") << false << 600 << keys << QList<int>(100, 6);
}

void TestLibraryViews::groupRows()
{
    QFETCH(bool, playlist);
    QFETCH(int, count);
    QFETCH(QStringList, keys);
    QFETCH(QList<int>, perRow);
    QList<track> list;
    for (int i = 1; i <= count; ++i) {
        track t = music(i, QStringLiteral("Rock"), QStringLiteral("Artist"), i);
        t.album_id = 7;
        t.playlist = playlist ? QStringLiteral("Rock") : QString();
        t.playlist_id = playlist ? 7 : 0;
        list.append(t);
    }
    const manager::ViewResult result =
        playlist ? manager::Get_Playlist(mapOf(list), {}) : manager::Get_Tracklist(true, mapOf(list), {});
    QCOMPARE(result.models.keys(), keys);
    QList<int> sizes;
    for (const QObject *group : result.models)
        sizes.append(int(trackIdsOf(group).size()));
    QCOMPARE(sizes, perRow);
    QCOMPARE(groupedIds(result).size(), count);
    // Row 1 carries the cover, row 2 artist, genre and year, later rows nothing.
    const auto *first = row<TrackDataModel>(result, keys.at(0));
    const auto *second = row<TrackDataModel>(result, keys.at(1));
    QCOMPARE(first->albumid(), 7);
    QVERIFY(first->artistname().isEmpty() && first->genre().isEmpty() && first->year() == 0);
    QVERIFY(first->coverart() != QLatin1String("no"));
    QCOMPARE(second->coverart(), QStringLiteral("no"));
    QCOMPARE(second->genre(), QStringLiteral("Genre 1"));
    QCOMPARE(second->year(), playlist ? 0 : 1991);
    if (keys.size() > 2)
        QVERIFY(row<TrackDataModel>(result, keys.at(2))->artistname().isEmpty());
}

void TestLibraryViews::rockAndRock()
{
    track upper = music(1, QStringLiteral("Rock"), QStringLiteral("First"), 2);
    track lower = music(2, QStringLiteral("rock"), QStringLiteral("Second"), 1);
    const manager::ViewResult rows = manager::Get_Tracklist(true, mapOf({upper, lower}), {});
    QCOMPARE(rows.models.keys(), (QStringList{QStringLiteral("rocka01"), QStringLiteral("rocka02")}));
    QCOMPARE(trackIdsOf(rows.models.first()), (QList<int>{2, 1}));
    upper.isPodcast = lower.isPodcast = true;
    const manager::ViewResult podcasts = manager::Get_Podcastlist(mapOf({upper, lower}), {});
    QCOMPARE(podcasts.models.keys(), (QStringList{QStringLiteral("Rocka01"), QStringLiteral("Rocka02"),
                                                  QStringLiteral("rocka01"), QStringLiteral("rocka02")}));
}

void TestLibraryViews::whereEachKindLands()
{
    track plain = music(1, QStringLiteral("Plain"));
    track listed = music(2, QStringLiteral("Plain"));
    listed.playlist = QStringLiteral("Road Trip");
    listed.playlist_id = 50;
    track podcast = music(3, QStringLiteral("Cast"));
    podcast.isPodcast = true;
    track listedPodcast = podcast;
    listedPodcast.id = 4;
    listedPodcast.playlist = QStringLiteral("Road Trip");
    track audiobook = music(5, QStringLiteral("Book"));
    audiobook.isAudiobook = true;
    track listedAudiobook = audiobook;
    listedAudiobook.id = 6;
    listedAudiobook.playlist = QStringLiteral("Road Trip");
    track clip = video(7, QStringLiteral("clip.mp4"), QStringLiteral("/v"));
    track listedClip = video(8, QStringLiteral("other.mp4"), QStringLiteral("/v"));
    listedClip.playlist = QStringLiteral("Road Trip");
    const TrackMap all = mapOf({plain, listed, podcast, listedPodcast, audiobook, listedAudiobook, clip, listedClip});
    const manager::LibraryViews views = manager::buildLibraryViews(all, {});
    // The views built together give what each builder gives from the whole map.
    QCOMPARE(groupedIds(views.playlistModels), groupedIds(manager::Get_Playlist(all, {})));
    QCOMPARE(groupedIds(views.podcastModels), groupedIds(manager::Get_Podcastlist(all, {})));
    QCOMPARE(views.audiobookModels.models.keys(), manager::Get_Audiobooklist(all, {}).models.keys());
    QCOMPARE(views.videoModels.models.keys(), manager::Get_Videolist(all, {}).models.keys());
    QCOMPARE(groupedIds(views.trackRowModels), QSet<int>({1}));
    QCOMPARE(groupedIds(views.playlistModels), QSet<int>({2, 4, 6}));
    QCOMPARE(groupedIds(views.podcastModels), QSet<int>({3, 4}));
    QCOMPARE(views.audiobookModels.models.keys(), QStringList{QStringLiteral("Book")});
    QCOMPARE(views.videoModels.models.keys(), (QStringList{QStringLiteral("clip.mp4"), QStringLiteral("other.mp4")}));
    QCOMPARE(views.albumModels.models.keys(), QStringList{QStringLiteral("plain")});
    QCOMPARE(views.artistModels.models.keys(), QStringList{QStringLiteral("Artist")});
}

void TestLibraryViews::trackLines()
{
    QList<track> list;
    const QList<int> numbers = {3, 1, 2, 2, 0};
    const QStringList titles = {"c", "a", "Zed", "beta", "intro"};
    for (int i = 0; i < numbers.size(); ++i)
        list.append(music(10 + i, QStringLiteral("Order"), QStringLiteral("A"), numbers.at(i), titles.at(i)));
    list[0].duration = 40000.9; // longer than 9 hours
    manager::ViewInput input;
    input.checkedTrackIds = {14}; // the highest id decides the group's tick
    const manager::ViewResult rows = manager::Get_Tracklist(true, mapOf(list), input);
    const auto *group = row<TrackDataModel>(rows, "ordera01");
    // 0 intro, 1 a, 2 beta, 2 Zed (titles compare lower-cased), 3 c
    QCOMPARE(trackIdsOf(group), (QList<int>{14, 11, 13, 12, 10}));
    QVERIFY(group->selected());
    const auto *intro = qobject_cast<TrackList *>(group->tracklist().first());
    QVERIFY(intro->selected());
    QVERIFY(!qobject_cast<TrackList *>(group->tracklist().at(1))->selected());
    const auto *longest = qobject_cast<TrackList *>(group->tracklist().last());
    QCOMPARE(longest->duration(), 40000);
    QCOMPARE(longest->track_path(), list[0].filepath);
}

void TestLibraryViews::browserStopsWhenClosed()
{
    const TrackMap tracks = mapOf({music(1, QStringLiteral("A")), music(2, QStringLiteral("B"))});
    std::atomic<bool> closed{true};
    manager::ViewInput input;
    input.mediaBrowserClosed = &closed;
    QVERIFY(manager::Get_Albumlist(false, tracks, input).models.isEmpty());
    QVERIFY(manager::Get_Tracklist(false, tracks, input).models.isEmpty());
    QCOMPARE(manager::Get_Albumlist(true, tracks, input).models.size(), 2); // the library ignores the flag
    closed = false;
    QCOMPARE(manager::Get_Tracklist(false, tracks, input).details.size(), 2);
}

void TestLibraryViews::videoView()
{
    manager::ViewInput input;
    input.checkedTrackIds = {4};
    const TrackMap clips = mapOf({video(3, QStringLiteral("clip.mp4"), QStringLiteral("/a")),
                                  video(4, QStringLiteral("clip.mp4"), QStringLiteral("/b"))});
    const manager::ViewResult videos = manager::refrechVideoView(clips, input);
    QCOMPARE(videos.models.keys(), QStringList{QStringLiteral("clip.mp4")});
    const auto *clip = row<AlbumDataModel>(videos, QStringLiteral("clip.mp4"));
    QCOMPARE(clip->albumid(), 4);
    QVERIFY(clip->selected());
    QCOMPARE(clip->coverart(), QStringLiteral("/b/thumb.png"));
}

// Built with CORVANE_DEBUG_STL, std::sort checks each comparer is a strict weak order.
void TestLibraryViews::comparersAreStrictWeakOrders()
{
    QObject owner;
    QList<DetailedDataModel *> details;
    QList<TrackList *> tracks;
    for (int i = 0; i < 40; ++i) {
        const QString same = i % 2 ? QStringLiteral("Same") : QStringLiteral("sAME"); // equal once lower-cased
        details << new DetailedDataModel(false, true, 1, 2000, same, same, same, same, &owner);
        tracks << new TrackList(i, i % 4, 0, same, {}, {}, {}, {}, false, {}, &owner);
    }
    for (auto comparer :
         {&manager::albumNameComparer, &manager::artistNameComparer, &manager::trackTitleDetailComparer})
        std::sort(details.begin(), details.end(), comparer);
    std::sort(tracks.begin(), tracks.end(), &manager::trackTitleComparer);
    std::sort(tracks.begin(), tracks.end(), &manager::trackNumberComparer);
    QCOMPARE(tracks.last()->trackno(), 3);
    // Titles outside Latin-1 keep their own order instead of all tying.
    TrackList cyrillic(1, 1, 0, QStringLiteral("Кино"), {}, {}, {}, {}, false, {});
    TrackList greek(2, 1, 0, QStringLiteral("Άλφα"), {}, {}, {}, {}, false, {});
    QVERIFY(manager::trackTitleComparer(&greek, &cyrillic) != manager::trackTitleComparer(&cyrillic, &greek));
}

// The browser's track list sorts by title, then album; its album list by album, then title.
void TestLibraryViews::detailListsSortByTheirKeys()
{
    const TrackMap tracks = mapOf({music(1, QStringLiteral("X"), QStringLiteral("A"), 0, QStringLiteral("b")),
                                   music(2, QStringLiteral("z"), QStringLiteral("A"), 0, QStringLiteral("A")),
                                   music(3, QStringLiteral("Y"), QStringLiteral("A"), 0, QStringLiteral("a"))});
    const auto ids = [](const QList<QObject *> &details) {
        QList<int> result;
        for (const QObject *d : details)
            result << d->property("trackid").toInt();
        return result;
    };
    const manager::ViewResult titles = manager::Get_Tracklist(false, tracks, {});
    QList<QObject *> details = titles.details;
    QCOMPARE(ids(details), (QList<int>{3, 2, 1}));
    std::reverse(details.begin(), details.end());
    std::sort(details.begin(), details.end(), [](QObject *a, QObject *b) {
        return manager::trackTitleDetailComparer(qobject_cast<DetailedDataModel *>(a),
                                                 qobject_cast<DetailedDataModel *>(b));
    });
    QCOMPARE(ids(details), (QList<int>{3, 2, 1}));
    const manager::ViewResult albums = manager::Get_Albumlist(false, tracks, {});
    QCOMPARE(ids(albums.details), (QList<int>{1, 3, 2}));
}

// A playlist group is ticked only in the playlists category's albums view.
void TestLibraryViews::playlistGroupTick_data()
{
    QTest::addColumn<int>("category");
    QTest::addColumn<int>("browserView");
    QTest::addColumn<bool>("ticked");
    QTest::addRow("playlists, albums view") << 1 << 0 << true;
    QTest::addRow("music category") << 0 << 0 << false;
    QTest::addRow("playlists, artists view") << 1 << 1 << false;
}

void TestLibraryViews::playlistGroupTick()
{
    QFETCH(int, category);
    QFETCH(int, browserView);
    track listed = music(1, QStringLiteral("Mix"));
    listed.playlist = QStringLiteral("Mix");
    listed.playlist_id = 9;
    manager::ViewInput input;
    input.checkedPlaylistIds = {9};
    input.mediaTypeFilter = category;
    input.browserView = browserView;
    const manager::ViewResult rows = manager::Get_Playlist(mapOf({listed}), input);
    QTEST(row<TrackDataModel>(rows, QStringLiteral("Mixa01"))->selected(), "ticked");
}

// The browser's artists: music with a playlist id is neither shown nor
// counted; in the playlists category every artist shows the playlist picture.
void TestLibraryViews::browserArtists()
{
    track plain = music(1, QStringLiteral("One"), QStringLiteral("Ann"));
    track stray = music(2, QStringLiteral("Two"), QStringLiteral("Ann"));
    stray.playlist_id = 5;
    manager::ViewInput input;
    const manager::ViewResult artists = manager::Get_Artistlist(false, mapOf({plain, stray}), input);
    QCOMPARE(artists.details.size(), 1);
    QCOMPARE(row<ArtistDataModel>(artists, QStringLiteral("Ann"))->trackcount(), 1);
    plain.playlist = QStringLiteral("Mix");
    plain.playlist_id = 5;
    input.mediaTypeFilter = 1;
    const manager::ViewResult listed = manager::Get_Artistlist(false, mapOf({plain}), input);
    QCOMPARE(row<ArtistDataModel>(listed, "Ann")->coverart(),
             QStringList{QStringLiteral("qrc:///resources/photos/playlist.png")});
}

CORVANE_TEST_MAIN(TestLibraryViews)
#include "tst_libraryviews.moc"
