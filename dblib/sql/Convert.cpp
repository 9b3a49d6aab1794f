// Conversion between engine values and host variables (see Convert.h). The fetch direction
// runs once per value of every fetched row, so it allocates nothing: numbers are formatted
// into a stack buffer and text is copied straight from the engine's bytes.
#include "dblib/sql/Convert.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstddef>
#include <cstring>
#include <limits>

#include "dblib/sql/Errors.h"

namespace dbl {

namespace {

constexpr int kMaxIndicator = 32767;

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int DaysIn(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

// Reads exactly `digits` decimal digits at s[pos].
bool Digits(std::string_view s, size_t& pos, int digits, int& out) {
  if (pos + digits > s.size()) return false;
  int v = 0;
  for (int k = 0; k < digits; ++k) {
    char ch = s[pos + k];
    if (ch < '0' || ch > '9') return false;
    v = v * 10 + (ch - '0');
  }
  pos += digits;
  out = v;
  return true;
}

bool ParseTime(std::string_view s, size_t& pos, DateTimeParts& p) {
  if (!Digits(s, pos, 2, p.hour) || pos >= s.size() || s[pos] != ':') return false;
  ++pos;
  if (!Digits(s, pos, 2, p.minute)) return false;
  if (pos < s.size() && s[pos] == ':') {
    ++pos;
    if (!Digits(s, pos, 2, p.second)) return false;
    if (pos < s.size() && s[pos] == '.') {
      ++pos;
      int us = 0, scale = 100000, n = 0;
      while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
        if (n < 6) us += (s[pos] - '0') * scale;
        scale /= 10;
        ++n;
        ++pos;
      }
      if (n == 0) return false;
      p.microsecond = us;
    }
  }
  p.hasTime = true;
  return p.hour <= 23 && p.minute <= 59 && p.second <= 59;
}

// Decimal text of an integer or a real into buf; returns the length.
size_t NumberText(const ValueRef& v, char* buf, size_t cap) {
  std::to_chars_result r;
  if (v.kind == Value::Kind::Integer) {
    r = std::to_chars(buf, buf + cap, v.i);
  } else {
    r = std::to_chars(buf, buf + cap, v.d);
  }
  return r.ec == std::errc() ? static_cast<size_t>(r.ptr - buf) : 0;
}

std::string Quoted(const ValueRef& v) {
  if (v.kind == Value::Kind::Text || v.kind == Value::Kind::Blob) {
    std::string s(v.p ? v.p : "", v.n > 40 ? 40 : v.n);
    return "'" + s + "'";
  }
  char buf[64];
  return std::string(buf, NumberText(v, buf, sizeof buf));
}

void CannotConvert(const ValueRef& v, short dt) { ThrowCannotConvert(v, dt); }
void OutOfRange(const ValueRef& v) { ThrowOutOfRange(v); }

std::string_view Trimmed(const char* p, size_t n) {
  std::string_view s(p ? p : "", n);
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// A number from the value: integral in *isInt/*iv when exact, else the double in *dv.
void NumberOf(const ValueRef& v, short dt, bool& isInt, int64_t& iv, double& dv) {
  switch (v.kind) {
    case Value::Kind::Integer: isInt = true; iv = v.i; dv = static_cast<double>(v.i); return;
    case Value::Kind::Real: isInt = false; dv = v.d; return;
    case Value::Kind::Text: {
      std::string_view s = Trimmed(v.p, v.n);
      if (!s.empty() && s.front() == '+') s.remove_prefix(1);
      if (s.empty()) CannotConvert(v, dt);
      auto r = std::from_chars(s.data(), s.data() + s.size(), iv);
      if (r.ec == std::errc() && r.ptr == s.data() + s.size()) {
        isInt = true;
        dv = static_cast<double>(iv);
        return;
      }
      auto rd = std::from_chars(s.data(), s.data() + s.size(), dv);
      if (rd.ec == std::errc::result_out_of_range) OutOfRange(v);
      if (rd.ec != std::errc() || rd.ptr != s.data() + s.size() || !std::isfinite(dv)) CannotConvert(v, dt);
      isInt = false;
      return;
    }
    default: CannotConvert(v, dt);
  }
}

template <typename T>
void PutInteger(const ValueRef& v, short dt, void* data, int64_t lo, uint64_t hi) {
  bool isInt = false;
  int64_t iv = 0;
  double dv = 0;
  NumberOf(v, dt, isInt, iv, dv);
  if (!isInt) {
    // Reals become integers by truncation toward zero, as the server's own CAST does.
    if (!std::isfinite(dv) || dv < static_cast<double>(lo) || dv >= static_cast<double>(hi) + 1.0) OutOfRange(v);
    if (dv >= 9223372036854775808.0) {
      T out = static_cast<T>(static_cast<uint64_t>(dv));
      std::memcpy(data, &out, sizeof out);
      return;
    }
    iv = static_cast<int64_t>(dv);
  }
  if (iv < lo || (iv > 0 && static_cast<uint64_t>(iv) > hi)) OutOfRange(v);
  T out = static_cast<T>(iv);
  std::memcpy(data, &out, sizeof out);
}

bool IsDateKind(short t) { return t == DT_DATE || t == DT_TIME || t == DT_TIMESTAMP; }

// Copies n bytes of text into a character buffer of the variable; returns 0 or 101.
int PutChars(const char* src, size_t n, short base, SQLVAR& var) {
  size_t full = n;
  size_t cap = 0;
  bool trunc = false;
  switch (base) {
    case DT_STRING:
    case DT_NSTRING:
    case DT_DATE:
    case DT_TIME:
    case DT_TIMESTAMP: {
      if (var.sqllen < 1) throw SqlError(SQLE_INVALID_SQLLEN);
      cap = static_cast<size_t>(var.sqllen) - 1;
      size_t k = n < cap ? n : cap;
      char* dst = static_cast<char*>(var.sqldata);
      if (k) std::memcpy(dst, src, k);
      dst[k] = '\0';
      trunc = n > cap;
      break;
    }
    case DT_FIXCHAR:
    case DT_NFIXCHAR: {
      if (var.sqllen < 0) throw SqlError(SQLE_INVALID_SQLLEN);
      cap = static_cast<size_t>(var.sqllen);
      size_t k = n < cap ? n : cap;
      char* dst = static_cast<char*>(var.sqldata);
      if (k) std::memcpy(dst, src, k);
      if (cap > k) std::memset(dst + k, ' ', cap - k);
      trunc = n > cap;
      break;
    }
    case DT_VARCHAR:
    case DT_NVARCHAR:
    case DT_BINARY: {
      // sqllen is the size of the whole structure: the data capacity is sqllen - 2.
      if (var.sqllen < 2) throw SqlError(SQLE_INVALID_SQLLEN);
      cap = static_cast<size_t>(var.sqllen) - 2;
      size_t k = n < cap ? n : cap;
      // The structure may lie at any address of the caller's buffer (after a one-byte field, say):
      // its length is copied in, not stored through a misaligned pointer.
      auto* dst = static_cast<char*>(var.sqldata);
      const auto len = static_cast<a_sql_ulen>(k);
      std::memcpy(dst + offsetof(VARCHAR, len), &len, sizeof len);
      if (k) std::memcpy(dst + offsetof(VARCHAR, array), src, k);
      trunc = n > cap;
      break;
    }
    case DT_LONGVARCHAR:
    case DT_LONGNVARCHAR:
    case DT_LONGBINARY: {
      auto* lv = static_cast<LONGVARCHAR*>(var.sqldata);
      cap = lv->array_len;
      size_t k = n < cap ? n : cap;
      if (k) std::memcpy(lv->array, src, k);
      lv->stored_len = static_cast<a_sql_uint32>(k);
      lv->untrunc_len = static_cast<a_sql_uint32>(n > 0xFFFFFFFFu ? 0xFFFFFFFFu : n);
      trunc = n > cap;
      break;
    }
    default: throw SqlError(SQLE_SQLDA_INVALID_DATATYPE);
  }
  if (var.sqlind) *var.sqlind = trunc ? static_cast<a_sql_len>(full > kMaxIndicator ? kMaxIndicator : full) : 0;
  return trunc ? SQLE_TRUNCATED : 0;
}

bool IsCharTarget(short base) {
  switch (base) {
    case DT_STRING: case DT_NSTRING: case DT_FIXCHAR: case DT_NFIXCHAR: case DT_VARCHAR:
    case DT_NVARCHAR: case DT_BINARY: case DT_LONGVARCHAR: case DT_LONGNVARCHAR: case DT_LONGBINARY:
      return true;
    default: return false;
  }
}

}  // namespace

void ThrowCannotConvert(const ValueRef& v, short dt) {
  throw SqlError(SQLE_CONVERSION_ERROR, {Quoted(v), WithArticle(TypeName(dt))});
}

void ThrowOutOfRange(const ValueRef& v) { throw SqlError(SQLE_OVERFLOW_ERROR, {Quoted(v)}); }

const char* TypeName(short dt) {
  switch (dt & DT_TYPES) {
    case DT_DATE: return "date";
    case DT_TIME: return "time";
    case DT_TIMESTAMP_STRUCT:
    case DT_TIMESTAMP: return "timestamp";
    case DT_VARCHAR: return "varchar";
    case DT_FIXCHAR: return "char";
    case DT_LONGVARCHAR: return "long varchar";
    case DT_STRING: return "char";
    case DT_DOUBLE: return "double";
    case DT_FLOAT: return "float";
    case DT_DECIMAL: return "decimal";
    case DT_INT: return "integer";
    case DT_SMALLINT: return "smallint";
    case DT_BINARY: return "binary";
    case DT_LONGBINARY: return "long binary";
    case DT_TINYINT: return "tinyint";
    case DT_BIGINT: return "bigint";
    case DT_UNSINT: return "unsigned int";
    case DT_UNSSMALLINT: return "unsigned smallint";
    case DT_UNSBIGINT: return "unsigned bigint";
    case DT_BIT: return "bit";
    default: return "unknown type";
  }
}

bool ParseDateTime(std::string_view s, DateTimeParts& p) {
  p = DateTimeParts();
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  size_t pos = 0;
  if (s.size() >= 5 && s[2] == ':') return ParseTime(s, pos, p) && pos == s.size();
  if (!Digits(s, pos, 4, p.year) || pos >= s.size() || (s[pos] != '-' && s[pos] != '/')) return false;
  char sep = s[pos++];
  if (!Digits(s, pos, 2, p.month) || pos >= s.size() || s[pos] != sep) return false;
  ++pos;
  if (!Digits(s, pos, 2, p.day)) return false;
  if (p.year < 1 || p.month < 1 || p.month > 12 || p.day < 1 || p.day > DaysIn(p.year, p.month)) return false;
  p.hasDate = true;
  if (pos == s.size()) return true;
  if (s[pos] != ' ' && s[pos] != 'T') return false;
  ++pos;
  return ParseTime(s, pos, p) && pos == s.size();
}

namespace {
// Writes `digits` decimal digits of v (0 <= v < 10^digits) at buf; returns the next position.
char* PutDigits(char* buf, int v, int digits) {
  for (int k = digits - 1; k >= 0; --k) {
    buf[k] = static_cast<char>('0' + v % 10);
    v /= 10;
  }
  return buf + digits;
}

bool InTextRange(const DateTimeParts& p) {
  return p.year >= 0 && p.year <= 9999 && p.month >= 0 && p.month <= 99 && p.day >= 0 && p.day <= 99 &&
         p.hour >= 0 && p.hour <= 99 && p.minute >= 0 && p.minute <= 99 && p.second >= 0 && p.second <= 99 &&
         p.microsecond >= 0 && p.microsecond <= 999999;
}

// Writes the text form into buf (at least 40 bytes); returns its length. Every date sent as a
// record and every date column fetched as text comes through here, so the usual ranges are
// written digit by digit; anything else takes the general formatter.
size_t FormatInto(const DateTimeParts& p, short kind, char* buf) {
  const size_t cap = 40;
  bool date = kind == DT_DATE || kind == DT_TIMESTAMP || (kind == 0 && p.hasDate);
  bool time = kind == DT_TIME || kind == DT_TIMESTAMP || (kind == 0 && p.hasTime);
  int fraction = 0;  // digits of the fraction written: 0, 3 or 6
  if (time) {
    if (kind != 0) fraction = 3;
    else if (p.microsecond % 1000 == 0 && p.microsecond != 0) fraction = 3;
    else if (p.microsecond != 0) fraction = 6;
  }
  if (InTextRange(p)) {
    char* out = buf;
    if (date) {
      out = PutDigits(out, p.year, 4);
      *out++ = '-';
      out = PutDigits(out, p.month, 2);
      *out++ = '-';
      out = PutDigits(out, p.day, 2);
    }
    if (date && time) *out++ = ' ';
    if (time) {
      out = PutDigits(out, p.hour, 2);
      *out++ = ':';
      out = PutDigits(out, p.minute, 2);
      *out++ = ':';
      out = PutDigits(out, p.second, 2);
      if (fraction) {
        *out++ = '.';
        out = fraction == 3 ? PutDigits(out, p.microsecond / 1000, 3) : PutDigits(out, p.microsecond, 6);
      }
    }
    return static_cast<size_t>(out - buf);
  }
  int n = 0;
  if (date) n += std::snprintf(buf + n, cap - n, "%04d-%02d-%02d", p.year, p.month, p.day);
  if (date && time) buf[n++] = ' ';
  if (time) {
    n += std::snprintf(buf + n, cap - n, "%02d:%02d:%02d", p.hour, p.minute, p.second);
    if (fraction == 3) n += std::snprintf(buf + n, cap - n, ".%03d", p.microsecond / 1000);
    if (fraction == 6) n += std::snprintf(buf + n, cap - n, ".%06d", p.microsecond);
  }
  return static_cast<size_t>(n);
}
}  // namespace

size_t FormatDateTimeInto(const DateTimeParts& p, short kind, char* buf) { return FormatInto(p, kind, buf); }

std::string FormatDateTime(const DateTimeParts& p, short kind) {
  char buf[40];
  return std::string(buf, FormatInto(p, kind, buf));
}

void ToRecord(const DateTimeParts& p, SQLDATETIME& rec) {
  std::memset(&rec, 0, sizeof rec);
  if (p.hasDate) {
    rec.year = static_cast<unsigned short>(p.year);
    rec.month = static_cast<unsigned char>(p.month - 1);
    rec.day = static_cast<unsigned char>(p.day);
    static const int before[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    int yday = before[p.month - 1] + p.day - 1 + (p.month > 2 && IsLeap(p.year) ? 1 : 0);
    rec.day_of_year = static_cast<unsigned short>(yday);
    // Zeller-free weekday: days since 0001-01-01 (a Monday) in the proleptic Gregorian calendar.
    int64_t y = p.year - 1;
    int64_t days = y * 365 + y / 4 - y / 100 + y / 400 + yday;
    rec.day_of_week = static_cast<unsigned char>((days + 1) % 7);
  }
  rec.hour = static_cast<unsigned char>(p.hour);
  rec.minute = static_cast<unsigned char>(p.minute);
  rec.second = static_cast<unsigned char>(p.second);
  rec.microsecond = static_cast<a_sql_uint32>(p.microsecond);
}

DateTimeParts FromRecord(const SQLDATETIME& rec, bool& valid) {
  DateTimeParts p;
  p.year = rec.year;
  p.month = rec.month + 1;
  p.day = rec.day;
  p.hour = rec.hour;
  p.minute = rec.minute;
  p.second = rec.second;
  p.microsecond = static_cast<int>(rec.microsecond);
  p.hasDate = !(rec.year == 0 && rec.month == 0 && rec.day == 0);
  p.hasTime = true;
  valid = p.hour <= 23 && p.minute <= 59 && p.second <= 59 && rec.microsecond <= 999999;
  if (p.hasDate)
    valid = valid && p.year >= 1 && p.year <= 9999 && rec.month <= 11 && p.day >= 1 && p.day <= DaysIn(p.year, p.month);
  return p;
}

int PutValue(const ValueRef& v, short srcType, SQLVAR& var) {
  if (!var.sqldata) return 0;  // unbound column: nothing is returned for it
  short base = static_cast<short>(var.sqltype & DT_TYPES);
  if (v.kind == Value::Kind::Null) {
    if (!var.sqlind) throw SqlError(SQLE_NO_INDICATOR);
    *var.sqlind = -1;
    return 0;
  }
  // The combinations a block fetch meets on nearly every value go straight through.
  if (v.kind == Value::Kind::Integer && base == DT_INT && v.i >= INT32_MIN && v.i <= INT32_MAX) {
    int32_t x = static_cast<int32_t>(v.i);
    std::memcpy(var.sqldata, &x, sizeof x);
    if (var.sqlind) *var.sqlind = 0;
    return 0;
  }
  if (v.kind == Value::Kind::Real && base == DT_DOUBLE) {
    std::memcpy(var.sqldata, &v.d, sizeof v.d);
    if (var.sqlind) *var.sqlind = 0;
    return 0;
  }
  if (v.kind == Value::Kind::Text && base == DT_STRING && !IsDateKind(srcType) && var.sqllen >= 1 &&
      v.n < static_cast<size_t>(var.sqllen)) {
    char* dst = static_cast<char*>(var.sqldata);
    if (v.n) std::memcpy(dst, v.p, v.n);
    dst[v.n] = '\0';
    if (var.sqlind) *var.sqlind = 0;
    return 0;
  }
  switch (base) {
    case DT_INT: PutInteger<int32_t>(v, base, var.sqldata, INT32_MIN, INT32_MAX); break;
    case DT_SMALLINT: PutInteger<int16_t>(v, base, var.sqldata, INT16_MIN, INT16_MAX); break;
    case DT_TINYINT: PutInteger<uint8_t>(v, base, var.sqldata, 0, 255); break;
    case DT_BIGINT: PutInteger<int64_t>(v, base, var.sqldata, INT64_MIN, INT64_MAX); break;
    case DT_UNSINT: PutInteger<uint32_t>(v, base, var.sqldata, 0, UINT32_MAX); break;
    case DT_UNSSMALLINT: PutInteger<uint16_t>(v, base, var.sqldata, 0, UINT16_MAX); break;
    case DT_UNSBIGINT: PutInteger<uint64_t>(v, base, var.sqldata, 0, UINT64_MAX); break;
    case DT_BIT: {
      bool isInt = false;
      int64_t iv = 0;
      double dv = 0;
      NumberOf(v, base, isInt, iv, dv);
      *static_cast<unsigned char*>(var.sqldata) = (isInt ? iv != 0 : dv != 0) ? 1 : 0;
      break;
    }
    case DT_DOUBLE:
    case DT_FLOAT: {
      bool isInt = false;
      int64_t iv = 0;
      double dv = 0;
      NumberOf(v, base, isInt, iv, dv);
      if (base == DT_DOUBLE) {
        std::memcpy(var.sqldata, &dv, sizeof dv);
      } else {
        if (std::fabs(dv) > std::numeric_limits<float>::max()) OutOfRange(v);
        float f = static_cast<float>(dv);
        std::memcpy(var.sqldata, &f, sizeof f);
      }
      break;
    }
    case DT_TIMESTAMP_STRUCT: {
      DateTimeParts p;
      if (v.kind != Value::Kind::Text || !ParseDateTime(std::string_view(v.p ? v.p : "", v.n), p)) CannotConvert(v, base);
      SQLDATETIME rec;
      ToRecord(p, rec);
      std::memcpy(var.sqldata, &rec, sizeof rec);
      break;
    }
    case DT_DATE:
    case DT_TIME:
    case DT_TIMESTAMP: {
      DateTimeParts p;
      if (v.kind != Value::Kind::Text || !ParseDateTime(std::string_view(v.p ? v.p : "", v.n), p)) CannotConvert(v, base);
      char buf[40];
      return PutChars(buf, FormatInto(p, base, buf), base, var);
    }
    default: {
      if (!IsCharTarget(base)) throw SqlError(SQLE_SQLDA_INVALID_DATATYPE);
      if (v.kind == Value::Kind::Integer || v.kind == Value::Kind::Real) {
        char buf[64];
        size_t n = NumberText(v, buf, sizeof buf);
        return PutChars(buf, n, base, var);
      }
      if (v.kind == Value::Kind::Text && IsDateKind(srcType) && base != DT_BINARY && base != DT_LONGBINARY) {
        // A date column read as text comes in the library's date format, whatever form the
        // value was stored in; text that is no date at all goes out as stored.
        DateTimeParts p;
        if (ParseDateTime(std::string_view(v.p ? v.p : "", v.n), p)) {
          char buf[40];
          return PutChars(buf, FormatInto(p, srcType, buf), base, var);
        }
      }
      return PutChars(v.p, v.n, base, var);
    }
  }
  if (var.sqlind) *var.sqlind = 0;
  return 0;
}

// A packed decimal as the preprocessor declares it (DECL_DECIMAL(p,s): p/2 + 1 bytes): the
// digits two to a byte, high nibble first, and the sign in the last nibble (B or D negative,
// A, C, E or F positive); sqllen holds scale * 256 + precision. Its exact text, e.g. "-12.50".
std::string UnpackDecimal(const void* data, short sqllen) {
  const unsigned len = static_cast<unsigned short>(sqllen);
  const unsigned precision = PRECISION(len), scale = len >> 8;
  if (precision == 0 || scale > precision) throw SqlError(SQLE_INVALID_SQLLEN);
  const auto* bytes = static_cast<const unsigned char*>(data);
  const unsigned nibbles = 2 * unsigned(DECIMALSTORAGE(len));
  auto nibble = [&](unsigned i) { return (bytes[i / 2] >> (i % 2 ? 0 : 4)) & 0xF; };
  const unsigned sign = nibble(nibbles - 1);
  if (sign < 0xA) throw SqlError(SQLE_CONVERSION_ERROR, {"packed decimal", "decimal"});
  std::string digits;
  for (unsigned i = 0; i + 1 < nibbles; ++i) {
    unsigned n = nibble(i);
    if (n > 9) throw SqlError(SQLE_CONVERSION_ERROR, {"packed decimal", "decimal"});
    digits += char('0' + n);
  }
  std::string whole = digits.substr(0, digits.size() - scale), fraction = digits.substr(digits.size() - scale);
  whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size()));
  if (whole.empty()) whole = "0";
  std::string text = (sign == 0xB || sign == 0xD) ? "-" + whole : whole;
  return fraction.empty() ? text : text + "." + fraction;
}

bool ReadValue(const SQLVAR& var, short destType, Value& out, std::string* varName) {
  out = Value::Null();
  if (var.sqlind && *var.sqlind < 0) return true;
  short base = static_cast<short>(var.sqltype & DT_TYPES);
  if (!var.sqldata || base == DT_NOTYPE) return false;
  const void* d = var.sqldata;
  auto bounded = [&](int len) {
    size_t cap = len > 0 ? static_cast<size_t>(len) : 32767;
    return std::string(static_cast<const char*>(d), strnlen(static_cast<const char*>(d), cap));
  };
  switch (base) {
    case DT_STRING:
    case DT_NSTRING:
    case DT_DATE:
    case DT_TIME:
    case DT_TIMESTAMP: out = Value::Text(bounded(var.sqllen)); return true;
    case DT_FIXCHAR:
    case DT_NFIXCHAR:
      if (var.sqllen < 0) throw SqlError(SQLE_INVALID_SQLLEN);
      out = Value::Text(std::string(static_cast<const char*>(d), static_cast<size_t>(var.sqllen)));
      return true;
    case DT_VARCHAR:
    case DT_NVARCHAR:
    case DT_BINARY: {
      // The length prefix is the caller's word; sqllen says how large the buffer is. A prefix
      // that claims more than the buffer holds is refused, not read past. The structure may lie
      // at any address (as above), so its length is copied out.
      const auto* p = static_cast<const char*>(d);
      a_sql_ulen len;
      std::memcpy(&len, p + offsetof(VARCHAR, len), sizeof len);
      if (var.sqllen < 2 || len > var.sqllen - 2) throw SqlError(SQLE_INVALID_SQLLEN);
      std::string bytes(p + offsetof(VARCHAR, array), len);
      out = base == DT_BINARY ? Value::Blob(std::move(bytes)) : Value::Text(std::move(bytes));
      return true;
    }
    case DT_DECIMAL: out = Value::Text(UnpackDecimal(d, var.sqllen)); return true;
    case DT_LONGVARCHAR:
    case DT_LONGNVARCHAR:
    case DT_LONGBINARY: {
      const auto* lv = static_cast<const LONGVARCHAR*>(d);
      if (lv->stored_len > lv->array_len) throw SqlError(SQLE_INVALID_SQLLEN);
      std::string bytes(lv->array, lv->stored_len);
      out = base == DT_LONGBINARY ? Value::Blob(std::move(bytes)) : Value::Text(std::move(bytes));
      return true;
    }
    case DT_INT: { int32_t x; std::memcpy(&x, d, sizeof x); out = Value::Int(x); return true; }
    case DT_SMALLINT: { int16_t x; std::memcpy(&x, d, sizeof x); out = Value::Int(x); return true; }
    case DT_TINYINT: out = Value::Int(*static_cast<const uint8_t*>(d)); return true;
    case DT_BIGINT: { int64_t x; std::memcpy(&x, d, sizeof x); out = Value::Int(x); return true; }
    case DT_UNSINT: { uint32_t x; std::memcpy(&x, d, sizeof x); out = Value::Int(x); return true; }
    case DT_UNSSMALLINT: { uint16_t x; std::memcpy(&x, d, sizeof x); out = Value::Int(x); return true; }
    case DT_UNSBIGINT: {
      uint64_t x;
      std::memcpy(&x, d, sizeof x);
      // SQLite integers are signed 64-bit: larger values keep their magnitude as a real.
      out = x <= static_cast<uint64_t>(INT64_MAX) ? Value::Int(static_cast<int64_t>(x)) : Value::Real(static_cast<double>(x));
      return true;
    }
    case DT_BIT: out = Value::Int(*static_cast<const unsigned char*>(d) ? 1 : 0); return true;
    case DT_DOUBLE: { double x; std::memcpy(&x, d, sizeof x); out = Value::Real(x); return true; }
    case DT_FLOAT: { float x; std::memcpy(&x, d, sizeof x); out = Value::Real(x); return true; }
    case DT_TIMESTAMP_STRUCT: {
      SQLDATETIME rec;
      std::memcpy(&rec, d, sizeof rec);
      bool valid = false;
      DateTimeParts p = FromRecord(rec, valid);
      if (!valid)
        throw SqlError(SQLE_CONVERSION_ERROR, {"date-time record", WithArticle(TypeName(destType ? destType : DT_TIMESTAMP))});
      short dest = static_cast<short>(destType & DT_TYPES);
      short kind = 0;
      if (dest == DT_DATE) kind = DT_DATE;
      else if (dest == DT_TIME) kind = DT_TIME;
      else if (!p.hasDate) kind = DT_TIME;
      if (kind == DT_DATE) p.hasTime = false;
      if (kind == DT_TIME) p.hasDate = false;
      out = Value::Text(FormatDateTime(p, 0));
      return true;
    }
    case DT_VARIABLE:
      if (!varName) throw SqlError(SQLE_SQLDA_INVALID_DATATYPE);
      *varName = bounded(var.sqllen > 0 ? var.sqllen : 0);
      return true;
    default: throw SqlError(SQLE_SQLDA_INVALID_DATATYPE);
  }
}

}  // namespace dbl
