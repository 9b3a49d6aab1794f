// SQLite failures as the vendor's SQLCODEs: the one mapping from SQLite result codes and
// messages to dbl::SqlError (dblib/sql/Errors.h).
#pragma once

#include <sqlite3.h>

#include <string_view>

#include "dblib/sql/Errors.h"

namespace dbl {

// A SQL function of the library (a stored function, a variable lookup) that fails inside a
// statement: SQLite only carries a message out of it, so the error itself is kept for the
// thread, and the statement's failure (FromSqlite on the same handle with that message)
// reports the function's own code and parameters instead of a generic one.
void FailFunction(sqlite3_context* ctx, const SqlError& e);

// A lock wait on this thread gave up because the request was cancelled: the SQLITE_BUSY that
// follows is reported as interrupted (-299), not as a lock conflict.
void NoteLockWaitCancelled();

// SQLite failure -> SqlError with the vendor's code: syntax -131, unknown table -141, unknown
// column -143, NOT NULL -195, primary key -193, unique index -196, foreign key -194, check -209,
// interrupted -299, busy/locked -210, full -304, I/O -305, corrupt -301, memory -78.
SqlError FromSqlite(sqlite3* db, int rc, std::string_view sql = {});
[[noreturn]] void ThrowSqlite(sqlite3* db, int rc, std::string_view sql = {});

}  // namespace dbl
