#include <QtTest>

#include "app/albumdatamodel.h"
#include "app/libraryremover.h"
#include "app/manager.h"
#include "app/messagehandler.h"
#include "database/ruvodb.h"
#include "libraryfixture.h"
#include "testenv.h"

using namespace testkit;

// REMOVE and TRANSFER on the library's ticked rows: what each view removes or
// hands over, that only the library's own copies and emptied folders are
// deleted, and the messages when nothing is ticked.
class TestLibraryRemover : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanupTestCase() { forgetLibrary(); }
    void removalPerView_data();
    void removalPerView();
    void foldersAndLinks();
    void removeFromTheWindow();
    void transferPerView_data();
    void transferPerView();
    void actionsOnTheRows_data();
    void actionsOnTheRows();

private:
    QString lib(const QString &relative) const { return ruvoDB::programCopyFolder() + QLatin1Char('/') + relative; }
    QString outside(const QString &relative) const { return testHome() + QStringLiteral("/Own/") + relative; }
    void store(const QString &name, track t);
    TrackMap library;
    QMap<QString, int> ids;       // fixture name -> track id
    QMap<QString, track> byName;
};

void TestLibraryRemover::store(const QString &name, track t)
{
    QVERIFY(touch(t.filepath));
    QVERIFY(ruvoDB().insertDataOne(t));
    byName.insert(name, t);
}

// Seven entries: two songs of "Album", a podcast and an audiobook sharing its
// album, a song outside the library folder, a video, and a playlist entry
// that uses the second song's file.
void TestLibraryRemover::init()
{
    QVERIFY(openLibrary());
    QDir(ruvoDB::programCopyFolder()).removeRecursively();
    QDir(outside(QString())).removeRecursively();
    byName.clear();
    auto make = [](const QString &path, const QString &album, const QString &artist) {
        return makeTrack(path, album, artist);
    };
    store(QStringLiteral("a1"), make(lib("Album/a1.mp3"), "Album", "Artist"));
    store(QStringLiteral("a2"), make(lib("Album/a2.mp3"), "Album", "Artist"));
    track pod = make(lib("Album/pod.mp3"), "Album", "Host");
    pod.isPodcast = true;
    store(QStringLiteral("pod"), pod);
    track book = make(lib("Album/book.mp3"), "Album", "Reader");
    book.isAudiobook = true;
    store(QStringLiteral("book"), book);
    store(QStringLiteral("b1"), make(outside("b1.mp3"), "Other", "Artist"));
    track video = make(lib("Videos/v1.mp4"), "Clips", "Artist");
    video.isVideo = true;
    store(QStringLiteral("v1"), video);
    track entry = make(lib("Album/a2.mp3"), "Road Trip", "DJ");
    entry.playlist = QStringLiteral("Road Trip");
    store(QStringLiteral("p1"), entry);

    library = ruvoDB().loadDB();
    QCOMPARE(library.size(), 7);
    ids.clear();
    for (const track &t : std::as_const(library)) {
        for (auto it = byName.cbegin(); it != byName.cend(); ++it) {
            if (it->filepath == t.filepath && it->playlist == t.playlist && it->artistName == t.artistName)
                ids.insert(it.key(), t.id);
        }
    }
    QCOMPARE(ids.size(), 7);
}

void TestLibraryRemover::removalPerView_data()
{
    QTest::addColumn<int>("view");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QStringList>("ticked");
    QTest::addColumn<QStringList>("removed");
    QTest::addColumn<QStringList>("filesGone");

    QTest::addRow("album view keeps the album's podcast and audiobook; a file a playlist uses stays")
        << 0 << "album" << QStringList{"a1"} << QStringList{"a1", "a2"} << QStringList{"a1"};
    QTest::addRow("artist view removes all of the artist but podcasts and audiobooks")
        << 1 << "artist" << QStringList{"a1"} << QStringList{"a1", "a2", "b1", "v1"} << QStringList{"a1", "v1"};
    QTest::addRow("a file outside the library keeps its file and loses its row")
        << 2 << "track" << QStringList{"b1"} << QStringList{"b1"} << QStringList();
    QTest::addRow("playlist view removes the entry, the album's song keeps the file")
        << 3 << "track" << QStringList{"p1"} << QStringList{"p1"} << QStringList();
    QTest::addRow("podcast view removes only podcasts")
        << 4 << "track" << QStringList{"pod", "a1"} << QStringList{"pod"} << QStringList{"pod"};
    QTest::addRow("audiobook view removes only audiobooks of the album")
        << 5 << "album" << QStringList{"book"} << QStringList{"book"} << QStringList{"book"};
    QTest::addRow("video view removes the video and its emptied folder")
        << 6 << "video" << QStringList{"v1"} << QStringList{"v1"} << QStringList{"v1"};
}

void TestLibraryRemover::removalPerView()
{
    QFETCH(int, view);
    QFETCH(QString, kind);
    QFETCH(QStringList, ticked);
    QFETCH(QStringList, removed);
    QFETCH(QStringList, filesGone);

    LibraryRemover::Ticks ticks;
    for (const QString &name : ticked) {
        const track &t = library[ids[name]];
        if (kind == QLatin1String("album"))
            ticks.albumIds << t.album_id;
        else if (kind == QLatin1String("artist"))
            ticks.artistIds << t.artist_id;
        else if (kind == QLatin1String("track"))
            ticks.trackIds << t.id;
        else
            ticks.videoIds << t.id;
    }
    const std::atomic<bool> stop{false};
    const LibraryRemover::Result result =
        LibraryRemover::removeTracks(library, ticks, view, ruvoDB::programCopyFolder(), stop);
    QVERIFY(result.ok);

    QStringList removedNames;
    for (auto it = ids.cbegin(); it != ids.cend(); ++it) {
        const bool rowGone = scalar(QStringLiteral("SELECT count(*) FROM tracks WHERE id = ?"), {it.value()}).toInt() == 0;
        QCOMPARE(result.removedIds.contains(it.value()), rowGone);
        if (rowGone)
            removedNames << it.key();
        QVERIFY2(QFile::exists(byName[it.key()].filepath) != filesGone.contains(it.key()), qPrintable(it.key()));
    }
    removed.sort();
    QCOMPARE(removedNames, removed);
    QCOMPARE(QFileInfo::exists(lib("Videos")), !filesGone.contains(QStringLiteral("v1")));
    QVERIFY(QFileInfo::exists(lib("Album")));
}

void TestLibraryRemover::foldersAndLinks()
{
    QVERIFY(openLibrary());
    QDir(ruvoDB::programCopyFolder()).removeRecursively();
    // A song of its own album beside a nested folder with a file no row
    // knows, a song reached through a link to the user's folder, and empty
    // folders.
    const track solo = makeTrack(lib("Solo/x1.mp3"), "Solo", "Solo Artist");
    QVERIFY(touch(solo.filepath));
    QVERIFY(touch(outside("Linked/x2.mp3")));
    QVERIFY(QFile::link(outside("Linked"), lib("Link")));
    const track linked = makeTrack(lib("Link/x2.mp3"), "Linked", "Solo Artist");
    QVERIFY(touch(lib("Solo/Inner/keep.mp3")));
    QVERIFY(QDir().mkpath(lib("Empty/Deeper")));
    QVERIFY(ruvoDB().insertDataOne(solo));
    QVERIFY(ruvoDB().insertDataOne(linked));
    const TrackMap tracks = ruvoDB().loadDB();
    QCOMPARE(tracks.size(), 2);

    LibraryRemover::Ticks ticks;
    ticks.artistIds << tracks.first().artist_id;
    const std::atomic<bool> stop{false};
    const LibraryRemover::Result result =
        LibraryRemover::removeTracks(tracks, ticks, 1, ruvoDB::programCopyFolder(), stop);
    QCOMPARE(result.removedIds.size(), 2);
    QCOMPARE(count(QStringLiteral("tracks")), 0);
    QVERIFY(QFile::exists(outside("Linked/x2.mp3")));           // never through a link
    QVERIFY(QFileInfo(lib("Link")).isSymLink());
    QVERIFY(!QFileInfo::exists(lib("Solo/x1.mp3")));
    QVERIFY(QFile::exists(lib("Solo/Inner/keep.mp3")));         // a nested file is safe
    QVERIFY(!QFileInfo::exists(lib("Empty")));                  // empty at any depth: gone
    QVERIFY(QFileInfo::exists(ruvoDB::programCopyFolder()));    // the library folder itself stays
}

void TestLibraryRemover::removeFromTheWindow()
{
    manager controller;
    controller.libraryTracks = library;
    controller.libraryView = 0;
    controller.libraryViews = manager::buildLibraryViews(library, {});
    controller.checkedAlbumIds << 1;
    bool ticked = false;
    for (QObject *object : std::as_const(controller.libraryViews.albumModels.models)) {
        auto *row = qobject_cast<AlbumDataModel *>(object);
        if (row->albumid() == library[ids["a1"]].album_id) {
            row->setSelected(true);
            ticked = true;
        }
    }
    QVERIFY(ticked);
    QSignalSpy shown(&controller, &manager::sgShowLoading);
    QSignalSpy hidden(&controller, &manager::sgHideLoading);
    controller.exeRemoveTransfer(QStringLiteral("remove"));
    QCOMPARE(shown.size(), 1);
    QVERIFY(hidden.wait(10000));
    QVERIFY(!controller.libraryTracks.contains(ids["a1"]));
    QVERIFY(!controller.libraryTracks.contains(ids["a2"]));
    QCOMPARE(controller.libraryTracks.size(), 5);
    QVERIFY(controller.checkedAlbumIds.isEmpty());
}

void TestLibraryRemover::transferPerView_data()
{
    QTest::addColumn<int>("view");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QStringList>("ticked");
    QTest::addColumn<QStringList>("handed");

    QTest::addRow("album: its songs, not its podcast, audiobook or video")
        << 0 << "album" << QStringList{"a1"} << QStringList{"a1", "a2"};
    QTest::addRow("artist: songs only, no playlist entry, no video")
        << 1 << "artist" << QStringList{"a1"} << QStringList{"a1", "a2", "b1"};
    QTest::addRow("playlist: the entry") << 3 << "track" << QStringList{"p1", "a1"} << QStringList{"p1"};
    QTest::addRow("podcast") << 4 << "track" << QStringList{"pod", "a1"} << QStringList{"pod"};
    QTest::addRow("audiobook") << 5 << "album" << QStringList{"book"} << QStringList{"book"};
    QTest::addRow("video: only the ticked video") << 6 << "video" << QStringList{"v1"} << QStringList{"v1"};
    QTest::addRow("videos never come through album ids") << 6 << "album" << QStringList{"v1"} << QStringList();
}

void TestLibraryRemover::transferPerView()
{
    QFETCH(int, view);
    QFETCH(QString, kind);
    QFETCH(QStringList, ticked);
    QFETCH(QStringList, handed);
    LibraryRemover::Ticks ticks;
    for (const QString &name : ticked) {
        const track &t = library[ids[name]];
        (kind == QLatin1String("album") ? ticks.albumIds
         : kind == QLatin1String("artist") ? ticks.artistIds
         : kind == QLatin1String("track") ? ticks.trackIds
                                          : ticks.videoIds)
            << (kind == QLatin1String("album") ? t.album_id : kind == QLatin1String("artist") ? t.artist_id : t.id);
    }
    QStringList names;
    const TrackMap chosen = LibraryRemover::tracksToTransfer(library, ticks, view);
    for (int id : chosen.keys())
        names << ids.key(id);
    names.sort();
    handed.sort();
    QCOMPARE(names, handed);
}

void TestLibraryRemover::actionsOnTheRows_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("tick");
    QTest::addColumn<bool>("hide");
    QTest::addColumn<int>("message");
    QTest::addColumn<int>("handed");

    QTest::addRow("remove with nothing ticked") << "remove" << false << false << 5 << 0;
    QTest::addRow("transfer with nothing ticked") << "transfer" << false << false << 6 << 0;
    QTest::addRow("a ticked row the search hides is not ticked") << "transfer" << true << true << 6 << 0;
    QTest::addRow("transfer hands the ticked album over and opens the dialog")
        << "transfer" << true << false << 0 << 2;
}

void TestLibraryRemover::actionsOnTheRows()
{
    QFETCH(QString, action);
    QFETCH(bool, tick);
    QFETCH(bool, hide);
    QFETCH(int, message);
    QFETCH(int, handed);

    manager controller;
    controller.libraryTracks = library;
    controller.libraryViews = manager::buildLibraryViews(library, {});
    for (QObject *object : std::as_const(controller.libraryViews.albumModels.models)) {
        auto *row = qobject_cast<AlbumDataModel *>(object);
        if (row->albumid() == library[ids["a1"]].album_id) {
            row->setSelected(tick);
            row->setVisibility(!hide);
        }
    }
    TrackMap handedOver;
    controller.libraryRemover().setHandOver([&handedOver](const TrackMap &map) { handedOver = map; });
    QSignalSpy messages(&controller, &manager::showMessageBox);
    QSignalSpy dialog(&controller, &manager::showTransferBrowser);
    QSignalSpy loading(&controller, &manager::sgShowLoading);
    controller.exeRemoveTransfer(action);

    QCOMPARE(messages.size(), message ? 1 : 0);
    if (message)
        QCOMPARE(messages.first().first().value<QString>(), MessageHandler().message(message));
    QCOMPARE(dialog.size(), handed ? 1 : 0);
    QCOMPARE(handedOver.size(), handed);
    QCOMPARE(controller.chosenTracks.size(), handed);
    QCOMPARE(loading.size(), 0);
}

CORVANE_TEST_MAIN(TestLibraryRemover)
#include "tst_libraryremover.moc"
