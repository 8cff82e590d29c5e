#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "core/taglibbuilder.h"
#include "core/track_data.h"
#include "ituneslibraryxml.h"
#include "testenv.h"

using testkit::ItunesLibraryXml;

// The iTunes library reader against library files written by the test, whose
// Locations point at empty files in a temporary folder: the reader looks only
// at a file's existence and suffix, never at its contents.
class TestItunesReader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void locationDecoding_data();
    void locationDecoding();
    void trackFields();
    void trackNumberAndYear_data();
    void trackNumberAndYear();
    void defaultsForMissingValues();
    void releaseDate_data();
    void releaseDate();
    void playlistItemsAscendingOnce();
    void droppedTrack_data();
    void droppedTrack();
    void playlistOfOnlyDroppedTracks();
    void wideTrackIdsKeptApart();
    void laterTrackWithSameIdReplaces();
    void playlistsInFileOrder();
    void whiteSpaceBetweenKeyAndValue();
    void damagedFile_data();
    void damagedFile();
    void missingFile();

private:
    QString touch(const QString &relative);
    QString writeLibrary(const QByteArray &xml);
    QList<iTunedata> read(const ItunesLibraryXml &library);
    static QList<int> ids(const iTunedata &playlist);

    QTemporaryDir m_dir;
    QString m_song;  // "Café Music/My Song.mp3"
    int m_libraries = 0;
};

void TestItunesReader::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_song = touch(QStringLiteral("Café Music/My Song.mp3"));
}

void TestItunesReader::init()
{
    track_data::IsVideoSupported = false;
}

QString TestItunesReader::touch(const QString &relative)
{
    const QString path = m_dir.filePath(relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    return path;
}

QString TestItunesReader::writeLibrary(const QByteArray &xml)
{
    const QString path = m_dir.filePath(QStringLiteral("library-%1.xml").arg(++m_libraries));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(xml) != xml.size())
        return QString();
    return path;
}

QList<iTunedata> TestItunesReader::read(const ItunesLibraryXml &library)
{
    return TagLibBuilder().parseiTunePlaylist(writeLibrary(library.toXml()));
}

QList<int> TestItunesReader::ids(const iTunedata &playlist)
{
    QList<int> result;
    for (const track &t : playlist.tracks)
        result.append(t.id);
    return result;
}

void TestItunesReader::locationDecoding_data()
{
    QTest::addColumn<QString>("file");      // made below the temporary folder
    QTest::addColumn<QString>("form");      // how the Location is written
    QTest::addColumn<QString>("escape");    // an escape the Location must contain
    QTest::addColumn<bool>("kept");

    QTest::addRow("localhost URL with %%20 and %%C3%%A9")
        << "Café Music/My Song.mp3" << "localhost" << "Caf%C3%A9%20Music/My%20Song.mp3" << true;
    QTest::addRow("file:/// URL with %%20 and %%C3%%A9")
        << "Café Music/My Song.mp3" << "file" << "Caf%C3%A9%20Music/My%20Song.mp3" << true;
    QTest::addRow("escaped percent sign, plus kept")
        << "100% Live/a+b.mp3" << "localhost" << "100%25%20Live/a%2Bb.mp3" << true;
    QTest::addRow("non-Latin folder")
        << "Кино/Группа крови.flac" << "localhost" << "%D0%9A%D0%B8%D0%BD%D0%BE/" << true;
    QTest::addRow("upper-case LOCALHOST") << "Café Music/My Song.mp3" << "LOCALHOST" << "%20" << true;
    QTest::addRow("another host") << "Café Music/My Song.mp3" << "server" << "%20" << false;
    QTest::addRow("not a file URL") << "Café Music/My Song.mp3" << "http" << "%20" << false;
}

void TestItunesReader::locationDecoding()
{
    QFETCH(QString, file);
    QFETCH(QString, form);
    QFETCH(QString, escape);
    QFETCH(bool, kept);

    const QString path = touch(file);
    QVERIFY(!path.isEmpty());
    QString location = ItunesLibraryXml::localhostUrl(path);
    if (form == QLatin1String("file"))
        location = ItunesLibraryXml::fileUrl(path);
    else if (form != QLatin1String("localhost"))
        location.replace(QStringLiteral("file://localhost"),
                         form == QLatin1String("http") ? QStringLiteral("http://localhost")
                                                       : QStringLiteral("file://") + form);
    QVERIFY2(location.contains(escape), qPrintable(location));

    ItunesLibraryXml library;
    library.addTrack(7, {ItunesLibraryXml::string(QStringLiteral("Location"), location)});
    library.addPlaylist(QStringLiteral("Library"), {7});
    const QList<iTunedata> playlists = read(library);

    QCOMPARE(playlists.size(), 1);
    QCOMPARE(playlists.first().tracks.size(), kept ? 1 : 0);
    if (kept)
        QCOMPARE(playlists.first().tracks.first().filepath, path);
}

void TestItunesReader::trackFields()
{
    ItunesLibraryXml library;
    library.addTrack(
        12, {ItunesLibraryXml::string(QStringLiteral("Name"), QStringLiteral("Blue Train")),
             ItunesLibraryXml::string(QStringLiteral("Artist"), QStringLiteral("John Coltrane")),
             ItunesLibraryXml::string(QStringLiteral("Album Artist"), QStringLiteral("Somebody Else")),
             ItunesLibraryXml::string(QStringLiteral("Album"), QStringLiteral("  Blue Train  ")),
             ItunesLibraryXml::string(QStringLiteral("Genre"), QStringLiteral("Jazz")),
             ItunesLibraryXml::string(QStringLiteral("Kind"), QStringLiteral("MPEG audio file")),
             ItunesLibraryXml::integer(QStringLiteral("Size"), Q_INT64_C(5000000000)),
             ItunesLibraryXml::integer(QStringLiteral("Total Time"), 1500),
             ItunesLibraryXml::integer(QStringLiteral("Year"), 1957),
             ItunesLibraryXml::integer(QStringLiteral("Track Number"), 3),
             ItunesLibraryXml::integer(QStringLiteral("Bit Rate"), 320),
             ItunesLibraryXml::integer(QStringLiteral("Sample Rate"), 44100),
             ItunesLibraryXml::date(QStringLiteral("Release Date"), QStringLiteral("1957-09-15T12:00:00Z")),
             ItunesLibraryXml::string(QStringLiteral("Location"), ItunesLibraryXml::localhostUrl(m_song))});
    library.addPlaylist(QStringLiteral("Library"), {12});
    const QList<iTunedata> playlists = read(library);

    QCOMPARE(playlists.size(), 1);
    QCOMPARE(playlists.first().name, QStringLiteral("Library"));
    QCOMPARE(playlists.first().tracks.size(), 1);
    const track t = playlists.first().tracks.first();
    QCOMPARE(t.id, 12);
    QCOMPARE(t.source, 1);
    QCOMPARE(t.isVideo, false);
    QCOMPARE(t.trackname, QStringLiteral("Blue Train"));
    QCOMPARE(t.filename, QStringLiteral("Blue Train"));
    QCOMPARE(t.artistName, QStringLiteral("John Coltrane"));
    QCOMPARE(t.albumName, QStringLiteral("Blue Train"));
    QCOMPARE(t.genre, QStringLiteral("Jazz"));
    QCOMPARE(t.codec, QStringLiteral("MPEG audio file"));
    QCOMPARE(t.filesize, Q_INT64_C(5000000000));
    QCOMPARE(t.duration, 1.5);
    QCOMPARE(t.year, 1957);
    QCOMPARE(t.tracknumber, 3);
    QCOMPARE(t.bitrate, 320);
    QCOMPARE(t.frequency, Q_INT64_C(44100));
    QCOMPARE(t.ReleaseDate, QStringLiteral("09/15/1957"));
    QCOMPARE(t.filepath, m_song);
    // Raw records: the import gives ids, covers and playlist names.
    QCOMPARE(t.album_id, 0);
    QCOMPARE(t.artist_id, 0);
    QVERIFY(t.playlist.isEmpty());
    QVERIFY(t.cover.isEmpty());
}

void TestItunesReader::trackNumberAndYear_data()
{
    QTest::addColumn<bool>("numberFirst");
    QTest::addRow("Track Number before Year") << true;
    QTest::addRow("Track Number after Year") << false;
}

void TestItunesReader::trackNumberAndYear()
{
    QFETCH(bool, numberFirst);
    const ItunesLibraryXml::Entry number = ItunesLibraryXml::integer(QStringLiteral("Track Number"), 5);
    const ItunesLibraryXml::Entry year = ItunesLibraryXml::integer(QStringLiteral("Year"), 2004);
    ItunesLibraryXml library;
    library.addTrack(1, {numberFirst ? number : year, numberFirst ? year : number,
                         ItunesLibraryXml::string(QStringLiteral("Location"), ItunesLibraryXml::localhostUrl(m_song))});
    library.addPlaylist(QStringLiteral("Library"), {1});
    const QList<iTunedata> playlists = read(library);

    QCOMPARE(playlists.size(), 1);
    QCOMPARE(playlists.first().tracks.size(), 1);
    QCOMPARE(playlists.first().tracks.first().tracknumber, 5);
    QCOMPARE(playlists.first().tracks.first().year, 2004);
}

void TestItunesReader::defaultsForMissingValues()
{
    ItunesLibraryXml library;
    library.addTrack(1, {ItunesLibraryXml::string(QStringLiteral("Album"), QStringLiteral("   ")),
                         ItunesLibraryXml::string(QStringLiteral("Location"), ItunesLibraryXml::localhostUrl(m_song))});
    library.addPlaylist(QStringLiteral("Library"), {1});
    const QList<iTunedata> playlists = read(library);

    QCOMPARE(playlists.size(), 1);
    QCOMPARE(playlists.first().tracks.size(), 1);
    const track t = playlists.first().tracks.first();
    QCOMPARE(t.albumName, QStringLiteral("Unknown Album"));
    QCOMPARE(t.artistName, QStringLiteral("Unknown Artist"));
    QCOMPARE(t.codec, QStringLiteral("Unknown Codec"));
    QCOMPARE(t.trackname, QStringLiteral("Unknown Song"));
    QCOMPARE(t.genre, QStringLiteral("Unknown Genre"));
    QCOMPARE(t.ReleaseDate, QStringLiteral("Unknown"));
    QCOMPARE(t.filename, QStringLiteral("Unknown Filename"));
    QCOMPARE(t.duration, 0.0);
    QCOMPARE(t.filesize, Q_INT64_C(0));
}

void TestItunesReader::releaseDate_data()
{
    QTest::addColumn<QString>("value");  // null: no "Release Date" key
    QTest::addColumn<QString>("expected");
    QTest::addRow("UTC date") << "2010-01-01T08:00:00Z" << "01/01/2010";
    QTest::addRow("zone designator not applied") << "1999-12-31T23:30:00Z" << "12/31/1999";
    QTest::addRow("missing") << QString() << "Unknown";
    QTest::addRow("not a date") << "sometime in the summer" << "Unknown";
    QTest::addRow("day only") << "2010-01-01" << "Unknown";
    QTest::addRow("impossible day") << "2010-02-30T08:00:00Z" << "Unknown";
    QTest::addRow("impossible hour") << "2010-02-03T25:00:00Z" << "Unknown";
    QTest::addRow("blank instead of T") << "2010-02-03 08:00:00Z" << "Unknown";
    QTest::addRow("leap day") << "2012-02-29T00:00:00Z" << "02/29/2012";
}

void TestItunesReader::releaseDate()
{
    QFETCH(QString, value);
    QFETCH(QString, expected);
    QList<ItunesLibraryXml::Entry> entries{
        ItunesLibraryXml::string(QStringLiteral("Location"), ItunesLibraryXml::localhostUrl(m_song))};
    if (!value.isNull())
        entries.append(ItunesLibraryXml::date(QStringLiteral("Release Date"), value));
    ItunesLibraryXml library;
    library.addTrack(1, entries);
    library.addPlaylist(QStringLiteral("Library"), {1});
    const QList<iTunedata> playlists = read(library);

    QCOMPARE(playlists.size(), 1);
    QCOMPARE(playlists.first().tracks.size(), 1);
    QCOMPARE(playlists.first().tracks.first().ReleaseDate, expected);
}

void TestItunesReader::playlistItemsAscendingOnce()
{
    ItunesLibraryXml library;
    for (const int id : {10, 20, 30})
        library.addTrack(id, {ItunesLibraryXml::string(QStringLiteral("Location"),
                                                       ItunesLibraryXml::localhostUrl(touch(
                                                           QStringLiteral("order/%1.mp3").arg(id))))});
    library.addPlaylist(QStringLiteral("Road Trip"), {30, 10, 20, 10, 30});
    const QList<iTunedata> playlists = read(library);

    QCOMPARE(playlists.size(), 1);
    QCOMPARE(playlists.first().name, QStringLiteral("Road Trip"));
    QCOMPARE(ids(playlists.first()), QList<int>({10, 20, 30}));
}

void TestItunesReader::droppedTrack_data()
{
    QTest::addColumn<QString>("location");  // relative to the temporary folder; "" for no Location key
    QTest::addColumn<bool>("makeFile");
    QTest::addColumn<bool>("videoSupported");
    QTest::addColumn<bool>("kept");

    QTest::addRow("missing file") << "gone/Lost.mp3" << false << false << false;
    QTest::addRow("no Location") << "" << false << false << false;
    QTest::addRow("unsupported suffix") << "other/Notes.txt" << true << false << false;
    QTest::addRow("no suffix") << "other/README" << true << false << false;
    QTest::addRow("folder named like a song") << "other/Folder.mp3/" << false << false << false;
    QTest::addRow("video without video support") << "video/Clip.mp4" << true << false << false;
    QTest::addRow("video with video support") << "video/Clip.mp4" << true << true << true;
    QTest::addRow("upper-case audio suffix") << "other/LOUD.MP3" << true << false << true;
}

void TestItunesReader::droppedTrack()
{
    QFETCH(QString, location);
    QFETCH(bool, makeFile);
    QFETCH(bool, videoSupported);
    QFETCH(bool, kept);

    track_data::IsVideoSupported = videoSupported;
    QList<ItunesLibraryXml::Entry> entries;
    if (!location.isEmpty()) {
        const QString path = m_dir.filePath(location);
        if (makeFile)
            QVERIFY(!touch(location).isEmpty());
        else if (location.endsWith(QLatin1Char('/')))
            QVERIFY(QDir().mkpath(path));
        entries.append(ItunesLibraryXml::string(QStringLiteral("Location"), ItunesLibraryXml::localhostUrl(path)));
    }
    ItunesLibraryXml library;
    library.addTrack(3, entries);
    library.addPlaylist(QStringLiteral("Mixed"), {3});
    const QList<iTunedata> playlists = read(library);

    QCOMPARE(playlists.size(), 1);
    QCOMPARE(playlists.first().tracks.size(), kept ? 1 : 0);
    if (kept)
        QCOMPARE(playlists.first().tracks.first().isVideo, videoSupported);
}

void TestItunesReader::playlistOfOnlyDroppedTracks()
{
    ItunesLibraryXml library;
    library.addTrack(1, {ItunesLibraryXml::string(QStringLiteral("Location"), ItunesLibraryXml::localhostUrl(m_song))});
    library.addTrack(2, {ItunesLibraryXml::string(QStringLiteral("Location"),
                                                  ItunesLibraryXml::localhostUrl(m_dir.filePath("gone/a.mp3")))});
    library.addTrack(3, {ItunesLibraryXml::string(QStringLiteral("Location"),
                                                  ItunesLibraryXml::localhostUrl(touch("dropped/b.pdf")))});
    library.addPlaylist(QStringLiteral("Nothing Playable"), {2, 3, 99});
    library.addPlaylist(QStringLiteral("After"), {3, 1});
    const QList<iTunedata> playlists = read(library);

    QCOMPARE(playlists.size(), 2);
    QCOMPARE(playlists.at(0).name, QStringLiteral("Nothing Playable"));
    QVERIFY(playlists.at(0).tracks.isEmpty());
    QCOMPARE(playlists.at(1).name, QStringLiteral("After"));
    QCOMPARE(ids(playlists.at(1)), QList<int>({1}));
}

void TestItunesReader::wideTrackIdsKeptApart()
{
    // 105536 - 40000 = 65536: the same number in 16 bits.
    const QString first = touch(QStringLiteral("wide/first.mp3"));
    const QString second = touch(QStringLiteral("wide/second.mp3"));
    ItunesLibraryXml library;
    library.addTrack(40000, {ItunesLibraryXml::string(QStringLiteral("Location"), ItunesLibraryXml::localhostUrl(first))});
    library.addTrack(105536,
                     {ItunesLibraryXml::string(QStringLiteral("Location"), ItunesLibraryXml::localhostUrl(second))});
    library.addPlaylist(QStringLiteral("Both"), {105536, 40000});
    library.addPlaylist(QStringLiteral("Second only"), {105536});
    const QList<iTunedata> playlists = read(library);

    QCOMPARE(playlists.size(), 2);
    QCOMPARE(ids(playlists.at(0)), QList<int>({40000, 105536}));
    QCOMPARE(playlists.at(0).tracks.at(0).filepath, first);
    QCOMPARE(playlists.at(0).tracks.at(1).filepath, second);
    QCOMPARE(ids(playlists.at(1)), QList<int>({105536}));
    QCOMPARE(playlists.at(1).tracks.at(0).filepath, second);
}

void TestItunesReader::laterTrackWithSameIdReplaces()
{
    ItunesLibraryXml library;
    library.addTrack(5, {ItunesLibraryXml::string(QStringLiteral("Name"), QStringLiteral("Earlier")),
                         ItunesLibraryXml::string(QStringLiteral("Location"), ItunesLibraryXml::localhostUrl(m_song))});
    library.addTrack(5, {ItunesLibraryXml::string(QStringLiteral("Name"), QStringLiteral("Later")),
                         ItunesLibraryXml::string(QStringLiteral("Location"), ItunesLibraryXml::localhostUrl(m_song))});
    library.addPlaylist(QStringLiteral("Library"), {5});
    const QList<iTunedata> playlists = read(library);

    QCOMPARE(playlists.size(), 1);
    QCOMPARE(playlists.first().tracks.size(), 1);
    QCOMPARE(playlists.first().tracks.first().trackname, QStringLiteral("Later"));
}

void TestItunesReader::playlistsInFileOrder()
{
    ItunesLibraryXml library;
    library.addTrack(1, {ItunesLibraryXml::string(QStringLiteral("Location"), ItunesLibraryXml::localhostUrl(m_song))});
    library.addPlaylist(QStringLiteral("Zebra"), {1});
    library.addPlaylist(QStringLiteral("Empty"), {});
    library.addPlaylist(QStringLiteral("Alpha"), {1});
    library.addPlaylist(QString(), {1});  // no "Name" key: keeps the previous name
    const QList<iTunedata> playlists = read(library);

    QStringList names;
    for (const iTunedata &playlist : playlists)
        names.append(playlist.name);
    // A playlist without items gives no entry.
    QCOMPARE(names, QStringList({"Zebra", "Alpha", "Alpha"}));
}

void TestItunesReader::whiteSpaceBetweenKeyAndValue()
{
    // Other property-list writers put each element on its own line.
    ItunesLibraryXml library;
    library.addTrack(8, {ItunesLibraryXml::string(QStringLiteral("Name"), QStringLiteral("Spaced Out")),
                         ItunesLibraryXml::integer(QStringLiteral("Total Time"), 215000),
                         ItunesLibraryXml::string(QStringLiteral("Location"), ItunesLibraryXml::localhostUrl(m_song))});
    library.addPlaylist(QStringLiteral("Library"), {8});
    QByteArray xml = library.toXml();
    xml.replace("</key><", "</key>\n\t\t\t<!-- value -->\n\t\t\t<");
    const QList<iTunedata> playlists = TagLibBuilder().parseiTunePlaylist(writeLibrary(xml));

    QCOMPARE(playlists.size(), 1);
    QCOMPARE(playlists.first().name, QStringLiteral("Library"));
    QCOMPARE(ids(playlists.first()), QList<int>({8}));
    QCOMPARE(playlists.first().tracks.first().trackname, QStringLiteral("Spaced Out"));
    QCOMPARE(playlists.first().tracks.first().duration, 215.0);
}

void TestItunesReader::damagedFile_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QStringList>("names");
    QTest::addRow("cut inside the second playlist") << "cut:Second" << QStringList({"First"});
    QTest::addRow("cut after the first playlist") << "cut:</array>" << QStringList({"First"});
    QTest::addRow("cut inside the tracks") << "cut:<key>2</key>" << QStringList();
    QTest::addRow("mismatched tag in the second playlist") << "break:Second" << QStringList({"First"});
    QTest::addRow("binary junk") << "junk" << QStringList();
    QTest::addRow("empty file") << "empty" << QStringList();
    QTest::addRow("intact") << "none" << QStringList({"First", "Second"});
}

void TestItunesReader::damagedFile()
{
    QFETCH(QString, damage);
    QFETCH(QStringList, names);

    ItunesLibraryXml library;
    library.addTrack(1, {ItunesLibraryXml::string(QStringLiteral("Location"), ItunesLibraryXml::localhostUrl(m_song))});
    library.addTrack(2, {ItunesLibraryXml::string(QStringLiteral("Location"), ItunesLibraryXml::localhostUrl(m_song))});
    library.addPlaylist(QStringLiteral("First"), {1});
    library.addPlaylist(QStringLiteral("Second"), {2});
    QByteArray xml = library.toXml();
    if (damage.startsWith(QLatin1String("cut:"))) {
        const QByteArray mark = damage.mid(4).toUtf8();
        const qsizetype at = xml.indexOf(mark);
        QVERIFY(at > 0);
        xml.truncate(at + mark.size());
    } else if (damage.startsWith(QLatin1String("break:"))) {
        const qsizetype at = xml.indexOf(damage.mid(6).toUtf8());
        QVERIFY(at > 0);
        xml.insert(at, "<b></i>");
    } else if (damage == QLatin1String("junk")) {
        xml = QByteArray("\x00\xff\xfe<<&&\x01", 8).repeated(100);
    } else if (damage == QLatin1String("empty")) {
        xml.clear();
    }
    const QList<iTunedata> playlists = TagLibBuilder().parseiTunePlaylist(writeLibrary(xml));

    QStringList got;
    for (const iTunedata &playlist : playlists)
        got.append(playlist.name);
    QCOMPARE(got, names);
    for (const iTunedata &playlist : playlists)
        QCOMPARE(playlist.tracks.size(), 1);
}

void TestItunesReader::missingFile()
{
    QTest::ignoreMessage(QtDebugMsg, "Load XML File Problem.");
    QVERIFY(TagLibBuilder().parseiTunePlaylist(m_dir.filePath(QStringLiteral("no such library.xml"))).isEmpty());
}

CORVANE_TEST_MAIN(TestItunesReader)
#include "tst_itunesreader.moc"
