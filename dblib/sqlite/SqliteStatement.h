// Statements on a SQLite connection. Prepare sorts the application's text into
//   - statements the library carries out itself (connection variables, SET OPTION,
//     GRANT/REVOKE CONNECT, CREATE/DROP DATABASE, COMMIT/ROLLBACK),
//   - statements a registered prepare hook claims (stored procedures: CALL, CREATE PROCEDURE),
//   - everything else: translated to SQLite's dialect and prepared by SQLite.
// A SqlStatement keeps its sqlite3_stmt for repeated execution; a cursor opened on it gets a
// statement of its own, so several cursors over one prepared statement do not interfere.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dblib/sqlite/SqliteEngine.h"

namespace dbl {

// A hook returns a statement for texts it handles, nullptr for the others. Hooks are
// registered once at load time (static initialisers) and consulted in order.
using PrepareHook = std::unique_ptr<Statement> (*)(SqliteConnection& conn, std::string_view text);
void RegisterPrepareHook(PrepareHook hook);

// SQL functions every connection gets (zyl_getvar is registered by the connection itself).
void RegisterConnectionFunctions(SqliteConnection& conn);

// First keywords of a statement, upper-cased, comments and blanks skipped (at most n).
std::vector<std::string> LeadingWords(std::string_view text, size_t n);

class CursorPlan;  // dblib/sqlite/SqliteCursor.h

class SqlStatement : public Statement {
 public:
  SqlStatement(SqliteConnection& conn, std::string text, std::string translated, bool definesObjects,
               std::vector<ColumnType> markerTypes = {});
  ~SqlStatement() override;
  const std::string& Text() const override { return text_; }
  void DescribeOutput(std::vector<ColumnDesc>& out, bool& mayVary) override;
  void DescribeInput(std::vector<ParamDesc>& out) override;
  bool HasResultSet() const override;
  ExecResult Execute(const std::vector<Value>& in, std::vector<Value>* out) override;
  std::unique_ptr<Cursor> Open(const std::vector<Value>& in, const CursorOptions& options) override;

  const std::string& Translated() const { return translated_; }
  sqlite3_stmt* Raw() const { return st_; }
  SqliteConnection& Conn() const { return conn_; }
  // What its cursors keep from one open to the next (made and renewed by the cursor unit).
  std::shared_ptr<CursorPlan>& Plan() { return plan_; }
  // Prepares the statement again (the schema changed), so that describing it sees the change.
  void Reprepare();

 private:
  SqliteConnection& conn_;
  std::string text_;        // as the application wrote it
  std::string translated_;  // what SQLite runs (variables resolved)
  bool definesObjects_;     // CREATE/ALTER/DROP: commit before and after
  std::vector<ColumnType> markerTypes_;  // per marker: the typed column a bare value goes to
  sqlite3_stmt* st_ = nullptr;  // owned
  std::shared_ptr<CursorPlan> plan_;
};

}  // namespace dbl
