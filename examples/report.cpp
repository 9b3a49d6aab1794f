// A report query: orders per customer since a date, read as typed rows.
//
//   report "dbf=shop.db;uid=dba;pwd=sql"
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

#include "zylo/zylo.h"

int main(int argc, char** argv) {
  using namespace std::chrono;
  try {
    zylo::connection db(argc > 1 ? argv[1] : "dbf=shop.db;uid=dba;pwd=sql");
    if (db.one<std::int64_t>("SELECT COUNT(*) FROM SYS.SYSTABLE WHERE table_name = 'orders'") == 0) {
      db.execute("CREATE TABLE customer (id INTEGER PRIMARY KEY, name VARCHAR(40), city VARCHAR(40))");
      db.execute("CREATE TABLE orders (id INTEGER PRIMARY KEY, customer INTEGER, placed DATE, amount DECIMAL(10,2))");
      db.execute("INSERT INTO customer VALUES (1, 'Anna', 'Basel'), (2, 'Bruno', NULL), (3, 'Carla', 'Bern')");
      auto order = db.prepare("INSERT INTO orders VALUES (?, ?, ?, ?)");
      order.execute(1, 1, year(2024) / 3 / 1, zylo::decimal("120.50"));
      order.execute(2, 1, year(2024) / 5 / 17, zylo::decimal("35.00"));
      order.execute(3, 2, year(2024) / 4 / 2, zylo::decimal("9.90"));
      order.execute(4, 3, year(2023) / 12 / 24, zylo::decimal("250.00"));
    }

    const year_month_day since = year(2024) / 1 / 1;
    std::printf("%-8s %-8s %6s %10s  %s\n", "customer", "city", "orders", "total", "last order");
    for (const auto& [name, city, count, total, last] :
         db.query<std::string, std::optional<std::string>, std::int64_t, zylo::decimal, year_month_day>(
             "SELECT c.name, c.city, COUNT(*), SUM(o.amount), MAX(o.placed) FROM customer c "
             "JOIN orders o ON o.customer = c.id WHERE o.placed >= :since GROUP BY c.name, c.city ORDER BY c.name",
             zylo::arg("since", since)))
      std::printf("%-8s %-8s %6lld %10s  %04d-%02u-%02u\n", name.c_str(), city.value_or("-").c_str(),
                  static_cast<long long>(count), total.str().c_str(), static_cast<int>(last.year()),
                  static_cast<unsigned>(last.month()), static_cast<unsigned>(last.day()));
  } catch (const zylo::error& e) {
    std::fprintf(stderr, "report: %s\n", e.what());
    return 1;
  }
}
