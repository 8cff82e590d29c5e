#include <QtTest>

#include <QDesktopServices>
#include <QQmlContext>
#include <QTcpServer>
#include <QTcpSocket>

#include "app/advancedsettings.h"
#include "app/manager.h"
#include "app/qmlapplicationviewer.h"
#include "database/database.h"
#include "lookup/apimanager.h"
#include "testenv.h"

// The advanced settings behind the dialog: the two lists, Continue and
// Cancel, and the shop links, with both services on a local HTTP server.

namespace {

// A search service answering each album name with canned text; a name
// without an answer gets an HTTP error.  Names are decoded as a web server
// does ("+" is a space), so an encoding fault shows in `asked`.
class SearchService : public QTcpServer
{
public:
    QMap<QString, QByteArray> answers;
    QStringList asked;

    SearchService()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { answer(socket); });
        });
        listen(QHostAddress::LocalHost);
    }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(serverPort()); }

private:
    void answer(QTcpSocket *socket)
    {
        const QByteArray request = socket->readAll();
        const QUrl url(QString::fromLatin1(request.split(' ').value(1)));
        const QString term = formValue(url, QStringLiteral("term"));
        asked << term;
        const bool known = answers.contains(term);
        const QByteArray body = answers.value(term, "not here");
        socket->write((known ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 500 Oops\r\n") +
                      QByteArray("Content-Type: application/json\r\nConnection: close\r\nContent-Length: ") +
                      QByteArray::number(body.size()) + "\r\n\r\n" + body);
        socket->disconnectFromHost();
    }

public:
    static QString formValue(const QUrl &url, const QString &key)
    {
        QByteArray raw = QUrlQuery(url).queryItemValue(key, QUrl::FullyEncoded).toLatin1();
        return QUrl::fromPercentEncoding(raw.replace('+', ' '));
    }
};

// Catches what the program opens in the browser.
class Browser : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

QByteArray answer(const QString &storeUrl)
{
    return "{\"resultCount\":2,\"results\":[{\"artworkUrl100\":\"https://img.example/a.jpg\","
           "\"collectionViewUrl\":\"" + storeUrl.toUtf8() +
           "\"},{\"collectionViewUrl\":\"https://shop.example/second\"}]}";
}

track reviewTrack(int id, const QString &album, bool missing, int quality)
{
    track t;
    t.id = id;
    t.albumName = album;
    t.trackname = QStringLiteral("Song %1").arg(id);
    t.artistName = QStringLiteral("Band");
    t.folderLocation = QStringLiteral("/music/band");
    t.isMissingData = missing;
    t.quality = quality;
    t.hasArtist = t.hasAlbum = t.hasTitle = true;
    return t;
}

QList<int> idsOf(const QObjectList &rows)
{
    QList<int> ids;
    for (QObject *row : rows)
        ids << row->property("trackid").toInt();
    return ids;
}

} // namespace

class TestAdvancedSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void lists_data();
    void lists();
    void continueSendsTheTicked_data();
    void continueSendsTheTicked();
    void cancel_data();
    void cancel();
    void linkTabTakesAlbums_data();
    void linkTabTakesAlbums();
    void itunesSearch_data();
    void itunesSearch();

private:
    // Review tracks through the dialog's collection; unticks the rows whose
    // album begins with "-" (the mark is dropped from the name).
    void openWith(const TrackMap &tracks);

    std::unique_ptr<QmlApplicationViewer> viewer;
    std::unique_ptr<manager> controller;
    SearchService service;
    Browser browser;
    QList<int> completed;
};

void TestAdvancedSettings::initTestCase()
{
    QVERIFY(service.isListening());
    Database library; // an empty library for the controller to load
    QVERIFY(library.connect(QStringLiteral("RuvoData"), true));
    library.create();
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &browser, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "open");
    QSettings settings(QStringLiteral("MyComp"), QStringLiteral("MyApp"));
    settings.setValue(AdvancedSettings::itunesSearchBaseKey, service.base());
    settings.setValue(AdvancedSettings::webShopBaseKey, service.base() + QStringLiteral("/"));

    ApiManager::Steps steps;
    steps.complete = [this](const track &t) {
        completed << t.id;
        return t;
    };
    ApiManager::getinstance()->setSteps(steps);
}

void TestAdvancedSettings::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
}

void TestAdvancedSettings::init()
{
    viewer = std::make_unique<QmlApplicationViewer>();
    controller = std::make_unique<manager>(viewer.get(), nullptr);
    controller->advancedSettings->setSearchInterval(5);
    browser.opened.clear();
    service.asked.clear();
    service.answers.clear();
    completed.clear();
}

void TestAdvancedSettings::cleanup()
{
    controller.reset();
    viewer.reset();
}

void TestAdvancedSettings::openWith(const TrackMap &tracks)
{
    TrackMap review;
    for (track t : tracks) {
        t.albumName.remove(QRegularExpression(QStringLiteral("^-")));
        review.insert(t.id, t);
    }
    controller->reviewTracks = review;
    QSignalSpy shown(controller.get(), &manager::sgShowAdvancedSettings);
    controller->slPopulateAdvancedSettings();
    QVERIFY(shown.wait());
    for (const track &t : tracks) {
        for (QObject *row : {controller->missingDataModels.value(t.id), controller->poorQualityModels.value(t.id)}) {
            if (row)
                row->setProperty("selected", !t.albumName.startsWith(QLatin1Char('-')));
        }
    }
}

void TestAdvancedSettings::lists_data()
{
    QTest::addColumn<TrackMap>("tracks");
    QTest::addColumn<QList<int>>("missing");
    QTest::addColumn<QList<int>>("poor");
    QTest::addRow("no review tracks") << TrackMap() << QList<int>() << QList<int>();
    TrackMap mixed;
    for (const track &t : {reviewTrack(9, "A", true, 2), reviewTrack(2, "B", false, 0), reviewTrack(5, "C", true, 0),
                           reviewTrack(7, "D", false, 1)})
        mixed.insert(t.id, t);
    QTest::addRow("each list in ascending id, both for a track in both")
        << mixed << QList<int>{5, 9} << QList<int>{2, 5};
}

void TestAdvancedSettings::lists()
{
    QFETCH(TrackMap, tracks);
    QFETCH(QList<int>, missing);
    QFETCH(QList<int>, poor);
    QSignalSpy loading(controller.get(), &manager::sgShowLoading);
    QSignalSpy loaded(controller.get(), &manager::sgHideLoading);
    openWith(tracks);
    QCOMPARE(loading.count(), 1);
    QCOMPARE(loaded.count(), 1);
    QVERIFY(!ApiManager::getinstance()->doUpdate()); // the lookup waits for the user

    QQmlContext *context = viewer->rootContext();
    const QObjectList missingRows = context->contextProperty(QStringLiteral("missingMediaData")).value<QObjectList>();
    const QObjectList poorRows = context->contextProperty(QStringLiteral("poorMediaQuality")).value<QObjectList>();
    QCOMPARE(idsOf(missingRows), missing);
    QCOMPARE(idsOf(poorRows), poor);
    for (QObject *row : missingRows + poorRows) {
        const track &t = tracks[row->property("trackid").toInt()];
        QVERIFY(row->property("selected").toBool() && row->property("visibility").toBool());
        QCOMPARE(row->property("albumname").toString(), t.albumName);
        QCOMPARE(row->property("tracktitle").toString(), t.trackname);
    }
}

void TestAdvancedSettings::continueSendsTheTicked_data()
{
    QTest::addColumn<QStringList>("albums"); // one missing-data track each, ids 1, 2, ...
    QTest::addColumn<QList<int>>("looked");
    QTest::addRow("3 of 5 ticked") << QStringList{"A", "-B", "C", "-D", "E"} << QList<int>{1, 3, 5};
    QTest::addRow("none ticked") << QStringList{"-A", "-B"} << QList<int>();
    QTest::addRow("no review tracks") << QStringList() << QList<int>();
}

void TestAdvancedSettings::continueSendsTheTicked()
{
    QFETCH(QStringList, albums);
    QFETCH(QList<int>, looked);
    TrackMap tracks;
    for (int i = 0; i < albums.size(); ++i)
        tracks.insert(i + 1, reviewTrack(i + 1, albums.at(i), true, 2));
    // The add chain has handed the copied tracks to the lookup.
    ApiManager *lookup = ApiManager::getinstance();
    if (!tracks.isEmpty())
        lookup->searchfromApi(tracks);
    openWith(tracks);

    QSignalSpy progress(controller.get(), &manager::updateProgress);
    QSignalSpy dialog(controller.get(), &manager::showProgressDialog);
    QSignalSpy sent(lookup, &ApiManager::updateTrackToManager);
    controller->collectMediaToUpdate();
    QCOMPARE(controller->reviewTracks.keys(), looked); // the unticked leave the review
    QCOMPARE(controller->progressTotal, int(looked.size()));
    QCOMPARE(dialog.count(), looked.isEmpty() ? 0 : 1);
    if (looked.isEmpty())
        QCOMPARE(progress.last(), (QVariantList{0, 0}));
    QTRY_VERIFY(!sent.isEmpty() && sent.last().at(0).value<track>().id == ApiManager::endMarkId);
    QCOMPARE(completed, looked);
}

void TestAdvancedSettings::cancel_data()
{
    QTest::addColumn<bool>("closing");
    QTest::addRow("from the dialog: the views are rebuilt") << false;
    QTest::addRow("at close: no rebuild") << true;
}

void TestAdvancedSettings::cancel()
{
    QFETCH(bool, closing);
    ApiManager *lookup = ApiManager::getinstance();
    lookup->setDoUpdate(false);
    lookup->searchfromApi({{1, reviewTrack(1, "A", true, 2)}});
    QSignalSpy sent(lookup, &ApiManager::updateTrackToManager);
    QSignalSpy loading(controller.get(), &manager::sgShowLoading);
    QSignalSpy refreshed(controller.get(), &manager::sgRefreshMain);
    if (closing)
        controller->saveData();
    else
        controller->cancelOptimization();
    QTRY_VERIFY(!lookup->isRunning());
    QCOMPARE(completed, QList<int>());
    QCOMPARE(sent.count(), 1); // the end mark alone
    QCOMPARE(loading.count(), closing ? 0 : 1);
    if (!closing)
        QTRY_COMPARE(refreshed.count(), 1);
    lookup->setDoUpdate(true);
}

void TestAdvancedSettings::linkTabTakesAlbums_data()
{
    QTest::addColumn<int>("tab");
    QTest::addColumn<QStringList>("albums"); // poor-quality rows in id order
    QTest::addColumn<QStringList>("handled");
    QStringList twenty;
    for (int i = 10; i < 30; ++i)
        twenty << QStringLiteral("Album %1").arg(i);
    const QStringList mixed{"Blue", "-Red", "Blue", "blue", "Rock & Roll #1 + 50%", "Green"};
    const QStringList mixedHandled{"Blue", "blue", "Rock & Roll #1 + 50%", "Green"};
    for (int tab : {0, 1}) {
        const char *name = tab == 0 ? "iTunes" : "web shop";
        QTest::addRow("%s: 15 of 20 albums", name) << tab << twenty << twenty.mid(0, 15);
        QTest::addRow("%s: repeats and unticked passed over, case kept, names intact", name)
            << tab << mixed << mixedHandled;
        QTest::addRow("%s: repeats do not count towards 15", name)
            << tab << QStringList(16, QStringLiteral("Same")) + twenty << QStringList{"Same"} + twenty.mid(0, 14);
    }
    QTest::addRow("third tab: nothing") << 2 << mixed << QStringList();
}

void TestAdvancedSettings::linkTabTakesAlbums()
{
    QFETCH(int, tab);
    QFETCH(QStringList, albums);
    QFETCH(QStringList, handled);
    TrackMap tracks;
    for (int i = 0; i < albums.size(); ++i)
        tracks.insert(i + 1, reviewTrack(i + 1, albums.at(i), false, 0));
    openWith(tracks);
    AdvancedSettings *settings = controller->advancedSettings.get();
    settings->setSearchInterval(60000); // queued only: nothing is asked yet

    controller->advancedSettingsLinkTab(tab);
    QStringList got = settings->queuedSearches();
    for (const QUrl &url : std::as_const(browser.opened)) {
        QCOMPARE(url.path(), QStringLiteral("/s/ref=nb_sb_noss_1"));
        QCOMPARE(SearchService::formValue(url, QStringLiteral("url")), QStringLiteral("search-alias=popular"));
        got << SearchService::formValue(url, QStringLiteral("field-keywords"));
    }
    QCOMPARE(got, handled);
    QCOMPARE(settings->isSearching(), tab == 0 && !handled.isEmpty());
    // Asking again while queued adds nothing.
    controller->advancedSettingsLinkTab(0);
    if (tab == 0)
        QCOMPARE(settings->queuedSearches(), handled);
}

void TestAdvancedSettings::itunesSearch_data()
{
    QTest::addColumn<QStringList>("albums");
    QTest::addColumn<QStringList>("asked");
    QTest::addColumn<QStringList>("opened");
    const QString store = QStringLiteral("https://music.example/album/blue?uo=4");
    QTest::addRow("store page of the first result") << QStringList{"Blue"} << QStringList{"Blue"}
                                                    << QStringList{store};
    QTest::addRow("names differing in case, each its own page")
        << QStringList{"Blue", "blue"} << QStringList{"Blue", "blue"}
        << QStringList{store, QStringLiteral("https://music.example/lower")};
    QTest::addRow("image link, other scheme, 500 characters, no JSON: nothing opened, queue goes on")
        << QStringList{"Cover", "Script", "Long", "Empty", "Blue"} << QStringList{"Cover", "Script", "Long", "Empty", "Blue"}
        << QStringList{store};
    QTest::addRow("a name with &, #, + and %% arrives intact")
        << QStringList{"Rock & Roll #1 + 50%"} << QStringList{"Rock & Roll #1 + 50%"}
        << QStringList{QStringLiteral("https://music.example/rock")};
    QTest::addRow("an error drops the queue") << QStringList{"Unknown", "Blue"} << QStringList{"Unknown"}
                                              << QStringList();
}

void TestAdvancedSettings::itunesSearch()
{
    QFETCH(QStringList, albums);
    QFETCH(QStringList, asked);
    QFETCH(QStringList, opened);
    service.answers = {{"Blue", answer(QStringLiteral("https://music.example/album/blue?uo=4"))},
                       {"blue", answer(QStringLiteral("https://music.example/lower"))},
                       {"Cover", answer(QStringLiteral("https://music.example/art/cover.JPG"))},
                       {"Script", answer(QStringLiteral("file:///etc/passwd"))},
                       {"Long", answer(QStringLiteral("https://music.example/") + QString(480, QLatin1Char('x')))},
                       {"Empty", QByteArray()},
                       {"Rock & Roll #1 + 50%", answer(QStringLiteral("https://music.example/rock"))}};
    TrackMap tracks;
    for (int i = 0; i < albums.size(); ++i)
        tracks.insert(i + 1, reviewTrack(i + 1, albums.at(i), false, 0));
    openWith(tracks);
    AdvancedSettings *settings = controller->advancedSettings.get();
    controller->advancedSettingsLinkTab(0);
    QTRY_VERIFY(!settings->isSearching());
    QVERIFY(settings->queuedSearches().isEmpty());
    QCOMPARE(service.asked, asked); // each name once: never again while its answer is due
    QStringList got;
    for (const QUrl &url : std::as_const(browser.opened))
        got << url.toString();
    QCOMPARE(got, opened);
}

CORVANE_TEST_MAIN(TestAdvancedSettings)
#include "tst_advancedsettings.moc"
