#pragma once

#include <cstdint>

#include <Qt>

namespace pixquill {

// The mouse-button mask that Button parameters carry: 1 left, 2 right,
// 4 middle (Qt's values for these three); other buttons are left out.
inline std::int16_t ButtonMask(Qt::MouseButtons buttons)
{
    return std::int16_t(buttons & (Qt::LeftButton | Qt::RightButton | Qt::MiddleButton));
}

// The modifier-key mask that Shift parameters carry: 1 Shift, 2 Ctrl, 4 Alt.
inline std::int16_t ShiftMask(Qt::KeyboardModifiers modifiers)
{
    std::int16_t mask = 0;
    if (modifiers & Qt::ShiftModifier)
        mask |= 1;
    if (modifiers & Qt::ControlModifier)
        mask |= 2;
    if (modifiers & Qt::AltModifier)
        mask |= 4;
    return mask;
}

} // namespace pixquill
