#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>

#include "ui/widgets/SurfaceWidget.h"

namespace pixquill {
namespace {

struct MouseCase {
    const char* name;
    QEvent::Type type;
    Qt::MouseButton button;   // the button that changed (none for a move)
    Qt::MouseButtons held;    // the buttons down during the event
    Qt::KeyboardModifiers modifiers;
    int edgeStyle;            // 6 sunken: 2 pixels each side; 0 none
    std::int16_t buttonMask;  // what the host is handed: 1 left, 2 right, 4 middle
    std::int16_t shiftMask;   // 1 shift, 2 ctrl, 4 alt
};

void PrintTo(const MouseCase& c, std::ostream* os) { *os << c.name; }

class SurfaceMouseTest : public ::testing::TestWithParam<MouseCase> {};

// Each mouse event is raised once, with the masks of its own buttons (the
// changing one for a press or release, the held ones for a move) and the
// position inside the edge, fractions kept.
TEST_P(SurfaceMouseTest, RaisesItsEventWithTheMasksAndTheInnerPosition)
{
    const MouseCase& c = GetParam();
    SurfaceWidget widget;
    widget.resize(40, 30);
    widget.SetEdgeStyle(c.edgeStyle);
    struct Raised {
        QEvent::Type type;
        std::int16_t button, shift;
        float x, y;
    };
    std::vector<Raised> raised;
    const auto record = [&raised](QEvent::Type type) {
        return [&raised, type](std::int16_t& button, std::int16_t& shift, float& x, float& y) {
            raised.push_back({type, button, shift, x, y});
        };
    };
    QObject::connect(&widget, &SurfaceWidget::MouseDown, record(QEvent::MouseButtonPress));
    QObject::connect(&widget, &SurfaceWidget::MouseUp, record(QEvent::MouseButtonRelease));
    QObject::connect(&widget, &SurfaceWidget::MouseMove, record(QEvent::MouseMove));

    const QPointF at(10.5, 7.25);
    QMouseEvent event(c.type, at, widget.mapToGlobal(at), c.button, c.held, c.modifiers);
    QApplication::sendEvent(&widget, &event);

    ASSERT_EQ(raised.size(), 1u);
    EXPECT_EQ(raised[0].type, c.type);
    EXPECT_EQ(raised[0].button, c.buttonMask);
    EXPECT_EQ(raised[0].shift, c.shiftMask);
    const float edge = c.edgeStyle == 0 ? 0.0f : 2.0f;
    EXPECT_FLOAT_EQ(raised[0].x, 10.5f - edge);
    EXPECT_FLOAT_EQ(raised[0].y, 7.25f - edge);
}

INSTANTIATE_TEST_SUITE_P(
    Events, SurfaceMouseTest,
    ::testing::Values(
        MouseCase{"MoveWithLeftAndRightHeld", QEvent::MouseMove, Qt::NoButton, Qt::LeftButton | Qt::RightButton,
                  Qt::ShiftModifier, 6, 3, 1},
        MouseCase{"MoveWithABackButtonHeld", QEvent::MouseMove, Qt::NoButton, Qt::BackButton | Qt::MiddleButton,
                  Qt::AltModifier, 0, 4, 4},
        MouseCase{"PressRightWithLeftHeld", QEvent::MouseButtonPress, Qt::RightButton,
                  Qt::LeftButton | Qt::RightButton, Qt::ControlModifier | Qt::ShiftModifier, 6, 2, 3},
        MouseCase{"ReleaseMiddle", QEvent::MouseButtonRelease, Qt::MiddleButton, Qt::NoButton, Qt::NoModifier, 6,
                  4, 0}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

} // namespace
} // namespace pixquill
