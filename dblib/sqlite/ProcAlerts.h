// The built-in alert procedures (zp_alert_*) of every database: their definitions and their
// installation into a database's catalog. What each does: dblib/sqlite/ProcAlerts.cpp.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

namespace dbl {

class SqliteConnection;

// The CREATE PROCEDURE texts, as the catalog shows them.
const std::vector<std::string>& AlertProcedureTexts();

// Makes sure the alert tables and procedures exist in the database of this handle. Installs
// them only when no transaction is open on the handle (it commits); true when they exist.
// mayWait: wait for another connection's write lock (else give up at once and say false).
bool EnsureAlertProcedures(sqlite3* db, bool mayWait);

// Registers zyl_alert_wait(ms) on the connection: waits at most ms milliseconds for a commit to
// the database by any connection of any process, or for a cancel of the connection's request;
// returns the milliseconds it waited (fractional). The receive procedure waits with it.
void RegisterAlertFunctions(SqliteConnection& conn);

}  // namespace dbl
