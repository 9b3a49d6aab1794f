// Fuzz target: connection strings and start lines. The input is an application's string, a line
// feed, and what SQLCONNECT would hold; after merging, every parameter of the application's
// string must have its own value and every other one the variable's, character for character.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "dblib/sql/ConnectionString.h"
#include "dblib/sql/Errors.h"

using namespace dbl;

namespace {

const char* const kKeys[] = {"ENG", "DBN", "DBF", "DBS", "UID", "PWD", "ENP", "START", "ASTART", "ASTOP", "FORCE",
                             "UNC", "CON", "LINKS", "CS", "DBKEY", "DSN", "FILEDSN", "INT", "LTO", "IDLE", "LOG",
                             "DBG", "AGENT", "CBSIZE", "CBSPACE", "DMRF", "ENC", "APP"};

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view all(reinterpret_cast<const char*>(data), size);
  size_t cut = all.find('\n');
  std::string_view own = all.substr(0, cut), env = cut == std::string_view::npos ? std::string_view() : all.substr(cut + 1);
  try {
    ConnectionString app = ConnectionString::Parse(own);
    ConnectionString merged = app;
    try {
      ConnectionString defaults = ConnectionString::Parse(env);
      merged.MergeDefaults(defaults);
      for (const char* k : kKeys)
        Check(app.Has(k) ? merged.Get(k) == app.Get(k) : merged.Get(k) == defaults.Get(k));
    } catch (const SqlError&) {
    }
    for (const char* k : {"ASTART", "ASTOP", "DBG", "FORCE", "UNC"}) {
      try {
        merged.GetBool(k, true);
      } catch (const SqlError&) {
      }
    }
    StartLine::Parse(merged.Get("START"));
    FilePrefix(merged.Get("DBF"));
  } catch (const SqlError&) {
  }
  StartLine sl = StartLine::Parse(all);
  for (auto& d : sl.databases) FilePrefix(d.file);
  return 0;
}
