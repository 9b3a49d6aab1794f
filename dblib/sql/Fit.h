// What a typed column can hold: the one set of rules that decides, at the write, whether a value
// goes into a column as it is, goes in changed into the column's own form (the number a text
// stands for, a date written as a date), or is refused with the vendor's code. Every path that
// writes a column of an engine without types of its own applies them (statement text, host
// variables, positioned changes, procedure variables); an engine that enforces types itself
// needs them only where it wants the vendor's messages.
//
//   integers        text that is a number converts; a fraction is cut toward zero; outside the
//                   type's range -158; anything else -157. UNSIGNED BIGINT ends at 2^63 - 1:
//                   the engine stores no larger integer, and refusing beats a changed value.
//   DOUBLE, FLOAT   numbers and numeric text; NaN -157, infinities and (FLOAT) values beyond
//                   single precision -158.
//   DECIMAL(p,s)    rounded to s digits; more than p - s digits before the point -158; NaN -157,
//                   infinities -158.
//   CHAR, VARCHAR,  at most n bytes; longer: -638 (option string_rtruncation On, the default), or
//   BINARY (n)      cut to n bytes where that option is Off (never inside a UTF-8 character).
//   DATE, TIME,     a date or time text in any form the library reads; stored in the column's
//   TIMESTAMP       form: DATE "YYYY-MM-DD" (a time part is dropped), TIME "HH:MM:SS[.f]" (a date
//                   part is dropped), TIMESTAMP "YYYY-MM-DD HH:MM:SS[.f]". Anything else -157.
// With option conversion_error Off a value that cannot convert (-157) is stored as NULL.
// NULL always passes here (NOT NULL is the engine's constraint).
#pragma once

#include "dblib/engine/Cursor.h"
#include "dblib/sql/TypeMap.h"
#include "dblib/sql/Value.h"

namespace dbl {

// A column's declared type as far as writing is concerned.
struct ColumnType {
  short sqltype = 0;  // DT_ code; 0: no rule applies (the value goes in as it is)
  int length = 0;     // bytes a CHAR/VARCHAR/BINARY column holds; 0: no limit
  int precision = 0;  // DECIMAL/NUMERIC
  int scale = 0;
  bool Checked() const { return sqltype != 0; }
};
ColumnType ColumnTypeOf(const TypeInfo& t);
inline ColumnType ColumnTypeOf(std::string_view declared) { return ColumnTypeOf(MapDeclaredType(declared)); }

// The server options that choose between refusing a value and changing it.
struct FitRules {
  bool cutStrings = false;   // string_rtruncation Off
  bool nullOnError = false;  // conversion_error Off
};

// True when v is stored as it is; false when the stored value differs, which `out` then holds.
// Throws SqlError -157, -158 or -638 (see the head of this file).
bool FitValue(const ColumnType& type, const ValueRef& v, const FitRules& rules, Value& out);

// The value v made to fit (v itself when it fits as it is).
Value FittedValue(const ColumnType& type, Value v, const FitRules& rules);

}  // namespace dbl
