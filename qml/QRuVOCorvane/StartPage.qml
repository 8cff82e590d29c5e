import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// The welcome screen: the choice of vehicle model and model year.  Picking
// a model asks for its years; picking a year completes the choice.  A saved
// choice is restored by restoreModel() followed by setYears().
Item {
    id: page
    objectName: "startPage"

    property var models: []
    property var years: []
    property string savedModel
    property string savedYear
    // a vehicle is chosen and its library holds nothing yet
    property bool libraryEmpty: false
    // Reached from the library through the header's vehicle button: the
    // library can be had back with the vehicle as it is.
    property bool canReturn: false

    signal yearsRequested(string model)
    signal vehicleChosen(int modelIndex, string model, string year, int yearIndex)
    signal vehicleRestored(string model, string year)
    signal addMediaRequested()
    signal returnRequested()

    property bool restoring: false
    property var yearList: years

    onYearsChanged: yearList = years

    function modelAt(index) {
        return index >= 0 && index < models.length ? String(models[index]) : "Select"
    }

    function setYears(list) {
        yearList = list
        yearCombo.currentIndex = 0
        if (restoring) {
            restoring = false
            const yearIndex = yearCombo.find(savedYear)
            if (yearIndex > 0) {
                yearCombo.currentIndex = yearIndex
                vehicleRestored(modelCombo.currentText, savedYear)
            }
        }
    }

    function restoreModel(index) {
        if (index <= 0 || index >= models.length)
            return
        modelCombo.currentIndex = index
        restoring = true
        yearsRequested(modelAt(index))
    }

    Rectangle {
        id: card
        anchors.centerIn: parent
        width: Math.min(parent.width - 80, 760)
        height: content.implicitHeight + 80
        radius: 14
        color: Theme.surface
        border.color: Theme.border

        ColumnLayout {
            id: content
            anchors.fill: parent
            anchors.margins: 40
            spacing: 14

            Label {
                text: Theme.str(MediaLibrary_txtProductName)
                color: Theme.accent
                font.pixelSize: 13
                font.bold: true
                font.letterSpacing: 2
            }

            Label {
                objectName: "welcomeTitle"
                text: Theme.str(MediaLibrary_txtwelcome)
                color: Theme.text
                font.pixelSize: 34
                font.bold: true
            }

            Label {
                Layout.fillWidth: true
                text: Theme.str(MediaLibrary_txtwelcometext4)
                color: Theme.mutedText
                font.pixelSize: 15
                wrapMode: Text.WordWrap
            }

            Label {
                Layout.fillWidth: true
                text: Theme.str(MediaLibrary_txtwelcometext5)
                color: Theme.mutedText
                font.pixelSize: 15
                wrapMode: Text.WordWrap
            }

            Rectangle {
                Layout.fillWidth: true
                Layout.topMargin: 8
                implicitHeight: 1
                color: Theme.border
            }

            Label {
                objectName: "vehiclePrompt"
                text: Theme.str(MediaLibrary_txtSelectVehicledefault)
                color: Theme.text
                font.pixelSize: 16
                font.bold: true
            }

            GridLayout {
                Layout.fillWidth: true
                columns: 2
                columnSpacing: 20
                rowSpacing: 6

                Label {
                    text: Theme.str(MediaLibrary_txtwelcometxtModel)
                    color: Theme.mutedText
                    font.pixelSize: 12
                    font.bold: true
                    font.letterSpacing: 1
                }
                Label {
                    text: Theme.str(MediaLibrary_txtwelcometxtYear)
                    color: Theme.mutedText
                    font.pixelSize: 12
                    font.bold: true
                    font.letterSpacing: 1
                }

                ChoiceBox {
                    id: modelCombo
                    objectName: "modelCombo"
                    Layout.fillWidth: true
                    Layout.preferredWidth: 2
                    model: page.models
                    currentIndex: Math.max(0, page.models.indexOf(page.savedModel))
                    onActivated: (index) => {
                        page.restoring = false
                        page.libraryEmpty = false
                        if (index > 0) {
                            page.yearList = ["Select"]
                            page.yearsRequested(page.modelAt(index))
                        } else {
                            page.yearList = ["Select"]
                        }
                    }
                }

                ChoiceBox {
                    id: yearCombo
                    objectName: "yearCombo"
                    Layout.fillWidth: true
                    Layout.preferredWidth: 1
                    model: page.yearList
                    onActivated: (index) => {
                        page.libraryEmpty = false
                        if (index > 0 && modelCombo.currentIndex > 0)
                            page.vehicleChosen(modelCombo.currentIndex, modelCombo.currentText,
                                               yearCombo.currentText, index)
                    }
                }
            }

            Button {
                objectName: "startBackButton"
                Layout.topMargin: 4
                visible: page.canReturn
                text: "Back to the library"
                onClicked: page.returnRequested()
            }

            // After the choice, when the vehicle's library is still empty.
            ColumnLayout {
                objectName: "emptyLibraryHint"
                Layout.fillWidth: true
                Layout.topMargin: 8
                visible: page.libraryEmpty
                spacing: 10

                Label {
                    Layout.fillWidth: true
                    text: Theme.str(MediaLibrary_txtSelectVehicle)
                    color: Theme.text
                    font.pixelSize: 15
                    wrapMode: Text.WordWrap
                }

                Button {
                    objectName: "startAddMediaButton"
                    text: "ADD MEDIA"
                    highlighted: true
                    onClicked: page.addMediaRequested()
                }
            }
        }
    }

    Label {
        objectName: "feedbackText"
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.top: card.bottom
        anchors.topMargin: 18
        width: card.width
        horizontalAlignment: Text.AlignHCenter
        text: Theme.str(MediaLibrary_feedbackLink)
        textFormat: Text.StyledText
        color: Theme.mutedText
        font.pixelSize: 13
        wrapMode: Text.WordWrap
    }
}
