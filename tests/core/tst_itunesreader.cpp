#include <QtTest>

#include <QStandardPaths>

#include "core/taglibbuilder.h"
#include "core/track_data.h"
#include "ituneslibraryxml.h"
#include "libraryfixture.h"
#include "testenv.h"

using Xml = testkit::ItunesLibraryXml;

// The iTunes library reader against library files written by the test, whose
// Locations point at empty files in a temporary folder: the reader looks only
// at a file's existence and suffix, never at its contents.
class TestItunesReader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        track_data::IsVideoSupported = false;
        QVERIFY(!(m_song = touch(QStringLiteral("Café Music/My Song.mp3"))).isEmpty());
    }

    void locationDecoding_data()
    {
        QTest::addColumn<QString>("location");
        QTest::addColumn<bool>("kept");
        const QString path = m_dir.filePath(QStringLiteral("Café Music/My Song.mp3"));
        QTest::addRow("localhost URL with %%20 and %%C3%%A9") << Xml::localhostUrl(path) << true;
        QTest::addRow("file:/// URL") << Xml::fileUrl(path) << true;
        QTest::addRow("another host") << Xml::localhostUrl(path).replace("localhost", "server") << false;
    }

    void locationDecoding()
    {
        QFETCH(QString, location);
        QFETCH(bool, kept);
        QVERIFY2(location.contains(QStringLiteral("Caf%C3%A9%20Music/My%20Song.mp3")), qPrintable(location));
        Xml library;
        library.addTrack(7, {Xml::string(QStringLiteral("Location"), location)});
        library.addPlaylist(QStringLiteral("Library"), {7});
        const QList<iTunedata> playlists = read(library.toXml());
        QVERIFY(playlists.size() == 1 && playlists.first().tracks.size() == (kept ? 1 : 0));
        if (kept)
            QCOMPARE(playlists.first().tracks.first().filepath, m_song);
    }

    void trackFieldsAndDefaults()
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
        library.addTrack(13, {Xml::date(QStringLiteral("Release Date"), QStringLiteral("2010-02-30T08:00:00Z")),
                              location(m_song)});
        library.addPlaylist(QStringLiteral("Library"), {12, 13});
        const QList<iTunedata> playlists = read(library.toXml());
        QVERIFY(playlists.size() == 1 && playlists.first().tracks.size() == 2);
        QStringList got;
        for (const track &t : playlists.first().tracks)
            got << QStringLiteral("%1|%2|%3|%4|%5|%6|%7|%8").arg(t.trackname, t.artistName, t.albumName).arg(t.filesize)
                       .arg(t.duration).arg(t.tracknumber).arg(t.year).arg(t.ReleaseDate);
        // The second has an impossible day.
        QCOMPARE(got, QStringList({"Blue Train|Unknown Artist|Blue Train|5000000000|1.5|3|1957|09/15/1957",
                                   "Unknown Song|Unknown Artist|Unknown Album|0|0|0|0|Unknown"}));
    }

    // Items in ascending order, each once; dropped tracks leave their playlists;
    // Track IDs 16 bits apart stay apart.
    void playlists()
    {
        Xml library;
        for (const int id : {10, 20, 30, 40000, 105536})
            library.addTrack(id, {location(touch(QStringLiteral("ids/%1.mp3").arg(id)))});
        library.addTrack(2, {location(m_dir.filePath(QStringLiteral("gone/a.mp3")))});
        library.addTrack(3, {location(touch(QStringLiteral("dropped/b.pdf")))});
        library.addTrack(4, {location(touch(QStringLiteral("dropped/Clip.mp4")))}); // no video support
        library.addPlaylist(QStringLiteral("Road Trip"), {30, 10, 20, 10, 30});
        library.addPlaylist(QStringLiteral("Nothing Playable"), {2, 3, 4, 99});
        library.addPlaylist(QStringLiteral("Wide"), {105536, 40000});
        const QList<iTunedata> playlists = read(library.toXml());

        QCOMPARE(playlists.size(), 3);
        QVERIFY(playlists.at(0).name == QLatin1String("Road Trip") && playlists.at(1).name == QLatin1String("Nothing Playable"));
        QCOMPARE(ids(playlists.at(0)), QList<int>({10, 20, 30}));
        QVERIFY(playlists.at(1).tracks.isEmpty());
        QCOMPARE(ids(playlists.at(2)), QList<int>({40000, 105536}));
        QVERIFY(playlists.at(2).tracks.at(0).filepath.endsWith("/40000.mp3")
                && playlists.at(2).tracks.at(1).filepath.endsWith("/105536.mp3"));
    }

    void damagedFile_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QStringList>("names");
        QTest::addRow("cut inside the second playlist") << "cut" << QStringList({"First"});
        QTest::addRow("mismatched tag in the second playlist") << "break" << QStringList({"First"});
        QTest::addRow("binary junk") << "junk" << QStringList();
        QTest::addRow("missing file") << "missing" << QStringList();
    }

    // What was read before the damage is kept; nothing crashes.
    void damagedFile()
    {
        QFETCH(QString, damage);
        Xml library;
        library.addTrack(1, {location(m_song)});
        library.addPlaylist(QStringLiteral("First"), {1});
        library.addPlaylist(QStringLiteral("Second"), {1});
        QByteArray xml = library.toXml();
        const qsizetype second = xml.indexOf("Second");
        QVERIFY(second > 0);
        if (damage == QLatin1String("cut"))
            xml.truncate(second + 6);
        else if (damage == QLatin1String("break"))
            xml.insert(second, "<b></i>");
        else
            xml = QByteArray("\x00\xff\xfe<<&&\x01", 8).repeated(100);
        const QList<iTunedata> playlists = damage == QLatin1String("missing")
                                               ? TagLibBuilder().parseiTunePlaylist(m_dir.filePath(QStringLiteral("none.xml")))
                                               : read(xml);
        QStringList got;
        for (const iTunedata &playlist : playlists)
            got.append(playlist.name);
        QTEST(got, "names");
    }


    // The artwork index: album -> persistent id of a track with a cache file.
    // File names split on the first "-" and "." (and blanks); backups, other
    // files and hidden files are not cache files.
    void cacheFileIds()
    {
        QTemporaryDir dir;
        for (const char *name : {"11/02/0A1B-6C08B3E9D4D50F3A.itc2", "X-Y.ITC2", "A.B-C.itc", "ABC.itc", "X-Z.itc2.bak",
                                 "X-Q.png", ".X-H.itc2"})
            QVERIFY(testkit::touch(dir.filePath(QLatin1String(name)), "x"));
        QList<QString> ids = TagLibBuilder().SearchiTineArts(QDir(dir.path()), {QStringLiteral("kept")});
        QCOMPARE(ids.takeFirst(), QStringLiteral("kept"));
        ids.sort(); // the walk's order depends on the file system
        QCOMPARE(QStringList(ids), QStringList({"6C08B3E9D4D50F3A", "B", "Y", "itc"}));
    }

    void index_data()
    {
        QTest::addColumn<QString>("tracks");      // the body of the "Tracks" dictionary
        QTest::addColumn<QString>("afterTracks"); // what follows it in the top dictionary
        QTest::addColumn<QStringList>("cached");  // ids with a cache file
        QTest::addColumn<QStringList>("expected"); // "album=id", sorted by album

        QTest::addRow("later id of an album wins")
            << trackDict("Alpha", "AAA1") + trackDict("Alpha", "AAA2") << "" << QStringList{"AAA1", "AAA2"}
            << QStringList{"Alpha=AAA2"};
        QTest::addRow("track without cache file never replaces")
            << trackDict("Alpha", "AAA1") + trackDict("Alpha", "AAA2") << "" << QStringList{"AAA1"}
            << QStringList{"Alpha=AAA1"};
        QTest::addRow("name cleaned") << trackDict("  Greatest Hits (Live) ", "B1") + trackDict("(...)", "C1") << ""
                                      << QStringList{"B1", "C1"} << QStringList{"Greatest Hits Live=B1"};
        QTest::addRow("values do not leak into the next track")
            << trackDict("Alpha", QString()) + trackDict(QString(), "D1") << "" << QStringList{"D1"} << QStringList();
        QTest::addRow("keys after Playlists ignored")
            << trackDict("Alpha", "E1")
            << "<key>Playlists</key><array><dict><key>Album</key><string>Late</string>"
               "<key>Persistent ID</key><string>E2</string></dict></array>"
            << QStringList{"E1", "E2"} << QStringList{"Alpha=E1"};
        QTest::addRow("pretty-printed: white space between key and value")
            << "<key>1</key>\n<dict>\n\t<key>Album</key>\n\t<string>Alpha</string>\n\t<key>Persistent ID</key>\n"
               "\t<string>P1</string>\n</dict>\n"
            << "" << QStringList{"P1"} << QStringList{"Alpha=P1"};
        QTest::addRow("broken XML keeps what came before")
            << trackDict("Alpha", "G1") + "<key>2</key><dict><key>Album</key><string>Beta</strin></dict>"
            << "" << QStringList{"G1"} << QStringList{"Alpha=G1"};
    }

    void index()
    {
        QFETCH(QString, tracks);
        QFETCH(QString, afterTracks);
        QFETCH(QStringList, cached);

        const QString itunes = QStandardPaths::writableLocation(QStandardPaths::MusicLocation) + QStringLiteral("/iTunes");
        QVERIFY(itunes.startsWith(testkit::testHome()));
        QDir(itunes).removeRecursively();
        const QString library = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n"
                                               "<dict>\n<key>Major Version</key><integer>1</integer>\n"
                                               "<key>Tracks</key>\n<dict>\n%1</dict>\n%2</dict>\n</plist>\n")
                                    .arg(tracks, afterTracks);
        QVERIFY(testkit::touch(itunes + QStringLiteral("/iTunes Music Library.xml"), library.toUtf8()));
        int n = 0;
        for (const QString &id : cached)
            QVERIFY(testkit::touch(itunes + QStringLiteral("/Album Artwork/Cache/%1/0F0F-%2.itc2").arg(++n).arg(id), "x"));

        const QMap<QString, QString> index = TagLibBuilder().parseiTuneCoverArtStartup();
        QStringList actual;
        for (auto it = index.cbegin(); it != index.cend(); ++it)
            actual << it.key() + QLatin1Char('=') + it.value();
        QTEST(actual, "expected");
    }

private:
    static QString trackDict(const QString &album, const QString &id)
    {
        QString dict = QStringLiteral("<key>1</key><dict><key>Track ID</key><integer>1</integer>");
        if (!album.isNull())
            dict += QStringLiteral("<key>Album</key><string>%1</string>").arg(album.toHtmlEscaped());
        if (!id.isNull())
            dict += QStringLiteral("<key>Persistent ID</key><string>%1</string>").arg(id);
        return dict + QStringLiteral("</dict>\n");
    }
    QString touch(const QString &relative)
    {
        return testkit::touch(m_dir.filePath(relative), {}) ? m_dir.filePath(relative) : QString();
    }
    QList<iTunedata> read(const QByteArray &xml)
    {
        const QString path = m_dir.filePath(QStringLiteral("library-%1.xml").arg(++m_libraries));
        return testkit::touch(path, xml) ? TagLibBuilder().parseiTunePlaylist(path) : QList<iTunedata>();
    }
    static Xml::Entry location(const QString &path) { return Xml::string(QStringLiteral("Location"), Xml::localhostUrl(path)); }
    static QList<int> ids(const iTunedata &playlist);

    QTemporaryDir m_dir;
    QString m_song; // "Café Music/My Song.mp3"
    int m_libraries = 0;
};

QList<int> TestItunesReader::ids(const iTunedata &playlist)
{
    QList<int> result;
    for (const track &t : playlist.tracks)
        result.append(t.id);
    return result;
}

CORVANE_TEST_MAIN(TestItunesReader)
#include "tst_itunesreader.moc"
