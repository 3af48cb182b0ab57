#pragma once

// FreeImage's stream procedures over the descriptor of an open file, with a
// buffer of our own, so that every refused write (a full disk, a file-size
// limit) is seen with its errno: FreeImage's own file writer and its encoders
// do not check what their writes return. One encoder at a time.

#include <cstddef>
#include <cstdint>
#include <vector>

struct FreeImageIO;

namespace pixquill {

class FileStream {
public:
    // The descriptor stays the caller's.
    explicit FileStream(int fd) : m_fd(fd) {}

    // The first errno a write, seek or read ended with; 0 while all went well.
    int Error() const { return m_error; }

    bool Write(const char* data, std::size_t size);
    bool Flush();
    int Seek(std::int64_t offset, int origin);
    std::int64_t Tell() const { return m_pos; }
    std::size_t Read(char* out, std::size_t size);

    // Empties the file and starts again at its beginning.
    bool Truncate();

    // FreeImage's procedures; the handle they take is this object.
    static FreeImageIO* Io();

private:
    static constexpr std::size_t kBufferSize = 64 * 1024;

    static unsigned ReadProc(void* buffer, unsigned size, unsigned count, void* handle);
    static unsigned WriteProc(void* buffer, unsigned size, unsigned count, void* handle);
    static int SeekProc(void* handle, long offset, int origin);
    static long TellProc(void* handle);

    int m_fd;
    int m_error = 0;
    std::int64_t m_pos = 0;
    std::vector<char> m_buffer;
};

} // namespace pixquill
