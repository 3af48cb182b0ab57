#pragma once

namespace pixquill {

// Marks the upper halves of the processor's 256-bit vector registers clean
// (vzeroupper) on x86-64 processors with AVX; does nothing elsewhere.
//
// Some of Qt's AVX drawing routines return with those halves still in use.
// Until they are cleared, every older-style SSE instruction that follows,
// which is what FreeImage's filters and converters are built from, pays a
// penalty: on the machines we measured, FreeImage's rescaling ran three times
// slower after a QPainter call than before it. Call this between Qt drawing
// and FreeImage work on the same thread. Cheap; safe to call at any time.
void ClearUpperVectorState();

} // namespace pixquill
