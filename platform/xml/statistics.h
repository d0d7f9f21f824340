#pragma once

#include <cstdint>

namespace kestrix::xml {

/// What the calling thread parsed and compiled since its counts were last reset. The
/// benchmarks print them per document; nothing else depends on them.
struct ParseCounts {
    /// Texts, files and addresses parsed (a style sheet's file included).
    int64_t documents = 0;
    /// Style sheets compiled.
    int64_t styleSheets = 0;
};

/// The calling thread's counts.
ParseCounts ThreadParseCounts();
/// Sets the calling thread's counts back to zero.
void ResetThreadParseCounts();

namespace detail {
/// The calling thread's counters, for the parser that counts.
ParseCounts& MutableThreadParseCounts();
}  // namespace detail

}  // namespace kestrix::xml
