#pragma once

// Colour management of decoded pictures: what a file's ICC profile says its
// stored numbers mean, turned into plain sRGB before the picture is drawn.
// Codec-internal; FreeImage and LittleCMS stay behind the Bitmap handle.

#include <QByteArray>
#include <QImage>

#include "codec/MFreeImage_2.h"

namespace pixquill {

// Converts a freshly decoded picture from the colours its ICC profile
// describes to sRGB (relative colorimetric, black-point compensation) and
// hands it back:
// - 24/32-bit colour, 16-bit RGB(A) and float RGB(A) are converted in place
//   and keep their type and depth (the fourth byte or alpha channel untouched),
//   so 16-bit pictures are reduced to 8 bits only after the conversion;
// - 16-bit and float grey, and palette pictures (grey levels included), have
//   their levels or palette entries converted; grey stays grey;
// - 32-bit CMYK (FreeImage's FIC_CMYK, ink amounts with 0 for no ink) becomes
//   a new 24-bit RGB bitmap (16-bit CMYK a 16-bit one) through its CMYK
//   profile; null when the profile cannot be used (ask for CMYK samples only
//   when IsCmykProfile says yes) or memory runs out.
// The very same bitmap comes back, untouched, when the profile is empty,
// describes sRGB (compared by its colorants, white point and tone curves, not
// its name), is broken, lies about its size, is of another class or colour
// space than the pixels, or when no transform can be made. Never fails and
// never prints. Thread-safe: transforms are made once per profile and shared.
Bitmap ConvertToSrgb(Bitmap image, const QByteArray& iccProfile);

// True when the picture's colour conversion may wait until it has been
// reduced: 8-bit colour (24 or 32 bits per pixel, not CMYK samples) with an
// RGB profile that is not sRGB's. Resampling in the file's own encoding and
// converting the small result differs from the other order by far less than
// an 8-bit step can show (some 50 dB), at a small share of the cost. Deeper
// pictures are converted first, so that nothing is lost to 8-bit rounding.
bool ConvertsAfterReduction(FIBITMAP* image, const QByteArray& iccProfile);

// Converts a drawn picture (32 bits per pixel, QImage's RGB32 or ARGB32; any
// other format is first made RGB32) from the colours of an RGB profile to
// sRGB in place, its fourth byte untouched. Nothing changes for an empty,
// sRGB, broken or non-RGB profile. Thread-safe as ConvertToSrgb.
void ConvertPictureToSrgb(QImage& picture, const QByteArray& iccProfile);

// True when the profile is a usable CMYK one, so that the loader can ask the
// decoder for the file's CMYK samples and convert them through it.
bool IsCmykProfile(const QByteArray& iccProfile);

} // namespace pixquill
