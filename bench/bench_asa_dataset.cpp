// The data-set component next to SQLite's own loop on the same data.
//
// BM_AsaDatasetBrowseRatio: a TAsaDataset over 1 000 000 rows x 5 columns (integer, double,
// varchar(30), date, varchar(200)) with the default session (row counts on): Open, Next to Eof,
// reading every field's value through its TField; next to sqlite3_step over the same SELECT on the
// same file, reading every column. Reports our time divided by SQLite's ("ratio").
//
// BM_AsaDatasetForwardOnlyMemory: a forward-only data set (CursorType actNoScroll) over 10 000 000
// generated rows, walked to the end reading its fields; reports how far the resident set grew
// beyond what it was after the first 100 000 rows (rss_growth_mb), sampled every 100 000 rows.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>

#include "bench/BenchTable.h"
#include "components/ZylAsaDS.h"

namespace {

using namespace zylbench;

struct Fixture {
  std::string dir, file;
  TAsaSession session{nullptr};

  Fixture() {
    dir = MakeRunDir("zyl-bench-ds");
    file = dir + "/ds.db";
    CreateDatabase(file, "benchds", {"b"});
    FillRows(file);
    session.SetLibraryPath(ZYL_BENCH_LIB_DIR);
    session.SetLibraryFile("dblib10.dll");
    session.SetLoginEngineName("benchds");
    session.SetLoginDatabase(file);
    session.SetLoginUser("dba");
    session.SetLoginPassword("sql");
    session.SetServerType(stServer);
    session.Open();
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

// Folds a value into the checksum so that no read is optimised away; a text counts by its presence.
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

long ResidentKb() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Opens sql, walks it to the end reading all five fields, and returns the rows; with sampleEvery
// also the resident set's growth after the first sampleEvery rows.
long BrowseThroughDataset(Fixture& f, double& sum, TAsaCursorType cursor, const char* sql, long sampleEvery = 0,
                          double* growthMb = nullptr) {
  TAsaDataset d(nullptr);
  d.SetSession(&f.session);
  d.SetCursorType(cursor);
  d.GetSQL()->SetText(sql);
  d.Open();
  TField* fields[5];
  for (int i = 0; i < 5; ++i) fields[i] = d.Fields(i);
  long rows = 0, baseKb = 0, peakKb = 0;
  for (; !d.Eof(); d.Next()) {
    for (TField* field : fields) sum += Fold(field->GetValue());
    if (++rows, sampleEvery && rows % sampleEvery == 0) {
      const long kb = ResidentKb();
      if (rows == sampleEvery) baseKb = kb;
      peakKb = std::max(peakKb, kb);
    }
  }
  if (growthMb) *growthMb = (peakKb - baseKb) / 1024.0;
  d.Close();
  return rows;
}

void BM_AsaDatasetBrowseRatio(benchmark::State& state) {
  Fixture& f = Shared();
  double sum = 0;
  ReportRatio(
      state, kRows, "ours_rows_per_s", [&] { return ReadThroughSqlite(f.file, sum); },
      [&] { return BrowseThroughDataset(f, sum, actDefault, kSelect); });
  benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_AsaDatasetBrowseRatio)->Unit(benchmark::kMillisecond)->Iterations(3);

// Ten million rows made by the query itself (a recursive common table expression), so that no
// file of that size is needed.
const char* kGenerated =
    "with recursive g(x) as (select 1 union all select x + 1 from g where x < 10000000) "
    "select x as i, x * 0.25 as d, 'generated row number ' || x as s, date('2000-01-01', '+' || (x % 9000) || ' "
    "days') as dt, 'a longer text that every row carries along' as l from g";

void BM_AsaDatasetForwardOnlyMemory(benchmark::State& state) {
  Fixture& f = Shared();
  double sum = 0, growth = 0;
  long rows = 0;
  for (auto _ : state) rows = BrowseThroughDataset(f, sum, actNoScroll, kGenerated, 100000, &growth);
  if (rows != 10000000) state.SkipWithError("row count differs");
  state.counters["rows"] = static_cast<double>(rows);
  state.counters["rss_growth_mb"] = growth;
  benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_AsaDatasetForwardOnlyMemory)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
