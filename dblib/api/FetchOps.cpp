// The fetch family over a dbl::Cursor (see FetchOps.h for the SQLCOUNT rules).
#include "dblib/api/FetchOps.h"

#include <charconv>

#include "dblib/api/Flavour.h"
#include "dblib/sql/Convert.h"
#include "dblib/sql/Errors.h"

namespace dbl {

namespace {

// The absolute position a (type, offset) pair asks for; may lie outside 1..N.
int64_t Target(Cursor& c, unsigned type, int32_t offset) {
  const bool heldBack = c.heldBack;
  c.heldBack = false;
  if (type == FETCH_ABSOLUTE) return offset >= 0 ? offset : c.Total() + 1 + offset;
  if (type == FETCH_RELATIVE) return c.Position() - (heldBack ? 1 : 0) + offset;
  throw SqlError(SQLE_INVALID_FETCH_POSITION);
}

// Moves to t; on a miss, the outcome 100 with the distance beyond the valid positions.
bool Position(Cursor& c, int64_t t, FetchOutcome& miss) {
  if (t >= 1 && c.MoveTo(t)) return true;
  if (t < 1) {
    c.MoveTo(0);
    miss.count = static_cast<int32_t>(t < INT32_MIN ? INT32_MIN : t);
  } else {
    int64_t beyond = t - (c.Total() + 1);
    miss.count = static_cast<int32_t>(beyond > INT32_MAX ? INT32_MAX : beyond);
  }
  miss.code = SQLE_NOTFOUND;
  return false;
}

// The current row into variables first .. first+n-1; returns 0 or 101.
int DeliverRow(Cursor& c, SQLVAR* vars, int n) {
  const auto& cols = c.Columns();
  int ncols = static_cast<int>(cols.size());
  int code = 0;
  for (int i = 0; i < n && i < ncols; ++i) {
    if (PutValue(c.Column(i), cols[static_cast<size_t>(i)].sqltype, vars[i]) == SQLE_TRUNCATED) code = SQLE_TRUNCATED;
  }
  return code;
}

void CheckDescriptor(const SQLDA* da) {
  if (da && (da->sqld < 0 || da->sqld > da->sqln)) throw SqlError(SQLE_SQLDA_TOO_SMALL);
}

// The values of a changes / insert descriptor, variable i for column i.
ColumnValues ValuesOf(Cursor& c, const SQLDA* da, Connection& conn) {
  ColumnValues out;
  if (!da) return out;
  CheckDescriptor(da);
  const auto& cols = c.Columns();
  for (int i = 0; i < da->sqld; ++i) {
    const SQLVAR& var = da->sqlvar[i];
    Value v;
    std::string name;
    short dest = i < static_cast<int>(cols.size()) ? cols[static_cast<size_t>(i)].sqltype : 0;
    if (!ReadValue(var, dest, v, &name)) continue;
    if (i >= static_cast<int>(cols.size())) throw SqlError(SQLE_WRONG_NUM_OF_INSERT_COLS);
    if (!name.empty() && !conn.GetVariable(name, v)) throw SqlError(SQLE_VARIABLE_NOT_FOUND, {name});
    out.emplace_back(i, std::move(v));
  }
  return out;
}

}  // namespace

FetchOutcome Fetch(Cursor& c, unsigned offsetType, int32_t offset, SQLDA* da, unsigned options) {
  CheckDescriptor(da);
  FetchOutcome r;
  if (offsetType == FETCH_RELATIVE && offset == 0) {
    // Re-read the current row as the database holds it now.
    c.heldBack = false;
    if (!c.Refresh((options & FETCH_OPT_FOR_UPDATE) != 0)) return FetchOutcome{SQLE_NOTFOUND, 0};
  } else if (!Position(c, Target(c, offsetType, offset), r)) {
    return r;
  }
  r.count = 1;
  if (da) r.code = DeliverRow(c, da->sqlvar, da->sqld);
  return r;
}

FetchOutcome FetchArray(Cursor& c, unsigned offsetType, int32_t offset, SQLDA* da, unsigned options, unsigned rows) {
  if (!da) return Fetch(c, offsetType, offset, nullptr, options);
  CheckDescriptor(da);
  if (rows == 0) rows = 1;
  // Row r starts at r * cols. The binding allocates its descriptor for its largest block and
  // may ask for fewer rows, so the column count comes from the result when the descriptor
  // holds that many variables per row; a smaller descriptor is split evenly.
  int cols = static_cast<int>(c.Columns().size());
  if (da->sqld < static_cast<int>(rows) * cols) {
    if (da->sqld % static_cast<int>(rows) != 0) throw SqlError(SQLE_SQLDA_INCONSISTENT);
    cols = da->sqld / static_cast<int>(rows);
  }
  for (unsigned r = 1; r < rows; ++r)
    for (int i = 0; i < cols; ++i)
      if ((da->sqlvar[r * cols + i].sqltype & DT_TYPES) != (da->sqlvar[i].sqltype & DT_TYPES))
        throw SqlError(SQLE_SQLDA_INCONSISTENT);

  FetchOutcome out;
  if (offsetType == FETCH_RELATIVE && offset == 0) {
    c.heldBack = false;
    if (!c.Refresh((options & FETCH_OPT_FOR_UPDATE) != 0)) return FetchOutcome{SQLE_NOTFOUND, 0};
  } else if (!Position(c, Target(c, offsetType, offset), out)) {
    return out;
  }
  int code = DeliverRow(c, da->sqlvar, cols);
  unsigned delivered = 1;
  // A short block ran into the end. The cursor stays on the last row delivered (a forward-only
  // cursor cannot step back and stays after it); a version-6 server leaves it after the last
  // row, and the binding's position arithmetic for that version counts on it.
  const bool afterLastOnShortBlock = dbl_flavour_version() == 6;
  while (delivered < rows) {
    int64_t next = c.Position() + 1;
    if (c.TotalKnown() && next > c.Total()) {
      if (afterLastOnShortBlock) c.MoveTo(next);
      break;
    }
    if (!c.MoveTo(next)) {
      if (c.Scrollable() && !afterLastOnShortBlock) c.MoveTo(next - 1);
      break;
    }
    int rowCode = 0;
    try {
      rowCode = DeliverRow(c, da->sqlvar + delivered * cols, cols);
    } catch (const SqlError& e) {
      if (e.Code() != SQLE_CONVERSION_ERROR && e.Code() != SQLE_OVERFLOW_ERROR) throw;
      // The block ends before this row; the fetch that comes to it reports it. A cursor that
      // can step back does so; one that cannot stays and counts the row as still ahead.
      if (c.Scrollable()) c.MoveTo(next - 1);
      else c.heldBack = true;
      break;
    }
    if (rowCode == SQLE_TRUNCATED) code = SQLE_TRUNCATED;
    ++delivered;
  }
  return FetchOutcome{code, static_cast<int32_t>(delivered)};
}

FetchOutcome GetData(Cursor& c, unsigned column, int32_t offset, SQLDA* da) {
  if (!da || da->sqld < 1 || da->sqln < 1) throw SqlError(SQLE_SQLDA_TOO_SMALL);
  if (column < 1 || column > c.Columns().size()) throw SqlError(SQLE_INVALID_COLUMN_NUMBER);
  if (offset < 0) throw SqlError(SQLE_INVALID_FETCH_POSITION);
  ValueRef v = c.Column(static_cast<int>(column - 1));
  char buf[64];
  if (v.kind == Value::Kind::Integer || v.kind == Value::Kind::Real) {
    // Numbers come in pieces of their text form.
    auto res = v.kind == Value::Kind::Integer ? std::to_chars(buf, buf + sizeof buf, v.i)
                                              : std::to_chars(buf, buf + sizeof buf, v.d);
    v.kind = Value::Kind::Text;
    v.p = buf;
    v.n = static_cast<size_t>(res.ptr - buf);
  }
  FetchOutcome out;
  out.count = static_cast<int32_t>(v.n > INT32_MAX ? INT32_MAX : v.n);
  if (v.kind == Value::Kind::Null) {
    out.code = PutValue(v, 0, da->sqlvar[0]);
    return out;
  }
  size_t from = static_cast<size_t>(offset) < v.n ? static_cast<size_t>(offset) : v.n;
  ValueRef piece = v;
  piece.p = v.p ? v.p + from : nullptr;
  piece.n = v.n - from;
  // Truncation of the piece means more of the value follows: warning 101.
  out.code = PutValue(piece, 0, da->sqlvar[0]);
  return out;
}

FetchOutcome UpdateCurrent(Cursor& c, const SQLDA* da, Connection& conn) {
  ColumnValues changes = ValuesOf(c, da, conn);
  return FetchOutcome{0, static_cast<int32_t>(c.Update(changes))};
}

FetchOutcome DeleteCurrent(Cursor& c) {
  c.Delete();
  return FetchOutcome{0, 1};
}

FetchOutcome PutInto(Cursor& c, const SQLDA* in, SQLDA* out, Connection& conn) {
  ColumnValues values = ValuesOf(c, in, conn);
  c.Insert(values);
  FetchOutcome r{0, 1};
  if (out) {
    CheckDescriptor(out);
    int n = out->sqld < static_cast<int>(c.Columns().size()) ? out->sqld : static_cast<int>(c.Columns().size());
    r.code = DeliverRow(c, out->sqlvar, n);
  }
  return r;
}

}  // namespace dbl
