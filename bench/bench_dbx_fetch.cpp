// The dbExpress driver next to SQLite's own loop on the same data.
//
// BM_DbxFetchRatio: a driver cursor over 1 000 000 rows x 5 columns (integer, double,
// varchar(30), date, varchar(200)), reached only through the interfaces as a host reaches it:
// prepare, execute, then next to the end, reading every column with the getter of its type
// (getLong, getDouble, getString, getDate, getString); next to sqlite3_step over the same SELECT
// on the same file. Reports our time divided by SQLite's ("ratio") and the rows per second.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "bench/BenchTable.h"
#include "dbxdriver/DBXpress.h"

namespace {

using namespace zylbench;

struct Fixture {
  std::string dir, file;
  ISQLDriver* driver = nullptr;
  ISQLConnection* conn = nullptr;

  Fixture() {
    dir = MakeRunDir("zyl-bench-dbx");
    file = dir + "/dbx.db";
    CreateDatabase(file, "benchdbx", {"b"});
    FillRows(file);
    const std::string lib = std::string(ZYL_BENCH_LIB_DIR) + "/libdbexpzyl.so";
    void* handle = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) throw std::runtime_error(dlerror());
    auto get = reinterpret_cast<TGetSQLDriver>(dlsym(handle, kGetSQLDriverName));
    std::string vendor = std::string(ZYL_BENCH_LIB_DIR) + "/libdblib10.so";
    void* d = nullptr;
    if (!get || get(vendor.data(), nullptr, &d) != SQL_SUCCESS) throw std::runtime_error("getSQLDriverZYL");
    driver = static_cast<ISQLDriver*>(d);
    if (driver->getSQLConnection(&conn) != SQL_SUCCESS) throw std::runtime_error("getSQLConnection");
    std::string server = "servertype=server;eng=benchdbx;dbf=" + file;
    if (conn->connect(server.data(), const_cast<char*>("dba"), const_cast<char*>("sql")) != SQL_SUCCESS)
      throw std::runtime_error("connect");
  }
  ~Fixture() {
    conn->disconnect();
    conn->Release();
    driver->Release();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

Fixture& Shared() {
  static Fixture f;
  return f;
}

long FetchThroughDriver(Fixture& f, double& sum) {
  ISQLCommand* cmd = nullptr;
  if (f.conn->getSQLCommand(&cmd) != SQL_SUCCESS) throw std::runtime_error("getSQLCommand");
  ISQLCursor* cur = nullptr;
  if (cmd->prepare(const_cast<char*>(kSelect), 0) != SQL_SUCCESS || cmd->execute(&cur) != SQL_SUCCESS || !cur)
    throw std::runtime_error("execute");
  uint32_t sLen = 0, lLen = 0;
  cur->getColumnLength(3, &sLen);
  cur->getColumnLength(5, &lLen);
  std::vector<char> s(sLen + 1), l(lLen + 1);
  long rows = 0;
  int32_t blank = 0, i = 0, day = 0;
  double d = 0;
  SQLResult r;
  while ((r = cur->next()) == SQL_SUCCESS) {
    cur->getLong(1, &i, &blank);
    cur->getDouble(2, &d, &blank);
    cur->getString(3, s.data(), &blank);
    cur->getDate(4, &day, &blank);
    cur->getString(5, l.data(), &blank);
    sum += i + d + s[0] + day + l[0];
    ++rows;
  }
  if (r != DBXERR_EOF) throw std::runtime_error("next");
  cur->Release();
  cmd->Release();
  return rows;
}

void BM_DbxFetchRatio(benchmark::State& state) {
  Fixture& f = Shared();
  double sum = 0;
  ReportRatio(
      state, kRows, "ours_rows_per_s", [&] { return ReadThroughSqlite(f.file, sum); },
      [&] { return FetchThroughDriver(f, sum); });
  benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_DbxFetchRatio)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
