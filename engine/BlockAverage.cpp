#include "engine/BlockAverage.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace pixquill {

namespace {

// Where a Format_RGB32 pixel's channels lie among its four bytes.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr int kRedByte = 2;
constexpr int kGreenByte = 1;
constexpr int kBlueByte = 0;
#else
constexpr int kRedByte = 1;
constexpr int kGreenByte = 2;
constexpr int kBlueByte = 3;
#endif

// From this many pixels on, block averaging is shared with a second thread.
constexpr qint64 kTwoThreadsFrom = 4'000'000;

// sums[i] += bytes[i] for i < count: the inner loop of the block averages,
// sixteen bytes at a time where the processor allows (the compiler's -O2
// does not vectorise it by itself).
void AddBytes(std::uint32_t* sums, const uchar* bytes, std::size_t count)
{
    std::size_t i = 0;
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= count; i += 16) {
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        const __m128i low = _mm_unpacklo_epi8(in, zero);
        const __m128i high = _mm_unpackhi_epi8(in, zero);
        auto* out = reinterpret_cast<__m128i*>(sums + i);
        _mm_storeu_si128(out, _mm_add_epi32(_mm_loadu_si128(out), _mm_unpacklo_epi16(low, zero)));
        _mm_storeu_si128(out + 1, _mm_add_epi32(_mm_loadu_si128(out + 1), _mm_unpackhi_epi16(low, zero)));
        _mm_storeu_si128(out + 2, _mm_add_epi32(_mm_loadu_si128(out + 2), _mm_unpacklo_epi16(high, zero)));
        _mm_storeu_si128(out + 3, _mm_add_epi32(_mm_loadu_si128(out + 3), _mm_unpackhi_epi16(high, zero)));
    }
#endif
    for (; i < count; ++i)
        sums[i] += bytes[i];
}

// Rows first to last of reduced: blocks of factor x factor pixels of
// picture averaged (the rest of a row or column that makes no whole block is
// left out). Each block row's bytes are summed down its rows first, and only
// those sums are added across the blocks.
void AverageBlocks(const QImage& picture, int factor, uchar* reduced, qsizetype reducedRowBytes, int reducedWidth,
                   int first, int last)
{
    const std::size_t used = std::size_t(reducedWidth) * factor * 4; // bytes of a row in whole blocks
    const std::uint32_t count = std::uint32_t(factor) * factor;
    std::vector<std::uint32_t> down(used);
    for (int y = first; y < last; ++y) {
        std::fill(down.begin(), down.end(), 0u);
        for (int dy = 0; dy < factor; ++dy)
            AddBytes(down.data(), picture.constScanLine(y * factor + dy), used);
        auto* out = reinterpret_cast<QRgb*>(reduced + y * reducedRowBytes);
        const std::uint32_t* block = down.data();
        for (int x = 0; x < reducedWidth; ++x) {
            std::uint32_t red = 0;
            std::uint32_t green = 0;
            std::uint32_t blue = 0;
            for (int dx = 0; dx < factor; ++dx, block += 4) {
                red += block[kRedByte];
                green += block[kGreenByte];
                blue += block[kBlueByte];
            }
            out[x] = qRgb(int((red + count / 2) / count), int((green + count / 2) / count),
                          int((blue + count / 2) / count));
        }
    }
}

} // namespace

QImage BlockAverage(const QImage& picture, int factor)
{
    if (factor < 1 || picture.format() != QImage::Format_RGB32)
        return picture;
    QImage reduced(picture.width() / factor, picture.height() / factor, QImage::Format_RGB32);
    if (reduced.isNull())
        return picture;
    // Rows written through one pointer taken here: scanLine() in two
    // threads at once would touch the image's own counters from both.
    uchar* const rows = reduced.bits();
    const qsizetype rowBytes = reduced.bytesPerLine();
    const int width = reduced.width();
    const int height = reduced.height();
    const int half = height / 2;
    std::optional<std::thread> helper;
    if (qint64(picture.width()) * picture.height() >= kTwoThreadsFrom) {
        try {
            helper.emplace([&] { AverageBlocks(picture, factor, rows, rowBytes, width, half, height); });
        } catch (const std::system_error&) {
            // No thread to be had: this one reads it all.
        }
    }
    AverageBlocks(picture, factor, rows, rowBytes, width, 0, helper ? half : height);
    if (helper)
        helper->join();
    return reduced;
}

} // namespace pixquill
