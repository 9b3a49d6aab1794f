// zylo: values — C++ values into the statement's parameter Variants, and the current row's
// values out into C++ types, exactly or not at all.
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "zylo/internal.h"

namespace zylo {

namespace {

bool all_digits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// "-0012.500" -> sign, integer digits "12", fraction digits "5"; false for no number.
bool split_decimal(std::string_view t, bool& negative, std::string_view& whole, std::string_view& fraction) {
  negative = false;
  if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
    negative = t[0] == '-';
    t.remove_prefix(1);
  }
  const std::size_t dot = t.find('.');
  whole = t.substr(0, dot);
  fraction = dot == std::string_view::npos ? std::string_view() : t.substr(dot + 1);
  if (whole.empty() && fraction.empty()) return false;
  if ((!whole.empty() && !all_digits(whole)) || (dot != std::string_view::npos && !fraction.empty() && !all_digits(fraction)))
    return false;
  if (dot != std::string_view::npos && fraction.empty() && whole.empty()) return false;
  while (!whole.empty() && whole.front() == '0') whole.remove_prefix(1);
  while (!fraction.empty() && fraction.back() == '0') fraction.remove_suffix(1);
  return true;
}

// Significant digits a double holds exactly in both directions.
constexpr std::size_t kDecimalDigits = 15;

}  // namespace

decimal::decimal(std::string_view text) {
  bool negative;
  std::string_view whole, fraction;
  if (!split_decimal(text, negative, whole, fraction))
    throw error("'" + std::string(text) + "' is not a decimal number", 0, "22018");
  text_ = std::string(text);
}

bool operator==(const decimal& a, const decimal& b) noexcept {
  bool na, nb;
  std::string_view wa, fa, wb, fb;
  split_decimal(a.text_, na, wa, fa);
  split_decimal(b.text_, nb, wb, fb);
  const bool zero_a = wa.empty() && fa.empty(), zero_b = wb.empty() && fb.empty();
  if (zero_a || zero_b) return zero_a == zero_b;
  return na == nb && wa == wb && fa == fb;
}

namespace detail {

namespace {

using namespace std::chrono;

// The host's day 0.
constexpr sys_days kEpoch = sys_days(year(1899) / December / 30);

// ---- giving a value to the marker(s) it is meant for -----------------------------------------

template <class F>
void each_target(stmt& s, F&& put) {
  if (s.has_pending) {
    s.has_pending = false;
    std::string_view name = s.pending_name;
    bool found = false;
    for (std::size_t i = 0; i < s.markers.size(); ++i) {
      const std::string& m = s.markers[i].name;
      if (m.empty() || m.size() != name.size() ||
          !std::equal(m.begin(), m.end(), name.begin(), [](char a, char b) { return std::tolower(a) == std::tolower(b); }))
        continue;
      if (s.given[i]) throw error("the parameter ':" + m + "' was given two values", 0, "07001");
      put(i);
      s.given[i] = 1;
      found = true;
    }
    if (!found) throw error("the statement has no parameter ':" + std::string(name) + "'", 0, "07001");
    return;
  }
  if (s.next_positional >= s.positional.size())
    throw error("more values than the statement has '?' markers (" + std::to_string(s.positional.size()) + ")", 0,
                "07001");
  const std::size_t i = s.positional[s.next_positional++];
  put(i);
  s.given[i] = 1;
}

void put(stmt& s, Variant v) {
  each_target(s, [&](std::size_t i) { s.values[i] = v; });
}

std::string two(int v) {
  char b[3] = {static_cast<char>('0' + v / 10), static_cast<char>('0' + v % 10), 0};
  return b;
}

// The time of day as the server writes it: "10:30:00", "10:30:00.250", "10:30:00.000250".
std::string time_text(std::int64_t us) {
  const std::int64_t secs = us / 1000000, frac = us % 1000000;
  std::string t = two(static_cast<int>(secs / 3600)) + ":" + two(static_cast<int>(secs / 60 % 60)) + ":" +
                  two(static_cast<int>(secs % 60));
  if (frac) {
    char b[16];
    if (frac % 1000 == 0) std::snprintf(b, sizeof b, ".%03d", static_cast<int>(frac / 1000));
    else std::snprintf(b, sizeof b, ".%06d", static_cast<int>(frac));
    t += b;
  }
  return t;
}

bool server_year(const year_month_day& d) { return d.ok() && d.year() >= year(1) && d.year() <= year(9999); }

std::string date_text(const year_month_day& d) {
  char b[16];
  std::snprintf(b, sizeof b, "%04d-%02u-%02u", static_cast<int>(d.year()), static_cast<unsigned>(d.month()),
                static_cast<unsigned>(d.day()));
  return b;
}

}  // namespace

void bind_name(stmt& s, std::string_view name) {
  if (!name.empty() && name.front() == ':') name.remove_prefix(1);
  s.pending_name = name;
  s.has_pending = true;
}

void bind_null(stmt& s) { put(s, Variant::Null()); }
void bind_bool(stmt& s, bool v) { put(s, Variant(v)); }
void bind_int32(stmt& s, std::int32_t v) { put(s, Variant(static_cast<int>(v))); }
void bind_int64(stmt& s, std::int64_t v) { put(s, Variant(static_cast<long long>(v))); }

void bind_uint64(stmt& s, std::uint64_t v) {
  // The components' integers end at 2^63 - 1; above, the digits go as text for the server to
  // convert (or refuse).
  if (v <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) put(s, Variant(static_cast<long long>(v)));
  else put(s, Variant(AnsiString(std::to_string(v))));
}

void bind_double(stmt& s, double v) { put(s, Variant(v)); }
void bind_text(stmt& s, std::string_view v) {
  // Text travels NUL-terminated: everything after a NUL would be lost on the way.
  if (v.find('\0') != std::string_view::npos) fail_bind(s, "text with a NUL character in it cannot be sent; send it as zylo::bytes");
  put(s, Variant(AnsiString(v)));
}

void bind_bytes(stmt& s, const std::byte* data, std::size_t size) { put(s, VarByteArrayOf(data, size)); }

void bind_decimal(stmt& s, const decimal& v) {
  // Decimal columns reach the statement component as doubles: a number with more significant
  // digits than a double keeps would read back as another number.
  bool negative;
  std::string_view whole, fraction;
  split_decimal(v.str(), negative, whole, fraction);
  std::size_t digits = whole.size() + fraction.size();
  if (whole.empty())
    for (char c : fraction) {
      if (c != '0') break;
      --digits;
    }
  if (digits > kDecimalDigits)
    throw error("parameter value: the decimal " + v.str() + " has more than " + std::to_string(kDecimalDigits) +
                    " significant digits, more than a decimal column keeps through the components",
                0, "22003");
  put(s, Variant(AnsiString(v.str())));
}

void bind_date(stmt& s, year_month_day v) {
  if (!server_year(v)) fail_bind(s, "the date is not a date from 0001-01-01 to 9999-12-31");
  put(s, Variant::FromDateTime(static_cast<TDateTime>((sys_days(v) - kEpoch).count())));
}

void bind_time(stmt& s, microseconds since_midnight) {
  if (since_midnight < microseconds::zero() || since_midnight >= days(1))
    fail_bind(s, "a time of day lies from 00:00:00 to 23:59:59.999999");
  put(s, Variant(AnsiString(time_text(since_midnight.count()))));
}

void bind_timestamp(stmt& s, sys_time<microseconds> v) {
  const sys_days day = floor<days>(v);
  const year_month_day d(day);
  if (!server_year(d)) fail_bind(s, "the time stamp does not lie in the years 1 to 9999");
  put(s, Variant(AnsiString(date_text(d) + " " + time_text((v - day).count()))));
}

void bind_stream(stmt& s, std::istream& in) {
  const int k = static_cast<int>(s.streams.size());
  s.streams.push_back(&in);
  each_target(s, [&](std::size_t i) {
    s.stream_of[i] = k;
    s.values[i] = Variant();
  });
}

void fail_bind(stmt&, const std::string& why) { throw error("parameter value: " + why, 0, "22023"); }

// ---- reading ---------------------------------------------------------------------------------

namespace {

const char* kind_of(TZyloFieldTypes t) {
  switch (t) {
    case ztString: return "text";
    case ztInteger: return "an integer";
    case ztInt64: return "a 64-bit integer";
    case ztFloat: return "a floating-point number";
    case ztCurrency: return "a currency amount";
    case ztDate: return "a date";
    case ztTime: return "a time";
    case ztDateTime: return "a time stamp";
    case ztBoolean: return "a bit";
    case ztBinary: return "bytes";
    case ztMemo: return "long text";
    case ztBlob: return "long bytes";
    default: return "a value of an unknown type";
  }
}

std::string where(stmt& s, int c) {
  return "column " + std::to_string(c + 1) + " (" + s.columns[static_cast<std::size_t>(c)].name + ")";
}

[[noreturn]] void fail_kind(stmt& s, int c, const char* type) {
  throw error(where(s, c) + " holds " + kind_of(s.columns[static_cast<std::size_t>(c)].type) +
                  ", which does not read into " + type,
              0, "22018");
}

// The current row's value of column c in the column's cell; false for NULL.
bool fetch(stmt& s, int c) {
  column& k = s.columns[static_cast<std::size_t>(c)];
  return guarded([&] {
    if (s.sql->IsFieldNull(k.index)) return false;
    s.sql->GetFieldValue(k.index, k.cell);
    return true;
  });
}

bool binary_column(stmt& s, int c) {
  const TZyloFieldTypes t = s.columns[static_cast<std::size_t>(c)].type;
  return t == ztBinary || t == ztBlob;
}

bool integer_kind(TVarType t) {
  switch (t) {
    case varSmallint:
    case varInteger:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
    case varInt64: return true;
    default: return false;
  }
}

std::string number_text(double d) {
  char b[64];
  auto r = std::to_chars(b, b + sizeof b, d);
  return std::string(b, r.ptr);
}

// A whole floating-point value in the 64-bit signed range.
bool whole_int64(double d, std::int64_t& out) {
  if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0) || d != std::trunc(d)) return false;
  out = static_cast<std::int64_t>(d);
  return true;
}

// Date-time record pieces, checked.
bool record_date(const Tsqldatetime& r, year_month_day& out) {
  out = year(r.year) / month(r.month + 1u) / day(r.day);
  return r.year >= 1 && r.year <= 9999 && out.ok();
}

bool record_time(const Tsqldatetime& r, microseconds& out) {
  // Copies: the record is packed, and durations take their counts by reference.
  const int h = r.hour, m = r.minute, s = r.second;
  const std::int64_t us = r.microsecond;
  if (h > 23 || m > 59 || s > 59 || us > 999999) return false;
  out = hours(h) + minutes(m) + seconds(s) + microseconds(us);
  return true;
}

// Text forms: "2024-01-31", "12:30:00[.ffffff]", "2024-01-31 12:30:00[.ffffff]" (or 'T').
bool parse_number(std::string_view t, std::size_t& i, std::size_t digits, int& out) {
  if (i + digits > t.size()) return false;
  out = 0;
  for (std::size_t k = 0; k < digits; ++k) {
    const char c = t[i + k];
    if (c < '0' || c > '9') return false;
    out = out * 10 + (c - '0');
  }
  i += digits;
  return true;
}

bool parse_date(std::string_view t, std::size_t& i, year_month_day& out) {
  int y, m, d;
  if (!parse_number(t, i, 4, y) || i >= t.size() || t[i++] != '-' || !parse_number(t, i, 2, m) || i >= t.size() ||
      t[i++] != '-' || !parse_number(t, i, 2, d))
    return false;
  out = year(y) / month(static_cast<unsigned>(m)) / day(static_cast<unsigned>(d));
  return y >= 1 && out.ok();
}

bool parse_time(std::string_view t, std::size_t& i, microseconds& out) {
  int h, m, s;
  if (!parse_number(t, i, 2, h) || i >= t.size() || t[i++] != ':' || !parse_number(t, i, 2, m) || i >= t.size() ||
      t[i++] != ':' || !parse_number(t, i, 2, s) || h > 23 || m > 59 || s > 59)
    return false;
  std::int64_t frac = 0;
  if (i < t.size() && t[i] == '.') {
    ++i;
    std::size_t n = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9' && n < 6) {
      frac = frac * 10 + (t[i++] - '0');
      ++n;
    }
    if (n == 0 || (i < t.size() && t[i] >= '0' && t[i] <= '9')) return false;  // finer than a microsecond
    for (; n < 6; ++n) frac *= 10;
  }
  out = hours(h) + minutes(m) + seconds(s) + microseconds(frac);
  return true;
}

std::string cell_text(stmt& s, int c) { return s.columns[static_cast<std::size_t>(c)].cell.AsString(); }

}  // namespace

void fail_null(stmt& s, int c, const char* type) {
  throw error(where(s, c) + " is NULL, which does not read into " + std::string(type) + " (read std::optional)", 0,
              "22002");
}

void fail_fit(stmt& s, int c, const char* type, const std::string& value) {
  throw error(where(s, c) + " holds " + value + ", which does not fit " + type, 0, "22003");
}

bool read(stmt& s, int c, bool& out) {
  if (!fetch(s, c)) return false;
  const Variant& v = s.columns[static_cast<std::size_t>(c)].cell;
  if (v.VarType() == varBoolean) {
    out = v.AsBoolean();
  } else if (integer_kind(v.VarType())) {
    const std::int64_t n = v.AsInt64();
    if (n != 0 && n != 1) fail_fit(s, c, "bool", std::to_string(n));
    out = n == 1;
  } else {
    fail_kind(s, c, "bool");
  }
  return true;
}

bool read(stmt& s, int c, std::int64_t& out) {
  if (!fetch(s, c)) return false;
  const Variant& v = s.columns[static_cast<std::size_t>(c)].cell;
  const TVarType t = v.VarType();
  if (integer_kind(t)) {
    out = v.AsInt64();
  } else if (t == varDouble || t == varSingle) {
    if (!whole_int64(v.AsDouble(), out)) fail_fit(s, c, "an integer type", number_text(v.AsDouble()));
  } else if (t == varCurrency) {
    const std::int64_t units = v.AsCurrency().Scaled();
    if (units % Currency::Scale) fail_fit(s, c, "an integer type", number_text(v.AsDouble()));
    out = units / Currency::Scale;
  } else if (t == varBoolean) {
    out = v.AsBoolean() ? 1 : 0;
  } else {
    fail_kind(s, c, "an integer type");
  }
  return true;
}

bool read(stmt& s, int c, std::uint64_t& out) {
  std::int64_t v;
  if (!read(s, c, v)) return false;
  if (v < 0) fail_fit(s, c, "an unsigned type", std::to_string(v));
  out = static_cast<std::uint64_t>(v);
  return true;
}

bool read(stmt& s, int c, double& out) {
  if (!fetch(s, c)) return false;
  const Variant& v = s.columns[static_cast<std::size_t>(c)].cell;
  const TVarType t = v.VarType();
  if (t == varDouble || t == varSingle || t == varCurrency) {
    out = v.AsDouble();
  } else if (integer_kind(t)) {
    const std::int64_t n = v.AsInt64();
    std::int64_t back;
    out = static_cast<double>(n);
    if (!whole_int64(out, back) || back != n) fail_fit(s, c, "double", std::to_string(n));
  } else {
    fail_kind(s, c, "double");
  }
  return true;
}

bool read(stmt& s, int c, std::string& out) {
  if (!fetch(s, c)) return false;
  const Variant& v = s.columns[static_cast<std::size_t>(c)].cell;
  if (v.VarType() != varString && v.VarType() != varOleStr) fail_kind(s, c, "std::string");
  out = v.AsString();
  return true;
}

bool read(stmt& s, int c, bytes& out) {
  if (!fetch(s, c)) return false;
  const Variant& v = s.columns[static_cast<std::size_t>(c)].cell;
  if (v.VarType() == (varArray | varByte)) {
    const auto* p = static_cast<const std::byte*>(VarArrayLock(v));
    out.assign(p, p + v.ElementCount());
  } else if (v.IsNull() && binary_column(s, c)) {
    out.clear();  // an empty value that is not NULL: the components give no array for it
  } else if (VarIsStr(v)) {
    const AnsiString t = v.AsString();
    const auto* p = reinterpret_cast<const std::byte*>(t.data());
    out.assign(p, p + t.size());
  } else {
    fail_kind(s, c, "zylo::bytes");
  }
  return true;
}

bool read(stmt& s, int c, decimal& out) {
  if (!fetch(s, c)) return false;
  const column& k = s.columns[static_cast<std::size_t>(c)];
  const Variant& v = k.cell;
  const TVarType t = v.VarType();
  if (integer_kind(t)) {
    out = decimal(std::to_string(v.AsInt64()));
  } else if (t == varDouble || t == varSingle || t == varCurrency) {
    const double d = v.AsDouble();
    if (!std::isfinite(d)) fail_fit(s, c, "zylo::decimal", number_text(d));
    // A decimal column arrives as a double: printed at the column's scale it gives back the
    // digits that were stored; a floating column gives its shortest exact form.
    char b[400];
    auto r = k.decimals > 0 ? std::to_chars(b, b + sizeof b, d, std::chars_format::fixed, k.decimals)
                            : std::to_chars(b, b + sizeof b, d, std::chars_format::fixed);
    if (r.ec != std::errc()) fail_fit(s, c, "zylo::decimal", number_text(d));
    out = decimal(std::string_view(b, static_cast<std::size_t>(r.ptr - b)));
  } else if (VarIsStr(v)) {
    try {
      out = decimal(cell_text(s, c));
    } catch (const error&) {
      fail_kind(s, c, "zylo::decimal");
    }
  } else {
    fail_kind(s, c, "zylo::decimal");
  }
  return true;
}

bool read(stmt& s, int c, year_month_day& out) {
  column& k = s.columns[static_cast<std::size_t>(c)];
  if (k.type == ztDate || k.type == ztDateTime) {
    if (guarded([&] { return s.sql->IsFieldNull(k.index); })) return false;
    Tsqldatetime r;
    guarded([&] { return s.sql->GetFieldTimeStamp(k.index, r); });
    if (!record_date(r, out)) fail_fit(s, c, "std::chrono::year_month_day", "no valid date");
    microseconds time;
    if (k.type == ztDateTime && (!record_time(r, time) || time != microseconds::zero()))
      fail_fit(s, c, "std::chrono::year_month_day", "a time of day besides the date");
    return true;
  }
  if (k.type == ztString || k.type == ztMemo) {
    if (!fetch(s, c)) return false;
    const std::string t = cell_text(s, c);
    std::size_t i = 0;
    if (!parse_date(t, i, out) || i != t.size()) fail_kind(s, c, "std::chrono::year_month_day");
    return true;
  }
  fail_kind(s, c, "std::chrono::year_month_day");
}

bool read_time(stmt& s, int c, microseconds& out) {
  column& k = s.columns[static_cast<std::size_t>(c)];
  if (k.type == ztTime) {
    if (guarded([&] { return s.sql->IsFieldNull(k.index); })) return false;
    Tsqldatetime r;
    guarded([&] { return s.sql->GetFieldTimeStamp(k.index, r); });
    if (!record_time(r, out)) fail_fit(s, c, "std::chrono::hh_mm_ss", "no valid time");
    return true;
  }
  if (k.type == ztString || k.type == ztMemo) {
    if (!fetch(s, c)) return false;
    const std::string t = cell_text(s, c);
    std::size_t i = 0;
    if (!parse_time(t, i, out) || i != t.size()) fail_kind(s, c, "std::chrono::hh_mm_ss");
    return true;
  }
  fail_kind(s, c, "std::chrono::hh_mm_ss");
}

bool read(stmt& s, int c, sys_time<microseconds>& out) {
  column& k = s.columns[static_cast<std::size_t>(c)];
  year_month_day d;
  microseconds time{0};
  if (k.type == ztDate || k.type == ztDateTime) {
    if (guarded([&] { return s.sql->IsFieldNull(k.index); })) return false;
    Tsqldatetime r;
    guarded([&] { return s.sql->GetFieldTimeStamp(k.index, r); });
    if (!record_date(r, d) || (k.type == ztDateTime && !record_time(r, time)))
      fail_fit(s, c, "std::chrono::sys_time", "no valid time stamp");
  } else if (k.type == ztString || k.type == ztMemo) {
    if (!fetch(s, c)) return false;
    const std::string t = cell_text(s, c);
    std::size_t i = 0;
    if (!parse_date(t, i, d)) fail_kind(s, c, "std::chrono::sys_time");
    if (i < t.size() && (t[i] == ' ' || t[i] == 'T')) {
      ++i;
      if (!parse_time(t, i, time)) fail_kind(s, c, "std::chrono::sys_time");
    }
    if (i != t.size()) fail_kind(s, c, "std::chrono::sys_time");
  } else {
    fail_kind(s, c, "std::chrono::sys_time");
  }
  out = sys_days(d) + time;
  return true;
}

bool read(stmt& s, int c, blob& out) {
  column& k = s.columns[static_cast<std::size_t>(c)];
  if (k.type != ztMemo && k.type != ztBlob) fail_kind(s, c, "zylo::blob (long columns only)");
  if (guarded([&] { return s.sql->IsFieldNull(k.index); })) return false;
  out = access::make_blob(s.shared_from_this(), s.owner.shared_from_this(), c, s.row);
  return true;
}

}  // namespace detail
}  // namespace zylo
