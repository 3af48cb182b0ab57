#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QCursor>
#include <QMouseEvent>
#include <QTest>
#include <QTimer>

#include "tests/support/QtPrinters.h"
#include "ui/widgets/PictureButton.h"

namespace pixquill {
namespace {

const QColor kNormal(200, 30, 30);
const QColor kHover(30, 200, 30);
const QColor kDown(30, 30, 200);

QImage Face(QSize size, const QColor& colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// A button with three solid faces whose pointer position the test decides,
// and a log of the events it raises.
struct Harness {
    explicit Harness(QSize faceSize = QSize(123, 31))
    {
        button.SetPicture(Face(faceSize, kNormal));
        button.SetPictureHover(Face(faceSize, kHover));
        button.SetPictureDown(Face(faceSize, kDown));
        button.SetPointerTest([this] { return over; });
        QObject::connect(&button, &PictureButton::Click, [this](int) { log.push_back("Click"); });
        QObject::connect(&button, &PictureButton::DblClick, [this](int) { log.push_back("DblClick"); });
        QObject::connect(&button, &PictureButton::MouseEnter, [this](int) { log.push_back("Enter"); });
        QObject::connect(&button, &PictureButton::MouseLeave, [this](int) { log.push_back("Leave"); });
        QObject::connect(&button, &PictureButton::MouseMove,
            [this](int, std::int16_t& b, std::int16_t&, float&, float&) { log.push_back("Move" + std::to_string(b)); });
        QObject::connect(&button, &PictureButton::MouseDown,
            [this](int, std::int16_t& b, std::int16_t&, float&, float&) { log.push_back("Down" + std::to_string(b)); });
        QObject::connect(&button, &PictureButton::MouseUp,
            [this](int, std::int16_t& b, std::int16_t&, float&, float&) { log.push_back("Up" + std::to_string(b)); });
    }

    QColor ShownFace() const { return QColor(button.FaceImage().pixel(5, 5)); }

    PictureButton button;
    bool over = false;
    std::vector<std::string> log;
};

// Moves carry the held buttons explicitly; the position inside the button
// does not matter, the pointer test decides "over".
void SendMove(PictureButton& button, Qt::MouseButtons held)
{
    const QPointF pos(3, 4);
    QMouseEvent event(QEvent::MouseMove, pos, button.mapToGlobal(pos), Qt::NoButton, held, Qt::NoModifier);
    QApplication::sendEvent(&button, &event);
}

// One tick of the hover timer, as the event loop would deliver it.
void Tick(PictureButton& button)
{
    auto* timer = button.findChild<QTimer*>(QStringLiteral("Timer1"));
    ASSERT_NE(nullptr, timer);
    QMetaObject::invokeMethod(timer, "timeout");
}

// Steps of a scenario: what the pointer and the mouse do.
// DoubleRight and DoubleMiddle are the second press of a double click, which
// Qt delivers as a double-click event.
enum class Act { MoveNone, MoveLeft, MoveRight, PressLeft, PressRight, PressMiddle,
                 DoubleRight, DoubleMiddle, ReleaseLeft, ReleaseRight, ReleaseMiddle, Tick };
struct Step {
    Act act;
    bool over;
};

struct Scenario {
    const char* name;
    std::vector<Step> steps;
    std::vector<std::string> log;
    std::int16_t state;
    bool hoverActive;
    bool timerOn;
};

void RunStep(Harness& h, const Step& step)
{
    h.over = step.over;
    const QPoint inside(3, 4);
    // Releases over the button land inside it; releases outside land outside.
    const QPoint releaseAt = step.over ? inside : QPoint(-20, -20);
    switch (step.act) {
    case Act::MoveNone: SendMove(h.button, Qt::NoButton); break;
    case Act::MoveLeft: SendMove(h.button, Qt::LeftButton); break;
    case Act::MoveRight: SendMove(h.button, Qt::RightButton); break;
    case Act::PressLeft: QTest::mousePress(&h.button, Qt::LeftButton, {}, inside); break;
    case Act::PressRight: QTest::mousePress(&h.button, Qt::RightButton, {}, inside); break;
    case Act::PressMiddle: QTest::mousePress(&h.button, Qt::MiddleButton, {}, inside); break;
    case Act::DoubleRight: QTest::mouseDClick(&h.button, Qt::RightButton, {}, inside); break;
    case Act::DoubleMiddle: QTest::mouseDClick(&h.button, Qt::MiddleButton, {}, inside); break;
    case Act::ReleaseLeft: QTest::mouseRelease(&h.button, Qt::LeftButton, {}, releaseAt); break;
    case Act::ReleaseRight: QTest::mouseRelease(&h.button, Qt::RightButton, {}, releaseAt); break;
    case Act::ReleaseMiddle: QTest::mouseRelease(&h.button, Qt::MiddleButton, {}, releaseAt); break;
    case Act::Tick: Tick(h.button); break;
    }
}

class PictureButtonStateTest : public ::testing::TestWithParam<Scenario> {};

TEST_P(PictureButtonStateTest, FollowsTheStateTable)
{
    const Scenario& s = GetParam();
    Harness h;
    for (const Step& step : s.steps)
        RunStep(h, step);
    EXPECT_EQ(s.log, h.log);
    EXPECT_EQ(s.state, h.button.ButtonState());
    EXPECT_EQ(s.hoverActive, h.button.HoverActive());
    EXPECT_EQ(s.timerOn, h.button.HoverTimerActive());
    const QColor faces[] = {kNormal, kHover, kDown};
    EXPECT_EQ(faces[s.state], h.ShownFace());
    EXPECT_EQ(QSize(123, 31), h.button.size());
    // Let go of what the scenario still holds: the test library remembers
    // held buttons across tests.
    for (Qt::MouseButton b : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton})
        if (QTestPrivate::qtestMouseButtons & b)
            QTest::mouseRelease(&h.button, b);
}

constexpr bool O = true;  // pointer over the button
constexpr bool X = false; // pointer outside

INSTANTIATE_TEST_SUITE_P(Table, PictureButtonStateTest, ::testing::Values(
    Scenario{"EnterShowsHover", {{Act::MoveNone, O}},
             {"Move0", "Enter"}, 1, true, true},
    Scenario{"FurtherMovesOverRaiseNoSecondEnter", {{Act::MoveNone, O}, {Act::MoveNone, O}},
             {"Move0", "Enter", "Move0"}, 1, true, true},
    Scenario{"LeftPressShowsDown", {{Act::MoveNone, O}, {Act::PressLeft, O}},
             {"Move0", "Enter", "Down1"}, 2, true, true},
    Scenario{"ReleaseOverShowsHoverAndClicks",
             {{Act::MoveNone, O}, {Act::PressLeft, O}, {Act::ReleaseLeft, O}},
             {"Move0", "Enter", "Down1", "Up1", "Click"}, 1, true, true},
    Scenario{"PlainClickThenLeaveByTimer",
             {{Act::MoveNone, O}, {Act::PressLeft, O}, {Act::ReleaseLeft, O}, {Act::Tick, X}},
             {"Move0", "Enter", "Down1", "Up1", "Click", "Leave"}, 0, false, false},
    Scenario{"DragOutShowsNormalAndDoesNotClick",
             {{Act::MoveNone, O}, {Act::PressLeft, O}, {Act::MoveLeft, X}, {Act::ReleaseLeft, X}},
             {"Move0", "Enter", "Down1", "Move1", "Up1"}, 0, false, true},
    Scenario{"ReleaseOutsideShowsNormal",
             {{Act::PressLeft, O}, {Act::ReleaseLeft, X}},
             {"Down1", "Up1"}, 0, false, false},
    Scenario{"RightPressShowsNoDownFace", {{Act::MoveNone, O}, {Act::PressRight, O}},
             {"Move0", "Enter", "Down2"}, 1, true, true},
    Scenario{"RightReleaseOutsideShowsNormal",
             {{Act::MoveNone, O}, {Act::PressRight, O}, {Act::ReleaseRight, X}},
             {"Move0", "Enter", "Down2", "Up2"}, 0, true, true},
    Scenario{"MiddleClickRaisesNoClick",
             {{Act::MoveNone, O}, {Act::PressMiddle, O}, {Act::ReleaseMiddle, O}},
             {"Move0", "Enter", "Down4", "Up4"}, 1, true, true},
    Scenario{"RightDoubleClickRaisesTwoDowns",
             {{Act::MoveNone, O}, {Act::PressRight, O}, {Act::ReleaseRight, O}, {Act::DoubleRight, O},
              {Act::ReleaseRight, O}},
             {"Move0", "Enter", "Down2", "Up2", "Down2", "Up2"}, 1, true, true},
    Scenario{"MiddleDoubleClickReleasedOutside",
             {{Act::MoveNone, O}, {Act::PressMiddle, O}, {Act::ReleaseMiddle, O}, {Act::DoubleMiddle, O},
              {Act::ReleaseMiddle, X}},
             {"Move0", "Enter", "Down4", "Up4", "Down4", "Up4"}, 0, true, true},
    Scenario{"MoveWithRightHeldIsIgnored",
             {{Act::MoveNone, O}, {Act::PressRight, O}, {Act::MoveRight, X}},
             {"Move0", "Enter", "Down2", "Move2"}, 1, true, true},
    Scenario{"SecondEnterAfterLeftDragWithoutLeave",
             {{Act::MoveNone, O}, {Act::PressLeft, O}, {Act::MoveLeft, O}, {Act::ReleaseLeft, O},
              {Act::MoveNone, O}},
             {"Move0", "Enter", "Down1", "Move1", "Up1", "Click", "Move0", "Enter"}, 1, true, true},
    Scenario{"TicksWhileOverDoNothing",
             {{Act::MoveNone, O}, {Act::Tick, O}, {Act::Tick, O}, {Act::Tick, O}},
             {"Move0", "Enter"}, 1, true, true},
    Scenario{"MovingOutShowsNormalButOnlyTheTimerLeaves",
             {{Act::MoveNone, O}, {Act::MoveNone, X}},
             {"Move0", "Enter", "Move0"}, 0, false, true},
    Scenario{"TimerLeavesOnceThenStops",
             {{Act::MoveNone, O}, {Act::MoveNone, X}, {Act::Tick, X}},
             {"Move0", "Enter", "Move0", "Leave"}, 0, false, false},
    Scenario{"LeftHeldMoveOverShowsDown", {{Act::MoveLeft, O}},
             {"Move1"}, 2, false, false}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(PictureButtonTest, NewButtonMeasures60By57UntilItsFirstFace)
{
    PictureButton button;
    EXPECT_EQ(QSize(60, 57), button.size());
    // A face with no picture only clears; the size stays.
    button.UpdateFace();
    button.SetPictureHover(Face(QSize(21, 21), kHover));
    EXPECT_EQ(QSize(60, 57), button.size());
    button.SetPicture(Face(QSize(21, 21), kNormal));
    EXPECT_EQ(QSize(21, 21), button.size());
    EXPECT_EQ(QSize(21, 21), button.FaceImage().size());
}

TEST(PictureButtonTest, KeepsTheFaceSizeAgainstTheHostsResize)
{
    Harness h(QSize(21, 21));
    h.button.show(); // a hidden widget hears of its resize only when shown
    h.button.resize(100, 80);
    EXPECT_EQ(QSize(21, 21), h.button.size());
    EXPECT_EQ(kNormal, h.ShownFace());
}

TEST(PictureButtonTest, EmptyFaceKeepsTheLastSizeAndClears)
{
    PictureButton button;
    button.SetPicture(Face(QSize(40, 20), kNormal));
    button.SetPointerTest([] { return true; });
    SendMove(button, Qt::NoButton); // hover state, no hover picture
    EXPECT_EQ(1, button.ButtonState());
    EXPECT_EQ(QSize(40, 20), button.size());
    EXPECT_NE(kNormal, QColor(button.FaceImage().pixel(5, 5)));
}

TEST(PictureButtonTest, HostHandlerSeesAndChangesTheParameters)
{
    Harness h;
    h.over = true;
    std::int16_t seenShift = -1;
    QPointF seenPos;
    // The host turns the left press into no button: the button then reacts
    // as to any other button and shows no down face.
    QObject::connect(&h.button, &PictureButton::MouseDown,
        [&](int, std::int16_t& b, std::int16_t& shift, float& x, float& y) {
            seenShift = shift;
            seenPos = QPointF(x, y);
            b = 0;
        });
    QTest::mousePress(&h.button, Qt::LeftButton, Qt::ShiftModifier | Qt::ControlModifier, QPoint(7, 9));
    EXPECT_EQ(3, seenShift);
    EXPECT_EQ(QPointF(7, 9), seenPos);
    EXPECT_EQ(0, h.button.ButtonState());
    QTest::mouseRelease(&h.button, Qt::LeftButton, {}, QPoint(7, 9));
}

TEST(PictureButtonTest, HostHandlerChangingMoveButtonStopsTheReaction)
{
    Harness h;
    h.over = true;
    QObject::connect(&h.button, &PictureButton::MouseMove,
        [](int, std::int16_t& b, std::int16_t&, float&, float&) { b = 2; });
    SendMove(h.button, Qt::NoButton);
    EXPECT_FALSE(h.button.HoverActive());
    EXPECT_EQ(0, h.button.ButtonState());
}

TEST(PictureButtonTest, DoubleClickRaisesOneClickAndDblClick)
{
    Harness h;
    h.over = true;
    QTest::mouseClick(&h.button, Qt::LeftButton, {}, QPoint(3, 3));
    QTest::mouseDClick(&h.button, Qt::LeftButton, {}, QPoint(3, 3));
    QTest::mouseRelease(&h.button, Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_EQ((std::vector<std::string>{"Down1", "Up1", "Click", "DblClick", "Up1"}), h.log);
}

TEST(PictureButtonTest, GroupMembersReportTheirIndex)
{
    PictureButton start;
    PictureButton stop;
    start.SetIndex(0);
    stop.SetIndex(1);
    std::vector<int> clicked;
    std::vector<int> entered;
    for (PictureButton* b : {&start, &stop}) {
        b->SetPointerTest([] { return true; });
        QObject::connect(b, &PictureButton::Click, [&](int index) { clicked.push_back(index); });
        QObject::connect(b, &PictureButton::MouseEnter, [&](int index) { entered.push_back(index); });
    }
    SendMove(stop, Qt::NoButton);
    QTest::mouseClick(&stop, Qt::LeftButton, {}, QPoint(2, 2));
    SendMove(start, Qt::NoButton);
    QTest::mouseClick(&start, Qt::LeftButton, {}, QPoint(2, 2));
    EXPECT_EQ((std::vector<int>{1, 0}), clicked);
    EXPECT_EQ((std::vector<int>{1, 0}), entered);
}

TEST(PictureButtonTest, HoverTimerPollsEvery30Ms)
{
    Harness h;
    auto* timer = h.button.findChild<QTimer*>(QStringLiteral("Timer1"));
    ASSERT_NE(nullptr, timer);
    EXPECT_EQ(30, timer->interval());
    EXPECT_FALSE(timer->isActive());
    // Through the event loop: nothing while over, one MouseLeave once outside.
    h.over = true;
    SendMove(h.button, Qt::NoButton);
    QTest::qWait(100);
    EXPECT_EQ((std::vector<std::string>{"Move0", "Enter"}), h.log);
    h.over = false;
    EXPECT_TRUE(QTest::qWaitFor([&] { return !h.log.empty() && h.log.back() == "Leave"; }, 2000));
    QTest::qWait(100);
    EXPECT_EQ(1, std::count(h.log.begin(), h.log.end(), std::string("Leave")));
    EXPECT_EQ(kNormal, h.ShownFace());
}

TEST(PictureButtonTest, PropertySettersNotifyWithTheirKey)
{
    PictureButton button;
    QStringList keys;
    QObject::connect(&button, &PictureButton::PropertyChanged, [&](const QString& k) { keys << k; });
    button.SetPicture(Face(QSize(4, 4), kNormal));
    button.SetPictureHover(QImage());
    button.SetPictureDown(Face(QSize(4, 4), kDown));
    EXPECT_EQ((QStringList{"Picture", "PictureHover", "PictureDown"}), keys);
}

TEST(PictureButtonTest, SavedFacesRoundTripAsTheSamePictures)
{
    const QImage normal = Face(QSize(21, 21), kNormal);
    const QImage down = Face(QSize(21, 21), kDown);
    PictureButton saved;
    saved.SetPicture(normal);
    saved.SetPictureDown(down);
    EXPECT_EQ(normal.cacheKey(), saved.Picture().cacheKey()); // the host's object, not a copy
    PropertyBag bag;
    saved.WriteProperties(bag);
    EXPECT_EQ(QString("Pixquill.PictureButton"), bag.ClassId());
    EXPECT_EQ((QStringList{"Picture", "PictureDown"}), bag.Keys()); // no hover face, not written

    PictureButton loaded;
    loaded.ReadProperties(bag);
    EXPECT_EQ(normal.cacheKey(), loaded.Picture().cacheKey());
    EXPECT_TRUE(loaded.PictureHover().isNull());
    EXPECT_EQ(down.cacheKey(), loaded.PictureDown().cacheKey());
    // Reading draws nothing; the host's resize (delivered at the latest when
    // the button is shown) draws the first face.
    EXPECT_EQ(QSize(60, 57), loaded.size());
    loaded.resize(10, 10);
    loaded.show();
    EXPECT_EQ(QSize(21, 21), loaded.size());
    EXPECT_EQ(kNormal, QColor(loaded.FaceImage().pixel(3, 3)));

    loaded.InitProperties();
    PropertyBag empty;
    loaded.WriteProperties(empty);
    EXPECT_TRUE(empty.Keys().isEmpty());
}

// The real pointer test, on a shown window: a widget lying over the button
// counts as outside, so the timer raises MouseLeave.
TEST(PictureButtonTest, RealPointerTestTreatsACoveringWidgetAsOutside)
{
    QWidget window;
    window.resize(200, 100);
    auto* button = new PictureButton(&window);
    button->SetPicture(Face(QSize(60, 30), kNormal));
    button->SetPictureHover(Face(QSize(60, 30), kHover));
    button->move(10, 10);
    auto* cover = new QWidget(&window);
    cover->setGeometry(50, 10, 40, 40); // covers the button's right third
    cover->raise();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    int enters = 0;
    int leaves = 0;
    QObject::connect(button, &PictureButton::MouseEnter, [&] { ++enters; });
    QObject::connect(button, &PictureButton::MouseLeave, [&] { ++leaves; });

    QCursor::setPos(button->mapToGlobal(QPoint(10, 10)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return enters == 1; }, 2000));
    EXPECT_TRUE(button->IsMouseOver());
    EXPECT_EQ(1, button->ButtonState());

    QCursor::setPos(cover->mapToGlobal(QPoint(5, 5)));
    EXPECT_FALSE(button->IsMouseOver());
    ASSERT_TRUE(QTest::qWaitFor([&] { return leaves == 1; }, 2000));
    EXPECT_EQ(0, button->ButtonState());
    EXPECT_FALSE(button->HoverTimerActive());
}

} // namespace
} // namespace pixquill
