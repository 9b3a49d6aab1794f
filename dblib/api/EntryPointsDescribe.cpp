// DESCRIBE: a statement's result columns or host variables into the caller's SQLDA, and the
// long names (and the cursor's table name) into string variables.
#include <strings.h>

#include <cstring>

#include "dblib/api/Client.h"
#include "dblib/api/EntryPoints.h"
#include "dblib/api/EntryPointsInternal.h"
#include "dblib/api/Transfer.h"
#include "dblib/engine/Cursor.h"
#include "dblib/sql/Describe.h"

namespace dbl {
namespace {

void SetName(SQLVAR& v, const std::string& name) {
  size_t n = std::min(name.size(), size_t(SQL_MAX_NAME_LEN));
  std::memset(v.sqlname.data, 0, sizeof v.sqlname.data);
  std::memcpy(v.sqlname.data, name.data(), n);
  v.sqlname.length = short(n);
}

void WriteColumn(SQLVAR& v, const ColumnDesc& c, short extraFlags) {
  v.sqltype = short(c.sqltype | (c.nullable ? DT_NULLS_ALLOWED : 0));
  v.sqllen = a_sql_len(c.sqllen > 32767 ? 32767 : c.sqllen);
  SetName(v, c.name);
  if (v.sqlind) *v.sqlind = a_sql_len(extraFlags | (c.readOnly ? 0 : DT_UPDATABLE));
}

void WriteParam(SQLVAR& v, const ParamDesc& p, short extraFlags) {
  if (p.sqltype) {
    v.sqltype = short(p.sqltype | DT_NULLS_ALLOWED);
    v.sqllen = a_sql_len(p.sqllen > 32767 ? 32767 : p.sqllen);
  } else {
    // Nothing tells the type: offer a string, which converts to whatever the statement needs.
    v.sqltype = DT_STRING | DT_NULLS_ALLOWED;
    v.sqllen = 32767;
  }
  SetName(v, p.name.empty() ? std::string("?") : p.name);
  if (v.sqlind)
    *v.sqlind = a_sql_len(extraFlags | (p.in ? DT_PROCEDURE_IN : 0) | (p.out ? int(DT_PROCEDURE_OUT) : 0));
}

void CheckDescriptor(SQLDA* da) {
  if (!da) throw SqlError(SQLE_SQLDA_TOO_SMALL);
  if (da->sqln < 0) throw SqlError(SQLE_SQLDA_TOO_SMALL);
}

}  // namespace

void DescribeInto(Client& c, ClientConnection& cc, Statement& st, SQLDA* da, unsigned what) {
  CheckDescriptor(da);
  unsigned kind = what & 0xFF;
  if (kind != DESCRIBE_OUTPUT && kind != DESCRIBE_INPUT && kind != DESCRIBE_ALL && kind != DESCRIBE_OUTPUT_VARIABLE)
    throw SqlError(SQLE_INVALID_DESCRIBE_TYPE);
  std::vector<ParamDesc> params;
  std::vector<ColumnDesc> cols;
  bool mayVary = false;
  EngineRequest r(cc);
  if (kind == DESCRIBE_INPUT || kind == DESCRIBE_ALL) st.DescribeInput(params);
  if (kind != DESCRIBE_INPUT) st.DescribeOutput(cols, mayVary);
  // sqld tells how many entries are needed even when the SQLDA holds fewer; the caller then
  // allocates that many and describes again.
  int total = int(params.size() + cols.size());
  da->sqld = short(std::min(total, 32767));
  int i = 0;
  for (auto& p : params) {
    if (i >= da->sqln) break;
    WriteParam(da->sqlvar[i++], p, kind == DESCRIBE_ALL ? DT_DESCRIBE_INPUT : 0);
  }
  for (auto& col : cols) {
    if (i >= da->sqln) break;
    WriteColumn(da->sqlvar[i++], col, 0);
  }
  if (kind == DESCRIBE_OUTPUT_VARIABLE) c.sqlca->sqlerrd[2] = mayVary ? 0 : 1;
}

void WriteColumns(SQLDA* da, const std::vector<ColumnDesc>& cols) {
  CheckDescriptor(da);
  da->sqld = short(std::min<size_t>(cols.size(), 32767));
  for (size_t i = 0; i < cols.size() && int(i) < da->sqln; ++i) WriteColumn(da->sqlvar[i], cols[i], 0);
}

bool OptionOn(Connection& conn, const char* name) {
  try {
    const std::string v = conn.GetOption(name);
    for (const char* on : {"ON", "YES", "TRUE", "1"})
      if (strcasecmp(v.c_str(), on) == 0) return true;
    return false;
  } catch (const SqlError&) {
    return false;
  }
}

void WriteNames(Client& c, const std::vector<ColumnDesc>& cols, SQLDA* da, unsigned short namespec,
                const std::string& owner, const std::string& tableName) {
  CheckDescriptor(da);
  int warn = 0;
  if (namespec == DESCRIBE_NAMES_TABLE) {
    for (int i = 0; i < da->sqld; ++i)
      if (WriteValue(da->sqlvar[i], Value::Text(tableName))) warn = SQLE_TRUNCATED;
    ApplyWarning(c, warn);
    return;
  }
  if (da->sqld < int(cols.size()) && da->sqln < int(cols.size())) {
    da->sqld = short(cols.size());
    throw SqlError(SQLE_SQLDA_TOO_SMALL);
  }
  for (size_t i = 0; i < cols.size() && int(i) < da->sqld; ++i) {
    const ColumnDesc& col = cols[i];
    std::string text = col.name;
    if (namespec == DESCRIBE_NAMES_TABLE_COLUMN && !col.baseTable.empty())
      text = col.baseTable + "." + (col.baseColumn.empty() ? col.name : col.baseColumn);
    else if (namespec == DESCRIBE_NAMES_OWNER_TABLE_COLUMN && !col.baseTable.empty())
      text = owner + "." + col.baseTable + "." + (col.baseColumn.empty() ? col.name : col.baseColumn);
    if (WriteValue(da->sqlvar[i], Value::Text(text))) warn = SQLE_TRUNCATED;
  }
  ApplyWarning(c, warn);
}

}  // namespace dbl

namespace dbl::pp {

void Describe(SQLCA* sqlca, char* stmt_name, char* progname, short* stmtnum, struct sqlda* descriptor, unsigned what) {
  Request(sqlca, [&](Client& c) {
    ClientConnection& cc = c.Current();
    auto [st, n] = ResolveStatement(cc, stmt_name, stmtnum);
    DescribeInto(c, cc, *st, descriptor, what);
  });
}

}  // namespace dbl::pp
