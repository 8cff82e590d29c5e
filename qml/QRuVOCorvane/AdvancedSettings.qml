import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// The advanced settings dialog: the added media with missing data and those
// of poor quality, each list in a tab.  Continue sends the ticked
// missing-data files to the lookup, Cancel stops it; the link tabs of the
// poor-quality list look for better copies of the ticked albums.
ThemedPopup {
    id: dialog
    objectName: "advancedSettingsDialog"

    property var missingRows: []
    property var poorRows: []
    // 0 missing data, 1 poor quality
    property alias currentList: listTabs.currentIndex

    signal listChosen(int index)
    signal selectAllRequested(bool checked)
    signal linkTabChosen(int tabIndex)
    signal continueRequested()
    signal cancelRequested()

    function show() {
        linkTabs.currentIndex = -1 // no search chosen yet
        listTabs.currentIndex = 0
        dialog.listChosen(0)
        open()
    }

    // A tab drawn like the library's: bold and underlined when chosen.
    component UnderlineTab: TabButton {
        id: tab
        property bool chosen: checked
        width: implicitWidth + 16
        contentItem: Label {
            text: tab.text
            font.pixelSize: 14
            font.bold: tab.chosen
            color: tab.chosen ? Theme.accent : Theme.mutedText
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
        }
        background: Rectangle {
            implicitHeight: 40
            color: "transparent"
            Rectangle {
                anchors.bottom: parent.bottom
                width: parent.width
                height: 3
                radius: 1.5
                color: tab.chosen ? Theme.accent : "transparent"
            }
        }
    }

    // One list of rows; a republished list keeps its delegates' types.
    component SettingsList: Item {
        property var rows: []
        readonly property alias count: listView.count

        ListView {
            id: listView
            anchors.fill: parent
            clip: true
            model: Theme.list(parent.rows)
            ScrollBar.vertical: ScrollBar {}
            delegate: SettingsLine {
                required property var modelData
                width: ListView.view.width
                row: modelData
            }
        }
        Label {
            anchors.centerIn: parent
            visible: Theme.count(parent.rows) === 0
            text: "No files in this list"
            color: Theme.mutedText
            font.pixelSize: 13
        }
    }

    anchors.centerIn: parent
    width: Math.min(920, (parent ? parent.width : 920) - 40)
    height: Math.min(640, (parent ? parent.height : 640) - 40)
    modal: true
    closePolicy: Popup.NoAutoClose
    padding: 24

    background: Rectangle {
        radius: 12
        color: Theme.surface
        border.color: Theme.border
    }

    contentItem: ColumnLayout {
        spacing: 12

        Label {
            objectName: "advancedSettingsTitle"
            text: Theme.str(AdvanceSetting_txtTitle)
            color: Theme.text
            font.pixelSize: 18
            font.bold: true
        }

        TabBar {
            id: listTabs
            objectName: "settingsTabs"
            background: Item {}
            onCurrentIndexChanged: dialog.listChosen(currentIndex)
            UnderlineTab {
                objectName: "missingDataTab"
                text: "Missing data (" + Theme.count(dialog.missingRows) + ")"
            }
            UnderlineTab {
                objectName: "poorQualityTab"
                text: "Poor quality (" + Theme.count(dialog.poorRows) + ")"
            }
        }

        Label {
            objectName: "advancedSettingsText"
            Layout.fillWidth: true
            text: listTabs.currentIndex === 0 ? Theme.str(AdvanceSetting_textOfMediaData)
                                              : Theme.str(AdvanceSetting_textOfMediaQuality)
            wrapMode: Text.WordWrap
            color: Theme.mutedText
            font.pixelSize: 13
        }

        RowLayout {
            Layout.fillWidth: true
            visible: listTabs.currentIndex === 1
            spacing: Theme.spacing

            Label {
                text: "Look for the ticked albums in:"
                color: Theme.text
                font.pixelSize: 13
            }
            TabBar {
                id: linkTabs
                objectName: "linkTabs"
                background: Item {}
                Repeater {
                    model: ["iTunes Store", "Web shop", "Keep as is"]
                    UnderlineTab {
                        required property string modelData
                        required property int index
                        objectName: "linkTab" + index
                        text: modelData
                        // A tab bar keeps its last button checked: none is
                        // shown chosen until the user picks one.
                        chosen: linkTabs.currentIndex === index
                        onClicked: dialog.linkTabChosen(index)
                    }
                }
            }
            Item { Layout.fillWidth: true }
        }

        SelectAllBox {
            objectName: "settingsSelectAll"
            rows: listTabs.currentIndex === 0 ? dialog.missingRows : dialog.poorRows
            onSelectAllRequested: (checked) => dialog.selectAllRequested(checked)
        }

        Rectangle {
            Layout.fillWidth: true
            Layout.fillHeight: true
            radius: Theme.radius
            color: Theme.window
            border.color: Theme.border

            StackLayout {
                anchors.fill: parent
                anchors.margins: 6
                currentIndex: listTabs.currentIndex

                SettingsList {
                    objectName: "missingDataList"
                    rows: dialog.missingRows
                }
                SettingsList {
                    objectName: "poorQualityList"
                    rows: dialog.poorRows
                }
            }
        }

        RowLayout {
            Layout.fillWidth: true
            Item { Layout.fillWidth: true }
            Button {
                objectName: "advancedSettingsCancel"
                text: "Cancel"
                flat: true
                onClicked: {
                    dialog.close()
                    dialog.cancelRequested()
                }
            }
            Button {
                objectName: "advancedSettingsContinue"
                text: "Continue"
                highlighted: true
                onClicked: {
                    dialog.close()
                    dialog.continueRequested()
                }
            }
        }
    }
}
