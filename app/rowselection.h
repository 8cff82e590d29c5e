#ifndef ROWSELECTION_H
#define ROWSELECTION_H

class QObject;

// Ticking and unticking rows as the select-all boxes and the group boxes do.
class RowSelection
{
public:
    // A track row (TrackDataModel) sets every track of its list, in list
    // order, then itself; any other row sets its own `selected`.  Setters
    // emit only on a change.
    static void setRow(QObject *row, bool checked);

    // Every row of a map (in key order) or list.
    template <typename Rows>
    static void setRows(const Rows &rows, bool checked)
    {
        for (QObject *row : rows)
            setRow(row, checked);
    }
};

#endif // ROWSELECTION_H
