// The one door to libpq: owning handles for connections and results, and the mapping of the
// server's failures onto the vendor's SQLCODEs (PgErrors.cpp). Only dblib/postgres/ includes
// libpq's header.
#pragma once

#include <libpq-fe.h>

#include <memory>
#include <string>
#include <string_view>

#include "dblib/sql/Errors.h"

namespace dbl::pg {

struct ResultFree {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultFree>;

struct ConnFree {
  void operator()(PGconn* c) const { PQfinish(c); }
};
using Conn = std::unique_ptr<PGconn, ConnFree>;

// The server's error (SQLSTATE and message of a failed result) as the vendor's code:
// syntax -131, unknown table -141, unknown column -143, unknown function -148, NOT NULL -195,
// unique/primary key -193/-196, foreign key -194, check -209, a value the type cannot hold
// -157 (-158 out of range), deadlock -306, lock time-out -210, serialization failure -210,
// cancelled -299, lost connection -308, permission -121, anything else -300 with the text.
SqlError FromResult(const PGresult* r, PGconn* c, std::string_view sql = {});
// A failed connection attempt: -103 for an unknown user or a wrong password (one text for
// both), -83 for an unknown database, -100 for a server that cannot be reached.
SqlError FromConnect(PGconn* c);

}  // namespace dbl::pg
