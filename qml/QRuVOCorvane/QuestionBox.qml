import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// A modal question with two answers; only the first one acts.  Escape
// answers with the second.  A question whose first answer can't be undone
// sets `rejectByDefault`: the second answer then has the focus and the
// highlight.
ThemedPopup {
    id: box

    property string question
    property string acceptText: "OK"
    property string rejectText: "Cancel"
    property bool rejectByDefault: false
    // For a box that names its parts for the tests.
    property alias questionLabel: questionLabel
    property alias acceptButton: acceptButton
    property alias rejectButton: rejectButton

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
            id: questionLabel
            Layout.fillWidth: true
            text: box.question
            textFormat: Text.PlainText // names in the question may hold "<" or "&"
            wrapMode: Text.WordWrap
            color: Theme.text
            font.pixelSize: 15
        }

        RowLayout {
            Layout.alignment: Qt.AlignRight
            spacing: 8

            Button {
                id: rejectButton
                objectName: "questionRejectButton"
                text: box.rejectText
                highlighted: box.rejectByDefault
                focus: box.rejectByDefault
                onClicked: box.close()
            }
            Button {
                id: acceptButton
                objectName: "questionAcceptButton"
                text: box.acceptText
                highlighted: !box.rejectByDefault
                onClicked: {
                    box.close()
                    box.accepted()
                }
            }
        }
    }
}
