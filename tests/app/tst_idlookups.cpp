#include <QtTest>

#include "app/manager.h"
#include "testenv.h"

namespace {

// A library as a load files it: a track inside a playlist carries its album
// id as playlist id.
struct Entry
{
    int id;
    QString path;
    QString artist;
    int albumId;
    QString album;
    QString playlist;
};

TrackMap libraryOf(const QList<Entry> &entries)
{
    TrackMap library;
    for (const Entry &e : entries) {
        track t;
        t.id = e.id;
        t.filepath = e.path;
        t.artist_id = t.album_id = e.albumId;
        t.artistName = e.artist;
        t.albumName = e.album;
        t.playlist = e.playlist;
        t.playlist_id = e.playlist.isEmpty() ? 0 : e.albumId;
        library.insert(t.id, t);
    }
    return library;
}

} // namespace

class TestIdLookups : public QObject
{
    Q_OBJECT

private slots:
    void nextIds();
    void nameMatches_data();
    void nameMatches();
    void getTrack_data();
    void getTrack();
};

void TestIdLookups::nextIds()
{
    const TrackMap none;
    for (int id : {manager::getArtistID(none, "Anyone"), manager::getAlbumID(none, "Anything"),
                   manager::getPlaylistID(none, "Road Trip"), manager::getTrackID(none, "/music/a.mp3"),
                   manager::getTrackIDVideo(none)})
        QCOMPARE(id, 1);
    QCOMPARE(manager::getTrack(none, QStringLiteral("/music/a.mp3"), 0, QString()), 0);
    // Ids past 16 bits.
    const TrackMap library = libraryOf({{40000, "/m/big.mp3", "Big", 40000, "Big Album", "Big List"},
                                        {70000, "/m/bigger.mp3", "Bigger", 70000, "Bigger Album", QString()}});
    QCOMPARE(manager::getAlbumID(library, QStringLiteral("big album")), 40000);
    QCOMPARE(manager::getTrack(library, QStringLiteral("/m/bigger.mp3"), 0, QString()), 70000);
    QCOMPARE(manager::getArtistID(library, QStringLiteral("New")), 70001);
    QCOMPARE(manager::getTrackID(library, QStringLiteral("/m/BIG.mp3")), 70001); // paths keep their case
    QCOMPARE(manager::getPlaylistID(library, QStringLiteral("New List")), 40001); // only playlist entries count
    // The processing list's own ids count, not its keys.
    TrackMap processing;
    processing[1].id = 40000;
    processing[50000].id = 3;
    QCOMPARE(manager::getTrackIDVideo(processing), 40001);
}

void TestIdLookups::nameMatches_data()
{
    QTest::addColumn<char>("kind"); // a(rtist), b (album), p(laylist)
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("asked");
    QTest::addColumn<bool>("matches");
    QTest::addRow("album, other case") << 'b' << "Blue Train" << "BLUE train" << true;
    QTest::addRow("album, other case, Cyrillic") << 'b' << "Кино" << "КИНО" << true;
    QTest::addRow("artist, other case") << 'a' << "Miles Davis" << "miles davis" << false;
    QTest::addRow("playlist, other case") << 'p' << "Road Trip" << "road trip" << false;
}

void TestIdLookups::nameMatches()
{
    QFETCH(char, kind);
    QFETCH(QString, stored);
    QFETCH(QString, asked);
    // The named track lies between two with larger ids: a match gives its
    // own id, a miss 31 + 1.
    const TrackMap library = libraryOf(
        {{1, "/m/1.mp3", "A", 30, "A", "A"},
         {2, "/m/2.mp3", kind == 'a' ? stored : "B", 12, kind == 'a' ? "B" : stored, kind == 'p' ? stored : QString()},
         {3, "/m/3.mp3", "C", 31, "C", "C"}});
    const int id = kind == 'a'   ? manager::getArtistID(library, asked)
                   : kind == 'b' ? manager::getAlbumID(library, asked)
                                 : manager::getPlaylistID(library, asked);
    QFETCH(bool, matches);
    QCOMPARE(id, matches ? 12 : 32);
}

void TestIdLookups::getTrack_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("playlistId");
    QTest::addColumn<QString>("playlist");
    QTest::addColumn<int>("found");
    QTest::addRow("plain track") << "/m/plain.mp3" << 0 << "" << 5;
    QTest::addRow("plain track asked inside a playlist") << "/m/plain.mp3" << 3 << "Mix" << 0;
    QTest::addRow("playlist entry only, playlist id 0") << "/m/listed.mp3" << 0 << "" << 0;
    QTest::addRow("playlist entry, its playlist") << "/m/listed.mp3" << 3 << "Mix" << 6;
    QTest::addRow("both forms, plain") << "/m/both.mp3" << 0 << "" << 7;
    QTest::addRow("both forms, the entry") << "/m/both.mp3" << 3 << "Mix" << 8;
}

void TestIdLookups::getTrack()
{
    QFETCH(QString, path);
    QFETCH(int, playlistId);
    QFETCH(QString, playlist);
    const TrackMap library = libraryOf({{5, "/m/plain.mp3", "A", 3, "Mix", QString()},
                                        {6, "/m/listed.mp3", "A", 3, "Mix", "Mix"},
                                        {7, "/m/both.mp3", "A", 3, "Mix", QString()},
                                        {8, "/m/both.mp3", "A", 3, "Mix", "Mix"}});
    QTEST(manager::getTrack(library, path, playlistId, playlist), "found");
}

CORVANE_TEST_MAIN(TestIdLookups)
#include "tst_idlookups.moc"
