// A pool shared by threads: eight workers record their visits through four connections.
//
//   threads "dbf=visits.db;uid=dba;pwd=sql"
#include <cstdio>
#include <thread>
#include <vector>

#include "zylo/zylo.h"

int main(int argc, char** argv) {
  try {
    zylo::pool pool(argc > 1 ? argv[1] : "dbf=visits.db;uid=dba;pwd=sql", {.max_size = 4});
    pool.acquire()->execute("CREATE TABLE visit (worker INTEGER, n INTEGER)");

    std::vector<std::jthread> workers;
    for (int w = 0; w < 8; ++w)
      workers.emplace_back([&pool, w] {
        try {
          for (int n = 0; n < 25; ++n) {
            auto db = pool.acquire();  // waits while all four are busy
            db->execute("INSERT INTO visit VALUES (?, ?)", w, n);
          }  // the connection goes back here
        } catch (const zylo::error& e) {
          std::fprintf(stderr, "worker %d: %s\n", w, e.what());
        }
      });
    workers.clear();  // joins

    auto db = pool.acquire();
    std::printf("%lld visits by %lld workers over %zu connections\n",
                static_cast<long long>(db->one<std::int64_t>("SELECT COUNT(*) FROM visit")),
                static_cast<long long>(db->one<std::int64_t>("SELECT COUNT(DISTINCT worker) FROM visit")),
                pool.stats().opened);
  } catch (const zylo::error& e) {
    std::fprintf(stderr, "threads: %s\n", e.what());
    return 1;
  }
}
