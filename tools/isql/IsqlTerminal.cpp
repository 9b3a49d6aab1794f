// Line editing, signals, pager and terminal helpers of the interactive SQL tool.
//
// readline is a C library with one global state; TTerminalInput is its only user and points
// it at the instance that is reading (gReading) for the callbacks.
#include "tools/isql/IsqlTerminal.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

// readline's headers need stdio declared first.
#include <readline/history.h>
#include <readline/readline.h>

namespace zylisql {
namespace {

std::atomic<int> gInterrupt{0};
std::atomic<int> gTerminate{0};
std::atomic<int> gResized{0};
int gSignalPipe[2] = {-1, -1};
struct sigaction gOld[4];
const int kSignals[4] = {SIGINT, SIGTERM, SIGHUP, SIGWINCH};
struct sigaction gOldPipe;

void OnSignal(int Signal) {
  int saved = errno;
  if (Signal == SIGINT) gInterrupt.store(1);
  else if (Signal == SIGWINCH) gResized.store(1);
  else gTerminate.store(Signal);
  if (gSignalPipe[1] >= 0) {
    char c = 0;
    ssize_t n = write(gSignalPipe[1], &c, 1);
    (void)n;  // a full pipe already wakes the reader
  }
  errno = saved;
}

void MakePipe(int Fds[2]) {
  if (pipe(Fds) != 0) {
    Fds[0] = Fds[1] = -1;
    return;
  }
  for (int i = 0; i < 2; ++i) {
    fcntl(Fds[i], F_SETFL, fcntl(Fds[i], F_GETFL) | O_NONBLOCK);
    fcntl(Fds[i], F_SETFD, FD_CLOEXEC);
  }
}

void Drain(int Fd) {
  char buf[64];
  while (Fd >= 0 && read(Fd, buf, sizeof buf) > 0) {
  }
}

TTerminalInput* gReading = nullptr;        // the instance whose ReadLine runs
std::vector<std::string> gMatches;         // the completion being offered

}  // namespace

// ---- signals ----

TSignals::TSignals() {
  MakePipe(gSignalPipe);
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  // Interrupted system calls go on; the poll loops wake through the pipe.
  sa.sa_flags = SA_RESTART;
  for (int i = 0; i < 4; ++i) sigaction(kSignals[i], &sa, &gOld[i]);
  struct sigaction ignore;
  std::memset(&ignore, 0, sizeof ignore);
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &gOldPipe);
}

TSignals::~TSignals() {
  for (int i = 0; i < 4; ++i) sigaction(kSignals[i], &gOld[i], nullptr);
  sigaction(SIGPIPE, &gOldPipe, nullptr);
  for (int& fd : gSignalPipe) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

bool TSignals::Interrupted() { return gInterrupt.load() != 0; }
void TSignals::ClearInterrupt() { gInterrupt.store(0); }
int TSignals::Terminated() { return gTerminate.load(); }
bool TSignals::TakeResized() { return gResized.exchange(0) != 0; }
int TSignals::WakeFd() { return gSignalPipe[0]; }
void TSignals::DrainWake() { Drain(gSignalPipe[0]); }

// ---- line editing ----

TTerminalInput::TTerminalInput(std::string HistoryFile, size_t HistoryLimit)
    : FHistoryFile(std::move(HistoryFile)), FHistoryLimit(HistoryLimit ? HistoryLimit : 1) {
  MakePipe(FWake);
  rl_readline_name = "zylo-isql";  // for $if zylo-isql in ~/.inputrc
  rl_catch_signals = 0;             // Ctrl-C is ours: it clears the line, it does not end the program
  rl_catch_sigwinch = 0;
  rl_attempted_completion_function = &TTerminalInput::AttemptCompletion;
  // "." and "_" stay inside words: ".describe", "owner.table", "order_id".
  rl_basic_word_break_characters = const_cast<char*>(" \t\n\"'`@$><=;|&{(,)+-*/%");
  rl_completer_word_break_characters = rl_basic_word_break_characters;
  rl_variable_bind("completion-ignore-case", "on");
  using_history();
  stifle_history(static_cast<int>(FHistoryLimit));
  LoadHistory();
}

TTerminalInput::~TTerminalInput() {
  if (FReading) rl_callback_handler_remove();
  for (int fd : FWake)
    if (fd >= 0) close(fd);
  clear_history();
}

void TTerminalInput::LoadHistory() {
  if (FHistoryFile.empty()) return;
  std::ifstream in(FHistoryFile, std::ios::binary);
  std::vector<std::string> entries;
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) entries.push_back(line);
  // The file grows by appending; now and then it is cut back to its last entries.
  if (entries.size() > FHistoryLimit + FHistoryLimit / 2) {
    entries.erase(entries.begin(), entries.end() - static_cast<std::ptrdiff_t>(FHistoryLimit));
    std::string temp = FHistoryFile + ".new";
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd >= 0) {
      std::string all;
      for (auto& e : entries) all += e + "\n";
      bool ok = write(fd, all.data(), all.size()) == static_cast<ssize_t>(all.size());
      close(fd);
      if (!ok || rename(temp.c_str(), FHistoryFile.c_str()) != 0) unlink(temp.c_str());
    }
  }
  size_t from = entries.size() > FHistoryLimit ? entries.size() - FHistoryLimit : 0;
  for (size_t i = from; i < entries.size(); ++i) {
    std::string e = DecodeHistoryEntry(entries[i]);
    add_history(e.c_str());
    FLastEntry = e;
  }
}

void TTerminalInput::AddHistory(const std::string& Entry) {
  if (Entry == FLastEntry) return;  // the same statement again is one entry
  FLastEntry = Entry;
  add_history(Entry.c_str());
  if (FHistoryFile.empty()) return;
  // Appended at once with one write: nothing is lost when the tool is killed, and sessions
  // running side by side do not overwrite each other's lines. Only its owner may read it.
  int fd = open(FHistoryFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return;
  std::string line = EncodeHistoryEntry(Entry) + "\n";
  ssize_t n = write(fd, line.data(), line.size());
  (void)n;  // a history that cannot be written is no reason to stop working
  close(fd);
}

void TTerminalInput::SetIdle(std::function<void()> Idle, bool Periodic) {
  FIdle = std::move(Idle);
  FPeriodic = Periodic && FIdle;
}

void TTerminalInput::Wake() {
  if (FWake[1] < 0) return;
  char c = 0;
  ssize_t n = write(FWake[1], &c, 1);
  (void)n;  // a full pipe wakes the reader all the same
}

void TTerminalInput::ShowAbovePrompt(const std::string& Text) {
  if (!FReading) {
    std::fputs(Text.c_str(), stdout);
    std::fflush(stdout);
    return;
  }
  rl_clear_visible_line();
  std::fputs(Text.c_str(), rl_outstream ? rl_outstream : stdout);
  std::fflush(rl_outstream ? rl_outstream : stdout);
  rl_on_new_line();
  rl_forced_update_display();
}

void TTerminalInput::LineHandler(char* Line) {
  TTerminalInput* self = gReading;
  if (!self) {
    std::free(Line);
    return;
  }
  self->FHaveLine = true;
  self->FEnd = Line == nullptr;
  self->FLine = Line ? Line : "";
  std::free(Line);
  // No prompt until the tool asks for the next line (a statement may run first).
  rl_callback_handler_remove();
  self->FReading = false;
}

TReadResult TTerminalInput::ReadLine(const std::string& Prompt, std::string& Line) {
  gReading = this;
  FHaveLine = FEnd = false;
  FLine.clear();
  rl_callback_handler_install(Prompt.c_str(), &TTerminalInput::LineHandler);
  FReading = true;
  TReadResult result = TReadResult::rrLine;
  while (!FHaveLine) {
    if (TSignals::Terminated()) {
      result = TReadResult::rrEnd;
      break;
    }
    if (TSignals::Interrupted()) {
      // Ctrl-C: what was typed goes, and a fresh prompt follows.
      rl_callback_sigcleanup();
      rl_replace_line("", 0);
      rl_point = rl_end = rl_mark = 0;
      std::fputs("^C", rl_outstream ? rl_outstream : stdout);
      rl_crlf();
      result = TReadResult::rrInterrupted;
      break;
    }
    if (TSignals::TakeResized()) rl_resize_terminal();
    struct pollfd fds[3] = {{STDIN_FILENO, POLLIN, 0}, {TSignals::WakeFd(), POLLIN, 0}, {FWake[0], POLLIN, 0}};
    int n = poll(fds, 3, FPeriodic ? 100 : -1);
    if (n < 0 && errno != EINTR) {
      result = TReadResult::rrEnd;
      break;
    }
    if (fds[1].revents) TSignals::DrainWake();
    if (fds[2].revents) Drain(FWake[0]);
    if (FIdle && (n == 0 || fds[2].revents)) FIdle();
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) rl_callback_read_char();
  }
  if (FReading) {
    rl_callback_handler_remove();
    FReading = false;
  }
  gReading = nullptr;
  if (result != TReadResult::rrLine) return result;
  if (FEnd) return TReadResult::rrEnd;
  Line = FLine;
  return TReadResult::rrLine;
}

char* TTerminalInput::NextMatch(const char*, int State) {
  static size_t next = 0;
  if (State == 0) next = 0;
  if (next >= gMatches.size()) return nullptr;
  return strdup(gMatches[next++].c_str());
}

char** TTerminalInput::AttemptCompletion(const char* Text, int Start, int End) {
  rl_attempted_completion_over = 1;  // no file names unless the completer asks for them
  if (!gReading || !gReading->FCompleter) return nullptr;
  TCompletion c = gReading->FCompleter(std::string(rl_line_buffer), static_cast<size_t>(Start), static_cast<size_t>(End));
  if (c.Files) {
    rl_attempted_completion_over = 0;
    return nullptr;
  }
  if (c.Words.empty()) return nullptr;
  gMatches = std::move(c.Words);
  return rl_completion_matches(Text, &TTerminalInput::NextMatch);
}

std::string DefaultHistoryFile() {
  if (const char* f = std::getenv("ZYL_ISQL_HISTORY")) return f;
  const char* home = std::getenv("HOME");
  if (!home || !*home) return std::string();
  return std::string(home) + "/.zylo_isql_history";
}

bool TerminalSize(int Fd, size_t& Columns, size_t& Rows) {
  if (!isatty(Fd)) return false;
  struct winsize ws;
  if (ioctl(Fd, TIOCGWINSZ, &ws) != 0 || ws.ws_col == 0) {
    Columns = 80;
    Rows = 24;
    return true;
  }
  Columns = ws.ws_col;
  Rows = ws.ws_row;
  return true;
}

// ---- pager ----

TFileBuf::int_type TFileBuf::overflow(int_type C) {
  if (traits_type::eq_int_type(C, traits_type::eof())) return traits_type::not_eof(C);
  char c = traits_type::to_char_type(C);
  return std::fwrite(&c, 1, 1, FFile) == 1 ? C : traits_type::eof();
}

std::streamsize TFileBuf::xsputn(const char* S, std::streamsize N) {
  return static_cast<std::streamsize>(std::fwrite(S, 1, static_cast<size_t>(N), FFile));
}

int TFileBuf::sync() { return std::fflush(FFile) == 0 ? 0 : -1; }

std::ostream* TCommandPager::Open() {
  Close();
  std::fflush(stdout);
  FPipe = popen(FCommand.c_str(), "w");
  if (!FPipe) return nullptr;
  FBuf = std::make_unique<TFileBuf>(FPipe);
  FStream = std::make_unique<std::ostream>(FBuf.get());
  return FStream.get();
}

void TCommandPager::Close() {
  if (!FPipe) return;
  FStream->flush();
  pclose(FPipe);  // waits until the user leaves the pager
  FPipe = nullptr;
  FStream.reset();
  FBuf.reset();
}

std::string DefaultPagerCommand() {
  const char* p = std::getenv("PAGER");
  if (p && *p) return p;
  for (const char* dir : {"/usr/bin/", "/bin/", "/usr/local/bin/"}) {
    if (access((std::string(dir) + "less").c_str(), X_OK) == 0) return "less -FRX";
  }
  return "more";
}

// ---- password ----

bool ReadPassword(const std::string& Prompt, std::string& Password) {
  Password.clear();
  struct termios old;
  bool terminal = tcgetattr(STDIN_FILENO, &old) == 0;
  if (terminal) {
    struct termios quiet = old;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    quiet.c_lflag |= ICANON;
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  // The prompt only once the echo is off: nothing typed after it shows.
  std::fputs(Prompt.c_str(), stderr);
  std::fflush(stderr);
  bool ok = false;
  while (true) {
    if (TSignals::Interrupted() || TSignals::Terminated()) break;
    struct pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {TSignals::WakeFd(), POLLIN, 0}};
    if (poll(fds, TSignals::WakeFd() >= 0 ? 2 : 1, -1) < 0 && errno != EINTR) break;
    if (fds[1].revents) TSignals::DrainWake();
    if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    char c;
    ssize_t n = read(STDIN_FILENO, &c, 1);
    if (n <= 0) break;
    if (c == '\n' || c == '\r') {
      ok = true;
      break;
    }
    Password += c;
  }
  if (terminal) tcsetattr(STDIN_FILENO, TCSAFLUSH, &old);
  std::fputs("\n", stderr);
  return ok;
}

std::string LineEditingVersion() { return std::string("GNU readline ") + rl_library_version; }

}  // namespace zylisql
