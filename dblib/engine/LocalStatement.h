// A statement the library carries out itself instead of sending it to the engine (connection
// variables, SET OPTION, users, CREATE/DROP DATABASE, COMMIT/ROLLBACK ...): no result set, its
// host variables described by name, and one function that does the work when it is executed.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dblib/engine/Cursor.h"
#include "dblib/engine/Engine.h"
#include "dblib/sql/Describe.h"
#include "dblib/sql/Errors.h"
#include "dblib/sql/TypeMap.h"

namespace dbl {

class LocalStatement : public Statement {
 public:
  using Run = std::function<ExecResult(const std::vector<Value>&)>;
  LocalStatement(std::string text, Run run) : text_(std::move(text)), run_(std::move(run)) {}
  const std::string& Text() const override { return text_; }
  void DescribeOutput(std::vector<ColumnDesc>& out, bool& mayVary) override {
    out.clear();
    mayVary = false;
  }
  void DescribeInput(std::vector<ParamDesc>& out) override { DescribeMarkerNames(text_, out); }
  bool HasResultSet() const override { return false; }
  ExecResult Execute(const std::vector<Value>& in, std::vector<Value>* out) override {
    if (out) out->clear();
    return run_(in);
  }
  std::unique_ptr<Cursor> Open(const std::vector<Value>&, const CursorOptions&) override {
    throw SqlError(SQLE_OPEN_CURSOR_ERROR);
  }

 private:
  std::string text_;
  Run run_;
};

}  // namespace dbl
