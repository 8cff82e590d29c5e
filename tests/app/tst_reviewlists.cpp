#include <QtTest>

#include <QDesktopServices>
#include <QQmlContext>
#include <QQuickItem>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrlQuery>

#include <memory>

#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>

#include "app/advancedsettings.h"
#include "app/libraryadder.h"
#include "app/manager.h"
#include "app/startup.h"
#include "core/shared.h"
#include "libraryfixture.h"
#include "lookup/apimanager.h"
#include "mediakit.h"
#include "testenv.h"
#include "windowdriver.h"

// The advanced settings' two review lists after a real add from the media
// browser, through the window: what the completion after the add leaves in
// them, what Continue completes, and the shop tabs over the poor-quality
// albums against a local HTTP server.

namespace {

// The Music folder: an untagged 96 kbit/s MP3 on its own; a 128 kbit/s MP3
// with title, album, genre and year but no artist and no track number,
// beside the fifteen tracks of its album; and 60 tagged tracks without
// artwork in four albums, two at 128 kbit/s and two at 192.
const QString untagged = QStringLiteral("untagged.mp3");
const QString halfTagged = QStringLiteral("07 Half.mp3");
const QStringList poorAlbums{QStringLiteral("Coastline"), QStringLiteral("Harbour")};
const QStringList fairAlbums{QStringLiteral("Summit"), QStringLiteral("Valley")};

QString albumFile(const QString &album, int number)
{
    return QStringLiteral("%1 %2.mp3").arg(album).arg(number, 2, 10, QLatin1Char('0'));
}

bool tag(const QString &path, const QString &title, const QString &artist, const QString &album, int number)
{
    TagLib::MPEG::File file(QFile::encodeName(path).constData());
    TagLib::ID3v2::Tag *id3 = file.ID3v2Tag(true);
    id3->setTitle(QStringToTString(title));
    id3->setArtist(QStringToTString(artist));
    id3->setAlbum(QStringToTString(album));
    id3->setGenre("Pop");
    id3->setYear(2010);
    id3->setTrack(number);
    return file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v3);
}

} // namespace

class TestReviewLists : public QObject
{
    Q_OBJECT

public slots:
    void open(const QUrl &url) { browsed << url; }

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void listsAfterAnAdd_data();
    void listsAfterAnAdd();

private:
    void answer(QTcpSocket *socket);
    QQuickItem *item(const QString &name, QQuickItem *in = nullptr) const;
    // Clicks the item once it shows; false when it never does.
    bool click(const QString &name);
    // File names of a published list's tracks, sorted.
    QStringList listed(const char *list) const;
    bool openSettings();

    std::unique_ptr<StartUp> app;
    manager *controller = nullptr;
    QTcpServer service;
    QStringList searched;
    QList<QUrl> browsed;
    QStringList everyFile;
};

void TestReviewLists::initTestCase()
{
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    testkit::MediaKit kit(music);
    // Long enough to pass the scan's size threshold, and for TagLib to
    // report the rate it was made at.
    const QString poor = kit.untaggedMp3(QStringLiteral("base/128.mp3"), 9, 128);
    const QString fair = kit.untaggedMp3(QStringLiteral("base/192.mp3"), 9, 192);
    QVERIFY2(!poor.isEmpty() && !fair.isEmpty() && !kit.untaggedMp3("Loose/" + untagged, 12, 96).isEmpty(),
             qPrintable(kit.lastError()));
    everyFile << untagged << halfTagged;
    for (const QString &album : poorAlbums + fairAlbums) {
        QVERIFY(QDir(music).mkpath(album));
        for (int number = 1; number <= 15; ++number) {
            const QString target = music + '/' + album + '/' + albumFile(album, number);
            QVERIFY(QFile::copy(poorAlbums.contains(album) ? poor : fair, target));
            QVERIFY(tag(target, albumFile(album, number).chopped(4), QStringLiteral("Band"), album, number));
            everyFile << albumFile(album, number);
        }
    }
    const QString half = music + QStringLiteral("/Coastline/") + halfTagged;
    QVERIFY(QFile::copy(poor, half) && tag(half, QStringLiteral("Half"), QString(), QStringLiteral("Coastline"), 0));
    QVERIFY(QDir(music + QStringLiteral("/base")).removeRecursively());
    everyFile.sort();

    // The iTunes search service and the web shop: every search finds its store page.
    connect(&service, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = service.nextPendingConnection())
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { answer(socket); });
    });
    QVERIFY(service.listen(QHostAddress::LocalHost));
    QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open");
}

void TestReviewLists::answer(QTcpSocket *socket)
{
    const QUrl asked(QString::fromLatin1(socket->readAll().split(' ').value(1)));
    const QString term = QUrlQuery(asked).queryItemValue(QStringLiteral("term"), QUrl::FullyDecoded);
    searched << term;
    QUrl store(QStringLiteral("https://music.example/album"));
    store.setQuery({{QStringLiteral("n"), term}});
    const QByteArray body =
        R"({"resultCount":1,"results":[{"collectionViewUrl":")" + store.toEncoded() + R"("}]})";
    socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " + QByteArray::number(body.size()) +
                  "\r\n\r\n" + body);
    socket->disconnectFromHost();
}

void TestReviewLists::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
}

void TestReviewLists::cleanup()
{
    app.reset();
    controller = nullptr;
    LibraryAdder::setOnlineOverride(std::nullopt);
    // The next row adds to an empty library again.
    testkit::forgetLibrary();
    QDir(shared::dataFolder()).removeRecursively();
}

QQuickItem *TestReviewLists::item(const QString &name, QQuickItem *in) const
{
    return testkit::findItem(in ? in : app->viewer().contentItem(), name);
}

bool TestReviewLists::click(const QString &name)
{
    return testkit::clickItem(app->viewer(), name);
}

QStringList TestReviewLists::listed(const char *list) const
{
    QStringList names;
    const QObjectList rows =
        app->viewer().rootContext()->contextProperty(QString::fromLatin1(list)).value<QObjectList>();
    for (const QObject *row : rows)
        names << controller->libraryTracks.value(row->property("trackid").toInt()).filename;
    names.sort();
    return names;
}

bool TestReviewLists::openSettings()
{
    QObject *dialog = app->viewer().rootObject()->findChild<QObject *>(QStringLiteral("advancedSettingsDialog"));
    // Closed (after a Continue), and the lookup's progress dialog gone.
    return dialog && QTest::qWaitFor([this, dialog] {
               QQuickItem *progress = item(QStringLiteral("progressDialog"));
               return !dialog->property("visible").toBool() && (!progress || !progress->isVisible());
           }, 30000) &&
           click(QStringLiteral("advancedSettingsButton")) &&
           QTest::qWaitFor([dialog] { return dialog->property("opened").toBool(); }, 30000);
}

void TestReviewLists::listsAfterAnAdd_data()
{
    QTest::addColumn<bool>("online");
    QTest::addColumn<bool>("completedAfterAdd");
    QTest::addColumn<bool>("untickUntagged"); // the user leaves it as it is
    QTest::addColumn<QString>("told");        // at the end of the lookup of Continue; "": nothing
    // The half-tagged track learns its artist from its album's tracks, and
    // the tracks without artwork have complete tags: only the untagged
    // track is left to complete.
    QTest::addRow("completed after the add")
        << true << true << false << "The lookup is done, but no more data could be found: 1 track still lacks data.";
    QTest::addRow("completed after the add, the rest left as it is") << true << true << true << QString();
    // Nothing was completed after the add: Continue does it.
    QTest::addRow("no network at the add")
        << false << false << false << "The lookup is done: 61 tracks completed, 1 track still lacks data.";
}

void TestReviewLists::listsAfterAnAdd()
{
    QFETCH(bool, online);
    QFETCH(bool, completedAfterAdd);
    QFETCH(bool, untickUntagged);
    QStringList poorFiles{untagged, halfTagged};
    for (const QString &album : poorAlbums) {
        for (int number = 1; number <= 15; ++number)
            poorFiles << albumFile(album, number);
    }
    poorFiles.sort();
    QSettings settings(QStringLiteral("MyComp"), QStringLiteral("MyApp"));
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(service.serverPort());
    settings.setValue(AdvancedSettings::itunesSearchBaseKey, base);
    settings.setValue(AdvancedSettings::webShopBaseKey, base);
    LibraryAdder::setOnlineOverride(online);
    browsed.clear();
    searched.clear();

    app = std::make_unique<StartUp>();
    app->start();
    QVERIFY(app->viewer().rootObject());
    app->viewer().showNormal();
    app->viewer().resize(1280, 800);
    controller = app->controller();
    QTRY_VERIFY(!controller->isCheckingLibrary() && !controller->isRefreshingViews());
    controller->advancedSettings->setSearchInterval(5);

    // Everything in the Music folder added from the media browser.
    QVERIFY(QMetaObject::invokeMethod(app->viewer().rootObject(), "showStartPage",
                                      Q_ARG(QVariant, QStringLiteral("Model"))));
    QVERIFY(click(QStringLiteral("startAddMediaButton")));
    QTRY_VERIFY(item(QStringLiteral("mediaBrowser"))->isVisible());
    QVERIFY(click(QStringLiteral("source_mymusic")));
    QTRY_COMPARE_WITH_TIMEOUT(item(QStringLiteral("browserAlbumsGrid"))->property("count").toInt(), 5, 60000);
    QTRY_VERIFY_WITH_TIMEOUT(!item(QStringLiteral("loadingOverlay"))->isVisible(), 60000);
    ApiManager *lookup = ApiManager::getinstance();
    QSignalSpy lookedUp(lookup, &ApiManager::updateTrackToManager);
    QSignalSpy addEnded(controller, &manager::updateProgressSearch);
    QVERIFY(click(QStringLiteral("browserSelectAll")));
    QVERIFY(click(QStringLiteral("browserAddButton")));
    const auto ended = [&addEnded] {
        for (const QList<QVariant> &step : std::as_const(addEnded)) {
            if (step.at(0).value<QVariant>().toInt() == 1 && step.at(1).value<QVariant>().toInt() == 1 &&
                step.at(2).value<QVariant>().toString().isEmpty())
                return true;
        }
        return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(ended(), 120000);
    QTRY_VERIFY_WITH_TIMEOUT(!lookup->isRunning(), 120000);
    QCOMPARE(controller->libraryTracks.size(), everyFile.size());
    QCOMPARE(lookedUp.isEmpty(), !online);

    QVERIFY(openSettings());
    QCOMPARE(listed("missingMediaData"), completedAfterAdd ? QStringList{untagged} : everyFile);
    QCOMPARE(listed("poorMediaQuality"), poorFiles);

    // Continue over the tracks ticked: what the library can complete leaves
    // the missing-data list, the rest stays; no completion changes a quality,
    // and leaving a track as it is does not make it good.
    if (untickUntagged) {
        for (QObject *row : std::as_const(controller->missingDataModels)) {
            if (controller->libraryTracks.value(row->property("trackid").toInt()).filename == untagged)
                row->setProperty("selected", false);
        }
    }
    lookedUp.clear();
    QVERIFY(click(QStringLiteral("advancedSettingsContinue")));
    QTRY_VERIFY_WITH_TIMEOUT(!lookedUp.isEmpty() &&
                                 lookedUp.last().at(0).value<track>().id == ApiManager::endMarkId,
                             120000);
    QTRY_VERIFY_WITH_TIMEOUT(!controller->isRefreshingViews(), 30000);
    // The user is told what became of the ticked tracks.
    QFETCH(QString, told);
    QObject *box = app->viewer().rootObject()->findChild<QObject *>(QStringLiteral("messageBox"));
    QVERIFY(box);
    if (told.isEmpty()) {
        QVERIFY(!box->property("opened").toBool());
    } else {
        QTRY_VERIFY(box->property("opened").toBool());
        QCOMPARE(box->property("message").toString(), told);
        QVERIFY(click(QStringLiteral("messageOkButton")));
        QTRY_VERIFY(!box->property("visible").toBool());
    }
    QVERIFY(openSettings());
    QCOMPARE(listed("missingMediaData"), untickUntagged ? QStringList() : QStringList{untagged});
    QCOMPARE(listed("poorMediaQuality"), poorFiles);
    track half;
    for (const track &t : std::as_const(controller->libraryTracks)) {
        if (t.filename == halfTagged)
            half = t;
    }
    QCOMPARE(half.artistName, QStringLiteral("Band"));
    QCOMPARE(half.tracknumber, 7); // from its file name

    // The shop tabs over the poor-quality albums, each album once.
    QString untaggedAlbum;
    for (const track &t : std::as_const(controller->libraryTracks)) {
        if (t.filename == untagged)
            untaggedAlbum = t.albumName;
    }
    QStringList albums = poorAlbums + QStringList{untaggedAlbum};
    albums.sort();
    QVERIFY(click(QStringLiteral("poorQualityTab")));
    QVERIFY(click(QStringLiteral("linkTab1")));
    QStringList shop;
    for (const QUrl &url : std::as_const(browsed))
        shop << QUrlQuery(url).queryItemValue(QStringLiteral("field-keywords"), QUrl::FullyDecoded);
    shop.sort();
    QCOMPARE(shop, albums);
    browsed.clear();
    QVERIFY(click(QStringLiteral("linkTab0")));
    QTRY_VERIFY_WITH_TIMEOUT(!controller->advancedSettings->isSearching(), 30000);
    QStringList stores;
    for (const QUrl &url : std::as_const(browsed))
        stores << QUrlQuery(url).queryItemValue(QStringLiteral("n"), QUrl::FullyDecoded);
    searched.sort();
    stores.sort();
    QCOMPARE(searched, albums);
    QCOMPARE(stores, albums);
}

CORVANE_TEST_MAIN(TestReviewLists)
#include "tst_reviewlists.moc"
