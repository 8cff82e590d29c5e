import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// Lists the copy-protected files the last scan found; they can't be added.
ThemedPopup {
    id: dialog
    objectName: "protectedMediaDialog"

    property var files: []

    anchors.centerIn: parent
    width: Math.min(640, (parent ? parent.width : 640) - 40)
    height: Math.min(460, (parent ? parent.height : 460) - 40)
    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape
    padding: 24

    background: Rectangle {
        radius: 12
        color: Theme.surface
    }

    contentItem: ColumnLayout {
        spacing: 12

        Label {
            Layout.fillWidth: true
            text: Theme.str(protectedSongsView_txtHeader)
            color: Theme.text
            font.pixelSize: 18
            font.bold: true
        }
        Label {
            Layout.fillWidth: true
            text: Theme.str(protectedSongsView_dialogtitle)
            wrapMode: Text.WordWrap
            color: Theme.mutedText
            font.pixelSize: 13
        }
        ListView {
            objectName: "protectedFilesList"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            model: dialog.files
            ScrollBar.vertical: ScrollBar {}
            delegate: Label {
                required property var modelData
                width: ListView.view.width
                text: Theme.str(modelData)
                elide: Text.ElideMiddle
                color: Theme.text
                font.pixelSize: 12
                padding: 4
            }
        }
        Button {
            objectName: "protectedOkButton"
            Layout.alignment: Qt.AlignRight
            text: "OK"
            highlighted: true
            onClicked: dialog.close()
        }
    }
}
