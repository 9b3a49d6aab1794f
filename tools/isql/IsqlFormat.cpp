// The three printers of the interactive SQL tool.
#include "tools/isql/IsqlFormat.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ostream>

namespace zylisql {

const char* const kNullMarker = "(NULL)";

namespace {

// Characters on the terminal: UTF-8 continuation bytes take no column.
size_t Columns(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

// The longest prefix of s with at most Width columns that does not split a character.
std::string CutColumns(const std::string& s, size_t Width) {
  size_t cols = 0, i = 0;
  while (i < s.size()) {
    size_t len = 1;
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0xC0) {
      while (i + len < s.size() && (static_cast<unsigned char>(s[i + len]) & 0xC0) == 0x80) ++len;
    }
    if (cols + 1 > Width) break;
    ++cols;
    i += len;
  }
  return s.substr(0, i);
}

// Length of the well-formed UTF-8 sequence at Text[i] (no overlong forms, no surrogates,
// nothing above U+10FFFF), or 0 when the bytes there are not one.
size_t Utf8SequenceLength(const std::string& Text, size_t i) {
  const unsigned char c = static_cast<unsigned char>(Text[i]);
  size_t len = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
  if (len == 0 || i + len > Text.size()) return 0;
  const unsigned char second = static_cast<unsigned char>(Text[i + 1]);
  unsigned char lo = 0x80, hi = 0xBF;
  if (c == 0xE0) lo = 0xA0;
  else if (c == 0xED) hi = 0x9F;
  else if (c == 0xF0) lo = 0x90;
  else if (c == 0xF4) hi = 0x8F;
  if (second < lo || second > hi) return 0;
  for (size_t k = 2; k < len; ++k)
    if ((static_cast<unsigned char>(Text[i + k]) & 0xC0) != 0x80) return 0;
  return len;
}

std::string Pad(const std::string& s, size_t Width, bool Right) {
  size_t c = Columns(s);
  if (c >= Width) return s;
  std::string fill(Width - c, ' ');
  return Right ? fill + s : s + fill;
}

std::string Plural(int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

class TTablePrinter : public TPrinter {
 public:
  using TPrinter::TPrinter;

  void BeginResult(const std::vector<TColumn>& Columns) override {
    FColumns = Columns;
    FPending.clear();
    FWidths.clear();
  }
  void Row(const std::vector<TCell>& Cells) override {
    std::vector<std::string> shown;
    shown.reserve(FColumns.size());
    for (size_t i = 0; i < FColumns.size(); ++i) shown.push_back(i < Cells.size() ? DisplayCell(Cells[i]) : "");
    if (FWidths.empty()) {
      FPending.push_back(std::move(shown));
      // Widths come from the first page; a longer value further down only widens its own row.
      if (FPending.size() >= kPage) FlushPage();
    } else {
      PrintRow(shown);
    }
  }
  void EndResult(int64_t Rows) override {
    if (FWidths.empty()) FlushPage();
    FData << "(" << Plural(Rows, "row", "rows") << ")\n";
    FData.flush();
  }
  void Affected(int64_t Rows) override { FData << Plural(Rows, "row", "rows") << " affected\n"; }
  void OutParams(const std::vector<TColumn>& Names, const std::vector<TCell>& Values) override {
    size_t w = 0;
    for (auto& n : Names) w = std::max(w, Columns(n.Name));
    FData << "output parameters:\n";
    for (size_t i = 0; i < Names.size(); ++i)
      FData << "  " << Pad(Names[i].Name, w, false) << " = " << (i < Values.size() ? DisplayCell(Values[i]) : "")
            << "\n";
  }

 private:
  static constexpr size_t kPage = 1000;

  void FlushPage() {
    FWidths.assign(FColumns.size(), 0);
    for (size_t i = 0; i < FColumns.size(); ++i) FWidths[i] = Columns(FColumns[i].Name);
    for (auto& r : FPending)
      for (size_t i = 0; i < r.size(); ++i) FWidths[i] = std::max(FWidths[i], Columns(r[i]));
    std::string head, rule;
    for (size_t i = 0; i < FColumns.size(); ++i) {
      if (i) {
        head += " | ";
        rule += "-+-";
      }
      head += Pad(FColumns[i].Name, FWidths[i], false);
      rule += std::string(FWidths[i], '-');
    }
    while (!head.empty() && head.back() == ' ') head.pop_back();
    FData << head << "\n" << rule << "\n";
    for (auto& r : FPending) PrintRow(r);
    FPending.clear();
  }
  void PrintRow(const std::vector<std::string>& Shown) {
    std::string line;
    for (size_t i = 0; i < Shown.size(); ++i) {
      if (i) line += " | ";
      bool last = i + 1 == Shown.size();
      std::string cell = Pad(Shown[i], FWidths[i], FColumns[i].Numeric);
      if (last && !FColumns[i].Numeric) {
        while (!cell.empty() && cell.back() == ' ') cell.pop_back();  // no trailing blanks
      }
      line += cell;
    }
    FData << line << "\n";
  }

  std::vector<TColumn> FColumns;
  std::vector<std::vector<std::string>> FPending;
  std::vector<size_t> FWidths;
};

class TCsvPrinter : public TPrinter {
 public:
  using TPrinter::TPrinter;
  void BeginResult(const std::vector<TColumn>& Columns) override {
    if (FResults++) FData << "\r\n";  // a blank line between the result sets of one call
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

void TPrinter::Message(const std::string& Text) { FNotes << Text << "\n" << std::flush; }
void TPrinter::Error(int32_t Code, const std::string& Text) {
  FNotes.flush();
  FData.flush();
  // The session's text already carries the code ("Error -141: ..."); bare texts get it added.
  if (Text.rfind("Error ", 0) == 0 || Text.rfind("Warning", 0) == 0)
    FErrors << Text << "\n";
  else
    FErrors << "Error " << Code << ": " << Text << "\n";
}
void TPrinter::Timing(double Seconds) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "time: %.3f s", Seconds);
  FNotes << buf << "\n";
}
void TPrinter::Info(const std::string& Text) { FNotes << Text << "\n" << std::flush; }

std::unique_ptr<TPrinter> MakePrinter(TFormat Format, std::ostream& Data, std::ostream& Notes,
                                      std::ostream& Errors) {
  switch (Format) {
    case TFormat::fmCsv: return std::make_unique<TCsvPrinter>(Data, Notes, Errors);
    case TFormat::fmJson: return std::make_unique<TJsonPrinter>(Data, Notes, Errors);
    case TFormat::fmTable: break;
  }
  return std::make_unique<TTablePrinter>(Data, Notes, Errors);
}

std::string DisplayCell(const TCell& Cell, size_t Width) {
  if (Cell.Null) return kNullMarker;
  std::string shown;
  shown.reserve(std::min(Cell.Text.size(), Width * 2 + 8));
  for (char c : Cell.Text) {
    if (c == '\n') shown += "\\n";
    else if (c == '\r') shown += "\\r";
    else if (c == '\t') shown += "\\t";
    else if (static_cast<unsigned char>(c) < 0x20) shown += '?';
    else shown += c;
    if (shown.size() > Width * 4 + 8) break;  // enough to decide the cut; never copy a huge value
  }
  // The full length in the unit shown: characters of a text, bytes of a binary value.
  int64_t full = Cell.Length >= 0 ? Cell.Length : static_cast<int64_t>(Columns(Cell.Text));
  if (Cell.Binary && Cell.Length < 0) full = static_cast<int64_t>(Cell.Text.size() > 2 ? (Cell.Text.size() - 2) / 2 : 0);
  bool cut = Columns(shown) > Width || (Cell.Length >= 0 && !Cell.Binary && Cell.Length > static_cast<int64_t>(Cell.Text.size()));
  if (!cut) return shown;
  return CutColumns(shown, Width) + "... (" + std::to_string(full) + (Cell.Binary ? " bytes)" : " chars)");
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
      size_t len = Utf8SequenceLength(Text, i);
      if (len > 0) {
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
