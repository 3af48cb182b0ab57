#pragma once

// Colour management of decoded pictures: what a file's ICC profile says its
// stored numbers mean, turned into plain sRGB before the picture is drawn.
// Codec-internal; FreeImage and LittleCMS stay behind the Bitmap handle.

#include <QByteArray>

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

// True when the profile is a usable CMYK one, so that the loader can ask the
// decoder for the file's CMYK samples and convert them through it.
bool IsCmykProfile(const QByteArray& iccProfile);

} // namespace pixquill
