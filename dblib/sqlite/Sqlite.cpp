// State of the SQLite fault seam (see Sqlite.h) and its test-only C entry point.
#include "dblib/sqlite/Sqlite.h"

#include "dblib/esql.h"

namespace dbl::sq {
namespace detail {
std::atomic<int> countdown{0};
std::atomic<int> failCode{SQLITE_OK};
thread_local int injected = 0;
}  // namespace detail

void FailAfter(int n, int rc) {
  detail::failCode.store(rc, std::memory_order_relaxed);
  detail::countdown.store(n > 0 ? n : 0, std::memory_order_release);
}
}  // namespace dbl::sq

extern "C" void zyl_fault_fail_after(int n, int rc) { dbl::sq::FailAfter(n, rc); }
