#ifndef MANAGER_H
#define MANAGER_H

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include <QFuture>
#include <QFutureWatcher>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <QVariant>

#include "app/libraryticks.h"
#include "core/backgroundjob.h"
#include "core/track.h"
#include "core/track_data.h"
#include "core/workguard.h"
#include "database/ruvodb.h"

class AdvancedSettings;
class ApiManager;
class DetailedDataModel;
class LibraryAdder;
class LibraryRemover;
class Licence;
class Logging;
class MediaBrowser;
class QmlApplicationViewer;
class QThread;
class TrackList;
class VideoOptimisation;

// The controller the QML user interface talks to: the slots and signals the
// interface links to, each feature's slots forwarding to the object that
// owns the feature.  Its operations are grouped below by area.
class manager : public QObject, public track_data
{
    Q_OBJECT

public:
    manager();  // a controller without a view

    // ---- Quality classes --------------------------------------------------
    // 0 up to 128 kbit/s, 1 from 129 to 255, 2 from 256.  Needs no state.
    static int getMediaQuality(int bitrate);

    // ---- Library id look-ups ----------------------------------------------
    // The ids under which the library map already files a name or a file,
    // else a new id: the largest id of that kind + 1 (1 for an empty map).
    // They walk the map in ascending id order and only read it, so the add
    // chain sees the tracks it has just given ids before they are stored.
    // Ids are 32-bit: largest + 1 never wraps at 32767.

    // Artist id of the first track whose artist name equals `name` exactly.
    static int getArtistID(const TrackMap &library, const QString &name);
    // Album id of the first track whose album name equals `name`, both sides
    // lower-cased.
    static int getAlbumID(const TrackMap &library, const QString &name);
    // Playlist id of the first track whose playlist name equals `name`
    // exactly; a track outside any playlist has playlist id 0.
    static int getPlaylistID(const TrackMap &library, const QString &name);
    // Id of the first track with this file path (separators normalised,
    // case-sensitive); an empty path never matches.
    static int getTrackID(const TrackMap &library, const QString &path);
    // Next free id among the records of a running add: the largest `id`
    // field + 1, or 1 for an empty map.
    static int getTrackIDVideo(const TrackMap &processingTracks);
    // The duplicate test: id of the first track with this file path and,
    // when playlistId > 0, this playlist name, or, when playlistId <= 0, no
    // playlist; 0 when none.  The fourth text is accepted and not used.
    static int getTrack(const TrackMap &library, const QString &path, int playlistId, const QString &playlist,
                        const QString &trackname = QString());

    // ---- Library views ----------------------------------------------------
    // The seven library views (albums, artists, tracks, playlists, podcasts,
    // audiobooks, videos) and the media browser's album, artist and track
    // views.  A builder reads only its arguments: the track map and a copy of
    // the controller state the view depends on (ViewInput).  It returns fresh
    // row objects, all children of the result's `owner`, so a view can be
    // built on a worker and published on the GUI thread; dropping the last
    // reference to `owner` frees the whole generation.  Results that the
    // controller keeps between builds (the artist cover lists, the video
    // titles already used) come back in the result for the caller to store.

    // Lower-cased texts of one track, worked out once for a browser track
    // set: the search compares them and the detail lists sort by them.
    struct TrackTexts
    {
        explicit TrackTexts(const track &t);
        // Whether these are the texts of t (its id, and the same names).
        bool of(const track &t) const;

        int id = 0;
        QString album;
        QString artist;
        QString title;
        QString genre;
        QString file;

    private:
        // The names they were worked out from.
        QString albumName;
        QString artistName;
        QString trackname;
        QString genreName;
        QString filename;
    };
    // The texts of every track of a map, in the map's order, and the orders
    // the detail lists sort them in: each worked out once, when first asked
    // for (from any thread), so that a detail list of some of the tracks is
    // put in order by comparing numbers instead of texts.
    class TrackTextList : public std::vector<TrackTexts>
    {
    public:
        using std::vector<TrackTexts>::vector;
        // Album, artist or title order, or album order with file names for
        // titles (the videos' detail lines).
        enum Order { ByAlbum, ByArtist, ByTitle, ByAlbumAndFile, Orders };
        // The place of each track (by its index here) in `order`; tracks
        // whose sort texts are equal keep the order they have here.
        const std::vector<int> &ranks(Order order) const;

    private:
        mutable std::array<std::once_flag, Orders> ranked;
        mutable std::array<std::vector<int>, Orders> places;
    };
    static std::shared_ptr<const TrackTextList> textsOf(const TrackMap &tracks);
    // Whether `texts` are those of `tracks` (of each of its tracks, in order).
    static bool textsAreOf(const TrackTextList *texts, const TrackMap &tracks);
    // A track a search leaves shown, with its texts.
    using ShownTrack = std::pair<const track *, const TrackTexts *>;
    // The album and track counts of every artist (by name) that a browser
    // category counts, as getAlbumCount and getTrackCount give them.
    using ArtistCountList = QHash<QString, std::pair<int, int>>;
    static std::shared_ptr<const ArtistCountList> browserArtistCounts(const TrackMap &tracks, int mediaTypeFilter);
    // How many tracks of a map each browser category (0 music … 4 videos)
    // holds, hidden ones included.
    static QList<int> browserCategoryCounts(const TrackMap &tracks);

    // The controller state a view build reads, copied when the build starts.
    struct ViewInput
    {
        QList<int> checkedArtistIds;
        QList<int> checkedAlbumIds;
        QList<int> checkedTrackIds;
        QList<int> checkedPlaylistIds;
        int browserView = 0;      // media browser: 0 albums, 1 artists, 2 tracks
        int mediaTypeFilter = 0;  // 0 music, 1 playlists, 2 podcasts, 3 audiobooks, 4 videos
        // Set by the GUI thread when the media browser closes; a browser
        // build reads it once per track and returns what it has so far.
        const std::atomic<bool> *mediaBrowserClosed = nullptr;
        // Lower-cased artist name -> cover paths, carried from build to build
        // (ArtistCoverartList); emptied by the caller before a library rebuild.
        QMap<QString, QStringList> artistCoverArt;
        // Video file names already used as keys since the browser was emptied.
        QStringList seenVideoTitles;
        // Thread that will use the rows (the GUI thread); nullptr keeps them
        // in the building thread.
        QThread *rowThread = nullptr;
        // Browser builds: the texts of the map built from (textsOf); null,
        // or not of that map, and they are lowered as needed.
        std::shared_ptr<const TrackTextList> texts;
        // Browser builds: the tracks not hidden, in id order, pointing into
        // the map built from; null: each track's isHidden says.  For an
        // artist build they are whole artists (all tracks whose artist's
        // name lower-cases alike, as a search of the names leaves them).
        const std::vector<ShownTrack> *shown = nullptr;
        // Browser artist builds: browserArtistCounts of the map built from in
        // the build's category; null: counted by the build.
        std::shared_ptr<const ArtistCountList> artistCounts;
        // Browser builds: the parts to make, the rows (with the results that
        // come with them: cover lists, video titles) and the detail lines.
        bool rows = true;
        bool details = true;
    };

    // One built view.
    struct ViewResult
    {
        QMap<QString, QObject *> models;         // rows; key order is display order
        QList<QObject *> details;                // browser detail lines, sorted
        QMap<QString, QStringList> artistCoverArt; // artist builder: the updated cover lists
        QStringList seenVideoTitles;             // album builder: the updated video titles
        std::shared_ptr<QObject> owner;          // parent of every object above...
        std::shared_ptr<QObject> detailsOwner;   // ...but the details, when they were built apart
        // Browser track rows: the ids of the tracks of each row (rows in key
        // order, row r's from ids[rowStarts[r]] to ids[rowStarts[r + 1]]) and
        // the first row of each group (and the end), so that a search can
        // show some of these rows and tracks again instead of making rows.
        struct RowTracks
        {
            std::vector<int> ids;
            std::vector<int> rowStarts{0};
            std::vector<int> groupStarts{0};
        };
        std::shared_ptr<const RowTracks> rowTracks;
    };

    // All seven library views, named after the controller members that
    // publish them.
    struct LibraryViews
    {
        ViewResult albumModels;
        ViewResult artistModels;
        ViewResult trackRowModels;
        ViewResult playlistModels;
        ViewResult podcastModels;
        ViewResult audiobookModels;
        ViewResult videoModels;
        QMap<QString, QStringList> ArtistCoverartList;
    };

    // Builds the seven library views from the library, starting with empty
    // artist cover lists.
    static LibraryViews buildLibraryViews(const TrackMap &libraryTracks, const ViewInput &input);

    // Albums and artists; isMain chooses the library (true) or the media
    // browser (false).
    static ViewResult Get_Albumlist(bool isMain, const TrackMap &tracks, const ViewInput &input);
    static ViewResult Get_Artistlist(bool isMain, const TrackMap &tracks, const ViewInput &input);
    // Grouped track rows: groups shown as rows of at most six tracks.
    static ViewResult Get_Tracklist(bool isMain, const TrackMap &tracks, const ViewInput &input);
    static ViewResult Get_Playlist(const TrackMap &tracks, const ViewInput &input);
    static ViewResult Get_Podcastlist(const TrackMap &tracks, const ViewInput &input);
    static ViewResult Get_Audiobooklist(const TrackMap &tracks, const ViewInput &input);
    static ViewResult Get_Videolist(const TrackMap &tracks, const ViewInput &input);
    // The video view alone, rebuilt from the library after a video is
    // optimised; the caller stores it as videoModels and republishes.
    static ViewResult refrechVideoView(const TrackMap &libraryTracks, const ViewInput &input);

    // The distinct albums (lower-cased names) and tracks (file paths) of one
    // artist (exact name) that the library view (isMain) or the browser's
    // category counts.
    static int getAlbumCount(const TrackMap &tracks, const QString &artistName, bool isMain,
                             int mediaTypeFilter = 0);
    static int getTrackCount(const TrackMap &tracks, const QString &artistName, bool isMain,
                             int mediaTypeFilter = 0);

    // Orders of the detail lists and of the tracks inside a group.  Texts
    // compare lower-cased, code unit by code unit.  Strict weak orders: equal
    // rows give false both ways.
    static bool albumNameComparer(const DetailedDataModel *a, const DetailedDataModel *b);
    static bool artistNameComparer(const DetailedDataModel *a, const DetailedDataModel *b);
    static bool trackTitleDetailComparer(const DetailedDataModel *a, const DetailedDataModel *b);
    static bool trackNumberComparer(const TrackList *a, const TrackList *b);
    static bool trackTitleComparer(const TrackList *a, const TrackList *b);

    // ---- Start-up and controller state ------------------------------------
    // The controller of the application window.  Made once by start-up with
    // the view, before the QML file is read: it starts reading the library
    // and building the seven library views on a worker; init() publishes the
    // rest of the context properties and loads and shows the interface
    // without waiting for it; the library and its views are published when
    // the worker is done (the loading state shown until then, and actions
    // on the library refused with a message).  Once the window has drawn its
    // first frame a worker checks the tracks' files: a track whose file is
    // gone leaves the library (its row is deleted when its folder is still
    // there, kept when the folder is gone too: an unplugged drive), and the
    // views are rebuilt (libraryChecked() when it ends).  A controller
    // without a view loads the library as loadDB does, in its constructor.
    // Everything here runs in the GUI thread; the views rebuild runs on a
    // worker that only reads a copy of the library and returns new rows,
    // which the GUI thread publishes.
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
    // True while a views rebuild runs or waits to run, until its rows are published.
    bool isRefreshingViews() const;
    // True from start-up until the check of the library's files has ended
    // (see init()); a views rebuild it asks for may still run then.
    bool isCheckingLibrary() const;
    // True (and the user told to wait) while the library is still being
    // read at start: actions that read it are refused until then.  (Adds and
    // removals are refused by the work guard itself.)
    bool refusedWhileLoading();
    // Waits at most `msecs` for a running views rebuild; true when none runs.
    bool waitForWorkers(int msecs);

    void initializeCheckboxes();
    void updateProgressBar();
    // Publishes the two advanced-settings lists as they are (after a tick).
    void populateAdvancedSettings();

    // Optimises the videos of the last add (processingTracks, keyed by their
    // ids in the add): the add chain's video hand-off.
    void startVideoOptimisation();
    // Rebuilds the video view from the library and republishes the views.
    void refreshVideoView();
    VideoOptimisation *videoOptimisation = nullptr;
    // The media browser's builds and publication (see MediaBrowser).
    void setTempValue();
    void populateMediaBrowser();

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
    // Shared between the features, each of which owns its own jobs and rows:
    // the last media-source scan, the tracks chosen to add (or the library
    // tracks chosen to transfer), every track of the last add, and the
    // copied tracks handed to the lookup.
    TrackMap browserTracks;
    TrackMap chosenTracks;
    TrackMap processingTracks;
    TrackMap lookupTracks;
    // The advanced-settings rows, keyed by track id (owned by advancedSettings).
    QMap<int, QObject *> missingDataModels;
    QMap<int, QObject *> poorQualityModels;
    // Declared after the maps it fills, so it goes first.
    std::unique_ptr<AdvancedSettings> advancedSettings;
    // The media browser (sources, scans, caches, views, search and ticks);
    // its rows are read through browserAlbumModels() and the like.
    std::unique_ptr<MediaBrowser> mediaBrowser;
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
    // The add chain (choice, ids and duplicates, conversion, copy, completion).
    std::unique_ptr<LibraryAdder> libraryAdder;

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

    // The media browser and the select-all boxes.
    void searchInMediaSourceCache(QString source);
    void searchInMediaSource(QString source);
    qint64 CalulateDirSize(QString dirpath);
    void searchBox(QString name);
    void setDisplayType(int index);
    void filterForCheckboxes(int index);
    void selectDeselectForBrowser(bool checked);
    void selectDeselectForLibrary(bool checked);
    void selectDeselectForSettings(bool checked);
    void slSelectDeselectInTracksView(QString albumName, int index, bool checked);

    // The advanced settings (see AdvancedSettings).
    void slPopulateAdvancedSettings();
    void collectMediaToUpdate();
    void cancelOptimization();
    void advancedSettingsLinkTab(int tabIndex);

    // The add chain (see LibraryAdder).
    void addToMainObject();
    void slCancelSearchCopy();
    void updateMainObjectMgr(track updatedTrack);
    void collectSearchDialogValues();
    QString GenerateCopyPath(QString album, QString path);
    void slUpdateTranscodingCount(QString updatedTrack);
    void slRemoveFileAudio(QString filepath, qint64 trackID, qint64 flag);
    void slUpdateObjectTranscoding(QList<track> updatedTrack);

    // Video optimisation (see VideoOptimisation).
    void slCancelVideOptimising();
    void slOnProgressChange(QString filePath, qint64 trackID, qint64 progress);
    void slVideoAproxTime(qint64 seconds);
    void slupdateMainObjectVideo(track updatedTrack);
    void slonSkipFile(track updatedTrack);
    void slonMultiChannelFile(track updatedTrack);
    void slAllFileCompleteVideo();

    // Removal and transfer of ticked library items (see LibraryRemover).
    void exeRemoveTransfer(QString action);
    void removeAll(QList<int> lstArtistIds, QList<int> lstAlbumIds, QList<int> lstTrackIds, QList<int> lstVideoIds);
    void slRemoveAllFnish();
    void transferToCar();

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
    void sgCancelVideOptimising();
    // The start-up check of the library's files has ended.
    void libraryChecked();

private:
    struct LoadedLibrary
    {
        TrackMap tracks;
        LibraryViews views;
    };
    void startLibraryLoad();
    // Publishes the library when its worker is done, without waiting for it.
    void watchLibraryLoad();
    void finishLibraryLoad();
    void checkLibraryFiles();
    void libraryFilesChecked(const ruvoDB::FileCheck &check);
    void showStartPageIfEmptied();

    ViewInput viewInput() const;
    // The library views' ticks, read back into the check lists before the
    // views are built again (items no longer in the library drop out).
    LibraryTicks keepLibraryTicks();
    void startViewsRebuild();
    void viewsRebuildFinished();
    void publishViews(LibraryViews views);
    void setContextProperty(const QString &name, const QVariant &value);
    void closeOnQuit();

    QFutureWatcher<LibraryViews> *viewsWatcher = nullptr;
    bool viewsRebuildPending = false;
    bool viewsRebuilding = false; // from the start of a rebuild until its rows are published
    LibraryTicks rebuildTicks;    // the ticks the running rebuild was given
    QFuture<bool> artworkFuture;

public:
    LibraryRemover &libraryRemover();

private:
    std::unique_ptr<LibraryRemover> remover;
    // Start-up's jobs; declared last, so they end before anything they use goes.
    QFuture<LoadedLibrary> libraryLoad; // its result is taken (which empties it) by init()
    BackgroundJob<ruvoDB::FileCheck> fileCheck;
    BackgroundJob<QMap<QString, QString>> itunesArtIndex; // album -> iTunes artwork id, for the scans
    bool libraryLoadPending = false; // read on a worker, not yet published
    bool libraryLoadingShown = false; // sgShowLoading() was sent for the load
    bool fileCheckPending = false;   // the files are still to be checked
    bool fileCheckStarted = false;
    bool addAfterFileCheck = false;  // an add asked for during the check runs once it ends

    // What of the controller's work runs, as the work guard sees it.
    void watchWork();
    std::vector<WorkGuard::Watch> workWatches;
};

#endif // MANAGER_H
