// The one mapping of the server's failures onto the vendor's SQLCODEs. The server reports a
// five-character SQLSTATE and names the objects involved in separate fields, so the mapping goes
// by those and never by the (translatable) message text; only failed connection attempts, which
// carry no SQLSTATE through the client library, are told apart by their text.
#include <cstring>
#include <string>

#include "dblib/postgres/Pg.h"

namespace dbl::pg {
namespace {

std::string Field(const PGresult* r, int code) {
  const char* v = r ? PQresultErrorField(r, code) : nullptr;
  return v ? std::string(v) : std::string();
}

// The server's primary message without its severity prefix and trailing newline.
std::string Primary(const PGresult* r, PGconn* c) {
  std::string m = Field(r, PG_DIAG_MESSAGE_PRIMARY);
  if (m.empty()) m = r ? PQresultErrorMessage(r) : (c ? PQerrorMessage(c) : "");
  while (!m.empty() && (m.back() == '\n' || m.back() == ' ')) m.pop_back();
  return m;
}

// The first double-quoted name in a message ("relation \"t\" does not exist" -> t).
std::string QuotedName(const std::string& m) {
  auto a = m.find('"');
  if (a == std::string::npos) return {};
  auto b = m.find('"', a + 1);
  return b == std::string::npos ? std::string() : m.substr(a + 1, b - a - 1);
}

bool Class(const std::string& state, const char* cls) { return state.compare(0, 2, cls) == 0; }

}  // namespace

SqlError FromResult(const PGresult* r, PGconn* c, std::string_view sql) {
  std::string state = Field(r, PG_DIAG_SQLSTATE);
  std::string msg = Primary(r, c);
  std::string table = Field(r, PG_DIAG_TABLE_NAME);
  std::string column = Field(r, PG_DIAG_COLUMN_NAME);
  std::string constraint = Field(r, PG_DIAG_CONSTRAINT_NAME);
  int offset = -1;
  if (std::string pos = Field(r, PG_DIAG_STATEMENT_POSITION); !pos.empty()) offset = std::atoi(pos.c_str()) - 1;

  if (state.empty()) {
    // No answer from the server at all: the connection is gone.
    if (c && PQstatus(c) != CONNECTION_OK) return SqlError(SQLE_CONNECTION_TERMINATED);
    return SqlError(SQLE_ERROR, {msg});
  }
  if (state == "42601") {  // syntax error
    std::string near;
    if (offset >= 0 && size_t(offset) < sql.size()) {
      near = std::string(sql.substr(size_t(offset), 20));
      if (auto nl = near.find_first_of("\r\n"); nl != std::string::npos) near.erase(nl);
    }
    if (near.empty()) near = QuotedName(msg);
    if (near.empty()) near = "end of statement";
    return SqlError(SQLE_SYNTAX_ERROR, {near, ""}, offset);
  }
  if (state == "42P01") return SqlError(SQLE_TABLE_NOT_FOUND, {QuotedName(msg)});
  if (state == "42703") {
    std::string name = QuotedName(msg);
    // "column t.c does not exist": the column part
    if (auto dot = name.rfind('.'); dot != std::string::npos) name = name.substr(dot + 1);
    if (name.empty()) {
      // column "x" of relation ... / column x does not exist
      auto p = msg.find("column ");
      if (p != std::string::npos) {
        name = msg.substr(p + 7);
        if (auto sp = name.find(' '); sp != std::string::npos) name.erase(sp);
        if (auto dot = name.rfind('.'); dot != std::string::npos) name = name.substr(dot + 1);
      }
    }
    return SqlError(SQLE_COLUMN_NOT_FOUND, {name});
  }
  if (state == "42702") return SqlError(SQLE_COLUMN_AMBIGUOUS, {QuotedName(msg)});
  if (state == "42883") {
    std::string f = msg;
    if (auto p = f.find("function "); p != std::string::npos) f = f.substr(p + 9);
    if (auto p = f.find('('); p != std::string::npos) f.erase(p);
    return SqlError(SQLE_UNKNOWN_FUNC, {f});
  }
  if (state == "42P07" || state == "42710" || state == "42723") return SqlError(SQLE_NAME_NOT_UNIQUE, {QuotedName(msg)});
  if (state == "42704") return SqlError(SQLE_INDEX_NOT_FOUND, {QuotedName(msg)});
  if (state == "42803") return SqlError(SQLE_INVALID_GROUP_SELECT);
  if (state == "42P20" || state == "42P19") return SqlError(SQLE_AGGREGATES_NOT_ALLOWED);
  if (state == "42P18" || state == "42804" || state == "42846") {
    // datatype mismatch / cannot coerce / indeterminate type
    return SqlError(SQLE_CONVERSION_ERROR, {msg, ""});
  }
  if (state == "42501") return SqlError(SQLE_PERMISSION_DENIED, {msg});
  if (state == "23502") return SqlError(SQLE_COLUMN_CANNOT_BE_NULL, {column, table});
  if (state == "23505") {
    if (constraint.size() > 5 && constraint.compare(constraint.size() - 5, 5, "_pkey") == 0)
      return SqlError(SQLE_PRIMARY_KEY_NOT_UNIQUE, {table});
    return SqlError(SQLE_INDEX_NOT_UNIQUE, {constraint, table});
  }
  if (state == "23503") return SqlError(SQLE_INVALID_FOREIGN_KEY, {constraint, table});
  if (state == "23514") {
    // A domain's range check is a value the column's type cannot hold.
    if (table.empty()) return SqlError(SQLE_CONVERSION_ERROR, {msg, ""});
    return SqlError(SQLE_INVALID_COLUMN_VALUE, {constraint, column, table});
  }
  if (state == "22001") return SqlError(SQLE_STRING_RIGHT_TRUNCATION, {});
  if (state == "22003") return SqlError(SQLE_OVERFLOW_ERROR, {msg});
  if (state == "22012") return SqlError(SQLE_DIV_ZERO_ERROR);
  if (Class(state, "22")) return SqlError(SQLE_CONVERSION_ERROR, {msg, ""});  // bad value for its type
  if (state == "40P01") return SqlError(SQLE_DEADLOCK);
  if (state == "40001" || state == "55P03") return SqlError(SQLE_LOCKED, {"another connection", table.empty() ? msg : table});
  if (state == "57014") return SqlError(SQLE_INTERRUPTED);
  if (Class(state, "08") || state == "57P01" || state == "57P02" || state == "57P03")
    return SqlError(SQLE_CONNECTION_TERMINATED);
  if (state == "34000") return SqlError(SQLE_CURSOR_NOT_OPEN);
  if (state == "42P03") return SqlError(SQLE_CURSOR_ALREADY_OPEN);
  if (state == "24000") return SqlError(SQLE_INVALID_FETCH_POSITION);
  if (state == "3D000") return SqlError(SQLE_DATABASE_NOT_FOUND);
  if (state == "55006") return SqlError(SQLE_MUST_BE_ONLY_CONNECTION, {msg});
  if (state == "3B001") return SqlError(SQLE_SAVEPOINT_NOTFOUND, {QuotedName(msg)});
  if (state == "53100") return SqlError(SQLE_DEVICE_FULL, {msg});
  if (Class(state, "53")) return SqlError(SQLE_DYNAMIC_MEMORY_EXHAUSTED);
  if (Class(state, "58") || Class(state, "XX")) return SqlError(SQLE_DATABASE_ERROR, {msg});
  return SqlError(SQLE_ERROR, {msg});
}

SqlError FromConnect(PGconn* c) {
  std::string m = c ? PQerrorMessage(c) : "";
  auto has = [&](const char* s) { return m.find(s) != std::string::npos; };
  if (has("password authentication failed") || has("authentication failed") || (has("role \"") && has("does not exist")) ||
      has("no password supplied") || has("password is too long"))
    return SqlError(SQLE_INVALID_LOGON);
  if (has("database \"") && has("does not exist")) return SqlError(SQLE_DATABASE_NOT_FOUND);
  if (has("too many clients") || has("remaining connection slots")) return SqlError(SQLE_TOO_MANY_CONNECTIONS);
  return SqlError(SQLE_ENGINE_NOT_RUNNING);
}

}  // namespace dbl::pg
