#include <QtTest>

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "core/taglibbuilder.h"
#include "testenv.h"

// The iTunes artwork index: album -> persistent id of a track with a cache file.
class TestItunesArtworkIndex : public QObject
{
    Q_OBJECT

private slots:
    void cacheFileIds_data();
    void cacheFileIds();
    void index_data();
    void index();
    void noLibraryFile();

private:
    static QString trackDict(const QString &album, const QString &id);
    static void writeFile(const QString &path, const QByteArray &bytes);
};

QString TestItunesArtworkIndex::trackDict(const QString &album, const QString &id)
{
    QString dict = QStringLiteral("<key>1</key><dict><key>Track ID</key><integer>1</integer>"
                                  "<key>Name</key><string>Song</string>");
    if (!album.isNull())
        dict += QStringLiteral("<key>Album</key><string>%1</string>").arg(album.toHtmlEscaped());
    if (!id.isNull())
        dict += QStringLiteral("<key>Persistent ID</key><string>%1</string>").arg(id);
    return dict + QStringLiteral("<key>Compilation</key><true/></dict>\n");
}

void TestItunesArtworkIndex::writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

void TestItunesArtworkIndex::cacheFileIds_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("expected");
    QTest::addRow("first part, hyphen, id") << QStringList{"0A1B-6C08B3E9D4D50F3A.itc2"} << QStringList{"6C08B3E9D4D50F3A"};
    QTest::addRow("suffix in any case") << QStringList{"X-Y.ITC2", "P-Q.Itc"} << QStringList{"Q", "Y"};
    QTest::addRow("backup suffix ignored") << QStringList{"X-Y.itc2.bak"} << QStringList();
    QTest::addRow("other files ignored") << QStringList{"X-Y.png", "X-Y"} << QStringList();
    QTest::addRow("no hyphen gives the suffix") << QStringList{"ABC.itc"} << QStringList{"itc"};
    QTest::addRow("dot before hyphen") << QStringList{"A.B-C.itc2"} << QStringList{"B"};
    QTest::addRow("tab splits") << QStringList{"A\tB-C.itc"} << QStringList{"B"};
    QTest::addRow("empty part kept") << QStringList{"-Z.itc"} << QStringList{"Z"};
    QTest::addRow("sub-folders walked") << QStringList{"11/02/X-S1.itc2", "12/X-S2.itc2"} << QStringList{"S1", "S2"};
    QTest::addRow("hidden file not visited") << QStringList{".X-H.itc2"} << QStringList();
    QTest::addRow("folder with cache suffix skipped") << QStringList{"D-F.itc2/X-G.itc2"} << QStringList{"G"};
}

void TestItunesArtworkIndex::cacheFileIds()
{
    QFETCH(QStringList, files);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    for (const QString &name : files)
        writeFile(dir.filePath(name), "x");
    QList<QString> ids = TagLibBuilder().SearchiTineArts(QDir(dir.path()), {QStringLiteral("kept")});
    QCOMPARE(ids.takeFirst(), QStringLiteral("kept"));
    ids.sort(); // the walk's order depends on the file system
    QCOMPARE(QStringList(ids), expected);
}

void TestItunesArtworkIndex::index_data()
{
    QTest::addColumn<QString>("tracks");      // the body of the "Tracks" dictionary
    QTest::addColumn<QString>("afterTracks"); // what follows it in the top dictionary
    QTest::addColumn<QStringList>("cached");  // ids with a cache file
    QTest::addColumn<QStringList>("expected"); // "album=id", sorted by album

    QTest::addRow("one track") << trackDict("Alpha", "AAA1") << "" << QStringList{"AAA1"} << QStringList{"Alpha=AAA1"};
    QTest::addRow("later id of an album wins")
        << trackDict("Alpha", "AAA1") + trackDict("Alpha", "AAA2") << "" << QStringList{"AAA1", "AAA2"}
        << QStringList{"Alpha=AAA2"};
    QTest::addRow("track without cache file never replaces")
        << trackDict("Alpha", "AAA1") + trackDict("Alpha", "AAA2") << "" << QStringList{"AAA1"}
        << QStringList{"Alpha=AAA1"};
    QTest::addRow("name cleaned") << trackDict("  Greatest Hits (Live) ", "B1") << "" << QStringList{"B1"}
                                  << QStringList{"Greatest Hits Live=B1"};
    QTest::addRow("non-Latin album kept") << trackDict("Кино", "K1") << "" << QStringList{"K1"}
                                          << QStringList{"Кино=K1"};
    QTest::addRow("empty after cleaning") << trackDict("(...)", "C1") << "" << QStringList{"C1"} << QStringList();
    QTest::addRow("no album") << trackDict(QString(), "C1") << "" << QStringList{"C1"} << QStringList();
    QTest::addRow("no persistent id") << trackDict("Alpha", QString()) << "" << QStringList{"C1"} << QStringList();
    QTest::addRow("id in another letter case") << trackDict("Alpha", "abc1") << "" << QStringList{"ABC1"}
                                               << QStringList();
    QTest::addRow("values do not leak into the next track")
        << trackDict("Alpha", QString()) + trackDict(QString(), "D1") << "" << QStringList{"D1"} << QStringList();
    QTest::addRow("keys after Playlists ignored")
        << trackDict("Alpha", "E1")
        << "<key>Playlists</key><array><dict><key>Album</key><string>Late</string>"
           "<key>Persistent ID</key><string>E2</string></dict></array>"
        << QStringList{"E1", "E2"} << QStringList{"Alpha=E1"};
    QTest::addRow("value separated from its key is not read")
        << "<key>1</key><dict><key>Album</key> <string>Spaced</string>"
           "<key>Persistent ID</key><string>F1</string></dict>"
        << "" << QStringList{"F1"} << QStringList{"-2=F1"};
    QTest::addRow("broken XML keeps what came before")
        << trackDict("Alpha", "G1") + "<key>2</key><dict><key>Album</key><string>Beta</strin></dict>"
        << "" << QStringList{"G1"} << QStringList{"Alpha=G1"};
}

void TestItunesArtworkIndex::index()
{
    QFETCH(QString, tracks);
    QFETCH(QString, afterTracks);
    QFETCH(QStringList, cached);
    QFETCH(QStringList, expected);

    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    QVERIFY(music.startsWith(testkit::testHome()));
    QDir(music + QStringLiteral("/iTunes")).removeRecursively();
    const QString library =
        QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST 1.0//EN\" "
                       "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                       "<plist version=\"1.0\">\n<dict>\n"
                       "<key>Major Version</key><integer>1</integer>\n"
                       "<key>Library Persistent ID</key><string>LIB1</string>\n"
                       "<key>Tracks</key>\n<dict>\n%1</dict>\n%2</dict>\n</plist>\n")
            .arg(tracks, afterTracks);
    writeFile(music + QStringLiteral("/iTunes/iTunes Music Library.xml"), library.toUtf8());
    int n = 0;
    for (const QString &id : cached)
        writeFile(music + QStringLiteral("/iTunes/Album Artwork/Cache/%1/0F0F-%2.itc2").arg(++n).arg(id), "x");

    const QMap<QString, QString> index = TagLibBuilder().parseiTuneCoverArtStartup();
    QStringList actual;
    for (auto it = index.cbegin(); it != index.cend(); ++it)
        actual << it.key() + QLatin1Char('=') + it.value();
    QCOMPARE(actual, expected);
}

void TestItunesArtworkIndex::noLibraryFile()
{
    QTemporaryDir dir;
    writeFile(dir.filePath("Art/X-A1.itc2"), "x");
    QTest::ignoreMessage(QtDebugMsg, "Load XML File Problem.");
    QVERIFY(TagLibBuilder().parseiTuneCoverArt(dir.filePath("missing.xml"), QDir(dir.filePath("Art"))).isEmpty());
}

CORVANE_TEST_MAIN(TestItunesArtworkIndex)
#include "tst_itunesartworkindex.moc"
