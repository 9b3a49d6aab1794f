// The rest of the published interface: descriptor routines, connection-string rules, named
// connections, chained transactions, cursor life cycle, messages and small utility calls.
#include <cstdlib>

#include "tests/dblib/DblibHarness.h"

using zyltest::DblibTest;
using zyltest::Message;

namespace {

TEST(Sqlda, AllocationSetsHeaderAndIndicators) {
  SQLDA* da = alloc_sqlda(3);
  ASSERT_NE(da, nullptr);
  EXPECT_EQ(std::memcmp(da->sqldaid, "SQLDA   ", 8), 0);
  EXPECT_EQ(da->sqldabc, int(SQLDASIZE(3)));
  EXPECT_EQ(da->sqln, 3);
  EXPECT_EQ(da->sqld, 0);
  for (int i = 0; i < 3; ++i) {
    ASSERT_NE(da->sqlvar[i].sqlind, nullptr);
    EXPECT_EQ(*da->sqlvar[i].sqlind, 0);
    EXPECT_EQ(da->sqlvar[i].sqldata, nullptr);
  }
  // Indicators are distinct: writing one leaves the others.
  *da->sqlvar[1].sqlind = -1;
  EXPECT_EQ(*da->sqlvar[0].sqlind, 0);
  EXPECT_EQ(*da->sqlvar[2].sqlind, 0);
  free_sqlda(da);
  SQLDA* noind = alloc_sqlda_noind(2);
  ASSERT_NE(noind, nullptr);
  EXPECT_EQ(noind->sqlvar[0].sqlind, nullptr);
  EXPECT_EQ(noind->sqlvar[1].sqlind, nullptr);
  free_sqlda_noind(noind);
  SQLDA* empty = alloc_sqlda_noind(0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->sqln, 0);
  free_sqlda_noind(empty);
  EXPECT_EQ(alloc_sqlda(40000), nullptr) << "more entries than sqln can count";
  free_sqlda(nullptr);
  free_sqlda_noind(nullptr);
  free_filled_sqlda(nullptr);
}

TEST(Sqlda, FillSizesBuffersSoFullLengthValuesFit) {
  SQLDA* da = alloc_sqlda(6);
  da->sqld = 6;
  da->sqlvar[0].sqltype = DT_STRING;
  da->sqlvar[0].sqllen = 10;
  da->sqlvar[1].sqltype = DT_VARCHAR | DT_NULLS_ALLOWED;
  da->sqlvar[1].sqllen = 30;
  da->sqlvar[2].sqltype = DT_LONGVARCHAR;
  da->sqlvar[2].sqllen = 32767;
  da->sqlvar[3].sqltype = DT_INT;
  da->sqlvar[4].sqltype = DT_TIMESTAMP_STRUCT;
  da->sqlvar[5].sqltype = DT_DATE;
  da->sqlvar[5].sqllen = 10;
  ASSERT_EQ(fill_sqlda(da), da);
  EXPECT_EQ(da->sqlvar[0].sqllen, 11);  // the NUL counts
  EXPECT_EQ(da->sqlvar[1].sqltype, DT_VARCHAR | DT_NULLS_ALLOWED);
  EXPECT_EQ(da->sqlvar[1].sqllen, 32);  // the structure: length word + 30 bytes
  EXPECT_EQ(da->sqlvar[2].sqltype, DT_VARCHAR);  // long types become their short form
  EXPECT_EQ(da->sqlvar[2].sqllen, 32767);
  EXPECT_EQ(da->sqlvar[5].sqllen, 11);
  for (int i = 0; i < 6; ++i) EXPECT_NE(da->sqlvar[i].sqldata, nullptr) << i;
  EXPECT_EQ(sqlda_storage(da, 1), 32u);
  EXPECT_EQ(sqlda_storage(da, 3), 4u);
  EXPECT_EQ(sqlda_storage(da, 4), sizeof(SQLDATETIME));
  EXPECT_EQ(sqlda_string_length(da, 3), 12u);  // "-2147483648" and the NUL
  EXPECT_EQ(sqlda_storage(da, 99), 0u);
  EXPECT_EQ(sqlda_storage(nullptr, 0), 0u);
  // The buffers are really that large (the sanitizer build checks the writes).
  std::memset(da->sqlvar[1].sqldata, 'x', 32);
  std::memset(da->sqlvar[2].sqldata, 'y', 32767);
  free_filled_sqlda(da);
}

TEST(Sqlda, FillCanKeepLongTypesOrTurnEverythingIntoStrings) {
  SQLDA* da = alloc_sqlda(2);
  da->sqld = 2;
  da->sqlvar[0].sqltype = DT_LONGBINARY;
  da->sqlvar[0].sqllen = 1000;
  da->sqlvar[1].sqltype = DT_DOUBLE;
  ASSERT_EQ(fill_sqlda_ex(da, FILL_SQLDA_FLAG_RETURN_DT_LONG), da);
  EXPECT_EQ(da->sqlvar[0].sqltype, DT_LONGBINARY);
  auto* lb = static_cast<LONGBINARY*>(da->sqlvar[0].sqldata);
  EXPECT_EQ(lb->array_len, 1000u);
  free_filled_sqlda(da);
  SQLDA* s = alloc_sqlda(2);
  s->sqld = 2;
  s->sqlvar[0].sqltype = DT_INT;
  s->sqlvar[1].sqltype = DT_VARCHAR;
  s->sqlvar[1].sqllen = 500;
  ASSERT_EQ(fill_s_sqlda(s, 100), s);
  EXPECT_EQ(s->sqlvar[0].sqltype, DT_STRING);
  EXPECT_EQ(s->sqlvar[0].sqllen, 12);
  EXPECT_EQ(s->sqlvar[1].sqltype, DT_STRING);
  EXPECT_EQ(s->sqlvar[1].sqllen, 100);  // capped by maxlen
  free_filled_sqlda(s);
}

class Api : public DblibTest {};

TEST_F(Api, ConnectionStringQuotingAndRepetition) {
  std::string file = CreateDb("quote");
  ConnectFile(file, "quote", ";ASTOP=NO");  // the engine stays up between the connects below
  MustExec("GRANT CONNECT TO \"o'neil\" IDENTIFIED BY 'a;b''c'");
  db_string_disconnect(&ca, nullptr);
  // Doubled quotes inside a quoted value; keys in any case; the last repetition wins.
  EXPECT_TRUE(Connect("eng=quote;dbn=quote;uid=nobody;UID=o'neil;Pwd='a;b''c'")) << Message(ca);
  EXPECT_FALSE(Connect("eng=quote;dbn=quote;uid=o'neil;pwd=a;CON=x")) << "the ';' ends an unquoted value";
  db_string_disconnect(&ca, nullptr);
  EXPECT_TRUE(Connect("eng=quote;dbn=quote;uid=o'neil;pwd=\"a;b'c\"")) << Message(ca);
  db_string_disconnect(&ca, nullptr);
  // Parameters the string lacks come from SQLCONNECT; the string's own win.
  setenv("SQLCONNECT", "UID=dba;PWD=sql;DBN=wrong", 1);
  EXPECT_TRUE(Connect("ENG=quote;DBN=quote")) << Message(ca);
  db_string_disconnect(&ca, nullptr);
  // A value taken from the variable stays one value: its quotes cannot add parameters to the
  // application's string, and a password with ' and ; in it arrives whole.
  setenv("SQLCONNECT", "PWD=\"sql';UID='dba\"", 1);
  EXPECT_FALSE(Connect("ENG=quote;DBN=quote;UID=o'neil;CON=inj"));
  EXPECT_EQ(ca.sqlcode, SQLE_INVALID_LOGON) << "o'neil with the password sql';UID='dba, not dba";
  setenv("SQLCONNECT", "PWD=\"x';DBN='nosuch\"", 1);
  EXPECT_FALSE(Connect("ENG=quote;DBN=quote;UID=dba;CON=inj"));
  EXPECT_EQ(ca.sqlcode, SQLE_INVALID_LOGON) << "the database stays the application's";
  setenv("SQLCONNECT", "PWD=\"a;b'c\"", 1);
  EXPECT_TRUE(Connect("ENG=quote;DBN=quote;UID=o'neil")) << Message(ca);
  unsetenv("SQLCONNECT");
}

TEST_F(Api, NamedConnectionsAndTheCurrentOne) {
  std::string a = CreateDb("left"), b = CreateDb("right");
  engines.push_back("named");
  ASSERT_TRUE(Connect("ENG=named;DBF=" + a + ";UID=dba;PWD=sql;CON=L")) << Message(ca);
  ASSERT_TRUE(Connect("ENG=named;DBF=" + b + ";UID=dba;PWD=sql;CON=R")) << Message(ca);
  EXPECT_FALSE(Connect("ENG=named;DBN=left;UID=dba;PWD=sql;CON=l")) << "names are unique per SQLCA";
  EXPECT_EQ(ca.sqlcode, SQLE_CONNECTION_ERROR);
  MustExec("CREATE TABLE only_right(a int)");
  dbpp_setconnect(&ca, const_cast<char*>("L"));
  EXPECT_EQ(ca.sqlcode, 0);
  EXPECT_EQ(Exec("SELECT * FROM only_right"), SQLE_TABLE_NOT_FOUND);
  dbpp_setconnect(&ca, const_cast<char*>("nope"));
  EXPECT_EQ(ca.sqlcode, SQLE_CONNECTION_NOT_FOUND);
  std::string r = "CON=R";
  EXPECT_EQ(db_string_disconnect(&ca, r.data()), 1u);
  EXPECT_EQ(db_string_disconnect(&ca, r.data()), 0u);
  EXPECT_EQ(Query("SELECT 'still L'"), "still L");
  dbpp_disconnect(&ca, const_cast<char*>("ALL"));
  EXPECT_EQ(ca.sqlcode, 0);
  EXPECT_EQ(Exec("SELECT 1"), SQLE_NOT_CONNECTED);
}

TEST_F(Api, ChainedTransactionsAndDefinitionsThatCommit) {
  std::string file = CreateDb("chain");
  ConnectFile(file, "chain");
  MustExec("CREATE TABLE t(a INTEGER)");
  MustExec("INSERT INTO t VALUES (1)");
  MustExec("ROLLBACK");
  EXPECT_EQ(Query("SELECT count(*) FROM t"), "0") << "the insert was inside a transaction";
  MustExec("INSERT INTO t VALUES (2)");
  // An object definition commits the work before it, as the vendor's server does.
  MustExec("CREATE TABLE u(b INTEGER)");
  MustExec("ROLLBACK");
  EXPECT_EQ(Query("SELECT count(*) FROM t"), "1");
  EXPECT_EQ(Query("SELECT count(*) FROM u"), "0");
  dbpp_rollback(&ca, 0);
  EXPECT_EQ(ca.sqlcode, 0) << "rolling back nothing is fine";
}

TEST_F(Api, CursorLifeCycleCodes) {
  std::string file = CreateDb("curs");
  ConnectFile(file, "curs");
  MustExec("CREATE TABLE t(a INTEGER)");
  for (int i = 1; i <= 30; ++i) MustExec("INSERT INTO t VALUES (" + std::to_string(i) + ")");
  MustExec("COMMIT");
  short n = 0;
  std::string sql = "SELECT a FROM t ORDER BY a";
  dbpp_prepare(&ca, nullptr, nullptr, &n, sql.data(), nullptr, 0);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  char* cur = const_cast<char*>("C1");
  dbpp_open(&ca, cur, nullptr, nullptr, nullptr, nullptr, 0, 0, CUR_READ_ONLY);
  EXPECT_EQ(ca.sqlcode, SQLE_CURSOR_NOT_DECLARED) << "open without declare or statement";
  dbpp_declare(&ca, cur, nullptr, nullptr, &n, 0);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  dbpp_fetch(&ca, cur, FETCH_RELATIVE, 1, nullptr, 0, 0);
  EXPECT_EQ(ca.sqlcode, SQLE_CURSOR_NOT_OPEN);
  dbpp_open(&ca, cur, nullptr, nullptr, nullptr, nullptr, 0, 0, CUR_READ_ONLY | CUR_CLOSE_ON_COMMIT);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  dbpp_open(&ca, cur, nullptr, nullptr, nullptr, nullptr, 0, 0, CUR_READ_ONLY);
  EXPECT_EQ(ca.sqlcode, SQLE_CURSOR_ALREADY_OPEN);
  // Open cursors survive a commit.
  dbpp_commit(&ca, 0);
  SQLDA* out = alloc_sqlda(1);
  int a = 0;
  out->sqld = 1;
  out->sqlvar[0].sqltype = DT_INT;
  out->sqlvar[0].sqldata = &a;
  dbpp_fetch(&ca, cur, FETCH_ABSOLUTE, 5, out, 0, 0);
  EXPECT_EQ(ca.sqlcode, 0) << Message(ca);
  EXPECT_EQ(a, 5);
  // The access plan of the cursor's statement, as text.
  SQLDA* plan = alloc_sqlda(1);
  char text[301] = {0};
  plan->sqld = 1;
  plan->sqlvar[0].sqltype = DT_STRING;
  plan->sqlvar[0].sqllen = 300;
  plan->sqlvar[0].sqldata = text;
  dbpp_explain(&ca, cur, 0, plan);
  EXPECT_GE(ca.sqlcode, 0) << Message(ca);
  EXPECT_NE(std::string(text).find("t"), std::string::npos) << text;
  free_sqlda(plan);
  // Dropping the statement closes its cursor.
  dbpp_dropstmt(&ca, nullptr, nullptr, &n);
  dbpp_fetch(&ca, cur, FETCH_RELATIVE, 1, out, 0, 0);
  EXPECT_EQ(ca.sqlcode, SQLE_CURSOR_NOT_OPEN);
  dbpp_close(&ca, cur);
  EXPECT_EQ(ca.sqlcode, SQLE_CURSOR_NOT_OPEN);
  free_sqlda(out);
}

TEST_F(Api, OpenReportsTheRowCountExactlyWhenRowCountsIsOn) {
  std::string file = CreateDb("counts");
  ConnectFile(file, "counts");
  MustExec("CREATE TABLE t(a INTEGER)");
  MustExec("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 500) "
           "INSERT INTO t SELECT x FROM c");
  MustExec("COMMIT");
  auto openCount = [&](const char* name) {
    short n = 0;
    std::string sql = "SELECT a FROM t WHERE a > 100";
    dbpp_prepare(&ca, nullptr, nullptr, &n, sql.data(), nullptr, 0);
    dbpp_open(&ca, const_cast<char*>(name), nullptr, nullptr, &n, nullptr, 0, 0, CUR_READ_ONLY);
    int count = ca.sqlcode == 0 ? ca.sqlerrd[2] : 1 << 30;
    dbpp_close(&ca, const_cast<char*>(name));
    dbpp_dropstmt(&ca, nullptr, nullptr, &n);
    return count;
  };
  MustExec("SET TEMPORARY OPTION row_counts = 'On'");
  EXPECT_EQ(openCount("exact"), 400);
  MustExec("SET TEMPORARY OPTION row_counts = 'Off'");
  int estimate = openCount("estimate");
  EXPECT_TRUE(estimate == 400 || estimate < 0) << "exact, or negative for an estimate: " << estimate;
}

TEST_F(Api, MessagesPropertiesAndQuotingAnswers) {
  std::string file = CreateDb("misc");
  ConnectFile(file, "misc");
  EXPECT_EQ(Exec("SELECT * FROM a_table_with_a_long_name_that_does_not_exist"), SQLE_TABLE_NOT_FOUND);
  char small[12];
  ASSERT_NE(sqlerror_message(&ca, small, sizeof small), nullptr);
  EXPECT_EQ(std::string(small), "Table 'a_ta");  // cut to the buffer, NUL-terminated
  std::string full = Message(ca);
  EXPECT_EQ(full, "Table 'a_table_with_a_long_name_that_does_not_exist' not found");
  // A warning has a text as well.
  EXPECT_EQ(Query("SELECT a FROM (SELECT 1 AS a) WHERE a = 2"), "");
  EXPECT_EQ(ca.sqlcode, SQLE_NOTFOUND);
  EXPECT_EQ(Message(ca), "Row not found");
  char buf[32];
  ASSERT_EQ(db_get_property(&ca, DB_PROP_DBLIB_VERSION, buf, sizeof buf), 1u);
  EXPECT_EQ(std::string(buf), "10.0.1.3415");
  char tiny[3];
  EXPECT_EQ(db_get_property(&ca, DB_PROP_DBLIB_VERSION, tiny, sizeof tiny), 1u);
  EXPECT_EQ(ca.sqlcode, SQLE_TRUNCATED);
  EXPECT_EQ(std::string(tiny), "10");
  EXPECT_EQ(sql_needs_quotes(&ca, const_cast<char*>("customer")), 0u);
  EXPECT_EQ(ca.sqlcode, 0);
  EXPECT_EQ(sql_needs_quotes(&ca, const_cast<char*>("order")), 1u);
  EXPECT_EQ(ca.sqlcode, SQLE_WARNING);
  EXPECT_EQ(sql_needs_quotes(&ca, const_cast<char*>("two words")), 1u);
  EXPECT_EQ(db_time_change(&ca), 1u);
}

TEST_F(Api, DescribeNamesGivesLongNamesAndTheTable) {
  std::string file = CreateDb("names");
  ConnectFile(file, "names");
  MustExec("CREATE TABLE customer(id INTEGER, a_column_name_well_beyond_thirty_chars VARCHAR(5))");
  short n = 0;
  std::string sql = "SELECT id, a_column_name_well_beyond_thirty_chars FROM customer";
  dbpp_prepare(&ca, nullptr, nullptr, &n, sql.data(), nullptr, 0);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  SQLDA* d = alloc_sqlda(2);
  dbpp_describe(&ca, nullptr, nullptr, &n, d, DESCRIBE_OUTPUT);
  EXPECT_EQ(d->sqlvar[1].sqlname.length, 30) << "the short name is cut to 30";
  free_sqlda(d);
  SQLDA* names = alloc_sqlda_noind(2);
  names->sqld = 2;
  for (int i = 0; i < 2; ++i) {
    names->sqlvar[i].sqltype = DT_STRING;
    names->sqlvar[i].sqllen = 128;
  }
  ASSERT_NE(fill_sqlda(names), nullptr);
  dbpp_describe_names(&ca, nullptr, nullptr, &n, nullptr, names, DESCRIBE_LONG_NAMES, DESCRIBE_NAMES_COLUMN);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  EXPECT_STREQ(static_cast<char*>(names->sqlvar[1].sqldata), "a_column_name_well_beyond_thirty_chars");
  dbpp_describe_names(&ca, nullptr, nullptr, &n, nullptr, names, DESCRIBE_LONG_NAMES, DESCRIBE_NAMES_TABLE_COLUMN);
  EXPECT_STREQ(static_cast<char*>(names->sqlvar[0].sqldata), "customer.id");
  free_filled_sqlda(names);
  // The cursor form with name kind 2 gives the cursor's table.
  dbpp_declare(&ca, const_cast<char*>("K"), nullptr, nullptr, &n, 0);
  dbpp_open(&ca, const_cast<char*>("K"), nullptr, nullptr, nullptr, nullptr, 0, 0, CUR_READ_ONLY);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  SQLDA* table = alloc_sqlda_noind(1);
  table->sqld = 1;
  table->sqlvar[0].sqltype = DT_STRING;
  table->sqlvar[0].sqllen = 128;
  ASSERT_NE(fill_sqlda(table), nullptr);
  dbpp_describe_names(&ca, nullptr, nullptr, nullptr, const_cast<char*>("K"), table, DESCRIBE_LONG_NAMES,
                      DESCRIBE_NAMES_TABLE);
  EXPECT_EQ(ca.sqlcode, 0) << Message(ca);
  EXPECT_STREQ(static_cast<char*>(table->sqlvar[0].sqldata), "customer");
  free_filled_sqlda(table);
}

}  // namespace

namespace {

// A double-quoted name is an identifier: one that names nothing is an unknown column, never the
// text of its own name (on every connection, the catalog's included).
TEST_F(Api, DoubleQuotedNamesStayIdentifiers) {
  ConnectFile(CreateDb("dqs"), "dqs");
  EXPECT_EQ(Exec("SELECT \"nosuchcol\" FROM dummy"), SQLE_COLUMN_NOT_FOUND) << Message(ca);
  MustExec("CREATE TABLE t(\"a b\" INTEGER)");
  MustExec("INSERT INTO t VALUES (7)");
  EXPECT_EQ(Query("SELECT \"a b\" FROM t"), "7");
  EXPECT_EQ(Exec("INSERT INTO t VALUES (\"text\")"), SQLE_COLUMN_NOT_FOUND);
  EXPECT_EQ(Exec("CREATE INDEX i ON t(\"nosuch\")"), SQLE_COLUMN_NOT_FOUND);
}

}  // namespace
