// DESCRIBE of a prepared statement on a SQLite connection: result columns with their declared
// or inferred types, host variables with their names and, where visible, the type of the
// column they meet (TypeMap.h).
#include "dblib/esql.h"
#include "dblib/sql/Dialect.h"
#include "dblib/sqlite/Catalog.h"
#include "dblib/sqlite/SqliteEngine.h"
#include "dblib/sqlite/TypeMapDescribe.h"

namespace dbl {
namespace {

bool Internal(const char* table) {
  if (!table) return true;
  std::string_view t(table);
  return t.substr(0, 4) == "zyl_" || t.substr(0, 7) == "sqlite_" || t.substr(0, 7) == "pragma_";
}

// Column references of one statement, resolved against its table references.
class StatementColumns : public ColumnResolver {
 public:
  StatementColumns(SqliteConnection& conn, std::vector<TableRef> from) : conn_(conn), from_(std::move(from)) {}

  TypeInfo Column(std::string_view qualifier, std::string_view column) override {
    for (const TableRef& r : from_) {
      if (r.name.empty()) continue;
      if (!qualifier.empty() && !SameIdent(qualifier, r.alias) && !(r.alias.empty() && SameIdent(qualifier, r.name)))
        continue;
      TypeInfo t = Lookup(r.name, column);
      if (t.Known()) return t;
    }
    return {};
  }
  TypeInfo Variable(std::string_view name) override {
    std::string n(name);
    if (!conn_.HasVariable(n)) return {};
    TypeInfo t = MapDeclaredType(conn_.VariableType(n));
    return t.Known() ? t : LongVarcharType();
  }
  // Declared type and nullability of table.column (views of the catalog included).
  TypeInfo Lookup(const std::string& table, std::string_view column, bool* nullable = nullptr) {
    TypeInfo t = catalog::ViewColumnType(table, column);
    if (t.Known()) return t;
    if (SameIdent(column, "rowid")) return MapDeclaredType("bigint");
    const char* decl = nullptr;
    const char* coll = nullptr;
    int notNull = 0, pk = 0, autoinc = 0;
    if (sq::table_column_metadata(conn_.Handle(), nullptr, table.c_str(), std::string(column).c_str(), &decl, &coll,
                                  &notNull, &pk, &autoinc) != SQLITE_OK)
      return {};
    if (nullable) *nullable = !notNull && !pk;
    return decl ? MapDeclaredType(decl) : TypeInfo{};
  }

 private:
  SqliteConnection& conn_;
  std::vector<TableRef> from_;
};

// The table a DML statement writes (INSERT INTO t / UPDATE t / DELETE FROM t).
std::string TargetTable(const std::vector<Token>& t, size_t& after) {
  for (size_t i = 0; i + 1 < t.size(); ++i) {
    if (t[i].Is("into") || t[i].Is("update") || (t[i].Is("from") && i > 0 && t[i - 1].Is("delete"))) {
      size_t k = i + 1;
      while (k < t.size() && (t[k].Is("or") || t[k].Is("rollback") || t[k].Is("abort") || t[k].Is("replace") ||
                              t[k].Is("fail") || t[k].Is("ignore")))
        ++k;
      if (k >= t.size() || !t[k].IsIdent()) return {};
      std::string name = t[k].Ident();
      if (k + 2 < t.size() && t[k + 1].kind == Token::Dot && t[k + 2].IsIdent()) {
        name = t[k + 2].Ident();
        k += 2;
      }
      after = k + 1;
      return name;
    }
  }
  return {};
}

bool Comparison(const Token& k) {
  if (k.kind != Token::Op) return k.Is("like");
  std::string_view o = k.text;
  return o == "=" || o == "==" || o == "<" || o == ">" || o == "<=" || o == ">=" || o == "<>" || o == "!=";
}

}  // namespace

void DescribeResultColumns(SqliteConnection& conn, sqlite3_stmt* st, const std::string& translated,
                           std::vector<ColumnDesc>& out) {
  out.clear();
  int n = sq::column_count(st);
  SelectShape shape = AnalyzeSelect(translated);
  StatementColumns columns(conn, shape.from);
  bool byPosition = int(shape.itemTexts.size()) == n;
  for (const std::string& item : shape.itemTexts)
    if (item.find('*') != std::string::npos && Tokenize(item).back().text == "*") byPosition = false;
  std::string single;
  bool updatable = SingleTableSelect(translated, single);
  for (int i = 0; i < n; ++i) {
    ColumnDesc c;
    const char* name = sq::column_name(st, i);
    const char* table = sq::column_table_name(st, i);
    const char* origin = sq::column_origin_name(st, i);
    const char* decl = sq::column_decltype(st, i);
    c.name = name ? name : "";
    // An expression without alias is named by its text, which SQLite takes up to the end of
    // the item: a comment after it is no part of the name.
    if (c.name.find("--") != std::string::npos || c.name.find("/*") != std::string::npos)
      c.name = std::string(StatementBody(c.name));
    // A connection variable selected without an alias is named as written, not after the
    // function call it was resolved into.
    if (c.name.size() >= 15 && c.name.compare(0, 12, "zyl_getvar('") == 0 && c.name.compare(c.name.size() - 2, 2, "')") == 0 &&
        c.name.find('\'', 12) == c.name.size() - 2)
      c.name = c.name.substr(12, c.name.size() - 14);
    TypeInfo t;
    bool internal = Internal(table);
    if (decl && !internal) t = MapDeclaredType(decl);
    if (!t.Known() && byPosition) t = InferExpressionType(shape.itemTexts[size_t(i)], columns);
    // a column of `*` over a view SQLite knows no type for (the catalog views): by its name
    if (!t.Known() && !byPosition && !c.name.empty()) t = columns.Column("", c.name);
    if (!t.Known()) t = LongVarcharType();  // nothing known: long character, nothing is ever cut
    c.sqltype = t.sqltype;
    c.sqllen = t.sqllen;
    c.precision = t.precision;
    c.scale = t.scale;
    c.domainId = t.domainId;
    if (table && origin && !internal) {
      c.baseTable = table;
      c.baseColumn = origin;
      bool nullable = true;
      columns.Lookup(table, origin, &nullable);
      c.nullable = nullable;
      c.readOnly = !(updatable && SameIdent(single, table));
    }
    out.push_back(std::move(c));
  }
}

void DescribeMarkerNames(const std::string& text, std::vector<ParamDesc>& out) {
  out.clear();
  for (std::string& name : MarkerNames(text)) {
    ParamDesc p;
    p.name = std::move(name);
    out.push_back(std::move(p));
  }
}

void DescribeHostVariables(SqliteConnection& conn, sqlite3_stmt* st, const std::string& text,
                           std::vector<ParamDesc>& out) {
  DescribeMarkerNames(text, out);
  int n = sq::bind_parameter_count(st);
  if (int(out.size()) != n) {
    // the text SQLite runs has other markers than the application's (should not happen):
    // describe what SQLite will bind
    out.clear();
    for (int i = 1; i <= n; ++i) {
      ParamDesc p;
      const char* name = sq::bind_parameter_name(st, i);
      if (name && (name[0] == ':' || name[0] == '@' || name[0] == '$')) p.name = name + 1;
      out.push_back(std::move(p));
    }
  }
  const char* sqlText = sq::sql(st);
  if (!sqlText) return;
  std::string translated = sqlText;
  std::vector<Token> t = Tokenize(translated);
  SelectShape shape = AnalyzeSelect(translated);
  std::vector<TableRef> from = shape.from;
  size_t afterTarget = 0;
  std::string target = TargetTable(t, afterTarget);
  if (!target.empty()) from.insert(from.begin(), TableRef{target, {}});
  StatementColumns columns(conn, from);
  auto colref = [&](size_t b, size_t e) -> TypeInfo {  // tokens [b, e) as a column reference
    if (e == b + 1 && t[b].IsIdent() && !t[b].Is("null")) return columns.Column("", t[b].Ident());
    if (e == b + 3 && t[b].IsIdent() && t[b + 1].kind == Token::Dot && t[b + 2].IsIdent())
      return columns.Column(t[b].Ident(), t[b + 2].Ident());
    return {};
  };
  std::vector<size_t> markers;
  for (size_t i = 0; i < t.size(); ++i)
    if (t[i].kind == Token::Marker) markers.push_back(i);
  std::vector<TypeInfo> types(markers.size());
  for (size_t m = 0; m < markers.size(); ++m) {
    size_t i = markers[m];
    if (i >= 2 && Comparison(t[i - 1])) {
      types[m] = colref(i - 2, i - 1);                                     // col = ?
      if (!types[m].Known() && i >= 4) types[m] = colref(i - 4, i - 1);  // t.col = ?
    }
    if (!types[m].Known() && i + 2 < t.size() && Comparison(t[i + 1])) {
      size_t e = i + 3;
      if (i + 4 < t.size() && t[i + 3].kind == Token::Dot) e = i + 5;
      types[m] = colref(i + 2, e);
    }
  }
  // INSERT INTO t (c1, c2, ...) VALUES (m1, m2, ...)
  if (!target.empty() && afterTarget < t.size() && t[afterTarget].kind == Token::Open) {
    std::vector<std::string> cols;
    size_t k = afterTarget + 1;
    for (; k < t.size() && t[k].kind != Token::Close; ++k)
      if (t[k].IsIdent()) cols.push_back(t[k].Ident());
    if (k + 2 < t.size() && t[k + 1].Is("values") && t[k + 2].kind == Token::Open) {
      size_t pos = 0;
      int depth = 0;
      for (size_t j = k + 3; j < t.size(); ++j) {
        if (t[j].kind == Token::Open) ++depth;
        else if (t[j].kind == Token::Close && depth-- == 0) break;
        else if (depth == 0 && t[j].kind == Token::Comma) ++pos;
        else if (t[j].kind == Token::Marker && depth == 0 && pos < cols.size()) {
          for (size_t m = 0; m < markers.size(); ++m)
            if (markers[m] == j) types[m] = columns.Lookup(target, cols[pos]);
        }
      }
    }
  }
  for (size_t m = 0; m < markers.size() && m < out.size(); ++m) {
    if (!types[m].Known()) continue;
    out[m].sqltype = types[m].sqltype;
    out[m].sqllen = types[m].sqllen;
  }
}

}  // namespace dbl
