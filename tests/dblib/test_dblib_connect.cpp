// Connections, users and authentication, the utility database, options and connection
// variables, driven through the C entry points.
#include "tests/dblib/DblibHarness.h"

using zyltest::DblibTest;
using zyltest::Message;

namespace {

class Connections : public DblibTest {};

TEST_F(Connections, NewDatabaseAcceptsDbaWithDefaultPassword) {
  std::string file = CreateDb("sales");
  ConnectFile(file, "sales");
  EXPECT_EQ(Query("SELECT 40 + 2"), "42");
  MustExec("CREATE TABLE customer(id INTEGER PRIMARY KEY, name VARCHAR(30))");
  MustExec("INSERT INTO customer VALUES (1, 'Ann')");
  EXPECT_EQ(ca.sqlerrd[2], 1);
  EXPECT_EQ(Query("SELECT name FROM customer WHERE id = 1"), "Ann");
}

TEST_F(Connections, WrongPasswordAndUnknownUserGiveTheSameAnswer) {
  std::string file = CreateDb("auth");
  engines.push_back("auth");
  ASSERT_FALSE(Connect("ENG=auth;DBF=" + file + ";UID=dba;PWD=wrong"));
  EXPECT_EQ(ca.sqlcode, SQLE_INVALID_LOGON);
  std::string m1 = Message(ca);
  std::string state1 = ca.sqlstate;
  ASSERT_FALSE(Connect("ENG=auth;DBF=" + file + ";UID=nobody;PWD=sql"));
  EXPECT_EQ(ca.sqlcode, SQLE_INVALID_LOGON);
  EXPECT_EQ(Message(ca), m1);
  EXPECT_EQ(m1, "Invalid user ID or password");
  EXPECT_EQ(state1, "28000");
  // Password case matters; user name case does not.
  EXPECT_FALSE(Connect("ENG=auth;DBF=" + file + ";UID=dba;PWD=SQL"));
  EXPECT_TRUE(Connect("ENG=auth;DBF=" + file + ";UID=DbA;PWD=sql")) << Message(ca);
}

TEST_F(Connections, GrantAndRevokeConnectManageUsers) {
  std::string file = CreateDb("users");
  ConnectFile(file, "users");
  MustExec("GRANT CONNECT TO bob IDENTIFIED BY 'se;cret'");
  SQLCA other;
  db_init(&other);
  std::string cs = "ENG=users;DBN=users;UID=bob;PWD='se;cret'";
  ASSERT_EQ(db_string_connect(&other, cs.data()), 1u) << Message(other);
  // bob is no DBA: he may not create users.
  std::string grant = "GRANT CONNECT TO eve IDENTIFIED BY x";
  dbpp_execute_imm(&other, grant.data(), 2);
  EXPECT_EQ(other.sqlcode, SQLE_PERMISSION_DENIED);
  db_string_disconnect(&other, nullptr);
  // A new password replaces the old one.
  MustExec("GRANT CONNECT TO bob IDENTIFIED BY other");
  EXPECT_EQ(db_string_connect(&other, cs.data()), 0u);
  EXPECT_EQ(other.sqlcode, SQLE_INVALID_LOGON);
  MustExec("REVOKE CONNECT FROM bob");
  std::string cs2 = "ENG=users;DBN=users;UID=bob;PWD=other";
  EXPECT_EQ(db_string_connect(&other, cs2.data()), 0u);
  EXPECT_EQ(other.sqlcode, SQLE_INVALID_LOGON);
  EXPECT_EQ(Exec("REVOKE CONNECT FROM bob"), SQLE_UNKNOWN_USERID);
  db_fini(&other);
}

TEST_F(Connections, UtilityDatabaseCreatesAndDropsDatabases) {
  engines.push_back("util");
  ASSERT_TRUE(Connect("ENG=util;DBN=utility_db;UID=DBA;PWD=anything")) << Message(ca);
  std::string file = dir.File("made.db");
  MustExec("CREATE DATABASE '" + file + "'");
  EXPECT_TRUE(std::filesystem::exists(file));
  EXPECT_LT(Exec("CREATE DATABASE '" + file + "'"), 0);  // exists: refused, file untouched
  EXPECT_EQ(Exec("CREATE TABLE t(a int)"), SQLE_PERMISSION_DENIED);
  // A file that is not one of our databases is never deleted.
  std::string foreign = dir.File("notes.txt");
  { std::FILE* f = std::fopen(foreign.c_str(), "w"); std::fputs("keep me", f); std::fclose(f); }
  EXPECT_LT(Exec("DROP DATABASE '" + foreign + "'"), 0);
  EXPECT_TRUE(std::filesystem::exists(foreign));
  MustExec("DROP DATABASE '" + file + "'");
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(Connections, UtilityDatabaseRequiresTheStartLinePassword) {
  engines.push_back("guarded");
  std::string s = "ENG=guarded;START=dbeng -su topsecret";
  ASSERT_EQ(db_start_engine(&ca, s.data()), 1u) << Message(ca);
  EXPECT_FALSE(Connect("ENG=guarded;DBN=utility_db;UID=DBA;PWD=sql"));
  EXPECT_EQ(ca.sqlcode, SQLE_INVALID_LOGON);
  EXPECT_TRUE(Connect("ENG=guarded;DBN=utility_db;UID=DBA;PWD=topsecret")) << Message(ca);
}

TEST_F(Connections, NetworkLinksAndGarbageAreRefused) {
  std::string file = CreateDb("links");
  EXPECT_FALSE(Connect("DBF=" + file + ";UID=dba;PWD=sql;LINKS=tcpip(host=x)"));
  EXPECT_EQ(ca.sqlcode, SQLE_ENGINE_NOT_RUNNING);
  for (const char* bad : {"uid=dba;pwd", "uid=dba;frobnicate=1", "pwd='unterminated", "=x", "astop=maybe;uid=dba"}) {
    EXPECT_FALSE(Connect(bad)) << bad;
    EXPECT_EQ(ca.sqlcode, SQLE_CONNECTION_ERROR) << bad;
    EXPECT_FALSE(Message(ca).empty());
  }
  // Long names, '#' for '=' and quoted values are understood.
  engines.push_back("links");
  EXPECT_TRUE(Connect("EngineName=links;DatabaseFile#" + file + ";UserID=dba;Password=\"sql\"")) << Message(ca);
}

TEST_F(Connections, NoEngineAndNoFileIsServerNotFound) {
  EXPECT_FALSE(Connect("ENG=nothere;DBN=x;UID=dba;PWD=sql"));
  EXPECT_EQ(ca.sqlcode, SQLE_ENGINE_NOT_RUNNING);
  EXPECT_STREQ(ca.sqlstate, "08W01");
  EXPECT_FALSE(Connect("DBF=" + dir.File("missing.db") + ";UID=dba;PWD=sql"));
  EXPECT_EQ(ca.sqlcode, SQLE_DATABASE_NOT_FOUND);
  // The failed auto-start leaves no engine behind.
  EXPECT_EQ(db_find_engine(&ca, const_cast<char*>("missing")), 0);
}

TEST_F(Connections, OptionsAreTemporaryOrPermanentAndReadBackAsText) {
  std::string file = CreateDb("opts");
  ConnectFile(file, "opts");
  auto get = [&](const char* name) {
    SQLDA* da = alloc_sqlda(1);
    char buf[30] = {0};
    da->sqld = 1;
    da->sqlvar[0].sqltype = DT_STRING;
    da->sqlvar[0].sqllen = sizeof buf;
    da->sqlvar[0].sqldata = buf;
    dbpp_getoption(&ca, 0, nullptr, const_cast<char*>(name), da);
    free_sqlda(da);
    return ca.sqlcode == 0 ? std::string(buf) : "error " + std::to_string(ca.sqlcode);
  };
  auto set = [&](int temp, const char* name, const char* value) {
    SQLDA* da = alloc_sqlda(1);
    da->sqld = 1;
    da->sqlvar[0].sqltype = DT_STRING;
    da->sqlvar[0].sqllen = short(std::strlen(value) + 1);
    da->sqlvar[0].sqldata = const_cast<char*>(value);
    dbpp_setoption(&ca, temp, nullptr, const_cast<char*>(name), da);
    free_sqlda(da);
    return ca.sqlcode;
  };
  EXPECT_EQ(get("row_counts"), "Off");
  EXPECT_EQ(get("ansi_update_constraints"), "Cursors");
  EXPECT_EQ(get("isolation_level"), "0");
  EXPECT_EQ(set(1, "row_counts", "ON"), 0);
  EXPECT_EQ(get("ROW_COUNTS"), "ON");  // read back as written
  EXPECT_EQ(set(1, "isolation_level", "7"), SQLE_INVALID_OPTION_SETTING);
  EXPECT_EQ(get("isolation_level"), "0");
  EXPECT_EQ(set(1, "my_own_option", "hello"), 0);
  EXPECT_EQ(get("my_own_option"), "hello");
  EXPECT_EQ(get("never_set"), "error " + std::to_string(SQLE_INVALID_OPTION));
  // Permanent settings survive the connection; temporary ones do not.
  EXPECT_EQ(set(0, "ansi_update_constraints", "off"), 0);
  MustExec("SET TEMPORARY OPTION quoted_identifier = 'Off'");
  db_string_disconnect(&ca, nullptr);
  ConnectFile(file, "opts");
  EXPECT_EQ(get("ansi_update_constraints"), "off");
  EXPECT_EQ(get("row_counts"), "Off");
  EXPECT_EQ(get("quoted_identifier"), "On");
  // A value longer than the buffer is cut and reported.
  EXPECT_EQ(set(1, "long_one", "0123456789012345678901234567890123456789"), 0);
  get("long_one");
  EXPECT_EQ(ca.sqlcode, SQLE_TRUNCATED);
}

TEST_F(Connections, ConnectionVariablesLiveUntilDisconnect) {
  std::string file = CreateDb("vars");
  ConnectFile(file, "vars");
  MustExec("CREATE VARIABLE v INTEGER");
  EXPECT_EQ(Exec("CREATE VARIABLE v INTEGER"), SQLE_VARIABLE_EXISTS);
  EXPECT_EQ(Query("SELECT v"), "<null>");
  MustExec("SET v = 6 * 7");
  EXPECT_EQ(Query("SELECT v + 1"), "43");
  MustExec("CREATE TABLE t(a INTEGER)");
  MustExec("INSERT INTO t VALUES (v)");
  MustExec("COMMIT");
  MustExec("ROLLBACK");
  EXPECT_EQ(Query("SELECT v"), "42");  // variables are not transactional
  EXPECT_EQ(Exec("SET nosuch = 1"), SQLE_VARIABLE_NOT_FOUND);
  MustExec("DROP VARIABLE v");
  EXPECT_EQ(Exec("DROP VARIABLE v"), SQLE_VARIABLE_NOT_FOUND);
  EXPECT_EQ(Query("SELECT a FROM t"), "42");
}

TEST_F(Connections, BinaryVariableGrowsByAppendedPiecesWithoutLoss) {
  std::string file = CreateDb("blobvar");
  ConnectFile(file, "blobvar");
  MustExec("CREATE VARIABLE b LONG BINARY");
  MustExec("SET b = x''");
  std::string expected;
  short n = 0;
  std::string sql = "SET b = b || :piece";
  dbpp_prepare(&ca, nullptr, nullptr, &n, sql.data(), nullptr, 0);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  SQLDA* in = alloc_sqlda(1);
  in->sqld = 1;
  std::vector<char> buf(LONGBINARYSIZE(40000));
  auto* lb = reinterpret_cast<LONGBINARY*>(buf.data());
  for (int piece = 0; piece < 3; ++piece) {
    for (int i = 0; i < 40000; ++i) lb->array[i] = char((i * 7 + piece) & 0xFF);  // NULs included
    lb->array_len = lb->stored_len = 40000;
    expected.append(lb->array, 40000);
    in->sqlvar[0].sqltype = DT_LONGBINARY;
    in->sqlvar[0].sqldata = lb;
    *in->sqlvar[0].sqlind = 0;
    dbpp_execute_into(&ca, nullptr, nullptr, &n, in, nullptr);
    ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  }
  free_sqlda(in);
  MustExec("CREATE TABLE img(data LONG BINARY)");
  MustExec("INSERT INTO img VALUES (b)");
  EXPECT_EQ(Query("SELECT length(data) FROM img"), "120000");
  EXPECT_EQ(Query("SELECT hex(substr(data, 40001, 4)) FROM img"), "01080F16");
  EXPECT_EQ(Query("SELECT typeof(data) FROM img"), "blob");
}

TEST_F(Connections, TwoConnectionsSeeEachOthersCommittedChanges) {
  std::string file = CreateDb("shared");
  ConnectFile(file, "shared");
  MustExec("CREATE TABLE t(a INTEGER)");
  SQLCA other;
  db_init(&other);
  std::string cs = "ENG=shared;DBN=shared;UID=dba;PWD=sql";
  ASSERT_EQ(db_string_connect(&other, cs.data()), 1u) << Message(other);
  MustExec("INSERT INTO t VALUES (1)");
  EXPECT_EQ(Query("SELECT count(*) FROM t", &other), "0");  // not committed yet
  MustExec("COMMIT");
  EXPECT_EQ(Query("SELECT count(*) FROM t", &other), "1");
  std::string upd = "UPDATE t SET a = 5";
  dbpp_execute_imm(&other, upd.data(), 2);
  ASSERT_EQ(other.sqlcode, 0) << Message(other);
  dbpp_commit(&other, 0);
  EXPECT_EQ(Query("SELECT a FROM t"), "5");
  // Work left uncommitted at disconnect is rolled back.
  dbpp_execute_imm(&other, upd.data(), 2);
  std::string upd2 = "UPDATE t SET a = 9";
  dbpp_execute_imm(&other, upd2.data(), 2);
  db_string_disconnect(&other, nullptr);
  EXPECT_EQ(Query("SELECT a FROM t"), "5");
  db_fini(&other);
}

}  // namespace
