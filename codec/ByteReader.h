#pragma once

// Random access to a file's bytes, however they are held: an open file, a
// file rebuilt in memory, a file with patches laid over it. Decoders and
// header checks read through it and never learn which.

#include <cstdint>
#include <functional>

namespace pixquill {

// Copies up to `size` bytes from `offset` into `out` and returns how many it
// copied (fewer near the end, 0 past it).
using ByteReader = std::function<std::int64_t(std::int64_t offset, void* out, std::int64_t size)>;

// Exactly n bytes at offset, or false.
inline bool ReadExactly(const ByteReader& read, std::int64_t offset, void* out, std::int64_t n)
{
    return offset >= 0 && read(offset, out, n) == n;
}

} // namespace pixquill
