// Cursors over SQLite results. SQLite steps forward only, so this unit builds the vendor's
// scrolling on top of one forward stream per cursor:
//
//   - A SELECT over one base table runs with that table's rowid as an extra, hidden column.
//     The cursor remembers the rowid of every row it has passed (8 bytes a row), re-reads rows
//     behind the stream by rowid, and re-reads the current row by rowid for FETCH RELATIVE 0
//     (so a change another connection committed is seen). Such a cursor can be updated.
//   - Any other SELECT (joins, grouping, ...) keeps the rows it has delivered; a row it skipped
//     over and is asked for again is found by running the query again up to that row.
//   - A forward-only (no scroll) cursor keeps nothing but the stream: memory stays flat.
//
// Stream life cycle:
//   running (on row k, k rows passed) --step--> running (k+1) | done (N = k)
//   running --Refresh (must see the database as it is now)--> parked: the statement is reset so
//   the connection's read snapshot ends; the next step forward runs the query again and skips
//   the k rows already passed.   An abort by a rollback also parks the stream.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dblib/engine/Cursor.h"
#include "dblib/engine/Engine.h"

namespace dbl {

class SqliteConnection;

// Opens a cursor on `translated` (the statement's text in SQLite's dialect) with the host
// values `in`. columns: the statement's described result columns.
std::unique_ptr<Cursor> MakeSqliteCursor(SqliteConnection& conn, const std::string& translated,
                                         std::vector<ColumnDesc> columns, const std::vector<Value>& in,
                                         const CursorOptions& options);

}  // namespace dbl
