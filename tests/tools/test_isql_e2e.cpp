// zylo-isql against real database files: the demonstration schema, queries with long values,
// procedure result sets and output parameters, server messages, the scrolling cursor with
// positioned changes, the catalog commands, backup, and the program's exit statuses.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "tools/isql/IsqlAlerts.h"
#include "tools/isql/IsqlAsa.h"
#include "tools/isql/IsqlShell.h"

using namespace zylisql;

namespace {

std::string Slurp(const std::string& Path) {
  std::ifstream f(Path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// Exit status and standard output of a shell command.
std::pair<int, std::string> Shell(const std::string& Command) {
  std::string out;
  FILE* p = popen(Command.c_str(), "r");
  if (!p) return {-1, out};
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int rc = pclose(p);
  return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, out};
}

class IsqlEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (std::filesystem::temp_directory_path() / "zyl-isql-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir = tmpl;
    setenv("ZYL_ENGINE_DIR", (dir + "/engines").c_str(), 1);
    // A server started for a file keeps running in this process after the session ends, so each
    // test names its database (and with it the server) differently.
    file = dir + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".db";
    ASSERT_EQ(std::system((std::string(ZYL_CREATEDB_TOOL) + " -q " + file).c_str()), 0);
    connect = "dbf=" + file + ";uid=dba;pwd=sql";
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }

  // One session of the tool in this process: connects, runs Text, returns the exit status.
  int Run(const std::string& Text, TOptions Options = {}) {
    out.str("");
    err.str("");
    TAsaDatabase db;
    TConnectParams p;
    std::string e;
    EXPECT_TRUE(ParseConnectParams(connect, p, e)) << e;
    if (!db.Connect(p, Options)) {
      err << db.ErrorText();
      return 2;
    }
    Options.Sources = {{TSource::skText, Text}};
    TShell shell(db, Options, out, err);
    std::istringstream none;
    return shell.RunAll(none, false);
  }

  void LoadDemo() {
    ASSERT_EQ(Run(Slurp(std::string(ZYL_SOURCE_DIR) + "/tools/demo/schema.sql")), 0) << err.str();
  }

  std::string dir, file, connect;
  std::ostringstream out, err;
};

}  // namespace

TEST_F(IsqlEndToEnd, QueriesShowLongValuesCutInTablesAndWholeInJson) {
  LoadDemo();
  ASSERT_EQ(Run("SELECT id, note FROM orders WHERE id IN (100, 102) ORDER BY id"), 0) << err.str();
  EXPECT_NE(out.str().find("100 | gift wrap"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("work, play... (70000 chars)"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("(2 rows)"), std::string::npos);
  TOptions json;
  json.Format = TFormat::fmJson;
  ASSERT_EQ(Run("SELECT note, city FROM orders o JOIN customer c ON c.id = o.customer_id WHERE o.id = 102 OR o.id = 103 ORDER BY o.id", json), 0)
      << err.str();
  std::string whole;
  for (int i = 0; i < 7000; ++i) whole += "work, play";
  EXPECT_NE(out.str().find("[\"" + whole + "\",\"Basel\"]"), std::string::npos);
  EXPECT_NE(out.str().find("[null,null]"), std::string::npos);  // NULLs stay NULL
}

TEST_F(IsqlEndToEnd, ProcedurePrintsEveryResultSetMessagesAndOutputParameters) {
  LoadDemo();
  ASSERT_EQ(Run("CALL customer_report(2, ?); CALL order_total(2, ?, ?)"), 0) << err.str();
  std::string s = out.str();
  size_t msg = s.find("message: report for customer 2");
  size_t first = s.find("102 | Desk lamp");
  size_t second = s.find("Notebook A5 |     25 |");
  size_t outs = s.find("total = 159.8");
  ASSERT_NE(msg, std::string::npos) << s;
  ASSERT_NE(first, std::string::npos) << s;
  ASSERT_NE(second, std::string::npos) << s;
  ASSERT_NE(outs, std::string::npos) << s;
  EXPECT_LT(msg, first);
  EXPECT_LT(first, second);
  EXPECT_LT(second, outs);
  EXPECT_NE(s.find("lines = 2"), std::string::npos);
  // The output of the procedure with result sets comes after them, before the second call's.
  size_t outs2 = s.find("total = 159.8", outs + 1);
  ASSERT_NE(outs2, std::string::npos) << s;
  EXPECT_LT(outs, s.find("lines = 2"));
  EXPECT_EQ(s.find("not returned"), std::string::npos) << s;
}

TEST_F(IsqlEndToEnd, OutputsOfAProcedureWithResultSetsComeBackCallAfterCall) {
  LoadDemo();
  // Named arguments, the same call twice in one session (what stood in for the marker is gone
  // after each call), then connection variables of the user's own as outputs.
  ASSERT_EQ(Run("CALL customer_report(total = ?, cust = 1); CALL customer_report(total = ?, cust = 1);\n"
                "CREATE VARIABLE t DECIMAL(19,4); CREATE VARIABLE n INTEGER; CALL order_total(1, t, n); SELECT t, n"),
            0)
      << err.str();
  std::string s = out.str();
  size_t first = s.find("total = 75.5");
  ASSERT_NE(first, std::string::npos) << s;
  EXPECT_NE(s.find("total = 75.5", first + 1), std::string::npos) << s;
  EXPECT_NE(s.find("t    | n\n-----+--\n75.5 | 3\n"), std::string::npos) << s;
  // A marker for an input cannot be replaced: the result sets still print, and the tool says
  // what it cannot show.
  ASSERT_EQ(Run("CALL customer_report(?, ?)"), 0) << err.str();
  EXPECT_NE(out.str().find("not returned"), std::string::npos) << out.str();
  ASSERT_EQ(Run("SELECT count(*) AS n FROM orders"), 0) << err.str();
}

TEST_F(IsqlEndToEnd, ErrorsCarryTheServerCodeAndThePolicyDecidesWhetherToGoOn) {
  LoadDemo();
  EXPECT_EQ(Run("SELECT * FROM nope; INSERT INTO customer VALUES (9, 'after', NULL)"), 1);
  EXPECT_NE(err.str().find("Error -141"), std::string::npos) << err.str();
  TOptions go;
  go.OnError = TOnError::oeContinue;
  EXPECT_EQ(Run("INSERT INTO customer VALUES (1, 'dup', NULL); SELECT count(*) AS n FROM customer WHERE name = 'after'", go), 1);
  EXPECT_NE(err.str().find("Error -193"), std::string::npos) << err.str();
  EXPECT_NE(out.str().find("n\n-\n0\n"), std::string::npos) << out.str();  // the stopped run inserted nothing
  // Malformed SQL is an error like any other and loses nothing.
  EXPECT_EQ(Run("SELEKT 1"), 1);
  EXPECT_EQ(Run("SELECT count(*) AS n FROM orders"), 0);
  EXPECT_NE(out.str().find("n\n-\n8\n"), std::string::npos) << out.str();
}

TEST_F(IsqlEndToEnd, ScrollingCursorUpdatesAndDeletesTheRowItStandsOn) {
  LoadDemo();
  ASSERT_EQ(Run(".open SELECT id, quantity, note FROM orders ORDER BY id\n.last\n.prior\n.goto 2\n"
                ".update quantity = 99, note = 'it''s changed'\n.first\n.delete\n.close\n"
                "SELECT id, quantity, note FROM orders WHERE id <= 101 ORDER BY id"),
            0)
      << err.str();
  std::string s = out.str();
  EXPECT_NE(s.find("at row 8"), std::string::npos);
  EXPECT_NE(s.find("at row 7"), std::string::npos);
  EXPECT_NE(s.find("101 |       99 | it's changed"), std::string::npos) << s;
  // Row 100 went with .delete; the final query sees only 101.
  size_t last = s.rfind("id  | quantity");
  ASSERT_NE(last, std::string::npos);
  EXPECT_EQ(s.find("100 |", last), std::string::npos) << s;
  EXPECT_NE(s.find("(1 row)", last), std::string::npos) << s;
  // Moving without a cursor, or updating a column the cursor lacks, is an error.
  EXPECT_EQ(Run(".next"), 1);
  EXPECT_NE(err.str().find("no cursor is open"), std::string::npos);
  EXPECT_EQ(Run(".open SELECT id FROM orders\n.update nothere = 1"), 1);
  // A value the column's type cannot take is refused and the row keeps what it held.
  EXPECT_EQ(Run(".open SELECT id, quantity FROM orders WHERE id = 101\n.update quantity = 'abc'"), 1);
  // The cursor's field refuses it before anything reaches the server.
  EXPECT_NE(err.str().find("Invalid value for field 'quantity'"), std::string::npos) << err.str();
  EXPECT_EQ(out.str().find("row affected"), std::string::npos) << out.str();
  ASSERT_EQ(Run("SELECT quantity FROM orders WHERE id = 101"), 0) << err.str();
  EXPECT_NE(out.str().find("99"), std::string::npos) << out.str();
}

TEST_F(IsqlEndToEnd, CatalogCommandsExplainAndBackup) {
  LoadDemo();
  std::string bk = dir + "/bk";
  ASSERT_EQ(Run(".tables\n.describe orders\n.explain SELECT * FROM orders WHERE id = 100\n.backup " + bk), 0)
      << err.str();
  std::string s = out.str();
  EXPECT_NE(s.find("DBA   | customer"), std::string::npos) << s;
  EXPECT_NE(s.find("note        | long varchar"), std::string::npos) << s;
  EXPECT_NE(s.find("plan: "), std::string::npos);
  std::string copy = bk + "/" + std::filesystem::path(file).filename().string();
  EXPECT_NE(s.find("100%  " + copy), std::string::npos) << s;
  ASSERT_TRUE(std::filesystem::exists(copy));
  EXPECT_EQ(std::filesystem::file_size(copy) % 4096, 0u);
  EXPECT_GT(std::filesystem::file_size(copy), 0u);
  EXPECT_EQ(Run(".describe no_such_table"), 1);
  EXPECT_EQ(err.str(), "no table no_such_table\n");
  // Any case finds the table, and the description names its indexes and foreign keys.
  ASSERT_EQ(Run("CREATE INDEX ix_orders_qty ON orders (quantity DESC, id);\n.describe ORDERS"), 0) << err.str();
  EXPECT_NE(out.str().find("indexes:\n  ix_orders_qty (quantity DESC, id)\n"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("foreign keys:\n  product: (product_id) references product (id)\n"
                           "  customer: (customer_id) references customer (id)\n"),
            std::string::npos)
      << out.str();
}

TEST_F(IsqlEndToEnd, ProcShowsTheParametersTheProcedureComponentDiscovers) {
  LoadDemo();
  ASSERT_EQ(Run("CREATE FUNCTION net(IN gross DOUBLE, IN rate NUMERIC(5,2) DEFAULT 7.7) RETURNS DOUBLE "
                "BEGIN RETURN gross / (1 + rate / 100); END;\n"
                ".proc order_total\n.proc DBA.net\n.proc net"),
            0)
      << err.str();
  const std::string s = out.str();
  EXPECT_NE(s.find("parameter | direction | type\n----------+-----------+--------\n"
                   "cust      | in        | integer\ntotal     | out       | float\nlines     | out       | integer\n"
                   "(3 rows)\ncall: call order_total(:cust,:total,:lines)\n"),
            std::string::npos)
      << s;
  const std::string net = "net       | result    | float\ngross     | in        | float\nrate      | in        | float\n";
  const size_t first = s.find(net);
  ASSERT_NE(first, std::string::npos) << s;
  EXPECT_NE(s.find(net, first + 1), std::string::npos) << "with and without the owner" << s;
  EXPECT_NE(s.find("call: :net = call net(:gross,:rate)"), std::string::npos) << s;
  EXPECT_EQ(Run(".proc no_such_proc"), 1);
  EXPECT_EQ(err.str(), "no procedure no_such_proc\n");
  EXPECT_EQ(Run(".proc"), 1);
  EXPECT_EQ(err.str(), "usage: .proc NAME\n");
}

TEST_F(IsqlEndToEnd, ProgramExitStatuses) {
  std::string tool = ZYL_ISQL_TOOL;
  auto ok = Shell(tool + " -c '" + connect + "' --format csv -e 'SELECT 1 AS a, NULL AS b' 2>/dev/null");
  EXPECT_EQ(ok.first, 0);
  EXPECT_EQ(ok.second, "a,b\r\n1,\r\n");
  auto failed = Shell(tool + " -c '" + connect + "' -e 'SELECT * FROM nope; SELECT 2' 2>&1");
  EXPECT_EQ(failed.first, 1);
  EXPECT_NE(failed.second.find("Error -141"), std::string::npos);
  EXPECT_EQ(failed.second.find("(1 row)"), std::string::npos);  // stopped before the second
  // A file named relative to the current directory is found there.
  std::string name = std::filesystem::path(file).filename().string();
  auto relative = Shell("cd '" + dir + "' && " + tool + " -c 'dbf=" + name + ";uid=dba;pwd=sql' -e 'SELECT 5 AS v' 2>&1");
  EXPECT_EQ(relative.first, 0) << relative.second;
  EXPECT_NE(relative.second.find("v\n-\n5"), std::string::npos) << relative.second;
  auto wrong = Shell(tool + " -c 'dbf=" + file + ";uid=dba;pwd=wrong' -e 'SELECT 1' 2>&1");
  EXPECT_EQ(wrong.first, 2);
  EXPECT_NE(wrong.second.find("cannot connect"), std::string::npos);
  EXPECT_EQ(Shell(tool + " --format xml 2>/dev/null").first, 255);
  auto piped = Shell("printf 'SELECT 3 AS c;\\nSELECT * FROM nope;\\nSELECT 4 AS d\\ngo\\n' | " + tool + " -c '" + connect +
                     "' 2>/dev/null");
  EXPECT_EQ(piped.first, 1);  // standard input goes on after the error, and says one happened
  EXPECT_NE(piped.second.find("d\n-\n4"), std::string::npos) << piped.second;
}

// Statements stay in one transaction until COMMIT or ROLLBACK; what is left uncommitted when
// the run ends is committed, unless the run ends on an error or --on-exit rollback says so.
TEST_F(IsqlEndToEnd, TypedRollbackRollsBackAndUncommittedWorkFollowsTheExitRule) {
  LoadDemo();
  auto count = [&] {
    EXPECT_EQ(Run("SELECT count(*) AS n FROM orders"), 0) << err.str();
    std::string s = out.str();
    size_t rule = s.find("-\n");
    return rule == std::string::npos ? -1 : std::atoi(s.c_str() + rule + 2);
  };
  ASSERT_EQ(Run("BEGIN TRANSACTION; DELETE FROM orders; ROLLBACK; SELECT count(*) AS n FROM orders"), 0) << err.str();
  EXPECT_NE(out.str().find("8 rows affected\nrolled back\nn\n-\n8\n"), std::string::npos) << out.str();
  // Without BEGIN as well: the statements since the last COMMIT are one transaction.
  ASSERT_EQ(Run("DELETE FROM orders WHERE id = 100; DELETE FROM orders WHERE id = 101; ROLLBACK"), 0);
  EXPECT_EQ(count(), 8);
  ASSERT_EQ(Run("DELETE FROM orders WHERE id = 100; COMMIT; DELETE FROM orders WHERE id = 101; ROLLBACK"), 0);
  EXPECT_EQ(count(), 7);
  // A normal end commits; --on-exit rollback and a run stopped by an error roll back.
  ASSERT_EQ(Run("DELETE FROM orders WHERE id = 101"), 0);
  EXPECT_EQ(count(), 6);
  TOptions rollback;
  rollback.RollbackOnExit = true;
  ASSERT_EQ(Run("DELETE FROM orders WHERE id = 102", rollback), 0);
  EXPECT_NE(err.str().find("uncommitted changes rolled back"), std::string::npos);
  EXPECT_EQ(count(), 6);
  ASSERT_EQ(Run("DELETE FROM orders WHERE id = 102; SELECT * FROM nope; DELETE FROM orders"), 1);
  EXPECT_EQ(count(), 6);
  // Data definition commits, as the server does: what came before it stays.
  ASSERT_EQ(Run("DELETE FROM orders WHERE id = 103; CREATE TABLE t2 (x INT); ROLLBACK", rollback), 0);
  EXPECT_EQ(count(), 5);
  // The program says so and does so too (on a database of its own: this one is served here).
  std::string other = dir + "/other.db";
  ASSERT_EQ(std::system((std::string(ZYL_CREATEDB_TOOL) + " -q " + other).c_str()), 0);
  std::string tool = std::string(ZYL_ISQL_TOOL) + " -q -c 'dbf=" + other + ";uid=dba;pwd=sql'";
  ASSERT_EQ(Shell(tool + " -f " + ZYL_SOURCE_DIR + "/tools/demo/schema.sql >/dev/null 2>&1").first, 0);
  auto rows = [&] {
    auto r = Shell(tool + " --format csv -e 'SELECT count(*) AS n FROM orders' 2>/dev/null");
    return r.second.rfind("n\r\n", 0) == 0 ? std::atoi(r.second.c_str() + 3) : -1;
  };
  auto first = Shell(tool + " -e 'DELETE FROM orders WHERE id = 104' -e 'ROLLBACK' 2>&1");
  EXPECT_EQ(first.first, 0) << first.second;
  EXPECT_EQ(rows(), 8);
  EXPECT_EQ(Shell(tool + " --on-exit rollback -e 'DELETE FROM orders WHERE id = 104' 2>&1").first, 0);
  EXPECT_EQ(rows(), 8);
  EXPECT_EQ(Shell(tool + " -e 'DELETE FROM orders WHERE id = 104' 2>&1").first, 0);
  EXPECT_EQ(rows(), 7);
  EXPECT_NE(Shell(tool + " --help").second.find("uncommitted work is committed"), std::string::npos);
}

TEST_F(IsqlEndToEnd, CursorInsertsFindsRefreshesAndReportsARowAnotherConnectionChanged) {
  LoadDemo();
  TOptions options;
  options.OnError = TOnError::oeContinue;
  auto open = [&](TAsaDatabase& Db) {
    TConnectParams p;
    std::string e;
    return ParseConnectParams(connect, p, e) && Db.Connect(p, options);
  };
  TAsaDatabase a, b;
  ASSERT_TRUE(open(a)) << a.ErrorText();
  ASSERT_TRUE(open(b)) << b.ErrorText();
  std::ostringstream aout, aerr, bout, berr;
  TShell sa(a, options, aout, aerr), sb(b, options, bout, berr);

  ASSERT_TRUE(sa.RunText(".open SELECT id, name, city FROM customer ORDER BY id\n.find -i name = 'clara novak'\n"
                         ".find -i -p city = 'tor'\n.find name = 'clara'\n"
                         ".insert id = 5, name = 'Eve Roth', city = 'Graz'\nCOMMIT\n"));
  std::string s = aout.str();
  EXPECT_NE(s.find("Clara Novak"), std::string::npos) << s;
  EXPECT_NE(s.find("at row 3"), std::string::npos) << s;
  EXPECT_NE(s.find("Torino"), std::string::npos) << s;
  EXPECT_NE(s.find("no row matches"), std::string::npos) << "a whole value, in its case, by default: " << s;
  EXPECT_NE(s.find("Eve Roth"), std::string::npos) << s;
  EXPECT_NE(s.find("at row 5"), std::string::npos) << "the inserted row is shown where it stands: " << s;
  EXPECT_EQ(sa.Errors(), 0) << aerr.str();

  // Another connection changes the row the cursor stands on: the edit is refused, not written.
  aout.str("");
  ASSERT_TRUE(sa.RunText(".open SELECT id, name, city FROM customer ORDER BY id\n.find id = 2\n"));
  ASSERT_TRUE(sb.RunText("UPDATE customer SET city = 'Zurich' WHERE id = 2;\nCOMMIT\n"));
  EXPECT_EQ(sb.Errors(), 0) << berr.str();
  ASSERT_TRUE(sa.RunText(".update city = 'Bern'\n"));
  EXPECT_EQ(sa.Errors(), 1);
  EXPECT_NE(aerr.str().find("another user changed the record"), std::string::npos) << aerr.str();
  ASSERT_TRUE(sa.RunText(".refresh\n.update city = 'Bern'\nCOMMIT\n"));
  EXPECT_EQ(sa.Errors(), 1) << aerr.str();
  s = aout.str();
  EXPECT_NE(s.find("Zurich"), std::string::npos) << "the refreshed row: " << s;
  bout.str("");
  ASSERT_TRUE(sb.RunText("SELECT city FROM customer WHERE id = 2;\nSELECT count(*) AS n FROM customer;\n"));
  EXPECT_NE(bout.str().find("Bern"), std::string::npos) << bout.str();
  EXPECT_NE(bout.str().find("n\n-\n5\n"), std::string::npos) << bout.str();
}

namespace {

// A person at the prompt: the lines are typed in turn, and a line "@wait TEXT" is no line but
// the person sitting at the prompt (the idle handler running as the terminal runs it) until TEXT
// has appeared above it, or a minute has passed.
class TSittingUser : public TLineInput {
 public:
  explicit TSittingUser(std::vector<std::string> Lines) : FLines(std::move(Lines)) {}
  TReadResult ReadLine(const std::string&, std::string& Line) override {
    while (FNext < FLines.size() && FLines[FNext].rfind("@wait ", 0) == 0) {
      const std::string want = FLines[FNext++].substr(6);
      auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      while (Shown.find(want) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        if (FIdle) FIdle();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the terminal's poll
      }
    }
    if (FNext >= FLines.size()) return TReadResult::rrEnd;
    Line = FLines[FNext++];
    return TReadResult::rrLine;
  }
  bool Interactive() const override { return true; }
  void SetIdle(std::function<void()> Idle, bool) override { FIdle = std::move(Idle); }
  void ShowAbovePrompt(const std::string& Text) override { Shown += Text; }
  std::string Shown;

 private:
  std::vector<std::string> FLines;
  size_t FNext = 0;
  std::function<void()> FIdle;
};

}  // namespace

// .listen at one terminal, .notify at another (a second program on the same database): each
// message shows above the waiting prompt, once and in order; the tool's own .notify reaches its
// own listener too; .notify never commits the user's transaction.
TEST_F(IsqlEndToEnd, ListenShowsNotifiesOfAnotherProgramAtThePrompt) {
  LoadDemo();
  TAsaDatabase db;
  TConnectParams p;
  std::string e;
  ASSERT_TRUE(ParseConnectParams(connect, p, e)) << e;
  ASSERT_TRUE(db.Connect(p, TOptions{})) << db.ErrorText();
  const std::string other = "printf '.notify chat one\\n.notify chat \"two, three\"\\n.notify CHAT four\\n' | " +
                            std::string(ZYL_ISQL_TOOL) + " -q -c '" + connect + "' 2>&1";
  std::string otherOutput;
  int otherStatus = -1;
  TSittingUser user({".listen chat", ".listen news", ".listen", ".send", "@wait CHAT: four",
                     ".notify news 'it''s here'", "@wait news: it's here",
                     // Inside the user's transaction: the embedded engine lets one connection
                     // write at a time, so the post waits for the user's lock and fails; it must
                     // not commit the user's work to get it.
                     "DELETE FROM orders WHERE id = 101;", ".notify news during", "ROLLBACK;",
                     ".notify news after", "@wait news: after", ".unlisten chat", ".listen", ".unlisten nope",
                     ".notify a;b x", ".notify"});
  TOptions options;
  options.Quiet = true;
  std::ostringstream shellOut, shellErr;
  {
    TShell shell(db, options, shellOut, shellErr);
    TIsqlAlerts alerts(db.Session());
    alerts.OnMessage = [&shell](const std::string& Line) { shell.PostNotice(Line); };
    AddAlertCommands(shell, alerts);
    shell.SetIdleHandler([&] { alerts.Pump(); });
    // ".send" runs the other program while this one's listener waits.
    shell.AddCommand({"send", {}, "", "", {}, {}, [&](TShell&, const std::string&) {
                        std::tie(otherStatus, otherOutput) = Shell(other);
                        return true;
                      }});
    shell.RunAll(user);
  }
  db.Disconnect();
  EXPECT_EQ(otherStatus, 0) << otherOutput << shellOut.str() << shellErr.str();
  const std::string& shown = user.Shown;
  size_t one = shown.find("chat: one\n"), two = shown.find("chat: two, three\n"), four = shown.find("CHAT: four\n");
  ASSERT_NE(one, std::string::npos) << shown;
  ASSERT_NE(two, std::string::npos) << shown;
  ASSERT_NE(four, std::string::npos) << shown;  // the name as the sender wrote it
  EXPECT_TRUE(one < two && two < four) << shown;
  EXPECT_EQ(shown.find("chat: one", one + 1), std::string::npos) << shown;  // once
  EXPECT_NE(shown.find("news: it's here"), std::string::npos) << shown;
  const std::string o = shellOut.str(), r = shellErr.str();
  EXPECT_NE(o.find("listening to chat\nlistening to news"), std::string::npos) << o;
  EXPECT_NE(o.rfind("listening to news"), o.find("listening to news")) << o;  // still, after .unlisten chat
  EXPECT_NE(r.find("not listening to 'nope'"), std::string::npos) << r;
  EXPECT_NE(r.find("cannot hold ';'"), std::string::npos) << r;
  EXPECT_NE(r.find("usage: .notify NAME TEXT"), std::string::npos) << r;
  EXPECT_NE(r.find("notify: Error -210"), std::string::npos) << r;
  EXPECT_EQ(shown.find("news: during"), std::string::npos) << shown;
  EXPECT_NE(shown.find("news: after"), std::string::npos) << shown;  // the listener lived on
  // The DELETE was rolled back although .notify committed its message in between.
  TOptions csv;
  csv.Format = TFormat::fmCsv;
  ASSERT_EQ(Run("SELECT count(*) AS n FROM orders WHERE id = 101", csv), 0) << err.str();
  EXPECT_EQ(out.str(), "n\r\n1\r\n");
}
