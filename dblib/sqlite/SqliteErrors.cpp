// The one mapping of SQLite failures onto the vendor's SQLCODEs (dblib/sql/Errors.h has the codes
// and texts), and the way a library function failing inside a SQLite statement carries its own
// error out.
#include "dblib/sqlite/SqliteErrors.h"

#include <string>

#include "dblib/sqlite/Sqlite.h"

namespace dbl {
namespace {

// "main.t" -> "t"; SQLite qualifies some names with the schema.
std::string Unqualified(std::string s) {
  if (s.rfind("main.", 0) == 0) s.erase(0, 5);
  return s;
}

bool Starts(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// Splits "t.c" into table and column.
void SplitTableColumn(std::string_view s, std::string& table, std::string& column) {
  auto comma = s.find(',');  // several columns: report the first
  if (comma != std::string_view::npos) s = s.substr(0, comma);
  auto dot = s.find('.');
  if (dot == std::string_view::npos) {
    column = std::string(s);
    return;
  }
  table = std::string(s.substr(0, dot));
  column = std::string(s.substr(dot + 1));
}

}  // namespace

namespace {
// The last function failure on this thread: the handle, the message SQLite was given, the error.
struct FunctionFailure {
  sqlite3* db = nullptr;
  std::string message;
  SqlError error{0};
};
thread_local FunctionFailure t_functionFailure;
thread_local bool t_lockWaitCancelled = false;
}  // namespace

void NoteLockWaitCancelled() { t_lockWaitCancelled = true; }

void FailFunction(sqlite3_context* ctx, const SqlError& e) {
  FunctionFailure& f = t_functionFailure;
  f.db = sq::context_db_handle(ctx);
  f.message = e.what();
  f.error = e;
  sq::result_error(ctx, f.message.c_str(), int(f.message.size()));
}

SqlError FromSqlite(sqlite3* db, int rc, std::string_view sql) {
  int xrc = db ? sq::extended_errcode(db) : rc;
  if ((xrc & 0xFF) != (rc & 0xFF)) xrc = rc;
  std::string msg = db ? sq::errmsg(db) : sq::errstr(rc);
  if (FunctionFailure& f = t_functionFailure; f.db && f.db == db && (rc & 0xFF) == SQLITE_ERROR && msg == f.message) {
    f.db = nullptr;
    return f.error;
  }
  int offset = db ? sq::error_offset(db) : -1;
  bool cancelledWait = t_lockWaitCancelled;
  t_lockWaitCancelled = false;
  if (cancelledWait && (rc & 0xFF) == SQLITE_BUSY) return SqlError(SQLE_INTERRUPTED);
  switch (rc & 0xFF) {
    case SQLITE_INTERRUPT: return SqlError(SQLE_INTERRUPTED);
    case SQLITE_NOMEM: return SqlError(SQLE_DYNAMIC_MEMORY_EXHAUSTED);
    case SQLITE_FULL: return SqlError(SQLE_DEVICE_FULL, {msg});
    case SQLITE_IOERR: return SqlError(SQLE_DEVICE_ERROR, {msg});
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: return SqlError(SQLE_DATABASE_ERROR, {msg});
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return SqlError(SQLE_LOCKED, {"another connection", "the database"});
    case SQLITE_READONLY: return SqlError(SQLE_PERMISSION_DENIED, {msg});
    case SQLITE_CANTOPEN: return SqlError(SQLE_UNABLE_TO_START_DATABASE, {msg});
    case SQLITE_TOOBIG: return SqlError(SQLE_OVERFLOW_ERROR, {"(too big)"});
    case SQLITE_CONSTRAINT: {
      std::string table, column;
      auto colon = msg.find(": ");
      std::string what = colon == std::string::npos ? std::string() : msg.substr(colon + 2);
      switch (xrc) {
        case SQLITE_CONSTRAINT_NOTNULL:
          SplitTableColumn(what, table, column);
          return SqlError(SQLE_COLUMN_CANNOT_BE_NULL, {column, table});
        case SQLITE_CONSTRAINT_PRIMARYKEY:
          SplitTableColumn(what, table, column);
          return SqlError(SQLE_PRIMARY_KEY_NOT_UNIQUE, {table});
        case SQLITE_CONSTRAINT_UNIQUE:
          SplitTableColumn(what, table, column);
          return SqlError(SQLE_INDEX_NOT_UNIQUE, {column, table});
        case SQLITE_CONSTRAINT_FOREIGNKEY: return SqlError(SQLE_INVALID_FOREIGN_KEY, {"", ""});
        case SQLITE_CONSTRAINT_CHECK: return SqlError(SQLE_INVALID_COLUMN_VALUE, {what, "", ""});
        default: return SqlError(SQLE_ERROR, {msg});
      }
    }
    default: break;
  }
  // SQLITE_ERROR and the rest: tell by the message.
  std::string_view m = msg;
  if (auto p = m.find("near \""); p != std::string_view::npos && m.find("syntax error") != std::string_view::npos) {
    auto q = m.find('"', p + 6);
    std::string token(m.substr(p + 6, q == std::string_view::npos ? std::string_view::npos : q - (p + 6)));
    if (offset < 0 && !sql.empty()) {
      auto at = sql.find(token);
      offset = at == std::string_view::npos ? 0 : int(at);
    }
    return SqlError(SQLE_SYNTAX_ERROR, {token, ""}, offset);
  }
  if (m == "incomplete input" || Starts(m, "unrecognized token"))
    return SqlError(SQLE_SYNTAX_ERROR, {Starts(m, "unrecognized") ? std::string(m.substr(20)) : "end of statement", ""},
                    offset < 0 ? int(sql.size()) : offset);
  if (Starts(m, "no such table: ")) return SqlError(SQLE_TABLE_NOT_FOUND, {Unqualified(std::string(m.substr(15)))});
  if (Starts(m, "no such view: ")) return SqlError(SQLE_TABLE_NOT_FOUND, {Unqualified(std::string(m.substr(14)))});
  if (Starts(m, "no such column: ")) return SqlError(SQLE_COLUMN_NOT_FOUND, {std::string(m.substr(16))});
  if (Starts(m, "ambiguous column name: ")) return SqlError(SQLE_COLUMN_AMBIGUOUS, {std::string(m.substr(23))});
  if (Starts(m, "no such function: ")) return SqlError(SQLE_UNKNOWN_FUNC, {std::string(m.substr(18))});
  if (Starts(m, "wrong number of arguments to function ")) {
    std::string f(m.substr(38));
    if (auto p = f.find('('); p != std::string::npos) f.erase(p);
    return SqlError(SQLE_WRONG_PARAMETER_COUNT, {f});
  }
  if (Starts(m, "no such index: ")) return SqlError(SQLE_INDEX_NOT_FOUND, {std::string(m.substr(15))});
  if (m.find(" already exists") != std::string_view::npos) {
    auto sp = m.find(' ');
    std::string name(m.substr(sp + 1, m.find(" already exists") - sp - 1));
    if (Starts(m, "index ")) return SqlError(SQLE_INDEX_NAME_NOT_UNIQUE, {name});
    return SqlError(SQLE_NAME_NOT_UNIQUE, {name});
  }
  if (m.find("misuse of aggregate") != std::string_view::npos) return SqlError(SQLE_AGGREGATES_NOT_ALLOWED);
  if (Starts(m, "table ") && m.find(" has ") != std::string_view::npos && m.find(" values for ") != std::string_view::npos)
    return SqlError(SQLE_WRONG_NUM_OF_INSERT_COLS);
  if (Starts(m, "no such savepoint: ")) return SqlError(SQLE_SAVEPOINT_NOTFOUND, {std::string(m.substr(19))});
  return SqlError(SQLE_ERROR, {msg});
}

void ThrowSqlite(sqlite3* db, int rc, std::string_view sql) { throw FromSqlite(db, rc, sql); }

}  // namespace dbl
