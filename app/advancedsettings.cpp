#include "app/advancedsettings.h"

#include <algorithm>

#include <QDesktopServices>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QNetworkRequest>
#include <QQmlContext>
#include <QSettings>
#include <QUrlQuery>

#include "app/detaileddatamodel.h"
#include "app/manager.h"
#include "app/qmlapplicationviewer.h"
#include "lookup/apimanager.h"

namespace {

Q_LOGGING_CATEGORY(lcSettings, "corvane.app.advancedsettings")

const QString missingListName = QStringLiteral("missingMediaData");
const QString poorListName = QStringLiteral("poorMediaQuality");
const char *const albumNameProperty = "albumName";

QString serviceBase(const QString &key, const QString &fallback)
{
    const QSettings settings(QStringLiteral("MyComp"), QStringLiteral("MyApp"));
    QString base = settings.value(key, fallback).toString().trimmed();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base.isEmpty() ? fallback : base;
}

// `path` on the service base, with the query items given, each value
// percent-encoded in full first: QUrlQuery alone would leave a "+" (read as
// a space by a web server) and take a "%20" in a name for an encoded space.
QUrl serviceUrl(const QString &base, const QString &path, const QList<QPair<QString, QString>> &items)
{
    QUrl url(base);
    url.setPath(url.path() + path);
    QUrlQuery query;
    for (const auto &item : items)
        query.addQueryItem(item.first, QString::fromLatin1(QUrl::toPercentEncoding(item.second)));
    url.setQuery(query);
    return url;
}

DetailedDataModel *makeRow(const track &t, QObject *owner)
{
    return new DetailedDataModel(true, true, t.id, t.year, t.trackname, t.albumName, t.artistName, t.genre, owner);
}

template <typename Qualifies>
QMap<int, QObject *> addRows(const TrackMap &tracks, QMap<int, QObject *> rows, QObject *owner, Qualifies qualifies)
{
    for (const track &t : tracks) {
        if (qualifies(t))
            rows.insert(t.id, makeRow(t, owner));
    }
    return rows;
}

bool isImage(const QUrl &url)
{
    static const QStringList suffixes{".jpg", ".jpeg", ".png", ".gif", ".bmp", ".webp", ".tif", ".tiff"};
    const QString path = url.path().toLower();
    for (const QString &suffix : suffixes) {
        if (path.endsWith(suffix))
            return true;
    }
    return false;
}

} // namespace

const QString AdvancedSettings::itunesSearchBaseKey = QStringLiteral("Links/ItunesSearchHost");
const QString AdvancedSettings::webShopBaseKey = QStringLiteral("Links/WebShopHost");
const QString AdvancedSettings::defaultItunesSearchBase = QStringLiteral("https://itunes.apple.com");
const QString AdvancedSettings::defaultWebShopBase = QStringLiteral("https://www.amazon.com");

AdvancedSettings::AdvancedSettings(manager &owner)
    : controller(owner), publisher([&owner](const QString &name, const QVariant &value) {
          if (owner.viewer)
              owner.viewer->rootContext()->setContextProperty(name, value);
      })
{
    timer.setInterval(1000);
    connect(&timer, &QTimer::timeout, this, &AdvancedSettings::ituneslink);
    // After the controller's own connection: the views are up to date and
    // the progress dialog gone when the end of a Continue is told.
    if (owner.apiManager)
        connect(owner.apiManager, &ApiManager::updateTrackToManager, this, &AdvancedSettings::lookupTrackSent);
}

AdvancedSettings::~AdvancedSettings()
{
    stopSearches();
    // The maps point into the generation about to be freed.
    controller.missingDataModels.clear();
    controller.poorQualityModels.clear();
}

bool AdvancedSettings::hasMissingData(const track &t)
{
    return t.isMissingData;
}

bool AdvancedSettings::isPoorQuality(const track &t)
{
    return t.quality == 0;
}

TrackMap AdvancedSettings::collectAdvanscettingMedia(const TrackMap &tracks, const std::atomic<bool> &stop)
{
    TrackMap listed;
    for (const track &t : tracks) {
        if (stop)
            break;
        if (hasMissingData(t) || isPoorQuality(t))
            listed.insert(t.id, t);
    }
    return listed;
}

QMap<int, QObject *> AdvancedSettings::Get_MediaDataList(const TrackMap &tracks, QMap<int, QObject *> rows,
                                                         QObject *owner)
{
    return addRows(tracks, std::move(rows), owner, hasMissingData);
}

QMap<int, QObject *> AdvancedSettings::Get_MediaQualityList(const TrackMap &tracks, QMap<int, QObject *> rows,
                                                            QObject *owner)
{
    return addRows(tracks, std::move(rows), owner, isPoorQuality);
}

QUrl AdvancedSettings::itunesSearchUrl(const QString &albumName)
{
    return serviceUrl(serviceBase(itunesSearchBaseKey, defaultItunesSearchBase), QStringLiteral("/search"),
                      {{QStringLiteral("term"), albumName}, {QStringLiteral("entity"), QStringLiteral("album")}});
}

QUrl AdvancedSettings::webShopUrl(const QString &albumName)
{
    return serviceUrl(serviceBase(webShopBaseKey, defaultWebShopBase), QStringLiteral("/s/ref=nb_sb_noss_1"),
                      {{QStringLiteral("url"), QStringLiteral("search-alias=popular")},
                       {QStringLiteral("field-keywords"), albumName}});
}

QUrl AdvancedSettings::storeUrlFromAnswer(const QByteArray &body)
{
    const QJsonArray results = QJsonDocument::fromJson(body).object().value(QStringLiteral("results")).toArray();
    if (results.isEmpty())
        return {};
    const QString text = results.first().toObject().value(QStringLiteral("collectionViewUrl")).toString();
    if (text.isEmpty() || text.size() > maxUrlLength)
        return {};
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return {};
    // Artwork links are not store pages.
    if (isImage(url))
        return {};
    return url;
}

void AdvancedSettings::slPopulateAdvancedSettings()
{
    controller.poorQualityModels.clear();
    controller.missingDataModels.clear();
    if (controller.apiManager)
        controller.apiManager->setDoUpdate(false);
    emit controller.sgShowLoading();
    // The worker reads a copy: the add chain and the lookup may change the
    // review map while it runs.  A second request while one runs is served
    // by the running one.
    auto work = [tracks = controller.reviewTracks](const std::atomic<bool> &stop) {
        return collectAdvanscettingMedia(tracks, stop);
    };
    collectJob.start(work, [this](TrackMap collected) { slfinishcollectAdvanscettingMedia(collected); });
}

void AdvancedSettings::slfinishcollectAdvanscettingMedia(const TrackMap &collected)
{
    if (controller.closing)
        return;
    // A fresh generation; the one QML shows now is kept by the publisher
    // until the next publication.
    rowOwner = std::make_shared<QObject>();
    controller.missingDataModels = Get_MediaDataList(collected, controller.missingDataModels, rowOwner.get());
    controller.poorQualityModels = Get_MediaQualityList(collected, controller.poorQualityModels, rowOwner.get());
    emit controller.sgHideLoading();
    populateAdvancedSettings();
    emit controller.sgShowAdvancedSettings();
}

void AdvancedSettings::populateAdvancedSettings()
{
    publisher.publish(missingListName, QVariant::fromValue(controller.missingDataModels.values()), rowOwner);
    publisher.publish(poorListName, QVariant::fromValue(controller.poorQualityModels.values()), rowOwner);
}

void AdvancedSettings::collectMediaToUpdate()
{
    if (controller.apiManager)
        controller.apiManager->setDoUpdate(true);
    emit controller.updateProgress(QVariant(0), QVariant(0));

    QList<int> ids;
    TrackMap ticked;
    for (auto row = controller.missingDataModels.cbegin(); row != controller.missingDataModels.cend(); ++row) {
        const auto review = controller.reviewTracks.find(row.key());
        if (row.value() && row.value()->property("selected").toBool()) {
            ids.append(row.key());
            if (review != controller.reviewTracks.end())
                ticked.insert(row.key(), review.value());
        } else if (review != controller.reviewTracks.end()) {
            // Left as it is; one of poor quality is still listed as such.
            if (isPoorQuality(review.value()))
                review->isMissingData = false;
            else
                controller.reviewTracks.erase(review);
        }
    }

    continued.clear();
    for (const int id : std::as_const(ids))
        continued.insert(id, false);
    awaitingLookup = !ids.isEmpty();
    lookupCancelled = false;

    controller.progressCount = 0;
    // The lookup's own counter starts again too, or the dialog would open
    // with the previous lookup's count.
    controller.apiProgressCount = 0;
    controller.progressTotal = int(ids.size());
    if (controller.apiManager) {
        // The completion after the add has usually finished by now and holds
        // none of these tracks any more: they are handed over again.
        if (!ticked.isEmpty())
            controller.apiManager->searchfromApi(ticked);
        controller.apiManager->setSelectedIds(ids);
    }

    if (controller.progressCount < controller.progressTotal)
        emit controller.showProgressDialog();
    else if (controller.progressTotal == 0)
        controller.updateProgressBar();
}

QString AdvancedSettings::lookupEndMessage(int completed, int stillMissing, bool cancelled)
{
    const auto tracks = [](int n) { return n == 1 ? QStringLiteral("1 track") : QStringLiteral("%1 tracks").arg(n); };
    const QString lacking = stillMissing == 1 ? QStringLiteral("1 track still lacks data")
                                              : QStringLiteral("%1 tracks still lack data").arg(stillMissing);
    if (cancelled) {
        if (completed == 0)
            return QStringLiteral("The lookup was cancelled before any track was completed: %1.").arg(lacking);
        if (stillMissing == 0)
            return QStringLiteral("The lookup was cancelled: %1 completed before the cancel.").arg(tracks(completed));
        return QStringLiteral("The lookup was cancelled: %1 completed before the cancel, %2.")
            .arg(tracks(completed), lacking);
    }
    if (stillMissing == 0)
        return QStringLiteral("The lookup is done: %1 completed.").arg(tracks(completed));
    if (completed == 0)
        return QStringLiteral("The lookup is done, but no more data could be found: %1.").arg(lacking);
    return QStringLiteral("The lookup is done: %1 completed, %2.").arg(tracks(completed), lacking);
}

void AdvancedSettings::lookupTrackSent(const track &t)
{
    if (!awaitingLookup)
        return;
    if (t.id != ApiManager::endMarkId) {
        const auto ticked = continued.find(t.id);
        if (ticked != continued.end())
            *ticked = !t.isMissingData;
        return;
    }
    awaitingLookup = false;
    if (controller.closing)
        return;
    const int completed = int(std::count(continued.cbegin(), continued.cend(), true));
    emit controller.showMessageBox(
        QVariant(lookupEndMessage(completed, int(continued.size()) - completed, lookupCancelled)));
}

void AdvancedSettings::cancelOptimization()
{
    // The stopped job still sends what it completed, then its end mark:
    // that end is the cancel's.
    if (awaitingLookup)
        lookupCancelled = true;
    if (controller.apiManager)
        controller.apiManager->stopOptimisation();
    if (!controller.closing)
        controller.refreshViews();
}

void AdvancedSettings::advancedSettingsLinkTab(int tabIndex)
{
    if (tabIndex != 0 && tabIndex != 1)
        return;
    QStringList listed;
    for (QObject *row : std::as_const(controller.poorQualityModels)) {
        if (listed.size() >= maxAlbumsPerCall)
            break;
        if (!row || !row->property("selected").toBool())
            continue;
        const QString album = row->property("albumname").toString();
        if (listed.contains(album))
            continue;
        listed.append(album);
        if (tabIndex == 1)
            QDesktopServices::openUrl(webShopUrl(album));
        else
            ituneapi(album);
    }
}

void AdvancedSettings::ituneapi(const QString &albumName)
{
    if (!itunesapisearch.contains(albumName))
        itunesapisearch.append(albumName);
    if (!timer.isActive())
        timer.start();
}

void AdvancedSettings::ituneslink()
{
    if (itunesapisearch.isEmpty()) {
        timer.stop();
        return;
    }
    // One question at a time: the first name waits for its answer (or an
    // error, or the timeout) instead of being asked again at every tick.
    if (currentReply)
        return;
    const QString album = itunesapisearch.first();
    QNetworkRequest request(itunesSearchUrl(album));
    request.setTransferTimeout(requestTimeout);
    QNetworkReply *reply = networkManager.get(request);
    reply->setProperty(albumNameProperty, album);
    currentReply = reply;
    // The answer is read whole once it has arrived, never piece by piece.
    connect(reply, &QNetworkReply::finished, this, &AdvancedSettings::onReply);
    connect(reply, &QNetworkReply::errorOccurred, this, &AdvancedSettings::onItunesApiOnlineOffline);
}

void AdvancedSettings::onReply()
{
    auto *reply = qobject_cast<QNetworkReply *>(sender());
    if (!reply)
        return;
    reply->deleteLater();
    // A reply dropped by its error signal (or by the close) has been dealt with.
    if (reply != currentReply)
        return;
    if (reply->error() != QNetworkReply::NoError) {
        onItunesApiOnlineOffline(reply->error());
        return;
    }
    currentReply = nullptr;

    const QUrl store = storeUrlFromAnswer(reply->readAll());
    if (!store.isEmpty())
        QDesktopServices::openUrl(store);
    else
        qCDebug(lcSettings) << "no store page to open for" << reply->property(albumNameProperty).toString();

    itunesapisearch.removeOne(reply->property(albumNameProperty).toString());
    if (itunesapisearch.isEmpty())
        timer.stop();
}

void AdvancedSettings::onItunesApiOnlineOffline(QNetworkReply::NetworkError error)
{
    // Only the search in hand speaks for the queue.
    if (auto *reply = qobject_cast<QNetworkReply *>(sender()); reply && reply != currentReply)
        return;
    qCDebug(lcSettings) << "iTunes search failed, queue dropped:" << error;
    currentReply = nullptr;
    timer.stop();
    itunesapisearch.clear();
}

void AdvancedSettings::stopSearches()
{
    timer.stop();
    itunesapisearch.clear();
    if (QNetworkReply *reply = currentReply) {
        currentReply = nullptr;
        reply->abort();
    }
}
