#include "app/mediabrowser.h"

#include <algorithm>
#include <numeric>

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QQmlContext>
#include <QStandardPaths>
#include <QtConcurrent/QtConcurrentRun>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include "app/albumdatamodel.h"
#include "app/artistdatamodel.h"
#include "app/detaileddatamodel.h"
#include "app/qmlapplicationviewer.h"
#include "app/rowselection.h"
#include "app/trackdatamodel.h"
#include "core/logging.h"
#include "core/shared.h"
#include "core/taglibbuilder.h"
#include "platform/folderdialog.h"

namespace {

constexpr int videosCategory = 4;
// Scan progress reaches QML at most this often.
constexpr int progressIntervalMs = 100;

const QString itunesSource = QStringLiteral("itunes");
const QString myMusicSource = QStringLiteral("mymusic");

// The parent of the rows (thumbnails) or of the detail lines of a view.
std::shared_ptr<QObject> ownerOf(const manager::ViewResult &view, bool thumbnails)
{
    return thumbnails || !view.detailsOwner ? view.owner : view.detailsOwner;
}

template <typename Rows>
QVariant rowList(const Rows &rows)
{
    return QVariant::fromValue(QList<QObject *>(rows.cbegin(), rows.cend()));
}

bool crossesVideos(int from, int to)
{
    return (from < videosCategory && to == videosCategory) || (from == videosCategory && to < videosCategory);
}

// The lower-cased field the search box compares in each view.
const QString &searchedText(const manager::TrackTexts &texts, const track &t, int view, bool videos)
{
    switch (view) {
    case 1:
        return texts.artist;
    case 2:
        return texts.title;
    default:
        return videos && t.isVideo ? texts.file : texts.album;
    }
}

// Calls found(place) for each name of `names`, in order, that contains
// `text` (not empty): a search through the whole run of names, which skips
// to the next name at each one found.
template <typename Found>
void forEachMatch(const MediaBrowser::PackedNames &names, const QString &text, Found found)
{
    const QStringView all(names.text);
    const auto &starts = names.starts;
    qsizetype from = 0;
    auto place = starts.cbegin();
    for (qsizetype at; (at = all.indexOf(text, from)) >= 0;) {
        // The name it begins in (an empty name begins where the next does).
        place = std::upper_bound(place, starts.cend() - 1, at) - 1;
        const qsizetype end = *(place + 1);
        if (at + text.size() <= end)
            found(int(place - starts.cbegin()));
        from = end;
        ++place;
        if (place == starts.cend() - 1)
            break;
    }
}

void markTick(QSet<int> &ticked, int id, bool on)
{
    if (on)
        ticked.insert(id);
    else
        ticked.remove(id);
}

// The ticks of a view's rows into `ticked`, by id: a track group's by its
// tracks (all of them when the group's own box is ticked).  Each search
// keystroke passes here: a group with nothing ticked costs no list while
// nothing is kept.
template <typename Row, typename Rows>
void noteTicks(const Rows &rows, QSet<int> &ticked, int (Row::*id)() const)
{
    for (const QObject *object : rows) {
        if (const auto *row = qobject_cast<const Row *>(object))
            markTick(ticked, (row->*id)(), row->selected());
    }
}

template <typename Rows>
void noteGroupTicks(const Rows &rows, QSet<int> &ticked)
{
    for (const QObject *object : rows) {
        const auto *group = qobject_cast<const TrackDataModel *>(object);
        if (!group || (ticked.isEmpty() && !group->selected() && !group->anyTrackTicked()))
            continue;
        const QList<std::pair<int, bool>> lines = group->trackTicks();
        for (const auto &[trackId, on] : lines)
            markTick(ticked, trackId, group->selected() || on);
    }
}

// Detail lines are DetailedDataModel objects alone (the builders make no
// other kind): read without a checked cast, as a keystroke may walk 100,000.
void noteLineTicks(const QList<QObject *> &lines, QSet<int> &ticked)
{
    for (const QObject *object : lines) {
        Q_ASSERT(qobject_cast<const DetailedDataModel *>(object));
        const auto *line = static_cast<const DetailedDataModel *>(object);
        markTick(ticked, line->trackid(), line->selected());
    }
}

void setLineTicks(const QList<QObject *> &lines, const QSet<int> &ticked)
{
    for (QObject *object : lines) {
        Q_ASSERT(qobject_cast<DetailedDataModel *>(object));
        auto *line = static_cast<DetailedDataModel *>(object);
        line->setSelected(ticked.contains(line->trackid()));
    }
}

// The ticks of `ticked` onto a view's rows; a track group's own box is
// ticked when all of its tracks are.
template <typename Rows>
void setTicks(const Rows &rows, const QSet<int> &ticked)
{
    for (QObject *object : rows) {
        if (auto *group = qobject_cast<TrackDataModel *>(object))
            group->setSelected(group->setTrackTicks(ticked));
        else if (auto *album = qobject_cast<AlbumDataModel *>(object))
            album->setSelected(ticked.contains(album->albumid()));
        else if (auto *artist = qobject_cast<ArtistDataModel *>(object))
            artist->setSelected(ticked.contains(artist->artistid()));
        else if (auto *detail = qobject_cast<DetailedDataModel *>(object))
            detail->setSelected(ticked.contains(detail->trackid()));
    }
}

} // namespace

MediaBrowser::MediaBrowser(manager &owner)
    : controller(owner), publisher([this](const QString &name, const QVariant &value) { setContextProperty(name, value); })
{
    chooseFolder = [] { return FolderDialog::chooseExisting(MediaBrowser::tr("Open Directory")); };
    controller.scanner.fileReadHook = [this](int filesRead, const QString &path) {
        reportScanProgress(filesRead, path);
    };
}

MediaBrowser::~MediaBrowser()
{
    // The workers use this object and the controller's scanner: end them first.
    controller.scanner.isStopSearch = true;
    closed = true;
    buildJob.requestStop();
    scanJob.futureWatcher()->waitForFinished();
    buildJob.futureWatcher()->waitForFinished();
    controller.scanner.fileReadHook = nullptr;
}

QString MediaBrowser::itunesLibraryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::MusicLocation)
           + QStringLiteral("/iTunes/iTunes Music Library.xml");
}

QString MediaBrowser::musicFolder() const
{
    return QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
}

void MediaBrowser::logLine(const QString &text, const QString &source)
{
    Logging::getInstance()->WriteLog(text + source, QString());
}

void MediaBrowser::setContextProperty(const QString &name, const QVariant &value)
{
    if (controller.viewer)
        controller.viewer->rootContext()->setContextProperty(name, value);
}

// ---- Sources, scans and caches ----------------------------------------------

void MediaBrowser::searchInMediaSourceCache(const QString &source)
{
    if (scanJob.isRunning()) {
        // One scan at a time: the running scan keeps its source, and its
        // result is cached under that source only.
        logLine(QStringLiteral("Finding MUSIC files, "), source);
        logLine(QStringLiteral("Find Completed, "), source);
        return;
    }
    mediasource = source;
    saveBrowserModels = true;
    controller.mediaBrowserClosed = false;
    closed = false;
    pendingSearch.reset(); // typed for the source shown before

    if (source == itunesSource) {
        // A missing file has no time and never counts as newer.
        const QFileInfo library(itunesLibraryPath());
        const bool newer = library.exists()
                           && (ItuneXmlModified.isNull() || ItuneXmlModified.msecsTo(library.lastModified()) >= 1);
        if (!newer) {
            controller.browserTracks = itunesBrowserCache;
            setTempValue();
            return;
        }
    }
    // "mymusic" measures the folder on the worker and scans only when its
    // size changed or the last scan was cancelled.
    requestScan(source, source == myMusicSource);
}

void MediaBrowser::searchInMediaSource(const QString &source)
{
    requestScan(source, false);
}

void MediaBrowser::requestScan(const QString &source, bool mayUseMusicCache)
{
    logLine(QStringLiteral("Finding MUSIC files, "), source);
    if (scanJob.isRunning()) {
        logLine(QStringLiteral("Find Completed, "), source);
        return;
    }
    track_data().IsVideoSearch();
    // The cache may serve "mymusic" only when the last scan ran to its end.
    const bool lastScanCancelled = controller.scanner.isStopSearch;
    controller.browserTracks.clear();
    controller.scanner.resetProtectedTracks();
    artistCoverArt.clear();
    controller.scanner.isStopSearch = false;

    if (source == itunesSource) {
        const QString library = itunesLibraryPath();
        if (!QFileInfo::exists(library)) {
            setTempValue();
        } else {
            ItuneXmlModified = QFileInfo(library).lastModified();
            startScan(source, library, ScanKind::Itunes);
            showSearchProgress();
        }
    } else {
        QString folder;
        if (source == myMusicSource)
            folder = musicFolder();
        else if (source == QLatin1String("myvideos"))
            folder = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
        else if (source == QLatin1String("mypictures"))
            folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
        else
            folder = chooseFolder ? chooseFolder() : QString();

        if (folder.isEmpty()) {
            if (source == QLatin1String("browse")) {
                // The dialog was cancelled: an empty browser.
                lastScanProtected.clear();
                setTempValue();
            }
        } else if (source == myMusicSource && mayUseMusicCache) {
            startScan(source, folder, ScanKind::MusicFolder, lastScanCancelled);
        } else {
            startScan(source, folder, ScanKind::Folder);
            showSearchProgress();
        }
    }
    logLine(QStringLiteral("Find Completed, "), source);
}

void MediaBrowser::showSearchProgress()
{
    emit controller.sgShowSearchProgress(QVariant(QStringLiteral("Searching Files")));
    emit controller.updateProgressSearch(QVariant(0), QVariant(1), QVariant(QString()));
}

void MediaBrowser::startScan(const QString &source, const QString &path, ScanKind kind, bool lastScanCancelled)
{
    track_data *scanner = &controller.scanner;
    const qint64 knownSize = MyMusicDirSize;
    scanJob.start(
        [this, scanner, source, path, kind, knownSize, lastScanCancelled](const std::atomic<bool> &) {
            ScanResult result;
            result.source = source;
            progressClock.invalidate();
            progressBase = 0;
            if (kind == ScanKind::MusicFolder) {
                result.measured = true;
                result.folderSize = CalulateDirSize(path);
                if (result.folderSize == knownSize && !lastScanCancelled) {
                    result.cacheHit = true;
                    return result;
                }
                QMetaObject::invokeMethod(this, [this] { showSearchProgress(); }, Qt::QueuedConnection);
            }
            if (kind == ScanKind::Itunes) {
                // Reading a large library file takes a while too: its tracks
                // count, and the import's files count on from there.
                int tracksRead = 0;
                QStringList missing;
                QString damage;
                const QList<iTunedata> playlists = TagLibBuilder().parseiTunePlaylist(
                    path,
                    [this, &tracksRead](int read, const QString &file) {
                        tracksRead = read;
                        reportScanProgress(read, file);
                    },
                    &missing, &damage);
                progressBase = tracksRead;
                result.tracks = scanner->addITunesToTrackObj(playlists, TrackMap());
                // A library that could not be read to its end shows less than
                // it holds, maybe nothing: the user is told why.
                if (!damage.isEmpty()) {
                    result.notTaken.append({path, damage, track_data::NotTaken::Library, 0});
                    result.libraryDamaged = true;
                }
                // iTunes lists them still; the user should know they are gone.
                for (const QString &file : std::as_const(missing))
                    result.notTaken.append({file, QStringLiteral("the file is not there")});
            } else {
                result.tracks = scanner->searchfile(QDir(path));
            }
            result.protectedFiles = scanner->getProtectedTracks();
            result.notTaken += scanner->getNotTakenFiles();
            return result;
        },
        [this](ScanResult result) { browsethread(std::move(result)); });
}

void MediaBrowser::reportScanProgress(int filesRead, const QString &path)
{
    // Scan thread: at most one report per interval crosses to the GUI thread.
    if (progressClock.isValid() && progressClock.elapsed() < progressIntervalMs)
        return;
    progressClock.start();
    const int count = progressBase + filesRead;
    // Posted before the scan's end is, so it always arrives before it.
    QMetaObject::invokeMethod(
        this,
        [this, count, path] { emit controller.updateProgressSearch(QVariant(0), QVariant(count), QVariant(path)); },
        Qt::QueuedConnection);
}

namespace {
// The bytes of the regular files under `folder`, hidden ones included;
// links inside are not followed.  One fstatat per entry: Qt's listing costs
// several times that per file, and the size is measured before every
// "mymusic" scan.  A folder is closed before its subfolders are opened, so a
// deep tree holds one descriptor at a time.
qint64 folderBytes(const QByteArray &folder)
{
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return 0;
    qint64 total = 0;
    QByteArrayList subfolders;
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        if (entry->d_type == DT_LNK)
            continue;
        if (entry->d_type == DT_DIR) {
            subfolders.append(name);
            continue;
        }
        struct stat info;
        if (::fstatat(::dirfd(dir), name, &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISREG(info.st_mode))
            total += info.st_size;
        else if (S_ISDIR(info.st_mode)) // a file system that gives no entry types
            subfolders.append(name);
    }
    ::closedir(dir);
    for (const QByteArray &name : std::as_const(subfolders))
        total += folderBytes(folder + '/' + name);
    return total;
}
} // namespace

qint64 MediaBrowser::CalulateDirSize(const QString &dirpath)
{
    // The folder itself may be a link (a Music folder kept elsewhere).
    return folderBytes(QFile::encodeName(dirpath));
}

void MediaBrowser::browsethread(ScanResult result)
{
    if (result.cacheHit) {
        controller.browserTracks = myMusicBrowserCache;
        setTempValue();
        return;
    }
    if (result.measured)
        MyMusicDirSize = result.folderSize;
    // A damaged library is not served from the cache: each request reads it
    // again, and names the damage again.
    if (result.libraryDamaged)
        ItuneXmlModified = QDateTime();
    if (result.source == itunesSource)
        itunesLibraryDamaged = result.libraryDamaged;
    controller.browserTracks = std::move(result.tracks);
    lastScanProtected = result.protectedFiles;
    emit controller.updateProgressSearch(QVariant(1), QVariant(1), QVariant(QString()));
    startBuild();
    showLoading();
    emit controller.updateProgressSearch(QVariant(0), QVariant(1), QVariant(QString()));
    const QString notTaken = notTakenMessage(result.notTaken);
    if (!notTaken.isEmpty()) {
        logLine(QStringLiteral("Files the scan could not take: %1, source ").arg(result.notTaken.size()),
                result.source);
        emit controller.showMessageBox(QVariant(notTaken));
    }
}

namespace {

// Text from outside (a file name, the reason a reader gave) with its control
// characters written out ("\x01"), so that none can break or hide a line.
QString visible(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Separator_Line ||
            category == QChar::Separator_Paragraph)
            shown += c.unicode() <= 0xff ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                                         : QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

QString counted(int count, const char *one, const char *many)
{
    return count == 1 ? QString::fromLatin1(one) : QString::fromLatin1(many).arg(count);
}

// What the scan could not take, said in its first line: the one item by
// name, else how many of each kind.
QString notTakenHead(const QList<track_data::NotTaken> &items)
{
    using Item = track_data::NotTaken;
    if (items.size() == 1) {
        const Item &item = items.first();
        const QString name = visible(QFileInfo(item.path).fileName());
        switch (item.kind) {
        case Item::File:
            return QStringLiteral("%1 could not be shown in the browser:").arg(name);
        case Item::Folder:
            return QStringLiteral("The files of the folder %1 could not be shown in the browser:").arg(name);
        case Item::PlaylistEntries:
            return counted(item.entries, "1 entry of the playlist %2 could not be shown in the browser:",
                           "%1 entries of the playlist %2 could not be shown in the browser:")
                .arg(name);
        case Item::Library:
            return QStringLiteral("Part of the iTunes library could not be shown in the browser:");
        }
    }
    int files = 0, folders = 0, entries = 0;
    bool library = false;
    for (const Item &item : items) {
        files += item.kind == Item::File;
        folders += item.kind == Item::Folder;
        entries += item.kind == Item::PlaylistEntries ? item.entries : 0;
        library = library || item.kind == Item::Library;
    }
    QStringList parts;
    if (files > 0)
        parts << counted(files, "1 file", "%1 files");
    if (folders > 0)
        parts << counted(folders, "the files of 1 folder", "the files of %1 folders");
    if (entries > 0)
        parts << counted(entries, "1 playlist entry", "%1 playlist entries");
    if (library)
        parts << QStringLiteral("part of the iTunes library");
    QString what = parts.takeLast();
    if (!parts.isEmpty())
        what = parts.join(QStringLiteral(", ")) + QStringLiteral(" and ") + what;
    what[0] = what[0].toUpper();
    return what + QStringLiteral(" could not be shown in the browser:");
}

} // namespace

QString MediaBrowser::notTakenMessage(const QList<track_data::NotTaken> &files)
{
    if (files.isEmpty())
        return QString();
    QStringList lines;
    for (const track_data::NotTaken &file : files)
        lines << visible(QStringLiteral("%1: %2").arg(file.path, file.reason));
    return notTakenHead(files) + QLatin1Char('\n') + shared::shortList(lines);
}

QString MediaBrowser::emptyReason() const
{
    if (mediasource != itunesSource || !controller.browserTracks.isEmpty())
        return QString();
    const QString library = itunesLibraryPath();
    if (!QFileInfo::exists(library))
        return QStringLiteral("No iTunes library was found: the program looked for %1.").arg(library);
    // The damage itself is told in a message when the scan ends.
    if (itunesLibraryDamaged)
        return QStringLiteral("Nothing could be read from the iTunes library %1: the file is damaged.").arg(library);
    return QStringLiteral("The iTunes library %1 holds no tracks this program can take.").arg(library);
}

void MediaBrowser::slMediaBrowserClosed()
{
    closed = true;
    buildJob.requestStop();
}

// ---- Building and publishing the views ---------------------------------------

manager::ViewInput MediaBrowser::browserInput(const std::atomic<bool> *stop) const
{
    manager::ViewInput input;
    input.browserView = controller.browserView;
    input.mediaTypeFilter = controller.mediaTypeFilter;
    input.mediaBrowserClosed = stop;
    input.artistCoverArt = artistCoverArt;
    input.seenVideoTitles = seenVideoTitles;
    input.rowThread = thread();
    return input;
}

QThreadPool *MediaBrowser::viewPool()
{
    // The views are built side by side on a pool of their own: the job that
    // waits for them runs on the global pool.
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool;
        p->setMaxThreadCount(2);
        return p;
    }();
    return pool;
}

MediaBrowser::BuiltViews MediaBrowser::buildViews(const TrackMap &tracks, manager::ViewInput input, int display,
                                                  const std::function<void(BuiltViews)> &firstBuilt)
{
    BuiltViews views;
    input.seenVideoTitles.clear();
    // The texts of the tracks, kept from the last build while the tracks are the same.
    if (!manager::textsAreOf(input.texts.get(), tracks))
        input.texts = manager::textsOf(tracks);
    views.texts = input.texts;
    views.categoryCounts = manager::browserCategoryCounts(tracks);
    views.unmarked = std::none_of(tracks.cbegin(), tracks.cend(), [](const track &t) { return t.isHidden; });
    // The videos category has album rows only.
    if (input.mediaTypeFilter == videosCategory) {
        views.albums = manager::Get_Albumlist(false, tracks, input);
        return views;
    }
    // Every artist's counts (which later searches of this category look up)
    // come with the artist rows.
    std::shared_ptr<const manager::ArtistCountList> counts;
    const auto build = [&tracks, &counts](int view, manager::ViewInput part) {
        switch (view) {
        case 0:
            return manager::Get_Albumlist(false, tracks, part);
        case 1:
            if (part.rows)
                part.artistCounts = counts = manager::browserArtistCounts(tracks, part.mediaTypeFilter);
            return manager::Get_Artistlist(false, tracks, part);
        default:
            return manager::Get_Tracklist(false, tracks, part);
        }
    };
    manager::ViewResult *const byView[] = {&views.albums, &views.artists, &views.tracks};

    // What is on screen first: the rows or the detail lines of the view.
    const int first = input.browserView;
    const bool split = first >= 0 && first <= 2 && (display == 0 || display == 1);
    manager::ViewResult firstPart;
    QFuture<manager::ViewResult> rest;
    if (split) {
        manager::ViewInput shownPart = input;
        shownPart.rows = display == 0;
        shownPart.details = display == 1;
        firstPart = build(first, shownPart);
        BuiltViews early = views;
        early.firstView = first;
        early.firstDisplay = display;
        early.artistCounts = counts;
        manager::ViewResult *const earlyByView[] = {&early.albums, &early.artists, &early.tracks};
        *earlyByView[first] = firstPart;
        firstBuilt(early);
        views.firstView = first;
        views.firstDisplay = display;
        manager::ViewInput otherPart = input;
        otherPart.rows = !shownPart.rows;
        otherPart.details = !shownPart.details;
        rest = QtConcurrent::run(viewPool(), build, first, otherPart);
    }
    // The other views side by side.
    QFuture<manager::ViewResult> others[3];
    int here = -1; // one view is built on this thread
    for (int view = 0; view < 3; ++view) {
        if (split && view == first)
            continue;
        if (here < 0)
            here = view;
        else
            others[view] = QtConcurrent::run(viewPool(), build, view, input);
    }
    if (here >= 0)
        *byView[here] = build(here, input);
    for (int view = 0; view < 3; ++view) {
        if (others[view].isValid())
            *byView[view] = others[view].result();
    }
    if (split) {
        // The view on screen whole: the part shown first (its objects stay)
        // and the other part.
        manager::ViewResult other = rest.result();
        manager::ViewResult &whole = *byView[first];
        if (display == 0) {
            whole = firstPart;
            whole.details = other.details;
            whole.detailsOwner = other.owner;
        } else {
            whole = other;
            whole.details = firstPart.details;
            whole.detailsOwner = firstPart.owner;
        }
    }
    views.artistCounts = counts;
    // What the searches to come compare, worked out here rather than at a keystroke.
    for (int view = 0; view < 3; ++view)
        views.names[view] = packNames(views.texts, view);
    if (views.unmarked) {
        if (views.tracks.rowTracks)
            views.trackRows = indexTrackRows(views.tracks, *views.texts);
        views.rowNames[0] = lowerRowNames(views.albums.models);
        views.rowNames[1] = lowerRowNames(views.artists.models);
        // Not the lines handed over first: the GUI thread holds them already.
        for (int view = 0; view < 2; ++view) {
            if (!(views.firstView == view && views.firstDisplay == 1))
                views.lineNames[view] = lowerLineNames(view == 0 ? views.albums.details : views.artists.details, view);
        }
    }
    return views;
}

void MediaBrowser::setTempValue()
{
    startBuild();
}

void MediaBrowser::startBuild()
{
    ++buildGeneration;
    if (buildJob.isRunning()) {
        // The running build reads an older state: stop it and build again
        // when it has ended.
        buildPending = true;
        buildJob.requestStop();
        return;
    }
    buildPending = false;
    const quint64 generation = buildGeneration;
    TrackMap tracks = controller.browserTracks;
    if (pendingSearch && saveBrowserModels) {
        // The models this build saves are the unfiltered ones; the search
        // typed meanwhile is applied again when they are taken.
        for (track &t : tracks)
            t.isHidden = false;
    }
    buildTracks = tracks;
    // The marks may change before the build's views come: no lines are made
    // from them meanwhile.
    std::fill(std::begin(detailsDeferred), std::end(detailsDeferred), false);
    std::fill(std::begin(linesText), std::end(linesText), std::nullopt);
    std::fill(std::begin(linesShown), std::end(linesShown), std::nullopt);
    // New rows, of other tracks or another category: no tick carries over.
    for (auto &view : keptTicks) {
        for (QSet<int> &ticked : view)
            ticked.clear();
    }
    manager::ViewInput input = browserInput(nullptr);
    input.texts = trackTexts;
    lastSearch.reset(); // the build may start from other marks
    trackAt.clear();    // ...and browserTracks may be other tracks
    const std::atomic<bool> *browserClosed = &closed;
    firstViewTaken = false;
    building = true;
    const auto firstBuilt = [this, generation](BuiltViews views) {
        QMetaObject::invokeMethod(
            this, [this, generation, views] { firstViewBuilt(views, generation); }, Qt::QueuedConnection);
    };
    const int display = controller.displayType;
    buildJob.start(
        [tracks, input, display, browserClosed, firstBuilt](const std::atomic<bool> &stop) mutable {
            input.mediaBrowserClosed = browserClosed->load() ? browserClosed : &stop;
            BuiltViews views = buildViews(tracks, input, display, firstBuilt);
            // Let go here, before the views are handed over: the GUI thread
            // then marks browserTracks (the text typed meanwhile) without a copy.
            tracks = TrackMap();
            return views;
        },
        [this, generation](BuiltViews views) { buildFinished(std::move(views), generation); });
}

void MediaBrowser::firstViewBuilt(BuiltViews views, quint64 generation)
{
    // Published only when it is still the view on screen and nothing newer
    // is asked for; otherwise everything waits for the end of the build.
    if (buildPending || pendingSearch || generation != buildGeneration || views.firstView != controller.browserView ||
        views.firstDisplay != controller.displayType)
        return;
    takeFirstView(views);
    firstViewTaken = true;
    if (loadingShown)
        slLoadingFnish();
}

void MediaBrowser::buildFinished(BuiltViews views, quint64 generation)
{
    if (buildPending) {
        startBuild();
        return;
    }
    building = false;
    if (generation == buildGeneration)
        takeViews(std::move(views));
    // Kept for the build alone: let go, a search marks the tracks without copying them all.
    buildTracks = TrackMap();
    if (loadingShown)
        slLoadingFnish();
    if (pendingSearch) {
        const QString text = *pendingSearch;
        pendingSearch.reset();
        searchBox(text);
    }
}

void MediaBrowser::slLoadingFnish()
{
    loadingShown = false;
    emit controller.sgHideLoading();
}

void MediaBrowser::showLoading()
{
    loadingShown = true;
    emit controller.sgShowLoading();
}

void MediaBrowser::takeFirstView(BuiltViews &views)
{
    detailsDeferred[std::clamp(views.firstView, 0, 2)] = false;
    linesText[std::clamp(views.firstView, 0, 2)].reset();
    linesShown[std::clamp(views.firstView, 0, 2)].reset();
    protectedTracks = lastScanProtected;
    trackTexts = views.texts;
    artistCounts = views.artistCounts;
    countedTexts = trackTexts;
    countedCategory = controller.mediaTypeFilter;
    categoryCounts = views.categoryCounts;
    switch (views.firstView) {
    case 0:
        seenVideoTitles = views.albums.seenVideoTitles;
        albumView = views.albums;
        break;
    case 1:
        artistCoverArt = views.artists.artistCoverArt;
        artistView = views.artists;
        break;
    default:
        trackView = views.tracks;
        break;
    }
    // The detail lines come first alone when the list is shown: no rows yet.
    if ((views.firstView == 0 || views.firstView == 1) && views.firstDisplay == 0)
        keepUnfiltered(views.firstView, views.unmarked ? viewRows(views.firstView) : manager::ViewResult(), false);
    populateMediaBrowser();
    if (!protectedTracks.isEmpty() && !controller.filterActive)
        emit controller.sgShowProtectedMediaDialog();
    controller.filterActive = false;
}

void MediaBrowser::takeViews(BuiltViews views)
{
    const bool videos = controller.mediaTypeFilter == videosCategory;
    protectedTracks = lastScanProtected;
    trackTexts = views.texts;
    artistCounts = views.artistCounts;
    countedTexts = trackTexts;
    countedCategory = controller.mediaTypeFilter;
    categoryCounts = views.categoryCounts;
    // The view published first comes back whole, with the same rows (the
    // user may have ticked them) and its other part.
    seenVideoTitles = views.albums.seenVideoTitles;
    if (!videos)
        artistCoverArt = views.artists.artistCoverArt;
    // Rows a search showed meanwhile may have been ticked: the built ones
    // of that view take their ticks.
    const int shownView = controller.browserView;
    const bool searchedMeanwhile = pendingSearch && shownView >= 0 && shownView <= 2;
    if (searchedMeanwhile)
        keepTicks(shownView);
    albumView = std::move(views.albums);
    artistView = std::move(views.artists);
    trackView = std::move(views.tracks);
    std::fill(std::begin(detailsDeferred), std::end(detailsDeferred), false);
    std::fill(std::begin(linesText), std::end(linesText), std::nullopt);
    std::fill(std::begin(linesShown), std::end(linesShown), std::nullopt);
    if (searchedMeanwhile)
        restoreTicks(shownView, false);
    // The rows on screen are the build's now, not the last search's.
    lastSearch.reset();
    keepUnfiltered(0, views.unmarked ? albumView : manager::ViewResult(), true, std::move(views.rowNames[0]),
                   std::move(views.lineNames[0]));
    keepUnfiltered(1, views.unmarked ? artistView : manager::ViewResult(), true, std::move(views.rowNames[1]),
                   std::move(views.lineNames[1]));
    keepUnfilteredTracks(views.unmarked ? trackView : manager::ViewResult(), std::move(views.trackRows));
    for (int view = 0; view < 3; ++view) {
        if (views.names[view])
            packed[view] = views.names[view];
    }

    if (!firstViewTaken) {
        if (!pendingSearch) {
            populateMediaBrowser();
        } else if (mediasource == myMusicSource && !controller.filterActive) {
            // The search typed meanwhile publishes next; the cache takes the
            // tracks the build saw, without its marks.
            myMusicBrowserCache = buildTracks;
        }
        if (!protectedTracks.isEmpty() && !controller.filterActive)
            emit controller.sgShowProtectedMediaDialog();
    } else if (!pendingSearch
               && (controller.browserView != views.firstView || controller.displayType != views.firstDisplay)) {
        // The screen went over to what was still being built.
        populateMediaBrowser();
    }
    if (saveBrowserModels) {
        savedBrowserModels.albums = albumView;
        if (!videos) {
            savedBrowserModels.artists = artistView;
            savedBrowserModels.tracks = trackView;
            savedCategory = controller.mediaTypeFilter;
        }
        saveBrowserModels = false;
    }
    controller.filterActive = false;
}

void MediaBrowser::populateMediaBrowser()
{
    if (mediasource == itunesSource)
        itunesBrowserCache = controller.browserTracks;
    else if (mediasource == myMusicSource && !controller.filterActive)
        myMusicBrowserCache = controller.browserTracks;

    setContextProperty(QStringLiteral("protectedTracksModel"), protectedTracks);
    // What each category holds, so that an empty category can say where the media are.
    QVariantList counts;
    for (int count : std::as_const(categoryCounts))
        counts.append(count);
    setContextProperty(QStringLiteral("browserCategoryCounts"), counts);
    setContextProperty(QStringLiteral("browserEmptyReason"), emptyReason());
    const bool thumbnails = controller.displayType == 0;
    if (controller.displayType == 1 && controller.browserView >= 0 && controller.browserView <= 2)
        makeDeferredDetails(controller.browserView);
    if (controller.displayType == 0 || controller.displayType == 1) {
        switch (controller.browserView) {
        case 0:
            publisher.publish(thumbnails ? QStringLiteral("albumModelDialog") : QStringLiteral("albumDetailsDialog"),
                              thumbnails ? rowList(albumView.models) : rowList(albumView.details),
                              ownerOf(albumView, thumbnails));
            break;
        case 1:
            publisher.publish(thumbnails ? QStringLiteral("artistsModelDialog") : QStringLiteral("artistDetailsDialog"),
                              thumbnails ? rowList(artistView.models) : rowList(artistView.details),
                              ownerOf(artistView, thumbnails));
            break;
        case 2:
            publisher.publish(thumbnails ? QStringLiteral("tracksModelDialog") : QStringLiteral("trackDetailsDialog"),
                              thumbnails ? rowList(trackView.models) : rowList(trackView.details),
                              ownerOf(trackView, thumbnails));
            break;
        default:
            break;
        }
    }
    emit controller.sgRefreshBrowser();
}

void MediaBrowser::filterForCheckboxes(int index)
{
    if (crossesVideos(controller.mediaTypeFilter, index)) {
        for (track &t : controller.browserTracks)
            t.isHidden = false;
        saveBrowserModels = true;
    }
    controller.mediaTypeFilter = index;
    controller.filterActive = true;
    startBuild();
    showLoading();
}

// ---- Search -------------------------------------------------------------------

void MediaBrowser::searchBox(const QString &name)
{
    // A keystroke never waits for a build: it filters the view on screen
    // now, and the build goes on from the tracks as they were when it
    // began (so the models it saves stay unfiltered); the last text typed
    // meanwhile is applied again to its views when they are taken.
    const bool duringBuild = isBuilding();
    const bool filterWasActive = controller.filterActive;
    controller.filterActive = true;
    const int view = controller.browserView;
    const bool videos = controller.mediaTypeFilter == videosCategory;
    // The other views' lines still to be made are of the marks as they are
    // now: the tracks the last search left shown, when it was that view's.
    for (int other = 0; other < 3; ++other) {
        if (other == view || !detailsDeferred[other] || linesText[other] || linesShown[other])
            continue;
        if (lastSearch && lastSearch->view == other && indexFits(false))
            linesShown[other] = lastSearch->shown;
        else
            makeDeferredDetails(other);
    }
    if (view < 0 || view > 2) {
        if (name.isEmpty()) {
            for (track &t : controller.browserTracks)
                t.isHidden = false;
            lastSearch.reset(); // its marks are gone
        }
        populateMediaBrowser();
        return;
    }

    // The iTunes cache takes browserTracks again when the rows are published
    // below: let go of it now, so the marks are set without copying the map.
    if (mediasource == itunesSource)
        itunesBrowserCache = TrackMap();
    TrackMap &tracks = controller.browserTracks;
    // The build under way shares the tracks: marking them would copy them
    // all here.  The view is made from the tracks found instead, and the
    // marks are set when the text is applied again to the built views.
    const bool readOnly = duringBuild && !tracks.isDetached();
    std::vector<manager::ShownTrack> shown;
    bool sameTracks = false;
    // Unicode lower case on both sides: different letters never meet.
    const QString lowered = name.toLower();
    if (name.isEmpty() && readOnly) {
        if (!indexFits(false))
            indexTracks(false);
        shown.reserve(trackAt.size());
        for (size_t at = 0; at < trackAt.size(); ++at)
            shown.push_back({trackAt[at], &(*trackTexts)[at]});
        lastSearch.reset();
    } else if (name.isEmpty()) {
        if (indexFits()) {
            for (track *t : trackAt)
                t->isHidden = false;
        } else if (std::any_of(tracks.cbegin(), tracks.cend(), [](const track &t) { return t.isHidden; })) {
            // Only when some are marked: marking none needs no copy of a shared map.
            for (track &t : tracks)
                t.isHidden = false;
        }
        lastSearch.reset();
    } else {
        const QString &text = lowered;
        // What the last text hid, a text that extends it hides too.
        if (!indexFits(!readOnly))
            indexTracks(!readOnly);
        // What the last text hid, a text that extends it hides too: only
        // the tracks it left shown are looked at again (and marked, when
        // the others were).
        const bool narrower = lastSearch && lastSearch->view == view && lastSearch->videos == videos &&
                              text.startsWith(lastSearch->text) && (lastSearch->marked || readOnly);
        std::vector<int> shownAt;
        const PackedNames *packedNames = videos ? nullptr : &packedField(view);
        const auto matches = [&](int at, const track &t, const manager::TrackTexts &texts) {
            if (!packedNames)
                return searchedText(texts, t, view, videos).contains(text);
            const qsizetype start = packedNames->starts[size_t(at)];
            return QStringView(packedNames->text)
                .sliced(start, packedNames->starts[size_t(at) + 1] - start)
                .contains(text);
        };
        const auto mark = [&](int at) {
            track &t = *trackAt[size_t(at)];
            const manager::TrackTexts &texts = (*trackTexts)[size_t(at)];
            const bool hidden = !matches(at, t, texts);
            if (!readOnly)
                t.isHidden = hidden;
            if (!hidden) {
                shownAt.push_back(at);
                shown.push_back({&t, &texts});
            }
        };
        if (narrower) {
            for (int at : std::as_const(lastSearch->shown))
                mark(at);
        } else if (packedNames) {
            // One search through all the names finds the tracks shown.
            int next = 0;
            forEachMatch(*packedNames, text, [&](int at) {
                for (; next < at && !readOnly; ++next)
                    trackAt[size_t(next)]->isHidden = true;
                track &t = *trackAt[size_t(at)];
                if (!readOnly)
                    t.isHidden = false;
                shownAt.push_back(at);
                shown.push_back({&t, &(*trackTexts)[size_t(at)]});
                next = at + 1;
            });
            for (; next < int(trackAt.size()) && !readOnly; ++next)
                trackAt[size_t(next)]->isHidden = true;
        } else {
            for (int at = 0; at < int(trackAt.size()); ++at)
                mark(at);
        }
        // Typing on often leaves the same tracks: the rows on screen are theirs.
        sameTracks = narrower && shownAt.size() == lastSearch->shown.size();
        lastSearch = LastSearch{view, videos, text, std::move(shownAt), !readOnly};
    }

    if (!duringBuild)
        ++buildGeneration;
    manager::ViewInput input = browserInput(&closed);
    input.texts = trackTexts;
    if (!name.isEmpty() || readOnly)
        input.shown = &shown;
    input.details = controller.displayType == 1;
    if (artistCounts && countedTexts == trackTexts && countedCategory == controller.mediaTypeFilter)
        input.artistCounts = artistCounts;
    // While a source's first build runs, the saved models are still the
    // last source's; after a change of category they show another one: the
    // view is built instead.
    const bool savedFit = !(duringBuild && saveBrowserModels) && savedCategory == controller.mediaTypeFilter;
    // The rows on screen are of the tracks shown now, unless a build is
    // under way and they are still those of the views before it.
    if (!duringBuild || firstViewTaken || pendingSearch)
        keepTicks(view);
    const bool restored = name.isEmpty() && savedFit && (view == 1 || view == 2);
    bool reused = restored;
    bool kept = false;
    bool keptLines = false;
    if (view == 1 && restored) {
        artistView = savedBrowserModels.artists;
    } else if (view == 2 && restored) {
        showAllTrackLines(); // they may be the rows a search showed in part
        trackView = savedBrowserModels.tracks;
    } else if (view < 2 && !videos && showUnfiltered(view, lowered, input.details)) {
        reused = true;
        keptLines = linesText[view].has_value();
    } else if (sameTracks && (!input.details || !detailsDeferred[view])) {
        kept = true;
    } else if (view == 2 && !videos && !input.details
               && showUnfilteredTracks(name.isEmpty() ? nullptr : &lastSearch->shown)) {
        reused = true;
    } else if (view == 0) {
        albumView = manager::Get_Albumlist(false, controller.browserTracks, input);
        seenVideoTitles = albumView.seenVideoTitles;
    } else if (view == 1) {
        artistView = manager::Get_Artistlist(false, controller.browserTracks, input);
        artistCoverArt = artistView.artistCoverArt;
    } else {
        trackView = manager::Get_Tracklist(false, controller.browserTracks, input);
    }
    if (!kept) {
        detailsDeferred[view] = !restored && !input.details;
        if (!keptLines)
            linesText[view].reset();
        linesShown[view].reset();
    }
    if (readOnly && detailsDeferred[view] && !linesText[view]) {
        // Lines made before the build is taken come from the tracks found,
        // the marks being those of before.
        std::vector<int> places;
        if (lastSearch) {
            places = lastSearch->shown;
        } else {
            places.resize(trackAt.size());
            std::iota(places.begin(), places.end(), 0);
        }
        linesShown[view] = std::move(places);
    }
    // Rows shown before still carry the ticks of when they were last shown.
    restoreTicks(view, reused);
    populateMediaBrowser();
    if (duringBuild) {
        pendingSearch = name;
        // As it was for the build: its end decides on the protected-media
        // dialog and the "mymusic" cache.
        controller.filterActive = filterWasActive;
        if (loadingShown)
            slLoadingFnish(); // the view on screen is what was asked for
    }
}

void MediaBrowser::keepUnfiltered(int view, const manager::ViewResult &rows, bool details,
                                  std::vector<QString> rowNames, std::vector<QString> lineNames)
{
    UnfilteredView &kept = unfiltered[view];
    kept = UnfilteredView();
    if (!rows.owner || controller.mediaTypeFilter == videosCategory)
        return; // marked tracks, or video rows whose keys are not their names
    kept.rows = rows;
    kept.details = details;
    kept.texts = trackTexts;
    kept.category = controller.mediaTypeFilter;
    kept.rowTexts = std::move(rowNames);
    kept.detailTexts = std::move(lineNames);
}

void MediaBrowser::keepUnfilteredTracks(const manager::ViewResult &rows, std::shared_ptr<const TrackRowIndex> index)
{
    showAllTrackLines(); // rows of the view kept before may be shown whole elsewhere
    unfilteredTracks = UnfilteredTracks();
    if (!rows.owner || !index || controller.mediaTypeFilter == videosCategory)
        return;
    unfilteredTracks.rows = rows;
    unfilteredTracks.rows.details.clear();
    unfilteredTracks.rows.detailsOwner.reset();
    unfilteredTracks.index = std::move(index);
    unfilteredTracks.texts = trackTexts;
    unfilteredTracks.category = controller.mediaTypeFilter;
}

void MediaBrowser::showAllTrackLines()
{
    if (!unfilteredTracks.index)
        return;
    const auto &rows = unfilteredTracks.index->rows;
    for (int row : std::exchange(unfilteredTracks.filteredRows, {}))
        rows[size_t(row)].second->setShownLines(TrackDataModel::allLines);
}

bool MediaBrowser::showUnfilteredTracks(const std::vector<int> *shownAt)
{
    UnfilteredTracks &kept = unfilteredTracks;
    if (!kept.index || kept.texts != trackTexts || kept.category != controller.mediaTypeFilter ||
        (shownAt && !indexFits(false)))
        return false;
    const TrackRowIndex &index = *kept.index;
    if (index.rowOfPlace.size() != trackTexts->size())
        return false;
    trackView = kept.rows;
    if (!shownAt) {
        showAllTrackLines();
        return true;
    }
    // The tracks shown in each row (bit i: its track i), and the groups
    // that hold any.
    std::vector<quint32> lines(index.rows.size(), 0);
    std::vector<bool> groups(index.groupOfRow.empty() ? 0 : size_t(index.groupOfRow.back()) + 1, false);
    for (int at : *shownAt) {
        const int row = index.rowOfPlace[size_t(at)];
        if (row < 0)
            continue; // of another category
        lines[size_t(row)] |= 1u << index.lineOfPlace[size_t(at)];
        groups[size_t(index.groupOfRow[size_t(row)])] = true;
    }
    // Rows of groups no longer shown show all of their tracks again.
    const std::vector<int> wasFiltered = std::exchange(kept.filteredRows, {});
    for (int row : wasFiltered) {
        if (!groups[size_t(index.groupOfRow[size_t(row)])])
            index.rows[size_t(row)].second->setShownLines(TrackDataModel::allLines);
    }
    // A shown group keeps its first two rows (the cover, then the artist,
    // genre and year) and the others that show a track.
    QMap<QString, QObject *> &models = trackView.models;
    models.clear();
    for (size_t group = 0; group < groups.size(); ++group) {
        if (!groups[group])
            continue;
        const int first = index.groupStarts[group];
        for (int row = first; row < index.groupStarts[group + 1]; ++row) {
            const auto &[key, model] = index.rows[size_t(row)];
            const quint32 shown = lines[size_t(row)];
            if (row - first >= 2 && shown == 0) {
                model->setShownLines(TrackDataModel::allLines);
                continue;
            }
            const quint32 all = (1u << index.linesOfRow[size_t(row)]) - 1;
            if (shown == all) {
                model->setShownLines(TrackDataModel::allLines);
            } else {
                model->setShownLines(shown);
                kept.filteredRows.push_back(row);
            }
            models.insert(models.cend(), key, model);
        }
    }
    return true;
}

bool MediaBrowser::unfilteredFits(int view, bool details) const
{
    const UnfilteredView &kept = unfiltered[view];
    return kept.texts && kept.texts == trackTexts && kept.category == controller.mediaTypeFilter &&
           (!details || kept.details);
}

bool MediaBrowser::showUnfiltered(int view, const QString &text, bool details)
{
    UnfilteredView &kept = unfiltered[view];
    if (!unfilteredFits(view, details))
        return false;
    const QMap<QString, QObject *> &rows = kept.rows.models;
    if (kept.rowTexts.size() != size_t(rows.size()))
        kept.rowTexts = lowerRowNames(rows);
    manager::ViewResult &shown = viewRows(view);
    shown = kept.rows;
    if (!text.isEmpty()) {
        shown.models.clear();
        auto name = kept.rowTexts.cbegin();
        for (auto row = rows.cbegin(); row != rows.cend(); ++row, ++name) {
            if (name->contains(text))
                shown.models.insert(shown.models.cend(), row.key(), row.value());
        }
    }
    shown.details.clear();
    shown.detailsOwner.reset();
    if (!details) {
        // Made from the same lines when first asked for, whatever the marks are then.
        linesText[view] = kept.details ? std::optional<QString>(text) : std::nullopt;
        return true;
    }
    shown.details = unfilteredLines(view, text);
    shown.detailsOwner = kept.rows.detailsOwner ? kept.rows.detailsOwner : kept.rows.owner;
    return true;
}

QList<QObject *> MediaBrowser::unfilteredLines(int view, const QString &text)
{
    UnfilteredView &kept = unfiltered[view];
    if (kept.detailTexts.size() != size_t(kept.rows.details.size()))
        kept.detailTexts = lowerLineNames(kept.rows.details, view);
    if (text.isEmpty())
        return kept.rows.details;
    QList<QObject *> lines;
    auto name = kept.detailTexts.cbegin();
    for (QObject *line : std::as_const(kept.rows.details)) {
        if ((name++)->contains(text))
            lines.append(line);
    }
    return lines;
}

bool MediaBrowser::indexFits(bool forMarks) const
{
    // Nodes of a map stay where they are until it is changed or copied on
    // a write: of the same size and with the same first node, it is the map
    // indexed (a change of its tracks is followed by a build, which drops
    // the index); marks are set only into a map shared with no copy.
    const TrackMap &tracks = controller.browserTracks;
    return trackTexts && indexedTexts == trackTexts && trackAt.size() == size_t(tracks.size()) &&
           trackTexts->size() == trackAt.size() && !tracks.isEmpty() && (!forMarks || tracks.isDetached()) &&
           &*tracks.cbegin() == trackAt.front();
}

std::shared_ptr<const MediaBrowser::PackedNames>
MediaBrowser::packNames(std::shared_ptr<const manager::TrackTextList> texts, int view)
{
    auto names = std::make_shared<PackedNames>();
    names->starts.reserve(texts->size() + 1);
    qsizetype length = 0;
    for (const manager::TrackTexts &one : *texts) {
        names->starts.push_back(length);
        length += searchedText(one, track(), view, false).size();
    }
    names->starts.push_back(length);
    names->text.reserve(length);
    for (const manager::TrackTexts &one : *texts)
        names->text.append(searchedText(one, track(), view, false));
    names->texts = std::move(texts);
    return names;
}

std::shared_ptr<const MediaBrowser::TrackRowIndex> MediaBrowser::indexTrackRows(const manager::ViewResult &view,
                                                                                 const manager::TrackTextList &texts)
{
    const manager::ViewResult::RowTracks &noted = *view.rowTracks;
    if (noted.rowStarts.size() != size_t(view.models.size()) + 1)
        return nullptr;
    auto index = std::make_shared<TrackRowIndex>();
    index->rows.reserve(size_t(view.models.size()));
    for (auto row = view.models.cbegin(); row != view.models.cend(); ++row) {
        auto *model = qobject_cast<TrackDataModel *>(row.value());
        if (!model)
            return nullptr;
        index->rows.emplace_back(row.key(), model);
    }
    index->groupStarts = noted.groupStarts;
    index->groupOfRow.resize(index->rows.size());
    for (size_t group = 0; group + 1 < noted.groupStarts.size(); ++group)
        std::fill(index->groupOfRow.begin() + noted.groupStarts[group],
                  index->groupOfRow.begin() + noted.groupStarts[group + 1], int(group));
    // The texts are in the order of the tracks' ids.
    index->linesOfRow.resize(index->rows.size());
    index->rowOfPlace.assign(texts.size(), -1);
    index->lineOfPlace.assign(texts.size(), 0);
    for (size_t row = 0; row < index->rows.size(); ++row) {
        const int first = noted.rowStarts[row];
        index->linesOfRow[row] = quint8(noted.rowStarts[row + 1] - first);
        for (int line = first; line < noted.rowStarts[row + 1]; ++line) {
            const int id = noted.ids[size_t(line)];
            const auto found = std::lower_bound(texts.cbegin(), texts.cend(), id,
                                                [](const manager::TrackTexts &one, int wanted) { return one.id < wanted; });
            if (found == texts.cend() || found->id != id)
                return nullptr;
            const size_t place = size_t(found - texts.cbegin());
            index->rowOfPlace[place] = int(row);
            index->lineOfPlace[place] = quint8(line - first);
        }
    }
    return index;
}

const MediaBrowser::PackedNames &MediaBrowser::packedField(int view)
{
    if (!packed[view] || packed[view]->texts != trackTexts)
        packed[view] = packNames(trackTexts, view);
    return *packed[view];
}

std::vector<QString> MediaBrowser::lowerRowNames(const QMap<QString, QObject *> &rows)
{
    // A row's key is the album's or artist's name as its tracks spell it.
    std::vector<QString> names;
    names.reserve(size_t(rows.size()));
    for (auto key = rows.keyBegin(); key != rows.keyEnd(); ++key)
        names.push_back(key->toLower());
    return names;
}

std::vector<QString> MediaBrowser::lowerLineNames(const QList<QObject *> &lines, int view)
{
    std::vector<QString> names;
    names.reserve(size_t(lines.size()));
    for (const QObject *object : lines) {
        const auto *line = qobject_cast<const DetailedDataModel *>(object);
        names.push_back(!line ? QString() : view == 0 ? line->albumname().toLower() : line->artistname().toLower());
    }
    return names;
}

void MediaBrowser::indexTracks(bool forMarks)
{
    TrackMap &tracks = controller.browserTracks;
    if (forMarks)
        tracks.detach(); // marks are set through the index: never into a copy's tracks
    lastSearch.reset();
    if (!trackTexts || trackTexts->size() != size_t(tracks.size()))
        trackTexts = manager::textsOf(tracks);
    for (bool indexed = false; !indexed;) {
        indexed = true;
        trackAt.clear();
        trackAt.reserve(size_t(tracks.size()));
        auto texts = trackTexts->cbegin();
        for (const track &t : std::as_const(tracks)) {
            if (!(texts++)->of(t)) { // texts of other tracks: work them out and start again
                trackTexts = manager::textsOf(tracks);
                indexed = false;
                break;
            }
            trackAt.push_back(const_cast<track *>(&t)); // written through only when detached
        }
    }
    indexedTexts = trackTexts;
}

manager::ViewResult &MediaBrowser::viewRows(int view)
{
    return view == 0 ? albumView : view == 1 ? artistView : trackView;
}

void MediaBrowser::makeDeferredDetails(int view)
{
    if (!detailsDeferred[view])
        return;
    detailsDeferred[view] = false;
    const std::optional<QString> text = std::exchange(linesText[view], std::nullopt);
    if (text && view < 2 && unfilteredFits(view, true)) {
        manager::ViewResult &rows = viewRows(view);
        rows.details = unfilteredLines(view, *text);
        rows.detailsOwner =
            unfiltered[view].rows.detailsOwner ? unfiltered[view].rows.detailsOwner : unfiltered[view].rows.owner;
        setLineTicks(rows.details, keptTicks[view][1]); // they may carry ticks of an earlier showing
        return;
    }
    manager::ViewInput input = browserInput(&closed);
    input.texts = trackTexts;
    input.rows = false;
    std::vector<manager::ShownTrack> shown;
    const std::optional<std::vector<int>> places = std::exchange(linesShown[view], std::nullopt);
    if (places && indexFits(false)) {
        shown.reserve(places->size());
        for (int at : *places)
            shown.push_back({trackAt[size_t(at)], &(*trackTexts)[size_t(at)]});
        input.shown = &shown;
    }
    const TrackMap &tracks = controller.browserTracks;
    const manager::ViewResult lines = view == 0   ? manager::Get_Albumlist(false, tracks, input)
                                      : view == 1 ? manager::Get_Artistlist(false, tracks, input)
                                                  : manager::Get_Tracklist(false, tracks, input);
    manager::ViewResult &rows = viewRows(view);
    rows.details = lines.details;
    rows.detailsOwner = lines.owner;
    if (!keptTicks[view][1].isEmpty())
        setLineTicks(rows.details, keptTicks[view][1]);
}

const QList<QObject *> &MediaBrowser::detailsOf(int view)
{
    makeDeferredDetails(view);
    return viewRows(view).details;
}

void MediaBrowser::keepTicks(int view)
{
    const manager::ViewResult &rows = viewRows(view);
    if (view == 0)
        noteTicks(rows.models, keptTicks[view][0], &AlbumDataModel::albumid);
    else if (view == 1)
        noteTicks(rows.models, keptTicks[view][0], &ArtistDataModel::artistid);
    else
        noteGroupTicks(rows.models, keptTicks[view][0]);
    noteLineTicks(rows.details, keptTicks[view][1]);
}

void MediaBrowser::restoreTicks(int view, bool any)
{
    // Built rows start unticked: with nothing kept they are right as they are.
    const manager::ViewResult &rows = viewRows(view);
    if (any || !keptTicks[view][0].isEmpty())
        setTicks(rows.models, keptTicks[view][0]);
    if (any || !keptTicks[view][1].isEmpty())
        setLineTicks(rows.details, keptTicks[view][1]);
}

// ---- Selection ------------------------------------------------------------------

void MediaBrowser::selectDeselectForBrowser(bool checked)
{
    if (controller.displayType == 0)
        selectDeselectForThumbs(checked);
    else if (controller.displayType == 1)
        selectDeselectForDetails(checked);
}

void MediaBrowser::selectDeselectForThumbs(bool checked)
{
    switch (controller.browserView) {
    case 0:
        RowSelection::setRows(albumView.models, checked);
        break;
    case 1:
        RowSelection::setRows(artistView.models, checked);
        break;
    case 2:
        RowSelection::setRows(trackView.models, checked);
        break;
    default:
        break;
    }
    populateMediaBrowser();
}

void MediaBrowser::selectDeselectForDetails(bool checked)
{
    if (controller.browserView >= 0 && controller.browserView <= 2)
        makeDeferredDetails(controller.browserView);
    switch (controller.browserView) {
    case 0:
        RowSelection::setRows(albumView.details, checked);
        break;
    case 1:
        RowSelection::setRows(artistView.details, checked);
        break;
    case 2:
        RowSelection::setRows(trackView.details, checked);
        break;
    default:
        break;
    }
    populateMediaBrowser();
}

void MediaBrowser::slSelectDeselectInTracksView(const QString &albumName, int index, bool checked)
{
    Q_UNUSED(index) // the whole group of the row is set
    QObject *row = trackView.models.value(albumName);
    if (!row)
        return; // not a shown row: nothing to set
    RowSelection::setRow(row, checked);
    populateMediaBrowser();
}

void MediaBrowser::setDisplayType(int index)
{
    if (index == controller.displayType)
        return;
    controller.displayType = index;
    populateMediaBrowser();
}
