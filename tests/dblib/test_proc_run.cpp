// The procedure interpreter over a test host that runs the SQL on an in-memory SQLite
// database: parameters in every direction, name resolution, control flow, result sets,
// messages, nested calls, errors and handlers, cancellation and the recursion limit.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>

#include "dblib/proc/ProcRun.h"
#include "dblib/sql/Errors.h"

using namespace dbl;

namespace {

class SqliteHost : public ProcHost {
 public:
  SqliteHost() { sqlite3_open(":memory:", &db_); }
  ~SqliteHost() override { sqlite3_close(db_); }

  void Sql(const char* text) { ASSERT_EQ(sqlite3_exec(db_, text, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db_); }
  std::shared_ptr<ProcDef> Define(const std::string& text) {
    auto d = std::make_shared<ProcDef>(ParseProcDdl(text));
    procs_[Lower(d->name)] = d;
    return d;
  }
  ProcCallResult Call(const std::string& name, std::vector<ProcArgValue> args = {}) {
    auto d = procs_.at(Lower(name));
    return RunProc(*d, OrderArguments(*d, args), *this);
  }
  int CallCode(const std::string& name, std::vector<ProcArgValue> args = {}) {
    try {
      Call(name, std::move(args));
    } catch (const SqlError& e) {
      last_ = e;
      return e.Code();
    }
    return 0;
  }
  int64_t ScalarInt(const char* q) {
    ProcRows r = Query(q, {}, 1);
    return r.rows.at(0).at(0).i;
  }

  ProcRows Query(const std::string& sql, const std::vector<Value>& params, size_t maxRows) override {
    ++queries;
    sqlite3_stmt* st = Prepare(sql, params);
    ProcRows out;
    for (int c = 0; c < sqlite3_column_count(st); ++c) out.columns.push_back(sqlite3_column_name(st, c));
    int rc;
    while (out.rows.size() < maxRows && (rc = sqlite3_step(st)) == SQLITE_ROW) {
      std::vector<Value> row;
      for (int c = 0; c < sqlite3_column_count(st); ++c) {
        switch (sqlite3_column_type(st, c)) {
          case SQLITE_INTEGER: row.push_back(Value::Int(sqlite3_column_int64(st, c))); break;
          case SQLITE_FLOAT: row.push_back(Value::Real(sqlite3_column_double(st, c))); break;
          case SQLITE_TEXT: row.push_back(Value::Text(reinterpret_cast<const char*>(sqlite3_column_text(st, c)))); break;
          case SQLITE_BLOB:
            row.push_back(Value::Blob(std::string(static_cast<const char*>(sqlite3_column_blob(st, c)), sqlite3_column_bytes(st, c))));
            break;
          default: row.push_back(Value()); break;
        }
      }
      out.rows.push_back(std::move(row));
    }
    sqlite3_finalize(st);
    return out;
  }
  int64_t Execute(const std::string& sql, const std::vector<Value>& params) override {
    sqlite3_stmt* st = Prepare(sql, params);
    int rc = sqlite3_step(st);
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
      if (rc == SQLITE_CONSTRAINT) throw SqlError(SQLE_PRIMARY_KEY_NOT_UNIQUE, {"t"});
      throw SqlError(SQLE_ERROR, {sqlite3_errmsg(db_)});
    }
    return sqlite3_changes(db_);
  }
  void ResultSet(const std::string& sql, const std::vector<Value>& params, const std::vector<ProcColumn>& declared) override {
    resultSets.push_back(Query(sql, params, SIZE_MAX));
    declaredColumns = declared.size();
  }
  void Message(int type, std::string_view text) override { messages.emplace_back(type, std::string(text)); }
  bool Cancelled() override { return cancel.load(); }
  std::shared_ptr<const ProcDef> FindProcedure(std::string_view, std::string_view name) override {
    auto it = procs_.find(Lower(std::string(name)));
    return it == procs_.end() ? nullptr : it->second;
  }

  std::vector<ProcRows> resultSets;
  size_t declaredColumns = 0;
  std::vector<std::pair<int, std::string>> messages;
  std::atomic<bool> cancel{false};
  int queries = 0;
  SqlError last_{0};

 private:
  static std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  }
  // Errors as the engine reports them: an unknown name is -143 with the name.
  sqlite3_stmt* Prepare(const std::string& sql, const std::vector<Value>& params) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
      std::string msg = sqlite3_errmsg(db_);
      const std::string prefix = "no such column: ";
      if (msg.rfind(prefix, 0) == 0) throw SqlError(SQLE_COLUMN_NOT_FOUND, {msg.substr(prefix.size())});
      throw SqlError(SQLE_SYNTAX_ERROR, {msg});
    }
    EXPECT_EQ(sqlite3_bind_parameter_count(st), static_cast<int>(params.size())) << sql;
    for (size_t i = 0; i < params.size(); ++i) {
      const Value& v = params[i];
      int k = static_cast<int>(i + 1);
      switch (v.kind) {
        case Value::Kind::Null: sqlite3_bind_null(st, k); break;
        case Value::Kind::Integer: sqlite3_bind_int64(st, k, v.i); break;
        case Value::Kind::Real: sqlite3_bind_double(st, k, v.d); break;
        case Value::Kind::Text: sqlite3_bind_text(st, k, v.bytes.data(), static_cast<int>(v.bytes.size()), SQLITE_TRANSIENT); break;
        case Value::Kind::Blob: sqlite3_bind_blob(st, k, v.bytes.data(), static_cast<int>(v.bytes.size()), SQLITE_TRANSIENT); break;
      }
    }
    return st;
  }
  sqlite3* db_ = nullptr;
  std::map<std::string, std::shared_ptr<ProcDef>> procs_;
};

class ProcRun : public ::testing::Test {
 protected:
  SqliteHost host;
};

TEST_F(ProcRun, ParametersInEveryDirection) {
  host.Define(
      "CREATE PROCEDURE p(IN a integer, OUT b varchar(20), INOUT c double, d integer DEFAULT 7)\n"
      "BEGIN SET b = 'got ' || a; SET c = c * 2 + d; SET a = 99; END");
  ProcCallResult r = host.Call("p", {{"", Value::Text("42")}, {"", Value::Text("ignored")}, {"", Value::Int(3)}});
  ASSERT_EQ(r.params.size(), 4u);
  EXPECT_EQ(r.params[0], Value::Int(99));  // changed inside, but IN: the caller ignores it
  EXPECT_EQ(r.params[1], Value::Text("got 42"));
  EXPECT_EQ(r.params[2], Value::Real(13.0));  // INOUT integer 3 became double
  EXPECT_EQ(r.params[3], Value::Int(7));      // default applied
  EXPECT_EQ(r.returnValue, Value::Int(0));

  // An OUT parameter starts NULL whatever the caller passed.
  host.Define("CREATE PROCEDURE q(OUT x integer) BEGIN IF x IS NULL THEN SET x = -1; END IF END");
  EXPECT_EQ(host.Call("q", {{"", Value::Int(5)}}).params[0], Value::Int(-1));
}

TEST_F(ProcRun, ArgumentBinding) {
  auto d = host.Define("CREATE PROCEDURE p(a int, b int DEFAULT 2, c int DEFAULT 3) BEGIN END");
  auto o = OrderArguments(*d, {{"", Value::Int(1)}, {"C", Value::Int(30)}});
  ASSERT_EQ(o.size(), 3u);
  EXPECT_EQ(*o[0], Value::Int(1));
  EXPECT_FALSE(o[1].has_value());
  EXPECT_EQ(*o[2], Value::Int(30));
  auto code = [&](std::vector<ProcArgValue> args) {
    try {
      OrderArguments(*d, args);
    } catch (const SqlError& e) {
      return e.Code();
    }
    return 0;
  };
  EXPECT_EQ(code({{"", Value()}, {"", Value()}, {"", Value()}, {"", Value()}}), SQLE_WRONG_PARAMETER_COUNT);
  EXPECT_EQ(code({{"zz", Value()}}), SQLE_INVALID_PARAMETER_NAME);
  EXPECT_EQ(code({{"b", Value()}, {"", Value()}}), SQLE_PARAMETER_NAME_MISSING);
  // An IN parameter without a value and without a default.
  host.Define("CREATE PROCEDURE need(IN a int) BEGIN END");
  EXPECT_EQ(host.CallCode("need"), SQLE_WRONG_PARAMETER_COUNT);
}

TEST_F(ProcRun, FunctionReturnsDeclaredType) {
  host.Define("CREATE FUNCTION f(x integer) RETURNS varchar(10) BEGIN RETURN x * 2; END");
  EXPECT_EQ(host.Call("f", {{"", Value::Int(21)}}).returnValue, Value::Text("42"));
  host.Define("CREATE FUNCTION g(x integer) RETURNS integer BEGIN IF x > 0 THEN RETURN 1; END IF; RETURN '-1'; END");
  EXPECT_EQ(host.Call("g", {{"", Value::Int(-5)}}).returnValue, Value::Int(-1));
  EXPECT_EQ(host.Call("g", {{"", Value::Int(5)}}).returnValue, Value::Int(1));
  host.Define("CREATE FUNCTION h() RETURNS integer BEGIN DECLARE v int; END");
  EXPECT_TRUE(host.Call("h").returnValue.IsNull());
}

TEST_F(ProcRun, ColumnsWinOverVariablesAndRewritesAreReused) {
  host.Sql("CREATE TABLE t(x INTEGER, y TEXT); INSERT INTO t VALUES (1,'a'),(5,'b'),(9,'c')");
  host.Define(
      "CREATE PROCEDURE p(IN x integer, IN lim integer, OUT r integer, OUT n integer)\n"
      "BEGIN SELECT max(x) INTO r FROM t; SELECT count(*) INTO n FROM t WHERE x > lim; END");
  ProcCallResult r = host.Call("p", {{"", Value::Int(100)}, {"", Value::Int(2)}});
  EXPECT_EQ(r.params[2], Value::Int(9));  // the column x, not the parameter
  EXPECT_EQ(r.params[3], Value::Int(2));
  int before = host.queries;
  r = host.Call("p", {{"", Value::Int(100)}, {"", Value::Int(5)}});
  EXPECT_EQ(r.params[3], Value::Int(1));  // new value bound through the remembered rewrite
  EXPECT_EQ(host.queries - before, 2);    // no failed first attempts this time

  // Variables in INSERT values while the column list names columns of the same name.
  host.Define("CREATE PROCEDURE ins(IN x integer, IN y varchar(5)) BEGIN INSERT INTO t (x, y) VALUES (x + x, y); END");
  host.Call("ins", {{"", Value::Int(21)}, {"", Value::Text("z")}});
  EXPECT_EQ(host.ScalarInt("SELECT x FROM t WHERE y = 'z'"), 42);
}

TEST_F(ProcRun, VariablesNamedWithAnAtSign) {
  // The engine reads "@name" as a parameter of its own, not as an unknown column: such variables
  // must be bound wherever they are used, or the statement runs short of values.
  host.Sql("CREATE TABLE t(x INTEGER); INSERT INTO t VALUES (1),(5),(9)");
  host.Define(
      "CREATE PROCEDURE p(IN @lim integer, OUT @n integer, INOUT @tag varchar(10))\n"
      "BEGIN DECLARE @twice integer; SET @twice = @lim * 2;\n"
      " SELECT count(*) INTO @n FROM t WHERE x > @LIM AND x < @twice + 100;\n"
      " IF @n > 1 THEN SET @tag = @tag || '+'; END IF;\n"
      " UPDATE t SET x = x + @n WHERE x = @lim; END");
  ProcCallResult r = host.Call("p", {{"", Value::Int(1)}, {"", Value()}, {"", Value::Text("a")}});
  EXPECT_EQ(r.params[1], Value::Int(2));
  EXPECT_EQ(r.params[2], Value::Text("a+"));
  EXPECT_EQ(host.ScalarInt("SELECT x FROM t WHERE rowid = 1"), 3);
}

TEST_F(ProcRun, UnknownNamesStayErrors) {
  host.Define("CREATE PROCEDURE p() BEGIN DECLARE v int; SET v = nosuch + 1; END");
  EXPECT_EQ(host.CallCode("p"), SQLE_COLUMN_NOT_FOUND);
  host.Define("CREATE PROCEDURE q() BEGIN SET nosuch = 1; END");
  EXPECT_EQ(host.CallCode("q"), SQLE_VARIABLE_NOT_FOUND);
  host.Define("CREATE PROCEDURE dup() BEGIN DECLARE v int; DECLARE v int; END");
  EXPECT_EQ(host.CallCode("dup"), SQLE_VARIABLE_EXISTS);
  // A label that does not enclose the LEAVE is refused when the procedure is created.
  EXPECT_THROW(host.Define("CREATE PROCEDURE lv() BEGIN LEAVE nowhere; END"), SqlError);
}

TEST_F(ProcRun, LoopsLabelsAndCase) {
  host.Define(
      "CREATE PROCEDURE p(OUT total integer, OUT odd integer, OUT word varchar(10)) BEGIN\n"
      "  DECLARE i integer = 0;\n"
      "  SET total = 0; SET odd = 0;\n"
      "  outer_loop: LOOP\n"
      "    SET i = i + 1;\n"
      "    IF i > 10 THEN LEAVE outer_loop; END IF;\n"
      "    IF mod(i, 2) = 0 THEN ITERATE outer_loop; END IF;\n"
      "    SET odd = odd + 1;\n"
      "  END LOOP outer_loop;\n"
      "  SET i = 0;\n"
      "  WHILE i < 4 LOOP SET i = i + 1; SET total = total + i; END LOOP;\n"
      "  CASE total WHEN 9 THEN SET word = 'nine'; WHEN 10 THEN SET word = 'ten'; ELSE SET word = 'other'; END CASE;\n"
      "  CASE WHEN odd > 5 THEN SET word = word || '+'; WHEN odd = 5 THEN SET word = word || '='; END CASE;\n"
      "END");
  ProcCallResult r = host.Call("p");
  EXPECT_EQ(r.params[0], Value::Int(10));
  EXPECT_EQ(r.params[1], Value::Int(5));
  EXPECT_EQ(r.params[2], Value::Text("ten="));
}

TEST_F(ProcRun, NullConditionIsFalseAndElseIfChain) {
  host.Define(
      "CREATE FUNCTION f(a integer) RETURNS varchar(10) BEGIN\n"
      " IF a > 0 THEN RETURN 'pos'; ELSEIF a < 0 THEN RETURN 'neg'; ELSE IF a = 0 THEN RETURN 'zero'; ELSE RETURN 'null'; END IF\n"
      "END");
  EXPECT_EQ(host.Call("f", {{"", Value::Int(3)}}).returnValue, Value::Text("pos"));
  EXPECT_EQ(host.Call("f", {{"", Value::Int(-3)}}).returnValue, Value::Text("neg"));
  EXPECT_EQ(host.Call("f", {{"", Value::Int(0)}}).returnValue, Value::Text("zero"));
  EXPECT_EQ(host.Call("f", {{"", Value()}}).returnValue, Value::Text("null"));
}

TEST_F(ProcRun, ForLoopOverRows) {
  host.Sql("CREATE TABLE t(id INTEGER, amount REAL); INSERT INTO t VALUES (1, 1.5), (2, 2.5), (3, 3.0)");
  host.Define(
      "CREATE PROCEDURE p(IN minid integer, OUT s double, OUT last integer) BEGIN\n"
      " SET s = 0;\n"
      " FOR r AS c CURSOR FOR SELECT id, amount FROM t WHERE id >= minid ORDER BY id DO\n"
      "   SET s = s + amount; SET last = id;\n"
      " END FOR;\n"
      "END");
  ProcCallResult r = host.Call("p", {{"", Value::Int(2)}});
  EXPECT_EQ(r.params[1], Value::Real(5.5));
  EXPECT_EQ(r.params[2], Value::Int(3));
}

TEST_F(ProcRun, ResultSetsOfDifferentShapesWithTheirMomentsData) {
  host.Sql("CREATE TABLE t(a INTEGER, b TEXT); INSERT INTO t VALUES (1, 'x')");
  host.Define(
      "CREATE PROCEDURE p(IN k integer, OUT n integer) BEGIN\n"
      " SELECT a, b FROM t WHERE a = k;\n"
      " INSERT INTO t VALUES (2, 'y');\n"
      " SELECT count(*) AS c FROM t;\n"
      " SET n = 2;\n"
      "END");
  ProcCallResult r = host.Call("p", {{"", Value::Int(1)}});
  ASSERT_EQ(host.resultSets.size(), 2u);
  EXPECT_EQ(host.resultSets[0].columns, (std::vector<std::string>{"a", "b"}));
  ASSERT_EQ(host.resultSets[0].rows.size(), 1u);
  EXPECT_EQ(host.resultSets[1].columns.size(), 1u);
  EXPECT_EQ(host.resultSets[1].rows[0][0], Value::Int(2));  // counted after the insert
  EXPECT_EQ(r.params[1], Value::Int(2));                    // outputs and result sets in one call
}

TEST_F(ProcRun, SelectIntoRowCounts) {
  host.Sql("CREATE TABLE t(a INTEGER); INSERT INTO t VALUES (1), (2)");
  host.Define("CREATE PROCEDURE many(OUT v integer) BEGIN SELECT a INTO v FROM t; END");
  EXPECT_EQ(host.CallCode("many"), SQLE_TOO_MANY_RECORDS);
  // No row: a warning; the variable keeps its value and the procedure goes on.
  host.Define("CREATE PROCEDURE none(OUT v integer, OUT w integer) BEGIN SET v = 7; SELECT a INTO v FROM t WHERE a > 5; SET w = 1; END");
  ProcCallResult r = host.Call("none");
  EXPECT_EQ(r.params[0], Value::Int(7));
  EXPECT_EQ(r.params[1], Value::Int(1));
  host.Define("CREATE PROCEDURE cols(OUT v integer) BEGIN SELECT a, a INTO v FROM t WHERE a = 1; END");
  EXPECT_EQ(host.CallCode("cols"), SQLE_WRONG_NUM_OF_FETCH_VARIABLES);
}

TEST_F(ProcRun, MessagesReachOnlyTheClientWhenAsked) {
  host.Define(
      "CREATE PROCEDURE p(IN n integer) BEGIN\n"
      " MESSAGE 'n is ', n, '!' TO CLIENT;\n"
      " MESSAGE 'careful' TYPE WARNING TO CLIENT;\n"
      " MESSAGE 'to the console' TYPE STATUS;\n"
      " MESSAGE 'act' TYPE ACTION TO CLIENT;\n"
      "END");
  host.Call("p", {{"", Value::Int(3)}});
  ASSERT_EQ(host.messages.size(), 3u);
  EXPECT_EQ(host.messages[0], (std::pair<int, std::string>{0, "n is 3!"}));
  EXPECT_EQ(host.messages[1], (std::pair<int, std::string>{1, "careful"}));
  EXPECT_EQ(host.messages[2].first, 2);
}

TEST_F(ProcRun, NestedCallsPassOutputsBack) {
  host.Define("CREATE PROCEDURE inner_p(IN a integer, OUT b integer, INOUT c varchar(20)) BEGIN SET b = a * 10; SET c = c || '!'; SELECT a AS from_inner; END");
  host.Define(
      "CREATE PROCEDURE outer_p(OUT r integer, OUT s varchar(20)) BEGIN\n"
      " DECLARE t varchar(20) = 'hi';\n"
      " CALL inner_p(4, r, t);\n"
      " CALL inner_p(c = t, a = r + 1, b = r);\n"
      " SET s = t;\n"
      "END");
  ProcCallResult r = host.Call("outer_p");
  EXPECT_EQ(r.params[0], Value::Int(410));
  EXPECT_EQ(r.params[1], Value::Text("hi!!"));
  EXPECT_EQ(host.resultSets.size(), 2u);  // the callee's result sets reach the caller
  host.Define("CREATE PROCEDURE bad() BEGIN CALL missing_p(1); END");
  EXPECT_EQ(host.CallCode("bad"), SQLE_PROCEDURE_NOT_FOUND);
}

TEST_F(ProcRun, RecursionWorksUpToTheLimit) {
  host.Define(
      "CREATE PROCEDURE fact(IN n integer, OUT r integer) BEGIN\n"
      " DECLARE sub integer;\n"
      " IF n <= 1 THEN SET r = 1; ELSE CALL fact(n - 1, sub); SET r = n * sub; END IF;\n"
      "END");
  EXPECT_EQ(host.Call("fact", {{"", Value::Int(10)}}).params[1], Value::Int(3628800));
  host.Define("CREATE PROCEDURE forever(IN n integer) BEGIN CALL forever(n + 1); END");
  EXPECT_EQ(host.CallCode("forever", {{"", Value::Int(0)}}), SQLE_NESTING_TOO_DEEP);
  // A handler cannot swallow the limit, and the depth is back to zero afterwards.
  host.Define("CREATE PROCEDURE guarded() BEGIN CALL forever(0); EXCEPTION WHEN OTHERS THEN MESSAGE 'caught' TO CLIENT; END");
  EXPECT_EQ(host.CallCode("guarded"), SQLE_NESTING_TOO_DEEP);
  EXPECT_EQ(host.Call("fact", {{"", Value::Int(5)}}).params[1], Value::Int(120));
}

TEST_F(ProcRun, SignalHandlersAndResignal) {
  host.Sql("CREATE TABLE t(a INTEGER PRIMARY KEY); INSERT INTO t VALUES (1)");
  host.Define(
      "CREATE PROCEDURE p(IN which integer, OUT how varchar(40)) BEGIN\n"
      " DECLARE too_big EXCEPTION FOR SQLSTATE '99001';\n"
      " DECLARE other EXCEPTION FOR SQLSTATE '99002';\n"
      " SET how = 'none';\n"
      " BEGIN\n"
      "   IF which = 1 THEN SIGNAL too_big; END IF;\n"
      "   IF which = 2 THEN INSERT INTO t VALUES (1); END IF;\n"
      "   IF which = 3 THEN SIGNAL other; END IF;\n"
      "   SET how = 'no error';\n"
      " EXCEPTION\n"
      "   WHEN too_big THEN SET how = 'too big ' || SQLSTATE;\n"
      "   WHEN OTHERS THEN SET how = 'others ' || SQLCODE; IF which = 3 THEN RESIGNAL; END IF;\n"
      " END;\n"
      " SET how = how || '.';\n"
      "END");
  EXPECT_EQ(host.Call("p", {{"", Value::Int(1)}}).params[1], Value::Text("too big 99001."));
  EXPECT_EQ(host.Call("p", {{"", Value::Int(2)}}).params[1], Value::Text("others -193."));
  EXPECT_EQ(host.Call("p", {{"", Value::Int(0)}}).params[1], Value::Text("no error."));
  EXPECT_EQ(host.CallCode("p", {{"", Value::Int(3)}}), SQLE_USER_DEFINED_EXCEPTION);

  host.Define("CREATE PROCEDURE unhandled() BEGIN DECLARE e EXCEPTION FOR SQLSTATE '99999'; SIGNAL e; END");
  EXPECT_EQ(host.CallCode("unhandled"), SQLE_USER_DEFINED_EXCEPTION);
  // A signal in a callee reaches the caller's handler with its SQLSTATE.
  host.Define("CREATE PROCEDURE thrower() BEGIN DECLARE e EXCEPTION FOR SQLSTATE '99042'; SIGNAL e; END");
  host.Define(
      "CREATE PROCEDURE catcher(OUT st varchar(5)) BEGIN DECLARE e42 EXCEPTION FOR SQLSTATE '99042';\n"
      " CALL thrower(); EXCEPTION WHEN e42 THEN SET st = SQLSTATE; END");
  EXPECT_EQ(host.Call("catcher").params[0], Value::Text("99042"));
}

TEST_F(ProcRun, RaisErrorFormatsItsMessage) {
  host.Define("CREATE PROCEDURE p(IN n integer) BEGIN RAISERROR 17001 'order %1! is %2! late', n, 'very'; END");
  EXPECT_EQ(host.CallCode("p", {{"", Value::Int(12)}}), SQLE_RAISERROR_STMT);
  ASSERT_FALSE(host.last_.Args().empty());
  EXPECT_EQ(host.last_.Args()[0], "order 12 is very late");
  host.Define("CREATE PROCEDURE low() BEGIN RAISERROR 16999 'x'; END");
  EXPECT_EQ(host.CallCode("low"), SQLE_ERROR_NUMBER_OUT_OF_RANGE);
  host.Define("CREATE PROCEDURE badfmt() BEGIN RAISERROR 17000 'x %21!'; END");
  EXPECT_EQ(host.CallCode("badfmt"), SQLE_INVALID_FORMAT_STRING_ARG_NUM);
}

TEST_F(ProcRun, CancelStopsEndlessLoopEvenWithHandler) {
  host.Define("CREATE PROCEDURE spin() BEGIN DECLARE i integer = 0; WHILE 1 = 1 LOOP SET i = i + 1; END LOOP; EXCEPTION WHEN OTHERS THEN SET i = 0; END");
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    host.cancel = true;
  });
  int code = host.CallCode("spin");
  canceller.join();
  EXPECT_EQ(code, SQLE_INTERRUPTED);
}

// A host on which the client's cancel arrives right after the first statement that changed data.
class CancelAfterChangeHost : public SqliteHost {
 public:
  int64_t Execute(const std::string& sql, const std::vector<Value>& params) override {
    ran.push_back(sql.substr(0, sql.find(' ')));
    if (ran.back() == "COMMIT" || ran.back() == "ROLLBACK") return 0;  // autocommit here: nothing to end
    int64_t n = SqliteHost::Execute(sql, params);
    cancel = true;
    return n;
  }
  std::vector<std::string> ran;
};

TEST(ProcRunCancel, ACancelAfterAChangeStillCommitsAndReturnsButStopsFurtherWork) {
  CancelAfterChangeHost host;
  host.Sql("CREATE TABLE q(id integer)");
  host.Define("CREATE PROCEDURE take() BEGIN INSERT INTO q VALUES (1); COMMIT; RETURN 7; END");
  ProcCallResult r = host.Call("take");
  EXPECT_EQ(r.returnValue.i, 7) << "the caller learns what was committed";
  EXPECT_EQ(host.ran, (std::vector<std::string>{"INSERT", "COMMIT"}));

  host.cancel = false;
  host.ran.clear();
  host.Define("CREATE PROCEDURE two() BEGIN INSERT INTO q VALUES (2); INSERT INTO q VALUES (3); ROLLBACK; END");
  EXPECT_EQ(host.CallCode("two"), SQLE_INTERRUPTED) << "further work is refused";
  EXPECT_EQ(host.ran, (std::vector<std::string>{"INSERT"}));
}

TEST_F(ProcRun, WaitForDelayWaitsAndIsCancellable) {
  host.Define("CREATE PROCEDURE w() BEGIN WAITFOR DELAY '00:00:00.150'; END");
  auto t0 = std::chrono::steady_clock::now();
  host.Call("w");
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(150));

  host.Define("CREATE PROCEDURE long_wait() BEGIN WAITFOR DELAY '01:00:00'; END");
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    host.cancel = true;
  });
  t0 = std::chrono::steady_clock::now();
  int code = host.CallCode("long_wait");
  canceller.join();
  EXPECT_EQ(code, SQLE_INTERRUPTED);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(30));  // not the hour
}

TEST(ProcValues, DelayLiterals) {
  EXPECT_EQ(ParseDelay("00:00:01"), 1000);
  EXPECT_EQ(ParseDelay("01:02:03.5"), 3723500);
  EXPECT_EQ(ParseDelay("2"), 2000);
  EXPECT_EQ(ParseDelay("1:30"), 90000);
  EXPECT_EQ(ParseDelay("0.001"), 1);
  EXPECT_EQ(ParseDelay(""), -1);
  EXPECT_EQ(ParseDelay("aa:bb"), -1);
  EXPECT_EQ(ParseDelay("1:2:3:4"), -1);
  EXPECT_EQ(ParseDelay("1.5:00"), -1);
  EXPECT_EQ(ParseDelay("-1"), -1);
}

TEST(ProcValues, CoercionToDeclaredTypes) {
  EXPECT_EQ(CoerceToType(Value::Text(" 12 "), "integer"), Value::Int(12));
  EXPECT_EQ(CoerceToType(Value::Real(-2.9), "bigint"), Value::Int(-2));
  EXPECT_EQ(CoerceToType(Value::Int(3), "double"), Value::Real(3.0));
  EXPECT_EQ(CoerceToType(Value::Int(3), "varchar(5)"), Value::Text("3"));
  EXPECT_EQ(CoerceToType(Value::Text("ab"), "long binary"), Value::Blob("ab"));
  EXPECT_EQ(CoerceToType(Value::Text("2024-01-02"), "date"), Value::Text("2024-01-02"));
  EXPECT_TRUE(CoerceToType(Value(), "integer").IsNull());
  EXPECT_THROW(CoerceToType(Value::Text("abc"), "integer"), SqlError);
  EXPECT_THROW(CoerceToType(Value::Text("1e400"), "integer"), SqlError);
  EXPECT_THROW(CoerceToType(Value::Int(2), "bit"), SqlError);
  EXPECT_THROW(CoerceToType(Value::Text("x1"), "numeric(10,2)"), SqlError);
  try {
    CoerceToType(Value::Text("abc"), "integer");
  } catch (const SqlError& e) {
    EXPECT_EQ(e.Code(), SQLE_CONVERSION_ERROR);
  }
}

}  // namespace
