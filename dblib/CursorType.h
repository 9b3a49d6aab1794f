// The complete cursor type for the engine and entry layers: the cursor unit's dblib/Cursor.h,
// or, in a tree where that unit has not landed yet, a placeholder that no code can open.
#pragma once

#if __has_include("dblib/Cursor.h")
#include "dblib/Cursor.h"
#else
namespace dbl {
class Cursor {
 public:
  virtual ~Cursor() = default;
};
}  // namespace dbl
#endif
