#pragma once

// Forward reading in blocks through a ByteReader, for walks through a whole
// image's data or byte-by-byte scans for markers: one read per 64 KiB, not
// one per byte.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "codec/ByteReader.h"

namespace pixquill {

class SequentialReader {
public:
    // The reader must outlive this object.
    SequentialReader(const ByteReader& read, std::int64_t at) : m_read(read), m_next(at) {}

    // The next byte, or -1 at the end of the data.
    int Next()
    {
        if (m_pos == m_buffer.size()) {
            m_buffer.resize(64 * 1024);
            const std::int64_t got = m_read(m_next, m_buffer.data(), static_cast<std::int64_t>(m_buffer.size()));
            m_buffer.resize(static_cast<std::size_t>(std::max<std::int64_t>(0, got)));
            m_next += static_cast<std::int64_t>(m_buffer.size());
            m_pos = 0;
            if (m_buffer.empty())
                return -1;
        }
        return m_buffer[m_pos++];
    }

    // The next n bytes into out; false when the data ends first.
    bool Read(std::uint8_t* out, std::int64_t n)
    {
        for (std::int64_t i = 0; i < n; ++i) {
            const int byte = Next();
            if (byte < 0)
                return false;
            out[i] = static_cast<std::uint8_t>(byte);
        }
        return true;
    }

    // Skips n bytes; false when the data ends first.
    bool Skip(std::int64_t n)
    {
        const auto inBuffer = static_cast<std::int64_t>(m_buffer.size() - m_pos);
        if (n <= inBuffer) {
            m_pos += static_cast<std::size_t>(n);
            return true;
        }
        n -= inBuffer;
        m_pos = m_buffer.size();
        m_next += n;
        // Seen only when the next read comes up short; check the last byte now.
        std::uint8_t last = 0;
        if (n > 0 && m_read(m_next - 1, &last, 1) != 1)
            return false;
        return true;
    }

private:
    const ByteReader& m_read;
    std::int64_t m_next;
    std::vector<std::uint8_t> m_buffer;
    std::size_t m_pos = 0;
};

} // namespace pixquill
