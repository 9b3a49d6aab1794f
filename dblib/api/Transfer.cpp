// Descriptor <-> value transfer for the non-fetch entry points, over the conversion unit.
#include "dblib/api/Transfer.h"

#include "dblib/sql/Convert.h"
#include "dblib/sql/Errors.h"

namespace dbl {

std::vector<Value> ReadInputs(const SQLDA* da, Connection& conn, const InputTypes& destTypes) {
  std::vector<Value> vals;
  if (!da) return vals;
  if (da->sqld < 0 || da->sqld > da->sqln) throw SqlError(SQLE_SQLDA_TOO_SMALL);
  vals.reserve(size_t(da->sqld));
  for (int i = 0; i < da->sqld; ++i) {
    Value v;
    std::string varName;
    short dest = 0;
    if ((da->sqlvar[i].sqltype & DT_TYPES) == DT_TIMESTAMP_STRUCT && destTypes) {
      const std::vector<short>& types = destTypes();
      if (size_t(i) < types.size()) dest = types[size_t(i)];
    }
    // A variable that takes no part still stands for its marker: it sends NULL.
    if (ReadValue(da->sqlvar[i], dest, v, &varName) && !varName.empty()) {
      if (!conn.GetVariable(varName, v)) throw SqlError(SQLE_VARIABLE_NOT_FOUND, {varName});
    }
    vals.push_back(std::move(v));
  }
  return vals;
}

int WriteValue(SQLVAR& var, const Value& v) { return PutValue(v, 0, var); }

int WriteOutputs(SQLDA* da, const std::vector<Value>& vals) {
  if (vals.empty()) return 0;
  if (!da || da->sqln < int(vals.size()) || da->sqld < int(vals.size())) throw SqlError(SQLE_SQLDA_TOO_SMALL);
  int warn = 0;
  for (size_t i = 0; i < vals.size(); ++i)
    if (WriteValue(da->sqlvar[i], vals[i]) == SQLE_TRUNCATED) warn = SQLE_TRUNCATED;
  return warn;
}

}  // namespace dbl
