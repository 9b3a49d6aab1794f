// Read-only block fetch through our client library next to SQLite's own step loop on the same
// file: 1 000 000 rows x 5 columns (integer, double, varchar(30), date, varchar(200)).
// The library side fetches as the binding does: dbpp_fetch_array with 25-row blocks into a
// 25 x 5 descriptor bound as integer, double, string(31), date-time record, string(201).
// The SQLite side steps the same SELECT and reads every column (numbers, text pointers and
// lengths). BM_FetchRatio times both loops in each iteration and reports our time divided by
// SQLite's ("ratio"), plus the rows per second of each.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/BenchTable.h"
#include "dblib/esql.h"

namespace {

using namespace zylbench;

constexpr int kBlock = 25;
constexpr int kCols = 5;
char kProg[] = "BENCH";
char kCursor[] = "BENCH-1";

struct Fixture {
  std::string dir, file;
  SQLCA ca{};

  Fixture() {
    dir = MakeRunDir("zyl-bench");
    file = dir + "/fetch.db";
    db_init(&ca);
    CreateDatabase(file, "bench", {"b"});
    FillRows(file);
    std::string cs = "ENG=benchfetch;DBF=" + file + ";UID=dba;PWD=sql";
    if (db_string_connect(&ca, cs.data()) != 1) throw std::runtime_error("connect");
  }
  ~Fixture() {
    db_string_disconnect(&ca, nullptr);
    std::string stop = "ENG=benchfetch;UNC=YES";
    db_stop_engine(&ca, stop.data());
    db_fini(&ca);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

Fixture& Shared() {
  static Fixture f;
  return f;
}

// Our library: returns rows read; sum folds the values in so nothing is optimised away.
long ReadThroughLibrary(Fixture& f, double& sum) {
  SQLCA& ca = f.ca;
  short stmt = 0;
  std::string text = kSelect;
  dbpp_prepare(&ca, nullptr, kProg, &stmt, text.data(), nullptr, 0);
  if (ca.sqlcode < 0) throw std::runtime_error("prepare");
  const unsigned opts = CUR_READ_ONLY | CUR_CLOSE_ON_COMMIT;
  dbpp_declare(&ca, kCursor, nullptr, kProg, &stmt, opts);
  dbpp_open(&ca, kCursor, nullptr, kProg, &stmt, nullptr, 0, 0, opts);
  if (ca.sqlcode < 0) throw std::runtime_error("open");

  struct Row {
    int i;
    double d;
    char s[31];
    SQLDATETIME dt;
    char l[201];
  };
  std::vector<Row> rows(kBlock);
  SQLDA* da = alloc_sqlda_noind(kBlock * kCols);
  std::vector<short> ind(kBlock * kCols);
  da->sqld = kBlock * kCols;
  for (int r = 0; r < kBlock; ++r) {
    SQLVAR* v = &da->sqlvar[r * kCols];
    Row& row = rows[static_cast<size_t>(r)];
    v[0] = {DT_INT | 1, 4, &row.i, &ind[r * kCols + 0], {}};
    v[1] = {DT_DOUBLE | 1, 8, &row.d, &ind[r * kCols + 1], {}};
    v[2] = {DT_STRING | 1, 31, row.s, &ind[r * kCols + 2], {}};
    v[3] = {DT_TIMESTAMP_STRUCT | 1, 14, &row.dt, &ind[r * kCols + 3], {}};
    v[4] = {DT_STRING | 1, 201, row.l, &ind[r * kCols + 4], {}};
  }
  long total = 0;
  for (;;) {
    dbpp_fetch_array(&ca, kCursor, FETCH_RELATIVE, 1, da, 0, 0, kBlock);
    if (ca.sqlcode == SQLE_NOTFOUND) break;
    if (ca.sqlcode < 0) throw std::runtime_error("fetch");
    int got = ca.sqlerrd[2];
    for (int r = 0; r < got; ++r) {
      const Row& row = rows[static_cast<size_t>(r)];
      sum += row.i + row.d + row.s[0] + row.dt.day + row.l[0];
    }
    total += got;
  }
  dbpp_close(&ca, kCursor);
  dbpp_dropstmt(&ca, nullptr, kProg, &stmt);
  free_sqlda_noind(da);
  return total;
}

void BM_FetchRatio(benchmark::State& state) {
  Fixture& f = Shared();
  double sum = 0;
  ReportRatio(
      state, kRows, "dblib_rows_per_s", [&] { return ReadThroughSqlite(f.file, sum); },
      [&] { return ReadThroughLibrary(f, sum); });
  benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_FetchRatio)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_DblibFetchArray(benchmark::State& state) {
  Fixture& f = Shared();
  long rows = 0;
  for (auto _ : state) {
    double sum = 0;
    rows += ReadThroughLibrary(f, sum);
    benchmark::DoNotOptimize(sum);
  }
  state.counters["rows_per_s"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DblibFetchArray)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SqliteStep(benchmark::State& state) {
  Fixture& f = Shared();
  long rows = 0;
  for (auto _ : state) {
    double sum = 0;
    rows += ReadThroughSqlite(f.file, sum);
    benchmark::DoNotOptimize(sum);
  }
  state.counters["rows_per_s"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SqliteStep)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
