#include "engine/OutputSizes.h"

#include <QRegularExpression>
#include <QSet>

#include "engine/OptionTables.h"

namespace pixquill {

namespace {

const QRegularExpression& BoxPattern()
{
    static const QRegularExpression pattern(QStringLiteral("^([^x]+)x([^x]+)$"),
                                            QRegularExpression::CaseInsensitiveOption);
    return pattern;
}

} // namespace

std::vector<OutputSize> OutputSizesOf(const JobSettings& settings)
{
    std::vector<OutputSize> sizes;
    for (const QString& box : settings.Sizes.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = BoxPattern().match(box);
        const QString width = match.hasMatch() ? match.captured(1) : box;
        sizes.push_back({width, match.captured(2), QLatin1Char('-') + width, box});
    }
    if (sizes.empty())
        sizes.push_back({settings.WidthText, settings.HeightText, {}, {}});
    return sizes;
}

JobSettings SettingsForSize(const JobSettings& settings, const OutputSize& size)
{
    JobSettings one = settings;
    one.WidthText = size.WidthText;
    one.HeightText = size.HeightText;
    one.Sizes.clear();
    return one;
}

ImageNames NamesForSize(const ImageNames& names, const OutputSize& size)
{
    if (size.Suffix.isEmpty())
        return names;
    // The extension is the format's, always after the name's last dot; a
    // name without a format has none.
    const qsizetype slash = names.OutputPath.lastIndexOf(QLatin1Char('/'));
    qsizetype dot = names.OutputPath.lastIndexOf(QLatin1Char('.'));
    if (dot <= slash)
        dot = names.OutputPath.size();
    ImageNames sized = names;
    sized.OutputPath.insert(dot, size.Suffix);
    return sized;
}

Outcome<QString> ReadSizeList(const QStringList& boxes)
{
    QStringList list;
    QSet<std::int32_t> widths;
    for (const QString& box : boxes) {
        const QRegularExpressionMatch match = BoxPattern().match(box.trimmed());
        if (!match.hasMatch())
            return Failure{QStringLiteral("\"%1\" is not WIDTHxHEIGHT").arg(box)};
        const Outcome<std::int32_t> width = ReadNumberSetting(match.captured(1));
        const Outcome<std::int32_t> height = ReadNumberSetting(match.captured(2));
        if (!width || !height)
            return Failure{QStringLiteral("\"%1\": %2").arg(box, (!width ? width : height).Reason())};
        if (widths.contains(*width))
            return Failure{QStringLiteral("\"%1\": two boxes %2 pixels wide would share their file names")
                               .arg(box)
                               .arg(*width)};
        widths.insert(*width);
        list.append(match.captured(1) + QLatin1Char('x') + match.captured(2));
    }
    return list.join(QLatin1Char(' '));
}

} // namespace pixquill
