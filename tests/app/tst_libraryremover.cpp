#include <QtTest>

#include "app/albumdatamodel.h"
#include "app/libraryremover.h"
#include "app/manager.h"
#include "app/messagehandler.h"
#include "core/workguard.h"
#include "database/ruvodb.h"
#include "delivery/videoencoding.h"
#include "libraryfixture.h"
#include "testenv.h"

using namespace testkit;

// REMOVE and TRANSFER on the library's ticked rows: what each view removes or
// hands over, that only the library's own copies and emptied folders are
// deleted, and the messages when nothing is ticked.
class TestLibraryRemover : public QObject
{
    Q_OBJECT

private slots:
    void cleanupTestCase() { forgetLibrary(); }
    void init()
    {
        QVERIFY(openLibrary());
        QDir(ruvoDB::programCopyFolder()).removeRecursively();
        QDir(outside(QString())).removeRecursively();
        // Two songs of "Album", a podcast, an audiobook and a video sharing its
        // album, a song outside the library folder, and a playlist entry that
        // uses the second song's file.
        const QList<QStringList> entries{{"a1", lib("Album/a1.mp3"), "Album", "Artist", ""},
                                         {"a2", lib("Album/a2.mp3"), "Album", "Artist", ""},
                                         {"pod", lib("Podcasts/pod.mp3"), "Album", "Host", "podcast"},
                                         {"book", lib("Album/book.mp3"), "Album", "Reader", "audiobook"},
                                         {"b1", outside("b1.mp3"), "Other", "Artist", ""},
                                         {"v1", lib("Videos/v1.mp4"), "Album", "Artist", "video"},
                                         {"p1", lib("Album/a2.mp3"), "Road Trip", "DJ", "playlist"},
                                         {"x2", lib("Link/x2.mp3"), "Linked", "Artist", ""}};
        // x2 is reached through a link to the user's own folder; beside the
        // video lies a nested folder with a file no row knows; and there are
        // empty folders.
        QVERIFY(touch(outside("Linked/x2.mp3")) && QDir().mkpath(lib(".")) && QDir().mkpath(lib("Empty/Deeper")));
        QVERIFY(QFile::link(outside("Linked"), lib("Link")) && touch(lib("Videos/Inner/keep.mp3")));
        for (const QStringList &e : entries) {
            track t = makeTrack(e[1], e[2], e[3]);
            t.isPodcast = e[4] == QLatin1String("podcast");
            t.isAudiobook = e[4] == QLatin1String("audiobook");
            t.isVideo = e[4] == QLatin1String("video");
            t.playlist = e[4] == QLatin1String("playlist") ? e[2] : QString();
            QVERIFY(touch(t.filepath) && ruvoDB().insertDataOne(t));
            paths[e[0]] = e[1];
        }
        library = ruvoDB().loadDB();
        QCOMPARE(library.size(), 8);
        // Rows come back in the order they were stored.
        for (int i = 0; i < entries.size(); ++i)
            ids[entries[i][0]] = library.keys().at(i);
    }

    // "view kind ticked | rows removed | files deleted | tracks handed over", names of the fixture.
    void perView_data()
    {
        QTest::addColumn<QString>("fields");
        QTest::addRow("album: keeps its podcast, audiobook and video; a file a playlist uses stays")
            << "0 album a1 | a1 a2 | a1 | a1 a2";
        QTest::addRow("artist: all of the artist's music, never through a link; the video stays")
            << "1 artist a1 | a1 a2 b1 x2 | a1 | a1 a2 b1 x2";
        QTest::addRow("track: a file outside the library keeps its file and loses its row") << "2 track b1 | b1 | | b1";
        QTest::addRow("playlist: the entry goes, the album's song keeps the file") << "3 track p1 | p1 | | p1";
        QTest::addRow("podcast: only podcasts, and the emptied folder") << "4 track pod a1 | pod | pod | pod";
        QTest::addRow("audiobook: only audiobooks of the album") << "5 album book | book | book | book";
        QTest::addRow("video: the video, not the nested file beside it") << "6 video v1 | v1 | v1 | v1";
        QTest::addRow("video: music sharing the video's id stays") << "6 video v1 a1 | v1 | v1 | v1";
    }

    void perView()
    {
        QFETCH(QString, fields);
        QList<QStringList> f;
        for (const QString &part : fields.split('|'))
            f << part.split(' ', Qt::SkipEmptyParts);
        const int view = f[0].takeFirst().toInt();
        const LibraryRemover::Ticks ticks = ticksOf(f[0].takeFirst(), f[0]);
        QStringList names;
        for (int id : LibraryRemover::tracksToTransfer(library, ticks, view).keys())
            names << ids.key(id);
        names.sort();
        QCOMPARE(names, f[3]);

        const std::atomic<bool> stop{false};
        const LibraryRemover::Result result =
            LibraryRemover::removeTracks(library, ticks, view, ruvoDB::programCopyFolder(), stop);
        QVERIFY(result.ok);
        names.clear();
        for (auto it = ids.cbegin(); it != ids.cend(); ++it) {
            const bool rowGone =
                scalar(QStringLiteral("SELECT count(*) FROM tracks WHERE id = ?"), {it.value()}).toInt() == 0;
            QCOMPARE(result.removedIds.contains(it.value()), rowGone);
            if (rowGone)
                names << it.key();
            QVERIFY2(QFile::exists(paths[it.key()]) != f[2].contains(it.key()), qPrintable(it.key()));
        }
        QCOMPARE(names, f[1]);
        // Emptied folders go, at any depth; a nested file and the link stay.
        QCOMPARE(QFileInfo::exists(lib("Podcasts")), !f[2].contains(QStringLiteral("pod")));
        QVERIFY(!QFileInfo::exists(lib("Empty")));
        QVERIFY(QFile::exists(lib("Videos/Inner/keep.mp3")) && QFileInfo(lib("Link")).isSymLink());
    }

    // "action, album row ticked, row hidden by the search, message shown, tracks handed over"
    void actionsOnTheRows_data()
    {
        QTest::addColumn<QString>("fields");
        QTest::addRow("remove with nothing ticked") << "remove 0 0 5 0";
        QTest::addRow("transfer with nothing ticked") << "transfer 0 0 6 0";
        QTest::addRow("a ticked row the search hides is not ticked") << "transfer 1 1 6 0";
        QTest::addRow("transfer hands the ticked album over and opens the dialog") << "transfer 1 0 0 2";
        QTest::addRow("remove takes the ticked album's songs out of the library") << "remove 1 0 0 0";
    }

    void actionsOnTheRows()
    {
        QFETCH(QString, fields);
        const QStringList f = fields.split(' ');
        const QString action = f[0];
        const int message = f[3].toInt(), handed = f[4].toInt();

        manager controller;
        controller.libraryTracks = library;
        controller.libraryViews = manager::buildLibraryViews(library, {});
        for (QObject *object : std::as_const(controller.libraryViews.albumModels.models)) {
            auto *row = qobject_cast<AlbumDataModel *>(object);
            if (row->albumid() == library[ids["a1"]].album_id) {
                row->setSelected(f[1] == QLatin1String("1"));
                row->setVisibility(f[2] == QLatin1String("0"));
            }
        }
        TrackMap handedOver;
        controller.libraryRemover().setHandOver([&handedOver](const TrackMap &map) { handedOver = map; });
        QSignalSpy messages(&controller, &manager::showMessageBox);
        QSignalSpy dialog(&controller, &manager::showTransferBrowser);
        QSignalSpy loading(&controller, &manager::sgShowLoading);
        controller.exeRemoveTransfer(action);

        QCOMPARE(messages.size(), message ? 1 : 0);
        if (message)
            QCOMPARE(messages.first().first().value<QString>(), MessageHandler().message(message));
        QCOMPARE(dialog.size(), handed ? 1 : 0);
        QCOMPARE(handedOver.size(), handed);
        QCOMPARE(controller.chosenTracks.size(), handed);
        const bool removing = action == QLatin1String("remove") && !message;
        QCOMPARE(loading.size(), removing ? 1 : 0);
        if (removing) {
            controller.checkedAlbumIds << 1;
            QSignalSpy hidden(&controller, &manager::sgHideLoading);
            QVERIFY(hidden.wait(60000));
            QCOMPARE(controller.libraryTracks.size(), 6); // a1 and a2 went, the album's video stays
            QVERIFY(!controller.libraryTracks.contains(ids["a1"]) && !controller.libraryTracks.contains(ids["a2"]));
            QVERIFY(controller.checkedAlbumIds.isEmpty());
        }
    }

    // A video run beside a removal makes its folder when it reaches a video
    // and writes there: the sweep of emptied folders leaves it while the
    // run goes, and sweeps the rest as ever.
    void sweepBesideAVideoRun_data()
    {
        QTest::addColumn<bool>("videoRun");
        QTest::addRow("no video run: the emptied output folder goes") << false;
        QTest::addRow("a video run: its output folder stays, empty as it is") << true;
    }

    void sweepBesideAVideoRun()
    {
        QFETCH(bool, videoRun);
        QVERIFY(QDir().mkpath(VideoEncoding::outputFolder()));
        const WorkGuard::Watch run(WorkGuard::Work::VideoRun, [videoRun] { return videoRun; });
        manager controller;
        controller.libraryTracks = library;
        controller.libraryView = 0;
        QSignalSpy messages(&controller, &manager::showMessageBox);
        QSignalSpy hidden(&controller, &manager::sgHideLoading);
        controller.removeAll({}, {library[ids["a1"]].album_id}, {}, {});
        QVERIFY(hidden.wait(60000));
        QVERIFY(messages.isEmpty());
        QVERIFY(!controller.libraryTracks.contains(ids["a1"]));
        QCOMPARE(QFileInfo(VideoEncoding::outputFolder()).isDir(), videoRun);
        QVERIFY(!QFileInfo::exists(lib("Empty")));
    }

private:
    QString lib(const QString &relative) const { return ruvoDB::programCopyFolder() + QLatin1Char('/') + relative; }
    QString outside(const QString &relative) const { return testHome() + QStringLiteral("/Own/") + relative; }
    LibraryRemover::Ticks ticksOf(const QString &kind, const QStringList &names)
    {
        LibraryRemover::Ticks ticks;
        for (const QString &name : names) {
            const track &t = library[ids[name]];
            if (kind == QLatin1String("album"))
                ticks.albumIds << t.album_id;
            else if (kind == QLatin1String("artist"))
                ticks.artistIds << t.artist_id;
            else
                (kind == QLatin1String("track") ? ticks.trackIds : ticks.videoIds) << t.id;
        }
        return ticks;
    }
    TrackMap library;
    QMap<QString, int> ids;       // fixture name -> track id
    QMap<QString, QString> paths; // fixture name -> file
};

CORVANE_TEST_MAIN(TestLibraryRemover)
#include "tst_libraryremover.moc"
