import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// Progress of a long job: the online lookup after an add, or a transfer to
// the car's drive.  It closes itself when the counter reaches the total.
// The lookup's dialog can be put aside while the lookup goes on (the window
// then shows a small status box that opens it again).
ThemedPopup {
    id: dialog
    objectName: "progressDialog"

    property string mode: "progress"   // "progress" or "transfer"
    property string title
    property string fileName
    property int total: 0
    property int counter: 0
    // From the start of a job to its end, whether the dialog shows or not.
    property bool running: false
    readonly property bool canPutAside: mode === "progress"

    signal cancelRequested(string mode)

    function start(newMode, newTitle) {
        mode = newMode
        title = newTitle
        fileName = ""
        total = 0
        counter = 0
        running = true
        open()
    }

    function update(newTotal, newCounter, file) {
        total = Number(newTotal) || 0
        counter = Number(newCounter) || 0
        fileName = file
        if (running && counter >= total)
            finish()
    }

    function finish() {
        running = false
        close()
    }

    anchors.centerIn: parent
    width: 460
    modal: true
    // Escape reaches a popup only while it has the focus.
    focus: true
    closePolicy: canPutAside ? Popup.CloseOnEscape : Popup.NoAutoClose
    padding: 24

    background: Rectangle {
        radius: 12
        color: Theme.surface
        border.color: Theme.border
    }


    contentItem: ColumnLayout {
        spacing: 14

        Label {
            Layout.fillWidth: true
            text: dialog.title !== "" ? dialog.title : Theme.str(MediaLibrary_textoptimisingProgress)
            wrapMode: Text.WordWrap
            color: Theme.text
            font.pixelSize: 16
            font.bold: true
            font.capitalization: Font.Capitalize
        }

        ProgressBar {
            objectName: "progressBar"
            Layout.fillWidth: true
            from: 0
            to: Math.max(1, dialog.total)
            value: Math.min(dialog.counter, to)
            indeterminate: dialog.total <= 0
        }

        RowLayout {
            Layout.fillWidth: true
            Label {
                Layout.fillWidth: true
                text: dialog.fileName
                elide: Text.ElideMiddle
                color: Theme.mutedText
                font.pixelSize: 12
            }
            Label {
                objectName: "progressCount"
                visible: dialog.total > 0
                text: dialog.counter + " / " + dialog.total
                color: Theme.mutedText
                font.pixelSize: 12
            }
        }

        RowLayout {
            Layout.alignment: Qt.AlignRight
            spacing: 8

            Button {
                objectName: "progressHideButton"
                visible: dialog.canPutAside
                text: "Run in background"
                onClicked: dialog.close()
            }

            Button {
                objectName: "progressCancelButton"
                text: "Cancel"
                onClicked: {
                    dialog.title = Theme.str(MediaLibrary_texttransferProgressCancel)
                    dialog.cancelRequested(dialog.mode)
                }
            }
        }
    }
}
