#ifndef MEDIABROWSER_H
#define MEDIABROWSER_H

#include <QDateTime>
#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "app/manager.h"
#include "app/rowpublisher.h"
#include "core/backgroundjob.h"

class TrackDataModel;

// The media browser: which source the user picked, the scan of it (or the
// cached result of an earlier scan), the album, artist and track views built
// from the scanned tracks, the category and search filters, and the ticks.
//
// It works on the controller's shared members (browserTracks, the scanner,
// browserView, displayType, mediaTypeFilter, filterActive) and speaks to QML
// through the controller's signals; everything else is its own.  All calls
// come from the GUI thread.  Scans and model builds run on workers that get
// copies and return plain results; rows are taken over and published here.
class MediaBrowser : public QObject
{
    Q_OBJECT

public:
    // The lower-cased name a view searches (album, artist, title), of every
    // track of a track set's texts in their order, in one run of text: a
    // keystroke reads it front to back.
    struct PackedNames
    {
        std::shared_ptr<const manager::TrackTextList> texts; // made from
        QString text;
        std::vector<qsizetype> starts; // of each track's name, and the end
    };
    static std::shared_ptr<const PackedNames> packNames(std::shared_ptr<const manager::TrackTextList> texts, int view);

    // Where each track of a track set is in a track view built from it with
    // nothing hidden: its row and its place in the row, the rows (in key
    // order) and the groups they form.  A search shows these rows again.
    struct TrackRowIndex
    {
        std::vector<std::pair<QString, TrackDataModel *>> rows;
        std::vector<int> groupStarts; // the first row of each group, and the end
        std::vector<int> groupOfRow;
        std::vector<quint8> linesOfRow;
        std::vector<int> rowOfPlace;  // by the track's place in the texts; -1: in no row
        std::vector<quint8> lineOfPlace;
    };
    static std::shared_ptr<const TrackRowIndex> indexTrackRows(const manager::ViewResult &view,
                                                               const manager::TrackTextList &texts);

    // Result of a source job: a folder-size check, maybe followed by a scan.
    struct ScanResult
    {
        QString source;
        bool measured = false;  // "mymusic": the Music folder's size was measured
        bool cacheHit = false;  // ... and was unchanged: nothing scanned
        qint64 folderSize = 0;
        TrackMap tracks;
        QStringList protectedFiles;
        QList<track_data::NotTaken> notTaken;
        bool libraryDamaged = false; // "itunes": the library file could not be read to its end
    };

    // The three views, built together, and the texts of the tracks they were
    // built from.
    struct BuiltViews
    {
        manager::ViewResult albums;
        manager::ViewResult artists;
        manager::ViewResult tracks;
        std::shared_ptr<const manager::TrackTextList> texts;
        std::shared_ptr<const manager::ArtistCountList> artistCounts; // in the build's category
        QList<int> categoryCounts;                                    // the tracks of each category, hidden ones too
        int firstView = -1;    // the view handed over before the others were built, if any...
        int firstDisplay = -1; // ...with only the rows (0) or the detail lines (1) of it
        bool unmarked = false; // built from tracks none of which was hidden
        // Worked out on the building thread for the searches to come: the
        // names of each view, and (unmarked) the lower-cased names of the
        // album and artist rows and detail lines.
        std::shared_ptr<const PackedNames> names[3];
        std::vector<QString> rowNames[2];
        std::vector<QString> lineNames[2];
        std::shared_ptr<const TrackRowIndex> trackRows; // (unmarked) of the track rows
    };

    explicit MediaBrowser(manager &controller);
    ~MediaBrowser() override;

    // ---- Sources, scans and caches ----------------------------------------
    // "itunes" is served from its cache while the library file is not newer
    // than at the last iTunes scan, "mymusic" while the Music folder's size is
    // unchanged and the last scan was not cancelled (measured on the worker);
    // anything else scans.  One scan at a time: a request that comes while a
    // scan runs is dropped and changes nothing.
    void searchInMediaSourceCache(const QString &source);
    // Scans the source (the folder of "browse" comes from chooseFolder);
    // progress goes out as files read and the current file's path.
    void searchInMediaSource(const QString &source);
    // Bytes of every file below dirpath, hidden ones included; symbolic links
    // are neither counted nor followed.  0 for anything but a folder.
    static qint64 CalulateDirSize(const QString &dirpath);
    // Builds the views from browserTracks on a worker and publishes them;
    // a build still running then publishes nothing.  Shows no loading state
    // (a cache hit, an empty browser): the callers that want it show it.
    void setTempValue();
    // The scan job has ended: its result goes into browserTracks and the
    // views are built on a worker.  The files the scan could not take are
    // named to the user, with the reason for each.
    void browsethread(ScanResult result);
    // The message naming the files a scan could not take; "" for none.
    static QString notTakenMessage(const QList<track_data::NotTaken> &files);
    // Why the source shown holds nothing, where the browser's usual words
    // ("No media found") would leave the user guessing: the iTunes library
    // that is not there (and where it was looked for), damaged, or holding
    // no track this program can take.  "" otherwise.  Published as
    // "browserEmptyReason".
    QString emptyReason() const;
    // Hides the loading state shown for a build.
    void slLoadingFnish();
    void slMediaBrowserClosed();

    // ---- Models, categories, search ---------------------------------------
    // Refreshes the source's cache and publishes the current view in the
    // current display, then sgRefreshBrowser().
    void populateMediaBrowser();
    // Category 0 music … 4 videos: rebuilds every view on a worker.
    void filterForCheckboxes(int index);
    // Hides the tracks whose field of the current view doesn't contain the
    // text (Unicode, lower-cased) and rebuilds that view; an empty text
    // shows the view's rows of the current category again (the saved models
    // when they are of it).  The ticks of the view's rows and detail lines
    // outlast these rebuilds: a track, album or artist ticked while shown
    // is ticked whenever it is shown again, until the views are built anew
    // (a source, a category).  While views are being built the text
    // filters the view on screen at once and is applied again to the built
    // views when they are taken.  The tracks' lower-cased texts come from the last
    // build; a text that extends the last one (in the same view) looks only
    // at the tracks that one left shown.  browserTracks set from outside is
    // followed by setTempValue(), which builds from it.
    void searchBox(const QString &name);

    // ---- Selection ---------------------------------------------------------
    void selectDeselectForBrowser(bool checked);
    void selectDeselectForThumbs(bool checked);
    void selectDeselectForDetails(bool checked);
    void slSelectDeselectInTracksView(const QString &albumName, int index, bool checked);
    void setDisplayType(int index);

    // The folder a "browse" request scans; "" when the user cancels.  A real
    // directory dialog unless replaced (tests do).
    std::function<QString()> chooseFolder;

    // The iTunes library file in the Music folder.
    static QString itunesLibraryPath();

    bool isScanning() const { return scanJob.isRunning(); }
    // From the start of a build until all its views are taken.
    bool isBuilding() const { return building || buildPending; }
    // Waits, without running the event loop, until the running build's work
    // is done; its rows are taken when the event loop next runs.
    bool waitForBuild(int msecs) { return buildJob.waitFor(msecs); }

    // What is shown and ticked.  A row counts as the user's choice when its
    // `selected` and `visibility` are both true.
    const QMap<QString, QObject *> &browserAlbumModels() const { return albumView.models; }
    const QMap<QString, QObject *> &browserArtistModels() const { return artistView.models; }
    const QMap<QString, QObject *> &browserTrackModels() const { return trackView.models; }
    // Detail lines a search left unmade are made when first asked for.
    const QList<QObject *> &browserAlbumDetails() { return detailsOf(0); }
    const QList<QObject *> &browserArtistDetails() { return detailsOf(1); }
    const QList<QObject *> &browserTrackDetails() { return detailsOf(2); }

    // State the tests and the add chain read.
    QString mediasource;                // key of the source last asked for
    QDateTime ItuneXmlModified;         // iTunes library file time at the last iTunes scan
    qint64 MyMusicDirSize = 0;          // Music folder size at the last "mymusic" scan
    TrackMap itunesBrowserCache;
    TrackMap myMusicBrowserCache;
    QStringList protectedTracks;        // published as "protectedTracksModel"
    QStringList seenVideoTitles;
    bool saveBrowserModels = false;
    // The unfiltered views saved after a source request or a change across
    // the videos category; an empty search text brings them back while the
    // category is the one their artists and tracks were built in.
    BuiltViews savedBrowserModels;
    int savedCategory = -1;

private:
    enum class ScanKind { Itunes, Folder, MusicFolder };

    QString musicFolder() const;
    manager::ViewInput browserInput(const std::atomic<bool> *stop) const;
    void requestScan(const QString &source, bool mayUseMusicCache);
    // MusicFolder measures the folder first and scans only when its size
    // changed or the last scan was cancelled.
    void startScan(const QString &source, const QString &path, ScanKind kind, bool lastScanCancelled = false);
    void showSearchProgress();
    void startBuild();
    void firstViewBuilt(BuiltViews views, quint64 generation);
    void buildFinished(BuiltViews views, quint64 generation);
    void takeFirstView(BuiltViews &views);
    void takeViews(BuiltViews views);
    manager::ViewResult &viewRows(int view);
    // Whether trackAt is the index of browserTracks as it is now, and
    // makes it (browserTracks no longer shared) when not.
    // `forMarks`: also that the map is shared with no copy, so that marks
    // may be set through it (else it is read only).
    bool indexFits(bool forMarks = true) const;
    void indexTracks(bool forMarks = true);
    // A search in the thumbnails makes the view's rows only (a search that
    // shows most tracks would make and delete a detail line for each on
    // every keystroke); the lines are made from the same marks when the
    // list is shown or read.
    void makeDeferredDetails(int view);
    const QList<QObject *> &detailsOf(int view);
    // Keeps the album or artist view just taken as the unfiltered one of the
    // current category (`details`: with its detail lines).
    void keepUnfiltered(int view, const manager::ViewResult &rows, bool details, std::vector<QString> rowNames = {},
                        std::vector<QString> lineNames = {});
    static std::vector<QString> lowerRowNames(const QMap<QString, QObject *> &rows);
    static std::vector<QString> lowerLineNames(const QList<QObject *> &lines, int view);
    // Shows the rows (and, with `details`, the detail lines) of the
    // unfiltered view whose text contains `text` (lower-cased); false when
    // there is no unfiltered view of the current tracks and category.
    bool showUnfiltered(int view, const QString &text, bool details);
    bool unfilteredFits(int view, bool details) const;
    // The unfiltered view's detail lines whose text contains `text`.
    QList<QObject *> unfilteredLines(int view, const QString &text);
    // Notes the ticks of a view's rows and detail lines, before the search
    // box replaces them...
    void keepTicks(int view);
    // ...and sets them on the rows that replace them.  `any`: also when none
    // was kept (rows that may carry ticks of their own).
    void restoreTicks(int view, bool any);
    // The three views (the videos category: the album view).  What `display`
    // shows of the view on screen is built first and handed to firstBuilt
    // (on the building thread) while the rest is built.
    static BuiltViews buildViews(const TrackMap &tracks, manager::ViewInput input, int display,
                                 const std::function<void(BuiltViews)> &firstBuilt);
    static QThreadPool *viewPool();
    void showLoading();
    void reportScanProgress(int filesRead, const QString &path);
    void setContextProperty(const QString &name, const QVariant &value);
    static void logLine(const QString &text, const QString &source);

    manager &controller;

    manager::ViewResult albumView;
    manager::ViewResult artistView;
    manager::ViewResult trackView;
    QMap<QString, QStringList> artistCoverArt;  // artist covers, emptied with each scan
    QStringList lastScanProtected;              // protected files of the last scan
    bool itunesLibraryDamaged = false;          // the last iTunes scan could not read the file to its end
    QList<int> categoryCounts;                  // of the tracks the views were built from
    // The ids ticked in each view's rows [view][0] and detail lines
    // [view][1], kept across the search box's rebuilds.
    QSet<int> keptTicks[3][2];
    // Views whose detail lines a search left to be made...
    bool detailsDeferred[3] = {false, false, false};
    // ...from the unfiltered view's lines of this text rather than from the marks,
    std::optional<QString> linesText[3];
    // ...or from the tracks a search in the view left shown (places in trackAt).
    std::optional<std::vector<int>> linesShown[3];

    RowPublisher publisher;
    std::atomic<bool> closed{false};            // the browser window is closed

    BackgroundJob<ScanResult> scanJob;
    BackgroundJob<BuiltViews> buildJob;
    quint64 buildGeneration = 0;  // grows with every change a running build would miss
    bool buildPending = false;    // build again when the running one ends
    bool loadingShown = false;    // sgShowLoading() was sent for the build under way
    bool firstViewTaken = false;  // the build under way has published the view on screen
    bool building = false;        // a build's views are still to be taken
    std::optional<QString> pendingSearch;  // a search typed while the views were being built
    TrackMap buildTracks;                  // the tracks the build under way started from
    // The lower-cased texts of browserTracks (in its order), from the last build.
    std::shared_ptr<const manager::TrackTextList> trackTexts;
    // The artist counts of the last build, of the tracks of countedTexts in
    // the category countedCategory.
    std::shared_ptr<const manager::ArtistCountList> artistCounts;
    std::shared_ptr<const manager::TrackTextList> countedTexts;
    int countedCategory = -1;
    // The last search's marks, while nothing else has changed them.
    struct LastSearch
    {
        int view = -1;
        bool videos = false;
        QString text;           // lower-cased
        std::vector<int> shown; // places in trackAt of the tracks it left shown
        bool marked = true;     // ...and set the marks of all tracks
    };
    std::optional<LastSearch> lastSearch;
    // The tracks of browserTracks in its order (the order of trackTexts,
    // which indexedTexts were when it was made): a keystroke marks them
    // without walking the map.
    std::vector<track *> trackAt;
    std::shared_ptr<const manager::TrackTextList> indexedTexts;
    std::shared_ptr<const PackedNames> packed[3];
    const PackedNames &packedField(int view);
    // The album and artist views of the current category as built from
    // tracks none of which was hidden.  A search of the albums' or artists'
    // names hides whole rows: it shows some of these again instead of
    // making rows of its own, and an emptied search shows them all.
    struct UnfilteredView
    {
        manager::ViewResult rows;
        bool details = false;                                // holds the detail lines too
        std::shared_ptr<const manager::TrackTextList> texts; // of the tracks it was built from
        int category = -1;
        // The lower-cased names a search compares, of each row (in key
        // order) and each detail line; worked out at the first search.
        std::vector<QString> rowTexts;
        std::vector<QString> detailTexts;
    };
    UnfilteredView unfiltered[2];
    // The track view of the current category as built from tracks none of
    // which was hidden.  A search of the titles shows the rows of the groups
    // it leaves tracks in, each row showing those tracks alone, instead of
    // making rows of its own; an emptied search shows them all.
    struct UnfilteredTracks
    {
        manager::ViewResult rows;
        std::shared_ptr<const TrackRowIndex> index;
        std::shared_ptr<const manager::TrackTextList> texts; // of the tracks it was built from
        int category = -1;
        std::vector<int> filteredRows; // rows showing some of their tracks only
    };
    UnfilteredTracks unfilteredTracks;
    void keepUnfilteredTracks(const manager::ViewResult &rows, std::shared_ptr<const TrackRowIndex> index);
    // Shows the rows of the unfiltered track view that hold a track of
    // `shownAt` (places in trackAt), each with those tracks alone; all of
    // them for null.  False when there is no unfiltered track view of the
    // current tracks and category.
    bool showUnfilteredTracks(const std::vector<int> *shownAt);
    // Every row of the unfiltered track view shows all of its tracks again.
    void showAllTrackLines();
    QElapsedTimer progressClock;  // scan thread only
    int progressBase = 0;         // scan thread only: files counted by an earlier step of the scan
};

#endif // MEDIABROWSER_H
