#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QTest>
#include <QToolButton>

#include "tests/support/QtPrinters.h"
#include "tests/ui/main/UrlRecorder.h"
#include "ui/about/fAbout.h"
#include "ui/widgets/SurfaceWidget.h"

namespace pixquill {
namespace {

// The help text written out from its pieces, independently of the window.
QString ExpectedHelpText()
{
    const QString cr(QChar(13));
    const QStringList pieces = {
        cr + cr + cr + cr,
        QStringLiteral(" Using the Pixquill is quite easy. Follow the circled numbers on the main screen:"),
        cr + cr,
        QStringLiteral(" 1) - Select the source folder which contains the images from which you wish to make "
                       "thumbnail images, as well as the destination folder in which you want the new thumbnail "
                       "images to be created. You may also select a file mask if needed. 27 different input file "
                       "formats are supported."),
        cr + cr,
        QStringLiteral(" 2) - Here you can select such options as Thumbnail Resize Mode, Thumbnail dimensions, "
                       "Output File Format, and an optional prefix for the thumbnail file(s). In most cases, these "
                       "options can remain at default settings. Resize mode settings are self-explanatory, as are "
                       "Output Format and Width/Height settings. The Output File Prefix box allows you to set a "
                       "unique prefix in the output file name(s) so that they will not conflict with nor replace "
                       "other files. You may also choose from 6 different industry-standard resample filters in "
                       "order to achieve the best image quality."),
        cr + cr,
        QStringLiteral(" 3) - Here you can select and preview the image files you wish to convert into thumbnail "
                       "images. Multiple selections can be made by holding down the <CTRL> key, and selecting the "
                       "desired files with the mouse. For a full-size preview of the selected image, DblClick on "
                       "the preview image."),
        cr + cr,
        QStringLiteral(" 4) - Start or Stop the creation of thumbnail images."),
        cr + cr,
        QStringLiteral(" -----------------------------------------------------------------------"),
        cr + cr,
        QStringLiteral(" This program utilizes portions of the Freeimage Image library. For more information, "
                       "visit https://freeimage.sourceforge.io."),
    };
    return pieces.join(QString());
}

TEST(fAboutHelpText, EqualsItsPieces)
{
    EXPECT_EQ(fAbout::HelpText(), ExpectedHelpText());
}

TEST(fAboutHelpText, StartsWithFourBreaksAndUsesCarriageReturnsOnly)
{
    const QString text = fAbout::HelpText();
    EXPECT_TRUE(text.startsWith(QString(4, QChar(13)) + QLatin1Char(' ')));
    EXPECT_FALSE(text.contains(QChar(10)));
    // The rule is a blank and exactly 71 hyphens between two blank lines.
    const QString rule = QString(2, QChar(13)) + QLatin1Char(' ') + QString(71, QLatin1Char('-'))
        + QString(2, QChar(13));
    EXPECT_TRUE(text.contains(rule));
    EXPECT_FALSE(text.contains(QString(72, QLatin1Char('-'))));
}

class fAboutWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_owner = new QWidget(nullptr, Qt::Window);
        m_owner->setGeometry(100, 80, 713, 449);
        m_owner->show();
        m_about = new fAbout(m_owner);
        m_about->show();
    }
    void TearDown() override { delete m_owner; }

    QWidget* m_owner = nullptr;
    QPointer<fAbout> m_about;
};

TEST_F(fAboutWindow, FixedInnerSizeCaptionAndIcon)
{
    EXPECT_EQ(m_about->size(), QSize(553, 487));
    EXPECT_EQ(m_about->minimumSize(), m_about->maximumSize());
    EXPECT_EQ(m_about->windowTitle(), QStringLiteral("Pixquill"));
    EXPECT_FALSE(m_about->windowIcon().isNull());
    EXPECT_TRUE(m_about->isWindow());
    EXPECT_EQ(m_about->parentWidget(), m_owner);
    EXPECT_FALSE(m_about->windowFlags() & Qt::WindowMinMaxButtonsHint);
}

struct OwnerPlace {
    QRect Geometry;
};

void PrintTo(const OwnerPlace& place, std::ostream* os)
{
    *os << place.Geometry.x() << "," << place.Geometry.y() << " " << place.Geometry.width() << "x"
        << place.Geometry.height();
}

class fAboutCentring : public ::testing::TestWithParam<OwnerPlace> {};

TEST_P(fAboutCentring, OpensCentredOverItsOwner)
{
    QWidget owner(nullptr, Qt::Window);
    owner.setGeometry(GetParam().Geometry);
    owner.show();
    auto* about = new fAbout(&owner);
    about->show();
    const QPoint delta = about->frameGeometry().center() - owner.frameGeometry().center();
    EXPECT_LE(std::abs(delta.x()), 1) << delta.x();
    EXPECT_LE(std::abs(delta.y()), 1) << delta.y();
}

INSTANTIATE_TEST_SUITE_P(Places, fAboutCentring,
                         ::testing::Values(OwnerPlace{QRect(283, 287, 713, 449)},
                                           OwnerPlace{QRect(0, 0, 713, 449)},
                                           OwnerPlace{QRect(40, 500, 300, 200)}));

TEST_F(fAboutWindow, LogoCentredWithGradientAndTitle)
{
    SurfaceWidget* logo = m_about->picLogo();
    // 276.5 - 111.5: centred exactly.
    EXPECT_EQ(logo->geometry(), QRect(165, 9, 223, 56));
    const QImage& image = logo->surface().Image();
    ASSERT_EQ(image.size(), QSize(219, 52));
    // Rows away from the title keep their one pure blue, 9 at the top to 250
    // at the bottom.
    EXPECT_EQ(image.pixelColor(2, 0), QColor(0, 0, 9));
    EXPECT_EQ(image.pixelColor(200, 51), QColor(0, 0, 250));
    for (int y = 1; y < 52; ++y) {
        const QColor above = image.pixelColor(215, y - 1);
        const QColor here = image.pixelColor(215, y);
        EXPECT_EQ(here.red(), 0);
        EXPECT_EQ(here.green(), 0);
        EXPECT_GE(here.blue(), above.blue()) << "row " << y;
    }
    // The title is drawn in silver from (10, 10): nothing above or left of it.
    int silver = 0;
    for (int y = 0; y < 52; ++y) {
        for (int x = 0; x < 219; ++x) {
            if (image.pixelColor(x, y) == QColor(0xC0, 0xC0, 0xC0)) {
                ++silver;
                EXPECT_GE(x, 10);
                EXPECT_GE(y, 10);
            }
        }
    }
    EXPECT_GT(silver, 20);
}

TEST_F(fAboutWindow, HeadingAndHelpLabel)
{
    QLabel* header = m_about->lblHeader();
    EXPECT_EQ(header->geometry(), QRect(12, 79, 287, 37));
    EXPECT_EQ(header->text(), QStringLiteral("Using Pixquill:"));
    EXPECT_TRUE(header->font().bold());
    EXPECT_TRUE(header->font().underline());
    EXPECT_DOUBLE_EQ(header->font().pointSizeF(), 9.75);

    QLabel* help = m_about->lblAbout();
    EXPECT_EQ(help->geometry(), QRect(10, 77, 532, 353));
    EXPECT_TRUE(help->wordWrap());
    QString shown = fAbout::HelpText();
    shown.replace(QChar(13), QChar(10));
    EXPECT_EQ(help->text(), shown);
    EXPECT_EQ(help->palette().color(QPalette::Window), QColor(128, 160, 192));

    // The heading lies over the help label and is drawn above it.
    const QObjectList& kids = m_about->children();
    EXPECT_GT(kids.indexOf(header), kids.indexOf(help));
}

TEST_F(fAboutWindow, VisitButtonCentredAndOpensTheAboutPage)
{
    QToolButton* visit = m_about->cmdVisit();
    EXPECT_EQ(visit->text(), QStringLiteral("Visit Zorvex"));
    EXPECT_EQ(visit->y(), 434);
    EXPECT_EQ(visit->size(), QSize(290, 48));
    // 553 / 2 - 290 / 2 = 131.5, a half going to the even neighbour.
    EXPECT_EQ(visit->x(), 132);
    EXPECT_EQ(visit->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    EXPECT_FALSE(visit->icon().isNull());

    UrlRecorder recorder;
    QTest::mouseClick(visit, Qt::LeftButton);
    EXPECT_EQ(recorder.Opened(), QList<QUrl>{QUrl(QStringLiteral("https://zorvex.example/1"))});
    EXPECT_TRUE(m_about->isVisible());
}

TEST_F(fAboutWindow, ClosingDestroysTheWindow)
{
    m_about->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(m_about.isNull());
}

} // namespace
} // namespace pixquill
