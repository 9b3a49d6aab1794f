// The statement component next to SQLite's own loops on the same data.
//
// BM_AsaFetchRatio: a read-only TAsaSQL cursor over 1 000 000 rows x 5 columns (integer,
// double, varchar(30), date, varchar(200)): OpenRead, then Next to the end, reading every field
// with GetFieldValue; next to sqlite3_step over the same SELECT on the same file, reading every
// column (numbers, text pointers and lengths).
//
// BM_AsaInsertRatio: 100 000 rows inserted through ExecutePrepared with five parameters inside
// one user transaction; next to SQLite's own prepared INSERT (bind, step, reset) in one
// transaction on a file with the same journal settings as our engine's (WAL, synchronous
// NORMAL).
//
// Each iteration times both loops and the benchmark reports our time divided by SQLite's
// ("ratio"), plus the rows per second of each side.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "asa/ZylAsa.h"
#include "dblib/esql.h"

namespace {

constexpr int kRows = 1000000;
constexpr int kInserts = 100000;
const char* kSelect = "SELECT i, d, s, dt, l FROM b";
const char* kTable = "(i INTEGER, d DOUBLE, s VARCHAR(30), dt DATE, l VARCHAR(200))";

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

void Exec(SQLCA& c, const std::string& sql) {
  std::string s = sql;
  dbpp_execute_imm(&c, s.data(), 2);
  if (c.sqlcode < 0) throw std::runtime_error("exec failed: " + sql);
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

struct Fixture {
  std::string dir, file, plain;
  TAsaSession session{nullptr};

  Fixture() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "zyl-bench-asa-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
    dir = tmpl;
    file = dir + "/asa.db";
    plain = dir + "/plain.db";
    setenv("ZYL_ENGINE_DIR", (dir + "/engines").c_str(), 1);
    Create();
    Fill();
    session.SetLibraryPath(ZYL_BENCH_LIB_DIR);
    session.SetLibraryFile("dblib10.dll");
    session.SetLoginEngineName("benchasa");
    session.SetLoginDatabase(file);
    session.SetLoginUser("dba");
    session.SetLoginPassword("sql");
    session.SetServerType(stServer);
    session.Open();
    // SQLite's own insert target: a plain file with our engine's journal settings.
    sqlite3* db = nullptr;
    sqlite3_open(plain.c_str(), &db);
    sqlite3_exec(db, ("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; CREATE TABLE ins" + std::string(kTable)).c_str(),
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  ~Fixture() {
    try {
      session.Close();
    } catch (...) {
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }

  // The database file and its tables through the client library, so its catalog knows the types.
  void Create() {
    SQLCA u;
    db_init(&u);
    std::string cs = "ENG=benchasamaker;DBN=utility_db;UID=DBA;PWD=x";
    if (db_string_connect(&u, cs.data()) != 1) throw std::runtime_error("utility connect");
    Exec(u, "CREATE DATABASE '" + file + "'");
    db_string_disconnect(&u, nullptr);
    std::string stop = "ENG=benchasamaker;UNC=YES";
    db_stop_engine(&u, stop.data());
    std::string cs2 = "ENG=benchasamaker2;DBF=" + file + ";UID=dba;PWD=sql";
    if (db_string_connect(&u, cs2.data()) != 1) throw std::runtime_error("connect");
    Exec(u, "CREATE TABLE b" + std::string(kTable));
    Exec(u, "CREATE TABLE ins" + std::string(kTable));
    Exec(u, "COMMIT");
    db_string_disconnect(&u, nullptr);
    std::string stop2 = "ENG=benchasamaker2;UNC=YES";
    db_stop_engine(&u, stop2.data());
    db_fini(&u);
  }

  // The rows to read go in through SQLite directly: loading is not what is measured.
  void Fill() {
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO b VALUES (?, ?, ?, ?, ?)", -1, &st, nullptr);
    RowText t;
    for (int r = 0; r < kRows; ++r) {
      t.Make(r);
      sqlite3_bind_int(st, 1, r);
      sqlite3_bind_double(st, 2, r * 0.25);
      sqlite3_bind_text(st, 3, t.s, t.sn, SQLITE_TRANSIENT);
      sqlite3_bind_text(st, 4, t.dt, 10, SQLITE_TRANSIENT);
      sqlite3_bind_text(st, 5, t.l.data(), t.ln, SQLITE_TRANSIENT);
      sqlite3_step(st);
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
};

Fixture& Shared() {
  static Fixture f;
  return f;
}

// Folds a value into the checksum so that no read is optimised away. A text counts by its
// presence: the Variant already holds its own copy, and copying it out again would measure this
// loop rather than the statement.
double Fold(const Variant& V) {
  switch (V.VarType()) {
    case varInteger:
    case varInt64:
    case varDouble:
    case varDate: return V.AsDouble();
    case varString: return 1;
    default: return 0;
  }
}

long FetchThroughStatement(Fixture& f, double& sum) {
  TAsaSQL q(nullptr);
  q.SetSession(&f.session);
  long rows = 0;
  Variant v;
  Variant index[5] = {Variant(0), Variant(1), Variant(2), Variant(3), Variant(4)};
  for (bool more = q.OpenRead(kSelect, {ZylEmptyParam}); more; more = q.Next()) {
    for (auto& i : index) {
      q.GetFieldValue(i, v);
      sum += Fold(v);
    }
    ++rows;
  }
  if (f.session.GetLastErrorCode() < 0) throw std::runtime_error("fetch: " + f.session.GetLastError());
  q.Close();
  return rows;
}

long FetchThroughSqlite(Fixture& f, double& sum) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(f.file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
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

void BM_AsaFetchRatio(benchmark::State& state) {
  Fixture& f = Shared();
  double ours = 0, theirs = 0;
  long rows = 0;
  for (auto _ : state) {
    double sum = 0;
    auto t0 = std::chrono::steady_clock::now();
    long a = FetchThroughSqlite(f, sum);
    auto t1 = std::chrono::steady_clock::now();
    long b = FetchThroughStatement(f, sum);
    auto t2 = std::chrono::steady_clock::now();
    if (a != kRows || b != kRows) state.SkipWithError("row count differs");
    benchmark::DoNotOptimize(sum);
    theirs += Seconds(t0, t1);
    ours += Seconds(t1, t2);
    rows += b;
  }
  state.counters["ratio"] = ours / theirs;
  state.counters["ours_rows_per_s"] = rows / ours;
  state.counters["sqlite_rows_per_s"] = rows / theirs;
}
BENCHMARK(BM_AsaFetchRatio)->Unit(benchmark::kMillisecond)->Iterations(3);

long InsertThroughStatement(Fixture& f) {
  TAsaSQL q(nullptr);
  q.SetSession(&f.session);
  q.Execute("DELETE FROM ins", {ZylEmptyParam});
  f.session.StartTransaction();
  q.PrepareExecute("INSERT INTO ins VALUES (?, ?, ?, ?, ?)");
  RowText t;
  long done = 0;
  TVariantArray params(5);
  for (int r = 0; r < kInserts; ++r) {
    t.Make(r);
    params[0] = Variant(r);
    params[1] = Variant(r * 0.25);
    params[2] = Variant(AnsiString(t.s, static_cast<size_t>(t.sn)));
    params[3] = Variant::FromDateTime(StrToDate(t.dt));
    params[4] = Variant(AnsiString(t.l.data(), static_cast<size_t>(t.ln)));
    if (!q.ExecutePrepared(params)) throw std::runtime_error("insert: " + f.session.GetLastError());
    ++done;
  }
  f.session.Commit();
  q.UnprepareExecute();
  return done;
}

long InsertThroughSqlite(Fixture& f) {
  sqlite3* db = nullptr;
  sqlite3_open(f.plain.c_str(), &db);
  sqlite3_exec(db, "PRAGMA synchronous=NORMAL; DELETE FROM ins", nullptr, nullptr, nullptr);
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO ins VALUES (?, ?, ?, ?, ?)", -1, &st, nullptr);
  RowText t;
  long done = 0;
  for (int r = 0; r < kInserts; ++r) {
    t.Make(r);
    sqlite3_bind_int(st, 1, r);
    sqlite3_bind_double(st, 2, r * 0.25);
    sqlite3_bind_text(st, 3, t.s, t.sn, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 4, t.dt, 10, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 5, t.l.data(), t.ln, SQLITE_TRANSIENT);
    if (sqlite3_step(st) == SQLITE_DONE) ++done;
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  return done;
}

void BM_AsaInsertRatio(benchmark::State& state) {
  Fixture& f = Shared();
  double ours = 0, theirs = 0;
  long rows = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    long a = InsertThroughSqlite(f);
    auto t1 = std::chrono::steady_clock::now();
    long b = InsertThroughStatement(f);
    auto t2 = std::chrono::steady_clock::now();
    if (a != kInserts || b != kInserts) state.SkipWithError("insert count differs");
    theirs += Seconds(t0, t1);
    ours += Seconds(t1, t2);
    rows += b;
  }
  state.counters["ratio"] = ours / theirs;
  state.counters["ours_rows_per_s"] = rows / ours;
  state.counters["sqlite_rows_per_s"] = rows / theirs;
}
BENCHMARK(BM_AsaInsertRatio)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
