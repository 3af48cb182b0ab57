#pragma once

// HDR pictures (ITU-R BT.2100: PQ and HLG) shown on an SDR screen. Their
// numbers stand for display light up to thousands of cd/m² (PQ) or for scene
// light meant for a bright display (HLG); read as SDR, a diffuse white comes
// out grey. Here each encoded value is taken to the light it stands for and
// tone-mapped into SDR, where 1.0 is SDR white:
// - SDR white is HDR's diffuse white, 203 cd/m² (ITU-R BT.2408);
// - HLG is first rendered for its nominal 1000 cd/m² display through BT.2100's
//   OOTF (system gamma 1.2), component by component (exact for neutral
//   colours; highlights of strong colours come out a little more saturated);
// - light above SDR white is compressed with BT.2390's EETF (the Hermite knee
//   in the PQ domain) from the picture's own peak (its brightest component,
//   as a content light level is measured) down to SDR white, each component
//   on its own, as BT.2390 allows. A picture whose brightest light is SDR
//   white or less passes unchanged, so its diffuse white is white.
// The matrix (the picture's primaries to sRGB's) and sRGB's encoding are
// LittleCMS's work: the mapping becomes the tone curve of an ICC profile.

#include <cstdint>
#include <vector>

struct FIBITMAP;

namespace pixquill {

// ITU-T H.273 transfer characteristics (JPEG XL's transfer functions use the
// same numbers).
inline constexpr int kTransferPq = 16;  // SMPTE ST 2084
inline constexpr int kTransferHlg = 18; // ARIB STD-B67

inline constexpr double kSdrWhiteNits = 203.0;
inline constexpr double kHlgDisplayPeakNits = 1000.0;

bool IsHdrTransfer(int transfer);

// The display light (cd/m²) an encoded value 0..1 stands for.
double HdrDisplayLight(int transfer, double signal);

// The linear SDR light (0..1, 1 = SDR white) an encoded value 0..1 is shown
// as, in a picture whose brightest encoded component is peakSignal.
double SdrLinearFromHdr(int transfer, double signal, double peakSignal);

// SdrLinearFromHdr sampled evenly over the encoded values 0..1 as 16-bit
// levels, for an ICC tone curve.
std::vector<std::uint16_t> HdrToSdrTable(int transfer, double peakSignal);

// The brightest colour component of a decoded picture as an encoded value
// 0..1 (rounded up to 1/1024, so that pictures alike share one profile),
// alpha aside: for 24/32-bit and 16-bit RGB(A) bitmaps; 1 for anything else.
double BrightestSample(FIBITMAP* bitmap);

} // namespace pixquill
