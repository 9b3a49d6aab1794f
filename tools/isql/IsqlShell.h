// The interactive SQL tool's driver: reads input, splits it into statements and built-in
// commands, hands statements to the database side and applies the error policy.
//
// The database side is the abstract TDatabase below, so that the driver, the splitter and the
// printers are tested without a server; the real one is TAsaDatabase (IsqlAsa.h), built on the
// SQL Anywhere session and statement components alone.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tools/isql/IsqlArgs.h"
#include "tools/isql/IsqlFormat.h"
#include "tools/isql/IsqlSplit.h"

namespace zylisql {

enum class TMove { mvFirst, mvLast, mvNext, mvPrior, mvCurrent, mvAbsolute };

// Progress of a backup: file, page done (1-based), pages of that file.
using TBackupProgress = std::function<void(const std::string& File, int32_t Page, int32_t Pages)>;

class TDatabase {
 public:
  virtual ~TDatabase() = default;
  // Each operation prints its results through the printer and returns false on an error, whose
  // code and text are then ErrorCode() and ErrorText() (the session's last error).
  virtual bool Run(const std::string& Sql, TPrinter& Out) = 0;
  virtual bool Explain(const std::string& Sql, std::string& Plan) = 0;
  virtual bool Backup(const std::string& Directory, const TBackupProgress& Progress) = 0;
  // The scrolling cursor of the built-in commands (one at a time; opened for update).
  virtual bool CursorOpen(const std::string& Sql, TPrinter& Out) = 0;
  virtual bool CursorMove(TMove Move, int32_t Row, TPrinter& Out) = 0;  // Row: for mvAbsolute, 0-based
  virtual bool CursorUpdate(const std::vector<std::pair<std::string, std::string>>& Values, TPrinter& Out) = 0;
  virtual bool CursorDelete(TPrinter& Out) = 0;
  virtual bool CursorClose() = 0;
  virtual int32_t ErrorCode() = 0;
  virtual std::string ErrorText() = 0;
  // Server messages arrive through this, at the moment the server sends them.
  virtual void SetMessageSink(std::function<void(const std::string&)> Sink) = 0;
};

// The catalog queries behind .tables and .describe, exposed for tests.
std::string ListTablesSql();
std::string DescribeTableSql(const std::string& Table);
// SQL string literal of a text ('' for each quote).
std::string SqlLiteral(const std::string& Text);
// Parses "col = value, col2 = 'text'" of .update into (column, value) pairs; a value is a
// quoted text ('' inside for a quote), NULL, or a bare word up to the next comma.
bool ParseAssignments(const std::string& Text, std::vector<std::pair<std::string, std::string>>& Out,
                      std::string& Error);
// The progress bar line of a backup ("[#####.....]  50%  file  5/10 pages"), Width marks wide.
std::string ProgressBar(const std::string& File, int32_t Page, int32_t Pages, int Width = 30);

class TShell {
 public:
  TShell(TDatabase& Db, const TOptions& Options, std::ostream& Out, std::ostream& Err);
  ~TShell();

  // Runs the statements of one source; false when the run must stop (error under the stop
  // policy, or .quit).
  bool RunText(const std::string& Text);
  bool RunStream(std::istream& In, bool Interactive);
  // Every source of the options in turn, or standard input when there is none; the exit status.
  int RunAll(std::istream& StdIn, bool StdInIsTerminal);

  bool RunPiece(const TPiece& Piece);  // false: stop
  int ExitStatus() const { return FErrors > 0 ? 1 : 0; }
  int Errors() const { return FErrors; }
  bool QuitRequested() const { return FQuit; }
  TPrinter& Printer() { return *FPrinter; }

 private:
  bool Command(const std::string& Line);
  bool Failed();  // reports the database's error; false when the policy stops the run
  void Help();

  TDatabase& FDb;
  TOptions FOptions;
  std::ostream& FOut;
  std::ostream& FErr;
  std::unique_ptr<TPrinter> FPrinter;
  int FErrors = 0;
  bool FQuit = false;
  bool FStop = false;  // the error policy, fixed at the start of the run
};

}  // namespace zylisql
