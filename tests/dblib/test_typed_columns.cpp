// Typed columns refuse at the write what they cannot hold, on every path a value takes into a
// column (statement text, INSERT from a query, host variables, positioned PUT and UPDATE,
// procedures), and store what they accept in the column's own form; the server options
// string_rtruncation and conversion_error choose cutting or NULL instead of refusing. A database
// file that already holds such values stays readable row by row. Driven through the C entry
// points on real database files; the old file is made with SQLite directly, as an earlier
// version of the library could have left it.
#include <sqlite3.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/dblib/DblibHarness.h"

using zyltest::DblibTest;
using zyltest::Message;

namespace {

char kProg[] = "ZYL";

class TypedColumnsTest : public DblibTest {
 protected:
  void SetUp() override {
    DblibTest::SetUp();
    file = CreateDb("typed");
    ConnectFile(file, "typedeng");
    MustExec(
        "CREATE TABLE t(id INTEGER PRIMARY KEY, n INTEGER, s SMALLINT, u UNSIGNED INT, f DOUBLE, m NUMERIC(5,2),"
        " v VARCHAR(3), b BINARY(2), d DATE, tm TIME, ts TIMESTAMP, memo LONG VARCHAR)");
    MustExec("INSERT INTO t(id) VALUES (1)");
    MustExec("COMMIT");
  }
  void TearDown() override {
    for (SQLDA* d : das) free_sqlda(d);
    DblibTest::TearDown();
  }

  SQLDA* Alloc(int n) {
    SQLDA* d = alloc_sqlda(static_cast<unsigned>(n));
    d->sqld = static_cast<short>(n);
    das.push_back(d);
    return d;
  }
  // Prepares and executes sql with one DT_STRING host variable holding value.
  int ExecWithText(const std::string& sql, const char* value) {
    short n = 0;
    std::string text = sql;
    dbpp_prepare(&ca, nullptr, kProg, &n, text.data(), nullptr, 0);
    if (ca.sqlcode < 0) return ca.sqlcode;
    SQLDA* in = Alloc(1);
    std::string v = value;
    in->sqlvar[0].sqltype = DT_STRING;
    in->sqlvar[0].sqllen = static_cast<short>(v.size() + 1);
    in->sqlvar[0].sqldata = v.data();
    dbpp_execute_into(&ca, nullptr, kProg, &n, in, nullptr);
    int code = ca.sqlcode;
    dbpp_dropstmt(&ca, nullptr, kProg, &n);
    return code;
  }

  std::string file;
  std::vector<SQLDA*> das;
};

struct Refusal {
  const char* column;
  const char* literal;
  int code;
};
const Refusal kRefusals[] = {
    {"n", "'abc'", SQLE_CONVERSION_ERROR},      {"n", "3000000000", SQLE_OVERFLOW_ERROR},
    {"n", "x'01'", SQLE_CONVERSION_ERROR},       {"s", "40000", SQLE_OVERFLOW_ERROR},
    {"u", "-1", SQLE_OVERFLOW_ERROR},            {"f", "'1.5x'", SQLE_CONVERSION_ERROR},
    {"m", "1000", SQLE_OVERFLOW_ERROR},          {"m", "999.999", SQLE_OVERFLOW_ERROR},
    {"m", "'NaN'", SQLE_CONVERSION_ERROR},       {"m", "'Infinity'", SQLE_OVERFLOW_ERROR},
    {"f", "9e999", SQLE_OVERFLOW_ERROR},         {"v", "'abcd'", SQLE_STRING_RIGHT_TRUNCATION},
    {"v", "12345", SQLE_STRING_RIGHT_TRUNCATION}, {"b", "x'010203'", SQLE_STRING_RIGHT_TRUNCATION},
    {"d", "'nodate'", SQLE_CONVERSION_ERROR},    {"d", "'2005-02-30'", SQLE_CONVERSION_ERROR},
    {"d", "20051026", SQLE_CONVERSION_ERROR},    {"tm", "'25:00'", SQLE_CONVERSION_ERROR},
    {"ts", "'10:00:00'", SQLE_CONVERSION_ERROR},
};

TEST_F(TypedColumnsTest, EveryWriteRefusesWhatTheColumnCannotHoldAndStoresNothing) {
  for (const Refusal& r : kRefusals) {
    const std::string col = r.column, lit = r.literal;
    SCOPED_TRACE(col + " = " + lit);
    EXPECT_EQ(Exec("INSERT INTO t(id, " + col + ") VALUES (2, " + lit + ")"), r.code) << Message(ca);
    EXPECT_EQ(Exec("INSERT INTO t VALUES (2" + std::string(col == "n" ? ", " + lit : ", NULL") + ", NULL, NULL," +
                   " NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL)"),
              col == "n" ? r.code : 0);
    Exec("DELETE FROM t WHERE id = 2");
    EXPECT_EQ(Exec("UPDATE t SET " + col + " = " + lit + " WHERE id = 1"), r.code);
    EXPECT_EQ(Exec("UPDATE t SET " + col + " = " + lit + ", memo = 'x' WHERE id = 1"), r.code);
    EXPECT_EQ(Exec("INSERT INTO t(id, " + col + ") SELECT 3, " + lit), r.code);
    EXPECT_EQ(Exec("INSERT INTO t(id, " + col + ") SELECT 3, " + lit + " UNION ALL SELECT 4, NULL"), r.code);
    EXPECT_EQ(Query("SELECT count(*) FROM t"), "1");
    EXPECT_EQ(Query("SELECT count(*) FROM t WHERE " + col + " IS NOT NULL"), "0");
  }
  // The message names the value and the type, with the right article.
  ASSERT_EQ(Exec("UPDATE t SET n = 'abc'"), SQLE_CONVERSION_ERROR);
  EXPECT_EQ(Message(ca), "Cannot convert 'abc' to an integer");
  ASSERT_EQ(Exec("UPDATE t SET d = 'abc'"), SQLE_CONVERSION_ERROR);
  EXPECT_EQ(Message(ca), "Cannot convert 'abc' to a date");
}

TEST_F(TypedColumnsTest, HostVariablesProceduresAndPositionedChangesAreCheckedToo) {
  EXPECT_EQ(ExecWithText("INSERT INTO t(id, n) VALUES (2, ?)", "abc"), SQLE_CONVERSION_ERROR);
  EXPECT_EQ(ExecWithText("UPDATE t SET v = ? WHERE id = 1", "abcd"), SQLE_STRING_RIGHT_TRUNCATION);
  EXPECT_EQ(ExecWithText("UPDATE t SET d = ? WHERE id = 1", "2005-13-01"), SQLE_CONVERSION_ERROR);
  EXPECT_EQ(ExecWithText("UPDATE t SET n = ? WHERE id = 1", " 42 "), 0);
  EXPECT_EQ(Query("SELECT n FROM t WHERE id = 1"), "42");

  MustExec("CREATE PROCEDURE put(IN k INTEGER, IN val VARCHAR(20)) BEGIN INSERT INTO t(id, v) VALUES (k, val); END");
  EXPECT_EQ(Exec("CALL put(5, 'abcdef')"), SQLE_STRING_RIGHT_TRUNCATION);
  EXPECT_EQ(Exec("CALL put('five', 'a')"), SQLE_CONVERSION_ERROR);
  MustExec("CALL put(5, 'abc')");
  EXPECT_EQ(Query("SELECT v FROM t WHERE id = 5"), "abc");

  // PUT and UPDATE through an updatable cursor.
  std::string cur = "C1";
  short stmt = 0;
  std::string sel = "SELECT id, n, d FROM t ORDER BY id";
  dbpp_prepare(&ca, nullptr, kProg, &stmt, sel.data(), nullptr, 0);
  dbpp_declare(&ca, cur.data(), nullptr, kProg, &stmt, CUR_FOR_UPDATE);
  dbpp_open(&ca, cur.data(), nullptr, kProg, &stmt, nullptr, 0, 0, CUR_FOR_UPDATE);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  dbpp_fetch(&ca, cur.data(), FETCH_RELATIVE, 1, nullptr, 0, 0);
  ASSERT_EQ(ca.sqlcode, 0);
  SQLDA* upd = Alloc(3);
  char bad[] = "abc";
  upd->sqlvar[1].sqltype = DT_STRING;
  upd->sqlvar[1].sqllen = sizeof bad;
  upd->sqlvar[1].sqldata = bad;
  dbpp_update(&ca, cur.data(), upd);
  EXPECT_EQ(ca.sqlcode, SQLE_CONVERSION_ERROR) << Message(ca);
  SQLDA* put = Alloc(3);
  int id = 9;
  char date[] = "2005-10-26 17:30:00";
  put->sqlvar[0].sqltype = DT_INT;
  put->sqlvar[0].sqldata = &id;
  put->sqlvar[2].sqltype = DT_STRING;
  put->sqlvar[2].sqllen = sizeof date;
  put->sqlvar[2].sqldata = date;
  put->sqlvar[1].sqltype = DT_STRING;
  put->sqlvar[1].sqllen = sizeof bad;
  put->sqlvar[1].sqldata = bad;
  dbpp_put_into(&ca, cur.data(), put, nullptr);
  EXPECT_EQ(ca.sqlcode, SQLE_CONVERSION_ERROR) << Message(ca);
  put->sqlvar[1].sqltype = 0;  // n left out: the date alone is stored, as a date
  dbpp_put_into(&ca, cur.data(), put, nullptr);
  EXPECT_EQ(ca.sqlcode, 0) << Message(ca);
  dbpp_close(&ca, cur.data());
  EXPECT_EQ(Query("SELECT id FROM t WHERE d = '2005-10-26'"), "9");
  EXPECT_EQ(Query("SELECT count(*) FROM t WHERE n IS NOT NULL AND n <> 42"), "0");
}

TEST_F(TypedColumnsTest, AcceptedValuesAreStoredInTheColumnsForm) {
  MustExec("UPDATE t SET n = ' 12 ', s = 7.9, u = 4000000000, f = '2.5', m = 123.456, v = 'abc', b = x'0102'");
  MustExec("UPDATE t SET d = '2005/10/26 13:00', tm = '2005-10-26 13:14:15.5', ts = '2005-10-26'");
  EXPECT_EQ(Query("SELECT typeof(n) || ':' || n FROM t"), "integer:12");
  EXPECT_EQ(Query("SELECT s FROM t"), "7");
  EXPECT_EQ(Query("SELECT u FROM t"), "4000000000");
  EXPECT_EQ(Query("SELECT typeof(f) || ':' || f FROM t"), "real:2.5");
  EXPECT_EQ(Query("SELECT m FROM t"), "123.46");
  EXPECT_EQ(Query("SELECT d || '|' || tm || '|' || ts FROM t"), "2005-10-26|13:14:15.500|2005-10-26 00:00:00");
  // Comparisons with literals of the column's own type find the values.
  EXPECT_EQ(Query("SELECT count(*) FROM t WHERE d = '2005-10-26' AND ts = '2005-10-26 00:00:00'"), "1");

  // A date-time record for a DATE marker is a date, for a TIME marker a time.
  short n = 0;
  std::string sql = "UPDATE t SET d = ?, tm = ?, ts = ? WHERE id = 1";
  dbpp_prepare(&ca, nullptr, kProg, &n, sql.data(), nullptr, 0);
  SQLDA* in = Alloc(3);
  SQLDATETIME rec[3];
  for (auto& r : rec) {
    std::memset(&r, 0, sizeof r);
    r.year = 2007;
    r.month = 1;  // February
    r.day = 3;
    r.hour = 4;
    r.minute = 5;
    r.second = 6;
  }
  for (int i = 0; i < 3; ++i) {
    in->sqlvar[i].sqltype = DT_TIMESTAMP_STRUCT;
    in->sqlvar[i].sqllen = sizeof(SQLDATETIME);
    in->sqlvar[i].sqldata = &rec[i];
  }
  dbpp_execute_into(&ca, nullptr, kProg, &n, in, nullptr);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  EXPECT_EQ(Query("SELECT d || '|' || tm || '|' || ts FROM t"), "2007-02-03|04:05:06|2007-02-03 04:05:06");
  // ... and one compared with a DATE column finds the date.
  std::string find = "SELECT id FROM t WHERE d = ?";
  short f = 0;
  dbpp_prepare(&ca, nullptr, kProg, &f, find.data(), nullptr, 0);
  SQLDA* out = Alloc(1);
  int id = 0;
  out->sqlvar[0].sqltype = DT_INT;
  out->sqlvar[0].sqldata = &id;
  in->sqld = 1;
  dbpp_execute_into(&ca, nullptr, kProg, &f, in, out);
  EXPECT_EQ(ca.sqlcode, 0) << Message(ca);
  EXPECT_EQ(id, 1);
}

TEST_F(TypedColumnsTest, ServerOptionsChooseCuttingAndNullOverRefusing) {
  MustExec("SET TEMPORARY OPTION string_rtruncation = 'Off'");
  MustExec("UPDATE t SET v = 'abcdef', b = x'010203'");
  EXPECT_EQ(Query("SELECT v || ':' || length(b) FROM t"), "abc:2");
  MustExec("UPDATE t SET v = 'a\xC3\xA9\xC3\xA9'");  // never cut inside a character
  EXPECT_EQ(Query("SELECT length(CAST(v AS BLOB)) FROM t"), "3");
  EXPECT_EQ(Exec("UPDATE t SET n = 'abc'"), SQLE_CONVERSION_ERROR);
  MustExec("SET TEMPORARY OPTION conversion_error = 'Off'");
  MustExec("UPDATE t SET n = 'abc', d = 'nodate'");
  EXPECT_EQ(Query("SELECT coalesce(n, d, 'both null') FROM t"), "both null");
  EXPECT_EQ(Exec("UPDATE t SET n = 3000000000"), SQLE_OVERFLOW_ERROR);  // out of range is no conversion
  MustExec("SET TEMPORARY OPTION string_rtruncation = 'On'");
  EXPECT_EQ(Exec("UPDATE t SET v = 'abcd'"), SQLE_STRING_RIGHT_TRUNCATION);
}

// A file an earlier library wrote, holding values its columns cannot hold.
TEST_F(TypedColumnsTest, StoredBadValuesAreReportedRowByRow) {
  MustExec("CREATE TABLE old(id INTEGER PRIMARY KEY, n INTEGER)");
  MustExec("COMMIT");
  {
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &raw), SQLITE_OK);
    sqlite3_busy_timeout(raw, 5000);
    ASSERT_EQ(sqlite3_exec(raw, "INSERT INTO old VALUES (1, 10), (2, 20), (3, 'abc'), (4, 40), (5, 'xyz'), (6, 60)",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(raw);
  }
  for (unsigned options : {unsigned(CUR_READ_ONLY), unsigned(CUR_READ_ONLY | CUR_NO_SCROLL)}) {
    SCOPED_TRACE(options);
    std::string cur = "B1";
    short stmt = 0;
    std::string sel = "SELECT id, n FROM old ORDER BY id";
    dbpp_prepare(&ca, nullptr, kProg, &stmt, sel.data(), nullptr, 0);
    dbpp_declare(&ca, cur.data(), nullptr, kProg, &stmt, options);
    dbpp_open(&ca, cur.data(), nullptr, kProg, &stmt, nullptr, 0, 0, options);
    ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
    // Blocks of four rows, as the binding fetches them.
    SQLDA* da = Alloc(8);
    int vals[8];
    short ind[8];
    for (int i = 0; i < 8; ++i) {
      da->sqlvar[i].sqltype = DT_INT | 1;
      da->sqlvar[i].sqldata = &vals[i];
      da->sqlvar[i].sqlind = &ind[i];
    }
    std::string seen;
    for (int round = 0; round < 10; ++round) {
      dbpp_fetch_array(&ca, cur.data(), FETCH_RELATIVE, 1, da, 0, 0, 4);
      if (ca.sqlcode == SQLE_NOTFOUND) break;
      if (ca.sqlcode < 0) {
        seen += "[" + Message(ca) + "]";
        continue;
      }
      for (int r = 0; r < ca.sqlerrd[2]; ++r) seen += std::to_string(vals[r * 2]) + ":" + std::to_string(vals[r * 2 + 1]) + " ";
    }
    EXPECT_EQ(seen,
              "1:10 2:20 [Cannot convert 'abc' to an integer]4:40 [Cannot convert 'xyz' to an integer]6:60 ");
    dbpp_close(&ca, cur.data());
    dbpp_dropstmt(&ca, nullptr, kProg, &stmt);
  }
}

}  // namespace
