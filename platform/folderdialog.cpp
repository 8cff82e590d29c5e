#include "platform/folderdialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>

QString FolderDialog::startFolder()
{
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (!desktop.isEmpty() && QFileInfo(desktop).isDir())
        return desktop;
    return QDir::homePath();
}

QString FolderDialog::chooseExisting(const QString &title)
{
    return QFileDialog::getExistingDirectory(nullptr, title, startFolder(),
                                             QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
}
