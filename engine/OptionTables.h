#pragma once

// The four option lists that define a thumbnail job, as data shared by the
// main window and the command-line tool, and the readers of the job settings
// typed into the window's boxes. Everything here is pure data or pure
// functions: safe from any thread.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include <QString>
#include <QStringList>

#include "codec/KeptMetadata.h"
#include "codec/OleColor.h"
#include "codec/Outcome.h"
#include "codec/OutputFormats.h"

namespace pixquill {

// ---------------------------------------------------------------- file masks

struct FileMaskEntry {
    const char* Text; // the list entry, shown as is
    const char* Mask; // one or more wildcard patterns separated by ";"
};

inline constexpr int kFileMaskCount = 32;
inline constexpr int kFileMaskAllSupported = 0; // selected at start-up
inline constexpr int kFileMaskAllFiles = 28;
// Ours, appended: HEIC/HEIF, AVIF, JPEG XL and WebP; every format the codec
// reads (the command line's default); the cameras' RAW files.
inline constexpr int kFileMaskTodaysPhotos = 29;
inline constexpr int kFileMaskAllReadable = 30;
inline constexpr int kFileMaskCameraRaw = 31;

// The file mask list in list order.
const std::array<FileMaskEntry, kFileMaskCount>& FileMasks();

// The mask of an entry; nothing for an index outside the list (the file list
// then keeps its current mask).
std::optional<QString> FileMaskAt(int index);

// True when the file name matches any pattern of the mask. Patterns know "*"
// (any run of characters, none included) and "?" (one character); matching
// ignores case. "*.*" matches every name, names without a dot included.
// Blanks around a pattern are ignored; an empty mask matches nothing.
bool MatchesMask(const QString& fileName, const QString& mask);

// A mask split and case-folded once, for matching many names against it.
class CompiledMask {
public:
    explicit CompiledMask(const QString& mask);
    bool Matches(const QString& fileName) const;

private:
    bool m_everyName = false; // "*.*" or "*" among the patterns
    QStringList m_patterns;   // trimmed, case-folded, none empty
};


// ------------------------------------------------------------ output formats

// The output format list (OutputFormatEntry, OutputFormats, OutputFormatAt,
// OutputExtensionAt) is the codec's table (codec/OutputFormats), since each
// row carries the saver's conversion and encoder.

// -------------------------------------------------------------- resize modes

inline constexpr int kResizeMaintainAspect = 0; // selected at start-up
inline constexpr int kResizeNone = 1;
inline constexpr int kResizeExact = 2;
inline constexpr int kResizePercent = 3;
// Appended after the four modes of old: cover the width × height box, then
// crop to it.
inline constexpr int kResizeFill = 4;
inline constexpr int kResizeModeCount = 5;

// The size boxes and their labels that a resize mode changes.
enum class SizeControl {
    Texthgt,  // height box
    Textwid,  // width box
    Labelhgt, // label of the height box
    Label2,   // label of the width box
};

enum class SizeStepKind {
    Enable,
    Disable,
    WindowColour, // normal input background (system colour 5)
    FaceColour,   // disabled input background (system colour 15)
    SetCaption,   // a label's caption becomes Value
    SetText,      // a box's text becomes Value
};

struct SizeControlStep {
    SizeControl Control;
    SizeStepKind Kind;
    const char* Value = nullptr; // caption or text for SetCaption / SetText
};

struct ResizeModeEntry {
    const char* Text;
    const char* Name; // on the command line: --resize NAME
    std::span<const SizeControlStep> Steps; // applied in this order
};

// The resize mode list in list order.
const std::array<ResizeModeEntry, kResizeModeCount>& ResizeModes();

// The steps of a mode; empty for an index outside the list (nothing changes).
std::span<const SizeControlStep> ResizeModeStepsAt(int index);

// The colour value a colour step stands for (0x80000005 or 0x8000000F).
OleColor ColourOfStep(SizeStepKind kind);

// ----------------------------------------------------------- resample filters

inline constexpr int kFilterBox = 0;
inline constexpr int kFilterBicubic = 1;
inline constexpr int kFilterBilinear = 2;
inline constexpr int kFilterBSpline = 3;
inline constexpr int kFilterCatmullRom = 4;
inline constexpr int kFilterLanczos3 = 5;
// Not a FreeImage filter: the area-averaging stretch, FreeImage left out.
inline constexpr int kFilterHalftone = 6;

struct ResampleFilterEntry {
    const char* Text;
    const char* Name; // on the command line: --filter NAME
    int Code;         // the value stored in ResampleFilter
};

inline constexpr int kResampleFilterCount = 7;

// The resample filter list in list order (not FreeImage's numbering).
const std::array<ResampleFilterEntry, kResampleFilterCount>& ResampleFilters();

// The code of an entry; nothing for an index outside the list (the stored
// filter then stays as it was).
std::optional<int> ResampleFilterCodeAt(int index);

// ------------------------------------------------ the lists' command-line names

// A list's entry as the command line names it, with what a job stores for it.
struct NamedChoice {
    const char* Name;
    int Value;
};

// In list order; the value is the list index.
std::vector<NamedChoice> ResizeModeChoices();
// Where "Fill and Crop" cuts: the middle, or the busiest part (AttentionCrop).
inline constexpr int kCropCentre = 0;
inline constexpr int kCropAttention = 1;
std::vector<NamedChoice> CropChoices();
// What metadata goes along into a thumbnail: none, the author and copyright,
// or all but the location and the maker notes (KeptMetadata).
inline constexpr int kKeepNone = int(MetadataToKeep::None);
inline constexpr int kKeepCopyright = int(MetadataToKeep::Copyright);
inline constexpr int kKeepExif = int(MetadataToKeep::Exif);
std::vector<NamedChoice> KeepChoices();
// In list order; the value is the filter's code.
std::vector<NamedChoice> ResampleFilterChoices();
// In list order; the value is the list index.
std::vector<NamedChoice> OutputFormatChoices();

// --------------------------------------------------------- job settings texts

// Text read from a box: leading and trailing blanks removed.
QString TrimSetting(const QString& text);

// A folder text ready for a file name: trimmed, and the directory separator
// appended when its last character is not one (an empty text gives "/").
QString FolderWithSeparator(const QString& text);

// A number typed into a size box, read and rounded to the nearest whole
// number, halves to the even neighbour, into a 32-bit signed value; or why
// the text is not usable ("is empty", "\"abc\" is not a number", "\"1e12\" is
// out of range").
Outcome<std::int32_t> ReadNumberSetting(const QString& text);

} // namespace pixquill
