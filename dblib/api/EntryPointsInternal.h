// Helpers shared by the dbpp_* bodies.
#pragma once

#include <utility>

#include "dblib/api/Client.h"

namespace dbl {

// The statement a (name, number) pair designates; -130 when there is none.
std::pair<Statement*, short> ResolveStatement(ClientConnection& cc, const char* stmt_name, const short* stmtnum);
// Reports a warning (> 0) unless the request already has an outcome.
void ApplyWarning(Client& c, int code);
// DESCRIBE of a statement into a caller's SQLDA (kinds 1, 2, 3, 9).
void DescribeInto(Client& c, ClientConnection& cc, Statement& st, SQLDA* da, unsigned what);
// Writes the value text into a one-variable string descriptor (connection info, ...).
void WriteText(SQLDA* da, const std::string& text);

}  // namespace dbl
