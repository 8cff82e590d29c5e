#ifndef SCANPICTURES_H
#define SCANPICTURES_H

#include <QByteArray>
#include <QCache>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QWaitCondition>

#include <atomic>
#include <memory>
#include <optional>

#include <taglib/tbytevector.h>

// One media file's embedded picture as a reader of the folder scan found it.
struct EmbeddedPicture
{
    // True when the reader took the picture TagLibBuilder::coverArtPng would
    // decode (`bytes`, empty when the file has none) while it read the tags;
    // false when only opening the file again tells.
    bool known = false;
    TagLib::ByteVector bytes; // shares the tag's data: no copy
};

// What became of a file's embedded picture for its album's picture file.
enum class ScanCover {
    NotRead,    // nothing was made of it: the file is to be read for it
    NoPicture,  // it makes no album picture (none, or none that decodes), and
                // the album's picture file is not there for this file yet
    Written,    // the album's picture file was made from it
    NotWritten, // it decodes, but writing it failed (a file that appeared
                // meanwhile, if any, is someone else's)
};

// The album pictures of one folder scan, made by the scan's readers while
// the scan thread maps.  Each album picture file missing when its album
// first comes up gets what mapping the files one after the other would
// write: the picture of the album's first file, in walk order, whose picture
// decodes.  The readers hand in the files as they read them; the files are
// considered in walk order, the album's files with a picture are tried in
// that order, and the one that decodes is written, all on the readers' own
// threads; the scan thread only asks what became of each file.
//
// A picture is told by its bytes (a hash) before it is decoded: the tracks
// of an album, and often the discs of a set, carry the same bytes, which are
// decoded once, by the reader of the album's first file read, while it still
// holds them (so no picture's bytes outlive its reading).  Safe on any thread.
class ScanPictures
{
public:
    explicit ScanPictures(const std::atomic<bool> *stop);
    ScanPictures(const ScanPictures &) = delete;
    ScanPictures &operator=(const ScanPictures &) = delete;

    // An audio file of the album whose picture file is coverPath.
    struct File
    {
        QString coverPath;
        QString path;
        EmbeddedPicture picture;
    };
    // On the reader's thread, once for each media file of the scan, numbered
    // from 0 in walk order, as soon as it is read: the file, or none when it
    // looks for no album picture.  A file is considered once all before it
    // are in, and its album's files tried if it is the album's next hope, at
    // the latest before the last of those calls returns.
    void offer(int media, std::optional<File> file);
    // What became of the picture of the file numbered `media` for coverPath,
    // once it is settled (waits for the readers); asked while the file is
    // mapped, when the scan has not found the album's picture file for an
    // earlier file.
    ScanCover outcome(int media, const QString &coverPath);

private:
    // Names a picture: its length and a hash of its bytes (for distinct
    // pictures of one scan to be taken for one another would take a 64-bit
    // collision), or, for a picture not read yet, its file.
    struct Key
    {
        qsizetype size = -1;
        size_t hash = 0;
        QString path;
        bool operator==(const Key &other) const
        {
            return size == other.size && hash == other.hash && path == other.path;
        }
        friend size_t qHash(const Key &key, size_t seed = 0) { return qHashMulti(seed, key.size, key.hash, key.path); }
    };
    // A picture being made or made, and not yet taken for an album.
    struct Made
    {
        bool done = false;
        QByteArray png; // empty: doesn't decode
    };
    struct Candidate
    {
        int media = 0;
        QString path;
        Key key;
    };
    // One missing album picture file and the files that may make it.
    struct Album
    {
        QString coverPath;
        QList<Candidate> candidates; // walk order
        QList<ScanCover> tried;      // one per candidate tried, in order
        QSet<int> withoutPicture;    // files known to have none
        bool running = false;        // a reader is trying candidates
        bool settled = false;        // written (or not), or stopped: no more tries
    };
    struct Offered
    {
        QString coverPath;
        QString path;
        Key key;
        bool hasPicture = true;
    };
    static Key keyOf(const QString &path, const EmbeddedPicture &picture);
    // Names the picture of a file that may be tried and, for the album's
    // first file read, makes it; with mutex held, let go meanwhile.  Only
    // the first file read and files before it in walk order are named by
    // their bytes: a later one is tried only when none before it decodes,
    // and is then read again (named by its path).
    void prepare(int media, Offered &offered, const File &file, int firstRead, QMutexLocker<QMutex> &locker);
    // With mutex held; an album that needs its files tried goes to `started`.
    void consider(int media, const Offered &file, QList<std::shared_ptr<Album>> &started);
    void tryCandidates(Album *album);
    QByteArray pngOf(const Candidate &candidate);

    const std::atomic<bool> *stop;
    QMutex mutex;
    QWaitCondition changed;
    // Guarded by mutex:
    QHash<QString, int> claimed;                   // album -> its first file with a picture read
    int nextMedia = 0;                             // the next file to consider
    QHash<int, std::optional<Offered>> waiting;    // files in before their turn
    QHash<QString, std::shared_ptr<Album>> albums; // missing at first sight
    QSet<QString> present;                         // there at first sight
    QHash<Key, std::shared_ptr<Made>> made; // made ahead, not yet taken
    QCache<Key, QByteArray> recent;         // taken lately, for other albums
    QSet<Key> undecodable;
};

#endif // SCANPICTURES_H
