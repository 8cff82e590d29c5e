import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// The library: seven views in tabs, the select-all box and the actions on
// the ticked items.  Rows are the published row objects; ticking a row
// writes its `selected` property directly.
Item {
    id: panel
    objectName: "libraryPanel"

    // Tab order is the view index the application expects:
    // 0 albums, 1 artists, 2 tracks, 3 playlists, 4 podcasts, 5 audiobooks, 6 videos.
    readonly property var tabNames: ["Albums", "Artists", "Tracks", "Playlists", "Podcasts", "Audiobooks", "Videos"]
    // the library named in each view's empty text
    readonly property var libraryNames: ["Music", "Music", "Music", "Playlists", "Podcasts", "Audiobooks", "Videos"]
    property alias currentView: tabs.currentIndex
    // the shown rows of the current view, which select-all governs
    readonly property var currentRows: Theme.shown([albumsModel, artistsModel, tracksModel, playlistsModel,
                                                    podcastsModel, audiobooksModel, videosModel][tabs.currentIndex])

    signal viewChosen(int index)
    signal selectAllRequested(bool checked)
    signal addMediaRequested()
    signal removeRequested()
    signal transferRequested()
    signal advancedSettingsRequested()

    // The application republished the views; select-all follows the new rows
    // through its binding.
    function refreshed() {
    }

    // True when the view shows rows and every one of them is ticked.
    function allTicked(rows) {
        for (let i = 0; i < rows.length; ++i) {
            if (!rows[i].selected)
                return false
        }
        return rows.length > 0
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        Rectangle {
            Layout.fillWidth: true
            implicitHeight: header.implicitHeight
            color: Theme.surface

            // Tabs and actions share one line where it is wide enough; in a
            // narrower window (down to its minimum width) the actions get a
            // line of their own above the tabs.
            GridLayout {
                id: header
                readonly property bool oneLine: tabs.implicitWidth + actions.implicitWidth + columnSpacing + 32
                                                <= panel.width
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.leftMargin: 16
                anchors.rightMargin: 16
                columns: oneLine ? 2 : 1
                columnSpacing: Theme.spacing
                rowSpacing: 0

                TabBar {
                    id: tabs
                    objectName: "libraryTabs"
                    Layout.row: header.oneLine ? 0 : 1
                    Layout.column: 0
                    Layout.topMargin: header.oneLine ? 12 : 0
                    Layout.alignment: Qt.AlignBottom
                    background: Item {}
                    onCurrentIndexChanged: panel.viewChosen(currentIndex)

                    Repeater {
                        model: panel.tabNames
                        TabButton {
                            id: tab
                            required property string modelData
                            required property int index
                            objectName: "libraryTab" + index
                            text: modelData
                            width: implicitWidth + 12
                            contentItem: Label {
                                text: tab.text
                                font.pixelSize: 14
                                font.bold: tab.checked
                                color: tab.checked ? Theme.accent : Theme.mutedText
                                horizontalAlignment: Text.AlignHCenter
                                verticalAlignment: Text.AlignVCenter
                            }
                            background: Rectangle {
                                implicitHeight: 44
                                color: "transparent"
                                Rectangle {
                                    anchors.bottom: parent.bottom
                                    width: parent.width
                                    height: 3
                                    radius: 1.5
                                    color: tab.checked ? Theme.accent : "transparent"
                                }
                            }
                        }
                    }
                }

                RowLayout {
                    id: actions
                    Layout.row: 0
                    Layout.column: header.oneLine ? 1 : 0
                    Layout.fillWidth: true
                    Layout.preferredHeight: 56
                    spacing: 8

                    Item { Layout.fillWidth: true }

                    CheckBox {
                        id: selectAll
                        objectName: "selectAllCheckBox"
                        text: "Select all"
                        checked: panel.allTicked(panel.currentRows)
                        onToggled: {
                            panel.selectAllRequested(checked)
                            // The click set the box; from now on the rows say again.
                            checked = Qt.binding(() => panel.allTicked(panel.currentRows))
                        }
                    }

                    Button {
                        objectName: "addMediaButton"
                        text: "ADD MEDIA"
                        highlighted: true
                        onClicked: panel.addMediaRequested()
                    }
                    Button {
                        objectName: "removeButton"
                        text: "REMOVE"
                        flat: true
                        onClicked: panel.removeRequested()
                    }
                    Button {
                        objectName: "advancedSettingsButton"
                        text: "ADVANCED SETTINGS"
                        flat: true
                        onClicked: panel.advancedSettingsRequested()
                    }
                    Button {
                        objectName: "transferButton"
                        text: "TRANSFER"
                        onClicked: panel.transferRequested()
                    }
                }
            }

            Rectangle {
                anchors.bottom: parent.bottom
                width: parent.width
                height: 1
                color: Theme.border
            }
        }

        StackLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            currentIndex: tabs.currentIndex

            CoverGrid {
                objectName: "albumsView"
                kind: "album"
                rows: Theme.shown(albumsModel)
                libraryName: panel.libraryNames[0]
            }
            CoverGrid {
                objectName: "artistsView"
                kind: "artist"
                rows: Theme.shown(artistsModel)
                libraryName: panel.libraryNames[1]
            }
            TrackRowsView {
                objectName: "tracksView"
                rows: Theme.shown(tracksModel)
                libraryName: panel.libraryNames[2]
            }
            TrackRowsView {
                objectName: "playlistsView"
                rows: Theme.shown(playlistsModel)
                libraryName: panel.libraryNames[3]
            }
            TrackRowsView {
                objectName: "podcastsView"
                rows: Theme.shown(podcastsModel)
                libraryName: panel.libraryNames[4]
            }
            CoverGrid {
                objectName: "audiobooksView"
                kind: "album"
                rows: Theme.shown(audiobooksModel)
                libraryName: panel.libraryNames[5]
            }
            CoverGrid {
                objectName: "videosView"
                kind: "video"
                rows: Theme.shown(videosModel)
                libraryName: panel.libraryNames[6]
            }
        }
    }
}
