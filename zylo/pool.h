// zylo/pool.h: connections shared between threads.
//
//   zylo::pool db("dbf=/data/sales.db;uid=dba;pwd=sql", {.max_size = 8});
//   // in any thread:
//   auto c = db.acquire();                 // waits while all 8 are in use (30 s by default)
//   c->execute("UPDATE counter SET n = n + 1");
//   // the connection goes back when the lease is destroyed
//
// A pool opens connections on demand up to max_size and keeps them open. Each connection keeps
// its statement cache, so a text run once on it runs again without being prepared. Before a
// connection is handed out it is checked with a trivial query (unless check_on_acquire is false);
// one that fails is closed and replaced. A connection coming back inside a transaction is rolled
// back; one that no longer works, or that still has rows or statements in use, is not reused.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "zylo/connection.h"

namespace zylo {

namespace detail {
class pool_state;
}

struct pool_options {
  std::size_t max_size = 8;                                     // connections open at most
  std::chrono::milliseconds wait = std::chrono::seconds(30);    // acquire() waits this long
  bool check_on_acquire = true;                                 // ping before handing out
  std::function<void(connection&)> on_connect;                  // runs once per new connection
};

class pool {
 public:
  using options = pool_options;

  // One connection, lent to one thread until the lease ends.
  class lease {
   public:
    lease(lease&&) noexcept;
    lease& operator=(lease&&) noexcept;
    ~lease();
    connection& operator*() const { return *conn_; }
    connection* operator->() const { return conn_.get(); }
    // Gives the connection back now.
    void release() noexcept;

   private:
    friend class pool;
    lease(std::shared_ptr<detail::pool_state> p, std::unique_ptr<connection> c) noexcept;
    std::shared_ptr<detail::pool_state> pool_;
    std::unique_ptr<connection> conn_;
  };

  explicit pool(std::string connection_string, options opts = {});
  ~pool();
  pool(const pool&) = delete;
  pool& operator=(const pool&) = delete;

  // A connection, waiting up to options.wait (or `wait`) for one to come free; zylo::error
  // (HYT00) when none did. Errors of connecting pass through.
  lease acquire();
  lease acquire(std::chrono::milliseconds wait);
  // A connection when one is free or can be opened at once; otherwise none.
  std::optional<lease> try_acquire();

  struct statistics {
    std::size_t open = 0;          // connections open now (idle and lent)
    std::size_t idle = 0;          // of those, waiting in the pool
    std::size_t peak = 0;          // most connections open at once
    std::uint64_t opened = 0;      // connections made
    std::uint64_t discarded = 0;   // connections closed after a failed check or a bad return
    std::uint64_t waits = 0;       // acquisitions that had to wait
    std::uint64_t timeouts = 0;    // acquisitions that gave up
  };
  statistics stats() const;

 private:
  std::optional<lease> take(std::optional<std::chrono::steady_clock::time_point> deadline);
  std::shared_ptr<detail::pool_state> state_;
};

}  // namespace zylo
