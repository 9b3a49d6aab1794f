// The three printers of the interactive SQL tool.
#include "tools/isql/IsqlFormat.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ostream>

#include "tools/isql/IsqlWidth.h"

namespace zylisql {

const char* const kNullMarker = "(NULL)";

namespace {

std::string Pad(const std::string& s, size_t Width, bool Right) {
  size_t c = DisplayWidth(s);
  if (c >= Width) return s;
  std::string fill(Width - c, ' ');
  return Right ? fill + s : s + fill;
}

void TrimRight(std::string& s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
}

std::string Plural(int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Rows are collected until kBufferedRows or the end of the result, so that the widths (and
// whether the table fits the terminal or goes to the pager) come from all of them; later rows
// stream with those widths.
class TTablePrinter : public TPrinter {
 public:
  TTablePrinter(const TPrintSettings& Settings, std::ostream& Data, std::ostream& Notes, std::ostream& Errors,
                TPager* Pager)
      : TPrinter(Settings, Data, Notes, Errors), FPager(Pager), FOut(&Data) {}

  void BeginResult(const std::vector<TColumn>& Columns) override {
    FColumns = Columns;
    FPending.clear();
    FWidths.clear();
    FBuffering = true;
    FExpanded = false;
    FRecord = 0;
  }
  void Row(const std::vector<TCell>& Cells) override {
    std::vector<std::string> shown;
    shown.reserve(FColumns.size());
    for (size_t i = 0; i < FColumns.size(); ++i)
      shown.push_back(i < Cells.size() ? DisplayCell(Cells[i], kDisplayWidth, FSettings.NullText) : "");
    if (!FBuffering) return PrintRow(shown);
    FPending.push_back(std::move(shown));
    if (FPending.size() >= kBufferedRows) Flush(false);
  }
  void EndResult(int64_t Rows) override {
    if (FBuffering) Flush(true);
    *FOut << "(" << Plural(Rows, "row", "rows") << ")\n";
    FOut->flush();
    if (FOut != &FData) {
      FPager->Close();
      FOut = &FData;
    }
  }
  void Affected(int64_t Rows) override { FData << Plural(Rows, "row", "rows") << " affected\n"; }
  void OutParams(const std::vector<TColumn>& Names, const std::vector<TCell>& Values) override {
    size_t w = 0;
    for (auto& n : Names) w = std::max(w, DisplayWidth(n.Name));
    FData << "output parameters:\n";
    for (size_t i = 0; i < Names.size(); ++i)
      FData << "  " << Pad(Names[i].Name, w, false) << " = "
            << (i < Values.size() ? DisplayCell(Values[i], kDisplayWidth, FSettings.NullText) : "") << "\n";
  }
  bool Stopped() const override { return FOut->fail() || FData.fail(); }

 private:
  void Flush(bool Final) {
    FBuffering = false;
    const size_t n = FColumns.size();
    FWidths.assign(n, 0);
    size_t labels = 0;
    for (size_t i = 0; i < n; ++i) {
      labels = std::max(labels, DisplayWidth(FColumns[i].Name));
      if (FSettings.Headers) FWidths[i] = DisplayWidth(FColumns[i].Name);
    }
    for (auto& r : FPending)
      for (size_t i = 0; i < r.size(); ++i) FWidths[i] = std::max(FWidths[i], DisplayWidth(r[i]));
    size_t total = n ? 3 * (n - 1) : 0;
    for (size_t w : FWidths) total += w;
    FExpanded = FSettings.Expanded == TExpanded::exOn ||
                (FSettings.Expanded == TExpanded::exAuto && FSettings.TerminalWidth > 0 && total > FSettings.TerminalWidth);
    FLabelWidth = labels;
    size_t lines = (FExpanded ? FPending.size() * (n + 1) : FPending.size() + (FSettings.Headers ? 2 : 0)) + 1;
    if (FPager && FSettings.TerminalHeight > 0 && (!Final || lines >= FSettings.TerminalHeight)) {
      if (std::ostream* paged = FPager->Open()) FOut = paged;
    }
    if (!FExpanded && FSettings.Headers) {
      std::string head, rule;
      for (size_t i = 0; i < n; ++i) {
        if (i) {
          head += " | ";
          rule += "-+-";
        }
        head += Pad(FColumns[i].Name, FWidths[i], false);
        rule += std::string(FWidths[i], '-');
      }
      TrimRight(head);
      *FOut << head << "\n" << rule << "\n";
    }
    for (auto& r : FPending) PrintRow(r);
    FPending.clear();
  }
  void PrintRow(const std::vector<std::string>& Shown) {
    if (FExpanded) return PrintRecord(Shown);
    // A value wider than its column (possible only after the buffered rows) wraps inside it.
    std::vector<std::vector<std::string>> parts(Shown.size());
    size_t height = 1;
    for (size_t i = 0; i < Shown.size(); ++i) {
      if (DisplayWidth(Shown[i]) > FWidths[i]) parts[i] = WrapToWidth(Shown[i], FWidths[i]);
      else parts[i] = {Shown[i]};
      height = std::max(height, parts[i].size());
    }
    for (size_t l = 0; l < height; ++l) {
      std::string line;
      for (size_t i = 0; i < Shown.size(); ++i) {
        if (i) line += " | ";
        line += Pad(l < parts[i].size() ? parts[i][l] : std::string(), FWidths[i], FColumns[i].Numeric);
      }
      TrimRight(line);  // no trailing blanks
      *FOut << line << "\n";
    }
  }
  // Expanded: one "label | value" line per field under a line naming the record.
  void PrintRecord(const std::vector<std::string>& Shown) {
    size_t values = 0;
    for (auto& s : Shown) values = std::max(values, DisplayWidth(s));
    std::string title = "-[ RECORD " + std::to_string(++FRecord) + " ]";
    size_t width = FLabelWidth + 3 + values;
    if (FSettings.TerminalWidth > 0) width = std::min(width, FSettings.TerminalWidth);
    if (title.size() < width) title += std::string(width - title.size(), '-');
    *FOut << title << "\n";
    for (size_t i = 0; i < Shown.size(); ++i) {
      std::string line = Pad(FColumns[i].Name, FLabelWidth, false) + " | " + Shown[i];
      TrimRight(line);
      *FOut << line << "\n";
    }
  }

  TPager* FPager;
  std::ostream* FOut;  // the data stream, or the pager's while one shows this result
  std::vector<TColumn> FColumns;
  std::vector<std::vector<std::string>> FPending;  // display texts of the rows not yet printed
  std::vector<size_t> FWidths;                     // column widths, fixed when printing starts
  bool FBuffering = true;                          // rows are still being collected
  bool FExpanded = false;                          // this result prints one field per line
  size_t FLabelWidth = 0;                          // widest column name (expanded labels)
  int64_t FRecord = 0;                             // records printed in expanded form
};

class TCsvPrinter : public TPrinter {
 public:
  using TPrinter::TPrinter;
  void BeginResult(const std::vector<TColumn>& Columns) override {
    if (FResults++) FData << "\r\n";  // a blank line between the result sets of one call
    if (!FSettings.Headers) return;
    std::string line;
    for (size_t i = 0; i < Columns.size(); ++i) {
      if (i) line += ",";
      line += CsvField(TCell::Of(Columns[i].Name));
    }
    FData << line << "\r\n";
  }
  void Row(const std::vector<TCell>& Cells) override {
    std::string line;
    for (size_t i = 0; i < Cells.size(); ++i) {
      if (i) line += ",";
      line += CsvField(Cells[i]);
    }
    FData << line << "\r\n";
  }
  void EndResult(int64_t Rows) override {
    FData.flush();
    FNotes << "(" << Plural(Rows, "row", "rows") << ")\n";
  }
  void Affected(int64_t Rows) override { FNotes << Plural(Rows, "row", "rows") << " affected\n"; }
  void OutParams(const std::vector<TColumn>& Names, const std::vector<TCell>& Values) override {
    BeginResult(Names);
    Row(Values);
    FData.flush();
  }

 private:
  int FResults = 0;
};

class TJsonPrinter : public TPrinter {
 public:
  using TPrinter::TPrinter;
  void BeginResult(const std::vector<TColumn>& Columns) override {
    FColumns = Columns;
    FRows = 0;
    FData << "{\"columns\":[";
    for (size_t i = 0; i < Columns.size(); ++i) FData << (i ? "," : "") << JsonString(Columns[i].Name);
    FData << "],\"rows\":[";
  }
  void Row(const std::vector<TCell>& Cells) override {
    FData << (FRows++ ? "," : "") << "[";
    for (size_t i = 0; i < Cells.size(); ++i)
      FData << (i ? "," : "") << JsonValue(Cells[i], i < FColumns.size() && FColumns[i].Numeric);
    FData << "]";
  }
  void EndResult(int64_t Rows) override {
    FData << "],\"count\":" << Rows << "}\n";
    FData.flush();
  }
  void Affected(int64_t Rows) override { FData << "{\"affected\":" << Rows << "}\n"; }
  void OutParams(const std::vector<TColumn>& Names, const std::vector<TCell>& Values) override {
    FData << "{\"out\":{";
    for (size_t i = 0; i < Names.size(); ++i)
      FData << (i ? "," : "") << JsonString(Names[i].Name) << ":"
            << (i < Values.size() ? JsonValue(Values[i], Names[i].Numeric) : "null");
    FData << "}}\n";
  }

 private:
  std::vector<TColumn> FColumns;
  int64_t FRows = 0;
};

}  // namespace

bool ParseFormat(const std::string& Text, TFormat& Format) {
  if (Text == "table") Format = TFormat::fmTable;
  else if (Text == "csv") Format = TFormat::fmCsv;
  else if (Text == "json") Format = TFormat::fmJson;
  else return false;
  return true;
}

const char* FormatName(TFormat Format) {
  switch (Format) {
    case TFormat::fmCsv: return "csv";
    case TFormat::fmJson: return "json";
    case TFormat::fmTable: break;
  }
  return "table";
}

void TPrinter::Message(const std::string& Text) { FNotes << Text << "\n" << std::flush; }
void TPrinter::Error(int32_t Code, const std::string& Text, const std::string& Where) {
  FNotes.flush();
  FData.flush();
  // The session's text already carries the code ("Error -141: ..."); bare texts get it added,
  // except the tool's own (code 0), which have none to give.
  if (Code == 0 || Text.rfind("Error ", 0) == 0 || Text.rfind("Warning", 0) == 0)
    FErrors << Where << Text << "\n";
  else
    FErrors << Where << "Error " << Code << ": " << Text << "\n";
  FErrors.flush();
}
void TPrinter::Timing(double Seconds) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "time: %.3f s", Seconds);
  FNotes << buf << "\n";
}
void TPrinter::Info(const std::string& Text) { FNotes << Text << "\n" << std::flush; }
bool TPrinter::Stopped() const { return FData.fail(); }

std::unique_ptr<TPrinter> MakePrinter(const TPrintSettings& Settings, std::ostream& Data, std::ostream& Notes,
                                      std::ostream& Errors, TPager* Pager) {
  switch (Settings.Format) {
    case TFormat::fmCsv: return std::make_unique<TCsvPrinter>(Settings, Data, Notes, Errors);
    case TFormat::fmJson: return std::make_unique<TJsonPrinter>(Settings, Data, Notes, Errors);
    case TFormat::fmTable: break;
  }
  return std::make_unique<TTablePrinter>(Settings, Data, Notes, Errors, Pager);
}

std::unique_ptr<TPrinter> MakePrinter(TFormat Format, std::ostream& Data, std::ostream& Notes, std::ostream& Errors) {
  TPrintSettings settings;
  settings.Format = Format;
  return MakePrinter(settings, Data, Notes, Errors);
}

std::string DisplayCell(const TCell& Cell, size_t Width, const std::string& NullText) {
  if (Cell.Null) return NullText;
  std::string shown;
  const std::string& t = Cell.Text;
  shown.reserve(std::min(t.size(), Width * 2 + 8));
  size_t chars = 0;  // characters of the text seen, for its length when it is not given
  size_t i = 0;
  while (i < t.size()) {
    char32_t c;
    bool valid;
    size_t len = NextCharacter(t, i, c, valid);
    ++chars;
    char hex[8];
    if (c == '\n' && valid) shown += "\\n";
    else if (c == '\r' && valid) shown += "\\r";
    else if (c == '\t' && valid) shown += "\\t";
    else if (!valid || c < 0x20 || c == 0x7F) {
      std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned>(static_cast<unsigned char>(t[i])));
      shown += hex;
    } else shown.append(t, i, len);
    i += len;
    if (shown.size() > Width * 4 + 8) break;  // enough to decide the cut; never copy a huge value
  }
  // The full length in the unit shown: characters of a text, bytes of a binary value.
  int64_t full = Cell.Length;
  if (full < 0 && Cell.Binary) full = static_cast<int64_t>(t.size() > 2 ? (t.size() - 2) / 2 : 0);
  if (full < 0) {
    for (; i < t.size(); ++chars) {
      char32_t c;
      bool valid;
      i += NextCharacter(t, i, c, valid);
    }
    full = static_cast<int64_t>(chars);
  }
  bool cut = DisplayWidth(shown) > Width || (Cell.Length >= 0 && !Cell.Binary && Cell.Length > static_cast<int64_t>(t.size()));
  if (!cut) return shown;
  return CutToWidth(shown, Width) + "... (" + std::to_string(full) + (Cell.Binary ? " bytes)" : " chars)");
}

std::string CsvField(const TCell& Cell) {
  if (Cell.Null) return "";
  const std::string& t = Cell.Text;
  bool quote = t.empty() || t.find_first_of(",\"\r\n") != std::string::npos || t.front() == ' ' || t.back() == ' ';
  if (!quote) return t;
  std::string out = "\"";
  for (char c : t) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string JsonString(const std::string& Text) {
  std::string out = "\"";
  const size_t n = Text.size();
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(Text[i]);
    char buf[8];
    if (c == '"') out += "\\\"";
    else if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else if (c < 0x20) {
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      // Well-formed UTF-8 passes through; any other byte is taken as a Latin-1 character.
      char32_t cp;
      bool valid;
      size_t len = NextCharacter(Text, i, cp, valid);
      if (valid) {
        out.append(Text, i, len);
        i += len - 1;
      } else {
        std::snprintf(buf, sizeof buf, "\\u%04x", c);
        out += buf;
      }
    }
  }
  return out + "\"";
}

std::string JsonValue(const TCell& Cell, bool Numeric) {
  if (Cell.Null) return "null";
  if (Numeric && !Cell.Text.empty()) {
    // Only a plain JSON number goes unquoted (no "inf", "nan", leading "+" or ".5").
    const std::string& t = Cell.Text;
    size_t i = t[0] == '-' ? 1 : 0;
    bool ok = i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]));
    if (ok && t[i] == '0' && i + 1 < t.size() && std::isdigit(static_cast<unsigned char>(t[i + 1]))) ok = false;
    bool seenDot = false, seenExp = false;
    for (size_t k = i; ok && k < t.size(); ++k) {
      char c = t[k];
      if (std::isdigit(static_cast<unsigned char>(c))) continue;
      if (c == '.' && !seenDot && !seenExp && k + 1 < t.size() && std::isdigit(static_cast<unsigned char>(t[k + 1]))) {
        seenDot = true;
      } else if ((c == 'e' || c == 'E') && !seenExp && k + 1 < t.size()) {
        seenExp = true;
        if (t[k + 1] == '+' || t[k + 1] == '-') ++k;
        ok = k + 1 < t.size();
      } else {
        ok = false;
      }
    }
    if (ok) return t;
  }
  return JsonString(Cell.Text);
}

}  // namespace zylisql
