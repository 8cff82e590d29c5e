#include <QtTest>


#include "core/shared.h"
#include "core/taglibbuilder.h"
#include "core/track_data.h"
#include "database/database.h"
#include "ituneslibraryxml.h"
#include "libraryfixture.h"
#include "mediakit.h"
#include "scanfixture.h"
#include "testenv.h"

using testkit::ItunesLibraryXml;
using testkit::MediaKit;

namespace {

const QString noArtwork = QStringLiteral("qrc:///resources/photos/no_artwork.png");

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

} // namespace

// The iTunes import against files made in a temporary folder and the
// repository of a fresh library.
class TestItunesImport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void playlistNames_data();
    void playlistNames();
    void fileInMusicAndInARoadTrip();
    void ownPlaylistsInAnotherLanguage();
    void covers_data();
    void covers();
    void albumPictureFromALaterTrack();

private:
    QString bigFile(const QString &relative, qint64 size = 200000);
    QTemporaryDir m_dir;
    Database m_db;
};

void TestItunesImport::initTestCase()
{
    QVERIFY(m_dir.isValid() && m_db.connect(QStringLiteral("RuvoData"), true));
    m_db.create();
}

void TestItunesImport::init()
{
    QVERIFY(testkit::resetScanState());
}

// A file of zero bytes of the given size (no tags, no picture).
QString TestItunesImport::bigFile(const QString &relative, qint64 size)
{
    const QString path = m_dir.filePath(relative);
    return testkit::touch(path, {}) && QFile::resize(path, size) ? path : QString();
}

void TestItunesImport::playlistNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<bool>("isPodcast");
    QTest::addColumn<bool>("isAudiobook");
    QTest::addColumn<QString>("group");
    QTest::addRow("exactly 102400 bytes passed over") << "Music" << qint64(102400) << false << false << false << "";
    QTest::addRow("102401 bytes taken") << "Music" << qint64(102401) << true << false << false << "";
    QTest::addRow("skip list in capitals") << "PURCHASED" << qint64(200000) << false << false << false << "";
    QTest::addRow("skip list with U+2019") << QStringLiteral("90\u2019s Music") << qint64(200000) << false << false
                                           << false << "";
    QTest::addRow("ASCII apostrophe is a user playlist") << "90's Music" << qint64(200000) << true << false << false
                                                         << "90's Music";
    QTest::addRow("Podcasts") << "Podcasts" << qint64(200000) << true << true << false << "";
    QTest::addRow("Books") << "Books" << qint64(200000) << true << false << true << "";
}

void TestItunesImport::playlistNames()
{
    QFETCH(QString, name);
    QFETCH(qint64, size);
    QFETCH(bool, taken);
    const QString path = bigFile(QStringLiteral("names-%1/song.mp3").arg(size), size);
    const TrackMap map = import({{name, {entry(path)}}});
    QCOMPARE(map.size(), taken ? 1 : 0);
    // A passed-over file uses no id.
    QCOMPARE(track_data::track_Id, taken ? 2 : 1);
    if (!taken)
        return;
    const track record = map.first();
    QTEST(record.isPodcast, "isPodcast");
    QTEST(record.isAudiobook, "isAudiobook");
    QTEST(record.playlist, "group");
    QCOMPARE(record.playlist_id, record.playlist.isEmpty() ? 0 : record.album_id);
}

// From the library file through the reader to the repository: one record per
// listing, a user playlist filed as an album of its own name.
void TestItunesImport::fileInMusicAndInARoadTrip()
{
    const QString path = bigFile(QStringLiteral("trip/Highway Song.mp3"));
    ItunesLibraryXml library;
    library.addTrack(40000, {ItunesLibraryXml::string(QStringLiteral("Name"), QStringLiteral("Highway Song")),
                             ItunesLibraryXml::string(QStringLiteral("Album"), QStringLiteral("Highway Songs")),
                             ItunesLibraryXml::string(QStringLiteral("Location"), ItunesLibraryXml::localhostUrl(path))});
    library.addPlaylist(QStringLiteral("Music"), {40000});
    library.addPlaylist(QStringLiteral("Road Trip"), {40000});
    const QString xml = m_dir.filePath(QStringLiteral("library.xml"));
    QVERIFY(library.write(xml));

    const TrackMap map = import(TagLibBuilder().parseiTunePlaylist(xml));
    QCOMPARE(map.keys(), (QList<int>{2, 3}));
    const track music = map.value(2), trip = map.value(3);
    QVERIFY(music.albumName == QLatin1String("Highway Songs") && music.playlist_id == 0);
    QVERIFY(trip.albumName == QLatin1String("Road Trip") && trip.playlist_id == trip.album_id);
    QVERIFY(trip.album_id != music.album_id);
    QCOMPARE(trip.cover, QStringLiteral("qrc:///resources/photos/playlist.png"));

    QCOMPARE(testkit::scalar("SELECT group_concat(name, '|') FROM (SELECT a.name FROM TrackRepo t JOIN albumsRepo a "
                             "ON a.id = t.album_id WHERE t.filepath = ? ORDER BY t.Playlist)",
                             {path})
                 .toString(),
             QStringLiteral("Highway Songs|Unknown ablum"));
}

// A German library: iTunes' own playlists are known by their keys, so a
// track comes in once, under its own album.
void TestItunesImport::ownPlaylistsInAnotherLanguage()
{
    const QString song = bigFile(QStringLiteral("de/Lied.mp3")), book = bigFile(QStringLiteral("de/Buch.mp3"));
    ItunesLibraryXml library;
    const auto add = [&library](int id, const QString &path) {
        library.addTrack(id, {ItunesLibraryXml::string(QStringLiteral("Album"), QStringLiteral("Eigenes Album")),
                              ItunesLibraryXml::string(QStringLiteral("Location"), ItunesLibraryXml::localhostUrl(path))});
    };
    add(1, song);
    add(2, book);
    library.addPlaylist(QStringLiteral("Mediathek"), {1, 2}, {ItunesLibraryXml::flag(QStringLiteral("Master"))});
    library.addPlaylist(QStringLiteral("Musik"), {1},
                        {ItunesLibraryXml::integer(QStringLiteral("Distinguished Kind"), 4),
                         ItunesLibraryXml::flag(QStringLiteral("Music"))});
    library.addPlaylist(QStringLiteral("Gekauft"), {1}, {ItunesLibraryXml::integer(QStringLiteral("Distinguished Kind"), 19)});
    library.addPlaylist(QStringLiteral("Hörbücher"), {2}, {ItunesLibraryXml::flag(QStringLiteral("Audiobooks"))});
    const QString xml = m_dir.filePath(QStringLiteral("mediathek.xml"));
    QVERIFY(library.write(xml));

    const TrackMap map = import(TagLibBuilder().parseiTunePlaylist(xml));
    QCOMPARE(map.size(), 2);
    for (const track &record : map)
        QVERIFY(record.albumName == QLatin1String("Eigenes Album") && record.playlist.isEmpty()
                && record.isAudiobook == (record.filepath == book));
}

void TestItunesImport::covers_data()
{
    QTest::addColumn<QString>("playlist");
    QTest::addColumn<QString>("album");
    QTest::addColumn<bool>("embedded");
    QTest::addColumn<bool>("folderPicture");
    QTest::addColumn<QString>("cover"); // "own", "none" or "playlist"
    QTest::addColumn<bool>("isMissingData");
    QTest::addRow("embedded picture") << "Music" << "Blue Album" << true << false << "own" << false;
    QTest::addRow("Unknown album: no extraction") << "Music" << "Unknown Album" << true << false << "none" << true;
    QTest::addRow("no picture anywhere") << "Music" << "Grey Album" << false << false << "none" << true;
    QTest::addRow("folder picture of a one-album folder") << "Music" << "Green Album" << false << true << "own" << true;
    QTest::addRow("playlist entry beside folder.jpg keeps the playlist icon")
        << "Road Trip" << "Red Album" << false << true << "playlist" << false;
}

void TestItunesImport::covers()
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
    QCOMPARE(record.cover, own                               ? shared().coverpath(album)
                           : cover == QLatin1String("none") ? noArtwork
                                                            : QStringLiteral("qrc:///resources/photos/playlist.png"));
    QCOMPARE(record.hasCover, cover != QLatin1String("none"));
    if (own)
        QVERIFY(QFileInfo(record.cover).size() > 0);
    QTEST(record.isMissingData, "isMissingData");
}

// A file read once without a picture is not read again when listed again,
// but the album's other files still are.
void TestItunesImport::albumPictureFromALaterTrack()
{
    MediaKit kit(m_dir.filePath(QStringLiteral("later")));
    const QString picture = kit.picture(QStringLiteral("pic.jpg"), 64, 64);
    const QString bare = kit.mp3(QStringLiteral("album/1.mp3"), {}, QString(), 8);
    const QString pictured = kit.mp3(QStringLiteral("album/2.mp3"), {}, picture, 8);
    QVERIFY2(!bare.isEmpty() && !pictured.isEmpty(), qPrintable(kit.lastError()));
    const QString album = QStringLiteral("Twin Album");

    const TrackMap map = import({{QStringLiteral("Mix"), {entry(bare, album)}},
                                 {QStringLiteral("Music"), {entry(bare, album), entry(pictured, album)}}});
    QCOMPARE(map.size(), 3);
    QVERIFY(QFileInfo(shared().coverpath(album)).size() > 0);
    for (const track &record : map) {
        if (record.playlist.isEmpty())
            QVERIFY2(record.hasCover && record.cover == shared().coverpath(album), qPrintable(record.filepath));
    }
}

CORVANE_TEST_MAIN(TestItunesImport)
#include "tst_itunesimport.moc"
