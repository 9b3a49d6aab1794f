// Online backup through db_backup and db_delete_file, driven as the session drives them: start,
// each file opened, read page by page through a one-variable binary SQLDA, closed, end.
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/dblib/DblibHarness.h"

using zyltest::DblibTest;
using zyltest::Message;

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), std::streamsize(bytes.size()));
}

// Opens a database file with SQLite itself, outside the library.
class Raw {
 public:
  explicit Raw(const std::string& file) {
    if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
      sqlite3_close(db_);
      db_ = nullptr;
    }
  }
  ~Raw() { sqlite3_close(db_); }
  bool Ok() const { return db_ != nullptr; }
  // First column of the first row as text; "<error>" when the query fails.
  std::string One(const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) return "<error>";
    std::string r = "<none>";
    int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) r = sqlite3_column_text(st, 0) ? reinterpret_cast<const char*>(sqlite3_column_text(st, 0)) : "<null>";
    else if (rc != SQLITE_DONE) r = "<error>";
    sqlite3_finalize(st);
    return r;
  }

 private:
  sqlite3* db_ = nullptr;
};

class BackupTest : public DblibTest {
 protected:
  void SetUp() override {
    DblibTest::SetUp();
    // The library's private copies go to the temporary folder: this test's own.
    if (const char* t = std::getenv("TMPDIR")) savedTmp = t;
    tmp = dir.File("tmp");
    fs::create_directories(tmp);
    setenv("TMPDIR", tmp.c_str(), 1);
  }
  void TearDown() override {
    zyl_fault_fail_after(0, 0);
    for (SQLDA* d : das) free_sqlda(d);
    DblibTest::TearDown();
    if (savedTmp.empty()) unsetenv("TMPDIR");
    else setenv("TMPDIR", savedTmp.c_str(), 1);
  }

  // A database with a table of n rows, connected on ca as DBA.
  std::string MakeDb(const std::string& name, int rows) {
    std::string file = CreateDb(name);
    ConnectFile(file, "eng1");
    MustExec("CREATE TABLE t(id INTEGER PRIMARY KEY, pad VARCHAR(300))");
    for (int i = 1; i <= rows; ++i)
      MustExec("INSERT INTO t VALUES (" + std::to_string(i) + ", printf('%0300d', " + std::to_string(i) + "))");
    MustExec("COMMIT");
    return file;
  }

  int Op(int op, int file = 0, unsigned page = 0, SQLDA* da = nullptr, SQLCA* on = nullptr) {
    SQLCA& c = on ? *on : ca;
    db_backup(&c, op, file, page, da);
    return c.sqlcode;
  }

  // The session's transfer buffer: one binary variable of page size + 2 bytes.
  SQLDA* PageBuffer(int pageSize) {
    buffers.emplace_back(size_t(pageSize) + 2, '\0');
    SQLDA* da = alloc_sqlda(1);
    das.push_back(da);
    da->sqld = 1;
    da->sqlvar[0].sqltype = DT_BINARY;
    da->sqlvar[0].sqllen = short(pageSize + 2);
    da->sqlvar[0].sqldata = buffers.back().data();
    return da;
  }
  static std::string PageOf(SQLDA* da) {
    auto* v = static_cast<VARCHAR*>(da->sqlvar[0].sqldata);
    return std::string(v->array, v->len);
  }
  std::string MessageArea(SQLCA& c) const { return std::string(reinterpret_cast<char*>(c.sqlerrmc), size_t(c.sqlerrml)); }

  // Opens, reads every page with readOp and closes one file; fails the test on any error.
  std::string CopyOf(int file, SQLDA* da, int readOp = DB_BACKUP_READ_PAGE, std::string* name = nullptr) {
    EXPECT_EQ(Op(DB_BACKUP_OPEN_FILE, file), 0) << Message(ca);
    if (ca.sqlcode != 0) return {};
    int pages = ca.sqlerrd[2];
    if (name) *name = MessageArea(ca);
    std::string bytes;
    for (int p = 0; p < pages; ++p) {
      EXPECT_EQ(Op(readOp, file, unsigned(p), da), 0) << "page " << p << ": " << Message(ca);
      bytes += PageOf(da);
      if (name && readOp == DB_BACKUP_READ_RENAME_LOG && p + 1 == pages) *name = MessageArea(ca);
    }
    EXPECT_EQ(Op(DB_BACKUP_CLOSE_FILE, file), 0) << Message(ca);
    return bytes;
  }

  bool TmpEmpty() const { return fs::is_empty(tmp); }

  std::string tmp, savedTmp;
  std::vector<SQLDA*> das;
  std::vector<std::string> buffers;
};

TEST_F(BackupTest, CopiesTheDatabaseAndItsLogPageByPage) {
  std::string file = MakeDb("full", 300);
  ASSERT_EQ(Op(DB_BACKUP_START), 0) << Message(ca);
  int pageSize = ca.sqlerrd[2];
  EXPECT_EQ(pageSize, 4096);
  SQLDA* da = PageBuffer(pageSize);

  ASSERT_EQ(Op(DB_BACKUP_OPEN_FILE, 0), 0);
  int pages = ca.sqlerrd[2];
  EXPECT_GT(pages, 20);  // 300 rows of 300 bytes
  EXPECT_EQ(MessageArea(ca), fs::canonical(file).string());
  EXPECT_GT(ca.sqlerrd[3], 1000000000);  // a plausible time_t
  // Every page is a full page; the last page and the one past it are told apart.
  ASSERT_EQ(Op(DB_BACKUP_READ_PAGE, 0, unsigned(pages - 1), da), 0);
  EXPECT_EQ(PageOf(da).size(), size_t(pageSize));
  EXPECT_EQ(Op(DB_BACKUP_READ_PAGE, 0, unsigned(pages), da), SQLE_NOTFOUND);
  ASSERT_EQ(Op(DB_BACKUP_CLOSE_FILE, 0), 0);

  std::string db = CopyOf(0, da);
  EXPECT_EQ(db.size(), size_t(pages) * size_t(pageSize));
  EXPECT_EQ(db.substr(0, 16), std::string("SQLite format 3\0", 16));
  // The session goes on with file 1 (missing: stops there), then the write file and the log.
  EXPECT_EQ(Op(DB_BACKUP_OPEN_FILE, 1), SQLE_NOTFOUND);
  EXPECT_EQ(Op(DB_BACKUP_OPEN_FILE, DB_BACKUP_WRITE_FILE), SQLE_NOTFOUND);
  std::string logName;
  std::string log = CopyOf(DB_BACKUP_TRANS_LOG_FILE, da, DB_BACKUP_READ_PAGE, &logName);
  EXPECT_EQ(logName, fs::canonical(file).string() + "-wal");
  ASSERT_EQ(Op(DB_BACKUP_END), 0);

  // The copy opens by itself, is sound and holds the data; the library starts it as well.
  std::string copy = dir.File("copy.db");
  WriteAll(copy, db);
  {
    Raw r(copy);
    ASSERT_TRUE(r.Ok());
    EXPECT_EQ(r.One("PRAGMA integrity_check"), "ok");
    EXPECT_EQ(r.One("SELECT count(*) FROM t"), "300");
    EXPECT_EQ(r.One("SELECT pad FROM t WHERE id = 17"), std::string(298, '0') + "17");
  }
  SQLCA other;
  db_init(&other);
  std::string cs = "ENG=eng2;DBF=" + copy + ";UID=dba;PWD=sql";
  ASSERT_EQ(db_string_connect(&other, cs.data()), 1u) << Message(other);
  EXPECT_EQ(Query("SELECT max(id) FROM t", &other), "300");
  db_string_disconnect(&other, nullptr);
  std::string stop = "ENG=eng2;UNC=YES";
  db_stop_engine(&other, stop.data());
  db_fini(&other);
  // Nothing of the backup is left in the temporary folder, and the live database goes on.
  EXPECT_TRUE(TmpEmpty());
  MustExec("INSERT INTO t VALUES (301, 'x')");
  MustExec("COMMIT");
}

TEST_F(BackupTest, ACopyTakenUnderWriteLoadHoldsOneMoment) {
  std::string file = MakeDb("load", 0);
  MustExec("CREATE TABLE a(id INTEGER PRIMARY KEY, pad VARCHAR(500))");
  MustExec("CREATE TABLE b(id INTEGER PRIMARY KEY, pad VARCHAR(500))");
  MustExec("COMMIT");
  // The writer keeps count(a) = count(b): both rows go in one transaction.
  std::atomic<bool> stop{false};
  std::atomic<int> commits{0}, failures{0};
  std::thread writer([&] {
    SQLCA w;
    db_init(&w);
    std::string cs = "ENG=eng1;DBN=load;UID=dba;PWD=sql;CON=writer";
    if (db_string_connect(&w, cs.data()) != 1) {
      failures = 1;
      db_fini(&w);
      return;
    }
    for (int i = 1; !stop.load(); ++i) {
      std::string n = std::to_string(i);
      for (std::string sql : {"INSERT INTO a VALUES (" + n + ", printf('%0500d', " + n + "))",
                              "INSERT INTO b VALUES (" + n + ", printf('%0500d', " + n + "))"}) {
        dbpp_execute_imm(&w, sql.data(), 2);
        if (w.sqlcode < 0) ++failures;
      }
      dbpp_commit(&w, 0);
      if (w.sqlcode == 0) ++commits;
      else ++failures;
    }
    db_string_disconnect(&w, nullptr);
    db_fini(&w);
  });
  while (commits.load() < 200) std::this_thread::sleep_for(std::chrono::milliseconds(1));

  int beforeStart = commits.load();
  ASSERT_EQ(Op(DB_BACKUP_START), 0) << Message(ca);
  int atStart = commits.load();
  SQLDA* da = PageBuffer(ca.sqlerrd[2]);
  ASSERT_EQ(Op(DB_BACKUP_OPEN_FILE, 0), 0);
  int pages = ca.sqlerrd[2];
  std::string db;
  for (int p = 0; p < pages; ++p) {
    ASSERT_EQ(Op(DB_BACKUP_READ_PAGE, 0, unsigned(p), da), 0) << Message(ca);
    db += PageOf(da);
    // Half-way, make sure the writer has committed more since the start (bounded wait).
    if (p == pages / 2) {
      auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (commits.load() < atStart + 20 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  ASSERT_EQ(Op(DB_BACKUP_CLOSE_FILE, 0), 0);
  int afterDb = commits.load();
  std::string log = CopyOf(DB_BACKUP_TRANS_LOG_FILE, da);
  ASSERT_EQ(Op(DB_BACKUP_END), 0);
  stop = true;
  writer.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_GT(afterDb, atStart) << "the writer was not writing during the backup";

  std::string copy = dir.File("moment.db");
  WriteAll(copy, db);
  std::string inCopy;
  {
    Raw r(copy);
    ASSERT_TRUE(r.Ok());
    EXPECT_EQ(r.One("PRAGMA integrity_check"), "ok");
    inCopy = r.One("SELECT count(*) FROM a");
    EXPECT_EQ(r.One("SELECT count(*) FROM b"), inCopy);
    EXPECT_EQ(r.One("SELECT count(*) FROM a JOIN b USING (id)"), inCopy);
    // The moment is the start's, not the end's.
    EXPECT_GE(std::stoi(inCopy), beforeStart);
    EXPECT_LE(std::stoi(inCopy), atStart + 1);
  }
  // With the log copy beside it, the copy replays what the log held: still one moment.
  std::string withLog = dir.File("withlog.db");
  WriteAll(withLog, db);
  WriteAll(withLog + "-wal", log);
  Raw r(withLog);
  ASSERT_TRUE(r.Ok());
  EXPECT_EQ(r.One("PRAGMA integrity_check"), "ok");
  std::string replayed = r.One("SELECT count(*) FROM a");
  EXPECT_EQ(r.One("SELECT count(*) FROM b"), replayed);
  EXPECT_GE(std::stoi(replayed), std::stoi(inCopy));
  // The live database passed through unharmed.
  Raw liveDb(file);
  EXPECT_EQ(liveDb.One("PRAGMA integrity_check"), "ok");
  EXPECT_EQ(Query("SELECT count(*) FROM a"), Query("SELECT count(*) FROM b"));
}

TEST_F(BackupTest, RenamingTheLogFilesItAwayAndRestartsItEmpty) {
  std::string file = MakeDb("logs", 50);
  std::string live = fs::canonical(file).string();
  ASSERT_GT(fs::file_size(live + "-wal"), 0u);
  ASSERT_EQ(Op(DB_BACKUP_START), 0);
  SQLDA* da = PageBuffer(ca.sqlerrd[2]);
  // The read-and-rename operation belongs to the log alone.
  ASSERT_EQ(Op(DB_BACKUP_OPEN_FILE, 0), 0);
  EXPECT_EQ(Op(DB_BACKUP_READ_RENAME_LOG, 0, 0, da), SQLE_UNKNOWN_BACKUP_OPERATION);
  ASSERT_EQ(Op(DB_BACKUP_CLOSE_FILE, 0), 0);
  std::string archive;
  std::string log = CopyOf(DB_BACKUP_TRANS_LOG_FILE, da, DB_BACKUP_READ_RENAME_LOG, &archive);
  ASSERT_EQ(Op(DB_BACKUP_END), 0);

  // The message area names the filed-away log: beside the database, holding what was read.
  fs::path a(archive);
  EXPECT_EQ(a.parent_path(), fs::path(live).parent_path());
  EXPECT_EQ(a.extension(), ".wal");
  EXPECT_EQ(a.filename().string().rfind("logs-", 0), 0u) << archive;
  ASSERT_TRUE(fs::exists(a));
  EXPECT_EQ(ReadAll(archive), log);
  EXPECT_FALSE(log.empty());
  // The live log restarted empty; nothing committed is lost.
  EXPECT_EQ(fs::file_size(live + "-wal"), 0u);
  EXPECT_EQ(Query("SELECT count(*) FROM t"), "50");
  EXPECT_EQ(Raw(file).One("PRAGMA integrity_check"), "ok");

  // A second rename files the next log under the next free name.
  MustExec("INSERT INTO t VALUES (51, 'more')");
  MustExec("COMMIT");
  ASSERT_EQ(Op(DB_BACKUP_START), 0);
  std::string second;
  CopyOf(DB_BACKUP_TRANS_LOG_FILE, da, DB_BACKUP_READ_RENAME_LOG, &second);
  ASSERT_EQ(Op(DB_BACKUP_END), 0);
  EXPECT_NE(second, archive);
  EXPECT_TRUE(fs::exists(second));
  EXPECT_TRUE(fs::exists(archive));

  // Restarting: the session deletes the filed-away log by the name it was given.
  db_delete_file(&ca, second.data());
  EXPECT_EQ(ca.sqlcode, 0) << Message(ca);
  EXPECT_FALSE(fs::exists(second));
  // By its bare name too (resolved beside the database).
  std::string bare = a.filename().string();
  db_delete_file(&ca, bare.data());
  EXPECT_EQ(ca.sqlcode, 0) << Message(ca);
  EXPECT_FALSE(fs::exists(a));
  db_delete_file(&ca, bare.data());  // gone already
  EXPECT_EQ(ca.sqlcode, SQLE_BACKUP_UNABLE_TO_DELETE_FILE);
}

TEST_F(BackupTest, NamesTooLongForTheMessageAreaAreReportedWithoutTheirFolder) {
  // 50 characters: with its folder the name passes the 70 bytes, on its own (and filed away
  // with the date) it fits.
  const std::string name = "a_database_whose_name_takes_up_most_of_the_area_xx";
  std::string file = MakeDb(name, 3);
  ASSERT_GT(fs::canonical(file).string().size(), 70u);
  ASSERT_EQ(Op(DB_BACKUP_START), 0);
  SQLDA* da = PageBuffer(ca.sqlerrd[2]);
  std::string dbName, archive;
  CopyOf(0, da, DB_BACKUP_READ_PAGE, &dbName);
  EXPECT_EQ(dbName, name + ".db");
  CopyOf(DB_BACKUP_TRANS_LOG_FILE, da, DB_BACKUP_READ_RENAME_LOG, &archive);
  ASSERT_EQ(Op(DB_BACKUP_END), 0);
  EXPECT_EQ(archive.find('/'), std::string::npos) << archive;
  EXPECT_EQ(archive.rfind(name + "-", 0), 0u) << archive;
  // The bare name is found beside the database.
  ASSERT_TRUE(fs::exists(fs::path(file).parent_path() / archive));
  db_delete_file(&ca, archive.data());
  EXPECT_EQ(ca.sqlcode, 0) << Message(ca);
  EXPECT_FALSE(fs::exists(fs::path(file).parent_path() / archive));
}

TEST_F(BackupTest, DeletingRefusesEverythingButAFiledAwayLog) {
  std::string file = MakeDb("keep", 5);
  std::string live = fs::canonical(file).string();
  fs::create_directories(dir.File("elsewhere"));
  std::string lookalikeElsewhere = dir.File("elsewhere/keep-26010100.wal");
  WriteAll(lookalikeElsewhere, "x");
  std::string otherDb = dir.File("other-26010100.wal");
  WriteAll(otherDb, "x");
  fs::create_directories(dir.File("sub"));
  std::string viaDots = dir.File("sub/../keep.db");
  std::string linkName = dir.File("keep-26010101.wal");
  fs::create_symlink(live, linkName);
  for (std::string name : {live, live + "-wal", live + "-shm", viaDots, lookalikeElsewhere, otherDb,
                           std::string("keep.db"), linkName, dir.File("keep-2601010.wal"), std::string()}) {
    db_delete_file(&ca, name.data());
    EXPECT_EQ(ca.sqlcode, SQLE_BACKUP_UNABLE_TO_DELETE_FILE) << name;
  }
  db_delete_file(&ca, nullptr);
  EXPECT_EQ(ca.sqlcode, SQLE_BACKUP_UNABLE_TO_DELETE_FILE);
  EXPECT_TRUE(fs::exists(live));
  EXPECT_TRUE(fs::exists(lookalikeElsewhere));
  EXPECT_TRUE(fs::exists(otherDb));
  EXPECT_TRUE(fs::exists(live + "-wal"));
  EXPECT_EQ(Query("SELECT count(*) FROM t"), "5");
  // Only a DBA may delete.
  MustExec("GRANT CONNECT TO clerk IDENTIFIED BY pw");
  MustExec("COMMIT");
  std::string ok = dir.File("keep-26010102.wal");
  WriteAll(ok, "x");
  SQLCA u;
  db_init(&u);
  std::string cs = "ENG=eng1;DBN=keep;UID=clerk;PWD=pw";
  ASSERT_EQ(db_string_connect(&u, cs.data()), 1u) << Message(u);
  db_delete_file(&u, ok.data());
  EXPECT_EQ(u.sqlcode, SQLE_PERMISSION_DENIED);
  EXPECT_TRUE(fs::exists(ok));
  db_backup(&u, DB_BACKUP_START, 0, 0, nullptr);
  EXPECT_EQ(u.sqlcode, SQLE_PERMISSION_DENIED);
  db_string_disconnect(&u, nullptr);
  db_fini(&u);
  db_delete_file(&ca, ok.data());
  EXPECT_EQ(ca.sqlcode, 0) << Message(ca);
  EXPECT_FALSE(fs::exists(ok));
}

TEST_F(BackupTest, OpenTransactionsHoldTheLogRestartBackUntilTheyEnd) {
  std::string file = MakeDb("busy", 10);
  std::string live = fs::canonical(file).string();
  SQLCA w;
  db_init(&w);
  std::string cs = "ENG=eng1;DBN=busy;UID=dba;PWD=sql;CON=w";
  ASSERT_EQ(db_string_connect(&w, cs.data()), 1u) << Message(w);
  std::string ins = "INSERT INTO t VALUES (11, 'open')";
  dbpp_execute_imm(&w, ins.data(), 2);
  ASSERT_EQ(w.sqlcode, 0) << Message(w);  // left uncommitted

  ASSERT_EQ(Op(DB_BACKUP_START), 0);
  SQLDA* da = PageBuffer(ca.sqlerrd[2]);
  ASSERT_EQ(Op(DB_BACKUP_OPEN_FILE, DB_BACKUP_TRANS_LOG_FILE), 0);
  unsigned last = unsigned(ca.sqlerrd[2] - 1);
  for (unsigned p = 0; p < last; ++p) ASSERT_EQ(Op(DB_BACKUP_READ_RENAME_LOG, -2, p, da), 0);
  auto before = fs::directory_iterator(fs::path(live).parent_path());
  size_t filesBefore = std::distance(before, fs::directory_iterator());
  EXPECT_EQ(Op(DB_BACKUP_READ_RENAME_LOG, -2, last, da), SQLE_BACKUP_CANNOT_RENAME_LOG_YET);
  EXPECT_EQ(Op(DB_BACKUP_READ_RENAME_LOG, -2, last, da), SQLE_BACKUP_CANNOT_RENAME_LOG_YET);
  // Nothing was filed away, and the open transaction is intact.
  auto after = fs::directory_iterator(fs::path(live).parent_path());
  EXPECT_EQ(size_t(std::distance(after, fs::directory_iterator())), filesBefore);
  dbpp_commit(&w, 0);
  ASSERT_EQ(w.sqlcode, 0) << Message(w);
  // The retry of the same page now renames.
  EXPECT_EQ(Op(DB_BACKUP_READ_RENAME_LOG, -2, last, da), 0) << Message(ca);
  std::string archive = MessageArea(ca);
  EXPECT_TRUE(fs::exists(archive)) << archive;
  EXPECT_EQ(Op(DB_BACKUP_CLOSE_FILE, -2), 0);
  EXPECT_EQ(Op(DB_BACKUP_END), 0);
  EXPECT_EQ(Query("SELECT count(*) FROM t"), "11");
  db_string_disconnect(&w, nullptr);
  db_fini(&w);
}

TEST_F(BackupTest, MisuseGetsTheVendorsCodes) {
  // Without a connection.
  EXPECT_EQ(Op(DB_BACKUP_START), SQLE_NOT_CONNECTED);
  std::string file = MakeDb("codes", 3);
  // Operations outside the protocol, and every operation before start.
  for (int op : {0, 7, 8, 9, 51, -1})
    EXPECT_EQ(Op(op), SQLE_UNKNOWN_BACKUP_OPERATION) << op;
  for (int op : {DB_BACKUP_OPEN_FILE, DB_BACKUP_READ_PAGE, DB_BACKUP_CLOSE_FILE, DB_BACKUP_END,
                 DB_BACKUP_READ_RENAME_LOG})
    EXPECT_EQ(Op(op), SQLE_BACKUP_NOT_STARTED) << op;
  ASSERT_EQ(Op(DB_BACKUP_START), 0);
  int pageSize = ca.sqlerrd[2];
  EXPECT_EQ(Op(DB_BACKUP_START), SQLE_BACKUP_NOT_STARTED);  // one at a time
  // One backup per database: a second connection cannot start another.
  SQLCA o;
  db_init(&o);
  std::string cs = "ENG=eng1;DBN=codes;UID=dba;PWD=sql;CON=o";
  ASSERT_EQ(db_string_connect(&o, cs.data()), 1u);
  db_backup(&o, DB_BACKUP_START, 0, 0, nullptr);
  EXPECT_EQ(o.sqlcode, SQLE_BACKUP_NOT_STARTED);
  // Files: numbers that name no file; reading or closing a file that is not open.
  for (int f : {-3, -1, 1, 12, 13, 1000}) EXPECT_EQ(Op(DB_BACKUP_OPEN_FILE, f), SQLE_NOTFOUND) << f;
  SQLDA* da = PageBuffer(pageSize);
  EXPECT_EQ(Op(DB_BACKUP_READ_PAGE, 0, 0, da), SQLE_BACKUP_NOT_STARTED);
  EXPECT_EQ(Op(DB_BACKUP_CLOSE_FILE, 0), SQLE_BACKUP_NOT_STARTED);
  ASSERT_EQ(Op(DB_BACKUP_OPEN_FILE, 0), 0);
  unsigned pages = unsigned(ca.sqlerrd[2]);
  EXPECT_EQ(Op(DB_BACKUP_READ_PAGE, 0, pages, da), SQLE_NOTFOUND);
  EXPECT_EQ(Op(DB_BACKUP_READ_PAGE, 0, 0xFFFFFFFFu, da), SQLE_NOTFOUND);
  // Descriptors: none, no variable, a buffer too small for a page (never a cut page).
  EXPECT_EQ(Op(DB_BACKUP_READ_PAGE, 0, 0, nullptr), SQLE_SQLDA_TOO_SMALL);
  SQLDA* empty = alloc_sqlda(1);
  das.push_back(empty);
  empty->sqld = 0;
  EXPECT_EQ(Op(DB_BACKUP_READ_PAGE, 0, 0, empty), SQLE_SQLDA_TOO_SMALL);
  SQLDA* small = PageBuffer(pageSize - 1);
  EXPECT_EQ(Op(DB_BACKUP_READ_PAGE, 0, 0, small), SQLE_INVALID_SQLLEN);
  // After the errors the backup still works.
  EXPECT_EQ(Op(DB_BACKUP_READ_PAGE, 0, 0, da), 0);
  EXPECT_EQ(PageOf(da).substr(0, 6), "SQLite");
  EXPECT_EQ(Op(DB_BACKUP_END), 0);
  // Ended: the other connection may start now.
  db_backup(&o, DB_BACKUP_START, 0, 0, nullptr);
  EXPECT_EQ(o.sqlcode, 0) << Message(o);
  db_backup(&o, DB_BACKUP_END, 0, 0, nullptr);
  db_string_disconnect(&o, nullptr);
  db_fini(&o);
  // The utility database has no file to back up.
  SQLCA u;
  db_init(&u);
  std::string us = "ENG=eng1;DBN=utility_db;UID=dba;PWD=x";
  ASSERT_EQ(db_string_connect(&u, us.data()), 1u) << Message(u);
  db_backup(&u, DB_BACKUP_START, 0, 0, nullptr);
  EXPECT_EQ(u.sqlcode, SQLE_BACKUP_NOT_STARTED);
  db_string_disconnect(&u, nullptr);
  db_fini(&u);
}

TEST_F(BackupTest, ABackupInAnotherProcessHoldsTheDatabase) {
  std::string file = MakeDb("shared", 5);
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  pid_t child = fork();
  if (child == 0) {
    close(ready[0]);
    SQLCA c;
    db_init(&c);
    std::string cs = "ENG=eng1;DBN=shared;UID=dba;PWD=sql";
    char code = db_string_connect(&c, cs.data()) == 1 ? 0 : 1;
    if (!code) {
      db_backup(&c, DB_BACKUP_START, 0, 0, nullptr);
      code = c.sqlcode == 0 ? 0 : 2;
    }
    (void)!write(ready[1], &code, 1);
    char go = 0;
    (void)!read(release[0], &go, 1);
    db_backup(&c, DB_BACKUP_END, 0, 0, nullptr);
    _exit(0);
  }
  close(ready[1]);
  close(release[0]);
  char code = 9;
  ASSERT_EQ(read(ready[0], &code, 1), 1);
  EXPECT_EQ(code, 0) << "the other process could not start its backup";
  EXPECT_EQ(Op(DB_BACKUP_START), SQLE_BACKUP_NOT_STARTED);
  char go = 1;
  (void)!write(release[1], &go, 1);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(Op(DB_BACKUP_START), 0) << Message(ca);
  EXPECT_EQ(Op(DB_BACKUP_END), 0);
}

TEST_F(BackupTest, AbortingMidwayCleansUp) {
  std::string file = MakeDb("abort", 100);
  ASSERT_EQ(Op(DB_BACKUP_START), 0);
  SQLDA* da = PageBuffer(ca.sqlerrd[2]);
  ASSERT_EQ(Op(DB_BACKUP_OPEN_FILE, 0), 0);
  ASSERT_EQ(Op(DB_BACKUP_READ_PAGE, 0, 0, da), 0);
  EXPECT_FALSE(TmpEmpty());
  // End without reading the rest or closing the file.
  ASSERT_EQ(Op(DB_BACKUP_END), 0);
  EXPECT_TRUE(TmpEmpty());
  EXPECT_EQ(Op(DB_BACKUP_READ_PAGE, 0, 1, da), SQLE_BACKUP_NOT_STARTED);
  // Disconnecting in the middle ends the backup as well, and frees the database for the next.
  ASSERT_EQ(Op(DB_BACKUP_START), 0);
  ASSERT_EQ(Op(DB_BACKUP_OPEN_FILE, DB_BACKUP_TRANS_LOG_FILE), 0);
  EXPECT_FALSE(TmpEmpty());
  ASSERT_EQ(db_string_disconnect(&ca, nullptr), 1u);
  EXPECT_TRUE(TmpEmpty());
  ConnectFile(file, "eng1");
  ASSERT_EQ(Op(DB_BACKUP_START), 0) << Message(ca);
  ASSERT_EQ(Op(DB_BACKUP_END), 0);
  EXPECT_EQ(Query("SELECT count(*) FROM t"), "100");
}

TEST_F(BackupTest, AFailedStartLeavesTheDatabaseAsItWas) {
  std::string file = MakeDb("fail", 40);
  std::string before = Query("SELECT group_concat(id || pad) FROM t");
  // No room for the private copy.
  setenv("TMPDIR", dir.File("no/such/dir").c_str(), 1);
  EXPECT_EQ(Op(DB_BACKUP_START), SQLE_DEVICE_ERROR);
  setenv("TMPDIR", tmp.c_str(), 1);
  // An engine failure at each position of the start.
  int failed = 0;
  for (int n = 1; n <= 40; ++n) {
    zyl_fault_fail_after(n, SQLITE_IOERR);
    int code = Op(DB_BACKUP_START);
    zyl_fault_fail_after(0, 0);
    if (code == 0) {
      ASSERT_EQ(Op(DB_BACKUP_END), 0);
      continue;
    }
    ++failed;
    EXPECT_LT(code, 0) << "at call " << n;
    EXPECT_TRUE(TmpEmpty()) << "at call " << n;
    EXPECT_EQ(Op(DB_BACKUP_END), SQLE_BACKUP_NOT_STARTED) << "at call " << n;
  }
  EXPECT_GT(failed, 3);
  EXPECT_EQ(Raw(file).One("PRAGMA integrity_check"), "ok");
  EXPECT_EQ(Query("SELECT group_concat(id || pad) FROM t"), before);
  // And a backup afterwards succeeds.
  ASSERT_EQ(Op(DB_BACKUP_START), 0) << Message(ca);
  SQLDA* da = PageBuffer(ca.sqlerrd[2]);
  std::string db = CopyOf(0, da);
  ASSERT_EQ(Op(DB_BACKUP_END), 0);
  std::string copy = dir.File("after.db");
  WriteAll(copy, db);
  Raw r(copy);
  EXPECT_EQ(r.One("SELECT count(*) FROM t"), "40");
}

}  // namespace
