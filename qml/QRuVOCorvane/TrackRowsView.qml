import QtQuick
import QtQuick.Controls.Basic

// A grouped track view (tracks, playlists, podcasts): one card per group
// (album, playlist or podcast), made from the group's consecutive rows.  A
// card reads its rows when it is made: the view never walks all its rows.
Item {
    id: tracks

    property var rows: []
    property string libraryName
    readonly property var groups: Theme.spans(rows)

    ListView {
        id: view
        objectName: tracks.objectName + "List"
        anchors.fill: parent
        anchors.leftMargin: 16
        anchors.rightMargin: 16
        clip: true
        spacing: 10
        model: tracks.groups.first.length
        ScrollBar.vertical: ScrollBar {}
        header: Item { width: 1; height: 12 }
        footer: Item { width: 1; height: 12 }

        delegate: TrackGroup {
            required property int index
            width: ListView.view.width
            rows: Theme.spanRows(tracks.groups, index)
        }
    }

    EmptyLibraryText {
        visible: tracks.groups.first.length === 0
        libraryName: tracks.libraryName
    }
}
