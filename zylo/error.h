// zylo::error: the one exception of the modern layer. Every failure of the layer and of the
// components beneath it arrives as this type, carrying the server's SQLCODE (negative; 0 for
// errors the library detects itself), the SQL state when one is known, and the text.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace zylo {

class error : public std::runtime_error {
 public:
  explicit error(const std::string& text, std::int32_t sqlcode = 0, std::string sqlstate = {})
      : std::runtime_error(text), sqlcode_(sqlcode), sqlstate_(std::move(sqlstate)) {}

  // The server's code (negative), or 0 for an error found without the server.
  std::int32_t sqlcode() const noexcept { return sqlcode_; }
  // Five characters ("42W33", "22003" ...), or empty when none is known.
  const std::string& sqlstate() const noexcept { return sqlstate_; }

 private:
  std::int32_t sqlcode_;
  std::string sqlstate_;
};

}  // namespace zylo
