#include "platform/safefilecopy.h"

#include "platform/atomicfile.h"
#include "platform/regularfile.h"
#include "platform/writeorder.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <utility>

namespace {

class Fd
{
public:
    explicit Fd(int fd) : value(fd) {}
    ~Fd()
    {
        if (value >= 0)
            ::close(value);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return value; }
    int release() { return std::exchange(value, -1); }
    void reset(int fd)
    {
        if (value >= 0)
            ::close(value);
        value = fd;
    }

private:
    int value;
};

SafeFileCopy::Outcome writeFailure(int error)
{
    // A file too large for the file system (EFBIG, FAT's 4 GiB) is that
    // file's failure, not a full volume.
    return (error == ENOSPC || error == EDQUOT) ? SafeFileCopy::VolumeFull : SafeFileCopy::WriteFailed;
}

// In-kernel copy; false (with nothing decided) when the pair of file
// systems doesn't support it, so the caller falls back to read/write.
bool kernelCopy(int in, int out, qint64 size, SafeFileCopy::Outcome &outcome, bool &unsupported, qint64 &done)
{
    done = 0;
    while (done < size) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, size_t(size - done), 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (done == 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                              errno == EOPNOTSUPP || errno == EBADF)) {
                unsupported = true;
                return false;
            }
            outcome = writeFailure(errno);
            if (outcome == SafeFileCopy::WriteFailed) {
                // The in-kernel copy can't say which side failed: let the
                // read/write path decide from the start.
                unsupported = true;
            }
            return false;
        }
        if (n == 0) {
            // Nothing at all: some file systems copy nothing in the kernel
            // rather than refuse (read/write decides); later, the source
            // shrank meanwhile.
            unsupported = done == 0;
            return done > 0;
        }
        done += n;
    }
    return true;
}

SafeFileCopy::Outcome streamCopy(int in, int out)
{
    constexpr size_t chunk = 1 << 20;
    std::unique_ptr<char[]> buffer(new char[chunk]);
    for (;;) {
        const ssize_t got = ::read(in, buffer.get(), chunk);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return SafeFileCopy::SourceUnreadable;
        }
        if (got == 0)
            return SafeFileCopy::Copied;
        ssize_t put = 0;
        while (put < got) {
            const ssize_t n = ::write(out, buffer.get() + put, size_t(got - put));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return writeFailure(errno);
            }
            put += n;
        }
    }
}

SafeFileCopy::Outcome copyData(int in, int out, qint64 size)
{
    SafeFileCopy::Outcome outcome = SafeFileCopy::Copied;
    bool unsupported = false;
    qint64 done = 0;
    if (!kernelCopy(in, out, size, outcome, unsupported, done) && unsupported) {
        // Nothing written (the usual refusal, between two file systems):
        // nothing to take back, and no truncation to send to a FUSE daemon.
        if (::lseek(in, 0, SEEK_SET) != 0 || ::lseek(out, 0, SEEK_SET) != 0 || (done > 0 && ::ftruncate(out, 0) != 0))
            outcome = SafeFileCopy::WriteFailed;
        else
            outcome = streamCopy(in, out);
    }
    return outcome;
}

// Gives the copy its source's times; only a wish: a file system that keeps
// no such times still holds the copy.
void takeTimes(int out, const struct stat &source, SafeFileCopy::Times times)
{
    if (times != SafeFileCopy::Times::Source)
        return;
    // Both times given: exFAT's FUSE driver drops a modification time that
    // comes with the access time left out.
    const struct timespec both[2] = {source.st_atim, source.st_mtim};
    ::futimens(out, both);
}

// Opens `source` for reading: a regular file (ENOENT: the source vanished;
// RegularFile::notRegular: it was swapped for a FIFO, a device or a folder,
// which must not hold the copy).
bool openSource(const QString &source, Fd &in, struct stat &st, int &error)
{
    in.reset(RegularFile::open(source, &error, RegularFile::Links::Follow, &st));
    return in.get() >= 0;
}

} // namespace

SafeFileCopy::Outcome SafeFileCopy::copyNew(const QString &source, const QString &target, int *error, quint64 device,
                                            Times times)
{
    int ignored = 0;
    int &lastError = error ? *error : ignored;
    lastError = 0;
    Fd in(-1);
    struct stat st {};
    if (!openSource(source, in, st, lastError))
        return SourceUnreadable;
    const QByteArray path = QFile::encodeName(target);
    Fd out(::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (out.get() < 0) {
        lastError = errno;
        return writeFailure(lastError);
    }
    WriteOrder::record(WriteOrder::Event::FileCreated, target);
    struct stat made {};
    if (device != 0 && (::fstat(out.get(), &made) != 0 || quint64(made.st_dev) != device)) {
        out.reset(-1);
        ::unlink(path.constData());
        return TargetGone;
    }
    Outcome outcome = copyData(in.get(), out.get(), qint64(st.st_size));
    if (outcome != Copied) {
        lastError = errno;
    } else {
        takeTimes(out.get(), st, times);
        // The drive starts writing this file while the next ones are
        // copied; the batch's flush still waits for all of it.  Only a hint:
        // its failure is none.
        ::sync_file_range(out.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
        // Some file systems report a failed write-back only at the close.
        if (::close(out.release()) != 0) {
            lastError = errno;
            outcome = writeFailure(lastError);
        }
    }
    if (outcome != Copied) {
        out.reset(-1);
        ::unlink(path.constData());
    }
    return outcome;
}

SafeFileCopy::Outcome SafeFileCopy::copy(const QString &source, const QString &target, int *error, quint64 device,
                                         Times times)
{
    int ignored = 0;
    int &lastError = error ? *error : ignored;
    lastError = 0;
    Fd in(-1);
    struct stat st {};
    if (!openSource(source, in, st, lastError))
        return SourceUnreadable;

    // Flushed by the caller, once for the whole batch, before it records any.
    AtomicFile out(target, AtomicFile::Replace::Existing, AtomicFile::Flush::Batch);
    if (!out.open()) {
        lastError = out.error();
        return writeFailure(lastError);
    }
    struct stat made {};
    if (device != 0 && (::fstat(out.handle(), &made) != 0 || quint64(made.st_dev) != device)) {
        out.discard();
        return TargetGone;
    }

    const Outcome outcome = copyData(in.get(), out.handle(), qint64(st.st_size));
    if (outcome != Copied) {
        lastError = errno;
        out.discard();
        return outcome;
    }
    takeTimes(out.handle(), st, times);
    if (!out.commit()) {
        lastError = out.error();
        return writeFailure(lastError);
    }
    return Copied;
}
