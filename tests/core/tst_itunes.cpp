#include <QtTest>

#include <QSemaphore>
#include <QStandardPaths>

#include "core/itunecoverartextracter.h"
#include "core/shared.h"
#include "core/taglibbuilder.h"
#include "core/track_data.h"
#include "database/database.h"
#include "artworkcachefile.h"
#include "ituneslibraryxml.h"
#include "libraryfixture.h"
#include "mediakit.h"
#include "scanfixture.h"
#include "stdoutcapture.h"
#include "testenv.h"

using testkit::MediaKit;
using testkit::StdoutCapture;
using testkit::cacheFile;
using testkit::image;
using Xml = testkit::ItunesLibraryXml;

namespace {

const QString noArtwork = QStringLiteral("qrc:///resources/photos/no_artwork.png");
const QString playlistPicture = QStringLiteral("qrc:///resources/photos/playlist.png");

// A record as the iTunes library reader hands it over.
track entry(const QString &path, const QString &album = QStringLiteral("Highway Songs"))
{
    track r = testkit::makeTrack(path, album, QStringLiteral("Artist"));
    r.source = 1;
    r.id = 4711; // the library file's Track ID, replaced by the import
    return r;
}

TrackMap import(const QList<iTunedata> &playlists)
{
    return track_data().addITunesToTrackObj(playlists, TrackMap());
}

QString itunesFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::MusicLocation) + QStringLiteral("/iTunes");
}

QString pictureOf(const QString &album)
{
    return ItuneCoverArtExtracter::outputFolder() + QLatin1Char('/') + album + QStringLiteral(".png");
}

Xml::Entry location(const QString &path) { return Xml::string(QStringLiteral("Location"), Xml::localhostUrl(path)); }

} // namespace

// The iTunes library reader, the import of what it reads into the library,
// and the artwork cache files.  The reader looks only at a file's existence
// and suffix; the import takes files over 102 400 bytes.
class TestItunes : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid() && m_db.connect(QStringLiteral("RuvoData"), true));
        m_db.create();
        track_data::IsVideoSupported = false;
        QVERIFY(!(m_song = bigFile(QStringLiteral("Café Music/My Song.mp3"))).isEmpty());
    }
    void init()
    {
        QVERIFY(testkit::resetScanState());
        QDir(ItuneCoverArtExtracter::outputFolder()).removeRecursively();
        QDir(QStandardPaths::writableLocation(QStandardPaths::MusicLocation)).removeRecursively();
        ItuneCoverArtExtracter::resetCacheFileIndex();
    }

    // Items in ascending order, each once, Track IDs 16 bits apart kept
    // apart; dropped tracks leave their playlists.
    void libraryRead()
    {
        Xml library;
        library.addTrack(12, {Xml::string(QStringLiteral("Name"), QStringLiteral("Blue Train")),
                              Xml::string(QStringLiteral("Album"), QStringLiteral("  Blue Train  ")),
                              Xml::integer(QStringLiteral("Size"), Q_INT64_C(5000000000)),
                              Xml::integer(QStringLiteral("Total Time"), 1500),
                              Xml::integer(QStringLiteral("Track Number"), 3), // doesn't touch the year
                              Xml::integer(QStringLiteral("Year"), 1957),
                              Xml::date(QStringLiteral("Release Date"), QStringLiteral("1957-09-15T12:00:00Z")),
                              location(m_song)});
        // An impossible day; a file:/// URL; another host.
        library.addTrack(13, {Xml::date(QStringLiteral("Release Date"), QStringLiteral("2010-02-30T08:00:00Z")),
                              Xml::string(QStringLiteral("Location"), Xml::fileUrl(m_song))});
        library.addTrack(14, {Xml::string("Location", Xml::localhostUrl(m_song).replace("localhost", "server"))});
        for (const int id : {10, 20, 30, 40000, 105536})
            library.addTrack(id, {location(bigFile(QStringLiteral("ids/%1.mp3").arg(id)))});
        library.addTrack(2, {location(m_dir.filePath(QStringLiteral("gone/a.mp3")))});
        library.addTrack(3, {location(bigFile(QStringLiteral("dropped/b.pdf")))});
        library.addTrack(4, {location(bigFile(QStringLiteral("dropped/Clip.mp4")))}); // no video support
        library.addPlaylist(QStringLiteral("Library"), {12, 13, 14});
        library.addPlaylist(QStringLiteral("Road Trip"), {30, 105536, 10, 40000, 20, 10, 30});
        library.addPlaylist(QStringLiteral("Nothing Playable"), {2, 3, 4, 99});
        const QList<iTunedata> playlists = read(library.toXml());

        QCOMPARE(playlists.size(), 3);
        QStringList got;
        for (const track &t : playlists.at(0).tracks)
            got << QStringLiteral("%1|%2|%3|%4|%5|%6|%7|%8|%9")
                       .arg(t.trackname, t.artistName, t.albumName)
                       .arg(t.filesize)
                       .arg(t.duration)
                       .arg(t.tracknumber)
                       .arg(t.year)
                       .arg(t.ReleaseDate, t.filepath);
        QCOMPARE(got, QStringList({"Blue Train|Unknown Artist|Blue Train|5000000000|1.5|3|1957|09/15/1957|" + m_song,
                                   "Unknown Song|Unknown Artist|Unknown Album|0|0|0|0|Unknown|" + m_song}));
        QVERIFY(playlists.at(1).name == "Road Trip" && playlists.at(2).name == "Nothing Playable");
        QStringList files;
        for (const track &t : playlists.at(1).tracks)
            files << QStringLiteral("%1:%2").arg(t.id).arg(QFileInfo(t.filepath).fileName());
        QCOMPARE(files, QStringList({"10:10.mp3", "20:20.mp3", "30:30.mp3", "40000:40000.mp3", "105536:105536.mp3"}));
        QVERIFY(playlists.at(2).tracks.isEmpty());
    }

    // What was read before the damage is kept; nothing crashes.
    void damagedLibrary()
    {
        Xml library;
        library.addTrack(1, {location(m_song)});
        library.addPlaylist(QStringLiteral("First"), {1});
        library.addPlaylist(QStringLiteral("Second"), {1});
        const QByteArray xml = library.toXml();
        const qsizetype second = xml.indexOf("Second");
        const QByteArray junk = QByteArray("\x00\xff\xfe<<&&\x01", 8).repeated(100);
        for (const QByteArray &damaged : {xml.left(second + 6), QByteArray(xml).insert(second, "<b></i>"), junk}) {
            const QList<iTunedata> playlists = read(damaged);
            QVERIFY(damaged == junk ? playlists.isEmpty() : playlists.size() == 1 && playlists.first().name == "First");
        }
        QVERIFY(TagLibBuilder().parseiTunePlaylist(m_dir.filePath(QStringLiteral("none.xml"))).isEmpty());
    }

    void playlistNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QString>("filed"); // "-": passed over; "album", "podcast", "book" or the group
        QTest::addRow("exactly 102400 bytes passed over") << "Music" << qint64(102400) << "-";
        QTest::addRow("102401 bytes taken") << "Music" << qint64(102401) << "album";
        QTest::addRow("skip list in capitals") << "PURCHASED" << qint64(200000) << "-";
        QTest::addRow("skip list with U+2019") << QStringLiteral("90\u2019s Music") << qint64(200000) << "-";
        QTest::addRow("ASCII apostrophe is a user playlist") << "90's Music" << qint64(200000) << "90's Music";
        QTest::addRow("Podcasts") << "Podcasts" << qint64(200000) << "podcast";
        QTest::addRow("Books") << "Books" << qint64(200000) << "book";
    }

    void playlistNames()
    {
        QFETCH(QString, name);
        QFETCH(qint64, size);
        QFETCH(QString, filed);
        const TrackMap map = import({{name, {entry(bigFile(QStringLiteral("names-%1/song.mp3").arg(size), size))}}});
        // A passed-over file uses no id.
        QVERIFY(map.size() == (filed == "-" ? 0 : 1) && track_data::track_Id == map.size() + 1);
        if (map.isEmpty())
            return;
        const track r = map.first();
        QCOMPARE(r.isPodcast ? "podcast" : r.isAudiobook ? "book" : r.playlist.isEmpty() ? "album" : r.playlist, filed);
        QCOMPARE(r.playlist_id, r.playlist.isEmpty() ? 0 : r.album_id);
    }

    // From the library file through the reader to the repository.  A German
    // library: iTunes' own playlists are known by their keys, so a track they
    // list comes in once, under its own album; a user playlist is filed as an
    // album of its own name, beside the track's own record.
    void libraryImported()
    {
        const QString song = bigFile(QStringLiteral("de/Lied.mp3")), book = bigFile(QStringLiteral("de/Buch.mp3"));
        Xml library;
        for (const QString &path : {song, book})
            library.addTrack(path == song ? 1 : 2,
                             {Xml::string(QStringLiteral("Album"), QStringLiteral("Eigenes Album")), location(path)});
        library.addPlaylist(QStringLiteral("Mediathek"), {1, 2}, {Xml::flag(QStringLiteral("Master"))});
        library.addPlaylist(
            QStringLiteral("Musik"), {1},
            {Xml::integer(QStringLiteral("Distinguished Kind"), 4), Xml::flag(QStringLiteral("Music"))});
        library.addPlaylist(QStringLiteral("Gekauft"), {1}, {Xml::integer(QStringLiteral("Distinguished Kind"), 19)});
        library.addPlaylist(QStringLiteral("Hörbücher"), {2}, {Xml::flag(QStringLiteral("Audiobooks"))});
        library.addPlaylist(QStringLiteral("Road Trip"), {1});
        const TrackMap map = import(read(library.toXml()));
        QCOMPARE(map.keys(), (QList<int>{2, 3, 4}));
        const track lied = map.value(2), buch = map.value(3), trip = map.value(4);
        QVERIFY(lied.filepath == song && lied.albumName == QLatin1String("Eigenes Album") && lied.playlist_id == 0);
        QVERIFY(buch.filepath == book && buch.isAudiobook && !lied.isAudiobook && buch.playlist.isEmpty());
        QVERIFY(trip.albumName == QLatin1String("Road Trip") && trip.playlist_id == trip.album_id);
        QVERIFY(trip.album_id != lied.album_id && trip.cover == playlistPicture);
        QCOMPARE(
            testkit::scalar("SELECT group_concat(name, '|') FROM (SELECT a.name FROM TrackRepo t JOIN albumsRepo a "
                            "ON a.id = t.album_id WHERE t.filepath = ? ORDER BY t.Playlist)",
                            {song})
                .toString(),
            QStringLiteral("Eigenes Album|Unknown ablum"));
    }

    void covers_data()
    {
        QTest::addColumn<QString>("playlist");
        QTest::addColumn<QString>("album");
        QTest::addColumn<bool>("embedded");
        QTest::addColumn<bool>("folderPicture");
        QTest::addColumn<QString>("cover"); // "own", "none" or "playlist"
        QTest::addColumn<bool>("isMissingData");
        QTest::addRow("embedded picture") << "Music" << "Blue Album" << true << false << "own" << false;
        QTest::addRow("Unknown album: no extraction") << "Music" << "Unknown Album" << true << false << "none" << true;
        QTest::addRow("folder picture of a one-album folder") << "Music"
                                                              << "Green Album" << false << true << "own" << true;
        QTest::addRow("playlist entry beside folder.jpg keeps the playlist icon")
            << "Road Trip" << "Red Album" << false << true << "playlist" << false;
    }

    void covers()
    {
        QFETCH(QString, playlist);
        QFETCH(QString, album);
        QFETCH(bool, embedded);
        QFETCH(bool, folderPicture);
        QFETCH(QString, cover);
        MediaKit kit(m_dir.filePath(QStringLiteral("covers/%1").arg(QTest::currentDataTag())));
        const QString picture = kit.picture(QStringLiteral("pic.jpg"), 64, 64);
        const QString song = kit.mp3(QStringLiteral("album/song.mp3"), {}, embedded ? picture : QString(), 8);
        QVERIFY2(!song.isEmpty(), qPrintable(kit.lastError()));
        if (folderPicture)
            QVERIFY(QFile::copy(picture, kit.folder() + QStringLiteral("/album/folder.jpg")));

        const TrackMap map = import({{playlist, {entry(song, album)}}});
        QCOMPARE(map.size(), 1);
        const track record = map.first();
        const bool own = cover == QLatin1String("own");
        QCOMPARE(record.cover, own                              ? shared().coverpath(album)
                               : cover == QLatin1String("none") ? noArtwork
                                                                : playlistPicture);
        QCOMPARE(record.hasCover, cover != QLatin1String("none"));
        QVERIFY(!own || QFileInfo(record.cover).size() > 0);
        QTEST(record.isMissingData, "isMissingData");
    }

    // Progress moves as the albums' pictures are read: the first record is
    // reported while the next album's picture is still held back.
    void recordsReportedWhilePicturesAreRead()
    {
        MediaKit kit(m_dir.filePath(QStringLiteral("progress")));
        const QString picture = kit.picture(QStringLiteral("p.jpg"), 64, 64);
        const QString one = kit.mp3(QStringLiteral("one/a.mp3"), {}, picture, 8);
        const QString two = kit.mp3(QStringLiteral("two/b.mp3"), {}, picture, 8);
        QSemaphore reported;
        std::atomic<int> heldInVain{0};
        track_data importer;
        importer.readStartHook = [&](const QString &path) {
            if (path == two && !reported.tryAcquire(1, 30000))
                ++heldInVain;
        };
        importer.fileReadHook = [&](int, const QString &) { reported.release(); };
        QCOMPARE(importer.addITunesToTrackObj({{"Music", {entry(one, "One"), entry(two, "Two")}}}, {}).size(), 2);
        QCOMPARE(heldInVain.load(), 0);
    }

    // The artwork index: album -> persistent id of a track with a cache file.
    void index_data()
    {
        QTest::addColumn<QString>("tracks");      // the body of the "Tracks" dictionary
        QTest::addColumn<QString>("afterTracks"); // what follows it in the top dictionary
        QTest::addColumn<QStringList>("cached");  // ids with a cache file
        QTest::addColumn<QStringList>("expected"); // "album=id", sorted by album

        QTest::addRow("later id of an album wins; one without cache file never replaces")
            << trackDict("Alpha", "AAA1") + trackDict("Alpha", "AAA2") + trackDict("Alpha", "AAA3") << ""
            << QStringList{"AAA1", "AAA2"} << QStringList{"Alpha=AAA2"};
        QTest::addRow("keys after Playlists ignored")
            << trackDict("Alpha", "E1")
            << "<key>Playlists</key><array><dict><key>Album</key><string>Late</string>"
               "<key>Persistent ID</key><string>E2</string></dict></array>"
            << QStringList{"E1", "E2"} << QStringList{"Alpha=E1"};
        QTest::addRow("pretty-printed: white space between key and value")
            << "<key>1</key>\n<dict>\n\t<key>Album</key>\n\t<string>Alpha</string>\n\t<key>Persistent ID</key>\n"
               "\t<string>P1</string>\n</dict>\n"
            << "" << QStringList{"P1"} << QStringList{"Alpha=P1"};
    }

    void index()
    {
        QFETCH(QString, tracks);
        QFETCH(QString, afterTracks);
        QFETCH(QStringList, cached);
        QVERIFY(itunesFolder().startsWith(testkit::testHome()));
        const QString library = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n"
                                               "<dict>\n<key>Major Version</key><integer>1</integer>\n"
                                               "<key>Tracks</key>\n<dict>\n%1</dict>\n%2</dict>\n</plist>\n")
                                    .arg(tracks, afterTracks);
        QVERIFY(testkit::touch(itunesFolder() + QStringLiteral("/iTunes Music Library.xml"), library.toUtf8()));
        int n = 0;
        for (const QString &id : cached)
            QVERIFY(
                testkit::touch(itunesFolder() + QStringLiteral("/Album Artwork/%1/0F-%2.itc2").arg(++n).arg(id), "x"));
        const QMap<QString, QString> index = TagLibBuilder().parseiTuneCoverArtStartup();
        QStringList actual;
        for (auto it = index.cbegin(); it != index.cend(); ++it)
            actual << it.key() + QLatin1Char('=') + it.value();
        QTEST(actual, "expected");
    }

    void dump_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("written"); // the picture's bytes; empty: no picture
        const QByteArray big = "PNG-600", mid = "PNG-300", small = "PNG-200";
        QTest::addRow("widths 600, 300, 200 write the first")
            << cacheFile({image(big, 600), image(mid, 300), image(small, 200)}) << big;
        QTest::addRow("non-locl then locl writes the second")
            << cacheFile({image("REMOTE", 600, "down"), image(mid, 300)}) << mid;
        QTest::addRow("missing itch") << cacheFile({image(big, 600)}, "itcx") << QByteArray();
        QTest::addRow("missing artw") << cacheFile({image(big, 600)}, "itch", "artx") << QByteArray();
        QTest::addRow("header cut after itch") << cacheFile({}).left(12) << QByteArray();
        QTest::addRow("header length past the end")
            << cacheFile({image(big, 600)}, "itch", "artw", 0xFFFFFFF0) << QByteArray();
        QTest::addRow("item length 0 after a good item")
            << cacheFile({image(mid, 300), image(big, 600, "locl", 0)}) << mid;
        QTest::addRow("image past the end") << cacheFile({image(big, 600, "locl", 1208)}) << QByteArray();
        QTest::addRow("negative item length") << cacheFile({image(big, 600, "locl", 0xFFFFFF00u)}) << QByteArray();
        QTest::addRow("header longer than the item") << cacheFile({image(big, 600, "locl", 120)}) << QByteArray();
        QTest::addRow("truncated inside the item fields")
            << cacheFile({image(big, 600)}).left(0x114 + 40) << QByteArray();
    }

    // The artwork cache reader treats its input as untrusted; run under the
    // sanitizer build (or valgrind), the damaged files also show that nothing
    // is read outside the data.
    void dump()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, written);
        const QString path = m_dir.filePath(QStringLiteral("0A1B-6C08B3E9D4D50F3A.itc2"));
        testkit::touch(path, file);
        StdoutCapture capture;
        const QString result = ItuneCoverArtExtracter().DumpITC2Single(path, QStringLiteral("Album"));
        capture.finish();
        QCOMPARE(result, written.isEmpty() ? QString() : pictureOf("Album"));
        QCOMPARE(testkit::fileBytes(pictureOf("Album")), written);
    }

    void existingPictureKeptAndLimits()
    {
        testkit::touch(pictureOf("Album"), "OLD");
        const QString path = m_dir.filePath(QStringLiteral("x.itc2"));
        testkit::touch(path, cacheFile({image("NEW", 600)}));
        QCOMPARE(ItuneCoverArtExtracter().DumpITC2Single(path, QStringLiteral("Album")), pictureOf("Album"));
        QCOMPARE(testkit::fileBytes(pictureOf("Album")), QByteArray("OLD"));
        // The album names a file inside the output folder, nothing else.
        QCOMPARE(ItuneCoverArtExtracter().DumpITC2Single(path, QStringLiteral("../escape")), QString());
        QVERIFY(!QFileInfo::exists(shared::dataFolder() + QStringLiteral("/escape.png")));
        // Past 64 MiB a file is refused unread (sparse: costs no disk).
        QFile file(path);
        QVERIFY(file.resize(ItuneCoverArtExtracter::maxCacheFileSize + 1));
        StdoutCapture capture;
        QCOMPARE(ItuneCoverArtExtracter().DumpITC2Single(path, QStringLiteral("Big")), QString());
        QVERIFY(capture.finish().contains(QStringLiteral("too large")) && !QFileInfo::exists(pictureOf("Big")));
    }

    // A path is returned only when a picture exists there.  Cache files are
    // listed once per scan: a file added later is found by the next scan.
    void recurseForSingle()
    {
        testkit::touch(itunesFolder() + QStringLiteral("/Album Artwork/Cache/0A/01/0A1B-6C08B3E9D4D50F3A.itc2"),
                       cacheFile({image("ONE", 600)}));
        testkit::touch(itunesFolder() + QStringLiteral("/Album Artwork/0A1B-5555666677778888.itc2"),
                       cacheFile({image("REMOTE", 600, "down")}));
        ItuneCoverArtExtracter extracter;
        StdoutCapture capture;
        QCOMPARE(extracter.RecurseForSingle(QStringLiteral("6C08B3E9D4D50F3A"), QStringLiteral("One")),
                 pictureOf("One"));
        QVERIFY(extracter.RecurseForSingle(QStringLiteral("5555666677778888"), QStringLiteral("Remote")).isEmpty());
        testkit::touch(itunesFolder() + QStringLiteral("/Album Artwork/0A1B-AAAABBBBCCCCDDDD.itc2"),
                       cacheFile({image("NEW", 600)}));
        QCOMPARE(extracter.RecurseForSingle(QStringLiteral("AAAABBBBCCCCDDDD"), QStringLiteral("New")), QString());
        QTemporaryDir nothing;
        track_data().searchfile(QDir(nothing.path()));
        QCOMPARE(extracter.RecurseForSingle(QStringLiteral("AAAABBBBCCCCDDDD"), QStringLiteral("New")),
                 pictureOf("New"));
        // The whole-library walk files each local image under the album its id
        // maps to; an id without an album writes nothing.
        extracter.ItuneMapPIDAlubmCopy({{QStringLiteral("6C08B3E9D4D50F3A"), QStringLiteral("Whole")}});
        QCOMPARE(extracter.ItunesArtCheckAlbum(QStringLiteral("6C08B3E9D4D50F3A")), QStringLiteral("Whole"));
        const QMap<QString, QString> all = extracter.RecurseForAll();
        capture.finish();
        QCOMPARE(all.value(QStringLiteral("Whole")), pictureOf("Whole"));
        QCOMPARE(testkit::fileBytes(pictureOf("Whole")), QByteArray("ONE"));
    }

    // Only macOS has osascript: here the script is not run and fails.
    void scriptRunsNowhereHere() { QVERIFY(!ItuneCoverArtExtracter().executeCoverScript()); }

private:
    static QString trackDict(const QString &album, const QString &id)
    {
        return QStringLiteral("<key>1</key><dict><key>Track ID</key><integer>1</integer><key>Album</key><string>%1"
                              "</string><key>Persistent ID</key><string>%2</string></dict>\n")
            .arg(album, id);
    }
    // A file of zero bytes of the given size (no tags, no picture).
    QString bigFile(const QString &relative, qint64 size = 200000)
    {
        const QString path = m_dir.filePath(relative);
        return testkit::touch(path, {}) && QFile::resize(path, size) ? path : QString();
    }
    QList<iTunedata> read(const QByteArray &xml)
    {
        const QString path = m_dir.filePath(QStringLiteral("library-%1.xml").arg(++m_libraries));
        return testkit::touch(path, xml) ? TagLibBuilder().parseiTunePlaylist(path) : QList<iTunedata>();
    }
    QTemporaryDir m_dir;
    Database m_db;
    QString m_song; // "Café Music/My Song.mp3"
    int m_libraries = 0;
};

CORVANE_TEST_MAIN(TestItunes)
#include "tst_itunes.moc"
