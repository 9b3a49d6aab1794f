// Stored procedures through the C entry points, the way the binding uses them: definitions and
// their catalog rows, CALL with every parameter direction, functions (in CALL and inside SQL),
// several result sets of different shapes with RESUME to the end, messages to the callback,
// errors the caller sees, and cancelling a procedure that loops forever.
#include <sqlite3.h>

#include <atomic>
#include <thread>

#include "tests/dblib/DblibHarness.h"

using zyltest::DblibTest;
using zyltest::Message;
using zyltest::OnPostgres;

namespace {

std::vector<std::pair<int, std::string>>* g_messages = nullptr;

extern "C" void OnMessage(SQLCA*, unsigned char type, an_sql_code, unsigned short length, char* msg) {
  if (g_messages) g_messages->emplace_back(type, std::string(msg, length));
}

class ProcCalls : public DblibTest {
 protected:
  void SetUp() override {
    DblibTest::SetUp();
    ConnectFile(CreateDb("procs"), "procs");
  }
  void TearDown() override {
    for (SQLDA* d : das) free_sqlda(d);
    DblibTest::TearDown();
  }

  short Prepare(const std::string& text) {
    short n = 0;
    std::string s = text;
    dbpp_prepare(&ca, nullptr, const_cast<char*>("T"), &n, s.data(), nullptr, 0);
    return n;
  }
  // A descriptor of n DT_STRING variables with their own buffers.
  SQLDA* Strings(int n) {
    SQLDA* da = alloc_sqlda(unsigned(n));
    da->sqld = short(n);
    bufs.emplace_back(size_t(n) * 256, '\0');
    for (int i = 0; i < n; ++i) {
      da->sqlvar[i].sqltype = DT_STRING | 1;
      da->sqlvar[i].sqllen = 256;
      da->sqlvar[i].sqldata = bufs.back().data() + i * 256;
    }
    das.push_back(da);
    return da;
  }
  void SetString(SQLDA* da, int i, const std::string& v) {
    std::snprintf(static_cast<char*>(da->sqlvar[i].sqldata), 256, "%s", v.c_str());
    *da->sqlvar[i].sqlind = 0;
  }
  static std::string Get(SQLDA* da, int i) {
    return *da->sqlvar[i].sqlind < 0 ? "<null>" : static_cast<const char*>(da->sqlvar[i].sqldata);
  }
  // Every row of the open cursor, all columns as text.
  std::vector<std::vector<std::string>> FetchAll(const char* cursor) {
    SQLDA* probe = alloc_sqlda(0);
    dbpp_describe_cursor(&ca, const_cast<char*>(cursor), probe, 1);
    int n = probe->sqld;
    free_sqlda(probe);
    std::vector<std::vector<std::string>> rows;
    if (n == 0) return rows;
    SQLDA* da = Strings(n);
    for (;;) {
      dbpp_fetch(&ca, const_cast<char*>(cursor), 2, 1, da, 0, 0);
      if (ca.sqlcode != 0) break;
      std::vector<std::string> row;
      for (int i = 0; i < n; ++i) row.push_back(Get(da, i));
      rows.push_back(row);
    }
    return rows;
  }
  std::vector<std::vector<std::string>> Rows(const std::string& sql) {
    short n = Prepare(sql);
    EXPECT_EQ(ca.sqlcode, 0) << Message(ca);
    dbpp_declare(&ca, const_cast<char*>("R"), nullptr, const_cast<char*>("T"), &n, 0);
    dbpp_open(&ca, const_cast<char*>("R"), nullptr, nullptr, nullptr, nullptr, 0, 0, 0);
    EXPECT_EQ(ca.sqlcode, 0) << Message(ca);
    auto rows = FetchAll("R");
    dbpp_close(&ca, const_cast<char*>("R"));
    dbpp_dropstmt(&ca, nullptr, const_cast<char*>("T"), &n);
    return rows;
  }

  std::vector<SQLDA*> das;
  std::vector<std::string> bufs;
};

using Rowset = std::vector<std::vector<std::string>>;

TEST_F(ProcCalls, DefinitionsAppearInTheCatalogAsWritten) {
  const std::string defn =
      "CREATE PROCEDURE sp_totals(IN cust integer, OUT total double, INOUT note varchar(40))\n"
      "RESULT (id integer, name char(20))\nBEGIN\n  SELECT 1, 'x';\nEND";
  MustExec(defn);
  EXPECT_EQ(Query("select proc_defn from sys.sysprocedure where proc_name = 'sp_totals'"), defn);
  // The parameter-discovery query of the stored-procedure component, as it sends it.
  std::string q =
      "select parm_name, (if (parm_mode_in='Y' and parm_mode_out='N' and parm_type=0) then 1 else (if (parm_mode_in='Y' "
      "and parm_mode_out='Y' and parm_type=0) then 2 else (if (parm_mode_in='N' and parm_mode_out='Y' and parm_type=0) "
      "then 3 else (if (parm_mode_in='N' and parm_mode_out='Y' and parm_type=4) then 4 else 0 endif) endif) endif) endif) "
      "as parm_type, domain_id as data_type from sys.sysprocedure pr, sys.sysprocparm pp, sys.sysuserperms up where "
      "pr.proc_id=pp.proc_id and creator=user_id and proc_name='sp_totals' order by pp.proc_id, parm_id";
  Rowset want = {{"cust", "1", "2"}, {"total", "3", "5"}, {"note", "2", "9"}, {"id", "0", "2"}, {"name", "0", "7"}};
  EXPECT_EQ(Rows(q), want);

  MustExec("CREATE FUNCTION fn_twice(x integer) RETURNS integer BEGIN RETURN x * 2; END");
  std::string fq =
      "select parm_name, parm_type, parm_mode_in, parm_mode_out from sys.sysprocedure pr, sys.sysprocparm pp "
      "where pr.proc_id = pp.proc_id and proc_name = 'fn_twice' order by parm_id";
  Rowset fwant = {{"fn_twice", "4", "N", "Y"}, {"x", "0", "Y", "N"}};
  EXPECT_EQ(Rows(fq), fwant);

  EXPECT_EQ(Exec("CREATE PROCEDURE sp_totals() BEGIN END"), SQLE_NAME_NOT_UNIQUE);
  MustExec("ALTER PROCEDURE sp_totals(IN a integer) BEGIN SELECT a; END");
  EXPECT_EQ(Query("select count(*) from sys.sysprocparm pp, sys.sysprocedure p where p.proc_id = pp.proc_id and proc_name = 'sp_totals'"), "1");
  MustExec("DROP PROCEDURE sp_totals");
  EXPECT_EQ(Exec("DROP PROCEDURE sp_totals"), SQLE_PROCEDURE_NOT_FOUND);
  EXPECT_EQ(Query("select count(*) from sys.sysprocedure where proc_name = 'sp_totals'"), "0");
}

TEST_F(ProcCalls, GarbageIsRefusedAtCreateAndLeavesNoTrace) {
  EXPECT_EQ(Exec("CREATE PROCEDURE bad() BEGIN DECLARE c CURSOR FOR SELECT 1; END"), SQLE_SYNTAX_ERROR);
  EXPECT_NE(Message(ca).find("DECLARE CURSOR"), std::string::npos) << Message(ca);
  EXPECT_EQ(Exec("CREATE PROCEDURE bad() BEGIN ))) garbage END"), SQLE_SYNTAX_ERROR);
  EXPECT_EQ(Query("select count(*) from sys.sysprocedure where proc_name = 'bad'"), "0");
  short n = Prepare("CALL nowhere(1)");
  EXPECT_EQ(ca.sqlcode, SQLE_PROCEDURE_NOT_FOUND);
  (void)n;
}

TEST_F(ProcCalls, CallFillsOutputsWithDirectionsDescribed) {
  MustExec(
      "CREATE PROCEDURE sp_io(IN a integer, OUT b varchar(30), INOUT c integer) BEGIN\n"
      " SET b = 'a was ' || a; SET c = c + a; END");
  short n = Prepare("call sp_io(:a, :b, :c)");
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  SQLDA* in = Strings(3);
  dbpp_describe(&ca, nullptr, const_cast<char*>("T"), &n, in, DESCRIBE_INPUT);
  ASSERT_EQ(in->sqld, 3);
  EXPECT_EQ(*in->sqlvar[0].sqlind & 0xC000, 0x4000);           // IN
  EXPECT_EQ(*in->sqlvar[1].sqlind & 0xC000, int(0x8000));      // OUT
  EXPECT_EQ(*in->sqlvar[2].sqlind & 0xC000, int(0xC000));      // INOUT
  EXPECT_EQ(std::string(in->sqlvar[1].sqlname.data, size_t(in->sqlvar[1].sqlname.length)), "b");
  SQLDA* probe = Strings(1);
  dbpp_describe(&ca, nullptr, const_cast<char*>("T"), &n, probe, DESCRIBE_OUTPUT_VARIABLE);
  EXPECT_EQ(ca.sqlerrd[2], 1);  // no result set: the shape does not vary
  EXPECT_EQ(probe->sqld, 2);    // one output per OUT/INOUT parameter

  SQLDA* args = Strings(3);
  SetString(args, 0, "5");
  *args->sqlvar[1].sqlind = -1;
  SetString(args, 2, "10");
  SQLDA* out = Strings(2);
  dbpp_execute_into(&ca, nullptr, const_cast<char*>("T"), &n, args, out);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  EXPECT_EQ(Get(out, 0), "a was 5");
  EXPECT_EQ(Get(out, 1), "15");
  dbpp_dropstmt(&ca, nullptr, const_cast<char*>("T"), &n);
}

TEST_F(ProcCalls, FunctionsInCallsAndInsideSql) {
  MustExec("CREATE FUNCTION fn_add(a integer, b integer DEFAULT 100) RETURNS integer BEGIN RETURN a + b; END");
  short n = Prepare("? = CALL fn_add(?, ?)");
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  SQLDA* args = Strings(3);
  *args->sqlvar[0].sqlind = -1;
  SetString(args, 1, "2");
  SetString(args, 2, "40");
  SQLDA* out = Strings(1);
  dbpp_execute_into(&ca, nullptr, const_cast<char*>("T"), &n, args, out);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  EXPECT_EQ(Get(out, 0), "42");
  dbpp_dropstmt(&ca, nullptr, const_cast<char*>("T"), &n);

  if (OnPostgres()) {
    // The server runs a statement's functions itself: a stored one is refused there, by name.
    EXPECT_EQ(Query("SELECT fn_add(1)"), "");
    EXPECT_EQ(ca.sqlcode, SQLE_NOT_IMPLEMENTED);
    EXPECT_NE(Message(ca).find("fn_add"), std::string::npos) << Message(ca);
    return;
  }
  EXPECT_EQ(Query("SELECT fn_add(1)"), "101");
  MustExec("CREATE TABLE t(v integer)");
  MustExec("INSERT INTO t VALUES (1), (2), (3)");
  EXPECT_EQ(Query("SELECT sum(fn_add(v, v)) FROM t"), "12");

  // A function defined on another connection is callable here once it is committed.
  dbpp_commit(&ca, 0);
  SQLCA other;
  db_init(&other);
  std::string cs = "ENG=procs;DBN=procs;UID=dba;PWD=sql";
  ASSERT_EQ(db_string_connect(&other, cs.data()), 1u) << Message(other);
  std::string def = "CREATE FUNCTION fn_neg(a integer) RETURNS integer BEGIN RETURN -a; END";
  dbpp_execute_imm(&other, def.data(), 2);
  EXPECT_EQ(other.sqlcode, 0) << Message(other);
  db_string_disconnect(&other, nullptr);
  db_fini(&other);
  EXPECT_EQ(Query("SELECT fn_neg(5)"), "-5");
}

TEST_F(ProcCalls, SeveralResultSetsWithResumeToTheEnd) {
  MustExec("CREATE TABLE item(id integer, name varchar(20))");
  MustExec("INSERT INTO item VALUES (1, 'one'), (2, 'two')");
  MustExec(
      "CREATE PROCEDURE sp_sets(IN k integer) BEGIN\n"
      " SELECT id, name FROM item WHERE id >= k ORDER BY id;\n"
      " SELECT count(*) AS n, 'done' AS what, k AS k FROM item;\n"
      "END");
  short n = Prepare("CALL sp_sets(?)");
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  SQLDA* probe = Strings(1);
  dbpp_describe(&ca, nullptr, const_cast<char*>("T"), &n, probe, DESCRIBE_OUTPUT_VARIABLE);
  EXPECT_EQ(ca.sqlerrd[2], 0);  // result may vary
  SQLDA* args = Strings(1);
  SetString(args, 0, "1");
  dbpp_declare(&ca, const_cast<char*>("C"), nullptr, const_cast<char*>("T"), &n, 0);
  dbpp_open(&ca, const_cast<char*>("C"), nullptr, nullptr, nullptr, args, 0, 0, 0);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  EXPECT_EQ(FetchAll("C"), (Rowset{{"1", "one"}, {"2", "two"}}));
  dbpp_resume(&ca, const_cast<char*>("C"));
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  EXPECT_EQ(FetchAll("C"), (Rowset{{"2", "done", "1"}}));
  dbpp_resume(&ca, const_cast<char*>("C"));
  EXPECT_EQ(ca.sqlcode, SQLE_PROCEDURE_COMPLETE);
  EXPECT_EQ(Message(ca), "Procedure has completed");
  dbpp_close(&ca, const_cast<char*>("C"));
  dbpp_dropstmt(&ca, nullptr, const_cast<char*>("T"), &n);
}

TEST_F(ProcCalls, AFailureAfterAResultSetIsReportedByTheResumeThatReachesIt) {
  MustExec("CREATE TABLE item(id integer)");
  MustExec("INSERT INTO item VALUES (1), (2)");
  MustExec("COMMIT");
  MustExec(
      "CREATE PROCEDURE sp_half() BEGIN\n"
      " SELECT id FROM item ORDER BY id;\n"
      " INSERT INTO item VALUES (3);\n"
      " RAISERROR 17600 'stopped after %1! rows', 2;\n"
      " SELECT 'never' AS what;\n"
      "END");
  short n = Prepare("CALL sp_half()");
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  dbpp_declare(&ca, const_cast<char*>("H"), nullptr, const_cast<char*>("T"), &n, 0);
  dbpp_open(&ca, const_cast<char*>("H"), nullptr, nullptr, nullptr, nullptr, 0, 0, 0);
  ASSERT_EQ(ca.sqlcode, 0) << "the first result set is there: " << Message(ca);
  EXPECT_EQ(FetchAll("H"), (Rowset{{"1"}, {"2"}}));
  dbpp_resume(&ca, const_cast<char*>("H"));
  EXPECT_EQ(ca.sqlcode, SQLE_RAISERROR_STMT);
  EXPECT_EQ(Message(ca), "RAISERROR executed: stopped after 2 rows");
  dbpp_resume(&ca, const_cast<char*>("H"));
  EXPECT_EQ(ca.sqlcode, SQLE_PROCEDURE_COMPLETE) << "reported once";
  dbpp_close(&ca, const_cast<char*>("H"));
  dbpp_dropstmt(&ca, nullptr, const_cast<char*>("T"), &n);
  EXPECT_EQ(Query("SELECT count(*) FROM item"), "2") << "the failed call's own change is undone";

  // A failure before any result set still fails the OPEN.
  MustExec("CREATE PROCEDURE sp_early() BEGIN RAISERROR 17601 'no'; SELECT 1; END");
  n = Prepare("CALL sp_early()");
  dbpp_declare(&ca, const_cast<char*>("E"), nullptr, const_cast<char*>("T"), &n, 0);
  dbpp_open(&ca, const_cast<char*>("E"), nullptr, nullptr, nullptr, nullptr, 0, 0, 0);
  EXPECT_EQ(ca.sqlcode, SQLE_RAISERROR_STMT);
  dbpp_dropstmt(&ca, nullptr, const_cast<char*>("T"), &n);
}

TEST_F(ProcCalls, OpenWithoutResultSetAndResumeOfAPlainSelectReportCompletion) {
  MustExec("CREATE TABLE log(v integer)");
  MustExec("CREATE PROCEDURE sp_quiet(IN v integer) BEGIN IF v < 0 THEN SELECT v; END IF; INSERT INTO log VALUES (v); END");
  short n = Prepare("CALL sp_quiet(5)");
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  dbpp_declare(&ca, const_cast<char*>("Q"), nullptr, const_cast<char*>("T"), &n, 0);
  dbpp_open(&ca, const_cast<char*>("Q"), nullptr, nullptr, nullptr, nullptr, 0, 0, 0);
  EXPECT_EQ(ca.sqlcode, SQLE_PROCEDURE_COMPLETE);
  dbpp_close(&ca, const_cast<char*>("Q"));
  EXPECT_EQ(ca.sqlcode, 0) << "the cursor was open: " << Message(ca);
  EXPECT_EQ(Query("SELECT count(*) FROM log WHERE v = 5"), "1");  // the procedure ran
  dbpp_dropstmt(&ca, nullptr, const_cast<char*>("T"), &n);

  n = Prepare("SELECT v FROM log");
  dbpp_declare(&ca, const_cast<char*>("S"), nullptr, const_cast<char*>("T"), &n, 0);
  dbpp_open(&ca, const_cast<char*>("S"), nullptr, nullptr, nullptr, nullptr, 0, 0, 0);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  dbpp_resume(&ca, const_cast<char*>("S"));
  EXPECT_EQ(ca.sqlcode, SQLE_PROCEDURE_COMPLETE);
  dbpp_close(&ca, const_cast<char*>("S"));
  dbpp_dropstmt(&ca, nullptr, const_cast<char*>("T"), &n);
}

TEST_F(ProcCalls, ConnectionVariablesNamedAsArgumentsReceiveOutputs) {
  MustExec(
      "CREATE PROCEDURE sp_vars(IN a integer, OUT b integer, INOUT c varchar(20)) BEGIN\n"
      " SET b = a * 2; SET c = c || '!'; SET a = 99;\n"
      " SELECT a AS seen;\n"
      "END");
  MustExec("CREATE VARIABLE va INTEGER");
  MustExec("CREATE VARIABLE vb INTEGER");
  MustExec("CREATE VARIABLE vc VARCHAR(20)");
  MustExec("SET va = 21");
  MustExec("SET vc = 'hi'");
  // Executed: outputs land in the variables, an IN argument's variable keeps its value.
  MustExec("CALL sp_vars(va, vb, vc)");
  EXPECT_EQ(Query("SELECT va"), "21");
  EXPECT_EQ(Query("SELECT vb"), "42");
  EXPECT_EQ(Query("SELECT vc"), "hi!");
  // Opened as a cursor (the procedure returns a result set), by name and out of order.
  EXPECT_EQ(Rows("CALL sp_vars(c = vc, b = vb, a = 5)"), (Rowset{{"99"}}));
  EXPECT_EQ(Query("SELECT vb"), "10");
  EXPECT_EQ(Query("SELECT vc"), "hi!!");
  // An expression or a literal in an output's place stores nothing and is no error.
  MustExec("CALL sp_vars(1, vb + 0, 'x')");
  EXPECT_EQ(Query("SELECT vb"), "10");

  // A variable selected without an alias is described by its own name.
  if (OnPostgres()) return;  // not yet on the network engine (one marker, two deduced types)
  short n = Prepare("SELECT vb, vb + 1, vb AS other");
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  SQLDA* da = Strings(3);
  dbpp_describe(&ca, nullptr, const_cast<char*>("T"), &n, da, DESCRIBE_OUTPUT);
  ASSERT_EQ(da->sqld, 3);
  EXPECT_EQ(std::string(da->sqlvar[0].sqlname.data, size_t(da->sqlvar[0].sqlname.length)), "vb");
  EXPECT_NE(std::string(da->sqlvar[1].sqlname.data, size_t(da->sqlvar[1].sqlname.length)), "vb");
  EXPECT_EQ(std::string(da->sqlvar[2].sqlname.data, size_t(da->sqlvar[2].sqlname.length)), "other");
  dbpp_dropstmt(&ca, nullptr, const_cast<char*>("T"), &n);
}

TEST_F(ProcCalls, MessagesReachTheCallback) {
  std::vector<std::pair<int, std::string>> got;
  g_messages = &got;
  db_register_a_callback(&ca, DB_CALLBACK_MESSAGE, reinterpret_cast<SQL_CALLBACK_PARM>(&OnMessage));
  MustExec("CREATE PROCEDURE sp_talk(IN n integer) BEGIN MESSAGE 'step ', n TO CLIENT; MESSAGE 'hm' TYPE WARNING TO CLIENT; END");
  MustExec("CALL sp_talk(7)");
  db_register_a_callback(&ca, DB_CALLBACK_MESSAGE, nullptr);
  g_messages = nullptr;
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], (std::pair<int, std::string>{0, "step 7"}));
  EXPECT_EQ(got[1].first, 1);
}

TEST_F(ProcCalls, ErrorsReachTheCaller) {
  MustExec("CREATE PROCEDURE sp_fail(IN n integer) BEGIN RAISERROR 17500 'order %1! refused', n; END");
  EXPECT_EQ(Exec("CALL sp_fail(3)"), SQLE_RAISERROR_STMT);
  EXPECT_EQ(Message(ca), "RAISERROR executed: order 3 refused");
  MustExec("CREATE PROCEDURE sp_deep(IN n integer) BEGIN CALL sp_deep(n + 1); END");
  EXPECT_EQ(Exec("CALL sp_deep(0)"), SQLE_NESTING_TOO_DEEP);
  // The connection still works afterwards.
  EXPECT_EQ(Query("SELECT 1"), "1");
}

TEST_F(ProcCalls, AFailedCallUndoesTheTransactionItBegan) {
  MustExec("CREATE TABLE acct(id integer PRIMARY KEY, bal integer)");
  MustExec("INSERT INTO acct VALUES (1, 100)");
  MustExec("COMMIT");
  MustExec("CREATE PROCEDURE sp_half(IN amt integer) BEGIN UPDATE acct SET bal = bal - amt WHERE id = 1; "
           "RAISERROR 17502 'refused'; END");
  EXPECT_EQ(Exec("CALL sp_half(10)"), SQLE_RAISERROR_STMT);
  MustExec("COMMIT");
  EXPECT_EQ(Query("SELECT bal FROM acct"), "100") << "the failed call's own change is gone";
  // Inside a transaction the caller began, the caller's work stays for the caller to end.
  MustExec("INSERT INTO acct VALUES (2, 5)");
  EXPECT_EQ(Exec("CALL sp_half(10)"), SQLE_RAISERROR_STMT);
  EXPECT_EQ(Query("SELECT count(*) FROM acct"), "2");
  MustExec("ROLLBACK");
}

TEST_F(ProcCalls, AFunctionFailingInsideSqlReportsItsOwnError) {
  if (OnPostgres()) GTEST_SKIP() << "stored functions inside SQL run on the embedded engine only";
  MustExec("CREATE FUNCTION f_check(IN n integer) RETURNS integer BEGIN\n"
           " IF n < 0 THEN RAISERROR 17501 'negative %1!', n; END IF;\n"
           " RETURN n * 2;\n"
           "END");
  MustExec("CREATE FUNCTION f_outer(IN n integer) RETURNS integer BEGIN RETURN f_check(n) + 1; END");
  MustExec("CREATE FUNCTION f_missing(IN n integer) RETURNS integer BEGIN RETURN n + (SELECT x FROM nowhere); END");
  MustExec("CREATE TABLE nums(n integer)");
  MustExec("INSERT INTO nums VALUES (1), (-4)");
  MustExec("COMMIT");
  EXPECT_EQ(Query("SELECT f_check(2)"), "4");
  // In a select list, in a WHERE clause, nested in another function, and in an UPDATE.
  EXPECT_EQ(Query("SELECT f_check(-1)"), "");
  EXPECT_EQ(ca.sqlcode, SQLE_RAISERROR_STMT);
  EXPECT_EQ(Message(ca), "RAISERROR executed: negative -1");
  EXPECT_EQ(Query("SELECT count(*) FROM nums WHERE f_check(n) > 0"), "");
  EXPECT_EQ(ca.sqlcode, SQLE_RAISERROR_STMT);
  EXPECT_EQ(Message(ca), "RAISERROR executed: negative -4");
  EXPECT_EQ(Query("SELECT f_outer(-2)"), "");
  EXPECT_EQ(ca.sqlcode, SQLE_RAISERROR_STMT);
  EXPECT_EQ(Exec("UPDATE nums SET n = f_check(n - 2)"), SQLE_RAISERROR_STMT);
  MustExec("ROLLBACK");
  EXPECT_EQ(Query("SELECT sum(n) FROM nums"), "-3");
  // An engine error inside the body keeps its code too.
  EXPECT_EQ(Query("SELECT f_missing(1)"), "");
  EXPECT_EQ(ca.sqlcode, SQLE_TABLE_NOT_FOUND);
  // A plain SQL error after those is reported as itself, not as a stale function error.
  EXPECT_EQ(Exec("SELECT nope FROM nums"), SQLE_COLUMN_NOT_FOUND);
  EXPECT_EQ(Query("SELECT f_check(3)"), "6");
}

TEST_F(ProcCalls, EngineFailuresInsideAProcedureAreReportedAndLoseNothing) {
  if (OnPostgres()) GTEST_SKIP() << "the failure seam is the embedded engine's";
  MustExec("CREATE TABLE acct(id integer PRIMARY KEY, bal integer)");
  MustExec("INSERT INTO acct VALUES (1, 100), (2, 0)");
  MustExec("COMMIT");
  MustExec(
      "CREATE PROCEDURE sp_move(IN amt integer, OUT left_over integer) BEGIN\n"
      " UPDATE acct SET bal = bal - amt WHERE id = 1;\n"
      " UPDATE acct SET bal = bal + amt WHERE id = 2;\n"
      " SELECT bal INTO left_over FROM acct WHERE id = 1;\n"
      " MESSAGE 'moved' TO CLIENT;\n"
      "END");
  // Fail the n-th engine call of the run, for every position the run reaches.
  int failures = 0;
  for (int n = 1; n <= 40; ++n) {
    zyl_fault_fail_after(n, SQLITE_IOERR);
    int code = Exec("CALL sp_move(10)");
    zyl_fault_fail_after(0, 0);
    MustExec("ROLLBACK");
    if (code < 0) ++failures;
    else EXPECT_EQ(code, 0) << "at call " << n;
    // Whatever failed, the rollback leaves both rows as committed.
    EXPECT_EQ(Query("SELECT sum(bal) FROM acct"), "100") << "at call " << n;
    EXPECT_EQ(Query("SELECT bal FROM acct WHERE id = 1"), "100") << "at call " << n;
  }
  EXPECT_GT(failures, 3);  // the seam was reached inside the procedure, not only around it
  MustExec("CALL sp_move(10)");
  EXPECT_EQ(Query("SELECT bal FROM acct WHERE id = 2"), "10");
}

TEST_F(ProcCalls, EndlessProcedureIsCancelled) {
  MustExec("CREATE PROCEDURE sp_spin() BEGIN DECLARE i integer = 0; WHILE 1 = 1 LOOP SET i = i + 1; END LOOP; END");
  std::atomic<bool> done{false};
  std::thread canceller([&] {
    while (!done) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      if (db_is_working(&ca)) {
        db_cancel_request(&ca);
        return;
      }
    }
  });
  int code = Exec("CALL sp_spin()");
  done = true;
  canceller.join();
  EXPECT_EQ(code, SQLE_INTERRUPTED);
  EXPECT_EQ(Query("SELECT 2"), "2");
}

}  // namespace
