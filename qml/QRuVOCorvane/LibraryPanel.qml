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
    // the rows of the current view, whose shown ones select-all governs
    readonly property var currentRows: Theme.list([albumsModel, artistsModel, tracksModel, playlistsModel,
                                                   podcastsModel, audiobooksModel, videosModel][tabs.currentIndex])

    // The rows published for each view, as the views take them: the view on
    // screen at once, each other one in a later turn of the event loop, one
    // view a turn.  A library of 100,000 tracks has tens of thousands of
    // rows: all seven views taking theirs in one turn would hold the window
    // still for all of them together.
    component Stage: QtObject {
        required property int view
        property var published
        property var rows // no binding: take() decides when it follows
        property bool behind: false
        readonly property bool onScreen: tabs.currentIndex === view

        function take() {
            behind = false
            rows = published
        }

        Component.onCompleted: take()
        onPublishedChanged: {
            if (onScreen) {
                take()
            } else {
                behind = true
                panel.takeLater(this)
            }
        }
        onOnScreenChanged: {
            if (onScreen && behind)
                take()
        }
    }
    readonly property list<QtObject> stages: [
        Stage { view: 0; published: albumsModel },
        Stage { view: 1; published: artistsModel },
        Stage { view: 2; published: tracksModel },
        Stage { view: 3; published: playlistsModel },
        Stage { view: 4; published: podcastsModel },
        Stage { view: 5; published: audiobooksModel },
        Stage { view: 6; published: videosModel }
    ]
    // how many views still wait for their rows
    property int waitingViews: 0
    property var waitingStages: []

    function takeLater(stage) {
        if (waitingStages.indexOf(stage) >= 0)
            return
        waitingStages.push(stage)
        waitingViews = waitingStages.length
        if (waitingViews === 1)
            Qt.callLater(takeNext)
    }

    function takeNext() {
        const stage = waitingStages.shift()
        waitingViews = waitingStages.length
        if (stage && stage.behind)
            stage.take()
        if (waitingViews > 0)
            Qt.callLater(takeNext) // the next view in a turn of its own
    }

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

                    SelectAllBox {
                        id: selectAll
                        objectName: "selectAllCheckBox"
                        rows: panel.currentRows
                        onSelectAllRequested: (checked) => panel.selectAllRequested(checked)
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
                rows: Theme.shown(panel.stages[0].rows)
                libraryName: panel.libraryNames[0]
            }
            CoverGrid {
                objectName: "artistsView"
                kind: "artist"
                rows: Theme.shown(panel.stages[1].rows)
                libraryName: panel.libraryNames[1]
            }
            TrackRowsView {
                objectName: "tracksView"
                rows: Theme.list(panel.stages[2].rows)
                libraryName: panel.libraryNames[2]
            }
            TrackRowsView {
                objectName: "playlistsView"
                rows: Theme.list(panel.stages[3].rows)
                libraryName: panel.libraryNames[3]
            }
            TrackRowsView {
                objectName: "podcastsView"
                rows: Theme.list(panel.stages[4].rows)
                libraryName: panel.libraryNames[4]
            }
            CoverGrid {
                objectName: "audiobooksView"
                kind: "album"
                rows: Theme.shown(panel.stages[5].rows)
                libraryName: panel.libraryNames[5]
            }
            CoverGrid {
                objectName: "videosView"
                kind: "video"
                rows: Theme.shown(panel.stages[6].rows)
                libraryName: panel.libraryNames[6]
            }
        }
    }
}
