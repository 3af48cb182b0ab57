#pragma once

// How much memory making a thumbnail of a file takes at its peak, told from
// the file's header before anything is decoded, so that a run can hold large
// images back until the memory they need is free. Only a few lines of our
// own read the headers here (JPEG markers, PNG's IHDR, HEIF's item
// properties, TIFF's first directory): the run's own process reads them, and
// no image library parses an untrusted file outside a decode worker.

#include <cstdint>

#include <QString>

#include "codec/ByteReader.h"

namespace pixquill {

// The decoders whose buffers differ enough to be told apart.
enum class EstimateKind { Jpeg, Png, Heif, Tiff, Unknown };

struct MemoryEstimate {
    EstimateKind Kind = EstimateKind::Unknown;
    std::uint64_t Width = 0; // 0 when the header does not say
    std::uint64_t Height = 0;
    bool Deep = false; // more than 8 bits a sample, kept at 16
    // The peak in bytes: the decoded picture, the library's own buffers, the
    // surface and the renderer's copy, plus what a decode costs whatever the
    // size. A file whose size cannot be told counts as kUnknownImageBytes.
    std::uint64_t Bytes = 0;

    bool SizeKnown() const { return Width > 0 && Height > 0; }
};

// What a file of unknown size is taken to need: a large photograph's worth.
// A wrong guess is caught by the decode workers' own limit.
inline constexpr std::uint64_t kUnknownImageBytes = std::uint64_t{512} << 20;

// The bytes per pixel a decode of this kind holds at its peak, and what
// every decode holds besides (a worker's own memory, the library's state).
std::uint64_t PeakBytesPerPixel(EstimateKind kind, bool deep);
inline constexpr std::uint64_t kDecodeBaseBytes = std::uint64_t{16} << 20;

MemoryEstimate EstimateFromHeader(const ByteReader& read, std::int64_t size);
// The same for a file by name; a file that cannot be opened gives an
// Unknown estimate (its decode then says why it failed).
MemoryEstimate EstimateImageMemory(const QString& path);

} // namespace pixquill
