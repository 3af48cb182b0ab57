#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include "tests/support/QtPrinters.h"
#include "tests/support/TestImages.h"
#include "ui/display/ImageAceX.h"
#include "ui/widgets/PropertyBag.h"
#include "ui/widgets/SurfaceWidget.h"

namespace pixquill {
namespace {

// The viewer inside a shown host, so resizes reach it at once.
class Viewer {
public:
    Viewer()
    {
        host.resize(900, 900);
        view = new ImageAceX(&host);
        host.show();
    }

    // Assigns the picture, then sizes the control: the refresh takes the
    // picture into the display copy, as a host does it.
    void Show(QSize control, QSize picture)
    {
        view->resize(control.width() - 1, control.height() - 1);
        view->SetPicture(test::GradientImage(picture.width(), picture.height()));
        view->resize(control);
    }

    QWidget host;
    ImageAceX* view = nullptr;
};

bool Shown(const QWidget* w)
{
    return !w->isHidden();
}

// ---------------------------------------------------------------------------
// Actual-size layout

struct LayoutCase {
    const char* name;
    QSize viewport;
    QSize picture;
    bool hBar, vBar;
    int hMax, vMax;
    QPoint picturePos;
};

class LayoutTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(LayoutTest, BarsCornerAndPosition)
{
    const LayoutCase& c = GetParam();
    Viewer v;
    v.Show(c.viewport, c.picture);
    ImageAceX& view = *v.view;

    EXPECT_EQ(view.picScl()->geometry(), QRect(QPoint(0, 0), c.viewport));
    EXPECT_EQ(view.picDst()->size(), c.picture);
    EXPECT_EQ(Shown(view.hSB()), c.hBar);
    EXPECT_EQ(Shown(view.vSB()), c.vBar);
    EXPECT_EQ(Shown(view.cmdCorner()), c.hBar || c.vBar);
    if (c.hBar) {
        EXPECT_EQ(view.hSB()->maximum(), c.hMax);
    }
    if (c.vBar) {
        EXPECT_EQ(view.vSB()->maximum(), c.vMax);
    }
    EXPECT_EQ(view.hSB()->minimum(), 0);
    EXPECT_EQ(view.vSB()->minimum(), 0);
    EXPECT_EQ(view.hSB()->value(), 0);
    EXPECT_EQ(view.vSB()->value(), 0);
    EXPECT_EQ(view.picDst()->pos(), c.picturePos);
}

INSTANTIATE_TEST_SUITE_P(
    Viewer, LayoutTest,
    ::testing::Values(
        LayoutCase{"SmallerIsCentred", {400, 300}, {200, 100}, false, false, 0, 0, {100, 100}},
        // 99.5 both ways, to even.
        LayoutCase{"OddLeftoverToEven", {400, 300}, {201, 101}, false, false, 0, 0, {100, 100}},
        LayoutCase{"ExactlyTheViewport", {400, 300}, {400, 300}, false, false, 0, 0, {0, 0}},
        LayoutCase{"WiderOnly", {400, 300}, {600, 200}, true, false, 200, 0, {0, 0}},
        LayoutCase{"WiderByOnePixel", {400, 300}, {401, 300}, true, false, 1, 0, {0, 0}},
        LayoutCase{"TallerOnly", {400, 300}, {300, 500}, false, true, 0, 200, {0, 0}},
        LayoutCase{"LargerBothWays", {400, 300}, {600, 500}, true, true, 215, 215, {0, 0}},
        // Fits the whole viewport's height, so no vertical bar; its last
        // rows stay under the horizontal bar.
        LayoutCase{"HeightUnderTheBar", {400, 300}, {600, 290}, true, false, 200, 0, {0, 0}},
        LayoutCase{"WidthBesideTheBar", {400, 300}, {390, 700}, false, true, 0, 400, {0, 0}}),
    [](const ::testing::TestParamInfo<LayoutCase>& testInfo) { return std::string(testInfo.param.name); });

// On a dense screen actual size is one picture pixel per screen pixel: the
// display copy is the picture's size divided by the ratio, and the bars
// follow from that size.
struct RatioCase {
    const char* name;
    double ratio;
    QSize picture;
    QSize shown;
    bool hBar;
};

class PixelRatioTest : public ::testing::TestWithParam<RatioCase> {};

TEST_P(PixelRatioTest, DisplayCopyAtScreenPixels)
{
    const RatioCase& c = GetParam();
    Viewer v;
    v.view->SetPixelRatio(c.ratio);
    v.Show({400, 300}, c.picture);
    EXPECT_EQ(v.view->picDst()->size(), c.shown);
    EXPECT_EQ(v.view->picDst()->surface().Image().size(), c.picture);
    EXPECT_EQ(Shown(v.view->hSB()), c.hBar);
}

INSTANTIATE_TEST_SUITE_P(
    Viewer, PixelRatioTest,
    ::testing::Values(RatioCase{"One", 1.0, {600, 200}, {600, 200}, true},
                      RatioCase{"TwoHalvesAndFits", 2.0, {600, 200}, {300, 100}, false},
                      RatioCase{"TwoOddSizeRoundsUp", 2.0, {601, 201}, {301, 101}, false},
                      RatioCase{"TwoStillTooWide", 2.0, {1000, 200}, {500, 100}, true},
                      RatioCase{"OneAndAHalf", 1.5, {600, 300}, {400, 200}, false}),
    [](const ::testing::TestParamInfo<RatioCase>& testInfo) { return std::string(testInfo.param.name); });

TEST(ViewerLayout, BarsAndCornerSitAlongTheViewportEdges)
{
    Viewer v;
    v.Show({401, 301}, {900, 800});
    ImageAceX& view = *v.view;
    EXPECT_EQ(view.hSB()->geometry(), QRect(0, 286, 386, 15));
    EXPECT_EQ(view.vSB()->geometry(), QRect(386, 0, 15, 286));
    EXPECT_EQ(view.cmdCorner()->geometry(), QRect(386, 286, 15, 15));
    // Half the viewport per click in the track; 200.5 and 150.5 to even.
    EXPECT_EQ(view.hSB()->pageStep(), 200);
    EXPECT_EQ(view.vSB()->pageStep(), 150);
    EXPECT_EQ(view.hSB()->singleStep(), 1);
}

TEST(ViewerLayout, ScrollingMovesTheSharedDisplayCopy)
{
    Viewer v;
    const QImage picture = test::GradientImage(600, 500);
    v.view->resize(399, 299);
    v.view->SetPicture(picture);
    v.view->resize(400, 300);
    ImageAceX& view = *v.view;

    view.hSB()->setValue(50);
    view.vSB()->setValue(40);
    EXPECT_EQ(view.picDst()->pos(), QPoint(-50, -40));
    view.hSB()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(view.picDst()->pos(), QPoint(-51, -40));
    view.vSB()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(view.picDst()->pos(), QPoint(-51, -190));
    // The display copy and the source holder show the picture's own pixels.
    EXPECT_EQ(view.picDst()->surface().Image().constBits(), picture.constBits());
    EXPECT_EQ(view.iSrc().Image().constBits(), picture.constBits());
}

TEST(ViewerLayout, ResizeReturnsToTheStart)
{
    Viewer v;
    v.Show({400, 300}, {600, 500});
    ImageAceX& view = *v.view;
    view.hSB()->setValue(70);
    view.vSB()->setValue(30);

    view.resize(420, 310);

    EXPECT_EQ(view.hSB()->value(), 0);
    EXPECT_EQ(view.vSB()->value(), 0);
    EXPECT_EQ(view.picDst()->pos(), QPoint(0, 0));
    EXPECT_EQ(view.hSB()->maximum(), 600 - 420 + 15);
}

TEST(ViewerLayout, PictureAssignmentReturnsToTheStartWithTheShownPicture)
{
    Viewer v;
    v.Show({400, 300}, {600, 500});
    ImageAceX& view = *v.view;
    view.hSB()->setValue(70);
    view.vSB()->setValue(30);

    view.SetPicture(test::GradientImage(100, 100));

    EXPECT_EQ(view.hSB()->value(), 0);
    EXPECT_EQ(view.vSB()->value(), 0);
    EXPECT_EQ(view.picDst()->pos(), QPoint(0, 0));
    // The display copy keeps the old picture until the next refresh.
    EXPECT_EQ(view.picDst()->size(), QSize(600, 500));
    EXPECT_EQ(view.iSrc().Image().size(), QSize(100, 100));

    view.resize(401, 300);
    EXPECT_EQ(view.picDst()->size(), QSize(100, 100));
    EXPECT_FALSE(Shown(view.hSB()));
    EXPECT_EQ(view.picDst()->pos(), QPoint(150, 100));
}

TEST(ViewerLayout, NoPictureShowsNothing)
{
    Viewer v;
    v.Show({400, 300}, {600, 500});
    ImageAceX& view = *v.view;
    view.SetPicture(QImage());
    view.resize(410, 300);
    EXPECT_TRUE(view.Picture().isNull());
    EXPECT_EQ(view.picDst()->size(), QSize(0, 0));
    EXPECT_FALSE(Shown(view.hSB()));
    EXPECT_FALSE(Shown(view.vSB()));
    EXPECT_FALSE(Shown(view.cmdCorner()));
}

class OtherDisplaymodeTest : public ::testing::TestWithParam<int> {};

TEST_P(OtherDisplaymodeTest, ResizeChangesNothing)
{
    Viewer v;
    v.Show({400, 300}, {600, 500});
    ImageAceX& view = *v.view;
    view.hSB()->setValue(30);
    view.SetDisplaymode(GetParam());
    const QRect viewport = view.picScl()->geometry();
    const QRect bar = view.hSB()->geometry();
    const QPoint at = view.picDst()->pos();

    view.resize(500, 350);

    EXPECT_EQ(view.picScl()->geometry(), viewport);
    EXPECT_EQ(view.hSB()->geometry(), bar);
    EXPECT_EQ(view.hSB()->value(), 30);
    EXPECT_EQ(view.picDst()->pos(), at);
    EXPECT_TRUE(Shown(view.picDst()));
}

INSTANTIATE_TEST_SUITE_P(Viewer, OtherDisplaymodeTest, ::testing::Values(2, 7, -1));

// ---------------------------------------------------------------------------
// Border

struct BorderCase {
    int style;
    int inset;
    bool edgeDrawn;
};

class BorderTest : public ::testing::TestWithParam<BorderCase> {};

TEST_P(BorderTest, InsetAndEdge)
{
    const BorderCase& c = GetParam();
    Viewer v;
    ImageAceX& view = *v.view;
    view.SetBackColor(0x00336699);
    view.SetBorderStyle(c.style);
    view.resize(120, 90);

    EXPECT_EQ(view.picScl()->geometry(), QRect(c.inset, c.inset, 120 - 2 * c.inset, 90 - 2 * c.inset));
    const QImage shot = view.grab().toImage();
    const QRgb back = qRgb(0x99, 0x66, 0x33);
    int ringPixelsNotBack = 0;
    for (int y = 0; y < 90; ++y)
        for (int x = 0; x < 120; ++x)
            if ((x < 2 || y < 2 || x >= 118 || y >= 88) && shot.pixel(x, y) != back)
                ++ringPixelsNotBack;
    if (c.edgeDrawn)
        EXPECT_GT(ringPixelsNotBack, 0);
    else
        EXPECT_EQ(ringPixelsNotBack, 0);
}

INSTANTIATE_TEST_SUITE_P(Viewer, BorderTest,
                         ::testing::Values(BorderCase{0, 0, false}, BorderCase{1, 2, true}, BorderCase{6, 2, true},
                                           BorderCase{8, 2, true}, BorderCase{9, 2, false},
                                           BorderCase{-1, 2, false}),
                         [](const ::testing::TestParamInfo<BorderCase>& testInfo) {
                             return "Style" + std::to_string(testInfo.index);
                         });

TEST(ViewerBorder, AssignmentRedrawsButDoesNotMoveTheViewport)
{
    Viewer v;
    v.Show({200, 150}, {50, 50});
    ImageAceX& view = *v.view;
    view.SetBorderStyle(6);
    EXPECT_EQ(view.picScl()->geometry(), QRect(0, 0, 200, 150));
    EXPECT_EQ(view.BorderRect(), QRect(0, 0, 200, 150));
    view.resize(200, 151);
    EXPECT_EQ(view.picScl()->geometry(), QRect(2, 2, 196, 147));
}

// ---------------------------------------------------------------------------
// Fit mode

TEST(ViewerFitMode, DrawsTheReducedPictureWithOneFreePixel)
{
    Viewer v;
    ImageAceX& view = *v.view;
    view.SetBackColor(0x00302010);
    v.Show({204, 154}, {600, 500});
    EXPECT_TRUE(Shown(view.hSB()));
    view.resize(203, 153);
    view.SetPicture(test::QuadrantImage(400, 300));

    view.SetDisplaymode(1);

    EXPECT_FALSE(Shown(view.picDst()));
    EXPECT_TRUE(view.picDst()->surface().Picture().isNull());
    EXPECT_EQ(view.picScl()->geometry(), QRect(2, 2, 199, 149));
    EXPECT_EQ(view.hSB()->x(), ImageAceX::kOutOfSight);
    EXPECT_EQ(view.vSB()->x(), ImageAceX::kOutOfSight);
    EXPECT_EQ(view.cmdCorner()->x(), ImageAceX::kOutOfSight);

    view.resize(204, 154);
    const QImage& drawn = view.picScl()->surface().Image();
    ASSERT_EQ(drawn.size(), QSize(200, 150));
    // 198 x 148.5 -> 198 x 148 at (1, 1).
    const QRgb back = qRgb(0x10, 0x20, 0x30);
    EXPECT_EQ(drawn.pixel(0, 0), back);
    EXPECT_EQ(drawn.pixel(0, 75), back);
    EXPECT_EQ(drawn.pixel(100, 0), back);
    EXPECT_EQ(drawn.pixel(199, 75), back);
    EXPECT_EQ(drawn.pixel(100, 149), back);
    EXPECT_LE(test::ColourDistance(drawn.pixel(1, 1), qRgb(255, 0, 0)), 2);
    EXPECT_LE(test::ColourDistance(drawn.pixel(198, 148), qRgb(255, 255, 255)), 2);
}

TEST(ViewerFitMode, ReturningToActualSizeShowsNoLeftOverDrawing)
{
    Viewer v;
    ImageAceX& view = *v.view;
    view.SetBackColor(0x00000000);
    v.Show({300, 200}, {400, 300});
    view.SetDisplaymode(1);
    view.SetPicture(test::QuadrantImage(100, 80));
    view.SetDisplaymode(0);

    EXPECT_TRUE(Shown(view.picDst()));
    EXPECT_EQ(view.picDst()->pos(), QPoint(100, 60));
    const QImage& viewport = view.picScl()->surface().Image();
    EXPECT_EQ(viewport.pixel(10, 10), qRgb(0, 0, 0));
    EXPECT_EQ(viewport.pixel(150, 100), qRgb(0, 0, 0));
}

// ---------------------------------------------------------------------------
// Events

struct Recorder {
    struct Mouse {
        std::int16_t button;
        std::int16_t shift;
        QPointF at;
    };

    explicit Recorder(ImageAceX& view)
    {
        QObject::connect(&view, &ImageAceX::Click, [this] { ++clicks; });
        QObject::connect(&view, &ImageAceX::DblClick, [this] { ++doubleClicks; });
        QObject::connect(&view, &ImageAceX::MouseDown,
                         [this](std::int16_t& button, std::int16_t& shift, float& x, float& y) {
                             downs.push_back({button, shift, QPointF(x, y)});
                         });
        QObject::connect(&view, &ImageAceX::MouseUp,
                         [this](std::int16_t& button, std::int16_t& shift, float& x, float& y) {
                             ups.push_back({button, shift, QPointF(x, y)});
                         });
        QObject::connect(&view, &ImageAceX::KeyPress, [this](int& keyAscii) { keys.push_back(keyAscii); });
    }
    int clicks = 0;
    int doubleClicks = 0;
    std::vector<Mouse> downs;
    std::vector<Mouse> ups;
    std::vector<int> keys;
};

// A press or release at a position between pixels, which the test library's
// whole-pixel clicks cannot give.
void SendMouse(QWidget* area, QEvent::Type type, Qt::MouseButton button, Qt::KeyboardModifiers modifiers,
               QPointF at)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::MouseButtons(button) : Qt::NoButton;
    QMouseEvent event(type, at, area->mapToGlobal(at), button, held, modifiers);
    QApplication::sendEvent(area, &event);
}

enum class Area { Display, Viewport, Control };

struct EventCase {
    const char* name;
    int displaymode;
    Area area;
    Qt::MouseButton button;
    Qt::KeyboardModifiers modifiers;
    // What the host is handed: 1 left, 2 right, 4 middle; 1 shift, 2 ctrl, 4 alt.
    std::int16_t buttonMask;
    std::int16_t shiftMask;
};

QWidget* AreaWidget(ImageAceX& view, Area area)
{
    switch (area) {
    case Area::Display: return view.picDst();
    case Area::Viewport: return view.picScl();
    case Area::Control: return &view;
    }
    return nullptr;
}

class EventForwardingTest : public ::testing::TestWithParam<EventCase> {};

TEST_P(EventForwardingTest, ReachesTheHostWithTheAreasValues)
{
    const EventCase& c = GetParam();
    Viewer v;
    ImageAceX& view = *v.view;
    view.SetBorderStyle(6); // a ring of the control surface itself to click on
    v.Show({300, 200}, {100, 80});
    view.SetDisplaymode(c.displaymode);
    Recorder r(view);
    QWidget* area = AreaWidget(view, c.area);
    ASSERT_TRUE(area->isVisible());
    const QPointF at = c.area == Area::Control ? QPointF(1.5, 0.25) : QPointF(7.5, 9.25);

    SendMouse(area, QEvent::MouseButtonPress, c.button, c.modifiers, at);
    SendMouse(area, QEvent::MouseButtonRelease, c.button, c.modifiers, at);
    ASSERT_EQ(r.downs.size(), 1u);
    EXPECT_EQ(r.downs[0].button, c.buttonMask);
    EXPECT_EQ(r.downs[0].shift, c.shiftMask);
    EXPECT_EQ(r.downs[0].at, at);
    ASSERT_EQ(r.ups.size(), 1u);
    EXPECT_EQ(r.ups[0].button, c.buttonMask);
    EXPECT_EQ(r.ups[0].shift, c.shiftMask);
    EXPECT_EQ(r.ups[0].at, at);
    EXPECT_EQ(r.clicks, 1);
    EXPECT_EQ(r.doubleClicks, 0);

    QTest::mouseDClick(area, Qt::LeftButton, {}, at.toPoint());
    EXPECT_EQ(r.doubleClicks, 1);

    QTest::keyClick(area, Qt::Key_Q);
    ASSERT_EQ(r.keys.size(), 1u);
    EXPECT_EQ(r.keys[0], 'q');
}

INSTANTIATE_TEST_SUITE_P(
    Viewer, EventForwardingTest,
    ::testing::Values(
        EventCase{"ActualSizeDisplayCopy", 0, Area::Display, Qt::RightButton, Qt::ShiftModifier, 2, 1},
        EventCase{"ActualSizeViewport", 0, Area::Viewport, Qt::MiddleButton, Qt::ControlModifier, 4, 2},
        EventCase{"ActualSizeControl", 0, Area::Control, Qt::LeftButton, Qt::AltModifier, 1, 4},
        EventCase{"FitViewport", 1, Area::Viewport, Qt::RightButton,
                  Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier, 2, 7},
        EventCase{"FitControl", 1, Area::Control, Qt::MiddleButton, Qt::ShiftModifier | Qt::AltModifier, 4, 5}),
    [](const ::testing::TestParamInfo<EventCase>& testInfo) { return std::string(testInfo.param.name); });

TEST(ViewerEvents, ChangedKeyAsciiGoesBackToTheArea)
{
    Viewer v;
    ImageAceX& view = *v.view;
    QObject::connect(&view, &ImageAceX::KeyPress, [](int& keyAscii) {
        if (keyAscii == 'a')
            keyAscii = 'b';
        else if (keyAscii == 27)
            keyAscii = 0;
    });
    for (SurfaceWidget* area : {view.picDst(), view.picScl()}) {
        int key = 'a';
        emit area->KeyPress(key);
        EXPECT_EQ(key, 'b');
        key = 27;
        emit area->KeyPress(key);
        EXPECT_EQ(key, 0);
    }
}

TEST(ViewerEvents, BarsAndCornerAreNotForwarded)
{
    Viewer v;
    ImageAceX& view = *v.view;
    v.Show({300, 200}, {900, 800});
    Recorder r(view);
    QTest::mouseClick(view.hSB(), Qt::LeftButton, {}, QPoint(30, 7));
    QTest::mouseClick(view.cmdCorner(), Qt::LeftButton, {}, QPoint(7, 7));
    EXPECT_EQ(r.clicks, 0);
    EXPECT_TRUE(r.downs.empty());
}

TEST(ViewerFocus, BarsHandTheFocusToThePicture)
{
    Viewer v;
    ImageAceX& view = *v.view;
    v.Show({300, 200}, {900, 800});
    v.host.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&v.host));

    for (QScrollBar* bar : {view.hSB(), view.vSB()}) {
        view.picScl()->setFocus();
        ASSERT_EQ(QApplication::focusWidget(), view.picScl());
        bar->setFocus(Qt::MouseFocusReason);
        EXPECT_EQ(QApplication::focusWidget(), view.picDst()) << bar->objectName().toStdString();
    }
    view.picScl()->setFocus();
    view.setFocus(Qt::TabFocusReason);
    EXPECT_EQ(QApplication::focusWidget(), view.picDst());
}

// ---------------------------------------------------------------------------
// Properties

TEST(ViewerProperties, NewInstanceDefaultsAreNotWritten)
{
    ImageAceX view;
    view.InitProperties();
    EXPECT_EQ(view.BorderStyle(), 0);
    EXPECT_EQ(view.Displaymode(), 0);
    EXPECT_EQ(view.BackColor(), kSystemButtonFace);
    EXPECT_TRUE(view.Picture().isNull());

    PropertyBag bag;
    view.WriteProperties(bag);
    EXPECT_EQ(bag.ClassId(), QStringLiteral("Pixquill.ImageAceX"));
    EXPECT_TRUE(bag.Keys().isEmpty());
}

TEST(ViewerProperties, SavedAndLoadedUnderTheirKeys)
{
    ImageAceX saved;
    const QImage picture = test::GradientImage(30, 20);
    saved.SetBorderStyle(6);
    saved.SetDisplaymode(1);
    saved.SetBackColor(0x00112233);
    saved.SetPicture(picture);
    PropertyBag bag;
    saved.WriteProperties(bag);
    EXPECT_EQ(bag.Keys(), (QStringList{"BackColor", "BorderStyle", "Displaymode", "Picture"}));

    ImageAceX loaded;
    loaded.ReadProperties(bag);
    EXPECT_EQ(loaded.BorderStyle(), 6);
    EXPECT_EQ(loaded.Displaymode(), 1);
    EXPECT_EQ(loaded.BackColor(), 0x00112233u);
    EXPECT_EQ(loaded.Picture(), picture);
    EXPECT_EQ(loaded.picScl()->surface().BackColor(), QColor(0x33, 0x22, 0x11));
    EXPECT_EQ(loaded.picDst()->surface().BackColor(), QColor(0x33, 0x22, 0x11));

    // Back to the defaults: the stale keys go.
    loaded.SetBorderStyle(0);
    loaded.SetDisplaymode(0);
    loaded.SetBackColor(kSystemButtonFace);
    loaded.SetPicture(QImage());
    loaded.WriteProperties(bag);
    EXPECT_TRUE(bag.Keys().isEmpty());
}

TEST(ViewerProperties, LoadingWithoutKeysTakesTheDefaults)
{
    ImageAceX view;
    view.SetBorderStyle(3);
    view.SetBackColor(0x00000000);
    view.SetPicture(test::GradientImage(10, 10));
    view.ReadProperties(PropertyBag(QStringLiteral("Pixquill.ImageAceX")));
    EXPECT_EQ(view.BorderStyle(), 0);
    EXPECT_EQ(view.BackColor(), kSystemButtonFace);
    EXPECT_TRUE(view.Picture().isNull());
}

struct SetterCase {
    const char* key;
    std::function<void(ImageAceX&)> assign;
};

class PropertyChangedTest : public ::testing::TestWithParam<SetterCase> {};

TEST_P(PropertyChangedTest, EachSetterNamesItsKey)
{
    ImageAceX view;
    QSignalSpy spy(&view, &ImageAceX::PropertyChanged);
    GetParam().assign(view);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toString(), QString::fromLatin1(GetParam().key));
}

INSTANTIATE_TEST_SUITE_P(
    Viewer, PropertyChangedTest,
    ::testing::Values(SetterCase{"BorderStyle", [](ImageAceX& v) { v.SetBorderStyle(4); }},
                      SetterCase{"Displaymode", [](ImageAceX& v) { v.SetDisplaymode(1); }},
                      SetterCase{"BackColor", [](ImageAceX& v) { v.SetBackColor(0x0000FF00); }},
                      SetterCase{"Picture", [](ImageAceX& v) { v.SetPicture(test::GradientImage(4, 4)); }}),
    [](const ::testing::TestParamInfo<SetterCase>& testInfo) { return std::string(testInfo.param.key); });

TEST(ViewerProperties, Descriptions)
{
    const std::pair<const char*, const char*> expected[] = {
        {"BorderStyle", "Returns/sets the border style for an object."},
        {"Displaymode", ""},
        {"BackColor", "Returns/sets the background color used to display text and graphics in an object."},
        {"Picture", "Returns/sets a graphic to be displayed in a control."},
        {"Click", "Occurs when the user presses and then releases a mouse button over an object."},
        {"DblClick", "Occurs when the user presses and releases a mouse button and then presses and releases it "
                     "again over an object."},
        {"KeyPress", "Occurs when the user presses and releases an ANSI key."},
        {"MouseDown", "Occurs when the user presses the mouse button while an object has the focus."},
        {"MouseUp", "Occurs when the user releases the mouse button while an object has the focus."},
    };
    for (const auto& [member, text] : expected)
        EXPECT_EQ(ImageAceX::Description(QString::fromLatin1(member)), QString::fromLatin1(text)) << member;
}

} // namespace
} // namespace pixquill
