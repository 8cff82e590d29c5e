import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// The window's title bar: product name, the chosen vehicle (which leads back
// to the vehicle choice) and the "License" button.
ToolBar {
    id: bar
    objectName: "headerBar"

    property string productName
    property string vehicleName
    property bool canChangeVehicle: false

    signal licenceRequested()
    signal changeVehicleRequested()

    implicitHeight: 52
    background: Rectangle { color: Theme.header }

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 20
        anchors.rightMargin: 12
        spacing: Theme.spacing

        Rectangle {
            implicitWidth: 10
            implicitHeight: 10
            radius: 5
            color: Theme.accent
        }

        Label {
            objectName: "productName"
            text: bar.productName
            color: Theme.headerText
            font.pixelSize: 15
            font.bold: true
            font.letterSpacing: 1.5
        }

        Item { Layout.fillWidth: true }

        ToolButton {
            id: vehicleButton
            objectName: "vehicleButton"
            visible: bar.vehicleName !== "" && bar.vehicleName !== "Select"
            enabled: bar.canChangeVehicle
            text: bar.vehicleName
            onClicked: bar.changeVehicleRequested()
            contentItem: Label {
                text: vehicleButton.text
                color: vehicleButton.enabled ? Theme.headerText : Theme.headerMuted
                font.pixelSize: 13
                verticalAlignment: Text.AlignVCenter
            }
            background: Rectangle {
                radius: Theme.radius
                color: vehicleButton.hovered && vehicleButton.enabled ? "#2a3546" : "transparent"
                border.color: "#334155"
            }
        }

        ToolButton {
            id: licenceButton
            objectName: "licenceButton"
            text: "License"
            onClicked: bar.licenceRequested()
            contentItem: Label {
                text: licenceButton.text
                color: Theme.headerMuted
                font.pixelSize: 13
                verticalAlignment: Text.AlignVCenter
            }
            background: Rectangle {
                radius: Theme.radius
                color: licenceButton.hovered ? "#2a3546" : "transparent"
            }
        }
    }
}
