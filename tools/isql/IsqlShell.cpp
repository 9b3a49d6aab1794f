// The driver of the interactive SQL tool: input sources, the user's transaction, display
// settings, error policy. The built-in commands are in IsqlCommands.cpp, completion in
// IsqlComplete.cpp.
#include "tools/isql/IsqlShell.h"

#include <sys/stat.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "tools/isql/IsqlText.h"

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

// The words of a statement, upper case, up to Max.
std::vector<std::string> LeadingWords(const std::string& Sql, size_t Max) {
  std::vector<std::string> words;
  size_t i = 0;
  while (words.size() < Max) {
    while (i < Sql.size() && std::isspace(static_cast<unsigned char>(Sql[i]))) ++i;
    size_t b = i;
    while (i < Sql.size() && (std::isalnum(static_cast<unsigned char>(Sql[i])) || Sql[i] == '_')) ++i;
    if (b == i) {
      if (i < Sql.size()) words.push_back(std::string(1, Sql[i]));  // punctuation ends the words
      break;
    }
    words.push_back(Upper(Sql.substr(b, i - b)));
  }
  return words;
}

// Statements after which the catalog's names may have changed.
bool IsDefinition(const std::string& Sql) {
  std::string k = LeadingKeyword(Sql);
  return k == "CREATE" || k == "ALTER" || k == "DROP";
}

// An owner.name into its parts (owner empty when not given).
std::pair<std::string, std::string> OwnerAndName(const std::string& Name) {
  size_t dot = Name.find('.');
  if (dot == std::string::npos) return {std::string(), Name};
  return {Name.substr(0, dot), Name.substr(dot + 1)};
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

std::string LikePattern(const std::string& Pattern) {
  std::string out;
  for (char c : Lower(Pattern)) out += c == '*' ? '%' : c == '?' ? '_' : c;
  return out;
}

std::string ListTablesSql(const std::string& Pattern) {
  std::string sql =
      "SELECT u.user_name AS owner, t.table_name, t.table_type"
      " FROM sys.systable t JOIN sys.sysuserperms u ON u.user_id = t.creator"
      " WHERE u.user_name <> 'SYS'";
  if (!Pattern.empty()) sql += " AND lower(t.table_name) LIKE " + SqlLiteral(LikePattern(Pattern));
  return sql + " ORDER BY t.table_name";
}

std::string ListProceduresSql(const std::string& Pattern) {
  std::string sql =
      "SELECT u.user_name AS owner, p.proc_name,"
      " (SELECT count(*) FROM sys.sysprocparm pp WHERE pp.proc_id = p.proc_id AND pp.parm_type = 0) AS parameters"
      " FROM sys.sysprocedure p JOIN sys.sysuserperms u ON u.user_id = p.creator";
  if (!Pattern.empty()) sql += " WHERE lower(p.proc_name) LIKE " + SqlLiteral(LikePattern(Pattern));
  return sql + " ORDER BY p.proc_name";
}

std::string FindTableSql(const std::string& Table) {
  auto [owner, name] = OwnerAndName(Table);
  std::string sql =
      "SELECT t.table_id, u.user_name, t.table_name, t.table_type"
      " FROM sys.systable t JOIN sys.sysuserperms u ON u.user_id = t.creator"
      " WHERE lower(t.table_name) = " + SqlLiteral(Lower(name));
  if (!owner.empty()) sql += " AND lower(u.user_name) = " + SqlLiteral(Lower(owner));
  return sql + " ORDER BY t.table_id";
}

std::string DescribeTableSql(const std::string& TableId) {
  return "SELECT c.column_name, d.domain_name AS type, c.width, c.scale, c.nulls, c.pkey AS primary_key,"
         " c.\"default\""
         " FROM sys.syscolumn c JOIN sys.sysdomain d ON d.domain_id = c.domain_id"
         " WHERE c.table_id = " + TableId + " ORDER BY c.column_id";
}

std::string IndexesSql(const std::string& TableId) {
  return "SELECT i.index_name, i.\"unique\", c.column_name, x.\"order\""
         " FROM sys.sysindex i JOIN sys.sysixcol x ON x.table_id = i.table_id AND x.index_id = i.index_id"
         " JOIN sys.syscolumn c ON c.table_id = x.table_id AND c.column_id = x.column_id"
         " WHERE i.table_id = " + TableId + " ORDER BY i.index_name, x.sequence";
}

std::string ForeignKeysSql(const std::string& TableId) {
  return "SELECT f.foreign_key_id, f.role, c.column_name, p.table_name, pc.column_name"
         " FROM sys.sysforeignkey f"
         " JOIN sys.sysfkcol k ON k.foreign_table_id = f.foreign_table_id AND k.foreign_key_id = f.foreign_key_id"
         " JOIN sys.syscolumn c ON c.table_id = f.foreign_table_id AND c.column_id = k.foreign_column_id"
         " JOIN sys.systable p ON p.table_id = f.primary_table_id"
         " JOIN sys.syscolumn pc ON pc.table_id = f.primary_table_id AND pc.column_id = k.primary_column_id"
         " WHERE f.foreign_table_id = " + TableId + " ORDER BY f.foreign_key_id, k.foreign_column_id";
}

bool IsTransactionStatement(const std::string& Sql, TTxnOp& Op) {
  std::vector<std::string> w = LeadingWords(Sql, 4);
  if (w.empty()) return false;
  auto optional = [&](size_t From) {
    // [WORK | TRAN [name] | TRANSACTION [name]] and nothing else
    if (w.size() <= From) return true;
    if (w[From] == "WORK") return w.size() == From + 1;
    if (w[From] == "TRAN" || w[From] == "TRANSACTION") return w.size() <= From + 2;
    return false;
  };
  if (w[0] == "BEGIN" && optional(1)) Op = TTxnOp::toBegin;
  else if (w[0] == "COMMIT" && optional(1)) Op = TTxnOp::toCommit;
  else if (w[0] == "ROLLBACK" && optional(1)) Op = TTxnOp::toRollback;
  else return false;
  // A name after TRAN may not be followed by more (LeadingWords stops at punctuation).
  return Trim(Sql).find_first_of(";()") == std::string::npos;
}

std::vector<std::string> SplitArguments(const std::string& Text) {
  std::vector<std::string> out;
  size_t i = 0;
  const size_t n = Text.size();
  while (true) {
    while (i < n && std::isspace(static_cast<unsigned char>(Text[i]))) ++i;
    if (i >= n) break;
    std::string word;
    if (Text[i] == '\'' || Text[i] == '"') {
      char q = Text[i++];
      while (i < n) {
        if (Text[i] == q) {
          if (i + 1 < n && Text[i + 1] == q) {
            word += q;
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        word += Text[i++];
      }
    } else {
      while (i < n && !std::isspace(static_cast<unsigned char>(Text[i]))) word += Text[i++];
    }
    out.push_back(word);
  }
  return out;
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
    Error = "nothing given (column = value, ...)";
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
    : FDb(Db), FOptions(Options), FOut(Out), FErr(Err), FCommands(BuiltinCommands()) {
  FSettings.Format = Options.Format;
  FStop = Options.StopOnError();
  FDb.SetMessageSink([this](const std::string& Text) { Printer().Message(Text); });
}

TShell::~TShell() { FDb.SetMessageSink(nullptr); }

TPrinter& TShell::Printer() {
  if (!FPrinter) {
    // Tables share the data stream with their notes so that everything reads in order; CSV and
    // JSON keep the data stream for data alone.
    std::ostream& data = FOutFile ? static_cast<std::ostream&>(*FOutFile) : FOut;
    std::ostream& notes = FSettings.Format == TFormat::fmTable ? data : FErr;
    TPrintSettings s = FSettings;
    s.TerminalWidth = s.TerminalHeight = 0;
    bool terminal = !FOutFile && FTerminalSize && FTerminalSize(s.TerminalWidth, s.TerminalHeight);
    FPrinter = MakePrinter(s, data, notes, FErr, terminal && FPagerOn ? FPager : nullptr);
  }
  return *FPrinter;
}

void TShell::SetInterrupts(std::function<bool()> Pending, std::function<void()> Clear,
                           std::function<bool()> Terminated) {
  FInterruptPending = std::move(Pending);
  FInterruptClear = std::move(Clear);
  FTerminated = std::move(Terminated);
}

void TShell::SetTerminal(std::function<bool(size_t&, size_t&)> Size, TPager* Pager) {
  FTerminalSize = std::move(Size);
  FPager = Pager;
  FPrinter.reset();
}

void TShell::SetIdleHandler(std::function<void()> Handler) { FIdle = std::move(Handler); }

void TShell::PostNotice(const std::string& Text) {
  std::lock_guard<std::mutex> lock(FNoticeMutex);
  FNotices.push_back(Text);
  if (FInput) FInput->Wake();
}

void TShell::ShowNotices() {
  std::vector<std::string> notices;
  {
    std::lock_guard<std::mutex> lock(FNoticeMutex);
    notices.swap(FNotices);
  }
  for (const std::string& n : notices) Printer().Info(n);
}

void TShell::AddCommand(TCommand Command) {
  for (TCommand& c : FCommands)
    if (c.Name == Command.Name) {
      c = std::move(Command);
      return;
    }
  FCommands.push_back(std::move(Command));
}

const TCommand* TShell::FindCommand(const std::string& Name) const {
  std::string n = Lower(Name);
  for (const TCommand& c : FCommands) {
    if (c.Name == n) return &c;
    for (const std::string& a : c.Aliases)
      if (a == n) return &c;
  }
  return nullptr;
}

bool TShell::CommandError(const std::string& Text) {
  ++FErrors;
  std::string where = FSource.empty() ? std::string() : FSource + ":" + std::to_string(FPieceLine) + ": ";
  Printer().Error(0, Text, where);
  if (FStop) FStoppedByError = true;
  return !FStop;
}

bool TShell::Failed() {
  ++FErrors;
  std::string where = FSource.empty() ? std::string() : FSource + ":" + std::to_string(FPieceLine) + ": ";
  Printer().Error(FDb.ErrorCode(), FDb.ErrorText(), where);
  if (FStop) FStoppedByError = true;
  return !FStop;
}

int TShell::ExitStatus() const {
  if (FInterrupted) return 130;
  if (FExitFailed) return 1;
  // At a terminal the person saw each error as it came; the session itself went well.
  if (FTopInteractive) return 0;
  return FErrors > 0 ? 1 : 0;
}

std::string TShell::Prompt() const {
  if (FSplitter && FSplitter->Pending()) return "   -> ";
  return FDb.Uncommitted() ? "isql*> " : "isql> ";
}

bool TShell::AfterStatement() {
  bool stop = false;
  if (FTerminated && FTerminated()) stop = true;
  if (FInterruptPending && FInterruptPending()) {
    if (FInterruptClear) FInterruptClear();
    // At the prompt only the statement is cancelled; a script, or a file read from the
    // prompt, ends.
    if (!FTopInteractive || FReadDepth > 0) stop = true;
  }
  if (stop) FInterrupted = true;
  return !stop;
}

bool TShell::RunPiece(const TPiece& Piece) {
  FPieceLine = Piece.Line;
  if (FOptions.Echo) {
    std::string shown = Piece.Kind == TPiece::pkCommand ? "." + Piece.Text : Piece.Text + ";";
    std::string indented;
    for (char c : shown) indented += c == '\n' ? std::string("\n   -> ") : std::string(1, c);
    FOut << "\nisql> " << indented << "\n";
  }
  bool go = Piece.Kind == TPiece::pkCommand ? Command(Piece.Text) : RunSql(Piece.Text);
  if (!AfterStatement()) return false;
  ShowNotices();
  return go;
}

bool TShell::RunSql(const std::string& Sql) {
  TTxnOp op;
  if (IsTransactionStatement(Sql, op)) return RunTransaction(op);
  if (FTerminalSize) FPrinter.reset();  // the terminal may have changed its size
  auto t0 = std::chrono::steady_clock::now();
  bool ok = FDb.Run(Sql, Printer());
  // The terminal echoed ^C where the cursor stood; the error starts on a line of its own.
  if (!ok && FTopInteractive && FInterruptPending && FInterruptPending()) FErr << "\n";
  if (FOptions.Timing)
    Printer().Timing(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  if (ok && IsDefinition(Sql)) ForgetCatalogNames();
  return ok || Failed();
}

bool TShell::RunTransaction(TTxnOp Op) {
  if (Op == TTxnOp::toBegin && FDb.Uncommitted()) {
    // The work so far is neither committed nor lost behind the user's back.
    Printer().Info("a transaction with uncommitted changes is open; it goes on until COMMIT or ROLLBACK");
    return true;
  }
  if (!FDb.Transaction(Op)) return Failed();
  Printer().Info(Op == TTxnOp::toBegin ? "transaction started" : Op == TTxnOp::toCommit ? "committed" : "rolled back");
  return true;
}

void TShell::Finish() {
  if (!FDb.Uncommitted()) return;
  bool rollback = FOptions.RollbackOnExit || FStoppedByError || FInterrupted;
  if (rollback) {
    if (FDb.Transaction(TTxnOp::toRollback)) {
      FErr << "zylo-isql: uncommitted changes rolled back\n";
    } else {
      FExitFailed = true;
      Failed();
    }
    return;
  }
  if (!FDb.Transaction(TTxnOp::toCommit)) {
    FExitFailed = true;
    FStop = false;
    Failed();
    FErr << "zylo-isql: uncommitted changes could not be committed and are lost\n";
    FDb.Transaction(TTxnOp::toRollback);
    return;
  }
  if (FTopInteractive && !FOptions.Quiet) Printer().Info("uncommitted changes committed");
}

bool TShell::RunText(const std::string& Text, const std::string& Name) {
  std::istringstream in(Text);
  return RunStream(in, Name);
}

bool TShell::RunStream(std::istream& In, const std::string& Name) {
  TStreamInput input(In, nullptr);
  return RunInput(input, Name);
}

bool TShell::RunInput(TLineInput& Input, const std::string& Name) {
  TStatementSplitter splitter;
  TStatementSplitter* outerSplitter = FSplitter;
  TLineInput* outerInput;
  std::string outerSource = FSource, outerEntry = FEntry;
  FEntry.clear();
  int outerLine = FPieceLine;
  {
    std::lock_guard<std::mutex> lock(FNoticeMutex);
    outerInput = FInput;
    FInput = &Input;
  }
  FSplitter = &splitter;
  FSource = Name;
  const bool interactive = Input.Interactive();
  if (interactive) Input.SetIdle([this] {
      if (FIdle) FIdle();
      std::vector<std::string> notices;
      {
        std::lock_guard<std::mutex> lock(FNoticeMutex);
        notices.swap(FNotices);
      }
      for (const std::string& n : notices) FInput->ShowAbovePrompt(n + "\n");
    }, FIdle != nullptr);

  bool go = true, ended = false;
  std::string& entry = FEntry;  // the lines of the entry being typed, for the history
  while (go) {
    ShowNotices();
    if (FTerminated && FTerminated()) {
      FInterrupted = true;
      go = false;
      break;
    }
    std::string text;
    TReadResult r = Input.ReadLine(interactive && !FOptions.Quiet ? Prompt() : std::string(), text);
    if (r == TReadResult::rrInterrupted) {
      if (FInterruptClear) FInterruptClear();
      splitter = TStatementSplitter();
      entry.clear();
      continue;
    }
    if (r == TReadResult::rrEnd) {
      // A signal ends the reading too; the run then ends as after an interrupt.
      if (FTerminated && FTerminated()) FInterrupted = true;
      ended = true;
      break;
    }
    // A recalled entry of several lines comes back as one text with its line ends.
    std::vector<TPiece> pieces;
    size_t start = 0;
    while (true) {
      size_t nl = text.find('\n', start);
      for (TPiece& p : splitter.AddLine(text.substr(start, nl == std::string::npos ? nl : nl - start)))
        pieces.push_back(std::move(p));
      if (nl == std::string::npos) break;
      start = nl + 1;
    }
    entry += (entry.empty() ? "" : "\n") + text;
    if (!splitter.Pending()) {
      if (!Trim(entry).empty()) Input.AddHistory(entry);
      entry.clear();
    }
    for (const TPiece& p : pieces)
      if (!RunPiece(p) || FQuit) {
        go = false;
        break;
      }
  }
  if (ended && interactive && !FOptions.Quiet) FOut << "\n";
  if (go) {
    for (const TPiece& p : splitter.Finish())
      if (!RunPiece(p) || FQuit) {
        go = false;
        break;
      }
  }
  if (interactive) Input.SetIdle(nullptr, false);
  FSplitter = outerSplitter;
  FSource = outerSource;
  FEntry = outerEntry;
  FPieceLine = outerLine;
  {
    std::lock_guard<std::mutex> lock(FNoticeMutex);
    FInput = outerInput;
  }
  return go;
}

bool TShell::ReadFile(const std::string& Path) {
  struct stat st;
  if (stat(Path.c_str(), &st) != 0) return CommandError("cannot read '" + Path + "': " + std::strerror(errno));
  if (S_ISDIR(st.st_mode)) return CommandError("cannot read '" + Path + "': it is a directory");
  std::ifstream f(Path, std::ios::binary);
  if (!f) return CommandError("cannot read '" + Path + "': " + std::strerror(errno));
  if (FReadDepth >= 16) return CommandError("cannot read '" + Path + "': files read each other 16 deep");
  ++FReadDepth;
  bool go = RunStream(f, Path);
  --FReadDepth;
  if (!go && !FQuit && FTopInteractive && FReadDepth == 0) {
    // The file ended early; the session at the prompt goes on.
    FInterrupted = false;
    FStoppedByError = false;
    return true;
  }
  return go;
}

bool TShell::RedirectOutput(const std::string& Path, std::string& Error) {
  FPrinter.reset();
  if (Path.empty()) {
    FOutFile.reset();
    return true;
  }
  auto f = std::make_unique<std::ofstream>(Path, std::ios::binary | std::ios::trunc);
  if (!*f) {
    Error = "cannot write '" + Path + "': " + std::strerror(errno);
    return false;
  }
  FOutFile = std::move(f);
  return true;
}

int TShell::RunAll(TLineInput& StdIn) {
  FTopInteractive = FOptions.Sources.empty() && StdIn.Interactive();
  if (FOptions.Sources.empty()) {
    RunInput(StdIn, std::string());
  } else {
    for (const TSource& s : FOptions.Sources) {
      bool go = true;
      if (s.Kind == TSource::skText) {
        go = RunText(s.Value);
      } else if (s.Value == "-") {
        go = RunInput(StdIn, "stdin");
      } else {
        struct stat st;
        std::ifstream f;
        if (stat(s.Value.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) f.open(s.Value, std::ios::binary);
        if (!f.is_open()) {
          go = CommandError("cannot open file '" + s.Value + "'");
        } else {
          go = RunStream(f, s.Value);
        }
      }
      if (!go) break;
    }
  }
  Finish();
  return ExitStatus();
}

int TShell::RunAll(std::istream& StdIn, bool StdInIsTerminal) {
  TStreamInput input(StdIn, StdInIsTerminal ? &FOut : nullptr, StdInIsTerminal);
  return RunAll(input);
}

bool TShell::Command(const std::string& Line) {
  auto [name, arg] = SplitCommand(Line);
  const TCommand* c = FindCommand(name);
  if (!c) return CommandError("unknown command '." + name + "' (.help lists them)");
  return c->Run(*this, arg);
}

const TCatalogNames& TShell::CatalogNames() {
  if (FNamesLoaded) return FNames;
  FNames = TCatalogNames();
  std::vector<std::vector<TCell>> rows;
  auto column = [&](const std::string& Sql, std::vector<std::string>& Into) {
    rows.clear();
    if (!FDb.Query(Sql, rows)) return;
    for (auto& r : rows)
      if (!r.empty() && !r[0].Null) Into.push_back(r[0].Text);
  };
  column("SELECT t.table_name FROM sys.systable t WHERE t.creator <> 0 ORDER BY 1", FNames.Tables);
  column("SELECT p.proc_name FROM sys.sysprocedure p ORDER BY 1", FNames.Procedures);
  column("SELECT DISTINCT c.column_name FROM sys.syscolumn c JOIN sys.systable t ON t.table_id = c.table_id"
         " WHERE t.creator <> 0 ORDER BY 1",
         FNames.Columns);
  FNamesLoaded = true;
  return FNames;
}

TCompletion TShell::Complete(const std::string& Line, size_t Start, size_t End) {
  // The statement typed on earlier lines gives the context of the word (FROM on the line before).
  std::string pending = FSplitter && FSplitter->Pending() ? FEntry : std::string();
  return CompleteWord(pending, Line, Start, End, FCommands, CatalogNames());
}

}  // namespace zylisql
