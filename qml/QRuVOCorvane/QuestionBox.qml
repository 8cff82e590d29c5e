import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// A modal question with two answers; only the first one acts.
ThemedPopup {
    id: box

    property string question
    property string acceptText: "OK"
    property string rejectText: "Cancel"

    signal accepted()

    anchors.centerIn: parent
    width: Math.min(480, (parent ? parent.width : 480) - 40)
    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape
    padding: 24

    background: Rectangle {
        radius: 12
        color: Theme.surface
        border.color: Theme.border
    }

    contentItem: ColumnLayout {
        spacing: 20

        Label {
            Layout.fillWidth: true
            text: box.question
            wrapMode: Text.WordWrap
            color: Theme.text
            font.pixelSize: 15
        }

        RowLayout {
            Layout.alignment: Qt.AlignRight
            spacing: 8

            Button {
                objectName: "questionRejectButton"
                text: box.rejectText
                onClicked: box.close()
            }
            Button {
                objectName: "questionAcceptButton"
                text: box.acceptText
                highlighted: true
                onClicked: {
                    box.close()
                    box.accepted()
                }
            }
        }
    }
}
