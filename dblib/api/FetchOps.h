// The bodies of the cursor entry points (dbpp_fetch, dbpp_fetch_array, dbpp_get_data,
// dbpp_update, dbpp_delete, dbpp_put_into): the vendor's positioning arithmetic over a
// dbl::Cursor and the transfer of row values into and out of the caller's SQLDA. The entry
// points validate the SQLCA and find the open cursor by name, then call these and write the
// outcome into the SQLCA: code -> sqlcode (0, or a warning such as 100 / 101), count ->
// sqlerrd[2]. Errors throw dbl::SqlError.
//
// SQLCOUNT rules: a fetch that finds no row returns 100 with the distance of the requested
// position beyond the result (0 = a valid position without a row: just before the first or
// just after the last row; > 0 further beyond the end, < 0 further before the start); a block
// fetch returns the rows delivered (100 only when there was no row at all) and leaves the
// cursor on the last row delivered; GET DATA returns the full length of the value.
//
// A row with a value that cannot be delivered (-157, -158: a stored value its column's type
// cannot hold) fails the fetch that reaches it first in its block, with the cursor on that row,
// so the next FETCH NEXT goes on behind it; a block fetch stops before such a row and delivers
// the rows ahead of it. So a bad value costs its own row and nothing else.
#pragma once

#include <cstdint>

#include "dblib/engine/Cursor.h"
#include "dblib/engine/Engine.h"
#include "dblib/esql.h"

namespace dbl {

struct FetchOutcome {
  int code = 0;       // SQLCODE to report when no error was thrown: 0, 100, 101, 103 ...
  int32_t count = 0;  // SQLCOUNT (sqlerrd[2])
};

// offsetType: 1 absolute (n > 0: row n, n < 0: n-th row from the end, 0: before first),
// 2 relative (0 re-reads the current row). da may be null (positioning only). options bit
// 0x08: the row is read for update.
FetchOutcome Fetch(Cursor& c, unsigned offsetType, int32_t offset, SQLDA* da, unsigned options);
// Block fetch: up to rows rows into a multi-row SQLDA (row r in sqlvar[r*cols .. r*cols+cols-1],
// cols = sqld / rows); -700 when the rows' types differ.
FetchOutcome FetchArray(Cursor& c, unsigned offsetType, int32_t offset, SQLDA* da, unsigned options,
                        unsigned rows);
// Piece of column `column` (1-based) of the current row from byte `offset` into sqlvar[0];
// 101 while more of the value follows the piece delivered.
FetchOutcome GetData(Cursor& c, unsigned column, int32_t offset, SQLDA* da);
// Positioned changes: sqlvar[i] is column i; only variables with a type and data take part
// (indicator < 0: NULL); DT_VARIABLE takes the value of that connection variable.
FetchOutcome UpdateCurrent(Cursor& c, const SQLDA* da, Connection& conn);
FetchOutcome DeleteCurrent(Cursor& c);
// Inserts the row of `in` (variables without data take the column default) and, when out is
// given, delivers the stored row into it like a one-row fetch.
FetchOutcome PutInto(Cursor& c, const SQLDA* in, SQLDA* out, Connection& conn);

}  // namespace dbl
