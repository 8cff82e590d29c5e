import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// A modal message with an OK button.  Messages that arrive while one is
// shown wait their turn.
ThemedPopup {
    id: box
    objectName: "messageBox"

    property string message
    property var waiting: []

    function show(text) {
        if (opened) {
            waiting = waiting.concat([text])
            return
        }
        message = text
        open()
    }

    anchors.centerIn: parent
    width: Math.min(480, (parent ? parent.width : 480) - 40)
    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape
    padding: 24

    onClosed: {
        if (waiting.length > 0) {
            message = waiting[0]
            waiting = waiting.slice(1)
            open()
        }
    }

    background: Rectangle {
        radius: 12
        color: Theme.surface
        border.color: Theme.border
    }


    contentItem: ColumnLayout {
        spacing: 20
        // Enter closes the box as Escape does.
        focus: true
        Keys.onReturnPressed: box.close()
        Keys.onEnterPressed: box.close()

        Label {
            objectName: "messageText"
            Layout.fillWidth: true
            // A long path breaks after its separators (a zero-width space
            // after each "/"), and a name longer than a line anywhere.
            text: box.message.replace(/\//g, "/\u200B")
            textFormat: Text.PlainText // file names may hold "<" or "&"; lists keep their lines
            wrapMode: Text.WrapAtWordBoundaryOrAnywhere
            color: Theme.text
            font.pixelSize: 15
        }

        Button {
            objectName: "messageOkButton"
            Layout.alignment: Qt.AlignRight
            text: "OK"
            highlighted: true
            onClicked: box.close()
        }
    }
}
