// The driver of the interactive SQL tool: input sources, built-in commands, error policy.
#include "tools/isql/IsqlShell.h"

#include <cctype>

#include "tools/isql/IsqlText.h"
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>

namespace zylisql {
namespace {

// Splits a command line into its first word (lower case) and the rest.
std::pair<std::string, std::string> SplitCommand(const std::string& Line) {
  std::string t = Trim(Line);
  size_t sp = 0;
  while (sp < t.size() && !std::isspace(static_cast<unsigned char>(t[sp]))) ++sp;
  std::string rest = Trim(t.substr(sp));
  while (!rest.empty() && rest.back() == ';') rest = Trim(rest.substr(0, rest.size() - 1));
  return {Lower(t.substr(0, sp)), rest};
}

}  // namespace

std::string SqlLiteral(const std::string& Text) {
  std::string out = "'";
  for (char c : Text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

std::string ListTablesSql() {
  return "SELECT u.user_name AS owner, t.table_name, t.table_type"
         " FROM sys.systable t JOIN sys.sysuserperms u ON u.user_id = t.creator"
         " WHERE u.user_name <> 'SYS'"
         " ORDER BY t.table_name";
}

std::string DescribeTableSql(const std::string& Table) {
  // An owner prefix (owner.table) narrows the search to that owner's table.
  std::string owner, name = Table;
  size_t dot = Table.find('.');
  if (dot != std::string::npos) {
    owner = Table.substr(0, dot);
    name = Table.substr(dot + 1);
  }
  std::string sql =
      "SELECT c.column_name, d.domain_name AS type, c.width, c.scale, c.nulls, c.pkey AS primary_key,"
      " c.\"default\""
      " FROM sys.syscolumn c JOIN sys.systable t ON t.table_id = c.table_id"
      " JOIN sys.sysdomain d ON d.domain_id = c.domain_id";
  if (!owner.empty()) sql += " JOIN sys.sysuserperms u ON u.user_id = t.creator";
  sql += " WHERE t.table_name = " + SqlLiteral(name);
  if (!owner.empty()) sql += " AND u.user_name = " + SqlLiteral(owner);
  return sql + " ORDER BY c.column_id";
}

bool ParseAssignments(const std::string& Text, std::vector<std::pair<std::string, std::string>>& Out,
                      std::string& Error) {
  Out.clear();
  size_t i = 0;
  const size_t n = Text.size();
  auto skip = [&] {
    while (i < n && std::isspace(static_cast<unsigned char>(Text[i]))) ++i;
  };
  while (true) {
    skip();
    if (i >= n) break;
    size_t eq = Text.find('=', i);
    if (eq == std::string::npos) {
      Error = "expected column = value";
      return false;
    }
    std::string col = Trim(Text.substr(i, eq - i));
    if (col.empty()) {
      Error = "a column name is missing before '='";
      return false;
    }
    i = eq + 1;
    skip();
    std::string value;
    if (i < n && Text[i] == '\'') {
      ++i;
      bool closed = false;
      while (i < n) {
        if (Text[i] == '\'') {
          if (i + 1 < n && Text[i + 1] == '\'') {
            value += '\'';
            i += 2;
            continue;
          }
          ++i;
          closed = true;
          break;
        }
        value += Text[i++];
      }
      if (!closed) {
        Error = "the text for " + col + " has no closing quote";
        return false;
      }
      value = "'" + value;  // marks a quoted text (a bare NULL and the text 'NULL' differ)
      skip();
    } else {
      size_t comma = Text.find(',', i);
      value = Trim(Text.substr(i, comma == std::string::npos ? std::string::npos : comma - i));
      i = comma == std::string::npos ? n : comma;
      if (value.empty()) {
        Error = "a value is missing for " + col;
        return false;
      }
    }
    Out.emplace_back(col, value);
    if (i < n) {
      if (Text[i] != ',') {
        Error = "expected ',' after the value of " + col;
        return false;
      }
      ++i;
    }
  }
  if (Out.empty()) {
    Error = "nothing to update (column = value, ...)";
    return false;
  }
  return true;
}

std::string ProgressBar(const std::string& File, int32_t Page, int32_t Pages, int Width) {
  if (Width < 1) Width = 1;
  double frac = Pages > 0 ? static_cast<double>(Page) / Pages : 1.0;
  if (frac < 0) frac = 0;
  if (frac > 1) frac = 1;
  int marks = static_cast<int>(frac * Width + 0.5);
  std::string bar = "[" + std::string(static_cast<size_t>(marks), '#') + std::string(static_cast<size_t>(Width - marks), '.') + "]";
  char pct[16];
  std::snprintf(pct, sizeof pct, "%3d%%", static_cast<int>(frac * 100 + 0.5));
  return bar + " " + pct + "  " + File + "  " + std::to_string(Page) + "/" + std::to_string(Pages) + " pages";
}

TShell::TShell(TDatabase& Db, const TOptions& Options, std::ostream& Out, std::ostream& Err)
    : FDb(Db), FOptions(Options), FOut(Out), FErr(Err) {
  // Tables share the data stream with their notes so that everything reads in order; CSV and
  // JSON keep the data stream for data alone.
  std::ostream& notes = Options.Format == TFormat::fmTable ? Out : Err;
  FPrinter = MakePrinter(Options.Format, Out, notes, Err);
  FStop = Options.StopOnError();
  FDb.SetMessageSink([this](const std::string& Text) { FPrinter->Message(Text); });
}

TShell::~TShell() { FDb.SetMessageSink(nullptr); }

bool TShell::Failed() {
  ++FErrors;
  FPrinter->Error(FDb.ErrorCode(), FDb.ErrorText());
  return !FStop;
}

bool TShell::RunPiece(const TPiece& Piece) {
  if (FOptions.Echo) {
    std::string shown = Piece.Kind == TPiece::pkCommand ? "." + Piece.Text : Piece.Text + ";";
    std::string indented;
    for (char c : shown) indented += c == '\n' ? std::string("\n   -> ") : std::string(1, c);
    FOut << "\nisql> " << indented << "\n";
  }
  if (Piece.Kind == TPiece::pkCommand) return Command(Piece.Text);
  auto t0 = std::chrono::steady_clock::now();
  bool ok = FDb.Run(Piece.Text, *FPrinter);
  if (FOptions.Timing)
    FPrinter->Timing(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  return ok || Failed();
}

bool TShell::RunText(const std::string& Text) {
  for (const TPiece& p : TStatementSplitter::SplitText(Text))
    if (!RunPiece(p) || FQuit) return false;
  return true;
}

bool TShell::RunStream(std::istream& In, bool Interactive) {
  TStatementSplitter splitter;
  std::string line;
  while (true) {
    if (Interactive && !FOptions.Quiet) {
      FOut << (splitter.Pending() ? "   -> " : "isql> ") << std::flush;
    }
    if (!std::getline(In, line)) break;
    for (const TPiece& p : splitter.AddLine(line))
      if (!RunPiece(p) || FQuit) return false;
  }
  if (Interactive && !FOptions.Quiet) FOut << "\n";
  for (const TPiece& p : splitter.Finish())
    if (!RunPiece(p) || FQuit) return false;
  return true;
}

int TShell::RunAll(std::istream& StdIn, bool StdInIsTerminal) {
  if (FOptions.Sources.empty()) {
    RunStream(StdIn, StdInIsTerminal);
    return ExitStatus();
  }
  for (const TSource& s : FOptions.Sources) {
    bool go = true;
    if (s.Kind == TSource::skText) {
      go = RunText(s.Value);
    } else if (s.Value == "-") {
      go = RunStream(StdIn, false);
    } else {
      std::ifstream f(s.Value, std::ios::binary);
      if (!f) {
        ++FErrors;
        FPrinter->Error(0, "cannot open file '" + s.Value + "'");
        go = !FStop;
      } else {
        go = RunStream(f, false);
      }
    }
    if (!go) break;
  }
  return ExitStatus();
}

void TShell::Help() {
  FOut << "Statements end with ';' or with a line holding only 'go'. Built-in commands:\n"
          "  .tables                  list the tables and views\n"
          "  .describe TABLE          the columns of a table, from the catalog\n"
          "  .explain QUERY           the access plan of a query\n"
          "  .backup DIRECTORY        back the database up into a directory\n"
          "  .open QUERY              open a scrolling cursor for update and show its first row\n"
          "  .next  .prior  .first  .last  .goto N  .current\n"
          "                           move the cursor and show the row it stands on\n"
          "  .update COL = VALUE, ... change the current row ('text', NULL or a number)\n"
          "  .delete                  delete the current row\n"
          "  .close                   close the cursor\n"
          "  .timing on|off           show the time each statement took\n"
          "  .help                    this text\n"
          "  .quit                    leave\n";
}

bool TShell::Command(const std::string& Line) {
  auto [cmd, arg] = SplitCommand(Line);
  auto usage = [&](const std::string& text) {
    ++FErrors;
    FPrinter->Error(0, text);
    return !FStop;
  };
  if (cmd == "quit" || cmd == "exit" || cmd == "q") {
    FQuit = true;
    return false;
  }
  if (cmd == "help" || cmd == "?") {
    Help();
    return true;
  }
  if (cmd == "timing") {
    std::string v = Lower(arg);
    if (v == "on") FOptions.Timing = true;
    else if (v == "off") FOptions.Timing = false;
    else return usage("usage: .timing on|off");
    return true;
  }
  if (cmd == "tables") return FDb.Run(ListTablesSql(), *FPrinter) || Failed();
  if (cmd == "describe" || cmd == "desc") {
    if (arg.empty()) return usage("usage: .describe TABLE");
    return FDb.Run(DescribeTableSql(arg), *FPrinter) || Failed();
  }
  if (cmd == "explain") {
    if (arg.empty()) return usage("usage: .explain QUERY");
    std::string plan;
    if (!FDb.Explain(arg, plan)) return Failed();
    std::string shown;
    for (char c : plan) shown += c == '\n' ? std::string("\n      ") : std::string(1, c);
    FPrinter->Info("plan: " + shown);
    return true;
  }
  if (cmd == "backup") {
    if (arg.empty()) return usage("usage: .backup DIRECTORY");
    std::string lastFile;
    bool drawn = false;
    // On a terminal the bar is redrawn in place; otherwise one finished bar per file is printed.
    bool terminal = FOptions.ProgressOnTerminal;
    auto progress = [&](const std::string& File, int32_t Page, int32_t Pages) {
      if (terminal) {
        FErr << "\r" << ProgressBar(File, Page, Pages) << std::flush;
        drawn = true;
        if (Page >= Pages) {
          FErr << "\n";
          drawn = false;
        }
      } else if (Page >= Pages) {
        FPrinter->Info(ProgressBar(File, Page, Pages));
      }
      lastFile = File;
    };
    bool ok = FDb.Backup(arg, progress);
    if (drawn) FErr << "\n";
    if (!ok) return Failed();
    FPrinter->Info("backup written to " + arg);
    return true;
  }
  if (cmd == "open") {
    if (arg.empty()) return usage("usage: .open QUERY");
    return FDb.CursorOpen(arg, *FPrinter) || Failed();
  }
  TMove move;
  int32_t row = 0;
  bool isMove = true;
  if (cmd == "next") move = TMove::mvNext;
  else if (cmd == "prior" || cmd == "prev") move = TMove::mvPrior;
  else if (cmd == "first") move = TMove::mvFirst;
  else if (cmd == "last") move = TMove::mvLast;
  else if (cmd == "current") move = TMove::mvCurrent;
  else if (cmd == "goto") {
    move = TMove::mvAbsolute;
    char* end = nullptr;
    long n = std::strtol(arg.c_str(), &end, 10);
    if (arg.empty() || *end || n < 1 || n > 2147483647L) return usage("usage: .goto N (N from 1)");
    row = static_cast<int32_t>(n - 1);
  } else isMove = false;
  if (isMove) return FDb.CursorMove(move, row, *FPrinter) || Failed();
  if (cmd == "update") {
    std::vector<std::pair<std::string, std::string>> values;
    std::string error;
    if (!ParseAssignments(arg, values, error)) return usage(".update: " + error);
    return FDb.CursorUpdate(values, *FPrinter) || Failed();
  }
  if (cmd == "delete") return FDb.CursorDelete(*FPrinter) || Failed();
  if (cmd == "close") return FDb.CursorClose() || Failed();
  return usage("unknown command '." + cmd + "' (.help lists them)");
}

}  // namespace zylisql
