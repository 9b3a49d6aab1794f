// The statement component next to SQLite's own loops on the same data.
//
// BM_AsaFetchRatio: a read-only TAsaSQL cursor over 1 000 000 rows x 5 columns (integer,
// double, varchar(30), date, varchar(200)): OpenRead, then Next to the end, reading every field
// with GetFieldValue; next to sqlite3_step over the same SELECT on the same file, reading every
// column (numbers, text pointers and lengths).
//
// BM_AsaBackwardScanRatio: the same cursor walked backward (Last, then Prev to the start) next to
// the forward walk (Next to the end), every field read in both: the time ratio and the server
// fetches of each walk.
//
// BM_AsaInsertRatio: 100 000 rows inserted through ExecutePrepared with five parameters inside
// one user transaction; next to SQLite's own prepared INSERT (bind, step, reset) in one
// transaction on a file with the same journal settings as our engine's (WAL, synchronous
// NORMAL).
//
// Each iteration times both loops and the benchmark reports our time divided by SQLite's
// ("ratio"), plus the rows per second of each side (for the backward walk: its time divided by
// the forward walk's).
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
#include "bench/BenchTable.h"
#include "dblib/esql.h"

namespace {

using namespace zylbench;

constexpr int kInserts = 100000;

struct Fixture {
  std::string dir, file, plain;
  TAsaSession session{nullptr};

  Fixture() {
    dir = MakeRunDir("zyl-bench-asa");
    file = dir + "/asa.db";
    plain = dir + "/plain.db";
    CreateDatabase(file, "benchasa", {"b", "ins"});
    FillRows(file);
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

void BM_AsaFetchRatio(benchmark::State& state) {
  Fixture& f = Shared();
  double sum = 0;
  ReportRatio(
      state, kRows, "ours_rows_per_s", [&] { return ReadThroughSqlite(f.file, sum); },
      [&] { return FetchThroughStatement(f, sum); });
  benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_AsaFetchRatio)->Unit(benchmark::kMillisecond)->Iterations(3);

// Forward or backward over the whole table, reading every field of every row; the server fetches
// the walk made come back in fetches.
long Walk(Fixture& f, bool backward, double& sum, int64_t& fetches) {
  TAsaSQL q(nullptr);
  q.SetSession(&f.session);
  long rows = 0;
  Variant v;
  Variant index[5] = {Variant(0), Variant(1), Variant(2), Variant(3), Variant(4)};
  const bool first = q.OpenRead(kSelect, {ZylEmptyParam});
  for (bool more = backward ? q.Last() : first; more; more = backward ? q.Prev() : q.Next()) {
    for (auto& i : index) {
      q.GetFieldValue(i, v);
      sum += Fold(v);
    }
    ++rows;
  }
  if (f.session.GetLastErrorCode() < 0) throw std::runtime_error("walk: " + f.session.GetLastError());
  fetches = q.GetFetchCalls();
  q.Close();
  return rows;
}

// The backward scan (Last, then Prev to the start) next to the forward scan (Next to the end) of
// the same 1 000 000 rows: "ratio" is the backward time over the forward time, "fetch_ratio" the
// backward scan's server fetches over the forward scan's.
void BM_AsaBackwardScanRatio(benchmark::State& state) {
  Fixture& f = Shared();
  double sum = 0;
  int64_t forwardFetches = 0, backwardFetches = 0;
  ReportRatio(
      state, kRows, "backward_rows_per_s", [&] { return Walk(f, false, sum, forwardFetches); },
      [&] { return Walk(f, true, sum, backwardFetches); }, "forward_rows_per_s");
  state.counters["forward_fetches"] = static_cast<double>(forwardFetches);
  state.counters["backward_fetches"] = static_cast<double>(backwardFetches);
  state.counters["fetch_ratio"] = static_cast<double>(backwardFetches) / static_cast<double>(forwardFetches);
  benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_AsaBackwardScanRatio)->Unit(benchmark::kMillisecond)->Iterations(3);

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
    BindRow(st, t, r);
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
  ReportRatio(
      state, kInserts, "ours_rows_per_s", [&] { return InsertThroughSqlite(f); },
      [&] { return InsertThroughStatement(f); });
}
BENCHMARK(BM_AsaInsertRatio)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
