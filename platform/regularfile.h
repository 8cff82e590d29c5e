#ifndef REGULARFILE_H
#define REGULARFILE_H

#include <QString>

#include <sys/stat.h>

// Opens a file named by outside input (a playlist's entry, a song chosen in
// the browser, which may have been swapped since) for reading, without ever
// blocking on it: a FIFO with no writer or a device can't hold the open, and
// only a regular file comes back, its reads blocking as usual.
class RegularFile
{
public:
    enum class Links { Follow, DontFollow };

    // The error a path that names no regular file (a folder, a FIFO, a
    // device, a socket) gives: no read opens it for that reason.
    static constexpr int notRegular = EISDIR;

    // A descriptor (close-on-exec) of the regular file at `path`, or -1 with
    // `error` set to the system's error number, or to notRegular.  With
    // Links::DontFollow a symbolic link at `path` itself is refused (ELOOP).
    // `info`, when given, receives the file's status.
    static int open(const QString &path, int *error = nullptr, Links links = Links::Follow,
                    struct stat *info = nullptr);
    // Why `path` could not be read, in the user's words: the file is gone,
    // is no regular file, or the system's reason.
    static QString failure(int error);
};

#endif // REGULARFILE_H
