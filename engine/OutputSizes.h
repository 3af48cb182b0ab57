#pragma once

// The boxes an image's thumbnails are made for. A job has one box, its width
// and height texts, unless it lists several (the command line's --size given
// more than once): then every box gets a thumbnail of its own, made from one
// decode, named with "-W" before the extension.

#include <vector>

#include <QString>
#include <QStringList>

#include "codec/Outcome.h"
#include "engine/ImageNames.h"
#include "engine/JobSettings.h"

namespace pixquill {

struct OutputSize {
    QString WidthText;
    QString HeightText;
    // Put before the output's extension: "-320"; empty for a job of one box.
    QString Suffix;
    // "320x320" for a box of a list; empty for a job of one box.
    QString Box;
};

// The job's boxes in the order given: its own width and height when it
// lists none.
std::vector<OutputSize> OutputSizesOf(const JobSettings& settings);

// The settings of one box: its width and height, no list.
JobSettings SettingsForSize(const JobSettings& settings, const OutputSize& size);

// The job's names with the box's output: "DEST/_THa-320.webp".
ImageNames NamesForSize(const ImageNames& names, const OutputSize& size);

// The list of boxes for JobSettings::Sizes from "WxH" texts: each side a
// number ReadNumberSetting takes, and no two boxes of the same width, which
// would share their file names. The reason names the text at fault.
Outcome<QString> ReadSizeList(const QStringList& boxes);

} // namespace pixquill
