#pragma once

#include <cstdint>

namespace pixquill {

// Stands for the worker's own process id in the compiled system call filter
// (MakeWorkerFilter.cpp writes it, WorkerSandbox.cpp replaces it). Above any
// process id the kernel hands out (at most 2^22), and no flag, request or
// call number the filter compares with.
inline constexpr std::uint32_t kWorkerFilterOwnPid = 0x5ec0d1d5u;

} // namespace pixquill
