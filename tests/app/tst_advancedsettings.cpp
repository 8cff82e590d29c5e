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

// Review tracks, ids 1, 2, ... from "<album>:<flags>" each: "m" marks missing
// data, a digit is the quality, and an album beginning with "-" marks the
// track's rows unticked.
TrackMap reviewTracks(const QStringList &items)
{
    TrackMap tracks;
    for (const QString &item : items) {
        track t;
        t.id = int(tracks.size()) + 1;
        t.albumName = item.section(QLatin1Char(':'), 0, -2);
        t.trackname = QStringLiteral("Song %1").arg(t.id);
        t.folderLocation = QStringLiteral("/music/band");
        t.isMissingData = item.contains(QLatin1String(":m"));
        t.quality = item.right(1).toInt();
        t.hasArtist = t.hasAlbum = t.hasTitle = true;
        tracks.insert(t.id, t);
    }
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

    void listsAndContinue_data();
    void listsAndContinue();
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

void TestAdvancedSettings::listsAndContinue_data()
{
    QTest::addColumn<QString>("tracks"); // as reviewTracks() reads them, split at spaces
    QTest::addColumn<QList<int>>("missing");
    QTest::addColumn<QList<int>>("poor");
    QTest::addColumn<QList<int>>("looked"); // after Continue
    QTest::addRow("no review tracks") << "" << QList<int>() << QList<int>() << QList<int>();
    QTest::addRow("a track in both lists in both")
        << "A:m2 B:0 C:m0 -D:m2 E:1 F:m2" << QList<int>{1, 3, 4, 6} << QList<int>{2, 3} << QList<int>{1, 3, 6};
    QTest::addRow("none ticked") << "-A:m2 -B:m2" << QList<int>{1, 2} << QList<int>() << QList<int>();
}

void TestAdvancedSettings::listsAndContinue()
{
    QFETCH(QString, tracks);
    QFETCH(QList<int>, missing);
    QFETCH(QList<int>, poor);
    QFETCH(QList<int>, looked);
    const TrackMap review = reviewTracks(tracks.split(QLatin1Char(' '), Qt::SkipEmptyParts));
    ApiManager *lookup = ApiManager::getinstance();
    if (!review.isEmpty())
        lookup->searchfromApi(review); // as the add chain does
    openWith(review);
    QVERIFY(!lookup->doUpdate()); // the lookup waits for the user
    for (const auto &[name, ids] : {std::pair{"missingMediaData", missing}, std::pair{"poorMediaQuality", poor}}) {
        QList<int> published;
        for (QObject *row : viewer->rootContext()->contextProperty(name).value<QObjectList>()) {
            published << row->property("trackid").toInt();
            QCOMPARE(row->property("tracktitle").toString(), controller->reviewTracks[published.last()].trackname);
            QCOMPARE(row->property("albumname").toString(), controller->reviewTracks[published.last()].albumName);
        }
        QCOMPARE(published, ids);
    }

    QSignalSpy progress(controller.get(), &manager::updateProgress);
    QSignalSpy dialog(controller.get(), &manager::showProgressDialog);
    QSignalSpy sent(lookup, &ApiManager::updateTrackToManager);
    controller->collectMediaToUpdate();
    for (const track &t : review) // the unticked leave the review
        QCOMPARE(controller->reviewTracks.contains(t.id), !t.albumName.startsWith(QLatin1Char('-')));
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
    lookup->searchfromApi(reviewTracks({QStringLiteral("A:m2")}));
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
    for (QString &album : albums)
        album += QLatin1String(":0");
    openWith(reviewTracks(albums));
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
