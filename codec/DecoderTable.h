#pragma once

// Decoding as a table: one row per decoder, with its name, the check that
// recognises its content, the extensions it takes and its decode function.
// A file goes to the first row whose content check recognises it; when none
// does, to the first row that lists its extension. A new format is one row
// here plus a decoder file of its own.
//
// Every decode function reads the declared size before any pixel and refuses
// more than kMaxPixels ("image too large"), puts what its library says into
// the reason (never on stderr), and hands out the picture in the colours the
// file stored, with the file's ICC profile.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include <QByteArray>

#include "codec/ByteReader.h"
#include "codec/DecodedImage.h"

namespace pixquill {

// Headers that declare more pixels than this are refused before decoding: at
// four bytes per pixel on the surface that is already a gigabyte.
inline constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 28;

// True when width x height is more than kMaxPixels. A side of 0 is not too
// large (the decoder refuses it, or the size comes later in the file).
bool TooLarge(std::uint64_t width, std::uint64_t height);

// The size of the whole image as it is shown (rotation applied), read from
// the file's header without decoding a pixel; 0 x 0 when the header does not
// say.
struct UprightSize {
    int Width = 0;
    int Height = 0;
    bool Known() const { return Width > 0 && Height > 0; }
    friend bool operator==(const UprightSize&, const UprightSize&) = default;
};

struct DecodeHints {
    // The thumbnail wanted, upright; 0 x 0 for the full image. A decoder may
    // then hand out a smaller picture the file holds (an embedded thumbnail
    // or preview), at least twice this size in both directions and of the
    // full image's aspect, when that costs less than the full picture.
    int Width = 0;
    int Height = 0;
    // A decoder may also decode at a reduced scale (libjpeg's 1/2 to 1/8),
    // which shifts the pixels slightly against a full decode; only asked for
    // where the user chose speed (the command line's --fast).
    bool ReducedScale = false;
    // Only a smaller picture is wanted: a row that holds none hands out
    // nothing (an empty Error) rather than decoding the whole image.
    bool OnlySmaller = false;
    // The file name's extension (after the last dot, as written), for
    // decoders of several formats that fall back on it when the content
    // did not say which.
    std::string Extension;
};

// A row's header step: the image's upright size from its header alone.
using HeaderFunction = UprightSize (*)(const ByteReader& read, std::int64_t size);
using DecodeFunction = DecodedImage (*)(const ByteReader& read, std::int64_t size, const DecodeHints& hints);

struct DecoderRow {
    std::string_view Name;
    // True when the content is this decoder's; reads only a header's worth.
    bool (*Recognises)(const ByteReader& read, std::int64_t size);
    // Taken case-insensitively, without the dot.
    std::span<const std::string_view> Extensions;
    // Null for a row that never hands out less than the full picture: it is
    // then asked for the full image, with no size in its hints.
    HeaderFunction Header;
    DecodeFunction Decode;
};

// The rows, in the order they are asked. Thread-safe.
std::span<const DecoderRow> Decoders();

// The row for a file: by content first, then by extension; null when no row
// takes it ("unrecognised image format").
const DecoderRow* FindDecoder(const ByteReader& read, std::int64_t size, std::string_view extension);

// What follows the last dot of the file name (the last part of the path);
// empty when it has none.
std::string ExtensionOf(const QByteArray& path);

} // namespace pixquill
