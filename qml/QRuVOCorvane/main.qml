import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// The window's root item and the whole interface to the application:
// the signals below are connected to the application's slots, and the
// functions below are called by the application's signals (every argument
// arrives as a variant, so the functions stay untyped).  The screens are
// components of their own; this file only places them and passes the
// contract on to them.
Page {
    id: root
    objectName: "root"

    width: 1280
    height: 800

    // ---- Signals to the application -----------------------------------
    signal loadlist()
    signal loadmain()
    signal searchMediaSource(string source)
    signal addToMediaLibrary()
    signal removeTransfer(string action)
    signal searchbox(string name)
    signal sgCancelSearch()
    signal setlibraryView(int index)
    signal setbrowserView(int index)
    signal setdisplayType(int index)
    signal setsettingsView(int index)
    signal filterforCheckboxes(int index)
    signal selectdeselectForBrowser(bool checked)
    signal selectdeselectForLibrary(bool checked)
    signal selectdeselectForSettings(bool checked)
    signal populateAdvancedSettings()
    signal advancedSettingsContinue()
    signal advancedSettingsCancel()
    signal sgAdvancedSettingsLinkTab(int tabIndex)
    signal sgMediaBrowserClosed()
    signal sgCancelVideOptimising()
    signal sgSelectDeselectInTracksView(string albumName, int index, bool checked)
    signal exeClose()
    signal transferTomedia(int flag)
    signal sgProgressStoped(int flagStop)
    signal continueDrive(string drive, int format, int overwriteall, int overwritenewer, int overwritequality)
    signal transferandSyncDialog()
    signal checkFormat(string drive)
    // the vehicle chooser
    signal fillYearCombo(string modelName)
    signal sgCheckMediaLibrary(string vehicle_name, string model_year, int size)
    signal sgSaveSettingModelIndex(int index, string selectedModel, string modelYearValue, int yearIndex)
    // the licence agreement, from the header's "License" button
    signal sgShowLicence()

    // ---- Window state ----------------------------------------------------
    // "start" (vehicle choice) or "library" (the library panel)
    property string currentScreen: "start"
    property string vehicleName: ""
    // rows published in the seven library views, all together
    readonly property int librarySize: Theme.count(albumsModel) + Theme.count(artistsModel)
                                       + Theme.count(tracksModel) + Theme.count(playlistsModel)
                                       + Theme.count(podcastsModel) + Theme.count(audiobooksModel)
                                       + Theme.count(videosModel)

    property int browserRevision: 0
    property bool mediaBrowserVisible: false
    // Set by the application's calls; no screen reads them.
    property bool transferBrowserRequested: false
    property var drivesData: null
    // The user answered yes to closing during a run.
    property bool closeConfirmed: false

    background: Rectangle { color: Theme.window }

    // The Basic style's controls take their colours from here.
    palette.window: Theme.window
    palette.windowText: Theme.text
    palette.base: Theme.surface
    palette.text: Theme.text
    palette.button: "#e8ecf2"
    palette.buttonText: Theme.text
    palette.dark: Theme.accent
    palette.mid: "#c9d1dd"
    palette.brightText: Theme.accentText
    palette.highlight: Theme.accent
    palette.highlightedText: Theme.accentText
    // The colours above apply to disabled controls too, until these fade them.
    Component.onCompleted: Theme.fadeDisabled(palette)

    header: HeaderBar {
        id: headerBar
        productName: Theme.str(MediaLibrary_txtProductName)
        vehicleName: root.vehicleName
        canChangeVehicle: root.currentScreen === "library"
        onLicenceRequested: root.sgShowLicence()
        onChangeVehicleRequested: {
            startPage.canReturn = true
            root.currentScreen = "start"
        }
    }

    StackLayout {
        id: screens
        objectName: "screens"
        anchors.fill: parent
        currentIndex: root.currentScreen === "library" ? 1 : 0

        StartPage {
            id: startPage
            models: Theme.list(lstModel)
            years: Theme.list(lstYear)
            savedModel: Theme.str(SelectedModelName)
            savedYear: Theme.str(SelectedModelYearValue)
            onYearsRequested: (model) => root.fillYearCombo(model)
            onVehicleChosen: (modelIndex, model, year, yearIndex) => {
                root.sgSaveSettingModelIndex(modelIndex, model, year, yearIndex)
                root.sgCheckMediaLibrary(model, year, root.librarySize)
            }
            onVehicleRestored: (model, year) => root.sgCheckMediaLibrary(model, year, root.librarySize)
            onAddMediaRequested: root.openMediaBrowser()
            onReturnRequested: root.currentScreen = "library"
        }

        LibraryPanel {
            id: libraryPanel
            onViewChosen: (index) => {
                root.setlibraryView(index)
                root.loadlist()
            }
            onSelectAllRequested: (checked) => root.selectdeselectForLibrary(checked)
            onAddMediaRequested: root.openMediaBrowser()
            onRemoveRequested: root.removeTransfer("remove")
            onTransferRequested: root.removeTransfer("transfer")
            onAdvancedSettingsRequested: root.populateAdvancedSettings()
        }
    }

    MediaBrowser {
        id: mediaBrowser
        anchors.fill: parent
        z: 5
        visible: root.mediaBrowserVisible
        busy: loadingOverlay.searching || loadingOverlay.loading
        onSourceChosen: (key) => root.searchMediaSource(key)
        onViewChosen: (index) => {
            // The new view is built: filtered by the search text when there
            // is one, else all of the current category.
            root.setbrowserView(index)
            if (mediaBrowser.searchText !== "")
                root.searchbox(mediaBrowser.searchText)
            else
                root.filterforCheckboxes(mediaBrowser.category)
        }
        onDisplayChosen: (index) => root.setdisplayType(index)
        onCategoryChosen: (index) => {
            root.setbrowserView(mediaBrowser.view)
            root.filterforCheckboxes(index)
        }
        onSearchChanged: (text) => root.searchbox(text)
        onSelectAllRequested: (checked) => root.selectdeselectForBrowser(checked)
        onAddRequested: root.addToMediaLibrary()
        onCloseRequested: {
            root.mediaBrowserVisible = false
            root.sgMediaBrowserClosed()
        }
    }

    ProtectedMediaDialog {
        id: protectedMediaDialog
        files: Theme.list(protectedTracksModel)
    }

    LoadingOverlay {
        id: loadingOverlay
        anchors.fill: parent
        z: 10
        onCancelRequested: root.sgCancelSearch()
    }

    ProgressDialog {
        id: progressDialog
        onCancelRequested: (mode) => {
            if (mode === "transfer")
                root.sgProgressStoped(1)
            else
                root.advancedSettingsCancel()
        }
    }

    // A transfer's progress has a dialog of its own: the lookup's may be
    // put aside and still running when a transfer starts.
    ProgressDialog {
        id: transferProgressDialog
        objectName: "transferProgressDialog"
        onCancelRequested: root.sgProgressStoped(1)
    }

    AdvancedSettings {
        id: advancedSettings
        missingRows: Theme.list(missingMediaData)
        poorRows: Theme.list(poorMediaQuality)
        onListChosen: (index) => root.setsettingsView(index)
        onSelectAllRequested: (checked) => root.selectdeselectForSettings(checked)
        onLinkTabChosen: (tabIndex) => root.sgAdvancedSettingsLinkTab(tabIndex)
        onContinueRequested: root.advancedSettingsContinue()
        onCancelRequested: root.advancedSettingsCancel()
    }

    TransferDialog {
        id: transferDialog
        drives: Theme.list(drivedetails)
        paths: Theme.list(driveList)
        onPollRequested: (flag) => root.transferTomedia(flag)
        onFolderRequested: root.transferandSyncDialog()
        onContinueRequested: (drive, format, all, newer, quality) => root.continueDrive(drive, format, all, newer, quality)
        onFormatCheckRequested: (drive) => root.checkFormat(drive)
    }

    VideoOptimisationDialog {
        id: videoDialog
        onCancelRequested: root.sgCancelVideOptimising()
    }

    // Runs whose dialog was put aside: the window stays usable meanwhile,
    // the media browser's ADD TO LIBRARY too.
    Column {
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.margins: 16
        anchors.bottomMargin: mediaBrowser.visible ? mediaBrowser.footerHeight + 16 : 16
        z: 8
        spacing: 8

        MiniStatusBox {
            objectName: "videoStatusBox"
            visible: videoDialog.running && !videoDialog.visible
            title: Theme.str(VideoTranscoding_progressNotification)
            value: videoDialog.overall
            onStatusRequested: videoDialog.open()
        }

        MiniStatusBox {
            objectName: "lookupStatusBox"
            visible: progressDialog.running && progressDialog.canPutAside && !progressDialog.visible
            title: Theme.str(AdvanceSetting_progressNotification)
            value: progressDialog.total > 0 ? progressDialog.counter / progressDialog.total : 0
            indeterminate: progressDialog.total <= 0
            onStatusRequested: progressDialog.open()
        }
    }

    // Closing while videos are optimised ends the run: asked first.
    QuestionBox {
        id: closeQuestion
        objectName: "closeQuestion"
        question: "Videos are still being optimised. If you close Media Organiser now, the video being "
                  + "optimised is not added to your library. Close anyway?"
        acceptText: "Close"
        rejectText: "Keep running"
        onAccepted: {
            root.closeConfirmed = true
            root.Window.window.close()
        }
    }

    MessageBox {
        id: messageBox
    }

    // The window's close (its button, or the engine's quit) ends the run.
    Connections {
        target: root.Window.window
        function onClosing(close) {
            if (videoDialog.running && !root.closeConfirmed) {
                close.accepted = false
                closeQuestion.open()
                return
            }
            root.exeClose()
        }
    }

    function openMediaBrowser() {
        mediaBrowserVisible = true
    }

    // ---- Functions the application calls --------------------------------
    function slRefreshBrowser() { browserRevision += 1 }
    function slShowProtectedMediaDialog() { protectedMediaDialog.open() }
    function slRefreshMain() {
        libraryPanel.refreshed()
        // The first media added from the start page: the library takes over.
        if (currentScreen === "start" && librarySize > 0 && vehicleName !== "")
            showViewPanel(vehicleName)
    }
    function slShowAdvancedSettings() { advancedSettings.show() }

    function showProgressDialog() { progressDialog.start("progress", "") }
    function updateProgress(total, counter) { progressDialog.update(total, counter, "") }

    function slShowSearchProgress(message) { loadingOverlay.startSearch(Theme.str(message)) }
    function slUpdateSearchProgress(total, counter, filename) {
        loadingOverlay.updateSearch(Number(total) || 0, Number(counter) || 0, Theme.str(filename))
    }

    function slShowLoading() { loadingOverlay.loading = true }
    function slHideLoading() { loadingOverlay.loading = false }
    function slShowFormatWait() { loadingOverlay.formatting = true }
    function slHideFormatWait() { loadingOverlay.formatting = false }

    function showmessageBox(message) { messageBox.show(Theme.str(message)) }

    function slShowVideoOptimisation() { videoDialog.begin() }
    function slVideoAproxTime(approxTime) { videoDialog.timeLeft = Theme.list(approxTime) }
    function slUpdateProgressVideo(filePath, trackId, progress) {
        videoDialog.setProgress(Number(trackId), Number(progress))
    }
    function slCloseOnAllCompleteVideo() { videoDialog.finish() }
    function slHideMediaBrowser() { mediaBrowserVisible = false }
    function slUpdateTranscodingCounter(count, totalCount) {
        loadingOverlay.updateAdd(Number(count) || 0, Number(totalCount) || 0)
    }
    function showtransferBrowser() {
        transferBrowserRequested = true
        transferDialog.show()
    }

    function slShowTransferProgress() {
        transferProgressDialog.start("transfer", Theme.str(MediaLibrary_texttransferProgress))
    }
    function slUpdateTransferProgress(total, count, file) {
        transferProgressDialog.update(total, count, Theme.str(file))
    }
    function slhideTransferProgress() { transferProgressDialog.finish() }
    function slTransferSyncing() { transferProgressDialog.fileName = Theme.str(TransferandSync_txtSyncing) }

    // the vehicle chooser
    function updateYearCombo(txt) { startPage.setYears(Theme.list(txt)) }
    function showStartPage(modelName) {
        vehicleName = Theme.str(modelName)
        startPage.canReturn = false
        startPage.libraryEmpty = true
        currentScreen = "start"
    }
    function showViewPanel(modelName) {
        vehicleName = Theme.str(modelName)
        startPage.canReturn = false
        startPage.libraryEmpty = false
        currentScreen = "library"
    }
    function updateDrivesData(driveData) { drivesData = driveData }
    function slFolderChosen(path) { transferDialog.selectedPath = Theme.str(path) }
    function slFormatChecked(drive, refusal) {
        const why = Theme.str(refusal)
        if (why !== "")
            messageBox.show(why)
        transferDialog.formatChecked(Theme.str(drive), why)
    }
    function setIndexForModelCombo(ModelComboIndex) { startPage.restoreModel(Number(ModelComboIndex)) }
}
