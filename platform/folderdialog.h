#ifndef FOLDERDIALOG_H
#define FOLDERDIALOG_H

#include <QString>

// The dialog in which the user picks an existing folder: a location for the
// media browser, a folder target for a transfer.  It opens on the desktop
// folder when there is one, else on the home folder: a new home often has
// no desktop folder, and a dialog opened on a missing folder offers nothing
// to choose.
class FolderDialog
{
public:
    // The folder the dialog opens on.
    static QString startFolder();
    // The folder chosen (links not resolved), or "" when the dialog was cancelled.
    static QString chooseExisting(const QString &title);
};

#endif // FOLDERDIALOG_H
