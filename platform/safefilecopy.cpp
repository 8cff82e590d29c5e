#include "platform/safefilecopy.h"

#include "platform/atomicfile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

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
bool kernelCopy(int in, int out, qint64 size, SafeFileCopy::Outcome &outcome, bool &unsupported)
{
    qint64 done = 0;
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
        if (n == 0)
            break;  // the source shrank meanwhile
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

} // namespace

SafeFileCopy::Outcome SafeFileCopy::copy(const QString &source, const QString &target, int *error, quint64 device)
{
    int ignored = 0;
    int &lastError = error ? *error : ignored;
    lastError = 0;
    Fd in(::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (in.get() < 0 || ::fstat(in.get(), &st) != 0) {
        lastError = errno; // ENOENT: the source vanished
        return SourceUnreadable;
    }
    if (!S_ISREG(st.st_mode)) {
        lastError = EISDIR;
        return SourceUnreadable;
    }

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

    Outcome outcome = Copied;
    bool unsupported = false;
    if (!kernelCopy(in.get(), out.handle(), qint64(st.st_size), outcome, unsupported)) {
        if (unsupported) {
            if (::lseek(in.get(), 0, SEEK_SET) != 0 || ::lseek(out.handle(), 0, SEEK_SET) != 0 ||
                ::ftruncate(out.handle(), 0) != 0)
                outcome = WriteFailed;
            else
                outcome = streamCopy(in.get(), out.handle());
        }
    }
    if (outcome != Copied) {
        lastError = errno;
        out.discard();
        return outcome;
    }
    if (!out.commit()) {
        lastError = out.error();
        return writeFailure(lastError);
    }
    return Copied;
}
