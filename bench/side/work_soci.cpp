// SOCI 4 with its sqlite3 backend, used as its documentation shows: a statement prepared once with
// into() and use() bindings, execute(true) for the first row and fetch() for the next ones, a
// transaction object for the inserts; dates as std::tm, NULLs through indicators.
// Debian's SOCI headers are configured with its Boost integration, which this worker does not use
// and whose headers its package does not bring; the core headers work without it.
#include <soci/soci-config.h>
#undef SOCI_HAVE_BOOST
#undef SOCI_HAVE_BOOST_DATE_TIME
#include <soci/soci.h>
#include <soci/sqlite3/soci-sqlite3.h>

#include <ctime>

#include "bench/side/Side.h"

using namespace zylside;

int main(int argc, char** argv) {
  const Args a = ParseArgs(argc, argv);
  return RunWorker([&] {
    soci::session sql(*soci::factory_sqlite3(), "db=" + a.file);
    double sum = 0;
    long rows = 0;
    const long before = StatusKb("VmRSS");
    Timing t;
    if (a.workload == "fetch") {
      t = Measure([&] {
        int i = 0;
        double d = 0;
        std::string s, l;
        std::tm dt{};
        soci::indicator ii, di, si, dti, li;
        soci::statement st = (sql.prepare << kFetchSelect, soci::into(i, ii), soci::into(d, di), soci::into(s, si),
                              soci::into(dt, dti), soci::into(l, li));
        for (bool more = st.execute(true); more; more = st.fetch()) {
          sum += i + d + static_cast<double>(s.size()) + dt.tm_mday + static_cast<double>(l.size());
          ++rows;
        }
      });
    } else if (a.workload == "scan") {
      t = Measure([&] {
        int i = 0;
        std::string s;
        soci::indicator ii, si;
        soci::statement st = (sql.prepare << kScanSelect, soci::into(i, ii), soci::into(s, si));
        for (bool more = st.execute(true); more; more = st.fetch()) {
          sum += i + static_cast<double>(s.size());
          ++rows;
        }
      });
    } else if (a.workload == "lookup") {
      t = Measure([&] {
        std::string name;
        double price = 0;
        int key = 0;
        soci::statement st = (sql.prepare << "SELECT name, price FROM k WHERE id = :id", soci::into(name),
                              soci::into(price), soci::use(key));
        for (long r = 0; r < a.count; ++r) {
          key = LookupKey(static_cast<int>(r));
          if (!st.execute(true)) throw std::runtime_error("no row");
          sum += static_cast<double>(name.size()) + price;
          ++rows;
        }
      });
    } else if (a.workload == "insert") {
      sql << "DELETE FROM ins";
      t = Measure([&] {
        soci::transaction tr(sql);
        int i = 0;
        double d = 0;
        std::string s, l;
        std::tm dt{};
        soci::statement st = (sql.prepare << "INSERT INTO ins VALUES (:i, :d, :s, :dt, :l)", soci::use(i),
                              soci::use(d), soci::use(s), soci::use(dt), soci::use(l));
        InsertRow v;
        for (long r = 0; r < a.count; ++r) {
          v.Make(static_cast<int>(r));
          i = static_cast<int>(r);
          d = static_cast<double>(r) * 0.25;
          s.assign(v.s, static_cast<size_t>(v.sn));
          dt = std::tm{};
          dt.tm_year = v.year - 1900;
          dt.tm_mon = v.month - 1;
          dt.tm_mday = v.day;
          l.assign(v.l.data(), static_cast<size_t>(v.ln));
          st.execute(true);
          ++rows;
        }
        tr.commit();
      });
    } else {
      throw std::runtime_error("no such workload: " + a.workload);
    }
    if (sum == 0.5) std::printf("#\n");
    Report("", t, rows, before);
  });
}
