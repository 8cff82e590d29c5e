import QtQuick
import QtQuick.Controls.Basic

// A "Select all" box over a list of rows: ticked while every shown row is
// ticked, unticked otherwise, however the rows came to be ticked.  A click
// asks for every row to be set; the box then follows the rows again.
CheckBox {
    id: box

    property var rows: []

    signal selectAllRequested(bool checked)

    text: "Select all"
    checked: Theme.allTicked(box.rows)
    onToggled: {
        const wanted = checked
        // Off the rows while each of them changes: one look when all are set.
        checked = wanted
        box.selectAllRequested(wanted)
        checked = Qt.binding(() => Theme.allTicked(box.rows))
    }
}
