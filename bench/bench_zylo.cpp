// The zylo layer next to the same work done through the statement component TAsaSQL, on one
// session (the layer attaches to it), so that the ratio shows what the layer itself costs.
//
// BM_ZyloFetchRatio: 1 000 000 rows x 5 columns (integer, double, varchar(30), date,
// varchar(200)) read as typed rows, std::tuple<int32_t, double, std::string, year_month_day,
// std::string>. The component loop does what a typed row does: it tells NULL from a value for
// every field (IsFieldNull, as the layer must), reads the value (GetFieldValue) and converts it to
// the C++ type (AsInteger, AsDouble, AsString, and DecodeDate for the calendar date).
//
// BM_ZyloLookupRatio: 100 000 look-ups by primary key in a table of 10 000 rows through one
// prepared statement: statement::one<std::string, double>(key), next to OpenReadPrepared with the
// key, the two values read, a second Next that must find no row (one's "exactly one row"), and
// Close.
//
// Each iteration times the component loop, then the layer's; "ratio" is the layer's time divided
// by the component's over all iterations.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "asa/ZylAsa.h"
#include "bench/BenchTable.h"
#include "zylo/zylo.h"

namespace {

using namespace zylbench;
using namespace std::chrono;

constexpr int kKeys = 10000;
constexpr int kLookups = 100000;
const char* kLookup = "SELECT name, price FROM k WHERE id = ?";

struct Fixture {
  std::string dir, file;
  TAsaSession session{nullptr};
  std::optional<zylo::connection> db;

  Fixture() {
    dir = MakeRunDir("zyl-bench-zylo");
    file = dir + "/zylo.db";
    CreateDatabase(file, "benchzylo", {"b"});
    FillRows(file);
    session.SetLibraryPath(ZYL_BENCH_LIB_DIR);
    session.SetLibraryFile("dblib10.dll");
    session.SetLoginEngineName("benchzylo");
    session.SetLoginDatabase(file);
    session.SetLoginUser("dba");
    session.SetLoginPassword("sql");
    session.SetServerType(stServer);
    session.Open();
    db.emplace(session);
    db->execute("CREATE TABLE k (id INTEGER PRIMARY KEY, name VARCHAR(30), price DOUBLE)");
    zylo::transaction tx(*db);
    auto insert = db->prepare("INSERT INTO k VALUES (?, ?, ?)");
    for (int id = 1; id <= kKeys; ++id) insert.execute(id, "item " + std::to_string(id), id * 0.5);
    tx.commit();
  }
  ~Fixture() {
    db.reset();
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

long FetchThroughZylo(Fixture& f, double& sum) {
  long rows = 0;
  for (const auto& [i, d, s, dt, l] :
       f.db->query<std::int32_t, double, std::string, year_month_day, std::string>(kSelect)) {
    sum += i + d + static_cast<double>(s.size()) + static_cast<unsigned>(dt.day()) + static_cast<double>(l.size());
    ++rows;
  }
  return rows;
}

long FetchThroughComponent(Fixture& f, double& sum) {
  TAsaSQL q(nullptr);
  q.SetSession(&f.session);
  q.SetWantExceptions(true);
  const Variant index[5] = {Variant(0), Variant(1), Variant(2), Variant(3), Variant(4)};
  Variant v;
  std::string s, l;
  long rows = 0;
  for (bool more = q.OpenRead(kSelect, {ZylEmptyParam}); more; more = q.Next()) {
    for (const Variant& x : index)
      if (q.IsFieldNull(x)) throw std::runtime_error("NULL where a value was expected");
    q.GetFieldValue(index[0], v);
    const int32_t i = v.AsInteger();
    q.GetFieldValue(index[1], v);
    const double d = v.AsDouble();
    q.GetFieldValue(index[2], v);
    s = v.AsString();
    q.GetFieldValue(index[3], v);
    int year, month, day;
    DecodeDate(v.AsDateTime(), year, month, day);
    q.GetFieldValue(index[4], v);
    l = v.AsString();
    sum += i + d + static_cast<double>(s.size()) + day + static_cast<double>(l.size());
    ++rows;
  }
  q.Close();
  return rows;
}

void BM_ZyloFetchRatio(benchmark::State& state) {
  Fixture& f = Shared();
  double sum = 0;
  ReportRatio(
      state, kRows, "zylo_rows_per_s", [&] { return FetchThroughComponent(f, sum); },
      [&] { return FetchThroughZylo(f, sum); }, "component_rows_per_s");
  benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_ZyloFetchRatio)->Unit(benchmark::kMillisecond)->Iterations(5);

long LookupThroughZylo(Fixture& f, double& sum) {
  zylo::statement find = f.db->prepare(kLookup);
  long found = 0;
  for (int r = 0; r < kLookups; ++r) {
    auto [name, price] = find.one<std::string, double>(r % kKeys + 1);
    sum += static_cast<double>(name.size()) + price;
    ++found;
  }
  return found;
}

long LookupThroughComponent(Fixture& f, double& sum) {
  TAsaSQL q(nullptr);
  q.SetSession(&f.session);
  q.SetWantExceptions(true);
  q.PrepareOpen(kLookup);
  const Variant first(0), second(1);
  TVariantArray key(1);
  Variant v;
  std::string name;
  long found = 0;
  for (int r = 0; r < kLookups; ++r) {
    key[0] = Variant(r % kKeys + 1);
    if (!q.OpenReadPrepared(key)) throw std::runtime_error("no row");
    if (q.IsFieldNull(first) || q.IsFieldNull(second)) throw std::runtime_error("NULL where a value was expected");
    q.GetFieldValue(first, v);
    name = v.AsString();
    q.GetFieldValue(second, v);
    const double price = v.AsDouble();
    if (q.Next()) throw std::runtime_error("more than one row");
    q.Close();
    sum += static_cast<double>(name.size()) + price;
    ++found;
  }
  return found;
}

void BM_ZyloLookupRatio(benchmark::State& state) {
  Fixture& f = Shared();
  double sum = 0;
  ReportRatio(
      state, kLookups, "zylo_lookups_per_s", [&] { return LookupThroughComponent(f, sum); },
      [&] { return LookupThroughZylo(f, sum); }, "component_lookups_per_s");
  benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_ZyloLookupRatio)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
