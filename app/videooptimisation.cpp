#include "app/videooptimisation.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QQmlContext>
#include <QSet>

#include "app/manager.h"
#include "app/messagehandler.h"
#include "app/qmlapplicationviewer.h"
#include "app/videooptimisationmodel.h"
#include "database/ruvodb.h"
#include "delivery/combo.h"
#include "delivery/madefiles.h"

Q_LOGGING_CATEGORY(lcVideoControl, "corvane.app.video")

namespace {

// The source a video of a run is made from, as MadeFiles keys it.
QString sourceOf(const track &video)
{
    return MadeFiles::Source::of(video.sourcePath.isEmpty() ? video.filepath : video.sourcePath).path;
}

// The add files a video that needs review under its id in the add, which
// may equal a library id: only that same video's entry may go.
void removeReviewEntry(TrackMap &review, const track &video)
{
    const auto it = review.find(video.id);
    if (it != review.end() && it->isVideo && it->sourcePath == video.sourcePath)
        review.erase(it);
}

} // namespace

VideoOptimisation::VideoOptimisation(manager *owner)
    : QObject(owner), controller(owner), publisher([owner](const QString &name, const QVariant &value) {
          if (owner->viewer)
              owner->viewer->rootContext()->setContextProperty(name, value);
      })
{
    JobRegistry::instance().add(&closeJob);
}

VideoOptimisation::~VideoOptimisation()
{
    JobRegistry::instance().remove(&closeJob);
    unlink();
    videoencode.onCanclePressed();
    videoencode.wait();
}

void VideoOptimisation::CloseJob::requestStop()
{
    owner->videocan = true;
    owner->pending.clear();
    owner->videoencode.onCanclePressed();
}

QStringList VideoOptimisation::timeTexts(qint64 seconds)
{
    if (seconds < 1)
        return {QStringLiteral("00"), QStringLiteral("00")};
    const qint64 h = seconds / 3600;
    const qint64 m = (seconds - 3600 * h) / 60;
    const qint64 r = seconds - 3600 * h - 60 * m;
    return {QString::number(h), QString::number(m), QString::number(r)};
}

int VideoOptimisation::start(const TrackMap &videos)
{
    if (videos.isEmpty())
        return 0;
    if (isRunning()) {
        // One run at a time: these join it and follow its list, under ids
        // of their own in it.  A video chosen again while the run has it
        // is in the run once.
        const QSet<QString> inRun = runSources();
        int left = 0;
        int next = pending.isEmpty() ? lastRunId + 1 : pending.lastKey() + 1;
        TrackMap joined;
        QHash<int, int> renumbered; // id in the add -> id in the run
        for (track video : videos) {
            if (inRun.contains(sourceOf(video))) {
                ++left;
                removeReviewEntry(controller->reviewTracks, video);
                continue;
            }
            renumbered.insert(video.id, next);
            video.id = next;
            pending.insert(next, video);
            joined.insert(next++, video);
        }
        // Their review entries follow them to their ids in the run.
        TrackMap &review = controller->reviewTracks;
        TrackMap moved;
        for (const track &video : std::as_const(joined)) {
            const auto it = review.find(renumbered.key(video.id));
            if (it != review.end() && it->isVideo && it->sourcePath == video.sourcePath) {
                track entry = *it;
                review.erase(it);
                entry.id = video.id;
                moved.insert(entry.id, entry);
            }
        }
        review.insert(moved);
        if (!joined.isEmpty()) {
            publishRows(joined);
            emit controller->sgShowVideoOptimisation();
        }
        return left;
    }

    optimisationVideoRows.clear();
    publishRows(videos);
    emit controller->sgShowVideoOptimisation();

    videocan = false;
    multiChannelFiles.clear();
    skippedFiles.clear();
    launch(videos);
    return 0;
}

QSet<QString> VideoOptimisation::runSources() const
{
    QSet<QString> sources;
    for (const TrackMap *list : {&inHand, &pending}) {
        for (const track &video : *list)
            sources.insert(sourceOf(video));
    }
    return sources;
}

void VideoOptimisation::launch(const TrackMap &videos)
{
    transferDetail detail;
    detail.drivePath = QStringLiteral("C:/");
    detail.system = *Combo().getsystemDetail();
    // The thread gets a copy: what an add later does to its lists is not the run's business.
    runOpen = true;
    inHand = videos;
    lastRunId = videos.isEmpty() ? 0 : videos.lastKey();
    videoencode.setArg(videos, detail);
    link();
    videoencode.start();
}

void VideoOptimisation::publishRows(const TrackMap &added)
{
    // A new generation: the rows shown keep their progress.
    auto owner = std::make_shared<QObject>();
    QList<QObject *> rows;
    for (QObject *object : std::as_const(optimisationVideoRows)) {
        if (const auto *row = qobject_cast<VideoOptimisationModel *>(object))
            rows.append(new VideoOptimisationModel(row->trackid(), row->duration(), row->status(), row->trackname(),
                                                   owner.get()));
    }
    for (const track &video : added) {
        // Named as its tile in the library will name it.
        const QString name = VideoEncoding::nameOf(video.sourcePath.isEmpty() ? video.filepath : video.sourcePath);
        rows.append(new VideoOptimisationModel(video.id, int(video.duration), 0, name, owner.get()));
    }
    optimisationVideoRows = rows;
    publisher.publish(QStringLiteral("optimisationVideoModel"), QVariant::fromValue(optimisationVideoRows),
                      std::move(owner));
}

QStringList VideoOptimisation::stillInRun(const QList<track> &entries) const
{
    const QSet<QString> sources = runSources();
    QStringList names;
    if (sources.isEmpty())
        return names;
    for (const track &entry : entries) {
        bool busy = sources.contains(MadeFiles::Source::of(entry.filepath).path);
        if (!busy && entry.isVideo) {
            // A video stored in this session knows its source; one read from
            // the database has the record of what its file was made from.
            const QString source = entry.sourcePath.isEmpty() ? MadeFiles::sourceOf(entry.filepath)
                                                              : MadeFiles::Source::of(entry.sourcePath).path;
            busy = !source.isEmpty() && sources.contains(source);
        }
        // Named as the video view names it.
        if (busy)
            names << (entry.isVideo && !entry.filename.isEmpty() ? entry.filename
                                                                 : VideoEncoding::nameOf(entry.filepath));
    }
    return names;
}

void VideoOptimisation::link()
{
    unlink();
    links << connect(controller, &manager::sgCancelVideOptimising, &videoencode, &VideoEncoding::onCanclePressed)
          << connect(&videoencode, &VideoEncoding::onAproxTimeChange, controller, &manager::slVideoAproxTime)
          << connect(&videoencode, &VideoEncoding::onProgressChange, controller, &manager::slOnProgressChange)
          << connect(&videoencode, &VideoEncoding::onFileComplete, controller, &manager::slupdateMainObjectVideo)
          << connect(&videoencode, &VideoEncoding::onSkipFile, controller, &manager::slonSkipFile)
          << connect(&videoencode, &VideoEncoding::onAllFilesCompleate, controller, &manager::slAllFileCompleteVideo)
          << connect(&videoencode, &VideoEncoding::onMultiChannelsFile, controller, &manager::slonMultiChannelFile);
}

void VideoOptimisation::unlink()
{
    for (const QMetaObject::Connection &connection : std::as_const(links))
        disconnect(connection);
    links.clear();
}

void VideoOptimisation::cancel()
{
    videocan = true;
    pending.clear();
    // Called directly: the running ffmpeg is asked to quit now.
    videoencode.onCanclePressed();
    emit controller->sgCancelVideOptimising();
    if (!isRunning())
        emit controller->sgAllFileCompleteVideo();
}

void VideoOptimisation::progressChanged(const QString &filePath, qint64 trackID, qint64 progress)
{
    emit controller->sgUpdateProgressVideo(QVariant(filePath), QVariant(trackID), QVariant(progress));
}

void VideoOptimisation::aproxTimeChanged(qint64 seconds)
{
    emit controller->sgVideoAproxTime(QVariant(timeTexts(seconds)));
}

void VideoOptimisation::fileComplete(track updatedTrack)
{
    inHand.remove(updatedTrack.id);
    if (updatedTrack.id < 1 || videocan || updatedTrack.filesize == -1) {
        qDebug() << "No file found in Main Object";
        return;
    }
    removeReviewEntry(controller->reviewTracks, updatedTrack);
    // The video's id is its row's: the row of a video already stored with
    // this output, else a new one.  Its id in the run is only the run's.
    updatedTrack.id = manager::getTrack(controller->libraryTracks, updatedTrack.filepath, 0, QString());
    const int id = ruvoDB().storeTrack(updatedTrack);
    if (id <= 0) {
        qCWarning(lcVideoControl) << "the optimised video was not stored:" << updatedTrack.filepath;
        skippedFiles.append(updatedTrack.filename);
        return;
    }
    updatedTrack.id = id;
    controller->libraryTracks.insert(id, updatedTrack);
    controller->reviewTracks.insert(id, updatedTrack);
    controller->refreshVideoView();
}

void VideoOptimisation::skipFile(const track &updatedTrack)
{
    inHand.remove(updatedTrack.id);
    if (updatedTrack.id < 1)
        return;
    removeReviewEntry(controller->reviewTracks, updatedTrack);
    skippedFiles.append(updatedTrack.filename);
    removeUnstoredOutput(updatedTrack.filepath);
}

void VideoOptimisation::multiChannelFile(const track &updatedTrack)
{
    inHand.remove(updatedTrack.id);
    if (updatedTrack.id < 1)
        return;
    removeReviewEntry(controller->reviewTracks, updatedTrack);
    multiChannelFiles.append(updatedTrack.filename);
}

void VideoOptimisation::allFilesComplete()
{
    unlink();
    // The thread is past its last signal: it ends at once.
    videoencode.wait();
    runOpen = false;
    inHand.clear();
    if (!pending.isEmpty() && !videocan) {
        // The videos that joined go on in the same run: the dialog, its
        // rows and the messages at the end are the run's.
        const TrackMap next = std::exchange(pending, TrackMap());
        launch(next);
        return;
    }
    pending.clear();
    emit controller->sgAllFileCompleteVideo();
    const MessageHandler texts;
    if (!multiChannelFiles.isEmpty() && !videocan)
        emit controller->showMessageBox(QVariant(texts.message(2)));
    if (!skippedFiles.isEmpty() && !videocan)
        emit controller->showMessageBox(QVariant(texts.message(3)));
}

void VideoOptimisation::removeUnstoredOutput(const QString &path) const
{
    const QFileInfo info(path);
    if (path.isEmpty() || info.isSymLink() || !info.isFile())
        return;
    const QString root = QDir(ruvoDB::programCopyFolder()).canonicalPath();
    const QString canonical = info.canonicalFilePath();
    if (root.isEmpty() || !canonical.startsWith(root + QLatin1Char('/')))
        return;
    // An output the library holds (taken over by an earlier run) stays.
    const QString clean = QDir::cleanPath(path);
    for (const track &stored : std::as_const(controller->libraryTracks)) {
        if (QDir::cleanPath(stored.filepath) == clean)
            return;
    }
    if (!QFile::remove(path))
        qCDebug(lcVideoControl) << "cannot remove the skipped output" << path;
}
