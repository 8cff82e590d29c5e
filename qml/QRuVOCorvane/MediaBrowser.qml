import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// The media browser: the user picks a location, sees what it holds as
// albums, artists or tracks, as thumbnails or a list, narrows it by category
// and search text, and ticks what to add.  The rows are the application's
// published row objects; a tick writes a row's `selected` directly.
Rectangle {
    id: browser
    objectName: "mediaBrowser"

    // Location keys the application scans, with their button texts.
    readonly property var sources: [
        { key: "itunes", text: "iTunes" },
        { key: "mymusic", text: "My Music" },
        { key: "myvideos", text: "My Videos" },
        { key: "mypictures", text: "My Pictures" },
        { key: "browse", text: "Browse…" }
    ]
    readonly property var categoryNames: ["Music", "Playlists", "Podcasts", "Audiobooks", "Videos"]

    // The status boxes of runs put aside keep above the footer's buttons.
    readonly property real footerHeight: footer.height

    property string source: ""
    readonly property alias searchText: search.text
    property int view: 0        // 0 albums, 1 artists, 2 tracks
    property int display: 0     // 0 thumbnails, 1 list
    property int category: 0    // 0 music … 4 videos
    // While the location is scanned or its rows are built (the loading
    // overlay covers the browser): no row is shown yet, and none is missing.
    property bool busy: false

    signal sourceChosen(string key)
    signal viewChosen(int index)
    signal displayChosen(int index)
    signal categoryChosen(int index)
    signal searchChanged(string text)
    signal selectAllRequested(bool checked)
    signal addRequested()
    signal closeRequested()

    // Rows of what is shown now.
    readonly property var shownRows: {
        if (display === 1)
            return Theme.list(view === 0 ? albumDetailsDialog : view === 1 ? artistDetailsDialog : trackDetailsDialog)
        return Theme.list(view === 0 ? albumModelDialog : view === 1 ? artistsModelDialog : tracksModelDialog)
    }

    // What the footer says when nothing is shown: why the location holds
    // nothing (an iTunes library not found, or holding nothing to take),
    // that the search hides the category's media, or which categories hold
    // the location's media when the one chosen holds none.
    function emptyText() {
        if (Theme.str(browserEmptyReason) !== "")
            return Theme.str(browserEmptyReason)
        const counts = Theme.list(browserCategoryCounts)
        if (search.text !== "" && counts[browser.category] > 0)
            return "Nothing in this category matches the search."
        const holding = []
        for (let i = 0; i < counts.length && i < categoryNames.length; ++i) {
            if (counts[i] > 0)
                holding.push(categoryNames[i] + " (" + counts[i] + ")")
        }
        if (holding.length === 0 || counts[browser.category] > 0)
            return "No media found here in this category."
        return "No media found here in this category. This location holds " + holding.join(", ")
                + (holding.length === 1 ? ": choose it as the category." : ": choose one of them as the category.")
    }

    // A new location starts with no search text.
    function resetFilters() {
        search.text = ""
    }

    color: Theme.window

    // Input stays inside the browser.
    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.AllButtons
        onWheel: (wheel) => wheel.accepted = true
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        // ---- Locations -------------------------------------------------
        Rectangle {
            Layout.fillWidth: true
            implicitHeight: 64
            color: Theme.surface

            RowLayout {
                anchors.fill: parent
                anchors.leftMargin: 16
                anchors.rightMargin: 16
                spacing: Theme.spacing

                Label {
                    text: Theme.str(MediaBrowser_txtTitle)
                    color: Theme.text
                    font.pixelSize: 18
                    font.bold: true
                }
                Label {
                    Layout.leftMargin: 16
                    text: Theme.str(MediaBrowser_txtLocation)
                    color: Theme.mutedText
                    font.pixelSize: 12
                    font.bold: true
                }
                Repeater {
                    model: browser.sources
                    Button {
                        required property var modelData
                        objectName: "source_" + modelData.key
                        text: modelData.text
                        checkable: true
                        checked: browser.source === modelData.key
                        onClicked: {
                            checked = Qt.binding(() => browser.source === modelData.key)
                            browser.source = modelData.key
                            browser.resetFilters()
                            browser.sourceChosen(modelData.key)
                        }
                    }
                }
                Item { Layout.fillWidth: true }
                Button {
                    objectName: "browserCloseButton"
                    text: "CLOSE"
                    flat: true
                    onClicked: browser.closeRequested()
                }
            }
            Rectangle {
                anchors.bottom: parent.bottom
                width: parent.width
                height: 1
                color: Theme.border
            }
        }

        // ---- View, display, category, search, select all ---------------
        // One line where it is wide enough; in a narrower window (down to
        // its minimum width) the search and select-all get a line of their own.
        GridLayout {
            id: filters
            readonly property bool oneLine: choices.implicitWidth + finders.implicitWidth + columnSpacing + 32
                                            <= browser.width
            Layout.fillWidth: true
            Layout.leftMargin: 16
            Layout.rightMargin: 16
            Layout.topMargin: 8
            columns: oneLine ? 2 : 1
            columnSpacing: Theme.spacing
            rowSpacing: 4

            RowLayout {
                id: choices
                spacing: Theme.spacing

                Label {
                    text: Theme.str(MediaBrowser_txtView)
                    color: Theme.mutedText
                    font.pixelSize: 12
                    font.bold: true
                }
                Repeater {
                    model: ["Albums", "Artists", "Tracks"]
                    Button {
                        required property string modelData
                        required property int index
                        objectName: "browserViewTab" + index
                        text: modelData
                        checkable: true
                        checked: browser.view === index
                        // videos are shown as albums only
                        enabled: index === 0 || browser.category !== 4
                        onClicked: {
                            checked = Qt.binding(() => browser.view === index)
                            if (browser.view === index)
                                return
                            browser.view = index
                            browser.viewChosen(index)
                        }
                    }
                }
                Label {
                    Layout.leftMargin: 8
                    text: Theme.str(MediaBrowser_txtDisplay)
                    color: Theme.mutedText
                    font.pixelSize: 12
                    font.bold: true
                }
                Repeater {
                    model: ["Thumbnails", "List"]
                    Button {
                        required property string modelData
                        required property int index
                        objectName: "browserDisplay" + index
                        text: modelData
                        checkable: true
                        checked: browser.display === index
                        onClicked: {
                            checked = Qt.binding(() => browser.display === index)
                            browser.display = index
                            browser.displayChosen(index)
                        }
                    }
                }
                ChoiceBox {
                    id: categories
                    objectName: "browserCategory"
                    Layout.leftMargin: 8
                    model: browser.categoryNames
                    currentIndex: browser.category
                    onActivated: (index) => {
                        // The search marks stay among the audio categories; to
                        // and from videos they are lifted.
                        if ((index === 4) !== (browser.category === 4))
                            search.text = ""
                        browser.category = index
                        if (index === 4 && browser.view !== 0)
                            browser.view = 0
                        browser.categoryChosen(index)
                    }
                }
            }

            RowLayout {
                id: finders
                Layout.fillWidth: true
                spacing: Theme.spacing

                Item { Layout.fillWidth: true }
                TextField {
                    id: search
                    objectName: "browserSearch"
                    Layout.preferredWidth: 220
                    placeholderText: "Search"
                    onTextEdited: browser.searchChanged(text)
                }
                SelectAllBox {
                    objectName: "browserSelectAll"
                    rows: browser.shownRows
                    onSelectAllRequested: (checked) => browser.selectAllRequested(checked)
                }
            }
        }

        // ---- What the location holds ------------------------------------
        StackLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            currentIndex: browser.display === 1 ? 3 : browser.view

            BrowserCoverGrid {
                objectName: "browserAlbums"
                kind: browser.category === 4 ? "video" : "album"
                rows: Theme.list(albumModelDialog)
            }
            BrowserCoverGrid {
                objectName: "browserArtists"
                kind: "artist"
                rows: Theme.list(artistsModelDialog)
            }
            BrowserTrackGroups {
                objectName: "browserTracks"
                rows: Theme.list(tracksModelDialog)
            }
            BrowserDetailList {
                objectName: "browserDetails"
                videos: browser.category === 4
                rows: browser.display === 1 ? browser.shownRows : []
            }
        }

        // ---- Footer --------------------------------------------------------
        Rectangle {
            id: footer
            Layout.fillWidth: true
            implicitHeight: 60
            color: Theme.surface

            RowLayout {
                anchors.fill: parent
                anchors.leftMargin: 16
                anchors.rightMargin: 16
                spacing: Theme.spacing

                Label {
                    objectName: "browserHint"
                    Layout.fillWidth: true
                    text: browser.source === "" ? "Choose a location to see the media it holds."
                                                : browser.shownRows.length === 0 && !browser.busy ? browser.emptyText()
                                                                                                   : ""
                    color: Theme.mutedText
                    font.pixelSize: 13
                    wrapMode: Text.WordWrap
                }
                Button {
                    objectName: "browserCancelButton"
                    text: "CANCEL"
                    flat: true
                    onClicked: browser.closeRequested()
                }
                Button {
                    objectName: "browserAddButton"
                    text: "ADD TO LIBRARY"
                    highlighted: true
                    enabled: browser.shownRows.length > 0
                    onClicked: browser.addRequested()
                }
            }
        }
    }
}
