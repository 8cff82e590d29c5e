import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// The video optimisation: one row per video with its progress, the time
// left for the whole list, and Cancel.  The rows are the run's
// optimisationVideoModel objects; a video's progress is kept in its row's
// `status` (0 to 100, -1 when it was refused or skipped), so one update
// redraws one row.  The dialog can be put aside while the run goes on (the
// window then shows a small status box that opens it again).
ThemedPopup {
    id: dialog
    objectName: "videoOptimisationDialog"

    property var rows: Theme.list(optimisationVideoModel)
    property var timeLeft: []   // "00", "00" or hours, minutes, seconds
    property bool cancelling: false
    // From the start of a run to its end, whether the dialog shows or not.
    property bool running: false
    // The whole run done, 0 to 1: a refused or skipped video counts as done.
    readonly property real overall: {
        const list = rows
        if (list.length === 0)
            return 0
        let sum = 0
        for (let i = 0; i < list.length; ++i) {
            const status = list[i] ? Number(list[i].status) : 0
            sum += status < 0 ? 1 : Math.min(100, status) / 100
        }
        return sum / list.length
    }

    signal cancelRequested()

    function begin() {
        // Videos added while a run goes join it: the time left stays.
        if (!running)
            timeLeft = []
        running = true
        cancelling = false
        open()
    }

    function finish() {
        running = false
        close()
    }

    function setProgress(trackId, progress) {
        for (let i = 0; i < rows.length; ++i) {
            if (rows[i] && rows[i].trackid === trackId) {
                rows[i].status = progress
                return
            }
        }
    }

    function timeText() {
        const t = timeLeft
        if (t.length < 3)
            return t.length === 2 ? Theme.str(VideoTranscoding_videoOptimisationTimeString2) : ""
        if (Number(t[0]) === 0 && Number(t[1]) === 0 && Number(t[2]) === 1)
            return Theme.str(VideoTranscoding_videoOptimisationTimeString3)
                    + Theme.str(VideoTranscoding_videoOptimisationTimeString1)
        const two = (v) => (Number(v) < 10 ? "0" : "") + Number(v)
        return Theme.str(VideoTranscoding_videoOptimisationTimeString3) + Number(t[0]) + ":" + two(t[1]) + ":" + two(t[2])
    }

    anchors.centerIn: parent
    width: Math.min(560, (parent ? parent.width : 560) - 40)
    modal: true
    // Escape puts the dialog aside, as "Run in background" does; it reaches
    // a popup only while the popup has the focus.
    focus: true
    closePolicy: Popup.CloseOnEscape
    padding: 24

    background: Rectangle {
        radius: 12
        color: Theme.surface
        border.color: Theme.border
    }

    contentItem: ColumnLayout {
        spacing: 12

        Label {
            Layout.fillWidth: true
            text: Theme.str(VideoTranscoding_txtTitle)
            color: Theme.text
            font.pixelSize: 16
            font.bold: true
            font.capitalization: Font.Capitalize
        }

        Label {
            Layout.fillWidth: true
            text: Theme.str(VideoTranscoding_txtAdded1)
            wrapMode: Text.WordWrap
            color: Theme.mutedText
            font.pixelSize: 12
        }

        Label {
            objectName: "videoBackgroundText"
            Layout.fillWidth: true
            text: Theme.str(VideoTranscoding_txtAdded2)
            wrapMode: Text.WordWrap
            color: Theme.mutedText
            font.pixelSize: 12
        }

        ListView {
            objectName: "videoRows"
            Layout.fillWidth: true
            Layout.preferredHeight: Math.min(contentHeight, 260)
            clip: true
            spacing: 8
            model: dialog.rows
            delegate: ColumnLayout {
                required property var modelData
                width: ListView.view.width
                spacing: 4

                RowLayout {
                    Layout.fillWidth: true
                    Label {
                        Layout.fillWidth: true
                        text: modelData ? modelData.trackname : ""
                        elide: Text.ElideMiddle
                        color: Theme.text
                        font.pixelSize: 13
                    }
                    Label {
                        objectName: "videoRowPercent"
                        text: !modelData ? "" : modelData.status < 0 ? "\u2014" : modelData.status + " %"
                        color: Theme.mutedText
                        font.pixelSize: 12
                    }
                }
                ProgressBar {
                    Layout.fillWidth: true
                    from: 0
                    to: 100
                    value: modelData ? Math.max(0, modelData.status) : 0
                }
            }
        }

        Label {
            objectName: "videoTimeLeft"
            Layout.fillWidth: true
            text: dialog.cancelling ? Theme.str(MediaLibrary_texttransferProgressCancel) : dialog.timeText()
            color: Theme.mutedText
            font.pixelSize: 12
        }

        RowLayout {
            Layout.alignment: Qt.AlignRight
            spacing: 8

            Button {
                objectName: "videoHideButton"
                text: "Run in background"
                enabled: dialog.running && !dialog.cancelling
                onClicked: dialog.close()
            }

            Button {
                objectName: "videoCancelButton"
                text: "Cancel"
                enabled: !dialog.cancelling
                onClicked: {
                    dialog.cancelling = true
                    dialog.cancelRequested()
                }
            }
        }
    }
}
