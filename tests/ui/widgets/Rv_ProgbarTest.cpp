#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <vector>

#include <QApplication>
#include <QPalette>
#include <QTimer>

#include "codec/OleColor.h"
#include "tests/support/QtPrinters.h"
#include "ui/widgets/Rv_Progbar.h"
#include "ui/widgets/SurfaceWidget.h"

namespace pixquill {
namespace {

constexpr OleColor kBodyColour = 0x00C0A080; // red 128, green 160, blue 192
constexpr OleColor kBarColour = 0x00C08B0E;  // red 14, green 139, blue 192

// The main window's bar: 294 x 15, raised bar, sunken outer border. Shown,
// so that its resize is delivered now and not when it is first rendered
// (a resize moves the bar back to the corner).
void ApplyMainWindowSettings(Rv_Progbar& bar)
{
    bar.resize(294, 15);
    bar.show();
    bar.SetBackColor(kBodyColour);
    bar.SetBarcolor(kBarColour);
    bar.SetBarstyle(5);
    bar.SetBorderStyle(3);
}

QColor Role(QPalette::ColorRole role)
{
    // As a plain RGB colour, comparable with a pixel.
    return QColor::fromRgb(QApplication::palette().color(role).rgb());
}

QImage Rendered(Rv_Progbar& bar)
{
    return bar.grab().toImage();
}

TEST(Rv_ProgbarTest, NewInstance)
{
    Rv_Progbar bar;
    EXPECT_EQ(QSize(212, 16), bar.size());
    EXPECT_EQ(0, bar.Min());
    EXPECT_EQ(100, bar.Max());
    EXPECT_EQ(0, bar.value());
    EXPECT_EQ(kSystemButtonFace, bar.BackColor());
    EXPECT_EQ(kSystemWindowBackground, bar.Barcolor());
    EXPECT_EQ(0, bar.Barstyle());
    EXPECT_EQ(0, bar.BorderStyle());
    EXPECT_EQ(0, bar.BarOffset());
    EXPECT_TRUE(bar.Bar().isHidden());
}

struct LayoutCase {
    const char* name;
    QSize body;
    int barOffset;
    int max;
    int value;
    QRect expected;
};

class BarLayoutTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(BarLayoutTest, LaysTheBarOutFromValueOverMax)
{
    const LayoutCase& c = GetParam();
    Rv_Progbar bar;
    bar.resize(c.body);
    bar.SetBarOffset(c.barOffset);
    bar.SetMax(c.max);
    bar.Setvalue(c.value);
    EXPECT_EQ(c.expected, bar.Bar().geometry());
    EXPECT_FALSE(bar.Bar().isHidden());
    EXPECT_EQ(c.expected.size(), bar.Bar().surface().Image().size());
}

INSTANTIATE_TEST_SUITE_P(Table, BarLayoutTest, ::testing::Values(
    LayoutCase{"FullCoversTheBody", {294, 15}, 0, 100, 100, {0, 0, 294, 15}},
    LayoutCase{"FullWithOffsetLeavesTwoPixels", {294, 15}, 1, 100, 100, {2, 2, 290, 11}},
    LayoutCase{"Half", {294, 15}, 0, 100, 50, {0, 0, 147, 15}},
    LayoutCase{"HalfWithOffset", {294, 15}, 1, 10, 5, {2, 2, 145, 11}},
    LayoutCase{"OtherOffsetsMeanNone", {294, 15}, 7, 100, 100, {0, 0, 294, 15}},
    LayoutCase{"FractionRoundsDown", {294, 15}, 0, 100, 33, {0, 0, 97, 15}},      // 97.02
    LayoutCase{"HalfPixelToEvenBelow", {10, 16}, 0, 4, 1, {0, 0, 2, 16}},       // 2.5
    LayoutCase{"HalfPixelToEvenAbove", {10, 16}, 0, 4, 3, {0, 0, 8, 16}},       // 7.5
    LayoutCase{"NoIntegerOverflow", {212, 16}, 0, 2147483647, 2147483646, {0, 0, 212, 16}},
    LayoutCase{"NegativeOverNegative", {200, 16}, 0, -100, -25, {0, 0, 50, 16}},
    // Above Max the bar runs past the body's right edge (cut off there).
    LayoutCase{"AboveMaxRunsPastTheEdge", {100, 16}, 0, 100, 101, {0, 0, 101, 16}},
    LayoutCase{"FarAboveMaxStaysJustPastTheEdge", {100, 16}, 0, 1, 2000000000, {0, 0, 102, 16}},
    LayoutCase{"FarAboveMaxWithOffset", {100, 16}, 1, 1, 2000000000, {2, 2, 100, 12}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

struct KeptCase {
    const char* name;
    int max;
    int value;
};

class BarKeepsGeometryTest : public ::testing::TestWithParam<KeptCase> {};

// Max 0 or a negative width: the layout step is skipped, the rest runs.
TEST_P(BarKeepsGeometryTest, KeepsThePreviousGeometry)
{
    const KeptCase& c = GetParam();
    Rv_Progbar bar;
    ApplyMainWindowSettings(bar);
    bar.Setvalue(40);
    const QRect before = bar.Bar().geometry();
    QStringList keys;
    QObject::connect(&bar, &Rv_Progbar::PropertyChanged, [&](const QString& k) { keys << k; });
    bar.SetMax(c.max);
    bar.Setvalue(c.value);
    EXPECT_EQ(c.value, bar.value());
    EXPECT_EQ(before, bar.Bar().geometry());
    EXPECT_FALSE(bar.Bar().isHidden()); // shown: the value is not 0
    EXPECT_EQ((QStringList{"Max", "Value"}), keys);
    // The bar was still cleared and its edge drawn.
    const QImage& image = bar.Bar().surface().Image();
    EXPECT_EQ(Role(QPalette::Midlight), QColor(image.pixel(0, 5)));
    EXPECT_EQ(ColorFromOle(kBarColour), QColor(image.pixel(10, 5)));
}

INSTANTIATE_TEST_SUITE_P(Table, BarKeepsGeometryTest, ::testing::Values(
    KeptCase{"MaxZero", 0, 50},
    KeptCase{"NegativeValue", 100, -5},
    KeptCase{"NegativeMaxPositiveValue", -100, 30},
    KeptCase{"MostNegativeValue", 100, std::numeric_limits<int>::min()}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(Rv_ProgbarTest, ValueZeroHidesTheBar)
{
    Rv_Progbar bar;
    ApplyMainWindowSettings(bar);
    bar.Setvalue(50);
    EXPECT_FALSE(bar.Bar().isHidden());
    bar.Setvalue(0);
    EXPECT_TRUE(bar.Bar().isHidden());
    const QImage image = Rendered(bar);
    // Only the body colour and the border show.
    EXPECT_EQ(ColorFromOle(kBodyColour), QColor(image.pixel(10, 7)));
    EXPECT_EQ(Role(QPalette::Dark), QColor(image.pixel(10, 0)));
    EXPECT_EQ(Role(QPalette::Dark), QColor(image.pixel(0, 7)));
    EXPECT_EQ(Role(QPalette::Light), QColor(image.pixel(293, 7)));
    EXPECT_EQ(Role(QPalette::Light), QColor(image.pixel(10, 14)));
}

TEST(Rv_ProgbarTest, MainWindowBarIsRaisedAndTheBorderShowsOnlyRightOfIt)
{
    Rv_Progbar bar;
    ApplyMainWindowSettings(bar);
    bar.Setvalue(50); // 147 pixels
    const QImage image = Rendered(bar);
    // The bar's raised edge: outer midlight/shadow, inner light/dark.
    EXPECT_EQ(Role(QPalette::Midlight), QColor(image.pixel(0, 7)));
    EXPECT_EQ(Role(QPalette::Light), QColor(image.pixel(1, 7)));
    EXPECT_EQ(Role(QPalette::Midlight), QColor(image.pixel(60, 0)));
    EXPECT_EQ(Role(QPalette::Shadow), QColor(image.pixel(60, 14)));
    EXPECT_EQ(Role(QPalette::Shadow), QColor(image.pixel(146, 7)));
    EXPECT_EQ(Role(QPalette::Dark), QColor(image.pixel(145, 7)));
    EXPECT_EQ(ColorFromOle(kBarColour), QColor(image.pixel(60, 7)));
    // Right of the bar: body colour inside the sunken outer line.
    EXPECT_EQ(ColorFromOle(kBodyColour), QColor(image.pixel(200, 7)));
    EXPECT_EQ(Role(QPalette::Dark), QColor(image.pixel(200, 0)));
    EXPECT_EQ(Role(QPalette::Light), QColor(image.pixel(200, 14)));
    EXPECT_EQ(Role(QPalette::Light), QColor(image.pixel(293, 7)));
}

TEST(Rv_ProgbarTest, FullBarCoversTheBorderOrLeavesTwoPixels)
{
    Rv_Progbar bar;
    ApplyMainWindowSettings(bar);
    bar.Setvalue(100);
    QImage image = Rendered(bar);
    EXPECT_EQ(Role(QPalette::Midlight), QColor(image.pixel(0, 7)));
    EXPECT_EQ(Role(QPalette::Shadow), QColor(image.pixel(293, 7)));

    bar.SetBarOffset(1);
    bar.Setvalue(100);
    image = Rendered(bar);
    EXPECT_EQ(Role(QPalette::Dark), QColor(image.pixel(0, 7)));          // border
    EXPECT_EQ(ColorFromOle(kBodyColour), QColor(image.pixel(1, 7)));    // margin
    EXPECT_EQ(Role(QPalette::Midlight), QColor(image.pixel(2, 7)));      // bar edge
    EXPECT_EQ(Role(QPalette::Shadow), QColor(image.pixel(291, 7)));
    EXPECT_EQ(ColorFromOle(kBodyColour), QColor(image.pixel(292, 7)));
    EXPECT_EQ(Role(QPalette::Light), QColor(image.pixel(293, 7)));
}

TEST(Rv_ProgbarTest, ValueAboveMaxIsCutOffAtTheRightEdge)
{
    Rv_Progbar bar;
    ApplyMainWindowSettings(bar);
    bar.Setvalue(250);
    const QImage image = Rendered(bar);
    // No right edge of the bar and no border: plain bar colour to the end.
    EXPECT_EQ(ColorFromOle(kBarColour), QColor(image.pixel(293, 7)));
    EXPECT_EQ(ColorFromOle(kBarColour), QColor(image.pixel(292, 7)));
    EXPECT_EQ(Role(QPalette::Midlight), QColor(image.pixel(293, 0)));
}

TEST(Rv_ProgbarTest, SettingBarcolorErasesTheEdgeUntilTheNextValue)
{
    Rv_Progbar bar;
    ApplyMainWindowSettings(bar);
    bar.Setvalue(60);
    const QImage& image = bar.Bar().surface().Image();
    EXPECT_EQ(Role(QPalette::Midlight), QColor(image.pixel(0, 5)));
    const OleColor red = 0x000000FF;
    bar.SetBarcolor(red);
    EXPECT_EQ(red, bar.Barcolor());
    EXPECT_EQ(QColor(Qt::red), QColor(bar.Bar().surface().Image().pixel(0, 5)));
    EXPECT_EQ(QColor(Qt::red), QColor(bar.Bar().surface().Image().pixel(20, 5)));
    bar.Setvalue(60);
    EXPECT_EQ(Role(QPalette::Midlight), QColor(bar.Bar().surface().Image().pixel(0, 5)));
    EXPECT_EQ(QColor(Qt::red), QColor(bar.Bar().surface().Image().pixel(20, 5)));
}

TEST(Rv_ProgbarTest, BarstyleAndBarOffsetTakeEffectAtTheNextValue)
{
    Rv_Progbar bar;
    ApplyMainWindowSettings(bar);
    bar.Setvalue(50);
    const QRect before = bar.Bar().geometry();
    bar.SetBarstyle(6);
    bar.SetBarOffset(1);
    bar.SetMax(200);
    EXPECT_EQ(before, bar.Bar().geometry());
    EXPECT_EQ(Role(QPalette::Midlight), QColor(bar.Bar().surface().Image().pixel(0, 5)));
    bar.Setvalue(50);
    EXPECT_EQ(QRect(2, 2, 72, 11), bar.Bar().geometry()); // 50 / 200 * 290 = 72.5
    EXPECT_EQ(Role(QPalette::Dark), QColor(bar.Bar().surface().Image().pixel(0, 5)));
}

class NoEdgeStyleTest : public ::testing::TestWithParam<int> {};

TEST_P(NoEdgeStyleTest, DrawsNoEdge)
{
    const int style = GetParam();
    Rv_Progbar bar;
    bar.resize(100, 16);
    bar.show();
    bar.SetBackColor(kBodyColour);
    bar.SetBarcolor(kBarColour);
    bar.SetBarstyle(style);
    bar.SetBorderStyle(style);
    bar.Setvalue(50);
    const QImage image = Rendered(bar);
    EXPECT_EQ(ColorFromOle(kBarColour), QColor(image.pixel(0, 0)));
    EXPECT_EQ(ColorFromOle(kBarColour), QColor(image.pixel(49, 15)));
    EXPECT_EQ(ColorFromOle(kBodyColour), QColor(image.pixel(50, 0)));
    EXPECT_EQ(ColorFromOle(kBodyColour), QColor(image.pixel(99, 15)));
}

INSTANTIATE_TEST_SUITE_P(Styles, NoEdgeStyleTest, ::testing::Values(0, 9, -1, 1000));

TEST(Rv_ProgbarTest, ResizeMovesTheBarToTheCornerOnly)
{
    Rv_Progbar bar;
    bar.show(); // resize events reach a shown widget at once
    bar.resize(200, 16);
    bar.SetBarOffset(1);
    bar.Setvalue(50);
    EXPECT_EQ(QRect(2, 2, 98, 12), bar.Bar().geometry());
    bar.resize(300, 20);
    EXPECT_EQ(QRect(0, 0, 98, 12), bar.Bar().geometry());
    bar.Setvalue(50);
    EXPECT_EQ(QRect(2, 2, 148, 16), bar.Bar().geometry());
}

// Qt tells a hidden widget its size only when it is shown; that is no
// resize of the body and leaves the bar where the last value put it.
TEST(Rv_ProgbarTest, ShowingAHiddenBarKeepsItsLayout)
{
    Rv_Progbar bar;
    bar.resize(200, 16);
    bar.SetBarstyle(5);
    bar.SetBarOffset(1);
    bar.Setvalue(50);
    bar.show();
    EXPECT_EQ(QRect(2, 2, 98, 12), bar.Bar().geometry());
    EXPECT_EQ(Role(QPalette::Midlight), QColor(Rendered(bar).pixel(2, 7)));
}

TEST(Rv_ProgbarTest, EventsPostedBeforeTheAssignmentHaveRunWhenItReturns)
{
    Rv_Progbar bar;
    bool ran = false;
    QTimer::singleShot(0, &bar, [&] { ran = true; });
    bar.Setvalue(3);
    EXPECT_TRUE(ran);
    // Also when nothing is shown.
    ran = false;
    QMetaObject::invokeMethod(&bar, [&] { ran = true; }, Qt::QueuedConnection);
    bar.Setvalue(0);
    EXPECT_TRUE(ran);
}

struct SetterCase {
    const char* key;
    std::function<void(Rv_Progbar&)> set;
};

TEST(Rv_ProgbarTest, EverySetterNotifiesWithItsKey)
{
    const std::vector<SetterCase> cases = {
        {"Min", [](Rv_Progbar& b) { b.SetMin(1); }},
        {"Max", [](Rv_Progbar& b) { b.SetMax(5); }},
        {"Value", [](Rv_Progbar& b) { b.Setvalue(2); }},
        {"BackColor", [](Rv_Progbar& b) { b.SetBackColor(1); }},
        {"Barcolor", [](Rv_Progbar& b) { b.SetBarcolor(1); }},
        {"Barstyle", [](Rv_Progbar& b) { b.SetBarstyle(1); }},
        {"BorderStyle", [](Rv_Progbar& b) { b.SetBorderStyle(1); }},
        {"BarOffset", [](Rv_Progbar& b) { b.SetBarOffset(1); }},
    };
    for (const SetterCase& c : cases) {
        Rv_Progbar bar;
        QStringList keys;
        QObject::connect(&bar, &Rv_Progbar::PropertyChanged, [&](const QString& k) { keys << k; });
        c.set(bar);
        EXPECT_EQ(QStringList{c.key}, keys);
    }
}

TEST(Rv_ProgbarTest, MainWindowSettingsStoreExactlyTheirFourKeys)
{
    Rv_Progbar bar;
    bar.InitProperties();
    ApplyMainWindowSettings(bar);
    PropertyBag bag;
    bar.WriteProperties(bag);
    EXPECT_EQ(QString("Pixquill.Rv_Progbar"), bag.ClassId());
    EXPECT_EQ((QStringList{"BackColor", "Barcolor", "Barstyle", "BorderStyle"}), bag.Keys());
    EXPECT_EQ(kBodyColour, bag.ReadProperty("BackColor", 0).toUInt());
    EXPECT_EQ(kBarColour, bag.ReadProperty("Barcolor", 0).toUInt());
    EXPECT_EQ(5, bag.ReadProperty("Barstyle", 0).toInt());
    EXPECT_EQ(3, bag.ReadProperty("BorderStyle", 0).toInt());
}

TEST(Rv_ProgbarTest, EveryPropertyRoundTrips)
{
    Rv_Progbar saved;
    saved.SetMin(-3);
    saved.SetMax(250);
    saved.Setvalue(17);
    saved.SetBackColor(kBodyColour);
    saved.SetBarcolor(kSystemWindowBackground);
    saved.SetBarstyle(8);
    saved.SetBorderStyle(6);
    saved.SetBarOffset(1);
    PropertyBag bag;
    saved.WriteProperties(bag);
    EXPECT_EQ(8, bag.Keys().size());

    Rv_Progbar loaded;
    loaded.ReadProperties(bag);
    EXPECT_EQ(-3, loaded.Min());
    EXPECT_EQ(250, loaded.Max());
    EXPECT_EQ(17, loaded.value());
    EXPECT_EQ(kBodyColour, loaded.BackColor());
    EXPECT_EQ(kSystemWindowBackground, loaded.Barcolor());
    EXPECT_EQ(8, loaded.Barstyle());
    EXPECT_EQ(6, loaded.BorderStyle());
    EXPECT_EQ(1, loaded.BarOffset());
    // Reading draws nothing: the stored value shows from the next assignment.
    EXPECT_TRUE(loaded.Bar().isHidden());
}

// A new bar surface starts with the window background, but the saved set's
// default for Barcolor is button face: a new instance saves its bar colour,
// and a set without the key loads button face.
TEST(Rv_ProgbarTest, BarcolorDefaultsDifferBetweenNewAndSaved)
{
    Rv_Progbar fresh;
    fresh.InitProperties();
    PropertyBag bag;
    fresh.WriteProperties(bag);
    EXPECT_EQ(QStringList{"Barcolor"}, bag.Keys());
    EXPECT_EQ(kSystemWindowBackground, bag.ReadProperty("Barcolor", 0).toUInt());

    Rv_Progbar loaded;
    loaded.ReadProperties(PropertyBag());
    EXPECT_EQ(kSystemButtonFace, loaded.Barcolor());
    EXPECT_EQ(kSystemButtonFace, loaded.BackColor());
    EXPECT_EQ(100, loaded.Max());
}

} // namespace
} // namespace pixquill
