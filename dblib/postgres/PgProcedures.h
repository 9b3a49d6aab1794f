// Stored procedures on the network engine (PgProcedures.cpp): definitions kept in tables of the
// database, bodies run by the library's interpreter over the connection.
#pragma once

#include <memory>
#include <string>
#include <string_view>

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

}  // namespace dbl
