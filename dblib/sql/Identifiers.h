// Whether an identifier must be written in double quotes (sql_needs_quotes): when it is empty,
// does not start with a letter, '_', '@' or '#', holds anything but letters, digits and
// '_', '@', '#', '$', or is a reserved word of the dialect (case-insensitive). Bytes above 127
// count as letters (names in the client's character set).
#pragma once

#include <string>
#include <string_view>

namespace dbl {

bool NeedsQuotes(std::string_view identifier);
bool IsReservedWord(std::string_view word);

// Case-insensitive name ordering (ASCII letters), for maps keyed by option, variable, statement
// and cursor names.
struct NoCaseLess {
  bool operator()(const std::string& a, const std::string& b) const;
};

}  // namespace dbl
