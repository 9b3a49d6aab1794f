// What DESCRIBE tells the client about a statement: one ColumnDesc per result column and one
// ParamDesc per host-variable marker. The engine fills these in its own terms (TypeMap.h maps
// declared types and expressions to DT_ codes); the entry points copy them into the SQLDA.
#pragma once

#include <string>

namespace dbl {

struct ColumnDesc {
  std::string name;        // result column name as the statement gives it (alias or column)
  std::string baseTable;   // table the column is read from; empty for expressions
  std::string baseColumn;  // column of baseTable; empty for expressions
  short sqltype = 0;       // DT_ code without the null bit (DT_NULLS_ALLOWED)
  int sqllen = 0;          // as DESCRIBE reports it (VARCHAR(n): n; DECIMAL: scale*256+precision)
  int precision = 0;       // numeric precision (DECIMAL/NUMERIC), else 0
  int scale = 0;           // digits after the point (DECIMAL/NUMERIC), else 0
  bool nullable = true;    // false only when the base column is declared NOT NULL
  int domainId = 0;        // SYSDOMAIN id of the type; 0 when unknown
  bool readOnly = true;    // false when the column maps to a base column a cursor can update
};

struct ParamDesc {
  std::string name;      // name after the colon of a :name marker; empty for '?'
  short sqltype = 0;     // type the marker is compared or assigned with; 0 when unknown
  int sqllen = 0;        // length that goes with sqltype
  bool in = true;        // an input value (IN or INOUT parameter; every plain marker)
  bool out = false;      // an output value (OUT or INOUT parameter of a CALL)
};

}  // namespace dbl
