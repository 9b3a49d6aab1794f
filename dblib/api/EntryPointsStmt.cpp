// The dbpp_* bodies for statements, transactions, options and connections (the cursor calls
// are in EntryPointsCursor.cpp, describe in EntryPointsDescribe.cpp).
#include "dblib/api/EntryPoints.h"

#include <cstring>

#include "dblib/api/Client.h"
#include "dblib/api/EntryPointsInternal.h"
#include "dblib/api/Transfer.h"
#include "dblib/engine/Cursor.h"

namespace dbl {

std::pair<Statement*, short> ResolveStatement(ClientConnection& cc, const char* stmt_name, const short* stmtnum) {
  short n = 0;
  if (stmt_name && *stmt_name) {
    auto it = cc.statementNames.find(stmt_name);
    if (it != cc.statementNames.end()) n = it->second;
  } else if (stmtnum) {
    n = *stmtnum;
  }
  Statement* st = n > 0 ? cc.Find(n) : nullptr;
  if (!st) throw SqlError(SQLE_INVALID_STATEMENT);
  return {st, n};
}

void ApplyWarning(Client& c, int code) {
  if (code > 0 && c.sqlca->sqlcode == 0) ReportCode(c, code);
}

}  // namespace dbl

namespace dbl::pp {

void Prepare(SQLCA* sqlca, char* stmt_name, char* progname, short* stmtnum, char* text, struct sqlda* descriptor,
             unsigned options) {
  Request(sqlca, [&](Client& c) {
    ClientConnection& cc = c.Current();
    if (!text) throw SqlError(SQLE_SYNTAX_ERROR, {"end of statement", ""}, 0);
    if (!stmtnum && !(stmt_name && *stmt_name)) throw SqlError(SQLE_INVALID_STATEMENT);
    EngineRequest r(cc);
    if (c.debug) c.CallDebug(std::string("prepare: ") + text);
    auto st = cc.conn->Prepare(text);
    short requested = stmtnum ? *stmtnum : 0;
    if (stmt_name && *stmt_name) {
      auto it = cc.statementNames.find(stmt_name);
      if (it != cc.statementNames.end()) requested = it->second;
    }
    short n = cc.Store(requested, std::move(st), options);
    if (stmtnum) *stmtnum = n;
    if (stmt_name && *stmt_name) cc.statementNames[stmt_name] = n;
    if (descriptor) DescribeInto(c, cc, *cc.Find(n), descriptor, DESCRIBE_OUTPUT);
  });
}

void PrepareDescribe(SQLCA* sqlca, char* cursor, char* progname, short* stmtnum, char* text, struct sqlda* in,
                     struct sqlda* out, unsigned what, unsigned short longnames, a_sql_uint32 options) {
  Prepare(sqlca, nullptr, progname, stmtnum, text, nullptr, options);
  if (sqlca && sqlca->sqlcode >= 0 && (what >> 8) != 0 && out)
    Describe(sqlca, nullptr, progname, stmtnum, out, what >> 8);
}

void PrepareExecDrop(SQLCA* sqlca, char* text, struct sqlda* in, struct sqlda* out) {
  short n = 0;
  Prepare(sqlca, nullptr, nullptr, &n, text, nullptr, 0);
  if (!sqlca || sqlca->sqlcode < 0) return;
  ExecuteInto(sqlca, nullptr, nullptr, &n, in, out);
  // Keep the execute's outcome in the SQLCA; the drop only frees the number.
  SQLCA saved = *sqlca;
  Dropstmt(sqlca, nullptr, nullptr, &n);
  *sqlca = saved;
}

void Dropstmt(SQLCA* sqlca, char* stmt_name, char* progname, short* stmtnum) {
  Request(sqlca, [&](Client& c) {
    ClientConnection& cc = c.Current();
    auto [st, n] = ResolveStatement(cc, stmt_name, stmtnum);
    cc.Drop(n);
  });
}

void ExecuteInto(SQLCA* sqlca, char* stmt_name, char* progname, short* stmtnum, struct sqlda* in, struct sqlda* out) {
  Request(sqlca, [&](Client& c) {
    ClientConnection& cc = c.Current();
    auto [st, n] = ResolveStatement(cc, stmt_name, stmtnum);
    // A lambda may not capture a structured binding (C++20 as clang implements it): a copy.
    const auto number = n;
    std::vector<Value> inputs =
        ReadInputs(in, *cc.conn, [&]() -> const std::vector<short>& { return cc.InputTypesOf(number); });
    std::vector<Value> outputs;
    EngineRequest r(cc);
    if (c.debug) c.CallDebug("execute: " + st->Text());
    ExecResult res = st->Execute(inputs, out ? &outputs : nullptr);
    int warn = res.warning;
    if (out && !outputs.empty()) {
      int w = WriteOutputs(out, outputs);
      if (w && !warn) warn = w;
    }
    c.sqlca->sqlerrd[2] = a_sql_int32(res.rowsAffected);
    ApplyWarning(c, warn);
  });
}

void ExecuteImm(SQLCA* sqlca, char* text, unsigned short kind) {
  Request(sqlca, [&](Client& c) {
    ClientConnection& cc = c.Current();
    if (!text) throw SqlError(SQLE_SYNTAX_ERROR, {"end of statement", ""}, 0);
    EngineRequest r(cc);
    if (c.debug) c.CallDebug(std::string("execute immediate: ") + text);
    ExecResult res = cc.conn->ExecuteImmediate(text);
    c.sqlca->sqlerrd[2] = a_sql_int32(res.rowsAffected);
    ApplyWarning(c, res.warning == SQLE_NOTFOUND ? 0 : res.warning);
  });
}

void Commit(SQLCA* sqlca, unsigned reserved) {
  Request(sqlca, [&](Client& c) {
    ClientConnection& cc = c.Current();
    EngineRequest r(cc);
    cc.conn->Commit();
  });
}

void Rollback(SQLCA* sqlca, unsigned reserved) {
  Request(sqlca, [&](Client& c) {
    ClientConnection& cc = c.Current();
    EngineRequest r(cc);
    cc.conn->Rollback();
  });
}

void Getoption(SQLCA* sqlca, int reserved, char* user, char* option, struct sqlda* out) {
  Request(sqlca, [&](Client& c) {
    ClientConnection& cc = c.Current();
    if (!option || !*option) throw SqlError(SQLE_INVALID_OPTION, {""});
    if (!out || out->sqld < 1) throw SqlError(SQLE_SQLDA_TOO_SMALL);
    std::string v = cc.conn->GetOption(option);
    ApplyWarning(c, WriteValue(out->sqlvar[0], Value::Text(v)));
  });
}

void Setoption(SQLCA* sqlca, int temporary, char* user, char* option, struct sqlda* value) {
  Request(sqlca, [&](Client& c) {
    ClientConnection& cc = c.Current();
    if (!option || !*option) throw SqlError(SQLE_INVALID_OPTION, {""});
    if (!value || value->sqld < 1) throw SqlError(SQLE_SQLDA_TOO_SMALL);
    std::vector<Value> v = ReadInputs(value, *cc.conn);
    EngineRequest r(cc);
    cc.conn->SetOption(user ? user : "", option, v.empty() ? "" : v[0].ToText(), temporary != 0);
  });
}

void Disconnect(SQLCA* sqlca, char* conn_name) {
  Request(sqlca, [&](Client& c) {
    if (conn_name && UpperName(conn_name) == "ALL") {
      c.RemoveAll();
      return;
    }
    ClientConnection* cc = (conn_name && UpperName(conn_name) != "CURRENT") ? c.FindConnection(conn_name) : &c.Current();
    if (!cc) throw SqlError(SQLE_CONNECTION_NOT_FOUND);
    c.Remove(cc);
  });
}

void Setconnect(SQLCA* sqlca, char* conn_name) {
  Request(sqlca, [&](Client& c) {
    ClientConnection* cc = c.FindConnection(conn_name ? conn_name : "");
    if (!cc) throw SqlError(SQLE_CONNECTION_NOT_FOUND);
    c.SetCurrent(cc);
  });
}

}  // namespace dbl::pp
