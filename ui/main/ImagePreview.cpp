#include "ImagePreview.h"

#include "codec/Rounding.h"
#include "codec/Surface.h"
#include "ui/display/mScaleImage.h"
#include "ui/widgets/SurfaceWidget.h"

namespace pixquill {

namespace {

QString WithSignPosition(int number)
{
    return number < 0 ? QString::number(number) : QLatin1Char(' ') + QString::number(number);
}

} // namespace

QString FileSizeCaption(qint64 bytes, const QLocale& locale)
{
    QLocale grouped = locale;
    grouped.setNumberOptions(grouped.numberOptions() & ~QLocale::OmitGroupSeparator);
    const double kilobytes = static_cast<double>(bytes) / 1024.0;
    return grouped.toString(static_cast<qlonglong>(RoundHalfEven(kilobytes))) + QStringLiteral(" KB");
}

QString DimensionsCaption(int width, int height)
{
    return WithSignPosition(width) + QLatin1Char('x') + WithSignPosition(height);
}

PreviewTexts ShowLoadedPreview(LoadedPreview loaded, Surface& picLoad, SurfaceWidget& preview)
{
    PreviewTexts texts;
    texts.FileSize = FileSizeCaption(loaded.FileBytes);
    preview.SetOverlay(QImage(), QPoint());
    if (!loaded.Loaded.ok || !picLoad.AdoptImage(std::move(loaded.Picture))) {
        preview.surface().Cls();
        preview.surface().Refresh();
        texts.Dimensions = QStringLiteral("Cannot read");
        texts.Reason = loaded.Loaded.ok ? QStringLiteral("not a picture") : loaded.Loaded.error;
        return texts;
    }
    picLoad.SetPictureFromImage();
    Surface& box = preview.surface();
    if (!loaded.Fitted.isNull() && loaded.Fitted.size() == box.Image().size()
        && loaded.Fitted.format() == box.Image().format()) {
        box.Image() = loaded.Fitted;
        box.Refresh();
    } else {
        FitImageToBox(picLoad, preview, 0, -1);
    }
    if (!loaded.Sharp.isNull())
        preview.SetOverlay(loaded.Sharp, loaded.SharpAt);
    const QSize dimensions = loaded.Dimensions.isEmpty() ? QSize(picLoad.Width(), picLoad.Height()) : loaded.Dimensions;
    texts.Dimensions = DimensionsCaption(dimensions.width(), dimensions.height());
    texts.Decoded = true;
    return texts;
}

std::optional<PreviewTexts> ShowEarlyPreview(const LoadedPreview& loaded, SurfaceWidget& preview)
{
    Surface& box = preview.surface();
    if (loaded.Fitted.isNull() || loaded.Fitted.size() != box.Image().size()
        || loaded.Fitted.format() != box.Image().format())
        return std::nullopt;
    box.Image() = loaded.Fitted;
    box.Refresh();
    preview.SetOverlay(loaded.Sharp, loaded.SharpAt);
    PreviewTexts texts;
    texts.FileSize = FileSizeCaption(loaded.FileBytes);
    texts.Dimensions = DimensionsCaption(loaded.Dimensions.width(), loaded.Dimensions.height());
    texts.Decoded = true;
    return texts;
}

} // namespace pixquill
