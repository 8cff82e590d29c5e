#include <QtTest>

#include <QSqlDatabase>
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

track make(int id, const QString &folder, bool complete = false)
{
    track t;
    t.id = id;
    t.folderLocation = folder;
    t.filename = QStringLiteral("%1.mp3").arg(id);
    t.filepath = folder + QLatin1Char('/') + t.filename;
    t.trackname = QStringLiteral("Song %1").arg(id);
    t.hasTitle = true;
    t.hasArtist = complete;
    t.hasAlbum = complete;
    t.isMissingData = !complete;
    return t;
}

TrackMap mapOf(const QList<track> &tracks)
{
    TrackMap map;
    for (const track &t : tracks)
        map.insert(t.id, t);
    return map;
}

// Records what the job does, in order: "complete 3", "store 3", "tags 3",
// "sent 3", "progress", "end".
class Recorder : public QObject
{
public:
    explicit Recorder(ApiManager *apiJob) : job(apiJob)
    {
        ApiManager::Steps steps;
        steps.complete = [this](const track &t) {
            events.append(QStringLiteral("complete %1").arg(t.id));
            track c = t;
            if (fill.contains(t.id)) {
                c.albumName = QStringLiteral("Found");
                c.artistName = QStringLiteral("Found");
                c.hasAlbum = c.hasArtist = true;
            }
            return c;
        };
        steps.storeResult = [this](const track &t) { events.append(QStringLiteral("store %1").arg(t.id)); };
        steps.writeTags = [this](const track &t) { events.append(QStringLiteral("tags %1").arg(t.id)); };
        job->setSteps(steps);
        connect(job, &ApiManager::updateTrackToManager, this, [this](const track &t) {
            if (t.id == ApiManager::endMarkId) {
                events.append(QStringLiteral("end"));
            } else {
                events.append(QStringLiteral("sent %1").arg(t.id));
                sent.append(t);
            }
        });
        connect(job, &ApiManager::UpdateProgress, this, [this] { ++progress; });
    }

    ~Recorder() override { job->setSteps(ApiManager::defaultSteps()); }

    bool waitForEnd(int msecs = 5000)
    {
        QDeadlineTimer deadline(msecs);
        while (!events.contains(QStringLiteral("end")) && !deadline.hasExpired())
            QTest::qWait(5);
        return events.contains(QStringLiteral("end"));
    }

    QStringList matching(const QString &prefix) const
    {
        QStringList out;
        for (const QString &e : events)
            if (e.startsWith(prefix))
                out.append(e);
        return out;
    }

    ApiManager *job;
    QSet<int> fill;
    QStringList events;
    QList<track> sent;
    int progress = 0;
};

} // namespace

class TestApiManager : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void oneInstance();
    void worksFolderByFolder();
    void emptyJobSendsTheEndMark();
    void stopSendsTheEndMark();
    void pausedUntilUpdatesAreOn();
    void selectedIdsOnly_data();
    void selectedIdsOnly();
    void tagsWrittenOnlyWhenSomethingWasLearnt();
    void keepsTheGuiResponsive();
    void completesFromTheFolderAndWritesTheFile();
};

void TestApiManager::init()
{
    ApiManager *job = ApiManager::getinstance();
    job->setDoUpdate(true);
    QTRY_VERIFY(!job->isRunning());
}

void TestApiManager::oneInstance()
{
    QCOMPARE(ApiManager::getinstance(), ApiManager::getinstance());
    QVERIFY(ApiManager::getinstance()->doUpdate());
}

void TestApiManager::worksFolderByFolder()
{
    ApiManager *job = ApiManager::getinstance();
    Recorder rec(job);
    // Ids interleave the two folders; the job keeps each folder together.
    job->searchfromApi(mapOf({make(1, "/m/A"), make(2, "/m/B"), make(3, "/m/A"), make(4, "/m/B")}));
    QVERIFY(job->isRunning());
    QVERIFY(rec.events.isEmpty()); // returns at once
    QVERIFY(rec.waitForEnd());

    const QStringList expected = {
        "complete 1", "complete 3", "store 1", "sent 1",  "store 3", "sent 3", "complete 2",
        "complete 4", "store 2",    "sent 2",  "store 4", "sent 4",  "end",
    };
    QCOMPARE(rec.events, expected);
    QCOMPARE(rec.progress, 4);
    QVERIFY(!job->isRunning());
    // Still incomplete after the local completion: still missing data.
    for (const track &t : std::as_const(rec.sent))
        QVERIFY(t.isMissingData);
}

void TestApiManager::emptyJobSendsTheEndMark()
{
    ApiManager *job = ApiManager::getinstance();
    Recorder rec(job);
    job->searchfromApi(TrackMap());
    QVERIFY(rec.waitForEnd());
    QCOMPARE(rec.events, QStringList{"end"});
    QCOMPARE(rec.progress, 0);
}

void TestApiManager::stopSendsTheEndMark()
{
    ApiManager *job = ApiManager::getinstance();
    Recorder rec(job);
    QList<track> tracks;
    for (int id = 1; id <= 50; ++id)
        tracks.append(make(id, QStringLiteral("/m/F%1").arg(id / 10)));
    // Stopped while the job is at its third track.
    QMetaObject::Connection stopper = connect(job, &ApiManager::UpdateProgress, this, [&rec, job] {
        if (rec.progress == 3)
            job->stopOptimisation();
    });
    job->searchfromApi(mapOf(tracks));
    QVERIFY(rec.waitForEnd());
    disconnect(stopper);
    QCOMPARE(rec.progress, 3);
    QCOMPARE(rec.events.count(QStringLiteral("end")), 1);
    QCOMPARE(rec.events.last(), QStringLiteral("end"));
    QVERIFY(rec.progress < 50);
    // Every track that was completed is delivered, none twice.
    QCOMPARE(rec.matching("sent").size(), rec.matching("complete").size());
    QVERIFY(!job->isRunning());

    // The next job starts afresh.
    Recorder again(job);
    job->searchfromApi(mapOf({make(7, "/m/X")}));
    QVERIFY(again.waitForEnd());
    QCOMPARE(again.matching("sent"), QStringList{"sent 7"});
}

void TestApiManager::pausedUntilUpdatesAreOn()
{
    ApiManager *job = ApiManager::getinstance();
    Recorder rec(job);
    QTest::ignoreMessage(QtDebugMsg, "do update....... true false");
    job->setDoUpdate(false);
    job->searchfromApi(mapOf({make(1, "/m/A"), make(2, "/m/A")}));
    QTest::qWait(50);
    QVERIFY(rec.events.isEmpty());
    QVERIFY(job->isRunning());

    QTest::ignoreMessage(QtDebugMsg, "do update....... false true");
    job->setDoUpdate(true);
    QVERIFY(rec.waitForEnd());
    QCOMPARE(rec.matching("sent"), (QStringList{"sent 1", "sent 2"}));
}

void TestApiManager::selectedIdsOnly_data()
{
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<QStringList>("sent");

    QTest::addRow("two of four") << QList<int>{2, 4} << QStringList{"sent 2", "sent 4"};
    QTest::addRow("none") << QList<int>{} << QStringList{};
    QTest::addRow("ids not in the job") << QList<int>{40000} << QStringList{};
}

void TestApiManager::selectedIdsOnly()
{
    QFETCH(QList<int>, selected);
    QFETCH(QStringList, sent);

    ApiManager *job = ApiManager::getinstance();
    Recorder rec(job);
    // The advanced settings pause the job, then choose.
    job->setDoUpdate(false);
    job->searchfromApi(mapOf({make(1, "/m/A"), make(2, "/m/A"), make(3, "/m/B"), make(4, "/m/B")}));
    job->setDoUpdate(true);
    job->setSelectedIds(selected);
    QVERIFY(rec.waitForEnd());
    QCOMPARE(rec.matching("sent"), sent);
    QCOMPARE(rec.progress, 4); // passed-over tracks count as progress too
}

void TestApiManager::tagsWrittenOnlyWhenSomethingWasLearnt()
{
    ApiManager *job = ApiManager::getinstance();
    Recorder rec(job);
    rec.fill = {2};
    job->searchfromApi(mapOf({make(1, "/m/A"), make(2, "/m/A"), make(3, "/m/A", true)}));
    QVERIFY(rec.waitForEnd());
    QCOMPARE(rec.matching("store").size(), 3);
    QCOMPARE(rec.matching("tags"), QStringList{"tags 2"});
    for (const track &t : std::as_const(rec.sent))
        QCOMPARE(t.isMissingData, t.id == 1);
}

void TestApiManager::keepsTheGuiResponsive()
{
    ApiManager *job = ApiManager::getinstance();
    Recorder rec(job);
    QList<track> tracks;
    for (int id = 1; id <= 200; ++id)
        tracks.append(make(id, QStringLiteral("/m/F%1").arg(id % 7)));
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
    ticker.start(0);
    job->searchfromApi(mapOf(tracks));
    QVERIFY(rec.waitForEnd());
    // One track per turn of the event loop: other events ran in between.
    QVERIFY2(ticks > 20, qPrintable(QString::number(ticks)));
    QCOMPARE(rec.sent.size(), 200);
}

void TestApiManager::completesFromTheFolderAndWritesTheFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Database library;
    QVERIFY(library.connect(QStringLiteral("RuvoData"), true));
    library.create();

    // Two tracks of the folder are known to the library already.
    const QString folder = dir.path();
    QSqlQuery query(Connection::forThread());
    QVERIFY(query.exec("INSERT INTO artistsRepo(name) VALUES ('Blue Band')"));
    const int artistId = query.lastInsertId().toInt();
    query.prepare("INSERT INTO albumsRepo(name,artist_id,cover,year) VALUES ('Blue',?,'',2001)");
    query.addBindValue(artistId);
    QVERIFY(query.exec());
    const int albumId = query.lastInsertId().toInt();
    for (const QString &title : {QStringLiteral("One"), QStringLiteral("Two")}) {
        query.prepare("INSERT INTO TrackRepo(filename, trackname, filepath, bitrate, tracknumber, duration, "
                      "artist_id, album_id, genre, year, Playlist, folderLocation) VALUES (?,?,?,192,0,200,?,?,"
                      "'Rock',2001,'',?)");
        query.addBindValue(title + ".mp3");
        query.addBindValue(title);
        query.addBindValue(folder + "/" + title + ".mp3");
        query.addBindValue(artistId);
        query.addBindValue(albumId);
        query.addBindValue(folder);
        QVERIFY(query.exec());
    }

    // The third knows its title only.
    testkit::MediaKit kit(folder);
    testkit::MediaTags tags;
    tags.title = QStringLiteral("Three");
    const QString file = kit.mp3(QStringLiteral("Three.mp3"), tags);
    QVERIFY2(!file.isEmpty(), qPrintable(kit.lastError()));
    track t;
    t.id = 9;
    t.folderLocation = folder;
    t.filename = QStringLiteral("Three.mp3");
    t.filepath = file;
    t.sourcePath = file;
    t.trackname = QStringLiteral("Three");
    t.hasTitle = true;
    t.albumName = QStringLiteral("Unknown Album");
    t.artistName = QStringLiteral("Unknown Artist");
    t.genre = QStringLiteral("Rock");
    t.year = 2001;
    t.bitrate = 192;
    t.isMissingData = true;

    ApiManager *job = ApiManager::getinstance();
    job->setSteps(ApiManager::defaultSteps());
    QList<track> sent;
    QMetaObject::Connection link =
        connect(job, &ApiManager::updateTrackToManager, this, [&sent](const track &r) { sent.append(r); });
    job->searchfromApi(mapOf({t}));
    QTRY_COMPARE(sent.size(), 2);
    disconnect(link);

    QCOMPARE(sent.at(0).albumName, QStringLiteral("Blue"));
    QCOMPARE(sent.at(0).artistName, QStringLiteral("Blue Band"));
    QVERIFY(!sent.at(0).isMissingData);
    QCOMPARE(sent.at(1).id, ApiManager::endMarkId);

    // Written into the file's tags ...
    TagLib::FileRef ref(QFile::encodeName(file).constData());
    QVERIFY(!ref.isNull() && ref.tag());
    QCOMPARE(QString::fromStdWString(ref.tag()->album().toWString()), QStringLiteral("Blue"));
    QCOMPARE(QString::fromStdWString(ref.tag()->artist().toWString()), QStringLiteral("Blue Band"));
    // ... and back to the library's staging tables.
    query.prepare("SELECT count(*) FROM getTracksRepo WHERE trackname = 'Three' AND albumname = 'Blue'");
    QVERIFY(query.exec() && query.next());
    QCOMPARE(query.value(0).toInt(), 1);
}

CORVANE_TEST_MAIN(TestApiManager)
#include "tst_apimanager.moc"
