// Engines and databases: start/stop/find, auto-start and auto-stop, name clashes, the registry
// other processes read (with stale entries of dead processes), and statement numbers.
#include <sys/wait.h>

#include <fstream>

#include "tests/dblib/DblibHarness.h"

using zyltest::DblibTest;
using zyltest::Message;

namespace {

class Engines : public DblibTest {
 protected:
  unsigned Start(const std::string& cs) {
    std::string s = cs;
    return db_start_engine(&ca, s.data());
  }
  // The entry of the engine of that name (any process's: entry files are NAME.<pid>.eng).
  std::string RegistryEntry(const std::string& engine) {
    std::string upper = engine;
    for (auto& ch : upper) ch = char(std::toupper(static_cast<unsigned char>(ch)));
    std::error_code ec;
    for (auto& f : std::filesystem::directory_iterator(dir.File("engines"), ec)) {
      std::string n = f.path().filename().string();
      if (n.rfind(upper + ".", 0) == 0 && f.path().extension() == ".eng") {
        std::ifstream in(f.path());
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      }
    }
    return {};
  }
};

TEST_F(Engines, StartFindAndStopAnEngine) {
  std::string file = CreateDb("alpha");
  engines.push_back("srv");
  ASSERT_EQ(Start("ENG=srv;DBF=" + file), 1u) << Message(ca);
  EXPECT_EQ(ca.sqlcode, 0);
  unsigned short flags = db_find_engine(&ca, const_cast<char*>("SRV"));
  EXPECT_TRUE(flags & DB_ENGINE);
  EXPECT_FALSE(flags & DB_NO_DATABASES);
  EXPECT_EQ(db_find_engine(&ca, const_cast<char*>("other")), 0);
  // Already running: the caller is told so with -96.
  EXPECT_EQ(Start("ENG=srv"), 1u);
  EXPECT_EQ(ca.sqlcode, SQLE_ENGINE_ALREADY_RUNNING);
  EXPECT_NE(RegistryEntry("srv").find("db\talpha\t"), std::string::npos);
  // A connection keeps the engine from stopping, unless unconditionally.
  ASSERT_TRUE(Connect("ENG=srv;DBN=alpha;UID=dba;PWD=sql")) << Message(ca);
  std::string stop = "ENG=srv";
  EXPECT_EQ(db_stop_engine(&ca, stop.data()), 0u);
  EXPECT_EQ(ca.sqlcode, SQLE_STILL_ACTIVE_CONNECTIONS);
  std::string unc = "ENG=srv;UNC=YES";
  EXPECT_EQ(db_stop_engine(&ca, unc.data()), 1u) << Message(ca);
  EXPECT_EQ(db_find_engine(&ca, const_cast<char*>("srv")), 0);
  EXPECT_TRUE(RegistryEntry("srv").empty());
  // The connection was dropped with its engine.
  EXPECT_EQ(Exec("SELECT 1"), SQLE_CONNECTION_TERMINATED);
  EXPECT_EQ(Exec("SELECT 1"), SQLE_NOT_CONNECTED);
  EXPECT_EQ(db_stop_engine(&ca, unc.data()), 0u);
  EXPECT_EQ(ca.sqlcode, SQLE_ENGINE_NOT_RUNNING);
}

TEST_F(Engines, StartAndStopDatabasesOnARunningEngine) {
  std::string a = CreateDb("one"), b = CreateDb("two");
  engines.push_back("host");
  ASSERT_EQ(Start("ENG=host"), 1u) << Message(ca);
  EXPECT_TRUE(db_find_engine(&ca, const_cast<char*>("host")) & DB_NO_DATABASES);
  std::string s1 = "ENG=host;DBF=" + a;
  EXPECT_EQ(db_start_database(&ca, s1.data()), 1u) << Message(ca);
  EXPECT_EQ(db_start_database(&ca, s1.data()), 1u) << "already running is fine";
  std::string clash = "ENG=host;DBF=" + b + ";DBN=one";
  EXPECT_EQ(db_start_database(&ca, clash.data()), 0u);
  EXPECT_EQ(ca.sqlcode, SQLE_ALIAS_CLASH);
  std::string twice = "ENG=host;DBF=" + a + ";DBN=again";
  EXPECT_EQ(db_start_database(&ca, twice.data()), 0u);
  EXPECT_EQ(ca.sqlcode, SQLE_FILE_IN_USE);
  std::string missing = "ENG=host;DBF=" + dir.File("nope.db");
  EXPECT_EQ(db_start_database(&ca, missing.data()), 0u);
  EXPECT_EQ(ca.sqlcode, SQLE_DATABASE_NOT_FOUND);
  std::string notdb = dir.File("garbage.db");
  { std::ofstream(notdb) << "this is not a database file at all, just text that is long enough......"; }
  std::string bad = "ENG=host;DBF=" + notdb;
  EXPECT_EQ(db_start_database(&ca, bad.data()), 0u);
  EXPECT_EQ(ca.sqlcode, SQLE_INVALID_DATABASE);
  // Neither DBN nor DBF: the only database.
  ASSERT_TRUE(Connect("ENG=host;UID=dba;PWD=sql")) << Message(ca);
  EXPECT_EQ(Query("SELECT 1"), "1");
  EXPECT_FALSE(Connect("ENG=host;DBN=two;UID=dba;PWD=sql;CON=x"));
  EXPECT_EQ(ca.sqlcode, SQLE_DATABASE_NOT_FOUND);
  std::string stop = "ENG=host;DBN=one";
  EXPECT_EQ(db_stop_database(&ca, stop.data()), 0u);
  EXPECT_EQ(ca.sqlcode, SQLE_STILL_ACTIVE_CONNECTIONS);
  db_string_disconnect(&ca, nullptr);
  EXPECT_EQ(db_stop_database(&ca, stop.data()), 1u) << Message(ca);
  EXPECT_EQ(db_stop_database(&ca, stop.data()), 0u);
  EXPECT_EQ(ca.sqlcode, SQLE_DATABASE_NOT_FOUND);
}

TEST_F(Engines, AutoStartedEngineStopsWithItsLastConnection) {
  std::string file = CreateDb("auto");
  ASSERT_TRUE(Connect("DBF=" + file + ";UID=dba;PWD=sql")) << Message(ca);
  // The personal engine is named after the file prefix.
  EXPECT_TRUE(db_find_engine(&ca, const_cast<char*>("auto")) & DB_ENGINE);
  std::string info(64, '\0');
  SQLDA* da = alloc_sqlda(1);
  da->sqld = 1;
  da->sqlvar[0].sqltype = DT_STRING;
  da->sqlvar[0].sqllen = short(info.size());
  da->sqlvar[0].sqldata = info.data();
  ASSERT_EQ(db_connection_info(&ca, DB_CONNINFO_DATABASE_NAME, da), 1) << Message(ca);
  EXPECT_STREQ(info.c_str(), "auto");
  ASSERT_EQ(db_connection_info(&ca, DB_CONNINFO_ENGINE_VERSION, da), 1);
  EXPECT_STREQ(info.c_str(), "10.0.1.3415");
  free_sqlda(da);
  EXPECT_EQ(db_string_disconnect(&ca, nullptr), 1u);
  EXPECT_EQ(db_find_engine(&ca, const_cast<char*>("auto")), 0);
  // AutoStop=NO keeps it.
  ASSERT_TRUE(Connect("DBF=" + file + ";UID=dba;PWD=sql;ASTOP=NO")) << Message(ca);
  engines.push_back("auto");
  db_string_disconnect(&ca, nullptr);
  EXPECT_TRUE(db_find_engine(&ca, const_cast<char*>("auto")) & DB_ENGINE);
}

TEST_F(Engines, StaleRegistryEntryOfADeadProcessIsRemoved) {
  std::string file = CreateDb("stale");
  pid_t child = fork();
  if (child == 0) {
    SQLCA c;
    db_init(&c);
    std::string s = "ENG=ghost;DBF=" + file;
    if (db_start_engine(&c, s.data()) != 1) _exit(2);
    _exit(0);  // no clean shutdown: the entry stays behind
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_EQ(WEXITSTATUS(status), 0);
  EXPECT_FALSE(RegistryEntry("ghost").empty()) << "the dead process left its entry";
  // Finding, pinging and starting all recognise the entry as stale.
  std::string ping = "ENG=ghost";
  EXPECT_EQ(db_string_ping_server(&ca, ping.data(), 0), 0u);
  EXPECT_EQ(ca.sqlcode, SQLE_ENGINE_NOT_RUNNING);
  EXPECT_TRUE(RegistryEntry("ghost").empty());
  engines.push_back("ghost");
  EXPECT_EQ(Start("ENG=ghost;DBF=" + file), 1u) << Message(ca);
  EXPECT_EQ(ca.sqlcode, 0);
}

TEST_F(Engines, EntriesOfReusedPidsAndGarbageEntriesCountAsStale) {
  std::filesystem::create_directories(dir.File("engines"));
  // A live process (our parent) but another start time: the pid was reused, the entry is old.
  { std::ofstream(dir.File("engines/REUSED.eng")) << "engine\treused\npid\t" << getppid() << "\nstart\t1\n"; }
  { std::ofstream(dir.File("engines/JUNK.eng")) << "\x01\x02 not an entry at all"; }
  EXPECT_EQ(db_find_engine(&ca, const_cast<char*>("reused")), 0);
  EXPECT_FALSE(std::filesystem::exists(dir.File("engines/REUSED.eng")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("engines/JUNK.eng")));
  engines.push_back("reused");
  EXPECT_EQ(Start("ENG=reused"), 1u) << Message(ca);
  EXPECT_EQ(ca.sqlcode, 0);
  EXPECT_NE(RegistryEntry("reused").find("pid\t" + std::to_string(getpid())), std::string::npos);
}

TEST_F(Engines, SecondProcessConnectsByEngineAndDatabaseName) {
  std::string file = CreateDb("multi");
  ConnectFile(file, "multi");
  MustExec("CREATE TABLE t(a INTEGER)");
  MustExec("INSERT INTO t VALUES (1)");
  MustExec("COMMIT");
  int pipefd[2];
  ASSERT_EQ(pipe(pipefd), 0);
  pid_t child = fork();
  if (child == 0) {
    close(pipefd[0]);
    SQLCA c;
    db_init(&c);
    std::string s = "ENG=multi;DBN=multi;UID=dba;PWD=sql";
    int code = 0;
    if (db_string_connect(&c, s.data()) != 1) code = 10;
    std::string ins = "INSERT INTO t VALUES (2)";
    if (!code) dbpp_execute_imm(&c, ins.data(), 2);
    if (!code && c.sqlcode != 0) code = 11;
    if (!code) dbpp_commit(&c, 0);
    if (!code && c.sqlcode != 0) code = 12;
    db_string_disconnect(&c, nullptr);
    char byte = char(code);
    (void)!write(pipefd[1], &byte, 1);
    _exit(code);
  }
  close(pipefd[1]);
  char byte = 99;
  ASSERT_EQ(read(pipefd[0], &byte, 1), 1);
  close(pipefd[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_EQ(byte, 0) << "child failed at step " << int(byte);
  EXPECT_EQ(Query("SELECT count(*) FROM t"), "2");
  EXPECT_EQ(Query("SELECT max(a) FROM t"), "2");
}

TEST_F(Engines, PingAndLocateFindLocalEngines) {
  std::string file = CreateDb("pingdb");
  engines.push_back("pinged");
  ASSERT_EQ(Start("ENG=pinged;DBF=" + file), 1u) << Message(ca);
  std::string ok = "ENG=pinged;DBN=pingdb";
  EXPECT_EQ(db_string_ping_server(&ca, ok.data(), 1), 1u) << Message(ca);
  std::string nodb = "ENG=pinged;DBN=other";
  EXPECT_EQ(db_string_ping_server(&ca, nodb.data(), 1), 0u);
  EXPECT_EQ(ca.sqlcode, SQLE_DATABASE_NOT_FOUND);
  EXPECT_EQ(db_string_ping_server(&ca, nodb.data(), 0), 1u);
  struct Seen {
    std::vector<std::string> names;
  } seen;
  auto cb = [](SQLCA*, a_server_address* a, void* user) -> int {
    static_cast<Seen*>(user)->names.push_back(a->name);
    return 1;
  };
  using Cb = int (*)(SQLCA*, a_server_address*, void*);
  Cb fn = cb;
  EXPECT_EQ(db_locate_servers(&ca, reinterpret_cast<SQL_CALLBACK_PARM>(fn), &seen), 1u);
  EXPECT_NE(std::find(seen.names.begin(), seen.names.end(), "pinged"), seen.names.end());
}

class Statements : public DblibTest {};

TEST_F(Statements, NumbersStartAtOneAndADroppedNumberIsReused) {
  std::string file = CreateDb("nums");
  ConnectFile(file, "nums");
  short a = 0, b = 0, c = 0;
  std::string sql = "SELECT 1";
  dbpp_prepare(&ca, nullptr, nullptr, &a, sql.data(), nullptr, 0);
  dbpp_prepare(&ca, nullptr, nullptr, &b, sql.data(), nullptr, 0);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 2);
  dbpp_dropstmt(&ca, nullptr, nullptr, &a);
  EXPECT_EQ(ca.sqlcode, 0);
  short reuse = a;
  dbpp_prepare(&ca, nullptr, nullptr, &reuse, sql.data(), nullptr, 0);
  EXPECT_EQ(reuse, 1);
  dbpp_prepare(&ca, nullptr, nullptr, &c, sql.data(), nullptr, 0);
  EXPECT_EQ(c, 3);
  short bogus = 77;
  dbpp_dropstmt(&ca, nullptr, nullptr, &bogus);
  EXPECT_EQ(ca.sqlcode, SQLE_INVALID_STATEMENT);
  dbpp_execute_into(&ca, nullptr, nullptr, &bogus, nullptr, nullptr);
  EXPECT_EQ(ca.sqlcode, SQLE_INVALID_STATEMENT);
  SQLDA* da = alloc_sqlda(1);
  dbpp_describe(&ca, nullptr, nullptr, &bogus, da, 1);
  EXPECT_EQ(ca.sqlcode, SQLE_INVALID_STATEMENT);
  dbpp_describe(&ca, nullptr, nullptr, &b, da, 77);
  EXPECT_EQ(ca.sqlcode, SQLE_INVALID_DESCRIBE_TYPE);
  free_sqlda(da);
}

TEST_F(Statements, ErrorsCarryTheVendorCodesAndTexts) {
  std::string file = CreateDb("errs");
  ConnectFile(file, "errs");
  EXPECT_EQ(Exec("SELEC 1"), SQLE_SYNTAX_ERROR);
  EXPECT_NE(Message(ca).find("Syntax error near 'SELEC'"), std::string::npos) << Message(ca);
  EXPECT_STREQ(ca.sqlstate, "42W04");
  EXPECT_EQ(Exec("SELECT * FROM nosuch"), SQLE_TABLE_NOT_FOUND);
  EXPECT_EQ(Message(ca), "Table 'nosuch' not found");
  MustExec("CREATE TABLE p(id INTEGER PRIMARY KEY, name VARCHAR(10) NOT NULL)");
  EXPECT_EQ(Exec("SELECT nocol FROM p"), SQLE_COLUMN_NOT_FOUND);
  EXPECT_EQ(Message(ca), "Column 'nocol' not found");
  MustExec("INSERT INTO p VALUES (1, 'a')");
  EXPECT_EQ(Exec("INSERT INTO p VALUES (1, 'b')"), SQLE_PRIMARY_KEY_NOT_UNIQUE);
  EXPECT_EQ(Message(ca), "Primary key for table 'p' is not unique");
  EXPECT_EQ(Exec("INSERT INTO p VALUES (2, NULL)"), SQLE_COLUMN_CANNOT_BE_NULL);
  EXPECT_EQ(Message(ca), "Column 'name' in table 'p' cannot be NULL");
  EXPECT_EQ(Exec("CREATE TABLE p(x int)"), SQLE_NAME_NOT_UNIQUE);
  // A failed statement leaves the transaction's earlier work alone.
  EXPECT_EQ(Query("SELECT count(*) FROM p"), "1");
  // sqlerror_message answers NULL when there is no error.
  MustExec("SELECT 1");
  char buf[64];
  EXPECT_EQ(sqlerror_message(&ca, buf, sizeof buf), nullptr);
}

TEST_F(Statements, ExecuteIntoFillsOutputsAndReportsRowsAndMisses) {
  std::string file = CreateDb("into");
  ConnectFile(file, "into");
  MustExec("CREATE TABLE t(i INTEGER, d DOUBLE, s VARCHAR(20))");
  MustExec("INSERT INTO t VALUES (1, 1.5, 'one'), (2, 2.5, 'two')");
  short n = 0;
  std::string sql = "SELECT i, d, s FROM t WHERE i = ?";
  dbpp_prepare(&ca, nullptr, nullptr, &n, sql.data(), nullptr, 0);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  SQLDA* in = alloc_sqlda(1);
  int key = 2;
  in->sqld = 1;
  in->sqlvar[0].sqltype = DT_INT;
  in->sqlvar[0].sqldata = &key;
  SQLDA* out = alloc_sqlda(3);
  int i = 0;
  double d = 0;
  char s[4];
  out->sqld = 3;
  out->sqlvar[0] = {DT_INT, 4, &i, out->sqlvar[0].sqlind, {}};
  out->sqlvar[1] = {DT_DOUBLE, 8, &d, out->sqlvar[1].sqlind, {}};
  out->sqlvar[2] = {DT_STRING, sizeof s, s, out->sqlvar[2].sqlind, {}};
  dbpp_execute_into(&ca, nullptr, nullptr, &n, in, out);
  EXPECT_EQ(ca.sqlcode, 0) << Message(ca);  // "two" and its NUL fill the 4 bytes exactly
  EXPECT_STREQ(s, "two");
  EXPECT_EQ(i, 2);
  EXPECT_EQ(d, 2.5);
  key = 1;
  out->sqlvar[2].sqllen = 3;  // room for two characters
  dbpp_execute_into(&ca, nullptr, nullptr, &n, in, out);
  EXPECT_EQ(ca.sqlcode, SQLE_TRUNCATED);
  EXPECT_STREQ(s, "on");
  EXPECT_EQ(*out->sqlvar[2].sqlind, 3);
  key = 9;
  dbpp_execute_into(&ca, nullptr, nullptr, &n, in, out);
  EXPECT_EQ(ca.sqlcode, SQLE_NOTFOUND);
  // Fewer variables than columns is refused, not overrun.
  out->sqld = 2;
  key = 1;
  dbpp_execute_into(&ca, nullptr, nullptr, &n, in, out);
  EXPECT_EQ(ca.sqlcode, SQLE_SQLDA_TOO_SMALL);
  // A missing host value is refused.
  in->sqld = 0;
  dbpp_execute_into(&ca, nullptr, nullptr, &n, in, out);
  EXPECT_EQ(ca.sqlcode, SQLE_NOT_ENOUGH_HOST_VARS);
  free_sqlda(in);
  free_sqlda(out);
  std::string upd = "UPDATE t SET d = d * 2";
  dbpp_execute_imm(&ca, upd.data(), 2);
  EXPECT_EQ(ca.sqlerrd[2], 2);
}

TEST_F(Statements, BadHandlesAndDescriptorsGetCodesNotCrashes) {
  // NULL and foreign SQLCAs.
  dbpp_execute_imm(nullptr, const_cast<char*>("SELECT 1"), 2);
  EXPECT_EQ(db_string_connect(nullptr, const_cast<char*>("uid=dba")), 0u);
  SQLCA foreign{};
  std::memcpy(foreign.sqlcaid, "SQLCA", 5);
  dbpp_execute_imm(&foreign, const_cast<char*>("SELECT 1"), 2);
  EXPECT_EQ(foreign.sqlcode, SQLE_DB_INIT_NOT_CALLED);
  EXPECT_EQ(db_fini(&foreign), 0);
  char buf[100];
  EXPECT_NE(sqlerror_message(&foreign, buf, sizeof buf), nullptr);
  EXPECT_NE(std::string(buf).find("db_init"), std::string::npos);
  // Not connected.
  dbpp_execute_imm(&ca, const_cast<char*>("SELECT 1"), 2);
  EXPECT_EQ(ca.sqlcode, SQLE_NOT_CONNECTED);
  dbpp_commit(&ca, 0);
  EXPECT_EQ(ca.sqlcode, SQLE_NOT_CONNECTED);
  std::string file = CreateDb("bad");
  ConnectFile(file, "bad");
  // Unknown cursors.
  dbpp_fetch(&ca, const_cast<char*>("nope"), 2, 1, nullptr, 0, 0);
  EXPECT_EQ(ca.sqlcode, SQLE_CURSOR_NOT_DECLARED);
  dbpp_close(&ca, nullptr);
  EXPECT_EQ(ca.sqlcode, SQLE_CURSOR_NOT_DECLARED);
  dbpp_open(&ca, const_cast<char*>("nope"), nullptr, nullptr, nullptr, nullptr, 0, 0, 0);
  EXPECT_EQ(ca.sqlcode, SQLE_CURSOR_NOT_DECLARED);
  // NULL texts and descriptors.
  short n = 0;
  dbpp_prepare(&ca, nullptr, nullptr, &n, nullptr, nullptr, 0);
  EXPECT_EQ(ca.sqlcode, SQLE_SYNTAX_ERROR);
  dbpp_execute_imm(&ca, nullptr, 2);
  EXPECT_EQ(ca.sqlcode, SQLE_SYNTAX_ERROR);
  dbpp_getoption(&ca, 0, nullptr, const_cast<char*>("row_counts"), nullptr);
  EXPECT_EQ(ca.sqlcode, SQLE_SQLDA_TOO_SMALL);
  dbpp_getoption(&ca, 0, nullptr, nullptr, nullptr);
  EXPECT_EQ(ca.sqlcode, SQLE_INVALID_OPTION);
  EXPECT_EQ(db_connection_info(&ca, DB_CONNINFO_ENGINE_NAME, nullptr), 0);
  EXPECT_EQ(ca.sqlcode, SQLE_SQLDA_TOO_SMALL);
  // An input descriptor whose sqld exceeds its allocation.
  std::string sql = "SELECT ?";
  dbpp_prepare(&ca, nullptr, nullptr, &n, sql.data(), nullptr, 0);
  SQLDA* in = alloc_sqlda(1);
  in->sqld = 5;
  dbpp_execute_into(&ca, nullptr, nullptr, &n, in, nullptr);
  EXPECT_EQ(ca.sqlcode, SQLE_SQLDA_TOO_SMALL);
  // A type code nobody knows.
  in->sqld = 1;
  int dummy = 0;
  in->sqlvar[0].sqltype = 998;
  in->sqlvar[0].sqldata = &dummy;
  dbpp_execute_into(&ca, nullptr, nullptr, &n, in, nullptr);
  EXPECT_EQ(ca.sqlcode, SQLE_SQLDA_INVALID_DATATYPE);
  free_sqlda(in);
  // Only one statement per request.
  EXPECT_EQ(Exec("SELECT 1; DROP TABLE x"), SQLE_SYNTAX_ERROR);
  // The connection still works after all of this.
  EXPECT_EQ(Query("SELECT 'fine'"), "fine");
}

TEST_F(Statements, DescribeReportsColumnsAndInputMarkers) {
  std::string file = CreateDb("desc");
  ConnectFile(file, "desc");
  MustExec("CREATE TABLE t(id INTEGER NOT NULL PRIMARY KEY, name VARCHAR(30), price DECIMAL(10,2))");
  short n = 0;
  std::string sql = "SELECT id, name, price FROM t WHERE id = :key AND name = ?";
  dbpp_prepare(&ca, nullptr, nullptr, &n, sql.data(), nullptr, 0);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  SQLDA* probe = alloc_sqlda_noind(0);
  dbpp_describe(&ca, nullptr, nullptr, &n, probe, DESCRIBE_OUTPUT_VARIABLE);
  EXPECT_EQ(ca.sqlcode, 0);
  EXPECT_EQ(probe->sqld, 3);  // told how many are needed though none fit
  EXPECT_EQ(ca.sqlerrd[2], 1);  // fixed result shape
  free_sqlda_noind(probe);
  SQLDA* da = alloc_sqlda(3);
  dbpp_describe(&ca, nullptr, nullptr, &n, da, DESCRIBE_OUTPUT);
  ASSERT_EQ(da->sqld, 3);
  EXPECT_EQ(da->sqlvar[0].sqltype, DT_INT);  // NOT NULL: no null bit
  EXPECT_EQ(da->sqlvar[1].sqltype, DT_VARCHAR | DT_NULLS_ALLOWED);
  EXPECT_EQ(da->sqlvar[1].sqllen, 30);
  EXPECT_EQ(da->sqlvar[2].sqltype & DT_TYPES, DT_DECIMAL);
  EXPECT_EQ(da->sqlvar[2].sqllen, 2 * 256 + 10);
  EXPECT_EQ(std::string(da->sqlvar[1].sqlname.data, da->sqlvar[1].sqlname.length), "name");
  free_sqlda(da);
  SQLDA* in = alloc_sqlda(2);
  dbpp_describe(&ca, nullptr, nullptr, &n, in, DESCRIBE_INPUT);
  ASSERT_EQ(in->sqld, 2);
  EXPECT_EQ(std::string(in->sqlvar[0].sqlname.data, in->sqlvar[0].sqlname.length), "key");
  EXPECT_EQ(std::string(in->sqlvar[1].sqlname.data, in->sqlvar[1].sqlname.length), "?");
  EXPECT_TRUE(*in->sqlvar[0].sqlind & DT_PROCEDURE_IN);
  EXPECT_FALSE(*in->sqlvar[0].sqlind & DT_PROCEDURE_OUT);
  free_sqlda(in);
}

}  // namespace

namespace {

class Tool : public DblibTest {};

TEST_F(Tool, CreatesDatabasesWithAChosenDbaPassword) {
  std::string file = dir.File("tool.db");
  std::string cmd = std::string(ZYL_CREATEDB_TOOL) + " -q -p s3cret '" + file + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  ASSERT_TRUE(std::filesystem::exists(file));
  engines.push_back("tooldb");
  EXPECT_FALSE(Connect("ENG=tooldb;DBF=" + file + ";UID=dba;PWD=sql"));
  EXPECT_EQ(ca.sqlcode, SQLE_INVALID_LOGON);
  EXPECT_TRUE(Connect("ENG=tooldb;DBF=" + file + ";UID=dba;PWD=s3cret")) << Message(ca);
  // An existing file is refused and left as it was.
  std::string again = std::string(ZYL_CREATEDB_TOOL) + " -q '" + file + "' 2>/dev/null";
  EXPECT_NE(std::system(again.c_str()), 0);
  EXPECT_TRUE(Connect("ENG=tooldb;DBF=" + file + ";UID=dba;PWD=s3cret;CON=second")) << Message(ca);
  EXPECT_NE(std::system((std::string(ZYL_CREATEDB_TOOL) + " 2>/dev/null").c_str()), 0) << "no file: usage";
}

}  // namespace
