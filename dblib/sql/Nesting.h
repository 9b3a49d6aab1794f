// Nesting limits of the library's recursive parsers, and the guard that counts a descent.
//
// Every walk that recurses once per level of nesting in its input counts its depth with a
// NestingGuard and refuses input nested deeper than its limit with a syntax error (-131) whose
// text names the limit. A limit sits far above what people write and far below what would
// exhaust the stack of a thread with 256 KB of stack, sanitizer builds included (each limit is
// tested on such a thread), so a hostile text gets an error, never a crash.
//
// Walks that do not recurse need no limit: the lexers, the dialect's token passes and
// MatchClose, the cursor layer's select analysis.
#pragma once

#include <string>
#include <string_view>

#include "dblib/sql/Errors.h"

namespace dbl {

// Statements inside statements in a procedure body (BEGIN, IF, CASE, WHILE/LOOP, FOR). The
// interpreter walks the same tree, so the limit bounds it too (procedure calls within calls
// have their own limit, kMaxProcDepth, answered with -274).
inline constexpr int kMaxProcNesting = 32;
// Parentheses within one statement the dialect translation walks. SQLite's own parser refuses
// fewer than 100 levels here, so no text it would accept is refused.
inline constexpr int kMaxSqlNesting = 100;

// -131 near `near` at `offset`, naming the limit: "Syntax error near 'BEGIN' (nesting deeper
// than 32 levels)".
[[noreturn]] inline void RefuseNesting(int limit, std::string_view near, size_t offset) {
  throw SqlError(SQLE_SYNTAX_ERROR, {std::string(near), "(nesting deeper than " + std::to_string(limit) + " levels)"},
                 int(offset));
}

class NestingGuard {
 public:
  // Counts one level for the guard's lifetime; past limit, RefuseNesting.
  NestingGuard(int& depth, int limit, std::string_view near, size_t offset) : depth_(depth) {
    if (depth_ >= limit) RefuseNesting(limit, near, offset);
    ++depth_;
  }
  ~NestingGuard() { --depth_; }
  NestingGuard(const NestingGuard&) = delete;
  NestingGuard& operator=(const NestingGuard&) = delete;

 private:
  int& depth_;
};

}  // namespace dbl
