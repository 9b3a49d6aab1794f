// DESCRIBE of a prepared statement on a SQLite connection, with the type mapping of
// dblib/sql/TypeMap.h.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

#include "dblib/sql/Describe.h"
#include "dblib/sql/TypeMap.h"

namespace dbl {

class SqliteConnection;

// Result columns of a prepared statement (SQLite's dialect text, for inference): the declared
// type where SQLite knows the column's origin, otherwise a type inferred from the select-list
// expression (literals, CAST, aggregates over typed columns, arithmetic, string functions,
// CASE, connection variables); long varchar where nothing can be inferred.
void DescribeResultColumns(SqliteConnection& conn, sqlite3_stmt* st, const std::string& translated,
                           std::vector<ColumnDesc>& out);

// Host variables in marker order: names from the application's text, and the type of the
// column a marker is compared with or assigned to where that is visible (col = ?, ? < col,
// INSERT INTO t (cols) VALUES (...), UPDATE t SET col = ?).
void DescribeHostVariables(SqliteConnection& conn, sqlite3_stmt* st, const std::string& text,
                           std::vector<ParamDesc>& out);
}  // namespace dbl
