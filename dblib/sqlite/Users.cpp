// Users and permanent options over the zyl_user / zyl_option tables.
#include "dblib/sqlite/Users.h"

#include "dblib/engine/Auth.h"
#include "dblib/sqlite/Sqlite.h"
#include "dblib/sqlite/SqliteErrors.h"
#include "dblib/sqlite/SqliteStmt.h"

namespace dbl::users {
namespace {

using Stmt = SqliteStmt;

void Exec(sqlite3* db, const char* sql) {
  int rc = sq::exec(db, sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) ThrowSqlite(db, rc, sql);
}

}  // namespace

void CreateSchema(sqlite3* db) {
  Exec(db,
       "CREATE TABLE IF NOT EXISTS zyl_user("
       " user_id INTEGER PRIMARY KEY,"
       " user_name TEXT NOT NULL UNIQUE COLLATE NOCASE,"
       " password TEXT,"  // PBKDF2 hash; NULL: the user cannot connect
       " dbaauth TEXT NOT NULL DEFAULT 'N',"
       " resourceauth TEXT NOT NULL DEFAULT 'N',"
       " user_group TEXT NOT NULL DEFAULT 'N',"
       " remarks TEXT);"
       "CREATE TABLE IF NOT EXISTS zyl_option("
       " user_name TEXT NOT NULL COLLATE NOCASE,"
       " option_name TEXT NOT NULL COLLATE NOCASE,"
       " setting TEXT,"
       " PRIMARY KEY(user_name, option_name));");
  Stmt count(db, "SELECT count(*) FROM zyl_user");
  count.Step();
  if (count.ColInt(0) > 0) return;
  struct Row {
    int id;
    const char* name;
    const char* pwd;
    const char* dba;
    const char* group;
  } rows[] = {{0, "SYS", nullptr, "Y", "Y"}, {1, "DBA", "sql", "Y", "N"}, {2, "PUBLIC", nullptr, "N", "Y"}};
  for (const auto& r : rows) {
    Stmt ins(db, "INSERT INTO zyl_user(user_id, user_name, password, dbaauth, resourceauth, user_group) "
                 "VALUES (?1, ?2, ?3, ?4, ?4, ?5)");
    ins.Int(1, r.id);
    ins.Text(2, r.name);
    if (r.pwd) ins.Text(3, auth::HashPassword(r.pwd));
    else ins.Null(3);
    ins.Text(4, r.dba);
    ins.Text(5, r.group);
    ins.Step();
  }
}

bool HasSchema(sqlite3* db) {
  Stmt s(db, "SELECT count(*) FROM sqlite_schema WHERE type='table' AND name='zyl_user'");
  s.Step();
  return s.ColInt(0) == 1;
}

int Authenticate(sqlite3* db, const std::string& uid, const std::string& pwd) {
  Stmt s(db, "SELECT user_id, password FROM zyl_user WHERE user_name = ?1");
  s.Text(1, uid);
  if (!s.Step() || s.ColNull(1)) {
    auth::DummyVerify(pwd);
    throw SqlError(SQLE_INVALID_LOGON);
  }
  int id = int(s.ColInt(0));
  if (!auth::VerifyPassword(pwd, s.ColText(1))) throw SqlError(SQLE_INVALID_LOGON);
  return id;
}

std::string NameOf(sqlite3* db, int userId) {
  Stmt s(db, "SELECT user_name FROM zyl_user WHERE user_id = ?1");
  s.Int(1, userId);
  return s.Step() ? s.ColText(0) : std::string();
}

bool IsDba(sqlite3* db, int userId) {
  Stmt s(db, "SELECT dbaauth FROM zyl_user WHERE user_id = ?1");
  s.Int(1, userId);
  return s.Step() && s.ColText(0) == "Y";
}

void GrantConnect(sqlite3* db, const std::string& name, const std::optional<std::string>& password) {
  if (name.empty() || name.size() > 128) throw SqlError(SQLE_IDENTIFIER_TOO_LONG, {name});
  Stmt find(db, "SELECT user_id FROM zyl_user WHERE user_name = ?1");
  find.Text(1, name);
  if (find.Step()) {
    Stmt up(db, "UPDATE zyl_user SET password = ?2 WHERE user_id = ?1");
    up.Int(1, find.ColInt(0));
    if (password) up.Text(2, auth::HashPassword(*password));
    else up.Null(2);
    up.Step();
    return;
  }
  Stmt ins(db, "INSERT INTO zyl_user(user_id, user_name, password) "
               "VALUES ((SELECT max(user_id) + 1 FROM zyl_user), ?1, ?2)");
  ins.Text(1, name);
  if (password) ins.Text(2, auth::HashPassword(*password));
  else ins.Null(2);
  ins.Step();
}

void RevokeConnect(sqlite3* db, const std::string& name) {
  Stmt del(db, "DELETE FROM zyl_user WHERE user_name = ?1 AND user_id > 0");
  del.Text(1, name);
  del.Step();
  if (sq::changes(db) == 0) throw SqlError(SQLE_UNKNOWN_USERID, {name});
}

bool GetPermanentOption(sqlite3* db, const std::string& user, const std::string& name, std::string& value) {
  Stmt s(db, "SELECT setting FROM zyl_option WHERE user_name = ?1 AND option_name = ?2");
  s.Text(1, user);
  s.Text(2, name);
  if (!s.Step()) return false;
  value = s.ColText(0);
  return true;
}

void SetPermanentOption(sqlite3* db, const std::string& user, const std::string& name, const std::string& value) {
  Stmt s(db, "INSERT INTO zyl_option(user_name, option_name, setting) VALUES (?1, ?2, ?3) "
             "ON CONFLICT(user_name, option_name) DO UPDATE SET setting = excluded.setting");
  s.Text(1, user);
  s.Text(2, name);
  s.Text(3, value);
  s.Step();
}

}  // namespace dbl::users
