// The network engine end to end through the C entry points, on a PostgreSQL server
// (ZYL_PG_SERVER=host:port; skipped without one): logging in, the vendor's dialect and types on
// the server, statement-level undo inside a transaction, cursors that outlive commits, and what
// the engine refuses.
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/dblib/DblibHarness.h"

using zyltest::DblibTest;
using zyltest::Message;
using zyltest::PgLinks;
using zyltest::PgServer;

namespace {

char kProg[] = "ZYL";

class PgEngine : public DblibTest {
 protected:
  void SetUp() override {
    setenv("ZYL_TEST_ENGINE", "postgres", 1);
    DblibTest::SetUp();
    if (IsSkipped()) return;
    db = CreateDb("pge");
    ConnectFile(db, "pgsrv");
  }

  // DT_ code (without the null bit) and length of each result column of a SELECT.
  std::vector<std::pair<int, int>> Describe(const std::string& sql) {
    short n = 0;
    std::string s = sql;
    dbpp_prepare(&ca, nullptr, kProg, &n, s.data(), nullptr, 0);
    EXPECT_EQ(ca.sqlcode, 0) << Message(ca);
    SQLDA* d = alloc_sqlda(20);
    dbpp_describe(&ca, nullptr, kProg, &n, d, DESCRIBE_OUTPUT);
    std::vector<std::pair<int, int>> out;
    for (int i = 0; i < d->sqld; ++i) out.emplace_back(d->sqlvar[i].sqltype & DT_TYPES, d->sqlvar[i].sqllen);
    free_sqlda(d);
    dbpp_dropstmt(&ca, nullptr, kProg, &n);
    return out;
  }

  std::string db;
};

TEST_F(PgEngine, LoginsFailWithTheVendorsCodes) {
  SQLCA other;
  db_init(&other);
  std::string wrong = PgLinks() + ";DBN=" + db.substr(3) + ";UID=dba;PWD=nope";
  EXPECT_EQ(db_string_connect(&other, wrong.data()), 0u);
  EXPECT_EQ(other.sqlcode, SQLE_INVALID_LOGON);
  std::string text = Message(other);
  std::string unknown = PgLinks() + ";DBN=" + db.substr(3) + ";UID=nobody_here;PWD=sql";
  EXPECT_EQ(db_string_connect(&other, unknown.data()), 0u);
  EXPECT_EQ(other.sqlcode, SQLE_INVALID_LOGON);
  EXPECT_EQ(Message(other), text);  // one text for both
  std::string nodb = PgLinks() + ";DBN=no_such_database;UID=dba;PWD=sql";
  EXPECT_EQ(db_string_connect(&other, nodb.data()), 0u);
  EXPECT_EQ(other.sqlcode, SQLE_DATABASE_NOT_FOUND);
  // Nothing listens on port 1 of the loopback address: refused at once, no time-out to wait for.
  std::string none = "LINKS=tcpip(host=127.0.0.1;port=1;timeout=5);DBN=x;UID=dba;PWD=sql";
  EXPECT_EQ(db_string_connect(&other, none.data()), 0u);
  EXPECT_EQ(other.sqlcode, SQLE_ENGINE_NOT_RUNNING);
  std::string garbage = "LINKS=tcpip(host=127.0.0.1;port=99999);DBN=x";
  EXPECT_EQ(db_string_connect(&other, garbage.data()), 0u);
  EXPECT_EQ(other.sqlcode, SQLE_CONNECTION_ERROR);
  std::string ping = PgLinks();
  EXPECT_EQ(db_string_ping_server(&other, ping.data(), 0), 1u) << Message(other);
  db_fini(&other);
}

TEST_F(PgEngine, TheVendorsDialectAndTypesRunOnTheServer) {
  MustExec("CREATE TABLE dba.item(id INTEGER DEFAULT AUTOINCREMENT PRIMARY KEY, small TINYINT, flag BIT,"
           " note LONG VARCHAR, code BINARY(4), price DOUBLE, seen DATETIME DEFAULT CURRENT TIMESTAMP,"
           " big UNSIGNED INT, name VARCHAR(20) NOT NULL)");
  MustExec("INSERT INTO item(small, flag, note, code, price, big, name) VALUES (7, 1, 'x', 'ab', 1.5, 4000000000, 'one')");
  MustExec("INSERT INTO item(small, flag, name) VALUES (8, 0, 'two')");
  MustExec("INSERT INTO item(small, flag, name) VALUES (9, 0, 'three')");
  EXPECT_EQ(Query("SELECT max(id) FROM dba.item"), "3");  // the key counter, owner prefix dropped
  EXPECT_EQ(Query("SELECT IF small > 7 THEN 'big' ELSE 'small' ENDIF FROM item WHERE id = 1"), "small");
  EXPECT_EQ(Query("SELECT name + '!' FROM item WHERE id = 2"), "two!");
  EXPECT_EQ(Query("SELECT TOP 1 START AT 2 name FROM item ORDER BY id"), "two");
  EXPECT_EQ(Query("SELECT count(*) FROM dummy"), "1");
  EXPECT_EQ(Query("SELECT count(*) FROM item WHERE seen IS NOT NULL"), "3");
  auto d = Describe("SELECT id, small, flag, note, code, price, seen, big, name FROM item");
  std::vector<std::pair<int, int>> want = {{DT_INT, 4},        {DT_TINYINT, 1},   {DT_BIT, 1},
                                           {DT_LONGVARCHAR, 32767}, {DT_BINARY, 4}, {DT_DOUBLE, 8},
                                           {DT_TIMESTAMP, d.size() > 6 ? d[6].second : 0}, {DT_UNSINT, 4},
                                           {DT_VARCHAR, 20}};
  EXPECT_EQ(d, want);
  // Values a column cannot hold are refused, whatever the server calls them.
  EXPECT_EQ(Exec("INSERT INTO item(small, name) VALUES (300, 'x')"), SQLE_CONVERSION_ERROR);
  EXPECT_EQ(Exec("INSERT INTO item(small, name) VALUES ('abc', 'x')"), SQLE_CONVERSION_ERROR);
  EXPECT_EQ(Exec("INSERT INTO item(code, name) VALUES ('abcdef', 'x')"), SQLE_CONVERSION_ERROR);
  EXPECT_EQ(Exec("INSERT INTO item(small) VALUES (1)"), SQLE_COLUMN_CANNOT_BE_NULL);
  EXPECT_EQ(Exec("SELECT nothing FROM item"), SQLE_COLUMN_NOT_FOUND);
  EXPECT_EQ(Exec("SELECT * FROM no_table"), SQLE_TABLE_NOT_FOUND);
  EXPECT_EQ(Exec("SELEKT 1"), SQLE_SYNTAX_ERROR);
  // The catalog views answer for the table.
  EXPECT_EQ(Query("SELECT count(*) FROM sys.syscolumn c JOIN sys.systable t ON t.table_id = c.table_id"
                  " WHERE t.table_name = 'item'"),
            "9");
  EXPECT_EQ(Query("SELECT c.width FROM syscolumn c JOIN systable t ON t.table_id = c.table_id"
                  " WHERE t.table_name = 'item' AND c.column_name = 'name'"),
            "20");
}

TEST_F(PgEngine, AFailedStatementUndoesOnlyItselfInsideATransaction) {
  MustExec("CREATE TABLE t(id INTEGER PRIMARY KEY, v INTEGER)");
  MustExec("INSERT INTO t VALUES (1, 10)");
  EXPECT_EQ(Exec("INSERT INTO t VALUES (1, 11)"), SQLE_PRIMARY_KEY_NOT_UNIQUE);
  EXPECT_EQ(Exec("SELECT 1 / 0"), SQLE_DIV_ZERO_ERROR);
  MustExec("INSERT INTO t VALUES (2, 20)");
  MustExec("COMMIT");
  EXPECT_EQ(Query("SELECT sum(v) FROM t"), "30");
  MustExec("UPDATE t SET v = 0");
  MustExec("ROLLBACK");
  EXPECT_EQ(Query("SELECT sum(v) FROM t"), "30");
  // Connection variables take part in statements like columns.
  MustExec("CREATE VARIABLE limit_v INTEGER");
  MustExec("SET limit_v = 15");
  EXPECT_EQ(Query("SELECT count(*) FROM t WHERE v > limit_v"), "1");
  MustExec("DROP VARIABLE limit_v");
  EXPECT_EQ(Exec("SET limit_v = 1"), SQLE_VARIABLE_NOT_FOUND);
}

TEST_F(PgEngine, AServerCursorOutlivesCommitsAndReadsInBlocks) {
  MustExec("CREATE TABLE big(id INTEGER PRIMARY KEY, v VARCHAR(10))");
  MustExec("INSERT INTO big SELECT g, 'v' || g FROM generate_series(1, 20000) g");
  MustExec("COMMIT");
  MustExec("SET TEMPORARY OPTION row_counts = 'On'");
  short n = 0;
  std::string sql = "SELECT id, v FROM big ORDER BY id";
  dbpp_prepare(&ca, nullptr, kProg, &n, sql.data(), nullptr, 0);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  char cur[] = "C1";
  dbpp_open(&ca, cur, nullptr, kProg, &n, nullptr, 0, 0, CUR_FOR_UPDATE);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  EXPECT_EQ(ca.sqlerrd[2], 20000);
  SQLDA* d = alloc_sqlda(2);
  int id = 0;
  char v[11];
  d->sqld = 2;
  d->sqlvar[0].sqltype = DT_INT;
  d->sqlvar[0].sqldata = &id;
  d->sqlvar[1].sqltype = DT_STRING;
  d->sqlvar[1].sqllen = sizeof v;
  d->sqlvar[1].sqldata = v;
  dbpp_fetch(&ca, cur, FETCH_ABSOLUTE, 15000, d, 0, 0);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  EXPECT_EQ(id, 15000);
  // A change through the cursor, committed: the cursor goes on.
  char nv[] = "changed";
  SQLDA* u = alloc_sqlda(2);
  u->sqld = 2;
  u->sqlvar[1].sqltype = DT_STRING;
  u->sqlvar[1].sqllen = sizeof nv;
  u->sqlvar[1].sqldata = nv;
  dbpp_update(&ca, cur, u);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  dbpp_commit(&ca, 0);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  dbpp_fetch(&ca, cur, FETCH_RELATIVE, 0, d, 0, 0);
  EXPECT_STREQ(v, "changed");
  dbpp_fetch(&ca, cur, FETCH_ABSOLUTE, -1, d, 0, 0);
  EXPECT_EQ(id, 20000);
  dbpp_fetch(&ca, cur, FETCH_RELATIVE, -19999, d, 0, 0);
  EXPECT_EQ(id, 1);
  dbpp_fetch(&ca, cur, FETCH_ABSOLUTE, 20001, d, 0, 0);
  EXPECT_EQ(ca.sqlcode, SQLE_NOTFOUND);
  dbpp_close(&ca, cur);
  free_sqlda(d);
  free_sqlda(u);
  EXPECT_EQ(Query("SELECT v FROM big WHERE id = 15000"), "changed");
}

TEST_F(PgEngine, CreatedbPreparesAServerDatabaseAgainAndAgain) {
  std::string server = PgServer();
  std::string host = server.substr(0, server.rfind(':')), port = server.substr(server.rfind(':') + 1);
  std::string conninfo = "host=" + host + ";port=" + port + ";dbname=" + db.substr(3) + ";user=dba";
  std::string tool = ZYL_CREATEDB_TOOL;
  auto run = [&](const std::string& s) { return std::system((tool + " -q --server '" + s + "' 2>/dev/null").c_str()); };
  EXPECT_EQ(run(conninfo + ";password=sql"), 0);
  EXPECT_EQ(run(conninfo + ";password=sql"), 0);  // idempotent
  EXPECT_NE(run(conninfo + ";password=wrong"), 0);
  EXPECT_EQ(Exec("ALTER DATABASE UPGRADE"), 0) << Message(ca);
  EXPECT_EQ(Query("SELECT count(*) FROM sys.sysdomain WHERE domain_name = 'tinyint'"), "1");
}

TEST_F(PgEngine, BackupIsRefusedWithACode) {
  db_backup(&ca, DB_BACKUP_START, 0, 0, nullptr);
  EXPECT_EQ(ca.sqlcode, SQLE_NOT_IMPLEMENTED);
  EXPECT_NE(Message(ca).find("base backup"), std::string::npos) << Message(ca);
}

// 32 clients on their own connections insert, update and scroll for a bounded time: every row
// a client committed is there, every counter increment committed is counted, and every request
// that failed did so with a conflict code (deadlock or lock), never silently or otherwise.
TEST_F(PgEngine, ThirtyTwoClientsLoseNothingAndReportEveryConflict) {
  MustExec("CREATE TABLE rows_in(client INTEGER NOT NULL, seq INTEGER NOT NULL, payload VARCHAR(40), PRIMARY KEY(client, seq))");
  MustExec("CREATE TABLE counter(id INTEGER PRIMARY KEY, n INTEGER NOT NULL)");
  MustExec("INSERT INTO counter SELECT g, 0 FROM generate_series(1, 8) g");
  MustExec("COMMIT");
  constexpr int kClients = 32;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(4);
  std::string cs = ConnectionTo(db, "load");
  std::atomic<long> increments{0};
  std::atomic<long> inserted{0};
  std::atomic<int> setupFailures{0};
  std::mutex m;
  std::map<int, int> conflicts;  // code -> count
  std::vector<std::string> unexpected;
  auto client = [&](int id) {
    SQLCA c;
    db_init(&c);
    std::string conn = cs + ";CON=c" + std::to_string(id);
    if (db_string_connect(&c, conn.data()) != 1) {
      ++setupFailures;
      db_fini(&c);
      return;
    }
    std::mt19937 rng{static_cast<unsigned>(id)};
    auto failed = [&](const std::string& what) {
      std::lock_guard<std::mutex> lock(m);
      if (c.sqlcode == SQLE_DEADLOCK || c.sqlcode == SQLE_LOCKED) ++conflicts[c.sqlcode];
      else unexpected.push_back(what + ": " + std::to_string(c.sqlcode) + " " + Message(c));
      dbpp_rollback(&c, 0);
    };
    int seq = 0;
    long myInc = 0, myRows = 0;
    while (std::chrono::steady_clock::now() < until) {
      // Insert two rows, bump two counters in random order (deadlocks happen), commit.
      std::string ins = "INSERT INTO rows_in VALUES (" + std::to_string(id) + ", " + std::to_string(seq + 1) +
                        ", 'p'), (" + std::to_string(id) + ", " + std::to_string(seq + 2) + ", 'q')";
      dbpp_execute_imm(&c, ins.data(), 2);
      if (c.sqlcode < 0) {
        failed("insert");
        continue;
      }
      int a = int(rng() % 8) + 1, b = int(rng() % 8) + 1;
      std::string up1 = "UPDATE counter SET n = n + 1 WHERE id = " + std::to_string(a);
      std::string up2 = "UPDATE counter SET n = n + 1 WHERE id = " + std::to_string(b);
      dbpp_execute_imm(&c, up1.data(), 2);
      if (c.sqlcode < 0) {
        failed("update");
        continue;
      }
      dbpp_execute_imm(&c, up2.data(), 2);
      if (c.sqlcode < 0) {
        failed("update");
        continue;
      }
      dbpp_commit(&c, 0);
      if (c.sqlcode < 0) {
        failed("commit");
        continue;
      }
      seq += 2;
      myRows += 2;
      myInc += 2;
      // Scroll over this client's rows: last, back to the first, forward again.
      short n = 0;
      std::string q = "SELECT seq FROM rows_in WHERE client = " + std::to_string(id) + " ORDER BY seq";
      dbpp_prepare(&c, nullptr, kProg, &n, q.data(), nullptr, 0);
      std::string cur = "L" + std::to_string(id);
      dbpp_open(&c, cur.data(), nullptr, kProg, &n, nullptr, 0, 0, CUR_READ_ONLY);
      SQLDA* d = alloc_sqlda(1);
      int v = 0;
      d->sqld = 1;
      d->sqlvar[0].sqltype = DT_INT;
      d->sqlvar[0].sqldata = &v;
      dbpp_fetch(&c, cur.data(), FETCH_ABSOLUTE, -1, d, 0, 0);
      if (c.sqlcode != 0 || v != seq) {
        std::lock_guard<std::mutex> lock(m);
        unexpected.push_back("last row " + std::to_string(v) + " of " + std::to_string(seq) + ": " + Message(c));
      }
      dbpp_fetch(&c, cur.data(), FETCH_ABSOLUTE, 1, d, 0, 0);
      if (c.sqlcode != 0 || v != 1) {
        std::lock_guard<std::mutex> lock(m);
        unexpected.push_back("first row " + std::to_string(v));
      }
      dbpp_close(&c, cur.data());
      dbpp_dropstmt(&c, nullptr, kProg, &n);
      free_sqlda(d);
      dbpp_commit(&c, 0);
    }
    increments += myInc;
    inserted += myRows;
    db_string_disconnect(&c, nullptr);
    db_fini(&c);
  };
  std::vector<std::thread> threads;
  for (int i = 0; i < kClients; ++i) threads.emplace_back(client, i + 1);
  for (auto& t : threads) t.join();
  EXPECT_EQ(setupFailures.load(), 0);
  for (const std::string& u : unexpected) ADD_FAILURE() << u;
  EXPECT_GT(inserted.load(), 0);
  EXPECT_EQ(Query("SELECT count(*) FROM rows_in"), std::to_string(inserted.load()));
  EXPECT_EQ(Query("SELECT sum(n) FROM counter"), std::to_string(increments.load()));
  std::string summary;
  for (auto& [code, count] : conflicts) summary += " " + std::to_string(code) + " x" + std::to_string(count);
  RecordProperty("conflicts", summary);
  std::printf("load: %ld rows, %ld increments, conflicts:%s\n", inserted.load(), increments.load(),
              summary.empty() ? " none" : summary.c_str());
}

}  // namespace
