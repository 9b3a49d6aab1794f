// Users, authentication and permanent options inside a database file created by the library
// (tables zyl_user and zyl_option). New databases hold SYS (id 0, cannot connect), DBA (id 1,
// password "sql") and PUBLIC (id 2, a group: cannot connect).
#pragma once

#include <optional>
#include <string>

#include <sqlite3.h>

namespace dbl::users {

void CreateSchema(sqlite3* db);  // inside the caller's transaction
bool HasSchema(sqlite3* db);
// The user's id; SqlError(-103) for an unknown user, a user without password and a wrong
// password alike (same work done in every case).
int Authenticate(sqlite3* db, const std::string& uid, const std::string& pwd);
std::string NameOf(sqlite3* db, int userId);
bool IsDba(sqlite3* db, int userId);
// GRANT CONNECT TO name [IDENTIFIED BY password]: creates the user or changes the password.
void GrantConnect(sqlite3* db, const std::string& name, const std::optional<std::string>& password);
// REVOKE CONNECT FROM name: -140 when there is no such user.
void RevokeConnect(sqlite3* db, const std::string& name);
bool GetPermanentOption(sqlite3* db, const std::string& user, const std::string& name, std::string& value);
void SetPermanentOption(sqlite3* db, const std::string& user, const std::string& name, const std::string& value);

}  // namespace dbl::users
