// SQL text the library wraps, scans or rewrites keeps working when the application's text holds
// comments and string literals that look like code: row counts and re-reads built around a
// cursor's query, the rowid column added to it, trailing text after a statement, connection
// variables resolved by name, the statements the library parses itself. Each case runs the text
// through the C entry points with comments in every position.
#include <vector>

#include "tests/dblib/DblibHarness.h"

using zyltest::DblibTest;
using zyltest::Message;

namespace {

char kProg[] = "ZYL";

class SqlTextTest : public DblibTest {
 protected:
  void SetUp() override {
    DblibTest::SetUp();
    ConnectFile(CreateDb("text"), "texteng");
    MustExec("CREATE TABLE customer(id INTEGER PRIMARY KEY, name VARCHAR(20))");
    MustExec("INSERT INTO customer VALUES (1, 'Ann')");
    MustExec("INSERT INTO customer VALUES (2, 'Bob')");
    MustExec("COMMIT");
  }

  // Opens sql as the binding does (row_counts on, so the count wraps the text), fetches every
  // row one by one as text and closes; rows joined by ';', columns by ','. "error <code>" when a
  // step fails.
  std::string Rows(const std::string& sql, unsigned options = CUR_READ_ONLY) {
    std::string on = "SET TEMPORARY OPTION row_counts = 'On'";
    if (Exec(on) != 0) return "error set";
    short stmt = 0;
    std::string text = sql;
    char cursor[] = "C1";
    dbpp_prepare(&ca, nullptr, kProg, &stmt, text.data(), nullptr, 0);
    if (ca.sqlcode < 0) return "error " + std::to_string(ca.sqlcode);
    dbpp_declare(&ca, cursor, nullptr, kProg, &stmt, options);
    dbpp_open(&ca, cursor, nullptr, kProg, &stmt, nullptr, 0, 0, options);
    std::string out;
    if (ca.sqlcode < 0) {
      out = "error " + std::to_string(ca.sqlcode);
    } else {
      const int count = ca.sqlerrd[2];
      SQLDA* da = alloc_sqlda(4);
      dbpp_describe(&ca, nullptr, kProg, &stmt, da, DESCRIBE_OUTPUT);
      std::vector<std::vector<char>> bufs(static_cast<size_t>(da->sqld), std::vector<char>(64));
      for (int i = 0; i < da->sqld; ++i) {
        da->sqlvar[i].sqltype = DT_STRING | 1;
        da->sqlvar[i].sqllen = 64;
        da->sqlvar[i].sqldata = bufs[static_cast<size_t>(i)].data();
      }
      int rows = 0;
      for (;;) {
        dbpp_fetch(&ca, cursor, FETCH_RELATIVE, 1, da, 0, 0);
        if (ca.sqlcode != 0) break;
        ++rows;
        if (!out.empty()) out += ";";
        for (int i = 0; i < da->sqld; ++i) out += (i ? "," : "") + std::string(bufs[static_cast<size_t>(i)].data());
      }
      if (ca.sqlcode < 0) out = "error " + std::to_string(ca.sqlcode);
      else if (count != rows) out += " (open counted " + std::to_string(count) + ")";
      free_sqlda(da);
      dbpp_close(&ca, cursor);
    }
    SQLCA keep = ca;
    dbpp_dropstmt(&ca, nullptr, kProg, &stmt);
    ca = keep;
    return out;
  }

  // The name DESCRIBE gives the first result column.
  std::string ColumnName(const std::string& sql) {
    short stmt = 0;
    std::string text = sql;
    dbpp_prepare(&ca, nullptr, kProg, &stmt, text.data(), nullptr, 0);
    if (ca.sqlcode < 0) return "error " + std::to_string(ca.sqlcode);
    SQLDA* da = alloc_sqlda(4);
    dbpp_describe(&ca, nullptr, kProg, &stmt, da, DESCRIBE_OUTPUT);
    std::string name(da->sqlvar[0].sqlname.data, static_cast<size_t>(da->sqlvar[0].sqlname.length));
    free_sqlda(da);
    dbpp_dropstmt(&ca, nullptr, kProg, &stmt);
    return name;
  }
};

TEST_F(SqlTextTest, CursorQueriesWithCommentsInEveryPosition) {
  const char* queries[] = {
      "SELECT id, name FROM customer -- note\n;",
      "SELECT id, name FROM customer -- note",
      "SELECT id, name FROM customer /* note */ ;",
      "-- leading\nSELECT id, name FROM customer",
      "/* leading */ SELECT id, name FROM customer",
      "SELECT id,   -- the key\n name FROM customer",
      "SELECT id, name -- before FROM\nFROM customer",
      "SELECT id, name /* ) from x ( */ FROM customer",
      "SELECT id, name FROM customer -- it's\n",
      "SELECT id, name FROM customer ORDER BY id -- sorted\n",
      "SELECT id, name FROM customer; -- after the end",
      "SELECT id, name FROM customer WHERE name <> '-- no comment' -- one",
      "SELECT id, name FROM customer // note",
  };
  for (const char* q : queries) {
    EXPECT_EQ(Rows(q), "1,Ann;2,Bob") << q;
    EXPECT_EQ(Rows(q, CUR_FOR_UPDATE), "1,Ann;2,Bob") << q << " (updatable)";
  }
  EXPECT_EQ(Rows("SELECT 1 -- note\n;"), "1");
  EXPECT_EQ(ColumnName("SELECT 1 -- note\n;"), "1");
  EXPECT_EQ(ColumnName("SELECT id + 1 /* next */ FROM customer"), "id + 1");
  EXPECT_EQ(Rows("SELECT TOP 1 id, name FROM customer ORDER BY id -- first\n"), "1,Ann");
  EXPECT_EQ(Rows("SELECT name FROM customer WHERE name = '/* not a comment */'"), "");
}

TEST_F(SqlTextTest, StatementsTheLibraryParsesItselfIgnoreComments) {
  MustExec("CREATE VARIABLE v INTEGER -- counter\n;");
  MustExec("SET v = 5 -- five\n;");
  EXPECT_EQ(Query("SELECT v -- it's v\n"), "5");
  EXPECT_EQ(Query("SELECT v /* v's value */ + 1"), "6");
  MustExec("SET TEMPORARY OPTION date_format = 'YYYY-MM-DD' -- the default\n;");
  EXPECT_EQ(Query("SELECT name FROM customer WHERE id = 2; -- trailing comment"), "Bob");
  EXPECT_EQ(Exec("SELECT name FROM customer WHERE id = 2; SELECT 1"), SQLE_SYNTAX_ERROR);
  MustExec("INSERT INTO customer VALUES (3, 'Cy') -- third\n;");
  MustExec("UPDATE customer SET name = 'Cyd' /* renamed */ WHERE id = 3 -- done");
  EXPECT_EQ(Query("SELECT name FROM customer WHERE id = 3"), "Cyd");
}

TEST_F(SqlTextTest, ExplainReturnsThePlanAsRows) {
  std::string plan = Rows("EXPLAIN SELECT id, name FROM customer WHERE id = 1 -- by key");
  EXPECT_NE(plan.find("customer"), std::string::npos) << plan;
  EXPECT_EQ(plan.find("error"), std::string::npos) << plan;
  EXPECT_EQ(ColumnName("EXPLAIN SELECT name FROM customer"), "plan");
  // Without a cursor for its rows it is refused, not reported as done.
  EXPECT_EQ(Exec("EXPLAIN SELECT name FROM customer"), SQLE_NOT_IMPLEMENTED);
  EXPECT_EQ(Exec("EXPLAIN"), SQLE_SYNTAX_ERROR);
  EXPECT_EQ(Exec("EXPLAIN SELECT * FROM nosuch"), SQLE_TABLE_NOT_FOUND);
}

TEST_F(SqlTextTest, BlobLiteralsAreDescribedAsBinary) {
  short stmt = 0;
  std::string text = "SELECT x'00FF10', 'text', x'' || x'01'";
  dbpp_prepare(&ca, nullptr, kProg, &stmt, text.data(), nullptr, 0);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  SQLDA* da = alloc_sqlda(3);
  dbpp_describe(&ca, nullptr, kProg, &stmt, da, DESCRIBE_OUTPUT);
  EXPECT_EQ(da->sqlvar[0].sqltype & DT_TYPES, DT_BINARY);
  EXPECT_EQ(da->sqlvar[0].sqllen, 3);
  EXPECT_EQ(da->sqlvar[1].sqltype & DT_TYPES, DT_VARCHAR);
  free_sqlda(da);
  dbpp_dropstmt(&ca, nullptr, kProg, &stmt);
}

TEST_F(SqlTextTest, ForeignKeyFailuresNameTheKeyAndTheTable) {
  MustExec("CREATE TABLE orders(id INTEGER PRIMARY KEY, customer_id INTEGER REFERENCES customer(id),"
           " seller INTEGER, CONSTRAINT sold_by FOREIGN KEY (seller) REFERENCES customer(id))");
  MustExec("INSERT INTO orders VALUES (1, 1, 2)");
  MustExec("COMMIT");
  EXPECT_EQ(Exec("INSERT INTO orders VALUES (2, 9, 1)"), SQLE_INVALID_FOREIGN_KEY);
  EXPECT_EQ(Message(ca), "No primary key value for foreign key 'customer' in table 'orders'");
  EXPECT_EQ(Exec("UPDATE orders SET seller = 7 WHERE id = 1"), SQLE_INVALID_FOREIGN_KEY);
  EXPECT_EQ(Message(ca), "No primary key value for foreign key 'sold_by' in table 'orders'");
  EXPECT_EQ(Exec("DELETE FROM customer WHERE id = 2"), SQLE_PRIMARY_KEY_VALUE_REF);
  EXPECT_EQ(Message(ca), "Primary key for row in table 'customer' is referenced by foreign key 'sold_by' in table 'orders'");
  // The failed statements changed nothing, the diagnosis neither.
  EXPECT_EQ(Query("SELECT count(*) || ':' || min(seller) FROM orders"), "1:2");
  EXPECT_EQ(Query("SELECT count(*) FROM customer"), "2");
  MustExec("INSERT INTO orders VALUES (3, 2, 1)");
  MustExec("COMMIT");
  EXPECT_EQ(Query("SELECT count(*) FROM orders"), "2");
}

}  // namespace
