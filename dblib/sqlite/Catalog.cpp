// Internal catalog tables and the system-catalog views (Catalog.h).
#include "dblib/sqlite/Catalog.h"

#include <cctype>

#include "dblib/sql/Dialect.h"
#include "dblib/sqlite/Sqlite.h"
#include "dblib/sqlite/SqliteEngine.h"
#include "dblib/sqlite/SqliteErrors.h"
#include "dblib/sqlite/SqliteStmt.h"

namespace dbl::catalog {
namespace {

using Stmt = SqliteStmt;

void Exec(sqlite3* db, const std::string& sql) {
  int rc = sq::exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) ThrowSqlite(db, rc, sql);
}

bool TableExists(sqlite3* db, const char* schema, const char* name) {
  std::string sql = std::string("SELECT count(*) FROM ") + schema + ".sqlite_schema WHERE name = ?1";
  Stmt s(db, sql.c_str());
  s.Text(1, name);
  s.Step();
  return s.ColInt(0) > 0;
}

// ---- SQL functions the views use: declared type text -> domain, width, scale ----
void TypeFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const unsigned char* text = sq::value_text(argv[0]);
  TypeInfo t = MapDeclaredType(text ? reinterpret_cast<const char*>(text) : "");
  if (!t.Known()) t = LongVarcharType();
  intptr_t what = reinterpret_cast<intptr_t>(sq::user_data(ctx));
  sq::result_int64(ctx, what == 0 ? t.domainId : what == 1 ? t.width : t.scale);
}

void ColumnTypeFunction(sqlite3_context* ctx, int, sqlite3_value** argv);

void RegisterFunctions(sqlite3* db) {
  int rc = sq::create_function_v2(db, "zyl_column_type", 4, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                  ColumnTypeFunction, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) ThrowSqlite(db, rc);
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  const char* names[] = {"zyl_type_domain", "zyl_type_width", "zyl_type_scale"};
  for (intptr_t i = 0; i < 3; ++i) {
    int rc = sq::create_function_v2(db, names[i], 1, flags, reinterpret_cast<void*>(i), TypeFunction, nullptr, nullptr,
                                    nullptr);
    if (rc != SQLITE_OK) ThrowSqlite(db, rc);
  }
}

// Column types of the views, as DESCRIBE reports them and as the vendor's catalog declares
// them. Keep in step with the view texts below (a test compares the two).
struct ViewColumns {
  const char* view;
  std::vector<std::pair<const char*, const char*>> columns;
};
const std::vector<ViewColumns>& ViewTypes() {
  static const std::vector<ViewColumns> v = {
      {"systable",
       {{"table_id", "unsigned int"}, {"file_id", "smallint"}, {"count", "unsigned bigint"},
        {"first_page", "integer"}, {"last_page", "integer"}, {"primary_root", "integer"},
        {"creator", "unsigned int"}, {"first_ext_page", "integer"}, {"last_ext_page", "integer"},
        {"table_page_count", "integer"}, {"ext_page_count", "integer"}, {"table_name", "char(128)"},
        {"table_type", "char(10)"}, {"view_def", "long varchar"}, {"remarks", "long varchar"},
        {"replicate", "char(1)"}, {"existing_obj", "char(1)"}, {"remote_location", "long varchar"},
        {"remote_objtype", "char(1)"}, {"srvid", "integer"}, {"server_type", "char(4)"},
        {"primary_hash_limit", "smallint"}, {"page_map_start", "integer"}, {"source", "long varchar"}}},
      {"syscolumn",
       {{"table_id", "unsigned int"}, {"column_id", "unsigned int"}, {"pkey", "char(1)"}, {"domain_id", "smallint"},
        {"nulls", "char(1)"}, {"width", "smallint"}, {"scale", "smallint"}, {"estimate", "integer"},
        {"max_identity", "bigint"}, {"column_name", "char(128)"}, {"remarks", "long varchar"},
        {"default", "long varchar"}, {"check", "long varchar"}, {"user_type", "smallint"},
        {"format_str", "char(128)"}, {"column_type", "char(1)"}, {"remote_name", "varchar(128)"},
        {"remote_type", "unsigned int"}}},
      {"sysdomain",
       {{"domain_id", "smallint"}, {"domain_name", "char(128)"}, {"type_id", "smallint"}, {"precision", "smallint"}}},
      {"sysuserperm",
       {{"user_id", "unsigned int"}, {"user_name", "char(128)"}, {"password", "binary(36)"},
        {"resourceauth", "char(1)"}, {"dbaauth", "char(1)"}, {"scheduleauth", "char(1)"},
        {"publishauth", "char(1)"}, {"remotedbaauth", "char(1)"}, {"user_group", "char(1)"},
        {"remarks", "long varchar"}}},
      {"sysuserperms",
       {{"user_id", "unsigned int"}, {"user_name", "char(128)"}, {"resourceauth", "char(1)"},
        {"dbaauth", "char(1)"}, {"scheduleauth", "char(1)"}, {"publishauth", "char(1)"},
        {"remotedbaauth", "char(1)"}, {"user_group", "char(1)"}, {"remarks", "long varchar"}}},
      {"sysprocedure",
       {{"proc_id", "unsigned int"}, {"creator", "unsigned int"}, {"proc_name", "char(128)"},
        {"proc_defn", "long varchar"}, {"remarks", "long varchar"}, {"replicate", "char(1)"}, {"srvid", "integer"},
        {"source", "long varchar"}, {"avg_num_rows", "float"}, {"avg_cost", "float"}, {"stats", "long binary"}}},
      {"sysprocparm",
       {{"proc_id", "unsigned int"}, {"parm_id", "smallint"}, {"parm_type", "smallint"},
        {"parm_mode_in", "char(1)"}, {"parm_mode_out", "char(1)"}, {"domain_id", "smallint"},
        {"width", "smallint"}, {"scale", "smallint"}, {"parm_name", "char(128)"}, {"remarks", "long varchar"},
        {"default", "long varchar"}, {"user_type", "integer"}}},
      {"sysindex",
       {{"table_id", "unsigned int"}, {"index_id", "unsigned int"}, {"root", "integer"}, {"file_id", "smallint"},
        {"unique", "char(1)"}, {"creator", "unsigned int"}, {"index_name", "char(128)"}, {"hash_limit", "smallint"},
        {"index_owner", "char(4)"}, {"index_type", "char(4)"}, {"remarks", "long varchar"}}},
      {"sysixcol",
       {{"table_id", "unsigned int"}, {"index_id", "unsigned int"}, {"sequence", "smallint"},
        {"column_id", "unsigned int"}, {"order", "char(1)"}}},
      {"dummy", {{"dummy_col", "integer"}}},
      {"sysforeignkey",
       {{"foreign_table_id", "unsigned int"}, {"foreign_key_id", "smallint"}, {"primary_table_id", "unsigned int"},
        {"root", "integer"}, {"check_on_commit", "char(1)"}, {"nulls", "char(1)"}, {"role", "char(128)"},
        {"remarks", "long varchar"}, {"primary_index_id", "unsigned int"}, {"fk_not_enforced", "char(1)"},
        {"hash_limit", "smallint"}}},
      {"sysfkcol",
       {{"foreign_table_id", "unsigned int"}, {"foreign_key_id", "smallint"}, {"foreign_column_id", "unsigned int"},
        {"primary_column_id", "unsigned int"}}},
  };
  return v;
}

// Table/view rows of the database, hiding SQLite's and our own internal tables.
const char* kObjects =
    "SELECT s.rowid AS srow, s.name AS name, s.type AS type, s.sql AS sql,"
    " o.object_id AS object_id, o.creator AS creator"
    " FROM main.sqlite_schema s LEFT JOIN main.zyl_owner o ON o.object_name = s.name COLLATE NOCASE"
    " WHERE s.type IN ('table','view') AND s.name NOT LIKE 'sqlite^_%' ESCAPE '^'"
    " AND s.name NOT LIKE 'zyl^_%' ESCAPE '^'";

// Declared type of a column: for the catalog's own views (creator 0) the type the catalog
// declares, since SQLite knows none for computed view columns.
const char* kColType = "zyl_column_type(t.creator, t.table_name, p.name, p.type)";

// (table_id, name, type) rows of the catalog views, named in capitals as the vendor's are.
std::string SysTableRows() {
  std::string rows;
  int id = 1;
  for (const ViewColumns& v : ViewTypes()) {
    std::string name = v.view;
    for (char& c : name) c = char(std::toupper(static_cast<unsigned char>(c)));
    if (!rows.empty()) rows += ",";
    rows += "(" + std::to_string(id++) + ",'" + name + "','" + (name == "SYSUSERPERMS" ? "VIEW" : "BASE") + "')";
  }
  return rows;
}

std::vector<std::string> ViewTexts(bool dba) {
  std::string objects = kObjects;
  std::vector<std::string> v;
  v.push_back("CREATE TEMP VIEW IF NOT EXISTS systable AS SELECT coalesce(object_id, 100000 + srow) AS table_id, 0 AS file_id,"
              " 0 AS count, 0 AS first_page, 0 AS last_page, 0 AS primary_root, coalesce(creator, 1) AS creator,"
              " 0 AS first_ext_page, 0 AS last_ext_page, 0 AS table_page_count, 0 AS ext_page_count,"
              " name AS table_name, CASE type WHEN 'view' THEN 'VIEW' ELSE 'BASE' END AS table_type,"
              " CASE type WHEN 'view' THEN sql END AS view_def, NULL AS remarks, 'N' AS replicate,"
              " 'N' AS existing_obj, NULL AS remote_location, NULL AS remote_objtype, NULL AS srvid,"
              " NULL AS server_type, 0 AS primary_hash_limit, 0 AS page_map_start, sql AS source"
              " FROM (" + objects + ")"
              // the catalog itself, owned by SYS
              " UNION ALL SELECT column1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, column2, column3, NULL, NULL, 'N', 'N',"
              " NULL, NULL, NULL, NULL, 0, 0, NULL FROM (VALUES " + SysTableRows() + ")");
  // A lone INTEGER PRIMARY KEY is SQLite's key counter: the column the DDL declared with
  // DEFAULT AUTOINCREMENT.
  v.push_back(std::string("CREATE TEMP VIEW IF NOT EXISTS syscolumn AS SELECT t.table_id AS table_id, p.cid + 1 AS column_id,"
              " CASE WHEN p.pk > 0 THEN 'Y' ELSE 'N' END AS pkey, zyl_type_domain(") + kColType + ") AS domain_id,"
              " CASE WHEN p.\"notnull\" OR p.pk > 0 THEN 'N' ELSE 'Y' END AS nulls,"
              " zyl_type_width(" + kColType + ") AS width, zyl_type_scale(" + kColType + ") AS scale, 0 AS estimate,"
              " 0 AS max_identity, p.name AS column_name, NULL AS remarks,"
              " CASE WHEN p.pk = 1 AND lower(p.type) = 'integer' AND t.table_type = 'BASE' AND"
              "  (SELECT count(*) FROM pragma_table_info(t.table_name) k WHERE k.pk > 0) = 1"
              "  THEN 'autoincrement' ELSE p.dflt_value END AS \"default\","
              " NULL AS \"check\", NULL AS user_type, NULL AS format_str, 'R' AS column_type,"
              " NULL AS remote_name, NULL AS remote_type"
              " FROM temp.systable t CROSS JOIN"
              " pragma_table_info(t.table_name, CASE WHEN t.creator = 0 THEN 'temp' ELSE 'main' END) p");
  std::string domains = "CREATE TEMP VIEW IF NOT EXISTS sysdomain(domain_id, domain_name, type_id, \"precision\") AS VALUES ";
  bool first = true;
  for (const DomainRow& d : Domains()) {
    if (!first) domains += ",";
    first = false;
    domains += "(" + std::to_string(d.id) + ",'" + d.name + "'," + std::to_string(d.odbcType) + "," +
               (d.precision < 0 ? std::string("NULL") : std::to_string(d.precision)) + ")";
  }
  v.push_back(domains);
  const char* perms =
      " user_id, user_name, resourceauth, dbaauth, 'N' AS scheduleauth, 'N' AS publishauth,"
      " 'N' AS remotedbaauth, user_group, remarks FROM main.zyl_user";
  // Password hashes only for users with DBA authority, as the vendor restricts the table.
  v.push_back(std::string("CREATE TEMP VIEW IF NOT EXISTS sysuserperm AS SELECT user_id, user_name, ") +
              (dba ? "password" : "NULL") +
              " AS password, resourceauth, dbaauth, 'N' AS scheduleauth, 'N' AS publishauth,"
              " 'N' AS remotedbaauth, user_group, remarks FROM main.zyl_user");
  v.push_back(std::string("CREATE TEMP VIEW IF NOT EXISTS sysuserperms AS SELECT") + perms);
  v.push_back("CREATE TEMP VIEW IF NOT EXISTS sysprocedure AS SELECT proc_id, creator, proc_name, proc_defn, remarks,"
              " 'N' AS replicate, NULL AS srvid, proc_defn AS source, NULL AS avg_num_rows, NULL AS avg_cost,"
              " NULL AS stats FROM main.zyl_procedure");
  v.push_back("CREATE TEMP VIEW IF NOT EXISTS sysprocparm AS SELECT proc_id, parm_id, parm_type, parm_mode_in, parm_mode_out,"
              " domain_id, width, scale, parm_name, remarks, \"default\", NULL AS user_type FROM main.zyl_procparm");
  // Indexes of CREATE INDEX and of UNIQUE constraints; the primary key is not an index row.
  v.push_back("CREATE TEMP VIEW IF NOT EXISTS sysindex AS SELECT t.table_id AS table_id,"
              " (SELECT s.rowid FROM main.sqlite_schema s WHERE s.type = 'index' AND s.name = il.name) AS index_id,"
              " 0 AS root, 0 AS file_id,"
              " CASE WHEN il.origin = 'u' THEN 'U' WHEN il.\"unique\" THEN 'Y' ELSE 'N' END AS \"unique\","
              " t.creator AS creator, il.name AS index_name, 0 AS hash_limit, 'SA' AS index_owner,"
              " 'SA' AS index_type, NULL AS remarks"
              " FROM temp.systable t CROSS JOIN pragma_index_list(t.table_name, 'main') il"
              " WHERE t.table_type = 'BASE' AND il.origin IN ('c', 'u')");
  v.push_back("CREATE TEMP VIEW IF NOT EXISTS sysixcol AS SELECT i.table_id AS table_id, i.index_id AS index_id,"
              " x.seqno AS sequence, x.cid + 1 AS column_id, CASE WHEN x.\"desc\" THEN 'D' ELSE 'A' END AS \"order\""
              " FROM temp.sysindex i CROSS JOIN pragma_index_xinfo(i.index_name, 'main') x WHERE x.key = 1 AND x.cid >= 0");
  // Foreign keys, numbered from 1 within their table; the role is the primary table's name, as
  // the vendor names a key that was given none. A key written without the primary columns
  // refers to the primary key, column by column.
  v.push_back("CREATE TEMP VIEW IF NOT EXISTS sysforeignkey AS SELECT t.table_id AS foreign_table_id,"
              " fk.id + 1 AS foreign_key_id, p.table_id AS primary_table_id, 0 AS root, 'N' AS check_on_commit,"
              " 'Y' AS nulls, p.table_name AS role, NULL AS remarks, NULL AS primary_index_id,"
              " 'N' AS fk_not_enforced, 0 AS hash_limit"
              " FROM temp.systable t CROSS JOIN pragma_foreign_key_list(t.table_name, 'main') fk"
              " JOIN temp.systable p ON p.table_name = fk.\"table\" COLLATE NOCASE AND p.creator <> 0"
              " WHERE t.table_type = 'BASE' AND t.creator <> 0 AND fk.seq = 0");
  v.push_back("CREATE TEMP VIEW IF NOT EXISTS sysfkcol AS SELECT t.table_id AS foreign_table_id,"
              " fk.id + 1 AS foreign_key_id,"
              " (SELECT c.cid + 1 FROM pragma_table_info(t.table_name, 'main') c"
              "  WHERE c.name = fk.\"from\" COLLATE NOCASE) AS foreign_column_id,"
              " coalesce((SELECT c.cid + 1 FROM pragma_table_info(fk.\"table\", 'main') c"
              "  WHERE c.name = fk.\"to\" COLLATE NOCASE),"
              " (SELECT c.cid + 1 FROM pragma_table_info(fk.\"table\", 'main') c WHERE c.pk = fk.seq + 1))"
              " AS primary_column_id"
              " FROM temp.systable t CROSS JOIN pragma_foreign_key_list(t.table_name, 'main') fk"
              " WHERE t.table_type = 'BASE' AND t.creator <> 0");
  v.push_back("CREATE TEMP VIEW IF NOT EXISTS dummy AS SELECT 0 AS dummy_col");
  return v;
}

}  // namespace

void CreateSchema(sqlite3* db) {
  Exec(db,
       "CREATE TABLE IF NOT EXISTS zyl_owner("
       " object_name TEXT NOT NULL PRIMARY KEY COLLATE NOCASE,"
       " object_type TEXT NOT NULL,"
       " object_id INTEGER NOT NULL UNIQUE,"
       " creator INTEGER NOT NULL);"
       "CREATE TABLE IF NOT EXISTS zyl_procedure("
       " proc_id INTEGER PRIMARY KEY,"
       " creator INTEGER NOT NULL,"
       " proc_name TEXT NOT NULL COLLATE NOCASE,"
       " proc_defn TEXT,"
       " remarks TEXT,"
       " UNIQUE(proc_name, creator));"
       "CREATE TABLE IF NOT EXISTS zyl_procparm("
       " proc_id INTEGER NOT NULL REFERENCES zyl_procedure(proc_id) ON DELETE CASCADE,"
       " parm_id INTEGER NOT NULL,"
       " parm_type INTEGER NOT NULL,"
       " parm_mode_in TEXT NOT NULL,"
       " parm_mode_out TEXT NOT NULL,"
       " domain_id INTEGER NOT NULL,"
       " width INTEGER NOT NULL,"
       " scale INTEGER NOT NULL,"
       " parm_name TEXT NOT NULL,"
       " \"default\" TEXT,"
       " remarks TEXT,"
       " type_text TEXT,"
       " PRIMARY KEY(proc_id, parm_id));");
}

bool HasSchema(sqlite3* db) { return TableExists(db, "main", "zyl_owner") && TableExists(db, "main", "zyl_procparm"); }

void EnsureViews(sqlite3* db, bool dba) {
  if (TableExists(db, "temp", "dummy")) return;
  if (!HasSchema(db) || !TableExists(db, "main", "zyl_user")) {
    // A database that lacks our tables (a file made outside the library, the utility
    // database): the views still work, over empty tables.
    CreateSchema(db);
    if (!TableExists(db, "main", "zyl_user"))
      Exec(db, "CREATE TEMP TABLE IF NOT EXISTS zyl_user(user_id INTEGER PRIMARY KEY, user_name TEXT, password TEXT,"
               " dbaauth TEXT, resourceauth TEXT, user_group TEXT, remarks TEXT)");
  }
  RegisterFunctions(db);
  for (const std::string& v : ViewTexts(dba)) {
    std::string text = v;
    // the temp table stands in when the file has no users table
    if (!TableExists(db, "main", "zyl_user")) {
      for (size_t at; (at = text.find("main.zyl_user")) != std::string::npos;) text.replace(at, 13, "temp.zyl_user");
    }
    Exec(db, text);
  }
}

namespace {
void ColumnTypeFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  auto text = [&](int i) {
    const unsigned char* t = sq::value_text(argv[i]);
    return std::string(t ? reinterpret_cast<const char*>(t) : "");
  };
  if (sq::value_type(argv[0]) == SQLITE_INTEGER && sq::value_int64(argv[0]) == 0) {
    std::string view = text(1), column = text(2);
    for (const ViewColumns& v : ViewTypes()) {
      if (!SameIdent(v.view, view)) continue;
      for (const auto& [name, type] : v.columns)
        if (SameIdent(name, column)) {
          sq::result_text(ctx, type, -1, SQLITE_STATIC);
          return;
        }
    }
  }
  std::string declared = text(3);
  sq::result_text(ctx, declared.data(), int(declared.size()), SQLITE_TRANSIENT);
}
}  // namespace

TypeInfo ViewColumnType(std::string_view view, std::string_view column) {
  for (const ViewColumns& v : ViewTypes()) {
    if (!SameIdent(v.view, view)) continue;
    for (const auto& [name, type] : v.columns)
      if (SameIdent(name, column)) return MapDeclaredType(type);
  }
  return {};
}

bool IsCatalogView(std::string_view name) {
  for (const ViewColumns& v : ViewTypes())
    if (SameIdent(v.view, name)) return true;
  return false;
}

void RecordCreator(sqlite3* db, const std::string& object, const std::string& type, int creator) {
  Stmt s(db,
         "INSERT INTO zyl_owner(object_name, object_type, object_id, creator)"
         " VALUES (?1, ?2, (SELECT coalesce(max(object_id), 100) + 1 FROM zyl_owner), ?3)"
         " ON CONFLICT(object_name) DO UPDATE SET object_type = excluded.object_type, creator = excluded.creator");
  s.Text(1, object);
  s.Text(2, type);
  s.Int(3, creator);
  s.Step();
}

void ForgetObject(sqlite3* db, const std::string& object) {
  Stmt s(db, "DELETE FROM zyl_owner WHERE object_name = ?1");
  s.Text(1, object);
  s.Step();
}

int UserId(sqlite3* db, const std::string& name) {
  if (!TableExists(db, "main", "zyl_user")) return -1;
  Stmt s(db, "SELECT user_id FROM main.zyl_user WHERE user_name = ?1 COLLATE NOCASE");
  s.Text(1, name);
  return s.Step() ? int(s.ColInt(0)) : -1;
}

namespace {
// ALTER TABLE [owner.]t RENAME [TO] n: the table keeps its id and creator under the new name.
void RenameAfterAlter(sqlite3* db, const std::string& text) {
  std::vector<Token> t = Tokenize(text);
  size_t i = 0;
  while (i < t.size() && !t[i].Is("table")) ++i;
  if (++i >= t.size() || !t[i].IsIdent()) return;
  std::string name = t[i].Ident();
  if (i + 2 < t.size() && t[i + 1].kind == Token::Dot && t[i + 2].IsIdent()) name = t[(i += 2)].Ident();
  if (++i >= t.size() || !t[i].Is("rename")) return;
  if (++i < t.size() && t[i].Is("to")) ++i;
  if (i >= t.size() || !t[i].IsIdent() || (i + 1 < t.size() && t[i + 1].kind == Token::Dot)) return;  // a column
  std::string renamed = t[i].Ident();
  if (!HasSchema(db) || !TableExists(db, "main", renamed.c_str())) return;
  Stmt s(db, "UPDATE zyl_owner SET object_name = ?2 WHERE object_name = ?1");
  s.Text(1, name);
  s.Text(2, renamed);
  s.Step();
}
}  // namespace

void AfterDefinition(SqliteConnection& conn, const std::string& text) {
  StatementKind kind = Classify(text);
  bool create = kind == StatementKind::CreateTable || kind == StatementKind::CreateView;
  bool drop = kind == StatementKind::DropTable || kind == StatementKind::DropView;
  if (kind == StatementKind::AlterTable) {
    RenameAfterAlter(conn.Handle(), text);
    return;
  }
  if (!create && !drop) return;
  // the object name: after TABLE/VIEW [IF [NOT] EXISTS], possibly owner-qualified
  std::vector<Token> t = Tokenize(text);
  size_t i = 0;
  while (i < t.size() && !t[i].Is("table") && !t[i].Is("view")) ++i;
  if (++i >= t.size()) return;
  if (t[i].Is("if")) {
    ++i;
    if (i < t.size() && t[i].Is("not")) ++i;
    if (i < t.size() && t[i].Is("exists")) ++i;
  }
  if (i >= t.size() || !t[i].IsIdent()) return;
  std::string owner, name = t[i].Ident();
  if (i + 2 < t.size() && t[i + 1].kind == Token::Dot && t[i + 2].IsIdent()) {
    owner = name;
    name = t[i + 2].Ident();
  }
  if (SameIdent(owner, "temp")) return;  // temporary objects have no catalog rows
  sqlite3* db = conn.Handle();
  if (!HasSchema(db)) CreateSchema(db);
  bool exists = TableExists(db, "main", name.c_str());
  if (create && exists) {
    int creator = conn.UserId();
    if (!owner.empty() && !SameIdent(owner, "main")) {
      int id = UserId(db, owner);
      if (id >= 0) creator = id;
    }
    RecordCreator(db, name, kind == StatementKind::CreateTable ? "BASE" : "VIEW", creator);
  } else if (drop && !exists) {
    ForgetObject(db, name);
  }
}

int PutProcedure(sqlite3* db, const ProcRow& proc) {
  if (!HasSchema(db)) CreateSchema(db);
  {
    Stmt del(db, "DELETE FROM zyl_procedure WHERE proc_name = ?1 AND creator = ?2");
    del.Text(1, proc.name);
    del.Int(2, proc.creator);
    del.Step();
  }
  Stmt ins(db, "INSERT INTO zyl_procedure(proc_id, creator, proc_name, proc_defn)"
               " VALUES ((SELECT coalesce(max(proc_id), 0) + 1 FROM zyl_procedure), ?1, ?2, ?3) RETURNING proc_id");
  ins.Int(1, proc.creator);
  ins.Text(2, proc.name);
  ins.Text(3, proc.definition);
  if (!ins.Step()) throw SqlError(SQLE_STATEMENT_ERROR);
  int id = int(ins.ColInt(0));
  while (ins.Step()) {
  }
  // parameters in definition order; the parm rows go away with their procedure (foreign key
  // cascade) and are deleted explicitly too, for connections without foreign keys on
  {
    Stmt del(db, "DELETE FROM zyl_procparm WHERE proc_id = ?1");
    del.Int(1, id);
    del.Step();
  }
  for (const ParmRow& p : proc.parms) {
    TypeInfo t = MapDeclaredType(p.type);
    if (!t.Known()) t = LongVarcharType();
    Stmt s(db, "INSERT INTO zyl_procparm(proc_id, parm_id, parm_type, parm_mode_in, parm_mode_out, domain_id, width,"
               " scale, parm_name, \"default\", type_text) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)");
    s.Int(1, id);
    s.Int(2, p.parmId);
    s.Int(3, p.parmType);
    s.Text(4, p.modeIn ? "Y" : "N");
    s.Text(5, p.modeOut ? "Y" : "N");
    s.Int(6, t.domainId);
    s.Int(7, t.width);
    s.Int(8, t.scale);
    s.Text(9, p.name);
    if (p.defaultText.empty()) s.Null(10);
    else s.Text(10, p.defaultText);
    s.Text(11, p.type);
    s.Step();
  }
  return id;
}

bool DropProcedure(sqlite3* db, const std::string& name, int creator) {
  if (!HasSchema(db)) return false;
  ProcRow row;
  if (!FindProcedure(db, name, row, creator)) return false;
  Stmt parms(db, "DELETE FROM zyl_procparm WHERE proc_id = ?1");
  parms.Int(1, row.procId);
  parms.Step();
  Stmt proc(db, "DELETE FROM zyl_procedure WHERE proc_id = ?1");
  proc.Int(1, row.procId);
  proc.Step();
  return true;
}

bool FindProcedure(sqlite3* db, const std::string& name, ProcRow& out, int creator) {
  if (!HasSchema(db)) return false;
  Stmt s(db, "SELECT proc_id, creator, proc_name, proc_defn FROM zyl_procedure"
             " WHERE proc_name = ?1 AND (?2 < 0 OR creator = ?2) ORDER BY creator = 1 DESC, creator LIMIT 1");
  s.Text(1, name);
  s.Int(2, creator);
  if (!s.Step()) return false;
  out = ProcRow();
  out.procId = int(s.ColInt(0));
  out.creator = int(s.ColInt(1));
  out.name = s.ColText(2);
  out.definition = s.ColText(3);
  Stmt p(db, "SELECT parm_id, parm_type, parm_mode_in, parm_mode_out, parm_name, type_text, \"default\""
             " FROM zyl_procparm WHERE proc_id = ?1 ORDER BY parm_id");
  p.Int(1, out.procId);
  while (p.Step()) {
    ParmRow r;
    r.parmId = int(p.ColInt(0));
    r.parmType = int(p.ColInt(1));
    r.modeIn = p.ColText(2) == "Y";
    r.modeOut = p.ColText(3) == "Y";
    r.name = p.ColText(4);
    r.type = p.ColText(5);
    r.defaultText = p.ColText(6);
    out.parms.push_back(std::move(r));
  }
  return true;
}

}  // namespace dbl::catalog
