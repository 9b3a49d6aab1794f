// The dialect translation of a connection: TranslateSql with what the connection's database
// knows (its users, tables and column types), after the catalog views are in place.
#include <set>

#include "dblib/sql/Dialect.h"
#include "dblib/sql/Errors.h"
#include "dblib/sql/TypeMap.h"
#include "dblib/sqlite/Catalog.h"
#include "dblib/sqlite/SqliteEngine.h"

namespace dbl {
namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Names read once per translation, on first use.
class Names {
 public:
  Names(sqlite3* db, const char* sql) : db_(db), sql_(sql) {}
  bool Has(std::string_view name) {
    if (!loaded_) Load();
    return names_.count(Lower(name)) > 0;
  }

 private:
  void Load() {
    loaded_ = true;
    sqlite3_stmt* st = nullptr;
    if (sq::prepare_v2(db_, sql_, -1, &st, nullptr) != SQLITE_OK) return;  // no such table: no names
    while (sq::step(st) == SQLITE_ROW)
      if (const unsigned char* t = sq::column_text(st, 0)) names_.insert(Lower(reinterpret_cast<const char*>(t)));
    sq::finalize(st);
  }
  sqlite3* db_;
  const char* sql_;
  bool loaded_ = false;
  std::set<std::string> names_;
};

}  // namespace

std::string TranslateForConnection(SqliteConnection& conn, std::string_view sql) {
  sqlite3* db = conn.Handle();
  catalog::EnsureViews(db, conn.IsDba());
  Names users(db, "SELECT user_name FROM zyl_user");
  Names tables(db, "SELECT name FROM sqlite_schema WHERE type IN ('table','view')"
                   " UNION ALL SELECT name FROM temp.sqlite_schema WHERE type IN ('table','view')");
  SelectShape shape;
  bool shaped = false;
  DialectContext ctx;
  ctx.isUser = [&](std::string_view n) { return users.Has(n); };
  ctx.isTable = [&](std::string_view n) { return tables.Has(n); };
  ctx.isCharColumn = [&](std::string_view q, std::string_view col) {
    if (!shaped) {
      shape = AnalyzeSelect(sql);
      shaped = true;
    }
    for (const TableRef& r : shape.from) {
      if (r.name.empty()) continue;
      if (!q.empty() && !SameIdent(q, r.alias) && !(r.alias.empty() && SameIdent(q, r.name))) continue;
      TypeInfo t = catalog::ViewColumnType(r.name, col);
      if (!t.Known()) {
        const char* decl = nullptr;
        const char* coll = nullptr;
        int notNull = 0, pk = 0, autoinc = 0;
        if (sq::table_column_metadata(db, nullptr, r.name.c_str(), std::string(col).c_str(), &decl, &coll, &notNull,
                                      &pk, &autoinc) == SQLITE_OK &&
            decl)
          t = MapDeclaredType(decl);
      }
      if (t.Known())
        return t.sqltype == DT_FIXCHAR || t.sqltype == DT_VARCHAR || t.sqltype == DT_LONGVARCHAR;
    }
    return false;
  };
  return TranslateSql(sql, ctx);
}

}  // namespace dbl
