#pragma once

// What a benchmark process has used so far, for the figures the benchmarks print.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "platform/base/error.h"

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

/// Runs `work` in a child process, so that its peak memory is its own, and prints its wall
/// and processor time and peak memory under `title` beside what `work` answers. A failure
/// ends the benchmark.
inline void Measure(const char* title, const std::function<std::string()>& work) {
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        try {
            const long before = PeakRssKb();
            const double cpu = CpuSeconds();
            auto start = std::chrono::steady_clock::now();
            std::string detail = work();
            double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            std::printf("%-22s %8.3f s wall %8.3f s cpu   peak %7.1f MB (%.1f MB at start)   %s\n", title, wall,
                        CpuSeconds() - cpu, PeakRssKb() / 1024.0, before / 1024.0, detail.c_str());
            std::fflush(stdout);
            _exit(0);
        } catch (const Error& e) {
            std::fprintf(stderr, "%s failed: %s\n", title, e.description().c_str());
            _exit(1);
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::exit(1);
}

}  // namespace kestrix::bench
