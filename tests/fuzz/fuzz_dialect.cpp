// Fuzz target: the dialect translation and the questions the cursor layer asks about a SELECT.
// A text nested too deep may be refused (-131); nothing else may escape, crash or hang.
#include <cstdint>
#include <string>

#include "dblib/sql/Dialect.h"
#include "dblib/sql/Errors.h"

using namespace dbl;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string sql(reinterpret_cast<const char*>(data), size);
  DialectContext ctx;
  ctx.isUser = [](std::string_view n) { return SameIdent(n, "dba") || SameIdent(n, "sys"); };
  ctx.isTable = [](std::string_view n) { return SameIdent(n, "t") || SameIdent(n, "customer"); };
  ctx.isCharColumn = [](std::string_view, std::string_view c) { return SameIdent(c, "name"); };
  try {
    std::string out = TranslateSql(sql, ctx);
    Classify(out);
    std::string table;
    SingleTableSelect(out, table);
    WithRowidColumn(out, "zyl_rowid");
    AnalyzeSelect(out);
  } catch (const SqlError& e) {
    if (e.Code() != SQLE_SYNTAX_ERROR) __builtin_trap();
  }
  Classify(sql);
  MarkerNames(sql);
  return 0;
}
