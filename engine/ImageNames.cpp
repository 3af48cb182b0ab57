#include "engine/ImageNames.h"

namespace pixquill {

QString BaseNameOf(const QString& name)
{
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    return dot < 0 ? name : name.left(dot);
}

ImageNames BuildImageNames(const QString& name, const JobSettings& settings)
{
    return {FolderWithSeparator(settings.SourceFolder) + name,
            FolderWithSeparator(settings.DestinationFolder) + TrimSetting(settings.Prefix)
                + BaseNameOf(name) + OutputExtensionAt(settings.OutputFormat)};
}

} // namespace pixquill
