#include <QtTest>

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "core/taglibbuilder.h"
#include "testenv.h"

// The playlist readers behind the folder scan: M3U/M3U8, PLS and WPL.
class TestPlaylistReaders : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void read_data();
    void read();
    void directoryNamedLikeAPlaylist_data();
    void directoryNamedLikeAPlaylist();
    void missingFile();
    void garbageNeverCrashes_data();
    void garbageNeverCrashes();

private:
    QTemporaryDir m_dir;
    QString m_folder; // where each playlist is written
};

void TestPlaylistReaders::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_folder = m_dir.filePath(QStringLiteral("Lists"));
    QVERIFY(QDir().mkpath(m_folder));
}

void TestPlaylistReaders::read_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("expected"); // %P: the playlist's folder, %M: the music folder

    QTest::addRow("m3u absolute") << "a.m3u" << QByteArray("/Music/a.mp3\n/Music/b.mp3\n")
                                  << QStringList{"/Music/a.mp3", "/Music/b.mp3"};
    QTest::addRow("m3u relative") << "a.m3u" << QByteArray("b.mp3\nsub/c.flac\n")
                                  << QStringList{"%P/b.mp3", "%P/sub/c.flac"};
    QTest::addRow("m3u relative upwards is cleaned") << "a.m3u" << QByteArray("../x.mp3\n./y.mp3\n")
                                                     << QStringList{"%P/../x.mp3", "%P/y.mp3"};
    QTest::addRow("m3u absolute is cleaned") << "a.m3u" << QByteArray("/Music//Artist/../a.mp3\n")
                                             << QStringList{"/Music/a.mp3"};
    QTest::addRow("m3u URLs dropped")
        << "a.m3u" << QByteArray("/Music/a.mp3\nfile:///Music/c.mp3\nhttp://radio.example/stream\nb.mp3\n")
        << QStringList{"/Music/a.mp3", "%P/b.mp3"};
    QTest::addRow("m3u upper-case scheme is no URL") << "a.m3u" << QByteArray("FILE:///Music/c.mp3\n")
                                                     << QStringList{"%P/FILE:/Music/c.mp3"};
    QTest::addRow("m3u blank lines are no entries") << "a.m3u" << QByteArray("\n   \n/Music/a.mp3\n\n")
                                                    << QStringList{"/Music/a.mp3"};
    QTest::addRow("m3u #EXTINF and comments are no entries")
        << "a.m3u8" << QByteArray("#EXTM3U\n#EXTINF:123,Artist - Title\n/Music/a.mp3\n# note\n")
        << QStringList{"/Music/a.mp3"};
    QTest::addRow("m3u CR LF and blanks trimmed") << "a.m3u" << QByteArray("  /Music/a.mp3 \r\nb.mp3\r\n")
                                                  << QStringList{"/Music/a.mp3", "%P/b.mp3"};
    QTest::addRow("m3u byte-order mark skipped") << "a.m3u8" << QByteArray("\xEF\xBB\xBF/Music/a.mp3\n")
                                                 << QStringList{"/Music/a.mp3"};
    QTest::addRow("m3u8 UTF-8 text") << "a.m3u8" << QByteArray("/Music/Кино/Группа крови.mp3\n")
                                     << QStringList{"/Music/Кино/Группа крови.mp3"};
    QTest::addRow("m3u Latin-1 bytes") << "a.m3u" << QByteArray("/Music/Bj\xF6rk/J\xF3ga.mp3\n")
                                       << QStringList{"/Music/Björk/Jóga.mp3"};
    QTest::addRow("m3u without final line end") << "a.m3u" << QByteArray("/Music/a.mp3") << QStringList{"/Music/a.mp3"};
    QTest::addRow("m3u duplicates kept") << "a.m3u" << QByteArray("/a.mp3\n/a.mp3\n")
                                         << QStringList{"/a.mp3", "/a.mp3"};
    QTest::addRow("m3u backslash path stays relative") << "a.m3u" << QByteArray("C:\\Music\\a.mp3\n")
                                                       << QStringList{"%P/C:\\Music\\a.mp3"};
    QTest::addRow("empty m3u") << "a.m3u" << QByteArray() << QStringList();
    QTest::addRow("upper-case .M3U dispatched") << "Mix.M3U" << QByteArray("/Music/a.mp3\n")
                                                << QStringList{"/Music/a.mp3"};
    QTest::addRow(".xspf gives nothing")
        << "Mix.xspf"
        << QByteArray("<?xml version=\"1.0\"?><playlist><trackList><track><location>/Music/a.mp3</location>"
                      "</track></trackList></playlist>")
        << QStringList();
    QTest::addRow("unknown suffix gives nothing") << "list.txt" << QByteArray("/Music/a.mp3\n") << QStringList();

    QTest::addRow("pls File2 before File1")
        << "a.pls"
        << QByteArray("[playlist]\nNumberOfEntries=2\nFile2=/Music/second.mp3\nTitle2=Second\n"
                      "File1=/Music/first.mp3\nLength1=-1\nVersion=2\n")
        << QStringList{"/Music/second.mp3", "/Music/first.mp3"};
    QTest::addRow("pls keys in any case, values trimmed")
        << "a.PLS" << QByteArray("[playlist]\r\nFILE1 = /Music/a.mp3\r\nfile2=b.mp3\r\nfilename=c.mp3\r\n")
        << QStringList{"/Music/a.mp3", "%P/b.mp3", "%P/c.mp3"};
    QTest::addRow("pls URL and empty value dropped")
        << "a.pls" << QByteArray("[playlist]\nFile1=http://radio.example/stream\nFile2=\nFile3=/a.mp3\n")
        << QStringList{"/a.mp3"};
    QTest::addRow("pls value keeps its later equals signs") << "a.pls" << QByteArray("File1=/Music/a=b.mp3\n")
                                                            << QStringList{"/Music/a=b.mp3"};
    QTest::addRow("pls byte-order mark and Latin-1")
        << "a.pls" << QByteArray("\xEF\xBB\xBF[playlist]\nFile1=/Music/Caf\xE9.mp3\n") << QStringList{"/Music/Café.mp3"};
    QTest::addRow("pls byte-order mark before File1") << "a.pls" << QByteArray("\xEF\xBB\xBF" "File1=/a.mp3\n")
                                                      << QStringList{"/a.mp3"};

    const QByteArray wplHead = "<?wpl version=\"1.0\"?>\n<smil><head><title>Mix</title></head><body><seq>\n";
    QTest::addRow("wpl entries")
        << "a.wpl"
        << wplHead + "<media src=\"..\\Music\\a.mp3\"/>\n<media src=\"a.mp3\"/>\n<media src=\"/Music/b.mp3\"/>\n"
                     "</seq></body></smil>\n"
        << QStringList{"%M\\Music\\a.mp3", "a.mp3", "/Music/b.mp3"};
    QTest::addRow("wpl parent entry joins the music folder")
        << "a.wpl" << wplHead + "<media src=\"../Artist/a.mp3\"/></seq></body></smil>" << QStringList{"%M/Artist/a.mp3"};
    QTest::addRow("wpl missing src gives an empty entry")
        << "a.wpl" << wplHead + "<media tid=\"{1}\"/><media src=\"/a.mp3\"/></seq></body></smil>"
        << QStringList{"", "/a.mp3"};
    QTest::addRow("wpl broken XML after two entries")
        << "a.wpl" << wplHead + "<media src=\"/a.mp3\"/><media src=\"/b.mp3\"/><media src=\"/c.mp3\"></seq><media src=\"/d.mp3\"/>"
        << QStringList{"/a.mp3", "/b.mp3", "/c.mp3"};
    QTest::addRow("wpl entities decoded") << "a.wpl" << wplHead + "<media src=\"/Rock &amp; Roll.mp3\"/></seq></body></smil>"
                                          << QStringList{"/Rock & Roll.mp3"};
    QTest::addRow("wpl media at any depth, other names ignored")
        << "a.WPL" << QByteArray("<smil><media src=\"/a.mp3\"><media src=\"/b.mp3\"/></media><Media src=\"/c.mp3\"/></smil>")
        << QStringList{"/a.mp3", "/b.mp3"};
    QTest::addRow("wpl not XML at all") << "a.wpl" << QByteArray("just some text") << QStringList();
}

void TestPlaylistReaders::read()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, expected);

    const QString path = m_folder + QLatin1Char('/') + name;
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
    file.close();

    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    for (QString &entry : expected)
        entry = QDir::cleanPath(entry.replace(QStringLiteral("%P"), m_folder).replace(QStringLiteral("%M"), music));
    // The scan hands over the file as it met it: through a relative path too.
    const QList<QString> entries = TagLibBuilder().parsePlaylists(QFileInfo(path));
    QCOMPARE(QStringList(entries), expected);
    QDir::setCurrent(m_folder);
    QCOMPARE(QStringList(TagLibBuilder().parsePlaylists(QFileInfo(name))), expected);
    QFile::remove(path);
}

void TestPlaylistReaders::directoryNamedLikeAPlaylist_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    QTest::addRow("x.m3u") << "x.m3u" << "Failed to open read only file";
    QTest::addRow("x.pls") << "x.pls" << "Failed to open read only file";
    QTest::addRow("x.wpl") << "x.wpl" << "Load XML File Problem.";
}

void TestPlaylistReaders::directoryNamedLikeAPlaylist()
{
    QFETCH(QString, name);
    QFETCH(QString, message);
    const QString path = m_dir.filePath(name);
    QVERIFY(QDir().mkpath(path + QStringLiteral("/inside.mp3")));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QRegularExpression::escape(message)));
    QVERIFY(TagLibBuilder().parsePlaylists(QFileInfo(path)).isEmpty());
}

void TestPlaylistReaders::missingFile()
{
    const QString path = m_dir.filePath(QStringLiteral("gone.m3u"));
    QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("Failed to open read only file \"%1\"").arg(path)));
    QVERIFY(TagLibBuilder().readM3UPlaylist(path).isEmpty());
    QTest::ignoreMessage(QtDebugMsg, "Load XML File Problem.");
    QVERIFY(TagLibBuilder().parseWplPlaylist(m_dir.filePath(QStringLiteral("gone.wpl"))).isEmpty());
}

void TestPlaylistReaders::garbageNeverCrashes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addRow("m3u") << "g.m3u";
    QTest::addRow("pls") << "g.pls";
    QTest::addRow("wpl") << "g.wpl";
}

void TestPlaylistReaders::garbageNeverCrashes()
{
    QFETCH(QString, name);
    const QString path = m_folder + QLatin1Char('/') + name;
    QRandomGenerator random(7);
    for (int round = 0; round < 50; ++round) {
        QByteArray bytes(1 + random.bounded(20000), Qt::Uninitialized);
        for (char &b : bytes)
            b = char(random.bounded(256));
        if (round % 2)
            bytes.prepend(name.endsWith(QLatin1String("wpl")) ? "<smil><media src=\"/a.mp3\"/>" : "/a.mp3\nFile1=/a.mp3\n");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
        file.close();
        const QList<QString> entries = TagLibBuilder().parsePlaylists(QFileInfo(path));
        // Whatever is read is a cleaned path; none is a URL.
        for (const QString &entry : entries) {
            QCOMPARE(entry, QDir::cleanPath(entry));
            QVERIFY(!QRegularExpression(QStringLiteral("^[a-z]+:/")).match(entry).hasMatch());
        }
        // Line formats keep the good line; the XML reader may reject a whole
        // chunk of badly encoded bytes, so a WPL only has to end cleanly.
        if (round % 2 && !name.endsWith(QLatin1String("wpl")))
            QVERIFY(entries.contains(QStringLiteral("/a.mp3")));
    }
}

CORVANE_TEST_MAIN(TestPlaylistReaders)
#include "tst_playlistreaders.moc"
