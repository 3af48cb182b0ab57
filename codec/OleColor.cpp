#include "OleColor.h"

#include <QGuiApplication>
#include <QPalette>

namespace pixquill {

QColor ColorFromOle(OleColor value)
{
    if (value & 0x80000000u) {
        const QPalette palette = QGuiApplication::palette();
        switch (value & 0xFFu) {
        case 5:
            return palette.color(QPalette::Base);
        case 8:
            return palette.color(QPalette::Text);
        case 15:
            return palette.color(QPalette::Button);
        case 18:
            return palette.color(QPalette::ButtonText);
        default:
            return palette.color(QPalette::Window);
        }
    }
    return QColor(int(value & 0xFFu), int((value >> 8) & 0xFFu), int((value >> 16) & 0xFFu));
}

} // namespace pixquill
