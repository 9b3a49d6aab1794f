// Errors inside the library and their way out through the SQLCA. Inside, a failing operation
// throws dbl::SqlError (the vendor's SQLCODE plus the message parameters); every entry point
// catches it and writes code, SQLSTATE and parameters into the caller's SQLCA, so no exception
// ever crosses the C boundary. This unit also owns the table SQLCODE -> SQLSTATE -> message text;
// the mapping from an engine's own failures to SQLCODEs lives with that engine
// (dblib/sqlite/SqliteErrors.h).
#pragma once

#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "dblib/esql.h"

namespace dbl {

class SqlError : public std::exception {
 public:
  explicit SqlError(int code, std::vector<std::string> args = {}, int offset = -1)
      : code_(code), args_(std::move(args)), offset_(offset) {}
  int Code() const { return code_; }
  const std::vector<std::string>& Args() const { return args_; }
  int Offset() const { return offset_; }  // syntax errors: character offset, else -1
  const char* what() const noexcept override;

 private:
  int code_;
  std::vector<std::string> args_;  // substituted for %1, %2, ... of the message
  int offset_;
  mutable std::string what_;
};

// Vendor texts. Unknown codes get SQLSTATE "WW000" / "Run time SQL error -- %1" style fallbacks.
const char* SqlStateOf(int code);
const char* MessageFormatOf(int code);  // nullptr for 0
std::string FormatMessage(int code, const std::vector<std::string>& args);

// A type name with its indefinite article, for "Cannot convert %1 to %2": "an integer", "a date".
std::string WithArticle(std::string_view typeName);

// SQLCA plumbing. Clear: success and SQLCOUNT 0 (sqlerrd[1] is cumulative, left alone).
void ClearSqlca(SQLCA* ca);
void SetSqlca(SQLCA* ca, int code, const std::vector<std::string>& args = {});
void SetSqlca(SQLCA* ca, const SqlError& e);

}  // namespace dbl
