// The zylo layer next to the same work done through the statement component TAsaSQL, on one
// session (the layer attaches to it), so that the ratio shows what the layer itself costs.
//
// BM_ZyloFetchRatio: 1 000 000 rows x 5 columns (integer, double, varchar(30), date,
// varchar(200)) read as typed rows, std::tuple<int32_t, double, std::string, year_month_day,
// std::string>. The component loop makes the calls a typed row makes: it tells NULL from a value
// for every field (IsFieldNull, as the layer must), reads the value (GetFieldValue) and converts
// it to the C++ type (AsInteger, AsDouble, AsString), and takes the date's record
// (GetFieldTimeStamp) for the calendar date; what is left is the layer's own cost.
//
// BM_ZyloLookupRatio: 100 000 look-ups by primary key in a table of 10 000 rows through one
// prepared statement: statement::one<std::string, double>(key), next to OpenReadPrepared with the
// key, the two values read, a second Next that must find no row (one's "exactly one row"), and
// Close.
//
// The two sides run in alternating blocks of 1 000 rows or look-ups (the fetch with both cursors
// open at once), taking turns at going first, so that a loaded machine slows both alike and
// neither always finds the pages the other just read. "ratio" is the layer's wall time
// divided by the component's, "cpu_ratio" the same for the process's processor time.
#include <benchmark/benchmark.h>

#include <time.h>

#include <chrono>
#include <filesystem>
#include <optional>
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

double ProcessSeconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Time spent by each side, wall and processor, summed over the blocks it ran.
struct Clock {
  double wall = 0, cpu = 0;
  template <class F>
  void Time(F&& f) {
    const double c0 = ProcessSeconds();
    const auto t0 = steady_clock::now();
    f();
    wall += Seconds(t0, steady_clock::now());
    cpu += ProcessSeconds() - c0;
  }
};

void Report(benchmark::State& state, const Clock& component, const Clock& layer, long units, const char* what) {
  state.counters["ratio"] = layer.wall / component.wall;
  state.counters["cpu_ratio"] = layer.cpu / component.cpu;
  state.counters[std::string("zylo_") + what + "_per_s"] = static_cast<double>(units) / layer.wall;
  state.counters[std::string("component_") + what + "_per_s"] = static_cast<double>(units) / component.wall;
}

// Both sides walk the same result at the same time, in alternating blocks of kBlock rows, so that
// whatever else the machine does falls on both alike.
constexpr int kBlock = 1000;

void BM_ZyloFetchRatio(benchmark::State& state) {
  Fixture& f = Shared();
  Clock component, layer;
  double sum = 0;
  long rows = 0;
  for (auto _ : state) {
    TAsaSQL q(nullptr);
    q.SetSession(&f.session);
    q.SetWantExceptions(true);
    const Variant index[5] = {Variant(0), Variant(1), Variant(2), Variant(3), Variant(4)};
    Variant v;
    std::string s, l;
    bool more = false;
    component.Time([&] { more = q.OpenRead(kSelect, {ZylEmptyParam}); });
    std::optional<zylo::rows<std::int32_t, double, std::string, year_month_day, std::string>> typed;
    decltype(typed->begin()) it;
    layer.Time([&] {
      typed.emplace(f.db->query<std::int32_t, double, std::string, year_month_day, std::string>(kSelect));
      it = typed->begin();
    });
    long theirs = 0, ours = 0;
    bool component_first = true;
    while (more || it != std::default_sentinel) {
      auto component_block = [&] {
        for (int k = 0; k < kBlock && more; ++k, more = q.Next()) {
          for (const Variant& x : index)
            if (q.IsFieldNull(x)) throw std::runtime_error("NULL where a value was expected");
          q.GetFieldValue(index[0], v);
          const int32_t i = v.AsInteger();
          q.GetFieldValue(index[1], v);
          const double d = v.AsDouble();
          q.GetFieldValue(index[2], v);
          s = v.AsString();
          Tsqldatetime date;
          q.GetFieldTimeStamp(index[3], date);
          const unsigned day = date.day;
          q.GetFieldValue(index[4], v);
          l = v.AsString();
          sum += i + d + static_cast<double>(s.size()) + day + static_cast<double>(l.size());
          ++theirs;
        }
      };
      auto layer_block = [&] {
        for (int k = 0; k < kBlock && it != std::default_sentinel; ++k, ++it) {
          const auto& [i, d, s2, dt, l2] = *it;
          sum += i + d + static_cast<double>(s2.size()) + static_cast<unsigned>(dt.day()) + static_cast<double>(l2.size());
          ++ours;
        }
      };
      // The side that reads a block second finds its pages warm: the sides take turns.
      if (component_first) {
        component.Time(component_block);
        layer.Time(layer_block);
      } else {
        layer.Time(layer_block);
        component.Time(component_block);
      }
      component_first = !component_first;
    }
    component.Time([&] { q.Close(); });
    layer.Time([&] { typed.reset(); });
    if (theirs != kRows || ours != kRows) state.SkipWithError("row count differs");
    rows += ours;
  }
  Report(state, component, layer, rows, "rows");
  benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_ZyloFetchRatio)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ZyloLookupRatio(benchmark::State& state) {
  Fixture& f = Shared();
  Clock component, layer;
  double sum = 0;
  long lookups = 0;
  for (auto _ : state) {
    TAsaSQL q(nullptr);
    q.SetSession(&f.session);
    q.SetWantExceptions(true);
    q.PrepareOpen(kLookup);
    zylo::statement find = f.db->prepare(kLookup);
    const Variant first(0), second(1);
    TVariantArray key(1);
    Variant v;
    std::string name;
    for (int r = 0; r < kLookups; r += kBlock) {
      auto component_block = [&] {
        for (int k = r; k < r + kBlock; ++k) {
          key[0] = Variant(k % kKeys + 1);
          if (!q.OpenReadPrepared(key)) throw std::runtime_error("no row");
          if (q.IsFieldNull(first) || q.IsFieldNull(second)) throw std::runtime_error("NULL where a value was expected");
          q.GetFieldValue(first, v);
          name = v.AsString();
          q.GetFieldValue(second, v);
          const double price = v.AsDouble();
          if (q.Next()) throw std::runtime_error("more than one row");
          q.Close();
          sum += static_cast<double>(name.size()) + price;
        }
      };
      auto layer_block = [&] {
        for (int k = r; k < r + kBlock; ++k) {
          auto [n, price] = find.one<std::string, double>(k % kKeys + 1);
          sum += static_cast<double>(n.size()) + price;
        }
      };
      if ((r / kBlock) % 2 == 0) {
        component.Time(component_block);
        layer.Time(layer_block);
      } else {
        layer.Time(layer_block);
        component.Time(component_block);
      }
    }
    lookups += kLookups;
  }
  Report(state, component, layer, lookups, "lookups");
  benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_ZyloLookupRatio)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
