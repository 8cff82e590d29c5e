import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Templates as T

// Asks before a drive is erased, naming the drive, its label and size.
// "Yes" gives `confirmed` with the path asked about; "No", Escape or a
// click outside leave everything as it was.
ThemedPopup {
    id: box
    objectName: "formatConfirmation"

    property string path: ""
    property string device: ""
    property string label: ""
    property string size: ""
    readonly property string question:
        "Format the drive \"" + label + "\" (" + device + ", " + size + " GB)?\n"
        + "Everything on it will be erased, and it cannot be undone."

    signal confirmed(string path)

    // Takes the row's values now: the list of drives is refreshed each
    // second while the question is open.
    function ask(row) {
        path = row.driveletter
        device = row.filesystem
        // The desktop mounts a volume under a folder named after its label.
        const parts = String(row.driveletter).split("/").filter(part => part.length > 0)
        label = parts.length > 0 ? parts[parts.length - 1] : row.driveletter
        size = row.totalspace
        open()
    }

    parent: T.Overlay.overlay
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
            objectName: "formatQuestion"
            Layout.fillWidth: true
            text: box.question
            textFormat: Text.PlainText
            wrapMode: Text.WordWrap
            color: Theme.text
            font.pixelSize: 15
        }

        RowLayout {
            Layout.alignment: Qt.AlignRight
            spacing: 10
            Button {
                objectName: "formatNoButton"
                text: "No"
                highlighted: true
                focus: true
                onClicked: box.close()
            }
            Button {
                objectName: "formatYesButton"
                text: "Yes"
                onClicked: {
                    box.close()
                    box.confirmed(box.path)
                }
            }
        }
    }
}
