#include <QtTest>

#include "app/manager.h"
#include "testenv.h"

namespace {

// One stored track as the look-ups see it.
struct Row
{
    int id;
    QString path;
    int artistId;
    QString artist;
    int albumId;
    QString album;
    QString playlist; // empty: outside any playlist
};

enum class Kind { Artist, Album, Playlist };

int lookUp(const TrackMap &library, Kind kind, const QString &name)
{
    switch (kind) {
    case Kind::Artist:
        return manager::getArtistID(library, name);
    case Kind::Album:
        return manager::getAlbumID(library, name);
    case Kind::Playlist:
        return manager::getPlaylistID(library, name);
    }
    return -1;
}

} // namespace

Q_DECLARE_METATYPE(Kind)

class TestIdLookups : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void emptyLibraryGivesOne();
    void nameMatches_data();
    void nameMatches();
    void idsPastShortRange();
    void trackIdByPath();
    void duplicateTest_data();
    void duplicateTest();
    void nextVideoId();

private:
    void store(const QList<Row> &rows);

    TrackMap library;
};

// Files the rows in the library map as a library load does: a track inside
// a playlist carries its album id as playlist id.
void TestIdLookups::store(const QList<Row> &rows)
{
    for (const Row &r : rows) {
        track t;
        t.id = r.id;
        t.filepath = r.path;
        t.artist_id = r.artistId;
        t.artistName = r.artist;
        t.album_id = r.albumId;
        t.albumName = r.album;
        t.playlist = r.playlist;
        t.playlist_id = r.playlist.isEmpty() ? 0 : r.albumId;
        library.insert(t.id, t);
    }
}

void TestIdLookups::init()
{
    library.clear();
}

void TestIdLookups::emptyLibraryGivesOne()
{
    QCOMPARE(manager::getArtistID(library, QStringLiteral("Anyone")), 1);
    QCOMPARE(manager::getAlbumID(library, QStringLiteral("Anything")), 1);
    QCOMPARE(manager::getAlbumID(library, QStringLiteral("Ærø")), 1);
    QCOMPARE(manager::getPlaylistID(library, QStringLiteral("Road Trip")), 1);
    QCOMPARE(manager::getPlaylistID(library, QString()), 1);
    QCOMPARE(manager::getTrackID(library, QStringLiteral("/music/a.mp3")), 1);
    QCOMPARE(manager::getTrackID(library, QString()), 1);
    QCOMPARE(manager::getTrack(library, QStringLiteral("/music/a.mp3"), 0, QString()), 0);
}

void TestIdLookups::nameMatches_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("asked");
    QTest::addColumn<bool>("matches");

    QTest::addRow("album, same name") << Kind::Album << "Blue Train"
                                      << "Blue Train" << true;
    QTest::addRow("album, other case") << Kind::Album << "Blue Train"
                                       << "BLUE train" << true;
    QTest::addRow("album, other case, accented") << Kind::Album << "Café Olé"
                                                 << "CAFÉ OLÉ" << true;
    QTest::addRow("album, other case, Cyrillic") << Kind::Album << "Кино"
                                                 << "КИНО" << true;
    QTest::addRow("album, other name") << Kind::Album << "Blue Train"
                                       << "Blue Trains" << false;
    QTest::addRow("artist, same name") << Kind::Artist << "Miles Davis"
                                       << "Miles Davis" << true;
    QTest::addRow("artist, other case") << Kind::Artist << "Miles Davis"
                                        << "miles davis" << false;
    QTest::addRow("playlist, same name") << Kind::Playlist << "Road Trip"
                                         << "Road Trip" << true;
    QTest::addRow("playlist, other case") << Kind::Playlist << "Road Trip"
                                          << "road trip" << false;

    // Names are data, never SQL: quotes and LIKE wildcards match only
    // themselves.
    QTest::addRow("artist with an apostrophe") << Kind::Artist << "Guns N' Roses"
                                               << "Guns N' Roses" << true;
    QTest::addRow("album with an apostrophe") << Kind::Album << "Don't Stop"
                                              << "don't stop" << true;
    QTest::addRow("playlist with an apostrophe") << Kind::Playlist << "Mum's Mix"
                                                 << "Mum's Mix" << true;
    QTest::addRow("artist, percent is no wildcard") << Kind::Artist << "100% Pure"
                                                    << "100%" << false;
    QTest::addRow("album, percent is no wildcard") << Kind::Album << "100% Pure"
                                                   << "%" << false;
    QTest::addRow("playlist, percent is no wildcard") << Kind::Playlist << "Top 40"
                                                      << "Top%" << false;
    QTest::addRow("artist, underscore is no wildcard") << Kind::Artist << "AxB"
                                                       << "A_B" << false;
    QTest::addRow("album, underscore is no wildcard") << Kind::Album << "AxB"
                                                      << "a_b" << false;
    QTest::addRow("playlist, underscore is no wildcard") << Kind::Playlist << "AxB"
                                                         << "A_B" << false;
    QTest::addRow("album with percent and underscore") << Kind::Album << "50%_off"
                                                       << "50%_OFF" << true;
    QTest::addRow("artist, a quote that would end SQL text") << Kind::Artist << "x' OR '1'='1"
                                                             << "x' OR '1'='1" << true;
    QTest::addRow("artist, injected text finds nothing") << Kind::Artist << "Someone"
                                                         << "x' OR '1'='1" << false;
}

void TestIdLookups::nameMatches()
{
    QFETCH(Kind, kind);
    QFETCH(QString, stored);
    QFETCH(QString, asked);
    QFETCH(bool, matches);

    // The named track sits between two others with larger ids of every
    // kind, so a match returns its own id and a miss returns 31 + 1.
    const QString playlist = kind == Kind::Playlist ? stored : QString();
    store({{1, QStringLiteral("/m/1.mp3"), 30, QStringLiteral("Filler A"), 30, QStringLiteral("Filler A"),
            QStringLiteral("Filler A")},
           {2, QStringLiteral("/m/2.mp3"), 12, kind == Kind::Artist ? stored : QStringLiteral("Artist"), 12,
            kind == Kind::Album || kind == Kind::Playlist ? stored : QStringLiteral("Album"), playlist},
           {3, QStringLiteral("/m/3.mp3"), 31, QStringLiteral("Filler B"), 31, QStringLiteral("Filler B"),
            QStringLiteral("Filler B")}});

    QCOMPARE(lookUp(library, kind, asked), matches ? 12 : 32);
}

void TestIdLookups::idsPastShortRange()
{
    store({{40000, QStringLiteral("/m/big.mp3"), 40000, QStringLiteral("Big Artist"), 40000,
            QStringLiteral("Big Album"), QStringLiteral("Big List")},
           {70000, QStringLiteral("/m/bigger.mp3"), 70000, QStringLiteral("Bigger Artist"), 70000,
            QStringLiteral("Bigger Album"), QString()}});

    QCOMPARE(manager::getArtistID(library, QStringLiteral("Big Artist")), 40000);
    QCOMPARE(manager::getAlbumID(library, QStringLiteral("big album")), 40000);
    QCOMPARE(manager::getPlaylistID(library, QStringLiteral("Big List")), 40000);
    QCOMPARE(manager::getTrackID(library, QStringLiteral("/m/big.mp3")), 40000);
    QCOMPARE(manager::getTrack(library, QStringLiteral("/m/bigger.mp3"), 0, QString()), 70000);

    QCOMPARE(manager::getArtistID(library, QStringLiteral("New Artist")), 70001);
    QCOMPARE(manager::getAlbumID(library, QStringLiteral("New Album")), 70001);
    QCOMPARE(manager::getAlbumID(library, QStringLiteral("Новый альбом")), 70001);
    QCOMPARE(manager::getTrackID(library, QString()), 70001);
    // Only tracks inside a playlist carry a playlist id.
    QCOMPARE(manager::getPlaylistID(library, QStringLiteral("New List")), 40001);
}

void TestIdLookups::trackIdByPath()
{
    store({{4, QStringLiteral("/m/Song.mp3"), 1, QStringLiteral("A"), 1, QStringLiteral("B"), QString()},
           {9, QString(), 1, QStringLiteral("A"), 1, QStringLiteral("B"), QString()},
           {11, QStringLiteral("/m/other.mp3"), 1, QStringLiteral("A"), 1, QStringLiteral("B"), QString()}});

    QCOMPARE(manager::getTrackID(library, QStringLiteral("/m/Song.mp3")), 4);
    QCOMPARE(manager::getTrackID(library, QStringLiteral("/m/song.mp3")), 12);
    // An empty path never matches, not even a track stored without one.
    QCOMPARE(manager::getTrackID(library, QString()), 12);
    QCOMPARE(manager::getTrackID(library, QStringLiteral("")), 12);
    // A track outside any playlist has playlist id 0.
    QCOMPARE(manager::getPlaylistID(library, QString()), 0);
}

void TestIdLookups::duplicateTest_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("playlistId");
    QTest::addColumn<QString>("playlist");
    QTest::addColumn<int>("found");

    QTest::addRow("plain track, no playlist") << "/m/plain.mp3" << 0 << "" << 5;
    QTest::addRow("plain track, playlist name ignored without an id") << "/m/plain.mp3" << 0 << "Mix" << 5;
    QTest::addRow("plain track asked inside a playlist") << "/m/plain.mp3" << 3 << "Mix" << 0;
    QTest::addRow("playlist entry only, no playlist") << "/m/listed.mp3" << 0 << "" << 0;
    QTest::addRow("playlist entry only, negative id") << "/m/listed.mp3" << -1 << "Mix" << 0;
    QTest::addRow("playlist entry, its playlist") << "/m/listed.mp3" << 3 << "Mix" << 6;
    QTest::addRow("playlist entry, playlist name in other case") << "/m/listed.mp3" << 3 << "mix" << 0;
    QTest::addRow("playlist entry, other playlist") << "/m/listed.mp3" << 3 << "Other" << 0;
    QTest::addRow("path in other case") << "/m/PLAIN.mp3" << 0 << "" << 0;
    QTest::addRow("unknown path") << "/m/none.mp3" << 0 << "" << 0;
    QTest::addRow("both forms, plain first") << "/m/both.mp3" << 0 << "" << 7;
    QTest::addRow("both forms, the entry") << "/m/both.mp3" << 3 << "Mix" << 8;
}

void TestIdLookups::duplicateTest()
{
    QFETCH(QString, path);
    QFETCH(int, playlistId);
    QFETCH(QString, playlist);
    QFETCH(int, found);

    store(
        {{5, QStringLiteral("/m/plain.mp3"), 1, QStringLiteral("A"), 3, QStringLiteral("Mix"), QString()},
         {6, QStringLiteral("/m/listed.mp3"), 1, QStringLiteral("A"), 3, QStringLiteral("Mix"), QStringLiteral("Mix")},
         {7, QStringLiteral("/m/both.mp3"), 1, QStringLiteral("A"), 3, QStringLiteral("Mix"), QString()},
         {8, QStringLiteral("/m/both.mp3"), 1, QStringLiteral("A"), 3, QStringLiteral("Mix"), QStringLiteral("Mix")}});

    QCOMPARE(manager::getTrack(library, path, playlistId, playlist, QStringLiteral("not used")), found);
}

void TestIdLookups::nextVideoId()
{
    QCOMPARE(manager::getTrackIDVideo(TrackMap()), 1);

    // The records' own ids count, not the keys.
    TrackMap processing;
    track a;
    a.id = 40000;
    track b;
    b.id = 3;
    processing.insert(1, a);
    processing.insert(50000, b);
    QCOMPARE(manager::getTrackIDVideo(processing), 40001);
}

CORVANE_TEST_MAIN(TestIdLookups)

#include "tst_idlookups.moc"
