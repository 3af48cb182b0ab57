#pragma once

#include <cstdint>

#include <QColor>

namespace pixquill {

// Colours as the window layouts store them: 0x00BBGGRR, red in the lowest byte.
// 0x80000000 + n names system colour n, which follows the current palette.
using OleColor = std::uint32_t;

inline constexpr OleColor kSystemWindowBackground = 0x80000005u; // QPalette::Base
inline constexpr OleColor kSystemButtonFace = 0x8000000Fu;       // QPalette::Button

// Resolves system colours through QGuiApplication's palette (needs a
// QGuiApplication when such a colour is used).
QColor ColorFromOle(OleColor value);

} // namespace pixquill
