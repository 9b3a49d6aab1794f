// The interactive SQL tool's driver: reads input, splits it into statements and built-in
// commands, hands statements to the database side, keeps the user's transaction and the
// display settings, and applies the error policy.
//
// The database side is the abstract TDatabase below, so that the driver, the splitter and the
// printers are tested without a server; the real one is TAsaDatabase (IsqlAsa.h), built on the
// SQL Anywhere session and statement components alone.
//
// Transactions: statements stay in one transaction until the user types COMMIT or ROLLBACK
// (BEGIN, COMMIT and ROLLBACK reach the session's transaction operations; data definition
// commits as the server does). When the run ends, uncommitted work is committed, unless the
// options say --on-exit rollback, or the run ends because of an error (a script under the
// stop policy), an interrupt or a signal: then it is rolled back.
//
// Built-in commands are the entries of a command table (TCommand): each names itself, says its
// arguments and help line, what a tab completes after it, and what it does. The help text and
// the completion of command names are made from the table, so a new command is one entry.
#pragma once

#include <cstdint>
#include <fstream>
#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "tools/isql/IsqlArgs.h"
#include "tools/isql/IsqlFormat.h"
#include "tools/isql/IsqlInput.h"
#include "tools/isql/IsqlSplit.h"

namespace zylisql {

// mvCurrent re-reads the cursor's row (and the rows around it) as the server has them now.
enum class TMove { mvFirst, mvLast, mvNext, mvPrior, mvCurrent, mvAbsolute };
enum class TTxnOp { toBegin, toCommit, toRollback };

// Progress of a backup: file, page done (1-based), pages of that file.
using TBackupProgress = std::function<void(const std::string& File, int32_t Page, int32_t Pages)>;

class TDatabase {
 public:
  virtual ~TDatabase() = default;
  // Each operation prints its results through the printer and returns false on an error, whose
  // code and text are then ErrorCode() and ErrorText() (the session's last error).
  virtual bool Run(const std::string& Sql, TPrinter& Out) = 0;
  // A statement run for the tool itself: nothing is printed (Query returns the rows).
  virtual bool Execute(const std::string& Sql) = 0;
  virtual bool Query(const std::string& Sql, std::vector<std::vector<TCell>>& Rows) = 0;
  virtual bool Explain(const std::string& Sql, std::string& Plan) = 0;
  virtual bool Backup(const std::string& Directory, const TBackupProgress& Progress) = 0;
  // The scrolling cursor of the built-in commands (one at a time; opened for update).
  virtual bool CursorOpen(const std::string& Sql, TPrinter& Out) = 0;
  virtual bool CursorMove(TMove Move, int32_t Row, TPrinter& Out) = 0;  // Row: for mvAbsolute, 0-based
  virtual bool CursorUpdate(const std::vector<std::pair<std::string, std::string>>& Values, TPrinter& Out) = 0;
  virtual bool CursorInsert(const std::vector<std::pair<std::string, std::string>>& Values, TPrinter& Out) = 0;
  // Moves to the first row whose columns hold the values (from the cursor's row on, then from the
  // start); not finding one is no error.
  virtual bool CursorFind(const std::vector<std::pair<std::string, std::string>>& Values, bool CaseInsensitive,
                          bool Partial, TPrinter& Out) = 0;
  virtual bool CursorDelete(TPrinter& Out) = 0;
  virtual bool CursorClose() = 0;
  // The parameters of a stored procedure or function (NAME or OWNER.NAME) as the procedure
  // component discovers them from the catalog (name, direction, type), then the call it makes.
  virtual bool ProcParams(const std::string& Name, TPrinter& Out) = 0;
  // The session's StartTransaction, Commit and Rollback.
  virtual bool Transaction(TTxnOp Op) = 0;
  // True while statements since the last COMMIT or ROLLBACK may have changed data.
  virtual bool Uncommitted() = 0;
  // Loading rows: one prepared INSERT of these columns, executed once per row (values as
  // text, NULL cells as NULL), until EndInsert.
  virtual bool PrepareInsert(const std::string& Table, const std::vector<std::string>& Columns) = 0;
  virtual bool InsertRow(const std::vector<TCell>& Values) = 0;
  virtual void EndInsert() = 0;
  virtual int32_t ErrorCode() = 0;
  virtual std::string ErrorText() = 0;
  // Server messages arrive through this, at the moment the server sends them.
  virtual void SetMessageSink(std::function<void(const std::string&)> Sink) = 0;
};

// The catalog queries behind the catalog commands, exposed for tests. Patterns take * and ?
// (or SQL's % and _) and match names without regard to case.
std::string ListTablesSql(const std::string& Pattern = std::string());
std::string ListProceduresSql(const std::string& Pattern = std::string());
std::string FindTableSql(const std::string& Table);  // table_id, owner, name, type of a table
std::string DescribeTableSql(const std::string& TableId);
std::string IndexesSql(const std::string& TableId);
std::string ForeignKeysSql(const std::string& TableId);
// SQL string literal of a text ('' for each quote).
std::string SqlLiteral(const std::string& Text);
// A LIKE pattern of a name pattern: * and ? become % and _, the rest is lower case.
std::string LikePattern(const std::string& Pattern);
// Parses "col = value, col2 = 'text'" of .update into (column, value) pairs; a value is a
// quoted text ('' inside for a quote), NULL, or a bare word up to the next comma.
bool ParseAssignments(const std::string& Text, std::vector<std::pair<std::string, std::string>>& Out,
                      std::string& Error);
// The words of a command's arguments: blank-separated, 'quoted' or "quoted" with the quote
// doubled inside.
std::vector<std::string> SplitArguments(const std::string& Text);
// The progress bar line of a backup ("[#####.....]  50%  file  5/10 pages"), Width marks wide.
std::string ProgressBar(const std::string& File, int32_t Page, int32_t Pages, int Width = 30);
// BEGIN [TRAN|TRANSACTION|WORK], COMMIT [...] or ROLLBACK [...] typed as a statement.
bool IsTransactionStatement(const std::string& Sql, TTxnOp& Op);

class TShell;

// What a tab completes in an argument of a command.
enum class TArgKind { akNone, akTable, akProcedure, akFile, akWords, akSql };

struct TCommand {
  std::string Name;                  // without the dot
  std::vector<std::string> Aliases;  // other names that run it
  std::string Syntax;                // the arguments as the help shows them ("TABLE [FILE]")
  std::string Help;                  // one line
  std::vector<TArgKind> Args;        // what each argument is, for completion
  std::vector<std::string> Words;    // the choices of an akWords argument
  // Runs the command; Arg is the rest of the line. False ends the run (the error policy).
  std::function<bool(TShell& Shell, const std::string& Arg)> Run;
};

// The commands every shell starts with (IsqlCommands.cpp).
std::vector<TCommand> BuiltinCommands();

// What the tab key offers: words to choose from, or file names.
struct TCompletion {
  bool Files = false;
  std::vector<std::string> Words;
};

// Names from the catalog for completion.
struct TCatalogNames {
  std::vector<std::string> Tables, Procedures, Columns;
};

// Completion of the word before the cursor (Line[Start, End)), knowing the commands and the
// catalog names. Pending is the text of the statement typed on earlier lines, if any.
TCompletion CompleteWord(const std::string& Pending, const std::string& Line, size_t Start, size_t End,
                         const std::vector<TCommand>& Commands, const TCatalogNames& Names);

class TShell {
 public:
  TShell(TDatabase& Db, const TOptions& Options, std::ostream& Out, std::ostream& Err);
  ~TShell();

  // Runs the statements of one source; Name ("file.sql") goes before the line of each error.
  // False when the run must stop (an error under the stop policy, .quit, an interrupt).
  bool RunText(const std::string& Text, const std::string& Name = std::string());
  bool RunStream(std::istream& In, const std::string& Name = std::string());
  bool RunInput(TLineInput& Input, const std::string& Name = std::string());
  // Every source of the options in turn, or the input when there is none; then ends the
  // transaction (Finish). Returns the exit status.
  int RunAll(TLineInput& StdIn);
  int RunAll(std::istream& StdIn, bool StdInIsTerminal);  // prompts on Out when a terminal
  // Commits or rolls back uncommitted work as the rules above say; called by RunAll.
  void Finish();

  bool RunPiece(const TPiece& Piece);  // false: stop
  int ExitStatus() const;
  int Errors() const { return FErrors; }
  bool QuitRequested() const { return FQuit; }
  bool Interrupted() const { return FInterrupted; }

  // Interrupts (Ctrl-C) as the program sees them: Pending tells whether one arrived, Clear
  // forgets it. A statement that runs when one arrives is cancelled by the database side; the
  // shell then forgets it, and a script ends.
  // Terminated tells whether the program was told to end (SIGTERM, a lost terminal): the run
  // ends as after an interrupt.
  void SetInterrupts(std::function<bool()> Pending, std::function<void()> Clear,
                     std::function<bool()> Terminated = nullptr);
  // Lines shown to the user from elsewhere (any thread): above the prompt at once when the
  // user sits at it, otherwise as soon as the running statement is done.
  void PostNotice(const std::string& Text);
  // Runs on the main thread while the prompt waits, at least every 100 ms (set it before the
  // run starts).
  void SetIdleHandler(std::function<void()> Handler);
  // The terminal the output goes to when it is not redirected: its size (false: none) and
  // the pager for long tables.
  void SetTerminal(std::function<bool(size_t& Columns, size_t& Rows)> Size, TPager* Pager);

  // For commands.
  TDatabase& Db() { return FDb; }
  TPrinter& Printer();
  TPrintSettings& Settings() { return FSettings; }
  TOptions& Options() { return FOptions; }
  std::ostream& Out() { return FOut; }
  std::ostream& Err() { return FErr; }
  void SettingsChanged() { FPrinter.reset(); }
  // A usage or tool error: counted and reported; false when the policy stops the run.
  bool CommandError(const std::string& Text);
  // Reports the database's last error the same way.
  bool Failed();
  // Runs a file's statements as a nested source (.read).
  bool ReadFile(const std::string& Path);
  // Results go to this file ("" for the screen again); false with Error when it cannot be opened.
  bool RedirectOutput(const std::string& Path, std::string& Error);
  bool PagerOn() const { return FPagerOn; }
  void SetPagerOn(bool On) { FPagerOn = On; }
  void RequestQuit() { FQuit = true; }
  // The catalog's names, read once and again after data definition.
  const TCatalogNames& CatalogNames();
  void ForgetCatalogNames() { FNamesLoaded = false; }
  const std::vector<TCommand>& Commands() const { return FCommands; }
  void AddCommand(TCommand Command);
  const TCommand* FindCommand(const std::string& Name) const;
  // Completion of a line typed at the prompt (for the terminal's tab key).
  TCompletion Complete(const std::string& Line, size_t Start, size_t End);
  // The prompt for the next line: "isql> ", "isql*> " with uncommitted changes, "   -> " inside
  // a statement.
  std::string Prompt() const;

 private:
  bool Command(const std::string& Line);
  bool RunSql(const std::string& Sql);
  bool RunTransaction(TTxnOp Op);
  bool AfterStatement();  // forgets an interrupt; false when the run must end because of it
  void ShowNotices();     // the notices posted so far, through the printer
  bool FromTerminal() const { return FInput && FInput->Interactive(); }

  TDatabase& FDb;
  TOptions FOptions;
  std::ostream& FOut;
  std::ostream& FErr;
  TPrintSettings FSettings;
  std::unique_ptr<TPrinter> FPrinter;  // made from the settings when first needed
  std::unique_ptr<std::ofstream> FOutFile;  // .output FILE
  std::vector<TCommand> FCommands;
  TStatementSplitter* FSplitter = nullptr;  // of the source being read (for the prompt)
  TLineInput* FInput = nullptr;             // the input being read, if any
  std::string FSource;                      // name of the source being read ("" for none)
  std::string FEntry;                       // lines typed of the entry not yet complete
  int FPieceLine = 0;                       // line of the piece that runs
  int FReadDepth = 0;                       // nesting of .read
  int FErrors = 0;
  bool FQuit = false;
  bool FStop = false;          // the error policy, fixed at the start of the run
  bool FStoppedByError = false;
  bool FExitFailed = false;    // the commit or rollback at the end failed
  bool FInterrupted = false;   // a script was ended by Ctrl-C
  bool FPagerOn = true;
  std::function<bool()> FInterruptPending;
  std::function<void()> FInterruptClear;
  std::function<bool()> FTerminated;
  bool FTopInteractive = false;  // the run reads a terminal (nested .read files do not end it)
  std::function<bool(size_t&, size_t&)> FTerminalSize;
  TPager* FPager = nullptr;
  std::function<void()> FIdle;
  std::mutex FNoticeMutex;  // guards FNotices and FInput for PostNotice from other threads
  std::vector<std::string> FNotices;
  TCatalogNames FNames;
  bool FNamesLoaded = false;
};

}  // namespace zylisql
