// Output of the interactive SQL tool: result sets, row counts, output parameters, server
// messages and errors, printed as an aligned table (the default), one field per line
// (expanded), CSV or JSON lines.
//
// Values arrive already turned into text by the database side (TCell), so the printers know
// nothing of the library's types. The table printer cuts long values for display and notes
// their full length; CSV and JSON always carry the whole value, because they are read by
// programs. In CSV and JSON the notes (row counts, messages, timing) go to the note stream so
// that the data stream stays machine-readable.
//
// Column widths of a table come from every row of the result up to kBufferedRows rows; a
// longer result is printed with the widths of those rows, and a later value wider than its
// column is wrapped inside the column. Widths count screen columns (IsqlWidth.h).
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
enum class TExpanded { exOff, exOn, exAuto };  // auto: when a table is wider than the terminal

bool ParseFormat(const std::string& Text, TFormat& Format);  // "table", "csv", "json"
const char* FormatName(TFormat Format);

// The text of the null marker in tables (the default of TPrintSettings::NullText).
extern const char* const kNullMarker;

struct TPrintSettings {
  TFormat Format = TFormat::fmTable;
  bool Headers = true;                // column names above a table, header row of CSV
  std::string NullText = kNullMarker;  // how a table shows NULL
  TExpanded Expanded = TExpanded::exOff;
  size_t TerminalWidth = 0;   // columns of the terminal the data goes to; 0: not a terminal
  size_t TerminalHeight = 0;  // its lines; a table longer than this goes to the pager
};

// Where a table longer than the screen is written (the user's pager). Open returns the stream
// to write to, or nullptr when there is no pager after all; Close waits until the pager is gone.
class TPager {
 public:
  virtual ~TPager() = default;
  virtual std::ostream* Open() = 0;
  virtual void Close() = 0;
};

class TPrinter {
 public:
  TPrinter(const TPrintSettings& Settings, std::ostream& Data, std::ostream& Notes, std::ostream& Errors)
      : FSettings(Settings), FData(Data), FNotes(Notes), FErrors(Errors) {}
  virtual ~TPrinter() = default;

  virtual void BeginResult(const std::vector<TColumn>& Columns) = 0;
  virtual void Row(const std::vector<TCell>& Cells) = 0;
  virtual void EndResult(int64_t Rows) = 0;
  virtual void Affected(int64_t Rows) = 0;
  // Output parameters of a call: one named value each.
  virtual void OutParams(const std::vector<TColumn>& Names, const std::vector<TCell>& Values) = 0;
  virtual void Message(const std::string& Text);  // server message or warning, as it arrives
  // An error; Where ("file.sql:12: ") goes before it. A code of 0 is a tool's own error and
  // is printed without one.
  virtual void Error(int32_t Code, const std::string& Text, const std::string& Where = std::string());
  virtual void Timing(double Seconds);
  virtual void Info(const std::string& Text);  // a line of the tool's own (backup done, ...)
  // True when the reader of the data went away (the pager was quit): fetching more is useless.
  virtual bool Stopped() const;

  const TPrintSettings& Settings() const { return FSettings; }

 protected:
  TPrintSettings FSettings;
  std::ostream& FData;
  std::ostream& FNotes;
  std::ostream& FErrors;
};

// The table printer's cut: values longer than this many columns are shortened for display.
constexpr size_t kDisplayWidth = 40;
// Rows a table collects before it prints (its widths come from them).
constexpr size_t kBufferedRows = 10000;

std::unique_ptr<TPrinter> MakePrinter(const TPrintSettings& Settings, std::ostream& Data, std::ostream& Notes,
                                      std::ostream& Errors, TPager* Pager = nullptr);
// The default settings with the given format.
std::unique_ptr<TPrinter> MakePrinter(TFormat Format, std::ostream& Data, std::ostream& Notes, std::ostream& Errors);

// Exposed for tests: the display form of one cell in a table (null text, line ends, control
// characters and stray bytes made visible, long values cut with their length noted).
std::string DisplayCell(const TCell& Cell, size_t Width = kDisplayWidth, const std::string& NullText = kNullMarker);
std::string CsvField(const TCell& Cell);
std::string JsonString(const std::string& Text);
std::string JsonValue(const TCell& Cell, bool Numeric);

}  // namespace zylisql
