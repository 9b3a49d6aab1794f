// Screen columns of text on a terminal: what the table printer aligns by and cuts at.
//
// Text is UTF-8. East Asian wide and full-width characters (CJK, Hangul, most emoji) take two
// columns, combining marks and format characters none, everything else one. A byte that does
// not start a well-formed UTF-8 sequence is shown as \xNN (four columns), so no stray byte ever
// reaches the terminal raw.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zylisql {

// Columns of one code point: 0, 1 or 2 (control characters count 1: the printers replace them).
int CodePointWidth(char32_t C);

// One character of Text at I: its length in bytes (1 for a stray byte, then Valid is false).
size_t NextCharacter(std::string_view Text, size_t I, char32_t& C, bool& Valid);

// Screen columns of the text as the printers show it.
size_t DisplayWidth(std::string_view Text);

// The longest prefix of Text that fits in Width columns without splitting a character
// (a combining mark stays with the character before it).
std::string CutToWidth(std::string_view Text, size_t Width);

// Text broken into pieces of at most Width columns each (at least one piece; Width 0 counts as 1).
std::vector<std::string> WrapToWidth(std::string_view Text, size_t Width);

}  // namespace zylisql
