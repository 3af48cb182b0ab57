#include "engine/AttentionCrop.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/ThumbnailSize.h"

namespace pixquill {

namespace {

// The reduced copy's long side: enough to tell where the detail is.
constexpr int kScoredSide = 256;

int Luma(QRgb pixel)
{
    return (77 * qRed(pixel) + 150 * qGreen(pixel) + 29 * qBlue(pixel)) >> 8;
}

bool IsSkin(QRgb pixel)
{
    const int r = qRed(pixel);
    const int g = qGreen(pixel);
    const int b = qBlue(pixel);
    return r > 95 && g > 40 && b > 20 && r > g && r > b && r - std::max(g, b) > 15;
}

} // namespace

QRect AttentionCrop(const QImage& picture, QSize box)
{
    const QRect centred = CentredCrop(picture.size(), box);
    const bool alongX = centred.width() < picture.width();
    const bool alongY = centred.height() < picture.height();
    if (picture.isNull() || (!alongX && !alongY))
        return centred;

    // Scores per column (or row) of a reduced copy along the long side.
    const QImage small = picture
                             .scaled(QSize(kScoredSide, kScoredSide), Qt::KeepAspectRatio, Qt::SmoothTransformation)
                             .convertToFormat(QImage::Format_RGB32);
    const int length = alongX ? small.width() : small.height();
    std::vector<std::int64_t> line(static_cast<std::size_t>(length), 0);
    for (int y = 0; y < small.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(small.constScanLine(y));
        const auto* below = y + 1 < small.height() ? reinterpret_cast<const QRgb*>(small.constScanLine(y + 1)) : nullptr;
        for (int x = 0; x < small.width(); ++x) {
            const QRgb pixel = row[x];
            int score = (std::max({qRed(pixel), qGreen(pixel), qBlue(pixel)})
                         - std::min({qRed(pixel), qGreen(pixel), qBlue(pixel)}))
                / 2;
            if (x + 1 < small.width())
                score += std::abs(Luma(pixel) - Luma(row[x + 1]));
            if (below)
                score += std::abs(Luma(pixel) - Luma(below[x]));
            if (IsSkin(pixel))
                score += 64;
            line[static_cast<std::size_t>(alongX ? x : y)] += score;
        }
    }

    // The window of the crop's length (in the reduced copy) with the most.
    const double scale = static_cast<double>(length) / (alongX ? picture.width() : picture.height());
    const int cropLength = alongX ? centred.width() : centred.height();
    const int span = std::clamp(static_cast<int>(cropLength * scale + 0.5), 1, length);
    std::vector<std::int64_t> sums(static_cast<std::size_t>(length) + 1, 0);
    for (int i = 0; i < length; ++i)
        sums[static_cast<std::size_t>(i) + 1] = sums[static_cast<std::size_t>(i)] + line[static_cast<std::size_t>(i)];
    const int middle = (length - span) / 2;
    int best = middle;
    std::int64_t bestScore = -1;
    for (int start = 0; start + span <= length; ++start) {
        const std::int64_t score
            = sums[static_cast<std::size_t>(start + span)] - sums[static_cast<std::size_t>(start)];
        if (score > bestScore || (score == bestScore && std::abs(start - middle) < std::abs(best - middle))) {
            best = start;
            bestScore = score;
        }
    }

    // Back to the picture's pixels, kept inside it.
    const int full = alongX ? picture.width() : picture.height();
    const int offset = std::clamp(static_cast<int>(best / scale + 0.5), 0, full - cropLength);
    return alongX ? QRect(offset, 0, centred.width(), centred.height())
                  : QRect(0, offset, centred.width(), centred.height());
}

} // namespace pixquill
