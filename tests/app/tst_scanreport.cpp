#include <QtTest>

#include <QSemaphore>

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

#include "app/mediabrowser.h"
#include "core/taglibbuilder.h"
#include "core/track_data.h"
#include "database/database.h"
#include "ituneslibraryxml.h"
#include "libraryfixture.h"
#include "mediakit.h"
#include "testenv.h"

// What a scan tells about its work: the files a folder scan could not take
// are each named, with the reason, at its end (files it takes and files no
// one would call media are not); the count of files read moves from the
// start, for every source.

Q_DECLARE_METATYPE(track_data::NotTaken)

using testkit::ItunesLibraryXml;

namespace {

// What the test made under names Qt can't reach (nor QTemporaryDir remove).
QList<QByteArray> &madeNatively()
{
    static QList<QByteArray> made;
    return made;
}

// A file or folder under a name that is not valid UTF-8: "<stem>\xE9<suffix>".
QString makeUndecodable(const QString &folder, const QByteArray &stem, const QByteArray &suffix,
                        const QString &copyOf = QString())
{
    const QByteArray native = QFile::encodeName(folder) + '/' + stem + '\xE9' + suffix;
    const QString copy = folder + QStringLiteral("/copy.tmp");
    const bool made = copyOf.isEmpty() ? ::mkdir(native.constData(), 0755) == 0
                                       : QFile::copy(copyOf, copy) &&
                                             ::rename(QFile::encodeName(copy).constData(), native.constData()) == 0;
    if (!made)
        return QString();
    madeNatively().append(native);
    return QFile::decodeName(native);
}

QStringList sortedLines(const QString &text)
{
    QStringList lines = text.split(QLatin1Char('\n'));
    std::sort(lines.begin() + 1, lines.end());
    return lines;
}

} // namespace

class TestScanReport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(db.connect(QStringLiteral("RuvoData"), true));
        db.create();
        kit = testkit::testHome() + QStringLiteral("/kit");
        testkit::MediaKit make(kit);
        const testkit::MediaTags tags{"Song", "Band", "Blue Hour", "", "", 0, 0};
        song = make.mp3(QStringLiteral("song.mp3"), tags, QString(), 8);
        QVERIFY2(!song.isEmpty(), qPrintable(make.lastError()));
    }

    void init()
    {
        QVERIFY(folder.isValid());
        controller = std::make_unique<manager>(nullptr, nullptr);
        controller->mediaBrowser->chooseFolder = [this] { return scanned; };
    }

    void cleanup() { controller.reset(); }

    void cleanupTestCase()
    {
        for (const QByteArray &native : std::as_const(madeNatively())) {
            if (::unlink(native.constData()) != 0)
                ::rmdir(native.constData());
        }
    }

    void namedWithTheirReasons()
    {
        scanned = folder.filePath(QStringLiteral("hostile"));
        QVERIFY(QDir().mkpath(scanned));
        const QString in = scanned + QLatin1Char('/');
        QVERIFY(QFile::copy(song, in + QStringLiteral("Good.mp3")));
        // Text under an MP3 name, past the size every media file has.
        QVERIFY(testkit::touch(in + QStringLiteral("Fake.mp3"), QByteArray("not music ").repeated(20000)));
        QVERIFY(QFile::link(in + QStringLiteral("nowhere.mp3"), in + QStringLiteral("Gone.mp3")));
        QCOMPARE(::mkfifo(QFile::encodeName(in + QStringLiteral("Pipe.mp3")).constData(), 0644), 0);
        QCOMPARE(::mkfifo(QFile::encodeName(in + QStringLiteral("Pipe.m3u")).constData(), 0644), 0);
        const QString undecodable = makeUndecodable(scanned, "Caf", ".mp3", song);
        const QString undecodableFolder = makeUndecodable(scanned, "Live ", "");
        QVERIFY(!undecodable.isEmpty() && !undecodableFolder.isEmpty());
        QVERIFY(!makeUndecodable(scanned, "Notes ", ".txt", song).isEmpty());
        // Not worth a word: another kind of file, and one below the media
        // size rule.
        QVERIFY(testkit::touch(in + QStringLiteral("notes.txt"), QByteArray(200000, 'n')));
        QVERIFY(testkit::touch(in + QStringLiteral("tiny.mp3"), QByteArray(1000, 't')));

        const QStringList messages = scan();
        QCOMPARE(controller->browserTracks.size(), 1);
        QCOMPARE(controller->browserTracks.first().filepath, in + QStringLiteral("Good.mp3"));
        QCOMPARE(messages.size(), 1);
        QCOMPARE(
            sortedLines(messages.first()),
            sortedLines(
                QStringList({QStringLiteral("5 files and the files of 1 folder could not be shown in the browser:"),
                             in + QStringLiteral("Fake.mp3: the file is damaged or not a media file"),
                             in + QStringLiteral("Gone.mp3: it is a link to a file that is not there"),
                             in + QStringLiteral("Pipe.mp3: it is not a regular file"),
                             in + QStringLiteral("Pipe.m3u: it is not a regular file"),
                             undecodable + ": the name is not valid UTF-8 text (renaming the file lets it be added)",
                             undecodableFolder + ": the folder's name is not valid UTF-8 text, so its files were "
                                                 "not read (renaming it lets them be added)"})
                    .join(QLatin1Char('\n'))));
    }

    void cleanScanSaysNothing()
    {
        scanned = folder.filePath(QStringLiteral("clean"));
        QVERIFY(QDir().mkpath(scanned));
        QVERIFY(QFile::copy(song, scanned + QStringLiteral("/Good.mp3")));
        QVERIFY(scan().isEmpty());
        QCOMPARE(controller->browserTracks.size(), 1);
    }

    // Only a user without the right to read: root reads every file.
    void unreadableFileGivesTheSystemsReason()
    {
        if (::geteuid() == 0)
            QSKIP("Running as root, which reads a file of any permissions");
        scanned = folder.filePath(QStringLiteral("locked"));
        QVERIFY(QDir().mkpath(scanned));
        const QString locked = scanned + QStringLiteral("/Locked.mp3");
        QVERIFY(QFile::copy(song, locked));
        QVERIFY(QFile::setPermissions(locked, QFileDevice::Permissions()));
        const QString lockedFolder = scanned + QStringLiteral("/Locked");
        QVERIFY(QDir().mkpath(lockedFolder) && QFile::copy(song, lockedFolder + QStringLiteral("/In.mp3")));
        QVERIFY(QFile::setPermissions(lockedFolder, QFileDevice::Permissions()));
        const QStringList messages = scan();
        QFile::setPermissions(lockedFolder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QCOMPARE(messages.size(), 1);
        QCOMPARE(sortedLines(messages.first()),
                 sortedLines("1 file and the files of 1 folder could not be shown in the browser:\n" + locked +
                             ": the file cannot be read (Permission denied)\n" + lockedFolder +
                             ": the folder cannot be read (Permission denied), so its files were not read"));
    }

    // Files reached only through a playlist count as read too: the browser's
    // count moves while they are read.
    void playlistEntriesAreCounted()
    {
        scanned = folder.filePath(QStringLiteral("lists"));
        QVERIFY(QDir().mkpath(scanned));
        QVERIFY(testkit::touch(scanned + QStringLiteral("/Road Trip.m3u"), (song + '\n' + song + '\n').toUtf8()));
        track_data scanner;
        QStringList reports;
        scanner.fileReadHook = [&reports](int read, const QString &path) {
            reports << QStringLiteral("%1 %2").arg(read).arg(path);
        };
        QCOMPARE(scanner.searchfile(QDir(scanned)).size(), 2);
        QCOMPARE(reports, QStringList({"1 " + song, "2 " + song}));
    }

    // The iTunes source counts the library file's tracks while it reads the
    // file, before the import takes up the first of them, and names the
    // files the library lists that are gone.
    void itunesLibraryReadingIsCountedAndGoneFilesNamed()
    {
        const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
        QVERIFY(QDir().mkpath(music + QStringLiteral("/iTunes")));
        ItunesLibraryXml library;
        for (int id : {1, 2}) {
            const QString copy = music + QStringLiteral("/%1.mp3").arg(id);
            QVERIFY(QFile::exists(copy) || QFile::copy(song, copy));
            library.addTrack(id, {ItunesLibraryXml::string(QStringLiteral("Location"), library.localhostUrl(copy))});
        }
        // Moved away since iTunes last saw it.
        const QString gone = music + QStringLiteral("/Moved/3.mp3");
        library.addTrack(3, {ItunesLibraryXml::string(QStringLiteral("Location"), library.localhostUrl(gone))});
        library.addPlaylist(QStringLiteral("Music"), {1, 2, 3});
        QVERIFY(library.write(MediaBrowser::itunesLibraryPath()));

        // The import waits at its first file until the test has seen the count.
        QSemaphore importing, resume;
        const auto report = controller->scanner.fileReadHook;
        controller->scanner.fileReadHook = [&importing, &resume, report](int read, const QString &path) {
            importing.release();
            resume.acquire();
            report(read, path);
        };
        QSignalSpy progress(controller.get(), &manager::updateProgressSearch);
        QSignalSpy published(controller.get(), &manager::sgRefreshBrowser);
        QSignalSpy shown(controller.get(), &manager::showMessageBox);
        controller->searchInMediaSourceCache(QStringLiteral("itunes"));
        QVERIFY(importing.tryAcquire(1, 30000));
        const auto counted = [&progress, &music] {
            return std::any_of(progress.cbegin(), progress.cend(), [&music](const QList<QVariant> &r) {
                return r.at(1).value<QVariant>().toInt() >= 1 && r.at(2).value<QVariant>().toString().startsWith(music);
            });
        };
        const bool seen = QTest::qWaitFor(counted, 30000);
        resume.release(10);
        QVERIFY(seen);
        QTRY_VERIFY_WITH_TIMEOUT(published.size() >= 1 && !controller->mediaBrowser->isBuilding(), 30000);
        QCOMPARE(controller->browserTracks.size(), 2);
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.first().first().value<QVariant>().toString(),
                 "3.mp3 could not be shown in the browser:\n" + gone + ": the file is not there");
    }

    // An iTunes library file that can't be read to its end shows what came
    // before the damage (here nothing: the damage is among the tracks) and
    // names the file with the reason: what replaces the second track's name
    // element (or "cut": the file ends before it; "nested": dictionaries in
    // its place; "entity": an entity the file declares), and the reason up
    // to its line number.
    void damagedItunesLibraryIsNamed_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("reason");
        const QString damaged = QStringLiteral("the iTunes library file is damaged at line ");
        QTest::addRow("a control byte in a name")
            << QStringLiteral("<string>T\x01wo</string>") << damaged + "23 (unexpected character U+0001)";
        QTest::addRow("an entity of four thousand letters") << "entity" << damaged;
        QTest::addRow("a file cut off") << "cut" << damaged;
        QTest::addRow("a tag longer than any real one")
            << "<string a=\"" + QString(int(TagLibBuilder::itunesDataLimit), 'a') + "\">Two</string>"
            << "the iTunes library file is damaged: a tag at line ";
        // Nested far past any real library: the reading stops at the cap, so
        // its memory can't follow the nesting.
        QTest::addRow("dictionaries nested a million deep") << "nested"
                                                            << "the iTunes library file is damaged: at line ";
    }

    void damagedItunesLibraryIsNamed()
    {
        QFETCH(QString, damage);
        QFETCH(QString, reason);
        const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
        QVERIFY(QDir().mkpath(music + QStringLiteral("/iTunes")));
        ItunesLibraryXml library;
        for (int id : {1, 2}) {
            const QString copy = music + QStringLiteral("/%1.mp3").arg(id);
            QVERIFY(QFile::exists(copy) || QFile::copy(song, copy));
            library.addTrack(id, {ItunesLibraryXml::string(QStringLiteral("Name"), id == 1 ? "One" : "Two"),
                                  ItunesLibraryXml::string(QStringLiteral("Location"), library.localhostUrl(copy))});
        }
        library.addPlaylist(QStringLiteral("Music"), {1, 2});
        QByteArray xml = library.toXml();
        const QByteArray name("<string>Two</string>");
        const qsizetype at = xml.indexOf(name);
        QVERIFY(at > 0);
        if (damage == QLatin1String("cut")) {
            xml.truncate(at);
        } else if (damage == QLatin1String("entity")) {
            xml.replace(at, name.size(), "<string>&e;</string>");
            const qsizetype doctype = xml.indexOf("<!DOCTYPE");
            const qsizetype end = xml.indexOf('>', doctype) + 1;
            QVERIFY(doctype > 0 && end > doctype);
            xml.replace(doctype, end - doctype, "<!DOCTYPE plist [<!ENTITY e \"" + QByteArray(4000, 'e') + "\">]>");
        } else if (damage == QLatin1String("nested")) {
            xml.replace(at, name.size(),
                        QByteArray("<dict>").repeated(1000000) + QByteArray("</dict>").repeated(1000000));
        } else {
            xml.replace(at, name.size(), damage.toUtf8());
        }
        const QString path = MediaBrowser::itunesLibraryPath();
        QVERIFY(testkit::touch(path, xml));

        // Asked for again, it is read again and named again.
        for (int request = 1; request <= 2; ++request) {
            QSignalSpy shown(controller.get(), &manager::showMessageBox);
            QSignalSpy published(controller.get(), &manager::sgRefreshBrowser);
            controller->searchInMediaSourceCache(QStringLiteral("itunes"));
            QTRY_VERIFY_WITH_TIMEOUT(published.size() >= 1 && !controller->mediaBrowser->isBuilding(), 30000);
            QVERIFY(controller->browserTracks.isEmpty());
            QCOMPARE(shown.size(), 1);
            const QString message = shown.first().first().value<QVariant>().toString();
            const QString head =
                "Part of the iTunes library could not be shown in the browser:\n" + path + ": " + reason;
            QVERIFY2(message.startsWith(head) && message.size() < head.size() + 200, qPrintable(message));
            // Whatever the file holds, the message holds no character that
            // breaks or hides a line but its own line break.
            QVERIFY2(std::none_of(message.cbegin(), message.cend(),
                                  [](QChar c) { return c != QLatin1Char('\n') && c.category() == QChar::Other_Control; }),
                     qPrintable(message));
            if (damage == QLatin1String("nested"))
                QVERIFY2(
                    message.contains(QStringLiteral("nest more than %1 deep").arg(TagLibBuilder::itunesDepthLimit)),
                    qPrintable(message));
        }
    }

    // A playlist's entries that name no file to take are told, one line
    // per playlist and reason; the entries that name songs are taken.
    void playlistEntriesNotTakenAreNamed_data()
    {
        // "name=entry,entry": %S the song, %F the folder scanned, %O a folder outside it
        QTest::addColumn<QStringList>("lists");
        QTest::addColumn<int>("taken");
        QTest::addColumn<QStringList>("expected"); // %F the folder scanned
        const QString head = QStringLiteral(" could not be shown in the browser:");
        QTest::addRow("files that are not there")
            << QStringList{"Road Trip.m3u=%S,%F/gone.mp3,%F/Moved/also gone.flac"} << 1
            << QStringList{"2 entries of the playlist Road Trip.m3u" + head,
                           "%F/Road Trip.m3u: 2 entries name files that are not there"};
        QTest::addRow("a folder") << QStringList{"Road Trip.m3u=%F/Albums,%S"} << 1
                                  << QStringList{"1 entry of the playlist Road Trip.m3u" + head,
                                                 "%F/Road Trip.m3u: 1 entry names a folder, not a file"};
        QTest::addRow("a FIFO and a device")
            << QStringList{"Road Trip.m3u=%O/pipe.mp3,/dev/null"} << 0
            << QStringList{"2 entries of the playlist Road Trip.m3u" + head,
                           "%F/Road Trip.m3u: 2 entries name things that are not regular files (pipes or devices)"};
        QTest::addRow("the playlist itself") << QStringList{"Road Trip.m3u=%S,Road Trip.m3u"} << 1
                                             << QStringList{"1 entry of the playlist Road Trip.m3u" + head,
                                                            "%F/Road Trip.m3u: 1 entry names the playlist itself"};
        QTest::addRow("grouped per playlist and reason")
            << QStringList{"A.m3u=%F/gone.mp3,%F/Albums,%F/gone2.mp3", "B.pls=[playlist],File1=%F/gone.mp3,File2=%S"}
            << 1
            << QStringList{"4 playlist entries" + head, "%F/A.m3u: 2 entries name files that are not there",
                           "%F/A.m3u: 1 entry names a folder, not a file",
                           "%F/B.pls: 1 entry names a file that is not there"};
    }

    void playlistEntriesNotTakenAreNamed()
    {
        QFETCH(QStringList, lists);
        QFETCH(int, taken);
        QFETCH(QStringList, expected);
        scanned = folder.filePath(QStringLiteral("entries/%1").arg(QTest::currentDataTag()));
        QVERIFY(QDir().mkpath(scanned + QStringLiteral("/Albums")));
        // Outside: the walk would name it on its own.
        const QString outside = folder.filePath(QStringLiteral("outside"));
        QVERIFY(QDir().mkpath(outside));
        const QByteArray pipe = QFile::encodeName(outside + QStringLiteral("/pipe.mp3"));
        QVERIFY(QFileInfo::exists(QFile::decodeName(pipe)) || ::mkfifo(pipe.constData(), 0644) == 0);
        for (const QString &list : std::as_const(lists)) {
            const QString name = list.section(QLatin1Char('='), 0, 0);
            QString entries = list.section(QLatin1Char('='), 1);
            entries.replace(QStringLiteral("%S"), song)
                .replace(QStringLiteral("%F"), scanned)
                .replace(QStringLiteral("%O"), outside);
            QVERIFY(testkit::touch(scanned + QLatin1Char('/') + name,
                                   entries.split(QLatin1Char(',')).join(QLatin1Char('\n')).toUtf8()));
        }
        const QStringList messages = scan();
        QCOMPARE(controller->browserTracks.size(), taken);
        QCOMPARE(messages.size(), 1);
        QCOMPARE(sortedLines(messages.first()), sortedLines(expected.join(QLatin1Char('\n')).replace("%F", scanned)));
    }

    // The first line of the message names the one thing not taken, or
    // counts each kind; no control character of a name reaches the text.
    void messageHead_data()
    {
        using Item = track_data::NotTaken;
        QTest::addColumn<QList<Item>>("items");
        QTest::addColumn<QString>("expected");
        const Item file{"/m/Fake.mp3", "the file is damaged or not a media file", Item::File, 0};
        const Item unread{"/m/Live", "the folder cannot be read (Permission denied), so its files were not read",
                          Item::Folder, 0};
        const Item entries{"/m/Trip.m3u", "3 entries name files that are not there", Item::PlaylistEntries, 3};
        const Item library{"/m/iTunes Music Library.xml", "the iTunes library file is damaged", Item::Library, 0};
        QTest::addRow("one file, by name") << QList<Item>{file}
                                           << "Fake.mp3 could not be shown in the browser:\n/m/Fake.mp3: the file "
                                              "is damaged or not a media file";
        QTest::addRow("one folder, by name")
            << QList<Item>{unread}
            << "The files of the folder Live could not be shown in the browser:\n/m/Live: " + unread.reason;
        QTest::addRow("one playlist's entries")
            << QList<Item>{entries}
            << "3 entries of the playlist Trip.m3u could not be shown in the browser:\n/m/Trip.m3u: " + entries.reason;
        QTest::addRow("each kind counted")
            << QList<Item>{file, file, unread, entries, library}
            << "2 files, the files of 1 folder, 3 playlist entries and part of the iTunes library could not be shown "
               "in the browser:\n/m/Fake.mp3: " +
                   file.reason + "\n/m/Fake.mp3: " + file.reason + "\n/m/Live: " + unread.reason +
                   "\n/m/Trip.m3u: " + entries.reason + "\n/m/iTunes Music Library.xml: " + library.reason;
        QTest::addRow("control characters in a name written out")
            << QList<Item>{{QStringLiteral("/m/a\x01" "b\nc.mp3"), "the file is damaged or not a media file",
                            Item::File, 0}}
            << "a\\x01b\\x0ac.mp3 could not be shown in the browser:\n/m/a\\x01b\\x0ac.mp3: the file is damaged or "
               "not a media file";
    }

    void messageHead()
    {
        QFETCH(QList<track_data::NotTaken>, items);
        QFETCH(QString, expected);
        QCOMPARE(MediaBrowser::notTakenMessage(items), expected);
    }

private:
    // Scans `scanned` as "browse" does and returns the messages shown.
    QStringList scan()
    {
        QSignalSpy shown(controller.get(), &manager::showMessageBox);
        QSignalSpy published(controller.get(), &manager::sgRefreshBrowser);
        controller->searchInMediaSourceCache(QStringLiteral("browse"));
        [&] { QTRY_VERIFY_WITH_TIMEOUT(published.size() >= 1 && !controller->mediaBrowser->isBuilding(), 30000); }();
        QStringList messages;
        for (const QList<QVariant> &message : std::as_const(shown))
            messages << message.first().value<QVariant>().toString();
        return messages;
    }

    Database db;
    QTemporaryDir folder;
    QString kit;
    QString song;    // an 8 s MP3
    QString scanned; // the folder "browse" picks
    std::unique_ptr<manager> controller;
};

CORVANE_TEST_MAIN(TestScanReport)
#include "tst_scanreport.moc"
