// Naming the foreign key a failed write broke (ForeignKeys.h).
#include "dblib/sqlite/ForeignKeys.h"

#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "dblib/sql/Dialect.h"
#include "dblib/sqlite/SqliteEngine.h"
#include "dblib/sqlite/SqliteErrors.h"

namespace dbl {
namespace {

std::string Text(sqlite3_stmt* st, int i) {
  const unsigned char* t = sq::column_text(st, i);
  return t ? reinterpret_cast<const char*>(t) : "";
}

// Rows of a query with one text parameter; each row's columns as text.
std::vector<std::vector<std::string>> Rows(sqlite3* db, const char* sql, const std::string& arg) {
  std::vector<std::vector<std::string>> out;
  sqlite3_stmt* st = nullptr;
  if (sq::prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) return out;
  sq::bind_text(st, 1, arg.data(), static_cast<int>(arg.size()), SQLITE_TRANSIENT);
  while (sq::step(st) == SQLITE_ROW) {
    std::vector<std::string> row;
    for (int i = 0; i < sq::column_count(st); ++i) row.push_back(Text(st, i));
    out.push_back(std::move(row));
  }
  sq::finalize(st);
  return out;
}

bool Exec(sqlite3* db, const char* sql) { return sq::exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

// The table an INSERT, UPDATE or DELETE writes; empty for other statements.
std::string TargetOf(const std::vector<Token>& t, StatementKind kind) {
  size_t i = 0;
  if (kind == StatementKind::Insert) {
    while (i < t.size() && !t[i].Is("into")) ++i;
  } else if (kind == StatementKind::Update) {
    if (t.size() > 2 && t[1].Is("or")) i = 2;
  } else if (kind == StatementKind::Delete) {
    while (i < t.size() && !t[i].Is("from")) ++i;
  } else {
    return {};
  }
  ++i;
  if (i >= t.size() || !t[i].IsIdent()) return {};
  if (i + 2 < t.size() && t[i + 1].kind == Token::Dot && t[i + 2].IsIdent()) return t[i + 2].Ident();
  return t[i].Ident();
}

using Violation = std::tuple<std::string, int64_t, std::string, int64_t>;  // table, rowid, parent, fkid

std::set<Violation> Violations(sqlite3* db, const std::vector<std::string>& tables) {
  std::set<Violation> out;
  for (const std::string& table : tables) {
    sqlite3_stmt* st = nullptr;
    if (sq::prepare_v2(db, "SELECT \"table\", rowid, parent, fkid FROM pragma_foreign_key_check(?1)", -1, &st,
                       nullptr) != SQLITE_OK)
      continue;
    sq::bind_text(st, 1, table.data(), static_cast<int>(table.size()), SQLITE_TRANSIENT);
    while (sq::step(st) == SQLITE_ROW)
      out.emplace(Text(st, 0), sq::column_int64(st, 1), Text(st, 2), sq::column_int64(st, 3));
    sq::finalize(st);
  }
  return out;
}

// The name of foreign key fkid of table: its CONSTRAINT name in the table's definition, else
// its primary table's name.
std::string KeyName(sqlite3* db, const std::string& table, int64_t fkid, const std::string& parent) {
  std::vector<std::string> from;
  const std::string columns =
      "SELECT \"from\" FROM pragma_foreign_key_list(?1) WHERE id = " + std::to_string(fkid) + " ORDER BY seq";
  for (auto& r : Rows(db, columns.c_str(), table))
    from.push_back(r[0]);
  auto defs = Rows(db, "SELECT sql FROM sqlite_schema WHERE type = 'table' AND name = ?1 COLLATE NOCASE", table);
  if (defs.empty() || from.empty()) return parent;
  const std::string& sql = defs[0][0];
  std::vector<Token> t = Tokenize(sql);
  // Walk the definitions inside the outer parentheses: each runs to a comma at depth 1.
  size_t i = 0;
  while (i < t.size() && t[i].kind != Token::Open) ++i;
  int depth = 0;
  size_t start = i + 1;
  for (size_t k = i; k < t.size(); ++k) {
    if (t[k].kind == Token::Open) ++depth;
    else if (t[k].kind == Token::Close) --depth;
    const bool end = depth == 0 || (depth == 1 && t[k].kind == Token::Comma);
    if (!end) continue;
    // definition [start, k)
    std::string name;
    std::vector<std::string> cols;
    std::string references;
    for (size_t j = start; j < k; ++j) {
      if (t[j].Is("constraint") && j + 1 < k) name = t[j + 1].Ident();
      if (t[j].Is("foreign") && j + 2 < k && t[j + 1].Is("key") && t[j + 2].kind == Token::Open) {
        for (size_t c = j + 3; c < k && t[c].kind != Token::Close; ++c)
          if (t[c].IsIdent()) cols.push_back(t[c].Ident());
      }
      if (t[j].Is("references") && j + 1 < k) {
        references = t[j + 1].Ident();
        if (j + 3 < k && t[j + 2].kind == Token::Dot) references = t[j + 3].Ident();
      }
    }
    if (!references.empty()) {
      if (cols.empty() && start < k && t[start].IsIdent()) cols.push_back(t[start].Ident());  // a column's REFERENCES
      bool same = SameIdent(references, parent) && cols.size() == from.size();
      for (size_t c = 0; same && c < cols.size(); ++c) same = SameIdent(cols[c], from[c]);
      if (same) return name.empty() ? parent : name;
    }
    if (depth == 0) break;
    start = k + 1;
  }
  return parent;
}

}  // namespace

SqlError ForeignKeyError(SqliteConnection& conn, sqlite3_stmt* st) {
  SqlError unknown(SQLE_INVALID_FOREIGN_KEY, {"", ""});
  const char* text = st ? sq::sql(st) : nullptr;
  if (!text) return unknown;
  std::vector<Token> t = Tokenize(text);
  const StatementKind kind = Classify(text);
  const std::string target = TargetOf(t, kind);
  if (target.empty()) return unknown;
  sqlite3* db = conn.Handle();
  // The tables the statement can have broken a key of: its own (a row it wrote refers to a
  // missing row) and those referring to it (a row it removed or changed is referred to).
  std::vector<std::string> tables;
  if (kind != StatementKind::Delete) tables.push_back(target);
  if (kind != StatementKind::Insert) {
    for (auto& r : Rows(db,
                        "SELECT m.name FROM sqlite_schema m, pragma_foreign_key_list(m.name) f"
                        " WHERE m.type = 'table' AND f.\"table\" = ?1 COLLATE NOCASE GROUP BY m.name",
                        target))
      tables.push_back(r[0]);
  }
  if (tables.empty() || !Exec(db, "SAVEPOINT zyl_foreign_key")) return unknown;
  Violation found;
  bool named = false;
  if (Exec(db, "PRAGMA defer_foreign_keys = ON")) {
    const std::set<Violation> before = Violations(db, tables);
    sq::reset(st);
    int rc;
    while ((rc = sq::step(st)) == SQLITE_ROW) {
    }
    sq::reset(st);
    if (rc == SQLITE_DONE) {
      for (const Violation& v : Violations(db, tables))
        if (!before.count(v)) {
          found = v;
          named = true;
          break;
        }
    }
  }
  Exec(db, "ROLLBACK TO zyl_foreign_key");
  Exec(db, "RELEASE zyl_foreign_key");
  Exec(db, "PRAGMA defer_foreign_keys = OFF");
  if (!named) return unknown;
  const auto& [table, rowid, parent, fkid] = found;
  const std::string key = KeyName(db, table, fkid, parent);
  if (SameIdent(table, target) && kind != StatementKind::Delete) return SqlError(SQLE_INVALID_FOREIGN_KEY, {key, table});
  return SqlError(SQLE_PRIMARY_KEY_VALUE_REF, {parent, key, table});
}

void ThrowWriteFailure(SqliteConnection& conn, sqlite3_stmt* st, int rc, std::string_view sql) {
  if ((rc & 0xFF) == SQLITE_CONSTRAINT && sq::extended_errcode(conn.Handle()) == SQLITE_CONSTRAINT_FOREIGNKEY)
    throw ForeignKeyError(conn, st);
  ThrowSqlite(conn.Handle(), rc, sql);
}

}  // namespace dbl
