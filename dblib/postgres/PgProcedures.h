// Stored procedures on the network engine (PgProcedures.cpp): definitions kept in tables of the
// database, bodies run by the library's interpreter over the connection.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dblib/engine/Engine.h"
#include "dblib/proc/ProcLang.h"

namespace dbl {

class PgConnection;

// CREATE/ALTER/DROP PROCEDURE|FUNCTION and CALL; nullptr for any other statement.
std::unique_ptr<Statement> PreparePgProcedureStatement(PgConnection& conn, std::string_view text);
// The procedure a name means on this connection: owner given -> that user's; otherwise the
// connection user's, then DBA's, then anybody's. nullptr when there is none.
std::shared_ptr<const ProcDef> LoadPgProcedure(PgConnection& conn, std::string_view owner, std::string_view name);
// Whether name is a stored function of the database (false when it cannot tell).
bool IsStoredFunction(PgConnection& conn, const std::string& name);

// ---- alerts (PgAlerts.cpp) ----

// The alert tables and procedures, as statements of the catalog's installation script.
std::string AlertCatalogSql();
// "SELECT zyl_alert_wait(x)" as the interpreter sends it: the milliseconds to wait; nullopt for
// any other statement. An identifier argument is reported as an unknown column (-143), so the
// interpreter binds its variable.
std::optional<double> AlertWaitRequest(const std::string& sql, const std::vector<Value>& params);
// Waits at most ms milliseconds for an alert sent or stopped by any client, or a cancel of the
// request; returns the milliseconds it waited.
double WaitForAlert(PgConnection& conn, double ms);

}  // namespace dbl
