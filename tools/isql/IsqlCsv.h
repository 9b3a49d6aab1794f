// CSV as .import reads it: fields separated by commas, records by line ends (LF or CR LF),
// fields in double quotes may hold commas, quotes (doubled) and line ends. Whether a field was
// quoted is kept, so that an empty unquoted field can stand for NULL and "" for an empty text.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace zylisql {

struct TCsvField {
  std::string Text;
  bool Quoted = false;
};

class TCsvReader {
 public:
  explicit TCsvReader(std::istream& In) : FIn(In) {}
  // The next record into Record; false at the end of the input, or on malformed input (then
  // Error() says what and where). Blank lines are passed over.
  bool Next(std::vector<TCsvField>& Record);
  int Line() const { return FRecordLine; }  // line the last record began on (1-based)
  const std::string& Error() const { return FError; }

 private:
  std::istream& FIn;
  int FLine = 1;         // line of the next character
  int FRecordLine = 0;
  bool FStarted = false;  // a byte-order mark at the very start has been dealt with
  std::string FError;
};

}  // namespace zylisql
