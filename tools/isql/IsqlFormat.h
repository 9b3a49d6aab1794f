// Output of the interactive SQL tool: result sets, row counts, output parameters, server
// messages and errors, printed as an aligned table (the default), CSV or JSON lines.
//
// Values arrive already turned into text by the database side (TCell), so the printers know
// nothing of the library's types. The table printer cuts long values for display and notes
// their full length; CSV and JSON always carry the whole value, because they are read by
// programs. In CSV and JSON the notes (row counts, messages, timing) go to the note stream so
// that the data stream stays machine-readable.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace zylisql {

struct TColumn {
  std::string Name;
  bool Numeric = false;  // right-aligned in a table, unquoted in JSON
};

struct TCell {
  bool Null = false;
  std::string Text;     // the value as text (binary values as 0x followed by hex digits)
  bool Binary = false;  // Text is the hex form of Length bytes
  int64_t Length = -1;  // full length of the value in characters (bytes for binary); -1: Text's

  static TCell Of(std::string Text) { return TCell{false, std::move(Text), false, -1}; }
  static TCell NullCell() { return TCell{true, {}, false, -1}; }
  int64_t FullLength() const { return Length >= 0 ? Length : static_cast<int64_t>(Text.size()); }
};

enum class TFormat { fmTable, fmCsv, fmJson };

bool ParseFormat(const std::string& Text, TFormat& Format);  // "table", "csv", "json"

class TPrinter {
 public:
  TPrinter(std::ostream& Data, std::ostream& Notes, std::ostream& Errors)
      : FData(Data), FNotes(Notes), FErrors(Errors) {}
  virtual ~TPrinter() = default;

  virtual void BeginResult(const std::vector<TColumn>& Columns) = 0;
  virtual void Row(const std::vector<TCell>& Cells) = 0;
  virtual void EndResult(int64_t Rows) = 0;
  virtual void Affected(int64_t Rows) = 0;
  // Output parameters of a call: one named value each.
  virtual void OutParams(const std::vector<TColumn>& Names, const std::vector<TCell>& Values) = 0;
  virtual void Message(const std::string& Text);  // server message or warning, as it arrives
  virtual void Error(int32_t Code, const std::string& Text);
  virtual void Timing(double Seconds);
  virtual void Info(const std::string& Text);  // a line of the tool's own (backup done, ...)

 protected:
  std::ostream& FData;
  std::ostream& FNotes;
  std::ostream& FErrors;
};

// The table printer's cut: values longer than this many characters are shortened for display.
constexpr size_t kDisplayWidth = 40;

std::unique_ptr<TPrinter> MakePrinter(TFormat Format, std::ostream& Data, std::ostream& Notes,
                                      std::ostream& Errors);

// Exposed for tests and for the progress bar: the display form of one cell in a table
// ("NULL" marker, line ends made visible, long values cut with their length noted).
std::string DisplayCell(const TCell& Cell, size_t Width = kDisplayWidth);
std::string CsvField(const TCell& Cell);
std::string JsonString(const std::string& Text);
std::string JsonValue(const TCell& Cell, bool Numeric);

// The text of the null marker in tables.
extern const char* const kNullMarker;

}  // namespace zylisql
