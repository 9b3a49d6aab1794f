// Values between the engine and the client's host variables: a column value (dbl::Value /
// ValueRef) into an SQLVAR of any DT_ type the client fetches with, and an SQLVAR's host value
// back into a dbl::Value. This unit is the one type switch over the DT_ codes for data; it
// owns the text forms of dates, times and time stamps and the packed date-time record.
//
// Fetch direction: truncation sets the indicator to the full length (capped at 32767) and the
// result is warning 101; NULL sets the indicator to -1 (no indicator: -181); a value that cannot
// become the type is -157 "Cannot convert %1 to a %2", one out of range -158.
// DT_DECIMAL host values are read (packed decimal, see UnpackDecimal) but never written on fetch
// (-759), like DT_VARIABLE. A host value whose length field claims more than its buffer holds
// (a VARCHAR prefix above sqllen - 2, a LONG value's stored_len above array_len) is -856, and
// nothing past the buffer is read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "dblib/engine/Cursor.h"
#include "dblib/esql.h"
#include "dblib/sql/Value.h"

namespace dbl {

// The exact decimal text of a packed decimal host value of the given sqllen (-856 for an sqllen
// that describes no decimal, -157 for nibbles that are no digits or sign).
std::string UnpackDecimal(const void* data, short sqllen);

// Broken-down date/time; month 1..12 here (the SQLDATETIME record stores it 0-based).
struct DateTimeParts {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0, microsecond = 0;
  bool hasDate = false, hasTime = false;
};

// "YYYY-MM-DD", "YYYY-MM-DD HH:MM[:SS[.f...]]" (also with 'T'), "HH:MM[:SS[.f...]]",
// "YYYY/MM/DD". False when the text is none of these or a part is out of range.
bool ParseDateTime(std::string_view text, DateTimeParts& out);
// Text the library stores and hands out: kind DT_DATE "YYYY-MM-DD", DT_TIME "HH:MM:SS.SSS",
// DT_TIMESTAMP "YYYY-MM-DD HH:MM:SS.SSS". Storage form (kind 0): the shortest exact one
// (no fraction when it is 0, milliseconds when they suffice, else microseconds).
std::string FormatDateTime(const DateTimeParts& p, short kind);
// The same into buf (at least 40 bytes) without allocating; returns the length.
size_t FormatDateTimeInto(const DateTimeParts& p, short kind, char* buf);
void ToRecord(const DateTimeParts& p, SQLDATETIME& rec);  // fills day_of_week / day_of_year
DateTimeParts FromRecord(const SQLDATETIME& rec, bool& valid);

// The fetch direction. srcType is the column's described DT_ code (0 when unknown): a date,
// time or time-stamp column fetched as text is formatted as such. Returns 0 or 101.
int PutValue(const ValueRef& v, short srcType, SQLVAR& var);
inline int PutValue(const Value& v, short srcType, SQLVAR& var) { return PutValue(ValueRef::Of(v), srcType, var); }

// The send direction. Returns false when the variable takes no part (sqldata NULL and no NULL
// indicator). A DT_VARIABLE entry yields its variable name in varName (out stays Null) for the
// caller to resolve. destType (0 unknown) is the DT_ code of the column or marker the value goes
// to: a date-time record becomes a date, time or time stamp accordingly. -759 for types that
// carry no data here, -856 for an impossible sqllen.
bool ReadValue(const SQLVAR& var, short destType, Value& out, std::string* varName);

// The type name used in conversion messages ("integer", "timestamp" ...).
const char* TypeName(short dtType);

// -157 "Cannot convert <value> to <a type>" and -158 "Value <value> out of range for
// destination", the value quoted as the messages show it (text cut at 40 bytes).
[[noreturn]] void ThrowCannotConvert(const ValueRef& v, short dtType);
[[noreturn]] void ThrowOutOfRange(const ValueRef& v);

}  // namespace dbl
