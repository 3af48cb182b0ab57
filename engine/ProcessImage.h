#pragma once

// One image of a batch: its source path and output name, and the work of
// loading, rendering and saving it with the caller's own surfaces.

#include <cstdint>
#include <vector>

#include <QSet>
#include <QString>
#include <QStringList>

#include "codec/AtomicSave.h"
#include "engine/ImageNames.h"
#include "engine/JobSettings.h"
#include "engine/RenderThumbnail.h"

namespace pixquill {

class Surface;

// What became of one image. A decode worker sends every field back
// (WorkerProtocol).
struct ImageResult {
    QString Name;       // file name without folder, as listed
    QString OutputPath; // the output name built for it
    bool Written = false;
    QString Reason;     // why it was not written; empty when written
    // One line about an image that was written all the same (a library's
    // warning on damaged data, metadata left out); empty when none.
    QString Warning = {};
    // Not written because its thumbnail is already newer than its source
    // (the command line's --newer); Reason then says so. Not a failure.
    bool UpToDate = false;
    // The run was ended at once while this image was in hand: it was not
    // handled at all, and nothing of it was left on disk.
    bool Interrupted = false;
    // The figures of the image, where they are known: -1 bytes and 0 pixels
    // where not (a source that cannot be read has no size; an image not
    // rendered has no thumbnail). The source size is the image's upright
    // size as a full decode gives it.
    qint64 SourceBytes = -1;
    std::int32_t SourceWidth = 0;
    std::int32_t SourceHeight = 0;
    std::int32_t ThumbnailWidth = 0;
    std::int32_t ThumbnailHeight = 0;
    qint64 ThumbnailBytes = -1; // of the file written
    qint64 Milliseconds = 0;    // spent on it, from the name to the result
    // The box of this thumbnail ("320x320") when the job makes several
    // (JobSettings::Sizes); empty when it makes one.
    QString Size = {};
    // Images of a run whose thumbnails have the same name (a.heic, a.JPG and
    // a.jpg give _THa.jpg), made one after the other, leave one file: the
    // last written. The run (not the image's maker) marks each of them with
    // the image it shows; those it does not show are then not written, and
    // the shown one lists every image that wrote it, itself included.
    QString ShownBy = {};
    QStringList SharedBy = {};

    friend bool operator==(const ImageResult&, const ImageResult&) = default;
};

// An image made and not yet put in place: Written in its result means its
// file is complete under a temporary name, which Output renames over the
// output at the image's turn (CommitImage) or removes when dropped.
struct MadeImage {
    ImageResult Result;
    PendingRename Output;
    // A job of several boxes (JobSettings::Sizes): the first box's thumbnail
    // above, the others' here in the boxes' order.
    std::vector<MadeImage> OtherSizes;
};

// Puts a made image's files in place and gives their final results, one per
// box: unwritten, with the rename's reason, where a rename fails.
std::vector<ImageResult> CommitImage(MadeImage made);

// Results and kept files, one of each per box, as one MadeImage.
MadeImage GatherSizes(std::vector<ImageResult> results, std::vector<PendingRename> outputs);

// Loads the image into picLoad, renders it into picThumb and saves it.
// Nothing is written (and the reason says why) when: there is no destination
// folder or output format; a size the resize mode uses is not a number; the
// output would replace the image's own source file or another file of the
// batch (listedNames, in the source folder); the image cannot be loaded (the
// previous image is never rendered in its place); a thumbnail side comes out
// below 1; or the save fails. Touches only the surfaces passed in, so workers
// with surfaces of their own can run it in parallel. Given `kept`, the file is
// written under its temporary name and left there, in *kept, unrenamed.
//
// A job of several boxes (JobSettings::Sizes) decodes the image once, for the
// largest of their thumbnails, and draws each box's thumbnail from that
// picture; ProcessImageSizes gives a result per box, in the boxes' order (a
// reason that stops the image stops every box), ProcessImage the first's.
ImageResult ProcessImage(const QString& name, const JobSettings& settings, Surface& picLoad,
                         Surface& picThumb, const QSet<QString>& listedNames = {},
                         RenderOps& ops = RenderOps::Default(), PendingRename* kept = nullptr);
std::vector<ImageResult> ProcessImageSizes(const QString& name, const JobSettings& settings, Surface& picLoad,
                                           Surface& picThumb, const QSet<QString>& listedNames, RenderOps& ops,
                                           std::vector<PendingRename>* kept);

// Every box's thumbnail made and kept under its temporary name.
MadeImage MakeImage(const QString& name, const JobSettings& settings, Surface& picLoad, Surface& picThumb,
                    const QSet<QString>& listedNames, RenderOps& ops);

} // namespace pixquill
