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

// A query value read as a web server reads it ("+" is a space), so an
// encoding fault in a name shows.
QString formValue(const QUrl &url, const QString &key)
{
    QByteArray raw = QUrlQuery(url).queryItemValue(key, QUrl::FullyEncoded).toLatin1();
    return QUrl::fromPercentEncoding(raw.replace('+', ' '));
}

// The iTunes search service: "Unknown" gets an HTTP error, "Silent" no answer
// at all, a few names answers that must open nothing, any other its store page.
class SearchService : public QTcpServer
{
public:
    QStringList asked;

    SearchService()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { answer(socket); });
        });
        listen(QHostAddress::LocalHost);
    }

private:
    void answer(QTcpSocket *socket)
    {
        const QString term = formValue(QUrl(QString::fromLatin1(socket->readAll().split(' ').value(1))), "term");
        asked << term;
        if (term == "Silent")
            return;
        const QMap<QString, QString> odd{{"Cover", "https://music.example/art/cover.JPG"},
                                         {"Script", "file:///etc/passwd"},
                                         {"Long", "https://music.example/" + QString(480, 'x')}};
        QUrl store(QStringLiteral("https://music.example/album"));
        store.setQuery(QStringLiteral("n=") + QString::fromLatin1(QUrl::toPercentEncoding(term)));
        const QByteArray url = odd.value(term, store.toString(QUrl::FullyEncoded)).toUtf8();
        QByteArray body = R"({"resultCount":2,"results":[{"artworkUrl100":"https://i.example/a.jpg",)"
                          R"("collectionViewUrl":")" +
                          url + R"("},{"collectionViewUrl":"https://m.example/2"}]})";
        if (term == "Empty")
            body.clear();
        socket->write((term == "Unknown" ? "HTTP/1.1 500 Oops\r\n" : "HTTP/1.1 200 OK\r\n") +
                      QByteArray("Connection: close\r\nContent-Length: ") + QByteArray::number(body.size()) +
                      "\r\n\r\n" + body);
        socket->disconnectFromHost();
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

// A review track; an album name beginning with "-" marks its rows unticked.
track reviewTrack(int id, const QString &album, bool missing, int quality)
{
    track t;
    t.id = id;
    t.albumName = album;
    t.trackname = QStringLiteral("Song %1").arg(id);
    t.folderLocation = QStringLiteral("/music/band");
    t.isMissingData = missing;
    t.quality = quality;
    t.hasArtist = t.hasAlbum = t.hasTitle = true;
    return t;
}

TrackMap reviewTracks(const QStringList &albums, bool missing, int quality)
{
    TrackMap tracks;
    for (int i = 0; i < albums.size(); ++i)
        tracks.insert(i + 1, reviewTrack(i + 1, albums.at(i), missing, quality));
    return tracks;
}

} // namespace

class TestAdvancedSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void lists_data();
    void lists();
    void continueSendsTheTicked_data();
    void continueSendsTheTicked();
    void cancel_data();
    void cancel();
    void linkTab_data();
    void linkTab();

private:
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
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(service.serverPort());
    settings.setValue(AdvancedSettings::itunesSearchBaseKey, base);
    settings.setValue(AdvancedSettings::webShopBaseKey, base + QStringLiteral("/"));
    ApiManager::Steps steps;
    steps.complete = [this](const track &t) {
        completed << t.id;
        return t;
    };
    ApiManager::getinstance()->setSteps(steps);
}

void TestAdvancedSettings::cleanupTestCase()
{
    controller.reset();
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
}

void TestAdvancedSettings::init()
{
    controller.reset();
    viewer = std::make_unique<QmlApplicationViewer>();
    controller = std::make_unique<manager>(viewer.get(), nullptr);
    controller->advancedSettings->setSearchInterval(5);
    controller->advancedSettings->setRequestTimeout(1500);
    browser.opened.clear();
    service.asked.clear();
    completed.clear();
}

// The dialog's collection over `tracks`, then the marked rows unticked.
void TestAdvancedSettings::openWith(const TrackMap &tracks)
{
    controller->reviewTracks = tracks;
    for (track &t : controller->reviewTracks)
        t.albumName.remove(QRegularExpression(QStringLiteral("^-")));
    QSignalSpy shown(controller.get(), &manager::sgShowAdvancedSettings);
    controller->slPopulateAdvancedSettings();
    QVERIFY(shown.wait());
    for (const track &t : tracks) {
        for (QObject *row : {controller->missingDataModels.value(t.id), controller->poorQualityModels.value(t.id)}) {
            if (row && t.albumName.startsWith(QLatin1Char('-')))
                row->setProperty("selected", false);
        }
    }
}

void TestAdvancedSettings::lists_data()
{
    QTest::addColumn<TrackMap>("tracks");
    QTest::addColumn<QList<int>>("missing");
    QTest::addColumn<QList<int>>("poor");
    QTest::addRow("no review tracks") << TrackMap() << QList<int>() << QList<int>();
    const TrackMap mixed{{9, reviewTrack(9, "A", true, 2)},
                         {2, reviewTrack(2, "B", false, 0)},
                         {5, reviewTrack(5, "C", true, 0)},
                         {7, reviewTrack(7, "D", false, 1)}};
    QTest::addRow("each list in ascending id, a track in both in both")
        << mixed << QList<int>{5, 9} << QList<int>{2, 5};
}

void TestAdvancedSettings::lists()
{
    QFETCH(TrackMap, tracks);
    QFETCH(QList<int>, missing);
    QFETCH(QList<int>, poor);
    openWith(tracks);
    QVERIFY(!ApiManager::getinstance()->doUpdate()); // the lookup waits for the user
    for (const auto &[name, ids] : {std::pair{"missingMediaData", missing}, std::pair{"poorMediaQuality", poor}}) {
        QList<int> published;
        for (QObject *row : viewer->rootContext()->contextProperty(name).value<QObjectList>()) {
            published << row->property("trackid").toInt();
            QVERIFY(row->property("selected").toBool() && row->property("visibility").toBool());
            QCOMPARE(row->property("albumname").toString(), tracks[published.last()].albumName);
            QCOMPARE(row->property("tracktitle").toString(), tracks[published.last()].trackname);
        }
        QCOMPARE(published, ids);
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
    const TrackMap tracks = reviewTracks(albums, true, 2);
    ApiManager *lookup = ApiManager::getinstance();
    if (!tracks.isEmpty())
        lookup->searchfromApi(tracks); // as the add chain does
    openWith(tracks);

    QSignalSpy progress(controller.get(), &manager::updateProgress);
    QSignalSpy dialog(controller.get(), &manager::showProgressDialog);
    QSignalSpy sent(lookup, &ApiManager::updateTrackToManager);
    controller->collectMediaToUpdate();
    QCOMPARE(controller->reviewTracks.keys(), looked); // the unticked leave the review
    QCOMPARE(dialog.count(), looked.isEmpty() ? 0 : 1);
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
    lookup->searchfromApi(reviewTracks({"A"}, true, 2));
    QSignalSpy loading(controller.get(), &manager::sgShowLoading);
    QSignalSpy refreshed(controller.get(), &manager::sgRefreshMain);
    if (closing)
        controller->saveData();
    else
        controller->cancelOptimization();
    QTRY_VERIFY(!lookup->isRunning());
    QVERIFY(completed.isEmpty());
    // The lookup's end mark rebuilds the views too; at close nothing does.
    QTest::qWait(100);
    QCOMPARE(loading.count() > 0, !closing);
    QTRY_COMPARE(refreshed.count() > 0, !closing);
    lookup->setDoUpdate(true);
}

void TestAdvancedSettings::linkTab_data()
{
    QTest::addColumn<int>("tab");            // 0 iTunes, 1 web shop
    QTest::addColumn<QStringList>("albums"); // poor-quality rows in id order
    QTest::addColumn<QStringList>("asked");  // of the iTunes service
    QTest::addColumn<QStringList>("opened"); // albums whose page opened
    QStringList twenty;
    for (int i = 10; i < 30; ++i)
        twenty << QStringLiteral("Album %1").arg(i);
    const QStringList mixed{"Blue", "-Red", "Blue", "blue", "Rock & Roll #1 + 50%", "Green"};
    const QStringList handled{"Blue", "blue", "Rock & Roll #1 + 50%", "Green"};
    QTest::addRow("iTunes: 15 of 20 albums") << 0 << twenty << twenty.mid(0, 15) << twenty.mid(0, 15);
    QTest::addRow("shop: 15 of 20 albums") << 1 << twenty << QStringList() << twenty.mid(0, 15);
    QTest::addRow("shop: repeats do not count towards 15")
        << 1 << QStringList(16, "Same") + twenty << QStringList() << QStringList{"Same"} + twenty.mid(0, 14);
    QTest::addRow("iTunes: repeats and unticked passed over, case kept, names intact")
        << 0 << mixed << handled << handled;
    QTest::addRow("shop: repeats and unticked passed over, case kept, names intact")
        << 1 << mixed << QStringList() << handled;
    QTest::addRow("iTunes: image link, other scheme, 500 characters, no JSON: nothing opened")
        << 0 << QStringList{"Cover", "Script", "Long", "Empty", "Blue"}
        << QStringList{"Cover", "Script", "Long", "Empty", "Blue"} << QStringList{"Blue"};
    QTest::addRow("iTunes: an error drops the queue")
        << 0 << QStringList{"Unknown", "Blue"} << QStringList{"Unknown"} << QStringList();
    QTest::addRow("iTunes: no answer in time drops the queue")
        << 0 << QStringList{"Silent", "Blue"} << QStringList{"Silent"} << QStringList();
    QTest::addRow("third tab: nothing") << 2 << mixed << QStringList() << QStringList();
}

void TestAdvancedSettings::linkTab()
{
    QFETCH(int, tab);
    QFETCH(QStringList, albums);
    QFETCH(QStringList, asked);
    QFETCH(QStringList, opened);
    openWith(reviewTracks(albums, false, 0));
    controller->advancedSettingsLinkTab(tab);
    if (tab == 0)
        controller->advancedSettingsLinkTab(tab); // a queued name is not queued again
    QTRY_VERIFY(!controller->advancedSettings->isSearching());
    QCOMPARE(service.asked, asked); // each name once: never again while its answer is due

    QStringList got;
    for (const QUrl &url : std::as_const(browser.opened)) {
        if (tab == 0) {
            QCOMPARE(url.host(), QStringLiteral("music.example"));
            got << formValue(url, QStringLiteral("n"));
        } else {
            QCOMPARE(url.path(), QStringLiteral("/s/ref=nb_sb_noss_1"));
            QCOMPARE(formValue(url, QStringLiteral("url")), QStringLiteral("search-alias=popular"));
            got << formValue(url, QStringLiteral("field-keywords"));
        }
    }
    QCOMPARE(got, opened);
}

CORVANE_TEST_MAIN(TestAdvancedSettings)
#include "tst_advancedsettings.moc"
