// A prepared SQLite statement for the library's own bookkeeping queries (catalog, users):
// prepared through the fault-seam wrapper, finalised on every path, and every failure thrown
// as the vendor's SQLCODE.
#pragma once

#include <string>

#include "dblib/sqlite/Sqlite.h"
#include "dblib/sqlite/SqliteErrors.h"

namespace dbl {

class SqliteStmt {
 public:
  SqliteStmt(sqlite3* db, const char* sql) : db_(db) {
    int rc = sq::prepare_v2(db, sql, -1, &st_, nullptr);
    if (rc != SQLITE_OK) ThrowSqlite(db, rc, sql);
  }
  ~SqliteStmt() { sq::finalize(st_); }
  SqliteStmt(const SqliteStmt&) = delete;
  SqliteStmt& operator=(const SqliteStmt&) = delete;

  void Int(int i, long long v) { Check(sq::bind_int64(st_, i, v)); }
  void Text(int i, const std::string& v) {
    Check(sq::bind_text(st_, i, v.data(), int(v.size()), SQLITE_TRANSIENT));
  }
  void Null(int i) { Check(sq::bind_null(st_, i)); }
  // True while a row is there; false at the end; throws on failure.
  bool Step() {
    int rc = sq::step(st_);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) ThrowSqlite(db_, rc);
    return false;
  }
  long long ColInt(int i) { return sq::column_int64(st_, i); }
  bool ColNull(int i) { return sq::column_type(st_, i) == SQLITE_NULL; }
  // The whole text, embedded NULs included.
  std::string ColText(int i) {
    const unsigned char* t = sq::column_text(st_, i);
    return t ? std::string(reinterpret_cast<const char*>(t), size_t(sq::column_bytes(st_, i))) : std::string();
  }

 private:
  void Check(int rc) {
    if (rc != SQLITE_OK) ThrowSqlite(db_, rc);
  }
  sqlite3* db_;
  sqlite3_stmt* st_ = nullptr;
};

}  // namespace dbl
