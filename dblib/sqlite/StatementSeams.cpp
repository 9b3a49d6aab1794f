// The statement seams (StatementSeams.h), wired to the dialect, type-mapping, catalog and
// cursor units of the library.
#include "dblib/sqlite/StatementSeams.h"

#include "dblib/engine/Cursor.h"
#include "dblib/sql/Describe.h"
#include "dblib/sql/Dialect.h"
#include "dblib/sqlite/Catalog.h"
#include "dblib/sqlite/SqliteErrors.h"
#include "dblib/sqlite/SqliteStatement.h"
#include "dblib/sqlite/TypeMapDescribe.h"

// Stand-ins: a strong definition elsewhere in the library wins at link time.
#define ZYL_STANDIN __attribute__((weak))

namespace dbl {

std::unique_ptr<Cursor> Statement::Resume(Cursor&) { return nullptr; }

ZYL_STANDIN std::string TranslateDialect(SqliteConnection& conn, std::string_view text) { return TranslateForConnection(conn, text); }

ZYL_STANDIN void DescribeColumns(SqliteConnection& conn, sqlite3_stmt* st, const std::string& sql, std::vector<ColumnDesc>& out) {
  DescribeResultColumns(conn, st, sql, out);
}

ZYL_STANDIN void DescribeParameters(SqliteConnection& conn, sqlite3_stmt* st, const std::string& text, std::vector<ParamDesc>& out) {
  DescribeHostVariables(conn, st, text, out);
}

ZYL_STANDIN void DescribeMarkers(const std::string& text, std::vector<ParamDesc>& out) { DescribeMarkerNames(text, out); }

ZYL_STANDIN void AfterDefinition(SqliteConnection& conn, const std::string& text) { catalog::AfterDefinition(conn, text); }

ZYL_STANDIN std::unique_ptr<Cursor> OpenCursor(SqlStatement& st, const std::vector<Value>& in, const CursorOptions& options) {
  // Until the streaming SQLite cursor is wired in: the rows read at open, held in memory.
  SqliteConnection& conn = st.Conn();
  std::vector<ColumnDesc> cols;
  DescribeColumns(conn, st.Raw(), st.Translated(), cols);
  sqlite3_stmt* raw = conn.PrepareRaw(st.Translated());
  std::vector<std::vector<Value>> rows;
  try {
    SqliteConnection::Bind(raw, in);
    int rc;
    int n = sq::column_count(raw);
    while ((rc = sq::step(raw)) == SQLITE_ROW) {
      std::vector<Value> row;
      for (int i = 0; i < n; ++i) row.push_back(SqliteConnection::ColumnValue(raw, i));
      rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) ThrowSqlite(conn.Handle(), rc, st.Translated());
  } catch (...) {
    sq::finalize(raw);
    throw;
  }
  sq::finalize(raw);
  return MakeRowsCursor(std::move(cols), std::move(rows));
}

ZYL_STANDIN void RegisterConnectionFunctions(SqliteConnection& conn) {}

}  // namespace dbl
