// The built-in alert procedures (zp_alert_*) of every database: their definitions and their
// installation into a database's catalog. What each does: dblib/sqlite/ProcAlerts.cpp.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

namespace dbl {

// The CREATE PROCEDURE texts, as the catalog shows them.
const std::vector<std::string>& AlertProcedureTexts();

// Makes sure the alert tables and procedures exist in the database of this handle. Installs
// them only when no transaction is open on the handle (it commits); true when they exist.
// mayWait: wait for another connection's write lock (else give up at once and say false).
bool EnsureAlertProcedures(sqlite3* db, bool mayWait);

}  // namespace dbl
