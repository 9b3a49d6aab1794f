// The call sequences a session component makes when it connects, sets its options and
// disconnects, replayed with the strings it builds (engine and database named after the file
// prefix, user and password appended).
#include "tests/dblib/DblibHarness.h"

using zyltest::DblibTest;
using zyltest::Message;

namespace {

class SessionFlow : public DblibTest {
 protected:
  std::string GetOption(const char* name) {
    SQLDA* da = alloc_sqlda(1);
    char buf[30] = {0};
    da->sqld = 1;
    da->sqlvar[0].sqltype = DT_STRING;
    da->sqlvar[0].sqllen = 30;
    da->sqlvar[0].sqldata = buf;
    dbpp_getoption(&ca, 0, nullptr, const_cast<char*>(name), da);
    free_sqlda(da);
    return ca.sqlcode == 0 ? buf : "?";
  }
  int SetOption(const char* name, const std::string& value) {
    SQLDA* da = alloc_sqlda(1);
    std::string v = value;
    da->sqld = 1;
    da->sqlvar[0].sqltype = DT_STRING;
    da->sqlvar[0].sqllen = short(v.size() + 1);
    da->sqlvar[0].sqldata = v.data();
    dbpp_setoption(&ca, 1, nullptr, const_cast<char*>(name), da);
    free_sqlda(da);
    return ca.sqlcode;
  }
  std::string Info(short kind) {
    SQLDA* da = alloc_sqlda(1);
    std::string buf(32767, '\0');
    da->sqld = 1;
    da->sqlvar[0].sqltype = DT_STRING;
    da->sqlvar[0].sqllen = 32767;
    da->sqlvar[0].sqldata = buf.data();
    unsigned short ok = db_connection_info(&ca, kind, da);
    free_sqlda(da);
    return ok ? std::string(buf.c_str()) : "?";
  }
};

TEST_F(SessionFlow, ServerModeStartsTheEngineWithTheFileThenConnects) {
  std::string file = CreateDb("sales");
  engines.push_back("sales");
  // Start a server: ServerParams; Engine; DatabaseFile; DatabaseName (library above 5).
  std::string start = "START=dbeng -c 8M;eng=sales;dbf=" + file + ";dbn=sales";
  EXPECT_EQ(db_start_engine(&ca, start.data()), 1u) << Message(ca);
  EXPECT_EQ(ca.sqlcode, 0);
  // Connect to a database: Engine; ClientParams; DatabaseName; User; Password.
  ASSERT_TRUE(Connect("eng=sales;dbn=sales;uid=dba;pwd=sql")) << Message(ca);
  // Engine version's first number is the server version the session derives.
  EXPECT_EQ(Info(DB_CONNINFO_ENGINE_VERSION).substr(0, 3), "10.");
  EXPECT_EQ(Info(DB_CONNINFO_ENGINE_NAME), "sales");
  EXPECT_EQ(Info(DB_CONNINFO_DATABASE_NAME), "sales");
  // Options on connect: isolation level, row counts (read, then set when different), and
  // ansi_update_constraints OFF.
  EXPECT_EQ(SetOption("isolation_level", "1"), 0);
  EXPECT_EQ(GetOption("row_counts"), "Off");
  EXPECT_EQ(SetOption("row_counts", "ON"), 0);
  EXPECT_EQ(GetOption("row_counts"), "ON");
  EXPECT_EQ(GetOption("ansi_update_constraints"), "Cursors");
  EXPECT_EQ(SetOption("ansi_update_constraints", "OFF"), 0);
  EXPECT_EQ(GetOption("ansi_update_constraints"), "OFF");
  EXPECT_EQ(GetOption("isolation_level"), "1");
  // A second start while it runs answers -96, and starting the database again is harmless.
  EXPECT_EQ(db_start_engine(&ca, start.data()), 1u);
  EXPECT_EQ(ca.sqlcode, SQLE_ENGINE_ALREADY_RUNNING);
  std::string startDb = "eng=sales;dbf=" + file + ";dbn=sales";
  EXPECT_EQ(db_start_database(&ca, startDb.data()), 1u) << Message(ca);
  // Disconnecting: commit (result ignored), then disconnect without a name.
  dbpp_commit(&ca, 0);
  EXPECT_EQ(db_string_disconnect(&ca, nullptr), 1u);
  // The engine started by db_start_engine keeps running.
  EXPECT_TRUE(db_find_engine(&ca, const_cast<char*>("sales")) & DB_ENGINE);
}

TEST_F(SessionFlow, WorkgroupModeConnectsFirstAndStartsOnlyWhenNoServerAnswers) {
  std::string file = CreateDb("shop");
  // No server yet: the connect fails with -100, the session then starts one.
  EXPECT_FALSE(Connect("eng=shop;dbn=shop;uid=dba;pwd=sql"));
  EXPECT_EQ(ca.sqlcode, SQLE_ENGINE_NOT_RUNNING);
  engines.push_back("shop");
  std::string start = "eng=shop;dbf=" + file + ";dbn=shop";
  ASSERT_EQ(db_start_engine(&ca, start.data()), 1u) << Message(ca);
  ASSERT_TRUE(Connect("eng=shop;dbn=shop;uid=dba;pwd=sql")) << Message(ca);
  EXPECT_EQ(Query("SELECT 'open'"), "open");
}

TEST_F(SessionFlow, FailedLoginLeavesNoAutoStartedEngineBehind) {
  std::string file = CreateDb("old");
  // A client connect that auto-starts an engine and then fails the login: the engine and its
  // database stop again at once, so a session's db_stop_engine that follows (libraries of
  // version 5 and below) finds nothing to stop and does no harm.
  EXPECT_FALSE(Connect("eng=old;dbf=" + file + ";dbn=old;uid=dba;pwd=bad"));
  EXPECT_EQ(ca.sqlcode, SQLE_INVALID_LOGON);
  EXPECT_EQ(db_find_engine(&ca, const_cast<char*>("old")), 0);
  std::string stop = "eng=old";
  EXPECT_EQ(db_stop_engine(&ca, stop.data()), 0u);
  EXPECT_EQ(ca.sqlcode, SQLE_ENGINE_NOT_RUNNING);
  // The file is closed: it can be started again at once under another engine.
  engines.push_back("again");
  EXPECT_TRUE(Connect("eng=again;dbf=" + file + ";uid=dba;pwd=sql")) << Message(ca);
}

TEST_F(SessionFlow, UtilityDatabaseConnectionNamesItself) {
  engines.push_back("utilflow");
  ASSERT_TRUE(Connect("eng=utilflow;dbn=utility_db;uid=dba;pwd=sql")) << Message(ca);
  // The session compares this name case-insensitively with UTILITY_DB and then sets no options.
  EXPECT_EQ(Info(DB_CONNINFO_DATABASE_NAME), "utility_db");
}

}  // namespace
