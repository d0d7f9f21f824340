#pragma once

#include <cstdint>

namespace kestrix::db {

/// What the calling thread asked of its databases since its counts were last reset. The
/// benchmarks print them per document; nothing in the business layer depends on them.
struct StatementCounts {
    /// Statements run (a script counts once).
    int64_t statements = 0;
    /// Statements whose text had to be prepared because no prepared form of it was kept.
    int64_t preparations = 0;
    /// Transactions made permanent, the implicit one of a statement outside a transaction
    /// included.
    int64_t commits = 0;
};

/// The calling thread's counts.
StatementCounts ThreadStatementCounts();
/// Sets the calling thread's counts back to zero.
void ResetThreadStatementCounts();

namespace detail {
/// The calling thread's counters, for the sessions that count.
StatementCounts& MutableThreadStatementCounts();
}  // namespace detail

}  // namespace kestrix::db
