import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// One track of a track row, with the tick box that writes the track's
// `selected` property.
Rectangle {
    id: line

    property var track: null

    // The user ticked or unticked the track on its own.
    signal trackToggled()

    implicitHeight: Theme.trackLineHeight
    radius: 4
    color: hover.hovered ? Theme.surfaceAlt : "transparent"

    HoverHandler { id: hover }

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 4
        anchors.rightMargin: 8
        spacing: 8

        CheckBox {
            objectName: "trackCheckBox"
            Layout.preferredHeight: Theme.trackLineHeight
            padding: 2
            checked: line.track ? line.track.selected === true : false
            onToggled: {
                if (!line.track)
                    return
                line.track.selected = checked
                line.trackToggled()
            }
        }
        Label {
            Layout.preferredWidth: 28
            text: line.track && Number(line.track.trackno) > 0 ? String(line.track.trackno) : ""
            color: Theme.mutedText
            font.pixelSize: 12
            horizontalAlignment: Text.AlignRight
        }
        Label {
            Layout.fillWidth: true
            Layout.preferredWidth: 3
            text: line.track ? Theme.str(line.track.tracktitle) : ""
            elide: Text.ElideRight
            color: Theme.text
            font.pixelSize: 13
        }
        Label {
            Layout.fillWidth: true
            Layout.preferredWidth: 2
            text: line.track ? Theme.str(line.track.artistname) : ""
            elide: Text.ElideRight
            color: Theme.mutedText
            font.pixelSize: 12
        }
        Label {
            Layout.preferredWidth: 44
            text: line.track ? Theme.duration(line.track.duration) : ""
            color: Theme.mutedText
            font.pixelSize: 12
            horizontalAlignment: Text.AlignRight
        }
    }
}
