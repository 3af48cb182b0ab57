#include "engine/OptionTables.h"

#include <algorithm>
#include <cmath>


#include "codec/Rounding.h"

namespace pixquill {

namespace {

constexpr std::array<FileMaskEntry, kFileMaskCount> kFileMasks{{
    {"All Supported Formats",
     "*.bmp;*.cur;*.dib;*.dds;*.emf;*.gif;*.ico;*.iff;*.jif;*.jng;*.jpg;*.koala;*.lbm;*.mng;"
     "*.pbm;*.pcd;*.pcx;*.pgm;*.png;*.ppm;*.psd;*.ras;*.rle;*.tga;*.tiff;*.wbmp;*.wmf;*.xbm;"
     "*.xpm"},
    {"Windows or OS2 BMP(*.bmp)", "*.bmp"},
    {"Cursors(*.cur)", "*.cur"},
    {"Windows DIB(*.dib)", "*.dib"},
    {"Microsoft DirectDraw Surface(*.dds)", "*.dds"},
    {"Windows Enhanced Metafile(*.emf)", "*.emf"},
    {"Compuserve GIF(*.gif)", "*.gif"},
    {"Icon Files(*.ico)", "*.ico"},
    {"JPEG Network Graphics(*.jng)", "*.jng"},
    {"JPEG - JFIF Compliant(*.jpg,*.jpeg,*.jif,*.jfif)", "*.jpg;*.jpeg;*.jif;*.jfif"},
    {"KOALA Files(*.koala,*.gg)", "*.koala;*.gg"},
    {"Deluxe Paint(*.lbm)", "*.lbm"},
    {"Multiple Network Graphics(*.mng)", "*.mng"},
    {"Portable Bitmap(*.pbm)", "*.pbm"},
    {"Kodak PhotoCD(*.pcd)", "*.pcd"},
    {"Zsoft Paintbrush(*.pcx)", "*.pcx"},
    {"Portable Greymap(*.pgm)", "*.pgm"},
    {"Portable Network Graphics(*.png)", "*.png"},
    {"Portable Pixmap(*.ppm)", "*.ppm"},
    {"Adobe Photoshop Document(*.psd)", "*.psd"},
    {"Sun Raster File(*.ras)", "*.ras"},
    {"Run-Length encoded Bitmap(*.rle)", "*.rle"},
    {"Truevision Targa(*.tga)", "*.tga"},
    {"Tagged Image File Format(*.tif,*.tiff)", "*.tif;*.tiff"},
    {"Wireless Bitmap(*.wbmp)", "*.wbmp"},
    {"Windows Meta File(*.wmf)", "*.wmf"},
    {"X11 Bitmap Format(*.xbm)", "*.xbm"},
    {"X PIxMap Format definition(*.xpm)", "*.xpm"},
    {"All Files(*.*)", "*.*"},
    // Ours, after the design's list.
    {"Today's Photos(*.heic,*.heif,*.avif,*.jxl,*.webp)", "*.heic;*.heif;*.hif;*.avif;*.jxl;*.webp"},
    {"All Readable Formats",
     "*.3fr;*.arw;*.avif;*.bmp;*.bw;*.cr2;*.cr3;*.crw;*.cur;*.dcr;*.dds;*.dib;*.dng;*.emf;*.erf;*.exr;"
     "*.fff;*.gg;*.gif;*.hdr;*.heic;*.heif;*.hif;*.ico;*.iff;*.iiq;*.j2c;*.j2k;*.jfif;*.jif;*.jng;*.jp2;"
     "*.jpeg;*.jpg;*.jxl;*.kdc;*.koala;*.lbm;*.mef;*.mng;*.mos;*.mrw;*.nef;*.nrw;*.orf;*.pbm;*.pcd;*.pct;"
     "*.pcx;*.pef;*.pfm;*.pgm;*.pic;*.pict;*.png;*.ppm;*.psd;*.raf;*.ras;*.rgb;*.rgba;*.rle;*.rw2;*.rwl;"
     "*.sgi;*.sr2;*.srf;*.srw;*.tga;*.tif;*.tiff;*.wbmp;*.webp;*.wmf;*.x3f;*.xbm;*.xpm"},
    {"Camera RAW(*.dng,*.cr2,*.cr3,*.nef,*.arw,*.raf,*.orf,*.rw2,*.pef,*.srw,*.x3f,...)",
     "*.dng;*.cr2;*.cr3;*.crw;*.nef;*.nrw;*.arw;*.srf;*.sr2;*.raf;*.orf;*.rw2;*.rwl;*.pef;*.srw;*.x3f;"
     "*.3fr;*.fff;*.erf;*.kdc;*.dcr;*.mef;*.mos;*.mrw;*.iiq"},
}};

using S = SizeControl;
using K = SizeStepKind;

constexpr SizeControlStep kMaintainAspectSteps[] = {
    {S::Labelhgt, K::Disable},
    {S::Texthgt, K::Disable},
    {S::Texthgt, K::FaceColour},
    {S::Textwid, K::Enable},
    {S::Textwid, K::WindowColour},
    {S::Label2, K::Enable},
    {S::Label2, K::SetCaption, "Width(Pixels):"},
};

constexpr SizeControlStep kNoResizeSteps[] = {
    {S::Texthgt, K::Disable},
    {S::Texthgt, K::FaceColour},
    {S::Textwid, K::Disable},
    {S::Textwid, K::FaceColour},
    {S::Labelhgt, K::Disable},
    {S::Label2, K::Disable},
    {S::Label2, K::SetCaption, "Width(Pixels):"},
};

constexpr SizeControlStep kExactSteps[] = {
    {S::Texthgt, K::Enable},
    {S::Texthgt, K::WindowColour},
    {S::Textwid, K::Enable},
    {S::Textwid, K::WindowColour},
    {S::Labelhgt, K::Enable},
    {S::Label2, K::Enable},
    {S::Label2, K::SetCaption, "Width(Pixels):"},
};

// The only mode that writes into a box: the percentage starts at 100, and
// that text stays when another mode is chosen afterwards.
constexpr SizeControlStep kPercentSteps[] = {
    {S::Texthgt, K::Disable},
    {S::Texthgt, K::FaceColour},
    {S::Textwid, K::Enable},
    {S::Textwid, K::WindowColour},
    {S::Textwid, K::SetText, "100"},
    {S::Label2, K::SetCaption, "Percent:"},
    {S::Labelhgt, K::Disable},
    {S::Label2, K::Enable},
};

constexpr std::array<ResizeModeEntry, kResizeModeCount> kResizeModes{{
    {"Maintain Aspect Ratio", "aspect", kMaintainAspectSteps},
    {"No Resize(Convert only)", "none", kNoResizeSteps},
    {"Specify Width & Height", "exact", kExactSteps},
    {"Scale By Percent", "percent", kPercentSteps},
    // Both sizes, as for "Specify Width & Height".
    {"Fill and Crop", "fill", kExactSteps},
}};

constexpr std::array<ResampleFilterEntry, kResampleFilterCount> kResampleFilters{{
    {"None", "none", kFilterHalftone},
    {"B-Spline Filter", "bspline", kFilterBSpline},
    {"Bicubic Filter", "bicubic", kFilterBicubic},
    {"Bilinear Filter", "bilinear", kFilterBilinear},
    {"Box Filter", "box", kFilterBox},
    {"Catmull-Rom Filter", "catmullrom", kFilterCatmullRom},
    {"Lanczos3 Filter", "lanczos3", kFilterLanczos3},
}};

// Wildcard match of one pattern against a name, both already case-folded.
// Greedy with one back-track point: linear enough for file names.
bool MatchesPattern(QStringView name, QStringView pattern)
{
    qsizetype n = 0;
    qsizetype p = 0;
    qsizetype starP = -1;
    qsizetype starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (starP >= 0) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

} // namespace

const std::array<FileMaskEntry, kFileMaskCount>& FileMasks()
{
    return kFileMasks;
}

std::optional<QString> FileMaskAt(int index)
{
    if (index < 0 || index >= kFileMaskCount)
        return std::nullopt;
    return QString::fromLatin1(kFileMasks[static_cast<std::size_t>(index)].Mask);
}

bool MatchesMask(const QString& fileName, const QString& mask)
{
    return CompiledMask(mask).Matches(fileName);
}

CompiledMask::CompiledMask(const QString& mask)
{
    for (QStringView raw : QStringView(mask).split(u';')) {
        const QStringView trimmed = raw.trimmed();
        if (trimmed.isEmpty())
            continue;
        // "*.*" means every file, whether or not its name has a dot.
        if (trimmed == u"*.*" || trimmed == u"*")
            m_everyName = true;
        m_patterns.append(trimmed.toString().toCaseFolded());
    }
}

bool CompiledMask::Matches(const QString& fileName) const
{
    if (m_everyName)
        return true;
    if (m_patterns.isEmpty())
        return false;
    const QString name = fileName.toCaseFolded();
    for (const QString& pattern : m_patterns) {
        if (MatchesPattern(name, pattern))
            return true;
    }
    return false;
}

const std::array<ResizeModeEntry, kResizeModeCount>& ResizeModes()
{
    return kResizeModes;
}

std::span<const SizeControlStep> ResizeModeStepsAt(int index)
{
    if (index < 0 || index >= kResizeModeCount)
        return {};
    return kResizeModes[static_cast<std::size_t>(index)].Steps;
}

OleColor ColourOfStep(SizeStepKind kind)
{
    return kind == SizeStepKind::FaceColour ? kSystemButtonFace : kSystemWindowBackground;
}

const std::array<ResampleFilterEntry, kResampleFilterCount>& ResampleFilters()
{
    return kResampleFilters;
}

std::optional<int> ResampleFilterCodeAt(int index)
{
    if (index < 0 || index >= kResampleFilterCount)
        return std::nullopt;
    return kResampleFilters[static_cast<std::size_t>(index)].Code;
}

std::vector<NamedChoice> ResizeModeChoices()
{
    std::vector<NamedChoice> choices;
    for (int i = 0; i < kResizeModeCount; ++i)
        choices.push_back({kResizeModes[std::size_t(i)].Name, i});
    return choices;
}

std::vector<NamedChoice> CropChoices()
{
    return {{"centre", kCropCentre}, {"attention", kCropAttention}};
}

std::vector<NamedChoice> KeepChoices()
{
    return {{"none", kKeepNone}, {"copyright", kKeepCopyright}, {"exif", kKeepExif}};
}

std::vector<NamedChoice> ResampleFilterChoices()
{
    std::vector<NamedChoice> choices;
    for (const ResampleFilterEntry& entry : kResampleFilters)
        choices.push_back({entry.Name, entry.Code});
    return choices;
}

std::vector<NamedChoice> OutputFormatChoices()
{
    std::vector<NamedChoice> choices;
    for (int i = 0; i < kOutputFormatCount; ++i)
        choices.push_back({OutputFormats()[std::size_t(i)].Name, i});
    return choices;
}

QString TrimSetting(const QString& text)
{
    return text.trimmed();
}

QString FolderWithSeparator(const QString& text)
{
    QString folder = TrimSetting(text);
    if (!folder.endsWith(QLatin1Char('/')))
        folder.append(QLatin1Char('/'));
    return folder;
}

Outcome<std::int32_t> ReadNumberSetting(const QString& text)
{
    const QString trimmed = TrimSetting(text);
    if (trimmed.isEmpty())
        return Failure{QStringLiteral("is empty")};
    bool ok = false;
    // C-locale decimal notation, the same whatever the user's locale.
    const double value = trimmed.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return Failure{QStringLiteral("\"%1\" is not a number").arg(trimmed)};
    const auto rounded = RoundToInt32(value);
    if (!rounded)
        return Failure{QStringLiteral("\"%1\" is out of range").arg(trimmed)};
    return *rounded;
}

} // namespace pixquill
