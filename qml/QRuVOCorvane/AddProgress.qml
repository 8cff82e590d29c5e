import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// While media are added to the library: how many of the added files are
// converted or copied so far, and the Cancel that stops the add after the
// file in hand.
Rectangle {
    id: panel
    objectName: "addProgress"

    property bool running: false
    property int count: 0
    property int total: 0

    signal cancelRequested()

    visible: running && total > 0
    width: 320
    height: column.implicitHeight + 32
    radius: 12
    color: Theme.surface
    border.color: Theme.border

    ColumnLayout {
        id: column
        anchors.centerIn: parent
        width: parent.width - 32
        spacing: 8

        ProgressBar {
            objectName: "addProgressBar"
            Layout.fillWidth: true
            from: 0
            to: Math.max(1, panel.total)
            value: Math.min(panel.count, to)
        }
        Label {
            objectName: "addProgressCount"
            Layout.fillWidth: true
            horizontalAlignment: Text.AlignHCenter
            text: panel.count + " / " + panel.total
            color: Theme.mutedText
            font.pixelSize: 12
        }
        Button {
            objectName: "addCancelButton"
            Layout.alignment: Qt.AlignHCenter
            text: "Cancel"
            onClicked: panel.cancelRequested()
        }
    }
}
