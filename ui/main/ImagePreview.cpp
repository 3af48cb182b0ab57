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

PreviewTexts ShowLoadedPreview(qint64 fileBytes, const LoadResult& loaded, QImage picture, Surface& picLoad,
                               SurfaceWidget& preview)
{
    PreviewTexts texts;
    texts.FileSize = FileSizeCaption(fileBytes);
    if (!loaded.ok || !picLoad.AdoptImage(std::move(picture))) {
        preview.surface().Cls();
        preview.surface().Refresh();
        texts.Dimensions = QStringLiteral("Cannot read");
        texts.Reason = loaded.ok ? QStringLiteral("not a picture") : loaded.error;
        return texts;
    }
    picLoad.SetPictureFromImage();
    FitImageToBox(picLoad, preview, 0, -1);
    texts.Dimensions = DimensionsCaption(picLoad.Width(), picLoad.Height());
    texts.Decoded = true;
    return texts;
}

} // namespace pixquill
