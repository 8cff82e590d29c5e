import QtQuick
import QtQuick.Controls.Basic

// A drop-down list of plain texts whose entries stay readable: the entry
// under the pointer or keyboard on a soft accent, the current one in bold
// accent, every text dark on light.  (The style's own list draws its
// highlighted entry in the highlight text colour on a near-white.)
ComboBox {
    id: box

    delegate: ItemDelegate {
        id: entry
        required property int index
        required property var modelData
        width: ListView.view.width
        text: Theme.str(modelData)
        highlighted: box.highlightedIndex === index
        hoverEnabled: box.hoverEnabled
        readonly property bool current: box.currentIndex === index

        contentItem: Label {
            text: entry.text
            elide: Text.ElideRight
            verticalAlignment: Text.AlignVCenter
            font.pixelSize: box.font.pixelSize
            font.bold: entry.current
            color: entry.current ? Theme.accent : Theme.text
        }
        background: Rectangle {
            implicitHeight: 36
            color: entry.down ? "#d6e2fb" : entry.highlighted || entry.hovered ? "#e8effd" : "transparent"
        }
    }
}
