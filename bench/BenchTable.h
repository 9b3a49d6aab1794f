// The reference table the read benchmarks share: 1 000 000 rows x 5 columns (integer, double,
// varchar(30), date, varchar(200)) in a database file made through our client library (so that its
// catalog knows the types) and filled through SQLite directly (loading is not what is measured),
// plus SQLite's own step loop over it, the yardstick every fetch ratio divides by.
#pragma once

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "dblib/esql.h"

namespace zylbench {

// A positive count from the environment, or the default (smaller runs for profiling).
inline int EnvCount(const char* name, int fallback) {
  const char* v = std::getenv(name);
  int n = v ? std::atoi(v) : 0;
  return n > 0 ? n : fallback;
}

// Rows of the reference table; ZYL_BENCH_ROWS makes it smaller for a profiler run.
inline const int kRows = EnvCount("ZYL_BENCH_ROWS", 1000000);
inline const char* kSelect = "SELECT i, d, s, dt, l FROM b";
inline const char* kTable = "(i INTEGER, d DOUBLE, s VARCHAR(30), dt DATE, l VARCHAR(200))";

inline double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

inline void Exec(SQLCA& c, const std::string& sql) {
  std::string s = sql;
  dbpp_execute_imm(&c, s.data(), 2);
  if (c.sqlcode < 0) throw std::runtime_error("exec failed: " + sql);
}

// A fresh temporary folder that also holds the engine registry of this run.
inline std::string MakeRunDir(const char* prefix) {
  std::string tmpl = (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
  setenv("ZYL_ENGINE_DIR", (tmpl + "/engines").c_str(), 1);
  return tmpl;
}

// The text of row r, shared by the loader and the insert loops.
struct RowText {
  char s[40];
  char dt[16];
  std::string l = std::string(200, 'x');
  int sn = 0, ln = 0;
  void Make(int r) {
    sn = std::snprintf(s, sizeof s, "name number %d of the set", r);
    if (sn > 30) sn = 30;
    s[sn] = 0;
    std::snprintf(dt, sizeof dt, "%04d-%02d-%02d", 1990 + r % 30, 1 + r % 12, 1 + r % 28);
    for (int k = 0; k < 8; ++k) l[static_cast<size_t>(k)] = static_cast<char>('a' + (r >> k) % 26);
    ln = 120 + r % 81;
  }
};

// Binds row r's values (t made for r) to an INSERT of the reference columns.
inline void BindRow(sqlite3_stmt* st, const RowText& t, int r) {
  sqlite3_bind_int(st, 1, r);
  sqlite3_bind_double(st, 2, r * 0.25);
  sqlite3_bind_text(st, 3, t.s, t.sn, SQLITE_TRANSIENT);
  sqlite3_bind_text(st, 4, t.dt, 10, SQLITE_TRANSIENT);
  sqlite3_bind_text(st, 5, t.l.data(), t.ln, SQLITE_TRANSIENT);
}

// Processor time of the whole process (the engine runs in it), in seconds.
inline double CpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

// Times their side (SQLite's, unless named otherwise), then ours, in each iteration; each returns
// the rows it handled, which must be Expected. Reports our time divided by theirs ("ratio") and the
// rows per second of each, and the same ratio of processor time ("cpu_ratio"), which other work on
// a shared machine disturbs less than the elapsed time.
template <class Theirs, class Ours>
void ReportRatio(benchmark::State& state, long Expected, const char* oursCounter, Theirs theirs, Ours ours,
                 const char* theirsCounter = "sqlite_rows_per_s") {
  double oursTime = 0, theirsTime = 0, oursCpu = 0, theirsCpu = 0;
  long rows = 0;
  for (auto _ : state) {
    const double c0 = CpuSeconds();
    auto t0 = std::chrono::steady_clock::now();
    long a = theirs();
    auto t1 = std::chrono::steady_clock::now();
    const double c1 = CpuSeconds();
    long b = ours();
    auto t2 = std::chrono::steady_clock::now();
    const double c2 = CpuSeconds();
    if (a != Expected || b != Expected) state.SkipWithError("row count differs");
    theirsTime += Seconds(t0, t1);
    oursTime += Seconds(t1, t2);
    theirsCpu += c1 - c0;
    oursCpu += c2 - c1;
    rows += b;
  }
  state.counters["ratio"] = oursTime / theirsTime;
  state.counters["cpu_ratio"] = oursCpu / theirsCpu;
  state.counters[oursCounter] = rows / oursTime;
  state.counters[theirsCounter] = rows / theirsTime;
}

// Creates the database file through the utility database and runs each CREATE statement in it.
// Engine names are derived from Engine so that runs do not meet.
inline void CreateDatabaseWith(const std::string& file, const std::string& engine,
                               const std::vector<std::string>& creates) {
  SQLCA u;
  db_init(&u);
  std::string cs = "ENG=" + engine + "maker;DBN=utility_db;UID=DBA;PWD=x";
  if (db_string_connect(&u, cs.data()) != 1) throw std::runtime_error("utility connect");
  Exec(u, "CREATE DATABASE '" + file + "'");
  db_string_disconnect(&u, nullptr);
  std::string stop = "ENG=" + engine + "maker;UNC=YES";
  db_stop_engine(&u, stop.data());
  std::string cs2 = "ENG=" + engine + "maker2;DBF=" + file + ";UID=dba;PWD=sql";
  if (db_string_connect(&u, cs2.data()) != 1) throw std::runtime_error("connect");
  for (const std::string& c : creates) Exec(u, c);
  Exec(u, "COMMIT");
  db_string_disconnect(&u, nullptr);
  std::string stop2 = "ENG=" + engine + "maker2;UNC=YES";
  db_stop_engine(&u, stop2.data());
  db_fini(&u);
}

// The same with each named table made with the reference columns.
inline void CreateDatabase(const std::string& file, const std::string& engine, const std::vector<std::string>& tables) {
  std::vector<std::string> creates;
  for (const std::string& t : tables) creates.push_back("CREATE TABLE " + t + kTable);
  CreateDatabaseWith(file, engine, creates);
}

// Fills table b with Rows rows through SQLite directly.
inline void FillRows(const std::string& file, int Rows = kRows) {
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO b VALUES (?, ?, ?, ?, ?)", -1, &st, nullptr);
  RowText t;
  for (int r = 0; r < Rows; ++r) {
    t.Make(r);
    BindRow(st, t, r);
    sqlite3_step(st);
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

// SQLite's own loop over kSelect on the same file, reading every column (numbers, text pointers
// and lengths); returns the rows read, and folds the values into sum so nothing is optimised away.
inline long ReadThroughSqlite(const std::string& file, double& sum) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, kSelect, -1, &st, nullptr);
  long total = 0;
  while (sqlite3_step(st) == SQLITE_ROW) {
    int i = sqlite3_column_int(st, 0);
    double d = sqlite3_column_double(st, 1);
    const unsigned char* s = sqlite3_column_text(st, 2);
    int sn = sqlite3_column_bytes(st, 2);
    const unsigned char* dt = sqlite3_column_text(st, 3);
    const unsigned char* l = sqlite3_column_text(st, 4);
    int ln = sqlite3_column_bytes(st, 4);
    sum += i + d + (sn ? s[0] : 0) + dt[9] + (ln ? l[0] : 0);
    ++total;
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return total;
}

}  // namespace zylbench
