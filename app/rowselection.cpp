#include "app/rowselection.h"

#include <QVariant>

#include "app/trackdatamodel.h"
#include "app/tracklist.h"

void RowSelection::setRow(QObject *row, bool checked)
{
    if (!row)
        return;
    if (auto *group = qobject_cast<TrackDataModel *>(row)) {
        const QList<QObject *> lines = group->tracklist();
        for (QObject *line : lines) {
            if (auto *entry = qobject_cast<TrackList *>(line))
                entry->setSelected(checked);
        }
        group->setSelected(checked);
        return;
    }
    row->setProperty("selected", checked);
}
