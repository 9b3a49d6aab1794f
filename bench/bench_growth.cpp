// How cost grows with the input, where it once grew with its square: the dialect translation of
// many SELECT TOP n (side by side, and nested as deep as the translation takes them), the
// refusal of text nested far deeper than that, and preparing and dropping many statements on
// one connection (each new statement number found without probing from 1). Each benchmark
// runs at several sizes and reports the fitted complexity (expect N, not N^2) and, for the
// prepares, the resident memory before and after the statements are dropped.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "bench/BenchTable.h"
#include "dblib/esql.h"
#include "dblib/sql/Dialect.h"
#include "dblib/sql/Errors.h"

namespace {

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

void BM_TranslateSideBySideTop(benchmark::State& state) {
  int n = int(state.range(0));
  std::string sql = "SELECT TOP 1 a FROM t" + Repeat(" UNION ALL (SELECT TOP 1 a FROM t)", n - 1);
  dbl::DialectContext none;
  for (auto _ : state) benchmark::DoNotOptimize(dbl::TranslateSql(sql, none));
  state.SetComplexityN(n);
}
BENCHMARK(BM_TranslateSideBySideTop)->RangeMultiplier(4)->Range(256, 16384)->Complexity();

void BM_TranslateNestedTop(benchmark::State& state) {
  int n = int(state.range(0));
  std::string sql = Repeat("SELECT TOP 1 * FROM (", n) + "SELECT 1" + Repeat(") x", n);
  dbl::DialectContext none;
  for (auto _ : state) benchmark::DoNotOptimize(dbl::TranslateSql(sql, none));
  state.SetComplexityN(n);
}
BENCHMARK(BM_TranslateNestedTop)->DenseRange(25, 200, 25)->Complexity();

// Text nested 1 000 to 100 000 levels: refused (-131) after one pass over it.
void BM_RefuseDeepNesting(benchmark::State& state) {
  int n = int(state.range(0));
  std::string sql = Repeat("SELECT TOP 1 * FROM (", n) + "SELECT 1" + Repeat(") x", n);
  dbl::DialectContext none;
  for (auto _ : state) {
    try {
      dbl::TranslateSql(sql, none);
      state.SkipWithError("accepted");
    } catch (const dbl::SqlError&) {
    }
  }
  state.SetComplexityN(n);
}
BENCHMARK(BM_RefuseDeepNesting)->RangeMultiplier(10)->Range(1000, 100000)->Complexity();

long ResidentKiB() {
  std::ifstream f("/proc/self/statm");
  long pages = 0, resident = 0;
  f >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

struct Connection {
  SQLCA ca{};
  Connection() {
    std::string dir = zylbench::MakeRunDir("zyl-bench-growth");
    db_init(&ca);
    std::string make = "ENG=growth_maker;DBN=utility_db;UID=DBA;PWD=x";
    db_string_connect(&ca, make.data());
    std::string create = "CREATE DATABASE '" + dir + "/growth.db'";
    dbpp_execute_imm(&ca, create.data(), 2);
    db_string_disconnect(&ca, nullptr);
    std::string cs = "ENG=growth;DBF=" + dir + "/growth.db;UID=dba;PWD=sql";
    if (!db_string_connect(&ca, cs.data())) throw std::runtime_error("connect");
  }
};

// n prepares (the statement numbers 1 .. n), then n drops.
void BM_PrepareAndDropStatements(benchmark::State& state) {
  static Connection c;
  int n = int(state.range(0));
  std::vector<short> numbers(size_t(n), 0);
  char sql[] = "SELECT 1";
  long before = ResidentKiB(), peak = 0, after = 0;
  sqlite3_int64 engineBefore = sqlite3_memory_used(), enginePrepared = 0, engineAfter = 0;
  for (auto _ : state) {
    for (short& s : numbers) {
      s = 0;
      dbpp_prepare(&c.ca, nullptr, nullptr, &s, sql, nullptr, 0);
      if (c.ca.sqlcode < 0) state.SkipWithError("prepare failed");
    }
    peak = ResidentKiB();
    enginePrepared = sqlite3_memory_used();
    for (short& s : numbers) dbpp_dropstmt(&c.ca, nullptr, nullptr, &s);
    after = ResidentKiB();
    engineAfter = sqlite3_memory_used();
  }
  state.counters["rss_before_KiB"] = double(before);
  state.counters["rss_prepared_KiB"] = double(peak);
  state.counters["rss_dropped_KiB"] = double(after);
  // SQLite's own heap: what the statements hold while prepared, and whether dropping gives it back.
  state.counters["sqlite_before_KiB"] = double(engineBefore) / 1024;
  state.counters["sqlite_prepared_KiB"] = double(enginePrepared) / 1024;
  state.counters["sqlite_dropped_KiB"] = double(engineAfter) / 1024;
  state.SetComplexityN(n);
}
BENCHMARK(BM_PrepareAndDropStatements)->RangeMultiplier(2)->Range(2048, 32767)->Unit(benchmark::kMillisecond)->Complexity();

}  // namespace

BENCHMARK_MAIN();
