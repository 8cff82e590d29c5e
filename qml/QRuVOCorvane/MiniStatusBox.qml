import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// The small box of a long run whose dialog was put aside: what runs, how
// far it is, and "view status".  Clicking the bar or "view status" asks for
// the dialog again.
Rectangle {
    id: box

    property string title
    property real value: 0      // 0 to 1
    property bool indeterminate: false

    signal statusRequested()

    implicitWidth: 260
    implicitHeight: content.implicitHeight + 20
    radius: 10
    color: Theme.surface
    border.color: Theme.border

    ColumnLayout {
        id: content
        anchors.fill: parent
        anchors.margins: 10
        spacing: 6

        Label {
            objectName: "miniBoxTitle"
            Layout.fillWidth: true
            text: box.title
            elide: Text.ElideRight
            color: Theme.text
            font.pixelSize: 12
            font.bold: true
        }

        ProgressBar {
            objectName: "miniBoxProgress"
            Layout.fillWidth: true
            from: 0
            to: 1
            value: box.value
            indeterminate: box.indeterminate

            signal clicked()
            onClicked: box.statusRequested()
            MouseArea {
                anchors.fill: parent
                cursorShape: Qt.PointingHandCursor
                onClicked: parent.clicked()
            }
        }

        Label {
            objectName: "miniBoxViewStatus"
            Layout.alignment: Qt.AlignRight
            text: Theme.str(miniBox_txtViewStatus)
            color: Theme.accent
            font.pixelSize: 12
            font.underline: true

            signal clicked()
            onClicked: box.statusRequested()
            MouseArea {
                anchors.fill: parent
                cursorShape: Qt.PointingHandCursor
                onClicked: parent.clicked()
            }
        }
    }
}
