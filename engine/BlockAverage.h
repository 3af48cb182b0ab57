#pragma once

// A large picture made small cheaply, as the first step of a large shrink:
// blocks of pixels averaged, which leaves a smooth scale a small picture to
// work on.

#include <QImage>

namespace pixquill {

// picture (Format_RGB32) averaged over factor x factor blocks; the rest of a
// row or column that makes no whole block is left out. One pass over the
// picture; one of four megapixels or more is read by two threads, half
// each. The picture itself when the reduced one cannot be allocated, or
// for another format or a factor below 1.
QImage BlockAverage(const QImage& picture, int factor);

} // namespace pixquill
