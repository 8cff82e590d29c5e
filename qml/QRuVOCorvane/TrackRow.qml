import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// One row of a grouped track view: the group's cover (first row) or its
// artist, genre and year (second row) on the left, up to six tracks on the
// right.
Rectangle {
    id: trackRow

    property var row: null
    readonly property string cover: row ? Theme.str(row.coverart) : "no"
    readonly property bool firstOfGroup: cover !== "no"
    readonly property bool continues: !firstOfGroup
    readonly property var trackItems: row ? Theme.list(row.tracklist) : []

    signal groupToggled(bool checked)

    implicitHeight: Math.max(firstOfGroup ? 196 : 0,
                             trackItems.length * Theme.trackLineHeight + 16,
                             info.implicitHeight + 16)
    color: Theme.surface
    border.color: Theme.border
    radius: firstOfGroup ? Theme.radius : 0

    // the frame of a group runs through its rows without a gap
    Rectangle {
        visible: trackRow.continues
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.leftMargin: 1
        anchors.rightMargin: 1
        height: 1
        color: Theme.surface
    }

    RowLayout {
        anchors.fill: parent
        anchors.margins: 8
        spacing: 16

        Item {
            Layout.preferredWidth: 180
            Layout.fillHeight: true

            ColumnLayout {
                id: info
                width: parent.width
                spacing: 4

                RowLayout {
                    visible: trackRow.firstOfGroup
                    spacing: 2
                    CheckBox {
                        objectName: "groupCheckBox"
                        checked: trackRow.row ? trackRow.row.selected === true : false
                        onToggled: trackRow.groupToggled(checked)
                    }
                    Label {
                        Layout.fillWidth: true
                        text: trackRow.row ? Theme.str(trackRow.row.albumname) : ""
                        elide: Text.ElideRight
                        color: Theme.text
                        font.pixelSize: 14
                        font.bold: true
                    }
                }

                Rectangle {
                    visible: trackRow.firstOfGroup
                    Layout.preferredWidth: 140
                    Layout.preferredHeight: 140
                    Layout.leftMargin: 8
                    radius: Theme.radius - 2
                    color: Theme.surfaceAlt
                    clip: true
                    Image {
                        anchors.fill: parent
                        source: trackRow.firstOfGroup ? Theme.imageUrl(trackRow.cover) : ""
                        fillMode: Image.PreserveAspectCrop
                        sourceSize.width: 280
                        asynchronous: true
                    }
                }

                Label {
                    visible: !trackRow.firstOfGroup && text !== ""
                    Layout.fillWidth: true
                    Layout.leftMargin: 8
                    text: trackRow.row ? Theme.str(trackRow.row.artistname) : ""
                    elide: Text.ElideRight
                    color: Theme.text
                    font.pixelSize: 13
                    font.bold: true
                }
                Label {
                    visible: !trackRow.firstOfGroup && text !== ""
                    Layout.fillWidth: true
                    Layout.leftMargin: 8
                    text: trackRow.row ? Theme.str(trackRow.row.genre) : ""
                    elide: Text.ElideRight
                    color: Theme.mutedText
                    font.pixelSize: 12
                }
                Label {
                    visible: !trackRow.firstOfGroup && text !== ""
                    Layout.leftMargin: 8
                    text: trackRow.row && Number(trackRow.row.year) > 0 ? String(trackRow.row.year) : ""
                    color: Theme.mutedText
                    font.pixelSize: 12
                }
            }
        }

        ColumnLayout {
            Layout.fillWidth: true
            Layout.alignment: Qt.AlignTop
            spacing: 0

            Repeater {
                model: trackRow.trackItems
                TrackLine {
                    required property var modelData
                    Layout.fillWidth: true
                    track: modelData
                }
            }
        }
    }
}
