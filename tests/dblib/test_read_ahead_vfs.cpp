// The read-ahead file layer against SQLite's default one: the same answers to scans, look-ups and
// counts over files of any length, and never a page older than the reading transaction's own:
// a change another connection committed and checkpointed into the file between two transactions
// is seen by the next one, while a transaction open across the change keeps its snapshot.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "dblib/sqlite/ReadAheadVfs.h"

namespace {

class ReadAhead : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("zyl-readahead-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    for (sqlite3* db : open_) sqlite3_close_v2(db);
    std::filesystem::remove_all(dir_);
  }

  sqlite3* Open(const std::string& name, bool readAhead) {
    sqlite3* db = nullptr;
    const std::string file = (dir_ / name).string();
    const int rc = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                                   readAhead ? dbl::ReadAheadVfsName() : nullptr);
    open_.push_back(db);
    EXPECT_EQ(rc, SQLITE_OK) << sqlite3_errmsg(db);
    Exec(db, "PRAGMA journal_mode=WAL");
    return db;
  }

  static void Exec(sqlite3* db, const std::string& sql) {
    char* err = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
    EXPECT_EQ(rc, SQLITE_OK) << sql << ": " << (err ? err : "");
    sqlite3_free(err);
  }

  // Every row of a query as text, one line a row.
  static std::string Rows(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    std::string out;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      for (int i = 0; i < sqlite3_column_count(st); ++i) {
        const unsigned char* t = sqlite3_column_text(st, i);
        out += t ? reinterpret_cast<const char*>(t) : "NULL";
        out += '|';
      }
      out += '\n';
    }
    EXPECT_EQ(rc, SQLITE_DONE) << sqlite3_errmsg(db);
    sqlite3_finalize(st);
    return out;
  }

  // A table t of `rows` rows of about 300 bytes, one value in `version`, and an index on it.
  static void Fill(sqlite3* db, int rows, int version) {
    Exec(db, "CREATE TABLE IF NOT EXISTS t (id INTEGER PRIMARY KEY, v TEXT, n INTEGER)");
    Exec(db, "CREATE INDEX IF NOT EXISTS t_n ON t(n)");
    Exec(db, "DELETE FROM t");
    Exec(db, "WITH RECURSIVE c(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM c WHERE k < " + std::to_string(rows) +
                 ") INSERT INTO t SELECT k, printf('v%d-%d-', " + std::to_string(version) +
                 ", k) || substr(hex(randomblob(150)), 1, 280), (k * 7919) % 1000 FROM c");
  }

  std::filesystem::path dir_;
  std::vector<sqlite3*> open_;
};

TEST_F(ReadAhead, ScansLookupsAndCountsAnswerAsThroughTheDefaultLayer) {
  // Sizes around the 64 KB piece: a file shorter than one, and longer ones that end inside one.
  for (int rows : {5, 40, 3000, 9001}) {
    SCOPED_TRACE(rows);
    const std::string name = "same" + std::to_string(rows) + ".db";
    sqlite3* plain = Open(name, false);
    Fill(plain, rows, 1);
    Exec(plain, "PRAGMA wal_checkpoint(TRUNCATE)");
    sqlite3* ours = Open(name, true);
    for (const char* sql : {"SELECT * FROM t", "SELECT * FROM t ORDER BY id DESC", "SELECT count(*) FROM t",
                            "SELECT id, n FROM t WHERE n BETWEEN 100 AND 300 ORDER BY n, id",
                            "SELECT v FROM t WHERE id IN (1, 17, 2999, 3000, 9001, 4444)",
                            "SELECT sum(length(v)), max(v) FROM t"}) {
      EXPECT_TRUE(Rows(ours, sql) == Rows(plain, sql)) << sql;
    }
  }
}

TEST_F(ReadAhead, TransactionsSeeWhatWasCommittedBeforeThemAndKeepTheirSnapshot) {
  // A file of some 80 pages; a look-up of the first row reads the file's first pages in sequence
  // (header, root, leaf), so the read-ahead holds them when the next transaction asks again.
  sqlite3* writer = Open("fresh.db", false);
  Fill(writer, 1000, 1);
  Exec(writer, "PRAGMA wal_checkpoint(TRUNCATE)");
  sqlite3* reader = Open("fresh.db", true);
  const std::string one = "SELECT id, v FROM t WHERE id = 1", all = "SELECT id, v FROM t ORDER BY id";
  auto change = [&](sqlite3* db, int version) {
    Exec(db, "UPDATE t SET v = printf('v%d-%d-', " + std::to_string(version) + ", id) || substr(v, 9)");
  };
  ASSERT_NE(Rows(reader, one).find("v1-1-"), std::string::npos);

  // Changed, committed and written back into the file between two of the reader's transactions.
  change(writer, 2);
  Exec(writer, "PRAGMA wal_checkpoint(TRUNCATE)");
  EXPECT_NE(Rows(reader, one).find("v2-1-"), std::string::npos);
  EXPECT_TRUE(Rows(reader, all) == Rows(writer, all));

  // A transaction open across a change keeps reading what it began with, and the next one sees
  // the change once it is in the file.
  Exec(reader, "BEGIN");
  const std::string before = Rows(reader, all);
  change(writer, 3);
  Exec(writer, "PRAGMA wal_checkpoint(PASSIVE)");
  EXPECT_TRUE(Rows(reader, all) == before);
  EXPECT_NE(Rows(reader, one).find("v2-1-"), std::string::npos);
  Exec(reader, "COMMIT");
  Exec(writer, "PRAGMA wal_checkpoint(TRUNCATE)");
  EXPECT_NE(Rows(reader, one).find("v3-1-"), std::string::npos);
  EXPECT_TRUE(Rows(reader, all) == Rows(writer, all));

  // The reader's own writes, checkpointed through its own handle, read back at once.
  change(reader, 4);
  Exec(reader, "PRAGMA wal_checkpoint(TRUNCATE)");
  EXPECT_NE(Rows(reader, one).find("v4-1-"), std::string::npos);
  EXPECT_TRUE(Rows(reader, all) == Rows(writer, all));
}

}  // namespace
