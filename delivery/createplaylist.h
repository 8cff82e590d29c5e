#ifndef CREATEPLAYLIST_H
#define CREATEPLAYLIST_H

#include <QMap>
#include <QString>
#include <QStringList>

// Writes the M3U playlist files of a transfer: a header line, then two lines
// per entry ("#EXTINF:" and the entry's path relative to the media root).
//
// A playlist is gathered while its files are copied and written once, at the
// end, through a temporary file and a rename: the drive never holds a
// half-written playlist, and a playlist lists only files that are there.
class CreatePlaylist
{
public:
    // Starts the playlist at `path` with its header line; one already
    // started (since the last clear) keeps its entries.
    bool openM3U(QString path);
    // Adds one entry: list[0] is the playlist file, list[1] the entry.  False
    // when that playlist was not started.
    bool saveM3U(QStringList list);

    // Puts back, ahead of this job's entries, the entries of the playlist
    // file at `path` whose files are still in `mediaRoot`: a job that ended
    // early has not seen all the playlist's songs, and those still on the
    // drive must stay reachable.  `foldCase`: entries differing only in case
    // name one file.
    void keepEarlier(const QString &path, const QString &mediaRoot, bool foldCase);

    // The started playlists, by path.
    QStringList playlists() const { return lists.keys(); }
    // Writes the playlist at `path` over whatever is there.  `device`
    // non-zero: the volume it must land on.  On failure `error` receives the
    // system's error number (0 when the file would have landed elsewhere).
    bool writeM3U(const QString &path, quint64 device, int *error) const;
    void clear() { lists.clear(); }

private:
    QMap<QString, QStringList> lists; // playlist path -> its entries
};

#endif // CREATEPLAYLIST_H
