#include "engine/ProcessImage.h"

#include <optional>

#include <QElapsedTimer>
#include <QFileInfo>

#include "codec/MFreeImage_2.h"
#include "codec/Surface.h"
#include "codec/VectorUnit.h"
#include "engine/BatchRules.h"
#include "engine/FastDecode.h"

namespace pixquill {

namespace {

bool ModeUsesWidth(int mode)
{
    return mode == kResizeMaintainAspect || mode == kResizeExact || mode == kResizePercent;
}

bool ModeUsesHeight(int mode)
{
    return mode == kResizeMaintainAspect || mode == kResizeExact;
}

} // namespace

ImageResult ProcessImage(const QString& name, const JobSettings& settings, Surface& picLoad,
                         Surface& picThumb, const QSet<QString>& listedNames, RenderOps& ops)
{
    QElapsedTimer clock;
    clock.start();
    const ImageNames names = BuildImageNames(name, settings);
    ImageResult result{name, names.OutputPath, false, {}};
    if (const QFileInfo source(names.SourcePath); source.isFile())
        result.SourceBytes = source.size();
    auto refuse = [&result, &clock](QString reason) {
        result.Reason = std::move(reason);
        result.Milliseconds = clock.elapsed();
        return result;
    };

    if (TrimSetting(settings.DestinationFolder).isEmpty())
        return refuse(QStringLiteral("no destination folder"));
    const auto format = OutputFormatAt(settings.OutputFormat);
    if (!format)
        return refuse(QStringLiteral("no output format selected"));

    // Only the sizes the mode reads are checked: a disabled box the mode
    // ignores must not block the run.
    std::int32_t w = 0;
    std::int32_t h = 0;
    if (ModeUsesWidth(settings.ResizeMode)) {
        const Outcome<std::int32_t> width = ReadNumberSetting(settings.WidthText);
        if (!width)
            return refuse(QStringLiteral("width %1").arg(width.Reason()));
        w = *width;
    }
    if (ModeUsesHeight(settings.ResizeMode)) {
        const Outcome<std::int32_t> height = ReadNumberSetting(settings.HeightText);
        if (!height)
            return refuse(QStringLiteral("height %1").arg(height.Reason()));
        h = *height;
    }

    if (const Outcome<> kept = CheckReplacesNoSource(names, settings, listedNames); !kept)
        return refuse(kept.Reason());

    // The previous image's drawing ran through Qt; decoding runs through
    // FreeImage and our own row copies.
    ClearUpperVectorState();
    std::optional<RenderResult> fast;
    if (settings.FastDecode)
        fast = RenderFromReducedDecode(names.SourcePath, settings.ResizeMode, settings.ResampleFilter, w, h,
                                     picLoad, picThumb, ops);
    RenderResult rendered;
    if (fast) {
        rendered = *fast;
    } else {
        const LoadResult loaded = LoadImageToSurface(names.SourcePath, picLoad);
        if (!loaded.ok)
            return refuse(loaded.error.isEmpty() ? QStringLiteral("cannot be read") : loaded.error);
        rendered = RenderThumbnail(picLoad, picThumb, settings.ResizeMode, settings.ResampleFilter,
                                   w, h, ops);
    }
    result.SourceWidth = rendered.SourceWidth;
    result.SourceHeight = rendered.SourceHeight;
    if (rendered.Size.Width < 1 || rendered.Size.Height < 1)
        return refuse(QStringLiteral("thumbnail would be %1 × %2 pixels")
                          .arg(rendered.Size.Width)
                          .arg(rendered.Size.Height));
    if (!rendered.Drawn) {
        if (settings.ResampleFilter < kFilterBox || settings.ResampleFilter > kFilterHalftone)
            return refuse(QStringLiteral("unknown resample filter %1").arg(settings.ResampleFilter));
        return refuse(QStringLiteral("the thumbnail could not be drawn"));
    }

    result.ThumbnailWidth = rendered.Size.Width;
    result.ThumbnailHeight = rendered.Size.Height;

    QString saveReason;
    ClearUpperVectorState();
    const int status = SaveThumbnail(picThumb, names.OutputPath, format->FormatCode, &saveReason,
                                     settings.Quality);
    if (status != kSaveWritten)
        return refuse(saveReason.isEmpty() ? QStringLiteral("could not be written (status %1)").arg(status)
                                           : saveReason);
    result.Written = true;
    result.ThumbnailBytes = QFileInfo(names.OutputPath).size();
    result.Milliseconds = clock.elapsed();
    return result;
}

} // namespace pixquill
