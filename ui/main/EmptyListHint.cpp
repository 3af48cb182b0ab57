#include "EmptyListHint.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include <QHash>

namespace pixquill {

namespace {

struct KindName {
    const char* Extension; // case-folded
    const char* Name;
};

// Kinds known by another name than their extension in capitals.
constexpr KindName kKindNames[] = {
    {"jpg", "JPEG"},  {"jpeg", "JPEG"},  {"jpe", "JPEG"},    {"jif", "JPEG"}, {"jfif", "JPEG"},
    {"tif", "TIFF"},  {"tiff", "TIFF"},  {"heif", "HEIF"},   {"hif", "HEIF"}, {"jxl", "JPEG XL"},
    {"webp", "WebP"},
};

constexpr int kMostKinds = 3;

// Files that a mask matches all or none of: one name standing for Count.
struct Sample {
    QString Name;
    int Count;
};

// "IMG_1.HEIC" is a HEIC; a name without a dot is its own kind.
QString KindOf(const QString& name)
{
    const QString extension = name.mid(name.lastIndexOf(QLatin1Char('.')) + 1).toCaseFolded();
    for (const KindName& kind : kKindNames) {
        if (extension == QLatin1String(kind.Extension))
            return QString::fromLatin1(kind.Name);
    }
    return extension.toUpper();
}

// Whether the mask is made of "*.ext" patterns alone (no dot or wildcard in
// ext), which match a name by what follows its last dot and nothing else.
bool MatchesByExtension(QLatin1String mask)
{
    for (QLatin1String raw : mask.tokenize(QLatin1Char(';'))) {
        const QLatin1String pattern = raw.trimmed();
        if (pattern.isEmpty())
            continue;
        if (!pattern.startsWith(QLatin1String("*.")) || pattern.size() == 2)
            return false;
        const QLatin1String extension = pattern.sliced(2);
        if (extension.contains(QLatin1Char('.')) || extension.contains(QLatin1Char('*'))
            || extension.contains(QLatin1Char('?')))
            return false;
    }
    return true;
}

// One sample per case-folded extension when every entry of the list but
// "All Files" matches by extension, so that 100,000 files cost a pass over
// their names and a few dozen samples per mask; else every file on its own.
std::vector<Sample> SamplesOf(const QStringList& files)
{
    std::vector<Sample> samples;
    bool byExtension = true;
    for (int index = 0; index < kFileMaskCount; ++index) {
        if (index != kFileMaskAllFiles)
            byExtension = byExtension && MatchesByExtension(QLatin1String(FileMasks()[std::size_t(index)].Mask));
    }
    if (!byExtension) {
        samples.reserve(std::size_t(files.size()));
        for (const QString& name : files)
            samples.push_back({name, 1});
        return samples;
    }
    QHash<QString, std::size_t> groups;
    for (const QString& name : files) {
        // Dot-less names, and names ending in a dot, share the group that
        // no "*.ext" pattern matches.
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        const QString extension = dot < 0 ? QString() : name.sliced(dot + 1).toCaseFolded();
        const auto found = groups.constFind(extension);
        if (found != groups.cend()) {
            ++samples[*found].Count;
        } else {
            groups.insert(extension, samples.size());
            samples.push_back({name, 1});
        }
    }
    return samples;
}

int CountShown(const std::vector<Sample>& samples, const CompiledMask& mask)
{
    int shown = 0;
    for (const Sample& sample : samples) {
        if (mask.Matches(sample.Name))
            shown += sample.Count;
    }
    return shown;
}

// The entry of [first, last) that shows the most files, the first on a tie;
// none (-1) when none shows any.
int EntryShowingMost(const std::vector<Sample>& samples, int first, int last, int* shown)
{
    int best = -1;
    *shown = 0;
    for (int index = first; index < last; ++index) {
        const int count = CountShown(samples, CompiledMask(*FileMaskAt(index)));
        if (count > *shown) {
            best = index;
            *shown = count;
        }
    }
    return best;
}

// "HEIC, JPEG", the commonest first (then in list order), "…" after three.
QString KindsOf(const std::vector<Sample>& samples, const CompiledMask& mask)
{
    struct Tally {
        QString Kind;
        int Count;
    };
    std::vector<Tally> tallies;
    for (const Sample& sample : samples) {
        if (!mask.Matches(sample.Name))
            continue;
        const QString kind = KindOf(sample.Name);
        const auto found = std::find_if(tallies.begin(), tallies.end(), [&](const Tally& t) { return t.Kind == kind; });
        if (found == tallies.end())
            tallies.push_back({kind, sample.Count});
        else
            found->Count += sample.Count;
    }
    std::stable_sort(tallies.begin(), tallies.end(), [](const Tally& a, const Tally& b) { return a.Count > b.Count; });
    QStringList kinds;
    for (std::size_t i = 0; i < tallies.size() && i < kMostKinds; ++i)
        kinds.append(tallies[i].Kind);
    if (tallies.size() > kMostKinds)
        kinds.append(QStringLiteral("\u2026"));
    return kinds.join(QStringLiteral(", "));
}

} // namespace

QString MaskEntryName(const FileMaskEntry& entry)
{
    const QString text = QString::fromUtf8(entry.Text);
    const qsizetype bracket = text.indexOf(QLatin1Char('('));
    return (bracket < 0 ? text : text.left(bracket)).trimmed();
}

QString EmptyListHint(const QStringList& files, const QString& mask)
{
    // Ours first: they are where today's photos are found. "All Files" would
    // show any file at all, so it says nothing about images.
    const std::vector<Sample> samples = SamplesOf(files);
    int shown = 0;
    int entry = EntryShowingMost(samples, kFileMaskAllFiles + 1, kFileMaskCount, &shown);
    if (entry < 0)
        entry = EntryShowingMost(samples, 0, kFileMaskAllFiles, &shown);
    if (entry < 0)
        return QStringLiteral("No images in this folder");

    QString maskName = mask;
    for (const FileMaskEntry& candidate : FileMasks()) {
        if (mask == QLatin1String(candidate.Mask)) {
            maskName = MaskEntryName(candidate);
            break;
        }
    }
    const FileMaskEntry& showing = FileMasks()[static_cast<std::size_t>(entry)];
    return QStringLiteral("No file here matches %1 \u2014 %2 %3 %4 (%5)")
        .arg(maskName, QString::number(shown),
             shown == 1 ? QStringLiteral("photo matches") : QStringLiteral("photos match"), MaskEntryName(showing),
             KindsOf(samples, CompiledMask(QLatin1String(showing.Mask))));
}

} // namespace pixquill
