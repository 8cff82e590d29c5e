import QtQuick
import QtQuick.Controls.Basic

// The media browser's album or artist thumbnails.  A tile hides itself
// while its row's `visibility` is off, so a change costs that one tile.
Item {
    id: grid

    property string kind: "album"   // "album", "artist" or "video"
    property var rows: []
    readonly property alias count: view.count

    GridView {
        id: view
        objectName: grid.objectName + "Grid"
        anchors.fill: parent
        anchors.margins: 12
        clip: true
        cellWidth: Theme.tileWidth + 16
        cellHeight: Theme.tileHeight + 16
        model: grid.rows
        reuseItems: true
        ScrollBar.vertical: ScrollBar {}

        delegate: CoverTile {
            required property var modelData
            row: modelData
            kind: grid.kind
            visible: modelData ? modelData.visibility !== false : false
        }
    }
}
