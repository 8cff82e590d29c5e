#ifndef DRIVEMANIFEST_H
#define DRIVEMANIFEST_H

#include <QHash>
#include <QString>

// The drive's own record of what each file in a media root was made from:
// the library file whose song it holds.  It lives in the media root, so it
// travels with the stick, and it is what tells a later transfer whether a
// file already there holds the same song (and may be kept or replaced by the
// user's overwrite choice) or another song of the same name (which is never
// touched).
//
// Paths are kept relative to the media root, folded to one case on file
// systems that don't tell case apart.  Written whole through a temporary
// file and a rename: a transfer cut short leaves the previous record.  Each
// entry keeps the size its file had, so an entry that no longer describes
// its file (a transfer killed after writing another song under a name the
// record still gives to an older one) is not believed, nor is an entry that
// has no size to check.
//
// A file new on the drive is written straight under its name, without a
// temporary file: its name goes into the record first, as being written
// (flushed before the file is made), and is recorded as holding its song
// only once its bytes are on the drive.  A file the record still names as
// being written is what a transfer cut short left, whole or not: it vouches
// for nothing, and only a transfer that writes the same song under that very
// name replaces it.  The record is outside input: it never licenses deleting
// a file, and only its first 200,000 entries are read.
class DriveManifest
{
public:
    static const QString fileName;

    // Reads the record of `mediaRoot` (an absent or unreadable one is empty).
    void load(const QString &mediaRoot, bool foldCase);
    // The source of the file at `path` (below the media root); "" when the
    // record doesn't know it or the file is no longer the one recorded.
    QString sourceOf(const QString &path) const;
    void record(const QString &path, const QString &source);
    // `path` is about to be written for `source` (see above).
    void begin(const QString &path, const QString &source);
    // Whether the record names `path` as being written for `source`.
    bool begun(const QString &path, const QString &source) const;
    // Whether the record names `path` as being written, for whatever song.
    bool unfinished(const QString &path) const;
    // Forgets the files named as being written that were never made.
    void dropUnstarted();
    // A file directly in `folder` (relative to the media root) that the
    // record says holds `source` and that is still the file recorded: its
    // path relative to the media root, spelt as on the drive; "" when none.
    QString fileMadeFrom(const QString &source, const QString &folder) const;
    bool changed() const { return dirty; }

    // Writes the record, leaving out files no longer there.  `device`
    // non-zero: the volume it must land on.  On failure `error` receives the
    // system's error number.
    // `durable`: on the disk before it returns.
    bool save(quint64 device, int *error, bool durable = false);

private:
    QString key(const QString &path) const;

    QString root;
    bool fold = false;
    bool dirty = false;
    struct Entry
    {
        QString source;
        qint64 size = -1; // the file's size when it was recorded
        bool writing = false; // begun, not known to be complete
        // Sized by record() just after the file was written: only that job
        // writes there meanwhile, so save() needn't ask the drive again.
        bool sizedNow = false;
    };
    QHash<QString, Entry> sources; // key -> what the file was made from
};

#endif // DRIVEMANIFEST_H
