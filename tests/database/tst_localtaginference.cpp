#include <QtTest>

#include <QSqlDatabase>
#include <QSqlQuery>

#include "core/shared.h"
#include "database/connection.h"
#include "database/database.h"
#include "database/ruvodb.h"
#include "testenv.h"

namespace {

const QString folder = QStringLiteral("/music/Folder");

// One staged track of the folder, as a scan would have left it.
struct Staged
{
    QString title;
    QString album;
    QString artist;
    QString genre = QStringLiteral("Rock");
    int year = 2001;
    int bitrate = 192;
    int duration = 200;
    int tracknumber = 0;
    QString playlist = QStringLiteral("");
};

void forgetLibrary()
{
    const QString name = QString::fromLatin1(QSqlDatabase::defaultConnection);
    if (QSqlDatabase::contains(name)) {
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
    const QString file = shared::dataFolder() + QStringLiteral("/ruvo.db");
    for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        QFile::remove(file + suffix);
}

int nameRow(QSqlQuery &query, const QString &table, const QString &name)
{
    query.prepare(QStringLiteral("SELECT id FROM %1 WHERE name = ?").arg(table));
    query.addBindValue(name);
    if (query.exec() && query.next())
        return query.value(0).toInt();
    query.prepare(table == "albumsRepo" ? QStringLiteral("INSERT INTO albumsRepo(name,artist_id,cover,year) "
                                                         "VALUES (?,0,'',0)")
                                        : QStringLiteral("INSERT INTO artistsRepo(name) VALUES (?)"));
    query.addBindValue(name);
    return query.exec() ? query.lastInsertId().toInt() : 0;
}

// Fills the staging tables with SQL, the way the scan leaves them.
bool stage(const QList<Staged> &rows, const QString &where = folder)
{
    QSqlQuery query(Connection::forThread());
    for (const Staged &row : rows) {
        // A null name stands for a track with no artist or album row behind it.
        const QVariant artistId = row.artist.isNull() ? QVariant(0) : QVariant(nameRow(query, "artistsRepo", row.artist));
        const QVariant albumId = row.album.isNull() ? QVariant(0) : QVariant(nameRow(query, "albumsRepo", row.album));
        query.prepare("INSERT INTO TrackRepo(filename, trackname, filepath, bitrate, tracknumber, duration, "
                      "artist_id, album_id, genre, year, Playlist, folderLocation) VALUES (?,?,?,?,?,?,?,?,?,?,?,?)");
        query.addBindValue(row.title + ".mp3");
        query.addBindValue(row.title);
        query.addBindValue(where + "/" + row.title + ".mp3");
        query.addBindValue(row.bitrate);
        query.addBindValue(row.tracknumber);
        query.addBindValue(row.duration);
        query.addBindValue(artistId);
        query.addBindValue(albumId);
        query.addBindValue(row.genre);
        query.addBindValue(row.year);
        query.addBindValue(row.playlist);
        query.addBindValue(where);
        if (!query.exec())
            return false;
    }
    return true;
}

Staged row(const QString &title, const QString &album, const QString &artist)
{
    Staged s;
    s.title = title;
    s.album = album;
    s.artist = artist;
    return s;
}

// A track with nothing known but its file.
track incomplete(const QString &file = QStringLiteral("Intro.mp3"))
{
    track t;
    t.folderLocation = folder;
    t.filename = file;
    t.sourcePath = folder + "/" + file;
    t.trackname = QStringLiteral("Unknown Song");
    t.albumName = QStringLiteral("Unknown Album");
    t.artistName = QStringLiteral("Unknown Artist");
    t.genre = QStringLiteral("Unknown Genre");
    t.year = 2001;
    t.duration = 123;
    return t;
}

track known(const QString &title, const QString &album, const QString &artist)
{
    track t = incomplete(title + ".mp3");
    t.trackname = title;
    t.albumName = album;
    t.artistName = artist;
    t.hasTitle = t.hasAlbum = t.hasArtist = true;
    return t;
}

} // namespace

Q_DECLARE_METATYPE(Staged)

class TestLocalTagInference : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanupTestCase();

    void folderProfile_data();
    void folderProfile();
    void titleFromFileName_data();
    void titleFromFileName();
    void matchingRows_data();
    void matchingRows();
    void walkStopsOnceComplete();
    void completeTrackStillTakesFirstRow();
    void untrimmedFolderOnlyMatchesRows();
};

void TestLocalTagInference::init()
{
    forgetLibrary();
    Database db;
    QVERIFY(db.connect(QStringLiteral("RuvoData"), true));
    db.create();
}

void TestLocalTagInference::cleanupTestCase()
{
    forgetLibrary();
}

void TestLocalTagInference::folderProfile_data()
{
    QTest::addColumn<QList<Staged>>("rows");
    QTest::addColumn<QString>("album");
    QTest::addColumn<QString>("artist");

    const QString noAlbum = QStringLiteral("Unknown Album");
    const QString noArtist = QStringLiteral("Unknown Artist");
    QTest::addRow("no staged rows: unchanged") << QList<Staged>{} << noAlbum << noArtist;
    QTest::addRow("Unknown Album plus Blue lends Blue, but two albums lend no artist")
        << QList<Staged>{row("A", "Unknown Album", "Ann"), row("B", "Blue", "Ann")} << "Blue" << noArtist;
    QTest::addRow("one album lends album and artist")
        << QList<Staged>{row("A", "Blue", "Ann"), row("B", "Blue", "Ann")} << "Blue" << "Ann";
    QTest::addRow("capitals sort first") << QList<Staged>{row("A", "blue", "Ann"), row("B", "Blue", "Ann")}
                                         << "Blue" << noArtist;
    QTest::addRow("an empty album name lends nothing")
        << QList<Staged>{row("A", "", "Ann"), row("B", "Blue", "Ann")} << noAlbum << noArtist;
    QTest::addRow("a missing album row lends nothing")
        << QList<Staged>{row("A", QString(), "Ann"), row("B", "Blue", "Ann")} << noAlbum << noArtist;
    QTest::addRow("one album with an empty artist lends no artist")
        << QList<Staged>{row("A", "Blue", ""), row("B", "Blue", "")} << "Blue" << noArtist;
    QTest::addRow("Greatest Compilation lends no artist")
        << QList<Staged>{row("A", "Greatest Compilation", "Ann")} << "Greatest Compilation" << noArtist;
    Staged fast = row("B", "Blue", "Ann");
    fast.bitrate = 320;
    QTest::addRow("two bit rates lend nothing") << QList<Staged>{row("A", "Blue", "Ann"), fast} << noAlbum
                                                << noArtist;
    Staged later = row("B", "Blue", "Ann");
    later.year = 2005;
    QTest::addRow("two years lend nothing") << QList<Staged>{row("A", "Blue", "Ann"), later} << noAlbum << noArtist;
    Staged jazz = row("B", "Blue", "Ann");
    jazz.genre = QStringLiteral("Jazz");
    QTest::addRow("two genres lend nothing") << QList<Staged>{row("A", "Blue", "Ann"), jazz} << noAlbum << noArtist;
    QTest::addRow("artist set ordered, first known wins")
        << QList<Staged>{row("A", "Blue", "unknown artist"), row("B", "Blue", "Zed"), row("C", "Blue", "Bob")}
        << "Blue" << "Bob";
}

void TestLocalTagInference::folderProfile()
{
    QFETCH(QList<Staged>, rows);
    QFETCH(QString, album);
    QFETCH(QString, artist);
    QVERIFY(stage(rows));
    ruvoDB library;
    const track result = library.updatelocalDB(incomplete());
    QCOMPARE(result.albumName, album);
    QCOMPARE(result.hasAlbum, !album.startsWith("Unknown"));
    QCOMPARE(result.artistName, artist);
    QCOMPARE(result.hasArtist, !artist.startsWith("Unknown"));
    QCOMPARE(result.duration, 123.0);  // fields it doesn't fill come back unchanged
    QCOMPARE(result.year, 2001);
}

void TestLocalTagInference::titleFromFileName_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("expected");
    QTest::addRow("Unknown Song in Intro.mp3") << "Intro.mp3" << "Unknown Song" << "Intro";
    QTest::addRow("unknown in any case") << "Intro.mp3" << "UNKNOWN" << "Intro";
    QTest::addRow("track01.mp3 keeps its title") << "track01.mp3" << "Unknown Song" << "Unknown Song";
    QTest::addRow("Track01.mp3 is a track name") << "Track01.mp3" << "Unknown Song" << "Unknown Song";
    QTest::addRow("a known-looking title is kept") << "Intro.mp3" << "Song" << "Song";
    QTest::addRow("file named unknown") << "Unknown.mp3" << "Unknown Song" << "Unknown Song";
    QTest::addRow("only the suffix goes") << "A.B.mp3" << "Unknown Song" << "A.B";
}

void TestLocalTagInference::titleFromFileName()
{
    QFETCH(QString, file);
    QFETCH(QString, title);
    QFETCH(QString, expected);
    QVERIFY(stage({row("Other", "Blue", "Ann")}));
    track t = incomplete(file);
    t.trackname = title;
    ruvoDB library;
    const track result = library.updatelocalDB(t);
    QCOMPARE(result.trackname, expected);
    QCOMPARE(result.hasTitle, expected != title);
}

void TestLocalTagInference::matchingRows_data()
{
    QTest::addColumn<QList<Staged>>("rows");
    QTest::addColumn<track>("input");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("album");
    QTest::addColumn<QString>("artist");
    QTest::addColumn<QString>("genre");
    QTest::addColumn<int>("tracknumber");

    // Two bit rates: the folder profile lends nothing, only matching rows do.
    Staged intro = row("Intro", "Blue", "Ann");
    intro.tracknumber = 1;
    Staged other = row("Outro", "Green", "Bob");
    other.bitrate = 320;
    other.tracknumber = 9;

    track live = incomplete("x.mp3");
    live.trackname = QStringLiteral("intro (live)");
    live.hasTitle = true;
    QTest::addRow("rule 3: title contained, any case")
        << QList<Staged>{intro, other} << live << "intro (live)" << "Blue" << "Ann" << "Rock" << 1;

    Staged single = row("I", "Blue", "Ann");
    track withI = incomplete("x.mp3");
    withI.trackname = QStringLiteral("Interlude");
    withI.hasTitle = true;
    QTest::addRow("rule 3 needs two characters")
        << QList<Staged>{single, other} << withI << "Interlude" << "Unknown Album" << "Unknown Artist"
        << "Unknown Genre" << 0;

    Staged byDuration = row("Same", "Blue", "Ann");
    byDuration.duration = 123;
    track same = incomplete("x.mp3");
    same.trackname = QStringLiteral("Same");
    same.hasTitle = true;
    QTest::addRow("rule 1: duration and title") << QList<Staged>{byDuration, other} << same << "Same" << "Blue"
                                               << "Ann" << "Rock" << 0;

    Staged playlistRow = intro;
    playlistRow.playlist = QStringLiteral("Road Trip");
    QTest::addRow("playlist row lends the artist but not the album")
        << QList<Staged>{playlistRow, other} << live << "intro (live)" << "Unknown Album" << "Ann" << "Rock" << 1;

    track jazz = live;
    jazz.genre = QStringLiteral("Jazz");
    jazz.tracknumber = 5;
    QTest::addRow("a known genre and track number are kept")
        << QList<Staged>{intro, other} << jazz << "intro (live)" << "Blue" << "Ann" << "Jazz" << 5;

    Staged noGenre = intro;
    noGenre.genre = QStringLiteral("");
    QTest::addRow("an empty genre is no genre")
        << QList<Staged>{noGenre, other} << live << "intro (live)" << "Blue" << "Ann" << "Unknown Genre" << 1;

    Staged empty = row("Intro", "", "");
    QTest::addRow("empty album and artist are not lent")
        << QList<Staged>{empty, other} << live << "intro (live)" << "Unknown Album" << "Unknown Artist" << "Rock"
        << 0;

    Staged orphan = row("Intro", QString(), QString());
    QTest::addRow("row without album and artist rows lends neither")
        << QList<Staged>{orphan, other} << live << "intro (live)" << "Unknown Album" << "Unknown Artist" << "Rock"
        << 0;

    Staged titled = row("Outro", "Blue", "Ann");
    titled.tracknumber = 4;
    track byNumber = incomplete("x.mp3");
    byNumber.trackname = QStringLiteral("Outro");
    byNumber.tracknumber = 4;
    QTest::addRow("rule 2: number, year and title; the title stays unset")
        << QList<Staged>{titled, other} << byNumber << "Outro" << "Blue" << "Ann" << "Rock" << 4;
}

void TestLocalTagInference::matchingRows()
{
    QFETCH(QList<Staged>, rows);
    QFETCH(track, input);
    QFETCH(QString, title);
    QFETCH(QString, album);
    QFETCH(QString, artist);
    QFETCH(QString, genre);
    QFETCH(int, tracknumber);
    QVERIFY(stage(rows));
    ruvoDB library;
    const track result = library.updatelocalDB(input);
    QCOMPARE(result.trackname, title);
    QCOMPARE(result.albumName, album);
    QCOMPARE(result.hasAlbum, input.hasAlbum || album != input.albumName);
    QCOMPARE(result.artistName, artist);
    QCOMPARE(result.hasArtist, input.hasArtist || artist != input.artistName);
    QCOMPARE(result.genre, genre);
    QCOMPARE(result.tracknumber, tracknumber);
}

void TestLocalTagInference::walkStopsOnceComplete()
{
    Staged first = row("Intro", "Blue", "Ann");
    Staged second = row("Intro", "Blue", "Ann");
    second.genre = QStringLiteral("Jazz");
    second.tracknumber = 7;
    second.bitrate = 320;  // keeps the folder profile out of it
    QVERIFY(stage({first, second}));
    first.genre = QStringLiteral("Rock");
    track t = incomplete("x.mp3");
    t.trackname = QStringLiteral("Intro");
    ruvoDB library;
    const track result = library.updatelocalDB(t);
    QVERIFY(result.hasTitle && result.hasAlbum && result.hasArtist);
    QCOMPARE(result.genre, QStringLiteral("Rock"));
    QCOMPARE(result.tracknumber, 0);  // the second row was never read
}

void TestLocalTagInference::completeTrackStillTakesFirstRow()
{
    Staged first = row("Intro", "Blue", "Ann");
    first.tracknumber = 3;
    Staged second = row("Intro", "Blue", "Ann");
    second.tracknumber = 8;
    second.genre = QStringLiteral("Jazz");
    QVERIFY(stage({first, second}));
    track t = known("Intro", "Red", "Bob");
    ruvoDB library;
    const track result = library.updatelocalDB(t);
    QCOMPARE(result.genre, QStringLiteral("Rock"));
    QCOMPARE(result.tracknumber, 3);
    QCOMPARE(result.albumName, QStringLiteral("Red"));
    QCOMPARE(result.artistName, QStringLiteral("Bob"));
}

void TestLocalTagInference::untrimmedFolderOnlyMatchesRows()
{
    // The profile looks the folder up as given, the row walk trimmed.
    QVERIFY(stage({row("Intro", "Blue", "Ann")}));
    track t = incomplete("Intro.mp3");
    t.folderLocation = folder + QStringLiteral("  ");
    t.trackname = QStringLiteral("Intro");
    t.hasTitle = true;
    ruvoDB library;
    const track result = library.updatelocalDB(t);
    QCOMPARE(result.albumName, QStringLiteral("Blue"));
    QCOMPARE(result.genre, QStringLiteral("Rock"));
}

CORVANE_TEST_MAIN(TestLocalTagInference)
#include "tst_localtaginference.moc"
