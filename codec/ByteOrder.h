#pragma once

// Reading and writing the fixed-size numbers of file headers, little-endian
// (BMP, ICO, PCX, GIF, TIFF "II") and big-endian (PSD, PNG, JPEG, TIFF "MM",
// ISO-BMFF). Reads take a pointer to at least as many bytes as the value has;
// callers check the length first. 16-bit values come back widened so that
// shifting them further stays unsigned.

#include <cstdint>

#include <QByteArray>

namespace pixquill {

inline std::uint32_t Le16(const std::uint8_t* p) { return std::uint32_t(p[1]) << 8 | p[0]; }
inline std::uint32_t Le32(const std::uint8_t* p) { return Le16(p + 2) << 16 | Le16(p); }
inline std::uint64_t Le64(const std::uint8_t* p) { return std::uint64_t(Le32(p + 4)) << 32 | Le32(p); }

inline std::uint32_t Be16(const std::uint8_t* p) { return std::uint32_t(p[0]) << 8 | p[1]; }
inline std::uint32_t Be32(const std::uint8_t* p) { return Be16(p) << 16 | Be16(p + 2); }
inline std::uint64_t Be64(const std::uint8_t* p) { return std::uint64_t(Be32(p)) << 32 | Be32(p + 4); }

inline void AppendLe16(QByteArray& out, std::uint32_t value)
{
    out.append(static_cast<char>(value & 0xFF));
    out.append(static_cast<char>((value >> 8) & 0xFF));
}

inline void AppendLe32(QByteArray& out, std::uint32_t value)
{
    AppendLe16(out, value & 0xFFFF);
    AppendLe16(out, value >> 16);
}

} // namespace pixquill
