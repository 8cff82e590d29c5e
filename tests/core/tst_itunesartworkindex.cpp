#include <QtTest>

#include <QStandardPaths>

#include "core/taglibbuilder.h"
#include "libraryfixture.h"
#include "testenv.h"

// The iTunes artwork index: album -> persistent id of a track with a cache file.
class TestItunesArtworkIndex : public QObject
{
    Q_OBJECT

private slots:
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
};

CORVANE_TEST_MAIN(TestItunesArtworkIndex)
#include "tst_itunesartworkindex.moc"
