import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// "Transfer and Sync": the user picks a drive (or a folder of the computer)
// from the targets the application publishes each second, chooses whether
// to format it first and how to treat files already there, and continues.
// While open, the application polls the mounted volumes.
ThemedPopup {
    id: dialog
    objectName: "transferDialog"

    // Rows of "drivedetails" (DriveData) and the paths of "driveList".
    property var drives: []
    property var paths: []
    property string selectedPath: ""
    property bool continued: false

    signal pollRequested(int flag)
    signal folderRequested()
    signal continueRequested(string drive, int format, int overwriteall, int overwritenewer, int overwritequality)
    // Whether the drive can be formatted is asked before the user is.
    signal formatCheckRequested(string drive)

    readonly property var selectedRow: {
        for (let i = 0; i < drives.length; ++i) {
            if (drives[i] && drives[i].driveletter === selectedPath)
                return drives[i]
        }
        return null
    }

    function show() {
        continued = false
        selectedPath = ""
        formatBox.checked = false
        overwriteAll.checked = false
        overwriteNewer.checked = false
        overwriteQuality.checked = false
        open()
    }

    // Keeps the choice while its target stays listed; a lone target is
    // chosen for the user.
    onDrivesChanged: {
        if (selectedRow === null)
            selectedPath = drives.length === 1 && drives[0] ? drives[0].driveletter : ""
    }
    onOpened: pollRequested(1)
    onClosed: {
        if (!continued)
            pollRequested(0)
    }

    anchors.centerIn: parent
    width: Math.min(620, (parent ? parent.width : 620) - 40)
    modal: true
    // Escape reaches a popup only while it has the focus.
    focus: true
    closePolicy: Popup.CloseOnEscape
    padding: 24

    background: Rectangle {
        radius: 12
        color: Theme.surface
        border.color: Theme.border
    }

    contentItem: ColumnLayout {
        spacing: 12

        Label {
            Layout.fillWidth: true
            text: Theme.str(TransferandSync_txtHeaderSYNC)
            color: Theme.text
            font.pixelSize: 17
            font.bold: true
        }

        Label {
            Layout.fillWidth: true
            text: Theme.str(TransferandSync_txtSelectDrive)
            color: Theme.mutedText
            wrapMode: Text.WordWrap
        }

        ListView {
            id: targets
            objectName: "transferTargets"
            Layout.fillWidth: true
            Layout.preferredHeight: 180
            clip: true
            model: dialog.drives
            spacing: 4

            delegate: Item {
                id: target
                required property var modelData
                readonly property bool isDrive: modelData ? modelData.isSystem === 0 : false
                width: targets.width
                height: line.implicitHeight + 6

                function choose() { if (modelData) dialog.selectedPath = modelData.driveletter }

                TapHandler { onTapped: target.choose() }

                RowLayout {
                    id: line
                    anchors.left: parent.left
                    anchors.right: parent.right
                    anchors.verticalCenter: parent.verticalCenter
                    spacing: 6
                    RadioButton {
                        checked: target.modelData ? target.modelData.driveletter === dialog.selectedPath : false
                        onClicked: target.choose()
                    }
                    ColumnLayout {
                        Layout.fillWidth: true
                        spacing: 2
                        Label {
                            Layout.fillWidth: true
                            text: target.modelData ? target.modelData.drivename : ""
                            elide: Text.ElideMiddle
                            color: Theme.text
                        }
                        Label {
                            objectName: "driveSizes"
                            visible: target.isDrive
                            // Each size carries its unit (MB or GB).
                            text: target.isDrive
                                  ? Theme.str(TransferandSync_txtTotal) + " " + target.modelData.totalspace + "   "
                                    + Theme.str(TransferandSync_txtUsed) + " " + target.modelData.usedspace + "   "
                                    + Theme.str(TransferandSync_txtFree) + " " + target.modelData.freespace
                                  : ""
                            color: Theme.mutedText
                            font.pixelSize: 12
                        }
                    }
                }
            }

            Label {
                anchors.centerIn: parent
                visible: targets.count === 0
                text: dialog.paths.length > 0 ? Theme.str(dialog.paths[0]) : ""
                color: Theme.mutedText
            }
        }

        Button {
            objectName: "chooseFolderButton"
            text: "Choose Folder"
            onClicked: dialog.folderRequested()
        }

        CheckBox {
            id: formatBox
            objectName: "formatCheckBox"
            text: Theme.str(TransferandSync_formatdrive)
            enabled: dialog.selectedRow !== null && dialog.selectedRow.isSystem === 0
        }

        // "All", or "newer" and "higher quality" (either one replaces); none
        // keeps every file already there.
        CheckBox {
            id: overwriteAll
            objectName: "overwriteAllCheckBox"
            text: Theme.str(TransferandSync_overwriteall)
            onToggled: if (checked) { overwriteNewer.checked = false; overwriteQuality.checked = false }
        }
        CheckBox {
            id: overwriteNewer
            objectName: "overwriteNewerCheckBox"
            text: Theme.str(TransferandSync_overwritenew)
            onToggled: if (checked) overwriteAll.checked = false
        }
        CheckBox {
            id: overwriteQuality
            objectName: "overwriteQualityCheckBox"
            text: Theme.str(TransferandSync_overwritehq)
            onToggled: if (checked) overwriteAll.checked = false
        }

        RowLayout {
            Layout.alignment: Qt.AlignRight
            spacing: 10
            Button {
                objectName: "transferCancelButton"
                text: "Cancel"
                onClicked: dialog.close()
            }
            Button {
                objectName: "transferContinueButton"
                text: "Continue"
                highlighted: true
                enabled: dialog.selectedRow !== null
                onClicked: {
                    // Erasing asks first (formatChecked); the dialog stays
                    // open meanwhile.
                    if (formatBox.checked && formatBox.enabled)
                        dialog.formatCheckRequested(dialog.selectedPath)
                    else
                        dialog.proceed(dialog.selectedPath, 0)
                }
            }
        }

        FormatConfirmation {
            id: formatConfirmation
            onConfirmed: (path) => dialog.proceed(path, 1)
        }
    }

    // The application's answer to formatCheckRequested.  Only a drive that
    // can be formatted is asked about; one that can't (the application tells
    // why) stays chosen with formatting off, so Continue now copies to it.
    function formatChecked(path, refusal) {
        if (!opened || path !== selectedPath || selectedRow === null)
            return
        if (refusal === "")
            formatConfirmation.ask(selectedRow)
        else
            formatBox.checked = false
    }

    function proceed(path, format) {
        continued = true
        continueRequested(path, format, overwriteAll.checked ? 1 : 0, overwriteNewer.checked ? 1 : 0,
                          overwriteQuality.checked ? 1 : 0)
        close()
    }
}
