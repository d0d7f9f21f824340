#include "platform/db/statistics.h"

namespace kestrix::db {

namespace detail {
StatementCounts& MutableThreadStatementCounts() {
    thread_local StatementCounts counts;
    return counts;
}
}  // namespace detail

StatementCounts ThreadStatementCounts() { return detail::MutableThreadStatementCounts(); }

void ResetThreadStatementCounts() { detail::MutableThreadStatementCounts() = StatementCounts{}; }

}  // namespace kestrix::db
