// Text form of a neutral value.
#include "dblib/sql/Value.h"

#include <charconv>

namespace dbl {

std::string Value::ToText() const {
  switch (kind) {
    case Kind::Null: return {};
    case Kind::Integer: return std::to_string(i);
    case Kind::Real: {
      char buf[32];
      auto r = std::to_chars(buf, buf + sizeof buf, d);
      return std::string(buf, r.ptr);
    }
    default: return bytes;
  }
}

}  // namespace dbl
