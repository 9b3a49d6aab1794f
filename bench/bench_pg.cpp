// The network engine next to libpq's own loops, on the same PostgreSQL server and data
// (ZYL_PG_SERVER=host:port, superuser dba/sql; `make bench` starts a private server when none is
// given). Each benchmark times libpq's side and ours in every iteration and reports our time
// divided by libpq's ("ratio").
//
//   BM_PgFetchRatio   1 000 000 rows x 5 columns (integer, double, varchar(30), date,
//                     varchar(200)) read with dbpp_fetch_array in 25-row blocks, as the binding
//                     reads; libpq: the faster of a cursor read FETCH FORWARD 4096 at a time and
//                     single-row mode, each reading every column (numbers converted, texts by
//                     pointer and length).
//   BM_PgLookupRatio  20 000 look-ups of one row by its key: a prepared SELECT ... WHERE i = ?
//                     run with dbpp_execute_into; libpq: PQexecPrepared of the same query.
#include <benchmark/benchmark.h>
#include <libpq-fe.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "dblib/esql.h"

namespace {

constexpr int kRows = 1000000;
constexpr int kBlock = 25;
constexpr int kCols = 5;
constexpr int kLookups = 20000;
char kProg[] = "BENCH";
char kCursor[] = "BENCH-1";
const char* kSelect = "SELECT i, d, s, dt, l FROM b";

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

struct Server {
  std::string host, port;
  std::string db = "zyl_bench_" + std::to_string(getpid());
  PGconn* pq = nullptr;  // libpq's own connection to the bench database
  SQLCA ca{};            // ours

  Server() {
    const char* s = std::getenv("ZYL_PG_SERVER");
    if (!s || !*s) throw std::runtime_error("ZYL_PG_SERVER is not set");
    std::string a = s;
    host = a.substr(0, a.rfind(':'));
    port = a.substr(a.rfind(':') + 1);
    PGconn* admin = Open("postgres");
    Exec(admin, "CREATE DATABASE " + db);
    PQfinish(admin);
    pq = Open(db);
    // Loading is not what is measured: the server makes the rows itself.
    Exec(pq, "CREATE TABLE b(i integer PRIMARY KEY, d double precision, s varchar(30), dt date, l varchar(200))");
    Exec(pq,
         "INSERT INTO b SELECT g, g * 0.25, left('name number ' || g || ' of the set', 30),"
         " make_date(1990 + g % 30, 1 + g % 12, 1 + g % 28), repeat(chr(97 + g % 26), 120 + g % 81)"
         " FROM generate_series(0, " + std::to_string(kRows - 1) + ") g");
    Exec(pq, "VACUUM ANALYZE b");
    db_init(&ca);
    std::string cs = "LINKS=tcpip(host=" + host + ";port=" + port + ");DBN=" + db + ";UID=dba;PWD=sql";
    if (db_string_connect(&ca, cs.data()) != 1) throw std::runtime_error("connect through the library");
    if (PQprepare(pq, "lookup", "SELECT i, d, s, dt, l FROM b WHERE i = $1", 0, nullptr) == nullptr)
      throw std::runtime_error("prepare");
  }
  ~Server() {
    db_string_disconnect(&ca, nullptr);
    db_fini(&ca);
    PQfinish(pq);
    PGconn* admin = Open("postgres");
    Exec(admin, "DROP DATABASE IF EXISTS " + db);
    PQfinish(admin);
  }
  PGconn* Open(const std::string& name) {
    std::string ci = "host=" + host + " port=" + port + " dbname=" + name + " user=dba password=sql";
    PGconn* c = PQconnectdb(ci.c_str());
    if (PQstatus(c) != CONNECTION_OK) throw std::runtime_error(PQerrorMessage(c));
    return c;
  }
  static void Exec(PGconn* c, const std::string& sql) {
    PGresult* r = PQexec(c, sql.c_str());
    ExecStatusType st = PQresultStatus(r);
    PQclear(r);
    if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) throw std::runtime_error(sql + ": " + PQerrorMessage(c));
  }
};

Server& Shared() {
  static Server s;
  return s;
}

// Every column of one row: numbers converted, texts by pointer and length.
inline void ReadRow(const PGresult* r, int row, double& sum) {
  sum += std::strtol(PQgetvalue(r, row, 0), nullptr, 10);
  sum += std::strtod(PQgetvalue(r, row, 1), nullptr);
  sum += PQgetvalue(r, row, 2)[0] + PQgetlength(r, row, 2);
  sum += PQgetvalue(r, row, 3)[9];
  sum += PQgetvalue(r, row, 4)[0] + PQgetlength(r, row, 4);
}

long LibpqCursor(Server& s, double& sum) {
  Server::Exec(s.pq, "BEGIN");
  Server::Exec(s.pq, std::string("DECLARE c NO SCROLL CURSOR FOR ") + kSelect);
  long total = 0;
  for (;;) {
    PGresult* r = PQexec(s.pq, "FETCH FORWARD 4096 FROM c");
    int n = PQntuples(r);
    for (int k = 0; k < n; ++k) ReadRow(r, k, sum);
    PQclear(r);
    total += n;
    if (n < 4096) break;
  }
  Server::Exec(s.pq, "COMMIT");
  return total;
}

long LibpqSingleRow(Server& s, double& sum) {
  PQsendQuery(s.pq, kSelect);
  PQsetSingleRowMode(s.pq);
  long total = 0;
  while (PGresult* r = PQgetResult(s.pq)) {
    if (PQresultStatus(r) == PGRES_SINGLE_TUPLE) {
      ReadRow(r, 0, sum);
      ++total;
    }
    PQclear(r);
  }
  return total;
}

long LibraryFetch(Server& s, double& sum) {
  SQLCA& ca = s.ca;
  short stmt = 0;
  std::string text = kSelect;
  dbpp_prepare(&ca, nullptr, kProg, &stmt, text.data(), nullptr, 0);
  if (ca.sqlcode < 0) throw std::runtime_error("prepare");
  const unsigned opts = CUR_READ_ONLY;
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
  dbpp_commit(&ca, 0);
  free_sqlda_noind(da);
  return total;
}

// Keys spread over the table, the same sequence for both sides.
int Key(int n) { return int((n * 7919L) % kRows); }

long LibpqLookups(Server& s, double& sum) {
  long found = 0;
  for (int n = 0; n < kLookups; ++n) {
    std::string k = std::to_string(Key(n));
    const char* v[] = {k.c_str()};
    PGresult* r = PQexecPrepared(s.pq, "lookup", 1, v, nullptr, nullptr, 0);
    if (PQntuples(r) == 1) {
      ReadRow(r, 0, sum);
      ++found;
    }
    PQclear(r);
  }
  return found;
}

long LibraryLookups(Server& s, double& sum) {
  SQLCA& ca = s.ca;
  short stmt = 0;
  std::string text = "SELECT i, d, s, dt, l FROM b WHERE i = ?";
  dbpp_prepare(&ca, nullptr, kProg, &stmt, text.data(), nullptr, 0);
  if (ca.sqlcode < 0) throw std::runtime_error("prepare");
  int key = 0;
  short keyInd = 0;
  SQLDA* in = alloc_sqlda_noind(1);
  in->sqld = 1;
  in->sqlvar[0] = {DT_INT, 4, &key, &keyInd, {}};
  int i = 0;
  double d = 0;
  char sv[31], l[201];
  SQLDATETIME dt{};
  short ind[5] = {};
  SQLDA* out = alloc_sqlda_noind(5);
  out->sqld = 5;
  out->sqlvar[0] = {DT_INT | 1, 4, &i, &ind[0], {}};
  out->sqlvar[1] = {DT_DOUBLE | 1, 8, &d, &ind[1], {}};
  out->sqlvar[2] = {DT_STRING | 1, 31, sv, &ind[2], {}};
  out->sqlvar[3] = {DT_TIMESTAMP_STRUCT | 1, 14, &dt, &ind[3], {}};
  out->sqlvar[4] = {DT_STRING | 1, 201, l, &ind[4], {}};
  long found = 0;
  for (int n = 0; n < kLookups; ++n) {
    key = Key(n);
    dbpp_execute_into(&ca, nullptr, kProg, &stmt, in, out);
    if (ca.sqlcode == 0) {
      sum += i + d + sv[0] + dt.day + l[0];
      ++found;
    }
  }
  dbpp_dropstmt(&ca, nullptr, kProg, &stmt);
  free_sqlda_noind(in);
  free_sqlda_noind(out);
  return found;
}

template <class Theirs, class Ours>
void Ratio(benchmark::State& state, long expected, Theirs theirs, Ours ours) {
  double oursTime = 0, theirsTime = 0;
  long count = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    long a = theirs();
    auto t1 = std::chrono::steady_clock::now();
    long b = ours();
    auto t2 = std::chrono::steady_clock::now();
    if (a != expected || b != expected) state.SkipWithError("count differs");
    theirsTime += Seconds(t0, t1);
    oursTime += Seconds(t1, t2);
    count += b;
  }
  state.counters["ratio"] = oursTime / theirsTime;
  state.counters["dblib_per_s"] = count / oursTime;
  state.counters["libpq_per_s"] = count / theirsTime;
}

void BM_PgFetchRatio(benchmark::State& state) {
  if (!std::getenv("ZYL_PG_SERVER")) {
    state.SkipWithError("ZYL_PG_SERVER is not set (make bench starts a private server)");
    return;
  }
  Server& s = Shared();
  double sum = 0;
  // libpq's faster way, chosen on one warm-up run of each.
  auto t0 = std::chrono::steady_clock::now();
  LibpqCursor(s, sum);
  auto t1 = std::chrono::steady_clock::now();
  LibpqSingleRow(s, sum);
  auto t2 = std::chrono::steady_clock::now();
  bool cursor = Seconds(t0, t1) <= Seconds(t1, t2);
  state.SetLabel(cursor ? "libpq: cursor, 4096-row fetches" : "libpq: single-row mode");
  Ratio(
      state, kRows, [&] { return cursor ? LibpqCursor(s, sum) : LibpqSingleRow(s, sum); },
      [&] { return LibraryFetch(s, sum); });
  benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_PgFetchRatio)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_PgLookupRatio(benchmark::State& state) {
  if (!std::getenv("ZYL_PG_SERVER")) {
    state.SkipWithError("ZYL_PG_SERVER is not set (make bench starts a private server)");
    return;
  }
  Server& s = Shared();
  double sum = 0;
  Ratio(state, kLookups, [&] { return LibpqLookups(s, sum); }, [&] { return LibraryLookups(s, sum); });
  benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_PgLookupRatio)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
