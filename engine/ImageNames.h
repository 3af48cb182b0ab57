#pragma once

// How an image's source path and output name are built from the settings.

#include <QString>

#include "engine/JobSettings.h"

namespace pixquill {

// The part of a file name before its first "."; the whole name when it has
// none ("a.b.jpg" gives "a", "README" gives "README").
QString BaseNameOf(const QString& name);

struct ImageNames {
    QString SourcePath; // source folder, separator, name
    QString OutputPath; // destination folder, separator, name's folders, prefix, base name, extension
};

// The paths of an image under the given settings. A name from a folder tree
// ("2024/05/a.jpg") keeps its folders below the destination
// ("DEST/2024/05/_THa.jpg"); prefix and base name belong to the file's own
// name. With no output format selected the output name has no extension.
ImageNames BuildImageNames(const QString& name, const JobSettings& settings);

} // namespace pixquill
