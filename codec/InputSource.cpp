#include "codec/InputSource.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <FreeImage.h>

#include "codec/HandedFiles.h"
#include "codec/SystemError.h"

namespace pixquill {

InputSource::InputSource(int fd, std::int64_t size)
    : m_fd(fd)
    , m_read([this](std::int64_t offset, void* out, std::int64_t n) { return ReadFile(offset, out, n); })
    , m_size(size)
{
}

InputSource::InputSource(QByteArray bytes)
    : m_bytes(std::move(bytes))
    , m_read([this](std::int64_t offset, void* out, std::int64_t n) -> std::int64_t {
        if (offset < 0 || n <= 0 || offset >= m_size)
            return 0;
        n = std::min(n, m_size - offset);
        std::memcpy(out, m_bytes.constData() + offset, static_cast<std::size_t>(n));
        return n;
    })
    , m_size(m_bytes.size())
{
}

InputSource::InputSource(ByteReader read, std::int64_t size)
    : m_read(std::move(read))
    , m_size(size)
{
}

InputSource::~InputSource()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::int64_t InputSource::ReadFile(std::int64_t offset, void* out, std::int64_t size) const
{
    if (offset < 0 || size <= 0 || offset >= m_size)
        return 0;
    size = std::min(size, m_size - offset);
    std::int64_t done = 0;
    while (done < size) {
        const ssize_t got = ::pread(m_fd, static_cast<char*>(out) + done, static_cast<std::size_t>(size - done),
                                    static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += got;
    }
    return done;
}

int InputSource::Seek(long offset, int origin)
{
    const std::int64_t base = origin == SEEK_CUR ? m_pos : origin == SEEK_END ? m_size : 0;
    const std::int64_t target = base + offset;
    if (target < 0)
        return -1;
    m_pos = target; // past the end is allowed; reads there find nothing
    return 0;
}

FreeImageIO* InputSource::Io()
{
    // Never written: shared by every source on every thread.
    static FreeImageIO io{ReadProc, WriteProc, SeekProc, TellProc};
    return &io;
}

unsigned InputSource::ReadProc(void* buffer, unsigned size, unsigned count, void* handle)
{
    auto* self = static_cast<InputSource*>(handle);
    if (size == 0 || count == 0)
        return 0;
    const std::int64_t got = std::max<std::int64_t>(
        0, self->m_read(self->m_pos, buffer, static_cast<std::int64_t>(size) * count));
    self->m_pos += got;
    // As fread: nothing is written past what was read. Some readers ask for
    // more than their buffer holds and rely on the file ending first.
    return static_cast<unsigned>(got / size);
}

unsigned InputSource::WriteProc(void*, unsigned, unsigned, void*)
{
    return 0;
}

int InputSource::SeekProc(void* handle, long offset, int origin)
{
    return static_cast<InputSource*>(handle)->Seek(offset, origin);
}

long InputSource::TellProc(void* handle)
{
    return static_cast<long>(static_cast<InputSource*>(handle)->m_pos);
}

std::unique_ptr<InputSource> OpenRegularFile(const QByteArray& name, QString& error)
{
    std::int64_t size = 0;
    int fd = -1;
    if (FilesAreHandedOver()) {
        // The batch made the checks below when it opened the file.
        fd = OpenHandedSource(name, error);
        struct stat info {};
        if (fd >= 0 && ::fstat(fd, &info) != 0) {
            error = QStringLiteral("file cannot be read (") + SystemError(errno) + QLatin1Char(')');
            ::close(fd);
            fd = -1;
        }
        size = static_cast<std::int64_t>(info.st_size);
    } else {
        fd = OpenRegularDescriptor(name, error, size);
    }
    if (fd < 0)
        return nullptr;
    return std::make_unique<InputSource>(fd, size);
}

int OpenRegularDescriptor(const QByteArray& name, QString& error, std::int64_t& size)
{
    struct stat info {};
    if (::stat(name.constData(), &info) != 0) {
        const int e = errno;
        struct stat link {};
        if (e == ENOENT && ::lstat(name.constData(), &link) == 0 && S_ISLNK(link.st_mode))
            error = QStringLiteral("broken symbolic link");
        else if (e == ENOENT || e == ENOTDIR)
            error = QStringLiteral("file not found");
        else
            error = QStringLiteral("file cannot be read (") + SystemError(e) + QLatin1Char(')');
        return -1;
    }
    if (S_ISDIR(info.st_mode)) {
        error = QStringLiteral("is a folder");
        return -1;
    }
    if (!S_ISREG(info.st_mode)) {
        error = QStringLiteral("not a regular file");
        return -1;
    }
    // Nothing to detect; FreeImage's detectors would read past the end.
    if (info.st_size == 0) {
        error = QStringLiteral("empty file");
        return -1;
    }
    // O_NONBLOCK: should the name have turned into a FIFO since, the open
    // still returns at once and the check below refuses it.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = QStringLiteral("file cannot be read (") + SystemError(errno) + QLatin1Char(')');
        return -1;
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        error = QStringLiteral("not a regular file");
        return -1;
    }
    size = static_cast<std::int64_t>(info.st_size);
    return fd;
}

} // namespace pixquill
