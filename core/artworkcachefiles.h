#ifndef ARTWORKCACHEFILES_H
#define ARTWORKCACHEFILES_H

#include <QList>
#include <QString>

// The iTunes artwork cache files (".itc" and ".itc2", suffix in any case)
// below a folder, in walk order.  A cache file is named after the track's
// persistent id: the second part of its name split at dots, hyphens and tabs.
class ArtworkCacheFiles
{
public:
    struct Entry
    {
        QString fileName;
        QString filePath;
        bool hasId = false; // the name has a second part
        QString id;         // that part
    };

    // Every cache file below folder (all subfolders), in QDirIterator order.
    static QList<Entry> list(const QString &folder);
};

#endif // ARTWORKCACHEFILES_H
