import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// Covers the window while the application is busy: while the views are
// rebuilt or a drive is formatted (`loading`), and while files are searched
// or added (`searching`, with the file in hand).  An add shows here, in this
// one dialog with its one Cancel, how many of its files are converted or
// copied so far.  Input is held back meanwhile.
Rectangle {
    id: overlay
    objectName: "loadingOverlay"

    property bool loading: false
    property bool formatting: false
    property bool searching: false
    property string message
    property string fileName
    property int total: 0
    property int counter: 0
    // The add's files converted or copied, of how many; 0 of 0 shows no bar.
    property int doneFiles: 0
    property int addFiles: 0

    signal cancelRequested()

    // total 0 means "under way, size unknown"; counter reaching a non-zero
    // total means done.
    function startSearch(text) {
        message = text
        fileName = ""
        total = 0
        counter = 0
        doneFiles = 0
        addFiles = 0
        searching = true
    }

    function updateAdd(done, files) {
        doneFiles = done
        addFiles = files
    }

    function updateSearch(newTotal, newCounter, file) {
        total = newTotal
        counter = newCounter
        fileName = file
        if (newTotal > 0 && newCounter >= newTotal)
            searching = false
    }

    visible: loading || searching || formatting
    color: Theme.shade

    MouseArea {
        anchors.fill: parent
        hoverEnabled: true
        acceptedButtons: Qt.AllButtons
        onWheel: (wheel) => wheel.accepted = true
    }

    Rectangle {
        anchors.centerIn: parent
        width: 320
        height: column.implicitHeight + 48
        radius: 12
        color: Theme.surface

        ColumnLayout {
            id: column
            anchors.centerIn: parent
            width: parent.width - 48
            spacing: 12

            BusyIndicator {
                Layout.alignment: Qt.AlignHCenter
                visible: !addBar.visible
                running: overlay.visible && visible
            }
            Label {
                objectName: "loadingMessage"
                Layout.fillWidth: true
                horizontalAlignment: Text.AlignHCenter
                text: overlay.searching && overlay.message !== "" ? overlay.message : "Loading…"
                color: Theme.text
                font.pixelSize: 15
            }
            Label {
                objectName: "loadingCount"
                Layout.fillWidth: true
                // while a search runs, the counter is the number of files read
                visible: overlay.searching && overlay.total === 0 && overlay.fileName !== ""
                horizontalAlignment: Text.AlignHCenter
                text: overlay.counter + (overlay.counter === 1 ? " file read" : " files read")
                color: Theme.text
                font.pixelSize: 13
            }
            ProgressBar {
                id: addBar
                Layout.fillWidth: true
                visible: overlay.searching && overlay.addFiles > 0
                from: 0
                to: Math.max(1, overlay.addFiles)
                value: Math.min(overlay.doneFiles, to)
            }
            Label {
                objectName: "addCount"
                Layout.fillWidth: true
                visible: addBar.visible
                horizontalAlignment: Text.AlignHCenter
                text: overlay.doneFiles + " / " + overlay.addFiles
                color: Theme.mutedText
                font.pixelSize: 13
            }
            Label {
                Layout.fillWidth: true
                visible: overlay.searching && overlay.fileName !== ""
                horizontalAlignment: Text.AlignHCenter
                text: overlay.fileName
                elide: Text.ElideMiddle
                color: Theme.mutedText
                font.pixelSize: 12
            }
            Button {
                objectName: "searchCancelButton"
                Layout.alignment: Qt.AlignHCenter
                visible: overlay.searching
                text: "Cancel"
                onClicked: overlay.cancelRequested()
            }
        }
    }
}
