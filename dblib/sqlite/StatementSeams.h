// The seams where the statement layer of the SQLite engine hands work to the units that know
// the SQL dialect, the type mapping, the catalog and the cursors. Each seam is one function,
// so the engine code stays the same whichever unit fills it in. StatementSeams.cpp forwards
// them to those units; its definitions are weak, so a unit that defines a seam itself (the
// cursor unit's OpenCursor) replaces the forwarding one at link time.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "dblib/sqlite/SqliteEngine.h"

namespace dbl {

class SqlStatement;

// The application's SQL in SQLite's dialect.
std::string TranslateDialect(SqliteConnection& conn, std::string_view text);
// Result-column descriptions of a prepared statement.
void DescribeColumns(SqliteConnection& conn, sqlite3_stmt* st, const std::string& sql, std::vector<ColumnDesc>& out);
// Host variables of a prepared statement (names after the colon, "?" for plain markers).
void DescribeParameters(SqliteConnection& conn, sqlite3_stmt* st, const std::string& text, std::vector<ParamDesc>& out);
// Host variables of a text the library runs itself (SET v = ..., ...).
void DescribeMarkers(const std::string& text, std::vector<ParamDesc>& out);
// Catalog bookkeeping after CREATE/ALTER/DROP ran (table owners ...).
void AfterDefinition(SqliteConnection& conn, const std::string& text);
// A cursor over the statement's result.
std::unique_ptr<Cursor> OpenCursor(SqlStatement& st, const std::vector<Value>& in, const CursorOptions& options);

}  // namespace dbl
