#ifndef ADVANCEDSETTINGS_H
#define ADVANCEDSETTINGS_H

#include <QHash>
#include <QMap>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <memory>

#include "app/rowpublisher.h"
#include "core/backgroundjob.h"
#include "core/track.h"

class manager;

// The advanced settings dialog: after an add, the review tracks with missing
// data and those of poor quality as two lists of rows; Continue hands the
// ticked missing-data tracks to the lookup job, Cancel stops it; the
// poor-quality list leads to iTunes store pages and to a web shop's search
// page for better copies of its albums.
//
// The controller's maps (reviewTracks, missingDataModels, poorQualityModels),
// its signals towards QML and its lookup job are the controller's; this
// object owns the collection job, the row generations and the iTunes search
// queue.  Everything but the collection job runs in the GUI thread.  The
// controller holds it and destroys it before its own maps.
class AdvancedSettings : public QObject
{
    Q_OBJECT

public:
    // Settings (QSettings "MyComp"/"MyApp") naming the two services: a base
    // URL each, scheme and host (and port), without a trailing path.
    static const QString itunesSearchBaseKey;
    static const QString webShopBaseKey;
    static const QString defaultItunesSearchBase;
    static const QString defaultWebShopBase;

    // Albums one link-tab call handles at most.
    static constexpr int maxAlbumsPerCall = 15;
    // An answer's store URL longer than this is not opened.
    static constexpr int maxUrlLength = 499;

    explicit AdvancedSettings(manager &controller);
    ~AdvancedSettings() override;

    // Whether a review track belongs in each list.
    static bool hasMissingData(const track &t);
    static bool isPoorQuality(const track &t);

    // The worker: of `tracks` (a copy of reviewTracks), those that belong in
    // either list.  Plain data: the rows are made in the GUI thread.
    static TrackMap collectAdvanscettingMedia(const TrackMap &tracks, const std::atomic<bool> &stop);
    // Rows for the tracks with missing data / of poor quality, inserted into
    // `rows` under the track id (replacing a row with that key) as children
    // of `owner`, in ascending id.
    static QMap<int, QObject *> Get_MediaDataList(const TrackMap &tracks, QMap<int, QObject *> rows, QObject *owner);
    static QMap<int, QObject *> Get_MediaQualityList(const TrackMap &tracks, QMap<int, QObject *> rows, QObject *owner);

    // The two service URLs for one album name, the name carried as a query
    // value (an "&", "#" or "+" in it stays part of the name).
    static QUrl itunesSearchUrl(const QString &albumName);
    static QUrl webShopUrl(const QString &albumName);
    // The store page of a search answer: the first collection URL of the
    // first result; empty when there is none or it must not be opened.
    static QUrl storeUrlFromAnswer(const QByteArray &body);

    // What the user is told when the lookup of a Continue ends, or ends
    // early because the user cancelled it: how many of the ticked tracks were
    // completed and how many still lack data.
    static QString lookupEndMessage(int completed, int stillMissing, bool cancelled = false);

    // The controller's operations.
    void slPopulateAdvancedSettings();
    void populateAdvancedSettings();
    void collectMediaToUpdate();
    void cancelOptimization();
    void advancedSettingsLinkTab(int tabIndex);
    void ituneapi(const QString &albumName);

    // True while album names wait for their iTunes search.
    bool isSearching() const { return timer.isActive(); }
    // Interval between two searches (one second unless a test shortens it).
    void setSearchInterval(int msecs) { timer.setInterval(msecs); }
    // A search that gets no answer in this time counts as a network error.
    void setRequestTimeout(int msecs) { requestTimeout = msecs; }

public slots:
    void ituneslink();
    void onReply();
    void onItunesApiOnlineOffline(QNetworkReply::NetworkError error);

private:
    void slfinishcollectAdvanscettingMedia(const TrackMap &collected);
    void stopSearches();
    // Each track the lookup sends, and its end mark.
    void lookupTrackSent(const track &t);

    manager &controller;
    BackgroundJob<TrackMap> collectJob;
    RowPublisher publisher;
    std::shared_ptr<QObject> rowOwner; // the generation in the two maps
    // The tracks ticked at the last Continue, each true once the lookup has
    // sent it complete; told about when the lookup ends.
    QHash<int, bool> continued;
    bool awaitingLookup = false;
    // The user cancelled that lookup: its end mark still comes (after the
    // tracks completed before the stop), and the end is told as a cancel.
    bool lookupCancelled = false;

    QStringList itunesapisearch;
    QTimer timer;
    QNetworkAccessManager networkManager;
    QPointer<QNetworkReply> currentReply;
    int requestTimeout = 15000;
};

#endif // ADVANCEDSETTINGS_H
