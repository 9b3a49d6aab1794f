// Fuzz target: the procedure parser and the marker helpers the interpreter uses. A definition
// that parses must parse again from its stored text (as it does when first called).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "dblib/proc/ProcLang.h"
#include "dblib/sql/Errors.h"

using namespace dbl;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  IsProcDdl(text);
  IsCallText(text);
  try {
    ProcDef def = ParseProcDdl(text);
    def.CatalogRows();
    try {
      ParseProcDdl(def.text);
    } catch (const SqlError&) {
      std::abort();  // accepted once, refused when read back from the catalog
    }
  } catch (const SqlError&) {
  }
  try {
    ParseCallText(text);
  } catch (const SqlError&) {
  }
  try {
    std::string copy = text;
    ReplaceIdentifier(copy, "x", ":zv1");
    CountMarkers(text);
    std::vector<std::string> names;
    PositionalMarkers(text, names);
    NamedMarkers(text);
  } catch (const SqlError&) {
  }
  return 0;
}
