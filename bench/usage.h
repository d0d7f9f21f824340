#pragma once

// What a benchmark process has used so far, for the figures the benchmarks print.

#include <sys/resource.h>

namespace kestrix::bench {

/// Peak resident set of this process in kilobytes.
inline long PeakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

/// Processor time of this process so far (user and system), in seconds. On a shared machine
/// it tells the work done apart from the time spent waiting for the processor.
inline double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace kestrix::bench
