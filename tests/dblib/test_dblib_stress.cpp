// Load and crashes, bounded in time: a writer process killed at random moments loses no commit it
// reported and leaves a sound file; sixteen writers and four scrolling readers, each on a
// connection of its own, all finish with every row in place and never see a torn one.
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <set>
#include <thread>

#include "tests/dblib/DblibHarness.h"

using zyltest::DblibTest;
using zyltest::Message;

namespace {

class Stress : public DblibTest {
 protected:
  // Integrity and a count, read with SQLite itself: what is on disk, whatever our library thinks.
  static std::string OnDisk(const std::string& file, const std::string& sql) {
    sqlite3* db = nullptr;
    std::string out = "<cannot open>";
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
      sqlite3_stmt* st = nullptr;
      out = "<cannot prepare>";
      if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
        out = sqlite3_step(st) == SQLITE_ROW ? reinterpret_cast<const char*>(sqlite3_column_text(st, 0)) : "<no row>";
        sqlite3_finalize(st);
      }
    }
    sqlite3_close(db);
    return out;
  }
  static int Run(SQLCA& c, const std::string& sql) {
    std::string s = sql;
    dbpp_execute_imm(&c, s.data(), 2);
    return c.sqlcode;
  }
};

constexpr int kRowsPerCommit = 5;

TEST_F(Stress, WriterKilledAtRandomMomentsLosesNoReportedCommit) {
  std::string file = CreateDb("crash");
  ConnectFile(file, "crash_setup");
  MustExec("CREATE TABLE log(batch INTEGER, part INTEGER, note VARCHAR(100), PRIMARY KEY (batch, part))");
  MustExec("COMMIT");
  db_string_disconnect(&ca, nullptr);
  std::string stop = "ENG=crash_setup;UNC=YES";
  db_stop_engine(&ca, stop.data());

  unsigned seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  std::set<int> reported;
  int nextBatch = 1;
  for (int round = 0; round < 12; ++round) {
    int pipefd[2];
    ASSERT_EQ(pipe(pipefd), 0);
    int first = nextBatch;
    pid_t writer = fork();
    if (writer == 0) {
      close(pipefd[0]);
      SQLCA c;
      db_init(&c);
      std::string cs = "DBF=" + file + ";UID=dba;PWD=sql";
      if (db_string_connect(&c, cs.data()) != 1) _exit(1);
      for (int batch = first;; ++batch) {
        for (int part = 0; part < kRowsPerCommit; ++part)
          if (Run(c, "INSERT INTO log VALUES (" + std::to_string(batch) + ", " + std::to_string(part) + ", '" +
                         std::string(60, char('a' + part)) + "')") != 0)
            _exit(2);
        dbpp_commit(&c, 0);
        if (c.sqlcode != 0) _exit(3);
        // Reported only once the commit returned: this batch must survive anything after this.
        if (write(pipefd[1], &batch, sizeof batch) != sizeof batch) _exit(4);
      }
    }
    close(pipefd[1]);
    // Wait for a first commit (the connect is done), then kill after a random while.
    int batch = 0;
    ASSERT_EQ(read(pipefd[0], &batch, sizeof batch), ssize_t(sizeof batch)) << "the writer never committed";
    reported.insert(batch);
    std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, 40000)(rng)));
    kill(writer, SIGKILL);
    int status = 0;
    waitpid(writer, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself: " << WEXITSTATUS(status);
    while (read(pipefd[0], &batch, sizeof batch) == ssize_t(sizeof batch)) reported.insert(batch);
    close(pipefd[0]);
    // A killed writer may have committed one batch more than it could report, never less.
    nextBatch = *reported.rbegin() + 2;

    ASSERT_EQ(OnDisk(file, "PRAGMA integrity_check"), "ok") << "round " << round;
    // Through our library again: every reported batch whole, no batch in part.
    SQLCA c;
    db_init(&c);
    std::string cs = "DBF=" + file + ";UID=dba;PWD=sql";
    ASSERT_EQ(db_string_connect(&c, cs.data()), 1u) << Message(c);
    for (int b : reported)
      ASSERT_EQ(Query("SELECT count(*) FROM log WHERE batch = " + std::to_string(b), &c), std::to_string(kRowsPerCommit))
          << "batch " << b << " in round " << round;
    EXPECT_EQ(Query("SELECT count(*) FROM (SELECT batch FROM log GROUP BY batch HAVING count(*) <> " +
                        std::to_string(kRowsPerCommit) + ") x",
                    &c),
              "0");
    db_string_disconnect(&c, nullptr);
    db_fini(&c);
  }
  EXPECT_GE(reported.size(), 12u);
}

TEST_F(Stress, SixteenWritersAndFourScrollingReaders) {
  std::string file = CreateDb("busy");
  ConnectFile(file, "busy", ";ASTOP=NO");
  MustExec("CREATE TABLE item(id INTEGER PRIMARY KEY, writer INTEGER, twice INTEGER, label VARCHAR(40))");
  MustExec("COMMIT");
  constexpr int kWriters = 16, kReaders = 4, kCommits = 15, kRows = 4;
  std::atomic<int> writersLeft{kWriters}, failures{0}, retries{0}, readerPasses{0};
  std::atomic<long> torn{0};
  std::string cs = "ENG=busy;DBN=busy;UID=dba;PWD=sql";

  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w)
    threads.emplace_back([&, w] {
      SQLCA c;
      db_init(&c);
      std::string s = cs;
      if (db_string_connect(&c, s.data()) != 1) {
        ++failures;
        --writersLeft;
        return;
      }
      for (int k = 0; k < kCommits; ++k) {
        for (int attempt = 0;; ++attempt) {
          bool ok = true;
          for (int r = 0; r < kRows && ok; ++r) {
            int id = (w * kCommits + k) * kRows + r + 1;
            ok = Run(c, "INSERT INTO item VALUES (" + std::to_string(id) + ", " + std::to_string(w) + ", " +
                            std::to_string(2 * id) + ", 'writer " + std::to_string(w) + "')") == 0;
          }
          if (ok) {
            dbpp_commit(&c, 0);
            ok = c.sqlcode == 0;
          }
          if (ok) break;
          dbpp_rollback(&c, 0);
          // Only a lock conflict may be retried; it clears once the other writer commits.
          if (c.sqlcode != SQLE_LOCKED && c.sqlcode != 0) {
            ++failures;
            break;
          }
          ++retries;
          if (attempt > 200) {
            ++failures;
            break;
          }
        }
      }
      db_string_disconnect(&c, nullptr);
      db_fini(&c);
      --writersLeft;
    });
  for (int r = 0; r < kReaders; ++r)
    threads.emplace_back([&, r] {
      SQLCA c;
      db_init(&c);
      std::string s = cs;
      if (db_string_connect(&c, s.data()) != 1) {
        ++failures;
        return;
      }
      char cursor[16];
      std::snprintf(cursor, sizeof cursor, "R%d", r);
      SQLDA* da = alloc_sqlda(2);
      int vals[2];
      short ind[2];
      da->sqld = 2;
      for (int i = 0; i < 2; ++i) {
        da->sqlvar[i].sqltype = DT_INT | 1;
        da->sqlvar[i].sqllen = 4;
        da->sqlvar[i].sqldata = &vals[i];
        da->sqlvar[i].sqlind = &ind[i];
      }
      std::mt19937 rng{unsigned(r)};
      // At least a few passes, and on until the writers are through.
      for (int pass = 0; pass < 3 || writersLeft.load() > 0; ++pass) {
        short stmt = 0;
        std::string sql = "SELECT id, twice FROM item ORDER BY id";
        dbpp_prepare(&c, nullptr, nullptr, &stmt, sql.data(), nullptr, 0);
        dbpp_declare(&c, cursor, nullptr, nullptr, &stmt, CUR_SCROLL | CUR_READ_ONLY);
        dbpp_open(&c, cursor, nullptr, nullptr, &stmt, nullptr, 0, 0, CUR_SCROLL | CUR_READ_ONLY);
        if (c.sqlcode < 0) {
          ++failures;
          break;
        }
        auto check = [&] {
          if (c.sqlcode == 0 && vals[1] != 2 * vals[0]) ++torn;
          if (c.sqlcode < 0) ++failures;
        };
        dbpp_fetch(&c, cursor, FETCH_ABSOLUTE, -1, da, 0, 0);
        check();
        for (int i = 0; i < 20; ++i) {
          dbpp_fetch(&c, cursor, FETCH_ABSOLUTE, std::uniform_int_distribution<int>(1, 1000)(rng), da, 0, 0);
          check();
          dbpp_fetch(&c, cursor, FETCH_RELATIVE, std::uniform_int_distribution<int>(-3, 3)(rng), da, 0, 0);
          check();
        }
        dbpp_close(&c, cursor);
        dbpp_dropstmt(&c, nullptr, nullptr, &stmt);
        dbpp_commit(&c, 0);
        ++readerPasses;
      }
      free_sqlda(da);
      db_string_disconnect(&c, nullptr);
      db_fini(&c);
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(torn.load(), 0);
  EXPECT_GE(readerPasses.load(), kReaders * 3);
  EXPECT_EQ(Query("SELECT count(*) FROM item"), std::to_string(kWriters * kCommits * kRows));
  EXPECT_EQ(Query("SELECT count(*) FROM item WHERE twice <> 2 * id"), "0");
  EXPECT_EQ(OnDisk(file, "PRAGMA integrity_check"), "ok");
  std::printf("[ stress ] %d lock conflicts retried, %d reader passes\n", retries.load(), readerPasses.load());
}

}  // namespace
