// Reading lines from a stream, and the history file's form of an entry.
#include "tools/isql/IsqlInput.h"

#include <iostream>

namespace zylisql {

TReadResult TStreamInput::ReadLine(const std::string& Prompt, std::string& Line) {
  if (FPrompts && !Prompt.empty()) *FPrompts << Prompt << std::flush;
  if (!std::getline(FIn, Line)) return TReadResult::rrEnd;
  return TReadResult::rrLine;
}

void TStreamInput::ShowAbovePrompt(const std::string& Text) {
  if (FPrompts) *FPrompts << Text << std::flush;
}

std::string EncodeHistoryEntry(const std::string& Entry) {
  std::string out;
  out.reserve(Entry.size());
  for (char c : Entry) {
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out;
}

std::string DecodeHistoryEntry(const std::string& Line) {
  std::string out;
  out.reserve(Line.size());
  for (size_t i = 0; i < Line.size(); ++i) {
    if (Line[i] == '\\' && i + 1 < Line.size()) {
      char n = Line[++i];
      out += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
    } else {
      out += Line[i];
    }
  }
  return out;
}

}  // namespace zylisql
