// Our side: the statement component TAsaSQL on a TAsaSession with its default settings (row
// counts on, the default cursor type, 25-row blocks), and the client library's block fetch alone.
#include <unistd.h>

#include <vector>

#include "asa/ZylAsa.h"
#include "bench/side/Side.h"
#include "dblib/esql.h"

using namespace zylside;

namespace {

std::string EngineName() { return "side" + std::to_string(getpid()); }

struct Session {
  TAsaSession s{nullptr};
  explicit Session(const std::string& file) {
    s.SetLibraryPath(ZYL_BENCH_LIB_DIR);
    s.SetLibraryFile("dblib10.dll");
    s.SetLoginEngineName(EngineName());
    s.SetLoginDatabase(file);
    s.SetLoginUser("dba");
    s.SetLoginPassword("sql");
    s.SetServerType(stServer);
    s.SetWantExceptions(true);
    s.Open();
  }
  ~Session() {
    try {
      s.Close();
    } catch (...) {
    }
  }
};

// Folds a value into the checksum so that no read is optimised away.
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

// Reads every field of the current row.
void ReadRow(TAsaSQL& q, int fields, Variant& v, double& sum) {
  static const Variant index[5] = {Variant(0), Variant(1), Variant(2), Variant(3), Variant(4)};
  for (int i = 0; i < fields; ++i) {
    q.GetFieldValue(index[i], v);
    sum += Fold(v);
  }
}

long Forward(TAsaSession& s, const char* sql, int fields, double& sum, int64_t* fetches = nullptr) {
  TAsaSQL q(nullptr);
  q.SetSession(&s);
  q.SetWantExceptions(true);
  Variant v;
  long rows = 0;
  for (bool more = q.OpenRead(sql, {ZylEmptyParam}); more; more = q.Next()) {
    ReadRow(q, fields, v, sum);
    ++rows;
  }
  if (fetches) *fetches = q.GetFetchCalls();
  q.Close();
  return rows;
}

long Backward(TAsaSession& s, const std::string& sql, double& sum, int64_t& fetches) {
  TAsaSQL q(nullptr);
  q.SetSession(&s);
  q.SetWantExceptions(true);
  Variant v;
  long rows = 0;
  q.Open(sql.c_str(), {ZylEmptyParam}, true);
  for (bool more = q.Last(); more; more = q.Prev()) {
    ReadRow(q, 5, v, sum);
    ++rows;
  }
  fetches = q.GetFetchCalls();
  q.Close();
  return rows;
}

long Lookups(TAsaSession& s, long count, double& sum) {
  TAsaSQL q(nullptr);
  q.SetSession(&s);
  q.SetWantExceptions(true);
  q.PrepareOpen(kLookupSelect);
  const Variant first(0), second(1);
  TVariantArray key(1);
  Variant v;
  long found = 0;
  for (long r = 0; r < count; ++r) {
    key[0] = Variant(LookupKey(static_cast<int>(r)));
    if (!q.OpenReadPrepared(key)) throw std::runtime_error("no row");
    q.GetFieldValue(first, v);
    sum += Fold(v);
    q.GetFieldValue(second, v);
    sum += Fold(v);
    q.Close();
    ++found;
  }
  return found;
}

long Inserts(TAsaSession& s, long count) {
  TAsaSQL q(nullptr);
  q.SetSession(&s);
  q.SetWantExceptions(true);
  s.StartTransaction();
  q.PrepareExecute(kInsert);
  InsertRow row;
  TVariantArray params(5);
  long done = 0;
  for (long r = 0; r < count; ++r) {
    row.Make(static_cast<int>(r));
    params[0] = Variant(static_cast<int32_t>(r));
    params[1] = Variant(static_cast<double>(r) * 0.25);
    params[2] = Variant(AnsiString(row.s, static_cast<size_t>(row.sn)));
    params[3] = Variant::FromDateTime(EncodeDate(row.year, row.month, row.day));
    params[4] = Variant(AnsiString(row.l.data(), static_cast<size_t>(row.ln)));
    q.ExecutePrepared(params);
    ++done;
  }
  s.Commit();
  q.UnprepareExecute();
  return done;
}

// The reference read through dbpp_fetch_array alone, 25-row blocks bound as the statement binds
// them (integer, double, string(31), date-time record, string(201)).
struct Connection {
  SQLCA ca;
  explicit Connection(const std::string& file) {
    db_init(&ca);
    std::string cs = "ENG=" + EngineName() + ";DBF=" + file + ";UID=dba;PWD=sql";
    if (db_string_connect(&ca, cs.data()) != 1) throw std::runtime_error("connect");
  }
  ~Connection() {
    db_string_disconnect(&ca, nullptr);
    std::string stop = "ENG=" + EngineName() + ";UNC=YES";
    db_stop_engine(&ca, stop.data());
    db_fini(&ca);
  }
};

long FetchArray(SQLCA& ca, double& sum) {
  constexpr int kBlock = 25, kCols = 5;
  char prog[] = "SIDE", cursor[] = "SIDE-1";
  long total = 0;
  short stmt = 0;
  std::string text = kFetchSelect;
  dbpp_prepare(&ca, nullptr, prog, &stmt, text.data(), nullptr, 0);
  if (ca.sqlcode < 0) throw std::runtime_error("prepare");
  const unsigned opts = CUR_READ_ONLY | CUR_CLOSE_ON_COMMIT;
  dbpp_declare(&ca, cursor, nullptr, prog, &stmt, opts);
  dbpp_open(&ca, cursor, nullptr, prog, &stmt, nullptr, 0, 0, opts);
  if (ca.sqlcode < 0) throw std::runtime_error("open");
  struct Row {
    int i;
    double d;
    char s[31];
    SQLDATETIME dt;
    char l[201];
  };
  std::vector<Row> rows(kBlock);
  std::vector<short> ind(kBlock * kCols);
  SQLDA* da = alloc_sqlda_noind(kBlock * kCols);
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
  for (;;) {
    dbpp_fetch_array(&ca, cursor, FETCH_RELATIVE, 1, da, 0, 0, kBlock);
    if (ca.sqlcode == SQLE_NOTFOUND) break;
    if (ca.sqlcode < 0) throw std::runtime_error("fetch");
    const int got = ca.sqlerrd[2];
    for (int r = 0; r < got; ++r) {
      const Row& row = rows[static_cast<size_t>(r)];
      sum += row.i + row.d + row.s[0] + row.dt.day + row.l[0];
    }
    total += got;
  }
  dbpp_close(&ca, cursor);
  dbpp_dropstmt(&ca, nullptr, prog, &stmt);
  free_sqlda_noind(da);
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  const Args a = ParseArgs(argc, argv);
  return RunWorker([&] {
    double sum = 0;
    long rows = 0;
    if (a.workload == "fetch-dblib") {
      Connection c(a.file);
      const long before = StatusKb("VmRSS");
      Timing t = Measure([&] { rows = FetchArray(c.ca, sum); });
      Report("", t, rows, before);
      return;
    }
    Session s(a.file);
    const long before = StatusKb("VmRSS");
    int64_t fetches = -1;
    Timing t;
    if (a.workload == "fetch") {
      t = Measure([&] { rows = Forward(s.s, kFetchSelect, 5, sum, &fetches); });
    } else if (a.workload == "scan") {
      t = Measure([&] { rows = Forward(s.s, kScanSelect, 2, sum, &fetches); });
    } else if (a.workload == "lookup") {
      t = Measure([&] { rows = Lookups(s.s, a.count, sum); });
    } else if (a.workload == "insert") {
      TAsaSQL q(nullptr);
      q.SetSession(&s.s);
      q.Execute("DELETE FROM ins", {ZylEmptyParam});
      t = Measure([&] { rows = Inserts(s.s, a.count); });
    } else if (a.workload == "backward") {
      // The first <count> rows of the fetch table, forward and then backward.
      const std::string sql = std::string(kFetchSelect) + " WHERE i < " + std::to_string(a.count);
      int64_t fwdFetches = 0;
      long fwdRows = 0;
      Timing f = Measure([&] { fwdRows = Forward(s.s, sql.c_str(), 5, sum, &fwdFetches); });
      Report("fwd_", f, fwdRows, before);
      std::printf("fwd_fetches=%lld\n", static_cast<long long>(fwdFetches));
      t = Measure([&] { rows = Backward(s.s, sql, sum, fetches); });
    } else {
      throw std::runtime_error("no such workload: " + a.workload);
    }
    if (sum == 0.5) std::printf("#\n");
    Report("", t, rows, before);
    if (fetches >= 0) std::printf("fetches=%lld\n", static_cast<long long>(fetches));
  });
}
