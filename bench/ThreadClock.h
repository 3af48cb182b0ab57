#pragma once

// CPU time of the calling thread, for the benchmarks: the machines they run
// on are shared, and wall time would count what the other programs took.

#include <ctime>

namespace pixquill::bench {

inline double ThreadMilliseconds()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

} // namespace pixquill::bench
