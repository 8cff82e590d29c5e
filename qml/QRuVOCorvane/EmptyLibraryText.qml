import QtQuick
import QtQuick.Controls.Basic

// "There are currently no files in your <library> Library. Click ADD MEDIA…"
Label {
    property string libraryName

    objectName: "emptyLibraryText"
    anchors.centerIn: parent
    width: Math.min(parent.width - 80, 560)
    horizontalAlignment: Text.AlignHCenter
    wrapMode: Text.WordWrap
    textFormat: Text.StyledText
    text: Theme.str(MediaLibrary_MessageText1) + libraryName + Theme.str(MediaLibrary_MessageText2)
    color: Theme.mutedText
    font.pixelSize: 16
    lineHeight: 1.3
}
