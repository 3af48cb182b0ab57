#pragma once

// One image of a batch: its source path and output name, and the work of
// loading, rendering and saving it with the caller's own surfaces.

#include <QSet>
#include <QString>

#include "engine/ImageNames.h"
#include "engine/JobSettings.h"
#include "engine/RenderThumbnail.h"

namespace pixquill {

class Surface;

// What became of one image.
struct ImageResult {
    QString Name;       // file name without folder, as listed
    QString OutputPath; // the output name built for it
    bool Written = false;
    QString Reason;     // why it was not written; empty when written
};

// Loads the image into picLoad, renders it into picThumb and saves it.
// Nothing is written (and the reason says why) when: there is no destination
// folder or output format; a size the resize mode uses is not a number; the
// output would replace the image's own source file or another file of the
// batch (listedNames, in the source folder); the image cannot be loaded (the
// previous image is never rendered in its place); a thumbnail side comes out
// below 1; or the save fails. Touches only the surfaces passed in, so workers
// with surfaces of their own can run it in parallel.
ImageResult ProcessImage(const QString& name, const JobSettings& settings, Surface& picLoad,
                         Surface& picThumb, const QSet<QString>& listedNames = {},
                         RenderOps& ops = RenderOps::Default());

} // namespace pixquill
