import QtQuick
import QtQuick.Controls.Basic

// A grouped track view (tracks, playlists, podcasts).  A group (album,
// playlist or podcast) arrives as consecutive rows of up to six tracks: the
// first row carries the group's cover, the second its artist, genre and
// year, further rows only tracks (their cover is "no").
Item {
    id: tracks

    property var rows: []
    property string libraryName

    // Ticks or unticks a whole group: every track of every row of the group,
    // then the rows themselves.
    function setGroupSelected(firstRow, checked) {
        const start = rows.indexOf(firstRow)
        if (start < 0)
            return
        for (let i = start; i < rows.length; ++i) {
            const row = rows[i]
            if (i > start && Theme.str(row.coverart) !== "no")
                break
            const list = Theme.list(row.tracklist)
            for (let t = 0; t < list.length; ++t)
                list[t].selected = checked
            row.selected = checked
        }
    }

    ListView {
        id: view
        objectName: tracks.objectName + "List"
        anchors.fill: parent
        anchors.leftMargin: 16
        anchors.rightMargin: 16
        clip: true
        model: tracks.rows
        ScrollBar.vertical: ScrollBar {}
        header: Item { width: 1; height: 12 }
        footer: Item { width: 1; height: 12 }

        delegate: TrackRow {
            required property var modelData
            width: ListView.view.width
            row: modelData
            onGroupToggled: (checked) => tracks.setGroupSelected(modelData, checked)
        }
    }

    EmptyLibraryText {
        visible: tracks.rows.length === 0
        libraryName: tracks.libraryName
    }
}
