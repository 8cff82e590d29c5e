#ifndef MANAGER_H
#define MANAGER_H

#include <QObject>

#include "core/track.h"
#include "core/track_data.h"

// Start-up and controller state
#include <QFuture>
#include <QFutureWatcher>
#include <QList>
#include <QMap>
#include <QStringList>
#include <QVariant>

class ApiManager;
class Licence;
class Logging;
class QmlApplicationViewer;

// The controller the QML user interface talks to.  Built in steps: its
// operations are grouped below by area.
class manager : public QObject, public track_data
{
    Q_OBJECT

public:
    manager();  // a controller without a view

    // ---- Quality classes --------------------------------------------------
    // 0 up to 128 kbit/s, 1 from 129 to 255, 2 from 256.  Needs no state.
    static int getMediaQuality(int bitrate);

    // ---- Library id look-ups ----------------------------------------------


    // ---- Library views ----------------------------------------------------


    // ---- Start-up and controller state ------------------------------------
    // The controller of the application window.  Made once by start-up with
    // the view, before the QML file is read: it loads the library and
    // publishes the seven library views, init() publishes the rest of the
    // context properties and loads the interface.  Everything here runs in
    // the GUI thread; the views rebuild runs on a worker that only reads a
    // copy of the library and returns new rows, which the GUI thread
    // publishes.  Slots named here that belong to features this build does
    // not have write one debug line and do nothing.
    manager(QmlApplicationViewer *viewer, QObject *parent);
    ~manager() override;

    void init();
    void initContextProperties();
    void fillCombo();

    // Emits sgShowLoading() and rebuilds the library views from libraryTracks
    // on a worker.  Requests made while a rebuild runs are merged: when it
    // ends, one more rebuild takes the library as it is then, and only the
    // newest rows are published (then sgRefreshMain(), sgHideLoading()).
    void refreshViews();
    // The worker body: the seven views of `tracks`, rows living in the GUI thread.
    static LibraryViews refreshViewsThread(TrackMap tracks, ViewInput input);
    // True while a views rebuild runs or waits to run.
    bool isRefreshingViews() const;
    // Waits at most `msecs` for a running views rebuild; true when none runs.
    bool waitForWorkers(int msecs);

    void initializeCheckboxes();
    void updateProgressBar();

    // The primary screen's height in pixels (published as "screenWidth").
    qint64 screenHeight = 0;

    bool filterActive = false;
    bool closing = false;
    int libraryView = 0;      // 0 albums, 1 artists, 2 tracks, 3 playlists, 4 podcasts, 5 audiobooks, 6 videos
    int browserView = 0;      // 0 albums, 1 artists, 2 tracks
    int displayType = 0;      // 0 thumbnails, 1 detail list
    int settingsView = 0;     // 0 missing data, 1 poor quality
    int mediaTypeFilter = 0;  // 0 music, 1 playlists, 2 podcasts, 3 audiobooks, 4 videos
    QmlApplicationViewer *viewer = nullptr;  // not owned
    track_data scanner;
    Licence *licenceViewer = nullptr;

    // The published generation of the seven library views; the previous one
    // is kept until the next publication, so QML never reads a freed row.
    LibraryViews libraryViews;
    LibraryViews retiredViews;
    QMap<QString, QStringList> ArtistCoverartList;

    TrackMap libraryTracks;
    TrackMap reviewTracks;
    QList<int> checkedArtistIds;
    QList<int> checkedAlbumIds;
    QList<int> checkedTrackIds;
    QList<int> checkedPlaylistIds;
    // Progress of the lookup and of the copy (full ints: a large add must
    // not wrap the counters).
    int progressTotal = 0;
    int progressCount = 0;
    int apiProgressCount = 0;
    Logging *logger = nullptr;
    ApiManager *apiManager = nullptr;
    bool mediaBrowserClosed = false;

public slots:
    void setMainValue();
    void refreshMain();
    void populateMediaLibrary();
    void saveData();
    void setLibraryView(int index);
    void setBrowserView(int index);
    void setSettingsView(int index);
    void slCancelSearch();
    void slMediaBrowserClosed();
    void UpdateAPIProgress();
    void LicenseSlotMac();

    // Features this build does not have: present so the interface's links hold.
    void searchInMediaSourceCache(QString source);
    void addToMainObject();
    void exeRemoveTransfer(QString action);
    void searchBox(QString name);
    void slCancelSearchCopy();
    void setDisplayType(int index);
    void filterForCheckboxes(int index);
    void selectDeselectForBrowser(bool checked);
    void selectDeselectForLibrary(bool checked);
    void selectDeselectForSettings(bool checked);
    void slPopulateAdvancedSettings();
    void collectMediaToUpdate();
    void cancelOptimization();
    void advancedSettingsLinkTab(int tabIndex);
    void slCancelVideOptimising();
    void slSelectDeselectInTracksView(QString albumName, int index, bool checked);
    void updateMainObjectMgr(track updatedTrack);

signals:
    void sgRefreshBrowser();
    void sgShowProtectedMediaDialog();
    void sgRefreshMain();
    void sgShowAdvancedSettings();
    void showProgressDialog();
    void updateProgress(QVariant total, QVariant counter);
    void updateProgressSearch(QVariant total, QVariant counter, QVariant filename);
    void sgShowSearchProgress(QVariant message);
    void sgShowLoading();
    void sgHideLoading();
    void showMessageBox(QVariant message);
    void sgShowVideoOptimisation();
    void sgVideoAproxTime(QVariant approxTime);
    void sgUpdateProgressVideo(QVariant filePath, QVariant trackId, QVariant progress);
    void sgAllFileCompleteVideo();
    void sgHideMediaBrowser();
    void sgUpdateTranscodingCounter(QVariant count, QVariant totalCount);
    void showTransferBrowser();

private:
    ViewInput viewInput() const;
    void startViewsRebuild();
    void viewsRebuildFinished();
    void publishViews(LibraryViews views);
    void setContextProperty(const QString &name, const QVariant &value);
    void closeOnQuit();

    QFutureWatcher<LibraryViews> *viewsWatcher = nullptr;
    bool viewsRebuildPending = false;
    QFuture<bool> artworkFuture;
};

#endif // MANAGER_H
