import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// One tile of a cover grid, with the tick box that writes the row's
// `selected` property.
Item {
    id: tile

    property var row: null
    property string kind: "album"

    readonly property string title: row ? Theme.str(kind === "artist" ? row.artistname : row.albumname) : ""
    readonly property string subtitle: {
        if (!row)
            return ""
        if (kind === "artist") {
            const albums = Number(row.albumcount) || 0
            const tracks = Number(row.trackcount) || 0
            return albums + (albums === 1 ? " album · " : " albums · ")
                    + tracks + (tracks === 1 ? " track" : " tracks")
        }
        if (kind === "video")
            return "Video"
        return Theme.str(row.artistname)
    }
    readonly property string cover: {
        if (!row)
            return ""
        if (kind === "artist") {
            const covers = Theme.list(row.coverart)
            return covers.length > 0 ? Theme.str(covers[0]) : ""
        }
        return Theme.str(row.coverart)
    }

    width: Theme.tileWidth + 16
    height: Theme.tileHeight + 16

    Rectangle {
        id: card
        anchors.fill: parent
        anchors.margins: 8
        radius: Theme.radius
        color: Theme.surface
        border.color: tick.checked ? Theme.accent : Theme.border
        border.width: tick.checked ? 2 : 1

        ColumnLayout {
            anchors.fill: parent
            anchors.margins: 8
            spacing: 6

            CoverArt {
                Layout.fillWidth: true
                Layout.preferredHeight: width
                cover: tile.cover
                fillMode: tile.kind === "video" ? Image.PreserveAspectFit : Image.PreserveAspectCrop
            }

            Label {
                Layout.fillWidth: true
                text: tile.title
                elide: Text.ElideRight
                color: Theme.text
                font.pixelSize: 13
                font.bold: true
            }
            Label {
                Layout.fillWidth: true
                text: tile.subtitle
                elide: Text.ElideRight
                color: Theme.mutedText
                font.pixelSize: 12
            }
        }

        CheckBox {
            id: tick
            objectName: "tileCheckBox"
            x: 10
            y: 10
            checked: tile.row ? tile.row.selected === true : false
            onToggled: if (tile.row) tile.row.selected = checked
        }
    }
}
