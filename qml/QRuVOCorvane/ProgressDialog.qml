import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// Progress of a long job: the online lookup after an add, or a transfer to
// the car's drive.  It closes itself when the counter reaches the total.
ThemedPopup {
    id: dialog
    objectName: "progressDialog"

    property string mode: "progress"   // "progress" or "transfer"
    property string title
    property string fileName
    property int total: 0
    property int counter: 0

    signal cancelRequested(string mode)

    function start(newMode, newTitle) {
        mode = newMode
        title = newTitle
        fileName = ""
        total = 0
        counter = 0
        open()
    }

    function update(newTotal, newCounter, file) {
        total = Number(newTotal) || 0
        counter = Number(newCounter) || 0
        fileName = file
        if (opened && counter >= total)
            close()
    }

    function finish() {
        close()
    }

    anchors.centerIn: parent
    width: 460
    modal: true
    closePolicy: Popup.NoAutoClose
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

        Button {
            objectName: "progressCancelButton"
            Layout.alignment: Qt.AlignRight
            text: "Cancel"
            onClicked: {
                dialog.title = Theme.str(MediaLibrary_texttransferProgressCancel)
                dialog.cancelRequested(dialog.mode)
            }
        }
    }
}
