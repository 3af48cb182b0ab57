#include "engine/ProcessImage.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include "codec/ColourProfile.h"
#include "codec/KeptMetadata.h"
#include "codec/MFreeImage_2.h"
#include "codec/Surface.h"
#include "codec/VectorUnit.h"
#include "engine/AttentionCrop.h"
#include "engine/BatchRules.h"

namespace pixquill {

namespace {

bool ModeUsesWidth(int mode)
{
    return mode == kResizeMaintainAspect || mode == kResizeExact || mode == kResizePercent
        || mode == kResizeFill;
}

bool ModeUsesHeight(int mode)
{
    return mode == kResizeMaintainAspect || mode == kResizeExact || mode == kResizeFill;
}

} // namespace

ImageResult ProcessImage(const QString& name, const JobSettings& settings, Surface& picLoad,
                         Surface& picThumb, const QSet<QString>& listedNames, RenderOps& ops,
                         PendingRename* kept)
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

    if (const Outcome<> spared = CheckReplacesNoSource(names, settings, listedNames); !spared)
        return refuse(spared.Reason());

    // The previous image's drawing ran through Qt; decoding runs through
    // FreeImage and our own row copies.
    ClearUpperVectorState();
    // The decoder is told the thumbnail's size and may hand out a smaller
    // picture that serves as well; the thumbnail's size always comes from
    // the whole image's.
    ThumbnailRequest request;
    request.SizeFor = [&settings, w, h](int fullWidth, int fullHeight) {
        const auto width = static_cast<float>(fullWidth);
        const auto height = static_cast<float>(fullHeight);
        const ThumbnailSize size = ComputeThumbnailSize(settings.ResizeMode, {width, height, width, height}, w, h);
        return QSize(size.Width, size.Height);
    };
    request.ReducedScale = settings.FastDecode;
    request.ColourAfterReduction = true;
    const ThumbnailLoad loaded = LoadImageForThumbnail(names.SourcePath, picLoad, request);
    if (!loaded.ok)
        return refuse(loaded.error.isEmpty() ? QStringLiteral("cannot be read") : loaded.error);
    // The metadata that goes along, read once from the file just decoded.
    const MetadataRead metadata = ReadKeptMetadata(names.SourcePath, MetadataToKeep(settings.Keep), *format);
    // Filling the box: the middle (or with --crop attention the busiest
    // part) of the picture in the box's shape, then drawn at exactly the
    // box's size like "Specify Width & Height". A smaller picture from the
    // decoder is at least twice the box both ways, so its crop still is.
    const QSize whole = picLoad.Image().size();
    if (settings.ResizeMode == kResizeFill && w > 0 && h > 0) {
        const QRect crop = settings.Crop == kCropAttention ? AttentionCrop(picLoad.Image(), QSize(w, h))
                                                           : CentredCrop(whole, QSize(w, h));
        if (!picLoad.AdoptImage(picLoad.Image().copy(crop)))
            return refuse(QStringLiteral("out of memory"));
    }
    RenderResult rendered;
    if (loaded.Reduced) {
        const QSize size = request.SizeFor(loaded.FullWidth, loaded.FullHeight);
        rendered = DrawThumbnail(picLoad, picThumb, {size.width(), size.height()}, settings.ResampleFilter, ops);
        rendered.SourceWidth = loaded.FullWidth;
        rendered.SourceHeight = loaded.FullHeight;
    } else {
        rendered = RenderThumbnail(picLoad, picThumb, settings.ResizeMode, settings.ResampleFilter, w, h, ops);
        if (settings.ResizeMode == kResizeFill) {
            rendered.SourceWidth = whole.width();
            rendered.SourceHeight = whole.height();
        }
    }
    // An 8-bit picture was drawn in its file's colours: the thumbnail alone
    // is converted.
    if (rendered.Drawn)
        ConvertPictureToSrgb(picThumb.Image(), loaded.ColourProfile);
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
    const int status = SaveThumbnail(picThumb, names.OutputPath, *format, &saveReason,
                                     settings.Quality, kept, &metadata.Kept);
    if (status != kSaveWritten)
        return refuse(saveReason.isEmpty() ? QStringLiteral("could not be written (status %1)").arg(status)
                                           : saveReason);
    result.Written = true;
    result.Warning = metadata.Note;
    result.ThumbnailBytes = QFileInfo(kept ? kept->Temporary() : names.OutputPath).size();
    result.Milliseconds = clock.elapsed();
    return result;
}

ImageResult CommitImage(MadeImage made)
{
    ImageResult& result = made.Result;
    if (!result.Written || !made.Output.IsSet())
        return std::move(result);
    QString why;
    if (!made.Output.Commit(why)) {
        result.Written = false;
        result.Reason = why;
        result.ThumbnailBytes = -1;
    }
    return std::move(result);
}

} // namespace pixquill
