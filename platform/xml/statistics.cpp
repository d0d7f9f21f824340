#include "platform/xml/statistics.h"

namespace kestrix::xml {

namespace detail {
ParseCounts& MutableThreadParseCounts() {
    thread_local ParseCounts counts;
    return counts;
}
}  // namespace detail

ParseCounts ThreadParseCounts() { return detail::MutableThreadParseCounts(); }

void ResetThreadParseCounts() { detail::MutableThreadParseCounts() = ParseCounts{}; }

}  // namespace kestrix::xml
