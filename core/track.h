#ifndef TRACK_H
#define TRACK_H

#include <QList>
#include <QMap>
#include <QMetaType>
#include <QString>

// One media item as it travels through the whole program: made by the scans,
// stored in and reloaded from the library, completed by the lookup, shown by
// the views and copied by the transfer.  A plain value, copied member-wise.
//
// Ids are 32-bit: database row ids outgrow 16 bits over a library's life and a
// narrowed id would replace or delete the wrong record.
struct track
{
    bool isPodcast = false;
    bool isAudiobook = false;
    bool isVideo = false;
    bool isMissingData = false;
    bool isHidden = false;
    bool isFingerprinted = false;
    bool hasArtist = false;
    bool hasAlbum = false;
    bool hasTitle = false;
    bool hasCover = false;
    int id = 0;
    int artist_id = 0;
    int album_id = 0;
    int playlist_id = 0;     // equals album_id for records made from a playlist
    int source = 0;          // 0 folder scan, 1 iTunes library (stored)
    int frequencyShort = 0;  // sample rate copy, set when the library is loaded
    int tracknumber = 0;
    int bitrate = 0;         // kbit/s
    qint64 frequency = 0;    // Hz
    int year = 0;
    double duration = 0;     // seconds; -1 marks a skipped multi-channel video
    qint64 filesize = 0;
    int channels = 0;
    int quality = 0;         // 0 up to 128 kbit/s, 1 up to 255, 2 above
    int track_count = 0;
    qint64 score = 0;
    QString playlist;
    QString codec;
    QString filepath;
    QString sourcePath;
    QString filename;
    QString artistName;
    QString albumName;
    QString trackname;
    QString cover;
    QString coverdata;
    QString releaseCoverUrl;
    QString genre;
    QString comment;
    QString ReleaseDate;
    QString folderLocation;
};

// Track maps are keyed by track.id and iterated in ascending id order.
using TrackMap = QMap<int, track>;

Q_DECLARE_METATYPE(track)

// Registers "track" and "QList<track>" for queued connections; call once
// before the first cross-thread signal carries a record.
void registerTrackMetaTypes();

#endif // TRACK_H
