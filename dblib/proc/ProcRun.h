// The interpreter of the procedure language: runs a parsed procedure or function
// (dblib/proc/ProcLang.h) over a ProcHost (dblib/proc/ProcHost.h).
//
// One call:  bind arguments (defaults for the missing ones) -> run the body -> RETURN or the end
//   of the body -> outputs = the final values of every parameter, return value.
// An error that no EXCEPTION handler takes ends the call and reaches the caller as SqlError.
// Cancellation (-299) is checked before every statement and loop turn and during WAITFOR; no
// handler can take it, so a procedure that loops forever can always be stopped.
// Calls nest (CALL in a body, functions inside SQL that call back here); a thread-wide depth
// counter refuses nesting deeper than kMaxProcDepth with -274, and so does every call and nesting
// statement that finds less than a reserve of its thread's stack left (a small thread reaches
// that before kMaxProcDepth), instead of exhausting the stack.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "dblib/proc/ProcHost.h"
#include "dblib/proc/ProcLang.h"
#include "dblib/sql/Value.h"

namespace dbl {

constexpr int kMaxProcDepth = 40;

struct ProcArgValue {
  std::string name;  // empty: positional
  Value value;
};

struct ProcCallResult {
  Value returnValue;          // functions: the RETURN value; procedures: the integer status (0)
  std::vector<Value> params;  // final value of every parameter, in declaration order
};

// Puts the arguments in parameter order: positional ones first, then named ones. Missing
// parameters stay empty (their DEFAULT applies). -154 for too many arguments, -615 for an
// unknown name, -639 for a positional argument after a named one.
std::vector<std::optional<Value>> OrderArguments(const ProcDef& def, const std::vector<ProcArgValue>& args);

// Runs def. args: one entry per parameter (nullopt: use the DEFAULT; -154 when there is none).
ProcCallResult RunProc(const ProcDef& def, const std::vector<std::optional<Value>>& args, ProcHost& host);

// Converts a value to a declared type the way an assignment to a variable does (-157 when it
// cannot be converted).
Value CoerceToType(const Value& v, std::string_view type);

// 'hh:mm:ss[.sss]' (also 'mm:ss', 'ss') -> milliseconds; -1 when malformed.
int64_t ParseDelay(std::string_view literal);

}  // namespace dbl
