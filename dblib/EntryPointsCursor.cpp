// The dbpp_* bodies for cursors: declare, open, fetch, get data, positioned changes, resume,
// close, describe of a cursor, explain.
#include "dblib/Client.h"
#include "dblib/CursorType.h"
#include "dblib/Describe.h"
#include "dblib/EntryPoints.h"
#include "dblib/EntryPointsInternal.h"
#include "dblib/Transfer.h"

namespace dbl {

void WriteNames(Client& c, const std::vector<ColumnDesc>& cols, SQLDA* da, unsigned short namespec,
                const std::string& owner, const std::string& tableName);

namespace {

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
    throw SqlError(SQLE_NOT_IMPLEMENTED, {"OPEN"});
  });
}

void Fetch(SQLCA* sqlca, char* cursor, unsigned short offset_type, a_sql_int32 offset, struct sqlda* descriptor,
           short blocksize, unsigned short options) {
  Request(sqlca, [&](Client& c) {
    OpenSlot(c.Current(), cursor);
    throw SqlError(SQLE_NOT_IMPLEMENTED, {"FETCH"});
  });
}

void FetchArray(SQLCA* sqlca, char* cursor, unsigned short offset_type, a_sql_int32 offset, struct sqlda* descriptor,
                short blocksize, unsigned short options, unsigned short rows) {
  Request(sqlca, [&](Client& c) {
    OpenSlot(c.Current(), cursor);
    throw SqlError(SQLE_NOT_IMPLEMENTED, {"FETCH"});
  });
}

void GetData(SQLCA* sqlca, char* cursor, unsigned short column, a_sql_int32 offset, struct sqlda* descriptor,
             unsigned short reserved) {
  Request(sqlca, [&](Client& c) {
    OpenSlot(c.Current(), cursor);
    throw SqlError(SQLE_NOT_IMPLEMENTED, {"GET DATA"});
  });
}

void PutInto(SQLCA* sqlca, char* cursor, struct sqlda* in, struct sqlda* out) {
  Request(sqlca, [&](Client& c) {
    OpenSlot(c.Current(), cursor);
    throw SqlError(SQLE_NOT_IMPLEMENTED, {"PUT"});
  });
}

void Update(SQLCA* sqlca, char* cursor, struct sqlda* descriptor) {
  Request(sqlca, [&](Client& c) {
    OpenSlot(c.Current(), cursor);
    throw SqlError(SQLE_NOT_IMPLEMENTED, {"UPDATE"});
  });
}

void Delete(SQLCA* sqlca, char* cursor, char* owner, char* table) {
  Request(sqlca, [&](Client& c) {
    OpenSlot(c.Current(), cursor);
    throw SqlError(SQLE_NOT_IMPLEMENTED, {"DELETE"});
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
    OpenSlot(c.Current(), cursor);
    throw SqlError(SQLE_NOT_IMPLEMENTED, {"DESCRIBE CURSOR"});
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
    st->DescribeOutput(cols, mayVary);
    WriteNames(c, cols, descriptor, namespec, cc.conn->UserName(), TableOf(cols));
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
