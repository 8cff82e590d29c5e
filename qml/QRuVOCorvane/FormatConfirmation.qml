import QtQuick
import QtQuick.Templates as T

// Asks before a drive is erased, naming the drive, its label and size.
// "Yes" gives `confirmed` with the path asked about; "No" (the default),
// Escape or a click outside leave everything as it was.
QuestionBox {
    id: box
    objectName: "formatConfirmation"

    property string path: ""
    property string device: ""
    property string label: ""
    property string size: ""

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

    // Declared inside the transfer dialog, shown over the whole window.
    parent: T.Overlay.overlay

    question: "Format the drive \"" + label + "\" (" + device + ", " + size + ")?\n"
              + "Everything on it will be erased, and it cannot be undone."
    acceptText: "Yes"
    rejectText: "No"
    rejectByDefault: true
    questionLabel.objectName: "formatQuestion"
    acceptButton.objectName: "formatYesButton"
    rejectButton.objectName: "formatNoButton"

    onAccepted: confirmed(path)
}
