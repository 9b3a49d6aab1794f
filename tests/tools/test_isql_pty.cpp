// zylo-isql as a person uses it: the program runs on a pseudo-terminal, the test types keys and
// reads the screen (a small terminal emulator keeps it: cursor moves, erasing, wide characters).
// Line editing, history across runs, completion, Ctrl-C at the prompt and during a statement,
// the transaction marker of the prompt, the pager, the password prompt and a killed tool.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/isql/IsqlWidth.h"

using namespace zylisql;

namespace {

// The screen of a terminal of Rows x Cols cells, fed with what the program writes.
class TScreen {
 public:
  TScreen(int Rows, int Cols) : FRows(Rows), FCols(Cols), FCells(Rows, std::vector<std::string>(Cols, " ")) {}

  void Feed(const std::string& Bytes) {
    for (size_t i = 0; i < Bytes.size();) {
      unsigned char c = static_cast<unsigned char>(Bytes[i]);
      if (c == 0x1b) {
        i = Escape(Bytes, i);
        continue;
      }
      if (c == '\r') FX = 0;
      else if (c == '\n') Down();
      else if (c == '\b') FX = FX > 0 ? FX - 1 : 0;
      else if (c == '\a') {
      } else if (c >= 0x20) {
        char32_t cp;
        bool valid;
        size_t len = NextCharacter(Bytes, i, cp, valid);
        int w = valid ? CodePointWidth(cp) : 1;
        Put(Bytes.substr(i, len), w);
        i += len;
        continue;
      }
      ++i;
    }
  }
  std::string Line(int Row) const {
    std::string s;
    for (const std::string& c : FCells[static_cast<size_t>(Row)]) s += c;
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
  }
  std::string Text() const {
    std::string s;
    for (int r = 0; r < FRows; ++r) s += Line(r) + "\n";
    return s;
  }
  std::string CursorLine() const { return Line(FY); }

 private:
  void Down() {
    if (++FY >= FRows) {
      FCells.erase(FCells.begin());
      FCells.emplace_back(static_cast<size_t>(FCols), " ");
      FY = FRows - 1;
    }
  }
  void Put(const std::string& Ch, int Width) {
    if (Width == 0) {  // a combining mark joins the cell before
      if (FX > 0) FCells[static_cast<size_t>(FY)][static_cast<size_t>(FX - 1)] += Ch;
      return;
    }
    if (FX + Width > FCols) {
      FX = 0;
      Down();
    }
    FCells[static_cast<size_t>(FY)][static_cast<size_t>(FX)] = Ch;
    if (Width == 2 && FX + 1 < FCols) FCells[static_cast<size_t>(FY)][static_cast<size_t>(FX + 1)] = "";
    FX += Width;
  }
  size_t Escape(const std::string& B, size_t i) {
    if (i + 1 >= B.size()) return B.size();
    char kind = B[i + 1];
    if (kind == ']') {  // operating-system command up to BEL or ST
      size_t end = B.find_first_of('\a', i);
      return end == std::string::npos ? B.size() : end + 1;
    }
    if (kind != '[') return i + 2;  // ESC = and the like
    size_t j = i + 2;
    std::string params;
    while (j < B.size() && (std::isdigit(static_cast<unsigned char>(B[j])) || B[j] == ';' || B[j] == '?')) params += B[j++];
    if (j >= B.size()) return B.size();
    char f = B[j];
    int n = params.empty() || params[0] == '?' ? 1 : std::atoi(params.c_str());
    if (n == 0) n = 1;
    auto& row = FCells[static_cast<size_t>(FY)];
    switch (f) {
      case 'A': FY = std::max(0, FY - n); break;
      case 'B': FY = std::min(FRows - 1, FY + n); break;
      case 'C': FX = std::min(FCols - 1, FX + n); break;
      case 'D': FX = std::max(0, FX - n); break;
      case 'G': FX = std::min(FCols - 1, n - 1); break;
      case 'K': {
        int from = params == "1" ? 0 : FX, to = params == "1" || params == "2" ? FCols : FCols;
        if (params == "1") to = FX + 1;
        for (int x = params == "2" ? 0 : from; x < to; ++x) row[static_cast<size_t>(x)] = " ";
        break;
      }
      case 'J':
        for (int y = FY + 1; y < FRows; ++y) FCells[static_cast<size_t>(y)].assign(static_cast<size_t>(FCols), " ");
        for (int x = FX; x < FCols; ++x) row[static_cast<size_t>(x)] = " ";
        break;
      case 'P':
        for (int k = 0; k < n; ++k) {
          row.erase(row.begin() + FX);
          row.push_back(" ");
        }
        break;
      case '@':
        for (int k = 0; k < n; ++k) {
          row.insert(row.begin() + FX, " ");
          row.pop_back();
        }
        break;
      case 'H': FY = FX = 0; break;
      default: break;  // colours, modes
    }
    return j + 1;
  }

  int FRows, FCols, FX = 0, FY = 0;
  std::vector<std::vector<std::string>> FCells;
};

// The tool on a pseudo-terminal of its own.
class TTerminalSession {
 public:
  TTerminalSession(const std::vector<std::string>& Args, const std::vector<std::string>& Env, int Rows = 24,
                   int Cols = 100)
      : FScreen(Rows, Cols) {
    struct winsize ws = {static_cast<unsigned short>(Rows), static_cast<unsigned short>(Cols), 0, 0};
    FPid = forkpty(&FFd, nullptr, nullptr, &ws);
    if (FPid == 0) {
      for (const std::string& e : Env) putenv(const_cast<char*>(e.c_str()));
      std::vector<char*> argv;
      for (const std::string& a : Args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
  }
  ~TTerminalSession() {
    if (FPid > 0 && !FExited) {
      kill(FPid, SIGKILL);
      waitpid(FPid, nullptr, 0);
    }
    if (FFd >= 0) close(FFd);
  }
  void Type(const std::string& Keys) {
    ssize_t n = write(FFd, Keys.data(), Keys.size());
    (void)n;
  }
  // Reads until the screen (or, with Raw, the output so far) holds Text; false after the time-out.
  bool WaitFor(std::string Text, bool Raw = false, int Seconds = 60) {
    if (!Raw) {  // the screen keeps no blanks at the ends of its lines
      for (size_t at; (at = Text.find(" \n")) != std::string::npos;) Text.erase(at, 1);
      while (!Text.empty() && Text.back() == ' ') Text.pop_back();
    }
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(Seconds);
    while (true) {
      if ((Raw ? FOutput : FScreen.Text()).find(Text) != std::string::npos) return true;
      if (std::chrono::steady_clock::now() > until) return false;
      if (!ReadSome(200)) return (Raw ? FOutput : FScreen.Text()).find(Text) != std::string::npos;
    }
  }
  // Waits for the program to end; its exit status, or -1. A program still running after
  // Seconds is killed (-1): a tool that missed its last key must fail the test, not hang it.
  int Wait(int Seconds = 60) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(Seconds);
    int status = 0;
    while (true) {
      pid_t r = waitpid(FPid, &status, WNOHANG);
      if (r == FPid || r < 0) break;
      if (std::chrono::steady_clock::now() > until) {
        kill(FPid, SIGKILL);
        waitpid(FPid, &status, 0);
        break;
      }
      ReadSome(50);
    }
    while (HasOutput() && ReadSome(0)) {
    }
    FExited = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  void Kill(int Signal) { kill(FPid, Signal); }
  const TScreen& Screen() const { return FScreen; }
  const std::string& Output() const { return FOutput; }

 private:
  bool HasOutput() {
    struct pollfd p = {FFd, POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
  }
  // False at the end of the output.
  bool ReadSome(int Ms) {
    struct pollfd p = {FFd, POLLIN, 0};
    int r = poll(&p, 1, Ms);
    if (r <= 0) return r == 0;
    char buf[4096];
    ssize_t n = read(FFd, buf, sizeof buf);
    if (n <= 0) return false;
    FOutput.append(buf, static_cast<size_t>(n));
    FScreen.Feed(std::string(buf, static_cast<size_t>(n)));
    return true;
  }

  TScreen FScreen;
  pid_t FPid = -1;
  int FFd = -1;
  bool FExited = false;
  std::string FOutput;
};

const std::string kUp = "\x1b[A", kLeft = "\x1b[D";

class IsqlTerminal : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (std::filesystem::temp_directory_path() / "zyl-isql-pty-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir = tmpl;
    file = dir + "/t.db";
    ASSERT_EQ(std::system((std::string(ZYL_CREATEDB_TOOL) + " -q " + file).c_str()), 0);
    env = {"HOME=" + dir, "ZYL_ENGINE_DIR=" + dir + "/engines", "TERM=xterm", "PAGER=", "LANG=C.UTF-8",
           "INPUTRC=/dev/null"};
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  std::unique_ptr<TTerminalSession> Start(std::vector<std::string> Extra = {}, int Rows = 24, int Cols = 100) {
    std::vector<std::string> args = {ZYL_ISQL_TOOL, "-c", "dbf=" + file + ";uid=dba;pwd=sql"};
    for (auto& a : Extra) args.push_back(a);
    auto s = std::make_unique<TTerminalSession>(args, env, Rows, Cols);
    EXPECT_TRUE(s->WaitFor("isql> ")) << s->Screen().Text();
    return s;
  }
  std::string dir, file;
  std::vector<std::string> env;
};

}  // namespace

TEST_F(IsqlTerminal, ArrowsEditAndRecallAndHistoryOutlivesTheSession) {
  auto s = Start();
  s->Type("CREATE TABLE customer_orders (id INT, city VARCHAR(20));\r");
  ASSERT_TRUE(s->WaitFor("ok\nisql> ")) << s->Screen().Text();
  // Left arrow moves into the line: "SELECT 12" becomes "SELECT 132"; Ctrl-E goes to the end.
  s->Type("SELECT 12" + kLeft + "3\x05 AS n;\r");
  ASSERT_TRUE(s->WaitFor("132\n(1 row)\nisql> ")) << s->Screen().Text();
  s->Type(kUp);
  ASSERT_TRUE(s->WaitFor("isql> SELECT 132 AS n;")) << s->Screen().Text();
  s->Type("\b\bm;\r");  // edited after the recall
  ASSERT_TRUE(s->WaitFor("m\n---\n132\n(1 row)\nisql> ")) << s->Screen().Text();
  // A statement of two lines goes into the history as one entry.
  s->Type("SELECT 7\r AS seven;\r");
  ASSERT_TRUE(s->WaitFor("seven\n-----\n    7\n(1 row)\nisql> ")) << s->Screen().Text();
  s->Type("\x04");  // Ctrl-D on an empty line leaves
  EXPECT_EQ(s->Wait(), 0);
  EXPECT_EQ(s->Output().find("^["), std::string::npos);  // no escape bytes shown as text

  auto again = Start();
  again->Type(kUp);
  ASSERT_TRUE(again->WaitFor("isql> SELECT 7\n AS seven;")) << again->Screen().Text();
  again->Type("\r");
  ASSERT_TRUE(again->WaitFor("    7\n(1 row)\nisql> ")) << again->Screen().Text();
  // Tab completes commands and names from the catalog.
  again->Type(".desc\t");
  ASSERT_TRUE(again->WaitFor("isql> .describe")) << again->Screen().Text();
  again->Type("cust\t");
  ASSERT_TRUE(again->WaitFor(".describe customer_orders")) << again->Screen().Text();
  again->Type("\r");
  ASSERT_TRUE(again->WaitFor("city        | varchar")) << again->Screen().Text();
  again->Type("quit\r");
  EXPECT_EQ(again->Wait(), 0);
}

TEST_F(IsqlTerminal, CtrlCClearsTheLineOrCancelsTheStatementAndTheTransactionGoesOn) {
  auto s = Start();
  s->Type("CREATE TABLE t (x INT);\rINSERT INTO t VALUES (1);\r");
  ASSERT_TRUE(s->WaitFor("1 row affected\nisql*> ")) << s->Screen().Text();  // uncommitted work shows
  s->Type("SELECT 'unfinished");
  ASSERT_TRUE(s->WaitFor("'unfinished"));
  s->Type("\x03");
  ASSERT_TRUE(s->WaitFor("^C\nisql*> ")) << s->Screen().Text();
  // A statement that would never end: the screen shows the line was taken before Ctrl-C goes.
  s->Type("SELECT count(*) FROM (WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c) SELECT n FROM c) x;\r");
  ASSERT_TRUE(s->WaitFor("FROM c) x;\n")) << s->Screen().Text();
  s->Type("\x03");
  ASSERT_TRUE(s->WaitFor("Error -299: Statement interrupted by user")) << s->Screen().Text();
  s->Type("SELECT count(*) AS n FROM t;\r");
  ASSERT_TRUE(s->WaitFor("n\n-\n1\n(1 row)\nisql*> ")) << s->Screen().Text();
  s->Type("ROLLBACK;\r");
  ASSERT_TRUE(s->WaitFor("rolled back\nisql> ")) << s->Screen().Text();
  // A statement that changes data cannot be stopped alone here: the server ends the
  // transaction with it and says so, and the prompt shows nothing left uncommitted.
  s->Type("INSERT INTO t VALUES (2);\r");
  // Waits for this answer, not the first INSERT's, which is on the screen already.
  ASSERT_TRUE(s->WaitFor("INSERT INTO t VALUES (2);\n1 row affected\nisql*> ")) << s->Screen().Text();
  s->Type("INSERT INTO t SELECT n FROM (WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c) SELECT n FROM c) y;\r");
  ASSERT_TRUE(s->WaitFor("FROM c) y;\n")) << s->Screen().Text();
  s->Type("\x03");
  ASSERT_TRUE(s->WaitFor("Error -302: Terminated by user -- transaction rolled back (40W02)\nisql> ")) << s->Screen().Text();
  s->Type("help\r");
  ASSERT_TRUE(s->WaitFor("Also: help, \\?, quit, exit, \\q.")) << s->Screen().Text();
  s->Type("\\q\r");
  EXPECT_EQ(s->Wait(), 0);
}

TEST_F(IsqlTerminal, LongTablesGoThroughThePagerAndWideOnesTurnAround) {
  std::string pager = dir + "/pager.sh";
  {
    std::ofstream p(pager);
    p << "#!/bin/sh\nsed -e 's/^/PAGED:/'\n";
  }
  std::filesystem::permissions(pager, std::filesystem::perms::owner_all);
  env[3] = "PAGER=" + pager;
  auto s = Start({}, 24, 60);
  s->Type("SELECT n FROM (WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 40) SELECT n FROM c) x;\r");
  // Each key waits for the prompt: keys typed while the pager runs meet a terminal in cooked
  // mode, which echoes them and takes a Ctrl-D as its own end of file.
  ASSERT_TRUE(s->WaitFor("PAGED:(40 rows)\nisql> ")) << s->Screen().Text();
  s->Type(".expanded auto\r");
  ASSERT_TRUE(s->WaitFor("expanded auto\nisql> ")) << s->Screen().Text();
  s->Type("SELECT '" + std::string(35, 'a') + "' AS first, '" + std::string(35, 'b') + "' AS second;\r");
  ASSERT_TRUE(s->WaitFor("-[ RECORD 1 ]")) << s->Screen().Text();
  ASSERT_TRUE(s->WaitFor("first  | aaaa")) << s->Screen().Text();
  ASSERT_TRUE(s->WaitFor("(1 row)\nisql> ")) << s->Screen().Text();
  s->Type("\x04");
  EXPECT_EQ(s->Wait(), 0) << s->Screen().Text();
}

TEST_F(IsqlTerminal, APasswordIsAskedForWithoutEcho) {
  std::vector<std::string> args = {ZYL_ISQL_TOOL, "-c", "dbf=" + file + ";uid=dba"};
  TTerminalSession s(args, env);
  ASSERT_TRUE(s.WaitFor("Password: ")) << s.Screen().Text();
  s.Type("sql\r");
  ASSERT_TRUE(s.WaitFor("isql> ")) << s.Screen().Text();
  EXPECT_EQ(s.Screen().Text().find("Password: sql"), std::string::npos);
  s.Type("\x04");
  EXPECT_EQ(s.Wait(), 0);
}

TEST_F(IsqlTerminal, AKilledToolLosesOnlyItsUncommittedWork) {
  auto s = Start();
  s->Type("CREATE TABLE t (x INT);\rINSERT INTO t VALUES (1);\rCOMMIT;\rINSERT INTO t VALUES (2);\r");
  ASSERT_TRUE(s->WaitFor("committed\nisql> INSERT INTO t VALUES (2);\n1 row affected\nisql*> ")) << s->Screen().Text();
  s->Kill(SIGKILL);
  s->Wait();
  auto after = Start();
  after->Type("SELECT count(*) AS n FROM t;\r");
  ASSERT_TRUE(after->WaitFor("n\n-\n1\n(1 row)\nisql> ")) << after->Screen().Text();
  after->Type("\x04");
  EXPECT_EQ(after->Wait(), 0);
}
