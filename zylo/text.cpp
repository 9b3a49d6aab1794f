// zylo: reading statement texts — where the parameter markers are, and which statement a text
// is. The client library reads the same markers the same way ('?' and ':name', nothing inside
// literals, quoted identifiers or comments, '::' and ':=' are no markers), so the values bound here
// land where the server expects them.
#include <cctype>

#include "zylo/internal.h"

namespace zylo::detail {

namespace {

bool ident_char(unsigned char c) { return std::isalnum(c) || c == '_' || c == '@' || c == '$' || c == '#' || c >= 0x80; }

// The end of a comment starting at i, or i when none starts there.
std::size_t skip_comment(std::string_view s, std::size_t i) {
  const std::size_t n = s.size();
  if (i + 1 < n && ((s[i] == '-' && s[i + 1] == '-') || (s[i] == '/' && s[i + 1] == '/'))) {
    while (i < n && s[i] != '\n') ++i;
    return i;
  }
  if (i + 1 < n && s[i] == '/' && s[i + 1] == '*') {
    const std::size_t e = s.find("*/", i + 2);
    return e == std::string_view::npos ? n : e + 2;
  }
  return i;
}

// The end of a quoted literal or identifier starting at i (a doubled quote stands for itself,
// except in [brackets]); an unterminated one runs to the end of the text.
std::size_t skip_quoted(std::string_view s, std::size_t i) {
  const char close = s[i] == '[' ? ']' : s[i];
  const std::size_t n = s.size();
  ++i;
  while (i < n) {
    if (s[i] == close) {
      if (close != ']' && i + 1 < n && s[i + 1] == close) {
        i += 2;
        continue;
      }
      return i + 1;
    }
    ++i;
  }
  return n;
}

}  // namespace

std::vector<marker> scan_markers(std::string_view s) {
  std::vector<marker> out;
  const std::size_t n = s.size();
  std::size_t i = 0;
  while (i < n) {
    const std::size_t after = skip_comment(s, i);
    if (after != i) {
      i = after;
      continue;
    }
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '\'' || c == '"' || c == '`' || c == '[') {
      i = skip_quoted(s, i);
    } else if (c == '?') {
      std::size_t e = i + 1;
      while (e < n && std::isdigit(static_cast<unsigned char>(s[e]))) ++e;  // "?1" is one marker
      out.push_back({i, e - i, {}});
      i = e;
    } else if (c == ':' && (i == 0 || s[i - 1] != ':') && i + 1 < n && ident_char(static_cast<unsigned char>(s[i + 1])) &&
               !std::isdigit(static_cast<unsigned char>(s[i + 1]))) {
      std::size_t e = i + 1;
      while (e < n && ident_char(static_cast<unsigned char>(s[e]))) ++e;
      out.push_back({i, e - i, std::string(s.substr(i + 1, e - i - 1))});
      i = e;
    } else if (ident_char(c)) {
      // A word: a ':' right after it is still a marker ("a=:x"), but digits inside it are not '?'.
      while (i < n && ident_char(static_cast<unsigned char>(s[i]))) ++i;
    } else {
      ++i;
    }
  }
  return out;
}

std::string leading_keyword(std::string_view s) {
  std::size_t i = 0;
  for (;;) {
    while (i < s.size() && (std::isspace(static_cast<unsigned char>(s[i])) || s[i] == '(')) ++i;
    const std::size_t after = skip_comment(s, i);
    if (after == i) break;
    i = after;
  }
  std::string word;
  while (i < s.size() && std::isalpha(static_cast<unsigned char>(s[i])))
    word += static_cast<char>(std::toupper(static_cast<unsigned char>(s[i++])));
  return word;
}

}  // namespace zylo::detail
