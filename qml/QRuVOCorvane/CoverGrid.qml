import QtQuick
import QtQuick.Controls.Basic

// A grid of cover tiles: albums and audiobooks (album rows), artists
// (artist rows) and videos (album rows holding one video each).
Item {
    id: grid

    property string kind: "album"   // "album", "artist" or "video"
    property var rows: []
    property string libraryName

    GridView {
        id: view
        objectName: grid.objectName + "Grid"
        anchors.fill: parent
        anchors.margins: 16
        clip: true
        cellWidth: Theme.tileWidth + 16
        cellHeight: Theme.tileHeight + 16
        model: grid.rows
        ScrollBar.vertical: ScrollBar {}

        delegate: CoverTile {
            required property var modelData
            row: modelData
            kind: grid.kind
        }
    }

    EmptyLibraryText {
        visible: grid.rows.length === 0
        libraryName: grid.libraryName
    }
}
