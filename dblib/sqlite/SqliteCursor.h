// Cursors over SQLite results. SQLite steps forward only, so this unit builds the vendor's
// scrolling on top of one forward stream per cursor:
//
//   - A SELECT over one base table runs with that table's rowid as an extra, hidden column.
//     The cursor remembers the rowid of every row it has passed (RowidList: a few bytes per
//     4096 rows for a result in rowid order, 8 bytes a row otherwise), re-reads rows
//     behind the stream by rowid, and re-reads the current row by rowid for FETCH RELATIVE 0
//     (so a change another connection committed is seen). Such a cursor can be updated.
//   - Any other SELECT (joins, grouping, ...) keeps the rows it has delivered; a row it skipped
//     over and is asked for again is found by running the query again up to that row.
//   - A forward-only (no scroll) cursor keeps nothing but the stream: memory stays flat.
//
// An open that must report the exact row count (option row_counts) reads up to 32 rows ahead
// and keeps copies of them: a result that ends within them is counted without a second pass
// (a look-up by key costs one read), a longer one is counted by a count query. Those rows are
// delivered from the copies the first time the cursor reaches them; they are as old as the
// stream's snapshot, and go as soon as the cursor has passed them or parks the stream.
//
// Stream life cycle:
//   running (on row k, k rows passed) --step--> running (k+1) | done (N = k)
//   running --Refresh (must see the database as it is now)--> parked: the statement is reset so
//   the connection's read snapshot ends; the next step forward runs the query again and skips
//   the k rows already passed.   An abort by a rollback also parks the stream.
//
// What does not change from one open of a prepared statement to the next lives in its
// CursorPlan, made at the first open: the text the stream runs, the column description, and the
// SQLite statements of earlier cursors (stream, re-read, count, estimate), reset and kept for
// the next open, so that opening again parses and describes nothing. A plan goes stale when
// SQLite has to prepare a statement again (the schema changed); the next open makes a new one.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dblib/engine/Cursor.h"
#include "dblib/engine/Engine.h"
#include "dblib/sqlite/Sqlite.h"

namespace dbl {

class SqliteConnection;

// A view of an SQLite value without copying it: valid until the value's statement or call moves on.
inline ValueRef RefOf(sqlite3_value* v) {
  ValueRef r;
  switch (sq::value_type(v)) {
    case SQLITE_INTEGER: r.kind = Value::Kind::Integer; r.i = sq::value_int64(v); break;
    case SQLITE_FLOAT: r.kind = Value::Kind::Real; r.d = sq::value_double(v); break;
    case SQLITE_TEXT:
      r.kind = Value::Kind::Text;
      r.p = reinterpret_cast<const char*>(sq::value_text(v));
      r.n = static_cast<size_t>(sq::value_bytes(v));
      break;
    case SQLITE_BLOB:
      r.kind = Value::Kind::Blob;
      r.p = static_cast<const char*>(sq::value_blob(v));
      r.n = static_cast<size_t>(sq::value_bytes(v));
      break;
    default: break;
  }
  return r;
}

class CursorPlan {
 public:
  enum Kind { kStream, kReread, kCount, kEstimate, kKinds };

  // translated: the statement's text in SQLite's dialect; columns: its described result columns.
  CursorPlan(SqliteConnection& conn, const std::string& translated, std::vector<ColumnDesc> columns);
  ~CursorPlan();
  CursorPlan(const CursorPlan&) = delete;
  CursorPlan& operator=(const CursorPlan&) = delete;

  SqliteConnection& Conn() const { return conn_; }
  const std::vector<ColumnDesc>& Columns() const { return cols_; }
  const std::string& Base() const { return base_; }    // the statement without trailing comments
  const std::string& Table() const { return table_; }  // the one base table, empty otherwise
  bool Rowid() const { return rowid_; }                // the stream's last column is the rowid

  // A prepared statement of that kind: one an earlier cursor gave back, or a new one.
  sqlite3_stmt* Take(Kind k);
  // Back for the next cursor (reset, bindings cleared), or finalized.
  void Give(Kind k, sqlite3_stmt* st);
  // Storage for the rows read ahead, handed from cursor to cursor.
  void TakeHead(std::vector<std::vector<Value>>& rows);
  void GiveHead(std::vector<std::vector<Value>>& rows);

  void MarkStale() { stale_ = true; }
  bool Stale() const { return stale_; }

 private:
  std::string TextOf(Kind k) const;

  SqliteConnection& conn_;
  std::vector<ColumnDesc> cols_;
  std::string base_, text_, table_;
  bool rowid_ = false;
  bool stale_ = false;
  std::vector<sqlite3_stmt*> idle_[kKinds];
  std::vector<std::vector<Value>> head_;
};

}  // namespace dbl
