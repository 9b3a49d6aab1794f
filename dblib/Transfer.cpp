// Descriptor <-> value transfer for the non-fetch entry points.
#include "dblib/Transfer.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "dblib/Errors.h"

namespace dbl {
namespace {

std::string TimestampText(const SQLDATETIME& t) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u.%06u", unsigned(t.year), unsigned(t.month) + 1,
                unsigned(t.day), unsigned(t.hour), unsigned(t.minute), unsigned(t.second),
                unsigned(t.microsecond % 1000000));
  return buf;
}

// "YYYY-MM-DD[ HH:MM:SS[.ffffff]]" or "HH:MM:SS[.fff]" -> record; false when not a date/time.
bool ParseTimestamp(const std::string& s, SQLDATETIME& t) {
  std::memset(&t, 0, sizeof t);
  unsigned y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0;
  char frac[16] = {0};
  int n = std::sscanf(s.c_str(), "%4u-%2u-%2u%*[ T]%2u:%2u:%2u.%15[0-9]", &y, &mo, &d, &h, &mi, &se, frac);
  if (n < 3) {
    n = std::sscanf(s.c_str(), "%2u:%2u:%2u.%15[0-9]", &h, &mi, &se, frac);
    if (n < 2) return false;
    y = 0, mo = 1, d = 1;
  }
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || se > 59) return false;
  unsigned us = 0;
  for (int i = 0; i < 6; ++i) us = us * 10 + (frac[i] ? unsigned(frac[i] - '0') : 0);
  t.year = static_cast<unsigned short>(y);
  t.month = static_cast<unsigned char>(mo - 1);
  t.day = static_cast<unsigned char>(d);
  t.hour = static_cast<unsigned char>(h);
  t.minute = static_cast<unsigned char>(mi);
  t.second = static_cast<unsigned char>(se);
  t.microsecond = us;
  return true;
}

[[noreturn]] void CannotConvert(const Value& v, const char* to) {
  std::string shown = v.kind == Value::Kind::Blob ? "(binary)" : v.ToText();
  if (shown.size() > 30) shown = shown.substr(0, 30) + "...";
  throw SqlError(SQLE_CONVERSION_ERROR, {"'" + shown + "'", to});
}

bool ToInt(const Value& v, long long& out) {
  switch (v.kind) {
    case Value::Kind::Integer: out = v.i; return true;
    case Value::Kind::Real:
      if (!std::isfinite(v.d) || v.d < -9.2e18 || v.d > 9.2e18) return false;
      out = (long long)std::llround(v.d);
      return true;
    case Value::Kind::Text: {
      std::string s = v.bytes;
      while (!s.empty() && s.back() == ' ') s.pop_back();
      size_t b = s.find_first_not_of(' ');
      if (b == std::string::npos) return false;
      auto r = std::from_chars(s.data() + b, s.data() + s.size(), out);
      if (r.ec == std::errc() && r.ptr == s.data() + s.size()) return true;
      double d;
      auto r2 = std::from_chars(s.data() + b, s.data() + s.size(), d);
      if (r2.ec != std::errc() || r2.ptr != s.data() + s.size()) return false;
      return ToInt(Value::Real(d), out);
    }
    default: return false;
  }
}

bool ToDouble(const Value& v, double& out) {
  switch (v.kind) {
    case Value::Kind::Integer: out = double(v.i); return true;
    case Value::Kind::Real: out = v.d; return true;
    case Value::Kind::Text: {
      size_t b = v.bytes.find_first_not_of(' ');
      if (b == std::string::npos) return false;
      size_t e = v.bytes.find_last_not_of(' ') + 1;
      auto r = std::from_chars(v.bytes.data() + b, v.bytes.data() + e, out);
      return r.ec == std::errc() && r.ptr == v.bytes.data() + e;
    }
    default: return false;
  }
}

template <class T>
void StoreInt(SQLVAR& var, const Value& v, long long lo, long long hi, const char* name) {
  long long x;
  if (!ToInt(v, x)) CannotConvert(v, name);
  if (x < lo || x > hi) throw SqlError(SQLE_OVERFLOW_ERROR, {v.ToText()});
  T t = static_cast<T>(x);
  std::memcpy(var.sqldata, &t, sizeof t);
}

}  // namespace

std::vector<Value> ReadInputs(const SQLDA* da, Connection& conn) {
  std::vector<Value> vals;
  if (!da) return vals;
  if (da->sqld < 0 || da->sqld > da->sqln) throw SqlError(SQLE_SQLDA_TOO_SMALL);
  for (int i = 0; i < da->sqld; ++i) {
    const SQLVAR& var = da->sqlvar[i];
    int type = var.sqltype & DT_TYPES;
    if ((var.sqlind && *var.sqlind < 0) || (!var.sqldata && type != DT_NOTYPE)) {
      vals.push_back(Value());
      continue;
    }
    const char* p = static_cast<const char*>(var.sqldata);
    switch (type) {
      case DT_NOTYPE: vals.push_back(Value()); break;
      case DT_STRING:
      case DT_DATE:
      case DT_TIME:
      case DT_TIMESTAMP: {
        size_t cap = var.sqllen > 0 ? size_t(var.sqllen) : 32767;
        vals.push_back(Value::Text(std::string(p, strnlen(p, cap))));
        break;
      }
      case DT_FIXCHAR: vals.push_back(Value::Text(std::string(p, size_t(std::max<short>(var.sqllen, 0))))); break;
      case DT_VARCHAR: {
        auto* vc = reinterpret_cast<const VARCHAR*>(p);
        vals.push_back(Value::Text(std::string(vc->array, vc->len)));
        break;
      }
      case DT_BINARY: {
        auto* b = reinterpret_cast<const BINARY*>(p);
        vals.push_back(Value::Blob(std::string(b->array, b->len)));
        break;
      }
      case DT_LONGVARCHAR:
      case DT_LONGBINARY: {
        auto* l = reinterpret_cast<const LONGVARCHAR*>(p);
        std::string bytes(l->array, l->stored_len);
        vals.push_back(type == DT_LONGVARCHAR ? Value::Text(std::move(bytes)) : Value::Blob(std::move(bytes)));
        break;
      }
      case DT_INT: { int v; std::memcpy(&v, p, 4); vals.push_back(Value::Int(v)); break; }
      case DT_SMALLINT: { short v; std::memcpy(&v, p, 2); vals.push_back(Value::Int(v)); break; }
      case DT_TINYINT: vals.push_back(Value::Int(static_cast<unsigned char>(*p))); break;
      case DT_BIT: vals.push_back(Value::Int(*p ? 1 : 0)); break;
      case DT_BIGINT: { long long v; std::memcpy(&v, p, 8); vals.push_back(Value::Int(v)); break; }
      case DT_UNSINT: { unsigned v; std::memcpy(&v, p, 4); vals.push_back(Value::Int(v)); break; }
      case DT_UNSSMALLINT: { unsigned short v; std::memcpy(&v, p, 2); vals.push_back(Value::Int(v)); break; }
      case DT_UNSBIGINT: {
        unsigned long long v;
        std::memcpy(&v, p, 8);
        if (v > (unsigned long long)std::numeric_limits<long long>::max()) vals.push_back(Value::Text(std::to_string(v)));
        else vals.push_back(Value::Int((long long)v));
        break;
      }
      case DT_DOUBLE: { double v; std::memcpy(&v, p, 8); vals.push_back(Value::Real(v)); break; }
      case DT_FLOAT: { float v; std::memcpy(&v, p, 4); vals.push_back(Value::Real(v)); break; }
      case DT_TIMESTAMP_STRUCT: {
        SQLDATETIME t;
        std::memcpy(&t, p, sizeof t);
        vals.push_back(Value::Text(TimestampText(t)));
        break;
      }
      case DT_VARIABLE: {
        std::string name(p, strnlen(p, 128));
        Value v;
        if (!conn.GetVariable(name, v)) throw SqlError(SQLE_VARIABLE_NOT_FOUND, {name});
        vals.push_back(std::move(v));
        break;
      }
      default: throw SqlError(SQLE_SQLDA_INVALID_DATATYPE);
    }
  }
  return vals;
}

int WriteValue(SQLVAR& var, const Value& v) {
  if (!var.sqldata) return 0;  // unbound: nothing is returned for it
  if (v.IsNull()) {
    if (!var.sqlind) throw SqlError(SQLE_NO_INDICATOR);
    *var.sqlind = -1;
    return 0;
  }
  if (var.sqlind) *var.sqlind = 0;
  int type = var.sqltype & DT_TYPES;
  auto truncated = [&](size_t full) {
    if (var.sqlind) *var.sqlind = a_sql_len(std::min<size_t>(full, 32767));
    return SQLE_TRUNCATED;
  };
  char* p = static_cast<char*>(var.sqldata);
  switch (type) {
    case DT_STRING:
    case DT_DATE:
    case DT_TIME:
    case DT_TIMESTAMP: {
      std::string s = v.ToText();
      size_t cap = var.sqllen > 0 ? size_t(var.sqllen) - 1 : 0;
      size_t n = std::min(cap, s.size());
      std::memcpy(p, s.data(), n);
      p[n] = 0;
      return n < s.size() ? truncated(s.size()) : 0;
    }
    case DT_FIXCHAR: {
      std::string s = v.ToText();
      size_t cap = size_t(std::max<short>(var.sqllen, 0));
      size_t n = std::min(cap, s.size());
      std::memcpy(p, s.data(), n);
      std::memset(p + n, ' ', cap - n);
      return n < s.size() ? truncated(s.size()) : 0;
    }
    case DT_VARCHAR:
    case DT_BINARY: {
      std::string s = v.ToText();
      auto* vc = reinterpret_cast<VARCHAR*>(p);
      size_t cap = var.sqllen > 2 ? size_t(var.sqllen) - 2 : 0;
      size_t n = std::min(cap, s.size());
      vc->len = a_sql_ulen(n);
      std::memcpy(vc->array, s.data(), n);
      return n < s.size() ? truncated(s.size()) : 0;
    }
    case DT_LONGVARCHAR:
    case DT_LONGBINARY: {
      std::string s = v.ToText();
      auto* l = reinterpret_cast<LONGVARCHAR*>(p);
      size_t n = std::min<size_t>(l->array_len, s.size());
      std::memcpy(l->array, s.data(), n);
      l->stored_len = a_sql_uint32(n);
      l->untrunc_len = a_sql_uint32(s.size());
      return n < s.size() ? truncated(s.size()) : 0;
    }
    case DT_INT: StoreInt<int>(var, v, INT32_MIN, INT32_MAX, "integer"); return 0;
    case DT_SMALLINT: StoreInt<short>(var, v, INT16_MIN, INT16_MAX, "smallint"); return 0;
    case DT_TINYINT: StoreInt<unsigned char>(var, v, 0, 255, "tinyint"); return 0;
    case DT_BIT: StoreInt<unsigned char>(var, v, 0, 1, "bit"); return 0;
    case DT_BIGINT: StoreInt<long long>(var, v, INT64_MIN, INT64_MAX, "bigint"); return 0;
    case DT_UNSINT: StoreInt<unsigned>(var, v, 0, UINT32_MAX, "unsigned int"); return 0;
    case DT_UNSSMALLINT: StoreInt<unsigned short>(var, v, 0, UINT16_MAX, "unsigned smallint"); return 0;
    case DT_UNSBIGINT: StoreInt<unsigned long long>(var, v, 0, INT64_MAX, "unsigned bigint"); return 0;
    case DT_DOUBLE: {
      double d;
      if (!ToDouble(v, d)) CannotConvert(v, "double");
      std::memcpy(p, &d, 8);
      return 0;
    }
    case DT_FLOAT: {
      double d;
      if (!ToDouble(v, d)) CannotConvert(v, "float");
      float f = float(d);
      std::memcpy(p, &f, 4);
      return 0;
    }
    case DT_TIMESTAMP_STRUCT: {
      SQLDATETIME t;
      if (!ParseTimestamp(v.ToText(), t)) CannotConvert(v, "timestamp");
      std::memcpy(p, &t, sizeof t);
      return 0;
    }
    default: throw SqlError(SQLE_SQLDA_INVALID_DATATYPE);
  }
}

int WriteOutputs(SQLDA* da, const std::vector<Value>& vals) {
  if (vals.empty()) return 0;
  if (!da || da->sqln < int(vals.size()) || da->sqld < int(vals.size())) throw SqlError(SQLE_SQLDA_TOO_SMALL);
  int warn = 0;
  for (size_t i = 0; i < vals.size(); ++i)
    if (WriteValue(da->sqlvar[i], vals[i])) warn = SQLE_TRUNCATED;
  return warn;
}

}  // namespace dbl
