#include "lookup/apimanager.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <memory>
#include <optional>
#include <vector>

#include "core/logging.h"
#include "core/shared.h"
#include "core/taglibbuilder.h"
#include "database/ruvodb.h"

namespace {

bool sameMetadata(const track &a, const track &b)
{
    return a.trackname == b.trackname && a.artistName == b.artistName && a.albumName == b.albumName &&
           a.genre == b.genre && a.tracknumber == b.tracknumber;
}

// One writer at a time, on a pool nothing else waits in.  Its thread keeps
// its library connection between folders: the library file is never set
// aside while the program runs (damage met in use is dealt with at the next
// start), so a connection opened once reads the library as it is.
QThreadPool *tagWriterPool()
{
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool;
        p->setMaxThreadCount(1);
        return p;
    }();
    return pool;
}

const char *onOff(bool value)
{
    return value ? "true" : "false";
}

} // namespace

ApiManager *ApiManager::getinstance()
{
    // Made on first use, in the GUI thread, and kept for the whole run.
    static ApiManager *instance = new ApiManager();
    return instance;
}

ApiManager::ApiManager() : QObject(nullptr), steps(defaultSteps()) {}

ApiManager::Steps ApiManager::defaultSteps()
{
    Steps s;
    // The staged rows of the folder in hand, read once for all its tracks.
    auto inHand = std::make_shared<std::optional<ruvoDB::StagedFolder>>();
    s.readFolder = [inHand](const QString &folderLocation) { *inHand = ruvoDB::stagedFolder(folderLocation); };
    s.complete = [inHand](const track &t) {
        track working = t;
        working.isFingerprinted = false;
        if (inHand->has_value() && (*inHand)->folderLocation == t.folderLocation)
            return ruvoDB().updatelocalDB(working, **inHand);
        return ruvoDB().updatelocalDB(working);
    };
    s.storeResult = [](const track &t) { ruvoDB().updateDataFromAPI(t); };
    s.writeTags = [](const track &t) {
        const bool written = TagLibBuilder().setMissingTag(t);
        if (!written)
            Logging::getInstance()->WriteLog(QStringLiteral("Tags not written: "), t.filepath);
        return written;
    };
    return s;
}

track ApiManager::withNumber(track t)
{
    if (t.tracknumber == 0)
        t.tracknumber = shared().getTrackNo(t.filename);
    return t;
}

QString ApiManager::albumPicture(const track &t)
{
    // A video is pictured by its own frame; a track showing a picture of its
    // own keeps it.
    if (t.isVideo || (t.hasCover && !t.cover.isEmpty() && !t.cover.contains(QLatin1String("no_artwork")) &&
                      QFileInfo::exists(t.cover)))
        return QString();
    const QString album = t.albumName.trimmed();
    if (!t.hasAlbum || album.isEmpty() || shared::isUnknownName(album))
        return QString();
    return QDir::fromNativeSeparators(shared().coverpath(album));
}

track ApiManager::withAlbumPicture(track t, const QString &picture)
{
    if (!picture.isEmpty() && QFileInfo::exists(picture)) {
        t.cover = picture;
        t.hasCover = true;
    }
    return t;
}

void ApiManager::setSteps(Steps replacement)
{
    steps = std::move(replacement);
}

void ApiManager::searchfromApi(TrackMap tracks)
{
    if (!running)
        selectedMode = false;

    // Folder by folder, folders in the order they first appear, each
    // folder's tracks in the order given; a track given again replaces its
    // pending copy.  Linear, and each track copied once: a large add hands
    // over tens of thousands at once, in the GUI thread.
    const QList<track> earlier = std::exchange(pending, {});
    std::vector<const track *> given;
    given.reserve(size_t(earlier.size() + tracks.size()));
    for (const track &t : earlier) {
        if (!tracks.contains(t.id))
            given.push_back(&t);
    }
    for (const track &t : std::as_const(tracks))
        given.push_back(&t);

    // Each track's folder, numbered as the folders first appear, then a
    // stable counting sort by that number.
    QHash<QString, int> folderNumber;
    std::vector<int> folderOf(given.size());
    std::vector<int> folderSize;
    for (size_t i = 0; i < given.size(); ++i) {
        const QString &location = given[i]->folderLocation;
        auto known = folderNumber.constFind(location);
        if (known == folderNumber.cend()) {
            known = folderNumber.insert(location, int(folderSize.size()));
            folderSize.push_back(0);
        }
        folderOf[i] = *known;
        ++folderSize[size_t(*known)];
    }
    std::vector<int> next(folderSize.size(), 0); // where each folder's next track goes
    for (size_t f = 1; f < folderSize.size(); ++f)
        next[f] = next[f - 1] + folderSize[f - 1];
    std::vector<const track *> grouped(given.size());
    for (size_t i = 0; i < given.size(); ++i)
        grouped[size_t(next[size_t(folderOf[i])]++)] = given[i];
    pending.reserve(qsizetype(grouped.size()));
    for (const track *t : grouped)
        pending.append(*t);

    continueJob = true;
    running = true;
    schedule();
}

void ApiManager::setDoUpdate(bool on)
{
    qDebug() << "do update......." << onOff(updating) << onOff(on);
    updating = on;
    if (updating && running)
        schedule();
}

void ApiManager::setSelectedIds(QList<int> ids)
{
    selectedMode = true;
    selectedIds = QSet<int>(ids.cbegin(), ids.cend());
    continueJob = true;
    running = true;
    schedule();
}

void ApiManager::stopOptimisation()
{
    continueJob = false;
    if (running)
        schedule();
}

bool ApiManager::waitForTagWrites(int msecs)
{
    return tagWriterPool()->waitForDone(msecs);
}

bool ApiManager::isRunning() const
{
    return running;
}

bool ApiManager::doUpdate() const
{
    return updating;
}

void ApiManager::schedule()
{
    if (scheduled)
        return;
    scheduled = true;
    QTimer::singleShot(0, this, &ApiManager::processNext);
}

void ApiManager::processNext()
{
    scheduled = false;
    if (!running || writing || reading)
        return; // the end of the writes or of the read schedules the next step
    if (!continueJob) {
        // Tracks already completed are not lost: they are stored and sent.
        finishFolder();
        if (!writing)
            finishJob();
        return;
    }
    if (folder.isEmpty()) {
        if (!updating)
            return; // paused; setDoUpdate(true) takes up the work
        if (!takeNextFolder()) {
            finishJob();
            return;
        }
    }
    // The folder is read before the first of its tracks to be completed.
    if (!folderRead && steps.readFolder && (!selectedMode || selectedIds.contains(folder.first().id))) {
        startFolderRead(folder.first().folderLocation);
        return;
    }

    const track taken = folder.takeFirst();
    emit UpdateProgress();
    if (!selectedMode || selectedIds.contains(taken.id)) {
        track completed = withNumber(steps.complete ? steps.complete(taken) : taken);
        // Only a look here: a picture still to be taken from the file is
        // read on the writer thread when the folder is done.
        const QString picture = albumPicture(completed);
        if (!picture.isEmpty()) {
            if (QFileInfo::exists(picture))
                completed = withAlbumPicture(std::move(completed), picture);
            else if (!completed.filepath.isEmpty())
                pictures.append({completed.id, picture, completed.filepath});
        }
        completed.isMissingData = !(completed.hasArtist && completed.hasAlbum && completed.hasTitle);
        results.append(completed);
        if (!sameMetadata(taken, completed))
            changedIds.insert(completed.id);
    }
    if (folder.isEmpty())
        finishFolder();
    schedule();
}

bool ApiManager::takeNextFolder()
{
    if (pending.isEmpty())
        return false;
    const QString location = pending.first().folderLocation;
    while (!pending.isEmpty() && pending.first().folderLocation == location)
        folder.append(pending.takeFirst());
    folderRead = false;
    return true;
}

void ApiManager::startFolderRead(const QString &location)
{
    // Off the GUI thread: a flat folder may hold thousands of rows.  On the
    // writer's pool, which the close waits for.
    folderRead = true;
    reading = true;
    QtConcurrent::run(tagWriterPool(), [read = steps.readFolder, location] { read(location); }).then(this, [this] {
        reading = false;
        schedule();
    });
}

void ApiManager::finishFolder()
{
    QList<track> done = std::exchange(results, {});
    const QSet<int> changed = std::exchange(changedIds, {});
    const QList<PictureToTake> wanted = std::exchange(pictures, {});
    if (wanted.isEmpty()) {
        sendFolder(std::move(done), changed);
        return;
    }
    // Reading a file's tags and decoding its picture takes a while: off the
    // GUI thread, on the writer's pool, so no tag write meets the read.  An
    // album's later tracks find the picture its first one saved.
    writing = true;
    QtConcurrent::run(tagWriterPool(), [wanted] {
        for (const PictureToTake &w : wanted) {
            if (QFileInfo::exists(w.picture) || !QFileInfo(w.media).isFile())
                continue;
            QDir().mkpath(QFileInfo(w.picture).path());
            TagLibBuilder().storeCoverArt(w.picture, w.media);
        }
    }).then(this, [this, done, changed, wanted]() mutable {
        writing = false;
        QHash<int, QString> pictureOf;
        for (const PictureToTake &w : wanted)
            pictureOf.insert(w.id, w.picture);
        for (track &t : done) {
            const auto picture = pictureOf.constFind(t.id);
            if (picture != pictureOf.cend())
                t = withAlbumPicture(std::move(t), *picture);
        }
        sendFolder(std::move(done), changed);
        schedule();
    });
}

void ApiManager::sendFolder(QList<track> done, const QSet<int> &changed)
{
    // A file is rewritten only when the lookup learnt something new.
    QList<track> toWrite;
    for (const track &t : done) {
        if (changed.contains(t.id) && steps.writeTags)
            toWrite.append(t);
    }
    for (const track &t : done) {
        if (steps.storeResult)
            steps.storeResult(t);
        if (toWrite.isEmpty())
            emit updateTrackToManager(t);
    }
    if (toWrite.isEmpty())
        return;
    writing = true;
    QtConcurrent::run(tagWriterPool(), [write = steps.writeTags, toWrite] {
        for (const track &t : toWrite)
            write(t);
    }).then(this, [this, done] {
        writing = false;
        for (const track &t : done)
            emit updateTrackToManager(t);
        schedule();
    });
}

void ApiManager::finishJob()
{
    pending.clear();
    folder.clear();
    running = false;
    continueJob = false;
    selectedMode = false;
    track endMark;
    endMark.id = endMarkId;
    emit updateTrackToManager(endMark);
}
