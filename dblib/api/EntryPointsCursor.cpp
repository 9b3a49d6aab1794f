// The dbpp_* bodies for cursors: declare, open, fetch, get data, positioned changes, resume,
// close, describe of a cursor, explain.
#include "dblib/api/Client.h"
#include "dblib/api/EntryPoints.h"
#include "dblib/api/EntryPointsInternal.h"
#include "dblib/api/FetchOps.h"
#include "dblib/api/Transfer.h"
#include "dblib/engine/Cursor.h"
#include "dblib/sql/Describe.h"

namespace dbl {

void WriteColumns(SQLDA* da, const std::vector<ColumnDesc>& cols);
bool OptionOn(Connection& conn, const char* name);
void WriteNames(Client& c, const std::vector<ColumnDesc>& cols, SQLDA* da, unsigned short namespec,
                const std::string& owner, const std::string& tableName);

// Stand-ins for the fetch family until the cursor unit's FetchOps.cpp is linked in (its
// definitions replace these at link time).
#define ZYL_STANDIN __attribute__((weak))
ZYL_STANDIN FetchOutcome Fetch(Cursor&, unsigned, int32_t, SQLDA*, unsigned) {
  throw SqlError(SQLE_NOT_IMPLEMENTED, {"FETCH"});
}
ZYL_STANDIN FetchOutcome FetchArray(Cursor&, unsigned, int32_t, SQLDA*, unsigned, unsigned) {
  throw SqlError(SQLE_NOT_IMPLEMENTED, {"FETCH"});
}
ZYL_STANDIN FetchOutcome GetData(Cursor&, unsigned, int32_t, SQLDA*) { throw SqlError(SQLE_NOT_IMPLEMENTED, {"GET DATA"}); }
ZYL_STANDIN FetchOutcome UpdateCurrent(Cursor&, const SQLDA*, Connection&) {
  throw SqlError(SQLE_NOT_IMPLEMENTED, {"UPDATE"});
}
ZYL_STANDIN FetchOutcome DeleteCurrent(Cursor&) { throw SqlError(SQLE_NOT_IMPLEMENTED, {"DELETE"}); }
ZYL_STANDIN FetchOutcome PutInto(Cursor&, const SQLDA*, SQLDA*, Connection&) {
  throw SqlError(SQLE_NOT_IMPLEMENTED, {"PUT"});
}

namespace {

// Writes a fetch-family outcome into the SQLCA: the count always (SQLCOUNT also matters
// with 100), the code when it is a warning.
void Report(Client& c, const FetchOutcome& o) {
  c.sqlca->sqlerrd[2] = o.count;
  if (o.code != 0) {
    ReportCode(c, o.code);
    c.sqlca->sqlerrd[2] = o.count;
  }
}

CursorSlot& OpenSlot(ClientConnection& cc, const char* cursor) {
  if (!cursor || !*cursor) throw SqlError(SQLE_CURSOR_NOT_DECLARED);
  CursorSlot* slot = cc.FindCursor(cursor);
  if (!slot) throw SqlError(SQLE_CURSOR_NOT_DECLARED);
  if (!slot->cursor) throw SqlError(SQLE_CURSOR_NOT_OPEN);
  return *slot;
}

std::string TableOf(const std::vector<ColumnDesc>& cols) {
  for (auto& c : cols)
    if (!c.baseTable.empty()) return c.baseTable;
  return {};
}

}  // namespace
}  // namespace dbl

namespace dbl::pp {

void Declare(SQLCA* sqlca, char* cursor, char* stmt_name, char* progname, short* stmtnum, a_sql_uint32 options) {
  Request(sqlca, [&](Client& c) {
    ClientConnection& cc = c.Current();
    if (!cursor || !*cursor) throw SqlError(SQLE_CURSOR_NOT_DECLARED);
    auto [st, n] = ResolveStatement(cc, stmt_name, stmtnum);
    if (CursorSlot* old = cc.FindCursor(cursor); old && old->cursor) throw SqlError(SQLE_CURSOR_ALREADY_OPEN);
    CursorSlot& slot = cc.DeclareCursor(cursor);
    slot.stmtnum = n;
    slot.declareOptions = options;
  });
}

void Open(SQLCA* sqlca, char* cursor, char* stmt_name, char* progname, short* stmtnum, struct sqlda* in,
          short blocksize, short isolation, a_sql_uint32 options) {
  Request(sqlca, [&](Client& c) {
    ClientConnection& cc = c.Current();
    if (!cursor || !*cursor) throw SqlError(SQLE_CURSOR_NOT_DECLARED);
    CursorSlot* slot = cc.FindCursor(cursor);
    if ((stmt_name && *stmt_name) || (stmtnum && *stmtnum > 0)) {
      // A static cursor: OPEN names its statement itself.
      auto [st, n] = ResolveStatement(cc, stmt_name, stmtnum);
      if (slot && slot->cursor) throw SqlError(SQLE_CURSOR_ALREADY_OPEN);
      slot = &cc.DeclareCursor(cursor);
      slot->stmtnum = n;
    }
    if (!slot || slot->stmtnum == 0) throw SqlError(SQLE_CURSOR_NOT_DECLARED);
    if (slot->cursor) throw SqlError(SQLE_CURSOR_ALREADY_OPEN);
    Statement* st = cc.Find(slot->stmtnum);
    if (!st) throw SqlError(SQLE_INVALID_STATEMENT);
    CursorOptions opts;
    opts.bits = options | slot->declareOptions | cc.OptionsOf(slot->stmtnum);
    // Updatability given at PREPARE wins over the OPEN's default read-only bit.
    if (cc.OptionsOf(slot->stmtnum) & CUR_FOR_UPDATE) opts.bits &= ~uint32_t(CUR_READ_ONLY);
    if (options & CUR_ISOLATION_GIVEN) {
      if (isolation < 0 || isolation > 3) throw SqlError(SQLE_INVALID_OPTION_SETTING, {"isolation_level"});
      opts.isolation = isolation;
    }
    const short number = slot->stmtnum;
    std::vector<Value> inputs =
        ReadInputs(in, *cc.conn, [&]() -> const std::vector<short>& { return cc.InputTypesOf(number); });
    EngineRequest r(cc);
    opts.exactCount = OptionOn(*cc.conn, "row_counts");
    if (c.debug) c.CallDebug("open " + std::string(cursor) + ": " + st->Text());
    slot->cursor = st->Open(inputs, opts);
    c.sqlca->sqlerrd[2] = slot->cursor->OpenCount();
    // A procedure call that made no result set: the cursor is open and empty, and the client
    // learns that the procedure has completed.
    if (slot->cursor->Columns().empty()) ReportCode(c, SQLE_PROCEDURE_COMPLETE);
  });
}

void Fetch(SQLCA* sqlca, char* cursor, unsigned short offset_type, a_sql_int32 offset, struct sqlda* descriptor,
           short blocksize, unsigned short options) {
  Request(sqlca, [&](Client& c) {
    ClientConnection& cc = c.Current();
    CursorSlot& slot = OpenSlot(cc, cursor);
    EngineRequest r(cc);
    Report(c, dbl::Fetch(*slot.cursor, offset_type, offset, descriptor, options));
  });
}

void FetchArray(SQLCA* sqlca, char* cursor, unsigned short offset_type, a_sql_int32 offset, struct sqlda* descriptor,
                short blocksize, unsigned short options, unsigned short rows) {
  Request(sqlca, [&](Client& c) {
    ClientConnection& cc = c.Current();
    CursorSlot& slot = OpenSlot(cc, cursor);
    EngineRequest r(cc);
    Report(c, dbl::FetchArray(*slot.cursor, offset_type, offset, descriptor, options, rows));
  });
}

void GetData(SQLCA* sqlca, char* cursor, unsigned short column, a_sql_int32 offset, struct sqlda* descriptor,
             unsigned short reserved) {
  Request(sqlca, [&](Client& c) {
    ClientConnection& cc = c.Current();
    CursorSlot& slot = OpenSlot(cc, cursor);
    EngineRequest r(cc);
    Report(c, dbl::GetData(*slot.cursor, column, offset, descriptor));
  });
}

void PutInto(SQLCA* sqlca, char* cursor, struct sqlda* in, struct sqlda* out) {
  Request(sqlca, [&](Client& c) {
    ClientConnection& cc = c.Current();
    CursorSlot& slot = OpenSlot(cc, cursor);
    EngineRequest r(cc);
    Report(c, dbl::PutInto(*slot.cursor, in, out, *cc.conn));
  });
}

void Update(SQLCA* sqlca, char* cursor, struct sqlda* descriptor) {
  Request(sqlca, [&](Client& c) {
    ClientConnection& cc = c.Current();
    CursorSlot& slot = OpenSlot(cc, cursor);
    EngineRequest r(cc);
    Report(c, dbl::UpdateCurrent(*slot.cursor, descriptor, *cc.conn));
  });
}

void Delete(SQLCA* sqlca, char* cursor, char* owner, char* table) {
  Request(sqlca, [&](Client& c) {
    ClientConnection& cc = c.Current();
    CursorSlot& slot = OpenSlot(cc, cursor);
    EngineRequest r(cc);
    Report(c, dbl::DeleteCurrent(*slot.cursor));
  });
}

void Resume(SQLCA* sqlca, char* cursor) {
  Request(sqlca, [&](Client& c) {
    ClientConnection& cc = c.Current();
    CursorSlot& slot = OpenSlot(cc, cursor);
    Statement* st = cc.Find(slot.stmtnum);
    if (!st) throw SqlError(SQLE_INVALID_STATEMENT);
    EngineRequest r(cc);
    auto next = st->Resume(*slot.cursor);
    if (!next) {
      ReportCode(c, SQLE_PROCEDURE_COMPLETE);
      return;
    }
    slot.cursor = std::move(next);
  });
}

void Close(SQLCA* sqlca, char* cursor) {
  Request(sqlca, [&](Client& c) {
    CursorSlot& slot = OpenSlot(c.Current(), cursor);
    slot.cursor.reset();
  });
}

void DescribeCursor(SQLCA* sqlca, char* cursor, struct sqlda* descriptor, unsigned what) {
  Request(sqlca, [&](Client& c) {
    CursorSlot& slot = OpenSlot(c.Current(), cursor);
    unsigned kind = what & 0xFF;
    if (kind != DESCRIBE_OUTPUT && kind != DESCRIBE_OUTPUT_VARIABLE) throw SqlError(SQLE_INVALID_DESCRIBE_TYPE);
    WriteColumns(descriptor, slot.cursor->Columns());
    if (kind == DESCRIBE_OUTPUT_VARIABLE) c.sqlca->sqlerrd[2] = 1;
  });
}

void DescribeNames(SQLCA* sqlca, char* stmt_name, char* progname, short* stmtnum, char* cursor,
                   struct sqlda* descriptor, unsigned what, unsigned short namespec) {
  Request(sqlca, [&](Client& c) {
    ClientConnection& cc = c.Current();
    Statement* st = nullptr;
    if (cursor && *cursor) {
      CursorSlot& slot = OpenSlot(cc, cursor);
      st = cc.Find(slot.stmtnum);
      if (!st) throw SqlError(SQLE_INVALID_STATEMENT);
    } else {
      st = ResolveStatement(cc, stmt_name, stmtnum).first;
    }
    std::vector<ColumnDesc> cols;
    bool mayVary = false;
    EngineRequest r(cc);
    std::string table;
    if (cursor && *cursor) {
      Cursor& cur = *cc.FindCursor(cursor)->cursor;
      cols = cur.Columns();
      table = cur.TableName();
    } else {
      st->DescribeOutput(cols, mayVary);
    }
    if (table.empty()) table = TableOf(cols);
    WriteNames(c, cols, descriptor, namespec, cc.conn->UserName(), table);
  });
}

void Explain(SQLCA* sqlca, char* cursor, unsigned short reserved, struct sqlda* descriptor) {
  Request(sqlca, [&](Client& c) {
    ClientConnection& cc = c.Current();
    CursorSlot& slot = OpenSlot(cc, cursor);
    Statement* st = cc.Find(slot.stmtnum);
    if (!st) throw SqlError(SQLE_INVALID_STATEMENT);
    if (!descriptor || descriptor->sqld < 1) throw SqlError(SQLE_SQLDA_TOO_SMALL);
    EngineRequest r(cc);
    std::string plan = cc.conn->Explain(st->Text());
    ApplyWarning(c, WriteValue(descriptor->sqlvar[0], Value::Text(plan)));
  });
}

}  // namespace dbl::pp
