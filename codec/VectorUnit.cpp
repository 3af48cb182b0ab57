#include "codec/VectorUnit.h"

namespace pixquill {

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

namespace {

__attribute__((target("avx"))) void ZeroUpper()
{
    __builtin_ia32_vzeroupper();
}

} // namespace

void ClearUpperVectorState()
{
    // vzeroupper does not exist without AVX.
    static const bool hasAvx = __builtin_cpu_supports("avx");
    if (hasAvx)
        ZeroUpper();
}

#else

void ClearUpperVectorState()
{
}

#endif

} // namespace pixquill
