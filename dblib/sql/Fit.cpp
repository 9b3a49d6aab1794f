// The write-time rules of typed columns (Fit.h). Runs for every value written to a checked
// column, host variables of a prepared INSERT included, so a value that fits as it is costs a
// type test and a comparison and allocates nothing.
#include "dblib/sql/Fit.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "dblib/esql.h"
#include "dblib/sql/Convert.h"
#include "dblib/sql/Errors.h"

namespace dbl {
namespace {

std::string_view TextOf(const ValueRef& v) { return std::string_view(v.p ? v.p : "", v.n); }

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// A value that cannot convert: refused, or NULL where conversion_error is Off.
bool Unconvertible(const ValueRef& v, short dt, const FitRules& rules, Value& out) {
  if (!rules.nullOnError) ThrowCannotConvert(v, dt);
  out = Value::Null();
  return false;
}

// The number a text stands for (blanks around it allowed). False when it is none.
bool NumberFromText(std::string_view s, bool& isInt, int64_t& i, double& d) {
  s = Trimmed(s);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  auto ri = std::from_chars(s.data(), s.data() + s.size(), i);
  if (ri.ec == std::errc() && ri.ptr == s.data() + s.size()) {
    isInt = true;
    return true;
  }
  auto rd = std::from_chars(s.data(), s.data() + s.size(), d);
  if (rd.ptr != s.data() + s.size()) return false;
  if (rd.ec == std::errc::result_out_of_range) d = s.front() == '-' ? -HUGE_VAL : HUGE_VAL;
  else if (rd.ec != std::errc()) return false;
  isInt = false;
  return true;
}

struct IntRange {
  int64_t lo;
  int64_t hi;
};
IntRange RangeOf(short t) {
  switch (t) {
    case DT_SMALLINT: return {INT16_MIN, INT16_MAX};
    case DT_TINYINT: return {0, 255};
    case DT_BIGINT: return {INT64_MIN, INT64_MAX};
    case DT_UNSINT: return {0, UINT32_MAX};
    case DT_UNSSMALLINT: return {0, UINT16_MAX};
    case DT_UNSBIGINT: return {0, INT64_MAX};
    case DT_BIT: return {0, 1};
    default: return {INT32_MIN, INT32_MAX};
  }
}

bool FitInteger(const ColumnType& t, const ValueRef& v, const FitRules& rules, Value& out) {
  const IntRange r = RangeOf(t.sqltype);
  int64_t i = 0;
  double d = 0;
  bool isInt = false;
  switch (v.kind) {
    case Value::Kind::Integer:
      if (v.i < r.lo || v.i > r.hi) ThrowOutOfRange(v);
      return true;
    case Value::Kind::Real: d = v.d; break;
    case Value::Kind::Text:
      if (!NumberFromText(TextOf(v), isInt, i, d)) return Unconvertible(v, t.sqltype, rules, out);
      break;
    default: return Unconvertible(v, t.sqltype, rules, out);
  }
  if (!isInt) {
    if (std::isnan(d)) return Unconvertible(v, t.sqltype, rules, out);
    // A fraction is cut toward zero, as the server's CAST does.
    d = std::trunc(d);
    if (!(d >= static_cast<double>(r.lo) && d < static_cast<double>(r.hi) + 1.0) || d >= 9223372036854775808.0)
      ThrowOutOfRange(v);
    i = static_cast<int64_t>(d);
  }
  if (i < r.lo || i > r.hi) ThrowOutOfRange(v);
  out = Value::Int(i);
  return false;
}

bool FitFloat(const ColumnType& t, const ValueRef& v, const FitRules& rules, Value& out) {
  double d = 0;
  int64_t i = 0;
  bool isInt = false;
  switch (v.kind) {
    case Value::Kind::Integer: return true;
    case Value::Kind::Real: d = v.d; break;
    case Value::Kind::Text:
      if (!NumberFromText(TextOf(v), isInt, i, d)) return Unconvertible(v, t.sqltype, rules, out);
      if (isInt) {
        out = Value::Int(i);
        return false;
      }
      break;
    default: return Unconvertible(v, t.sqltype, rules, out);
  }
  if (std::isnan(d)) return Unconvertible(v, t.sqltype, rules, out);
  if (std::isinf(d)) ThrowOutOfRange(v);
  if (t.sqltype == DT_FLOAT && std::fabs(d) > std::numeric_limits<float>::max()) ThrowOutOfRange(v);
  if (v.kind == Value::Kind::Real) return true;
  out = Value::Real(d);
  return false;
}

// 10^n as a double (n >= 0); infinity past the double range.
double PowerOfTen(int n) { return n > 308 ? HUGE_VAL : std::pow(10.0, n); }

bool FitDecimal(const ColumnType& t, const ValueRef& v, const FitRules& rules, Value& out) {
  const int whole = t.precision - t.scale;  // digits allowed before the point
  double d = 0;
  int64_t i = 0;
  bool isInt = false;
  switch (v.kind) {
    case Value::Kind::Integer: isInt = true; i = v.i; break;
    case Value::Kind::Real: d = v.d; break;
    case Value::Kind::Text:
      if (!NumberFromText(TextOf(v), isInt, i, d)) return Unconvertible(v, t.sqltype, rules, out);
      break;
    default: return Unconvertible(v, t.sqltype, rules, out);
  }
  if (isInt) {
    // |i| < 10^whole, counted in integers so that no digit is lost to a double.
    if (whole < 19) {
      int64_t limit = 1;
      for (int k = 0; k < whole; ++k) limit *= 10;
      if (i >= limit || i <= -limit) ThrowOutOfRange(v);
    }
    if (v.kind == Value::Kind::Integer) return true;
    out = Value::Int(i);
    return false;
  }
  if (std::isnan(d)) return Unconvertible(v, t.sqltype, rules, out);
  if (std::isinf(d)) ThrowOutOfRange(v);
  double rounded = d;
  // Doubles from 2^53 on hold no fraction: nothing to round there.
  if (std::fabs(d) < 9007199254740992.0 && t.scale < 30) {
    char buf[80];
    std::snprintf(buf, sizeof buf, "%.*f", t.scale, d);
    rounded = std::strtod(buf, nullptr);
  }
  if (std::fabs(rounded) >= PowerOfTen(whole)) ThrowOutOfRange(v);
  if (v.kind == Value::Kind::Real && rounded == d) return true;
  out = Value::Real(rounded);
  return false;
}

// Bytes up to n, not ending inside a UTF-8 sequence.
size_t CutPoint(std::string_view s, size_t n) {
  size_t k = n;
  while (k > 0 && k < s.size() && (static_cast<unsigned char>(s[k]) & 0xC0) == 0x80) --k;
  return k;
}

bool FitLength(const ColumnType& t, const ValueRef& v, const FitRules& rules, Value& out) {
  if (t.length <= 0) return true;
  size_t n = v.n;
  char buf[64];
  if (v.kind == Value::Kind::Integer || v.kind == Value::Kind::Real) {
    // A number is stored as its text: that is what must fit.
    auto r = v.kind == Value::Kind::Integer ? std::to_chars(buf, buf + sizeof buf, v.i)
                                            : std::to_chars(buf, buf + sizeof buf, v.d);
    n = static_cast<size_t>(r.ptr - buf);
    if (n <= static_cast<size_t>(t.length)) return true;
    if (!rules.cutStrings) throw SqlError(SQLE_STRING_RIGHT_TRUNCATION);
    out = Value::Text(std::string(buf, static_cast<size_t>(t.length)));
    return false;
  }
  if (n <= static_cast<size_t>(t.length)) return true;
  if (!rules.cutStrings) throw SqlError(SQLE_STRING_RIGHT_TRUNCATION);
  std::string_view s = TextOf(v);
  if (v.kind == Value::Kind::Blob) {
    out = Value::Blob(std::string(s.substr(0, static_cast<size_t>(t.length))));
  } else {
    out = Value::Text(std::string(s.substr(0, CutPoint(s, static_cast<size_t>(t.length)))));
  }
  return false;
}

bool FitDateTime(const ColumnType& t, const ValueRef& v, const FitRules& rules, Value& out) {
  DateTimeParts p;
  if (v.kind != Value::Kind::Text || !ParseDateTime(TextOf(v), p)) return Unconvertible(v, t.sqltype, rules, out);
  switch (t.sqltype) {
    case DT_DATE:
      if (!p.hasDate) return Unconvertible(v, t.sqltype, rules, out);
      p.hasTime = false;
      break;
    case DT_TIME:
      if (!p.hasTime) return Unconvertible(v, t.sqltype, rules, out);
      p.hasDate = false;
      break;
    default:
      if (!p.hasDate) return Unconvertible(v, t.sqltype, rules, out);
      p.hasTime = true;  // a date alone is that day's midnight
      break;
  }
  char buf[40];
  std::string_view stored(buf, FormatDateTimeInto(p, 0, buf));
  if (stored == TextOf(v)) return true;
  out = Value::Text(std::string(stored));
  return false;
}

}  // namespace

ColumnType ColumnTypeOf(const TypeInfo& t) {
  ColumnType c;
  switch (t.sqltype) {
    case DT_INT: case DT_SMALLINT: case DT_TINYINT: case DT_BIGINT: case DT_UNSINT: case DT_UNSSMALLINT:
    case DT_UNSBIGINT: case DT_BIT: case DT_DOUBLE: case DT_FLOAT: case DT_DATE: case DT_TIME: case DT_TIMESTAMP:
      c.sqltype = t.sqltype;
      break;
    case DT_DECIMAL:
      c.sqltype = t.sqltype;
      c.precision = t.precision;
      c.scale = t.scale;
      break;
    case DT_FIXCHAR:
    case DT_VARCHAR:
    case DT_BINARY:
    case DT_LONGVARCHAR:
    case DT_LONGBINARY:
      // The declared length (width): a VARCHAR(40000) is described as long but holds 40000 bytes;
      // LONG VARCHAR and LONG BINARY (their own domains) hold any length.
      if (t.domainId == 10 || t.domainId == 12 || t.domainId == 25) break;
      c.sqltype = t.sqltype;
      c.length = t.width;
      break;
    default: break;
  }
  return c;
}

bool FitValue(const ColumnType& type, const ValueRef& v, const FitRules& rules, Value& out) {
  if (v.kind == Value::Kind::Null) return true;
  switch (type.sqltype) {
    case 0: return true;
    case DT_INT: case DT_SMALLINT: case DT_TINYINT: case DT_BIGINT: case DT_UNSINT: case DT_UNSSMALLINT:
    case DT_UNSBIGINT: case DT_BIT: return FitInteger(type, v, rules, out);
    case DT_DOUBLE: case DT_FLOAT: return FitFloat(type, v, rules, out);
    case DT_DECIMAL: return FitDecimal(type, v, rules, out);
    case DT_DATE: case DT_TIME: case DT_TIMESTAMP: return FitDateTime(type, v, rules, out);
    default: return FitLength(type, v, rules, out);
  }
}

Value FittedValue(const ColumnType& type, Value v, const FitRules& rules) {
  Value out;
  if (FitValue(type, ValueRef::Of(v), rules, out)) return v;
  return out;
}

}  // namespace dbl
