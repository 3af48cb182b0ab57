#pragma once

#include <cstdint>

namespace pixquill {

// Stands for the worker's own process id in the compiled system call filter
// (MakeWorkerFilter.cpp writes it, WorkerSandbox.cpp replaces it). Above any
// process id the kernel hands out (at most 2^22), and no flag, request or
// call number the filter compares with.
inline constexpr std::uint32_t kWorkerFilterOwnPid = 0x5ec0d1d5u;

// Where the worker can answer a trapped newfstatat(fd, "", AT_EMPTY_PATH)
// itself (its handler knows this architecture's registers), the filter traps
// it; elsewhere the call is let through and a path given with AT_EMPTY_PATH
// is not refused.
#if defined(__x86_64__) || defined(__aarch64__)
inline constexpr bool kWorkerFilterTrapsFstatat = true;
#else
inline constexpr bool kWorkerFilterTrapsFstatat = false;
#endif

} // namespace pixquill
