// Faults and interruptions: a process killed inside a transaction, cancel from another thread,
// the client's callbacks, and SQLite failures injected through the fault seam.
#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <sqlite3.h>
#include <thread>

#include "tests/dblib/DblibHarness.h"

using zyltest::DblibTest;
using zyltest::Message;

namespace {

// Counts forever: only a cancel ends it.
const char* kEndless = "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT count(*) FROM c";

class Faults : public DblibTest {
 protected:
  void TearDown() override {
    zyl_fault_fail_after(0, 0);
    DblibTest::TearDown();
  }
};

TEST_F(Faults, KilledProcessLosesOnlyItsOpenTransaction) {
  std::string file = CreateDb("crash");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  if (child == 0) {
    close(ready[0]);
    SQLCA c;
    db_init(&c);
    std::string cs = "ENG=crasher;DBF=" + file + ";UID=dba;PWD=sql";
    if (db_string_connect(&c, cs.data()) != 1) _exit(3);
    auto run = [&](const std::string& sql) {
      std::string s = sql;
      dbpp_execute_imm(&c, s.data(), 2);
      if (c.sqlcode < 0) _exit(4);
    };
    run("CREATE TABLE t(id INTEGER PRIMARY KEY, pad VARCHAR(200))");
    for (int i = 1; i <= 200; ++i) run("INSERT INTO t VALUES (" + std::to_string(i) + ", printf('%0200d', 0))");
    dbpp_commit(&c, 0);
    if (c.sqlcode != 0) _exit(5);
    // A large uncommitted transaction, in the middle of which the process dies.
    for (int i = 201; i <= 3000; ++i) run("INSERT INTO t VALUES (" + std::to_string(i) + ", printf('%0200d', 1))");
    run("UPDATE t SET pad = 'changed' WHERE id <= 100");
    char byte = 1;
    (void)!write(ready[1], &byte, 1);
    for (;;) run("UPDATE t SET pad = pad WHERE id = 1");  // keep writing until killed
  }
  close(ready[1]);
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1) << "child failed before the crash point";
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  close(ready[0]);
  ConnectFile(file, "after");
  EXPECT_EQ(Query("SELECT * FROM pragma_integrity_check"), "ok");
  EXPECT_EQ(Query("SELECT count(*) FROM t"), "200");
  EXPECT_EQ(Query("SELECT count(*) FROM t WHERE pad = 'changed'"), "0");
  EXPECT_EQ(Query("SELECT max(id) FROM t"), "200");
}

TEST_F(Faults, CancelFromAnotherThreadInterruptsTheStatement) {
  std::string file = CreateDb("cancel");
  ConnectFile(file, "cancel");
  EXPECT_EQ(db_cancel_request(&ca), 0) << "nothing runs: nothing to cancel";
  std::atomic<int> sent{-1};
  std::thread canceller([&] {
    while (!db_is_working(&ca)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    sent = db_cancel_request(&ca);
  });
  auto t0 = std::chrono::steady_clock::now();
  int code = Exec(kEndless);
  canceller.join();
  EXPECT_EQ(sent.load(), 1);
  EXPECT_EQ(code, SQLE_INTERRUPTED);
  EXPECT_EQ(Message(ca), "Statement interrupted by user");
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));
  EXPECT_EQ(db_is_working(&ca), 0);
  // The connection goes on working; the cancel is not left pending.
  EXPECT_EQ(Query("SELECT 7"), "7");
}

TEST_F(Faults, CancelEndsAWaitForAnotherConnectionsLock) {
  std::string file = CreateDb("locks");
  ConnectFile(file, "locks");
  MustExec("CREATE TABLE t(id INTEGER)");
  SQLCA other;
  db_init(&other);
  std::string cs = "ENG=locks;DBN=locks;UID=dba;PWD=sql";
  ASSERT_EQ(db_string_connect(&other, cs.data()), 1u) << Message(other);
  std::string insert = "INSERT INTO t VALUES (1)";
  dbpp_execute_imm(&other, insert.data(), 2);  // holds the write lock until it commits
  ASSERT_EQ(other.sqlcode, 0) << Message(other);
  std::thread canceller([&] {
    while (!db_is_working(&ca)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    db_cancel_request(&ca);
  });
  int code = Exec("INSERT INTO t VALUES (2)");
  canceller.join();
  EXPECT_EQ(code, SQLE_INTERRUPTED) << "the wait for the lock ends with the cancel, not with a lock conflict later";
  dbpp_commit(&other, 0);
  EXPECT_EQ(Exec("INSERT INTO t VALUES (3)"), 0) << "once the lock is free the connection writes again";
  db_string_disconnect(&other, nullptr);
  db_fini(&other);
}

// Callbacks reach the SQLCA they were registered on; the wait callback may cancel.
struct Seen {
  std::atomic<int> start{0}, finish{0}, wait{0};
};
Seen* g_seen = nullptr;

TEST_F(Faults, WaitCallbackRunsDuringALongRequestAndMayCancelIt) {
  std::string file = CreateDb("waits");
  ConnectFile(file, "waits");
  Seen seen;
  g_seen = &seen;
  auto onStart = [](SQLCA*) { ++g_seen->start; };
  auto onFinish = [](SQLCA*) { ++g_seen->finish; };
  auto onWait = [](SQLCA* c) {
    if (++g_seen->wait == 3) db_cancel_request(c);
  };
  using Cb = void (*)(SQLCA*);
  Cb s = onStart, f = onFinish, w = onWait;
  db_register_a_callback(&ca, DB_CALLBACK_START, reinterpret_cast<SQL_CALLBACK_PARM>(s));
  db_register_a_callback(&ca, DB_CALLBACK_FINISH, reinterpret_cast<SQL_CALLBACK_PARM>(f));
  db_register_a_callback(&ca, DB_CALLBACK_WAIT, reinterpret_cast<SQL_CALLBACK_PARM>(w));
  EXPECT_EQ(Exec(kEndless), SQLE_INTERRUPTED);
  EXPECT_GE(seen.wait.load(), 3);
  EXPECT_EQ(seen.start.load(), 1);
  EXPECT_EQ(seen.finish.load(), 1);
  // Unregistered callbacks are no longer called.
  db_register_a_callback(&ca, DB_CALLBACK_START, nullptr);
  MustExec("SELECT 1");
  EXPECT_EQ(seen.start.load(), 1);
  EXPECT_EQ(seen.finish.load(), 2);
  db_register_a_callback(&ca, DB_CALLBACK_FINISH, nullptr);
  db_register_a_callback(&ca, DB_CALLBACK_WAIT, nullptr);
  g_seen = nullptr;
}

std::vector<std::string>* g_lines = nullptr;
int g_dropped = 0;

TEST_F(Faults, DebugLinesAndConnectionDroppedReachTheirCallbacks) {
  std::string file = CreateDb("debug");
  std::vector<std::string> lines;
  g_lines = &lines;
  g_dropped = 0;
  auto onDebug = [](SQLCA*, char* text) { g_lines->push_back(text); };
  auto onDropped = [](SQLCA*, char*) { ++g_dropped; };
  using DebugCb = void (*)(SQLCA*, char*);
  DebugCb d = onDebug, x = onDropped;
  db_register_a_callback(&ca, DB_CALLBACK_DEBUG_MESSAGE, reinterpret_cast<SQL_CALLBACK_PARM>(d));
  db_register_a_callback(&ca, DB_CALLBACK_CONN_DROPPED, reinterpret_cast<SQL_CALLBACK_PARM>(x));
  ConnectFile(file, "debug", ";LOG=client.log");
  Query("SELECT 'traced'");
  bool seen = false;
  for (auto& l : lines) seen = seen || (l.find("SELECT 'traced'") != std::string::npos && l.back() == '\n');
  EXPECT_TRUE(seen) << lines.size() << " lines";
  std::string stop = "ENG=debug;UNC=YES";
  ASSERT_EQ(db_stop_engine(&ca, stop.data()), 1u) << Message(ca);
  EXPECT_EQ(Exec("SELECT 1"), SQLE_CONNECTION_TERMINATED);
  EXPECT_EQ(g_dropped, 1);
  db_register_a_callback(&ca, DB_CALLBACK_DEBUG_MESSAGE, nullptr);
  db_register_a_callback(&ca, DB_CALLBACK_CONN_DROPPED, nullptr);
  g_lines = nullptr;
}

struct Received {
  int type = -1;
  int code = -1;
  std::string text;
};
Received* g_received = nullptr;

TEST_F(Faults, MessagesToTheClientReachTheMessageCallback) {
  std::string file = CreateDb("msgs");
  ConnectFile(file, "msgs");
  MustExec("CREATE PROCEDURE hello() BEGIN MESSAGE 'hello ', 'there' TYPE WARNING TO CLIENT; END");
  Received got;
  g_received = &got;
  auto onMessage = [](SQLCA*, unsigned char type, an_sql_code code, unsigned short length, char* msg) {
    g_received->type = type;
    g_received->code = code;
    g_received->text.assign(msg, length);  // not NUL-terminated: the length counts
  };
  using Cb = void (*)(SQLCA*, unsigned char, an_sql_code, unsigned short, char*);
  Cb cb = onMessage;
  db_register_a_callback(&ca, DB_CALLBACK_MESSAGE, reinterpret_cast<SQL_CALLBACK_PARM>(cb));
  MustExec("CALL hello()");
  EXPECT_EQ(got.type, MESSAGE_TYPE_WARNING);
  EXPECT_EQ(got.code, 0);
  EXPECT_EQ(got.text, "hello there");
  db_register_a_callback(&ca, DB_CALLBACK_MESSAGE, nullptr);
  got.text.clear();
  MustExec("CALL hello()");  // without a callback the message goes nowhere, the call succeeds
  EXPECT_TRUE(got.text.empty());
  g_received = nullptr;
}

TEST_F(Faults, SeveralConnectionsRunOnSeveralThreads) {
  std::string file = CreateDb("threads");
  ConnectFile(file, "threads");
  MustExec("CREATE TABLE t(thread INTEGER, n INTEGER)");
  constexpr int kThreads = 4, kRows = 50;
  std::atomic<int> failures{0};
  std::vector<std::thread> pool;
  for (int t = 0; t < kThreads; ++t) {
    pool.emplace_back([&, t] {
      SQLCA c;
      db_init(&c);
      std::string cs = "ENG=threads;DBN=threads;UID=dba;PWD=sql";
      if (db_string_connect(&c, cs.data()) != 1) {
        ++failures;
        return;
      }
      for (int i = 0; i < kRows; ++i) {
        std::string s = "INSERT INTO t VALUES (" + std::to_string(t) + ", " + std::to_string(i) + ")";
        dbpp_execute_imm(&c, s.data(), 2);
        if (c.sqlcode != 0) ++failures;
        dbpp_commit(&c, 0);
        if (c.sqlcode != 0) ++failures;
      }
      db_string_disconnect(&c, nullptr);
      db_fini(&c);
    });
  }
  for (auto& th : pool) th.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(Query("SELECT count(*) FROM t"), std::to_string(kThreads * kRows));
}

TEST_F(Faults, InjectedSqliteFailuresBecomeVendorErrorsAndLoseNothing) {
  std::string file = CreateDb("inject");
  ConnectFile(file, "inject");
  MustExec("CREATE TABLE t(a INTEGER)");
  MustExec("INSERT INTO t VALUES (1)");
  MustExec("COMMIT");
  // The next SQLite call that can fail fails with an I/O error.
  zyl_fault_fail_after(1, SQLITE_IOERR);
  EXPECT_EQ(Exec("INSERT INTO t VALUES (2)"), SQLE_DEVICE_ERROR);
  EXPECT_EQ(Query("SELECT count(*) FROM t"), "1");
  // Each position of the failure in a statement's run leaves the database as it was.
  for (int n = 1; n <= 8; ++n) {
    zyl_fault_fail_after(n, SQLITE_FULL);
    int code = Exec("INSERT INTO t VALUES (3)");
    zyl_fault_fail_after(0, 0);
    if (code == 0) {
      MustExec("ROLLBACK");
    } else {
      EXPECT_EQ(code, SQLE_DEVICE_FULL) << "at call " << n;
      MustExec("ROLLBACK");
    }
    EXPECT_EQ(Query("SELECT count(*) FROM t"), "1") << "at call " << n;
  }
  // A failure while connecting is reported and leaves no connection behind.
  zyl_fault_fail_after(1, SQLITE_CANTOPEN);
  SQLCA other;
  db_init(&other);
  std::string cs = "ENG=inject;DBN=inject;UID=dba;PWD=sql";
  EXPECT_EQ(db_string_connect(&other, cs.data()), 0u);
  EXPECT_LT(other.sqlcode, 0);
  zyl_fault_fail_after(0, 0);
  EXPECT_EQ(db_string_connect(&other, cs.data()), 1u) << Message(other);
  db_fini(&other);
}

TEST_F(Faults, SecondRequestOnABusySqlcaIsRefused) {
  std::string file = CreateDb("busy");
  ConnectFile(file, "busy");
  std::atomic<int> second{1};
  std::thread intruder([&] {
    while (!db_is_working(&ca)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // A request on the same SQLCA from another thread while the first one runs.
    std::string s = "SELECT 1";
    dbpp_execute_imm(&ca, s.data(), 2);
    second = ca.sqlcode;
    db_cancel_request(&ca);
  });
  int code = Exec(kEndless);
  intruder.join();
  EXPECT_EQ(second.load(), SQLE_DOUBLE_REQUEST);
  EXPECT_TRUE(code == SQLE_INTERRUPTED || code == SQLE_DOUBLE_REQUEST) << code;
  EXPECT_EQ(Query("SELECT 2"), "2");
}

}  // namespace
