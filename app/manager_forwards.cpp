#include "app/manager.h"

#include <array>

#include <QLoggingCategory>

#include "app/advancedsettings.h"
#include "app/libraryadder.h"
#include "app/libraryremover.h"
#include "app/manager_p.h"
#include "app/mediabrowser.h"
#include "app/rowselection.h"
#include "app/videooptimisation.h"

void manager::searchInMediaSourceCache(QString source)
{
    if (mediaBrowser)
        mediaBrowser->searchInMediaSourceCache(source);
}

void manager::searchInMediaSource(QString source)
{
    if (mediaBrowser)
        mediaBrowser->searchInMediaSource(source);
}

qint64 manager::CalulateDirSize(QString dirpath)
{
    return MediaBrowser::CalulateDirSize(dirpath);
}

void manager::setTempValue()
{
    if (mediaBrowser)
        mediaBrowser->setTempValue();
}

void manager::populateMediaBrowser()
{
    if (mediaBrowser)
        mediaBrowser->populateMediaBrowser();
}

void manager::searchBox(QString name)
{
    if (mediaBrowser)
        mediaBrowser->searchBox(name);
}

void manager::setDisplayType(int index)
{
    if (mediaBrowser)
        mediaBrowser->setDisplayType(index);
}

void manager::filterForCheckboxes(int index)
{
    if (mediaBrowser)
        mediaBrowser->filterForCheckboxes(index);
}

void manager::selectDeselectForBrowser(bool checked)
{
    if (mediaBrowser)
        mediaBrowser->selectDeselectForBrowser(checked);
}

void manager::slSelectDeselectInTracksView(QString albumName, int index, bool checked)
{
    if (mediaBrowser)
        mediaBrowser->slSelectDeselectInTracksView(albumName, index, checked);
}

void manager::selectDeselectForLibrary(bool checked)
{
    const std::array<const ViewResult *, 7> tabs{&libraryViews.albumModels,    &libraryViews.artistModels,
                                                 &libraryViews.trackRowModels, &libraryViews.playlistModels,
                                                 &libraryViews.podcastModels,  &libraryViews.audiobookModels,
                                                 &libraryViews.videoModels};
    if (libraryView >= 0 && libraryView < int(tabs.size()))
        RowSelection::setRows(tabs[size_t(libraryView)]->models, checked);
    populateMediaLibrary();
}

void manager::selectDeselectForSettings(bool checked)
{
    if (settingsView == 0)
        RowSelection::setRows(missingDataModels, checked);
    else if (settingsView == 1)
        RowSelection::setRows(poorQualityModels, checked);
    populateAdvancedSettings();
}

void manager::addToMainObject()
{
    // The work guard refuses an add while the library loads.  Until the
    // start-up check has dropped the rows of missing files, a song whose
    // stored copy went missing looks like a duplicate and would be left out:
    // an add asked for meanwhile waits for the check.
    if (WorkGuard::blocker(WorkGuard::Work::Add) == WorkGuard::Work::FileCheck) {
        if (!std::exchange(addAfterFileCheck, true))
            emit sgShowLoading();
        return;
    }
    libraryAdder->addToMainObject();
}

void manager::exeRemoveTransfer(QString action)
{
    if (refusedWhileLoading())
        return;
    libraryRemover().exeRemoveTransfer(action);
}

void manager::removeAll(QList<int> lstArtistIds, QList<int> lstAlbumIds, QList<int> lstTrackIds, QList<int> lstVideoIds)
{
    // Refused while the library loads by the work guard, as any removal.
    libraryRemover().removeAll({lstArtistIds, lstAlbumIds, lstTrackIds, lstVideoIds});
}

void manager::slRemoveAllFnish()
{
    libraryRemover().removeAllFinished();
}

void manager::transferToCar()
{
    refreshViews();
}

LibraryRemover &manager::libraryRemover()
{
    if (!remover)
        remover = std::make_unique<LibraryRemover>(*this);
    return *remover;
}

void manager::slCancelSearchCopy()
{
    qCDebug(lcController, "slCancelSearchCopy: the add is asked to stop");
    libraryAdder->slCancelSearchCopy();
}

void manager::slPopulateAdvancedSettings()
{
    if (refusedWhileLoading())
        return;
    if (advancedSettings)
        advancedSettings->slPopulateAdvancedSettings();
}

void manager::collectMediaToUpdate()
{
    if (refusedWhileLoading())
        return;
    if (advancedSettings)
        advancedSettings->collectMediaToUpdate();
}

void manager::cancelOptimization()
{
    if (advancedSettings)
        advancedSettings->cancelOptimization();
}

void manager::advancedSettingsLinkTab(int tabIndex)
{
    if (advancedSettings)
        advancedSettings->advancedSettingsLinkTab(tabIndex);
}

void manager::populateAdvancedSettings()
{
    if (advancedSettings)
        advancedSettings->populateAdvancedSettings();
}

void manager::slCancelVideOptimising()
{
    if (videoOptimisation)
        videoOptimisation->cancel();
}

void manager::updateMainObjectMgr(track updatedTrack)
{
    libraryAdder->updateMainObjectMgr(updatedTrack);
}

void manager::collectSearchDialogValues()
{
    libraryAdder->collectSearchDialogValues();
}

QString manager::GenerateCopyPath(QString album, QString path)
{
    return LibraryAdder::GenerateCopyPath(album, path);
}

void manager::slUpdateTranscodingCount(QString updatedTrack)
{
    libraryAdder->slUpdateTranscodingCount(updatedTrack);
}

void manager::slRemoveFileAudio(QString filepath, qint64 trackID, qint64 flag)
{
    libraryAdder->slRemoveFileAudio(filepath, trackID, flag);
}

void manager::slUpdateObjectTranscoding(QList<track>)
{
    // The converter reports each file through slRemoveFileAudio instead.
}

void manager::startVideoOptimisation()
{
    if (videoOptimisation)
        videoOptimisation->start(processingTracks);
}

void manager::refreshVideoView()
{
    // Only the video view changes: it alone is built and published again
    // (each view published anew is taken anew by the window), with the
    // ticks its rows carry now.
    const LibraryViews &v = libraryViews;
    ViewInput input = viewInput();
    input.checkedTrackIds =
        LibraryTicks::read({nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &v.videoModels.models}).trackIds;
    // QML may still hold the rows shown now: they go at the next publication.
    retiredViews.videoModels = std::move(libraryViews.videoModels);
    libraryViews.videoModels = refrechVideoView(libraryTracks, input);
    setContextProperty(QStringLiteral("videosModel"), QVariant::fromValue(libraryViews.videoModels.models.values()));
    emit sgRefreshMain();
    // A rebuild under way works on the library as it was before this video
    // (an add's end beside a video run): it builds again before it publishes.
    if (viewsRebuilding)
        viewsRebuildPending = true;
}

void manager::slOnProgressChange(QString filePath, qint64 trackID, qint64 progress)
{
    if (videoOptimisation)
        videoOptimisation->progressChanged(filePath, trackID, progress);
}

void manager::slVideoAproxTime(qint64 seconds)
{
    if (videoOptimisation)
        videoOptimisation->aproxTimeChanged(seconds);
}

void manager::slupdateMainObjectVideo(track updatedTrack)
{
    if (videoOptimisation)
        videoOptimisation->fileComplete(updatedTrack);
}

void manager::slonSkipFile(track updatedTrack)
{
    if (videoOptimisation)
        videoOptimisation->skipFile(updatedTrack);
}

void manager::slonMultiChannelFile(track updatedTrack)
{
    if (videoOptimisation)
        videoOptimisation->multiChannelFile(updatedTrack);
}

void manager::slAllFileCompleteVideo()
{
    if (videoOptimisation)
        videoOptimisation->allFilesComplete();
}
