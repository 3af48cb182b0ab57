#include <algorithm>
#include <functional>

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include "tests/support/QtPrinters.h"
#include "tests/support/TestImages.h"
#include "ui/display/ImageAceX.h"
#include "ui/display/fFullScale.h"
#include "ui/widgets/SurfaceWidget.h"

namespace pixquill {
namespace {

void ProcessDeletions()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QSize ScreenSize()
{
    return QGuiApplication::primaryScreen()->availableGeometry().size();
}

QImage LargerThanScreen()
{
    return test::GradientImage(ScreenSize().width() + 500, ScreenSize().height() + 300);
}

class FullScaleTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (fFullScale* open = fFullScale::Instance())
            open->close();
        ProcessDeletions();
    }
};

TEST_F(FullScaleTest, FramelessToolWindowOnBlackThatDeletesItself)
{
    fFullScale* window = fFullScale::ShowPicture(nullptr, test::GradientImage(300, 200));
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(window->windowType(), Qt::Tool);
    EXPECT_TRUE(window->testAttribute(Qt::WA_DeleteOnClose));
    EXPECT_EQ(window->size(), ScreenSize());
    EXPECT_EQ(window->imView()->geometry(), window->rect());
    EXPECT_EQ(window->imView()->BackColor(), 0u);
    EXPECT_EQ(window->imView()->BorderStyle(), 0);
    EXPECT_EQ(window->imView()->Displaymode(), 0);
}

TEST_F(FullScaleTest, SmallPictureCentredWithoutBars)
{
    fFullScale* window = fFullScale::ShowPicture(nullptr, test::GradientImage(300, 200));
    ASSERT_NE(window, nullptr);
    ImageAceX* view = window->imView();
    const QSize screen = ScreenSize();
    EXPECT_EQ(view->picDst()->size(), QSize(300, 200));
    EXPECT_EQ(view->picDst()->pos(), QPoint((screen.width() - 300) / 2, (screen.height() - 200) / 2));
    EXPECT_FALSE(view->hSB()->isVisible());
    EXPECT_FALSE(view->vSB()->isVisible());
    EXPECT_FALSE(view->cmdCorner()->isVisible());
}

TEST_F(FullScaleTest, NoPictureOpensNothing)
{
    EXPECT_EQ(fFullScale::ShowPicture(nullptr, QImage()), nullptr);
    EXPECT_EQ(fFullScale::Instance(), nullptr);
}

TEST_F(FullScaleTest, EachOpeningStartsAtScrollPositionZero)
{
    for (int opening = 0; opening < 2; ++opening) {
        QPointer<fFullScale> window = fFullScale::ShowPicture(nullptr, LargerThanScreen());
        ASSERT_TRUE(window);
        ImageAceX* view = window->imView();
        ASSERT_TRUE(view->hSB()->isVisible());
        ASSERT_TRUE(view->vSB()->isVisible());
        EXPECT_TRUE(view->cmdCorner()->isVisible());
        EXPECT_EQ(view->hSB()->value(), 0) << "opening " << opening;
        EXPECT_EQ(view->vSB()->value(), 0) << "opening " << opening;
        EXPECT_EQ(view->picDst()->pos(), QPoint(0, 0)) << "opening " << opening;

        view->hSB()->setValue(120);
        view->vSB()->setValue(80);
        EXPECT_EQ(view->picDst()->pos(), QPoint(-120, -80));

        QTest::keyClick(view->picDst(), Qt::Key_Escape);
        ProcessDeletions();
        EXPECT_FALSE(window);
        EXPECT_EQ(fFullScale::Instance(), nullptr);
    }
}

enum class Closer { EscOnPicture, EscOnViewport, EscOnWindow, DoubleClickPicture, DoubleClickViewport, DoubleClickWindow };

struct CloseCase {
    const char* name;
    Closer how;
};

class FullScaleCloseTest : public FullScaleTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(FullScaleCloseTest, ClosesAndDestroysTheWindow)
{
    // Small, so the viewport's black area is free to click.
    QPointer<fFullScale> window = fFullScale::ShowPicture(nullptr, test::GradientImage(200, 100));
    ASSERT_TRUE(window);
    ImageAceX* view = window->imView();
    int keySeenAfter = -1;
    QObject::connect(view, &ImageAceX::KeyPress, [&](int& keyAscii) { keySeenAfter = keyAscii; });

    switch (GetParam().how) {
    case Closer::EscOnPicture: QTest::keyClick(view->picDst(), Qt::Key_Escape); break;
    case Closer::EscOnViewport: QTest::keyClick(view->picScl(), Qt::Key_Escape); break;
    case Closer::EscOnWindow: QTest::keyClick(window.data(), Qt::Key_Escape); break;
    case Closer::DoubleClickPicture: QTest::mouseDClick(view->picDst(), Qt::LeftButton); break;
    case Closer::DoubleClickViewport: QTest::mouseDClick(view->picScl(), Qt::LeftButton, {}, QPoint(3, 3)); break;
    case Closer::DoubleClickWindow: {
        QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                        Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.data(), &dbl);
        break;
    }
    }
    // Esc through the viewer is swallowed before any later handler sees it.
    if (GetParam().how == Closer::EscOnPicture || GetParam().how == Closer::EscOnViewport) {
        EXPECT_EQ(keySeenAfter, 0);
    }

    EXPECT_EQ(fFullScale::Instance(), nullptr);
    ProcessDeletions();
    EXPECT_FALSE(window);
}

INSTANTIATE_TEST_SUITE_P(
    FullScale, FullScaleCloseTest,
    ::testing::Values(CloseCase{"EscOnPicture", Closer::EscOnPicture}, CloseCase{"EscOnViewport", Closer::EscOnViewport},
                      CloseCase{"EscOnWindow", Closer::EscOnWindow},
                      CloseCase{"DoubleClickPicture", Closer::DoubleClickPicture},
                      CloseCase{"DoubleClickViewport", Closer::DoubleClickViewport},
                      CloseCase{"DoubleClickWindow", Closer::DoubleClickWindow}),
    [](const ::testing::TestParamInfo<CloseCase>& testInfo) { return std::string(testInfo.param.name); });

struct StayCase {
    const char* name;
    std::function<void(fFullScale&)> act;
};

class FullScaleStaysOpenTest : public FullScaleTest, public ::testing::WithParamInterface<StayCase> {};

TEST_P(FullScaleStaysOpenTest, NothingHappens)
{
    QPointer<fFullScale> window = fFullScale::ShowPicture(nullptr, LargerThanScreen());
    ASSERT_TRUE(window);
    GetParam().act(*window);
    ProcessDeletions();
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(fFullScale::Instance(), window.data());
}

INSTANTIATE_TEST_SUITE_P(
    FullScale, FullScaleStaysOpenTest,
    ::testing::Values(
        StayCase{"SingleClickOnPicture",
                 [](fFullScale& w) { QTest::mouseClick(w.imView()->picDst(), Qt::LeftButton); }},
        StayCase{"RightClickOnPicture",
                 [](fFullScale& w) { QTest::mouseClick(w.imView()->picDst(), Qt::RightButton); }},
        StayCase{"OtherKeyOnPicture", [](fFullScale& w) { QTest::keyClick(w.imView()->picDst(), Qt::Key_A); }},
        StayCase{"EnterOnWindow", [](fFullScale& w) { QTest::keyClick(&w, Qt::Key_Return); }},
        StayCase{"ClickOnBar", [](fFullScale& w) { QTest::mouseClick(w.imView()->hSB(), Qt::LeftButton); }}),
    [](const ::testing::TestParamInfo<StayCase>& testInfo) { return std::string(testInfo.param.name); });

// Keys and the wheel scroll the view from where it starts (top-left), sent to
// the picture that has the focus.
struct ScrollCase {
    const char* name;
    std::function<void(QWidget*)> act;
    int h; // expected bar values afterwards: -1 the bar's maximum
    int v;
};

class FullScaleScrollTest : public FullScaleTest, public ::testing::WithParamInterface<ScrollCase> {};

// Sent to the window: a wheel event the test sends is not passed on to the
// parents of the picture, as one from the window system is.
void Wheel(QWidget* picture, QPoint angle, Qt::KeyboardModifiers modifiers)
{
    QWidget* target = picture->window();
    QWheelEvent event(QPointF(10, 10), target->mapToGlobal(QPointF(10, 10)), QPoint(), angle, Qt::NoButton,
                      modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &event);
}

TEST_P(FullScaleScrollTest, MovesTheView)
{
    QPointer<fFullScale> window = fFullScale::ShowPicture(nullptr, LargerThanScreen());
    ASSERT_TRUE(window);
    QScrollBar* h = window->imView()->hSB();
    QScrollBar* v = window->imView()->vSB();
    GetParam().act(window->imView()->picDst());
    EXPECT_EQ(h->value(), GetParam().h < 0 ? h->maximum() : GetParam().h);
    EXPECT_EQ(v->value(), GetParam().v < 0 ? v->maximum() : GetParam().v);
    EXPECT_EQ(window->imView()->picDst()->pos(), QPoint(-h->value(), -v->value()));
}

INSTANTIATE_TEST_SUITE_P(
    FullScale, FullScaleScrollTest,
    ::testing::Values(
        ScrollCase{"Down", [](QWidget* w) { QTest::keyClick(w, Qt::Key_Down); }, 0, 40},
        ScrollCase{"RightRight", [](QWidget* w) { QTest::keyClick(w, Qt::Key_Right); QTest::keyClick(w, Qt::Key_Right); }, 80, 0},
        ScrollCase{"UpStopsAtTheTop", [](QWidget* w) { QTest::keyClick(w, Qt::Key_Up); }, 0, 0},
        ScrollCase{"End", [](QWidget* w) { QTest::keyClick(w, Qt::Key_End); }, 0, -1},
        ScrollCase{"CtrlEnd", [](QWidget* w) { QTest::keyClick(w, Qt::Key_End, Qt::ControlModifier); }, -1, -1},
        ScrollCase{"PageDownThenHome", [](QWidget* w) { QTest::keyClick(w, Qt::Key_PageDown); QTest::keyClick(w, Qt::Key_Home); }, 0, 0},
        ScrollCase{"WheelDown", [](QWidget* w) { Wheel(w, QPoint(0, -120), Qt::NoModifier); }, 0, 120},
        ScrollCase{"ShiftWheelSideways", [](QWidget* w) { Wheel(w, QPoint(0, -120), Qt::ShiftModifier); }, 120, 0}),
    [](const ::testing::TestParamInfo<ScrollCase>& testInfo) { return std::string(testInfo.param.name); });

TEST_F(FullScaleTest, PageDownScrollsAPage)
{
    QPointer<fFullScale> window = fFullScale::ShowPicture(nullptr, LargerThanScreen());
    ASSERT_TRUE(window);
    QTest::keyClick(window->imView()->picDst(), Qt::Key_PageDown);
    QScrollBar* v = window->imView()->vSB();
    EXPECT_EQ(v->value(), std::min(v->pageStep(), v->maximum()));
}

TEST_F(FullScaleTest, OpeningWhileOpenShowsTheNewPictureInTheSameWindow)
{
    fFullScale* first = fFullScale::ShowPicture(nullptr, LargerThanScreen());
    ASSERT_NE(first, nullptr);
    first->imView()->hSB()->setValue(50);
    fFullScale* second = fFullScale::ShowPicture(nullptr, test::GradientImage(120, 90));
    EXPECT_EQ(second, first);
    EXPECT_EQ(second->imView()->picDst()->size(), QSize(120, 90));
    EXPECT_FALSE(second->imView()->hSB()->isVisible());
}

TEST_F(FullScaleTest, ClosesWithItsOwner)
{
    auto* owner = new QWidget;
    owner->show();
    QPointer<fFullScale> window = fFullScale::ShowPicture(owner, test::GradientImage(50, 50));
    ASSERT_TRUE(window);
    EXPECT_EQ(window->parentWidget(), owner);
    delete owner;
    EXPECT_FALSE(window);
    EXPECT_EQ(fFullScale::Instance(), nullptr);
}

} // namespace
} // namespace pixquill
