import QtQuick
import QtQuick.Controls.Basic

// A grouped track view (tracks, playlists, podcasts): one card per group
// (album, playlist or podcast), made from the group's consecutive rows.
Item {
    id: tracks

    property var rows: []
    property string libraryName

    ListView {
        id: view
        objectName: tracks.objectName + "List"
        anchors.fill: parent
        anchors.leftMargin: 16
        anchors.rightMargin: 16
        clip: true
        spacing: 10
        model: Theme.groups(tracks.rows)
        ScrollBar.vertical: ScrollBar {}
        header: Item { width: 1; height: 12 }
        footer: Item { width: 1; height: 12 }

        delegate: TrackGroup {
            required property var modelData
            width: ListView.view.width
            rows: modelData.rows
        }
    }

    EmptyLibraryText {
        visible: tracks.rows.length === 0
        libraryName: tracks.libraryName
    }
}
