// The driver of the interactive SQL tool over a scripted database: error policy, built-in
// commands, prompts, sources; and its argument and connection-parameter parsing.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "tools/isql/IsqlArgs.h"
#include "tools/isql/IsqlShell.h"

using namespace zylisql;

namespace {

// Remembers what it was asked; a statement containing FAIL fails with code -141.
class TFakeDatabase : public TDatabase {
 public:
  std::vector<std::string> Ran;
  std::vector<std::pair<std::string, std::string>> Updated;
  std::vector<std::pair<std::string, std::string>> Inserted, Found;
  std::string LastExplained, BackedUpTo;
  std::function<void(const std::string&)> Sink;
  int32_t Code = 0;

  bool Run(const std::string& Sql, TPrinter& Out) override {
    Ran.push_back(Sql);
    if (Sql.find("FAIL") != std::string::npos) {
      Code = -141;
      return false;
    }
    if (Sql.find("MSG") != std::string::npos && Sink) Sink("message: hello");
    if (Sql.rfind("insert", 0) == 0) Dirty = true;
    Out.BeginResult({{"n", true}});
    Out.Row({TCell::Of(std::to_string(Ran.size()))});
    Out.EndResult(1);
    return true;
  }
  bool Explain(const std::string& Sql, std::string& Plan) override {
    LastExplained = Sql;
    Plan = "seq scan";
    return true;
  }
  bool Backup(const std::string& Dir, const TBackupProgress& Progress) override {
    BackedUpTo = Dir;
    for (int i = 1; i <= 4; ++i) Progress("demo.db", i, 4);
    Progress("demo.log", 1, 1);
    return true;
  }
  bool ProcParams(const std::string& Name, TPrinter&) override {
    Ran.push_back("proc " + Name);
    return true;
  }
  bool CursorOpen(const std::string& Sql, TPrinter&) override {
    Ran.push_back("open " + Sql);
    return true;
  }
  bool CursorMove(TMove Move, int32_t Row, TPrinter&) override {
    Ran.push_back("move " + std::to_string(static_cast<int>(Move)) + " " + std::to_string(Row));
    return true;
  }
  bool CursorUpdate(const std::vector<std::pair<std::string, std::string>>& Values, TPrinter&) override {
    Updated = Values;
    return true;
  }
  bool CursorInsert(const std::vector<std::pair<std::string, std::string>>& Values, TPrinter&) override {
    Inserted = Values;
    return true;
  }
  bool CursorFind(const std::vector<std::pair<std::string, std::string>>& Values, bool CaseInsensitive, bool Partial,
                  TPrinter&) override {
    Found = Values;
    Ran.push_back(std::string("find") + (CaseInsensitive ? " -i" : "") + (Partial ? " -p" : ""));
    return true;
  }
  bool CursorDelete(TPrinter&) override { return true; }
  bool CursorClose() override { return true; }
  bool Execute(const std::string& Sql) override {
    Ran.push_back("exec " + Sql);
    return true;
  }
  bool Query(const std::string& Sql, std::vector<std::vector<TCell>>& Rows) override {
    Ran.push_back("query " + Sql);
    Rows = QueryRows;
    return true;
  }
  bool Transaction(TTxnOp Op) override {
    Ran.push_back(Op == TTxnOp::toBegin ? "begin" : Op == TTxnOp::toCommit ? "commit" : "rollback");
    if (Op != TTxnOp::toBegin) Dirty = false;
    return true;
  }
  bool Uncommitted() override { return Dirty; }
  bool PrepareInsert(const std::string& Table, const std::vector<std::string>& Columns) override {
    std::string cols;
    for (auto& c : Columns) cols += " " + c;
    Ran.push_back("insert into " + Table + cols);
    return true;
  }
  bool InsertRow(const std::vector<TCell>& Values) override {
    std::string row = "row";
    for (auto& v : Values) row += v.Null ? std::string(" NULL") : " '" + v.Text + "'";
    Ran.push_back(row);
    Dirty = true;
    return true;
  }
  void EndInsert() override {}
  std::vector<std::vector<TCell>> QueryRows;
  bool Dirty = false;
  int32_t ErrorCode() override { return Code; }
  std::string ErrorText() override { return "Error -141: Table 'nope' not found (42W33)"; }
  void SetMessageSink(std::function<void(const std::string&)> S) override { Sink = std::move(S); }
};

TOptions WithSources(std::vector<TSource> Sources, TOnError OnError = TOnError::oeDefault) {
  TOptions o;
  o.Sources = std::move(Sources);
  o.OnError = OnError;
  return o;
}

}  // namespace

TEST(IsqlShell, StopPolicyEndsTheRunAtTheFirstErrorWithStatusOne) {
  TFakeDatabase db;
  std::ostringstream out, err;
  TShell shell(db, WithSources({{TSource::skText, "select 1; select FAIL; select 3"}}), out, err);
  std::istringstream in;
  EXPECT_EQ(shell.RunAll(in, false), 1);
  EXPECT_EQ(db.Ran, (std::vector<std::string>{"select 1", "select FAIL"}));
  EXPECT_EQ(err.str(), "Error -141: Table 'nope' not found (42W33)\n");
}

TEST(IsqlShell, ContinuePolicyRunsEverythingAndStillReportsFailure) {
  TFakeDatabase db;
  std::ostringstream out, err;
  TShell shell(db,
               WithSources({{TSource::skText, "select 1; select FAIL"}, {TSource::skText, "select 3"}},
                           TOnError::oeContinue),
               out, err);
  std::istringstream in;
  EXPECT_EQ(shell.RunAll(in, false), 1);
  EXPECT_EQ(db.Ran.size(), 3u);
  EXPECT_EQ(shell.Errors(), 1);
}

TEST(IsqlShell, StandardInputGoesOnAfterErrorsByDefaultAndPromptsOnATerminal) {
  TFakeDatabase db;
  std::ostringstream out, err;
  TShell shell(db, TOptions{}, out, err);
  std::istringstream in("select FAIL;\nselect\n 2;\n");
  EXPECT_EQ(shell.RunAll(in, true), 0);  // the person at the terminal saw the error
  EXPECT_EQ(shell.Errors(), 1);
  EXPECT_EQ(db.Ran, (std::vector<std::string>{"select FAIL", "select\n 2"}));
  EXPECT_EQ(out.str().rfind("isql> ", 0), 0u);
  EXPECT_NE(out.str().find("   -> "), std::string::npos);  // continuation of the pending statement
}

TEST(IsqlShell, AFileThatCannotBeOpenedIsAnError) {
  TFakeDatabase db;
  std::ostringstream out, err;
  TShell shell(db, WithSources({{TSource::skFile, "/nonexistent/x.sql"}, {TSource::skText, "select 1"}}), out, err);
  std::istringstream in;
  EXPECT_EQ(shell.RunAll(in, false), 1);
  EXPECT_TRUE(db.Ran.empty());
  EXPECT_NE(err.str().find("cannot open file '/nonexistent/x.sql'"), std::string::npos);
}

TEST(IsqlShell, CatalogCommandsLookNamesUpWithoutRegardToCase) {
  TFakeDatabase db;
  std::ostringstream out, err;
  TShell shell(db, WithSources({}, TOnError::oeContinue), out, err);
  EXPECT_TRUE(shell.RunText(".tables Ord*\n.describe O'Brien\n.describe dba.Orders"));
  ASSERT_EQ(db.Ran.size(), 3u);
  EXPECT_NE(db.Ran[0].find("lower(t.table_name) LIKE 'ord%'"), std::string::npos) << db.Ran[0];
  EXPECT_NE(db.Ran[1].find("lower(t.table_name) = 'o''brien'"), std::string::npos);  // quoted safely
  EXPECT_NE(db.Ran[2].find("lower(t.table_name) = 'orders'"), std::string::npos);
  EXPECT_NE(db.Ran[2].find("lower(u.user_name) = 'dba'"), std::string::npos);
  // Nothing found: the table does not exist, and the user is told so.
  EXPECT_NE(err.str().find("no table O'Brien"), std::string::npos) << err.str();
  EXPECT_EQ(shell.Errors(), 2);
  db.Ran.clear();
  db.QueryRows = {{TCell::Of("101"), TCell::Of("DBA"), TCell::Of("orders"), TCell::Of("BASE")}};
  EXPECT_TRUE(shell.RunText(".describe orders"));
  ASSERT_GE(db.Ran.size(), 2u);
  EXPECT_EQ(db.Ran[1], DescribeTableSql("101"));
}

TEST(IsqlShell, ExplainBackupAndCursorCommandsReachTheDatabase) {
  TFakeDatabase db;
  std::ostringstream out, err;
  TShell shell(db, WithSources({}), out, err);
  EXPECT_TRUE(shell.RunText(".explain select * from t\n.backup /tmp/bk\n.open select * from t\n.next\n.goto 5\n"
                            ".update name = 'O''Neil', note = NULL, qty = 3\n.insert id = 7, name = 'x'\n"
                            ".find -i -p name = 'ab'\n.find qty = 3, name = 'A'\n.refresh\n"));
  EXPECT_EQ(db.LastExplained, "select * from t");
  EXPECT_NE(out.str().find("plan: seq scan"), std::string::npos);
  EXPECT_EQ(db.BackedUpTo, "/tmp/bk");
  // Not on a terminal: one finished bar per file.
  EXPECT_NE(out.str().find(ProgressBar("demo.db", 4, 4)), std::string::npos);
  EXPECT_EQ(out.str().find(ProgressBar("demo.db", 2, 4)), std::string::npos);
  EXPECT_NE(out.str().find(ProgressBar("demo.log", 1, 1)), std::string::npos);
  EXPECT_EQ(db.Ran, (std::vector<std::string>{"open select * from t", "move 2 0", "move 5 4", "find -i -p", "find",
                                              "move 4 0"}));
  EXPECT_EQ(db.Inserted, (std::vector<std::pair<std::string, std::string>>{{"id", "7"}, {"name", "'x"}}));
  EXPECT_EQ(db.Found, (std::vector<std::pair<std::string, std::string>>{{"qty", "3"}, {"name", "'A"}}));
  ASSERT_EQ(db.Updated.size(), 3u);
  EXPECT_EQ(db.Updated[0], (std::pair<std::string, std::string>{"name", "'O'Neil"}));
  EXPECT_EQ(db.Updated[1].second, "NULL");
  EXPECT_EQ(db.Updated[2].second, "3");
}

TEST(IsqlShell, BadCommandsAreErrorsAndQuitEndsTheRun) {
  TFakeDatabase db;
  std::ostringstream out, err;
  TShell shell(db, WithSources({}, TOnError::oeContinue), out, err);
  EXPECT_TRUE(shell.RunText(".frobnicate\n.goto 0\n.goto x\n.describe\n.update = 3\n.insert\n.find -i"));
  EXPECT_EQ(shell.Errors(), 7);
  EXPECT_NE(err.str().find("unknown command '.frobnicate'"), std::string::npos);
  EXPECT_FALSE(shell.RunText(".quit\nselect 1"));
  EXPECT_TRUE(shell.QuitRequested());
  EXPECT_TRUE(db.Ran.empty());
}

TEST(IsqlShell, MessagesAndTimingAreShownInOrder) {
  TFakeDatabase db;
  std::ostringstream out, err;
  TOptions o = WithSources({});
  o.Timing = true;
  TShell shell(db, o, out, err);
  EXPECT_TRUE(shell.RunText("select MSG"));
  std::string s = out.str();
  size_t msg = s.find("message: hello"), rows = s.find("(1 row)"), time = s.find("time: ");
  ASSERT_NE(msg, std::string::npos);
  ASSERT_NE(time, std::string::npos);
  EXPECT_LT(msg, rows);
  EXPECT_LT(rows, time);
}

TEST(IsqlShell, AssignmentParsing) {
  std::vector<std::pair<std::string, std::string>> v;
  std::string e;
  EXPECT_TRUE(ParseAssignments("a = 'x, y' , b=NULL,c = 4.5", v, e));
  EXPECT_EQ(v, (std::vector<std::pair<std::string, std::string>>{{"a", "'x, y"}, {"b", "NULL"}, {"c", "4.5"}}));
  EXPECT_TRUE(ParseAssignments("a = 'NULL'", v, e));
  EXPECT_EQ(v[0].second, "'NULL");  // the text NULL, not a null value
  EXPECT_FALSE(ParseAssignments("a = 'open", v, e));
  EXPECT_NE(e.find("no closing quote"), std::string::npos);
  EXPECT_FALSE(ParseAssignments("a = 'x' b = 2", v, e));
  EXPECT_FALSE(ParseAssignments("a =", v, e));
  EXPECT_FALSE(ParseAssignments("", v, e));
  EXPECT_FALSE(ParseAssignments("noequals", v, e));
}

TEST(IsqlShell, ProgressBarFillsWithThePagesDone) {
  EXPECT_EQ(ProgressBar("f", 0, 10, 10), "[..........]   0%  f  0/10 pages");
  EXPECT_EQ(ProgressBar("f", 5, 10, 10), "[#####.....]  50%  f  5/10 pages");
  EXPECT_EQ(ProgressBar("f", 12, 10, 10), "[##########] 100%  f  12/10 pages");
  EXPECT_EQ(ProgressBar("f", 0, 0, 4), "[####] 100%  f  0/0 pages");
}

TEST(IsqlArgs, OptionsInOrderWithPolicyDefaults) {
  TOptions o;
  std::string e;
  ASSERT_TRUE(ParseArgs({"-c", "dbf=x.db", "-e", "select 1", "-f", "a.sql", "--format=json", "--timing"}, o, e)) << e;
  EXPECT_EQ(o.Connect, "dbf=x.db");
  ASSERT_EQ(o.Sources.size(), 2u);
  EXPECT_EQ(o.Sources[0].Kind, TSource::skText);
  EXPECT_EQ(o.Sources[1].Value, "a.sql");
  EXPECT_EQ(o.Format, TFormat::fmJson);
  EXPECT_TRUE(o.Timing);
  EXPECT_TRUE(o.StopOnError());  // -e / -f stop by default
  TOptions i;
  ASSERT_TRUE(ParseArgs({"--on-error", "stop"}, i, e));
  EXPECT_TRUE(i.StopOnError());
  TOptions j;
  ASSERT_TRUE(ParseArgs({}, j, e));
  EXPECT_FALSE(j.StopOnError());  // standard input goes on
  TOptions k;
  ASSERT_TRUE(ParseArgs({"-e", "x", "--on-error=continue"}, k, e));
  EXPECT_FALSE(k.StopOnError());
}

TEST(IsqlArgs, BadCommandLinesAreRefusedWithAReason) {
  TOptions o;
  std::string e;
  EXPECT_FALSE(ParseArgs({"-e"}, o, e));
  EXPECT_NE(e.find("-e needs"), std::string::npos);
  EXPECT_FALSE(ParseArgs({"--format", "xml"}, o, e));
  EXPECT_NE(e.find("xml"), std::string::npos);
  EXPECT_FALSE(ParseArgs({"--on-error", "maybe"}, o, e));
  EXPECT_FALSE(ParseArgs({"--bogus"}, o, e));
  EXPECT_FALSE(ParseArgs({"--timing=yes"}, o, e));
}

TEST(IsqlArgs, ConnectionParametersMapToSessionProperties) {
  TConnectParams p;
  std::string e;
  ASSERT_TRUE(ParseConnectParams(" DBF = /d/demo.db ; Uid=dba;PWD=sql;eng=demo;CommLinks=tcpip;servertype=Workgroup;", p, e))
      << e;
  EXPECT_EQ(p.Database, "/d/demo.db");
  EXPECT_TRUE(p.DatabaseIsFile);
  EXPECT_EQ(p.User, "dba");
  EXPECT_EQ(p.Password, "sql");
  EXPECT_EQ(p.Engine, "demo");
  EXPECT_EQ(p.ServerType, "workgroup");
  EXPECT_EQ(p.ClientParams, "CommLinks=tcpip");
  TConnectParams n;
  ASSERT_TRUE(ParseConnectParams("dbn=sales;uid=u", n, e));
  EXPECT_EQ(n.Database, "sales");
  EXPECT_FALSE(n.DatabaseIsFile);
  EXPECT_FALSE(ParseConnectParams("dbf", n, e));
  EXPECT_FALSE(ParseConnectParams("=x", n, e));
  EXPECT_FALSE(ParseConnectParams("servertype=remote", n, e));
}

TEST(IsqlShell, TransactionStatementsReachTheSessionAndTheEndOfTheRunDecides) {
  TFakeDatabase db;
  std::ostringstream out, err;
  TShell shell(db, WithSources({{TSource::skText, "begin transaction; insert 1; Begin; ROLLBACK WORK; insert 2;\n"
                                                  "commit; insert 3; rollback to savepoint s"}}),
               out, err);
  std::istringstream in;
  EXPECT_EQ(shell.RunAll(in, false), 0);
  // BEGIN while changes wait does not commit them; ROLLBACK TO SAVEPOINT is the server's.
  EXPECT_EQ(db.Ran, (std::vector<std::string>{"begin", "insert 1", "rollback", "insert 2", "commit", "insert 3",
                                              "rollback to savepoint s", "commit"}));
  EXPECT_NE(out.str().find("uncommitted changes is open"), std::string::npos);
  // A run stopped by an error rolls back what it left; so does --on-exit rollback.
  TFakeDatabase stopped;
  TShell s2(stopped, WithSources({{TSource::skText, "insert 1; select FAIL"}}), out, err);
  EXPECT_EQ(s2.RunAll(in, false), 1);
  EXPECT_EQ(stopped.Ran.back(), "rollback");
  TFakeDatabase asked;
  TOptions o = WithSources({{TSource::skText, "insert 1"}});
  o.RollbackOnExit = true;
  TShell s3(asked, o, out, err);
  EXPECT_EQ(s3.RunAll(in, false), 0);
  EXPECT_EQ(asked.Ran.back(), "rollback");
  TTxnOp op;
  EXPECT_FALSE(IsTransactionStatement("BEGIN DECLARE x INT; SET x = 1; END", op));
  EXPECT_FALSE(IsTransactionStatement("COMMIT TRANSACTION t extra", op));
  EXPECT_TRUE(IsTransactionStatement(" commit tran t1 ", op));
  EXPECT_EQ(op, TTxnOp::toCommit);
}

TEST(IsqlShell, PromptShowsUncommittedWorkAndWordsPeopleTypeAreCommands) {
  TFakeDatabase db;
  std::ostringstream out, err;
  TShell shell(db, TOptions{}, out, err);
  std::istringstream in("insert 1;\nhelp\nselect\n quit\n;\n\\q\nselect 9;\n");
  EXPECT_EQ(shell.RunAll(in, true), 0);
  // "quit" inside a statement is part of it; on a line of its own it leaves.
  EXPECT_EQ(db.Ran, (std::vector<std::string>{"insert 1", "select\n quit", "commit"}));
  EXPECT_NE(out.str().find("isql*> "), std::string::npos);
  EXPECT_NE(out.str().find(".import FILE TABLE"), std::string::npos);  // help
  EXPECT_NE(out.str().find("uncommitted changes committed"), std::string::npos);
}

TEST(IsqlShell, ScriptErrorsNameTheFileAndLineAndReadNests) {
  std::string dir = testing::TempDir();
  std::string inner = dir + "/inner.sql", outer = dir + "/outer.sql";
  std::ofstream(inner) << "select 1;\n\nselect\n FAIL;\n";
  std::ofstream(outer) << "select 0;\n.read " << inner << "\nselect 2;\n";
  TFakeDatabase db;
  std::ostringstream out, err;
  TShell shell(db, WithSources({{TSource::skFile, outer}}, TOnError::oeContinue), out, err);
  std::istringstream in;
  EXPECT_EQ(shell.RunAll(in, false), 1);
  EXPECT_EQ(err.str(), inner + ":3: Error -141: Table 'nope' not found (42W33)\n");
  EXPECT_EQ(db.Ran.size(), 4u);
  std::ostringstream o2, e2;
  TShell loop(db, WithSources({{TSource::skText, ".read " + dir}}), o2, e2);
  EXPECT_EQ(loop.RunAll(in, false), 1);
  EXPECT_NE(e2.str().find("it is a directory"), std::string::npos);
  EXPECT_EQ(e2.str().find("Error 0"), std::string::npos);
}

TEST(IsqlShell, ImportLoadsCsvThroughOnePreparedInsertAndNamesTheBadLine) {
  std::string dir = testing::TempDir();
  std::string csv = dir + "/in.csv";
  std::ofstream(csv) << "\xEF\xBB\xBFID,Name\n1,\"Smith, \"\"Jo\"\"\"\n2,\n3,\"\"\n\n4,\"two\nlines\"\n";
  TFakeDatabase db;
  std::ostringstream out, err;
  TShell shell(db, WithSources({}), out, err);
  // The fake answers every query with these rows: the table found, and its columns.
  db.QueryRows = {{TCell::Of("id"), TCell::Of("DBA"), TCell::Of("people"), TCell::Of("BASE")},
                  {TCell::Of("name"), TCell::Of("DBA"), TCell::Of("people"), TCell::Of("BASE")}};
  EXPECT_TRUE(shell.RunText(".import " + csv + " people")) << err.str();
  std::vector<std::string> rows(db.Ran.end() - 5, db.Ran.end());
  EXPECT_EQ(rows, (std::vector<std::string>{"insert into DBA.people id name", "row '1' 'Smith, \"Jo\"'", "row '2' NULL",
                                            "row '3' ''", "row '4' 'two\nlines'"}));
  EXPECT_NE(out.str().find("4 rows imported into people"), std::string::npos);
  std::ofstream(csv) << "id,name\n1,a\n2\n";
  db.Ran.clear();
  EXPECT_TRUE(shell.RunText(".import " + csv + " people"));  // reported; the prompt goes on
  EXPECT_EQ(shell.Errors(), 1);
  EXPECT_NE(err.str().find(csv + ":3: 1 field where the header has 2 (nothing imported)"), std::string::npos) << err.str();
  // Changes made before stay: the import rolls back to its savepoint only.
  EXPECT_EQ(db.Ran.front(), "query " + FindTableSql("people"));
  EXPECT_NE(std::find(db.Ran.begin(), db.Ran.end(), "exec SAVEPOINT zyl_import"), db.Ran.end());
  EXPECT_EQ(db.Ran.back(), "exec ROLLBACK TO SAVEPOINT zyl_import");
}

TEST(IsqlShell, CompletionKnowsCommandsArgumentsAndTheCatalog) {
  std::vector<TCommand> commands = BuiltinCommands();
  TCatalogNames names{{"customer", "orders"}, {"order_total"}, {"city", "customer_id"}};
  auto words = [&](const std::string& Line, const std::string& Pending = std::string()) {
    size_t start = Line.find_last_of(" (,") == std::string::npos ? 0 : Line.find_last_of(" (,") + 1;
    return CompleteWord(Pending, Line, start, Line.size(), commands, names).Words;
  };
  EXPECT_EQ(words(".ex"), (std::vector<std::string>{".exit", ".expanded", ".explain", ".export"}));
  EXPECT_EQ(words(".describe CU"), (std::vector<std::string>{"customer"}));
  EXPECT_EQ(words(".format j"), (std::vector<std::string>{"json"}));
  EXPECT_TRUE(CompleteWord("", ".read to", 6, 8, commands, names).Files);
  EXPECT_EQ(words("select * from o"), (std::vector<std::string>{"orders"}));
  EXPECT_EQ(words("o", "select *\n  from"), (std::vector<std::string>{"orders"}));  // FROM on the line before
  EXPECT_EQ(words("CALL ord"), (std::vector<std::string>{"order_total"}));
  EXPECT_EQ(words("sel"), (std::vector<std::string>{"select"}));  // keywords in the case typed
  EXPECT_EQ(words("SELECT cu"), (std::vector<std::string>{"customer", "customer_id"}));
  EXPECT_EQ(words("SELECT o.ci"), (std::vector<std::string>{"o.city"}));
}

TEST(IsqlShell, HistoryEntriesKeepTheirLinesInTheFile) {
  std::string entry = "SELECT 'a\\b'\n  FROM t;";
  std::string line = EncodeHistoryEntry(entry);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  EXPECT_EQ(DecodeHistoryEntry(line), entry);
}
