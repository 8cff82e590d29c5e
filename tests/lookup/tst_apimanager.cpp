#include <QtTest>

#include <QSqlQuery>

#include <taglib/fileref.h>
#include <taglib/tag.h>

#include "core/shared.h"
#include "database/connection.h"
#include "database/database.h"
#include "lookup/apimanager.h"
#include "mediakit.h"
#include "testenv.h"

// The lookup job: folder by folder in the GUI thread, the end mark in every
// case, the pause and the selected-ids mode; and, with its real stages, one
// track completed from its folder in the library and written into its file.

namespace {

TrackMap tracksIn(const QList<std::pair<int, QString>> &idsAndFolders, const QSet<int> &complete = {})
{
    TrackMap map;
    for (const auto &[id, folder] : idsAndFolders) {
        track &t = map[id];
        t.id = id;
        t.folderLocation = folder;
        t.filepath = folder + QStringLiteral("/%1.mp3").arg(id);
        t.hasTitle = true;
        t.hasArtist = t.hasAlbum = complete.contains(id);
        t.isMissingData = !complete.contains(id);
    }
    return map;
}

TrackMap manyTracks(int count, int folders)
{
    QList<std::pair<int, QString>> list;
    for (int id = 1; id <= count; ++id)
        list.append({id, QStringLiteral("/m/F%1").arg(id % folders)});
    return tracksIn(list);
}

// Records what the job does, in order: "complete 3", "store 3",
// "sent 3", "end"; completes the tracks in `fill`.
struct Recorder
{
    explicit Recorder(ApiManager *apiJob) : job(apiJob)
    {
        ApiManager::Steps steps;
        steps.complete = [this](const track &t) {
            events.append(QStringLiteral("complete %1").arg(t.id));
            track c = t;
            if (fill.contains(t.id)) {
                c.albumName = c.artistName = QStringLiteral("Found");
                c.hasAlbum = c.hasArtist = true;
            }
            return c;
        };
        steps.storeResult = [this](const track &t) { events.append(QStringLiteral("store %1").arg(t.id)); };
        // Runs on the writer thread; read only once the folder's tracks are sent.
        steps.writeTags = [this](const track &t) {
            written.append(QStringLiteral("tags %1").arg(t.id));
            offGuiThread = offGuiThread && QThread::currentThread() != qApp->thread();
            return true;
        };
        job->setSteps(steps);
        QObject::connect(job, &ApiManager::updateTrackToManager, &context, [this](const track &t) {
            events.append(t.id == ApiManager::endMarkId ? QStringLiteral("end") : QStringLiteral("sent %1").arg(t.id));
            if (t.id != ApiManager::endMarkId)
                sent.append(t);
        });
        QObject::connect(job, &ApiManager::UpdateProgress, &context, [this] { ++progress; });
    }
    ~Recorder() { job->setSteps(ApiManager::defaultSteps()); }

    bool waitForEnd()
    {
        QDeadlineTimer deadline(5000);
        while (!events.contains(QStringLiteral("end")) && !deadline.hasExpired())
            QTest::qWait(5);
        return events.contains(QStringLiteral("end"));
    }
    QStringList matching(const QString &prefix) const
    {
        QStringList out = events;
        out.removeIf([&prefix](const QString &e) { return !e.startsWith(prefix); });
        return out;
    }

    ApiManager *job;
    QObject context;
    QSet<int> fill;
    QStringList events;
    QStringList written;
    bool offGuiThread = true;
    QList<track> sent;
    int progress = 0;
};

} // namespace

class TestApiManager : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void worksFolderByFolder();
    void endMarkAlwaysSent();
    void pausedThenSelectedIdsOnly();
    void tagsWrittenOnlyWhenSomethingWasLearnt();
    void keepsTheGuiResponsive();
    void completesFromTheFolderAndWritesTheFile();
};

void TestApiManager::init()
{
    ApiManager::getinstance()->setDoUpdate(true);
    QTRY_VERIFY(!ApiManager::getinstance()->isRunning());
}

void TestApiManager::worksFolderByFolder()
{
    ApiManager *job = ApiManager::getinstance();
    Recorder rec(job);
    // Ids interleave the two folders; the job keeps each folder together.
    job->searchfromApi(tracksIn({{1, "/m/A"}, {2, "/m/B"}, {3, "/m/A"}, {4, "/m/B"}}));
    QVERIFY(job->isRunning());
    QVERIFY(rec.events.isEmpty()); // returns at once
    QVERIFY(rec.waitForEnd());
    QCOMPARE(rec.events, (QStringList{"complete 1", "complete 3", "store 1", "sent 1", "store 3", "sent 3",
                                      "complete 2", "complete 4", "store 2", "sent 2", "store 4", "sent 4", "end"}));
    QCOMPARE(rec.progress, 4);
    QVERIFY(rec.sent.first().isMissingData); // still incomplete after the local completion
}

void TestApiManager::endMarkAlwaysSent()
{
    ApiManager *job = ApiManager::getinstance();
    {
        Recorder rec(job);
        job->searchfromApi(TrackMap());
        QVERIFY(rec.waitForEnd());
        QCOMPARE(rec.events, QStringList{"end"});
    }
    Recorder rec(job);
    // Stopped while the job is at its third track.
    QObject::connect(job, &ApiManager::UpdateProgress, &rec.context, [&rec, job] {
        if (rec.progress == 3)
            job->stopOptimisation();
    });
    job->searchfromApi(manyTracks(50, 5));
    QVERIFY(rec.waitForEnd());
    QCOMPARE(rec.progress, 3);
    QCOMPARE(rec.events.count(QStringLiteral("end")), 1);
    QCOMPARE(rec.events.last(), QStringLiteral("end"));
    QCOMPARE(rec.matching("sent").size(), rec.matching("complete").size()); // every completed track delivered
    QVERIFY(!job->isRunning());
}

void TestApiManager::pausedThenSelectedIdsOnly()
{
    ApiManager *job = ApiManager::getinstance();
    Recorder rec(job);
    QTest::ignoreMessage(QtDebugMsg, "do update....... true false");
    job->setDoUpdate(false);
    job->searchfromApi(tracksIn({{1, "/m/A"}, {2, "/m/A"}, {3, "/m/B"}, {4, "/m/B"}}));
    QTest::qWait(50);
    QVERIFY(rec.events.isEmpty() && job->isRunning());
    // The advanced settings pause the job, then choose.
    job->setSelectedIds({2, 4, 40000});
    QTest::ignoreMessage(QtDebugMsg, "do update....... false true");
    job->setDoUpdate(true);
    QVERIFY(rec.waitForEnd());
    QCOMPARE(rec.matching("sent"), (QStringList{"sent 2", "sent 4"}));
    QCOMPARE(rec.progress, 4); // passed-over tracks count as progress too
}

void TestApiManager::tagsWrittenOnlyWhenSomethingWasLearnt()
{
    ApiManager *job = ApiManager::getinstance();
    Recorder rec(job);
    rec.fill = {2};
    job->searchfromApi(tracksIn({{1, "/m/A"}, {2, "/m/A"}, {3, "/m/A"}}, {3}));
    QVERIFY(rec.waitForEnd());
    QCOMPARE(rec.matching("store").size(), 3);
    QCOMPARE(rec.written, QStringList{"tags 2"});
    QVERIFY(rec.offGuiThread);
    for (const track &t : std::as_const(rec.sent))
        QCOMPARE(t.isMissingData, t.id == 1);
}

void TestApiManager::keepsTheGuiResponsive()
{
    ApiManager *job = ApiManager::getinstance();
    Recorder rec(job);
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, &rec.context, [&ticks] { ++ticks; });
    ticker.start(0);
    job->searchfromApi(manyTracks(200, 7));
    QVERIFY(rec.waitForEnd());
    // One track per turn of the event loop: other events ran in between.
    QVERIFY2(ticks > 20, qPrintable(QString::number(ticks)));
    QCOMPARE(rec.sent.size(), 200);
}

void TestApiManager::completesFromTheFolderAndWritesTheFile()
{
    QTemporaryDir dir;
    Database library;
    QVERIFY(library.connect(QStringLiteral("RuvoData"), true));
    library.create();
    // Two tracks of the folder are known to the library already.
    const QString folder = dir.path();
    QSqlQuery query(Connection::forThread());
    QVERIFY(query.exec("INSERT INTO artistsRepo(name) VALUES ('Blue Band')"));
    const QVariant artistId = query.lastInsertId();
    query.prepare("INSERT INTO albumsRepo(name,artist_id,cover,year) VALUES ('Blue',?,'',2001)");
    query.addBindValue(artistId);
    QVERIFY(query.exec());
    const QVariant albumId = query.lastInsertId();
    for (const QString &title : {QStringLiteral("One"), QStringLiteral("Two")}) {
        query.prepare("INSERT INTO TrackRepo(filename, trackname, filepath, bitrate, tracknumber, duration, "
                      "artist_id, album_id, genre, year, Playlist, folderLocation) VALUES (?,?,?,192,0,200,?,?,"
                      "'Rock',2001,'',?)");
        for (const QVariant &value : {QVariant(title + ".mp3"), QVariant(title),
                                      QVariant(folder + "/" + title + ".mp3"), artistId, albumId, QVariant(folder)})
            query.addBindValue(value);
        QVERIFY(query.exec());
    }
    // The third knows its title only.
    testkit::MediaKit kit(folder);
    testkit::MediaTags tags;
    tags.title = QStringLiteral("Three");
    const QString file = kit.mp3(QStringLiteral("Three.mp3"), tags);
    QVERIFY2(!file.isEmpty(), qPrintable(kit.lastError()));
    TrackMap tracks = tracksIn({{9, folder}});
    track &t = tracks[9];
    t.filename = QStringLiteral("Three.mp3");
    t.filepath = t.sourcePath = file;
    t.trackname = QStringLiteral("Three");
    t.albumName = QStringLiteral("Unknown Album");
    t.artistName = QStringLiteral("Unknown Artist");
    t.genre = QStringLiteral("Rock");
    t.year = 2001;
    t.bitrate = 192;

    ApiManager *job = ApiManager::getinstance();
    QList<track> sent;
    QObject context;
    QObject::connect(job, &ApiManager::updateTrackToManager, &context, [&sent](const track &r) { sent.append(r); });
    job->searchfromApi(tracks);
    QTRY_COMPARE(sent.size(), 2);
    QCOMPARE(sent.at(0).albumName, QStringLiteral("Blue"));
    QCOMPARE(sent.at(0).artistName, QStringLiteral("Blue Band"));
    QVERIFY(!sent.at(0).isMissingData);
    QCOMPARE(sent.at(1).id, ApiManager::endMarkId);
    // Written into the file's tags and back to the library's staging tables.
    TagLib::FileRef ref(QFile::encodeName(file).constData());
    QVERIFY(!ref.isNull() && ref.tag());
    QCOMPARE(QString::fromStdWString(ref.tag()->album().toWString()), QStringLiteral("Blue"));
    QCOMPARE(QString::fromStdWString(ref.tag()->artist().toWString()), QStringLiteral("Blue Band"));
    QVERIFY(query.exec("SELECT count(*) FROM getTracksRepo WHERE trackname = 'Three' AND albumname = 'Blue'"));
    QVERIFY(query.next());
    QCOMPARE(query.value(0).toInt(), 1);
}

CORVANE_TEST_MAIN(TestApiManager)
#include "tst_apimanager.moc"
