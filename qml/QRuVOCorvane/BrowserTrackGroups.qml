import QtQuick
import QtQuick.Controls.Basic

// The media browser's tracks as group cards (an album or playlist is a run
// of rows of up to six tracks).  A group whose first row's `visibility` is
// off is not shown.
Item {
    id: groups

    property var rows: []
    readonly property alias count: view.count

    ListView {
        id: view
        objectName: groups.objectName + "List"
        anchors.fill: parent
        anchors.margins: 12
        clip: true
        spacing: 10
        model: Theme.groups(groups.rows)
        ScrollBar.vertical: ScrollBar {}

        delegate: TrackGroup {
            required property var modelData
            width: ListView.view.width
            rows: modelData.rows
        }
    }
}
