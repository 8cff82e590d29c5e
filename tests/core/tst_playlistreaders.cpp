#include <QtTest>

#include <QRandomGenerator>
#include <QStandardPaths>

#include "core/taglibbuilder.h"
#include "libraryfixture.h"
#include "testenv.h"

// The playlist readers behind the folder scan: M3U/M3U8, PLS and WPL.
class TestPlaylistReaders : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid() && QDir().mkpath(m_folder = m_dir.filePath(QStringLiteral("Lists")))); }
    void read_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("expected"); // %P: the playlist's folder, %M: the music folder

        QTest::addRow("m3u absolute, cleaned") << "a.m3u" << QByteArray("/Music//Artist/../a.mp3\n/Music/b.mp3")
                                               << QStringList{"/Music/a.mp3", "/Music/b.mp3"};
        QTest::addRow("m3u relative") << "a.m3u" << QByteArray("b.mp3\n./sub/c.flac\n")
                                      << QStringList{"%P/b.mp3", "%P/sub/c.flac"};
        QTest::addRow("m3u URLs dropped") << "a.m3u" << QByteArray("file:///Music/c.mp3\nhttp://radio.example/s\nb.mp3\n")
                                          << QStringList{"%P/b.mp3"};
        QTest::addRow("m3u blank lines, #EXTINF and comments")
            << "a.m3u8" << QByteArray("#EXTM3U\n\n   \n#EXTINF:123,Artist - Title\n/Music/a.mp3\r\n# note\n")
            << QStringList{"/Music/a.mp3"};
        QTest::addRow("m3u8 byte-order mark and UTF-8") << "a.m3u8" << QByteArray("\xEF\xBB\xBF/Music/Кино/Группа.mp3\n")
                                                        << QStringList{"/Music/Кино/Группа.mp3"};
        QTest::addRow("m3u Latin-1 bytes") << "a.m3u" << QByteArray("/Music/Bj\xF6rk/J\xF3ga.mp3\n")
                                           << QStringList{"/Music/Björk/Jóga.mp3"};
        QTest::addRow("m3u Latin-1 after a UTF-8 byte-order mark keeps its first entry")
            << "a.m3u" << QByteArray("\xEF\xBB\xBF/Music/a.mp3\n/Music/Bj\xF6rk.mp3\n")
            << QStringList{"/Music/a.mp3", "/Music/Björk.mp3"};
        QTest::addRow("upper-case .M3U dispatched") << "Mix.M3U" << QByteArray("/Music/a.mp3\n")
                                                    << QStringList{"/Music/a.mp3"};
        QTest::addRow(".xspf gives nothing")
            << "Mix.xspf" << QByteArray("<playlist><trackList><track><location>/Music/a.mp3</location></track></trackList>")
            << QStringList();
        QTest::addRow("pls File2 before File1")
            << "a.pls" << QByteArray("[playlist]\nNumberOfEntries=2\nFile2=/Music/second.mp3\nFile1=/Music/first.mp3\n")
            << QStringList{"/Music/second.mp3", "/Music/first.mp3"};
        QTest::addRow("pls keys in any case, values trimmed, URL dropped")
            << "a.PLS" << QByteArray("[playlist]\r\nFILE1 = /Music/a.mp3\r\nfile2=b.mp3\r\nFile3=http://radio.example/s\n")
            << QStringList{"/Music/a.mp3", "%P/b.mp3"};
        QTest::addRow("m3u Windows separators read as /") << "a.m3u" << QByteArray("..\\Album\\03 Song.mp3\r\n")
                                                           << QStringList{"%P/../Album/03 Song.mp3"};
        QTest::addRow("pls drive-letter path dropped")
            << "a.pls" << QByteArray("[playlist]\nFile1=X:\\Music\\a.mp3\nFile2=b.mp3\n") << QStringList{"%P/b.mp3"};

        const QByteArray wplHead = "<?wpl version=\"1.0\"?>\n<smil><head><title>Mix</title></head><body><seq>\n";
        QTest::addRow("wpl entries") << "a.wpl"
                                     << wplHead + "<media src=\"../Artist/a.mp3\"/><media src=\"/Rock &amp; Roll.mp3\"/>"
                                                  "</seq></body></smil>"
                                     << QStringList{"%M/Artist/a.mp3", "/Rock & Roll.mp3"};
        QTest::addRow("wpl relative to its own folder, Windows separators")
            << "a.wpl" << wplHead + "<media src=\"Album\\b.mp3\"/><media src=\"..\\Artist\\c.mp3\"/></seq></body></smil>"
            << QStringList{"%P/Album/b.mp3", "%M/Artist/c.mp3"};
        QTest::addRow("wpl missing src gives an empty entry")
            << "a.wpl" << wplHead + "<media tid=\"{1}\"/><media src=\"/a.mp3\"/></seq></body></smil>"
            << QStringList{"", "/a.mp3"};
        QTest::addRow("wpl broken XML after two entries")
            << "a.wpl" << wplHead + "<media src=\"/a.mp3\"/><media src=\"/b.mp3\"/><media src=\"/c.mp3\"></seq><media/>"
            << QStringList{"/a.mp3", "/b.mp3", "/c.mp3"};
    }

    void read()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QStringList, expected);

        const QString path = m_folder + QLatin1Char('/') + name;
        QVERIFY(testkit::touch(path, content));
        const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
        for (QString &entry : expected)
            entry = QDir::cleanPath(entry.replace(QStringLiteral("%P"), m_folder).replace(QStringLiteral("%M"), music));
        QDir::setCurrent(m_dir.path()); // never the playlist's folder by chance
        QCOMPARE(QStringList(TagLibBuilder().parsePlaylists(QFileInfo(path))), expected);
        // The scan hands over the file as it met it: through a relative path too.
        QDir::setCurrent(m_folder);
        QCOMPARE(QStringList(TagLibBuilder().parsePlaylists(QFileInfo(name))), expected);
        QFile::remove(path);
    }

    void badInputNeverCrashes_data()
    {
        QTest::addColumn<QString>("name");
        for (const char *suffix : {"m3u", "pls", "wpl"})
            QTest::newRow(suffix) << QStringLiteral("g.%1").arg(QLatin1String(suffix));
    }

    // Garbage bytes, a missing file and a directory named like a playlist.
    void badInputNeverCrashes()
    {
        QFETCH(QString, name);
        const QString path = m_folder + QLatin1Char('/') + name;
        QRandomGenerator random(7);
        for (int round = 0; round < 4; ++round) {
            QByteArray bytes(1 + random.bounded(20000), Qt::Uninitialized);
            for (char &b : bytes)
                b = char(random.bounded(256));
            // Line formats keep a good line among the garbage.
            const bool good = round % 2 && !name.endsWith(QLatin1String("wpl"));
            if (good)
                bytes.prepend("/a.mp3\nFile1=/a.mp3\n");
            QVERIFY(testkit::touch(path, bytes));
            const QList<QString> entries = TagLibBuilder().parsePlaylists(QFileInfo(path));
            for (const QString &entry : entries)
                QCOMPARE(entry, QDir::cleanPath(entry));
            QVERIFY(!good || entries.contains(QStringLiteral("/a.mp3")));
        }
        QFile::remove(path);
        QVERIFY(TagLibBuilder().parsePlaylists(QFileInfo(path)).isEmpty());
        const QString folder = m_dir.filePath(QStringLiteral("x.") + QFileInfo(name).suffix());
        QVERIFY(QDir().mkpath(folder + QStringLiteral("/inside.mp3")));
        QVERIFY(TagLibBuilder().parsePlaylists(QFileInfo(folder)).isEmpty());
    }

private:
    QTemporaryDir m_dir;
    QString m_folder; // where each playlist is written
};

CORVANE_TEST_MAIN(TestPlaylistReaders)
#include "tst_playlistreaders.moc"
