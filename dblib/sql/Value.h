// The neutral value that crosses the engine interface: what a host variable carries into a
// statement and what a result column yields, independent of both the SQLDA types on one side
// and the engine's storage classes on the other. Text and Blob keep their bytes in one string
// (embedded NUL bytes allowed); moving a Value never copies them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace dbl {

struct Value {
  enum class Kind : uint8_t { Null, Integer, Real, Text, Blob };

  Kind kind = Kind::Null;
  int64_t i = 0;      // valid when kind == Integer
  double d = 0;       // valid when kind == Real
  std::string bytes;  // valid when kind == Text or Blob (Text: no terminator stored)

  Value() = default;
  static Value Null() { return Value(); }
  static Value Int(int64_t v) {
    Value x;
    x.kind = Kind::Integer;
    x.i = v;
    return x;
  }
  static Value Real(double v) {
    Value x;
    x.kind = Kind::Real;
    x.d = v;
    return x;
  }
  static Value Text(std::string v) {
    Value x;
    x.kind = Kind::Text;
    x.bytes = std::move(v);
    return x;
  }
  static Value Blob(std::string v) {
    Value x;
    x.kind = Kind::Blob;
    x.bytes = std::move(v);
    return x;
  }

  bool IsNull() const { return kind == Kind::Null; }
  std::string_view View() const { return bytes; }

  // Text form for messages and option values: integers and reals in their shortest exact
  // decimal form, NULL as the empty string.
  std::string ToText() const;

  friend bool operator==(const Value& a, const Value& b) {
    if (a.kind != b.kind) return false;
    switch (a.kind) {
      case Kind::Null: return true;
      case Kind::Integer: return a.i == b.i;
      case Kind::Real: return a.d == b.d;
      default: return a.bytes == b.bytes;
    }
  }
};

}  // namespace dbl
