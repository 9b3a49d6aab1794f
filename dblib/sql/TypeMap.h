// The one mapping from SQL type names to what DESCRIBE reports: DT_ code, length, precision,
// scale and SYSDOMAIN id, plus the domain table itself. Used for declared column types (the
// text a CREATE TABLE gave, as SQLite keeps it), for CAST targets, for procedure parameters and
// for the catalog's width column. Also the types inferred for expressions that have no
// declaration, which an engine's DESCRIBE uses (dblib/sqlite/TypeMapDescribe.h).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "dblib/sql/Describe.h"

namespace dbl {

struct TypeInfo {
  short sqltype = 0;   // DT_ code; 0 = not known
  int sqllen = 0;      // as DESCRIBE reports it
  int precision = 0;   // DECIMAL/NUMERIC
  int scale = 0;       // DECIMAL/NUMERIC
  int domainId = 0;    // SYSDOMAIN id
  int width = 0;       // SYSCOLUMN width: string length, numeric precision or storage bytes
  bool Known() const { return sqltype != 0; }
};

// Declared type text -> TypeInfo (sqltype 0 when the text names no type we know). Accepts the
// vendor's names (char(n), varchar(n), long varchar, binary(n), long binary, integer, smallint,
// tinyint, bigint, unsigned int/smallint/bigint, bit, double, float[(p)], real,
// decimal/numeric[(p[,s])], money, smallmoney, date, time, timestamp, datetime,
// uniqueidentifier ...) and SQLite's own (text, blob, real, boolean ...), case-insensitively.
TypeInfo MapDeclaredType(std::string_view decl);

// The type a column of unknown type is described with: long varchar, never truncated.
TypeInfo LongVarcharType();

struct DomainRow {
  int id;
  const char* name;
  int odbcType;
  int precision;  // -1: NULL
};
// The rows of SYS.SYSDOMAIN in id order.
const std::vector<DomainRow>& Domains();
const char* DomainName(int id);  // nullptr for an unknown id
// Type text for a domain id with width/scale, e.g. "varchar(30)", "numeric(10,2)", "integer".
std::string DomainTypeText(int id, int width, int scale);

// Names only (statements the library carries out itself).
void DescribeMarkerNames(const std::string& text, std::vector<ParamDesc>& out);

// The type of one expression of a SELECT (tokens of the translated text), given a resolver for
// column references; exposed for tests.
struct ColumnResolver {
  virtual ~ColumnResolver() = default;
  // qualifier may be empty; returns an unknown TypeInfo when the column is not found.
  virtual TypeInfo Column(std::string_view qualifier, std::string_view column) = 0;
  // Type of a connection variable (zyl_getvar('name')); unknown by default.
  virtual TypeInfo Variable(std::string_view name) { return {}; }
};
TypeInfo InferExpressionType(std::string_view expression, ColumnResolver& resolver);

}  // namespace dbl
