import QtQuick
import QtQuick.Controls.Basic

// The media browser's tracks as groups of rows (an album or playlist is a
// run of rows of up to six tracks).  A row hides itself while its
// `visibility` is off.
Item {
    id: groups

    property var rows: []
    readonly property alias count: view.count

    // A group's box ticks every track of every row of the group.
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
        objectName: groups.objectName + "List"
        anchors.fill: parent
        anchors.margins: 12
        clip: true
        model: groups.rows
        ScrollBar.vertical: ScrollBar {}

        delegate: TrackRow {
            required property var modelData
            width: ListView.view.width
            row: modelData
            visible: modelData ? modelData.visibility !== false : false
            height: visible ? implicitHeight : 0
            onGroupToggled: (checked) => groups.setGroupSelected(modelData, checked)
        }
    }
}
