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
#include "engine/OutputSizes.h"

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

namespace {

// One box of an image still to be made, and its result so far.
struct SizeInHand {
    OutputSize Size;
    ImageNames Names;
    ImageResult Result;
    std::int32_t Width = 0; // the box's sides the resize mode reads; 0 where it reads none
    std::int32_t Height = 0;
    bool Refused = false;
};

} // namespace

std::vector<ImageResult> ProcessImageSizes(const QString& name, const JobSettings& settings, Surface& picLoad,
                                           Surface& picThumb, const QSet<QString>& listedNames, RenderOps& ops,
                                           std::vector<PendingRename>* kept)
{
    QElapsedTimer clock;
    clock.start();
    const ImageNames names = BuildImageNames(name, settings);
    qint64 sourceBytes = -1;
    if (const QFileInfo source(names.SourcePath); source.isFile())
        sourceBytes = source.size();
    std::vector<SizeInHand> sizes;
    for (const OutputSize& size : OutputSizesOf(settings)) {
        SizeInHand one{size, NamesForSize(names, size), {}};
        one.Result = ImageResult{name, one.Names.OutputPath, false, {}};
        one.Result.Size = size.Box;
        one.Result.SourceBytes = sourceBytes;
        sizes.push_back(std::move(one));
    }
    if (kept) {
        kept->clear();
        kept->resize(sizes.size());
    }
    const auto refuse = [&clock](SizeInHand& size, const QString& reason) {
        size.Result.Reason = reason;
        size.Result.Milliseconds = clock.elapsed();
        size.Refused = true;
    };
    const auto refuseAll = [&](const QString& reason) {
        std::vector<ImageResult> results;
        for (SizeInHand& size : sizes) {
            if (!size.Refused)
                refuse(size, reason);
            results.push_back(std::move(size.Result));
        }
        return results;
    };

    if (TrimSetting(settings.DestinationFolder).isEmpty())
        return refuseAll(QStringLiteral("no destination folder"));
    const auto format = OutputFormatAt(settings.OutputFormat);
    if (!format)
        return refuseAll(QStringLiteral("no output format selected"));

    // Only the sizes the mode reads are checked: a disabled box the mode
    // ignores must not block the run.
    bool anyLeft = false;
    for (SizeInHand& size : sizes) {
        if (ModeUsesWidth(settings.ResizeMode)) {
            const Outcome<std::int32_t> width = ReadNumberSetting(size.Size.WidthText);
            if (!width) {
                refuse(size, QStringLiteral("width %1").arg(width.Reason()));
                continue;
            }
            size.Width = *width;
        }
        if (ModeUsesHeight(settings.ResizeMode)) {
            const Outcome<std::int32_t> height = ReadNumberSetting(size.Size.HeightText);
            if (!height) {
                refuse(size, QStringLiteral("height %1").arg(height.Reason()));
                continue;
            }
            size.Height = *height;
        }
        if (const Outcome<> spared = CheckReplacesNoSource(size.Names, settings, listedNames); !spared) {
            refuse(size, spared.Reason());
            continue;
        }
        anyLeft = true;
    }
    if (!anyLeft)
        return refuseAll({});

    // The previous image's drawing ran through Qt; decoding runs through
    // FreeImage and our own row copies.
    ClearUpperVectorState();
    // The decoder is told the thumbnail's size and may hand out a smaller
    // picture that serves as well; the thumbnail's size always comes from
    // the whole image's. With several boxes it is told the largest of their
    // thumbnails, and every box is drawn from that one picture.
    const auto sizeFor = [&settings](const SizeInHand& size, int fullWidth, int fullHeight) {
        const auto width = static_cast<float>(fullWidth);
        const auto height = static_cast<float>(fullHeight);
        const ThumbnailSize thumbnail = ComputeThumbnailSize(settings.ResizeMode, {width, height, width, height},
                                                             size.Width, size.Height);
        return QSize(thumbnail.Width, thumbnail.Height);
    };
    ThumbnailRequest request;
    request.SizeFor = [&sizes, &sizeFor](int fullWidth, int fullHeight) {
        QSize largest;
        for (const SizeInHand& size : sizes) {
            if (!size.Refused)
                largest = largest.expandedTo(sizeFor(size, fullWidth, fullHeight));
        }
        return largest;
    };
    request.ReducedScale = settings.FastDecode;
    request.ColourAfterReduction = true;
    const ThumbnailLoad loaded = LoadImageForThumbnail(names.SourcePath, picLoad, request);
    if (!loaded.ok)
        return refuseAll(loaded.error.isEmpty() ? QStringLiteral("cannot be read") : loaded.error);
    // The metadata that goes along, read once from the file just decoded
    // and written into every box's thumbnail.
    const MetadataRead metadata = ReadKeptMetadata(names.SourcePath, MetadataToKeep(settings.Keep), *format);
    // Each box is drawn from the picture as decoded; a crop replaces the
    // surface's picture, so the decoded one is kept aside (shared, not
    // copied) and put back for the next box.
    const QImage decoded = picLoad.Image();
    const QSize whole = decoded.size();
    bool first = true;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        SizeInHand& size = sizes[i];
        if (size.Refused)
            continue;
        if (!first && !picLoad.AdoptImage(decoded)) {
            refuse(size, QStringLiteral("out of memory"));
            continue;
        }
        first = false;
        const std::int32_t w = size.Width;
        const std::int32_t h = size.Height;
        // Filling the box: the middle (or with --crop attention the busiest
        // part) of the picture in the box's shape, then drawn at exactly the
        // box's size like "Specify Width & Height". A smaller picture from the
        // decoder is at least twice the box both ways, so its crop still is.
        if (settings.ResizeMode == kResizeFill && w > 0 && h > 0) {
            const QRect crop = settings.Crop == kCropAttention ? AttentionCrop(decoded, QSize(w, h))
                                                               : CentredCrop(whole, QSize(w, h));
            if (!picLoad.AdoptImage(decoded.copy(crop))) {
                refuse(size, QStringLiteral("out of memory"));
                continue;
            }
        }
        RenderResult rendered;
        if (loaded.Reduced) {
            const QSize thumbnail = sizeFor(size, loaded.FullWidth, loaded.FullHeight);
            rendered = DrawThumbnail(picLoad, picThumb, {thumbnail.width(), thumbnail.height()},
                                     settings.ResampleFilter, ops);
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
        ImageResult& result = size.Result;
        result.Warning = loaded.Warning;
        result.SourceWidth = rendered.SourceWidth;
        result.SourceHeight = rendered.SourceHeight;
        if (rendered.Size.Width < 1 || rendered.Size.Height < 1) {
            refuse(size, QStringLiteral("thumbnail would be %1 × %2 pixels")
                             .arg(rendered.Size.Width)
                             .arg(rendered.Size.Height));
            continue;
        }
        if (!rendered.Drawn) {
            refuse(size, settings.ResampleFilter < kFilterBox || settings.ResampleFilter > kFilterHalftone
                             ? QStringLiteral("unknown resample filter %1").arg(settings.ResampleFilter)
                             : QStringLiteral("the thumbnail could not be drawn"));
            continue;
        }
        result.ThumbnailWidth = rendered.Size.Width;
        result.ThumbnailHeight = rendered.Size.Height;

        QString saveReason;
        ClearUpperVectorState();
        PendingRename* keptHere = kept ? &(*kept)[i] : nullptr;
        const int status = SaveThumbnail(picThumb, size.Names.OutputPath, *format, &saveReason,
                                         settings.Quality, keptHere, &metadata.Kept);
        if (status != kSaveWritten) {
            refuse(size, saveReason.isEmpty() ? QStringLiteral("could not be written (status %1)").arg(status)
                                              : saveReason);
            continue;
        }
        result.Written = true;
        if (!metadata.Note.isEmpty()) {
            result.Warning = result.Warning.isEmpty() ? metadata.Note
                                                      : result.Warning + QStringLiteral("; ") + metadata.Note;
        }
        result.ThumbnailBytes = QFileInfo(keptHere ? keptHere->Temporary() : size.Names.OutputPath).size();
        result.Milliseconds = clock.elapsed();
    }
    std::vector<ImageResult> results;
    for (SizeInHand& size : sizes)
        results.push_back(std::move(size.Result));
    return results;
}

ImageResult ProcessImage(const QString& name, const JobSettings& settings, Surface& picLoad, Surface& picThumb,
                         const QSet<QString>& listedNames, RenderOps& ops, PendingRename* kept)
{
    std::vector<PendingRename> outputs;
    std::vector<ImageResult> results = ProcessImageSizes(name, settings, picLoad, picThumb, listedNames, ops,
                                                         kept ? &outputs : nullptr);
    if (kept)
        *kept = std::move(outputs.front());
    return std::move(results.front());
}

MadeImage MakeImage(const QString& name, const JobSettings& settings, Surface& picLoad, Surface& picThumb,
                    const QSet<QString>& listedNames, RenderOps& ops)
{
    std::vector<PendingRename> outputs;
    std::vector<ImageResult> results = ProcessImageSizes(name, settings, picLoad, picThumb, listedNames, ops,
                                                         &outputs);
    return GatherSizes(std::move(results), std::move(outputs));
}

MadeImage GatherSizes(std::vector<ImageResult> results, std::vector<PendingRename> outputs)
{
    outputs.resize(results.size());
    MadeImage made{std::move(results.front()), std::move(outputs.front()), {}};
    for (std::size_t i = 1; i < results.size(); ++i)
        made.OtherSizes.push_back(MadeImage{std::move(results[i]), std::move(outputs[i]), {}});
    return made;
}

std::vector<ImageResult> CommitImage(MadeImage made)
{
    std::vector<ImageResult> results;
    const auto commit = [&results](ImageResult& result, PendingRename& output) {
        QString why;
        if (result.Written && output.IsSet() && !output.Commit(why)) {
            result.Written = false;
            result.Reason = why;
            result.ThumbnailBytes = -1;
        }
        results.push_back(std::move(result));
    };
    commit(made.Result, made.Output);
    for (MadeImage& size : made.OtherSizes)
        commit(size.Result, size.Output);
    return results;
}

} // namespace pixquill
