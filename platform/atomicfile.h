#ifndef ATOMICFILE_H
#define ATOMICFILE_H

#include <QByteArray>
#include <QString>

// The one way the program puts a file under its final name: the bytes go to
// a hidden temporary file beside the target (TemporaryFiles' pattern), which
// takes the target's name only when complete.  A failure or a kill before
// that leaves at most the temporary file, which the start-up sweep takes.
//
// The rule: nothing refers to a file (a library row, a playlist, a "done")
// before its bytes are on the disk.  Flush::Now syncs the file's data (and
// its folder) before commit() returns; Flush::Batch leaves that to the
// caller, who makes a batch of files and then calls syncVolume() once before
// it records any of them.  Replace::Existing takes the place of a file
// already there in one step; Replace::Never keeps it and fails instead.
//
//   AtomicFile out(target, AtomicFile::Replace::Existing);
//   if (out.open() && out.write(bytes) && out.commit()) ...   // else out.error()
//
// External writers (ffmpeg, TagLib) write to temporaryPath() by name between
// open() and commit().
class AtomicFile
{
public:
    enum class Replace { Existing, Never };
    enum class Flush { Now, Batch };

    // `extension` (no dot) ends the temporary name when given: ffmpeg picks
    // its container from it.
    explicit AtomicFile(const QString &target, Replace replace = Replace::Existing, Flush flush = Flush::Now,
                        const QString &extension = QString());
    // A temporary file never committed is removed.
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    // Creates the empty temporary file (never over anything).  With
    // Replace::Never, false when the target exists already.
    bool open(unsigned mode = 0644);
    // The descriptor of the temporary file while open, else -1.
    int handle() const { return fd; }
    QString temporaryPath() const { return temp; }

    bool write(const QByteArray &data);
    bool write(const char *data, qint64 size);
    // Closes the descriptor (a failed write-back is a failure); the
    // temporary file stays for a writer that works by name.
    bool close();
    // Closes, flushes as chosen and gives the file its final name.  On
    // failure the temporary file is gone and the target is as it was.
    bool commit();
    // Removes the temporary file; the target is not touched.
    void discard();

    // The system's error number of the last failure (0: none).
    int error() const { return lastError; }

    // Writes every file system holding `path` out to its disk (syncfs): the
    // flush of a batch made with Flush::Batch.  False when it failed.
    static bool syncVolume(const QString &path, int handle = -1);

private:
    bool fail(int error);

    QString finalPath;
    QString temp;
    Replace replace;
    Flush flush;
    int fd = -1;
    bool committed = false;
    int lastError = 0;
};

#endif // ATOMICFILE_H
