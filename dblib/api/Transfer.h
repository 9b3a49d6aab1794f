// Moving values between a caller's SQLDA and dbl::Value for the entry points that are not
// cursor fetches (EXECUTE ... INTO, options, connection information, explain). Input: every
// DT_ type the binding binds with, DT_VARIABLE through the connection's variables. Output:
// conversion into the variable's type, truncation reported through the indicator (full length)
// and warning 101, NULL as indicator -1 (-181 without indicator).
#pragma once

#include <functional>
#include <vector>

#include "dblib/engine/Engine.h"
#include "dblib/esql.h"

namespace dbl {

// The DT_ codes of a statement's markers as DESCRIBE INPUT gives them (0 where unknown).
using InputTypes = std::function<const std::vector<short>&()>;

// Values of sqlvar[0 .. sqld-1]; an indicator < 0 sends NULL. -759 for unknown types,
// -260 for an unknown DT_VARIABLE name. A NULL SQLDA gives no values. destTypes (asked only
// when a date-time record is sent) tells a record for a DATE marker from one for a TIMESTAMP.
std::vector<Value> ReadInputs(const SQLDA* da, Connection& conn, const InputTypes& destTypes = {});
// Writes vals into sqlvar[0 .. n-1]; -182 when the SQLDA has fewer variables than values.
// Returns 101 when a value was truncated, else 0.
int WriteOutputs(SQLDA* da, const std::vector<Value>& vals);
// One value into one variable; returns 101 on truncation.
int WriteValue(SQLVAR& var, const Value& v);

}  // namespace dbl
