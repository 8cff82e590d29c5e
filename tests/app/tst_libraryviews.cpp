#include <QFile>
#include <QtTest>

#include <atomic>

#include "app/albumdatamodel.h"
#include "app/artistdatamodel.h"
#include "app/detaileddatamodel.h"
#include "app/manager.h"
#include "app/trackdatamodel.h"
#include "app/tracklist.h"
#include "core/shared.h"
#include "libraryfixture.h"
#include "testenv.h"

namespace {

const QString placeholder = QStringLiteral("qrc:///resources/photos/no_artwork.png");

// "id|album|artist|track number|title|playlist|kinds", kinds p(odcast),
// b(ook), v(ideo).  A video's file is its title in the folder /v<id>.
track parse(const QString &fields)
{
    const QStringList f = fields.split(QLatin1Char('|'));
    track t;
    t.id = f.value(0).toInt();
    t.album_id = 100 + t.id;
    t.artist_id = 200 + t.id;
    t.albumName = f.value(1);
    t.artistName = f.value(2).isEmpty() ? QStringLiteral("Artist") : f.value(2);
    t.tracknumber = f.value(3).toInt();
    t.trackname = f.value(4).isEmpty() ? QStringLiteral("Title %1").arg(t.id) : f.value(4);
    t.playlist = f.value(5);
    t.isPodcast = f.value(6).contains(QLatin1Char('p'));
    t.isAudiobook = f.value(6).contains(QLatin1Char('b'));
    t.isVideo = f.value(6).contains(QLatin1Char('v'));
    t.filename = t.isVideo ? t.trackname : QStringLiteral("t%1.mp3").arg(t.id);
    t.filepath =
        QStringLiteral("/lib/%1/%2").arg(t.isVideo ? QStringLiteral("v%1").arg(t.id) : t.albumName, t.filename);
    t.cover =
        t.isVideo ? QStringLiteral("/lib/v%1/thumb.png").arg(t.id) : QStringLiteral("/art/%1.jpg").arg(t.albumName);
    t.genre = QStringLiteral("Genre %1").arg(t.id);
    t.year = 1990 + t.id;
    t.duration = 180.7;
    return t;
}

TrackMap tracksOf(const QStringList &rows)
{
    TrackMap tracks;
    for (const QString &fields : rows)
        tracks.insert(parse(fields).id, parse(fields));
    return tracks;
}

template <typename Row> Row *row(const manager::ViewResult &result, const QString &key)
{
    return qobject_cast<Row *>(result.models.value(key));
}

// The track ids of detail rows or track lines.
QList<int> idsOf(const QList<QObject *> &rows)
{
    QList<int> ids;
    for (const QObject *row : rows)
        ids << row->property("trackid").toInt();
    return ids;
}

QList<int> trackIdsOf(const QObject *group)
{
    return idsOf(qobject_cast<const TrackDataModel *>(group)->tracklist());
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
    void albumNamesDifferingInCase()
    {
        TrackMap tracks = tracksOf({"1|Blue|First", "2|blue|Second"});
        tracks[2].quality = 2;
        manager::ViewInput input;
        input.checkedAlbumIds = {102};
        const manager::ViewResult library = manager::Get_Albumlist(true, tracks, input);
        QCOMPARE(library.models.keys(), QStringList{QStringLiteral("blue")});
        const auto *album = row<AlbumDataModel>(library, QStringLiteral("blue"));
        QCOMPARE(album->albumid(), 102);
        QCOMPARE(album->artistname(), QStringLiteral("Second"));
        QCOMPARE(album->quality(), 2);
        QVERIFY(album->selected());
        QVERIFY(library.details.isEmpty()); // library mode leaves the browser's lists alone

        const manager::ViewResult browser = manager::Get_Albumlist(false, tracks, input);
        QCOMPARE(browser.models.keys(), (QStringList{QStringLiteral("Blue"), QStringLiteral("blue")}));
        QCOMPARE(browser.details.size(), 2);
    }

    // Both number repeated video file names; the library's video view keeps
    // one row per file, the last one's.
    void videoRows()
    {
        const TrackMap clips =
            tracksOf({"1|||0|clip.mp4||v", "2|||0|clip.mp4||v", "3|||0|other.mp4||v", "4|||0|clip.mp4||v"});
        TrackMap stored = clips;
        stored[4].filepath = stored[1].filepath; // stored twice: one row
        manager::ViewInput input;
        input.mediaTypeFilter = 4;
        const manager::ViewResult result = manager::Get_Albumlist(false, clips, input);
        QCOMPARE(result.models.keys(), (QStringList{"clip.mp4", "clip.mp41", "clip.mp42", "other.mp4"}));
        const auto *second = row<AlbumDataModel>(result, QStringLiteral("clip.mp41"));
        QCOMPARE(second->albumid(), 2);
        QCOMPARE(second->coverart(), QStringLiteral("/lib/v2/thumb.png"));
        QCOMPARE(qobject_cast<DetailedDataModel *>(result.details.first())->year(), 180); // whole seconds
        // Titles seen by an earlier build of the same browser count as repeats.
        input.seenVideoTitles = result.seenVideoTitles;
        const manager::ViewResult again = manager::Get_Albumlist(false, tracksOf({"5|||0|other.mp4||v"}), input);
        QCOMPARE(again.models.keys(), QStringList{QStringLiteral("other.mp41")});

        input.checkedTrackIds = {4};
        const manager::ViewResult videos = manager::refrechVideoView(stored, input);
        QCOMPARE(videos.models.keys(), (QStringList{"clip.mp4", "clip.mp41", "other.mp4"}));
        const auto *clip = row<AlbumDataModel>(videos, QStringLiteral("clip.mp4"));
        QCOMPARE(clip->albumid(), 4);
        QVERIFY(clip->selected());
        QCOMPARE(clip->coverart(), QStringLiteral("/lib/v4/thumb.png"));
    }

    // "album|cover|shown", an empty shown cover standing for the placeholder.
    void coverRule_data()
    {
        QTest::addColumn<QString>("fields");
        QTest::addRow("empty cover") << "Blue||";
        QTest::addRow("own cover kept") << "Blue|/art/blue.jpg|/art/blue.jpg";
        QTest::addRow("unknown album, unrelated cover") << "UNKNOWN|/art/folder.jpg|";
        QTest::addRow("unknown album, cover named after it")
            << "Unknown: Live!|/art/Unknown Live.png|/art/Unknown Live.png";
    }

    void coverRule()
    {
        QFETCH(QString, fields);
        const QStringList f = fields.split('|');
        const QString album = f[0], shown = f[2].isEmpty() ? placeholder : f[2];
        TrackMap tracks = tracksOf({"1|" + album});
        tracks[1].cover = f[1];
        QCOMPARE(row<AlbumDataModel>(manager::Get_Albumlist(true, tracks, {}), album.toLower())->coverart(), shown);
        QCOMPARE(row<TrackDataModel>(manager::Get_Tracklist(true, tracks, {}), album.toLower() + "a01")->coverart(),
                 shown);
        QCOMPARE(row<ArtistDataModel>(manager::Get_Artistlist(true, tracks, {}), "Artist")->coverart(),
                 QStringList{shown});
    }

    void downloadedArtworkOnlyInTheLibrary()
    {
        const QString downloaded =
            shared::dataLocation() + "/Corvane-Media-Organiser/Artwork/Download/Greatest Hits Vol 2.png";
        QVERIFY(testkit::touch(downloaded, "png"));
        TrackMap tracks = tracksOf({"1|Greatest Hits (Vol. 2)"});
        tracks[1].cover = placeholder;
        QCOMPARE(row<AlbumDataModel>(manager::Get_Albumlist(true, tracks, {}), "greatest hits (vol. 2)")->coverart(),
                 downloaded);
        QCOMPARE(row<AlbumDataModel>(manager::Get_Albumlist(false, tracks, {}), "Greatest Hits (Vol. 2)")->coverart(),
                 placeholder);
        QVERIFY(QFile::remove(downloaded));
    }

    void artistRowsAndCounts()
    {
        // Same album in another case, the same file twice, a video, a playlist
        // entry, another artist by case, a podcast.
        TrackMap tracks = tracksOf({"1|One|Ann", "2|ONE|Ann", "3|Two|Ann", "4|Clips|Ann|0|clip.mp4||v",
                                    "5|Mix|Ann|0||Mix", "6|Three|ann", "7|Cast|Host|0|||p"});
        tracks[3].filepath = tracks[1].filepath;
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
        TrackMap some = tracksOf({"8|Bare|Ann"});
        some[8].cover = placeholder;
        for (int id : {1, 3, 6})
            some.insert(id, tracks[id]);
        const manager::ViewResult covers = manager::Get_Artistlist(true, some, {});
        QCOMPARE(covers.artistCoverArt.value(QStringLiteral("ann")),
                 (QStringList{"/art/Three.jpg", "/art/Two.jpg", "/art/One.jpg", placeholder}));
    }

    // A track's cover stays in its artist's list unless the list no longer
    // holds it; tracks of an album share one cover text.
    void artistCoverList_data()
    {
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("artist");
        QTest::addColumn<QStringList>("covers");
        QTest::addRow("a picture a playlist entry dropped is taken by the next track showing it")
            << QStringList{"1|Two|Ann", "2|One|Ann|0||Mix", "3|One|Ann"} << "Ann" << QStringList{"/art/One.jpg"};
        QTest::addRow("another spelling's playlist entry between an album's tracks")
            << QStringList{"1|Debut|Björk", "2|Mix|BJÖRK|0||Mix", "3|Debut|Björk"} << QString::fromUtf8("Björk")
            << QStringList{"/art/Debut.jpg"};
    }

    void artistCoverList()
    {
        QFETCH(QStringList, rows);
        QFETCH(QString, artist);
        QFETCH(QStringList, covers);
        TrackMap tracks = tracksOf(rows);
        // One text per album, as a loaded album's tracks share it.
        QHash<QString, QString> albumCovers;
        for (track &t : tracks) {
            t.cover = albumCovers.value(t.albumName, t.cover);
            albumCovers.insert(t.albumName, t.cover);
        }
        const manager::ViewResult result = manager::Get_Artistlist(true, tracks, {});
        QCOMPARE(result.artistCoverArt.value(artist.toLower()), covers);
        QCOMPARE(row<ArtistDataModel>(result, artist)->coverart(), covers);
    }

    void groupRows_data()
    {
        QTest::addColumn<bool>("playlist");
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QList<int>>("perRow");
        QTest::addRow("1 track") << false << 1 << QStringList{"rocka01", "rocka02"} << QList<int>{1, 0};
        QTest::addRow("7 tracks") << false << 7 << QStringList{"rocka01", "rocka02"} << QList<int>{6, 1};
        QTest::addRow("13 tracks") << false << 13 << QStringList{"rocka01", "rocka02", "rocka03"}
                                   << QList<int>{6, 6, 1};
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

    void groupRows()
    {
        QFETCH(bool, playlist);
        QFETCH(int, count);
        QFETCH(QStringList, keys);
        TrackMap list;
        for (int i = 1; i <= count; ++i) {
            list[i] = parse(QStringLiteral("%1|Rock|Artist|%1||%2").arg(i).arg(playlist ? "Rock" : ""));
            list[i].album_id = 7;
            list[i].playlist_id = playlist ? 7 : 0;
        }
        const manager::ViewResult result =
            playlist ? manager::Get_Playlist(list, {}) : manager::Get_Tracklist(true, list, {});
        QCOMPARE(result.models.keys(), keys);
        QList<int> sizes;
        for (const QObject *group : result.models)
            sizes.append(int(trackIdsOf(group).size()));
        QTEST(sizes, "perRow");
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
        // The first row tells how many rows the group has, the others nothing.
        QCOMPARE(first->grouprows(), int(keys.size()));
        for (qsizetype i = 1; i < keys.size(); ++i)
            QCOMPARE(row<TrackDataModel>(result, keys.at(i))->grouprows(), 0);
    }

    void whereEachKindLands()
    {
        const TrackMap all =
            tracksOf({"1|Plain", "2|Plain|Artist|0||Road Trip", "3|Cast|Artist|0|||p", "4|Cast|Artist|0||Road Trip|p",
                      "5|Book|Artist|0|||b", "6|Book|Artist|0||Road Trip|b", "7|||0|clip.mp4||v",
                      "8|||0|other.mp4|Road Trip|v"});
        const manager::LibraryViews views = manager::buildLibraryViews(all, {});
        QCOMPARE(groupedIds(views.trackRowModels), QSet<int>({1}));
        QCOMPARE(groupedIds(views.playlistModels), QSet<int>({2, 4, 6}));
        QCOMPARE(groupedIds(views.podcastModels), QSet<int>({3, 4}));
        QCOMPARE(views.audiobookModels.models.keys(), QStringList{QStringLiteral("Book")});
        QCOMPARE(views.videoModels.models.keys(),
                 (QStringList{QStringLiteral("clip.mp4"), QStringLiteral("other.mp4")}));
        QCOMPARE(views.albumModels.models.keys(), QStringList{QStringLiteral("plain")});
        QCOMPARE(views.artistModels.models.keys(), QStringList{QStringLiteral("Artist")});

        // Podcasts are grouped by the album name as it is (music by the lower-cased one).
        const TrackMap rock = tracksOf({"1|Rock|First|2|||p", "2|rock|Second|1|||p"});
        QCOMPARE(manager::Get_Podcastlist(rock, {}).models.keys(),
                 (QStringList{"Rocka01", "Rocka02", "rocka01", "rocka02"}));
    }

    void trackLines()
    {
        TrackMap list = tracksOf(
            {"10|Order|A|3|c", "11|Order|A|1|a", "12|Order|A|2|Zed", "13|Order|A|2|beta", "14|Order|A|0|intro"});
        list[10].duration = 40000.9; // longer than 9 hours
        manager::ViewInput input;
        input.checkedTrackIds = {14}; // the highest id decides the group's tick
        const manager::ViewResult rows = manager::Get_Tracklist(true, list, input);
        const auto *group = row<TrackDataModel>(rows, "ordera01");
        // 0 intro, 1 a, 2 beta, 2 Zed (titles compare lower-cased), 3 c
        QCOMPARE(trackIdsOf(group), (QList<int>{14, 11, 13, 12, 10}));
        QVERIFY(group->selected());
        QVERIFY(qobject_cast<TrackList *>(group->tracklist().first())->selected());
        QVERIFY(!qobject_cast<TrackList *>(group->tracklist().at(1))->selected());
        const auto *longest = qobject_cast<TrackList *>(group->tracklist().last());
        QCOMPARE(longest->duration(), 40000);
        QCOMPARE(longest->track_path(), list[10].filepath);
    }

    void browserStopsWhenClosed()
    {
        const TrackMap tracks = tracksOf({"1|A", "2|B"});
        std::atomic<bool> closed{true};
        manager::ViewInput input;
        input.mediaBrowserClosed = &closed;
        QVERIFY(manager::Get_Albumlist(false, tracks, input).models.isEmpty());
        QVERIFY(manager::Get_Tracklist(false, tracks, input).models.isEmpty());
        QCOMPARE(manager::Get_Albumlist(true, tracks, input).models.size(), 2); // the library ignores the flag
    }

    // The browser's track list sorts by title, then album; its album list by
    // album, then title.  Titles outside Latin-1 keep their own order.
    void detailListsSortByTheirKeys()
    {
        const TrackMap tracks = tracksOf({"1|X|A|0|b", "2|z|A|0|A", "3|Y|A|0|a", "4|A|A|0|Кино", "5|B|A|0|Άλφα"});
        QCOMPARE(idsOf(manager::Get_Tracklist(false, tracks, {}).details), (QList<int>{3, 2, 1, 5, 4}));
        QCOMPARE(idsOf(manager::Get_Albumlist(false, tracks, {}).details), (QList<int>{4, 5, 1, 3, 2}));
    }

    // A search's view, built from the tracks it leaves shown and their texts
    // (whose detail orders are worked out once for all tracks), is the view
    // a build from the marked map gives: the same rows with the same values
    // and cover lists, the same detail lines in the same order.
    void searchBuildsEqualWholeBuilds_data()
    {
        QTest::addColumn<int>("view");
        QTest::addColumn<int>("category");
        QTest::addColumn<QString>("text");
        QTest::addRow("albums, music") << 0 << 0 << "blu";
        QTest::addRow("albums, videos") << 0 << 4 << "clip";
        QTest::addRow("artists, music") << 1 << 0 << "an";
        QTest::addRow("artists, playlists") << 1 << 1 << "an";
        QTest::addRow("artists, a spelling in another case") << 1 << 0 << "ann";
        QTest::addRow("tracks, music") << 2 << 0 << "song";
        QTest::addRow("tracks, podcasts") << 2 << 2 << "e";
    }

    void searchBuildsEqualWholeBuilds()
    {
        QFETCH(int, view);
        QFETCH(int, category);
        QFETCH(QString, text);
        TrackMap tracks = tracksOf({"1|Blue|Ann|2|Song b", "2|Blue|Ann|1|song A", "3|Red|ann|1|Zed", "4|Mix|Ann|0||Mix",
                                    "5|Green|Bob|1|Blue moon", "6|Blue|Bob|3|A", "7|Cast|Host|0|Episode||p",
                                    "8|||0|clip.mp4||v", "9|Blue|Ann|2|Song b", "10|Pale Blue|Dana|1|Song 0",
                                    "11|||0|clip two.mp4||v", "12|Cast|Host|0|Late episode||p", "13|Red|ANN|2|Song d"});
        tracks[4].playlist_id = 9;
        tracks[3].cover = placeholder;
        // The covers carried from the build before.
        manager::ViewInput input;
        input.mediaTypeFilter = category;
        input.artistCoverArt = manager::Get_Artistlist(false, tracks, input).artistCoverArt;
        const std::shared_ptr<const manager::TrackTextList> texts = manager::textsOf(tracks);
        std::vector<manager::ShownTrack> shown;
        auto lowered = texts->cbegin();
        for (track &t : tracks) {
            const QString &field = view == 1                    ? lowered->artist
                                   : view == 2                  ? lowered->title
                                   : category == 4 && t.isVideo ? lowered->file
                                                                : lowered->album;
            t.isHidden = !field.contains(text);
            if (!t.isHidden)
                shown.push_back({&t, &*lowered});
            ++lowered;
        }
        QVERIFY(!shown.empty() && int(shown.size()) < tracks.size());
        manager::ViewInput searched = input;
        searched.texts = texts;
        searched.shown = &shown;
        const auto build = [view, &tracks](const manager::ViewInput &in) {
            return view == 0   ? manager::Get_Albumlist(false, tracks, in)
                   : view == 1 ? manager::Get_Artistlist(false, tracks, in)
                               : manager::Get_Tracklist(false, tracks, in);
        };
        const manager::ViewResult quick = build(searched);
        const manager::ViewResult whole = build(input);
        QCOMPARE(quick.models.keys(), whole.models.keys());
        const QList<QByteArray> fields{"albumid",    "albumname",  "artistname", "artistid",
                                       "albumcount", "trackcount", "coverart",   "visibility"};
        for (const QString &key : whole.models.keys()) {
            for (const QByteArray &field : fields)
                QCOMPARE(quick.models.value(key)->property(field), whole.models.value(key)->property(field));
            if (view == 2)
                QCOMPARE(trackIdsOf(quick.models.value(key)), trackIdsOf(whole.models.value(key)));
        }
        QCOMPARE(idsOf(quick.details), idsOf(whole.details));
        QVERIFY(!whole.details.isEmpty());
        if (view == 1) {
            for (const auto &[t, shownTexts] : shown)
                QCOMPARE(quick.artistCoverArt.value(shownTexts->artist),
                         whole.artistCoverArt.value(shownTexts->artist));
        }
    }

    // A playlist group is ticked only in the playlists category's albums view.
    // "category browser view ticked"
    void playlistGroupTick_data()
    {
        QTest::addColumn<QList<int>>("fields");
        QTest::addRow("playlists, albums view") << QList<int>{1, 0, 1};
        QTest::addRow("music category") << QList<int>{0, 0, 0};
        QTest::addRow("playlists, artists view") << QList<int>{1, 1, 0};
    }

    void playlistGroupTick()
    {
        TrackMap listed = tracksOf({"1|Mix|Artist|0||Mix"});
        listed[1].playlist_id = 9;
        manager::ViewInput input;
        input.checkedPlaylistIds = {9};
        QFETCH(QList<int>, fields);
        input.mediaTypeFilter = fields[0];
        input.browserView = fields[1];
        const manager::ViewResult rows = manager::Get_Playlist(listed, input);
        QCOMPARE(row<TrackDataModel>(rows, QStringLiteral("Mixa01"))->selected(), bool(fields[2]));
    }

    // The browser's artists: music with a playlist id is neither shown nor
    // counted; in the playlists category every artist shows the playlist picture.
    void browserArtists()
    {
        TrackMap tracks = tracksOf({"1|One|Ann", "2|Two|Ann"});
        tracks[2].playlist_id = 5;
        manager::ViewInput input;
        const manager::ViewResult artists = manager::Get_Artistlist(false, tracks, input);
        QCOMPARE(artists.details.size(), 1);
        QCOMPARE(row<ArtistDataModel>(artists, QStringLiteral("Ann"))->trackcount(), 1);
        TrackMap listed = tracksOf({"1|One|Ann|0||Mix"});
        listed[1].playlist_id = 5;
        input.mediaTypeFilter = 1;
        const manager::ViewResult listedArtists = manager::Get_Artistlist(false, listed, input);
        QCOMPARE(row<ArtistDataModel>(listedArtists, "Ann")->coverart(),
                 QStringList{QStringLiteral("qrc:///resources/photos/playlist.png")});
    }

    // 128 kbit/s is still poor, 129 is what TagLib reports for a 128k MP3, and a
    // rate past 16 bits is not read as 64.
    void qualityClasses()
    {
        QList<int> classes;
        for (int bitrate : {128, 129, 255, 256, 65600})
            classes << manager::getMediaQuality(bitrate);
        QCOMPARE(classes, (QList<int>{0, 1, 1, 2, 2}));
    }
};

CORVANE_TEST_MAIN(TestLibraryViews)
#include "tst_libraryviews.moc"
