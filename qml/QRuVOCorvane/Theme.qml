pragma Singleton
import QtQuick

// Colours, sizes and the small conversions every screen shares.  Context
// properties start as null placeholders, so screens read them through
// str(), list() and count(), which turn null into "" or an empty list.
QtObject {
    readonly property color window: "#f3f5f8"
    readonly property color surface: "#ffffff"
    readonly property color surfaceAlt: "#f8fafc"
    readonly property color header: "#18212f"
    readonly property color headerText: "#f8fafc"
    readonly property color headerMuted: "#9aa6b8"
    readonly property color accent: "#2f6fed"
    readonly property color accentPressed: "#1f57c8"
    readonly property color accentText: "#ffffff"
    readonly property color text: "#111827"
    readonly property color mutedText: "#667085"
    readonly property color disabledText: "#a3abb8"
    readonly property color border: "#e2e6ec"
    readonly property color shade: "#99101725"

    readonly property int spacing: 12
    readonly property int radius: 8
    readonly property int tileWidth: 176
    readonly property int tileHeight: 236
    readonly property int trackLineHeight: 30

    readonly property string placeholderCover: "qrc:///resources/photos/no_artwork.png"

    // Gives a control palette's disabled state faded colours.  A palette's
    // colours set in QML apply to every state, and they are applied after
    // any set for one state, so this runs once they are in.
    function fadeDisabled(palette) {
        const faded = palette.disabled
        faded.windowText = disabledText
        faded.buttonText = disabledText
        faded.text = disabledText
        faded.brightText = "#eef3fd"
        faded.button = "#eef0f4"
        faded.dark = "#a9c0f2"
        faded.base = surfaceAlt
        faded.mid = "#dde2e9"
    }

    function str(value) {
        return value === null || value === undefined ? "" : String(value)
    }

    function list(value) {
        if (value === null || value === undefined || typeof value === "string")
            return []
        return value.length === undefined ? [] : value
    }

    function count(value) {
        return list(value).length
    }

    // Row objects that a search hides keep their place in the list but are
    // not shown.
    function shown(value) {
        const rows = list(value)
        const result = []
        for (let i = 0; i < rows.length; ++i) {
            if (rows[i] && rows[i].visibility !== false)
                result.push(rows[i])
        }
        return result
    }

    // True when `value` shows rows and every shown one is ticked: a row of a
    // grouped track view also when each track of its list is.  It stops at
    // the first shown row that isn't: a binding on it then follows that row
    // alone, not every row of a large view.
    function allTicked(value) {
        const rows = list(value)
        let shown = false
        for (let i = 0; i < rows.length; ++i) {
            const row = rows[i]
            if (!row || row.visibility === false)
                continue
            if (!row.selected && !linesTicked(row))
                return false
            shown = true
        }
        return shown
    }

    // Whether a row has a track list and every track of it is ticked.
    function linesTicked(row) {
        const lines = list(row.tracklist)
        for (let i = 0; i < lines.length; ++i) {
            if (!lines[i] || !lines[i].selected)
                return false
        }
        return lines.length > 0
    }

    // The groups of a grouped track view, each as { rows }: a run of rows
    // that starts with the row carrying the cover (the others' cover is
    // "no").  A group whose first row is hidden is left out.
    function groups(value) {
        const rows = list(value)
        const result = []
        for (let i = 0; i < rows.length; ++i) {
            if (!rows[i])
                continue
            if (result.length === 0 || str(rows[i].coverart) !== "no")
                result.push({ rows: [rows[i]] })
            else
                result[result.length - 1].rows.push(rows[i])
        }
        return result.filter((group) => group.rows[0].visibility !== false)
    }

    // The groups of a grouped track view as spans of its rows, for a view
    // that makes a group's card only once it is in sight: { rows, first,
    // count }, group i being count[i] rows from rows[first[i]].  A row the
    // application made tells how many rows the group it begins has
    // (`grouprows`): then only each group's first row is read, as a library
    // of 100,000 tracks has 20,000 rows.  Other rows are grouped as groups()
    // groups them.  A group whose first row is hidden is left out.
    function spans(value) {
        const rows = list(value)
        const result = { rows: rows, first: [], count: [] }
        if (rows.length > 0 && rows[0] && rows[0].grouprows > 0) {
            for (let i = 0; i < rows.length;) {
                const row = rows[i]
                const count = row && row.grouprows > 0 ? row.grouprows : 1
                if (row && row.visibility !== false) {
                    result.first.push(i)
                    result.count.push(count)
                }
                i += count
            }
            return result
        }
        const visible = shown(rows)
        result.rows = visible
        for (let i = 0; i < visible.length; ++i) {
            if (result.first.length === 0 || str(visible[i].coverart) !== "no") {
                result.first.push(i)
                result.count.push(1)
            } else {
                ++result.count[result.count.length - 1]
            }
        }
        return result
    }

    // The shown rows of group `index` of spans().
    function spanRows(spans, index) {
        const result = []
        const end = spans.first[index] + spans.count[index]
        for (let i = spans.first[index]; i < end; ++i) {
            if (spans.rows[i] && spans.rows[i].visibility !== false)
                result.push(spans.rows[i])
        }
        return result
    }

    // Cover paths come as plain file paths or as URLs ("qrc:", "file:").
    // A plain path is made a file URL with each part escaped, so names with
    // "#" or "?" still load.  Empty and "no" mean no picture.
    function imageUrl(path) {
        const p = str(path)
        if (p === "" || p === "no")
            return placeholderCover
        if (p.startsWith("/"))
            return "file://" + p.split("/").map(encodeURIComponent).join("/")
        return p
    }

    function duration(seconds) {
        const s = Math.max(0, Number(seconds) || 0)
        const m = Math.floor(s / 60)
        const r = s % 60
        return m + ":" + (r < 10 ? "0" : "") + r
    }
}
