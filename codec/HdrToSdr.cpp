#include "codec/HdrToSdr.h"

#include <algorithm>
#include <cmath>

#include <FreeImage.h>

namespace pixquill {
namespace {

// SMPTE ST 2084's constants.
constexpr double kM1 = 2610.0 / 16384.0;
constexpr double kM2 = 2523.0 / 4096.0 * 128.0;
constexpr double kC1 = 3424.0 / 4096.0;
constexpr double kC2 = 2413.0 / 4096.0 * 32.0;
constexpr double kC3 = 2392.0 / 4096.0 * 32.0;
constexpr double kPqPeakNits = 10000.0;

// BT.2100's HLG constants and its system gamma at the nominal display.
constexpr double kHlgA = 0.17883277;
constexpr double kHlgB = 1.0 - 4.0 * kHlgA;
constexpr double kHlgC = 0.55991072953;
constexpr double kHlgGamma = 1.2;

constexpr int kTableSize = 4096;

double PqToNits(double signal)
{
    const double p = std::pow(std::clamp(signal, 0.0, 1.0), 1.0 / kM2);
    return kPqPeakNits * std::pow(std::max(p - kC1, 0.0) / (kC2 - kC3 * p), 1.0 / kM1);
}

double NitsToPq(double nits)
{
    const double y = std::pow(std::clamp(nits / kPqPeakNits, 0.0, 1.0), kM1);
    return std::pow((kC1 + kC2 * y) / (1.0 + kC3 * y), kM2);
}

// HLG's inverse OETF: scene light 0..1.
double HlgToScene(double signal)
{
    const double e = std::clamp(signal, 0.0, 1.0);
    return e <= 0.5 ? e * e / 3.0 : (std::exp((e - kHlgC) / kHlgA) + kHlgB) / 12.0;
}

// BT.2390's EETF without a black level: light of a source up to sourcePeak
// onto a display up to targetPeak, in the PQ domain normalised to the source.
double Eetf(double nits, double sourcePeak, double targetPeak)
{
    if (sourcePeak <= targetPeak)
        return std::min(nits, targetPeak);
    const double source = NitsToPq(sourcePeak);
    const double e1 = std::min(NitsToPq(nits) / source, 1.0);
    const double maxLum = NitsToPq(targetPeak) / source;
    const double ks = 1.5 * maxLum - 0.5;
    if (e1 <= ks)
        return nits;
    const double t = (e1 - ks) / (1.0 - ks);
    const double t2 = t * t;
    const double t3 = t2 * t;
    const double e2 = (2 * t3 - 3 * t2 + 1) * ks + (t3 - 2 * t2 + t) * (1.0 - ks) + (-2 * t3 + 3 * t2) * maxLum;
    return PqToNits(e2 * source);
}

} // namespace

bool IsHdrTransfer(int transfer)
{
    return transfer == kTransferPq || transfer == kTransferHlg;
}

double HdrDisplayLight(int transfer, double signal)
{
    if (transfer == kTransferPq)
        return PqToNits(signal);
    if (transfer == kTransferHlg)
        return kHlgDisplayPeakNits * std::pow(HlgToScene(signal), kHlgGamma);
    return 0.0;
}

double SdrLinearFromHdr(int transfer, double signal, double peakSignal)
{
    const double peak = std::max(HdrDisplayLight(transfer, peakSignal), kSdrWhiteNits);
    const double shown = Eetf(HdrDisplayLight(transfer, signal), peak, kSdrWhiteNits);
    return std::clamp(shown / kSdrWhiteNits, 0.0, 1.0);
}

std::vector<std::uint16_t> HdrToSdrTable(int transfer, double peakSignal)
{
    std::vector<std::uint16_t> table(kTableSize);
    for (int i = 0; i < kTableSize; ++i) {
        const double linear = SdrLinearFromHdr(transfer, double(i) / (kTableSize - 1), peakSignal);
        table[std::size_t(i)] = std::uint16_t(std::lround(linear * 65535.0));
    }
    return table;
}

double BrightestSample(FIBITMAP* bitmap)
{
    if (!bitmap || !FreeImage_HasPixels(bitmap))
        return 1.0;
    const unsigned width = FreeImage_GetWidth(bitmap);
    const unsigned height = FreeImage_GetHeight(bitmap);
    const FREE_IMAGE_TYPE type = FreeImage_GetImageType(bitmap);
    const unsigned bpp = FreeImage_GetBPP(bitmap);
    unsigned brightest = 0;
    double top = 0;
    if (type == FIT_RGB16 || type == FIT_RGBA16) {
        const unsigned step = type == FIT_RGB16 ? 3 : 4;
        for (unsigned y = 0; y < height; ++y) {
            const auto* line = reinterpret_cast<const WORD*>(FreeImage_GetScanLine(bitmap, int(y)));
            for (unsigned x = 0; x < width * step; x += step)
                brightest = std::max({brightest, unsigned(line[x]), unsigned(line[x + 1]), unsigned(line[x + 2])});
        }
        top = 65535.0;
    } else if (type == FIT_BITMAP && (bpp == 24 || bpp == 32)) {
        const unsigned step = bpp / 8;
        for (unsigned y = 0; y < height; ++y) {
            const BYTE* line = FreeImage_GetScanLine(bitmap, int(y));
            for (unsigned x = 0; x < width * step; x += step)
                brightest = std::max({brightest, unsigned(line[x + FI_RGBA_RED]), unsigned(line[x + FI_RGBA_GREEN]),
                                      unsigned(line[x + FI_RGBA_BLUE])});
        }
        top = 255.0;
    } else {
        return 1.0;
    }
    return std::min(1.0, std::ceil(brightest / top * 1024.0) / 1024.0);
}

} // namespace pixquill
