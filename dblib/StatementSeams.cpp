// The statement seams (StatementSeams.h), wired to the dialect, type-mapping, catalog and
// cursor units of the library.
#include "dblib/StatementSeams.h"

#include "dblib/CursorType.h"
#include "dblib/Describe.h"
#include "dblib/Errors.h"
#include "dblib/SqliteStatement.h"

namespace dbl {

std::unique_ptr<Cursor> Statement::Resume(Cursor&) { return nullptr; }

std::string TranslateDialect(SqliteConnection& conn, std::string_view text) { return std::string(text); }

namespace {

std::string Lower(std::string s) {
  for (auto& ch : s) ch = char(std::tolower(static_cast<unsigned char>(ch)));
  return s;
}

// Declared type text -> DT code and DESCRIBE length (the type-mapping unit refines this).
void MapDeclared(const std::string& declIn, ColumnDesc& c) {
  std::string d = Lower(declIn);
  int n = 0, p2 = 0;
  if (auto lp = d.find('('); lp != std::string::npos) {
    n = std::atoi(d.c_str() + lp + 1);
    if (auto comma = d.find(',', lp); comma != std::string::npos) p2 = std::atoi(d.c_str() + comma + 1);
  }
  auto has = [&](const char* w) { return d.find(w) != std::string::npos; };
  if (has("long varchar") || has("text") || has("clob")) c.sqltype = DT_LONGVARCHAR, c.sqllen = 32767;
  else if (has("long binary") || has("blob") || has("image")) c.sqltype = DT_LONGBINARY, c.sqllen = 32767;
  else if (has("varbinary") || has("binary")) c.sqltype = DT_BINARY, c.sqllen = n > 0 ? n : 1;
  else if (has("varchar") || has("char")) {
    bool fixed = !has("varchar");
    if (n <= 0) n = fixed ? 1 : 32767;
    if (n > 32767) c.sqltype = DT_LONGVARCHAR, c.sqllen = 32767;
    else c.sqltype = fixed ? DT_FIXCHAR : DT_VARCHAR, c.sqllen = n;
  } else if (has("unsigned") && has("bigint")) c.sqltype = DT_UNSBIGINT, c.sqllen = 8;
  else if (has("unsigned") && has("smallint")) c.sqltype = DT_UNSSMALLINT, c.sqllen = 2;
  else if (has("unsigned")) c.sqltype = DT_UNSINT, c.sqllen = 4;
  else if (has("bigint")) c.sqltype = DT_BIGINT, c.sqllen = 8;
  else if (has("smallint")) c.sqltype = DT_SMALLINT, c.sqllen = 2;
  else if (has("tinyint")) c.sqltype = DT_TINYINT, c.sqllen = 1;
  else if (has("bit")) c.sqltype = DT_BIT, c.sqllen = 1;
  else if (has("int")) c.sqltype = DT_INT, c.sqllen = 4;
  else if (has("money")) c.sqltype = DT_DECIMAL, c.precision = 19, c.scale = 4, c.sqllen = 4 * 256 + 19;
  else if (has("decimal") || has("numeric")) {
    c.precision = n > 0 ? n : 30;
    c.scale = p2;
    c.sqltype = DT_DECIMAL, c.sqllen = c.scale * 256 + c.precision;
  } else if (has("double")) c.sqltype = DT_DOUBLE, c.sqllen = 8;
  else if (has("real")) c.sqltype = DT_FLOAT, c.sqllen = 4;
  else if (has("float")) c.sqltype = n > 0 && n <= 24 ? DT_FLOAT : DT_DOUBLE, c.sqllen = c.sqltype == DT_FLOAT ? 4 : 8;
  else if (has("timestamp") || has("datetime")) c.sqltype = DT_TIMESTAMP, c.sqllen = 23;
  else if (has("date")) c.sqltype = DT_DATE, c.sqllen = 10;
  else if (has("time")) c.sqltype = DT_TIME, c.sqllen = 12;
  else c.sqltype = DT_LONGVARCHAR, c.sqllen = 32767;
}

}  // namespace

void DescribeColumns(SqliteConnection& conn, sqlite3_stmt* st, const std::string& sql, std::vector<ColumnDesc>& out) {
  out.clear();
  int n = sq::column_count(st);
  for (int i = 0; i < n; ++i) {
    ColumnDesc c;
    const char* name = sq::column_name(st, i);
    c.name = name ? name : "";
    const char* table = sq::column_table_name(st, i);
    const char* origin = sq::column_origin_name(st, i);
    const char* decl = sq::column_decltype(st, i);
    if (table) c.baseTable = table;
    if (origin) c.baseColumn = origin;
    if (decl) {
      MapDeclared(decl, c);
    } else {
      // Nothing declared: long character, so no value is ever cut.
      c.sqltype = DT_LONGVARCHAR;
      c.sqllen = 32767;
    }
    if (table && origin) {
      int notNull = 0, pk = 0, autoinc = 0;
      const char* declType = nullptr;
      const char* coll = nullptr;
      if (sq::table_column_metadata(conn.Handle(), nullptr, table, origin, &declType, &coll, &notNull, &pk, &autoinc) ==
          SQLITE_OK)
        c.nullable = !notNull;
      c.readOnly = false;
    }
    out.push_back(std::move(c));
  }
}

void ClearColumns(std::vector<ColumnDesc>& out) { out.clear(); }

void DescribeParameters(SqliteConnection& conn, sqlite3_stmt* st, const std::string& text, std::vector<ParamDesc>& out) {
  out.clear();
  int n = sq::bind_parameter_count(st);
  for (int i = 1; i <= n; ++i) {
    ParamDesc p;
    const char* name = sq::bind_parameter_name(st, i);
    if (name && (name[0] == ':' || name[0] == '@' || name[0] == '$')) p.name = name + 1;
    out.push_back(std::move(p));
  }
}

void DescribeMarkers(const std::string& text, std::vector<ParamDesc>& out) {
  out.clear();
  bool quote = false;
  char q = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char ch = text[i];
    if (quote) {
      if (ch == q) quote = false;
      continue;
    }
    if (ch == '\'' || ch == '"') {
      quote = true;
      q = ch;
    } else if (ch == '?') {
      out.push_back(ParamDesc());
    } else if (ch == ':' && i + 1 < text.size() && (std::isalpha(static_cast<unsigned char>(text[i + 1])) || text[i + 1] == '_')) {
      size_t e = i + 1;
      while (e < text.size() && (std::isalnum(static_cast<unsigned char>(text[e])) || text[e] == '_')) ++e;
      ParamDesc p;
      p.name = text.substr(i + 1, e - i - 1);
      out.push_back(std::move(p));
      i = e - 1;
    }
  }
}

void AfterDefinition(SqliteConnection& conn, const std::string& text) {}

std::unique_ptr<Cursor> OpenCursor(SqlStatement& st, const std::vector<Value>& in, const CursorOptions& options) {
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

void RegisterConnectionFunctions(SqliteConnection& conn) {}

}  // namespace dbl
