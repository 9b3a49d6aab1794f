// The terminal side of the interactive SQL tool: line editing with history and completion
// (GNU readline), the signals a person sends (Ctrl-C, a closed terminal), the pager for long
// tables, the terminal's size and the password prompt.
//
// Line editing uses readline's callback interface inside a poll loop of our own, so that the
// loop can also wake for Ctrl-C (clear the line), for work posted from other threads (shown
// above the prompt, the line redrawn under it) and for a periodic idle handler.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>

#include "tools/isql/IsqlFormat.h"
#include "tools/isql/IsqlInput.h"
#include "tools/isql/IsqlShell.h"

namespace zylisql {

// Installs the tool's handlers for SIGINT, SIGTERM, SIGHUP and SIGWINCH and ignores SIGPIPE
// (a pager that was quit); the destructor puts the old dispositions back. One at a time: the
// state is the process's own, as signals are.
class TSignals {
 public:
  TSignals();
  ~TSignals();
  TSignals(const TSignals&) = delete;
  TSignals& operator=(const TSignals&) = delete;

  static bool Interrupted();     // Ctrl-C since the last ClearInterrupt
  static void ClearInterrupt();
  static int Terminated();       // SIGTERM or SIGHUP when one arrived, else 0
  static bool TakeResized();     // the window changed size since the last call
  static int WakeFd();           // readable after any of these signals
  static void DrainWake();
};

// Lines from the terminal with readline. History is kept in HistoryFile (none when empty): at
// most HistoryLimit entries, each new one appended at once, so that several sessions share it.
class TTerminalInput : public TLineInput {
 public:
  using TCompleter = std::function<TCompletion(const std::string& Line, size_t Start, size_t End)>;

  explicit TTerminalInput(std::string HistoryFile, size_t HistoryLimit = 2000);
  ~TTerminalInput() override;

  void SetCompleter(TCompleter Completer) { FCompleter = std::move(Completer); }
  TReadResult ReadLine(const std::string& Prompt, std::string& Line) override;
  void AddHistory(const std::string& Entry) override;
  bool Interactive() const override { return true; }
  void SetIdle(std::function<void()> Idle, bool Periodic) override;
  void Wake() override;
  void ShowAbovePrompt(const std::string& Text) override;

 private:
  static void LineHandler(char* Line);
  static char** AttemptCompletion(const char* Text, int Start, int End);
  static char* NextMatch(const char* Text, int State);
  void LoadHistory();

  std::string FHistoryFile;
  size_t FHistoryLimit;
  std::string FLastEntry;
  TCompleter FCompleter;
  std::function<void()> FIdle;
  bool FPeriodic = false;
  int FWake[2] = {-1, -1};  // Wake writes, the poll loop reads
  bool FReading = false;    // inside ReadLine with readline's handler installed
  bool FHaveLine = false;   // the handler delivered a line (or the end)
  bool FEnd = false;
  std::string FLine;
};

// The history file: $ZYL_ISQL_HISTORY when set (empty: none), else ~/.zylo_isql_history.
std::string DefaultHistoryFile();

// Columns and lines of the terminal on Fd; false when it is none.
bool TerminalSize(int Fd, size_t& Columns, size_t& Rows);

// A stream buffer over a C stream (a pipe to the pager); a failed write makes the stream fail.
class TFileBuf : public std::streambuf {
 public:
  explicit TFileBuf(FILE* File) : FFile(File) {}

 protected:
  int_type overflow(int_type C) override;
  std::streamsize xsputn(const char* S, std::streamsize N) override;
  int sync() override;

 private:
  FILE* FFile;
};

// Long tables through the user's pager: $PAGER, else "less -FRX" (or "more" without less).
class TCommandPager : public TPager {
 public:
  explicit TCommandPager(std::string Command) : FCommand(std::move(Command)) {}
  ~TCommandPager() override { Close(); }
  std::ostream* Open() override;
  void Close() override;

 private:
  std::string FCommand;
  FILE* FPipe = nullptr;
  std::unique_ptr<TFileBuf> FBuf;
  std::unique_ptr<std::ostream> FStream;
};

std::string DefaultPagerCommand();

// Asks for a password on the terminal without echo. False when Ctrl-C or the end of input
// came instead.
bool ReadPassword(const std::string& Prompt, std::string& Password);

// The line-editing library's name and version, for --version.
std::string LineEditingVersion();

}  // namespace zylisql
