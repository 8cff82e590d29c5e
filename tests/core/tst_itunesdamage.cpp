#include <QtTest>

#include <sys/resource.h>

#include "core/logging.h"
#include "core/shared.h"
#include "core/taglibbuilder.h"
#include "core/track_data.h"
#include "ituneslibraryxml.h"
#include "libraryfixture.h"
#include "testenv.h"

using Xml = testkit::ItunesLibraryXml;

namespace {

// Peak memory of the process so far, in bytes.
qint64 peakMemory()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_maxrss) * 1024;
}

// "name:trackname,trackname|…" of what the reader returned.
QString summary(const QList<iTunedata> &playlists)
{
    QStringList lists;
    for (const iTunedata &playlist : playlists) {
        QStringList names;
        for (const track &t : playlist.tracks)
            names << (t.trackname.size() > 100 ? QStringLiteral("<%1 chars>").arg(t.trackname.size()) : t.trackname);
        lists << playlist.name + QLatin1Char(':') + names.join(QLatin1Char(','));
    }
    return lists.join(QLatin1Char('|'));
}

} // namespace

// iTunes library files no real library holds: values of absurd size and
// playlists with values of the wrong type.  The reader keeps what is sound,
// leaves out the rest with a log line, and its memory follows the library,
// not its largest value.
class TestItunesDamage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QDir().mkpath(shared::dataFolder());
        Logging::startRun();
        track_data::IsVideoSupported = false;
        for (const char *name : {"one.mp3", "two.mp3", "three.mp3"}) {
            const QString path = m_dir.filePath(QLatin1String(name));
            QVERIFY(testkit::touch(path, QByteArray("not read here")));
            m_songs << path;
        }
    }

    // Runs first, while the process's peak memory is still low: a value of
    // 64 MiB read whole would raise it by hundreds of MiB.
    void hugeValueLeftOutWithinBoundedMemory()
    {
        const QString path = m_dir.filePath(QStringLiteral("huge.xml"));
        QVERIFY(writeLibrary(path, QStringLiteral("Name"), QByteArray("<string>@</string>"), 64 * 1024 * 1024));
        const qint64 before = peakMemory();
        const QList<iTunedata> playlists = TagLibBuilder().parseiTunePlaylist(path);
        const qint64 grown = peakMemory() - before;
        QCOMPARE(summary(playlists), QStringLiteral("Road Trip:One,Unknown Song,Three"));
        QCOMPARE(playlists.first().tracks.at(1).artistName, QStringLiteral("Giant"));
        QVERIFY2(grown < 48 * 1024 * 1024, qPrintable(QStringLiteral("grew by %1 bytes").arg(grown)));
        // The artwork index reads the same file on its own.
        TagLibBuilder().parseiTuneCoverArt(path, QDir(m_dir.filePath(QStringLiteral("no artwork"))));
        QVERIFY(peakMemory() - before < 48 * 1024 * 1024);

        QFile log(shared::dataFolder() + QStringLiteral("/debug.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains("<string> value of 67108864 bytes at line"));
    }

    void oversizedParts_data()
    {
        QTest::addColumn<QString>("key");      // of the track whose value is made big
        QTest::addColumn<QByteArray>("value"); // its value element, with @ where the filler goes
        QTest::addColumn<qint64>("size");      // of the filler
        QTest::addColumn<QString>("expected");
        const qint64 text = TagLibBuilder::itunesTextLimit;
        const qint64 data = TagLibBuilder::itunesDataLimit;
        QTest::addRow("name of exactly the text cap kept")
            << "Name" << QByteArray("<string>@</string>") << text << "Road Trip:One,<65536 chars>,Three";
        QTest::addRow("name one byte over the text cap left out")
            << "Name" << QByteArray("<string>@</string>") << text + 1 << "Road Trip:One,Unknown Song,Three";
        QTest::addRow("name as a CDATA section over the cap")
            << "Name" << QByteArray("<string><![CDATA[@]]></string>") << text + 1 << "Road Trip:One,Unknown Song,Three";
        QTest::addRow("data value within its own cap")
            << "Artwork" << QByteArray("<data>@</data>") << data << "Road Trip:One,Two,Three";
        QTest::addRow("data value over its cap")
            << "Artwork" << QByteArray("<data>@</data>") << data + 1 << "Road Trip:One,Two,Three";
        QTest::addRow("comment over the cap")
            << "Comments" << QByteArray("<!--@--><string>c</string>") << data + 1 << "Road Trip:One,Two,Three";
        QTest::addRow("key over the cap: the key is nothing known")
            << "" << QByteArray("<key>@</key><string>Two again</string>") << text + 1 << "Road Trip:One,Two,Three";
        // A tag can't be left out whole: the file reads as cut short there.
        QTest::addRow("tag over the cap ends the reading")
            << "Kind" << QByteArray("<string a=\"@\">MPEG</string>") << data + 1 << "";
    }

    void oversizedParts()
    {
        QFETCH(QString, key);
        QFETCH(QByteArray, value);
        QFETCH(qint64, size);
        QFETCH(QString, expected);
        const QString path = m_dir.filePath(QStringLiteral("part.xml"));
        QVERIFY(writeLibrary(path, key, value, size));
        QCOMPARE(summary(TagLibBuilder().parseiTunePlaylist(path)), expected);
    }

    // A short value that names an entity declared in the file would expand,
    // reference by reference, far past the cap on what is read.
    void declaredEntitiesRefused()
    {
        const QString path = m_dir.filePath(QStringLiteral("entities.xml"));
        QVERIFY(writeLibrary(path, QStringLiteral("Comments"), QByteArray("<string>@</string>"), 0));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray xml = file.readAll();
        file.close();
        const qsizetype doctype = xml.indexOf("<!DOCTYPE");
        const qsizetype end = xml.indexOf('>', doctype) + 1;
        QVERIFY(doctype > 0 && end > doctype);
        xml.replace(doctype, end - doctype, "<!DOCTYPE plist [<!ENTITY e \"" + QByteArray(4000, 'x') + "\">]>");
        xml.replace("<string></string>", "<string>" + QByteArray("&e;").repeated(20000) + "</string>");
        QVERIFY(testkit::touch(path, xml));
        QCOMPARE(summary(TagLibBuilder().parseiTunePlaylist(path)), QString());
    }

    // A library cut anywhere (a copy that didn't finish) reads what came
    // before the cut, and at most that.
    void truncatedLibraryReadsWhatCameBefore()
    {
        const QString whole = m_dir.filePath(QStringLiteral("whole.xml"));
        QVERIFY(writeLibrary(whole, QString(), QByteArray(), 0));
        QFile file(whole);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray xml = file.readAll();
        const QString cut = m_dir.filePath(QStringLiteral("cut.xml"));
        for (qsizetype at = 0; at < xml.size(); at += 7) {
            QVERIFY(testkit::touch(cut, xml.left(at)));
            const QString read = summary(TagLibBuilder().parseiTunePlaylist(cut));
            QVERIFY2(QStringLiteral("Road Trip:One,Two,Three").startsWith(read), qPrintable(read));
        }
    }

    void malformedPlaylistStartsFromNothing_data()
    {
        // What replaces the first playlist's text (from its "Name" key to its
        // last item); the second playlist, "Next", names track 2.
        QTest::addColumn<QString>("broken");
        QTest::addColumn<QString>("expected");
        const QString item = QStringLiteral("<dict><key>Track ID</key><integer>1</integer></dict>");
        QTest::addRow("sound playlist") << "<key>Name</key><string>First</string><key>Playlist Items</key><array>" +
                                               item + "</array>"
                                        << "First:One|Next:Two";
        QTest::addRow("items in a dict instead of an array")
            << "<key>Name</key><string>First</string><key>Playlist Items</key><dict>" + item + "</dict>"
            << "Next:Two";
        QTest::addRow("Track ID right in the playlist")
            << "<key>Name</key><string>First</string><key>Track ID</key><integer>1</integer>"
            << "Next:Two";
        QTest::addRow("Track ID holding an array")
            << "<key>Name</key><string>First</string><key>Playlist Items</key><array><dict><key>Track ID</key>"
               "<array><integer>1</integer></array></dict>" +
                   item + "</array>"
            << "First:One|Next:Two";
        QTest::addRow("Track ID that is no number")
            << "<key>Name</key><string>First</string><key>Playlist Items</key><array><dict><key>Track ID</key>"
               "<string>one</string></dict></array>"
            << "Next:Two";
        QTest::addRow("name holding a dictionary: the playlist has none")
            << "<key>Name</key><dict><key>Track ID</key><integer>2</integer></dict><key>Playlist Items</key>"
               "<array>" +
                   item + "</array>"
            << ":One|Next:Two";
        QTest::addRow("nameless playlist doesn't take the name before it")
            << "<key>Playlist Items</key><array>" + item + "</array>"
            << "Earlier:Three|:One|Next:Two";
    }

    void malformedPlaylistStartsFromNothing()
    {
        QFETCH(QString, broken);
        QFETCH(QString, expected);
        Xml library;
        const QStringList names = {"One", "Two", "Three"};
        for (int i = 0; i < 3; ++i)
            library.addTrack(i + 1, {Xml::string(QStringLiteral("Name"), names.at(i)),
                                     Xml::string(QStringLiteral("Location"), Xml::localhostUrl(m_songs.at(i)))});
        if (expected.startsWith(QLatin1String("Earlier")))
            library.addPlaylist(QStringLiteral("Earlier"), {3});
        library.addPlaylist(QStringLiteral("Broken"), {1});
        library.addPlaylist(QStringLiteral("Next"), {2});
        QString xml = QString::fromUtf8(library.toXml());
        const qsizetype from = xml.indexOf(QLatin1String("<key>Name</key><string>Broken</string>"));
        const qsizetype to = xml.indexOf(QLatin1String("</array>"), from) + 8;
        QVERIFY(from > 0 && to > from);
        xml.replace(from, to - from, broken);
        const QString path = m_dir.filePath(QStringLiteral("playlists.xml"));
        QVERIFY(testkit::touch(path, xml.toUtf8()));
        QCOMPARE(summary(TagLibBuilder().parseiTunePlaylist(path)), expected);
    }

    // Dictionaries nested far deeper than any library: the reading ends at
    // the depth cap, gives what came before and says why.  The file is made
    // here, a few megabytes of nesting.
    void deepNestingIsDamage_data()
    {
        QTest::addColumn<QString>("key");       // added to the second track, or ""
        QTest::addColumn<QByteArray>("marker"); // the nesting goes right after its last match
        QTest::addColumn<QString>("expected");
        QTest::addRow("among the tracks: no playlist yet")
            << "Nested" << QByteArray("<key>Nested</key>") << QString();
        // The tracks came before the damage, and so did two of the items.
        QTest::addRow("in a playlist's items: the items before it kept")
            << "" << QByteArray("<key>Track ID</key><integer>2</integer>") << QStringLiteral("Road Trip:One,Two");
    }

    void deepNestingIsDamage()
    {
        QFETCH(QString, key);
        QFETCH(QByteArray, marker);
        QFETCH(QString, expected);
        const QString path = m_dir.filePath(QStringLiteral("nested.xml"));
        QVERIFY(writeLibrary(path, key, QByteArray("@"), 0));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray xml = file.readAll();
        file.close();
        const int levels = 1000000;
        const qsizetype at = xml.lastIndexOf(marker);
        QVERIFY(at > 0);
        xml.insert(at + marker.size(), QByteArray("<dict>").repeated(levels) + QByteArray("</dict>").repeated(levels));
        QVERIFY(testkit::touch(path, xml));
        QString problem;
        QCOMPARE(summary(TagLibBuilder().parseiTunePlaylist(path, {}, nullptr, &problem)), expected);
        QVERIFY2(problem.startsWith(QStringLiteral("the iTunes library file is damaged: at line ")) &&
                     problem.contains(QStringLiteral("nest more than %1 deep").arg(TagLibBuilder::itunesDepthLimit)),
                 qPrintable(problem));
        // A sound library says nothing.
        QVERIFY(writeLibrary(path, QString(), QByteArray(), 0));
        QCOMPARE(summary(TagLibBuilder().parseiTunePlaylist(path, {}, nullptr, &problem)),
                 QStringLiteral("Road Trip:One,Two,Three"));
        QCOMPARE(problem, QString());
    }

    // Reading a large library is reported track by track, before the import
    // starts: the browser shows the count meanwhile.
    void tracksReadAreReported()
    {
        Xml library;
        for (int i = 0; i < 3; ++i)
            library.addTrack(i + 1, {Xml::string(QStringLiteral("Location"), Xml::localhostUrl(m_songs.at(i)))});
        library.addTrack(4, {Xml::string(QStringLiteral("Location"), Xml::localhostUrl(m_dir.filePath("gone.mp3")))});
        library.addPlaylist(QStringLiteral("Music"), {1, 2, 3, 4});
        const QString path = m_dir.filePath(QStringLiteral("counted.xml"));
        QVERIFY(library.write(path));
        QStringList reports;
        TagLibBuilder().parseiTunePlaylist(path, [&reports](int read, const QString &file) {
            reports << QStringLiteral("%1 %2").arg(read).arg(QFileInfo(file).fileName());
        });
        QCOMPARE(reports, QStringList({"1 one.mp3", "2 two.mp3", "3 three.mp3"}));
    }

private:
    // A library of three tracks in the playlist "Road Trip"; the second
    // track ("Two" by "Giant") carries, after its name, `key` with `value`, whose "@" is replaced by
    // `size` bytes of filler, written in pieces so that the test itself
    // never holds the value.
    bool writeLibrary(const QString &path, const QString &key, QByteArray value, qint64 size)
    {
        Xml library;
        library.addTrack(1, {Xml::string(QStringLiteral("Name"), QStringLiteral("One")),
                             Xml::string(QStringLiteral("Location"), Xml::localhostUrl(m_songs.at(0)))});
        library.addTrack(2, {Xml::string(QStringLiteral("Name"), QStringLiteral("Two")),
                             Xml::string(QStringLiteral("Artist"), QStringLiteral("Giant")),
                             Xml::string(QStringLiteral("Marker"), QStringLiteral("@@@")),
                             Xml::string(QStringLiteral("Location"), Xml::localhostUrl(m_songs.at(1)))});
        library.addTrack(3, {Xml::string(QStringLiteral("Name"), QStringLiteral("Three")),
                             Xml::string(QStringLiteral("Location"), Xml::localhostUrl(m_songs.at(2)))});
        library.addPlaylist(QStringLiteral("Road Trip"), {1, 2, 3});
        QByteArray xml = library.toXml();
        const QByteArray marker("<key>Marker</key><string>@@@</string>");
        const qsizetype at = xml.indexOf(marker);
        if (at < 0)
            return false;
        const QByteArray keyElement = key.isEmpty() ? QByteArray() : "<key>" + key.toUtf8() + "</key>";
        const qsizetype fill = value.indexOf('@');
        const QByteArray head = xml.left(at) + keyElement + value.left(fill);
        const QByteArray tail = value.mid(fill + 1) + xml.mid(at + marker.size());

        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(head) != head.size())
            return false;
        const QByteArray piece(1024 * 1024, 'x');
        for (qint64 left = size; left > 0; left -= piece.size()) {
            const qint64 n = std::min<qint64>(left, piece.size());
            if (file.write(piece.constData(), n) != n)
                return false;
        }
        return file.write(tail) == tail.size();
    }

    QTemporaryDir m_dir;
    QStringList m_songs; // one.mp3, two.mp3, three.mp3 (the reader looks only at their names)
};

CORVANE_TEST_MAIN(TestItunesDamage)
#include "tst_itunesdamage.moc"
