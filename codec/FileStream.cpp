#include "codec/FileStream.h"

#include <cerrno>

#include <sys/types.h>
#include <unistd.h>

#include <FreeImage.h>

namespace pixquill {

bool FileStream::Write(const char* data, std::size_t size)
{
    if (m_error)
        return false;
    m_buffer.insert(m_buffer.end(), data, data + size);
    m_pos += static_cast<std::int64_t>(size);
    return m_buffer.size() < kBufferSize || Flush();
}

bool FileStream::Flush()
{
    std::size_t done = 0;
    while (!m_error && done < m_buffer.size()) {
        const ssize_t put = ::write(m_fd, m_buffer.data() + done, m_buffer.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            m_error = put < 0 ? errno : EIO;
        else
            done += static_cast<std::size_t>(put);
    }
    m_buffer.clear();
    return !m_error;
}

int FileStream::Seek(std::int64_t offset, int origin)
{
    if (!Flush())
        return -1;
    const off_t to = ::lseek(m_fd, static_cast<off_t>(offset), origin);
    if (to < 0)
        return -1;
    m_pos = to;
    return 0;
}

std::size_t FileStream::Read(char* out, std::size_t size)
{
    if (!Flush())
        return 0;
    const ssize_t got = ::read(m_fd, out, size);
    if (got <= 0)
        return 0;
    m_pos += got;
    return static_cast<std::size_t>(got);
}

bool FileStream::Truncate()
{
    m_buffer.clear();
    if (::ftruncate(m_fd, 0) != 0 || ::lseek(m_fd, 0, SEEK_SET) != 0) {
        m_error = errno;
        return false;
    }
    m_pos = 0;
    return true;
}

FreeImageIO* FileStream::Io()
{
    // Never written: shared by every stream on every thread.
    static FreeImageIO io{ReadProc, WriteProc, SeekProc, TellProc};
    return &io;
}

unsigned FileStream::ReadProc(void* buffer, unsigned size, unsigned count, void* handle)
{
    if (size == 0 || count == 0)
        return 0;
    const std::size_t got
        = static_cast<FileStream*>(handle)->Read(static_cast<char*>(buffer), static_cast<std::size_t>(size) * count);
    return static_cast<unsigned>(got / size);
}

unsigned FileStream::WriteProc(void* buffer, unsigned size, unsigned count, void* handle)
{
    if (size == 0 || count == 0)
        return 0;
    return static_cast<FileStream*>(handle)->Write(static_cast<const char*>(buffer),
                                                   static_cast<std::size_t>(size) * count)
        ? count
        : 0;
}

int FileStream::SeekProc(void* handle, long offset, int origin)
{
    return static_cast<FileStream*>(handle)->Seek(offset, origin);
}

long FileStream::TellProc(void* handle)
{
    return static_cast<long>(static_cast<FileStream*>(handle)->Tell());
}

} // namespace pixquill
