// Our catalog inside a database file, and the system catalog as clients query it.
//
// Internal tables (in the database file, created with the file, names fixed):
//   zyl_owner(object_name, object_type, object_id, creator)   tables and views: stable id, creator
//   zyl_procedure(proc_id, creator, proc_name, proc_defn, remarks)
//   zyl_procparm(proc_id, parm_id, parm_type, parm_mode_in, parm_mode_out, domain_id, width,
//                scale, parm_name, "default", remarks, type_text)
// Users and permanent options live in zyl_user / zyl_option (Users.h).
//
// The system catalog is a set of TEMP views every connection gets (made on first use, again
// after a rollback took them away): sys.systable, sys.syscolumn, sys.sysdomain,
// sys.sysuserperm, sys.sysuserperms, sys.sysprocedure, sys.sysprocparm, sys.sysindex,
// sys.sysixcol, sys.sysforeignkey, sys.sysfkcol and dummy. They read sqlite_schema and SQLite's pragma table functions at query
// time, so they are always in step with the schema; owners are stripped by the dialect, so
// `sys.systable` and `systable` name the same view. Ids: the catalog's own tables are 1 to 12
// (creator SYS, names in capitals); a table or view created through the library keeps the id
// recorded in zyl_owner (from 101 on); an object made outside it (plain SQLite file) gets
// 100000 + its sqlite_schema rowid.
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>
#include <vector>

#include "dblib/sql/TypeMap.h"

namespace dbl {

class SqliteConnection;

namespace catalog {

// Creates the internal tables when missing (inside the caller's transaction, if any).
void CreateSchema(sqlite3* db);
bool HasSchema(sqlite3* db);

// Makes the catalog views (and the SQL functions they use) exist on this connection. dba:
// whether the connection's user may read password hashes (sysuserperm.password).
void EnsureViews(sqlite3* db, bool dba);

// The type of a catalog view's column (for DESCRIBE); unknown when view/column is not ours.
TypeInfo ViewColumnType(std::string_view view, std::string_view column);
bool IsCatalogView(std::string_view name);

// Tables and views.
void RecordCreator(sqlite3* db, const std::string& object, const std::string& type, int creator);
void ForgetObject(sqlite3* db, const std::string& object);
// After CREATE/ALTER/DROP ran on the connection: records or forgets the object's owner.
void AfterDefinition(SqliteConnection& conn, const std::string& text);

// Procedures and functions (sys.sysprocedure / sys.sysprocparm).
struct ParmRow {
  int parmId = 0;      // 1-based, definition order
  int parmType = 0;    // 0 normal parameter, 1 result column, 4 return value
  bool modeIn = false;
  bool modeOut = false;
  std::string name;
  std::string type;    // declared type text; mapped to domain_id/width/scale here
  std::string defaultText;
};
struct ProcRow {
  int procId = 0;
  int creator = 0;
  std::string name;
  std::string definition;  // the CREATE PROCEDURE / CREATE FUNCTION text
  std::vector<ParmRow> parms;
};
// Adds a procedure and its parameter rows; returns its proc_id. A procedure of the same name
// and creator is replaced (whether that is allowed is the caller's decision).
int PutProcedure(sqlite3* db, const ProcRow& proc);
// Drops by name (and creator when creator >= 0); false when there was none.
bool DropProcedure(sqlite3* db, const std::string& name, int creator = -1);
// Finds by name (and creator when creator >= 0); false when there is none.
bool FindProcedure(sqlite3* db, const std::string& name, ProcRow& out, int creator = -1);

// Users by name (zyl_user): id or -1.
int UserId(sqlite3* db, const std::string& name);

}  // namespace catalog
}  // namespace dbl
