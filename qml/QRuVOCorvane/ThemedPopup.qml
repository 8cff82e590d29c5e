import QtQuick
import QtQuick.Controls.Basic

// A popup in the window's colours.  A popup doesn't take the palette of the
// item it is declared in (it lives in the window's overlay), so without
// these its buttons and boxes show the style's own greys.
Popup {
    palette.window: Theme.window
    palette.windowText: Theme.text
    palette.base: Theme.surface
    palette.text: Theme.text
    palette.button: "#e8ecf2"
    palette.buttonText: Theme.text
    palette.dark: Theme.accent
    palette.mid: "#c9d1dd"
    palette.brightText: Theme.accentText
    palette.highlight: Theme.accent
    palette.highlightedText: Theme.accentText
    // The colours above apply to disabled controls too, until these fade them.
    Component.onCompleted: Theme.fadeDisabled(palette)
}
