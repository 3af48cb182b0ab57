#include "engine/ImageNames.h"

namespace pixquill {

QString BaseNameOf(const QString& name)
{
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    return dot < 0 ? name : name.left(dot);
}

ImageNames BuildImageNames(const QString& name, const JobSettings& settings)
{
    const qsizetype folderEnd = name.lastIndexOf(QLatin1Char('/')) + 1;
    return {FolderWithSeparator(settings.SourceFolder) + name,
            FolderWithSeparator(settings.DestinationFolder) + name.left(folderEnd) + TrimSetting(settings.Prefix)
                + BaseNameOf(name.mid(folderEnd)) + OutputExtensionAt(settings.OutputFormat)};
}

} // namespace pixquill
