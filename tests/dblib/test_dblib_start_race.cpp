// Start-or-attach: connects that race to the first start of an engine, in threads and in
// processes, all succeed; a database file named by DBF is exactly the database reached, whether
// this process, another one or nobody runs it yet.
#include <sys/wait.h>

#include <atomic>
#include <functional>
#include <latch>
#include <thread>

#include "tests/dblib/DblibHarness.h"

using zyltest::DblibTest;
using zyltest::Message;

namespace {

class StartRace : public DblibTest {
 protected:
  // Runs body in a child process; its exit status is body's result (0 = all went well).
  static pid_t Spawn(const std::function<int()>& body) {
    pid_t child = fork();
    if (child == 0) _exit(body());
    return child;
  }
  static int Wait(pid_t child) {
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  // One connect, one statement, one disconnect on an SQLCA of its own; the SQLCODE of the
  // first failure, 0 when all worked.
  static int ConnectAndRun(const std::string& cs, const std::string& sql) {
    SQLCA c;
    db_init(&c);
    std::string s = cs;
    int code = 0;
    if (db_string_connect(&c, s.data()) != 1) {
      code = c.sqlcode;
    } else {
      std::string q = sql;
      dbpp_execute_imm(&c, q.data(), 2);
      if (c.sqlcode >= 0) dbpp_commit(&c, 0);
      code = c.sqlcode < 0 ? c.sqlcode : 0;
      db_string_disconnect(&c, nullptr);
    }
    db_fini(&c);
    return code;
  }
  // The single value of a query on a connection of its own.
  std::string ValueIn(const std::string& cs, const std::string& sql) {
    SQLCA c;
    db_init(&c);
    std::string s = cs, r = "<no connection: ";
    if (db_string_connect(&c, s.data()) == 1) {
      r = Query(sql, &c);
      db_string_disconnect(&c, nullptr);
    } else {
      r += Message(c) + ">";
    }
    db_fini(&c);
    return r;
  }
  std::string Table(const std::string& file, const std::string& table) {
    SQLCA c;
    db_init(&c);
    std::string cs = "DBF=" + file + ";UID=dba;PWD=sql", sql = "CREATE TABLE " + table + "(who VARCHAR(40))";
    EXPECT_EQ(db_string_connect(&c, cs.data()), 1u) << Message(c);
    dbpp_execute_imm(&c, sql.data(), 2);
    EXPECT_EQ(c.sqlcode, 0) << Message(c);
    dbpp_commit(&c, 0);
    db_string_disconnect(&c, nullptr);
    db_fini(&c);
    return file;
  }
};

TEST_F(StartRace, SixteenThreadsMakingTheFirstConnectAllGetIn) {
  std::string file = Table(CreateDb("threads"), "seen");
  for (int round = 0; round < 20; ++round) {
    std::latch go(16);
    std::atomic<int> failures{0}, lastCode{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 16; ++i)
      threads.emplace_back([&, i] {
        go.arrive_and_wait();
        int code = ConnectAndRun("DBF=" + file + ";UID=dba;PWD=sql",
                                 "INSERT INTO seen VALUES ('" + std::to_string(round * 16 + i) + "')");
        if (code) {
          ++failures;
          lastCode = code;
        }
      });
    for (auto& t : threads) t.join();
    ASSERT_EQ(failures.load(), 0) << "round " << round << ", SQLCODE " << lastCode.load();
    // Every connect auto-stopped what it started: nothing is left running between rounds.
    ASSERT_EQ(db_find_engine(&ca, const_cast<char*>("threads")), 0) << "round " << round;
  }
  EXPECT_EQ(ValueIn("DBF=" + file + ";UID=dba;PWD=sql", "SELECT count(*) FROM seen"), "320");
}

TEST_F(StartRace, TwoProcessesMakingTheFirstConnectBothGetIn) {
  std::string file = Table(CreateDb("procs"), "seen");
  for (int round = 0; round < 20; ++round) {
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    std::vector<pid_t> children;
    for (int i = 0; i < 2; ++i)
      children.push_back(Spawn([&, i] {
        close(gate[1]);
        char b;
        if (read(gate[0], &b, 1) != 0) return 90;  // both start when the gate closes
        int code = ConnectAndRun("DBF=" + file + ";UID=dba;PWD=sql",
                                 "INSERT INTO seen VALUES ('" + std::to_string(round) + "/" + std::to_string(i) + "')");
        return code ? 100 + (-code % 100) : 0;
      }));
    close(gate[0]);
    close(gate[1]);  // end of file releases both readers at once
    for (pid_t c : children) ASSERT_EQ(Wait(c), 0) << "round " << round;
  }
  EXPECT_EQ(ValueIn("DBF=" + file + ";UID=dba;PWD=sql", "SELECT count(*) FROM seen"), "40");
}

TEST_F(StartRace, TwoProcessesWriteAndReadTheSameFileThroughDbf) {
  std::string file = Table(CreateDb("shared"), "note");
  std::string cs = "DBF=" + file + ";UID=dba;PWD=sql";
  // This process holds the database open; the other one connects through the file name alone,
  // writes, and reads what this one wrote.
  ASSERT_TRUE(Connect(cs)) << Message(ca);
  MustExec("INSERT INTO note VALUES ('parent')");
  MustExec("COMMIT");
  pid_t child = Spawn([&] {
    SQLCA c;
    db_init(&c);
    std::string s = cs;
    if (db_string_connect(&c, s.data()) != 1) return 1;
    std::string ins = "INSERT INTO note VALUES ('child')";
    dbpp_execute_imm(&c, ins.data(), 2);
    dbpp_commit(&c, 0);
    if (c.sqlcode != 0) return 2;
    int rc = Query("SELECT count(*) FROM note WHERE who = 'parent'", &c) == "1" ? 0 : 3;
    db_string_disconnect(&c, nullptr);
    return rc;
  });
  ASSERT_EQ(Wait(child), 0);
  EXPECT_EQ(Query("SELECT count(*) FROM note WHERE who = 'child'"), "1");
}

TEST_F(StartRace, DbfReachesExactlyTheFileNamed) {
  // Two files with the same base name, and a third database running in another process.
  std::filesystem::create_directories(dir.File("a"));
  std::filesystem::create_directories(dir.File("b"));
  std::string a = dir.File("a/demo.db"), b = dir.File("b/demo.db");
  std::filesystem::rename(CreateDb("demo_a"), a);
  std::filesystem::rename(CreateDb("demo_b"), b);
  Table(a, "only_in_a");
  Table(b, "only_in_b");
  std::string other = Table(CreateDb("r11"), "only_in_r11");

  // In this process: one holds a/demo.db; a connect to b/demo.db is a second database.
  ASSERT_TRUE(Connect("DBF=" + a + ";UID=dba;PWD=sql;CON=a")) << Message(ca);
  EXPECT_EQ(ValueIn("DBF=" + b + ";UID=dba;PWD=sql", "SELECT count(*) FROM only_in_b"), "0");

  // Another process serves a/demo.db and r11.db (one engine each); connects here by file reach
  // exactly those files, and b/demo.db stays b's.
  db_string_disconnect(&ca, nullptr);
  int ready[2], done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  pid_t server = Spawn([&] {
    close(done[1]);
    SQLCA c;
    db_init(&c);
    std::string s1 = "DBF=" + a + ";UID=dba;PWD=sql;CON=one", s2 = "DBF=" + other + ";UID=dba;PWD=sql;CON=two";
    if (db_string_connect(&c, s1.data()) != 1 || db_string_connect(&c, s2.data()) != 1) return 1;
    char b = 1;
    if (write(ready[1], &b, 1) != 1) return 2;
    read(done[0], &b, 1);  // until the parent is through
    return 0;
  });
  close(done[0]);
  char byte;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  EXPECT_EQ(ValueIn("DBF=" + a + ";UID=dba;PWD=sql", "SELECT count(*) FROM only_in_a"), "0");
  EXPECT_EQ(ValueIn("DBF=" + b + ";UID=dba;PWD=sql", "SELECT count(*) FROM only_in_b"), "0");
  std::string p = Table(CreateDb("p"), "only_in_p");
  EXPECT_EQ(ValueIn("DBF=" + p + ";UID=dba;PWD=sql", "SELECT count(*) FROM only_in_p"), "0");

  // The binding's order for a file: start the engine (named after the file), start the
  // database, connect by engine and database name. Same file as the other process: its
  // database; a file of the same base name: that file. No start/stop message in either case.
  for (const std::string& file : {a, b}) {
    SQLCA c;
    db_init(&c);
    std::string start = "ENG=demo;DBF=" + file + ";DBN=demo";
    db_start_engine(&c, start.data());
    EXPECT_TRUE(c.sqlcode == 0 || c.sqlcode == SQLE_ENGINE_ALREADY_RUNNING) << Message(c);
    if (c.sqlcode == SQLE_ENGINE_ALREADY_RUNNING) {
      EXPECT_EQ(db_start_database(&c, start.data()), 1u) << Message(c);
    }
    std::string cs = "ENG=demo;DBN=demo;UID=dba;PWD=sql";
    ASSERT_EQ(db_string_connect(&c, cs.data()), 1u) << Message(c);
    EXPECT_EQ(Query(file == a ? "SELECT count(*) FROM only_in_a" : "SELECT count(*) FROM only_in_b", &c), "0")
        << file;
    db_string_disconnect(&c, nullptr);
    std::string stop = "ENG=demo;UNC=YES";
    db_stop_engine(&c, stop.data());
    db_fini(&c);
  }
  close(done[1]);
  EXPECT_EQ(Wait(server), 0);
}

}  // namespace
