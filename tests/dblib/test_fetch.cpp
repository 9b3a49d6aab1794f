// Cursor arithmetic as the binding relies on it: block fetches, both ends with the direction of
// the miss in SQLCOUNT, absolute positions from the end, relative moves, re-reading the
// current row, forward-only cursors and value transfer into the fetch descriptors. Driven
// through the C entry points only.
#include <array>
#include <fstream>
#include <vector>

#include "tests/dblib/DblibHarness.h"

using zyltest::DblibTest;
using zyltest::Message;
using zyltest::OnPostgres;

namespace {

char kProg[] = "ZYL";

class CursorTest : public DblibTest {
 protected:
  void SetUp() override {
    DblibTest::SetUp();
    file = CreateDb("cur");
    ConnectFile(file, "cureng");
  }
  void TearDown() override {
    if (open) dbpp_close(&ca, name.data());
    for (SQLDA* d : das) free_sqlda(d);
    DblibTest::TearDown();
  }

  void MakeRows(int n, const std::string& table = "t") {
    MustExec("CREATE TABLE " + table + "(id INTEGER PRIMARY KEY, name VARCHAR(30), qty INTEGER DEFAULT 7)");
    for (int i = 1; i <= n; ++i)
      MustExec("INSERT INTO " + table + "(id, name) VALUES (" + std::to_string(i) + ", 'row" + std::to_string(i) + "')");
    MustExec("COMMIT");
  }

  // PREPARE + DECLARE + OPEN as the binding does; returns the open SQLCODE.
  int OpenCursor(const std::string& sql, unsigned options = CUR_READ_ONLY) {
    std::string text = sql;
    dbpp_prepare(&ca, nullptr, kProg, &stmt, text.data(), nullptr, 0);
    if (ca.sqlcode < 0) return ca.sqlcode;
    dbpp_declare(&ca, name.data(), nullptr, kProg, &stmt, options);
    if (ca.sqlcode < 0) return ca.sqlcode;
    dbpp_open(&ca, name.data(), nullptr, kProg, &stmt, nullptr, 0, 0, options);
    open = ca.sqlcode >= 0;
    return ca.sqlcode;
  }

  // rows x 1 integer variables with indicators.
  SQLDA* IntBlock(int rows) {
    SQLDA* da = alloc_sqlda(static_cast<unsigned>(rows));
    das.push_back(da);
    da->sqld = static_cast<short>(rows);
    ints.assign(static_cast<size_t>(rows), -999);
    for (int r = 0; r < rows; ++r) {
      da->sqlvar[r].sqltype = DT_INT | 1;
      da->sqlvar[r].sqllen = 4;
      da->sqlvar[r].sqldata = &ints[static_cast<size_t>(r)];
    }
    return da;
  }

  int FetchArray(unsigned type, int offset, SQLDA* da, int rows) {
    for (auto& v : ints) v = -999;
    dbpp_fetch_array(&ca, name.data(), static_cast<unsigned short>(type), offset, da, 0, 0, static_cast<unsigned short>(rows));
    return ca.sqlcode;
  }
  int Move(unsigned type, int offset) {
    dbpp_fetch(&ca, name.data(), static_cast<unsigned short>(type), offset, nullptr, 0, 0);
    return ca.sqlcode;
  }
  // One row's id, or -1 when the fetch found none.
  int FetchId(unsigned type, int offset) {
    SQLDA* da = IntBlock(1);
    dbpp_fetch(&ca, name.data(), static_cast<unsigned short>(type), offset, da, 0, 0);
    return ca.sqlcode == 0 ? ints[0] : -1;
  }

  std::string file;
  std::string name = "ZYL-1";
  short stmt = 0;
  bool open = false;
  std::vector<SQLDA*> das;
  std::vector<int> ints;
};

TEST_F(CursorTest, SevenRowResultFillsOnlySevenOfTwentyFiveThenNotFound) {
  MakeRows(7);
  ASSERT_EQ(OpenCursor("SELECT id FROM t ORDER BY id"), 0) << Message(ca);
  SQLDA* da = IntBlock(25);
  ASSERT_EQ(FetchArray(FETCH_ABSOLUTE, 1, da, 25), 0) << Message(ca);
  EXPECT_EQ(ca.sqlerrd[2], 7);
  for (int r = 0; r < 7; ++r) EXPECT_EQ(ints[static_cast<size_t>(r)], r + 1);
  EXPECT_EQ(ints[7], -999);  // nothing written past the rows delivered
  // The cursor stands on row 7: the next block finds nothing, just past the end.
  EXPECT_EQ(FetchArray(FETCH_RELATIVE, 1, da, 7), SQLE_NOTFOUND);
  EXPECT_EQ(ca.sqlerrd[2], 0);
  EXPECT_EQ(FetchArray(FETCH_RELATIVE, 1, da, 7), SQLE_NOTFOUND);
  EXPECT_EQ(ca.sqlerrd[2], 1);  // already after the last row: one further beyond
}

TEST_F(CursorTest, LastBlockAndPrevAcrossTheBlockBoundary) {
  MakeRows(100);
  ASSERT_EQ(OpenCursor("SELECT id FROM t ORDER BY id"), 0) << Message(ca);
  SQLDA* da = IntBlock(10);
  ASSERT_EQ(FetchArray(FETCH_ABSOLUTE, -10, da, 10), 0) << Message(ca);
  ASSERT_EQ(ca.sqlerrd[2], 10);
  EXPECT_EQ(ints[0], 91);
  EXPECT_EQ(ints[9], 100);
  // Prev from the first row of that full block: relative -10 from row 100 starts at row 90.
  ASSERT_EQ(FetchArray(FETCH_RELATIVE, -10, da, 10), 0);
  EXPECT_EQ(ca.sqlerrd[2], 10);
  EXPECT_EQ(ints[0], 90);
  EXPECT_EQ(ints[9], 99);
  EXPECT_EQ(FetchId(FETCH_RELATIVE, 0), 99);  // left on the last row delivered
  // Back to the start: a block that would begin before row 1 is not found.
  ASSERT_EQ(FetchArray(FETCH_ABSOLUTE, 1, da, 10), 0);
  EXPECT_EQ(FetchArray(FETCH_RELATIVE, -10, da, 10), SQLE_NOTFOUND);
  EXPECT_EQ(ca.sqlerrd[2], 0);  // lands just before the first row
  EXPECT_EQ(FetchArray(FETCH_RELATIVE, -3, da, 10), SQLE_NOTFOUND);
  EXPECT_EQ(ca.sqlerrd[2], -3);
  EXPECT_EQ(FetchArray(FETCH_RELATIVE, 1, da, 10), 0);
  EXPECT_EQ(ints[0], 1);
}

TEST_F(CursorTest, PositionsOutsideTheResultReportHowFarAndWhere) {
  MakeRows(5);
  ASSERT_EQ(OpenCursor("SELECT id FROM t ORDER BY id"), 0);
  EXPECT_EQ(Move(FETCH_ABSOLUTE, 6), SQLE_NOTFOUND);
  EXPECT_EQ(ca.sqlerrd[2], 0);
  EXPECT_EQ(Move(FETCH_ABSOLUTE, 9), SQLE_NOTFOUND);
  EXPECT_EQ(ca.sqlerrd[2], 3);
  EXPECT_EQ(FetchId(FETCH_RELATIVE, -1), 5);  // from after the last row, PRIOR is the last row
  EXPECT_EQ(Move(FETCH_ABSOLUTE, -6), SQLE_NOTFOUND);
  EXPECT_EQ(ca.sqlerrd[2], 0);
  EXPECT_EQ(Move(FETCH_ABSOLUTE, -8), SQLE_NOTFOUND);
  EXPECT_EQ(ca.sqlerrd[2], -2);
  EXPECT_EQ(FetchId(FETCH_RELATIVE, 1), 1);  // from before the first row, NEXT is row 1
  EXPECT_EQ(FetchId(FETCH_ABSOLUTE, -2), 4);
  EXPECT_EQ(Move(FETCH_ABSOLUTE, 0), SQLE_NOTFOUND);  // before the first row
  EXPECT_EQ(FetchId(FETCH_RELATIVE, 1), 1);
  EXPECT_EQ(FetchId(FETCH_RELATIVE, 0), 1);
  EXPECT_EQ(Move(7, 1), SQLE_INVALID_FETCH_POSITION);  // no such offset type
}

TEST_F(CursorTest, RelativeMoveFromAFullBlockLandsWhereTheBindingComputes) {
  MakeRows(40);
  ASSERT_EQ(OpenCursor("SELECT id FROM t ORDER BY id"), 0);
  SQLDA* da = IntBlock(10);
  ASSERT_EQ(FetchArray(FETCH_ABSOLUTE, 1, da, 10), 0);
  // Buffer row 3 (row 4) is current in the client; the server cursor stands on row 10, so
  // MoveTo(20) (zero-based) asks for 20 - (3 + 10 - 1 - 3) = 11 rows further.
  ASSERT_EQ(Move(FETCH_RELATIVE, 11), 0);
  EXPECT_EQ(FetchId(FETCH_RELATIVE, 0), 21);
  // A partial block: 4 rows from row 37, client on buffer row 1: MoveTo(0) asks for -(36+3).
  ASSERT_EQ(FetchArray(FETCH_ABSOLUTE, 37, da, 10), 0);
  EXPECT_EQ(ca.sqlerrd[2], 4);
  EXPECT_EQ(FetchId(FETCH_RELATIVE, 0), 40);
  ASSERT_EQ(Move(FETCH_RELATIVE, -39), 0);
  EXPECT_EQ(FetchId(FETCH_RELATIVE, 0), 1);
}

TEST_F(CursorTest, BlockFetchFillsEveryColumnOfEveryRow) {
  MakeRows(30);
  ASSERT_EQ(OpenCursor("SELECT id, name FROM t WHERE id > 3 ORDER BY id"), 0);
  const int rows = 25;
  SQLDA* da = alloc_sqlda(rows * 2);
  das.push_back(da);
  da->sqld = rows * 2;
  std::vector<int> id(rows);
  std::vector<std::array<char, 31>> nm(rows);
  for (int r = 0; r < rows; ++r) {
    da->sqlvar[2 * r] = {DT_INT, 4, &id[static_cast<size_t>(r)], da->sqlvar[2 * r].sqlind, {}};
    da->sqlvar[2 * r + 1] = {DT_STRING | 1, 31, nm[static_cast<size_t>(r)].data(), da->sqlvar[2 * r + 1].sqlind, {}};
  }
  dbpp_fetch_array(&ca, name.data(), FETCH_RELATIVE, 1, da, 0, 0, rows);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  EXPECT_EQ(ca.sqlerrd[2], 25);
  EXPECT_EQ(id[0], 4);
  EXPECT_STREQ(nm[0].data(), "row4");
  EXPECT_EQ(id[24], 28);
  EXPECT_STREQ(nm[24].data(), "row28");
  dbpp_fetch_array(&ca, name.data(), FETCH_RELATIVE, 1, da, 0, 0, rows);
  EXPECT_EQ(ca.sqlcode, 0);
  EXPECT_EQ(ca.sqlerrd[2], 2);
  EXPECT_EQ(id[1], 30);
  // Rows of different types in one descriptor are refused.
  da->sqlvar[3].sqltype = DT_INT;
  dbpp_fetch_array(&ca, name.data(), FETCH_ABSOLUTE, 1, da, 0, 0, rows);
  EXPECT_EQ(ca.sqlcode, SQLE_SQLDA_INCONSISTENT);
}

TEST_F(CursorTest, TruncationAndNullAreReportedPerValue) {
  MakeRows(2);
  MustExec("UPDATE t SET name = NULL WHERE id = 2");
  MustExec("COMMIT");
  ASSERT_EQ(OpenCursor("SELECT name FROM t ORDER BY id"), 0);
  SQLDA* da = alloc_sqlda(1);
  das.push_back(da);
  char buf[4];
  da->sqld = 1;
  da->sqlvar[0].sqltype = DT_STRING | 1;
  da->sqlvar[0].sqllen = sizeof buf;
  da->sqlvar[0].sqldata = buf;
  dbpp_fetch(&ca, name.data(), FETCH_RELATIVE, 1, da, 0, 0);
  EXPECT_EQ(ca.sqlcode, SQLE_TRUNCATED);
  EXPECT_STREQ(buf, "row");
  EXPECT_EQ(*da->sqlvar[0].sqlind, 4);  // the full length
  dbpp_fetch(&ca, name.data(), FETCH_RELATIVE, 1, da, 0, 0);
  EXPECT_EQ(ca.sqlcode, 0);
  EXPECT_EQ(*da->sqlvar[0].sqlind, -1);
  // Without an indicator a NULL cannot be delivered.
  da->sqlvar[0].sqlind = nullptr;
  dbpp_fetch(&ca, name.data(), FETCH_RELATIVE, 0, da, 0, 0);
  EXPECT_EQ(ca.sqlcode, SQLE_NO_INDICATOR);
}

TEST_F(CursorTest, ReReadingTheCurrentRowSeesAnotherConnectionsCommit) {
  MakeRows(3);
  ASSERT_EQ(OpenCursor("SELECT id, name FROM t ORDER BY id"), 0);
  SQLDA* da = alloc_sqlda(2);
  das.push_back(da);
  int id = 0;
  char nm[31];
  da->sqld = 2;
  da->sqlvar[0].sqltype = DT_INT;
  da->sqlvar[0].sqldata = &id;
  da->sqlvar[1].sqltype = DT_STRING | 1;
  da->sqlvar[1].sqllen = sizeof nm;
  da->sqlvar[1].sqldata = nm;
  dbpp_fetch(&ca, name.data(), FETCH_RELATIVE, 1, da, 0, 0);
  ASSERT_EQ(ca.sqlcode, 0);
  ASSERT_STREQ(nm, "row1");

  SQLCA other;
  db_init(&other);
  std::string cs = ConnectionTo(file, "cureng");
  ASSERT_EQ(db_string_connect(&other, cs.data()), 1u) << Message(other);
  std::string upd = "UPDATE t SET name = 'changed' WHERE id = 1";
  dbpp_execute_imm(&other, upd.data(), 2);
  ASSERT_EQ(other.sqlcode, 0) << Message(other);
  dbpp_commit(&other, 0);
  ASSERT_EQ(other.sqlcode, 0) << Message(other);

  dbpp_fetch(&ca, name.data(), FETCH_RELATIVE, 0, da, 0, 0);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  EXPECT_STREQ(nm, "changed");
  // The cursor goes on where it was.
  dbpp_fetch(&ca, name.data(), FETCH_RELATIVE, 1, da, 0, FETCH_OPT_FOR_UPDATE);
  EXPECT_EQ(id, 2);
  // A row deleted by the other connection has left the result when the cursor comes back
  // (the embedded engine; a server cursor keeps the rows of the moment it was opened).
  if (OnPostgres()) {
    db_string_disconnect(&other, nullptr);
    db_fini(&other);
    return;
  }
  std::string del = "DELETE FROM t WHERE id = 1";
  dbpp_execute_imm(&other, del.data(), 2);
  dbpp_commit(&other, 0);
  dbpp_fetch(&ca, name.data(), FETCH_RELATIVE, 0, da, 0, 0);  // let go of the old snapshot
  dbpp_fetch(&ca, name.data(), FETCH_ABSOLUTE, 1, da, 0, 0);
  EXPECT_EQ(ca.sqlcode, 0);
  EXPECT_EQ(id, 2);
  db_string_disconnect(&other, nullptr);
  db_fini(&other);
}

TEST_F(CursorTest, JoinCursorScrollsBackThroughItsDeliveredRows) {
  MakeRows(12);
  MustExec("CREATE TABLE u(k INTEGER, v INTEGER)");
  MustExec("INSERT INTO u SELECT id, id * 10 FROM t");
  MustExec("COMMIT");
  ASSERT_EQ(OpenCursor("SELECT u.v FROM t JOIN u ON u.k = t.id ORDER BY t.id"), 0) << Message(ca);
  SQLDA* da = IntBlock(5);
  ASSERT_EQ(FetchArray(FETCH_RELATIVE, 1, da, 5), 0);
  EXPECT_EQ(ints[4], 50);
  ASSERT_EQ(FetchArray(FETCH_ABSOLUTE, -3, da, 5), 0);  // skips rows 6..9 without delivering
  EXPECT_EQ(ca.sqlerrd[2], 3);
  EXPECT_EQ(ints[0], 100);
  EXPECT_EQ(FetchId(FETCH_ABSOLUTE, 2), 20);  // delivered before
  EXPECT_EQ(FetchId(FETCH_ABSOLUTE, 7), 70);  // skipped before: the query runs again
  EXPECT_EQ(FetchId(FETCH_RELATIVE, 1), 80);
}

TEST_F(CursorTest, ForwardOnlyCursorRefusesToGoBack) {
  MakeRows(5);
  // The same moves whether the open read rows ahead to count them or not.
  for (const char* rowCounts : {"Off", "On"}) {
    SCOPED_TRACE(rowCounts);
    ASSERT_EQ(Exec(std::string("SET TEMPORARY OPTION row_counts = '") + rowCounts + "'"), 0) << Message(ca);
    ASSERT_EQ(OpenCursor("SELECT id FROM t ORDER BY id", CUR_READ_ONLY | CUR_NO_SCROLL), 0);
    // To the first row and back before it, as a move to the start does: the first row again.
    EXPECT_EQ(Move(FETCH_ABSOLUTE, 1), 0);
    EXPECT_EQ(Move(FETCH_RELATIVE, -1), SQLE_NOTFOUND);
    EXPECT_EQ(FetchId(FETCH_RELATIVE, 1), 1);
    EXPECT_EQ(FetchId(FETCH_RELATIVE, 2), 3);
    EXPECT_EQ(FetchId(FETCH_RELATIVE, 0), 3);
    EXPECT_EQ(Move(FETCH_RELATIVE, -1), SQLE_INVALID_FETCH_POSITION);
    EXPECT_EQ(FetchId(FETCH_RELATIVE, 1), 4);
    dbpp_close(&ca, name.data());
    open = false;
  }
}

TEST_F(CursorTest, OpenReportsExactCountWhenAskedElseAnEstimate) {
  MakeRows(42);
  ASSERT_EQ(Exec("SET TEMPORARY OPTION row_counts = 'On'"), 0) << Message(ca);
  ASSERT_EQ(OpenCursor("SELECT id FROM t WHERE id > 2"), 0);
  EXPECT_EQ(ca.sqlerrd[2], 40);
  dbpp_close(&ca, name.data());
  open = false;
  ASSERT_EQ(Exec("SET TEMPORARY OPTION row_counts = 'Off'"), 0);
  ASSERT_EQ(OpenCursor("SELECT id FROM t WHERE id > 2"), 0);
  EXPECT_LT(ca.sqlerrd[2], 0);
}

// One prepared statement opened again and again with a new bound value: each open counts and
// delivers exactly its own result, whether it ends within the rows an open reads ahead or not.
TEST_F(CursorTest, ReopenedStatementCountsAndDeliversEachResultExactly) {
  MakeRows(100);
  ASSERT_EQ(Exec("SET TEMPORARY OPTION row_counts = 'On'"), 0) << Message(ca);
  std::string text = "SELECT id FROM t WHERE id <= ? ORDER BY id";
  dbpp_prepare(&ca, nullptr, kProg, &stmt, text.data(), nullptr, 0);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  dbpp_declare(&ca, name.data(), nullptr, kProg, &stmt, CUR_READ_ONLY);
  SQLDA* in = alloc_sqlda(1);
  das.push_back(in);
  int limit = 0;
  in->sqld = 1;
  in->sqlvar[0].sqltype = DT_INT | 1;
  in->sqlvar[0].sqllen = 4;
  in->sqlvar[0].sqldata = &limit;
  *in->sqlvar[0].sqlind = 0;
  SQLDA* da = IntBlock(10);
  for (int n : {0, 1, 31, 32, 33, 100, 5, 64}) {
    SCOPED_TRACE("limit " + std::to_string(n));
    limit = n;
    dbpp_open(&ca, name.data(), nullptr, kProg, &stmt, in, 0, 0, CUR_READ_ONLY);
    ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
    open = true;
    EXPECT_EQ(ca.sqlerrd[2], n);
    std::vector<int> seen;
    while (FetchArray(FETCH_RELATIVE, 1, da, 10) == 0)
      for (int r = 0; r < ca.sqlerrd[2]; ++r) seen.push_back(ints[static_cast<size_t>(r)]);
    std::vector<int> want(static_cast<size_t>(n));
    for (int k = 0; k < n; ++k) want[static_cast<size_t>(k)] = k + 1;
    EXPECT_EQ(seen, want);
    if (n > 0) {
      EXPECT_EQ(FetchId(FETCH_ABSOLUTE, 1), 1);
      EXPECT_EQ(FetchId(FETCH_ABSOLUTE, -1), n);
    }
    dbpp_close(&ca, name.data());
    open = false;
  }
}

// A table changed between two opens of a statement prepared before: the second open describes
// and delivers the table as it is now.
TEST_F(CursorTest, ReopenAfterTheTableChangedDeliversItsNewColumns) {
  if (OnPostgres()) GTEST_SKIP() << "a server statement is prepared again by the server itself";
  MakeRows(3);
  std::string text = "SELECT * FROM t ORDER BY id";
  dbpp_prepare(&ca, nullptr, kProg, &stmt, text.data(), nullptr, 0);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  dbpp_declare(&ca, name.data(), nullptr, kProg, &stmt, CUR_READ_ONLY);
  dbpp_open(&ca, name.data(), nullptr, kProg, &stmt, nullptr, 0, 0, CUR_READ_ONLY);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  EXPECT_EQ(FetchId(FETCH_RELATIVE, 1), 1);
  dbpp_close(&ca, name.data());
  MustExec("ALTER TABLE t ADD extra INTEGER DEFAULT 41");
  MustExec("UPDATE t SET extra = id + 40");
  MustExec("COMMIT");
  dbpp_open(&ca, name.data(), nullptr, kProg, &stmt, nullptr, 0, 0, CUR_READ_ONLY);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  open = true;
  SQLDA* row = alloc_sqlda(4);
  das.push_back(row);
  int id = 0, qty = 0, extra = 0;
  char nm[31];
  row->sqld = 4;
  row->sqlvar[0] = {DT_INT | 1, 4, &id, row->sqlvar[0].sqlind, {}};
  row->sqlvar[1] = {DT_STRING | 1, 31, nm, row->sqlvar[1].sqlind, {}};
  row->sqlvar[2] = {DT_INT | 1, 4, &qty, row->sqlvar[2].sqlind, {}};
  row->sqlvar[3] = {DT_INT | 1, 4, &extra, row->sqlvar[3].sqlind, {}};
  dbpp_fetch(&ca, name.data(), FETCH_ABSOLUTE, 2, row, 0, 0);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  EXPECT_EQ(id, 2);
  EXPECT_EQ(extra, 42);
  // Once a fetch has met the change, the statement describes it too.
  SQLDA* described = alloc_sqlda(8);
  das.push_back(described);
  dbpp_describe(&ca, nullptr, kProg, &stmt, described, DESCRIBE_OUTPUT);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  EXPECT_EQ(described->sqld, 4);
}

// The rows an open reads ahead to count its result are delivered from copies; those copies
// must hold what the stream itself delivers, for every column type, NULLs, empty values and
// long values alike, and for cursors that find their rows again by rowid and those that keep
// what they delivered (a join).
TEST_F(CursorTest, RowsReadAheadAtOpenMatchTheStreamForEveryType) {
  MustExec(
      "CREATE TABLE v(id INTEGER PRIMARY KEY, i INTEGER, big BIGINT, d DOUBLE, n NUMERIC(20,6), s VARCHAR(40), "
      "dt DATE, tm TIME, ts TIMESTAMP, b BINARY(8), lv LONG VARCHAR, lb LONG BINARY)");
  MustExec("CREATE TABLE one(k INTEGER)");
  MustExec("INSERT INTO one VALUES (1)");
  for (int r = 1; r <= 40; ++r) {
    const std::string k = std::to_string(r);
    if (r % 7 == 3) {
      MustExec("INSERT INTO v(id) VALUES (" + k + ")");  // NULL everywhere else
      continue;
    }
    const std::string text = r % 5 == 0 ? "''" : "'text " + k + "'";
    std::string lv = "'short " + k + "'";
    if (r % 4 == 0) {
      lv = "'";
      for (int piece = 0; piece < 9000; ++piece) lv += "long ";
      lv += k + "'";
    }
    MustExec("INSERT INTO v VALUES (" + k + ", " + std::to_string(-r * 1000) + ", " + std::to_string(r) +
             "000000000000, " + k + ".25, " + k + "12345.123456, " + text + ", '2024-0" + std::to_string(1 + r % 9) +
             "-1" + std::to_string(r % 10) + "', '12:34:" + std::to_string(10 + r) + "', '2001-02-03 04:05:06." +
             std::to_string(100000 + r) + "', " + (r % 6 == 0 ? "X''" : "X'00ff" + std::string(r % 2 ? "10" : "00") + "'") +
             ", " + lv + ", " + (r % 3 == 0 ? "X'000102'" : "NULL") + ")");
  }
  MustExec("COMMIT");
  constexpr int kCols = 12;
  const int longSize = 60000;
  // Every column read as text (binary columns as DT_BINARY), each cell as indicator and bytes.
  auto readAll = [&](const std::string& sql, const char* rowCounts) {
    EXPECT_EQ(Exec(std::string("SET TEMPORARY OPTION row_counts = '") + rowCounts + "'"), 0) << Message(ca);
    std::vector<std::string> cells;
    if (OpenCursor(sql) != 0) {
      ADD_FAILURE() << Message(ca);
      return cells;
    }
    SQLDA* da = alloc_sqlda(kCols);
    das.push_back(da);
    da->sqld = kCols;
    std::vector<std::vector<char>> bufs(kCols, std::vector<char>(LONGVARCHARSIZE(longSize)));
    for (int c = 0; c < kCols; ++c) {
      char* p = bufs[static_cast<size_t>(c)].data();
      da->sqlvar[c].sqldata = p;
      if (c >= 10) {
        da->sqlvar[c].sqltype = static_cast<short>((c == 10 ? DT_LONGVARCHAR : DT_LONGBINARY) | 1);
        reinterpret_cast<LONGVARCHAR*>(p)->array_len = longSize;
        continue;
      }
      da->sqlvar[c].sqltype = static_cast<short>((c == 9 ? DT_BINARY : DT_STRING) | 1);
      da->sqlvar[c].sqllen = 100;
    }
    for (;;) {
      dbpp_fetch(&ca, name.data(), FETCH_RELATIVE, 1, da, 0, 0);
      if (ca.sqlcode == SQLE_NOTFOUND) break;
      if (ca.sqlcode < 0) {
        ADD_FAILURE() << Message(ca);
        break;
      }
      for (int c = 0; c < kCols; ++c) {
        const char* p = bufs[static_cast<size_t>(c)].data();
        std::string cell = std::to_string(*da->sqlvar[c].sqlind) + ":";
        if (*da->sqlvar[c].sqlind >= 0) {
          if (c >= 10) {
            auto* l = reinterpret_cast<const LONGVARCHAR*>(p);
            cell.append(l->array, l->stored_len);
          } else if (c == 9) {
            auto* b = reinterpret_cast<const BINARY*>(p);
            cell.append(b->array, b->len);
          } else {
            cell += p;
          }
        }
        cells.push_back(std::move(cell));
      }
    }
    dbpp_close(&ca, name.data());
    open = false;
    dbpp_dropstmt(&ca, nullptr, kProg, &stmt);
    return cells;
  };
  const std::string cols = "v.id, i, big, d, n, s, dt, tm, ts, b, lv, lb";
  for (const std::string& sql : {"SELECT " + cols + " FROM v ORDER BY id",
                                 "SELECT " + cols + " FROM v JOIN one ON one.k = 1 ORDER BY v.id"}) {
    SCOPED_TRACE(sql);
    std::vector<std::string> streamed = readAll(sql, "Off");
    std::vector<std::string> readAhead = readAll(sql, "On");
    ASSERT_EQ(streamed.size(), static_cast<size_t>(40 * kCols));
    EXPECT_EQ(readAhead, streamed);
    // The values themselves, not just agreement: a NULL row, an empty text, a long value.
    EXPECT_EQ(streamed[2 * kCols + 5], "-1:");
    EXPECT_EQ(streamed[4 * kCols + 5], "0:");
    EXPECT_EQ(streamed[3 * kCols + 10], "0:" + [] {
      std::string l;
      for (int k = 0; k < 9000; ++k) l += "long ";
      return l + "4";
    }());
    EXPECT_EQ(streamed[5 * kCols + 11], std::string("0:\0\1\2", 5));
  }
}

// Resident memory of this process in KiB.
long ResidentKiB() {
  std::ifstream f("/proc/self/statm");
  long pages = 0, resident = 0;
  f >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

TEST_F(CursorTest, ForwardOnlyCursorOverMillionsOfRowsKeepsMemoryFlat) {
  std::string sql =
      "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 10000000) SELECT x FROM c";
  ASSERT_EQ(OpenCursor(sql, CUR_READ_ONLY | CUR_NO_SCROLL), 0) << Message(ca);
  SQLDA* da = IntBlock(100);
  ASSERT_EQ(FetchArray(FETCH_RELATIVE, 1, da, 100), 0);
  long before = ResidentKiB();
  long last = 0;
  int calls = 0;
  while (FetchArray(FETCH_RELATIVE, 1, da, 100) == 0) {
    last = ints[static_cast<size_t>(ca.sqlerrd[2] - 1)];
    ++calls;
  }
  EXPECT_EQ(ca.sqlcode, SQLE_NOTFOUND);
  EXPECT_EQ(last, 10000000);
  EXPECT_EQ(calls, 99999);
#if defined(__SANITIZE_ADDRESS__)
  // The address sanitizer keeps freed blocks in quarantine, so resident memory says nothing
  // about what the cursor holds; the plain build checks it.
  (void)before;
#else
  EXPECT_LT(ResidentKiB() - before, 8 * 1024);  // a few MiB at most, not 10 million rows
#endif
}

}  // namespace
