import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// One group of a grouped track view (an album, playlist or podcast) as one
// card that fits its content: the cover beside the group's name, its artist,
// genre and year, and all of its tracks.  The group arrives as consecutive
// rows of up to six tracks: the first carries the cover, the second the
// artist, genre and year.
Rectangle {
    id: group

    property var rows: []
    readonly property var first: rows.length > 0 ? rows[0] : null
    readonly property var second: rows.length > 1 ? rows[1] : null
    readonly property var trackItems: {
        let items = []
        for (let i = 0; i < rows.length; ++i)
            items = items.concat(Theme.list(rows[i].tracklist))
        return items
    }
    readonly property string details: {
        if (!second)
            return ""
        const parts = [Theme.str(second.artistname), Theme.str(second.genre),
                       Number(second.year) > 0 ? String(second.year) : ""]
        return parts.filter((part) => part !== "").join("  ·  ")
    }

    // Ticks or unticks the whole group: every track of every row, then the
    // rows themselves.
    function setSelected(checked) {
        for (let i = 0; i < rows.length; ++i) {
            const list = Theme.list(rows[i].tracklist)
            for (let t = 0; t < list.length; ++t)
                list[t].selected = checked
            rows[i].selected = checked
        }
    }

    // A row's own box stands for every track of it (an add or a removal
    // takes all of a ticked row's tracks): when a track is ticked or
    // unticked on its own, each row's box says again whether all of its
    // tracks are ticked.
    function followTracks() {
        for (let i = 0; i < rows.length; ++i)
            rows[i].selected = Theme.linesTicked(rows[i])
    }

    implicitHeight: Math.max(cover.height, body.implicitHeight) + 28
    color: Theme.surface
    border.color: Theme.border
    radius: Theme.radius

    CoverArt {
        id: cover
        x: 14
        y: 14
        width: 112
        height: 112
        cover: group.first ? Theme.str(group.first.coverart) : ""
    }

    ColumnLayout {
        id: body
        anchors.top: parent.top
        anchors.topMargin: 14
        anchors.left: cover.right
        anchors.leftMargin: 12
        anchors.right: parent.right
        anchors.rightMargin: 12
        spacing: 0

        RowLayout {
            Layout.fillWidth: true
            spacing: 4

            CheckBox {
                objectName: "groupCheckBox"
                checked: Theme.allTicked(group.rows)
                onToggled: group.setSelected(checked)
            }
            ColumnLayout {
                Layout.fillWidth: true
                spacing: 2
                Label {
                    Layout.fillWidth: true
                    text: group.first ? Theme.str(group.first.albumname) : ""
                    elide: Text.ElideRight
                    color: Theme.text
                    font.pixelSize: 15
                    font.bold: true
                }
                Label {
                    Layout.fillWidth: true
                    visible: text !== ""
                    text: group.details
                    elide: Text.ElideRight
                    color: Theme.mutedText
                    font.pixelSize: 12
                }
            }
        }

        Rectangle {
            Layout.fillWidth: true
            Layout.topMargin: 8
            Layout.bottomMargin: 4
            implicitHeight: 1
            color: Theme.border
        }

        Repeater {
            model: group.trackItems
            TrackLine {
                required property var modelData
                Layout.fillWidth: true
                track: modelData
                onTrackToggled: group.followTracks()
            }
        }
    }
}
