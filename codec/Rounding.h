#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

namespace pixquill {

// Every fractional-to-whole conversion in the program: nearest integer, a half
// going to the even neighbour (2.5 -> 2, 3.5 -> 4), into a 32-bit signed value.
// Returns nothing for NaN and for values that do not fit 32 bits.
inline std::optional<std::int32_t> RoundToInt32(double value)
{
    if (std::isnan(value))
        return std::nullopt;
    // nearbyint honours the current rounding mode, which is round-to-nearest-even
    // unless someone changed it; roundeven-like behaviour done explicitly instead.
    double r = std::floor(value);
    const double diff = value - r;
    if (diff > 0.5 || (diff == 0.5 && std::fmod(r, 2.0) != 0.0))
        r += 1.0;
    if (r < static_cast<double>(std::numeric_limits<std::int32_t>::min())
        || r > static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::nullopt;
    return static_cast<std::int32_t>(r);
}

// For size arithmetic whose operands are already known to fit: out-of-range
// results saturate instead of being undefined.
inline std::int32_t RoundHalfEven(double value)
{
    if (const auto r = RoundToInt32(value))
        return *r;
    if (std::isnan(value))
        return 0;
    return value < 0 ? std::numeric_limits<std::int32_t>::min()
                     : std::numeric_limits<std::int32_t>::max();
}

} // namespace pixquill
