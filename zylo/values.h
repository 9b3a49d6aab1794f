// zylo/values.h: how C++ values meet the server's, in both directions, exactly.
//
//   C++ type                          parameter sent as            read from columns of type
//   --------------------------------  ---------------------------  -----------------------------------
//   bool                              BIT                          BIT; integers holding 0 or 1
//   signed integers up to 32 bits,    INTEGER                      every integer type, and floating
//   unsigned up to 16 bits                                         or decimal columns holding a whole
//   std::int64_t, std::uint32_t       BIGINT                       number, when the value fits the
//   std::uint64_t                     BIGINT (above 2^63-1: text)  C++ type; otherwise an error
//   double, float                     DOUBLE                       floating, decimal and integer
//                                                                  columns when the value is exactly
//                                                                  representable (float: a float)
//   std::string, std::string_view,    VARCHAR (long text as a      character columns, long ones too
//   const char*                       long value)
//   zylo::bytes (std::vector of       BINARY (long ones as a long  binary columns, long ones too
//   std::byte), std::span<const       value)
//   std::byte>
//   zylo::decimal                     its text (the server         decimal, integer and floating
//                                     converts it)                 columns, printed at the column's
//                                                                  scale; character columns holding a
//                                                                  number
//   std::chrono::year_month_day,      DATE (years 1 to 9999)       DATE; TIMESTAMP at midnight;
//   std::chrono::sys_days                                          text in the form 2024-01-31
//   std::chrono::hh_mm_ss<D>          TIME text, to the            TIME; text in the form 12:30:00.5
//                                     microsecond
//   std::chrono::sys_time<D>          TIMESTAMP text, to the       TIMESTAMP; DATE (at midnight);
//                                     microsecond                  text in the form above
//   std::istream& (any stream)        a long value, sent in        -
//                                     pieces as it is read
//   zylo::blob                        -                            long columns: a handle that reads
//                                                                  the value in pieces
//   std::optional<T>, std::nullopt    NULL when empty              NULL as an empty optional
//
// Reading NULL into a type that is not a std::optional, reading a value that does not fit the C++
// type (300 into std::int8_t, 2.5 into an integer, 12:00:00.5 into hh_mm_ss<seconds>), and reading
// a column into a type of another kind (text into an integer) throw zylo::error; nothing is ever
// wrapped, rounded or cut. Microseconds travel as text because the components' date-time values
// keep milliseconds; dates travel as the components' dates.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <istream>
#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "zylo/error.h"

namespace zylo {

using bytes = std::vector<std::byte>;

// An exact decimal number held as its text: an optional sign, digits, and optionally a point
// followed by digits ("-12.50"). Compared by value, so "1.50" equals "1.5".
class decimal {
 public:
  decimal() = default;
  // Throws zylo::error (22018) for any other text.
  explicit decimal(std::string_view text);
  const std::string& str() const noexcept { return text_; }
  friend bool operator==(const decimal& a, const decimal& b) noexcept;

 private:
  std::string text_{"0"};
};

namespace detail {
class conn;
class stmt;
struct access;
}  // namespace detail

// A long value of the current row (LONG VARCHAR, LONG BINARY ...) that has not been read yet.
// Reading goes to the server piece by piece, so no more than one piece is in memory at a time
// unless the whole value is asked for. Valid while its row is current: after the rows move on,
// every read throws zylo::error.
class blob {
 public:
  blob() = default;
  // The value as a stream, from its start (each call starts over; the stream object is the
  // column's, shared by the copies of this blob).
  std::istream& stream();
  // The whole value in memory.
  bytes read_bytes();
  std::string read_text();
  // Writes the value to out piece by piece; returns the bytes written.
  std::uint64_t copy_to(std::ostream& out);

 private:
  friend struct detail::access;
  std::shared_ptr<detail::stmt> stmt_;
  std::shared_ptr<detail::conn> conn_;  // the session stays while a blob can still read
  int column_ = -1;
  std::uint64_t row_ = 0;
};

// A value for the parameter ":name" (or "name") of a statement. The value is held as given: a
// reference for an lvalue (the statement reads it during the call), a copy for a temporary.
template <class T>
struct named {
  std::string_view name;
  T value;
};

template <class T>
named<T> arg(std::string_view name, T&& value) {
  return named<T>{name, std::forward<T>(value)};
}

namespace detail {

template <class T>
inline constexpr bool dependent_false = false;
template <class T>
struct is_optional : std::false_type {};
template <class T>
struct is_optional<std::optional<T>> : std::true_type {};
template <class T>
struct is_named : std::false_type {};
template <class T>
struct is_named<named<T>> : std::true_type {};
template <class T>
struct is_hh_mm_ss : std::false_type {};
template <class D>
struct is_hh_mm_ss<std::chrono::hh_mm_ss<D>> : std::true_type {};
template <class T>
struct is_sys_time : std::false_type {};
template <class D>
struct is_sys_time<std::chrono::sys_time<D>> : std::true_type {};

// The C++ type as error messages name it.
template <class T>
constexpr const char* type_name() {
  if constexpr (std::is_same_v<T, bool>) return "bool";
  else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>)
    return sizeof(T) == 1 ? "std::int8_t" : sizeof(T) == 2 ? "std::int16_t" : sizeof(T) == 4 ? "std::int32_t" : "std::int64_t";
  else if constexpr (std::is_integral_v<T>)
    return sizeof(T) == 1 ? "std::uint8_t" : sizeof(T) == 2 ? "std::uint16_t" : sizeof(T) == 4 ? "std::uint32_t" : "std::uint64_t";
  else if constexpr (std::is_same_v<T, double>) return "double";
  else if constexpr (std::is_same_v<T, float>) return "float";
  else if constexpr (std::is_same_v<T, std::string>) return "std::string";
  else if constexpr (std::is_same_v<T, bytes>) return "zylo::bytes";
  else if constexpr (std::is_same_v<T, decimal>) return "zylo::decimal";
  else if constexpr (std::is_same_v<T, std::chrono::year_month_day>) return "std::chrono::year_month_day";
  else if constexpr (std::is_same_v<T, std::chrono::sys_days>) return "std::chrono::sys_days";
  else if constexpr (is_hh_mm_ss<T>::value) return "std::chrono::hh_mm_ss";
  else if constexpr (is_sys_time<T>::value) return "std::chrono::sys_time";
  else if constexpr (std::is_same_v<T, blob>) return "zylo::blob";
  else return "this type";
}

// ---- parameters: each call gives the next value (to the next '?', or to the name given first)

void bind_name(stmt& s, std::string_view name);
void bind_null(stmt& s);
void bind_bool(stmt& s, bool v);
void bind_int32(stmt& s, std::int32_t v);
void bind_int64(stmt& s, std::int64_t v);
void bind_uint64(stmt& s, std::uint64_t v);
void bind_double(stmt& s, double v);
void bind_text(stmt& s, std::string_view v);
void bind_bytes(stmt& s, const std::byte* data, std::size_t size);
void bind_decimal(stmt& s, const decimal& v);
void bind_date(stmt& s, std::chrono::year_month_day v);
void bind_time(stmt& s, std::chrono::microseconds since_midnight);
void bind_timestamp(stmt& s, std::chrono::sys_time<std::chrono::microseconds> v);
void bind_stream(stmt& s, std::istream& in);
[[noreturn]] void fail_bind(stmt& s, const std::string& why);

// A duration in microseconds, or an error for one that has a finer part.
template <class D>
std::chrono::microseconds exact_micros(stmt& s, D d) {
  auto us = std::chrono::duration_cast<std::chrono::microseconds>(d);
  if (us != d) fail_bind(s, "a time value finer than a microsecond cannot be stored");
  return us;
}

template <class T>
void bind_value(stmt& s, T&& v) {
  using U = std::remove_cvref_t<T>;
  if constexpr (is_named<U>::value) {
    bind_name(s, v.name);
    bind_value(s, v.value);
  } else if constexpr (std::is_same_v<U, std::nullopt_t> || std::is_same_v<U, std::nullptr_t>) {
    bind_null(s);
  } else if constexpr (is_optional<U>::value) {
    if (v) bind_value(s, *v);
    else bind_null(s);
  } else if constexpr (std::is_same_v<U, bool>) {
    bind_bool(s, v);
  } else if constexpr (std::is_same_v<U, char> || std::is_same_v<U, wchar_t> || std::is_same_v<U, char8_t> ||
                       std::is_same_v<U, char16_t> || std::is_same_v<U, char32_t>) {
    static_assert(dependent_false<U>, "a character is neither text nor a number here: pass a std::string or an integer");
  } else if constexpr (std::is_integral_v<U>) {
    if constexpr (std::is_signed_v<U> && sizeof(U) <= 4) bind_int32(s, static_cast<std::int32_t>(v));
    else if constexpr (std::is_unsigned_v<U> && sizeof(U) <= 2) bind_int32(s, static_cast<std::int32_t>(v));
    else if constexpr (std::is_signed_v<U>) bind_int64(s, static_cast<std::int64_t>(v));
    else bind_uint64(s, static_cast<std::uint64_t>(v));
  } else if constexpr (std::is_same_v<U, double> || std::is_same_v<U, float>) {
    bind_double(s, static_cast<double>(v));
  } else if constexpr (std::is_pointer_v<U> && std::is_convertible_v<const U&, std::string_view>) {
    if (v) bind_text(s, std::string_view(v));
    else bind_null(s);
  } else if constexpr (std::is_convertible_v<const U&, std::string_view>) {
    bind_text(s, std::string_view(v));
  } else if constexpr (std::is_convertible_v<const U&, std::span<const std::byte>>) {
    std::span<const std::byte> b(v);
    bind_bytes(s, b.data(), b.size());
  } else if constexpr (std::is_same_v<U, decimal>) {
    bind_decimal(s, v);
  } else if constexpr (std::is_same_v<U, std::chrono::year_month_day>) {
    bind_date(s, v);
  } else if constexpr (std::is_same_v<U, std::chrono::sys_days>) {
    bind_date(s, std::chrono::year_month_day(v));
  } else if constexpr (is_hh_mm_ss<U>::value) {
    if (v.is_negative()) fail_bind(s, "a negative time of day cannot be stored");
    bind_time(s, exact_micros(s, v.to_duration()));
  } else if constexpr (is_sys_time<U>::value) {
    bind_timestamp(s, std::chrono::sys_time<std::chrono::microseconds>(exact_micros(s, v.time_since_epoch())));
  } else if constexpr (std::is_base_of_v<std::istream, U>) {
    bind_stream(s, const_cast<U&>(v));
  } else {
    static_assert(dependent_false<U>, "zylo cannot send a value of this type (see zylo/values.h)");
  }
}

// ---- reading column `column` of the current row; each returns false for NULL -----------------

bool read(stmt& s, int column, bool& out);
bool read(stmt& s, int column, std::int64_t& out);
bool read(stmt& s, int column, std::uint64_t& out);
bool read(stmt& s, int column, double& out);
bool read(stmt& s, int column, std::string& out);
bool read(stmt& s, int column, bytes& out);
bool read(stmt& s, int column, decimal& out);
bool read(stmt& s, int column, std::chrono::year_month_day& out);
bool read_time(stmt& s, int column, std::chrono::microseconds& since_midnight);
bool read(stmt& s, int column, std::chrono::sys_time<std::chrono::microseconds>& out);
bool read(stmt& s, int column, blob& out);
[[noreturn]] void fail_null(stmt& s, int column, const char* type);
[[noreturn]] void fail_fit(stmt& s, int column, const char* type, const std::string& value);

template <class T>
bool read_raw(stmt& s, int c, T& out) {
  using namespace std::chrono;
  if constexpr (std::is_same_v<T, bool> || std::is_same_v<T, std::int64_t> || std::is_same_v<T, std::uint64_t> ||
                std::is_same_v<T, double> || std::is_same_v<T, std::string> || std::is_same_v<T, bytes> ||
                std::is_same_v<T, decimal> || std::is_same_v<T, year_month_day> || std::is_same_v<T, blob> ||
                std::is_same_v<T, sys_time<microseconds>>) {
    return read(s, c, out);
  } else if constexpr (std::is_same_v<T, char> || std::is_same_v<T, wchar_t> || std::is_same_v<T, char8_t> ||
                       std::is_same_v<T, char16_t> || std::is_same_v<T, char32_t>) {
    static_assert(dependent_false<T>, "read text into std::string, numbers into an integer type");
  } else if constexpr (std::is_integral_v<T>) {
    if constexpr (std::is_signed_v<T>) {
      std::int64_t v;
      if (!read(s, c, v)) return false;
      if (!std::in_range<T>(v)) fail_fit(s, c, type_name<T>(), std::to_string(v));
      out = static_cast<T>(v);
    } else {
      std::uint64_t v;
      if (!read(s, c, v)) return false;
      if (!std::in_range<T>(v)) fail_fit(s, c, type_name<T>(), std::to_string(v));
      out = static_cast<T>(v);
    }
    return true;
  } else if constexpr (std::is_same_v<T, float>) {
    double v;
    if (!read(s, c, v)) return false;
    if (v == v && static_cast<double>(static_cast<float>(v)) != v) fail_fit(s, c, "float", std::to_string(v));
    out = static_cast<float>(v);
    return true;
  } else if constexpr (std::is_same_v<T, sys_days>) {
    year_month_day d;
    if (!read(s, c, d)) return false;
    out = sys_days(d);
    return true;
  } else if constexpr (is_hh_mm_ss<T>::value) {
    microseconds us;
    if (!read_time(s, c, us)) return false;
    auto d = duration_cast<typename T::precision>(us);
    if (d != us) fail_fit(s, c, "std::chrono::hh_mm_ss of this precision", std::to_string(us.count()) + " us");
    out = T(d);
    return true;
  } else if constexpr (is_sys_time<T>::value) {
    sys_time<microseconds> t;
    if (!read(s, c, t)) return false;
    auto d = duration_cast<typename T::duration>(t.time_since_epoch());
    if (d != t.time_since_epoch())
      fail_fit(s, c, "std::chrono::sys_time of this precision", std::to_string(t.time_since_epoch().count()) + " us");
    out = T(d);
    return true;
  } else if constexpr (std::is_same_v<T, std::string_view> || std::is_same_v<T, const char*>) {
    static_assert(dependent_false<T>, "a row cannot lend text: read it into std::string");
  } else {
    static_assert(dependent_false<T>, "zylo cannot read a value into this type (see zylo/values.h)");
  }
}

template <class T>
void read_value(stmt& s, int c, T& out) {
  if constexpr (is_optional<T>::value) {
    // Keeps the previous row's storage (a string's buffer) when the column was not NULL there.
    if (!out) out.emplace();
    if (!read_raw(s, c, *out)) out.reset();
  } else {
    if (!read_raw(s, c, out)) fail_null(s, c, type_name<T>());
  }
}

}  // namespace detail
}  // namespace zylo
