import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// The media browser's detail list: one line per track with its tick box.
// A line hides itself while its row's `visibility` is off.
Item {
    id: details

    property var rows: []
    property bool videos: false
    readonly property alias count: view.count
    // What a video's line shows where the video has no value.
    readonly property string unknown: Theme.str(detailedView_txtVideoView)

    function shown(text) {
        return videos && text.trim() === "" ? unknown : text
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 12
        spacing: 0

        RowLayout {
            Layout.fillWidth: true
            Layout.leftMargin: 44
            spacing: 8
            Repeater {
                model: [details.videos ? "FILE" : "TITLE", "ALBUM", "ARTIST", "GENRE",
                        details.videos ? "LENGTH" : "YEAR"]
                Label {
                    required property string modelData
                    required property int index
                    Layout.preferredWidth: index === 4 ? 70 : 1
                    Layout.fillWidth: index < 4
                    text: modelData
                    color: Theme.mutedText
                    font.pixelSize: 11
                    font.bold: true
                }
            }
        }

        ListView {
            id: view
            objectName: details.objectName + "List"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            model: details.rows
            reuseItems: true
            ScrollBar.vertical: ScrollBar {}

            delegate: Rectangle {
                id: line
                required property var modelData
                required property int index
                readonly property var row: modelData
                width: ListView.view.width
                visible: row ? row.visibility !== false : false
                height: visible ? 34 : 0
                color: index % 2 ? Theme.surfaceAlt : Theme.surface

                RowLayout {
                    anchors.fill: parent
                    anchors.rightMargin: 8
                    spacing: 8
                    CheckBox {
                        objectName: "detailCheckBox"
                        padding: 2
                        checked: line.row ? line.row.selected === true : false
                        onToggled: if (line.row) line.row.selected = checked
                    }
                    Repeater {
                        model: line.row ? [Theme.str(line.row.tracktitle), Theme.str(line.row.albumname),
                                           Theme.str(line.row.artistname), Theme.str(line.row.genre)]
                                          .map(t => details.shown(t)) : []
                        Label {
                            required property string modelData
                            Layout.fillWidth: true
                            Layout.preferredWidth: 1
                            text: modelData
                            elide: Text.ElideRight
                            color: Theme.text
                            font.pixelSize: 13
                        }
                    }
                    Label {
                        Layout.preferredWidth: 70
                        text: !line.row ? "" : details.videos ? (Number(line.row.year) > 0 ? Theme.duration(line.row.year)
                                                                                           : details.unknown)
                                                              : (Number(line.row.year) > 0 ? String(line.row.year) : "")
                        color: Theme.mutedText
                        font.pixelSize: 13
                    }
                }
            }
        }
    }
}
