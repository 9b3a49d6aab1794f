// Which foreign key a failed write broke. SQLite reports only that some foreign key failed; the
// vendor's messages name it and its table:
//   -194 No primary key value for foreign key '<key>' in table '<table>'       (the row written
//        refers to a row its primary table lacks)
//   -198 Primary key for row in table '<primary>' is referenced by foreign key '<key>' in table
//        '<table>'                                                              (a row still
//        referred to was deleted or its key changed)
// To tell which, the failed statement runs once more inside a savepoint with the foreign keys
// deferred, the tables it can have broken are checked, and the savepoint is rolled back: the
// database is as the failure left it. A key is named as its CONSTRAINT clause names it, else
// after its primary table (the vendor's default name).
#pragma once

#include <string_view>

#include "dblib/sql/Errors.h"
#include "dblib/sqlite/Sqlite.h"

namespace dbl {

class SqliteConnection;

// The error for a write that failed with a foreign-key violation: st is the failed statement
// (reset, its values still bound). Falls back to -194 without names when the key cannot be
// told (the statement is no INSERT, UPDATE or DELETE, or a trigger broke a key elsewhere).
SqlError ForeignKeyError(SqliteConnection& conn, sqlite3_stmt* st);

// A write statement st failed with rc: throws its error, a foreign-key failure named.
[[noreturn]] void ThrowWriteFailure(SqliteConnection& conn, sqlite3_stmt* st, int rc, std::string_view sql);

}  // namespace dbl
