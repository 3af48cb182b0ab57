#include "ImagePreview.h"

#include <QFileInfo>

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

PreviewTexts ShowPreview(const QString& path, Surface& picLoad, SurfaceWidget& preview,
                         const ImageLoader& load)
{
    PreviewTexts texts;
    // A length from the directory entry: a FIFO or a device is never opened here.
    const QFileInfo info(path);
    texts.FileSize = FileSizeCaption(info.isFile() ? info.size() : 0);

    const LoadResult loaded = load(path, picLoad);
    if (!loaded.ok) {
        preview.surface().Cls();
        preview.surface().Refresh();
        texts.Dimensions = QStringLiteral("Cannot read");
        texts.Reason = loaded.error;
        return texts;
    }
    picLoad.SetPictureFromImage();
    FitImageToBox(picLoad, preview, 0, -1);
    texts.Dimensions = DimensionsCaption(picLoad.Width(), picLoad.Height());
    texts.Decoded = true;
    return texts;
}

} // namespace pixquill
