import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// One line of an advanced-settings list: the tick box writes the row's
// `selected`; a row hidden by its `visibility` takes no space.
Rectangle {
    id: line

    property var row: null

    visible: row !== null && row.visibility !== false
    implicitHeight: visible ? Theme.trackLineHeight + 4 : 0
    radius: 4
    color: hover.hovered ? Theme.surfaceAlt : "transparent"

    HoverHandler { id: hover }

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 4
        anchors.rightMargin: 8
        spacing: 10

        CheckBox {
            objectName: "settingsLineCheckBox"
            Layout.preferredHeight: Theme.trackLineHeight
            padding: 2
            checked: line.row ? line.row.selected === true : false
            onToggled: if (line.row) line.row.selected = checked
        }
        Label {
            Layout.fillWidth: true
            Layout.preferredWidth: 3
            text: line.row ? Theme.str(line.row.tracktitle) : ""
            elide: Text.ElideRight
            color: Theme.text
            font.pixelSize: 13
        }
        Label {
            Layout.fillWidth: true
            Layout.preferredWidth: 2
            text: line.row ? Theme.str(line.row.artistname) : ""
            elide: Text.ElideRight
            color: Theme.mutedText
            font.pixelSize: 12
        }
        Label {
            Layout.fillWidth: true
            Layout.preferredWidth: 2
            text: line.row ? Theme.str(line.row.albumname) : ""
            elide: Text.ElideRight
            color: Theme.mutedText
            font.pixelSize: 12
        }
        Label {
            Layout.fillWidth: true
            Layout.preferredWidth: 1
            text: line.row ? Theme.str(line.row.genre) : ""
            elide: Text.ElideRight
            color: Theme.mutedText
            font.pixelSize: 12
        }
        Label {
            Layout.preferredWidth: 40
            text: line.row && Number(line.row.year) > 0 ? String(line.row.year) : ""
            color: Theme.mutedText
            font.pixelSize: 12
            horizontalAlignment: Text.AlignRight
        }
    }
}
