#ifndef CREATEPLAYLIST_H
#define CREATEPLAYLIST_H

#include <QString>
#include <QStringList>

// Writes the M3U playlist files of a transfer: a header line, then two lines
// per entry ("#EXTINF:" and the entry's path relative to the media root).
class CreatePlaylist
{
public:
    // Creates or empties the file and writes the header line.  False when
    // the file can't be written.
    bool openM3U(QString path);
    // Appends one entry: list[0] is the playlist file, list[1] the entry.
    bool saveM3U(QStringList list);
};

#endif // CREATEPLAYLIST_H
