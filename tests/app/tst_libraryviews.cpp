#include <QDir>
#include <QFile>
#include <QPointer>
#include <QThread>
#include <QtConcurrent>
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

track music(int id, const QString &album, const QString &artist = QStringLiteral("Artist"),
            const QString &title = QString(), int number = 0)
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

template <typename Row>
Row *row(const manager::ViewResult &result, const QString &key)
{
    return qobject_cast<Row *>(result.models.value(key));
}

QList<int> trackIdsOf(const QObject *object)
{
    QList<int> ids;
    const auto *group = qobject_cast<const TrackDataModel *>(object);
    const QList<QObject *> tracks = group->tracklist();
    for (const QObject *t : tracks)
        ids.append(qobject_cast<const TrackList *>(t)->trackid());
    return ids;
}

// Track ids shown anywhere in a grouped view.
QSet<int> groupedIds(const manager::ViewResult &result)
{
    QSet<int> ids;
    for (const QObject *object : result.models) {
        const QList<int> rowIds = trackIdsOf(object);
        ids.unite(QSet<int>(rowIds.cbegin(), rowIds.cend()));
    }
    return ids;
}

} // namespace

class TestLibraryViews : public QObject
{
    Q_OBJECT

private slots:
    void emptyMapsGiveEmptyViews();
    void albumNamesDifferingInCase();
    void sameNamedVideosInTheBrowser();
    void coverRule_data();
    void coverRule();
    void downloadedArtworkOnlyInTheLibrary();
    void artistRowsAndCounts();
    void artistCoverLists();
    void browserArtistCategories();
    void groupRows_data();
    void groupRows();
    void rockAndRock();
    void whereEachKindLands();
    void tracksInTrackNumberOrder();
    void longDurationsDoNotWrap();
    void playlistSelection();
    void browserStopsWhenClosed();
    void audiobooksAndVideos();
    void comparersAreStrictWeakOrders();
    void rowsAreOwnedAndHandedToTheGuiThread();
};

void TestLibraryViews::emptyMapsGiveEmptyViews()
{
    const manager::LibraryViews views = manager::buildLibraryViews({}, {});
    for (const manager::ViewResult *view :
         {&views.albumModels, &views.artistModels, &views.trackRowModels, &views.playlistModels,
          &views.podcastModels, &views.audiobookModels, &views.videoModels}) {
        QVERIFY(view->models.isEmpty());
        QVERIFY(view->details.isEmpty());
        QVERIFY(view->owner);
        QVERIFY(view->owner->children().isEmpty());
    }
    manager::ViewInput videos;
    videos.mediaTypeFilter = 4;
    const TrackMap someMusic = mapOf({music(1, QStringLiteral("A"))});
    QVERIFY(manager::Get_Tracklist(false, someMusic, videos).models.isEmpty());
    QVERIFY(manager::Get_Tracklist(false, someMusic, videos).details.isEmpty());
}

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
    QCOMPARE(album->albumname(), QStringLiteral("blue"));
    QCOMPARE(album->artistname(), QStringLiteral("Second"));
    QCOMPARE(album->quality(), 2);
    QVERIFY(album->selected());
    QVERIFY(library.details.isEmpty());
    QCOMPARE(library.owner->children().size(), 1); // the replaced row was never made

    const manager::ViewResult browser = manager::Get_Albumlist(false, tracks, input);
    QCOMPARE(browser.models.keys(), (QStringList{QStringLiteral("Blue"), QStringLiteral("blue")}));
    QVERIFY(!row<AlbumDataModel>(browser, QStringLiteral("Blue"))->selected());
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
    QCOMPARE(second->albumname(), QStringLiteral("clip.mp4"));
    QVERIFY(second->artistname().isEmpty());
    QCOMPARE(second->coverart(), QStringLiteral("/b/thumb.png"));
    QCOMPARE(result.seenVideoTitles, (QStringList{QStringLiteral("clip.mp4"), QStringLiteral("other.mp4")}));
    QCOMPARE(result.details.size(), 4);
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
    QTest::addRow("unknown album, unrelated cover") << "Unknown Album" << "/art/folder.jpg" << placeholder;
    QTest::addRow("unknown in any case") << "UNKNOWN" << "/art/folder.jpg" << placeholder;
    QTest::addRow("unknown album, cover named after it")
        << "Unknown Album" << "/art/unknown album.png" << "/art/unknown album.png";
    QTest::addRow("cleaned name matched") << "Unknown: Live!" << "/art/Unknown Live.png" << "/art/Unknown Live.png";
    QTest::addRow("placeholder stays placeholder")
        << "Blue" << "qrc:///resources/photos/no_artwork.png" << placeholder;
}

void TestLibraryViews::coverRule()
{
    QFETCH(QString, album);
    QFETCH(QString, cover);
    QFETCH(QString, shown);
    track t = music(1, album);
    t.cover = cover;
    const TrackMap tracks = mapOf({t});
    const manager::ViewResult albums = manager::Get_Albumlist(true, tracks, {});
    QCOMPARE(row<AlbumDataModel>(albums, album.toLower())->coverart(), shown);
    const manager::ViewResult rows = manager::Get_Tracklist(true, tracks, {});
    QCOMPARE(row<TrackDataModel>(rows, album.toLower() + QStringLiteral("a01"))->coverart(), shown);
    const manager::ViewResult artists = manager::Get_Artistlist(true, tracks, {});
    QCOMPARE(row<ArtistDataModel>(artists, QStringLiteral("Artist"))->coverart(), QStringList{shown});
}

void TestLibraryViews::downloadedArtworkOnlyInTheLibrary()
{
    const QString folder = shared::dataLocation() + QStringLiteral("/Corvane-Media-Organiser/Artwork/Download");
    QVERIFY(QDir().mkpath(folder));
    const QString downloaded = folder + QStringLiteral("/Greatest Hits Vol 2.png");
    QFile file(downloaded);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("png");
    file.close();

    track withDownload = music(1, QStringLiteral("Greatest Hits (Vol. 2)"));
    withDownload.cover = placeholder;
    track withoutDownload = music(2, QStringLiteral("Nothing Downloaded"));
    withoutDownload.cover = placeholder;
    track podcast = withDownload;
    podcast.id = 3;
    podcast.isPodcast = true;
    const TrackMap tracks = mapOf({withDownload, withoutDownload, podcast});

    const manager::ViewResult albums = manager::Get_Albumlist(true, tracks, {});
    QCOMPARE(row<AlbumDataModel>(albums, QStringLiteral("greatest hits (vol. 2)"))->coverart(), downloaded);
    QCOMPARE(row<AlbumDataModel>(albums, QStringLiteral("nothing downloaded"))->coverart(), placeholder);
    const manager::ViewResult rows = manager::Get_Tracklist(true, tracks, {});
    QCOMPARE(row<TrackDataModel>(rows, QStringLiteral("greatest hits (vol. 2)a01"))->coverart(), downloaded);
    // The podcasts view shows the stored cover.
    const manager::ViewResult podcasts = manager::Get_Podcastlist(tracks, {});
    QCOMPARE(row<TrackDataModel>(podcasts, QStringLiteral("Greatest Hits (Vol. 2)a01"))->coverart(), placeholder);
    // The media browser never looks for downloads.
    const manager::ViewResult browser = manager::Get_Albumlist(false, tracks, {});
    QCOMPARE(row<AlbumDataModel>(browser, QStringLiteral("Greatest Hits (Vol. 2)"))->coverart(), placeholder);
    QVERIFY(QFile::remove(downloaded));
}

void TestLibraryViews::artistRowsAndCounts()
{
    track a1 = music(1, QStringLiteral("One"), QStringLiteral("Ann"));
    track a2 = music(2, QStringLiteral("ONE"), QStringLiteral("Ann")); // same album, other case
    track a3 = music(3, QStringLiteral("Two"), QStringLiteral("Ann"));
    a3.filepath = a1.filepath;                                          // same file twice
    track clip = video(4, QStringLiteral("clip.mp4"), QStringLiteral("/v"));
    clip.artistName = QStringLiteral("Ann");
    clip.albumName = QStringLiteral("Live");
    track listed = music(5, QStringLiteral("Mix"), QStringLiteral("Ann"));
    listed.playlist = QStringLiteral("Mix");
    track other = music(6, QStringLiteral("Three"), QStringLiteral("ann")); // case differs: another artist
    track podcaster = music(7, QStringLiteral("Cast"), QStringLiteral("Host"));
    podcaster.isPodcast = true;
    const TrackMap tracks = mapOf({a1, a2, a3, clip, listed, other, podcaster});

    manager::ViewInput input;
    input.checkedArtistIds = {203};
    const manager::ViewResult artists = manager::Get_Artistlist(true, tracks, input);
    QCOMPARE(artists.models.keys(), (QStringList{QStringLiteral("Ann"), QStringLiteral("ann")}));
    const auto *ann = row<ArtistDataModel>(artists, QStringLiteral("Ann"));
    QCOMPARE(ann->artistid(), 203); // the last music track without playlist
    QVERIFY(ann->selected());
    QCOMPARE(ann->trackcount(), 2); // distinct paths of music without playlist
    QCOMPARE(ann->albumcount(), 3); // one, two and the video's album
    QCOMPARE(ann->trackcount(), manager::getTrackCount(tracks, QStringLiteral("Ann"), true));
    QCOMPARE(ann->albumcount(), manager::getAlbumCount(tracks, QStringLiteral("Ann"), true));
    QCOMPARE(row<ArtistDataModel>(artists, QStringLiteral("ann"))->trackcount(), 1);
    QVERIFY(!artists.models.contains(QStringLiteral("Host")));
    QVERIFY(artists.details.isEmpty());
}

void TestLibraryViews::artistCoverLists()
{
    track first = music(1, QStringLiteral("One"), QStringLiteral("Ann"));
    track second = music(2, QStringLiteral("Two"), QStringLiteral("ann"));
    track bare = music(3, QStringLiteral("Three"), QStringLiteral("Ann"));
    bare.cover = placeholder;
    const TrackMap tracks = mapOf({first, second, bare});
    const manager::ViewResult artists = manager::Get_Artistlist(true, tracks, {});
    const QStringList expected = {QStringLiteral("/art/Two.jpg"), QStringLiteral("/art/One.jpg"), placeholder};
    QCOMPARE(artists.artistCoverArt.value(QStringLiteral("ann")), expected);
    QCOMPARE(row<ArtistDataModel>(artists, QStringLiteral("Ann"))->coverart(), expected);
    QCOMPARE(row<ArtistDataModel>(artists, QStringLiteral("ann"))->coverart(),
             (QStringList{QStringLiteral("/art/Two.jpg"), QStringLiteral("/art/One.jpg")}));

    // A playlist entry keeps only playlist pictures in the list.
    track listed = music(4, QStringLiteral("Mix"), QStringLiteral("Ann"));
    listed.playlist = QStringLiteral("Mix");
    listed.cover = QStringLiteral("qrc:///resources/photos/playlist.png");
    manager::ViewInput input;
    input.artistCoverArt = artists.artistCoverArt;
    const manager::ViewResult next = manager::Get_Artistlist(true, mapOf({listed}), input);
    QCOMPARE(next.artistCoverArt.value(QStringLiteral("ann")),
             QStringList{QStringLiteral("qrc:///resources/photos/playlist.png")});
}

void TestLibraryViews::browserArtistCategories()
{
    track plain = music(1, QStringLiteral("One"), QStringLiteral("Ann"));
    track listed = music(2, QStringLiteral("Mix"), QStringLiteral("Bob"));
    listed.playlist = QStringLiteral("Mix");
    listed.playlist_id = 9;
    track hidden = music(3, QStringLiteral("Two"), QStringLiteral("Cy"));
    hidden.isHidden = true;
    const TrackMap tracks = mapOf({plain, listed, hidden, video(4, QStringLiteral("v.mp4"), QStringLiteral("/v"))});

    manager::ViewInput input;
    input.checkedArtistIds = {201};
    manager::ViewResult music0 = manager::Get_Artistlist(false, tracks, input);
    QCOMPARE(music0.models.keys(), QStringList{QStringLiteral("Ann")});
    QVERIFY(!row<ArtistDataModel>(music0, QStringLiteral("Ann"))->selected());
    QCOMPARE(music0.details.size(), 1);

    input.mediaTypeFilter = 1;
    manager::ViewResult lists = manager::Get_Artistlist(false, tracks, input);
    QCOMPARE(lists.models.keys(), QStringList{QStringLiteral("Bob")});
    QCOMPARE(row<ArtistDataModel>(lists, QStringLiteral("Bob"))->coverart(),
             QStringList{QStringLiteral("qrc:///resources/photos/playlist.png")});
    QCOMPARE(row<ArtistDataModel>(lists, QStringLiteral("Bob"))->trackcount(), 1);

    input.mediaTypeFilter = 4;
    manager::ViewResult videos = manager::Get_Artistlist(false, tracks, input);
    QVERIFY(videos.models.isEmpty());
    QVERIFY(videos.details.isEmpty());
    // The cover lists still learn every track, hidden ones too.
    QVERIFY(videos.artistCoverArt.contains(QStringLiteral("cy")));
}

void TestLibraryViews::groupRows_data()
{
    QTest::addColumn<int>("kind"); // 0 tracks, 1 playlists, 2 podcasts
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QList<int>>("perRow");

    QTest::addRow("1 track") << 0 << 1 << QStringList{"rocka01", "rocka02"} << QList<int>{1, 0};
    QTest::addRow("6 tracks") << 0 << 6 << QStringList{"rocka01", "rocka02"} << QList<int>{6, 0};
    QTest::addRow("7 tracks") << 0 << 7 << QStringList{"rocka01", "rocka02"} << QList<int>{6, 1};
    QTest::addRow("12 tracks") << 0 << 12 << QStringList{"rocka01", "rocka02"} << QList<int>{6, 6};
    QTest::addRow("13 tracks") << 0 << 13 << QStringList{"rocka01", "rocka02", "rocka03"} << QList<int>{6, 6, 1};
    QStringList tens = {"rocka001", "rocka002"};
    for (int r = 3; r <= 10; ++r)
        tens << QStringLiteral("rocka%1").arg(r, 3, 10, QLatin1Char('0'));
    QTest::addRow("55 tracks") << 0 << 55 << tens << QList<int>{6, 6, 6, 6, 6, 6, 6, 6, 6, 1};
    QStringList podcastTens = tens;
    podcastTens.replaceInStrings(QStringLiteral("rock"), QStringLiteral("Rock"));
    QTest::addRow("55 podcast episodes") << 2 << 55 << podcastTens << QList<int>{6, 6, 6, 6, 6, 6, 6, 6, 6, 1};
    QStringList playlistTens = {"Rocka001", "Rocka002"};
    for (int r = 3; r <= 9; ++r)
        playlistTens << QStringLiteral("Rocka0%1").arg(r);
    playlistTens << QStringLiteral("Rocka10");
    QTest::addRow("55 playlist entries") << 1 << 55 << playlistTens << QList<int>{6, 6, 6, 6, 6, 6, 6, 6, 6, 1};
    QTest::addRow("13 playlist entries") << 1 << 13 << QStringList{"Rocka01", "Rocka02", "Rocka03"}
                                         << QList<int>{6, 6, 1};
}

void TestLibraryViews::groupRows()
{
    QFETCH(int, kind);
    QFETCH(int, count);
    QFETCH(QStringList, keys);
    QFETCH(QList<int>, perRow);

    QList<track> list;
    for (int i = 1; i <= count; ++i) {
        track t = music(i, QStringLiteral("Rock"), QStringLiteral("Artist"), QString(), i);
        t.album_id = 7;
        if (kind == 1) {
            t.playlist = QStringLiteral("Rock");
            t.playlist_id = 7;
        }
        t.isPodcast = kind == 2;
        list.append(t);
    }
    const TrackMap tracks = mapOf(list);
    const manager::ViewResult result = kind == 0   ? manager::Get_Tracklist(true, tracks, {})
                                       : kind == 1 ? manager::Get_Playlist(tracks, {})
                                                   : manager::Get_Podcastlist(tracks, {});
    QCOMPARE(result.models.keys(), keys);
    QList<int> sizes;
    for (const QObject *object : result.models)
        sizes.append(int(trackIdsOf(object).size()));
    QCOMPARE(sizes, perRow);
    QCOMPARE(groupedIds(result).size(), count);

    const auto *first = row<TrackDataModel>(result, keys.at(0));
    const auto *second = row<TrackDataModel>(result, keys.at(1));
    QCOMPARE(first->albumid(), 7);
    QVERIFY(first->artistname().isEmpty());
    QVERIFY(first->genre().isEmpty());
    QCOMPARE(first->year(), 0);
    QVERIFY(first->coverart() != QLatin1String("no"));
    QCOMPARE(second->coverart(), QStringLiteral("no"));
    QCOMPARE(second->genre(), QStringLiteral("Genre 1"));
    QCOMPARE(second->artistname(), kind == 1 ? QString() : QStringLiteral("Artist"));
    QCOMPARE(second->year(), kind == 1 ? 0 : 1991);
    if (keys.size() > 2) {
        const auto *third = row<TrackDataModel>(result, keys.at(2));
        QCOMPARE(third->coverart(), QStringLiteral("no"));
        QVERIFY(third->artistname().isEmpty());
        QCOMPARE(third->year(), 0);
    }
}

void TestLibraryViews::rockAndRock()
{
    track upper = music(1, QStringLiteral("Rock"), QStringLiteral("First"), QStringLiteral("b"), 2);
    track lower = music(2, QStringLiteral("rock"), QStringLiteral("Second"), QStringLiteral("a"), 1);
    const TrackMap tracks = mapOf({upper, lower});
    const manager::ViewResult rows = manager::Get_Tracklist(true, tracks, {});
    QCOMPARE(rows.models.keys(), (QStringList{QStringLiteral("rocka01"), QStringLiteral("rocka02")}));
    const auto *first = row<TrackDataModel>(rows, QStringLiteral("rocka01"));
    QCOMPARE(first->albumid(), 101);
    QCOMPARE(first->albumname(), QStringLiteral("Rock"));
    QCOMPARE(first->coverart(), QStringLiteral("/art/Rock.jpg"));
    QCOMPARE(trackIdsOf(first), (QList<int>{2, 1}));
    QCOMPARE(row<TrackDataModel>(rows, QStringLiteral("rocka02"))->artistname(), QStringLiteral("First"));

    track podcastUpper = upper;
    podcastUpper.isPodcast = true;
    track podcastLower = lower;
    podcastLower.isPodcast = true;
    const manager::ViewResult podcasts = manager::Get_Podcastlist(mapOf({podcastUpper, podcastLower}), {});
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
    track bookVideo = video(9, QStringLiteral("book.mp4"), QStringLiteral("/v"));
    bookVideo.isAudiobook = true;
    const TrackMap tracks =
        mapOf({plain, listed, podcast, listedPodcast, audiobook, listedAudiobook, clip, listedClip, bookVideo});

    const manager::LibraryViews views = manager::buildLibraryViews(tracks, {});
    QCOMPARE(groupedIds(views.trackRowModels), QSet<int>({1}));
    QCOMPARE(groupedIds(views.playlistModels), QSet<int>({2, 4, 6}));
    QCOMPARE(groupedIds(views.podcastModels), QSet<int>({3, 4}));
    QCOMPARE(views.audiobookModels.models.keys(), QStringList{QStringLiteral("Book")});
    QCOMPARE(views.videoModels.models.keys(),
             (QStringList{QStringLiteral("book.mp4"), QStringLiteral("clip.mp4"), QStringLiteral("other.mp4")}));
    QCOMPARE(views.albumModels.models.keys(), QStringList{QStringLiteral("plain")});
    QCOMPARE(row<AlbumDataModel>(views.albumModels, QStringLiteral("plain"))->albumid(), 101);
    QCOMPARE(views.artistModels.models.keys(), QStringList{QStringLiteral("Artist")});
    QCOMPARE(views.ArtistCoverartList, views.artistModels.artistCoverArt);
}

void TestLibraryViews::tracksInTrackNumberOrder()
{
    QList<track> list;
    const QList<int> numbers = {3, 1, 2, 2, 0};
    const QStringList titles = {"c", "a", "Zed", "beta", "intro"};
    for (int i = 0; i < numbers.size(); ++i) {
        track t = music(10 + i, QStringLiteral("Order"), QStringLiteral("A"), titles.at(i), numbers.at(i));
        list.append(t);
    }
    manager::ViewInput input;
    input.checkedTrackIds = {14}; // the highest id decides the group's tick
    const manager::ViewResult rows = manager::Get_Tracklist(true, mapOf(list), input);
    const auto *first = row<TrackDataModel>(rows, QStringLiteral("ordera01"));
    // 0 intro, 1 a, 2 beta, 2 Zed (titles compare lower-cased), 3 c
    QCOMPARE(trackIdsOf(first), (QList<int>{14, 11, 13, 12, 10}));
    QCOMPARE(first->albumid(), 110);
    QVERIFY(first->selected());
    const auto *intro = qobject_cast<TrackList *>(first->tracklist().first());
    QVERIFY(intro->selected());
    QVERIFY(!qobject_cast<TrackList *>(first->tracklist().at(1))->selected());
}

void TestLibraryViews::longDurationsDoNotWrap()
{
    track book = music(1, QStringLiteral("Long"));
    book.duration = 40000.9;
    const manager::ViewResult rows = manager::Get_Tracklist(true, mapOf({book}), {});
    const auto *track = qobject_cast<TrackList *>(row<TrackDataModel>(rows, "longa01")->tracklist().first());
    QCOMPARE(track->duration(), 40000);
    QCOMPARE(track->track_path(), book.filepath);
    QCOMPARE(track->releasedate(), book.ReleaseDate);
    QCOMPARE(track->tracktitle(), book.trackname);
}

void TestLibraryViews::playlistSelection()
{
    auto entry = [](int id, int artist) {
        track t = music(id, QStringLiteral("Any"));
        t.artist_id = artist;
        t.playlist = QStringLiteral("Mix");
        t.playlist_id = 70;
        return t;
    };
    // Track 1 comes before the ticked track 2 of the same artist.
    const TrackMap tracks = mapOf({entry(1, 5), entry(2, 5), entry(3, 5), entry(4, 6)});
    manager::ViewInput input;
    input.checkedTrackIds = {2};
    input.checkedPlaylistIds = {70};
    input.mediaTypeFilter = 1;
    input.browserView = 1;
    const manager::ViewResult byArtist = manager::Get_Playlist(tracks, input);
    const auto *first = row<TrackDataModel>(byArtist, QStringLiteral("Mixa01"));
    QCOMPARE(first->albumid(), 70);
    QCOMPARE(first->albumname(), QStringLiteral("Mix"));
    QCOMPARE(first->coverart(), QStringLiteral("qrc:///resources/photos/playlist.png"));
    QVERIFY(!first->selected()); // browserView is not 0
    QList<bool> ticks;
    for (QObject *t : first->tracklist())
        ticks.append(qobject_cast<TrackList *>(t)->selected());
    QCOMPARE(ticks, (QList<bool>{false, true, true, false}));

    input.browserView = 0;
    const manager::ViewResult byPlaylist = manager::Get_Playlist(tracks, input);
    QVERIFY(row<TrackDataModel>(byPlaylist, QStringLiteral("Mixa01"))->selected());

    input.mediaTypeFilter = 0;
    const manager::ViewResult otherCategory = manager::Get_Playlist(tracks, input);
    QVERIFY(!row<TrackDataModel>(otherCategory, QStringLiteral("Mixa01"))->selected());
}

void TestLibraryViews::browserStopsWhenClosed()
{
    QList<track> list;
    for (int i = 1; i <= 5; ++i)
        list.append(music(i, QStringLiteral("Album %1").arg(i)));
    std::atomic<bool> closed{true};
    manager::ViewInput input;
    input.mediaBrowserClosed = &closed;
    const TrackMap tracks = mapOf(list);
    QVERIFY(manager::Get_Albumlist(false, tracks, input).models.isEmpty());
    QVERIFY(manager::Get_Tracklist(false, tracks, input).models.isEmpty());
    QVERIFY(manager::Get_Artistlist(false, tracks, input).models.isEmpty());
    // The library views do not look at the browser's flag.
    QCOMPARE(manager::Get_Albumlist(true, tracks, input).models.size(), 5);
    closed = false;
    const manager::ViewResult open = manager::Get_Tracklist(false, tracks, input);
    QCOMPARE(open.models.size(), 10);
    QCOMPARE(open.details.size(), 5);
    const auto *firstDetail = qobject_cast<DetailedDataModel *>(open.details.first());
    QCOMPARE(firstDetail->tracktitle(), QStringLiteral("Title 1"));
}

void TestLibraryViews::audiobooksAndVideos()
{
    auto book = [](int id, const QString &album) {
        track t = music(id, album);
        t.isAudiobook = true;
        return t;
    };
    track later = book(2, QStringLiteral("Rock"));
    later.quality = 1;
    manager::ViewInput input;
    input.checkedAlbumIds = {102};
    input.checkedTrackIds = {4};
    const manager::ViewResult books =
        manager::Get_Audiobooklist(mapOf({book(1, QStringLiteral("Rock")), later, book(3, QStringLiteral("rock"))}),
                                   input);
    QCOMPARE(books.models.keys(), (QStringList{QStringLiteral("Rock"), QStringLiteral("rock")}));
    const auto *rock = row<AlbumDataModel>(books, QStringLiteral("Rock"));
    QCOMPARE(rock->albumid(), 102);
    QCOMPARE(rock->quality(), 1);
    QVERIFY(rock->selected());
    QVERIFY(!row<AlbumDataModel>(books, QStringLiteral("rock"))->selected());

    const TrackMap clips = mapOf({video(3, QStringLiteral("clip.mp4"), QStringLiteral("/a")),
                                  video(4, QStringLiteral("clip.mp4"), QStringLiteral("/b"))});
    const manager::ViewResult videos = manager::refrechVideoView(clips, input);
    QCOMPARE(videos.models.keys(), QStringList{QStringLiteral("clip.mp4")});
    const auto *clip = row<AlbumDataModel>(videos, QStringLiteral("clip.mp4"));
    QCOMPARE(clip->albumid(), 4);
    QVERIFY(clip->selected());
    QCOMPARE(clip->coverart(), QStringLiteral("/b/thumb.png"));
    QVERIFY(manager::refrechVideoView(mapOf({book(5, QStringLiteral("X"))}), input).models.isEmpty());
}

void TestLibraryViews::comparersAreStrictWeakOrders()
{
    QObject owner;
    auto detail = [&owner](const QString &album, const QString &artist, const QString &title, const QString &genre) {
        return new DetailedDataModel(false, true, 1, 2000, title, album, artist, genre, &owner);
    };
    QList<DetailedDataModel *> details;
    for (int i = 0; i < 40; ++i) {
        details.append(detail(QStringLiteral("Same"), QStringLiteral("Same"), QStringLiteral("Same"),
                              QStringLiteral("Same")));
        details.append(detail(QStringLiteral("same"), QStringLiteral("SAME"), QStringLiteral("same"),
                              QStringLiteral("same"))); // equal once lower-cased
        details.append(detail(QStringLiteral("Album %1").arg(i % 7), QStringLiteral("Artist %1").arg(i % 5),
                              QStringLiteral("Title %1").arg(i % 3), QString()));
    }
    DetailedDataModel *equal = details.at(0);
    DetailedDataModel *equalLowerCased = details.at(1);
    for (auto comparer : {&manager::albumNameComparer, &manager::artistNameComparer,
                          &manager::trackTitleDetailComparer}) {
        QVERIFY(!comparer(equal, equal));
        QVERIFY(!comparer(equal, equalLowerCased));
        QVERIFY(!comparer(equalLowerCased, equal));
        std::sort(details.begin(), details.end(), comparer);
        QVERIFY(std::is_sorted(details.begin(), details.end(), comparer));
    }
    std::sort(details.begin(), details.end(), &manager::albumNameComparer);
    QCOMPARE(details.first()->albumname().toLower(), QStringLiteral("album 0"));

    QList<TrackList *> tracks;
    for (int i = 0; i < 40; ++i) {
        tracks.append(new TrackList(i, i % 4, 0, i % 2 ? QStringLiteral("Same") : QStringLiteral("same"), {}, {}, {},
                                    {}, false, {}, &owner));
    }
    QVERIFY(!manager::trackNumberComparer(tracks.at(0), tracks.at(0)));
    QVERIFY(!manager::trackNumberComparer(tracks.at(0), tracks.at(4)));
    QVERIFY(!manager::trackTitleComparer(tracks.at(0), tracks.at(1)));
    std::sort(tracks.begin(), tracks.end(), &manager::trackNumberComparer);
    QCOMPARE(tracks.first()->trackno(), 0);
    QCOMPARE(tracks.last()->trackno(), 3);
    std::sort(tracks.begin(), tracks.end(), &manager::trackTitleComparer);
    QVERIFY(std::is_sorted(tracks.begin(), tracks.end(), &manager::trackTitleComparer));
    // Titles outside Latin-1 keep their own order instead of all tying.
    TrackList cyrillic(1, 1, 0, QStringLiteral("Кино"), {}, {}, {}, {}, false, {});
    TrackList greek(2, 1, 0, QStringLiteral("Άλφα"), {}, {}, {}, {}, false, {});
    QVERIFY(manager::trackTitleComparer(&greek, &cyrillic) != manager::trackTitleComparer(&cyrillic, &greek));
}

void TestLibraryViews::rowsAreOwnedAndHandedToTheGuiThread()
{
#ifdef _GLIBCXX_DEBUG
    // QFuture keeps its results in a QMap, which is a std::map: the checked
    // library's map does not match the one compiled into Qt.
    QSKIP("QFuture results cannot cross into Qt under _GLIBCXX_DEBUG");
#endif
    QList<track> list;
    for (int i = 1; i <= 20; ++i)
        list.append(music(i, QStringLiteral("Album %1").arg(i % 3)));
    const TrackMap tracks = mapOf(list);

    manager::ViewInput input;
    input.rowThread = QThread::currentThread();
    QThread *worker = nullptr;
    QFuture<manager::LibraryViews> future = QtConcurrent::run([tracks, input, &worker] {
        worker = QThread::currentThread();
        return manager::buildLibraryViews(tracks, input);
    });
    future.waitForFinished();
    manager::LibraryViews views = future.result();
    QVERIFY(worker != QThread::currentThread());
    QCOMPARE(views.trackRowModels.owner->thread(), QThread::currentThread());
    QObject *anyRow = views.trackRowModels.models.first();
    QCOMPARE(anyRow->thread(), QThread::currentThread());
    QObject *anyTrack = qobject_cast<TrackDataModel *>(anyRow)->tracklist().first();
    QCOMPARE(anyTrack->thread(), QThread::currentThread());

    // Every row and every track object belongs to the generation's owner.
    QPointer<QObject> watchedRow(anyRow);
    QPointer<QObject> watchedTrack(anyTrack);
    QCOMPARE(views.trackRowModels.owner->children().size(), views.trackRowModels.models.size() + 20);
    views.trackRowModels = {};
    future = {};
    // The worker's own copy may still be on its way out; whoever drops the
    // last reference, the generation is freed in the GUI thread.
    QTRY_VERIFY(watchedRow.isNull());
    QVERIFY(watchedTrack.isNull());
}

CORVANE_TEST_MAIN(TestLibraryViews)
#include "tst_libraryviews.moc"
