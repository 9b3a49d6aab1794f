// CSV reading for .import: one pass over the input, a character at a time.
#include "tools/isql/IsqlCsv.h"

#include <istream>

namespace zylisql {

bool TCsvReader::Next(std::vector<TCsvField>& Record) {
  Record.clear();
  if (!FError.empty()) return false;
  if (!FStarted) {
    FStarted = true;
    if (FIn.peek() == 0xEF) {  // a UTF-8 byte-order mark is no part of the first name
      char bom[3];
      FIn.read(bom, 3);
      if (FIn.gcount() != 3 || bom[1] != '\xBB' || bom[2] != '\xBF') {
        FIn.clear();
        FIn.seekg(0);
      }
    }
  }
  while (true) {
    int c = FIn.peek();
    if (c == std::char_traits<char>::eof()) return false;
    if (c == '\n' || c == '\r') {  // a blank line
      FIn.get();
      if (c == '\r' && FIn.peek() == '\n') FIn.get();
      ++FLine;
      continue;
    }
    break;
  }
  FRecordLine = FLine;
  TCsvField field;
  while (true) {
    int c = FIn.get();
    if (c == std::char_traits<char>::eof() || c == '\n' || c == '\r') {
      Record.push_back(std::move(field));
      if (c == '\r' && FIn.peek() == '\n') FIn.get();
      if (c != std::char_traits<char>::eof()) ++FLine;
      return true;
    }
    if (c == ',') {
      Record.push_back(std::move(field));
      field = TCsvField();
      continue;
    }
    if (c == '"' && field.Text.empty() && !field.Quoted) {
      field.Quoted = true;
      int start = FLine;
      while (true) {
        int q = FIn.get();
        if (q == std::char_traits<char>::eof()) {
          FError = "line " + std::to_string(start) + ": a quoted field is not closed";
          return false;
        }
        if (q == '"') {
          if (FIn.peek() == '"') {
            FIn.get();
            field.Text += '"';
            continue;
          }
          break;
        }
        if (q == '\n') ++FLine;
        field.Text += static_cast<char>(q);
      }
      int after = FIn.peek();
      if (after != ',' && after != '\n' && after != '\r' && after != std::char_traits<char>::eof()) {
        FError = "line " + std::to_string(FLine) + ": field " + std::to_string(Record.size() + 1) +
                 ": text after the closing quote";
        return false;
      }
      continue;
    }
    if (field.Quoted) {
      FError = "line " + std::to_string(FLine) + ": field " + std::to_string(Record.size() + 1) +
               ": text after the closing quote";
      return false;
    }
    field.Text += static_cast<char>(c);
  }
}

}  // namespace zylisql
