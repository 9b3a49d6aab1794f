// The result cursor of the engine interface: an open result set that the fetch family
// (FetchOps.h) positions and reads, and that positioned changes go through. An engine opens
// one per OPEN (SqliteCursor.h for SQLite); procedures deliver their result sets as cursors
// too (MakeRowsCursor below gives a ready-made one over rows held in memory).
//
// Positions follow the vendor's cursor model:
//
//     0            1  2  ...  N        N+1
//     before first |  rows of the result | after last
//
// Life cycle:
//   open (position 0) --MoveTo(n), n in 1..N--> on row n --MoveTo(n > N)--> after last (N+1)
//        --MoveTo(0)--> before first; every state --destructor--> closed.
//   On a row: Column() reads it, Refresh() re-reads it as it is in the database now,
//   Update()/Delete() change it, Insert() adds a row and makes that row current.
//
// N may be unknown until the cursor has read to the end: Total() finds it out without moving
// the cursor (a streaming cursor reads ahead only as far as needed). Errors throw dbl::SqlError
// (Errors.h) with the vendor's SQLCODE.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dblib/sql/Describe.h"
#include "dblib/sql/Value.h"

namespace dbl {

// One column value of the current row without owning its bytes: valid until the cursor moves
// or reads again. Lets the fetch path copy a value straight into the client's buffer.
struct ValueRef {
  Value::Kind kind = Value::Kind::Null;
  int64_t i = 0;            // Integer
  double d = 0;             // Real
  const char* p = nullptr;  // Text / Blob bytes (p may be null when n == 0)
  size_t n = 0;

  static ValueRef Of(const Value& v) {
    ValueRef r;
    r.kind = v.kind;
    r.i = v.i;
    r.d = v.d;
    r.p = v.bytes.data();
    r.n = v.bytes.size();
    return r;
  }
  Value ToValue() const;
  // The same into an existing Value, reusing its storage.
  void AssignTo(Value& v) const;
};

// (column index, new value): what Update and Insert are given.
using ColumnValues = std::vector<std::pair<int, Value>>;

class Cursor {
 public:
  virtual ~Cursor() = default;

  virtual const std::vector<ColumnDesc>& Columns() const = 0;

  // SQLCOUNT after OPEN: the row count, >= 0 when exact, negative when only estimated
  // (the absolute value is the estimate). Exact when the cursor was opened asking for it.
  virtual int32_t OpenCount() const = 0;

  virtual int64_t Position() const = 0;
  // Moves to position n (>= 0). True when row n exists; false leaves the cursor before the
  // first row (n == 0) or after the last one (n > N, which makes N known).
  virtual bool MoveTo(int64_t n) = 0;
  // Number of rows in the result; reads ahead as needed, the position stays.
  virtual int64_t Total() = 0;
  // Whether N is known already (without reading ahead).
  virtual bool TotalKnown() const = 0;
  // False for a forward-only cursor: MoveTo below the position then fails with -263.
  virtual bool Scrollable() const = 0;

  // Column i (0-based) of the current row; -197 when there is none.
  virtual ValueRef Column(int i) = 0;
  // Re-reads the current row as the database holds it now (another connection's committed
  // change is seen). forUpdate: the caller means to change it (lock request). False when the
  // row no longer exists or there is no current row.
  virtual bool Refresh(bool forUpdate) = 0;

  // Positioned changes. The defaults refuse: -633 for a cursor opened read only, -192 for a
  // result that cannot be changed through a cursor.
  virtual bool Updatable() const { return false; }
  virtual bool OpenedReadOnly() const { return true; }
  // Table the cursor reads (one base table), empty when there is none.
  virtual std::string TableName() const { return {}; }
  // Returns the rows changed (1, or 0 when the row was gone).
  virtual int64_t Update(const ColumnValues& changes);
  virtual void Delete();
  // Inserts a row (columns not given take their defaults) and makes it the current row, so
  // Column() then reads the row as stored.
  virtual void Insert(const ColumnValues& values);

  // Set by a block fetch that stopped before a row it could not deliver (a value that does
  // not convert) on a cursor that cannot step back: the cursor stands on that row, but for
  // the client it is still ahead, so the next relative move counts from the row before it.
  bool heldBack = false;

 protected:
  [[noreturn]] void RefuseChange() const;
};

// A cursor over rows held in memory (procedure result sets, catalog answers): scrollable,
// exact count, not updatable.
std::unique_ptr<Cursor> MakeRowsCursor(std::vector<ColumnDesc> columns, std::vector<std::vector<Value>> rows);

}  // namespace dbl
