// Typed columns on SQLite. A SQLite column keeps whatever it is given ('abc' in an INTEGER
// column, 'nodate' in a DATE column, 500 bytes in a VARCHAR(3)), so the library applies the
// column rules of dblib/sql/Fit.h at every write itself:
//
//   - INSERT and UPDATE texts are rewritten so that each value written to a typed column passes
//     through zyl_fit(value, sqltype, length, precision, scale), which returns the value in the
//     column's form or fails the statement with the vendor's code (-157, -158, -638). An INSERT
//     from a query takes its rows through a common table expression:
//         INSERT INTO t(a, b) WITH zyl_src(zyl_c1, zyl_c2) AS (<query>)
//         SELECT zyl_fit(zyl_c1, ...), zyl_fit(zyl_c2, ...) FROM zyl_src
//   - A host-variable marker that is the whole value of a typed column (VALUES (?, ?),
//     SET c = ?) is left bare when the caller asks for it and checked as the value is bound
//     (BindChecked): the prepared INSERT of an application pays no function call per value.
//   - Positioned changes through a cursor bind their values after FittedValue in the cursor.
//
// The rules' options (string_rtruncation, conversion_error) are the connection's
// (SqliteConnection::WriteRules). Statements the rewrite does not recognise (a leading WITH, a
// row-value assignment) and rows written by triggers of the application are not checked.
#pragma once

#include <string>
#include <vector>

#include "dblib/sql/Fit.h"
#include "dblib/sqlite/Sqlite.h"

namespace dbl {

class SqliteConnection;

// One entry per '?' of a text: the column type a bare marker's value goes to (unchecked for
// markers that are no bare column value).
using MarkerTypes = std::vector<ColumnType>;

// text (SQLite's dialect) with the values written to typed columns checked. bareMarkers null:
// markers are wrapped like any other value; otherwise bare markers stay as they are and their
// types are returned (an empty vector when no marker needs a check).
std::string AddWriteChecks(SqliteConnection& conn, const std::string& text, MarkerTypes* bareMarkers);

// Registers zyl_fit on the connection's handle.
void RegisterWriteChecks(SqliteConnection& conn);

}  // namespace dbl
